// The reply collector on exact times: a virtual clock on which the phone's bytes arrive at
// given milliseconds, and a few real-time runs against the simulator.
#include <chrono>
#include <deque>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "platform/clock.h"
#include "tests/phone/sim_fixture.h"

namespace phone {
namespace {

using sim::Behaviour;

struct Arrival {
  uint64_t at;  // milliseconds after the start of the reading
  std::string bytes;
};

// A virtual clock that only moves when the code under test sleeps. Each read of it first
// puts on the line what is due by then and waits until the port can read it, so a byte
// "arrives" at an exact millisecond.
class ArrivalClock : public platform::VirtualClock {
 public:
  ArrivalClock(uint64_t start, sim::PhoneSimulator& sim, int fd, std::vector<Arrival> arrivals)
      : VirtualClock(start), start_(start), sim_(sim), fd_(fd) {
    for (auto& a : arrivals) due_.push_back(std::move(a));
  }

  uint64_t Milliseconds() override {
    uint64_t now = VirtualClock::Milliseconds();
    while (!due_.empty() && start_ + due_.front().at <= now) {
      int expected = Waiting(fd_) + static_cast<int>(due_.front().bytes.size());
      sim_.SendRaw(due_.front().bytes);
      due_.pop_front();
      for (int i = 0; i < 20000 && Waiting(fd_) < expected; ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return now;
  }

 private:
  uint64_t start_;
  sim::PhoneSimulator& sim_;
  int fd_;
  std::deque<Arrival> due_;
};

constexpr uint64_t kNearWrap = 0xFFFFFFFFu - 1500;  // where a 32-bit millisecond count wraps

struct Case {
  const char* what;
  uint64_t start;
  std::vector<Arrival> arrivals;
  int code;
  std::string reply;
  uint64_t ends_at;  // clock when ReadReply returned, after the start
};

TEST(ReadReply, CodesAndRepliesOnExactTimes) {
  const std::string echo_and_info = "AT+CGMI\r\r\nKESTROVA\r\n\r\nOK\r\n";
  const Case cases[] = {
      {"final OK", 0, {{0, "\r\nOK\r\n"}}, 0, "\r\nOK\r\n", 0},
      {"echo and info kept", 0, {{0, echo_and_info}}, 0, echo_and_info, 0},
      {"final ERROR", 0, {{0, "AT+X\r\r\nERROR\r\n"}}, 0, "AT+X\r\r\nERROR\r\n", 0},
      {"final +CMS ERROR", 0, {{0, "\r\n+CMS ERROR: 321\r\n"}}, 0, "\r\n+CMS ERROR: 321\r\n", 0},
      {"a line beginning with OK", 0, {{0, "OKAY\r\n"}}, 0, "OKAY\r\n", 0},
      {"bytes after the final line stay", 0, {{0, "OK\r\nmore"}}, 0, "OK\r\n", 0},
      {"+CME ERROR is not final", 0, {{0, "\r\n+CME ERROR: 10\r\n"}}, 1, "", 2001},
      {"OK without CR LF", 0, {{0, "\r\nOK"}}, 1, "", 2001},
      {"OK with LF only", 0, {{0, "\r\nOK\n"}}, 1, "", 2001},
      {"OK with CR only", 0, {{0, "\r\nOK\r"}}, 1, "", 2001},
      {"OK after a bare CR", 0, {{0, "busy\rOK\r\n"}}, 1, "", 2001},
      {"OK not at the line start", 0, {{0, " OK\r\n"}}, 1, "", 2001},
      {"ERRO is not ERROR", 0, {{0, "ERRO\r\n"}}, 1, "", 2001},
      {"nothing at all", 0, {}, 1, "", 2001},
      {"a pause of 2000 ms", 0, {{0, "AT\r"}, {2000, "\r\nOK\r\n"}}, 0, "AT\r\r\nOK\r\n", 2001},
      {"a pause of 2001 ms", 0, {{0, "AT\r"}, {2001, "\r\nOK\r\n"}}, 1, "", 2001},
      {"silence counted from the last byte",
       0,
       {{0, "a"}, {1500, "b"}, {3500, "\r\nOK\r\n"}},
       0,
       "ab\r\nOK\r\n",
       3501},
      {"complete before 4000 ms",
       0,
       {{0, "a"}, {1000, "b"}, {2000, "c"}, {3000, "d"}, {3999, "\r\nOK\r\n"}},
       0,
       "abcd\r\nOK\r\n",
       4000},
      {"not complete by 4000 ms",
       0,
       {{0, "a"}, {1000, "b"}, {2000, "c"}, {3000, "d"}, {4000, "\r\nOK\r\n"}},
       2,
       "",
       4001},
      {"silence across the 32-bit wrap", kNearWrap, {{0, "AT\r"}}, 1, "", 2001},
      {"total time across the 32-bit wrap",
       kNearWrap,
       {{0, "a"}, {1000, "b"}, {2000, "c"}, {3000, "d"}, {4000, "e"}},
       2,
       "",
       4001},
  };

  SimFixture f;
  f.sim.SetBehaviour("", {Behaviour::kSilent});
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = 0;
  ASSERT_TRUE(komm.OpenPort());
  const int fd = komm.SerialPort->Handle;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Nothing left from the case before.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    uint8_t b;
    while (SerialGetByte(komm.SerialPort, b) == 1) {
    }
    ArrivalClock clock(c.start, f.sim, fd, c.arrivals);
    platform::ScopedClock use(clock);
    std::string reply = "left over";
    EXPECT_EQ(komm.ReadReply(reply), c.code);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(clock.Peek() - c.start, c.ends_at);
  }
  EXPECT_TRUE(f.ui.Texts().empty());
  EXPECT_EQ(f.ui.PumpCount(), 0);  // reading a reply does not pump
}

// A phone on COM1 that sends only what a test puts on the line.
class ScriptedPhone : public SimFixture {
 public:
  ScriptedPhone() {
    sim.SetBehaviour("", {Behaviour::kSilent});
    komm.SetDefaults();
    komm.WaitOpen = 0;
  }
  TMobilKomm komm;
};

struct EchoCase {
  const char* what;
  std::vector<Arrival> arrivals;  // after the command went out
  int code;
  std::string reply;
};

// Once the phone has echoed a command, a reply counts from the echo of the command just
// sent; before that echo the phone was still answering another command.
TEST(ReadReply, BeginsAtTheEchoOfTheCommandJustSent) {
  const std::string answer = "\r\n+CMGR: 1,,3\r\n0011AA\r\n\r\nOK\r\n";
  const std::string late = "\r\n+CMGR: 0,,3\r\n0022BB\r\n\r\nOK\r\n";
  const EchoCase cases[] = {
      {"a late answer before the echo", {{0, late}, {5, "AT+CMGR=2\r"}, {9, answer}}, 0,
       "AT+CMGR=2\r" + answer},
      {"a late ERROR before the echo", {{0, "\r\nERROR\r\nAT+CMGR=2\r" + answer}}, 0,
       "AT+CMGR=2\r" + answer},
      {"the echo after noise on its line", {{0, "busyAT+CMGR=2\r\r\nOK\r\n"}}, 0,
       "AT+CMGR=2\r\r\nOK\r\n"},
      {"another command's echo", {{0, "AT+CMGR=1\r" + late}}, 1, ""},
      {"a final line and no echo", {{0, late}}, 1, ""},
  };
  for (const EchoCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPhone p;
    ASSERT_TRUE(p.komm.OpenPort());
    const int fd = p.komm.SerialPort->Handle;
    std::vector<Arrival> arrivals = {{0, "AT+CGMI\r\r\nKESTROVA\r\n\r\nOK\r\n"}};
    for (const Arrival& a : c.arrivals) arrivals.push_back({100 + a.at, a.bytes});
    ArrivalClock clock(0, p.sim, fd, arrivals);
    platform::ScopedClock use(clock);
    std::string reply;
    p.komm.SendLine("AT+CGMI");
    ASSERT_EQ(p.komm.ReadReply(reply), 0);  // the phone echoes
    clock.Set(100);
    p.komm.SendLine("AT+CMGR=2");
    EXPECT_EQ(p.komm.ReadReply(reply), c.code);
    EXPECT_EQ(reply, c.reply);
  }
}

TEST(ReadReply, TakesAFinalLineWithoutEchoFromAPhoneThatDoesNotEcho) {
  ScriptedPhone p;
  ASSERT_TRUE(p.komm.OpenPort());
  const int fd = p.komm.SerialPort->Handle;
  // The phone echoes, is told to stop, and answers without echo; on a port opened anew
  // the echo is learnt again from the phone's first reply.
  ArrivalClock clock(0, p.sim, fd,
                     {{0, "AT+CGMI\r\r\nKESTROVA\r\n\r\nOK\r\n"},
                      {100, "ATE0\r\r\nOK\r\n"},
                      {200, "\r\nPS-1\r\n\r\nOK\r\n"}});
  platform::ScopedClock use(clock);
  std::string reply;
  const struct {
    uint64_t at;
    const char* command;
    std::string reply;
  } steps[] = {{0, "AT+CGMI", "AT+CGMI\r\r\nKESTROVA\r\n\r\nOK\r\n"},
               {100, "ATE0", "ATE0\r\r\nOK\r\n"},
               {200, "AT+CGMM", "\r\nPS-1\r\n\r\nOK\r\n"}};
  for (const auto& step : steps) {
    clock.Set(step.at);
    p.komm.SendLine(step.command);
    EXPECT_EQ(p.komm.ReadReply(reply), 0) << step.command;
    EXPECT_EQ(reply, step.reply);
  }
}

struct DrainCase {
  const char* what;
  std::vector<Arrival> arrivals;  // the first command goes out at 0
  int first_code;                 // how the reading of the first command ends
  uint64_t pause;                 // before the second command is sent
  uint64_t sent_at;               // when the second command goes out
};

// After a reading that gave up, the next command waits until the late answer is complete
// or the line has been quiet for 3000 ms, at most 4000 ms, and what came is dropped.
TEST(SendLine, WaitsForAQuietLineAfterAReadingThatGaveUp) {
  const std::string late = "\r\n+CMGR: 0,,3\r\n0022BB\r\n\r\nOK\r\n";
  std::vector<Arrival> trickle;
  for (uint64_t at = 2100; at < 6000; at += 500) trickle.push_back({at, "x"});
  std::vector<Arrival> slow = {{0, "a"}, {1000, "b"}, {2000, "c"}, {3000, "d"}, {4000, "e"}};
  const DrainCase cases[] = {
      {"nothing more comes", {}, 1, 0, 5001},
      {"the late answer ends the wait", {{3500, late}}, 1, 0, 3501},
      {"the late answer in two pieces", {{2600, late.substr(0, 10)}, {5500, late.substr(10)}},
       1, 0, 5501},
      {"bytes that never make a final line", trickle, 1, 0, 6001},
      {"a pause as long as the quiet", {}, 1, 3000, 5001},
      {"a pause that is shorter", {}, 1, 1000, 5001},
      {"the late answer came in the pause", {{2500, late}}, 1, 1000, 3001},
      {"a reading that timed out", slow, 2, 0, 7001},
      {"a reading that timed out, then the answer", {{0, "a"}, {1900, "b"}, {3800, "c"},
       {4300, late}}, 2, 0, 4301},
      {"a complete reading", {{10, "\r\nOK\r\n"}}, 0, 0, 11},
  };
  for (const DrainCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPhone p;
    ASSERT_TRUE(p.komm.OpenPort());
    std::vector<Arrival> arrivals = c.arrivals;
    // The answer to the second command, which must come back alone.
    arrivals.push_back({c.sent_at + 50, "\r\nOK\r\n"});
    ArrivalClock clock(0, p.sim, p.komm.SerialPort->Handle, arrivals);
    platform::ScopedClock use(clock);
    std::string reply;
    p.komm.SendLine("AT+CMGR=1");
    EXPECT_EQ(p.komm.ReadReply(reply), c.first_code);
    clock.Advance(c.pause);
    p.komm.SendLine("AT+CMGR=2");
    EXPECT_EQ(clock.Peek(), c.sent_at);
    EXPECT_EQ(p.komm.ReadReply(reply), 0);
    EXPECT_EQ(reply, "\r\nOK\r\n");
    EXPECT_EQ(p.ui.PumpCount(), 0);  // the wait does not pump
  }
}

struct InterruptCase {
  const char* what;
  int wait_send, wait_rec;
  bool after_a_reading_that_gave_up;  // the command first waits for the late answer
  std::function<int(TMobilKomm&)> run;
  std::vector<std::string> sent;  // what reached the phone, the first command included
};

// An owner that lets its user end an operation (Interruptible) gets every wait of an exchange
// ended at once by Interrupt from a handler that runs inside it: the reply collector, the
// wait for a late answer, the waits before a command and before its reading. Nothing is
// shown, nothing more is sent, until Resume.
TEST(Interrupt, EndsEachWaitOfAnExchangeAtOnceAndSendsNothingMore) {
  auto command = [](TMobilKomm& k) {
    std::string reply = "stale";
    int code = k.Command("AT+CMGR=2", reply);
    EXPECT_EQ(reply, "");
    return code;
  };
  auto read_sms = [](TMobilKomm& k) {
    std::string reply = "stale";
    k.ReadSms(2, reply);
    EXPECT_EQ(reply, "");
    return kReplyInterrupted;
  };
  auto delete_sms = [](TMobilKomm& k) {
    std::string reply = "stale";
    k.DeleteSms(2, reply);
    EXPECT_EQ(reply, "");
    return kReplyInterrupted;
  };
  auto init = [](TMobilKomm& k) { return k.InitPhone() ? 0 : kReplyInterrupted; };
  const InterruptCase cases[] = {
      {"the reply collector", 0, 0, false, command, {"AT+CMGR=2"}},
      {"the reply collector of ReadSms", 0, 0, false, read_sms, {"AT+CMGR=2"}},
      {"the reply collector of the probe", 0, 0, false, init, {"AT+CGMI"}},
      {"the wait before the reading", 0, 5000, false, command, {"AT+CMGR=2"}},
      {"the wait before a delete", 5000, 0, false, delete_sms, {}},
      {"the wait for a late answer", 0, 0, true, command, {"AT+CMGR=1"}},
  };
  for (const InterruptCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPhone p;  // answers nothing
    p.komm.Interruptible = true;
    p.komm.WaitSend = c.wait_send;
    p.komm.WaitRec = c.wait_rec;
    ASSERT_TRUE(p.komm.OpenPort());
    platform::VirtualClock clock(0);
    platform::ScopedClock use(clock);
    uint64_t interrupt_at = 700;
    if (c.after_a_reading_that_gave_up) {
      std::string reply;
      p.komm.SendLine("AT+CMGR=1");
      ASSERT_EQ(p.komm.ReadReply(reply), kReplySilence);
      p.ui.Clear();
      interrupt_at = clock.Peek() + 1000;  // the next command would wait until 3000 ms later
    }
    p.ui.OnProcessEvents([&] {
      if (clock.Peek() >= interrupt_at) p.komm.Interrupt();
    });
    EXPECT_EQ(c.run(p.komm), kReplyInterrupted);
    EXPECT_LE(clock.Peek(), interrupt_at + 1);
    EXPECT_TRUE(p.komm.Interrupted());
    // Every exchange after it ends at once and sends nothing.
    p.ui.OnProcessEvents(nullptr);
    uint64_t later = clock.Peek();
    EXPECT_EQ(command(p.komm), kReplyInterrupted);
    EXPECT_EQ(clock.Peek(), later);
    EXPECT_TRUE(p.ui.Texts().empty()) << p.ui.Texts().front();
    p.sim.WaitForLines(c.sent.size(), 200);
    EXPECT_EQ(p.sim.LogTexts(), c.sent);

    // Resumed, the next command goes out again.
    p.komm.Resume();
    p.komm.SendLine("AT");
    ASSERT_TRUE(p.sim.WaitForLines(c.sent.size() + 1, 2000));
    EXPECT_EQ(p.sim.LogTexts().back(), "AT");
  }
}

// Real time, with room for a loaded machine.
TEST(ReadReply, ASilentPhoneEndsTheReadingAfterTwoSeconds) {
  SimFixture f;
  f.sim.SetBehaviour("AT+CGMI", {Behaviour::kSilent});
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = 0;
  ASSERT_TRUE(komm.OpenPort());
  komm.SendLine("AT+CGMI");
  auto t0 = std::chrono::steady_clock::now();
  std::string reply;
  EXPECT_EQ(komm.ReadReply(reply), 1);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 2000);
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(f.ui.PumpCount(), 0);
}

TEST(ReadReply, APhoneThatNeverFinishesEndsTheReadingAfterFourSeconds) {
  SimFixture f;
  f.sim.SetBehaviour("AT+CMGR", {Behaviour::kTrickle, 0, 0, 100});
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = 0;
  ASSERT_TRUE(komm.OpenPort());
  komm.SendLine("AT+CMGR=1");
  auto t0 = std::chrono::steady_clock::now();
  std::string reply;
  EXPECT_EQ(komm.ReadReply(reply), 2);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 4000);
  EXPECT_LT(ms, 5000);
  EXPECT_EQ(reply, "");
}

}  // namespace
}  // namespace phone
