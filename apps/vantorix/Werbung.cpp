#include "apps/vantorix/Werbung.h"

#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/listdialogs.h"
#include "platform/qt/application.h"
#include "ui_Werbung.h"

namespace vantorix {

TWerbetexte::TWerbetexte(TMainForm* MainForm)
    : QDialog(MainForm), ui(std::make_unique<Ui::TWerbetexte>()) {
  ui->setupUi(this);
  setModal(true);
  MainForm->Werbetexte = this;
  // The columns stand under the labels "Advertisement Text" and "Active".
  platform::TGridColumn text, active;
  text.FieldName = "WERBETEXT";
  text.Width = 386;
  active.FieldName = "AKTIV";
  active.Width = 60;
  ui->TzGrid1->Columns() = {text, active};
  ui->TzGrid1->ColumnsChanged();
  PutOnDataSource(*ui->TzGrid1, *ui->TzNavigator1, MainForm->DSWerbung);
  connect(ui->btnClose, &QPushButton::clicked, this,
          platform::Handler([this] { btnCloseClick(); }));
  FormCreate();
}

TWerbetexte::~TWerbetexte() = default;

void TWerbetexte::done(int result) {
  if (!LeaveEditing({ui->TzGrid1})) return;
  QDialog::done(result);
}

}  // namespace vantorix
