// Key maintenance: every tag follows appends and replaces, checked against a model of what each
// tag must hold, against a fresh Reindex and against an independent reader (index_dump); node
// splits, root growth and collapse; unique tags; the take-back of a failed append and of a
// failed replace.
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include <signal.h>
#include <sys/resource.h>

#include "platform/testing/child_process.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxlow.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

// NAME C60, CODE C4, N N8.2, D D8. The long names keep only 14 keys in a node, so a few hundred
// records give trees of three levels.
const std::vector<RawField> kFields = {
    {"NAME", 'C', 60}, {"CODE", 'C', 4}, {"N", 'N', 8, 2}, {"D", 'D', 8}};

struct Row {
  std::string name;  // 60 bytes
  std::string code;  // 4 bytes
  int quarters = 0;  // N is quarters / 4, exact in binary and in two decimals
  std::string dtos;  // YYYYMMDD
  bool deleted = false;
};

std::string NumberText(int quarters) {
  int a = quarters < 0 ? -quarters : quarters;
  static const char* const kFraction[] = {".00", ".25", ".50", ".75"};
  return (quarters < 0 ? "-" : "") + std::to_string(a / 4) + kFraction[a % 4];
}

// The record as stored, without its deleted mark: tables convert their texts to code page 850.
std::string Stored(const Row& r) {
  std::string n = NumberText(r.quarters);
  return AnsiToOemStr(r.name) + r.code + std::string(8 - n.size(), ' ') + n + r.dtos;
}

// The row into the selected work area's field value record (date format 0, two-digit years).
void SetFields(const Row& r) {
  std::memset(FieldAddress(1) + 1, ' ', 60);
  std::memcpy(FieldAddress(1) + 1, r.name.data(), 60);
  std::memcpy(FieldAddress(2) + 1, r.code.data(), 4);
  double n = r.quarters / 4.0;
  std::memcpy(FieldAddress(3), &n, sizeof n);
  std::string date = r.dtos.substr(4, 2) + "/" + r.dtos.substr(6, 2) + "/" + r.dtos.substr(2, 2);
  std::memcpy(FieldAddress(4) + 1, date.data(), 8);
}

enum class Kind { kName, kCode, kNumber, kDate };

struct TagSpec {
  TIndexListEntry def;
  Kind kind;
  bool (*passes)(const Row&);  // the FOR condition; nullptr: none
};

const TagSpec kTags[] = {
    {{"NAME", "name", "", false, false}, Kind::kName, nullptr},
    {{"NAMEDN", "name", "", true, false}, Kind::kName, nullptr},
    {{"CODE", "code", "", false, true}, Kind::kCode, nullptr},
    {{"CODEDNFOR", "code", "n < 50", true, true},
     Kind::kCode,
     [](const Row& r) { return r.quarters < 200; }},
    {{"NUM", "n", "", false, false}, Kind::kNumber, nullptr},
    {{"NUMFOR", "n", "n > 0", true, false},
     Kind::kNumber,
     [](const Row& r) { return r.quarters > 0; }},
    {{"DAT", "d", "", false, false}, Kind::kDate, nullptr},
    // The key does not depend on the condition: a replace of CODE alone moves the record in
    // and out of this tag with its key unchanged.
    {{"DATFOR", "d", "code < 'C   '", true, false},
     Kind::kDate,
     [](const Row& r) { return r.code < "C   "; }},
};
constexpr int kTagCount = static_cast<int>(std::size(kTags));

std::string KeyOf(const TagSpec& t, const Row& r) {
  switch (t.kind) {
    case Kind::kName:
      return AnsiToOemStr(r.name);
    case Kind::kCode:
      return r.code;
    case Kind::kNumber: {
      BcdKey key;
      TextToBcdKey(key, NumberText(r.quarters), 2);
      return std::string(key.begin(), key.end());
    }
    case Kind::kDate: {
      double julian = DtosToJulian(r.dtos);
      std::string bytes(8, '\0');
      std::memcpy(bytes.data(), &julian, 8);
      return bytes;
    }
  }
  return "";
}

int CompareKeyText(const TagSpec& t, const std::string& a, const std::string& b) {
  auto* pa = reinterpret_cast<const uint8_t*>(a.data());
  auto* pb = reinterpret_cast<const uint8_t*>(b.data());
  int c = t.kind == Kind::kNumber ? CompareBcdKeys(pa, pb, a.size())
          : t.kind == Kind::kDate ? CompareDateKeys(pa, pb, a.size())
                                  : CompareBytes(pa, pb, a.size());
  return t.def.Descending ? -c : c;
}

struct Entry {
  std::string key;
  int32_t record;
  bool operator==(const Entry&) const = default;
};

// What one tag holds, in walk order. A new key goes before the entries with an equal key; a
// unique tag keeps the first entry of a key value and nothing comes back when it leaves.
class TagModel {
 public:
  explicit TagModel(const TagSpec& spec) : spec_(&spec) {}

  bool Passes(const Row& r) const { return !spec_->passes || spec_->passes(r); }

  void Add(const Row& r, int32_t record) {
    if (!Passes(r)) return;
    std::string key = KeyOf(*spec_, r);
    auto at = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [this](const Entry& e, const std::string& k) {
                                 return CompareKeyText(*spec_, e.key, k) < 0;
                               });
    if (spec_->def.Unique && at != entries_.end() && CompareKeyText(*spec_, at->key, key) == 0)
      return;
    entries_.insert(at, Entry{key, record});
  }
  void Remove(int32_t record) {
    std::erase_if(entries_, [record](const Entry& e) { return e.record == record; });
  }
  // A replace of `record` from `before` to `after`.
  void Replace(const Row& before, const Row& after, int32_t record) {
    bool was = Passes(before), is = Passes(after);
    bool changed = KeyOf(*spec_, before) != KeyOf(*spec_, after);
    if (was && (changed || !is)) Remove(record);
    if (is && (changed || !was)) Add(after, record);
  }
  // What a build from the rows holds: keys sorted, equal keys by record number, the first
  // record of a key value alone in a unique tag.
  static TagModel Built(const TagSpec& spec, const std::vector<Row>& rows) {
    TagModel m(spec);
    for (size_t i = 0; i < rows.size(); ++i)
      if (m.Passes(rows[i]))
        m.entries_.push_back({KeyOf(spec, rows[i]), static_cast<int32_t>(i + 1)});
    m.entries_ = m.Sorted();
    if (spec.def.Unique)
      m.entries_.erase(std::unique(m.entries_.begin(), m.entries_.end(),
                                   [&spec](const Entry& a, const Entry& b) {
                                     return CompareKeyText(spec, a.key, b.key) == 0;
                                   }),
                       m.entries_.end());
    return m;
  }

  std::vector<int32_t> Walk(const std::vector<Row>& rows, bool hide_deleted) const {
    std::vector<int32_t> out;
    for (const Entry& e : entries_)
      if (!hide_deleted || !rows[static_cast<size_t>(e.record - 1)].deleted)
        out.push_back(e.record);
    return out;
  }
  const std::vector<Entry>& entries() const { return entries_; }
  // Sorted by key, equal keys by record number: the order a build gives.
  std::vector<Entry> Sorted() const {
    std::vector<Entry> out = entries_;
    std::stable_sort(out.begin(), out.end(), [this](const Entry& a, const Entry& b) {
      int c = CompareKeyText(*spec_, a.key, b.key);
      return c != 0 ? c < 0 : a.record < b.record;
    });
    return out;
  }

 private:
  const TagSpec* spec_;
  std::vector<Entry> entries_;
};

std::string Listing(const std::vector<Entry>& keys) {
  std::string out;
  for (const Entry& e : keys) out += e.key + " " + std::to_string(e.record) + "\n";
  return out;
}

// Checks the tree of tag k in the index file bytes: every node is read from a valid block, the
// leaves all lie at one depth, keys ascend in walk order and no key lies above the separator
// that leads to it. Empty when it holds; what is wrong otherwise.
std::string CheckTree(const std::string& file, int k,
                      const std::function<int(const std::string&, const std::string&)>& cmp) {
  size_t anchor = size_t{Word32(file, 512 + 32 * static_cast<size_t>(k))} * 512;
  uint16_t key_length = Word16(file, anchor + 12), entry = Word16(file, anchor + 18);
  uint16_t per_node = Word16(file, anchor + 14);
  int leaf_depth = -1;
  std::string error, last_key;
  bool any = false;
  std::function<void(uint32_t, int, const std::string*)> visit = [&](uint32_t block, int depth,
                                                                     const std::string* bound) {
    if (!error.empty()) return;
    size_t at = size_t{block} * 512;
    if (block < 4 || block % 2 || at + 1024 > file.size() || depth > 20) {
      error = "bad block " + std::to_string(block);
      return;
    }
    uint16_t count = Word16(file, at);
    if (count > per_node) {
      error = "node " + std::to_string(block) + " holds " + std::to_string(count);
      return;
    }
    uint32_t trailing = Word32(file, at + 8 + size_t{count} * entry);
    for (int i = 0; i <= count; ++i) {
      if (i == count && trailing == 0) break;
      size_t e = at + 8 + size_t(i) * entry;
      std::string key = i < count ? file.substr(e + 4, key_length) : std::string();
      const std::string* child_bound = i < count ? &key : bound;
      if (trailing == 0) {
        if (leaf_depth < 0) leaf_depth = depth;
        if (leaf_depth != depth)
          error =
              "leaves at depths " + std::to_string(leaf_depth) + " and " + std::to_string(depth);
        if (any && cmp(last_key, key) > 0) error = "keys out of order in " + std::to_string(block);
        if (bound && cmp(key, *bound) > 0)
          error = "key above its separator in " + std::to_string(block);
        last_key = key;
        any = true;
      } else {
        if (bound && i < count && cmp(key, *bound) > 0)
          error = "separator above its parent's in " + std::to_string(block);
        visit(Word32(file, e), depth + 1, child_bound);
      }
      if (!error.empty()) return;
    }
  };
  visit(Word32(file, anchor), 0, nullptr);
  return error;
}

// Tree depth of tag k: root to its leftmost leaf.
int Depth(const std::string& file, int k) {
  size_t anchor = size_t{Word32(file, 512 + 32 * static_cast<size_t>(k))} * 512;
  uint16_t entry = Word16(file, anchor + 18);
  size_t block = Word32(file, anchor);
  for (int depth = 1; depth < 40; ++depth) {
    size_t node = block * 512;
    uint16_t count = Word16(file, node);
    uint32_t trailing = Word32(file, node + 8 + size_t{count} * entry);
    if (trailing == 0) return depth;
    block = count ? Word32(file, node + 8) : trailing;
  }
  return 40;
}

class MaintTest : public IndexTest {
 protected:
  // Appends a record from the row (under the append lock on a shared table).
  void AppendRow(const Row& r, bool shared) {
    if (shared) {
      ASSERT_TRUE(ALock());
    }
    ClearRecord();
    SetFields(r);
    Append();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    if (shared) Unlock();
  }
  void ReplaceRow(int32_t record, const Row& r, bool shared) {
    GO(record);
    ASSERT_EQ(RecNo(), record);
    if (shared) {
      ASSERT_TRUE(RLock());
    }
    SetFields(r);
    Replace();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    if (shared) Unlock();
  }
};

class RandomRows {
 public:
  explicit RandomRows(uint32_t seed) : random_(seed) {}
  int Below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  std::string Name() {
    // Few letters, often with a shared start, and now and then an accented letter, stored
    // (and compared) as its code page 850 byte.
    std::string name(60, ' ');
    int length = 1 + Below(4);
    for (int i = 0; i < length; ++i) name[i] = static_cast<char>("ABCDEF\xE9\xC4"[Below(8)]);
    if (Below(8) == 0) name[59] = 'z';
    return name;
  }
  std::string Code() {
    return std::string{static_cast<char>('A' + Below(5)), static_cast<char>('A' + Below(5))} + "  ";
  }
  int Quarters() { return Below(601) - 300; }
  std::string Dtos() {
    return std::to_string(1990 + Below(40)) + IntToStrZeroPad(1 + Below(12), 2) +
           IntToStrZeroPad(1 + Below(28), 2);
  }
  Row Make() { return Row{Name(), Code(), Quarters(), Dtos()}; }

 private:
  std::mt19937 random_;
};

struct ModelCase {
  uint32_t seed;
  bool shared;  // with network locking: append and record locks, semaphore brackets
  int steps;
};

void PrintTo(const ModelCase& c, std::ostream* os) {
  *os << "seed " << c.seed << (c.shared ? " shared " : " exclusive ") << c.steps << " steps";
}

class ModelTest : public MaintTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ModelTest, EveryTagFollowsRandomAppendsReplacesAndDeletes) {
  const ModelCase param = GetParam();
  SCOPED_TRACE("seed " + std::to_string(param.seed));
  RandomRows random(param.seed);
  std::vector<Row> rows;
  std::vector<std::string> stored;
  for (int i = 0; i < 30; ++i) {
    rows.push_back(random.Make());
    stored.push_back(Stored(rows.back()));
  }
  OpenTable("model.dbf", kFields, stored, param.shared ? "" : " EXCLUSIVE");
  std::vector<TIndexListEntry> defs;
  for (const TagSpec& t : kTags) defs.push_back(t.def);
  ASSERT_TRUE(MakeIndex(defs, "")) << DbErrorContext;
  ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  // The build orders equal keys by record number; the model follows from there.
  std::vector<TagModel> models;
  for (const TagSpec& t : kTags) models.push_back(TagModel::Built(t, rows));

  bool hide = false;
  for (int step = 0; step < param.steps / kStepScale; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    int what = random.Below(100);
    auto record = static_cast<int32_t>(1 + random.Below(static_cast<int>(rows.size())));
    Row& row = rows[static_cast<size_t>(record - 1)];
    // Maintenance must not depend on the order that is current. A record that an order's FOR
    // condition leaves out cannot be gone to in that order (the table goes to the end of file),
    // so it is written to in natural order instead.
    int order = random.Below(kTagCount + 1);
    if (what >= 30 && what < 95 && order > 0 && !models[size_t(order - 1)].Passes(row)) order = 0;
    Set_Order_To(order);
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    if (what < 30) {
      Row r = random.Make();
      if (random.Below(4) == 0) r.code = rows[static_cast<size_t>(record - 1)].code;  // unique dups
      AppendRow(r, param.shared);
      rows.push_back(r);
      auto added = static_cast<int32_t>(rows.size());
      // A new record the current order's FOR condition leaves out: the end of file there.
      bool left_out = order > 0 && !models[size_t(order - 1)].Passes(r);
      ASSERT_EQ(RecNo(), left_out ? added + 1 : added);
      ASSERT_EQ(dEOF(), left_out);
      for (TagModel& m : models) m.Add(r, added);
    } else if (what < 80) {
      Row r = row;
      switch (random.Below(6)) {
        case 0:
          r.name = random.Name();
          break;
        case 1:
          r.code = random.Code();
          break;  // in and out of DATFOR with its key kept
        case 2:
          r.quarters = random.Quarters();
          break;
        case 3:
          r.dtos = random.Dtos();
          break;
        case 4:
          break;  // nothing changes
        default:
          r = random.Make(), r.deleted = row.deleted;
          break;
      }
      ReplaceRow(record, r, param.shared);
      for (TagModel& m : models) m.Replace(row, r, record);
      row = r;
    } else if (what < 95) {
      // A delete mark moves no key; the walks with deleted records hidden pass it over.
      GO(record);
      if (param.shared) {
        ASSERT_TRUE(RLock());
      }
      if (row.deleted)
        RecallRec();
      else
        DeleteRec();
      ASSERT_EQ(DbLastError, 0) << DbErrorContext;
      if (param.shared) Unlock();
      row.deleted = !row.deleted;
    } else {
      hide = !hide;
      SetIgnoreDel(hide);
    }
    for (int k = 1; k <= kTagCount; ++k) {
      Set_Order_To(k);
      ASSERT_EQ(Walk(), models[size_t(k - 1)].Walk(rows, hide)) << kTags[k - 1].def.TagName;
      if (step % 50 == 0) {
        ASSERT_EQ(WalkBack(), models[size_t(k - 1)].Walk(rows, hide)) << kTags[k - 1].def.TagName;
      }
    }
  }
  SetIgnoreDel(false);

  // The file as another reader sees it.
  std::string file = Bytes("model.MDX");
  for (int k = 1; k <= kTagCount; ++k) {
    const TagSpec& t = kTags[k - 1];
    auto cmp = [&t](const std::string& a, const std::string& b) { return CompareKeyText(t, a, b); };
    EXPECT_EQ(CheckTree(file, k, cmp), "") << t.def.TagName;
    // index_dump walks a descending tag in its stored order, as we do.
    EXPECT_TRUE(Dump("model.MDX", t.def.TagName) == Listing(models[size_t(k - 1)].entries()))
        << t.def.TagName;
  }

  // A fresh build of the same records holds the same keys; in a unique tag a key whose first
  // record changed away is gone until the rebuild brings it back with another record.
  ASSERT_TRUE(Reindex()) << DbErrorContext;
  for (int k = 1; k <= kTagCount; ++k) {
    const TagSpec& t = kTags[k - 1];
    std::vector<Entry> built = TagModel::Built(t, rows).entries();
    std::vector<int32_t> built_walk;
    for (const Entry& e : built) built_walk.push_back(e.record);
    Set_Order_To(k);
    EXPECT_EQ(Walk(), built_walk) << t.def.TagName;
    if (!t.def.Unique) {
      EXPECT_EQ(models[size_t(k - 1)].Sorted(), built) << t.def.TagName;
    } else {
      for (const Entry& e : models[size_t(k - 1)].entries())
        EXPECT_TRUE(
            std::any_of(built.begin(), built.end(), [&](const Entry& b) { return b.key == e.key; }))
            << t.def.TagName << " keeps a key no record has";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ModelTest,
                         ::testing::Values(ModelCase{20261210, false, 2000},
                                           ModelCase{7, true, 300}),
                         [](const auto& info) {
                           return std::string(info.param.shared ? "Shared" : "Exclusive") +
                                  std::to_string(info.param.seed);
                         });

}  // namespace
}  // namespace tz

namespace tz {
namespace {

// K C100 (nine keys in a node), F C1.
const std::vector<RawField> kLongFields = {{"K", 'C', 100}, {"F", 'C', 1}};

void SetLong(const std::string& key, char f) {
  std::memset(FieldAddress(1) + 1, ' ', 100);
  std::memcpy(FieldAddress(1) + 1, key.data(), key.size());
  FieldAddress(2)[1] = f;
}

std::string LongKey(int i) {
  std::string key = "key " + IntToStrZeroPad(i, 4);
  return key + std::string(100 - key.size(), ' ');
}

TEST_F(MaintTest, TreesGrowByRootSplitsAndShrinkByRootCollapses) {
  OpenTable("grow.dbf", kLongFields, {}, " EXCLUSIVE");
  // Ascending keys always go to the last child of every node, descending ones to the first.
  ASSERT_TRUE(
      MakeIndex({{"UP", "k", "f = 'Y'", false, false}, {"DOWN", "k", "", true, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  auto up = [](const std::string& a, const std::string& b) { return a.compare(b); };
  auto down = [](const std::string& a, const std::string& b) { return b.compare(a); };
  std::vector<int32_t> ascending, descending;
  int depth = 1;
  std::vector<int> root_splits;
  for (int i = 1; i <= 120; ++i) {
    ClearRecord();
    SetLong(LongKey(i), 'Y');
    Append();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    std::string file = Bytes("grow.MDX");
    ASSERT_EQ(CheckTree(file, 1, up), "") << i;
    ASSERT_EQ(CheckTree(file, 2, down), "") << i;
    if (Depth(file, 1) != depth) root_splits.push_back(i), depth = Depth(file, 1);
    ascending.push_back(i);
    descending.insert(descending.begin(), i);
  }
  // Nine keys fill a root leaf; the tenth splits it. Every split of the last leaf leaves five
  // keys behind, so the tenth such split, at key 55, gives the inner root its tenth entry.
  EXPECT_EQ(root_splits, (std::vector<int>{10, 55}));
  EXPECT_EQ(Depth(Bytes("grow.MDX"), 2), 3);
  ASSERT_TRUE(SetOrderToTag("UP"));
  EXPECT_EQ(Walk(), ascending);
  EXPECT_EQ(WalkBack(), ascending);
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  EXPECT_EQ(Walk(), descending);

  // Records leave the FOR tag one after the other, from the front, the back and the middle.
  std::vector<int> collapses;
  std::mt19937 random(11);
  while (!ascending.empty()) {
    size_t at = random() % ascending.size();
    int32_t record = ascending[at];
    ascending.erase(ascending.begin() + static_cast<ptrdiff_t>(at));
    GO(record);
    SetLong(LongKey(record), 'N');
    Replace();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    std::string file = Bytes("grow.MDX");
    ASSERT_EQ(CheckTree(file, 1, up), "") << record;
    if (Depth(file, 1) != depth)
      collapses.push_back(static_cast<int>(ascending.size())), depth = Depth(file, 1);
    ASSERT_TRUE(SetOrderToTag("UP"));
    ASSERT_EQ(Walk(), ascending) << record;
  }
  EXPECT_EQ(collapses.size(), 2u);
  EXPECT_EQ(depth, 1);
  std::string file = Bytes("grow.MDX");
  size_t anchor = size_t{Word32(file, 512 + 32)} * 512;
  EXPECT_EQ(Word16(file, size_t{Word32(file, anchor)} * 512), 0);  // an empty root leaf
  EXPECT_EQ(file[anchor + 246], 0);  // no record passes any more: the tag is empty again
  EXPECT_EQ(FindFirstRec(), 121);
  EXPECT_TRUE(Walk().empty());
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  EXPECT_EQ(Walk(), descending);  // a change of F alone moves no key of DOWN
}

}  // namespace
}  // namespace tz

namespace tz {
namespace {

// CODE C4 (tag CODE, unique), NAME C10 (tag NAME, after it).
// A node another program wrote may hold anything behind its entries, in the padding of each
// entry and in the word after its count. A key inserted into it leaves the node as the index
// build would write it: the entries, the trailing pointer, zeros everywhere else.
TEST_F(MaintTest, AKeyInsertedIntoANodeLeavesItFreshWhateverItHeldBehindItsEntries) {
  const std::string path =
      OpenTable("junk.dbf", kTelFields, {"1001", "1002", "1003", "1004", "1005"}, " EXCLUSIVE");
  ASSERT_TRUE(MakeIndex({{"ID", "ID", "", false, false}}, "")) << TakeErrorContext();
  CloseDatabase();
  std::string mdx = Bytes("junk.MDX");
  const size_t anchor = size_t{Word32(mdx, 512 + 32)} * 512;
  const size_t root = size_t{Word32(mdx, anchor)} * 512;  // five keys: the root is the leaf
  const size_t entry = Word16(mdx, anchor + 18), key_length = Word16(mdx, anchor + 12);
  ASSERT_EQ(Word16(mdx, root), 5);
  ASSERT_GT(entry, 4 + key_length) << "entries have padding";
  for (size_t at = root + 4; at < root + 8; ++at) mdx[at] = '\xAA';
  for (size_t i = 0; i < 5; ++i)
    for (size_t at = 4 + key_length; at < entry; ++at) mdx[root + 8 + i * entry + at] = '\xAA';
  for (size_t at = root + 8 + 5 * entry + 4; at < root + 1024; ++at) mdx[at] = '\xAA';
  dir_.Write("junk.MDX", mdx);

  Use(path + " EXCLUSIVE");
  ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "1003A", 5);
  Append();
  ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
  CloseDatabase();

  std::string expected(1024, '\0');
  expected[0] = 6;
  const std::pair<const char*, int> entries[] = {{"1001", 1},  {"1002", 2}, {"1003", 3},
                                                 {"1003A", 6}, {"1004", 4}, {"1005", 5}};
  for (size_t i = 0; i < 6; ++i) {
    const size_t at = 8 + i * entry;
    expected[at] = static_cast<char>(entries[i].second);
    std::string key = entries[i].first;
    key.resize(key_length, ' ');
    expected.replace(at + 4, key_length, key);
  }
  EXPECT_EQ(Bytes("junk.MDX").substr(root, 1024), expected);
}

TEST_F(MaintTest, UniqueTagsKeepOneRecordPerKey) {
  OpenTable("unique.dbf", {{"CODE", 'C', 4}, {"NAME", 'C', 10}}, {"AA  n1", "BB  n2"},
            " EXCLUSIVE");
  ASSERT_TRUE(
      MakeIndex({{"CODE", "code", "", false, true}, {"NAME", "name", "", false, false}}, ""));
  ASSERT_TRUE(SetIndexTo(""));
  struct Case {
    int32_t record;  // 0 appends
    std::string code, name;
    std::vector<int32_t> code_walk, name_walk;
  };
  const Case cases[] = {
      {0, "AA", "n3", {1, 2}, {1, 2, 3}},     // a second AA adds nothing
      {3, "CC", "n3", {1, 2, 3}, {1, 2, 3}},  // until it changes to a key of its own
      {3, "AA", "n3", {1, 2}, {1, 2, 3}},     // and back
      {1, "DD", "n1", {2, 1}, {1, 2, 3}},     // AA leaves with its record, though 3 has it
      {3, "EE", "a0", {2, 1, 3}, {3, 1, 2}},  // 3 had no AA entry to remove
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.record) + " " + c.code);
    ASSERT_TRUE(SetOrderToTag(c.record % 2 ? "CODE" : "NAME"));
    if (c.record == 0) {
      ClearRecord();
    } else {
      GO(c.record);
      ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    }
    std::memset(FieldAddress(1) + 1, ' ', 4);
    std::memcpy(FieldAddress(1) + 1, c.code.data(), c.code.size());
    std::memset(FieldAddress(2) + 1, ' ', 10);
    std::memcpy(FieldAddress(2) + 1, c.name.data(), c.name.size());
    if (c.record == 0)
      Append();
    else
      Replace();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    ASSERT_TRUE(SetOrderToTag("CODE"));
    EXPECT_EQ(Walk(), c.code_walk);
    ASSERT_TRUE(SetOrderToTag("NAME"));
    EXPECT_EQ(Walk(), c.name_walk);
  }
  // Record 3 without an entry in CODE: going to it there is no error.
  ASSERT_TRUE(SetOrderToTag("CODE"));
  GO(3);
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  EXPECT_EQ(RecNo(), 3);
}

}  // namespace
}  // namespace tz

namespace tz {
namespace {

class AppendRollback : public MaintTest {
 protected:
  // The walks of every tag.
  std::vector<std::vector<int32_t>> Walks(int tags) {
    std::vector<std::vector<int32_t>> out;
    for (int k = 1; k <= tags; ++k) {
      Set_Order_To(k);
      out.push_back(Walk());
    }
    return out;
  }
};

TEST_F(AppendRollback, AKeyThatCannotBeMadeTakesBackTheKeysOfTheTagsBefore) {
  // NAME C10, N N6: the last tag divides by N.
  OpenTable("ratio.dbf", {{"NAME", 'C', 10}, {"N", 'N', 6}},
            {"b              4", "a              5"}, " EXCLUSIVE");
  // Expressions as the open index writes them back, so the file's bytes can be compared.
  ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", false, false},
                         {"ONCE", "NAME", "", true, true},
                         {"RATIO", "100/N", "", false, false}},
                        ""));
  ASSERT_TRUE(SetIndexTo(""));
  const std::vector<std::vector<int32_t>> before = {{2, 1}, {1, 2}, {2, 1}};
  ASSERT_EQ(Walks(3), before);
  std::string file = Bytes("ratio.MDX");
  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "c", 1);  // N stays 0
  Append();
  EXPECT_EQ(DbLastError, 358);
  EXPECT_EQ(TakeErrorContext(), "Error during evaluation: Divide by 0 [Evaluate/Engine]");
  EXPECT_TRUE(Bytes("ratio.MDX") == file);
  EXPECT_EQ(Walks(3), before);

  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "c", 1);
  int32_t ten = 10;
  std::memcpy(FieldAddress(2), &ten, sizeof ten);
  Append();
  ASSERT_EQ(DbLastError, 0) << DbErrorContext;
  // Record 3 stays in the table, in no tag.
  EXPECT_EQ(Walks(3), (std::vector<std::vector<int32_t>>{{2, 1, 4}, {4, 1, 2}, {4, 2, 1}}));
}

// Refuses writes behind `size` bytes of any file for the life of the object, as a full disk
// would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(size_t size) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved_action_);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = size;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    sigaction(SIGXFSZ, &saved_action_, nullptr);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  struct sigaction saved_action_ {};
};

TEST_F(AppendRollback, ANodeThatCannotBeWrittenTakesBackTheKeysOfTheTagsBefore) {
  // LONG's leaves and inner nodes hold nine keys; the build fills them. The new key splits a
  // full leaf, and with 90 records also the full root above it, which gives a new root: up
  // to three new nodes behind the end of the file, of which the limit lets `room` be written.
  struct Case {
    int records;
    size_t room;
  };
  const Case cases[] = {{9, 0}, {90, 0}, {90, 1}, {90, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.records) + " records, room for " + std::to_string(c.room));
    std::vector<std::string> records;
    for (int i = 1; i <= c.records; ++i) records.push_back(LongKey(2 * i) + "Y");
    OpenTable("full.dbf", kLongFields, records, " EXCLUSIVE");
    ASSERT_TRUE(MakeIndex({{"F", "F", "", false, false}, {"LONG", "K", "", false, false}}, ""));
    ASSERT_TRUE(SetIndexTo(""));
    const auto before = Walks(2);
    std::string file = Bytes("full.MDX");
    ASSERT_GT(file.size(), Bytes("full.dbf").size() + 1024 * c.room + 200);
    {
      FileSizeLimit limit(file.size() + 1024 * c.room);
      ClearRecord();
      SetLong(LongKey(11), 'Y');  // between records 5 and 6
      Append();
    }
    EXPECT_NE(DbLastError, 0);
    // Nodes written before the failure may stay behind the end; no node the tags use changed.
    EXPECT_TRUE(Bytes("full.MDX").substr(0, file.size()) == file);
    EXPECT_EQ(Walks(2), before);
    ASSERT_EQ(Depth(Bytes("full.MDX"), 2), c.records > 9 ? 2 : 1);

    ClearRecord();
    SetLong(LongKey(13), 'Y');
    Append();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    const auto n = static_cast<int32_t>(c.records);
    std::vector<int32_t> equal = {n + 2}, sorted;
    for (int32_t r = 1; r <= n; ++r) {
      equal.push_back(r);
      sorted.push_back(r);
      if (r == 6) sorted.push_back(n + 2);
    }
    if (n < 6) sorted.push_back(n + 2);
    // A new key goes before the equal ones.
    EXPECT_EQ(Walks(2), (std::vector<std::vector<int32_t>>{equal, sorted}));
    EXPECT_EQ(CheckTree(Bytes("full.MDX"), 2,
                        [](const std::string& a, const std::string& b) { return a.compare(b); }),
              "");
    CloseAll();
  }
}

// A replace is all or nothing across the tags. NAME C10, N N6, K C100; the tags, in this
// order: NAME, and ONCE (unique), on NAME, holding all 18 records in their root leaf; LONG on
// K, two full leaves of nine under a root; RATIO on 100/N. The replace gives record 3 a new
// NAME, so the first two tags move its key; then a later tag's key cannot move. Afterwards
// the table and the index file hold the bytes they held before and every tag walks as before.
class ReplaceRollback : public AppendRollback {};

TEST_F(ReplaceRollback, ALaterKeyThatCannotMovePutsBackTheRecordAndTheEarlierKeys) {
  struct Case {
    const char* what;
    int32_t n;  // the new N (record 3 holds 3)
    int k;      // the new K (LongKey(6) now)
    bool full;  // no room behind the index file's end
    bool damaged;
    bool raise;  // errors raised as exceptions
    uint16_t code;
  };
  const Case cases[] = {
      {"RATIO's key cannot be made (N = 0)", 0, 6, false, false, false, 358},
      {"RATIO's key cannot be made, raised", 0, 6, false, false, true, 358},
      // K moves from the first leaf into the second, full one, which must split.
      {"LONG needs a node and the disk is full", 3, 21, true, false, false, 31},
      {"LONG needs a node and the disk is full, raised", 3, 21, true, false, true, 31},
      {"RATIO's root leaf cannot be read", 5, 6, false, true, false, 222},
      {"RATIO's root leaf cannot be read, raised", 5, 6, false, true, true, 222},
  };
  auto set_record = [](const std::string& name, int32_t n, int k) {
    std::memset(FieldAddress(1) + 1, ' ', 10);
    std::memcpy(FieldAddress(1) + 1, name.data(), name.size());
    std::memcpy(FieldAddress(2), &n, sizeof n);
    std::memcpy(FieldAddress(3) + 1, LongKey(k).data(), 100);
  };
  const std::vector<RawField> fields = {{"NAME", 'C', 10}, {"N", 'N', 6}, {"K", 'C', 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> records;
    for (int i = 1; i <= 18; ++i) {
      std::string n = std::to_string(i);
      records.push_back("n" + IntToStrZeroPad(i, 2) + "       " + std::string(6 - n.size(), ' ') +
                        n + LongKey(2 * i));
    }
    OpenTable("swap.dbf", fields, records, " EXCLUSIVE");
    // Expressions as the open index writes them back, so the file's bytes can be compared.
    ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", false, false},
                           {"ONCE", "NAME", "", false, true},
                           {"LONG", "K", "", false, false},
                           {"RATIO", "100/N", "", false, false}},
                          ""));
    if (c.damaged) {
      CloseAll();
      std::string mdx = Bytes("swap.MDX");
      size_t anchor = size_t{Word32(mdx, 512 + 32 * 4)} * 512;
      mdx[size_t{Word32(mdx, anchor)} * 512] = 100;  // 63 keys at most
      dir_.Write("swap.MDX", mdx);
      Use((dir_ / "swap.dbf").string() + " EXCLUSIVE");
    }
    ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
    const int walked = c.damaged ? 3 : 4;
    const auto before = Walks(walked);
    ASSERT_EQ(before[0].size(), 18u);
    const std::string dbf = Bytes("swap.dbf"), mdx = Bytes("swap.MDX");
    Set_Order_To(1);
    GO(3);
    set_record("a", c.n, c.k);
    {
      FileSizeLimit limit(c.full ? mdx.size() : size_t{1} << 30);
      DbReportErrors = DbRaiseErrors = c.raise;
      if (c.raise)
        EXPECT_THROW(Replace(), ETarazedError);
      else
        Replace();
      DbReportErrors = DbRaiseErrors = false;
    }
    EXPECT_EQ(DbLastError, c.code) << DbErrorContext;
    EXPECT_EQ(RecNo(), 3);
    EXPECT_EQ(std::string(FieldAddress(1) + 1, 3), "n03");  // the record as it is again
    EXPECT_TRUE(Bytes("swap.dbf") == dbf);
    EXPECT_TRUE(Bytes("swap.MDX") == mdx);
    EXPECT_EQ(Walks(walked), before);
    if (!c.damaged) {
      // The same replace with what it lacked moves every key; a rebuild walks alike.
      GO(3);
      set_record("a", 7, c.k);
      Replace();
      ASSERT_EQ(DbLastError, 0) << DbErrorContext;
      const auto after = Walks(4);
      EXPECT_EQ(after[0].front(), 3);
      EXPECT_NE(after, before);
      ASSERT_TRUE(Reindex());
      EXPECT_EQ(Walks(4), after);
    }
    CloseAll();
  }
}

// Another program reads the index and does not let go, so the write lock of a replace times
// out. With errors not reported the replace runs to its end, and writes nothing: the error
// that stands when the keys would move keeps them, and the record, as they were.
TEST_F(ReplaceRollback, AReplaceWithoutTheWriteLockWritesNothing) {
  std::string table = OpenTable("locked.dbf", {{"NAME", 'C', 10}}, {"b", "a", "c"});
  ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", false, false}}, ""));
  ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  platform::ChildProcess other(INDEX_STATION, {});
  ASSERT_TRUE(other.WriteLine("open " + table));
  ASSERT_EQ(other.ReadLine(), "ok");
  ASSERT_TRUE(other.WriteLine("read 1"));
  ASSERT_EQ(other.ReadLine(), "ok");
  const std::string dbf = Bytes("locked.dbf"), mdx = Bytes("locked.MDX");
  SemaphoreTimeout = 1;
  GO(1);
  ASSERT_TRUE(RLock());
  std::memcpy(FieldAddress(1) + 1, "z", 1);
  Replace();
  EXPECT_EQ(DbLastError, 1202) << DbErrorContext;
  Unlock();
  EXPECT_EQ(std::string(FieldAddress(1) + 1, 1), "b");
  EXPECT_TRUE(Bytes("locked.dbf") == dbf);
  EXPECT_TRUE(Bytes("locked.MDX") == mdx);
  ASSERT_TRUE(other.WriteLine("read 0"));
  ASSERT_EQ(other.ReadLine(), "ok");
  ASSERT_TRUE(other.WriteLine("walk"));
  EXPECT_EQ(other.ReadLine(), "ok 2 1 3");
  EXPECT_EQ(Walk(), (std::vector<int32_t>{2, 1, 3}));
  other.CloseInput();
  EXPECT_EQ(other.Wait(), 0);
}

}  // namespace
}  // namespace tz

namespace tz {
namespace {

// Another program's appends split the root; this one, which had the index open all along,
// then replaces a key. Its tag headers must be read again first, or it would write its old
// root back and cut off every key the other program moved into the new half.
TEST_F(MaintTest, AReplaceAfterAnotherProgramGrewTheTreeUsesTheNewRoot) {
  std::vector<std::string> records;
  for (int i = 1; i <= 9; ++i) records.push_back(LongKey(i) + "Y");
  std::string table = OpenTable("grown.dbf", kLongFields, records);
  ASSERT_TRUE(MakeIndex({{"K", "k", "", false, false}}, ""));
  ASSERT_TRUE(SetIndexTo("")) << DbErrorContext;
  ASSERT_EQ(Walk(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));

  platform::ChildProcess other(INDEX_STATION, {});
  ASSERT_TRUE(other.WriteLine("open " + table));
  ASSERT_EQ(other.ReadLine(), "ok");
  ASSERT_TRUE(other.WriteLine("append " + LongKey(10)));
  ASSERT_EQ(other.ReadLine(), "ok 10");
  ASSERT_EQ(Depth(Bytes("grown.MDX"), 1), 2);

  GO(3);
  ASSERT_TRUE(RLock());
  SetLong(LongKey(99), 'Y');
  Replace();
  EXPECT_EQ(DbLastError, 0) << DbErrorContext;
  Unlock();
  const std::vector<int32_t> expected = {1, 2, 4, 5, 6, 7, 8, 9, 10, 3};
  EXPECT_EQ(Walk(), expected);
  ASSERT_TRUE(other.WriteLine("walk"));
  EXPECT_EQ(other.ReadLine(), "ok 1 2 4 5 6 7 8 9 10 3");
  EXPECT_EQ(CheckTree(Bytes("grown.MDX"), 1,
                      [](const std::string& a, const std::string& b) { return a.compare(b); }),
            "");
  other.CloseInput();
  EXPECT_EQ(other.Wait(), 0);
}

}  // namespace
}  // namespace tz

namespace tz {
namespace {

// After an append or a replace the current order stands on the record's new key, so a skip
// goes on from there.
TEST_F(MaintTest, TheCurrentOrderStandsOnTheWrittenRecordsKey) {
  struct Case {
    const char* tag;
    int32_t record;  // 0 appends
    std::string name;
    int32_t next, prior;  // after Skip(1), and after Skip(-1) from there; 0 EOF, -1 unchecked
  };
  const Case cases[] = {
      {"NAME", 2, "dd", 5, 2},   // b moves between d and e
      {"NAME", 1, "zz", 0, 1},   // a moves to the end
      {"NAME", 5, "aa", 2, 5},   // e moves between a and b
      {"NAME", 3, "c", 4, 3},    // the key stays
      {"NAME", 0, "bb", 3, 6},   // a new record between b and c
      {"DOWN", 2, "dd", 4, 2},   // descending: b moves between e and d
      {"SOME", 2, "dd", 5, 2},   // still passes the FOR condition
      {"SOME", 4, "zz", 0, -1},  // no longer passes: the order is at its end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tag) + " " + std::to_string(c.record) + " " + c.name);
    OpenTable("written.dbf", {{"NAME", 'C', 4}}, {"a", "b", "c", "d", "e"}, " EXCLUSIVE");
    ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false},
                           {"DOWN", "name", "", true, false},
                           {"SOME", "name", "name < 'x'", false, false}},
                          ""));
    ASSERT_TRUE(SetIndexTo(""));
    ASSERT_TRUE(SetOrderToTag(c.tag));
    if (c.record == 0) {
      ClearRecord();
    } else {
      GO(c.record);
    }
    std::memset(FieldAddress(1) + 1, ' ', 4);
    std::memcpy(FieldAddress(1) + 1, c.name.data(), c.name.size());
    if (c.record == 0)
      Append();
    else
      Replace();
    ASSERT_EQ(DbLastError, 0) << DbErrorContext;
    Skip(1);
    EXPECT_EQ(dEOF() ? 0 : RecNo(), c.next);
    Skip(-1);
    if (c.prior >= 0) {
      EXPECT_EQ(dEOF() ? 0 : RecNo(), c.prior);
    }
    CloseAll();
  }
}

}  // namespace
}  // namespace tz
