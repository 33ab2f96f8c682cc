// The laser preview of the main window: a 254 x 254 paint box whose canvas the scroll pass and
// the point view draw on. Drawing goes into a QImage (platform::QImageCanvas) and schedules a
// repaint; painting only copies the picture, so nothing pumps events or draws in paintEvent.
#pragma once

#include <QWidget>

#include "platform/canvas.h"
#include "platform/qt/qimage_canvas.h"

namespace vantorix {

class TPaintBox : public QWidget, public platform::Canvas {
 public:
  explicit TPaintBox(QWidget* parent = nullptr);

  // The canvas interface of the laser output; each call draws at once and asks for a repaint.
  void SetPenColor(platform::Color color) override;
  void Clear() override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Ellipse(int x1, int y1, int x2, int y2) override;

  // The picture drawn so far.
  const QImage& Image() const { return canvas_.Image(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  platform::QImageCanvas canvas_;
};

}  // namespace vantorix
