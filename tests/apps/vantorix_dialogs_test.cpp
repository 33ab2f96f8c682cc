// The dialogs the program block creates beside the main window, on a real main window over
// temporary folders: their captions and the buttons that end them, the general settings read
// back from the registry file and telstamm.dbf (python3-dbfread), a record lock held by a
// second process, rows typed into the list dialogs' grids and read back from the tables, and
// a screenshot of each dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/qt/qt_text.h"
#include "platform/testing/qt_testing.h"
#include "tables/engine/tzutils.h"
#include "ui_Protocol.h"
#include "ui_Verbote.h"
#include "ui_Werbung.h"
#include "ui_einstellungen.h"
#include "ui_noad.h"
#include "vantorix_fixture.h"

namespace vantorix {
namespace {

const char kNoActiveAd[] = "No active advertisement. Program launched without advertising";

void Pump() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

class Dialogs : public VantorixTest {
 protected:
  void TwoPhones() {
    WritePhones({{"0000000001", "Nokia", "6310i", 1}, {"0000000002", "Siemens", "S45", 2}});
  }

  std::filesystem::path Registry() const { return dir_ / "windows" / "registry.ini"; }
  std::filesystem::path Table(const char* name) const { return dir_ / "program" / name; }

  // The comport of each telstamm.dbf row, read by python3-dbfread, as "id:port".
  std::vector<std::string> ComPorts() {
    std::vector<std::string> ports;
    for (const std::string& row : PeerRows(Table("telstamm.dbf"))) {
      std::string id = row.substr(0, row.find('|'));
      std::string rest = row.substr(row.find('|') + 1);
      // id|hersteller|modell|smsstack|comport|...
      for (int i = 0; i < 3; ++i) rest = rest.substr(rest.find('|') + 1);
      ports.push_back(id + ":" + rest.substr(0, rest.find('|')));
    }
    return ports;
  }

  // Shows the settings dialog (FormShow) without a nested event loop.
  TfrmEinstell& ShowSettings(TMainForm& form) {
    form.frmEinstell->show();
    Pump();
    return *form.frmEinstell;
  }

  // Opens the cell's editor, types `text` into it and, with `commit`, presses Return.
  static void TypeInto(tz::TTzGrid& grid, int row, int column, const char* text, bool commit) {
    QModelIndex cell = grid.Model().index(row, column);
    grid.setCurrentIndex(cell);
    grid.edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(cell));
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, text);
    if (commit) QTest::keyClick(editor, Qt::Key_Return);
  }

  // A cell's display text as the grid's model gives it.
  static std::string Cell(tz::TTzGrid& grid, int row, int column) {
    return platform::FromQString(
        grid.Model().index(row, column).data(platform::TDataGridModel::FieldTextRole).toString());
  }
  // The centre of a Boolean cell's box, in the grid's own coordinates.
  static QPoint BoxCentre(tz::TTzGrid& grid, int row, int column) {
    QRect r = grid.visualRect(grid.Model().index(row, column));
    int side = std::min(r.width(), r.height());
    return grid.viewport()->mapTo(&grid, QPoint(r.left() + r.width() / 2, r.top() + side / 2));
  }
};

TEST_F(Dialogs, CaptionsAndTheButtonsThatEndThem) {
  TMainForm& form = OpenWithDialogs();
  struct Case {
    const char* name;
    QDialog* dialog;
    const char* caption;
    const char* button;
    QDialog::DialogCode result;
  };
  auto* noad = form.findChild<QDialog*>("TNoAdForm");
  ASSERT_NE(noad, nullptr);
  const Case cases[] = {
      {"TWerbetexte", form.Werbetexte, "Advertisements", "btnClose", QDialog::Accepted},
      {"TSMSProtocol", form.SMSProtocol, "SMS Protocol", "btnClose", QDialog::Accepted},
      {"TfrmVerbote", form.frmVerbote, "Forbidden Words and telephone numbers", "btnClose",
       QDialog::Accepted},
      {"TfrmEinstell", form.frmEinstell, "General Settings", "btnAbbruch", QDialog::Rejected},
      {"TNoAdForm", noad, "  AD CHECK", "Button1", QDialog::Accepted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.dialog, nullptr);
    EXPECT_EQ(c.dialog->objectName(), c.name);
    EXPECT_EQ(c.dialog->windowTitle(), c.caption);
    if (c.dialog != noad) {
      EXPECT_TRUE(c.dialog->isModal());
    }
    c.dialog->show();
    Pump();
    EXPECT_FALSE(platform::testing::SaveScreenshot(*c.dialog, c.name).empty());
    auto* button = c.dialog->findChild<QPushButton*>(c.button);
    ASSERT_NE(button, nullptr);
    c.dialog->setResult(c.result == QDialog::Accepted ? QDialog::Rejected : QDialog::Accepted);
    button->click();
    EXPECT_EQ(c.dialog->result(), c.result);
    EXPECT_FALSE(c.dialog->isVisible());
  }
}

TEST_F(Dialogs, TheGeneralSettingsShowTheirControls) {
  TMainForm& form = OpenWithDialogs();
  TfrmEinstell& dialog = *form.frmEinstell;
  EXPECT_EQ(dialog.ui->spnWerbeSMS->minimum(), 0);
  EXPECT_EQ(dialog.ui->spnWerbeSMS->maximum(), 999);
  EXPECT_EQ(dialog.ui->chkPruefTel->text(), "Check for forbidden telephone numbers");
  EXPECT_EQ(dialog.ui->chkPruefWorte->text(), "Check for forbidden words");
  EXPECT_EQ(dialog.ui->btnOK->text(), "OK");
  EXPECT_EQ(dialog.ui->btnAbbruch->text(), "Abort");
}

// Each menu shows its dialog as the application's modal window: nothing below it (the receive
// loop waiting in its pump) runs on until it closes.
TEST_F(Dialogs, TheMenusShowTheirDialogsModally) {
  TMainForm& form = OpenWithDialogs();
  struct Case {
    const char* menu;
    QDialog* dialog;
  };
  const Case cases[] = {
      {"Protokoll1", form.SMSProtocol},
      {"Grundeinstellungen1", form.frmEinstell},
      {"Werbetexte1", form.Werbetexte},
      {"Verbotsliste1", form.frmVerbote},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.menu);
    QWidget* modal = nullptr;
    QTimer::singleShot(0, &form, [&] {
      modal = QApplication::activeModalWidget();
      c.dialog->reject();
    });
    auto* action = form.findChild<QAction*>(c.menu);
    ASSERT_NE(action, nullptr);
    action->trigger();
    EXPECT_EQ(modal, c.dialog);
    EXPECT_FALSE(c.dialog->isVisible());
  }
}

TEST_F(Dialogs, SettingsShowTheMainWindowsValuesAndAnUnknownIdSelectsNoModel) {
  TwoPhones();
  struct Case {
    const char* id;
    const char* port;
    int model;  // -1: none selected
    int port_index;
  };
  const Case cases[] = {
      {"0000000002", "2", 1, 1},
      {"0000000001", "4", 0, 3},
      {"0000000099", "1", -1, 0},  // not in the phone table
      {"0000000001", "7", 0, -1},  // a port the list cannot show
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + std::string(" port ") + c.port);
    WriteRegistry("ID", c.id);
    WriteRegistry("Port", c.port);
    WriteRegistry("Pin", "4711");
    WriteRegistry("Werbeinterval", "9");
    WriteRegistry("PruefTel", "0");
    TMainForm& form = OpenWithDialogs();
    TfrmEinstell& dialog = ShowSettings(form);
    EXPECT_EQ(dialog.ui->cboMobilTel->count(), 2);
    EXPECT_EQ(dialog.ui->cboMobilTel->itemText(1), "Siemens S45");
    EXPECT_EQ(dialog.ui->cboComPort->count(), 4);
    EXPECT_EQ(dialog.ui->cboMobilTel->currentIndex(), c.model);
    EXPECT_EQ(dialog.ui->cboComPort->currentIndex(), c.port_index);
    EXPECT_EQ(dialog.ui->spnWerbeSMS->value(), 9);
    EXPECT_FALSE(dialog.ui->chkPruefTel->isChecked());
    EXPECT_TRUE(dialog.ui->chkPruefWorte->isChecked());
    EXPECT_EQ(dialog.ui->Edit1->text(), "4711");
    dialog.btnAbbruchClick();
    CloseForm();
  }
}

TEST_F(Dialogs, SettingsOkWritesTheRegistryAndThePhonesComPortUnderItsRecordLock) {
  TwoPhones();
  TMainForm& form = OpenWithDialogs();
  AppendRows(form.DBWerbung, {{{"werbetext", "Old ad"}, {"aktiv", "F"}},
                              {{"werbetext", "Buy now"}, {"aktiv", "T"}}});
  TfrmEinstell& dialog = ShowSettings(form);
  dialog.ui->cboMobilTel->setCurrentIndex(1);  // Siemens S45
  dialog.ui->cboComPort->setCurrentIndex(2);   // Com 3
  dialog.ui->spnWerbeSMS->setValue(7);
  dialog.ui->chkPruefTel->setChecked(false);
  dialog.ui->chkPruefWorte->setChecked(true);
  dialog.ui->Edit1->setText("12345678");
  ui_.Clear();
  dialog.ui->btnOK->click();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  EXPECT_EQ(form.MobileId, "0000000002");
  EXPECT_EQ(form.ComPortNo, 3);
  EXPECT_EQ(form.AdInterval, 7);
  EXPECT_TRUE(form.AdsEnabled);
  EXPECT_EQ(form.MobilePin, "12345678");
  // The advertisement table stands on the next advertisement.
  EXPECT_EQ(tz::RTrim(form.DBWerbung.FieldGet("WERBETEXT")), "Buy now");
  // The phone table is back in its own order with no lock left.
  EXPECT_EQ(form.DBMobilTel.CurrentTag(), "ID");
  CloseForm();

  platform::RegIniFile registry(apps::kRegistryKey);
  const char* s = apps::kRegistrySection;
  EXPECT_EQ(registry.ReadString(s, "ID", ""), "0000000002");
  EXPECT_EQ(registry.ReadString(s, "Pin", ""), "12345678");
  EXPECT_EQ(registry.ReadInteger(s, "Port", 0), 3);
  EXPECT_EQ(registry.ReadInteger(s, "Werbeinterval", 0), 7);
  EXPECT_FALSE(registry.ReadBool(s, "PruefTel", true));
  EXPECT_TRUE(registry.ReadBool(s, "PruefWorte", false));
  EXPECT_EQ(ComPorts(), (std::vector<std::string>{"0000000001:1", "0000000002:3"}));

  // The settings are those of the next start.
  TMainForm& again = OpenWithDialogs();
  EXPECT_EQ(again.MobileId, "0000000002");
  EXPECT_EQ(again.ComPortNo, 3);
  EXPECT_EQ(again.MobilePin, "12345678");
}

TEST_F(Dialogs, SettingsAbortChangesNoByteOfTheRegistryOrThePhoneTable) {
  TwoPhones();
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Port", "1");
  TMainForm& form = OpenWithDialogs();
  std::string registry = platform::TempDir::Read(Registry());
  std::string phones = platform::TempDir::Read(Table("telstamm.dbf"));
  TfrmEinstell& dialog = ShowSettings(form);
  dialog.ui->cboMobilTel->setCurrentIndex(1);
  dialog.ui->cboComPort->setCurrentIndex(3);
  dialog.ui->spnWerbeSMS->setValue(0);
  dialog.ui->Edit1->setText("9999");
  dialog.ui->btnAbbruch->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(form.MobileId, "0000000001");
  EXPECT_EQ(form.ComPortNo, 1);
  EXPECT_EQ(form.AdInterval, 5);
  EXPECT_EQ(form.MobilePin, "");
  EXPECT_TRUE(ui_.Messages().empty());
  CloseForm();
  EXPECT_EQ(platform::TempDir::Read(Registry()), registry);
  EXPECT_EQ(platform::TempDir::Read(Table("telstamm.dbf")), phones);
}

TEST_F(Dialogs, AnIntervalOfZeroOrNoActiveAdvertisementTurnsAdvertisingOff) {
  TwoPhones();
  struct Case {
    int interval;
    const char* aktiv;  // the one advertisement's AKTIV
    bool ads_enabled;
    bool message;
  };
  const Case cases[] = {
      {5, "T", true, false},
      {0, "T", false, false},
      {5, "F", false, true},
      {0, "F", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.interval) + c.aktiv);
    std::filesystem::remove(Table("werbung.dbf"));
    TMainForm& form = OpenWithDialogs();
    AppendRows(form.DBWerbung, {{{"werbetext", "Ad"}, {"aktiv", c.aktiv}}});
    TfrmEinstell& dialog = ShowSettings(form);
    dialog.ui->spnWerbeSMS->setValue(c.interval);
    ui_.Clear();
    dialog.ui->btnOK->click();
    EXPECT_EQ(form.AdsEnabled, c.ads_enabled);
    if (c.message)
      EXPECT_EQ(ui_.Texts(), std::vector<std::string>{kNoActiveAd});
    else
      EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
    CloseForm();
  }
}

TEST_F(Dialogs, ARecordLockHeldByAnotherProgramGivesCouldNotSaveSettings) {
  TwoPhones();
  TMainForm& form = OpenWithDialogs();
  AppendRows(form.DBWerbung, {{{"werbetext", "Ad"}, {"aktiv", "T"}}});
  platform::ChildProcess holder(TABLE_HOLDER, {});
  ASSERT_TRUE(holder.WriteLine("use " + Table("telstamm.dbf").string()));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("go 2"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("rlock"));
  ASSERT_EQ(holder.ReadLine(), "true");

  TfrmEinstell& dialog = ShowSettings(form);
  dialog.ui->cboMobilTel->setCurrentIndex(1);  // record 2
  dialog.ui->cboComPort->setCurrentIndex(3);
  ui_.Clear();
  dialog.ui->btnOK->click();
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Could not save settings"});
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(form.ComPortNo, 4);  // the main window and the registry keep the new values
  EXPECT_EQ(platform::RegIniFile(apps::kRegistryKey)
                .ReadInteger(apps::kRegistrySection, "Port", 0), 4);
  ASSERT_TRUE(holder.WriteLine("unlock"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  CloseForm();
  EXPECT_EQ(ComPorts(), (std::vector<std::string>{"0000000001:1", "0000000002:2"}));
}

// With no model selected the standard phone stays and no COMPORT is written; with no port
// selected the port stays (a registry port the list cannot show is not overwritten) and no
// COMPORT is written either.
TEST_F(Dialogs, OkWithNoModelOrNoPortSelectedKeepsTheOldOnes) {
  TwoPhones();
  struct Case {
    const char* id;
    const char* port;
    int model;     // selected before OK, -1 none
    int port_index;
    const char* stored_id;
    int stored_port;
    std::vector<std::string> comports;
  };
  const Case cases[] = {
      {"0000000099", "1", -1, 2, "0000000099", 3, {"0000000001:1", "0000000002:2"}},
      {"0000000002", "7", 1, -1, "0000000002", 7, {"0000000001:1", "0000000002:2"}},
      {"0000000002", "1", 1, -1, "0000000002", 1, {"0000000001:1", "0000000002:2"}},
      {"0000000002", "1", 1, 3, "0000000002", 4, {"0000000001:1", "0000000002:4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + std::string(" port ") + c.port);
    WriteRegistry("ID", c.id);
    WriteRegistry("Port", c.port);
    TMainForm& form = OpenWithDialogs();
    TfrmEinstell& dialog = ShowSettings(form);
    dialog.ui->cboMobilTel->setCurrentIndex(c.model);
    dialog.ui->cboComPort->setCurrentIndex(c.port_index);
    ui_.Clear();
    dialog.ui->btnOK->click();
    EXPECT_EQ(form.MobileId, c.stored_id);
    EXPECT_EQ(form.ComPortNo, c.stored_port);
    CloseForm();
    platform::RegIniFile registry(apps::kRegistryKey);
    EXPECT_EQ(registry.ReadString(apps::kRegistrySection, "ID", ""), c.stored_id);
    EXPECT_EQ(registry.ReadInteger(apps::kRegistrySection, "Port", 0), c.stored_port);
    EXPECT_EQ(ComPorts(), c.comports);
  }
}

// The PIN is checked as the connect checks it before anything is stored.
TEST_F(Dialogs, OkStoresOnlyAPinOfFourToEightDigitsOrNone) {
  TwoPhones();
  struct Case {
    const char* typed;
    bool stored;
  };
  const Case cases[] = {
      {"", true}, {"1234", true}, {"12345678", true},
      {"123", false}, {"12a4", false}, {"12 34", false}, {"+123", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    WriteRegistry("Pin", "4711");
    TMainForm& form = OpenWithDialogs();
    AppendRows(form.DBWerbung, {{{"werbetext", "Ad"}, {"aktiv", "T"}}});
    std::string registry = platform::TempDir::Read(Registry());
    TfrmEinstell& dialog = ShowSettings(form);
    dialog.ui->Edit1->setText(c.typed);
    dialog.ui->spnWerbeSMS->setValue(3);
    int interval = form.AdInterval;
    ui_.Clear();
    dialog.ui->btnOK->click();
    if (c.stored) {
      EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
      EXPECT_FALSE(dialog.isVisible());
      EXPECT_EQ(form.MobilePin, c.typed);
      EXPECT_EQ(platform::RegIniFile(apps::kRegistryKey)
                    .ReadString(apps::kRegistrySection, "Pin", "?"), c.typed);
    } else {
      EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"The mobile PIN must be 4 to 8 digits."});
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_EQ(form.MobilePin, "4711");
      EXPECT_EQ(form.AdInterval, interval);
      EXPECT_EQ(platform::TempDir::Read(Registry()), registry);
      dialog.btnAbbruchClick();
    }
    CloseForm();
  }
  std::filesystem::remove(Table("werbung.dbf"));
}

TEST_F(Dialogs, AnAdvertisementTypedMarkedActiveAndPostedIsStoredActive) {
  TMainForm& form = OpenWithDialogs();
  TWerbetexte& dialog = *form.Werbetexte;
  dialog.show();
  Pump();
  dialog.ui->TzNavigator1->BtnClick(platform::nbInsert);
  ASSERT_EQ(form.DBWerbung.State(), platform::dataset::dsInsert);
  TypeInto(*dialog.ui->TzGrid1, 0, 0, "Visit the harbour bar", true);
  dialog.ui->TzGrid1->setCurrentIndex(dialog.ui->TzGrid1->Model().index(0, 1));
  QTest::keyClick(dialog.ui->TzGrid1, Qt::Key_Space);
  dialog.ui->TzNavigator1->BtnClick(platform::nbPost);
  EXPECT_EQ(form.DBWerbung.State(), platform::dataset::dsBrowse);
  EXPECT_FALSE(platform::testing::SaveScreenshot(dialog, "TWerbetexte_rows").empty());
  dialog.ui->btnClose->click();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  CloseForm();
  EXPECT_EQ(PeerRows(Table("werbung.dbf")),
            std::vector<std::string>{"Visit the harbour bar|True"});
}

// Closing a list dialog while a cell is still being typed in writes the cell and posts the
// row: the receive loop, which seeks these tables once the dialog is gone, never finds one of
// them in edit state.
TEST_F(Dialogs, AForbiddenWordAndNumberTypedInTheGridsAreStoredWhenTheDialogCloses) {
  TMainForm& form = OpenWithDialogs();
  TfrmVerbote& dialog = *form.frmVerbote;
  dialog.show();
  Pump();
  dialog.ui->TzNavigator1->BtnClick(platform::nbInsert);
  TypeInto(*dialog.ui->grdVerbWorte, 0, 0, "Mist", false);  // still in the editor
  dialog.ui->TzNavigator2->BtnClick(platform::nbInsert);
  TypeInto(*dialog.ui->TzGrid1, 0, 0, "+4917012345", false);
  EXPECT_FALSE(platform::testing::SaveScreenshot(dialog, "TfrmVerbote_rows").empty());
  dialog.ui->btnClose->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(form.DBVerbWordList.State(), platform::dataset::dsBrowse);
  EXPECT_EQ(form.DBVerbTelList.State(), platform::dataset::dsBrowse);
  // The loop's lookups find them at once.
  EXPECT_TRUE(form.DBVerbWordList.FindExact("MIST"));
  EXPECT_TRUE(form.DBVerbTelList.FindExact("+4917012345"));
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  CloseForm();
  EXPECT_EQ(PeerRows(Table("verbwort.dbf")), std::vector<std::string>{"Mist"});
  EXPECT_EQ(PeerRows(Table("verbtel.dbf")), std::vector<std::string>{"+4917012345"});
}

TEST_F(Dialogs, AnUntouchedNewRowIsDroppedWhenTheDialogCloses) {
  TMainForm& form = OpenWithDialogs();
  TWerbetexte& dialog = *form.Werbetexte;
  dialog.show();
  Pump();
  dialog.ui->TzNavigator1->BtnClick(platform::nbInsert);
  dialog.reject();  // Esc
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(form.DBWerbung.State(), platform::dataset::dsBrowse);
  CloseForm();
  EXPECT_TRUE(PeerRows(Table("werbung.dbf")).empty());
}

TEST_F(Dialogs, TheProtocolShowsTheLoggedRows) {
  TMainForm& form = OpenWithDialogs();
  AppendRows(form.DBProtocol,
             {{{"telnr", "+491701111111"}, {"zeit", "24.12.26 18:00:00"}, {"text", "Frohe Feste"},
               {"provider", "+491710760000"}},
              {{"telnr", "FB +491702222222"}, {"zeit", "24.12.26 18:05:10"}, {"text", "Spam"},
               {"provider", "+491710760000"}}});
  TSMSProtocol& dialog = *form.SMSProtocol;
  dialog.show();
  Pump();
  tz::TTzGrid& grid = *dialog.ui->grdProtokoll;
  auto text = [&](int row, int column) {
    return grid.Model()
        .index(row, column)
        .data(platform::TDataGridModel::FieldTextRole)
        .toString()
        .toStdString();
  };
  ASSERT_EQ(grid.Model().rowCount(), 2);
  EXPECT_EQ(text(0, 0), "+491701111111");
  EXPECT_EQ(text(0, 2), "Frohe Feste");
  EXPECT_EQ(text(1, 0), "FB +491702222222");
  EXPECT_EQ(text(1, 1), "24.12.26 18:05:10");
  EXPECT_FALSE(platform::testing::SaveScreenshot(dialog, "TSMSProtocol_rows").empty());
  dialog.ui->btnClose->click();
}

// While a record is inserted or edited in a list dialog, the grid goes on showing every other
// row as the table holds it: its texts and its ticked or unticked box, in the model's display
// data and in the grabbed picture. The dialogs are opened as the running program leaves them:
// the receive loop has sought a sender that is not on the list and the settings have stepped
// through the advertisements while the dialogs were closed.
TEST_F(Dialogs, TheListGridsKeepShowingEveryRowWhileARecordIsInsertedOrEdited) {
  enum How { kDownOnTheLastRow, kNavigatorInsert, kTypingIntoTheLastRow };
  struct Case {
    const char* what;
    bool ads;  // the advertisements' grid, else the forbidden numbers' grid
    How how;
    std::vector<std::string> shown;  // column 0 of each row while writing; "" the new row
  };
  const Case cases[] = {
      {"advertisements, Down", true, kDownOnTheLastRow, {"Old ad", "Buy now", "Last call", ""}},
      {"advertisements, Insert", true, kNavigatorInsert, {"Old ad", "Buy now", "", "Last call"}},
      {"advertisements, typing", true, kTypingIntoTheLastRow, {"Old ad", "Buy now", "Last call"}},
      {"numbers, Down", false, kDownOnTheLastRow,
       {"+491701111111", "+491702222222", "+491703333333", ""}},
      {"numbers, Insert", false, kNavigatorInsert,
       {"+491701111111", "+491702222222", "", "+491703333333"}},
      {"numbers, typing", false, kTypingIntoTheLastRow,
       {"+491701111111", "+491702222222", "+491703333333"}},
  };
  const std::vector<std::string> active = {"False", "True", "True"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Table("werbung.dbf"));
    std::filesystem::remove(Table("verbtel.dbf"));
    std::filesystem::remove(Table("verbtel.MDX"));
    TMainForm& form = OpenWithDialogs();
    AppendRows(form.DBWerbung, {{{"werbetext", "Old ad"}, {"aktiv", "F"}},
                                {{"werbetext", "Buy now"}, {"aktiv", "T"}},
                                {{"werbetext", "Last call"}, {"aktiv", "T"}}});
    AppendRows(form.DBVerbTelList, {{{"telnr", "+491701111111"}},
                                    {{"telnr", "+491702222222"}},
                                    {{"telnr", "+491703333333"}}});
    EXPECT_FALSE(form.DBVerbTelList.FindExact("+4915199999999"));
    form.DBWerbung.GoTop();
    form.DBWerbung.Skip(1);
    QDialog& dialog = c.ads ? static_cast<QDialog&>(*form.Werbetexte) : *form.frmVerbote;
    tz::TTzGrid& grid = c.ads ? *form.Werbetexte->ui->TzGrid1 : *form.frmVerbote->ui->TzGrid1;
    tz::TTzNavigator& nav = c.ads ? *form.Werbetexte->ui->TzNavigator1 : *form.frmVerbote->ui->TzNavigator2;
    tz::TTzDbf& table = c.ads ? form.DBWerbung : form.DBVerbTelList;
    dialog.show();
    Pump();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualRect(grid.Model().index(2, 0)).center());
    Pump();
    ASSERT_EQ(grid.Model().CurrentRow(), 2);
    switch (c.how) {
      case kDownOnTheLastRow: QTest::keyClick(&grid, Qt::Key_Down); break;
      case kNavigatorInsert: nav.Button(platform::nbInsert).click(); break;
      case kTypingIntoTheLastRow: {
        QTest::keyClicks(&grid, "X");
        auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(grid.currentIndex()));
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, "yz");
        break;
      }
    }
    Pump();
    ASSERT_EQ(table.State(), c.how == kTypingIntoTheLastRow ? platform::dataset::dsEdit
                                                            : platform::dataset::dsInsert);
    QImage image = grid.grab().toImage();
    ASSERT_EQ(grid.Model().rowCount(), static_cast<int>(c.shown.size()));
    int stored = 0;
    for (int row = 0; row < grid.Model().rowCount(); ++row) {
      SCOPED_TRACE("row " + std::to_string(row));
      EXPECT_EQ(tz::RTrim(Cell(grid, row, 0)), c.shown[static_cast<size_t>(row)]);
      if (c.shown[static_cast<size_t>(row)].empty() || !c.ads) continue;
      // The box of a stored advertisement: a cross through its centre when it is active.
      const std::string& aktiv = active[static_cast<size_t>(stored++)];
      EXPECT_EQ(Cell(grid, row, 1), aktiv);
      QColor centre = image.pixelColor(BoxCentre(grid, row, 1));
      EXPECT_EQ(centre == platform::ToQColor(platform::clWindowText), aktiv == "True");
    }
    std::string name = std::string(c.ads ? "TWerbetexte" : "TfrmVerbote") +
                       (c.how == kTypingIntoTheLastRow ? "_edit" : "_insert");
    if (c.how != kDownOnTheLastRow) {
      EXPECT_FALSE(platform::testing::SaveScreenshot(dialog, name).empty());
    }
    // Esc leaves the editor and then the new or edited record: nothing is stored.
    if (QWidget* editor = grid.indexWidget(grid.currentIndex())) QTest::keyClick(editor, Qt::Key_Escape);
    QTest::keyClick(&grid, Qt::Key_Escape);
    dialog.reject();
    EXPECT_EQ(table.State(), platform::dataset::dsBrowse);
    EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
    CloseForm();
  }
}

}  // namespace
}  // namespace vantorix
