// A memo file (.dbt or .fpt) written by another program, with the table that refers to it:
// the input is the table, the separator, the memo file, then optionally the separator and the
// commands (tests/fuzz/table_session.h).
#include "tests/fuzz/table_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kfuzz::RunFilesInput(data, size, kfuzz::kWithMemo);
  return 0;
}
