// The second process of the file sharing and lock tests. It opens a file (and takes a range
// lock when asked), writes "ok" or "error <code>" on a line, then holds everything until its
// input is closed.
//   file_holder open <mode> <path>
//   file_holder lock <path> <offset> <length>      (opened with mode 66)
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace {

uint64_t Number(std::string_view text) {
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string_view command = argv[1];
  platform::File file;
  int rc;
  if (command == "open") {
    rc = file.Open(argv[3], static_cast<unsigned>(Number(argv[2])));
  } else if (command == "lock" && argc >= 5) {
    rc = file.Open(argv[2], platform::kModeReadWriteShared);
    if (rc == 0) rc = file.LockRange(Number(argv[3]), Number(argv[4]));
  } else {
    return 2;
  }
  std::string line = rc == 0 ? "ok\n" : "error " + std::to_string(rc) + "\n";
  if (write(1, line.data(), line.size()) < 0) return 3;
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}
