#include "laser/UTTF2Vct.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace laser {
namespace {

struct PointF {
  double x = 0, y = 0;
  bool operator==(const PointF&) const = default;
};

uint32_t LE32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

uint16_t LE16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// A 16.16 value: the signed integer word plus the unsigned fraction word / 65536.
double Fixed(std::span<const uint8_t> b, size_t at) {
  return static_cast<int32_t>(LE32(b, at)) / 65536.0;
}

PointF FixedPoint(std::span<const uint8_t> b, size_t at) {
  return {Fixed(b, at), Fixed(b, at + 4)};
}

// Nearest integer, halves to the even neighbour (the default floating-point rounding mode).
int32_t Round(double v) {
  return static_cast<int32_t>(std::nearbyint(v));
}

class StrokeBuilder {
 public:
  StrokeBuilder(TStrokeCollection& list, int precision) : list_(list), precision_(precision) {}

  void SetContour(int32_t contour) { contour_ = contour; }

  void Add(PointF p, PointF q) {
    list_.Add(TStroke{contour_, Round(p.x), Round(p.y), Round(q.x), Round(q.y)});
  }

  // Straight to `p`, unless `p` is where the pen already is.
  void LineTo(PointF& current, PointF p) {
    PointF previous = current;
    current = p;
    if (!(previous == current)) Add(previous, current);
  }

  // Cuts the quadratic piece (a, b, c) into `precision` segments; returns the point reached.
  PointF Quadratic(PointF a, PointF b, PointF c) {
    return Flatten(a, [&](double t) {
      auto at = [t](double a, double b, double c) {
        return t * t * (a - 2 * b + c) + (2 * b - 2 * a) * t + a;
      };
      return PointF{at(a.x, b.x, c.x), at(a.y, b.y, c.y)};
    });
  }

  // Cuts the cubic piece (a, b, c, d) into `precision` segments; returns the point reached.
  PointF Cubic(PointF a, PointF b, PointF c, PointF d) {
    return Flatten(a, [&](double t) {
      auto at = [t](double a, double b, double c, double d) {
        double k3 = d - 3 * c + 3 * b - a, k2 = 3 * c - 6 * b + 3 * a, k1 = 3 * b - 3 * a;
        return ((k3 * t + k2) * t + k1) * t + a;
      };
      return PointF{at(a.x, b.x, c.x, d.x), at(a.y, b.y, c.y, d.y)};
    });
  }

 private:
  // Steps t by 1 / precision from the piece's start, the last step landing on 1 exactly.
  template <typename Curve>
  PointF Flatten(PointF start, Curve curve) {
    double step = 1.0 / precision_;
    double t = step;
    PointF p = start;
    while (t <= 1) {
      if (t > 1 - step / 2) t = 1;
      PointF q = curve(t);
      if (!(p == q)) Add(p, q);
      p = q;
      t += step;
    }
    return p;
  }

  TStrokeCollection& list_;
  int precision_;
  int32_t contour_ = 0;
};

}  // namespace

void TStrokeCollection::GetStroke(int index, TStroke& stroke) const {
  if (index < 0 || index >= Count()) throw EListError();
  stroke = strokes_[static_cast<size_t>(index)];
}

TRect TStrokeCollection::BoundingRect() const {
  if (strokes_.empty()) return TRect{};
  TRect r{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
          -std::numeric_limits<int32_t>::max(), -std::numeric_limits<int32_t>::max()};
  for (const TStroke& s : strokes_) {
    r.Left = std::min({r.Left, s.X1, s.X2});
    r.Top = std::min({r.Top, s.Y1, s.Y2});
    r.Right = std::max({r.Right, s.X1, s.X2});
    r.Bottom = std::max({r.Bottom, s.Y1, s.Y2});
  }
  return r;
}

std::unique_ptr<TStrokeCollection> StrokesFromNativeOutline(std::span<const uint8_t> buffer,
                                                            int precision) {
  using platform::kCurveHeaderSize, platform::kFixedPointSize, platform::kPolygonHeaderSize;
  const size_t size = buffer.size();
  auto list = std::make_unique<TStrokeCollection>();
  StrokeBuilder builder(*list, precision);
  size_t consumed = 0;
  for (int32_t contour = 0;; ++contour) {
    if (size - consumed < kPolygonHeaderSize) return nullptr;
    const size_t cb = LE32(buffer, consumed);
    if (LE32(buffer, consumed + 4) != platform::kPolygonType || cb < kPolygonHeaderSize ||
        cb > size - consumed)
      return nullptr;
    builder.SetContour(contour);
    const PointF start = FixedPoint(buffer, consumed + 8);
    PointF current = start;
    const size_t end = consumed + cb;
    for (size_t at = consumed + kPolygonHeaderSize; at < end;) {
      if (end - at < kCurveHeaderSize) return nullptr;
      const uint16_t type = LE16(buffer, at);
      const size_t n = LE16(buffer, at + 2);
      if (n * kFixedPointSize > end - at - kCurveHeaderSize) return nullptr;
      auto point = [&](size_t k) { return FixedPoint(buffer, at + kCurveHeaderSize + 8 * k); };
      if (type == platform::kPrimLine || (type == platform::kPrimQSpline && n == 1)) {
        for (size_t k = 0; k < n; ++k) builder.LineTo(current, point(k));
      } else if (type == platform::kPrimQSpline && n >= 2) {
        PointF a = current;
        for (size_t k = 0; k + 1 < n; ++k) {
          PointF b = point(k);
          PointF c = point(k + 1);
          if (k + 2 < n) c = PointF{(b.x + c.x) / 2, (b.y + c.y) / 2};
          a = builder.Quadratic(a, b, c);
        }
        current = a;
      } else if (type == platform::kPrimCSpline) {
        if (n % 3 != 0) return nullptr;
        for (size_t k = 0; k < n; k += 3)
          current = builder.Cubic(current, point(k), point(k + 1), point(k + 2));
      }
      at += kCurveHeaderSize + n * kFixedPointSize;
    }
    builder.LineTo(current, start);
    consumed += cb;
    if (consumed + kPolygonHeaderSize >= size) break;
  }
  return list;
}

TTTFToVectorConverter::TTTFToVectorConverter() {
  font_.SetName("Arial");
  font_.SetSize(28);
}

void TTTFToVectorConverter::SetPrecision(int value) {
  if (value >= 1 && value <= 100) precision_ = value;
}

std::unique_ptr<TStrokeCollection> TTTFToVectorConverter::ConvertChar(uint32_t ch) {
  if (!font_.HasHandle()) return nullptr;
  font_.SetSize(1024);
  // The outline is asked for through a matrix whose four elements each carry the fraction
  // word 1: eM11 = eM22 = 1 + 1/65536, eM12 = eM21 = 1/65536.
  const platform::GlyphMatrix matrix{0x10001, 0x00001, 0x00001, 0x10001};
  const auto coding = UNICODE ? platform::GlyphCoding::kWide : platform::GlyphCoding::kAnsi;
  uint32_t size = platform::GetGlyphOutline(font_, ch, coding, matrix, nullptr, 0);
  if (size == 0 || size == platform::kGlyphError) return nullptr;
  std::vector<uint8_t> buffer(size);
  if (platform::GetGlyphOutline(font_, ch, coding, matrix, buffer.data(), size) ==
      platform::kGlyphError)
    return nullptr;
  return StrokesFromNativeOutline(buffer, precision_);
}

}  // namespace laser
