// Memo operations: adding, reading and editing values through the line table, the text
// conversions, copying, the text device and the memo search, errors, the memo lock against a
// second process, and what a second process killed in the middle of its writes leaves.
#include "tables/engine/memo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "memo_test_support.h"
#include "memo_writer_values.h"
#include "platform/clock.h"
#include "platform/testing/child_process.h"
#include "tables/engine/memotextfile.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

using MemoOps = MemoTest;

void SetLines(std::vector<std::string> lines, std::vector<uint8_t> ends) {
  MemoLines.Clear();
  MemoLines.Lines = std::move(lines);
  MemoLines.Ends = std::move(ends);
}

TEST_F(MemoOps, AddMemoOfBlanksWritesNothing) {
  MakeTable(0x83);
  std::string before = MemoBytes(0x83);
  EXPECT_EQ(AddMemo("   "), 0);
  EXPECT_EQ(AddMemo(""), 0);
  EXPECT_EQ(MemoBytes(0x83), before);
  EXPECT_EQ(DbLastError, 0);
}

TEST_F(MemoOps, StoredBytesSplitIntoLines) {
  DbAnsiTables = true;  // the bytes as they are
  MakeTable(0x8B);
  struct Case {
    std::string stored;
    const char* lines;
  } cases[] = {
      {"a\r\nb", "a/|b"},
      {"a\rb", "a/|b"},
      {"a\nb", "a/|b"},
      {"a\x8D\nb", "a~|b"},
      {"a\x8D"
       "b",
       "a\x8D"
       "b"},
      {"a\r\n\r\nb", "a/|/|b"},
      {"a\r\n", "a/"},
      {"\r\n", "/"},
      {"a\x8D\n\nb", "a~|/|b"},
      {"tab\there", "tab\there"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(Read(WriteBlob(c.stored)), c.lines);
  }
  EXPECT_EQ(Read(0), "");
}

TEST_F(MemoOps, LineTableRoundTripInEveryLayout) {
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(int(version));
    MakeTable(version);
    SetLines({"line one", "line two", "three"}, {kHardLineEnd, kSoftLineEnd, kNoLineEnd});
    int32_t block = EditMemo(0);
    ASSERT_GT(block, 0) << GetErrorMessage();
    EXPECT_EQ(ReadBytes(block), "line one\r\nline two\x8D\nthree");
    MemoLines.Clear();
    EXPECT_EQ(Read(block), "line one/|line two~|three");
    SetLines({}, {});
    EXPECT_EQ(EditMemo(block), 0);  // no lines: no value
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoOps, LongLinesWrapAtTheirLastBlank) {
  MakeTable(0x8B);
  std::string a(100, 'a'), b(149, 'b'), c(49, 'c');
  int32_t block = AddMemo(a + " " + b + " " + c + "\r\n" + std::string(600, 'n'));
  EXPECT_EQ(Read(block), a + " " + b + " ~|" + c + "/|" + std::string(254, 'n') + "~|" +
                             std::string(254, 'n') + "~|" + std::string(92, 'n'));
  // Written back, the wrapped lines carry soft line ends and read the same again.
  int32_t again = EditMemo(block);
  EXPECT_EQ(ReadBytes(again), a + " " + b + " \x8D\n" + c + "\r\n" + std::string(254, 'n') +
                                  "\x8D\n" + std::string(254, 'n') + "\x8D\n" +
                                  std::string(92, 'n'));
  EXPECT_EQ(Read(again), a + " " + b + " ~|" + c + "/|" + std::string(254, 'n') + "~|" +
                             std::string(254, 'n') + "~|" + std::string(92, 'n'));
}

TEST_F(MemoOps, GetMemoKeepsTheLinesAskedFor) {
  MakeTable(0x8B);
  int32_t block = AddMemo("1\r\n2\r\n3\r\n4");
  ASSERT_TRUE(GetMemo(block, 2));
  EXPECT_EQ(Lines(MemoLines), "1/|2/");
  EXPECT_EQ(MemoLines.Total, 4);
  MemoMaxLines = 3;
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(Lines(MemoLines), "1/|2/|3/");
  EXPECT_EQ(MemoLines.Total, 4);
}

TEST_F(MemoOps, EditingKeepsTheBlockWhenTheValueFitsItsRun) {
  // 250 characters and CR LF twice: 504 bytes, one 512-byte block with the block header.
  const std::string x(250, 'x'), y(250, 'y');
  struct Case {
    uint8_t version;
    int32_t same_size, larger;  // where the value is after the edit
  } cases[] = {
      {0x8B, 1, 3},  // in place, then moved to the end
      {0x83, 3, 4},  // always at the end
      {0xF5, 3, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.version));
    MakeTable(c.version);
    SetLines({x, y}, {kHardLineEnd, kHardLineEnd});
    ASSERT_EQ(EditMemo(0), 1);
    ASSERT_EQ(AddMemo("neighbour"), 2);
    SetLines({y, x}, {kHardLineEnd, kHardLineEnd});
    EXPECT_EQ(EditMemo(1), c.same_size);
    EXPECT_EQ(Read(2), "neighbour");
    EXPECT_EQ(Read(c.same_size), y + "/|" + x + "/");
    SetLines({x + "!", y}, {kHardLineEnd, kHardLineEnd});
    EXPECT_EQ(EditMemo(c.same_size), c.larger);
    EXPECT_EQ(Read(2), "neighbour");
    EXPECT_EQ(Read(c.larger), x + "!/|" + y + "/");
    CloseDatabase();
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

// A translation procedure of a table: swaps a and b.
void SwapAB(char* buffer, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (buffer[i] == 'a') {
      buffer[i] = 'b';
    } else if (buffer[i] == 'b') {
      buffer[i] = 'a';
    }
  }
}

TEST_F(MemoOps, TextIsConvertedTheSameWayOnTheTextAndTheBlobPath) {
  const std::string text =
      "Gr\xFC\xDF"
      "e aus Bad";  // "Grüße aus Bad" in Windows-1252
  struct Case {
    bool ansi_tables;
    bool swap;           // the table has the a/b translation procedures
    std::string stored;  // in the memo file
  } cases[] = {
      {false, false,
       "Gr\x81\xE1"
       "e aus Bad"},  // code page 850
      {true, false,
       "Gr\xFC\xDF"
       "e aus Bad"},
      {true, true,
       "Gr\xFC\xDF"
       "e bus Bbd"},
      {false, true,
       "Gr\x81\xE1"
       "e bus Bbd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ansi_tables << c.swap);
    MakeTable(0x8B);
    CloseDatabase();
    DbAnsiTables = c.ansi_tables;
    UseWithTables((dir_ / "t.dbf").string(), nullptr, 0, c.swap ? SwapAB : nullptr,
                  c.swap ? SwapAB : nullptr);
    int32_t by_text = AddMemo(text);
    int32_t by_blob = CreateBlobDescriptor(true, 0, 2);
    WriteBlobStream(text.data(), static_cast<int32_t>(text.size()));
    DestroyBlobDescriptor();
    for (int32_t block : {by_text, by_blob}) {
      TMemoArea& memo = *SelectedArea()->MemoArea;
      std::string stored(c.stored.size(), '\0');
      size_t got = 0;
      memo.File.ReadAt(uint64_t(block) * 512 + 8, stored.data(), stored.size(), &got);
      EXPECT_EQ(stored, c.stored);
      EXPECT_EQ(Read(block), text);
      CreateBlobDescriptor(true, block, 1);
      char back[64] = {};
      EXPECT_EQ(ReadBlobStream(back, sizeof back), static_cast<int32_t>(text.size()));
      DestroyBlobDescriptor();
      EXPECT_EQ(std::string(back), text);
    }
    CloseDatabase();
    DbAnsiTables = false;
    std::filesystem::remove(dir_.path() / "t.dbf");
  }
}

TEST_F(MemoOps, CopyMemoBetweenLayouts) {
  MakeTable(0x83, 512, "src");
  int32_t text = AddMemo("hello\r\nworld");
  int32_t binary = WriteBlob(std::string("bin\x1A\0ary", 8));  // a dBASE III BLOB
  int32_t fifth = 0;
  for (int i = 0; i < 3; ++i) fifth = AddMemo("filler " + std::to_string(i));
  ASSERT_EQ(binary, -2);
  ASSERT_EQ(fifth, 5);
  Select(2);
  MakeTable(0x8B, 512, "dst");
  EXPECT_EQ(CopyMemo(1, text, 0), 1);
  EXPECT_EQ(Read(1), "hello/|world");
  EXPECT_EQ(CopyMemo(1, binary, 0), 2);
  EXPECT_EQ(ReadBytes(2), std::string("bin\x1A\0ary", 8));
  // Mode 1: the source's block number when that is at or past the end, else the end.
  EXPECT_EQ(CopyMemo(1, fifth, 1), 5);
  EXPECT_EQ(Read(5), "filler 2");
  EXPECT_EQ(CopyMemo(1, 3, 1), 6);
  EXPECT_EQ(Read(6), "filler 0");
  EXPECT_EQ(ReadBytes(2), std::string("bin\x1A\0ary", 8));  // untouched by the copies after it
  // Back into dBASE III: a value a text cannot hold comes back as a BLOB (negative).
  Select(1);
  EXPECT_EQ(CopyMemo(2, 2, 0), -6);
  EXPECT_EQ(ReadBytes(-6), std::string("bin\x1A\0ary", 8));
  EXPECT_EQ(CopyMemo(2, 1, 0), 7);
  EXPECT_EQ(Read(7), "hello/|world");
  EXPECT_EQ(CopyMemo(2, 0, 0), 0);
  EXPECT_EQ(DbLastError, 0) << GetErrorMessage();
  EXPECT_EQ(CopyMemo(9, 1, 0), 0);
  EXPECT_EQ(DbLastError, 1019);
  EXPECT_EQ(TakeErrorContext(), " No Memo Field [CopyMemo]");
}

TEST_F(MemoOps, CopyingADbaseThreeTextEndsAtAZeroByte) {
  MakeTable(0x83, 512, "src");
  CloseDatabase();
  dir_.Write("src.DBT", Bytes({2}) + std::string(511, '\0') + std::string("abc\0def\x1A", 8));
  Use((dir_ / "src.dbf").string());
  Select(2);
  MakeTable(0x83, 512, "dst");
  EXPECT_EQ(CopyMemo(1, 1, 0), 1);
  EXPECT_EQ(MemoBytes(0x83, "dst").substr(512, 5), std::string("abc\x1A\0", 5));
}

TEST_F(MemoOps, TextDeviceReadsWritesAndAppendsLines) {
  MakeTable(0x8B);
  int32_t block = 0;
  MemoTextFile file;
  MemoDriver.AssignMemo(file, &block);
  ASSERT_TRUE(file.Rewrite());
  EXPECT_TRUE(file.Write("first line\r\nsecond"));
  EXPECT_TRUE(file.WriteLine(" continued"));
  std::string line;
  EXPECT_FALSE(file.ReadLine(line));
  EXPECT_EQ(file.IoResult(), 104);  // not open for reading
  file.Close();
  EXPECT_EQ(file.IoResult(), 0);
  EXPECT_EQ(block, 1);
  EXPECT_EQ(ReadBytes(block), "first line\r\nsecond continued\r\n");

  ASSERT_TRUE(file.Append());
  file.Write("third");
  file.Close();
  ASSERT_TRUE(file.Append());  // continues the line that has no end yet
  file.Write(" and more");
  file.Close();
  EXPECT_EQ(ReadBytes(block), "first line\r\nsecond continued\r\nthird and more");

  // The routines work in the file's own work area, whatever is selected.
  Select(5);
  ASSERT_TRUE(file.Reset());
  std::vector<std::string> lines;
  while (file.ReadLine(line)) lines.push_back(line);
  EXPECT_TRUE(file.Eof());
  EXPECT_FALSE(file.Write("x"));
  EXPECT_EQ(file.IoResult(), 105);
  file.Close();
  EXPECT_EQ(lines, (std::vector<std::string>{"first line", "second continued", "third and more"}));
  EXPECT_EQ(GetWorkArea(), 5);

  // A value that cannot be read: Reset fails with its code.
  Select(1);
  int32_t bad = 99;
  MemoDriver.AssignMemo(file, &bad);
  EXPECT_FALSE(file.Reset());
  EXPECT_EQ(file.IoResult(), 1003);
  // Writing stores nothing when the value cannot be written; the variable keeps its block.
  ASSERT_TRUE(file.Rewrite());
  file.Write(std::string(40000 * 3, '\n'));  // more lines than the line table holds
  file.Close();
  EXPECT_EQ(file.IoResult(), 101);
  EXPECT_EQ(bad, 99);

  // Assigning in an area without a memo file leaves the file unbound.
  Select(5);
  MemoDriver.AssignMemo(file, &block);
  EXPECT_EQ(DbLastError, 215);
  EXPECT_FALSE(file.Reset);
}

TEST_F(MemoOps, MemoContainsSearchesEveryLine) {
  MakeTable(0x8B);
  int32_t block = AddMemo("Hello World\r\nsecond Line");
  std::string field = "         " + std::to_string(block);
  struct Case {
    const char* search;
    bool case_sensitive;
    std::string field;
    bool found;
  } cases[] = {
      {"WORLD", false, field, true},
      {"World", true, field, true},
      {"WORLD", true, field, false},
      {"LD SE", false, field, false},  // not across lines
      {"LINE", false, field, true},
      {"Line", true, field, true},
      {"WORLD", false, "          ", false},
      {"WORLD", false, "         0", false},
      {"", false, field, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.search);
    EXPECT_EQ(MemoContains(c.search, c.field, c.case_sensitive), c.found);
  }
  MemoDriver.AssignMemo = nullptr;  // the memo unit is not linked in
  EXPECT_FALSE(MemoContains("WORLD", field, false));
  EXPECT_EQ(DbLastError, 220);
  EXPECT_EQ(TakeErrorContext(), "MEMO unit not linked in [Count/Sum/Continue]");
}

TEST_F(MemoOps, LocateSearchesTheLinesOfMemoTexts) {
  MakeTable(0x8B);
  AppendWithMemo(1, AddMemo("nothing here"));
  AppendWithMemo(2, AddMemo("Hello World\r\nsecond Line"));
  AppendWithMemo(3, 0);
  AppendWithMemo(4, AddMemo("world again"));
  EXPECT_TRUE(LocateValue("NOTE", std::string("world"), true, 1, false));
  EXPECT_EQ(RecNo(), 2);
  Continue();
  EXPECT_EQ(RecNo(), 4);
  EXPECT_FALSE(LocateValue("NOTE", std::string("World"), false, 3, false));
  EXPECT_TRUE(LocateValue("NOTE", std::string("Line"), false, 1, false));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(DbLastError, 0);
}

TEST_F(MemoOps, ErrorsOfTheMemoRoutines) {
  TDbfTable plain;
  std::string path = (dir_ / "plain.dbf").string();
  ASSERT_TRUE(CreateDBF(plain, path, {{"ID", 'N', 5}}));
  Use(path);
  EXPECT_EQ(CreateBlobDescriptor(true, 1, 1), 0);
  EXPECT_EQ(DbLastError, 1019);
  EXPECT_EQ(TakeErrorContext(),
            SelectedArea()->Table.FileName + " No Memo Field [CreateBlobDescriptor]");
  EXPECT_EQ(AddMemo("x"), 0);
  EXPECT_EQ(DbLastError, 1019);
  CloseDatabase();
  EXPECT_EQ(AddMemo("x"), 0);
  EXPECT_EQ(DbLastError, 215);
  EXPECT_EQ(TakeErrorContext(), " [AddMemo]");

  std::string table = MakeTable(0x8B);
  OpenMemofile(RemoveExtension(table));
  EXPECT_EQ(DbLastError, 1007);
  EXPECT_EQ(TakeErrorContext(), RemoveExtension(table) + ".DBT [USE]");
  CloseDatabase();

  // A missing memo file: the table does not open.
  std::filesystem::remove(MemoPath(0x8B));
  Use(table);
  EXPECT_EQ(DbLastError, 2);
  EXPECT_EQ(TakeErrorContext(), "Problem opening memo file [USE(" + table + ",<@Buffer>,0)]");
  EXPECT_EQ(SelectedArea(), nullptr);
  // Without the memo unit the table opens without its memo file.
  MemoDriver = TMemoDriver();
  Use(table);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(SelectedArea()->MemoArea, nullptr);
  CloseDatabase();

  // RecreateMemofile gives the table an empty memo file again.
  MemoInit();
  ASSERT_TRUE(CreateMemofile(RemoveExtension(table)));
  Use(table);
  AddMemo("something");
  RecreateMemofile(RemoveExtension(table));
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(MemoBytes(0x8B).size(), 24u);
  EXPECT_EQ(AddMemo("again"), 1);
}

TEST_F(MemoOps, TheMemoLockWaitsAboutTwoSecondsForAnotherProcess) {
  MakeTable(0x8B);
  platform::ChildProcess holder(FILE_HOLDER, {"lock", MemoPath(0x8B), "10", "1"});
  ASSERT_EQ(holder.ReadLine(), "ok");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AddMemo("blocked"), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(DbLastError, 1017);
  EXPECT_EQ(TakeErrorContext(), SelectedArea()->MemoArea->FileName + " [AddMemo()]");
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::seconds(10));

  // Released during the wait: the operation goes on.
  std::thread release([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.CloseInput();
  });
  EXPECT_EQ(AddMemo("after the wait"), 1);
  release.join();
  holder.Wait();
  EXPECT_EQ(Read(1), "after the wait");
  EXPECT_TRUE(LockMemo());
  EXPECT_TRUE(UnlockMemo());
}

TEST_F(MemoOps, TwoProcessesWritingNeverOverlap) {
  // Both add values; with editing each value is replaced at once, so that runs move and the
  // free chain of the dBASE IV file is read and changed by both processes.
  struct Case {
    uint8_t version;
    bool edit;
  } cases[] = {{0x8B, false}, {0x83, false}, {0x8B, true}, {0xF5, true}};
  constexpr int kValues = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.version) << (c.edit ? " edit" : ""));
    std::string table = MakeTable(c.version);
    std::vector<std::string> args = {table, std::to_string(kValues), "child "};
    if (c.edit) args.push_back("edit");
    platform::ChildProcess writer(MEMO_WRITER, args);
    ASSERT_EQ(writer.ReadLine(), "ready");
    writer.CloseInput();
    std::map<int32_t, std::string> values;
    for (int i = 0; i < kValues; ++i) {
      int32_t block = AddMemo(MemoWriterValue("parent ", i, false));
      ASSERT_GT(block, 0) << GetErrorMessage();
      if (c.edit) {
        TMemoLineTable lines;
        lines.Lines = {MemoWriterValue("parent ", i, true)};
        lines.Ends = {kNoLineEnd};
        block = EditMemoLines(lines, block);
        ASSERT_GT(block, 0) << GetErrorMessage();
      }
      ASSERT_EQ(values.count(block), 0u) << block;
      values[block] = MemoWriterValue("parent ", i, c.edit);
    }
    for (int i = 0; i < kValues; ++i) {
      std::string line = writer.ReadLine();
      int32_t block = std::stoi(line);
      ASSERT_EQ(values.count(block), 0u) << line;
      values[block] = MemoWriterValue("child ", i, c.edit);
    }
    EXPECT_EQ(writer.Wait(), 0);
    for (const auto& [block, value] : values) EXPECT_EQ(ReadBytes(block), value) << block;
    // What the two left behind is sound for a third program.
    std::string file = MemoBytes(c.version);
    if (c.version == 0x83) {
      EXPECT_EQ(file.size() % 512, 0u);
    }
    if (c.version == 0x8B) {
      std::vector<int32_t> blocks;
      for (const auto& [block, value] : values) blocks.push_back(block);
      EXPECT_EQ(Dbase4ChainFault(file, blocks), "");
    }
    CloseDatabase();
    std::filesystem::remove(table);
  }
}

TEST_F(MemoOps, AWriterKilledInTheMiddleLeavesASoundFileForTheNextProgram) {
  // Rounds of a second process that adds, edits and streams values into new records of a shared
  // table until it is killed at a seeded random moment. After each round this program finds
  // every record's value whole, a free chain that leads into no value, and goes on writing; what
  // it leaves is exactly as the format has it.
  std::string table = MakeTable(0x8B, 64);
  CloseDatabase();
  std::mt19937 random(20261212);
  std::vector<std::string> expected;  // record n's memo at [n - 1]
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    std::string prefix = "round " + std::to_string(round) + " ";
    {
      platform::ChildProcess writer(MEMO_WRITER, {table, "100000", prefix, "records"});
      ASSERT_EQ(writer.ReadLine(), "ready");
      writer.CloseInput();
      for (int acknowledged = random() % 8; acknowledged > 0; --acknowledged) {
        std::string line = writer.ReadLine();
        ASSERT_TRUE(!line.empty() && line[0] != 'e') << line;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      writer.Kill();
    }
    Use(table);
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    for (int32_t n = static_cast<int32_t>(expected.size()) + 1; n <= RecCount(); ++n) {
      GO(n);
      int32_t id;
      std::memcpy(&id, FieldAddress(1), sizeof id);
      expected.push_back(MemoWriterStored(prefix, id));
    }
    auto live = [&] {
      std::vector<int32_t> blocks;
      for (int32_t n = 1; n <= RecCount(); ++n) {
        GO(n);
        int32_t block;
        std::memcpy(&block, FieldAddress(2), sizeof block);
        EXPECT_EQ(ReadBytes(block), expected.at(size_t(n - 1))) << n;
        blocks.push_back(block);
      }
      return blocks;
    };
    EXPECT_EQ(Dbase4ChainFault(MemoBytes(0x8B), live(), true), "");
    // This program adds a value, moves it by an edit and adds one more at the end.
    std::string own = "next program " + std::to_string(round);
    int32_t moved = EditTo(AddMemo(own), own + std::string(700, '+'));
    AppendWithMemo(-1, moved);
    expected.push_back(own + std::string(700, '+'));
    AppendWithMemo(-2, AddMemo(own));
    expected.push_back(own);
    ASSERT_EQ(DbLastError, 0) << GetErrorMessage();
    EXPECT_EQ(Dbase4ChainFault(MemoBytes(0x8B), live()), "");
    CloseDatabase();
  }
}

}  // namespace
}  // namespace tz
