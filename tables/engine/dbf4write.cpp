// Writing records of the selected work area: append, replace, delete marks, raw field bytes.
#include <algorithm>
#include <cstring>

#include "tables/engine/dbf4.h"
#include "tables/engine/dbf4bracket.h"
#include "tables/engine/tzcommon.h"

namespace tz {

bool DbReplaceUpdatesIndex = true;

namespace {

std::string Quoted(const TWorkArea& wa) {
  return "Database \"" + wa.Table.FileName + "\"";
}

bool NeedsLocks(const TWorkArea& wa) {
  return DbNetworkLocking && !wa.Exclusive;
}

bool OnRecord(const TDbfTable& t) {
  return !t.OnBlankRecord && t.CurrentRecord >= 1 && t.CurrentRecord <= t.RecordCount;
}

// Sets or clears the deleted mark of the current record (DeleteRec and RecallRec).
void WriteMark(bool deleted, const char* routine) {
  DbLastError = 0;
  if (CheckDbInUse(routine)) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  bool recall = std::strcmp(routine, "RecallRec") == 0;
  if (recall) RefreshRecCount(wa);
  if (!OnRecord(t)) {
    if (recall) SetDbError(1103, t.FileName + " at EOF [RecallRec]");
    return;
  }
  if (!wa.Exclusive && !IsLocked(t.CurrentRecord)) {
    SetDbError(1200, recall ? std::string("Record not locked [RecallRec]")
                            : t.FileName + " " + "Record not locked " + "[DeleteRec]");
    return;
  }
  wa.FieldValues[0] = deleted ? 1 : 0;
  t.Record[0] = deleted ? '*' : ' ';
  if (!t.Unpacked.empty()) t.Unpacked[0] = wa.FieldValues[0];
  WriteDeleteFlag(t, t.CurrentRecord);
}

}  // namespace

void Append() {
  DbLastError = 0;
  if (CheckDbInUse("Append")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  if (NeedsLocks(wa) && wa.LockState != 2) {
    SetDbError(5, "File must be locked to append: " + t.FileName + " [APPEND]");
    return;
  }
  RefreshRecCount(wa);
  PackRecord(t, wa.FieldValues);
  bool order = IndexOrderActive();
  {
    IndexBracket bracket(IndexDriver.SetLockSemaphoreProc, order);
    bool ok = PutDbfRecord(t, t.RecordCount + 1);
    // On a shared table the header counts the record at once, while the append lock is held:
    // other programs read by the header's count, and a program that dies before it closes
    // leaves no record uncounted. Written after the record, the count never takes in a record
    // that is not whole on the disk.
    if (ok && !wa.Exclusive) WriteRecordCount(t);
    UnpackRecord(t, wa.FieldValues);
    if (ok && order && IndexDriver.AppendNewKey) IndexDriver.AppendNewKey();
    bracket.End();
  }
  t.AtEnd = t.AtBeginning = false;
  RunAreaHook();
}

void Replace() {
  DbLastError = 0;
  if (CheckDbInUse("Replace")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  if (t.CurrentRecord < 1) {
    SetDbError(212, Quoted(wa) + " is empty. [REPLACE]");
    return;
  }
  if (t.OnBlankRecord || t.CurrentRecord > t.RecordCount) {
    SetDbError(212, Quoted(wa) + " is at EOF. [REPLACE]");
    return;
  }
  if (!wa.Exclusive && !IsLocked(t.CurrentRecord)) {
    SetDbError(1200,
               "Record #" + std::to_string(t.CurrentRecord) + " in " + t.FileName + " [REPLACE]");
    return;
  }
  bool keys = DbReplaceUpdatesIndex && IndexOrderActive();
  if (keys && wa.SwapBuffer.size() != wa.FieldValuesLen) {
    SetDbError(254, t.FileName + " " + "Swap-buffer NIL." + " [REPLACE]");
    return;
  }
  IndexBracket bracket(IndexDriver.SetLockSemaphoreProc, keys);
  if (keys) {
    std::memcpy(wa.SwapBuffer.data(), wa.FieldValues, wa.FieldValuesLen);
    if (!GetDbfRecord(t, t.CurrentRecord)) return;
    UnpackRecord(t, wa.FieldValues);
    if (IndexDriver.SaveKeysBeforeReplace) IndexDriver.SaveKeysBeforeReplace();
    std::memcpy(wa.FieldValues, wa.SwapBuffer.data(), wa.FieldValuesLen);
  }
  PackChangedFields(t, wa.FieldValues);
  bool ok = PutDbfRecord(t, t.CurrentRecord);
  UnpackRecord(t, wa.FieldValues);
  if (ok && keys && IndexDriver.UpdateKeysAfterReplace) IndexDriver.UpdateKeysAfterReplace();
  bracket.End();
  RunAreaHook();
}

void DeleteRec() {
  WriteMark(true, "DeleteRec");
}

void RecallRec() {
  WriteMark(false, "RecallRec");
}

bool RepositionAfterWrite() {
  if (CheckDbInUse("RepositionAfterWrite")) return false;
  TWorkArea& wa = *SelectedArea();
  if (WhileCondition(wa) && RecordVisible(wa)) return false;
  Unlock();
  int32_t record = wa.Table.CurrentRecord;
  std::function<void()> hook = std::move(wa.Hook);
  wa.Hook = nullptr;
  Skip(1);
  if (dEOF()) {
    GoChecked(record);
    Skip(-1);
  }
  if (TWorkArea* own = SelectedArea()) {
    own->Hook = std::move(hook);
    RunAreaHook();
  }
  return true;
}

void Peek(uint8_t field, int32_t recno, std::string& text) {
  text.clear();
  if (CheckDbInUse("Peek")) return;
  TDbfTable& t = SelectedArea()->Table;
  if (recno <= 0 || field > t.FieldCount || recno > t.RecordCount) return;
  uint64_t offset = t.HeaderSize + static_cast<uint64_t>(recno - 1) * t.RecordSize;
  size_t length = 1;
  if (field > 0) {
    offset += t.Fields[field - 1].offset;
    length = t.Fields[field - 1].length;
  }
  text.assign(length, '\0');
  size_t got = 0;
  if (int rc = t.File.ReadAt(offset, text.data(), length, &got); rc != 0 || got < length) {
    text.clear();
    SetDbError(static_cast<uint16_t>(rc != 0 ? rc : 100), "File:  " + t.FileName + " [Peek]");
  }
}

void Poke(const std::string& value, uint8_t field, int32_t recno) {
  if (CheckDbInUse("Poke")) return;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  std::string context =
      ("[Poke(" + value + "," + std::to_string(field) + "," + std::to_string(recno) + ")]")
          .substr(0, 100);
  if (NeedsLocks(wa) && !IsLocked(recno)) {
    SetDbError(1200, "Record not locked " + context);
    return;
  }
  if (value.empty() || t.OnBlankRecord) return;
  if (recno <= 0 || field > t.FieldCount || recno > t.RecordCount) return;
  uint64_t offset = t.HeaderSize + static_cast<uint64_t>(recno - 1) * t.RecordSize;
  size_t length = 1;
  if (field > 0) {
    offset += t.Fields[field - 1].offset;
    length = std::min<size_t>(value.size(), t.Fields[field - 1].length);
  }
  // The write's own result is the command's result: a success clears an earlier error.
  DropReadAhead(t);
  if (int rc = t.File.WriteAt(offset, value.data(), length); rc != 0)
    SetDbError(static_cast<uint16_t>(rc), context);
  else
    DbLastError = 0;
}

void Commit() {
  DbLastError = 0;
  if (CheckDbInUse("Commit")) return;
  TWorkArea& wa = *SelectedArea();
  if (wa.Exclusive)
    CommitDbfHeader(wa.Table);
  else
    FlushFile(wa.Table.File);
}

}  // namespace tz
