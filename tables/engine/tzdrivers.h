// The routine tables through which the work-area engine reaches the units above it: the index
// engine (IndexDriver), the memo unit (MemoDriver) and the expression compiler and evaluator
// (ParserDriver with KeyEvaluator). Each unit fills its table with an explicit init call after
// StartTarazed has cleared them; an empty slot (or a table whose linked flag is off) means the
// unit is absent, and the engine then skips the step or reports the absence. Every routine acts
// on the selected work area.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tz {

struct CompiledExpr;  // a compiled expression (the expression unit)
struct MemoTextFile;  // a memo value read or written as lines (the memo unit)

// A routine that gives the current record's key of an order as text.
using KeyTextProc = std::string (*)();

struct TIndexDriver {
  bool (*HasIndexOrder)() = nullptr;           // 0: position 1 holds an order
  void (*SyncIndexPosition)() = nullptr;       // 1
  int32_t (*IndexNextRec)() = nullptr;         // 2: the next record number (same = end)
  int32_t (*IndexPriorRec)() = nullptr;        // 3: the previous record number (same = start)
  int32_t (*IndexFirstRec)() = nullptr;        // 4: count + 1 = the order is empty
  int32_t (*IndexLastRec)() = nullptr;         // 5
  bool (*IndexEof)() = nullptr;                // 6
  bool (*IndexBof)() = nullptr;                // 7
  void (*AppendNewKey)() = nullptr;            // 8
  void (*MakeCurrentKey)() = nullptr;          // 9
  void (*SaveKeysBeforeReplace)() = nullptr;   // 10
  void (*UpdateKeysAfterReplace)() = nullptr;  // 11
  void (*IndexSetBof)() = nullptr;             // 12
  void (*IndexSetEof)() = nullptr;             // 13
  uint8_t* IndexFound = nullptr;               // 14: data, saved and restored around a hook
  bool (*Reindex)() = nullptr;                 // 15
  void (*CloseIndexes)() = nullptr;            // 16
  bool (*OpenProductionIndex)() = nullptr;     // 17
  void (*GetOrderDescription)(int tag, std::string& text) = nullptr;  // 18
  KeyTextProc (*GetOrderKeyProc)(int tag) = nullptr;                  // 19
  KeyTextProc (*GetCurrentKeyProc)() = nullptr;                       // 20
  int (*OrderIsAscending)(int tag) = nullptr;                         // 21
  int (*OrderKeyFlag)(int tag) = nullptr;                             // 22
  void (*SetReadSemaphoreProc)(int begin) = nullptr;                  // 23: 1 begin, 0 end
  void (*SetLockSemaphoreProc)(int begin) = nullptr;                  // 24: 1 begin, 0 end
};
extern TIndexDriver IndexDriver;
extern bool IndexDriverLinked;

struct TMemoDriver {
  void (*AssignMemo)(MemoTextFile& file, int32_t* block) = nullptr;          // 0
  void (*PackMemofile)() = nullptr;                                          // 1
  void (*OpenMemofile)(const std::string& table_name) = nullptr;             // 2
  void (*CloseMemofile)() = nullptr;                                         // 3
  int32_t (*CopyMemoValue)(uint8_t source_area, int32_t block) = nullptr;    // 4
  int32_t (*CopyMemoValueEx)(uint8_t source_area, int32_t block) = nullptr;  // 5
  void (*RecreateMemofile)(const std::string& table_name) = nullptr;         // 6
  int32_t (*AddMemo)(const std::string& text) = nullptr;                     // 7
};
extern TMemoDriver MemoDriver;

struct TParserDriver {
  // Compiles against the selected work area; nullptr on failure (the error is stored).
  CompiledExpr* (*AssignExprByRef)(std::string& text) = nullptr;
  void (*FreeExpr)(CompiledExpr*& expr) = nullptr;
  // The result of one evaluation; for a logical expression a 32-bit word (0 false).
  const void* (*EvaluateExprByRef)(CompiledExpr* const& expr) = nullptr;
  std::string (*ShortStrToStr)(std::string_view text) = nullptr;
};
extern TParserDriver ParserDriver;
extern const void* (*KeyEvaluator)();
extern bool ParserLinked;

// Empties the three tables and clears the linked flags (the engine's start).
void ClearDrivers();

}  // namespace tz
