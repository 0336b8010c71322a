// Load and server failures on PostgreSQL: threads on their own connections
// inserting, reading back and committing at once, every row checked; a
// backend terminated under an open result, and an idle connection whose
// backend is gone, found dead; committed rows intact afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

class Stress : public RoadTest {
 protected:
  // Ends a backend from the fixture's connection.
  void Terminate(const std::string& pid) {
    const std::string done = Scalar("SELECT CASE WHEN pg_terminate_backend(" + pid + ") THEN 1 ELSE 0 END");
    EXPECT_EQ(done, "1");
  }
};

// One connection of its own, closed at scope end.
struct OwnConn {
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ~OwnConn() {
    if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (dbc != SQL_NULL_HDBC) {
      SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
  }
};

// Failures of worker threads, reported by the test's own thread.
class Problems {
 public:
  void Add(const std::string& what) {
    std::lock_guard<std::mutex> hold(lock_);
    if (list_.size() < 20) list_.push_back(what);
  }
  std::string All() {
    std::lock_guard<std::mutex> hold(lock_);
    std::string out;
    for (const std::string& p : list_) out += p + "\n";
    return out;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> list_;
};

std::string Text(int thread, int row) {
  return "thread " + std::to_string(thread) + " row " + std::to_string(row) + " \xC3\xA9";
}

SQLUINTEGER Dead(SQLHDBC dbc) {
  SQLUINTEGER dead = 77;
  if (SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr) != SQL_SUCCESS) return 99;
  return dead;
}

constexpr int kThreads = 6;
constexpr int kRows = 150;
constexpr int kCommitEvery = 20;

// One worker: prepared inserts with bound parameters committed in groups, a
// group rolled back, then its rows read back through bound columns.
using SqlCall = std::function<SQLRETURN(SQLHSTMT, const std::string&)>;

void Worker(const std::string& table, int id, SQLHENV env, Problems* problems, const SqlCall& prepare,
            const SqlCall& exec, const std::string& connect) {
  auto fail = [&](const char* what, SQLSMALLINT type, SQLHANDLE h) {
    problems->Add("thread " + std::to_string(id) + ": " + what + ": " + Diag(type, h));
  };
  OwnConn c;
  if (SQLAllocHandle(SQL_HANDLE_DBC, env, &c.dbc) != SQL_SUCCESS) return fail("alloc", SQL_HANDLE_ENV, env);
  std::string cs = connect;
  if (!SQL_SUCCEEDED(SQLDriverConnect(c.dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS,
                                      nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    return fail("connect", SQL_HANDLE_DBC, c.dbc);
  }
  SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &c.stmt);
  if (!SQL_SUCCEEDED(prepare(c.stmt, "INSERT INTO " + table + " (T, N, V) VALUES (?, ?, ?)"))) {
    return fail("prepare", SQL_HANDLE_STMT, c.stmt);
  }
  SQLINTEGER t = id, n = 0;
  SQLCHAR v[64];
  SQLLEN vLen = SQL_NTS;
  SQLBindParameter(c.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &t, 0, nullptr);
  SQLBindParameter(c.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &n, 0, nullptr);
  SQLBindParameter(c.stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, v, sizeof v, &vLen);
  auto insert = [&](int row) {
    n = row;
    std::snprintf(reinterpret_cast<char*>(v), sizeof v, "%s", Text(id, row).c_str());
    if (!SQL_SUCCEEDED(SQLExecute(c.stmt))) {
      fail("insert", SQL_HANDLE_STMT, c.stmt);
      return false;
    }
    return true;
  };
  for (int row = 1; row <= kRows; ++row) {
    if (!insert(row)) return;
    if (row % kCommitEvery == 0 && !SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT))) {
      return fail("commit", SQL_HANDLE_DBC, c.dbc);
    }
  }
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT))) return fail("commit", SQL_HANDLE_DBC, c.dbc);
  // Rows of a rolled-back group never show.
  for (int row = kRows + 1; row <= kRows + 5; ++row) {
    if (!insert(row)) return;
  }
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK))) return fail("rollback", SQL_HANDLE_DBC, c.dbc);
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT))) return fail("commit", SQL_HANDLE_DBC, c.dbc);

  SQLFreeStmt(c.stmt, SQL_RESET_PARAMS);
  if (!SQL_SUCCEEDED(exec(c.stmt, "SELECT N, V FROM " + table + " WHERE T = " + std::to_string(id) +
                                                " ORDER BY N"))) {
    return fail("select", SQL_HANDLE_STMT, c.stmt);
  }
  SQLINTEGER got = 0;
  SQLCHAR text[64];
  SQLLEN gotInd = 0, textInd = 0;
  SQLBindCol(c.stmt, 1, SQL_C_SLONG, &got, 0, &gotInd);
  SQLBindCol(c.stmt, 2, SQL_C_CHAR, text, sizeof text, &textInd);
  int rows = 0;
  for (SQLRETURN rc = SQLFetch(c.stmt); rc != SQL_NO_DATA; rc = SQLFetch(c.stmt)) {
    if (!SQL_SUCCEEDED(rc)) return fail("fetch", SQL_HANDLE_STMT, c.stmt);
    ++rows;
    const std::string expected = Text(id, rows);
    if (got != rows || std::strcmp(reinterpret_cast<char*>(text), expected.c_str()) != 0 ||
        textInd != static_cast<SQLLEN>(expected.size())) {
      problems->Add("thread " + std::to_string(id) + ": row " + std::to_string(rows) + " read back as " +
                    std::to_string(got) + " '" + reinterpret_cast<char*>(text) + "'");
      return;
    }
  }
  if (rows != kRows) problems->Add("thread " + std::to_string(id) + ": " + std::to_string(rows) + " rows");
  SQLFreeStmt(c.stmt, SQL_CLOSE);
  SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT);
}

TEST_P(Stress, ThreadsOnTheirOwnConnectionsInsertReadBackAndCommit) {
  const std::string t = Table("stress", "T INTEGER NOT NULL, N INTEGER NOT NULL, V VARCHAR(40), PRIMARY KEY (T, N)");
  Problems problems;
  std::vector<std::thread> threads;
  const std::string connect = ConnectString(GetParam());
  const SqlCall prepare = [this](SQLHSTMT s, const std::string& sql) { return Prepare(s, sql); };
  const SqlCall exec = [this](SQLHSTMT s, const std::string& sql) { return ExecDirect(s, sql); };
  for (int id = 1; id <= kThreads; ++id) {
    threads.emplace_back(Worker, t, id, env_, &problems, std::cref(prepare), std::cref(exec),
                         std::cref(connect));
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(problems.All(), "");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), std::to_string(kThreads * kRows));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t + " WHERE N > " + std::to_string(kRows)), "0");
  EXPECT_EQ(Dead(dbc_), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
}

// The backend of a connection is terminated while its result is open and
// only partly read: the next fetch that needs the server fails, the
// connection says it is dead, a new connection works and the committed rows
// are all there.
TEST_P(Stress, BackendTerminatedMidFetch) {
  constexpr int kTotal = 30000;  // several of the blocks the JDBC driver reads per round trip
  const std::string t = Table("killed", "N INTEGER NOT NULL PRIMARY KEY");
  Exec("INSERT INTO " + t + " SELECT g FROM generate_series(1, " + std::to_string(kTotal) + ") g");

  OwnConn victim;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &victim.dbc), SQL_SUCCESS);
  KX_OK(Connect(victim.dbc), SQL_HANDLE_DBC, victim.dbc);
  // Outside autocommit the JDBC driver reads a large result block by block.
  KX_OK(SQLSetConnectAttr(victim.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, victim.dbc);
  const std::string pid = Scalar("SELECT pg_backend_pid()", victim.dbc);
  ASSERT_GT(std::atoi(pid.c_str()), 0) << pid;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, victim.dbc, &victim.stmt), SQL_SUCCESS);
  KX_OK(ExecDirect(victim.stmt, "SELECT N FROM " + t + " ORDER BY N"), SQL_HANDLE_STMT, victim.stmt);
  SQLINTEGER n = 0;
  SQLLEN ind = 0;
  SQLBindCol(victim.stmt, 1, SQL_C_SLONG, &n, 0, &ind);
  for (int row = 1; row <= 10; ++row) {
    KX_OK(SQLFetch(victim.stmt), SQL_HANDLE_STMT, victim.stmt);
    EXPECT_EQ(n, row);
  }
  EXPECT_EQ(Dead(victim.dbc), static_cast<SQLUINTEGER>(SQL_CD_FALSE));

  Terminate(pid);
  SQLRETURN rc = SQL_SUCCESS;
  int fetched = 10;
  while (SQL_SUCCEEDED(rc = SQLFetch(victim.stmt))) {
    ++fetched;
    ASSERT_EQ(n, fetched);  // rows already delivered by the server stay right
  }
  EXPECT_EQ(rc, SQL_ERROR) << "fetched " << fetched;
  EXPECT_LT(fetched, kTotal);
  const std::string state = State(SQL_HANDLE_STMT, victim.stmt);
  EXPECT_TRUE(state.rfind("08", 0) == 0 || state == "57P01") << Diag(SQL_HANDLE_STMT, victim.stmt);
  EXPECT_EQ(Dead(victim.dbc), static_cast<SQLUINTEGER>(SQL_CD_TRUE));
  EXPECT_EQ(Dead(dbc_), static_cast<SQLUINTEGER>(SQL_CD_FALSE));

  // A new connection works and finds every committed row.
  OwnConn fresh;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &fresh.dbc), SQL_SUCCESS);
  KX_OK(Connect(fresh.dbc), SQL_HANDLE_DBC, fresh.dbc);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t, fresh.dbc), std::to_string(kTotal));
  EXPECT_EQ(Scalar("SELECT SUM(N) FROM " + t, fresh.dbc), std::to_string(kTotal * (kTotal + 1) / 2));
  EXPECT_EQ(Dead(fresh.dbc), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
}

// A connection nobody used since its backend went away: asking is enough to
// find it dead.
TEST_P(Stress, IdleConnectionWhoseBackendIsGoneIsFoundDeadWhenAsked) {
  OwnConn idle;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &idle.dbc), SQL_SUCCESS);
  KX_OK(Connect(idle.dbc), SQL_HANDLE_DBC, idle.dbc);
  const std::string pid = Scalar("SELECT pg_backend_pid()", idle.dbc);
  ASSERT_GT(std::atoi(pid.c_str()), 0) << pid;
  EXPECT_EQ(Dead(idle.dbc), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  Terminate(pid);
  // The backend may take a moment to go; the check is repeated, as a pool
  // would on its next look, for a bounded number of times.
  SQLUINTEGER dead = SQL_CD_FALSE;
  for (int look = 0; look < 50 && dead != SQL_CD_TRUE; ++look) {
    dead = Dead(idle.dbc);
    if (dead != SQL_CD_TRUE) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_TRUE));
  EXPECT_EQ(Dead(idle.dbc), static_cast<SQLUINTEGER>(SQL_CD_TRUE));  // and stays so
}

// Statement calls on a connection whose backend was terminated: the first
// failing call and every later one answer 08S01 (communication link
// failure) with the server's or the JDBC driver's own words after it, never
// the server's 57P01 or the JDBC driver's 08003; the connection stays dead.
TEST_P(Stress, StatementCallsAfterTheBackendIsGoneAreCommunicationLinkFailures) {
  OwnConn victim;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &victim.dbc), SQL_SUCCESS);
  KX_OK(Connect(victim.dbc), SQL_HANDLE_DBC, victim.dbc);
  const std::string pid = Scalar("SELECT pg_backend_pid()", victim.dbc);
  ASSERT_GT(std::atoi(pid.c_str()), 0) << pid;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, victim.dbc, &victim.stmt), SQL_SUCCESS);
  SQLHSTMT second = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, victim.dbc, &second), SQL_SUCCESS);
  Terminate(pid);
  // Gone for sure before the first call, however long the server takes.
  for (int look = 0; look < 100; ++look) {
    if (Scalar("SELECT COUNT(*) FROM pg_stat_activity WHERE pid = " + pid) == "0") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // The call that finds the loss: the server's words after the state's.
  EXPECT_EQ(ExecDirect(victim.stmt, "SELECT 1"), SQL_ERROR);
  std::string diag = Diag(SQL_HANDLE_STMT, victim.stmt);
  EXPECT_EQ(State(SQL_HANDLE_STMT, victim.stmt), "08S01") << diag;
  EXPECT_NE(diag.find("Communication link failure: "), std::string::npos) << diag;
  EXPECT_NE(diag.find("terminating connection"), std::string::npos) << diag;
  EXPECT_EQ(diag.find("57P01"), std::string::npos) << diag;
  EXPECT_EQ(Dead(victim.dbc), static_cast<SQLUINTEGER>(SQL_CD_TRUE));

  // Every later statement call: the same state, the JDBC driver's words.
  struct Later {
    const char* what;
    std::function<SQLRETURN()> call;
  } later[] = {
      {"the same statement again", [&] { return ExecDirect(victim.stmt, "SELECT 2"); }},
      {"another statement", [&] { return ExecDirect(second, "SELECT 3"); }},
      {"a prepare", [&] { return Prepare(second, "SELECT 4"); }},
      {"a catalog call", [&] { return SQLTables(second, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }},
  };
  for (const Later& l : later) {
    SCOPED_TRACE(l.what);
    SQLHSTMT st = std::string(l.what) == "the same statement again" ? victim.stmt : second;
    EXPECT_EQ(l.call(), SQL_ERROR);
    diag = Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(State(SQL_HANDLE_STMT, st), "08S01") << diag;
    EXPECT_EQ(diag.find("08003"), std::string::npos) << diag;
  }
  EXPECT_EQ(Dead(victim.dbc), static_cast<SQLUINTEGER>(SQL_CD_TRUE));
  SQLFreeHandle(SQL_HANDLE_STMT, second);
}

INSTANTIATE_TEST_SUITE_P(Roads, Stress, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
