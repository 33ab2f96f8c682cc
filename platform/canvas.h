// A drawing surface with a pen, the little the laser preview needs of a paint box's canvas.
// platform/qt/qimage_canvas.h draws into a QImage; tests record the calls.
#pragma once

#include <cstdint>

namespace platform {

// An RGB colour with red in the lowest byte (0x00BBGGRR).
using Color = uint32_t;

constexpr Color Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return Color{r} | Color{g} << 8 | Color{b} << 16;
}

class Canvas {
 public:
  virtual ~Canvas() = default;
  // The colour of the lines and ellipses drawn from now on.
  virtual void SetPenColor(Color color) = 0;
  // Clears the whole surface to its background.
  virtual void Clear() = 0;
  // Moves the pen to (x, y) without drawing.
  virtual void MoveTo(int x, int y) = 0;
  // Draws a line from the pen to (x, y), both ends included, and leaves the pen there.
  virtual void LineTo(int x, int y) = 0;
  // Draws the outline of the ellipse in the rectangle from (x1, y1) to (x2, y2); the pen
  // stays where it was.
  virtual void Ellipse(int x1, int y1, int x2, int y2) = 0;
};

}  // namespace platform
