// Analysis flags, table references, select and ORDER BY lists, and the
// placeholder rewrites the cursor layer builds its queries from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "scrs/sql_analysis.h"
#include "scrs_test_util.h"
#include "util/errcodes.h"

namespace kx::test {
namespace {

class Analysis : public ::testing::Test {
 protected:
  void SetUp() override { SCR_InitAnalysis(&a_); }
  void TearDown() override { SCR_FreeAnalysis(&a_); }
  int Analyse(const char* sql, int keepCatalog = 0) { return SCR_AnalyseSQL(&a_, sql, 0, keepCatalog); }
  std::string Text() const { return Show(a_.root->text); }
  SCR_ANALYSIS a_;
};

struct FlagCase {
  const char* sql;
  uint16_t flags;
};

class AnalysisFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(AnalysisFlags, Flags) {
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  EXPECT_EQ(SCR_AnalyseSQL(&a, GetParam().sql, 0, 0), 0) << GetParam().sql;
  EXPECT_EQ(a.flags, GetParam().flags) << GetParam().sql;
  SCR_FreeAnalysis(&a);
}

const FlagCase kFlagCases[] = {
    {"SELECT * FROM t", 0},
    {"SELECT a FROM t1, t2 b", SCRF_JOIN},
    {"SELECT a FROM t LEFT OUTER JOIN u ON t.k = u.k", SCRF_JOIN | SCRF_OUTERJOIN},
    {"SELECT a FROM t, u WHERE t.k *= u.k", SCRF_JOIN | SCRF_OUTERJOIN},
    {"SELECT COUNT(*) FROM t", SCRF_AGGREGATE},
    {"SELECT a FROM t GROUP BY a", SCRF_GROUPBY},
    {"SELECT a FROM t UNION SELECT b FROM u", SCRF_UNION},
    {"SELECT a FROM t ORDER BY a", SCRF_ORDERBY},
    {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1", SCRF_UNION | SCRF_ORDERBY},
    // a derived table's own clauses are not the outer query's
    {"SELECT a FROM (SELECT a FROM u GROUP BY a ORDER BY a) d", 0},
    {"SELECT a FROM t WHERE b IN (SELECT c FROM u, v)", 0},
    {"SELECT 1", 0},
};

INSTANTIATE_TEST_SUITE_P(Table, AnalysisFlags, ::testing::ValuesIn(kFlagCases));

TEST_F(Analysis, KindsAndText) {
  EXPECT_EQ(Analyse("  select * from t"), 0);
  EXPECT_STREQ(a_.text, "select * from t");
  EXPECT_EQ(a_.kind, SQLN_SELECT);
  EXPECT_EQ(Analyse("DELETE FROM t"), 0);
  EXPECT_EQ(a_.kind, SQLN_DELETE);
  EXPECT_EQ(a_.flags, 0);
  EXPECT_EQ(Analyse("COMMIT"), 0);
  EXPECT_EQ(a_.kind, SQLN_OTHER);
  EXPECT_EQ(Analyse("{call p(?)}"), 0);
  EXPECT_EQ(a_.kind, SQLN_CALLESC);
}

TEST_F(Analysis, FailedParseKeepsNoTree) {
  EXPECT_EQ(Analyse("SELECT FROM"), KX_ERR_SYNTAX);
  EXPECT_EQ(a_.kind, 0);
  EXPECT_EQ(a_.root, nullptr);
  EXPECT_STREQ(a_.errMsg, "syntax error");
  EXPECT_STREQ(a_.sql, "SELECT FROM^");
  // an unterminated literal fails instead of being dropped from the statement
  EXPECT_EQ(Analyse("SELECT a FROM t WHERE b = 'x\nOR 1 = 1"), KX_ERR_SYNTAX);
  EXPECT_STREQ(a_.errMsg, "Unterminated string literal.");
}

std::string Refs(SCR_ANALYSIS* a, int keepCatalog) {
  ARR* out = ARR_New(sizeof(SCR_TABLEREF));
  int rc = SCR_TablesGet(a, out, keepCatalog);
  std::string s = std::to_string(rc);
  for (uint32_t i = 0; i < out->count; i++) {
    auto* r = static_cast<SCR_TABLEREF*>(ARR_At(out, i));
    s += std::string(" [") + r->qualifier + "|" + r->owner + "|" + r->table + "|" + r->alias + "]";
  }
  ARR_Free(&out, SCR_FreeTableRef);
  return s;
}

TEST_F(Analysis, TableReferences) {
  ASSERT_EQ(Analyse("SELECT a FROM t1, t2 b"), 0);
  EXPECT_EQ(Refs(&a_, 0), "0 [||t1|] [||t2|b]");
  ASSERT_EQ(Analyse("SELECT * FROM cat.own.tab x"), 0);
  EXPECT_EQ(Refs(&a_, 1), "0 [cat|own|tab|x]");
  EXPECT_EQ(Refs(&a_, 0), "0 [|own|tab|x]");
  ASSERT_EQ(Analyse("SELECT * FROM o.t, q..t, q:t, q:o.t, t@d, o.t@d, db@srv:t, db@srv:o.t"), 0);
  EXPECT_EQ(Refs(&a_, 1),
            "0 [|o|t|] [q||t|] [q||t|] [q|o|t|] [||t|] [|o|t|] [db@srv||t|] [db@srv|o|t|]");
  ASSERT_EQ(Analyse("SELECT * FROM t INNER JOIN u ON t.k IN (SELECT k FROM v)"), 0);
  EXPECT_EQ(Refs(&a_, 0), "0 [||t|] [||u|]");
  ASSERT_EQ(Analyse("SELECT 1"), 0);
  EXPECT_EQ(Refs(&a_, 0), "0");
}

std::string SelList(SCR_ANALYSIS* a) {
  ARR* out = ARR_New(sizeof(SCS_COLDESC));
  int rc = SCR_SelListGet(a, out);
  std::string s = std::to_string(rc);
  for (uint32_t i = 0; i < out->count; i++) {
    auto* c = static_cast<SCS_COLDESC*>(ARR_At(out, i));
    s += " " + std::to_string(c->kind) + "[" + c->owner + "|" + c->table + "|" + c->name + "]";
  }
  ARR_Free(&out, nullptr);
  return s;
}

TEST_F(Analysis, SelectList) {
  ASSERT_EQ(Analyse("SELECT t.*, a + 1, o.t.c AS x FROM t"), 0);
  EXPECT_EQ(SelList(&a_), "0 2[|t|] 3[||a + 1] 4[o|t|c]");
  ASSERT_EQ(Analyse("SELECT * FROM t"), 0);
  EXPECT_EQ(SelList(&a_), "0 1[||]");
  // a subquery's items are not items of this list; a CASE is no column
  ASSERT_EQ(Analyse("SELECT (SELECT b FROM u), CASE WHEN a = 1 THEN c END, (d), -e, f FROM t"), 0);
  EXPECT_EQ(SelList(&a_), "0 3[||( SELECT  b FROM u    )] 3[||CASE WHEN a = 1 THEN c END] 3[||( d )] 3[||-e] 4[||f]");
  // an expression text that merely contains ".*" is no table wildcard
  ASSERT_EQ(Analyse("SELECT 'x.*' FROM t"), 0);
  EXPECT_EQ(SelList(&a_), "0 3[||'x.*']");
}

std::string OrderBy(SCR_ANALYSIS* a) {
  ARR* out = ARR_New(sizeof(SCS_ORDERBYITEM));
  int rc = SCR_OrderByGet(a, out);
  std::string s = std::to_string(rc);
  for (uint32_t i = 0; i < out->count; i++) {
    auto* o = static_cast<SCS_ORDERBYITEM*>(ARR_At(out, i));
    s += " [" + std::string(o->text) + "|" + o->table + "|" + o->column + "|" + std::to_string(o->desc) + "|" +
         std::to_string(o->position) + "]";
  }
  ARR_Free(&out, nullptr);
  return s;
}

TEST_F(Analysis, OrderByItems) {
  ASSERT_EQ(Analyse("SELECT a, b FROM t ORDER BY t.a, 2 DESC"), 0);
  EXPECT_EQ(OrderBy(&a_), "0 [t.a|t|a|0|0] [|||1|2]");
  EXPECT_TRUE(a_.flags & SCRF_ORDERBYPOS);
  // positions are whole numbers: 257 is not 1
  ASSERT_EQ(Analyse("SELECT * FROM t ORDER BY 257"), 0);
  EXPECT_EQ(OrderBy(&a_), "0 [|||0|257]");
  // a position beyond the select list names no column
  ASSERT_EQ(Analyse("SELECT a, b FROM t ORDER BY 3"), 0);
  EXPECT_EQ(OrderBy(&a_), std::to_string(KX_ERR_SYNTAX));
  ASSERT_EQ(Analyse("SELECT a FROM t ORDER BY 0"), 0);
  EXPECT_EQ(OrderBy(&a_), std::to_string(KX_ERR_SYNTAX));
  ASSERT_EQ(Analyse("SELECT a FROM t"), 0);
  EXPECT_EQ(OrderBy(&a_), std::to_string(KX_ERR_GENERAL));
}

TEST_F(Analysis, ResolvePositions) {
  ASSERT_EQ(Analyse("SELECT a, b FROM t ORDER BY 2 DESC, 1"), 0);
  ARR* items = ARR_New(sizeof(SCS_ORDERBYITEM));
  SCS_ORDERBYITEM it{};
  it.position = 2;
  strcpy(it.text, "t.b");
  ARR_Append(items, &it);
  it.position = 1;
  strcpy(it.text, "t.a");
  ARR_Append(items, &it);
  EXPECT_EQ(SCR_OrderByResolvePositions(&a_, items), 0);
  EXPECT_EQ(Text(), "SELECT  a, b FROM t     ORDER BY t.b DESC, t.a  ");
  ARR_Free(&items, nullptr);
  ASSERT_EQ(Analyse("SELECT a FROM t ORDER BY 300"), 0);
  items = ARR_New(sizeof(SCS_ORDERBYITEM));
  it.position = 44;  // 300 kept in 8 bits would be 44
  ARR_Append(items, &it);
  EXPECT_EQ(SCR_OrderByResolvePositions(&a_, items), KX_ERR_GENERAL);
  ARR_Free(&items, nullptr);
}

TEST_F(Analysis, Rewrites) {
  ASSERT_EQ(Analyse("SELECT a FROM t WHERE b = 1"), 0);
  EXPECT_EQ(SCR_SetWherePlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  a FROM t WHERE # AND (b = 1)     ");
  EXPECT_TRUE(a_.flags & SCRF_WHERE);

  ASSERT_EQ(Analyse("SELECT a FROM t"), 0);
  EXPECT_EQ(SCR_SetWherePlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  a FROM t #     ");
  EXPECT_FALSE(a_.flags & SCRF_WHERE);

  ASSERT_EQ(Analyse("SELECT a, b FROM t"), 0);
  EXPECT_EQ(SCR_SetSelListPlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  # FROM t      ");

  ASSERT_EQ(Analyse("SELECT a FROM t ORDER BY a"), 0);
  EXPECT_EQ(SCR_SetOrderByPlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  a FROM t     ORDER BY a # ");

  ASSERT_EQ(Analyse("SELECT a FROM t ORDER BY a, b DESC, c ASC"), 0);
  EXPECT_EQ(SCR_OrderByReverse(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  a FROM t     ORDER BY a DESC, b , c DESC ");
}

TEST_F(Analysis, RewritesTakeTheOuterQuerysClauses) {
  // The derived table's WHERE, ORDER BY and select list stay as they are.
  ASSERT_EQ(Analyse("SELECT x FROM (SELECT a FROM u WHERE a = 1 ORDER BY a) d"), 0);
  EXPECT_EQ(SCR_SetWherePlaceholder(&a_), 0);
  EXPECT_EQ(SCR_SetOrderByPlaceholder(&a_), 0);
  EXPECT_EQ(SCR_SetSelListPlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  # FROM ( SELECT  a FROM u WHERE a = 1    ORDER BY a  )  d  #    # ");
  // TOP's subquery has a select list of its own
  ASSERT_EQ(Analyse("SELECT TOP ((SELECT COUNT(*) FROM u)) a FROM t"), 0);
  EXPECT_EQ(SCR_SetSelListPlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  TOP (( SELECT  COUNT (*) FROM u    ))   # FROM t      ");
  // After a UNION the statement's ORDER BY slot is the last query's
  ASSERT_EQ(Analyse("SELECT a FROM t UNION SELECT b FROM u"), 0);
  EXPECT_EQ(SCR_SetOrderByPlaceholder(&a_), 0);
  EXPECT_EQ(Text(), "SELECT  a FROM t    UNION SELECT  b FROM u     #  ");
}

TEST(Placeholder, SplicedAtItsPlaceWhateverTheStatementHolds) {
  char* out = nullptr;
  EXPECT_EQ(SCR_ExpandPlaceholder("SELECT \x01\x01\x01 FROM t WHERE a = '\xFF\x01\x01'", "k1, k2", &out), 0);
  EXPECT_STREQ(out, "SELECT k1, k2 FROM t WHERE a = '\xFF\x01\x01'");
  free(out);
  // the placeholder's bytes inside the application's literal: ambiguous, refused
  EXPECT_EQ(SCR_ExpandPlaceholder("SELECT \x01\x01\x01 FROM t WHERE a = '\x01\x01\x01'", "k", &out), KX_ERR_GENERAL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(SCR_ExpandPlaceholder("SELECT a FROM t", "k", &out), KX_ERR_GENERAL);
}

TEST(Placeholder, AnalysedLiteralWithTemplateBytesSurvivesTheRewrite) {
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  ASSERT_EQ(SCR_AnalyseSQL(&a, "SELECT a FROM t WHERE b = '\xFF\x01\x01'", 0, 0), 0);
  ASSERT_EQ(SCR_SetWherePlaceholder(&a), 0);
  char* out = nullptr;
  ASSERT_EQ(SCR_ExpandPlaceholder(a.root->text, "k = ?", &out), 0);
  EXPECT_STREQ(out, "SELECT  a FROM t WHERE k = ? AND (b = '\xFF\x01\x01')     ");
  free(out);
  SCR_FreeAnalysis(&a);
}

}  // namespace
}  // namespace kx::test
