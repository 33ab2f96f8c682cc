#include "apps/vantorix/Verbote.h"

#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/listdialogs.h"
#include "platform/qt/application.h"
#include "ui_Verbote.h"

namespace vantorix {

TfrmVerbote::TfrmVerbote(TMainForm* MainForm)
    : QDialog(MainForm), ui(std::make_unique<Ui::TfrmVerbote>()) {
  ui->setupUi(this);
  setModal(true);
  MainForm->frmVerbote = this;
  PutOnDataSource(*ui->grdVerbWorte, *ui->TzNavigator1, MainForm->DSVerbWordList);
  PutOnDataSource(*ui->TzGrid1, *ui->TzNavigator2, MainForm->DSVerbTelList);
  connect(ui->btnClose, &QPushButton::clicked, this,
          platform::Handler([this] { btnCloseClick(); }));
}

TfrmVerbote::~TfrmVerbote() = default;

void TfrmVerbote::done(int result) {
  if (!LeaveEditing({ui->grdVerbWorte, ui->TzGrid1})) return;
  QDialog::done(result);
}

}  // namespace vantorix
