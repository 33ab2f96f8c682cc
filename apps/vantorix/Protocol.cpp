#include "apps/vantorix/Protocol.h"

#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/listdialogs.h"
#include "platform/qt/application.h"
#include "ui_Protocol.h"

namespace vantorix {

TSMSProtocol::TSMSProtocol(TMainForm* MainForm)
    : QDialog(MainForm), ui(std::make_unique<Ui::TSMSProtocol>()) {
  ui->setupUi(this);
  setModal(true);
  MainForm->SMSProtocol = this;
  PutOnDataSource(*ui->grdProtokoll, *ui->TzNavigator1, MainForm->DSProtocol);
  connect(ui->btnClose, &QPushButton::clicked, this,
          platform::Handler([this] { btnCloseClick(); }));
}

TSMSProtocol::~TSMSProtocol() = default;

void TSMSProtocol::done(int result) {
  if (!LeaveEditing({ui->grdProtokoll})) return;
  QDialog::done(result);
}

}  // namespace vantorix
