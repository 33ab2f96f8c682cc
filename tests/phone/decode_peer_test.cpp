// The decoder against PDUs an independent encoder (python-gammu) made, and end to end
// against the phone simulator the way the display program reads its SIM.
#include <cstdlib>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "phone/Tokens.h"
#include "tests/phone/sim_fixture.h"
#include "tests/phone/spawn.h"

namespace phone {
namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

TEST(DecodePdu, AgreesWithAnIndependentEncoder) {
  int status;
  std::string script =
      std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/phone/peers/gammu_deliver_pdus.py";
  std::string output = RunProgram({"/usr/bin/python3", script}, status);
  ASSERT_EQ(status, 0) << output;
  TMobilKomm komm;
  komm.SetDefaults();
  size_t cases = 0;
  for (size_t at = 0; at < output.size();) {
    size_t end = output.find('\n', at);
    std::string line = output.substr(at, end - at);
    at = end == std::string::npos ? output.size() : end + 1;
    std::string pdu = GetToken(line, "\t", 1), smsc, sender, stamp, text;
    komm.DecodePdu(pdu, smsc, sender, stamp, text);
    SCOPED_TRACE(line);
    EXPECT_EQ(smsc, GetToken(line, "\t", 2));
    EXPECT_EQ(sender, GetToken(line, "\t", 3));
    EXPECT_EQ(stamp, GetToken(line, "\t", 4));
    EXPECT_EQ(text, FromHex(GetToken(line, "\t", 5)));
    ++cases;
  }
  EXPECT_GT(cases, 0u);  // the encoder produced PDUs at all
}

TEST(DecodePdu, ReadDecodeAndDeleteTheSimLikeTheDisplayProgram) {
  SimFixture f;
  f.sim.SetSlotCount(5);
  f.sim.SetSlot(1, 0, "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37");
  f.sim.SetSlot(2, 1, "07916407058099F9040B916407950303F100008921222140140004D4E2940A");
  f.sim.SetSlot(3, 0, "0791947101670000040ED0CBF29C2E7FDBC300004220923295850002C834");
  TMobilKomm komm;
  komm.SetDefaults();
  komm.WaitOpen = 0;
  komm.WaitSend = komm.WaitRec = 20;
  ASSERT_TRUE(komm.OpenPort());
  struct Expected {
    char status;
    std::string smsc, sender, stamp, text;
  } const expected[] = {
      {'0', "+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", "hellohello"},
      {'1', "+46705008999", "+46705930301", "22.12.98 12:04,41 ZZ00", "TEST"},
      {'0', "+491710760000", "Kestrova", "29.02.24 23:59,58 ZZ00", "Hi"},
  };
  for (int slot = 1; slot <= 3; ++slot) {
    SCOPED_TRACE(slot);
    const Expected& e = expected[slot - 1];
    std::string reply;
    komm.ReadSms(slot, reply);
    reply = ReplaceAll(ReplaceAll(reply, "\r\n", "---"), "\r", "");
    std::string t = GetToken(reply, "+CMGR: ", 2);
    ASSERT_FALSE(t.empty()) << reply;
    EXPECT_EQ(t[0], e.status);
    std::string smsc, sender, stamp, text;
    komm.DecodePdu(GetToken(t, "---", 2), smsc, sender, stamp, text);
    EXPECT_EQ(smsc, e.smsc);
    EXPECT_EQ(sender, e.sender);
    EXPECT_EQ(stamp, e.stamp);
    EXPECT_EQ(text, e.text);
    komm.DeleteSms(slot, reply);
    EXPECT_EQ(reply, "AT+CMGD=" + std::to_string(slot) + "\r\r\nOK\r\n");
  }
  for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(f.sim.Slot(slot)) << slot;
  EXPECT_EQ(f.sim.LogTexts(), (std::vector<std::string>{"AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=2",
                                                        "AT+CMGD=2", "AT+CMGR=3", "AT+CMGD=3"}));
  EXPECT_TRUE(f.ui.Texts().empty());
}

}  // namespace
}  // namespace phone
