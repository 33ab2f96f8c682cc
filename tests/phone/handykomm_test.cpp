#include "phone/HandyKomm.h"

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/phone/sim_fixture.h"

namespace phone {
namespace {

using sim::Behaviour;
using Texts = std::vector<std::string>;

uint64_t RealMs() {
  return platform::SystemClock().Milliseconds();
}

// A phone on COM1 with short waits, so the dialogue tests run quickly.
class Komm : public SimFixture {
 public:
  Komm() {
    komm.SetDefaults();
    komm.WaitOpen = 50;
    komm.WaitClose = 0;
    komm.WaitSend = 20;
    komm.WaitRec = 20;
  }
  bool Open() {
    bool ok = komm.OpenPort();
    ui.Clear();
    return ok;
  }
  TMobilKomm komm;
};

const char kPdu1[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
const char kPdu2[] = "07916407058099F9040B916407950303F100008921222140140004D4E2940A";

TEST(MobilKomm, DefaultsAndTheFreshObject) {
  TMobilKomm komm;
  EXPECT_EQ(komm.SerialPort, nullptr);
  EXPECT_EQ(komm.ComPort, 0);
  EXPECT_EQ(komm.BaudRate, 0);
  komm.FlowContr = "Hardware";
  komm.SetDefaults();
  EXPECT_EQ(komm.SerialPort, nullptr);
  EXPECT_EQ(komm.LastResult, 0);
  EXPECT_EQ(komm.ComPort, 1);
  EXPECT_EQ(komm.InputBuf, 1024);
  EXPECT_EQ(komm.OutputBuf, 1024);
  EXPECT_EQ(komm.BaudRate, 115200);
  EXPECT_EQ(komm.DataBits, 8);
  EXPECT_EQ(komm.StopBits, 1);
  EXPECT_EQ(komm.Parity, 'N');
  EXPECT_EQ(komm.FlowContr, "Hardware");
  EXPECT_EQ(komm.WaitOpen, 1000);
  EXPECT_EQ(komm.WaitClose, 800);
  EXPECT_EQ(komm.WaitSend, 200);
  EXPECT_EQ(komm.WaitRec, 200);
}

TEST(MobilKomm, OpenAndInitSendExactlyTheThreeCommandsAfterTheOpenWait) {
  SimFixture f;
  TMobilKomm komm;
  komm.SetDefaults();  // WaitOpen 1000 ms
  uint64_t t0 = RealMs();
  ASSERT_TRUE(komm.OpenPort());
  uint64_t opened = RealMs();
  EXPECT_GE(opened - t0, 1000u);
  EXPECT_TRUE(f.sim.Log().empty());  // nothing went out while the port settled
  ASSERT_TRUE(komm.InitPhone());
  EXPECT_TRUE(f.ui.Texts().empty());
  auto log = f.sim.Log();
  EXPECT_EQ(f.sim.LogTexts(), (Texts{"AT+CGMI", "AT+CMGF=0", "AT+CPMS=\"SM\",\"SM\",\"SM\""}));
  ASSERT_FALSE(log.empty());
  EXPECT_GE(log[0].ms, opened);
  EXPECT_TRUE(komm.ClosePort());
  EXPECT_EQ(komm.SerialPort, nullptr);
}

struct InitCase {
  const char* name;
  const char* command;  // the command the phone misbehaves on
  Behaviour behaviour;
  bool result;
  Texts sent;
  Texts messages;
};

void PrintTo(const InitCase& c, std::ostream* os) {
  *os << c.name;
}

class InitPhoneAnswers : public testing::TestWithParam<InitCase> {};

TEST_P(InitPhoneAnswers, ShowTheExactMessages) {
  const InitCase& c = GetParam();
  Komm k;
  k.sim.SetBehaviour(c.command, c.behaviour);
  ASSERT_TRUE(k.Open());
  EXPECT_EQ(k.komm.InitPhone(), c.result);
  EXPECT_EQ(k.sim.LogTexts(), c.sent);
  EXPECT_EQ(k.ui.Texts(), c.messages);
}

const Texts kAllThree = {"AT+CGMI", "AT+CMGF=0", "AT+CPMS=\"SM\",\"SM\",\"SM\""};

INSTANTIATE_TEST_SUITE_P(
    MobilKomm, InitPhoneAnswers,
    testing::Values(
        InitCase{"SilentProbe", "AT+CGMI", {Behaviour::kSilent}, false, {"AT+CGMI"}, {}},
        InitCase{"ErrorToTheProbe", "AT+CGMI", {Behaviour::kError}, true, kAllThree, {}},
        InitCase{"ErrorToPduMode", "AT+CMGF", {Behaviour::kError}, true, kAllThree, {}},
        InitCase{"SilentPduMode",
                 "AT+CMGF",
                 {Behaviour::kSilent},
                 true,
                 kAllThree,
                 {"An error occured during comunication to handy",
                  "Mobile could not be set to PDU Mode"}},
        InitCase{
            "CmsErrorToStorage", "AT+CPMS", {Behaviour::kCmsError, 0, 302}, true, kAllThree, {}},
        InitCase{"SilentStorage",
                 "AT+CPMS",
                 {Behaviour::kSilent},
                 true,
                 kAllThree,
                 {"An error occured during comunication to handy",
                  "Mobile could not set Preferred Message Storrage to SIM Card"}}),
    [](const testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

TEST(MobilKomm, RepliesComeBackByteForByte) {
  Komm k;
  k.sim.SetSlot(1, 0, kPdu1);
  k.sim.SetSlot(2, 3, kPdu2);
  ASSERT_TRUE(k.Open());
  std::string reply;

  k.komm.GetManufacturer(reply);
  EXPECT_EQ(reply, "AT+CGMI\r\r\nKESTROVA\r\n\r\nOK\r\n");
  k.komm.GetModel(reply);
  EXPECT_EQ(reply, "AT+CGMM\r\r\nPS-1\r\n\r\nOK\r\n");

  k.komm.ReadSms(1, reply);
  EXPECT_EQ(reply, std::string("AT+CMGR=1\r\r\n+CMGR: 0,,28\r\n") + kPdu1 + "\r\n\r\nOK\r\n");
  EXPECT_EQ(k.sim.Slot(1)->status, 1);  // read now
  k.komm.ReadSms(2, reply);
  EXPECT_EQ(reply, std::string("AT+CMGR=2\r\r\n+CMGR: 3,,23\r\n") + kPdu2 + "\r\n\r\nOK\r\n");
  k.komm.ReadSms(3, reply);  // empty slot
  EXPECT_EQ(reply, "AT+CMGR=3\r\r\n+CMS ERROR: 321\r\n");

  k.komm.DeleteSms(1, reply);
  EXPECT_EQ(reply, "AT+CMGD=1\r\r\nOK\r\n");
  EXPECT_FALSE(k.sim.Slot(1));

  std::string answer;
  EXPECT_EQ(k.komm.Command("AT+CNMI=0,0,0,0,1", answer), 0);
  EXPECT_EQ(answer, "AT+CNMI=0,0,0,0,1\r\r\nOK\r\n");
  EXPECT_EQ(k.komm.Command("AT+XYZ", answer), 0);  // an ERROR is a complete reply
  EXPECT_EQ(answer, "AT+XYZ\r\r\nERROR\r\n");
  EXPECT_TRUE(k.ui.Texts().empty());

  EXPECT_EQ(k.sim.LogTexts(), (Texts{"AT+CGMI", "AT+CGMM", "AT+CMGR=1", "AT+CMGR=2", "AT+CMGR=3",
                                     "AT+CMGD=1", "AT+CNMI=0,0,0,0,1", "AT+XYZ"}));
}

TEST(MobilKomm, RepliesWithoutEchoStartAtTheirFirstLine) {
  Komm k;
  k.sim.SetEcho(false);
  ASSERT_TRUE(k.Open());
  std::string reply;
  k.komm.GetManufacturer(reply);
  EXPECT_EQ(reply, "\r\nKESTROVA\r\n\r\nOK\r\n");
}

TEST(MobilKomm, AReplyArrivingAfterTheSilenceDoesNotLeakIntoTheNextCommand) {
  Komm k;
  k.sim.SetSlot(1, 0, kPdu1);
  k.sim.SetSlot(2, 0, kPdu2);
  k.sim.SetBehaviour("AT+CMGR=1", {Behaviour::kAnswer, 2600});
  ASSERT_TRUE(k.Open());
  std::string reply = "stale";
  k.komm.ReadSms(1, reply);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(k.ui.Texts(), (Texts{"An Error occured on AT+CMGR=1. Error No: 1"}));
  ASSERT_TRUE(k.sim.WaitUntilSent(3000));  // the late answer is on the line now
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  k.komm.ReadSms(2, reply);
  EXPECT_EQ(reply, std::string("AT+CMGR=2\r\r\n+CMGR: 0,,23\r\n") + kPdu2 + "\r\n\r\nOK\r\n");
}

TEST(MobilKomm, ALateAnswerIsAwaitedAlsoOnThePortOpenedAgain) {
  Komm k;
  k.sim.SetEcho(false);  // only the wait for a quiet line tells the answers apart
  k.sim.SetSlot(1, 0, kPdu1);
  k.sim.SetSlot(2, 0, kPdu2);
  k.sim.AnswerLate({"AT+CMGR=1", 0, 3000});
  ASSERT_TRUE(k.Open());
  std::string reply;
  k.komm.ReadSms(1, reply);
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(k.komm.ClosePort());
  ASSERT_TRUE(k.komm.OpenPort());
  k.komm.ReadSms(2, reply);
  EXPECT_EQ(reply, std::string("\r\n+CMGR: 0,,23\r\n") + kPdu2 + "\r\n\r\nOK\r\n");
}

TEST(MobilKomm, CommandsWithoutAPortShowTheirMessages) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  TMobilKomm komm;
  komm.SetDefaults();
  std::string reply = "x";
  EXPECT_EQ(komm.ReadReply(reply), 0);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(ui.Texts(), (Texts{"Communication Port not opened "}));
  ui.Clear();
  komm.WaitRec = 0;
  EXPECT_EQ(komm.Command("AT", reply), 0);
  EXPECT_EQ(ui.Texts(),
            (Texts{"Communication Port not opened ", "Communication Port not opened "}));
  ui.Clear();
  EXPECT_FALSE(komm.InitPhone());
  EXPECT_EQ(ui.Texts(),
            (Texts{"Communication Port not opened ", "Communication Port not opened "}));
}

TEST(MobilKomm, OpenAndCloseFailures) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  platform::ScopedEnv com1("KESTROVA_COM1", "/nonexistent/tty");
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = komm.WaitClose = 0;
  EXPECT_FALSE(komm.OpenPort());
  EXPECT_EQ(ui.Texts(), (Texts{"Com Port open error: -3"}));
  EXPECT_NE(komm.SerialPort, nullptr);  // the record stays until ClosePort
  EXPECT_EQ(komm.LastResult, -3);
  ui.Clear();
  EXPECT_TRUE(komm.ClosePort());
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_FALSE(komm.ClosePort());
  EXPECT_EQ(ui.Texts(), (Texts{"Com Port close error: -1", "Com Port Exit error: -1"}));
  ui.Clear();

  komm.BaudRate = 14400;  // no such speed: stored, then refused by the open
  komm.ComPort = 1;
  EXPECT_FALSE(komm.OpenPort());
  EXPECT_EQ(ui.Texts(), (Texts{"Com Port open error: -3"}));
}

TEST(MobilKomm, OpeningAgainReleasesTheHeldPortFirst) {
  Komm k;
  ASSERT_TRUE(k.Open());
  // A second record for the same device would be locked out if the first were still held.
  EXPECT_TRUE(k.komm.OpenPort());
  EXPECT_TRUE(k.ui.Texts().empty());
  EXPECT_TRUE(k.komm.InitPhone());
}

TEST(MobilKomm, ALineThePortWillNotTakeIsDroppedWhole) {
  Komm k;
  ASSERT_TRUE(k.Open());
  k.sim.SetReading(false);
  while (SerialPutByte(k.komm.SerialPort, 'x') == 1) {
  }
  {
    platform::VirtualClock clock(1000);
    platform::ScopedClock use(clock);
    k.komm.SendLine("AT+CMGD=12");
    EXPECT_GE(clock.Peek(), 2000u);  // tried for a second
    EXPECT_LT(clock.Peek(), 2100u);
  }
  EXPECT_EQ(k.ui.Texts(), (Texts{"Com Port write error: 0"}));
  k.sim.SetReading(true);
  k.ui.Clear();
  std::string reply;
  k.komm.Command("AT", reply);  // ends the filler as one line
  ASSERT_TRUE(k.sim.WaitForLines(1, 2000));
  Texts lines = k.sim.LogTexts();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "xAT");
  EXPECT_EQ(lines[0].find("CMGD"), std::string::npos);
}

TEST(MobilKomm, ASendLineWithoutAPortShowsItsMessage) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  TMobilKomm komm;
  komm.SendLine("AT");
  EXPECT_EQ(ui.Texts(), (Texts{"Communication Port not opened "}));
}

// A phone that goes away (unplugged before the command, or while it is answered) costs each
// exchange one message, at once: no wait for an answer that cannot come.
TEST(MobilKomm, APhoneThatGoesAwayCostsEachExchangeOneMessageAndNoWait) {
  struct Exchange {
    const char* name;
    std::function<void(TMobilKomm&, std::string&)> run;
  };
  const Exchange exchanges[] = {
      {"ReadSms", [](TMobilKomm& k, std::string& r) { k.ReadSms(1, r); }},
      {"Command", [](TMobilKomm& k, std::string& r) { k.Command("AT+CMGR=1", r); }},
      {"DeleteSms", [](TMobilKomm& k, std::string& r) { k.DeleteSms(1, r); }},
  };
  struct Way {
    const char* name;
    bool before;          // unplugged before the command goes out, else when it comes
    const char* message;  // of the first exchange; every later one meets the write error
  };
  const Way ways[] = {
      {"unplugged before", true, "Com Port write error: -3"},
      {"gone while answering", false, "Com Port read error: -3"},
  };
  for (const Way& way : ways) {
    for (const Exchange& exchange : exchanges) {
      SCOPED_TRACE(std::string(way.name) + ", " + exchange.name);
      Komm k;
      k.sim.SetSlot(1, 0, kPdu1);
      ASSERT_TRUE(k.Open());
      if (way.before)
        k.sim.Unplug();
      else
        k.sim.SetBehaviour("AT+CMGR", {Behaviour::kUnplug});
      if (!way.before) k.sim.SetBehaviour("AT+CMGD", {Behaviour::kUnplug});
      for (const char* message : {way.message, "Com Port write error: -3"}) {
        std::string reply = "stale";
        uint64_t t0 = RealMs();
        exchange.run(k.komm, reply);
        EXPECT_LT(RealMs() - t0, 500u) << "waited for an answer";
        EXPECT_EQ(reply, "");
        EXPECT_TRUE(k.komm.PortFailed());
        EXPECT_EQ(k.ui.Texts(), (Texts{message}));
        k.ui.Clear();
      }
    }
  }
}

// A failure found in a wait that did not pump lets the events that came meanwhile run before
// its box: a Stop pressed during the wait would otherwise go to a window the box holds.
TEST(MobilKomm, AFailureAfterAWaitThatDidNotPumpLetsPendingEventsRunFirst) {
  struct Case {
    const char* name;
    std::function<void(Komm&)> fail;  // makes the exchange fail
    std::function<void(TMobilKomm&)> run;
  };
  auto silent = [](Komm& k) { k.sim.SetBehaviour("", {Behaviour::kSilent}); };
  auto unplugged = [](Komm& k) { k.sim.Unplug(); };
  const Case cases[] = {
      {"a reading that gave up, ReadSms", silent,
       [](TMobilKomm& k) {
         std::string r;
         k.ReadSms(3, r);
       }},
      {"a reading that gave up, Command", silent,
       [](TMobilKomm& k) {
         std::string r;
         k.Command("AT", r);
       }},
      {"a line that could not be written", unplugged,
       [](TMobilKomm& k) { k.SendLine("AT+CMGR=3"); }},
      {"a reading that found the device gone", unplugged,
       [](TMobilKomm& k) {
         std::string r;
         k.ReadReply(r);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Komm k;
    k.komm.WaitRec = 0;  // no Delay pumps on the way
    ASSERT_TRUE(k.Open());
    c.fail(k);
    std::vector<size_t> boxes_at_pump;
    k.ui.OnProcessEvents([&] { boxes_at_pump.push_back(k.ui.Messages().size()); });
    c.run(k.komm);
    k.ui.OnProcessEvents(nullptr);
    ASSERT_EQ(k.ui.Messages().size(), 1u);
    EXPECT_EQ(boxes_at_pump, std::vector<size_t>{0}) << "no pump before the box";
  }
}

// ---------------------------------------------------------------------------------------
// Delay

double ThreadCpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_THREAD, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

TEST(MobilKomm, DelayPumpsWithoutBurningTheProcessor) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  uint64_t t0 = RealMs();
  double cpu0 = ThreadCpuSeconds();
  TMobilKomm::Delay(1000);
  double cpu = ThreadCpuSeconds() - cpu0;
  uint64_t elapsed = RealMs() - t0;
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LT(elapsed, 3000u);  // generous: the machine may be busy with other test programs
  // A spinning wait would take close to the whole second of processor time; sleeping between
  // pumps takes a few hundredths. The bound leaves room for the sanitizer build on a loaded machine.
  EXPECT_LT(cpu, 0.4);
  EXPECT_GT(ui.PumpCount(), 100);

  ui.Clear();
  TMobilKomm::Delay(0);
  TMobilKomm::Delay(-5);
  EXPECT_EQ(ui.PumpCount(), 0);
}

TEST(MobilKomm, DelayIsExactOnTheClockAlsoWhereThirtyTwoBitsWrap) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  for (uint64_t start : {uint64_t{0}, uint64_t{0xFFFFFFFFu} - 300}) {
    platform::VirtualClock clock(start);
    platform::ScopedClock use_clock(clock);
    ui.Clear();
    TMobilKomm::Delay(1000);
    EXPECT_EQ(clock.Peek(), start + 1000);
    EXPECT_EQ(ui.PumpCount(), 1000);  // one pump per millisecond of waiting
  }
}

TEST(MobilKomm, DelayRunsHandlersAndEndsWhenTheProgramQuits) {
  platform::RecordingUi ui;
  platform::ScopedUi use(ui);
  platform::VirtualClock clock(0);
  platform::ScopedClock use_clock(clock);
  ui.OnProcessEvents([&] {
    if (clock.Peek() == 300) ui.SetTerminating(true);
  });
  TMobilKomm::Delay(1000);
  EXPECT_EQ(clock.Peek(), 301u);
}

}  // namespace
}  // namespace phone
