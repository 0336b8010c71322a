// Enlisting connections in a transaction manager's transactions through the
// driver manager: SQL_ATTR_ENLIST_IN_DTC with the test transaction manager
// (tests/support/test_tm), whose library the driver loads through
// ZNT_DTC_LIBRARY. What a transaction did is checked from a second
// connection that is not enlisted.
#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "road.h"
#include "test_tm.h"
#include "xa/xa_switch.h"

namespace kx::e2e {
namespace {

class DtcEnlist : public RoadTest {
 public:
  std::string CountFrom(SQLHDBC dbc) { return Scalar("SELECT COUNT(*) FROM " + table_, dbc); }
  SQLRETURN ExecDirectOn(SQLHSTMT st, const std::string& sql) { return ExecDirect(st, sql); }

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

// Every handle freed closes the driver's environment; the next connect
// opens a new one, whose class loader must load the XA data source for
// itself (the first environment never loaded it).
TEST_P(DtcEnlistPg, EnlistsAfterTheEnvironmentWasOpenedAgain) {
  EXPECT_EQ(Scalar("SELECT 1", other_), "1");
  TearDown();
  stmt_ = SQL_NULL_HSTMT;
  dbc_ = other_ = SQL_NULL_HDBC;
  env_ = SQL_NULL_HENV;
  SetUp();
  ASSERT_FALSE(HasFatalFailure());
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(TestTm_Commit(tx_, nullptr, nullptr), S_OK);
  EXPECT_EQ(CountFrom(other_), "1");
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

// PostgreSQL's name of a prepared branch: format id, gtrid and bqual, the
// two in base64.
std::string Base64(const char* in, size_t n) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << 16;
    if (i + 1 < n) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[i + 1])) << 8;
    if (i + 2 < n) v |= static_cast<unsigned char>(in[i + 2]);
    out += k[(v >> 18) & 63];
    out += k[(v >> 12) & 63];
    out += i + 1 < n ? k[(v >> 6) & 63] : '=';
    out += i + 2 < n ? k[v & 63] : '=';
  }
  return out;
}
std::string PgGid(const XID& x) {
  return std::to_string(x.formatID) + "_" + Base64(x.data, x.gtrid_length) + "_" +
         Base64(x.data + x.gtrid_length, x.bqual_length);
}

// What the unloading process passes to the test that recovers: the table it
// inserted into and the file it leaves its branch identifier in. The child
// process runs the test again up to the statement it is to carry out, and
// finds both in the environment it inherits.
constexpr const char* kUnloadTable = "KX_TEST_UNLOAD_TABLE";
constexpr const char* kUnloadXidFile = "KX_TEST_UNLOAD_XID";

struct UnloadAt {
  ITransaction* tx;
  const char* xidFile;
};

// In the child process: an enlisted INSERT, prepared by the manager, and
// then the process ends between the two phases: the driver unloads with the
// branch prepared.
void PrepareThenUnload(DtcEnlist* test, SQLHDBC dbc, const std::string& table, const char* xidFile) {
  ITransaction* tx = TestTm_Begin();
  if (SQLSetConnectAttr(dbc, SQL_ATTR_ENLIST_IN_DTC, tx, SQL_IS_POINTER) != SQL_SUCCESS) {
    std::fprintf(stderr, "enlist: %s\n", Diag(SQL_HANDLE_DBC, dbc).c_str());
    std::exit(2);
  }
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  if (!SQL_SUCCEEDED(test->ExecDirectOn(st, "INSERT INTO " + table + " VALUES (7)"))) {
    std::fprintf(stderr, "insert: %s\n", Diag(SQL_HANDLE_STMT, st).c_str());
    std::exit(3);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  UnloadAt at{tx, xidFile};
  TestTm_Commit(
      tx,
      [](void* arg) {
        auto* at = static_cast<UnloadAt*>(arg);
        // The process's only resource manager has the manager's first cookie.
        XID xid{};
        TestTm_Xid(at->tx, 1, &xid);
        FILE* f = std::fopen(at->xidFile, "wb");
        const bool written = f != nullptr && std::fwrite(&xid, sizeof xid, 1, f) == 1;
        if (f != nullptr) std::fclose(f);
        // Ending the process unloads the driver, whatever the manager does next.
        std::exit(written ? 0 : 4);
      },
      &at);
  std::exit(5);  // the manager never reached its second phase
}

// The driver unloads while a branch is prepared: it must not roll the
// branch back, for the manager may have decided to commit. The branch stays
// in doubt in the database, and the manager's recovery finds it through the
// driver's XA switch and commits it.
TEST_P(DtcEnlistPg, UnloadLeavesAPreparedBranchForRecovery) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (std::getenv(kUnloadTable) == nullptr) {
    const std::string table = Table("dtcunload", "id INTEGER");
    const std::string file = ::testing::TempDir() + UniqueName("kx_unload_xid");
    setenv(kUnloadTable, table.c_str(), 1);
    setenv(kUnloadXidFile, file.c_str(), 1);
  }
  const std::string table = std::getenv(kUnloadTable);
  const std::string file = std::getenv(kUnloadXidFile);
  EXPECT_EXIT(PrepareThenUnload(this, dbc_, table, file.c_str()), ::testing::ExitedWithCode(0), "");
  unsetenv(kUnloadTable);
  unsetenv(kUnloadXidFile);

  XID xid{};
  FILE* f = std::fopen(file.c_str(), "rb");
  ASSERT_NE(f, nullptr) << file;
  const size_t read = std::fread(&xid, sizeof xid, 1, f);
  std::fclose(f);
  std::remove(file.c_str());
  ASSERT_EQ(read, 1u);
  // In doubt: prepared in the database, its row not visible.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM pg_prepared_xacts WHERE gid = '" + PgGid(xid) + "'", other_),
            "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other_), "0");

  // Recovery: the driver's switch lists the branch, and commits it.
  void* library = dlopen(GetParam().unicode ? "libkestrixu.so" : "libkestrix.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  using GetXaSwitchFn = HRESULT (*)(uint32_t, xa_switch_t**);
  auto getSwitch = reinterpret_cast<GetXaSwitchFn>(dlsym(library, "GetXaSwitch"));
  ASSERT_NE(getSwitch, nullptr);
  xa_switch_t* sw = nullptr;
  ASSERT_EQ(getSwitch(0, &sw), S_OK);
  std::string open = ConnectString(GetParam());
  constexpr int kRmid = 77;
  ASSERT_EQ(sw->xa_open_entry(open.data(), kRmid, TMNOFLAGS), XA_OK);
  std::vector<XID> found(64);
  const int n = sw->xa_recover_entry(found.data(), static_cast<long>(found.size()), kRmid,
                                     TMSTARTRSCAN | TMENDRSCAN);
  bool listed = false;
  for (int i = 0; i < n; ++i) {
    listed = listed || (found[i].formatID == xid.formatID &&
                        found[i].gtrid_length == xid.gtrid_length &&
                        found[i].bqual_length == xid.bqual_length &&
                        std::memcmp(found[i].data, xid.data, xid.gtrid_length + xid.bqual_length) == 0);
  }
  EXPECT_TRUE(listed) << n << " branches listed";
  EXPECT_EQ(sw->xa_commit_entry(&xid, kRmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw->xa_close_entry(open.data(), kRmid, TMNOFLAGS), XA_OK);
  dlclose(library);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other_), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM pg_prepared_xacts WHERE gid = '" + PgGid(xid) + "'", other_),
            "0");
}

// The work of an enlisted connection runs on the connection's XA worker,
// whichever application thread calls: a second thread's statements, with a
// static cursor (the cursor layer between the routing and the agent), run
// inside the branch, and on H2, which runs in the driver's VM, on the same
// Java thread as the first thread's, not on the thread that calls (as a
// connection that is not enlisted does).
TEST_P(DtcEnlist, ASecondThreadsWorkRunsOnTheEnlistedConnectionsWorker) {
  const bool h2 = !GetParam().postgres;
  const std::string javaThread = "KX_JAVA_THREAD()";
  if (h2) {
    ASSERT_EQ(Run(other_, "CREATE ALIAS IF NOT EXISTS KX_JAVA_THREAD AS "
                          "'String f() { return Thread.currentThread().getName(); }'"),
              "");
  }
  EnlistAndInsert();
  ASSERT_FALSE(HasFatalFailure());
  const std::string first = h2 ? Scalar("SELECT " + javaThread, dbc_) : "";
  const std::string unrouted = h2 ? Scalar("SELECT " + javaThread, other_) : "";

  std::string second, seen, failure;
  std::thread t([&] {
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st) != SQL_SUCCESS) {
      failure = "no statement: " + Diag(SQL_HANDLE_DBC, dbc_);
      return;
    }
    SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0);
    const std::string select =
        "SELECT id, " + (h2 ? javaThread : std::string("'pg'")) + " FROM " + table_ + " ORDER BY id";
    if (!SQL_SUCCEEDED(ExecDirect(st, select))) {
      failure = "select: " + Diag(SQL_HANDLE_STMT, st);
    } else {
      SQLULEN type = 0;
      SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
      if (type != SQL_CURSOR_STATIC) failure = "no static cursor: " + std::to_string(type);
      // Last row first: a scroll the cursor layer answers.
      if (SQL_SUCCEEDED(SQLFetchScroll(st, SQL_FETCH_LAST, 0))) {
        SQLINTEGER id = 0;
        SQLCHAR name[256] = {0};
        SQLLEN ind = 0;
        SQLGetData(st, 1, SQL_C_SLONG, &id, 0, &ind);
        SQLGetData(st, 2, SQL_C_CHAR, name, sizeof name, &ind);
        seen = std::to_string(id);
        second = reinterpret_cast<char*>(name);
      } else {
        failure = "fetch: " + Diag(SQL_HANDLE_STMT, st);
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (failure.empty()) failure = Run(dbc_, "INSERT INTO " + table_ + " VALUES (2)");
  });
  t.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(seen, "1");  // the branch's own row
  if (h2) {
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(second, first);
    EXPECT_NE(unrouted, first);
  }
  EXPECT_EQ(CountFrom(other_), "0");
  EXPECT_EQ(TestTm_Commit(tx_, nullptr, nullptr), S_OK);
  EXPECT_EQ(CountFrom(other_), "2");
  EXPECT_EQ(Enlist(nullptr), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
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
