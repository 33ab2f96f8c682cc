#include "apps/handy/NewMobile.h"

#include "ui_NewMobile.h"

namespace handy {

TMobileNew::TMobileNew(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TMobileNew>()) {
  ui->setupUi(this);
  connect(ui->BtnOK, &QPushButton::clicked, this, [this] { BtnOKClick(); });
  connect(ui->btnAbort, &QPushButton::clicked, this, [this] { btnAbortClick(); });
}

TMobileNew::~TMobileNew() = default;

}  // namespace handy
