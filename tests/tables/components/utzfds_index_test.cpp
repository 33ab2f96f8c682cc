// The file dataset's production index: the index definition lines, the display program's six
// tables created and indexed at their first open (progress window, header flag, an
// independent reader of the index), each CreateIndex mode with the semaphore-date rule, a
// refused build, and no rebuild under a program that has the index open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <filesystem>
#include <sstream>

#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndx.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

namespace fs = std::filesystem;

// --- Index definition lines ---------------------------------------------------------------

TEST(IndexLines, ReadByPositionsFromTheFirstComma) {
  struct Case {
    std::string tag_line;
    std::string for_line;
    std::string name;
    bool descending;
    bool unique;
    std::string key;
  };
  const Case cases[] = {
      {"ID,F,F,id", "", "ID", false, false, "id"},
      {"HERSTELLER,F,F,upper(hersteller)+upper(modell)", "", "HERSTELLER", false, false,
       "upper(hersteller)+upper(modell)"},
      {"NR,T,F,nr", "nr > 0", "NR", true, false, "nr"},
      {"NR,F,T,nr", "", "NR", false, true, "nr"},  // unique: right after the second comma
      {"NR,T,T,nr", "", "NR", true, true, "nr"},
      {"LONGTAGNAME12,F,F,a", "", "LONGTAGNAM", false, false, "a"},
      {"X", "", "X", false, false, ""},  // short lines read nothing past their end
      {"X,", "", "X", false, false, ""},
      {"X,T", "", "X", true, false, ""},
      {"X,T,", "", "X", true, false, ""},
      {"X,T,T", "", "X", true, true, ""},
      {"X,T,T,", "", "X", true, true, ""},
      {",F,F,a", "", "", false, false, "a"},
  };
  for (const Case& c : cases) {
    TIndexListEntry e = ParseIndexLine(c.tag_line, c.for_line);
    EXPECT_EQ(e.TagName, c.name) << c.tag_line;
    EXPECT_EQ(e.Descending, c.descending) << c.tag_line;
    EXPECT_EQ(e.Unique, c.unique) << c.tag_line;
    EXPECT_EQ(e.KeyExpr, c.key) << c.tag_line;
    EXPECT_EQ(e.ForExpr, c.for_line) << c.tag_line;
  }
  EXPECT_EQ(ParseIndexLine("K,F,F," + std::string(300, 'a'), std::string(300, 'b')).KeyExpr.size(),
            220u);
  EXPECT_EQ(ParseIndexLine("K,F,F,a", std::string(300, 'b')).ForExpr.size(), 220u);
}

TEST(IndexLines, BuildIndexListTakesTwoLinesPerTagAndEndsWithAnEmptyEntry) {
  std::vector<TIndexListEntry> list = BuildIndexList({"A,F,F,a", "", "B,F,T,b", "b > 1", "C,F,F,c"});
  ASSERT_EQ(list.size(), 3u);  // the last tag line has no FOR line: no tag
  EXPECT_EQ(list[0].TagName, "A");
  EXPECT_EQ(list[1].TagName, "B");
  EXPECT_TRUE(list[1].Unique);
  EXPECT_EQ(list[1].ForExpr, "b > 1");
  EXPECT_EQ(list[2].TagName, "");
  EXPECT_EQ(BuildIndexList({}).size(), 1u);
}

TEST(IndexLines, MatchWithoutRegardToCaseOrTrailingBlanks) {
  const std::vector<std::string> stored = {"ID,F,F,ID", "", "HERSTELLER,F,F,UPPER(HERSTELLER)", ""};
  struct Case {
    std::vector<std::string> lines;
    bool match;
  };
  const Case cases[] = {
      {{"ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)", ""}, true},
      {{"ID,F,F,id  ", " ", "HERSTELLER,F,F,upper(hersteller)   ", ""}, true},
      {{"ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)", "", "X"}, true},  // odd line
      {{"ID,F,F,id", "", "HERSTELLER,F,F,upper(modell)", ""}, false},
      {{"ID,F,T,id", "", "HERSTELLER,F,F,upper(hersteller)", ""}, false},
      {{"ID,F,F,id", "id > 0", "HERSTELLER,F,F,upper(hersteller)", ""}, false},
      {{"ID,F,F,id", ""}, false},
      {{}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IndexListMatches(c.lines, stored), c.match) << ::testing::PrintToString(c.lines);
}

// --- Tables and their indexes -------------------------------------------------------------

struct TableDefinition {
  std::string component;
  std::string file;
  std::vector<std::string> fields;
  std::vector<std::string> index_lines;
  std::string index_file;  // empty: none
};

// The display program's tables as its forms declare them.
const std::vector<TableDefinition> kDisplayTables = {
    {"DBMobilTel", "telstamm.dbf", kTelstammFields,
     {"ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)+upper(modell)", ""}, "telstamm.MDX"},
    {"DBProtocol", "protocol.dbf",
     {"telnr, C, 20, 0", "zeit, C, 22, 0", "text, C, 200, 0", "provider, C, 20, 0"}, {}, ""},
    {"DBVerbWordList", "verbwort.dbf", {"wort, C, 40, 0"}, {"WORT,F,F,upper(wort)", ""},
     "verbwort.MDX"},
    {"DBVerbTelList", "verbtel.dbf", {"telnr, C, 20, 0"}, {"TELNR,F,F,telnr", ""}, "verbtel.MDX"},
    {"DBWerbung", "werbung.dbf", {"werbetext, C, 100, 0", "aktiv, L, 1, 0"}, {}, ""},
    {"DBStartPro", "sysilog.dat", {"datum, D, 10, 0", "uhrzeit, C, 5, 0", "kommentar, C, 10, 0"},
     {}, ""},
};

uint8_t HeaderByte28(const fs::path& table) {
  return static_cast<uint8_t>(platform::TempDir::Read(table).at(28));
}

class ProductionIndex : public TzDbfTest {
 protected:
  // The record numbers index_dump lists for a tag, in its order.
  std::vector<int32_t> Dumped(const std::string& mdx, const std::string& tag) {
    std::string out = (dir_ / (tag + ".out")).string();
    platform::ChildProcess child(
        "/bin/sh", {"-c", "index_dump '" + PathOf(mdx) + "' " + tag + " > '" + out + "'"});
    child.CloseInput();
    EXPECT_EQ(child.Wait(), 0) << tag;
    std::vector<int32_t> records;
    std::istringstream lines(platform::TempDir::Read(out));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) records.push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
    return records;
  }
  static std::vector<int32_t> Walk(TTzDbf& dbf) {
    std::vector<int32_t> records;
    for (dbf.GoTop(); !dbf.AtEof(); dbf.Skip(1)) records.push_back(dbf.RecNo());
    return records;
  }
};

TEST_F(ProductionIndex, TheSixTablesAreCreatedAndIndexedAtTheFirstOpen) {
  for (const TableDefinition& t : kDisplayTables) {
    progress_.Clear();
    auto dbf = Open(t.component, t.file, t.fields, t.index_lines);
    ASSERT_TRUE(dbf->Active()) << t.file;
    dbf->SetHideDeletedRecs(true);
    size_t tags = t.index_lines.size() / 2;
    if (t.index_file.empty()) {
      EXPECT_TRUE(progress_.Windows().empty()) << t.file;
      EXPECT_EQ(dbf->CurrentTag(), "") << t.file;
    } else {
      ASSERT_EQ(progress_.Windows().size(), 1u) << t.file;
      EXPECT_EQ(progress_.Windows()[0].title, "Indexing " + PathOf(t.index_file) + "...");
      EXPECT_EQ(progress_.Windows()[0].steps, static_cast<int>(100 * tags)) << t.file;
      EXPECT_TRUE(fs::exists(dir_ / t.index_file)) << t.file;
      EXPECT_EQ(dbf->CurrentTag(), ParseIndexLine(t.index_lines[0], "").TagName) << t.file;
    }
    dbf->Close();
    EXPECT_TRUE(fs::exists(dir_ / t.file)) << t.file;
    EXPECT_EQ(HeaderByte28(dir_ / t.file), t.index_file.empty() ? 0 : 1) << t.file;
  }
  EXPECT_TRUE(ui_.Messages().empty());
  // Files made by this program: only the tables and the four indexes.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 9u);
}

TEST_F(ProductionIndex, AnIndependentReaderListsEveryTagInOurOrder) {
  const TableDefinition& t = kDisplayTables[0];
  auto dbf = Open(t.component, t.file, t.fields, t.index_lines);
  const char* rows[][3] = {{"0000000004", "siemens", "S45"},  {"0000000002", "Nokia", "6210"},
                           {"0000000003", "NOKIA", "3310"},   {"0000000001", "Ericsson", "T68"},
                           {"0000000005", "nokia", "8310"}};
  for (const auto& row : rows)
    AppendRow(*dbf, {{"id", row[0]}, {"hersteller", row[1]}, {"modell", row[2]}});
  for (const std::string tag : {"ID", "HERSTELLER"}) {
    ASSERT_TRUE(dbf->SetOrderToTag(tag));
    std::vector<int32_t> ours = Walk(*dbf);
    EXPECT_EQ(ours.size(), 5u);
    dbf->Close();
    EXPECT_EQ(Dumped("telstamm.MDX", tag), ours) << tag;
    dbf->Open();
  }
  ASSERT_TRUE(dbf->SetOrderToTag("HERSTELLER"));
  EXPECT_EQ(Walk(*dbf), (std::vector<int32_t>{4, 3, 2, 5, 1}));
}

// What the index file is, to tell a rebuild from an open.
struct FileIdentity {
  ino_t inode = 0;
  int64_t mtime_ns = 0;
  std::string bytes;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const fs::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {st.st_ino, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec,
          platform::TempDir::Read(path)};
}

enum class Before { Nothing, NoIndex, Corrupted, SemaphoreToday, SemaphoreYesterday };

TEST_F(ProductionIndex, EachCreateIndexModeBuildsOnlyWhenItMust) {
  const std::vector<std::string> built = {"ID,F,F,id", "", "NAME,F,F,upper(name)", ""};
  struct Case {
    std::string label;
    TCreateIndexType mode;
    std::vector<std::string> lines;
    Before before;
    bool rebuilt;
  };
  const Case cases[] = {
      {"not found, index there", ciNotFound, built, Before::Nothing, false},
      {"not found, no index", ciNotFound, built, Before::NoIndex, true},
      {"not found, corrupted", ciNotFound, built, Before::Corrupted, true},
      {"verify, same", ciVerifyHeader, built, Before::Nothing, false},
      {"verify, case only", ciVerifyHeader, {"id,f,f,ID", "", "name,F,F,UPPER(NAME)", ""},
       Before::Nothing, false},
      {"verify, trailing blanks", ciVerifyHeader, {"ID,F,F,id  ", "", "NAME,F,F,upper(name) ", " "},
       Before::Nothing, false},
      {"verify, other expression", ciVerifyHeader, {"ID,F,F,id", "", "NAME,F,F,name", ""},
       Before::Nothing, true},
      {"verify, fewer tags", ciVerifyHeader, {"ID,F,F,id", ""}, Before::Nothing, true},
      {"verify, other expression, semaphore of today", ciVerifyHeader,
       {"ID,F,F,id", "", "NAME,F,F,name", ""}, Before::SemaphoreToday, false},
      {"always", ciAlways, built, Before::Nothing, true},
      {"always, semaphore of today", ciAlways, built, Before::SemaphoreToday, false},
      {"always, semaphore of yesterday", ciAlways, built, Before::SemaphoreYesterday, true},
      {"never, other expression", ciNever, {"ID,F,F,id", "", "NAME,F,F,name", ""},
       Before::Nothing, false},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_.path() / "t");
    fs::create_directory(dir_.path() / "t");
    const std::string file = "t/tel.dbf";
    auto dbf = Open("DBTel", file, {"id, C, 10, 0", "name, C, 20, 0"}, built);
    AppendRow(*dbf, {{"id", "2"}, {"name", "b"}});
    AppendRow(*dbf, {{"id", "1"}, {"name", "a"}});
    dbf->Close();
    const fs::path mdx = dir_.path() / "t" / "tel.MDX";
    const fs::path semaphore = dir_.path() / "t" / "tel.@S@";
    ASSERT_TRUE(fs::exists(mdx)) << c.label;
    switch (c.before) {
      case Before::Nothing: break;
      case Before::NoIndex: fs::remove(mdx); break;
      case Before::Corrupted: dir_.Write("t/tel.MDX", std::string(4096, '\xEE')); break;
      case Before::SemaphoreToday: dir_.Write("t/tel.@S@", std::string(4, '\0')); break;
      case Before::SemaphoreYesterday:
        dir_.Write("t/tel.@S@", std::string(4, '\0'));
        fs::last_write_time(semaphore, fs::file_time_type::clock::now() - std::chrono::hours(30));
        break;
    }
    FileIdentity before = IdentityOf(mdx);
    int builds = 0;
    dbf->OnBeforeMakeIndex = [&](platform::dataset::TDataSet&, const std::string& name, bool&) {
      EXPECT_EQ(name, PathOf("t/tel.MDX")) << c.label;
      ++builds;
    };
    dbf->IndexList() = c.lines;
    dbf->SetCreateIndex(c.mode);
    ui_.Clear();
    dbf->Open();
    EXPECT_TRUE(dbf->Active()) << c.label;
    EXPECT_EQ(builds, c.rebuilt ? 1 : 0) << c.label;
    EXPECT_TRUE(ui_.Messages().empty()) << c.label;
    if (!c.rebuilt) {
      EXPECT_TRUE(IdentityOf(mdx) == before) << c.label;
    }
    // Every case ends with the index open, tag 1 current.
    EXPECT_EQ(dbf->CurrentTag(), "ID") << c.label;
    EXPECT_TRUE(dbf->FindExact("1")) << c.label;
    // The stale semaphore was erased; the one there now is this program's own login.
    if (c.before == Before::SemaphoreYesterday) {
      EXPECT_TRUE(!fs::exists(semaphore) || FileDatedToday(semaphore.string())) << c.label;
    }
    dbf->Close();
  }
}

TEST_F(ProductionIndex, AUniqueTagIsBuiltUniqueAndVerifiesWithoutARebuild) {
  const std::vector<std::string> lines = {"ID,F,T,id", ""};
  auto dbf = Open("DBTel", "tel.dbf", {"id, C, 10, 0"}, lines);
  for (const char* id : {"1", "2", "1"}) AppendRow(*dbf, {{"id", id}});
  EXPECT_EQ(Column(*dbf, "id"), (std::vector<std::string>{"1", "2"}));
  std::vector<std::string> stored;
  GetMdxTagList(stored, PathOf("tel.MDX"));
  EXPECT_EQ(stored, (std::vector<std::string>{"ID,F,T,ID", ""}));
  dbf->Close();
  int builds = 0;
  dbf->OnBeforeMakeIndex = [&](platform::dataset::TDataSet&, const std::string&, bool&) { ++builds; };
  dbf->SetCreateIndex(ciVerifyHeader);
  dbf->Open();
  EXPECT_EQ(builds, 0);
}

TEST_F(ProductionIndex, ARefusedBuildLeavesNoIndexAndTheHeaderFlagCleared) {
  auto dbf = Make("DBTel", "tel.dbf", {"id, C, 10, 0"}, {"ID,F,F,id", ""});
  std::vector<std::string> events;
  dbf->OnBeforeMakeIndex = [&](platform::dataset::TDataSet&, const std::string& name, bool& can) {
    events.push_back("before " + name);
    can = false;
  };
  dbf->OnAfterMakeIndex = [&](platform::dataset::TDataSet&, const std::string& name) {
    events.push_back("after " + name);
  };
  dbf->Open();
  EXPECT_TRUE(dbf->Active());
  EXPECT_EQ(dbf->CurrentTag(), "");
  dbf->Close();
  EXPECT_EQ(events, (std::vector<std::string>{"before " + PathOf("tel.MDX")}));
  EXPECT_FALSE(fs::exists(dir_ / "tel.MDX"));
  EXPECT_EQ(HeaderByte28(dir_ / "tel.dbf"), 0);
  EXPECT_TRUE(progress_.Windows().empty());

  dbf->OnBeforeMakeIndex = nullptr;
  dbf->SetShowProgress(false);
  dbf->Open();
  dbf->Close();
  EXPECT_EQ(events.back(), "after " + PathOf("tel.MDX"));
  EXPECT_TRUE(fs::exists(dir_ / "tel.MDX"));
  EXPECT_EQ(HeaderByte28(dir_ / "tel.dbf"), 1);
  EXPECT_TRUE(progress_.Windows().empty());  // ShowProgress off: no window
}

// Names of existing files are found without regard to case; new ones are spelled as given.
TEST_F(ProductionIndex, ExistingFilesAreFoundWithoutRegardToCase) {
  const std::vector<std::string> lines = {"ID,F,F,id", ""};
  Open("DBTel", "Tel", {"id, C, 10, 0"}, lines)->Close();
  EXPECT_TRUE(fs::exists(dir_ / "Tel.DBF"));
  EXPECT_TRUE(fs::exists(dir_ / "Tel.MDX"));
  fs::rename(dir_ / "Tel.DBF", dir_ / "tel.dbf");
  fs::rename(dir_ / "Tel.MDX", dir_ / "tel.mdx");
  int builds = 0;
  auto dbf = Make("DBTel", "TEL", {"id, C, 10, 0"}, lines);
  dbf->OnBeforeMakeIndex = [&](platform::dataset::TDataSet&, const std::string&, bool&) { ++builds; };
  dbf->SetCreateIndex(ciVerifyHeader);
  dbf->Open();
  EXPECT_EQ(builds, 0);
  EXPECT_EQ(dbf->CurrentTag(), "ID");
  dbf->Close();
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u);
}

// A program that has the table and its index open keeps them: the open here uses that index
// rather than building a new file under it, also when the semaphore file says nothing.
TEST_F(ProductionIndex, NoRebuildUnderAProgramThatHasTheIndexOpen) {
  const std::vector<std::string> lines = {"ID,F,F,id", ""};
  enum class Semaphore { Removed, Yesterday };
  for (Semaphore semaphore : {Semaphore::Removed, Semaphore::Yesterday}) {
    fs::remove_all(dir_.path() / "t");
    fs::create_directory(dir_.path() / "t");
    auto dbf = Open("DBTel", "t/tel.dbf", {"id, C, 10, 0"}, lines);
    AppendRow(*dbf, {{"id", "1"}});
    dbf->Close();
    const fs::path mdx = dir_.path() / "t" / "tel.MDX";
    const fs::path sem = dir_.path() / "t" / "tel.@S@";

    platform::ChildProcess station(INDEX_STATION, {});
    station.WriteLine("open " + PathOf("t/tel.dbf"));
    ASSERT_EQ(station.ReadLine(), "ok");
    if (semaphore == Semaphore::Removed)
      fs::remove(sem);
    else if (fs::exists(sem))
      fs::last_write_time(sem, fs::file_time_type::clock::now() - std::chrono::hours(30));
    FileIdentity before = IdentityOf(mdx);

    int builds = 0;
    dbf->OnBeforeMakeIndex = [&](platform::dataset::TDataSet&, const std::string&, bool&) { ++builds; };
    dbf->SetCreateIndex(ciAlways);
    dbf->Open();
    EXPECT_EQ(builds, 0);
    EXPECT_TRUE(IdentityOf(mdx) == before);
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_EQ(dbf->CurrentTag(), "ID");
    // Both programs still share one index: what the station appends is found here. Only
    // while they share one semaphore file: with it removed under the station, each program
    // counts its changes in a file of its own and learns nothing of the other's.
    if (semaphore == Semaphore::Yesterday) {
      station.WriteLine("append 7");
      EXPECT_EQ(station.ReadLine().substr(0, 2), "ok");
      EXPECT_TRUE(dbf->FindExact("7"));
    }
    dbf->Close();
    station.WriteLine("quit");
    EXPECT_EQ(station.Wait(), 0);
  }
}

// A program killed while it builds the index leaves a file the next open puts right: under
// ciNotFound it is opened or rebuilt, and every tag then holds every record in key order.
TEST_F(ProductionIndex, AnIndexBuildKilledHalfwayIsPutRightAtTheNextOpen) {
  const std::vector<std::string> lines = {"ID,F,F,id", "", "NAME,F,F,upper(name)", ""};
  std::mt19937 random(20261211);
  for (int round = 0; round < 4; ++round) {
    fs::remove_all(dir_.path() / "t");
    fs::create_directory(dir_.path() / "t");
    {
      auto dbf = Open("DBTel", "t/tel.dbf", {"id, C, 10, 0", "name, C, 20, 0"});
      ASSERT_TRUE(dbf->ALock());
      for (int i = 0; i < 600; ++i) {
        dbf->FieldPutStr("id", std::to_string((i * 7919) % 600));
        dbf->FieldPutStr("name", "n" + std::to_string((i * 104729) % 600));
        dbf->AppendRec();
        ASSERT_TRUE(dbf->ALock());
      }
      dbf->UnLock();
    }
    // Killed at a seeded step of the 200 the two tags take.
    int kill_at = std::uniform_int_distribution<int>(1, 199)(random);
    {
      platform::ChildProcess builder(DBF_BUILDER, {PathOf("t/tel.dbf")});
      for (std::string line; (line = builder.ReadLine()) != "step " + std::to_string(kill_at);)
        ASSERT_FALSE(line.empty() || line.rfind("done", 0) == 0) << kill_at << ": " << line;
      builder.Kill();
    }
    auto dbf = Make("DBTel", "t/tel.dbf", {}, lines);
    dbf->Open();
    ASSERT_TRUE(dbf->Active()) << kill_at;
    EXPECT_TRUE(ui_.Messages().empty()) << kill_at;
    for (const std::string tag : {"ID", "NAME"}) {
      ASSERT_TRUE(dbf->SetOrderToTag(tag)) << kill_at;
      std::vector<std::string> keys;
      for (dbf->GoTop(); !dbf->AtEof(); dbf->Skip(1))
        keys.push_back(Upper(dbf->FieldGet(tag == "ID" ? "id" : "name")));
      EXPECT_EQ(keys.size(), 600u) << kill_at << " " << tag;
      EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << kill_at << " " << tag;
    }
  }
}

}  // namespace
}  // namespace tz
