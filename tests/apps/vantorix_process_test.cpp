// The built display program as a kiosk runs it: unattended (--demo), against the phone
// simulator on COM1 and the paced laser stand-in, ended by a signal the way a service manager
// ends it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "vantorix_sim.h"

extern char** environ;

namespace vantorix {
namespace {

using Clock = std::chrono::steady_clock;

// The program, started with posix_spawn, its output in a file; killed when still running at
// the end of the test.
class Program {
 public:
  Program(std::vector<std::string> args, const std::filesystem::path& output) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int signal_number) { kill(pid_, signal_number); }
  // Waits up to `limit` for the program to end: its exit status, -1 when a signal ended it,
  // std::nullopt when it is still running.
  std::optional<int> WaitExit(std::chrono::milliseconds limit) {
    Clock::time_point end = Clock::now() + limit;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < end);
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
};

// Waits up to `limit` for `done` to hold.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class ProgramTest : public ConnectTest {
 protected:
  ProgramTest()
      : ld_log_file_(dir_ / "ld2000.log"),
        log_("LD2000_LOG", ld_log_file_.string()),
        pace_("LD2000_PACE", "1") {}

  std::string LdLog() const { return platform::TempDir::Read(ld_log_file_); }
  // The laser shows a frame with points: the receive loop runs.
  bool ShowsText() const { return LdLog().find("  shows frame 1: ") != std::string::npos; }

  std::filesystem::path ld_log_file_;
  platform::ScopedEnv log_, pace_;
};

// A "Minimum number of points" far above what a frame holds made every frame take 15 s, in
// which the program pumped no events: SIGTERM went unanswered for the rest of the frame, the
// Stop's empty frame and the end of the session's one.
TEST_F(ProgramTest, SigtermEndsAShowOfSlowFramesWithinTwoSeconds) {
  dir_.Write("windows/LD2000.ini", "[Scan rate]\r\nMinimum number of points=200000\r\n");
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "on the wall"));
  Program vantorix({VANTORIX, "--demo", "60"}, dir_ / "vantorix.out");
  ASSERT_TRUE(vantorix.Started());
  ASSERT_TRUE(WaitFor([&] { return ShowsText(); }, std::chrono::seconds(30)))
      << platform::TempDir::Read(dir_ / "vantorix.out");
  // Well inside the show: frames have gone out since.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));

  Clock::time_point signalled = Clock::now();
  vantorix.Signal(SIGTERM);
  std::optional<int> status = vantorix.WaitExit(std::chrono::seconds(2));
  ASSERT_TRUE(status.has_value()) << "still running 2 s after SIGTERM";
  EXPECT_EQ(*status, 0) << platform::TempDir::Read(dir_ / "vantorix.out");
  EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(2));
  // Under the sanitizer build its reports go to the same file.
  const std::string printed = platform::TempDir::Read(dir_ / "vantorix.out");
  EXPECT_EQ(printed.find("Sanitizer"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("runtime error:"), std::string::npos) << printed;

  // It ended as a close does: the laser blanked and its session ended, the "Stop" row written.
  std::string ld = LdLog();
  EXPECT_TRUE(ld.ends_with("WriteFrame(0, 100, 0, 0)\nDisplayFrame(1)\nDisplayUpdate()\n"
                           "  shows frame 1:\nEndSession()\n"))
      << ld.substr(ld.size() > 300 ? ld.size() - 300 : 0);
  std::vector<std::string> log = PeerRows(dir_ / "windows" / "sysilog.dat");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].ends_with("|Start"));
  EXPECT_TRUE(log[1].ends_with("|Stop"));
  std::vector<std::string> rows =
      apps_testing::DbfreadRows(dir_ / "program" / "protocol.dbf", "TELNR TEXT", dir_ / "p.out");
  EXPECT_EQ(rows, std::vector<std::string>{"+491709876543|on the wall"});
  EXPECT_FALSE(sim_->Slot(1).has_value());
}

}  // namespace
}  // namespace vantorix
