// The expression evaluator: runs the postfix program of a CompiledExpr against the current
// records of the work areas. Values live on the expression's working stack; texts lie in its
// working pool stack-wise (pushing a text puts it at the fill point, popping moves the fill
// point back to its start), so every operation pops its arguments and pushes its result in the
// space they held, the final text starts at the pool's base, and an evaluation allocates
// nothing on the key paths.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/text.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memotextfile.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdrivers.h"
#include "tables/index/tzexprcode.h"
#include "tables/index/tzndxlow.h"

namespace tz {

CompiledExpr* CurrentKeyExpr = nullptr;

namespace {

constexpr uint32_t kMaxText = 255;
constexpr double kDivideByZeroResult = 1E250;
constexpr int32_t kTrue = 1;

CompiledExpr* g_current = nullptr;

// A count argument: the number truncated toward zero, kept within +-1E9.
int64_t Count(double n) {
  if (std::isnan(n)) return 0;
  return static_cast<int64_t>(std::clamp(std::trunc(n), -1e9, 1e9));
}

// The number at the start of a text: blanks, a sign, digits with a point and an exponent; 0
// when the text does not start with one.
double LeadingNumber(std::string_view s) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  s.remove_prefix(i);
  bool plus = !s.empty() && s[0] == '+';
  if (plus) s.remove_prefix(1);
  size_t digit = !s.empty() && s[0] == '-' ? 1 : 0;
  bool starts =
      digit < s.size() &&
      ((s[digit] >= '0' && s[digit] <= '9') ||
       (s[digit] == '.' && digit + 1 < s.size() && s[digit + 1] >= '0' && s[digit + 1] <= '9'));
  if (!starts || (plus && digit == 1)) return 0;
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() ? value : 0;
}

// The shortest decimal text that reads back as `value` ("1.15" for the double nearest 1.15),
// in fixed notation: the decimal value the user wrote or sees.
std::string ShortestDecimal(double value) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

// `value` cut toward zero to `decimals` decimals of its decimal value.
double CutDecimals(double value, int64_t decimals) {
  if (decimals <= 0 || !std::isfinite(value)) return std::trunc(value);
  std::string s = ShortestDecimal(value);
  size_t point = s.find('.');
  if (point != std::string::npos && s.size() - point - 1 > static_cast<size_t>(decimals))
    s.resize(point + 1 + static_cast<size_t>(decimals));
  double result = value;
  std::from_chars(s.data(), s.data() + s.size(), result);
  return result;
}

// `value` with exactly `decimals` decimals, rounded half away from zero on its decimal value
// ("2.68" for 2.675 and 2 decimals); a result of zero has no sign.
std::string RoundedDecimal(double value, int decimals) {
  if (!std::isfinite(value)) return ShortestDecimal(value);
  std::string s = ShortestDecimal(value);
  bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  size_t point = s.find('.');
  std::string integer = s.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : s.substr(point + 1);
  bool up = fraction.size() > static_cast<size_t>(decimals) &&
            fraction[static_cast<size_t>(decimals)] >= '5';
  fraction.resize(static_cast<size_t>(decimals), '0');
  std::string digits = integer + fraction;
  if (up) {
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0)
      digits.insert(0, "1");
    else
      ++digits[i - 1];
  }
  std::string result = digits.substr(0, digits.size() - fraction.size());
  if (decimals > 0) result += "." + digits.substr(digits.size() - fraction.size());
  if (negative && result.find_first_not_of("0.") != std::string::npos) result.insert(0, "-");
  return result;
}

// The date as text of the current format with a four-digit year, so that the day names come
// from the date itself in every century.
std::string FullYearDateStr(double julian) {
  bool century = DbCentury;
  DbCentury = true;
  std::string s = JulianToDateStr(julian);
  DbCentury = century;
  return s;
}

int32_t TypeOfField(char type) {
  switch (type) {
    case 'C':
      return kTypeC;
    case 'N':
    case 'F':
      return kTypeN;
    case 'L':
      return kTypeL;
    case 'D':
      return kTypeD;
    case 'M':
      return kTypeM;
    default:
      return 0;
  }
}

TWorkArea* AreaOf(uint8_t area) {
  uint8_t n = area != 0 ? area : CurrentWorkArea;
  return n >= 1 && n <= kWorkAreaSlots ? WorkAreas[n].get() : nullptr;
}

void EvaluationError(const char* what) {
  SetDbError(358, std::string("Error during evaluation: ") + what + " [Evaluate/Engine]");
}

// Selects a work area for the life of the object.
class ScopedSelection {
 public:
  explicit ScopedSelection(uint8_t area) : saved_(CurrentWorkArea) {
    if (area != 0) CurrentWorkArea = area;
  }
  ~ScopedSelection() { CurrentWorkArea = saved_; }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  uint8_t saved_;
};

// One run of an expression's program.
class Machine {
 public:
  explicit Machine(CompiledExpr& e)
      : e_(e), stack_(e.stack.data()), pool_(e.pool.data()), capacity_(e.pool_size) {}

  void Run();

 private:
  ExprValue& Push(int32_t type) {
    ExprValue& v = stack_[sp_++];
    v.type = type;
    return v;
  }
  double PopNumber() { return stack_[--sp_].number; }
  int32_t PopWord() { return stack_[--sp_].word; }
  ExprValue PopText() {
    ExprValue v = stack_[--sp_];
    fill_ = v.offset;
    return v;
  }
  ExprValue& Top() { return stack_[sp_ - 1]; }
  char* TextOf(const ExprValue& v) { return pool_ + v.offset; }
  std::string_view View(const ExprValue& v) { return {pool_ + v.offset, v.length}; }

  // Room for `length` bytes at `offset`: the length itself, or what is left after error 354.
  uint32_t Room(uint32_t offset, uint32_t length) {
    if (offset + length <= capacity_) return length;
    SetDbError(354, "Working pool overflow [PARSER/Allocate]");
    return capacity_ - std::min(offset, capacity_);
  }
  void PushText(int32_t type, const char* text, size_t length) {
    ExprValue& v = Push(type);
    v.offset = fill_;
    v.length = Room(fill_, static_cast<uint32_t>(std::min<size_t>(length, kMaxText)));
    std::memmove(pool_ + fill_, text, v.length);
    fill_ += v.length;
  }
  void PushText(std::string_view text) { PushText(kTypeC, text.data(), text.size()); }
  void PushFilled(char c, int64_t count) {
    ExprValue& v = Push(kTypeC);
    v.offset = fill_;
    v.length = Room(fill_, static_cast<uint32_t>(std::clamp<int64_t>(count, 0, kMaxText)));
    std::memset(pool_ + fill_, c, v.length);
    fill_ += v.length;
  }
  // The top text changed its length in place.
  void SetTopLength(uint32_t length) {
    Top().length = std::min(length, kMaxText);
    fill_ = Top().offset + Top().length;
  }
  void PushNumber(double n) { Push(kTypeN).number = n; }
  void PushDate(double d) { Push(kTypeD).number = d; }
  void PushLogical(bool b) { Push(kTypeL).word = b ? kTrue : 0; }

  void PushField(const ExprInstr& instr);
  void PushMemo(int32_t block, uint8_t area);
  bool Operator(int32_t opcode);
  void Function(int32_t opcode, int32_t argc);
  void CompareTexts(int32_t opcode);
  void Finish();

  CompiledExpr& e_;
  ExprValue* stack_;
  char* pool_;
  uint32_t capacity_;
  size_t sp_ = 0;
  uint32_t fill_ = 0;
};

void Machine::Run() {
  for (const ExprInstr* ip = e_.program.data(); ip->opcode != kOpEnd; ++ip) {
    const ExprInstr& instr = *ip;
    if (instr.opcode == kOpPush) {
      switch (instr.type) {
        case kTypeC: {
          const std::string& literal = e_.literals[instr.literal];
          PushText(kTypeC, literal.data(), literal.size());
          break;
        }
        case kTypeL:
          Push(kTypeL).word = instr.word;
          break;
        default:
          Push(instr.type).number = instr.number;
          break;
      }
    } else if (instr.opcode >= kOpFieldC && instr.opcode < kOpFieldC + 10) {
      PushField(instr);
    } else if (!Operator(instr.opcode)) {
      Function(instr.opcode, instr.argc);
    }
  }
  Finish();
}

void Machine::Finish() {
  const ExprValue& v = stack_[0];
  switch (v.type) {
    case kTypeC:
    case kTypeM:
      if (v.offset != 0) std::memmove(pool_, pool_ + v.offset, v.length);
      pool_[v.length] = '\0';
      e_.result_length = v.length;
      break;
    case kTypeL:
      e_.result_word = v.word;
      break;
    default:
      e_.result_number = v.number;
      break;
  }
}

void Machine::PushField(const ExprInstr& instr) {
  TWorkArea* wa = AreaOf(instr.area);
  const TDbfTable* table = wa ? &wa->Table : nullptr;
  const TFieldEntry* field = nullptr;
  if (table && instr.word >= 1 && static_cast<size_t>(instr.word) <= table->Fields.size())
    field = &table->Fields[static_cast<size_t>(instr.word) - 1];
  if (field && TypeOfField(field->type) != instr.type) field = nullptr;
  // A blank value when the table is empty, or when the work area no longer holds the field the
  // expression was compiled for.
  bool blank = !field || table->RecordCount < 1 ||
               size_t{field->offset} + field->length > table->Record.size();
  std::string_view stored;
  if (!blank) stored = std::string_view(table->Record.data() + field->offset, field->length);
  switch (instr.type) {
    case kTypeC:
      if (blank)
        PushFilled(' ', field ? field->length : 0);
      else
        PushText(kTypeC, stored.data(), stored.size());
      break;
    case kTypeN:
      PushNumber(blank ? 0 : LeadingNumber(stored));
      break;
    case kTypeD:
      PushDate(blank ? BlankDateValue : DtosToJulian(stored));
      break;
    case kTypeL:
      PushLogical(!blank && !stored.empty() &&
                  (stored[0] == 'Y' || stored[0] == 'y' || stored[0] == 'T' || stored[0] == 't'));
      break;
    default: {  // M
      double block = blank ? 0 : LeadingNumber(stored);
      PushMemo(blank ? 0 : static_cast<int32_t>(std::clamp(block, -2147483647.0, 2147483647.0)),
               instr.area);
      break;
    }
  }
}

void Machine::PushMemo(int32_t block, uint8_t area) {
  ExprValue& v = Push(kTypeM);
  v.offset = fill_;
  v.length = 0;
  if (block == 0 || !MemoDriver.AssignMemo) return;
  // The memo text is closed with a zero inside the pool, as a memo result is handed on.
  uint32_t limit = capacity_ > fill_ ? capacity_ - fill_ - 1 : 0;
  ScopedSelection select(area);
  MemoTextFile file;
  int32_t block_variable = block;
  MemoDriver.AssignMemo(file, &block_variable);
  if (file.Reset && file.Reset() && file.ReadLine) {
    std::string line;
    while (v.length < limit && file.ReadLine(line)) {
      uint32_t n =
          std::min<uint32_t>({static_cast<uint32_t>(line.size()), kMaxText, limit - v.length});
      std::memcpy(pool_ + v.offset + v.length, line.data(), n);
      v.length += n;
    }
  }
  if (file.Close) file.Close();
  fill_ = v.offset + v.length;
}

void Machine::CompareTexts(int32_t opcode) {
  ExprValue b = PopText();
  ExprValue a = PopText();
  std::string_view x = View(a), y = View(b);
  bool r;
  switch (opcode) {
    case kOpEqC:
      r = !y.empty() && x.substr(0, y.size()) == y;
      break;
    case kOpExactC:
      r = x == y;
      break;
    case kOpContains:
      r = !x.empty() && y.find(x) != std::string_view::npos;
      break;
    case kOpGtC:
      r = x > y;
      break;
    case kOpLtC:
      r = x < y;
      break;
    case kOpNeC:
      r = x != y;
      break;
    case kOpLeC:
      r = !(x > y);
      break;
    default:  // kOpGeC
      r = !(x < y);
      break;
  }
  PushLogical(r);
}

// The operators; false for an opcode that is a function.
bool Machine::Operator(int32_t opcode) {
  if (opcode < kOpAddNN || opcode > kOpNegate) return false;
  switch (opcode) {
    case kOpEqC:
    case kOpExactC:
    case kOpContains:
    case kOpGtC:
    case kOpLtC:
    case kOpNeC:
    case kOpLeC:
    case kOpGeC:
      CompareTexts(opcode);
      return true;
    case kOpAddCC: {
      ExprValue b = PopText();
      // b lies right behind a: the sum is already in place.
      SetTopLength(Top().length + b.length);
      return true;
    }
    case kOpSubCC: {
      ExprValue b = PopText();
      ExprValue& a = Top();
      char* begin = TextOf(a);
      uint32_t kept = a.length;
      while (kept > 0 && begin[kept - 1] == ' ') --kept;
      std::rotate(begin + kept, begin + a.length, begin + a.length + b.length);
      SetTopLength(a.length + b.length);
      return true;
    }
    case kOpNot:
      Top().word = Top().word ? 0 : kTrue;
      return true;
    case kOpNegate:
      Top().number = -Top().number;
      return true;
    case kOpOr:
    case kOpAnd:
    case kOpEqL:
    case kOpNeL: {
      int32_t b = PopWord();
      int32_t a = PopWord();
      bool r = opcode == kOpOr    ? (a || b)
               : opcode == kOpAnd ? (a && b)
               : opcode == kOpEqL ? a == b
                                  : a != b;
      PushLogical(r);
      return true;
    }
    default:
      break;
  }
  // Numbers and dates.
  double b = PopNumber();
  double a = PopNumber();
  switch (opcode) {
    case kOpAddNN:
      PushNumber(a + b);
      break;
    case kOpAddND:
    case kOpAddDN:
      PushDate(a + b);
      break;
    case kOpSubNN:
    case kOpSubDD:
      PushNumber(a - b);
      break;
    case kOpSubDN:
      PushDate(a - b);
      break;
    case kOpMul:
      PushNumber(a * b);
      break;
    case kOpDiv:
      if (b == 0) {
        EvaluationError("Divide by 0");
        PushNumber(kDivideByZeroResult);
      } else {
        PushNumber(a / b);
      }
      break;
    case kOpPow: {
      double r = std::pow(a, b);
      if (a <= 0 && !std::isfinite(r)) {
        EvaluationError("Undefined power");
        r = 0;
      }
      PushNumber(r);
      break;
    }
    case kOpEqN:
    case kOpEqD:
      PushLogical(a == b);
      break;
    case kOpGtN:
    case kOpGtD:
      PushLogical(a > b);
      break;
    case kOpLtN:
    case kOpLtD:
      PushLogical(a < b);
      break;
    case kOpNeN:
    case kOpNeD:
      PushLogical(a != b);
      break;
    case kOpLeN:
    case kOpLeD:
      PushLogical(!(a > b));
      break;
    default:  // kOpGeN, kOpGeD
      PushLogical(!(a < b));
      break;
  }
  return true;
}

void Machine::Function(int32_t opcode, int32_t argc) {
  switch (opcode) {
    case kFnAbs:
      Top().number = std::fabs(Top().number);
      break;
    case kFnInt:
      Top().number = std::trunc(Top().number);
      break;
    case kFnAsc: {
      ExprValue t = PopText();
      PushNumber(t.length ? static_cast<unsigned char>(TextOf(t)[0]) : 0);
      break;
    }
    case kFnLen: {
      ExprValue t = PopText();
      PushNumber(t.length);
      break;
    }
    case kFnVal: {
      ExprValue t = PopText();
      PushNumber(LeadingNumber(View(t)));
      break;
    }
    case kFnAt: {
      ExprValue t = PopText();
      ExprValue s = PopText();
      size_t pos = s.length ? View(t).find(View(s)) : std::string_view::npos;
      PushNumber(pos == std::string_view::npos ? 0 : static_cast<double>(pos + 1));
      break;
    }
    case kFnChr: {
      char c = static_cast<char>(Count(PopNumber()) & 0xFF);
      PushText(kTypeC, &c, c != '\0' ? 1 : 0);
      break;
    }
    case kFnSpace:
      PushFilled(' ', Count(PopNumber()));
      break;
    case kFnDate: {
      uint16_t year, month, day, dow;
      DayOfWeekOf(year, month, day, dow);
      PushDate(DateToJulian(year, month, day));
      break;
    }
    case kFnDeleted: {
      TWorkArea* wa = AreaOf(0);
      PushLogical(wa && wa->Table.RecordCount > 0 && !wa->Table.Record.empty() &&
                  wa->Table.Record[0] == '*');
      break;
    }
    case kFnRecno: {
      TWorkArea* wa = AreaOf(0);
      PushNumber(wa ? wa->Table.CurrentRecord : 0);
      break;
    }
    case kFnDay:
    case kFnMonth:
    case kFnYear:
    case kFnDow: {
      double julian = PopNumber();
      int year = 0, month = 0, day = 0;
      bool valid = JulianToDate(julian, year, month, day);
      double r = !valid               ? 0
                 : opcode == kFnDay   ? day
                 : opcode == kFnMonth ? month
                 : opcode == kFnYear  ? year
                                      : (static_cast<int64_t>(julian) + 1) % 7 + 1;
      PushNumber(r);
      break;
    }
    case kFnCdow:
      PushText(DateCDow(FullYearDateStr(PopNumber())));
      break;
    case kFnCmonth:
      PushText(DateCMonth(JulianToDateStr(PopNumber())));
      break;
    case kFnDtoc:
      PushText(JulianToDateStr(PopNumber()));
      break;
    case kFnDtos:
      PushText(JulianToDtos(PopNumber()));
      break;
    case kFnCtod: {
      ExprValue t = PopText();
      PushDate(DateStrToJulian(View(t).substr(0, 10)));
      break;
    }
    case kFnSoundex: {
      ExprValue t = PopText();
      PushText(SoundexCode(View(t)));
      break;
    }
    case kFnIif: {
      ExprValue b = PopText();
      ExprValue a = PopText();
      bool condition = PopWord() != 0;
      const ExprValue& chosen = condition ? a : b;
      PushText(kTypeC, TextOf(chosen), chosen.length);
      break;
    }
    case kFnLower:
    case kFnUpper: {
      char* p = TextOf(Top());
      for (uint32_t i = 0; i < Top().length; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        p[i] = static_cast<char>(opcode == kFnUpper ? platform::AnsiUpperChar(c)
                                                    : platform::AnsiLowerChar(c));
      }
      break;
    }
    case kFnLtrim: {
      char* p = TextOf(Top());
      uint32_t lead = 0;
      while (lead < Top().length && p[lead] == ' ') ++lead;
      std::memmove(p, p + lead, Top().length - lead);
      SetTopLength(Top().length - lead);
      break;
    }
    case kFnRtrim:
    case kFnTrim: {
      uint32_t n = Top().length;
      while (n > 0 && TextOf(Top())[n - 1] == ' ') --n;
      SetTopLength(n);
      break;
    }
    case kFnLeft: {
      int64_t n = std::max<int64_t>(Count(PopNumber()), 0);
      if (Top().length > n) SetTopLength(static_cast<uint32_t>(n));
      break;
    }
    case kFnRight: {
      int64_t n = std::max<int64_t>(Count(PopNumber()), 0);
      if (Top().length > n) {
        char* p = TextOf(Top());
        std::memmove(p, p + Top().length - n, static_cast<size_t>(n));
        SetTopLength(static_cast<uint32_t>(n));
      }
      break;
    }
    case kFnSubstr: {
      int64_t count = std::max<int64_t>(Count(PopNumber()), 0);
      int64_t start = std::max<int64_t>(Count(PopNumber()), 1);
      ExprValue& t = Top();
      int64_t available = std::max<int64_t>(static_cast<int64_t>(t.length) - (start - 1), 0);
      count = std::min(count, available);
      if (count > 0) std::memmove(TextOf(t), TextOf(t) + start - 1, static_cast<size_t>(count));
      SetTopLength(static_cast<uint32_t>(count));
      break;
    }
    case kFnStuff: {
      ExprValue r = PopText();
      int64_t count = std::max<int64_t>(Count(PopNumber()), 0);
      int64_t start = Count(PopNumber());
      ExprValue& t = Top();
      int64_t length = t.length;
      start = std::clamp<int64_t>(start, 1, length + 1);
      count = std::min(count, length - (start - 1));
      // t = prefix, deleted part, suffix; r lies right behind it. Bring r in front of the
      // deleted part, then close the gap the deleted part leaves.
      char* p = TextOf(t);
      char* at = p + start - 1;
      std::rotate(at, p + length, p + length + r.length);
      std::memmove(at + r.length, at + r.length + count,
                   static_cast<size_t>(length - (start - 1) - count));
      SetTopLength(static_cast<uint32_t>(length - count + r.length));
      break;
    }
    case kFnReplicate: {
      int64_t times = Count(PopNumber());
      ExprValue& t = Top();
      uint32_t piece = t.length;
      int64_t wanted = times < 1 || piece == 0 ? 0 : std::min<int64_t>(piece * times, kMaxText);
      uint32_t total = Room(t.offset, static_cast<uint32_t>(wanted));
      char* p = TextOf(t);
      for (uint32_t i = piece; i < total; ++i) p[i] = p[i - piece];
      SetTopLength(total);
      break;
    }
    case kFnMax:
    case kFnMin: {
      double b = PopNumber();
      double a = Top().number;
      Top().number = opcode == kFnMax ? (a > b ? a : b) : (a < b ? a : b);
      break;
    }
    case kFnMod: {
      double b = std::trunc(PopNumber());
      double a = std::trunc(PopNumber());
      if (b == 0 || std::isnan(b)) {
        EvaluationError("Divide by 0");
        PushNumber(0);
      } else {
        PushNumber(std::fmod(a, b));
      }
      break;
    }
    case kFnRound: {
      int64_t decimals = Count(PopNumber());
      Top().number = CutDecimals(Top().number, decimals);
      break;
    }
    case kFnStr: {
      int64_t decimals = argc >= 3 ? Count(PopNumber()) : 0;
      int64_t width = argc >= 2 ? Count(PopNumber()) : 10;
      double n = PopNumber();
      width = std::clamp<int64_t>(width, 0, kMaxText);
      std::string s = RoundedDecimal(n, static_cast<int>(std::clamp<int64_t>(decimals, 0, 300)));
      if (s.size() > static_cast<size_t>(width))
        PushFilled('*', width);
      else
        PushText(std::string(static_cast<size_t>(width) - s.size(), ' ') + s);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void SetExprContext(CompiledExpr* expr) {
  g_current = expr;
  if (expr) {
    expr->result_length = 0;
    expr->result_number = 0;
    expr->result_word = 0;
  }
}

void ForgetCurrentExpr(const CompiledExpr* expr) {
  if (g_current == expr) g_current = nullptr;
}

void Evaluate() {
  if (!g_current) return;
  Machine(*g_current).Run();
}

const void* EvaluateExpr(CompiledExpr* expr) {
  if (!expr) return nullptr;
  SetExprContext(expr);
  Evaluate();
  switch (expr->result_type) {
    case 'N':
    case 'D':
      return &expr->result_number;
    case 'L':
      return &expr->result_word;
    default:
      return expr->pool.data();
  }
}

const void* EvaluateExprByRef(CompiledExpr* const& expr) {
  return EvaluateExpr(expr);
}

const void* EvaluateKeyExpr() {
  return EvaluateExpr(CurrentKeyExpr);
}

}  // namespace tz
