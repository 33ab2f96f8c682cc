// What the memo unit's source files share and nobody else uses: the selected table's memo
// state, the memo lock of one operation, the error path, and the text conversions.
#pragma once

#include <cstdint>
#include <string>

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"

namespace tz {

// The selected work area and its memo file, after CheckMemoField(routine) passed; nullptr (with
// the error reported) otherwise.
struct MemoTarget {
  TWorkArea* area = nullptr;
  TMemoArea* memo = nullptr;
  explicit operator bool() const { return memo != nullptr; }
};
MemoTarget SelectedMemo(const std::string& routine);

// The memo lock for one operation: taken unless it is held already, released on Release or at
// the end of the scope when this scope took it.
class MemoLockScope {
 public:
  MemoLockScope(TWorkArea& area, TMemoArea& memo) : area_(area), memo_(memo) {}
  ~MemoLockScope();
  MemoLockScope(const MemoLockScope&) = delete;
  MemoLockScope& operator=(const MemoLockScope&) = delete;

  // LockMemo for this operation; false when another process kept the lock.
  bool Acquire();
  // Gives the lock back when this scope took it; false when the release failed.
  bool Release();
  // This scope took the lock (and would release it).
  bool Taken() const { return taken_; }
  // Hands the lock over to whoever keeps it past the scope (a BLOB write descriptor).
  void Keep() { taken_ = false; }

 private:
  TWorkArea& area_;
  TMemoArea& memo_;
  bool taken_ = false;
};

// Takes or releases the memo lock byte itself: 0 or the system's code.
int MemoLockByte(TMemoArea& memo, bool unlock);
// The block number an M field's stored characters lead with; 0 for blanks.
int32_t MemoBlockOfField(const std::string& stored);
// The lock is needed: network locking is on and the table is shared.
bool MemoLockNeeded(const TWorkArea& area);

// The error path of the unit: the operation's lock is released first, then SetDbError.
void MemoFail(MemoLockScope* lock, uint16_t code, const std::string& context);

// Starts an append: refuses while a BLOB is being written (1017), takes the memo lock (1017
// name + " [" routine "]") and pads the file to a whole block (the write's code, name +
// " [LockMemoPadAndSeekEOF]"). True with the new value's offset.
bool LockMemoPadAndSeekEOF(TMemoArea& memo, MemoLockScope& lock, const std::string& routine,
                           uint64_t& offset);
// After a write: the file flushed, the header updated (29 name + " [UpdateMemoHeader()]"), the
// lock released (1018). `blocks` goes to the dBASE IV block counter.
bool FinishMemoWrite(TMemoArea& memo, MemoLockScope& lock, uint32_t blocks,
                     const std::string& routine);

// A value on its way to the file and back: text is converted between ANSI and OEM when the
// table is OEM; every byte goes through the table's translation procedures, in pieces of
// MemoBufferSize.
void ToFileForm(const TDbfTable& table, std::string& bytes, bool text);
void FromFileForm(const TDbfTable& table, std::string& bytes, bool text);
// The two steps apart, for values whose line ends must not be converted.
void OemForm(const TDbfTable& table, std::string& bytes, bool to_file);
void TranslateForm(const TDbfTable& table, std::string& bytes, bool to_file);

// Finishes a BLOB descriptor that is still open (as DestroyBlobDescriptor does, nothing
// reported); CloseMemofile runs it.
void FinishBlobQuietly(TWorkArea& area, TMemoArea& memo);

// Splits the bytes of a value (or text written to a memo text file) into lines as GetMemo
// describes, keeping at most `keep` of them in `out` (its Total counts all).
void SplitMemoText(const std::string& bytes, size_t keep, TMemoLineTable& out);

// The record number for error contexts: " Record # " n.
std::string RecordContext();

}  // namespace tz
