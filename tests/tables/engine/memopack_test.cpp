// Packing memo files: only the values the records refer to stay, the references follow them,
// and a failure leaves the table as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "memo_test_support.h"
#include "tables/engine/memoformat.h"

namespace tz {
namespace {

class MemoPack : public MemoTest {
 protected:
  // Appends a record with both memo fields set.
  void AppendRecord(int32_t id, int32_t note, int32_t other) {
    TWorkArea& wa = *SelectedArea();
    ClearRecord();
    std::memcpy(FieldAddress(1), &id, sizeof id);
    std::memcpy(FieldAddress(2), &note, sizeof note);
    std::memcpy(FieldAddress(3), &other, sizeof other);
    PackRecord(wa.Table, wa.FieldValues);
    ASSERT_TRUE(PutDbfRecord(wa.Table, wa.Table.RecordCount + 1)) << GetErrorMessage();
    UnpackRecord(wa.Table, wa.FieldValues);
  }

  // Three records: (first, none), (600 x, a binary value), (none, th\0rd); an orphan value, an
  // edited one and a freed run in between.
  void FillTable() {
    int32_t first = AddMemo("first");
    AddMemo("orphan");
    int32_t big = AddMemo(std::string(600, 'x'));
    MemoLines.Clear();
    MemoLines.Lines = {std::string(200, 'e'), std::string(200, 'e'), std::string(200, 'e')};
    MemoLines.Ends.assign(3, kHardLineEnd);
    EditMemo(AddMemo("edited away"));
    int32_t binary = WriteBlob(std::string("bin\0", 4));
    int32_t third = AddMemo(std::string("th\0rd", 5));  // a text with a zero byte stays whole
    AppendRecord(1, first, 0);
    AppendRecord(2, big, binary);
    AppendRecord(3, 0, third);
  }
};

TEST_F(MemoPack, OnlyTheValuesTheRecordsReferToStay) {
  struct Case {
    uint8_t version;
    uint16_t block_size;
    const char *first, *big, *binary, *third;  // the references after the pack
    size_t size;                               // of the packed file
  } cases[] = {
      {0x83, 512, "         1", "         2", "        -4", "         5", 3072},
      {0x8B, 512, "         1", "         2", "         4", "         5", 3072},
      {0xF5, 64, "         8", "         9", "        19", "        20", 1293},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.version));
    std::string table = MakeTable(c.version, c.block_size, "t", true, " EXCLUSIVE");
    FillTable();
    MemoDriver.PackMemofile();
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(StoredField(1, 2), c.first);
    EXPECT_EQ(StoredField(1, 3), "         0");
    EXPECT_EQ(StoredField(2, 2), c.big);
    EXPECT_EQ(StoredField(2, 3), c.binary);
    EXPECT_EQ(StoredField(3, 2), "         0");
    EXPECT_EQ(StoredField(3, 3), c.third);
    std::string file = MemoBytes(c.version);
    EXPECT_EQ(file.size(), c.size);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "t.$$$"));
    // The header names the end of the file as the next free block.
    uint32_t next = 0;
    for (int i = 0; i < 4; ++i)
      next |= uint32_t(uint8_t(file[c.version == 0xF5 ? 3 - i : i])) << (8 * i);
    EXPECT_EQ(next, BlocksOf(file.size(), c.block_size));
    EXPECT_EQ(ReadBytes(std::stoi(c.first)), "first");
    EXPECT_EQ(ReadBytes(std::stoi(c.big)), std::string(600, 'x'));
    EXPECT_EQ(ReadBytes(std::stoi(c.binary)), std::string("bin\0", 4));
    EXPECT_EQ(ReadBytes(std::stoi(c.third)), std::string("th\0rd", 5));
    // The current record (3) was read again: its field value holds the new reference.
    int32_t current;
    std::memcpy(&current, FieldAddress(3), sizeof current);
    EXPECT_EQ(current, std::stoi(c.third));
    // The packed file goes on working.
    int32_t added = AddMemo("added");
    EXPECT_EQ(uint64_t(added), BlocksOf(file.size(), c.block_size));
    EXPECT_EQ(ReadBytes(added), "added");
    CloseDatabase();
    std::filesystem::remove(table);
  }
}

TEST_F(MemoPack, TranslatedTablesGetTheirRecordsRewritten) {
  std::string table = MakeTable(0x8B, 512, "t", true, " EXCLUSIVE");
  CloseDatabase();
  auto swap = [](char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) b[i] = b[i] == 'x' ? 'y' : b[i] == 'y' ? 'x' : b[i];
  };
  UseWithTables(table + " EXCLUSIVE", nullptr, 0, swap, swap);
  FillTable();
  PackMemofile();
  ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
  EXPECT_EQ(StoredField(2, 2), "         2");
  EXPECT_EQ(Read(2),
            std::string(254, 'x') + "~|" + std::string(254, 'x') + "~|" + std::string(92, 'x'));
  EXPECT_EQ(MemoBytes(0x8B).substr(1024 + 8, 3), "yyy");  // as the translation stores it
}

TEST_F(MemoPack, PackingNeedsTheTableForItself) {
  MakeTable(0x8B, 512, "t", true);
  AppendRecord(1, AddMemo("shared"), 0);
  PackMemofile();
  EXPECT_EQ(DbLastError, 225);
  EXPECT_EQ(TakeErrorContext(), MemoPath(0x8B) + " [PackMemofile]");
}

TEST_F(MemoPack, AValueThatCannotBeReadLeavesEverythingAsItWas) {
  std::string table = MakeTable(0x8B, 512, "t", true, " EXCLUSIVE");
  FillTable();
  AppendRecord(4, 99, 0);  // no block 99
  std::string memo = MemoBytes(0x8B), records = platform::TempDir::Read(table);
  PackMemofile();
  EXPECT_EQ(DbLastError, 1003);
  EXPECT_EQ(TakeErrorContext(), " Memo block # 99 Record # 4 [PackMemo]");
  EXPECT_EQ(MemoBytes(0x8B), memo);
  EXPECT_EQ(platform::TempDir::Read(table), records);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.$$$"));
  EXPECT_EQ(ReadBytes(1), "first");
}

TEST_F(MemoPack, AFailedRenamePutsTheReferencesBackBeforeItIsReported) {
  std::string table = MakeTable(0x8B, 512, "t", true, " EXCLUSIVE");
  FillTable();
  std::string records = platform::TempDir::Read(table);
  // A folder with a file in it takes the memo file's name, so the packed file cannot get it;
  // the table still has its old memo file open.
  std::filesystem::remove(MemoPath(0x8B));
  std::filesystem::create_directory(MemoPath(0x8B));
  dir_.Write("t.DBT/inside", "x");
  SetErrorReporting(true);
  SetRaiseErrors(true);
  EXPECT_THROW(PackMemofile(), ETarazedError);
  SetRaiseErrors(false);
  SetErrorReporting(false);
  EXPECT_NE(DbLastError, 0);
  EXPECT_EQ(platform::TempDir::Read(table), records);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.$$$"));
  EXPECT_EQ(ReadBytes(1), "first");
  std::string big = StoredField(2, 2);
  EXPECT_EQ(ReadBytes(std::stoi(big)), std::string(600, 'x'));
}

}  // namespace
}  // namespace tz
