// Date texts of the table library. Dates travel as short texts: in the table file as
// YYYYMMDD, in the field values and on screen in the country form of DbDateFormat, and
// between the routines here in one internal form, MM/DD/YY or MM/DD/YYYY.
//
// Date formats (DbDateFormat), the year two or four digits as DbCentury says:
//   0 MM/dd/yy (English, United States, and every language not listed)   1 yy.MM.dd
//   2 dd/MM/yy (English elsewhere)   3 dd-MM-yy (Italian)   4 dd.MM.yy (French)
//   5 dd.MM.yy (German)   6 dd.MM.yy (Spanish)   7 dd.MM.yy (French, Canada)
//   8 dd.MM.yy (Russian)
// Two-digit years belong to the hundred years that begin at DbCenturyBase.
//
// None of these throws, blocks or pumps; only DateFrom reports an error (through SetDbError,
// which may throw or halt as tzcommon.h says).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tz {

// DbDateFormat := format (9 and above give 0); DbDatePicture and DbDateSeparator from the
// format, the year part by DbCentury at this moment.
void SetDateFormat(uint8_t format);
// The same, for the applications.
void SetCountryDateFormat(uint8_t format);
// The country of the user's language, from the first of $LC_ALL, $LC_TIME and $LANG that is
// set and not empty ("de_DE.UTF-8"): German 5; English 0 in the United States (and without a
// territory), else 2; Spanish 6; French 7 in Canada, else 4; Italian 3; Russian 8; "C",
// "POSIX", unset and every other language 0.
uint8_t CountryFromLanguage();
// DbCountry and the date format from CountryFromLanguage; formats 3 to 6 take "," as decimal
// and "." as thousands separator, format 8 "." and a blank, all others "." and ",".
void InitCountry();

// Today's local date; day of week 1 = Sunday to 7 = Saturday.
void DayOfWeekOf(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& day_of_week);
// A file date stamp (File::DateStamp in platform/files.h) taken apart.
void UnpackFileDate(uint32_t stamp, uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& hour,
                    uint16_t& minute, uint16_t& second);
// Divisible by 400, or by 4 and not by 100.
bool LeapYear(int year);
// The century (1900, 2000, ...) of a two-digit year text by the window; a text that is not a
// number counts as year 00.
int16_t CenturyYearOf(std::string_view two_digit_year);
// The first two digits of CenturyYearOf.
std::string CenturyOf(std::string_view two_digit_year);
// With DbCentury on: a two-digit year gets its century digits in front, another year shorter
// than four digits is padded with leading "0" to four; with it off the text is unchanged.
std::string ExpandYear(std::string_view year);
// The empty date of a format: blanks where the digits go, "  /  /  " (format 0 and 2),
// "  -  -  " (3), "  .  .  " (4 to 8), "  .  .  " with the year first for format 1; the year
// part is 2 or 4 blanks by DbCentury. Formats 9 and above count as 0.
std::string DatePicture(uint8_t format);

// Country form to internal form, by the separator the text contains ("/", else "-", else
// "."); a text with none of them stays unchanged. All parts empty give DatePicture(0).
void NormalizeDate(std::string& text);
// Internal form to the country form of DbDateFormat.
void DateToCountry(std::string& text);
// True when the text is an existing date (or the empty date); then the text is written back in
// the country form, the year cut to two digits when DbCentury is off. A false answer leaves
// the text unchanged.
bool IsValidDate(std::string& text);
// A date text in the country form. Two-digit years (0..99) take their century from the window
// and keep two digits unless DbCentury is on; larger years keep four. A date that does not
// exist (month outside 1..12, day outside the month's length) sets error 220 with
// "[DateFrom(" year "," month "," day ")]", month and day blank-padded to two characters, and
// still returns the text; an existing one clears DbLastError.
std::string DateFrom(int year, int month, int day);
// DateFrom of today, the year cut to two digits when DbCentury is off.
std::string TodayStr();

// Day of week of a date text, 1 = Sunday to 7 = Saturday; 0 when the text is not a date.
int DateDow(std::string text);
// The day name of the format's language padded to the language's width; 10 blanks for a text
// that is not a date.
std::string DateCDow(std::string text);
// The month name padded to the language's width; 9 blanks when the month is not 1..12 (also
// for the empty date).
std::string DateCMonth(std::string text);
// After NormalizeDate: the month (its leading digits), the day and the year (0 when not a
// number) of the text.
int DateMonth(std::string text);
int DateDay(std::string text);
int DateYear(std::string text);
// The stored form YYYYMMDD (a two-digit year gets its century); 8 blanks for the empty date or
// a text that is not in date form.
std::string DateToDTOS(std::string text);
// Every blank becomes "0".
void ZeroFillBlanks(std::string& text);
// The millisecond clock (platform/clock.h) in whole seconds.
uint32_t SecondsSinceStart();

}  // namespace tz
