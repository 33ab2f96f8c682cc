// The second process of the memo lock tests: opens a table shared, writes "ready", waits until
// its input is closed, then adds memo values and writes the block number of each on a line.
//   memo_writer <table path> <count> <prefix> [edit | records]
// Value i is MemoWriterValue(prefix, i, false); with "edit" each value is replaced right after
// it was added by MemoWriterValue(prefix, i, true), and the block that holds it then is written.
// With "records" value i is stored as MemoWriterWayOf(i) says and then appended, under the
// append lock, as a record with ID i and the value's block in NOTE; the block is written once
// the record is.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
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

int32_t Edit(const std::string& text, int32_t block) {
  tz::TMemoLineTable lines;
  lines.Lines = {text};
  lines.Ends = {tz::kNoLineEnd};
  return tz::EditMemoLines(lines, block);
}

// Value i stored the way MemoWriterWayOf(i) gives; its block.
int32_t Store(const std::string& prefix, int i) {
  std::string value = tz::MemoWriterValue(prefix, i, false);
  switch (tz::MemoWriterWayOf(i)) {
    case tz::MemoWriterWay::kAdd:
      return tz::AddMemo(value);
    case tz::MemoWriterWay::kEdit: {
      int32_t block = tz::AddMemo(value);
      return tz::DbLastError == 0 ? Edit(tz::MemoWriterValue(prefix, i, true), block) : 0;
    }
    case tz::MemoWriterWay::kBlob: {
      int32_t block = tz::CreateBlobDescriptor(false, 0, 2);
      int32_t half = static_cast<int32_t>(value.size() / 2);
      tz::WriteBlobStream(value.data(), half);
      tz::WriteBlobStream(value.data() + half, static_cast<int32_t>(value.size()) - half);
      return tz::DestroyBlobDescriptor() ? block : 0;
    }
  }
  return 0;
}

void AppendRecord(int32_t id, int32_t block) {
  while (!tz::ALock()) usleep(100);
  tz::ClearRecord();
  std::memcpy(tz::FieldAddress(1), &id, sizeof id);
  std::memcpy(tz::FieldAddress(2), &block, sizeof block);
  tz::Append();
  tz::Unlock();
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
  std::string_view mode = argc > 4 ? argv[4] : "";
  for (int i = 0; i < count; ++i) {
    int32_t block;
    if (mode == "records") {
      block = Store(argv[3], i);
      if (tz::DbLastError == 0) AppendRecord(i, block);
    } else {
      block = tz::AddMemo(tz::MemoWriterValue(argv[3], i, false));
      if (mode == "edit" && tz::DbLastError == 0)
        block = Edit(tz::MemoWriterValue(argv[3], i, true), block);
    }
    Say(tz::DbLastError == 0 ? std::to_string(block) : "error " + std::to_string(tz::DbLastError));
  }
  tz::EndTarazed();
  return 0;
}
