#include "apps/vantorix/Protocol.h"

#include "ui_Protocol.h"

namespace vantorix {

TSMSProtocol::TSMSProtocol(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TSMSProtocol>()) {
  ui->setupUi(this);
  connect(ui->btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

TSMSProtocol::~TSMSProtocol() = default;

}  // namespace vantorix
