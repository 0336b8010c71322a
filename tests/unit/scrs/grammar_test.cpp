// Statements to their regenerated text (or failure) and to their trees.
#include <gtest/gtest.h>

#include "scrs_test_util.h"

namespace kx::test {
namespace {

struct RegenCase {
  const char* sql;
  const char* regenerated;  // "#" marks the placeholder; "68 msg | echo^" a failure
};

class Regeneration : public ::testing::TestWithParam<RegenCase> {};

TEST_P(Regeneration, Text) { EXPECT_EQ(Regen(GetParam().sql), GetParam().regenerated) << GetParam().sql; }

const RegenCase kRegenCases[] = {
    // one blank per empty slot: five in the FROM part, one of the root
    {"SELECT a FROM t", "SELECT  a FROM t      "},
    {"  select *\n from t", "SELECT  * FROM t      "},
    {"SELECT a FROM t WHERE", "SELECT  a FROM t WHERE      "},
    {"SELECT 1", "SELECT  1      "},
    {"INSERT INTO t (a, b) VALUES (?, 1)", "INSERT INTO t ( a, b ) VALUES ( ?, 1 )"},
    {"INSERT INTO t SELECT * FROM u", "INSERT INTO t  SELECT  * FROM u     "},
    {"UPDATE t SET a = ? WHERE CURRENT OF c1", "UPDATE t SET a = ? WHERE CURRENT OF c1"},
    {"update t set a=1, b = NULL where c > 2", "UPDATE t SET a = 1, b = NULL WHERE c > 2"},
    {"UPDATE t FROM u SET a = u.b", "UPDATE t FROM u SET a = u.b "},
    {"DELETE FROM t", "DELETE FROM t "},
    {"DELETE FROM o.t WHERE CURRENT OF c", "DELETE FROM o.t WHERE CURRENT OF c"},
    {"SELECT * FROM t ORDER BY 1 DESC", "SELECT  * FROM t     ORDER BY 1 DESC "},
    {"SELECT TOP 10 PERCENT WITH TIES a FROM t", "SELECT  TOP 10 PERCENT WITH TIES a FROM t      "},
    {"SELECT DISTINCT TOP (5, 2) a FROM t", "SELECT DISTINCT TOP (5, 2)   a FROM t      "},
    {"SELECT COUNT(*), SUM(DISTINCT a), MAX(b + 1) FROM t",
     "SELECT  COUNT (*), SUM( DISTINCT a ), MAX( b + 1 ) FROM t      "},
    {"SELECT -a, +b, a || 'x', a * b / c FROM t", "SELECT  -a, +b, a || 'x', a * b / c FROM t      "},
    {"SELECT a FROM t WHERE a = 1 OR b = 2 AND NOT c = 3", "SELECT  a FROM t WHERE a = 1 OR b = 2 AND NOT c = 3     "},
    {"SELECT a FROM t WHERE b IN (1, 'x', ?) AND c NOT BETWEEN 1 AND 2",
     "SELECT  a FROM t WHERE b IN ( 1, 'x', ? ) AND c NOT BETWEEN 1 AND 2     "},
    {"SELECT a FROM t WHERE x LIKE 'a\\_%' ESCAPE '\\'", "SELECT  a FROM t WHERE x LIKE 'a\\_%' ESCAPE '\\'     "},
    {"SELECT a FROM t WHERE x LIKE ? {escape '!'}", "SELECT  a FROM t WHERE x LIKE ? {escape '!' }     "},
    {"SELECT a FROM t WHERE b IS NOT NULL AND ? IS NULL", "SELECT  a FROM t WHERE b IS NOT NULL AND ? IS NULL     "},
    {"SELECT a FROM t WHERE EXISTS (SELECT * FROM u WHERE u.k = t.k) AND b > ALL (SELECT c FROM v)",
     "SELECT  a FROM t WHERE EXISTS ( SELECT  * FROM u WHERE u.k = t.k   ) AND b > ALL ( SELECT  c FROM v    )     "},
    {"SELECT a FROM t WHERE t.a *= u.b", "SELECT  a FROM t WHERE t.a *= u.b     "},
    {"SELECT a FROM t GROUP BY a, b HAVING COUNT(*) > 1", "SELECT  a FROM t  GROUP BY a, b HAVING COUNT (*) > 1   "},
    {"SELECT a FROM t UNION ALL SELECT b FROM u ORDER BY 1",
     "SELECT  a FROM t    UNION ALL SELECT  b FROM u     ORDER BY 1   "},
    {"SELECT CASE a WHEN 1 THEN 'x' ELSE 'y' END, CASE WHEN a > 1 THEN 2 END FROM t",
     "SELECT  CASE a WHEN 1 THEN 'x' ELSE 'y' END, CASE WHEN a > 1 THEN 2 END FROM t      "},
    {"SELECT x.* , o.t.* FROM db@srv:own.tab x, t@d, q:o.t, q..t",
     "SELECT  x.*, o.t.* FROM db@srv:own.tab  x, t@d, q:o.t, q..t      "},
    {"SELECT a FROM (SELECT b FROM u ORDER BY b) AS d", "SELECT  a FROM ( SELECT  b FROM u     ORDER BY b  ) AS d       "},
    {"SELECT a FROM t INNER JOIN u ON t.k = u.k LEFT JOIN v ON v.k = u.k",
     "SELECT  a FROM t INNER JOIN u ON t.k = u.k LEFT  JOIN v ON v.k = u.k      "},
    // escapes come back in the brace form, the keyword right after the brace
    {"SELECT {fn ucase(a)} FROM t", "SELECT  {fn ucase( a ) } FROM t      "},
    {"SELECT a FROM t WHERE d = {d '2000-01-01'}", "SELECT  a FROM t WHERE d = {d '2000-01-01' }     "},
    {"SELECT a FROM t WHERE d = --(*vendor(Microsoft),product(ODBC) d '2000-01-01' *)--",
     "SELECT  a FROM t WHERE d = {d '2000-01-01' }     "},
    {"SELECT a FROM {oj t LEFT OUTER JOIN u ON t.k = u.k}", "SELECT  a FROM {oj t LEFT OUTER JOIN u ON t.k = u.k } "
                                                            "     "},
    {"SELECT a FROM {oj t LEFT OUTER JOIN {oj u LEFT OUTER JOIN v ON u.k = v.k} ON t.k = u.k}",
     "SELECT  a FROM {oj t LEFT OUTER JOIN {oj u LEFT OUTER JOIN v ON u.k = v.k } ON t.k = u.k }      "},
    {"SELECT { fn ucase(a) } FROM t WHERE x LIKE ? { escape '!' }",
     "SELECT  {fn ucase( a ) } FROM t WHERE x LIKE ? {escape '!' }     "},
    // comments vanish, nested ones whole; literals keep their exact spelling
    {"SELECT a /* x /* y */ ? { */ FROM t", "SELECT  a FROM t      "},
    {"SELECT E'it\\'s' FROM t", "SELECT  E'it\\'s' FROM t      "},
    {"SELECT a -- what\nFROM t /* where */", "SELECT  a FROM t      "},
    {"SELECT 'X', 'x' FROM t", "SELECT  'X', 'x' FROM t      "},
    // non-DML statements are recognised by their first word
    {"COMMIT", ""},
    {"{call p(?)}", ""},
    // failures: code, message, echo of the text up to the error
    {"SELECT FROM", "68 syntax error | SELECT FROM^"},
    {"SELECT a FROM t;", "68 syntax error | SELECT a FROM t;^"},
    {"SELECT a FROM t FOR UPDATE", "68 syntax error | UPDATE^"},
    {"SELECT a FROM t WHERE a", "68 syntax error | SELECT a FROM t WHERE a^"},
    {"SELECT a FROM t WHERE a IN (b)", "68 syntax error | SELECT a FROM t WHERE a IN (b^"},
    {"SELECT a FROM t WHERE a != 1", "68 syntax error | SELECT a FROM t WHERE a !^"},
    {"SELECT a FROM t WHERE a = 'x", "68 Unterminated string literal. | SELECT a FROM t WHERE a = ^"},
    {"SELECT a FROM t WHERE a = 'x\n' AND b = 1", "68 Unterminated string literal. | SELECT a FROM t WHERE a = ^"},
    {"SELECT MAX(*) FROM t", "68 syntax error | SELECT MAX(*)^"},
    {"UPDATE t SET a <> 1", "68 syntax error | UPDATE t SET a <> 1^"},
    {"SELECT {d '2000-01-01' *)--", "68 syntax error | SELECT {d '2000-01-01' *)--^"},
    {"", "68 syntax error | ^"},
};

INSTANTIATE_TEST_SUITE_P(Table, Regeneration, ::testing::ValuesIn(kRegenCases));

struct TreeCase {
  const char* sql;
  int kind;          // dump from the first node of this kind
  const char* tree;
};

class Trees : public ::testing::TestWithParam<TreeCase> {};

// Comparisons of a literal with a column are shown as "P".
std::string Abbreviated(std::string tree) {
  const std::string p = "PREDICATE(COMPARE(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))) COMPOP "
                        "ADDEXPR(MULEXPR(UNARY(PRIMARY(LITERAL(INTLIT)))))))";
  for (size_t at; (at = tree.find(p)) != std::string::npos;) tree.replace(at, p.size(), "P");
  return tree;
}

TEST_P(Trees, Kinds) {
  EXPECT_EQ(Abbreviated(TreeOf(GetParam().sql, GetParam().kind)), GetParam().tree) << GetParam().sql;
}

const TreeCase kTreeCases[] = {
    {"SELECT a FROM t", SQLN_SELECT,
     "SELECT(QUERYSPEC(TOP(SETQUANT) SELLIST(SELITEM(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))))) "
     "FROMPART(TABLIST(TABPRIMARY(TABLEREF(TABLE(TABNAME)))) WHERESLOT GROUPBY HAVING UNIONSLOT ORDERBYSLOT)) "
     "ORDERBYSLOT)"},
    // AND binds tighter than OR; NOT tighter than AND (P: one comparison)
    {"SELECT a FROM t WHERE a = 1 OR b = 2 AND c = 3", SQLN_WHERE, "WHERE(COND(COND(P) COND(COND(P) COND(P))))"},
    {"SELECT a FROM t WHERE NOT a = 1 AND b = 2", SQLN_COND, "COND(COND(COND(P)) COND(P))"},
    {"SELECT a FROM t WHERE b IN (1, ?)", SQLN_IN,
     "IN(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))) VALUELIST(VALUELIST(VALUE(LITERAL(INTLIT))) "
     "VALUE(PARAM)))"},
    // a subquery on the right of a comparison sits directly under it
    {"SELECT a FROM t WHERE b = (SELECT c FROM u)", SQLN_COMPARE,
     "COMPARE(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))) COMPOP SUBQUERY(SETQUANT "
     "SELLIST(SELITEM(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))))) TABLIST(TABPRIMARY(TABLEREF(TABLE("
     "TABNAME)))) WHERESLOT GROUPBY HAVING))"},
    {"SELECT a FROM t WHERE t.a *= u.b", SQLN_PREDICATE, "PREDICATE(OUTERCMP(COLREF(TABNAME COLNAME) OUTERTYPE COLREF(TABNAME COLNAME)))"},
    {"SELECT a FROM db@srv:own.tab", SQLN_TABLE, "TABLE(PREFIXNAME(ATNAME ATNAME) MIDNAME TABNAME)"},
    {"SELECT q..t.* FROM q..t", SQLN_SELITEM, "SELITEM(TABLE(PREFIXNAME TABLE))"},
    {"SELECT TOP 10 PERCENT WITH TIES a FROM t", SQLN_TOP, "TOP(SETQUANT INTLIT TOP TOP)"},
    {"SELECT -a FROM t", SQLN_UNARY, "UNARY(PRIMARY(COLREF(COLNAME)))"},
    {"UPDATE t SET a = ? WHERE CURRENT OF c1", SQLN_UPDATEPOS,
     "UPDATEPOS(TABLE(TABNAME) ASSIGNLIST(ASSIGN(COLNAME ADDEXPR(MULEXPR(UNARY(PRIMARY(PARAM)))))) CURSORNAME)"},
    {"DELETE FROM t", SQLN_DELETE, "DELETE(TABLE(TABNAME) WHERESLOT)"},
    {"GRANT ALL ON t TO u", SQLN_OTHER, "OTHER"},
    {"{call p}", SQLN_CALLESC, "CALLESC"},
    // ORDER BY lands in the innermost open slot: the last UNION part's
    {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1", SQLN_UNION,
     "UNION(QUERYSPEC(TOP(SETQUANT) SELLIST(SELITEM(ADDEXPR(MULEXPR(UNARY(PRIMARY(COLREF(COLNAME))))))) "
     "FROMPART(TABLIST(TABPRIMARY(TABLEREF(TABLE(TABNAME)))) WHERESLOT GROUPBY HAVING UNIONSLOT "
     "ORDERBYSLOT(ORDERBY(ORDERLIST(ORDERITEM(INTLIT ORDERDIR)))))))"},
};

INSTANTIATE_TEST_SUITE_P(Table, Trees, ::testing::ValuesIn(kTreeCases));

// Whatever is accepted regenerates into text that analyses to the same text.
TEST(Grammar, RegeneratedTextIsStable) {
  for (const RegenCase& c : kRegenCases) {
    std::string once = Regen(c.sql);
    if (once.rfind("68 ", 0) == 0 || once.empty()) continue;
    EXPECT_EQ(Regen(once), once) << c.sql;
  }
}

TEST(Grammar, NestingBeyondTheParserStackIsExhaustion) {
  std::string sql = "SELECT a FROM t WHERE " + std::string(12000, '(') + "a = 1" + std::string(12000, ')');
  EXPECT_EQ(Regen(sql).substr(0, 22), "68 memory exhausted | ");
  std::string ok = "SELECT a FROM t WHERE " + std::string(100, '(') + "a = 1" + std::string(100, ')');
  EXPECT_EQ(Regen(ok).substr(0, 24), "SELECT  a FROM t WHERE (");
}

}  // namespace
}  // namespace kx::test
