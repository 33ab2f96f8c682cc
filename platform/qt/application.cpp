#include "platform/qt/application.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/text.h"
#include "platform/ui.h"

namespace platform {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      previous_handler_(dataset::SetApplicationExceptionHandler(&TApplication::HandleException)) {}

TApplication::~TApplication() { dataset::SetApplicationExceptionHandler(previous_handler_); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException();
    return false;
  }
}

int TApplication::Exec() {
  stage_ = Stage::kRunning;
  if (std::exception_ptr failure = std::exchange(startup_failure_, nullptr))
    std::rethrow_exception(failure);
  return QApplication::exec();
}

void TApplication::HandleException() {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  if (app && app->stage_ == Stage::kStartingUp) {
    if (!app->startup_failure_) app->startup_failure_ = std::current_exception();
    return;
  }
  try {
    dataset::ShowException();
  } catch (...) {
    // The box could not be shown either (no memory left): the event is dropped, the program
    // still goes on.
  }
}

int TApplication::ReportStartupFailure() {
  std::string text = "Unknown exception";
  try {
    throw;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  const std::string& title = ApplicationTitle();
  std::string line = AnsiToUtf8(title.empty() ? text : title + ": " + text);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  try {
    dataset::ShowException();
  } catch (...) {
    // The message is on stderr; the program ends all the same.
  }
  return 1;
}

}  // namespace platform
