#include "tables/engine/dbf4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"

namespace tz {
namespace {

class WorkAreasTest : public EngineTest {
 protected:
  WorkAreasTest() : cwd_(dir_.path()) {
    SetErrorReporting(false);
    dir_.Write("telstamm.dbf",
               RawTable(0x03, {{"HERSTELLER", 'C', 8}, {"DATUM", 'D', 8}, {"ANZ", 'N', 3}},
                        {" Nokia   20261209  1", " Siemens 20250101 22"}));
    dir_.Write("data/exclusive_log.dbf", RawTable(0x03, {{"A", 'C', 1}}, {" x", " y"}));
    dir_.Write("empty.dbf", RawTable(0x03, {{"A", 'C', 3}, {"B", 'N', 4, 1}}, {}));
  }

  std::string Path(const std::string& name) { return (dir_.path() / name).string(); }

  platform::TempDir dir_;
  ScopedCwd cwd_;
};

TEST_F(WorkAreasTest, TheUseText) {
  struct Case {
    const char* text;
    uint16_t error;
    const char* file;  // below the folder
    const char* alias;
    bool exclusive;
  } cases[] = {
      {"telstamm exclusive alias PHONES", 0, "telstamm.DBF", "PHONES", true},
      {"  TELSTAMM.DBF  ", 0, "TELSTAMM.DBF", "TELSTAMM", false},
      {"telstamm Exclusive", 0, "telstamm.DBF", "TELSTAMM", true},
      {"telstamm alias ph EXCLUSIVE", 0, "telstamm.DBF", "PH", true},
      {"telstamm ALIAS phones", 0, "telstamm.DBF", "PHONES", false},
      {"data/exclusive_log", 0, "data/exclusive_log.DBF", "EXCLUSIVE_LOG", false},
      {"data\\Exclusive_Log exclusive", 0, "data/Exclusive_Log.DBF", "EXCLUSIVE_LOG", true},
      {"telstamm exclusively", 2, nullptr, nullptr, false},
      {"missing", 2, nullptr, nullptr, false},
      {"telstamm LINKED LIST", 1101, nullptr, nullptr, false},
  };
  for (const Case& c : cases) {
    Select(1);
    Use(c.text);
    EXPECT_EQ(DbLastError, c.error) << c.text;
    if (c.error != 0) {
      EXPECT_EQ(SelectedArea(), nullptr) << c.text;
      continue;
    }
    ASSERT_NE(SelectedArea(), nullptr) << c.text;
    EXPECT_EQ(DbfName(), Path(c.file)) << c.text;
    EXPECT_EQ(SelectedArea()->Alias, c.alias) << c.text;
    EXPECT_EQ(SelectedArea()->Exclusive, c.exclusive) << c.text;
    EXPECT_EQ(RecCount(), 2) << c.text;
  }
  Use("");  // an empty text only closes
  EXPECT_EQ(SelectedArea(), nullptr);
  EXPECT_EQ(DbLastError, 0);
  Use("missing");
  EXPECT_EQ(TakeErrorContext(), "Failure to open " + Path("missing.DBF") + " [USE/OpenDbf]");
  Use("telstamm virtual file");
  EXPECT_EQ(TakeErrorContext(), "[USE(telstamm virtual file,<@Buffer>,<size>)]");
}

TEST_F(WorkAreasTest, AliasesAndShareModesAcrossWorkAreas) {
  Select(1);
  Use("telstamm");
  Select(2);
  Use("./TelStamm");
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(TakeErrorContext(), "Alias name \"TELSTAMM\" already in use. [USE]");
  EXPECT_EQ(SelectedArea(), nullptr);  // the second area is free again
  Use("telstamm alias second");
  EXPECT_EQ(DbLastError, 0);
  Select(3);
  Use("telstamm exclusive alias third");  // two shared opens are in the way
  EXPECT_EQ(DbLastError, 32);
  EXPECT_EQ(SelectedArea(), nullptr);
  CloseAll();
  EXPECT_EQ(GetWorkArea(), 1);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(WorkAreas[n], nullptr);
}

TEST_F(WorkAreasTest, CallerBuffers) {
  std::vector<char> buffer(1 + 9 + 11 + 4);
  Use("telstamm", buffer.data(), buffer.size());
  ASSERT_EQ(DbLastError, 0);
  EXPECT_EQ(SelectedArea()->FieldValues, buffer.data());
  EXPECT_FALSE(SelectedArea()->OwnsFieldValues);
  EXPECT_EQ(std::string(buffer.data() + 2, 8), "Nokia   ");

  Use("telstamm", buffer.data(), buffer.size() + 1);
  EXPECT_EQ(DbLastError, 266);
  EXPECT_EQ(TakeErrorContext(),
            "Database record/buffer size mismatch: telstamm [USE()]\n\rRecord Size=25, Buffer "
            "Size=26");
  EXPECT_EQ(SelectedArea(), nullptr);
  Use("telstamm", buffer.data(), 0);
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(TakeErrorContext(), "Buffer is NIL or size is zero, attempting to open telstamm [USE]");
}

TEST_F(WorkAreasTest, SelectingWorkAreas) {
  Select(5);
  EXPECT_EQ(GetWorkArea(), 5);
  struct Case {
    uint8_t n;
    const char* context;
  } cases[] = {{34, "Invalid workarea selected = [Select(34)]"},
               {255, "Invalid workarea selected = [Select(255)]"}};
  for (const Case& c : cases) {
    Select(c.n);
    EXPECT_EQ(DbLastError, 220);
    EXPECT_EQ(TakeErrorContext(), c.context);
    EXPECT_EQ(GetWorkArea(), 5);
  }
  RecCount();
  EXPECT_EQ(DbLastError, 215);
  EXPECT_EQ(TakeErrorContext(), "No database in use [RecCount]  WorkArea = 5");
  for (int n = 1; n <= 33; ++n) {
    Select(0);
    ASSERT_EQ(GetWorkArea(), n);
    Use("telstamm alias A" + std::to_string(n));
    ASSERT_EQ(DbLastError, 0);
  }
  Select(0);
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(TakeErrorContext(), "No free workarea available [Select(0)]");
  EXPECT_EQ(GetWorkArea(), 33);
  Select(7);
  CloseDatabase();
  Select(0);
  EXPECT_EQ(GetWorkArea(), 7);
}

TEST_F(WorkAreasTest, AnEmptyTableOpensOnTheBlankRecord) {
  Use("empty");
  ASSERT_EQ(DbLastError, 0);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(RecCount(), 0);
  char* a = FieldAddress(1);
  EXPECT_EQ(std::string(a, 4), std::string("\x03   ", 4));
  double b;
  std::memcpy(&b, FieldAddress(2), sizeof b);
  EXPECT_EQ(b, 0.0);
  Skip(1);
  EXPECT_EQ(DbLastError, 212);
  EXPECT_EQ(TakeErrorContext(), "Database \"" + Path("empty.DBF") + "\" is past EOF. [SKIP]");
  GO(1);
  EXPECT_EQ(TakeErrorContext(),
            "Invalid record number = 1 Database \"" + Path("empty.DBF") + "\" [GO]");
}

TEST_F(WorkAreasTest, FieldAccess) {
  Use("telstamm");
  EXPECT_EQ(FieldCount(), 3);
  EXPECT_EQ(Field(1), "HERSTELLER");
  EXPECT_EQ(FieldNo("hersteller   "), 1);
  EXPECT_EQ(FieldNo("anz"), 3);
  EXPECT_EQ(FieldNo("none"), 0);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(FieldType(2), 'D');
  EXPECT_EQ(FieldLen(2), 8);
  DbCentury = true;
  EXPECT_EQ(FieldLen(2), 10);
  EXPECT_EQ(FieldLen(1), 8);
  EXPECT_EQ(FieldDec(3), 0);
  EXPECT_EQ(RecSize(), 20);
  EXPECT_EQ(FieldAddress(0), SelectedArea()->FieldValues);
  EXPECT_EQ(FieldAddress(2), SelectedArea()->FieldValues + 1 + 9);
  struct Case {
    std::function<void()> call;
    const char* context;
  } cases[] = {
      {[] { FieldType(7); }, "Invalid field number. [FieldType(7)]"},
      {[] { Field(0); }, "Invalid field number. [Field(0)]"},
      {[] { FieldLen(4); }, "Invalid field number. [FieldLen(4)]"},
      {[] { FieldDec(-1); }, "Invalid field number. [FieldDec(-1)]"},
      {[] { FieldAddress(4); }, "Invalid field number. [FieldAddress(4)]"},
  };
  for (const Case& c : cases) {
    DbLastError = 0;
    c.call();
    EXPECT_EQ(DbLastError, 220);
    EXPECT_EQ(TakeErrorContext(), c.context);
  }
  ClearRecord();
  EXPECT_EQ(std::string(FieldAddress(1) + 1, 8), "        ");
  EXPECT_EQ(RecNo(), 1);  // clearing does not move
}

TEST_F(WorkAreasTest, ReopeningInTheOtherShareMode) {
  Use("telstamm");
  EXPECT_EQ(ReopenDbf(true), 0);
  EXPECT_TRUE(SelectedArea()->Exclusive);
  {
    // Exclusive now: another open of ours is refused.
    platform::ChildProcess other(FILE_HOLDER, {"open", "66", Path("telstamm.dbf")});
    EXPECT_EQ(other.ReadLine(), "error 32");
  }
  // A range lock taken while exclusive stays held through the switch back.
  ASSERT_EQ(SelectedArea()->Table.File.LockRange(0x40000001, 1), 0);
  EXPECT_EQ(ReopenDbf(false), 0);
  {
    platform::ChildProcess other(FILE_HOLDER, {"lock", Path("telstamm.dbf"), "1073741825", "1"});
    EXPECT_EQ(other.ReadLine(), "error 33");
  }
  platform::ChildProcess holder(FILE_HOLDER, {"open", "66", Path("telstamm.dbf")});
  ASSERT_EQ(holder.ReadLine(), "ok");
  EXPECT_EQ(ReopenDbf(true), 32);
  EXPECT_FALSE(SelectedArea()->Exclusive);

  Select(2);
  Use("empty exclusive");
  DbReopenExclusive = false;
  EXPECT_EQ(ReopenDbf(false), 5);
  EXPECT_TRUE(SelectedArea()->Exclusive);
  DbReopenExclusive = true;
  EXPECT_EQ(ReopenDbf(false), 0);
  EXPECT_FALSE(SelectedArea()->Exclusive);
}

TEST_F(WorkAreasTest, TheIndexFlagIsKeptInTheHeader) {
  Use("telstamm");
  EXPECT_FALSE(GetMdxFlag());
  SetMdxFlag(true);
  EXPECT_TRUE(GetMdxFlag());
  CloseDatabase();
  EXPECT_EQ(platform::TempDir::Read(Path("telstamm.dbf"))[28], 1);
  Use("telstamm");
  EXPECT_TRUE(GetMdxFlag());
  CloseDatabase();
  EXPECT_FALSE(GetMdxFlag());
}

void SwapAB(char* buffer, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (buffer[i] == 'a')
      buffer[i] = 'b';
    else if (buffer[i] == 'b')
      buffer[i] = 'a';
  }
}

TEST_F(WorkAreasTest, TranslationsAndTheOemSwitch) {
  dir_.Write("oem.dbf", RawTable(0x03, {{"T", 'C', 4}},
                                 {" M\x84"
                                  "b "}));
  UseWithTables("oem", nullptr, 0, SwapAB, SwapAB);
  EXPECT_EQ(std::string(FieldAddress(1) + 1, 4),
            "M\xE4"
            "a ");
  CloseDatabase();
  DbAnsiTables = true;
  Use("oem");  // a table in ANSI: no conversion, no translation
  EXPECT_EQ(std::string(FieldAddress(1) + 1, 4),
            "M\x84"
            "b ");
  EXPECT_EQ(SelectedArea()->Table.FromFile, nullptr);
}

std::vector<std::string> g_memo_calls;
void FakeOpenMemo(const std::string& name) {
  g_memo_calls.push_back("open " + name);
  if (name.find("fails") != std::string::npos) DbLastError = 2;
}
void FakeCloseMemo() {
  g_memo_calls.push_back("close");
}

TEST_F(WorkAreasTest, MemoFilesOpenThroughTheMemoUnitWhenItIsThere) {
  std::string with_memo = RawTable(0x8B, {{"T", 'C', 2}, {"NOTIZ", 'M', 10}}, {" ab         1"});
  dir_.Write("memo.dbf", with_memo);
  dir_.Write("fails.dbf", with_memo);
  MemoDriver = TMemoDriver();
  Use("memo");  // no memo unit: the table opens without its memo file
  EXPECT_EQ(DbLastError, 0);
  CloseDatabase();
  g_memo_calls.clear();
  MemoDriver.OpenMemofile = FakeOpenMemo;
  MemoDriver.CloseMemofile = FakeCloseMemo;
  Use("memo");
  CloseDatabase();
  Use("fails");
  EXPECT_EQ(DbLastError, 2);
  EXPECT_EQ(TakeErrorContext(), "Problem opening memo file [USE(fails,<@Buffer>,0)]");
  EXPECT_EQ(SelectedArea(), nullptr);
  EXPECT_EQ(g_memo_calls, (std::vector<std::string>{"open " + Path("memo"), "close",
                                                    "open " + Path("fails"), "close"}));
}

TEST_F(WorkAreasTest, AHaltClosesTheTablesSoAppendedRecordsAreCounted) {
  Use("telstamm exclusive");
  TDbfTable& t = SelectedArea()->Table;
  std::string record = " Motorola20260101  3";
  t.Record.assign(record.begin(), record.end());
  ASSERT_TRUE(AppendDbfRecord(t));
  EXPECT_EQ(platform::TempDir::Read(Path("telstamm.dbf"))[4], 2);  // not yet in the header
  SetErrorReporting(true);
  EXPECT_THROW(SetDbError(1280, "[test]"), platform::HaltRequested);
  EXPECT_EQ(SelectedArea(), nullptr);
  std::string file = platform::TempDir::Read(Path("telstamm.dbf"));
  EXPECT_EQ(file[4], 3);
  EXPECT_EQ(file.back(), '\x1A');
}

TEST_F(WorkAreasTest, TheEngineEndClosesEverything) {
  Use("telstamm exclusive");
  Select(34);  // refused; the area stays 1
  Select(2);
  Use("empty");
  EndTarazed();
  for (int n = 1; n <= kWorkAreaSlots; ++n) EXPECT_EQ(WorkAreas[n], nullptr);
  EXPECT_FALSE(DbEngineActive);
  StartTarazed();
  Use("telstamm exclusive");  // nothing holds the file any more
  EXPECT_EQ(DbLastError, 0);
}

}  // namespace
}  // namespace tz
