// Dates, times and numbers as the dataset framework's fields show and read them.
//
// A TDateTime is a day count as a double: the whole part counts days since 30 December 1899,
// the fraction is the time of day (0.5 = noon). A TTimeStamp splits the same moment into a day
// number counted from 1 January of the year 1 (that day is 1) and the milliseconds of the day;
// it is the native form in which date, time and date-time fields travel between a field and its
// dataset (fields.h).
//
// Texts are formatted and read by the process-wide TFormatSettings, taken from the user's
// language at first use. Numbers go through std::to_chars / std::from_chars, never through the
// C locale (Qt changes the process locale).
//
// Nothing here blocks or pumps. The Try... functions never throw; the others throw
// EConvertError with the text named at each.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::dataset {

using TDateTime = double;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // days since 1 January 0001, that day being 1
};

// Days from 1 January 0001 to 30 December 1899 (TDateTime 0), and milliseconds per day.
inline constexpr int32_t DateDelta = 693594;
inline constexpr int32_t MSecsPerDay = 86400000;

// A text that does not convert; what() is the text named at the function.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Time stamps ---------------------------------------------------------------------------

// The moment split into day number and milliseconds, the milliseconds rounded.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// The moment of a time stamp; days before 30 December 1899 keep the time as a positive part of
// the day, as TDateTime counts them.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
// All milliseconds of a time stamp (Date * MSecsPerDay + Time) and back.
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

// --- Calendar -------------------------------------------------------------------------------

// True and the date when year 1..9999, month 1..12 and day exist; false otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
// The same; a date that does not exist throws EConvertError "Invalid argument to date encode".
TDateTime EncodeDate(int year, int month, int day);
// True and the time of day when hour 0..23, minute and second 0..59 and msec 0..999.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
// Today at midnight and the current local moment.
TDateTime Date();
TDateTime Now();

// --- Format settings -------------------------------------------------------------------------

// How dates and numbers are written and read. Date and time formats use d, dd (day), m, mm, M,
// MM (month; m and mm right after an hour stand for minutes), yy, yyyy (year), h, hh (hour), n,
// nn (minute), s, ss (second); "/" stands for DateSeparator and ":" for TimeSeparator; every
// other character is written as it is.
struct TFormatSettings {
  char DateSeparator = '/';
  std::string ShortDateFormat = "M/d/yyyy";
  char TimeSeparator = ':';
  std::string LongTimeFormat = "hh:nn:ss";
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  // Two-digit years read into the hundred years that end this many years after today [50].
  int TwoDigitYearCenturyWindow = 50;
};

// The settings of the user's language, from the first of $LC_ALL, $LC_TIME and $LANG that is
// set: German and Russian day.month.year with "."; English outside the United States, French,
// Italian and Spanish day/month/year with "/"; all others (C, POSIX, unset, en_US) M/d/yyyy.
// The decimal separator is "," for German, French, Italian, Spanish and Russian, else ".".
TFormatSettings LocaleFormatSettings();
// The process-wide settings (LocaleFormatSettings at first use); the caller may change them.
TFormatSettings& FormatSettings();

// --- Date and time texts ----------------------------------------------------------------------

// The date part by ShortDateFormat, the time part by LongTimeFormat, or both with a blank
// between them (the time left out when it is midnight).
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
// Reads a date in the order of ShortDateFormat (day, month and year as its first letters
// give them) with DateSeparator between the parts; blanks around the text and around each
// part are ignored, a missing year is this year, two-digit years follow
// TwoDigitYearCenturyWindow.
bool TryStrToDate(std::string_view text, TDateTime& value);
// EConvertError "'<text>' is not a valid date".
TDateTime StrToDate(std::string_view text);
// A date, optionally followed by blanks and a time "h:n[:s]" with TimeSeparator.
bool TryStrToDateTime(std::string_view text, TDateTime& value);
// EConvertError "'<text>' is not a valid date and time".
TDateTime StrToDateTime(std::string_view text);

// --- Number texts -----------------------------------------------------------------------------

std::string IntToStr(int64_t value);
// A decimal integer with an optional sign, blanks around it ignored; false when the text is
// not one or does not fit 32 bits.
bool TryStrToInt(std::string_view text, int32_t& value);
// EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
// Up to 15 significant digits with DecimalSeparator, exponent form "1E20" / "1E-5" when the
// plain form would need more: 3.5 -> "3.5", 42 -> "42".
std::string FloatToStr(double value);
// A decimal number with DecimalSeparator and an optional exponent, blanks around it ignored.
bool TryStrToFloat(std::string_view text, double& value);
// EConvertError "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

}  // namespace platform::dataset
