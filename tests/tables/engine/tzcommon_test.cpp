#include "tables/engine/tzcommon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine_test_support.h"

namespace tz {
namespace {

using ErrorReporting = EngineTest;

TEST_F(ErrorReporting, ErrorTextsOfTheTable) {
  struct Case {
    uint16_t code;
    const char* text;
  } cases[] = {
      {0, ""},
      {2, "Error # 2 (File not found)"},
      {7, "Error # 7 (Undefined error)"},
      {9, "Error # 9 (Memory block address invalid)"},
      {18, "Error # 18 (Too many open files)"},
      {101, "Error # 101 (Disk write error (probable cause: Disk Full).)"},
      {162, "Error # 162 (File sharing violation)"},
      {210, "Error # 210 (Not a dBASE data file)"},
      {227, "Error # 227 (Insufficient disk space )"},
      {228, "Error # 228 (Unbalanced Push/Pop operation )"},
      {232, "Error # 232 (Undefined error)"},
      {266, "Error # 266 (Invalid size)"},
      {1019,
       "Error # 1019 (Invalid memo operation: database not open or no memo field in "
       "database)"},
      {1103, "Error # 1103 (Invalid Operation )"},
      {1202,
       "Error # 1202 (Semaphore file error. Possible solutions: log into network or load "
       "SHARE.EXE before running Windows)"},
      {1203, "Error # 1203 (Network Error)"},
      {1250, "Error # 1250 (Network Error)"},
      {1299, "Error # 1299 (Network Error)"},
      {1300, "Error # 1300 (File format not supported)"},
      {1301, "Error # 1301 (Undefined error)"},
      {65535, "Error # 65535 (Undefined error)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DbErrorText(c.code), c.text) << c.code;
}

TEST_F(ErrorReporting, WithReportingOffTheErrorWaitsForTheCaller) {
  SetErrorReporting(false);
  SetDbError(9, "Attempt to free NIL pointer [FreeMem()]");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(DbLastError, 9);
  EXPECT_EQ(GetErrorMessage(),
            "Error # 9 (Memory block address invalid)\r\nAttempt to free NIL pointer [FreeMem()]");
  EXPECT_EQ(GetErrorMessage(), "");  // fetched once
  EXPECT_EQ(DbLastError, 9);         // the code stays for the caller's test

  SetDbError(215, "No database in use [GoTop]  WorkArea = 1");
  EXPECT_EQ(TakeErrorContext(), "No database in use [GoTop]  WorkArea = 1");
  EXPECT_EQ(TakeErrorContext(), "");
  EXPECT_EQ(DbPendingError, 0);
}

TEST_F(ErrorReporting, AStoredErrorIsReportedLaterWithItsContext) {
  SetErrorReporting(false);
  SetDbError(210, "x.dbf is not a dBASE database. [USE/OpenDBF]");
  SetRaiseErrors(true);
  try {
    ReportError();
    FAIL() << "no exception";
  } catch (const ETarazedError& e) {
    EXPECT_STREQ(e.what(),
                 "Error # 210 (Not a dBASE data file)\r\nx.dbf is not a dBASE database. "
                 "[USE/OpenDBF]");
  }
  EXPECT_EQ(DbLastError, 210);
}

TEST_F(ErrorReporting, RaiseModeThrowsAndKeepsTheCode) {
  EXPECT_FALSE(SetRaiseErrors(true));
  try {
    SetDbError(9, "Attempt to free NIL pointer [FreeMem()]");
    FAIL() << "no exception";
  } catch (const ETarazedError& e) {
    EXPECT_STREQ(e.what(),
                 "Error # 9 (Memory block address invalid)\r\nAttempt to free NIL pointer "
                 "[FreeMem()]");
  }
  EXPECT_EQ(DbLastError, 9);
  EXPECT_EQ(DbPendingError, 0);  // the message took the context
  EXPECT_EQ(DbErrorContext, "");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(SetRaiseErrors(false));
  EXPECT_THROW(RaiseTarazedError("from the index"), ETarazedError);
}

TEST_F(ErrorReporting, AnInstalledErrorRoutineReplacesBoxAndException) {
  std::string seen;
  int calls = 0;
  DbErrorProc = [&] {
    ++calls;
    seen = GetErrorMessage();
  };
  SetRaiseErrors(true);
  SetDbError(1250, "[RLock]");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "Error # 1250 (Network Error)\r\n[RLock]");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(DbLastError, 1250);

  // The routine is called even for code 0 and leaves the text pending when it does not fetch
  // it.
  DbErrorProc = [&] { ++calls; };
  SetDbError(33, "[ALock]");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(DbPendingError, 33);
  EXPECT_EQ(DbErrorContext, "[ALock]");
}

TEST_F(ErrorReporting, NothingIsReportedForCodeZeroOrWhileHalting) {
  SetDbError(0, "nothing");
  DbHalting = true;
  SetDbError(5, "during shutdown");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(DbLastError, 5);
}

// A Ui that remembers whether the halt had begun when its box came up.
class HaltWatchingUi : public platform::RecordingUi {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    halting_at_box = DbHalting;
    return RecordingUi::MessageBox(text, caption, flags);
  }
  bool halting_at_box = false;
};

int g_hook_calls = 0;
size_t g_messages_at_hook = 0;
HaltWatchingUi* g_watching = nullptr;

void CountingCloseHook() {
  ++g_hook_calls;
  g_messages_at_hook = g_watching->Messages().size();
  SetDbError(103, "a second error while closing");  // ignored: the halt has begun
}

TEST_F(ErrorReporting, HaltShowsTheMessageClosesTablesAndStopsWithTheCode) {
  HaltWatchingUi ui;
  platform::ScopedUi use(ui);
  g_watching = &ui;
  g_hook_calls = 0;
  SetHaltCloseHook(CountingCloseHook);
  std::string context(300, 'c');
  try {
    SetDbError(1280, context);
    FAIL() << "no halt";
  } catch (const platform::HaltRequested& halt) {
    EXPECT_EQ(halt.code, 1280);
  }
  SetHaltCloseHook(nullptr);
  ASSERT_EQ(ui.Messages().size(), 1u);
  const platform::RecordedMessage& box = ui.Messages()[0];
  EXPECT_EQ(box.caption, "Program halted.");
  EXPECT_EQ(box.flags, 16u);
  EXPECT_EQ(box.text.size(), 255u);
  EXPECT_EQ(box.text.substr(0, 32), "Error # 1280 (Network Error)\r\ncc");
  EXPECT_TRUE(ui.halting_at_box);
  EXPECT_EQ(g_hook_calls, 1);
  EXPECT_EQ(g_messages_at_hook, 1u);  // after the box, and its own error showed nothing
}

void AnnounceClose() {
  std::fprintf(stderr, "tables closed\n");
}

TEST(ErrorReportingDeathTest, HaltExitsNonZeroWithTheFullCode) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  platform::ScopedEnv c("LC_ALL", "C");
  StartTarazed();
  SetHaltCloseHook(AnnounceClose);
  // The console Ui prints the box as "caption: text" and exits through platform::ExitForHalt.
  EXPECT_EXIT(SetDbError(1280, "Record #1 in t.dbf [REPLACE]"), ::testing::ExitedWithCode(255),
              "Program halted\\.: Error # 1280 \\(Network Error\\).*Record #1 in t\\.dbf "
              "\\[REPLACE\\].*tables closed.*halted with code 1280");
  EXPECT_EXIT(SetDbError(33, "[RLock]"), ::testing::ExitedWithCode(33),
              "Program halted\\.: Error # 33 \\(File lock violation\\)");
  SetHaltCloseHook(nullptr);
}

TEST_F(ErrorReporting, FreeingNothingIsError9AndMemoryIsNotLimitedTo64K) {
  SetErrorReporting(false);
  void* p = nullptr;
  DbFreeMem(p);
  EXPECT_EQ(DbLastError, 9);
  EXPECT_EQ(GetErrorMessage(),
            "Error # 9 (Memory block address invalid)\r\nAttempt to free NIL pointer [FreeMem()]");
  EXPECT_EQ(p, nullptr);

  DbLastError = 0;
  const size_t size = 200000;
  DbGetMem(p, size);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, size);  // the whole block is ours (the sanitizer build checks it)
  DbFreeMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(DbMaxAvail(), 0x7FFFFFFF);
}

TEST_F(ErrorReporting, SwitchesAnswerTheirPreviousValue) {
  EXPECT_TRUE(SetErrorReporting(false));
  EXPECT_FALSE(SetErrorReporting(true));
  EXPECT_FALSE(SetRaiseErrors(true));
  EXPECT_TRUE(SetRaiseErrors(false));
}

TEST_F(ErrorReporting, StartSetsTheStartValues) {
  DbReportErrors = false;
  DbRaiseErrors = true;
  DbHalting = true;
  DbNetworkLocking = false;
  DbCentury = true;
  CurrentWorkArea = 7;
  FileMode = 66;
  DbLastError = 5;
  StartTarazed();
  auto today = std::chrono::year_month_day(
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
  EXPECT_TRUE(DbReportErrors);
  EXPECT_FALSE(DbRaiseErrors);
  EXPECT_FALSE(DbHalting);
  EXPECT_TRUE(DbNetworkLocking);
  EXPECT_FALSE(DbCentury);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_EQ(CurrentWorkArea, 1);
  EXPECT_EQ(FileMode, 18);
  EXPECT_EQ(DbDefaultTableVersion, 0x8B);
  EXPECT_EQ(DbDefaultMemoBlockSize, 512);
  EXPECT_EQ(DbDateFormat, 0);  // the fixture's "C" language
  EXPECT_EQ(DbDatePicture, "MM/dd/yy");
  EXPECT_NEAR(DbCenturyBase, static_cast<int>(today.year()) - 70, 1);  // local vs. UTC date
}

}  // namespace
}  // namespace tz
