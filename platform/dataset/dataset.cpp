#include "platform/dataset/dataset.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/dataset/datasource.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace platform::dataset {

namespace {

const char kDataSetClosed[] = "Cannot perform this operation on a closed dataset";
const char kDataSetOpen[] = "Cannot perform this operation on an open dataset";
const char kNotEditing[] = "Dataset not in edit or insert mode";
const char kDataSetReadOnly[] = "Cannot modify a read-only dataset";
const char kDataSetEmpty[] = "Cannot perform this operation on an empty dataset";
const char kRecordNotFound[] = "Record not found";

bool InWriteModes(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey || state == dsCalcFields ||
         state == dsFilter || state == dsNewValue || state == dsInternalCalc;
}

// The names of a ";"-separated list, blanks around each cut.
std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    size_t first = name.find_first_not_of(' ');
    size_t last = name.find_last_not_of(' ');
    if (first != std::string::npos) result.push_back(name.substr(first, last - first + 1));
    start = end + 1;
  }
  return result;
}

TExceptionHandler g_exception_handler = nullptr;

}  // namespace

void ApplicationHandleException() {
  if (g_exception_handler)
    g_exception_handler();
  else
    ShowException();
}

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler) {
  return std::exchange(g_exception_handler, handler);
}

void ShowException() {
  std::string text;
  try {
    throw;
  } catch (const EAbort&) {
    return;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "Unknown exception";
  }
  MessageBox(text, ApplicationTitle(), kMbOk | kMbIconStop);
}

TDataSet::TDataSet() : field_defs_(*this) {}

TDataSet::~TDataSet() {
  while (!data_sources_.empty()) data_sources_.back()->SetDataSet(nullptr);
}

// --- Opening and closing ----------------------------------------------------------------------

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    default_fields_ = fields_.empty();
    try {
      OpenCursor();
    } catch (...) {
      state_ = dsInactive;
      try {
        CloseCursor();
      } catch (...) {
        // The open's own failure is the one to report.
      }
      throw;
    }
    SetState(dsBrowse);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    SetState(dsInactive);
    CloseCursor();
  }
}

void TDataSet::OpenCursor() { DoInternalOpen(); }

void TDataSet::DoInternalOpen() {
  InternalOpen();
  internal_open_complete_ = true;
  AllocateBuffers();
  ClearBuffers();
  GetNextRecord();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  internal_open_complete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  FreeBuffers();
  InternalClose();
  default_fields_ = false;
}

void TDataSet::AllocateBuffers() {
  buffers_[0] = AllocRecordBuffer();
  buffers_[1] = AllocRecordBuffer();
  calc_storage_ = AllocRecordBuffer();
  temp_buffer_ = AllocRecordBuffer();
  calc_buffer_ = calc_storage_.get();
}

void TDataSet::FreeBuffers() {
  calc_buffer_ = nullptr;
  for (auto* b : {&buffers_[0], &buffers_[1], &calc_storage_, &temp_buffer_}) {
    if (*b) FreeRecordBuffer(*b);
  }
}

std::unique_ptr<char[]> TDataSet::AllocRecordBuffer() {
  return std::make_unique<char[]>(GetRecordSize());
}

// --- State ------------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState old = state_;
  state_ = value;
  ++disable_count_;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  state_ = value;
  --disable_count_;
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError(kDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError(kDataSetOpen);
}

void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

// --- Buffers and the cursor -------------------------------------------------------------------

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

// Puts the cursor where the active buffer says, unless it is known to be there already.
void TDataSet::SetCurrentRecord() {
  if (current_record_ == 0) return;
  char* buffer = ActiveBuffer();
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = 0;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ == 0) return;
  // The cursor may have been moved by anyone since the framework last put it here; a stored
  // record is found again by its bookmark every time.
  if (GetBookmarkFlag(ActiveBuffer()) == bfCurrent) current_record_ = -1;
  SetCurrentRecord();
}

bool TDataSet::GetNextRecord() { return FetchAround(gmNext); }

bool TDataSet::GetPriorRecord() { return FetchAround(gmPrior); }

bool TDataSet::FetchAround(TGetMode mode) {
  if (record_count_ > 0) {
    SetCurrentRecord();
    if (mode == gmNext && state_ == dsInsert && GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
      mode = gmCurrent;
    }
  }
  // Fetch into the spare buffer while there is a current record, so that a failure leaves it.
  char* target = record_count_ > 0 ? buffers_[1].get() : buffers_[0].get();
  bool ok = GetRecord(target, mode, true) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      SwapBuffers();
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

void TDataSet::Resync(TResyncMode mode) {
  char* target = buffers_[1].get();
  if (mode & rmExact) {
    CursorPosChanged();
    if (GetRecord(target, gmCurrent, true) != grOK) DatabaseError(kRecordNotFound);
  } else if (GetRecord(target, gmCurrent, false) != grOK &&
             GetRecord(target, gmNext, false) != grOK &&
             GetRecord(target, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  SwapBuffers();
  ActivateBuffers();
  DataEvent(deDataSetChange);
}

void TDataSet::GetCalcFields(char* buffer) {
  if (calc_fields_size_ == 0) return;
  TDataSetState saved = state_;
  state_ = dsCalcFields;
  struct Restore {
    TDataSetState& state;
    TDataSetState saved;
    ~Restore() { state = saved; }
  } restore{state_, saved};
  CalculateFields(buffer);
}

void TDataSet::CalculateFields(char* buffer) {
  calc_buffer_ = buffer;
  if (state_ != dsInternalCalc) ClearCalcFields(buffer);
  if (OnCalcFields) OnCalcFields(*this);
}

// --- Navigation -------------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Next() { MoveBy(1); }

void TDataSet::Prior() { MoveBy(-1); }

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    try {
      while (distance > 0) {
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        ++distance;
        --moved;
      }
    } catch (...) {
      DataEvent(deDataSetScroll, nullptr, moved);
      throw;
    }
    DataEvent(deDataSetScroll, nullptr, moved);
    DoAfterScroll();
  }
  return moved;
}

bool TDataSet::FindRecord(bool, bool) { return false; }

// --- Bookmarks --------------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  TBookmark bookmark;
  if (!BookmarkAvailable()) return bookmark;
  bookmark.resize(bookmark_size_);
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.empty()) return false;
  return ValidBookmark(bookmark.data());
}

bool TDataSet::ValidBookmark(const char*) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  return CompareBookmarkData(a.empty() ? nullptr : a.data(), b.empty() ? nullptr : b.data());
}

int TDataSet::CompareBookmarkData(const char* a, const char* b) {
  if (a && b) return 0;
  if (a) return -1;
  if (b) return 1;
  return 0;
}

// --- Editing ----------------------------------------------------------------------------------

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError(kDataSetReadOnly);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError(kDataSetReadOnly);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  // The current record waits in the spare buffer; the active one becomes the new record.
  if (record_count_ > 0) SwapBuffers();
  char* buffer = ActiveBuffer();
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, record_count_ == 0 ? bfBOF : bfInserted);
  record_count_ = 1;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  char* buffer = ActiveBuffer();
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  InternalInsert();
  EndInsertAppend();
}

bool TDataSet::Appending() {
  return state_ == dsInsert && GetBookmarkFlag(ActiveBuffer()) == bfEOF;
}

void TDataSet::DoOnNewRecord() {
  if (OnNewRecord) OnNewRecord(*this);
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ == dsEdit || state_ == dsInsert) {
    DataEvent(deCheckBrowseMode);
    // An edit is written over the record at the cursor: put it on the edited record first.
    if (state_ == dsEdit) UpdateCursorPos();
    InternalPost();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
  } else if (state_ == dsSetKey) {
    SetState(dsBrowse);
  }
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  bool scroll_events = state_ == dsInsert;
  if (scroll_events) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  if (AfterCancel) AfterCancel(*this);
  if (scroll_events) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError(kDataSetEmpty);
  DataEvent(deCheckBrowseMode);
  DoBeforeScroll();
  UpdateCursorPos();
  InternalDelete();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  if (state_ == dsEdit || state_ == dsInsert) {
    UpdateRecord();
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  } else if (state_ == dsSetKey) {
    Post();
  }
}

void TDataSet::UpdateRecord() {
  if (!InWriteModes(state_)) DatabaseError(kNotEditing);
  DataEvent(deUpdateRecord);
}

void TDataSet::InternalHandleException() { ApplicationHandleException(); }

// --- Searching --------------------------------------------------------------------------------

bool TDataSet::Locate(const std::string&, const TVariant&, TLocateOptions) { return false; }

TVariant TDataSet::Lookup(const std::string&, const TVariant&, const std::string&) { return {}; }

// --- Fields -----------------------------------------------------------------------------------

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& field : fields_) {
    if (AnsiCompareText(field->FieldName(), name) == 0) return field.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError("Field '" + name + "' not found");
  return *field;
}

TVariant TDataSet::FieldValues(const std::string& names) const {
  std::vector<std::string> list = SplitNames(names);
  if (list.size() == 1) return FieldByName(list[0]).Value();
  std::vector<TVariant> values;
  for (const std::string& name : list) values.push_back(FieldByName(name).Value());
  return TVariant(std::move(values));
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  field->dataset_ = this;
  fields_.push_back(std::move(field));
  return *fields_.back();
}

std::unique_ptr<TField> TDataSet::CreateFieldObject(TFieldType type) {
  return CreateFrameworkField(type);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    std::unique_ptr<TField> field = CreateFieldObject(def.DataType);
    if (!field) {
      DatabaseError("Field '" + def.Name + "' is of an unknown type");
    }
    field->SetFieldName(def.Name);
    field->SetSize(def.Size);
    field->SetRequired(def.Required);
    field->dataset_ = this;
    fields_.push_back(std::move(field));
  }
}

void TDataSet::DestroyFields() { fields_.clear(); }

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  blob_field_count_ = 0;
  for (auto& field : fields_) {
    if (!binding) {
      field->field_no_ = 0;
      continue;
    }
    if (field->Calculated()) {
      field->field_no_ = -1;
      field->offset_ = calc_fields_size_;
      calc_fields_size_ += field->DataSize() + 1;
      continue;
    }
    const TFieldDef* def = field_defs_.Find(field->FieldName());
    if (!def) DatabaseError("Field '" + field->FieldName() + "' not found");
    bool compatible = def->DataType == field->DataType() ||
                      (def->DataType == ftTime && field->DataType() == ftDateTime);
    if (!compatible) DatabaseError("Type mismatch for field '" + field->FieldName() + "'");
    field->field_no_ = def->FieldNo;
    if (field->IsBlob()) ++blob_field_count_;
  }
}

// --- Data events ------------------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, TField* field, int info) {
  switch (event) {
    case deFieldChange:
      if (field && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc)) {
        modified_ = true;
      }
      if (field && field->FieldKind() == fkData && state_ != dsSetKey && calc_fields_size_ > 0) {
        GetCalcFields(ActiveBuffer());
      }
      break;
    case deLayoutChange:
      if (ControlsDisabled()) enable_event_ = deLayoutChange;
      break;
    default:
      break;
  }
  if (ControlsDisabled()) return;
  // A source may detach itself from inside its links' callbacks.
  std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) {
    if (std::find(data_sources_.begin(), data_sources_.end(), source) != data_sources_.end()) {
      source->DataEvent(event, field, info);
    }
  }
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ != 0) return;
  if (disable_state_ != state_) DataEvent(deUpdateState);
  if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_);
}

void TDataSet::AttachDataSource(TDataSource* source) { data_sources_.push_back(source); }

void TDataSet::DetachDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
}

// --- Services ---------------------------------------------------------------------------------

bool TDataSet::GetFieldData(TField&, void*) { return false; }

void TDataSet::SetFieldData(TField&, const void*) {}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField&, TBlobStreamMode) { return nullptr; }

bool TDataSet::GetCurrentRecord(char*) { return false; }

}  // namespace platform::dataset
