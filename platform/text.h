// Character tables for the system's 8-bit text. All text in memory is Windows-1252 ("ANSI");
// tables marked OEM store code page 850. Case and "is a letter" come from fixed
// Windows-1252 tables, never from the C locale (Qt changes the process locale). Text becomes
// UTF-8 only at the window boundary, through AnsiToUtf8 / Utf8ToAnsi.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Code page conversion. The two tables are exact inverses: every character both code pages
// have maps to its counterpart (as glibc's CP1252 and CP850 tables say), and the 31 bytes of
// each side that have none are paired in ascending order, so a round trip never loses a byte.
unsigned char AnsiToOemChar(unsigned char c);
unsigned char OemToAnsiChar(unsigned char c);
// In place over `n` bytes of `buf`.
void AnsiToOemBuf(char* buf, size_t n);
void OemToAnsiBuf(char* buf, size_t n);
std::string AnsiToOem(std::string_view text);
std::string OemToAnsi(std::string_view text);

// Windows-1252 case mapping: a-z, the accented letters, š œ ž ÿ <-> Š Œ Ž Ÿ; ß and µ stay.
unsigned char AnsiUpperChar(unsigned char c);
unsigned char AnsiLowerChar(unsigned char c);
std::string AnsiUpper(std::string_view text);
std::string AnsiLower(std::string_view text);
void AnsiUpperInPlace(std::string& text);
// A letter of Windows-1252 (A-Z, a-z, the accented letters, ƒ ˆ Š Œ Ž š œ ž Ÿ ª µ º).
bool IsAnsiAlpha(unsigned char c);
bool IsAnsiAlphaNumeric(unsigned char c);
// Compares without regard to case (AnsiUpperChar on both sides), byte order otherwise:
// < 0, 0 or > 0.
int AnsiCompareText(std::string_view a, std::string_view b);

// Windows-1252 <-> UTF-8. The five bytes 1252 leaves undefined (81, 8D, 8F, 90, 9D) map to
// the control characters U+0081.. as Windows does, so AnsiToUtf8 never loses a byte.
// Utf8ToAnsi turns characters 1252 lacks, and malformed UTF-8, into '?'.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
// The Unicode code point of one Windows-1252 byte.
char32_t AnsiToUnicode(unsigned char c);
// The Windows-1252 byte of a code point, or -1 when 1252 has none.
int UnicodeToAnsi(char32_t cp);

}  // namespace platform
