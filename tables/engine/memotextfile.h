// A memo value read line by line, the way a text file is read. The caller owns the object; the
// memo unit's AssignMemo (MemoDriver slot 0, tzdrivers.h) binds it to the value whose block
// number the caller's variable holds, in the work area selected at that moment, by filling the
// routines below. An unbound object (a routine left empty) reads as an empty value.
#pragma once

#include <functional>
#include <string>

namespace tz {

struct MemoTextFile {
  // Opens the value for reading from its first line; false (with DbLastError set) on failure.
  std::function<bool()> Reset;
  // The next line without its line end, at most 255 characters; false after the last line.
  std::function<bool(std::string& line)> ReadLine;
  // Ends the reading and frees what the memo unit holds for it.
  std::function<void()> Close;
};

}  // namespace tz
