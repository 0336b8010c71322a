// One connection shared by several threads: a call on the connection waits
// for the call another thread is making there instead of failing; SQLCancel
// and the diagnostic functions never wait; the busy marker still answers the
// calls that cannot wait (a statement polled in asynchronous mode, a handler
// calling back into its own connection); and handles freed while a call
// waited for them are invalid, not used after their release.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "odbc/dispatch.h"
#include "odbc/handlers.h"
#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

class SharedConnTest : public StmtTest {
 protected:
  // Starts fn on a thread of its own; its result lands in *rc.
  template <class Fn>
  std::thread Start(std::atomic<SQLRETURN>* rc, Fn fn) {
    *rc = kNotDone;
    return std::thread([rc, fn] { *rc = fn(); });
  }
  // Gives a thread that should be waiting time to run ahead if it wrongly
  // does not wait (the checks after it hold however long it takes).
  static void LetOthersRun() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

  static constexpr SQLRETURN kNotDone = -100;
};

SQLRETURN Columns(SQLHSTMT st) { return SQLColumns(st, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }

// A connection call the driver answers itself.
SQLRETURN ConnCall(SQLHDBC dbc) {
  SQLUSMALLINT exists = 0;
  return SQLGetFunctions(dbc, SQL_API_SQLFETCH, &exists);
}

SQLRETURN Exec(SQLHSTMT st, const char* sql) {
  return SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
}

// Four threads on one connection, each allocating its own statement, running
// a query, reading its 20 rows and freeing the statement, 60 times: every
// call succeeds.
TEST_F(SharedConnTest, FourThreadsAllocateRunFetchAndFreeOnOneConnection) {
  constexpr int kThreads = 4, kRounds = 60, kRows = 20;
  std::string rows;
  for (int n = 1; n <= kRows; ++n) rows += (n > 1 ? "\n" : "") + std::to_string(n);
  TestAgent_SetResult("N:4", rows.c_str());
  std::mutex problemsLock;
  std::vector<std::string> problems;
  std::atomic<int> rounds{0};
  auto problem = [&](const std::string& what) {
    std::lock_guard<std::mutex> hold(problemsLock);
    if (problems.size() < 10) problems.push_back(what);
  };
  auto worker = [&] {
    for (int round = 0; round < kRounds; ++round) {
      SQLHSTMT st = SQL_NULL_HSTMT;
      SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
      if (rc != SQL_SUCCESS) {
        problem("alloc " + std::to_string(rc));
        continue;
      }
      bool ok = true;
      if ((rc = Exec(st, "SELECT N FROM T")) != SQL_SUCCESS) {
        problem("exec " + std::to_string(rc) + " " + StmtState(st));
        ok = false;
      }
      SQLINTEGER n = 0;
      SQLLEN ind = 0;
      if (ok && SQLBindCol(st, 1, SQL_C_SLONG, &n, 0, &ind) != SQL_SUCCESS) ok = false;
      for (int row = 1; ok && row <= kRows; ++row) {
        if ((rc = SQLFetch(st)) != SQL_SUCCESS || n != row) {
          problem("row " + std::to_string(row) + ": " + std::to_string(rc) + " " + std::to_string(n));
          ok = false;
        }
      }
      if (ok && SQLFetch(st) != SQL_NO_DATA) ok = false;
      if ((rc = SQLFreeHandle(SQL_HANDLE_STMT, st)) != SQL_SUCCESS) {
        problem("free " + std::to_string(rc));
        ok = false;
      }
      if (ok) ++rounds;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  EXPECT_EQ(all, "");
  EXPECT_EQ(rounds.load(), kThreads * kRounds);
  EXPECT_EQ(TestAgent_Calls("Execute"), kThreads * kRounds);
}

// While a statement's call runs, calls of other threads on the connection,
// on another statement and on the same one wait for it and then run;
// SQLCancel, the diagnostic functions and a statement polled in asynchronous
// mode answer at once.
TEST_F(SharedConnTest, OtherThreadsWaitCancelAndDiagnosticsDoNot) {
  SQLHSTMT other = NewStmt();
  SQLHSTMT polled = NewStmt();
  ASSERT_EQ(SQLSetStmtAttr(polled, SQL_ATTR_ASYNC_ENABLE, reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON), 0),
            SQL_SUCCESS);
  // The other statement carries a diagnostic of its own.
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_STMT, other, SQL_COMMIT), SQL_ERROR);

  TestAgent_HoldNext("DDColumns");
  std::atomic<SQLRETURN> running, onOther, onSame, onConn;
  std::thread runner = Start(&running, [this] { return Columns(stmt_); });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  std::thread t1 = Start(&onOther, [other] { return Exec(other, "SELECT 1"); });
  std::thread t2 = Start(&onSame, [this] { return Columns(stmt_); });
  std::thread t3 = Start(&onConn, [this] { return ConnCall(dbc_); });
  LetOthersRun();

  // Nobody got past the running call.
  EXPECT_EQ(onOther.load(), kNotDone);
  EXPECT_EQ(onSame.load(), kNotDone);
  EXPECT_EQ(onConn.load(), kNotDone);
  EXPECT_EQ(TestAgent_Calls("Execute"), 0);
  EXPECT_EQ(TestAgent_Calls("DDColumns"), 1);
  // What never waits: the other statement's diagnostics, the running
  // statement's (nothing yet), the polled statement and SQLCancel.
  EXPECT_EQ(StmtState(other), "HY092");
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  EXPECT_EQ(StmtCancel(Value(stmt_)), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Cancel"), 1);
  // A statement in asynchronous mode is polled, not waited for: while its
  // own call runs, calling it again answers "still executing".
  TestAgent_Release();
  runner.join();
  EXPECT_EQ(running.load(), SQL_SUCCESS);
  t1.join();
  t2.join();
  t3.join();
  EXPECT_EQ(onOther.load(), SQL_SUCCESS);
  EXPECT_EQ(onSame.load(), SQL_SUCCESS);
  EXPECT_EQ(onConn.load(), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Execute"), 1);
  EXPECT_EQ(TestAgent_Calls("DDColumns"), 2);

  TestAgent_HoldNext("DDColumns");
  std::atomic<SQLRETURN> polledRun;
  std::thread pollRunner = Start(&polledRun, [polled] { return Columns(polled); });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  EXPECT_EQ(Columns(polled), SQL_STILL_EXECUTING);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, polled, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  TestAgent_Release();
  pollRunner.join();
  EXPECT_EQ(polledRun.load(), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("DDColumns"), 3);
}

// Handles freed by the call another thread waited for are invalid handles to
// the waiting call: a statement freed by a disconnect, and a connection
// freed whole (whose record the last waiting call releases).
TEST_F(SharedConnTest, HandlesFreedWhileACallWaitedAreInvalid) {
  SQLHSTMT victim = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &victim), SQL_SUCCESS);
  // The disconnect frees the statements one by one: held in the first
  // release, the other statement is still there, and a call on it waits.
  TestAgent_HoldNext("FreeStmt");
  std::atomic<SQLRETURN> disconnected, onFirst, onSecond;
  std::thread closer = Start(&disconnected, [this] { return SQLDisconnect(dbc_); });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  SQLHSTMT first = stmt_;
  std::thread waiter1 = Start(&onFirst, [first] { return Exec(first, "SELECT 1"); });
  std::thread waiter2 = Start(&onSecond, [victim] { return Exec(victim, "SELECT 1"); });
  LetOthersRun();
  TestAgent_Release();
  closer.join();
  waiter1.join();
  waiter2.join();
  EXPECT_EQ(disconnected.load(), SQL_SUCCESS);
  EXPECT_EQ(onFirst.load(), SQL_INVALID_HANDLE);
  EXPECT_EQ(onSecond.load(), SQL_INVALID_HANDLE);
  EXPECT_EQ(TestAgent_Calls("Execute"), 0);
  stmt_ = SQL_NULL_HSTMT;  // freed by the disconnect

  // A whole connection freed while two calls wait for it.
  ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
  TestAgent_HoldNext("Disconnect");
  std::atomic<SQLRETURN> freed, info1, info2;
  std::thread freer = Start(&freed, [this] { return SQLFreeHandle(SQL_HANDLE_DBC, dbc_); });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  auto info = [this] { return ConnCall(dbc_); };
  std::thread w1 = Start(&info1, info);
  std::thread w2 = Start(&info2, info);
  LetOthersRun();
  TestAgent_Release();
  freer.join();
  w1.join();
  w2.join();
  EXPECT_EQ(freed.load(), SQL_SUCCESS);
  EXPECT_EQ(info1.load(), SQL_INVALID_HANDLE);
  EXPECT_EQ(info2.load(), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_INVALID_HANDLE);
  dbc_ = SQL_NULL_HDBC;
  // The environment has no connection left, busy or waiting: it can go.
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
  env_ = SQL_NULL_HENV;
}

}  // namespace
}  // namespace kx::testing
