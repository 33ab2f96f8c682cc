#include "apps/vantorix/einstellungen.h"

#include "ui_einstellungen.h"

namespace vantorix {

TfrmEinstell::TfrmEinstell(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmEinstell>()) {
  ui->setupUi(this);
}

TfrmEinstell::~TfrmEinstell() = default;

}  // namespace vantorix
