// libLD2000.so: our stand-in for the laser controller library. The display program links it
// by name at load time and calls these functions from its one GUI thread.
//
// What it does: it keeps the session state (CheckSession answers 0, "running", while a session
// is begun), copies each written frame into frame memory allocated as frames are written,
// and shows the frame selected by DisplayFrame when DisplayUpdate is called. It records every
// call with its arguments and every frame shown (platform/ld2000/recorder.h gives tests the
// record), and writes the same record to the file named by $LD2000_LOG when that is set.
// With $LD2000_PACE set (and not "0") DisplayUpdate waits until the frame shown before has had
// its time at the scan rate, so a running display does not spin a core. A frame's time counts
// its points, at least "Minimum number of points" (DisplayMinimumPoints) and at most 4000, at
// the scan rate of DisplayFreq3's first argument, at least 1000 points per second: one wait
// lasts 4 s at the most (0.31 s at the display program's 13000). An empty frame (blanking)
// neither waits nor makes the next frame wait.
//
// Statuses are written through the `status` pointers (never null); the calls do not block
// except DisplayUpdate when paced, never throw, and are not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Header of a frame passed to WriteFrame. The display program always sends 0, 100, 0 and
// the number of point records that follow.
struct TLDFrameHeader {
  int32_t Flags;
  int32_t Scale;
  int32_t Reserved;
  int32_t NumPoints;
};

// One point of a frame, 36 bytes.
struct TLDPoint {
  int32_t X;             // 0..4095
  int32_t Y;             // 0..4095
  int32_t Reserved1[2];  // zero
  int32_t Color;         // RGB with red in the lowest byte: 0 blank, 0xFFFFFF white
  int32_t Reserved2[4];  // zero
};

static_assert(sizeof(TLDFrameHeader) == 16);
static_assert(offsetof(TLDFrameHeader, NumPoints) == 12);
static_assert(sizeof(TLDPoint) == 36);
static_assert(offsetof(TLDPoint, X) == 0);
static_assert(offsetof(TLDPoint, Y) == 4);
static_assert(offsetof(TLDPoint, Color) == 16);

// The status variable the program passes to every call that reports a status; 0 at start.
extern int32_t LDStatus;

// Statuses the library answers with.
enum : int32_t {
  kLdOk = 0,
  kLdNoSessionInProgress = -101,
  kLdFileNotFound = -401,
};

void OpenLDCommWindow(void);
void CloseLDCommWindow(void);
// Writes 0.
void InitialQMCheck(int32_t* status);
// Writes 0 while a session is begun, kLdNoSessionInProgress otherwise.
void CheckSession(int32_t* status);
// Begins a session of `frames` frames of up to `points_per_frame` points and writes 0.
void BeginSession(int32_t frames, int32_t points_per_frame, int32_t arg3, int32_t arg4,
                  int32_t* status);
void EndSession(void);

void SetWorkingScale(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6);
void SetLaserWindow(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5);
void SetWorkingScanners(int32_t scanners);
void SetWorkingTracks(int32_t tracks);
// The frame WriteFrame writes to (1 at start).
void SetWorkingFrame(int32_t frame);

void DisplayStereoSettings(float a1, int32_t a2, float a3, float a4, float a5);
void DisplayUpdateMode(int32_t a1, int32_t a2);
void DisplayPosition(int32_t a1, int32_t a2);
void DisplaySize(float a1, float a2, float a3, float a4, float a5);
// Sets the scan rates in points per second; writes the rates in force to the three outs.
void DisplayFreq3(int32_t points_per_second, int32_t vector_points_per_second,
                  int32_t abstract_points_per_second, int32_t* out1, int32_t* out2, int32_t* out3);
void DisplaySkew(int32_t a1, int32_t a2, int32_t beam_shift);
void DisplayMinimumPoints(int32_t points);
void DisplayObjectSettings(int32_t visible_begin, int32_t visible_middle, int32_t visible_end,
                           int32_t visible_density, int32_t blank_begin, int32_t blank_end,
                           int32_t blank_density);
// Selects the frame DisplayUpdate shows.
void DisplayFrame(int32_t frame);
void DisplayScanLimits(int32_t a1, int32_t a2);
void DisplayFlags(int32_t flags);
void DisplayScale(float a1, float a2, float a3);
void DisplayPreTrans(int32_t a1, int32_t a2, int32_t a3);
void DisplayRotCenter(int32_t a1, int32_t a2, int32_t a3);
void DisplayAngle(int32_t a1, int32_t a2, int32_t a3);
void DisplayPostTrans(int32_t a1, int32_t a2, int32_t a3);
void DisplayPerspective(int32_t a1, int32_t a2, int32_t a3, float a4);
void DisplayWindow(float a1, float a2, float a3, float a4, float a5, float a6);
void DisplayCSize(float size);
void DisplayFrameMix(int32_t a1, float a2);
// Makes the settings and the last frame written to the selected frame take effect: the
// frame is shown (and recorded) when a session is begun and the frame was written.
void DisplayUpdate(void);

// Loads the palette file at `path` (zero-terminated); writes 0, or kLdFileNotFound when
// there is no such file.
void LoadPalette(const char* path, int32_t* status);

// Copies the header and header->NumPoints records (at most the session's points per frame)
// into the working frame. Without a session nothing is stored.
void WriteFrame(const TLDFrameHeader* header, const TLDPoint* points);

}  // extern "C"
