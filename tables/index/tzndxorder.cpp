// Index orders of a work area: choosing the current order, the first, last, next and prior
// key, seeking a key (Find), and finding the current record in the orders.
#include <algorithm>

#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"
#include "tables/index/tzndxlow.h"

namespace tz {

uint8_t IndexFound = 0;

namespace ndx {
namespace {

bool g_exact = false;

// Reads child slot `index` of the node on top of the path and descends to its first or last
// leaf entry.
bool EnterChild(TIndexArea& ia, TOrder& o, bool first) {
  TPathItem& top = o.path.back();
  TPathItem child;
  child.block = static_cast<int32_t>(top.node.Pointer(top.index, o.EntryLength()));
  if (o.path.size() >= kMaxDepth) return BadNode(o, child.block);
  if (!SeekAndRead(ia, o, child.block, child.node)) return false;
  o.path.push_back(child);
  return DescendToEdge(ia, o, first);
}

void KeyToBuffer(TOrder& o, const uint8_t* key) {
  std::copy(key, key + o.KeyLength(), o.key.begin());
  o.key.back() = 0;
}

// The key at the order's position into its key buffer; the entry's record number.
int32_t TakeEntry(TOrder& o) {
  TPathItem& leaf = o.path.back();
  KeyToBuffer(o, leaf.node.Key(leaf.index, o.EntryLength()));
  return static_cast<int32_t>(leaf.node.Pointer(leaf.index, o.EntryLength()));
}

std::string KeyText(const TOrder& o, const uint8_t* key) {
  return RTrim(std::string(reinterpret_cast<const char*>(key), static_cast<size_t>(o.KeyLength())));
}

// Seeks the order's saved key and the entry of `record` among equal keys; false when the
// record is not there.
bool FindEntry(TIndexArea& ia, TOrder& o, int32_t record) {
  std::vector<uint8_t> key(o.key.begin(), o.key.end() - 1);
  if (!SeekKey(ia, o, key.data())) return false;
  for (size_t steps = MaxEntries(ia, o); !o.eof && o.CurrentRecord() != record; --steps) {
    TPathItem& leaf = o.path.back();
    if (o.Compare(leaf.node.Key(leaf.index, o.EntryLength()), key.data()) != 0) return false;
    if (steps == 0) return BadNode(o, leaf.block);
    if (StepEntry(ia, o, true) != Step::kMoved) return false;
  }
  return !o.eof;
}

// Brings back the position after it was lost (the tag headers were read again): false and
// error 254 when the record is not found under its key.
bool Reestablish(TIndexArea& ia, TOrder& o, const char* routine) {
  if (!o.path.empty() || o.on_empty) return true;
  int32_t record = Wa().Table.CurrentRecord;
  if (FindEntry(ia, o, record)) return true;
  Fail(254, std::string(" [") + routine + "]");
  std::vector<uint8_t> key(o.key.begin(), o.key.end() - 1);
  SeekKey(ia, o, key.data());
  return false;
}

// After another program changed the index: the current record again, or end of file. When
// the other program changed the current record so that the current order leaves it out, the
// order stands in the gap of the record's old key, so a walk goes on to its old neighbours.
void RefreshAfterChanges() {
  if (!IndexChanged()) return;
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  TIndexArea& ia = *FindArea();
  // The change test has refreshed the record count. Records appended meanwhile may have
  // taken the blank record's number: it stays blank.
  if (t.OnBlankRecord || t.CurrentRecord > t.RecordCount) {
    SetPhantomRecord(wa);
    if (TOrder* o = ia.At(1)) {
      ResetToEmpty(*o);
      o->eof = true;
    }
    return;
  }
  if (GetDbfRecord(t, t.CurrentRecord)) UnpackRecord(t, wa.FieldValues);
  if (ia.natural) return;
  TOrder& o = *ia.At(1);
  if (!PassesFor(o)) {
    std::vector<uint8_t> key(o.key.begin(), o.key.end() - 1);
    StandInGap(ia, o, key.data());
    return;
  }
  SoftSyncIndex();
}

// The engine's end of file in key order.
void GoEofInKeyOrder(TIndexArea& ia) {
  FindLastRec();
  TDbfTable& t = Wa().Table;
  // The blank record is always there; going to it keeps an error that led the order here (a
  // damaged node on the way to the next key).
  uint16_t code = DbLastError;
  Dbf4RawGo(t.RecordCount + 1);
  if (DbLastError == 0) DbLastError = code;
  // The end of file, not the beginning: in natural order Skip(-1) goes on from here too.
  t.AtBeginning = false;
  if (TOrder* o = ia.At(1)) {
    o->eof = true;
    ResetToEmpty(*o);
  }
}

// A Find that found nothing: end of file, and the tables that follow this one (through its
// hook) follow it there rather than stay on the last record they were shown.
void FindMissed(TIndexArea& ia) {
  GoEofInKeyOrder(ia);
  IndexFound = 0;
  RunAreaHook();
}

bool IndexOpenTest(const std::string& routine) {
  TIndexArea* ia = FindArea();
  if (ia && ia->At(1)) return false;
  SetDbError(221, "Index not open. (DBF=" + Wa().Table.FileName + ") [" + routine + "]");
  return true;
}

// Finds the current record in one order (the work of SyncIndex); false on error 212.
// `to_eof`: the table itself goes to the end of file when the order leaves the record out.
bool SyncOrder(TIndexArea& ia, TOrder& o, bool position_one, bool to_eof, const char* soft_tag) {
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  int32_t record = t.CurrentRecord;
  bool in_table = record >= 1 && record <= t.RecordCount;
  if (!in_table || !PassesFor(o)) {
    if (to_eof) {
      // The table follows its order to the end of file, so that a record the order leaves out
      // is never current while the order reports EOF (Skip would start from nowhere). A table
      // already at both ends (GoTop found every record hidden) stays at both in the order too.
      bool bof = !in_table && t.AtBeginning;
      GoEofInKeyOrder(ia);
      t.AtBeginning = o.bof = bof;
    } else if (position_one) {
      ResetToEmpty(o);
      o.eof = true;
    } else {
      FirstOrLastKey(ia, o, false);
    }
    return true;
  }
  std::vector<uint8_t> key(static_cast<size_t>(o.KeyLength()));
  if (!MakeKey(wa, o, key.data())) return false;
  KeyToBuffer(o, key.data());
  bool found = SeekKey(ia, o, key.data());
  if (DbLastError != 0) return false;
  // A unique tag holds each key for one record only, and a key whose record changed away is
  // gone although other records still have it: the record is simply not in the tag, and the
  // order stands where its key would be.
  if (o.Unique()) {
    if (!found) StandInGap(ia, o, key.data());
    return true;
  }
  if (found && FindEntry(ia, o, record)) return true;
  if (DbLastError != 0 && DbLastError != 212) return false;
  if (found || soft_tag)
    return Fail(212, "Record with key: \"" + KeyText(o, key.data()) +
                         "\" not in index: " + OrderDescription(o.tag) + ". [" +
                         (soft_tag ? soft_tag : "SyncIndex-2") + "]");
  // This report shows the key whole, blanks included; the one above cuts them.
  return Fail(212, "Key: \"" +
                       std::string(reinterpret_cast<const char*>(key.data()), key.size()) +
                       "\" not in index: " + OrderDescription(o.tag) +
                       ". [SyncIndex-1] Record: " + std::to_string(record));
}

}  // namespace

size_t MaxEntries(TIndexArea& ia, const TOrder& o) {
  return FileSize(ia) / kNodeBytes * static_cast<size_t>(o.KeysPerNode());
}

Step StepEntry(TIndexArea& ia, TOrder& o, bool forward) {
  if (o.path.empty()) return Step::kEnd;
  // Most steps stay in the leaf: they read nothing and cannot fail, so nothing is saved.
  {
    TPathItem& leaf = o.path.back();
    int count = leaf.node.Count();
    if (forward && leaf.index + 1 < count) {
      ++leaf.index;
      return Step::kMoved;
    }
    if (!forward && std::min(leaf.index, count) - 1 >= 0) {
      leaf.index = std::min(leaf.index, count) - 1;
      return Step::kMoved;
    }
  }
  // Unless the step reaches an entry the order stays where it stood, also when a node on the
  // way cannot be read or its read raises the error.
  struct Stay {
    TOrder& o;
    std::vector<TPathItem> path;
    bool on_empty, gap;
    bool moved = false;
    ~Stay() {
      if (moved) return;
      o.path = std::move(path);
      o.on_empty = on_empty;
      o.gap = gap;
    }
  } stay{o, o.path, o.on_empty, o.gap};
  size_t empty_leaves = 0;
  while (true) {
    TPathItem& leaf = o.path.back();
    int count = leaf.node.Count();
    if (forward && leaf.index + 1 < count) {
      ++leaf.index;
      stay.moved = true;
      return Step::kMoved;
    }
    if (!forward && std::min(leaf.index, count) - 1 >= 0) {
      leaf.index = std::min(leaf.index, count) - 1;
      stay.moved = true;
      return Step::kMoved;
    }
    // Up to the first ancestor with a child beside the way down, then to its edge leaf.
    o.path.pop_back();
    while (!o.path.empty()) {
      TPathItem& top = o.path.back();
      if (forward ? top.index < top.node.Count() : top.index > 0) break;
      o.path.pop_back();
    }
    if (o.path.empty()) return Step::kEnd;
    o.path.back().index += forward ? 1 : -1;
    if (!EnterChild(ia, o, forward)) return Step::kFailed;
    TPathItem& reached = o.path.back();
    if (reached.node.Count() > 0) {
      stay.moved = true;
      return Step::kMoved;
    }
    // An empty leaf: go on past it. A sound tree has none but an empty root (a leaf that
    // empties leaves its parent), so more of them than the file has nodes mean that the
    // tree's pointers lead round into nodes already passed.
    if (++empty_leaves > FileSize(ia) / kNodeBytes) {
      BadNode(o, reached.block);
      return Step::kFailed;
    }
    reached.index = forward ? -1 : 0;
  }
}

bool SeekKey(TIndexArea& ia, TOrder& o, const uint8_t* key, bool insert) {
  o.bof = o.eof = false;
  if (!DescendByKey(ia, o, key)) return false;
  TPathItem& leaf = o.path.back();
  const int count = leaf.node.Count();
  const int el = o.EntryLength();
  if (leaf.index >= count) {
    if (!insert && count > 0) {
      leaf.index = count - 1;
      switch (StepEntry(ia, o, true)) {
        case Step::kMoved: {
          TPathItem& next = o.path.back();
          return o.Compare(next.node.Key(next.index, el), key) == 0;
        }
        case Step::kFailed:
          ResetToEmpty(o);
          return false;
        case Step::kEnd:
          o.path.back().index = count;  // the step left the order on this leaf
          break;
      }
    }
    o.eof = true;
    return false;
  }
  return o.Compare(leaf.node.Key(leaf.index, el), key) == 0;
}

void StandInGap(TIndexArea& ia, TOrder& o, const uint8_t* key) {
  uint16_t code = DbLastError;
  std::string context = DbErrorContext;
  DbLastError = 0;
  if (key) {
    std::vector<uint8_t> sought(key, key + o.KeyLength());  // `key` may be the key buffer
    KeyToBuffer(o, sought.data());
    SeekKey(ia, o, sought.data());
  } else {
    // From the root: the path may be what a failed step left.
    ResetToEmpty(o);
    if (DescendToEdge(ia, o, false)) o.path.back().index = o.path.back().node.Count();
  }
  // Behind the last entry is no end of file: the table stands on a record.
  o.bof = o.eof = false;
  o.gap = DbLastError == 0;
  if (code != 0) DbLastError = code, DbErrorContext = context;
}

int32_t FirstOrLastKey(TIndexArea& ia, TOrder& o, bool first) {
  TDbfTable& t = Wa().Table;
  IndexFound = 0;  // an empty tag has no first or last key to find
  IndexChanged();
  ResetToEmpty(o);
  if (!DescendToEdge(ia, o, first)) return t.RecordCount + 1;
  TPathItem& leaf = o.path.back();
  if (leaf.node.Count() == 0 || o.EmptyByFor()) {
    o.bof = o.eof = true;
    ResetToEmpty(o);
    return t.RecordCount + 1;
  }
  o.bof = o.eof = false;
  IndexFound = 1;
  return TakeEntry(o);
}

}  // namespace ndx

using namespace ndx;

int32_t FindFirstRec() {
  TIndexArea* ia = FindArea();
  TDbfTable& t = Wa().Table;
  if (ia && ia->natural) {
    IndexFound = t.RecordCount != 0;
    return 1;
  }
  if (IndexOpenTest("_FindFirst/LastRec")) return 0;
  return FirstOrLastKey(*ia, *ia->At(1), true);
}

int32_t FindLastRec() {
  TIndexArea* ia = FindArea();
  TDbfTable& t = Wa().Table;
  if (ia && ia->natural) {
    IndexFound = t.RecordCount != 0;
    return std::max(t.RecordCount, 1);
  }
  if (IndexOpenTest("_FindFirst/LastRec")) return 0;
  return FirstOrLastKey(*ia, *ia->At(1), false);
}

namespace {

// _FindNextRec (forward) and _FindPriorRec.
int32_t FindNeighbour(bool forward) {
  IndexFound = 0;
  if (IndexOpenTest(forward ? "_FindNextRec" : "_FindPriorRec")) return 0;
  RefreshAfterChanges();
  TIndexArea& ia = *FindArea();
  TOrder& o = *ia.At(1);
  TDbfTable& t = Wa().Table;
  int32_t current = t.CurrentRecord;
  if (t.RecordCount == 0 || (!ia.natural && o.EmptyByFor())) {
    o.eof = o.bof = true;
    return t.RecordCount + 1;
  }
  // GO past the table leaves the order where it stood: the blank record is its end too. An
  // append the order leaves out puts the table there, but with the table's flags cleared, so
  // the engine walks on: its own record number coming back tells it the end.
  if (!ia.natural && (t.OnBlankRecord || current > t.RecordCount)) {
    ResetToEmpty(o);
    o.eof = true;
    if (forward && !t.AtEnd) return current;
  }
  (forward ? o.bof : o.eof) = false;
  if (ia.natural) {
    if (forward ? current < t.RecordCount : current > 1) return forward ? current + 1 : current - 1;
    (forward ? t.AtEnd : t.AtBeginning) = true;
    return current;
  }
  if (o.gap) {
    // The entry behind the gap is the next one; the one before it the prior. With none, the
    // record itself tells the engine it reached the end (or the start).
    if (o.path.empty()) {  // the tag headers were read again meanwhile
      std::vector<uint8_t> key(o.key.begin(), o.key.end() - 1);
      StandInGap(ia, o, key.data());
    }
    Step step =
        forward ? (o.CurrentRecord() != -1 ? Step::kMoved : Step::kEnd) : StepEntry(ia, o, false);
    if (step == Step::kFailed || DbLastError != 0) return 0;
    bool stepped = step == Step::kMoved;
    o.gap = false;
    if (!stepped) {
      ResetToEmpty(o);
      (forward ? o.eof : o.bof) = true;
      return current;
    }
    IndexFound = 1;
    return TakeEntry(o);
  }
  if (forward && o.eof) {
    int32_t last = FirstOrLastKey(ia, o, false);
    ResetToEmpty(o);
    o.eof = true;
    IndexFound = 0;  // the end, not a record found
    return last;
  }
  if (!forward && o.on_empty) {
    int32_t last = FirstOrLastKey(ia, o, false);
    return last;
  }
  if (!forward && o.bof) return o.CurrentRecord();
  if (!Reestablish(ia, o, forward ? "_FindNextRec" : "_FindPriorRec")) return 0;
  if (o.on_empty) {
    // Forward from the empty entry: the end.
    int32_t last = FirstOrLastKey(ia, o, false);
    ResetToEmpty(o);
    o.eof = true;
    IndexFound = 0;
    return last;
  }
  Step step = StepEntry(ia, o, forward);
  if (step == Step::kFailed) return 0;
  if (step == Step::kEnd) {
    FirstOrLastKey(ia, o, !forward);
    (forward ? o.eof : o.bof) = true;
    IndexFound = 0;
    // The engine knows the end by its own record coming back. That is the edge entry's record,
    // except in a unique tag where a later record with the same key stands on the first's entry.
    return current;
  }
  IndexFound = 1;
  return TakeEntry(o);
}

}  // namespace

int32_t _FindNextRec() {
  return FindNeighbour(true);
}

int32_t _FindPriorRec() {
  return FindNeighbour(false);
}

void Set_Order_To(int n) {
  // Its steps stop at an error: one an earlier command left must not stop them.
  DbLastError = 0;
  if (CheckDbInUse("Set_Order_To") || IndexOpenTest("Set_Order_To")) return;
  TIndexArea& ia = *FindArea();
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  if (n < 0 || n > ia.TagCount() || !ia.orders[n > 0 ? n : 1]) {
    SetDbError(220, "Invalid Index Order Specified: SET_ORDER_TO. [Set_Order_To(" +
                        std::to_string(n) + ")] (DBF=" + t.FileName + ")");
    return;
  }
  if (n == 0) {
    ia.natural = true;
    return;
  }
  if (n == ia.current && !ia.natural) return;
  {
    ReadBracket bracket;
    // Without the bracket (another program holds the semaphore lock) nothing is read.
    if (DbLastError != 0) return;
    uint8_t saved = IndexFound;
    // In natural order the order's own flag is left from before and says nothing.
    bool at_end =
        (!ia.natural && ia.At(1)->eof) || t.AtEnd || t.CurrentRecord > t.RecordCount;
    if (!at_end && GetDbfRecord(t, t.CurrentRecord)) UnpackRecord(t, wa.FieldValues);
    ia.current = n;  // tag 1 goes back to its own position first: positions follow the tag
    ia.natural = false;
    TOrder& o = *ia.At(1);
    ResetToEmpty(o);
    if (t.RecordCount == 0) {
      o.bof = o.eof = true;
    } else if (at_end) {
      GoEofInKeyOrder(ia);
    } else {
      SyncIndex(true);  // a record the new order's FOR condition leaves out: end of file
    }
    MakeCurrentKey();
    IndexFound = saved;
  }
}

bool SetOrderToTag(const std::string& name) {
  if (CheckDbInUse("SetOrderToTag")) return false;
  std::string wanted = Upper(AllTrim(name));
  if (wanted.empty()) {
    Set_Order_To(0);  // the answer is this choice's, not an earlier command's
    return DbLastError == 0;
  }
  TIndexArea* ia = FindArea();
  for (int k = 1; ia && k <= ia->TagCount(); ++k) {
    if (wanted.size() <= 10 && MdxTagName(k) == wanted) {
      Set_Order_To(k);
      return DbLastError == 0;
    }
  }
  SetDbError(220, "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(" + name +
                      ")] (DBF=" + Wa().Table.FileName + ")");
  return false;
}

uint8_t CurrentOrder() {
  if (CheckDbInUse("CurrentOrder")) return 0;
  TIndexArea* ia = FindArea();
  if (!ia || ia->natural || !ia->At(1)) return 0;
  return static_cast<uint8_t>(ia->current);
}

bool SetExactOn() {
  bool previous = g_exact;
  g_exact = true;
  return previous;
}

bool SetExactOff() {
  bool previous = g_exact;
  g_exact = false;
  return previous;
}

void Find(const std::string& text) {
  DbLastError = 0;  // as in Set_Order_To
  if (CheckDbInUse("Find") || IndexOpenTest("Find")) return;
  IndexFound = 0;
  TIndexArea& ia = *FindArea();
  if (ia.natural) {
    SetDbError(254, "Cannot use Find() with index order 0 (natural order) [Find]");
    return;
  }
  if (text.empty()) return;
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  TOrder& o = *ia.At(1);
  RefreshRecCount(wa);
  // One read bracket for the whole search; another program may have given an empty tag its
  // first key, so its changes are looked at before the tag is judged.
  ReadBracket bracket;
  if (DbLastError != 0) return;  // the bracket could not begin: nothing is read
  RefreshAfterChanges();  // Find seeks anew: where the record left the order does not matter
  if (t.RecordCount == 0 || o.EmptyByFor()) {
    FindMissed(ia);
    return;
  }
  const size_t length = static_cast<size_t>(o.KeyLength());
  std::vector<uint8_t> key(length + 1, 0);
  size_t compared = length;
  switch (o.KeyType()) {
    case 'N':
    case 'F': {
      BcdKey bcd;
      TextToBcdKey(bcd, text, o.key_expr->decimals);
      std::copy(bcd.begin(), bcd.end(), key.begin());
      break;
    }
    case 'D': {
      double julian = DateStrToJulian(AllTrim(text));
      std::memcpy(key.data(), &julian, sizeof julian);
      break;
    }
    default: {
      std::string wanted = g_exact ? PadRightTo(text, static_cast<int>(length)) : text;
      if (t.Oem) wanted = AnsiToOemStr(wanted);
      wanted.resize(std::min(wanted.size(), length));
      std::copy(wanted.begin(), wanted.end(), key.begin());
      if (!g_exact && wanted.size() < length) {
        compared = wanted.size();
        // A descending tag holds the largest keys with the prefix first.
        if (o.complement) std::fill(key.begin() + ptrdiff_t(compared), key.end() - 1, 0xFF);
      }
      break;
    }
  }
  SeekKey(ia, o, key.data());
  if (DbLastError != 0) return;  // the order stands on the empty entry
  if (o.eof) {
    TPathItem& leaf = o.path.back();
    leaf.index = std::max(0, leaf.node.Count() - 1);
    if (leaf.node.Count() == 0) {
      FindMissed(ia);
      return;
    }
  }
  int32_t record = TakeEntry(o);
  Dbf4RawGo(record);
  for (size_t steps = MaxEntries(ia, o);
       DbLastError == 0 && !o.eof && t.HideDeleted && t.Record[0] == '*'; --steps) {
    if (steps == 0) {
      BadNode(o, o.path.back().block);
      return;
    }
    Step step = StepEntry(ia, o, true);
    if (step == Step::kFailed) return;
    if (step == Step::kEnd) {
      o.eof = true;
      break;
    }
    record = TakeEntry(o);
    Dbf4RawGo(record);
  }
  if (DbLastError != 0) return;
  TPathItem& leaf = o.path.back();
  bool found =
      !o.eof && o.compare(leaf.node.Key(leaf.index, o.EntryLength()), key.data(), compared) == 0;
  if (found) {
    RunAreaHook();
    MakeCurrentKey();
    IndexFound = 1;
  } else {
    FindMissed(ia);
  }
}

namespace ndx {

void SyncOrders(bool all, bool table_follows) {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  // Another program may have grown the tree since the last look: the old root would hold only
  // a part of the keys.
  IndexChanged();
  bool natural = ia->natural;
  ia->natural = false;
  for (int p = 1; p <= (all ? kMaxTags : 1); ++p) {
    TOrder* o = ia->At(p);
    if (!o) continue;
    // In natural order the table stays where it is whatever the tag holds.
    if (!SyncOrder(*ia, *o, p == 1, p == 1 && !natural && table_follows, nullptr)) break;
  }
  ia->natural = natural;
}

}  // namespace ndx

void SyncIndex(bool all) {
  SyncOrders(all, true);
}

void SoftSyncIndex() {
  TIndexArea* ia = FindArea();
  if (!ia || !ia->At(1)) return;
  SyncOrder(*ia, *ia->At(1), true, false, "SoftSyncIndex");
}

void MakeCurrentKeys(bool all) {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  bool record = t.RecordCount > 0 && t.CurrentRecord >= 1 && t.CurrentRecord <= t.RecordCount;
  for (int p = 1; p <= (all ? kMaxTags : 1); ++p) {
    TOrder* o = ia->At(p);
    if (!o) continue;
    std::vector<uint8_t> key(static_cast<size_t>(o->KeyLength()));
    if (record && MakeKey(wa, *o, key.data())) {
      KeyToBuffer(*o, key.data());
    } else {
      BlankKey(*o);
    }
    if (all) {
      // Kept apart from the order's position, so no stale entry is ever written back.
      o->old_key.assign(o->key.begin(), o->key.end() - 1);
      o->old_record = record ? t.CurrentRecord : 0;
      o->old_passes = record && PassesFor(*o);
    }
  }
  if (all) ia->record_before_replace = t.Record;
}

void MakeCurrentKey() {
  MakeCurrentKeys(false);
}

}  // namespace tz
