#include "phone/Tokens.h"

#include <gtest/gtest.h>

namespace phone {
namespace {

struct TokenCase {
  std::string s, sep;
  int n;
  int pos, len;
  std::string token;
};

TEST(Tokens, TokenPosLenAndGetToken) {
  const TokenCase cases[] = {
      {"a---b---c", "---", 0, 1, 9, "a---b---c"},
      {"a---b---c", "---", 1, 1, 1, "a"},
      {"a---b---c", "---", 2, 5, 1, "b"},
      {"a---b---c", "---", 3, 9, 1, "c"},
      {"a---b---c", "---", 4, 13, -3, ""},
      {"a---b---c", "---", 5, 13, -3, ""},
      {"a---b---c", "---", -1, 1, -3, ""},
      {"5", ",", 1, 1, 1, "5"},
      {"abc", ",", 1, 1, 3, "abc"},
      {"abc", ",", 2, 5, -1, ""},
      {"a,,b", ",", 2, 3, 0, ""},
      {"a,,b", ",", 3, 4, 1, "b"},
      {",x", ",", 1, 1, 0, ""},
      {"", ",", 1, 1, 0, ""},
      {"abc", "", 1, 1, 0, ""},
      {"abc", "", 2, 1, 0, ""},
      // the cuts the programs make of an AT+CMGR reply
      {"AT+CMGR=1---+CMGR: 0,,24---07915892---OK---", "---", 3, 28, 8, "07915892"},
      {"AT+CMGR=1---+CMGR: 0,,24---0791---", "+CMGR: ", 2, 20, 15, "0,,24---0791---"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s + " | " + c.sep + " | " + std::to_string(c.n));
    EXPECT_EQ(TokenPos(c.s, c.sep, c.n), c.pos);
    EXPECT_EQ(TokenLen(c.s, c.sep, c.n), c.len);
    EXPECT_EQ(GetToken(c.s, c.sep, c.n), c.token);
  }
}

TEST(Tokens, ReplaceAll) {
  struct Case {
    std::string s, a, b, result;
  } const cases[] = {
      {"x\r\ny", "\r\n", "---", "x---y"},
      {"\r\nOK\r\n", "\r\n", "---", "---OK---"},
      {"AT\r---OK", "\r", "", "AT---OK"},
      {"abc", "", "zz", "abc"},
      {"", "a", "b", ""},
      {"aab", "ab", "b", "b"},  // an occurrence formed by a replacement is replaced too
      {"aaab", "ab", "b", "b"},
      {"abab", "ab", "xabx", "xabxxabx"},  // B contains A: one pass, and it ends
      {"aaa", "a", "aa", "aaaaaa"},
      {"a-b-c", "-", "--", "a--b--c"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceAll(c.s, c.a, c.b), c.result) << c.s;
}

TEST(Tokens, LeftRightMid) {
  struct Case {
    const char* fn;
    std::string s;
    int i, n;
    std::string result;
  } const cases[] = {
      {"Right", "ab", 0, 5, "ab"},    {"Right", "abcd", 0, 2, "cd"},
      {"Right", "abcd", 0, 0, ""},    {"Right", "abcd", 0, -1, ""},
      {"Left", "ab", 0, 0, ""},       {"Left", "abcd", 0, 3, "abc"},
      {"Left", "abcd", 0, 9, "abcd"}, {"Left", "abcd", 0, -2, ""},
      {"Mid", "abcdef", 2, 3, "bcd"}, {"Mid", "abcdef", 0, 2, "ab"},
      {"Mid", "abcdef", -5, 2, "ab"}, {"Mid", "abcdef", 6, 9, "f"},
      {"Mid", "abcdef", 7, 1, ""},    {"Mid", "abcdef", 3, 0, ""},
  };
  for (const auto& c : cases) {
    std::string got = c.fn == std::string("Right")  ? RightStr(c.s, c.n)
                      : c.fn == std::string("Left") ? LeftStr(c.s, c.n)
                                                    : MidStr(c.s, c.i, c.n);
    EXPECT_EQ(got, c.result) << c.fn << " " << c.s << " " << c.i << " " << c.n;
  }
}

TEST(Tokens, ByteToBitsAndBack) {
  struct Case {
    uint8_t b;
    std::string bits;
  } const cases[] = {
      {0x41, "01000001"}, {0x00, "00000000"}, {0xFF, "11111111"},
      {0x80, "10000000"}, {0x01, "00000001"}, {0xA5, "10100101"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ByteToBits(c.b), c.bits);
    EXPECT_EQ(BitsToByte(c.bits), c.b);
  }
  for (int b = 0; b < 256; ++b) EXPECT_EQ(BitsToByte(ByteToBits(static_cast<uint8_t>(b))), b);
}

TEST(Tokens, BitsToByteReadsOnlyOnesOfTheFirstEight) {
  struct Case {
    std::string bits;
    uint8_t b;
  } const cases[] = {
      {"010000011111", 0x41},  // characters after the eighth are not read
      {"1", 0x80},             // missing characters leave their bits clear
      {"", 0x00},
      {"1x1 1201", 0xA9},  // anything but '1' is a clear bit
  };
  for (const auto& c : cases) EXPECT_EQ(BitsToByte(c.bits), c.b) << c.bits;
}

TEST(Tokens, BitSet) {
  struct Case {
    uint8_t b;
    int n;
    bool set;
  } const cases[] = {
      {0x01, 0, true},  {0x01, 1, false},  {0x80, 7, true},   {0x7F, 7, false},  {0x04, 2, true},
      {0xFF, 8, false}, {0xFF, -1, false}, {0xFF, 31, false}, {0xFF, 32, false}, {0xFF, 64, false},
  };
  for (const auto& c : cases) EXPECT_EQ(BitSet(c.b, c.n), c.set) << int(c.b) << " " << c.n;
}

TEST(Tokens, AppendPadAndZeroPad) {
  EXPECT_EQ(AppendChars("ab", '*', 3), "ab***");
  EXPECT_EQ(AppendChars("ab", '*', 0), "ab");
  EXPECT_EQ(AppendChars("ab", '*', -4), "ab");
  EXPECT_EQ(PadRight("abc", ' ', 2), "abc");
  EXPECT_EQ(PadRight("abc", ' ', 3), "abc");
  EXPECT_EQ(PadRight("abc", '.', 6), "abc...");

  struct Case {
    std::string prefix;
    int64_t n;
    int w;
    std::string result;
  } const cases[] = {
      {"", 12, 10, "0000000012"}, {"", 7, 10, "0000000007"},
      {"", 123456, 3, "456"},     {"ID", 42, 6, "ID0042"},
      {"ID", 42, 2, "ID"},        {"ID", 42, 1, "ID"},
      {"", 0, 4, "0000"},         {"", 5, 0, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ZeroPadNumber(c.prefix, c.n, c.w), c.result) << c.prefix << " " << c.n << " " << c.w;
}

TEST(Tokens, ThisIsAnNtSystem) {
  EXPECT_TRUE(IsWindowsNT());
}

}  // namespace
}  // namespace phone
