// The program block of Vazor: the application, the main window, the vendor and type dialog,
// the message loop.
//
//   vazor [--demo SECONDS] [--screenshot FILE]
//
// --demo runs the program unattended, for a machine without a display: it starts the
// communication with the settings the window shows, reads every SMS slot, decodes the first
// line, prints what it did to standard output and every message box there instead of showing
// it, and closes the window after SECONDS. --screenshot writes a picture of the window just
// before.
#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>
#include <charconv>
#include <cstdio>
#include <string>

#include "apps/handy/Handytest.h"
#include "apps/handy/NewMobile.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "tables/engine/tzstart.h"
#include "ui_Handytest.h"

namespace {

// The Ui of an unattended run: boxes are printed and answered with their first button.
class DemoUi : public platform::Ui {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    std::printf("message: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
    std::fflush(stdout);
    return platform::FirstButtonAnswer(flags);
  }
  void ProcessEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  [[noreturn]] void Halt(int code) override { platform::ExitForHalt(code); }
};

void Report(const char* what, const QString& text) {
  QString line = text.trimmed();
  line.replace('\r', ' ').replace('\n', ' ');
  std::printf("%s: %s\n", what, line.toUtf8().constData());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int demo_seconds = -1;
  std::string screenshot;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--demo" && i + 1 < argc) {
      std::string value = argv[++i];
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), demo_seconds);
      if (ec != std::errc() || end != value.data() + value.size() || demo_seconds < 0) {
        std::fprintf(stderr, "vazor: --demo takes a number of seconds\n");
        return 2;
      }
    } else if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      std::fprintf(stderr, "usage: vazor [--demo SECONDS] [--screenshot FILE]\n");
      return 2;
    }
  }

  QApplication app(argc, argv);
  platform::SetApplicationTitle("Vazor");
  platform::QtUi qt_ui;
  DemoUi demo_ui;
  platform::ScopedUi use_ui(demo_seconds >= 0 ? static_cast<platform::Ui&>(demo_ui) : qt_ui);
  tz::StartTarazed();
  int status = 0;
  {
    handy::THandyForm HandyForm;
    // The dialog lives as long as the application, owned by the main window.
    HandyForm.MobileNew = new handy::TMobileNew(&HandyForm);
    HandyForm.show();
    if (demo_seconds >= 0) {
      QTimer::singleShot(0, &HandyForm, [&HandyForm] {
        Report("window", HandyForm.windowTitle());
        HandyForm.ui->btnKommOpen->click();
        Report("vendor", HandyForm.ui->MemoHersteller->toPlainText());
        Report("type", HandyForm.ui->MemoModell->toPlainText());
        HandyForm.ui->btnSmsHolen->click();
        for (int i = 0; i < HandyForm.ui->lstSMS->count(); ++i)
          Report("slot", HandyForm.ui->lstSMS->item(i)->text());
        if (HandyForm.ui->lstSMS->count() > 0) {
          HandyForm.ui->lstSMS->setCurrentRow(0);
          HandyForm.ui->btnSMSDecode->click();
          Report("decoded", HandyForm.ui->MemoSMS->toPlainText());
        }
      });
      QTimer::singleShot(demo_seconds * 1000, &HandyForm, [&HandyForm, &screenshot] {
        if (!screenshot.empty()) {
          if (HandyForm.grab().save(QString::fromStdString(screenshot)))
            Report("screenshot", QString::fromStdString(screenshot));
          else
            Report("screenshot", "could not be written");
        }
        HandyForm.close();
      });
    }
    status = app.exec();
  }
  tz::EndTarazed();
  return status;
}
