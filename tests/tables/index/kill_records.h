// The records of the crash tests, made the same way by the test and by the station that appends
// them until it is killed: record n of the phone table gets an ID and a maker text that no other
// record has (two multiplicative scrambles of n, so that appends land all over both tags instead
// of at their ends) and "rec" + n as its model.
#pragma once

#include <cstdint>
#include <string>

namespace tz {

inline std::string ZeroPadded(uint64_t value, size_t width) {
  std::string text = std::to_string(value);
  return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
}

// The three fields of record n (n below 999983), padded to their widths (10, 15, 20).
inline std::string CrashRecordId(int32_t n) {
  return "K" + ZeroPadded(uint64_t(n) * 7919 % 1000003, 7) + "  ";
}
inline std::string CrashRecordMaker(int32_t n) {
  return "M" + ZeroPadded(uint64_t(n) * 104729 % 999983, 6) + std::string(8, ' ');
}
inline std::string CrashRecordModel(int32_t n) {
  std::string text = "rec" + std::to_string(n);
  return text + std::string(20 - text.size(), ' ');
}

}  // namespace tz
