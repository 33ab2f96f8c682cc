// Keys of the index engine: the key makers and compares of the key types, and the key
// maintenance that keeps every tag in step with appended and replaced records: insert with node
// splits and root growth, delete with root collapse.
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
    return o.anchor_changed && !WriteAnchor(o.tag) ? -1 : 0;
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
    if (!SeekAndWrite(ia, o, block, node)) return -1;
  if (new_root != 0) o.SetRoot(new_root);
  ResetToEmpty(o);
  o.anchor_changed = true;
  return WriteAnchor(o.tag) ? 1 : -1;
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
        if (!SeekAndWrite(ia, o, item->block, TNode())) return -1;
        --level;
        item = &o.path[level];
        was_last = false;
        RemoveSlot(item->node, item->index, el);
      }
      if (!SeekAndWrite(ia, o, item->block, item->node)) return -1;
      if (level + 1 == o.path.size() && was_last && item->node.Count() > 0) {
        // The node's largest key changed: so does the separator that leads to it.
        std::vector<uint8_t> last(item->node.Key(item->node.Count() - 1, el),
                                  item->node.Key(item->node.Count() - 1, el) + kl);
        for (size_t up = level; up-- > 0;) {
          TPathItem& parent = o.path[up];
          if (parent.index < parent.node.Count()) {
            std::memcpy(parent.node.Entry(parent.index, el) + 4, last.data(), kl);
            if (!SeekAndWrite(ia, o, parent.block, parent.node)) return -1;
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
      return o.anchor_changed && !WriteAnchor(o.tag) ? -1 : 0;
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

}  // namespace tz::ndx
