#include "tables/index/tzndxlow.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

constexpr uint8_t kZeroExponent = 52;
constexpr uint8_t kSignBit = 0x80;
constexpr int kMaxDigits = 20;

// Days before each month of a common year; the 13th entry is the year's length.
constexpr int kDaysBefore[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Sound digits of A..Z.
constexpr char kSoundDigits[] = "01230120022455012623010202";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int MonthLength(int year, int month) {
  int length = kDaysBefore[month] - kDaysBefore[month - 1];
  return month == 2 ? length + IsLeapYear(year) : length;
}

// The number in `text` after trimming blanks, when it is all digits; else 0.
int NumberIn(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Year, month and day of a date text of the current format, read with four-digit years.
void DateStrParts(std::string_view text, int& year, int& month, int& day) {
  bool century = DbCentury;
  DbCentury = true;
  std::string s(text.substr(0, 10));
  NormalizeDate(s);
  DbCentury = century;
  auto part = [&](size_t pos, size_t n) {
    return pos < s.size() ? std::string_view(s).substr(pos, n) : std::string_view();
  };
  month = NumberIn(part(0, 2));
  day = NumberIn(part(3, 2));
  year = NumberIn(part(6, 4));
}

}  // namespace

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return int{a[i]} - int{b[i]};
  return 0;
}

int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t /*length*/) {
  double x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return x < y ? -1 : x > y ? 1 : 0;
}

int CompareBcdKeys(const uint8_t* a, const uint8_t* b, size_t /*length*/) {
  int s = (a[1] & kSignBit) ? -1 : 1;
  if ((a[1] & kSignBit) != (b[1] & kSignBit)) return s;
  int digits_a = (a[1] >> 2) & 0x1F;
  int digits_b = (b[1] >> 2) & 0x1F;
  int exp_a = digits_a == 0 ? 0 : a[0];
  int exp_b = digits_b == 0 ? 0 : b[0];
  if (exp_a == exp_b) {
    // A key from a damaged file may claim up to 31 digits; only the 10 digit bytes exist.
    size_t bytes = static_cast<size_t>(std::min((std::max(digits_a, digits_b) + 1) / 2, 10));
    return s == 1 ? CompareBytes(a + 2, b + 2, bytes) : CompareBytes(b + 2, a + 2, bytes);
  }
  return exp_a < exp_b ? -s : s;
}

void TextToBcdKey(BcdKey& dest, std::string_view text, uint8_t decimals) {
  dest.fill(0);
  text = text.substr(0, 255);
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && text[i] == '+') {
    ++i;
  } else if (i < n && text[i] == '-') {
    dest[1] |= kSignBit;
    ++i;
  }
  while (i < n && (text[i] == ' ' || text[i] == '0')) ++i;

  // The exponent is worked out wide and clamped at the end, so that neither very long integer
  // parts nor very many leading fraction zeros wrap the byte.
  int exponent = kZeroExponent;
  bool point = false;
  if (i < n && text[i] == '.') {
    point = true;
    ++i;
    int zeros = 0;
    while (i < n && text[i] == '0') {
      ++zeros;
      ++i;
    }
    if (i < n) exponent -= zeros;
  }

  int stored = 0;
  int trailing_zeros = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!IsDigit(c)) break;
    if (stored == kMaxDigits) {
      // Not stored. A non-zero digit here means the stored digits have no trailing zeros; a
      // zero does not count as one (1E20 would lose all its digits). Beyond that only integer
      // digits still matter, for the exponent.
      if (c != '0') trailing_zeros = 0;
      if (point) break;
      ++exponent;
      continue;
    }
    trailing_zeros = c == '0' ? trailing_zeros + 1 : 0;
    uint8_t digit = static_cast<uint8_t>(c - '0');
    dest[2 + stored / 2] |= (stored % 2 == 0) ? static_cast<uint8_t>(digit << 4) : digit;
    if (!point) ++exponent;
    ++stored;
  }
  dest[0] = static_cast<uint8_t>(std::clamp(exponent, 1, 255));

  dest[1] |= 1;
  int length;
  if (point && decimals > trailing_zeros) {
    length = stored;
  } else {
    length = stored - trailing_zeros;
    if (length != 0) length = std::max(length, 10);
  }
  length = std::min(length, kMaxDigits);
  if (length > 0)
    dest[1] |= static_cast<uint8_t>(length << 2);
  else
    dest[1] &= static_cast<uint8_t>(~kSignBit);
  if (stored == 0) dest[0] = kZeroExponent;
}

void DoubleToBcdKey(BcdKey& dest, uint8_t decimals, double value) {
  TextToBcdKey(dest, FormatFixed(value, decimals), decimals);
}

std::string IntToStrZeroPad(int value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

void ReverseBytes(uint8_t* buffer, size_t n) {
  std::reverse(buffer, buffer + n);
}

void SwapAdjacentBlocks(uint8_t* buffer, size_t p, size_t q) {
  if (p == 0 || q == 0) return;
  ReverseBytes(buffer, p);
  ReverseBytes(buffer + p, q);
  ReverseBytes(buffer, p + q);
}

bool IsUpperLetter(char c) {
  return c >= 'A' && c <= 'Z';
}

std::string UpperAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string SoundexCode(std::string_view text) {
  std::string s = UpperAscii(text.substr(0, 100));
  std::string code = "0000";
  if (s.empty()) return code;
  code[0] = s[0];
  char previous = IsUpperLetter(s[0]) ? kSoundDigits[s[0] - 'A'] : '0';
  size_t filled = 1;
  for (size_t i = 1; i < s.size() && filled < 4; ++i) {
    if (!IsUpperLetter(s[i])) continue;
    char digit = kSoundDigits[s[i] - 'A'];
    if (digit != previous && digit != '0') code[filled++] = digit;
    previous = digit;
  }
  return code;
}

int IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DayOfYear(int year, int month, int day) {
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > MonthLength(year, month)) return -1;
  int result = kDaysBefore[month - 1] + day;
  if (month > 2) result += IsLeapYear(year);
  return result;
}

int32_t DaysBeforeYear(int year) {
  int32_t n = year - 1;
  if (n < 1) return 0;
  return 365 * n + n / 4 - n / 100 + n / 400;
}

MonthDay MonthDayOfYearDay(int day, bool leap) {
  if (leap) {
    if (day == 60) return {2, 29};
    if (day > 60) --day;
  }
  int month = 1;
  while (month < 12 && kDaysBefore[month] < day) ++month;
  return {month, day - kDaysBefore[month - 1]};
}

double DateToJulian(int year, int month, int day) {
  int d = DayOfYear(year, month, day);
  if (d < 1) return BlankDateValue;
  return static_cast<double>(DaysBeforeYear(year) + d + JulianDayOffset);
}

double DtosToJulian(std::string_view text) {
  text = text.substr(0, 8);
  auto part = [&](size_t pos, size_t n) {
    return pos < text.size() ? text.substr(pos, n) : std::string_view();
  };
  int year = NumberIn(part(0, 4));
  if (year == 0 && text == "        ") return BlankDateValue;
  return DateToJulian(year, NumberIn(part(4, 2)), NumberIn(part(6, 2)));
}

bool JulianToDate(double julian, int& year, int& month, int& day) {
  if (!(julian >= FirstJulianDay && julian <= LastJulianDay)) return false;
  int32_t n = static_cast<int32_t>(std::trunc(julian)) - JulianDayOffset;
  int y = std::max(n / 366, 1);
  int32_t d = n - DaysBeforeYear(y);
  while (d > 365 + IsLeapYear(y)) {
    d -= 365 + IsLeapYear(y);
    ++y;
  }
  MonthDay md = MonthDayOfYearDay(d, IsLeapYear(y));
  year = y;
  month = md.month;
  day = md.day;
  return true;
}

std::string JulianToDtos(double julian) {
  int year, month, day;
  if (!JulianToDate(julian, year, month, day)) return std::string(8, ' ');
  return IntToStrZeroPad(year, 4) + IntToStrZeroPad(month, 2) + IntToStrZeroPad(day, 2);
}

std::string JulianToDateStr(double julian) {
  int year, month, day;
  bool valid = JulianToDate(julian, year, month, day);
  std::string y = !valid      ? std::string(DbCentury ? 4 : 2, ' ')
                  : DbCentury ? IntToStrZeroPad(year, 4)
                              : IntToStrZeroPad(year % 100, 2);
  std::string m = valid ? IntToStrZeroPad(month, 2) : "  ";
  std::string d = valid ? IntToStrZeroPad(day, 2) : "  ";
  switch (DbDateFormat) {
    case 0:
      return m + "/" + d + "/" + y;
    case 1:
      return y + "." + m + "." + d;
    case 3:
      return d + "-" + m + "-" + y;
    case 4:
    case 5:
    case 6:
    case 7:
      return d + "." + m + "." + y;
    default:  // 2 and 8
      return d + "/" + m + "/" + y;
  }
}

double DateStrToJulian(std::string_view text) {
  int year, month, day;
  DateStrParts(text, year, month, day);
  return DateToJulian(year, month, day);
}

std::string DateStrToDtos(std::string_view text) {
  int year, month, day;
  DateStrParts(text, year, month, day);
  std::string s = IntToStrZeroPad(year, 4) + IntToStrZeroPad(month, 2) + IntToStrZeroPad(day, 2);
  return s == "00000000" ? std::string(8, ' ') : s;
}

}  // namespace tz
