// Seeded random expression texts through the compiler and the evaluator: whatever the text,
// compiling either succeeds or stores error 351, and evaluating stores no error but the
// evaluation errors (358 divide, 354 pool). Run under the sanitizer build, this also shows
// that nothing reads or writes out of bounds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "expr_test_support.h"

namespace tz {
namespace {

using ExprFuzz = ExprTest;

const char* const kPieces[] = {
    "hersteller", "modell",
    "preis",      "datum",
    "aktiv",      "notiz",
    "anz",        "telstamm->anz",
    "telstamm->", "->",
    "x->y",       "'abc'",
    "\"a'b\"",    "''",
    "'",          "\"",
    "0",          "1",
    "2.5",        "1E3",
    "1E",         "999999999999",
    ".5",         "1.2.3",
    "-",          "+",
    "*",          "/",
    "^",          "**",
    "=",          "==",
    "#",          "<>",
    "<",          ">",
    "<=",         ">=",
    "$",          "(",
    ")",          ",",
    ",",          ".T.",
    ".F.",        ".NOT.",
    ".AND.",      ".OR.",
    " ",          " ",
    "  ",         "ABS(",
    "ASC(",       "AT(",
    "CDOW(",      "CHR(",
    "CMON(",      "CTOD(",
    "DATE()",     "DAY(",
    "DELETED()",  "DOW(",
    "DTOC(",      "DTOS(",
    "IIF(",       "INT(",
    "LEFT(",      "LEN(",
    "LOWER(",     "LTRIM(",
    "MAX(",       "MIN(",
    "MOD(",       "MONTH(",
    "RECNO()",    "REPLICATE(",
    "RIGHT(",     "ROUND(",
    "RTRIM(",     "SOUNDEX(",
    "SPACE(",     "STR(",
    "STUFF(",     "SUBSTR(",
    "SUBS(",      "TRIM(",
    "UPPER(",     "VAL(",
    "YEAR(",      "@",
    "\t",         "_",
    "a.b",        "-1",
    "300",        "-300",
    "1E300",      "0.001",
};

std::string RandomText(std::mt19937& rng) {
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> count(1, 14);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text;
  int n = count(rng);
  for (int i = 0; i < n; ++i) {
    if (rng() % 17 == 0)
      text += static_cast<char>(byte(rng));
    else
      text += kPieces[piece(rng)];
  }
  if (rng() % 50 == 0) text += std::string(rng() % 300, '(');
  return text;
}

// Well-formed calls of every function with random arguments, so that evaluation is reached
// often with odd values.
std::string RandomCall(std::mt19937& rng) {
  const char* numbers[] = {"0", "1", "-1", "2.5", "-7", "300", "1E300", "-1E300", "anz", "preis"};
  const char* texts[] = {"''", "'abc'", "hersteller", "modell", "SPACE(255)", "'   '"};
  const char* dates[] = {"datum", "DATE()", "CTOD('')", "datum+1E9", "datum-1E9"};
  auto pick = [&](auto& list) { return std::string(list[rng() % std::size(list)]); };
  std::string n1 = pick(numbers), n2 = pick(numbers), n3 = pick(numbers);
  std::string t1 = pick(texts), t2 = pick(texts), d = pick(dates);
  const std::string calls[] = {
      "SUBSTR(" + t1 + "," + n1 + "," + n2 + ")",
      "STUFF(" + t1 + "," + n1 + "," + n2 + "," + t2 + ")",
      "LEFT(" + t1 + "," + n1 + ")+RIGHT(" + t2 + "," + n2 + ")",
      "REPLICATE(" + t1 + "," + n1 + ")-" + t2,
      "STR(" + n1 + "," + n2 + "," + n3 + ")",
      "ROUND(" + n1 + "," + n2 + ")+MOD(" + n2 + "," + n3 + ")",
      n1 + "^" + n2 + "/" + n3,
      "CHR(" + n1 + ")+SPACE(" + n2 + ")",
      "DTOC(" + d + ")+CDOW(" + d + ")+CMONTH(" + d + ")+DTOS(" + d + ")",
      "YEAR(" + d + ")+DOW(" + d + ")+DAY(" + d + ")",
      "IIF(" + t1 + "$" + t2 + "," + t1 + "+" + t2 + "," + t2 + ")",
      "VAL(" + t1 + ")+ASC(" + t2 + ")+AT(" + t1 + "," + t2 + ")",
  };
  return calls[rng() % std::size(calls)];
}

TEST_F(ExprFuzz, RandomTextsGiveErrorsOnly) {
  std::mt19937 rng(20261210);
  int compiled = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string text = i % 3 == 0 ? RandomCall(rng) : RandomText(rng);
    SCOPED_TRACE(text);
    if (i % 97 == 0) GO(1 + i % 3);
    DbLastError = 0;
    CompiledExpr* e = AssignExpr(text);
    if (!e) {
      ASSERT_EQ(DbLastError, 351);
      TakeErrorContext();
      continue;
    }
    ASSERT_EQ(DbLastError, 0);
    ++compiled;
    const void* result = EvaluateExpr(e);
    ASSERT_NE(result, nullptr);
    ASSERT_TRUE(DbLastError == 0 || DbLastError == 358 || DbLastError == 354) << DbLastError;
    if (e->result_type == 'C' || e->result_type == 'M') {
      ASSERT_LE(e->result_length, e->pool_size);
      ASSERT_EQ(static_cast<const char*>(result)[e->result_length], '\0');
    }
    FreeExpr(e);
  }
  // The texts reach the evaluator, not only the compiler's errors.
  EXPECT_GT(compiled, 1000);
}

}  // namespace
}  // namespace tz
