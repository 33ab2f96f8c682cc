#include "apps/vantorix/paintbox.h"

#include <QPainter>

namespace vantorix {

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
  setFixedSize(platform::QImageCanvas::kSize, platform::QImageCanvas::kSize);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::SetPenColor(platform::Color color) {
  canvas_.SetPenColor(color);
}

void TPaintBox::Clear() {
  canvas_.Clear();
  update();
}

void TPaintBox::MoveTo(int x, int y) {
  canvas_.MoveTo(x, y);
}

void TPaintBox::LineTo(int x, int y) {
  canvas_.LineTo(x, y);
  update();
}

void TPaintBox::Ellipse(int x1, int y1, int x2, int y2) {
  canvas_.Ellipse(x1, y1, x2, y2);
  update();
}

void TPaintBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, canvas_.Image());
}

}  // namespace vantorix
