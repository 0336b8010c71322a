// Enlisting connections in a transaction manager's transactions through the
// driver manager: SQL_ATTR_ENLIST_IN_DTC with the test transaction manager
// (tests/support/test_tm), whose library the driver loads through
// ZNT_DTC_LIBRARY. What a transaction did is checked from a second
// connection that is not enlisted.
#include <pthread.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "road.h"
#include "test_tm.h"

namespace kx::e2e {
namespace {

class DtcEnlist : public RoadTest {
 public:
  std::string CountFrom(SQLHDBC dbc) { return Scalar("SELECT COUNT(*) FROM " + table_, dbc); }

 protected:
  void SetUp() override {
    setenv("ZNT_DTC_LIBRARY", KX_TEST_TM_PATH, 1);
    RoadTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other_), SQL_SUCCESS);
    KX_OK(Connect(other_), SQL_HANDLE_DBC, other_);
  }
  void TearDown() override {
    if (tx_ != nullptr) TestTm_Release(tx_);
    // The tables go through the connection that never enlisted.
    for (const auto& t : tables_) Run(other_, "DROP TABLE " + t);
    tables_.clear();
    if (other_ != SQL_NULL_HDBC) {
      SQLDisconnect(other_);
      SQLFreeHandle(SQL_HANDLE_DBC, other_);
    }
    RoadTest::TearDown();
  }

  SQLRETURN Enlist(ITransaction* tx) {
    return SQLSetConnectAttr(dbc_, SQL_ATTR_ENLIST_IN_DTC, static_cast<SQLPOINTER>(tx), SQL_IS_POINTER);
  }
  // Runs one statement on a statement of its own; "" or the diagnostic.
  std::string Run(SQLHDBC dbc, const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st) != SQL_SUCCESS) return "no statement";
    const SQLRETURN rc = ExecDirect(st, sql);
    std::string out = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA ? "" : Diag(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return out;
  }
  // A table, and a transaction with the connection enlisted and one row inserted.
  void EnlistAndInsert() {
    table_ = Table("dtc", "id INTEGER");
    tx_ = TestTm_Begin();
    ASSERT_EQ(Enlist(tx_), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
    ASSERT_EQ(TestTm_Enlisted(tx_), 1);
    ASSERT_EQ(Run(dbc_, "INSERT INTO " + table_ + " VALUES (1)"), "");
    // Nothing shows outside the transaction before its outcome.
    ASSERT_EQ(CountFrom(other_), "0");
  }

  SQLHDBC other_ = SQL_NULL_HDBC;
  ITransaction* tx_ = nullptr;
  std::string table_;
};

class DtcEnlistPg : public DtcEnlist {};

TEST_P(DtcEnlistPg, CommitShowsTheEnlistedInsertAndTheEnlistmentEnds) {
  const int cookies = TestTm_LiveCookies();
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  // The resource manager registered the data source and the driver's own file.
  char text[512], dll[256];
  TestTm_LastRm(text, sizeof text, dll, sizeof dll);
  EXPECT_EQ(std::string(text).rfind("DSN=" + std::string(GetParam().dsn) + ";UID=", 0), 0u) << text;
  EXPECT_STREQ(dll, GetParam().unicode ? "libkestrixu.so" : "libkestrix.so");
  EXPECT_EQ(TestTm_LiveCookies(), cookies + 1);
  // A manager recovering finds the driver by that name and takes its XA switch.
  char rm[40] = "";
  EXPECT_EQ(TestTm_XaSwitchName(rm, sizeof rm), S_OK);
  EXPECT_STREQ(rm, "QUILLMAR");

  EXPECT_EQ(TestTm_Commit(tx_, nullptr, nullptr), S_OK);
  EXPECT_EQ(CountFrom(other_), "1");
  EXPECT_EQ(TestTm_Enlisted(tx_), 0);
  // Enlisting again in the same transaction changes nothing; NULL ends the
  // enlistment, and the connection works on its own again.
  EXPECT_EQ(Enlist(tx_), SQL_SUCCESS);
  EXPECT_EQ(Enlist(nullptr), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(TestTm_LiveCookies(), cookies);
  EXPECT_EQ(Run(dbc_, "INSERT INTO " + table_ + " VALUES (2)"), "");
  EXPECT_EQ(CountFrom(other_), "2");
  EXPECT_EQ(Enlist(nullptr), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "25000");
}

TEST_P(DtcEnlistPg, AbortLeavesNothingAndANewTransactionCanFollow) {
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(TestTm_Abort(tx_), S_OK);
  EXPECT_EQ(CountFrom(other_), "0");
  EXPECT_EQ(CountFrom(dbc_), "0");
  // The finished transaction lets the connection move to another one.
  ITransaction* second = TestTm_Begin();
  EXPECT_EQ(Enlist(second), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Run(dbc_, "INSERT INTO " + table_ + " VALUES (3)"), "");
  EXPECT_EQ(TestTm_Commit(second, nullptr, nullptr), S_OK);
  EXPECT_EQ(Scalar("SELECT MAX(id) FROM " + table_, other_), "3");
  EXPECT_EQ(Enlist(nullptr), SQL_SUCCESS);
  TestTm_Release(second);
}

// What the application's second thread saw of its call on the enlisted
// connection while the transaction was between its two phases.
struct Waiter {
  Waiter(DtcEnlist* t, SQLHDBC d, SQLHDBC o) : test(t), dbc(d), other(o) {}
  DtcEnlist* test;
  SQLHDBC dbc;
  SQLHDBC other;
  std::mutex lock;
  std::condition_variable changed;
  bool started = false;
  bool done = false;
  std::string count;          // what the waiting call counted
  std::string otherCount;     // what the other connection saw meanwhile
  bool doneBeforeCommit = false;
  std::thread thread;
};

TEST_P(DtcEnlistPg, ACallWaitsBetweenPrepareAndCommit) {
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  Waiter w(this, dbc_, other_);
  auto between = [](void* arg) {
    auto* w = static_cast<Waiter*>(arg);
    w->otherCount = w->test->CountFrom(w->other);
    w->thread = std::thread([w] {
      {
        std::lock_guard<std::mutex> hold(w->lock);
        w->started = true;
      }
      w->changed.notify_all();
      std::string count = w->test->CountFrom(w->dbc);
      std::lock_guard<std::mutex> hold(w->lock);
      w->count = count;
      w->done = true;
      w->changed.notify_all();
    });
    // The call has started; it must still be waiting when the commit is let
    // go (a call that got through would be done long before).
    std::unique_lock<std::mutex> hold(w->lock);
    w->changed.wait(hold, [w] { return w->started; });
    w->doneBeforeCommit =
        w->changed.wait_for(hold, std::chrono::milliseconds(500), [w] { return w->done; });
  };
  EXPECT_EQ(TestTm_Commit(tx_, between, &w), S_OK);
  w.thread.join();
  EXPECT_EQ(w.otherCount, "0");  // prepared, not committed
  EXPECT_FALSE(w.doneBeforeCommit);
  // The waiting call ran after the commit and saw its row.
  EXPECT_EQ(w.count, "1");
  EXPECT_EQ(CountFrom(other_), "1");
}

TEST_P(DtcEnlistPg, ClosingWithTheTransactionInProgressIsRefused) {
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "25000");
  // Ending the enlistment does not let the work go either.
  EXPECT_EQ(Enlist(nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "25000");
  // The connection and its work are intact: the commit still carries the row.
  EXPECT_EQ(CountFrom(dbc_), "1");
  EXPECT_EQ(TestTm_Commit(tx_, nullptr, nullptr), S_OK);
  EXPECT_EQ(CountFrom(other_), "1");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  KX_OK(Connect(dbc_), SQL_HANDLE_DBC, dbc_);
}

TEST_P(DtcEnlistPg, TheManagerGoingDownRollsBack) {
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(TestTm_Down(tx_), S_OK);
  EXPECT_EQ(CountFrom(other_), "0");
  EXPECT_EQ(Enlist(nullptr), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Run(dbc_, "INSERT INTO " + table_ + " VALUES (4)"), "");
  EXPECT_EQ(CountFrom(other_), "1");
}

// Every road: without a manager library the enlistment fails and says why;
// the connection goes on as before.
TEST_P(DtcEnlist, WithoutAManagerLibraryEnlistmentFailsWithTheReason) {
  unsetenv("ZNT_DTC_LIBRARY");
  const std::string table = Table("nodtc", "id INTEGER");
  ITransaction* tx = TestTm_Begin();
  EXPECT_EQ(Enlist(tx), SQL_ERROR);
  const std::string diag = Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(diag.rfind("IM932 ", 0), 0u) << diag;
  EXPECT_NE(diag.find("transaction manager not available"), std::string::npos) << diag;
  EXPECT_NE(diag.find("ZNT_DTC_LIBRARY"), std::string::npos) << diag;
  EXPECT_EQ(TestTm_Enlisted(tx), 0);
  EXPECT_EQ(Run(dbc_, "INSERT INTO " + table + " VALUES (1)"), "");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other_), "1");
  EXPECT_EQ(Enlist(nullptr), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "25000");
  TestTm_Release(tx);
}

INSTANTIATE_TEST_SUITE_P(Roads, DtcEnlist, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Roads, DtcEnlistPg, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
