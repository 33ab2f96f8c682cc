// The field value record: conversion between the stored record and the typed slots.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

// The value of a number text (leading blanks and one "+" allowed, the longest number in front
// taken, nothing else), saturated at the 64-bit range.
int64_t Integer64Of(std::string_view text) {
  std::string_view v = AllTrimView(text);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec == std::errc::result_out_of_range)
    value = !v.empty() && v.front() == '-' ? std::numeric_limits<int64_t>::min()
                                           : std::numeric_limits<int64_t>::max();
  else if (ec != std::errc())
    value = 0;
  return value;
}

// The same, saturated at the 32-bit range.
int32_t IntegerOf(std::string_view text) {
  return static_cast<int32_t>(std::clamp<int64_t>(Integer64Of(text),
                                                  std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// A number field without decimals that is 10 or more long holds numbers beyond 32 bits, so
// its slot is a 64-bit integer.
bool WideInteger(const TFieldEntry& f) {
  return (f.type == 'N' || f.type == 'F') && f.decimals == 0 && f.length >= 10;
}

double DoubleOf(std::string_view text) {
  std::string_view v = AllTrimView(text);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) value = 0;
  return value;
}

// Right-aligned in `length`; a text that does not fit fills the field with "*".
void PutRightAligned(char* field, size_t length, const std::string& text) {
  if (text.size() > length) {
    std::memset(field, '*', length);
    return;
  }
  std::memset(field, ' ', length - text.size());
  std::memcpy(field + length - text.size(), text.data(), text.size());
}

// The stored YYYYMMDD as the date text of the current format.
std::string DateOfStored(const char* stored) {
  std::string_view s(stored, 8);
  std::string_view year = DbCentury ? s.substr(0, 4) : s.substr(2, 2);
  std::string_view month = s.substr(4, 2), day = s.substr(6, 2);
  auto joined = [](std::string_view a, char separator, std::string_view b, std::string_view c) {
    std::string text;
    text.reserve(10);
    text.append(a).append(1, separator).append(b).append(1, separator).append(c);
    return text;
  };
  switch (DbDateFormat) {
    case 0:
      return joined(month, '/', day, year);
    case 1:
      return joined(year, '.', month, day);
    case 2:
      return joined(day, '/', month, year);
    case 3:
      return joined(day, '-', month, year);
    default:
      return joined(day, '.', month, year);
  }
}

// A date text of the current format as YYYYMMDD; 8 blanks for an empty or invalid date. A
// four-digit year keeps its own century.
std::string StoredOfDate(const std::string& text) {
  static const char* const kBlank[] = {"        ", "          ", "  /  /  ", "  /  /    ",
                                       "  -  -  ", "  -  -    ", "  .  .  ", "  .  .    "};
  std::string blank(8, ' ');
  if (text.empty()) return blank;
  for (const char* b : kBlank)
    if (text == b) return blank;
  std::string check = text;
  if (!IsValidDate(check)) return blank;
  std::string n = text;
  NormalizeDate(n);
  if (n.size() < 8 || n.find_first_not_of(" /") == std::string::npos) return blank;
  std::string year = n.substr(6);
  if (year.size() == 2) year = CenturyOf(year) + year;
  if (year.size() != 4) return blank;
  return year + n.substr(0, 2) + n.substr(3, 2);
}

void UnpackField(const TFieldEntry& f, const char* stored, char* slot) {
  std::string_view text(stored, f.length);
  switch (f.type) {
    case 'C':
      slot[0] = static_cast<char>(f.length);
      std::memcpy(slot + 1, stored, f.length);
      break;
    case 'D': {
      std::string date = DateOfStored(stored);
      slot[0] = static_cast<char>(date.size());
      std::memset(slot + 1, ' ', f.length + 2u);
      std::memcpy(slot + 1, date.data(), date.size());
      break;
    }
    case 'F':
    case 'N':
      if (f.decimals > 0) {
        double v = DoubleOf(text);
        std::memcpy(slot, &v, sizeof v);
      } else if (WideInteger(f)) {
        int64_t v = Integer64Of(text);
        std::memcpy(slot, &v, sizeof v);
      } else {
        int32_t v = IntegerOf(text);
        std::memcpy(slot, &v, sizeof v);
      }
      break;
    case 'L': {
      char c = f.length > 0 ? stored[0] : ' ';
      slot[0] = (c == 'T' || c == 'Y' || c == 't' || c == 'y') ? 1 : 0;
      break;
    }
    case 'M': {
      int32_t v = IntegerOf(text);
      std::memcpy(slot, &v, sizeof v);
      break;
    }
    default:
      break;
  }
}

void PackField(const TFieldEntry& f, const char* slot, char* stored) {
  switch (f.type) {
    case 'C': {
      size_t n = std::min<size_t>(static_cast<uint8_t>(slot[0]), f.length);
      std::memcpy(stored, slot + 1, n);
      std::memset(stored + n, ' ', f.length - n);
      break;
    }
    case 'D': {
      size_t n = std::min<size_t>(static_cast<uint8_t>(slot[0]), f.length + 2u);
      std::memcpy(stored, StoredOfDate(std::string(slot + 1, n)).data(), 8);
      break;
    }
    case 'F':
    case 'N':
      if (f.decimals > 0) {
        double v;
        std::memcpy(&v, slot, sizeof v);
        PutRightAligned(stored, f.length, std::isfinite(v) ? FormatFixed(v, f.decimals) : "*");
      } else if (WideInteger(f)) {
        int64_t v;
        std::memcpy(&v, slot, sizeof v);
        PutRightAligned(stored, f.length, std::to_string(v));
      } else {
        int32_t v;
        std::memcpy(&v, slot, sizeof v);
        PutRightAligned(stored, f.length, std::to_string(v));
      }
      break;
    case 'L':
      if (f.length > 0) stored[0] = slot[0] ? 'T' : 'F';
      break;
    case 'M': {
      int32_t v;
      std::memcpy(&v, slot, sizeof v);
      PutRightAligned(stored, f.length, std::to_string(v));
      break;
    }
    default:
      break;
  }
}

}  // namespace

size_t FieldSlotSize(const TFieldEntry& f) {
  switch (f.type) {
    case 'C':
      return 1u + f.length;
    case 'D':
      return f.length + 3u;
    case 'F':
    case 'N':
      return f.decimals > 0 || WideInteger(f) ? 8 : 4;
    case 'L':
      return 1;
    case 'M':
      return 4;
    default:
      return 0;
  }
}

size_t FieldValueRecordSize(const TDbfTable& t) {
  size_t size = 1;
  for (const TFieldEntry& f : t.Fields) size += FieldSlotSize(f);
  return size;
}

void UnpackRecord(TDbfTable& t, char* values) {
  values[0] = !t.Record.empty() && t.Record[0] == '*' ? 1 : 0;
  size_t at = 1;
  for (const TFieldEntry& f : t.Fields) {
    if (size_t{f.offset} + f.length <= t.Record.size())
      UnpackField(f, t.Record.data() + f.offset, values + at);
    at += FieldSlotSize(f);
  }
  t.Unpacked.assign(values, values + at);
}

namespace {

void Pack(TDbfTable& t, const char* values, bool keep_unchanged) {
  if (t.Record.empty()) return;
  t.Record[0] = values[0] ? '*' : ' ';
  size_t total = FieldValueRecordSize(t);
  bool have_baseline = keep_unchanged && t.Unpacked.size() == total;
  size_t at = 1;
  for (const TFieldEntry& f : t.Fields) {
    size_t slot = FieldSlotSize(f);
    bool unchanged = have_baseline && std::memcmp(values + at, t.Unpacked.data() + at, slot) == 0;
    if (!unchanged && size_t{f.offset} + f.length <= t.Record.size())
      PackField(f, values + at, t.Record.data() + f.offset);
    at += slot;
  }
  t.Unpacked.assign(values, values + total);
}

}  // namespace

void PackRecord(TDbfTable& t, const char* values) {
  Pack(t, values, false);
}

void PackChangedFields(TDbfTable& t, const char* values) {
  Pack(t, values, true);
}

}  // namespace tz
