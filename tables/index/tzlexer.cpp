// The expression lexer: numbers, string literals, operators, field names (with aliases) and the
// keyword table of the function names and logical words.
#include <charconv>

#include "platform/text.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/index/tzexprcode.h"

namespace tz {
namespace {

struct Keyword {
  const char* name;
  int32_t token;
  int32_t result_size;  // bytes of working pool the function's result may need
};

// Every accepted spelling in alphabetical order; abbreviations are entries of their own.
constexpr Keyword kKeywords[] = {
    {"ABS", kFnAbs, 0},
    {"ASC", kFnAsc, 0},
    {"AT", kFnAt, 0},
    {"CDOW", kFnCdow, 15},
    {"CHR", kFnChr, 2},
    {"CMON", kFnCmonth, 15},
    {"CMONT", kFnCmonth, 15},
    {"CMONTH", kFnCmonth, 15},
    {"CTOD", kFnCtod, 0},
    {"DATE", kFnDate, 0},
    {"DAY", kFnDay, 0},
    {"DELE", kFnDeleted, 0},
    {"DELET", kFnDeleted, 0},
    {"DELETE", kFnDeleted, 0},
    {"DELETED", kFnDeleted, 0},
    {"DOW", kFnDow, 0},
    {"DTOC", kFnDtoc, 11},
    {"DTOS", kFnDtos, 9},
    {"IIF", kFnIif, 256},
    {"INT", kFnInt, 0},
    {"LEFT", kFnLeft, 0},
    {"LEN", kFnLen, 0},
    {"LOWE", kFnLower, 0},
    {"LOWER", kFnLower, 0},
    {"LTRI", kFnLtrim, 0},
    {"LTRIM", kFnLtrim, 0},
    {"MAX", kFnMax, 0},
    {"MIN", kFnMin, 0},
    {"MOD", kFnMod, 0},
    {"MONT", kFnMonth, 0},
    {"MONTH", kFnMonth, 0},
    {"RECN", kFnRecno, 0},
    {"RECNO", kFnRecno, 0},
    {"REPL", kFnReplicate, 256},
    {"REPLI", kFnReplicate, 256},
    {"REPLIC", kFnReplicate, 256},
    {"REPLICA", kFnReplicate, 256},
    {"REPLICAT", kFnReplicate, 256},
    {"REPLICATE", kFnReplicate, 256},
    {"RIGH", kFnRight, 0},
    {"RIGHT", kFnRight, 0},
    {"ROUN", kFnRound, 0},
    {"ROUND", kFnRound, 0},
    {"RTRI", kFnRtrim, 0},
    {"RTRIM", kFnRtrim, 0},
    {"SOUN", kFnSoundex, 15},
    {"SOUND", kFnSoundex, 15},
    {"SOUNDE", kFnSoundex, 15},
    {"SOUNDEX", kFnSoundex, 15},
    {"SPAC", kFnSpace, 256},
    {"SPACE", kFnSpace, 256},
    {"STR", kFnStr, 256},
    {"STUF", kFnStuff, 0},
    {"STUFF", kFnStuff, 0},
    {"SUBS", kFnSubstr, 0},
    {"SUBST", kFnSubstr, 0},
    {"SUBSTR", kFnSubstr, 0},
    {"TRIM", kFnTrim, 0},
    {"UPPE", kFnUpper, 0},
    {"UPPER", kFnUpper, 0},
    {"VAL", kFnVal, 0},
    {"YEAR", kFnYear, 0},
    {".F.", 337, 0},
    {".T.", 338, 0},
    {".NOT.", 339, 0},
    {".OR.", 340, 0},
    {".AND.", 341, 0},
};

constexpr int32_t kTokenNotEqual = 342;
constexpr int32_t kTokenLessEqual = 343;
constexpr int32_t kTokenGreaterEqual = 344;
constexpr int32_t kTokenExact = 345;
constexpr int32_t kTokenContains = 346;
constexpr int32_t kTokenString = 331;
constexpr int32_t kTokenNumber = 332;
constexpr size_t kMaxNumberLength = 80;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return platform::IsAnsiAlpha(static_cast<unsigned char>(c));
}
char UpperChar(char c) {
  return static_cast<char>(platform::AnsiUpperChar(static_cast<unsigned char>(c)));
}

}  // namespace

int ExprCompiler::NextToken(ExprSym& sym) {
  sym = ExprSym();
  while (Peek(pos_) == ' ' || Peek(pos_) == '\t') ++pos_;
  char c = Peek(pos_);
  if (c == '\0') return 0;
  if (IsDigit(c)) return sym.token = LexNumber(sym);
  if (c == '\'' || c == '"') return sym.token = LexString(c, sym);
  if (IsLetter(c) || c == '.' || c == '_') return sym.token = LexName(sym);
  ++pos_;
  char next = Peek(pos_);
  int token = static_cast<unsigned char>(c);
  switch (c) {
    case '=':
      if (next == '=') ++pos_, token = kTokenExact;
      break;
    case '*':
      if (next == '*') ++pos_, token = '^';
      break;
    case '#':
      token = kTokenNotEqual;
      break;
    case '$':
      token = kTokenContains;
      break;
    case '>':
      if (next == '=') ++pos_, token = kTokenGreaterEqual;
      break;
    case '<':
      if (next == '=')
        ++pos_, token = kTokenLessEqual;
      else if (next == '>')
        ++pos_, token = kTokenNotEqual;
      break;
    default:
      break;
  }
  return sym.token = token;
}

int ExprCompiler::LexNumber(ExprSym& sym) {
  size_t start = pos_;
  bool point = false;
  while (pos_ - start < kMaxNumberLength) {
    char c = UpperChar(Peek(pos_));
    if (c == '.' && !point) {
      point = true;
    } else if (!IsDigit(c) && c != 'E') {
      break;
    }
    ++pos_;
  }
  // The longest prefix that reads as a number counts ("1E" reads as 1).
  std::string_view digits = text_.substr(start, pos_ - start);
  double value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  sym.number = value;
  sym.type = kTypeN;
  return kTokenNumber;
}

int ExprCompiler::LexString(char quote, ExprSym& sym) {
  size_t start = ++pos_;
  while (Peek(pos_) != '\0' && Peek(pos_) != quote) ++pos_;
  if (Peek(pos_) == '\0') return 0;  // the text ended inside the literal
  std::string_view literal = text_.substr(start, pos_ - start);
  ++pos_;
  pool_counter_ += static_cast<int>(literal.size()) + 1;
  sym.literal = static_cast<uint32_t>(out_.literals.size());
  out_.literals.emplace_back(literal);
  sym.type = kTypeC;
  return kTokenString;
}

int ExprCompiler::LexName(ExprSym& sym) {
  std::string name;
  size_t arrow = std::string::npos;
  for (;;) {
    char c = Peek(pos_);
    if (arrow == std::string::npos && c == '-' && Peek(pos_ + 1) == '>') {
      arrow = name.size();
      name += '.';
      pos_ += 2;
      continue;
    }
    bool more = IsLetter(c) || IsDigit(c) || c == '_' || (c == '.' && arrow == std::string::npos);
    if (!more) break;
    name += UpperChar(c);
    ++pos_;
  }
  size_t after = pos_;
  while (Peek(after) == ' ' || Peek(after) == '\t') ++after;
  bool call = Peek(after) == '(';
  if (!call) {
    int token = LookupField(name, arrow, sym);
    if (token != 0) return token;
  }
  return LookupKeyword(name);
}

int ExprCompiler::LookupField(const std::string& name, size_t arrow, ExprSym& sym) {
  uint8_t area_number = CurrentWorkArea;
  std::string field_name = name;
  if (arrow != std::string::npos) {
    std::string alias = name.substr(0, arrow);
    field_name = name.substr(arrow + 1);
    area_number = 0;
    for (int n = 1; n <= kWorkAreaCount; ++n) {
      if (WorkAreas[n] && WorkAreas[n]->Alias == alias) {
        area_number = static_cast<uint8_t>(n);
        break;
      }
    }
    if (area_number == 0) return 0;
  }
  if (area_number < 1 || area_number > kWorkAreaCount || !WorkAreas[area_number]) return 0;
  const TDbfTable& table = WorkAreas[area_number]->Table;
  for (size_t i = 0; i < table.Fields.size(); ++i) {
    const TFieldEntry& field = table.Fields[i];
    if (field.name != field_name) continue;
    int32_t kind;
    switch (field.type) {
      case 'C':
        kind = 0;
        pool_counter_ += field.length + 1;
        break;
      case 'N':
      case 'F':
        kind = 1;
        field_decimals_ = field_decimals_ == kDecimalsUnset ? field.decimals : 2;
        break;
      case 'L':
        kind = 2;
        break;
      case 'D':
        kind = 3;
        break;
      case 'M':
        kind = 4;
        break;
      default:
        return 0;
    }
    field_width_ = field.length;
    sym.type = kTypeC + kind;
    sym.field = static_cast<int32_t>(i + 1);
    sym.area = arrow != std::string::npos ? area_number : 0;
    return (arrow != std::string::npos ? kOpAliasFieldC : kOpFieldC) + kind;
  }
  return 0;
}

int ExprCompiler::LookupKeyword(const std::string& name) {
  for (const Keyword& k : kKeywords) {
    if (name == k.name) {
      pool_counter_ += k.result_size;
      return k.token;
    }
  }
  return kTokenUnknownName;
}

}  // namespace tz
