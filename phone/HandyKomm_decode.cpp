// TMobilKomm's SMS-DELIVER decoding and the GSM 7-bit default alphabet.
#include <algorithm>
#include <optional>
#include <vector>

#include "phone/HandyKomm.h"
#include "phone/Tokens.h"
#include "platform/text.h"

namespace phone {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The PDU text with 1-based positions; every read is clamped to the text, so a PDU cut
// short anywhere never makes a read pass its end.
class PduText {
 public:
  explicit PduText(std::string text) : text_(std::move(text)) {}

  std::string Chars(int p, int n) const { return MidStr(text_, p, n); }

  // The octet written at p and p + 1; nullopt when a character is missing or not hex.
  std::optional<int> Octet(int p) const {
    std::string two = Chars(p, 2);
    if (two.size() < 2) return std::nullopt;
    int hi = HexValue(two[0]), lo = HexValue(two[1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    return hi * 16 + lo;
  }

  // Up to `count` octets from p as their hex text, ending early at the end of the text
  // (an odd character left over is no octet). nullopt when one is not hexadecimal.
  std::optional<std::string> Octets(int p, int count) const {
    std::string hex;
    for (int k = 0; k < count; ++k) {
      if (Chars(p + 2 * k, 2).size() < 2) break;
      if (!Octet(p + 2 * k)) return std::nullopt;
      hex += Chars(p + 2 * k, 2);
    }
    return hex;
  }

  // The digits of `octets` semi-octet swapped octets from p: for each octet its second
  // character, then its first unless that is the filler F, which ends the digits.
  void AppendDigits(int p, int octets, std::string& out) const {
    for (int k = 0; k < octets; ++k) {
      std::string two = Chars(p + 2 * k, 2);
      if (two.size() < 2) return;
      out += two[1];
      if (two[0] == 'F') return;
      out += two[0];
    }
  }

 private:
  std::string text_;
};

// The septets packed in `hex` (whole octets), group by group of 7 octets.
std::string UnpackAll(const std::string& hex) {
  std::string septets;
  for (size_t i = 0; i < hex.size(); i += 14) septets += TMobilKomm::Unpack7bit(hex.substr(i, 14));
  return septets;
}

// Complete septets in `octets` whole octets.
int CompleteSeptets(int octets) {
  return octets * 8 / 7;
}

// Whether a data coding scheme says uncompressed text in the GSM 7-bit default alphabet,
// read by its coding groups (the high four bits) as 3GPP TS 23.038 defines them.
bool IsDefaultAlphabet(int coding) {
  const int alphabet = coding & 0x0C;  // where a group has the alphabet bits
  switch (coding >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:  // general data coding
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:  // the same, marked for automatic deletion
      // Compressed text cannot be read here. Alphabet 01 is 8-bit data, 10 UCS2, 11 reserved.
      if (coding & 0x20) return false;
      return alphabet == 0x00 || alphabet == 0x0C;
    case 0xC:
    case 0xD:  // message waiting indication, discard or store: always the default alphabet
      return true;
    case 0xE:  // message waiting indication, store, in UCS2
      return false;
    case 0xF:  // message class: bit 2 chooses 8-bit data, bit 3 is reserved
      return (coding & 0x04) == 0;
    default:  // 8h to Bh, reserved coding groups
      // The standard has a receiver take every reserved coding (these groups and the
      // reserved alphabet above) as the default alphabet.
      return true;
  }
}

}  // namespace

void TMobilKomm::FillGsmTables() {
  for (int v = 0; v < 128; ++v) {
    GsmDefaultTable[v] = static_cast<uint32_t>(v);
    GsmExtensionTable[v] = 0;
  }
  // Where the default alphabet is not ASCII. Windows-1252 has none of the Greek capitals
  // (16, 18 to 26); they and the escape (27, handled before any look-up) are blanks.
  static constexpr struct {
    uint8_t septet, code;
  } kDefault[] = {
      {0, 64},    {1, 163},   {2, 36},    {3, 165},  {4, 232},  {5, 233},  {6, 249},   {7, 236},
      {8, 242},   {9, 199},   {11, 216},  {12, 248}, {14, 197}, {15, 229}, {16, 32},   {17, 95},
      {18, 32},   {19, 32},   {20, 32},   {21, 32},  {22, 32},  {23, 32},  {24, 32},   {25, 32},
      {26, 32},   {27, 32},   {28, 198},  {29, 230}, {30, 223}, {31, 201}, {36, 164},  {64, 161},
      {91, 196},  {92, 214},  {93, 209},  {94, 220}, {95, 167}, {96, 191}, {123, 228}, {124, 246},
      {125, 241}, {126, 252}, {127, 224},
  };
  for (const auto& e : kDefault) GsmDefaultTable[e.septet] = e.code;
  static constexpr struct {
    uint8_t septet, code;
  } kExtension[] = {
      {10, 12}, {20, 94},  {40, 123}, {41, 125}, {47, 92},
      {60, 91}, {61, 126}, {62, 93},  {64, 124}, {101, 128},
  };
  for (const auto& e : kExtension) GsmExtensionTable[e.septet] = e.code;
}

std::string TMobilKomm::Unpack7bit(const std::string& group) {
  const int a = static_cast<int>(std::min<size_t>(7, group.size() / 2));
  std::vector<std::string> bits(static_cast<size_t>(a) + 2);  // septets 1..a+1
  for (int k = 1; k <= a; ++k) {
    int hi = HexValue(group[static_cast<size_t>(2 * k - 2)]);
    int lo = HexValue(group[static_cast<size_t>(2 * k - 1)]);
    std::string octet = ByteToBits(static_cast<uint8_t>(std::max(hi, 0) * 16 + std::max(lo, 0)));
    bits[static_cast<size_t>(k)] =
        octet.substr(static_cast<size_t>(k)) + bits[static_cast<size_t>(k)];
    bits[static_cast<size_t>(k + 1)] = octet.substr(0, static_cast<size_t>(k));
  }
  std::string septets;
  for (int k = 1; k <= a + 1; ++k)
    septets += static_cast<char>(BitsToByte("0" + bits[static_cast<size_t>(k)]));
  return septets;
}

std::string TMobilKomm::MapSeptets(const std::string& septets) const {
  std::string text;
  bool escape = false;
  for (unsigned char v : septets) {
    v &= 0x7F;
    if (escape) {
      text += static_cast<char>(GsmExtensionTable[v] & 0xFF);
      escape = false;
    } else if (v == 27) {
      escape = true;
    } else {
      text += static_cast<char>(GsmDefaultTable[v] & 0xFF);
    }
  }
  return text;
}

void TMobilKomm::DecodePdu(const std::string& pdu, std::string& Smsc, std::string& Sender,
                           std::string& TimeStamp, std::string& Text) const {
  Smsc.clear();
  Sender.clear();
  TimeStamp.clear();
  Text.clear();
  const PduText t(platform::AnsiUpper(pdu));

  // Service-centre address: length in octets (type included), type, digits.
  int p = 3;
  if (!pdu.empty() && t.Chars(1, 2) != "00") {
    std::optional<int> length = t.Octet(1);
    if (!length) return;
    if (t.Chars(3, 2) == "91") Smsc = "+";
    t.AppendDigits(5, *length - 1, Smsc);
    p = 2 * *length + 3;
  }

  // First octet: the message type and the user-data-header flag. Only an SMS-DELIVER is
  // read; an SMS-SUBMIT or a status report has other fields in other places, and read as
  // one gives a made-up sender and time stamp. The reserved type 3 is read as a DELIVER,
  // as the standard has a receiving phone do.
  const std::optional<int> first = t.Octet(p);
  if (!first) return;
  if (const int type = *first & 0x03; type == 1 || type == 2) {
    Smsc.clear();
    return;
  }
  const bool has_header = *first & 0x40;
  p += 2;

  // Originating address: length in digits, type, then the digits in half as many octets.
  std::optional<int> digits = t.Octet(p);
  if (!digits) return;
  p += 2;
  const std::string type = t.Chars(p, 2);
  const std::optional<int> type_value = t.Octet(p);
  p += 2;
  const int address_octets = (*digits + 1) / 2;
  if (type_value && (*type_value & 0x70) == 0x50) {
    // Alphanumeric: 7-bit text packed in the address octets.
    if (std::optional<std::string> hex = t.Octets(p, address_octets)) {
      int count = std::min(*digits * 4 / 7, CompleteSeptets(static_cast<int>(hex->size() / 2)));
      Sender = MapSeptets(UnpackAll(*hex).substr(0, static_cast<size_t>(count)));
    }
  } else {
    if (type == "91") Sender = "+";
    t.AppendDigits(p, address_octets, Sender);
  }
  p += 2 * address_octets;

  p += 2;  // protocol identifier
  std::optional<int> coding = t.Octet(p);
  if (!coding) return;
  p += 2;
  const bool seven_bit = IsDefaultAlphabet(*coding);

  // Time stamp: seven octets, each with its two characters swapped.
  const std::string stamp = t.Chars(p, 14);
  if (stamp.size() == 14) {
    auto octet = [&](int i) {
      return std::string{stamp[static_cast<size_t>(2 * i + 1)], stamp[static_cast<size_t>(2 * i)]};
    };
    TimeStamp = octet(2) + "." + octet(1) + "." + octet(0) + " " + octet(3) + ":" + octet(4) + "," +
                octet(5) + " ZZ" + octet(6);
  }
  p += 14;

  std::optional<int> septets = t.Octet(p);
  if (!septets || !seven_bit) return;
  p += 2;

  std::optional<std::string> data = t.Octets(p, (*septets * 7 + 7) / 8);
  if (!data) return;
  const int octets = static_cast<int>(data->size() / 2);
  const int usable = std::min(*septets, CompleteSeptets(octets));
  int start = 0;
  if (has_header) {
    if (octets == 0) return;
    // The header's length octet and the header, filled up to a whole septet.
    const int header_octets = HexValue((*data)[0]) * 16 + HexValue((*data)[1]) + 1;
    start = (header_octets * 8 + 6) / 7;
  }
  if (start >= usable) return;
  Text = MapSeptets(
      UnpackAll(*data).substr(static_cast<size_t>(start), static_cast<size_t>(usable - start)));
}

}  // namespace phone
