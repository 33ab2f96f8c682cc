// A memo value read and written line by line, the way a text file is. The caller owns the
// object; the memo unit's AssignMemo (MemoDriver slot 0, tzdrivers.h) binds it to the value
// whose block number the caller's variable holds, in the work area selected at that moment, by
// filling the routines below. An unbound object (a routine left empty) reads as an empty value.
//
//   MemoTextFile f;
//   MemoDriver.AssignMemo(f, &block);
//   if (f.Reset && f.Reset()) for (std::string line; f.ReadLine(line);) ...;
//   if (f.Close) f.Close();
//
// The memo unit's routines select the bound work area for their work and restore the
// selection. Reading loads the value into the file's own line table (GetMemoLines, memo.h);
// writing collects the text into lines (a CR, an LF or CR LF ends one; long lines wrap as
// GetMemo wraps them), and closing a file open for writing stores the lines as the value
// (EditMemoLines) and puts the new block number into the caller's variable, which must outlive
// the open file. The file's own failures leave their code for IoResult: 101 too many lines,
// 104 not open for reading, 105 not open for writing; failures of the memo file are reported
// through SetDbError as memo.h says (in raise mode they throw) and their code is the IoResult
// too. Nothing here pumps or blocks beyond the memo lock of EditMemo.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tz {

struct MemoTextFile {
  // Opens the value for reading from its first line; false (with DbLastError set) on failure.
  std::function<bool()> Reset;
  // The next line without its line end, at most 255 characters; false after the last line.
  std::function<bool(std::string& line)> ReadLine;
  // Ends the reading and frees what the memo unit holds for it; a file open for writing first
  // stores its lines as the value (the caller's variable is left as it was when that fails).
  std::function<void()> Close;
  // Opens for writing an empty value / for writing after the value's existing text; false
  // (with the IoResult set) on failure.
  std::function<bool()> Rewrite;
  std::function<bool()> Append;
  // Adds text to the value being written / the text and a line end.
  std::function<bool(std::string_view text)> Write;
  std::function<bool(std::string_view text)> WriteLine;
  // No line is left to read.
  std::function<bool()> Eof;
  // The code of the last failure, then 0 again.
  std::function<int()> IoResult;
};

// Binds `file` to the value whose block number `*block` holds, in the selected work area; when
// CheckMemoField("AssignMemo") fails the file stays unbound. A file bound before is closed
// first without storing. `block` must outlive the file's use.
void AssignMemo(MemoTextFile& file, int32_t* block);

// The memo search of Locate: does any line of the memo whose block number leads
// `memo_field_text` (the M field's stored characters; blanks or 0: no memo, no match) contain
// `search_value`? Lines are upper-cased first unless `case_sensitive` (the search value comes
// prepared). Without the memo unit (MemoDriver slot 0 empty): error 220 "MEMO unit not linked
// in [Count/Sum/Continue]" and no match.
bool MemoContains(const std::string& search_value, const std::string& memo_field_text,
                  bool case_sensitive);

}  // namespace tz
