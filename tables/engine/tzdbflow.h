// The dBase table file (.dbf) as the library reads and writes it, the routines that work on one
// open table file, and the field value record: the current record's fields as typed values.
//
// File layout (little-endian). Bytes 0-31, the prolog: 0 version (02h, 03h, 04h, 83h, 8Bh, 8Ch,
// F5h are read; bit 7 = the table has a memo file), 1-3 date of last update (year - 1900, month,
// day), 4-7 record count, 8-9 header size (offset of record 1), 10-11 record size (deleted mark
// included), 12-27 reserved (16-27 belong to other programs and survive every header rewrite),
// 28 production index flag, 29-31 reserved. Versions 04h and 8Ch add 36 bytes before the field
// descriptors, which are 48 bytes long there (name 0-31, type 32, length 33, decimals 34) and 32
// bytes otherwise (name 0-10, type 11, length 16, decimals 17); 0Dh ends them. Record n starts at
// header size + (n - 1) * record size: the deleted mark ("*" or blank), then the fields. After
// the last record 1Ah is written whenever records were appended. Version 02h tables have a fixed
// 521-byte header: 1-2 record count, 3-5 month, day, year - 1900, 6-7 record size, 32 slots of
// 16-byte descriptors from byte 8 (name 0-10, type 11, length 12, decimals 15).
//
// Field types: C text, D date (YYYYMMDD, blanks when empty, always 8 long), F and N numbers as
// right-aligned text, L logical (T, Y, t, y are true), M memo block number; B, G and P are read
// as M.
//
// Failures go through SetDbError (tzcommon.h) with the codes and contexts each routine names, so
// in raise mode they throw ETarazedError; the table record owns its file and buffers, so an
// exception leaves nothing open. Routines answering bool answer DbLastError == 0 afterwards.
// Nothing here takes locks (the work-area engine does), blocks or pumps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace tz {

// Asks for the record count after opening to be what the file holds [false]. The file
// dataset sets it around its open; OpenDbfFile counts that way whatever it says.
extern bool DbRecountOnOpen;

struct TFieldEntry {
  std::string name;  // up to 10 (11 when read) characters, upper case
  char type = 'C';
  uint8_t length = 0;
  uint8_t decimals = 0;
  uint16_t offset = 0;  // in the stored record; the deleted mark is byte 0
};

// An extra character translation of a buffer of `count` bytes, in place.
using TranslateProc = void (*)(char* buffer, size_t count);

enum HeaderState : uint8_t {
  kHeaderClosed = 0,
  kHeaderOpen = 1,       // open and unchanged
  kHeaderRewritten = 2,  // records or deleted marks rewritten
  kHeaderAppended = 3,   // records appended (never lowered to 2)
};

// The table part of a work area: one open table file.
struct TDbfTable {
  std::string FileName;  // as opened or created, with extension
  std::string FileKey;   // identity: the path as on the disk without separators and colons
  std::array<uint8_t, 32> Prolog{};
  bool HasMemo = false;
  bool HideDeleted = false;
  bool WideDescriptors = false;  // the 36-byte extension and 48-byte descriptors
  uint16_t HeaderSize = 0;
  uint16_t RecordSize = 0;
  uint8_t FieldCount = 0;
  std::vector<TFieldEntry> Fields;
  uint8_t HeaderState = kHeaderClosed;
  std::string LastUpdate;    // YYYYMMDD
  std::vector<char> Record;  // the current record, its text in Windows-1252
  int32_t RecordCount = 0;
  int32_t CurrentRecord = 0;
  // Positioned past the end (the blank record), also after another program has since appended
  // a record with that number; a record read or appended clears it.
  bool OnBlankRecord = false;
  bool AtEnd = false;
  bool AtBeginning = false;
  uint16_t OpenMode = 0;
  bool Oem = false;  // texts are stored in code page 850
  TranslateProc ToFile = nullptr;
  TranslateProc FromFile = nullptr;
  platform::File File;
  // The field value record as UnpackRecord last made it from Record; PackRecord leaves the
  // stored bytes of every field whose value still equals it.
  std::vector<char> Unpacked;
  // Records read ahead of a sequential walk, as stored in the file: records AheadFirst to
  // AheadFirst + AheadCount - 1. Only a file no other program may write (opened denying
  // others write access: AheadAllowed) keeps them, and only until this program writes the
  // table: every write goes through DropReadAhead.
  bool AheadAllowed = false;
  std::vector<char> Ahead;
  int32_t AheadFirst = 0;
  int32_t AheadCount = 0;
  int32_t LastRead = 0;  // the record the last GetDbfRecord read; 0 none since the last drop
  // The file's size after the last append, under the same rule (0: not known): the next
  // append needs no look at the file for the size it cuts back to when its write fails.
  uint64_t KnownSize = 0;
  std::vector<char> Scratch;   // the record being read, swapped into Record when it is whole
  std::vector<char> Outgoing;  // the record being written, as the file stores it

  uint8_t Version() const { return Prolog[0]; }
};

// Opens the file named in `table.FileName` (the extension "DBF" added when it has none) in the
// library's FileMode and reads its header. The record count is the whole records the file
// holds, whatever the header counts (at most MaxRecordCount). On failure the file is closed
// again: 2/3/5/32...
// "Failure to open " + path + " [USE/OpenDbf]", 210 for what is no table, 211 for a bad field,
// 100 for a short header.
bool OpenDbfFile(TDbfTable& table);
// Reads and checks the header of the open file of `file_size` bytes (step of OpenDbfFile).
bool OpenDbf(TDbfTable& table, uint64_t file_size);
// Decides from the table's open mode (OpenMode) whether records may be read ahead, and drops
// those read ahead. OpenDbfFile calls it; so does whatever changes the open mode.
void AllowReadAhead(TDbfTable& table);
// Forgets the records read ahead: the table's file was (or is about to be) written.
void DropReadAhead(TDbfTable& table);
// Reads record n into the record buffer and makes it current: 212 for n outside 1..count
// ("Invalid record number = " n " (" path ")  [GetDbfRecord]"), 213 for a short record, the I/O
// code otherwise ("File:  " path "  [GetDbfRecord]"). A failed read changes nothing. A read of
// the record after the last one read fills the read-ahead when that is allowed.
bool GetDbfRecord(TDbfTable& table, int32_t n);
// Writes the record buffer as record n; n = count + 1 appends, the end mark 1Ah after the
// record in the same write (the count goes up once the whole record is on the disk; a partial
// write is cut back). The header on the disk is left as it is. n outside 1..count + 1 is 212, and
// an append to a table that holds MaxRecordCount records too. The buffer is never changed.
bool PutDbfRecord(TDbfTable& table, int32_t n);
bool AppendDbfRecord(TDbfTable& table);
// Writes only byte 0 of the record buffer (the deleted mark) to record n (1..count; else 212).
bool WriteDeleteFlag(TDbfTable& table, int32_t n);
// Writes today's date and the record count into the header on the disk (bytes 1 to 7, 1 to 5
// of a version-02 table) and the prolog, every other header byte left as it is on the disk.
// The work-area engine calls it after each append to a shared table. A failure is the I/O code
// with "File:  " path " [Replace/Append/PutDbfRecord]".
bool WriteRecordCount(TDbfTable& table);
// Rewrites the prolog with today's date and the record count (bytes 16-27 re-read first). A
// failure leaves its I/O code in DbLastError and is reported without a new context.
bool WriteDbfHeader(TDbfTable& table);
// When records were rewritten or appended: the prolog, after appends also the end mark 1Ah;
// then the file is flushed. The header state becomes kHeaderOpen.
bool CommitDbfHeader(TDbfTable& table);
// Finishes the header as CommitDbfHeader does, closes the file, frees the buffers.
bool CloseDbf(TDbfTable& table);
// fsync; a failure is "<code> Unable to flush file [FlushFile]".
bool FlushFile(platform::File& file);
// Creates a new table file (03h, or with a memo field DbDefaultTableVersion when that is a memo
// version, else 8Bh) and its empty memo file, and leaves both closed. 211 "Invalid dBASE field
// definition [CreateDBF]" for a bad definition or a field count outside 1..255 (nothing is
// created); 32 when another open has the file.
bool CreateDBF(TDbfTable& table, const std::string& path, const std::vector<TFieldEntry>& fields);
// Creates a missing table as CreateDBF does, but never over an existing table and so that no
// other program ever finds it half made: the table and its memo file are written under hidden
// names beside it, then the memo file takes its name (replacing one that a table no longer
// has) and the table last, in one step each. True when the table exists afterwards: made here
// (`*made` set), or made by another program that came first, whose files then stay as they
// are. On failure nothing of this call is left behind.
bool CreateMissingDBF(TDbfTable& table, const std::string& path,
                      const std::vector<TFieldEntry>& fields, bool* made = nullptr);
// "FPT" for F5h, else "DBT" (an unknown version counts as DbDefaultTableVersion).
std::string MemoExtension(uint8_t version);
// Creates the empty memo file of a new table in the layout of the version's memo type: 83h
// 513 bytes, F5h a 512-byte FoxPro header, 8Bh/8Ch the 24-byte dBASE IV header. Failures name
// `caller_tag`: "Cannot create memo file " + memo path + " [" + tag + "]".
bool CreateEmptyMemofile(const std::string& table_path, uint8_t version, uint16_t block_size,
                         const std::string& caller_tag);
// Converts `byte_count` / `record_size` records in place, each without its deleted mark: to
// the file ANSI to OEM (when `oem`) then `proc`; from the file `proc` then OEM to ANSI.
void TranslateBuffer(bool to_file, bool oem, TranslateProc proc, size_t byte_count,
                     uint16_t record_size, char* buffer);
bool IsDbase2Table(const TDbfTable& table);
// The most records the table can count: 65535 in a version-02 header, else 7FFFFFFEh, so that
// the number past the last record (the blank record) is still a record number.
int32_t MaxRecordCount(const TDbfTable& table);
// The table's descriptors are 48 bytes long (a 04h or 8Ch table in the long layout).
bool Uses48ByteDescriptors(const TDbfTable& table);
uint32_t SwapLong(uint32_t value);
uint16_t SwapWord(uint16_t value);
// The file name with its extension, without the folder / without folder and extension.
std::string TableFileName(const std::string& path);
std::string PathPart(const std::string& path);

// --- The field value record --------------------------------------------------------------
// Byte 0 the deleted flag (1 deleted), then one slot per field in field order: C length byte +
// characters (1 + length), D length byte + date text of the current format (11), F/N with
// decimals a double (8), without decimals a 32-bit integer (4) or, for a field 10 or more long
// (its numbers pass 32 bits), a 64-bit integer (8), L one byte, M the 32-bit block number (4).
// Slots are unaligned: copy values with memcpy.

// The size of a field's slot (0 for a type without one).
size_t FieldSlotSize(const TFieldEntry& field);
// 1 + the sizes of all slots.
size_t FieldValueRecordSize(const TDbfTable& table);
// The record buffer to the field value record `values` (FieldValueRecordSize bytes). Numbers
// beyond their slot saturate. Reports nothing.
void UnpackRecord(TDbfTable& table, char* values);
// The field value record to the record buffer, every field (a new record). Dates that are not
// valid are stored blank; numbers too wide for their field as "*". Reports nothing.
void PackRecord(TDbfTable& table, const char* values);
// The same for a record that is rewritten: a field whose slot still equals what the last
// unpack made keeps its stored bytes, so a value that would not survive unpacking and packing
// again (a date outside the century window, an N beyond its slot, a "?" logical) is never
// changed unless the caller changed it.
void PackChangedFields(TDbfTable& table, const char* values);

}  // namespace tz
