// What this program reads ahead or keeps of a table is never older than the file: a second
// program's replaces and appends between two reads of a walk are seen at the next read, in
// natural and in tag order, and a walk of a table in exclusive use sees its own writes at once,
// also after the table went back to shared use.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"
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

  // MakeTable, then the table used shared in ID order, Find exact; its path.
  std::string UseSharedInIdOrder(const std::string& name) {
    const std::string path = MakeTable(name);
    Use(path);
    EXPECT_TRUE(SetIndexTo("")) << TakeErrorContext();
    EXPECT_TRUE(SetOrderToTag("ID"));
    SetExactOn();
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
  const std::string path = UseSharedInIdOrder("finds.dbf");
  ASSERT_FALSE(HasFailure());
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

// This program's own writes go into the nodes it keeps; another program's writes in between
// must still throw them out. Both write in turn, at random, while this program Finds what
// either wrote; at the end the walk in key order is the model's.
TEST_F(ReadCaches, OwnAndAnotherProgramsWritesInTurnAreAllFound) {
  const std::string path = UseSharedInIdOrder("turns.dbf");
  ASSERT_FALSE(HasFailure());
  Station other;
  ASSERT_EQ(other.Run("open " + path), "ok");
  std::map<int32_t, std::string> keys;  // record -> its ID
  for (int32_t r = 1; r <= 600; ++r) keys[r] = std::to_string(1000 + r);
  std::mt19937 random(25);
  auto fresh_key = [&random, n = 0]() mutable {
    // Unique, and spread over the whole tree so that splits happen in many leaves.
    return std::to_string(1000 + random() % 900) + "K" + std::to_string(n++);
  };
  auto put_id = [](const std::string& id) {
    std::memset(FieldAddress(1) + 1, ' ', 10);
    std::memcpy(FieldAddress(1) + 1, id.data(), id.size());
  };
  for (int round = 0; round < 160; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string key = fresh_key();
    const auto record = static_cast<int32_t>(1 + random() % keys.size());
    switch (random() % 4) {
      case 0:
        ASSERT_TRUE(ALock());
        ClearRecord();
        put_id(key);
        Append();
        Unlock();
        ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
        keys[RecNo()] = key;
        break;
      case 1:
        GO(record);
        ASSERT_TRUE(RLock());
        put_id(key);
        Replace();
        Unlock();
        ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
        keys[record] = key;
        break;
      case 2: {
        std::string answer = other.Run("append " + key);
        ASSERT_EQ(answer.substr(0, 3), "ok ");
        keys[std::stoi(answer.substr(3))] = key;
        break;
      }
      default:
        ASSERT_EQ(other.Run("replace " + std::to_string(record) + " " + key), "ok");
        keys[record] = key;
    }
    for (int probe = 0; probe < 6; ++probe) {
      auto at = keys.begin();
      std::advance(at, random() % keys.size());
      Find(at->second);
      ASSERT_NE(IndexFound, 0) << at->second;
      EXPECT_EQ(RecNo(), at->first) << at->second;
    }
    Find(key + "X");
    EXPECT_EQ(IndexFound, 0);
  }
  std::vector<std::string> expected;
  for (const auto& [record, id] : keys) expected.push_back(id);
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> walked;
  for (GoTop(); !dEOF() && DbLastError == 0; Skip(1)) walked.push_back(Id());
  EXPECT_EQ(walked, expected);
  SetExactOff();
  ASSERT_EQ(other.Run("close"), "ok");
}

// `count` node blocks from `first` on that go to the node cache's set of `first`.
std::vector<int32_t> BlocksOfOneSet(int32_t first, size_t count) {
  std::vector<int32_t> blocks;
  for (int32_t b = first; blocks.size() < count; b += 2)
    if (ndx::TNodeCache::SetOf(b) == ndx::TNodeCache::SetOf(first)) blocks.push_back(b);
  return blocks;
}

// The node cache keeps the inner nodes every descent passes through: leaves come and go in
// the slots they can take, and never push an inner node out; an inner node beyond a set's
// share of them takes the place of the inner node used longest ago.
TEST(NodeCache, LeavesNeverTakeTheSlotOfAnInnerNode) {
  using ndx::TNodeCache;
  auto cache = std::make_unique<TNodeCache>();
  const std::vector<int32_t> in_set = BlocksOfOneSet(2, 300);
  const int inner = static_cast<int>(TNodeCache::kInnerWays);
  ndx::TNode node;
  for (int i = 0; i < inner; ++i) cache->Store(in_set.at(i), 1, node, true);
  for (int i = 0; i < 50; ++i) {
    cache->Store(in_set.at(100 + i), 1, node, false);
    EXPECT_NE(cache->Find(in_set.at(100 + i), 1), nullptr) << "a leaf always finds a slot";
  }
  for (int i = 0; i < inner; ++i)
    EXPECT_NE(cache->Find(in_set.at(i), 1), nullptr) << "inner node " << i;
  EXPECT_EQ(cache->Find(in_set.at(100), 1), nullptr);
  EXPECT_NE(cache->Find(in_set.at(149), 1), nullptr);
  // One inner node more than the set keeps: the one used longest ago goes, no leaf does.
  for (int i = 1; i < inner; ++i) cache->Find(in_set.at(i), 1);
  cache->Store(in_set.at(200), 1, node, true);
  EXPECT_EQ(cache->Find(in_set.at(0), 1), nullptr);
  EXPECT_NE(cache->Find(in_set.at(200), 1), nullptr);
  EXPECT_NE(cache->Find(in_set.at(149), 1), nullptr);
  EXPECT_NE(cache->Find(in_set.at(148), 1), nullptr);
  EXPECT_EQ(cache->Find(in_set.at(200), 2), nullptr) << "kept for another tag";
}

TEST(NodeCache, ALeafTakesTheSlotOfTheLeafUsedLongestAgo) {
  using ndx::TNodeCache;
  auto cache = std::make_unique<TNodeCache>();
  const std::vector<int32_t> in_set = BlocksOfOneSet(4, 20);
  ndx::TNode node;
  const int ways = static_cast<int>(TNodeCache::kWays);
  cache->Store(in_set.at(0), 1, node, true);
  for (int i = 1; i < ways; ++i) cache->Store(in_set.at(i), 1, node, false);
  cache->Find(in_set.at(1), 1);  // leaf 2 is now the one used longest ago
  cache->Store(in_set.at(ways), 1, node, false);
  EXPECT_EQ(cache->Find(in_set.at(2), 1), nullptr);
  for (int i : {0, 1, 3, ways}) EXPECT_NE(cache->Find(in_set.at(i), 1), nullptr) << i;
}

TEST(NodeCache, AWriteForgetsEveryNodeItOverlapsAndTheSizeItMayChange) {
  using ndx::TNodeCache;
  struct Case {
    int32_t written;
    uint64_t length;
    std::vector<int32_t> gone, kept;
  };
  const Case cases[] = {
      {10, 1024, {10}, {8, 12}},      // a node: the node at its block
      {11, 1024, {10, 12}, {8, 14}},  // a damaged pointer between two nodes: both
      {9, 512, {8}, {6, 10}},         // a tag header in the second half of a node
      {BlocksOfOneSet(10, 2)[1], 1024, {BlocksOfOneSet(10, 2)[1]}, {10}},  // another block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("write at " + std::to_string(c.written));
    auto cache = std::make_unique<TNodeCache>();
    ndx::TNode node;
    for (int32_t b : {6, 8, 10, 12, 14, BlocksOfOneSet(10, 2)[1]})
      cache->Store(b, 1, node, b % 4 == 0);
    cache->file_size = 1 << 20;
    cache->Forget(c.written, c.length);
    for (int32_t b : c.gone) EXPECT_EQ(cache->Find(b, 1), nullptr) << b;
    for (int32_t b : c.kept) EXPECT_NE(cache->Find(b, 1), nullptr) << b;
    EXPECT_EQ(cache->file_size, 1u << 20) << "a write inside the file keeps its size";
  }
  auto cache = std::make_unique<TNodeCache>();
  cache->file_size = 20 * 512;
  cache->Forget(20);
  EXPECT_EQ(cache->file_size, 0u) << "a write past the end makes the size unknown";
}

}  // namespace
}  // namespace tz
