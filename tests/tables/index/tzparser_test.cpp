// The compiler's entry points beyond the expression table: validation, the error window of long
// texts, the parse stack limit, aliases, the routine table the engine uses, raise mode.
#include "tables/index/tzparser.h"

#include <gtest/gtest.h>

#include <string>

#include "expr_test_support.h"

namespace tz {
namespace {

using Compiler = ExprTest;

TEST_F(Compiler, ValidationCodes) {
  const std::string long_key = "hersteller+" + std::string(206, 'x') + "+'a'";  // 221 characters
  struct Case {
    std::string text;
    bool key;
    uint16_t code;
    std::string stored;  // the text afterwards
  } cases[] = {
      {"", true, 359, ""},
      {"     ", false, 359, ""},
      {long_key, true, 360, long_key},
      {long_key, false, 351, long_key},
      {"deleted()", true, 361, "deleted()"},
      {"notiz", true, 361, "notiz"},
      {"aktiv  ", true, 361, "aktiv"},
      {"hersteller", false, 362, "hersteller"},
      {"datum", false, 362, "datum"},
      {"upper(hersteller)   ", true, 0, "upper(hersteller)"},
      {"preis", true, 0, "preis"},
      {"aktiv .AND. preis > 1", false, 0, "aktiv .AND. preis > 1"},
      {"1-date()", true, 351, "1-date()"},
      {"unbekannt", false, 351, "unbekannt"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.text);
    DbReportErrors = true;  // a failing compile must not report
    SetMemoPoolSize(300);
    EXPECT_EQ(ValidateExpression(c.text, c.key), c.code);
    EXPECT_EQ(c.text, c.stored);
    EXPECT_EQ(DbLastError, 0);
    EXPECT_TRUE(DbReportErrors);
    EXPECT_EQ(GetMemoPoolSize(), 300);
  }
  EXPECT_TRUE(ui_.Messages().empty());
  std::string condition = "aktiv";
  EXPECT_EQ(ValidateCondition(condition), 0);
}

TEST_F(Compiler, TheErrorWindowOfALongText) {
  // Found at the end of the text, 67 characters in: the window starts 50 before it.
  std::string text = std::string(60, ' ') + "1 + 'a'";
  EXPECT_EQ(AssignExpr(text), nullptr);
  EXPECT_EQ(TakeErrorContext(), CompileError("PARSER:Type mismatch in expression \"+\"",
                                             "[..." + std::string(43, ' ') + "1 + 'a']"));
  // Found in the middle, after the second "+": 51 characters shown, and the text goes on.
  text = std::string(60, ' ') + "1 + 'a' + " + std::string(60, 'x');
  EXPECT_EQ(AssignExpr(text), nullptr);
  EXPECT_EQ(TakeErrorContext(), CompileError("PARSER:Type mismatch in expression \"+\"",
                                             "[..." + std::string(41, ' ') + "1 + 'a' + ...]"));
  // Within the first 50 characters the window starts with the text.
  text = "1 + 'a' + " + std::string(60, 'x');
  EXPECT_EQ(AssignExpr(text), nullptr);
  EXPECT_EQ(TakeErrorContext(), CompileError("PARSER:Type mismatch in expression \"+\"",
                                             "[" + text.substr(0, 51) + "...]"));
}

TEST_F(Compiler, TextLengthAndParseStackLimits) {
  // 255 characters compile; 256 are refused without being read.
  std::string text = "1";
  while (text.size() < 255) text += "+1";
  ASSERT_EQ(text.size(), 255u);
  CompiledExpr* e = AssignExpr(text);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(*static_cast<const double*>(EvaluateExpr(e)), 128);
  FreeExpr(e);
  EXPECT_EQ(AssignExpr(text + " "), nullptr);
  EXPECT_EQ(DbLastError, 351);
  EXPECT_EQ(TakeErrorContext(), CompileError("Expression longer than 255 characters",
                                             "[..." + text.substr(205, 50) + " ]"));

  // 120 nested unary minus signs fit into the 150 entries of the parse stack; 200 do not.
  e = AssignExpr(std::string(120, '-') + "5");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(*static_cast<const double*>(EvaluateExpr(e)), 5);
  FreeExpr(e);
  text = std::string(200, '-') + "5";
  EXPECT_EQ(AssignExpr(text), nullptr);
  std::string context = TakeErrorContext();
  EXPECT_EQ(context.substr(0, 46), "Error in expression : Parser_stack_overflow\r\n[");
  // The start state, 148 signs and the number are 150 entries: the most that fit.
  e = AssignExpr(std::string(148, '-') + "5");
  ASSERT_NE(e, nullptr) << TakeErrorContext();
  FreeExpr(e);
  EXPECT_EQ(AssignExpr(std::string(149, '-') + "5"), nullptr);
  EXPECT_EQ(TakeErrorContext().substr(0, 46), "Error in expression : Parser_stack_overflow\r\n[");
  // Parentheses nest as deep as the text allows.
  e = AssignExpr(std::string(100, '(') + "2" + std::string(100, ')'));
  ASSERT_NE(e, nullptr);
  FreeExpr(e);
}

TEST_F(Compiler, AliasesInEveryWorkAreaWithTheirFullName) {
  Select(33);
  OpenTable("stamm2.dbf", kPhoneFields, {kPhoneRecords[1]}, " ALIAS TELEFONSTAMM_ZWEI");
  Select(2);
  OpenTable("other.dbf", {{"HERSTELLER", 'C', 30}}, {" Motorola"});
  struct Case {
    const char* text;
    const char* value;
  } cases[] = {
      {"telefonstamm_zwei->hersteller", "Siemens        "},
      {"TELEFONSTAMM_ZWEI->anz * 2", "-6"},
      {"telstamm->modell", "6310i               "},
      {"trim(hersteller)+trim(telstamm->hersteller)", "MotorolaNokia"},
      {"telefonstamm_zwei->notiz", ""},
      {"telstamm->notiz", "Erste Zeile zweite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CompiledExpr* e = AssignExpr(c.text);
    ASSERT_NE(e, nullptr) << TakeErrorContext();
    EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), c.value);
    EXPECT_EQ(CurrentWorkArea, 2);
    FreeExpr(e);
  }
  // The memo of an aliased field is read with its own work area selected.
  CompiledExpr* e = AssignExpr("telstamm->notiz");
  EvaluateExpr(e);
  EXPECT_EQ(g_memo_area, 1);
  FreeExpr(e);
  // An alias no work area has, and an alias cut short, are no fields.
  EXPECT_EQ(AssignExpr("telefonstamm->hersteller"), nullptr);
  EXPECT_EQ(TakeErrorContext(), CompileError("Syntax error", "[telefonstamm->hersteller]"));
  EXPECT_EQ(AssignExpr("nirgends->hersteller"), nullptr);
}

TEST_F(Compiler, FieldsWithoutAliasReadTheAreaSelectedAtEvaluation) {
  CompiledExpr* e = AssignExpr("hersteller");
  ASSERT_NE(e, nullptr);
  Select(2);
  OpenTable("other.dbf", {{"NAME", 'C', 15}}, {" Motorola"});
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), "Motorola       ");
  // A field the selected table lacks, or of another type, reads blank.
  Select(3);
  OpenTable("numbers.dbf", {{"WERT", 'N', 5}}, {"   42"});
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), "");
  Select(4);  // no table
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), "");
  EXPECT_EQ(DbLastError, 0);
  FreeExpr(e);
}

TEST_F(Compiler, ALongerFieldAtEvaluationOverflowsThePoolSafely) {
  CompiledExpr* e = AssignExpr("hersteller");  // a pool of 16 bytes
  ASSERT_NE(e, nullptr);
  Select(2);
  OpenTable("long.dbf", {{"TEXT", 'C', 200}}, {" " + std::string(200, 'y')});
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), std::string(16, 'y'));
  EXPECT_EQ(DbLastError, 354);
  EXPECT_EQ(TakeErrorContext(), "Working pool overflow [PARSER/Allocate]");
  FreeExpr(e);
}

TEST_F(Compiler, RaiseModeThrowsTheFullMessage) {
  DbReportErrors = true;
  DbRaiseErrors = true;
  try {
    AssignExpr("1-date()");
    FAIL() << "no exception";
  } catch (const ETarazedError& e) {
    EXPECT_STREQ(e.what(),
                 "Error # 351 (Undefined error)\r\n"
                 "Error in expression : PARSER:Type mismatch in expression \"-\"\r\n"
                 "[1-date()]\r\n [AssignExpr]");
  }
  CompiledExpr* e = AssignExpr("10/0");
  ASSERT_NE(e, nullptr);
  EXPECT_THROW(EvaluateExpr(e), ETarazedError);
  EXPECT_EQ(DbLastError, 358);
  FreeExpr(e);
  // A left-over expression error is cleared by the next compile.
  DbReportErrors = false;
  e = AssignExpr("1");
  EXPECT_EQ(DbLastError, 0);
  FreeExpr(e);
}

TEST_F(Compiler, TheEngineReachesTheUnitThroughItsRoutineTable) {
  ASSERT_TRUE(ParserLinked);
  std::string text = "aktiv";
  CompiledExpr* filter = ParserDriver.AssignExprByRef(text);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(ParserDriver.ShortStrToStr("abc"), "abc");
  // A filter on AKTIV hides records 2 (false) and 3 (a "?" is not true).
  SelectedArea()->FilterExpr = filter;
  GoTop();
  EXPECT_EQ(RecNo(), 1);
  Skip(1);
  EXPECT_TRUE(dEOF());
  // The key evaluator runs the index engine's current key expression.
  CompiledExpr* key = AssignExpr("upper(modell)");
  CurrentKeyExpr = key;
  GO(1);
  EXPECT_STREQ(static_cast<const char*>(KeyEvaluator()), "6310I               ");
  FreeExpr(key);
  EXPECT_EQ(CurrentKeyExpr, nullptr);
  EXPECT_EQ(KeyEvaluator(), nullptr);
  // Closing the table frees the filter through the routine table.
  CloseDatabase();
}

}  // namespace
}  // namespace tz
