// The index file: header and tag table, tag headers, node I/O and descent, opening and closing.
#include <algorithm>

#include "platform/clock.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"
#include "tables/index/tzndxlow.h"

namespace tz {

int IndexFileMode = -1;
std::string SemaphoreDirectory;
uint32_t SemaphoreTimeout = 100;
uint32_t SemaphoreLockWaitMs = 10000;
uint32_t IndexBuildWaitMs = 100000;
uint32_t IndexBuildRunItems = 8189;
void (*IndexDateProc)(int& year, int& month, int& day) = nullptr;

namespace ndx {

std::string FieldText(const uint8_t* p, size_t size) {
  size_t n = 0;
  while (n + 1 < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

void PutFieldText(uint8_t* p, size_t size, const std::string& text) {
  std::fill(p, p + size, 0);
  std::memcpy(p, text.data(), std::min(text.size(), size - 1));
}

void TNode::Insert(int i, uint32_t pointer, const uint8_t* key, int key_length, int entry_length) {
  int count = Count();
  uint8_t* at = Entry(i, entry_length);
  uint8_t* end = Entry(count, entry_length) + 4;  // behind the trailing pointer
  std::memmove(at + entry_length, at, static_cast<size_t>(end - at));
  std::fill(at, at + entry_length, 0);
  Put32(at, pointer);
  std::memcpy(at + 4, key, static_cast<size_t>(key_length));
  SetCount(count + 1);
}

void TNode::Remove(int i, int entry_length) {
  int count = Count();
  uint8_t* at = Entry(i, entry_length);
  uint8_t* end = Entry(count, entry_length) + 4;
  std::memmove(at, at + entry_length, static_cast<size_t>(end - at - entry_length));
  std::fill(end - entry_length, end, 0);
  SetCount(count - 1);
}

int32_t TOrder::CurrentRecord() const {
  if (on_empty || path.empty()) return -1;
  const TPathItem& leaf = path.back();
  if (leaf.index < 0 || leaf.index >= leaf.node.Count()) return -1;
  return static_cast<int32_t>(leaf.node.Pointer(leaf.index, EntryLength()));
}

TIndexArea::TIndexArea() = default;
TIndexArea::~TIndexArea() = default;

TOrder* TIndexArea::At(int position) {
  if (position < 1 || position > kMaxTags) return nullptr;
  int tag = position;
  if (current > 1) {
    if (position == 1)
      tag = current;
    else if (position == current)
      tag = 1;
  }
  return orders[tag].get();
}

bool TIndexArea::AnyOpen() const {
  return std::any_of(orders.begin(), orders.end(), [](const auto& o) { return o != nullptr; });
}

TIndexArea* FindArea() {
  std::shared_ptr<void>* data = WorkAreaIndexData();
  return data ? static_cast<TIndexArea*>(data->get()) : nullptr;
}

TIndexArea* Area() {
  std::shared_ptr<void>* data = WorkAreaIndexData();
  if (!data) return nullptr;
  if (!*data) *data = std::make_shared<TIndexArea>();
  return static_cast<TIndexArea*>(data->get());
}

TWorkArea& Wa() {
  return *SelectedArea();
}

bool Fail(uint16_t code, const std::string& text) {
  SetDbError(code, text);
  return false;
}

namespace {

// The header fields a new file starts with.
void FillNewHeader(std::vector<uint8_t>& h, const std::string& table_name) {
  h.assign(kHeaderBytes, 0);
  int year = 0, month = 0, day = 0;
  if (IndexDateProc) {
    IndexDateProc(year, month, day);
  } else {
    uint16_t y, m, d, dow;
    DayOfWeekOf(y, m, d, dow);
    year = y, month = m, day = d;
  }
  h[0] = 2;
  h[1] = static_cast<uint8_t>(year - 1900);
  h[2] = static_cast<uint8_t>(month);
  h[3] = static_cast<uint8_t>(day);
  std::string dir, name, ext;
  FSplit(table_name, dir, name, ext);
  PutFieldText(&h[4], 16, name);
  Put16(&h[20], 2);
  Put16(&h[22], kNodeBytes);
  h[24] = 1;
  h[25] = 48;
  h[26] = kTagEntryBytes;
  Put32(&h[32], kHeaderBytes / kBlockBytes);
  std::copy(&h[1], &h[4], &h[44]);
}

void RebuildThreads(TIndexArea& ia) {
  int n = ia.TagCount();
  for (int k = 0; k <= n; ++k) std::fill(ia.TagEntry(k) + 16, ia.TagEntry(k) + 19, 0);
  for (int k = 2; k <= n; ++k) {
    int at = 1;
    for (size_t depth = 0; depth < 64; ++depth) {
      bool below = std::memcmp(ia.TagEntry(k) + 4, ia.TagEntry(at) + 4, 11) < 0;
      uint8_t& thread = ia.TagEntry(at)[below ? 16 : 17];
      if (thread == 0) {
        thread = static_cast<uint8_t>(k);
        ia.TagEntry(k)[18] = static_cast<uint8_t>(at);
        break;
      }
      at = thread;
    }
  }
  if (n > 0) ia.TagEntry(0)[17] = 1;
  ia.header_changed = true;
}

// The open mode of an index file for the selected table.
unsigned IndexOpenMode() {
  if (IndexFileMode != -1) return static_cast<unsigned>(IndexFileMode);
  return DbNetworkLocking && !Wa().Exclusive ? platform::kModeReadWriteShared : 2;
}

bool ReadAnchor(TIndexArea& ia, TOrder& o) {
  uint32_t block = Get32(ia.TagEntry(o.tag));
  size_t done = 0;
  if (!ValidBlock(ia, block)) return false;
  int rc = ia.file.ReadAt(uint64_t{block} * kBlockBytes, o.anchor.data(), kAnchorBytes, &done);
  return rc == 0 && done == kAnchorBytes;
}

// The key of the blank record past the end, for the length check of a text tag.
size_t BlankKeyLength(TOrder& o) {
  TDbfTable& t = Wa().Table;
  std::vector<char> saved = t.Record;
  int32_t saved_record = t.CurrentRecord;
  std::fill(t.Record.begin(), t.Record.end(), ' ');
  t.CurrentRecord = t.RecordCount + 1;
  EvaluateExpr(o.key_expr.get());
  size_t length = o.key_expr->result_length;
  t.Record.swap(saved);
  t.CurrentRecord = saved_record;
  return length;
}

// Reads and prepares tag k; the error code, 0 when it opened.
uint16_t OpenTag(TIndexArea& ia, int k, const std::string& file_name) {
  auto o = std::make_unique<TOrder>();
  o->tag = k;
  {
    ReadBracket bracket;
    if (!ReadAnchor(ia, *o)) return 222;
  }
  ScopedReporting quiet(false);
  if (!PrepareOrder(ia, *o, file_name)) return DbLastError;
  if (o->key_is_text && BlankKeyLength(*o) != static_cast<size_t>(o->KeyLength())) return 266;
  BlankKey(*o);
  ia.orders[k] = std::move(o);
  return 0;
}

}  // namespace

// --- Node I/O ------------------------------------------------------------------------------

uint64_t FileSize(TIndexArea& ia) {
  const bool keep = NodeCacheUsable(ia);
  if (keep && ia.nodes.file_size != 0) return ia.nodes.file_size;
  uint64_t size = 0;
  if (ia.file.Size(&size) != 0) return 0;
  if (keep) ia.nodes.file_size = size;
  return size;
}

namespace {

bool BlockWithin(uint32_t block, uint64_t file_size) {
  return block >= kHeaderBytes / kBlockBytes && block % 2 == 0 &&
         uint64_t{block} * kBlockBytes + kNodeBytes <= file_size;
}

// Leaves the order on the empty entry unless the descent it watches reaches a leaf: a read
// that fails, or raises its error, leaves no path half built.
class DescentGuard {
 public:
  explicit DescentGuard(TOrder& o) : o_(o) {}
  ~DescentGuard() {
    if (!reached_) ResetToEmpty(o_);
  }
  DescentGuard(const DescentGuard&) = delete;
  DescentGuard& operator=(const DescentGuard&) = delete;
  bool Reached() { return reached_ = true; }

 private:
  TOrder& o_;
  bool reached_ = false;
};

}  // namespace

bool BadNode(TOrder& o, int32_t block) {
  return Fail(222, "Invalid node " + std::to_string(block) +
                       " in index file: " + OrderDescription(o.tag) + " [SeekAndRead]");
}

bool ValidBlock(TIndexArea& ia, uint32_t block) {
  return BlockWithin(block, FileSize(ia));
}

namespace {

// Makes `node`, as the file holds it at `block`, a node of tag `o` in memory: its count in the
// low word (the high word is the changed mark in memory), and every child of an inner node a
// node within the file. False for a node that cannot be one; `inner` tells what it is.
bool CheckNode(TOrder& o, TNode& node, uint64_t file_size, bool& inner) {
  int count = Get32(node.b.data()) & 0xFFFF;
  if (count > o.KeysPerNode()) return false;
  node.SetCount(count);
  int length = o.EntryLength();
  inner = !node.IsLeaf(length);
  if (inner)
    for (int i = 0; i <= count; ++i)
      if (!BlockWithin(node.Pointer(i, length), file_size)) return false;
  return true;
}

}  // namespace

bool SeekAndRead(TIndexArea& ia, TOrder& o, int32_t block, TNode& node) {
  if (block == 0)
    return Fail(254, "$Invalid Node Number (0) in DBF Area " + std::to_string(CurrentWorkArea) +
                         ", Order " + std::to_string(o.tag) + OrderDescription(o.tag) +
                         " [GetNode]");
  // A node kept was checked when it was read, against a file that has not shrunk since.
  const bool cache = NodeCacheUsable(ia);
  if (cache) {
    if (const TNode* kept = ia.nodes.Find(block, o.tag)) {
      node = *kept;
      return true;
    }
  }
  // One size for the node and all its children: an inner node names up to a hundred.
  const uint64_t file_size = FileSize(ia);
  if (!BlockWithin(static_cast<uint32_t>(block), file_size)) return BadNode(o, block);
  auto on_path = std::find_if(o.path.begin(), o.path.end(),
                              [block](const TPathItem& p) { return p.block == block; });
  if (on_path != o.path.end()) {
    node = on_path->node;
  } else {
    size_t done = 0;
    int rc = ia.file.ReadAt(uint64_t(block) * kBlockBytes, node.b.data(), kNodeBytes, &done);
    if (rc == 0 && done != kNodeBytes) rc = 100;
    if (rc != 0)
      return Fail(static_cast<uint16_t>(rc),
                  "Error reading index file: " + OrderDescription(o.tag) + " [SeekAndRead]");
  }
  bool inner = false;
  if (!CheckNode(o, node, file_size, inner)) return BadNode(o, block);
  if (cache) ia.nodes.Store(block, o.tag, node, inner);
  return true;
}

bool SeekAndWrite(TIndexArea& ia, TOrder& o, int32_t block, const TNode& node) {
  for (TPathItem& p : o.path)
    if (p.block == block) p.node = node;
  const uint64_t size_before = ia.nodes.file_size;
  ia.nodes.Forget(block);
  int rc = ia.file.WriteAt(uint64_t(block) * kBlockBytes, node.b.data(), kNodeBytes);
  if (rc != 0)
    return Fail(static_cast<uint16_t>(rc),
                "Error writing index file: " + OrderDescription(o.tag) + " [SeekAndWrite]");
  // The node as a read would find it now: the next descent through it reads nothing.
  if (NodeCacheUsable(ia)) {
    const uint64_t end = uint64_t(block) * kBlockBytes + kNodeBytes;
    if (size_before != 0 && ia.nodes.file_size == 0)
      ia.nodes.file_size = std::max(size_before, end);
    TNode kept = node;
    bool inner = false;
    if (ia.nodes.file_size != 0 && CheckNode(o, kept, ia.nodes.file_size, inner))
      ia.nodes.Store(block, o.tag, kept, inner);
  }
  return true;
}

int32_t AppendNode(TIndexArea& ia, TOrder& o, const TNode& node) {
  uint64_t size = FileSize(ia);
  size = (size + kNodeBytes - 1) / kNodeBytes * kNodeBytes;
  auto block = static_cast<int32_t>(size / kBlockBytes);
  if (!SeekAndWrite(ia, o, block, node)) return 0;
  SetPageCount(ia);
  return block;
}

int SearchNode(const TOrder& o, const TNode& node, const uint8_t* key) {
  int low = 0, high = node.Count();  // the answer lies in [low, high]
  int length = o.EntryLength();
  while (low < high) {
    int mid = low + (high - low) / 2;
    if (o.Compare(node.Key(mid, length), key) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

bool DescendByKey(TIndexArea& ia, TOrder& o, const uint8_t* key) {
  DescentGuard guard(o);
  o.path.clear();
  o.on_empty = o.gap = false;
  int32_t block = o.Root();
  int length = o.EntryLength();
  while (true) {
    if (o.path.size() >= kMaxDepth) return BadNode(o, block);
    // Read in place; its block is set once it is read, so the read never finds it on the path.
    TPathItem& item = o.path.emplace_back();
    if (!SeekAndRead(ia, o, block, item.node)) return false;
    item.block = block;
    item.index = SearchNode(o, item.node, key);
    if (item.node.IsLeaf(length))
      return o.LeafDepthAgrees(o.path.size()) ? guard.Reached() : BadNode(o, block);
    block = static_cast<int32_t>(item.node.Pointer(item.index, length));
  }
}

bool DescendToEdge(TIndexArea& ia, TOrder& o, bool first) {
  DescentGuard guard(o);
  int length = o.EntryLength();
  o.on_empty = o.gap = false;
  if (o.path.empty()) {
    TPathItem root;
    root.block = o.Root();
    if (!SeekAndRead(ia, o, root.block, root.node)) return false;
    o.path.push_back(root);
  }
  while (true) {
    TPathItem& top = o.path.back();
    int count = top.node.Count();
    if (top.node.IsLeaf(length)) {
      top.index = first ? 0 : std::max(count - 1, 0);
      return o.LeafDepthAgrees(o.path.size()) ? guard.Reached() : BadNode(o, top.block);
    }
    top.index = first ? 0 : count;
    const auto block = static_cast<int32_t>(top.node.Pointer(top.index, length));
    if (o.path.size() >= kMaxDepth) return BadNode(o, block);
    TPathItem& child = o.path.emplace_back();  // `top` is gone now
    if (!SeekAndRead(ia, o, block, child.node)) return false;
    child.block = block;
  }
}

void ResetToEmpty(TOrder& o) {
  o.path.clear();
  o.on_empty = true;
  o.gap = false;
}

// --- Header and tag table --------------------------------------------------------------------

bool FlushHeader(TIndexArea& ia) {
  if (!ia.header_changed || ia.header.empty() || !ia.file.IsOpen()) return true;
  int rc = ia.file.WriteAt(0, ia.header.data(), kHeaderBytes);
  if (rc != 0)
    return Fail(static_cast<uint16_t>(rc),
                "Error writing index file:  " + ia.file_name + " [FlushHeader]");
  ia.header_changed = false;
  return true;
}

void SetPageCount(TIndexArea& ia) {
  if (ia.header.empty()) return;
  Put32(&ia.header[32], static_cast<uint32_t>(FileSize(ia) / kBlockBytes));
  ia.header_changed = true;
}

bool AddTagEntry(TIndexArea& ia, const std::string& name, int32_t header_block, char type) {
  RemoveTagEntry(ia, name);
  int n = ia.TagCount();
  if (n >= kMaxTags)
    return Fail(220, "Too many tags in index file " + ia.file_name + " (at most 47): " + name);
  ++n;
  ia.header[28] = static_cast<uint8_t>(n);
  uint8_t* e = ia.TagEntry(n);
  std::fill(e, e + kTagEntryBytes, 0);
  Put32(e, static_cast<uint32_t>(header_block));
  PutFieldText(e + 4, 11, Upper(name).substr(0, 10));
  e[19] = 2;
  e[20] = static_cast<uint8_t>(type);
  RebuildThreads(ia);
  return true;
}

void RemoveTagEntry(TIndexArea& ia, const std::string& name) {
  std::string wanted = Upper(name).substr(0, 10);
  wanted.push_back('\0');
  int n = ia.TagCount();
  for (int k = 1; k <= n; ++k) {
    if (std::memcmp(ia.TagEntry(k) + 4, wanted.data(), wanted.size()) != 0) continue;
    if (k != n) std::memcpy(ia.TagEntry(k), ia.TagEntry(n), kTagEntryBytes);
    std::fill(ia.TagEntry(n), ia.TagEntry(n) + kTagEntryBytes, 0);
    ia.header[28] = static_cast<uint8_t>(n - 1);
    RebuildThreads(ia);
    return;
  }
}

bool PrepareOrder(TIndexArea& ia, TOrder& o, const std::string& file_name) {
  const std::string corrupt = "Invalid dBASE key expression or corrupted index file " + file_name;
  int key_length = o.KeyLength();
  if (key_length < 1 || key_length > kMaxKeyLength)
    return Fail(266, "Incorrect key length: Must be 1 to 100. " + file_name);
  char type = o.KeyType();
  int entry_length = (key_length + 3) / 4 * 4 + 4;
  bool descending = (o.anchor[kAnchorFlags] & kFlagDescending) != 0;
  o.compare = CompareFor(type, descending);
  if (!o.compare || o.EntryLength() != entry_length ||
      o.KeysPerNode() != static_cast<int>((kNodeBytes - 12) / entry_length) ||
      (type == 'D' && key_length != 8) || ((type == 'N' || type == 'F') && key_length != 12) ||
      !ValidBlock(ia, static_cast<uint32_t>(o.Root())))
    return Fail(222, corrupt);
  o.complement = descending;
  o.key_is_text = type == 'C';
  o.key.assign(static_cast<size_t>(key_length) + 1, 0);
  std::string key_text = NormalizeExpression(FieldText(&o.anchor[kAnchorKeyExpr], kExprField));
  PutFieldText(&o.anchor[kAnchorKeyExpr], kExprField, key_text);
  o.key_expr.reset(AssignExpr(key_text));
  char wanted = type == 'F' ? 'N' : type;
  if (!o.key_expr || o.key_expr->result_type != wanted) return Fail(222, corrupt);
  std::string for_text = FieldText(&o.anchor[kAnchorForExpr], kExprField);
  if (!AllTrim(for_text).empty()) {
    for_text = NormalizeExpression(for_text);
    PutFieldText(&o.anchor[kAnchorForExpr], kExprField, for_text);
    o.for_expr.reset(AssignExpr(for_text));
    if (!o.for_expr || o.for_expr->result_type != 'L') return Fail(222, corrupt);
  }
  return true;
}

bool CreateMdxHeader(const std::string& file_name) {
  if (CheckDbInUse("CreateMdxHeader")) return false;
  ndx::TIndexArea& ia = *ndx::Area();
  ia.file_name = file_name;
  ia.nodes.Clear();
  if (FileExistsS(file_name)) {
    int rc = ia.file.Open(file_name, IndexOpenMode());
    size_t done = 0;
    ia.header.assign(kHeaderBytes, 0);
    if (rc == 0) rc = ia.file.ReadAt(0, ia.header.data(), kHeaderBytes, &done);
    if (rc == 0 && done != kHeaderBytes) rc = 222;
    if (rc != 0) {
      ia.file.Close();
      ia.header.clear();
      return Fail(static_cast<uint16_t>(rc), "Unable to open index: " + file_name);
    }
    return true;
  }
  FillNewHeader(ia.header, Wa().Table.FileName);
  int rc = ia.file.Create(file_name, IndexOpenMode());
  if (rc == 0) rc = ia.file.WriteAt(0, ia.header.data(), kHeaderBytes);
  if (rc != 0) {
    ia.file.Close();
    ia.header.clear();
    return Fail(static_cast<uint16_t>(rc), "Unable to open index: " + file_name);
  }
  ia.header_changed = false;
  return true;
}

void CloseOrder(TIndexArea& ia, int tag) {
  TOrder* o = ia.orders[tag].get();
  if (!o) return;
  if (o->anchor_changed) {
    bool lock = !Wa().Exclusive;
    if (uint16_t rc = lock ? LockRegion(false, ia.file, 0, 1) : 0; rc != 0) {
      SetDbError(rc, "Could not lock index for writing anchor node " + OrderDescription(tag));
    } else {
      WriteAnchor(tag);
      if (rc = lock ? LockRegion(true, ia.file, 0, 1) : 0; rc != 0)
        SetDbError(rc, "Could not unlock index after writing anchor node " + OrderDescription(tag));
    }
  }
  ia.orders[tag].reset();
}

void CloseAllOrders(TIndexArea& ia) {
  for (int k = 1; k <= kMaxTags; ++k) {
    DbLastError = 0;
    CloseOrder(ia, k);
  }
  FlushHeader(ia);
  ia.header.clear();
  ia.header_changed = false;
  ia.nodes.Clear();
  if (ia.file.IsOpen()) {
    if (int rc = ia.file.Close(); rc != 0)
      SetDbError(static_cast<uint16_t>(rc), "Error closing index file:  " + ia.file_name);
  }
  ia.current = 0;
  ia.natural = false;
}

}  // namespace ndx

using namespace ndx;

std::string NormalizeExpression(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
      out.push_back(c);
    } else if (c == '"' || c == '\'') {
      quote = c;
      out.push_back(c);
    } else {
      out.push_back(CharUpperChar(c));
    }
  }
  return out;
}

bool CreateMdxHeader(const std::string& file_name) {
  return ndx::CreateMdxHeader(file_name);
}

uint8_t MdxTagCount() {
  TIndexArea* ia = FindArea();
  return ia ? static_cast<uint8_t>(ia->TagCount()) : 0;
}

bool WriteAnchor(int tag) {
  TIndexArea* ia = FindArea();
  if (!ia || tag < 1 || tag > kMaxTags || !ia->orders[tag]) return false;
  TOrder& o = *ia->orders[tag];
  const auto block = static_cast<int32_t>(Get32(ia->TagEntry(tag)));
  // The node cache keeps the tag header as this program last wrote it (under the tag's number
  // negated, apart from the nodes), by the same rules as the nodes: while nothing can have
  // written the file since, a header that holds those bytes already needs no write. Every key
  // insert rewrites its tag's header, mostly unchanged.
  const bool cache = NodeCacheUsable(*ia);
  if (cache) {
    const TNode* kept = ia->nodes.Find(block, -tag);
    if (kept && std::equal(o.anchor.begin(), o.anchor.end(), kept->b.begin())) {
      o.anchor_changed = false;
      return true;
    }
  }
  ia->nodes.Forget(block, kAnchorBytes);  // a damaged file may overlap them
  int rc = ia->file.WriteAt(uint64_t(uint32_t(block)) * kBlockBytes, o.anchor.data(), kAnchorBytes);
  if (rc != 0)
    return Fail(static_cast<uint16_t>(rc),
                "Error writing index file:  " + OrderDescription(tag) + " [WriteAnchor]");
  o.anchor_changed = false;
  if (cache) {
    TNode written;
    std::copy(o.anchor.begin(), o.anchor.end(), written.b.begin());
    ia->nodes.Store(block, -tag, written, true);
  }
  return true;
}

bool ReadAnchorNodes() {
  TIndexArea* ia = FindArea();
  if (!ia || ia->header.empty()) return true;
  for (int k = 1; k <= kMaxTags; ++k) {
    TOrder* o = ia->orders[k].get();
    if (!o) continue;
    uint32_t block = Get32(ia->TagEntry(k));
    std::array<uint8_t, kAnchorBytes> anchor{};
    size_t done = 0;
    int rc = ia->file.ReadAt(uint64_t{block} * kBlockBytes, anchor.data(), kAnchorBytes, &done);
    if (rc == 0 && done != kAnchorBytes) rc = 222;
    // Another program moves the root; the layout of the keys this order was prepared for
    // (type, flags, lengths, keys per node) never changes in a sound file.
    if (rc == 0 &&
        !std::equal(&anchor[kAnchorFlags], &anchor[kAnchorKeyExpr], &o->anchor[kAnchorFlags]))
      rc = 222;
    if (rc != 0)
      return Fail(static_cast<uint16_t>(rc),
                  "Error reading index file:  " + OrderDescription(k) + " [ReadAnchorNodes]");
    // The expressions stay as this program compiled them.
    std::copy(anchor.begin(), anchor.begin() + kAnchorKeyExpr, o->anchor.begin());
    std::copy(anchor.begin() + kAnchorHasFor, anchor.begin() + kAnchorHasFor + 2,
              o->anchor.begin() + kAnchorHasFor);
    // The nodes on the path may be stale, but not where the order stands: a position on an
    // entry is found again from its saved key when it is next used, whoever noticed the change.
    o->path.clear();
    o->depth_root = 0;
  }
  return true;
}

bool OpenIndex(const std::string& file_name) {
  if (CheckDbInUse("OpenIndex")) return false;
  TIndexArea& ia = *Area();
  ia.header.assign(kHeaderBytes, 0);
  ia.file_name = file_name;
  const std::string unable = "Unable to open index: " + file_name;
  ia.nodes.Clear();
  int rc = ia.file.Open(file_name, IndexOpenMode());
  if (rc != 0) {
    ia.header.clear();
    return Fail(static_cast<uint16_t>(rc), unable);
  }
  auto give_up = [&ia](uint16_t code, const std::string& text) {
    for (auto& o : ia.orders) o.reset();
    ia.file.Close();
    ia.header.clear();
    ia.header_changed = false;
    ia.current = 0;
    return Fail(code, text);
  };
  if (FileSize(ia) <= 3071) return give_up(222, unable);
  {
    // One bracket for the header and every tag header (the tags' own nest in it). When it
    // cannot begin (another program holds the semaphore lock), that is the failure, not a
    // damaged file.
    ReadBracket bracket;
    if (DbLastError != 0) return give_up(DbLastError, DbErrorContext);
    size_t done = 0;
    rc = ia.file.ReadAt(0, ia.header.data(), kHeaderBytes, &done);
    if (rc == 0 && done != kHeaderBytes) rc = 222;
    if (rc != 0) return give_up(static_cast<uint16_t>(rc), unable);
    if (ia.TagCount() > kMaxTags) return give_up(222, unable);
    for (int k = 1; k <= ia.TagCount(); ++k) {
      uint16_t code = OpenTag(ia, k, file_name);
      if (code == 266) return give_up(266, "Incorrect key length: Must be 1 to 100. " + file_name);
      if (code == 217) return give_up(217, "Insufficient memory to open index: " + file_name);
      if (code != 0)
        return give_up(222, "Invalid dBASE key expression or corrupted index file " + file_name);
    }
  }
  DbLastError = 0;
  ia.current = ia.orders[1] ? 1 : 0;
  ia.natural = false;
  if (ia.current) {
    if (!RepairIfSuspect()) return give_up(DbLastError, DbErrorContext);
    // Another program may be appending, or have died appending: the tags hold keys of records
    // past the count of the table's header. The count and the first key of one moment.
    ReadBracket bracket;
    if (DbLastError != 0) return give_up(DbLastError, DbErrorContext);
    RefreshRecCount(Wa());
    if (Wa().Table.RecordCount == 0) {
      TOrder& o = *ia.orders[1];
      o.bof = o.eof = true;
    } else {
      GoTop();
      if (DbLastError != 0) return give_up(DbLastError, unable);
    }
  }
  return true;
}

std::string IndexFileNameFor(const std::string& name) {
  std::string trimmed = AllTrim(name);
  const std::string& table = Wa().Table.FileName;
  if (trimmed.empty()) return ForceExtension(table, "MDX");
  std::string result = DefaultExtension(trimmed, "MDX");
  if (result.find_first_of("\\:/") == std::string::npos) {
    std::string dir, base, ext;
    FSplit(table, dir, base, ext);
    result = dir + result;
  }
  return result;
}

bool SetIndexTo(const std::string& name) {
  DbLastError = 0;
  if (CheckDbInUse("SetIndexTo")) return false;
  std::string file = IndexFileNameFor(name);
  CloseIndexes();
  DbLastError = 0;
  if (!FileExistsS(file)) return Fail(2, "SetIndexTo(" + AllTrim(name) + ")");
  // A failure closes what was opened; the failure stays the one the caller learns (closing
  // clears the error word).
  auto give_up = [] {
    TStoredError failure;
    CloseIndexes();
    failure.Restore();
    return false;
  };
  if (IndexFileMode == -1 || (IndexFileMode & 0x40) != 0) {
    HandleSemafore(kSemLogin);
    if (DbLastError != 0) return give_up();
  }
  if (!OpenIndex(file)) return give_up();
  return true;
}

bool OpenProductionIndex() {
  return SetIndexTo("");
}

void CloseIndexes() {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  {
    ScopedReporting quiet(false);
    CloseAllOrders(*ia);
  }
  HandleSemafore(kSemLogout);
}

bool IndexBuildLock::Take(const std::string& index_file) {
  Release();
  TWorkArea* wa = SelectedArea();
  if (!wa || wa->Exclusive || !DbNetworkLocking) return true;
  const uint64_t start = platform::NowMs();
  while (true) {
    int rc = wa->Table.File.LockRange(DbIndexBuildByte, 1);
    if (rc == 0) {
      area_ = CurrentWorkArea;
      table_ = wa;
      return true;
    }
    if (rc != platform::kErrLockViolation) return true;
    if (platform::NowMs() - start >= IndexBuildWaitMs) break;
    platform::SleepMs(1);
  }
  return Fail(33, std::to_string(IndexBuildWaitMs) +
                      " ms timeout: another program is building or opening the index " +
                      index_file + " [IndexBuildLock]");
}

void IndexBuildLock::Release() {
  if (area_ == 0) return;
  TWorkArea* wa = WorkAreas[area_].get();
  if (wa == table_) wa->Table.File.UnlockRange(DbIndexBuildByte, 1);
  area_ = 0;
  table_ = nullptr;
}

void GetMdxTagList(std::vector<std::string>& list, const std::string& file_name) {
  list.clear();
  if (!SelectedArea()) return;
  std::string file = IndexFileNameFor(file_name.empty() ? std::string() : file_name);
  if (!FileExistsS(file)) return;
  platform::File f;
  if (f.Open(file, platform::kModeReadShared) != 0) return;
  std::vector<uint8_t> header(kHeaderBytes, 0);
  size_t done = 0;
  if (f.ReadAt(0, header.data(), kHeaderBytes, &done) != 0 || done != kHeaderBytes) return;
  int count = std::min<int>(header[28], kMaxTags);
  for (int k = 1; k <= count; ++k) {
    const uint8_t* e = header.data() + kTagTableBase + kTagEntryBytes * k;
    std::array<uint8_t, kAnchorBytes> anchor{};
    if (f.ReadAt(uint64_t{Get32(e)} * kBlockBytes, anchor.data(), kAnchorBytes, &done) != 0 ||
        done != kAnchorBytes)
      return;
    std::string name = FieldText(e + 4, 11);
    std::string key = AllTrim(FieldText(&anchor[kAnchorKeyExpr], kExprField));
    if (name.empty() || key.empty()) continue;
    uint8_t flags = anchor[kAnchorFlags];
    list.push_back(name + ((flags & kFlagDescending) ? ",T," : ",F,") +
                   ((flags & kFlagUnique) ? "T," : "F,") + key);
    list.push_back(anchor[kAnchorHasFor] ? AllTrim(FieldText(&anchor[kAnchorForExpr], kExprField))
                                         : std::string());
  }
}

std::string MdxTagName(int n) {
  TIndexArea* ia = FindArea();
  if (!ia || n < 1 || n > ia->TagCount()) return "";
  return FieldText(ia->TagEntry(n) + 4, 11);
}

std::string OrderDescription(int tag) {
  TIndexArea* ia = FindArea();
  if (!ia || tag < 1 || tag > kMaxTags || !ia->orders[tag]) return "";
  return ia->file_name + " [tag: " + MdxTagName(tag) + "]";
}

std::string CurrentTagName() {
  TIndexArea* ia = FindArea();
  if (!ia || ia->natural || ia->current == 0) return "";
  return MdxTagName(ia->current);
}

}  // namespace tz
