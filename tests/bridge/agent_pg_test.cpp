// The agent against PostgreSQL: long text and binary columns, types ODBC has
// no code for, procedure calls with output parameters, transactions and the
// server's own diagnostics.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "agent_fixture.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_records.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "odbc/connstr.h"
#include "util/handle_table.h"

namespace kxtest {
namespace {

using namespace kx;

SCS_PARAMDESC Param(int32_t sqlType, int16_t direction) {
  return SCS_PARAMDESC{sqlType, 0, 0, 0, direction};
}

TEST(AgentPg, LongTextBinaryAndUnlistedTypesAreDeliveredWhole) {
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  std::string t = Unique("agpg_long");
  a.Exec("DROP TABLE IF EXISTS " + t);
  a.Exec("CREATE TABLE " + t + " (id int, body text, raw bytea, flag boolean, "
         "at timestamptz, j json, u uuid)");
  std::string big(70000, 'x');
  big += "\xF0\x9F\x98\x80";  // a non-BMP character at the end of a long value
  AgentHandle s = a.Stmt();
  std::string ins = "INSERT INTO " + t + " VALUES (?, ?, decode('00ff10', 'hex'), ?, "
                    "TIMESTAMPTZ '2024-02-29 10:30:00+00', '{\"k\": 1}', "
                    "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11')";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, ins.c_str())) << AgentMessages(a.ops, s);
  ParamBlock pb(3, 2);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_CHAR_PTR, 0);
  pb.Column(RBT_BIT, 1);
  for (int r = 0; r < 2; ++r) {
    pb.Set(0, r, int32_t{r});
    void* block = std::malloc(big.size());
    std::memcpy(block, big.data(), big.size());
    RB_SetPtrValue(pb.At(1, r), RBPtrValue{static_cast<uint32_t>(big.size()), block});
    pb.Set(2, r, uint8_t{1});
  }
  pb.Null(1, 1);
  SCS_PARAMDESC infos[3] = {Param(4, 1), Param(-1, 1), Param(-7, 1)};
  ASSERT_EQ(0, a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 3, infos)) << AgentMessages(a.ops, s);
  a.ops->DRV_FreeStmt(s);

  AgentHandle q = a.Stmt();
  std::string sel = "SELECT body, raw, flag, at, j, u FROM " + t + " ORDER BY id";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sel.c_str())) << AgentMessages(a.ops, q);
  uint16_t n = 0;
  AgentColDesc* cols = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeCols(q, &n, &cols));
  ASSERT_EQ(6, n);
  // text and bytea report 2^31-1: long types carried as long values, sizes saturated.
  EXPECT_EQ(-10, cols[0].sqlType);
  EXPECT_EQ(RBT_WCHAR_PTR, cols[0].storageType);
  EXPECT_EQ(0, cols[0].elementLength);
  EXPECT_GT(cols[0].columnSize, 60000);
  EXPECT_EQ(-4, cols[1].sqlType);
  EXPECT_EQ(RBT_BINARY_PTR, cols[1].storageType);
  EXPECT_GT(cols[1].columnSize, 0);
  EXPECT_EQ(-7, cols[2].sqlType);
  EXPECT_EQ(11, cols[3].sqlType);
  // json: text without a width, never an empty zero-width column.
  EXPECT_EQ(-10, cols[4].sqlType);
  EXPECT_EQ(RBT_WCHAR_PTR, cols[4].storageType);
  // uuid: a GUID carried as its 36 characters.
  EXPECT_EQ(-11, cols[5].sqlType);
  EXPECT_EQ(36, cols[5].columnSize);
  EXPECT_EQ(RBT_CHAR_NTS, cols[5].storageType);
  RB_FreeColDescs(cols, n);
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);  // a prepare only describes
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 10, &b.rb)) << AgentMessages(a.ops, q);
  ASSERT_EQ(2, b.rb.rowCount);
  EXPECT_EQ(big, b.Text(0, 0));
  EXPECT_TRUE(b.IsNull(0, 1));
  EXPECT_EQ(std::string("\x00\xff\x10", 3), b.Text(1, 0));
  EXPECT_EQ(1, b.Get<uint8_t>(2, 0));
  JDateTime at = b.Get<JDateTime>(3, 0);
  EXPECT_EQ(2024, at.year);
  EXPECT_EQ(10, at.hour);  // the suite runs with TZ=UTC
  EXPECT_EQ("{\"k\": 1}", b.Text(4, 0));
  EXPECT_EQ("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", b.Text(5, 0));
  a.ops->DRV_FreeStmt(q);
  a.Exec("DROP TABLE " + t);
}

TEST(AgentPg, ProcedureOutputsAreDeliveredOnceThenNoMoreResults) {
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  std::string f = Unique("agpg_proc");
  a.Exec("CREATE OR REPLACE PROCEDURE " + f +
         "(a int, b int, INOUT s int, INOUT t text) AS $$ BEGIN s := a + b; "
         "t := 'sum is ' || (a + b) || ' \u00e9\U0001F600'; END $$ LANGUAGE plpgsql");
  AgentHandle s = a.Stmt();
  std::string call = "{call " + f + "(?, ?, ?, ?)}";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, call.c_str())) << AgentMessages(a.ops, s);
  uint16_t np = 0;
  AgentColDesc* params = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeParams(s, &np, &params));
  ASSERT_EQ(4, np);
  EXPECT_STREQ("*B", params[0].name);
  std::free(params);
  ParamBlock pb(4, 1);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_SLONG, 4);
  pb.Column(RBT_CHAR_NTS, 4);  // far shorter than the output text
  pb.Set(0, 0, int32_t{40});
  pb.Set(1, 0, int32_t{2});
  pb.Null(2, 0);
  pb.Null(3, 0);
  SCS_PARAMDESC infos[4] = {Param(4, 1), Param(4, 1), Param(4, 2), Param(12, 2)};
  ASSERT_EQ(80, a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 4, infos)) << AgentMessages(a.ops, s);
  Block out;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(s, 0, &out.rb)) << AgentMessages(a.ops, s);
  ASSERT_EQ(4, out.rb.colCount);
  ASSERT_EQ(1, out.rb.rowCount);
  EXPECT_EQ(40, out.Get<int32_t>(0, 0));  // inputs stay as they were given
  EXPECT_EQ(0, out.rb.columns[2].indicators[0]);
  EXPECT_EQ(42, out.Get<int32_t>(2, 0));
  EXPECT_EQ(0, out.rb.columns[3].indicators[0]);
  EXPECT_EQ("sum is 42 \u00e9\U0001F600", out.Text(3, 0));  // not cut to the input's width
  EXPECT_EQ(73, a.ops->DRV_MoreResults(s));
  EXPECT_EQ(73, a.ops->DRV_MoreResults(s));
  a.ops->DRV_FreeStmt(s);
  a.Exec("DROP PROCEDURE " + f);
}

TEST(AgentPg, NoAutocommitAndRollback) {
  AgentSession a;
  a.connOptions.noac = 1;
  bool ok = a.ConnectPg();
  ASSERT_TRUE(ok);
  std::string t = Unique("agpg_txn");
  a.Exec("CREATE TABLE " + t + " (id int)");
  ASSERT_EQ(0, a.ops->DRV_Commit(a.conn)) << AgentMessages(a.ops, a.conn);
  a.Exec("INSERT INTO " + t + " VALUES (1)");
  ASSERT_EQ(0, a.ops->DRV_Rollback(a.conn)) << AgentMessages(a.ops, a.conn);
  a.Exec("INSERT INTO " + t + " VALUES (2)");
  ASSERT_EQ(0, a.ops->DRV_Commit(a.conn));
  AgentHandle q = a.Stmt();
  std::string sel = "SELECT id FROM " + t;
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sel.c_str()));
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);  // a prepare only describes
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 10, &b.rb));
  ASSERT_EQ(1, b.rb.rowCount);
  EXPECT_EQ(2, b.Get<int32_t>(0, 0));
  a.ops->DRV_FreeStmt(q);
  a.Exec("DROP TABLE " + t);
  EXPECT_EQ(0, a.ops->DRV_Commit(a.conn));
}

TEST(AgentPg, ServerErrorsKeepTheirSqlState) {
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  AgentHandle s = a.Stmt();
  int rc = a.ops->DRV_Prepare(s, "SELECT * FROM agpg_no_such_table");
  EXPECT_NE(0, rc);
  std::string msgs = AgentMessages(a.ops, s);
  EXPECT_NE(std::string::npos, msgs.find("agpg_no_such_table")) << msgs;
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:42P01]")) << msgs;
  // With a marker the statement is only described at prepare: the server's
  // refusal of the description is reported, and describing stays on.
  rc = a.ops->DRV_Prepare(s, "SELECT * FROM agpg_no_such_table WHERE a = ?");
  EXPECT_NE(0, rc);
  msgs = AgentMessages(a.ops, s);
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:42P01]")) << msgs;
  EXPECT_EQ(1, static_cast<JConn*>(HT_Lookup(&JDB_ConnTable, a.conn))->preparedDescribe);
  // Markers the server cannot type before values are bound (unknown +
  // unknown): the prepare succeeds and the result is described after it runs.
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT ? + ? AS total")) << AgentMessages(a.ops, s);
  {
    ParamBlock two(2, 1);
    two.Column(RBT_SLONG, 4);
    two.Column(RBT_SLONG, 4);
    two.Set(0, 0, int32_t{2});
    two.Set(1, 0, int32_t{3});
    SCS_PARAMDESC infos[2] = {Param(4, 1), Param(4, 1)};
    ASSERT_EQ(0, a.ops->DRV_ExecDirect(s, nullptr, two.Release(), 2, infos)) << AgentMessages(a.ops, s);
    Block b;
    ASSERT_EQ(0, a.ops->DRV_FetchBlock(s, 5, &b.rb)) << AgentMessages(a.ops, s);
    ASSERT_EQ(1, b.rb.rowCount);
    EXPECT_EQ(5, b.Get<int32_t>(0, 0));
  }
  // Division by zero happens at execution of a statement with a marker.
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT 1 / (? - 1)")) << AgentMessages(a.ops, s);
  ParamBlock pb(1, 1);
  pb.Column(RBT_SLONG, 4);
  pb.Set(0, 0, int32_t{1});
  SCS_PARAMDESC info = Param(4, 1);
  rc = a.ops->DRV_ExecDirect(s, nullptr, pb.Release(), 1, &info);
  EXPECT_NE(0, rc);
  msgs = AgentMessages(a.ops, s);
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:22012]")) << msgs;
  a.ops->DRV_FreeStmt(s);
}

// SQLCancel's road: the agent's cancel runs on another thread (attached
// there) while the statement's own thread waits inside the JDBC driver.
TEST(AgentPg, CancelFromAnotherThreadStopsARunningStatement) {
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  AgentHandle s = a.Stmt();
  EXPECT_EQ(0, a.ops->DRV_Cancel(s));  // nothing runs yet: nothing to stop
  int cancelled = -1;
  std::atomic<bool> done{false};
  // Until the statement returns: a cancel that comes while the statement is
  // still being prepared, before it runs, stops nothing.
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    while (!done.load()) {
      cancelled = a.ops->DRV_Cancel(s);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const int rc = a.ops->DRV_ExecDirect(s, "SELECT pg_sleep(30) AS slept", nullptr, 0, nullptr);
  done.store(true);
  canceller.join();
  EXPECT_NE(0, rc);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(0, cancelled);
  EXPECT_LT(waited, std::chrono::seconds(20));
  std::string msgs = AgentMessages(a.ops, s);
  // The database's "query canceled" (57014) reports the cancel itself, its
  // text kept after the driver's.
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:S1008]")) << "rc " << rc << ": " << msgs;
  EXPECT_NE(std::string::npos, msgs.find("Operation cancelled: ")) << msgs;
  EXPECT_NE(std::string::npos, msgs.find("canceling statement")) << msgs;
  // The statement is usable again.
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT 7")) << AgentMessages(a.ops, s);
  a.ops->DRV_FreeStmt(s);
}

}  // namespace
}  // namespace kxtest

namespace kxtest {
namespace {

using namespace kx;

// What the JDBC result set reads per round trip.
int32_t FetchSizeOf(AgentHandle q) {
  JStmt* s = static_cast<JStmt*>(HT_Lookup(&JDB_StmtTable, q));
  if (s == nullptr || s->resultSet == nullptr) return -1;
  JNIEnv* env = s->jni;
  jclass rs = env->FindClass("java/sql/ResultSet");
  jmethodID get = rs != nullptr ? env->GetMethodID(rs, "getFetchSize", "()I") : nullptr;
  const jint n = get != nullptr ? env->CallIntMethod(s->resultSet, get) : -1;
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (rs != nullptr) env->DeleteLocalRef(rs);
  return n;
}

// A streamed result of narrow rows reads many of them per round trip once
// its first block shows their width, wider rows fewer, so that a round
// trip's rows stay within what the young generation keeps apart from the
// old one; a result with a long column keeps the first, smaller size, so
// its memory stays bounded. The rows are all there.
TEST(AgentPg, NarrowRowsAreReadManyPerRoundTripLongOnesFew) {
  AgentSession a;
  a.connOptions.noac = 1;  // PostgreSQL streams only inside a transaction
  ASSERT_TRUE(a.ConnectPg());
  struct Case {
    const char* sql;
    int32_t leastPerTrip;
    int32_t mostPerTrip;
  };
  const Case cases[] = {
      {"SELECT g FROM generate_series(1, 30000) AS g", JDB_FETCH_ROWS_MAX, JDB_FETCH_ROWS_MAX},
      {"SELECT g, CAST('row ' || g AS VARCHAR(20)), CAST(g AS NUMERIC(12,2)), g / 7.0::float8, "
       "TIMESTAMP '2024-01-01' + g * INTERVAL '1 second', CAST('name ' || g AS VARCHAR(40)) "
       "FROM generate_series(1, 30000) AS g",
       JDB_FETCH_ROWS + 1, static_cast<int32_t>(JDB_FETCH_BYTES / 200)},
      {"SELECT g, repeat('x', 10) AS body FROM generate_series(1, 30000) AS g", JDB_FETCH_ROWS, JDB_FETCH_ROWS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    AgentHandle q = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(q, c.sql)) << AgentMessages(a.ops, q);
    ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
    EXPECT_EQ(JDB_FETCH_ROWS, FetchSizeOf(q));
    int32_t rows = 0;
    for (int guard = 0; guard < 40000; ++guard) {
      Block b;
      ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 100, &b.rb)) << AgentMessages(a.ops, q);
      if (b.rb.rowCount == 0) break;
      if (rows == 0) {
        const int32_t perTrip = FetchSizeOf(q);
        EXPECT_LE(c.leastPerTrip, perTrip);
        EXPECT_GE(c.mostPerTrip, perTrip);
      }
      ASSERT_EQ(rows + 1, b.Get<int32_t>(0, 0));
      rows += b.rb.rowCount;
    }
    EXPECT_EQ(30000, rows);
    a.ops->DRV_FreeStmt(q);
  }
  EXPECT_EQ(0, a.ops->DRV_Commit(a.conn));
}

}  // namespace
}  // namespace kxtest
