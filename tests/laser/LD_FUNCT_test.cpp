#include "laser/LD_FUNCT.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "laser_fixture.h"

namespace laser {
namespace {

using platform::ld2000::CallTexts;

using LdSession = LaserTest;

TEST_F(LdSession, StartWithAnEmptyIniAndNoSessionRunning) {
  WriteLdIni("");
  LdStart();
  EXPECT_EQ(CallTexts(), (std::vector<std::string>{
                             "OpenLDCommWindow()",
                             "InitialQMCheck()",
                             "CheckSession()",
                             "BeginSession(6000, 15632, 16384, 5)",
                             "CloseLDCommWindow()",
                             "SetWorkingScale(0, 8000, 0, 8000, 0, 8000)",
                             "SetLaserWindow(0, 8000, 0, 8000, 0)",
                             "SetWorkingTracks(-1)",
                             "DisplayStereoSettings(0.0, 0, 0.0, 0.0, 0.0)",
                             "DisplayUpdateMode(0, 1)",
                             "SetWorkingScanners(-1)",
                             "DisplayPosition(0, 0)",
                             "DisplaySize(100.0, 100.0, 100.0, 100.0, 100.0)",
                             "DisplayFreq3(12000, 20000, 12000)",
                             "DisplaySkew(0, 0, 0)",
                             "DisplayMinimumPoints(100)",
                             "DisplayObjectSettings(2, 1, 1, 400, 2, 2, 1200)",
                             "SetWorkingTracks(-1)",
                             "DisplayFrame(0)",
                             "DisplayScanLimits(1, 15632)",
                             "DisplayFlags(0)",
                             "DisplayScale(100.0, 100.0, 100.0)",
                             "DisplayPreTrans(0, 0, 0)",
                             "DisplayRotCenter(0, 0, 0)",
                             "DisplayAngle(0, 0, 0)",
                             "DisplayPostTrans(0, 0, 0)",
                             "DisplayPerspective(0, 0, 0, 17.0)",
                             "DisplayWindow(-80.0, 8000.0, -80.0, 8000.0, -80.0, 200.0)",
                             "DisplayCSize(100.0)",
                             "DisplayFrameMix(0, -100.0)",
                             "SetWorkingTracks(1)",
                             "DisplayUpdate()",
                             "DisplayUpdate()",
                             "SetWorkingScale(0, 4095, 0, 4095, 0, 4095)",
                             "SetLaserWindow(0, 4095, 0, 4095, 0)",
                             "SetWorkingScanners(1)",
                             "SetWorkingTracks(1)",
                             "SetWorkingFrame(1)",
                             "DisplayFlags(0)",
                         }));
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(platform::ld2000::SessionRunning());
}

TEST_F(LdSession, SettingsComeFromTheIni) {
  WriteLdIni(
      "[Scan rate]\r\nPoints per second=15000\r\nVector points per second=25000\r\n"
      "Abstract points per second=9000\r\nMinimum number of points=50\r\n"
      "[Color and beam]\r\nBeam Brush shift=3\r\n"
      "[Vector-oriented display]\r\nVisible begin pts=4\r\nVisible middle pts=5\r\n"
      "Visible end pts=6\r\nVisible density=700\r\nBlank begin pts=7\r\nBlank end pts=8\r\n"
      "Blank density=900\r\n");
  LdStart();
  auto calls = CallTexts();
  for (const char* call :
       {"DisplayFreq3(15000, 25000, 9000)", "DisplaySkew(0, 0, 3)", "DisplayMinimumPoints(50)",
        "DisplayObjectSettings(4, 5, 6, 700, 7, 8, 900)"})
    EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
}

TEST_F(LdSession, FrameCountAndStartupPalette) {
  const std::string ld = (dir_.path() / "ld").string();
  dir_.Write("ld/Support/Palettes/present.pal", "palette");
  std::string ld_backslashed = ld;
  std::replace(ld_backslashed.begin(), ld_backslashed.end(), '/', '\\');
  const std::string missing_path = ld + "/Support/Palettes/none";
  struct Case {
    std::string ini;
    int forced_palette_status;  // 1: none forced
    const char* begin_session;
    std::string load_palette;  // empty: no load
    std::vector<std::string> messages;
  } cases[] = {
      {"[General]\nNumber of frames=5000\n", 1, "BeginSession(6000, 15632, 16384, 5)", "", {}},
      {"[General]\nNumber of frames=8000\n", 1, "BeginSession(8000, 15632, 16384, 5)", "", {}},
      {"[Startup color]\nScreen to laser color file=None\n",
       1,
       "BeginSession(6000, 15632, 16384, 5)",
       "",
       {}},
      {"[Startup color]\nScreen to laser color file=\n",
       1,
       "BeginSession(6000, 15632, 16384, 5)",
       "",
       {}},
      {"[File paths]\nLD path=" + ld + "\n[Startup color]\nScreen to laser color file=none\n",
       1,
       "BeginSession(6000, 15632, 16384, 5)",
       "LoadPalette(" + missing_path + ")",
       {"Palette file specified in LD.INI was not found"}},
      {"[File paths]\nLD path=" + ld + "\n[Startup color]\nScreen to laser color file=none\n",
       -402,
       "BeginSession(6000, 15632, 16384, 5)",
       "LoadPalette(" + missing_path + ")",
       {"LDSTATUS_WRONG_FILE_TYPE"}},
      {"[File paths]\nLD path=" + ld_backslashed +
           "\n[Startup color]\nScreen to laser color file=present.pal\n",
       1,
       "BeginSession(6000, 15632, 16384, 5)",
       "LoadPalette(" + ld + "/Support/Palettes/present.pal)",
       {}},
  };
  for (const auto& c : cases) {
    platform::ld2000::Reset();
    ui_.Clear();
    if (c.forced_palette_status != 1)
      platform::ld2000::SetStatus("LoadPalette", c.forced_palette_status);
    WriteLdIni(c.ini);
    LdStart();
    auto calls = CallTexts();
    EXPECT_EQ(calls[3], c.begin_session) << c.ini;
    auto load = std::find_if(calls.begin(), calls.end(),
                             [](const std::string& t) { return t.rfind("LoadPalette(", 0) == 0; });
    EXPECT_EQ(load == calls.end() ? "" : *load, c.load_palette) << c.ini;
    EXPECT_EQ(ui_.Texts(), c.messages) << c.ini;
  }
}

TEST_F(LdSession, ASessionFoundRunningIsNotBegunAgain) {
  int32_t status = 0;
  BeginSession(6000, 15632, 16384, 5, &status);
  auto before = CallTexts().size();
  LdStart();
  auto calls = CallTexts();
  EXPECT_EQ(std::vector<std::string>(calls.begin() + before, calls.begin() + before + 4),
            (std::vector<std::string>{"OpenLDCommWindow()", "InitialQMCheck()", "CheckSession()",
                                      "CloseLDCommWindow()"}));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"LD session already running."}));
  EXPECT_EQ(calls.back(), "DisplayFlags(0)") << "the set-up still runs";
  // LdEnd still ends it.
  LdEnd();
  EXPECT_FALSE(platform::ld2000::SessionRunning());
}

TEST_F(LdSession, MissingControllerFile) {
  platform::ld2000::SetStatus("BeginSession", -401);
  LdStart();
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                             "File LD.Q32 could not be loaded .LD.Q32 not found. Ending LD "
                             "Programm See manual for more details."}));
  EXPECT_FALSE(platform::ld2000::SessionRunning());
  EXPECT_EQ(CallTexts().back(), "DisplayFlags(0)");
}

TEST_F(LdSession, ScanRateIsLimited) {
  struct Case {
    int32_t rate;
    const char* call;
  } cases[] = {{500, "DisplayFreq3(1000, 1000, 1000)"},
               {250000, "DisplayFreq3(200000, 200000, 200000)"},
               {13000, "DisplayFreq3(13000, 13000, 13000)"},
               {1000, "DisplayFreq3(1000, 1000, 1000)"}};
  for (const auto& c : cases) {
    platform::ld2000::Reset();
    LdSetScanRate(c.rate);
    EXPECT_EQ(CallTexts(), (std::vector<std::string>{c.call, "DisplayUpdate()"})) << c.rate;
  }
}

TEST_F(LdSession, BlankAndEndSendEmptyFrames) {
  LdStart();
  platform::ld2000::Reset();
  int32_t status = 0;
  BeginSession(6000, 15632, 16384, 5, &status);
  EXPECT_TRUE(LdBlank());
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), 1u);
  const auto& shown = platform::ld2000::ShownFrames()[0];
  EXPECT_EQ(shown.frame, 1);
  EXPECT_EQ(shown.header.Scale, 100);
  EXPECT_EQ(shown.header.NumPoints, 0);
  EXPECT_TRUE(shown.points.empty());
  LdEnd();
  EXPECT_EQ(CallTexts(), (std::vector<std::string>{
                             "BeginSession(6000, 15632, 16384, 5)", "WriteFrame(0, 100, 0, 0)",
                             "DisplayFrame(1)", "DisplayUpdate()", "WriteFrame(0, 100, 0, 0)",
                             "DisplayFrame(1)", "DisplayUpdate()", "EndSession()"}));
  EXPECT_FALSE(platform::ld2000::SessionRunning());
}

TEST_F(LdSession, StatusTexts) {
  struct Case {
    int32_t status;
    std::vector<std::string> shown;
  } cases[] = {
      {-1, {"DSTATUS_FIFO_READ_ERROR"}},
      {-2, {"OLDSTATUS_QM32_SOFTWARE_ERROR"}},
      {-101, {"OLDSTATUS_NO_SESSION_IN_PROGRESS"}},
      {-401, {"LDSTATUS_FILE_NOT_FOUND"}},
      {-703, {"LDSTATUS_FILE_TOO_LARGE"}},
      {-1003, {"LDSTATUS_QM32_INITIALIZATION_ERROR"}},
      {1, {"NULL_COMMAND"}},
      {8, {"GURU_ERROR"}},
      {0, {}},
      {-3, {}},
      {9, {}},
  };
  for (const auto& c : cases) {
    ui_.Clear();
    LDStatus = c.status;
    ShowLDStatus();
    EXPECT_EQ(ui_.Texts(), c.shown) << c.status;
  }
}

}  // namespace
}  // namespace laser
