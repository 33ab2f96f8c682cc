// What this program reads ahead or keeps of a table is never older than the file: a second
// program's replaces and appends between two reads of a walk are seen at the next read, in
// natural and in tag order, and a walk of a table in exclusive use sees its own writes at once,
// also after the table went back to shared use.
#include <cstring>

#include "tables/engine/tzutils.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

class ReadCaches : public IndexTest {
 protected:
  // A table of 600 records with IDs 1001 to 1600 and its index, closed; its path.
  std::string MakeTable(const std::string& name) {
    std::vector<std::string> records;
    for (int i = 1; i <= 600; ++i) {
      std::string id = std::to_string(1000 + i);
      records.push_back(id + std::string(10 - id.size(), ' ') + "MAKER" + std::to_string(i));
    }
    std::string path = OpenTable(name, kTelFields, records, " exclusive");
    EXPECT_TRUE(MakeIndex({{"ID", "ID", "", false, false}}, "")) << TakeErrorContext();
    CloseDatabase();
    return path;
  }

  static std::string Id() { return RTrim(std::string(FieldAddress(1) + 1, 10)); }
  // Skips forward `n` times and gives the first field of where it stands.
  static std::string SkipAndRead(int n) {
    for (int i = 0; i < n; ++i) Skip(1);
    EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    return Id();
  }
};

TEST_F(ReadCaches, AnotherProgramsWritesBetweenTwoReadsAreSeenAtTheNextRead) {
  struct Case {
    const char* order;  // "" natural order
  };
  for (const Case c : {Case{""}, Case{"ID"}}) {
    SCOPED_TRACE(std::string("order ") + c.order);
    const std::string path = MakeTable(std::string("shared") + c.order + ".dbf");
    Use(path);
    ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
    if (*c.order == 0) {
      Set_Order_To(0);
    } else {
      ASSERT_TRUE(SetOrderToTag(c.order));
    }
    Station other;
    ASSERT_EQ(other.Run("open " + path), "ok");
    GoTop();
    EXPECT_EQ(SkipAndRead(2), "1003");
    // Records just ahead of the walk and far ahead, then one past the end.
    ASSERT_EQ(other.Run("replace 4 1004X"), "ok");
    ASSERT_EQ(other.Run("replace 300 1300X"), "ok");
    EXPECT_EQ(SkipAndRead(1), "1004X");
    EXPECT_EQ(SkipAndRead(296), "1300X");
    ASSERT_EQ(other.Run("replace 301 1301X"), "ok");
    EXPECT_EQ(SkipAndRead(1), "1301X");
    ASSERT_EQ(other.Run("append 9999"), "ok 601");
    EXPECT_EQ(SkipAndRead(299), "1600");
    EXPECT_EQ(SkipAndRead(1), "9999");
    Skip(1);
    EXPECT_TRUE(dEOF());
    ASSERT_EQ(other.Run("close"), "ok");
    CloseDatabase();
    CloseDatabase();
  }
}

TEST_F(ReadCaches, FindsSeeTheKeysAnotherProgramMovedBetweenThem) {
  const std::string path = MakeTable("finds.dbf");
  Use(path);
  ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
  ASSERT_TRUE(SetOrderToTag("ID"));
  SetExactOn();
  Station other;
  ASSERT_EQ(other.Run("open " + path), "ok");
  struct Case {
    const char* find;
    bool found;
    int32_t record;
  };
  // Every Find reads the nodes on the way to its key; the other program's replaces and appends
  // between them split and change those nodes.
  const Case before[] = {{"1001", true, 1}, {"1300", true, 300}, {"1600", true, 600}};
  for (const Case& c : before) {
    Find(c.find);
    EXPECT_EQ(IndexFound != 0, c.found) << c.find;
    EXPECT_EQ(RecNo(), c.record) << c.find;
  }
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(other.Run("append 13" + std::to_string(i)).substr(0, 2), "ok");
  ASSERT_EQ(other.Run("replace 300 0300"), "ok");
  ASSERT_EQ(other.Run("replace 1 1999"), "ok");
  const Case after[] = {{"1300", false, 0}, {"0300", true, 300}, {"1001", false, 0},
                        {"1999", true, 1},  {"1350", true, 651}, {"1600", true, 600}};
  for (const Case& c : after) {
    Find(c.find);
    EXPECT_EQ(IndexFound != 0, c.found) << c.find;
    if (c.found) {
      EXPECT_EQ(RecNo(), c.record) << c.find;
    }
  }
  SetExactOff();
  ASSERT_EQ(other.Run("close"), "ok");
}

TEST_F(ReadCaches, AWalkInExclusiveUseSeesItsOwnWritesAndThoseOfOthersOnceShared) {
  const std::string path = MakeTable("exclusive.dbf");
  Use(path + " exclusive");
  GoTop();
  EXPECT_EQ(SkipAndRead(1), "1002");
  // Ahead of the walk: a replace, a poke, a deleted mark.
  GO(4);
  std::memcpy(FieldAddress(1) + 1, "REPLACED", 8);
  Replace();
  Poke("POKED", 1, 5);
  GO(6);
  DeleteRec();
  ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
  GO(2);
  EXPECT_EQ(SkipAndRead(1), "1003");
  EXPECT_EQ(SkipAndRead(1), "REPLACED");
  EXPECT_EQ(SkipAndRead(1), "POKED");
  Skip(1);
  EXPECT_EQ(FieldAddress(0)[0], 1) << "record 6 is deleted";
  EXPECT_EQ(SkipAndRead(1), "1007");
  // Shared again: another program's replace ahead of the walk is seen.
  DbReopenExclusive = true;
  ASSERT_EQ(ReopenDbf(false), 0);
  Station other;
  ASSERT_EQ(other.Run("open " + path), "ok");
  ASSERT_EQ(other.Run("replace 9 OTHER"), "ok");
  EXPECT_EQ(SkipAndRead(1), "1008");
  EXPECT_EQ(SkipAndRead(1), "OTHER");
  ASSERT_EQ(other.Run("close"), "ok");
}

}  // namespace
}  // namespace tz
