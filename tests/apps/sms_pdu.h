// SMS as the phone simulator stores them, for the tests of both programs' receive paths.
#pragma once

#include <string>
#include <utility>

namespace apps::testing {

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

}  // namespace apps::testing
