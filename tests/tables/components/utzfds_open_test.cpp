// Opening and closing a file dataset when things go wrong: an open that fails after the table
// opened, a failed index build, a close that fails, a read-only table, two programs that open
// one table at the same moment, and another program's semaphore lock.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/files.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"
#include "tables/index/tzndx.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

namespace fs = std::filesystem;

// A second program that holds a file (file_holder): "open <mode> <path>" or "lock <path>
// <offset> <length>"; it holds it until the object goes.
class FileHolder {
 public:
  explicit FileHolder(const std::vector<std::string>& args)
      : child_(FILE_HOLDER, args), answer_(child_.ReadLine()) {}
  ~FileHolder() {
    child_.CloseInput();
    child_.Wait();
  }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
  const std::string& Answer() const { return answer_; }

 private:
  platform::ChildProcess child_;
  std::string answer_;
};

// The work areas that hold a table.
std::vector<int> AreasInUse() {
  std::vector<int> used;
  for (int n = 1; n <= kWorkAreaSlots; ++n)
    if (WorkAreas[n]) used.push_back(n);
  return used;
}

// An open of ours has the file (it was not closed): an exclusive open is refused.
bool HeldOpen(const fs::path& file) {
  platform::File probe;
  return probe.Open(file.string(), platform::kModeReadExclusive) == platform::kErrSharingViolation;
}

// The message of what `open` throws; empty when it throws nothing.
template <typename Open>
std::string Thrown(Open open) {
  try {
    open();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

const std::vector<std::string> kIdIndex = {"ID,F,F,id", ""};

class FailingOpen : public TzDbfTest {
 protected:
  FailingOpen() {
    auto dbf = Open("DBTel", "tel.dbf", {"id, C, 10, 0"}, kIdIndex);
    AppendRow(*dbf, {{"id", "1"}});
  }
  // After a failure: the dataset closed, no work area taken, the table file closed.
  void ExpectNothingOpen(TTzDbf& dbf, const std::string& label) {
    EXPECT_FALSE(dbf.Active()) << label;
    EXPECT_EQ(AreasInUse(), std::vector<int>{}) << label;
    EXPECT_FALSE(HeldOpen(dir_ / "tel.dbf")) << label;
  }
  // The same component opens with its index once the cause is gone.
  void ExpectItOpens(TTzDbf& dbf, const std::string& label) {
    EXPECT_EQ(Thrown([&] { dbf.Open(); }), "") << label;
    EXPECT_TRUE(dbf.Active()) << label;
    EXPECT_EQ(dbf.CurrentTag(), "ID") << label;
    EXPECT_TRUE(dbf.FindExact("1")) << label;
    dbf.Close();
    EXPECT_EQ(AreasInUse(), std::vector<int>{}) << label;
  }
  const fs::path mdx_ = dir_ / "tel.MDX";
};

enum class Cause { IndexHeldExclusively, IndexLineFails, IndexNotWritable, BuildByteHeld };

// --- An open that fails after the table opened ----------------------------------------------

// Each cause makes the open fail after the USE, with the cause's own error raised; nothing stays
// open, and once the cause is gone the same component opens again.
TEST_F(FailingOpen, AnOpenThatFailsAfterTheTableOpenedLeavesNothingOpen) {
  struct Case {
    Cause cause;
    std::string label;
    std::string error;  // the start of the raised message
  };
  const Case cases[] = {
      {Cause::IndexHeldExclusively, "another program holds the index exclusively",
       "Error # 32 (File sharing violation)\r\nUnable to open index: " + mdx_.string()},
      {Cause::IndexLineFails, "an index line whose key the table cannot make",
       "Error # 351 (Undefined error)\r\nError in expression : "},
      {Cause::IndexNotWritable, "an index file that cannot be written",
       "Error # 5 (File access denied)\r\nUnable to open index: " + mdx_.string()},
      {Cause::BuildByteHeld, "another program builds the index and takes too long",
       "Error # 33 (File lock violation)\r\n"},
  };
  IndexBuildWaitMs = 300;
  for (const Case& c : cases) {
    auto dbf = Make("DBTel", "tel.dbf", {}, kIdIndex);
    std::unique_ptr<FileHolder> holder;
    switch (c.cause) {
      case Cause::IndexHeldExclusively:
        holder = std::make_unique<FileHolder>(std::vector<std::string>{"open", "18", mdx_.string()});
        break;
      case Cause::IndexLineFails:
        fs::remove(mdx_);
        dbf->IndexList() = {"ID,F,F,nosuchfield", ""};
        break;
      case Cause::IndexNotWritable:
        fs::remove(mdx_);
        fs::create_directory(mdx_);
        break;
      case Cause::BuildByteHeld:
        holder = std::make_unique<FileHolder>(std::vector<std::string>{
            "lock", PathOf("tel.dbf"), std::to_string(DbIndexBuildByte), "1"});
        break;
    }
    if (holder) {
      ASSERT_EQ(holder->Answer(), "ok") << c.label;
    }
    std::string error = Thrown([&] { dbf->Open(); });
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.label << ": " << error;
    holder.reset();
    ExpectNothingOpen(*dbf, c.label);
    if (fs::is_directory(mdx_)) fs::remove(mdx_);
    dbf->IndexList() = kIdIndex;
    ExpectItOpens(*dbf, c.label);
  }
}

// With error reporting off, a build that fails fails the open with the build's own error: the
// caller sees its code, and no table stays open without the index it asked for.
TEST_F(FailingOpen, AFailedIndexBuildIsNeverReportedAsSuccess) {
  struct Case {
    Cause cause;
    std::string label;
    uint16_t code;
  };
  const Case cases[] = {
      {Cause::IndexLineFails, "an index line whose key the table cannot make", 351},
      {Cause::IndexNotWritable, "an index file that cannot be written", 5},
  };
  for (const Case& c : cases) {
    auto dbf = Make("DBTel", "tel.dbf", {}, kIdIndex);
    fs::remove(mdx_);
    if (c.cause == Cause::IndexLineFails) dbf->IndexList() = {"ID,F,F,nosuchfield", ""};
    if (c.cause == Cause::IndexNotWritable) fs::create_directory(mdx_);
    bool reporting = SetErrorReporting(false);
    std::string error = Thrown([&] { dbf->Open(); });
    uint16_t code = DbLastError;
    SetErrorReporting(reporting);
    EXPECT_EQ(code, c.code) << c.label;
    EXPECT_NE(error.find("Error # " + std::to_string(c.code) + " "), std::string::npos)
        << c.label << ": " << error;
    ExpectNothingOpen(*dbf, c.label);
    if (fs::is_directory(mdx_)) fs::remove(mdx_);
    dbf->IndexList() = kIdIndex;
    ExpectItOpens(*dbf, c.label);
  }
}

// --- Closing ------------------------------------------------------------------------------

// The close of a read-only table whose header was marked for rewriting fails (the file cannot
// be written). Destroying the dataset shows that error and goes on, with the table closed.
TEST_F(FailingOpen, DestroyingADatasetWhoseCloseFailsShowsTheErrorAndGoesOn) {
  const std::string before = platform::TempDir::Read(dir_ / "tel.dbf");
  auto dbf = Make("DBTel", "tel.dbf", {}, kIdIndex);
  dbf->SetReadOnly(true);
  dbf->Open();
  Select(dbf->WorkArea());
  SetMdxFlag(!GetMdxFlag());  // the close now rewrites the header
  ui_.Clear();
  dbf.reset();
  ASSERT_EQ(ui_.Texts().size(), 1u);
  EXPECT_EQ(ui_.Texts()[0].substr(0, 30), "Error # 5 (File access denied)");
  EXPECT_EQ(AreasInUse(), std::vector<int>{});
  EXPECT_FALSE(HeldOpen(dir_ / "tel.dbf"));
  EXPECT_EQ(platform::TempDir::Read(dir_ / "tel.dbf"), before);
}

// A read-only dataset with index lines opens, builds or leaves out its index without writing
// the production-index flag into its table, whichever way the header has it.
TEST_F(FailingOpen, AReadOnlyDatasetWritesNothingIntoItsTable) {
  struct Case {
    std::string label;
    bool flag;      // the table's header says it has an index
    bool can_make;  // what OnBeforeMakeIndex answers
    std::string tag;
  };
  const Case cases[] = {
      {"header without the flag, index built", false, true, "ID"},
      {"header with the flag, build refused", true, false, ""},
  };
  for (const Case& c : cases) {
    fs::remove(mdx_);
    {
      Select(0);
      Use(PathOf("tel.dbf"));
      SetMdxFlag(c.flag);
      CloseDatabase();
    }
    const std::string before = platform::TempDir::Read(dir_ / "tel.dbf");
    auto dbf = Make("DBTel", "tel.dbf", {}, kIdIndex);
    dbf->SetReadOnly(true);
    dbf->OnBeforeMakeIndex = [&c](platform::dataset::TDataSet&, const std::string&, bool& can) {
      can = c.can_make;
    };
    EXPECT_EQ(Thrown([&] { dbf->Open(); }), "") << c.label;
    EXPECT_EQ(dbf->CurrentTag(), c.tag) << c.label;
    EXPECT_EQ(Thrown([&] { dbf->Close(); }), "") << c.label;
    EXPECT_EQ(platform::TempDir::Read(dir_ / "tel.dbf"), before) << c.label;
    EXPECT_TRUE(ui_.Messages().empty()) << c.label;
  }
}

// --- Another program's semaphore lock -----------------------------------------------------

// Another program holds the region lock of the index's semaphore file for longer than this
// one waits for it.
class HeldSemaphore : public FailingOpen {
 protected:
  HeldSemaphore() {
    SemaphoreLockWaitMs = 100;
    // The semaphore file of a program that has the table open.
    dir_.Write("tel.@S@", std::string("\x01\x00\x00\x00", 4));
  }
  std::unique_ptr<FileHolder> HoldRegion() {
    auto holder = std::make_unique<FileHolder>(std::vector<std::string>{"lock", semaphore_, "1", "4"});
    EXPECT_EQ(holder->Answer(), "ok");
    return holder;
  }
  // The start of the lock's error for a semaphore action.
  std::string LockError(const std::string& action) const {
    return "Error # 1202 (Semaphore file error. Possible solutions: log into network or load "
           "SHARE.EXE before running Windows)\r\n10 second timeout: Cannot lock index semaphore "
           "file: " + semaphore_ + " " + action;
  }
  const std::string semaphore_ = PathOf("tel.@S@");
  const std::vector<std::string> lines_ = {"ID,F,F,id", "", "BACK,T,F,id", ""};
};

// The open gives up with the lock's own error, not as a table without its index.
TEST_F(HeldSemaphore, AnOpenThatGivesUpOnIt) {
  auto dbf = Make("DBTel", "tel.dbf", {}, lines_);
  {
    auto holder = HoldRegion();
    std::string error = Thrown([&] { dbf->Open(); });
    EXPECT_EQ(error.substr(0, LockError("LOGIN").size()), LockError("LOGIN")) << error;
  }
  ExpectNothingOpen(*dbf, "open");
  dbf->Open();
  EXPECT_EQ(dbf->CurrentTag(), "ID");
}

// The lookups of a table opened before give up with the lock's error, raised or, with
// reporting off, as their answer false; each time, not only the first.
TEST_F(HeldSemaphore, LookupsThatGiveUpOnIt) {
  auto dbf = Open("DBTel", "tel.dbf", {}, lines_);
  ASSERT_EQ(dbf->CurrentTag(), "ID");
  auto holder = HoldRegion();
  struct Lookup {
    std::string label;
    std::function<bool()> run;
  };
  const Lookup lookups[] = {
      {"FindExact", [&] { return dbf->FindExact("1"); }},
      {"SetOrderToTag", [&] { return dbf->SetOrderToTag("BACK"); }},
  };
  for (int round = 0; round < 2; ++round) {
    for (const Lookup& lookup : lookups) {
      std::string error = Thrown(lookup.run);
      EXPECT_EQ(error.substr(0, LockError("INCREAD").size()), LockError("INCREAD"))
          << lookup.label << ": " << error;
      bool reporting = SetErrorReporting(false);
      bool answer = lookup.run();
      uint16_t code = DbLastError;
      SetErrorReporting(reporting);
      EXPECT_FALSE(answer) << lookup.label;
      EXPECT_EQ(code, 1202) << lookup.label;
    }
  }
  holder.reset();
  EXPECT_TRUE(dbf->FindExact("1"));
  EXPECT_TRUE(dbf->SetOrderToTag("BACK"));
  EXPECT_EQ(dbf->CurrentTag(), "BACK");
}

// --- Two programs at one moment -----------------------------------------------------------

// Both programs open the phone-model table at once, as two Vazor started together do: the
// table missing (both may create it), or there without its index (both may build it). Each
// ends with the table and its index open; one of them built the index, the other waited for
// that build and opened what it made.
TEST_F(TzDbfTest, TwoProgramsOpeningAMissingTableOrIndexAtOnceBothGetTheirIndex) {
  constexpr int kRows = 300;
  const fs::path templ = dir_ / "template";
  fs::create_directory(templ);
  {
    auto dbf = Open("DBMobilTel", "template/telstamm.dbf", kTelstammFields);
    ASSERT_TRUE(dbf->ALock());
    for (int i = 1; i <= kRows; ++i) {
      dbf->FieldPutStr("id", std::to_string(i));
      dbf->FieldPutStr("hersteller", "maker " + std::to_string(i % 7));
      dbf->AppendRec();
      ASSERT_TRUE(dbf->ALock());
    }
    dbf->UnLock();
  }
  enum class Missing { Table, Index };
  constexpr int kRounds = 25;
  for (Missing missing : {Missing::Table, Missing::Index}) {
    for (int round = 0; round < kRounds; ++round) {
      const std::string label = (missing == Missing::Table ? "table, round " : "index, round ") +
                                std::to_string(round);
      const fs::path folder = dir_ / "t";
      fs::remove_all(folder);
      fs::create_directory(folder);
      if (missing == Missing::Index) fs::copy_file(templ / "telstamm.dbf", folder / "telstamm.dbf");
      std::vector<std::unique_ptr<platform::ChildProcess>> programs;
      for (int k = 0; k < 2; ++k) {
        programs.push_back(std::make_unique<platform::ChildProcess>(
            TABLE_OPENER, std::vector<std::string>{(folder / "telstamm.dbf").string()}));
        ASSERT_EQ(programs.back()->ReadLine(), "ready") << label;
      }
      for (auto& program : programs) program->WriteLine("go");
      const std::string rows = std::to_string(missing == Missing::Table ? 0 : kRows);
      int builds = 0;
      for (auto& program : programs) {
        std::string answer = program->ReadLine();
        EXPECT_TRUE(answer == "ok ID " + rows + " built" || answer == "ok ID " + rows + " opened")
            << label << ": " << answer << " | " << program->ReadLine(100);
        builds += answer.ends_with(" built");
      }
      EXPECT_EQ(builds, 1) << label;
      for (auto& program : programs) {
        program->CloseInput();
        EXPECT_EQ(program->Wait(), 0) << label;
      }
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace tz
