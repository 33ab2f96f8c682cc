#include "platform/qt/qimage_canvas.h"

#include <QPen>

namespace platform {

QImageCanvas::QImageCanvas() : image_(kSize, kSize, QImage::Format_RGB32) {
  image_.fill(Qt::black);
  // The painter stays open for the canvas's life: opening one per line would cost more than
  // the line.
  painter_.begin(&image_);
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setBrush(Qt::NoBrush);
  SetPenColor(Rgb(0, 0, 0));
}

QImageCanvas::~QImageCanvas() {
  painter_.end();
}

void QImageCanvas::SetPenColor(Color color) {
  QPen pen(QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
  pen.setWidth(0);  // cosmetic: one pixel whatever the transform
  painter_.setPen(pen);
}

void QImageCanvas::Clear() {
  painter_.fillRect(image_.rect(), Qt::black);
}

void QImageCanvas::MoveTo(int x, int y) {
  pen_ = QPoint(x, y);
}

void QImageCanvas::LineTo(int x, int y) {
  QPoint to(x, y);
  painter_.drawLine(pen_, to);
  pen_ = to;
}

void QImageCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  // With a one-pixel pen the outline of a w x h rectangle covers w + 1 by h + 1 pixels, so
  // it runs from (x1, y1) to (x2, y2), centred on the point the caller circles.
  painter_.drawEllipse(QRect(x1, y1, x2 - x1, y2 - y1));
}

}  // namespace platform
