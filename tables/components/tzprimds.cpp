#include "tables/components/tzprimds.h"

#include <cstring>
#include <stdexcept>

namespace tz {

using namespace platform::dataset;

namespace {

const char kNotEditing[] = "Dataset not in edit or insert mode";

// Record info: bytes 0-3 the record number, 4 reserved, 5 the bookmark flag.
constexpr size_t kRecordInfoSize = 6;
constexpr size_t kBookmarkFlagByte = 5;

}  // namespace

TTzPrimDataset::TTzPrimDataset() = default;

TTzPrimDataset::~TTzPrimDataset() = default;

void TTzPrimDataset::TziCheck(int32_t code) {
  if (code == 0) return;
  switch (code) {
    case kTziOpenFailed:
    case kTziBof:
    case kTziEof:
      throw std::runtime_error("Dataset error: " + std::to_string(code));
    case kTziNoFileName:
      throw std::runtime_error("Missing DbfFilename property");
    default:
      throw std::runtime_error("Dataset error: " + ErrorCodeText(code));
  }
}

std::string TTzPrimDataset::ErrorCodeText(int32_t code) { return std::to_string(code); }

bool TTzPrimDataset::IsEmptyData() { return IsEmpty(); }

// --- Layout -----------------------------------------------------------------------------------

int32_t TTzPrimDataset::RecordNumberOf(const char* buffer) const {
  int32_t number;
  std::memcpy(&number, buffer + record_info_start_, sizeof number);
  return number;
}

void TTzPrimDataset::SetRecordNumber(char* buffer, int32_t number) {
  std::memcpy(buffer + record_info_start_, &number, sizeof number);
}

std::unique_ptr<char[]> TTzPrimDataset::AllocRecordBuffer() {
  return std::make_unique<char[]>(total_buffer_size_);  // value-initialised: zero-filled
}

void TTzPrimDataset::GetBookmarkData(const char* buffer, char* data) {
  std::memcpy(data, buffer + bookmark_start_, BookmarkSize());
}

void TTzPrimDataset::SetBookmarkData(char* buffer, const char* data) {
  std::memcpy(buffer + bookmark_start_, data, BookmarkSize());
}

TBookmarkFlag TTzPrimDataset::GetBookmarkFlag(const char* buffer) {
  return static_cast<TBookmarkFlag>(buffer[record_info_start_ + kBookmarkFlagByte]);
}

void TTzPrimDataset::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
  buffer[record_info_start_ + kBookmarkFlagByte] = static_cast<char>(flag);
}

void TTzPrimDataset::ClearCalcFields(char* buffer) {
  std::memset(buffer + calc_fields_start_, 0, CalcFieldsSize());
}

// --- Opening and closing ----------------------------------------------------------------------

void TTzPrimDataset::OpenCursor() {
  TziCheck(TziOpen());
  open_flag_ = 1;
  TDataSet::OpenCursor();
}

void TTzPrimDataset::CloseCursor() {
  TDataSet::CloseCursor();
  // A failed TziOpen leaves nothing to close.
  if (!open_flag_) return;
  open_flag_ = 0;
  TziCheck(TziClose());
}

void TTzPrimDataset::InternalOpen() {
  record_data_size_ = TziGetRecordSize();
  SetBookmarkSize(TziGetBookmarkSize());
  kind_flag_ = TziGetKind() == kTziTableKind ? 1 : 0;

  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);

  calc_fields_start_ = record_data_size_;
  blob_area_start_ = record_data_size_ + static_cast<size_t>(CalcFieldsSize());
  record_info_start_ = blob_area_start_ + 4 * static_cast<size_t>(BlobFieldCount());
  bookmark_start_ = record_info_start_ + kRecordInfoSize;
  total_buffer_size_ = record_info_start_ + BookmarkSize() + kRecordInfoSize;

  TziCheck(TziSetToBegin());
}

void TTzPrimDataset::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  kind_flag_ = 0;
}

// --- Records ----------------------------------------------------------------------------------

void TTzPrimDataset::InternalInitRecord(char* buffer) {
  std::memset(buffer, 0, total_buffer_size_);
  TziInitRecord(buffer);  // its code is not checked
}

TGetResult TTzPrimDataset::GetRecord(char* buffer, TGetMode mode, bool check) {
  int32_t number = 0;
  int32_t code = 0;
  switch (mode) {
    case platform::dataset::gmCurrent:
      code = TziGetRecord(buffer, number);
      break;
    case platform::dataset::gmNext:
      code = TziGetNextRecord(buffer, number);
      break;
    case platform::dataset::gmPrior:
      code = TziGetPriorRecord(buffer, number);
      break;
  }
  switch (code) {
    case 0:
      SetBookmarkFlag(buffer, platform::dataset::bfCurrent);
      SetRecordNumber(buffer, number);
      GetCalcFields(buffer);
      TziCheck(TziSetToBookmark(buffer + bookmark_start_));
      return platform::dataset::grOK;
    case kTziBof:
      return platform::dataset::grBOF;
    case kTziEof:
      return platform::dataset::grEOF;
    default:
      if (check) TziCheck(code);
      return platform::dataset::grError;
  }
}

void TTzPrimDataset::InternalGotoBookmark(const char* bookmark) {
  TziCheck(TziGotoBookmark(bookmark));
}

void TTzPrimDataset::InternalSetToRecord(char* buffer) {
  TziCheck(TziGotoBookmark(buffer + bookmark_start_));
}

void TTzPrimDataset::InternalFirst() { TziCheck(TziSetToBegin()); }

void TTzPrimDataset::InternalLast() { TziCheck(TziSetToEnd()); }

void TTzPrimDataset::InternalAddRecord(char* buffer, bool append) {
  TziCheck(append ? TziAppendRecord(buffer) : TziInsertRecord(buffer));
}

void TTzPrimDataset::InternalDelete() { TziCheck(TziDeleteRecord()); }

void TTzPrimDataset::InternalPost() {
  if (State() == platform::dataset::dsEdit) {
    TziCheck(TziUpdateRecord(ActiveBuffer(), 1));
  } else {
    TziCheck(TziInsertRecord(ActiveBuffer()));
  }
}

void TTzPrimDataset::InternalEdit() {
  int32_t number = 0;
  TziCheck(TziGetRecord(ActiveBuffer(), number));
}

void TTzPrimDataset::InternalRefresh() { TziCheck(TziForceReread()); }

void TTzPrimDataset::InternalHandleException() { ApplicationHandleException(); }

void TTzPrimDataset::DoOnNewRecord() {
  if (TziGetRecordCount() <= 0) ClearBuffers();
  TDataSet::DoOnNewRecord();
}

int32_t TTzPrimDataset::GetRecordCount() {
  CheckActive();
  return TziGetRecordCount();
}

int32_t TTzPrimDataset::GetRecNo() {
  CheckActive();
  const char* buffer = State() == platform::dataset::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  return RecordNumberOf(buffer);
}

void TTzPrimDataset::SetRecNoValue(int32_t value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  // A number of no record fails without moving: the dataset stays on its record.
  if (TziSetToRecNo(value) != 0) {
    CursorPosChanged();
    return;
  }
  Resync(platform::dataset::rmCenter);
  DoAfterScroll();
}

bool TTzPrimDataset::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  int32_t number = 0;
  int32_t code;
  if (go_forward) {
    if (restart) TziCheck(TziSetToBegin());
    code = TziGetNextRecord(nullptr, number);
  } else {
    if (restart) TziCheck(TziSetToEnd());
    code = TziGetPriorRecord(nullptr, number);
  }
  // Running off either end is no error, only nothing found.
  if (code != kTziBof && code != kTziEof) TziCheck(code);
  if (code == 0) {
    Resync(platform::dataset::rmExact | platform::dataset::rmCenter);
    SetFound(true);
  }
  if (Found()) DoAfterScroll();
  return Found();
}

bool TTzPrimDataset::GetCurrentRecord(char* buffer) {
  if (IsEmptyData() || GetBookmarkFlag(ActiveBuffer()) != platform::dataset::bfCurrent) {
    return false;
  }
  UpdateCursorPos();
  int32_t number = 0;
  return TziGetRecord(buffer, number) == 0;
}

bool TTzPrimDataset::IsSequenced() { return !Filtered(); }

// --- Bookmarks --------------------------------------------------------------------------------

bool TTzPrimDataset::ValidBookmark(const char* bookmark) {
  if (!IsOpen()) return false;
  CursorPosChanged();
  int32_t number = 0;
  return TziGotoBookmark(bookmark) == 0 && TziGetRecord(nullptr, number) == 0;
}

int TTzPrimDataset::CompareBookmarkData(const char* a, const char* b) {
  if (a && b) {
    int result = 0;
    if (IsOpen()) TziCheck(TziCompareBookmarks(a, b, result));
    return result;
  }
  if (a) return -1;
  if (b) return 1;
  return 0;
}

// --- Searching --------------------------------------------------------------------------------

bool TTzPrimDataset::Locate(const std::string& key_fields, const TVariant& key_values,
                            TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  bool found = TziLocate(key_fields, key_values, options);
  if (!found) {
    CursorPosChanged();
    return false;
  }
  Resync(platform::dataset::rmExact | platform::dataset::rmCenter);
  DoAfterScroll();
  return true;
}

TVariant TTzPrimDataset::Lookup(const std::string& key_fields, const TVariant& key_values,
                                const std::string& result_fields) {
  TVariant result;
  TziLookup(key_fields, key_values, result_fields, result);
  CursorPosChanged();
  return result;
}

TVariant TTzPrimDataset::ReadValuesFromBuffer(char* buffer, const std::string& result_fields) {
  TDataSetState saved = SetTempState(platform::dataset::dsCalcFields);
  struct Restore {
    TTzPrimDataset& ds;
    TDataSetState saved;
    ~Restore() { ds.RestoreState(saved); }
  } restore{*this, saved};
  CalculateFields(buffer);
  return FieldValues(result_fields);
}

// --- Field data -------------------------------------------------------------------------------

// The buffer whose fields the current state shows: the active record while browsing (none when
// empty), editing, inserting or looking at old values; the calculation buffer while
// calculating fields; none otherwise.
char* TTzPrimDataset::RecordBufferForState() {
  switch (State()) {
    case platform::dataset::dsBrowse:
      return IsEmptyData() ? nullptr : ActiveBuffer();
    case platform::dataset::dsEdit:
    case platform::dataset::dsInsert:
    case platform::dataset::dsOldValue:
      return ActiveBuffer();
    case platform::dataset::dsCalcFields:
      return CalcBuffer();
    default:
      return nullptr;
  }
}

bool TTzPrimDataset::GetFieldData(TField& field, void* target) {
  char* buffer = RecordBufferForState();
  if (!buffer) return false;
  if (field.FieldNo() > 0) {
    bool blank = false;
    TziCheck(TziGetFieldData(field, buffer, blank, target));
    return !blank;
  }
  TDataSetState state = State();
  if (state != platform::dataset::dsBrowse && state != platform::dataset::dsEdit &&
      state != platform::dataset::dsInsert && state != platform::dataset::dsCalcFields &&
      state != platform::dataset::dsOldValue) {
    return false;
  }
  const char* slot = buffer + calc_fields_start_ + field.Offset();
  if (slot[0] == 0) return false;
  if (target) std::memcpy(target, slot + 1, field.DataSize());
  return true;
}

void TTzPrimDataset::SetFieldData(TField& field, const void* value) {
  TDataSetState state = State();
  using platform::dataset::dsCalcFields;
  using platform::dataset::dsFilter;
  using platform::dataset::dsNewValue;
  using platform::dataset::dsSetKey;
  if (state != platform::dataset::dsEdit && state != platform::dataset::dsInsert &&
      state != dsSetKey && state != dsCalcFields && state != dsFilter && state != dsNewValue &&
      state != platform::dataset::dsInternalCalc) {
    DatabaseError(kNotEditing);
  }
  // Set-key, filter and new-value states have no record buffer of their own here, so nothing
  // could be stored for them.
  char* buffer = RecordBufferForState();
  if (!buffer) DatabaseError(kNotEditing);
  if (field.Calculated()) {
    char* slot = buffer + calc_fields_start_ + field.Offset();
    slot[0] = value ? 1 : 0;
    if (value) std::memcpy(slot + 1, value, field.DataSize());
  } else {
    if (state == dsCalcFields) DatabaseError(kNotEditing);
    if (field.ReadOnly() && state != dsSetKey && state != dsFilter) {
      DatabaseError("Field '" + field.DisplayName() + "' cannot be modified");
    }
    // The one validation of this put: TziSetFieldData stores the value as it is.
    field.Validate(value);
    if (field.FieldKind() != platform::dataset::fkInternalCalc) {
      TziCheck(TziSetFieldData(field, buffer, value));
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(platform::dataset::deFieldChange, &field);
  }
}

}  // namespace tz
