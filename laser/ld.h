// The binding to the laser controller library (libLD2000.so, linked by name at load time):
// its functions and records come from the library's header; here are the binding's own
// variables and constants, and the one frame buffer every frame is built in.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/ld2000/ld2000.h"

namespace laser {

// Points per frame, given to BeginSession and DisplayScanLimits; also the size of the frame
// buffer.
inline constexpr int32_t LDMaxFramePoints = 15632;
// At most this many points are written per frame.
inline constexpr int32_t LDOutputPointLimit = 4000;
// Frames of a session at least.
inline constexpr int32_t LDMinFrameCount = 6000;
// The third and fourth arguments of BeginSession.
inline constexpr int32_t LDSessionArg3 = 16384;
inline constexpr int32_t LDSessionArg4 = 5;

// The display settings read from LD2000.ini, with their defaults.
struct TLDDisplaySettings {
  int32_t PointsPerSecond = 12000;
  int32_t VectorPointsPerSecond = 20000;
  int32_t AbstractPointsPerSecond = 12000;
  int32_t MinimumPoints = 100;
  int32_t BeamBrushShift = 0;
  int32_t VisibleBeginPts = 2;
  int32_t VisibleMiddlePts = 1;
  int32_t VisibleEndPts = 1;
  int32_t VisibleDensity = 400;
  int32_t BlankBeginPts = 2;
  int32_t BlankEndPts = 2;
  int32_t BlankDensity = 1200;
};

// The library's status variable is ::LDStatus (platform/ld2000/ld2000.h).

// Frames of the session ("Number of frames", at least LDMinFrameCount).
extern int32_t LDFrameCount;
extern TLDDisplaySettings LDSettings;
// "LD path": the folder of the library's support files; empty by default.
extern std::string LDPath;
// The start-up palette's name and the path it was loaded from.
extern std::string LDPaletteName;
extern std::filesystem::path LDPalettePath;

// The frame header and point buffer frames are built in; all zero at start, reused for
// every frame. Bytes never written stay zero.
extern TLDFrameHeader LDFrameHeader;
extern std::array<TLDPoint, LDMaxFramePoints> LDFrameBuffer;

}  // namespace laser
