// The framework's field classes through a dataset's record buffer, and the date, number and
// variant conversions behind them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "tests/tables/components/memory_dataset.h"

namespace tz::testing {
namespace {

// German settings for every test here, the process's own put back afterwards.
class GermanSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = FormatSettings();
    TFormatSettings& fs = FormatSettings();
    fs.DateSeparator = '.';
    fs.ShortDateFormat = "dd.MM.yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
  }
  void TearDown() override { FormatSettings() = saved_; }
  TFormatSettings saved_;
};

// A dataset with one extra column of each kind, appending a record so that values can be put
// and read back through the record buffer.
struct FieldFixture {
  MemoryDataset ds;
  FieldFixture() {
    ds.extra_fields = {{"S", ftString, 5},   {"I", ftInteger, 0}, {"F", ftFloat, 0},
                       {"B", ftBoolean, 0},  {"D", ftDate, 0},    {"T", ftDateTime, 0},
                       {"M", ftMemo, 0}};
    ds.Open();
    ds.Append();
  }
  TField& operator[](const char* name) { return ds.FieldByName(name); }
};

using FieldText = GermanSettings;

TEST_F(FieldText, SetTextAndReadItBack) {
  FieldFixture f;
  static_cast<TBooleanField&>(f["B"]).SetDisplayValues("Ja;Nein");
  struct Case {
    const char* field;
    const char* text;
    const char* expected;
    bool null;
  } cases[] = {
      {"S", "abcdefg", "abcde", false},
      {"S", "", "", false},  // an empty text is a value
      {"I", "  42", "42", false},
      {"I", "-7", "-7", false},
      {"I", "", "", true},
      {"F", "3,5", "3,5", false},
      {"F", "1E20", "1E20", false},
      {"F", "0,00001", "1E-5", false},
      {"B", "ja", "Ja", false},
      {"B", "N", "Nein", false},
      {"B", "", "", true},
      {"D", "9.12.2026", "09.12.2026", false},
      {"D", "1.2.26", "01.02.2026", false},
      {"D", "", "", true},
      {"T", "09.12.2026 13:45", "09.12.2026 13:45:00", false},
      {"T", "09.12.2026", "09.12.2026", false},
      {"M", "a long memo text", "a long memo text", false},
      {"M", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- '" + c.text + "'");
    f[c.field].SetText(c.text);
    EXPECT_EQ(f[c.field].Text(), c.expected);
    EXPECT_EQ(f[c.field].DisplayText(), c.expected);
    EXPECT_EQ(f[c.field].IsNull(), c.null);
  }
}

TEST_F(FieldText, TextsThatDoNotConvert) {
  FieldFixture f;
  struct Case {
    const char* field;
    const char* text;
    const char* error;
  } cases[] = {
      {"I", "4x2", "'4x2' is not a valid integer value for field 'I'"},
      {"I", "99999999999", "'99999999999' is not a valid integer value for field 'I'"},
      {"F", "3.5", "'3.5' is not a valid floating point value for field 'F'"},
      {"B", "vielleicht", "'vielleicht' is not a valid boolean value for field 'B'"},
      {"D", "31.02.2026", "'31.02.2026' is not a valid date"},
      {"T", "09.12.2026 25:00", "'09.12.2026 25:00' is not a valid date and time"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { f[c.field].SetText(c.text); }), c.error);
}

TEST_F(FieldText, AccessorsAcrossTypes) {
  FieldFixture f;
  f["S"].SetAsString("12");
  EXPECT_EQ(f["S"].AsInteger(), 12);
  EXPECT_EQ(f["S"].AsFloat(), 12.0);
  f["S"].SetAsBoolean(true);
  EXPECT_EQ(f["S"].AsString(), "T");
  EXPECT_TRUE(f["S"].AsBoolean());
  f["I"].SetAsFloat(2.5);
  EXPECT_EQ(f["I"].AsInteger(), 3);
  EXPECT_EQ(f["I"].Value(), TVariant(3));
  EXPECT_EQ(ErrorOf([&] { f["I"].AsBoolean(); }), "Cannot access field 'I' as type Boolean");
  f["F"].SetAsInteger(4);
  EXPECT_EQ(f["F"].AsString(), "4");
  EXPECT_EQ(f["F"].Value(), TVariant(4.0));
  f["B"].SetAsBoolean(true);
  EXPECT_EQ(f["B"].AsString(), "True");
  EXPECT_EQ(f["B"].Value(), TVariant(true));
  f["D"].SetAsDateTime(EncodeDate(2026, 12, 9) + 0.75);  // a date keeps no time
  EXPECT_EQ(f["D"].AsDateTime(), EncodeDate(2026, 12, 9));
  EXPECT_EQ(f["D"].Value(), TVariant::FromDate(EncodeDate(2026, 12, 9)));
  EXPECT_EQ(f["M"].Value(), TVariant());
  f["I"].Clear();
  EXPECT_TRUE(f["I"].Value().IsNull());
}

// Dates travel as the day number of a time stamp, date-times as all its milliseconds.
TEST_F(FieldText, NativeDateForms) {
  FieldFixture f;
  f["D"].SetAsDateTime(EncodeDate(1899, 12, 30));
  int32_t day = 0;
  ASSERT_TRUE(f["D"].GetData(&day));
  EXPECT_EQ(day, 693594);
  f["T"].SetAsDateTime(EncodeDate(1899, 12, 31) + 0.5);
  double msecs = 0;
  ASSERT_TRUE(f["T"].GetData(&msecs));
  EXPECT_EQ(msecs, 693595.0 * 86400000 + 43200000);
  EXPECT_EQ(f["T"].AsString(), "31.12.1899 12:00:00");
}

TEST_F(FieldText, SizesAndDisplayProperties) {
  FieldFixture f;
  EXPECT_EQ(f["S"].DataSize(), 6);
  EXPECT_EQ(f["S"].DisplayWidth(), 5);
  EXPECT_EQ(f["I"].Alignment(), taRightJustify);
  EXPECT_EQ(f["S"].Alignment(), taLeftJustify);
  EXPECT_EQ(f["I"].DisplayName(), "I");
  f["I"].SetDisplayLabel("Count");
  EXPECT_EQ(f["I"].DisplayName(), "Count");
  EXPECT_TRUE(f["I"].CanModify());
  f["I"].SetReadOnly(true);
  EXPECT_FALSE(f["I"].CanModify());
  EXPECT_EQ(ErrorOf([&] { f["S"].SetSize(8); }),
            "Cannot perform this operation on an open dataset");
  TIntegerField loose;
  EXPECT_EQ(ErrorOf([&] { loose.SetSize(5); }), "Invalid field size");
  EXPECT_EQ(ErrorOf([&] { loose.AsInteger(); }), "Field '' is not bound to a dataset");
  TStringField text;
  EXPECT_EQ(ErrorOf([&] { text.SetSize(9000); }), "Invalid field size");
}

// --- Conversions ---------------------------------------------------------------------------------

// DecodeDate and EncodeDate against the calendar of the standard library, over seeded days
// from the year 1 to 9999.
TEST(Conversions, CalendarAgreesWithTheStandardLibrary) {
  using namespace std::chrono;
  std::mt19937 random(20260209);
  std::uniform_int_distribution<int> days(-693593, 2958465);  // 0001-01-01 .. 9999-12-31
  for (int i = 0; i < 20000; ++i) {
    int d = i == 0 ? -693593 : i == 1 ? 2958465 : days(random);
    year_month_day ymd{sys_days{} + std::chrono::days{d - 25569}};  // 25569 = 1970-01-01
    int y, m, dd;
    DecodeDate(d, y, m, dd);
    ASSERT_EQ(y, static_cast<int>(ymd.year())) << d;
    ASSERT_EQ(m, static_cast<int>(static_cast<unsigned>(ymd.month()))) << d;
    ASSERT_EQ(dd, static_cast<int>(static_cast<unsigned>(ymd.day()))) << d;
    ASSERT_EQ(EncodeDate(y, m, dd), d);
  }
  EXPECT_EQ(ErrorOf([] { EncodeDate(2025, 2, 29); }), "Invalid argument to date encode");
}

TEST(Conversions, TimeStamps) {
  struct Case {
    TDateTime value;
    int32_t date;
    int32_t time;
  } cases[] = {
      {0.0, 693594, 0},
      {1.5, 693595, 43200000},
      {-1.25, 693593, 21600000},  // before 1899-12-30 the time still counts forward
      {EncodeDate(2026, 12, 9), 739959, 0},
  };
  for (const Case& c : cases) {
    TTimeStamp stamp = DateTimeToTimeStamp(c.value);
    EXPECT_EQ(stamp.Date, c.date) << c.value;
    EXPECT_EQ(stamp.Time, c.time) << c.value;
    EXPECT_EQ(TimeStampToDateTime(stamp), c.value);
    EXPECT_EQ(TimeStampToDateTime(MSecsToTimeStamp(TimeStampToMSecs(stamp))), c.value);
  }
}

using Numbers = GermanSettings;

TEST_F(Numbers, FloatTexts) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {3.5, "3,5"},       {42, "42"},           {-0.25, "-0,25"},
      {0.1 + 0.2, "0,3"}, {1e20, "1E20"},       {1e-5, "1E-5"},
      {0.0001, "0,0001"}, {123456789012345678.0, "1,23456789012346E17"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToStr(c.value), c.text);
    EXPECT_NEAR(StrToFloat(c.text), c.value, std::abs(c.value) * 1e-14) << c.text;
  }
}

TEST_F(Numbers, ReadingNumbers) {
  EXPECT_EQ(StrToFloat(" 1,5 "), 1.5);
  EXPECT_EQ(StrToFloat("-2,5E3"), -2500);
  EXPECT_EQ(ErrorOf([] { StrToFloat("1.5"); }), "'1.5' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { StrToFloat(""); }), "'' is not a valid floating point value");
  EXPECT_EQ(StrToInt(" +17 "), 17);
  EXPECT_EQ(ErrorOf([] { StrToInt("17 b"); }), "'17 b' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
}

TEST(Conversions, SettingsFromTheUsersLanguage) {
  struct Case {
    const char* lang;
    const char* format;
    char date_separator;
    char decimal;
  } cases[] = {
      {"de_DE.UTF-8", "dd.MM.yyyy", '.', ','}, {"en_US.UTF-8", "M/d/yyyy", '/', '.'},
      {"en_GB.UTF-8", "dd/MM/yyyy", '/', '.'}, {"fr_FR", "dd/MM/yyyy", '/', ','},
      {"C.UTF-8", "M/d/yyyy", '/', '.'},       {"ru_RU", "dd.MM.yyyy", '.', ','},
  };
  std::string saved[3];
  const char* names[3] = {"LC_ALL", "LC_TIME", "LANG"};
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    saved[i] = v ? v : "";
  }
  unsetenv("LC_ALL");
  unsetenv("LC_TIME");
  for (const Case& c : cases) {
    setenv("LANG", c.lang, 1);
    TFormatSettings fs = LocaleFormatSettings();
    EXPECT_EQ(fs.ShortDateFormat, c.format) << c.lang;
    EXPECT_EQ(fs.DateSeparator, c.date_separator) << c.lang;
    EXPECT_EQ(fs.DecimalSeparator, c.decimal) << c.lang;
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i].empty()) {
      unsetenv(names[i]);
    } else {
      setenv(names[i], saved[i].c_str(), 1);
    }
  }
}

using Dates = GermanSettings;

TEST_F(Dates, ReadingDatesByTheFormatsOrder) {
  FormatSettings().TwoDigitYearCenturyWindow = 50;
  int this_year, m, d;
  DecodeDate(Date(), this_year, m, d);
  EXPECT_EQ(StrToDate(" 09.12.2026 "), EncodeDate(2026, 12, 9));
  EXPECT_EQ(StrToDate("9.12"), EncodeDate(this_year, 12, 9));
  int two_digits = (this_year - 49) % 100;  // the oldest year the window gives
  TDateTime oldest = StrToDate("1.1." + std::to_string(two_digits));
  DecodeDate(oldest, this_year, m, d);
  EXPECT_GT(this_year, 1900);
  FormatSettings().ShortDateFormat = "yyyy.MM.dd";
  EXPECT_EQ(StrToDate("2026.12.09"), EncodeDate(2026, 12, 9));
  EXPECT_EQ(DateToStr(EncodeDate(2026, 2, 3)), "2026.02.03");
  FormatSettings().ShortDateFormat = "M/d/yy";
  FormatSettings().DateSeparator = '/';
  EXPECT_EQ(StrToDate("12/9/2026"), EncodeDate(2026, 12, 9));
  EXPECT_EQ(DateToStr(EncodeDate(2026, 2, 3)), "2/3/26");
  EXPECT_FALSE(TryStrToDate("12-9-2026", oldest));
  // Blanks around the numbers, as formats such as "d. M. yyyy" write them; a two-digit year
  // is still one after its blank.
  FormatSettings().ShortDateFormat = "d. M. yyyy";
  FormatSettings().DateSeparator = '.';
  EXPECT_EQ(DateToStr(EncodeDate(2026, 12, 24)), "24. 12. 2026");
  EXPECT_EQ(StrToDate("24. 12. 2026"), EncodeDate(2026, 12, 24));
  EXPECT_EQ(StrToDate(" 1 . 2 . 26 "), StrToDate("1.2.26"));
  EXPECT_FALSE(TryStrToDate("1. 2. 2 6", oldest));
  FormatSettings().DateSeparator = '/';
  EXPECT_EQ(TimeToStr(0.5 + 1.0 / 24 / 60), "12:01:00");
  FormatSettings().LongTimeFormat = "h:mm";
  EXPECT_EQ(TimeToStr(0.25), "6:00");
}

TEST(Variants, KindsConversionsAndEquality) {
  TVariant null;
  EXPECT_TRUE(null.IsNull());
  EXPECT_EQ(null.AsString(), "");
  EXPECT_EQ(null.AsInteger(), 0);
  EXPECT_EQ(null.Count(), 0u);
  EXPECT_EQ(TVariant("12").AsInteger(), 12);
  EXPECT_EQ(TVariant(7).AsString(), "7");
  EXPECT_EQ(TVariant(true).AsString(), "True");
  EXPECT_TRUE(TVariant("yes").AsBoolean());
  EXPECT_EQ(TVariant(2), TVariant(2.0));
  EXPECT_FALSE(TVariant("2") == TVariant(2));
  EXPECT_FALSE(TVariant::FromDate(2.0) == TVariant(2.0));
  TVariant list(std::vector<TVariant>{"a", 1});
  EXPECT_TRUE(list.IsArray());
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Item(1), TVariant(1));
  EXPECT_EQ(list.AsString(), "a");
  EXPECT_THROW(list.Item(2), std::out_of_range);
  EXPECT_THROW(TVariant("x").AsInteger(), EConvertError);
}

}  // namespace
}  // namespace tz::testing
