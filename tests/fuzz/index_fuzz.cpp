// A production index file (.mdx) written by another program, with its table: the input is the
// table, the separator, the index file, then optionally the separator and the commands
// (tests/fuzz/table_session.h). The fixed part goes to every record in every order and seeks
// its key, so damaged separator keys and node numbers are met on the way down a tag's tree.
#include "tests/fuzz/table_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kfuzz::RunFilesInput(data, size, kfuzz::kWithIndex);
  return 0;
}
