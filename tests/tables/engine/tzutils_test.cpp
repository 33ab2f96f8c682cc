#include "tables/engine/tzutils.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace tz {
namespace {

using TextHelpers = EngineTest;

TEST_F(TextHelpers, OccursCount) {
  struct Case {
    const char* sub;
    const char* text;
    int32_t count;
  } cases[] = {
      {"aa", "aaaa", 2}, {"a", "banana", 3}, {"an", "banana", 2}, {"ana", "banana", 1},
      {"", "abc", 0},    {"x", "", 0},       {"xyz", "xy", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OccursCount(c.sub, c.text), c.count) << c.sub << " " << c.text;
}

TEST_F(TextHelpers, NthOccurrence) {
  struct Case {
    int32_t n;
    const char* sub;
    const char* text;
    int32_t pos;
  } cases[] = {
      {1, "aa", "aaaa", 1},
      {2, "aa", "aaaa", 2},  // occurrences overlap
      {3, "aa", "aaaa", 3},
      {4, "aa", "aaaa", 0},
      {2, "b", "abcb", 4},
      {-1, "b", "abcb", 4},
      {-2, "b", "abcb", 2},
      {-3, "b", "abcb", 0},
      {-1, "xy", "abc", 0},
      {-1, "bc", "abcabc", 5},
      {-2, "aa", "aaaa", 2},
      {1, "\xFF",
       "a\xFF"
       "b",
       2},                                 // "ÿ" in the search text
      {2, "\xFF\xFF", "\xFF\xFF\xFF", 2},  // a marker byte would have hidden this one
      {3, "\xFF\xFF", "\xFF\xFF\xFF", 0},
      {0, "a", "a", 0},
      {1, "", "a", 0},
      {1, "a", "", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NthOccurrence(c.n, c.sub, c.text), c.pos) << c.n << " " << c.sub << " " << c.text;
}

TEST_F(TextHelpers, StrToIntSigned) {
  struct Case {
    char decimal;
    const char* text;
    int16_t value;
  } cases[] = {
      {'.', "+ 1,234", 1234},
      {'.', "  -17", -17},
      {'.', "40000", 32767},
      {'.', "-40000", -32768},
      {'.', "99999999999999999999", 32767},
      {'.', "12abc", 12},
      {'.', "$", 0},
      {'.', "$42", 42},
      {'.', "12 34", 12},
      {'.', "", 0},
      {'.', "1.5", 1},
      {',', "1.234", 1234},
      {',', "1,5", 1},
  };
  for (const Case& c : cases) {
    DbDecimalSeparator = c.decimal;
    EXPECT_EQ(StrToIntSigned(c.text), c.value) << c.decimal << " " << c.text;
  }
}

TEST_F(TextHelpers, NormalizeNumberTextAndNumberTextToInt) {
  struct Case {
    char decimal;
    const char* text;
    const char* normal;
    int32_t value;
  } cases[] = {
      {',', "-,5", "-0.5", 0},
      {',', "1.234,50", "1234.50", 1234},
      {',', "$ 12,", "12", 12},
      {',', "- ", "", 0},
      {',', "+-3", "-3", -3},
      {'.', "1,234.5", "1234.5", 1234},
      {'.', ".5", "0.5", 0},
      {'.', "12abc", "12", 12},
      {'.', "1-2", "1", 1},
      {'.', "5.", "5", 5},
      {'.', "-12.9 kg", "-12.9", -12},
      {'.', "", "", 0},
      {'.', "99999999999", "99999999999", 2147483647},
  };
  for (const Case& c : cases) {
    DbDecimalSeparator = c.decimal;
    std::string text = c.text;
    NormalizeNumberText(text);
    EXPECT_EQ(text, c.normal) << c.decimal << " " << c.text;
    EXPECT_EQ(NumberTextToInt(c.text), c.value) << c.decimal << " " << c.text;
  }
}

TEST_F(TextHelpers, RemoveWordOnlyWhereItStandsAlone) {
  struct Case {
    const char* word;
    const char* text;
    bool removed;
    const char* result;
  } cases[] = {
      {"exclusive", "test.dbf exclusive", true, "TEST.DBF"},
      {" EXCLUSIVE", "TEL EXCLUSIVE ALIAS X ", true, "TEL ALIAS X"},
      {"nocase", "name nocase nocase", true, "NAME"},
      {"exclusive", "EXCLUSIVE tel", true, "TEL"},
      {"exclusive", "exclusively.dbf", false, "EXCLUSIVELY.DBF"},
      {"exclusive", "exclusive_1", false, "EXCLUSIVE_1"},
      {"exclusive", "exclusive.dbf", false, "EXCLUSIVE.DBF"},
      {"exclusive", "nonexclusive.dbf", false, "NONEXCLUSIVE.DBF"},
      {"exclusive", "data/exclusive_log", false, "DATA/EXCLUSIVE_LOG"},
      {"exclusive", "data\\exclusive", false, "DATA\\EXCLUSIVE"},
      {"", "  abc  ", false, "ABC"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(RemoveWord(c.word, text), c.removed) << c.word << " in " << c.text;
    EXPECT_EQ(text, c.result) << c.word << " in " << c.text;
  }
}

TEST_F(TextHelpers, Trimming) {
  struct Case {
    std::string text, rtrim, ltrim, alltrim;
  } cases[] = {
      {"  ab c  ", "  ab c", "ab c  ", "ab c"},
      {std::string("\t x\0", 4), "\t x", std::string("x\0", 2), "x"},
      {"   ", "", "", ""},
      {"", "", "", ""},
      {"\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},  // a no-break space is no blank
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RTrim(c.text), c.rtrim);
    EXPECT_EQ(TrimRightStr(c.text), c.rtrim);
    EXPECT_EQ(LTrim(c.text), c.ltrim);
    EXPECT_EQ(TrimLeftStr(c.text), c.ltrim);
    EXPECT_EQ(AllTrim(c.text), c.alltrim);
  }
}

TEST_F(TextHelpers, PaddingAndNumbersInAWidth) {
  EXPECT_EQ(PadRightTo("ab", 5), "ab   ");
  EXPECT_EQ(PadRightTo("abcdef", 3), "abcdef");
  EXPECT_EQ(PadRightTo("ab", 0), "ab");
  EXPECT_EQ(Replicate('*', 3), "***");
  EXPECT_EQ(Replicate('*', -1), "");
  EXPECT_EQ(IIfStr(true, "T", "F"), "T");
  EXPECT_EQ(IIfStr(false, "T", "F"), "F");
  struct IntCase {
    int32_t value;
    int width;
    const char* text;
  } ints[] = {{42, 5, "   42"}, {-42, 5, "  -42"}, {123456, 3, "123456"}, {0, 0, "0"}};
  for (const IntCase& c : ints) EXPECT_EQ(IntToStrW(c.value, c.width), c.text);
  struct FloatCase {
    char decimal;
    int width, decimals;
    double value;
    const char* text;
  } floats[] = {
      {'.', 8, 2, 3.14159, "    3.14"},
      {'.', 3, 2, 1234.5, "1234.50"},  // never cut
      {'.', 0, 0, 2.6, "3"},
      {'.', 0, 0, 2.5, "3"},  // exact ties round away from zero
      {'.', 0, 0, -2.5, "-3"},
      {'.', 6, 1, -0.25, "  -0.3"},
      {'.', 0, 2, 0.125, "0.13"},
      {'.', 0, 1, 9.95, "9.9"},  // the double is 9.9499999...: no tie
      {'.', 0, 1, 99.95, "100.0"},
      {'.', 0, 0, 99.5, "100"},
      {'.', 0, 2, 2.675, "2.67"},
      {',', 8, 2, 3.14159, "    3,14"},
      {',', 4, 0, 12.0, "  12"},
      {'.', 0, 2, 1e30, "1000000000000000019884624838656.00"},  // all 34 characters
  };
  for (const FloatCase& c : floats) {
    DbDecimalSeparator = c.decimal;
    EXPECT_EQ(FloatToStrDec(c.width, c.decimals, c.value), c.text) << c.value;
  }
}

TEST_F(TextHelpers, CaseLettersAndCodePagesAreWindows1252) {
  EXPECT_EQ(Upper("stra\xDF"
                  "e m\xE4rz"),
            "STRA\xDF"
            "E M\xC4RZ");
  EXPECT_EQ(CharUpperChar('\xE9'), '\xC9');
  EXPECT_EQ(CharLowerChar('\xC4'), '\xE4');
  EXPECT_TRUE(IsAlphaStart("\xE4pfel"));
  EXPECT_FALSE(IsAlphaStart("1a"));
  EXPECT_FALSE(IsAlphaStart(""));
  EXPECT_EQ(AnsiToOemStr("M\xE4rz"), "M\x84rz");  // code page 850
  EXPECT_EQ(OemToAnsiStr("M\x84rz"), "M\xE4rz");
}

TEST_F(TextHelpers, PathsAreSplitWithoutCuttingAnything) {
  std::string long_dir = "/data/" + std::string(80, 'd') + "/";
  std::string long_name = std::string(70, 'n');
  struct Case {
    std::string path, dir, name, ext;
  } cases[] = {
      {"C:\\DATA\\TEL.DBF", "C:\\DATA\\", "TEL", ".DBF"},
      {"data/sub.d/tel", "data/sub.d/", "tel", ""},
      {"tel.dbf.bak", "", "tel.dbf", ".bak"},
      {long_dir + long_name + "." + std::string(66, 'e'), long_dir, long_name,
       "." + std::string(66, 'e')},
  };
  for (const Case& c : cases) {
    std::string dir, name, ext;
    FSplit(c.path, dir, name, ext);
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
    EXPECT_EQ(ext, c.ext) << c.path;
  }
  struct ExtCase {
    std::string path, ext, with_default, forced, removed;
  } exts[] = {
      {"C:\\DATA\\TEL", "DBF", "C:\\DATA\\TEL.DBF", "C:\\DATA\\TEL.DBF", "C:\\DATA\\TEL"},
      {"C:\\DATA\\TEL.X", "DBF", "C:\\DATA\\TEL.X", "C:\\DATA\\TEL.DBF", "C:\\DATA\\TEL"},
      {"tel  ", "dbf", "tel.dbf", "tel  .dbf", "tel  "},
      {"/a.b/tel", "MDX", "/a.b/tel.MDX", "/a.b/tel.MDX", "/a.b/tel"},
      {long_dir + long_name, "DBT", long_dir + long_name + ".DBT", long_dir + long_name + ".DBT",
       long_dir + long_name},
  };
  for (const ExtCase& c : exts) {
    EXPECT_EQ(DefaultExtension(c.path, c.ext), c.with_default) << c.path;
    EXPECT_EQ(ForceExtension(c.path, c.ext), c.forced) << c.path;
    EXPECT_EQ(RemoveExtension(c.path), c.removed) << c.path;
  }
}

}  // namespace
}  // namespace tz
