// The commands of the table component that the programs' forms call: fields read as
// fixed-width texts, puts and the direct writes, navigation, seeks in the current order with
// the exact switch, the file name rules and hiding deleted records on an open table.
#include <gtest/gtest.h>

#include "platform/dataset/fields.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "tables/index/tzndx.h"
#include "tests/apps/dbfread_rows.h"
#include "tzdbf_test_support.h"
#include "whole_numbers_support.h"

namespace tz {
namespace {

const std::vector<std::string> kPhoneFields = {
    "id, C, 10, 0", "hersteller, C, 20, 0", "modell, C, 20, 0", "smsstack, N, 3, 0",
    "comport, N, 1, 0", "smsc_omit, L, 1, 0",
};
const std::vector<std::string> kPhoneTags = {
    "ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)+upper(modell)", ""};

using TableCommands = TzDbfTest;

TEST_F(TableCommands, FieldGetGivesFixedWidthTexts) {
  dir_.Write("fields.dbf", RawTable(0x03,
                                    {{"ANZ", 'N', 5},
                                     {"NAME", 'C', 10},
                                     {"JA", 'L', 1},
                                     {"NEIN", 'L', 1},
                                     {"DATUM", 'D', 8},
                                     {"PREIS", 'N', 7, 2},
                                     {"HERSTELLER", 'C', 20}},
                                    {std::string(" ") + "   42" + "abc       " + "T" + "F" +
                                     "        " + "   3.50" + "Nokia               "}));
  auto dbf = Open("DBFields", "fields.dbf", {});
  struct Case {
    std::string name;
    std::string text;
  };
  const Case cases[] = {
      {"ANZ", "   42"},
      {"NAME", "abc       "},
      {"JA", "T"},
      {"NEIN", "F"},
      {"DATUM", DatePicture(DbDateFormat)},
      {"PREIS", "    3.5"},  // the float field's text
      {"hersteller", "Nokia               "},
      {"HERSTELLERXY", "Nokia               "},  // 12 characters: the first 10 count
  };
  for (const Case& c : cases) EXPECT_EQ(dbf->FieldGet(c.name), c.text) << c.name;
  EXPECT_EQ(DatePicture(DbDateFormat), "  /  /  ");
  EXPECT_EQ(dbf->FieldGetInt("anz"), 42);
  EXPECT_TRUE(dbf->FieldGetBool("ja"));
  EXPECT_FALSE(dbf->FieldGetBool("nein"));
  EXPECT_THROW(dbf->FieldGet("MISSING"), platform::dataset::EDatabaseError);
}

TEST_F(TableCommands, PutsAndAppendRecOnAnEmptyTableLeaveOtherFieldsBlank) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields);
  ASSERT_TRUE(dbf->IsEmpty());
  ASSERT_TRUE(dbf->ALock());
  dbf->FieldPutStr("id", "0000000001");
  EXPECT_EQ(dbf->State(), platform::dataset::dsInsert);
  dbf->FieldPutShort("hersteller", "Siemens AG Munc");  // 15 characters
  dbf->FieldPutInt("smsstack", 30);
  dbf->AppendRec();
  dbf->UnLock();
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
  EXPECT_EQ(tz::RecCount(), 1);
  EXPECT_EQ(dbf->FieldGet("hersteller"), "Siemens AG          ");
  EXPECT_EQ(dbf->FieldGet("modell"), std::string(20, ' '));
  EXPECT_EQ(dbf->FieldGet("smsstack"), " 30");
  EXPECT_EQ(dbf->FieldGet("comport"), "0");
  EXPECT_FALSE(dbf->FieldGetBool("smsc_omit"));
}

// The phone program makes a new row from the current one by putting only what differs.
TEST_F(TableCommands, AppendRecCopiesTheFieldsNotPutFromTheCurrentRecord) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields);
  AppendRow(*dbf, {{"id", "0000000001"}, {"hersteller", "Nokia"}, {"modell", "6210"},
                   {"smsstack", "25"}, {"smsc_omit", "T"}});
  AppendRow(*dbf, {{"id", "0000000002"}, {"modell", "6310i"}});
  ASSERT_EQ(tz::RecCount(), 2);
  EXPECT_EQ(dbf->RecNo(), 2);
  EXPECT_EQ(dbf->FieldGet("hersteller"), "Nokia               ");
  EXPECT_EQ(dbf->FieldGet("modell"), "6310i               ");
  EXPECT_EQ(dbf->FieldGetInt("smsstack"), 25);
  EXPECT_TRUE(dbf->FieldGetBool("smsc_omit"));
  dbf->Go(1);
  EXPECT_EQ(dbf->FieldGet("modell"), "6210                ");
}

// The current record may carry the deleted mark (deleted records shown, or one another
// program deleted while the dataset stood on it): the new record takes its unput fields, never
// its mark, so that what was appended is not hidden at once.
TEST_F(TableCommands, AppendRecOnADeletedCurrentRecordAppendsALiveOne) {
  auto dbf = Open("DBProtocol", "protocol.dbf", {"telnr, C, 20, 0", "text, C, 40, 0"});
  AppendRow(*dbf, {{"telnr", "+491701111111"}, {"text", "first"}});
  auto other = Open("DBProtocol2", "protocol.dbf", {"telnr, C, 20, 0", "text, C, 40, 0"});
  other->First();
  ASSERT_TRUE(other->RLock());
  other->DeleteRec();
  other->UnLock();
  for (bool hidden : {false, true}) {
    SCOPED_TRACE(hidden ? "deleted records hidden" : "deleted records shown");
    dbf->SetHideDeletedRecs(hidden);
    dbf->Go(1);  // stands on the deleted record, also when it hides such records
    ASSERT_TRUE(dbf->ALock());
    dbf->FieldPutStr("text", hidden ? "third" : "second");
    dbf->AppendRec();
    dbf->UnLock();
  }
  dbf->SetHideDeletedRecs(true);
  EXPECT_EQ(Column(*dbf, "text"), (std::vector<std::string>{"second", "third"}));
  EXPECT_EQ(apps_testing::DbfreadRows(dir_ / "protocol.dbf", "TELNR TEXT", dir_ / "peer.out"),
            (std::vector<std::string>{"+491701111111|second", "+491701111111|third"}));
}

TEST_F(TableCommands, ReplaceRecAndDeleteRecWriteTheCurrentRecord) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields);
  for (const char* id : {"1", "2", "3"}) AppendRow(*dbf, {{"id", id}});
  dbf->SetHideDeletedRecs(true);
  dbf->Go(2);
  ASSERT_TRUE(dbf->RLock());
  dbf->FieldPutInt("comport", 3);
  dbf->ReplaceRec();
  dbf->UnLock();
  EXPECT_EQ(dbf->FieldGet("comport"), "3");
  ASSERT_TRUE(dbf->RLock());
  dbf->DeleteRec();
  dbf->UnLock();
  EXPECT_EQ(Column(*dbf, "id"), (std::vector<std::string>{"1", "3"}));
  dbf->SetHideDeletedRecs(false);
  dbf->Go(2);
  EXPECT_TRUE(dbf->IsDeleted());
  EXPECT_EQ(dbf->FieldGetInt("comport"), 3);
}

// The puts are kept whether the record lock comes before them, between them or after them.
TEST_F(TableCommands, ReplaceRecWritesThePutsMadeBeforeAndAfterTheLock) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields);
  for (const char* id : {"1", "2", "3"}) AppendRow(*dbf, {{"id", id}, {"modell", "alt"}});
  struct Case {
    int lock_after;  // the lock is taken after this many of the two puts
    const char* modell;
  };
  const Case cases[] = {{0, "vorher"}, {1, "zwischen"}, {2, "danach"}};
  for (const Case& c : cases) {
    dbf->Go(2);
    for (int put = 0; put <= 2; ++put) {
      if (put == c.lock_after) {
        ASSERT_TRUE(dbf->RLock()) << c.modell;
      }
      if (put == 0) dbf->FieldPutStr("modell", c.modell);
      if (put == 1) dbf->FieldPutInt("comport", c.lock_after + 1);
    }
    dbf->ReplaceRec();
    dbf->UnLock();
    EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse) << c.modell;
    EXPECT_EQ(Column(*dbf, "modell"), (std::vector<std::string>{"alt", c.modell, "alt"}));
    dbf->Go(2);
    EXPECT_EQ(dbf->FieldGetInt("comport"), c.lock_after + 1) << c.modell;
  }
}

TEST_F(TableCommands, SkipMovesAsFarAsItCanAndSkipZeroRereadsTheFile) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields);
  for (const char* id : {"1", "2", "3", "4", "5"}) AppendRow(*dbf, {{"id", id}});
  struct Case {
    int from;
    int count;
    int moved;
    int at;
    bool eof;
  };
  const Case cases[] = {
      {4, 3, 1, 5, true}, {2, 2, 2, 4, false}, {2, -3, -1, 1, false}, {5, 1, 0, 5, true},
  };
  for (const Case& c : cases) {
    dbf->Go(c.from);
    EXPECT_EQ(dbf->Skip(c.count), c.moved) << c.from << " " << c.count;
    EXPECT_EQ(dbf->RecNo(), c.at) << c.from << " " << c.count;
    EXPECT_EQ(dbf->AtEof(), c.eof) << c.from << " " << c.count;
  }
  // Another work area changes record 3; Skip(0) shows what the file holds now.
  dbf->Go(3);
  auto other = Open("DBOther", "telstamm.dbf", kPhoneFields);
  other->Go(3);
  ASSERT_TRUE(other->RLock());
  other->FieldPutStr("modell", "changed");
  other->ReplaceRec();
  other->UnLock();
  ASSERT_EQ(RTrim(dbf->FieldGet("modell")), "");
  // The dataset's buffer still holds the old record until the engine reads the file again.
  EXPECT_EQ(dbf->Skip(0), 0);
  EXPECT_EQ(RTrim(dbf->FieldGet("modell")), "changed");
  EXPECT_EQ(dbf->RecNo(), 3);
}

TEST_F(TableCommands, FindAndFindExactKeepTheExactSwitch) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields, kPhoneTags);
  for (const char* id : {"30", "10", "20"}) AppendRow(*dbf, {{"id", id}});
  ASSERT_EQ(dbf->CurrentTag(), "ID");
  struct Case {
    bool exact_before;
    std::string key;
    bool exact;
    bool found;
    std::string at;  // the id the dataset stands on; the last in ID order after a miss
  };
  const Case cases[] = {
      {false, "20", true, true, "20"},  {true, "20", true, true, "20"},
      {false, "2", true, false, "30"},  {true, "2", true, false, "30"},
      {false, "2", false, true, "20"},  {true, "2", false, false, "30"},
      {false, "99", false, false, "30"},
  };
  for (const Case& c : cases) {
    dbf->GoTop();
    if (c.exact_before)
      SetExactOn();
    else
      SetExactOff();
    bool found = c.exact ? dbf->FindExact(c.key) : dbf->Find(c.key);
    std::string label = c.key + (c.exact ? " exact" : "") + (c.exact_before ? " on" : " off");
    EXPECT_EQ(found, c.found) << label;
    EXPECT_EQ(IndexFound != 0, c.found) << label;
    EXPECT_EQ(RTrim(dbf->FieldGet("id")), c.at) << label;
    EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse) << label;
    EXPECT_EQ(SetExactOff(), c.exact_before) << label;
  }
}

TEST_F(TableCommands, SetOrderToTagChoosesTheOrder) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", kPhoneFields, kPhoneTags);
  AppendRow(*dbf, {{"id", "1"}, {"hersteller", "siemens"}, {"modell", "S45"}});
  AppendRow(*dbf, {{"id", "2"}, {"hersteller", "Nokia"}, {"modell", "6210"}});
  AppendRow(*dbf, {{"id", "3"}, {"hersteller", "NOKIA"}, {"modell", "3310"}});
  EXPECT_TRUE(dbf->SetOrderToTag("hersteller"));
  EXPECT_EQ(dbf->CurrentTag(), "HERSTELLER");
  EXPECT_EQ(Column(*dbf, "id"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_TRUE(dbf->SetOrderToTag(""));
  EXPECT_EQ(dbf->CurrentTag(), "");
  EXPECT_EQ(Column(*dbf, "id"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_THROW(dbf->SetOrderToTag("NOSUCHTAG"), ETarazedError);
}

TEST_F(TableCommands, DbfFileNameIsTrimmedAndGetsTheDefaultExtension) {
  ScopedCwd cwd(dir_.path());
  struct Case {
    std::string given;
    std::string stored;
  };
  const Case cases[] = {
      {"  tel  ", "tel.DBF"}, {"tel.", "tel."}, {"tel.dat", "tel.dat"}, {"   ", ""}, {"", ""},
  };
  for (const Case& c : cases) {
    TTzDbf dbf;
    dbf.SetDbfFileName(c.given);
    EXPECT_EQ(dbf.DbfFileName(), c.stored) << "'" << c.given << "'";
  }
  auto dbf = std::make_unique<TTzDbf>();
  dbf->SetName("DBTel");
  dbf->DbfFields() = {"telnr, C, 20, 0"};
  dbf->SetDbfFileName("tel");
  dbf->Open();
  ASSERT_TRUE(dbf->Active());
  EXPECT_TRUE(std::filesystem::exists(dir_ / "tel.DBF"));
  // On an active dataset the name closes and reopens it.
  dbf->SetDbfFileName("  other  ");
  EXPECT_TRUE(dbf->Active());
  EXPECT_EQ(dbf->DbfFileName(), "other.DBF");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "other.DBF"));
  // An empty name leaves it closed.
  dbf->SetDbfFileName("");
  EXPECT_FALSE(dbf->Active());
  EXPECT_EQ(dbf->DbfFileName(), "");
}

TEST_F(TableCommands, HideDeletedRecsActsOnAnOpenTableAtOnce) {
  dir_.Write("list.dbf", RawTable(0x03, {{"WORT", 'C', 8}},
                                  {" eins    ", "*zwei    ", " drei    ", "*vier    "}));
  auto dbf = Open("DBList", "list.dbf", {});
  EXPECT_EQ(Column(*dbf, "wort"), (std::vector<std::string>{"eins", "zwei", "drei", "vier"}));
  dbf->Go(2);
  dbf->SetHideDeletedRecs(true);
  EXPECT_EQ(RTrim(dbf->FieldGet("wort")), "drei");  // off the record now hidden
  EXPECT_EQ(Column(*dbf, "wort"), (std::vector<std::string>{"eins", "drei"}));
  dbf->SetHideDeletedRecs(false);
  EXPECT_EQ(Column(*dbf, "wort"), (std::vector<std::string>{"eins", "zwei", "drei", "vier"}));
}

// --- Whole numbers of ten digits and more ----------------------------------------------------

// The whole stored number comes out as text, in the grid's text and as a float; the 32-bit
// integer stops at the ends of its range.
TEST_F(WholeNumbers, AValueIsReadWhole) {
  WriteNumbers();
  for (NumberFields kind : {NumberFields::kDefault, NumberFields::kPersistent,
                            NumberFields::kPersistentSized20}) {
    auto dbf = OpenNumbers(kind);
    dbf->First();
    for (const WholeNumber& v : kWholeNumbers) {
      for (const RawField& c : kNumberColumns) {
        if (v.text.size() > c.length) continue;
        SCOPED_TRACE(std::string(NameOf(kind)) + ", " + c.name + " holding " + v.text);
        EXPECT_EQ(dbf->FieldGet(c.name), Aligned(v.text, c.length));
        TField& field = dbf->FieldByName(c.name);
        EXPECT_EQ(field.AsString(), v.text);
        EXPECT_EQ(field.DisplayText(), v.text);
        EXPECT_EQ(field.AsFloat(), v.as_float);
        EXPECT_EQ(dbf->FieldGetInt(c.name), v.as_integer);
      }
      dbf->Next();
    }
  }
}

// FieldPutInt over numbers whose upper 32 bits are set stores the value put and nothing of the
// number before it, as an independent reader sees the file.
TEST_F(WholeNumbers, APutStoresExactlyTheValuePut) {
  const int32_t puts[] = {0, 7, -7, 2147483647, -2147483648};
  for (NumberFields kind : {NumberFields::kDefault, NumberFields::kPersistent,
                            NumberFields::kPersistentSized20, NumberFields::kFrameworkInteger}) {
    SCOPED_TRACE(NameOf(kind));
    // Every record starts with the longest numbers of each column; N 9 holds 32-bit numbers.
    std::vector<std::string> records;
    for (size_t i = 0; i < std::size(puts); ++i)
      records.push_back(" " + Aligned("-99999999", 9) + Aligned("9999999999", 10) +
                        Aligned("-5000000000", 11) + Aligned("-5000000000", 20));
    dir_.Write("zahlen.dbf", RawTable(0x03, kNumberColumns, records));
    auto dbf = OpenNumbers(kind);
    for (size_t i = 0; i < std::size(puts); ++i) {
      dbf->Go(static_cast<int32_t>(i + 1));
      ASSERT_TRUE(dbf->RLock());
      for (const RawField& c : kNumberColumns)
        if (std::to_string(puts[i]).size() <= c.length) dbf->FieldPutInt(c.name, puts[i]);
      dbf->ReplaceRec();
      dbf->UnLock();
    }
    dbf.reset();
    // A column a value does not fit keeps its number.
    EXPECT_EQ(FileRows(), (std::vector<std::string>{
                              "0|0|0|0",
                              "7|7|7|7",
                              "-7|-7|-7|-7",
                              "-99999999|2147483647|2147483647|2147483647",
                              "-99999999|9999999999|-2147483648|-2147483648",
                          }));
  }
}

// --- Dates under the user's date format --------------------------------------------------------

// FieldGet gives a date's own text in the user's short date format, however long it is, and the
// engine's blank date text for an empty date; putting those texts stores the same dates.
TEST_F(TableCommands, DatesUnderEveryUserDateFormat) {
  struct Case {
    const char* format;
    char separator;
    const char* texts[3];  // 2026-01-05, 2026-12-01, 2026-12-24
    const char* blank;
  };
  const Case cases[] = {
      // The format of the C locale and of a user in the United States (LocaleFormatSettings).
      {"M/d/yyyy", '/', {"1/5/2026", "12/1/2026", "12/24/2026"}, "  /  /    "},
      {"M/d/yy", '/', {"1/5/26", "12/1/26", "12/24/26"}, "  /  /  "},
      {"MM/dd/yy", '/', {"01/05/26", "12/01/26", "12/24/26"}, "  /  /  "},
      {"d.M.yyyy", '.', {"5.1.2026", "1.12.2026", "24.12.2026"}, "  .  .    "},
      {"dd.MM.yyyy", '.', {"05.01.2026", "01.12.2026", "24.12.2026"}, "  .  .    "},
      {"d/M/yy", '/', {"5/1/26", "1/12/26", "24/12/26"}, "  /  /  "},
      {"d-M-yyyy", '-', {"5-1-2026", "1-12-2026", "24-12-2026"}, "  -  -    "},
      {"yyyy-MM-dd", '-', {"2026-01-05", "2026-12-01", "2026-12-24"}, "    .  .  "},
      {"yyyy-M-d", '-', {"2026-1-5", "2026-12-1", "2026-12-24"}, "    .  .  "},
      // Texts longer than the engine's date texts: cut only where the cut is still the date.
      {"d. M. yyyy", '.', {"5. 1. 2026", "1. 12. 2026", "24. 12. 2026"}, "  .  .    "},
      {"dd.MM.yyyy r.", '.', {"05.01.2026", "01.12.2026", "24.12.2026"}, "  .  .    "},
  };
  dir_.Write("daten.dbf", RawTable(0x03, {{"DATUM", 'D', 8}},
                                   {" 20260105", " 20261201", " 20261224", "         "}));
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    UserDates user(c.format, c.separator);
    const std::vector<std::string> shown = {c.texts[0], c.texts[1], c.texts[2], c.blank};
    auto dbf = Open("DBDaten", "daten.dbf", {});
    EXPECT_EQ(Column(*dbf, "datum"), (std::vector<std::string>{c.texts[0], c.texts[1],
                                                               c.texts[2], RTrim(c.blank)}));
    dbf->Last();
    EXPECT_EQ(dbf->FieldGet("datum"), c.blank);
    dbf.reset();

    // The texts put into a new table, blank date included, as an independent reader sees them.
    std::string file = "neu" + std::to_string(++n) + ".dbf";
    auto written = Open("DBNeu", file, {"datum, D, 8, 0"});
    for (const std::string& text : shown) {
      AppendRow(*written, {{"datum", text}});
      EXPECT_EQ(written->FieldGet("datum"), text);
    }
    written.reset();
    EXPECT_EQ(apps_testing::DbfreadRows(dir_ / file, "DATUM", dir_ / "rows.txt"),
              (std::vector<std::string>{"2026-01-05", "2026-12-01", "2026-12-24", ""}));
  }
}

TEST_F(TableCommands, ACommandOnAClosedDatasetNamesItsOperation) {
  auto dbf = Make("DBMobilTel", "telstamm.dbf", kPhoneFields);
  struct Case {
    std::string operation;
    std::function<void()> run;
  };
  const Case cases[] = {
      {"Go", [&] { dbf->Go(1); }},
      {"ALock", [&] { dbf->ALock(); }},
      {"FindExact", [&] { dbf->FindExact("1"); }},
      {"AppendRec", [&] { dbf->AppendRec(); }},
  };
  for (const Case& c : cases) {
    try {
      c.run();
      ADD_FAILURE() << c.operation;
    } catch (const ETarazedError& e) {
      EXPECT_EQ(DbLastError, 1103) << c.operation;
      EXPECT_NE(std::string(e.what()).find("Database is not open [DBMobilTel." + c.operation + "]"),
                std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace tz
