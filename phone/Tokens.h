// Free functions on 8-bit text that the phone link and both programs use to cut AT replies
// into fields, walk PDU hex text, turn bytes into strings of "0"/"1" and back and build
// zero-padded identifiers. Positions are 1-based, as everywhere in the system. None of them
// fails, throws or reports anything: an out-of-range request gives a shorter or empty text.
//
// Copy(S, i, n) in the contracts below: the characters of S from position i, at most n of
// them; an i below 1 counts as 1; an i past the end or an n of 0 or less gives "".
#pragma once

#include <cstdint>
#include <string>

namespace phone {

// Start position of token N of S, tokens being separated by the text Sep (two separators in
// a row enclose an empty token). N of 1 or less gives 1. Past the last token the result lies
// past the end of S. An empty Sep is never found, so every N gives 1.
int TokenPos(const std::string& S, const std::string& Sep, int N);
// Length of token N: N = 0 gives Length(S); otherwise TokenPos(N + 1) - TokenPos(N) -
// Length(Sep), 0 or less when N lies past the last token.
int TokenLen(const std::string& S, const std::string& Sep, int N);
// Token N of S: N = 0 gives S whole; N past the last token, or negative, gives "".
std::string GetToken(const std::string& S, const std::string& Sep, int N);

// Every occurrence of A in S replaced by B. Each replacement searches again from where an
// occurrence could first begin, so one that a replacement forms together with its
// neighbours is replaced too. When B contains A that would never end, so then the text is
// replaced in one left-to-right pass instead. An empty A gives S unchanged.
std::string ReplaceAll(const std::string& S, const std::string& A, const std::string& B);

// The last n characters of S (S itself when n >= Length(S), "" when n <= 0).
std::string RightStr(const std::string& S, int n);
// Copy(S, 1, n).
std::string LeftStr(const std::string& S, int n);
// Copy(S, i, n).
std::string MidStr(const std::string& S, int i, int n);

// Eight characters "0"/"1", bit 7 first.
std::string ByteToBits(uint8_t b);
// Reads the first 8 characters: character k (1..8) = '1' sets bit 8 - k; any other
// character, or a missing one, leaves the bit clear.
uint8_t BitsToByte(const std::string& bits);
// Bit n (0 = least significant) of b is set; false for n outside 0..7.
bool BitSet(uint8_t b, int n);

// S followed by N copies of C; N of 0 or less adds nothing.
std::string AppendChars(const std::string& S, char C, int N);
// S filled up with C to width W; S of W characters or more comes back unchanged.
std::string PadRight(const std::string& S, char C, int W);
// Prefix followed by N in decimal, right-aligned with leading zeros so that the whole text
// is W characters long; a number too long for the room keeps only its last digits.
std::string ZeroPadNumber(const std::string& Prefix, int64_t N, int W);

// True on a Windows NT family system. This system is one, so it is always true.
bool IsWindowsNT();

}  // namespace phone
