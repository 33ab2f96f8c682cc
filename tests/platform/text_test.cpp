#include "platform/text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>

namespace platform {
namespace {

// One byte through glibc's iconv; nullopt when the target code page lacks the character.
std::optional<unsigned char> Iconv(const char* to, const char* from, unsigned char byte) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  char in = static_cast<char>(byte), out[8];
  char* pin = &in;
  char* pout = out;
  size_t nin = 1, nout = sizeof out;
  size_t r = iconv(cd, &pin, &nin, &pout, &nout);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || pout - out != 1) return std::nullopt;
  return static_cast<unsigned char>(out[0]);
}

TEST(CodePages, EveryByteRoundTripsBothWays) {
  for (int b = 0; b < 256; ++b) {
    auto c = static_cast<unsigned char>(b);
    EXPECT_EQ(OemToAnsiChar(AnsiToOemChar(c)), c) << "1252 byte " << b;
    EXPECT_EQ(AnsiToOemChar(OemToAnsiChar(c)), c) << "850 byte " << b;
  }
}

TEST(CodePages, MappedBytesAgreeWithGlibc) {
  int checked = 0;
  for (int b = 0; b < 256; ++b) {
    auto c = static_cast<unsigned char>(b);
    if (auto oem = Iconv("CP850", "CP1252", c)) {
      EXPECT_EQ(AnsiToOemChar(c), *oem) << "1252 byte " << b;
      ++checked;
    }
    if (auto ansi = Iconv("CP1252", "CP850", c)) {
      EXPECT_EQ(OemToAnsiChar(c), *ansi) << "850 byte " << b;
    }
  }
  EXPECT_EQ(checked, 256 - 31);  // 31 bytes of 1252 have no counterpart in 850
}

TEST(CodePages, KnownLetters) {
  struct Case { unsigned char ansi, oem; } cases[] = {
      {0xE4, 0x84},  // ä
      {0xF6, 0x94},  // ö
      {0xFC, 0x81},  // ü
      {0xC4, 0x8E},  // Ä
      {0xDF, 0xE1},  // ß
      {0xE9, 0x82},  // é
      {'A', 'A'},
  };
  for (auto c : cases) EXPECT_EQ(AnsiToOemChar(c.ansi), c.oem) << int(c.ansi);
  std::string text = "M\xE4rz";
  std::string oem = AnsiToOem(text);
  EXPECT_EQ(oem, "M\x84rz");
  EXPECT_EQ(OemToAnsi(oem), text);
}

TEST(AnsiCase, UpperAndLower) {
  struct Case { const char* in; const char* upper; const char* lower; } cases[] = {
      {"\xE4\xF6\xFC\xDF\xFF\x9A\x9C", "\xC4\xD6\xDC\xDF\x9F\x8A\x8C", "\xE4\xF6\xFC\xDF\xFF\x9A\x9C"},
      {"abcXYZ 123", "ABCXYZ 123", "abcxyz 123"},
      {"\xB5\xF7\xD7", "\xB5\xF7\xD7", "\xB5\xF7\xD7"},  // µ, ÷ and × have no other case here
      {"\x9E\x8E", "\x8E\x8E", "\x9E\x9E"},              // ž Ž
  };
  for (auto c : cases) {
    EXPECT_EQ(AnsiUpper(c.in), c.upper) << c.in;
    EXPECT_EQ(AnsiLower(c.in), c.lower) << c.in;
  }
}

TEST(AnsiCase, Letters) {
  struct Case { unsigned char c; bool alpha; } cases[] = {
      {'a', true}, {'Z', true}, {'0', false}, {' ', false}, {'_', false}, {0xE4, true},
      {0xDF, true}, {0xD7, false}, {0xF7, false}, {0x8A, true}, {0x80, false}, {0xA7, false},
      {0xFF, true}, {0xB5, true},
  };
  for (auto c : cases) EXPECT_EQ(IsAnsiAlpha(c.c), c.alpha) << int(c.c);
  EXPECT_TRUE(IsAnsiAlphaNumeric('7'));
  EXPECT_EQ(AnsiCompareText("M\xE4rz", "M\xC4RZ"), 0);
  EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
  EXPECT_GT(AnsiCompareText("b", "A"), 0);
}

TEST(Utf8, EveryAnsiByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(Utf8, Conversions) {
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");     // euro sign
  EXPECT_EQ(AnsiToUtf8("\xE4"), "\xC3\xA4");         // ä
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC 5"), "\x80 5");
  EXPECT_EQ(Utf8ToAnsi("\xCE\xA9"), "?");            // Greek Omega: not in 1252
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");              // cut-off sequence
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80x"), "?x");  // outside the BMP
}

}  // namespace
}  // namespace platform
