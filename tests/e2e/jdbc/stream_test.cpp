// A large forward-only result is read from PostgreSQL a block at a time
// inside a transaction (its JDBC driver keeps the rest on the server), and
// still arrives whole and in order; in autocommit mode too, in a transaction
// the application never sees.
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

using PgStream = RoadTest;

TEST_P(PgStream, ResultInATransactionIsReadInBlocks) {
  constexpr int kRows = 25000;  // more than one block of the rows read at a time
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc_);
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT streamed_g FROM generate_series(1, " + std::to_string(kRows) + ") AS streamed_g ORDER BY 1"));
  SQLINTEGER v = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &v, 0, nullptr));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(v, 1);
  // The open result is a portal on the server while its rows are read.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM pg_cursors WHERE statement LIKE '%streamed' || '_g%'"), "1");
  int expect = 2;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(v, expect++);
  }
  EXPECT_EQ(expect, kRows + 1);
  ResetStmt();
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
        SQL_HANDLE_DBC, dbc_);
}

// A failure far into a result read in blocks comes after every row the
// database sent before it, never ahead of some of them.
TEST_P(PgStream, FailureComesAfterTheRowsBeforeIt) {
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc_);
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_,
                        "SELECT g + 0 * (1 / (g - 20000)), CAST('row ' || g AS VARCHAR(40)) FROM generate_series(1, 30000) AS g"));
  SQLINTEGER v = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &v, 0, nullptr));
  int expect = 1;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) ASSERT_EQ(v, expect++);
  ASSERT_EQ(rc, SQL_ERROR);
  EXPECT_EQ("22012", State(SQL_HANDLE_STMT, stmt_)) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_GT(expect, 1000);
  // The result is over: whatever a later fetch says, it is no row.
  v = -1;
  EXPECT_FALSE(SQL_SUCCEEDED(SQLFetch(stmt_)));
  EXPECT_EQ(v, -1);
  ResetStmt();
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
        SQL_HANDLE_DBC, dbc_);
}

// In autocommit mode a large forward-only result is read in blocks too, in
// a transaction the driver ends by itself; the application sees autocommit
// all along: every other statement on the connection commits at once, the
// switches of the commit mode take effect as asked, and no transaction stays
// open once the result is over, failed or closed.
class PgAutocommitStream : public RoadTest {
 protected:
  static constexpr int kRows = 30000;

  void SetUp() override {
    RoadTest::SetUp();
    if (HasFatalFailure()) return;
    pid_ = Scalar("SELECT pg_backend_pid()");
    other_ = Other();
    table_ = Table("stream_side", "id INTEGER");
  }
  void TearDown() override {
    if (other_ != SQL_NULL_HDBC) Drop(other_);
    RoadTest::TearDown();
  }

  // Runs the query on the fixture's statement with its two columns bound
  // and reads its first `first` rows.
  void Open(const std::string& sql, int first) {
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, sql));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id_, 0, nullptr));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name_, sizeof name_, nullptr));
    next_ = 1;
    for (int i = 0; i < first; ++i) ASSERT_NO_FATAL_FAILURE(FetchNext());
  }
  void OpenSeries(int first) {
    Open("SELECT g, CAST('row ' || g AS VARCHAR(40)) FROM generate_series(1, " + std::to_string(kRows) + ") AS g", first);
  }
  void FetchNext() {
    KX_STMT_OK(SQLFetch(stmt_));
    ASSERT_EQ(id_, next_);
    ASSERT_EQ(std::string(name_), "row " + std::to_string(next_));
    ++next_;
  }
  // Reads the rest, which must be the rows up to kRows in order.
  void FetchRest() {
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      ASSERT_EQ(id_, next_++);
    }
    EXPECT_EQ(next_, kRows + 1);
  }
  // Whether the fixture connection's session is inside a transaction, as
  // the server sees it: "open" or "none".
  std::string Transaction() {
    return Scalar("SELECT CASE WHEN xact_start IS NULL THEN 'none' ELSE 'open' END FROM pg_stat_activity WHERE pid = " +
                      pid_,
                  other_);
  }
  std::string Count(SQLHDBC dbc) { return Scalar("SELECT COUNT(*) FROM " + table_, dbc); }
  SQLULEN Autocommit() {
    SQLULEN v = 99;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, &v, 0, nullptr)));
    return v;
  }

  std::string pid_;
  SQLHDBC other_ = SQL_NULL_HDBC;
  std::string table_;
  SQLINTEGER id_ = 0;
  char name_[41] = {0};
  int next_ = 1;
};

TEST_P(PgAutocommitStream, ResultIsReadInBlocksAndItsTransactionEndsWithIt) {
  ASSERT_NO_FATAL_FAILURE(OpenSeries(1));
  // The rest of the result waits on the server, not in the driver.
  EXPECT_EQ(Transaction(), "open");
  ASSERT_NO_FATAL_FAILURE(FetchRest());
  // Read to its end, before it is closed: nothing is left open.
  EXPECT_EQ(Transaction(), "none");
  // The next statement, on the same handle, commits at once.
  KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
  KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + table_ + " VALUES (1)"));
  EXPECT_EQ(Count(other_), "1");
  EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_ON);
}

TEST_P(PgAutocommitStream, OtherStatementsCommitAtOnceWhileTheResultIsOpen) {
  ASSERT_NO_FATAL_FAILURE(OpenSeries(10));
  EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_ON);
  SQLHSTMT second = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &second), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(ExecDirect(second, "INSERT INTO " + table_ + " VALUES (1)")))
      << Diag(SQL_HANDLE_STMT, second);
  // Another user sees the change while the first result is still open.
  EXPECT_EQ(Count(other_), "1");
  EXPECT_EQ(Transaction(), "none");
  // A failing statement in between leaves nothing to roll back either.
  EXPECT_EQ(SQL_ERROR, ExecDirect(second, "INSERT INTO " + table_ + " VALUES ('x')"));
  ASSERT_TRUE(SQL_SUCCEEDED(ExecDirect(second, "INSERT INTO " + table_ + " VALUES (2)")))
      << Diag(SQL_HANDLE_STMT, second);
  EXPECT_EQ(Count(other_), "2");
  SQLFreeHandle(SQL_HANDLE_STMT, second);
  // The first result goes on, whole and in order.
  ASSERT_NO_FATAL_FAILURE(FetchRest());
  EXPECT_EQ(Transaction(), "none");
}

TEST_P(PgAutocommitStream, CommitAndCommitModeSwitchesWhileTheResultIsOpen) {
  // A commit asked for while the result is open succeeds and leaves no
  // transaction behind (the driver manager closes the cursor).
  ASSERT_NO_FATAL_FAILURE(OpenSeries(5));
  KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Transaction(), "none");
  ASSERT_NO_FATAL_FAILURE(OpenSeries(5));
  // Manual commit from here on: a change waits for the application's commit
  // or rollback, and the open result keeps its rows.
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_OFF);
  EXPECT_EQ(ExecOn(dbc_, "INSERT INTO " + table_ + " VALUES (1)"), SQL_SUCCESS);
  EXPECT_EQ(Count(other_), "0");
  EXPECT_EQ(Count(dbc_), "1");
  ASSERT_NO_FATAL_FAILURE(FetchRest());
  KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Count(dbc_), "0");
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
        SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Transaction(), "none");
}

TEST_P(PgAutocommitStream, FailureFarIntoTheResultComesAfterItsRowsAndEndsItsTransaction) {
  const std::string sql = "SELECT g + 0 * (1 / (g - 20000)), CAST('row ' || g AS VARCHAR(40)) FROM generate_series(1, " +
                          std::to_string(kRows) + ") AS g";
  ASSERT_NO_FATAL_FAILURE(Open(sql, 1));
  // Rows in order, one failure, then the end: every row the database sent
  // before the failure comes before it (how many depends on how many rows it
  // sends at a time), none after it.
  int failures = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    ASSERT_EQ(failures, 0) << "a row after the failure: " << id_;
    if (rc == SQL_ERROR) {
      ++failures;
      EXPECT_EQ("22012", State(SQL_HANDLE_STMT, stmt_)) << Diag(SQL_HANDLE_STMT, stmt_);
      // Nothing is left open, before the result is even closed.
      EXPECT_EQ(Transaction(), "none");
      EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_ON);
      continue;
    }
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(id_, next_++);
  }
  EXPECT_EQ(failures, 1);
  EXPECT_GT(next_, 1000);
  EXPECT_LE(next_, 20000);
  KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
  KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + table_ + " VALUES (1)"));
  EXPECT_EQ(Count(other_), "1");
}

TEST_P(PgAutocommitStream, ResultClosedOrFreedEarlyEndsItsTransaction) {
  ASSERT_NO_FATAL_FAILURE(OpenSeries(3));
  KX_STMT_OK(SQLCloseCursor(stmt_));
  EXPECT_EQ(Transaction(), "none");
  ASSERT_NO_FATAL_FAILURE(OpenSeries(3));
  // Executed again while open: the first result's transaction ends, the
  // second has one of its own.
  ASSERT_NO_FATAL_FAILURE(OpenSeries(3));
  EXPECT_EQ(Transaction(), "open");
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
  EXPECT_EQ(Transaction(), "none");
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_ON);
}

// A static cursor's result is read into the cursor's own store, in blocks
// too: once it is read to its end nothing is left open, and it scrolls.
TEST_P(PgAutocommitStream, StaticCursorScrollsWithNothingLeftOpen) {
  ResetStmt();
  Attr(stmt_, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT g, CAST('row ' || g AS VARCHAR(40)) FROM generate_series(1, " +
                                   std::to_string(kRows) + ") AS g"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id_, 0, nullptr));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name_, sizeof name_, nullptr));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  EXPECT_EQ(id_, kRows);
  EXPECT_EQ(Transaction(), "none");
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 12345));
  EXPECT_EQ(id_, 12345);
  EXPECT_EQ(std::string(name_), "row 12345");
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(id_, 1);
  EXPECT_EQ(Autocommit(), SQL_AUTOCOMMIT_ON);
}

INSTANTIATE_TEST_SUITE_P(Road, PgAutocommitStream, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Road, PgStream, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
