// Index orders and seeking: choosing orders, Find on text, number and date keys (exact and
// by prefix, ascending and descending), the first, last, next and prior key, and the engine's
// GoTop, Skip and GoBottom following a tag with hidden deleted records and filters.
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "platform/testing/child_process.h"
#include "tables/engine/tzutils.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// NAME C8, N N6.2, D D8 (stored bytes, OEM like every table the tests write).
const std::vector<RawField> kSeekFields = {{"NAME", 'C', 8}, {"N", 'N', 6, 2}, {"D", 'D', 8}};

class SeekTest : public IndexTest {
 protected:
  void SetUp() override {
    table_ = OpenTable("seek.dbf", kSeekFields,
                       {
                           "delta     1.5020240229",  // 1
                           "alpha    -3.0019991231",  // 2
                           "delta     1.50",          // 3
                           "charlie   0.0020240101",  // 4
                           "alphabet  7.0019991231",  // 5
                           "bravo    12.2519700101",  // 6
                           "x\xFF        2.0020000101",  // 7: FFh after the prefix "x"
                       });
    ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false},
                           {"DOWN", "name", "", true, false},
                           {"NUM", "n", "", false, false},
                           {"DATE", "d", "", false, false},
                           {"NUMDOWN", "n", "", true, false},
                           {"NONE", "name", "n > 100", false, false},
                           {"POS", "name", "n > 0", false, false}},
                          ""))
        << DbErrorContext;
    ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  }
  std::string Name() const { return std::string(FieldAddress(1) + 1, 8); }

  std::string table_;
};

TEST_F(SeekTest, FindOnTextKeys) {
  struct Case {
    const char* tag;
    bool exact;
    std::string text;
    int32_t record;  // 8 = end of file (record count + 1)
    uint8_t found;
  };
  const Case cases[] = {
      {"NAME", false, "alpha", 2, 1},
      {"NAME", false, "alphab", 5, 1},
      {"NAME", false, "d", 1, 1},
      {"NAME", false, "delta", 1, 1},
      {"NAME", false, "b", 6, 1},
      {"NAME", false, "beta", 8, 0},          // between two keys
      {"NAME", false, "zulu", 8, 0},          // above every key
      {"NAME", false, "A", 8, 0},             // below every key, no prefix match
      {"NAME", false, "alphabetical", 5, 1},  // longer than the key: its length is compared
      {"NAME", false, "delta   zz", 1, 1},
      {"NAME", false, "x", 7, 1},
      {"NAME", true, "alpha", 2, 1},
      {"NAME", true, "alphab", 8, 0},
      {"NAME", true, "d", 8, 0},
      {"NAME", true, "delta", 1, 1},
      {"NAME", true, "alphabetical", 5, 1},
      {"DOWN", false, "delta", 1, 1},
      {"DOWN", false, "alpha", 5, 1},  // the largest key with the prefix comes first
      {"DOWN", false, "a", 5, 1},
      {"DOWN", false, "x", 7, 1},  // found only when the prefix is padded with FFh
      {"DOWN", false, "c", 4, 1},
      {"DOWN", false, "e", 8, 0},
      {"DOWN", false, "A", 8, 0},  // below every key: past the end of a descending tag
      {"DOWN", false, "alphabetical", 5, 1},
      {"DOWN", true, "alpha", 2, 1},
      {"DOWN", true, "alphab", 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + (c.exact ? " exact " : " ") + c.text);
    ASSERT_TRUE(SetOrderToTag(c.tag));
    GO(3);
    if (c.exact) SetExactOn();
    Find(c.text);
    SetExactOff();
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(IndexFound, c.found);
    EXPECT_EQ(dEOF(), c.found == 0);
  }
}

TEST_F(SeekTest, FindOnNumberAndDateKeys) {
  struct Case {
    const char* tag;
    std::string text;
    int32_t record;
    uint8_t found;
  };
  const Case cases[] = {
      {"NUM", "1.5", 1, 1},      {"NUM", "1.50", 1, 1},      {"NUM", "-3", 2, 1},
      {"NUM", "12.25", 6, 1},    {"NUM", "2", 7, 1},         {"NUM", "1", 8, 0},
      {"NUM", "100", 8, 0},      {"NUMDOWN", "7", 5, 1},     {"NUMDOWN", "1.5", 1, 1},
      {"NUMDOWN", "-4", 8, 0},   {"DATE", "02/29/24", 1, 1}, {"DATE", "12/31/99", 2, 1},
      {"DATE", "01/01/70", 6, 1}, {"DATE", "01/02/70", 8, 0}, {"DATE", "12/31/54", 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + " " + c.text);
    ASSERT_TRUE(SetOrderToTag(c.tag));
    GO(4);
    Find(c.text);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(IndexFound, c.found);
  }
}

TEST_F(SeekTest, FindWithoutAnOrder) {
  GO(4);
  Find("");
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(RecNo(), 4);
  Set_Order_To(0);
  Find("alpha");
  EXPECT_EQ(DbLastError, 254);
  EXPECT_EQ(DbErrorContext, "Cannot use Find() with index order 0 (natural order) [Find]");
  EXPECT_EQ(RecNo(), 4);
  CloseIndexes();
  Find("alpha");
  EXPECT_EQ(DbLastError, 221);
  EXPECT_EQ(DbErrorContext, "Index not open. (DBF=" + table_ + ") [Find]");
}

TEST_F(SeekTest, ChoosingOrders) {
  EXPECT_EQ(CurrentOrder(), 1);
  GO(6);
  Set_Order_To(1);  // the current one: nothing moves
  EXPECT_EQ(RecNo(), 6);
  EXPECT_EQ(DbLastError, 0);

  Set_Order_To(8);
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(DbErrorContext,
            "Invalid Index Order Specified: SET_ORDER_TO. [Set_Order_To(8)] (DBF=" + table_ + ")");
  EXPECT_EQ(CurrentOrder(), 1);

  EXPECT_FALSE(SetOrderToTag("NUMD"));  // names match whole
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(DbErrorContext, "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(NUMD)] "
                            "(DBF=" + table_ + ")");
  EXPECT_FALSE(SetOrderToTag("unknown"));
  EXPECT_EQ(CurrentOrder(), 1);

  EXPECT_TRUE(SetOrderToTag(" numdown "));
  EXPECT_EQ(CurrentOrder(), 5);
  EXPECT_EQ(CurrentTagName(), "NUMDOWN");
  EXPECT_EQ(RecNo(), 6);  // the record stays current in the new order
  EXPECT_EQ(Walk(), (std::vector<int32_t>{6, 5, 7, 1, 3, 4, 2}));

  Set_Order_To(0);
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(SetOrderToTag(""));
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_TRUE(SetOrderToTag("num"));
  EXPECT_EQ(Walk(), (std::vector<int32_t>{2, 4, 1, 3, 7, 5, 6}));
}

// The current order sits at position 1 and tag 1 at the current tag's place: after any
// sequence of changes every tag must still walk in its own order and be maintained as itself.
TEST_F(SeekTest, EveryOrderKeepsItsOwnTagThroughChangesOfOrder) {
  const std::vector<int32_t> walks[] = {
      {2, 5, 6, 4, 1, 3, 7},  // NAME
      {7, 1, 3, 4, 6, 5, 2},  // DOWN
      {2, 4, 1, 3, 7, 5, 6},  // NUM
      {6, 2, 5, 7, 4, 1, 3},  // DATE: the blank date sorts last
      {6, 5, 7, 1, 3, 4, 2},  // NUMDOWN
  };
  const char* names[] = {"NAME", "DOWN", "NUM", "DATE", "NUMDOWN"};
  for (int n : {2, 3, 1, 3, 5, 4, 2, 2, 1, 4, 5}) {
    SCOPED_TRACE(n);
    GO(4);
    Set_Order_To(n);
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(CurrentOrder(), n);
    EXPECT_EQ(CurrentTagName(), names[n - 1]);
    EXPECT_EQ(RecNo(), 4);
    EXPECT_EQ(Walk(), walks[n - 1]);
    EXPECT_EQ(WalkBack(), walks[n - 1]);
  }
  // A replace made in order 4 moves the keys of every tag, each under its own expression.
  GO(4);
  ASSERT_TRUE(RLock());
  std::memcpy(FieldAddress(1) + 1, "echo    ", 8);
  Replace();
  Unlock();
  ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  const std::vector<int32_t> after[] = {
      {2, 5, 6, 1, 3, 4, 7}, {7, 4, 1, 3, 6, 5, 2}, walks[2], walks[3], walks[4]};
  for (int n : {1, 2, 3, 4, 5}) {
    Set_Order_To(n);
    EXPECT_EQ(Walk(), after[n - 1]) << names[n - 1];
  }
}

TEST_F(SeekTest, ChangingTheOrderAtTheEndOfFileStaysThere) {
  ASSERT_TRUE(SetOrderToTag("NAME"));
  GoBottom();
  Skip(1);
  ASSERT_TRUE(dEOF());
  ASSERT_TRUE(SetOrderToTag("NUM"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  Skip(-1);
  EXPECT_EQ(RecNo(), 6);  // the last key of the new order
  // From natural order the table's own position counts, not where the order stood before.
  GoBottom();
  Skip(1);
  ASSERT_TRUE(dEOF());
  Set_Order_To(0);
  GoTop();
  Skip(2);
  ASSERT_EQ(RecNo(), 3);
  ASSERT_TRUE(SetOrderToTag("NUM"));
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), 3);
  Skip(1);
  EXPECT_EQ(RecNo(), 7);
}

// A record the new order's FOR condition leaves out: the table goes to the end of file in the
// new order, as it does at the end of any walk.
TEST_F(SeekTest, ChoosingAForTagTheRecordFailsGoesToTheEndOfFile) {
  GO(4);  // "charlie", N 0
  ASSERT_TRUE(SetOrderToTag("POS"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  Skip(1);
  EXPECT_EQ(DbLastError, 212);
  Skip(-1);
  EXPECT_EQ(RecNo(), 7);
  GO(6);  // "bravo" passes: it stays
  ASSERT_TRUE(SetOrderToTag("NAME"));
  ASSERT_TRUE(SetOrderToTag("POS"));
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), 6);
  Skip(1);
  EXPECT_EQ(RecNo(), 1);
}

// Going to a record the current FOR order leaves out, or replacing the current record so that
// it leaves the order, ends at the end of file too, and Skip(-1) goes on from the order's last key.
TEST_F(SeekTest, ARecordThatLeavesTheForOrderEndsAtTheEndOfFile) {
  ASSERT_TRUE(SetOrderToTag("POS"));  // alphabet 5, bravo 6, delta 1, delta 3, x 7
  GO(4);                              // "charlie", N 0
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  Skip(-1);
  EXPECT_EQ(RecNo(), 7);
  GO(6);  // "bravo", N 12.25: in the order
  EXPECT_FALSE(dEOF());
  ASSERT_TRUE(RLock());
  double minus_one = -1;
  std::memcpy(FieldAddress(2), &minus_one, sizeof minus_one);
  Replace();
  Unlock();
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  Skip(-1);
  EXPECT_FALSE(dBOF());
  EXPECT_EQ(RecNo(), 7);
  Skip(-3);
  EXPECT_EQ(RecNo(), 5);  // bravo is gone from the order
}

TEST_F(SeekTest, FindPassesOverHiddenDeletedRecords) {
  GO(2);  // "alpha"
  ASSERT_TRUE(RLock());
  DeleteRec();
  Unlock();
  SetIgnoreDel(true);
  struct Case {
    bool exact;
    std::string text;
    int32_t record;
    uint8_t found;
  };
  const Case cases[] = {
      {false, "alpha", 5, 1},  // the next key still has the prefix
      {true, "alpha", 8, 0},   // the next key is another one
      {false, "x", 7, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.exact) SetExactOn();
    Find(c.text);
    SetExactOff();
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(IndexFound, c.found);
  }
  SetIgnoreDel(false);
  Find("alpha");
  EXPECT_EQ(RecNo(), 2);
}

// A table that follows this one through its hook is shown where Find went: the record found,
// or the end of file when nothing was found.
TEST_F(SeekTest, FindRunsTheHookWhereItEnds) {
  ASSERT_TRUE(SetOrderToTag("NAME"));
  std::vector<int32_t> shown;
  SetAreaHook([&shown] { shown.push_back(RecNo()); });
  shown.clear();
  Find("charlie");
  Find("beta");
  Find("x");
  Find("zulu");
  SetAreaHook(nullptr);
  EXPECT_EQ(shown, (std::vector<int32_t>{4, 8, 7, 8}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

TEST_F(IndexTest, OrdersOfAnEmptyTable) {
  OpenTable("none.dbf", kTelFields, {});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"DOWN", "id", "", true, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  EXPECT_EQ(CurrentOrder(), 2);
  EXPECT_TRUE(dEOF());
  Find("1");
  EXPECT_EQ(IndexFound, 0);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Walk().empty());
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  // The first records go into both tags.
  for (const char* id : {"1", "2"}) {
    ASSERT_TRUE(ALock());
    ClearRecord();
    std::memcpy(FieldAddress(1) + 1, id, 1);
    Append();
    Unlock();
  }
  EXPECT_EQ(Walk(), (std::vector<int32_t>{2, 1}));
  Find("1");
  EXPECT_EQ(RecNo(), 1);
  ASSERT_TRUE(SetOrderToTag("ID"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// Text keys are stored in the table's character set: the sought text is converted like them.
TEST_F(IndexTest, FindConvertsTheTextToTheTablesCharacterSet) {
  struct Case {
    bool ansi;
    std::string stored;  // record 1; record 2 is "Zebra"
    std::string text;
  };
  const Case cases[] = {
      {false, "\x8Erger", "\xC4r"},  // code page 850 holds the 1252 letter C4h as 8Eh
      {true, "\xC4rger", "\xC4r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ansi);
    DbAnsiTables = c.ansi;
    OpenTable(c.ansi ? "ansi.dbf" : "oem.dbf", {{"NAME", 'C', 8}}, {c.stored, "Zebra"});
    ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false}}, ""));
    ASSERT_TRUE(SetIndexTo(""));
    GO(2);
    Find(c.text);
    EXPECT_EQ(IndexFound, 1);
    EXPECT_EQ(RecNo(), 1);
    CloseAll();
  }
  DbAnsiTables = false;
}

TEST_F(SeekTest, FirstLastNextAndPriorKeys) {
  ASSERT_TRUE(SetOrderToTag("NAME"));
  EXPECT_EQ(FindFirstRec(), 2);
  EXPECT_EQ(IndexFound, 1);
  EXPECT_EQ(FindLastRec(), 7);
  GoBottom();
  EXPECT_EQ(RecNo(), 7);
  EXPECT_EQ(_FindNextRec(), 7);  // at the last key: EOF and the last key's record
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(IndexFound, 0);
  GoTop();
  EXPECT_EQ(_FindPriorRec(), 2);  // at the first key: BOF
  EXPECT_TRUE(dBOF());
  GoTop();
  EXPECT_EQ(_FindNextRec(), 5);
  EXPECT_EQ(IndexFound, 1);

  Set_Order_To(0);  // natural order counts records
  GO(7);
  EXPECT_EQ(FindFirstRec(), 1);
  EXPECT_EQ(FindLastRec(), 7);
  EXPECT_EQ(_FindNextRec(), 7);
  EXPECT_TRUE(dEOF());
  GO(3);
  EXPECT_EQ(_FindPriorRec(), 2);
}

TEST_F(SeekTest, AForTagNoRecordPassedIsEmpty) {
  ASSERT_TRUE(SetOrderToTag("NONE"));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  GoTop();
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  GoBottom();
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(FindFirstRec(), 8);
  EXPECT_EQ(FindLastRec(), 8);
  EXPECT_EQ(_FindNextRec(), 8);
  EXPECT_EQ(_FindPriorRec(), 8);
  Find("alpha");
  EXPECT_EQ(IndexFound, 0);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Walk().empty());
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// GoTop, Skip and GoBottom through the engine: the walk forward equals the walk backward and
// passes over hidden records.
TEST_F(SeekTest, NavigationFollowsTheTag) {
  // Records 3 and 5 marked deleted.
  GO(3);
  ASSERT_TRUE(RLock());
  DeleteRec();
  GO(5);
  ASSERT_TRUE(RLock());
  DeleteRec();
  Unlock();
  ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  struct Case {
    const char* tag;
    bool hide;
    bool filter;  // only records whose N is at least 0
    std::vector<int32_t> walk;
  };
  const Case cases[] = {
      {"NAME", false, false, {2, 5, 6, 4, 1, 3, 7}},
      {"NAME", true, false, {2, 6, 4, 1, 7}},
      {"NAME", false, true, {5, 6, 4, 1, 3, 7}},
      {"NAME", true, true, {6, 4, 1, 7}},
      {"DOWN", false, false, {7, 1, 3, 4, 6, 5, 2}},
      {"DOWN", true, false, {7, 1, 4, 6, 2}},
      {"DOWN", true, true, {7, 1, 4, 6}},
      {"NUMDOWN", true, true, {6, 7, 1, 4}},
      {"", true, true, {1, 4, 6, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + (c.hide ? " hide" : "") + (c.filter ? " filter" : ""));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    SetIgnoreDel(c.hide);
    WorkAreas[1]->FilterMethod = nullptr;
    if (c.filter)
      WorkAreas[1]->FilterMethod = [] {
        double n;
        std::memcpy(&n, FieldAddress(2), sizeof n);
        return n >= 0;
      };
    EXPECT_EQ(Walk(), c.walk);
    EXPECT_EQ(WalkBack(), c.walk);
    // Skip(2) from the top passes over two visible records, Skip(-1) comes back one.
    GoTop();
    Skip(2);
    EXPECT_EQ(RecNo(), c.walk[2]);
    Skip(-1);
    EXPECT_EQ(RecNo(), c.walk[1]);
    Skip(-5);
    EXPECT_EQ(RecNo(), c.walk[0]);
    EXPECT_TRUE(dBOF());
    GoBottom();
    Skip(1);
    EXPECT_TRUE(dEOF());
    EXPECT_EQ(RecNo(), 8);
    Skip(1);
    EXPECT_EQ(DbLastError, 212);
    DbLastError = 0;
  }
  WorkAreas[1]->FilterMethod = nullptr;
}

// A record changed behind the index's back (another program without the index) is reported
// when the engine goes to it: its key is missing, or the key belongs to other records.
TEST_F(IndexTest, ARecordOutOfStepWithTheIndexIsReported) {
  std::string path = OpenTable("step.dbf", {{"NAME", 'C', 8}}, {"alpha", "bravo", "charlie"});
  ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false}}, ""));
  CloseAll();
  std::string file = Bytes("step.dbf");
  size_t header = Word16(file, 8);
  file.replace(header + 1 + 9 * 1, 8, "zulu    ");   // record 2: a key the index lacks
  file.replace(header + 1 + 9 * 2, 8, "alpha   ");   // record 3: record 1's key
  dir_.Write("step.dbf", file);
  Use(path);
  ASSERT_TRUE(SetIndexTo(""));
  const std::string tag = (dir_ / "step.MDX").string() + " [tag: NAME]";
  struct Case {
    int32_t record;
    std::string context;
  };
  const Case cases[] = {
      {2, "Key: \"zulu    \" not in index: " + tag + ". [SyncIndex-1] Record: 2"},
      {3, "Record with key: \"alpha\" not in index: " + tag + ". [SyncIndex-2]"},
  };
  for (const Case& c : cases) {
    GO(c.record);
    EXPECT_EQ(DbLastError, 212);
    EXPECT_EQ(DbErrorContext, c.context);
  }
  GO(1);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// Trees of two levels with runs of equal keys across leaves: every Find, walk and change of
// order agrees with a sorted model of the keys.
class DeepSeekTest : public IndexTest {
 protected:
  static constexpr int kRecords = 2000;
  void SetUp() override {
    std::mt19937 random(5);
    std::vector<std::string> records;
    for (int r = 1; r <= kRecords; ++r) {
      // Keys 0, 3, 6 ... 2097, most of them two or three times.
      std::string id = std::to_string(3 * (random() % 700));
      id.resize(6, ' ');
      records.push_back(id);
      model_.push_back({id, r});
    }
    OpenTable("deep.dbf", {{"ID", 'C', 6}}, records);
    ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"DOWN", "id", "", true, false}}, ""));
    ASSERT_TRUE(SetIndexTo(""));
    std::sort(model_.begin(), model_.end());
    // Equal keys keep the order of their records in a descending tag too.
    down_ = model_;
    std::stable_sort(down_.begin(), down_.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
  }
  static std::vector<int32_t> Records(const std::vector<std::pair<std::string, int32_t>>& keys) {
    std::vector<int32_t> out;
    for (const auto& k : keys) out.push_back(k.second);
    return out;
  }
  // The record Find must reach for `text` in `keys` (kRecords + 1 when none).
  static int32_t Expected(const std::vector<std::pair<std::string, int32_t>>& keys,
                          const std::string& text, bool exact) {
    for (const auto& k : keys) {
      bool match = exact ? RTrim(k.first) == text : k.first.compare(0, text.size(), text) == 0;
      if (match) return k.second;
    }
    return kRecords + 1;
  }

  std::vector<std::pair<std::string, int32_t>> model_, down_;
};

TEST_F(DeepSeekTest, FindWalkAndChangeOfOrderAgreeWithTheModel) {
  for (const char* tag : {"ID", "DOWN"}) {
    SCOPED_TRACE(tag);
    ASSERT_TRUE(SetOrderToTag(tag));
    const auto& keys = std::string(tag) == "ID" ? model_ : down_;
    EXPECT_EQ(Walk(), Records(keys));
    EXPECT_EQ(WalkBack(), Records(keys));
    for (bool exact : {true, false}) {
      for (int k = 0; k < 2200; k += exact ? 1 : 7) {
        std::string text = std::to_string(k);
        if (exact) SetExactOn();
        Find(text);
        SetExactOff();
        int32_t expected = Expected(keys, text, exact);
        ASSERT_EQ(RecNo(), expected) << text << (exact ? " exact" : "");
        ASSERT_EQ(IndexFound, expected <= kRecords) << text;
        if (expected > kRecords || k % 5 != 0) continue;
        // The walk goes on from the key found, both ways.
        auto at = std::find_if(keys.begin(), keys.end(),
                               [expected](const auto& key) { return key.second == expected; });
        Skip(1);
        ASSERT_EQ(RecNo(), at + 1 == keys.end() ? kRecords + 1 : (at + 1)->second) << text;
        if (exact) SetExactOn();
        Find(text);
        SetExactOff();
        Skip(-1);
        ASSERT_EQ(RecNo(), at == keys.begin() ? expected : (at - 1)->second) << text;
      }
    }
  }
  // A record inside a run of equal keys keeps its place when the order changes, and the walk
  // goes on from there in the new order.
  for (int32_t r = 1; r <= kRecords; r += 37) {
    SCOPED_TRACE(r);
    ASSERT_TRUE(SetOrderToTag("DOWN"));
    GO(r);
    ASSERT_TRUE(SetOrderToTag("ID"));
    ASSERT_EQ(RecNo(), r);
    auto at = std::find_if(model_.begin(), model_.end(), [r](const auto& k) { return k.second == r; });
    Skip(1);
    ASSERT_EQ(RecNo(), at + 1 == model_.end() ? kRecords + 1 : (at + 1)->second);
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  }
}

// One table and its index shared by two work areas of this program and by a second program
// (index_station), all walking and changing the same tag.
class SharedSeekTest : public IndexTest {
 protected:
  void SetUp() override {
    table_ = OpenTable("walk.dbf", kTelFields, {"10", "30", "50"});
    ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false},
                           {"DOWN", "id", "", true, false},
                           {"BIG", "id", "id > '55'", false, false}},
                          ""));
    CloseAll();
  }
  void OpenIn(uint8_t area) {
    Select(area);
    Use(table_ + " ALIAS A" + std::to_string(area));
    ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  }
  // Starts the other program (index_station) with the table and its index open.
  void StartOther() {
    other_ = std::make_unique<platform::ChildProcess>(INDEX_STATION, std::vector<std::string>{});
    EXPECT_EQ(Other("open " + table_), "ok");
  }
  // One command of the other program and its answer.
  std::string Other(const std::string& command) {
    other_->WriteLine(command);
    return other_->ReadLine();
  }
  static std::string Id() { return RTrim(std::string(FieldAddress(1) + 1, 10)); }
  static void AppendId(const std::string& id) {
    ASSERT_TRUE(ALock());
    ClearRecord();
    std::memcpy(FieldAddress(1) + 1, id.data(), id.size());
    Append();
    Unlock();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  }

  std::string table_;
  std::unique_ptr<platform::ChildProcess> other_;
};

TEST_F(SharedSeekTest, TwoWorkAreasSkipAlternatelyThroughOneTag) {
  OpenIn(1);
  OpenIn(2);
  for (const char* tag : {"ID", "DOWN"}) {
    SCOPED_TRACE(tag);
    std::vector<std::string> seen[3];
    for (uint8_t area : {1, 2}) {
      Select(area);
      ASSERT_TRUE(SetOrderToTag(tag));
      GoTop();
    }
    // Area 2 starts one step behind area 1, and Find in one area moves only that area.
    Select(1);
    seen[1].push_back(Id());
    Skip(1);
    for (int step = 0; step < 4; ++step) {
      for (uint8_t area : {1, 2}) {
        Select(area);
        if (dEOF()) continue;
        seen[area].push_back(Id());
        Skip(1);
      }
    }
    const std::vector<std::string> order =
        std::string(tag) == "ID" ? std::vector<std::string>{"10", "30", "50"}
                                 : std::vector<std::string>{"50", "30", "10"};
    EXPECT_EQ(seen[1], order);
    EXPECT_EQ(seen[2], order);
    Select(2);
    Find("30");
    EXPECT_EQ(Id(), "30");
    Select(1);
    EXPECT_TRUE(dEOF());
    GoTop();
    Select(2);
    Skip(1);
    EXPECT_EQ(Id(), order[2]);
    Select(1);
    EXPECT_EQ(Id(), order[0]);
    Skip(1);
    EXPECT_EQ(Id(), "30");
  }
}

TEST_F(SharedSeekTest, AWorkAreaSeesTheKeysAnotherAppendsWhileItWalks) {
  OpenIn(1);
  OpenIn(2);
  Select(1);
  GoTop();
  Skip(1);
  ASSERT_EQ(Id(), "30");
  Select(2);
  AppendId("40");
  AppendId("20");
  Select(1);
  Skip(1);
  EXPECT_EQ(Id(), "40");
  Skip(-2);
  EXPECT_EQ(Id(), "20");
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 5, 2, 4, 3}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// The other program appends through its write bracket while this one walks through read
// brackets: the walk goes on from where it stood and takes the new keys in.
TEST_F(SharedSeekTest, ASecondProgramAppendsWhileThisOneWalks) {
  OpenIn(1);
  StartOther();
  GoTop();
  ASSERT_EQ(Id(), "10");
  Skip(1);
  ASSERT_EQ(Id(), "30");
  EXPECT_EQ(Other("append 40"), "ok 4");
  EXPECT_EQ(Other("append 20"), "ok 5");
  EXPECT_EQ(Other("append 60"), "ok 6");
  std::vector<std::string> rest;
  for (Skip(1); !dEOF() && DbLastError == 0; Skip(1)) rest.push_back(Id());
  EXPECT_EQ(rest, (std::vector<std::string>{"40", "50", "60"}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  Find("20");
  EXPECT_EQ(IndexFound, 1);
  EXPECT_EQ(RecNo(), 5);
  // And the other way round: what this program appends, the other one walks.
  AppendId("35");
  EXPECT_EQ(Other("walk"), "ok 1 5 2 7 4 3 6");
  SetOrderToTag("DOWN");
  EXPECT_EQ(Walk(), (std::vector<int32_t>{6, 3, 4, 7, 2, 5, 1}));
  EXPECT_EQ(Other("close"), "ok");
}

// The other program appends enough keys to split the root while this one stands inside the
// tag: the walk goes on through the grown tree.
TEST_F(SharedSeekTest, TheWalkGoesOnThroughATreeAnotherProgramGrew) {
  OpenIn(1);
  StartOther();
  GoTop();
  Skip(1);
  ASSERT_EQ(Id(), "30");
  // "200" .. "299" sort before "30", "300" .. "399" between "30" and "50".
  std::vector<std::string> expected = {"30"};
  for (int k = 200; k < 400; ++k) {
    ASSERT_EQ(Other("append " + std::to_string(k)), "ok " + std::to_string(k - 196));
    if (k >= 300) expected.push_back(std::to_string(k));
  }
  expected.push_back("50");
  std::vector<std::string> walked = {Id()};
  for (Skip(1); !dEOF() && DbLastError == 0; Skip(1)) walked.push_back(Id());
  EXPECT_EQ(walked, expected);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(Walk().size(), 203u);
}

// At the end of file the table stands on the blank record; records the other program appends
// meanwhile take the blank record's old number, but Skip(-1) still goes to the last key.
TEST_F(SharedSeekTest, BackFromTheEndOfFileAfterAnotherProgramAppended) {
  OpenIn(1);
  StartOther();
  GoBottom();
  Skip(1);
  ASSERT_TRUE(dEOF());
  ASSERT_EQ(RecNo(), 4);
  for (const char* id : {"20", "60"}) {
    Other(std::string("append ") + id);
  }
  Skip(-1);
  EXPECT_EQ(Id(), "60");
  EXPECT_EQ(RecNo(), 5);
  Skip(-1);
  EXPECT_EQ(Id(), "50");
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// The other program changes keys while this one stands inside the tag: its own record's new
// key is where the walk goes on; another record's moved key is met at its new place.
TEST_F(SharedSeekTest, TheWalkFollowsKeysAnotherProgramChanged) {
  OpenIn(1);
  StartOther();
  GoTop();
  Skip(1);
  ASSERT_EQ(Id(), "30");
  ASSERT_EQ(Other("replace 2 45"), "ok");  // the record this one stands on
  Skip(1);
  EXPECT_EQ(Id(), "50");
  Skip(-1);
  EXPECT_EQ(Id(), "45");
  ASSERT_EQ(Other("replace 3 20"), "ok");  // the record after this one moves before it
  Skip(-1);
  EXPECT_EQ(Id(), "20");
  Skip(-1);
  EXPECT_EQ(Id(), "10");
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 3, 2}));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

// The other program appends at its own pace while this one walks again and again: each walk
// is in key order, without errors, and the last one holds every key.
TEST_F(SharedSeekTest, WalksWhileAnotherProgramAppendsAtTheSameTime) {
  OpenIn(1);
  StartOther();
  const int appends = 1000;
  for (int k = 0; k < appends; ++k) other_->WriteLine("append 3" + std::to_string(10000 + k));
  size_t walked = 0;
  for (int round = 0; round < 5000 && walked < appends + 3; ++round) {
    std::vector<std::string> ids;
    for (GoTop(); !dEOF() && DbLastError == 0; Skip(1)) ids.push_back(Id());
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    ASSERT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    ASSERT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    walked = ids.size();
  }
  for (int k = 0; k < appends; ++k) ASSERT_EQ(other_->ReadLine(), "ok " + std::to_string(k + 4));
  EXPECT_EQ(Walk().size(), size_t{appends + 3});
  EXPECT_EQ(WalkBack().size(), size_t{appends + 3});
}

// A FOR tag that was empty here gets its first key from the other program: Find sees it.
TEST_F(SharedSeekTest, FindSeesTheFirstKeyAnotherProgramGaveAnEmptyForTag) {
  OpenIn(1);
  ASSERT_TRUE(SetOrderToTag("BIG"));
  Find("60");
  ASSERT_EQ(IndexFound, 0);
  StartOther();
  ASSERT_EQ(Other("append 60"), "ok 4");
  Find("60");
  EXPECT_EQ(IndexFound, 1);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{4}));
}

// Another program's change is noticed while the orders are chosen, by a tag the current
// record does not belong to: the current order still stands on its record afterwards.
TEST_F(SharedSeekTest, AChangeNoticedWhileChoosingAnOrderKeepsThePosition) {
  OpenIn(1);
  StartOther();
  GoTop();
  Skip(2);
  ASSERT_EQ(Id(), "50");
  ASSERT_EQ(Other("append 40"), "ok 4");
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  EXPECT_EQ(Id(), "50");
  Skip(1);
  EXPECT_EQ(Id(), "40");
  Skip(1);
  EXPECT_EQ(Id(), "30");
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
}

}  // namespace
}  // namespace tz

