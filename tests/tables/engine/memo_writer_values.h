// The values the two processes of the memo sharing tests write, so that each side knows what the
// other one stored: value i of a writer is its prefix, i and a run of filler whose length
// varies with i; `edited` gives the value that replaces it, longer or shorter, so that edits
// move some values and free their runs for the next ones.
#pragma once

#include <string>

namespace tz {

inline std::string MemoWriterValue(const std::string& prefix, int i, bool edited) {
  if (edited)
    return prefix + "edited " + std::to_string(i) + std::string((i * 71 + 400) % 1900, '#');
  return prefix + std::to_string(i) + std::string(i * 37 % 1500, '.');
}

}  // namespace tz
