// The BLOB descriptor: reading, writing, seeking, text detection, the memo lock it holds.
#include <gtest/gtest.h>

#include "memo_test_support.h"
#include "platform/testing/child_process.h"

namespace tz {
namespace {

using Blob = MemoTest;

int32_t Write(const std::string& bytes, bool detect_text = false) {
  int32_t block = CreateBlobDescriptor(detect_text, 0, 2);
  EXPECT_EQ(WriteBlobStream(bytes.data(), static_cast<int32_t>(bytes.size())),
            static_cast<int32_t>(bytes.size()));
  EXPECT_TRUE(DestroyBlobDescriptor());
  return block;
}

// The stored bytes of a headed value at `block`, read from the memo file: header and data.
std::string Stored(int32_t block, size_t length) {
  TMemoArea& memo = *SelectedArea()->MemoArea;
  std::string bytes(8 + length, '\0');
  size_t got = 0;
  memo.File.ReadAt(uint64_t(block < 0 ? -block : block) * memo.BlockSize, bytes.data(),
                   bytes.size(), &got);
  bytes.resize(got);
  return bytes;
}

TEST_F(Blob, ADbaseThreeBlobAnswersANegativeBlockAndReadsBackExactly) {
  MakeTable(0x83);
  const std::string bytes("bin\0ary\x1A\xFF\r\n", 11);
  int32_t block = Write(bytes);
  EXPECT_EQ(block, -1);
  EXPECT_EQ(Stored(block, bytes.size()), Bytes({0xFF, 0xFF, 0x08, 0x00, 19, 0, 0, 0}) + bytes);
  EXPECT_EQ(ReadBytes(block), bytes);
  EXPECT_EQ(ReadBytes(-block), bytes);  // the header is found by the bytes, not the sign
  EXPECT_EQ(CreateBlobDescriptor(false, block, 1), -1);
  DestroyBlobDescriptor();
  EXPECT_EQ(AddMemo("text"), 2);
  EXPECT_EQ(CreateBlobDescriptor(false, 2, 1), 2);
}

TEST_F(Blob, ADbaseThreeTextEndsBeforeItsEndMark) {
  MakeTable(0x83);
  int32_t block = AddMemo("hello");
  CreateBlobDescriptor(false, block, 1);
  EXPECT_EQ(SeekBlobStream(0, 2), 5);  // the length, found before reading
  EXPECT_EQ(SeekBlobStream(0, 0), 0);
  char buffer[100];
  EXPECT_EQ(ReadBlobStream(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(ReadBlobStream(buffer, sizeof buffer), 0);
  EXPECT_EQ(SeekBlobStream(-2, 2), 3);
  EXPECT_EQ(ReadBlobStream(buffer, sizeof buffer), 2);
  EXPECT_EQ(std::string(buffer, 2), "lo");
  DestroyBlobDescriptor();
}

TEST_F(Blob, ReadingInPiecesStaysInsideTheValue) {
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(int(version));
    MakeTable(version);
    int32_t first = Write("0123456789abcdef");
    AddMemo("the next value");
    CreateBlobDescriptor(false, first, 1);
    std::string read;
    char piece[7];
    for (int32_t n; (n = ReadBlobStream(piece, sizeof piece)) > 0;) read.append(piece, n);
    EXPECT_EQ(read, "0123456789abcdef");
    EXPECT_EQ(WriteBlobStream("x", 1), 0);  // not open for writing
    EXPECT_EQ(SeekBlobStream(-4, 1), 12);
    EXPECT_EQ(ReadBlobStream(piece, sizeof piece), 4);
    EXPECT_EQ(SeekBlobStream(-100, 1), 0);
    DestroyBlobDescriptor();
    EXPECT_EQ(ReadBlobStream(piece, sizeof piece), 0);  // no descriptor
    EXPECT_EQ(CreateBlobDescriptor(false, 0, 1), 0);    // no value: nothing to read
    EXPECT_EQ(ReadBlobStream(piece, sizeof piece), 0);
    EXPECT_EQ(DbLastError, 0);
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(Blob, TheStoredLengthIsTheHighestPositionWritten) {
  MakeTable(0x8B);
  int32_t block = CreateBlobDescriptor(false, 0, 2);
  ASSERT_EQ(block, 1);
  WriteBlobStream("0123456789", 10);
  EXPECT_EQ(SeekBlobStream(2, 0), 2);
  WriteBlobStream("abc", 3);
  EXPECT_EQ(SeekBlobStream(0, 1), 5);
  EXPECT_EQ(SeekBlobStream(-3, 2), 7);
  EXPECT_EQ(ReadBlobStream(nullptr, 5), 0);  // not open for reading
  ASSERT_TRUE(DestroyBlobDescriptor());
  EXPECT_EQ(Stored(block, 10), Bytes({0xFF, 0xFF, 0x08, 0x00, 18, 0, 0, 0}) + "01abc56789");
  // Past the end: the gap reads as zeros.
  block = CreateBlobDescriptor(false, 0, 2);
  SeekBlobStream(3, 0);
  WriteBlobStream("z", 1);
  DestroyBlobDescriptor();
  EXPECT_EQ(ReadBytes(block), std::string("\0\0\0z", 4));
}

TEST_F(Blob, WritesGoToTheEndAndNeverIntoAFreedRun) {
  MakeTable(0x8B);
  ASSERT_EQ(AddMemo(std::string(600, 'a')), 1);  // blocks 1-2
  ASSERT_EQ(AddMemo("neighbour"), 3);
  MemoLines.Clear();
  MemoLines.Lines = {std::string(250, 'A'), std::string(250, 'A'), std::string(250, 'A'),
                     std::string(250, 'A'), std::string(250, 'A')};
  MemoLines.Ends.assign(5, kHardLineEnd);
  ASSERT_EQ(EditMemo(1), 4);  // blocks 1-2 are free now
  int32_t block = CreateBlobDescriptor(false, 1, 2);
  EXPECT_EQ(block, 7);
  std::string big(3000, 'b');
  WriteBlobStream(big.data(), static_cast<int32_t>(big.size()));
  DestroyBlobDescriptor();
  EXPECT_EQ(ReadBytes(7), big);
  EXPECT_EQ(ReadBytes(3), "neighbour");
  EXPECT_EQ(AddMemo("after"), 13);  // 7 + ceil(3008 / 512)
}

TEST_F(Blob, TheFirstBytesDecideBetweenTextAndBinary) {
  MakeTable(0x8B);  // an OEM table
  struct Case {
    std::string bytes;
    bool detect;
    std::string stored;
  } cases[] = {
      {"Gr\xFC\xDF"
       "e",
       true,
       "Gr\x81\xE1"
       "e"},
      {"Gr\xFC\xDF"
       "e",
       false,
       "Gr\xFC\xDF"
       "e"},
      {"Gr\xFC\xDF"
       "e\x01",
       true,
       "Gr\xFC\xDF"
       "e\x01"},
      {"\t\xFC\x0F\x14\x15\r\n", true, "\t\x81\x0F\x14\x15\r\n"},
      {std::string("\xFC\0", 2), true, std::string("\xFC\0", 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    int32_t block = Write(c.bytes, c.detect);
    EXPECT_EQ(Stored(block, c.bytes.size()).substr(8), c.stored);
    CreateBlobDescriptor(c.detect, block, 1);
    std::string back(c.bytes.size(), '\0');
    EXPECT_EQ(ReadBlobStream(back.data(), static_cast<int32_t>(back.size())),
              static_cast<int32_t>(back.size()));
    DestroyBlobDescriptor();
    EXPECT_EQ(back, c.bytes);
  }
}

TEST_F(Blob, AWriteDescriptorHoldsTheMemoLockUntilItIsDestroyed) {
  MakeTable(0x8B);
  int32_t block = CreateBlobDescriptor(false, 0, 2);
  WriteBlobStream("streamed", 8);
  {
    platform::ChildProcess other(FILE_HOLDER, {"lock", MemoPath(0x8B), "10", "1"});
    EXPECT_EQ(other.ReadLine(), "error 33");
  }
  // Nothing may be appended behind a value that is still growing.
  EXPECT_EQ(AddMemo("blocked"), 0);
  EXPECT_EQ(DbLastError, 1017);
  ASSERT_TRUE(DestroyBlobDescriptor());
  {
    platform::ChildProcess other(FILE_HOLDER, {"lock", MemoPath(0x8B), "10", "1"});
    EXPECT_EQ(other.ReadLine(), "ok");
  }
  EXPECT_EQ(ReadBytes(block), "streamed");
  // A new descriptor finishes the one still open.
  int32_t first = CreateBlobDescriptor(false, 0, 2);
  WriteBlobStream("first", 5);
  int32_t second = CreateBlobDescriptor(false, 0, 2);
  WriteBlobStream("second", 6);
  DestroyBlobDescriptor();
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(ReadBytes(first), "first");
  EXPECT_EQ(ReadBytes(second), "second");
}

TEST_F(Blob, ClosingTheTableFinishesAnOpenWriteDescriptor) {
  std::string table = MakeTable(0xF5);
  int32_t block = CreateBlobDescriptor(false, 0, 2);
  WriteBlobStream("kept", 4);
  CloseDatabase();
  Use(table);
  EXPECT_EQ(ReadBytes(block), "kept");
  EXPECT_EQ(MemoBytes(0xF5).substr(0, 4), Bytes({0, 0, 0, 2}));
}

}  // namespace
}  // namespace tz
