// The program block of Vazor: the application, the main window, the vendor and type dialog,
// the message loop.
//
//   vazor [--demo SECONDS] [--screenshot FILE]
//
// --demo runs the program unattended, for a machine without a display: it starts the
// communication with the settings the window shows, reads every SMS slot, decodes the first
// line, prints what it did to standard output and every message box there instead of showing
// it, and closes the window after SECONDS, also while the phone is still being read (the
// reading then ends at once). --screenshot writes a picture of the window just before.
//
// A start-up that fails (a phone table that does not open or is not the one the window
// reads) ends the program with the error's message and exit status 1; once the window runs, an
// error is shown and the window goes on (platform/qt/application.h).
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>
#include <string>

#include "apps/common/demo_run.h"
#include "apps/handy/Handytest.h"
#include "apps/handy/NewMobile.h"
#include "platform/qt/application.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "tables/engine/tzstart.h"
#include "ui_Handytest.h"

int main(int argc, char** argv) {
  int demo_seconds = -1;
  std::string screenshot;
  if (!apps::ReadDemoArguments(argc, argv, "vazor", demo_seconds, screenshot)) return 2;

  platform::TApplication app(argc, argv);
  platform::SetApplicationTitle("Vazor");
  platform::QtUi qt_ui;
  apps::DemoUi demo_ui;
  platform::ScopedUi use_ui(demo_seconds >= 0 ? static_cast<platform::Ui&>(demo_ui) : qt_ui);
  tz::StartTarazed();
  int status = 0;
  try {
    handy::THandyForm HandyForm;
    // The dialog lives as long as the application, owned by the main window.
    HandyForm.MobileNew = new handy::TMobileNew(&HandyForm);
    HandyForm.show();
    if (demo_seconds >= 0) {
      QTimer::singleShot(0, &HandyForm, [&HandyForm] {
        apps::Report("window", HandyForm.windowTitle());
        // The run's time may end inside each step (a phone that does not answer, a stack of
        // hundreds of slots): the window then closes as soon as the step has unwound, and
        // the run stops there.
        HandyForm.ui->btnKommOpen->click();
        if (!HandyForm.isVisible()) return;
        apps::Report("vendor", HandyForm.ui->MemoHersteller->toPlainText());
        apps::Report("type", HandyForm.ui->MemoModell->toPlainText());
        HandyForm.ui->btnSmsHolen->click();
        for (int i = 0; i < HandyForm.ui->lstSMS->count(); ++i)
          apps::Report("slot", HandyForm.ui->lstSMS->item(i)->text());
        if (!HandyForm.isVisible()) {
          apps::Report("stopped", QString("the time ran out after %1 slots of %2")
                                      .arg(HandyForm.ui->lstSMS->count())
                                      .arg(HandyForm.ui->spnSMSStack->value()));
          return;
        }
        if (HandyForm.ui->lstSMS->count() > 0) {
          HandyForm.ui->lstSMS->setCurrentRow(0);
          HandyForm.ui->btnSMSDecode->click();
          apps::Report("decoded", HandyForm.ui->MemoSMS->toPlainText());
        }
      });
      QTimer::singleShot(demo_seconds * 1000, &HandyForm, [&HandyForm, &screenshot] {
        apps::SaveDemoScreenshot(HandyForm, screenshot);
        HandyForm.close();
      });
    }
    status = app.Exec();
  } catch (...) {
    status = platform::TApplication::ReportStartupFailure();
  }
  tz::EndTarazed();
  return status;
}
