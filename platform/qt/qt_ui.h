// The Ui of the desktop programs: real modal message boxes, Qt's event processing for the
// waits that pump, and a halt that takes the windows down before the process ends.
//
// A QApplication must exist for as long as a QtUi is installed; the program's main creates
// the application, then the QtUi, and installs it (ScopedUi). Everything runs on the GUI
// thread.
#pragma once

#include <QMessageBox>
#include <memory>
#include <string>

#include "platform/ui.h"

class QWidget;

namespace platform {

class QtUi : public Ui {
 public:
  QtUi();
  ~QtUi() override;
  QtUi(const QtUi&) = delete;
  QtUi& operator=(const QtUi&) = delete;

  // Shows the box BuildMessageBox makes, owned by MessageBoxOwner(), with exec() (a nested
  // event loop) and returns the answer of the button pressed (MessageBoxAnswerOf). When a
  // handler running inside the box destroys its owner, and with it the box, the answer is
  // the one Esc gives.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // QCoreApplication::processEvents with all events, user input included, so that Stop and
  // Cancel buttons run nested inside the waits. Nothing without an application.
  void ProcessEvents() override;
  // Hides every top-level window (no close handlers run, nothing is written any more), then
  // ExitNowForHalt(code): the application is still running further up the stack.
  [[noreturn]] void Halt(int code) override;
  // True once the application has accepted a request to quit (quit(), the last window
  // closed; not when a window vetoed the close), once it has announced aboutToQuit, and
  // while it is being destroyed.
  bool Terminating() override;

 private:
  class QuitWatcher;
  std::unique_ptr<QuitWatcher> watcher_;
};

// The message box for `flags`, not yet shown: `caption` as the window title, `text` as plain
// text (CR LF line ends as line breaks), both converted from Windows-1252; the icon of the
// icon bits (stop, question, exclamation, information, or none); the buttons of the button
// bits (kMbOk for any value it does not name), the first one the default. Esc and the close
// button answer Cancel where the set has it and OK for kMbOk; Yes/No answers No and
// Abort/Retry/Ignore Abort, Qt's choice of the rejecting button. The caller owns the box.
std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, const std::string& caption,
                                             unsigned flags, QWidget* owner = nullptr);

// The MessageBoxAnswer of what exec() returned for a box of `flags`: the pressed button's
// answer; anything else (the box rejected without a button, or destroyed) counts as Esc:
// Cancel where the set has it, No for Yes/No, Abort for Abort/Retry/Ignore, else OK.
int MessageBoxAnswerOf(int exec_result, unsigned flags);

// The window that owns the boxes: the window holding the mouse capture, else the active
// window, else none.
QWidget* MessageBoxOwner();

}  // namespace platform
