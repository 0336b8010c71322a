// Statements of the agent on H2: prepare, parameter blocks, execution, result
// description, block fetch, further results and the errors of each step.
#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_records.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "util/handle_table.h"

namespace kxtest {
namespace {

using namespace kx;

JStmt* Rec(AgentHandle s) { return static_cast<JStmt*>(HT_Lookup(&JDB_StmtTable, s)); }

SCS_PARAMDESC In(int32_t sqlType) { return SCS_PARAMDESC{sqlType, 0, 0, 0, 1}; }

class AgentH2 : public ::testing::Test {
 protected:
  AgentSession a;
  std::string db;
  std::string table;
  void SetUp() override {
    // One database per test, so the tests also run together in one process.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    db = H2Props(Unique(("agexec_" + name).c_str()));
    ASSERT_EQ(0, a.Connect(db)) << AgentMessages(a.ops, a.server);
    table = Unique("t_exec");
    a.Exec("CREATE TABLE " + table +
           " (id INT, name VARCHAR(40), amount DOUBLE, d DATE, ts TIMESTAMP, small SMALLINT)");
  }
  // Inserts rows through a parameter block of six columns.
  int Insert(AgentHandle s, ParamBlock& pb) {
    std::string sql = "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?)";
    int rc = a.ops->DRV_Prepare(s, sql.c_str());
    if (rc != 0) return rc;
    SCS_PARAMDESC infos[6] = {In(4), In(12), In(8), In(9), In(11), In(5)};
    return a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 6, infos);
  }
};

ParamBlock SixColumns(int32_t rows) {
  ParamBlock pb(6, rows);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_CHAR_NTS, 40);
  pb.Column(RBT_DOUBLE, 8);
  pb.Column(RBT_CHAR_NTS, 20);
  pb.Column(RBT_TIMESTAMP, 16);
  pb.Column(RBT_CHAR_NTS, 10);
  return pb;
}

void FillRow(ParamBlock& pb, int r, int32_t id, const char* name, double amount, const char* date,
             const char* small) {
  pb.Set(0, r, id);
  if (name != nullptr) pb.Text(1, r, name); else pb.Null(1, r);
  pb.Set(2, r, amount);
  pb.Text(3, r, date);
  JDateTime ts{2024, 2, 29, 13, 45, 30, 123456000};
  pb.Set(4, r, ts);
  pb.Text(5, r, small);
}

TEST_F(AgentH2, InsertsSeveralTypedRowsAndReadsThemBack) {
  AgentHandle s = a.Stmt();
  ParamBlock pb = SixColumns(3);
  FillRow(pb, 0, 1, "Grüße", 1.5, "2024-02-29", " 12 ");
  FillRow(pb, 1, 2, nullptr, -2.25, "29.02.2024", "-7");
  FillRow(pb, 2, 3, "\xF0\x9F\x98\x80 smile", 0, "2000-01-01", "32767");
  ASSERT_EQ(0, Insert(s, pb)) << AgentMessages(a.ops, s);
  EXPECT_EQ(3, Rec(s)->rowCount);  // update counts summed over the rows
  EXPECT_EQ(0, a.ops->DRV_FreeStmt(s));

  AgentHandle q = a.Stmt();
  std::string sql = "SELECT id, name, amount, d, ts, small FROM " + table + " ORDER BY id";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
  ASSERT_EQ(0, a.ops->DRV_Execute(q));
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 10, &b.rb)) << AgentMessages(a.ops, q);
  ASSERT_EQ(3, b.rb.rowCount);
  ASSERT_EQ(6, b.rb.colCount);
  EXPECT_EQ(2, b.Get<int32_t>(0, 1));
  EXPECT_EQ("Grüße", b.Text(1, 0));
  EXPECT_TRUE(b.IsNull(1, 1));
  EXPECT_EQ("\xF0\x9F\x98\x80 smile", b.Text(1, 2));
  EXPECT_DOUBLE_EQ(-2.25, b.Get<double>(2, 1));
  EXPECT_EQ(2024, b.Get<int16_t>(3, 1));  // DATE year, month, day
  uint16_t md[2];
  std::memcpy(md, b.At(3, 1) + 2, sizeof md);
  EXPECT_EQ(2, md[0]);
  EXPECT_EQ(29, md[1]);
  JDateTime ts = b.Get<JDateTime>(4, 0);
  EXPECT_EQ(29, ts.day);
  EXPECT_EQ(45, ts.minute);
  EXPECT_EQ(123456000u, ts.fraction);
  EXPECT_EQ(12, b.Get<int16_t>(5, 0));
  EXPECT_EQ(32767, b.Get<int16_t>(5, 2));
  a.ops->DRV_FreeStmt(q);
}

TEST_F(AgentH2, DescribesResultColumnsWithRealWidths) {
  a.Exec("CREATE TABLE " + table + "_d (b BOOLEAN, c CLOB, bi BIGINT, n NUMERIC(10,2), "
         "bin VARBINARY(8), tz TIMESTAMP WITH TIME ZONE, v VARCHAR(10))");
  AgentHandle q = a.Stmt();
  std::string sql = "SELECT b, c, bi, n, bin, tz, v FROM " + table + "_d";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
  uint16_t n = 0;
  AgentColDesc* cols = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeCols(q, &n, &cols));
  ASSERT_EQ(7, n);
  EXPECT_STREQ("B", cols[0].name);
  ASSERT_NE(nullptr, cols[0].label);
  EXPECT_EQ(-7, cols[0].sqlType);  // BOOLEAN is an ODBC bit
  EXPECT_EQ(RBT_BIT, cols[0].storageType);
  EXPECT_EQ(-10, cols[1].sqlType);  // CLOB as wide long text for a Unicode client
  EXPECT_EQ(RBT_WCHAR_PTR, cols[1].storageType);
  EXPECT_EQ(-5, cols[2].sqlType);
  EXPECT_EQ(RBT_CHAR_NTS, cols[2].storageType);
  EXPECT_EQ(2, cols[3].sqlType);
  EXPECT_EQ(10, cols[3].columnSize);
  EXPECT_EQ(2, cols[3].decimalDigits);
  EXPECT_EQ(12, cols[3].displaySize);
  EXPECT_EQ(-3, cols[4].sqlType);
  EXPECT_EQ(RBT_BINARY_LEN4, cols[4].storageType);
  EXPECT_EQ(11, cols[5].sqlType);  // with time zone: still a timestamp
  EXPECT_EQ(RBT_TIMESTAMP, cols[5].storageType);
  EXPECT_EQ(-9, cols[6].sqlType);
  EXPECT_EQ(10, cols[6].columnSize);
  EXPECT_EQ(RBT_WCHAR_NTS, cols[6].storageType);
  EXPECT_GE(cols[6].elementLength, 20);  // room for surrogate pairs
  RB_FreeColDescs(cols, n);

  uint16_t count = 99;
  EXPECT_EQ(0, a.ops->DRV_DescribeCols(q, &count, nullptr));
  EXPECT_EQ(7, count);
  int16_t attrCount = 0;
  ValueRec* attrs = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeColsEx(q, &count, &attrCount, &cols, &attrs));
  EXPECT_EQ(7, count);
  EXPECT_GT(attrCount, 0);
  std::string intName;
  for (int i = 0; i < attrCount; ++i) {
    if (attrs[i].attrId == 14 && attrs[i].column == 3 && attrs[i].value.text != nullptr) {
      intName = attrs[i].value.text;  // from the connection's type map
    }
    EXPECT_GT(attrs[i].attrId, 0);  // pending and undelivered ids stay out
    if (attrs[i].kind == VAL_TEXT) std::free(attrs[i].value.text);
  }
  std::free(attrs);
  EXPECT_EQ("BIGINT", intName);
  RB_FreeColDescs(cols, count);
  a.ops->DRV_FreeStmt(q);
}

TEST_F(AgentH2, FetchesAcrossBlocksWithNullsAndNonAsciiText) {
  const char* names[] = {"a", nullptr, "Ελληνικά", "日本語", "\xF0\x9F\x98\x80\xF0\x90\x8D\x88"};
  AgentHandle s = a.Stmt();
  ParamBlock pb = SixColumns(5);
  for (int r = 0; r < 5; ++r) FillRow(pb, r, r, names[r], r, "2024-01-01", "1");
  ASSERT_EQ(0, Insert(s, pb)) << AgentMessages(a.ops, s);
  a.ops->DRV_FreeStmt(s);

  for (bool wide : {true, false}) {
    AgentSession b;
    // The same in-memory database through a second connection.
    ASSERT_EQ(0, b.Connect(db, "", "", wide));
    AgentHandle q = b.Stmt();
    std::string sql = "SELECT name FROM " + table + " ORDER BY id";
    ASSERT_EQ(0, b.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(b.ops, q);
    ASSERT_EQ(0, b.ops->DRV_Execute(q));
    std::vector<std::string> got;
    std::vector<int> sizes;
    for (;;) {
      Block blk;
      ASSERT_EQ(0, b.ops->DRV_FetchBlock(q, 2, &blk.rb)) << AgentMessages(b.ops, q);
      sizes.push_back(blk.rb.rowCount);
      if (blk.rb.rowCount == 0) break;
      EXPECT_EQ(wide ? RBT_WCHAR_NTS : RBT_CHAR_NTS, blk.rb.columns[0].type);
      for (int r = 0; r < blk.rb.rowCount; ++r)
        got.push_back(blk.IsNull(0, r) ? "<null>" : blk.Text(0, r));
    }
    EXPECT_EQ((std::vector<int>{2, 2, 1, 0}), sizes);
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ("<null>", got[1]);
    EXPECT_EQ(names[2], got[2]);
    EXPECT_EQ(names[3], got[3]);
    EXPECT_EQ(names[4], got[4]) << "wide=" << wide;
    // An exhausted result keeps answering empty blocks.
    Block again;
    EXPECT_EQ(0, b.ops->DRV_FetchBlock(q, 2, &again.rb));
    EXPECT_EQ(0, again.rb.rowCount);
    b.ops->DRV_FreeStmt(q);
  }
}

TEST_F(AgentH2, SelectWithoutMarkersIsOnlyDescribedAtPrepareAndMaxRowsCutsBlocks) {
  AgentHandle s = a.Stmt();
  ParamBlock pb = SixColumns(10);
  for (int r = 0; r < 10; ++r) FillRow(pb, r, r, "x", r, "2024-01-01", "1");
  ASSERT_EQ(0, Insert(s, pb)) << AgentMessages(a.ops, s);
  a.ops->DRV_FreeStmt(s);

  AgentHandle q = a.Stmt();
  std::string sql = "  SELECT id FROM " + table + " ORDER BY id";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str()));
  JStmt* rec = Rec(q);
  // Described, not run: no result exists before the execution.
  EXPECT_EQ(nullptr, rec->resultSet);
  EXPECT_EQ(1, rec->colCount);
  rec->maxRows = 5;
  ASSERT_EQ(0, a.ops->DRV_Execute(q));
  std::vector<int> sizes;
  for (int i = 0; i < 3; ++i) {
    Block blk;
    ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 3, &blk.rb));
    sizes.push_back(blk.rb.rowCount);
  }
  EXPECT_EQ((std::vector<int>{3, 2, 0}), sizes);
  // A second execute runs the statement again.
  ASSERT_EQ(0, a.ops->DRV_Execute(q));
  Block blk;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 3, &blk.rb));
  EXPECT_EQ(3, blk.rb.rowCount);
  EXPECT_EQ(0, a.ops->DRV_CloseCursor(q));
  Block none;
  EXPECT_EQ(22, a.ops->DRV_FetchBlock(q, 3, &none.rb));
  a.ops->DRV_FreeStmt(q);
}

TEST_F(AgentH2, SelectWithSeveralParameterRowsStepsThroughMoreResults) {
  AgentHandle s = a.Stmt();
  ParamBlock pb = SixColumns(3);
  for (int r = 0; r < 3; ++r) FillRow(pb, r, r + 1, "x", r, "2024-01-01", "1");
  ASSERT_EQ(0, Insert(s, pb)) << AgentMessages(a.ops, s);
  a.ops->DRV_FreeStmt(s);

  AgentHandle q = a.Stmt();
  std::string sql = "SELECT id FROM " + table + " WHERE id = ?";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str()));
  uint16_t np = 0;
  AgentColDesc* params = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeParams(q, &np, &params));
  EXPECT_EQ(1, np);
  EXPECT_EQ(12, params[0].sqlType);
  std::free(params);
  ParamBlock ids(1, 3);
  ids.Column(RBT_SLONG, 4);
  for (int r = 0; r < 3; ++r) ids.Set(0, r, int32_t{3 - r});
  SCS_PARAMDESC info = In(4);
  ASSERT_EQ(0, a.ops->DRV_ExecDirect(q, nullptr, ids.Release(), 1, &info));
  std::vector<int32_t> seen;
  for (int step = 0; step < 3; ++step) {
    if (step > 0) {
      ASSERT_EQ(0, a.ops->DRV_MoreResults(q)) << step;
    }
    Block blk;
    ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 5, &blk.rb));
    ASSERT_EQ(1, blk.rb.rowCount);
    seen.push_back(blk.Get<int32_t>(0, 0));
  }
  EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), seen);
  EXPECT_EQ(73, a.ops->DRV_MoreResults(q));
  a.ops->DRV_FreeStmt(q);
}

TEST_F(AgentH2, LongColumnsAreFetchedOneRowPerBlock) {
  a.Exec("CREATE TABLE " + table + "_l (id INT, body CLOB)");
  for (int i = 0; i < 3; ++i) {
    a.Exec("INSERT INTO " + table + "_l VALUES (" + std::to_string(i) + ", REPEAT('ab', 40000))");
  }
  AgentHandle q = a.Stmt();
  std::string sql = "SELECT id, body FROM " + table + "_l ORDER BY id";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);  // a prepare only describes
  std::vector<int> sizes;
  for (int i = 0; i < 4; ++i) {
    Block blk;
    ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 10, &blk.rb));
    sizes.push_back(blk.rb.rowCount);
    if (blk.rb.rowCount == 1) {
      EXPECT_EQ(80000u, blk.Text(1, 0).size());
    }
  }
  EXPECT_EQ((std::vector<int>{1, 1, 1, 0}), sizes);
  a.ops->DRV_FreeStmt(q);
}

TEST_F(AgentH2, SequenceAndReadOnlyRefusals) {
  AgentHandle s = a.Stmt();
  EXPECT_EQ(22, a.ops->DRV_Execute(s));
  std::string sql = "UPDATE " + table + " SET id = ? WHERE id = 1";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, sql.c_str()));
  EXPECT_EQ(48, a.ops->DRV_Execute(s));
  EXPECT_EQ(22, a.ops->DRV_GetCursorName(s, nullptr, 0, nullptr));
  EXPECT_EQ(73, a.ops->DRV_MoreResults(s));
  a.ops->DRV_FreeStmt(s);

  AgentSession ro;
  ASSERT_EQ(0, ro.Connect(db, "", "", true, 1));
  AgentHandle r = ro.Stmt();
  EXPECT_EQ(95, ro.ops->DRV_Prepare(r, sql.c_str()));
  EXPECT_EQ(nullptr, Rec(r)->stmt);
  std::string select = "SELECT id FROM " + table;
  EXPECT_EQ(0, ro.ops->DRV_Prepare(r, select.c_str()));
  ro.ops->DRV_FreeStmt(r);
}

TEST_F(AgentH2, JavaErrorsCarryTheDriversTextAndState) {
  AgentHandle s = a.Stmt();
  EXPECT_EQ(68, a.ops->DRV_Prepare(s, "SELECT * FROM no_such_table_xyz"));
  std::string msgs = AgentMessages(a.ops, s);
  EXPECT_NE(std::string::npos, msgs.find("NO_SUCH_TABLE_XYZ")) << msgs;
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:42S0")) << msgs;
  EXPECT_EQ(68, a.ops->DRV_Prepare(s, "SELECT {fn ucase('a') FROM t"));

  // A failing second row leaves the count of rows done.
  a.Exec("CREATE TABLE " + table + "_u (id INT PRIMARY KEY)");
  std::string ins = "INSERT INTO " + table + "_u VALUES (?)";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, ins.c_str()));
  ParamBlock pb(1, 3);
  pb.Column(RBT_SLONG, 4);
  pb.Set(0, 0, int32_t{1});
  pb.Set(0, 1, int32_t{1});
  pb.Set(0, 2, int32_t{2});
  SCS_PARAMDESC info = In(4);
  int rc = a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 1, &info);
  EXPECT_NE(0, rc);
  EXPECT_EQ(1, Rec(s)->rowCount);
  msgs = AgentMessages(a.ops, s);
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:23")) << msgs;
  a.ops->DRV_FreeStmt(s);
}

struct BindCase {
  int32_t sqlType;
  const char* text;
  int expected;
  const char* state;
};

TEST_F(AgentH2, TextParametersAreCheckedStrictly) {
  a.Exec("CREATE TABLE " + table + "_b (i INT, s SMALLINT, r REAL, d DATE, ts TIMESTAMP)");
  const BindCase cases[] = {
      {4, "12x", 121, "22018"},          {4, "", 121, "22018"},
      {4, "99999999999", 58, "22003"},   {5, "40000", 58, "22003"},
      {7, "1e39", 58, "22003"},          {7, "abc", 121, "22018"},
      {9, "2024-02-30", 119, "22007"},   {9, "2024-13-01", 119, "22007"},
      {9, "garbage", 119, "22007"},      {11, "10:30:00", 119, "22007"},
      {9, "29.02.2024", 0, nullptr},     {11, "2024-02-29 10:30:00.5", 0, nullptr},
      {4, " -42 ", 0, nullptr},          {10, "10:30", 0, nullptr},
  };
  const char* column[] = {"i", "s", "r", "d", "ts"};
  for (const BindCase& c : cases) {
    int col = c.sqlType == 4 ? 0 : c.sqlType == 5 ? 1 : c.sqlType == 7 ? 2 : c.sqlType == 9 ? 3 : 4;
    std::string sql = "INSERT INTO " + table + "_b (" + column[col] + ") VALUES (?)";
    if (c.sqlType == 10) sql = "SELECT CAST(? AS TIME)";
    AgentHandle s = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(s, sql.c_str()));
    ParamBlock pb(1, 1);
    pb.Column(RBT_CHAR_NTS, 40);
    pb.Text(0, 0, c.text);
    SCS_PARAMDESC info = In(c.sqlType);
    int rc = a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 1, &info);
    std::string msgs = AgentMessages(a.ops, s);
    EXPECT_EQ(c.expected, rc) << c.text << " as " << c.sqlType << "\n" << msgs;
    if (c.state != nullptr) {
      EXPECT_NE(std::string::npos, msgs.find(std::string("[SQLSTATE:") + c.state + "]")) << msgs;
    }
    a.ops->DRV_FreeStmt(s);
  }
}

TEST_F(AgentH2, TimestampFractionFromTextIsScaledToNanoseconds) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT CAST(? AS TIMESTAMP)"));
  ParamBlock pb(1, 1);
  pb.Column(RBT_CHAR_NTS, 40);
  pb.Text(0, 0, "2024-02-29 10:30:00.5");
  SCS_PARAMDESC info = In(11);
  ASSERT_EQ(0, a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 1, &info)) << AgentMessages(a.ops, s);
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(s, 1, &b.rb));
  ASSERT_EQ(1, b.rb.rowCount);
  EXPECT_EQ(500000000u, b.Get<JDateTime>(0, 0).fraction);
  a.ops->DRV_FreeStmt(s);
}

TEST_F(AgentH2, ParameterBlockWithTooFewColumnsIsRefused) {
  AgentHandle s = a.Stmt();
  std::string sql = "INSERT INTO " + table + " (id, name) VALUES (?, ?)";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, sql.c_str()));
  ParamBlock pb(1, 1);
  pb.Column(RBT_SLONG, 4);
  pb.Set(0, 0, int32_t{5});
  EXPECT_EQ(48, a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 0, nullptr));
  EXPECT_NE(std::string::npos, AgentMessages(a.ops, s).find("07001"));
  a.ops->DRV_FreeStmt(s);
}

TEST_F(AgentH2, ParametersWithoutDescriptorsGoAsText) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT ? || '|' || ? || '|' || ?"));
  ParamBlock pb(3, 1);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_WCHAR_NTS, 10);
  pb.Column(RBT_DOUBLE, 8);
  pb.Set(0, 0, int32_t{-17});
  pb.Wide(1, 0, u"\u00e9\U0001F600");
  pb.Set(2, 0, 0.25);
  ASSERT_EQ(0, a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 0, nullptr)) << AgentMessages(a.ops, s);
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(s, 1, &b.rb));
  ASSERT_EQ(1, b.rb.rowCount);
  EXPECT_EQ("-17|\u00e9\U0001F600|0.25", b.Text(0, 0));
  a.ops->DRV_FreeStmt(s);
}

TEST_F(AgentH2, CursorNameSetBeforePrepareIsKept) {
  AgentHandle s = a.Stmt();
  EXPECT_EQ(0, a.ops->DRV_SetCursorName(s, "my_cursor"));
  ASSERT_NE(nullptr, Rec(s)->cursorName);
  EXPECT_STREQ("my_cursor", Rec(s)->cursorName);
  std::string sql = "SELECT id FROM " + table;
  EXPECT_EQ(0, a.ops->DRV_Prepare(s, sql.c_str())) << AgentMessages(a.ops, s);
  EXPECT_STREQ("my_cursor", Rec(s)->cursorName);  // kept for the next prepare as well
  a.ops->DRV_FreeStmt(s);
}

}  // namespace
}  // namespace kxtest

namespace kxtest {
namespace {

using namespace kx;

TEST(AgentProbe, ParameterDescriptionsComeFromTheDescribeQueries) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("agprobe")) << AgentMessages(a.ops, a.server);
  std::string t = Unique("t_probe");
  a.Exec("CREATE TABLE " + t + " (a INT, b VARCHAR(20), c DATE)");
  struct Case {
    std::string sql;
    std::vector<int32_t> types;
  } cases[] = {
      {"INSERT INTO " + t + " (a, b, c) VALUES (?, ?, ?)", {4, -9, 9}},
      {"SELECT a FROM " + t + " WHERE c = ? AND a > ?", {9, 4}},
      {"UPDATE " + t + " SET b = ? WHERE a = ?", {-9, 4}},
  };
  for (const Case& c : cases) {
    AgentHandle s = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(s, c.sql.c_str())) << AgentMessages(a.ops, s);
    JStmt* rec = static_cast<JStmt*>(HT_Lookup(&JDB_StmtTable, s));
    ASSERT_EQ(0, JDB_DescribeParamsByProbe(rec)) << c.sql << "\n" << AgentMessages(a.ops, s);
    EXPECT_EQ(1, rec->probed);
    uint16_t n = 0;
    AgentColDesc* params = nullptr;
    ASSERT_EQ(0, a.ops->DRV_DescribeParams(s, &n, &params));
    ASSERT_EQ(c.types.size(), n) << c.sql;
    for (uint16_t i = 0; i < n; ++i) EXPECT_EQ(c.types[i], params[i].sqlType) << c.sql << " #" << i;
    std::free(params);
    a.ops->DRV_FreeStmt(s);
  }
}

}  // namespace
}  // namespace kxtest
