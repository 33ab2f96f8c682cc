// The one place that shows messages to the user, lets pending window events run, and halts
// the program. The system is single-threaded with waits that pump events, so everything
// interactive goes through the installed Ui:
//   - the console default (this file) writes messages to stderr and never blocks;
//   - the Qt implementation (platform/qt) shows real modal boxes and runs processEvents;
//   - tests install a RecordingUi (platform/testing) and never open a modal box.
#pragma once

#include <string>

namespace platform {

// Message box flags and answers, with the values of the Win32 message box so that code and
// stored settings that speak in those numbers keep their meaning.
enum MessageBoxFlags : unsigned {
  kMbOk = 0x00,
  kMbOkCancel = 0x01,
  kMbAbortRetryIgnore = 0x02,
  kMbYesNoCancel = 0x03,
  kMbYesNo = 0x04,
  kMbRetryCancel = 0x05,
  kMbButtonMask = 0x0F,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
  kMbIconMask = 0xF0,
};

enum MessageBoxAnswer : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
};

class Ui {
 public:
  virtual ~Ui() = default;
  // Shows a modal message and returns the answer (a MessageBoxAnswer). May run a nested
  // event loop while the box is up.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // Lets pending window events run (button clicks, timers, repaints); returns when none are
  // left. Never blocks waiting for new events.
  virtual void ProcessEvents() = 0;
  // Ends the program with `code` (see HaltExitStatus); does not return. Implementations may
  // throw instead of exiting (the recording Ui does), so callers must not catch everything.
  [[noreturn]] virtual void Halt(int code) = 0;
  // True once the application has been asked to quit; long waits give up when it is set.
  virtual bool Terminating() { return false; }
};

// Texts are Windows-1252 like all text inside the system; implementations convert them.

// The installed Ui, or the console default when none is installed.
Ui& CurrentUi();
// Installs `ui` for the whole process (nullptr restores the console default). The caller
// keeps ownership and must uninstall it before destroying it.
void InstallUi(Ui* ui);

// Shorthands on CurrentUi().
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
// A plain message with an OK button and the application title as caption.
void ShowMessage(const std::string& text);
void ProcessEvents();
[[noreturn]] void Halt(int code);
bool Terminating();

// The caption ShowMessage uses (the application's title); empty by default.
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

// The exit status a halt with `code` ends the process with: 1..255 as they are, anything
// else (0, negative, above 255) as 255, so a halt never looks like success.
int HaltExitStatus(int code);

// Writes the halt to stderr (the full code when it does not fit an exit status) and exits
// the process with HaltExitStatus(code). What the console Ui's Halt does.
[[noreturn]] void ExitForHalt(int code);
// The same line and status, every stream flushed, but the process ends at once (_exit): no
// exit handlers and no destructors of static objects run. For a halt from inside a running
// GUI, where the application and its windows are still alive on the stack, in the middle of
// an event: the GUI library's globals must not be torn down under them, and what they hold
// goes back to the system with the process. The tables are closed before a halt.
[[noreturn]] void ExitNowForHalt(int code);

// The console default: MessageBox prints "caption: text" to stderr and answers as a user
// pressing Enter on the first button would (OK, Yes, Abort, Retry); ProcessEvents does
// nothing; Halt is ExitForHalt.
class ConsoleUi : public Ui {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ProcessEvents() override {}
  [[noreturn]] void Halt(int code) override;
};

// The answer of the first button of a button set (kIdOk for kMbOk and kMbOkCancel, ...).
int FirstButtonAnswer(unsigned flags);

// Installs a Ui for the lifetime of the object and restores the previous one after.
class ScopedUi {
 public:
  explicit ScopedUi(Ui& ui);
  ~ScopedUi();
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* previous_;
};

}  // namespace platform
