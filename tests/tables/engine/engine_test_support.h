// What the engine's tests share: a fixture that starts the library from its start values in
// the "C" language (date format 0), with a fixed century window (two-digit years 56..99 are
// 1956..1999, 00..55 are 2000..2055, as in 2026) and a RecordingUi, so that no test opens a
// real box and a halt becomes a platform::HaltRequested exception.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace tz {

class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : lc_all_("LC_ALL", "C"),
        lc_time_("LC_TIME", std::nullopt),
        lang_("LANG", std::nullopt),
        use_ui_(ui_) {
    StartTarazed();
    DbCenturyBase = 1956;
  }
  ~EngineTest() override { EndTarazed(); }

  platform::ScopedEnv lc_all_, lc_time_, lang_;
  platform::RecordingUi ui_;
  platform::ScopedUi use_ui_;
};

// Runs a test inside `dir` and goes back afterwards.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

// One field of a hand-made table file.
struct RawField {
  std::string name;
  char type;
  uint8_t length;
  uint8_t decimals = 0;
};

// The bytes of a table file with 32-byte descriptors (or, for versions 04h and 8Ch, the 36-byte
// extension and 48-byte descriptors) and the given records (deleted mark included), ended by
// 1Ah. Header size, record size and count default to what the fields and records say.
inline std::string RawTable(uint8_t version, const std::vector<RawField>& fields,
                            const std::vector<std::string>& records, int header_size = -1,
                            int record_size = -1, int count = -1) {
  bool wide = version == 0x04 || version == 0x8C;
  size_t descriptor = wide ? 48 : 32;
  std::string h(32 + (wide ? 36 : 0), '\0');
  int size = 1;
  for (const RawField& f : fields) {
    std::string d(descriptor, '\0');
    d.replace(0, f.name.size(), f.name);
    d[wide ? 32 : 11] = f.type;
    d[wide ? 33 : 16] = static_cast<char>(f.length);
    d[wide ? 34 : 17] = static_cast<char>(f.decimals);
    h += d;
    size += f.length;
  }
  h += '\x0D';
  auto put16 = [&](size_t at, int v) {
    h[at] = static_cast<char>(v & 0xFF);
    h[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  h[0] = static_cast<char>(version);
  h[1] = 126;  // 2026-12-09
  h[2] = 12;
  h[3] = 9;
  int n = count >= 0 ? count : static_cast<int>(records.size());
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  put16(8, header_size >= 0 ? header_size : static_cast<int>(h.size()));
  put16(10, record_size >= 0 ? record_size : size);
  for (const std::string& r : records) h += r;
  return h + '\x1A';
}

}  // namespace tz
