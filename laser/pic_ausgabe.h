// From the display text to laser points: the point lists every stage shares, the laser state
// the main window owns, and the builder that turns the whole text into one outline list in
// laser units (0..4095, y growing downwards) before it is scrolled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "laser/UTTF2Vct.h"

namespace laser {

// How the beam reaches a point.
enum TPointKind : uint8_t {
  pkBlank = 0,         // the beam moves here switched off
  pkInterpolated = 1,  // visible point inserted between two corner points
  pkVisible = 2,       // visible corner or end point of an outline stroke
};

struct TTextPoint {
  int32_t X = 0;  // laser units
  int32_t Y = 0;  // laser units; larger values lie lower in the preview
  TPointKind Kind = pkBlank;

  bool operator==(const TTextPoint&) const = default;
};

inline constexpr int32_t kPointListCapacity = 20000;

// A count and room for kPointListCapacity points, numbered from 1; entries 1..Count are valid,
// the ones past Count keep whatever they held (all zero at first).
struct TPointList {
  int32_t Count = 0;
  std::vector<TTextPoint> Points = std::vector<TTextPoint>(kPointListCapacity);

  // Entry i, 1 <= i <= kPointListCapacity.
  TTextPoint& operator[](int32_t i) { return Points[static_cast<size_t>(i - 1)]; }
  const TTextPoint& operator[](int32_t i) const { return Points[static_cast<size_t>(i - 1)]; }
  // Entries still free.
  int32_t Room() const { return kPointListCapacity - Count; }
  // Adds `p` behind entry Count; does nothing when the list is full.
  void Append(const TTextPoint& p) {
    if (Count < kPointListCapacity) Points[static_cast<size_t>(Count++)] = p;
  }
};

// The laser state the main window owns and the text output reads and writes. Plain data; the
// window copies its controls into it and reads the results back.
struct TLaserState {
  std::string DisplayText;
  // Position of the font size track bar in percent; 100 selects the exact integer mapping.
  int32_t FontPercent = 100;
  // Font size factor: FontPercent / 100.
  double FontScale = 1.0;

  TPointList TextPoints;
  TPointList FramePoints;
  TPointList WorkPoints;
  // Width of the text in laser units, written by BuildTextPoints.
  int32_t TextWidth = 0;
  // Performance counter value when the text was built or the scroll pass began.
  int64_t ScrollStartStamp = 0;
};

// Glyph units per laser unit, and the pen advance of a space in glyph units (the converter
// takes every outline at 1024 points).
inline constexpr int32_t kGlyphUnitsPerLaserUnit = 3;
inline constexpr int32_t kSpaceAdvance = 1024;

// Converts `text` into state.TextPoints: for every character but the space the strokes of
// `ttf1`, mapped to laser units and joined into beam paths, then a closing copy of point 1;
// sets state.TextWidth and reads the performance counter into state.ScrollStartStamp.
// A character the converter has no strokes for adds no points and advances like a space.
// When fewer than four entries are left no further strokes are added, so the closing point
// always fits. Never pumps events; throws only what the converter throws.
void BuildTextPoints(TLaserState& state, TStrokeSource& ttf1, const std::string& text);

}  // namespace laser
