// Index orders as the engine drives them, in the corners: a shared table whose index another
// work area changed meanwhile, records the current order leaves out, and the flags of an order
// whose records are all hidden.
#include <algorithm>
#include <cstring>
#include <random>

#include "tables/engine/tzutils.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// One table and its index opened twice, in work areas 1 and 2, shared.
class TwoAreasTest : public IndexTest {
 protected:
  void SetUp() override {
    table_ = OpenTable("pair.dbf", kTelFields, {"10", "30", "50"});
    ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false},
                           {"BIG", "id", "id > '25'", false, false}},
                          ""));
    CloseAll();
    for (uint8_t area : {1, 2}) {
      Select(area);
      Use(table_ + " ALIAS A" + std::to_string(area));
      ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
    }
  }
  static std::string Id() { return RTrim(std::string(FieldAddress(1) + 1, 10)); }
  static void SetId(const std::string& id) {
    std::memset(FieldAddress(1) + 1, ' ', 10);
    std::memcpy(FieldAddress(1) + 1, id.data(), id.size());
  }
  static void AppendId(const std::string& id) {
    ASSERT_TRUE(ALock());
    ClearRecord();
    SetId(id);
    Append();
    Unlock();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  }
  static void ReplaceId(int32_t record, const std::string& id) {
    GO(record);
    ASSERT_EQ(RecNo(), record);
    ASSERT_TRUE(RLock());
    SetId(id);
    Replace();
    Unlock();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  }

  std::string table_;
};

// This area stands at the end of file, on the blank record after its last record; the other
// area appends a record with the largest key, which takes the blank record's number. Skip(-1)
// goes to that record, the order's last key, and not back to the top.
TEST_F(TwoAreasTest, BackFromTheEndOfFileToARecordTheOtherAreaAppendedThere) {
  Select(1);
  const std::pair<const char*, const char*> cases[] = {{"ID", "x1"}, {"BIG", "x2"}};
  for (const auto& [tag, id] : cases) {
    SCOPED_TRACE(tag);
    ASSERT_TRUE(SetOrderToTag(tag));
    GoBottom();
    Skip(1);
    ASSERT_TRUE(dEOF());
    int32_t blank = RecNo();
    Select(2);
    AppendId(id);  // record `blank`
    Select(1);
    Skip(-1);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), blank);
    EXPECT_EQ(Id(), id);
    EXPECT_FALSE(dBOF());
  }
}

// The other area's appends split the root: this area's tag header still names the old root,
// which now holds only the lower half of the keys.
TEST_F(TwoAreasTest, GoFindsItsRecordInATreeTheOtherAreaGrew) {
  Select(1);
  GoTop();
  Select(2);
  for (int k = 100; k < 300; ++k) AppendId(std::to_string(k));  // records 4 .. 203
  Select(1);
  GO(200);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(RecNo(), 200);
  EXPECT_EQ(Id(), "296");
  Skip(1);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(Id(), "297");
  Skip(-2);
  EXPECT_EQ(Id(), "295");
}

// The other area changed the record so that the current order (its FOR condition) leaves it
// out; this area, still standing on it, replaces it back into the order.
TEST_F(TwoAreasTest, AReplaceOfARecordTheOtherAreaMovedOutOfTheOrderWritesThatRecord) {
  Select(1);
  ASSERT_TRUE(SetOrderToTag("BIG"));
  GO(2);
  ASSERT_EQ(Id(), "30");
  Select(2);
  ReplaceId(2, "20");
  Select(1);
  ASSERT_TRUE(RLock());
  SetId("40");
  Replace();
  Unlock();
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(RecCount(), 3);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{2, 3}));
  ASSERT_TRUE(SetOrderToTag("ID"));
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2, 3}));
  GO(2);
  EXPECT_EQ(Id(), "40");
}

// The other area changed the record this area stands on so that the current order leaves it
// out: this area's Skip goes on from the gap the record left, to its neighbours in the order.
TEST_F(TwoAreasTest, SkipGoesOnFromARecordTheOtherAreaMovedOutOfTheOrder) {
  // In BIG (id > '25'): "30" record 2, "40" record 4, "50" record 3.
  struct Case {
    int32_t stand;
    int32_t skip;
    int32_t record;  // 5: the blank record past the end
    bool eof, bof;
  };
  const Case cases[] = {
      {2, 1, 4, false, false}, {2, -1, 4, false, true},  // the first key: back to the top
      {4, 1, 3, false, false}, {4, -1, 2, false, false},
      {3, 1, 5, true, false},  {3, -1, 4, false, false},
  };
  Select(1);
  AppendId("40");
  const char* ids[] = {"", "10", "30", "50", "40"};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.stand) + " Skip " + std::to_string(c.skip));
    Select(1);
    ASSERT_TRUE(SetOrderToTag("BIG"));
    GO(c.stand);
    ASSERT_EQ(RecNo(), c.stand);
    Select(2);
    ReplaceId(c.stand, "20");
    Select(1);
    Skip(c.skip);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(dEOF(), c.eof);
    EXPECT_EQ(dBOF(), c.bof);
    Select(2);
    ReplaceId(c.stand, ids[c.stand]);
  }
}

// GoTop and GoBottom over records that are all hidden end on the blank record at both ends,
// whichever order the table follows; Skip then goes nowhere.
TEST_F(IndexTest, EveryRecordHiddenLeavesTheTableAtBothEnds) {
  OpenTable("hid.dbf", kTelFields, {"10", "30", "50"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"DOWN", "id", "", true, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  for (int32_t r = 1; r <= 3; ++r) {
    GO(r);
    ASSERT_TRUE(RLock());
    DeleteRec();
    Unlock();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  }
  SetIgnoreDel(true);
  struct Case {
    const char* tag;  // empty: natural order
    bool top;
  };
  const Case cases[] = {{"ID", true}, {"ID", false}, {"DOWN", true},
                        {"DOWN", false}, {"", true}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + (c.top ? " GoTop" : " GoBottom"));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    c.top ? GoTop() : GoBottom();
    EXPECT_EQ(RecNo(), 4);
    EXPECT_TRUE(dEOF());
    EXPECT_TRUE(dBOF());
    Skip(-1);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), 4);
    Skip(1);
    EXPECT_EQ(DbLastError, 212);
  }
}

// GO to a number outside the table puts it at the end of file in its order too: dEOF answers
// true and Skip(-1) goes to the order's last key, as in natural order to the last record.
TEST_F(IndexTest, GoOutsideTheTableIsTheEndOfFileInTheOrder) {
  OpenTable("go.dbf", kTelFields, {"30", "10", "50"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"DOWN", "id", "", true, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  struct Case {
    const char* tag;  // empty: natural order
    int32_t go;
    int32_t last;  // where Skip(-1) goes from there
  };
  const Case cases[] = {{"ID", 0, 3},   {"ID", 4, 3},   {"ID", 9, 3},  {"DOWN", 0, 2},
                        {"DOWN", 9, 2}, {"", 0, 3},     {"", 9, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + " GO " + std::to_string(c.go));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    GO(1);
    GO(c.go);
    EXPECT_EQ(DbLastError, 212);
    EXPECT_EQ(RecNo(), 4);
    EXPECT_TRUE(dEOF());
    Skip(-1);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.last);
    EXPECT_FALSE(dEOF());
  }
}

// A unique tag holds a key for its first record only; a later record with the same key stands
// on that entry. A walk from there ends when the entry was the tag's last, rather than showing
// the key's first record with the order already at its end.
TEST_F(IndexTest, AWalkFromARecordAUniqueTagHoldsUnderAnotherEnds) {
  OpenTable("uniq.dbf", kTelFields, {"a", "b", "b", "a"});
  ASSERT_TRUE(MakeIndex({{"U", "id", "", false, true}, {"UDOWN", "id", "", true, true}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  struct Case {
    const char* tag;
    int32_t go;
    int32_t skip;
    int32_t record;  // 5: the blank record past the end
    bool eof;
  };
  const Case cases[] = {
      {"U", 3, 1, 5, true},       {"U", 3, -1, 1, false},     {"U", 4, 1, 2, false},
      {"UDOWN", 4, 1, 5, true},   {"UDOWN", 4, -1, 2, false}, {"UDOWN", 3, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + " GO " + std::to_string(c.go) + " Skip " +
                 std::to_string(c.skip));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    GO(c.go);
    ASSERT_EQ(RecNo(), c.go);
    Skip(c.skip);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(dEOF(), c.eof);
  }
}

// Once a unique key's first record changes away, the key is gone from the tag although a
// later record still has it. GO to that record stands where its key would be: the walk goes
// on to the keys beside it, and the record is not taken for the end of file.
TEST_F(IndexTest, AWalkGoesOnFromARecordWhoseKeyAUniqueTagLost) {
  struct Case {
    const char* moved;  // record 2's new key ("b" is record 3's too)
    int32_t skip;
    int32_t record;  // 4: the blank record past the end
  };
  const Case cases[] = {
      {"z", 1, 2}, {"z", -1, 1},  // U: a 1, z 2
      {"0", 1, 4}, {"0", -1, 1},  // U: 0 2, a 1; "b" above every key
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.moved) + " Skip " + std::to_string(c.skip));
    CloseAll();
    OpenTable("lost.dbf", kTelFields, {"a", "b", "b"}, " EXCLUSIVE");
    ASSERT_TRUE(MakeIndex({{"U", "id", "", false, true}}, ""));
    ASSERT_TRUE(SetIndexTo(""));
    GO(2);
    std::memset(FieldAddress(1) + 1, ' ', 10);
    std::memcpy(FieldAddress(1) + 1, c.moved, 1);
    Replace();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    GO(3);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), 3);
    EXPECT_FALSE(dEOF());
    Skip(c.skip);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(dEOF(), c.record == 4);
  }
}

// An append whose keys could not all be made leaves its record in the table and in no tag
// (N = 0: RATIO's 100/N fails). The table stays on it, and a walk goes on to the keys beside
// the one the record would have had.
TEST_F(IndexTest, AWalkGoesOnFromARecordWhoseAppendFailedInTheIndex) {
  struct Case {
    const char* tag;
    const char* name;  // the new record's NAME
    int32_t skip;
    int32_t record;  // 5: the blank record past the end
  };
  const Case cases[] = {
      {"NAME", "c", 1, 2},  {"NAME", "c", -1, 1},
      {"NAME", "a", 1, 1},  {"NAME", "a", -1, 1},  // below every key: back to the top
      {"NAME", "e", 1, 5},  {"NAME", "e", -1, 3},  // above every key
      {"RATIO", "c", 1, 5}, {"RATIO", "c", -1, 1},  // no key at all: behind the last one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + " " + c.name + " Skip " + std::to_string(c.skip));
    CloseAll();
    OpenTable("ratio.dbf", {{"NAME", 'C', 10}, {"N", 'N', 6}},
              {"b              4", "d              5", "d              5"}, " EXCLUSIVE");
    ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false},
                           {"RATIO", "100/n", "", false, false}},
                          ""));
    ASSERT_TRUE(SetIndexTo(""));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    GoTop();
    ClearRecord();
    std::memcpy(FieldAddress(1) + 1, c.name, 1);
    Append();
    ASSERT_EQ(DbLastError, 358);
    EXPECT_EQ(RecNo(), 4);
    EXPECT_FALSE(dEOF());
    Skip(c.skip);
    EXPECT_EQ(DbLastError, 0) << DbErrorContext;
    EXPECT_EQ(RecNo(), c.record);
    EXPECT_EQ(dEOF(), c.record == 5);
  }
}

// The first or last key of a tag that holds none is no find, whatever the search before found;
// nor is the next key at the end of file.
TEST_F(IndexTest, NoFirstOrLastKeyOfAnEmptyTagIsFound) {
  OpenTable("none.dbf", kTelFields, {"10", "30"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"NONE", "id", "id > '50'", false, false}},
                        ""));
  ASSERT_TRUE(SetIndexTo(""));
  for (int32_t (*routine)() : {FindFirstRec, FindLastRec}) {
    ASSERT_TRUE(SetOrderToTag("ID"));
    Find("30");
    ASSERT_EQ(IndexFound, 1);
    ASSERT_TRUE(SetOrderToTag("NONE"));
    EXPECT_EQ(routine(), 3);
    EXPECT_EQ(IndexFound, 0);
  }
  ASSERT_TRUE(SetOrderToTag("ID"));
  GoBottom();
  Skip(1);
  ASSERT_TRUE(dEOF());
  EXPECT_EQ(_FindNextRec(), 2);
  EXPECT_EQ(IndexFound, 0);
  EXPECT_TRUE(dEOF());
}

// The first and last key share one routine, and its name is in the report.
TEST_F(IndexTest, FirstOrLastKeyWithoutAnIndex) {
  std::string table = OpenTable("bare.dbf", kTelFields, {"10"});
  for (int32_t (*routine)() : {FindFirstRec, FindLastRec}) {
    routine();
    EXPECT_EQ(DbLastError, 221);
    EXPECT_EQ(TakeErrorContext(), "Index not open. (DBF=" + table + ") [_FindFirst/LastRec]");
  }
}

// An error an earlier command left (here SetOrderToTag of a name no tag has) is no error of
// the next choice of order or search: they do their whole work.
TEST_F(IndexTest, OrdersAndFindAfterAnEarlierError) {
  OpenTable("late.dbf", kTelFields, {"30", "10", "50"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}, {"DOWN", "id", "", true, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  GO(1);
  EXPECT_FALSE(SetOrderToTag("NOSUCH"));
  ASSERT_EQ(DbLastError, 220);
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  Skip(1);
  EXPECT_EQ(RecNo(), 2);  // "30" then "10" going down
  EXPECT_FALSE(SetOrderToTag("NOSUCH"));
  Find("50");
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(IndexFound, 1);
  EXPECT_EQ(RecNo(), 3);
}

// An append the current order's FOR condition leaves out puts the table at the end of file in
// that order: Skip(1) stays there rather than going back to the order's last key.
TEST_F(IndexTest, AfterAnAppendTheOrderLeavesOutTheTableStaysAtTheEnd) {
  OpenTable("for.dbf", kTelFields, {"30", "10", "50"});
  ASSERT_TRUE(MakeIndex({{"BIG", "id", "id > '25'", false, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  GoTop();
  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "20", 2);
  ASSERT_TRUE(ALock());
  Append();
  Unlock();
  ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(RecNo(), 5);
  Skip(1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(dEOF());
  Skip(-1);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(RecNo(), 3);
}

// Choosing natural order by an empty name answers for itself, whatever error an earlier
// command left.
TEST_F(IndexTest, AnEmptyTagNameSelectsNaturalOrderAfterAnEarlierError) {
  OpenTable("nat.dbf", kTelFields, {"10"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  GoBottom();
  Skip(1);
  Skip(1);
  ASSERT_EQ(DbLastError, 212);
  EXPECT_TRUE(SetOrderToTag(""));
  EXPECT_EQ(CurrentOrder(), 0);
}

// With errors raised as exceptions, an append whose last tag's key cannot be made (N = 0:
// 100/N fails) still takes back the keys it gave the tags before, and then raises the error.
TEST_F(IndexTest, ARaisedAppendErrorComesAfterTheTakeBack) {
  OpenTable("raise.dbf", {{"NAME", 'C', 10}, {"N", 'N', 6}}, {"b              4"}, " EXCLUSIVE");
  ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", false, false},
                         {"ONCE", "NAME", "", true, true},
                         {"RATIO", "100/N", "", false, false}},
                        ""));
  ASSERT_TRUE(SetIndexTo(""));
  std::string file = Bytes("raise.MDX");
  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "c", 1);
  DbReportErrors = DbRaiseErrors = true;
  EXPECT_THROW(Append(), ETarazedError);
  DbReportErrors = DbRaiseErrors = false;
  EXPECT_EQ(DbLastError, 358);
  EXPECT_TRUE(Bytes("raise.MDX") == file);
  for (const char* tag : {"NAME", "ONCE", "RATIO"}) {
    SCOPED_TRACE(tag);
    ASSERT_TRUE(SetOrderToTag(tag));
    EXPECT_EQ(Walk(), std::vector<int32_t>{1});
  }
}

// The routine table's key texts, directions and descriptions of the orders, as the table
// components ask for them.
TEST_F(IndexTest, TheRoutineTableDescribesTheOrders) {
  std::string table = OpenTable("keys.dbf", {{"N", 'N', 8, 2}, {"D", 'D', 8}, {"C", 'C', 4}},
                                {"    1.5020240229abcd", "  -12.2519991231wxyz"});
  const TIndexDriver& d = IndexDriver;
  EXPECT_EQ(d.GetCurrentKeyProc(), nullptr);  // no index open
  ASSERT_TRUE(MakeIndex({{"NUM", "n", "", false, false},
                         {"DAT", "d", "", true, false},
                         {"TXT", "c", "", false, false},
                         {"PART", "left(c, 2)", "", true, false}},
                        ""));
  ASSERT_TRUE(SetIndexTo(""));
  GO(2);
  struct Case {
    int tag;
    std::string key;  // of record 2
    int ascending;
  };
  const Case cases[] = {
      {1, "  -12.25", 1}, {2, "12/31/99", 0}, {3, "wxyz", 1}, {4, "wx", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    KeyTextProc key = d.GetOrderKeyProc(c.tag);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key(), c.key);
    EXPECT_EQ(d.OrderIsAscending(c.tag), c.ascending);
    EXPECT_EQ(d.OrderKeyFlag(c.tag), 0);
    std::string text;
    d.GetOrderDescription(c.tag, text);
    EXPECT_EQ(text, (dir_ / "keys.MDX").string() + " [tag: " + MdxTagName(c.tag) + "]");
  }
  EXPECT_EQ(d.GetOrderKeyProc(5), nullptr);
  ASSERT_TRUE(SetOrderToTag("DAT"));
  GO(1);
  EXPECT_EQ(d.GetCurrentKeyProc()(), "02/29/24");
  Set_Order_To(0);
  EXPECT_EQ(d.GetCurrentKeyProc()(), "Rec:         1");
}

// Where every command of a random mix leaves the table, against a model of the tags: appends,
// replaces, deletes and recalls, hiding deleted records, changes of order (natural, ascending,
// descending, a FOR tag), GO, GoTop, GoBottom, Skip by one and two both ways and Find. Every
// tag starts empty, so each holds its entries in the order the writes gave them: a new entry
// goes before the entries with an equal key. Shared, a second work area changes records under
// the first; one it changes out of the current order leaves a gap at its old key, and the
// first area's next Skip goes on from there.
struct NavigationCase {
  unsigned seed;
  bool shared;  // then work area 2 of this program replaces, deletes and recalls records too
};

class NavigationModel : public IndexTest, public ::testing::WithParamInterface<NavigationCase> {
 protected:
  static constexpr int kTags = 3;  // ID, DOWN, BIG (id > 'c')
  // A shorter text that begins the other is the smaller: "c   " passes too.
  static bool Passes(int tag, const std::string& key) { return tag != 3 || key > "c"; }
  static bool Below(int tag, const std::string& a, const std::string& b) {
    return tag == 2 ? a > b : a < b;
  }
  bool Visible(int32_t r) const { return !(hide_ && deleted_[r]); }
  int32_t Count() const { return static_cast<int32_t>(keys_.size()) - 1; }
  int32_t End() const { return Count() + 1; }
  // The records of an order in its sequence; order 0 counts them.
  std::vector<int32_t> List(int order) const {
    if (order > 0) return tags_[order];
    std::vector<int32_t> out;
    for (int32_t r = 1; r <= Count(); ++r) out.push_back(r);
    return out;
  }
  bool InOrder(int order, int32_t r) const {
    const std::vector<int32_t> list = List(order);
    return std::find(list.begin(), list.end(), r) != list.end();
  }
  void Insert(int tag, int32_t r) {
    std::vector<int32_t>& list = tags_[tag];
    auto at = std::find_if(list.begin(), list.end(),
                           [&](int32_t e) { return !Below(tag, keys_[e], keys_[r]); });
    list.insert(at, r);
  }
  void Remove(int tag, int32_t r) {
    std::vector<int32_t>& list = tags_[tag];
    list.erase(std::find(list.begin(), list.end(), r));
  }
  int32_t Top() const {
    for (int32_t r : List(order_))
      if (Visible(r)) return r;
    return End();
  }
  int32_t Bottom() const {
    const std::vector<int32_t> list = List(order_);
    for (auto it = list.rbegin(); it != list.rend(); ++it)
      if (Visible(*it)) return *it;
    return End();
  }
  // The record `n` visible records on in the order, the end (forward) or 0 (the start). A
  // record the order no longer holds stands in the gap at the key it had.
  int32_t Walk(int32_t n) const {
    const std::vector<int32_t> list = List(order_);
    auto size = static_cast<ptrdiff_t>(list.size());
    ptrdiff_t at = current_ == End() ? size
                                     : std::find(list.begin(), list.end(), current_) - list.begin();
    if (current_ != End() && at == size) {
      at = std::find_if(list.begin(), list.end(),
                        [&](int32_t e) { return !Below(order_, keys_[e], made_key_); }) -
           list.begin();
      if (n > 0) --at;
    }
    int32_t counted = 0;
    for (at += n > 0 ? 1 : -1; at >= 0 && at < size; at += n > 0 ? 1 : -1) {
      if (Visible(list[static_cast<size_t>(at)]) && ++counted == std::abs(n))
        return list[static_cast<size_t>(at)];
    }
    return n > 0 ? End() : 0;
  }
  static std::string Padded(const std::string& id) { return id + std::string(4 - id.size(), ' '); }
  static void SetId(const std::string& id) { std::memcpy(FieldAddress(1) + 1, id.data(), 4); }

  // A replace of record r with key k, in every tag.
  void ReplaceInTags(int32_t r, const std::string& k) {
    std::string old = keys_[r];
    for (int t = 1; t <= kTags && old != k; ++t) {
      if (Passes(t, old)) Remove(t, r);
      keys_[r] = k;
      if (Passes(t, k)) Insert(t, r);
      keys_[r] = old;
    }
    keys_[r] = k;
  }
  // A write of this work area, with the lock a shared table asks for.
  template <typename Write>
  void Locked(bool append, Write write) {
    if (GetParam().shared) {
      ASSERT_TRUE(append ? ALock() : RLock()) << DbErrorContext;
    }
    write();
    uint16_t code = DbLastError;
    std::string context = DbErrorContext;
    if (GetParam().shared) Unlock();
    DbLastError = code, DbErrorContext = context;
  }

  std::string made_key_;  // the current record's key when this area last positioned
  std::vector<std::string> keys_{""};  // by record number
  std::vector<bool> deleted_{false};
  std::vector<int32_t> tags_[kTags + 1];
  int order_ = 1;
  int32_t current_ = 1;
  bool hide_ = false;
  // The beginning-of-file flags: the table's, which natural order answers with, and the
  // current order's. Moves set or clear both; reading the record again clears the table's.
  bool table_bof_ = false, order_bof_ = false;
  bool Bof() const { return order_ == 0 ? table_bof_ : order_bof_; }
  void SetBof(bool bof) { table_bof_ = order_bof_ = bof; }
};

TEST_P(NavigationModel, EveryCommandEndsWhereTheModelSays) {
  const bool shared = GetParam().shared;
  std::string table = OpenTable("nav.dbf", {{"ID", 'C', 4}}, {}, shared ? "" : " EXCLUSIVE");
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false},
                         {"DOWN", "id", "", true, false},
                         {"BIG", "id", "id > 'c'", false, false}},
                        ""));
  if (shared) {
    CloseAll();
    for (uint8_t area : {2, 1}) {
      Select(area);
      Use(table + " ALIAS A" + std::to_string(area));
      ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
    }
  } else {
    ASSERT_TRUE(SetIndexTo(""));
  }
  const char* const tag_names[] = {"", "ID", "DOWN", "BIG"};
  std::mt19937 random(GetParam().seed);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto key = [&] { return Padded(std::string(1, static_cast<char>('a' + pick(8)))); };
  const int steps = 3000 / kStepScale;
  for (int step = 0; step < steps; ++step) {
    std::string what;
    bool past_end = false;
    int op = Count() < 3 ? 0 : pick(shared ? 16 : 13);
    bool on_record = current_ != End();
    bool positioned = true;  // the command makes the current record's key
    if (op == 0) {  // append
      std::string k = key();
      what = "Append " + k;
      ClearRecord();
      SetId(k);
      Locked(true, Append);
      keys_.push_back(k);
      deleted_.push_back(false);
      for (int t = 1; t <= kTags; ++t)
        if (Passes(t, k)) Insert(t, Count());
      current_ = InOrder(order_, Count()) ? Count() : End();
      SetBof(false);
    } else if (op == 1 && on_record) {  // replace
      std::string k = key();
      what = "Replace " + std::to_string(current_) + " " + k;
      SetId(k);
      // The whole record buffer is written, its deleted mark as this area last read it.
      bool marked = FieldAddress(0)[0] != 0;
      Locked(false, Replace);
      ReplaceInTags(current_, k);
      deleted_[current_] = marked;
      if (!InOrder(order_, current_)) current_ = End();
      SetBof(false);
    } else if (op == 2 && on_record) {  // delete or recall
      bool del = pick(2) == 0;
      what = std::string(del ? "DeleteRec " : "RecallRec ") + std::to_string(current_);
      Locked(false, del ? DeleteRec : RecallRec);
      deleted_[current_] = del;
      positioned = false;
    } else if (op == 3) {
      hide_ = !hide_;
      what = std::string("SetIgnoreDel ") + (hide_ ? "on" : "off");
      SetIgnoreDel(hide_);
      if (current_ != End()) table_bof_ = false;
      positioned = false;
    } else if (op == 4) {
      int order = pick(kTags + 1);
      what = std::string("SetOrderToTag ") + tag_names[order];
      ASSERT_TRUE(SetOrderToTag(tag_names[order]));
      if (order != 0 && order != order_) {
        if (current_ != End() && !InOrder(order, current_)) current_ = End();
        SetBof(false);
      } else {
        positioned = false;
      }
      order_ = order;
    } else if (op == 5) {
      int32_t r = 1 + pick(Count());
      what = "GO " + std::to_string(r);
      GO(r);
      current_ = order_ == 0 || InOrder(order_, r) ? r : End();
      SetBof(false);
    } else if (op == 6) {
      what = "GoTop";
      GoTop();
      current_ = Top();
      SetBof(current_ == End());
    } else if (op == 7) {
      what = "GoBottom";
      GoBottom();
      current_ = Bottom();
      SetBof(current_ == End());
    } else if (op == 8 && order_ != 0) {
      std::string k = key();
      what = "Find " + k;
      SetExactOn();
      Find(k);
      SetExactOff();
      const std::vector<int32_t>& list = tags_[order_];
      auto at = std::find_if(list.begin(), list.end(),
                             [&](int32_t e) { return !Below(order_, keys_[e], k); });
      while (at != list.end() && !Visible(*at)) ++at;
      current_ = at != list.end() && keys_[*at] == k ? *at : End();
      SetBof(false);
    } else if (op == 15) {
      // The other work area appends; at the end of file this area stays there.
      std::string k = key();
      what = "other area: Append " + k;
      Select(2);
      ASSERT_TRUE(ALock());
      ClearRecord();
      SetId(k);
      Append();
      ASSERT_EQ(DbLastError, 0) << what << ": " << DbErrorContext;
      Unlock();
      Select(1);
      keys_.push_back(k);
      deleted_.push_back(false);
      for (int t = 1; t <= kTags; ++t)
        if (Passes(t, k)) Insert(t, Count());
      if (!on_record) current_ = End();
      continue;
    } else if (op >= 13) {
      // The other work area changes a record, half the time the one this area stands on.
      int32_t r = on_record && pick(2) == 0 ? current_ : 1 + pick(Count());
      std::string k = key();
      bool replace = op == 13;
      bool del = pick(2) == 0;
      what = replace ? "other area: Replace " + std::to_string(r) + " " + k
                     : std::string("other area: ") + (del ? "DeleteRec " : "RecallRec ") +
                           std::to_string(r);
      Select(2);
      GO(r);
      ASSERT_TRUE(RLock());
      if (replace) {
        SetId(k);
        Replace();
      } else {
        del ? DeleteRec() : RecallRec();
      }
      ASSERT_EQ(DbLastError, 0) << what << ": " << DbErrorContext;
      Unlock();
      Select(1);
      replace ? ReplaceInTags(r, k) : void(deleted_[r] = del);
      continue;
    } else {
      int32_t n = pick(2) == 0 ? 1 : 2;
      if (pick(2) == 0) n = -n;
      what = "Skip " + std::to_string(n);
      Skip(n);
      if (n > 0) {
        past_end = current_ == End();  // an error: nothing moves, no flag changes
        if (!past_end) {
          current_ = Walk(n);
          SetBof(false);
        }
        positioned = !past_end;
      } else if (!Bof()) {
        current_ = Walk(n);
        if (current_ == 0) {
          current_ = Top();
          SetBof(true);
        }
      } else {
        positioned = false;
      }
    }
    if (what.empty()) continue;
    if (positioned) made_key_ = current_ != End() ? keys_[current_] : "";
    SCOPED_TRACE("seed " + std::to_string(GetParam().seed) + " step " + std::to_string(step) + ": " +
                 what + " in " + (order_ ? tag_names[order_] : "natural order"));
    if (past_end) {
      ASSERT_EQ(DbLastError, 212);
    } else {
      ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    }
    // At the end of file the blank record keeps its number until this area next looks at the
    // index, although the other area's appends may have given that number to a record.
    if (current_ != End()) {
      ASSERT_EQ(RecNo(), current_);
    }
    ASSERT_EQ(dEOF(), current_ == End());
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, NavigationModel,
                         ::testing::Values(NavigationCase{1, false}, NavigationCase{12, false},
                                           NavigationCase{20261210, false},
                                           NavigationCase{3, true}, NavigationCase{20261211, true}),
                         [](const auto& info) {
                           return std::string(info.param.shared ? "Shared" : "Exclusive") +
                                  std::to_string(info.param.seed);
                         });

}  // namespace
}  // namespace tz
