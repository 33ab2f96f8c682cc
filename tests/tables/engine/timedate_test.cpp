#include "tables/engine/timedate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "engine_test_support.h"
#include "platform/clock.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

using Dates = EngineTest;

void UseFormat(uint8_t format, bool century) {
  DbCentury = century;
  SetDateFormat(format);
}

TEST_F(Dates, ValidationAndTheCountryForm) {
  struct Case {
    uint8_t format;
    bool century;
    const char* text;
    bool valid;
    const char* result;  // the text afterwards
  } cases[] = {
      {5, false, "1.2.26", true, "01.02.26"},
      {5, false, " 1.2.26 ", true, "01.02.26"},
      {5, false, "31.04.26", false, "31.04.26"},
      {5, false, "29.02.25", false, "29.02.25"},
      {5, false, "29.02.24", true, "29.02.24"},
      {5, false, "29.02.00", true, "29.02.00"},  // 2000 by the window
      {5, false, "29.02.1900", false, "29.02.1900"},
      {5, false, "1.2.2026", true, "01.02.26"},  // cut to two digits
      {5, true, "1.2.26", true, "01.02.2026"},
      {5, true, "1.2.70", true, "01.02.1970"},
      {5, false, "  .  .  ", true, "  .  .  "},
      {5, false, "", false, ""},
      {5, false, "1.13.26", false, "1.13.26"},
      {5, false, "0.1.26", false, "0.1.26"},
      {5, false, "a.b.cc", false, "a.b.cc"},
      {0, false, "12/24/26", true, "12/24/26"},
      {0, false, "2/3/1999", true, "02/03/99"},
      {0, false, "02/30/24", false, "02/30/24"},
      {0, false, "13/01/26", false, "13/01/26"},
      {0, true, "2-3-99", true, "02/03/1999"},
      {1, false, "26.12.24", true, "26.12.24"},
      {1, true, "2026.2.3", true, "2026.02.03"},
      {2, false, "31/12/99", true, "31/12/99"},
      {3, false, "24-12-2026", true, "24-12-26"},
      {4, true, "1/5/26", true, "01.05.2026"},
      {8, false, "31.06.26", false, "31.06.26"},
  };
  for (const Case& c : cases) {
    UseFormat(c.format, c.century);
    std::string text = c.text;
    EXPECT_EQ(IsValidDate(text), c.valid) << int{c.format} << " " << c.text;
    EXPECT_EQ(text, c.result) << int{c.format} << " " << c.text;
  }
}

TEST_F(Dates, NormalizeAndBack) {
  struct Case {
    uint8_t format;
    bool century;
    const char* country;
    const char* internal;
    const char* back;
  } cases[] = {
      {3, false, "24-12-2026", "12/24/2026", "24-12-2026"},
      {5, false, "1.2.26", "02/01/26", "01.02.26"},
      {5, true, "1.2.26", "02/01/2026", "01.02.2026"},
      {1, false, "26.12.24", "12/24/26", "26.12.24"},
      {0, false, "1/2/3", "01/02/03", "01/02/03"},
      {2, false, "  /  /  ", "  /  /  ", "  /  /  "},
      {5, true, "  .  .    ", "  /  /    ", "  .  .    "},
      {5, false, "no date", "no date", "no date"},
  };
  for (const Case& c : cases) {
    UseFormat(c.format, c.century);
    std::string text = c.country;
    NormalizeDate(text);
    EXPECT_EQ(text, c.internal) << int{c.format} << " " << c.country;
    if (text == c.internal && std::string(c.internal) != "no date") {
      DateToCountry(text);
      EXPECT_EQ(text, c.back) << int{c.format} << " " << c.country;
    }
  }
}

TEST_F(Dates, DateFromChecksTheRealLengthOfTheMonth) {
  SetErrorReporting(false);
  struct Case {
    uint8_t format;
    bool century;
    int year, month, day;
    const char* text;
    uint16_t error;
    const char* context;
  } cases[] = {
      {5, false, 2026, 2, 29, "29.02.2026", 220, "[DateFrom(2026, 2,29)]"},
      {5, false, 2026, 4, 31, "31.04.2026", 220, "[DateFrom(2026, 4,31)]"},
      {5, false, 2024, 2, 30, "30.02.2024", 220, "[DateFrom(2024, 2,30)]"},
      {5, false, 2026, 13, 1, "01.13.2026", 220, "[DateFrom(2026,13, 1)]"},
      {5, false, 2024, 2, 29, "29.02.2024", 0, ""},
      {5, false, 26, 2, 3, "03.02.26", 0, ""},
      {5, true, 26, 2, 3, "03.02.2026", 0, ""},
      {5, true, 70, 1, 1, "01.01.1970", 0, ""},
      {0, false, 99, 12, 31, "12/31/99", 0, ""},
      {0, false, 0, 2, 29, "02/29/00", 0, ""},  // 2000 is a leap year
      {3, false, 5, 7, 9, "09-07-05", 0, ""},
      {1, false, 2026, 12, 24, "2026.12.24", 0, ""},
  };
  for (const Case& c : cases) {
    UseFormat(c.format, c.century);
    DbLastError = 99;
    EXPECT_EQ(DateFrom(c.year, c.month, c.day), c.text) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(DbLastError, c.error) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(TakeErrorContext(), c.context);
  }
}

TEST_F(Dates, EveryDayFrom1900To2099AgreesWithTheCalendar) {
  using namespace std::chrono;
  UseFormat(0, true);
  for (sys_days d = sys_days(year(1900) / January / 1); d <= sys_days(year(2099) / December / 31);
       d += days(1)) {
    year_month_day ymd(d);
    int y = static_cast<int>(ymd.year());
    unsigned m = static_cast<unsigned>(ymd.month()), dd = static_cast<unsigned>(ymd.day());
    std::string text = IntToStrW(m, 2) + "/" + IntToStrW(dd, 2) + "/" + std::to_string(y);
    ZeroFillBlanks(text);
    ASSERT_EQ(DateDow(text), static_cast<int>(weekday(d).c_encoding()) + 1) << text;
    std::string checked = text;
    ASSERT_TRUE(IsValidDate(checked)) << text;
    ASSERT_EQ(checked, text);
    ASSERT_EQ(DateToDTOS(text), std::to_string(y) + text.substr(0, 2) + text.substr(3, 2));
    if (dd == static_cast<unsigned>((ymd.year() / ymd.month() / last).day())) {
      std::string after = IntToStrW(m, 2) + "/" + std::to_string(dd + 1) + "/" + std::to_string(y);
      ZeroFillBlanks(after);
      ASSERT_FALSE(IsValidDate(after)) << after;
    }
    if (m == 1 && dd == 1) {
      ASSERT_EQ(LeapYear(y), ymd.year().is_leap()) << y;
    }
  }
}

TEST_F(Dates, DayOfWeekAndNames) {
  struct Case {
    uint8_t format;
    const char* date;
    int dow;
    const char* day_name;
    const char* month_name;
  } cases[] = {
      {5, "01.01.2000", 7, "Samstag   ", "Januar   "},
      {5, "01.03.2026", 1, "Sonntag   ", "M\xE4rz     "},
      {0, "12/24/26", 5, "Thursday ", "December "},
      {3, "15-08-26", 7, "Sabato   ", "Agosto   "},
      {4, "15.08.26", 7, "Samedi  ", "Ao\xFBt     "},
      {7, "01.02.26", 1, "Dimanche", "F\xE9vrier  "},
      {6, "16.09.26", 4, "Miercoles", "Septiembre"},
      {8, "02.11.26", 2, "Ponedelnik ", "Noyabr  "},
      {5, "  .  .  ", 0, "          ", "         "},
  };
  for (const Case& c : cases) {
    UseFormat(c.format, false);
    EXPECT_EQ(DateDow(c.date), c.dow) << c.date;
    EXPECT_EQ(DateCDow(c.date), c.day_name) << c.date;
    EXPECT_EQ(DateCMonth(c.date), c.month_name) << c.date;
  }
}

TEST_F(Dates, PartsAndStoredForm) {
  struct Case {
    uint8_t format;
    bool century;
    const char* date;
    int month, day, year;
    const char* dtos;
  } cases[] = {
      {5, false, "09.12.26", 12, 9, 26, "20261209"},
      {5, true, "09.12.2026", 12, 9, 2026, "20261209"},
      {5, false, "09.12.60", 12, 9, 60, "19601209"},
      {0, false, "  /  /  ", 0, 0, 0, "        "},
      {1, true, "2026.01.31", 1, 31, 2026, "20260131"},
  };
  for (const Case& c : cases) {
    UseFormat(c.format, c.century);
    EXPECT_EQ(DateMonth(c.date), c.month) << c.date;
    EXPECT_EQ(DateDay(c.date), c.day) << c.date;
    EXPECT_EQ(DateYear(c.date), c.year) << c.date;
    EXPECT_EQ(DateToDTOS(c.date), c.dtos) << c.date;
  }
}

TEST_F(Dates, CenturyWindowAndYears) {
  struct Case {
    int16_t base;
    const char* yy;
    int16_t century;
  } cases[] = {
      {1956, "00", 2000}, {1956, "55", 2000}, {1956, "56", 1900}, {1956, "99", 1900},
      {2000, "00", 2000}, {2000, "99", 2000}, {1999, "98", 2000}, {1999, "99", 1900},
  };
  for (const Case& c : cases) {
    DbCenturyBase = c.base;
    EXPECT_EQ(CenturyYearOf(c.yy), c.century) << c.base << " " << c.yy;
  }
  DbCenturyBase = 1956;
  EXPECT_EQ(CenturyOf("26"), "20");
  DbCentury = false;
  EXPECT_EQ(ExpandYear("26"), "26");
  DbCentury = true;
  EXPECT_EQ(ExpandYear("26"), "2026");
  EXPECT_EQ(ExpandYear("80"), "1980");
  EXPECT_EQ(ExpandYear("5"), "0005");
  EXPECT_EQ(ExpandYear("2026"), "2026");
}

TEST_F(Dates, FormatsAndPictures) {
  struct Case {
    uint8_t format;
    bool century;
    uint8_t chosen;
    const char* picture;
    char separator;
    const char* empty;
  } cases[] = {
      {0, false, 0, "MM/dd/yy", '/', "  /  /  "},    {0, true, 0, "MM/dd/yyyy", '/', "  /  /    "},
      {1, false, 1, "yy.MM.dd", '.', "  .  .  "},    {1, true, 1, "yyyy.MM.dd", '.', "    .  .  "},
      {2, false, 2, "dd/MM/yy", '/', "  /  /  "},    {3, false, 3, "dd-MM-yy", '-', "  -  -  "},
      {5, true, 5, "dd.MM.yyyy", '.', "  .  .    "}, {8, false, 8, "dd.MM.yy", '.', "  .  .  "},
      {12, false, 0, "MM/dd/yy", '/', "  /  /  "},
  };
  for (const Case& c : cases) {
    DbCentury = c.century;
    SetCountryDateFormat(c.format);
    EXPECT_EQ(DbDateFormat, c.chosen) << int{c.format};
    EXPECT_EQ(DbDatePicture, c.picture) << int{c.format};
    EXPECT_EQ(DbDateSeparator, c.separator) << int{c.format};
    EXPECT_EQ(DatePicture(c.format), c.empty) << int{c.format};
  }
}

TEST_F(Dates, TheUsersLanguageChoosesTheCountry) {
  struct Case {
    std::optional<std::string> lc_all, lc_time, lang;
    uint8_t country;
    char decimal, thousands;
  } cases[] = {
      {std::nullopt, std::nullopt, "de_DE.UTF-8", 5, ',', '.'},
      {std::nullopt, std::nullopt, "en_US.UTF-8", 0, '.', ','},
      {std::nullopt, std::nullopt, "en_GB.UTF-8", 2, '.', ','},
      {std::nullopt, std::nullopt, "fr_CA.UTF-8", 7, '.', ','},
      {std::nullopt, std::nullopt, "fr_FR@euro", 4, ',', '.'},
      {std::nullopt, std::nullopt, "it_IT", 3, ',', '.'},
      {std::nullopt, std::nullopt, "es_ES.UTF-8", 6, ',', '.'},
      {std::nullopt, std::nullopt, "ru_RU.UTF-8", 8, '.', ' '},
      {std::nullopt, std::nullopt, "nl_NL.UTF-8", 0, '.', ','},
      {std::nullopt, std::nullopt, "C", 0, '.', ','},
      {std::nullopt, std::nullopt, "POSIX", 0, '.', ','},
      {std::nullopt, std::nullopt, std::nullopt, 0, '.', ','},
      {"C", std::nullopt, "de_DE.UTF-8", 0, '.', ','},            // LC_ALL comes first
      {std::nullopt, "it_IT.UTF-8", "de_DE.UTF-8", 3, ',', '.'},  // then LC_TIME
      {"", "", "es_ES", 6, ',', '.'},                             // empty counts as unset
  };
  for (const Case& c : cases) {
    platform::ScopedEnv all("LC_ALL", c.lc_all), time("LC_TIME", c.lc_time), lang("LANG", c.lang);
    StartTarazed();
    EXPECT_EQ(DbCountry, c.country) << c.lang.value_or("unset");
    EXPECT_EQ(DbDateFormat, c.country) << c.lang.value_or("unset");
    EXPECT_EQ(DbDecimalSeparator, c.decimal) << c.lang.value_or("unset");
    EXPECT_EQ(DbThousandsSeparator, c.thousands) << c.lang.value_or("unset");
  }
}

TEST_F(Dates, TodayFileDatesAndTicks) {
  using namespace std::chrono;
  uint16_t y, m, d, dow;
  DayOfWeekOf(y, m, d, dow);
  time_t now = time(nullptr);
  struct tm lt;
  localtime_r(&now, &lt);
  EXPECT_EQ(y, lt.tm_year + 1900);
  EXPECT_EQ(dow, lt.tm_wday + 1);
  UseFormat(5, true);
  std::string today = TodayStr();
  EXPECT_EQ(DateDay(today), d);
  EXPECT_EQ(DateMonth(today), m);
  EXPECT_EQ(DateYear(today), y);
  EXPECT_EQ(today.size(), 10u);
  UseFormat(5, false);
  EXPECT_EQ(TodayStr().size(), 8u);

  uint16_t fy, fm, fd, fh, fmin, fs;
  UnpackFileDate((46u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u, fy, fm, fd,
                 fh, fmin, fs);
  EXPECT_EQ(fy, 2026);
  EXPECT_EQ(fm, 3);
  EXPECT_EQ(fd, 4);
  EXPECT_EQ(fh, 5);
  EXPECT_EQ(fmin, 6);
  EXPECT_EQ(fs, 8);

  platform::VirtualClock clock(123456);
  platform::ScopedClock use(clock);
  EXPECT_EQ(SecondsSinceStart(), 123u);
}

}  // namespace
}  // namespace tz
