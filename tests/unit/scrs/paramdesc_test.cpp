// Describe queries for parameter markers: the queries, their totals and the
// VALUES mask.
#include <gtest/gtest.h>

#include <string>

#include "scrs/sql_paramdesc.h"
#include "util/errcodes.h"

namespace kx::test {
namespace {

struct DescribeCase {
  const char* sql;
  const char* queries;  // joined by " | "
  int total;
  const char* mask;     // "" for none
};

std::string Describe(const char* sql, int* total, std::string* mask, int* rc) {
  SCR_PARAMINFO ctx;
  SCR_ParamInfoInit(&ctx, "NULL");
  *rc = SCR_ParamQueriesGet(&ctx, sql);
  std::string out;
  for (int i = 0; i < ctx.count; i++) out += (i ? " | " : "") + std::string(ctx.queries[i]);
  *total = ctx.total;
  *mask = ctx.mask ? ctx.mask : "";
  SCR_ParamInfoFree(&ctx);
  return out;
}

class DescribeQueries : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeQueries, Build) {
  const DescribeCase& c = GetParam();
  int total = -1, rc = -1;
  std::string mask;
  EXPECT_EQ(Describe(c.sql, &total, &mask, &rc), c.queries) << c.sql;
  EXPECT_EQ(rc, 0) << c.sql;
  EXPECT_EQ(total, c.total) << c.sql;
  EXPECT_EQ(mask, c.mask) << c.sql;
}

const DescribeCase kCases[] = {
    {"SELECT a FROM t WHERE b = ? AND c > ?", "SELECT b, c FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t x WHERE x.b = ?", "SELECT x.b FROM t  x WHERE 1=0 ", 1, ""},
    {"UPDATE t SET a = ?, b = 1 WHERE c = ?", "SELECT t.a, t.c FROM t WHERE 1=0 ", 2, ""},
    {"UPDATE t SET a = ? WHERE CURRENT OF c1", "SELECT t.a FROM t WHERE 1=0 ", 1, ""},
    {"UPDATE t SET a = NULL WHERE c = ?", "SELECT t.c FROM t WHERE 1=0 ", 1, ""},
    {"UPDATE t SET a = ? FROM u WHERE u.k = ?", "SELECT t.a, u.k FROM t, u WHERE 1=0 ", 2, ""},
    {"DELETE FROM t WHERE a = ? OR b LIKE ?", "SELECT a, b FROM t WHERE 1=0 ", 2, ""},
    {"INSERT INTO t VALUES (?, 1, ?)", "SELECT * FROM t WHERE 1=0 ", 3, "?X?"},
    {"INSERT INTO t (a, b, c) VALUES (?, 1, ?)", "SELECT a, c FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t WHERE b BETWEEN ? AND ?", "SELECT b, b FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t WHERE ? BETWEEN 1 AND b", "SELECT 1 FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a FROM t WHERE b IN (?, 1, ?)", "SELECT b, b FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t WHERE ? IN (1, 2)", "SELECT 1 FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a FROM t WHERE ? IS NULL", "SELECT NULL FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a FROM t WHERE ? = ?", "", 0, ""},
    {"SELECT a FROM t WHERE ? LIKE 'a%'", "SELECT 'a%' FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a, SUM(b) FROM t GROUP BY a HAVING SUM(b) > ? AND MAX(d) < ?", "SELECT (b), (d) FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a, SUM(b) FROM t GROUP BY a HAVING SUM(b) > ?", "SELECT SUM( b ) FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a FROM t GROUP BY a HAVING COUNT(*) > ? AND SUM(b) < ?", "SELECT 1, (b) FROM t WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t WHERE b = ? UNION SELECT a FROM u WHERE c = ?",
     "SELECT b FROM t WHERE 1=0  | SELECT c FROM u WHERE 1=0 ", 2, ""},
    {"SELECT a FROM t WHERE b IN (SELECT c FROM u WHERE d = ?)", "", 0, ""},
    // a subquery chosen as the operand is described by its own column
    {"SELECT a FROM t WHERE ? IN (SELECT c FROM u)", "SELECT ( SELECT  c FROM u    ) FROM t WHERE 1=0 ", 1, ""},
    {"SELECT a FROM t WHERE ? > ANY (SELECT c FROM u)", "SELECT ( SELECT  c FROM u    ) FROM t WHERE 1=0 ", 1, ""},
    // a derived table's WHERE belongs to the derived table, not the outer query
    {"SELECT x FROM (SELECT a FROM u WHERE a = 5) d WHERE x = ?", "SELECT x FROM u WHERE 1=0 ", 1, ""},
    // INSERT ... SELECT: top-level select items line up with the column list
    {"INSERT INTO t (a, b) SELECT x + (y), ? FROM u WHERE z = ?",
     "SELECT b FROM t WHERE 1=0  | SELECT z FROM u WHERE 1=0 ", 2, ""},
    {"{call p(?)}", "", 0, ""},
    {"COMMIT", "", 0, ""},
    {"SELECT ? WHERE a = ?", "", 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, DescribeQueries, ::testing::ValuesIn(kCases));

TEST(DescribeQueries, ParseFailureIsSyntaxError) {
  int total = -1, rc = -1;
  std::string mask;
  EXPECT_EQ(Describe("SELECT FROM", &total, &mask, &rc), "");
  EXPECT_EQ(rc, KX_ERR_SYNTAX);
  EXPECT_EQ(total, 0);
}

}  // namespace
}  // namespace kx::test
