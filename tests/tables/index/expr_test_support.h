// What the expression tests share: a real table file in a temporary folder, opened in work
// area 1, with C, N, D, L and M fields, and a small stand-in for the memo unit's AssignMemo in
// MemoDriver slot 0 that serves memo texts line by line from a map. Errors are stored, not
// reported, so a test reads DbLastError and the context.
#pragma once

#include <charconv>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/dbf4.h"
#include "tables/engine/memotextfile.h"
#include "tables/engine/tzdrivers.h"
#include "tables/index/tzndxlow.h"
#include "tables/index/tzparser.h"
#include "tests/tables/engine/engine_test_support.h"

namespace tz {

// The memo texts by block number, and the work area that was selected when a memo was bound.
inline std::map<int32_t, std::vector<std::string>> g_memo_texts;
inline uint8_t g_memo_area = 0;

inline void StandInAssignMemo(MemoTextFile& file, int32_t* block) {
  g_memo_area = CurrentWorkArea;
  auto lines = std::make_shared<std::vector<std::string>>(g_memo_texts[*block]);
  auto next = std::make_shared<size_t>(0);
  file.Reset = [] { return true; };
  file.ReadLine = [lines, next](std::string& line) {
    if (*next >= lines->size()) return false;
    line = (*lines)[(*next)++];
    return true;
  };
  file.Close = [] {};
}

// HERSTELLER C15, MODELL C20, PREIS N8.2, DATUM D, AKTIV L, NOTIZ M, ANZ N5.
inline const std::vector<RawField> kPhoneFields = {
    {"HERSTELLER", 'C', 15}, {"MODELL", 'C', 20}, {"PREIS", 'N', 8, 2}, {"DATUM", 'D', 8},
    {"AKTIV", 'L', 1},       {"NOTIZ", 'M', 10},  {"ANZ", 'N', 5},
};
inline const std::vector<std::string> kPhoneRecords = {
    // deleted, HERSTELLER, MODELL, PREIS, DATUM, AKTIV, NOTIZ, ANZ
    " Nokia          6310i                 123.4520240229T         1    7",
    " Siemens        S45                     0.00        F             -3",
    "*Ericsson       T68i                   -5.5019991231?         2     ",
};

class ExprTest : public EngineTest {
 protected:
  ExprTest() {
    DbReportErrors = false;
    g_memo_texts = {{1, {"Erste Zeile", " zweite"}}, {2, {"Ericsson"}}};
    g_memo_area = 0;
    MemoDriver.AssignMemo = StandInAssignMemo;
    OpenTable("telstamm.dbf", kPhoneFields, kPhoneRecords);
  }
  ~ExprTest() override { CloseAll(); }

  // Writes a table file and opens it in the selected work area (with an optional USE suffix).
  // Records shorter than the record size are filled up with blanks.
  void OpenTable(const std::string& name, const std::vector<RawField>& fields,
                 std::vector<std::string> records, const std::string& options = "") {
    size_t size = 1;
    for (const RawField& f : fields) size += f.length;
    for (std::string& r : records)
      if (r.size() < size) r.resize(size, ' ');
    std::string path = dir_.Write(name, RawTable(0x8B, fields, records)).string();
    // The memo unit opens the memo file of an 8Bh table: an empty one; the texts come from the
    // stand-in.
    ASSERT_TRUE(CreateEmptyMemofile(path, 0x8B, 512, "OpenTable"));
    Use(path + options);
    ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
  }

  platform::TempDir dir_;
};

// The context of a compile error with `message` and the window `window` of the text.
inline std::string CompileError(const std::string& message, const std::string& window) {
  return "Error in expression : " + message + "\r\n" + window + "\r\n [AssignExpr]";
}

// A result as text: C and M the text, N the shortest decimal form, D YYYYMMDD (8 blanks for
// the blank date), L .T. or .F.
inline std::string Rendered(const CompiledExpr& e, const void* result) {
  switch (e.result_type) {
    case 'N': {
      char buf[64];
      auto end = std::to_chars(buf, buf + sizeof buf, *static_cast<const double*>(result)).ptr;
      return std::string(buf, end);
    }
    case 'D':
      return JulianToDtos(*static_cast<const double*>(result));
    case 'L':
      return *static_cast<const int32_t*>(result) ? ".T." : ".F.";
    default:
      return std::string(static_cast<const char*>(result), e.result_length);
  }
}

}  // namespace tz
