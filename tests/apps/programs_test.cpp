// Both programs as real processes (the built vantorix and vazor, unattended with --demo,
// offscreen) on tables another dBase program wrote with a layout of its own (python3-dbf): a
// field missing, a field of another type; and on a phone table whose index another process
// holds exclusively. Whatever such a table does, a program never dies of a signal: Vazor,
// which cannot set its window up without its table, ends the start-up with the message (box
// and stderr) and exit status 1; Vantorix reports what does not open or read and runs on
// until it is closed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/small_filesystem.h"
#include "platform/testing/temp_dir.h"
#include "tests/apps/dbfread_rows.h"
#include "tests/apps/sms_pdu.h"
#include "tools/phonesim/simulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One run of a program, its standard output and error read from pipes while it runs.
class ProgramRun {
 public:
  ProgramRun(const std::string& program, const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~ProgramRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Started() const { return pid_ > 0; }
  // Reads until standard output holds every one of `texts` (true), or the program closed its
  // output, or `timeout_ms` passed (false).
  bool WaitForOutput(const std::vector<std::string>& texts, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      bool all = true;
      for (const std::string& t : texts) all = all && out_.find(t) != std::string::npos;
      if (all) return true;
      if (fds_[0] < 0 || !ReadSome(deadline)) return false;
    }
  }
  // Asks the program to close its window as the user would (SIGTERM).
  void Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  // Reads everything up to the end of the program, which must come within `timeout_ms`
  // (else it is killed and the run counts as signalled), and takes its wait status.
  void Finish(int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while ((fds_[0] >= 0 || fds_[1] >= 0) && ReadSome(deadline)) {
    }
    if (pid_ <= 0) return;
    if (fds_[0] >= 0 || fds_[1] >= 0) kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  bool Signalled() const { return !WIFEXITED(status_); }
  int ExitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  // What the run printed, for failure messages.
  std::string Printed() const { return "stdout:\n" + out_ + "stderr:\n" + err_; }

 private:
  // One read from whichever pipe has data; false at the deadline or when both are closed.
  bool ReadSome(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    int n = poll(p, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t got = read(fds_[i], buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? out_ : err_).append(buf, static_cast<size_t>(got));
      } else {
        close(fds_[i]);
        fds_[i] = -1;
      }
    }
    return fds_[0] >= 0 || fds_[1] >= 0;
  }

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  std::string out_, err_;
  int status_ = -1;  // not an exit: a run that never ended counts as signalled
};

// A field as the other program declares it, with the value of the one row it writes (a
// Python literal).
struct ForeignField {
  std::string name, type, value;
};
using Layout = std::vector<ForeignField>;

const Layout kTelstamm = {{"id", "C(10)", "'0000000001'"}, {"hersteller", "C(20)", "'Kestrova'"},
                          {"modell", "C(20)", "'PS-1'"},   {"smsstack", "N(3,0)", "5"},
                          {"comport", "N(1,0)", "1"},      {"baudrate", "C(6)", "'9600'"},
                          {"databits", "C(4)", "'8'"},     {"stopbits", "C(4)", "'1'"},
                          {"parity", "C(1)", "'N'"},       {"flowcontr", "C(20)", "'None'"},
                          {"inputbuf", "N(4,0)", "1024"},  {"outputbuf", "N(4,0)", "1024"},
                          {"waitopen", "N(4,0)", "10"},    {"waitclose", "N(4,0)", "10"},
                          {"waitsend", "N(4,0)", "10"},    {"waitrec", "N(4,0)", "20"},
                          {"smsc_omit", "L", "False"}};
const Layout kProtocol = {{"telnr", "C(20)", "'+491700000000'"},
                          {"zeit", "C(22)", "'01.01.26 10:00,00'"},
                          {"text", "C(200)", "'an older SMS'"},
                          {"provider", "C(20)", "'+491710760000'"}};
const Layout kVerbwort = {{"wort", "C(40)", "'BAD'"}};
const Layout kVerbtel = {{"telnr", "C(20)", "'+491709999999'"}};
const Layout kWerbung = {{"werbetext", "C(100)", "'Happy hour'"}, {"aktiv", "L", "True"}};

// One table of the program folder laid out differently: `field` left out, or declared and
// written as `instead` says.
struct Change {
  std::string file, field;
  std::optional<ForeignField> instead;
};

class ProgramsTest : public ::testing::Test {
 protected:
  ProgramsTest()
      : platform_("QT_QPA_PLATFORM", "offscreen"),
        lc_all_("LC_ALL", "C"),
        program_("KESTROVA_PROGRAM_DIR", ProgramDir().string()),
        windows_("KESTROVA_WINDOWS_DIR", (dir_ / "windows").string()),
        com1_("KESTROVA_COM1", sim_.DevicePath()),
        ld_log_("LD2000_LOG", std::nullopt),
        ld_pace_("LD2000_PACE", std::nullopt) {
    fs::create_directories(dir_ / "windows");
    dir_.Write("windows/registry.ini",
               "[Software\\Kestrova\\Vantorix]\r\nID=0000000001\r\nPort=1\r\n");
    sim_.SetSlot(1, 0, apps::testing::DeliverPdu("+491701234567", "hello wall"));
  }

  fs::path ProgramDir() const { return dir_ / "program"; }

  // The five tables as the other program writes them, one row each, with `change` applied,
  // in an emptied program folder.
  void WriteTables(const Change& change) {
    fs::remove_all(ProgramDir());
    fs::create_directories(ProgramDir());
    const std::pair<const char*, const Layout*> tables[] = {{"telstamm.dbf", &kTelstamm},
                                                            {"protocol.dbf", &kProtocol},
                                                            {"verbwort.dbf", &kVerbwort},
                                                            {"verbtel.dbf", &kVerbtel},
                                                            {"werbung.dbf", &kWerbung}};
    for (const auto& [file, layout] : tables) {
      std::string fields, row;
      for (ForeignField f : *layout) {
        if (file == change.file && f.name == change.field) {
          if (!change.instead) continue;
          f = *change.instead;
        }
        fields += (fields.empty() ? "" : "; ") + f.name + " " + f.type;
        row += f.value + ", ";
      }
      ProgramRun python("/usr/bin/python3",
                        {"-c",
                         "import sys, dbf\n"
                         "t = dbf.Table(sys.argv[1], sys.argv[2], codepage='cp850', "
                         "dbf_type='db3')\n"
                         "t.open(dbf.READ_WRITE)\n"
                         "t.append(eval(sys.argv[3]))\n"
                         "t.close()\n",
                         (ProgramDir() / file).string(), fields, "(" + row + ")"});
      python.Finish(30000);
      ASSERT_EQ(python.ExitCode(), 0) << file << "\n" << python.Printed();
    }
  }

  // The production index a program built beside telstamm.dbf (its extension in any case).
  fs::path TelstammIndex() const {
    for (const auto& entry : fs::directory_iterator(ProgramDir())) {
      std::string name = entry.path().filename().string();
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "telstamm.mdx") return entry.path();
    }
    return {};
  }

  // Vazor, unattended, to its end.
  void RunVazor(ProgramRun& run) {
    ASSERT_TRUE(run.Started());
    run.Finish(60000);
  }

  // Vantorix, unattended, until its window runs and `message` was shown (nothing more when
  // it is empty), then closed as the user would.
  void RunVantorix(ProgramRun& run, const std::string& message) {
    ASSERT_TRUE(run.Started());
    std::vector<std::string> wanted = {"window: "};
    if (!message.empty()) wanted.push_back(message);
    EXPECT_TRUE(run.WaitForOutput(wanted, 60000)) << message << "\n" << run.Printed();
    run.Terminate();
    run.Finish(60000);
  }

  // No sanitizer of the sanitizer build found anything (its reports go to stderr).
  static void ExpectNoSanitizerReport(const ProgramRun& run) {
    EXPECT_EQ(run.Err().find("Sanitizer"), std::string::npos) << run.Printed();
    EXPECT_EQ(run.Err().find("runtime error:"), std::string::npos) << run.Printed();
  }

  platform::TempDir dir_;
  phone::sim::PhoneSimulator sim_;
  platform::ScopedEnv platform_, lc_all_, program_, windows_, com1_, ld_log_, ld_pace_;
};

TEST_F(ProgramsTest, VazorEndsAStartUpOnAForeignPhoneTableWithItsMessage) {
  struct VazorCase {
    Change change;
    const char* box;  // the message box, printed by the unattended run
    const char* err;  // the line on stderr
    int status;
  } cases[] = {
      {{"telstamm.dbf", "baudrate", {}},
       "Vazor: Field 'BAUDRATE' not found",
       "Vazor: Field 'BAUDRATE' not found",
       1},
      {{"telstamm.dbf", "comport", {{"comport", "L", "True"}}},
       "Vazor: Cannot access field 'COMPORT' as type Integer",
       "Vazor: Cannot access field 'COMPORT' as type Integer",
       1},
      {{"telstamm.dbf", "waitrec", {{"waitrec", "D", "dbf.Date(2026, 1, 5)"}}},
       "Vazor: Cannot access field 'WAITREC' as type Integer",
       "Vazor: Cannot access field 'WAITREC' as type Integer",
       1},
      // The index key cannot be made of a number: the library halts, as it does at run time.
      {{"telstamm.dbf", "hersteller", {{"hersteller", "N(10,0)", "7"}}},
       "Program halted.: Error # 351 (Undefined error)",
       "Program halted with code 351 (exit status 255)",
       255},
  };
  for (const VazorCase& c : cases) {
    SCOPED_TRACE(c.box);
    WriteTables(c.change);
    ProgramRun run(VAZOR, {"--demo", "0"});
    RunVazor(run);
    EXPECT_FALSE(run.Signalled()) << run.Printed();
    EXPECT_EQ(run.ExitCode(), c.status) << run.Printed();
    EXPECT_NE(run.Out().find(std::string("message: ") + c.box), std::string::npos) << run.Printed();
    EXPECT_NE(run.Err().find(std::string(c.err) + "\n"), std::string::npos) << run.Printed();
    EXPECT_EQ(run.Out().find("window: "), std::string::npos) << "the window ran";
    ExpectNoSanitizerReport(run);
  }
}

// Vazor's unattended run closes its window after the time it was given, also while it is
// still reading the SIM: a stack of hundreds of empty slots, or a phone that stops answering
// once it is connected. The reading ends at once and the program with it.
TEST_F(ProgramsTest, VazorEndsItsUnattendedRunInTimeWhateverTheStack) {
  struct Case {
    const char* what;
    const char* stack;
    bool reads_unanswered;
  } const cases[] = {
      {"999 slots, 998 of them empty", "999", false},
      {"12 slots the phone does not answer", "12", true},
  };
  const int kSeconds = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteTables({"telstamm.dbf", "smsstack", {{"smsstack", "N(3,0)", c.stack}}});
    sim_.ClearBehaviours();
    if (c.reads_unanswered) sim_.SetBehaviour("AT+CMGR", {phone::sim::Behaviour::kSilent});
    sim_.ClearLog();
    auto started = Clock::now();
    ProgramRun run(VAZOR, {"--demo", std::to_string(kSeconds)});
    RunVazor(run);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    EXPECT_FALSE(run.Signalled()) << run.Printed();
    EXPECT_EQ(run.ExitCode(), 0) << run.Printed();
    EXPECT_NE(run.Out().find("window: "), std::string::npos) << run.Printed();
    EXPECT_NE(run.Out().find(std::string(" slots of ") + c.stack), std::string::npos)
        << run.Printed();
    // The start of the program and its end take a moment beyond the run's time, more in the
    // sanitizer build; a reading that went on would take tens of seconds.
    EXPECT_LT(ms, kSeconds * 1000 + 5000) << run.Printed();
    // The reading had begun and ended with the window.
    std::vector<std::string> sent = sim_.LogTexts();
    auto was_sent = [&](const std::string& line) {
      return std::find(sent.begin(), sent.end(), line) != sent.end();
    };
    EXPECT_TRUE(was_sent("AT+CMGR=1"));
    EXPECT_FALSE(was_sent(std::string("AT+CMGR=") + c.stack)) << "the whole stack was read";
    ExpectNoSanitizerReport(run);
  }
}

TEST_F(ProgramsTest, VantorixReportsWhatAForeignTableDoesAndRunsOn) {
  struct Case {
    Change change;
    const char* message;  // part of the box's text
  } cases[] = {
      // Read when Start connects the phone of the registry's row.
      {{"telstamm.dbf", "waitrec", {}}, "Field 'WAITREC' not found"},
      {{"telstamm.dbf", "comport", {{"comport", "L", "True"}}},
       "Cannot access field 'COMPORT' as type Integer"},
      // Written when an SMS comes in.
      {{"protocol.dbf", "text", {}}, "Dataset could not be stored in database."},
      // Index tags on a field that is not there or of a type the key cannot take: the table
      // does not open.
      {{"verbwort.dbf", "wort", {{"wort", "N(10,0)", "7"}}}, "Type mismatch in function \"UPPER\""},
      {{"verbtel.dbf", "telnr", {{"telnr", "L", "True"}}}, "Wrong parser return type"},
      {{"verbtel.dbf", "telnr", {{"nummer", "C(20)", "'+491709999999'"}}}, "[telnr]"},
      // Read at start-up for the advertisement check.
      {{"werbung.dbf", "aktiv", {{"aktiv", "N(1,0)", "1"}}},
       "Cannot access field 'AKTIV' as type Boolean"},
      {{"werbung.dbf", "aktiv", {}}, "Field 'AKTIV' not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteTables(c.change);
    ProgramRun run(VANTORIX, {"--demo", "120"});
    RunVantorix(run, c.message);
    EXPECT_FALSE(run.Signalled()) << run.Printed();
    EXPECT_EQ(run.ExitCode(), 0) << run.Printed();
    EXPECT_NE(run.Out().find("message: Vantorix: "), std::string::npos) << run.Printed();
    ExpectNoSanitizerReport(run);
  }
}

TEST_F(ProgramsTest, APhoneTableWhoseIndexAnotherProcessHoldsNeverEndsAProgramWithASignal) {
  WriteTables({});
  {
    // The first start builds the indexes; this run ends by itself, as an unattended run does,
    // after the SMS it logged.
    ProgramRun run(VANTORIX, {"--demo", "3"});
    ASSERT_TRUE(run.Started());
    run.Finish(60000);
    ASSERT_EQ(run.ExitCode(), 0) << run.Printed();
    EXPECT_NE(run.Out().find("protocol: +491701234567"), std::string::npos) << run.Printed();
    ExpectNoSanitizerReport(run);
  }
  fs::path index = TelstammIndex();
  ASSERT_FALSE(index.empty());
  platform::ChildProcess holder(FILE_HOLDER, {"open", "18", index.string()});
  ASSERT_EQ(holder.ReadLine(), "ok");

  // Either the table opens without its index being had, or the program says why not: a
  // start-up that failed ("Vazor: ...") or the library's halt on the index it cannot open.
  ProgramRun vazor(VAZOR, {"--demo", "0"});
  RunVazor(vazor);
  ASSERT_FALSE(vazor.Signalled()) << vazor.Printed();
  if (vazor.ExitCode() != 0) {
    EXPECT_NE(vazor.Out().find("message: "), std::string::npos) << vazor.Printed();
    EXPECT_TRUE(vazor.Err().find("Vazor: ") != std::string::npos ||
                vazor.Err().find("Program halted with code") != std::string::npos)
        << vazor.Printed();
  }
  ExpectNoSanitizerReport(vazor);

  ProgramRun vantorix(VANTORIX, {"--demo", "120"});
  RunVantorix(vantorix, "");
  ASSERT_FALSE(vantorix.Signalled()) << vantorix.Printed();
  EXPECT_EQ(vantorix.ExitCode(), 0) << vantorix.Printed();
  ExpectNoSanitizerReport(vantorix);
}

// Both programs' unattended runs on sound tables end by themselves with status 0, and under
// the sanitizer build without a report: the display program logs the SMS and writes its
// "Start" and "Stop" rows, Vazor reads the SIM.
TEST_F(ProgramsTest, BothProgramsDemoRunsEndByThemselvesCleanly) {
  WriteTables({});
  ProgramRun vantorix(VANTORIX, {"--demo", "3"});
  ASSERT_TRUE(vantorix.Started());
  vantorix.Finish(60000);
  EXPECT_EQ(vantorix.ExitCode(), 0) << vantorix.Printed();
  EXPECT_NE(vantorix.Out().find("protocol: +491701234567 | "), std::string::npos)
      << vantorix.Printed();
  ExpectNoSanitizerReport(vantorix);
  std::vector<std::string> log =
      apps_testing::DbfreadRows(dir_ / "windows" / "sysilog.dat", "KOMMENTAR", dir_ / "log.out");
  EXPECT_EQ(log, (std::vector<std::string>{"Start", "Stop"}));

  ProgramRun vazor(VAZOR, {"--demo", "1"});
  RunVazor(vazor);
  EXPECT_EQ(vazor.ExitCode(), 0) << vazor.Printed();
  EXPECT_NE(vazor.Out().find("window: "), std::string::npos) << vazor.Printed();
  EXPECT_NE(vazor.Out().find("slot: AT+CMGR=1"), std::string::npos) << vazor.Printed();
  ExpectNoSanitizerReport(vazor);
}

// The program folder on a full disk: the protocol row of an SMS cannot be written. The stored
// rows were overwritten by the listing and the close of the unattended run, and the file lost
// its end mark; now protocol.dbf is byte for byte as before, and the SMS waits on the SIM.
TEST_F(ProgramsTest, VantorixOnAFullDiskLeavesEveryProtocolRowAsItWas) {
  WriteTables({});
  sim_.ClearSlot(1);
  const fs::path protocol = ProgramDir() / "protocol.dbf";
  // Rows until the file's last block has room for the start of one more row only.
  ProgramRun python("/usr/bin/python3",
                    {"-c",
                     "import os, sys, dbf\n"
                     "path, block = sys.argv[1], int(sys.argv[2])\n"
                     "t = dbf.Table(path)\n"
                     "t.open(dbf.READ_WRITE)\n"
                     "n = 1\n"
                     "while n < 3 or not 0 < (-os.path.getsize(path)) % block <= 263:\n"
                     "    n += 1\n"
                     "    t.append(('+4917000%05d' % n, '01.01.26 10:00,00', 'row %d' % n,"
                     " '+491710760000'))\n"
                     "    t.close(); t.open(dbf.READ_WRITE)\n"
                     "t.close()\n",
                     protocol.string(), std::to_string(platform::SmallFileSystem::BlockSize())});
  python.Finish(30000);
  ASSERT_EQ(python.ExitCode(), 0) << python.Printed();
  platform::SmallFileSystem disk(ProgramDir(), 1024 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Error();
  const std::vector<std::string> rows =
      apps_testing::DbfreadRows(protocol, "TELNR TEXT", dir_ / "p.out");
  ASSERT_GE(rows.size(), 3u);

  ProgramRun run(VANTORIX, {"--demo", "12"});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitForOutput({"window: "}, 60000)) << run.Printed();
  const std::string before = platform::TempDir::Read(protocol);
  disk.Fill();
  sim_.SetSlot(1, 0, apps::testing::DeliverPdu("+491709876543", "the new one"));
  EXPECT_TRUE(run.WaitForOutput({"message: Vantorix: Dataset could not be stored in database."},
                                30000))
      << run.Printed();
  run.Finish(60000);
  EXPECT_EQ(run.ExitCode(), 0) << run.Printed();
  EXPECT_EQ(run.Out().find("protocol: "), std::string::npos) << run.Printed();
  ExpectNoSanitizerReport(run);
  const std::string after = platform::TempDir::Read(protocol);
  auto diff = std::mismatch(after.begin(), after.end(), before.begin(), before.end());
  EXPECT_TRUE(after == before) << "protocol.dbf changed from byte "
                               << (diff.first - after.begin()) << " on";
  EXPECT_EQ(apps_testing::DbfreadRows(protocol, "TELNR TEXT", dir_ / "p.out"), rows);
  EXPECT_TRUE(sim_.Slot(1).has_value()) << "the SMS left the SIM without its row";
}

// Another program holds the bytes of verbtel.dbf's semaphore file while an SMS is checked:
// the lookup gives up after the lock wait. The program halted then ("Program halted.", exit
// status 255), with no Stop row and the SMS still on the SIM; now the lock's error is shown,
// the SMS is logged, deleted and not shown, and the run ends as it should.
TEST_F(ProgramsTest, VantorixReportsAFilterTableLockedWhileAnSmsIsCheckedAndRunsOn) {
  WriteTables({});
  sim_.ClearSlot(1);
  ProgramRun run(VANTORIX, {"--demo", "20"});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitForOutput({"window: "}, 60000)) << run.Printed();
  const fs::path semaphore = ProgramDir() / "verbtel.@S@";
  ASSERT_TRUE(fs::exists(semaphore));
  auto holder = std::make_unique<platform::ChildProcess>(
      FILE_HOLDER, std::vector<std::string>{"lock", semaphore.string(), "1", "4"});
  ASSERT_EQ(holder->ReadLine(), "ok");
  sim_.SetSlot(1, 0, apps::testing::DeliverPdu("+491701234567", "checked while held"));
  EXPECT_TRUE(run.WaitForOutput({"message: Vantorix: Error # 1202"}, 40000)) << run.Printed();
  holder.reset();
  run.Finish(60000);
  EXPECT_FALSE(run.Signalled()) << run.Printed();
  EXPECT_EQ(run.ExitCode(), 0) << run.Printed();
  EXPECT_EQ(run.Out().find("Program halted."), std::string::npos) << run.Printed();
  EXPECT_EQ(run.Out().find("shown: checked while held"), std::string::npos) << run.Printed();
  EXPECT_NE(run.Out().find("protocol: +491701234567 | "), std::string::npos) << run.Printed();
  ExpectNoSanitizerReport(run);
  EXPECT_FALSE(sim_.Slot(1).has_value()) << "the SMS stayed on the SIM";
  std::vector<std::string> log =
      apps_testing::DbfreadRows(dir_ / "windows" / "sysilog.dat", "KOMMENTAR", dir_ / "log.out");
  EXPECT_EQ(log, (std::vector<std::string>{"Start", "Stop"}));
}

}  // namespace
