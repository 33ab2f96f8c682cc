// Vazor's main window: its set-up, the phone-model table and the settings of the selected
// model. The phone buttons are in Handytest_phone.cpp.
#include "apps/handy/Handytest.h"

#include <QScreen>
#include <algorithm>
#include <charconv>
#include <exception>
#include <utility>

#include "apps/common/apps_common.h"
#include "apps/handy/NewMobile.h"
#include "phone/Tokens.h"
#include "platform/ini.h"
#include "platform/qt/application.h"
#include "platform/qt/qt_text.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tables/engine/tzutils.h"
#include "ui_Handytest.h"
#include "ui_NewMobile.h"

namespace handy {

namespace {

// The first 20 characters of the vendor count, so the key is the HERSTELLER tag's key.
std::string DuplicateKey(const std::string& vendor, const std::string& type) {
  return (tz::Upper(vendor) + std::string(20, ' ')).substr(0, 20) + tz::RTrim(tz::Upper(type));
}

// Selects the first item whose text is `text` exactly; none when no item has it.
void SelectText(QComboBox& combo, const std::string& text) {
  combo.setCurrentIndex(
      combo.findText(platform::ToQString(text), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

std::string Text(const QComboBox& combo) {
  return platform::FromQString(combo.currentText());
}

// Ids are ten digits with leading zeros.
constexpr int kIdWidth = 10;
constexpr uint64_t kLastId = 9999999999;

// An id that reads as a number: decimal digits and nothing else, blanks around them aside.
bool ReadId(const std::string& text, uint64_t& number) {
  std::string digits = tz::AllTrim(text);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return ec == std::errc() && end == digits.data() + digits.size();
}

// Holds back the dataset's notifications (the grid's) while a handler walks it.
class TControlsHeld {
 public:
  explicit TControlsHeld(tz::TTzDbf& table) : table_(table) { table_.DisableControls(); }
  ~TControlsHeld() { table_.EnableControls(); }
  TControlsHeld(const TControlsHeld&) = delete;
  TControlsHeld& operator=(const TControlsHeld&) = delete;

 private:
  tz::TTzDbf& table_;
};

// Releases every lock of the table's work area at the latest when it goes out of scope.
class TLocksHeld {
 public:
  explicit TLocksHeld(tz::TTzDbf& table) : table_(&table) {}
  ~TLocksHeld() {
    try {
      Release();
    } catch (...) {
      // Unwinding already; a table that cannot unlock has reported its error.
    }
  }
  TLocksHeld(const TLocksHeld&) = delete;
  TLocksHeld& operator=(const TLocksHeld&) = delete;
  void Release() {
    if (table_) std::exchange(table_, nullptr)->UnLock();
  }

 private:
  tz::TTzDbf* table_;
};

void Fill(QComboBox& combo, const QStringList& items) {
  combo.clear();
  combo.addItems(items);
}

}  // namespace

// While it lives a handler moves the table about (seeks, walks, writes, messages about them):
// the grid follows without a row being loaded. At its end the grid highlights the row the
// settings controls show, or none.
class THandyForm::TTableOperation {
 public:
  explicit TTableOperation(THandyForm& form) : form_(form) { ++form_.table_busy_; }
  ~TTableOperation() {
    if (--form_.table_busy_ > 0) return;
    try {
      form_.HighlightShownRow();
    } catch (...) {
      // Unwinding already; the table has reported what failed.
    }
  }
  TTableOperation(const TTableOperation&) = delete;
  TTableOperation& operator=(const TTableOperation&) = delete;

 private:
  THandyForm& form_;
};

TSerialSettings ReadSettingsIni() {
  platform::IniFile ini(apps::ProgramFolder() + "settings.ini");
  TSerialSettings s;
  s.Port = ini.ReadInteger("COM", "Port", s.Port);
  s.InputBuffer = ini.ReadInteger("COM", "InputBuffer", s.InputBuffer);
  s.OutputBuffer = ini.ReadInteger("COM", "OutputBuffer", s.OutputBuffer);
  s.Baud = ini.ReadString("COM", "Baud", s.Baud);
  s.DataBit = ini.ReadString("COM", "DataBit", s.DataBit);
  s.StopBit = ini.ReadString("COM", "StopBit", s.StopBit);
  s.Parity = ini.ReadString("COM", "Parity", s.Parity);
  s.FlowContr = ini.ReadString("COM", "FlowContr", s.FlowContr);
  s.WarteOpen = ini.ReadInteger("COM", "WarteOpen", s.WarteOpen);
  s.WarteClose = ini.ReadInteger("COM", "WarteClose", s.WarteClose);
  s.WarteSenden = ini.ReadInteger("COM", "WarteSenden", s.WarteSenden);
  s.WarteEmpfangen = ini.ReadInteger("COM", "WarteEmpfangen", s.WarteEmpfangen);
  return s;
}

THandyForm::THandyForm(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::THandyForm>()), DSMobilTel(&DBMobilTel) {
  ui->setupUi(this);

  DBMobilTel.SetName("DBMobilTel");
  DBMobilTel.DbfFields() = apps::TelstammFields();
  DBMobilTel.IndexList() = apps::TelstammIndex();
  DBMobilTel.SetTableLanguage(tz::tlOem);
  DBMobilTel.SetExclusive(false);
  DBMobilTel.SetReadOnly(false);
  DBMobilTel.SetCreateIndex(tz::ciNotFound);
  DBNameLock.SetName("DBNameLock");
  DBNameLock.DbfFields() = apps::TelstammFields();
  DBNameLock.IndexList() = apps::TelstammIndex();
  DBNameLock.SetTableLanguage(tz::tlOem);
  DBNameLock.SetExclusive(false);
  DBNameLock.SetCreateIndex(tz::ciNotFound);

  tz::TTzGrid& grid = *ui->grdMobilTel;
  platform::TGridColumn maker, model;
  maker.FieldName = "HERSTELLER";
  model.FieldName = "MODELL";
  grid.Columns() = {maker, model};
  grid.SetRowSelect(true);
  grid.SetReadOnly(true);
  grid.SetEditing(false);
  grid.SetAutoAppend(false);

  connect(&grid, &platform::TDataGrid::CellClicked, this,
          platform::Handler([this] { grdMobilTelCellClick(); }));
  connect(grid.selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          platform::Handler([this](const QModelIndex& current) { GridRowChanged(current); }));
  connect(ui->btnSaveSettings, &QPushButton::clicked, this,
          platform::Handler([this] { btnSaveSettingsClick(); }));
  connect(ui->btnHandySet, &QPushButton::clicked, this,
          platform::Handler([this] { btnHandySetClick(); }));
  connect(ui->btnNeuHandy, &QPushButton::clicked, this,
          platform::Handler([this] { btnNeuHandyClick(); }));
  connect(ui->BitBtn1, &QPushButton::clicked, this, platform::Handler([this] { BitBtn1Click(); }));
  connect(ui->btnDelHandy, &QPushButton::clicked, this,
          platform::Handler([this] { btnDelHandyClick(); }));
  connect(ui->btnEnde, &QPushButton::clicked, this, platform::Handler([this] { btnEndeClick(); }));
  connect(ui->btnKommOpen, &QPushButton::clicked, this,
          platform::Handler([this] { btnKommOpenClick(); }));
  connect(ui->btnKommClose, &QPushButton::clicked, this,
          platform::Handler([this] { btnKommCloseClick(); }));
  connect(ui->btnHersteller, &QPushButton::clicked, this,
          platform::Handler([this] { btnHerstellerClick(); }));
  connect(ui->btnModell, &QPushButton::clicked, this,
          platform::Handler([this] { btnModellClick(); }));
  connect(ui->btnSmsHolen, &QPushButton::clicked, this,
          platform::Handler([this] { btnSmsHolenClick(); }));
  connect(ui->btnSMSDecode, &QPushButton::clicked, this,
          platform::Handler([this] { btnSMSDecodeClick(); }));
  connect(ui->btnDelSMS, &QPushButton::clicked, this,
          platform::Handler([this] { btnDelSMSClick(); }));
  connect(ui->Button1, &QPushButton::clicked, this, platform::Handler([this] { Button1Click(); }));

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

THandyForm::~THandyForm() {
  ui->grdMobilTel->SetDataSource(nullptr);
}

void THandyForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void THandyForm::FormShow() {
  SetConnected(false);
  Fill(*ui->cboComPort, {"Com 1", "Com 2", "Com 3", "Com 4"});
  Fill(*ui->cboBaudRate, {"2400", "4800", "9600", "19200", "38400", "57600", "115200"});
  Fill(*ui->cboDataBit, {"5", "6", "7", "8"});
  Fill(*ui->cboStopBit, {"1", "1,5", "2"});
  Fill(*ui->cboParity, {"Even", "Odd", "None", "Mark", "Space"});
  Fill(*ui->cboFlowContr, {"XOn / XOff", "Hardware", "None"});
  ParityLetters = {"E", "O", "N", "M", "S"};

  std::string id = "0000000001";
  int32_t sms_stack = 10;
  try {
    platform::RegIniFile registry(apps::kRegistryKey);
    id = registry.ReadString(apps::kRegistrySection, "ID", id);
    sms_stack = registry.ReadInteger(apps::kRegistrySection, "SMSStack", sms_stack);
  } catch (const std::exception&) {
    // A value that is no number keeps its default.
  }
  ui->spnSMSStack->setValue(sms_stack);

  TTableOperation operation(*this);
  DBMobilTel.SetDbfFileName(apps::ProgramFolder() + apps::kTelstammFile);
  DBMobilTel.Open();
  DBMobilTel.SetHideDeletedRecs(true);
  DBNameLock.SetDbfFileName(DBMobilTel.DbfFileName());
  DBNameLock.Open();

  DBMobilTel.SetOrderToTag("ID");
  if (DBMobilTel.FindExact(id)) {
    LoadRow();
  } else {
    // The settings belong to no row: none is highlighted (the seek left the table on the last
    // record), so that Save cannot write them into a model they are not.
    ShowSettings(ReadSettingsIni(), ui->spnSMSStack->value());
    ShowNoRow();
  }
  DBMobilTel.SetOrderToTag("Hersteller");
  ui->grdMobilTel->SetDataSource(&DSMobilTel);
}

void THandyForm::ShowSettings(const TSerialSettings& s, int32_t sms_stack) {
  // A port outside the four items leaves the combo without a selection.
  ui->cboComPort->setCurrentIndex(s.Port >= 1 && s.Port <= ui->cboComPort->count() ? s.Port - 1
                                                                                   : -1);
  ui->spnInpBuffer->setValue(s.InputBuffer);
  ui->spnOutBuffer->setValue(s.OutputBuffer);
  SelectText(*ui->cboBaudRate, s.Baud);
  SelectText(*ui->cboStopBit, s.StopBit);
  SelectText(*ui->cboDataBit, s.DataBit);
  SelectText(*ui->cboFlowContr, s.FlowContr);
  int parity = -1;
  for (size_t i = 0; i < ParityLetters.size(); ++i)
    if (ParityLetters[i] == s.Parity) parity = static_cast<int>(i);
  ui->cboParity->setCurrentIndex(parity);
  ui->spnWarteOpen->setValue(s.WarteOpen);
  ui->spnWarteClose->setValue(s.WarteClose);
  ui->spnWarteSenden->setValue(s.WarteSenden);
  ui->spnWarteEmpfangen->setValue(s.WarteEmpfangen);
  ui->spnSMSStack->setValue(sms_stack <= 0 ? 10 : sms_stack);
}

void THandyForm::LoadRow() {
  TSerialSettings s;
  s.Baud = tz::RTrim(DBMobilTel.FieldGet("BAUDRATE"));
  s.DataBit = tz::RTrim(DBMobilTel.FieldGet("DATABITS"));
  s.StopBit = tz::RTrim(DBMobilTel.FieldGet("STOPBITS"));
  s.Parity = tz::RTrim(DBMobilTel.FieldGet("PARITY"));
  s.FlowContr = tz::RTrim(DBMobilTel.FieldGet("FLOWCONTR"));
  s.WarteOpen = DBMobilTel.FieldGetInt("WAITOPEN");
  s.WarteClose = DBMobilTel.FieldGetInt("WAITCLOSE");
  s.WarteSenden = DBMobilTel.FieldGetInt("WAITSEND");
  s.WarteEmpfangen = DBMobilTel.FieldGetInt("WAITREC");
  s.Port = DBMobilTel.FieldGetInt("COMPORT");
  s.InputBuffer = DBMobilTel.FieldGetInt("INPUTBUF");
  s.OutputBuffer = DBMobilTel.FieldGetInt("OUTPUTBUF");
  ShowSettings(s, DBMobilTel.FieldGetInt("SMSSTACK"));
  shown_record_ = followed_record_ = DBMobilTel.RecNo();
  shown_id_ = DBMobilTel.FieldGet("ID");
}

void THandyForm::ShowNoRow() {
  shown_record_ = 0;
  shown_id_.clear();
}

bool THandyForm::RowShown() {
  if (shown_record_ != 0) return true;
  platform::ShowMessage("No Mobile is selected");
  return false;
}

void THandyForm::HighlightShownRow() {
  followed_record_ = DBMobilTel.Active() && !DBMobilTel.IsEmpty() ? DBMobilTel.RecNo() : 0;
  if (shown_record_ == 0) ui->grdMobilTel->selectionModel()->clear();
}

void THandyForm::GridRowChanged(const QModelIndex& current) {
  // Rows read anew or put above the others move the grid's current row but not the table.
  if (table_busy_ > 0 || !current.isValid() || !DBMobilTel.Active() || DBMobilTel.IsEmpty() ||
      DBMobilTel.State() != platform::dataset::dsBrowse)
    return;
  if (DBMobilTel.RecNo() != followed_record_) LoadRow();
}

void THandyForm::grdMobilTelCellClick() {
  if (DBMobilTel.Active() && !DBMobilTel.IsEmpty()) LoadRow();
}

void THandyForm::btnSaveSettingsClick() {
  if (!DBMobilTel.Active() || DBMobilTel.IsEmpty()) {
    platform::ShowMessage("Could not save settings");
    return;
  }
  if (shown_record_ == 0) {
    platform::ShowMessage("No Mobile is selected. The settings were not saved");
    return;
  }
  TTableOperation operation(*this);
  // The settings go into the row they were loaded from, whichever the table stands on.
  if (DBMobilTel.RecNo() != shown_record_) DBMobilTel.Go(shown_record_);
  if (!DBMobilTel.RLock()) {
    platform::ShowMessage("Could not save settings");
    return;
  }
  TLocksHeld lock(DBMobilTel);
  // Another program may have deleted the model since it was loaded: under the lock its record
  // is read anew.
  DBMobilTel.Skip(0);
  if (DBMobilTel.IsDeleted() || DBMobilTel.FieldGet("ID") != shown_id_) {
    lock.Release();
    // The row leaves the grid: its rows are read anew from a visible record, and none is
    // highlighted, since the controls show a model that is gone.
    {
      TControlsHeld held(DBMobilTel);
      DBMobilTel.GoTop();
    }
    ShowNoRow();
    platform::ShowMessage("This Mobile is no longer in the database. The settings were not saved");
    return;
  }
  // A combo without a selection has nothing to say: its field keeps what the row holds.
  DBMobilTel.FieldPutInt("smsstack", ui->spnSMSStack->value());
  if (ui->cboComPort->currentIndex() >= 0)
    DBMobilTel.FieldPutInt("COMPORT", ui->cboComPort->currentIndex() + 1);
  if (ui->cboBaudRate->currentIndex() >= 0)
    DBMobilTel.FieldPutStr("BAUDRATE", Text(*ui->cboBaudRate));
  if (ui->cboDataBit->currentIndex() >= 0)
    DBMobilTel.FieldPutStr("DATABITS", Text(*ui->cboDataBit));
  if (ui->cboStopBit->currentIndex() >= 0)
    DBMobilTel.FieldPutStr("STOPBITS", Text(*ui->cboStopBit));
  int parity = ui->cboParity->currentIndex();
  if (parity >= 0 && parity < static_cast<int>(ParityLetters.size()))
    DBMobilTel.FieldPutStr("PARITY", ParityLetters[parity]);
  if (ui->cboFlowContr->currentIndex() >= 0)
    DBMobilTel.FieldPutStr("FLOWCONTR", Text(*ui->cboFlowContr));
  DBMobilTel.FieldPutInt("INPUTBUF", ui->spnInpBuffer->value());
  DBMobilTel.FieldPutInt("OUTPUTBUF", ui->spnOutBuffer->value());
  DBMobilTel.FieldPutInt("WAITOPEN", ui->spnWarteOpen->value());
  DBMobilTel.FieldPutInt("WAITCLOSE", ui->spnWarteClose->value());
  DBMobilTel.FieldPutInt("WAITSEND", ui->spnWarteSenden->value());
  DBMobilTel.FieldPutInt("WAITREC", ui->spnWarteEmpfangen->value());
  DBMobilTel.ReplaceRec();
}

void THandyForm::btnHandySetClick() {
  // An empty table has no row to name: its id would be blanks.
  if (!DBMobilTel.Active() || DBMobilTel.IsEmpty()) {
    platform::ShowMessage("There is no Mobile to set as Standard");
    return;
  }
  if (!RowShown()) return;
  try {
    std::string id = DBMobilTel.FieldGet("ID");
    platform::RegIniFile registry(apps::kRegistryKey);
    registry.WriteString(apps::kRegistrySection, "ID", id);
  } catch (const std::exception&) {
    platform::ShowMessage("Error while saving settings");
  }
}

bool THandyForm::MobileExists(const std::string& vendor, const std::string& type) {
  DBMobilTel.SetOrderToTag("hersteller");
  return DBMobilTel.FindExact(DuplicateKey(vendor, type));
}

bool THandyForm::NextId(std::string& id) {
  // Ids written by other programs need not be ten digits: "42" and "A-17" sort after
  // "0000000041" in the id order, so every row is looked at. A deleted model keeps its id (the
  // registry may still name it as the standard phone): the second work area, which shows
  // deleted records, counts those too.
  uint64_t highest = 0;
  for (DBNameLock.GoTop(); !DBNameLock.AtEof(); DBNameLock.Skip(1)) {
    uint64_t number = 0;
    if (ReadId(DBNameLock.FieldGet("ID"), number)) highest = std::max(highest, number);
  }
  DBMobilTel.SetOrderToTag("id");
  // The model shown with the highest id lends the new one its settings.
  uint64_t lender_id = 0;
  int32_t lender = 0;
  {
    TControlsHeld held(DBMobilTel);
    for (DBMobilTel.GoTop(); !DBMobilTel.AtEof(); DBMobilTel.Skip(1)) {
      uint64_t number = 0;
      if (ReadId(DBMobilTel.FieldGet("ID"), number) && (lender == 0 || number >= lender_id)) {
        lender_id = number;
        lender = DBMobilTel.RecNo();
      }
    }
    if (lender != 0)
      DBMobilTel.Go(lender);
    else
      DBMobilTel.GoBottom();
  }
  if (highest >= kLastId) return false;
  id = phone::ZeroPadNumber("", static_cast<int64_t>(highest + 1), kIdWidth);
  return true;
}

void THandyForm::AddMobile(const std::string& vendor, const std::string& type) {
  TTableOperation operation(*this);
  const int32_t record = DBMobilTel.IsEmpty() ? 0 : DBMobilTel.RecNo();
  const std::string tag = DBMobilTel.CurrentTag();
  std::string refusal;
  if (!DBMobilTel.ALock()) {
    refusal = "New Mobile could not be appended";
  } else {
    // Under the append lock a second program adding the same model at the same time waits
    // for this row and then finds it; the last id too is read only now, so that program
    // counts on from this row. The record the table then stands on, the one with the highest
    // id, lends the new row its serial settings and waits.
    TLocksHeld locks(DBMobilTel);
    std::string id;
    if (MobileExists(vendor, type)) {
      refusal = "This Mobile already exist in the database";
    } else if (!NextId(id)) {
      refusal = "There is no free Mobile id left. New Mobile could not be appended";
    } else {
      DBMobilTel.SetOrderToTag("hersteller");
      DBMobilTel.FieldPutStr("ID", id);
      DBMobilTel.FieldPutStr("HERSTELLER", vendor);
      DBMobilTel.FieldPutStr("MODELL", type);
      DBMobilTel.FieldPutInt("smsstack", 10);
      DBMobilTel.AppendRec();
    }
  }
  // Added: the new model is the current row, and its settings are shown.
  if (refusal.empty()) LoadRow();
  // Refused: the seeks stood on other models; the user's row stays the current one, so that
  // the next Save or rename does not write into a model found.
  if (!refusal.empty() && record > 0) DBMobilTel.Go(record);
  DBMobilTel.SetOrderToTag(tag);
  // No box while a lock is held: another program would wait for the user.
  if (!refusal.empty()) platform::ShowMessage(refusal);
}

void THandyForm::btnNeuHandyClick() {
  MobileNew->ui->txtVendorName->clear();
  MobileNew->ui->txtMobileType->clear();
  MobileNew->setWindowTitle("New Mobile");
  if (MobileNew->exec() != QDialog::Accepted) return;
  AddMobile(platform::FromQString(MobileNew->ui->txtVendorName->text()),
            platform::FromQString(MobileNew->ui->txtMobileType->text()));
}

void THandyForm::RenameMobile(const std::string& vendor, const std::string& type) {
  TTableOperation operation(*this);
  const int32_t record = DBMobilTel.RecNo();
  const std::string tag = DBMobilTel.CurrentTag();
  std::string refusal;
  // The record's lock for the write, and the table's append lock, taken in the second work
  // area, so that no other program adds or renames a model to these names between the look
  // for them and the write (one work area holds either the append lock or record locks).
  TLocksHeld names(DBNameLock);
  TLocksHeld row(DBMobilTel);
  if (!DBNameLock.ALock() || !DBMobilTel.RLock()) {
    refusal = "Database could not be locked. Mobile Name could not be changed";
  } else if (MobileExists(vendor, type)) {
    refusal = "This Mobile already exists in the database";
    DBMobilTel.Go(record);
  } else {
    DBMobilTel.Go(record);
    DBMobilTel.FieldPutStr("HERSTELLER", vendor);
    DBMobilTel.FieldPutStr("MODELL", type);
    DBMobilTel.ReplaceRec();
  }
  DBMobilTel.SetOrderToTag(tag);
  row.Release();
  names.Release();
  if (!refusal.empty()) platform::ShowMessage(refusal);
}

void THandyForm::BitBtn1Click() {
  if (!DBMobilTel.Active() || DBMobilTel.IsEmpty() || !RowShown()) return;
  MobileNew->setWindowTitle("Change Mobile");
  // The names without the blanks that pad them to the field's width: the cursor goes after
  // what the user sees, and what he types stays inside the field.
  MobileNew->ui->txtVendorName->setText(
      platform::ToQString(tz::RTrim(DBMobilTel.FieldGet("HERSTELLER"))));
  MobileNew->ui->txtMobileType->setText(
      platform::ToQString(tz::RTrim(DBMobilTel.FieldGet("MODELL"))));
  if (MobileNew->exec() != QDialog::Accepted) return;
  RenameMobile(platform::FromQString(MobileNew->ui->txtVendorName->text()),
               platform::FromQString(MobileNew->ui->txtMobileType->text()));
}

void THandyForm::btnDelHandyClick() {
  if (!DBMobilTel.Active() || DBMobilTel.IsEmpty() || !RowShown()) return;
  if (platform::MessageBox("Do you really want do delete this Mobile?",
                           platform::ApplicationTitle(),
                           platform::kMbYesNo | platform::kMbIconQuestion) != platform::kIdYes)
    return;
  TTableOperation operation(*this);
  if (DBMobilTel.RLock()) {
    DBMobilTel.DeleteRec();
    DBMobilTel.UnLock();
    // The table stands on the next model now: its settings are the ones shown.
    if (DBMobilTel.IsEmpty())
      ShowNoRow();
    else
      LoadRow();
  } else {
    platform::ShowMessage("Database could not be locked. Record not deleted");
  }
}

void THandyForm::btnEndeClick() {
  close();
}

}  // namespace handy
