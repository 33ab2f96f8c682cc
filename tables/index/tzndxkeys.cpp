// Keys of the index engine: the key makers and compares of the key types, and the key
// maintenance that keeps every tag in step with appended and replaced records: insert with node
// splits and root growth, delete with root collapse, and a replace that moves the keys of
// every tag or none.
#include <algorithm>

#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"
#include "tables/index/tzndxlow.h"

namespace tz::ndx {
namespace {

int CompareBytesDown(const uint8_t* a, const uint8_t* b, size_t n) {
  return CompareBytes(b, a, n);
}
int CompareDatesDown(const uint8_t* a, const uint8_t* b, size_t n) {
  return CompareDateKeys(b, a, n);
}
int CompareBcdDown(const uint8_t* a, const uint8_t* b, size_t n) {
  return CompareBcdKeys(b, a, n);
}

// One entry of a node that is being rebuilt.
struct TEntry {
  uint32_t pointer;
  std::vector<uint8_t> key;
};

// The entries of a node and its trailing pointer.
void Unpack(const TNode& node, int key_length, int entry_length, std::vector<TEntry>& entries,
            uint32_t& trailing) {
  entries.clear();
  for (int i = 0; i < node.Count(); ++i)
    entries.push_back(
        {node.Pointer(i, entry_length),
         std::vector<uint8_t>(node.Key(i, entry_length), node.Key(i, entry_length) + key_length)});
  trailing = node.Trailing(entry_length);
}

TNode Pack(const std::vector<TEntry>& entries, size_t from, size_t to, uint32_t trailing,
           int key_length, int entry_length) {
  TNode node;
  for (size_t i = from; i < to; ++i)
    node.Insert(node.Count(), entries[i].pointer, entries[i].key.data(), key_length, entry_length);
  Put32(node.Entry(node.Count(), entry_length), trailing);
  return node;
}

// What Unpack, an insert of (pointer, key) at `index`, the `next` pointer behind it and Pack
// make of a node that keeps room for the entry, without the entries in between: byte for byte
// the same node (a fresh one, whatever the old one held behind its entries or in its padding).
TNode WithEntry(const TNode& node, int index, uint32_t pointer, const uint8_t* key, uint32_t next,
                int key_length, int entry_length) {
  TNode out;
  const int count = node.Count();
  uint32_t trailing = node.Trailing(entry_length);
  const auto kl = static_cast<size_t>(key_length);
  for (int i = 0; i <= count; ++i) {
    uint8_t* to = out.Entry(i, entry_length);
    if (i == index) {
      Put32(to, pointer);
      std::memcpy(to + 4, key, kl);
    } else {
      const int from = i < index ? i : i - 1;
      Put32(to, node.Pointer(from, entry_length));
      std::memcpy(to + 4, node.Key(from, entry_length), kl);
    }
  }
  if (next != 0) {
    if (index < count)
      Put32(out.Entry(index + 1, entry_length), next);
    else
      trailing = next;
  }
  Put32(out.Entry(count + 1, entry_length), trailing);
  out.SetCount(count + 1);
  return out;
}

// Removes child slot `slot` of an inner node (the trailing pointer when slot == count): the
// entry before it then gives its child as the trailing pointer.
void RemoveSlot(TNode& node, int slot, int entry_length) {
  int count = node.Count();
  if (slot < count) {
    node.Remove(slot, entry_length);
    return;
  }
  if (count == 0) {
    node = TNode();
    return;
  }
  node.SetCount(count - 1);
  uint8_t* at = node.Entry(count - 1, entry_length);
  std::fill(at + 4, node.b.data() + kNodeBytes, 0);
}

bool NodeEmpty(const TNode& node, int entry_length) {
  return node.Count() == 0 && node.Trailing(entry_length) == 0;
}

// What a replace changes in the index file, kept so that a replace whose keys cannot all move
// puts every tag back as it was: the bytes of each node and tag header before the replace
// first writes them, the file's size (the nodes it appends are cut off again), and the header
// and every order's tag header in memory. Putting bytes back never needs room the file does
// not have, so a full disk does not stop it. Only a running CompareKeys keeps one.
class ReplaceJournal {
 public:
  explicit ReplaceJournal(TIndexArea& ia)
      : ia_(ia), size_(FileSize(ia)), header_(ia.header), header_changed_(ia.header_changed) {
    for (const auto& o : ia.orders)
      if (o) anchors_.push_back({o.get(), o->anchor, o->anchor_changed});
    active_ = this;
  }
  ~ReplaceJournal() { active_ = nullptr; }
  ReplaceJournal(const ReplaceJournal&) = delete;
  ReplaceJournal& operator=(const ReplaceJournal&) = delete;

  // Keeps the bytes that a write of `length` at `offset` into tag `o` is about to change, once;
  // false (the error stored) when they cannot be read.
  static bool Remember(TIndexArea& ia, const TOrder& o, uint64_t offset, size_t length) {
    ReplaceJournal* j = active_;
    if (!j || &j->ia_ != &ia || offset >= j->size_) return true;
    for (const Kept& k : j->kept_)
      if (k.offset == offset) return true;
    Kept k{offset, std::vector<uint8_t>(std::min<uint64_t>(length, j->size_ - offset))};
    size_t done = 0;
    int rc = ia.file.ReadAt(offset, k.bytes.data(), k.bytes.size(), &done);
    if (rc == 0 && done != k.bytes.size()) rc = 100;
    if (rc != 0)
      return Fail(static_cast<uint16_t>(rc),
                  "Error reading index file: " + OrderDescription(o.tag) + " [CompareKeys]");
    j->kept_.push_back(std::move(k));
    return true;
  }

  // Everything back as it was; false (the error stored) when a write fails.
  bool Undo() {
    bool ok = true;
    ia_.nodes.Clear();
    for (auto k = kept_.rbegin(); k != kept_.rend(); ++k)
      if (int rc = ia_.file.WriteAt(k->offset, k->bytes.data(), k->bytes.size()); rc != 0)
        ok = Fail(static_cast<uint16_t>(rc),
                  "Error writing index file:  " + ia_.file_name + " [CompareKeys]");
    if (size_ != 0 && FileSize(ia_) > size_)
      if (int rc = ia_.file.Truncate(size_); rc != 0)
        ok = Fail(static_cast<uint16_t>(rc),
                  "Error writing index file:  " + ia_.file_name + " [CompareKeys]");
    ia_.nodes.Clear();  // the size it kept is no longer the file's
    ia_.header = header_;
    ia_.header_changed = header_changed_;
    for (const Anchor& a : anchors_) {
      a.order->anchor = a.anchor;
      a.order->anchor_changed = a.changed;
    }
    // The nodes on the paths may be ones just put back.
    for (const auto& o : ia_.orders)
      if (o) ResetToEmpty(*o);
    return ok;
  }

 private:
  struct Kept {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  struct Anchor {
    TOrder* order;
    std::array<uint8_t, kAnchorBytes> anchor;
    bool changed;
  };
  static ReplaceJournal* active_;
  TIndexArea& ia_;
  uint64_t size_;
  std::vector<uint8_t> header_;
  bool header_changed_;
  std::vector<Kept> kept_;
  std::vector<Anchor> anchors_;
};
ReplaceJournal* ReplaceJournal::active_ = nullptr;

// Key maintenance writes its nodes and tag headers through these, for the journal of a replace.
bool WriteNode(TIndexArea& ia, TOrder& o, int32_t block, const TNode& node) {
  return ReplaceJournal::Remember(ia, o, uint64_t(block) * kBlockBytes, kNodeBytes) &&
         SeekAndWrite(ia, o, block, node);
}
bool WriteTagHeader(TIndexArea& ia, TOrder& o) {
  return ReplaceJournal::Remember(ia, o, uint64_t{Get32(ia.TagEntry(o.tag))} * kBlockBytes,
                                  kAnchorBytes) &&
         WriteAnchor(o.tag);
}

}  // namespace

CompareProc CompareFor(char type, bool descending) {
  switch (type) {
    case 'C':
      return descending ? CompareBytesDown : CompareBytes;
    case 'D':
      return descending ? CompareDatesDown : CompareDateKeys;
    case 'N':
    case 'F':
      return descending ? CompareBcdDown : CompareBcdKeys;
    default:
      return nullptr;
  }
}

bool MakeKey(TWorkArea& wa, TOrder& o, uint8_t* dest) {
  uint16_t before = DbLastError;
  const void* result = EvaluateExpr(o.key_expr.get());
  if (!result || (DbLastError != 0 && DbLastError != before)) return false;
  const size_t length = static_cast<size_t>(o.KeyLength());
  switch (o.KeyType()) {
    case 'C': {
      std::string_view text(static_cast<const char*>(result), o.key_expr->result_length);
      std::string stored = wa.Table.Oem ? AnsiToOemStr(text) : std::string(text);
      // Always the tag's length: a shorter key is blank-padded, a longer one cut.
      std::fill(dest, dest + length, ' ');
      std::memcpy(dest, stored.data(), std::min(stored.size(), length));
      return true;
    }
    case 'D': {
      double value;
      std::memcpy(&value, result, sizeof value);
      std::memcpy(dest, &value, sizeof value);
      return true;
    }
    default: {
      double value;
      std::memcpy(&value, result, sizeof value);
      BcdKey bcd;
      DoubleToBcdKey(bcd, o.key_expr->decimals, value);
      std::memcpy(dest, bcd.data(), bcd.size());
      return true;
    }
  }
}

bool PassesFor(TOrder& o) {
  if (!o.for_expr) return true;
  const void* result = EvaluateExpr(o.for_expr.get());
  if (!result) return false;
  int32_t word;
  std::memcpy(&word, result, sizeof word);
  return word != 0;
}

void BlankKey(TOrder& o) {
  std::fill(o.key.begin(), o.key.end(), o.key_is_text ? ' ' : 0);
  o.key.back() = 0;
}

namespace {

// Inserts (record, key) into the tag `o`; 0 done or skipped, -1 failure.
int InsertEntry(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record) {
  if (!PassesFor(o)) return 0;
  if (!o.ForPassed()) {
    o.anchor[kAnchorForState] = 1;
    o.anchor_changed = true;
  }
  const int kl = o.KeyLength(), el = o.EntryLength();
  if (!DescendByKey(ia, o, key)) return -1;
  TPathItem& leaf = o.path.back();
  if (o.Unique() && leaf.index < leaf.node.Count() &&
      o.Compare(leaf.node.Key(leaf.index, el), key) == 0) {
    return o.anchor_changed && !WriteTagHeader(ia, o) ? -1 : 0;
  }
  // Done with the tree: the order stands nowhere, and the tag header follows.
  auto finish = [&ia, &o] {
    ResetToEmpty(o);
    o.anchor_changed = true;
    return WriteTagHeader(ia, o) ? 1 : -1;
  };
  // The common case, without the split path's buffers: the leaf has room, and nothing above
  // it changes.
  if (leaf.node.Count() < o.KeysPerNode()) {
    const TNode node =
        WithEntry(leaf.node, leaf.index, static_cast<uint32_t>(record), key, 0, kl, el);
    return WriteNode(ia, o, leaf.block, node) ? finish() : -1;
  }
  // At each level: insert (pointer, entry key) at `at`, then point the slot after it at
  // `next` (a split child's new upper half), when there is one. The nodes a split adds go to
  // the end of the file at once; the nodes in use are rewritten only when all of those are
  // written, so a full disk leaves the tag as it was.
  uint32_t pointer = static_cast<uint32_t>(record);
  std::vector<uint8_t> entry_key(key, key + kl);
  uint32_t next = 0;
  int32_t new_root = 0;
  std::vector<std::pair<int32_t, TNode>> rewrites;
  std::vector<TEntry> entries;
  for (size_t level = o.path.size(); level-- > 0;) {
    TPathItem& item = o.path[level];
    // A parent with room takes the split child's new half, and the split stops there.
    if (item.node.Count() < o.KeysPerNode()) {
      rewrites.emplace_back(
          item.block, WithEntry(item.node, item.index, pointer, entry_key.data(), next, kl, el));
      break;
    }
    uint32_t trailing;
    Unpack(item.node, kl, el, entries, trailing);
    entries.insert(entries.begin() + item.index, TEntry{pointer, entry_key});
    if (next != 0) {
      if (static_cast<size_t>(item.index) + 1 < entries.size())
        entries[item.index + 1].pointer = next;
      else
        trailing = next;
    }
    const bool leaf_level = level + 1 == o.path.size();
    if (entries.size() <= static_cast<size_t>(o.KeysPerNode())) {
      rewrites.emplace_back(item.block, Pack(entries, 0, entries.size(), trailing, kl, el));
      break;
    }
    // Split: the old node keeps the lower half, a new node at the end takes the upper half.
    size_t lower = entries.size() / 2;
    std::vector<uint8_t> lower_max = entries[lower - 1].key;
    TNode low = leaf_level ? Pack(entries, 0, lower, 0, kl, el)
                           : Pack(entries, 0, lower - 1, entries[lower - 1].pointer, kl, el);
    TNode high = Pack(entries, lower, entries.size(), leaf_level ? 0 : trailing, kl, el);
    int32_t high_block = AppendNode(ia, o, high);
    if (high_block == 0) return -1;
    rewrites.emplace_back(item.block, low);
    pointer = static_cast<uint32_t>(item.block);
    entry_key = lower_max;
    next = static_cast<uint32_t>(high_block);
    if (level == 0) {
      // The root split: the tree grows by one level.
      TNode root;
      root.Insert(0, pointer, entry_key.data(), kl, el);
      Put32(root.Entry(1, el), next);
      new_root = AppendNode(ia, o, root);
      if (new_root == 0) return -1;
    }
  }
  for (const auto& [block, node] : rewrites)
    if (!WriteNode(ia, o, block, node)) return -1;
  if (new_root != 0) o.SetRoot(new_root);
  return finish();
}

// Removes the entry of `record` with `key` from tag `o`; 0 done (or nothing to remove where
// that is allowed: a unique tag, a FOR tag without the key), -1 failure.
int RemoveEntry(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record) {
  const int kl = o.KeyLength(), el = o.EntryLength();
  if (!DescendByKey(ia, o, key)) return -1;
  bool found_key = false;
  for (size_t steps = MaxEntries(ia, o);; --steps) {
    TPathItem& leaf = o.path.back();
    if (steps == 0) {
      BadNode(o, leaf.block);
      return -1;
    }
    if (leaf.index >= leaf.node.Count()) {
      Step step = StepEntry(ia, o, true);
      if (step == Step::kFailed) return -1;
      if (step == Step::kEnd) break;
      continue;
    }
    if (o.Compare(leaf.node.Key(leaf.index, el), key) != 0) break;
    found_key = true;
    if (static_cast<int32_t>(leaf.node.Pointer(leaf.index, el)) == record) {
      size_t level = o.path.size() - 1;
      TPathItem* item = &o.path[level];
      bool was_last = item->index == item->node.Count() - 1;
      item->node.Remove(item->index, el);
      // Emptied nodes leave their parents, climbing while a parent empties too.
      while (level > 0 && NodeEmpty(item->node, el)) {
        if (!WriteNode(ia, o, item->block, TNode())) return -1;
        --level;
        item = &o.path[level];
        was_last = false;
        RemoveSlot(item->node, item->index, el);
      }
      if (!WriteNode(ia, o, item->block, item->node)) return -1;
      if (level + 1 == o.path.size() && was_last && item->node.Count() > 0) {
        // The node's largest key changed: so does the separator that leads to it.
        std::vector<uint8_t> last(item->node.Key(item->node.Count() - 1, el),
                                  item->node.Key(item->node.Count() - 1, el) + kl);
        for (size_t up = level; up-- > 0;) {
          TPathItem& parent = o.path[up];
          if (parent.index < parent.node.Count()) {
            std::memcpy(parent.node.Entry(parent.index, el) + 4, last.data(), kl);
            if (!WriteNode(ia, o, parent.block, parent.node)) return -1;
            break;
          }
        }
      }
      if (level == 0 && NodeEmpty(item->node, el) && o.HasFor()) {
        o.anchor[kAnchorForState] = 0;
        o.anchor_changed = true;
      }
      // An inner root with one child left gives way to that child.
      for (size_t depth = 0; depth < kMaxDepth; ++depth) {
        TNode root;
        if (!SeekAndRead(ia, o, o.Root(), root)) return -1;
        if (root.Count() != 0 || root.IsLeaf(el)) break;
        o.SetRoot(static_cast<int32_t>(root.Trailing(el)));
        o.anchor_changed = true;
      }
      ResetToEmpty(o);
      return o.anchor_changed && !WriteTagHeader(ia, o) ? -1 : 0;
    }
    Step step = StepEntry(ia, o, true);
    if (step == Step::kFailed) return -1;
    if (step == Step::kEnd) break;
  }
  ResetToEmpty(o);
  // A unique tag holds a key for one record only, and once that record changes away the key
  // is gone although other records still have it: when one of those changes, there is
  // nothing to remove. Likewise a FOR tag never held the keys of the records that fail it.
  if (o.Unique() || (!found_key && o.HasFor())) return 0;
  return -1;
}

}  // namespace

// A failed insert or removal may leave nodes on the path that differ from the file's.
int AppendIndex(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record) {
  int result = InsertEntry(ia, o, key, record);
  if (result < 0) ResetToEmpty(o);
  return result;
}

int DeleteKey(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record) {
  int result = RemoveEntry(ia, o, key, record);
  if (result < 0) ResetToEmpty(o);
  return result;
}

namespace {

// The record as it was before the replace, back in the table and in the field value record.
bool PutBackRecord(TIndexArea& ia) {
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  if (ia.record_before_replace.size() != t.Record.size()) return true;  // none was kept
  t.Record = ia.record_before_replace;
  bool ok = PutDbfRecord(t, t.CurrentRecord);
  UnpackRecord(t, wa.FieldValues);
  return ok;
}

// Moves the key of the current record in tag `o` after a replace; false when it could not.
bool MoveKey(TIndexArea& ia, TOrder& o, std::vector<uint8_t>& key, bool& passes) {
  TWorkArea& wa = Wa();
  const int32_t record = wa.Table.CurrentRecord;
  if (!MakeKey(wa, o, key.data())) return false;
  passes = PassesFor(o);
  if (DbLastError != 0) return false;
  const std::string missing = "Record number " + std::to_string(record) + " not found in index." +
                              OrderDescription(o.tag) + " [CompareKeys]";
  if (o.old_record != record) return Fail(254, missing);
  bool changed = o.old_key != key;
  if (o.old_passes && (changed || !passes)) {
    if (DeleteKey(ia, o, o.old_key.data(), record) != 0)
      return DbLastError != 0 ? false : Fail(254, missing);
  }
  if (passes && (changed || !o.old_passes)) {
    if (AppendIndex(ia, o, key.data(), record) < 0) return false;
  }
  return true;
}

}  // namespace

bool CompareKeys(TIndexArea& ia) {
  // An error raised half way would leave tags half moved: it waits for the caller.
  ScopedReporting quiet(false);
  ReplaceJournal journal(ia);
  struct Moved {
    TOrder* order;
    std::vector<uint8_t> key;
    bool passes;
  };
  std::vector<Moved> moved;
  // An error standing from the replace's steps before (its record not found in the current
  // order, the write lock not taken) moves no key.
  bool ok = DbLastError == 0;
  for (int tag = 1; ok && tag <= kMaxTags; ++tag) {
    TOrder* o = ia.orders[tag].get();
    if (!o) continue;
    Moved m{o, std::vector<uint8_t>(static_cast<size_t>(o->KeyLength())), false};
    ok = MoveKey(ia, *o, m.key, m.passes);
    if (ok)
      moved.push_back(std::move(m));
    else if (DbLastError == 0)
      Fail(254, "Key not replaced: " + OrderDescription(tag) + " [CompareKeys]");
  }
  if (ok) {
    for (const Moved& m : moved) {
      m.order->old_key = m.key;
      m.order->old_passes = m.passes;
      std::copy(m.key.begin(), m.key.end(), m.order->key.begin());
    }
  } else {
    uint16_t code = DbLastError;
    std::string context = DbErrorContext;
    if (!journal.Undo())
      code = 254, context = "Index file corrupted. " + ia.file_name + " [CompareKeys]";
    if (!PutBackRecord(ia)) code = DbLastError, context = DbErrorContext;
    SetDbError(code, context);
  }
  ia.record_before_replace.clear();
  return ok;
}

}  // namespace tz::ndx
