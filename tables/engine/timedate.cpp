#include "tables/engine/timedate.h"

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "platform/locale.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

struct Language {
  int day_width;
  const char* days[7];  // Sunday first
  int month_width;
  const char* months[12];
};

// Windows-1252 like every text in memory. Russian has no Cyrillic letters in 1252, so its
// names are given in Latin transliteration, within the same widths.
const Language kEnglish = {
    9,
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    9,
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"}};
const Language kItalian = {
    9,
    {"Domenica", "Lunedi", "Martedi", "Mercoledi", "Giovedi", "Venerdi", "Sabato"},
    9,
    {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno", "Luglio", "Agosto", "Settembre",
     "Ottobre", "Novembre", "Dicembre"}};
const Language kFrench = {8,
                          {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
                          9,
                          {"Janvier", "F\xE9vrier", "Mars", "Avril", "Mai", "Juin", "Juillet",
                           "Ao\xFBt", "Septembre", "Octobre", "Novembre",
                           "D\xE9"
                           "cembre"}};
const Language kGerman = {
    10,
    {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
    9,
    {"Januar", "Februar", "M\xE4rz", "April", "Mai", "Juni", "Juli", "August", "September",
     "Oktober", "November", "Dezember"}};
const Language kSpanish = {
    9,
    {"Domingo", "Lunes", "Martes", "Miercoles", "Jueves", "Viernes", "Sabado"},
    10,
    {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
     "Octubre", "Noviembre", "Diciembre"}};
const Language kRussian = {
    11,
    {"Voskresenye", "Ponedelnik", "Vtornik", "Sreda", "Chetverg", "Pyatnitsa", "Subbota"},
    8,
    {"Yanvar", "Fevral", "Mart", "Aprel", "May", "Iyun", "Iyul", "Avgust", "Sentyabr", "Oktyabr",
     "Noyabr", "Dekabr"}};

const Language& LanguageOf(uint8_t format) {
  switch (format) {
    case 3:
      return kItalian;
    case 4:
    case 7:
      return kFrench;
    case 5:
      return kGerman;
    case 6:
      return kSpanish;
    case 8:
      return kRussian;
    default:
      return kEnglish;
  }
}

uint8_t ValidFormat(uint8_t format) {
  return format > 8 ? 0 : format;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The value of a text of digits (callers check AllDigits); at most 9 digits are taken.
int ValueOf(std::string_view s) {
  int v = 0;
  for (char c : s.substr(0, 9)) v = v * 10 + (c - '0');
  return v;
}

int LeadingDigitsValue(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
  return ValueOf(s.substr(0, n));
}

std::string PadZero(std::string s, size_t width) {
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return s;
}

void CutAtZero(std::string& s) {
  if (size_t z = s.find('\0'); z != std::string::npos) s.resize(z);
}

// Splits at the first two separators: first part, second part, the rest.
void SplitDate(std::string_view s, char sep, std::string& a, std::string& b, std::string& c) {
  size_t p1 = s.find(sep);
  a = std::string(s.substr(0, p1));
  if (p1 == std::string_view::npos) {
    b.clear();
    c.clear();
    return;
  }
  std::string_view rest = s.substr(p1 + 1);
  size_t p2 = rest.find(sep);
  b = std::string(rest.substr(0, p2));
  c = p2 == std::string_view::npos ? "" : std::string(rest.substr(p2 + 1));
}

int DaysInMonth(int month, int year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// The parts of a text in internal form: month, day and the full year (a two-digit year
// through the window). False when the text is not in that form.
bool InternalParts(const std::string& s, int& month, int& day, int& year) {
  if ((s.size() != 8 && s.size() != 10) || s[2] != '/' || s[5] != '/') return false;
  std::string_view v(s);
  if (!AllDigits(v.substr(0, 2)) || !AllDigits(v.substr(3, 2)) || !AllDigits(v.substr(6)))
    return false;
  month = ValueOf(v.substr(0, 2));
  day = ValueOf(v.substr(3, 2));
  year = ValueOf(v.substr(6));
  if (s.size() == 8) year += CenturyYearOf(v.substr(6));
  return true;
}

}  // namespace

void SetDateFormat(uint8_t format) {
  format = ValidFormat(format);
  DbDateFormat = format;
  std::string year = DbCentury ? "yyyy" : "yy";
  switch (format) {
    case 0:
      DbDatePicture = "MM/dd/" + year;
      DbDateSeparator = '/';
      break;
    case 1:
      DbDatePicture = year + ".MM.dd";
      DbDateSeparator = '.';
      break;
    case 2:
      DbDatePicture = "dd/MM/" + year;
      DbDateSeparator = '/';
      break;
    case 3:
      DbDatePicture = "dd-MM-" + year;
      DbDateSeparator = '-';
      break;
    default:
      DbDatePicture = "dd.MM." + year;
      DbDateSeparator = '.';
      break;
  }
}

void SetCountryDateFormat(uint8_t format) {
  SetDateFormat(format);
}

uint8_t CountryFromLanguage() {
  const platform::UserLocale user = platform::TimeLocale();
  if (!user.set) return 0;
  const std::string& language = user.language;
  const std::string& territory = user.territory;
  if (language == "de") return 5;
  if (language == "en") return territory.empty() || territory == "US" ? 0 : 2;
  if (language == "es") return 6;
  if (language == "fr") return territory == "CA" ? 7 : 4;
  if (language == "it") return 3;
  if (language == "ru") return 8;
  return 0;
}

void InitCountry() {
  DbCountry = CountryFromLanguage();
  SetDateFormat(DbCountry);
  if (DbCountry >= 3 && DbCountry <= 6) {
    DbDecimalSeparator = ',';
    DbThousandsSeparator = '.';
  } else if (DbCountry == 8) {
    DbDecimalSeparator = '.';
    DbThousandsSeparator = ' ';
  } else {
    DbDecimalSeparator = '.';
    DbThousandsSeparator = ',';
  }
}

void DayOfWeekOf(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& day_of_week) {
  time_t now = time(nullptr);
  struct tm lt = {};
  localtime_r(&now, &lt);
  year = static_cast<uint16_t>(lt.tm_year + 1900);
  month = static_cast<uint16_t>(lt.tm_mon + 1);
  day = static_cast<uint16_t>(lt.tm_mday);
  day_of_week = static_cast<uint16_t>(lt.tm_wday + 1);
}

void UnpackFileDate(uint32_t stamp, uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& hour,
                    uint16_t& minute, uint16_t& second) {
  year = static_cast<uint16_t>((stamp >> 25) + 1980);
  month = static_cast<uint16_t>((stamp >> 21) & 0x0F);
  day = static_cast<uint16_t>((stamp >> 16) & 0x1F);
  hour = static_cast<uint16_t>((stamp >> 11) & 0x1F);
  minute = static_cast<uint16_t>((stamp >> 5) & 0x3F);
  second = static_cast<uint16_t>((stamp & 0x1F) * 2);
}

bool LeapYear(int year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int16_t CenturyYearOf(std::string_view two_digit_year) {
  std::string yy = AllTrim(two_digit_year);
  int year = AllDigits(yy) ? ValueOf(yy) : 0;
  int base = DbCenturyBase;
  int century = base / 100 * 100;
  return static_cast<int16_t>(year < base % 100 ? century + 100 : century);
}

std::string CenturyOf(std::string_view two_digit_year) {
  return PadZero(std::to_string(CenturyYearOf(two_digit_year) / 100), 2);
}

std::string ExpandYear(std::string_view year) {
  std::string y(year);
  if (!DbCentury) return y;
  if (y.size() == 2) return CenturyOf(y) + y;
  return PadZero(y, 4);
}

std::string DatePicture(uint8_t format) {
  std::string year = DbCentury ? "    " : "  ";
  switch (ValidFormat(format)) {
    case 1:
      return year + ".  .  ";
    case 3:
      return "  -  -" + year;
    case 0:
    case 2:
      return "  /  /" + year;
    default:
      return "  .  ." + year;
  }
}

void NormalizeDate(std::string& text) {
  std::string s = text.substr(0, 10);
  char sep = s.find('/') != std::string::npos   ? '/'
             : s.find('-') != std::string::npos ? '-'
             : s.find('.') != std::string::npos ? '.'
                                                : '\0';
  if (sep == '\0') return;
  CutAtZero(s);
  std::string first, second, rest;
  SplitDate(s, sep, first, second, rest);
  first = AllTrim(first).substr(0, 4);
  second = AllTrim(second).substr(0, 4);
  rest = AllTrim(rest).substr(0, 4);
  if (first.empty() && second.empty() && rest.empty()) {
    text = DatePicture(0);
    return;
  }
  first = PadZero(first, 2);
  second = PadZero(second, 2);
  rest = PadZero(rest, 2);
  std::string month, day, year;
  switch (ValidFormat(DbDateFormat)) {
    case 0:
      month = first;
      day = second;
      year = rest;
      break;
    case 1:
      year = first;
      month = second;
      day = rest;
      break;
    default:
      day = first;
      month = second;
      year = rest;
      break;
  }
  text = (month + "/" + day + "/" + ExpandYear(year)).substr(0, 10);
}

void DateToCountry(std::string& text) {
  std::string s = text;
  CutAtZero(s);
  std::string month, day, year;
  SplitDate(s, '/', month, day, year);
  month = AllTrim(month);
  day = AllTrim(day);
  year = AllTrim(year);
  if (month.empty() && day.empty() && year.empty()) {
    text = DatePicture(DbDateFormat);
    return;
  }
  month = PadZero(month, 2);
  day = PadZero(day, 2);
  year = ExpandYear(year);
  switch (ValidFormat(DbDateFormat)) {
    case 0:
      text = month + "/" + day + "/" + year;
      break;
    case 1:
      text = year + "." + month + "." + day;
      break;
    case 2:
      text = day + "/" + month + "/" + year;
      break;
    case 3:
      text = day + "-" + month + "-" + year;
      break;
    default:
      text = day + "." + month + "." + year;
      break;
  }
}

bool IsValidDate(std::string& text) {
  std::string s = AllTrim(text).substr(0, 10);
  NormalizeDate(s);
  if (s == DatePicture(0)) {
    text = DatePicture(DbDateFormat);
    return true;
  }
  int month, day, year;
  if (!InternalParts(s, month, day, year)) return false;
  if (day < 1 || day > DaysInMonth(month, year)) return false;
  if (s.size() == 10 && !DbCentury) s.erase(6, 2);
  if (DbDateFormat != 0) DateToCountry(s);
  text = s;
  return true;
}

std::string DateFrom(int year, int month, int day) {
  std::string m = IntToStrW(month, 2);
  std::string d = IntToStrW(day, 2);
  std::string y;
  int full_year = year;
  if (year >= 0 && year <= 99) {
    y = IntToStrW(year, 2);
    ZeroFillBlanks(y);
    full_year = CenturyYearOf(y) + year;
    if (DbCentury) y = std::to_string(full_year);
  } else {
    y = IntToStrW(year, 4);
  }
  std::string text = m + "/" + d + "/" + y;
  ZeroFillBlanks(text);
  DateToCountry(text);
  if (day >= 1 && day <= DaysInMonth(month, full_year))
    DbLastError = 0;
  else
    SetDbError(220, "[DateFrom(" + std::to_string(year) + "," + m + "," + d + ")]");
  return text;
}

std::string TodayStr() {
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  return DateFrom(DbCentury ? year : year % 100, month, day);
}

int DateDow(std::string text) {
  NormalizeDate(text);
  int m, d, y;
  if (!InternalParts(text, m, d, y)) return 0;
  int c = y / 100;
  y %= 100;
  if (m < 3) {
    m += 12;
    if (y == 0) {
      y = 99;
      --c;
    } else {
      --y;
    }
  }
  int h = (d + (m + 1) * 26 / 10 + y + y / 4 + c / 4 - 2 * c) % 7;
  if (h < 0) h += 7;
  return h == 0 ? 7 : h;
}

std::string DateCDow(std::string text) {
  int dow = DateDow(std::move(text));
  if (dow == 0) return std::string(10, ' ');
  const Language& lang = LanguageOf(DbDateFormat);
  return PadRightTo(lang.days[dow - 1], lang.day_width);
}

std::string DateCMonth(std::string text) {
  int month = DateMonth(std::move(text));
  if (month < 1 || month > 12) return std::string(9, ' ');
  const Language& lang = LanguageOf(DbDateFormat);
  return PadRightTo(lang.months[month - 1], lang.month_width);
}

int DateMonth(std::string text) {
  NormalizeDate(text);
  return LeadingDigitsValue(std::string_view(text).substr(0, 2));
}

int DateDay(std::string text) {
  NormalizeDate(text);
  std::string_view part = text.size() >= 5 ? std::string_view(text).substr(3, 2) : "";
  return AllDigits(part) ? ValueOf(part) : 0;
}

int DateYear(std::string text) {
  NormalizeDate(text);
  std::string_view part = text.size() > 6 ? std::string_view(text).substr(6) : "";
  return AllDigits(part) ? ValueOf(part) : 0;
}

std::string DateToDTOS(std::string text) {
  NormalizeDate(text);
  if (text.size() < 8 || text[2] != '/' || text[5] != '/' ||
      text.find_first_not_of(" /") == std::string::npos)
    return std::string(8, ' ');
  std::string year = AllTrim(text.substr(6));
  year = year.size() == 2 ? CenturyOf(year) + year : PadZero(year, 4);
  return (year + text.substr(0, 2) + text.substr(3, 2)).substr(0, 8);
}

void ZeroFillBlanks(std::string& text) {
  for (char& c : text)
    if (c == ' ') c = '0';
}

uint32_t SecondsSinceStart() {
  return static_cast<uint32_t>(platform::NowMs() / 1000);
}

}  // namespace tz
