// Dynamic cursors through unixODBC: every fetch reads the rowset's keys
// afresh by seeking from the current rowset, so rows other connections
// insert into the scrolled range appear and deleted ones disappear. Seeks
// past NULLs follow the database's own NULL order (low on H2, high on
// PostgreSQL), for dynamic and mixed cursors alike.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

constexpr SQLULEN kRowset = 10;
constexpr int kRows = 100;

class Dynamic : public RoadTest {
 protected:
  // ids 10, 20, .. (room for rows in between); grp repeats and is NULL on
  // every fifth row.
  std::string Groups() {
    const bool pg = GetParam().postgres;
    std::string table = Table("dyn", "id INTEGER NOT NULL PRIMARY KEY, grp INTEGER, name VARCHAR(40)");
    const std::string series = pg ? "generate_series(1, " + std::to_string(kRows) + ") AS g(x)"
                                  : "SYSTEM_RANGE(1, " + std::to_string(kRows) + ")";
    Exec("INSERT INTO " + table +
         " SELECT x * 10, CASE WHEN MOD(x, 5) = 0 THEN NULL ELSE MOD(x, 7) END, 'name ' || (x * 10) FROM " + series);
    ResetStmt();
    return table;
  }
  // The ids in the order the database gives them.
  std::vector<int> Order(const std::string& sql) {
    std::vector<int> ids;
    ResetStmt();
    EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(stmt_, sql))) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLINTEGER one = 0;
    EXPECT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &one, 0, nullptr), SQL_SUCCESS);
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) ids.push_back(one);
    ResetStmt();
    return ids;
  }
};

// Columns id and name only, every row as the fixture wrote it.
struct Rowset : IdNameRows<kRowset> {
  std::vector<int> Ids() const {
    std::vector<int> ids;
    for (SQLULEN r = 0; r < fetched; ++r) {
      EXPECT_EQ(status[r], SQL_ROW_SUCCESS);
      EXPECT_EQ(std::string(name[r]), "name " + std::to_string(id[r]));
      ids.push_back(id[r]);
    }
    return ids;
  }
};

// NEXT to the end then PRIOR back to the start over a nullable column with
// NULLs and duplicates: every row once each way, in the database's order.
TEST_P(Dynamic, ScrollsOverNullsAndDuplicatesBothWays) {
  const std::string table = Groups();
  struct Kind {
    const char* name;
    SQLULEN cursorType;
    SQLULEN keysetSize;
  };
  const Kind kinds[] = {{"dynamic", SQL_CURSOR_DYNAMIC, 0}, {"mixed", SQL_CURSOR_KEYSET_DRIVEN, 30}};
  const std::pair<std::string, std::string> orders[] = {
      {"grp", "grp, id"}, {"grp DESC", "grp DESC, id"}, {"grp DESC, id DESC", "grp DESC, id DESC"}};
  for (const Kind& kind : kinds) {
    for (const auto& [order, unique] : orders) {
      SCOPED_TRACE(std::string(kind.name) + " ORDER BY " + order);
      const std::vector<int> expect = Order("SELECT id FROM " + table + " ORDER BY " + unique);
      ASSERT_EQ(expect.size(), static_cast<size_t>(kRows));
      SQLHSTMT st = SQL_NULL_HSTMT;
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_SUCCESS);
      Attr(st, SQL_ATTR_CURSOR_TYPE, kind.cursorType);
      if (kind.keysetSize != 0) Attr(st, SQL_ATTR_KEYSET_SIZE, kind.keysetSize);
      Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
      Rowset rs;
      rs.Bind(st, false);
      KX_OK(ExecDirect(st, "SELECT id, name FROM " + table + " ORDER BY " + order), SQL_HANDLE_STMT, st);
      EXPECT_EQ(State(SQL_HANDLE_STMT, st), "");
      SQLULEN type = 99;
      KX_OK(SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr), SQL_HANDLE_STMT, st);
      EXPECT_EQ(type, kind.cursorType);
      std::vector<int> seen;
      SQLRETURN rc;
      while ((rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, st);
        const std::vector<int> ids = rs.Ids();
        seen.insert(seen.end(), ids.begin(), ids.end());
      }
      EXPECT_EQ(seen, expect);
      std::vector<int> back;
      while ((rc = SQLFetchScroll(st, SQL_FETCH_PRIOR, 0)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, st);
        const std::vector<int> ids = rs.Ids();
        back.insert(back.begin(), ids.begin(), ids.end());
      }
      EXPECT_EQ(back, expect);
      SQLFreeHandle(SQL_HANDLE_STMT, st);
    }
  }
}

// Rows another connection inserts into or deletes from the range the
// cursor scrolls show at the next fetch; a refresh (RELATIVE 0) reads the
// rowset again.
TEST_P(Dynamic, SeesOtherConnectionsInsertsAndDeletes) {
  const std::string table = Groups();
  for (const char* order : {"grp", "grp DESC"}) {
    SCOPED_TRACE(order);
    const std::string unique = std::string(order) + ", id";
    const std::vector<int> before = Order("SELECT id FROM " + table + " ORDER BY " + unique);
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_SUCCESS);
    Attr(st, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC);
    Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
    Rowset rs;
    rs.Bind(st, false);
    KX_OK(ExecDirect(st, "SELECT id, name FROM " + table + " ORDER BY " + order), SQL_HANDLE_STMT, st);
    KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.Ids(), std::vector<int>(before.begin(), before.begin() + 10));
    // A row just before the 16th (same group, smaller id) and the 13th gone.
    const int gone = before[12];
    const int added = before[15] - 1;
    ExecOther("INSERT INTO " + table + " SELECT " + std::to_string(added) + ", grp, 'name " + std::to_string(added) +
              "' FROM " + table + " WHERE id = " + std::to_string(before[15]));
    ExecOther("DELETE FROM " + table + " WHERE id = " + std::to_string(gone));
    const std::vector<int> after = Order("SELECT id FROM " + table + " ORDER BY " + unique);
    KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
    const std::vector<int> ids = rs.Ids();
    EXPECT_EQ(ids, std::vector<int>(after.begin() + 10, after.begin() + 20));
    EXPECT_NE(std::find(ids.begin(), ids.end(), added), ids.end());
    EXPECT_EQ(std::find(ids.begin(), ids.end(), gone), ids.end());
    // Changes inside the current rowset show at a refresh.
    ExecOther("DELETE FROM " + table + " WHERE id = " + std::to_string(ids[0]));
    ExecOther("UPDATE " + table + " SET name = 'name " + std::to_string(ids[3] + 10000) + "', id = " +
              std::to_string(ids[3] + 10000) + " WHERE id = " + std::to_string(ids[3]));
    const std::vector<int> refreshed = Order("SELECT id FROM " + table + " ORDER BY " + unique);
    KX_OK(SQLFetchScroll(st, SQL_FETCH_RELATIVE, 0), SQL_HANDLE_STMT, st);
    const auto from = std::find(refreshed.begin(), refreshed.end(), ids[1]);
    ASSERT_NE(from, refreshed.end());
    EXPECT_EQ(rs.Ids(), std::vector<int>(from, from + 10));
    // PRIOR from here reads the rows before, as they stand now.
    KX_OK(SQLFetchScroll(st, SQL_FETCH_PRIOR, 0), SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.Ids(), std::vector<int>(from - 10, from));
    // No absolute positions in a dynamic result.
    EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_ABSOLUTE, 3), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, st), "HY106");
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    // Back to the starting rows for the next order.
    Exec("DELETE FROM " + table);
    ResetStmt();
    Exec("DROP TABLE " + table);
    ResetStmt();
    const bool pg = GetParam().postgres;
    Exec("CREATE TABLE " + table + " (id INTEGER NOT NULL PRIMARY KEY, grp INTEGER, name VARCHAR(40))");
    ResetStmt();
    const std::string series = pg ? "generate_series(1, " + std::to_string(kRows) + ") AS g(x)"
                                  : "SYSTEM_RANGE(1, " + std::to_string(kRows) + ")";
    Exec("INSERT INTO " + table +
         " SELECT x * 10, CASE WHEN MOD(x, 5) = 0 THEN NULL ELSE MOD(x, 7) END, 'name ' || (x * 10) FROM " + series);
    ResetStmt();
  }
}

// The cursors that change rows by a window's keys: dynamic, and mixed (a
// keyset of 10 keys, two rowsets of 5).
struct WindowCursor {
  const char* name;
  SQLULEN cursorType;
  SQLULEN keysetSize;
};
constexpr WindowCursor kWindowCursors[] = {{"dynamic", SQL_CURSOR_DYNAMIC, 0},
                                           {"mixed", SQL_CURSOR_KEYSET_DRIVEN, 10}};
constexpr SQLULEN kSet = 5;

// A rowset of id, name, qty: a change of the name leaves the qty alone.
struct ChangeRowset : IdNameRows<kSet> {
  void Name(int r, const std::string& v) {
    IdNameRows::Name(r, v);
    qtyInd[r] = SQL_COLUMN_IGNORE;
  }
};

class DynamicChanges : public Dynamic {
 protected:
  // id 1..12, name "name <id>", qty id * 10.
  std::string Items() {
    std::string table = Table("dynpos", "id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40), qty INTEGER");
    for (int i = 1; i <= 12; ++i) {
      Exec("INSERT INTO " + table + " VALUES (" + std::to_string(i) + ", 'name " + std::to_string(i) + "', " +
           std::to_string(i * 10) + ")");
    }
    ResetStmt();
    return table;
  }
  // A cursor of the kind on dbc over the table in id order, on its second
  // rowset (ids 6..10; a mixed cursor's window holds it at positions 6..10).
  SQLHSTMT Open(SQLHDBC dbc, const WindowCursor& kind, SQLULEN concurrency, const std::string& table,
                ChangeRowset* rs) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
    Attr(st, SQL_ATTR_CURSOR_TYPE, kind.cursorType);
    if (kind.keysetSize != 0) Attr(st, SQL_ATTR_KEYSET_SIZE, kind.keysetSize);
    Attr(st, SQL_ATTR_CONCURRENCY, concurrency);
    Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kSet);
    rs->Bind(st);
    // The cursor is what was asked for: nothing settles.
    EXPECT_EQ(ExecDirect(st, "SELECT id, name, qty FROM " + table + " ORDER BY id"), SQL_SUCCESS)
        << Diag(SQL_HANDLE_STMT, st);
    SQLULEN v = 0;
    EXPECT_EQ(SQLGetStmtAttr(st, SQL_ATTR_CONCURRENCY, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, concurrency);
    EXPECT_EQ(SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, kind.cursorType);
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetchScroll(st, SQL_FETCH_NEXT, 0))) << Diag(SQL_HANDLE_STMT, st);
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetchScroll(st, SQL_FETCH_NEXT, 0))) << Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs->fetched, kSet);
    EXPECT_EQ(rs->id[0], 6);
    return st;
  }
  // Row id of the table as "name:qty" ("NULL" when there is none), read on dbc.
  std::string Row(SQLHDBC dbc, const std::string& table, int id) {
    return Scalar("SELECT MAX(name || ':' || qty) FROM " + table + " WHERE id = " + std::to_string(id), dbc);
  }
};

// Under optimistic concurrency (values or row versions) SQLSetPos changes the
// rows of a dynamic or mixed cursor's rowset by key: another connection sees
// the changes; a row another connection changed meanwhile is left alone
// (SQL_ROW_ERROR, 01001). Refresh reads the rowset's rows again; positioned
// statements of a second statement change the row the cursor stands on;
// SQL_ADD inserts. What the cursors
// cannot do (absolute positions, bookmarks, bulk operations: their rows have
// no numbers) is refused, and SQLGetInfo claims no more than they do.
TEST_P(DynamicChanges, SetPosChangesRowsByKey) {
  for (const WindowCursor& kind : kWindowCursors) {
    for (SQLULEN concurrency : {SQL_CONCUR_VALUES, SQL_CONCUR_ROWVER}) {
      SCOPED_TRACE(std::string(kind.name) + (concurrency == SQL_CONCUR_VALUES ? " values" : " row versions"));
      const bool dynamic = kind.cursorType == SQL_CURSOR_DYNAMIC;
      const std::string table = Items();
      SQLHDBC other = Other();
      ChangeRowset rs;
      SQLHSTMT st = Open(dbc_, kind, concurrency, table, &rs);
      ASSERT_TRUE(st != SQL_NULL_HSTMT);

      // One row: only the column written changes. Then a delete.
      rs.Name(1, "seven");
      KX_OK(SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[1], SQL_ROW_UPDATED);
      SQLLEN count = 0;
      KX_OK(SQLRowCount(st, &count), SQL_HANDLE_STMT, st);
      EXPECT_EQ(count, 1);
      KX_OK(SQLSetPos(st, 4, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
      EXPECT_EQ(Row(other, table, 7), "seven:70");
      EXPECT_EQ(Row(other, table, 9), "NULL");
      EXPECT_EQ(Row(other, table, 8), "name 8:80");

      // Another connection changes row 3 meanwhile: this cursor's change of it
      // is refused and the other value stays.
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 5 WHERE id = 8")));
      rs.Name(2, "mine");
      EXPECT_EQ(SQLSetPos(st, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
      EXPECT_TRUE(HasState(st, "01001")) << Diag(SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
      EXPECT_EQ(Row(other, table, 8), "name 8:5");
      // The same in a change of all rows (row 2 left alone by the row-operation
      // array, rows 3 and 4 passed over): the other rows go through, with a
      // warning.
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 6 WHERE id = 6")));
      for (int r : {0, 1, 4}) rs.Name(r, "all " + std::to_string(rs.id[r]));
      SQLUSMALLINT ops[kSet] = {SQL_ROW_PROCEED, SQL_ROW_IGNORE, SQL_ROW_PROCEED, SQL_ROW_PROCEED, SQL_ROW_PROCEED};
      KX_OK(SQLSetStmtAttr(st, SQL_ATTR_ROW_OPERATION_PTR, ops, 0), SQL_HANDLE_STMT, st);
      EXPECT_EQ(SQLSetPos(st, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
      EXPECT_TRUE(HasState(st, "01001")) << Diag(SQL_HANDLE_STMT, st);
      KX_OK(SQLSetStmtAttr(st, SQL_ATTR_ROW_OPERATION_PTR, nullptr, 0), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[0], SQL_ROW_ERROR);
      EXPECT_EQ(rs.status[2], SQL_ROW_ERROR);
      EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
      EXPECT_EQ(rs.status[4], SQL_ROW_UPDATED);
      EXPECT_EQ(Row(other, table, 6), "name 6:6");
      EXPECT_EQ(Row(other, table, 7), "seven:70");
      EXPECT_EQ(Row(other, table, 8), "name 8:5");
      EXPECT_EQ(Row(other, table, 10), "all 10:100");

      // Refresh: the rows of the rowset's keys as they are now. The rowset's
      // members stay: the row deleted above still shows as deleted (a
      // RELATIVE 0 fetch would read the rowset's place afresh).
      char cursor[32] = {0};
      SQLSMALLINT cursorLen = 0;
      KX_OK(SQLGetCursorNameA(st, reinterpret_cast<SQLCHAR*>(cursor), sizeof cursor, &cursorLen), SQL_HANDLE_STMT, st);
      SQLHSTMT second = SQL_NULL_HSTMT;
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &second), SQL_SUCCESS);
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET name = 'theirs' WHERE id = 8")));
      KX_OK(SQLSetPos(st, 3, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.id[2], 8);
      EXPECT_EQ(std::string(rs.name[2]), "theirs");
      EXPECT_EQ(rs.qty[2], 5);
      EXPECT_EQ(rs.status[2], SQL_ROW_SUCCESS);
      // The refreshed row stays the one positioned on: a positioned statement
      // of a second statement changes it.
      KX_OK(ExecDirect(second, "UPDATE " + table + " SET qty = 33 WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT,
            second);
      EXPECT_EQ(Row(other, table, 8), "theirs:33");
      KX_OK(SQLSetPos(st, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
      EXPECT_EQ(rs.qty[2], 33);
      // ... after which a change of the refreshed row goes through.
      rs.Name(2, "after refresh");
      KX_OK(SQLSetPos(st, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(Row(other, table, 8), "after refresh:33");
      // A row another connection deletes shows as deleted at a refresh.
      ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, "DELETE FROM " + table + " WHERE id = 7")));
      KX_OK(SQLSetPos(st, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.status[1], SQL_ROW_DELETED);
      EXPECT_EQ(rs.status[2], SQL_ROW_SUCCESS);
      EXPECT_EQ(std::string(rs.name[2]), "after refresh");

      // SQL_POSITION, and positioned statements of a second statement on the
      // row the cursor stands on.
      KX_OK(SQLSetPos(st, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      char got[41] = {0};
      SQLLEN gotInd = 0;
      KX_OK(SQLGetData(st, 2, SQL_C_CHAR, got, sizeof got, &gotInd), SQL_HANDLE_STMT, st);
      EXPECT_EQ(std::string(got), "name 6");
      KX_OK(ExecDirect(second, "UPDATE " + table + " SET qty = 66 WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT,
            second);
      KX_OK(SQLSetPos(st, 5, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      const int last = rs.id[4];
      KX_OK(ExecDirect(second, "DELETE FROM " + table + " WHERE CURRENT OF " + cursor), SQL_HANDLE_STMT, second);
      SQLFreeHandle(SQL_HANDLE_STMT, second);
      EXPECT_EQ(Row(other, table, 6), "name 6:66");
      EXPECT_EQ(Row(other, table, last), "NULL");
      // A RELATIVE 0 fetch reads the rowset's place afresh: a dynamic cursor's
      // rowset no longer holds the rows deleted; a mixed cursor's window keeps
      // their keys.
      KX_OK(SQLFetchScroll(st, SQL_FETCH_RELATIVE, 0), SQL_HANDLE_STMT, st);
      if (dynamic) {
        EXPECT_EQ(rs.id[1], 8);
        EXPECT_EQ(rs.status[1], SQL_ROW_SUCCESS);
      } else {
        EXPECT_EQ(rs.status[1], SQL_ROW_DELETED);
      }

      // A row added through SQLSetPos joins the table.
      KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
      rs.id[0] = 100;
      rs.idInd[0] = 0;
      rs.Name(0, "added");
      rs.qty[0] = 1;
      rs.qtyInd[0] = 0;
      KX_OK(SQLSetPos(st, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
      EXPECT_EQ(Row(other, table, 100), "added:1");

      // Rows without numbers: no absolute positions, bookmarks or bulk operations.
      EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_ABSOLUTE, 3), SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, st), "HY106");
      EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_BOOKMARK, 0), SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, st), "HY106");
      EXPECT_EQ(SQLBulkOperations(st, SQL_ADD), SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, st), "IM924");
      // The cursor scrolls on over what it changed.
      KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
      EXPECT_EQ(rs.id[0], 1);
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      Drop(other);
    }
  }
  EXPECT_EQ(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1),
            static_cast<SQLUINTEGER>(SQL_CA1_NEXT | SQL_CA1_RELATIVE | SQL_CA1_LOCK_NO_CHANGE |
                                     SQL_CA1_POS_POSITION | SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE |
                                     SQL_CA1_POS_REFRESH | SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE));
  const SQLUINTEGER concurrencies = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                    SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY;
  EXPECT_EQ(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2) & concurrencies, concurrencies);
}

// Under lock concurrency in manual-commit mode the rows of the rowset a
// dynamic or mixed cursor read stay locked until this connection commits:
// another connection's change of one waits (and here times out); a row
// outside the rowset is free. The cursor's own changes commit.
TEST_P(DynamicChanges, LockConcurrencyHoldsTheRowsetUntilCommit) {
  const bool pg = GetParam().postgres;
  for (const WindowCursor& kind : kWindowCursors) {
    SCOPED_TRACE(kind.name);
    const std::string table = Items();
    SQLHDBC mine = Other();
    KX_OK(SQLSetConnectAttr(mine, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, mine);
    ChangeRowset rs;
    SQLHSTMT st = Open(mine, kind, SQL_CONCUR_LOCK, table, &rs);
    ASSERT_TRUE(st != SQL_NULL_HSTMT);
    SQLHDBC other = Other();
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(other, pg ? "SET lock_timeout = '500ms'" : "SET LOCK_TIMEOUT 500")));
    std::string diag;
    EXPECT_EQ(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 8", &diag), SQL_ERROR);
    EXPECT_FALSE(diag.empty());
    EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 0 WHERE id = 11", &diag))) << diag;

    rs.Name(2, "locked");
    KX_OK(SQLSetPos(st, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.status[2], SQL_ROW_UPDATED);
    KX_OK(SQLSetPos(st, 5, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.status[4], SQL_ROW_DELETED);
    KX_OK(SQLEndTran(SQL_HANDLE_DBC, mine, SQL_COMMIT), SQL_HANDLE_DBC, mine);
    EXPECT_EQ(Row(other, table, 8), "locked:80");
    EXPECT_EQ(Row(other, table, 10), "NULL");
    EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(other, "UPDATE " + table + " SET qty = 1 WHERE id = 8", &diag))) << diag;
    EXPECT_EQ(Row(other, table, 8), "locked:1");
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    Drop(other);
    Drop(mine);
  }
}

INSTANTIATE_TEST_SUITE_P(Road, DynamicChanges, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Road, Dynamic, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
