// Field definition lines: how a line is read, the corrections with their message, tables made
// from lines (byte for byte, and as python3-dbfread reads them), and the unit start's date and
// number settings.
#include <gtest/gtest.h>

#include <cstring>

#include "ucommon_test_support.h"
#include "platform/testing/child_process.h"
#include "platform/dataset/convert.h"
#include "tables/components/ucommon.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzutils.h"

namespace tz {

// Shows a definition as "name,T,len,dec" in failure messages.
void PrintTo(const TFieldDefinition& d, std::ostream* os) {
  *os << d.Name << "," << (d.Type ? std::string(1, d.Type) : std::string()) << "," << d.Length
      << "," << d.Decimals;
}

namespace {

TEST(FieldDefinitionLines, BlanksAroundTheItemsAreOptional) {
  struct Case {
    const char* line;
    TFieldDefinition read;
  } cases[] = {
      {"hersteller, C, 20, 0", {"hersteller", 'C', 20, 0}},
      {"hersteller,C,20,0", {"hersteller", 'C', 20, 0}},
      {"  hersteller  ,  C ,20 ,  +0  ", {"hersteller", 'C', 20, 0}},
      {"\thersteller,\tC,\t20,\t0", {"hersteller", 'C', 20, 0}},
      {"smsstack, N, 3, 0", {"smsstack", 'N', 3, 0}},
      {"Modell, Char, 20, 0", {"Modell", 'C', 20, 0}},
      {"averyverylongname, C, 5, 0", {"averyveryl", 'C', 5, 0}},
      {"preis, N, 300, -5", {"preis", 'N', 300, -5}},
      {"leer, , 10, 0", {"leer", '\0', 10, 0}},
      {"m, M, , ", {"m", 'M', 0, 0}},
  };
  for (const Case& c : cases) {
    TFieldDefinition def;
    ASSERT_TRUE(ParseFieldDefinition(c.line, def)) << c.line;
    EXPECT_EQ(def, c.read) << c.line;
  }
  for (const char* bad : {"hersteller, C, 20", "hersteller", "", "a, C, 5, 0, 1", "a,,,,"}) {
    TFieldDefinition def{"keep", 'L', 1, 0};
    EXPECT_FALSE(ParseFieldDefinition(bad, def)) << bad;
    EXPECT_EQ(def, (TFieldDefinition{"keep", 'L', 1, 0})) << bad;
  }
}

class FieldCorrections : public UCommonTest {};

TEST_F(FieldCorrections, EachRuleWorksOnTheValuesTheRulesBeforeItLeft) {
  struct Case {
    const char* line;
    TFieldDefinition corrected;
    const char* message;  // nullptr: none
  } cases[] = {
      {"hersteller, C, 20, 0", {"hersteller", 'C', 20, 0}, nullptr},
      {"datum, D, 10, 0", {"datum", 'D', 10, 0}, nullptr},
      {"aktiv, L, 1, 0", {"aktiv", 'L', 1, 0}, nullptr},
      {"n, N, 20, 18", {"n", 'N', 20, 18}, nullptr},
      {"x, X, 10, 0", {"x", 'X', 10, 0}, nullptr},
      {"n,N,30,2", {"n", 'N', 20, 2},
       "Invalid field definition for DBx: n,N,30,2. Will use corrected definition: n,N,20,2"},
      {"n,N,5,4", {"n", 'N', 5, 3},
       "Invalid field definition for DBx: n,N,5,4. Will use corrected definition: n,N,5,3"},
      {"n,N,10,19", {"n", 'N', 10, 8},
       "Invalid field definition for DBx: n,N,10,19. Will use corrected definition: n,N,10,8"},
      // Shortened to 20 first, so 20 decimals become 18 and stay below the length.
      {"n,N,21,20", {"n", 'N', 20, 18},
       "Invalid field definition for DBx: n,N,21,20. Will use corrected definition: n,N,20,18"},
      {"n,N,1,1", {"n", 'N', 1, 0},
       "Invalid field definition for DBx: n,N,1,1. Will use corrected definition: n,N,1,0"},
      {"n,N,10,-5", {"n", 'N', 10, 0},
       "Invalid field definition for DBx: n,N,10,-5. Will use corrected definition: n,N,10,0"},
      {"b,B,10,0", {"b", 'M', 10, 0},
       "Invalid field definition for DBx: b,B,10,0. Will use corrected definition: b,M,10,0"},
      {"g,G,10,0", {"g", 'M', 10, 0},
       "Invalid field definition for DBx: g,G,10,0. Will use corrected definition: g,M,10,0"},
      {"p,P,10,0", {"p", 'M', 10, 0},
       "Invalid field definition for DBx: p,P,10,0. Will use corrected definition: p,M,10,0"},
      {"c,c,10,0", {"c", 'C', 10, 0},
       "Invalid field definition for DBx: c,c,10,0. Will use corrected definition: c,C,10,0"},
      {"q,Q,10,0", {"q", 'C', 10, 0},
       "Invalid field definition for DBx: q,Q,10,0. Will use corrected definition: q,C,10,0"},
      {"e,,10,0", {"e", 'C', 10, 0},
       "Invalid field definition for DBx: e,,10,0. Will use corrected definition: e,C,10,0"},
      {"c,C,255,0", {"c", 'C', 254, 0},
       "Invalid field definition for DBx: c,C,255,0. Will use corrected definition: c,C,254,0"},
      {"c,C,300,0", {"c", 'C', 254, 0},
       "Invalid field definition for DBx: c,C,300,0. Will use corrected definition: c,C,254,0"},
      {"c,C,-5,0", {"c", 'C', 1, 0},
       "Invalid field definition for DBx: c,C,-5,0. Will use corrected definition: c,C,1,0"},
      {"c,C,10,-5", {"c", 'C', 10, 0},
       "Invalid field definition for DBx: c,C,10,-5. Will use corrected definition: c,C,10,0"},
      {"d,D,300,0", {"d", 'D', 255, 0},
       "Invalid field definition for DBx: d,D,300,0. Will use corrected definition: d,D,255,0"},
      {"f,F,0,0", {"f", 'F', 1, 0},
       "Invalid field definition for DBx: f,F,0,0. Will use corrected definition: f,F,1,0"},
  };
  for (const Case& c : cases) {
    ui_.Clear();
    TFieldDefinition line;
    ASSERT_TRUE(ParseFieldDefinition(c.line, line)) << c.line;
    EXPECT_EQ(CheckFieldDefinition("DBx", line), c.corrected) << c.line;
    std::vector<std::string> expected;
    if (c.message) expected.push_back(c.message);
    EXPECT_EQ(ui_.Texts(), expected) << c.line;
  }
}

// The field lines of the phone-model table, as the programs' forms declare them.
const std::vector<std::string> kTelstammLines = {
    "id, C, 10, 0",        "hersteller, C, 20, 0", "modell, C, 20, 0",     "smsstack, N, 3, 0",
    "comport, N, 1, 0",    "baudrate, C, 6, 0",    "databits, C, 4, 0",    "stopbits, C, 4, 0",
    "parity, C, 1, 0",     "flowcontr, C, 20, 0",  "inputbuf, N, 4, 0",    "outputbuf, N, 4, 0",
    "waitopen, N, 4, 0",   "waitclose, N, 4, 0",   "waitsend, N, 4, 0",    "waitrec, N, 4, 0",
    "smsc_omit, L, 1, 0",
};

class TableCreation : public UCommonTest {
 protected:
  std::string Path(const std::string& name) { return (dir_ / name).string(); }
  platform::TempDir dir_;
};

TEST_F(TableCreation, TelstammLinesMakeTheHeaderByteForByte) {
  std::string path = Path("telstamm.dbf");
  ASSERT_TRUE(CreateTableFromFieldLines("DBMobilTel", path, &kTelstammLines, false));
  EXPECT_TRUE(ui_.Texts().empty());
  struct Descriptor {
    const char* name;
    char type;
    uint8_t length;
  } descriptors[] = {
      {"ID", 'C', 10},       {"HERSTELLER", 'C', 20}, {"MODELL", 'C', 20},   {"SMSSTACK", 'N', 3},
      {"COMPORT", 'N', 1},   {"BAUDRATE", 'C', 6},    {"DATABITS", 'C', 4},  {"STOPBITS", 'C', 4},
      {"PARITY", 'C', 1},    {"FLOWCONTR", 'C', 20},  {"INPUTBUF", 'N', 4},  {"OUTPUTBUF", 'N', 4},
      {"WAITOPEN", 'N', 4},  {"WAITCLOSE", 'N', 4},   {"WAITSEND", 'N', 4},  {"WAITREC", 'N', 4},
      {"SMSC_OMIT", 'L', 1},
  };
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  std::string expected(32, '\0');
  expected[0] = '\x03';
  expected[1] = static_cast<char>(year - 1900);
  expected[2] = static_cast<char>(month);
  expected[3] = static_cast<char>(day);
  expected[8] = '\x41';  // header size 577 = 32 + 17 * 32 + 1
  expected[9] = '\x02';
  expected[10] = '\x73';  // record size 115
  for (const Descriptor& d : descriptors) {
    std::string descriptor(32, '\0');
    descriptor.replace(0, std::strlen(d.name), d.name);
    descriptor[11] = d.type;
    descriptor[16] = static_cast<char>(d.length);
    expected += descriptor;
  }
  expected += "\x0D\x1A";
  std::string file = platform::TempDir::Read(path);
  ASSERT_EQ(file.size(), expected.size());
  // Byte 1 to 3 are today's date: the day may have turned between the two looks.
  if (file.substr(1, 3) != expected.substr(1, 3)) {
    DayOfWeekOf(year, month, day, dow);
    expected[1] = static_cast<char>(year - 1900);
    expected[2] = static_cast<char>(month);
    expected[3] = static_cast<char>(day);
  }
  EXPECT_EQ(file, expected);
}

TEST_F(TableCreation, DbfreadReadsTheTelstammTable) {
  std::string path = Path("telstamm.dbf");
  ASSERT_TRUE(CreateTableFromFieldLines("DBMobilTel", path, &kTelstammLines, false));
  Use(path + " EXCLUSIVE");
  ASSERT_EQ(DbLastError, 0);
  struct Put {
    int field;
    std::string text;  // C fields
    int32_t number;    // N fields
  } puts[] = {
      {1, "0000000001", 0}, {2, "Siem\xE4ns", 0}, {3, "S35i", 0}, {4, "", 10},   {5, "", 2},
      {6, "19200", 0},      {7, "8", 0},          {8, "1,5", 0},  {9, "N", 0},   {10, "RTS/CTS", 0},
      {11, "", 1024},       {12, "", 512},        {13, "", 100},  {14, "", 200}, {15, "", 300},
      {16, "", 1500},
  };
  ClearRecord();
  for (const Put& p : puts) {
    char* slot = FieldAddress(p.field);
    if (FieldType(p.field) == 'C') {
      slot[0] = static_cast<char>(p.text.size());
      std::memcpy(slot + 1, p.text.data(), p.text.size());
    } else {
      std::memcpy(slot, &p.number, sizeof p.number);
    }
  }
  FieldAddress(17)[0] = 1;
  Append();
  ASSERT_EQ(DbLastError, 0);
  CloseDatabase();

  auto lines = Output("/usr/bin/python3",
                      {"-c",
                       "import sys, dbfread\n"
                       "t = dbfread.DBF(sys.argv[1], encoding='cp850', load=True)\n"
                       "for f in t.fields: print(f.name, f.type, f.length, f.decimal_count)\n"
                       "for r in t.records: print('|'.join(str(v) for v in r.values()))\n",
                       path});
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "ID C 10 0",
                       "HERSTELLER C 20 0",
                       "MODELL C 20 0",
                       "SMSSTACK N 3 0",
                       "COMPORT N 1 0",
                       "BAUDRATE C 6 0",
                       "DATABITS C 4 0",
                       "STOPBITS C 4 0",
                       "PARITY C 1 0",
                       "FLOWCONTR C 20 0",
                       "INPUTBUF N 4 0",
                       "OUTPUTBUF N 4 0",
                       "WAITOPEN N 4 0",
                       "WAITCLOSE N 4 0",
                       "WAITSEND N 4 0",
                       "WAITREC N 4 0",
                       "SMSC_OMIT L 1 0",
                       // The table is OEM: the ANSI "ä" was stored as code page 850's.
                       "0000000001|Siem\xC3\xA4ns|S35i|10|2|19200|8|1,5|N|RTS/CTS|1024|512|100|"
                       "200|300|1500|True",
                   }));
}

TEST_F(TableCreation, TheCreatorWantsThreeCommasInEveryLine) {
  struct Case {
    std::vector<std::string> lines;
    bool created;
  } cases[] = {
      {{"hersteller, C, 20, 0"}, true},
      {{"hersteller,C,20,0"}, true},
      {{"hersteller, C, 20"}, false},
      {{"id, C, 10, 0", "hersteller, C, 20"}, false},
      {{"hersteller, C, 20", "id, C, 10, 0"}, false},
      {{"id, C, 10, 0", "hersteller, C, 20, 0, 1"}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string path = Path("t" + std::to_string(++n) + ".dbf");
    EXPECT_EQ(CreateTableFromFieldLines("DBx", path, &c.lines, false), c.created) << n;
    EXPECT_EQ(FileExistsS(path), c.created) << n;
  }
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(TableCreation, LinesWithBlanksAndWithoutThemMakeTheSameFile) {
  std::vector<std::string> spaced = {"hersteller, C, 20, 0", "preis, N, 8, 2", "ok, L, 1, 0"};
  std::vector<std::string> tight = {"hersteller,C,20,0", "preis,N,8,2", "ok,L,1,0"};
  ASSERT_TRUE(CreateTableFromFieldLines("DBx", Path("a.dbf"), &spaced, false));
  ASSERT_TRUE(CreateTableFromFieldLines("DBx", Path("b.dbf"), &tight, false));
  EXPECT_EQ(platform::TempDir::Read(Path("a.dbf")), platform::TempDir::Read(Path("b.dbf")));
}

TEST_F(TableCreation, MissingOrEmptyListsAndFailedCreations) {
  EXPECT_FALSE(CreateTableFromFieldLines("DBx", Path("a.dbf"), nullptr, false));
  std::vector<std::string> none;
  EXPECT_FALSE(CreateTableFromFieldLines("DBx", Path("b.dbf"), &none, false));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                             "DbfFieldList is Nil trying to create a database",
                             "FieldList.Count is <= 0 trying to create a database",
                         }));
  // Only X lines: no field at all, which the engine refuses; in raise mode too nothing is
  // thrown, the error stays for the caller.
  std::vector<std::string> only_x = {"x, X, 10, 0"};
  EXPECT_FALSE(CreateTableFromFieldLines("DBx", Path("c.dbf"), &only_x, false));
  EXPECT_EQ(DbLastError, 211);
  EXPECT_TRUE(DbReportErrors);
  EXPECT_FALSE(FileExistsS(Path("c.dbf")));
}

TEST_F(TableCreation, CorrectedXAndMemoLinesInTheFile) {
  std::vector<std::string> lines = {"name, C, 300, 0", "skip, X, 5, 0", "bild, B, 10, 0",
                                    "betrag, N, 30, 2"};
  std::string path = Path("m.dbf");
  ASSERT_TRUE(CreateTableFromFieldLines("DBx", path, &lines, false));
  EXPECT_EQ(ui_.Texts(),
            (std::vector<std::string>{
                "Invalid field definition for DBx: name,C,300,0. Will use corrected definition: "
                "name,C,254,0",
                "Invalid field definition for DBx: bild,B,10,0. Will use corrected definition: "
                "bild,M,10,0",
                "Invalid field definition for DBx: betrag,N,30,2. Will use corrected definition: "
                "betrag,N,20,2",
            }));
  EXPECT_TRUE(FileExistsS(Path("m.dbt")));
  Use(path);
  ASSERT_EQ(DbLastError, 0);
  ASSERT_EQ(FieldCount(), 3);
  struct Expected {
    const char* name;
    char type;
    int length, decimals;
  } fields[] = {{"NAME", 'C', 254, 0}, {"BILD", 'M', 10, 0}, {"BETRAG", 'N', 20, 2}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tz::Field(i + 1), fields[i].name);
    EXPECT_EQ(FieldType(i + 1), fields[i].type);
    EXPECT_EQ(FieldLen(i + 1), fields[i].length);
    EXPECT_EQ(FieldDec(i + 1), fields[i].decimals);
  }
  CloseDatabase();

  // A dataset that keeps memo fields as numbers gets N 10,0 and no memo file.
  std::string numbers = Path("n.dbf");
  ASSERT_TRUE(CreateTableFromFieldLines("DBx", numbers, &lines, true));
  EXPECT_FALSE(FileExistsS(Path("n.dbt")));
  Use(numbers);
  ASSERT_EQ(DbLastError, 0);
  EXPECT_EQ(FieldType(2), 'N');
  EXPECT_EQ(FieldLen(2), 10);
  CloseDatabase();
}

TEST(FieldDefinitionLines, DesignModeLinesAreLowerCase) {
  EXPECT_EQ(FieldDefinitionLine({"HERSTELLER", 'C', 20, 0}), "hersteller, C, 20, 0");
  EXPECT_EQ(FieldDefinitionLine({"PREIS", 'N', 8, 2}), "preis, N, 8, 2");
  EXPECT_EQ(FieldDefinitionLine({"\xC4RGER", 'L', 1, 0}), "\xE4rger, L, 1, 0");
}

class UnitStart : public UCommonTest {};

TEST_F(UnitStart, DateFormatCenturyAndSeparatorsFromTheUsersFormats) {
  struct Case {
    TLocaleFormats formats;
    uint8_t date_format;
    bool century;
    const char* picture;
    const char* blank_date;
  } cases[] = {
      {{"dd.MM.yyyy", '.', ',', '.'}, 5, true, "dd.MM.yyyy", "  .  .    "},
      {{"dd-MM-yy", '-', ',', '.'}, 3, false, "dd-MM-yy", "  -  -  "},
      {{"dd/MM/yyyy", '/', '.', ','}, 2, true, "dd/MM/yyyy", "  /  /    "},
      {{"yyyy-MM-dd", '-', '.', ' '}, 1, true, "yyyy.MM.dd", "    .  .  "},
      {{"M/d/yyyy", '/', '.', ','}, 0, true, "MM/dd/yyyy", "  /  /    "},
      {{"d.M.yy", '.', ',', '\''}, 5, false, "dd.MM.yy", "  .  .  "},
      {{"dd MMM yyyy", ' ', '.', ','}, 2, true, "dd/MM/yyyy", "  /  /    "},
  };
  for (const Case& c : cases) {
    ApplyLocaleFormats(c.formats);
    EXPECT_EQ(DbDateFormat, c.date_format) << c.formats.ShortDateFormat;
    EXPECT_EQ(DbCentury, c.century) << c.formats.ShortDateFormat;
    EXPECT_EQ(DbDatePicture, c.picture) << c.formats.ShortDateFormat;
    EXPECT_EQ(DatePicture(DbDateFormat), c.blank_date) << c.formats.ShortDateFormat;
    EXPECT_EQ(DbDecimalSeparator, c.formats.DecimalSeparator) << c.formats.ShortDateFormat;
    EXPECT_EQ(DbThousandsSeparator, c.formats.ThousandsSeparator) << c.formats.ShortDateFormat;
  }
}

// The unit start reads the framework's format settings, so the engine's dates and the
// framework's date texts follow the same format.
TEST_F(UnitStart, TheFrameworksFormatSettingsChooseTheEngineSettings) {
  platform::dataset::TFormatSettings& settings = platform::dataset::FormatSettings();
  platform::dataset::TFormatSettings saved = settings;
  settings.ShortDateFormat = "dd.MM.yyyy";
  settings.DateSeparator = '.';
  settings.DecimalSeparator = ',';
  settings.ThousandSeparator = '.';
  SetDateFormat(0);
  StartUCommon();
  EXPECT_EQ(DbDateFormat, 5);
  EXPECT_TRUE(DbCentury);
  EXPECT_EQ(DbDecimalSeparator, ',');
  EXPECT_EQ(DbThousandsSeparator, '.');
  EXPECT_EQ(platform::dataset::DateToStr(EncodeDateValue(2026, 12, 9)), "09.12.2026");
  EXPECT_EQ(DateFrom(2026, 12, 9), "09.12.2026");
  settings = saved;
}

}  // namespace
}  // namespace tz
