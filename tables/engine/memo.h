// The memo unit: memo (M) field values kept outside the table in a memo file beside it, in one
// of three layouts chosen by the table's version byte (memoformat.h has them byte by byte):
// dBASE III (.DBT, 83h), dBASE IV (.DBT, 8Bh and 8Ch) and FoxPro (.FPT, F5h). The table's record
// holds only the number of the value's first block; 0 (or blanks) is "no memo", a negative
// number marks a binary value (BLOB) in a dBASE III file.
//
// The work-area engine reaches the unit only through MemoDriver (tzdrivers.h), which MemoInit
// fills: Use opens the memo file (slot 2), CloseDatabase closes it (slot 3). The table
// components call the BLOB routines directly; the expression evaluator and the memo search of
// Locate read values as text files (memotextfile.h, slot 0).
//
// Every routine acts on the selected work area. Failures go through SetDbError (tzcommon.h) with
// the codes and contexts named below, after the memo lock taken for the operation is released;
// in raise mode they throw ETarazedError, and the RAII owners here leave no file, lock or buffer
// behind. After an error routines answer their neutral value (false, 0).
//
// Text conversion, the same on every path: text goes to the file ANSI to OEM (when the table is
// OEM) and then through the table's to-file translation, and comes back through the from-file
// translation and then OEM to ANSI. Binary values (a BLOB descriptor in binary mode) skip only
// the OEM step. Line ends are never converted.
//
// Sharing: processes that share a memo file serialise appends and header updates with the memo
// lock, one byte at offset 10 of the memo file (LockMemo). Nothing here pumps events; LockMemo
// may block for about two seconds while another process holds the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace tz {

// The state of the one BLOB descriptor a memo file has (one BLOB value of a table is open at a
// time).
struct TBlobDescriptor {
  bool Active = false;
  uint8_t Mode = 0;        // 1 read, 2 write
  int32_t Length = 0;      // read: the value's length, -1 unknown (dBASE III text ending at 1Ah);
                           // write: the highest position written so far
  uint64_t DataStart = 0;  // file offset of the value's first byte
  int32_t HeaderLen = 0;   // 8 when the value has a block header, else 0
  int32_t Position = 0;    // current position within the value
  int32_t Block = 0;       // first block number (0: no value)
  int32_t TextMode = 0;    // -1 decide from the first bytes, 0 binary, 1 text
  bool HoldsLock = false;  // a write descriptor holds the memo lock until it is destroyed
  uint32_t ChainEnd = 0;   // write, dBASE IV: where the free chain's end was moved to
};

// One open memo file; owned through TWorkArea::MemoArea.
struct TMemoArea {
  platform::File File;
  std::string FileName;  // the memo file's full name
  uint8_t MemoType = 0;  // 83h, 8Bh, 8Ch or F5h
  uint16_t BlockSize = 512;
  bool Locked = false;  // the memo lock byte is held
  TBlobDescriptor Blob;
};

// --- The line table ------------------------------------------------------------------------

// Line ends as the line table keeps them. A soft end is one that word wrap made.
inline constexpr uint8_t kHardLineEnd = 13;    // written as CR LF
inline constexpr uint8_t kSoftLineEnd = 0x8D;  // written as 8Dh LF
inline constexpr uint8_t kNoLineEnd = 0;       // the value's last line had none

// A memo value as lines: each at most MemoLineWidth characters (ANSI), with its line end.
struct TMemoLineTable {
  std::vector<std::string> Lines;
  std::vector<uint8_t> Ends;  // one per line
  int32_t Total = 0;          // lines the value had, also those not kept
  void Clear() {
    Lines.clear();
    Ends.clear();
    Total = 0;
  }
};

// The engine's line table: GetMemo fills it, EditMemo writes it. Callers edit it in between.
extern TMemoLineTable MemoLines;
// Most lines a line table keeps (further lines are read but not kept) [32767].
extern int32_t MemoMaxLines;
// Lines longer than this are wrapped at their last blank [254].
extern int32_t MemoLineWidth;
// Size of the pieces that go through a table's translation procedures.
inline constexpr size_t MemoBufferSize = 512;

// --- The unit -------------------------------------------------------------------------------

// Fills MemoDriver (tzdrivers.h) and sets the unit's start values. StartTarazed runs it after
// the engine's start has cleared the routine tables.
void MemoInit();

// The memo type of the selected table from its version byte: 83h, 8Bh, 8Ch or F5h as stored,
// anything else (and no table) the default type: DbDefaultTableVersion when that is a memo
// type, else 8Bh.
uint8_t GetMemoType();

// Opens the memo file of the selected table: `table_name` (the table's path without extension)
// with the extension of GetMemoType, shared (mode 66) when network locking is on and the table
// is not exclusive, else exclusively (18); DbForcedFileMode overrides. Errors: 1007 name +
// " [USE]" when one is open already; the open's code with "Memo file not found: " + name +
// " [USE]".
void OpenMemofile(const std::string& table_name);
// Closes the selected table's memo file (a BLOB still open for writing is finished first) and
// frees its state; a failing close: its code with name + " [CloseMemofile]". Nothing when none
// is open.
void CloseMemofile();
// Creates the empty memo file of `table_name` in the selected table's memo type and the default
// block size (replacing an existing one); errors as tzdbflow's CreateEmptyMemofile, with the
// routine text "CreateMemofile()". True on success.
bool CreateMemofile(const std::string& table_name);
// CloseMemofile, CreateMemofile, OpenMemofile.
void RecreateMemofile(const std::string& table_name);

// True, after reporting, when the selected area has no table (215 " [" routine "]") or its table
// has no open memo file (1019 table name + " No Memo Field [" routine "]").
bool CheckMemoField(const std::string& routine);

// Takes the memo lock of the selected table: true at once when network locking is off, the
// table is exclusive or the lock is held already; otherwise tries for about two seconds with
// short sleeps. False (nothing reported) when another process kept it. Blocks, never pumps.
bool LockMemo();
// Releases the memo lock when it is held: false when the release failed.
bool UnlockMemo();

// Stores `text` (trailing blanks removed) as a new value at the end of the memo file and
// answers its block number for the caller to put into the record's M field; 0 for an empty
// text (nothing written) and on failure. Errors: 1017 (lock), the I/O code with name +
// " [AddMemo]", 29 " [WriteGroupHeader()]" / " [UpdateMemoHeader()]", 1018 (unlock).
int32_t AddMemo(const std::string& text);

// Reads the value at `block` (its absolute value) into MemoLines: a CR, or 8Dh followed by LF,
// ends a line (the LF after either is skipped; a lone LF also ends a line), a line longer than
// MemoLineWidth is wrapped at its last blank. Keeps the first `max_lines` lines (0: all, never
// more than MemoMaxLines). Block 0 gives an empty table. False on error: 1003 name +
// " Record # " n + " [GetMemo]" for a block outside the file or a damaged value, or the read's
// I/O code.
bool GetMemo(int32_t block, int32_t max_lines);
// Writes MemoLines back as the value that `block` held (0: none) and answers the block that
// holds it now, for the caller's M field: the same block when a dBASE IV value fits its old run,
// else a new one (dBASE IV: from the free chain or the end; the old run goes back to the chain;
// dBASE III and FoxPro: always at the end). An empty table answers 0. 0 on failure, the old
// value then still readable: 1004 (disk full), 1017, 29 " [EditMemo/CloseMemo]".
int32_t EditMemo(int32_t block);
// The same with a line table of the caller's.
int32_t EditMemoLines(const TMemoLineTable& lines, int32_t block);
// GetMemo into a line table of the caller's.
bool GetMemoLines(TMemoLineTable& lines, int32_t block, int32_t max_lines);

// Copies the value at `block` of the memo file of work area `source_area` into the selected
// table's memo file and answers the new block (negative for a binary value in a dBASE III
// file); block 0 answers 0. Mode 0 writes at the end; mode 1 at the source's block number when
// that is at or past the end of the destination, else at the end. Text is converted from the
// source table's form to the destination's; copying a dBASE III text ends at 1Ah or a zero
// byte. Errors: 1019 (no memo file in either area), 1003 / the I/O code with name +
// " [AppendFrom/CopyTo]", 1005 for a short write.
int32_t CopyMemo(uint8_t source_area, int32_t block, int mode);

// Rewrites the selected table's memo file without unused blocks. Needs the table exclusive (225
// name + " [PackMemofile]") and free disk space of the file's size (1012). Every value goes into
// a new file (the memo file's name with the extension "$$$"), which is flushed; then every
// record's reference is rewritten, the table flushed, and the new file renamed over the old one
// (which stays open until then) and reopened. Any failure up to the rename keeps the old file
// and puts the references back before it is reported, so neither a halt nor an exception
// leaves them half rewritten: a value that cannot be read is 1003 " Memo block # " b +
// " Record # " n + " [PackMemo]". After the pack the current record is read again. A crash
// leaves the old file with the old references, or the new file with the new ones, or (while
// the references are rewritten) the old file with references of both.
void PackMemofile();

// --- The BLOB descriptor --------------------------------------------------------------------
// One value of the selected table as a byte stream with a position. Errors report their code
// with " Record # " n + " [" routine "]" and release the descriptor.

// Opens the descriptor on `block` in mode 1 (read) or 2 (write); a descriptor still open is
// finished first. `detect_text` lets the first bytes read or written decide between text (OEM
// conversion when the table is OEM) and binary. Read: a block outside the file or a damaged
// header is 1003. Write: the value goes to a new block at the end of the file (`block` is not
// touched) and the memo lock is held until DestroyBlobDescriptor. Answers the block (negative
// for a value with a block header in a dBASE III file: every written one), 0 for block 0 or on
// failure.
int32_t CreateBlobDescriptor(bool detect_text, int32_t block, int mode);
// Finishes the descriptor: in write mode the block header with the length (the highest
// position written) goes in front of the value, a .DBT file is padded to a whole block, the
// header is updated, the file flushed and the lock released. False on error.
bool DestroyBlobDescriptor();
// Reads up to `count` bytes at the position (read mode); clipped to the value's end and the
// file's. A dBASE III text value ends at its 1Ah. Answers the bytes read.
int32_t ReadBlobStream(void* buffer, int32_t count);
// Writes `count` bytes at the position (write mode); answers the bytes written, 0 on error.
int32_t WriteBlobStream(const void* buffer, int32_t count);
// Moves the position: origin 0 from the start, 1 from the position, 2 from the end (the
// length; an unknown length is found first). A negative result becomes 0. Answers the
// position; 0 without an active descriptor.
int32_t SeekBlobStream(int32_t offset, int origin);

}  // namespace tz
