// The dBase expression language of the table library: index keys ("upper(hersteller)+
// upper(modell)"), FOR, filter and WHILE conditions. AssignExpr compiles a text against the
// selected work area into a CompiledExpr, a postfix program with its own working pool; the
// evaluator runs it against the current records of the work areas and leaves one typed value.
//
// The language: number literals (12, 3.5, 1E3; a sign is an operator, ".5" is no number),
// string literals in ' or " (no escapes), .T. and .F., field names of the selected work area
// and alias->field of another one, parentheses, the functions of the keyword table (some may
// be abbreviated, SUBS for SUBSTR) and these operators, from binding tightest to loosest, all
// binary ones left-associative: unary + - .NOT.; ^ (also **); * /; + -; < > <= >=; == $;
// = # <>; .AND.; .OR.
// Types: C text (at most 255 characters), N number, D date (its Julian day number), L logical,
// M memo (only as the whole expression). C = C is true when the right text is not empty and the
// left one begins with it; == compares exactly.
//
// Errors go through SetDbError (tzcommon.h): compile errors are 351 with the context "Error in
// expression : " message CR LF "[" window of the text "]" CR LF " [AssignExpr]", evaluation
// errors 358 "Error during evaluation: ... [Evaluate/Engine]" (the value is then 1E250 for a
// division, 0 otherwise) and 354 "Working pool overflow [PARSER/Allocate]". In raise mode they
// throw ETarazedError. Compilation and evaluation run on the one GUI thread and never block or
// pump; one expression is current at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tz {

// Value type codes (also the parser's symbols of a string and a number literal).
enum ExprType : int32_t {
  kTypeC = 331,
  kTypeN = 332,
  kTypeL = 333,
  kTypeD = 334,
  kTypeM = 335,
};

// One instruction of the postfix program: opcode 0 pushes the operand, -1 ends the program,
// a field token (321..330) pushes that field's value, every other opcode is an operation on
// its argument count of values.
struct ExprInstr {
  int32_t opcode = 0;
  int32_t argc = 0;
  int32_t type = 0;      // of the pushed value
  double number = 0;     // N and D operands
  int32_t word = 0;      // L operands; the field number of a field push
  uint8_t area = 0;      // the work area of an aliased field; 0 = the selected one
  uint32_t literal = 0;  // C operands: index into CompiledExpr::literals
};

// A value on the working stack: a number or date, a truth word, or a text in the working pool.
struct ExprValue {
  int32_t type = 0;
  double number = 0;
  int32_t word = 0;
  uint32_t offset = 0;  // C and M: start in the pool
  uint32_t length = 0;
};

struct CompiledExpr {
  std::string text;
  char result_type = 'C';  // "C", "N", "L", "D" or "M"
  uint16_t result_width = 0;
  uint8_t decimals = 0;
  std::vector<std::string> literals;
  std::vector<ExprInstr> program;  // ends with opcode -1
  // The working stack, sized by compilation to the deepest point of the program.
  std::vector<ExprValue> stack;
  // The working pool: pool_size bytes for texts, one more for the result's terminating zero.
  uint16_t pool_size = 0;
  std::vector<char> pool;
  // After an evaluation: the result's length (C and M), its number (N, D) or word (L).
  uint32_t result_length = 0;
  double result_number = 0;
  int32_t result_word = 0;
};

// --- Compiling ------------------------------------------------------------------------------

// Compiles `text` against the selected work area. Returns the expression, owned by the caller
// until FreeExpr, or nullptr when compiling failed (the error is in DbLastError; in raise mode
// ETarazedError has been thrown). A left-over DbLastError of 350..363 is cleared first. A text
// longer than 255 characters is refused with error 351.
// Result: C width the field's length when the expression is that one field (alone or inside
// functions that keep its size), else 0; N decimals those of the field (2 without one or with
// several), width the field's length when it has room for them, else decimals + 11; D 8; L 1;
// M the memo pool size.
CompiledExpr* AssignExpr(const std::string& text);
CompiledExpr* AssignExprByRef(std::string& text);
// Frees the expression and sets the variable to nullptr; nullptr is ignored.
void FreeExpr(CompiledExpr*& expr);

// Checks a key expression (key = true) or a condition. Trailing blanks are trimmed from the
// text (and stored back). Answers 359 for an empty text, 360 for a key longer than 220
// characters, 361 for a key of type M or L, 362 for a condition whose type is not L, the
// compile error's code (DbLastError cleared again) when it does not compile, else 0. Compiles
// with error reporting off and the memo pool size 0, reports nothing and never throws.
uint16_t ValidateExpression(std::string& text, bool key);
uint16_t ValidateCondition(std::string& text);

// The working-pool size of an expression whose result is a memo [256].
void SetMemoPoolSize(uint16_t size);
uint16_t GetMemoPoolSize();

// --- Evaluating -----------------------------------------------------------------------------

// Makes the expression current and rewinds its pool and stack.
void SetExprContext(CompiledExpr* expr);
// Runs the current expression (nothing when none is current).
void Evaluate();
// SetExprContext and Evaluate. The result, valid until the next evaluation of the same
// expression: for C and M the zero-terminated text at the pool's base (its length in
// result_length), for N and D a double, for L a 32-bit word (0 false). nullptr for nullptr.
const void* EvaluateExpr(CompiledExpr* expr);
const void* EvaluateExprByRef(CompiledExpr* const& expr);
// The expression the index engine makes keys with; set before EvaluateKeyExpr.
extern CompiledExpr* CurrentKeyExpr;
// EvaluateExpr(CurrentKeyExpr).
const void* EvaluateKeyExpr();

// --- Unit start -----------------------------------------------------------------------------

// Fills ParserDriver and KeyEvaluator and sets ParserLinked; resets the memo pool size and
// CurrentKeyExpr. Run by StartTarazed after the engine's start.
void StartParser();

}  // namespace tz
