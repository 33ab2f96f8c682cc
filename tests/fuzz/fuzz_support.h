// What the fuzz targets share: one input holds several files (a table, its memo file, its
// index) and a list of commands, cut apart at a separator line; a private folder per process
// where the files are written for every run; and the library started afresh for every run in
// one of its three error modes that go on after an error (stored only, an installed error
// routine, raised and caught), never the halt.
//
// A fuzz target must not keep anything from one run to the next: every run starts the library
// over (StartTarazed), writes its files anew into an emptied folder and closes everything
// before it returns, so a crashing input found after hours replays alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kfuzz {

// Stands between the files of one input. A line of its own, unlikely in any of the files.
inline constexpr std::string_view kPartSeparator = "\n%%kestrova-part%%\n";

// Cuts `data` at the separator into at most `max_parts` parts; the last one keeps the rest,
// separators included. Missing parts are empty.
std::vector<std::string_view> SplitParts(const uint8_t* data, size_t size, size_t max_parts);
// The inverse, for the seed maker.
std::string JoinParts(const std::vector<std::string>& parts);

// The process's own folder (below $TMPDIR), removed at exit.
const std::filesystem::path& Folder();
// The folder emptied, for a new run.
const std::filesystem::path& FreshFolder();
// Writes `bytes` to `name` in the folder; returns the path.
std::string WriteFile(const std::string& name, std::string_view bytes);

// The commands of an input, read byte by byte; 0 once they are used up.
class Commands {
 public:
  explicit Commands(std::string_view bytes) : bytes_(bytes) {}
  bool Done() const { return next_ >= bytes_.size(); }
  uint8_t Byte() { return Done() ? 0 : static_cast<uint8_t>(bytes_[next_++]); }
  int8_t Signed() { return static_cast<int8_t>(Byte()); }
  // Up to `n` bytes as text.
  std::string Text(size_t n);

 private:
  std::string_view bytes_;
  size_t next_ = 0;
};

enum class ErrorMode : uint8_t {
  kStored,   // reporting off: the error is only stored
  kRoutine,  // reporting on through an installed error routine that takes the message
  kRaised,   // ETarazedError thrown and caught around each command
};

// The library for one run: a silent user interface (a halt aborts: it is a finding), the "C"
// language, a fixed century window and index date, StartTarazed in the constructor and every
// table closed and EndTarazed in the destructor.
class LibraryRun {
 public:
  explicit LibraryRun(ErrorMode mode);
  ~LibraryRun();
  LibraryRun(const LibraryRun&) = delete;
  LibraryRun& operator=(const LibraryRun&) = delete;

  ErrorMode Mode() const { return mode_; }
  // Runs one command: in raise mode an ETarazedError is caught; any pending error is taken,
  // so the next command starts clean.
  template <typename F>
  void Step(F&& command) {
    try {
      command();
    } catch (const std::exception& e) {
      Caught(e);
    }
    AfterStep();
  }

 private:
  void Caught(const std::exception& e);
  void AfterStep();
  ErrorMode mode_;
};

// Sets the process up for fuzzing: the "C" language for the library's country settings.
// Called from every target's LLVMFuzzerInitialize.
void InitializeProcess();

}  // namespace kfuzz
