#include "apps/vantorix/einstellungen.h"

#include <algorithm>
#include <exception>

#include "apps/common/apps_common.h"
#include "apps/vantorix/Unit1.h"
#include "platform/qt/application.h"
#include "platform/qt/qt_text.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tables/engine/tzcommon.h"
#include "ui_einstellungen.h"

namespace vantorix {

TfrmEinstell::TfrmEinstell(TMainForm* MainForm)
    : QDialog(MainForm), ui(std::make_unique<Ui::TfrmEinstell>()), MainForm_(*MainForm) {
  ui->setupUi(this);
  setModal(true);
  MainForm->frmEinstell = this;
  // The PIN is sent to the phone as typed; it cannot be longer than a valid one.
  ui->Edit1->setMaxLength(8);
  connect(ui->btnOK, &QPushButton::clicked, this, platform::Handler([this] { btnOKClick(); }));
  connect(ui->btnAbbruch, &QPushButton::clicked, this,
          platform::Handler([this] { btnAbbruchClick(); }));
}

TfrmEinstell::~TfrmEinstell() = default;

void TfrmEinstell::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TfrmEinstell::FormShow() {
  ui->cboMobilTel->clear();
  for (const std::string& name : MainForm_.MobileNames)
    ui->cboMobilTel->addItem(platform::ToQString(name));
  ui->cboComPort->clear();
  for (const std::string& name : MainForm_.ComPortNames)
    ui->cboComPort->addItem(platform::ToQString(name));
  ui->spnWerbeSMS->setValue(MainForm_.AdInterval);
  ui->chkPruefTel->setChecked(MainForm_.CheckNumbers);
  ui->chkPruefWorte->setChecked(MainForm_.CheckWords);
  const auto& ids = MainForm_.MobileIds;
  auto id = std::find(ids.begin(), ids.end(), MainForm_.MobileId);
  ui->cboMobilTel->setCurrentIndex(id == ids.end() ? -1 : static_cast<int>(id - ids.begin()));
  // A port the list does not hold selects none.
  int port = MainForm_.ComPortNo - 1;
  ui->cboComPort->setCurrentIndex(port >= 0 && port < ui->cboComPort->count() ? port : -1);
  ui->Edit1->setText(platform::ToQString(MainForm_.MobilePin));
}

void TfrmEinstell::btnOKClick() {
  std::string pin = platform::FromQString(ui->Edit1->text());
  if (!pin.empty() && !IsValidPin(pin)) {
    platform::ShowMessage("The mobile PIN must be 4 to 8 digits.");
    ui->Edit1->setFocus();
    return;
  }
  int model = ui->cboMobilTel->currentIndex();
  bool model_chosen = model >= 0 && model < static_cast<int>(MainForm_.MobileIds.size());
  int port = ui->cboComPort->currentIndex();
  bool port_chosen = port >= 0;

  MainForm_.MobilePin = pin;
  MainForm_.CheckWords = ui->chkPruefWorte->isChecked();
  MainForm_.CheckNumbers = ui->chkPruefTel->isChecked();
  MainForm_.AdInterval = ui->spnWerbeSMS->value();
  MainForm_.AdsEnabled = MainForm_.AdInterval != 0;
  if (model_chosen) MainForm_.MobileId = MainForm_.MobileIds[static_cast<size_t>(model)];
  if (port_chosen) MainForm_.ComPortNo = port + 1;

  try {
    platform::RegIniFile registry(apps::kRegistryKey);
    const char* section = apps::kRegistrySection;
    registry.WriteString(section, "ID", MainForm_.MobileId);
    registry.WriteString(section, "Pin", MainForm_.MobilePin);
    registry.WriteInteger(section, "Port", MainForm_.ComPortNo);
    registry.WriteInteger(section, "Werbeinterval", MainForm_.AdInterval);
    registry.WriteBool(section, "PruefTel", MainForm_.CheckNumbers);
    registry.WriteBool(section, "PruefWorte", MainForm_.CheckWords);
  } catch (const std::exception&) {
    platform::ShowMessage("Error while saving settings");
  }

  if (model_chosen && port_chosen) StoreComPort(port + 1);
  FindNextAdvertisement();
  accept();
}

void TfrmEinstell::btnAbbruchClick() {
  reject();
}

// A table error here is shown and the other steps of OK run: the phone row keeps what it
// stored, and the table is back on its own order.
void TfrmEinstell::StoreComPort(int32_t port) {
  tz::TTzDbf& phones = MainForm_.DBMobilTel;
  if (!phones.Active()) {
    platform::ShowMessage("Mobile not found in database");
    return;
  }
  RaiseErrorsScope raise;
  RunShowingErrors([&] {
    std::string tag = phones.CurrentTag();
    phones.SetOrderToTag("ID");
    RunShowingErrors([&] {
      if (!phones.FindExact(MainForm_.MobileId))
        platform::ShowMessage("Mobile not found in database");
      else if (!WriteUnderLock(phones, false, [&] {
                 phones.FieldPutInt("COMPORT", port);
                 phones.ReplaceRec();
               }))
        platform::ShowMessage("Could not save settings");
    });
    phones.SetOrderToTag(tag);
  });
}

// The advertisement table stays on the row found: it is the next one the loop shows.
void TfrmEinstell::FindNextAdvertisement() {
  tz::TTzDbf& ads = MainForm_.DBWerbung;
  if (ads.Active()) {
    ads.GoTop();
    while (!ads.AtEof() && !ads.FieldGetBool("AKTIV")) ads.Skip(1);
  }
  if (!ads.Active() || ads.AtEof()) {
    MainForm_.AdsEnabled = false;
    platform::ShowMessage("No active advertisement. Program launched without advertising");
  }
}

}  // namespace vantorix
