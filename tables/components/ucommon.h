// The unit shared by the table components: field definition lines and the tables created from
// them, the descriptor list of an open table (TDbfFieldProps with its TDTField entries), the
// copies between the engine's field value record and a dataset record buffer, and the library's
// date and number settings taken from the user's locale.
//
// The dataset record buffer (what a dataset keeps per record) is the deleted-mark byte (1 =
// deleted) and then one slot per field with a name, in table order:
//   C  length + 1 bytes, a length byte and the text;
//   D  8 bytes, a date-time value (days since 1899-12-30, as TDateTime); 0 = blank;
//   F, N with decimals: 8 bytes, a double;
//   F, N without decimals: 4 bytes, a signed 32-bit integer, or 8 bytes, a signed 64-bit integer
//      when the field is 10 or more long (such numbers do not fit in 32 bits);
//   L  2 bytes, the first the engine's logical byte;
//   M  4 bytes, the engine's memo block number.
// Slots are unaligned: copy values with memcpy.
//
// TTzDataSet binds the primary dataset (tzprimds.h) to one work area of the table engine, and
// the field classes TTzDateField, TTzFloatField and TTzIntegerField are the ones it creates.
//
// Messages of this unit go to platform::ShowMessage after their text is converted from OEM to
// ANSI. Nothing here blocks or pumps, except that a message may pump while it is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/fields.h"
#include "tables/components/tzprimds.h"

namespace tz {

// --- Field definition lines ---------------------------------------------------------------
// A line "name, type, len, dec" describes one table field; blanks around the items are
// optional. The lines of the programs' own forms look like "hersteller, C, 20, 0".

// One line's items. Length and decimals are kept as read (StrToIntSigned, -32768..32767), so
// that the corrections see the value the line gives and not its low 8 bits. Type is the first
// character of the type item, '\0' when that item is empty.
struct TFieldDefinition {
  std::string Name;  // trimmed, cut to 10 characters, in the case given
  char Type = '\0';
  int Length = 0;
  int Decimals = 0;

  bool operator==(const TFieldDefinition&) const = default;
};

// Reads one line into `def`. False, and `def` untouched, unless the line holds exactly three
// commas. The fourth item is everything after the third comma (up to 255 characters).
bool ParseFieldDefinition(std::string_view line, TFieldDefinition& def);

// The corrected definition. The rules run in this order, each on the values the rules before
// it left:
//   1. B, G and P are M.
//   2. Any other type that is none of C, D, F, L, M, N (lower case and an empty item included)
//      is C.
//   3. A length or decimals outside 0..255 (what the table header can hold) is brought to the
//      nearer end; a C, F or N field gets a length of at least 1.
//   4. N longer than 20 is 20 long.
//   5. N decimals above 18 are 18.
//   6. N decimals other than 0 are at most length - 2, and at least 0.
//   7. C longer than 254 is 254 long with 0 decimals.
// A type X is left as it is (the line makes no field).
TFieldDefinition CorrectFieldDefinition(const TFieldDefinition& line);

// "Invalid field definition for <component>: <line's name,type,len,dec>. Will use corrected
// definition: <name,corrected type,len,dec>".
std::string FieldCorrectionText(const std::string& component, const TFieldDefinition& line,
                                const TFieldDefinition& corrected);

// CorrectFieldDefinition, and when anything changed the correction text is shown (ShowUnitMessage).
TFieldDefinition CheckFieldDefinition(const std::string& component, const TFieldDefinition& line);

// Shows a message of this unit: `text` converted from OEM to ANSI, with platform::ShowMessage.
void ShowUnitMessage(const std::string& text);

// Creates the missing table file `path` from definition lines, as a dataset does:
//   - no list (nullptr): the message "DbfFieldList is Nil trying to create a database", false;
//   - no lines: "FieldList.Count is <= 0 trying to create a database", false;
//   - a line without exactly three commas ends the walk: false, no message of its own;
//   - every other line is read and checked (CheckFieldDefinition, messages naming
//     `component`); X lines make no field; with `memo_as_number` an M line becomes N 10,0;
//   - CreateMissingDBF (tables/engine/tzdbflow.h) runs with error reporting off and the
//     reporting switched back afterwards; the result is DbLastError == 0. A table of that name
//     that another program made first stays as it is (and counts as created).
// Never throws for a failed creation (its error stays in DbLastError); nothing is left open.
bool CreateTableFromFieldLines(const std::string& component, const std::string& path,
                               const std::vector<std::string>* lines, bool memo_as_number);

// The line a table field gives back in design mode: "name, T, len, dec" with the name lower
// case and cut to 10 characters.
std::string FieldDefinitionLine(const TFieldDefinition& def);

// --- The descriptor list of an open table -------------------------------------------------

// One field of the open table, in table order.
struct TDTField {
  std::string Name;
  char Type = 'C';
  uint16_t Length = 0;
  uint16_t Decimals = 0;
  // The field's slot in the engine's field value record, counted from its first byte (the
  // deleted mark).
  size_t Offset = 0;
};

// The fields of the table open in the selected work area and the record buffer they live in.
// At run time the buffer is the work area's own field value record (not copied, size 0); in
// design mode it is a copy of it that the list owns. Field numbers are 1-based; field 0 of
// FieldAddress is the deleted mark. Copying is deleted: the list may own its buffer.
class TDbfFieldProps {
 public:
  // Builds the list from the selected work area; an empty list when no table is open there.
  explicit TDbfFieldProps(bool copy_buffer);
  TDbfFieldProps(const TDbfFieldProps&) = delete;
  TDbfFieldProps& operator=(const TDbfFieldProps&) = delete;

  int Count() const { return static_cast<int>(fields_.size()); }
  const TDTField& Field(int n) const { return fields_.at(static_cast<size_t>(n - 1)); }
  const std::string& Name(int n) const { return Field(n).Name; }
  char Type(int n) const { return Field(n).Type; }
  uint16_t Length(int n) const { return Field(n).Length; }
  uint16_t Decimals(int n) const { return Field(n).Decimals; }
  size_t Offset(int n) const { return Field(n).Offset; }
  // 0 at run time, else the size of the owned copy.
  size_t BufferSize() const { return copy_.size(); }
  char* Buffer() const { return buffer_; }
  // The address of field n's slot in the buffer (0: the deleted mark); nullptr without one.
  char* FieldAddress(int n) const;
  const std::vector<TDTField>& Fields() const { return fields_; }

 private:
  std::vector<TDTField> fields_;
  mutable std::vector<char> copy_;
  char* buffer_ = nullptr;
};

// --- The dataset record buffer ------------------------------------------------------------

// A table field's slot size in the dataset record buffer (layout at the top); 0 for a field
// that has no slot (no name, or a type the engine gives none).
size_t DatasetSlotSize(const TDTField& field);
// The field has a slot in the dataset record buffer.
bool HasDatasetSlot(const TDTField& field);
// A number field whose dataset slot is a 64-bit integer.
bool IsWideInteger(const TDTField& field);

// The engine's field value record `values` to the dataset record buffer `buffer`: the deleted
// mark, C texts as they are, D dates as date-time values made from the day, month and year of
// the engine's date text (0 for a blank or invalid date), numbers with decimals rounded to the
// field's decimals, the rest copied. `buffer` has room for the record size of `props`.
void CopyRecordFromEngine(const TDbfFieldProps& props, const char* values, char* buffer);
// The dataset record buffer to the field value record: every field (field -1) or only field
// `field` (1-based table position; the deleted mark is copied either way). A D value becomes
// the engine's date text of that day (0 the blank date text); a value that is no date of the
// years 1..9999 stores the blank date text after the message "        Invalid date       ".
void CopyRecordToEngine(const TDbfFieldProps& props, const char* buffer, char* values,
                        int field = -1);
// 1 + the slot sizes of every field.
size_t DatasetRecordSize(const TDbfFieldProps& props);
// Each table field's offset in the dataset record buffer (0 for one without a slot).
std::vector<size_t> DatasetFieldOffsets(const TDbfFieldProps& props);

// --- Date-time values ---------------------------------------------------------------------
// Days since 1899-12-30 with the time as the fraction, as the dataset framework counts them.

double EncodeDateValue(int year, int month, int day);
// False (and nothing set) for a value outside the years 1..9999.
bool DecodeDateValue(double value, int& year, int& month, int& day);

// --- The unit start -----------------------------------------------------------------------

// The user's date and number formats, as the unit start needs them.
struct TLocaleFormats {
  std::string ShortDateFormat;  // "dd.MM.yyyy", "M/d/yyyy", ...
  char DateSeparator = '/';
  char DecimalSeparator = '.';
  char ThousandsSeparator = ',';
};

// The user's formats: those of the dataset framework's process-wide FormatSettings
// (platform/dataset/convert.h), which it takes from the user's language, so that the engine and
// the framework's date texts agree.
TLocaleFormats UserLocaleFormats();
// The date format number of a short date format: 3 for d... with "-", 5 for d... with ".",
// 2 for other d..., 1 for y..., 0 for anything else.
uint8_t DateFormatOf(const TLocaleFormats& formats);
// Sets the engine's separators, DbCentury (the format holds "YYYY" in upper case) and the date
// format (SetDateFormat) from `formats`.
void ApplyLocaleFormats(const TLocaleFormats& formats);
// The unit start: ApplyLocaleFormats(UserLocaleFormats()). A program runs it once after
// StartTarazed.
void StartUCommon();

// --- Field classes ------------------------------------------------------------------------

// A date field whose text is the framework's (the user's short date format, of any length),
// cut to 10 characters only when the cut text is still the same date to the engine; and whose
// text input is read as the engine reads its date texts: right-trimmed and cut to 10; the blank
// date text (or nothing) sets Null; a text the engine does not read as a date goes to the
// framework's StrToDate (EConvertError when that fails too). A text whose digits go on past the
// 10th character is read whole with the framework's reader first, and cut only when that fails.
class TTzDateField : public platform::dataset::TDateField {
 public:
  void SetText(const std::string& text) override;

 protected:
  std::string GetText(bool display_text) override;
};

// A float field that takes a Size of 0 to 20: the table field's length.
class TTzFloatField : public platform::dataset::TFloatField {
 protected:
  void CheckSize(int size) override;
};

// An integer field that takes a Size of 0 to 20: the table field's length. From a length of 10
// on the field holds 64-bit values (its native value is an int64_t, DataSize 8): AsString,
// AsFloat, Value and the setters carry the whole number; AsInteger saturates at the 32-bit
// range, and Value is a float when the number does not fit 32 bits. Texts that are no integer
// throw EDatabaseError "'<text>' is not a valid integer value for field '<name>'". A TTzDataSet
// gives a persistent one the length of its table field when it opens (InternalOpen), so that
// the field is wide exactly when its slot is.
class TTzIntegerField : public platform::dataset::TIntegerField {
 public:
  int DataSize() const override { return Wide() ? 8 : 4; }
  bool Wide() const { return Size() >= 10; }
  int64_t AsLargeInt();
  void SetAsLargeInt(int64_t value);
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  platform::dataset::TVariant Value() override;

 protected:
  void CheckSize(int size) override;
};

// --- The engine-bound dataset -------------------------------------------------------------

// The dataset is in one of the states that write fields: edit, insert or set-key.
bool Editing(platform::dataset::TDataSetState state);

// How a table stores its texts: in the OEM code page (850) or in ANSI (1252).
enum TTableLanguage { tlOem, tlAnsi };

// The dataset over one work area of the table engine. It implements the 25 Tzi operations on
// engine commands, keeps the descriptor list of the open table, and maps table fields onto the
// framework's fields:
//   C -> string (Size = length), D -> date, F/N with decimals -> float (Size = length),
//   F/N without -> integer (Size = length; 64-bit from length 10), L -> Boolean,
//   M -> memo (integer when KeepOpenOnRename).
// The file itself is opened and written by a descendant (OpenDbfTable and the ...WithLock
// writes; TTzFileDataSet). Every operation first selects the dataset's work area
// (SelectWorkArea); when the dataset has none, library error 1103 is reported and the
// operation goes no further: it never acts on another table that happens to be selected, and
// the program goes on (the halt of the library's default reporting ends it anyway).
// Library errors are reported as the library's switches say (tzcommon.h); in design mode the
// library raises ETarazedError. A concrete descendant calls Close() in its destructor.
class TTzDataSet : public TTzPrimDataset {
 public:
  // `designing`: created by a form designer (component state csDesigning). Then the library
  // raises ETarazedError instead of halting, and the table is opened only to read its fields.
  explicit TTzDataSet(bool designing = false);
  ~TTzDataSet() override;

  // --- Properties (published by TTzCDataSet) ---
  const std::string& DbfFileName() const { return dbf_file_name_; }
  // Stores the name as given; TTzCDataSet trims it and adds the default extension.
  virtual void SetDbfFileName(const std::string& name) { dbf_file_name_ = name; }
  bool HideDeletedRecs() const { return hide_deleted_recs_; }
  // Stores the setting for the next open; TTzCDataSet also applies it to an open table.
  virtual void SetHideDeletedRecs(bool value) { hide_deleted_recs_ = value; }
  TTableLanguage TableLanguage() const { return table_language_; }
  void SetTableLanguage(TTableLanguage value) { table_language_ = value; }
  bool ShowProgress() const { return show_progress_; }
  void SetShowProgress(bool value) { show_progress_ = value; }
  // The field definition lines a missing table is created from (and, in design mode, the
  // lines read back from the table at open).
  std::vector<std::string>& DbfFields() { return dbf_fields_; }
  platform::dataset::TDataSetNotifyEvent BeforeRestore;
  platform::dataset::TDataSetNotifyEvent AfterRestore;

  // --- State ---
  // The work area of the open table; 0 while closed.
  uint8_t WorkArea() const { return work_area_; }
  bool Designing() const { return design_mode_; }
  // The descriptor list of the open table; nullptr while closed.
  const TDbfFieldProps* FieldProps() const { return props_.get(); }

  // --- Public routines ---
  // GO to `record_number` when it is a record of the table (GoChecked): both cursor flags
  // cleared; otherwise the cursor goes after the last record (TziSetToEnd). Returns 0, or the
  // error code when the work area cannot be selected.
  int32_t SafeGo(int32_t record_number);
  // Opens (true) or closes the table file in the work area, for a dataset without a bound
  // table (design mode). Not active: library error 1103 "DataSet must be active. " + name.
  void DirectOpenClose(bool open);
  // Not in design mode and the active record's deleted mark is set.
  bool IsDeleted();
  // Deletes (true: the framework's Delete, unless empty) or restores (false) the current
  // record; nothing when it already is so. A restore fires BeforeRestore and AfterRestore
  // around RestoreWithLock, and cancels an insert instead.
  void SetDeleted(bool value);
  // After a direct engine command (unless it left an error): leaves edit state without
  // writing, re-reads the cursor's record, or clears the buffers when the table is empty, and
  // sends the after-scroll notification.
  void SyncDataSet();
  // Edit unless editing already, then the whole active record into the field value record.
  void PutActiveRecord();
  // Creates the file DbfFileName from DbfFields (CreateTableFromFieldLines, with M fields as
  // numbers when KeepOpenOnRename); true when it was created.
  bool CreateTableFromDbfFields();
  // The framework's Post, only in edit, insert or set-key state; when the table is empty
  // afterwards, the buffers are resynchronised. A post whose write fails (a full disk, a file
  // error; not a text a field refuses, nor a refused lock, whose EAbort keeps the edit for a
  // retry) leaves the record unwritten and is cancelled before its error goes on to the
  // caller: the dataset is in browse state on the record as stored, and nothing of the failed
  // values is left to be written by a later move.
  void Post() override;

  // --- Overrides of the primary dataset ---
  // The library's pending error message (GetErrorMessage), or the code's number when none is
  // pending.
  std::string ErrorCodeText(int32_t code) override;
  // False in design mode; otherwise whether the engine is at BOF and at EOF at once.
  bool IsEmptyData() override;

 protected:
  // --- Virtual operations, in slot order ---
  // Selects the work area (when another is selected) and sets the engine's ANSI switch from
  // TableLanguage. True when the caller may go on. No work area yet: library error 1103
  // "Database is not open [" + name + "." + operation + "]", false.
  virtual bool SelectWorkArea(const std::string& operation);
  virtual void DoBeforeRestore();
  virtual void DoAfterRestore();
  // In insert state the whole active buffer into the field value record; otherwise the
  // cursor goes to the active record.
  virtual void SyncRecordToEngine();
  // Memo fields show as integers (their block numbers); here false.
  virtual bool KeepOpenOnRename() { return false; }
  // Called after every direct write of the table component operations; nothing here.
  virtual void NotifyDirectChange() {}
  // Called when the table is closed; nothing here.
  virtual void ResetOnClose() {}
  // Opens the table file with a USE text in the selected work area; true on success.
  virtual bool OpenDbfTable(const std::string& use_text) = 0;
  // The writes under their locks (TTzFileDataSet): append the field value record, delete,
  // recall or replace the current record.
  virtual void AppendWithLock() = 0;
  virtual void DeleteWithLock() = 0;
  virtual void RestoreWithLock() = 0;
  virtual void ReplaceWithLock() = 0;
  // A table is bound to the dataset: not in design mode.
  virtual bool HasDbf() { return !design_mode_; }

  // --- The 25 primary operations ---
  int32_t TziSetToBegin() override;
  int32_t TziSetToEnd() override;
  int32_t TziOpen() override;
  int32_t TziClose() override;
  int32_t TziGetRecordCount() override;
  int32_t TziForceReread() override;
  int32_t TziAppendRecord(char* buffer) override;
  int32_t TziInsertRecord(char* buffer) override;
  int32_t TziDeleteRecord() override;
  int32_t TziInitRecord(char* buffer) override;
  int32_t TziUpdateRecord(char* buffer, int32_t flag) override;
  size_t TziGetRecordSize() override;
  uint8_t TziGetKind() override { return kTziTableKind; }
  int32_t TziGetRecord(char* buffer, int32_t& record_number) override;
  int32_t TziGetNextRecord(char* buffer, int32_t& record_number) override;
  int32_t TziGetPriorRecord(char* buffer, int32_t& record_number) override;
  int32_t TziGetFieldData(TField& field, char* buffer, bool& blank, void* target) override;
  int32_t TziSetFieldData(TField& field, char* buffer, const void* value) override;
  int32_t TziSetToRecNo(int32_t record_number) override;
  bool TziLocate(const std::string& key_fields, const TVariant& key_values,
                 TLocateOptions options) override;
  void TziLookup(const std::string& key_fields, const TVariant& key_values,
                 const std::string& result_fields, TVariant& result) override;
  size_t TziGetBookmarkSize() override { return 4; }
  int32_t TziGotoBookmark(const char* bookmark) override;
  int32_t TziSetToBookmark(char* bookmark) override;
  int32_t TziCompareBookmarks(const char* a, const char* b, int& result) override;

  // --- Overrides of the framework ---
  void InternalCancel() override;
  // The primary dataset's post; a write that fails marks the post for cancelling (Post).
  void InternalPost() override;
  platform::dataset::TGetResult GetRecord(char* buffer, platform::dataset::TGetMode mode,
                                          bool check) override;
  void InternalInitFieldDefs() override;
  // The primary dataset's open; then every persistent TTzIntegerField and TTzFloatField takes
  // the size of its field definition (the table field's length, at most 20), as a default field
  // is made with it: the size decides the width of an integer field's value, which must be the
  // width of its slot in the record buffer, and the width of its FieldGet text.
  void InternalOpen() override;
  std::unique_ptr<TField> CreateFieldObject(platform::dataset::TFieldType type) override;

  // The engine's field value record the copies go to and come from (the design-mode copy in
  // design mode); nullptr while closed.
  char* EngineBuffer() const { return props_ ? props_->Buffer() : nullptr; }
  // The table is empty: "s_IsEmptyDbf" selected, engine BOF and EOF.
  bool IsEmptyDbf();
  // After a write that failed: the engine's field value record and its stored record are read
  // again from the file, or blanked when the engine stands on no stored record, so that no
  // later write takes the failed values. The failed write's error stays as it was (DbLastError
  // and its text); nothing is reported or raised here.
  void ForgetFailedWrite();
  // Runs one of the lock-guarded writes; when it throws (the exception passes on) or leaves an
  // error, ForgetFailedWrite.
  void WriteOrForget(void (TTzDataSet::*write)());
  void CopyRecordFromEngine(char* buffer);
  void CopyRecordToEngine(const char* buffer, int field = -1);

 private:
  void RefillDbfFields();
  // The result code of an operation: the library's last error (0 = success).
  static int32_t ErrorCode();

  uint8_t work_area_ = 0;
  size_t record_size_ = 0;
  bool design_mode_ = false;
  uint8_t bof_flag_ = 0;
  uint8_t eof_flag_ = 0;
  std::unique_ptr<TDbfFieldProps> props_;
  std::vector<std::string> dbf_fields_;
  // Each table field's offset in the dataset record buffer (0: no slot).
  std::vector<size_t> field_offsets_;
  bool show_progress_ = true;
  std::string dbf_file_name_;
  bool hide_deleted_recs_ = false;
  TTableLanguage table_language_ = tlOem;
  // The write of the post in progress failed.
  bool post_write_failed_ = false;
};

}  // namespace tz
