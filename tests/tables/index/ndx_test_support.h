// What the index tests share: a real table file in a temporary folder opened in work area 1,
// errors stored instead of reported, a fixed creation date for new index files, and readers of
// the index file's bytes and of its keys in tag order (walked through the engine's Skip).
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/index/tzndx.h"
#include "tests/tables/engine/engine_test_support.h"

namespace tz {

// Random and model tests take fewer steps in the sanitizer build, which runs several times
// slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStepScale = 5;
#else
constexpr int kStepScale = 1;
#endif

inline void FixedIndexDate(int& year, int& month, int& day) {
  year = 2024, month = 3, day = 15;
}

// ID C10, HERSTELLER C15, MODELL C20: the phone table's first fields.
inline const std::vector<RawField> kTelFields = {
    {"ID", 'C', 10}, {"HERSTELLER", 'C', 15}, {"MODELL", 'C', 20}};

class IndexTest : public EngineTest {
 protected:
  IndexTest() {
    DbReportErrors = false;
    IndexDateProc = FixedIndexDate;
  }
  ~IndexTest() override { CloseAll(); }

  // Writes a table (records without their deleted mark are given a blank one and padded) and
  // opens it in the selected work area.
  std::string OpenTable(const std::string& name, const std::vector<RawField>& fields,
                        std::vector<std::string> records, const std::string& options = "",
                        uint8_t version = 0x03) {
    size_t size = 1;
    for (const RawField& f : fields) size += f.length;
    for (std::string& r : records) {
      r.insert(0, " ");
      if (r.size() < size) r.resize(size, ' ');
    }
    std::string path = dir_.Write(name, RawTable(version, fields, records)).string();
    Use(path + options);
    EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    return path;
  }

  std::string Bytes(const std::string& name) const { return platform::TempDir::Read(dir_ / name); }
  // Dates a file of the folder an earlier day (a day and a half back).
  void DateEarlierDay(const std::string& name) const {
    struct utimbuf times;
    times.actime = times.modtime = std::time(nullptr) - 36 * 3600;
    ASSERT_EQ(utime((dir_ / name).c_str(), &times), 0) << name;
  }

  // What an independent reader, libdbd-xbase-perl's index_dump, lists for a tag of an index
  // file in the folder: per key in tag order the key bytes, a blank, the record number.
  std::string Dump(const std::string& mdx, const std::string& tag) {
    std::string out = (dir_ / (tag + ".out")).string();
    platform::ChildProcess child("/bin/sh", {"-c", "index_dump '" + (dir_ / mdx).string() + "' " +
                                                       tag + " > '" + out + "'"});
    child.CloseInput();
    EXPECT_EQ(child.Wait(), 0) << tag;
    return platform::TempDir::Read(out);
  }

  // The record numbers in the current order from GoTop with Skip(1).
  static std::vector<int32_t> Walk() {
    std::vector<int32_t> out;
    GoTop();
    while (!dEOF() && DbLastError == 0 && out.size() < 1000000) {
      out.push_back(RecNo());
      Skip(1);
    }
    return out;
  }
  // The record numbers from GoBottom with Skip(-1), in the order of Walk.
  static std::vector<int32_t> WalkBack() {
    std::vector<int32_t> out;
    GoBottom();
    if (dEOF()) return out;
    while (DbLastError == 0 && out.size() < 1000000) {
      out.insert(out.begin(), RecNo());
      Skip(-1);
      if (dBOF()) break;
    }
    return out;
  }

  platform::TempDir dir_;
};

// Another station sharing the tables: a program of its own (index_station) run one command
// line at a time.
class Station {
 public:
  Station() : child_(INDEX_STATION, {}) {}
  ~Station() { child_.CloseInput(); }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;
  // Sends a command and gives its answer (empty when none comes within `timeout_ms`).
  std::string Run(const std::string& command, int timeout_ms = 10000) {
    Send(command);
    return child_.ReadLine(timeout_ms);
  }
  void Send(const std::string& command) { child_.WriteLine(command); }
  std::string Line() { return child_.ReadLine(); }
  // Kills the station with SIGKILL: it dies wherever it is, with no clean-up of its own.
  void Kill() { child_.Kill(); }

 private:
  platform::ChildProcess child_;
};

// A little-endian 32-bit word of a byte string.
inline uint32_t Word32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
inline uint16_t Word16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

}  // namespace tz
