// The index engine's inner state, shared by its files (tzndx.h is the interface): the node and
// tag header layouts, the order of one open tag with its position, the per-work-area index
// state kept in TWorkArea::IndexData, and the node I/O every seek, skip and insert goes through.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/index/tzndx.h"
#include "tables/index/tzparser.h"

namespace tz::ndx {

inline constexpr int kMaxTags = 47;
inline constexpr size_t kBlockBytes = 512;
inline constexpr size_t kNodeBytes = 1024;
inline constexpr size_t kHeaderBytes = 2048;
inline constexpr size_t kAnchorBytes = 983;
inline constexpr size_t kTagTableBase = 512;
inline constexpr size_t kTagEntryBytes = 32;
inline constexpr int kMaxKeyLength = 100;
inline constexpr size_t kExprField = 221;  // stored key and FOR expressions, zero included
// No tree this engine builds comes near it; a deeper descent means a cycle in the file.
inline constexpr size_t kMaxDepth = 32;

// Tag header offsets.
enum AnchorField : size_t {
  kAnchorRoot = 0,
  kAnchorFlags = 8,
  kAnchorType = 9,
  kAnchorKeyLength = 12,
  kAnchorKeysPerNode = 14,
  kAnchorSecondary = 16,
  kAnchorEntryLength = 18,
  kAnchorUnique = 23,
  kAnchorKeyExpr = 24,
  kAnchorHasFor = 245,
  kAnchorForState = 246,
  kAnchorForExpr = 762,
};
inline constexpr uint8_t kFlagAlways = 0x10;
inline constexpr uint8_t kFlagDescending = 0x08;
inline constexpr uint8_t kFlagUnique = 0x40;

inline uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
// A zero-terminated text in a fixed field, at most `size` - 1 bytes.
std::string FieldText(const uint8_t* p, size_t size);
void PutFieldText(uint8_t* p, size_t size, const std::string& text);

using CompareProc = int (*)(const uint8_t* a, const uint8_t* b, size_t length);

// One 1024-byte node. Entry i of an inner node points at the child for keys up to its key;
// the pointer slot behind the last entry is the trailing pointer, so Pointer(Count()) is it.
struct TNode {
  std::array<uint8_t, kNodeBytes> b{};

  int Count() const { return Get16(b.data()); }
  void SetCount(int n) { Put32(b.data(), static_cast<uint32_t>(n)); }
  uint8_t* Entry(int i, int entry_length) { return b.data() + 8 + i * entry_length; }
  const uint8_t* Entry(int i, int entry_length) const { return b.data() + 8 + i * entry_length; }
  uint32_t Pointer(int i, int entry_length) const { return Get32(Entry(i, entry_length)); }
  const uint8_t* Key(int i, int entry_length) const { return Entry(i, entry_length) + 4; }
  uint32_t Trailing(int entry_length) const { return Pointer(Count(), entry_length); }
  bool IsLeaf(int entry_length) const { return Trailing(entry_length) == 0; }
  // Puts an entry at i; the later entries and the trailing pointer move up.
  void Insert(int i, uint32_t pointer, const uint8_t* key, int key_length, int entry_length);
  // Removes entry i; the later entries and the trailing pointer move down.
  void Remove(int i, int entry_length);
};

// One node on the way from the root to the current entry.
struct TPathItem {
  int32_t block = 0;
  TNode node;
  int index = 0;  // the entry taken (an inner node: the child followed)
};

struct ExprFree {
  void operator()(CompiledExpr* e) const { FreeExpr(e); }
};
using ExprPtr = std::unique_ptr<CompiledExpr, ExprFree>;

// One open tag of a work area.
struct TOrder {
  int tag = 0;  // its tag table entry
  std::array<uint8_t, kAnchorBytes> anchor{};
  bool anchor_changed = false;
  CompareProc compare = nullptr;  // the tag's order: exchanged operands when descending
  bool key_is_text = false;
  bool complement = false;
  bool bof = false;
  bool eof = false;
  uint8_t upper_flag = 0;
  std::vector<uint8_t> key;  // the current key, key length + a zero
  // Root to the current node; empty when none is read. Each order keeps its own.
  std::vector<TPathItem> path;
  bool on_empty = true;  // the current entry is the empty entry (record -1)
  // The current record is not in the tag (another program changed it out, or its append
  // failed): the position is where its key would be, on the first entry not below it or
  // behind the last, and the next step takes that entry (or the one before it).
  bool gap = false;
  // The root below which the leaves were last found at `leaf_depth`; 0 before the first
  // descent, and after another program changed the tree.
  int32_t depth_root = 0;
  size_t leaf_depth = 0;
  ExprPtr key_expr;
  ExprPtr for_expr;
  // The stored record's key and FOR result, made before a replace.
  std::vector<uint8_t> old_key;
  int32_t old_record = 0;
  bool old_passes = false;

  int32_t Root() const { return static_cast<int32_t>(Get32(&anchor[kAnchorRoot])); }
  void SetRoot(int32_t block) { Put32(&anchor[kAnchorRoot], static_cast<uint32_t>(block)); }
  int KeyLength() const { return Get16(&anchor[kAnchorKeyLength]); }
  int EntryLength() const { return Get16(&anchor[kAnchorEntryLength]); }
  int KeysPerNode() const { return Get16(&anchor[kAnchorKeysPerNode]); }
  char KeyType() const { return static_cast<char>(anchor[kAnchorType]); }
  bool Unique() const { return (anchor[kAnchorFlags] & kFlagUnique) != 0 || anchor[kAnchorUnique]; }
  bool HasFor() const { return anchor[kAnchorHasFor] != 0; }
  bool ForPassed() const { return anchor[kAnchorForState] != 0; }
  // A FOR tag no record has passed yet: it behaves as empty.
  bool EmptyByFor() const { return HasFor() && !ForPassed(); }
  int Compare(const uint8_t* a, const uint8_t* b) const {
    return compare(a, b, static_cast<size_t>(KeyLength()));
  }
  TPathItem* Leaf() { return path.empty() ? nullptr : &path.back(); }
  // Every leaf of a sound tree lies at one depth: false when a descent that reached a leaf at
  // `depth` (the root is 1) disagrees with the first one below the current root.
  bool LeafDepthAgrees(size_t depth) {
    if (depth_root != Root()) depth_root = Root(), leaf_depth = depth;
    return depth == leaf_depth;
  }
  // Record number of the current entry; -1 on the empty entry.
  int32_t CurrentRecord() const;
};

struct TSemaphore;  // the semaphore record of a work area (tzndxsem.cpp)
struct TSemaphoreFree {
  void operator()(TSemaphore* s) const;
};

// Nodes of one open index file as SeekAndRead checked them (or as this program wrote them),
// at most kSlots of them. Whether they may be used is decided in one place, NodeCacheUsable
// (tzndxsem.cpp); every write to the file goes through Forget or Clear first.
//
// The slots form sets of kWays; a block always goes to the same set. Inner nodes are what
// every descent passes through, so a leaf never takes the slot of an inner node: a tree of a
// million keys has a few hundred inner nodes against tens of thousands of leaves, and with
// the inner nodes kept a random seek reads only its leaf. Some slots of every set are left to
// leaves all the same: the leaf a key went into is read again by the next steps.
class TNodeCache {
 public:
  static constexpr size_t kWays = 8;
  static constexpr size_t kInnerWays = 6;  // the most inner nodes a set keeps
  static constexpr int kSetBits = 6;
  static constexpr size_t kSets = size_t{1} << kSetBits;
  static constexpr size_t kSlots = kWays * kSets;
  // The set a block's node goes to. Nodes are two blocks long: blocks of one node differ in
  // their lowest bit. The index build lays nodes out at regular strides, so the node number is
  // mixed (Fibonacci hashing) rather than taken modulo the sets.
  static size_t SetOf(int32_t block) {
    return (static_cast<uint32_t>(block) >> 1) * 2654435769u >> (32 - kSetBits);
  }
  // The node of `block` as checked for tag `tag`; nullptr when it is not kept. (WriteAnchor
  // keeps the tag headers it wrote under the negated tag number.)
  const TNode* Find(int32_t block, int tag) {
    for (Slot& s : Set(block))
      if (s.block == block && s.tag == tag) {
        s.used = ++clock_;
        return &s.node;
      }
    return nullptr;
  }
  // Keeps the node of `block`; `inner` tells an inner node from a leaf.
  void Store(int32_t block, int tag, const TNode& node, bool inner) {
    Slot* into = nullptr;
    size_t inner_nodes = 0;
    for (Slot& s : Set(block)) {
      if (s.block == block) {
        into = &s;  // the same block again (rewritten, or read for another tag)
        break;
      }
      if (s.block != 0 && s.inner) ++inner_nodes;
    }
    if (!into) {
      // An inner node takes a free slot or a leaf's while the set has room for inner nodes,
      // else the inner node used longest ago; a leaf takes a free slot or the leaf used
      // longest ago. Either finds one: the set always has a slot that no inner node holds.
      const bool among_inner = inner && inner_nodes >= kInnerWays;
      for (Slot& s : Set(block)) {
        if (!among_inner && s.block == 0) {
          into = &s;
          break;
        }
        if (s.block != 0 && s.inner == among_inner && (!into || s.used < into->used)) into = &s;
      }
    }
    if (!into) return;
    into->block = block;
    into->tag = tag;
    into->inner = inner;
    into->used = ++clock_;
    into->node = node;
  }
  // Before `length` bytes are written at block `block`: the nodes they can overlap go, and
  // the size kept when the write may make the file longer.
  void Forget(int32_t block, uint64_t length = kNodeBytes) {
    for (int64_t b = int64_t{block} - 1;
         b * int64_t{kBlockBytes} < int64_t{block} * int64_t{kBlockBytes} + int64_t(length); ++b)
      for (Slot& s : Set(static_cast<int32_t>(b)))
        if (s.block == b) s.block = 0;
    if (uint64_t(uint32_t(block)) * kBlockBytes + length > file_size) file_size = 0;
  }
  void Clear() {
    for (Slot& s : slots_) s.block = 0;
    file_size = 0;
  }
  // The size of the file as last asked for; 0 when it is not known.
  uint64_t file_size = 0;
  // The semaphore's change counter the nodes kept belong to (shared use).
  uint16_t counter = 0;

 private:
  struct Slot {
    int32_t block = 0;  // 0: empty
    int tag = 0;
    bool inner = false;
    uint64_t used = 0;  // the clock at its last use
    TNode node;
  };
  Slot* SetStart(int32_t block) { return slots_.data() + SetOf(block) * kWays; }
  struct Range {
    Slot* from;
    Slot* begin() const { return from; }
    Slot* end() const { return from + kWays; }
  };
  Range Set(int32_t block) { return Range{SetStart(block)}; }
  std::vector<Slot> slots_ = std::vector<Slot>(kSlots);
  uint64_t clock_ = 0;
};

// The index state of one work area.
struct TIndexArea {
  TIndexArea();
  ~TIndexArea();
  TIndexArea(const TIndexArea&) = delete;
  TIndexArea& operator=(const TIndexArea&) = delete;

  platform::File file;
  TNodeCache nodes;  // of `file`: cleared whenever it is opened, created or closed
  std::string file_name;
  std::vector<uint8_t> header;  // 2048 bytes while a header is loaded
  bool header_changed = false;
  std::array<std::unique_ptr<TOrder>, kMaxTags + 1> orders;  // by tag number
  int current = 0;                                           // the tag at position 1; 0 none
  bool natural = false;                                      // no index order is active
  std::unique_ptr<TSemaphore, TSemaphoreFree> semaphore;
  int read_depth = 0;
  int write_depth = 0;
  // The stored record as it was before the replace in progress (MakeCurrentKeys with all):
  // CompareKeys writes it back when the keys cannot follow the new one.
  std::vector<char> record_before_replace;

  // The order at a position: position 1 the current one, the current tag's own position
  // holds tag 1, every other tag its own.
  TOrder* At(int position);
  int TagCount() const { return header.empty() ? 0 : header[28]; }
  uint8_t* TagEntry(int k) { return header.data() + kTagTableBase + kTagEntryBytes * k; }
  bool AnyOpen() const;
};

// The selected work area's index state; nullptr without a table. Area() creates it.
TIndexArea* FindArea();
TIndexArea* Area();
TWorkArea& Wa();

// The index unit's error routine: stores the error and answers false.
bool Fail(uint16_t code, const std::string& text);

// --- Node I/O (tzndxfile.cpp) -----------------------------------------------------------

// The size of the index file (kept with the node cache while that may be used); 0 on failure.
uint64_t FileSize(TIndexArea& ia);
// A node number that can name a node of this file.
bool ValidBlock(TIndexArea& ia, uint32_t block);
// Reads `block` of `o` into `node` (from the order's path when it is there) and checks it:
// 222 for a bad node number, count or child pointer, the I/O code otherwise.
bool SeekAndRead(TIndexArea& ia, TOrder& o, int32_t block, TNode& node);
// 222 for the node at `block` of tag `o`: its contents (or the way to it) are damaged.
bool BadNode(TOrder& o, int32_t block);
// Writes the node at `block` and refreshes its copy on the order's path.
bool SeekAndWrite(TIndexArea& ia, TOrder& o, int32_t block, const TNode& node);
// Appends a node at the end of the file; its block, 0 on failure. The page count follows.
int32_t AppendNode(TIndexArea& ia, TOrder& o, const TNode& node);
// The first entry of the node whose key is not below `key` (Count() when none).
int SearchNode(const TOrder& o, const TNode& node, const uint8_t* key);
// From the root to the leaf where `key` belongs; the path holds every node on the way and
// its entry taken. False on a read error (also one that is raised), with the order on the
// empty entry.
bool DescendByKey(TIndexArea& ia, TOrder& o, const uint8_t* key);
// From the node on top of the path (or the root when the path is empty) down to the first
// (first = true) or last leaf entry. Fails as DescendByKey does.
bool DescendToEdge(TIndexArea& ia, TOrder& o, bool first);
bool FlushHeader(TIndexArea& ia);
void SetPageCount(TIndexArea& ia);
// The header's tag table: add (replacing one of that name) and remove entries.
bool AddTagEntry(TIndexArea& ia, const std::string& name, int32_t header_block, char type);
void RemoveTagEntry(TIndexArea& ia, const std::string& name);
// Fills an order's routines and flags from its tag header and compiles its expressions: 222
// for a bad header or expression, 266 for a bad key length.
bool PrepareOrder(TIndexArea& ia, TOrder& o, const std::string& file_name);
// Closes one order (its tag header written when it changed).
void CloseOrder(TIndexArea& ia, int tag);
// Frees the orders, the header and the file of the work area (semaphore logout included).
void CloseAllOrders(TIndexArea& ia);

// --- Build (tzndxbuild.cpp) ---------------------------------------------------------------

// Builds the tag of `o` anew from every record of the table into fresh nodes at the end of the
// index file: the root's block (0 on failure, the error stored) and whether a record passed
// the FOR condition. The nodes in use are not touched.
int32_t BuildTree(TIndexArea& ia, TOrder& o, bool& passed);
// Rebuilds every open tag in place: fresh trees at the end of the file, then each tag header
// pointed at its new root, so the file stays whole at every moment and other programs keep
// the file they have open. Positions are found again from their keys when next used. False on
// failure (the error stored). The caller holds the write semaphore.
bool RebuildTagsInPlace(TIndexArea& ia);

// --- Keys (tzndxkeys.cpp) -----------------------------------------------------------------

// The compare routine of a key type letter (nullptr for another letter).
CompareProc CompareFor(char type, bool descending);
// The current record's key of the order into `dest` (key length bytes). False when the
// evaluation failed.
bool MakeKey(TWorkArea& wa, TOrder& o, uint8_t* dest);
// The current record passes the order's FOR condition (true without one).
bool PassesFor(TOrder& o);
// The key of the blank record (after the last) into the order's key buffer.
void BlankKey(TOrder& o);
// Inserts the entry (record, key) into tag `o` (nothing when the record fails the FOR
// condition, or the key exists in a unique tag): 1 inserted, 0 nothing to insert, -1 failure
// (the error is stored, and the order stands on the empty entry).
int AppendIndex(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record);
// Removes the entry (record, key) of tag `o`; 0 done, also when a unique tag does not hold it
// for this record or a FOR tag does not hold the key; -1 when it is missing otherwise or on
// failure (a node that cannot be read or written; the order then stands on the empty entry).
int DeleteKey(TIndexArea& ia, TOrder& o, const uint8_t* key, int32_t record);
// After a replace: moves the key of every tag whose key or FOR result changed, from the keys
// MakeCurrentKeys (all) made before. All or nothing: when one tag's key cannot move (a key
// that cannot be made, a node that cannot be read or written), or an error stands from the
// steps before, every tag and the record go back to what they were before the replace, and
// the answer is false with the error stored, not reported.
bool CompareKeys(TIndexArea& ia);

// --- Positioning (tzndxorder.cpp) --------------------------------------------------------

int32_t FirstOrLastKey(TIndexArea& ia, TOrder& o, bool first);
// Puts the order on the empty entry.
void ResetToEmpty(TOrder& o);
// Puts the order in the gap where `key` would be (nullptr: behind the last entry). Keeps
// DbLastError as it was.
void StandInGap(TIndexArea& ia, TOrder& o, const uint8_t* key);
// Moves the order's position to the next (forward) or previous entry, across leaves: kEnd
// when there is none, kFailed when a node on the way cannot be read (the error is stored). In
// both the position stays where it was, also when the read raises its error.
enum class Step { kMoved, kEnd, kFailed };
Step StepEntry(TIndexArea& ia, TOrder& o, bool forward);
// More entries than the index file has room for in nodes: a walk that takes more steps than
// this through one tag goes round in a damaged tree.
size_t MaxEntries(TIndexArea& ia, const TOrder& o);
// Seeks `key` on tag `o`: the position of the first entry not below it (stepping into the
// next leaf unless `insert`); true when an entry equal over the key length was found. At the
// end of the tag the order's EOF flag is set and it stands behind the last entry. When a node
// cannot be read the answer is false, the error is stored and the order stands on the empty
// entry (its path empty).
bool SeekKey(TIndexArea& ia, TOrder& o, const uint8_t* key, bool insert = false);
// SyncIndex, with the table kept on its record when `table_follows` is false (before a replace,
// whose record must stay the one written even when the order leaves it out).
void SyncOrders(bool all, bool table_follows);
// Rebuilds the index of the selected work area under the write semaphore when this station
// found activity that a dead station left (it may have died between a record and its keys):
// true when the index can be trusted, false with the error stored when the rebuild failed.
bool RepairIfSuspect();
// The node cache of the index may be used now: always while the table is in exclusive use
// (no other program writes the file); in shared use only inside a read or write bracket, and
// with the nodes dropped first when the semaphore's change counter moved since they were read.
bool NodeCacheUsable(TIndexArea& ia);
// The semaphore change test: true when another program wrote the index since the last look
// (the tag headers and the record count have then been read again; positions on an entry
// are found again from their saved keys when next used).
bool IndexChanged();

// --- Brackets -------------------------------------------------------------------------------

// A read (or write) bracket of the semaphore protocol for the life of the object.
class ReadBracket {
 public:
  ReadBracket() { SetReadSemaphoreProc(1); }
  ~ReadBracket();
  ReadBracket(const ReadBracket&) = delete;
  ReadBracket& operator=(const ReadBracket&) = delete;
};
class WriteBracket {
 public:
  WriteBracket() { SetLockSemaphoreProc(1); }
  ~WriteBracket();
  WriteBracket(const WriteBracket&) = delete;
  WriteBracket& operator=(const WriteBracket&) = delete;
};

}  // namespace tz::ndx
