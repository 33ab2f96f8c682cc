// A shared table and its production index after another program died on them: opening the
// index while another program appends or after it was killed, and the repair of an index that
// a writer killed between a record and its keys left behind, with other stations still using
// it.
#include <sys/stat.h>

#include <algorithm>

#include "platform/testing/child_process.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// Index definitions of the tests' two tags: the ID and the ID in descending order.
const std::vector<TIndexListEntry> kTwoTags = {{"ID", "id", "", false, false},
                                               {"DOWN", "id", "", true, false}};

class CrashTest : public IndexTest {
 protected:
  // A shared table of records with these IDs and its production index with both tags, closed.
  void MakeTable(const std::vector<std::string>& ids) {
    table_ = OpenTable("crash.dbf", kTelFields, ids);
    ASSERT_TRUE(MakeIndex(kTwoTags, ""));
    CloseAll();
  }
  void OpenShared() {
    Use(table_);
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    ASSERT_TRUE(SetIndexTo("")) << DbLastError << " " << DbErrorContext;
  }
  // The IDs of the records the file holds, by record number from 1.
  std::vector<std::string> FileIds() const {
    std::string bytes = Bytes("crash.dbf");
    size_t header = Word16(bytes, 8), size = Word16(bytes, 10);
    std::vector<std::string> ids;
    for (size_t at = header; at + size <= bytes.size(); at += size)
      ids.push_back(bytes.substr(at + 1, 10));
    return ids;
  }
  // The record numbers in ID order (descending: the other way round).
  static std::vector<int32_t> IdOrder(const std::vector<std::string>& ids, bool descending) {
    std::vector<int32_t> order(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) order[i] = static_cast<int32_t>(i + 1);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return descending ? ids[a - 1] > ids[b - 1] : ids[a - 1] < ids[b - 1];
    });
    return order;
  }
  // What index_dump lists for a tag holding exactly these records in this order.
  static std::string Listing(const std::vector<std::string>& ids,
                             const std::vector<int32_t>& order) {
    std::string out;
    for (int32_t r : order) out += ids[r - 1] + " " + std::to_string(r) + "\n";
    return out;
  }
  static std::string Numbers(const std::vector<int32_t>& records) {
    std::string out;
    for (int32_t r : records) out += (out.empty() ? "" : " ") + std::to_string(r);
    return out;
  }
  // Both tags hold every record of the file, in both our walks and index_dump's listing.
  void ExpectBothTagsHoldEveryRecord() {
    std::vector<std::string> ids = FileIds();
    ASSERT_EQ(RecCount(), static_cast<int32_t>(ids.size()));
    for (bool descending : {false, true}) {
      SCOPED_TRACE(descending ? "DOWN" : "ID");
      std::vector<int32_t> order = IdOrder(ids, descending);
      ASSERT_TRUE(SetOrderToTag(descending ? "DOWN" : "ID"));
      EXPECT_EQ(Walk(), order);
      EXPECT_EQ(Dump("crash.MDX", descending ? "DOWN" : "ID"), Listing(ids, order));
    }
    ASSERT_TRUE(SetOrderToTag("ID"));
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
    Station writer;
    ASSERT_EQ(writer.Run("open " + table_), "ok");
    // Its records come first in the tag, past the count the table's header still gives.
    EXPECT_EQ(writer.Run("append A1"), "ok 4");
    EXPECT_EQ(writer.Run("append A2"), "ok 5");
    if (killed) writer.Kill();
    OpenShared();
    EXPECT_EQ(RecNo(), 4);
    EXPECT_EQ(Walk(), (std::vector<int32_t>{4, 5, 1, 2, 3}));
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
    std::vector<int32_t> order = IdOrder(FileIds(), false);
    if (!dead.found_by_opener) {
      EXPECT_EQ(live.Run("walk"), "ok " + Numbers(order));
    }
    // The repair reports nothing, not even in the default mode that halts at every error.
    DbReportErrors = true;
    OpenShared();
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), order.front());
    ExpectBothTagsHoldEveryRecord();
    EXPECT_TRUE(ui_.Messages().empty());
    DbReportErrors = false;
    // The live station kept the file it had open and sees the repaired tags in it.
    EXPECT_EQ(IndexInode(), inode);
    EXPECT_EQ(live.Run("walk"), "ok " + Numbers(order));
    EXPECT_EQ(live.Run("append B0"), "ok " + std::to_string(order.size() + 1));
    ExpectBothTagsHoldEveryRecord();
    EXPECT_EQ(live.Run("close"), "ok");
    CloseAll();
  }
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
  ExpectBothTagsHoldEveryRecord();
  EXPECT_FALSE(platform::FileExists((dir_ / "crash.@S@").string()));
}

}  // namespace
}  // namespace tz
