// The byte-level pieces that the index engine and the expression compiler and evaluator share:
// the 12-byte packed-decimal numeric key, date keys as Julian day numbers, the sound code of
// SOUNDEX, and the byte and block helpers of index nodes.
//
// Numeric key (BcdKey, stored in index files):
//   byte 0   exponent: 52 + the number of integer digits; for a number below 1, 52 - the
//            zeros between the point and the first significant digit. The value is
//            0.d1d2d3... * 10^(byte 0 - 52). Kept within 1..255.
//   byte 1   bit 7 sign (1 negative), bits 6..2 number of significant digits 0..20, bit 0 1
//   2..11    up to 20 decimal digits, two to a byte, first digit in the high nibble of byte 2
// Zero (also a negative zero) has digit count 0 and sign 0: 34h 01h and ten zero bytes.
//
// Date key: the Julian day number of the date as a whole double (0001-01-01 is 1721426); a
// blank or invalid date is BlankDateValue, 1E100, which sorts after every real date.
//
// Character key: the key bytes as they are, compared as unsigned bytes.
//
// Everything here is a plain routine without state; none reports an error, throws, blocks or
// pumps, and none allocates beyond the strings it returns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tz {

using BcdKey = std::array<uint8_t, 12>;

inline constexpr double BlankDateValue = 1E100;
// Added to the day count (1 = 0001-01-01) to give the Julian day number.
inline constexpr int32_t JulianDayOffset = 1721425;
inline constexpr double FirstJulianDay = 1721426;  // 0001-01-01
inline constexpr double LastJulianDay = 5373484;   // 9999-12-31

// --- Keys and their comparison ----------------------------------------------------------------
// The three compares share one signature so that an index tag can hold one of them; the length
// matters only to CompareBytes.

// At the first unequal byte of the first n: a[i] - b[i] as unsigned bytes; 0 when all n are
// equal or n is 0.
int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n);
// Two 8-byte doubles: -1, 0 or 1. The length is ignored.
int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t length);
// Two BcdKeys by their value: negative, 0 or positive. Decides on the sign and exponent bytes
// first and compares at most 10 digit bytes. The length is ignored.
int CompareBcdKeys(const uint8_t* a, const uint8_t* b, size_t length);

// The key of a number text with `decimals` decimals ("123.45" -> 37 15 12 34 50 ...): blanks,
// a sign, leading zeros and a point are read; the first other character ends the number. At
// most the first 255 characters are read. Digits beyond the 20th are not stored, but integer
// digits beyond it still count in the exponent.
void TextToBcdKey(BcdKey& dest, std::string_view text, uint8_t decimals);
// The key of `value` written as fixed-point text with `decimals` decimals (rounded half away
// from zero).
void DoubleToBcdKey(BcdKey& dest, uint8_t decimals, double value);

// --- Small helpers --------------------------------------------------------------------------

// Decimal text of the number with "0" in front until it is at least `width` long.
std::string IntToStrZeroPad(int value, int width);
// Reverses the first n bytes in place.
void ReverseBytes(uint8_t* buffer, size_t n);
// Moves the q bytes after the first p bytes in front of them (nothing unless p and q are both
// above 0).
void SwapAdjacentBlocks(uint8_t* buffer, size_t p, size_t q);
bool IsUpperLetter(char c);
// a..z to A..Z; every other byte unchanged.
std::string UpperAscii(std::string_view text);
// Four-character sound code: the text's first character, then the digits of the following
// letters (A E H I O U W Y 0 unwritten; B F P V 1; C G J K Q S X Z 2; D T 3; L 4; M N 5; R 6),
// a digit written only when it differs from the letter before, padded with "0". Only the first
// 100 characters are looked at. "Robert" and "Rupert" give "R163"; an empty text "0000".
std::string SoundexCode(std::string_view text);

// --- Calendar and Julian day numbers --------------------------------------------------------

// 1 when divisible by 4 and not by 100, or divisible by 400; else 0.
int IsLeapYear(int year);
// The day within the year, 1..366; -1 when year < 0, the month is outside 1..12 or the day
// outside the month.
int DayOfYear(int year, int month, int day);
// The days of years 1 .. year - 1; 0 for year 1 and below.
int32_t DaysBeforeYear(int year);
struct MonthDay {
  int month;
  int day;
};
// Month and day of the day of year `day` (1..365, or 366 in a leap year).
MonthDay MonthDayOfYearDay(int day, bool leap);
// The Julian day number of the date; BlankDateValue for an invalid date. Year 0 reads as a
// leap year before year 1, so 0000-01-01 and 0001-01-01 give the same number.
double DateToJulian(int year, int month, int day);
// A YYYYMMDD text (its first 8 characters): its Julian day number; BlankDateValue for 8
// blanks and for an invalid date.
double DtosToJulian(std::string_view text);
// The date of a Julian day number as YYYYMMDD; 8 blanks outside 0001-01-01..9999-12-31.
std::string JulianToDtos(double julian);
// Year, month and day of a Julian day number; false (and nothing set) outside
// 0001-01-01..9999-12-31.
bool JulianToDate(double julian, int& year, int& month, int& day);
// The date as text of the current date format (DbDateFormat, the year of DbCentury): format 0
// MM/dd/yy, 1 yy.MM.dd, 2 and 8 dd/MM/yy, 3 dd-MM-yy, 4 to 7 dd.MM.yy. Outside the valid
// days the blank mask of the format ("  /  /  " ...).
std::string JulianToDateStr(double julian);
// A date text of the current format (at most 10 characters read): its Julian day number, or
// BlankDateValue.
double DateStrToJulian(std::string_view text);
// The same text as YYYYMMDD without a validity test; 8 blanks for the blank date.
std::string DateStrToDtos(std::string_view text);

}  // namespace tz
