// From the display text to laser frames: the point lists every stage shares, the laser state
// the main window owns, the builder that turns the whole text into one outline list in laser
// units (0..4095, y growing downwards) before it is scrolled, and the scroll pass that cuts
// each frame out of it, fills in points, draws the preview and sends the frame to the laser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "laser/UTTF2Vct.h"
#include "platform/canvas.h"

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
  // Ends the scroll pass; set by Stop, Esc and closing the window.
  bool StopFlag = false;
  // The shown SMS asked for the sine effect.
  bool SinusByPrefix = false;
  // Scan rate in points per second (the "Scanspeed" track bar).
  int32_t ScanSpeed = 12000;
  // -8..8: the point whose kind decides the beam state is this many points away.
  int32_t BlankShift = 0;
  // 0..50: 0 keeps the text still and centred, n moves it 400 x n laser units per second.
  int32_t ScrollSpeed = 0;
  // Scroll passes per text.
  int32_t SmsRepeat = 1;
  // Height of the sine wave in laser units, and its phase.
  int32_t SinusAmplitude = 50;
  int32_t SinusPhase = 50;

  // The window's check boxes.
  bool OutputToLaser = false;  // "OUTPUT TO LASER"
  bool InvertX = false;        // "INVERT X"
  bool InvertY = false;        // "INVERT Y"
  bool Sinus = false;          // "SINUS"
  bool DisableInt = false;     // "DISABLE INT"

  // The "Point View" track bar: the point to mark, and the maximum ShowPointView sets.
  int32_t PointViewPosition = 0;
  int32_t PointViewMax = 0;
  // The main window's caption, as ShowPointView sets it.
  std::string Caption;

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

  // The point being converted for the laser, and its beam state; kept from point to point
  // and from frame to frame.
  uint16_t CurrentX = 0;
  uint16_t CurrentY = 0;
  bool PointVisible = false;
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

// One scroll pass of state.TextPoints: frame after frame, ClipFrame at the offset the elapsed
// performance counter time gives, InterpolatePoints, DrawPreview, OutputFrame when
// OutputToLaser is set, then the pending events run (platform::ProcessEvents; handlers may
// change the state). Returns when the text has left the window or StopFlag is set; a still
// text (ScrollSpeed 0) is redrawn until StopFlag is set. Never throws.
void ScrollText(TLaserState& state, platform::Canvas& canvas);

// Cuts the part of state.TextPoints that lies inside the window (0 < x < 4095) at `offset`
// (x = X + 4096 - offset) into state.FramePoints, with blank moves where the beam re-enters,
// and a closing copy of frame point 1. Stops taking points when fewer than four entries are
// left, so the closing point always fits.
void ClipFrame(TLaserState& state, int32_t offset);
// Fills visible lines (steps of at least 40 units) and blank jumps after a visible run (steps
// of at least 80 units) of state.FramePoints with intermediate points, through WorkPoints.
// Intermediate points stop where the list is full; the last frame point always stays.
void InterpolatePoints(TLaserState& state);
// Draws state.FramePoints at 1/16 scale in blue: a blank point moves the pen, any other
// draws a line to it.
void DrawPreview(const TLaserState& state, platform::Canvas& canvas);
// Sets the caption to the Point View position p and its maximum to the frame's point count,
// draws the preview and circles frame point p in the colour of its kind (blank green,
// interpolated white, visible red); a position outside 1..Count marks nothing.
void ShowPointView(TLaserState& state, platform::Canvas& canvas);
// Converts state.FramePoints into LDFrameBuffer (sine effect, inversion, beam state by
// BlankShift, coordinates held to 0..4095, at most LDOutputPointLimit points) and, when
// OutputToLaser is set, sends it: WriteFrame, DisplayFrame(1), DisplayUpdate.
void OutputFrame(TLaserState& state);

}  // namespace laser
