// The phone side of the main window's tests: a phone simulator whose device is COM1, the
// phone table rows the cases use, SMS as the SIM stores them, and the simulator's log with
// repeated lines folded.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

// An SMS-DELIVER PDU as a phone stores it: service centre +491710760000, the sender ("+" for
// the international type), time stamp 11.12.26 14:30:00, the text in the GSM 7-bit alphabet
// (ASCII letters, digits, blank and the marks used here have the same codes there).
inline std::string DeliverPdu(const std::string& sender, const std::string& text) {
  auto semi_octets = [](std::string digits) {
    if (digits.size() % 2) digits += 'F';
    for (size_t i = 0; i < digits.size(); i += 2) std::swap(digits[i], digits[i + 1]);
    return digits;
  };
  auto hex = [](unsigned value) {
    const char* digits = "0123456789ABCDEF";
    return std::string{digits[(value >> 4) & 15], digits[value & 15]};
  };
  bool international = sender.starts_with("+");
  std::string number = international ? sender.substr(1) : sender;
  std::string pdu = "07" + std::string("91") + semi_octets("491710760000") + "04" +
                    hex(static_cast<unsigned>(number.size())) + (international ? "91" : "81") +
                    semi_octets(number) + "0000" + semi_octets("26121114300000") +
                    hex(static_cast<unsigned>(text.size()));
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    bits |= (static_cast<unsigned>(c) & 0x7F) << count;
    count += 7;
    while (count >= 8) {
      pdu += hex(bits & 0xFF);
      bits >>= 8;
      count -= 8;
    }
  }
  if (count > 0) pdu += hex(bits & 0xFF);
  return pdu;
}

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
