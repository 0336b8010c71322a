// Agent properties through the agent's table: capabilities, connection and
// statement options that round-trip, the settling of cursor options, and the
// SQLGetInfo answers on H2 and PostgreSQL.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "agent_fixture.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_info.h"
#include "drv_jdbc/j_props.h"
#include "drv_jdbc/j_records.h"

namespace kxtest {
namespace {

using namespace kx;

// An integer property; the status in *rc.
int32_t GetInt(AgentSession& a, AgentHandle h, AgentPropertyId id, int* rc = nullptr) {
  int32_t v = -12345;
  uint16_t length = 0;
  int status = a.ops->DRV_GetProperty(h, id, &v, sizeof v, &length);
  if (rc != nullptr) *rc = status;
  if (status == 0) {
    EXPECT_EQ(4, length);
  }
  return v;
}

std::string GetText(AgentSession& a, AgentHandle h, AgentPropertyId id, int* rc = nullptr,
                    uint16_t capacity = 4096) {
  std::string buffer(capacity, '\x7f');
  uint16_t length = 0;
  int status = a.ops->DRV_GetProperty(h, id, buffer.data(), capacity, &length);
  if (rc != nullptr) *rc = status;
  if (status != 0) return "<" + std::to_string(status) + ">";
  std::string text = buffer.c_str();
  EXPECT_EQ(text.size(), length);
  return text;
}

int Set(AgentSession& a, AgentHandle h, AgentPropertyId id, int32_t v) {
  return a.ops->DRV_SetProperty(h, id, &v);
}

JConn* Rec(AgentSession& a) { return JDB_FindConn(a.conn); }

class Props : public ::testing::TestWithParam<const char*> {
 protected:
  AgentSession a;
  bool pg = false;
  void SetUp() override {
    pg = std::string(GetParam()) == "pg";
    if (pg) {
      ASSERT_TRUE(a.ConnectPg());
    } else {
      ASSERT_EQ(0, a.ConnectH2("aprop")) << AgentMessages(a.ops, a.server);
    }
  }
};

TEST(PropsEnv, EnvironmentAnswersItsKindAndNothingElse) {
  AgentSession a;
  JDB_BrokerKnown = 0;
  EXPECT_EQ("jdbc", GetText(a, a.server, 0x11010000));
  EXPECT_EQ(1, JDB_BrokerKnown);
  int rc = 0;
  GetInt(a, a.server, 0x12010001, &rc);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(43, Set(a, a.server, 0x12010001, 1));
  EXPECT_EQ(21, a.ops->DRV_GetProperty(0xDEAD, 0x11010000, nullptr, 0, nullptr));
  EXPECT_EQ(21, Set(a, 0xDEAD, 0x22030000, 1));
  EXPECT_EQ(21, Set(a, 0xDEAD, 0x32030001, 1));
}

TEST_P(Props, CapabilitiesAndConnectionOptionsRoundTrip) {
  EXPECT_EQ(0, Rec(a)->dynCursorCapable);
  EXPECT_EQ(13727, GetInt(a, a.conn, AP_CONN_CAPABILITY_MASK));
  EXPECT_EQ(1, Rec(a)->dynCursorCapable);
  Rec(a)->opts.noac = 1;
  EXPECT_EQ(13471, GetInt(a, a.conn, AP_CONN_CAPABILITY_MASK));
  EXPECT_EQ(255, GetInt(a, a.conn, 0x22010009));
  EXPECT_EQ(1, GetInt(a, a.conn, AP_CONN_UNICODE_CLIENT));  // the session is a wide client
  int rc = 0;
  GetInt(a, a.conn, 0x220100FF, &rc);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(43, Set(a, a.conn, AP_CONN_OPEN_OPTION, 1));
  EXPECT_EQ(43, a.ops->DRV_SetProperty(a.conn, AP_CONN_OPEN_OPTION, nullptr));
  EXPECT_EQ(21, a.ops->DRV_SetProperty(a.conn, AP_CONN_AUTOCOMMIT, nullptr));
  EXPECT_EQ(21, a.ops->DRV_SetProperty(a.conn, AP_CONN_SET_CATALOG, nullptr));

  // Autocommit, access mode and isolation as the database keeps them.
  EXPECT_EQ(1, GetInt(a, a.conn, AP_CONN_AUTOCOMMIT));
  EXPECT_EQ(0, Set(a, a.conn, AP_CONN_AUTOCOMMIT, 0));
  EXPECT_EQ(0, GetInt(a, a.conn, AP_CONN_AUTOCOMMIT));
  EXPECT_EQ(0, Set(a, a.conn, AP_CONN_AUTOCOMMIT, 1));
  EXPECT_EQ(0, Set(a, a.conn, AP_CONN_READONLY, 1));
  EXPECT_EQ(1, GetInt(a, a.conn, AP_CONN_READONLY));
  EXPECT_EQ(0, Set(a, a.conn, AP_CONN_READONLY, 0));
  for (int32_t level : {SQL_TXN_SERIALIZABLE, SQL_TXN_READ_COMMITTED}) {
    EXPECT_EQ(0, Set(a, a.conn, AP_CONN_ISOLATION, level)) << AgentMessages(a.ops, a.conn);
    EXPECT_EQ(level, GetInt(a, a.conn, AP_CONN_ISOLATION));
  }
  EXPECT_EQ(0, Set(a, a.conn, AP_CONN_MULTI_ACTIVE_STMTS, 1));
  EXPECT_EQ(1, Rec(a)->multipleActive);
  EXPECT_EQ(0, GetInt(a, a.conn, AP_CONN_GETINFO_INT + SQL_MAX_CONCURRENT_ACTIVITIES));

  // The current catalog; a cut copy is still an answer.
  std::string catalog = GetText(a, a.conn, AP_CONN_CATALOG);
  EXPECT_FALSE(catalog.empty());
  EXPECT_EQ(0, a.ops->DRV_SetProperty(a.conn, AP_CONN_SET_CATALOG, catalog.c_str()))
      << AgentMessages(a.ops, a.conn);
  rc = -1;
  EXPECT_EQ(catalog.substr(0, 2), GetText(a, a.conn, AP_CONN_CATALOG, &rc, 3));
  EXPECT_EQ(0, rc);
}

TEST_P(Props, StatementOptionsRoundTripAndAreCapped) {
  AgentHandle s = a.Stmt();
  // With MAXROWS 100 the cap wins over 0 and over larger values.
  Rec(a)->opts.maxRows = 100;
  const struct {
    int32_t set, rc, kept;
  } maxRows[] = {{50, 0, 50}, {0, 75, 100}, {500, 75, 100}, {100, 0, 100}};
  for (const auto& k : maxRows) {
    EXPECT_EQ(k.rc, Set(a, s, AP_STMT_MAX_ROWS, k.set)) << k.set;
    EXPECT_EQ(k.kept, GetInt(a, s, AP_STMT_MAX_ROWS));
  }
  // Rowset sizes above 100 need NRSSL.
  EXPECT_EQ(75, Set(a, s, AP_STMT_ROWSET_SIZE, 150));
  EXPECT_EQ(100, GetInt(a, s, AP_STMT_ROWSET_SIZE));
  Rec(a)->opts.nrssl = 1;
  EXPECT_EQ(0, Set(a, s, AP_STMT_ROWSET_SIZE, 150));
  EXPECT_EQ(150, GetInt(a, s, AP_STMT_ROWSET_SIZE));
  // Keyset sizes wait for a dynamic-capable connection; then at most 5000.
  EXPECT_EQ(75, Set(a, s, AP_STMT_KEYSET_SIZE, 10));
  EXPECT_EQ(0, GetInt(a, s, AP_STMT_KEYSET_SIZE));
  GetInt(a, a.conn, AP_CONN_CAPABILITY_MASK);
  EXPECT_EQ(0, Set(a, s, AP_STMT_KEYSET_SIZE, 6000));
  EXPECT_EQ(5000, GetInt(a, s, AP_STMT_KEYSET_SIZE));

  const AgentPropertyId plain[] = {AP_STMT_NOSCAN, AP_STMT_MAX_LENGTH, AP_STMT_SIMULATE_CURSOR,
                                   AP_STMT_RETRIEVE_DATA, AP_STMT_USE_BOOKMARKS};
  for (AgentPropertyId id : plain) {
    EXPECT_EQ(0, Set(a, s, id, 1)) << std::hex << id;
    EXPECT_EQ(1, GetInt(a, s, id)) << std::hex << id;
  }
  EXPECT_EQ(21, Set(a, s, AP_STMT_OPTIMISTIC_MODE, 3));
  EXPECT_EQ(1, GetInt(a, s, AP_STMT_OPTIMISTIC_MODE));
  EXPECT_EQ(0, Set(a, s, AP_STMT_OPTIMISTIC_MODE, 2));
  EXPECT_EQ(2, GetInt(a, s, AP_STMT_OPTIMISTIC_MODE));
  EXPECT_EQ(0, GetInt(a, s, 0x3203000D));
  int rc = 0;
  GetInt(a, s, 0x32030063, &rc);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(43, Set(a, s, 0x32030063, 1));
  EXPECT_EQ(43, a.ops->DRV_SetProperty(s, 0x32030063, nullptr));  // the value is not read

  // The query timeout lives on the Java statement once there is one.
  EXPECT_EQ(0, GetInt(a, s, AP_STMT_QUERY_TIMEOUT));
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, "SELECT 1 FROM (VALUES (1)) AS t(x) WHERE x = ?"))
      << AgentMessages(a.ops, s);
  EXPECT_EQ(0, Set(a, s, AP_STMT_QUERY_TIMEOUT, 7)) << AgentMessages(a.ops, s);
  EXPECT_EQ(7, GetInt(a, s, AP_STMT_QUERY_TIMEOUT));
  a.ops->DRV_FreeStmt(s);
  EXPECT_EQ(21, a.ops->DRV_GetProperty(s, AP_STMT_MAX_ROWS, nullptr, 0, nullptr));
}

TEST_P(Props, RowCountOfChangesAndMinusOneForQueries) {
  std::string t = Unique("aprop_rc");
  a.Exec("CREATE TABLE " + t + " (id INTEGER)");
  a.Exec("INSERT INTO " + t + " VALUES (1), (2), (3)");
  AgentHandle s = a.Stmt();
  std::string upd = "UPDATE " + t + " SET id = id + 1";
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, upd.c_str()));
  ASSERT_EQ(0, a.ops->DRV_Execute(s)) << AgentMessages(a.ops, s);
  EXPECT_EQ(3, GetInt(a, s, AP_STMT_ROW_COUNT));
  std::string sel = "SELECT id FROM " + t;
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, sel.c_str()));
  ASSERT_EQ(0, a.ops->DRV_Execute(s));
  EXPECT_EQ(-1, GetInt(a, s, AP_STMT_ROW_COUNT));
  EXPECT_EQ(0, GetInt(a, s, AP_STMT_SERIAL));
  a.ops->DRV_FreeStmt(s);
  a.Exec("DROP TABLE " + t);
}

TEST_P(Props, CursorOptionsSettleOnWhatTheAgentOffers) {
  AgentHandle s = a.Stmt();
  GetInt(a, a.conn, AP_CONN_CAPABILITY_MASK);
  struct Case {
    AgentPropertyId id;
    int32_t asked, rc, kept;
  };
  // What the cursor layer over the agent serves: forward-only, static,
  // keyset-driven and dynamic cursors, read-only, lock, row-version or
  // values concurrency.
  const Case cases[] = {
      {AP_STMT_CURSOR_TYPE, 0, 0, 0},
      {AP_STMT_CURSOR_TYPE, 3, 0, 3},
      {AP_STMT_CURSOR_TYPE, 2, 0, 2},
      {AP_STMT_CURSOR_TYPE, 1, 0, 1},
      {AP_STMT_CONCURRENCY, 1, 0, 1},
      {AP_STMT_CONCURRENCY, 2, 0, 2},
      {AP_STMT_CONCURRENCY, 3, 0, 3},
      {AP_STMT_CONCURRENCY, 4, 0, 4},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(k.rc, Set(a, s, k.id, k.asked)) << std::hex << k.id << " " << k.asked;
    EXPECT_EQ(k.kept, GetInt(a, s, k.id)) << std::hex << k.id << " " << k.asked;
  }
  EXPECT_EQ(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED | SQL_SO_DYNAMIC,
            GetInt(a, a.conn, AP_CONN_GETINFO_INT + SQL_SCROLL_OPTIONS));
  EXPECT_EQ(SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK | SQL_SCCO_OPT_ROWVER | SQL_SCCO_OPT_VALUES,
            GetInt(a, a.conn, AP_CONN_GETINFO_INT + SQL_SCROLL_CONCURRENCY));
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Props, EveryInformationTypeHasASaneAnswer) {
  // Types the core asks as numbers, and as texts.
  std::vector<uint16_t> numbers = {0, 1, 8, 9, 12, 15, 22, 23, 24, 26, 28, 30, 31, 32, 33, 34,
                                   35, 43, 44, 46, 48, 49, 50, 51, 52, 72, 74, 75, 78, 79, 80,
                                   81, 82, 83, 84, 85, 86, 88, 91, 92, 93, 95, 96, 97, 98, 99,
                                   100, 101, 102, 104, 105, 106, 107, 108, 109, 110, 112, 114,
                                   115, 116, 117, 118, 65003, 10001, 10005, 10021, 10022};
  for (uint16_t t = 53; t <= 71; ++t) numbers.push_back(t);
  for (uint16_t t = 119; t <= 170; ++t) numbers.push_back(t);
  numbers.push_back(172);
  for (uint16_t t : numbers) {
    int rc = -1;
    GetInt(a, a.conn, AP_CONN_GETINFO_INT + t, &rc);
    EXPECT_EQ(0, rc) << "type " << t << " " << AgentMessages(a.ops, a.conn);
  }
  const uint16_t texts[] = {2,  6,  7,  10, 11, 13, 14, 16, 17, 18, 19, 20, 21,  25,  27,
                            29, 36, 37, 38, 39, 40, 41, 42, 45, 47, 73, 77, 87,  89,  90,
                            94, 103, 111, 113, 10000, 10002, 10003, 10004};
  for (uint16_t t : texts) {
    int rc = -1;
    GetText(a, a.conn, AP_CONN_GETINFO_TEXT + t, &rc);
    EXPECT_EQ(0, rc) << "type " << t << " " << AgentMessages(a.ops, a.conn);
  }
  int rc = 0;
  GetInt(a, a.conn, AP_CONN_GETINFO_INT + SQL_DM_VER, &rc);
  EXPECT_EQ(1, rc);
  GetText(a, a.conn, AP_CONN_GETINFO_TEXT + 9999, &rc);
  EXPECT_EQ(1, rc);

  const auto num = [&](uint16_t t) { return GetInt(a, a.conn, AP_CONN_GETINFO_INT + t); };
  const auto text = [&](uint16_t t) { return GetText(a, a.conn, AP_CONN_GETINFO_TEXT + t); };
  EXPECT_EQ(pg ? "PostgreSQL" : "H2", text(SQL_DBMS_NAME));
  EXPECT_EQ(text(SQL_DBMS_NAME), text(SQL_SERVER_NAME));
  EXPECT_FALSE(text(SQL_DBMS_VER).empty());
  EXPECT_EQ("\"", text(SQL_IDENTIFIER_QUOTE_CHAR));
  EXPECT_EQ("Y", text(SQL_COLUMN_ALIAS));
  EXPECT_EQ(GetText(a, a.conn, AP_CONN_CATALOG), text(SQL_DATABASE_NAME));
  std::string driver = text(SQL_DRIVER_NAME);
  EXPECT_EQ(".so", driver.substr(driver.size() - 3)) << driver;
  const char* pgUser = std::getenv("KX_PG_USER");
  EXPECT_EQ(pg ? std::string(pgUser != nullptr ? pgUser : "?") : "",
            text(SQL_USER_NAME));  // H2 was opened without a user
  // What the cursor layer builds on: null order and identifier case as the
  // database has them.
  EXPECT_EQ(pg ? SQL_NC_HIGH : SQL_NC_LOW, num(SQL_NULL_COLLATION));
  EXPECT_EQ(pg ? SQL_IC_LOWER : SQL_IC_UPPER, num(SQL_IDENTIFIER_CASE));
  EXPECT_EQ(SQL_IC_SENSITIVE, num(SQL_QUOTED_IDENTIFIER_CASE));
  EXPECT_NE(0u, num(SQL_NUMERIC_FUNCTIONS) & SQL_FN_NUM_ABS);
  EXPECT_NE(0u, num(SQL_STRING_FUNCTIONS) & (SQL_FN_STR_LENGTH | SQL_FN_STR_CONCAT));
  EXPECT_NE(0u, num(SQL_TXN_ISOLATION_OPTION) & SQL_TXN_READ_COMMITTED);
  EXPECT_EQ(SQL_TXN_READ_COMMITTED, num(SQL_DEFAULT_TXN_ISOLATION));
  EXPECT_NE(0u, num(SQL_UNION) & SQL_U_UNION_ALL);
  EXPECT_EQ(SQL_CB_CLOSE, num(SQL_CURSOR_COMMIT_BEHAVIOR) & SQL_CB_CLOSE);
  EXPECT_NE(0, num(SQL_TXN_CAPABLE));
  // PostgreSQL's driver claims no conversions at all.
  EXPECT_EQ(pg ? 0u : static_cast<uint32_t>(SQL_CVT_VARCHAR),
            num(SQL_CONVERT_INTEGER) & SQL_CVT_VARCHAR);

  // Connect options that stand in for the database's own answers.
  JConn* c = Rec(a);
  c->opts.sqlDbmsName = strdup("Quill DB");
  c->opts.jNsqi = 1;
  c->opts.nssse = 1;
  EXPECT_EQ("Quill DB", text(SQL_DBMS_NAME));
  EXPECT_EQ(pg ? "PostgreSQL" : "H2", text(SQL_SERVER_NAME));
  EXPECT_EQ(" ", text(SQL_IDENTIFIER_QUOTE_CHAR));
  EXPECT_EQ("", text(SQL_SEARCH_PATTERN_ESCAPE));
  // DYN_CURS_SENSITIVITY=DISABLED withdraws the dynamic cursor.
  c->opts.dynCursSensitivity = 2;
  EXPECT_EQ(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED, num(SQL_SCROLL_OPTIONS));
  EXPECT_EQ(0, num(SQL_DYNAMIC_CURSOR_ATTRIBUTES1));
  c->opts.dynCursSensitivity = 0;
}

TEST(PropsH2, AFailingMetadataCallGivesItsCodeAndNoAnswer) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("aprop_fail"));
  // With the Java connection closed under it, H2's metadata refuses to answer.
  JConn* c = Rec(a);
  c->jni = Jni();
  ASSERT_EQ(0, JC_Connection_close(c, c->conn));
  for (uint16_t t : {SQL_IDENTIFIER_CASE, SQL_USER_NAME}) {
    int rc = 0;
    EXPECT_EQ(-12345, GetInt(a, a.conn, AP_CONN_GETINFO_INT + t, &rc)) << t;  // untouched
    EXPECT_NE(0, rc) << t;
    EXPECT_NE("", AgentMessages(a.ops, a.conn)) << t;
  }
}

INSTANTIATE_TEST_SUITE_P(Db, Props, ::testing::Values("h2", "pg"));

TEST(PropsInfo, FunctionListsBecomeBitsOfTheirCategory) {
  HashTable* map = JDB_MakeFunctionNameMap();
  ASSERT_NE(nullptr, map);
  struct Case {
    const char* list;
    uint32_t category, mask;
  };
  const Case cases[] = {
      {"ABS,ceiling, MOD", 1, SQL_FN_NUM_ABS | SQL_FN_NUM_CEILING | SQL_FN_NUM_MOD},
      {"  abs ,NOSUCH,,LOG10", 1, SQL_FN_NUM_ABS | SQL_FN_NUM_LOG10},
      {"ABS,LENGTH", 2, SQL_FN_STR_LENGTH},  // a numeric name adds nothing to strings
      {"USER,USERNAME,DATABASE", 3, SQL_FN_SYS_USERNAME},
      {"CURDATE,TIMESTAMPDIFF", 4, SQL_FN_TD_CURDATE | SQL_FN_TD_TIMESTAMPDIFF},
      {"", 1, 0},
  };
  for (const Case& k : cases) {
    std::string list = k.list;
    EXPECT_EQ(k.mask, JDB_FunctionListMask(list.data(), map, k.category)) << k.list;
  }
  std::string list = "ABS";
  EXPECT_EQ(0u, JDB_FunctionListMask(list.data(), nullptr, 1));
  HashDestroy(map);
}

}  // namespace
}  // namespace kxtest
