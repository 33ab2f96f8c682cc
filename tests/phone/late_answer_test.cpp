// A phone that answers a read of the SIM late, after the reading has given up, while the
// scan goes on to the next slots: read a slot, delete it only when its reply carried a
// message, as the display program does. Real time against the simulator, with the
// program's own waits.
#include <set>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "phone/Tokens.h"
#include "tests/phone/sim_fixture.h"

namespace phone {
namespace {

const std::string kPdus[] = {
    "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
    "07916407058099F9040B916407950303F100008921222140140004D4E2940A",
    "0791947101670000040ED0CBF29C2E7FDBC300004220923295850002C834",
};

// The status and the PDU of a +CMGR reply, cut out the way the programs cut them; an
// empty PDU when the reply carries no message.
struct Message {
  std::string status, pdu;
};

Message MessageOf(const std::string& reply) {
  std::string flat = ReplaceAll(ReplaceAll(reply, "\r\n", "---"), "\r", "");
  std::string after = GetToken(flat, "+CMGR: ", 2);
  if (after.empty()) return {};
  return {GetToken(GetToken(after, "---", 1), ",", 1), GetToken(after, "---", 2)};
}

struct LateCase {
  int delay_ms;  // when the answer to AT+CMGR=1 comes, after the command
  int pause_ms;  // how long the scan waits, pumping, before it reads slot 2
  bool echo;
};

void PrintTo(const LateCase& c, std::ostream* os) {
  *os << c.delay_ms << " ms late, pause " << c.pause_ms << " ms, echo " << c.echo;
}

class LateAnswerScan : public testing::TestWithParam<LateCase> {};

TEST_P(LateAnswerScan, NoSlotTakesAnotherSlotsReplyAndNothingUnreadIsDeleted) {
  const LateCase& c = GetParam();
  SimFixture f;
  f.sim.SetEcho(c.echo);
  for (int slot = 1; slot <= 3; ++slot) f.sim.SetSlot(slot, 0, kPdus[slot - 1]);
  TMobilKomm komm;
  komm.SetDefaults();  // WaitRec and WaitSend 200 ms, as the programs run
  komm.WaitOpen = 0;
  ASSERT_TRUE(komm.OpenPort());
  ASSERT_TRUE(komm.InitPhone());
  f.sim.AnswerLate({"AT+CMGR=1", 0, c.delay_ms});

  std::set<int> read;  // the slots whose own message came back
  for (int slot = 1; slot <= 3; ++slot) {
    SCOPED_TRACE(slot);
    if (slot == 2) TMobilKomm::Delay(c.pause_ms);
    std::string reply;
    komm.ReadSms(slot, reply);
    const Message m = MessageOf(reply);
    if (m.pdu.empty()) continue;
    EXPECT_EQ(m.pdu, kPdus[slot - 1]) << "the reply to slot " << slot << " is another's";
    if (m.pdu == kPdus[slot - 1]) read.insert(slot);
    if (m.status == "0" || m.status == "1") komm.DeleteSms(slot, reply);
  }
  // Slot 1 may have been given up (its message stays on the SIM); the others never are.
  EXPECT_TRUE(read.count(2) && read.count(3));
  for (int slot = 1; slot <= 3; ++slot) {
    if (read.count(slot))
      EXPECT_FALSE(f.sim.Slot(slot)) << "slot " << slot << " was read but stays";
    else
      EXPECT_TRUE(f.sim.Slot(slot)) << "slot " << slot << " was deleted unread";
  }
  for (const std::string& text : f.ui.Texts())
    EXPECT_EQ(text, "An Error occured on AT+CMGR=1. Error No: 1");
}

std::vector<LateCase> LateCases() {
  std::vector<LateCase> cases;
  for (bool echo : {true, false})
    for (int pause : {0, 1000})
      for (int delay : {2300, 2800, 3300, 3800, 4300}) cases.push_back({delay, pause, echo});
  // Later than the line is watched after the reading gave up: only the echo tells it apart.
  cases.push_back({6000, 0, true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(MobilKomm, LateAnswerScan, testing::ValuesIn(LateCases()),
                         [](const testing::TestParamInfo<LateCase>& info) {
                           const LateCase& c = info.param;
                           return "Late" + std::to_string(c.delay_ms) + "msPause" +
                                  std::to_string(c.pause_ms) + "ms" +
                                  (c.echo ? "Echo" : "NoEcho");
                         });

}  // namespace
}  // namespace phone
