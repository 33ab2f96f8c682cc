#include "apps/handy/NewMobile.h"

#include "platform/qt/application.h"
#include "ui_NewMobile.h"

namespace handy {

TMobileNew::TMobileNew(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TMobileNew>()) {
  ui->setupUi(this);
  connect(ui->BtnOK, &QPushButton::clicked, this, platform::Handler([this] { BtnOKClick(); }));
  connect(ui->btnAbort, &QPushButton::clicked, this,
          platform::Handler([this] { btnAbortClick(); }));
}

TMobileNew::~TMobileNew() = default;

}  // namespace handy
