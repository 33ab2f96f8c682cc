#include "laser/LD_FUNCT.h"

#include <algorithm>

#include "laser/ld.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace laser {
namespace {

const TLDFrameHeader kEmptyFrame{0, 100, 0, 0};

void SendEmptyFrame() {
  WriteFrame(&kEmptyFrame, LDFrameBuffer.data());
  DisplayFrame(1);
  DisplayUpdate();
}

// A path from LD2000.ini, written with either separator.
std::filesystem::path IniPath(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return std::filesystem::path(text);
}

}  // namespace

void BeginLDSession(const platform::IniFile& ini) {
  OpenLDCommWindow();
  LDFrameCount =
      std::max(ini.ReadInteger("General", "Number of frames", LDMinFrameCount), LDMinFrameCount);
  InitialQMCheck(&LDStatus);
  CheckSession(&LDStatus);
  if (LDStatus == 0) {
    platform::ShowMessage("LD session already running.");
  } else {
    BeginSession(LDFrameCount, LDMaxFramePoints, LDSessionArg3, LDSessionArg4, &LDStatus);
    if (LDStatus == -401)
      platform::ShowMessage(
          "File LD.Q32 could not be loaded .LD.Q32 not found. Ending LD Programm See manual "
          "for more details.");
  }
  CloseLDCommWindow();
}

void ReadLDIni(const platform::IniFile& ini) {
  SetWorkingScale(0, 8000, 0, 8000, 0, 8000);
  SetLaserWindow(0, 8000, 0, 8000, 0);
  TLDDisplaySettings d;
  TLDDisplaySettings& s = LDSettings;
  s.PointsPerSecond = ini.ReadInteger("Scan rate", "Points per second", d.PointsPerSecond);
  s.VectorPointsPerSecond =
      ini.ReadInteger("Scan rate", "Vector points per second", d.VectorPointsPerSecond);
  s.AbstractPointsPerSecond =
      ini.ReadInteger("Scan rate", "Abstract points per second", d.AbstractPointsPerSecond);
  s.MinimumPoints = ini.ReadInteger("Scan rate", "Minimum number of points", d.MinimumPoints);
  s.BeamBrushShift = ini.ReadInteger("Color and beam", "Beam Brush shift", d.BeamBrushShift);
  const char* vector = "Vector-oriented display";
  s.VisibleBeginPts = ini.ReadInteger(vector, "Visible begin pts", d.VisibleBeginPts);
  s.VisibleMiddlePts = ini.ReadInteger(vector, "Visible middle pts", d.VisibleMiddlePts);
  s.VisibleEndPts = ini.ReadInteger(vector, "Visible end pts", d.VisibleEndPts);
  s.VisibleDensity = ini.ReadInteger(vector, "Visible density", d.VisibleDensity);
  s.BlankBeginPts = ini.ReadInteger(vector, "Blank begin pts", d.BlankBeginPts);
  s.BlankEndPts = ini.ReadInteger(vector, "Blank end pts", d.BlankEndPts);
  s.BlankDensity = ini.ReadInteger(vector, "Blank density", d.BlankDensity);
  LDPath = ini.ReadString("File paths", "LD path", "");
}

void ApplyDisplaySettings() {
  const TLDDisplaySettings& s = LDSettings;
  int32_t out1 = 0, out2 = 0, out3 = 0;
  SetWorkingTracks(-1);
  DisplayStereoSettings(0.0f, 0, 0.0f, 0.0f, 0.0f);
  DisplayUpdateMode(0, 1);
  SetWorkingScanners(-1);
  DisplayPosition(0, 0);
  DisplaySize(100.0f, 100.0f, 100.0f, 100.0f, 100.0f);
  DisplayFreq3(s.PointsPerSecond, s.VectorPointsPerSecond, s.AbstractPointsPerSecond, &out1, &out2,
               &out3);
  DisplaySkew(0, 0, s.BeamBrushShift);
  DisplayMinimumPoints(s.MinimumPoints);
  DisplayObjectSettings(s.VisibleBeginPts, s.VisibleMiddlePts, s.VisibleEndPts, s.VisibleDensity,
                        s.BlankBeginPts, s.BlankEndPts, s.BlankDensity);
  SetWorkingTracks(-1);
  DisplayFrame(0);
  DisplayScanLimits(1, LDMaxFramePoints);
  DisplayFlags(0);
  DisplayScale(100.0f, 100.0f, 100.0f);
  DisplayPreTrans(0, 0, 0);
  DisplayRotCenter(0, 0, 0);
  DisplayAngle(0, 0, 0);
  DisplayPostTrans(0, 0, 0);
  DisplayPerspective(0, 0, 0, 17.0f);
  DisplayWindow(-80.0f, 8000.0f, -80.0f, 8000.0f, -80.0f, 200.0f);
  DisplayCSize(100.0f);
  DisplayFrameMix(0, -100.0f);
  SetWorkingTracks(1);
  DisplayUpdate();
  DisplayUpdate();
}

void LoadStartupPalette(const platform::IniFile& ini) {
  LDPaletteName = ini.ReadString("Startup color", "Screen to laser color file", "");
  if (LDPaletteName == "None" || LDPaletteName.empty()) return;
  LDPalettePath = IniPath(LDPath) / "Support" / "Palettes" / IniPath(LDPaletteName);
  LoadPalette(LDPalettePath.c_str(), &LDStatus);
  if (LDStatus == -401)
    platform::ShowMessage("Palette file specified in LD.INI was not found");
  else
    ShowLDStatus();
}

void LdStart() {
  std::filesystem::path file;
  try {
    file = platform::WindowsDir() / "LD2000.ini";
  } catch (const std::filesystem::filesystem_error&) {
    // No Windows directory: every key reads as its default.
  }
  const platform::IniFile ini(file);
  BeginLDSession(ini);
  ReadLDIni(ini);
  ApplyDisplaySettings();
  LoadStartupPalette(ini);
  SetWorkingScale(0, 4095, 0, 4095, 0, 4095);
  SetLaserWindow(0, 4095, 0, 4095, 0);
  SetWorkingScanners(1);
  SetWorkingTracks(1);
  SetWorkingFrame(1);
  DisplayFlags(0);
}

void LdEnd() {
  SendEmptyFrame();
  EndSession();
}

bool LdBlank() {
  SendEmptyFrame();
  return true;
}

void LdSetScanRate(int32_t Rate) {
  Rate = std::clamp(Rate, 1000, 200000);
  int32_t out1 = 0, out2 = 0, out3 = 0;
  DisplayFreq3(Rate, Rate, Rate, &out1, &out2, &out3);
  DisplayUpdate();
}

const char* LDStatusText(int32_t status) {
  switch (status) {
    case -1:
      return "DSTATUS_FIFO_READ_ERROR";
    case -2:
      return "OLDSTATUS_QM32_SOFTWARE_ERROR";
    case -31:
      return "LDSTATUS_ALREADY_POINT_ORIENTED";
    case -101:
      return "OLDSTATUS_NO_SESSION_IN_PROGRESS";
    case -201:
      return "LDSTATUS_FILE_REQUEST_CANCEL";
    case -401:
      return "LDSTATUS_FILE_NOT_FOUND";
    case -402:
      return "LDSTATUS_WRONG_FILE_TYPE";
    case -403:
      return "LDSTATUS_DISK_FULL";
    case -404:
      return "LDSTATUS_DISK_WRITE_PROTECTED";
    case -405:
      return "LDSTATUS_FILE_WRITE_PROTECTED";
    case -406:
      return "LDSTATUS_MISC_FILE_ERROR";
    case -407:
      return "LDSTATUS_STRING_TOO_LONG";
    case -501:
      return "LDSTATUS_FRAME_OUT_OF_RANGE";
    case -502:
      return "LDSTATUS_POINT_OUT_OF_RANGE";
    case -601:
      return "LDSTATUS_NO_IBM_MEMORY";
    case -602:
      return "LDSTATUS_CANT_OPEN_WINDOW";
    case -702:
      return "LDSTATUS_NO_QM32_MEMORY";
    case -703:
      return "LDSTATUS_FILE_TOO_LARGE";
    case -801:
      return "LDSTATUS_NOT_IMPLEMENTED";
    case -901:
      return "LDSTATUS_QM32_ERROR";
    case -1001:
      return "LDSTATUS_QM32_NOT_PRESENT";
    case -1002:
      return "LDSTATUS_QM32_ADDRESS_CONFLICT";
    case -1003:
      return "LDSTATUS_QM32_INITIALIZATION_ERROR";
    case 1:
      return "NULL_COMMAND";
    case 2:
      return "BAD_COMMAND";
    case 3:
      return "DOWNLOAD_BAD";
    case 4:
      return "CHECKSUM_BAD";
    case 5:
      return "INSUFFICIENT_OPERAND";
    case 6:
      return "DRAM_TEST_BAD";
    case 7:
      return "ROM_TEST_BAD";
    case 8:
      return "GURU_ERROR";
    default:
      return nullptr;
  }
}

void ShowLDStatus() {
  if (const char* text = LDStatusText(LDStatus)) platform::ShowMessage(text);
}

}  // namespace laser
