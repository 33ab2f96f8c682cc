// Inside the expression compiler: the symbols the lexer hands to the generated parser, the
// opcodes the parser emits, and the compilation state that the lexer, the grammar's actions
// and AssignExpr share. Only tzparser's own files include this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tables/index/tzparser.h"

namespace tz {

// Token numbers double as opcodes: 257..320 the functions, 321..325 a field of type C, N (or
// F), L, D, M in the selected work area, 326..330 the same with an alias.
inline constexpr int32_t kOpFieldC = 321;
inline constexpr int32_t kOpAliasFieldC = 326;
inline constexpr int32_t kTokenUnknownName = 336;
inline constexpr int32_t kOpEnd = -1;
inline constexpr int32_t kOpPush = 0;

// Opcodes of the operators.
enum ExprOpcode : int32_t {
  kOpAddNN = 347,
  kOpAddND,
  kOpAddDN,
  kOpAddCC,
  kOpSubNN,
  kOpSubDN,
  kOpSubDD,
  kOpSubCC,
  kOpMul,
  kOpDiv,
  kOpPow,
  kOpEqN,
  kOpEqD,
  kOpEqC,
  kOpEqL,
  kOpExactC,
  kOpContains,
  kOpGtN,
  kOpGtD,
  kOpGtC,
  kOpLtN,
  kOpLtD,
  kOpLtC,
  kOpNeN,
  kOpNeD,
  kOpNeC,
  kOpNeL,
  kOpLeN,
  kOpLeD,
  kOpLeC,
  kOpGeN,
  kOpGeD,
  kOpGeC,
  kOpOr,
  kOpAnd,
  kOpNot,
  kOpNegate,  // 383
};

// Function tokens (their opcodes).
enum ExprFunction : int32_t {
  kFnAbs = 257,
  kFnAsc = 259,
  kFnAt = 261,
  kFnCdow = 264,
  kFnChr = 266,
  kFnCmonth = 267,
  kFnCtod = 269,
  kFnDate = 270,
  kFnDay = 271,
  kFnDeleted = 272,
  kFnDow = 274,
  kFnDtoc = 275,
  kFnDtos = 277,
  kFnIif = 283,
  kFnInt = 284,
  kFnLeft = 288,
  kFnLen = 289,
  kFnLower = 292,
  kFnLtrim = 293,
  kFnMax = 294,
  kFnMin = 295,
  kFnMod = 296,
  kFnMonth = 297,
  kFnRecno = 300,
  kFnReplicate = 301,
  kFnRight = 302,
  kFnRound = 303,
  kFnRtrim = 305,
  kFnSoundex = 308,
  kFnSpace = 310,
  kFnStr = 311,
  kFnStuff = 312,
  kFnSubstr = 313,
  kFnTrim = 316,
  kFnUpper = 318,
  kFnVal = 319,
  kFnYear = 320,
};

// The semantic value of a symbol: what the lexer found, and for an expression its type.
struct ExprSym {
  int32_t type = 0;  // type code of an expression or operand
  int32_t token = 0;
  int32_t field = 0;  // field number of a field token
  uint8_t area = 0;   // work area of an aliased field token
  double number = 0;
  uint32_t literal = 0;  // index of a string literal
};

// One compilation.
class ExprCompiler {
 public:
  ExprCompiler(std::string_view text, CompiledExpr& out) : text_(text), out_(out) {}
  ExprCompiler(const ExprCompiler&) = delete;
  ExprCompiler& operator=(const ExprCompiler&) = delete;

  // The lexer (tzlexer.cpp): the next token and its value; 0 at the end of the text.
  int NextToken(ExprSym& sym);

  // The grammar's actions (tzparser.cpp). Each appends its instruction and gives the result
  // type in `result`; false after reporting a type error, which ends the parse.
  void PushNumber(const ExprSym& sym, ExprSym& result);
  void PushString(const ExprSym& sym, ExprSym& result);
  void PushLogical(bool value, ExprSym& result);
  void PushField(const ExprSym& sym, ExprSym& result);
  bool Binary(int op, const ExprSym& a, const ExprSym& b, ExprSym& result);
  bool Unary(int op, const ExprSym& a, ExprSym& result);
  // A function call with `argc` arguments whose types are `types`.
  bool Call(const ExprSym& function, int argc, const int32_t* types, ExprSym& result);
  void Finish(const ExprSym& expr);
  // The parser's error report: notes the message for AssignExpr.
  void NoteParseError(const char* message);

  // After the parse.
  bool type_error_reported() const { return type_error_; }
  const char* parse_error() const { return parse_error_; }
  size_t position() const { return pos_; }
  int pool_counter() const { return pool_counter_; }
  uint8_t field_width() const { return field_width_; }
  uint8_t field_decimals() const { return field_decimals_; }
  size_t max_depth() const { return max_depth_; }

  static constexpr uint8_t kDecimalsUnset = 19;

 private:
  int LexNumber(ExprSym& sym);
  int LexString(char quote, ExprSym& sym);
  int LexName(ExprSym& sym);
  // The field named `name` (alias part before `arrow`, npos when none); 0 when none.
  int LookupField(const std::string& name, size_t arrow, ExprSym& sym);
  int LookupKeyword(const std::string& name);
  char Peek(size_t at) const { return at < text_.size() ? text_[at] : '\0'; }
  void Emit(const ExprInstr& instr, int pops);
  void ReportTypeError(const std::string& message);

  std::string_view text_;
  CompiledExpr& out_;
  size_t pos_ = 0;
  int pool_counter_ = 0;
  uint8_t field_width_ = 0;
  uint8_t field_decimals_ = kDecimalsUnset;
  size_t depth_ = 0;
  size_t max_depth_ = 0;
  bool type_error_ = false;
  const char* parse_error_ = nullptr;
};

// Reports a compile error: 351 with "Error in expression : " + message + CR LF + the window
// of `text` around `position` + CR LF + " [AssignExpr]".
void ReportExprError(const std::string& message, std::string_view text, size_t position);

// The evaluator lets go of `expr` when it is the current expression (before it is freed).
void ForgetCurrentExpr(const CompiledExpr* expr);

// The generated parser (uyactabl.y): 0 on success, 1 after a syntax or type error, 2 when
// its stack of 150 entries overflowed.
int RunExprParser(ExprCompiler& compiler);

}  // namespace tz
