// The index build: tags of every kind, trees of several levels, sorted runs through a
// temporary file, the progress hook, and the build's errors.
#include <algorithm>
#include <random>

#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

class BuildTest : public IndexTest {
 protected:
  // Levels of tag k's tree, read from the file: root to the leftmost leaf.
  int Depth(const std::string& file, int k) {
    size_t block = Word32(file, Word32(file, 512 + 32 * k) * 512u);
    uint16_t entry = Word16(file, Word32(file, 512 + 32 * k) * 512u + 18);
    int depth = 1;
    while (true) {
      size_t node = block * 512;
      uint16_t count = Word16(file, node);
      uint32_t trailing = Word32(file, node + 8 + size_t{count} * entry);
      if (trailing == 0 || depth > 40) return depth;
      block = Word32(file, node + 8);
      ++depth;
    }
  }
  // The keys (first `width` characters of field 1) of the records in walk order.
  std::vector<std::string> WalkKeys(size_t width) {
    std::vector<std::string> keys;
    for (int32_t r : Walk()) {
      GO(r);
      keys.push_back(std::string(FieldAddress(1) + 1, width));
    }
    return keys;
  }
};

TEST_F(BuildTest, EmptyTableGivesOneEmptyRootLeafPerTag) {
  OpenTable("empty.dbf", kTelFields, {});
  ASSERT_TRUE(MakeIndex(
      {{"ID", "id", "", false, false}, {"H", "hersteller", "id > '5'", false, false}}, ""));
  std::string file = Bytes("empty.MDX");
  ASSERT_EQ(file.size(), 2048u + 4 * 1024);
  EXPECT_EQ(Word32(file, 32), 12u);
  for (size_t leaf : {2048u, 4096u}) EXPECT_EQ(file.substr(leaf, 1024), std::string(1024, '\0'));
  EXPECT_EQ(Word32(file, 3072), 4u);  // ID's root
  EXPECT_EQ(Word32(file, 5120), 8u);  // H's root
  EXPECT_EQ(file[5120 + 245], 1);     // H has a FOR condition that no record passed
  EXPECT_EQ(file[5120 + 246], 0);
  ASSERT_TRUE(SetIndexTo(""));
  EXPECT_TRUE(Walk().empty());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(FindFirstRec(), 1);  // record count + 1: nothing
}

TEST_F(BuildTest, TagsOfEveryKind) {
  OpenTable("kinds.dbf", {{"NAME", 'C', 8}, {"N", 'N', 6, 2}, {"D", 'D', 8}},
            {"delta     1.5020240229", "alpha    -3.0019991231", "delta     1.50",
             "charlie   0.0020240101", "alpha     7.0019991231"});
  struct Case {
    TIndexListEntry tag;
    uint8_t flags;
    std::vector<int32_t> walk;
  };
  const Case cases[] = {
      {{"NAME", "name", "", false, false}, 0x10, {2, 5, 4, 1, 3}},
      {{"DOWN", "name", "", true, false}, 0x18, {1, 3, 4, 2, 5}},
      {{"ONCE", "name", "", false, true}, 0x50, {2, 4, 1}},
      {{"ONCEDOWN", "name", "", true, true}, 0x58, {1, 4, 2}},
      {{"NUM", "n", "", false, false}, 0x10, {2, 4, 1, 3, 5}},
      {{"NUMDOWN", "n", "", true, false}, 0x18, {5, 1, 3, 4, 2}},
      {{"DATE", "d", "", false, false}, 0x10, {2, 5, 4, 1, 3}},  // the blank date sorts last
      {{"DATEFOR", "d", "n > 0", false, false}, 0x10, {5, 1, 3}},
  };
  std::vector<TIndexListEntry> list;
  for (const Case& c : cases) list.push_back(c.tag);
  ASSERT_TRUE(MakeIndex(list, "")) << DbErrorContext;
  std::string file = Bytes("kinds.MDX");
  ASSERT_TRUE(SetIndexTo(""));
  for (size_t k = 1; k <= std::size(cases); ++k) {
    const Case& c = cases[k - 1];
    EXPECT_EQ(file[Word32(file, 512 + 32 * k) * 512u + 8], static_cast<char>(c.flags))
        << c.tag.TagName;
    ASSERT_TRUE(SetOrderToTag(c.tag.TagName));
    EXPECT_EQ(Walk(), c.walk) << c.tag.TagName;
    EXPECT_EQ(WalkBack(), c.walk) << c.tag.TagName;
  }
}

TEST_F(BuildTest, AThousandLongKeysMakeThreeLevels) {
  std::vector<std::string> records;
  std::mt19937 random(3);
  for (int i = 0; i < 1000; ++i) {
    std::string key(100, ' ');
    for (int j = 0; j < 6; ++j) key[j] = static_cast<char>('a' + random() % 26);
    records.push_back(key);
  }
  OpenTable("long.dbf", {{"K", 'C', 100}}, records);
  ASSERT_TRUE(MakeIndex({{"K", "k", "", false, false}, {"KD", "k", "", true, true}}, ""));
  std::string file = Bytes("long.MDX");
  EXPECT_GE(Depth(file, 1), 3);
  EXPECT_GE(Depth(file, 2), 3);
  ASSERT_TRUE(SetIndexTo(""));
  std::vector<std::string> sorted = records;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(WalkKeys(100), sorted);
  ASSERT_TRUE(SetOrderToTag("KD"));
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::reverse(sorted.begin(), sorted.end());
  EXPECT_EQ(WalkKeys(100), sorted);
}

TEST_F(BuildTest, RunsSpilledToATemporaryFileGiveTheSameBytes) {
  std::vector<std::string> records;
  std::mt19937 random(5);
  for (int i = 0; i < 700; ++i)
    records.push_back(std::string(1, static_cast<char>('a' + random() % 5)) +
                      std::to_string(random() % 40));
  OpenTable("runs.dbf", {{"K", 'C', 12}}, records);
  const std::vector<TIndexListEntry> tags = {{"K", "k", "", false, false},
                                             {"U", "k", "", true, true},
                                             {"F", "k", "k > 'c'", false, false}};
  ASSERT_TRUE(MakeIndex(tags, ""));
  std::string in_memory = Bytes("runs.MDX");
  for (uint32_t items : {2u, 3u, 64u, 699u, 700u}) {
    IndexBuildRunItems = items;
    ASSERT_TRUE(MakeIndex(tags, ""));
    EXPECT_TRUE(Bytes("runs.MDX") == in_memory) << items << " items per run";
  }
}

TEST_F(BuildTest, ProgressHookRunsOncePerRecord) {
  std::vector<std::string> records(37, "x");
  OpenTable("progress.dbf", {{"K", 'C', 4}}, records);
  int calls = 0;
  SetIndexProgressHook([&calls] { ++calls; }, 37);
  ASSERT_TRUE(MakeIndex({{"K", "k", "", false, false}}, ""));
  EXPECT_EQ(calls, 37);
  SetIndexProgressHook([&calls] { ++calls; }, 0);
  ASSERT_TRUE(MakeIndex({{"K", "k", "", false, false}}, ""));
  EXPECT_EQ(calls, 37);
}

TEST_F(BuildTest, TextKeysAlwaysHaveTheTagsLength) {
  OpenTable("trim.dbf", kTelFields, {"1         Nokia", "2         Siemens", "3         LG"});
  ASSERT_TRUE(MakeIndex({{"T", "trim(hersteller)", "", false, false}}, ""));
  std::string file = Bytes("trim.MDX");
  // The key length comes from record 1: 5; entries are 12 bytes.
  EXPECT_EQ(Word16(file, 3072 + 12), 5);
  EXPECT_EQ(file.substr(2048, 44), std::string("\x03\0\0\0\0\0\0\0", 8) +
                                       std::string("\x03\0\0\0LG   \0\0\0", 12) +
                                       std::string("\x01\0\0\0Nokia\0\0\0", 12) +
                                       std::string("\x02\0\0\0Sieme\0\0\0", 12));
  // The blank record's key is not 5 long: the tag does not open.
  EXPECT_FALSE(SetIndexTo(""));
  EXPECT_EQ(DbLastError, 266);
}

TEST_F(BuildTest, FailingTagsAreReportedAndTheOthersBuilt) {
  OpenTable("errors.dbf", {{"K", 'C', 101}, {"L", 'L', 1}}, {"x"});
  struct Case {
    TIndexListEntry tag;
    uint16_t code;
    std::string context;
  };
  const Case cases[] = {
      {{"LONG", "k", "", false, false},
       266,
       "Incorrect key length: Must be 1 to 100. [AddIndexTag()]"},
      {{"TEXT", "left(k," + std::string(212, ' ') + "5)", "", false, false},
       300,
       "Expression length exceeds 100 bytes [AddIndexTag()]"},
      {{"LOGIC", "l", "", false, false}, 254, "Wrong parser return type [AddIndexTag()]"},
      {{"BADFOR", "left(k,5)", "left(k,2)", false, false},
       362,
       "Invalid FOR expression for BADFOR [AddIndexTag()]"},
  };
  for (const Case& c : cases) {
    DbLastError = 0;
    EXPECT_FALSE(MakeIndex({{"GOOD", "left(k,3)", "", false, false}, c.tag}, "")) << c.tag.TagName;
    EXPECT_EQ(DbLastError, c.code) << c.tag.TagName;
    EXPECT_EQ(DbErrorContext, c.context) << c.tag.TagName;
    std::vector<std::string> list;
    GetMdxTagList(list, "");
    EXPECT_EQ(list, (std::vector<std::string>{"GOOD,F,F,left(k,3)", ""})) << c.tag.TagName;
  }
  ASSERT_TRUE(MakeIndex({{"", "k", "", false, false}, {"LATER", "l", "", false, false}}, ""));
  EXPECT_EQ(Bytes("errors.MDX").size(), 2048u);
}

TEST_F(BuildTest, ReindexRebuildsTheSameFileAndKeepsTheCurrentTag) {
  OpenTable("telstamm.dbf", kTelFields,
            {"3         Nokia          6310i", "1         Siemens        S45",
             "2         Ericsson       T68i"});
  ASSERT_TRUE(MakeIndex({{"ID", "id", "", false, false},
                         {"HERSTELLER", "upper(hersteller)+upper(modell)", "", false, false}},
                        ""));
  std::string built = Bytes("telstamm.MDX");
  ASSERT_TRUE(SetIndexTo(""));
  ASSERT_TRUE(SetOrderToTag("HERSTELLER"));
  ASSERT_TRUE(Reindex()) << DbErrorContext;
  EXPECT_EQ(CurrentTagName(), "HERSTELLER");
  EXPECT_EQ(Walk(), (std::vector<int32_t>{3, 1, 2}));
  // The same bytes, but the stored expressions as the open index normalised them.
  built.replace(3072 + 24, 2, "ID");
  built.replace(5120 + 24, 31, "UPPER(HERSTELLER)+UPPER(MODELL)");
  EXPECT_TRUE(Bytes("telstamm.MDX") == built);
  CloseIndexes();
  EXPECT_FALSE(Reindex());
  EXPECT_EQ(DbLastError, 221);
}

}  // namespace
}  // namespace tz
