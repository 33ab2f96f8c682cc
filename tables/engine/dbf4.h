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
  TMemoArea* MemoArea = nullptr;  // owned by the memo unit; nullptr when none is open
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
bool CheckDbInUse(const std::string& routine);
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

// Shared with the writing commands.
void RefreshRecCount(TWorkArea& area);
bool RecordVisible(TWorkArea& area);
bool WhileCondition(TWorkArea& area);
void SetPhantomRecord(TWorkArea& area);
void RunAreaHook();
void SetBofFlag(TWorkArea& area);
void SetEofFlag(TWorkArea& area);

}  // namespace tz
