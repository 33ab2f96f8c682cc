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
//
// A start-up that fails ends the program with the error's message and exit status 1; once the
// window runs, an error is shown and the window goes on (platform/qt/application.h).
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

#include "apps/common/demo_run.h"
#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/qt/application.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "tables/components/tzmsg.h"
#include "tables/components/tzprogress.h"
#include "tables/engine/tzstart.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace {

// SIGINT and SIGTERM close the main window as the user would (the Stop handler, the end of
// the laser session, the "Stop" row), through a byte on a socket the event loop watches: a
// signal handler may do no more than write it.
int signal_socket[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signal_socket[0], &byte, 1);
}

// A row of protocol.dbf as the unattended run prints it.
std::string ProtocolRow(tz::TTzDbf& table) {
  return tz::RTrim(table.FieldGet("telnr")) + " | " + tz::RTrim(table.FieldGet("zeit")) + " | " +
         tz::RTrim(table.FieldGet("text")) + " | " + tz::RTrim(table.FieldGet("provider"));
}

}  // namespace

int main(int argc, char** argv) {
  int demo_seconds = -1;
  std::string screenshot;
  if (!apps::ReadDemoArguments(argc, argv, "vantorix", demo_seconds, screenshot)) return 2;

  platform::TApplication app(argc, argv);
  platform::SetApplicationTitle("Vantorix");
  platform::QtUi qt_ui;
  apps::DemoUi demo_ui;
  platform::ScopedUi use_ui(demo_seconds >= 0 ? static_cast<platform::Ui&>(demo_ui) : qt_ui);
  tz::StartTarazed();
  // An index built at start-up (a missing .mdx) shows its progress bar.
  tz::SetProgressFactory(tz::TTzProgress100Factory());
  int status = 0;
  try {
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
      // Only this run's rows of protocol.dbf are printed: the ones after those it held before.
      // Counting them reads no field, so that a table without the fields printed does not
      // keep the program from starting.
      size_t rows_before = 0;
      if (tz::TTzDbf& protocol = MainForm.DBProtocol; protocol.Active())
        for (protocol.GoTop(); !protocol.AtEof(); protocol.Skip(1)) ++rows_before;
      QTimer::singleShot(0, &MainForm, [&MainForm] {
        apps::Report("window", MainForm.windowTitle());
        // Start connects the phone and runs the loop until the demo's time is up.
        MainForm.ui->BitBtn1->click();
      });
      QTimer::singleShot(demo_seconds * 1000, &MainForm, [&MainForm, &screenshot, rows_before] {
        // The close is queued first, so that the run ends also when a report below throws:
        // its message is shown and the close comes next.
        QTimer::singleShot(0, &MainForm, [&MainForm] { MainForm.close(); });
        apps::Report("connection", MainForm.ui->lblMobilTel->text());
        apps::Report("status", MainForm.ui->StatusBar1->currentMessage());
        apps::Report("shown", platform::ToQString(MainForm.Laser.DisplayText));
        apps::SaveDemoScreenshot(MainForm, screenshot);
        tz::TTzDbf& protocol = MainForm.DBProtocol;
        if (!protocol.Active()) return;
        size_t row = 0;
        for (protocol.GoTop(); !protocol.AtEof(); protocol.Skip(1))
          if (row++ >= rows_before)
            apps::Report("protocol", platform::ToQString(ProtocolRow(protocol)));
      });
    }
    status = app.Exec();
  } catch (...) {
    status = platform::TApplication::ReportStartupFailure();
  }
  tz::SetProgressFactory(nullptr);
  tz::EndTarazed();
  return status;
}
