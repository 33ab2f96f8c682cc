// Vazor's phone-model table: the start-up settings (a model's row, settings.ini, the built-in
// defaults), the combo matching, the grid's order, new, renamed and deleted models, saving the
// settings and marking the standard phone, read back with python3-dbfread.
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include "handy_fixture.h"

#include "phone/Tokens.h"
#include "platform/clock.h"
#include "platform/testing/qt_testing.h"

namespace handy {
namespace {

// What the settings controls show: port item, queues, the five combos' texts (empty: no
// selection), the four waits and the stack.
std::string Controls(THandyForm& form) {
  Ui::THandyForm& ui = *form.ui;
  auto combo = [](QComboBox* c) {
    return c->currentIndex() < 0 ? std::string() : platform::FromQString(c->currentText());
  };
  return combo(ui.cboComPort) + "|" + std::to_string(ui.spnInpBuffer->value()) + "/" +
         std::to_string(ui.spnOutBuffer->value()) + "|" + combo(ui.cboBaudRate) + "|" +
         combo(ui.cboDataBit) + "|" + combo(ui.cboStopBit) + "|" + combo(ui.cboParity) + "|" +
         combo(ui.cboFlowContr) + "|" + std::to_string(ui.spnWarteOpen->value()) + "," +
         std::to_string(ui.spnWarteClose->value()) + "," +
         std::to_string(ui.spnWarteSenden->value()) + "," +
         std::to_string(ui.spnWarteEmpfangen->value()) + "|" +
         std::to_string(ui.spnSMSStack->value());
}

// The first `n` fields of a peer row.
std::string Fields(const std::string& row, int n) {
  size_t end = 0;
  for (int i = 0; i < n && end != std::string::npos; ++i) end = row.find('|', end + (i > 0));
  return row.substr(0, end);
}

const std::string kBuiltIn = "Com 1|1024/1024|9600|8|1|None|None|1000,1000,200,200|10";

TEST_F(HandyTest, StartUpTakesTheStandardRowOrSettingsIniOrTheBuiltInDefaults) {
  struct Case {
    const char* what;
    const char* registry_id;   // null: no value
    const char* settings_ini;  // null: no file
    std::string controls;
  } const cases[] = {
      {"no registry, no settings.ini", nullptr, nullptr, kBuiltIn},
      {"id not in the table, no settings.ini", "0000000099", nullptr, kBuiltIn},
      {"settings.ini, every key", "0000000099",
       "[COM]\r\nPort=3\r\nInputBuffer=512\r\nOutputBuffer=2048\r\nBaud=115200\r\nDataBit=7\r\n"
       "StopBit=1,5\r\nParity=E\r\nFlowContr=Hardware\r\nWarteOpen=50\r\nWarteClose=60\r\n"
       "WarteSenden=70\r\nWarteEmpfangen=80\r\n",
       "Com 3|512/2048|115200|7|1,5|Even|Hardware|50,60,70,80|10"},
      {"settings.ini, texts that match no item", "0000000099",
       "[COM]\r\nPort=7\r\nBaud=14400\r\nDataBit=9\r\nStopBit=1.5\r\nParity=n\r\n"
       "FlowContr=none\r\n",
       "|1024/1024||||||1000,1000,200,200|10"},
      {"the standard row", "0000000003", "[COM]\r\nPort=4\r\n",
       "Com 2|512/256|19200|7|2|Space|XOn / XOff|11,22,33,44|7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CaseFolders folders;
    ModelRow standard{"0000000003", "Test",       "Three", 7,   2,  "19200", "7", "2",
                      "S",          "XOn / XOff", 512,     256, 11, 22,      33,  44};
    WriteRows({{"0000000002", "Test", "Two"}, standard});
    if (c.registry_id) WriteRegistry("ID", c.registry_id);
    if (c.settings_ini) folders.dir.Write("program/settings.ini", c.settings_ini);
    EXPECT_EQ(Controls(OpenForm()), c.controls);
    form_.reset();
  }
}

TEST_F(HandyTest, RegistryStackLengthStandsWhenTheRowIsMissing) {
  WriteRegistry("SMSStack", "25");
  EXPECT_EQ(Controls(OpenForm()), "Com 1|1024/1024|9600|8|1|None|None|1000,1000,200,200|25");
}

TEST_F(HandyTest, GridListsTheModelsInMakerOrderAndAClickLoadsTheRow) {
  WriteRows({{"0000000001", "Zeta", "Z1"},
             {"0000000002", "alpha", "B2", 3, 4, "14400", "6", "1,5", "M", "Hardware"},
             {"0000000003", "Alpha", "a1", 0, 0, "2400", "5", "3", "X", "RTS"},
             {"0000000004", "Mid", "M"}});
  THandyForm& form = OpenForm();
  ASSERT_EQ(GridRows(), (std::vector<std::string>{"Alpha|a1", "alpha|B2", "Mid|M", "Zeta|Z1"}));
  EXPECT_EQ(form.ui->grdMobilTel->Columns().size(), 2u);

  // Row 2: a baud rate not among the items and an unknown stop bit leave their combos empty,
  // "1,5" picks the second stop-bit item, "M" the fourth parity item.
  ClickRow(1);
  EXPECT_EQ(Controls(form), "Com 4|1024/1024||6|1,5|Mark|Hardware|10,10,10,20|3");
  // Port 0, parity "X", flow "RTS", stack 0: nothing selected, the stack 10.
  ClickRow(0);
  EXPECT_EQ(Controls(form), "|1024/1024|2400|5||||10,10,10,20|10");
  ClickRow(3);
  EXPECT_EQ(Controls(form), "Com 1|1024/1024|9600|8|1|None|None|10,10,10,20|5");
}

TEST_F(HandyTest, SaveWritesTheCurrentRowAndKeepsWhatNoControlSelects) {
  WriteRows({{"0000000001", "Alpha", "A"},
             {"0000000002", "Beta", "B", 5, 1, "14400", "8", "1", "Q", "None"}});
  THandyForm& form = OpenForm();
  Ui::THandyForm& ui = *form.ui;
  // The spin ranges fit the table's fields: N 4 for queues and waits, N 3 for the stack.
  for (QSpinBox* spin : {ui.spnInpBuffer, ui.spnOutBuffer, ui.spnWarteOpen, ui.spnWarteClose,
                         ui.spnWarteSenden, ui.spnWarteEmpfangen}) {
    EXPECT_EQ(spin->minimum(), 0) << spin->objectName().toStdString();
    EXPECT_EQ(spin->maximum(), 9999) << spin->objectName().toStdString();
  }
  EXPECT_EQ(ui.spnSMSStack->minimum(), 1);
  EXPECT_EQ(ui.spnSMSStack->maximum(), 999);

  ClickRow(0);
  ui.cboComPort->setCurrentIndex(2);
  ui.cboBaudRate->setCurrentIndex(6);
  ui.cboDataBit->setCurrentIndex(2);
  ui.cboStopBit->setCurrentIndex(1);
  ui.cboParity->setCurrentIndex(1);
  ui.cboFlowContr->setCurrentIndex(0);
  ui.spnInpBuffer->setValue(20000);
  ui.spnOutBuffer->setValue(4096);
  ui.spnWarteOpen->setValue(10000);
  ui.spnWarteClose->setValue(0);
  ui.spnWarteSenden->setValue(300);
  ui.spnWarteEmpfangen->setValue(400);
  ui.spnSMSStack->setValue(1000);
  QTest::mouseClick(ui.btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(PeerRows(),
            (std::vector<std::string>{
                "0000000001|Alpha|A|999|3|115200|7|1,5|O|XOn / XOff|9999|4096|9999|0|300|400",
                "0000000002|Beta|B|5|1|14400|8|1|Q|None|1024|1024|10|10|10|20"}));

  // Row 2's baud rate and parity select nothing: Save keeps them, and writes the rest.
  ClickRow(1);
  ASSERT_EQ(ui.cboBaudRate->currentIndex(), -1);
  ASSERT_EQ(ui.cboParity->currentIndex(), -1);
  ui.cboComPort->setCurrentIndex(-1);
  ui.spnWarteOpen->setValue(77);
  QTest::mouseClick(ui.btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(PeerRows()[1], "0000000002|Beta|B|5|1|14400|8|1|Q|None|1024|1024|77|10|10|20");
  EXPECT_TRUE(ui_.Texts().empty());
}

// The rows the grid highlights ("maker|model"), none when nothing is highlighted.
std::vector<std::string> Highlighted(THandyForm& form) {
  std::vector<std::string> rows;
  tz::TTzGrid& grid = *form.ui->grdMobilTel;
  for (const QModelIndex& index : grid.selectionModel()->selectedRows()) {
    QString text = index.data(platform::TDataGridModel::FieldTextRole).toString().trimmed() + "|" +
                   index.siblingAtColumn(1)
                       .data(platform::TDataGridModel::FieldTextRole)
                       .toString()
                       .trimmed();
    rows.push_back(platform::FromQString(text));
  }
  return rows;
}

const ModelRow kAlpha{"0000000001", "Alpha", "A", 5, 1, "9600", "8", "1", "N", "None"};
const ModelRow kBeta{"0000000002", "Beta", "B", 6, 2, "19200", "7", "2", "E", "Hardware"};
const ModelRow kGamma{"0000000003", "Gamma", "C", 7, 3, "2400", "5", "1", "O", "XOn / XOff"};

// After Delete Mobile the next model is highlighted, and the settings shown are its own: Save
// writes them back unchanged, not the deleted model's into it.
TEST_F(HandyTest, AfterADeleteTheSettingsShownAreThoseOfTheModelHighlighted) {
  WriteRows({kAlpha, kBeta, kGamma});
  THandyForm& form = OpenForm();
  const std::vector<std::string> before = PeerRows();
  ClickRow(1);  // Beta
  form.ui->spnWarteOpen->setValue(777);
  ui_.QueueAnswer(platform::kIdYes);
  QTest::mouseClick(form.ui->btnDelHandy, Qt::LeftButton);
  EXPECT_EQ(Highlighted(form), std::vector<std::string>{"Gamma|C"});
  EXPECT_EQ(Controls(form), "Com 3|1024/1024|2400|5|1|Odd|XOn / XOff|10,10,10,20|7");
  QTest::mouseClick(form.ui->btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(PeerRows(), (std::vector<std::string>{before[0], before[2]}));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Do you really want do delete this Mobile?"});

  // Deleting the last model leaves nothing to save into.
  for (int i = 0; i < 2; ++i) {
    ui_.QueueAnswer(platform::kIdYes);
    QTest::mouseClick(form.ui->btnDelHandy, Qt::LeftButton);
  }
  ui_.Clear();
  QTest::mouseClick(form.ui->btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Could not save settings"});
  EXPECT_TRUE(PeerRows().empty());
}

// A model another program deleted while its settings are shown: Save writes nothing, not
// into the deleted record and not into another, says so, and then no row is highlighted.
TEST_F(HandyTest, SaveOfAModelAnotherProgramDeletedWritesNothing) {
  WriteRows({kAlpha, kBeta, kGamma});
  THandyForm& form = OpenForm();
  ClickRow(1);  // Beta, record 2
  platform::ChildProcess holder(TABLE_HOLDER, {});
  for (const char* command : {"go 2", "rlock", "delete", "unlock"}) {
    ASSERT_TRUE(holder.WriteLine(command == std::string("go 2")
                                     ? "use " + apps::ProgramFolder() + apps::kTelstammFile
                                     : command));
    ASSERT_EQ(holder.ReadLine(), command == std::string("rlock") ? "true" : "ok") << command;
    if (command == std::string("go 2")) {
      ASSERT_TRUE(holder.WriteLine(command));
      ASSERT_EQ(holder.ReadLine(), "ok");
    }
  }
  const std::vector<std::string> live = PeerRows(), deleted = PeerDeletedRows();
  ASSERT_EQ(live.size(), 2u);
  ASSERT_EQ(deleted.size(), 1u);
  form.ui->spnWarteOpen->setValue(777);
  ui_.Clear();
  QTest::mouseClick(form.ui->btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{
                             "This Mobile is no longer in the database. The settings were not "
                             "saved"});
  EXPECT_EQ(PeerRows(), live);
  EXPECT_EQ(PeerDeletedRows(), deleted);
  EXPECT_TRUE(Highlighted(form).empty());
  EXPECT_EQ(GridRows(), (std::vector<std::string>{"Alpha|A", "Gamma|C"}));
  // The settings stay as the user left them; a click loads a model again.
  EXPECT_EQ(form.ui->spnWarteOpen->value(), 777);
  ClickRow(1);
  EXPECT_EQ(Controls(form), "Com 3|1024/1024|2400|5|1|Odd|XOn / XOff|10,10,10,20|7");
}

// When the registry's standard phone is not in the table, the window shows settings.ini's
// settings and highlights no model: Save, Delete, Change and Set as Standard have no model to
// act on until one is clicked.
TEST_F(HandyTest, AMissingStandardPhoneHighlightsNoModel) {
  WriteRows({kAlpha, kBeta});
  WriteRegistry("ID", "0000000099");
  THandyForm& form = OpenForm();
  QApplication::processEvents();
  EXPECT_TRUE(Highlighted(form).empty());
  EXPECT_EQ(Controls(form), kBuiltIn);
  const std::vector<std::string> before = PeerRows();
  struct Press {
    QPushButton* button;
    std::string message;
  } const presses[] = {
      {form.ui->btnSaveSettings, "No Mobile is selected. The settings were not saved"},
      {form.ui->btnDelHandy, "No Mobile is selected"},
      {form.ui->BitBtn1, "No Mobile is selected"},
      {form.ui->btnHandySet, "No Mobile is selected"},
  };
  for (const Press& press : presses) {
    SCOPED_TRACE(press.message);
    ui_.Clear();
    AnswerDialog(std::nullopt, std::nullopt, false);  // should the name dialog come up
    ui_.QueueAnswer(platform::kIdNo);                 // should the delete ask
    QTest::mouseClick(press.button, Qt::LeftButton);
    dialog_timer_.reset();
    EXPECT_TRUE(dialog_caption_.empty()) << "the name dialog came up";
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{press.message});
    EXPECT_TRUE(Highlighted(form).empty());
  }
  EXPECT_EQ(PeerRows(), before);
  EXPECT_EQ(RegistryValue("ID"), "0000000099");
  // A model added now is highlighted with its settings.
  ui_.Clear();
  AnswerDialog("Gamma", "C", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  EXPECT_EQ(Highlighted(form), std::vector<std::string>{"Gamma|C"});
  EXPECT_EQ(Controls(form), "Com 2|1024/1024|19200|7|2|Even|Hardware|10,10,10,20|10");
}

// Moving through the grid with the keys loads each row it moves to, as a click does.
TEST_F(HandyTest, TheArrowKeysLoadTheRowTheyMoveTo) {
  WriteRows({kAlpha, kBeta, kGamma});
  THandyForm& form = OpenForm();
  ClickRow(0);
  tz::TTzGrid& grid = *form.ui->grdMobilTel;
  grid.setFocus();
  QTest::keyClick(&grid, Qt::Key_Down);
  EXPECT_EQ(Highlighted(form), std::vector<std::string>{"Beta|B"});
  EXPECT_EQ(Controls(form), "Com 2|1024/1024|19200|7|2|Even|Hardware|10,10,10,20|6");
  form.ui->spnWarteOpen->setValue(555);
  QTest::keyClick(&grid, Qt::Key_Down);
  QTest::mouseClick(form.ui->btnSaveSettings, Qt::LeftButton);
  EXPECT_EQ(Fields(PeerRows()[1], 13).substr(Fields(PeerRows()[1], 12).size()), "|10");
  EXPECT_EQ(Highlighted(form), std::vector<std::string>{"Gamma|C"});
}

TEST_F(HandyTest, NewModelTakesTheNextIdAndTheSettingsOfTheHighest) {
  WriteRows({{"0000000041", "Siemens", "S45", 4, 2, "19200", "7", "2", "O", "Hardware", 512, 256,
              111, 222, 33, 44},
             {"0000000007", "Nokia", "6210"}});
  THandyForm& form = OpenForm();
  AnswerDialog("Ericsson", "T68", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  EXPECT_EQ(dialog_caption_, "New Mobile");
  EXPECT_EQ(dialog_texts_, "|");
  EXPECT_TRUE(ui_.Texts().empty());
  std::vector<std::string> rows = PeerRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2], "0000000042|Ericsson|T68|10|2|19200|7|2|O|Hardware|512|256|111|222|33|44");
  // The grid is back in maker order, the new model in its place.
  EXPECT_EQ(GridRows(), (std::vector<std::string>{"Ericsson|T68", "Nokia|6210", "Siemens|S45"}));

  // Abort adds nothing.
  AnswerDialog("Motorola", "V3", false);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  EXPECT_EQ(PeerRows().size(), 3u);
}

// Ids are never given twice: the next one is one above the highest id that reads as a number,
// whatever ids of other forms the table holds and wherever they sort; the new row takes the
// settings of the model with that id. When the next id would not fit the field, the model is
// not added.
TEST_F(HandyTest, NewIdsAreNeverOnesTheTableHolds) {
  const char kNoIdLeft[] = "There is no free Mobile id left. New Mobile could not be appended";
  struct Case {
    const char* what;
    std::vector<std::string> ids;
    std::string next;  // empty: refused
    size_t lender;     // the row whose settings the new one takes
  } const cases[] = {
      {"an id that is no number sorts last", {"0000000041", "A-17"}, "0000000042", 0},
      // No number: the last id in the id order lends its settings, as the highest would.
      {"only ids that are no number", {"A-17", "B-2"}, "0000000001", 1},
      {"digits, then a letter", {"0000000001", "0000000005", "00000000x1"}, "0000000006", 1},
      {"a number written short", {"0000000007", "42"}, "0000000043", 1},
      {"a number behind blanks", {"  900", "0000000041"}, "0000000901", 0},
      {"the last id that fits", {"9999999998"}, "9999999999", 0},
      {"no id left", {"0000000003", "9999999999"}, "", 0},
      // A deleted model keeps its id (the registry may still name it); "*" marks it deleted.
      {"the highest model was deleted", {"0000000004", "*0000000009"}, "0000000010", 0},
      {"deleted models around the one left", {"*0000000002", "0000000001", "*0000000003"},
       "0000000004", 1},
      {"a deleted model took the last id", {"0000000001", "*9999999999"}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CaseFolders folders;
    std::vector<ModelRow> rows;
    for (size_t i = 0; i < c.ids.size(); ++i) {
      const bool deleted = c.ids[i].starts_with("*");
      rows.push_back({c.ids[i].substr(deleted ? 1 : 0), "Maker", "M" + std::to_string(i), 5,
                      static_cast<int>(i) + 1});
      rows.back().waitopen = static_cast<int>(100 + i);
      rows.back().deleted = deleted;
    }
    WriteRows(rows);
    const std::vector<std::string> before = PeerRows();
    THandyForm& form = OpenForm();
    ui_.Clear();
    AnswerDialog("Added", "Model", true);
    QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
    std::vector<std::string> after = PeerRows();
    if (c.next.empty()) {
      EXPECT_EQ(ui_.Texts(), std::vector<std::string>{kNoIdLeft});
      EXPECT_EQ(after, before);
    } else {
      EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts().front();
      ASSERT_EQ(after.size(), before.size() + 1);
      const ModelRow& from = rows[c.lender];
      EXPECT_EQ(after.back(), c.next + "|Added|Model|10|" + std::to_string(from.comport) +
                                  "|9600|8|1|N|None|1024|1024|" + std::to_string(from.waitopen) +
                                  "|10|10|20");
    }
    form_.reset();
  }
}

TEST_F(HandyTest, FirstModelOfAnEmptyTableIsNumberOne) {
  THandyForm& form = OpenForm();
  AnswerDialog("Nokia", "3310", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  AnswerDialog("Nokia", "3410", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  std::vector<std::string> rows = PeerRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Fields(rows[0], 6), "0000000001|Nokia|3310|10|0|");
  EXPECT_EQ(Fields(rows[1], 3), "0000000002|Nokia|3410");
}

TEST_F(HandyTest, DuplicateModelsAreRefused) {
  const std::string long_vendor = "Very Long Vendor Name";  // 21 characters
  WriteRows({{"0000000001", "Nokia", "6210"}, {"0000000002", long_vendor.substr(0, 20), "X1"}});
  THandyForm& form = OpenForm();
  struct Case {
    const char* what;
    std::string vendor, type;
    bool refused;
  } const cases[] = {
      {"same names", "Nokia", "6210", true},
      {"other letter case", "NOKIA", "6210", true},
      {"type in lower case, trailing blanks", "nokia", "6210  ", true},
      {"vendor differs after 20 characters", long_vendor + "s", "X1", true},
      {"other type", "Nokia", "6310", false},
  };
  size_t rows = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.Clear();
    AnswerDialog(c.vendor, c.type, true);
    QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
    if (c.refused) {
      EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"This Mobile already exist in the database"});
    } else {
      EXPECT_TRUE(ui_.Texts().empty());
      ++rows;
    }
    EXPECT_EQ(PeerRows().size(), rows);
  }
}

TEST_F(HandyTest, RenameRefusesExistingNamesItsOwnIncluded) {
  WriteRows({{"0000000001", "Nokia", "6210"}, {"0000000002", "Siemens", "S45"}});
  THandyForm& form = OpenForm();
  ClickRow(1);  // Siemens
  AnswerDialog(std::nullopt, std::nullopt, true);
  QTest::mouseClick(form.ui->BitBtn1, Qt::LeftButton);
  EXPECT_EQ(dialog_caption_, "Change Mobile");
  EXPECT_EQ(dialog_texts_, "Siemens|S45");
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"This Mobile already exists in the database"});

  ui_.Clear();
  AnswerDialog("nokia", "6210", true);
  QTest::mouseClick(form.ui->BitBtn1, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"This Mobile already exists in the database"});

  ui_.Clear();
  AnswerDialog("Siemens", "ME45", true);
  QTest::mouseClick(form.ui->BitBtn1, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty());
  std::vector<std::string> rows = PeerRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Fields(rows[0], 3), "0000000001|Nokia|6210");
  EXPECT_EQ(Fields(rows[1], 3), "0000000002|Siemens|ME45");
  EXPECT_EQ(GridRows(), (std::vector<std::string>{"Nokia|6210", "Siemens|ME45"}));
}

// Each opening of the name dialog puts the cursor into Vendor, behind the names as they are
// stored but without their padding blanks, so what the user types goes where it is seen.
TEST_F(HandyTest, TheNameDialogOpensOnVendorWithTheNamesAsShown) {
  WriteRows({{"0000000001", "Nokia", "6210"}, {"0000000002", "Siemens", "S45"}});
  THandyForm& form = OpenForm();
  struct Step {
    const char* what;
    QPushButton* button;
    int row;  // clicked first, -1: none
    std::string keys;
    std::optional<std::string> type;
    std::string texts;  // the dialog came up with
    std::string grid;   // afterwards
  } const steps[] = {
      {"New Mobile", form.ui->btnNeuHandy, -1, "Motorola", "V3", "|",
       "Motorola|V3,Nokia|6210,Siemens|S45"},
      {"Change Mobile", form.ui->BitBtn1, 2, "-2", std::nullopt, "Siemens|S45",
       "Motorola|V3,Nokia|6210,Siemens-2|S45"},
      {"Change Mobile again", form.ui->BitBtn1, 1, " Lumia", std::nullopt, "Nokia|6210",
       "Motorola|V3,Nokia Lumia|6210,Siemens-2|S45"},
      {"New Mobile after a change", form.ui->btnNeuHandy, -1, "Alcatel", "OT", "|",
       "Alcatel|OT,Motorola|V3,Nokia Lumia|6210,Siemens-2|S45"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    ui_.Clear();
    if (step.row >= 0) ClickRow(step.row);
    AnswerDialog(std::nullopt, step.type, true, step.keys);
    QTest::mouseClick(step.button, Qt::LeftButton);
    EXPECT_EQ(dialog_focus_, "txtVendorName");
    EXPECT_EQ(dialog_texts_, step.texts);
    EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts().front();
    std::string grid;
    for (const std::string& row : GridRows()) grid += (grid.empty() ? "" : ",") + row;
    EXPECT_EQ(grid, step.grid);
  }
}

// A model needs a vendor and a type: Ok on an empty one (blanks count as empty) says so and
// keeps the dialog open with what was typed.
TEST_F(HandyTest, AnEmptyVendorOrTypeIsRefused) {
  WriteRows({{"0000000001", "Nokia", "6210"}});
  THandyForm& form = OpenForm();
  struct Case {
    const char* what;
    QPushButton* button;
    std::string vendor, type, message;
  } const cases[] = {
      {"new, no vendor", form.ui->btnNeuHandy, "", "3310", "Please enter the Vendor"},
      {"new, blank vendor", form.ui->btnNeuHandy, "   ", "3310", "Please enter the Vendor"},
      {"new, no type", form.ui->btnNeuHandy, "Nokia", "", "Please enter the Mobile Type"},
      {"new, nothing", form.ui->btnNeuHandy, "", "", "Please enter the Vendor"},
      {"change, no vendor", form.ui->BitBtn1, "", "6210", "Please enter the Vendor"},
      {"change, blank type", form.ui->BitBtn1, "Nokia", " ", "Please enter the Mobile Type"},
  };
  const std::vector<std::string> before = PeerRows();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.Clear();
    ClickRow(0);
    AnswerDialog(c.vendor, c.type, true);
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_TRUE(dialog_stayed_open_);
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(PeerRows(), before);
  }
}

TEST_F(HandyTest, DeleteOnlyAfterYes) {
  WriteRows({{"0000000001", "Nokia", "6210"}, {"0000000002", "Siemens", "S45"}});
  THandyForm& form = OpenForm();
  ClickRow(0);
  ui_.QueueAnswer(platform::kIdNo);
  QTest::mouseClick(form.ui->btnDelHandy, Qt::LeftButton);
  ASSERT_EQ(ui_.Texts(), std::vector<std::string>{"Do you really want do delete this Mobile?"});
  EXPECT_EQ(ui_.Messages()[0].flags & platform::kMbButtonMask, platform::kMbYesNo);
  EXPECT_EQ(PeerRows().size(), 2u);

  ui_.QueueAnswer(platform::kIdYes);
  QTest::mouseClick(form.ui->btnDelHandy, Qt::LeftButton);
  std::vector<std::string> rows = PeerRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Fields(rows[0], 3), "0000000002|Siemens|S45");
  EXPECT_EQ(GridRows(), std::vector<std::string>{"Siemens|S45"});
}

TEST_F(HandyTest, StandardPhoneOfAnEmptyTableIsRefused) {
  WriteRegistry("ID", "0000000005");
  THandyForm& form = OpenForm();
  QTest::mouseClick(form.ui->btnHandySet, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"There is no Mobile to set as Standard"});
  EXPECT_EQ(RegistryValue("ID"), "0000000005");

  WriteRows({{"0000000003", "Nokia", "6210"}});
  form_.reset();
  THandyForm& again = OpenForm();
  // The standard phone is not in the table, so no model is highlighted until one is clicked.
  ClickRow(0);
  ui_.Clear();
  QTest::mouseClick(again.ui->btnHandySet, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(RegistryValue("ID"), "0000000003");
}

TEST_F(HandyTest, Screenshots) {
  WriteRows({{"0000000001", "Nokia", "6210"},
             {"0000000002", "Siemens", "S45"},
             {"0000000003", "Wavecom", "Fasttrack"}});
  THandyForm& form = OpenForm();
  EXPECT_EQ(form.windowTitle(), "    Mobile phones");
  EXPECT_FALSE(platform::testing::SaveScreenshot(form, "vazor-main").empty());
  TMobileNew& dialog = *form.MobileNew;
  dialog.setWindowTitle("New Mobile");
  dialog.ui->txtVendorName->setText("Nokia");
  dialog.ui->txtMobileType->setText("6310i");
  EXPECT_FALSE(platform::testing::SaveScreenshot(dialog, "vazor-new-mobile").empty());
}

}  // namespace
}  // namespace handy

namespace handy {
namespace {

TEST_F(HandyTest, TwoProgramsAddingAtOnceGetDifferentIds) {
  WriteRows({{"0000000041", "Siemens", "S45"}});
  const int kEach = 25;
  platform::ChildProcess first(HANDY_ADDER, {"add", "First", std::to_string(kEach)});
  platform::ChildProcess second(HANDY_ADDER, {"add", "Second", std::to_string(kEach)});
  ASSERT_EQ(first.ReadLine(), "ready");
  ASSERT_EQ(second.ReadLine(), "ready");
  first.WriteLine("go");
  second.WriteLine("go");
  std::string done = "done " + std::to_string(kEach) + " duplicate 0 refused ";
  std::string first_done = first.ReadLine(60000), second_done = second.ReadLine(60000);
  EXPECT_TRUE(first_done.starts_with(done)) << first_done;
  EXPECT_TRUE(second_done.starts_with(done)) << second_done;
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);

  std::vector<std::string> rows = PeerRows();
  ASSERT_EQ(rows.size(), 1u + 2 * kEach);
  std::set<std::string> ids;
  for (const std::string& row : rows) ids.insert(row.substr(0, 10));
  EXPECT_EQ(ids.size(), rows.size()) << "two models got the same id";
  EXPECT_EQ(*ids.rbegin(), "00000000" + std::to_string(41 + 2 * kEach));
}

}  // namespace
}  // namespace handy

namespace handy {
namespace {

// Two programs that add or rename models to the same names at the same time store each name
// once: the test for a model already in the table runs under the lock that the write takes.
TEST_F(HandyTest, TwoProgramsNamingModelsAtOnceStoreEachNameOnce) {
  const int kEach = 30;
  struct Side {
    std::string from;  // empty: adds; else renames the rows of this vendor
  };
  struct Case {
    const char* what;
    Side first, second;
    bool empty;  // the table holds no row when they start
  } const cases[] = {
      {"two add", {""}, {""}, false},
      {"one adds, one renames", {""}, {"OldB"}, false},
      {"two rename", {"OldA"}, {"OldB"}, false},
      {"two add to an empty table", {""}, {""}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CaseFolders folders;
    std::vector<ModelRow> rows;
    int id = 0;
    if (!c.empty) rows.push_back({phone::ZeroPadNumber("", ++id, 10), "Other", "Model 1"});
    for (const Side* side : {&c.first, &c.second})
      for (int i = 1; !side->from.empty() && i <= kEach; ++i)
        rows.push_back({phone::ZeroPadNumber("", ++id, 10), side->from,
                        "Model " + std::to_string(i)});
    WriteRows(rows);
    auto start = [&](const Side& side) {
      std::vector<std::string> args = {side.from.empty() ? "add" : "rename"};
      if (!side.from.empty()) args.push_back(side.from);
      args.push_back("Same");
      args.push_back(std::to_string(kEach));
      return std::make_unique<platform::ChildProcess>(HANDY_ADDER, args);
    };
    auto first = start(c.first), second = start(c.second);
    ASSERT_EQ(first->ReadLine(), "ready");
    ASSERT_EQ(second->ReadLine(), "ready");
    first->WriteLine("go");
    second->WriteLine("go");
    std::string first_done = first->ReadLine(120000), second_done = second->ReadLine(120000);
    EXPECT_EQ(first->Wait(), 0) << first_done;
    EXPECT_EQ(second->Wait(), 0) << second_done;
    int done[2] = {}, duplicate[2] = {};
    for (int k = 0; k < 2; ++k)
      EXPECT_EQ(std::sscanf((k ? second_done : first_done).c_str(), "done %d duplicate %d",
                            &done[k], &duplicate[k]),
                2)
          << (k ? second_done : first_done);
    EXPECT_EQ(done[0] + done[1], kEach) << first_done << " / " << second_done;
    EXPECT_EQ(duplicate[0] + duplicate[1], kEach) << first_done << " / " << second_done;

    std::map<std::string, int> named;
    for (const std::string& row : PeerRows())
      if (Fields(row, 2).ends_with("|Same")) ++named[Fields(row, 3).substr(16)];
    EXPECT_EQ(named.size(), static_cast<size_t>(kEach));
    for (const auto& [model, times] : named) EXPECT_EQ(times, 1) << model << " stored twice";
  }
}

TEST_F(HandyTest, LocksHeldByAnotherProgramRefuseTheWrites) {
  WriteRows({{"0000000001", "Nokia", "6210"}, {"0000000002", "Siemens", "S45"}});
  const std::vector<std::string> before = PeerRows();
  platform::ChildProcess holder(TABLE_HOLDER, {});
  ASSERT_TRUE(holder.WriteLine("use " + apps::ProgramFolder() + apps::kTelstammFile));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("go 1"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("rlock"));
  ASSERT_EQ(holder.ReadLine(), "true");

  THandyForm& form = OpenForm();
  ClickRow(0);  // Nokia, record 1
  form.ui->spnWarteOpen->setValue(500);
  QTest::mouseClick(form.ui->btnSaveSettings, Qt::LeftButton);
  AnswerDialog("Nokia", "6310", true);
  QTest::mouseClick(form.ui->BitBtn1, Qt::LeftButton);
  ui_.QueueAnswer(platform::kIdYes);
  QTest::mouseClick(form.ui->btnDelHandy, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                             "Could not save settings",
                             "Database could not be locked. Mobile Name could not be changed",
                             "Do you really want do delete this Mobile?",
                             "Database could not be locked. Record not deleted"}));

  ASSERT_TRUE(holder.WriteLine("unlock"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("alock"));
  ASSERT_EQ(holder.ReadLine(), "true");
  ui_.Clear();
  AnswerDialog("Motorola", "V3", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"New Mobile could not be appended"});
  EXPECT_EQ(PeerRows(), before);

  // Once the other program lets go, the same writes go through.
  ASSERT_TRUE(holder.WriteLine("unlock"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ui_.Clear();
  AnswerDialog("Motorola", "V3", true);
  QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts().front();
  EXPECT_EQ(PeerRows().size(), 3u);
}

}  // namespace
}  // namespace handy

namespace handy {
namespace {

TEST_F(HandyTest, ModelsAddedAfterAnotherProgramWasKilledWhileAddingCountOn) {
  WriteRows({{"0000000001", "Nokia", "6210"}});
  std::mt19937 random(20261211);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    platform::ChildProcess adder(HANDY_ADDER,
                                 {"add", "Killed" + std::to_string(round), "100000"});
    ASSERT_EQ(adder.ReadLine(), "ready");
    adder.WriteLine("go");
    platform::SleepMs(20 + random() % 80);
    adder.Kill();

    // The next program opens the table as it was left and counts on from the highest id.
    THandyForm& form = OpenForm();
    AnswerDialog("After", std::to_string(round), true);
    QTest::mouseClick(form.ui->btnNeuHandy, Qt::LeftButton);
    EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts().front();
    form_.reset();
    std::vector<std::string> rows = PeerRows();
    std::set<std::string> ids;
    for (const std::string& row : rows) ids.insert(row.substr(0, 10));
    EXPECT_EQ(ids.size(), rows.size()) << "two models got the same id";
    int killed = 0;
    for (const std::string& row : rows) killed += row.find("|Killed") != std::string::npos;
    EXPECT_GT(killed, 0) << "the killed program added nothing";
    EXPECT_EQ(rows.back().substr(0, 10), *ids.rbegin());
    EXPECT_EQ(Fields(rows.back(), 3).substr(10), "|After|" + std::to_string(round));
  }
}

}  // namespace
}  // namespace handy
