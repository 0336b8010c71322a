// Tokens of the SQL scanner: start conditions, longest match, escapes,
// literals, and text the scanner refuses instead of dropping.
#include <gtest/gtest.h>

#include "scrs_test_util.h"

namespace kx::test {
namespace {

struct TokCase {
  const char* sql;
  const char* tokens;
};

class ScannerTokens : public ::testing::TestWithParam<TokCase> {};

TEST_P(ScannerTokens, Match) { EXPECT_EQ(Tokens(GetParam().sql), GetParam().tokens) << GetParam().sql; }

const TokCase kTokenCases[] = {
    // keywords in any case; a keyword followed by a name character is a name
    {"select a from t", "SELECT IDENT:a FROM IDENT:t"},
    {"SELECT a FROM t", "SELECT IDENT:a FROM IDENT:t"},
    {"SELECT SELECTX", "SELECT IDENT:SELECTX"},
    {"SELECT x-1, x - 1", "SELECT IDENT:x-1 , IDENT:x - INTNUM:1"},
    // words that are keywords only together with the next one
    {"SELECT ORDER BY, ORDER\tBY, ORDERxBY", "SELECT ORDER BY , ORDER BY , IDENT:ORDERxBY"},
    {"SELECT LEFT OUTER JOIN", "SELECT LEFT OUTER JOIN"},
    {"SELECT LEFT x", "SELECT IDENT:LEFT IDENT:x"},
    {"SELECT INNER JOIN, INNER", "SELECT INNER JOIN , IDENT:INNER"},
    {"SELECT a OR b AND NOT c", "SELECT IDENT:a OR IDENT:b AND NOT IDENT:c"},
    {"SELECT count(*), Max(a)", "SELECT AGGNAME:count ( * ) , AGGNAME:Max ( IDENT:a )"},
    // statements that are not DML: their first word (or brace) and the end
    {"COMMIT WORK", "OTHERWORD"},
    {"  GRANT ALL ON t TO u", "OTHERWORD"},
    {"{call p(?)}", "CALL_BRACE"},
    {"(SELECT 1)", "SELECT INTNUM:1 )"},
    {"-- leading comment\nSELECT a", "SELECT IDENT:a"},
    {"/* leading */ DELETE FROM t", "DELETE FROM IDENT:t"},
    // escapes
    {"SELECT {fn ucase(a)}", "SELECT LBRACE FN IDENT:ucase ( IDENT:a ) RBRACE"},
    {"SELECT {d '2000-01-01'}", "SELECT LBRACE DATELIT:d '2000-01-01' RBRACE"},
    {"SELECT d '2000-01-01'", "SELECT IDENT:d STRING:'2000-01-01'"},
    {"SELECT {t '10:11:12'}, {ts '2000-01-01 10:11:12.5'}",
     "SELECT LBRACE TIMELIT:t '10:11:12' RBRACE , LBRACE TSLIT:ts '2000-01-01 10:11:12.5' RBRACE"},
    {"SELECT --(*vendor(Microsoft),product(ODBC) fn f() *)--",
     "SELECT VENDOR_OPEN FN IDENT:f ( ) VENDOR_CLOSE"},
    {"SELECT {oj t LEFT OUTER JOIN u ON a = b AND c = d}",
     "SELECT LBRACE OJ IDENT:t LEFT OUTER JOIN IDENT:u ON IDENT:a COMPOP:= IDENT:b AND IDENT:c COMPOP:= "
     "IDENT:d RBRACE"},
    {"SELECT x ESCAPE '\\'", "SELECT IDENT:x ESCAPECLAUSE:ESCAPE '\\'"},
    // literals and numbers
    {"SELECT 'it''s', 'x'", "SELECT STRING:'it''s' , STRING:'x'"},
    {"SELECT 1., .5, 1e5, 1.5E-3, 0x1F, 12", "SELECT DECNUM:1. , DECNUM:.5 , FLOATNUM:1e5 , FLOATNUM:1.5E-3 , HEXNUM:0x1F , INTNUM:12"},
    {"SELECT a <> b, a <= b, a >= b, a < b, a *= b, a =* b",
     "SELECT IDENT:a COMPOP:<> IDENT:b , IDENT:a COMPOP:<= IDENT:b , IDENT:a COMPOP:>= IDENT:b , IDENT:a COMPOP:< "
     "IDENT:b , IDENT:a OUTEROP:*= IDENT:b , IDENT:a OUTEROP:=* IDENT:b"},
    {"SELECT a || b, ?", "SELECT IDENT:a CONCAT IDENT:b , PARAM"},
    // identifier forms; '@' right after a name separates a server name
    {"SELECT name@12, @@x, @v, a@b", "SELECT IDENT:name@12 , IDENT:@@x , IDENT:@v , IDENT:a @ IDENT:b"},
    {"SELECT \"a b\", `c d`, \"@x\"", "SELECT IDENT:\"a b\" , IDENT:`c d` , IDENT:\"@x\""},
    // a quote written twice inside a quoted name belongs to the name
    {"SELECT \"na\"\"me\", \"a\"\"\"\"b c\"\"\", \"\"\"x\" FROM \"t\"\"\"",
     "SELECT IDENT:\"na\"\"me\" , IDENT:\"a\"\"\"\"b c\"\"\" , IDENT:\"\"\"x\" FROM IDENT:\"t\"\"\""},
    // comments inside a statement are skipped, never read as operators
    {"SELECT a -- note\n, b", "SELECT IDENT:a , IDENT:b"},
    {"SELECT a /* x */ , b", "SELECT IDENT:a , IDENT:b"},
    // nothing is dropped: a character no rule takes, an unterminated literal
    {"SELECT a != b", "SELECT IDENT:a ERROR"},
    {"SELECT a } b", "SELECT IDENT:a ERROR"},
    {"SELECT 'abc\n, b", "SELECT ERROR"},
    {"SELECT 'abc", "SELECT ERROR"},
    {"SELECT \"abc", "SELECT ERROR"},
    {"SELECT a /* open", "SELECT IDENT:a ERROR"},
    // dollar-quoted text is one literal: no marker, quote or brace inside;
    // "$1" and a '$' inside a name are not quotes, nor is an unclosed tag
    {"SELECT $$a?b'$$, ?", "SELECT STRING:$$a?b'$$ , PARAM"},
    {"SELECT $fn$ {x} $$ ? $fn$", "SELECT STRING:$fn$ {x} $$ ? $fn$"},
    {"SELECT a$b$ FROM t WHERE c = ?", "SELECT IDENT:a$b$ FROM IDENT:t WHERE IDENT:c COMPOP:= PARAM"},
    {"SELECT $x$ ?", "SELECT ERROR"},
    // block comments nest: the inner "*/" does not end the comment
    {"SELECT a /* x /* y */ ? { */ , b", "SELECT IDENT:a , IDENT:b"},
    {"SELECT a /* x /* y */ ?", "SELECT IDENT:a ERROR"},
    // PostgreSQL's E'' string keeps a backslashed quote inside
    {"SELECT E'it\\'s ?', e'\\\\', ?", "SELECT STRING:E'it\\'s ?' , STRING:e'\\\\' , PARAM"},
    {"SELECT E'open\\'", "SELECT ERROR"},
    {"SELECT typE'x', ?", "SELECT IDENT:typE STRING:'x' , PARAM"},
    // white space may follow the opening brace of an escape
    {"SELECT { fn ucase(?) }, {  ts '2000-01-01 10:11:12' }",
     "SELECT LBRACE FN IDENT:ucase ( PARAM ) RBRACE , LBRACE TSLIT:ts '2000-01-01 10:11:12' RBRACE"},
    // literals keep their exact spelling
    {"SELECT 'X', 'x', \"Col\", \"col\"", "SELECT STRING:'X' , STRING:'x' , IDENT:\"Col\" , IDENT:\"col\""},
};

INSTANTIATE_TEST_SUITE_P(Table, ScannerTokens, ::testing::ValuesIn(kTokenCases));

TEST(Scanner, EchoFoldsWhiteSpaceAndRestartsAtEachDmlKeyword) {
  // The error text shows the statement from the last DML keyword.
  EXPECT_EQ(Regen("SELECT a FROM t WHERE b IN (SELECT c\n\n FROM u WHERE ;)"),
            "68 syntax error | SELECT c  FROM u WHERE ;^");
}

TEST(Scanner, NextStatementStartsClean) {
  // A failed parse inside an escape leaves nothing behind for the next one.
  EXPECT_EQ(Regen("SELECT {fn f("), "68 syntax error | SELECT {fn f(^");
  EXPECT_EQ(Tokens("COMMIT"), "OTHERWORD");
  EXPECT_EQ(Tree("COMMIT"), "OTHER");
}

}  // namespace
}  // namespace kx::test
