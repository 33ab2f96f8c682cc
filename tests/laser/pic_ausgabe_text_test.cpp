// Text to outline points: the mappings and paths over a converter that answers with fixed
// strokes, and the list's limit over the real DejaVu Sans.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "laser/pic_ausgabe.h"
#include "laser_fixture.h"
#include "platform/clock.h"

namespace laser {
namespace {

// Answers each character with the strokes it was given, nullptr for unknown characters.
class FakeConverter : public TStrokeSource {
 public:
  FakeConverter& Glyph(char ch, std::vector<TStroke> strokes) {
    glyphs_[static_cast<unsigned char>(ch)] = std::move(strokes);
    return *this;
  }
  std::unique_ptr<TStrokeCollection> ConvertChar(uint32_t ch) override {
    calls.push_back(ch);
    auto it = glyphs_.find(ch);
    if (it == glyphs_.end()) return nullptr;
    auto list = std::make_unique<TStrokeCollection>();
    for (const TStroke& s : it->second) list->Add(s);
    return list;
  }
  std::vector<uint32_t> calls;

 private:
  std::map<uint32_t, std::vector<TStroke>> glyphs_;
};

const TPointKind B = pkBlank, V = pkVisible;

FakeConverter Fake() {
  return FakeConverter()
      // a triangle (0,0) -> (300,0) -> (300,300) -> (0,0)
      .Glyph('T', {{0, 0, 0, 300, 0}, {0, 300, 0, 300, 300}, {0, 300, 300, 0, 0}})
      // one upright stroke from the base line to the em top
      .Glyph('I', {{0, 0, 0, 0, 1024}})
      // wider than its strokes' extent suggests: Left -20, Right 500
      .Glyph('W', {{0, -20, 0, 500, 0}})
      // two contours, each one stroke
      .Glyph('O', {{0, 0, 0, 300, 0}, {1, 600, 0, 900, 0}});
}

TEST(BuildTextPoints, MapsGlyphsToLaserPoints) {
  struct Case {
    const char* what;
    std::string text;
    int percent;
    std::vector<TTextPoint> points;
    int32_t width;
  } cases[] = {
      {"triangle at 100 %",
       "T",
       100,
       {{0, 2218, B}, {0, 2218, V}, {100, 2218, V}, {100, 2118, V}, {0, 2218, V}, {0, 2218, B}},
       100},
      {"glyph (0,0) -> (0,2218), y 1024 -> 1877",
       "I",
       100,
       {{0, 2218, B}, {0, 2218, V}, {0, 1877, V}, {0, 2218, B}},
       0},
      {"two spaces advance 2048",
       "  I",
       100,
       {{682, 2218, B}, {682, 2218, V}, {682, 1877, V}, {682, 2218, B}},
       682},
      {"150 %: vertical offset 1792",
       "I",
       150,
       {{0, 2304, B}, {0, 2304, V}, {0, 1792, V}, {0, 2304, B}},
       0},
      {"Left -20 / Right 500 advance 520",
       "WW",
       100,
       {{-6, 2218, B}, {-6, 2218, V}, {166, 2218, V}, {340, 2218, V}, {-6, 2218, B}},
       346},
      {"a second contour restarts with a blank move",
       "O",
       100,
       {{0, 2218, B},
        {0, 2218, V},
        {100, 2218, V},
        {200, 2218, B},
        {200, 2218, V},
        {300, 2218, V},
        {0, 2218, B}},
       300},
      {"a character without outline advances like a space",
       "?I",
       100,
       {{341, 2218, B}, {341, 2218, V}, {341, 1877, V}, {341, 2218, B}},
       341},
      {"triangle at 150 %: the width scales too",
       "T",
       150,
       {{0, 2304, B}, {0, 2304, V}, {150, 2304, V}, {150, 2154, V}, {0, 2304, V}, {0, 2304, B}},
       150},
      {"empty text", "", 100, {{0, 0, B}}, 0},
  };
  for (const auto& c : cases) {
    auto state = std::make_unique<TLaserState>();
    state->FontPercent = c.percent;
    state->FontScale = c.percent / 100.0;
    FakeConverter ttf = Fake();
    BuildTextPoints(*state, ttf, c.text);
    EXPECT_EQ(PointsOf(state->TextPoints), c.points)
        << c.what << "\n got " << ShowPoints(PointsOf(state->TextPoints));
    EXPECT_EQ(state->TextWidth, c.width) << c.what;
  }
}

TEST(BuildTextPoints, SpacesAreNotConvertedAndOlderEntriesStay) {
  auto state = std::make_unique<TLaserState>();
  FakeConverter ttf = Fake();
  BuildTextPoints(*state, ttf, "T T");
  EXPECT_EQ(ttf.calls, (std::vector<uint32_t>{'T', 'T'}));
  EXPECT_EQ(state->TextWidth, (300 + 1024 + 300) / 3);
  // A text of spaces: Count 1, the closing point a copy of entry 1 as the last text left it.
  BuildTextPoints(*state, ttf, "   ");
  EXPECT_EQ(PointsOf(state->TextPoints), (std::vector<TTextPoint>{{0, 2218, B}}));
  EXPECT_EQ(state->TextWidth, 1024);
}

TEST(BuildTextPoints, TakesTheScrollStartStamp) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  clock.SetCounter(123456789);
  auto state = std::make_unique<TLaserState>();
  FakeConverter ttf = Fake();
  BuildTextPoints(*state, ttf, "T");
  EXPECT_EQ(state->ScrollStartStamp, 123456789);
}

TEST(BuildTextPoints, StopsAddingStrokesBeforeTheListOverflows) {
  // 5000 separate strokes per glyph (Left 1, Right 29998), three points each: after 6666
  // strokes (19998 points) fewer than four entries are left; the closing point makes 19999.
  std::vector<TStroke> dashes;
  for (int i = 0; i < 5000; ++i) dashes.push_back({0, 6 * i + 1, 0, 6 * i + 4, 0});
  FakeConverter ttf;
  ttf.Glyph('D', dashes);
  auto state = std::make_unique<TLaserState>();
  BuildTextPoints(*state, ttf, "DDDDDD");
  EXPECT_EQ(state->TextPoints.Count, 19999);
  EXPECT_EQ(state->TextPoints[19999], state->TextPoints[1]);
  EXPECT_EQ(state->TextPoints[19998], (TTextPoint{(6 * 1665 + 4 + 29999) / 3, 2218, V}));
  EXPECT_EQ(state->TextWidth, 6 * 29999 / 3);
}

TEST(BuildTextPoints, LongSmsInDejaVuSansFillsTheListToItsLimit) {
  TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("DejaVu Sans");
  ttf.SetFont(font);
  ttf.SetPrecision(8);
  std::string sms;
  while (sms.size() < 160)
    sms +=
        "@&%$ Gr\xFC\xDF"
        "e @ M\xFCnchen! @@ ";
  sms.resize(160);
  auto state = std::make_unique<TLaserState>();
  BuildTextPoints(*state, ttf, sms);
  EXPECT_GE(state->TextPoints.Count, kPointListCapacity - 3);
  EXPECT_LE(state->TextPoints.Count, kPointListCapacity);
  EXPECT_EQ(state->TextPoints[state->TextPoints.Count], state->TextPoints[1]);
  EXPECT_EQ(state->TextPoints[1].Kind, pkBlank);
}

}  // namespace
}  // namespace laser
