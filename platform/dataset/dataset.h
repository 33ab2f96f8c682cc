// The dataset framework's data set: a cursor over records with one current record, its
// states, record buffers, bookmarks, navigation, editing and the notifications that data
// sources pass on to data-aware controls (datasource.h).
//
// A descendant supplies the records through the protected hooks below (the "Internal..." and
// buffer operations); TDataSet runs the algorithms on top of them. It keeps one active record
// buffer (the current record as the fields see it) and a spare one it fetches into, so that a
// failed fetch never clobbers the current record; plus a calculation buffer and a temporary
// buffer. A grid keeps its own cache of rows and does not need a window of buffers.
//
// Cursor and current record. The descendant's cursor (a table engine's record pointer) may be
// moved by code the dataset does not see: a read of another row, a lookup, a direct engine
// command. Whatever moves it without the dataset calls CursorPosChanged. Before anything that
// re-reads or writes the current record (Edit, Post of an edit, Delete, Refresh, Cancel) the
// dataset moves the cursor back to the active buffer's record by its bookmark, always, so the
// wrong record is never re-read or overwritten.
//
// Notifications go to the data sources unless controls are disabled (DisableControls); events
// (BeforeScroll, ...) are plain std::function members that run on the caller's thread.
//
// Errors: the framework's own errors throw EDatabaseError with the texts named at each
// operation; exceptions from the hooks pass on unchanged. One GUI thread; nothing here blocks,
// pumps or is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dataset/fields.h"
#include "platform/dataset/stream.h"
#include "platform/dataset/variant.h"

namespace platform::dataset {

class TDataSource;

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsInternalCalc,
};

// How a record fetch moves, and what it found.
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// Where a record buffer stands: on a record, before the first, after the last, or a new
// record not yet posted. Stored in the buffer by the descendant (Get/SetBookmarkFlag).
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

// Resync: rmExact demands the cursor's own record (EDatabaseError "Record not found" when it
// has none); without it the record at the cursor, else the next, else the prior one is taken.
// rmCenter would centre a window of buffers; with one buffer it changes nothing.
enum TResyncModeFlag : unsigned { rmExact = 1, rmCenter = 2 };
using TResyncMode = unsigned;

enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = unsigned;

// What the dataset tells its data sources and data links.
enum TDataEvent {
  deFieldChange,      // a field of the current record was set (the field is given)
  deRecordChange,     // the current record was re-read or reset (no field)
  deDataSetChange,    // the current record may be another one; show everything anew
  deDataSetScroll,    // the dataset moved by a number of records
  deLayoutChange,     // fields or their display properties changed
  deUpdateRecord,     // write pending editor texts into the fields now
  deUpdateState,      // the state changed (active, editing)
  deCheckBrowseMode,  // the dataset is about to leave edit state or move
};

// Component state bits: created by a form designer, being loaded, being read from a form.
enum TComponentStateFlag : unsigned { csDesigning = 1, csLoading = 2, csReading = 4 };

// A bookmark: the descendant's BookmarkSize bytes naming a record; empty means none (nil).
using TBookmark = std::vector<char>;

using TDataSetNotifyEvent = std::function<void(class TDataSet&)>;

// The silent exception: it ends an operation whose failure the user has been told about
// already (a refused lock, for one), so that callers unwind without a second message.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// Shows the message of the exception now being handled in a message box (platform/ui: the
// application's title as caption, OK button, stop icon) and returns; nothing for EAbort. Call
// it only from a catch block.
void ShowException();

// The application's exception handler, for exceptions the caller means to show rather than
// pass on: the handler the program installed (SetApplicationExceptionHandler; the desktop
// programs' application object, platform/qt/application.h), else ShowException. Call it only
// from a catch block.
void ApplicationHandleException();
// Installs `handler` as the application's exception handler (nullptr: ShowException) and
// returns the one installed before. The handler is called from a catch block, may rethrow
// the exception to see it (throw;), and must not let it out.
using TExceptionHandler = void (*)();
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);

class TDataSet {
 public:
  TDataSet();
  // Detaches every data source. A descendant closes the dataset in its own destructor
  // (Close()), catching what its close may throw: from here its hooks can no longer be
  // reached.
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // --- Identity ---
  // The component's name, as messages that name the dataset give it.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // TComponentStateFlag bits.
  unsigned ComponentState() const { return component_state_; }
  void SetComponentState(unsigned state) { component_state_ = state; }

  // --- Opening and closing ---
  bool Active() const { return state_ != dsInactive; }
  // Open: the field definitions, default fields when there are no persistent ones, the
  // buffers, the first record; then browse state. An exception from the hooks closes the
  // cursor again, leaves the dataset inactive and passes on.
  // Close: discards pending edits, frees the buffers and default fields, closes the cursor.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }

  // --- Navigation (each first leaves edit state as CheckBrowseMode does) ---
  // To the first / last record; Bof / Eof then true. On an empty dataset both are true.
  void First();
  void Last();
  // MoveBy(1) / MoveBy(-1).
  void Next();
  void Prior();
  // Moves up to `distance` records (backwards when negative) and returns how many it moved,
  // negative backwards. Running past the last record sets Eof, before the first Bof; at Eof a
  // forward move (at Bof a backward one) moves nothing and sends no notification.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // No current record (and not inserting one).
  bool IsEmpty() const { return record_count_ == 0; }
  // The descendant's answers; -1 when it has none.
  int32_t RecordCount() { return GetRecordCount(); }
  int32_t RecNo() { return GetRecNo(); }
  void SetRecNo(int32_t value) { SetRecNoValue(value); }
  // Searches record by record (FindRecord); true and on the record when one is found.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  // The result of the last search.
  bool Found() const { return found_; }

  // --- Bookmarks ---
  // Browse, edit or insert state, a current record, and its buffer stands on a record.
  bool BookmarkAvailable();
  // The current record's bookmark, or an empty one when none is available.
  TBookmark GetBookmark();
  // Goes to the bookmarked record (leaving edit state first); an empty bookmark does nothing.
  // A bookmark of no record throws EDatabaseError "Record not found" (from Resync).
  void GotoBookmark(const TBookmark& bookmark);
  // Whether the bookmark still names a record (ValidBookmark hook); empty: false.
  bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1; an empty bookmark sorts after every other and equals another empty one.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  size_t BookmarkSize() const { return bookmark_size_; }

  // --- Editing ---
  // Browse -> edit: the record is re-read at the active buffer's bookmark (the cursor goes
  // there first). On an empty dataset Insert instead. Nothing in edit or insert state.
  // A dataset that cannot be modified: EDatabaseError "Cannot modify a read-only dataset".
  void Edit();
  // Browse -> insert of a new record before the current one / after the last one; the
  // OnNewRecord event runs in insert state.
  void Insert();
  void Append();
  // In insert state: the new record was begun by Append (it goes after the last record), not
  // by Insert (before the current one). Eof cannot tell them apart after Last.
  bool Appending();
  // Writes the edited or new record and returns to browse state on it. Outside edit and
  // insert state: EDatabaseError "Dataset not in edit or insert mode". Before an edit is
  // written the cursor goes to the active buffer's record, always.
  virtual void Post();
  // Leaves edit or insert state without writing; nothing in other states.
  virtual void Cancel();
  // Deletes the current record (the cursor goes to it first) and stands on the next one, or
  // the prior one at the end. In insert state it cancels. On an empty dataset: EDatabaseError
  // "Cannot perform this operation on an empty dataset".
  void Delete();
  // Re-reads the current record (the cursor goes to it first).
  void Refresh();
  // Checks that the dataset is open (EDatabaseError "Cannot perform this operation on a closed
  // dataset"); in edit or insert state posts when a field was modified, else cancels.
  void CheckBrowseMode();
  // Asks the data links to write pending editor texts into the fields. Outside the writing
  // states: EDatabaseError "Dataset not in edit or insert mode".
  void UpdateRecord();
  // A field was set since the state last changed.
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }

  // --- Searching ---
  // Goes to the first record whose fields (names separated by ";") hold the values (one value,
  // or an array with one per name); true when found. The framework's own answer is false.
  virtual bool Locate(const std::string& key_fields, const TVariant& key_values,
                      TLocateOptions options);
  // The values of the result fields (one value, or an array for several names) of the record
  // that holds the key values, Null when none does. Leaves the current record, the state and
  // pending edits as they were. The framework's own answer is Null.
  virtual TVariant Lookup(const std::string& key_fields, const TVariant& key_values,
                          const std::string& result_fields);

  // --- Fields ---
  // The columns the descendant offers (filled at open); owned by the dataset.
  TFieldDefs& FieldDefs() { return field_defs_; }
  // The fields, persistent ones in the order added, default ones in definition order; owned by
  // the dataset. Fields(i) throws std::out_of_range for a position it has not.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int i) const { return *fields_.at(i); }
  // The field of that name without regard to case, or nullptr.
  TField* FindField(const std::string& name) const;
  // The same; EDatabaseError "Field '<name>' not found" when there is none.
  TField& FieldByName(const std::string& name) const;
  // The value of one field, or an array of the values of several (names separated by ";").
  TVariant FieldValues(const std::string& names) const;
  // Adds a persistent field, owned by the dataset from now on; only while closed
  // (EDatabaseError "Cannot perform this operation on an open dataset"). Returns it.
  TField& AddField(std::unique_ptr<TField> field);
  // The fields were created from the field definitions at open (no persistent ones).
  bool DefaultFields() const { return default_fields_; }
  // Bytes of the calculated-fields part of a record buffer; blob fields among the fields.
  int CalcFieldsSize() const { return calc_fields_size_; }
  int BlobFieldCount() const { return blob_field_count_; }

  // --- Data-aware controls ---
  // Hold back every notification until the matching EnableControls; that one then sends one
  // state change (when the state differs from the one at DisableControls) and one dataset
  // change (a layout change when the layout changed meanwhile). Calls nest.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }

  // --- Filter flag (no filter is evaluated by the framework) ---
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value) { filtered_ = value; }
  // Record numbers follow the dataset's order (RecNo and RecordCount can place a row).
  virtual bool IsSequenced() { return true; }

  // --- Services the fields and controls use ---
  // The field's native value of the current record (fields.h) into `target` (nullptr: only
  // whether there is one); false for Null. The framework's own answer is false.
  virtual bool GetFieldData(TField& field, void* target);
  // Stores the field's native value (nullptr = Null) into the current record: validates it
  // once and sends the field change. The framework's own does nothing.
  virtual void SetFieldData(TField& field, const void* value);
  // A stream over a blob field of the current record; the caller owns it. The framework's own
  // answer is nullptr (no blobs).
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode);
  // Copies the current record into `buffer` (a record buffer of this dataset); false when
  // there is none. The framework's own answer is false.
  virtual bool GetCurrentRecord(char* buffer);
  // Forget where the cursor stands: the next move first puts it back on the active record.
  // Call it after moving the cursor behind the dataset's back.
  void CursorPosChanged() { current_record_ = -1; }
  // Puts the cursor on the active buffer's record (by its bookmark, always) or, for a new
  // record, where that record goes.
  void UpdateCursorPos();
  // Passes an exception being handled to InternalHandleException; call from a catch block.
  void HandleException() { InternalHandleException(); }

  // --- Events ---
  TDataSetNotifyEvent BeforeScroll;
  TDataSetNotifyEvent AfterScroll;
  TDataSetNotifyEvent AfterCancel;
  TDataSetNotifyEvent OnNewRecord;
  // Computes the calculated fields of the record in CalcBuffer (state dsCalcFields).
  TDataSetNotifyEvent OnCalcFields;

 protected:
  // --- Buffers and state, for descendants ---
  // nullptr while closed.
  char* ActiveBuffer() const { return buffers_[0].get(); }
  char* CalcBuffer() const { return calc_buffer_; }
  char* TempBuffer() const { return temp_buffer_.get(); }
  // Sets the state and tells the data links; clears Modified when it changes.
  void SetState(TDataSetState value);
  // Switches to a state for a moment without telling anyone (and holding back notifications)
  // and returns the old one; RestoreState puts it back. Modified is kept as it was.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  // Reads the cursor's record anew into the active buffer (see TResyncModeFlag); with none,
  // the buffers are cleared. Then the data links see a dataset change.
  void Resync(TResyncMode mode);
  // EDatabaseError "Cannot perform this operation on a closed dataset" / "... on an open
  // dataset".
  void CheckActive() const;
  void CheckInactive() const;
  void DoBeforeScroll();
  void DoAfterScroll();
  // Computes the calculated fields of `buffer` in state dsCalcFields (ClearCalcFields, then
  // OnCalcFields), when there are calculated fields.
  void GetCalcFields(char* buffer);
  // CalcBuffer := buffer, ClearCalcFields and OnCalcFields, in the current state.
  void CalculateFields(char* buffer);
  // No current record: Bof and Eof set, the cursor's place forgotten.
  void ClearBuffers();
  // Passes a notification on (unless controls are disabled) and keeps Modified and the
  // calculated fields up to date for a field change.
  void DataEvent(TDataEvent event, TField* field = nullptr, int info = 0);
  // Default fields from the field definitions (CreateFieldObject per type).
  void CreateFields();
  void DestroyFields();
  // Binding: data fields take their FieldNo from the definitions of their name (EDatabaseError
  // "Field '<name>' not found" / "Type mismatch for field '<name>'"); calculated ones get
  // offsets in the calculated-fields part. CalcFieldsSize and BlobFieldCount are counted here.
  // Unbinding sets every FieldNo to 0.
  void BindFields(bool binding);
  // Frees what fields cached of the record being edited; there is no such cache here.
  void FreeFieldBuffers() {}
  void SetBookmarkSize(size_t size) { bookmark_size_ = size; }
  void SetFound(bool value) { found_ = value; }
  bool InternalOpenComplete() const { return internal_open_complete_; }

  // --- Hooks ---
  // A record buffer and its release; buffers are whole blocks of the descendant's size.
  virtual std::unique_ptr<char[]> AllocRecordBuffer();
  virtual void FreeRecordBuffer(std::unique_ptr<char[]>& buffer) { buffer.reset(); }
  // Blanks a new record buffer for Insert / Append.
  virtual void InternalInitRecord(char* buffer) = 0;
  // Fetches the record at (gmCurrent), after (gmNext) or before (gmPrior) the cursor into
  // `buffer` and moves the cursor there. `check`: report a failure by an exception rather than
  // grError.
  virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool check) = 0;
  // Bytes of the record data of a buffer.
  virtual size_t GetRecordSize() = 0;
  virtual void GetBookmarkData(const char* buffer, char* data) = 0;
  virtual void SetBookmarkData(char* buffer, const char* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  // Clears the calculated-fields part of a buffer.
  virtual void ClearCalcFields(char* buffer) = 0;
  virtual void InternalGotoBookmark(const char* bookmark) = 0;
  // Puts the cursor on the record of `buffer`.
  virtual void InternalSetToRecord(char* buffer) = 0;
  // Cursor before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Fills FieldDefs.
  virtual void InternalInitFieldDefs() = 0;
  // Opens the records (field definitions, fields, buffer layout, cursor before the first
  // record) / closes them.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  // The outer open and close: OpenCursor runs InternalOpen (through the framework's own
  // version), CloseCursor runs InternalClose and frees the buffers. Descendants wrap them.
  virtual void OpenCursor();
  virtual void CloseCursor();
  virtual bool IsCursorOpen() = 0;
  // Writes a whole record (append or insert) from `buffer`.
  virtual void InternalAddRecord(char* buffer, bool append) = 0;
  virtual void InternalDelete() = 0;
  // Writes the active buffer: the edited record in edit state, a new one in insert state.
  virtual void InternalPost() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  // What HandleException does; by default ApplicationHandleException.
  virtual void InternalHandleException();
  // Runs OnNewRecord.
  virtual void DoOnNewRecord();
  virtual bool FindRecord(bool restart, bool go_forward);
  virtual int32_t GetRecordCount() { return -1; }
  virtual int32_t GetRecNo() { return -1; }
  virtual void SetRecNoValue(int32_t) {}
  // The cursor can reach the bookmarked record. The framework's own answer is false.
  virtual bool ValidBookmark(const char* bookmark);
  // -1, 0, 1; nullptr is an empty bookmark.
  virtual int CompareBookmarkData(const char* a, const char* b);
  // A new unbound field of the class for `type`: the framework's own (CreateFrameworkField)
  // unless a descendant chooses others. nullptr: the type has no field class.
  virtual std::unique_ptr<TField> CreateFieldObject(TFieldType type);
  virtual bool GetCanModify() { return true; }

 private:
  friend class TDataSource;
  friend class TFieldDefs;
  friend class TField;

  void DoInternalOpen();
  void SetCurrentRecord();
  bool GetNextRecord();
  bool GetPriorRecord();
  // The record after (gmNext) or before (gmPrior) the cursor becomes the active one.
  bool FetchAround(TGetMode mode);
  void ActivateBuffers();
  void SwapBuffers() { buffers_[0].swap(buffers_[1]); }
  void BeginInsertAppend();
  void EndInsertAppend();
  void AllocateBuffers();
  void FreeBuffers();
  void AttachDataSource(TDataSource* source);
  void DetachDataSource(TDataSource* source);

  std::string name_;
  unsigned component_state_ = 0;
  TDataSetState state_ = dsInactive;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool default_fields_ = false;
  int calc_fields_size_ = 0;
  int blob_field_count_ = 0;
  size_t bookmark_size_ = 0;

  // buffers_[0] is the active record, buffers_[1] the spare one fetches go into.
  std::unique_ptr<char[]> buffers_[2];
  std::unique_ptr<char[]> calc_storage_;
  std::unique_ptr<char[]> temp_buffer_;
  char* calc_buffer_ = nullptr;
  int record_count_ = 0;     // 0 or 1: is there a current record
  int current_record_ = -1;  // 0: the cursor stands on the active record; -1: unknown
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool filtered_ = false;
  bool internal_open_complete_ = false;

  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  std::vector<TDataSource*> data_sources_;
};

}  // namespace platform::dataset
