// The second process of the memo lock tests: opens a table shared, writes "ready", waits until
// its input is closed, then adds memo values and writes the block number of each on a line.
//   memo_writer <table path> <count> <prefix>
// Value i is the prefix, i and a run of dots whose length varies with i.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>

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
  for (int i = 0; i < count; ++i) {
    std::string value = std::string(argv[3]) + std::to_string(i) + std::string(i * 37 % 1500, '.');
    int32_t block = tz::AddMemo(value);
    Say(tz::DbLastError == 0 ? std::to_string(block) : "error " + std::to_string(tz::DbLastError));
  }
  tz::EndTarazed();
  return 0;
}
