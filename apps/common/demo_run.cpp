#include "apps/common/demo_run.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <charconv>
#include <cstdio>

namespace apps {

int DemoUi::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  std::printf("message: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
  std::fflush(stdout);
  return platform::FirstButtonAnswer(flags);
}

void DemoUi::ProcessEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void DemoUi::Halt(int code) { platform::ExitNowForHalt(code); }

void Report(const char* what, const QString& text) {
  QString line = text.trimmed();
  line.replace('\r', ' ').replace('\n', ' ');
  std::printf("%s: %s\n", what, line.toUtf8().constData());
  std::fflush(stdout);
}

bool ReadDemoArguments(int argc, char** argv, const char* program, int& seconds,
                       std::string& screenshot) {
  seconds = -1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--demo" && i + 1 < argc) {
      std::string value = argv[++i];
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc() || end != value.data() + value.size() || seconds < 0) {
        std::fprintf(stderr, "%s: --demo takes a number of seconds\n", program);
        return false;
      }
    } else if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--demo SECONDS] [--screenshot FILE]\n", program);
      return false;
    }
  }
  return true;
}

void SaveDemoScreenshot(QWidget& window, const std::string& file) {
  if (file.empty()) return;
  if (window.grab().save(QString::fromStdString(file)))
    Report("screenshot", QString::fromStdString(file));
  else
    Report("screenshot", "could not be written");
}

}  // namespace apps
