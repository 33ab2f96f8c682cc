// The memo file layouts byte for byte: empty files, the first value, block runs, header
// maintenance, the free chain, and damaged files.
#include "tables/engine/memoformat.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "memo_test_support.h"

namespace tz {
namespace {

using MemoFormat = MemoTest;

std::string Zeros(size_t n) {
  return std::string(n, '\0');
}

TEST_F(MemoFormat, EmptyFileAndFirstValueByteForByte) {
  struct Case {
    uint8_t version;
    uint16_t block_size;
    std::string empty;  // the memo file of the new table
    std::string after;  // after AddMemo("abc")
    const char* field;  // the record's M field
  } cases[] = {
      {0x83, 512, Bytes({1}) + Zeros(511) + "\x1A",
       Bytes({2, 0, 0, 0}) + Zeros(508) + "abc\x1A" + Zeros(508), "         1"},
      {0x8B, 512, Bytes({1, 0, 0, 0, 0, 0, 0, 0, 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 2, 0, 0}),
       Bytes({2, 0, 0, 0, 0, 0, 0, 0, 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 2, 0, 0}) +
           Zeros(8) + Bytes({1, 0, 0, 0}) + Zeros(476) +
           Bytes({0xFF, 0xFF, 0x08, 0x00, 0x0B, 0, 0, 0}) + "abc" + Zeros(501),
       "         1"},
      {0xF5, 64, Bytes({0, 0, 0, 8, 0, 0, 0, 0x40}) + Zeros(504),
       Bytes({0, 0, 0, 9, 0, 0, 0, 0x40}) + Zeros(504) + Bytes({0, 0, 0, 1, 0, 0, 0, 3}) + "abc",
       "         8"},
      {0xF5, 512, Bytes({0, 0, 0, 1, 0, 0, 2, 0}) + Zeros(504),
       Bytes({0, 0, 0, 2, 0, 0, 2, 0}) + Zeros(504) + Bytes({0, 0, 0, 1, 0, 0, 0, 3}) + "abc",
       "         1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << int(c.version) << " " << std::dec << c.block_size);
    MakeTable(c.version, c.block_size);
    EXPECT_EQ(MemoBytes(c.version), c.empty);
    int32_t block = AddMemo("abc   ");
    AppendWithMemo(1, block);
    EXPECT_EQ(MemoBytes(c.version), c.after);
    EXPECT_EQ(StoredField(1), c.field);
    EXPECT_EQ(Read(block), "abc");
    CloseDatabase();
    std::filesystem::remove_all(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, AValueTakesTheBlocksOfItsBytesAndHeader) {
  // ceil((n + 1) / size) blocks for a dBASE III text (its 1Ah), ceil((n + 8) / size) with a
  // block header: the value after it starts at the block given.
  struct Case {
    uint8_t version;
    uint16_t block_size;
    size_t length;
    int32_t first, second;
  } cases[] = {
      {0x83, 512, 3, 1, 2},     {0x83, 512, 511, 1, 2},   {0x83, 512, 512, 1, 3},
      {0x8B, 512, 504, 1, 2},   {0x8B, 512, 505, 1, 3},   {0x8B, 512, 600, 1, 3},
      {0x8B, 1024, 1016, 1, 2}, {0x8B, 1024, 1017, 1, 3}, {0xF5, 64, 56, 8, 9},
      {0xF5, 64, 57, 8, 10},    {0xF5, 512, 504, 1, 2},   {0xF5, 512, 505, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.version) << std::dec << " " << c.block_size
                                    << " " << c.length);
    MakeTable(c.version, c.block_size);
    std::string text(c.length, 'x');
    EXPECT_EQ(AddMemo(text), c.first);
    EXPECT_EQ(AddMemo("next"), c.second);
    EXPECT_EQ(ReadBytes(c.first), text);
    EXPECT_EQ(ReadBytes(c.second), "next");
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, ASixHundredByteDbaseFourValue) {
  MakeTable(0x8B);
  EXPECT_EQ(AddMemo(std::string(600, 'v')), 1);
  std::string file = MemoBytes(0x8B);
  ASSERT_EQ(file.size(), 512u + 1024u);  // the second block padded at once
  EXPECT_EQ(file.substr(512, 8), Bytes({0xFF, 0xFF, 0x08, 0x00, 0x60, 0x02, 0x00, 0x00}));
  // The header: the next free block is the end of the file (3), the block counter 2.
  EXPECT_EQ(file.substr(0, 4), Bytes({3, 0, 0, 0}));
  EXPECT_EQ(file.substr(32, 4), Bytes({2, 0, 0, 0}));
  EXPECT_EQ(AddMemo("after"), 3);
}

TEST_F(MemoFormat, ADbtFileEndsOnAWholeBlockAfterEveryWrite) {
  // Each write leaves its value's last block partly used: the file is padded at once, so a
  // program that takes the file's size in whole blocks for the next free block never writes
  // over it. FoxPro files keep their size as it is.
  enum Write { kAdd, kEdit, kBlob, kCopy, kPack };
  struct Case {
    uint8_t version;
    uint16_t block_size;
    Write write;
    uint64_t size;  // of the memo file afterwards
  } cases[] = {
      {0x8B, 512, kAdd, 1024},   // "abc" in block 1
      {0x8B, 512, kEdit, 2048},  // "abc" in block 1, then 600 bytes in blocks 2-3
      {0x8B, 512, kBlob, 1024},  // "abc" in block 1
      {0x8B, 512, kCopy, 1536},  // "abc" in blocks 1 and 2
      {0x8B, 512, kPack, 1024},  // "abc" in block 1 of the packed file
      {0x8B, 64, kAdd, 128},     // "abc" in block 1
      {0x8B, 64, kEdit, 768},    // 600 bytes in blocks 2-11
      {0x8B, 64, kBlob, 128},    // "abc" in block 1
      {0x83, 512, kAdd, 1024},   // "abc" and 1Ah in block 1 (as ever)
      {0x83, 512, kBlob, 1024},  // "abc" with a block header in block 1
      {0x83, 512, kCopy, 1536},  // "abc" in blocks 1 and 2
      {0xF5, 64, kAdd, 523},     // "abc" in block 8, not padded
      {0xF5, 64, kBlob, 523},    // the same through a BLOB
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.version) << std::dec << " " << c.block_size
                                    << " write " << c.write);
    MakeTable(c.version, c.block_size, "t", false, c.write == kPack ? " EXCLUSIVE" : "");
    int32_t block = 0;
    switch (c.write) {
      case kAdd:
        block = AddMemo("abc");
        break;
      case kEdit:
        block = EditTo(AddMemo("abc"), std::string(600, 'e'));  // moved to the end
        break;
      case kBlob:
        block = WriteBlob("abc");
        break;
      case kCopy:
        block = CopyMemo(GetWorkArea(), AddMemo("abc"), 0);
        break;
      case kPack:
        AppendWithMemo(1, AddMemo("abc"));
        AddMemo("not referred to");
        PackMemofile();
        block = 1;
        break;
    }
    EXPECT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(MemoBytes(c.version).size(), c.size);
    EXPECT_EQ(ReadBytes(block), c.write == kEdit ? std::string(600, 'e') : "abc");
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, TheFreeChainStaysTrueToTheFormatThroughRewritesAndAppends) {
  // A seeded mix of new values, edits that grow, shrink or drop values (moving them and freeing
  // their runs), BLOBs, copies and values no record refers to any more; after every write the
  // file as another program walks it: every free run outside every live value, the chain
  // ending at the end of the file, the file on a whole block.
  for (uint16_t block_size : {512, 64}) {
    SCOPED_TRACE(block_size);
    MakeTable(0x8B, block_size);
    std::mt19937 random(20261211 + block_size);
    auto text = [&random] {
      std::string t(1 + random() % 1300, ' ');
      for (char& ch : t) ch = static_cast<char>('a' + random() % 26);
      return t;
    };
    std::map<int32_t, std::string> live;  // block -> value
    auto any_live = [&]() -> std::pair<const int32_t, std::string>& {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      return *it;
    };
    for (int step = 0; step < 300; ++step) {
      SCOPED_TRACE(step);
      int what = live.empty() ? 0 : static_cast<int>(random() % 6);
      std::string value = text();
      int32_t block = 0;
      if (what == 0) {
        block = AddMemo(value);
      } else if (what <= 2) {
        int32_t old = any_live().first;
        if (random() % 8 == 0) value.clear();
        block = EditTo(old, value);
        live.erase(old);
      } else if (what == 3) {
        value[random() % value.size()] = '\0';
        block = WriteBlob(value);
      } else if (what == 4) {
        const auto& [source, copied] = any_live();
        value = copied;
        block = CopyMemo(GetWorkArea(), source, 0);
      } else {
        live.erase(any_live().first);  // its record deleted: dBASE keeps the blocks
        continue;
      }
      ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
      if (!value.empty()) live[block] = value;
      std::vector<int32_t> blocks;
      for (const auto& [b, unused] : live) blocks.push_back(b);
      ASSERT_EQ(Dbase4ChainFault(MemoBytes(0x8B), blocks), "");
    }
    for (const auto& [block, value] : live) EXPECT_EQ(ReadBytes(block), value) << block;
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, FreedRunsAreReusedAndNeverOverlapALiveValue) {
  MakeTable(0x8B);
  std::string a(600, 'a'), b = "bee", c = "sea";
  ASSERT_EQ(AddMemo(a), 1);  // blocks 1-2
  ASSERT_EQ(AddMemo(b), 3);
  // A grows past its run of two blocks: it moves to the end, its run goes to the free chain.
  MemoLines.Clear();
  MemoLines.Lines = {std::string(1100, 'A')};
  MemoLines.Ends = {kNoLineEnd};
  EXPECT_EQ(EditMemo(1), 4);
  EXPECT_EQ(MemoBytes(0x8B).substr(0, 4), Bytes({1, 0, 0, 0}));  // the chain starts at block 1
  EXPECT_EQ(MemoBytes(0x8B).substr(512, 8), Bytes({7, 0, 0, 0, 2, 0, 0, 0}));
  // Appended at the end, where the freed run pointed: the run now points past C.
  ASSERT_EQ(AddMemo(c), 7);
  EXPECT_EQ(MemoBytes(0x8B).substr(512, 8), Bytes({8, 0, 0, 0, 2, 0, 0, 0}));
  // A value of one block takes the first block of the freed run; the second stays free.
  MemoLines.Lines = {"one block"};
  EXPECT_EQ(EditMemo(0), 1);
  EXPECT_EQ(MemoBytes(0x8B).substr(0, 4), Bytes({2, 0, 0, 0}));
  EXPECT_EQ(MemoBytes(0x8B).substr(1024, 8), Bytes({8, 0, 0, 0, 1, 0, 0, 0}));
  // Two blocks do not fit the one left; they go to the end, and the run's pointer past them.
  MemoLines.Lines = {std::string(700, 'B')};
  EXPECT_EQ(EditMemo(0), 8);
  EXPECT_EQ(MemoBytes(0x8B).substr(1024, 8), Bytes({10, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Dbase4ChainFault(MemoBytes(0x8B), {1, 3, 4, 7, 8}), "");
  EXPECT_EQ(Read(1), "one block");
  EXPECT_EQ(ReadBytes(3), b);
  EXPECT_EQ(ReadBytes(4), std::string(1100, 'A'));
  EXPECT_EQ(ReadBytes(7), c);
  EXPECT_EQ(ReadBytes(8), std::string(700, 'B'));
  EXPECT_EQ(DbLastError, 0);
}

TEST_F(MemoFormat, DamagedChainsAreLeftAtTheEndOfTheFile) {
  // A value at block 1 and a free chain that has no sound room for a two-block value.
  const std::string value = Bytes({0xFF, 0xFF, 0x08, 0x00, 0x0D, 0, 0, 0}) + "alive";
  struct Case {
    const char* what;
    int head;                    // the header's first free block
    std::string block2, block3;  // what blocks 2 and 3 hold
    int32_t live = 0;            // a second value
    int32_t end = 4;             // where the new value goes: the end of the file
  } cases[] = {
      {"pointer to a value", 1, Zeros(512), Zeros(10)},
      {"pointer into the header", 0, Zeros(512), Zeros(10)},
      {"pointer past the end", 1000, Zeros(512), Zeros(10)},
      {"two runs in a cycle", 2, Bytes({3, 0, 0, 0, 1, 0, 0, 0}) + Zeros(504),
       Bytes({2, 0, 0, 0, 1, 0, 0, 0}) + Zeros(2)},
      {"a run past the end", 2, Bytes({9, 0, 0, 0, 50, 0, 0, 0}) + Zeros(504), Zeros(10)},
      {"a run of no blocks", 2, Bytes({9, 0, 0, 0, 0, 0, 0, 0}) + Zeros(504), Zeros(10)},
      {"a run over a value", 2, Bytes({4, 0, 0, 0, 2, 0, 0, 0}) + Zeros(504), value, 3},
      {"a run whose rest would start on a value", 2, Bytes({5, 0, 0, 0, 3, 0, 0, 0}) + Zeros(504),
       Zeros(512) + value, 4, 5},
      // As the engine left a run once the file had grown past it.
      {"a run that leads into the value after it", 2, Bytes({3, 0, 0, 0, 1, 0, 0, 0}) + Zeros(504),
       value, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeTable(0x8B);
    CloseDatabase();
    std::string header =
        Bytes({c.head & 0xFF, c.head >> 8, 0, 0}) + Zeros(14) + Bytes({2, 1, 0, 2}) + Zeros(490);
    dir_.Write("t.DBT", header + value + Zeros(512 - value.size()) + c.block2 + c.block3);
    Use((dir_ / "t.dbf").string());
    MemoLines.Clear();
    MemoLines.Lines = {std::string(600, 'n')};
    MemoLines.Ends = {kNoLineEnd};
    EXPECT_EQ(EditMemo(0), c.end);
    EXPECT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(Read(1), "alive");
    EXPECT_EQ(ReadBytes(c.end), std::string(600, 'n'));
    std::vector<int32_t> live = {1, c.end};
    if (c.live != 0) {
      EXPECT_EQ(Read(c.live), "alive");
      live.push_back(c.live);
    }
    // What the file holds now is sound for another program, whatever the damage was.
    EXPECT_EQ(Dbase4ChainFault(MemoBytes(0x8B), live), "");
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, AnEditNeverReachesAValueThatADamagedLengthCovers) {
  // Block 1 claims 2000 bytes (four blocks) but block 2 starts another value.
  MakeTable(0x8B);
  CloseDatabase();
  std::string header = Bytes({4, 0, 0, 0}) + Zeros(14) + Bytes({2, 1, 0, 2}) + Zeros(490);
  std::string damaged = Bytes({0xFF, 0xFF, 0x08, 0x00, 0xD8, 0x07, 0, 0}) + "damaged";
  std::string neighbour = Bytes({0xFF, 0xFF, 0x08, 0x00, 17, 0, 0, 0}) + "neighbour";
  dir_.Write("t.DBT", header + damaged + Zeros(512 - damaged.size()) + neighbour +
                          Zeros(1024 + 512 - neighbour.size()));
  Use((dir_ / "t.dbf").string());
  // Two blocks would fit the claimed run in place; the value goes to the end instead, and only
  // block 1 is given back.
  MemoLines.Clear();
  MemoLines.Lines = {std::string(700, 'e')};
  MemoLines.Ends = {kNoLineEnd};
  EXPECT_EQ(EditMemo(1), 5);
  EXPECT_EQ(DbLastError, 0) << GetErrorMessage();
  EXPECT_EQ(Read(2), "neighbour");
  EXPECT_EQ(MemoBytes(0x8B).substr(512, 8), Bytes({7, 0, 0, 0, 1, 0, 0, 0}));  // to the end
  // The freed block takes a value of one block, never two.
  MemoLines.Lines = {std::string(600, 'f')};
  EXPECT_EQ(EditMemo(0), 7);
  MemoLines.Lines = {"small"};
  EXPECT_EQ(EditMemo(0), 1);
  EXPECT_EQ(Read(2), "neighbour");
  EXPECT_EQ(ReadBytes(5), std::string(700, 'e'));
  EXPECT_EQ(ReadBytes(7), std::string(600, 'f'));
}

TEST_F(MemoFormat, DamagedValuesAreErrorsNotCrashes) {
  // Each file holds, from block 1 on, the bytes given; the reference is block 1 unless said.
  struct Case {
    const char* what;
    uint8_t version;
    std::string data;
    int32_t block;
    int code;          // GetMemo, CreateBlobDescriptor (read) and CopyMemo
    const char* text;  // what GetMemo reads when there is no error
  } cases[] = {
      {"dBASE IV: block past the end", 0x8B, Bytes({0xFF, 0xFF, 8, 0, 11, 0, 0, 0}) + "abc", 5,
       1003, ""},
      {"dBASE IV: block in the header", 0x8B, "", 0x7FFFFFFF, 1003, ""},
      {"dBASE IV: no block header", 0x8B, Zeros(16), 1, 1003, ""},
      {"dBASE IV: header length below 8", 0x8B, Bytes({0xFF, 0xFF, 8, 0, 7, 0, 0, 0}), 1, 1003, ""},
      {"dBASE IV: length past the end", 0x8B, Bytes({0xFF, 0xFF, 8, 0, 0x20, 0, 0, 0}) + "abc", 1,
       1003, ""},
      {"dBASE IV: truncated block header", 0x8B, Bytes({0xFF, 0xFF, 8}), 1, 1003, ""},
      {"FoxPro: length past the end", 0xF5, Bytes({0, 0, 0, 1, 0x7F, 0xFF, 0xFF, 0xFF}) + "ab", 1,
       1003, ""},
      {"FoxPro: truncated block header", 0xF5, Bytes({0, 0, 0, 1}), 1, 1003, ""},
      {"dBASE III: blob length past the end", 0x83, Bytes({0xFF, 0xFF, 8, 0, 0x40, 0, 0, 0}) + "ab",
       -1, 1003, ""},
      {"dBASE III: text without its end mark", 0x83, "abc", 1, 0, "abc"},
      {"dBASE III: block past the end", 0x83, "abc\x1A", 2, 1003, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeTable(c.version, 512, "t");
    CloseDatabase();
    std::string header = MemoBytes(c.version).substr(0, 512);
    header.resize(512, '\0');
    dir_.Write(c.version == 0xF5 ? "t.FPT" : "t.DBT", header + c.data);
    Use((dir_ / "t.dbf").string());
    EXPECT_EQ(Read(c.block), c.code == 0 ? std::string(c.text) : "error " + std::to_string(c.code));
    DbLastError = 0;
    CreateBlobDescriptor(false, c.block, 1);
    EXPECT_EQ(DbLastError, c.code);
    DestroyBlobDescriptor();
    DbLastError = 0;
    CopyMemo(GetWorkArea(), c.block, 0);
    EXPECT_EQ(DbLastError, c.code);
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
  EXPECT_EQ(Read(0), "error 215");
}

TEST_F(MemoFormat, AMemoFileCutShortReadsAsErrorsAndTakesNewValues) {
  struct Case {
    uint8_t version;
    size_t length;  // of the memo file, cut inside its header
  } cases[] = {{0x83, 0}, {0x83, 100}, {0x8B, 0}, {0x8B, 20}, {0xF5, 7}, {0xF5, 300}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.version) << " " << c.length);
    MakeTable(c.version);
    CloseDatabase();
    std::filesystem::resize_file(MemoPath(c.version), c.length);
    Use((dir_ / "t.dbf").string());
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(Read(1), "error 1003");
    EXPECT_EQ(ReadBytes(1), "error 1003");
    int32_t block = AddMemo("after the cut");
    EXPECT_EQ(block, 1);
    EXPECT_EQ(Read(block), "after the cut");
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoFormat, CopiedDbaseFourValuesCountBlocksOf512WithoutTheMark) {
  // A file with 64 at offset 20: the value at block 1 (offset 64) is read in the file itself;
  // copying reads block 1 at offset 64 only when the header carries 0102h at offset 18.
  const std::string at64 = Bytes({0xFF, 0xFF, 0x08, 0x00, 13, 0, 0, 0}) + "at 64";
  const std::string at512 = Bytes({0xFF, 0xFF, 0x08, 0x00, 14, 0, 0, 0}) + "at 512";
  struct Case {
    int mark18, mark19;
    const char* copied;
  } cases[] = {{0x02, 0x01, "at 64"}, {0x00, 0x00, "at 512"}, {0x01, 0x02, "at 512"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.copied);
    MakeTable(0x8B, 64, "src");
    CloseDatabase();
    std::string header = Bytes({9, 0, 0, 0}) + Zeros(14) + Bytes({c.mark18, c.mark19, 64, 0});
    std::string file = header + Zeros(64 - header.size()) + at64;
    file += Zeros(512 - file.size()) + at512;
    dir_.Write("src.DBT", file);
    Use((dir_ / "src.dbf").string());
    EXPECT_EQ(Read(1), "at 64");
    Select(2);
    MakeTable(0x8B, 512, "dst");
    int32_t copy = CopyMemo(1, 1, 0);
    EXPECT_EQ(Read(copy), c.copied);
    CloseDatabase();
    Select(1);
    CloseDatabase();
  }
}

TEST_F(MemoFormat, BlockSizeFromTheHeader) {
  struct Case {
    uint8_t type;
    std::string header;
    uint16_t size;
  } cases[] = {
      {0x83, Bytes({0, 0, 0, 0, 0, 0, 0, 0x40}), 512},
      {0xF5, Bytes({0, 0, 0, 0, 0, 0, 0x00, 0x40}), 64},
      {0xF5, Bytes({0, 0, 0, 0, 0, 0, 0, 0}), 512},
      {0xF5, Bytes({0, 0, 0}), 512},
      {0x8B, Zeros(20) + Bytes({0x00, 0x04}), 1024},
      {0x8C, Zeros(20) + Bytes({0x00, 0x02}), 512},
      {0x8B, Zeros(20) + Bytes({0, 0}), 512},
      {0x8B, Zeros(21), 512},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        MemoBlockSizeOf(c.type, reinterpret_cast<const uint8_t*>(c.header.data()), c.header.size()),
        c.size);
  }
  DbDefaultMemoBlockSize = 256;  // the default stands in for 0
  EXPECT_EQ(MemoBlockSizeOf(0x8B, reinterpret_cast<const uint8_t*>(Zeros(24).data()), 24), 256);
}

TEST_F(MemoFormat, MemoTypeAndFileOfTheTable) {
  struct Case {
    uint8_t version, default_version, type;
  } cases[] = {
      {0x83, 0x8B, 0x83}, {0x8B, 0x8B, 0x8B}, {0x8C, 0x8B, 0x8C}, {0xF5, 0x8B, 0xF5},
      {0x03, 0x8B, 0x8B}, {0x03, 0xF5, 0xF5}, {0x03, 0x03, 0x8B},
  };
  for (const Case& c : cases) {
    DbDefaultTableVersion = c.default_version;
    EXPECT_EQ(MemoTypeOfVersion(c.version), c.type);
  }
  DbDefaultTableVersion = 0x8B;
  EXPECT_EQ(GetMemoType(), 0x8B);  // no table
  MakeTable(0xF5);
  EXPECT_EQ(GetMemoType(), 0xF5);
  EXPECT_EQ(SelectedArea()->MemoArea->FileName, MemoPath(0xF5));
}

}  // namespace
}  // namespace tz
