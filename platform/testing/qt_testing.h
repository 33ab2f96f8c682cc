// What the Qt test suites share: a main that makes the QApplication (offscreen unless the
// environment names a platform) before the tests run, screenshots of windows into the build
// tree, and a way to answer a modal box from a timer, so that no test waits for a user.
#pragma once

#include <QMessageBox>
#include <functional>
#include <string>

class QWidget;

namespace platform::testing {

// Writes `widget.grab()` to <build>/screenshots/<name>.png ($KESTROVA_BINARY_DIR, else the
// build tree the suite was built in) and returns the file's path; empty when it could not be written.
std::string SaveScreenshot(QWidget& widget, const std::string& name);

// Runs `answer` on the next application-modal message box as soon as it is up (polling from
// a timer). When no box closes within `timeout_ms`, the box up then (if any) is rejected and
// *timed_out is set, so a test fails instead of hanging.
void AnswerNextBox(std::function<void(QMessageBox&)> answer, bool* timed_out,
                   int timeout_ms = 5000);

}  // namespace platform::testing
