// A memo file (.dbt or .fpt) written by another program, with the table that refers to it:
// the input is the table, the separator, the memo file, then optionally the separator and the
// commands (tests/fuzz/table_session.h).
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
  files.memo = parts[1];
  files.has_memo = true;
  kfuzz::RunTableSession(files, parts[2]);
  return 0;
}
