#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"

namespace tz {
namespace {

// A shared table with a header of 322 bytes and records of 50: record n's region starts at
// 40000142h + (n - 1) * 50.
class Locks : public EngineTest {
 protected:
  Locks() : cwd_(dir_.path()) {
    SetErrorReporting(false);
    std::vector<RawField> fields;
    for (int i = 1; i <= 8; ++i) fields.push_back({"F" + std::to_string(i), 'C', 5});
    fields.push_back({"F9", 'C', 9});
    std::vector<std::string> records;
    for (int n = 1; n <= 6; ++n)
      records.push_back(" " + std::string(49, static_cast<char>('0' + n)));
    std::string bytes = RawTable(0x03, fields, records, 322);
    bytes.insert(321, 1, '\0');  // one byte of padding after the terminator
    path_ = dir_.Write("shared.dbf", bytes).string();
    Use("shared");
  }

  // What an independent program sees: for each byte offset, whether a POSIX lock on it is
  // refused (python3's fcntl.lockf; such locks conflict with ours).
  std::string Observe(const std::vector<uint64_t>& offsets) {
    std::string script =
        "import fcntl, sys\n"
        "f = open(sys.argv[1], 'r+b')\n"
        "out = ''\n"
        "for o in sys.argv[2:]:\n"
        "  try:\n"
        "    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, int(o))\n"
        "    fcntl.lockf(f, fcntl.LOCK_UN, 1, int(o)); out += '-'\n"
        "  except OSError: out += 'L'\n"
        "print(out)\n";
    std::vector<std::string> args = {"-c", script, path_};
    for (uint64_t o : offsets) args.push_back(std::to_string(o));
    platform::ChildProcess python("/usr/bin/python3", args);
    python.CloseInput();
    std::string seen = python.ReadLine();
    python.Wait();
    return seen;
  }

  static uint64_t Region(int n) { return 0x40000142 + static_cast<uint64_t>(n - 1) * 50; }

  platform::TempDir dir_;
  ScopedCwd cwd_;
  std::string path_;
};

TEST_F(Locks, RecordRegionsAsAnotherProgramSeesThem) {
  EXPECT_EQ(Region(1), 0x40000000u + 322);
  GO(3);
  ASSERT_TRUE(RLock());
  EXPECT_EQ(
      Observe({Region(3) - 1, Region(3), Region(3) + 49, Region(3) + 50, 0x40000000, 0x40000001}),
      "-LL---");
  Unlock();
  ASSERT_TRUE(ALock());
  EXPECT_EQ(Observe({0x40000000, 0x40000001, 0x40000002, Region(1)}), "-L--");
  Unlock();
  EXPECT_EQ(Observe({0x40000001, Region(3)}), "--");
}

TEST_F(Locks, TwoProcesses) {
  platform::ChildProcess other(TABLE_HOLDER, {});
  auto ask = [&](const std::string& command) {
    EXPECT_TRUE(other.WriteLine(command));
    return other.ReadLine();
  };
  ASSERT_EQ(ask("use " + path_), "ok");
  ASSERT_EQ(ask("go 5"), "ok");
  EXPECT_EQ(ask("rlock"), "true");
  GO(5);
  EXPECT_FALSE(RLock());  // the same record
  EXPECT_EQ(DbLastError, 0);
  GO(3);
  EXPECT_TRUE(RLock());  // a different one
  Unlock();
  EXPECT_EQ(ask("unlock"), "ok");
  EXPECT_EQ(ask("alock"), "true");
  EXPECT_FALSE(ALock());  // append lock against append lock
  GO(2);
  EXPECT_TRUE(RLock());  // a record lock does not touch the append byte
  Unlock();
  EXPECT_EQ(ask("unlock"), "ok");
  EXPECT_TRUE(ALock());
  Unlock();
  EXPECT_EQ(ask("go 5"), "ok");
  EXPECT_EQ(ask("rlock"), "true");
  GO(5);
  EXPECT_FALSE(RLock());
  other.Kill();  // the system drops the locks of a killed program
  EXPECT_TRUE(RLock());
}

TEST_F(Locks, TwoWorkAreasOfOneProgramBlockEachOther) {
  Select(2);
  Use("shared alias second");
  Select(1);
  GO(4);
  ASSERT_TRUE(RLock());
  Select(2);
  GO(4);
  EXPECT_FALSE(RLock());
  GO(5);
  EXPECT_TRUE(RLock());
  CloseDatabase();  // closing the second area leaves the first one's locks
  EXPECT_EQ(Observe({Region(4), Region(5)}), "L-");
  Select(1);
  EXPECT_TRUE(IsLocked(4));
}

TEST_F(Locks, BookkeepingOfOneWorkArea) {
  GO(2);
  ASSERT_TRUE(RLock());
  EXPECT_TRUE(RLock());  // held already: no second node
  EXPECT_EQ(SelectedArea()->LockCount, 1);
  EXPECT_EQ(SelectedArea()->LockState, 3);
  EXPECT_FALSE(ALock());  // record locks held
  EXPECT_EQ(DbLastError, 0);
  Unlock();
  ASSERT_TRUE(ALock());
  EXPECT_TRUE(ALock());
  GO(3);
  EXPECT_FALSE(RLock());  // the append lock is held
  Unlock();
  EXPECT_EQ(SelectedArea()->LockState, 0);

  DbMaxRecordLocks = 2;
  GO(1);
  RLock();
  GO(2);
  RLock();
  EXPECT_TRUE(RLock());  // at the limit, but held already
  GO(3);
  EXPECT_FALSE(RLock());
  EXPECT_EQ(DbLastError, 212);
  EXPECT_EQ(TakeErrorContext(), "Tarazed record lock limit exceeded [RLock]");
  DbMaxRecordLocks = 0;
  RLock();  // 1, 2, 3 held, 3 the newest
  struct Case {
    int32_t which;
    bool answer;
    uint16_t error;
    std::vector<int32_t> left;
  } cases[] = {
      {-2, true, 0, {1, 2}}, {5, false, 220, {1, 2}}, {-1, true, 0, {2}},
      {-4, false, 220, {2}}, {2, true, 0, {}},        {-1, true, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnlockRec(c.which), c.answer) << c.which;
    EXPECT_EQ(DbLastError, c.error) << c.which;
    EXPECT_EQ(SelectedArea()->LockList, c.left) << c.which;
  }
  EXPECT_EQ(SelectedArea()->LockState, 0);
  UnlockRec(7);
  EXPECT_EQ(DbErrorContext, "Record not locked. [UnlockRec(7)]");
  EXPECT_TRUE(ui_.Messages().empty());  // none of it is reported
}

TEST_F(Locks, TheBlankRecordHasNoLock) {
  GoBottom();
  Skip(1);
  EXPECT_FALSE(RLock());
  EXPECT_TRUE(SelectedArea()->LockList.empty());
  dir_.Write("empty.dbf", RawTable(0x03, {{"A", 'C', 3}}, {}));
  Select(2);
  Use("empty");
  EXPECT_FALSE(RLock());  // "record 0" would cover the guard and append bytes
  EXPECT_EQ(Observe({0x40000000, 0x40000001}), "--");
}

TEST_F(Locks, RetriesPumpEventsAndGiveUpWhenTheProgramEnds) {
  platform::ChildProcess other(FILE_HOLDER, {"lock", path_, std::to_string(Region(2)), "1"});
  ASSERT_EQ(other.ReadLine(), "ok");
  DbLockRetries = 2;
  GO(2);
  EXPECT_FALSE(RLock());
  EXPECT_EQ(ui_.PumpCount(), 2);  // one wait after each of the first two attempts
  int rounds = 0;
  DbLockRetryProc = [&] { return ++rounds < 2; };
  ui_.Clear();
  EXPECT_FALSE(RLock());
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(ui_.PumpCount(), 4);
  ui_.Clear();
  ui_.SetTerminating(true);
  EXPECT_FALSE(RLock());
  EXPECT_EQ(ui_.PumpCount(), 1);
  EXPECT_EQ(rounds, 2);  // the program ends: no new round is offered
}

TEST_F(Locks, WithoutNetworkLockingEveryLockIsBookkeepingOnly) {
  CloseDatabase();
  DbNetworkLocking = false;
  Use("shared");
  EXPECT_TRUE(SelectedArea()->Exclusive);
  GO(2);
  EXPECT_TRUE(RLock());
  EXPECT_TRUE(IsLocked(2));
  EXPECT_TRUE(LockFileByte());
  CloseDatabase();
  DbNetworkLocking = true;
  platform::File file;
  ASSERT_EQ(file.Open(path_, platform::kModeReadWriteShared), 0);
  EXPECT_EQ(file.LockRange(Region(2), 50), 0);
}

}  // namespace
}  // namespace tz
