// The work-area engine. Every open table sits in one of 33 numbered work areas; one is selected
// (CurrentWorkArea) and every command acts on it, in the manner of the xBase languages.
//
// Commands clear DbLastError, check that the selected area holds a table (error 215 "No database
// in use [" routine "]  WorkArea = " n, through CheckDbInUse) and report failures through
// SetDbError with a context ending in the command's tag; after an error they return neutral
// values (false, 0, empty, nullptr; true for dEOF and dBOF). In raise mode failures throw
// ETarazedError (tzcommon.h); the engine's records own their files and buffers, so nothing stays
// open or half-bracketed. Positioning follows the active index order through IndexDriver when
// the index unit is linked (tzdrivers.h). Nothing here blocks or pumps.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzdrivers.h"

namespace tz {

struct TMemoArea;  // the memo file state of a table (the memo unit)

// One open table.
struct TWorkArea {
  TDbfTable Table;
  // The field value record (tzdbflow.h): the caller's buffer, or OwnedValues.
  char* FieldValues = nullptr;
  uint16_t FieldValuesLen = 0;
  bool OwnsFieldValues = false;
  std::vector<char> OwnedValues;
  // Record filter: a method, else a compiled expression (evaluated through ParserDriver).
  std::function<bool()> FilterMethod;
  CompiledExpr* FilterExpr = nullptr;
  // Runs after every positioning; may position other work areas, never its own.
  std::function<void()> Hook;
  std::string Alias;  // upper case
  // WHILE scope: a method, else a compiled expression.
  std::function<bool()> WhileMethod;
  CompiledExpr* WhileExpr = nullptr;
  std::shared_ptr<TMemoArea> MemoArea;  // the memo unit's state; empty when none is open
  uint8_t LockState = 0;          // 0 none, 2 append lock, 3 record locks
  uint16_t LockCount = 0;
  std::vector<int32_t> LockList;  // held record locks, oldest first
  std::vector<char> SwapBuffer;   // FieldValuesLen bytes, used by Replace
  bool Exclusive = false;
  std::shared_ptr<void> IndexData;  // the index unit's per-area state
};

// Work areas 1 to 35 (index 0 unused); commands select only 1 to 33, 34 and 35 are closed at
// the engine's end.
inline constexpr int kWorkAreaCount = 33;
inline constexpr int kWorkAreaSlots = 35;
extern std::array<std::unique_ptr<TWorkArea>, kWorkAreaSlots + 1> WorkAreas;

// Engine settings.
extern uint16_t DbUseFileMode;  // file mode of shared opens [66]; 18 opens everything exclusively
extern uint16_t DbForcedFileMode;  // below FFFFh its low byte replaces every table's mode [FFFFh]
extern bool DbAnsiTables;       // tables hold ANSI text; a table's OEM flag is the negation [false]
extern bool DbReopenExclusive;  // the share mode last chosen by ReopenDbf [false]
extern bool DbEngineActive;
// Driver of in-memory tables; none exists in this system.
extern void (*VirtualFileDriver)();

// The engine's start (run by StartTarazed) and end (EndTarazed): see the design of Use.
void StartEngine();
void EndEngine();
// Closes every table with errors ignored; the halt runs it (SetHaltCloseHook).
void CloseAllQuietly();

// --- Work areas ---------------------------------------------------------------------------

// n in 1..33 selects that area, 0 the lowest free one; otherwise error 220 ("Invalid workarea
// selected = [Select(n)]", "No free workarea available [Select(0)]") and nothing changes.
void Select(uint8_t n);
uint8_t GetWorkArea();
// The selected area's record, nullptr when it is free.
TWorkArea* SelectedArea();
// True (after reporting error 215) when the selected area holds no table.
bool CheckDbInUse(std::string_view routine);
// The selected table's file name; empty when none.
std::string DbfName();
// Opens a table in the selected area: "file [EXCLUSIVE] [ALIAS name]". The file name keeps its
// case (found on the disk without regard to case), the words EXCLUSIVE and ALIAS count only as
// whole words in any case. `buffer` and `size` are both given (the caller's field value record,
// exactly FieldValueRecordSize bytes) or both absent. A table open in the area is closed first;
// an empty text only does that.
void Use(const std::string& use_text, char* buffer = nullptr, size_t size = 0);
// Use with the two extra character translations the new area keeps.
void UseWithTables(const std::string& use_text, char* buffer, size_t size,
                   TranslateProc translate_from_file, TranslateProc translate_to_file);
// Closes the selected area's table (indexes, locks, memo file, header); nothing when free.
void CloseDatabase();
// Closes work areas 1 to 33 and selects 1.
void CloseAll();
// Switches the selected table's file to the other share mode in place (record locks stay
// held): 0, 5 when the table was opened exclusively and no earlier ReopenDbf chose that, 32
// when exclusive use is asked for while another open has the file.
uint16_t ReopenDbf(bool exclusive);
// Header byte 28 (a production index exists); false without a table or for dBASE II.
bool GetMdxFlag();
void SetMdxFlag(bool on);
// The index unit's per-area state of the selected area; nullptr when no table is open.
std::shared_ptr<void>* WorkAreaIndexData();

// --- Field access -------------------------------------------------------------------------
// A field number outside 1..FieldCount is error 220 "Invalid field number. [Name(n)]".

uint8_t FieldCount();
std::string Field(int n);
// The first field of that name (cut to 10, trimmed, upper case); 0 when none (no error).
int FieldNo(const std::string& name);
char FieldType(int n);  // a blank on error
// The stored length; a D field 10 with DbCentury on, else 8.
int FieldLen(int n);
int FieldDec(int n);
// Field n's slot in the field value record; 0 is the deleted flag (the record's start).
char* FieldAddress(int n);
// Blanks the record buffer and unpacks it: every field empty, not deleted.
void ClearRecord();

// --- Positioning --------------------------------------------------------------------------

void GO(int32_t n);
// GO only when 1 <= n <= RecCount; whether it went.
bool GoChecked(int32_t n);
// No index, filter or hook: n above the count gives the blank record past the end.
void Dbf4RawGo(int32_t n);
void RawGoAndHook(int32_t n);
void GoTop();
void GoBottom();
void GoTopWhile();
void GoBottomWhile();
void Skip(int32_t n);
bool dEOF();
bool dBOF();
int32_t RecCount();
int32_t RecNo();
uint16_t RecSize();
// Sets hiding of deleted records and returns the previous setting; re-reads the record.
bool SetIgnoreDel(bool hide);
// Sets the area's hook and returns the previous one; a new hook runs at once.
std::function<void()> SetAreaHook(std::function<void()> hook);
bool IsWhileOn();
bool IndexOrderActive();

// --- Locks --------------------------------------------------------------------------------
// Processes that share a table coordinate with byte-range locks far beyond any data, so that
// locks never hinder reading: the semaphore guard byte at DbLockBase, the append byte at
// DbLockBase + 1, and record n's region of record-size bytes at DbLockBase + header size +
// (n - 1) * record size. Locks belong to the work area's open file: two work areas of one
// program block each other as two programs do. On an exclusive table, or with
// DbNetworkLocking off, the commands keep only their bookkeeping and touch no region.

inline constexpr uint64_t DbLockBase = 0x40000000;
// The index build byte, far above every record region (those end below 2^48) and below the
// share-mode byte of platform/files.h: a program holds it while it opens or builds the
// production index of a shared table (IndexBuildLock, tables/index/tzndx.h).
inline constexpr uint64_t DbIndexBuildByte = uint64_t{1} << 61;
extern uint16_t DbMaxRecordLocks;  // most record locks per work area; 0 = no limit [0]
extern uint8_t DbLockRetries;      // further attempts after a failed lock [0]
extern uint8_t DbLockRetryWait;    // seconds between attempts (events are pumped) [0]
// Asked when the attempts are used up; true starts a new round [none].
extern std::function<bool()> DbLockRetryProc;

// Locks (or releases) a range of `file`: 0 or the DOS-style code (33 when another holds it);
// 0 at once with DbNetworkLocking off.
uint16_t LockRegion(bool unlock, platform::File& file, uint64_t offset, uint64_t length);
// LockRegion with the retry policy; false when the attempts are used up or the program is
// terminating.
bool LockWithRetry(platform::File& file, uint64_t offset, uint64_t length);
// The semaphore guard byte of the selected table (one attempt); true at once with network
// locking off.
bool LockFileByte();
void UnlockFileByte();
// The append lock; false (no error) while record locks are held or another holds it.
bool ALock();
// Locks the current record; false (no error) on the blank record, while the append lock is
// held, or when another holds it; error 212 at the lock limit.
bool RLock();
bool IsLocked(int32_t recno);
// Releases a record lock: a record number, -1 the oldest, -2 the newest, -3 all. A record not
// held gives false with DbLastError 220 (not reported).
bool UnlockRec(int32_t which);
// Releases every lock of the selected work area.
void Unlock();

// --- Writing ------------------------------------------------------------------------------
// Writes to a shared table need the append lock (Append) or the current record's lock
// (Replace, DeleteRec, RecallRec, Poke of that record); none of them writes while the area
// stands on the blank record.

// Index keys follow Replace [true].
extern bool DbReplaceUpdatesIndex;

// Appends the field value record as a new last record and makes it current.
void Append();
// Writes the field value record to the current record; fields whose values were not changed
// keep their stored bytes.
void Replace();
void DeleteRec();
void RecallRec();
// After a write: when the current record is outside the WHILE scope or not visible, moves to
// a visible one (all locks released) and answers true.
bool RepositionAfterWrite();
// The stored bytes of a field of any record (field 0: the deleted mark), read from the file;
// empty outside the table.
void Peek(uint8_t field, int32_t recno, std::string& text);
// Writes raw bytes into a field of any record; an empty value writes nothing.
void Poke(const std::string& value, uint8_t field, int32_t recno);
// Makes the selected table's records written so far survive a power cut, not only a killed
// program: on an exclusive table the header (record count, date) and the end mark are written
// as a close writes them; then the table file is flushed to the disk (fsync). Appends to a
// shared table keep the header's count and the end mark current on the disk already, and a
// rewrite of the header without the append lock could lower another program's count, so
// there only the flush. Memo values are flushed when they are written; index files are not
// flushed (they can be built again). Writes flush nothing by themselves: a flush costs a
// disk round trip, and only the caller knows which rows must not be lost (the display program
// flushes a protocol row before the SMS it records leaves the SIM). An I/O failure is
// reported with its code and "Unable to flush file [FlushFile]" (the header's own context
// for a header that could not be written).
void Commit();

// --- Sequential search --------------------------------------------------------------------

extern std::string LocateSearchValue;
extern bool LocateCaseSensitive;
extern bool LocateExact;
extern bool LocateContained;
extern uint8_t LocateField;

// A date for LocateValue.
struct TDateValue {
  int year, month, day;
};
// A value sought by LocateValue and LocateFields.
using TLocateValue = std::variant<std::string, double, TDateValue, bool>;

// Parses "FIELD [NOCASE] [EXACT] [CONTAINED]": the field number (0 and error 220 for none or an
// unknown field); sets the search flags.
uint8_t Locate(const std::string& spec);
// Searches records from `first` in file order (deleted and filtered ones too) for the search
// value in `field`; goes to the first match, else to EOF with LocateField 0.
void LocateFrom(int32_t first, uint8_t field, bool is_new);
// Searches on from the record after the current one.
void Continue();
// Searches one field for a value; the first visible match; true when found.
bool LocateValue(const std::string& field_name, const TLocateValue& value, bool no_case,
                 int32_t first, bool exact);
// Searches records where every field of the ";"-separated names holds its value; unless
// `stay_on_found` (and found) the record stays where it was. The hook does not run.
bool LocateFields(const std::string& field_names, const std::vector<TLocateValue>& values,
                  bool no_case, bool stay_on_found, bool exact);

// Shared with the writing commands.
void RefreshRecCount(TWorkArea& area);
bool RecordVisible(TWorkArea& area);
bool WhileCondition(TWorkArea& area);
void SetPhantomRecord(TWorkArea& area);
void RunAreaHook();
void SetBofFlag(TWorkArea& area);
void SetEofFlag(TWorkArea& area);

}  // namespace tz
