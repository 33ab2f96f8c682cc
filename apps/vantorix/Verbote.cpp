#include "apps/vantorix/Verbote.h"

#include "ui_Verbote.h"

namespace vantorix {

TfrmVerbote::TfrmVerbote(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmVerbote>()) {
  ui->setupUi(this);
  connect(ui->btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

TfrmVerbote::~TfrmVerbote() = default;

}  // namespace vantorix
