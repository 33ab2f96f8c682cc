// Memo files against independent implementations: python3-dbfread and libdbd-xbase-perl read
// what we write, and we read what libdbd-xbase-perl and python3-dbf write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "memo_test_support.h"
#include "platform/testing/child_process.h"

namespace tz {
namespace {

using MemoPeers = MemoTest;

std::string Peer(const std::string& name) {
  return std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/tables/engine/peers/" + name;
}

// Runs a program to its end: its output lines joined with "\n", then ":" and its exit status.
std::string RunPeer(const std::string& program, const std::vector<std::string>& args) {
  platform::ChildProcess child(program, args);
  child.CloseInput();
  std::string out;
  for (std::string line; !(line = child.ReadLine(30000)).empty();) out += line + "\n";
  return out + ":" + std::to_string(child.Wait());
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// The values of the peer tests, in Windows-1252; the tables are OEM (code page 850).
const std::vector<std::string> kValues = {
    "abc",
    std::string(600, 'x'),
    "line one\r\nline two",
    "Gr\xFC\xDF"
    "e",
};
const std::string kStoredUmlauts =
    "Gr\x81\xE1"
    "e";  // the fourth value in code page 850

// What a reader printed: ID -> the memo's bytes in hex ("-" for none); "status" -> its exit
// status.
std::map<std::string, std::string> Parse(const std::string& output) {
  std::map<std::string, std::string> values;
  size_t at = 0;
  for (size_t end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = output.substr(at, end - at);
    size_t tab = line.find('\t');
    if (tab != std::string::npos) values[line.substr(0, tab)] = line.substr(tab + 1);
  }
  values["status"] = output.substr(output.rfind(':') + 1);
  return values;
}

TEST_F(MemoPeers, IndependentReadersReadOurMemoFiles) {
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(int(version));
    std::string table = MakeTable(version, version == 0xF5 ? 64 : 512);
    for (size_t i = 0; i < kValues.size(); ++i)
      AppendWithMemo(static_cast<int32_t>(i + 1), AddMemo(kValues[i]));
    AppendWithMemo(5, 0);
    CloseDatabase();
    auto dbfread =
        Parse(RunPeer("/usr/bin/python3", {Peer("read_memos_dbfread.py"), table, "cp850"}));
    auto xbase = Parse(RunPeer("/usr/bin/perl", {Peer("read_memos_xbase.pl"), table}));
    EXPECT_EQ(dbfread["status"], "0");
    EXPECT_EQ(xbase["status"], "0");
    for (size_t i = 0; i < kValues.size(); ++i) {
      std::string id = std::to_string(i + 1);
      std::string expected = Hex(i == 3 ? kStoredUmlauts : kValues[i]);
      EXPECT_EQ(xbase[id], expected) << id;
      // dbfread 2.0.7 takes a dBASE IV block header's length (value + 8) for the value's
      // length and so returns the 8 bytes after the value as well (zeros of the padding, or
      // the next block's first bytes).
      std::string& got = dbfread[id];
      bool dbase4 = version == 0x8B;
      EXPECT_EQ(got.substr(0, expected.size()), expected) << id;
      EXPECT_LE(got.size(), expected.size() + (dbase4 ? 16 : 0)) << id;
    }
    EXPECT_EQ(xbase["5"], "-");
    EXPECT_EQ(dbfread["5"], "-");
    std::filesystem::remove(table);
    std::filesystem::remove(MemoPath(version));
  }
}

TEST_F(MemoPeers, IndependentReadersReadEveryValueAfterRewritesAndAppends) {
  // Values that grow (and move, freeing their runs), shrink (in place), are dropped (their runs
  // freed), then new ones that take freed runs or go to the end after them, and BLOBs.
  for (uint16_t block_size : {512, 64}) {
    SCOPED_TRACE(block_size);
    std::string table = MakeTable(0x8B, block_size);
    std::vector<std::string> values;
    std::vector<int32_t> blocks;
    for (int i = 0; i < 12; ++i) {
      values.push_back("value " + std::to_string(i) + std::string(i * 97 % 900, 'a' + i));
      blocks.push_back(AddMemo(values.back()));
    }
    for (int i = 0; i < 12; i += 3) {
      values[size_t(i)] = "grown " + std::to_string(i) + std::string(1000 + i, 'g');
      blocks[size_t(i)] = EditTo(blocks[size_t(i)], values[size_t(i)]);
      values[size_t(i + 1)] = "shrunk";
      blocks[size_t(i + 1)] = EditTo(blocks[size_t(i + 1)], values[size_t(i + 1)]);
    }
    blocks[5] = EditTo(blocks[5], "");
    values[5] = "";
    for (int i = 0; i < 6; ++i) {
      values.push_back(i % 2 ? "late " + std::to_string(i) + std::string(i * 150, 'l')
                             : "blob " + std::to_string(i) + std::string(i * 130, 'b'));
      blocks.push_back(i % 2 ? AddMemo(values.back()) : WriteBlob(values.back()));
    }
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    for (size_t i = 0; i < values.size(); ++i)
      AppendWithMemo(static_cast<int32_t>(i + 1), blocks[i]);
    CloseDatabase();
    auto xbase = Parse(RunPeer("/usr/bin/perl", {Peer("read_memos_xbase.pl"), table}));
    // dbfread 2.0.7 reads dBASE IV memo files in blocks of 512, whatever their header says.
    bool dbfread_reads = block_size == 512;
    std::map<std::string, std::string> dbfread;
    if (dbfread_reads) {
      dbfread = Parse(RunPeer("/usr/bin/python3", {Peer("read_memos_dbfread.py"), table, "cp850"}));
      EXPECT_EQ(dbfread["status"], "0");
    }
    EXPECT_EQ(xbase["status"], "0");
    for (size_t i = 0; i < values.size(); ++i) {
      std::string id = std::to_string(i + 1);
      std::string expected = values[i].empty() ? "-" : Hex(values[i]);
      EXPECT_EQ(xbase[id], expected) << id;
      if (!dbfread_reads) continue;
      // dbfread's 8 bytes too many, as above.
      EXPECT_EQ(dbfread[id].substr(0, expected.size()), expected) << id;
      EXPECT_LE(dbfread[id].size(), expected.size() + 16) << id;
    }
    std::filesystem::remove(table);
    std::filesystem::remove(MemoPath(0x8B));
  }
}

TEST_F(MemoPeers, WeReadTheMemoFilesOfIndependentWriters) {
  std::string folder = dir_.path().string();
  ASSERT_EQ(RunPeer("/usr/bin/perl", {Peer("write_memos_xbase.pl"), folder}), ":0");
  ASSERT_EQ(RunPeer("/usr/bin/python3", {Peer("write_memos_dbf.py"), folder}), ":0");
  // XBase marks its dBASE IV memo tables with the version byte 84h, which is no dBASE version
  // this engine opens; 8Bh is the dBASE IV version with a memo file.
  std::string x4 = platform::TempDir::Read(dir_ / "x4.dbf");
  ASSERT_EQ(x4[0], '\x84');
  x4[0] = '\x8B';
  dir_.Write("x4.dbf", x4);
  struct Case {
    const char* table;
    uint8_t type;
  } cases[] = {{"x3", 0x83}, {"x4", 0x8B}, {"xf", 0xF5}, {"pd3", 0x83}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    Use((dir_ / (std::string(c.table) + ".dbf")).string());
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(GetMemoType(), c.type);
    ASSERT_EQ(RecCount(), 5);
    for (int32_t n = 1; n <= 5; ++n) {
      GO(n);
      int32_t block;
      std::memcpy(&block, FieldAddress(2), sizeof block);
      if (n == 5) {  // no memo, or (python3-dbf) an empty one
        if (block != 0) {
          EXPECT_EQ(ReadBytes(block), "");
        }
        continue;
      }
      EXPECT_EQ(ReadBytes(block), n == 4 ? kStoredUmlauts : kValues[size_t(n - 1)]) << n;
    }
    GO(3);
    int32_t block;
    std::memcpy(&block, FieldAddress(2), sizeof block);
    EXPECT_EQ(Read(block), "line one/|line two");
    GO(4);
    std::memcpy(&block, FieldAddress(2), sizeof block);
    EXPECT_EQ(Read(block), kValues[3]);  // OEM to ANSI
    // A value added here reads back in the writer's own reader.
    GO(5);
    block = AddMemo("added");
    std::memcpy(FieldAddress(2), &block, sizeof block);
    TWorkArea& wa = *SelectedArea();
    PackRecord(wa.Table, wa.FieldValues);
    ASSERT_TRUE(PutDbfRecord(wa.Table, 5));
    CloseDatabase();
    auto xbase =
        Parse(RunPeer("/usr/bin/perl", {Peer("read_memos_xbase.pl"),
                                        (dir_ / (std::string(c.table) + ".dbf")).string()}));
    EXPECT_EQ(xbase["5"], Hex("added"));
    EXPECT_EQ(xbase["2"], Hex(kValues[1]));
  }
}

}  // namespace
}  // namespace tz
