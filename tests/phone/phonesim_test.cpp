// The phone simulator as the later dialogues need it: the SIM PIN and network, and the
// phonesim program with its preloaded SIM.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "platform/clock.h"
#include "platform/testing/temp_dir.h"
#include "tests/phone/sim_fixture.h"
#include "tests/phone/spawn.h"

namespace phone {
namespace {

using Texts = std::vector<std::string>;

uint64_t RealMs() {
  return platform::SystemClock().Milliseconds();
}

TEST(PhoneSimulator, PinAndNetworkDialogue) {
  SimFixture f;
  f.sim.SetPin("1234");
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = 0;
  komm.WaitRec = 10;
  ASSERT_TRUE(komm.OpenPort());
  struct Step {
    std::string command, reply;
  } const steps[] = {
      {"AT+CPIN?", "AT+CPIN?\r\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"},
      {"AT+COPS?", "AT+COPS?\r\r\nERROR\r\n"},
      {"AT+CMGR=1", "AT+CMGR=1\r\r\n+CMS ERROR: 311\r\n"},
      {"AT+CPIN=1111", "AT+CPIN=1111\r\r\nERROR\r\n"},
      {"AT+CPINC", "AT+CPINC\r\r\n+CPINC: 2,10\r\n\r\nOK\r\n"},
      {"AT+CPIN=1234", "AT+CPIN=1234\r\r\nOK\r\n"},
      {"AT+CPINC", "AT+CPINC\r\r\n+CPINC: 3,10\r\n\r\nOK\r\n"},
      {"AT+CPIN=1234", "AT+CPIN=1234\r\r\nERROR\r\n"},  // nothing to unlock any more
      {"AT+COPS?", "AT+COPS?\r\r\n+COPS: 0,0,\"KESTROVA NET\"\r\n\r\nOK\r\n"},
      {"at+cgmm", "at+cgmm\r\r\nPS-1\r\n\r\nOK\r\n"},
      {"AT+CNMI=1,0,0,0,1", "AT+CNMI=1,0,0,0,1\r\r\nOK\r\n"},
      {"ATE0", "ATE0\r\r\nOK\r\n"},
      {"AT", "\r\nOK\r\n"},
  };
  for (const auto& s : steps) {
    std::string reply;
    EXPECT_EQ(komm.Command(s.command, reply), 0) << s.command;
    EXPECT_EQ(reply, s.reply) << s.command;
  }
  f.sim.SetNetwork(false);
  std::string reply;
  komm.Command("AT+COPS?", reply);
  EXPECT_EQ(reply, "\r\nERROR\r\n");
}

TEST(PhoneSimulator, TheProgramServesAPreloadedSim) {
  platform::TempDir dir;
  dir.Write("sms.txt",
            "# status pdu\n"
            "0 0791947106004034040C9194710600403400004011101145652B04D4E2940A\n"
            "\n"
            "3 0011000B916407281553F80000AA0AE8329BFD4697D9EC37\n");
  const std::string link = (dir / "com1").string(), log = (dir / "sim.log").string();
  std::string program =
      std::string(std::getenv("KESTROVA_BINARY_DIR")) + "/tools/phonesim/phonesim";
  std::vector<std::string> args = {
      program,   "--link",  link,    "--sms", (dir / "sms.txt").string(), "--slots", "5",
      "--maker", "Wavecom", "--log", log};
  int out = -1;
  pid_t pid = SpawnReading(args, out);
  ASSERT_GT(pid, 0);
  std::string first_line;
  char c;
  while (read(out, &c, 1) == 1 && c != '\n') first_line += c;
  close(out);
  EXPECT_EQ(first_line.rfind("/dev/pts/", 0), 0u) << first_line;

  {
    platform::RecordingUi ui;
    platform::ScopedUi use(ui);
    platform::ScopedEnv com1("KESTROVA_COM1", link);
    TMobilKomm komm;
    komm.SetDefaults();
    komm.WaitOpen = 0;
    komm.WaitRec = komm.WaitSend = 10;
    ASSERT_TRUE(komm.OpenPort());
    std::string reply;
    komm.GetManufacturer(reply);
    EXPECT_EQ(reply, "AT+CGMI\r\r\nWavecom\r\n\r\nOK\r\n");
    komm.ReadSms(2, reply);
    EXPECT_EQ(reply,
              "AT+CMGR=2\r\r\n+CMGR: 3,,23\r\n0011000B916407281553F80000AA0AE8329BFD4697D9EC37"
              "\r\n\r\nOK\r\n");
    komm.ReadSms(6, reply);
    EXPECT_EQ(reply, "AT+CMGR=6\r\r\n+CMS ERROR: 321\r\n");
    EXPECT_TRUE(ui.Texts().empty());
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  std::string logged = platform::TempDir::Read(log);
  EXPECT_NE(logged.find(" AT+CGMI\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find(" AT+CMGR=2\n"), std::string::npos) << logged;
}

struct LateCase {
  const char* name;
  sim::LateAnswer late;
  bool echo;
};

void PrintTo(const LateCase& c, std::ostream* os) {
  *os << c.name;
}

class LateAnswers : public testing::TestWithParam<LateCase> {};

// The phone works on one command at a time: what comes while it is busy with the late one
// is echoed, answered and done only after the late answer.
TEST_P(LateAnswers, KeepThePhoneBusyUntilTheyAreOut) {
  const LateCase& c = GetParam();
  const std::string pdu = "07916407058099F9040B916407950303F100008921222140140004D4E2940A";
  SimFixture f;
  f.sim.SetEcho(c.echo);
  f.sim.SetSlot(1, 0, pdu);
  f.sim.AnswerLate(c.late);
  TSerialPort* port = SerialCreate(1, 1024, 1024);
  ASSERT_EQ(SerialOpen(port), 0);
  const uint64_t t0 = RealMs();
  for (char ch : std::string("AT\rAT+CMGR=1\rAT+CMGD=1\rAT+CMGR=1\r"))
    ASSERT_EQ(SerialPutByte(port, static_cast<uint8_t>(ch)), 1);
  auto echo = [&](const std::string& line) { return c.echo ? line + "\r" : std::string(); };
  const std::string early = echo("AT") + "\r\nOK\r\n" + echo("AT+CMGR=1");
  const std::string expected = early + "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n\r\nOK\r\n" +
                               echo("AT+CMGD=1") + "\r\nOK\r\n" + echo("AT+CMGR=1") +
                               "\r\n+CMS ERROR: 321\r\n";
  std::string got;
  std::vector<uint64_t> at;  // when each byte came, after t0
  bool checked_busy = false;
  while (got.size() < expected.size() && RealMs() < t0 + 3000) {
    uint8_t b;
    if (SerialGetByte(port, b) == 1) {
      got += static_cast<char>(b);
      at.push_back(RealMs() - t0);
    } else {
      platform::SystemClock().SleepMicroseconds(500);
    }
    if (!checked_busy && RealMs() >= t0 + 300) {
      // Half-way through the delay the read is done, the delete still waits.
      checked_busy = true;
      ASSERT_TRUE(f.sim.Slot(1));
      EXPECT_EQ(f.sim.Slot(1)->status, 1);
      EXPECT_EQ(f.sim.LogTexts(), (Texts{"AT", "AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=1"}));
    }
  }
  SerialFree(port);
  ASSERT_EQ(got, expected);
  EXPECT_LT(at[early.size() - 1], 200u);
  EXPECT_GE(at[early.size()], 600u);  // the late answer and all behind it
  EXPECT_FALSE(f.sim.Slot(1));
  for (const auto& line : f.sim.Log()) EXPECT_LT(line.ms - t0, 200u) << line.text;
}

INSTANTIATE_TEST_SUITE_P(
    PhoneSimulator, LateAnswers,
    testing::Values(LateCase{"ByCommandWithEcho", {"at+cmgr=1", 0, 600}, true},
                    LateCase{"ByCountWithoutEcho", {"", 2, 600}, false}),
    [](const testing::TestParamInfo<LateCase>& info) { return std::string(info.param.name); });

std::string PhonesimProgram() {
  return std::string(std::getenv("KESTROVA_BINARY_DIR")) + "/tools/phonesim/phonesim";
}

TEST(PhoneSimulator, TheProgramAnswersOneCommandLate) {
  int status = -1;
  RunProgram({PhonesimProgram(), "--late-nth", "0", "700"}, status);
  EXPECT_EQ(status, 2);  // there is no 0th command

  const std::vector<std::string> options[] = {{"--late", "AT+CGMM", "700"},
                                              {"--late-nth", "2", "700"}};
  for (const auto& late : options) {
    SCOPED_TRACE(late[0]);
    platform::TempDir dir;
    const std::string link = (dir / "com1").string();
    std::vector<std::string> args = {PhonesimProgram(), "--link", link, "--no-echo",
                                     "--log", (dir / "sim.log").string()};
    args.insert(args.end(), late.begin(), late.end());
    int out = -1;
    pid_t pid = SpawnReading(args, out);
    ASSERT_GT(pid, 0);
    char ch;
    while (read(out, &ch, 1) == 1 && ch != '\n') {
    }
    close(out);
    {
      platform::RecordingUi ui;
      platform::ScopedUi use(ui);
      platform::ScopedEnv com1("KESTROVA_COM1", link);
      TMobilKomm komm;
      komm.SetDefaults();
      komm.WaitOpen = komm.WaitRec = komm.WaitSend = 0;
      ASSERT_TRUE(komm.OpenPort());
      // Both options pick the second command; it alone comes late, the phone's answer whole.
      const struct {
        const char* command;
        std::string reply;
        bool late;
      } steps[] = {{"AT+CGMI", "\r\nKESTROVA\r\n\r\nOK\r\n", false},
                   {"AT+CGMM", "\r\nPS-1\r\n\r\nOK\r\n", true},
                   {"AT+CGMM", "\r\nPS-1\r\n\r\nOK\r\n", false}};
      for (const auto& step : steps) {
        const uint64_t t0 = RealMs();
        std::string reply;
        EXPECT_EQ(komm.Command(step.command, reply), 0);
        EXPECT_EQ(reply, step.reply);
        if (step.late)
          EXPECT_GE(RealMs() - t0, 700u);
        else
          EXPECT_LT(RealMs() - t0, 500u);
      }
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
  }
}

}  // namespace
}  // namespace phone
