// Semaphore files between two real processes sharing one table and its index: logins and
// logouts, the reset of a file left from an earlier day, read brackets, a writer waiting for
// the readers, and what a station killed in the middle leaves to the others.
#include "platform/clock.h"
#include "platform/testing/child_process.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// What a station killed right after these commands leaves in the record: logins, activity.
struct DeadStation {
  const char* commands;
  int logins, activity;
};
const DeadStation kDeadStations[] = {
    {"", 2, 0},        // logged in only
    {"read 1", 2, 1},  // inside a read bracket
    {"lock 1", 2, 1},  // inside a write bracket
};

// Logins and activity, the first two bytes of the record.
std::string Bytes2(int logins, int activity) {
  return std::string{static_cast<char>(logins), static_cast<char>(activity)};
}

class SemaphoreTest : public IndexTest {
 protected:
  void SetUp() override {
    table_ = OpenTable("shared.dbf", kTelFields,
                       {"3         Nokia", "1         Siemens", "2         Ericsson"});
    ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}}, ""));
    CloseAll();
    semaphore_ = (dir_ / "shared.@S@").string();
  }
  // The semaphore record: logins, activity, change counter.
  std::string Record() const { return platform::TempDir::Read(semaphore_); }
  // Its logins and activity.
  std::string Stations() const { return Record().substr(0, 2); }
  // A station that opens the table, runs the case's commands and is killed.
  void Die(const DeadStation& dead) const {
    Station station;
    ASSERT_EQ(station.Run("open " + table_), "ok");
    if (*dead.commands) {
      ASSERT_EQ(station.Run(dead.commands), "ok");
    }
    station.Kill();
  }
  void OpenShared() {
    Use(table_);
    ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  }
  void DateYesterday() const { DateEarlierDay("shared.@S@"); }

  std::string table_, semaphore_;
};

std::string Bytes4(int logins, int activity, int counter) {
  return std::string{static_cast<char>(logins), static_cast<char>(activity),
                     static_cast<char>(counter), '\0'};
}

TEST_F(SemaphoreTest, LoginsCountStationsAndTheLastLogoutRemovesTheFile) {
  OpenShared();
  EXPECT_EQ(SemaphoreFileName(), semaphore_);
  EXPECT_EQ(Record(), Bytes4(1, 0, 0));
  Station other;
  EXPECT_EQ(other.Run("open " + table_), "ok");
  EXPECT_EQ(Record(), Bytes4(2, 0, 0));
  EXPECT_EQ(other.Run("walk"), "ok 2 3 1");
  EXPECT_EQ(other.Run("close"), "ok");
  EXPECT_EQ(Record(), Bytes4(1, 0, 0));
  CloseAll();
  EXPECT_FALSE(platform::FileExists(semaphore_));
}

TEST_F(SemaphoreTest, AFileFromAnEarlierDayIsResetUnlessSomeoneHasItOpen) {
  dir_.Write("shared.@S@", Bytes4(5, 3, 7));
  DateYesterday();
  OpenShared();
  // The activity the dead stations left had the index rebuilt, which counts as a change.
  EXPECT_EQ(Record(), Bytes4(1, 0, 1));
  // A live station keeps the file open: its login is not lost, whatever the file's date.
  DateYesterday();
  Station other;
  EXPECT_EQ(other.Run("open " + table_), "ok");
  EXPECT_EQ(Record(), Bytes4(2, 0, 1));
}

TEST_F(SemaphoreTest, ExclusiveTablesUseNoSemaphoreFile) {
  Use(table_ + " EXCLUSIVE");
  ASSERT_TRUE(SetIndexTo(""));
  EXPECT_FALSE(platform::FileExists(semaphore_));
  SetReadSemaphoreProc(1);
  SetReadSemaphoreProc(0);
  EXPECT_EQ(DbLastError, 0);
  CurrentWorkArea = 35;
  HandleSemafore(kSemLogin);
  EXPECT_EQ(DbLastError, 254);
  EXPECT_EQ(DbErrorContext, "Work area [35 ] out of range. [HandleSemafore]");
  CurrentWorkArea = 1;
}

TEST_F(SemaphoreTest, NestedReadBracketsCountOnce) {
  OpenShared();
  SetReadSemaphoreProc(1);
  SetReadSemaphoreProc(1);
  EXPECT_EQ(Record(), Bytes4(1, 1, 0));
  Station other;
  EXPECT_EQ(other.Run("open " + table_), "ok");
  EXPECT_EQ(other.Run("read 1"), "ok");
  EXPECT_EQ(Record(), Bytes4(2, 2, 0));
  SetReadSemaphoreProc(0);
  EXPECT_EQ(Record(), Bytes4(2, 2, 0));
  SetReadSemaphoreProc(0);
  EXPECT_EQ(Record(), Bytes4(2, 1, 0));
  SetReadSemaphoreProc(0);
  EXPECT_EQ(DbLastError, 254);
  EXPECT_EQ(DbErrorContext, "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
  // A station that leaves inside its bracket takes its reading with it.
  EXPECT_EQ(other.Run("close"), "ok");
  EXPECT_EQ(Record(), Bytes4(1, 0, 0));
}

TEST_F(SemaphoreTest, AWriterWaitsForTheReadersAndCountsItsChange) {
  OpenShared();
  Station other;
  ASSERT_EQ(other.Run("open " + table_), "ok");
  ASSERT_EQ(other.Run("readfor 400"), "ok");
  uint64_t start = platform::NowMs();
  SetLockSemaphoreProc(1);
  uint64_t waited = platform::NowMs() - start;
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_GE(waited, 200u);
  EXPECT_EQ(other.Line(), "ok done");
  EXPECT_EQ(Record(), Bytes4(2, 1, 0));
  SetLockSemaphoreProc(0);
  EXPECT_EQ(Record(), Bytes4(2, 0, 1));
  // A reader that does not leave: the writer gives up after the time-out.
  ASSERT_EQ(other.Run("read 1"), "ok");
  SemaphoreTimeout = 1;
  start = platform::NowMs();
  SetLockSemaphoreProc(1);
  EXPECT_EQ(DbLastError, 1202);
  EXPECT_EQ(DbErrorContext,
            "1 second timeout, cannot read: " + semaphore_ +
                "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
                "Cure: Log all users of this application off the network,\r\nthen delete " +
                semaphore_);
  EXPECT_LT(platform::NowMs() - start, 5000u);
  EXPECT_EQ(Record(), Bytes4(2, 1, 1));
}

TEST_F(SemaphoreTest, ALiveStationsNextWriteResetsWhatADeadOneLeft) {
  SemaphoreTimeout = 20;  // "at once" is far less than this
  for (const DeadStation& dead : kDeadStations) {
    SCOPED_TRACE(dead.commands);
    OpenShared();
    Die(dead);
    EXPECT_EQ(Stations(), Bytes2(dead.logins, dead.activity));
    uint64_t start = platform::NowMs();
    SetLockSemaphoreProc(1);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_LT(platform::NowMs() - start, 2000u);
    EXPECT_EQ(Stations(), Bytes2(2, 1)) << "logins are counted again at a login or logout";
    SetLockSemaphoreProc(0);
    Station live;
    ASSERT_EQ(live.Run("open " + table_), "ok");
    EXPECT_EQ(Stations(), Bytes2(2, 0));
    EXPECT_EQ(live.Run("walk"), "ok 2 3 1");
    EXPECT_EQ(live.Run("close"), "ok");
    CloseAll();
    EXPECT_FALSE(platform::FileExists(semaphore_)) << "the last one out still removes the file";
  }
}

TEST_F(SemaphoreTest, TheNextStationToLogInResetsWhatADeadOneLeft) {
  SemaphoreTimeout = 20;
  int32_t records = 3;
  for (const DeadStation& dead : kDeadStations) {
    SCOPED_TRACE(dead.commands);
    Die(dead);
    EXPECT_EQ(Stations(), Bytes2(dead.logins - 1, dead.activity));
    OpenShared();
    EXPECT_EQ(Stations(), Bytes2(1, 0));
    Station other;
    ASSERT_EQ(other.Run("open " + table_), "ok");
    uint64_t start = platform::NowMs();
    EXPECT_EQ(other.Run("append 0"), "ok " + std::to_string(++records));
    EXPECT_LT(platform::NowMs() - start, 2000u);
    EXPECT_EQ(other.Run("close"), "ok");
    CloseAll();
    EXPECT_FALSE(platform::FileExists(semaphore_));
  }
}

}  // namespace
}  // namespace tz
