#include "platform/dataset/convert.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/locale.h"

namespace platform::dataset {

namespace {

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month];
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string TwoDigits(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

// Writes a date or time by a format of the letters convert.h names.
std::string FormatByPattern(const std::string& pattern, TDateTime value) {
  const TFormatSettings& fs = FormatSettings();
  int year, month, day, hour, minute, second, msec;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, msec);
  std::string out;
  bool after_hour = false;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    char lower = static_cast<char>(c | 0x20);
    size_t run = 1;
    while (i + run < pattern.size() && (pattern[i + run] | 0x20) == lower &&
           (lower == 'd' || lower == 'm' || lower == 'y' || lower == 'h' || lower == 'n' ||
            lower == 's')) {
      ++run;
    }
    switch (lower) {
      case 'd':
        out += run >= 2 ? TwoDigits(day) : std::to_string(day);
        break;
      case 'm':
        if (after_hour) {
          out += run >= 2 ? TwoDigits(minute) : std::to_string(minute);
          after_hour = false;
        } else {
          out += run >= 2 ? TwoDigits(month) : std::to_string(month);
        }
        break;
      case 'y':
        out += run >= 3 ? std::to_string(year) : TwoDigits(year % 100);
        break;
      case 'h':
        out += run >= 2 ? TwoDigits(hour) : std::to_string(hour);
        after_hour = true;
        break;
      case 'n':
        out += run >= 2 ? TwoDigits(minute) : std::to_string(minute);
        break;
      case 's':
        out += run >= 2 ? TwoDigits(second) : std::to_string(second);
        break;
      default:
        if (c == '/') {
          out += fs.DateSeparator;
        } else if (c == ':') {
          out += fs.TimeSeparator;
        } else {
          out += c;
        }
        run = 1;
        break;
    }
    i += run;
  }
  return out;
}

// One number of a date or time text and how many digits it was written with.
struct TextNumber {
  int value = 0;
  size_t digits = 0;
};

// Reads unsigned decimal numbers separated by `separator`, each with blanks around it allowed
// (formats such as "d. M. yyyy" write them); nullopt when anything else is in the text or a
// part has no digits.
std::optional<std::vector<TextNumber>> SplitNumbers(std::string_view text, char separator) {
  std::vector<TextNumber> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    std::string_view part =
        TrimBlanks(text.substr(start, end == std::string_view::npos ? end : end - start));
    int value = 0;
    if (part.empty() || part.size() > 4) return std::nullopt;
    auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc() || ptr != part.data() + part.size()) return std::nullopt;
    parts.push_back({value, part.size()});
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

int ExpandTwoDigitYear(int year, size_t digits) {
  const TFormatSettings& fs = FormatSettings();
  if (digits > 2 || fs.TwoDigitYearCenturyWindow <= 0) return year;
  int this_year, month, day;
  DecodeDate(Date(), this_year, month, day);
  int century_start = this_year - fs.TwoDigitYearCenturyWindow;
  int result = year + century_start / 100 * 100;
  if (result < century_start) result += 100;
  return result;
}

bool TryReadDate(std::string_view text, TDateTime& value) {
  const TFormatSettings& fs = FormatSettings();
  text = TrimBlanks(text);
  auto parts = SplitNumbers(text, fs.DateSeparator);
  if (!parts || parts->size() < 2 || parts->size() > 3) return false;
  // The order of day, month and year follows the format's first letter.
  char first = fs.ShortDateFormat.empty() ? 'm' : static_cast<char>(fs.ShortDateFormat[0] | 0x20);
  int year, month, day;
  DecodeDate(Date(), year, month, day);
  size_t year_digits = 4;
  const std::vector<TextNumber>& p = *parts;
  if (p.size() == 2) {
    if (first == 'd') {
      day = p[0].value, month = p[1].value;
    } else {  // month first, also for year-first formats
      month = p[0].value, day = p[1].value;
    }
  } else if (first == 'd') {
    day = p[0].value, month = p[1].value, year = p[2].value, year_digits = p[2].digits;
  } else if (first == 'y') {
    year = p[0].value, month = p[1].value, day = p[2].value, year_digits = p[0].digits;
  } else {
    month = p[0].value, day = p[1].value, year = p[2].value, year_digits = p[2].digits;
  }
  if (p.size() == 3) year = ExpandTwoDigitYear(year, year_digits);
  return TryEncodeDate(year, month, day, value);
}

bool TryReadTime(std::string_view text, TDateTime& value) {
  auto parts = SplitNumbers(TrimBlanks(text), FormatSettings().TimeSeparator);
  if (!parts || parts->size() < 2 || parts->size() > 3) return false;
  const std::vector<TextNumber>& p = *parts;
  return TryEncodeTime(p[0].value, p[1].value, p.size() == 3 ? p[2].value : 0, 0, value);
}

}  // namespace

// --- Time stamps ------------------------------------------------------------------------------

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  double msecs = std::round(value * MSecsPerDay);
  int64_t total = static_cast<int64_t>(msecs);
  int64_t days = total / MSecsPerDay;
  int64_t time = total % MSecsPerDay;
  if (time < 0) time = -time;  // before 1899-12-30 the time counts forward within the day
  TTimeStamp stamp;
  stamp.Date = static_cast<int32_t>(DateDelta + days);
  stamp.Time = static_cast<int32_t>(time);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  int64_t msecs = (static_cast<int64_t>(stamp.Date) - DateDelta) * MSecsPerDay;
  msecs = msecs >= 0 ? msecs + stamp.Time : msecs - stamp.Time;
  return static_cast<double>(msecs) / MSecsPerDay;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  TTimeStamp stamp;
  double days = std::floor(msecs / MSecsPerDay);
  stamp.Date = static_cast<int32_t>(days);
  stamp.Time = static_cast<int32_t>(msecs - days * MSecsPerDay);
  return stamp;
}

// --- Calendar ---------------------------------------------------------------------------------

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  int y = year - 1;
  int64_t days = static_cast<int64_t>(y) * 365 + y / 4 - y / 100 + y / 400 +
                 kDaysBeforeMonth[IsLeap(year)][month] + day;
  value = static_cast<double>(days - DateDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value;
  if (!TryEncodeDate(year, month, day, value)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return value;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999) {
    return false;
  }
  value = (((hour * 60 + minute) * 60 + second) * 1000.0 + msec) / MSecsPerDay;
  return true;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int32_t n = DateTimeToTimeStamp(value).Date;  // 1 = 0001-01-01
  if (n <= 0) {
    year = month = day = 0;
    return;
  }
  // Civil-from-days on the proleptic Gregorian calendar, counted from 0001-01-01.
  int32_t d = n - 1;
  int y400 = d / 146097;
  d %= 146097;
  int y100 = d / 36524;
  if (y100 == 4) y100 = 3;
  d -= y100 * 36524;
  int y4 = d / 1461;
  d %= 1461;
  int y1 = d / 365;
  if (y1 == 4) y1 = 3;
  d -= y1 * 365;
  year = y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1;
  const int* before = kDaysBeforeMonth[IsLeap(year)];
  month = 12;
  while (month > 1 && before[month] > d) --month;
  day = d - before[month] + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int32_t t = DateTimeToTimeStamp(value).Time;
  hour = t / 3600000;
  minute = t / 60000 % 60;
  second = t / 1000 % 60;
  msec = t % 1000;
}

TDateTime Date() {
  time_t now = time(nullptr);
  struct tm lt = {};
  localtime_r(&now, &lt);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
}

TDateTime Now() {
  time_t now = time(nullptr);
  struct tm lt = {};
  localtime_r(&now, &lt);
  TDateTime time_of_day = 0;
  TryEncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec, 0, time_of_day);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) + time_of_day;
}

// --- Format settings --------------------------------------------------------------------------

TFormatSettings LocaleFormatSettings() {
  const platform::UserLocale user = platform::TimeLocale();
  TFormatSettings fs;
  if (!user.set) return fs;
  const std::string& language = user.language;
  const std::string& territory = user.territory;
  if (language == "de" || language == "ru") {
    fs.DateSeparator = '.';
    fs.ShortDateFormat = "dd.MM.yyyy";
  } else if ((language == "en" && !territory.empty() && territory != "US") ||
             language == "fr" || language == "it" || language == "es") {
    fs.ShortDateFormat = "dd/MM/yyyy";
  }
  if (language == "de" || language == "fr" || language == "it" || language == "es") {
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
  } else if (language == "ru") {
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = ' ';
  }
  return fs;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = LocaleFormatSettings();
  return settings;
}

// --- Date and time texts ----------------------------------------------------------------------

std::string DateToStr(TDateTime value) {
  return FormatByPattern(FormatSettings().ShortDateFormat, value);
}

std::string TimeToStr(TDateTime value) {
  return FormatByPattern(FormatSettings().LongTimeFormat, value);
}

std::string DateTimeToStr(TDateTime value) {
  std::string text = DateToStr(value);
  if (DateTimeToTimeStamp(value).Time != 0) text += " " + TimeToStr(value);
  return text;
}

bool TryStrToDate(std::string_view text, TDateTime& value) { return TryReadDate(text, value); }

TDateTime StrToDate(std::string_view text) {
  TDateTime value;
  if (!TryReadDate(text, value)) throw EConvertError(Quoted(text) + " is not a valid date");
  return value;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value) {
  std::string_view trimmed = TrimBlanks(text);
  size_t blank = trimmed.find(' ');
  TDateTime date_part, time_part = 0;
  if (blank == std::string_view::npos) {
    if (!TryReadDate(trimmed, date_part)) return false;
  } else if (!TryReadDate(trimmed.substr(0, blank), date_part) ||
             !TryReadTime(trimmed.substr(blank + 1), time_part)) {
    return false;
  }
  value = date_part + time_part;
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value;
  if (!TryStrToDateTime(text, value)) {
    throw EConvertError(Quoted(text) + " is not a valid date and time");
  }
  return value;
}

// --- Number texts -----------------------------------------------------------------------------

std::string IntToStr(int64_t value) { return std::to_string(value); }

bool TryStrToInt(std::string_view text, int32_t& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

int32_t StrToInt(std::string_view text) {
  int32_t value;
  if (!TryStrToInt(text, value)) throw EConvertError(Quoted(text) + " is not a valid integer value");
  return value;
}

std::string FloatToStr(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                 std::chars_format::general, 15);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  // "1e+20" -> "1E20", "1e-05" -> "1E-5"
  if (size_t e = text.find('e'); e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
    while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
    text = mantissa + "E" + (negative ? "-" : "") + exponent;
  }
  if (size_t point = text.find('.'); point != std::string::npos) {
    text[point] = FormatSettings().DecimalSeparator;
  }
  return text;
}

bool TryStrToFloat(std::string_view text, double& value) {
  text = TrimBlanks(text);
  std::string normal(text);
  char decimal = FormatSettings().DecimalSeparator;
  for (char& c : normal) {
    if (c == decimal) {
      c = '.';
    } else if (c == '.') {
      return false;  // a point is no decimal separator here
    }
  }
  if (!normal.empty() && normal.front() == '+') normal.erase(0, 1);
  if (normal.empty()) return false;
  auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  return ec == std::errc() && ptr == normal.data() + normal.size() && std::isfinite(value);
}

double StrToFloat(std::string_view text) {
  double value;
  if (!TryStrToFloat(text, value)) {
    throw EConvertError(Quoted(text) + " is not a valid floating point value");
  }
  return value;
}

}  // namespace platform::dataset
