// The laser preview's canvas: a 254 x 254 QImage on black, drawn with a one-pixel pen and no
// anti-aliasing, as the paint box of the main window shows it.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>

#include "platform/canvas.h"

namespace platform {

class QImageCanvas : public Canvas {
 public:
  static constexpr int kSize = 254;

  QImageCanvas();
  ~QImageCanvas() override;
  QImageCanvas(const QImageCanvas&) = delete;
  QImageCanvas& operator=(const QImageCanvas&) = delete;

  void SetPenColor(Color color) override;
  void Clear() override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Ellipse(int x1, int y1, int x2, int y2) override;

  // The picture drawn so far. Owned by the canvas; valid while it lives.
  const QImage& Image() const { return image_; }

 private:
  QImage image_;
  QPainter painter_;
  QPoint pen_;
};

}  // namespace platform
