#include "apps/handy/NewMobile.h"

#include <utility>

#include "platform/qt/application.h"
#include "platform/ui.h"
#include "ui_NewMobile.h"

namespace handy {

TMobileNew::TMobileNew(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TMobileNew>()) {
  ui->setupUi(this);
  connect(ui->BtnOK, &QPushButton::clicked, this, platform::Handler([this] { BtnOKClick(); }));
  connect(ui->btnAbort, &QPushButton::clicked, this,
          platform::Handler([this] { btnAbortClick(); }));
}

TMobileNew::~TMobileNew() = default;

void TMobileNew::setVisible(bool visible) {
  QDialog::setVisible(visible);
  if (!visible) return;
  // Otherwise the focus stays where the last opening left it (the Ok button).
  ui->txtVendorName->setFocus(Qt::OtherFocusReason);
  ui->txtVendorName->end(false);
}

void TMobileNew::BtnOKClick() {
  // A model is found by its vendor and type; stored blanks are no name.
  for (auto [edit, message] : {std::pair{ui->txtVendorName, "Please enter the Vendor"},
                               std::pair{ui->txtMobileType, "Please enter the Mobile Type"}}) {
    if (!edit->text().trimmed().isEmpty()) continue;
    platform::ShowMessage(message);
    edit->setFocus(Qt::OtherFocusReason);
    return;
  }
  accept();
}

}  // namespace handy
