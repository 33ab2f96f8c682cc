// The expression compiler: the type rules the grammar's actions check, the instructions they
// emit, the compile errors, AssignExpr and its relatives, and the parser's unit start.
#include "tables/index/tzparser.h"

#include <algorithm>
#include <memory>

#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdrivers.h"
#include "tables/index/tzexprcode.h"

namespace tz {
namespace {

constexpr size_t kMaxExprText = 255;
constexpr size_t kMaxKeyText = 220;
constexpr uint16_t kDefaultMemoPoolSize = 256;
constexpr uint8_t kDefaultDecimals = 2;
constexpr size_t kWindowLead = 50;
constexpr size_t kWindowLength = 51;

// Parser symbols of the operators that are no single characters.
constexpr int kSymNotEqual = 342;
constexpr int kSymLessEqual = 343;
constexpr int kSymGreaterEqual = 344;
constexpr int kSymExact = 345;
constexpr int kSymContains = 346;
constexpr int kSymNot = 339;
constexpr int kSymOr = 340;
constexpr int kSymAnd = 341;

uint16_t g_memo_pool_size = kDefaultMemoPoolSize;

// One accepted pair of operand types of a binary operator.
struct OperandRule {
  int32_t a, b, opcode, result;
};

struct OperatorRules {
  int symbol;
  const char* name;  // as the type error names it
  OperandRule rules[4];
};

constexpr int32_t C = kTypeC, N = kTypeN, L = kTypeL, D = kTypeD;

// Tried in order; the first matching pair gives the opcode.
constexpr OperatorRules kOperators[] = {
    {'+',
     "+",
     {{N, N, kOpAddNN, N}, {N, D, kOpAddND, D}, {D, N, kOpAddDN, D}, {C, C, kOpAddCC, C}}},
    {'-',
     "-",
     {{N, N, kOpSubNN, N}, {D, N, kOpSubDN, D}, {D, D, kOpSubDD, N}, {C, C, kOpSubCC, C}}},
    {'*', "*", {{N, N, kOpMul, N}}},
    {'/', "/", {{N, N, kOpDiv, N}}},
    {'^', "** or ^", {{N, N, kOpPow, N}}},
    {'=', "=", {{N, N, kOpEqN, L}, {C, C, kOpEqC, L}, {D, D, kOpEqD, L}, {L, L, kOpEqL, L}}},
    {kSymContains, "$", {{C, C, kOpContains, L}}},
    {kSymExact, "==", {{C, C, kOpExactC, L}}},
    {'>', ">", {{N, N, kOpGtN, L}, {C, C, kOpGtC, L}, {D, D, kOpGtD, L}}},
    {'<', "<", {{N, N, kOpLtN, L}, {C, C, kOpLtC, L}, {D, D, kOpLtD, L}}},
    {kSymNotEqual,
     "<>",
     {{N, N, kOpNeN, L}, {C, C, kOpNeC, L}, {D, D, kOpNeD, L}, {L, L, kOpNeL, L}}},
    {kSymLessEqual, "<=", {{N, N, kOpLeN, L}, {C, C, kOpLeC, L}, {D, D, kOpLeD, L}}},
    {kSymGreaterEqual, ">=", {{N, N, kOpGeN, L}, {C, C, kOpGeC, L}, {D, D, kOpGeD, L}}},
    {kSymOr, ".OR.", {{L, L, kOpOr, L}}},
    {kSymAnd, ".AND.", {{L, L, kOpAnd, L}}},
};

// The argument types of a function (the grammar has already checked their number) and its
// result. MAX and MIN take two numbers or two dates and give the same type.
struct FunctionRule {
  int32_t token;
  const char* name;
  int32_t args[4];
  int32_t result;
};

constexpr int32_t kSameNumberOrDate = -1;

constexpr FunctionRule kFunctions[] = {
    {kFnAbs, "ABS", {N}, N},
    {kFnAsc, "ASC", {C}, N},
    {kFnAt, "AT", {C, C}, N},
    {kFnCdow, "CDOW", {D}, C},
    {kFnChr, "CHR", {N}, C},
    {kFnCmonth, "CMONTH", {D}, C},
    {kFnCtod, "CTOD", {C}, D},
    {kFnDate, "DATE", {}, D},
    {kFnDay, "DAY", {D}, N},
    {kFnDeleted, "DELETED", {}, L},
    {kFnDow, "DOW", {D}, N},
    {kFnDtoc, "DTOC", {D}, C},
    {kFnDtos, "DTOS", {D}, C},
    {kFnIif, "IIF", {L, C, C}, C},
    {kFnInt, "INT", {N}, N},
    {kFnLeft, "LEFT", {C, N}, C},
    {kFnLen, "LEN", {C}, N},
    {kFnLower, "LOWER", {C}, C},
    {kFnLtrim, "LTRIM", {C}, C},
    {kFnMax, "MAX", {}, kSameNumberOrDate},
    {kFnMin, "MIN", {}, kSameNumberOrDate},
    {kFnMod, "MOD", {N, N}, N},
    {kFnMonth, "MONTH", {D}, N},
    {kFnRecno, "RECNO", {}, N},
    {kFnReplicate, "REPLICATE", {C, N}, C},
    {kFnRight, "RIGHT", {C, N}, C},
    {kFnRound, "ROUND", {N, N}, N},
    {kFnRtrim, "RTRIM", {C}, C},
    {kFnSoundex, "SOUNDEX", {C}, C},
    {kFnSpace, "SPACE", {N}, C},
    {kFnStr, "STR", {N, N, N}, C},
    {kFnStuff, "STUFF", {C, N, N, C}, C},
    {kFnSubstr, "SUBSTR", {C, N, N}, C},
    {kFnTrim, "TRIM", {C}, C},
    {kFnUpper, "UPPER", {C}, C},
    {kFnVal, "VAL", {C}, N},
    {kFnYear, "YEAR", {D}, N},
};

char TypeLetter(int32_t type) {
  switch (type) {
    case kTypeN:
      return 'N';
    case kTypeL:
      return 'L';
    case kTypeD:
      return 'D';
    case kTypeM:
      return 'M';
    default:
      return 'C';
  }
}

// Puts the memo pool size back when a validation ends, also by an exception.
class ValidationSettings {
 public:
  ValidationSettings() : report_(SetErrorReporting(false)), memo_(GetMemoPoolSize()) {
    SetMemoPoolSize(0);
  }
  ~ValidationSettings() {
    SetMemoPoolSize(memo_);
    SetErrorReporting(report_);
  }
  ValidationSettings(const ValidationSettings&) = delete;
  ValidationSettings& operator=(const ValidationSettings&) = delete;

 private:
  bool report_;
  uint16_t memo_;
};

std::string ShortStrToStr(std::string_view text) {
  return std::string(text);
}

}  // namespace

void ReportExprError(const std::string& message, std::string_view text, size_t position) {
  size_t start = position > kWindowLead ? position - kWindowLead : 0;
  std::string window = start > 0 ? "[..." : "[";
  window += text.substr(std::min(start, text.size()), kWindowLength);
  window += start + kWindowLength < text.size() ? "...]" : "]";
  SetDbError(351, "Error in expression : " + message + "\r\n" + window + "\r\n [AssignExpr]");
}

void ExprCompiler::Emit(const ExprInstr& instr, int pops) {
  out_.program.push_back(instr);
  depth_ = depth_ - static_cast<size_t>(pops) + 1;
  max_depth_ = std::max(max_depth_, depth_);
}

void ExprCompiler::ReportTypeError(const std::string& message) {
  type_error_ = true;
  ReportExprError(message, text_, pos_);
}

void ExprCompiler::PushNumber(const ExprSym& sym, ExprSym& result) {
  ExprInstr instr;
  instr.type = kTypeN;
  instr.number = sym.number;
  Emit(instr, 0);
  result.type = kTypeN;
}

void ExprCompiler::PushString(const ExprSym& sym, ExprSym& result) {
  ExprInstr instr;
  instr.type = kTypeC;
  instr.literal = sym.literal;
  Emit(instr, 0);
  result.type = kTypeC;
}

void ExprCompiler::PushLogical(bool value, ExprSym& result) {
  ExprInstr instr;
  instr.type = kTypeL;
  instr.word = value ? 1 : 0;
  Emit(instr, 0);
  result.type = kTypeL;
}

void ExprCompiler::PushField(const ExprSym& sym, ExprSym& result) {
  ExprInstr instr;
  instr.opcode = sym.token;
  instr.argc = sym.area != 0 ? 2 : 1;
  instr.type = sym.type;
  instr.word = sym.field;
  instr.area = sym.area;
  Emit(instr, 0);
  result.type = sym.type;
}

bool ExprCompiler::Binary(int op, const ExprSym& a, const ExprSym& b, ExprSym& result) {
  for (const OperatorRules& rules : kOperators) {
    if (rules.symbol != op) continue;
    for (const OperandRule& rule : rules.rules) {
      if (rule.opcode == 0 || rule.a != a.type || rule.b != b.type) continue;
      ExprInstr instr;
      instr.opcode = rule.opcode;
      instr.argc = 2;
      Emit(instr, 2);
      result.type = rule.result;
      return true;
    }
    ReportTypeError(std::string("PARSER:Type mismatch in expression \"") + rules.name + "\"");
    return false;
  }
  return false;
}

bool ExprCompiler::Unary(int op, const ExprSym& a, ExprSym& result) {
  const char* name = op == '+' ? "Unary +" : op == '-' ? "Unary -" : ".NOT.";
  int32_t wanted = op == kSymNot ? kTypeL : kTypeN;
  if (a.type != wanted) {
    ReportTypeError(std::string("PARSER:Type mismatch in expression \"") + name + "\"");
    return false;
  }
  if (op != '+') {
    ExprInstr instr;
    instr.opcode = op == '-' ? kOpNegate : kOpNot;
    instr.argc = 1;
    Emit(instr, 1);
  }
  result.type = a.type;
  return true;
}

bool ExprCompiler::Call(const ExprSym& function, int argc, const int32_t* types, ExprSym& result) {
  const FunctionRule* rule = nullptr;
  for (const FunctionRule& f : kFunctions)
    if (f.token == function.token) rule = &f;
  if (!rule) return false;
  bool match = true;
  int32_t type = rule->result;
  if (type == kSameNumberOrDate) {
    type = types[0];
    match = (type == kTypeN || type == kTypeD) && types[1] == type;
  } else {
    for (int i = 0; i < argc; ++i) match = match && types[i] == rule->args[i];
  }
  if (!match) {
    ReportTypeError(std::string("PARSER:Type mismatch in function \"") + rule->name + "\"");
    return false;
  }
  ExprInstr instr;
  instr.opcode = function.token;
  instr.argc = argc;
  Emit(instr, argc);
  result.type = type;
  return true;
}

void ExprCompiler::Finish(const ExprSym& expr) {
  ExprInstr end;
  end.opcode = kOpEnd;
  out_.program.push_back(end);
  out_.result_type = TypeLetter(expr.type);
}

void ExprCompiler::NoteParseError(const char* message) {
  if (!parse_error_) parse_error_ = message;
}

CompiledExpr* AssignExpr(const std::string& text) {
  if (DbLastError >= 350 && DbLastError <= 363) DbLastError = 0;
  if (text.size() > kMaxExprText) {
    ReportExprError("Expression longer than 255 characters", text, kMaxExprText);
    return nullptr;
  }
  auto expr = std::make_unique<CompiledExpr>();
  ExprCompiler compiler(text, *expr);
  int result = RunExprParser(compiler);
  if (result != 0) {
    if (!compiler.type_error_reported())
      ReportExprError(result == 2 ? "Parser_stack_overflow" : "Syntax error", text,
                      compiler.position());
    return nullptr;
  }
  expr->text = text;
  uint16_t pool_size = expr->result_type == 'M'
                           ? GetMemoPoolSize()
                           : static_cast<uint16_t>(std::min(compiler.pool_counter(), 0xFFFF));
  expr->pool_size = pool_size;
  expr->pool.assign(size_t{pool_size} + 1, '\0');
  expr->stack.resize(std::max<size_t>(compiler.max_depth(), 1));

  uint8_t width = compiler.field_width();
  switch (expr->result_type) {
    case 'C':
      expr->result_width = pool_size == width + 1 ? width : 0;
      break;
    case 'N': {
      uint8_t decimals = compiler.field_decimals();
      if (decimals == ExprCompiler::kDecimalsUnset) decimals = kDefaultDecimals;
      expr->decimals = decimals;
      expr->result_width = width >= decimals + 2 ? width : decimals + 11;
      break;
    }
    case 'D':
      expr->result_width = 8;
      break;
    case 'L':
      expr->result_width = 1;
      break;
    default:  // M
      expr->result_width = pool_size;
      break;
  }
  return expr.release();
}

CompiledExpr* AssignExprByRef(std::string& text) {
  return AssignExpr(text);
}

void FreeExpr(CompiledExpr*& expr) {
  if (!expr) return;
  if (CurrentKeyExpr == expr) CurrentKeyExpr = nullptr;
  ForgetCurrentExpr(expr);
  delete expr;
  expr = nullptr;
}

uint16_t ValidateExpression(std::string& text, bool key) {
  text.erase(text.find_last_not_of(' ') + 1);
  if (text.empty()) return 359;
  if (key && text.size() > kMaxKeyText) return 360;
  CompiledExpr* expr;
  {
    ValidationSettings settings;
    expr = AssignExpr(text);
  }
  if (!expr) {
    uint16_t code = DbLastError;
    DbLastError = 0;
    return code;
  }
  char type = expr->result_type;
  FreeExpr(expr);
  if (key && (type == 'M' || type == 'L')) return 361;
  if (!key && type != 'L') return 362;
  return 0;
}

uint16_t ValidateCondition(std::string& text) {
  return ValidateExpression(text, false);
}

void SetMemoPoolSize(uint16_t size) {
  g_memo_pool_size = size;
}

uint16_t GetMemoPoolSize() {
  return g_memo_pool_size;
}

void StartParser() {
  g_memo_pool_size = kDefaultMemoPoolSize;
  CurrentKeyExpr = nullptr;
  SetExprContext(nullptr);
  ParserDriver.AssignExprByRef = AssignExprByRef;
  ParserDriver.FreeExpr = FreeExpr;
  ParserDriver.EvaluateExprByRef = EvaluateExprByRef;
  ParserDriver.ShortStrToStr = ShortStrToStr;
  KeyEvaluator = EvaluateKeyExpr;
  ParserLinked = true;
}

}  // namespace tz
