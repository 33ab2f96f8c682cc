// The index build: every record's key is made, the keys are sorted by key and record number
// (in runs spilled to a temporary file and merged when they do not fit in memory) and the
// B-tree is written bottom up at the end of the index file.
#include <algorithm>
#include <cstdlib>
#include <queue>

#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"

namespace tz {
namespace ndx {
namespace {

std::function<void()> g_progress;
int g_progress_count = 0;

// Calls the progress routine `count` times per tag, as the records and keys go by.
class Progress {
 public:
  explicit Progress(int32_t records) : owed_(g_progress ? g_progress_count : 0) {
    if (owed_ > 0) step_ = std::max<int32_t>(2, 2 * (records / owed_));
  }
  void Tick(int64_t ordinal) {
    if (owed_ > 0 && ordinal % step_ == 0) Call();
  }
  void Rest() {
    while (owed_ > 0) Call();
  }

 private:
  void Call() {
    --owed_;
    g_progress();
  }
  int owed_;
  int32_t step_ = 2;
};

// Items of the build: the key followed by the record number, in one flat buffer.
class ItemBuffer {
 public:
  explicit ItemBuffer(size_t item_length) : length_(item_length) {}
  size_t Count() const { return bytes_.size() / length_; }
  uint8_t* Add() {
    bytes_.resize(bytes_.size() + length_);
    return bytes_.data() + bytes_.size() - length_;
  }
  const uint8_t* At(size_t i) const { return bytes_.data() + i * length_; }
  void Clear() { bytes_.clear(); }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  size_t length_;
  std::vector<uint8_t> bytes_;
};

uint32_t RecordOf(const uint8_t* item, int key_length) {
  return Get32(item + key_length);
}

// Key, then record number ascending: two items never compare equal.
struct ItemLess {
  const TOrder* o;
  int key_length;
  bool operator()(const uint8_t* a, const uint8_t* b) const {
    int c = o->Compare(a, b);
    if (c != 0) return c < 0;
    return RecordOf(a, key_length) < RecordOf(b, key_length);
  }
};

// Writes the nodes of one tag bottom up at the end of the index file.
class TreeWriter {
 public:
  TreeWriter(TIndexArea& ia, TOrder& o)
      : ia_(ia), key_length_(o.KeyLength()), entry_length_(o.EntryLength()), max_(o.KeysPerNode()) {
    end_ = (FileSize(ia) + kNodeBytes - 1) / kNodeBytes * kNodeBytes;
    start_ = end_;
  }

  bool Add(int level, uint32_t pointer, const uint8_t* key) {
    if (levels_.size() <= static_cast<size_t>(level)) levels_.emplace_back();
    if (levels_[level].Count() == max_) {
      TNode full = levels_[level];
      std::vector<uint8_t> last(full.Key(max_ - 1, entry_length_),
                                full.Key(max_ - 1, entry_length_) + key_length_);
      if (level > 0) {
        // The last entry's child becomes the trailing pointer; its key goes up with the node.
        full.SetCount(max_ - 1);
        uint8_t* slot = full.Entry(max_ - 1, entry_length_);
        std::fill(slot + 4, full.b.data() + kNodeBytes, 0);
      }
      int32_t block = Write(full);
      levels_[level] = TNode();
      if (block == 0 || !Add(level + 1, static_cast<uint32_t>(block), last.data())) return false;
    }
    TNode& n = levels_[level];
    n.Insert(n.Count(), pointer, key, key_length_, entry_length_);
    return true;
  }

  // Writes the last node of every level; the root's block, 0 on failure.
  int32_t Finish() {
    int32_t block = Write(levels_.empty() ? TNode() : levels_[0]);
    for (size_t level = 1; block != 0 && level < levels_.size(); ++level) {
      TNode& n = levels_[level];
      if (n.Count() == 0) break;
      Put32(n.Entry(n.Count(), entry_length_), static_cast<uint32_t>(block));
      block = Write(n);
    }
    return block != 0 && Flush() ? block : 0;
  }

 private:
  int32_t Write(const TNode& node) {
    auto block = static_cast<int32_t>(end_ / kBlockBytes);
    out_.insert(out_.end(), node.b.begin(), node.b.end());
    end_ += kNodeBytes;
    if (out_.size() >= 64 * kNodeBytes && !Flush()) return 0;
    return block;
  }
  bool Flush() {
    if (out_.empty()) return true;
    ia_.nodes.Clear();
    int rc = ia_.file.WriteAt(start_, out_.data(), out_.size());
    if (rc != 0) return Fail(static_cast<uint16_t>(rc), " [MakeIndex]");
    start_ += out_.size();
    out_.clear();
    return true;
  }

  TIndexArea& ia_;
  int key_length_;
  int entry_length_;
  int max_;
  uint64_t end_;
  uint64_t start_;
  std::vector<uint8_t> out_;
  std::vector<TNode> levels_;
};

// The sorted runs of a build that did not fit in memory, in one temporary file.
class RunFile {
 public:
  RunFile() = default;
  ~RunFile() {
    if (!path_.empty()) {
      file_.Close();
      platform::RemoveFile(path_);
    }
  }
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  bool Write(const std::vector<uint8_t>& bytes, size_t items) {
    if (path_.empty()) {
      path_ = UniqueFilename();
      if (path_.empty()) return false;
      if (int rc = file_.Open(path_, platform::kModeReadWriteExclusive); rc != 0)
        return Fail(static_cast<uint16_t>(rc), " [MakeIndex]");
    }
    if (int rc = file_.WriteAt(size_, bytes.data(), bytes.size()); rc != 0)
      return Fail(static_cast<uint16_t>(rc), " [MakeIndex]");
    starts_.push_back(size_);
    counts_.push_back(items);
    size_ += bytes.size();
    return true;
  }
  size_t Runs() const { return starts_.size(); }
  bool Read(uint64_t offset, uint8_t* into, size_t bytes) const {
    size_t done = 0;
    int rc = file_.ReadAt(offset, into, bytes, &done);
    if (rc == 0 && done != bytes) rc = 100;
    if (rc != 0) return Fail(static_cast<uint16_t>(rc), " [MakeIndex]");
    return true;
  }
  uint64_t Start(size_t run) const { return starts_[run]; }
  size_t Items(size_t run) const { return counts_[run]; }

 private:
  std::string path_;
  platform::File file_;
  uint64_t size_ = 0;
  std::vector<uint64_t> starts_;
  std::vector<size_t> counts_;
};

// Reads one run of the file through a buffer of several items.
class RunReader {
 public:
  RunReader(const RunFile& file, size_t run, size_t item_length, size_t buffer_items)
      : file_(file),
        item_length_(item_length),
        next_(file.Start(run)),
        left_(file.Items(run)),
        buffer_items_(buffer_items) {}
  // The current item; nullptr at the end of the run or after a read error (DbLastError).
  const uint8_t* Current() { return at_ < buffer_.size() ? buffer_.data() + at_ : nullptr; }
  bool Advance() {
    at_ += item_length_;
    if (at_ < buffer_.size() || left_ == 0) return true;
    size_t items = std::min(left_, buffer_items_);
    buffer_.resize(items * item_length_);
    if (!file_.Read(next_, buffer_.data(), buffer_.size())) {
      buffer_.clear();
      return false;
    }
    next_ += buffer_.size();
    left_ -= items;
    at_ = 0;
    return true;
  }

 private:
  const RunFile& file_;
  size_t item_length_;
  uint64_t next_;
  size_t left_;
  size_t buffer_items_;
  std::vector<uint8_t> buffer_;
  size_t at_ = 0;
};

// Sorts the items in memory: the order in which they are placed.
std::vector<const uint8_t*> SortItems(const ItemBuffer& items, const ItemLess& less) {
  std::vector<const uint8_t*> sorted(items.Count());
  for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = items.At(i);
  std::sort(sorted.begin(), sorted.end(), less);
  return sorted;
}

bool WriteRun(RunFile& runs, const ItemBuffer& items, const ItemLess& less, size_t length) {
  std::vector<const uint8_t*> sorted = SortItems(items, less);
  std::vector<uint8_t> bytes(sorted.size() * length);
  for (size_t i = 0; i < sorted.size(); ++i)
    std::memcpy(bytes.data() + i * length, sorted[i], length);
  return runs.Write(bytes, sorted.size());
}

uint32_t FreeKB(const std::string& folder) {
  return DiskFreeKB(folder);
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

bool CheckDiskSpace(TIndexArea& ia, const TOrder& o, int32_t records, size_t item_length) {
  uint64_t nodes = 0;
  for (int64_t level = records / o.KeysPerNode(); level > 0; level /= o.KeysPerNode())
    nodes += static_cast<uint64_t>(level) * kNodeBytes + kNodeBytes;
  nodes += kNodeBytes * 2;
  uint64_t run_bytes = uint64_t(records) > IndexBuildRunItems ? item_length * uint64_t(records) : 0;
  std::string dir, name, ext;
  FSplit(ia.file_name, dir, name, ext);
  struct Need {
    std::string folder;
    uint64_t bytes;
  };
  for (const Need& need : {Need{dir, nodes}, Need{TempFolder(), run_bytes}}) {
    uint32_t free_kb = FreeKB(need.folder);
    if (need.bytes > 0 && free_kb < need.bytes / 1024)
      return Fail(227, "Available disk space: " + std::to_string(free_kb) + " KBytes;" +
                           "needed: " + std::to_string(need.bytes / 1024) + " KBytes [MakeIndex]");
  }
  return true;
}

// The position of the table before the build, given back afterwards.
class KeepRecord {
 public:
  explicit KeepRecord(TDbfTable& t)
      : t_(t), record_(t.Record), current_(t.CurrentRecord), eof_(t.AtEnd), bof_(t.AtBeginning) {}
  ~KeepRecord() {
    t_.Record = record_;
    t_.CurrentRecord = current_;
    t_.AtEnd = eof_;
    t_.AtBeginning = bof_;
  }
  KeepRecord(const KeepRecord&) = delete;
  KeepRecord& operator=(const KeepRecord&) = delete;

 private:
  TDbfTable& t_;
  std::vector<char> record_;
  int32_t current_;
  bool eof_, bof_;
};

}  // namespace

int32_t BuildTree(TIndexArea& ia, TOrder& o, bool& passed) {
  TWorkArea& wa = Wa();
  TDbfTable& t = wa.Table;
  RefreshRecCount(wa);
  const int32_t records = t.RecordCount;
  const int key_length = o.KeyLength();
  const size_t item_length = static_cast<size_t>(key_length) + 4;
  const size_t run_items = std::max<uint32_t>(IndexBuildRunItems, 2);
  passed = false;
  if (!CheckDiskSpace(ia, o, records, item_length)) return 0;
  ItemLess less{&o, key_length};
  ItemBuffer items(item_length);
  RunFile runs;
  Progress progress(records);
  {
    KeepRecord keep(t);
    const int32_t chunk = std::max<int32_t>(1, 32756 / std::max<int>(t.RecordSize, 1));
    std::vector<char> buffer;
    for (int32_t first = 1; first <= records; first += chunk) {
      int32_t n = std::min(chunk, records - first + 1);
      buffer.resize(size_t(n) * t.RecordSize);
      size_t done = 0;
      uint64_t at = t.HeaderSize + uint64_t(first - 1) * t.RecordSize;
      int rc = t.File.ReadAt(at, buffer.data(), buffer.size(), &done);
      if (rc == 0 && done != buffer.size()) rc = 100;
      if (rc != 0) return Fail(static_cast<uint16_t>(rc), " [MakeIndex]"), 0;
      TranslateBuffer(false, t.Oem, t.FromFile, buffer.size(), t.RecordSize, buffer.data());
      for (int32_t i = 0; i < n; ++i) {
        const int32_t record = first + i;
        t.Record.assign(buffer.begin() + ptrdiff_t(i) * t.RecordSize,
                        buffer.begin() + ptrdiff_t(i + 1) * t.RecordSize);
        t.CurrentRecord = record;
        progress.Tick(record);
        if (!PassesFor(o)) continue;
        passed = true;
        uint8_t* item = items.Add();
        if (!MakeKey(wa, o, item)) return 0;
        Put32(item + key_length, static_cast<uint32_t>(record));
        if (items.Count() == run_items) {
          if (!WriteRun(runs, items, less, item_length)) return 0;
          items.Clear();
        }
      }
    }
  }
  TreeWriter tree(ia, o);
  std::vector<uint8_t> previous;
  int64_t ordinal = 0;
  auto place = [&](const uint8_t* item) {
    progress.Tick(++ordinal);
    if (o.Unique() && !previous.empty() && o.Compare(previous.data(), item) == 0) return true;
    previous.assign(item, item + key_length);
    return tree.Add(0, RecordOf(item, key_length), item);
  };
  if (runs.Runs() == 0) {
    for (const uint8_t* item : SortItems(items, less))
      if (!place(item)) return 0;
  } else {
    if (items.Count() > 0 && !WriteRun(runs, items, less, item_length)) return 0;
    items.Clear();
    items.Bytes().shrink_to_fit();
    // Every run reads through a buffer of several items, however many runs there are.
    size_t share = std::max<size_t>(64, (size_t{1} << 20) / (item_length * runs.Runs()));
    std::vector<RunReader> readers;
    readers.reserve(runs.Runs());
    for (size_t r = 0; r < runs.Runs(); ++r) {
      readers.emplace_back(runs, r, item_length, share);
      if (!readers.back().Advance()) return 0;
    }
    auto later = [&less, &readers](size_t a, size_t b) {
      return less(readers[b].Current(), readers[a].Current());
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
    for (size_t r = 0; r < readers.size(); ++r)
      if (readers[r].Current()) heads.push(r);
    while (!heads.empty()) {
      size_t r = heads.top();
      heads.pop();
      if (!place(readers[r].Current()) || !readers[r].Advance()) return 0;
      if (readers[r].Current()) heads.push(r);
    }
  }
  progress.Rest();
  return tree.Finish();
}

bool RebuildTagsInPlace(TIndexArea& ia) {
  for (int tag = 1; tag <= kMaxTags; ++tag) {
    TOrder* o = ia.orders[tag].get();
    if (!o) continue;
    bool passed = false;
    int32_t root = BuildTree(ia, *o, passed);
    if (root <= 0) return false;
    o->SetRoot(root);
    o->anchor[kAnchorForState] = passed ? 1 : 0;
    o->anchor_changed = true;
    if (!WriteAnchor(tag)) return false;
    o->path.clear();
    o->gap = false;  // every record is in its tags now
  }
  SetPageCount(ia);
  return FlushHeader(ia);
}

namespace {

// Writes the tag header of a built tag at the end of the file and enters it in the tag table.
bool WriteTagHeader(TIndexArea& ia, TOrder& o, const std::string& name, int32_t root, bool passed) {
  std::array<uint8_t, kNodeBytes> block{};
  std::copy(o.anchor.begin(), o.anchor.end(), block.begin());
  Put32(&block[kAnchorRoot], static_cast<uint32_t>(root));
  block[kAnchorForState] = passed ? 1 : 0;
  uint64_t size = (FileSize(ia) + kNodeBytes - 1) / kNodeBytes * kNodeBytes;
  auto at = static_cast<int32_t>(size / kBlockBytes);
  if (!AddTagEntry(ia, name, at, o.KeyType())) return false;
  ia.nodes.Clear();
  if (int rc = ia.file.WriteAt(size, block.data(), block.size()); rc != 0)
    return Fail(static_cast<uint16_t>(rc), " [MakeIndex]");
  SetPageCount(ia);
  return true;
}

// The exclusive use of a shared table for the life of the object.
class ExclusiveReopen {
 public:
  ExclusiveReopen() = default;
  bool Take() {
    if (Wa().Exclusive) return true;
    if (ReopenDbf(true) != 0) return false;
    taken_ = true;
    return true;
  }
  // Gives the table back to shared use: 0 or the failing code.
  uint16_t Release() {
    if (!taken_) return 0;
    taken_ = false;
    return ReopenDbf(false);
  }
  ~ExclusiveReopen() { Release(); }
  ExclusiveReopen(const ExclusiveReopen&) = delete;
  ExclusiveReopen& operator=(const ExclusiveReopen&) = delete;
  bool Taken() const { return taken_; }

 private:
  bool taken_ = false;
};

}  // namespace
}  // namespace ndx

using namespace ndx;

void SetIndexProgressHook(std::function<void()> routine, int count) {
  g_progress = count > 0 ? std::move(routine) : nullptr;
  g_progress_count = count > 0 ? count : 0;
}

bool AddIndexTag(const TIndexListEntry& entry, bool reopen) {
  if (CheckDbInUse("AddIndexTag")) return false;
  TIndexArea& ia = *Area();
  const std::string tag = " [AddIndexTag()]";
  std::string for_text = entry.ForExpr;
  bool has_for = !AllTrim(for_text).empty();
  if (has_for) {
    if (uint16_t code = ValidateCondition(for_text); code != 0)
      return Fail(code, "Invalid FOR expression for " + entry.TagName + tag);
  }
  if (entry.KeyExpr.size() >= kExprField)
    return Fail(300, "Expression length exceeds 100 bytes" + tag);
  auto o = std::make_unique<TOrder>();
  o->key_expr.reset(AssignExpr(entry.KeyExpr));
  if (!o->key_expr) return false;
  ExclusiveReopen exclusive;
  if (reopen && !exclusive.Take()) return Fail(225, Wa().Table.FileName + tag);
  TWorkArea& wa = Wa();
  char type = o->key_expr->result_type;
  if (type != 'C' && type != 'D' && type != 'N' && type != 'F')
    return Fail(254, "Wrong parser return type" + tag);
  int key_length = type == 'C' ? 0 : type == 'D' ? 8 : 12;
  if (type == 'C') {
    EvaluateExpr(o->key_expr.get());
    key_length = static_cast<int>(o->key_expr->result_length);
  }
  if (key_length < 1 || key_length > kMaxKeyLength)
    return Fail(266, "Incorrect key length: Must be 1 to 100." + tag);
  int entry_length = (key_length + 3) / 4 * 4 + 4;
  std::array<uint8_t, kAnchorBytes>& a = o->anchor;
  a[kAnchorFlags] = static_cast<uint8_t>(kFlagAlways | (entry.Descending ? kFlagDescending : 0) |
                                         (entry.Unique ? kFlagUnique : 0));
  a[kAnchorType] = static_cast<uint8_t>(type);
  Put16(&a[kAnchorKeyLength], static_cast<uint16_t>(key_length));
  Put16(&a[kAnchorKeysPerNode], static_cast<uint16_t>((kNodeBytes - 12) / entry_length));
  Put16(&a[kAnchorSecondary], type == 'D' ? 1 : 0);
  Put16(&a[kAnchorEntryLength], static_cast<uint16_t>(entry_length));
  a[kAnchorUnique] = entry.Unique ? 1 : 0;
  PutFieldText(&a[kAnchorKeyExpr], kExprField, entry.KeyExpr);
  if (has_for) {
    a[kAnchorHasFor] = 1;
    PutFieldText(&a[kAnchorForExpr], kExprField, for_text);
    o->for_expr.reset(AssignExpr(for_text));
    if (!o->for_expr) return false;
  }
  o->compare = CompareFor(type, entry.Descending);
  o->complement = entry.Descending;
  o->key_is_text = type == 'C';
  o->key.assign(static_cast<size_t>(key_length) + 1, 0);
  bool passed = false;
  int32_t root = BuildTree(ia, *o, passed);
  bool ok = root > 0 && WriteTagHeader(ia, *o, entry.TagName, root, passed);
  (void)wa;
  if (uint16_t code = exclusive.Release(); code != 0 && ok)
    return Fail(code, "Cannot_Reopen_Database_Sharable " + Wa().Table.FileName + tag);
  if (!ok && DbLastError != 0 && DbErrorContext.find(tag) == std::string::npos)
    DbErrorContext += tag;
  return ok;
}

bool MakeIndex(const std::vector<TIndexListEntry>& list, const std::string& file_name) {
  DbLastError = 0;
  if (CheckDbInUse("MakeIndex")) return false;
  std::string name = IndexFileNameFor(file_name);
  CloseIndexes();
  DbLastError = 0;
  ExclusiveReopen exclusive;
  if (!Wa().Exclusive && FileExistsS(name)) {
    uint16_t code = EraseFile(name);
    if ((code == 5 || code == 32) && !exclusive.Take())
      return Fail(225, Wa().Table.FileName + " MakeIndex(" + name + ")");
  }
  if (FileExistsS(name)) {
    if (uint16_t code = EraseFile(name); code != 0)
      return Fail(code, "Error erasing " + name + " [MakeIndex]");
  }
  TIndexArea& ia = *Area();
  bool ok = CreateMdxHeader(name);
  if (ok) {
    for (const TIndexListEntry& entry : list) {
      if (entry.TagName.empty()) break;
      ok = AddIndexTag(entry, false) && ok;
    }
  }
  FlushHeader(ia);
  ia.file.Close();
  ia.header.clear();
  ia.header_changed = false;
  if (uint16_t code = exclusive.Release(); code != 0)
    return Fail(code, "Cannot_Reopen_Database_Sharable MakeIndex(" + name + ")");
  return ok;
}

bool Reindex() {
  DbLastError = 0;
  if (CheckDbInUse("Reindex")) return false;
  TIndexArea* ia = FindArea();
  if (!ia || !ia->At(1))
    return Fail(221, "Index not open. (DBF=" + Wa().Table.FileName + ") [Reindex]");
  std::vector<TIndexListEntry> list;
  for (int k = 1; k <= ia->TagCount(); ++k) {
    TOrder* o = ia->orders[k].get();
    if (!o) continue;
    TIndexListEntry e;
    e.TagName = MdxTagName(k);
    e.KeyExpr = FieldText(&o->anchor[kAnchorKeyExpr], kExprField);
    e.ForExpr = FieldText(&o->anchor[kAnchorForExpr], kExprField);
    e.Descending = (o->anchor[kAnchorFlags] & kFlagDescending) != 0;
    e.Unique = (o->anchor[kAnchorFlags] & kFlagUnique) != 0;
    list.push_back(std::move(e));
  }
  std::string current = CurrentTagName();
  std::string file = ia->file_name;
  Set_Order_To(1);
  bool ok = MakeIndex(list, file) && SetIndexTo(file);
  if (ok) ok = SetOrderToTag(current);
  return ok;
}

}  // namespace tz
