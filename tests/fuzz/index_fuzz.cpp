// A production index file (.mdx) written by another program, with its table: the input is the
// table, the separator, the index file, then optionally the separator and the commands
// (tests/fuzz/table_session.h). The fixed part goes to every record in every order and seeks
// its key, so damaged separator keys and node numbers are met on the way down a tag's tree.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/table_session.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kfuzz::InitializeProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = kfuzz::SplitParts(data, size, 3);
  kfuzz::TableFiles files;
  files.dbf = parts[0];
  files.mdx = parts[1];
  files.has_index = true;
  kfuzz::RunTableSession(files, parts[2]);
  return 0;
}
