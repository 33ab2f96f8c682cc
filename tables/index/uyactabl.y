/* The grammar of the dBase expression language. bison makes the parser tables from it at build
   time; the actions only call the compiler (tzparser.cpp), which checks the operand types and
   appends the postfix instructions. Token numbers are fixed: they double as the opcodes of the
   instructions. Binary operators are left-associative; every unary operator binds tighter than
   every binary one, so -2^2 is (-2)^2 and .NOT. a = b is (.NOT. a) = b. */

%define api.pure full
%define api.prefix {tzexpr_}
%define api.token.prefix {TOK_}
%define api.value.type {tz::ExprSym}
%parse-param {tz::ExprCompiler& cc}
%lex-param {tz::ExprCompiler& cc}

%code requires {
#include "tables/index/tzexprcode.h"
}

%code {
// The parse stack holds at most 150 states and values; a deeper parse is a stack overflow.
// bison gives up as soon as its last slot is filled, hence one slot more.
#define YYINITDEPTH 151
#define YYMAXDEPTH 151

namespace {

int tzexpr_lex(TZEXPR_STYPE* value, tz::ExprCompiler& cc) { return cc.NextToken(*value); }

void tzexpr_error(tz::ExprCompiler& cc, const char* message) { cc.NoteParseError(message); }

}  // namespace
}

%token ABS 257 ASC 259 AT 261 CDOW 264 CHR 266 CMONTH 267 CTOD 269 DATE 270 DAY 271
%token DELETED 272 DOW 274 DTOC 275 DTOS 277 IIF 283 INT 284 LEFT 288 LEN 289 LOWER 292
%token LTRIM 293 MAX 294 MIN 295 MOD 296 MONTH 297 RECNO 300 REPLICATE 301 RIGHT 302
%token ROUND 303 RTRIM 305 SOUNDEX 308 SPACE 310 STR 311 STUFF 312 SUBSTR 313 TRIM 316
%token UPPER 318 VAL 319 YEAR 320
%token FIELD_C 321 FIELD_N 322 FIELD_L 323 FIELD_D 324 FIELD_M 325
%token ALIAS_FIELD_C 326 ALIAS_FIELD_N 327 ALIAS_FIELD_L 328 ALIAS_FIELD_D 329 ALIAS_FIELD_M 330
%token STRING 331 NUMBER 332 UNKNOWN_NAME 336 FALSE 337 TRUE 338
%token NOT 339 OR 340 AND 341 NE 342 LE 343 GE 344 EXACT 345 CONTAINS 346

%expect 0

%left OR
%left AND
%left '=' NE
%left EXACT CONTAINS
%left '<' '>' LE GE
%left '+' '-'
%left '*' '/'
%left '^'
%precedence UNARY

%%

start
  : expr                        { cc.Finish($1); }
  ;

expr
  : expr OR expr                { if (!cc.Binary(TOK_OR, $1, $3, $$)) YYABORT; }
  | expr AND expr               { if (!cc.Binary(TOK_AND, $1, $3, $$)) YYABORT; }
  | expr '=' expr               { if (!cc.Binary('=', $1, $3, $$)) YYABORT; }
  | expr NE expr                { if (!cc.Binary(TOK_NE, $1, $3, $$)) YYABORT; }
  | expr EXACT expr             { if (!cc.Binary(TOK_EXACT, $1, $3, $$)) YYABORT; }
  | expr CONTAINS expr          { if (!cc.Binary(TOK_CONTAINS, $1, $3, $$)) YYABORT; }
  | expr '<' expr               { if (!cc.Binary('<', $1, $3, $$)) YYABORT; }
  | expr '>' expr               { if (!cc.Binary('>', $1, $3, $$)) YYABORT; }
  | expr LE expr                { if (!cc.Binary(TOK_LE, $1, $3, $$)) YYABORT; }
  | expr GE expr                { if (!cc.Binary(TOK_GE, $1, $3, $$)) YYABORT; }
  | expr '+' expr               { if (!cc.Binary('+', $1, $3, $$)) YYABORT; }
  | expr '-' expr               { if (!cc.Binary('-', $1, $3, $$)) YYABORT; }
  | expr '*' expr               { if (!cc.Binary('*', $1, $3, $$)) YYABORT; }
  | expr '/' expr               { if (!cc.Binary('/', $1, $3, $$)) YYABORT; }
  | expr '^' expr               { if (!cc.Binary('^', $1, $3, $$)) YYABORT; }
  | '-' expr %prec UNARY        { if (!cc.Unary('-', $2, $$)) YYABORT; }
  | '+' expr %prec UNARY        { if (!cc.Unary('+', $2, $$)) YYABORT; }
  | NOT expr %prec UNARY        { if (!cc.Unary(TOK_NOT, $2, $$)) YYABORT; }
  | '(' expr ')'                { $$ = $2; }
  | NUMBER                      { cc.PushNumber($1, $$); }
  | STRING                      { cc.PushString($1, $$); }
  | TRUE                        { cc.PushLogical(true, $$); }
  | FALSE                       { cc.PushLogical(false, $$); }
  | field                       { cc.PushField($1, $$); }
  | call
  ;

field
  : FIELD_C | FIELD_N | FIELD_L | FIELD_D | FIELD_M
  | ALIAS_FIELD_C | ALIAS_FIELD_N | ALIAS_FIELD_L | ALIAS_FIELD_D | ALIAS_FIELD_M
  ;

function0
  : DATE | DELETED | RECNO
  ;

function1
  : ABS | ASC | CDOW | CHR | CMONTH | CTOD | DAY | DOW | DTOC | DTOS | INT | LEN | LOWER
  | LTRIM | MONTH | RTRIM | SOUNDEX | SPACE | TRIM | UPPER | VAL | YEAR
  ;

function2
  : AT | LEFT | MAX | MIN | MOD | REPLICATE | RIGHT | ROUND
  ;

function3
  : IIF | SUBSTR
  ;

call
  : function0 '(' ')'
      { if (!cc.Call($1, 0, nullptr, $$)) YYABORT; }
  | function1 '(' expr ')'
      { const int32_t types[] = {$3.type};
        if (!cc.Call($1, 1, types, $$)) YYABORT; }
  | function2 '(' expr ',' expr ')'
      { const int32_t types[] = {$3.type, $5.type};
        if (!cc.Call($1, 2, types, $$)) YYABORT; }
  | function3 '(' expr ',' expr ',' expr ')'
      { const int32_t types[] = {$3.type, $5.type, $7.type};
        if (!cc.Call($1, 3, types, $$)) YYABORT; }
  | STR '(' expr ')'
      { const int32_t types[] = {$3.type};
        if (!cc.Call($1, 1, types, $$)) YYABORT; }
  | STR '(' expr ',' expr ')'
      { const int32_t types[] = {$3.type, $5.type};
        if (!cc.Call($1, 2, types, $$)) YYABORT; }
  | STR '(' expr ',' expr ',' expr ')'
      { const int32_t types[] = {$3.type, $5.type, $7.type};
        if (!cc.Call($1, 3, types, $$)) YYABORT; }
  | STUFF '(' expr ',' expr ',' expr ',' expr ')'
      { const int32_t types[] = {$3.type, $5.type, $7.type, $9.type};
        if (!cc.Call($1, 4, types, $$)) YYABORT; }
  ;

%%

namespace tz {

int RunExprParser(ExprCompiler& compiler) { return tzexpr_parse(compiler); }

}  // namespace tz
