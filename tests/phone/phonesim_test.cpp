// The phone simulator as the later dialogues need it: the SIM PIN and network, and the
// phonesim program with its preloaded SIM.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "platform/testing/temp_dir.h"
#include "tests/phone/sim_fixture.h"
#include "tests/phone/spawn.h"

namespace phone {
namespace {

using Texts = std::vector<std::string>;

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

}  // namespace
}  // namespace phone
