// The evaluator on other records and settings: blank and odd field values, deleted records, an
// empty table, date formats and centuries, memo values, and the 255-character limit.
#include <gtest/gtest.h>

#include <string>

#include "expr_test_support.h"
#include "tables/engine/timedate.h"

namespace tz {
namespace {

using Evaluator = ExprTest;

struct Case {
  const char* text;
  const char* value;
};

void ExpectValues(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->text);
    CompiledExpr* e = AssignExpr(c->text);
    ASSERT_NE(e, nullptr) << TakeErrorContext();
    EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), c->value);
    EXPECT_EQ(DbLastError, 0) << TakeErrorContext();
    FreeExpr(e);
  }
}

TEST_F(Evaluator, BlankAndOddFieldValues) {
  GO(2);  // Siemens: PREIS 0.00, DATUM blank, AKTIV F, NOTIZ blank, ANZ -3
  const Case second[] = {
      {"datum", "        "},
      {"DTOS(datum)", "        "},
      {"DTOC(datum)", "  /  /  "},
      {"datum+1", "        "},
      {"YEAR(datum)+MONTH(datum)+DAY(datum)+DOW(datum)", "0"},
      {"CDOW(datum)", "          "},
      {"CMONTH(datum)", "         "},
      {"datum > CTOD('01/01/00')", ".T."},  // a blank date sorts after every date
      {"preis", "0"},
      {"anz", "-3"},
      {"aktiv", ".F."},
      {"notiz", ""},
      {"DELETED()", ".F."},
      {"RECNO()", "2"},
  };
  ExpectValues(std::begin(second), std::end(second));
  GO(3);  // deleted; AKTIV "?", ANZ blank
  const Case third[] = {
      {"DELETED()", ".T."}, {"aktiv", ".F."},        {"anz", "0"},
      {"preis", "-5.5"},    {"YEAR(datum)", "1999"}, {"notiz", "Ericsson"},
  };
  ExpectValues(std::begin(third), std::end(third));
}

TEST_F(Evaluator, AnEmptyTableGivesBlankValues) {
  Select(2);
  OpenTable("leer.dbf", kPhoneFields, {});
  const Case cases[] = {
      {"hersteller", "               "},
      {"preis", "0"},
      {"datum", "        "},
      {"aktiv", ".F."},
      {"notiz", ""},
      {"DELETED()", ".F."},
  };
  ExpectValues(std::begin(cases), std::end(cases));
  CompiledExpr* e = AssignExpr("upper(hersteller)+upper(modell)");
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), std::string(35, ' '));
  FreeExpr(e);
}

TEST_F(Evaluator, DatesInEveryCenturyAndFormat) {
  const Case any_format[] = {
      {"YEAR(CTOD('12/31/1899'))", "1899"},      {"DOW(CTOD('12/31/1899'))", "1"},
      {"DOW(CTOD('01/01/1900'))", "2"},          {"DOW(CTOD('01/01/2100'))", "6"},
      {"CDOW(CTOD('06/15/1850'))", "Saturday "}, {"YEAR(CTOD('06/15/0850'))", "850"},
      {"DTOS(CTOD('02/29/1900'))", "        "},
  };
  ExpectValues(std::begin(any_format), std::end(any_format));
  struct FormatCase {
    uint8_t format;
    bool century;
    const char* dtoc;
    const char* cdow;
    const char* cmonth;
  } formats[] = {
      {5, false, "29.02.24", "Donnerstag", "Februar  "},
      {5, true, "29.02.2024", "Donnerstag", "Februar  "},
      {7, false, "29.02.24", "Jeudi   ", "F\xE9vrier  "},
      {3, false, "29-02-24", "Giovedi  ", "Febbraio "},
      {1, true, "2024.02.29", "Thursday ", "February "},
  };
  GO(1);
  for (const FormatCase& f : formats) {
    DbCentury = f.century;
    SetDateFormat(f.format);
    const Case cases[] = {
        {"DTOC(datum)", f.dtoc},
        {"CDOW(datum)", f.cdow},
        {"CMONTH(datum)", f.cmonth},
        {"DTOS(CTOD(DTOC(datum)))", "20240229"},
    };
    SCOPED_TRACE(int{f.format});
    ExpectValues(std::begin(cases), std::end(cases));
  }
}

TEST_F(Evaluator, MemoValues) {
  GO(1);
  g_memo_texts[1] = {std::string(200, 'a'), std::string(300, 'b'), "c"};
  CompiledExpr* e = AssignExpr("notiz");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->result_width, 256);
  // Lines of at most 255 characters, appended while the pool of 256 bytes has room.
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), std::string(200, 'a') + std::string(55, 'b'));
  EXPECT_EQ(DbLastError, 0);
  FreeExpr(e);

  SetMemoPoolSize(1000);
  e = AssignExpr("notiz");
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), std::string(200, 'a') + std::string(255, 'b') + "c");
  FreeExpr(e);

  // Without the memo unit a memo reads empty.
  MemoDriver.AssignMemo = nullptr;
  e = AssignExpr("notiz");
  EXPECT_EQ(Rendered(*e, EvaluateExpr(e)), "");
  FreeExpr(e);
}

TEST_F(Evaluator, TextResultsStayWithin255Characters) {
  const std::string blanks(255, ' ');
  const std::string x255 = std::string(255, 'x');
  const Case cases[] = {
      {"SPACE(200)+SPACE(200)", blanks.c_str()},
      {"LEN(SPACE(200)+SPACE(200))", "255"},
      {"LEN(REPLICATE('x',300))", "255"},
      {"LEN(SPACE(1000))", "255"},
      {"LEN(STUFF(SPACE(250),1,0,SPACE(20)))", "255"},
      {"LEN(SPACE(200)-SPACE(200))", "255"},
      {"LEN(STR(5,300))", "255"},
      {"SPACE(3)-'ab'", "ab   "},
      {"'a  '-'b'-'c'", "abc  "},
      {"STR(1,0)", ""},
      {"STR(-0.001,6,2)", "  0.00"},
      {"STR(2.675,6,2)", "  2.68"},
      {"STR(1E20,25)", "    100000000000000000000"},
      {"SUBSTR(REPLICATE('x',300),250,10)", "xxxxxx"},
      {"LEN(IIF(.T.,REPLICATE('x',200)+REPLICATE('y',200),''))", "255"},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

TEST_F(Evaluator, RepeatedEvaluationReusesThePool) {
  CompiledExpr* e = AssignExpr("upper(hersteller)+upper(modell)");
  ASSERT_NE(e, nullptr);
  const char* first = static_cast<const char*>(EvaluateExpr(e));
  for (int record : {2, 3, 1}) {
    GO(record);
    const char* result = static_cast<const char*>(EvaluateExpr(e));
    EXPECT_EQ(result, first);
    EXPECT_EQ(e->result_length, 35u);
  }
  EXPECT_STREQ(first, "NOKIA          6310I               ");
  // SetExprContext and Evaluate are the two halves of EvaluateExpr.
  GO(2);
  SetExprContext(e);
  Evaluate();
  EXPECT_EQ(std::string(e->pool.data(), 7), "SIEMENS");
  FreeExpr(e);
  Evaluate();  // the freed expression is no longer current
  EXPECT_EQ(EvaluateExpr(nullptr), nullptr);
}

}  // namespace
}  // namespace tz
