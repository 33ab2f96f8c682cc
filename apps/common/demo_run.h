// What the two programs' unattended runs (--demo, for a machine without a display) share: the
// Ui that prints message boxes instead of showing them, the report lines on standard output,
// the command line, and the screenshot of the window before the run closes it.
#ifndef KESTROVA_APPS_COMMON_DEMO_RUN_H
#define KESTROVA_APPS_COMMON_DEMO_RUN_H

#include <QString>
#include <QWidget>
#include <string>

#include "platform/ui.h"

namespace apps {

// The Ui of an unattended run: boxes are printed and answered with their first button; events
// are pumped as in the windowed program; a halt ends the process at once (ExitNowForHalt).
class DemoUi : public platform::Ui {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ProcessEvents() override;
  [[noreturn]] void Halt(int code) override;
};

// Prints "what: text" on one line (line ends become blanks) and flushes it.
void Report(const char* what, const QString& text);

// Reads "[--demo SECONDS] [--screenshot FILE]". `seconds` stays -1 without --demo. False, with
// the usage or the error printed to standard error under the program's name, for anything else.
bool ReadDemoArguments(int argc, char** argv, const char* program, int& seconds,
                       std::string& screenshot);

// Writes a picture of the window to `file` (nothing when it is empty) and reports where.
void SaveDemoScreenshot(QWidget& window, const std::string& file);

}  // namespace apps

#endif
