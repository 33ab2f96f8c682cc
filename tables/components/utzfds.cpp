#include "tables/components/utzfds.h"

#include <cstring>

#include "platform/files.h"
#include "platform/ui.h"
#include "tables/components/tzprogress.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"

namespace tz {

namespace {

using platform::dataset::TBlobStreamMode;

constexpr size_t kTagNameLength = 10;
constexpr size_t kExpressionLength = 220;
constexpr size_t kLocateTextLength = 255;

// The character at `pos`, or '\0' past the end.
char CharAt(std::string_view text, size_t pos) {
  return pos < text.size() ? text[pos] : '\0';
}

// Another open of ours holds the file (a program with the table and its index open): an
// exclusive open is refused with a sharing violation. On Linux an erase never fails for a file
// in use, so this probe is what keeps a rebuild from pulling the index from under a peer.
bool HeldByAnother(const std::string& path) {
  if (!FileExistsS(path)) return false;
  platform::File probe;
  return probe.Open(path, platform::kModeReadExclusive) == platform::kErrSharingViolation;
}

}  // namespace

// --- Index definition lines ---------------------------------------------------------------

TIndexListEntry ParseIndexLine(std::string_view tag_line, std::string_view for_line) {
  TIndexListEntry entry;
  size_t comma = tag_line.find(',');
  entry.TagName = std::string(tag_line.substr(0, std::min(comma, tag_line.size())))
                      .substr(0, kTagNameLength);
  if (comma != std::string_view::npos) {
    entry.Descending = CharAt(tag_line, comma + 1) == 'T';
    entry.Unique = CharAt(tag_line, comma + 3) == 'T';
    if (comma + 5 < tag_line.size())
      entry.KeyExpr = std::string(tag_line.substr(comma + 5, kExpressionLength));
  }
  entry.ForExpr = std::string(for_line.substr(0, kExpressionLength));
  return entry;
}

std::vector<TIndexListEntry> BuildIndexList(const std::vector<std::string>& lines) {
  std::vector<TIndexListEntry> list;
  for (size_t k = 0; k + 1 < lines.size(); k += 2) list.push_back(ParseIndexLine(lines[k], lines[k + 1]));
  list.emplace_back();
  return list;
}

bool IndexListMatches(const std::vector<std::string>& lines,
                      const std::vector<std::string>& stored) {
  size_t count = lines.size() / 2 * 2;
  if (stored.size() != count) return false;
  for (size_t k = 0; k < count; ++k)
    if (Upper(RTrim(lines[k])) != Upper(RTrim(stored[k]))) return false;
  return true;
}

// --- The file dataset ---------------------------------------------------------------------

TTzFileDataSet::TTzFileDataSet(bool designing) : TTzCDataSet(designing) {}

TTzFileDataSet::~TTzFileDataSet() = default;

void TTzFileDataSet::SetExclusive(bool value) {
  if (value == exclusive_) return;
  bool was_active = Active();
  if (was_active) Close();
  exclusive_ = value;
  if (was_active) SetActive(true);
}

std::string TTzFileDataSet::UseText() const {
  std::string text = DbfFileName();
  if (exclusive_) text += " EXCLUSIVE";
  std::string alias = AllTrim(Name());
  if (!alias.empty()) text += " ALIAS " + alias;
  return text;
}

std::string TTzFileDataSet::IndexFileName() const {
  return ForceExtension(DbfFileName(), "MDX");
}

bool TTzFileDataSet::OpenDbfTable(const std::string& file) {
  if (create_if_not_found_ && !FileExistsS(file) && !CreateTableFromDbfFields())
    platform::ShowMessage("Could not create \"" + file + "\"");
  {
    // The engine's switches for this one USE, put back also when it raises.
    struct UseSwitches {
      bool recount = DbRecountOnOpen;
      uint16_t mode = DbForcedFileMode;
      ~UseSwitches() {
        DbRecountOnOpen = recount;
        DbForcedFileMode = mode;
      }
    } switches;
    DbRecountOnOpen = auto_fix_rec_count_;
    if (ReadOnly()) DbForcedFileMode = exclusive_ ? 0 : platform::kModeReadShared;
    tz::Use(UseText());
  }
  if (DbLastError != 0) return false;
  OpenProductionIndex();
  return true;
}

void TTzFileDataSet::OpenProductionIndex() {
  if (Designing()) return;
  TCreateIndexType mode = create_index_;
  if (index_list_.size() >= 2) {
    // A read-only table is not written, not even this flag: the close would fail to.
    if (!ReadOnly()) SetMdxFlag(true);
  } else {
    mode = ciNever;
    if (!GetMdxFlag()) return;
  }
  std::string index_file = IndexFileName();
  // Until the index is open no other program of ours looks at it, builds it or opens it.
  IndexBuildLock build_lock;
  if (!build_lock.Take(index_file)) return;
  if (mode == ciNever) {
    SetIndexTo(index_file);
    return;
  }
  {
    ScopedReporting quiet(false);
    if (FileExistsS(index_file)) {
      if (mode == ciAlways || mode == ciVerifyHeader) {
        // A semaphore file means another program has the table open; one left from an earlier
        // day is stale (EraseFile refuses one that a live program holds open).
        std::string semaphore = SemaphoreFileName();
        if (FileExistsS(semaphore) && !FileDatedToday(semaphore)) EraseFile(semaphore);
        if (FileExistsS(semaphore)) mode = ciNotFound;
        DbLastError = 0;
      }
    } else {
      mode = ciAlways;
    }
    if (mode == ciVerifyHeader) {
      std::vector<std::string> stored;
      GetMdxTagList(stored, index_file);
      mode = IndexListMatches(index_list_, stored) ? ciNotFound : ciAlways;
    }
    if (mode == ciNotFound) {
      SetIndexTo(index_file);
      if (DbLastError == 2 || DbLastError == 222) {
        mode = ciAlways;
        DbLastError = 0;
      } else if (DbLastError == 0 && MdxTagCount() < index_list_.size() / 2) {
        // The build writes each tag into the header once its keys are complete: fewer tags
        // than the lines ask for is a build that was cut short (a program killed in it).
        CloseIndexes();
        mode = ciAlways;
      }
    }
    if (mode == ciAlways && FileExistsS(index_file)) {
      // Never rebuild an index another program has open: it would keep reading the old file
      // while this one writes a new one. Use what is there instead; when even that cannot be
      // opened, its error is this open's.
      CloseIndexes();
      if (HeldByAnother(index_file) || HeldByAnother(SemaphoreFileName())) {
        mode = ciNotFound;
        SetIndexTo(index_file);
      }
    }
  }
  // What the quiet steps left is no reason to build (another program holds the index
  // exclusively, its semaphore lock cannot be had, ...): reported now, as the caller has the
  // library report errors.
  if (DbLastError != 0) {
    if (DbReportErrors) ReportError();
    return;
  }
  if (mode == ciAlways) BuildProductionIndex(index_file);
}

void TTzFileDataSet::BuildProductionIndex(const std::string& index_file) {
  std::vector<TIndexListEntry> entries = BuildIndexList(index_list_);
  // Runs inside the open, before the dataset knows its work area: the handlers may select
  // another one, so this one is selected again after each.
  uint8_t area = GetWorkArea();
  bool can_make = true;
  if (OnBeforeMakeIndex) OnBeforeMakeIndex(*this, index_file, can_make);
  Select(area);
  if (!can_make) {
    if (!ReadOnly()) SetMdxFlag(false);
    return;
  }
  {
    std::unique_ptr<TTzProgressWindow> window;
    if (ShowProgress()) window = CreateProgressWindow("Indexing " + index_file + "...");
    struct HookOff {
      ~HookOff() { SetIndexProgressHook(nullptr, 0); }
    } hook_off;
    if (window) SetIndexProgressHook([w = window.get()] { w->StepBar(); }, 100);
    MakeIndex(entries, index_file);
  }
  // The build's failure stays this open's failure, whatever the handler and the select do.
  TStoredError build;
  if (OnAfterMakeIndex) OnAfterMakeIndex(*this, index_file);
  Select(area);
  if (build.code != 0) {
    build.Restore();
    return;
  }
  SetIndexTo(index_file);
}

// --- Lock-guarded writes ------------------------------------------------------------------

void TTzFileDataSet::AppendWithLock() { WriteWithLock(TLockedWrite::Append); }
void TTzFileDataSet::DeleteWithLock() { WriteWithLock(TLockedWrite::Delete); }
void TTzFileDataSet::RestoreWithLock() { WriteWithLock(TLockedWrite::Restore); }
void TTzFileDataSet::ReplaceWithLock() { WriteWithLock(TLockedWrite::Replace); }

void TTzFileDataSet::WriteWithLock(TLockedWrite write) {
  if (!CanModify()) return;
  struct Kind {
    const char* routine;
    const char* operation;
    TTzLockFailedEvent TTzFileDataSet::*event;
  };
  static const Kind kinds[] = {
      {"s_AppendWithLock", "Insert", &TTzFileDataSet::OnALockFailedOnInsert},
      {"s_DeleteWithLock", "Delete", &TTzFileDataSet::OnRLockFailedOnDelete},
      {"s_RestoreWithLock", "Restore", &TTzFileDataSet::OnRLockFailedOnRestore},
      {"s_ReplaceWithLock", "Post", &TTzFileDataSet::OnRLockFailedOnPost},
  };
  const Kind& kind = kinds[static_cast<int>(write)];
  bool append = write == TLockedWrite::Append;
  for (;;) {
    if (!SelectWorkArea(kind.routine)) return;
    TWorkArea& area = *SelectedArea();
    int32_t record = tz::RecNo();
    // A lock the program took itself stays its own to release.
    bool held = append ? area.LockState == 2 : tz::IsLocked(record);
    if (append ? tz::ALock() : tz::RLock()) {
      switch (write) {
        case TLockedWrite::Append: tz::Append(); break;
        case TLockedWrite::Delete: tz::DeleteRec(); break;
        case TLockedWrite::Restore: tz::RecallRec(); break;
        case TLockedWrite::Replace: tz::Replace(); break;
      }
      uint16_t error = DbLastError;
      if (error == 0 && write != TLockedWrite::Restore) tz::RepositionAfterWrite();
      if (!held) {
        if (append)
          tz::Unlock();
        else if (tz::IsLocked(record))
          tz::UnlockRec(record);
      }
      DbLastError = error;
      return;
    }
    bool retry = false;
    const TTzLockFailedEvent& event = this->*kind.event;
    if (event)
      event(*this, retry);
    else
      platform::ShowMessage(std::string("Lock failed [") + kind.operation + "]");
    // The user has been told (or the handler decided): nothing is written, and the framework
    // keeps the edit so that it is not lost.
    if (!retry) throw platform::dataset::EAbort();
  }
}

// --- Seeking ------------------------------------------------------------------------------

std::string TTzFileDataSet::CurrentTagKey() {
  std::string tag = CurrentTagName();
  if (tag.empty()) return "";
  std::vector<std::string> lines;
  GetMdxTagList(lines, IndexFileName());
  for (size_t k = 0; k + 1 < lines.size(); k += 2) {
    TIndexListEntry entry = ParseIndexLine(lines[k], lines[k + 1]);
    if (Upper(entry.TagName) != Upper(tag)) continue;
    return AllTrim(entry.ForExpr).empty() ? AllTrim(entry.KeyExpr) : "";
  }
  return "";
}

bool TTzFileDataSet::Locate(const std::string& key_fields, const TVariant& key_values,
                            TLocateOptions options) {
  if (!SelectWorkArea("Locate")) return false;
  // The index answers only for what it holds in key order: the whole located field, every
  // record, compared as stored.
  std::string key = CurrentTag().empty() ? "" : CurrentTagKey();
  std::string field = AllTrim(key_fields);
  bool by_index = !key.empty() && field.find(';') == std::string::npos &&
                  Upper(key) == Upper(field) &&
                  (options & platform::dataset::loCaseInsensitive) == 0;
  if (!by_index) return TTzCDataSet::Locate(key_fields, key_values, options);
  CheckBrowseMode();
  DoBeforeScroll();
  std::string text =
      (key_values.IsArray() && key_values.Count() > 0 ? key_values.Item(0) : key_values)
          .AsString()
          .substr(0, kLocateTextLength);
  UpdateCursorPos();
  if (!SelectWorkArea("Locate")) return false;
  int32_t record = tz::RecNo();
  bool exact = (options & platform::dataset::loPartialKey) == 0;
  uint8_t found = 0;
  {
    bool was_on = exact ? SetExactOn() : SetExactOff();
    tz::Find(text);
    found = IndexFound;
    if (was_on != exact) (was_on ? SetExactOn() : SetExactOff());
  }
  if (found != 0 && DbLastError == 0) {
    SyncDataSet();
  } else {
    // A miss keeps the dataset's record; the engine goes back to it.
    uint16_t error = DbLastError;
    if (SelectWorkArea("Locate") && !tz::GoChecked(record)) tz::Dbf4RawGo(record);
    CursorPosChanged();
    DbLastError = error;
  }
  IndexFound = found;
  return found != 0;
}

bool TTzFileDataSet::IsSequenced() {
  if (!SelectWorkArea("IsSequenced")) return false;
  return !Filtered() && CurrentOrder() == 0;
}

std::unique_ptr<platform::dataset::TStream> TTzFileDataSet::CreateBlobStream(
    TField& field, TBlobStreamMode mode) {
  // The memo unit has one descriptor per table: a second stream would cut off the first.
  if (blob_stream_open_) platform::dataset::DatabaseError(Name() + ": a blob stream is open already");
  return std::make_unique<TTzBlobStream>(field, *this, mode);
}

TTzDbf::~TTzDbf() {
  try {
    Close();
  } catch (...) {
    platform::dataset::ApplicationHandleException();
  }
}

// --- The blob stream ----------------------------------------------------------------------

TTzBlobStream::TTzBlobStream(TField& field, TTzFileDataSet& dataset, TBlobStreamMode mode)
    : field_(field), dataset_(dataset), mode_(mode) {
  if (!dataset_.Active()) {
    SetDbError(1103, "DataSet must be active. " + dataset_.Name());
    return;
  }
  if (!dataset_.SelectWorkArea("CreateBlobStream")) return;
  char* reference = Reference();
  if (reference == nullptr) return;
  int32_t block = 0;
  std::memcpy(&block, reference, sizeof block);
  bool write = mode_ != TBlobStreamMode::Read;
  int32_t made = CreateBlobDescriptor(dataset_.TableLanguage() != tlAnsi, block, write ? 2 : 1);
  TWorkArea* area = SelectedArea();
  open_ = DbLastError == 0 && area != nullptr && area->MemoArea && area->MemoArea->Blob.Active;
  // Only a descriptor that was made gives the record its new reference: otherwise the old
  // value stays linked.
  if (write && open_) std::memcpy(reference, &made, sizeof made);
  dataset_.blob_stream_open_ = open_;
}

TTzBlobStream::~TTzBlobStream() {
  if (!open_) return;
  dataset_.blob_stream_open_ = false;
  try {
    if (!dataset_.SelectWorkArea("DestroyBlobStream")) return;
    if (mode_ != TBlobStreamMode::Read) {
      char* reference = Reference();
      int32_t block = 0;
      if (reference != nullptr) std::memcpy(&block, reference, sizeof block);
      if (!written_ && block != 0) {
        // Writing nothing empties the memo.
        block = 0;
        std::memcpy(reference, &block, sizeof block);
        written_ = true;
      }
      dataset_.PutActiveRecord();
    }
    if (dataset_.SelectWorkArea("DestroyBlobStream")) DestroyBlobDescriptor();
    if (written_) dataset_.DataEvent(platform::dataset::deFieldChange, &field_);
  } catch (...) {
    platform::dataset::ApplicationHandleException();
  }
}

char* TTzBlobStream::Reference() const {
  const TDbfFieldProps* props = dataset_.FieldProps();
  char* buffer = dataset_.ActiveBuffer();
  int n = field_.FieldNo();
  if (props == nullptr || buffer == nullptr || n < 1 || n > props->Count()) return nullptr;
  if (props->Type(n) != 'M') return nullptr;
  return buffer + DatasetFieldOffsets(*props)[static_cast<size_t>(n - 1)];
}

size_t TTzBlobStream::Read(void* buffer, size_t count) {
  if (!open_ || !dataset_.SelectWorkArea("ReadBlobStream")) return 0;
  int32_t done = ReadBlobStream(buffer, static_cast<int32_t>(std::min<size_t>(count, INT32_MAX)));
  return done > 0 ? static_cast<size_t>(done) : 0;
}

size_t TTzBlobStream::Write(const void* buffer, size_t count) {
  if (!open_ || !dataset_.SelectWorkArea("WriteBlobStream")) return 0;
  int32_t done = WriteBlobStream(buffer, static_cast<int32_t>(std::min<size_t>(count, INT32_MAX)));
  if (done > 0) written_ = true;
  return done > 0 ? static_cast<size_t>(done) : 0;
}

int64_t TTzBlobStream::Seek(int64_t offset, platform::dataset::TSeekOrigin origin) {
  if (!open_ || !dataset_.SelectWorkArea("SeekBlobStream")) return 0;
  return SeekBlobStream(static_cast<int32_t>(offset), static_cast<int>(origin));
}

}  // namespace tz
