// The second process of the memo lock tests: opens a table shared, writes "ready", waits until
// its input is closed, then adds memo values and writes the block number of each on a line.
//   memo_writer <table path> <count> <prefix> [edit]
// Value i is MemoWriterValue(prefix, i, false); with "edit" each value is replaced right after
// it was added by MemoWriterValue(prefix, i, true), and the block that holds it then is written.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>

#include "memo_writer_values.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

void Say(const std::string& line) {
  std::string text = line + "\n";
  if (write(1, text.data(), text.size()) < 0) _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  int count = 0;
  std::string_view count_text = argv[2];
  std::from_chars(count_text.data(), count_text.data() + count_text.size(), count);
  tz::StartTarazed();
  tz::SetErrorReporting(false);
  tz::Use(argv[1]);
  if (tz::DbLastError != 0) {
    Say("error " + std::to_string(tz::DbLastError));
    return 1;
  }
  Say("ready");
  char c;
  while (read(0, &c, 1) > 0) {
  }
  bool edit = argc > 4 && std::string_view(argv[4]) == "edit";
  for (int i = 0; i < count; ++i) {
    int32_t block = tz::AddMemo(tz::MemoWriterValue(argv[3], i, false));
    if (edit && tz::DbLastError == 0) {
      tz::TMemoLineTable lines;
      lines.Lines = {tz::MemoWriterValue(argv[3], i, true)};
      lines.Ends = {tz::kNoLineEnd};
      block = tz::EditMemoLines(lines, block);
    }
    Say(tz::DbLastError == 0 ? std::to_string(block) : "error " + std::to_string(tz::DbLastError));
  }
  tz::EndTarazed();
  return 0;
}
