#include "laser/UTTF2Vct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace laser {
namespace {

struct P {
  double x, y;
};

// Hand-built outlines in the native format: polygons of line, quadratic and cubic records.
class NativeOutline {
 public:
  NativeOutline& Polygon(P start) {
    polygon_ = bytes_.size();
    Put32(0);
    Put32(24);
    Point(start);
    Close();
    return *this;
  }
  NativeOutline& Record(uint16_t type, std::initializer_list<P> points) {
    Put16(type);
    Put16(static_cast<uint16_t>(points.size()));
    for (P p : points) Point(p);
    Close();
    return *this;
  }
  NativeOutline& Line(std::initializer_list<P> points) { return Record(1, points); }
  NativeOutline& QSpline(std::initializer_list<P> points) { return Record(2, points); }
  NativeOutline& CSpline(std::initializer_list<P> points) { return Record(3, points); }

  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  void Put16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Put32(uint32_t v) {
    Put16(static_cast<uint16_t>(v));
    Put16(static_cast<uint16_t>(v >> 16));
  }
  void Point(P p) {
    Put32(static_cast<uint32_t>(static_cast<int32_t>(std::lround(p.x * 65536))));
    Put32(static_cast<uint32_t>(static_cast<int32_t>(std::lround(p.y * 65536))));
  }
  // Keeps the open polygon's size field up to date.
  void Close() {
    uint32_t cb = static_cast<uint32_t>(bytes_.size() - polygon_);
    for (int i = 0; i < 4; ++i) bytes_[polygon_ + i] = static_cast<uint8_t>(cb >> (8 * i));
  }

  std::vector<uint8_t> bytes_;
  size_t polygon_ = 0;
};

std::vector<TStroke> Strokes(const TStrokeCollection& list) {
  std::vector<TStroke> out;
  for (int i = 0; i < list.Count(); ++i) {
    TStroke s;
    list.GetStroke(i, s);
    out.push_back(s);
  }
  return out;
}

std::string Show(const std::vector<TStroke>& strokes) {
  std::string out;
  for (const TStroke& s : strokes)
    out += "(" + std::to_string(s.Contour) + ": " + std::to_string(s.X1) + "," +
           std::to_string(s.Y1) + " -> " + std::to_string(s.X2) + "," + std::to_string(s.Y2) + ") ";
  return out;
}

TEST(StrokesFromNativeOutline, WalksPolygonsAndRecords) {
  struct Case {
    const char* what;
    NativeOutline outline;
    int precision;
    std::vector<TStroke> strokes;
  } cases[] = {
      {"line contour and its closing stroke",
       NativeOutline().Polygon({0, 0}).Line({{10, 0}, {10, 10}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 10, 10}, {0, 10, 10, 0, 0}}},
      {"a repeated point adds nothing",
       NativeOutline().Polygon({0, 0}).Line({{10, 0}, {10, 0}, {10, 10}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 10, 10}, {0, 10, 10, 0, 0}}},
      {"last point equal to the start: no closing stroke",
       NativeOutline().Polygon({0, 0}).Line({{10, 0}, {0, 0}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 0, 0}}},
      {"quadratic at precision 1",
       NativeOutline().Polygon({0, 0}).QSpline({{10, 10}, {20, 0}}),
       1,
       {{0, 0, 0, 20, 0}, {0, 20, 0, 0, 0}}},
      {"quadratic at precision 2",
       NativeOutline().Polygon({0, 0}).QSpline({{10, 10}, {20, 0}}),
       2,
       {{0, 0, 0, 10, 5}, {0, 10, 5, 20, 0}, {0, 20, 0, 0, 0}}},
      {"quadratic at precision 3",
       NativeOutline().Polygon({0, 0}).QSpline({{10, 10}, {20, 0}}),
       3,
       {{0, 0, 0, 7, 4}, {0, 7, 4, 13, 4}, {0, 13, 4, 20, 0}, {0, 20, 0, 0, 0}}},
      {"three-point quadratic: implied midpoint between the controls",
       NativeOutline().Polygon({0, 0}).QSpline({{0, 10}, {10, 10}, {10, 0}}),
       1,
       {{0, 0, 0, 5, 10}, {0, 5, 10, 10, 0}, {0, 10, 0, 0, 0}}},
      {"quadratic with one point is a line",
       NativeOutline().Polygon({0, 0}).QSpline({{10, 0}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 0, 0}}},
      {"cubic at precision 2 (midpoint 5, 7.5)",
       NativeOutline().Polygon({0, 0}).CSpline({{0, 10}, {10, 10}, {10, 0}}),
       2,
       {{0, 0, 0, 5, 8}, {0, 5, 8, 10, 0}, {0, 10, 0, 0, 0}}},
      {"cubic then line: the line starts at the cubic's end",
       NativeOutline().Polygon({0, 0}).CSpline({{0, 10}, {10, 10}, {10, 0}}).Line({{20, 0}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 20, 0}, {0, 20, 0, 0, 0}}},
      {"unknown record type adds nothing and keeps the current point",
       NativeOutline().Polygon({0, 0}).Record(7, {{5, 5}}).Line({{10, 0}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 0, 0}}},
      {"two polygons are contours 0 and 1",
       NativeOutline().Polygon({0, 0}).Line({{10, 0}}).Polygon({20, 0}).Line({{30, 0}}),
       1,
       {{0, 0, 0, 10, 0}, {0, 10, 0, 0, 0}, {1, 20, 0, 30, 0}, {1, 30, 0, 20, 0}}},
      {"halves round to even: 0.5 -> 0, 1.5 -> 2, -0.5 -> 0, 2.5 -> 2",
       NativeOutline().Polygon({0.5, 1.5}).Line({{-0.5, 2.5}}),
       1,
       {{0, 0, 2, 0, 2}, {0, 0, 2, 0, 2}}},
      {"a polygon of one point gives an empty list", NativeOutline().Polygon({3, 3}), 1, {}},
  };
  for (const auto& c : cases) {
    auto list = StrokesFromNativeOutline(c.outline.Bytes(), c.precision);
    ASSERT_NE(list, nullptr) << c.what;
    EXPECT_EQ(Strokes(*list), c.strokes) << c.what << "\n got " << Show(Strokes(*list));
  }
}

TEST(StrokesFromNativeOutline, PrecisionEightCutsEachPieceIntoEight) {
  auto list = StrokesFromNativeOutline(
      NativeOutline().Polygon({0, 0}).QSpline({{800, 800}, {1600, 0}}).Bytes(), 8);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Count(), 9);  // eight segments and the closing stroke
  TStroke s;
  list->GetStroke(3, s);  // from t = 3/8 to t = 1/2: y = 1600 t (1 - t)
  EXPECT_EQ(s, (TStroke{0, 600, 375, 800, 400}));
  list->GetStroke(7, s);
  EXPECT_EQ(s, (TStroke{0, 1400, 175, 1600, 0}));
}

std::vector<uint8_t> With32(std::vector<uint8_t> b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

std::vector<uint8_t> With16(std::vector<uint8_t> b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
  return b;
}

TEST(StrokesFromNativeOutline, MalformedBuffersGiveNoList) {
  // One polygon of 16 + 4 + 16 bytes: header, a line record with two points.
  const auto one = NativeOutline().Polygon({0, 0}).Line({{10, 0}, {10, 10}}).Bytes();
  const auto two =
      NativeOutline().Polygon({0, 0}).Line({{10, 0}}).Polygon({5, 5}).Line({{6, 6}}).Bytes();
  auto grown = one;
  grown.insert(grown.end(), {0, 0});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty buffer", {}},
      {"shorter than a polygon header", std::vector<uint8_t>(one.begin(), one.begin() + 15)},
      {"first polygon of another type", With32(one, 4, 25)},
      {"polygon size below its header", With32(one, 0, 8)},
      {"polygon size past the buffer", With32(one, 0, 37)},
      {"record points past the polygon", With16(one, 18, 3)},
      {"record header cut by the polygon end", With32(grown, 0, 38)},
      {"second polygon of another type", With32(two, 28 + 4, 0)},
      {"second polygon size past the buffer", With32(two, 28, 29)},
      {"cubic record without whole pieces",
       NativeOutline().Polygon({0, 0}).CSpline({{1, 1}, {2, 2}}).Bytes()},
      {"huge point count", With16(one, 18, 0xFFFF)},
  };
  for (const auto& c : cases) EXPECT_EQ(StrokesFromNativeOutline(c.bytes, 1), nullptr) << c.what;
  EXPECT_NE(StrokesFromNativeOutline(one, 1), nullptr);
  EXPECT_NE(StrokesFromNativeOutline(two, 1), nullptr);
  EXPECT_NE(StrokesFromNativeOutline(grown, 1), nullptr)
      << "trailing bytes below a header end the walk";
}

TEST(TStrokeCollection, BoundingRectAndIndexErrors) {
  TStrokeCollection list;
  EXPECT_EQ(list.BoundingRect(), (TRect{0, 0, 0, 0}));
  list.Add({0, 10, -5, 3, 7});
  EXPECT_EQ(list.BoundingRect(), (TRect{3, -5, 10, 7}));
  list.Add({1, -2, 9, 4, 8});
  EXPECT_EQ(list.BoundingRect(), (TRect{-2, -5, 10, 9}));
  TStroke s;
  for (int bad : {-1, 2}) {
    try {
      list.GetStroke(bad, s);
      ADD_FAILURE() << bad;
    } catch (const EListError& e) {
      EXPECT_STREQ(e.what(), "error");
    }
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.BoundingRect(), (TRect{0, 0, 0, 0}));
}

TEST(TTTFToVectorConverter, StartsAsDesignedAndTakesPrecisionOneToHundred) {
  TTTFToVectorConverter ttf;
  EXPECT_EQ(ttf.Font().Name(), "Arial");
  EXPECT_EQ(ttf.Font().Size(), 28);
  EXPECT_EQ(ttf.Precision(), 8);
  EXPECT_FALSE(ttf.UNICODE);
  struct Case {
    int value, after;
  } cases[] = {{0, 8}, {101, 8}, {1, 1}, {-5, 1}, {100, 100}, {50, 50}};
  for (const auto& c : cases) {
    ttf.SetPrecision(c.value);
    EXPECT_EQ(ttf.Precision(), c.after) << c.value;
  }
}

}  // namespace
}  // namespace laser
