// Navigation and field access of the selected work area.
#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/dbf4bracket.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

bool Order() {
  return IndexOrderActive();
}

void Call(void (*slot)()) {
  if (slot) slot();
}

int32_t Call(int32_t (*slot)(), int32_t fallback) {
  return slot ? slot() : fallback;
}

bool Call(bool (*slot)(), bool fallback) {
  return slot ? slot() : fallback;
}

// Reads record n and unpacks it into the field value record.
bool ReadRecord(TWorkArea& wa, int32_t n) {
  if (!GetDbfRecord(wa.Table, n)) return false;
  UnpackRecord(wa.Table, wa.FieldValues);
  return true;
}

// ReadRecord without a report: a failure leaves the error state as it was. Out of line, so that
// Skip's loop stays as small as it was for the exclusive walk (inlined, it cost that walk 9%).
[[gnu::noinline]] bool QuietRead(TWorkArea& wa, int32_t n) {
  const uint16_t last = DbLastError, pending = DbPendingError;
  const std::string context = DbErrorContext;
  bool reporting = SetErrorReporting(false);
  bool read = ReadRecord(wa, n);
  SetErrorReporting(reporting);
  if (!read) DbLastError = last, DbPendingError = pending, DbErrorContext = context;
  return read;
}

void BlankRecord(TWorkArea& wa) {
  std::fill(wa.Table.Record.begin(), wa.Table.Record.end(), ' ');
  UnpackRecord(wa.Table, wa.FieldValues);
}

std::string Quoted(const TWorkArea& wa) {
  return "Database \"" + wa.Table.FileName + "\"";
}

bool ExpressionTrue(CompiledExpr* expr) {
  if (!ParserLinked || !ParserDriver.EvaluateExprByRef) return true;
  const void* result = ParserDriver.EvaluateExprByRef(expr);
  if (!result) return true;
  int32_t word;
  std::memcpy(&word, result, sizeof word);
  return word != 0;
}

// The selected work area again after a condition that may select others.
class KeepSelection {
 public:
  KeepSelection() : saved_(CurrentWorkArea) {}
  ~KeepSelection() { CurrentWorkArea = saved_; }
  KeepSelection(const KeepSelection&) = delete;
  KeepSelection& operator=(const KeepSelection&) = delete;

 private:
  uint8_t saved_;
};

// The GoTop of the design without its hook (Skip backward runs it inside its own).
void GoTopNoHook(TWorkArea& wa) {
  TDbfTable& t = wa.Table;
  if (t.RecordCount == 0) return;
  bool order = Order();
  IndexBracket bracket(IndexDriver.SetReadSemaphoreProc, order);
  int32_t candidate = 1;
  if (order) {
    candidate = Call(IndexDriver.IndexFirstRec, t.RecordCount + 1);
    if (candidate == t.RecordCount + 1) {
      SetPhantomRecord(wa);
      return;
    }
  }
  if (!ReadRecord(wa, candidate)) return;
  while (!RecordVisible(wa) && !t.AtEnd && DbLastError == 0) {
    if (order) {
      candidate = Call(IndexDriver.IndexNextRec, t.RecordCount + 1);
      if (Call(IndexDriver.IndexEof, false)) candidate = t.RecordCount + 1;
    } else {
      candidate = t.CurrentRecord + 1;
    }
    if (candidate < 1 || candidate > t.RecordCount) {
      SetPhantomRecord(wa);
      if (order) Call(IndexDriver.SyncIndexPosition);
    } else if (!ReadRecord(wa, candidate)) {
      return;
    }
  }
  if (order) Call(IndexDriver.MakeCurrentKey);
  bracket.End();
}

bool FieldError(TWorkArea*& wa, const char* routine, const char* name, int n) {
  if (CheckDbInUse(routine)) return true;
  wa = SelectedArea();
  if (n >= 1 && n <= wa->Table.FieldCount) return false;
  SetDbError(220, std::string("Invalid field number. [") + name + "(" + std::to_string(n) + ")]");
  return true;
}

}  // namespace

// --- Shared pieces ------------------------------------------------------------------------

bool IndexOrderActive() {
  return IndexDriverLinked && IndexDriver.HasIndexOrder && IndexDriver.HasIndexOrder();
}

void RefreshRecCount(TWorkArea& wa) {
  if (wa.Exclusive) return;
  TDbfTable& t = wa.Table;
  uint64_t size = 0;
  if (t.File.Size(&size) != 0 || t.RecordSize == 0) return;
  uint64_t count = size < t.HeaderSize ? 0 : (size - t.HeaderSize) / t.RecordSize;
  t.RecordCount = static_cast<int32_t>(std::min<uint64_t>(count, MaxRecordCount(t)));
}

bool RecordVisible(TWorkArea& wa) {
  if (wa.Table.HideDeleted && !wa.Table.Record.empty() && wa.Table.Record[0] == '*') return false;
  KeepSelection keep;
  if (wa.FilterMethod) return wa.FilterMethod();
  if (wa.FilterExpr) return ExpressionTrue(wa.FilterExpr);
  return true;
}

bool WhileCondition(TWorkArea& wa) {
  KeepSelection keep;
  if (wa.WhileMethod) return wa.WhileMethod();
  if (wa.WhileExpr) return ExpressionTrue(wa.WhileExpr);
  return true;
}

void SetPhantomRecord(TWorkArea& wa) {
  BlankRecord(wa);
  wa.Table.CurrentRecord = wa.Table.RecordCount + 1;
  wa.Table.OnBlankRecord = true;
  wa.Table.AtBeginning = wa.Table.AtEnd = true;
}

void SetBofFlag(TWorkArea& wa) {
  wa.Table.AtBeginning = true;
  if (Order()) Call(IndexDriver.IndexSetBof);
}

void SetEofFlag(TWorkArea& wa) {
  wa.Table.AtEnd = true;
  if (Order()) Call(IndexDriver.IndexSetEof);
}

void RunAreaHook() {
  TWorkArea* wa = SelectedArea();
  if (!wa || !wa->Hook) return;
  uint8_t area = CurrentWorkArea;
  int32_t record = wa->Table.CurrentRecord;
  uint8_t* found = IndexDriverLinked ? IndexDriver.IndexFound : nullptr;
  uint8_t found_value = found ? *found : 0;
  std::function<void()> hook = std::move(wa->Hook);
  wa->Hook = nullptr;  // positioning inside the hook does not run it again
  struct Restore {
    uint8_t area;
    std::function<void()>& hook;
    uint8_t* found;
    uint8_t found_value;
    ~Restore() {
      CurrentWorkArea = area;
      if (found) *found = found_value;
      if (TWorkArea* own = WorkAreas[area].get()) own->Hook = std::move(hook);
    }
  } restore{area, hook, found, found_value};
  hook();
  CurrentWorkArea = area;
  wa = WorkAreas[area].get();
  if (!wa) return;
  if (DbLastError == 0 && wa->Table.CurrentRecord != record) DbLastError = 224;
  if (DbLastError != 0) SetDbError(DbLastError, wa->Table.FileName);
}

// --- Field access -------------------------------------------------------------------------

uint8_t FieldCount() {
  if (CheckDbInUse("FieldCount()")) return 0;
  return SelectedArea()->Table.FieldCount;
}

std::string Field(int n) {
  TWorkArea* wa;
  if (FieldError(wa, "Field()", "Field", n)) return "";
  return wa->Table.Fields[n - 1].name;
}

int FieldNo(const std::string& name) {
  if (CheckDbInUse("FieldNo()")) return 0;
  std::string wanted = platform::AnsiUpper(RTrim(name.substr(0, 10)));
  const auto& fields = SelectedArea()->Table.Fields;
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == wanted) return static_cast<int>(i + 1);
  return 0;
}

char FieldType(int n) {
  TWorkArea* wa;
  if (FieldError(wa, "FieldType()", "FieldType", n)) return ' ';
  return wa->Table.Fields[n - 1].type;
}

int FieldLen(int n) {
  TWorkArea* wa;
  if (FieldError(wa, "FieldLen()", "FieldLen", n)) return 0;
  const TFieldEntry& f = wa->Table.Fields[n - 1];
  if (f.type == 'D') return DbCentury ? 10 : 8;
  return f.length;
}

int FieldDec(int n) {
  TWorkArea* wa;
  if (FieldError(wa, "FieldDec()", "FieldDec", n)) return 0;
  return wa->Table.Fields[n - 1].decimals;
}

char* FieldAddress(int n) {
  TWorkArea* wa;
  if (n == 0) {
    if (CheckDbInUse("FieldAddress()")) return nullptr;
    return SelectedArea()->FieldValues;
  }
  if (FieldError(wa, "FieldAddress()", "FieldAddress", n)) return nullptr;
  size_t at = 1;
  for (int i = 0; i < n - 1; ++i) at += FieldSlotSize(wa->Table.Fields[i]);
  return wa->FieldValues + at;
}

void ClearRecord() {
  if (CheckDbInUse("ClearRecord")) return;
  BlankRecord(*SelectedArea());
}

// --- Positioning --------------------------------------------------------------------------

void GO(int32_t n) {
  DbLastError = 0;
  if (CheckDbInUse("GO")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  if (n > t.RecordCount) RefreshRecCount(wa);
  std::string context = "Invalid record number = " + std::to_string(n) + " " + Quoted(wa) + " [GO]";
  if (t.RecordCount == 0) {
    t.AtBeginning = t.AtEnd = true;
    BlankRecord(wa);
    SetDbError(212, context);
    return;
  }
  if (n < 1 || n > t.RecordCount) {
    t.CurrentRecord = t.RecordCount + 1;
    t.OnBlankRecord = true;
    t.AtEnd = true;
    SetDbError(212, context);
    return;
  }
  t.AtBeginning = t.AtEnd = false;
  bool order = Order();
  IndexBracket bracket(IndexDriver.SetReadSemaphoreProc, order);
  bool ok = ReadRecord(wa, n);
  if (order && ok) {
    Call(IndexDriver.SyncIndexPosition);
    Call(IndexDriver.MakeCurrentKey);
  }
  bracket.End();
  if (!ok) return;
  RunAreaHook();
}

bool GoChecked(int32_t n) {
  if (n < 1 || n > RecCount()) return false;
  GO(n);
  return DbLastError == 0;
}

void Dbf4RawGo(int32_t n) {
  DbLastError = 0;
  if (CheckDbInUse("Dbf4RawGo")) return;
  TWorkArea& wa = *SelectedArea();
  if (n > wa.Table.RecordCount) RefreshRecCount(wa);
  if (n > wa.Table.RecordCount) {
    SetPhantomRecord(wa);
    return;
  }
  if (n <= 0) {
    SetDbError(212, " [Dbf4RawGo]");
    return;
  }
  bool reporting = SetErrorReporting(false);
  bool ok = ReadRecord(wa, n);
  SetErrorReporting(reporting);
  if (!ok) SetDbError(DbLastError, " [Dbf4RawGo]");
}

void RawGoAndHook(int32_t n) {
  Dbf4RawGo(n);
  if (DbLastError == 0) RunAreaHook();
}

void GoTop() {
  DbLastError = 0;
  if (CheckDbInUse("GoTop")) return;
  TWorkArea& wa = *SelectedArea();
  if (wa.Table.RecordCount == 0) return;
  GoTopNoHook(wa);
  if (DbLastError == 0) RunAreaHook();
}

void GoBottom() {
  DbLastError = 0;
  if (CheckDbInUse("GoBottom")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  RefreshRecCount(wa);
  if (t.RecordCount == 0) return;
  bool order = Order();
  IndexBracket bracket(IndexDriver.SetReadSemaphoreProc, order);
  int32_t candidate = t.RecordCount;
  if (order) {
    candidate = Call(IndexDriver.IndexLastRec, t.RecordCount + 1);
    if (candidate == t.RecordCount + 1) {
      SetPhantomRecord(wa);
      bracket.End();
      RunAreaHook();
      return;
    }
  }
  if (!ReadRecord(wa, candidate)) return;
  while (!RecordVisible(wa) && DbLastError == 0) {
    bool finished;
    if (order) {
      candidate = Call(IndexDriver.IndexPriorRec, 0);
      finished = Call(IndexDriver.IndexBof, true);
    } else {
      candidate = t.CurrentRecord - 1;
      finished = t.AtBeginning;
    }
    if (candidate <= 0 || finished) {
      SetPhantomRecord(wa);
      if (order) {
        Call(IndexDriver.SyncIndexPosition);
        SetBofFlag(wa);
        SetEofFlag(wa);
      }
      break;
    }
    if (!ReadRecord(wa, candidate)) return;
  }
  if (order) Call(IndexDriver.MakeCurrentKey);
  bracket.End();
  if (DbLastError == 0) RunAreaHook();
}

void Skip(int32_t n) {
  DbLastError = 0;
  if (CheckDbInUse("SKIP()")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  if (n == 0) {
    if (t.RecordCount > 0 && !t.AtEnd) {
      if (!ReadRecord(wa, t.CurrentRecord)) return;
    } else {
      BlankRecord(wa);
    }
    RunAreaHook();
    return;
  }
  if (n > 0 && t.AtEnd) {
    SetDbError(212, Quoted(wa) + " is past EOF. [SKIP]");
    return;
  }
  if (t.RecordCount == 0) {
    t.AtBeginning = t.AtEnd = true;
    SetDbError(212, Quoted(wa) + " is empty. [SKIP]");
    return;
  }
  if (n < 0 && dBOF()) return;
  t.AtBeginning = t.AtEnd = false;
  bool order = Order();
  IndexBracket bracket(IndexDriver.SetReadSemaphoreProc, order);
  int32_t counter = 0;
  int32_t last_good = 0;
  bool reached = false;
  bool inside = true;
  while (true) {
    int32_t candidate;
    bool read = false;  // the candidate is read already
    int32_t current = t.CurrentRecord;
    if (n < 0) {
      if (RecordVisible(wa) && WhileCondition(wa)) last_good = current;
      if (order) {
        // Against the record number after the call: at the end of file the index may find that
        // another program's append took the blank record's number, and renumber the blank.
        candidate = Call(IndexDriver.IndexPriorRec, current);
        reached = candidate == t.CurrentRecord;
      } else {
        candidate = current - 1;
        reached = candidate <= 0;
        if (reached) candidate = 1;
      }
    } else if (order) {
      candidate = Call(IndexDriver.IndexNextRec, current);
      reached = candidate == t.CurrentRecord;
    } else {
      candidate = current + 1;
      // Another program's appends matter only where the records this program knows of end: the
      // records are counted again there. Inside them, a file another program made shorter
      // shows as a failed read, and the step is then taken again after counting.
      if (candidate > t.RecordCount) RefreshRecCount(wa);
      reached = candidate > t.RecordCount;
      if (reached) candidate = t.RecordCount;
      if (!reached && !wa.Exclusive) {
        read = QuietRead(wa, candidate);
        if (!read) {
          RefreshRecCount(wa);
          reached = candidate > t.RecordCount;
          if (reached) candidate = t.RecordCount;
        }
      }
    }
    if (candidate < 1 || candidate > t.RecordCount) {
      reached = true;
      candidate = std::clamp(candidate, 1, t.RecordCount);
    }
    if (!read && !ReadRecord(wa, candidate)) return;
    if (!reached && RecordVisible(wa)) counter += n < 0 ? -1 : 1;
    inside = WhileCondition(wa);
    if (counter == n || reached || !inside) break;
  }
  if (reached) {
    if (n > 0) {
      t.CurrentRecord = t.RecordCount + 1;
      t.OnBlankRecord = true;
      t.AtEnd = true;
      BlankRecord(wa);
      if (order) Call(IndexDriver.SyncIndexPosition);
    } else {
      GoTopNoHook(wa);
      if (DbLastError != 0) return;
      SetBofFlag(wa);
      if (t.CurrentRecord > t.RecordCount) BlankRecord(wa);
    }
  } else if (!inside) {
    if (n > 0) {
      SetEofFlag(wa);
    } else {
      if (last_good >= 1 && last_good <= t.RecordCount) {
        if (!ReadRecord(wa, last_good)) return;
      } else {
        SetPhantomRecord(wa);
      }
      t.AtBeginning = true;
      if (order) {
        Call(IndexDriver.SyncIndexPosition);
        Call(IndexDriver.IndexSetBof);
      }
    }
  }
  bracket.End();
  if (order) Call(IndexDriver.MakeCurrentKey);
  RunAreaHook();
}

bool dEOF() {
  if (CheckDbInUse("dEOF")) return true;
  TWorkArea& wa = *SelectedArea();
  // Only a record past the count can have become one that another program appended; the walk
  // that goes on from a record inside it finds the new count as it steps.
  if (wa.Table.CurrentRecord > wa.Table.RecordCount) RefreshRecCount(wa);
  if (wa.Table.CurrentRecord > wa.Table.RecordCount) wa.Table.AtEnd = true;
  if (Order()) return Call(IndexDriver.IndexEof, wa.Table.AtEnd);
  return wa.Table.AtEnd;
}

bool dBOF() {
  if (CheckDbInUse("dBOF")) return true;
  TWorkArea& wa = *SelectedArea();
  if (Order()) return Call(IndexDriver.IndexBof, wa.Table.AtBeginning);
  return wa.Table.AtBeginning;
}

int32_t RecCount() {
  if (CheckDbInUse("RecCount")) return 0;
  TWorkArea& wa = *SelectedArea();
  RefreshRecCount(wa);
  return wa.Table.RecordCount;
}

int32_t RecNo() {
  if (CheckDbInUse("RecNo")) return 0;
  return SelectedArea()->Table.CurrentRecord;
}

uint16_t RecSize() {
  if (CheckDbInUse("RecSize")) return 0;
  return SelectedArea()->Table.RecordSize;
}

bool SetIgnoreDel(bool hide) {
  if (CheckDbInUse("SetIgnoreDel")) return false;
  TWorkArea& wa = *SelectedArea();
  bool previous = wa.Table.HideDeleted;
  wa.Table.HideDeleted = hide;
  Skip(0);
  return previous;
}

std::function<void()> SetAreaHook(std::function<void()> hook) {
  if (CheckDbInUse("SetAreaHook")) return nullptr;
  TWorkArea& wa = *SelectedArea();
  std::function<void()> previous = std::move(wa.Hook);
  wa.Hook = std::move(hook);
  if (wa.Hook) RunAreaHook();
  return previous;
}

bool IsWhileOn() {
  TWorkArea* wa = SelectedArea();
  return wa && (wa->WhileMethod || wa->WhileExpr);
}

namespace {

// GoTopWhile (top) and GoBottomWhile: to the first or last record inside the WHILE scope, by
// skipping until BOF or EOF with the hook suspended; they stop at the first error.
void ScopeEnd(bool top) {
  if (RecCount() == 0) return;
  if (!IsWhileOn()) {
    top ? GoTop() : GoBottom();
    return;
  }
  TWorkArea& wa = *SelectedArea();
  std::function<void()> hook = std::move(wa.Hook);
  wa.Hook = nullptr;
  while (!(top ? dBOF() : dEOF()) && DbLastError == 0) Skip(top ? -1 : 1);
  if (DbLastError == 0) Skip(top ? 0 : -1);
  if (TWorkArea* own = SelectedArea()) {
    own->Hook = std::move(hook);
    RunAreaHook();
  }
}

}  // namespace

void GoTopWhile() {
  ScopeEnd(true);
}

void GoBottomWhile() {
  ScopeEnd(false);
}

}  // namespace tz
