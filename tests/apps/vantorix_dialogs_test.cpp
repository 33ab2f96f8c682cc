// The dialogs the program block creates beside the main window: their captions and the buttons
// that end them with the result OK; a screenshot of each.
#include <gtest/gtest.h>

#include <QPushButton>
#include <functional>
#include <memory>

#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/testing/qt_testing.h"
#include "ui_Protocol.h"
#include "ui_Verbote.h"
#include "ui_Werbung.h"
#include "ui_einstellungen.h"
#include "ui_noad.h"

namespace vantorix {
namespace {

TEST(Dialogs, CaptionsAndTheButtonsThatEndThemWithOk) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<QDialog>()> make;
    const char* caption;
    const char* ok_button;  // nullptr: none of its own yet
  };
  const Case cases[] = {
      {"TWerbetexte", [] { return std::make_unique<TWerbetexte>(); }, "Advertisements", "btnClose"},
      {"TSMSProtocol", [] { return std::make_unique<TSMSProtocol>(); }, "SMS Protocol", "btnClose"},
      {"TfrmVerbote", [] { return std::make_unique<TfrmVerbote>(); },
       "Forbidden Words and telephone numbers", "btnClose"},
      {"TfrmEinstell", [] { return std::make_unique<TfrmEinstell>(); }, "General Settings",
       nullptr},
      {"TNoAdForm", [] { return std::make_unique<TNoAdForm>(); }, "  AD CHECK", "Button1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<QDialog> dialog = c.make();
    EXPECT_EQ(dialog->objectName(), c.name);
    EXPECT_EQ(dialog->windowTitle(), c.caption);
    dialog->show();
    EXPECT_FALSE(platform::testing::SaveScreenshot(*dialog, c.name).empty());
    if (!c.ok_button) continue;
    auto* button = dialog->findChild<QPushButton*>(c.ok_button);
    ASSERT_NE(button, nullptr);
    dialog->setResult(QDialog::Rejected);
    button->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
  }
}

TEST(Dialogs, TheGeneralSettingsShowTheirControls) {
  TfrmEinstell dialog;
  EXPECT_EQ(dialog.ui->spnWerbeSMS->minimum(), 0);
  EXPECT_EQ(dialog.ui->spnWerbeSMS->maximum(), 999);
  EXPECT_EQ(dialog.ui->chkPruefTel->text(), "Check for forbidden telephone numbers");
  EXPECT_EQ(dialog.ui->chkPruefWorte->text(), "Check for forbidden words");
  EXPECT_EQ(dialog.ui->btnOK->text(), "OK");
  EXPECT_EQ(dialog.ui->btnAbbruch->text(), "Abort");
}

}  // namespace
}  // namespace vantorix
