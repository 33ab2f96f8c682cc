// TTzPrimDataset, the bottom of the table component classes: it takes over the dataset
// framework's obligations (record buffers, bookmarks, navigation, field data; dataset.h) and
// reduces them to 25 primary operations, the Tzi operations, which a descendant implements
// (TTzDataSet does it on the table engine). Nothing in it knows about tables.
//
// Record buffer, one block per framework buffer, zero-filled, laid out at open:
//   record data        TziGetRecordSize bytes, owned by the descendant
//   calculated fields  CalcFieldsSize bytes: per calculated field a presence byte and the value
//   blob area          4 bytes per blob field, reserved
//   record info        6 bytes: 0-3 the record's number (int32), 4 reserved, 5 the bookmark flag
//   bookmark           TziGetBookmarkSize bytes (4: the record number), by TziSetToBookmark
// Sizes and offsets are size_t: a wide table (255 fields of 255 bytes) gets its whole buffer.
//
// Result codes: 0 success; 1401 open failed without a code of its own; 1402 before the first
// record; 1403 after the last record; 1404 no table file name; others are the descendant's
// (the library's error codes). Every Tzi result goes through TziCheck, which turns a failure
// into an exception, except where an operation below says otherwise.
//
// The cursor: before Edit re-reads the record, before Post writes an edit and before Delete,
// the framework puts the cursor on the active buffer's record with TziGotoBookmark, always
// (dataset.h); a descendant may move its cursor freely in between.
//
// A concrete descendant closes the dataset in its destructor (Close(), catching what TziClose
// may throw through TziCheck): the destructors here can no longer reach its Tzi operations. One GUI thread; nothing here blocks or pumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dataset/dataset.h"

namespace tz {

using platform::dataset::TBookmarkFlag;
using platform::dataset::TDataSetState;
using platform::dataset::TField;
using platform::dataset::TGetMode;
using platform::dataset::TGetResult;
using platform::dataset::TLocateOptions;
using platform::dataset::TVariant;

// The primary operations' own result codes.
inline constexpr int32_t kTziOpenFailed = 1401;
inline constexpr int32_t kTziBof = 1402;
inline constexpr int32_t kTziEof = 1403;
inline constexpr int32_t kTziNoFileName = 1404;

// The kind TziGetKind answers for a table dataset.
inline constexpr uint8_t kTziTableKind = 2;

class TTzPrimDataset : public platform::dataset::TDataSet {
 public:
  TTzPrimDataset();
  ~TTzPrimDataset() override;

  // 0 does nothing. Any other code throws std::runtime_error (a plain exception) whose
  // message is "Dataset error: " and the number for 1401, 1402 and 1403; "Missing DbfFilename
  // property" for 1404; otherwise "Dataset error: " followed by ErrorCodeText(code).
  void TziCheck(int32_t code);
  // The text of a code in TziCheck's message: here its decimal number.
  virtual std::string ErrorCodeText(int32_t code);
  // Whether the dataset holds no record: here the framework's IsEmpty.
  virtual bool IsEmptyData();

  // --- Framework operations this class answers ---
  // Dataset must be active (EDatabaseError otherwise). TziGetRecordCount's count, unchecked.
  int32_t GetRecordCount() override;
  // Dataset must be active. The record number in the record info of the calculation buffer
  // in calc-fields state, else of the active buffer.
  int32_t GetRecNo() override;
  // Reads / writes field data by the rules of the state (see the .cpp); writes outside the
  // writing states throw EDatabaseError "Dataset not in edit or insert mode", to a read-only
  // field "Field '<display name>' cannot be modified". A put validates the value once.
  bool GetFieldData(TField& field, void* target) override;
  void SetFieldData(TField& field, const void* value) override;
  // False when empty or the active record is not a stored one; else the cursor goes to the
  // active record and the answer is whether TziGetRecord into `buffer` succeeds.
  bool GetCurrentRecord(char* buffer) override;
  // True unless filtered.
  bool IsSequenced() override;
  // Leaves edit state (CheckBrowseMode), then the before-scroll notification and TziLocate;
  // found: the cursor's record becomes the current one and the after-scroll notification
  // follows; not found: the dataset stays where it was.
  bool Locate(const std::string& key_fields, const TVariant& key_values,
              TLocateOptions options) override;
  // TziLookup. The dataset's state, Modified, and the active buffer with any pending edits
  // stay as they were (TziLookup reads through ReadValuesFromBuffer and leaves the active
  // buffer alone); the cursor goes back to the active record at the next move.
  TVariant Lookup(const std::string& key_fields, const TVariant& key_values,
                  const std::string& result_fields) override;

  // --- Layout, valid while open ---
  bool IsOpen() const { return open_flag_ != 0; }
  // TziGetKind was 2 at open.
  bool IsTableKind() const { return kind_flag_ != 0; }
  size_t RecordDataSize() const { return record_data_size_; }
  size_t CalcFieldsStart() const { return calc_fields_start_; }
  size_t BlobAreaStart() const { return blob_area_start_; }
  size_t RecordInfoStart() const { return record_info_start_; }
  size_t BookmarkStart() const { return bookmark_start_; }
  size_t TotalBufferSize() const { return total_buffer_size_; }
  // The record number in a buffer's record info.
  int32_t RecordNumberOf(const char* buffer) const;

 protected:
  // --- The 25 primary operations (slot order). Codes: 0 = success. ---
  // 1: the cursor before the first record; 2: after the last.
  virtual int32_t TziSetToBegin() = 0;
  virtual int32_t TziSetToEnd() = 0;
  // 3, 4: open and close the records (open runs before anything else, close only while open).
  virtual int32_t TziOpen() = 0;
  virtual int32_t TziClose() = 0;
  // 5: the number of records (not a code; never checked).
  virtual int32_t TziGetRecordCount() = 0;
  // 6: re-read the record at the cursor.
  virtual int32_t TziForceReread() = 0;
  // 7, 8: write the record data of `buffer` as a new record; the cursor stands on it after.
  virtual int32_t TziAppendRecord(char* buffer) = 0;
  virtual int32_t TziInsertRecord(char* buffer) = 0;
  // 9: delete the record at the cursor (the framework has put the cursor on the active
  // record).
  virtual int32_t TziDeleteRecord() = 0;
  // 10: blank the record data of a new buffer (the whole buffer is zeroed before); its code is
  // never checked.
  virtual int32_t TziInitRecord(char* buffer) = 0;
  // 11: write the record data of `buffer` over the record at the cursor (the framework has put
  // the cursor on the buffer's record); `flag` is 1 for a post.
  virtual int32_t TziUpdateRecord(char* buffer, int32_t flag) = 0;
  // 12: bytes of the record data.
  virtual size_t TziGetRecordSize() = 0;
  // 13: 2 for a table dataset.
  virtual uint8_t TziGetKind() = 0;
  // 14, 15, 16: the record at / after / before the cursor: its data into `buffer` (nullptr:
  // only move and check) and its number into `record_number`; the cursor moves there. 1402
  // before the first record, 1403 after the last.
  virtual int32_t TziGetRecord(char* buffer, int32_t& record_number) = 0;
  virtual int32_t TziGetNextRecord(char* buffer, int32_t& record_number) = 0;
  virtual int32_t TziGetPriorRecord(char* buffer, int32_t& record_number) = 0;
  // 17: the field's native value (fields.h) from the record data of `buffer` into `target`
  // (nullptr: only whether there is one); `blank` := the field has no value.
  virtual int32_t TziGetFieldData(TField& field, char* buffer, bool& blank, void* target) = 0;
  // 18: stores the field's native value (nullptr: none) into the record data of `buffer`.
  // The framework has validated the value already; this must not validate it again.
  virtual int32_t TziSetFieldData(TField& field, char* buffer, const void* value) = 0;
  // 19: the cursor to that record number. A number of no record fails (non-zero) and leaves
  // the cursor where it was; the dataset then stays where it was too.
  virtual int32_t TziSetToRecNo(int32_t record_number) = 0;
  // 20: the cursor to the first record with the key values; true when found. Not found: the
  // cursor may stand anywhere (the dataset forgets its place).
  virtual bool TziLocate(const std::string& key_fields, const TVariant& key_values,
                         TLocateOptions options) = 0;
  // 21: `result` := the result fields' values of the record with the key values, Null when
  // none has them. Reads that record into TempBuffer and its values with
  // ReadValuesFromBuffer; must leave the active buffer alone. The state is put back by Lookup.
  virtual void TziLookup(const std::string& key_fields, const TVariant& key_values,
                         const std::string& result_fields, TVariant& result) = 0;
  // 22: bytes of a bookmark (4).
  virtual size_t TziGetBookmarkSize() = 0;
  // 23: the cursor to the bookmarked record.
  virtual int32_t TziGotoBookmark(const char* bookmark) = 0;
  // 24: fills `bookmark` with the cursor's record.
  virtual int32_t TziSetToBookmark(char* bookmark) = 0;
  // 25: `result` := -1, 0 or 1 as bookmark a sorts before, with or after b.
  virtual int32_t TziCompareBookmarks(const char* a, const char* b, int& result) = 0;

  // For TziLookup: the values of `result_fields` (one value, or an array) as the record data of
  // `buffer` holds them, its calculated fields computed, read in calc-fields state; the state
  // is put back to what it was, whatever the reads throw.
  TVariant ReadValuesFromBuffer(char* buffer, const std::string& result_fields);

  // --- Framework obligations (dataset.h); each ends in the Tzi operation named ---
  std::unique_ptr<char[]> AllocRecordBuffer() override;  // zero-filled, TotalBufferSize
  void InternalInitRecord(char* buffer) override;        // zero, TziInitRecord unchecked
  TGetResult GetRecord(char* buffer, TGetMode mode, bool check) override;
  size_t GetRecordSize() override { return record_data_size_; }
  void GetBookmarkData(const char* buffer, char* data) override;
  void SetBookmarkData(char* buffer, const char* data) override;
  TBookmarkFlag GetBookmarkFlag(const char* buffer) override;
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
  void ClearCalcFields(char* buffer) override;
  void InternalGotoBookmark(const char* bookmark) override;  // TziGotoBookmark
  void InternalSetToRecord(char* buffer) override;           // TziGotoBookmark of the buffer
  void InternalFirst() override;                             // TziSetToBegin
  void InternalLast() override;                              // TziSetToEnd
  void InternalOpen() override;
  void InternalClose() override;
  void OpenCursor() override;   // TziOpen, open flag, then the framework's
  void CloseCursor() override;  // the framework's, then TziClose while open
  bool IsCursorOpen() override { return IsOpen(); }
  void InternalAddRecord(char* buffer, bool append) override;  // TziAppend/InsertRecord
  void InternalDelete() override;                              // TziDeleteRecord
  void InternalPost() override;  // edit: TziUpdateRecord(active, 1); insert: TziInsertRecord
  void InternalEdit() override;  // TziGetRecord into the active buffer
  void InternalRefresh() override;  // TziForceReread
  void InternalHandleException() override;
  void DoOnNewRecord() override;
  bool FindRecord(bool restart, bool go_forward) override;
  void SetRecNoValue(int32_t value) override;
  bool ValidBookmark(const char* bookmark) override;
  int CompareBookmarkData(const char* a, const char* b) override;

 private:
  char* RecordBufferForState();
  void SetRecordNumber(char* buffer, int32_t number);

  size_t record_data_size_ = 0;
  size_t calc_fields_start_ = 0;
  size_t blob_area_start_ = 0;
  size_t record_info_start_ = 0;
  size_t bookmark_start_ = 0;
  size_t total_buffer_size_ = 0;
  uint8_t open_flag_ = 0;
  uint8_t kind_flag_ = 0;
};

}  // namespace tz
