// Expressions over the fixture table's first record: what each text compiles to (type, width,
// decimals), what it evaluates to, and the exact error of those that fail.
#include <gtest/gtest.h>

#include <string>

#include "expr_test_support.h"
#include "tables/engine/timedate.h"

namespace tz {
namespace {

using Expressions = ExprTest;

std::string TodayPlus(int days) {
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  return JulianToDtos(DateToJulian(year, month, day) + days);
}

struct Case {
  const char* text;
  char type;  // '!' for a compile error: then `value` is its message, `window` its window
  int width;
  int decimals;
  const char* value;
  const char* error = nullptr;  // the context of an evaluation error, or the compile window
};

// Record 1: HERSTELLER "Nokia", MODELL "6310i", PREIS 123.45, DATUM 2024-02-29, AKTIV .T.,
// NOTIZ block 1, ANZ 7. Date format 0 (MM/dd/yy), two-digit years.
const Case kCases[] = {
    // Fields, and the width rule of C results.
    {"hersteller", 'C', 15, 0, "Nokia          "},
    {"upper(hersteller)+upper(modell)", 'C', 0, 0, "NOKIA          6310I               "},
    {"hersteller-modell", 'C', 0, 0, "Nokia6310i                         "},
    {"upper(hersteller)", 'C', 15, 0, "NOKIA          "},
    {"trim(hersteller)", 'C', 15, 0, "Nokia"},
    {"LOWER(MODELL)", 'C', 20, 0, "6310i               "},
    {"DTOS(datum)", 'C', 8, 0, "20240229"},
    {"DTOS(datum)+hersteller", 'C', 0, 0, "20240229Nokia          "},
    {"notiz", 'M', 256, 0, "Erste Zeile zweite"},
    // Numbers: decimals and width from the fields.
    {"preis", 'N', 8, 2, "123.45"},
    {"anz", 'N', 5, 0, "7"},
    {"preis*2", 'N', 8, 2, "246.9"},
    {"preis+anz", 'N', 5, 2, "130.45"},
    {"anz+preis", 'N', 8, 2, "130.45"},
    {"-preis", 'N', 8, 2, "-123.45"},
    {"+anz", 'N', 5, 0, "7"},
    {"1+2", 'N', 13, 2, "3"},
    {"LEN(hersteller)", 'N', 15, 2, "15"},
    {"LEN(TRIM(hersteller))", 'N', 15, 2, "5"},
    // Dates.
    {"datum", 'D', 8, 0, "20240229"},
    {"datum+1", 'D', 8, 0, "20240301"},
    {"1+datum", 'D', 8, 0, "20240301"},
    {"datum-1", 'D', 8, 0, "20240228"},
    {"datum-datum", 'N', 8, 2, "0"},
    {"date()-date()", 'N', 13, 2, "0"},
    {"date()+1", 'D', 8, 0, "{today+1}"},
    {"1+date()", 'D', 8, 0, "{today+1}"},
    {"MAX(datum,datum+1)", 'D', 8, 0, "20240301"},
    {"CTOD('02/29/24')", 'D', 8, 0, "20240229"},
    {"CTOD('13/01/24')", 'D', 8, 0, "        "},
    {"YEAR(datum)", 'N', 8, 2, "2024"},
    {"MONTH(datum)", 'N', 8, 2, "2"},
    {"DAY(datum)", 'N', 8, 2, "29"},
    {"DOW(datum)", 'N', 8, 2, "5"},
    {"CDOW(datum)", 'C', 0, 0, "Thursday "},
    {"CMONTH(datum)", 'C', 0, 0, "February "},
    {"DTOC(datum)", 'C', 0, 0, "02/29/24"},
    {"datum > CTOD('01/01/24')", 'L', 1, 0, ".T."},
    // Operators and their precedence.
    {"2^3^2", 'N', 13, 2, "64"},
    {"2**3", 'N', 13, 2, "8"},
    {"-2^2", 'N', 13, 2, "4"},
    {"(-2)^2", 'N', 13, 2, "4"},
    {"2+3*4", 'N', 13, 2, "14"},
    {"(2+3)*4", 'N', 13, 2, "20"},
    {"7/2", 'N', 13, 2, "3.5"},
    {"10-4-3", 'N', 13, 2, "3"},
    {"10/0", 'N', 13, 2, "1e+250", "Error during evaluation: Divide by 0 [Evaluate/Engine]"},
    {"(-8)^0.5", 'N', 13, 2, "0", "Error during evaluation: Undefined power [Evaluate/Engine]"},
    {"aktiv", 'L', 1, 0, ".T."},
    {".NOT. aktiv", 'L', 1, 0, ".F."},
    {".NOT. aktiv = aktiv", 'L', 1, 0, ".F."},
    {"3 > 2 .AND. 2 > 1", 'L', 1, 0, ".T."},
    {".F. .OR. 1 = 1 .AND. .F.", 'L', 1, 0, ".F."},
    {"aktiv .OR. .F.", 'L', 1, 0, ".T."},
    {"preis > 100 .AND. anz < 10", 'L', 1, 0, ".T."},
    {"preis >= 123.45 .AND. preis <= 123.45 .AND. preis # 1", 'L', 1, 0, ".T."},
    {"anz <> 7", 'L', 1, 0, ".F."},
    // Text comparisons.
    {"'abc'='ab'", 'L', 1, 0, ".T."},
    {"'ab'='abc'", 'L', 1, 0, ".F."},
    {"'ab'=''", 'L', 1, 0, ".F."},
    {"'abc'=='ab'", 'L', 1, 0, ".F."},
    {"'abc'#'ab'", 'L', 1, 0, ".T."},
    {"'abc'<>'abc'", 'L', 1, 0, ".F."},
    {"''$'x'", 'L', 1, 0, ".F."},
    {"'b'$'abc'", 'L', 1, 0, ".T."},
    {"'Nokia' $ hersteller", 'L', 1, 0, ".T."},
    {"hersteller = 'Nok'", 'L', 1, 0, ".T."},
    {"hersteller == 'Nokia'", 'L', 1, 0, ".F."},
    {"TRIM(hersteller) == \"Nokia\"", 'L', 1, 0, ".T."},
    {"'ab'<'abc' .AND. 'b'>'abc' .AND. 'a'>='a'", 'L', 1, 0, ".T."},
    {"'a'<='A'", 'L', 1, 0, ".F."},
    // Functions.
    {"SUBSTR('abcdef',3,2)", 'C', 0, 0, "cd"},
    {"SUBS(hersteller,1,3)", 'C', 15, 0, "Nok"},
    {"subst(hersteller,1,3)", 'C', 15, 0, "Nok"},
    {"SUBSTR(HERSTELLER,1,3)", 'C', 15, 0, "Nok"},
    {"SUBSTR('abc',0,2)", 'C', 0, 0, "ab"},
    {"SUBSTR('abc',5,2)", 'C', 0, 0, ""},
    {"SUBSTR('abc',2,-1)", 'C', 0, 0, ""},
    {"LEFT('abc',5)+RIGHT('abc',5)", 'C', 0, 0, "abcabc"},
    {"LEFT('abc',0)+LEFT('abc',-2)", 'C', 0, 0, ""},
    {"RIGHT('abcdef',2)", 'C', 0, 0, "ef"},
    {"STR(3.14159,6,2)", 'C', 0, 0, "  3.14"},
    {"STR(123456,3)", 'C', 0, 0, "***"},
    {"STR(anz)", 'C', 0, 0, "         7"},
    {"STR(2.5)+STR(-2.5)", 'C', 0, 0, "         3        -3"},
    {"STR(1.15,4,1)", 'C', 0, 0, " 1.2"},
    {"STR(preis,8,1)", 'C', 0, 0, "   123.5"},
    {"ROUND(2.999,0)", 'N', 13, 2, "2"},
    {"ROUND(2.567,2)", 'N', 13, 2, "2.56"},
    {"ROUND(-2.567,2)", 'N', 13, 2, "-2.56"},
    {"ROUND(1.15,2)", 'N', 13, 2, "1.15"},
    {"MOD(7,3)", 'N', 13, 2, "1"},
    {"MOD(-7,3)", 'N', 13, 2, "-1"},
    {"MOD(7,0.5)", 'N', 13, 2, "0", "Error during evaluation: Divide by 0 [Evaluate/Engine]"},
    {"UPPER('\xE4"
     "bc')+LOWER('\xC9')",
     'C', 0, 0,
     "\xC4"
     "BC\xE9"},
    {"LTRIM('  ab ')+RTRIM('  ab ')+TRIM('   ')", 'C', 0, 0, "ab   ab"},
    {"AT('ki',hersteller)", 'N', 15, 2, "3"},
    {"AT('x','abc')", 'N', 13, 2, "0"},
    {"ASC('A')+ASC('')", 'N', 13, 2, "65"},
    {"CHR(65)", 'C', 0, 0, "A"},
    {"SPACE(3)+SPACE(-1)", 'C', 0, 0, "   "},
    {"REPLICATE('ab',3)+REPL('x',0)", 'C', 0, 0, "ababab"},
    {"REPLICATE('abc',100)", 'C', 0, 0, "{abc x 85}"},
    {"STUFF('abcdef',2,3,'XY')", 'C', 0, 0, "aXYef"},
    {"STUFF('abc',0,1,'X')", 'C', 0, 0, "Xbc"},
    {"STUFF('abc',9,1,'X')", 'C', 0, 0, "abcX"},
    {"STUFF('abc',2,-5,'X')", 'C', 0, 0, "aXbc"},
    {"IIF(aktiv,'ja','nein')", 'C', 0, 0, "ja"},
    {"IIF(.F.,'ja','nein')", 'C', 0, 0, "nein"},
    {"VAL('12abc')+VAL('  3.5  ')+VAL('abc')", 'N', 13, 2, "15.5"},
    {"VAL('-1.5e2x')", 'N', 13, 2, "-150"},
    {"INT(-3.7)+ABS(-3)", 'N', 13, 2, "0"},
    {"MAX(3,5)*10+MIN(3,5)", 'N', 13, 2, "53"},
    {"SOUNDEX('Robert')", 'C', 0, 0, "R163"},
    {"RECNO()", 'N', 13, 2, "1"},
    {"DELETED()", 'L', 1, 0, ".F."},
    {"DELE()", 'L', 1, 0, ".F."},
    // Compile errors.
    {"1-date()", '!', 0, 0, "PARSER:Type mismatch in expression \"-\"", "[1-date()]"},
    {"1 + 'a'", '!', 0, 0, "PARSER:Type mismatch in expression \"+\"", "[1 + 'a']"},
    {"'a' * 2", '!', 0, 0, "PARSER:Type mismatch in expression \"*\"", "['a' * 2]"},
    {"2 ^ 'a'", '!', 0, 0, "PARSER:Type mismatch in expression \"** or ^\"", "[2 ^ 'a']"},
    {"anz = anz = anz", '!', 0, 0, "PARSER:Type mismatch in expression \"=\"", "[anz = anz = anz]"},
    {"'a' # 1", '!', 0, 0, "PARSER:Type mismatch in expression \"<>\"", "['a' # 1]"},
    {"aktiv .AND. 1", '!', 0, 0, "PARSER:Type mismatch in expression \".AND.\"", "[aktiv .AND. 1]"},
    {".NOT. 1 = 1", '!', 0, 0, "PARSER:Type mismatch in expression \".NOT.\"", "[.NOT. 1 = 1]"},
    {"-'a'", '!', 0, 0, "PARSER:Type mismatch in expression \"Unary -\"", "[-'a']"},
    {"+'a'", '!', 0, 0, "PARSER:Type mismatch in expression \"Unary +\"", "[+'a']"},
    {"YEAR(hersteller)", '!', 0, 0, "PARSER:Type mismatch in function \"YEAR\"",
     "[YEAR(hersteller)]"},
    {"SUBS(1,1,1)", '!', 0, 0, "PARSER:Type mismatch in function \"SUBSTR\"", "[SUBS(1,1,1)]"},
    {"MAX(1,datum)", '!', 0, 0, "PARSER:Type mismatch in function \"MAX\"", "[MAX(1,datum)]"},
    {"notiz+'x'", '!', 0, 0, "PARSER:Type mismatch in expression \"+\"", "[notiz+'x']"},
    {"upper(notiz)", '!', 0, 0, "PARSER:Type mismatch in function \"UPPER\"", "[upper(notiz)]"},
    {"SUBSTR(hersteller,2)", '!', 0, 0, "Syntax error", "[SUBSTR(hersteller,2)]"},
    {"unbekannt", '!', 0, 0, "Syntax error", "[unbekannt]"},
    {".5", '!', 0, 0, "Syntax error", "[.5]"},
    {"hersteller.and.aktiv", '!', 0, 0, "Syntax error", "[hersteller.and.aktiv]"},
    {"'abc", '!', 0, 0, "Syntax error", "['abc]"},
    {"(1", '!', 0, 0, "Syntax error", "[(1]"},
    {"1)", '!', 0, 0, "Syntax error", "[1)]"},
    {"1 @ 2", '!', 0, 0, "Syntax error", "[1 @ 2]"},
    {"", '!', 0, 0, "Syntax error", "[]"},
};

TEST_F(Expressions, TypesWidthsValuesAndErrors) {
  GO(1);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    DbLastError = 0;
    CompiledExpr* e = AssignExpr(c.text);
    if (c.type == '!') {
      EXPECT_EQ(e, nullptr);
      EXPECT_EQ(DbLastError, 351);
      EXPECT_EQ(TakeErrorContext(), CompileError(c.value, c.error));
      FreeExpr(e);
      continue;
    }
    ASSERT_NE(e, nullptr) << TakeErrorContext();
    EXPECT_EQ(e->result_type, c.type);
    EXPECT_EQ(e->result_width, c.width);
    EXPECT_EQ(e->decimals, c.decimals);
    std::string expected = c.value;
    if (expected == "{today+1}") expected = TodayPlus(1);
    if (expected == "{abc x 85}") {
      expected.clear();
      for (int i = 0; i < 85; ++i) expected += "abc";
    }
    EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), expected);
    if (c.error) {
      EXPECT_EQ(DbLastError, 358);
      EXPECT_EQ(TakeErrorContext(), c.error);
    } else {
      EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    }
    FreeExpr(e);
    EXPECT_EQ(e, nullptr);
  }
}

}  // namespace
}  // namespace tz
