#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"

namespace tz {
namespace {

// Six records "01".."06"; 2 and 5 are marked deleted.
class Navigation : public EngineTest {
 protected:
  Navigation() : cwd_(dir_.path()) {
    SetErrorReporting(false);
    dir_.Write("six.dbf",
               RawTable(0x03, {{"N", 'C', 2}}, {" 01", "*02", " 03", " 04", "*05", " 06"}));
    Use("six");
  }

  // The N field of the current record.
  static std::string Value() { return std::string(FieldAddress(1) + 1, 2); }

  platform::TempDir dir_;
  ScopedCwd cwd_;
};

struct Step {
  const char* op;  // "top", "bottom", "skip", "go", "raw"
  int arg;
  int32_t recno;
  bool bof, eof;
  uint16_t error;
};

void RunSteps(const std::vector<Step>& steps, const std::string& table) {
  for (const Step& s : steps) {
    std::string op = s.op;
    std::string what = op + "(" + std::to_string(s.arg) + ")";
    if (op == "top") GoTop();
    if (op == "bottom") GoBottom();
    if (op == "skip") Skip(s.arg);
    if (op == "go") GO(s.arg);
    if (op == "raw") Dbf4RawGo(s.arg);
    if (op == "topwhile") GoTopWhile();
    if (op == "bottomwhile") GoBottomWhile();
    EXPECT_EQ(DbLastError, s.error) << what;
    std::string context = TakeErrorContext();
    if (s.error == 212 && op == "go") {
      EXPECT_EQ(context, "Invalid record number = " + std::to_string(s.arg) + " Database \"" +
                             table + "\" [GO]");
    }
    if (s.error == 212 && op == "skip") {
      EXPECT_EQ(context, "Database \"" + table + "\" is past EOF. [SKIP]");
    }
    EXPECT_EQ(RecNo(), s.recno) << what;
    EXPECT_EQ(dBOF(), s.bof) << what;
    EXPECT_EQ(dEOF(), s.eof) << what;
  }
}

TEST_F(Navigation, DeletedRecordsShown) {
  RunSteps(
      {
          {"top", 0, 1, false, false, 0},
          {"skip", 1, 2, false, false, 0},
          {"skip", 3, 5, false, false, 0},
          {"skip", 1, 6, false, false, 0},
          {"skip", 1, 7, false, true, 0},
          {"skip", 1, 7, false, true, 212},
          {"bottom", 0, 6, false, false, 0},
          {"skip", -5, 1, false, false, 0},
          {"skip", -1, 1, true, false, 0},
          {"skip", -1, 1, true, false, 0},  // nothing more happens at BOF
          {"go", 0, 7, true, true, 212},    // BOF is left as it was
          {"go", 7, 7, true, true, 212},
          {"go", 5, 5, false, false, 0},
          {"raw", 11, 7, true, true, 0},
          {"raw", 3, 3, false, false, 0},
          {"raw", 0, 3, false, false, 212},
      },
      DbfName());
}

TEST_F(Navigation, DeletedRecordsHidden) {
  EXPECT_FALSE(SetIgnoreDel(true));
  RunSteps(
      {
          {"top", 0, 1, false, false, 0},
          {"skip", 1, 3, false, false, 0},
          {"skip", 2, 6, false, false, 0},  // 5 is passed over without counting
          {"skip", 1, 7, false, true, 0},
          {"bottom", 0, 6, false, false, 0},
          {"skip", -1, 4, false, false, 0},
          {"skip", -2, 1, false, false, 0},
          {"skip", -1, 1, true, false, 0},
          {"go", 2, 2, false, false, 0},  // GO goes to any record
          {"skip", 1, 3, false, false, 0},
      },
      DbfName());
  EXPECT_EQ(Value(), "03");
  EXPECT_TRUE(SetIgnoreDel(false));
}

TEST_F(Navigation, TheFirstVisibleRecordAndAllHidden) {
  SetIgnoreDel(true);
  GO(3);
  Skip(-1);  // passes the hidden record 2
  EXPECT_EQ(RecNo(), 1);
  std::vector<std::string> only = {"*01", "*02"};
  dir_.Write("hidden.dbf", RawTable(0x03, {{"N", 'C', 2}}, only));
  Select(2);
  Use("hidden");
  SetIgnoreDel(true);
  GoTop();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Value(), "  ");
  GoBottom();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF() && dEOF());
}

TEST_F(Navigation, FiltersAndWhileScopes) {
  SelectedArea()->FilterMethod = [] { return Value() != "03"; };
  GoTop();
  Skip(2);
  EXPECT_EQ(RecNo(), 4);  // 2 and 4 counted, 3 filtered
  SelectedArea()->FilterMethod = nullptr;

  SelectedArea()->WhileMethod = [] { return Value() <= "04"; };
  EXPECT_TRUE(IsWhileOn());
  RunSteps(
      {
          {"top", 0, 1, false, false, 0},
          {"skip", 3, 4, false, false, 0},
          {"skip", 1, 5, false, true, 0},  // stays on the first record outside the scope
          {"go", 2, 2, false, false, 0},
          {"bottomwhile", 0, 4, false, false, 0},
      },
      DbfName());
  SelectedArea()->WhileMethod = [] { return Value() >= "03"; };
  RunSteps(
      {
          {"go", 5, 5, false, false, 0},
          {"topwhile", 0, 3, false, false, 0},  // its closing Skip(0) re-reads: flags clear
      },
      DbfName());
}

TEST_F(Navigation, WhileScopesStopAtAReadError) {
  Use("six exclusive");  // the count stays as opened
  SelectedArea()->WhileMethod = [] { return true; };
  GO(6);
  std::filesystem::resize_file(dir_.path() / "six.dbf", 65 + 3 * 3);  // records 4 to 6 are gone
  GoTopWhile();
  EXPECT_EQ(DbLastError, 213);
  GO(1);
  GoBottomWhile();
  EXPECT_EQ(DbLastError, 213);
  EXPECT_EQ(RecNo(), 3);
}

TEST_F(Navigation, TheHookRunsOnceAfterEachPositioning) {
  int calls = 0;
  std::vector<int32_t> seen;
  SetAreaHook([&] {
    ++calls;
    seen.push_back(RecNo());
    Skip(0);  // positioning inside the hook does not run it again
  });
  EXPECT_EQ(calls, 1);  // a new hook runs at once
  GoTop();
  Skip(2);
  GO(5);
  GoBottom();
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 1, 3, 5, 6}));
  EXPECT_EQ(DbLastError, 0);

  // A hook may position other areas, never its own.
  Select(2);
  Use("six alias other");
  Select(1);
  SetAreaHook([] {
    Select(2);
    GO(4);
  });
  GO(2);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(GetWorkArea(), 1);
  Select(2);
  EXPECT_EQ(RecNo(), 4);
  Select(1);
  SetAreaHook([] { GO(1); });
  GO(3);
  EXPECT_EQ(DbLastError, 224);
  EXPECT_EQ(TakeErrorContext(), DbfName());
  EXPECT_EQ(DbErrorText(224), "Error # 224 (Cyclical relationship detected)");
}

TEST_F(Navigation, RecordsAnotherProgramAppendsBecomeVisible) {
  GoBottom();
  EXPECT_EQ(RecNo(), 6);
  std::string path = (dir_.path() / "six.dbf").string();
  platform::ChildProcess python(
      "/usr/bin/python3",
      {"-c",
       "import sys\n"
       "f = open(sys.argv[1], 'r+b'); f.seek(-1, 2); f.write(b' 07 08\\x1a'); f.close()\n"
       "print('ok')",
       path});
  ASSERT_EQ(python.ReadLine(), "ok");
  EXPECT_EQ(python.Wait(), 0);
  Skip(1);
  EXPECT_EQ(RecNo(), 7);
  EXPECT_EQ(Value(), "07");
  EXPECT_EQ(RecCount(), 8);
  GoBottom();
  EXPECT_EQ(Value(), "08");
}

// A shared walk counts the records again where those it knows of end, not at every step:
// a file another program made shorter in the meantime still ends the walk where its records
// end, whole ones only, and without an error.
TEST_F(Navigation, AWalkEndsWhereAFileAnotherProgramShortenedEnds) {
  struct Case {
    const char* what;
    uintmax_t size;  // the header is 65 bytes, a record 3
    std::vector<std::string> walked;
  };
  const Case cases[] = {
      {"three records left", 65 + 9, {"03"}},
      {"three and a part", 65 + 9 + 2, {"03"}},
      {"four and the end mark", 65 + 12 + 1, {"03", "04"}},
      {"two records left", 65 + 6, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir_.Write("six.dbf",
               RawTable(0x03, {{"N", 'C', 2}}, {" 01", "*02", " 03", " 04", "*05", " 06"}));
    Use("six");
    GO(2);
    std::filesystem::resize_file(dir_.path() / "six.dbf", c.size);
    std::vector<std::string> walked;
    for (Skip(1); !dEOF() && DbLastError == 0; Skip(1)) walked.push_back(Value());
    EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    EXPECT_EQ(walked, c.walked);
    const auto left = static_cast<int32_t>((c.size - 65) / 3);
    EXPECT_EQ(RecNo(), left + 1);
    EXPECT_EQ(RecCount(), left);
  }
}

// An index order over a fixed list of record numbers, logging every slot the engine calls.
struct FakeOrder {
  static inline std::vector<int32_t> order;
  static inline size_t pos = 0;
  static inline bool bof = false, eof = false;
  static inline int read_depth = 0;
  static inline std::vector<std::string> log;

  static void Install(std::vector<int32_t> records) {
    order = std::move(records);
    pos = 0;
    bof = eof = false;
    read_depth = 0;
    log.clear();
    IndexDriver.HasIndexOrder = [] { return true; };
    IndexDriver.IndexFirstRec = [] {
      log.push_back("first");
      pos = 0;
      bof = eof = false;
      return order[0];
    };
    IndexDriver.IndexLastRec = [] {
      log.push_back("last");
      pos = order.size() - 1;
      bof = eof = false;
      return order[pos];
    };
    IndexDriver.IndexNextRec = [] {
      log.push_back("next");
      bof = false;
      if (pos + 1 < order.size()) return order[++pos];
      eof = true;
      return order[pos];
    };
    IndexDriver.IndexPriorRec = [] {
      log.push_back("prior");
      eof = false;
      if (pos > 0) return order[--pos];
      bof = true;
      return order[pos];
    };
    IndexDriver.IndexEof = [] { return eof; };
    IndexDriver.IndexBof = [] { return bof; };
    IndexDriver.SyncIndexPosition = [] {
      log.push_back("sync");
      auto it = std::find(order.begin(), order.end(), RecNo());
      if (it == order.end()) return;
      pos = static_cast<size_t>(it - order.begin());
      bof = eof = false;
    };
    IndexDriver.MakeCurrentKey = [] { log.push_back("key"); };
    IndexDriver.IndexSetBof = [] { bof = true; };
    IndexDriver.IndexSetEof = [] { eof = true; };
    IndexDriver.SetReadSemaphoreProc = [](int begin) {
      read_depth += begin ? 1 : -1;
      log.push_back(begin ? "read(" : ")");
    };
    IndexDriverLinked = true;
  }
};

TEST_F(Navigation, AnIndexOrderLeadsTheWay) {
  FakeOrder::Install({5, 3, 1});
  RunSteps(
      {
          {"top", 0, 5, false, false, 0},
          {"skip", 1, 3, false, false, 0},
          {"skip", 1, 1, false, false, 0},
          {"skip", 1, 7, false, true, 0},
          {"bottom", 0, 1, false, false, 0},
          {"skip", -1, 3, false, false, 0},
          {"skip", -2, 5, true, false, 0},
          {"go", 3, 3, false, false, 0},
      },
      DbfName());
  EXPECT_EQ(FakeOrder::read_depth, 0);
  // Every read is bracketed and followed by the current key.
  FakeOrder::log.clear();
  GoTop();
  EXPECT_EQ(FakeOrder::log, (std::vector<std::string>{"read(", "first", "key", ")"}));
  FakeOrder::log.clear();
  GO(1);
  EXPECT_EQ(FakeOrder::log, (std::vector<std::string>{"read(", "sync", "key", ")"}));

  SetIgnoreDel(true);  // record 5 is deleted
  GoTop();
  EXPECT_EQ(RecNo(), 3);
  Skip(-1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(FakeOrder::read_depth, 0);
  IndexDriverLinked = false;
  GoTop();
  EXPECT_EQ(RecNo(), 1);  // natural order again
}

}  // namespace
}  // namespace tz
