#include "tables/engine/memotextfile.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/memounit.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdrivers.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

// Selects a work area for the life of the object, then the one selected before.
class ScopedSelection {
 public:
  explicit ScopedSelection(uint8_t area) : saved_(CurrentWorkArea) { CurrentWorkArea = area; }
  ~ScopedSelection() { CurrentWorkArea = saved_; }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  uint8_t saved_;
};

constexpr int kTooManyLines = 101;
constexpr int kNotOpenForInput = 104;
constexpr int kNotOpenForOutput = 105;

size_t LineCapacity() {
  return static_cast<size_t>(std::max(MemoMaxLines, 0));
}

// What the routines of one bound file share.
class MemoTextState {
 public:
  MemoTextState(int32_t* block, uint8_t area) : block_(block), area_(area) {}

  bool Reset() { return Open(Mode::kInput, true); }
  bool Rewrite() { return Open(Mode::kOutput, false); }
  bool Append() {
    if (!Open(Mode::kOutput, true)) return false;
    // Writing continues the last line when the value did not end it.
    if (!lines_.Lines.empty() && lines_.Ends.back() == kNoLineEnd) {
      written_ = lines_.Lines.back();
      lines_.Lines.pop_back();
      lines_.Ends.pop_back();
    }
    return true;
  }

  bool ReadLine(std::string& line) {
    line.clear();
    if (mode_ != Mode::kInput) return Fail(kNotOpenForInput);
    if (next_line_ >= lines_.Lines.size()) return false;
    line = lines_.Lines[next_line_++];
    return true;
  }
  bool Eof() const { return mode_ != Mode::kInput || next_line_ >= lines_.Lines.size(); }

  bool Write(std::string_view text) {
    if (mode_ != Mode::kOutput) return Fail(kNotOpenForOutput);
    written_.append(text);
    return true;
  }

  void Close() {
    if (mode_ == Mode::kOutput) Store();
    mode_ = Mode::kClosed;
    lines_.Clear();
    written_.clear();
    next_line_ = 0;
  }

  int IoResult() { return std::exchange(io_result_, 0); }

 private:
  enum class Mode { kClosed, kInput, kOutput };

  bool Fail(int code) {
    io_result_ = code;
    return false;
  }

  bool Open(Mode mode, bool load) {
    Close();
    if (load) {
      ScopedSelection select(area_);
      DbLastError = 0;
      if (!GetMemoLines(lines_, *block_, 0)) {
        lines_.Clear();
        return Fail(DbLastError);
      }
      if (lines_.Total > static_cast<int32_t>(lines_.Lines.size())) {
        lines_.Clear();
        return Fail(kTooManyLines);
      }
    }
    mode_ = mode;
    return true;
  }

  // The lines written become the value.
  void Store() {
    TMemoLineTable added;
    SplitMemoText(written_, LineCapacity(), added);
    if (lines_.Lines.size() + static_cast<size_t>(added.Total) > LineCapacity()) {
      Fail(kTooManyLines);
      return;
    }
    lines_.Lines.insert(lines_.Lines.end(), added.Lines.begin(), added.Lines.end());
    lines_.Ends.insert(lines_.Ends.end(), added.Ends.begin(), added.Ends.end());
    ScopedSelection select(area_);
    DbLastError = 0;
    int32_t block = EditMemoLines(lines_, *block_);
    if (DbLastError == 0) {
      *block_ = block;
    } else {
      Fail(DbLastError);
    }
  }

  int32_t* block_;
  uint8_t area_;
  Mode mode_ = Mode::kClosed;
  TMemoLineTable lines_;
  size_t next_line_ = 0;
  std::string written_;  // text written since the open, not yet split into lines
  int io_result_ = 0;
};

}  // namespace

void AssignMemo(MemoTextFile& file, int32_t* block) {
  file = MemoTextFile();  // a file bound before ends without storing
  if (CheckMemoField("AssignMemo")) return;
  auto state = std::make_shared<MemoTextState>(block, CurrentWorkArea);
  file.Reset = [state] { return state->Reset(); };
  file.ReadLine = [state](std::string& line) { return state->ReadLine(line); };
  file.Close = [state] { state->Close(); };
  file.Rewrite = [state] { return state->Rewrite(); };
  file.Append = [state] { return state->Append(); };
  file.Write = [state](std::string_view text) { return state->Write(text); };
  file.WriteLine = [state](std::string_view text) {
    return state->Write(text) && state->Write("\r\n");
  };
  file.Eof = [state] { return state->Eof(); };
  file.IoResult = [state] { return state->IoResult(); };
}

bool MemoContains(const std::string& search_value, const std::string& memo_field_text,
                  bool case_sensitive) {
  if (!MemoDriver.AssignMemo) {
    SetDbError(220, "MEMO unit not linked in [Count/Sum/Continue]");
    return false;
  }
  int32_t block = MemoBlockOfField(memo_field_text);
  if (block == 0) return false;
  MemoTextFile file;
  MemoDriver.AssignMemo(file, &block);
  bool found = false;
  if (file.Reset && file.Reset() && file.ReadLine) {
    for (std::string line; !found && file.ReadLine(line);)
      found = (case_sensitive ? line : Upper(line)).find(search_value) != std::string::npos;
  }
  if (file.Close) file.Close();
  return found;
}

}  // namespace tz
