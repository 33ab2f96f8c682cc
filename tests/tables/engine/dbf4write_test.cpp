#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "engine_test_support.h"
#include "platform/files.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"

namespace tz {
namespace {

// NAME C6, DATUM D: three records, the second marked deleted; the third's date lies outside
// the century window of two-digit years.
class Writing : public EngineTest {
 protected:
  Writing() : cwd_(dir_.path()) {
    SetErrorReporting(false);
    path_ = dir_.Write("w.dbf", RawTable(0x03, {{"NAME", 'C', 6}, {"DATUM", 'D', 8}},
                                         {" Anna  20261209", "*Bernd 20250101", " Carl  19261209"}))
                .string();
    Use("w");
  }

  static void SetName(const std::string& name) {
    char* slot = FieldAddress(1);
    std::memset(slot + 1, ' ', 6);
    std::memcpy(slot + 1, name.data(), name.size());
  }
  std::string File() const { return platform::TempDir::Read(path_); }
  std::string Records() const { return File().substr(97); }

  platform::TempDir dir_;
  ScopedCwd cwd_;
  std::string path_;
};

TEST_F(Writing, AppendNeedsTheAppendLockOnASharedTable) {
  std::string before = File();
  ClearRecord();
  SetName("Dora");
  Append();
  EXPECT_EQ(DbLastError, 5);
  EXPECT_EQ(TakeErrorContext(), "File must be locked to append: " + DbfName() + " [APPEND]");
  EXPECT_EQ(File(), before);

  ASSERT_TRUE(ALock());
  SetName("Dora");
  Append();
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(RecCount(), 4);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_FALSE(dEOF());
  EXPECT_FALSE(dBOF());
  Unlock();
  CloseDatabase();
  EXPECT_EQ(File()[4], 4);
  EXPECT_EQ(Records(), " Anna  20261209*Bernd 20250101 Carl  19261209 Dora          \x1A");
}

TEST_F(Writing, ReplaceNeedsTheRecordLockAndKeepsWhatWasNotChanged) {
  GO(3);
  ASSERT_TRUE(ALock());
  SetName("Clara");
  Replace();
  EXPECT_EQ(DbLastError, 1200);
  EXPECT_EQ(TakeErrorContext(), "Record #3 in " + DbfName() + " [REPLACE]");
  Unlock();
  ASSERT_TRUE(RLock());
  SetName("Clara");
  Replace();
  EXPECT_EQ(DbLastError, 0);
  // The date was never touched: it keeps 1926, which two-digit years would have made 2026.
  EXPECT_EQ(Records().substr(30), " Clara 19261209\x1A");
  EXPECT_EQ(std::string(FieldAddress(2) + 1, 8), "12/09/26");
}

TEST_F(Writing, DeleteAndRecallNeedARecordLock) {
  GO(1);
  ASSERT_TRUE(ALock());
  DeleteRec();
  EXPECT_EQ(DbLastError, 1200);
  EXPECT_EQ(TakeErrorContext(), DbfName() + " Record not locked [DeleteRec]");
  RecallRec();
  EXPECT_EQ(TakeErrorContext(), "Record not locked [RecallRec]");
  Unlock();
  ASSERT_TRUE(RLock());
  DeleteRec();
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(FieldAddress(0)[0], 1);
  GO(2);
  ASSERT_TRUE(RLock());
  RecallRec();
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(Records(), "*Anna  20261209 Bernd 20250101 Carl  19261209\x1A");
}

TEST_F(Writing, NothingIsWrittenOnTheBlankRecord) {
  GoBottom();
  Skip(1);
  ASSERT_TRUE(dEOF());
  // Another program appends record 4 meanwhile: this area still stands on its blank record.
  platform::ChildProcess python(
      "/usr/bin/python3",
      {"-c",
       "import sys\n"
       "f = open(sys.argv[1], 'r+b'); f.seek(-1, 2); f.write(b' Emil  20260303\\x1a'); f.close()\n"
       "print('ok')",
       path_});
  ASSERT_EQ(python.ReadLine(), "ok");
  python.Wait();
  std::string before = File();
  Replace();
  EXPECT_EQ(DbLastError, 212);
  EXPECT_EQ(TakeErrorContext(), "Database \"" + DbfName() + "\" is at EOF. [REPLACE]");
  DeleteRec();
  EXPECT_EQ(DbLastError, 0);  // nothing, and nothing reported
  RecallRec();
  EXPECT_EQ(DbLastError, 1103);
  EXPECT_EQ(TakeErrorContext(), DbfName() + " at EOF [RecallRec]");
  Poke("X", 1, 4);
  EXPECT_EQ(File(), before);
  EXPECT_EQ(RecCount(), 4);
}

TEST_F(Writing, PeekAndPoke) {
  std::string text;
  Peek(1, 2, text);
  EXPECT_EQ(text, "Bernd ");
  Peek(0, 2, text);
  EXPECT_EQ(text, "*");
  Peek(1, 4, text);
  EXPECT_EQ(text, "");
  Peek(3, 1, text);
  EXPECT_EQ(text, "");
  Poke("Xaver!!", 1, 2);
  EXPECT_EQ(DbLastError, 1200);
  EXPECT_EQ(TakeErrorContext(), "Record not locked [Poke(Xaver!!,1,2)]");
  GO(2);
  ASSERT_TRUE(RLock());
  DbLastError = 1200;
  Poke("Xaver!!", 1, 2);  // cut to the field
  EXPECT_EQ(DbLastError, 0);  // the write's result replaces the earlier error
  Poke(" ", 0, 2);
  Poke("", 2, 2);  // nothing
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(Records().substr(15, 15), " Xaver!20250101");
  EXPECT_EQ(std::string(FieldAddress(1) + 1, 6), "Bernd ");  // the buffers are not touched
}

TEST_F(Writing, ExclusiveTablesAndNoNetworkLockingNeedNoLocks) {
  for (bool exclusive : {true, false}) {
    CloseDatabase();
    DbNetworkLocking = exclusive;
    Use(exclusive ? "w exclusive" : "w");
    GO(1);
    SetName(exclusive ? "Ex" : "Off");
    Replace();
    EXPECT_EQ(DbLastError, 0);
    Append();
    EXPECT_EQ(DbLastError, 0);
    EXPECT_TRUE(RLock());
  }
  DbNetworkLocking = true;
  CloseDatabase();
  EXPECT_EQ(File()[4], 5);
}

// A write reaches the disk when the caller commits, with the header that counts it: a shared
// table's header is current after each append and is only flushed, an exclusive table's is
// written first. Appends flush nothing by themselves.
TEST_F(Writing, CommitFlushesTheTableWithTheHeaderThatCountsItsRecords) {
  struct Flush {
    std::string path;
    int header_count;  // the header's count on the disk at the flush
  };
  std::vector<Flush> flushes;
  struct ObserverScope {
    explicit ObserverScope(std::function<void(const std::string&)> f) {
      platform::SetFlushObserver(std::move(f));
    }
    ~ObserverScope() { platform::SetFlushObserver(nullptr); }
  } observe([&](const std::string& path) { flushes.push_back({path, File()[4]}); });
  struct Case {
    const char* use;
    int count_before_commit, count;
  };
  const Case cases[] = {{"w", 4, 4}, {"w exclusive", 4, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.use);
    CloseDatabase();
    flushes.clear();
    Use(c.use);
    ASSERT_TRUE(ALock());
    ClearRecord();
    SetName("Dora");
    Append();
    ASSERT_EQ(DbLastError, 0);
    EXPECT_TRUE(flushes.empty()) << "the append flushed by itself";
    EXPECT_EQ(File()[4], c.count_before_commit);
    Commit();
    EXPECT_EQ(DbLastError, 0);
    ASSERT_EQ(flushes.size(), 1u);
    EXPECT_TRUE(flushes[0].path.ends_with("/w.dbf")) << flushes[0].path;
    EXPECT_EQ(flushes[0].header_count, c.count);
    EXPECT_EQ(File().back(), '\x1A');
    Unlock();
  }
  CloseDatabase();
  Commit();
  EXPECT_EQ(DbLastError, 215);
}

TEST_F(Writing, RepositionAfterWriteFindsAVisibleRecord) {
  SetIgnoreDel(true);
  GO(1);
  EXPECT_FALSE(RepositionAfterWrite());
  RLock();
  DeleteRec();
  EXPECT_TRUE(RepositionAfterWrite());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(SelectedArea()->LockState, 0);  // the locks went
  RLock();
  DeleteRec();
  EXPECT_TRUE(RepositionAfterWrite());  // every record is deleted now: the blank record
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
}

TEST_F(Writing, ClosingASharedTableNeverLosesAnotherProgramsRecord) {
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetName("Ours");
  Append();
  Unlock();
  platform::ChildProcess other(TABLE_HOLDER, {});
  ASSERT_TRUE(other.WriteLine("use " + path_));
  ASSERT_EQ(other.ReadLine(), "ok");
  ASSERT_TRUE(other.WriteLine("soak 1 Them"));
  ASSERT_EQ(other.ReadLine(), "ok");
  CloseDatabase();  // the other program still has the table open
  std::string file = File();
  EXPECT_EQ(file[4], 5);
  EXPECT_EQ(file.substr(97 + 3 * 15),
            " Ours          "
            " Them0         \x1A");
  ASSERT_TRUE(other.WriteLine("close"));
  ASSERT_EQ(other.ReadLine(), "ok");
  EXPECT_EQ(File(), file);
}

TEST_F(Writing, EveryAppendToASharedTableIsCountedInTheHeaderAtOnce) {
  CloseDatabase();
  std::string file = File();
  file.replace(1, 3, "\x63\x01\x01");  // last updated 1999-01-01
  file.replace(16, 12, "OTHER-PROGRA");
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  const std::string today = {static_cast<char>(year - 1900), static_cast<char>(month),
                             static_cast<char>(day)};
  for (bool exclusive : {false, true}) {
    dir_.Write("w.dbf", file);
    Use(exclusive ? "w exclusive" : "w");
    ASSERT_TRUE(ALock());
    for (const char* name : {"Dora", "Emil"}) {
      ClearRecord();
      SetName(name);
      Append();
      ASSERT_EQ(DbLastError, 0);
    }
    // Still open and locked: what another program reads now.
    std::string now = File();
    EXPECT_EQ(now.substr(97 + 3 * 15), " Dora           Emil          \x1A") << exclusive;
    EXPECT_EQ(now.substr(16, 13), file.substr(16, 13)) << exclusive;
    if (exclusive) {
      EXPECT_EQ(now.substr(0, 8), file.substr(0, 8));  // the header waits for the close
    } else {
      EXPECT_EQ(now.substr(0, 8), "\x03" + today + std::string("\x05\0\0\0", 4));
      platform::ChildProcess python(
          "/usr/bin/python3",
          {"-c",
           "import sys, dbfread\n"
           "print(' '.join(r['NAME'] for r in dbfread.DBF(sys.argv[1])))\n",
           path_});
      python.CloseInput();
      EXPECT_EQ(python.ReadLine(), "Anna Carl Dora Emil");
      EXPECT_EQ(python.Wait(), 0);
    }
    CloseDatabase();
    EXPECT_EQ(File().substr(0, 8), "\x03" + today + std::string("\x05\0\0\0", 4)) << exclusive;
  }
}

TEST_F(Writing, AnExclusiveAppendGoesRightAfterTheLastRecordTheFileHolds) {
  CloseDatabase();
  std::string file = File();
  std::string header = file.substr(0, 97);
  std::string records = file.substr(97, 3 * 15);
  struct Case {
    const char* what;
    int header_count;
    std::string records;
    const char* names;  // as python3-dbfread reads them afterwards, deleted ones last
  } cases[] = {
      {"a writer died before it wrote the header", 1, records + " Emil  20260303 Fr",
       "Anna Carl Emil Dora | Bernd"},
      {"the file was cut short", 200, records.substr(0, 35), "Anna Dora | Bernd"},
  };
  for (const Case& c : cases) {
    std::string bytes = header + c.records;
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(c.header_count >> (8 * i));
    dir_.Write("w.dbf", bytes);
    Use("w exclusive");
    ClearRecord();
    SetName("Dora");
    Append();
    ASSERT_EQ(DbLastError, 0) << c.what;
    CloseDatabase();
    platform::ChildProcess python(
        "/usr/bin/python3",
        {"-c",
         "import sys, dbfread\n"
         "t = dbfread.DBF(sys.argv[1], load=True)\n"
         "print(' '.join([r['NAME'] for r in t.records] + ['|'] + [r['NAME'] for r in t.deleted]))\n",
         path_});
    python.CloseInput();
    EXPECT_EQ(python.ReadLine(), c.names) << c.what;
    EXPECT_EQ(python.Wait(), 0);
    EXPECT_EQ(File().back(), '\x1A') << c.what;
  }
}

std::vector<std::string> g_index_calls;

TEST_F(Writing, IndexKeysFollowAppendsAndReplacesInsideAWriteBracket) {
  g_index_calls.clear();
  IndexDriver.HasIndexOrder = [] { return true; };
  IndexDriver.SetLockSemaphoreProc = [](int begin) {
    g_index_calls.push_back(begin ? "lock(" : ")");
  };
  IndexDriver.AppendNewKey = [] { g_index_calls.push_back("append key"); };
  IndexDriver.SaveKeysBeforeReplace = [] {
    // The record holds its stored values while the old keys are taken.
    g_index_calls.push_back("save " + std::string(FieldAddress(1) + 1, 6));
  };
  IndexDriver.UpdateKeysAfterReplace = [] {
    g_index_calls.push_back("update " + std::string(FieldAddress(1) + 1, 6));
  };
  IndexDriverLinked = true;
  ASSERT_TRUE(ALock());
  Append();
  Unlock();
  GO(1);
  ASSERT_TRUE(RLock());
  SetName("Anja");
  Replace();
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(g_index_calls, (std::vector<std::string>{"lock(", "append key", ")", "lock(",
                                                     "save Anna  ", "update Anja  ", ")"}));
  IndexDriverLinked = false;
}

TEST_F(Writing, TwoProgramsAppendingAThousandRecords) {
  CloseDatabase();
  platform::ChildProcess a(TABLE_HOLDER, {}), b(TABLE_HOLDER, {});
  for (auto* p : {&a, &b}) {
    ASSERT_TRUE(p->WriteLine("use " + path_));
    ASSERT_EQ(p->ReadLine(), "ok");
  }
  ASSERT_TRUE(a.WriteLine("soak 500 X"));
  ASSERT_TRUE(b.WriteLine("soak 500 Y"));
  EXPECT_EQ(a.ReadLine(60000), "ok");
  EXPECT_EQ(b.ReadLine(60000), "ok");
  for (auto* p : {&a, &b}) {
    ASSERT_TRUE(p->WriteLine("close"));
    EXPECT_EQ(p->ReadLine(), "ok");
  }
  std::string file = File();
  ASSERT_EQ(file.size(), 97u + 1003 * 15 + 1);
  EXPECT_EQ(static_cast<uint8_t>(file[4]) | static_cast<uint8_t>(file[5]) << 8, 1003);
  platform::ChildProcess python(
      "/usr/bin/python3", {"-c",
                           "import sys, dbfread\n"
                           "names = [r['NAME'] for r in dbfread.DBF(sys.argv[1])]\n"
                           "a = sorted(int(n[1:]) for n in names if n.startswith('X'))\n"
                           "b = sorted(int(n[1:]) for n in names if n.startswith('Y'))\n"
                           "print(len(names), a == list(range(500)), b == list(range(500)))\n",
                           path_});
  python.CloseInput();
  EXPECT_EQ(python.ReadLine(), "1002 True True");  // dbfread leaves out the deleted record
}

}  // namespace
}  // namespace tz
