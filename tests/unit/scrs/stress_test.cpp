// Long statements and parallel parses.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "scrs/sql_analysis.h"
#include "scrs/sql_paramdesc.h"
#include "scrs_test_util.h"

namespace kx::test {
namespace {

// About 200 KB of select items, IN values, ANDed conditions and a concatenation.
std::string BigStatement() {
  std::string s = "SELECT ";
  for (int i = 0; i < 6000; i++) s += (i ? ", c" : "c") + std::to_string(i);
  s += " FROM t WHERE a IN (";
  for (int i = 0; i < 6000; i++) s += (i ? ", " : "") + std::to_string(i);
  s += ")";
  for (int i = 0; i < 4000; i++) s += " AND b" + std::to_string(i) + " = ?";
  s += " AND x = 'y'";
  for (int i = 0; i < 3000; i++) s += " || 'z'";
  s += " ORDER BY c1";
  return s;
}

TEST(Stress, LongStatementAnalysesAndRegeneratesWhole) {
  std::string sql = BigStatement();
  ASSERT_GT(sql.size(), 150000u);
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  ASSERT_EQ(SCR_AnalyseSQL(&a, sql.c_str(), 0, 0), 0);
  std::string text = a.root->text;
  EXPECT_NE(text.find("SELECT  c0, c1, c2,"), std::string::npos);
  EXPECT_NE(text.find("c5999 FROM t WHERE a IN ( 0, 1,"), std::string::npos);
  EXPECT_NE(text.find("AND b3999 = ? AND x = 'y' || 'z'"), std::string::npos);
  EXPECT_NE(text.find("ORDER BY c1"), std::string::npos);
  EXPECT_EQ(a.flags, SCRF_ORDERBY);
  ARR* cols = ARR_New(sizeof(SCS_COLDESC));
  EXPECT_EQ(SCR_SelListGet(&a, cols), 0);
  EXPECT_EQ(cols->count, 6000u);
  ARR_Free(&cols, nullptr);
  // the regenerated text analyses to itself
  SCR_ANALYSIS b;
  SCR_InitAnalysis(&b);
  ASSERT_EQ(SCR_AnalyseSQL(&b, text.c_str(), 0, 0), 0);
  EXPECT_EQ(std::string(b.root->text), text);
  SCR_FreeAnalysis(&b);
  SCR_FreeAnalysis(&a);

  SCR_PARAMINFO p;
  SCR_ParamInfoInit(&p, "NULL");
  EXPECT_EQ(SCR_ParamQueriesGet(&p, sql.c_str()), 0);
  EXPECT_EQ(p.total, 4000);
  SCR_ParamInfoFree(&p);
}

TEST(Stress, LongStatementWithErrorReportsItsEcho) {
  std::string sql = BigStatement() + " ;";
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  EXPECT_EQ(SCR_AnalyseSQL(&a, sql.c_str(), 0, 0), 68);
  ASSERT_NE(a.sql, nullptr);
  std::string echo = a.sql;
  EXPECT_GT(echo.size(), 20000u);  // longer than a fixed buffer would hold
  EXPECT_EQ(echo.substr(echo.size() - 3), " ;^");
  SCR_FreeAnalysis(&a);
}

TEST(Stress, ParallelParsesGiveTheirOwnResults) {
  const char* stmts[] = {"SELECT a FROM t WHERE b = ?", "UPDATE u SET c = 1 WHERE d = ?",
                         "SELECT x, y FROM v ORDER BY 2 DESC", "DELETE FROM w WHERE e LIKE ?"};
  std::vector<std::string> expected;
  for (const char* s : stmts) expected.push_back(Regen(s));
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; i++) {
        int k = (t + i) % 4;
        if (Regen(stmts[k]) != expected[k]) failures[t]++;
        SCR_PARAMINFO p;
        SCR_ParamInfoInit(&p, "NULL");
        if (SCR_ParamQueriesGet(&p, stmts[k]) != 0) failures[t]++;
        SCR_ParamInfoFree(&p);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace kx::test

namespace kx::test {
namespace {

TEST(Stress, NestingTooDeepToRegenerateFailsCleanly) {
  std::string sql = "SELECT " + std::string(4000, '(') + "a" + std::string(4000, ')') + " FROM t";
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  EXPECT_EQ(SCR_AnalyseSQL(&a, sql.c_str(), 0, 0), 16);
  EXPECT_EQ(a.root, nullptr);
  EXPECT_STREQ(a.errMsg, "memory exhausted");
  SCR_FreeAnalysis(&a);
}

}  // namespace
}  // namespace kx::test
