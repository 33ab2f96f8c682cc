// A table file (.dbf) written by another program: the input is the table, then optionally the
// separator and the commands (tests/fuzz/table_session.h). No memo file and no index exist.
#include "tests/fuzz/table_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kfuzz::RunFilesInput(data, size, kfuzz::kTableOnly);
  return 0;
}
