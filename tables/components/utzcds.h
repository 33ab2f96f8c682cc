// TTzCDataSet, the table class whose commands the programs' forms call directly. The commands
// address fields by name, put values straight into the engine's field value record through the
// dataset's own write path, write them with the engine's Append or Replace, and then bring the
// dataset back in step with where the engine stands (SyncDataSet). They bypass the framework's
// edit/post cycle. Beside them: navigation, the table's locks, seeks in the current index order
// and the choice of that order.
//
// The pattern the programs use: set DbfFileName and Active; SetOrderToTag and FindExact to find
// a row; FieldGet, FieldGetInt, FieldGetBool to read; to write, ALock (a new row) or RLock (the
// current row), the puts, AppendRec / ReplaceRec / DeleteRec, and UnLock.
//
// Field names are cut to 10 characters and found without regard to case; a name the table does
// not have throws the framework's EDatabaseError "Field '<name>' not found". Tag names are cut
// to 10 characters, seek keys to 100. Every command that talks to the engine first selects the
// dataset's work area under its own operation name; on a closed dataset that reports library
// error 1103 "Database is not open [<component>.<operation>]" and the command goes no further.
// Engine errors are reported as the library's switches say (tzcommon.h); after one, the
// dataset is left as it was, except that a failed write leaves edit state (AppendRec). One
// GUI thread; nothing here blocks or pumps, except what a reported error shows.
#pragma once

#include <cstdint>
#include <string>

#include "tables/components/ucommon.h"

namespace tz {

class TTzCDataSet : public TTzDataSet {
 public:
  explicit TTzCDataSet(bool designing = false);

  // --- Properties ---
  // Stored trimmed at both ends; a name without an extension that does not end in a point gets
  // ".DBF". The dataset is closed first and, when the name is not empty, put back into the
  // state it had (while the form is being read, neither happens). An empty name leaves it
  // closed.
  void SetDbfFileName(const std::string& name) override;
  // Stored; on an open dataset (not in design mode) the engine hides or shows deleted records at
  // once, and the dataset moves to a visible record when its own is hidden now.
  void SetHideDeletedRecs(bool value) override;
  // A read-only dataset answers the framework's can-modify query with false: the framework
  // refuses to edit it, and the lock-guarded writes of TTzFileDataSet do nothing.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }

  // --- Fields of the current record ---
  // The field's value as fixed-width text: N and F right-aligned with blanks to the field's
  // length (a longer text whole); L "T" or "F"; D the date's text (TTzDateField) however long
  // the user's date format makes it, and the engine's blank date text for an empty date; M the
  // memo text; C (and anything else) left-aligned and filled with blanks to the length.
  std::string FieldGet(const std::string& field_name);
  int32_t FieldGetInt(const std::string& field_name);
  bool FieldGetBool(const std::string& field_name);
  // Edit unless editing already (browse -> edit; on an empty table insert, with a blank field
  // value record), then the field's text / integer value; the value goes into the engine's
  // field value record at once. Nothing is written to the file before AppendRec or ReplaceRec.
  // FieldPutShort keeps the first 10 characters of the text.
  void FieldPutStr(const std::string& field_name, const std::string& text);
  void FieldPutShort(const std::string& field_name, const std::string& text);
  void FieldPutInt(const std::string& field_name, int32_t value);

  // --- Direct writes ---
  // Write the field value record as it stands (fields not put keep the values of the record
  // that was current when editing began, or stay blank on an empty table) as a new record /
  // over the current record, or set the current record's deleted mark; then the engine moves
  // to a visible record, and the dataset leaves edit state without Post or Cancel and shows the
  // engine's record. On a shared table the caller holds ALock (append) or RLock (the others);
  // without it the engine reports its error and nothing is written.
  // A write that fails (refused, or a full disk: reported, raised or left in DbLastError)
  // changes no stored row, and leaves the dataset in browse state on the record as stored,
  // with the engine's field value record read again from the file (blank on no record): the
  // put values are gone, so no later move, post or close writes them. The error stays as the
  // write left it; the caller still releases its lock. The record AppendRec adds never
  // carries the deleted mark, whatever the record the puts began on carries.
  void AppendRec();
  void ReplaceRec();
  void DeleteRec();
  // The engine's Commit: what was written to the table so far is flushed to the disk (on an
  // exclusive table with its header); the dataset stays as it is.
  void Commit();

  // --- Navigation ---
  // GO to the record number, then show the engine's record.
  void Go(int32_t record_number);
  // The framework's First / Last.
  void GoTop();
  void GoBottom();
  // 0: re-reads the current record from the file; otherwise the framework's move by `count`,
  // returning the records actually moved (negative backwards).
  int Skip(int count);
  // The framework's EOF flag.
  bool AtEof();

  // --- Locks (the engine's; the dataset holds none of its own) ---
  // The table's append lock: false when another holds it or record locks are held here.
  bool ALock();
  // The lock of the dataset's current record (the engine is put on that record first).
  bool RLock();
  // Releases every lock of the work area.
  void UnLock();

  // --- Seeking and orders ---
  // Seeks the key (cut to 100) in the current order: a text key matches by prefix (Find) or
  // whole (FindExact, which turns exact matching on for the seek and back off only when it was
  // off). Found: the dataset stands on the record; not found: false, and the dataset stands on
  // the last record. The index unit's found flag keeps the result.
  bool Find(const std::string& key);
  bool FindExact(const std::string& key);
  // The current order's tag name (at most 10 characters); empty in natural order.
  std::string CurrentTag();
  // Makes the tag (cut to 10; empty: natural order) the current order and shows the engine's
  // record; false for a tag the index does not hold (the index unit reports that itself).
  bool SetOrderToTag(const std::string& tag_name);

  // The text FieldGet gives for `field`.
  std::string FieldText(TField& field);

 protected:
  bool GetCanModify() override { return !read_only_; }
  // After a seek: at the engine's EOF (nothing found) the framework's Last, else SyncDataSet.
  void SyncAfterSeek();
  // The framework's cursor-position update: the engine goes to the active buffer's record.
  void SyncCursorPos() { UpdateCursorPos(); }
  // The field of that name, the name cut to 10 characters.
  TField& FieldNamed(const std::string& field_name);

 private:
  void PutText(const std::string& field_name, const std::string& text);
  // Runs the engine's `write` on the selected work area and brings the dataset in step; a
  // failure abandons the write (AbandonDirectWrite) and is passed on as it came.
  void DirectWrite(const char* operation, void (*write)());
  void AbandonDirectWrite();

  bool read_only_ = false;
};

}  // namespace tz
