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

// How the writer stores value i in its record mode, by turns: added; added and at once
// replaced by its edited form; streamed in two pieces through a BLOB write descriptor.
enum class MemoWriterWay { kAdd, kEdit, kBlob };
inline MemoWriterWay MemoWriterWayOf(int i) {
  return static_cast<MemoWriterWay>(i % 3);
}
// The bytes that record i's memo holds then.
inline std::string MemoWriterStored(const std::string& prefix, int i) {
  return MemoWriterValue(prefix, i, MemoWriterWayOf(i) == MemoWriterWay::kEdit);
}

}  // namespace tz
