// The QImage preview, and a whole text through outlines, scroll pass, preview and the laser
// library.
#include "platform/qt/qimage_canvas.h"

#include <gtest/gtest.h>

#include <memory>

#include "laser/LD_FUNCT.h"
#include "laser_fixture.h"
#include "platform/clock.h"

namespace laser {
namespace {

const TPointKind B = pkBlank, V = pkVisible;

// Pixels of `image` that have colour `rgb` (0xRRGGBB).
std::vector<std::pair<int, int>> PixelsOf(const QImage& image, QRgb rgb) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == rgb) out.emplace_back(x, y);
  return out;
}

using Preview = LaserTest;

TEST_F(Preview, BlueLineOnBlack) {
  auto state = std::make_unique<TLaserState>();
  platform::QImageCanvas canvas;
  EXPECT_EQ(canvas.Image().size(), QSize(254, 254));
  SetPoints(state->FramePoints, {{16, 32, B}, {160, 32, V}});
  DrawPreview(*state, canvas);
  std::vector<std::pair<int, int>> row2;
  for (int x = 1; x <= 10; ++x) row2.emplace_back(x, 2);
  EXPECT_EQ(PixelsOf(canvas.Image(), 0x0000FF), row2);
  EXPECT_EQ(PixelsOf(canvas.Image(), 0x000000).size(), 254u * 254u - 10u) << "nothing else";
}

TEST_F(Preview, PointViewCirclesThePoint) {
  auto state = std::make_unique<TLaserState>();
  platform::QImageCanvas canvas;
  SetPoints(state->FramePoints, {{800, 800, B}, {1600, 800, V}, {800, 800, B}});
  struct Case {
    int32_t position;
    QRgb colour;
    int x, y;
  } cases[] = {{2, 0xFF0000, 100, 50}, {1, 0x008000, 50, 50}};
  for (const auto& c : cases) {
    state->PointViewPosition = c.position;
    ShowPointView(*state, canvas);
    auto ring = PixelsOf(canvas.Image(), c.colour);
    ASSERT_FALSE(ring.empty()) << c.position;
    for (auto [x, y] : ring) {
      EXPECT_LE(std::abs(x - c.x), 2) << c.position;
      EXPECT_LE(std::abs(y - c.y), 2) << c.position;
    }
    EXPECT_NE(std::find(ring.begin(), ring.end(), std::make_pair(c.x + 2, c.y)), ring.end());
    EXPECT_NE(std::find(ring.begin(), ring.end(), std::make_pair(c.x, c.y - 2)), ring.end());
  }
  // The earlier circle is gone: the preview is drawn afresh first.
  EXPECT_TRUE(PixelsOf(canvas.Image(), 0xFF0000).empty());
}

TEST_F(Preview, HiInDejaVuSansScrollsIntoTheLaser) {
  WriteLdIni("");
  LdStart();
  TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("DejaVu Sans");
  ttf.SetFont(font);
  ttf.SetPrecision(8);
  auto state = std::make_unique<TLaserState>();
  BuildTextPoints(*state, ttf, "Hi");
  ASSERT_GT(state->TextPoints.Count, 10);

  platform::VirtualClock clock(0, 0, 50000, 1000000);  // 0.05 s per counter read
  platform::ScopedClock scoped(clock);
  platform::QImageCanvas canvas;
  state->ScrollSpeed = 10;
  state->OutputToLaser = true;
  state->Sinus = true;
  size_t most_blue = 0;
  ui_.OnProcessEvents(
      [&] { most_blue = std::max(most_blue, PixelsOf(canvas.Image(), 0x0000FF).size()); });
  platform::ld2000::Reset();
  int32_t status = 0;
  BeginSession(6000, LDMaxFramePoints, 16384, 5, &status);
  ScrollText(*state, canvas);

  const auto& frames = platform::ld2000::ShownFrames();
  ASSERT_GT(frames.size(), 10u);
  size_t visible = 0;
  for (const auto& f : frames) {
    EXPECT_EQ(f.header.Flags, 0);
    EXPECT_EQ(f.header.Scale, 100);
    EXPECT_EQ(f.header.Reserved, 0);
    EXPECT_LE(f.header.NumPoints, 4000);
    EXPECT_EQ(f.points.size(), static_cast<size_t>(f.header.NumPoints));
    for (const TLDPoint& p : f.points) {
      ASSERT_TRUE(p.X >= 0 && p.X <= 4095 && p.Y >= 0 && p.Y <= 4095) << p.X << "," << p.Y;
      ASSERT_TRUE(p.Color == 0 || p.Color == 0xFFFFFF) << p.Color;
      visible += p.Color != 0;
    }
  }
  EXPECT_GT(visible, 100u);
  EXPECT_GT(most_blue, 50u);
  EXPECT_TRUE(ui_.Messages().empty());
}

}  // namespace
}  // namespace laser
