// The laser controller stand-in: session state, frame memory, the call record and pacing.
#include "platform/ld2000/ld2000.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ld2000/recorder.h"

int32_t LDStatus = 0;

namespace platform::ld2000 {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct Frame {
  TLDFrameHeader header{};
  std::vector<TLDPoint> points;
};

struct Library {
  bool running = false;
  int32_t frame_count = 0;
  int32_t points_per_frame = 0;
  int32_t working_frame = 1;
  int32_t display_frame = 0;
  int32_t points_per_second = 12000;
  int32_t minimum_points = 0;
  std::map<int32_t, Frame> frames;  // filled as frames are written
  std::map<std::string, int32_t> forced;

  bool keep_record = false;
  std::vector<Call> calls;
  std::vector<ShownFrame> shown;

  bool env_read = false;
  std::unique_ptr<std::FILE, FileCloser> log;
  bool pace = false;
  SteadyClock::time_point free_at{};

  void ReadEnvironment() {
    env_read = true;
    log.reset();
    if (const char* path = std::getenv("LD2000_LOG"); path && *path)
      log.reset(std::fopen(path, "a"));
    const char* pace_env = std::getenv("LD2000_PACE");
    pace = pace_env && *pace_env && std::strcmp(pace_env, "0") != 0;
  }
};

Library& Lib() {
  static Library lib;
  if (!lib.env_read) lib.ReadEnvironment();
  return lib;
}

void AppendInteger(std::string& out, long long v, int base = 10) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v, base);
  out.append(buf, r.ptr);
}

void AppendFloat(std::string& out, float v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string text(buf, r.ptr);
  if (text.find_first_of(".eainf") == std::string::npos) text += ".0";
  out += text;
}

// Builds the argument text of one call.
class Args {
 public:
  Args& operator<<(int32_t v) {
    Sep();
    AppendInteger(text_, v);
    return *this;
  }
  Args& operator<<(float v) {
    Sep();
    AppendFloat(text_, v);
    return *this;
  }
  Args& operator<<(const char* v) {
    Sep();
    text_ += v ? v : "";
    return *this;
  }
  std::string text_;

 private:
  void Sep() {
    if (!text_.empty()) text_ += ", ";
  }
};

void WriteLog(const std::string& line) {
  Library& lib = Lib();
  if (!lib.log) return;
  std::fwrite(line.data(), 1, line.size(), lib.log.get());
  std::fputc('\n', lib.log.get());
  std::fflush(lib.log.get());
}

// Records the call; `status`, when given, gets the forced status of the function or
// `answer`, and the log line shows it.
void Record(const char* name, Args args, int32_t* status = nullptr, int32_t answer = 0) {
  Library& lib = Lib();
  std::string line = std::string(name) + "(" + args.text_ + ")";
  if (status) {
    auto forced = lib.forced.find(name);
    *status = forced != lib.forced.end() ? forced->second : answer;
    line += " -> ";
    AppendInteger(line, *status);
  }
  if (lib.keep_record) lib.calls.push_back(Call{name, std::move(args.text_)});
  WriteLog(line);
}

void LogFrame(const ShownFrame& f) {
  Library& lib = Lib();
  if (!lib.log) return;
  std::string line = "  shows frame ";
  AppendInteger(line, f.frame);
  line += ":";
  for (const TLDPoint& p : f.points) {
    line += ' ';
    AppendInteger(line, p.X);
    line += ',';
    AppendInteger(line, p.Y);
    line += ',';
    AppendInteger(line, static_cast<uint32_t>(p.Color), 16);
  }
  WriteLog(line);
}

// The caller is a GUI thread that pumps no events while DisplayUpdate waits, so no "Minimum
// number of points" or scan rate in LD2000.ini may hold it for long: a frame is paced as at
// most the points the display program writes per frame, at least at the lowest rate it sets.
constexpr long long kPacedPointLimit = 4000;
constexpr long long kPacedRateFloor = 1000;

// Waits until the frame shown before has been scanned, then books the time of this one. An
// empty frame blanks the laser at once: it waits for nothing (Stop and the end of a session
// replace the frame on show) and books nothing, so the next frame goes out at once too.
void Pace(size_t points) {
  Library& lib = Lib();
  if (!lib.pace || lib.points_per_second <= 0) return;
  auto now = SteadyClock::now();
  if (points == 0) {
    lib.free_at = now;
    return;
  }
  if (now < lib.free_at) {
    std::this_thread::sleep_until(lib.free_at);
    now = lib.free_at;
  }
  const long long scanned = std::min<long long>(
      std::max<long long>(static_cast<long long>(points), lib.minimum_points), kPacedPointLimit);
  const long long rate = std::max<long long>(lib.points_per_second, kPacedRateFloor);
  lib.free_at = now + std::chrono::microseconds(scanned * 1000000 / rate);
}

}  // namespace

void Reset() {
  Library& lib = Lib();
  lib.running = false;
  lib.frame_count = lib.points_per_frame = 0;
  lib.working_frame = 1;
  lib.display_frame = 0;
  lib.points_per_second = 12000;
  lib.minimum_points = 0;
  lib.frames.clear();
  lib.forced.clear();
  lib.calls.clear();
  lib.shown.clear();
  lib.keep_record = true;
  lib.free_at = {};
  lib.ReadEnvironment();
  LDStatus = 0;
}

const std::vector<Call>& Calls() {
  return Lib().calls;
}

std::vector<std::string> CallTexts() {
  std::vector<std::string> out;
  for (const Call& c : Lib().calls) out.push_back(c.Text());
  return out;
}

const std::vector<ShownFrame>& ShownFrames() {
  return Lib().shown;
}

bool SessionRunning() {
  return Lib().running;
}

void SetStatus(const std::string& function, int32_t status) {
  Lib().forced[function] = status;
}

}  // namespace platform::ld2000

using platform::ld2000::Args;
using platform::ld2000::Frame;
using platform::ld2000::Lib;
using platform::ld2000::Pace;
using platform::ld2000::Record;

extern "C" {

void OpenLDCommWindow(void) {
  Record("OpenLDCommWindow", {});
}
void CloseLDCommWindow(void) {
  Record("CloseLDCommWindow", {});
}

void InitialQMCheck(int32_t* status) {
  Record("InitialQMCheck", {}, status, kLdOk);
}

void CheckSession(int32_t* status) {
  Record("CheckSession", {}, status, Lib().running ? kLdOk : kLdNoSessionInProgress);
}

void BeginSession(int32_t frames, int32_t points_per_frame, int32_t arg3, int32_t arg4,
                  int32_t* status) {
  Record("BeginSession", Args() << frames << points_per_frame << arg3 << arg4, status, kLdOk);
  auto& lib = Lib();
  if (*status != kLdOk) return;
  lib.running = true;
  lib.frame_count = frames;
  lib.points_per_frame = std::max(points_per_frame, 0);
  lib.frames.clear();
}

void EndSession(void) {
  Record("EndSession", {});
  Lib().running = false;
  Lib().frames.clear();
}

void SetWorkingScale(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6) {
  Record("SetWorkingScale", Args() << a1 << a2 << a3 << a4 << a5 << a6);
}
void SetLaserWindow(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5) {
  Record("SetLaserWindow", Args() << a1 << a2 << a3 << a4 << a5);
}
void SetWorkingScanners(int32_t scanners) {
  Record("SetWorkingScanners", Args() << scanners);
}
void SetWorkingTracks(int32_t tracks) {
  Record("SetWorkingTracks", Args() << tracks);
}
void SetWorkingFrame(int32_t frame) {
  Record("SetWorkingFrame", Args() << frame);
  Lib().working_frame = frame;
}

void DisplayStereoSettings(float a1, int32_t a2, float a3, float a4, float a5) {
  Record("DisplayStereoSettings", Args() << a1 << a2 << a3 << a4 << a5);
}
void DisplayUpdateMode(int32_t a1, int32_t a2) {
  Record("DisplayUpdateMode", Args() << a1 << a2);
}
void DisplayPosition(int32_t a1, int32_t a2) {
  Record("DisplayPosition", Args() << a1 << a2);
}
void DisplaySize(float a1, float a2, float a3, float a4, float a5) {
  Record("DisplaySize", Args() << a1 << a2 << a3 << a4 << a5);
}
void DisplayFreq3(int32_t points_per_second, int32_t vector_points_per_second,
                  int32_t abstract_points_per_second, int32_t* out1, int32_t* out2, int32_t* out3) {
  Record("DisplayFreq3",
         Args() << points_per_second << vector_points_per_second << abstract_points_per_second);
  Lib().points_per_second = points_per_second;
  *out1 = points_per_second;
  *out2 = vector_points_per_second;
  *out3 = abstract_points_per_second;
}
void DisplaySkew(int32_t a1, int32_t a2, int32_t beam_shift) {
  Record("DisplaySkew", Args() << a1 << a2 << beam_shift);
}
void DisplayMinimumPoints(int32_t points) {
  Record("DisplayMinimumPoints", Args() << points);
  Lib().minimum_points = points;
}
void DisplayObjectSettings(int32_t visible_begin, int32_t visible_middle, int32_t visible_end,
                           int32_t visible_density, int32_t blank_begin, int32_t blank_end,
                           int32_t blank_density) {
  Record("DisplayObjectSettings", Args() << visible_begin << visible_middle << visible_end
                                         << visible_density << blank_begin << blank_end
                                         << blank_density);
}
void DisplayFrame(int32_t frame) {
  Record("DisplayFrame", Args() << frame);
  Lib().display_frame = frame;
}
void DisplayScanLimits(int32_t a1, int32_t a2) {
  Record("DisplayScanLimits", Args() << a1 << a2);
}
void DisplayFlags(int32_t flags) {
  Record("DisplayFlags", Args() << flags);
}
void DisplayScale(float a1, float a2, float a3) {
  Record("DisplayScale", Args() << a1 << a2 << a3);
}
void DisplayPreTrans(int32_t a1, int32_t a2, int32_t a3) {
  Record("DisplayPreTrans", Args() << a1 << a2 << a3);
}
void DisplayRotCenter(int32_t a1, int32_t a2, int32_t a3) {
  Record("DisplayRotCenter", Args() << a1 << a2 << a3);
}
void DisplayAngle(int32_t a1, int32_t a2, int32_t a3) {
  Record("DisplayAngle", Args() << a1 << a2 << a3);
}
void DisplayPostTrans(int32_t a1, int32_t a2, int32_t a3) {
  Record("DisplayPostTrans", Args() << a1 << a2 << a3);
}
void DisplayPerspective(int32_t a1, int32_t a2, int32_t a3, float a4) {
  Record("DisplayPerspective", Args() << a1 << a2 << a3 << a4);
}
void DisplayWindow(float a1, float a2, float a3, float a4, float a5, float a6) {
  Record("DisplayWindow", Args() << a1 << a2 << a3 << a4 << a5 << a6);
}
void DisplayCSize(float size) {
  Record("DisplayCSize", Args() << size);
}
void DisplayFrameMix(int32_t a1, float a2) {
  Record("DisplayFrameMix", Args() << a1 << a2);
}

void DisplayUpdate(void) {
  Record("DisplayUpdate", {});
  auto& lib = Lib();
  if (!lib.running) return;
  auto it = lib.frames.find(lib.display_frame);
  if (it == lib.frames.end()) return;
  platform::ld2000::ShownFrame shown{it->first, it->second.header, it->second.points};
  Pace(shown.points.size());
  platform::ld2000::LogFrame(shown);
  if (lib.keep_record) lib.shown.push_back(std::move(shown));
}

void LoadPalette(const char* path, int32_t* status) {
  std::error_code ec;
  bool found = path && std::filesystem::is_regular_file(path, ec);
  Record("LoadPalette", Args() << path, status, found ? kLdOk : kLdFileNotFound);
}

void WriteFrame(const TLDFrameHeader* header, const TLDPoint* points) {
  Record("WriteFrame",
         Args() << header->Flags << header->Scale << header->Reserved << header->NumPoints);
  auto& lib = Lib();
  if (!lib.running || lib.working_frame < 0 || lib.working_frame > lib.frame_count) return;
  Frame& frame = lib.frames[lib.working_frame];
  frame.header = *header;
  int32_t n = std::clamp(header->NumPoints, 0, lib.points_per_frame);
  frame.points.assign(points, points + n);
}

}  // extern "C"
