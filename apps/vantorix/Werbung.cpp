#include "apps/vantorix/Werbung.h"

#include "ui_Werbung.h"

namespace vantorix {

TWerbetexte::TWerbetexte(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TWerbetexte>()) {
  ui->setupUi(this);
  connect(ui->btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

TWerbetexte::~TWerbetexte() = default;

}  // namespace vantorix
