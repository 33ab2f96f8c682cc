// The desktop programs' application object: a QApplication with the application's exception
// handler, the one place that decides what becomes of an exception a handler threw, as the
// class library the programs were designed on had. Before it, one that reached the top of the
// event loop ended the process (std::terminate: an abort and a core dump).
//
// What HandleException does with an exception depends on where the program stands:
//   - start-up, before Exec: the windows are being built and the tables opened. A program that
//     could not set itself up does not go on half made: the first exception is kept, Exec
//     hands it back to the program block, and ReportStartupFailure ends the program with its
//     message and a non-zero exit status.
//   - the message loop, and after it: the message is shown (dataset::ShowException: a box
//     through the installed Ui, nothing for the silent EAbort) and the program goes on with
//     the next event.
// The application installs HandleException as the dataset framework's application exception
// handler, so the data grid, the navigator and the datasets end up there too.
//
// Where exceptions are caught. Qt's widget and GUI code is built without exceptions: one that
// passes through it is not stopped, but the clean-ups of its frames are skipped (the guard a
// button holds while it emits clicked(), the copy of a mouse event), which leaks and can leave
// a widget half way. So the forms connect their handlers through Handler(), which catches on
// the spot, before any of Qt's code is unwound; notify(), which every event passes through in
// the main loop and in every nested one (processEvents inside a long wait, a modal exec()),
// catches whatever comes from elsewhere (an overridden event handler, a timer's function).
//
// One application per process, on the GUI thread. The recording Ui's halt of the tests is an
// exception too, and would be handled like any other: the suites that need it to reach the
// test run on a plain QApplication, where Handler() shows what it catches (ShowException).
#pragma once

#include <QApplication>
#include <concepts>
#include <exception>
#include <utility>

#include "platform/dataset/dataset.h"

class QEvent;
class QObject;

namespace platform {

class TApplication : public QApplication {
 public:
  // Installs HandleException as the application's exception handler until destroyed.
  TApplication(int& argc, char** argv);
  ~TApplication() override;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Delivers the event as QApplication does; what a handler throws goes to HandleException
  // and the event counts as not handled (false). Never throws.
  bool notify(QObject* receiver, QEvent* event) override;

  // Runs the message loop (QApplication::exec) and returns its exit code. When a handler
  // threw during start-up, rethrows that exception instead and runs no loop. From the first
  // call on, exceptions are shown rather than kept.
  int Exec();

  // The application's exception handler: call it from a catch block. During start-up keeps
  // the first exception for Exec; from Exec on shows it (dataset::ShowException). Without a
  // TApplication it shows it. Never throws.
  static void HandleException();

  // Ends a start-up that failed: call it from a catch block. Writes the message of the
  // exception being handled to stderr (under the application title, converted from
  // Windows-1252) and shows it through the installed Ui (nothing for EAbort, whose message
  // the user has seen already), then returns the exit status for main to return: 1.
  static int ReportStartupFailure();

 private:
  enum class Stage { kStartingUp, kRunning };
  Stage stage_ = Stage::kStartingUp;
  std::exception_ptr startup_failure_;
  dataset::TExceptionHandler previous_handler_ = nullptr;
};

// A form's event handler for connect(): runs `handler` with the signal's arguments (as many
// as it takes) and hands what it throws to the application's exception handler
// (dataset::ApplicationHandleException) on the spot, so that it never passes through Qt.
template <typename F>
auto Handler(F handler) {
  return [handler = std::move(handler)]<typename... Args>(Args&&... args)
    requires std::invocable<const F&, Args...>
  {
    try {
      handler(std::forward<Args>(args)...);
    } catch (...) {
      dataset::ApplicationHandleException();
    }
  };
}

}  // namespace platform
