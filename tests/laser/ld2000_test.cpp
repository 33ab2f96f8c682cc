// libLD2000.so on its own: session state, frame memory, forced statuses, the log file and
// pacing.
#include "platform/ld2000/ld2000.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/ld2000/recorder.h"
#include "platform/testing/temp_dir.h"

namespace platform::ld2000 {
namespace {

class Ld2000 : public ::testing::Test {
 protected:
  Ld2000() { Reset(); }
  ~Ld2000() override { Reset(); }

  static std::vector<TLDPoint> Points(int n) {
    std::vector<TLDPoint> points(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) points[static_cast<size_t>(i)] = {i, 2 * i, {0, 0}, 0xFFFFFF, {}};
    return points;
  }

  int32_t status_ = 99;
};

TEST_F(Ld2000, SessionState) {
  CheckSession(&status_);
  EXPECT_EQ(status_, kLdNoSessionInProgress);
  BeginSession(6000, 100, 16384, 5, &status_);
  EXPECT_EQ(status_, kLdOk);
  CheckSession(&status_);
  EXPECT_EQ(status_, kLdOk) << "running";
  EXPECT_TRUE(SessionRunning());
  EndSession();
  CheckSession(&status_);
  EXPECT_EQ(status_, kLdNoSessionInProgress);
}

TEST_F(Ld2000, ForcedStatuses) {
  SetStatus("BeginSession", kLdFileNotFound);
  BeginSession(6000, 100, 16384, 5, &status_);
  EXPECT_EQ(status_, kLdFileNotFound);
  EXPECT_FALSE(SessionRunning());
  SetStatus("InitialQMCheck", -1003);
  InitialQMCheck(&status_);
  EXPECT_EQ(status_, -1003);
  TempDir dir;
  LoadPalette((dir / "missing.pal").c_str(), &status_);
  EXPECT_EQ(status_, kLdFileNotFound);
  LoadPalette(dir.Write("there.pal", "x").c_str(), &status_);
  EXPECT_EQ(status_, kLdOk);
}

TEST_F(Ld2000, FramesAreCopiedWhenWrittenAndShownOnUpdate) {
  BeginSession(6000, 3, 16384, 5, &status_);
  auto points = Points(5);
  TLDFrameHeader header{0, 100, 0, 2};
  SetWorkingFrame(1);
  WriteFrame(&header, points.data());
  points[0].X = 777;  // the library keeps its own copy
  DisplayFrame(2);
  DisplayUpdate();  // frame 2 was never written: nothing shown
  DisplayFrame(1);
  DisplayUpdate();
  header.NumPoints = 5;  // more than the session's 3 points per frame
  WriteFrame(&header, points.data());
  DisplayUpdate();
  ASSERT_EQ(ShownFrames().size(), 2u);
  EXPECT_EQ(ShownFrames()[0].frame, 1);
  ASSERT_EQ(ShownFrames()[0].points.size(), 2u);
  EXPECT_EQ(ShownFrames()[0].points[0].X, 0);
  EXPECT_EQ(ShownFrames()[0].points[1].Y, 2);
  EXPECT_EQ(ShownFrames()[1].points.size(), 3u);
  EXPECT_EQ(ShownFrames()[1].points[0].X, 777);
}

TEST_F(Ld2000, NoSessionNoFrames) {
  auto points = Points(2);
  TLDFrameHeader header{0, 100, 0, 2};
  WriteFrame(&header, points.data());
  DisplayFrame(1);
  DisplayUpdate();
  EXPECT_TRUE(ShownFrames().empty());
  EXPECT_EQ(CallTexts(), (std::vector<std::string>{"WriteFrame(0, 100, 0, 2)", "DisplayFrame(1)",
                                                   "DisplayUpdate()"}));
}

TEST_F(Ld2000, WritesTheRecordToTheLogFile) {
  TempDir dir;
  {
    ScopedEnv log("LD2000_LOG", (dir / "ld.log").string());
    Reset();
    BeginSession(6000, 15632, 16384, 5, &status_);
    DisplaySize(100.0f, 100.0f, 100.0f, 100.0f, 100.0f);
    auto points = Points(2);
    TLDFrameHeader header{0, 100, 0, 2};
    WriteFrame(&header, points.data());
    DisplayFrame(1);
    DisplayUpdate();
  }
  Reset();  // closes the log
  EXPECT_EQ(TempDir::Read(dir / "ld.log"),
            "BeginSession(6000, 15632, 16384, 5) -> 0\n"
            "DisplaySize(100.0, 100.0, 100.0, 100.0, 100.0)\n"
            "WriteFrame(0, 100, 0, 2)\n"
            "DisplayFrame(1)\n"
            "DisplayUpdate()\n"
            "  shows frame 1: 0,0,ffffff 1,2,ffffff\n");
}

TEST_F(Ld2000, PacedUpdatesTakeTheFramesScanTime) {
  ScopedEnv pace("LD2000_PACE", "1");
  Reset();
  BeginSession(6000, 15632, 16384, 5, &status_);
  int32_t o1, o2, o3;
  DisplayFreq3(10000, 10000, 10000, &o1, &o2, &o3);
  auto points = Points(500);  // 50 ms at 10000 points per second
  TLDFrameHeader header{0, 100, 0, 500};
  WriteFrame(&header, points.data());
  DisplayFrame(1);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) DisplayUpdate();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_GE(ms, 145);  // three waits of 50 ms
  EXPECT_LT(ms, 3000);
}

// The one GUI thread cannot pump events while DisplayUpdate waits: however LD2000.ini sets the
// minimum points and the scan rate, a frame is waited for as 4000 points at 1000 points per
// second at the most, and blanking the laser waits for nothing.
TEST_F(Ld2000, PacedWaitsAreBoundedAndBlankingDoesNotWait) {
  ScopedEnv pace("LD2000_PACE", "1");
  struct Case {
    const char* name;
    int32_t minimum_points, rate, points;
    int wait_ms;  // what the second update of the frame waits
  };
  const Case cases[] = {
      {"500 points at 10000/s", 0, 10000, 500, 50},
      {"minimum 1000 points", 1000, 10000, 500, 100},
      {"minimum 200000 points at 13000/s", 200000, 13000, 500, 307},
      {"5000 points at 20000/s", 0, 20000, 5000, 200},
      {"minimum 200000 points at 500/s", 200000, 500, 500, 4000},
  };
  auto elapsed_ms = [](auto start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    BeginSession(6000, 15632, 16384, 5, &status_);
    int32_t o1, o2, o3;
    DisplayFreq3(c.rate, c.rate, c.rate, &o1, &o2, &o3);
    DisplayMinimumPoints(c.minimum_points);
    auto points = Points(c.points);
    TLDFrameHeader header{0, 100, 0, c.points};
    WriteFrame(&header, points.data());
    DisplayFrame(1);
    DisplayUpdate();  // shown at once; the next one waits for it
    auto start = std::chrono::steady_clock::now();
    DisplayUpdate();
    long long waited = elapsed_ms(start);
    EXPECT_GE(waited, c.wait_ms - 5);
    EXPECT_LT(waited, c.wait_ms + 150);

    // Blanking replaces the frame on show at once, and the frame after it goes out at once.
    TLDFrameHeader empty{0, 100, 0, 0};
    start = std::chrono::steady_clock::now();
    WriteFrame(&empty, points.data());
    DisplayUpdate();
    WriteFrame(&header, points.data());
    DisplayUpdate();
    EXPECT_LT(elapsed_ms(start), 50);
    ASSERT_EQ(ShownFrames().size(), 4u);
    EXPECT_TRUE(ShownFrames()[2].points.empty());
  }
}

}  // namespace
}  // namespace platform::ld2000
