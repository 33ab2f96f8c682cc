#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "tables/engine/dbf4.h"

namespace tz {
namespace {

// An OEM table: "Müller" is stored in code page 850.
class Searching : public EngineTest {
 protected:
  Searching() : cwd_(dir_.path()) {
    SetErrorReporting(false);
    dir_.Write("tel.dbf",
               RawTable(0x03,
                        {{"HERSTELLER", 'C', 8},
                         {"MODELL", 'C', 5},
                         {"ANZ", 'N', 3},
                         {"PREIS", 'N', 6, 2},
                         {"DATUM", 'D', 8},
                         {"OK", 'L', 1}},
                        {" Nokia   3310   5  1.5020261209T", " siemens S45   12  2.2520250101F",
                         " Siemens ME45   7  0.0020261209y", " M\x81ller  X      1  9.9919991231F",
                         "*Nokia   6110   2  1.0020261209T", " Nokia   6110   3  1.2520261209T"}));
    Use("tel");
  }

  platform::TempDir dir_;
  ScopedCwd cwd_;
};

TEST_F(Searching, TheSearchSpec) {
  struct Case {
    const char* spec;
    uint8_t field;
    bool case_sensitive, exact, contained;
    const char* context;
  } cases[] = {
      {"hersteller", 1, true, false, false, ""},
      {" modell NoCase exact ", 2, false, true, false, ""},
      {"ANZ contained", 3, true, false, true, ""},
      {"", 0, true, false, false, "No field name specified [Locate/Count/Sum]"},
      {"nix nocase", 0, false, false, false, "Unrecognized field name [Locate/Count/Sum(NIX)]"},
      {"nocase", 0, true, false, false, "Unrecognized field name [Locate/Count/Sum(NOCASE)]"},
  };
  for (const Case& c : cases) {
    DbLastError = 0;
    EXPECT_EQ(Locate(c.spec), c.field) << c.spec;
    if (c.field != 0) {
      EXPECT_EQ(LocateCaseSensitive, c.case_sensitive) << c.spec;
      EXPECT_EQ(LocateExact, c.exact) << c.spec;
      EXPECT_EQ(LocateContained, c.contained) << c.spec;
    } else {
      EXPECT_EQ(DbLastError, 220) << c.spec;
      EXPECT_EQ(TakeErrorContext(), c.context) << c.spec;
    }
  }
}

TEST_F(Searching, OneFieldByValue) {
  DbDecimalSeparator = ',';  // numbers are still compared as stored, with "."
  struct Case {
    const char* field;
    TLocateValue value;
    bool no_case, exact;
    int32_t first;
    int32_t recno;  // 0: not found
  } cases[] = {
      {"hersteller", std::string("SIEMENS"), true, false, 1, 2},
      {"hersteller", std::string("Siemens"), false, false, 1, 3},
      {"hersteller", std::string("Sie"), false, false, 1, 3},
      {"hersteller", std::string("Sie"), false, true, 1, 0},
      {"hersteller", std::string("Siemens"), false, true, 1, 3},
      {"hersteller", std::string("M\xFCller"), false, false, 1, 4},
      {"hersteller", std::string("m\xFCller"), true, false, 1, 4},
      {"hersteller", std::string("Nokia"), false, false, 2, 5},
      {"anz", 12.0, false, false, 1, 2},
      {"preis", 2.25, false, false, 1, 2},
      {"preis", 9.99, false, false, 1, 4},
      {"datum", TDateValue{1999, 12, 31}, false, false, 1, 4},
      {"datum", std::string("12/09/26"), false, false, 2, 3},
      {"ok", true, false, false, 2, 3},  // "y" is true as well
      {"ok", false, false, false, 1, 2},
      {"  modell rest", std::string("ME"), false, false, 1, 3},
      {"", std::string("x"), false, false, 1, 0},
  };
  for (const Case& c : cases) {
    bool found = LocateValue(c.field, c.value, c.no_case, c.first, c.exact);
    EXPECT_EQ(found, c.recno != 0) << c.field << " from " << c.first;
    if (c.recno != 0) {
      EXPECT_EQ(RecNo(), c.recno) << c.field << " from " << c.first;
    } else if (std::string(c.field) != "") {
      EXPECT_TRUE(dEOF()) << c.field;
    }
  }
}

TEST_F(Searching, HiddenRecordsAreSkippedAndContinueGoesOn) {
  SetIgnoreDel(true);
  EXPECT_TRUE(LocateValue("hersteller", std::string("Nokia"), false, 1, false));
  EXPECT_EQ(RecNo(), 1);
  Continue();
  EXPECT_EQ(RecNo(), 5);  // Continue itself does not look at deletion
  EXPECT_TRUE(LocateValue("hersteller", std::string("Nokia"), false, 2, false));
  EXPECT_EQ(RecNo(), 6);  // LocateValue goes on past the deleted record 5
  Continue();
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(LocateField, 0);
  DbLastError = 0;
  Continue();
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(TakeErrorContext(), "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");

  LocateSearchValue = "45";
  LocateFrom(1, Locate("modell contained"), true);
  EXPECT_EQ(RecNo(), 2);
  Continue();
  EXPECT_EQ(RecNo(), 3);
}

TEST_F(Searching, SeveralFields) {
  GO(4);
  std::vector<TLocateValue> nokia_6110 = {std::string("Nokia"), std::string("6110")};
  EXPECT_TRUE(LocateFields("HERSTELLER;MODELL", nokia_6110, false, true, false));
  EXPECT_EQ(RecNo(), 5);  // record 1 matches the maker only
  GO(4);
  EXPECT_TRUE(LocateFields("HERSTELLER;MODELL", nokia_6110, false, false, false));
  EXPECT_EQ(RecNo(), 4);  // not asked to stay
  std::vector<TLocateValue> none = {std::string("Nokia"), std::string("S45")};
  EXPECT_FALSE(LocateFields("HERSTELLER;MODELL", none, false, true, false));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(LocateFields("modell", {std::string("ME45")}, false, true, true));
  EXPECT_EQ(RecNo(), 3);
  int hook_calls = 0;
  SetAreaHook([&] { ++hook_calls; });
  hook_calls = 0;
  EXPECT_TRUE(LocateFields("HERSTELLER;MODELL;ANZ",
                           {std::string("Nokia"), std::string("6110"), 3.0}, false, true, false));
  EXPECT_EQ(RecNo(), 6);
  EXPECT_EQ(hook_calls, 0);  // the search does not run the hook, nor does its end
}

}  // namespace
}  // namespace tz
