#include "laser/pic_ausgabe.h"

#include <cmath>
#include <cstdlib>

#include "platform/clock.h"

namespace laser {
namespace {

// Vertical offset that centres a line of text at 100 %: Trunc((4096 - 341) / 2).
constexpr int32_t kBaseLineOffset = 1877;

int32_t Trunc(double v) {
  return static_cast<int32_t>(std::trunc(v));
}

// Glyph units (y up, pen at `advance`) to laser units (y down) at the state's font size.
TTextPoint ToLaser(const TLaserState& s, int32_t gx, int32_t gy, int32_t advance, TPointKind kind) {
  if (s.FontPercent == 100)
    return {(gx + advance) / kGlyphUnitsPerLaserUnit,
            (kSpaceAdvance - gy) / kGlyphUnitsPerLaserUnit + kBaseLineOffset, kind};
  return {Trunc((gx + advance) * s.FontScale / kGlyphUnitsPerLaserUnit),
          Trunc((kSpaceAdvance - gy) * s.FontScale / kGlyphUnitsPerLaserUnit) +
              Trunc((4096 - 341 * s.FontScale) / 2),
          kind};
}

// Appends the points that draw the stroke: where the path already ends at its start only its
// end, else a blank move to its start, the start and the end.
void AppendStroke(TPointList& list, TTextPoint from, TTextPoint to) {
  TTextPoint blank{from.X, from.Y, pkBlank};
  if (list.Count == 0) {
    list.Append(blank);
    list.Append(from);
  }
  const TTextPoint& last = list[list.Count];
  if (last.X == from.X && last.Y == from.Y) {
    list.Append(to);
  } else {
    list.Append(blank);
    list.Append(from);
    list.Append(to);
  }
}

// A stroke adds at most three points; one more is kept for the closing point.
constexpr int32_t kRoomForStroke = 4;

}  // namespace

void BuildTextPoints(TLaserState& state, TStrokeSource& ttf1, const std::string& text) {
  TPointList& points = state.TextPoints;
  int32_t advance = 0;
  points.Count = 0;
  for (unsigned char ch : text) {
    if (ch == ' ') {
      advance += kSpaceAdvance;
      continue;
    }
    std::unique_ptr<TStrokeCollection> glyph_strokes = ttf1.ConvertChar(ch);
    if (!glyph_strokes) {
      advance += kSpaceAdvance;
      continue;
    }
    for (const TStroke& s : glyph_strokes->Strokes()) {
      if (points.Room() < kRoomForStroke) break;
      AppendStroke(points, ToLaser(state, s.X1, s.Y1, advance, pkVisible),
                   ToLaser(state, s.X2, s.Y2, advance, pkVisible));
    }
    TRect r = glyph_strokes->BoundingRect();
    advance += std::abs(r.Left) + std::abs(r.Right);
  }
  points.Append(points[1]);
  state.TextWidth = state.FontPercent == 100
                        ? advance / kGlyphUnitsPerLaserUnit
                        : Trunc(advance * state.FontScale / kGlyphUnitsPerLaserUnit);
  state.ScrollStartStamp = platform::PerfCounter();
}

}  // namespace laser
