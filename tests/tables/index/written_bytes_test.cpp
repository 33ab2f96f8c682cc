// The files a fixed sequence of writes leaves are byte for byte the same from one version of the
// library to the next: a table with a memo field and a production index of two tags is made and
// written at random (seeded) exclusively, then shared while a second program appends and
// replaces between this program's writes, with reads (walks in both orders, Finds) between the
// writes, then reindexed and its memo file packed. The SHA-256 of every file is compared with
// the values the library wrote before its reads were buffered and cached; the table header's
// date of last update (bytes 1 to 3) is set to zero first, as it is the day the test runs.
#include <cstring>
#include <fstream>
#include <random>

#include "tables/engine/memo.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

class WrittenBytes : public IndexTest {
 protected:
  // Puts `text` into character field n of the field value record, blank-padded.
  static void PutText(int n, const std::string& text) {
    char* slot = FieldAddress(n);
    size_t length = static_cast<size_t>(FieldLen(n));
    std::memset(slot + 1, ' ', length);
    std::memcpy(slot + 1, text.data(), std::min(text.size(), length));
  }
  static void PutNumber(int n, int32_t value) { std::memcpy(FieldAddress(n), &value, 4); }
  static int32_t Block(int n) {
    int32_t block = 0;
    std::memcpy(&block, FieldAddress(n), 4);
    return block;
  }

  static std::string Word(std::mt19937& random, size_t length) {
    std::string w;
    for (size_t i = 0; i < length; ++i) w += static_cast<char>('A' + random() % 26);
    return w;
  }

  // One random write (or read) on the selected table: appends, replaces with and without a
  // new memo value, deletes, recalls, walks and Finds. `shared` takes the locks a shared
  // table needs.
  void Step(std::mt19937& random, bool shared) {
    const int32_t count = RecCount();
    const unsigned what = count == 0 ? 0 : random() % 10;
    if (what <= 2) {
      if (shared) {
        ASSERT_TRUE(ALock()) << TakeErrorContext();
      }
      ClearRecord();
      PutText(1, std::to_string(random() % 100000));
      PutText(2, Word(random, 3 + random() % 15));
      PutNumber(3, static_cast<int32_t>(random() % 999999));
      if (random() % 2) PutNumber(4, AddMemo(Word(random, 10 + random() % 900)));
      Append();
      ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
      if (shared) Unlock();
      return;
    }
    const int32_t n = 1 + static_cast<int32_t>(random() % static_cast<unsigned>(count));
    GO(n);
    ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
    if (what <= 7) {
      if (shared) {
        ASSERT_TRUE(RLock()) << TakeErrorContext();
      }
      if (what <= 5) {
        PutText(2, Word(random, 1 + random() % 19));
        if (what == 5) PutText(1, std::to_string(random() % 100000));
        Replace();
      } else if (what == 6) {
        int32_t block = Block(4);
        if (block != 0) {
          ASSERT_TRUE(GetMemo(block, 0)) << TakeErrorContext();
          MemoLines.Lines.push_back(Word(random, 1 + random() % 700));
          MemoLines.Ends.push_back(kHardLineEnd);
          PutNumber(4, EditMemo(block));
        } else {
          PutNumber(4, AddMemo(Word(random, 50)));
        }
        Replace();
      } else {
        random() % 3 ? DeleteRec() : RecallRec();
      }
      ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
      if (shared) Unlock();
      return;
    }
    if (what == 8) {
      EXPECT_EQ(static_cast<int32_t>(Walk().size()), RecCount());
      EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    } else if (CurrentOrder() != 0) {
      Find(std::to_string(random() % 100000));
      EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    }
  }

  // The SHA-256 of a file of the folder (that of a table with its date of last update set to
  // zero), as sha256sum prints it.
  std::string Sha256(const std::string& name) {
    std::string bytes = Bytes(name);
    if (name.ends_with(".dbf") && bytes.size() > 4)
      std::fill(bytes.begin() + 1, bytes.begin() + 4, 0);
    std::string copy = (dir_ / (name + ".hashed")).string();
    std::ofstream(copy, std::ios::binary) << bytes;
    std::string out = copy + ".sum";
    platform::ChildProcess child("/bin/sh", {"-c", "sha256sum < '" + copy + "' > '" + out + "'"});
    child.CloseInput();
    EXPECT_EQ(child.Wait(), 0);
    return platform::TempDir::Read(out).substr(0, 64);
  }
};

TEST_F(WrittenBytes, AFixedSequenceOfWritesLeavesTheFilesItAlwaysLeft) {
  const std::string path = (dir_ / "bytes.dbf").string();
  TDbfTable created;
  ASSERT_TRUE(CreateDBF(created, path,
                        {{"ID", 'C', 10}, {"NAME", 'C', 20}, {"ANZ", 'N', 6}, {"NOTE", 'M', 10}}))
      << TakeErrorContext();
  std::mt19937 random(2024);

  // Exclusive: the index made on the first records, then writes with reads between them.
  Use(path + " exclusive");
  ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
  for (int i = 0; i < 40; ++i) ASSERT_NO_FATAL_FAILURE(Step(random, false));
  ASSERT_TRUE(MakeIndex({{"ID", "ID", "", false, false}, {"NAME", "NAME", "", true, false}}, ""))
      << TakeErrorContext();
  ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
  for (int i = 0; i < 400; ++i) {
    ASSERT_NO_FATAL_FAILURE(Step(random, false));
    if (i % 100 == 50) {
      ASSERT_TRUE(SetOrderToTag(i % 200 == 50 ? "NAME" : "ID"));
    }
  }
  CloseDatabase();

  // Shared, with a second program writing between this program's steps.
  {
    Use(path);
    ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
    ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
    Station other;
    ASSERT_EQ(other.Run("open " + path), "ok");
    for (int i = 0; i < 300; ++i) {
      ASSERT_NO_FATAL_FAILURE(Step(random, true));
      if (i % 7 == 3) {
        ASSERT_EQ(other.Run("append S" + std::to_string(i)).substr(0, 2), "ok");
      } else if (i % 11 == 5) {
        int32_t n = 1 + static_cast<int32_t>(random() % static_cast<unsigned>(RecCount()));
        ASSERT_EQ(other.Run("replace " + std::to_string(n) + " R" + std::to_string(i)), "ok");
      }
      if (i % 100 == 50) {
        ASSERT_TRUE(SetOrderToTag(i % 200 == 50 ? "NAME" : "ID"));
      }
    }
    ASSERT_EQ(other.Run("close"), "ok");
    CloseDatabase();
  }

  // Exclusive again: reindexed, the memo file packed, a few writes after both.
  Use(path + " exclusive");
  ASSERT_TRUE(SetIndexTo("")) << TakeErrorContext();
  ASSERT_TRUE(Reindex()) << TakeErrorContext();
  PackMemofile();
  ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
  for (int i = 0; i < 60; ++i) ASSERT_NO_FATAL_FAILURE(Step(random, false));
  CloseDatabase();

  struct Expected {
    const char* file;
    const char* sha256;
  };
  const Expected expected[] = {
      {"bytes.dbf", "f68669d2491f58bcb1dc35ecfa5570974deb22289b285b52f51ac8a7df7e2753"},
      {"bytes.MDX", "eebc8f42f3570f4ae23fd64c83b4c38199d0f7ee9850e3ea9c1e06f8f011e46e"},
      {"bytes.DBT", "2f4f73a1bc24309198375d5e9addb3095aeb861b098cda5b83d88ecd6dd2c1c2"},
  };
  for (const Expected& e : expected) EXPECT_EQ(Sha256(e.file), e.sha256) << e.file;
}

}  // namespace
}  // namespace tz
