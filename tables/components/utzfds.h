// TTzFileDataSet binds a TTzCDataSet to one table file: it opens the file with the engine's
// USE text (creating a missing file from DbfFields), opens, checks or rebuilds the table's
// production index from the index definition lines of IndexList, writes under record or
// append locks with events that let the program retry a failed lock, seeks by key when an index
// order fits, and streams memo values through TTzBlobStream. TTzDbf is the class the forms
// place; it adds nothing.
//
// Index definition lines: two per tag, the tag line "NAME,T,F,expr" (tag name, descending
// flag, unique flag, key expression; no blanks between the items) and the FOR line (the
// tag's condition; empty for none). A last tag line without its FOR line makes no tag.
//
// File names: an existing table, index or semaphore file is found without regard to case
// (platform/files); a new one gets the name as the caller spelled it and the extension in the
// case given here ("DBF", "MDX").
//
// One GUI thread. A table lock that fails is tried once; the only waits are the engine's own
// (the memo lock of a blob stream, the index unit's semaphore). What pumps events is a message
// shown, a lock event's handler and the progress window of an index build.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/stream.h"
#include "tables/components/utzcds.h"
#include "tables/index/tzndx.h"

namespace tz {

// --- Index definition lines ---------------------------------------------------------------

// One tag from its tag line and FOR line. By positions from the first comma c: the name is
// the text before c (cut to 10; the whole line when it has no comma), descending is the
// character at c + 1, unique the one at c + 3 (right after the second comma), the key
// expression everything from c + 5 (after the third comma), cut to 220; the FOR line is cut to
// 220. A position past the end of a short line reads as nothing (flag false, no expression).
TIndexListEntry ParseIndexLine(std::string_view tag_line, std::string_view for_line);
// One entry per tag (line count / 2, rounded down) and a final entry with an empty name, which
// ends the list for MakeIndex.
std::vector<TIndexListEntry> BuildIndexList(const std::vector<std::string>& lines);
// The index definition lines match the tag list read from an index file (GetMdxTagList): as
// many lines as the tags take, each equal to its stored line without regard to case once
// trailing blanks are trimmed from both.
bool IndexListMatches(const std::vector<std::string>& lines,
                      const std::vector<std::string>& stored);

// --- The file dataset ---------------------------------------------------------------------

enum TCreateIndexType { ciNotFound = 0, ciAlways = 1, ciVerifyHeader = 2, ciNever = 3 };

// A lock failed; set `retry` to try again.
using TTzLockFailedEvent = std::function<void(platform::dataset::TDataSet& sender, bool& retry)>;
// An index file is about to be built; set `can_make` false to leave the table without one.
using TBeforeMakeIndexEvent = std::function<void(platform::dataset::TDataSet& sender,
                                                 const std::string& index_file, bool& can_make)>;
using TAfterMakeIndexEvent =
    std::function<void(platform::dataset::TDataSet& sender, const std::string& index_file)>;

class TTzFileDataSet : public TTzCDataSet {
 public:
  explicit TTzFileDataSet(bool designing = false);
  ~TTzFileDataSet() override;

  // --- Properties ---
  // The engine counts the records from the file size, not the header, while it opens.
  bool AutoFixRecCount() const { return auto_fix_rec_count_; }
  void SetAutoFixRecCount(bool value) { auto_fix_rec_count_ = value; }
  TCreateIndexType CreateIndex() const { return create_index_; }
  void SetCreateIndex(TCreateIndexType value) { create_index_ = value; }
  bool CreateIfNotFound() const { return create_if_not_found_; }
  void SetCreateIfNotFound(bool value) { create_if_not_found_ = value; }
  // Changing it on an active dataset closes and reopens it.
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  std::vector<std::string>& IndexList() { return index_list_; }

  // --- Events ---
  TTzLockFailedEvent OnALockFailedOnInsert;
  TTzLockFailedEvent OnRLockFailedOnDelete;
  TTzLockFailedEvent OnRLockFailedOnPost;
  TTzLockFailedEvent OnRLockFailedOnRestore;
  TBeforeMakeIndexEvent OnBeforeMakeIndex;
  TAfterMakeIndexEvent OnAfterMakeIndex;

  // The USE text of the table: DbfFileName, " EXCLUSIVE" when Exclusive, " ALIAS " and the
  // trimmed component name when that is not empty.
  std::string UseText() const;
  // The production index file: DbfFileName with the extension "MDX".
  std::string IndexFileName() const;

  // --- Framework overrides ---
  // With an index order whose tag's whole key is the one located field (the tag has no FOR
  // condition): the value as text (at most 255) sought with FindExact, or Find with the
  // partial-key option. Otherwise the sequential Locate of the primary dataset. A miss keeps
  // the dataset where it was.
  bool Locate(const std::string& key_fields, const TVariant& key_values,
              TLocateOptions options) override;
  // False when filtered or an index order is current.
  bool IsSequenced() override;
  // A TTzBlobStream over a memo field of the active record; the caller owns it. Only one may
  // be open on a dataset at a time: a second one throws EDatabaseError "<name>: a blob stream
  // is open already".
  std::unique_ptr<platform::dataset::TStream> CreateBlobStream(
      TField& field, platform::dataset::TBlobStreamMode mode) override;

 protected:
  bool HasDbf() override { return !(Designing() && exclusive_); }
  // Creates the missing table (CreateIfNotFound), USEs it and opens its production index:
  // true when the table is open. An error of the index steps is reported as the library's
  // switches say; with reporting off (or an installed DbErrorProc) it stays in DbLastError, and
  // the open fails with it (TziOpen closes the table again).
  bool OpenDbfTable(const std::string& use_text) override;
  // Opens, checks or builds the production index as CreateIndex says. A missing, damaged or
  // incomplete index is rebuilt without a report, unless another program has it open (then
  // that one is used); every other failure, among them a build that fails, is reported, so that
  // the open never ends with a table that silently lacks the index its lines ask for. Holds
  // the table's IndexBuildLock throughout: a program that opens the table at the same moment
  // waits for this one's build and opens what it made. A ReadOnly dataset writes nothing into
  // its table (the header's production-index flag stays as it is).
  void OpenProductionIndex();
  // The writes of the framework's post, insert and delete and of a restore, each under its
  // lock, which it releases afterwards. Nothing when the dataset cannot be modified. A lock
  // that fails fires the operation's event, or shows "Lock failed [Insert]" (Delete, Restore,
  // Post) without one; unless the handler asks for a retry the write ends with EAbort, so that
  // the framework keeps the dataset in edit or insert state and nothing is written.
  void AppendWithLock() override;
  void DeleteWithLock() override;
  void RestoreWithLock() override;
  void ReplaceWithLock() override;

 private:
  friend class TTzBlobStream;
  enum class TLockedWrite { Append, Delete, Restore, Replace };
  void WriteWithLock(TLockedWrite write);
  void BuildProductionIndex(const std::string& index_file);
  // The key expression of the current order's tag when it has no FOR condition; empty else.
  std::string CurrentTagKey();

  bool auto_fix_rec_count_ = false;
  TCreateIndexType create_index_ = ciNotFound;
  bool create_if_not_found_ = true;
  bool exclusive_ = false;
  std::vector<std::string> index_list_;
  bool blob_stream_open_ = false;
};

class TTzDbf : public TTzFileDataSet {
 public:
  explicit TTzDbf(bool designing = false) : TTzFileDataSet(designing) {}
  // Closes the dataset. A close that fails (its error raised in raise mode) is shown as the
  // application shows exceptions (ApplicationHandleException) and the destructor goes on: the
  // table is closed and its work area free all the same.
  ~TTzDbf() override;
};

// --- The blob stream ----------------------------------------------------------------------

// A memo value of the dataset's active record as a stream, over the memo unit's one blob
// descriptor. Read mode reads the stored value; write and read-write modes write a new value,
// whose memo reference goes into the active record at once (a descriptor that cannot be made
// leaves the old reference). Destroying a write stream finishes the value, puts the active
// record into the engine's field value record (so the next post stores the new reference) and
// sends the field-change notification; one freed without a write empties the memo.
class TTzBlobStream : public platform::dataset::TStream {
 public:
  // The dataset must be active (library error 1103 "DataSet must be active. " + name).
  TTzBlobStream(TField& field, TTzFileDataSet& dataset, platform::dataset::TBlobStreamMode mode);
  ~TTzBlobStream() override;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, platform::dataset::TSeekOrigin origin) override;

 private:
  // The field's memo reference in the active record buffer; nullptr without one.
  char* Reference() const;

  TField& field_;
  TTzFileDataSet& dataset_;
  platform::dataset::TBlobStreamMode mode_;
  bool written_ = false;
  bool open_ = false;  // a descriptor was made
};

}  // namespace tz
