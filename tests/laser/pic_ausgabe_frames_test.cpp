// The scroll pass and the three stages of a frame, over literal point lists, a virtual
// performance counter and the laser library's record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "laser_fixture.h"
#include "platform/clock.h"

namespace laser {
namespace {

const TPointKind B = pkBlank, I = pkInterpolated, V = pkVisible;
const int32_t W = 0xFFFFFF;

class Frames : public LaserTest {
 protected:
  Frames() : state_(std::make_unique<TLaserState>()), s_(*state_) {}

  void BeginSession() {
    int32_t status = 0;
    ::BeginSession(6000, LDMaxFramePoints, 16384, 5, &status);
  }

  // The triangle of the text outlines, 100 laser units wide.
  void Triangle() {
    SetPoints(
        s_.TextPoints,
        {{0, 2218, B}, {0, 2218, V}, {100, 2218, V}, {100, 2118, V}, {0, 2218, V}, {0, 2218, B}});
    s_.TextWidth = 100;
  }

  std::vector<int32_t> Colours(const platform::ld2000::ShownFrame& f) {
    std::vector<int32_t> out;
    for (const TLDPoint& p : f.points) out.push_back(p.Color);
    return out;
  }

  std::unique_ptr<TLaserState> state_;
  TLaserState& s_;
  RecordingCanvas canvas_;
};

TEST_F(Frames, TriangleThroughAStillScrollPass) {
  Triangle();
  ClipFrame(s_, (100 + 4096) / 2);
  EXPECT_EQ(PointsOf(s_.FramePoints), (std::vector<TTextPoint>{{1998, 2218, B},
                                                               {1998, 2218, B},
                                                               {1998, 2218, V},
                                                               {2098, 2218, V},
                                                               {2098, 2118, V},
                                                               {1998, 2218, V},
                                                               {1998, 2218, B},
                                                               {1998, 2218, B}}))
      << ShowPoints(PointsOf(s_.FramePoints));

  BeginSession();
  s_.OutputToLaser = true;
  s_.BlankShift = -1;
  ui_.OnProcessEvents([&] { s_.StopFlag = true; });
  ScrollText(s_, canvas_);
  EXPECT_EQ(PointsOf(s_.FramePoints), (std::vector<TTextPoint>{{1998, 2218, B},
                                                               {1998, 2218, B},
                                                               {1998, 2218, V},
                                                               {2048, 2218, I},
                                                               {2098, 2218, V},
                                                               {2098, 2168, I},
                                                               {2098, 2118, V},
                                                               {2064, 2151, I},
                                                               {2031, 2184, I},
                                                               {1998, 2218, V},
                                                               {1998, 2218, B},
                                                               {1998, 2218, B},
                                                               {1998, 2218, B}}))
      << ShowPoints(PointsOf(s_.FramePoints));
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), 1u);
  EXPECT_EQ(Colours(platform::ld2000::ShownFrames()[0]),
            (std::vector<int32_t>{0, 0, 0, W, W, W, W, W, W, W, W, 0, 0}));
}

TEST_F(Frames, ScrollSpeedTiesTheOffsetToTheCounter) {
  // 0.1 s per counter read; speed 10 moves 4000 units per second, 400 per frame.
  platform::VirtualClock clock(0, 0, 100000, 1000000);
  platform::ScopedClock scoped(clock);
  SetPoints(s_.TextPoints, {{100, 2000, B}, {100, 2000, V}, {100, 1900, V}, {100, 2000, B}});
  s_.TextWidth = 100;
  s_.ScrollSpeed = 10;
  std::vector<int32_t> xs;
  ui_.OnProcessEvents([&] { xs.push_back(s_.FramePoints.Count > 1 ? s_.FramePoints[2].X : -1); });
  ScrollText(s_, canvas_);
  // offsets 0, 400, ..., 4000: the point enters at x = 100 + 4096 - offset
  EXPECT_EQ(xs,
            (std::vector<int32_t>{-1, 3796, 3396, 2996, 2596, 2196, 1796, 1396, 996, 596, 196}));
}

TEST_F(Frames, StillTextRepeatsUntilStopped) {
  platform::VirtualClock clock(0, 0, 100000, 1000000);
  platform::ScopedClock scoped(clock);
  Triangle();
  int pumps = 0;
  ui_.OnProcessEvents([&] {
    if (++pumps == 5) s_.StopFlag = true;
  });
  ScrollText(s_, canvas_);
  EXPECT_EQ(pumps, 5);
  EXPECT_EQ(std::count(canvas_.calls.begin(), canvas_.calls.end(), "clear"), 5);
  EXPECT_EQ(s_.FramePoints[3], (TTextPoint{1998, 2218, V}));
}

TEST_F(Frames, ALongStillTextSetMovingEndsThePass) {
  // A still text stands for 31 hours; then the operator sets speed 50. The offset the counter
  // gives is past any 32-bit value: the text has long left the window and the pass ends.
  platform::VirtualClock clock(0, 0, 0, 1000000);
  platform::ScopedClock scoped(clock);
  Triangle();
  int pumps = 0;
  ui_.OnProcessEvents([&] {
    ++pumps;
    clock.SetCounter(clock.PeekCounter() + int64_t{31} * 3600 * 1000000);
    s_.ScrollSpeed = 50;
    if (pumps == 3) s_.StopFlag = true;  // the pass did not end by itself
  });
  ScrollText(s_, canvas_);
  EXPECT_EQ(pumps, 1);
}

TEST_F(Frames, WindowEdgesAndReentry) {
  struct Case {
    const char* what;
    std::vector<TTextPoint> text;
    std::vector<TTextPoint> frame;
  } cases[] = {
      {"x 0 and 4095 dropped, 1 and 4094 kept; three blanks on re-entry",
       {{0, 10, V}, {1, 10, V}, {4094, 10, V}, {4095, 10, V}},
       {{1, 10, B}, {1, 10, B}, {1, 10, B}, {1, 10, V}, {4094, 10, V}, {1, 10, B}}},
      {"text point 1 inside: no re-entry",
       {{5, 10, B}, {6, 10, V}},
       {{5, 10, B}, {5, 10, B}, {6, 10, V}, {5, 10, B}}},
      {"leaving and coming back",
       {{5, 10, B}, {6, 10, V}, {5000, 10, V}, {7, 20, V}},
       {{5, 10, B}, {5, 10, B}, {6, 10, V}, {6, 10, B}, {7, 20, B}, {7, 20, V}, {5, 10, B}}},
      {"nothing inside: the closing copy of entry 1 as the last step left it",
       {{-50, 10, V}, {5000, 10, V}},
       {{5, 10, B}}},
  };
  for (const auto& c : cases) {
    SetPoints(s_.TextPoints, c.text);
    ClipFrame(s_, 4096);
    EXPECT_EQ(PointsOf(s_.FramePoints), c.frame)
        << c.what << "\n got " << ShowPoints(PointsOf(s_.FramePoints));
  }
}

TEST_F(Frames, Interpolation) {
  struct Case {
    const char* what;
    std::vector<TTextPoint> frame;
    std::vector<TTextPoint> filled;
  } cases[] = {
      {"visible 100 apart: one midpoint",
       {{0, 0, V}, {100, 0, V}, {0, 0, B}},
       {{0, 0, V}, {50, 0, I}, {100, 0, V}, {100, 0, B}, {0, 0, B}}},
      {"visible 79 apart: none",
       {{0, 0, V}, {79, 0, V}, {79, 0, B}},
       {{0, 0, V}, {79, 0, V}, {79, 0, B}, {79, 0, B}}},
      {"visible -> blank 400: a blank copy and four steps",
       {{1000, 2000, V}, {1400, 2000, B}},
       {{1000, 2000, V},
        {1000, 2000, B},
        {1080, 2000, B},
        {1160, 2000, B},
        {1240, 2000, B},
        {1320, 2000, B},
        {1400, 2000, B}}},
      {"blank -> blank and blank -> visible are left as they are",
       {{0, 0, B}, {1000, 0, B}, {2000, 0, V}},
       {{0, 0, B}, {1000, 0, B}, {2000, 0, V}}},
      {"visible 120 diagonal: two steps",
       {{0, 0, V}, {96, 72, V}},
       {{0, 0, V}, {32, 24, I}, {64, 48, I}, {96, 72, V}}},
  };
  for (const auto& c : cases) {
    SetPoints(s_.FramePoints, c.frame);
    InterpolatePoints(s_);
    EXPECT_EQ(PointsOf(s_.FramePoints), c.filled)
        << c.what << "\n got " << ShowPoints(PointsOf(s_.FramePoints));
  }
}

TEST_F(Frames, ListsNeverOverflow) {
  // Every other text point outside the window: each one inside re-enters (three points).
  s_.TextPoints.Count = 0;
  for (int32_t i = 0; i < kPointListCapacity; ++i)
    s_.TextPoints.Append({i % 2 ? -100 : 100 + i % 3000, 2000, V});
  ClipFrame(s_, 4096);
  EXPECT_LE(s_.FramePoints.Count, kPointListCapacity);
  EXPECT_GE(s_.FramePoints.Count, kPointListCapacity - 3);
  EXPECT_EQ(s_.FramePoints[s_.FramePoints.Count], s_.FramePoints[1]);

  // Visible lines 4000 long: 99 points each without a limit.
  s_.FramePoints.Count = 0;
  for (int32_t i = 0; i < kPointListCapacity - 1; ++i)
    s_.FramePoints.Append({i % 2 ? 4000 : 0, 2000, V});
  s_.FramePoints.Append({7, 7, B});
  InterpolatePoints(s_);
  EXPECT_EQ(s_.FramePoints.Count, kPointListCapacity);
  EXPECT_EQ(s_.FramePoints[kPointListCapacity], (TTextPoint{7, 7, B}));
}

TEST_F(Frames, BeamStateFollowsThePointBlankShiftAway) {
  struct Case {
    int32_t shift;
    std::vector<TTextPoint> frame;
    std::vector<int32_t> colours;
  } cases[] = {
      {0, {{1, 1, V}, {2, 2, V}, {3, 3, V}}, {W, W, W}},
      {1, {{1, 1, V}, {2, 2, V}, {3, 3, V}}, {W, W, 0}},
      {-1, {{1, 1, V}, {2, 2, V}, {3, 3, V}}, {0, W, W}},
      {8, {{1, 1, V}, {2, 2, V}, {3, 3, V}}, {0, 0, 0}},
      {-8, {{1, 1, V}, {2, 2, V}, {3, 3, V}}, {0, 0, 0}},
      {-1, {{1, 1, V}, {2, 2, V}, {3, 3, B}, {4, 4, V}}, {0, W, W, 0}},
      {0, {{1, 1, B}, {2, 2, I}, {3, 3, B}}, {0, W, 0}},
  };
  for (const auto& c : cases) {
    auto fresh = std::make_unique<TLaserState>();
    fresh->BlankShift = c.shift;
    SetPoints(fresh->FramePoints, c.frame);
    OutputFrame(*fresh);
    std::vector<int32_t> colours;
    for (size_t i = 0; i < c.frame.size(); ++i) colours.push_back(LDFrameBuffer[i].Color);
    EXPECT_EQ(colours, c.colours) << "shift " << c.shift;
  }
}

TEST_F(Frames, SineAndInversionStayInsideTheWindow) {
  struct Case {
    const char* what;
    bool sinus, by_prefix, invert_x, invert_y;
    TTextPoint in;
    int32_t x, y;
  } cases[] = {
      {"sine at the phase: -amplitude", true, false, false, false, {480, 2000, V}, 480, 1950},
      {"sine a quarter period on: 0", true, false, false, false, {580, 2000, V}, 580, 2000},
      {"sine three quarters on: -2 x amplitude",
       true,
       false,
       false,
       false,
       {780, 2000, V},
       780,
       1900},
      {"sine at x 0", true, false, false, false, {0, 2000, V}, 0, 1903},
      {"sine asked for by the SMS", false, true, false, false, {780, 2000, V}, 780, 1900},
      {"sine near the top stays at 0", true, false, false, false, {780, 30, V}, 780, 0},
      {"invert x 1", false, false, true, false, {1, 10, V}, 4095, 10},
      {"invert x 0 gives 4095, not 4096", false, false, true, false, {0, 10, V}, 4095, 10},
      {"invert x 4095", false, false, true, false, {4095, 10, V}, 1, 10},
      {"invert y 0", false, false, false, true, {10, 0, V}, 10, 4095},
      {"invert y 4095", false, false, false, true, {10, 4095, V}, 10, 1},
      {"y below the window is held at 4095", false, false, false, false, {10, 5000, V}, 10, 4095},
      {"inverted y above the window is held at 0", false, false, false, true, {10, 5000, V}, 10, 0},
  };
  for (const auto& c : cases) {
    auto fresh = std::make_unique<TLaserState>();
    fresh->Sinus = c.sinus;
    fresh->SinusByPrefix = c.by_prefix;
    fresh->InvertX = c.invert_x;
    fresh->InvertY = c.invert_y;
    SetPoints(fresh->FramePoints, {c.in});
    OutputFrame(*fresh);
    EXPECT_EQ(LDFrameBuffer[0].X, c.x) << c.what;
    EXPECT_EQ(LDFrameBuffer[0].Y, c.y) << c.what;
  }
}

TEST_F(Frames, AtMost4000PointsAreSent) {
  BeginSession();
  s_.OutputToLaser = true;
  s_.FramePoints.Count = 0;
  for (int32_t i = 0; i < 5000; ++i) s_.FramePoints.Append({1 + i % 4000, 2000, V});
  OutputFrame(s_);
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), 1u);
  const auto& shown = platform::ld2000::ShownFrames()[0];
  EXPECT_EQ(shown.header.NumPoints, 4000);
  EXPECT_EQ(shown.points.size(), 4000u);
  EXPECT_EQ(shown.points.back().X, 4000);
  EXPECT_EQ(LDFrameBuffer[4000].X, 0) << "records past the limit are never written";
}

std::string Hex(const void* data, size_t n) {
  std::string out;
  const auto* b = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", b[i]);
    out += two;
    if (i % 4 == 3 && i + 1 < n) out += ' ';
  }
  return out;
}

TEST_F(Frames, FrameBytes) {
  BeginSession();
  s_.OutputToLaser = true;
  SetPoints(s_.FramePoints, {{16, 32, B}, {160, 4095, V}, {16, 32, B}});
  OutputFrame(s_);
  EXPECT_EQ(
      platform::ld2000::CallTexts(),
      (std::vector<std::string>{"BeginSession(6000, 15632, 16384, 5)", "WriteFrame(0, 100, 0, 3)",
                                "DisplayFrame(1)", "DisplayUpdate()"}));
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), 1u);
  const auto& shown = platform::ld2000::ShownFrames()[0];
  EXPECT_EQ(Hex(&shown.header, 16), "00000000 64000000 00000000 03000000");
  ASSERT_EQ(shown.points.size(), 3u);
  EXPECT_EQ(Hex(&shown.points[0], 36),
            "10000000 20000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000");
  EXPECT_EQ(Hex(&shown.points[1], 36),
            "A0000000 FF0F0000 00000000 00000000 FFFFFF00 00000000 00000000 00000000 00000000");
}

TEST_F(Frames, PreviewAndPointView) {
  SetPoints(s_.FramePoints, {{16, 32, B}, {160, 32, V}, {80, 48, I}});
  DrawPreview(s_, canvas_);
  EXPECT_EQ(canvas_.calls,
            (std::vector<std::string>{"pen ff0000", "clear", "move 1,2", "line 10,2", "line 5,3"}));
  struct Case {
    int32_t position;
    std::vector<std::string> mark;
  } cases[] = {
      {1, {"pen 008000", "ellipse -1,0 3,4"}},
      {2, {"pen 0000ff", "ellipse 8,0 12,4"}},
      {3, {"pen ffffff", "ellipse 3,1 7,5"}},
      {0, {}},
      {4, {}},
  };
  for (const auto& c : cases) {
    canvas_.calls.clear();
    s_.PointViewPosition = c.position;
    ShowPointView(s_, canvas_);
    EXPECT_EQ(s_.Caption, std::to_string(c.position));
    EXPECT_EQ(s_.PointViewMax, 3);
    ASSERT_GE(canvas_.calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(canvas_.calls.begin() + 5, canvas_.calls.end()), c.mark)
        << c.position;
  }
}

}  // namespace
}  // namespace laser
