#include "phone/Tokens.h"

#include <algorithm>
#include <charconv>

namespace phone {
namespace {

// The system's Copy: 1-based start, at most n characters, never past the end.
std::string Copy(const std::string& s, int i, int n) {
  if (i < 1) i = 1;
  if (n <= 0 || static_cast<size_t>(i) > s.size()) return {};
  return s.substr(static_cast<size_t>(i - 1), static_cast<size_t>(n));
}

}  // namespace

int TokenPos(const std::string& S, const std::string& Sep, int N) {
  if (N <= 1 || Sep.empty()) return 1;
  const std::string w = S + Sep;
  size_t start = 0;  // where the rest of the text begins (the part not yet deleted)
  for (int i = 1; i < N; ++i) {
    size_t found = w.find(Sep, start);
    if (found == std::string::npos) break;
    start = found + Sep.size();
  }
  return static_cast<int>(start) + 1;
}

int TokenLen(const std::string& S, const std::string& Sep, int N) {
  if (N == 0) return static_cast<int>(S.size());
  return TokenPos(S, Sep, N + 1) - TokenPos(S, Sep, N) - static_cast<int>(Sep.size());
}

std::string GetToken(const std::string& S, const std::string& Sep, int N) {
  return Copy(S, TokenPos(S, Sep, N), TokenLen(S, Sep, N));
}

std::string ReplaceAll(const std::string& S, const std::string& A, const std::string& B) {
  if (A.empty()) return S;
  std::string r = S;
  const bool single_pass = B.find(A) != std::string::npos;
  size_t from = 0;
  for (;;) {
    size_t p = r.find(A, from);
    if (p == std::string::npos) return r;
    r.replace(p, A.size(), B);
    if (single_pass) {
      from = p + B.size();
    } else {
      // The text before p held no occurrence, so the next one can begin at the earliest
      // where it would reach into the replacement.
      from = p >= A.size() - 1 ? p - (A.size() - 1) : 0;
    }
  }
}

std::string RightStr(const std::string& S, int n) {
  if (n >= static_cast<int>(S.size())) return S;
  return Copy(S, static_cast<int>(S.size()) - n + 1, static_cast<int>(S.size()));
}

std::string LeftStr(const std::string& S, int n) {
  return Copy(S, 1, n);
}

std::string MidStr(const std::string& S, int i, int n) {
  return Copy(S, i, n);
}

std::string ByteToBits(uint8_t b) {
  std::string bits(8, '0');
  for (int k = 0; k < 8; ++k)
    if (b & (0x80 >> k)) bits[static_cast<size_t>(k)] = '1';
  return bits;
}

uint8_t BitsToByte(const std::string& bits) {
  uint8_t b = 0;
  for (size_t k = 0; k < 8 && k < bits.size(); ++k)
    if (bits[k] == '1') b |= static_cast<uint8_t>(0x80 >> k);
  return b;
}

bool BitSet(uint8_t b, int n) {
  return n >= 0 && n <= 7 && ((b >> n) & 1) != 0;
}

std::string AppendChars(const std::string& S, char C, int N) {
  return N <= 0 ? S : S + std::string(static_cast<size_t>(N), C);
}

std::string PadRight(const std::string& S, char C, int W) {
  return AppendChars(S, C, W - static_cast<int>(S.size()));
}

std::string ZeroPadNumber(const std::string& Prefix, int64_t N, int W) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, N);
  (void)ec;  // 24 characters hold every 64-bit number
  std::string t = AppendChars("", '0', W) + std::string(digits, end);
  return Prefix + RightStr(t, W - static_cast<int>(Prefix.size()));
}

bool IsWindowsNT() {
  return true;
}

}  // namespace phone
