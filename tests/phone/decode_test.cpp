#include <random>

#include <gtest/gtest.h>

#include "phone/HandyKomm.h"
#include "platform/text.h"

namespace phone {
namespace {

struct Decoded {
  std::string smsc, sender, stamp, text;
  bool operator==(const Decoded&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Decoded& d) {
  return os << "{" << d.smsc << " | " << d.sender << " | " << d.stamp << " | "
            << testing::PrintToString(d.text) << "}";
}

Decoded Decode(const std::string& pdu) {
  TMobilKomm komm;
  komm.SetDefaults();
  Decoded d{"old", "old", "old", "old"};
  komm.DecodePdu(pdu, d.smsc, d.sender, d.stamp, d.text);
  return d;
}

const char kTs[] = "29.02.24 23:59,58 ZZ00";
const char kCentre[] = "+491710760000";
const char kSender[] = "+491711234567";

TEST(DecodePdu, FieldsOfPublishedAndMadeUpPdus) {
  struct Case {
    const char* what;
    std::string pdu;
    Decoded fields;
  } const cases[] = {
      {"published, national sender",
       "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", "hellohello"}},
      {"published, odd service centre",
       "07916407058099F9040B916407950303F100008921222140140004D4E2940A",
       {"+46705008999", "+46705930301", "22.12.98 12:04,41 ZZ00", "TEST"}},
      {"no service centre",
       "00040B916407950303F100008921222140140004D4E2940A",
       {"", "+46705930301", "22.12.98 12:04,41 ZZ00", "TEST"}},
      {"lower-case hex",
       "07917283010010f5040bc87238880900f10000993092516195800ae8329bfd4697d9ec37",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", "hellohello"}},
      {"national sender 81",
       "0791947101670000000B811007214365F700001270908174300007BCA4750CEF2B00",
       {kCentre, "01701234567", "09.07.21 18:47,03 ZZ00", "<IVcp\xF1\n"}},
      {"zone copied as it stands",
       "0791947101670000040C9194711132547600003021424150030402C834",
       {kCentre, kSender, "24.12.03 14:05,30 ZZ40", "Hi"}},
      // septet counts around the 7-octet groups
      {"7 septets",
       "0791947101670000000C919471113254760000422092329585000741E19058341E01",
       {kCentre, kSender, kTs, "ABCDEFG"}},
      {"8 septets in 7 octets",
       "0791947101670000000C919471113254760000422092329585000841E19058341E91",
       {kCentre, kSender, kTs, "ABCDEFGH"}},
      {"9 septets",
       "0791947101670000000C919471113254760000422092329585000941E19058341E9149",
       {kCentre, kSender, kTs, "ABCDEFGHI"}},
      {"15 septets",
       "0791947101670000000C919471113254760000422092329585000F41E19058341E9149E592D9743E01",
       {kCentre, kSender, kTs, "ABCDEFGHIJKLMNO"}},
      {"16 septets",
       "0791947101670000000C919471113254760000422092329585001041E19058341E9149E592D9743EA1",
       {kCentre, kSender, kTs, "ABCDEFGHIJKLMNOP"}},
      {"160 septets",
       "0791947101670000000C91947111325476000042209232958500A0"
       "B0986C46ABD96EB81C2C269BD16AB61B2E078BC966B49AED86CBC162B219AD66BBE172"
       "B0986C46ABD96EB81C2C269BD16AB61B2E078BC966B49AED86CBC162B219AD66BBE172"
       "B0986C46ABD96EB81C2C269BD16AB61B2E078BC966B49AED86CBC162B219AD66BBE172"
       "B0986C46ABD96EB81C2C269BD16AB61B2E078BC966B49AED86CBC162B219AD66BBE172",
       {kCentre, kSender, kTs,
        "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234"
        "567890123456789012345678901234567890123456789012345678901234567890123456789"}},
      {"no text",
       "0791947101670000040C9194711132547600004220923295850000",
       {kCentre, kSender, kTs, ""}},
      // the alphabet's escapes and blanks
      {"escape 101: euro",
       "0791947101670000040C91947111325476000042209232958500029B32",
       {kCentre, kSender, kTs, "\x80"}},
      {"escape to no character",
       "0791947101670000040C91947111325476000042209232958500029B20",
       {kCentre, kSender, kTs, std::string(1, '\0')}},
      {"Greek capitals are blanks",
       "0791947101670000040C919471113254760000422092329585000490A04408",
       {kCentre, kSender, kTs, " A B"}},
      // data codings
      {"coding F0 (class 0, 7-bit)",
       "0791947101670000040C9194711132547600F04220923295850002C834",
       {kCentre, kSender, kTs, "Hi"}},
      {"coding 11 (class 1, 7-bit)",
       "0791947101670000040C91947111325476001142209232958500"
       "02C834",
       {kCentre, kSender, kTs, "Hi"}},
      {"coding 04 (8-bit)",
       "0791947101670000040C9194711132547600044220923295850002C834",
       {kCentre, kSender, kTs, ""}},
      {"coding 08 (UCS2)",
       "0791947101670000040C91947111325476000842209232958500020048",
       {kCentre, kSender, kTs, ""}},
      {"coding F4 (class 0, 8-bit)",
       "0791947101670000040C9194711132547600F44220923295850002C834",
       {kCentre, kSender, kTs, ""}},
      // headers and alphanumeric senders
      {"header skipped",
       "0791947101670000440C91947111325476000042209232958500090500030102019069",
       {kCentre, kSender, kTs, "Hi"}},
      {"7-octet header skipped",
       "0791947101670000400C919471113254760000422092329585000A06080400010201CF25",
       {kCentre, kSender, kTs, "OK"}},
      {"alphanumeric sender",
       "0791947101670000040ED0CBF29C2E7FDBC300004220923295850002C834",
       {kCentre, "Kestrova", kTs, "Hi"}},
      // cut short or broken
      {"cut inside the text",
       "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", "hell"}},
      {"cut half an octet into the text",
       "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", "hell"}},
      {"cut before the text length",
       "07917283010010F5040BC87238880900F1000099309251619580",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", ""}},
      {"cut inside the time stamp",
       "07917283010010F5040BC87238880900F10000993092",
       {"+27381000015", "27838890001", "", ""}},
      {"cut inside the sender", "07917283010010F5040BC8723888", {"+27381000015", "278388", "", ""}},
      {"cut inside the service centre", "07917283", {"+2738", "", "", ""}},
      {"text length not hex",
       "07917283010010F5040BC87238880900F10000993092516195800XE8329BFD4697D9EC37",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", ""}},
      {"a data octet not hex",
       "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC3Z",
       {"+27381000015", "27838890001", "29.03.99 15:16,59 ZZ08", ""}},
      {"sender length not hex", "07917283010010F504QBC87238880900F1", {"+27381000015", "", "", ""}},
      {"service centre length not hex", "Q7917283010010F5040B", {"", "", "", ""}},
      {"empty", "", {"", "", "", ""}},
      {"nothing after the service centre", "00", {"", "", "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.pdu), c.fields) << c.what;
}

std::string Hex(int octet) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(octet >> 4) & 15], kDigits[octet & 15]};
}

// Every data coding scheme, by its group: only uncompressed text in the default alphabet
// is turned into text; the other three fields never depend on the coding.
TEST(DecodePdu, ReadsTheDataCodingSchemeByItsGroups) {
  struct Range {
    const char* what;
    int from, to;
    bool text;
  } const ranges[] = {
      {"general, default alphabet", 0x00, 0x03, true},
      {"general, 8-bit", 0x04, 0x07, false},
      {"general, UCS2", 0x08, 0x0B, false},
      {"general, reserved alphabet", 0x0C, 0x0F, true},
      {"general with class, default alphabet", 0x10, 0x13, true},
      {"general with class, 8-bit", 0x14, 0x17, false},
      {"general with class, UCS2", 0x18, 0x1B, false},
      {"general with class, reserved alphabet", 0x1C, 0x1F, true},
      {"general, compressed", 0x20, 0x3F, false},
      {"automatic deletion, default alphabet", 0x40, 0x43, true},
      {"automatic deletion, 8-bit", 0x44, 0x47, false},
      {"automatic deletion, UCS2", 0x48, 0x4B, false},
      {"automatic deletion, reserved alphabet", 0x4C, 0x4F, true},
      {"automatic deletion with class, default alphabet", 0x50, 0x53, true},
      {"automatic deletion with class, 8-bit", 0x54, 0x57, false},
      {"automatic deletion with class, UCS2", 0x58, 0x5B, false},
      {"automatic deletion with class, reserved alphabet", 0x5C, 0x5F, true},
      {"automatic deletion, compressed", 0x60, 0x7F, false},
      {"reserved groups", 0x80, 0xBF, true},
      {"message waiting, discard", 0xC0, 0xCF, true},
      {"message waiting, store", 0xD0, 0xDF, true},
      {"message waiting, store, UCS2", 0xE0, 0xEF, false},
      {"message class, default alphabet", 0xF0, 0xF3, true},
      {"message class, 8-bit", 0xF4, 0xF7, false},
      {"message class, reserved bit, default alphabet", 0xF8, 0xFB, true},
      {"message class, reserved bit, 8-bit", 0xFC, 0xFF, false},
  };
  int next = 0;  // the ranges cover every value once, in order
  for (const Range& r : ranges) {
    ASSERT_EQ(r.from, next) << r.what;
    for (int coding = r.from; coding <= r.to; ++coding) {
      const std::string pdu =
          "0791947101670000040C9194711132547600" + Hex(coding) + "4220923295850002C834";
      EXPECT_EQ(Decode(pdu), (Decoded{kCentre, kSender, kTs, r.text ? "Hi" : ""}))
          << r.what << ", coding " << Hex(coding);
    }
    next = r.to + 1;
  }
  EXPECT_EQ(next, 0x100);
}

// Only an SMS-DELIVER is decoded; the message type is the first octet's low two bits.
TEST(DecodePdu, OtherMessageTypesGiveFourEmptyTexts) {
  const Decoded none{"", "", "", ""};
  const Decoded hi{kCentre, kSender, kTs, "Hi"};
  const std::string centre = "0791947101670000", rest = "0C9194711132547600004220923295850002C834";
  struct Case {
    const char* what;
    std::string pdu;
    Decoded fields;
  } const cases[] = {
      {"deliver", centre + "04" + rest, hi},
      {"deliver, no flags", centre + "00" + rest, hi},
      {"the reserved type, read as a deliver", centre + "07" + rest, hi},
      {"submit", centre + "01" + rest, none},
      {"submit with validity period and reply path", centre + "91" + rest, none},
      {"status report", centre + "06" + rest, none},
      {"submit made by an independent encoder",
       "079194710167000011000C9194711132547600000002C834", none},
      {"status report of message 1",
       "079194710167000006010C919471113254764220923295850042209232958500" "00", none},
      {"first octet not hexadecimal", centre + "0X" + rest, {kCentre, "", "", ""}},
      {"cut after the service centre", centre + "0", {kCentre, "", "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.pdu), c.fields) << c.what;
}

TEST(DecodePdu, UnpacksGroupsOfSevenOctets) {
  struct Case {
    std::string group;
    std::string septets;  // the complete ones
    size_t count;         // all of them, the incomplete last one included
  } const cases[] = {
      {"E8329BFD4697D9", "hellohel", 8},
      {"EC37", "lo", 3},
      {"C834", "Hi", 3},
      {"41", "A", 2},
      {"", "", 1},
      {"E8329BFD4697D9EC37", "hellohel", 8},  // at most one group of 7
  };
  for (const auto& c : cases) {
    std::string got = TMobilKomm::Unpack7bit(c.group);
    EXPECT_EQ(got.size(), c.count) << c.group;
    EXPECT_EQ(got.substr(0, c.septets.size()), c.septets) << c.group;
  }
}

// The GSM 7-bit default alphabet and extension table as Unicode code points; entries of
// the extension table not listed have no character.
constexpr char32_t kDefaultAlphabet[128] = {
    U'@', U'£', U'$', U'¥', U'è', U'é', U'ù', U'ì', U'ò', U'Ç',  U'\n', U'Ø', U'ø', U'\r', U'Å',
    U'å', U'Δ', U'_', U'Φ', U'Γ', U'Λ', U'Ω', U'Π', U'Ψ', U'Σ',  U'Θ',  U'Ξ', 0x1B, U'Æ',  U'æ',
    U'ß', U'É', U' ', U'!', U'"', U'#', U'¤', U'%', U'&', U'\'', U'(',  U')', U'*', U'+',  U',',
    U'-', U'.', U'/', U'0', U'1', U'2', U'3', U'4', U'5', U'6',  U'7',  U'8', U'9', U':',  U';',
    U'<', U'=', U'>', U'?', U'¡', U'A', U'B', U'C', U'D', U'E',  U'F',  U'G', U'H', U'I',  U'J',
    U'K', U'L', U'M', U'N', U'O', U'P', U'Q', U'R', U'S', U'T',  U'U',  U'V', U'W', U'X',  U'Y',
    U'Z', U'Ä', U'Ö', U'Ñ', U'Ü', U'§', U'¿', U'a', U'b', U'c',  U'd',  U'e', U'f', U'g',  U'h',
    U'i', U'j', U'k', U'l', U'm', U'n', U'o', U'p', U'q', U'r',  U's',  U't', U'u', U'v',  U'w',
    U'x', U'y', U'z', U'ä', U'ö', U'ñ', U'ü', U'à',
};
constexpr struct {
  int septet;
  char32_t cp;
} kExtensionAlphabet[] = {
    {10, U'\f'}, {20, U'^'}, {40, U'{'}, {41, U'}'}, {47, U'\\'},
    {60, U'['},  {61, U'~'}, {62, U']'}, {64, U'|'}, {101, U'€'},
};

TEST(GsmTables, EveryEntryIsTheStandardCharacterInWindows1252) {
  TMobilKomm komm;
  komm.FillGsmTables();
  for (int v = 0; v < 128; ++v) {
    // The escape and the characters 1252 lacks (the Greek capitals) are blanks.
    int ansi = v == 27 ? -1 : platform::UnicodeToAnsi(kDefaultAlphabet[v]);
    EXPECT_EQ(komm.GsmDefaultTable[v], static_cast<uint32_t>(ansi < 0 ? 32 : ansi)) << v;
    uint32_t extension = 0;
    for (const auto& e : kExtensionAlphabet)
      if (e.septet == v) extension = static_cast<uint32_t>(platform::UnicodeToAnsi(e.cp));
    EXPECT_EQ(komm.GsmExtensionTable[v], extension) << v;
  }
  // SetDefaults fills them too.
  TMobilKomm other;
  other.SetDefaults();
  EXPECT_EQ(other.GsmDefaultTable[0], 64u);
  EXPECT_EQ(other.GsmExtensionTable[101], 128u);
}

// Every prefix of a good PDU decodes to prefixes of its fields, and random or damaged texts
// decode without a fault (the sanitizer build checks every read).
TEST(DecodePdu, TruncatedAndRandomInputIsSafe) {
  const std::string good[] = {
      "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
      "0791947101670000440C91947111325476000042209232958500090500030102019069",
      "0791947101670000040ED0CBF29C2E7FDBC300004220923295850002C834",
      "0791947101670000040C91947111325476000042209232958500029B32",
  };
  auto is_prefix = [](const std::string& part, const std::string& whole) {
    return whole.compare(0, part.size(), part) == 0;
  };
  for (const auto& pdu : good) {
    const Decoded full = Decode(pdu);
    for (size_t n = 0; n <= pdu.size(); ++n) {
      Decoded d = Decode(pdu.substr(0, n));
      EXPECT_TRUE(is_prefix(d.smsc, full.smsc) && is_prefix(d.sender, full.sender) &&
                  is_prefix(d.text, full.text) && (d.stamp.empty() || d.stamp == full.stamp))
          << pdu.substr(0, n) << " " << d;
    }
  }

  std::mt19937 random(20240229);
  const std::string hex = "0123456789ABCDEFabcdef";
  for (int i = 0; i < 4000; ++i) {
    std::string pdu;
    const size_t length = random() % 400;
    if (i % 4 == 0) {
      for (size_t k = 0; k < length; ++k) pdu += static_cast<char>(random() % 256);
    } else if (i % 4 == 1) {
      for (size_t k = 0; k < length; ++k) pdu += hex[random() % hex.size()];
    } else {
      // A good PDU with a few characters changed, then cut somewhere.
      pdu = good[random() % std::size(good)];
      for (int k = 0; k < 3; ++k) pdu[random() % pdu.size()] = hex[random() % hex.size()];
      pdu.resize(random() % (pdu.size() + 1));
    }
    Decoded d = Decode(pdu);
    EXPECT_LE(d.text.size(), 255u);  // never more than the announced septets
  }
}

}  // namespace
}  // namespace phone
