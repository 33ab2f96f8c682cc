// A table file (.dbf) written by another program: the input is the table, then optionally the
// separator and the commands (tests/fuzz/table_session.h). No memo file and no index exist.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/table_session.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kfuzz::InitializeProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = kfuzz::SplitParts(data, size, 2);
  kfuzz::TableFiles files;
  files.dbf = parts[0];
  kfuzz::RunTableSession(files, parts[1]);
  return 0;
}
