// Dynamic cursors through unixODBC: every fetch reads the rowset's keys
// afresh by seeking from the current rowset, so rows other connections
// insert into the scrolled range appear and deleted ones disappear. Seeks
// past NULLs follow the database's own NULL order (low on H2, high on
// PostgreSQL), for dynamic and mixed cursors alike.
#include <algorithm>
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

struct Rowset {
  SQLINTEGER id[kRowset];
  SQLLEN idInd[kRowset];
  char name[kRowset][41];
  SQLLEN nameInd[kRowset];
  SQLUSMALLINT status[kRowset];
  SQLULEN fetched = 0;

  void Bind(SQLHSTMT st) {
    ASSERT_EQ(SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(st, 1, SQL_C_SLONG, id, 0, idInd), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name[0], nameInd), SQL_SUCCESS);
  }
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
      rs.Bind(st);
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
    rs.Bind(st);
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

// A dynamic cursor's rows are read-only: a changing concurrency settles on
// read-only and says so; the cursor stays dynamic.
TEST_P(Dynamic, ChangingConcurrencySettlesOnReadOnly) {
  const std::string table = Groups();
  for (SQLULEN asked : {SQL_CONCUR_VALUES, SQL_CONCUR_ROWVER, SQL_CONCUR_LOCK}) {
    SCOPED_TRACE(asked);
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_SUCCESS);
    Attr(st, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC);
    Attr(st, SQL_ATTR_CONCURRENCY, asked);
    EXPECT_EQ(ExecDirect(st, "SELECT id, name FROM " + table + " ORDER BY id"), SQL_SUCCESS_WITH_INFO)
        << Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(State(SQL_HANDLE_STMT, st), "01S02");
    SQLULEN v = 99;
    KX_OK(SQLGetStmtAttr(st, SQL_ATTR_CONCURRENCY, &v, 0, nullptr), SQL_HANDLE_STMT, st);
    EXPECT_EQ(v, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
    KX_OK(SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &v, 0, nullptr), SQL_HANDLE_STMT, st);
    EXPECT_EQ(v, static_cast<SQLULEN>(SQL_CURSOR_DYNAMIC));
    KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
}

INSTANTIATE_TEST_SUITE_P(Road, Dynamic, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
