#include "tables/index/tzndxlow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tests/tables/engine/engine_test_support.h"

namespace tz {
namespace {

using Keys = EngineTest;
using JulianDays = EngineTest;

std::string Hex(const BcdKey& key) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : key) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

BcdKey TextKey(const std::string& text, uint8_t decimals) {
  BcdKey key;
  TextToBcdKey(key, text, decimals);
  return key;
}

BcdKey ValueKey(double value, uint8_t decimals) {
  BcdKey key;
  DoubleToBcdKey(key, decimals, value);
  return key;
}

int Compare(const BcdKey& a, const BcdKey& b) {
  return CompareBcdKeys(a.data(), b.data(), 12);
}

TEST_F(Keys, BcdKeyBytesOfNumberTexts) {
  struct Case {
    const char* text;
    uint8_t decimals;
    const char* bytes;
  } cases[] = {
      {"123.45", 2, "37 15 12 34 50 00 00 00 00 00 00 00"},
      {"100", 0, "37 29 10 00 00 00 00 00 00 00 00 00"},
      {"-0.05", 2, "33 85 50 00 00 00 00 00 00 00 00 00"},
      {"0", 0, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {"-0", 0, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {"0.00", 2, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {"", 0, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {"   ", 2, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {"5", 0, "35 29 50 00 00 00 00 00 00 00 00 00"},
      {"-5", 0, "35 A9 50 00 00 00 00 00 00 00 00 00"},
      {"-50", 0, "36 A9 50 00 00 00 00 00 00 00 00 00"},
      {"0.001", 3, "32 05 10 00 00 00 00 00 00 00 00 00"},
      {"-1234.5", 1, "38 95 12 34 50 00 00 00 00 00 00 00"},
      {"   +42", 0, "36 29 42 00 00 00 00 00 00 00 00 00"},
      {"  - 007.50", 2, "35 8D 75 00 00 00 00 00 00 00 00 00"},  // trailing zero below decimals
      {"7.505", 3, "35 11 75 05 00 00 00 00 00 00 00 00"},
      {"1.2.3", 2, "35 09 12 00 00 00 00 00 00 00 00 00"},  // a second point ends the number
      {"12abc", 0, "36 29 12 00 00 00 00 00 00 00 00 00"},
      {"12345678901234567890", 0, "48 4D 12 34 56 78 90 12 34 56 78 90"},
      // A digit after the 20th ends the trailing zeros of the stored ones, a zero there does
      // not add one.
      {"1234567890123456789012345", 0, "4D 51 12 34 56 78 90 12 34 56 78 90"},
      {"12345678901234567890.1", 1, "48 51 12 34 56 78 90 12 34 56 78 90"},
      {"123456789012345678910", 0, "49 51 12 34 56 78 90 12 34 56 78 91"},
      {"1000000000000000000.00", 2, "47 29 10 00 00 00 00 00 00 00 00 00"},
      {"100000000000000000000", 0, "49 29 10 00 00 00 00 00 00 00 00 00"},  // 1E20
  };
  for (const Case& c : cases)
    EXPECT_EQ(Hex(TextKey(c.text, c.decimals)), c.bytes) << '"' << c.text << '"';
}

TEST_F(Keys, BcdKeyOfDoubles) {
  struct Case {
    double value;
    uint8_t decimals;
    const char* bytes;
  } cases[] = {
      {123.45, 2, "37 15 12 34 50 00 00 00 00 00 00 00"},
      {1.0, 2, "35 29 10 00 00 00 00 00 00 00 00 00"},  // 1.00: one digit raised to 10
      {-0.0, 2, "34 01 00 00 00 00 00 00 00 00 00 00"},
      {2.5, 0, "35 29 30 00 00 00 00 00 00 00 00 00"},  // rounded half away from zero: 3
      {-2.5, 0, "35 A9 30 00 00 00 00 00 00 00 00 00"},
      {0.125, 2, "34 09 13 00 00 00 00 00 00 00 00 00"},
      {std::ldexp(1.0, 200), 0, "71 51 16 06 93 80 44 25 89 90 27 55"},  // 61 integer digits
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(ValueKey(c.value, c.decimals)), c.bytes) << c.value;
}

TEST_F(Keys, BcdKeysSortByValue) {
  // Each key is below the next one.
  const BcdKey ascending[] = {
      ValueKey(-1e60, 0),
      TextKey("-1234567890123456789012345", 0),
      TextKey("-50", 0),
      TextKey("-5", 0),
      TextKey("-0.05", 2),
      TextKey("0", 0),
      TextKey("0." + std::string(57, '0') + "1", 60),
      TextKey("0.001", 3),
      TextKey("0.5", 1),
      TextKey("1", 0),
      TextKey("1.5", 2),
      TextKey("5", 0),
      TextKey("50", 0),
      TextKey("123.45", 2),
      TextKey("99999999999999999999", 0),
      TextKey("100000000000000000000", 0),
      TextKey("1234567890123456789012345", 0),
      ValueKey(1e60, 0),
  };
  const size_t n = std::size(ascending);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(Compare(ascending[i], ascending[i]), 0) << i;
    for (size_t j = i + 1; j < n; ++j) {
      EXPECT_LT(Compare(ascending[i], ascending[j]), 0) << i << " < " << j;
      EXPECT_GT(Compare(ascending[j], ascending[i]), 0) << j << " > " << i;
    }
  }
  // Every zero key equals every other, whatever text made it.
  EXPECT_EQ(Compare(TextKey("-0", 0), TextKey("0.00", 2)), 0);
  EXPECT_EQ(Compare(TextKey("", 0), ValueKey(0.0, 4)), 0);
  // Equal values written with other decimals are equal keys.
  EXPECT_EQ(Compare(ValueKey(5, 0), ValueKey(5, 2)), 0);
  EXPECT_EQ(Compare(ValueKey(-7.25, 2), TextKey("-7.250", 3)), 0);
}

TEST_F(Keys, ACorruptDigitCountComparesNoMoreThanTheTenDigitBytes) {
  // Digit count 31 in byte 1 (as a damaged index file may hold); the bytes after the 12 of
  // each key differ and must not be looked at.
  uint8_t a[18] = {0x40, 0x7D, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34,
                   0x56, 0x78, 0x90, 1,    1,    1,    1,    1,    1};
  uint8_t b[18];
  std::memcpy(b, a, 12);
  std::memset(b + 12, 2, 6);
  EXPECT_EQ(CompareBcdKeys(a, b, 12), 0);
  EXPECT_EQ(CompareBcdKeys(b, a, 12), 0);
}

TEST_F(Keys, DateKeysAndByteCompares) {
  double a = 2451545, b = 2451546, blank = BlankDateValue;
  auto bytes = [](const double& d) { return reinterpret_cast<const uint8_t*>(&d); };
  EXPECT_EQ(CompareDateKeys(bytes(a), bytes(b), 8), -1);
  EXPECT_EQ(CompareDateKeys(bytes(b), bytes(a), 8), 1);
  EXPECT_EQ(CompareDateKeys(bytes(a), bytes(a), 8), 0);
  EXPECT_EQ(CompareDateKeys(bytes(LastJulianDay), bytes(blank), 8), -1);
  const uint8_t blank_bytes[8] = {0x7D, 0xC3, 0x94, 0x25, 0xAD, 0x49, 0xB2, 0x54};
  EXPECT_EQ(std::memcmp(bytes(blank), blank_bytes, 8), 0);

  const uint8_t x[] = {1, 2, 0xF0}, y[] = {1, 2, 0x10};
  EXPECT_EQ(CompareBytes(x, y, 3), 0xE0);  // unsigned bytes
  EXPECT_EQ(CompareBytes(y, x, 3), -0xE0);
  EXPECT_EQ(CompareBytes(x, y, 2), 0);
  EXPECT_EQ(CompareBytes(x, y, 0), 0);
}

TEST_F(Keys, SoundCodes) {
  struct Case {
    const char* text;
    const char* code;
  } cases[] = {
      {"Robert", "R163"},  {"Rupert", "R163"},  {"A", "A000"},        {"", "0000"},
      {"Tymczak", "T522"}, {"Pfister", "P236"}, {"ashcraft", "A226"}, {"Lee", "L000"},
      {"Bo-b b", "B100"},  {"1abc", "1120"},    {"Gauss", "G200"},
  };
  for (const Case& c : cases) EXPECT_EQ(SoundexCode(c.text), c.code) << c.text;
}

TEST_F(Keys, NodeByteHelpers) {
  uint8_t buf[] = {'a', 'b', 'c', 'X', 'Y'};
  SwapAdjacentBlocks(buf, 3, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "XYabc");
  SwapAdjacentBlocks(buf, 0, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "XYabc");
  ReverseBytes(buf, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "YXabc");
  EXPECT_EQ(IntToStrZeroPad(7, 3), "007");
  EXPECT_EQ(IntToStrZeroPad(12345, 2), "12345");
  EXPECT_EQ(UpperAscii("abz\xE4"), "ABZ\xE4");
}

TEST_F(JulianDays, DayNumbersOfDates) {
  struct Case {
    const char* dtos;
    double julian;
  } cases[] = {
      {"00010101", 1721426},        {"00000101", 1721426},        {"20000101", 2451545},
      {"99991231", 5373484},        {"19700101", 2440588},        {"20240229", 2460370},
      {"16000229", 2305507},        {"20230229", BlankDateValue}, {"19000229", BlankDateValue},
      {"        ", BlankDateValue}, {"20241301", BlankDateValue}, {"2024ab01", BlankDateValue},
  };
  for (const Case& c : cases) EXPECT_EQ(DtosToJulian(c.dtos), c.julian) << c.dtos;

  struct Back {
    double julian;
    const char* dtos;
  } backs[] = {
      {1721426, "00010101"}, {2451545.75, "20000101"}, {5373484, "99991231"},
      {5373485, "        "}, {1721425, "        "},    {BlankDateValue, "        "},
      {-1e300, "        "},  {2440588, "19700101"},
  };
  for (const Back& b : backs) EXPECT_EQ(JulianToDtos(b.julian), b.dtos) << b.julian;
}

TEST_F(JulianDays, EveryDayOfFourYearsRoundTrips) {
  for (int year : {1600, 1900, 2000, 2100}) {
    double previous = DateToJulian(year - 1, 12, 31);
    int days = 0;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        double julian = DateToJulian(year, month, day);
        if (julian == BlankDateValue) continue;
        ++days;
        EXPECT_EQ(julian, previous + 1) << year << "-" << month << "-" << day;
        previous = julian;
        int y = 0, m = 0, d = 0;
        ASSERT_TRUE(JulianToDate(julian, y, m, d));
        EXPECT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day);
        EXPECT_EQ(DtosToJulian(JulianToDtos(julian)), julian);
      }
    }
    EXPECT_EQ(days, IsLeapYear(year) ? 366 : 365) << year;
  }
}

TEST_F(JulianDays, DateTextsOfEveryFormat) {
  const double day = 2460669;  // 2024-12-24
  struct Case {
    uint8_t format;
    bool century;
    const char* text;
    const char* blank;
  } cases[] = {
      {0, false, "12/24/24", "  /  /  "},    {0, true, "12/24/2024", "  /  /    "},
      {1, false, "24.12.24", "  .  .  "},    {1, true, "2024.12.24", "    .  .  "},
      {2, false, "24/12/24", "  /  /  "},    {3, false, "24-12-24", "  -  -  "},
      {4, false, "24.12.24", "  .  .  "},    {5, true, "24.12.2024", "  .  .    "},
      {6, false, "24.12.24", "  .  .  "},    {7, false, "24.12.24", "  .  .  "},
      {7, true, "24.12.2024", "  .  .    "}, {8, false, "24/12/24", "  /  /  "},
  };
  for (const Case& c : cases) {
    DbCentury = c.century;
    SetDateFormat(c.format);
    EXPECT_EQ(JulianToDateStr(day), c.text) << int{c.format};
    EXPECT_EQ(JulianToDateStr(BlankDateValue), c.blank) << int{c.format};
    EXPECT_EQ(JulianToDateStr(1721425), c.blank) << int{c.format};
    // And back, in the same format.
    EXPECT_EQ(DateStrToJulian(c.text), day) << int{c.format};
    EXPECT_EQ(DateStrToDtos(c.text), "20241224") << int{c.format};
    EXPECT_EQ(DateStrToJulian(c.blank), BlankDateValue) << int{c.format};
    EXPECT_EQ(DateStrToDtos(c.blank), "        ") << int{c.format};
    EXPECT_EQ(DbCentury, c.century);
  }
}

TEST_F(JulianDays, DateTextsWithTwoDigitYearsTakeTheCenturyWindow) {
  SetDateFormat(5);
  EXPECT_EQ(DateStrToDtos("09.12.26"), "20261209");
  EXPECT_EQ(DateStrToDtos("09.12.56"), "19561209");
  EXPECT_EQ(DateStrToJulian("31.04.26"), BlankDateValue);
  EXPECT_EQ(DateStrToDtos("31.04.26"), "20260431");  // no validity test
}

TEST_F(JulianDays, CalendarPieces) {
  struct Case {
    int year, month, day, day_of_year;
  } cases[] = {
      {2023, 1, 1, 1},  {2023, 12, 31, 365}, {2024, 12, 31, 366}, {2024, 3, 1, 61},
      {2023, 3, 1, 60}, {2024, 2, 29, 60},   {2023, 2, 29, -1},   {2024, 4, 31, -1},
      {2024, 0, 1, -1}, {2024, 13, 1, -1},   {2024, 1, 0, -1},    {-1, 1, 1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DayOfYear(c.year, c.month, c.day), c.day_of_year)
        << c.year << "-" << c.month << "-" << c.day;
    if (c.day_of_year > 0) {
      MonthDay md = MonthDayOfYearDay(c.day_of_year, IsLeapYear(c.year));
      EXPECT_EQ(md.month * 100 + md.day, c.month * 100 + c.day) << c.day_of_year;
    }
  }
  EXPECT_EQ(DaysBeforeYear(1), 0);
  EXPECT_EQ(DaysBeforeYear(2), 365);
  EXPECT_EQ(DaysBeforeYear(2001), 730485);
  EXPECT_EQ(IsLeapYear(1900), 0);
  EXPECT_EQ(IsLeapYear(2000), 1);
  EXPECT_EQ(IsLeapYear(2024), 1);
}

}  // namespace
}  // namespace tz
