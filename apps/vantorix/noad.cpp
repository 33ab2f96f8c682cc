#include "apps/vantorix/noad.h"

#include "platform/qt/application.h"
#include "ui_noad.h"

namespace vantorix {

TNoAdForm::TNoAdForm(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TNoAdForm>()) {
  ui->setupUi(this);
  Timer1.setInterval(1000);
  connect(ui->Button1, &QPushButton::clicked, this, platform::Handler([this] { Button1Click(); }));
  connect(&Timer1, &QTimer::timeout, this, platform::Handler([this] { Timer1Timer(); }));
}

TNoAdForm::~TNoAdForm() = default;

void TNoAdForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Timer1.start();
}

}  // namespace vantorix
