// A shared table and its production index after another program died on them: opening the
// index while another program appends or after it was killed, the repair of an index that a
// writer killed between a record and its keys left behind, with other stations still using it,
// and a writer killed at random moments, again and again.
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "platform/clock.h"
#include "platform/testing/child_process.h"
#include "tests/tables/index/kill_records.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// A tag of the tests over one character field of the phone table, with its key's place in the
// stored record.
struct Tag {
  const char* name;
  const char* key;
  size_t offset, length;
  bool descending;
};
// The ID, and the ID in descending order.
const std::vector<Tag> kIdTags = {{"ID", "id", 1, 10, false}, {"DOWN", "id", 1, 10, true}};

class CrashTest : public IndexTest {
 protected:
  // A shared table of these records (the ID first) and its production index with the tags,
  // closed.
  void MakeTable(const std::vector<std::string>& records, const std::vector<Tag>& tags = kIdTags) {
    table_ = OpenTable("crash.dbf", kTelFields, records);
    std::vector<TIndexListEntry> definitions;
    for (const Tag& tag : tags) definitions.push_back({tag.name, tag.key, "", tag.descending, false});
    ASSERT_TRUE(MakeIndex(definitions, ""));
    CloseAll();
  }
  void OpenShared() {
    Use(table_);
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    ASSERT_TRUE(SetIndexTo("")) << DbLastError << " " << DbErrorContext;
  }
  // The whole records the file holds, by record number from 1.
  std::vector<std::string> FileRecords() const {
    std::string bytes = Bytes("crash.dbf");
    size_t header = Word16(bytes, 8), size = Word16(bytes, 10);
    std::vector<std::string> records;
    for (size_t at = header; at + size <= bytes.size(); at += size)
      records.push_back(bytes.substr(at, size));
    return records;
  }
  // The record numbers in the tag's order (the tests' keys are all different).
  static std::vector<int32_t> Order(const std::vector<std::string>& records, const Tag& tag) {
    std::vector<int32_t> order(records.size());
    for (size_t i = 0; i < records.size(); ++i) order[i] = static_cast<int32_t>(i + 1);
    auto key = [&](int32_t r) { return records[r - 1].substr(tag.offset, tag.length); };
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return tag.descending ? key(a) > key(b) : key(a) < key(b);
    });
    return order;
  }
  // What index_dump lists for the tag holding exactly these records.
  static std::string Listing(const std::vector<std::string>& records, const Tag& tag) {
    std::string out;
    for (int32_t r : Order(records, tag))
      out += records[r - 1].substr(tag.offset, tag.length) + " " + std::to_string(r) + "\n";
    return out;
  }
  static std::string Numbers(const std::vector<int32_t>& records) {
    std::string out;
    for (int32_t r : records) out += (out.empty() ? "" : " ") + std::to_string(r);
    return out;
  }
  // The tags hold every record of the file, in both our walks and index_dump's listing.
  void ExpectTagsHoldEveryRecord(const std::vector<Tag>& tags = kIdTags) {
    std::vector<std::string> records = FileRecords();
    ASSERT_EQ(RecCount(), static_cast<int32_t>(records.size()));
    for (const Tag& tag : tags) {
      SCOPED_TRACE(tag.name);
      ASSERT_TRUE(SetOrderToTag(tag.name));
      EXPECT_EQ(Walk(), Order(records, tag));
      EXPECT_EQ(Dump("crash.MDX", tag.name), Listing(records, tag));
    }
    ASSERT_TRUE(SetOrderToTag(tags.front().name));
  }
  uint64_t IndexInode() const {
    struct stat st;
    return stat((dir_ / "crash.MDX").c_str(), &st) == 0 ? st.st_ino : 0;
  }

  std::string table_;
};

TEST_F(CrashTest, TheIndexOpensWhileAnotherProgramAppendsAndAfterItWasKilled) {
  for (bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "appending");
    MakeTable({"K5", "K6", "K7"});
    Use(table_);
    ASSERT_EQ(RecCount(), 3);
    // The other program appends between the table's USE and its index's open; its last record
    // comes first in the tag, two past the count the table was opened with.
    Station writer;
    ASSERT_EQ(writer.Run("open " + table_), "ok");
    EXPECT_EQ(writer.Run("append A3"), "ok 4");
    EXPECT_EQ(writer.Run("append A2"), "ok 5");
    EXPECT_EQ(writer.Run("append A1"), "ok 6");
    if (killed) writer.Kill();
    ASSERT_TRUE(SetIndexTo("")) << DbLastError << " " << DbErrorContext;
    EXPECT_EQ(RecNo(), 6);
    EXPECT_EQ(Walk(), (std::vector<int32_t>{6, 5, 4, 1, 2, 3}));
    CloseAll();
  }
}

// A writer killed inside its write bracket right after these commands, and who finds the
// index it left: the next program to open it, or a station that had it open all along.
struct DeadWriter {
  const char* commands;
  bool found_by_opener;
};
const DeadWriter kDeadWriters[] = {
    {"bare append A0", true},      // a record without its keys
    {"bare append A0", false},     //
    {"bare replace 2 A9", true},   // a record under its old keys
    {"bare replace 2 A9", false},  //
};

TEST_F(CrashTest, AnIndexADeadWriterLeftIsRepairedBeforeItIsTrusted) {
  for (const DeadWriter& dead : kDeadWriters) {
    SCOPED_TRACE(std::string(dead.commands) + (dead.found_by_opener ? ", opener" : ", live"));
    MakeTable({"K1", "K2", "K3", "K4"});
    const uint64_t inode = IndexInode();
    Station live;  // has the index open before, during and after
    ASSERT_EQ(live.Run("open " + table_), "ok");
    {
      Station writer;
      ASSERT_EQ(writer.Run("open " + table_), "ok");
      ASSERT_EQ(writer.Run("lock 1"), "ok");
      ASSERT_EQ(writer.Run(dead.commands).substr(0, 2), "ok");
      writer.Kill();
    }
    std::vector<int32_t> order = Order(FileRecords(), kIdTags[0]);
    if (!dead.found_by_opener) {
      EXPECT_EQ(live.Run("walk"), "ok " + Numbers(order));
    }
    // The repair reports nothing, not even in the default mode that halts at every error.
    DbReportErrors = true;
    OpenShared();
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), order.front());
    ExpectTagsHoldEveryRecord();
    EXPECT_TRUE(ui_.Messages().empty());
    DbReportErrors = false;
    // The live station kept the file it had open and sees the repaired tags in it.
    EXPECT_EQ(IndexInode(), inode);
    EXPECT_EQ(live.Run("walk"), "ok " + Numbers(order));
    EXPECT_EQ(live.Run("append B0"), "ok " + std::to_string(order.size() + 1));
    ExpectTagsHoldEveryRecord();
    EXPECT_EQ(live.Run("close"), "ok");
    CloseAll();
  }
}

// A station that finds the activity a dead station left, with a record without its keys, and
// is gone before it has rebuilt the index: the next station must rebuild it all the same.
struct GoneFinder {
  const char* name;
  const char* dead;   // what the dead station did before it was killed
  bool reads;         // the finder, open from the start, reads once while another station
                      // reads (so that it cannot rebuild then); else it only logs in
  bool earlier_day;   // the semaphore file is dated an earlier day when the finder logs in
  bool killed;        // the finder is killed (else it closes the table)
};
const GoneFinder kGoneFinders[] = {
    {"an opener killed after its login", "lock 1", false, false, true},
    {"an opener killed after its login to an earlier day's file", "lock 1", false, true, true},
    {"a reader killed after its read", "read 1", true, false, true},
    {"a reader that closes after its read", "read 1", true, false, false},
};

TEST_F(CrashTest, AStationGoneBeforeItsRepairLeavesTheRepairToTheNext) {
  for (const GoneFinder& gone : kGoneFinders) {
    SCOPED_TRACE(gone.name);
    MakeTable({"K1", "K2", "K3", "K4"});
    Station reader, finder;
    if (gone.reads) {
      ASSERT_EQ(finder.Run("open " + table_), "ok");
      ASSERT_EQ(reader.Run("open " + table_), "ok");
      ASSERT_EQ(reader.Run("read 1"), "ok");
    }
    {
      Station dead;
      ASSERT_EQ(dead.Run("open " + table_), "ok");
      ASSERT_EQ(dead.Run(gone.dead), "ok");
      ASSERT_EQ(dead.Run("bare append A0"), "ok 5");
      dead.Kill();
    }
    if (gone.earlier_day) DateEarlierDay("crash.@S@");
    if (gone.reads) {
      ASSERT_EQ(finder.Run("read 1"), "ok");
      ASSERT_EQ(finder.Run("read 0"), "ok");
    } else {
      ASSERT_EQ(finder.Run("login " + table_), "ok");
    }
    if (gone.killed) {
      finder.Kill();
    } else {
      ASSERT_EQ(finder.Run("close"), "ok");
    }
    if (gone.reads) {
      ASSERT_EQ(reader.Run("read 0"), "ok");
    }
    OpenShared();
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    ExpectTagsHoldEveryRecord();
    if (gone.reads) {
      EXPECT_EQ(reader.Run("walk"), "ok " + Numbers(Order(FileRecords(), kIdTags[0])));
    }
    CloseAll();
  }
}

TEST_F(CrashTest, AReaderLeavesTheRebuildToTheNextWhileOthersRead) {
  // Two work areas of this program share the table; the first is inside a read bracket (one of
  // its commands is under way) when a station dies reading. A reader of the second that waited
  // for the first to leave would wait for ever (here: until the time-out).
  SemaphoreTimeout = 3;
  MakeTable({"K1", "K2", "K3", "K4"});
  OpenShared();
  Select(2);
  Use(table_ + " ALIAS SECOND");
  ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  Select(1);
  SetReadSemaphoreProc(1);
  {
    Station reader;
    ASSERT_EQ(reader.Run("open " + table_), "ok");
    ASSERT_EQ(reader.Run("read 1"), "ok");
    reader.Kill();
  }
  Select(2);
  uint64_t start = platform::NowMs();
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_LT(platform::NowMs() - start, 2000u);
  Select(1);
  SetReadSemaphoreProc(0);
  Select(2);
  ExpectTagsHoldEveryRecord();
  EXPECT_EQ(Bytes("crash.@S@")[1], '\0') << "activity left";
}

TEST_F(CrashTest, AnExclusiveOpenRepairsWhatADeadSharedWriterLeft) {
  MakeTable({"K1", "K2", "K3", "K4"});
  {
    Station writer;
    ASSERT_EQ(writer.Run("open " + table_), "ok");
    ASSERT_EQ(writer.Run("lock 1"), "ok");
    ASSERT_EQ(writer.Run("bare append A0"), "ok 5");
    writer.Kill();
  }
  Use(table_ + " EXCLUSIVE");
  ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  EXPECT_EQ(RecNo(), 5);
  ExpectTagsHoldEveryRecord();
  EXPECT_FALSE(platform::FileExists((dir_ / "crash.@S@").string()));
}

// Two tags over different fields, whose nodes split at different appends: the ID, and the
// maker in descending order.
const std::vector<Tag> kKillTags = {{"ID", "id", 1, 10, false},
                                    {"MAKER", "hersteller", 11, 15, true}};

// The crash tests' record n as the table stores it, without its deleted mark.
std::string CrashRecord(size_t n) {
  auto r = static_cast<int32_t>(n);
  return CrashRecordId(r) + CrashRecordMaker(r) + CrashRecordModel(r);
}

class KillTest : public CrashTest, public ::testing::WithParamInterface<uint32_t> {};

// A station appends in a loop and is killed at a seeded random moment; the next station opens
// the table and its index at once and finds every record the file holds in both tags, in its
// walks and in index_dump's listing, and appends after the last. In every other trial a station
// that opens first is killed too, while it logs in, opens the index or rebuilds it. Each seed
// runs six trials on one table, which grows from trial to trial.
TEST_P(KillTest, AWriterKilledAtRandomMomentsLeavesEveryRecordInBothTags) {
  constexpr int kTrials = 6;
  std::mt19937 random(GetParam());
  std::vector<std::string> first;
  for (size_t n = 1; n <= 40; ++n) first.push_back(CrashRecord(n));
  MakeTable(first, kKillTags);
  for (int trial = 0; trial < kTrials; ++trial) {
    const int delay = std::uniform_int_distribution<int>(1, 40)(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) +
                 " ms");
    {
      Station writer;
      ASSERT_EQ(writer.Run("open " + table_), "ok");
      ASSERT_EQ(writer.Run("appendloop"), "ok");
      platform::SleepMs(static_cast<uint64_t>(delay));
      writer.Kill();
    }
    const std::vector<std::string> left = FileRecords();
    if (trial % 2 == 1) {
      Station opener;
      opener.Send("open " + table_);
      platform::SleepMs(std::uniform_int_distribution<uint64_t>(0, 20)(random));
      opener.Kill();
    }
    Station next;
    const uint64_t start = platform::NowMs();
    ASSERT_EQ(next.Run("open " + table_, 5000), "ok");
    EXPECT_LT(platform::NowMs() - start, 5000u);
    for (const Tag& tag : kKillTags) {
      ASSERT_EQ(next.Run(std::string("order ") + tag.name), "ok");
      EXPECT_EQ(next.Run("walk"), "ok " + Numbers(Order(left, tag))) << tag.name;
    }
    EXPECT_EQ(next.Run("appendnext"), "ok " + std::to_string(left.size() + 1));
    ASSERT_EQ(next.Run("close"), "ok");
    const std::vector<std::string> now = FileRecords();
    ASSERT_EQ(now.size(), left.size() + 1);
    EXPECT_TRUE(std::equal(left.begin(), left.end(), now.begin())) << "a record was overwritten";
    EXPECT_EQ(now.back(), " " + CrashRecord(now.size()));
    for (const Tag& tag : kKillTags) EXPECT_EQ(Dump("crash.MDX", tag.name), Listing(now, tag));
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, KillTest, ::testing::Values(11u, 23u, 37u, 53u));

}  // namespace
}  // namespace tz
