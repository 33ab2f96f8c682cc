// Work areas: selecting, opening with a USE text, closing, reopening, the engine's start and end.
#include "tables/engine/dbf4.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {

std::array<std::unique_ptr<TWorkArea>, kWorkAreaSlots + 1> WorkAreas;
uint16_t DbUseFileMode = 66;
uint16_t DbForcedFileMode = 0xFFFF;
bool DbAnsiTables = false;
bool DbReopenExclusive = false;
bool DbEngineActive = false;
void (*VirtualFileDriver)() = nullptr;

TIndexDriver IndexDriver;
bool IndexDriverLinked = false;
TMemoDriver MemoDriver;
TParserDriver ParserDriver;
const void* (*KeyEvaluator)() = nullptr;
bool ParserLinked = false;

void ClearDrivers() {
  IndexDriver = TIndexDriver();
  IndexDriverLinked = false;
  MemoDriver = TMemoDriver();
  ParserDriver = TParserDriver();
  KeyEvaluator = nullptr;
  ParserLinked = false;
}

namespace {

// Sets the library's FileMode for the life of the object.
class ScopedFileMode {
 public:
  explicit ScopedFileMode(uint16_t mode) : saved_(FileMode) { FileMode = mode; }
  ~ScopedFileMode() { FileMode = saved_; }
  ScopedFileMode(const ScopedFileMode&) = delete;
  ScopedFileMode& operator=(const ScopedFileMode&) = delete;

 private:
  uint16_t saved_;
};

// The translations UseWithTables hands to the area it opens; empty outside the call.
TranslateProc g_use_from_file = nullptr;
TranslateProc g_use_to_file = nullptr;

// Position of the first occurrence of `word` in `upper` at or after `from` that has a blank
// before it and a blank (or the end) after it; npos when none.
size_t FindOption(const std::string& upper, const std::string& word, size_t from = 0) {
  for (size_t pos = upper.find(word, from); pos != std::string::npos;
       pos = upper.find(word, pos + 1)) {
    size_t end = pos + word.size();
    if (pos > 0 && upper[pos - 1] == ' ' && (end == upper.size() || upper[end] == ' ')) return pos;
  }
  return std::string::npos;
}

// Before the header of a shared table is rewritten: take the append lock, so that no other
// program appends meanwhile, and count what the file holds (never fewer than known). The
// lock is held until the file is closed. When another program keeps the lock for more than a
// second the header is written all the same: the count never goes down and the end mark only
// goes to the real end of the data.
void CountUnderAppendLock(TWorkArea& wa) {
  TDbfTable& t = wa.Table;
  if (wa.Exclusive || !DbNetworkLocking || !t.File.IsOpen() ||
      (t.HeaderState != kHeaderRewritten && t.HeaderState != kHeaderAppended))
    return;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (LockRegion(false, t.File, DbLockBase + 1, 1) == 0) break;
    platform::SleepMs(1);
  }
  int32_t known = t.RecordCount;
  RefreshRecCount(wa);
  t.RecordCount = std::max(t.RecordCount, known);
}

void CloseSlot(int n) {
  uint8_t saved = CurrentWorkArea;
  CurrentWorkArea = static_cast<uint8_t>(n);
  CloseDatabase();
  CurrentWorkArea = saved;
}

void FinishUse(TWorkArea& wa, const std::string& context_text, char* buffer, size_t size);

void UseImpl(const std::string& use_text, char* buffer, size_t size) {
  CloseDatabase();
  DbLastError = 0;
  std::string text = AllTrim(use_text);
  if (text.empty()) return;
  const std::string context_text = text;
  text += ' ';
  std::string upper = platform::AnsiUpper(text);  // byte for byte, so positions agree
  if (upper.find("LINKED LIST") != std::string::npos ||
      upper.find("VIRTUAL FILE") != std::string::npos) {
    SetDbError(1101, "[USE(" + context_text + ",<@Buffer>,<size>)]");
    return;
  }
  if ((buffer == nullptr) != (size == 0)) {
    SetDbError(220, "Buffer is NIL or size is zero, attempting to open " + context_text + " [USE]");
    return;
  }
  bool exclusive = false;
  for (size_t pos; (pos = FindOption(upper, "EXCLUSIVE")) != std::string::npos;) {
    text.erase(pos, 9);
    upper.erase(pos, 9);
    exclusive = true;
  }
  std::string alias;
  if (size_t pos = FindOption(upper, "ALIAS"); pos != std::string::npos) {
    std::string rest = text.substr(pos + 6);
    alias = rest.substr(0, rest.find(' ')).substr(0, 64);
    text.resize(pos - 1);
  }
  std::string name = ExpandPath(AllTrim(text));
  if (alias.empty()) alias = PathPart(name);
  alias = platform::AnsiUpper(alias);
  name = DefaultExtension(name, "DBF");

  exclusive = exclusive || DbUseFileMode == 18;
  uint16_t mode = exclusive ? 18 : DbUseFileMode;
  if (!DbNetworkLocking) {
    exclusive = true;
    mode = 18;
  }
  if (DbForcedFileMode < 0xFFFF) mode = DbForcedFileMode & 0xFF;
  TDbfTable table;
  table.FileName = name;
  table.Oem = !DbAnsiTables;
  {
    ScopedFileMode file_mode(mode);
    if (!OpenDbfFile(table)) return;
  }

  auto area = std::make_unique<TWorkArea>();
  area->Table = std::move(table);
  area->Alias = alias;
  area->Exclusive = exclusive;
  TWorkArea& wa = *area;
  WorkAreas[CurrentWorkArea] = std::move(area);
  try {
    FinishUse(wa, context_text, buffer, size);
  } catch (...) {
    WorkAreas[CurrentWorkArea].reset();  // an exception leaves the area free, its file closed
    throw;
  }
}

// Steps of Use after the file is open and the area holds it; every failure closes it again.
void FinishUse(TWorkArea& wa, const std::string& context_text, char* buffer, size_t size) {
  size_t computed = FieldValueRecordSize(wa.Table);
  if (buffer) {
    if (size != computed) {
      CloseDatabase();
      SetDbError(266, "Database record/buffer size mismatch: " + context_text + " [USE()]" +
                          "\n\r" + "Record Size=" + std::to_string(computed) +
                          ", Buffer Size=" + std::to_string(size));
      return;
    }
    wa.FieldValues = buffer;
  } else {
    wa.OwnedValues.assign(computed, 0);
    wa.FieldValues = wa.OwnedValues.data();
    wa.OwnsFieldValues = true;
  }
  wa.FieldValuesLen = static_cast<uint16_t>(computed);
  for (int n = 1; n <= kWorkAreaCount; ++n) {
    if (n != CurrentWorkArea && WorkAreas[n] && WorkAreas[n]->Alias == wa.Alias) {
      std::string in_use = wa.Alias;
      CloseDatabase();
      SetDbError(220, "Alias name \"" + in_use + "\" already in use." + " [USE]");
      return;
    }
  }
  wa.Table.FromFile = g_use_from_file;
  wa.Table.ToFile = g_use_to_file;
  if (wa.Table.RecordCount < 1) {
    std::fill(wa.FieldValues, wa.FieldValues + computed, 0);
    ClearRecord();
    SetPhantomRecord(wa);
  } else {
    GoTop();
  }
  if (uint16_t code = DbLastError; code != 0) {
    CloseDatabase();
    DbLastError = code;
    return;
  }
  wa.SwapBuffer.assign(computed, 0);
  if (wa.Table.HasMemo && MemoDriver.OpenMemofile) {
    MemoDriver.OpenMemofile(RemoveExtension(wa.Table.FileName));
    if (uint16_t code = DbLastError; code != 0) {
      CloseDatabase();
      SetDbError(code, "Problem opening memo file [USE(" + context_text + ",<@Buffer>," +
                           std::to_string(size) + ")]");
    }
  }
}

}  // namespace

void StartEngine() {
  for (auto& area : WorkAreas) area.reset();
  DbUseFileMode = 66;
  DbForcedFileMode = 0xFFFF;
  DbAnsiTables = false;
  DbReopenExclusive = false;
  DbRecountOnOpen = false;
  VirtualFileDriver = nullptr;
  ClearDrivers();
  DbEngineActive = true;
  SetHaltCloseHook(CloseAllQuietly);
}

void EndEngine() {
  if (DbEngineActive) {
    try {
      CloseSlot(34);
      CloseSlot(35);
      CloseAll();
    } catch (const ETarazedError&) {
      // Closing ends quietly; what is still open is released by the records' owners.
    }
    DbEngineActive = false;
  }
  LocateSearchValue.clear();
  LocateField = 0;
  SetHaltCloseHook(nullptr);
}

void CloseAllQuietly() {
  for (int n = 1; n <= kWorkAreaSlots; ++n) {
    try {
      CloseSlot(n);
    } catch (const ETarazedError&) {
      WorkAreas[n].reset();
    }
  }
  CurrentWorkArea = 1;
}

void Select(uint8_t n) {
  DbLastError = 0;
  if (n >= 1 && n <= kWorkAreaCount) {
    CurrentWorkArea = n;
    return;
  }
  if (n == 0) {
    for (int i = 1; i <= kWorkAreaCount; ++i) {
      if (!WorkAreas[i]) {
        CurrentWorkArea = static_cast<uint8_t>(i);
        return;
      }
    }
    SetDbError(220, "No free workarea available [Select(0)]");
    return;
  }
  SetDbError(220, "Invalid workarea selected = [Select(" + std::to_string(n) + ")]");
}

uint8_t GetWorkArea() {
  return CurrentWorkArea;
}

TWorkArea* SelectedArea() {
  return CurrentWorkArea <= kWorkAreaSlots ? WorkAreas[CurrentWorkArea].get() : nullptr;
}

bool CheckDbInUse(std::string_view routine) {
  if (SelectedArea()) return false;
  SetDbError(215, "No database in use [" + std::string(routine) +
                      "]  WorkArea = " + std::to_string(CurrentWorkArea));
  return true;
}

std::string DbfName() {
  TWorkArea* wa = SelectedArea();
  return wa ? wa->Table.FileName : "";
}

void Use(const std::string& use_text, char* buffer, size_t size) {
  UseWithTables(use_text, buffer, size, nullptr, nullptr);
}

void UseWithTables(const std::string& use_text, char* buffer, size_t size,
                   TranslateProc translate_from_file, TranslateProc translate_to_file) {
  struct Reset {
    ~Reset() { g_use_from_file = g_use_to_file = nullptr; }
  } reset;
  g_use_from_file = translate_from_file;
  g_use_to_file = translate_to_file;
  UseImpl(use_text, buffer, size);
}

void CloseDatabase() {
  TWorkArea* wa = SelectedArea();
  if (!wa) return;
  uint8_t n = CurrentWorkArea;
  // The area is freed whatever fails (or throws) on the way.
  struct Free {
    uint8_t n;
    ~Free() { WorkAreas[n].reset(); }
  } free_area{n};
  if (IndexOrderActive() && IndexDriver.CloseIndexes) IndexDriver.CloseIndexes();
  RefreshRecCount(*wa);
  Unlock();
  wa->SwapBuffer.clear();
  if (wa->Table.HasMemo && MemoDriver.CloseMemofile) MemoDriver.CloseMemofile();
  if (ParserLinked && ParserDriver.FreeExpr) {
    if (wa->FilterExpr) ParserDriver.FreeExpr(wa->FilterExpr);
    if (wa->WhileExpr) ParserDriver.FreeExpr(wa->WhileExpr);
  }
  CountUnderAppendLock(*wa);
  CloseDbf(wa->Table);  // closing the file also releases the append lock taken above
}

void CloseAll() {
  DbLastError = 0;
  for (int n = 1; n <= kWorkAreaCount; ++n) CloseSlot(n);
  CurrentWorkArea = 1;
}

uint16_t ReopenDbf(bool exclusive) {
  if (CheckDbInUse("ReopenDbf")) return DbLastError;
  TWorkArea& wa = *SelectedArea();
  if (wa.Exclusive && !DbReopenExclusive) return 5;
  uint16_t mode = exclusive ? 18 : DbUseFileMode;
  if (int rc = wa.Table.File.ChangeShare(mode); rc != 0) return static_cast<uint16_t>(rc);
  DbReopenExclusive = exclusive;
  wa.Exclusive = exclusive;
  wa.Table.OpenMode = mode;
  AllowReadAhead(wa.Table);
  return 0;
}

bool GetMdxFlag() {
  TWorkArea* wa = SelectedArea();
  return wa && !IsDbase2Table(wa->Table) && wa->Table.Prolog[28] != 0;
}

void SetMdxFlag(bool on) {
  TWorkArea* wa = SelectedArea();
  if (!wa || IsDbase2Table(wa->Table)) return;
  uint8_t value = on ? 1 : 0;
  if (wa->Table.Prolog[28] != value && wa->Table.HeaderState == kHeaderOpen)
    wa->Table.HeaderState = kHeaderRewritten;
  wa->Table.Prolog[28] = value;
}

std::shared_ptr<void>* WorkAreaIndexData() {
  TWorkArea* wa = SelectedArea();
  return wa ? &wa->IndexData : nullptr;
}

}  // namespace tz
