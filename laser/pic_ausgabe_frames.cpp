// The frame half of the text output: the scroll pass and the three stages of each frame.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "laser/ld.h"
#include "laser/pic_ausgabe.h"
#include "phone/Tokens.h"
#include "platform/clock.h"
#include "platform/ui.h"

namespace laser {
namespace {

// The laser window runs from 0 to 4095; a text enters at its right edge.
constexpr int32_t kWindow = 4096;
constexpr int32_t kMaxCoordinate = 4095;

int32_t Trunc(double v) {
  return static_cast<int32_t>(std::trunc(v));
}

bool InsideWindow(int32_t x) {
  return x > 0 && x < kMaxCoordinate;
}

TTextPoint Blank(const TTextPoint& p) {
  return {p.X, p.Y, pkBlank};
}

}  // namespace

void ClipFrame(TLaserState& state, int32_t offset) {
  const TPointList& text = state.TextPoints;
  TPointList& frame = state.FramePoints;
  // A text point adds at most three frame points; one entry stays for the closing point.
  constexpr int32_t kRoomForPoint = 4;
  frame.Count = 0;
  bool previous_inside = true;  // text point 1 has no predecessor: it does not re-enter
  for (int32_t i = 1; i <= text.Count; ++i) {
    const TTextPoint& t = text[i];
    const int32_t x = t.X + kWindow - offset;
    const bool inside = InsideWindow(x);
    const bool reenters = inside && !previous_inside;
    previous_inside = inside;
    if (!inside) continue;
    if (frame.Room() < kRoomForPoint) break;
    if (frame.Count == 0) frame.Append({x, t.Y, pkBlank});
    if (reenters) {
      frame.Append(Blank(frame[frame.Count]));
      frame.Append({x, t.Y, pkBlank});
    }
    frame.Append({x, t.Y, t.Kind});
  }
  frame.Append(frame[1]);
}

void InterpolatePoints(TLaserState& state) {
  TPointList& frame = state.FramePoints;
  TPointList& work = state.WorkPoints;
  work.Count = 0;
  // Entries the points before the last may take: one stays for the last (closing) point.
  auto room = [&] { return work.Room() > 1; };
  for (int32_t i = 1; i <= frame.Count; ++i) {
    const TTextPoint& a = frame[i];
    if (i == frame.Count) {
      work.Append(a);
      break;
    }
    if (!room()) continue;
    work.Append(a);
    const TTextPoint& b = frame[i + 1];
    if (a.Kind != pkVisible || b.Kind == pkInterpolated) continue;
    const int64_t dx = b.X - a.X, dy = b.Y - a.Y;
    const auto d = static_cast<int64_t>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
    int64_t n;
    TPointKind kind;
    if (b.Kind == pkBlank) {
      if (room()) work.Append(Blank(a));
      n = d / 80;
      kind = pkBlank;
    } else {
      n = d / 40;
      kind = pkInterpolated;
    }
    for (int64_t k = 1; k < n && room(); ++k)
      work.Append({Trunc(static_cast<double>(dx) / n * k + a.X),
                   Trunc(static_cast<double>(dy) / n * k + a.Y), kind});
  }
  frame.Count = work.Count;
  std::copy_n(work.Points.begin(), work.Count, frame.Points.begin());
}

void DrawPreview(const TLaserState& state, platform::Canvas& canvas) {
  canvas.SetPenColor(platform::Rgb(0, 0, 255));
  canvas.Clear();
  const TPointList& frame = state.FramePoints;
  for (int32_t i = 1; i <= frame.Count; ++i) {
    const TTextPoint& p = frame[i];
    // 1/16 scale: 4096 laser units to 256 pixels.
    if (p.Kind == pkBlank)
      canvas.MoveTo(p.X >> 4, p.Y >> 4);
    else
      canvas.LineTo(p.X >> 4, p.Y >> 4);
  }
}

void ShowPointView(TLaserState& state, platform::Canvas& canvas) {
  const int32_t p = state.PointViewPosition;
  state.Caption = std::to_string(p);
  state.PointViewMax = state.FramePoints.Count;
  DrawPreview(state, canvas);
  if (p < 1 || p > state.FramePoints.Count) return;
  const TTextPoint& point = state.FramePoints[p];
  switch (point.Kind) {
    case pkBlank:
      canvas.SetPenColor(platform::Rgb(0, 128, 0));
      break;
    case pkInterpolated:
      canvas.SetPenColor(platform::Rgb(255, 255, 255));
      break;
    case pkVisible:
      canvas.SetPenColor(platform::Rgb(255, 0, 0));
      break;
  }
  const int x = point.X >> 4, y = point.Y >> 4;
  canvas.Ellipse(x - 2, y - 2, x + 2, y + 2);
}

void OutputFrame(TLaserState& state) {
  if (state.DisableInt && !phone::IsWindowsNT()) {
    // Windows versions other than NT had the processor's interrupts off while a frame was
    // converted. This is an NT-family system: there is nothing to switch off.
  }
  const TPointList& frame = state.FramePoints;
  const bool sine = state.Sinus || state.SinusByPrefix;
  int32_t n = 0;
  for (int32_t i = 1; i <= frame.Count; ++i) {
    int32_t x = frame[i].X, y = frame[i].Y;
    if (sine)
      y += Trunc(std::sin((x - state.SinusPhase * 9.6) * std::numbers::pi / 200) *
                 state.SinusAmplitude) -
           state.SinusAmplitude;
    if (state.InvertX) x = kWindow - x;
    if (state.InvertY) y = kWindow - y;
    // Held to the window in signed arithmetic, so nothing wraps when stored in 16 bits.
    state.CurrentX = static_cast<uint16_t>(std::clamp(x, 0, kMaxCoordinate));
    state.CurrentY = static_cast<uint16_t>(std::clamp(y, 0, kMaxCoordinate));

    // The beam follows the kind of the point BlankShift points away; positions before the
    // first or after the last point count as blank.
    if (frame[i].Kind != pkBlank) state.PointVisible = true;
    const int32_t j = i + state.BlankShift;
    if (j < 1 || j > frame.Count || frame[j].Kind == pkBlank) state.PointVisible = false;

    if (n < LDOutputPointLimit) {
      TLDPoint& record = LDFrameBuffer[static_cast<size_t>(n)];
      record.X = state.CurrentX;
      record.Y = state.CurrentY;
      record.Color = state.PointVisible ? 0xFFFFFF : 0;
    }
    ++n;
  }
  if (state.OutputToLaser) {
    LDFrameHeader = {0, 100, 0, std::min(n, LDOutputPointLimit)};
    WriteFrame(&LDFrameHeader, LDFrameBuffer.data());
    DisplayFrame(1);
    DisplayUpdate();
  }
}

void ScrollText(TLaserState& state, platform::Canvas& canvas) {
  const double frequency = static_cast<double>(platform::PerfFrequency());
  state.ScrollStartStamp = platform::PerfCounter();
  auto still_offset = [&] { return (state.TextWidth + kWindow) / 2; };
  int32_t offset = state.ScrollSpeed != 0 ? 0 : still_offset();
  while (offset < state.TextWidth + kWindow) {
    ClipFrame(state, offset);
    InterpolatePoints(state);
    DrawPreview(state, canvas);
    if (state.OutputToLaser) OutputFrame(state);
    platform::ProcessEvents();
    if (state.StopFlag) return;
    const int64_t counter = platform::PerfCounter();
    if (state.ScrollSpeed != 0) {
      const double elapsed = static_cast<double>(counter - state.ScrollStartStamp) / frequency;
      // Halves round to the even neighbour (the default floating-point rounding). An offset
      // past the end only ends the pass, so it is held there: after hours of a still text
      // the elapsed time gives more than 32 bits hold.
      const double end = state.TextWidth + kWindow;
      offset =
          static_cast<int32_t>(std::min(std::nearbyint(elapsed * (state.ScrollSpeed * 400)), end));
    } else {
      offset = still_offset();
    }
  }
}

}  // namespace laser
