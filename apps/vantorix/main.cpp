// The program block of Vantorix: the application, the main window, the message loop.
//
//   vantorix [--demo SECONDS] [--screenshot FILE]
//
// --demo runs the program unattended, for a machine without a display: it presses Start (which
// connects the phone and runs the receive loop: SMS read, logged, deleted and shown on the laser
// and in the preview), and after SECONDS closes the window as the user would, printing what it
// did (the connection, the status, the text on show, the protocol rows this run wrote) to
// standard output and every message box there instead of showing it. --screenshot writes a picture
// of the main window just before the demo closes it.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "tables/components/tzmsg.h"
#include "tables/components/tzprogress.h"
#include "tables/engine/tzstart.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace {

// The Ui of an unattended run: boxes are printed and answered with their first button; events
// are pumped as in the windowed program.
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

// SIGINT and SIGTERM close the main window as the user would (the Stop handler, the end of
// the laser session, the "Stop" row), through a byte on a socket the event loop watches: a
// signal handler may do no more than write it.
int signal_socket[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signal_socket[0], &byte, 1);
}

void Report(const char* what, const QString& text) {
  std::printf("%s: %s\n", what, text.trimmed().toUtf8().constData());
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
        std::fprintf(stderr, "vantorix: --demo takes a number of seconds\n");
        return 2;
      }
    } else if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      std::fprintf(stderr, "usage: vantorix [--demo SECONDS] [--screenshot FILE]\n");
      return 2;
    }
  }

  QApplication app(argc, argv);
  platform::SetApplicationTitle("Vantorix");
  platform::QtUi qt_ui;
  DemoUi demo_ui;
  platform::ScopedUi use_ui(demo_seconds >= 0 ? static_cast<platform::Ui&>(demo_ui) : qt_ui);
  tz::StartTarazed();
  // An index built at start-up (a missing .mdx) shows its progress bar.
  tz::SetProgressFactory(tz::TTzProgress100Factory());
  int status = 0;
  {
    vantorix::TMainForm MainForm;
    // The dialogs live as long as the application, owned by the main window.
    auto* Werbetexte = new vantorix::TWerbetexte(&MainForm);
    auto* SMSProtocol = new vantorix::TSMSProtocol(&MainForm);
    auto* frmVerbote = new vantorix::TfrmVerbote(&MainForm);
    auto* frmEinstell = new vantorix::TfrmEinstell(&MainForm);
    auto* NoAdForm = new vantorix::TNoAdForm(&MainForm);
    (void)Werbetexte, (void)SMSProtocol, (void)frmVerbote, (void)frmEinstell, (void)NoAdForm;
    std::unique_ptr<QSocketNotifier> stop_notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_socket) == 0) {
      stop_notifier = std::make_unique<QSocketNotifier>(signal_socket[1], QSocketNotifier::Read);
      QObject::connect(stop_notifier.get(), &QSocketNotifier::activated, &MainForm, [&MainForm] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(signal_socket[1], &byte, 1);
        MainForm.close();
      });
      struct sigaction action {};
      action.sa_handler = OnStopSignal;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESTART;
      sigaction(SIGINT, &action, nullptr);
      sigaction(SIGTERM, &action, nullptr);
    }
    MainForm.show();
    if (demo_seconds >= 0) {
      // The rows protocol.dbf held before, so that only this run's rows are printed.
      auto protocol_rows = [&MainForm] {
        std::vector<std::string> rows;
        tz::TTzDbf& table = MainForm.DBProtocol;
        if (!table.Active()) return rows;
        for (table.GoTop(); !table.AtEof(); table.Skip(1))
          rows.push_back(tz::RTrim(table.FieldGet("telnr")) + " | " +
                         tz::RTrim(table.FieldGet("zeit")) + " | " +
                         tz::RTrim(table.FieldGet("text")) + " | " +
                         tz::RTrim(table.FieldGet("provider")));
        return rows;
      };
      size_t rows_before = protocol_rows().size();
      QTimer::singleShot(0, &MainForm, [&MainForm] {
        Report("window", MainForm.windowTitle());
        // Start connects the phone and runs the loop until the demo's time is up.
        MainForm.ui->BitBtn1->click();
      });
      QTimer::singleShot(demo_seconds * 1000, &MainForm, [&] {
        Report("connection", MainForm.ui->lblMobilTel->text());
        Report("status", MainForm.ui->StatusBar1->currentMessage());
        Report("shown", platform::ToQString(MainForm.Laser.DisplayText));
        std::vector<std::string> rows = protocol_rows();
        for (size_t i = rows_before; i < rows.size(); ++i)
          Report("protocol", platform::ToQString(rows[i]));
        if (!screenshot.empty()) {
          if (MainForm.grab().save(QString::fromStdString(screenshot)))
            Report("screenshot", QString::fromStdString(screenshot));
          else
            Report("screenshot", "could not be written");
        }
        MainForm.close();
      });
    }
    status = app.exec();
  }
  tz::SetProgressFactory(nullptr);
  tz::EndTarazed();
  return status;
}
