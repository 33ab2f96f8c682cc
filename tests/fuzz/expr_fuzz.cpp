// An expression text as an index file or a caller brings it (a tag's key or FOR expression, a
// filter): the input is the text. It is compiled against a real table (C, N, D, L and M fields,
// the memo values in a real memo file, a second table under an alias) and evaluated on each of
// its records, with errors stored and again with errors raised; a key and a condition check
// run on it too. Whatever the text, compiling stores no error but 351 and 354, evaluating none
// but 358 and 354, and a text result fits its pool with its terminating zero behind it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/index/tzparser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace tz;

[[noreturn]] void Finding(const char* what, const std::string& text) {
  std::fprintf(stderr, "expression fuzz target: %s (DbLastError %u) for the text [%s]\n", what,
               DbLastError, text.c_str());
  std::abort();
}

// HERSTELLER C15, MODELL C20, PREIS N8.2, DATUM D, AKTIV L, NOTIZ M, ANZ N5, as the expression
// tests' table; the third record is deleted and holds a "?" logical.
const char* const kRecords[] = {
    " Nokia          6310i                 123.4520240229T%10d    7",
    " Siemens        S45                     0.00        F%10d   -3",
    "*Ericsson       T68i                   -5.5019991231?%10d     ",
};
const char* const kMemos[] = {"Erste Zeile\r\n zweite", "", "Ericsson\x8D\nT68i"};

void OpenTables() {
  std::vector<TFieldEntry> fields = {{"HERSTELLER", 'C', 15}, {"MODELL", 'C', 20},
                                     {"PREIS", 'N', 8, 2},    {"DATUM", 'D', 8},
                                     {"AKTIV", 'L', 1},       {"NOTIZ", 'M', 10},
                                     {"ANZ", 'N', 5}};
  std::string path = (kfuzz::Folder() / "telstamm.dbf").string();
  TDbfTable created;
  if (!CreateDBF(created, path, fields)) Finding("the table could not be made", path);
  Select(1);
  Use(path);
  TWorkArea& wa = *SelectedArea();
  for (size_t i = 0; i < std::size(kRecords); ++i) {
    int32_t block = AddMemo(kMemos[i]);
    char line[128];
    std::snprintf(line, sizeof line, kRecords[i], block);
    std::memcpy(wa.Table.Record.data(), line, std::min(wa.Table.Record.size(), strlen(line)));
    PutDbfRecord(wa.Table, wa.Table.RecordCount + 1);
  }
  Select(2);
  Use(path + " ALIAS second");
  GO(2);
  Select(1);
  if (DbLastError != 0) Finding("the tables could not be opened", GetErrorMessage());
}

void CheckResult(const CompiledExpr& e, const void* result, const std::string& text) {
  if (!result) Finding("no result", text);
  if (DbLastError != 0 && DbLastError != 358 && DbLastError != 354)
    Finding("evaluating stored an unexpected error", text);
  if (e.result_type == 'C' || e.result_type == 'M') {
    if (e.result_length > e.pool_size) Finding("the result is longer than its pool", text);
    if (static_cast<const char*>(result)[e.result_length] != '\0')
      Finding("the result has no terminating zero", text);
  }
}

void CompileAndEvaluate(const std::string& text) {
  DbLastError = 0;
  CompiledExpr* e = AssignExpr(text);
  if (!e) {
    if (DbLastError != 351 && DbLastError != 354) Finding("compiling stored an unexpected error", text);
    TakeErrorContext();
    return;
  }
  if (DbLastError != 0) Finding("a compiled expression left an error", text);
  for (int32_t n = 1; n <= 4; ++n) {
    GO(n);  // 4: the blank record past the end
    DbLastError = 0;
    CheckResult(*e, EvaluateExpr(e), text);
    TakeErrorContext();
  }
  FreeExpr(e);
  if (e) Finding("FreeExpr kept the expression", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One library for the whole process, started with the first input: compiling and
  // evaluating change no file, and every run frees what it compiled.
  static kfuzz::LibraryRun* run = [] {
    auto* r = new kfuzz::LibraryRun(kfuzz::ErrorMode::kStored);
    OpenTables();
    return r;
  }();
  (void)run;
  std::string text(reinterpret_cast<const char*>(data), size);
  SetErrorReporting(false);
  CompileAndEvaluate(text);

  // The same with errors raised: the exception leaves nothing compiled behind.
  SetErrorReporting(true);
  SetRaiseErrors(true);
  try {
    CompiledExpr* e = AssignExpr(text);
    if (e) {
      for (int32_t n = 1; n <= 3; ++n) {
        GO(n);
        try {
          EvaluateExpr(e);
        } catch (const ETarazedError&) {
        }
      }
      FreeExpr(e);
    }
  } catch (const ETarazedError&) {
  }
  SetRaiseErrors(false);
  SetErrorReporting(false);
  DbLastError = 0;
  TakeErrorContext();

  std::string key = text, condition = text;
  ValidateExpression(key, true);
  ValidateCondition(condition);
  DbLastError = 0;
  TakeErrorContext();
  return 0;
}
