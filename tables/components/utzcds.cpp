#include "tables/components/utzcds.h"

#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndx.h"

namespace tz {

namespace {

constexpr size_t kNameLength = 10;
constexpr size_t kKeyLength = 100;

}  // namespace

TTzCDataSet::TTzCDataSet(bool designing) : TTzDataSet(designing) {}

// --- Properties ---

void TTzCDataSet::SetDbfFileName(const std::string& name) {
  bool was_active = Active();
  bool reading = (ComponentState() & platform::dataset::csReading) != 0;
  if (!reading) Close();
  std::string file = AllTrim(name);
  if (!file.empty() && file.back() != '.') file = DefaultExtension(file, "DBF");
  TTzDataSet::SetDbfFileName(file);
  if (!file.empty() && !reading) SetActive(was_active);
}

void TTzCDataSet::SetHideDeletedRecs(bool value) {
  if (value == HideDeletedRecs()) return;
  TTzDataSet::SetHideDeletedRecs(value);
  if (!Active() || Designing()) return;
  UpdateCursorPos();
  if (!SelectWorkArea("SetHideDeletedRecs")) return;
  tz::SetIgnoreDel(value);
  tz::RepositionAfterWrite();
  SyncDataSet();
}

// --- Fields ---

TField& TTzCDataSet::FieldNamed(const std::string& field_name) {
  return FieldByName(field_name.substr(0, kNameLength));
}

std::string TTzCDataSet::FieldText(TField& field) {
  size_t width = static_cast<size_t>(std::max(field.Size(), 0));
  switch (field.DataType()) {
    case platform::dataset::ftInteger:
    case platform::dataset::ftFloat: {
      std::string text = field.AsString();
      return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
    }
    case platform::dataset::ftBoolean:
      return field.AsBoolean() ? "T" : "F";
    case platform::dataset::ftDate: {
      // The date's text in the user's short date format, whatever its length ("1/5/2026" as
      // well as "12/24/2026"); only an empty date has none.
      std::string text = field.Text();
      return text.empty() ? DatePicture(DbDateFormat) : text;
    }
    case platform::dataset::ftMemo:
      return field.AsString();
    default: {
      // The dataset gives texts without their trailing blanks: these restore the stored width.
      std::string text = field.AsString();
      return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
    }
  }
}

std::string TTzCDataSet::FieldGet(const std::string& field_name) {
  return FieldText(FieldNamed(field_name));
}

int32_t TTzCDataSet::FieldGetInt(const std::string& field_name) {
  return FieldNamed(field_name).AsInteger();
}

bool TTzCDataSet::FieldGetBool(const std::string& field_name) {
  return FieldNamed(field_name).AsBoolean();
}

void TTzCDataSet::PutText(const std::string& field_name, const std::string& text) {
  TField& field = FieldNamed(field_name);
  if (!Editing(State())) Edit();
  // The editor's text path: a date field reads the engine's date texts there.
  field.SetText(text);
}

void TTzCDataSet::FieldPutStr(const std::string& field_name, const std::string& text) {
  PutText(field_name, text);
}

void TTzCDataSet::FieldPutShort(const std::string& field_name, const std::string& text) {
  PutText(field_name, text.substr(0, 10));
}

void TTzCDataSet::FieldPutInt(const std::string& field_name, int32_t value) {
  TField& field = FieldNamed(field_name);
  if (!Editing(State())) Edit();
  field.SetAsInteger(value);
}

// --- Direct writes ---

void TTzCDataSet::DirectWrite(const char* operation, void (*write)()) {
  if (!SelectWorkArea(operation)) return;
  try {
    write();
    if (DbLastError == 0) {
      tz::RepositionAfterWrite();
      NotifyDirectChange();
      SyncDataSet();
    }
  } catch (...) {
    AbandonDirectWrite();
    throw;
  }
  if (DbLastError != 0) AbandonDirectWrite();
}

void TTzCDataSet::AbandonDirectWrite() {
  ForgetFailedWrite();
  // Back to browse state on the record as the engine now holds it: a move from edit state
  // would post the put values over the current record. The write's error stays the caller's.
  TQuietCleanup quiet;
  DbLastError = 0;
  try {
    SyncDataSet();
  } catch (...) {
  }
  if (Editing(State())) SetState(platform::dataset::dsBrowse);
}

void TTzCDataSet::AppendRec() {
  // The puts began on the current record, which may carry the deleted mark (one another
  // program deleted meanwhile): the new record takes its unput fields, never its mark.
  if (char* record = EngineBuffer()) record[0] = 0;
  DirectWrite("AppendRec", tz::Append);
}

void TTzCDataSet::ReplaceRec() {
  DirectWrite("ReplaceRec", tz::Replace);
}

void TTzCDataSet::Commit() {
  if (!SelectWorkArea("Commit")) return;
  tz::Commit();
}

void TTzCDataSet::DeleteRec() {
  if (!SelectWorkArea("DeleteRec")) return;
  SyncCursorPos();
  DirectWrite("DeleteRec", tz::DeleteRec);
}

// --- Navigation ---

void TTzCDataSet::Go(int32_t record_number) {
  if (!SelectWorkArea("Go")) return;
  tz::GO(record_number);
  SyncDataSet();
}

void TTzCDataSet::GoTop() {
  First();
}

void TTzCDataSet::GoBottom() {
  Last();
}

int TTzCDataSet::Skip(int count) {
  if (count != 0) return MoveBy(count);
  if (!SelectWorkArea("Skip")) return 0;
  tz::Skip(0);
  SyncDataSet();
  return 0;
}

bool TTzCDataSet::AtEof() {
  return Eof();
}

// --- Locks ---

bool TTzCDataSet::ALock() {
  if (!SelectWorkArea("ALock")) return false;
  return tz::ALock();
}

bool TTzCDataSet::RLock() {
  if (!SelectWorkArea("RLock")) return false;
  // While editing, the engine already stands on the record being edited (the edit put it
  // there, and nothing moves the cursor while a dataset is edited), and its field value record
  // holds the puts made so far: placing the cursor again would read the record anew and drop
  // them before ReplaceRec writes.
  if (!Editing(State())) SyncCursorPos();
  if (!SelectWorkArea("RLock")) return false;
  return tz::RLock();
}

void TTzCDataSet::UnLock() {
  if (!SelectWorkArea("UnLock")) return;
  tz::Unlock();
}

// --- Seeking and orders ---

void TTzCDataSet::SyncAfterSeek() {
  if (tz::dEOF())
    Last();
  else
    SyncDataSet();
}

bool TTzCDataSet::Find(const std::string& key) {
  if (!SelectWorkArea("Find")) return false;
  tz::Find(key.substr(0, kKeyLength));
  uint8_t found = IndexFound;
  if (DbLastError != 0) return false;
  SyncAfterSeek();
  IndexFound = found;
  return found != 0;
}

bool TTzCDataSet::FindExact(const std::string& key) {
  if (!SelectWorkArea("FindExact")) return false;
  uint8_t found = 0;
  {
    // Back off after the seek only when it was off, also when the seek throws.
    struct ExactSwitch {
      bool was_on = SetExactOn();
      ~ExactSwitch() {
        if (!was_on) SetExactOff();
      }
    } exact;
    tz::Find(key.substr(0, kKeyLength));
    found = IndexFound;
  }
  if (DbLastError != 0) return false;
  SyncAfterSeek();
  IndexFound = found;
  return found != 0;
}

std::string TTzCDataSet::CurrentTag() {
  if (!SelectWorkArea("CurrentTag")) return "";
  return CurrentTagName().substr(0, kNameLength);
}

bool TTzCDataSet::SetOrderToTag(const std::string& tag_name) {
  if (!SelectWorkArea("SetOrderToTag")) return false;
  SyncCursorPos();
  if (!SelectWorkArea("SetOrderToTag")) return false;
  bool ok = tz::SetOrderToTag(tag_name.substr(0, kNameLength));
  SyncDataSet();
  return ok;
}

}  // namespace tz
