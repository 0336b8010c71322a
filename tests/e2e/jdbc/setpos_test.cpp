// Positioned changes through unixODBC: SQLSetPos UPDATE, DELETE, REFRESH and
// POSITION and SQLBulkOperations ADD on keyset-driven cursors change exactly
// the rows meant (another connection sees them), name the base columns
// whatever the select list calls them, leave alone a row another user changed
// meanwhile (01001), honour the row-operation and row-status arrays, take
// values at execution, and lock the rows they read under lock concurrency.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

constexpr SQLULEN kRows = 5;

// The optimistic concurrencies: a change compares the row's values, or its
// version, with those the application holds.
constexpr SQLULEN kOptimistic[] = {SQL_CONCUR_VALUES, SQL_CONCUR_ROWVER};
const char* ConcurrencyName(SQLULEN c) { return c == SQL_CONCUR_ROWVER ? "row versions" : "values"; }

class SetPosTest : public RoadTest {
 protected:
  // id 1..n, name "name <id>", qty id * 10.
  std::string Items(int n) {
    std::string table = Table("setpos", "id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40), qty INTEGER");
    for (int i = 1; i <= n; ++i) {
      Exec("INSERT INTO " + table + " VALUES (" + std::to_string(i) + ", 'name " + std::to_string(i) + "', " +
           std::to_string(i * 10) + ")");
    }
    ResetStmt();
    return table;
  }
  void Cursor(SQLHSTMT st, SQLULEN concurrency, SQLULEN rows = kRows, SQLULEN type = SQL_CURSOR_KEYSET_DRIVEN) {
    Attr(st, SQL_ATTR_CURSOR_TYPE, type);
    Attr(st, SQL_ATTR_CONCURRENCY, concurrency);
    Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, rows);
  }
  // The rows of the table as "id:name:qty" in id order, read on dbc.
  std::string Rows(SQLHDBC dbc, const std::string& table) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
    EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id")));
    std::string out;
    SQLINTEGER id = 0, qty = 0;
    char name[41];
    SQLLEN nameInd = 0, qtyInd = 0;
    SQLBindCol(st, 1, SQL_C_SLONG, &id, 0, nullptr);
    SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name, &nameInd);
    SQLBindCol(st, 3, SQL_C_SLONG, &qty, 0, &qtyInd);
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      if (!out.empty()) out += " ";
      out += std::to_string(id) + ":" + (nameInd == SQL_NULL_DATA ? "NULL" : std::string(name)) + ":" +
             (qtyInd == SQL_NULL_DATA ? "NULL" : std::to_string(qty));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return out;
  }
};

using Rowset = IdNameRows<kRows>;

TEST_P(SetPosTest, UpdateDeleteRefreshAndPositionUnderOptimisticConcurrency) {
  for (SQLULEN concurrency : kOptimistic) {
    SCOPED_TRACE(ConcurrencyName(concurrency));
    ResetStmt();
    const std::string table = Items(12);
    Cursor(stmt_, concurrency);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    SQLULEN kept = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &kept, 0, nullptr));
    EXPECT_EQ(kept, concurrency);
    Rowset rs;
    rs.Bind(stmt_);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 6));  // ids 6..10

    // One row: only the columns the application wrote change.
    rs.Name(1, "seven");
    rs.qtyInd[1] = SQL_COLUMN_IGNORE;
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(rs.status[1], SQL_ROW_UPDATED);
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, 1);
    SQLHDBC other = Other();
    EXPECT_EQ(Scalar("SELECT name || ':' || qty FROM " + table + " WHERE id = 7", other), "seven:70");

    // Delete one row; the status says so and the row is gone for everyone.
    KX_STMT_OK(SQLSetPos(stmt_, 4, SQL_DELETE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table + " WHERE id = 9", other), "0");

    // Row 0 with the row-operation array: row 5 is left alone, the deleted row
    // is passed over, every other row takes its new values.
    for (SQLULEN r = 0; r < kRows; ++r) {
      rs.ops[r] = r == 4 ? SQL_ROW_IGNORE : SQL_ROW_PROCEED;
      rs.Name(static_cast<int>(r), "all " + std::to_string(rs.id[r]));
      rs.qty[r] = 1000 + rs.id[r];
      rs.qtyInd[r] = 0;
    }
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, rs.ops, 0));
    rs.status[4] = 77;  // an ignored row's entry is not written
    KX_STMT_OK(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(rs.status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(rs.status[2], SQL_ROW_UPDATED);
    EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
    EXPECT_EQ(rs.status[4], 77);
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, 3);
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, nullptr, 0));
    EXPECT_EQ(Rows(other, table),
              "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:all 6:1006 7:all 7:1007 "
              "8:all 8:1008 10:name 10:100 11:name 11:110 12:name 12:120");

    // Another user changes row 8 meanwhile: this cursor's change of it is
    // refused (01001) and the other user's value stays.
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 5 WHERE id = 8")));
    rs.Name(2, "lost");
    EXPECT_EQ(SQLSetPos(stmt_, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_TRUE(HasState(stmt_, "01001")) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
    EXPECT_EQ(Scalar("SELECT name || ':' || qty FROM " + table + " WHERE id = 8", other), "all 8:5");

    // The same in a row-0 change: the other rows go through (a warning); the
    // row in error is passed over.
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET name = 'theirs' WHERE id = 6")));
    rs.Name(0, "lost 6");
    rs.Name(1, "again 7");
    rs.Name(4, "again 10");
    EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(HasState(stmt_, "01001"));
    EXPECT_EQ(rs.status[0], SQL_ROW_ERROR);
    EXPECT_EQ(rs.status[1], SQL_ROW_UPDATED);
    EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
    EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
    EXPECT_EQ(rs.status[4], SQL_ROW_UPDATED);
    EXPECT_EQ(Rows(other, table),
              "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:theirs:1006 7:again 7:1007 "
              "8:all 8:5 10:again 10:1010 11:name 11:110 12:name 12:120");

    // Refresh reads the rows again: row 3 shows the other user's value.
    KX_STMT_OK(SQLSetPos(stmt_, 3, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(std::string(rs.name[2]), "all 8");
    EXPECT_EQ(rs.qty[2], 5);
    EXPECT_EQ(rs.status[2], SQL_ROW_SUCCESS);
    // ... after which a change of it goes through.
    rs.Name(2, "third time");
    KX_STMT_OK(SQLSetPos(stmt_, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 8", other), "third time");

    // SQL_POSITION: SQLGetData reads the row positioned on.
    KX_STMT_OK(SQLSetPos(stmt_, 5, SQL_POSITION, SQL_LOCK_NO_CHANGE));
    char name[41];
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, name, sizeof name, &ind));
    EXPECT_EQ(std::string(name), "again 10");
    // A deleted row cannot be changed; a row beyond the rowset is no row.
    EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY109");
    EXPECT_EQ(SQLSetPos(stmt_, 6, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY107");
    EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_EXCLUSIVE), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HYC00");
    Drop(other);
  }
}

// The select list renames and swaps columns: the change writes the base
// columns, never the labels; an expression cannot be written.
TEST_P(SetPosTest, AliasedSelectListWritesTheBaseColumns) {
  for (SQLULEN concurrency : kOptimistic) {
    SCOPED_TRACE(ConcurrencyName(concurrency));
    ResetStmt();
    const std::string table = Items(3);
    Cursor(stmt_, concurrency);
    // Result column 1 is labelled qty but is the name; column 3 labelled name
    // is qty.
    KX_STMT_OK(ExecDirect(stmt_, "SELECT name AS qty, id, qty AS name, qty * 2 AS twice FROM " + table +
                                     " ORDER BY id"));
    char name[kRows][41];
    SQLLEN nameInd[kRows];
    SQLINTEGER qty[kRows];
    SQLLEN qtyInd[kRows];
    SQLUSMALLINT status[kRows];
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_CHAR, name, sizeof name[0], nameInd));
    KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_SLONG, qty, 0, qtyInd));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    std::strcpy(name[1], "renamed");
    nameInd[1] = SQL_NTS;
    qty[1] = 99;
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    SQLHDBC other = Other();
    EXPECT_EQ(Rows(other, table), "1:name 1:10 2:renamed:99 3:name 3:30");
    // Writing the expression column is refused, and nothing changes.
    SQLINTEGER twice[kRows];
    KX_STMT_OK(SQLBindCol(stmt_, 4, SQL_C_SLONG, twice, 0, nullptr));
    twice[0] = 1;
    EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_NE(Diag(SQL_HANDLE_STMT, stmt_).find("expression"), std::string::npos) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(Rows(other, table), "1:name 1:10 2:renamed:99 3:name 3:30");
    Drop(other);
  }
}

TEST_P(SetPosTest, BulkAddAndSetPosAddInsertTheBoundRows) {
  const std::string table = Items(2);
  Cursor(stmt_, SQL_CONCUR_VALUES, 3);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
  SQLINTEGER id[3] = {21, 22, 23};
  char name[3][41] = {"twenty-one", "twenty-two", "twenty-three"};
  SQLLEN nameInd[3] = {SQL_NTS, SQL_NULL_DATA, SQL_NTS};
  SQLINTEGER qty[3] = {1, 2, 3};
  SQLLEN qtyInd[3] = {0, 0, SQL_COLUMN_IGNORE};
  SQLUSMALLINT status[3] = {9, 9, 9};
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name[0], nameInd));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_SLONG, qty, 0, qtyInd));
  KX_STMT_OK(SQLBulkOperations(stmt_, SQL_ADD));
  for (int r = 0; r < 3; ++r) EXPECT_EQ(status[r], SQL_ROW_ADDED) << r;
  SQLHDBC other = Other();
  EXPECT_EQ(Rows(other, table), "1:name 1:10 2:name 2:20 21:twenty-one:1 22:NULL:2 23:twenty-three:NULL");
  // A row that breaks the key fails alone.
  id[0] = 1;
  id[1] = 31;
  id[2] = 32;
  qtyInd[2] = 0;
  nameInd[1] = SQL_NTS;
  const SQLRETURN rc = SQLBulkOperations(stmt_, SQL_ADD);
  EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(status[0], SQL_ROW_ERROR);
  EXPECT_EQ(status[1], SQL_ROW_ADDED);
  EXPECT_EQ(status[2], SQL_ROW_ADDED);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other), "7");
  Drop(other);
}

// A fetch the cursor refuses (HY106: after a bulk add a keyset cursor no
// longer knows where its rowset starts) leaves the rowset as it was, so
// SQLSetPos still works on the rows fetched before.
TEST_P(SetPosTest, RefusedFetchKeepsTheRowset) {
  const std::string table = Items(6);
  Cursor(stmt_, SQL_CONCUR_VALUES, 3);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
  Rowset rs;
  rs.Bind(stmt_);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  ASSERT_EQ(rs.fetched, 3u);
  for (int r = 0; r < 3; ++r) {
    rs.id[r] = 41 + r;
    rs.Name(r, "added " + std::to_string(r));
    rs.qtyInd[r] = 0;
  }
  KX_STMT_OK(SQLBulkOperations(stmt_, SQL_ADD));
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY106");
  // The rows fetched before are still the rowset: refresh the second one
  // into the buffers, then change it.
  KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
  EXPECT_EQ(rs.id[1], 2);
  EXPECT_STREQ(rs.name[1], "name 2");
  rs.Name(1, "changed");
  KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
  SQLHDBC other = Other();
  EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 2", other), "changed");
  Drop(other);
  // A fetch that names its rows still goes on from there.
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 4));
  EXPECT_EQ(rs.id[0], 4);
}

TEST_P(SetPosTest, ValuesAtExecutionThroughSetPos) {
  for (SQLULEN concurrency : kOptimistic) {
    SCOPED_TRACE(ConcurrencyName(concurrency));
    ResetStmt();
    const std::string table = Items(4);
    Cursor(stmt_, concurrency, 2);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    SQLINTEGER id[2];
    char name[2][41];
    SQLLEN nameInd[2];
    SQLINTEGER qty[2];
    SQLLEN qtyInd[2];
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name[0], nameInd));
    KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_SLONG, qty, 0, qtyInd));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    nameInd[0] = SQL_LEN_DATA_AT_EXEC(0);
    nameInd[1] = SQL_LEN_DATA_AT_EXEC(0);
    qtyInd[0] = SQL_DATA_AT_EXEC;
    qtyInd[1] = 0;
    qty[1] = 222;
    ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
    // The tokens are the bound buffers of each row, in row then column order.
    std::vector<SQLPOINTER> tokens;
    SQLPOINTER token = nullptr;
    SQLRETURN rc;
    while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
      tokens.push_back(token);
      if (token == &qty[0]) {
        SQLINTEGER v = 111;
        KX_STMT_OK(SQLPutData(stmt_, &v, 0));
      } else {
        const std::string piece = token == name[0] ? "first" : "second";
        KX_STMT_OK(SQLPutData(stmt_, const_cast<char*>(piece.c_str()), SQL_NTS));
        KX_STMT_OK(SQLPutData(stmt_, const_cast<char*>(" piece"), SQL_NTS));
      }
    }
    KX_STMT_OK(rc);
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0], static_cast<SQLPOINTER>(name[0]));
    EXPECT_EQ(tokens[1], static_cast<SQLPOINTER>(&qty[0]));
    EXPECT_EQ(tokens[2], static_cast<SQLPOINTER>(name[1]));
    SQLHDBC other = Other();
    EXPECT_EQ(Rows(other, table), "1:first piece:111 2:second piece:222 3:name 3:30 4:name 4:40");
    // The parameter set size of the statement is the application's still.
    SQLULEN paramset = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, &paramset, 0, nullptr));
    EXPECT_EQ(paramset, 1u);
    Drop(other);
  }
}

// SQLCancel while a positioned change waits for its values gives up that
// change alone: nothing is written, the cursor stays open where it stands
// (the driver manager takes it to be), and the next fetch, refresh and change
// work. The same for an update by bookmark.
TEST_P(SetPosTest, CancelDuringValuesAtExecutionKeepsTheCursor) {
  for (const bool bulk : {false, true}) {
    SCOPED_TRACE(bulk ? "SQLBulkOperations" : "SQLSetPos");
    ResetStmt();
    const std::string table = Items(6);
    Cursor(stmt_, SQL_CONCUR_VALUES, 2);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    Rowset rs{};
    rs.Bind(stmt_);
    SQLBIGINT marks[2] = {0, 0};
    KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 3));  // ids 3, 4
    rs.nameInd[0] = SQL_DATA_AT_EXEC;
    rs.qtyInd[0] = SQL_COLUMN_IGNORE;
    rs.idInd[0] = SQL_COLUMN_IGNORE;
    rs.Name(1, "not written");
    const SQLRETURN started =
        bulk ? SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK) : SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
    ASSERT_EQ(started, SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
    KX_STMT_OK(SQLPutData(stmt_, const_cast<char*>("half"), SQL_NTS));
    KX_STMT_OK(SQLCancel(stmt_));
    EXPECT_EQ(Rows(dbc_, table), "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60");
    // The rowset in hand is still there to refresh and change.
    KX_STMT_OK(SQLSetPos(stmt_, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(rs.id[0], 3);
    EXPECT_EQ(std::string(rs.name[1]), "name 4");
    rs.Name(0, "three");
    rs.nameInd[1] = SQL_COLUMN_IGNORE;
    KX_STMT_OK(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0));
    EXPECT_EQ(rs.id[0], 5);
    EXPECT_EQ(Rows(dbc_, table), "1:name 1:10 2:name 2:20 3:three:30 4:name 4:40 5:name 5:50 6:name 6:60");
  }
}

// Lock concurrency in manual-commit mode: the rows of the rowset are locked
// as they are read, so another connection's update of one waits for this
// transaction (its lock wait runs out); after the commit it goes through.
TEST_P(SetPosTest, LockConcurrencyHoldsTheFetchedRowsUntilCommit) {
  const bool pg = GetParam().postgres;
  const std::string table = Items(8);
  SQLHDBC mine = Other();
  KX_OK(SQLSetConnectAttr(mine, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, mine);
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mine, &st), SQL_SUCCESS);
  Cursor(st, SQL_CONCUR_LOCK);
  KX_OK(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  SQLULEN concurrency = 0;
  KX_OK(SQLGetStmtAttr(st, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr), SQL_HANDLE_STMT, st);
  EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_LOCK));
  Rowset rs;
  rs.Bind(st);
  KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);  // ids 1..5 locked

  SQLHDBC other = Other();
  ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, pg ? "SET lock_timeout = '500ms'" : "SET LOCK_TIMEOUT 500")));
  std::string diag;
  EXPECT_EQ(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 2", &diag), SQL_ERROR);
  EXPECT_FALSE(diag.empty());
  // A row outside the rowset is not locked.
  EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 7", &diag))) << diag;

  // This connection changes a locked row and commits.
  rs.qty[1] = 2222;
  KX_OK(SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
  KX_OK(SQLEndTran(SQL_HANDLE_DBC, mine, SQL_COMMIT), SQL_HANDLE_DBC, mine);
  EXPECT_EQ(Scalar("SELECT qty FROM " + table + " WHERE id = 2", other), "2222");
  EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 1 WHERE id = 2", &diag))) << diag;
  EXPECT_EQ(Scalar("SELECT qty FROM " + table + " WHERE id = 2", other), "1");
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  Drop(other);
  Drop(mine);
}

// In manual-commit mode a row of a rowset that fails (here: it would
// duplicate a key) fails alone: the other rows' changes stand and are
// committed, also on a data source that refuses everything after an error
// until the transaction is rolled back.
TEST_P(SetPosTest, ManualCommitRowFailsAlone) {
  enum Op { kSetPosUpdate, kBulkAdd, kUpdateByBookmark };
  struct Case {
    Op op;
    const char* name;
    SQLUSMALLINT good;  // the status of a row that succeeds
    const char* after;  // the table once committed, as another connection sees it
  };
  const Case cases[] = {
      {kSetPosUpdate, "SetPos UPDATE", SQL_ROW_UPDATED, "1:first:10 2:name 2:20 3:third:30 4:name 4:40"},
      {kBulkAdd, "BulkOperations ADD", SQL_ROW_ADDED,
       "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 21:first:10 23:third:30"},
      {kUpdateByBookmark, "UPDATE_BY_BOOKMARK", SQL_ROW_UPDATED, "1:first:10 2:name 2:20 3:third:30 4:name 4:40"},
  };
  for (SQLULEN concurrency : kOptimistic) {
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.name) + ", " + ConcurrencyName(concurrency));
      const std::string table = Items(4);
      SQLHDBC mine = Other();
      KX_OK(SQLSetConnectAttr(mine, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_HANDLE_DBC, mine);
      SQLHSTMT st = SQL_NULL_HSTMT;
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mine, &st), SQL_SUCCESS);
      Cursor(st, concurrency, 3);
      Attr(st, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
      KX_OK(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
      Rowset rs;
      rs.Bind(st);
      SQLBIGINT marks[kRows] = {0};
      KX_OK(SQLBindCol(st, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr), SQL_HANDLE_STMT, st);
      KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);  // ids 1..3
      // Row 2 takes the key of row 1.
      const SQLINTEGER ids[3] = {k.op == kBulkAdd ? 21 : 1, 1, k.op == kBulkAdd ? 23 : 3};
      for (int r = 0; r < 3; ++r) rs.id[r] = ids[r];
      rs.Name(0, "first");
      rs.Name(1, "second");
      rs.Name(2, "third");
      SQLRETURN rc = SQL_ERROR;
      switch (k.op) {
        case kSetPosUpdate: rc = SQLSetPos(st, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE); break;
        case kBulkAdd: rc = SQLBulkOperations(st, SQL_ADD); break;
        case kUpdateByBookmark: rc = SQLBulkOperations(st, SQL_UPDATE_BY_BOOKMARK); break;
      }
      EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[0], k.good);
      EXPECT_EQ(rs.status[1], SQL_ROW_ERROR);
      EXPECT_EQ(rs.status[2], k.good);
      KX_OK(SQLEndTran(SQL_HANDLE_DBC, mine, SQL_COMMIT), SQL_HANDLE_DBC, mine);
      SQLHDBC other = Other();
      EXPECT_EQ(Rows(other, table), k.after);
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      Drop(other);
      Drop(mine);
    }
  }
}

TEST_P(SetPosTest, ReadOnlyCursorsRefuseChanges) {
  const std::string table = Items(3);
  Cursor(stmt_, SQL_CONCUR_READ_ONLY);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
  Rowset rs;
  rs.Bind(stmt_);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY009");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "3");
}

// A statement that made no result has no cursor: bulk operations on it
// say 24000 and change nothing.
TEST_P(SetPosTest, BulkOperationsWithoutAResultSay24000) {
  const std::string table = Items(3);
  for (const SQLSMALLINT operation : {SQL_ADD, SQL_DELETE_BY_BOOKMARK, SQL_FETCH_BY_BOOKMARK}) {
    SCOPED_TRACE(operation);
    ResetStmt();
    Cursor(stmt_, SQL_CONCUR_VALUES, 1);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "UPDATE " + table + " SET qty = qty + 1 WHERE id = 3"));
    Rowset rs{};
    rs.Bind(stmt_);
    SQLBIGINT mark = 1;
    KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, &mark, sizeof mark, nullptr));
    rs.id[0] = 9;
    rs.idInd[0] = 0;
    rs.Name(0, "nine");
    rs.qtyInd[0] = SQL_NULL_DATA;
    EXPECT_EQ(SQLBulkOperations(stmt_, operation), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "24000") << Diag(SQL_HANDLE_STMT, stmt_);
  }
  EXPECT_EQ(Rows(dbc_, table), "1:name 1:10 2:name 2:20 3:name 3:33");
}

// Bookmarks are the rows' numbers in the key set. Fetching bookmarks 7, 3
// and 5 after another user deleted row 5 returns the rows in that order with
// the statuses success, success, deleted; a bookmark that names no row gives
// its own row an error while the others succeed. Update and delete by
// bookmark change exactly the rows named, values at execution included.
TEST_P(SetPosTest, BulkOperationsByVariableLengthBookmarks) {
  for (SQLULEN concurrency : kOptimistic) {
    SCOPED_TRACE(ConcurrencyName(concurrency));
    ResetStmt();
    const std::string table = Items(12);
    Cursor(stmt_, concurrency, 10);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    // The rowset's bookmarks, bound as variable-length bookmarks.
    std::vector<SQLBIGINT> marks(10);
    std::vector<SQLLEN> markLen(10);
    KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks.data(), sizeof(SQLBIGINT), markLen.data()));
    SQLINTEGER id[10];
    char name[10][41];
    SQLLEN nameInd[10];
    SQLUSMALLINT status[10];
    SQLULEN processed = 0;
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &processed, 0));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name[0], nameInd));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    for (int r = 0; r < 10; ++r) {
      EXPECT_EQ(marks[r], r + 1);
      EXPECT_EQ(markLen[r], static_cast<SQLLEN>(sizeof(SQLBIGINT)));
    }
    SQLHDBC other = Other();
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "DELETE FROM " + table + " WHERE id = 5")));
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET name = 'new 3' WHERE id = 3")));

    // Fetch by bookmark: three rows in the order asked.
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 3);
    marks[0] = 7;
    marks[1] = 3;
    marks[2] = 5;
    KX_STMT_OK(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK));
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[2], SQL_ROW_DELETED);
    EXPECT_EQ(id[0], 7);
    EXPECT_EQ(std::string(name[0]), "name 7");
    EXPECT_EQ(id[1], 3);
    EXPECT_EQ(std::string(name[1]), "new 3");
    // The bookmarks asked for stay as the application wrote them.
    EXPECT_EQ(marks[0], 7);
    EXPECT_EQ(marks[2], 5);

    // A bookmark beyond the key set, and one that is no number of a row.
    marks[0] = 2;
    marks[1] = 999;
    marks[2] = 0;
    EXPECT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(id[0], 2);
    EXPECT_EQ(status[1], SQL_ROW_ERROR);
    EXPECT_EQ(status[2], SQL_ROW_ERROR);

    // Update by bookmark: rows 8 and 2 (a value at execution for row 8), and a
    // bookmark out of range that fails alone.
    marks[0] = 8;
    marks[1] = 2;
    marks[2] = 4000;
    nameInd[0] = SQL_DATA_AT_EXEC;
    std::strcpy(name[1], "by mark 2");
    nameInd[1] = SQL_NTS;
    std::strcpy(name[2], "nowhere");
    nameInd[2] = SQL_NTS;
    id[0] = 8;
    id[1] = 2;
    id[2] = 4000;
    ASSERT_EQ(SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
    EXPECT_EQ(token, static_cast<SQLPOINTER>(name[0]));
    KX_STMT_OK(SQLPutData(stmt_, const_cast<char*>("by mark 8"), SQL_NTS));
    EXPECT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(status[1], SQL_ROW_UPDATED);
    EXPECT_EQ(status[2], SQL_ROW_ERROR);
    EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 8", other), "by mark 8");
    EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 2", other), "by mark 2");
    // Row 2 is the first row of the rowset: a change through it compares
    // with what the update by bookmark wrote.
    id[0] = 2;
    std::strcpy(name[0], "again 2");
    nameInd[0] = SQL_NTS;
    KX_STMT_OK(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 2", other), "again 2");

    // Delete by bookmark: rows 1 and 12; the deleted row 5 is reported.
    marks[0] = 12;
    marks[1] = 1;
    marks[2] = 5;
    EXPECT_EQ(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(status[0], SQL_ROW_DELETED);
    EXPECT_EQ(status[1], SQL_ROW_DELETED);
    EXPECT_EQ(status[2], SQL_ROW_DELETED);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table + " WHERE id IN (1, 12)", other), "0");
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other), "9");
    // The bookmarks still name the same rows: fetching by bookmark 12 now
    // reports it deleted.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    EXPECT_EQ(status[0], SQL_ROW_DELETED);
    EXPECT_EQ(status[1], SQL_ROW_UPDATED);
    // SQLFetchScroll by bookmark goes to the bookmarked row.
    SQLBIGINT where = 6;
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_FETCH_BOOKMARK_PTR, &where, 0));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 1));
    EXPECT_EQ(id[0], 7);
    Drop(other);
  }
}

// UPDATE ... WHERE CURRENT OF and DELETE ... WHERE CURRENT OF through a
// second statement change the row the named cursor stands on: a name the
// application gave the cursor, or the one SQLGetCursorName made up for it.
TEST_P(SetPosTest, PositionedStatementsThroughASecondStatement) {
  struct Case {
    const char* given;  // SQLSetCursorName's name; NULL leaves the cursor unnamed
    bool askBeforeExecute;
  };
  const Case cases[] = {{"walker", false}, {nullptr, true}, {nullptr, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.given != nullptr ? k.given : k.askBeforeExecute ? "default, asked first" : "default");
    const std::string table = Items(8);
    // A statement of its own: a name once given stays with its statement.
    SQLHSTMT cur = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &cur), SQL_SUCCESS);
    Cursor(cur, SQL_CONCUR_VALUES);
    auto nameOf = [&]() {
      char name[32] = {0};
      SQLSMALLINT nameLen = 0;
      EXPECT_EQ(SQLGetCursorNameA(cur, reinterpret_cast<SQLCHAR*>(name), sizeof name, &nameLen), SQL_SUCCESS)
          << Diag(SQL_HANDLE_STMT, cur);
      return std::string(name);
    };
    std::string cursor;
    if (k.given != nullptr) {
      KX_OK(SQLSetCursorNameA(cur, reinterpret_cast<SQLCHAR*>(const_cast<char*>(k.given)), SQL_NTS),
            SQL_HANDLE_STMT, cur);
    } else if (k.askBeforeExecute) {
      cursor = nameOf();
    }
    KX_OK(ExecDirect(cur, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, cur);
    if (k.given != nullptr) {
      cursor = k.given;
    } else if (!k.askBeforeExecute) {
      cursor = nameOf();
    }
    // The name stays the same for the statement's life.
    EXPECT_EQ(nameOf(), cursor);
    if (k.given == nullptr) {
      EXPECT_EQ(cursor.rfind("SQL_CUR", 0), 0u) << cursor;
    }
    Rowset rs;
    rs.Bind(cur);
    KX_OK(SQLFetchScroll(cur, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, cur);  // ids 1..5, positioned on row 1
    SQLHSTMT second = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &second), SQL_SUCCESS);
    char value[41] = "positioned";
    SQLLEN valueLen = SQL_NTS;
    KX_OK(SQLBindParameter(second, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, value, sizeof value,
                           &valueLen),
          SQL_HANDLE_STMT, second);
    KX_OK(ExecDirect(second, "UPDATE " + table + " SET name = ? WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT,
          second);
    SQLLEN count = 0;
    KX_OK(SQLRowCount(second, &count), SQL_HANDLE_STMT, second);
    EXPECT_EQ(count, 1);
    // A refreshed row stays the one positioned on.
    KX_OK(SQLSetPos(cur, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, cur);
    KX_OK(ExecDirect(second, "UPDATE " + table + " SET qty = qty + 100 WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT,
          second);
    KX_OK(SQLSetPos(cur, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, cur);
    std::strcpy(value, "third");
    // Cursor names compare without regard to case.
    std::string upper = cursor;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    KX_OK(ExecDirect(second, "UPDATE " + table + " SET name = ?, qty = qty + 1 WHERE CURRENT OF " + upper),
          SQL_HANDLE_STMT, second);
    KX_OK(SQLSetPos(cur, 4, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, cur);
    KX_OK(ExecDirect(second, "DELETE FROM " + table + " WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT, second);
    SQLHDBC other = Other();
    EXPECT_EQ(Rows(other, table),
              "1:positioned:10 2:name 2:120 3:third:31 5:name 5:50 6:name 6:60 7:name 7:70 8:name 8:80");
    // The cursor sees its own changes when it fetches the rows again.
    KX_OK(SQLFetchScroll(cur, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, cur);
    EXPECT_EQ(rs.status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
    // A name no cursor has.
    EXPECT_EQ(ExecDirect(second, "DELETE FROM " + table + " WHERE CURRENT OF nobody"), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, second), "34000") << Diag(SQL_HANDLE_STMT, second);
    SQLFreeHandle(SQL_HANDLE_STMT, second);
    Drop(other);
    SQLFreeHandle(SQL_HANDLE_STMT, cur);
  }
  SQLUINTEGER positioned = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_POSITIONED_STATEMENTS, &positioned, sizeof positioned, nullptr)));
  EXPECT_EQ(positioned & (SQL_PS_POSITIONED_UPDATE | SQL_PS_POSITIONED_DELETE),
            static_cast<SQLUINTEGER>(SQL_PS_POSITIONED_UPDATE | SQL_PS_POSITIONED_DELETE));
  SQLUINTEGER a1 = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_KEYSET_CURSOR_ATTRIBUTES1, &a1, sizeof a1, nullptr)));
  EXPECT_EQ(a1 & (SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE),
            static_cast<SQLUINTEGER>(SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE));
}

// A static cursor under values concurrency changes its rows the same way:
// the rows it read stay as read, its own changes show, another user's change
// of a row meanwhile is refused (01001); bookmarks name its rows.
TEST_P(SetPosTest, StaticCursorChangesItsRows) {
  for (SQLULEN concurrency : kOptimistic) {
    SCOPED_TRACE(ConcurrencyName(concurrency));
    ResetStmt();
    const std::string table = Items(9);
    Cursor(stmt_, concurrency, kRows, SQL_CURSOR_STATIC);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id DESC"));
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
    SQLULEN type = 0, kept = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &kept, 0, nullptr));
    EXPECT_EQ(type, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    EXPECT_EQ(kept, concurrency);
    Rowset rs;
    rs.Bind(stmt_);
    SQLBIGINT marks[kRows];
    KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 9..5
    EXPECT_EQ(rs.id[0], 9);
    SQLHDBC other = Other();
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 7")));
    rs.Name(0, "nine");
    rs.Name(2, "seven");
    EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(rs.status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
    // A refresh reads the cursor's own copy again, as a new fetch would: the
    // failed row as the cursor read it, the changed row as it changed it.
    rs.Name(0, "scribbled");
    KX_STMT_OK(SQLSetPos(stmt_, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(std::string(rs.name[0]), "nine");
    EXPECT_EQ(std::string(rs.name[2]), "name 7");
    EXPECT_EQ(rs.qty[2], 70);
    EXPECT_EQ(rs.status[2], SQL_ROW_SUCCESS);
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_DELETE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(Rows(other, table),
              "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:0 9:nine:90");
    // Fetched again: the cursor's own changes show, the other user's does not.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    EXPECT_EQ(rs.status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(std::string(rs.name[0]), "nine");
    EXPECT_EQ(rs.status[1], SQL_ROW_DELETED);
    EXPECT_EQ(rs.qty[2], 70);
    // ... and a second change of the updated row compares with its new values.
    rs.Name(0, "nine again");
    KX_STMT_OK(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    // Delete by bookmark: the last rows of the result.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));  // ids 5..1
    EXPECT_EQ(marks[4], 9);
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 2);
    marks[0] = 9;
    marks[1] = 8;
    KX_STMT_OK(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK));
    EXPECT_EQ(rs.status[0], SQL_ROW_DELETED);
    EXPECT_EQ(rs.status[1], SQL_ROW_DELETED);
    EXPECT_EQ(Rows(other, table), "3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:0 9:nine again:90");
    Drop(other);
  }
}

// A row's version covers the whole row as the application holds it, columns
// the values comparison passes over too (an inexact number, a long text): on
// keyset-driven and static cursors alike, a row another user changed in such
// a column, or deleted, is left alone (01001) while the other rows change;
// rows this cursor changed take their new version and change again.
TEST_P(SetPosTest, RowVersionsCoverTheWholeRow) {
  const bool pg = GetParam().postgres;
  struct Case {
    SQLULEN type;
    const char* change;  // another user's change of row 2
    const char* after;   // row 2's price and note after it
  };
  const Case cases[] = {
      {SQL_CURSOR_KEYSET_DRIVEN, "price = 2.75", "2.75:note 2"},
      {SQL_CURSOR_KEYSET_DRIVEN, "note = 'their note'", "2.5:their note"},
      {SQL_CURSOR_STATIC, "price = 2.75", "2.75:note 2"},
      {SQL_CURSOR_STATIC, "note = 'their note'", "2.5:their note"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.type == SQL_CURSOR_STATIC ? "static: " : "keyset-driven: ") + k.change);
    ResetStmt();
    const std::string table = Table("rowver", std::string("id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40), "
                                                          "price DOUBLE PRECISION, note ") +
                                                  (pg ? "TEXT" : "CLOB"));
    for (int i = 1; i <= 4; ++i) {
      const std::string n = std::to_string(i);
      Exec("INSERT INTO " + table + " VALUES (" + n + ", 'name " + n + "', " + n + ".5, 'note " + n + "')");
    }
    ResetStmt();
    Cursor(stmt_, SQL_CONCUR_ROWVER, 3, k.type);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, price, note FROM " + table + " ORDER BY id"));
    SQLULEN type = 0, concurrency = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr));
    EXPECT_EQ(type, k.type);
    EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_ROWVER));
    SQLINTEGER id[3];
    char name[3][41];
    SQLLEN nameInd[3];
    SQLUSMALLINT status[3];
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name[0], nameInd));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 1..3
    SQLHDBC other = Other();
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET " + k.change + " WHERE id = 2")));
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "DELETE FROM " + table + " WHERE id = 3")));
    for (int r = 0; r < 3; ++r) {
      std::strcpy(name[r], ("mine " + std::to_string(id[r])).c_str());
      nameInd[r] = SQL_NTS;
    }
    EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO)
        << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_TRUE(HasState(stmt_, "01001")) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(status[0], SQL_ROW_UPDATED);
    EXPECT_EQ(status[1], SQL_ROW_ERROR);
    EXPECT_EQ(status[2], SQL_ROW_ERROR);
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, 1);
    const std::string row2 = "SELECT name || ':' || price || ':' || note FROM " + table + " WHERE id = 2";
    EXPECT_EQ(Scalar(row2, other), std::string("name 2:") + k.after);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, other), "3");
    // Row 1, changed by this cursor, changes again and is then deleted.
    std::strcpy(name[0], "mine again");
    KX_STMT_OK(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(Scalar("SELECT name FROM " + table + " WHERE id = 1", other), "mine again");
    KX_STMT_OK(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(status[0], SQL_ROW_DELETED);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table + " WHERE id = 1", other), "0");
    // Fetched again, a keyset-driven cursor holds row 2 as it is now, and a
    // change of it goes through; a static cursor still holds the row as it
    // first read it, so the change is refused again.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    std::strcpy(name[1], "mine 2");
    nameInd[1] = SQL_NTS;
    if (k.type == SQL_CURSOR_STATIC) {
      EXPECT_EQ(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
      EXPECT_TRUE(HasState(stmt_, "01001")) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(Scalar(row2, other), std::string("name 2:") + k.after);
    } else {
      KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
      EXPECT_EQ(Scalar(row2, other), std::string("mine 2:") + k.after);
    }
    Drop(other);
  }
}

// A rowset size set after a fetch takes effect at the next fetch: until
// then SQLSetPos works on the rowset in hand (a refresh of every row writes
// only the rows the application's arrays held, a row past it is out of
// range), and the next relative fetch moves on from that rowset, however
// often the size changed in between.
TEST_P(SetPosTest, ARowsetSizeSetAfterAFetchWaitsForTheNextFetch) {
  struct Case {
    const char* name;
    SQLUSMALLINT operation;  // SQLSetPos(0, ...) after the change; 0: fetch next
    const char* rows;        // the table afterwards
    int firstId;             // rs.id[0] afterwards
  };
  const Case cases[] = {
      {"refresh", SQL_REFRESH, "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70", 1},
      {"update", SQL_UPDATE, "1:new:10 2:new:20 3:new:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70", 1},
      {"delete", SQL_DELETE, "4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70", 1},
      {"fetch next", 0, "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70", 4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ResetStmt();
    const std::string table = Items(7);
    Cursor(stmt_, SQL_CONCUR_VALUES, 3);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    Rowset rs{};
    rs.Bind(stmt_);
    for (SQLULEN r = 0; r < kRows; ++r) {
      rs.id[r] = -1;
      rs.Name(static_cast<int>(r), "untouched");
      rs.status[r] = 999;
    }
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 1..3
    for (int r = 0; r < 3; ++r) {
      rs.Name(r, "new");
      rs.qtyInd[r] = SQL_COLUMN_IGNORE;
    }
    // The arrays hold 5 rows; the application asks for more before it
    // binds bigger ones.
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 4);
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 5);
    if (k.operation == 0) {
      KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0));
      EXPECT_EQ(rs.fetched, 4u);
    } else {
      KX_STMT_OK(SQLSetPos(stmt_, 0, k.operation, SQL_LOCK_NO_CHANGE));
      for (SQLULEN r = 3; r < kRows; ++r) {
        EXPECT_EQ(rs.id[r], -1) << r;
        EXPECT_EQ(std::string(rs.name[r]), "untouched") << r;
        EXPECT_EQ(rs.status[r], 999) << r;
      }
      EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY107");
    }
    EXPECT_EQ(rs.id[0], k.firstId);
    EXPECT_EQ(Rows(dbc_, table), k.rows);
  }
  // A fetch by bookmarks is a fetch: its rows, as many as the size in force,
  // are the rowset SQLSetPos works on.
  ResetStmt();
  const std::string table = Items(7);
  Cursor(stmt_, SQL_CONCUR_VALUES, kRows);
  Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
  Rowset rs{};
  rs.Bind(stmt_);
  SQLBIGINT marks[kRows] = {};
  KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 1..5
  Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 2);
  marks[0] = 6;
  marks[1] = 3;
  KX_STMT_OK(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK));
  EXPECT_EQ(rs.id[0], 6);
  EXPECT_EQ(rs.id[1], 3);
  for (SQLULEN r = 2; r < kRows; ++r) rs.status[r] = 999;
  KX_STMT_OK(SQLSetPos(stmt_, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
  for (SQLULEN r = 2; r < kRows; ++r) EXPECT_EQ(rs.status[r], 999) << r;
  EXPECT_EQ(SQLSetPos(stmt_, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY107");
}

// Variable-length bookmarks bound column-wise: each element is as long as
// the buffer length says, so a fetch puts bookmark k at k times that length
// and a bulk operation reads it back from there; an element too short for a
// bookmark is refused at binding rather than overrun. SQLFetchScroll by
// bookmark without a bookmark, or with one that names no row, says HY111.
TEST_P(SetPosTest, VariableBookmarkBuffersOfEveryLength) {
  struct Case {
    SQLLEN bufferLength;
    const char* bindState;  // "" bound
    const char* after;      // the table after deleting by the rowset's bookmarks
  };
  const Case cases[] = {
      {4, "HY090", "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70"},
      {8, "", "1:name 1:10 2:name 2:20 6:name 6:60 7:name 7:70"},
      {16, "", "1:name 1:10 2:name 2:20 6:name 6:60 7:name 7:70"},
      {24, "", "1:name 1:10 2:name 2:20 6:name 6:60 7:name 7:70"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.bufferLength);
    ResetStmt();
    const std::string table = Items(7);
    Cursor(stmt_, SQL_CONCUR_VALUES, 3);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    Rowset rs{};
    rs.Bind(stmt_);
    std::vector<unsigned char> marks(3 * 24 + 8, 0xAB);
    SQLLEN lengths[3] = {0, 0, 0};
    const SQLRETURN bound = SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks.data(), k.bufferLength, lengths);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), k.bindState);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 3));  // ids 3..5
    if (SQL_SUCCEEDED(bound)) {
      for (int r = 0; r < 3; ++r) {
        SQLBIGINT mark = 0;
        std::memcpy(&mark, marks.data() + r * k.bufferLength, sizeof mark);
        EXPECT_EQ(mark, r + 3) << r;
        EXPECT_EQ(lengths[r], 8) << r;
      }
      // Nothing past the last element is written.
      EXPECT_EQ(marks[2 * k.bufferLength + 8], 0xAB);
      KX_STMT_OK(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK));
    } else {
      EXPECT_EQ(marks[0], 0xAB);
    }
    EXPECT_EQ(Rows(dbc_, table), k.after);
  }
  // Fetching by bookmark needs a bookmark that can name a row.
  ResetStmt();
  const std::string table = Items(4);
  Cursor(stmt_, SQL_CONCUR_READ_ONLY, 2);
  Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
  Rowset rs{};
  rs.Bind(stmt_);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 0), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY111");
  SQLBIGINT where = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_FETCH_BOOKMARK_PTR, &where, 0));
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 1), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY111");
  where = 3;
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 0));
  EXPECT_EQ(rs.id[0], 3);
}

// Positioned changes name the table as the catalog spells it, quoted: a
// table whose name needs quotes (another case, a space) is the one changed,
// never the table its unquoted spelling would name, which here holds the
// same rows.
TEST_P(SetPosTest, PositionedChangesReachTablesWhoseNamesNeedQuotes) {
  const std::string base = UniqueName("quoted");
  struct Case {
    std::string table;  // as SQL names it
    std::string twin;   // what its unquoted spelling names ("" none)
  };
  const Case cases[] = {
      {"\"" + base + "_Mixed\"", base + "_Mixed"},
      {"\"" + base + " spaced\"", base},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.table);
    for (const std::string& t : {k.table, k.twin}) {
      Exec("CREATE TABLE " + t + " (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40), qty INTEGER)");
      tables_.push_back(t);
      for (int i = 1; i <= 3; ++i) {
        Exec("INSERT INTO " + t + " VALUES (" + std::to_string(i) + ", 'name " + std::to_string(i) + "', " +
             std::to_string(i * 10) + ")");
      }
    }
    ResetStmt();
    Cursor(stmt_, SQL_CONCUR_VALUES, 3);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + k.table + " ORDER BY id"));
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
    Rowset rs{};
    rs.Bind(stmt_);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    rs.Name(0, "changed");
    rs.idInd[0] = SQL_COLUMN_IGNORE;
    rs.qtyInd[0] = SQL_COLUMN_IGNORE;
    KX_STMT_OK(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_DELETE, SQL_LOCK_NO_CHANGE));
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 1);
    rs.id[0] = 9;
    rs.idInd[0] = 0;
    rs.Name(0, "added");
    rs.qty[0] = 90;
    rs.qtyInd[0] = 0;
    KX_STMT_OK(SQLBulkOperations(stmt_, SQL_ADD));
    EXPECT_EQ(Rows(dbc_, k.table), "1:changed:10 3:name 3:30 9:added:90");
    EXPECT_EQ(Rows(dbc_, k.twin), "1:name 1:10 2:name 2:20 3:name 3:30");
  }
}

// A double quote inside a quoted name is written twice: every cursor reads
// and changes a table and a column whose names hold one.
TEST_P(SetPosTest, NamesWithDoubledQuotes) {
  const std::string table = "\"" + UniqueName("dq") + "\"\"t\"";
  Exec("CREATE TABLE " + table + " (id INTEGER NOT NULL PRIMARY KEY, \"na\"\"me\" VARCHAR(40), qty INTEGER)");
  tables_.push_back(table);
  Exec("INSERT INTO " + table + " VALUES (1, 'one', 10), (2, 'two', 20)");
  struct Case {
    SQLULEN type;
    SQLULEN concurrency;
  };
  const Case cases[] = {
      {SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_READ_ONLY}, {SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY},
      {SQL_CURSOR_STATIC, SQL_CONCUR_VALUES},          {SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_VALUES},
      {SQL_CURSOR_DYNAMIC, SQL_CONCUR_VALUES},
  };
  int n = 0;
  std::string current = "two";  // each changing cursor writes row 2 anew
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "cursor " << c.type << " concurrency " << c.concurrency);
    ResetStmt();
    Cursor(stmt_, c.concurrency, 2, c.type);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, \"na\"\"me\", qty FROM " + table + " ORDER BY id"));
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
    Rowset rs{};
    rs.Bind(stmt_);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0));
    ASSERT_EQ(rs.fetched, 2u);
    EXPECT_EQ(rs.id[1], 2);
    EXPECT_EQ(rs.name[1], current);
    if (c.concurrency == SQL_CONCUR_READ_ONLY) continue;
    const std::string v = "changed " + std::to_string(++n);
    current = v;
    rs.Name(1, v);
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    KX_STMT_OK(SQLSetPos(stmt_, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(rs.name[1], v);
    EXPECT_EQ(Scalar("SELECT \"na\"\"me\" FROM " + table + " WHERE id = 2"), v);
  }
}

// A rowset size made smaller after a fetch waits for the next fetch too:
// SQLSetPos works on the five rows fetched, not on the first two.
TEST_P(SetPosTest, ASmallerRowsetSizeWaitsForTheNextFetch) {
  struct Case {
    const char* name;
    SQLUSMALLINT operation;
    const char* rows;  // the table afterwards
  };
  const Case cases[] = {
      {"delete", SQL_DELETE, "6:name 6:60 7:name 7:70"},
      {"update", SQL_UPDATE, "1:new:10 2:new:20 3:new:30 4:new:40 5:new:50 6:name 6:60 7:name 7:70"},
      {"refresh", SQL_REFRESH, "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60 7:name 7:70"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ResetStmt();
    const std::string table = Items(7);
    Cursor(stmt_, SQL_CONCUR_VALUES, kRows);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    Rowset rs{};
    rs.Bind(stmt_);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 1..5
    for (int r = 0; r < static_cast<int>(kRows); ++r) {
      rs.Name(r, "new");
      rs.qtyInd[r] = SQL_COLUMN_IGNORE;
      rs.status[r] = 999;
    }
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 2);
    EXPECT_EQ(SQLSetPos(stmt_, 0, k.operation, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
    for (SQLULEN r = 0; r < kRows; ++r) {
      const SQLUSMALLINT want = k.operation == SQL_DELETE   ? SQL_ROW_DELETED
                                : k.operation == SQL_UPDATE ? SQL_ROW_UPDATED
                                                            : SQL_ROW_SUCCESS;
      EXPECT_EQ(rs.status[r], want) << r;
      if (k.operation == SQL_REFRESH) {
        EXPECT_EQ(rs.id[r], static_cast<SQLINTEGER>(r + 1)) << r;
      }
    }
    // Row 4 of the rowset in hand is there to stand on.
    EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(Rows(dbc_, table), k.rows);
    // The next fetch takes the new size.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    EXPECT_EQ(rs.fetched, 2u);
  }
}

// Under optimistic concurrency a change by bookmark of a row outside the
// rowset is compared with the row as the application fetched it: a row
// another user changed since, or deleted, is left alone (01001), the others
// change; a row the cursor changed is compared with its new values next.
TEST_P(SetPosTest, BookmarkChangesOutsideTheRowsetCheckForConflicts) {
  for (SQLULEN type : {SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC}) {
    for (SQLULEN concurrency : kOptimistic) {
      SCOPED_TRACE(std::string(ConcurrencyName(concurrency)) + (type == SQL_CURSOR_STATIC ? ", static" : ", keyset"));
      ResetStmt();
      const std::string table = Items(12);
      Cursor(stmt_, concurrency, kRows, type);
      Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
      KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
      Rowset rs{};
      rs.Bind(stmt_);
      SQLBIGINT marks[kRows] = {};
      KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr));
      KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 1..5
      KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0));   // ids 6..10: rows 1..5 are outside
      SQLHDBC other = Other();
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 2")));
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET name = 'theirs' WHERE id = 4")));
      Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 3);
      marks[0] = 2;
      marks[1] = 3;
      marks[2] = 4;
      for (int r = 0; r < 3; ++r) {
        rs.Name(r, "mine");
        rs.idInd[r] = SQL_COLUMN_IGNORE;
        rs.qtyInd[r] = SQL_COLUMN_IGNORE;
      }
      EXPECT_EQ(SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO)
          << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_TRUE(HasState(stmt_, "01001")) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(rs.status[0], SQL_ROW_ERROR);
      EXPECT_EQ(rs.status[1], SQL_ROW_UPDATED);
      EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
      // Row 3 changed by this cursor compares with its new values; row 1,
      // unchanged since it was fetched, goes; row 2 stays the other user's.
      marks[0] = 3;
      marks[1] = 1;
      marks[2] = 2;
      EXPECT_EQ(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO)
          << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(rs.status[0], SQL_ROW_DELETED);
      EXPECT_EQ(rs.status[1], SQL_ROW_DELETED);
      EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
      EXPECT_EQ(Rows(other, table),
                "2:name 2:0 4:theirs:40 5:name 5:50 6:name 6:60 7:name 7:70 8:name 8:80 9:name 9:90 "
                "10:name 10:100 11:name 11:110 12:name 12:120");
      Drop(other);
    }
  }
}

// Deleting every row of each rowset while scrolling backwards: the rows
// the cursor deleted stay in its key set as holes (SQL_ROW_DELETED), which
// is what SQLGetInfo says (no SQL_CA2_SENSITIVITY_DELETIONS for keyset
// cursors), so every rowset reached is whole and all 120 rows go. The
// cursors show their own updates, as SQL_STATIC_SENSITIVITY says.
TEST_P(SetPosTest, BackwardDeleteLoopDeletesEveryRow) {
  SQLUINTEGER a2 = 0, sensitivity = 0;
  KX_OK(SQLGetInfo(dbc_, SQL_KEYSET_CURSOR_ATTRIBUTES2, &a2, sizeof a2, nullptr), SQL_HANDLE_DBC, dbc_);
  KX_OK(SQLGetInfo(dbc_, SQL_STATIC_SENSITIVITY, &sensitivity, sizeof sensitivity, nullptr), SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(a2 & SQL_CA2_SENSITIVITY_DELETIONS, 0u);
  EXPECT_NE(a2 & SQL_CA2_SENSITIVITY_UPDATES, 0u);
  EXPECT_EQ(sensitivity, static_cast<SQLUINTEGER>(SQL_SS_UPDATES));
  constexpr SQLULEN kTen = 10;
  for (const bool wholeRowset : {false, true}) {
    SCOPED_TRACE(wholeRowset ? "SQLSetPos(0)" : "row by row");
    ResetStmt();
    const std::string table = Items(120);
    Cursor(stmt_, SQL_CONCUR_VALUES, kTen);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id"));
    IdNameRows<kTen> rs{};
    rs.Bind(stmt_);
    int deleted = 0, rowsets = 0;
    SQLRETURN rc = SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0);
    while (rc == SQL_SUCCESS) {
      SCOPED_TRACE(rowsets);
      ++rowsets;
      ASSERT_EQ(rs.fetched, kTen);
      if (wholeRowset) {
        ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
      }
      for (SQLULEN r = 1; r <= kTen; ++r) {
        if (!wholeRowset) {
          ASSERT_EQ(rs.status[r - 1], SQL_ROW_SUCCESS);
          ASSERT_EQ(SQLSetPos(stmt_, r, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
        }
        EXPECT_EQ(rs.status[r - 1], SQL_ROW_DELETED);
        ++deleted;
      }
      rc = SQLFetchScroll(stmt_, SQL_FETCH_PRIOR, 0);
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(rowsets, 12);
    EXPECT_EQ(deleted, 120);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "0");
    // Scrolling back over them shows the holes.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    EXPECT_EQ(rs.status[0], SQL_ROW_DELETED);
  }
}

// SQLBulkOperations changes nothing through a read-only cursor (HY092). A
// static read-only cursor fetches by bookmark (its bookmarks are its row
// numbers); a fetch in which no bookmark names a row gives every row
// SQL_ROW_ERROR and the call HY111.
TEST_P(SetPosTest, BulkOperationsOnReadOnlyCursors) {
  const std::string table = Items(6);
  for (SQLULEN type : {SQL_CURSOR_STATIC, SQL_CURSOR_KEYSET_DRIVEN}) {
    SCOPED_TRACE(type == SQL_CURSOR_STATIC ? "static" : "keyset");
    ResetStmt();
    Cursor(stmt_, SQL_CONCUR_READ_ONLY, 3, type);
    Attr(stmt_, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, qty FROM " + table + " ORDER BY id DESC"));
    Rowset rs{};
    rs.Bind(stmt_);
    SQLBIGINT marks[kRows] = {};
    KX_STMT_OK(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], nullptr));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));  // ids 6..4
    for (SQLSMALLINT operation : {SQL_ADD, SQL_UPDATE_BY_BOOKMARK, SQL_DELETE_BY_BOOKMARK}) {
      SCOPED_TRACE(operation);
      marks[0] = 1;
      EXPECT_EQ(SQLBulkOperations(stmt_, operation), SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY092") << Diag(SQL_HANDLE_STMT, stmt_);
    }
    marks[0] = 5;  // id 2
    marks[1] = 2;  // id 5
    marks[2] = 6;  // id 1
    KX_STMT_OK(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK));
    EXPECT_EQ(rs.id[0], 2);
    EXPECT_EQ(rs.id[1], 5);
    EXPECT_EQ(rs.id[2], 1);
    EXPECT_EQ(std::string(rs.name[1]), "name 5");
    EXPECT_EQ(rs.status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(rs.status[2], SQL_ROW_SUCCESS);
    marks[0] = 7;
    marks[1] = 0;
    marks[2] = 1000;
    EXPECT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY111") << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_FALSE(HasState(stmt_, "HY000")) << Diag(SQL_HANDLE_STMT, stmt_);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(rs.status[r], SQL_ROW_ERROR) << r;
  }
  EXPECT_EQ(Rows(dbc_, table), "1:name 1:10 2:name 2:20 3:name 3:30 4:name 4:40 5:name 5:50 6:name 6:60");
}

// On a data source without SELECT ... FOR UPDATE (the stand-in's
// NoSelectForUpdate property makes one), lock concurrency locks the rows it
// reads by updating their keys to their own values: another user cannot
// change them until this connection commits, and the cursor changes them.
TEST_P(SetPosTest, LockByUpdateWhereTheDataSourceHasNoSelectForUpdate) {
  const bool pg = GetParam().postgres;
  std::string cs = std::string("DRIVER={") + GetParam().driver + "};URL={URL=" +
                   (pg ? PgUrl() : std::string("{jdbc:h2:mem:kxe2e;DB_CLOSE_DELAY=-1}")) + ";NoSelectForUpdate=1}";
  cs += pg ? ";UID=" + PgUser() + ";PWD=" + PgPassword() : std::string(";NLB=1");
  struct Case {
    const char* name;
    SQLULEN type;
  };
  const Case cases[] = {{"keyset", SQL_CURSOR_KEYSET_DRIVEN}, {"dynamic", SQL_CURSOR_DYNAMIC}, {"static", SQL_CURSOR_STATIC}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string table = Items(8);
    SQLHDBC mine = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &mine), SQL_SUCCESS);
    SQLSMALLINT outLen = 0;
    KX_OK(SQLDriverConnect(mine, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr, 0, &outLen,
                           SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, mine);
    std::string diag;
    // The data source refuses FOR UPDATE itself.
    EXPECT_EQ(ExecOn(mine, "SELECT id FROM " + table + " FOR UPDATE", &diag), SQL_ERROR);
    KX_OK(SQLSetConnectAttr(mine, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, mine);
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mine, &st), SQL_SUCCESS);
    Cursor(st, SQL_CONCUR_LOCK, kRows, k.type);
    EXPECT_EQ(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_SUCCESS)
        << Diag(SQL_HANDLE_STMT, st);
    SQLULEN concurrency = 0;
    KX_OK(SQLGetStmtAttr(st, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr), SQL_HANDLE_STMT, st);
    EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_LOCK));
    Rowset rs;
    rs.Bind(st);
    EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, st);  // ids 1..5 locked
    EXPECT_EQ(rs.fetched, kRows);
    EXPECT_EQ(rs.status[1], SQL_ROW_SUCCESS);

    SQLHDBC other = Other();
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, pg ? "SET lock_timeout = '500ms'" : "SET LOCK_TIMEOUT 500")));
    EXPECT_EQ(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 2", &diag), SQL_ERROR);
    EXPECT_FALSE(diag.empty());
    // A row outside the rowset is not locked.
    EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 7", &diag))) << diag;

    rs.qty[1] = 2222;
    KX_OK(SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
    KX_OK(SQLEndTran(SQL_HANDLE_DBC, mine, SQL_COMMIT), SQL_HANDLE_DBC, mine);
    EXPECT_EQ(Scalar("SELECT qty FROM " + table + " WHERE id = 2", other), "2222");
    EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 1 WHERE id = 2", &diag))) << diag;
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    Drop(other);
    Drop(mine);
  }
  // A row another user holds locked cannot be locked: it shows
  // SQL_ROW_ERROR (01S01), the rowset's other rows are locked and there.
  const std::string table = Items(8);
  SQLHDBC holder = Other();
  KX_OK(SQLSetConnectAttr(holder, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, holder);
  ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(holder, "UPDATE " + table + " SET qty = 33 WHERE id = 3")));
  SQLHDBC mine = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &mine), SQL_SUCCESS);
  SQLSMALLINT outLen = 0;
  KX_OK(SQLDriverConnect(mine, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr, 0, &outLen,
                         SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, mine);
  ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(mine, pg ? "SET lock_timeout = '500ms'" : "SET LOCK_TIMEOUT 500")));
  KX_OK(SQLSetConnectAttr(mine, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, mine);
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mine, &st), SQL_SUCCESS);
  Cursor(st, SQL_CONCUR_LOCK, kRows);
  KX_OK(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  Rowset rs;
  rs.Bind(st);
  EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(State(SQL_HANDLE_STMT, st), "01S01");
  for (int r = 0; r < static_cast<int>(kRows); ++r) {
    EXPECT_EQ(rs.status[r], r == 2 ? SQL_ROW_ERROR : SQL_ROW_SUCCESS) << r;
  }
  KX_OK(SQLEndTran(SQL_HANDLE_DBC, mine, SQL_ROLLBACK), SQL_HANDLE_DBC, mine);
  KX_OK(SQLEndTran(SQL_HANDLE_DBC, holder, SQL_ROLLBACK), SQL_HANDLE_DBC, holder);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  Drop(mine);
  Drop(holder);
}

// Values concurrency compares the table's columns by default (statement
// attribute 1050 = 1): another user's change to a column outside the select
// list is a conflict (01001). With 1050 = 2 only the select list is compared
// and the same change is not one.
TEST_P(SetPosTest, ValuesConcurrencyComparesTheTablesColumns) {
  constexpr SQLINTEGER kOptimisticMode = 1050;
  struct Case {
    const char* name;
    SQLULEN mode;  // 0: the default
    SQLULEN type;
    bool conflict;
  };
  const Case cases[] = {{"default keyset", 0, SQL_CURSOR_KEYSET_DRIVEN, true},
                        {"table columns, static", 1, SQL_CURSOR_STATIC, true},
                        {"table columns, dynamic", 1, SQL_CURSOR_DYNAMIC, true},
                        {"select list, keyset", 2, SQL_CURSOR_KEYSET_DRIVEN, false},
                        {"select list, static", 2, SQL_CURSOR_STATIC, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ResetStmt();
    const std::string table = Items(6);
    Cursor(stmt_, SQL_CONCUR_VALUES, kRows, k.type);
    if (k.mode != 0) Attr(stmt_, kOptimisticMode, k.mode);
    SQLINTEGER mode = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, kOptimisticMode, &mode, 0, nullptr));
    EXPECT_EQ(mode, k.mode != 0 ? static_cast<SQLINTEGER>(k.mode) : 1);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
    Rowset rs{};
    rs.Bind(stmt_, false);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    ExecOther("UPDATE " + table + " SET qty = 0 WHERE id = 2");
    rs.Name(1, "mine");
    rs.Name(2, "mine");
    rs.idInd[1] = rs.idInd[2] = SQL_COLUMN_IGNORE;
    const SQLRETURN rc = SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
    if (k.conflict) {
      EXPECT_EQ(rc, SQL_ERROR) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_TRUE(HasState(stmt_, "01001")) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(rs.status[1], SQL_ROW_ERROR);
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(rs.status[1], SQL_ROW_UPDATED);
    }
    // A row nobody else changed changes, and again after its own change.
    KX_STMT_OK(SQLSetPos(stmt_, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    rs.Name(2, "mine again");
    KX_STMT_OK(SQLSetPos(stmt_, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE));
    EXPECT_EQ(Rows(dbc_, table), std::string("1:name 1:10 ") + (k.conflict ? "2:name 2:0" : "2:mine:0") +
                                     " 3:mine again:30 4:name 4:40 5:name 5:50 6:name 6:60");
  }
}

INSTANTIATE_TEST_SUITE_P(Road, SetPosTest, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
