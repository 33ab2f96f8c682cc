#include "tables/engine/tzutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/text.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"

namespace tz {

uint16_t DosError = 0;
std::vector<std::string> FilesNotErased;

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void EraseAll(std::string& s, char c) {
  s.erase(std::remove(s.begin(), s.end(), c), s.end());
}

void CutAt(std::string& s, char c) {
  size_t pos = s.find(c);
  if (pos != std::string::npos) s.resize(pos);
}

std::string PadLeft(std::string s, int width) {
  if (width > 0 && s.size() < static_cast<size_t>(width)) s.insert(0, width - s.size(), ' ');
  return s;
}

// The value of an optional "-" and the digits after it, saturated at the int64 range; 0 when
// no digit follows.
int64_t LeadingValue(std::string_view s) {
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  int64_t value = 0;
  for (char c : s) {
    if (!IsDigit(c)) break;
    if (value > (std::numeric_limits<int64_t>::max() - 9) / 10) {
      value = std::numeric_limits<int64_t>::max();
      break;
    }
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

char ThousandsSeparatorForTyping() {
  return DbDecimalSeparator == '.' ? ',' : '.';
}

}  // namespace

std::string Upper(std::string_view text) {
  return platform::AnsiUpper(text);
}

char CharUpperChar(char c) {
  return static_cast<char>(platform::AnsiUpperChar(static_cast<unsigned char>(c)));
}

char CharLowerChar(char c) {
  return static_cast<char>(platform::AnsiLowerChar(static_cast<unsigned char>(c)));
}

bool IsAlphaStart(std::string_view text) {
  return !text.empty() && platform::IsAnsiAlpha(static_cast<unsigned char>(text.front()));
}

std::string RTrim(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string TrimRightStr(std::string_view text) {
  return RTrim(text);
}

std::string LTrim(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimLeftStr(std::string_view text) {
  return LTrim(text);
}

std::string_view AllTrimView(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && IsBlank(text[start])) ++start;
  return text.substr(start, end - start);
}

std::string AllTrim(std::string_view text) {
  return std::string(AllTrimView(text));
}

std::string Replicate(char c, int count) {
  return count > 0 ? std::string(count, c) : "";
}

std::string PadRightTo(std::string_view text, int width) {
  std::string s(text);
  if (width > 0 && s.size() < static_cast<size_t>(width)) s.append(width - s.size(), ' ');
  return s;
}

std::string IIfStr(bool condition, const std::string& if_true, const std::string& if_false) {
  return condition ? if_true : if_false;
}

std::string IntToStrW(int32_t value, int width) {
  return PadLeft(std::to_string(value), width);
}

std::string FormatFixed(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  auto text = [&](int precision) {
    // Room for the 309 integer digits of the largest double, the sign, the point and the
    // decimals.
    std::string buf(320 + static_cast<size_t>(precision), '\0');
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                   std::chars_format::fixed, precision);
    buf.resize(ec == std::errc() ? static_cast<size_t>(end - buf.data()) : 0);
    return buf;
  };
  // to_chars rounds an exact tie to even; a tie is rounded away from zero here, as a user
  // typing 12.5 into a field without decimals expects 13. A double is an exact tie at
  // `decimals` places when it has exactly decimals + 1 binary fraction digits: its decimal
  // expansion then ends in a 5 at place decimals + 1.
  double twice = std::ldexp(value, decimals + 1);
  double once = std::ldexp(value, decimals);
  if (!std::isfinite(value) || twice != std::trunc(twice) || once == std::trunc(once))
    return text(decimals);
  std::string s = text(decimals + 1);
  s.pop_back();  // the 5
  if (s.back() == '.') s.pop_back();
  size_t first_digit = s.front() == '-' ? 1 : 0;
  size_t i = s.size();
  while (i > first_digit) {
    --i;
    if (s[i] == '.') continue;
    if (s[i] != '9') {
      ++s[i];
      return s;
    }
    s[i] = '0';
  }
  s.insert(first_digit, "1");
  return s;
}

std::string FloatToStrDec(int width, int decimals, double value) {
  std::string s = FormatFixed(value, decimals);
  if (decimals > 0 && DbDecimalSeparator != '.')
    std::replace(s.begin(), s.end(), '.', DbDecimalSeparator);
  return PadLeft(std::move(s), width);
}

int32_t OccursCount(std::string_view sub, std::string_view text) {
  if (sub.empty() || text.empty()) return 0;
  int32_t count = 0;
  size_t pos = 0;
  while ((pos = text.find(sub, pos)) != std::string_view::npos) {
    ++count;
    pos += sub.size();
  }
  return count;
}

int32_t NthOccurrence(int32_t n, std::string_view sub, std::string_view text) {
  if (n == 0 || sub.empty() || text.empty()) return 0;
  if (n < 0) {
    std::string rsub(sub.rbegin(), sub.rend());
    std::string rtext(text.rbegin(), text.rend());
    int32_t pos = NthOccurrence(-n, rsub, rtext);
    if (pos == 0) return 0;
    return static_cast<int32_t>(text.size() - sub.size()) - pos + 2;
  }
  // Each search starts one character behind the previous find, so overlapping occurrences
  // count ("aa" in "aaaa" is found at 1, 2 and 3).
  size_t from = 0;
  size_t found = 0;
  for (int32_t i = 0; i < n; ++i) {
    found = text.find(sub, from);
    if (found == std::string_view::npos) return 0;
    from = found + 1;
  }
  return static_cast<int32_t>(found + 1);
}

int16_t StrToIntSigned(std::string_view text) {
  std::string s(text);
  s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
  if (!s.empty() && s.front() == '+') {
    s.erase(0, 1);
    s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
  }
  EraseAll(s, ThousandsSeparatorForTyping());
  if (size_t dollar = s.find('$'); dollar != std::string::npos) s.erase(dollar, 1);
  CutAt(s, ' ');
  size_t run = 0;
  while (run < s.size() && (IsDigit(s[run]) || s[run] == '-')) ++run;
  s.resize(run);
  int64_t value = LeadingValue(s);
  return static_cast<int16_t>(std::clamp<int64_t>(value, -32768, 32767));
}

void NormalizeNumberText(std::string& text) {
  if (text.empty()) return;
  std::string s = text;
  EraseAll(s, '$');
  s.erase(0, std::min(s.size(), s.find_first_not_of(" +")));
  if (!s.empty() && s.front() == '-') {
    s.erase(0, std::min(s.size(), s.find_first_not_of(" +-")));
    if (s.empty()) {
      text.clear();
      return;
    }
    if (s.front() == DbDecimalSeparator) s.insert(0, "0");
    s.insert(0, "-");
  }
  if (DbDecimalSeparator == '.') {
    EraseAll(s, ',');
  } else {
    EraseAll(s, '.');
    if (size_t pos = s.find(DbDecimalSeparator); pos != std::string::npos) s[pos] = '.';
  }
  if (!s.empty() && s.front() == '.') s.insert(0, "0");
  CutAt(s, ' ');
  size_t run = 0;
  while (run < s.size() && (IsDigit(s[run]) || s[run] == '.' || (s[run] == '-' && run == 0))) ++run;
  s.resize(run);
  if (!s.empty() && s.back() == '.') s.pop_back();
  text = s;
}

int32_t NumberTextToInt(std::string_view text) {
  std::string s(text);
  NormalizeNumberText(s);
  CutAt(s, DbDecimalSeparator);
  int64_t value = LeadingValue(s);
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

bool RemoveWord(std::string_view word, std::string& text) {
  text = Upper(text);
  std::string w = Upper(word);
  bool removed = false;
  if (!w.empty()) {
    size_t from = 0;
    size_t pos;
    while ((pos = text.find(w, from)) != std::string::npos) {
      size_t end = pos + w.size();
      bool alone_before = pos == 0 || IsBlank(w.front()) || IsBlank(text[pos - 1]);
      bool alone_after = end == text.size() || IsBlank(w.back()) || IsBlank(text[end]);
      if (alone_before && alone_after) {
        text.erase(pos, w.size());
        removed = true;
        from = pos;
      } else {
        from = pos + 1;
      }
    }
  }
  text = AllTrim(text);
  return removed;
}

std::string AnsiToOemStr(std::string_view text) {
  return platform::AnsiToOem(text);
}

std::string OemToAnsiStr(std::string_view text) {
  return platform::OemToAnsi(text);
}

void FSplit(std::string_view path, std::string& dir, std::string& name, std::string& ext) {
  size_t sep = path.find_last_of("/\\");
  size_t start = sep == std::string_view::npos ? 0 : sep + 1;
  dir = std::string(path.substr(0, start));
  std::string_view rest = path.substr(start);
  size_t dot = rest.rfind('.');
  name = std::string(rest.substr(0, dot));
  ext = dot == std::string_view::npos ? "" : std::string(rest.substr(dot));
}

std::string DefaultExtension(std::string_view path, std::string_view ext) {
  std::string dir, name, old_ext;
  FSplit(path, dir, name, old_ext);
  if (!old_ext.empty()) return std::string(path);
  return dir + RTrim(name) + "." + std::string(ext);
}

std::string ForceExtension(std::string_view path, std::string_view ext) {
  std::string dir, name, old_ext;
  FSplit(path, dir, name, old_ext);
  return dir + name + "." + std::string(ext);
}

std::string RemoveExtension(std::string_view path) {
  std::string dir, name, ext;
  FSplit(path, dir, name, ext);
  return dir + name;
}

std::string ExpandPath(std::string_view path) {
  return platform::FullPath(path);
}

std::string ShortPath(std::string_view path) {
  std::string trimmed = RTrim(path);
  if (trimmed.empty()) return "";
  // Every component that exists is spelled as on the disk; the whole exists only when each
  // of its components does.
  std::string resolved = platform::ResolvePath(trimmed);
  std::error_code ec;
  return std::filesystem::exists(resolved, ec) ? resolved : "";
}

bool FileExistsS(std::string_view path) {
  return platform::FileExists(path);
}

uint32_t FileDateOf(const platform::File& file) {
  uint32_t stamp = 0;
  DosError = static_cast<uint16_t>(file.DateStamp(&stamp));
  return DosError == 0 ? stamp : 0;
}

bool FileDatedToday(std::string_view path) {
  if (!FileExistsS(path)) return false;
  platform::File file;
  if (file.Open(path, platform::kModeReadShared) != platform::kFileOk) return false;
  uint32_t stamp = FileDateOf(file);
  if (DosError != 0) return false;
  uint16_t year, month, day, hour, minute, second;
  UnpackFileDate(stamp, year, month, day, hour, minute, second);
  uint16_t ty, tm, td, dow;
  DayOfWeekOf(ty, tm, td, dow);
  return year == ty && month == tm && day == td;
}

uint16_t EraseFile(std::string_view path) {
  platform::File file;
  int rc = file.Open(path, platform::kModeReadExclusive);
  if (rc != platform::kFileOk) return static_cast<uint16_t>(rc);
  file.Close();
  return static_cast<uint16_t>(platform::RemoveFile(path));
}

void EraseFiles(std::string_view mask) {
  DbLastError = 0;
  FilesNotErased.clear();
  if (mask.find_first_of("*?") == std::string_view::npos) {
    if (uint16_t rc = EraseFile(mask); rc != 0)
      SetDbError(rc, "Error erasing " + std::string(mask));
    return;
  }
  std::string dir, name, ext;
  FSplit(ExpandPath(mask), dir, name, ext);
  int failed = 0;
  TSearchRec rec;
  for (uint16_t rc = DbFindFirst(dir + name + ext, platform::kAttrArchive, rec); rc == 0;
       rc = DbFindNext(rec)) {
    if (EraseFile(dir + rec.entry.name) != 0) {
      ++failed;
      FilesNotErased.push_back(rec.entry.name);
    }
  }
  DbFindClose(rec);
  if (failed > 0)
    SetDbError(5, "Could not erase " + std::to_string(failed) + " files like " + std::string(mask));
}

uint32_t DiskFreeKB(std::string_view path) {
  uint64_t bytes = 0;
  if (platform::FreeDiskSpace(path, &bytes) != platform::kFileOk) return 0x7FFFFFFF;
  return static_cast<uint32_t>(std::min<uint64_t>(bytes / 1024, 0x7FFFFFFF));
}

uint32_t DiskFreeOfDrive(int drive) {
  return DiskFreeKB(drive == 0 ? "" : "/");
}

std::string UniqueFilename() {
  std::string path;
  if (int rc = platform::CreateTempFile("TZP", &path); rc != platform::kFileOk) {
    SetDbError(static_cast<uint16_t>(rc), "Error requesting unique file name [UniqueFilename]");
    return "";
  }
  return path;
}

uint16_t DbFindFirst(std::string_view mask, unsigned attributes, TSearchRec& rec) {
  DosError = static_cast<uint16_t>(rec.search.First(mask, attributes, &rec.entry));
  return DosError;
}

uint16_t DbFindNext(TSearchRec& rec) {
  DosError = static_cast<uint16_t>(rec.search.Next(&rec.entry));
  return DosError;
}

void DbFindClose(TSearchRec& rec) {
  rec.search.Close();
}

}  // namespace tz
