// The phone side of the main window's tests: a phone simulator whose device is COM1, the
// phone table rows the cases use, SMS as the SIM stores them, and the simulator's log with
// repeated lines folded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/apps/sms_pdu.h"
#include "tools/phonesim/simulator.h"
#include "vantorix_fixture.h"

namespace vantorix {

// The phones of telstamm.dbf: a plain phone, the modem model, a phone on a port that does not
// open, and rows whose serial settings do not read.
inline const std::vector<PhoneRow> kPhones = {
    {"0000000001", "Test", "Phone"},
    {"0000000002", "Wavecom", "Fasttrack"},
    {"0000000003", "Test", "Phone", 2},
    {"0000000004", "Test", "Baud", 1, "96x0"},
    {"0000000005", "Test", "Data", 1, "9600", "9"},
    {"0000000006", "Test", "Stop", 1, "9600", "8", "3"},
    {"0000000007", "Test", "Parity", 1, "9600", "8", "1", "X"},
};

// What the phone answers InitPhone with.
inline const std::vector<std::string> kInitCommands = {"AT+CGMI", "AT+CMGF=0",
                                                       "AT+CPMS=\"SM\",\"SM\",\"SM\""};

// SMS as the SIM stores them.
using apps::testing::DeliverPdu;

class ConnectTest : public VantorixTest {
 protected:
  ConnectTest()
      : sim_(std::make_unique<phone::sim::PhoneSimulator>()),
        com1_("KESTROVA_COM1", sim_->DevicePath()),
        com2_("KESTROVA_COM2", (dir_ / "no-such-device").string()) {
    WritePhones(kPhones);
  }

  // The lines the phone received, each run of equal lines as one.
  std::vector<std::string> Commands() const {
    std::vector<std::string> lines;
    for (const std::string& line : sim_->LogTexts())
      if (lines.empty() || lines.back() != line) lines.push_back(line);
    return lines;
  }
  bool Received(const std::string& line) const {
    for (const std::string& l : sim_->LogTexts())
      if (l == line) return true;
    return false;
  }
  // The message boxes shown, as "caption|text".
  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const auto& m : ui_.Messages()) boxes.push_back(m.caption + "|" + m.text);
    return boxes;
  }

  std::unique_ptr<phone::sim::PhoneSimulator> sim_;
  platform::ScopedEnv com1_, com2_;
};

}  // namespace vantorix
