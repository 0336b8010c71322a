// Keyset-driven cursors through unixODBC: the keys are read at execution and
// each rowset is read by key, so a cursor sees what other connections update
// and delete; the requests a keyset cannot serve fall back to a static
// read-only cursor (01S02) or are refused; a connection that cannot keep
// several results open reads each result whole; an unqualified table that
// exists in several schemas is the one of the current schema.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

constexpr SQLULEN kRowset = 10;

class Keysets : public RoadTest {
 protected:
  // id 1..n, name "name <id>".
  std::string Numbers(int n, const std::string& key = "PRIMARY KEY") {
    const bool pg = GetParam().postgres;
    std::string table = Table("keyset", "id INTEGER NOT NULL " + key + ", name VARCHAR(40)");
    const std::string series = pg ? "generate_series(1, " + std::to_string(n) + ") AS g(x)"
                                  : "SYSTEM_RANGE(1, " + std::to_string(n) + ")";
    Exec("INSERT INTO " + table + " SELECT x, 'name ' || x FROM " + series);
    ResetStmt();
    return table;
  }
  void Keyset(SQLHSTMT st) {
    Attr(st, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
  }
  SQLULEN CursorType(SQLHSTMT st) {
    SQLULEN type = 99;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr)));
    return type;
  }
  // The statement just executed kept its keyset-driven cursor, whose keyset
  // holds `rows` rows.
  void ExpectKeysetOf(SQLLEN rows) {
    EXPECT_EQ(CursorType(stmt_), static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN));
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, rows);
  }
  void ExecOn(SQLHDBC dbc, const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
    const SQLRETURN rc = ExecDirect(st, sql);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << Diag(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
};

// Columns id and name only.
using Rowset = IdNameRows<kRowset>;

TEST_P(Keysets, KeysetCursorScrollsAndSeesOtherUsersChanges) {
  const std::string table = Numbers(45);
  Keyset(stmt_);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
  ExpectKeysetOf(45);
  Rowset rs;
  rs.Bind(stmt_, false);
  struct Step {
    SQLSMALLINT orientation;
    SQLLEN offset;
    SQLRETURN rc;
    int first;
    SQLULEN rows;
  };
  const Step steps[] = {
      {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 1, 10},     {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 11, 10},
      {SQL_FETCH_LAST, 0, SQL_SUCCESS, 36, 10},     {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, 0},
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 36, 10},    {SQL_FETCH_ABSOLUTE, 20, SQL_SUCCESS, 20, 10},
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 10, 10},    {SQL_FETCH_RELATIVE, -3, SQL_SUCCESS, 7, 10},
      {SQL_FETCH_ABSOLUTE, -5, SQL_SUCCESS, 41, 5}, {SQL_FETCH_RELATIVE, 100, SQL_NO_DATA, 0, 0},
      {SQL_FETCH_ABSOLUTE, 41, SQL_SUCCESS, 41, 5}, {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 31, 10},
      {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 1, 10},     {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, 0},
  };
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << "step " << n++);
    const SQLRETURN rc = SQLFetchScroll(stmt_, s.orientation, s.offset);
    ASSERT_EQ(rc, s.rc) << Diag(SQL_HANDLE_STMT, stmt_);
    if (rc == SQL_NO_DATA) continue;
    ASSERT_EQ(rs.fetched, s.rows);
    for (SQLULEN r = 0; r < kRowset; ++r) {
      if (r >= s.rows) {
        EXPECT_EQ(rs.status[r], SQL_ROW_NOROW);
        continue;
      }
      const int id = s.first + static_cast<int>(r);
      EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS);
      EXPECT_EQ(rs.id[r], id);
      EXPECT_EQ(std::string(rs.name[r]), "name " + std::to_string(id));
    }
  }

  // Another user deletes row 3 and renames rows 5 and 9; row 9 now sorts
  // elsewhere, but the cursor keeps its keys and their order.
  SQLHDBC other = Other();
  ExecOn(other, "DELETE FROM " + table + " WHERE id = 3");
  ExecOn(other, "UPDATE " + table + " SET name = 'changed' WHERE id = 5");
  ExecOn(other, "UPDATE " + table + " SET name = 'again', id = 1009 WHERE id = 9");
  Drop(other);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  ASSERT_EQ(rs.fetched, kRowset);
  for (SQLULEN r = 0; r < kRowset; ++r) {
    const int id = static_cast<int>(r) + 1;
    SCOPED_TRACE(id);
    if (id == 3 || id == 9) {
      // Gone (a changed key is a row gone: the cursor never sees new rows).
      EXPECT_EQ(rs.status[r], SQL_ROW_DELETED);
      continue;
    }
    EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS);
    EXPECT_EQ(rs.id[r], id);
    EXPECT_EQ(std::string(rs.name[r]), id == 5 ? "changed" : "name " + std::to_string(id));
  }
  SQLLEN count = 0;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 45);
  KX_STMT_OK(SQLCloseCursor(stmt_));
}

// A mixed cursor holds a window of 30 keys and reads the next window by
// seeking from the current rowset: forward and back across several windows
// every row comes exactly once, in the statement's order, NULLs included.
TEST_P(Keysets, MixedCursorScrollsAcrossKeyWindows) {
  constexpr int kRows = 95;
  const bool pg = GetParam().postgres;
  const std::string table = Table("mixed", "id INTEGER NOT NULL PRIMARY KEY, grp INTEGER, name VARCHAR(40)");
  const std::string series = pg ? "generate_series(1, 95) AS g(x)" : "SYSTEM_RANGE(1, 95)";
  Exec("INSERT INTO " + table + " SELECT x, CASE WHEN MOD(x, 5) = 0 THEN NULL ELSE MOD(x, 7) END, 'name ' || x FROM " +
       series);
  ResetStmt();
  // The cursor's ORDER BY, and the same made unique for the expectation
  // (the cursor orders ties by the key).
  const std::pair<std::string, std::string> orders[] = {
      {"id DESC", "id DESC"}, {"grp, id", "grp, id"}, {"grp DESC", "grp DESC, id"}, {"name", "name"}};
  for (const auto& [order, unique] : orders) {
    SCOPED_TRACE(order);
    const std::string sql = "SELECT id, name FROM " + table + " ORDER BY " + order;
    // The order the database gives, read forward.
    std::vector<int> expect;
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY " + unique));
    SQLINTEGER one = 0;
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &one, 0, nullptr));
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) expect.push_back(one);
    ASSERT_EQ(expect.size(), static_cast<size_t>(kRows));
    ResetStmt();

    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_SUCCESS);
    Attr(st, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    Attr(st, SQL_ATTR_KEYSET_SIZE, 30);
    Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
    Rowset rs;
    rs.Bind(st, false);
    KX_OK(ExecDirect(st, sql), SQL_HANDLE_STMT, st);
    EXPECT_EQ(State(SQL_HANDLE_STMT, st), "");
    auto rowset = [&]() {
      std::vector<int> ids;
      for (SQLULEN r = 0; r < rs.fetched; ++r) {
        EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS);
        EXPECT_EQ(std::string(rs.name[r]), "name " + std::to_string(rs.id[r]));
        ids.push_back(rs.id[r]);
      }
      return ids;
    };
    auto slice = [&](int from, int n) {
      return std::vector<int>(expect.begin() + from, expect.begin() + std::min(kRows, from + n));
    };
    // Forward to the end: ten rowsets, each row once.
    std::vector<int> seen;
    SQLRETURN rc;
    while ((rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, st);
      const std::vector<int> ids = rowset();
      seen.insert(seen.end(), ids.begin(), ids.end());
    }
    EXPECT_EQ(seen, expect);
    // Back from the end: PRIOR after the end gives the last rowset.
    std::vector<int> back;
    while ((rc = SQLFetchScroll(st, SQL_FETCH_PRIOR, 0)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, st);
      const std::vector<int> ids = rowset();
      back.insert(back.begin(), ids.begin(), ids.end());
    }
    // The last rowset holds the last ten rows; each PRIOR goes back ten, and
    // the one that would pass the start gives the first rowset.
    std::vector<int> expectBack = slice(kRows - 10, 10);
    for (int start = kRows - 20; start > -10; start -= 10) {
      const std::vector<int> part = slice(std::max(0, start), 10);
      expectBack.insert(expectBack.begin(), part.begin(), part.end());
    }
    EXPECT_EQ(back, expectBack);
    struct Step {
      SQLSMALLINT orientation;
      SQLLEN offset;
      int first;  // index of the rowset's first row; -1 no data
    };
    const Step steps[] = {
        {SQL_FETCH_FIRST, 0, 0},      {SQL_FETCH_RELATIVE, 37, 37}, {SQL_FETCH_RELATIVE, -25, 12},
        {SQL_FETCH_RELATIVE, 0, 12},  {SQL_FETCH_RELATIVE, 70, 82}, {SQL_FETCH_NEXT, 0, 92},
        {SQL_FETCH_NEXT, 0, -1},      {SQL_FETCH_LAST, 0, 85},      {SQL_FETCH_RELATIVE, -80, 5},
        {SQL_FETCH_PRIOR, 0, 0},      {SQL_FETCH_RELATIVE, -20, -1}, {SQL_FETCH_NEXT, 0, 0},
        {SQL_FETCH_RELATIVE, 200, -1},
    };
    int n = 0;
    for (const Step& step : steps) {
      SCOPED_TRACE(::testing::Message() << "step " << n++);
      rc = SQLFetchScroll(st, step.orientation, step.offset);
      if (step.first < 0) {
        EXPECT_EQ(rc, SQL_NO_DATA) << Diag(SQL_HANDLE_STMT, st);
        continue;
      }
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, st);
      EXPECT_EQ(rowset(), slice(step.first, 10));
    }
    // A row another user deletes inside the window shows deleted.
    KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
    SQLHDBC other = Other();
    ExecOn(other, "DELETE FROM " + table + " WHERE id = " + std::to_string(expect[13]));
    Drop(other);
    KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.status[3], SQL_ROW_DELETED);
    EXPECT_EQ(rs.id[4], expect[14]);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    Exec("INSERT INTO " + table + " VALUES (" + std::to_string(expect[13]) + ", " +
         (expect[13] % 5 == 0 ? std::string("NULL") : std::to_string(expect[13] % 7)) + ", 'name " +
         std::to_string(expect[13]) + "')");
    ResetStmt();
  }
}

// A rowset larger than one by-key batch (the parameter limit) still places
// each row under its own key.
TEST_P(Keysets, RowsetsBeyondOneBatchOfKeys) {
  const std::string table = Numbers(700);
  SQLHDBC other = Other();
  ExecOn(other, "DELETE FROM " + table + " WHERE id IN (2, 300, 599)");
  Drop(other);
  // The rows were deleted before execution: a new keyset does not hold them.
  Attr(stmt_, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 100);
  std::vector<SQLINTEGER> id(100);
  std::vector<SQLUSMALLINT> status(100);
  SQLULEN fetched = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id FROM " + table + " ORDER BY id DESC"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id.data(), 0, nullptr));
  other = Other();
  ExecOn(other, "DELETE FROM " + table + " WHERE id IN (400, 351, 302)");
  Drop(other);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 300));  // ids 400 down to 301
  ASSERT_EQ(fetched, 100u);
  for (int r = 0; r < 100; ++r) {
    const int expect = 400 - r;
    if (expect == 400 || expect == 351 || expect == 302) {
      EXPECT_EQ(status[r], SQL_ROW_DELETED) << expect;
    } else {
      EXPECT_EQ(status[r], SQL_ROW_SUCCESS) << expect;
      EXPECT_EQ(id[r], expect);
    }
  }
}

TEST_P(Keysets, CompoundAndTextKeys) {
  const bool unicode = GetParam().unicode;
  // Non-ASCII key values where the build carries them.
  const std::vector<std::string> letters =
      unicode ? std::vector<std::string>{"\xC3\x84pfel", "Birne", "\xC3\x9F" "ahne", "Zw\xC3\xB6lf"}
              : std::vector<std::string>{"Apfel", "Birne", "Sahne", "Zwoelf"};
  const std::string table = Table("keyset2", "a VARCHAR(20) NOT NULL, b INTEGER NOT NULL, v VARCHAR(20), PRIMARY KEY (a, b)");
  for (const std::string& l : letters) {
    for (int b = 1; b <= 3; ++b) Exec("INSERT INTO " + table + " VALUES ('" + l + "', " + std::to_string(b) + ", '" + l + std::to_string(b) + "')");
  }
  ResetStmt();
  Keyset(stmt_);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT v, b FROM " + table + " ORDER BY v"));
  SQLLEN count = 0;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 12);
  char v[kRowset][41];
  SQLLEN vInd[kRowset];
  SQLUSMALLINT status[kRowset];
  SQLULEN fetched = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_CHAR, v, sizeof v[0], vInd));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  ASSERT_EQ(fetched, kRowset);
  SQLHDBC other = Other();
  ExecOn(other, "UPDATE " + table + " SET v = 'neu' WHERE a = '" + letters[3] + "' AND b = 2");
  ExecOn(other, "DELETE FROM " + table + " WHERE a = '" + letters[2] + "' AND b = 1");
  Drop(other);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  // The key order is the statement's ORDER BY v: ä1 ä2 ä3 (or A...), B.., ß.., Z..
  std::vector<std::string> order;
  for (const std::string& l : letters) {
    for (int b = 1; b <= 3; ++b) order.push_back(l + std::to_string(b));
  }
  std::sort(order.begin(), order.end());
  for (SQLULEN r = 0; r < fetched; ++r) {
    SCOPED_TRACE(order[r]);
    if (order[r] == letters[2] + "1") {
      EXPECT_EQ(status[r], SQL_ROW_DELETED);
    } else if (order[r] == letters[3] + "2") {
      EXPECT_EQ(status[r], SQL_ROW_SUCCESS);
      EXPECT_EQ(std::string(v[r]), "neu");
    } else {
      EXPECT_EQ(status[r], SQL_ROW_SUCCESS);
      EXPECT_EQ(std::string(v[r]), order[r]);
    }
  }
}

// A join of keyed tables: each row is found again by the keys of both.
TEST_P(Keysets, JoinOfKeyedTables) {
  const std::string left = Numbers(25);
  const std::string right = Numbers(25);
  Exec("UPDATE " + right + " SET name = 'other ' || id");
  ResetStmt();
  Keyset(stmt_);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT l.id, r.name FROM " + left + " l, " + right +
                                   " r WHERE l.id = r.id ORDER BY l.id DESC"));
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
  ExpectKeysetOf(25);
  Rowset rs;
  rs.Bind(stmt_, false);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  ASSERT_EQ(rs.fetched, kRowset);
  EXPECT_EQ(rs.id[9], 1);
  SQLHDBC other = Other();
  ExecOn(other, "UPDATE " + right + " SET name = 'moved' WHERE id = 3");
  ExecOn(other, "DELETE FROM " + left + " WHERE id = 4");
  Drop(other);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_RELATIVE, 0));
  for (SQLULEN r = 0; r < kRowset; ++r) {
    const int id = 10 - static_cast<int>(r);
    if (id == 4) {
      EXPECT_EQ(rs.status[r], SQL_ROW_DELETED);
      continue;
    }
    EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS);
    EXPECT_EQ(rs.id[r], id);
    EXPECT_EQ(std::string(rs.name[r]), id == 3 ? "moved" : "other " + std::to_string(id));
  }
}

TEST_P(Keysets, ParametersAreKeptAcrossCloseAndReexecute) {
  const std::string table = Numbers(30);
  Keyset(stmt_);
  KX_STMT_OK(Prepare(stmt_, "SELECT id, name FROM " + table + " WHERE id > ? ORDER BY id"));
  SQLINTEGER bound = 20;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &bound, 0, nullptr));
  Rowset rs;
  rs.Bind(stmt_, false);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    KX_STMT_OK(SQLExecute(stmt_));
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, 30 - bound);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
    EXPECT_EQ(rs.id[rs.fetched - 1], 30);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    EXPECT_EQ(rs.id[0], bound + 1);
    KX_STMT_OK(SQLCloseCursor(stmt_));
    bound = 5;
  }
}

// A marker in the select list comes before the keyed queries' own markers:
// such a statement is read once as a static cursor, with its values right.
TEST_P(Keysets, MarkersInTheSelectListSettleOnStatic) {
  const std::string table = Numbers(30);
  Keyset(stmt_);
  const SQLRETURN prepared = Prepare(stmt_, "SELECT id, id + ? FROM " + table + " WHERE id > ? ORDER BY id");
  EXPECT_EQ(prepared, SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S02");
  EXPECT_EQ(CursorType(stmt_), static_cast<SQLULEN>(SQL_CURSOR_STATIC));
  SQLINTEGER tag = 7, above = 20;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &tag, 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &above, 0, nullptr));
  KX_STMT_OK(SQLExecute(stmt_));
  SQLINTEGER id[kRowset], seven[kRowset];
  SQLULEN fetched = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_SLONG, seven, 0, nullptr));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  ASSERT_EQ(fetched, kRowset);
  EXPECT_EQ(id[0], 21);
  EXPECT_EQ(id[9], 30);
  EXPECT_EQ(seven[9], 37);
}

// Long values of a keyset rowset are read with SQLGetData from the row the
// application positioned on.
TEST_P(Keysets, LongValuesOfARowsetRow) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("longs", std::string("id INTEGER NOT NULL PRIMARY KEY, big ") + (pg ? "TEXT" : "CLOB"));
  for (int i = 1; i <= 15; ++i) {
    Exec("INSERT INTO " + table + " VALUES (" + std::to_string(i) + ", REPEAT('x', 3000) || '" + std::to_string(i) + "')");
  }
  ResetStmt();
  Keyset(stmt_);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, big FROM " + table + " ORDER BY id"));
  SQLINTEGER id[kRowset];
  SQLUSMALLINT status[kRowset];
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id, 0, nullptr));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  for (SQLULEN r = 0; r < kRowset; ++r) EXPECT_EQ(status[r], SQL_ROW_SUCCESS) << r;
  KX_STMT_OK(SQLSetPos(stmt_, 4, SQL_POSITION, SQL_LOCK_NO_CHANGE));
  std::string big;
  char piece[700];
  SQLLEN len = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt_, 2, SQL_C_CHAR, piece, sizeof piece, &len)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    big += piece;
  }
  EXPECT_EQ(id[3], 9);
  EXPECT_EQ(big, std::string(3000, 'x') + "9");
}

// What a keyset cannot serve: some requests settle on a static read-only
// cursor, others are refused with the reason.
TEST_P(Keysets, FallbacksAndRefusals) {
  const std::string table = Numbers(12);
  const std::string keyless = Table("nokey", "id INTEGER, name VARCHAR(40)");
  // A unique index on a column that may hold NULL names no row for sure.
  const std::string nullable = Table("nullkey", "id INTEGER, name VARCHAR(40)");
  Exec("CREATE UNIQUE INDEX " + nullable + "_ix ON " + nullable + " (id)");
  Exec("INSERT INTO " + keyless + " SELECT id, name FROM " + table);
  Exec("INSERT INTO " + nullable + " SELECT id, name FROM " + table);
  ResetStmt();
  struct Case {
    std::string sql;
    const char* state;   // "" success, "01S02" fallback, else the error
    SQLLEN rowCount;     // after a fallback
  };
  const Case cases[] = {
      {"SELECT id, name FROM " + keyless + " ORDER BY id", "01S02", 12},
      {"SELECT id, name FROM " + nullable + " ORDER BY id", "01S02", 12},
      // One table of a join without a key: no row of the join can be found again.
      {"SELECT t.id, k.name FROM " + table + " t, " + keyless + " k WHERE t.id = k.id", "01S02", 12},
      {"SELECT DISTINCT name FROM " + table, "01S02", 12},
      {"SELECT COUNT(*) FROM " + table, "01S02", 1},
      // Groups, a UNION, an outer join and statements without a table have
      // no key for their rows either.
      {"SELECT name, COUNT(*) FROM " + table + " GROUP BY name", "01S02", 12},
      {"SELECT id FROM " + table + " UNION SELECT id FROM " + keyless, "01S02", 12},
      {"SELECT t.id FROM " + table + " t LEFT JOIN " + keyless + " k ON t.id = k.id", "01S02", 12},
      {"SELECT 1", "01S02", 1},
      {"SELECT CURRENT_TIMESTAMP", "01S02", 1},
      {"SELECT id, id * 2 FROM " + table + " ORDER BY 2", "IM919", 0},
  };
  // What SQL_ATTR_CURSOR_SCROLLABLE chooses, a dynamic cursor, and a static
  // cursor that would change its rows: each settles on a static read-only one.
  struct Ask {
    const char* name;
    SQLULEN type, concurrency;
  };
  const Ask asks[] = {{"keyset", SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_READ_ONLY},
                      {"dynamic", SQL_CURSOR_DYNAMIC, SQL_CONCUR_READ_ONLY},
                      {"static values", SQL_CURSOR_STATIC, SQL_CONCUR_VALUES},
                      {"keyset lock", SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK}};
  for (const Ask& ask : asks) {
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(ask.name) + ": " + k.sql.substr(0, 120));
      ResetStmt();
      Attr(stmt_, SQL_ATTR_CURSOR_TYPE, ask.type);
      Attr(stmt_, SQL_ATTR_CONCURRENCY, ask.concurrency);
      const SQLRETURN rc = ExecDirect(stmt_, k.sql);
      const std::string state = State(SQL_HANDLE_STMT, stmt_);
      if (std::string(k.state) == "01S02") {
        EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_EQ(state, "01S02");
        EXPECT_EQ(CursorType(stmt_), static_cast<SQLULEN>(SQL_CURSOR_STATIC));
        SQLULEN concurrency = 0;
        KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr));
        EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
        SQLLEN count = 0;
        KX_STMT_OK(SQLRowCount(stmt_, &count));
        EXPECT_EQ(count, k.rowCount);
        KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
        KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
      } else {
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(state, k.state) << Diag(SQL_HANDLE_STMT, stmt_);
      }
    }
  }
  // Such a cursor's rows cannot be changed: SQLSetPos and a positioned
  // statement naming it are refused.
  ResetStmt();
  Attr(stmt_, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  Attr(stmt_, SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES);
  KX_STMT_OK(SQLSetCursorName(stmt_, (SQLCHAR*)"OUTERC", SQL_NTS));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT t.id, t.name FROM " + table + " t LEFT JOIN " + keyless +
                                   " k ON t.id = k.id ORDER BY t.id"));
  Rowset rs;
  rs.Bind(stmt_, false);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  SQLHSTMT pos = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &pos), SQL_SUCCESS);
  EXPECT_EQ(ExecDirect(pos, "DELETE FROM " + table + " WHERE CURRENT OF OUTERC"), SQL_ERROR);
  SQLFreeHandle(SQL_HANDLE_STMT, pos);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "12");
  // The next statement on the handle asks for a keyset again.
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table));
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "");
  EXPECT_EQ(CursorType(stmt_), static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN));
}

TEST_P(Keysets, InformationSaysKeysetCursorsWork) {
  EXPECT_EQ(InfoU32(SQL_SCROLL_OPTIONS),
            static_cast<SQLUINTEGER>(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED |
                                     SQL_SO_DYNAMIC));
  const SQLUINTEGER a1 = InfoU32(SQL_KEYSET_CURSOR_ATTRIBUTES1);
  EXPECT_EQ(a1 & (SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_POS_POSITION),
            static_cast<SQLUINTEGER>(SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_POS_POSITION));
  // Positioned changes, bulk operations and bookmarks.
  const SQLUINTEGER changes = SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE | SQL_CA1_POS_REFRESH | SQL_CA1_BULK_ADD |
                              SQL_CA1_BOOKMARK | SQL_CA1_BULK_FETCH_BY_BOOKMARK;
  EXPECT_EQ(a1 & changes, changes);
  const SQLUINTEGER a2 = InfoU32(SQL_KEYSET_CURSOR_ATTRIBUTES2);
  // Deleted rows stay as holes (SQL_ROW_DELETED): no sensitivity to deletions.
  EXPECT_EQ(a2 & SQL_CA2_SENSITIVITY_DELETIONS, 0u);
  EXPECT_NE(a2 & SQL_CA2_SENSITIVITY_UPDATES, 0u);
  EXPECT_EQ(a2 & (SQL_CA2_LOCK_CONCURRENCY | SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY),
            static_cast<SQLUINTEGER>(SQL_CA2_LOCK_CONCURRENCY | SQL_CA2_OPT_ROWVER_CONCURRENCY |
                                     SQL_CA2_OPT_VALUES_CONCURRENCY));
  // Dynamic cursors scroll without row numbers; their rowset's rows change by key.
  EXPECT_EQ(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1) & (SQL_CA1_ABSOLUTE | SQL_CA1_BOOKMARK | SQL_CA1_BULK_ADD), 0u);
  EXPECT_NE(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1) & SQL_CA1_POS_UPDATE, 0u);
  const SQLUINTEGER d2 = InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2);
  EXPECT_EQ(d2 & (SQL_CA2_SENSITIVITY_ADDITIONS | SQL_CA2_SENSITIVITY_DELETIONS | SQL_CA2_SENSITIVITY_UPDATES),
            static_cast<SQLUINTEGER>(SQL_CA2_SENSITIVITY_ADDITIONS | SQL_CA2_SENSITIVITY_DELETIONS |
                                     SQL_CA2_SENSITIVITY_UPDATES));
}

// An unqualified table that exists in two schemas is the one the current
// schema names, as the database itself resolves it.
TEST_P(Keysets, DuplicateTableNamesResolveThroughTheCurrentSchema) {
  const bool pg = GetParam().postgres;
  const std::string schema = UniqueName("schema");
  const std::string name = UniqueName("twin");
  Exec("CREATE SCHEMA " + schema);
  Exec("CREATE TABLE " + schema + "." + name + " (id INTEGER PRIMARY KEY, name VARCHAR(40))");
  Exec("CREATE TABLE " + name + " (id INTEGER PRIMARY KEY, name VARCHAR(40))");
  tables_.push_back(name);
  tables_.push_back(schema + "." + name);
  Exec("INSERT INTO " + name + " VALUES (1, 'here'), (2, 'here')");
  Exec("INSERT INTO " + schema + "." + name + " VALUES (1, 'there')");
  ResetStmt();
  Keyset(stmt_);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + name + " ORDER BY id"));
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
  ExpectKeysetOf(2);
  Rowset rs;
  rs.Bind(stmt_, false);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(rs.fetched, 2u);
  EXPECT_EQ(std::string(rs.name[0]), "here");
  ResetStmt();
  Exec("DROP TABLE " + schema + "." + name);
  tables_.pop_back();
  Exec(std::string("DROP SCHEMA ") + schema + (pg ? " CASCADE" : ""));
}

// A connection that emulates several active statements reads each result
// whole at execution, so two results can be read side by side.
TEST_P(Keysets, ForcedStaticCursorsReadEachResultWhole) {
  const std::string table = Numbers(25);
  SQLHDBC mase = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &mase), SQL_SUCCESS);
  KX_OK(Connect(mase, "MASE=1"), SQL_HANDLE_DBC, mase);
  SQLHSTMT a = SQL_NULL_HSTMT, b = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mase, &a), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, mase, &b), SQL_SUCCESS);
  KX_OK(ExecDirect(a, "SELECT id FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, a);
  KX_OK(ExecDirect(b, "SELECT id FROM " + table + " ORDER BY id DESC"), SQL_HANDLE_STMT, b);
  SQLLEN count = 0;
  KX_OK(SQLRowCount(a, &count), SQL_HANDLE_STMT, a);
  EXPECT_EQ(count, 25);
  SQLINTEGER ia = 0, ib = 0;
  KX_OK(SQLBindCol(a, 1, SQL_C_SLONG, &ia, 0, nullptr), SQL_HANDLE_STMT, a);
  KX_OK(SQLBindCol(b, 1, SQL_C_SLONG, &ib, 0, nullptr), SQL_HANDLE_STMT, b);
  for (int i = 1; i <= 25; ++i) {
    KX_OK(SQLFetch(a), SQL_HANDLE_STMT, a);
    KX_OK(SQLFetch(b), SQL_HANDLE_STMT, b);
    ASSERT_EQ(ia, i);
    ASSERT_EQ(ib, 26 - i);
  }
  EXPECT_EQ(SQLFetch(a), SQL_NO_DATA);
  EXPECT_EQ(SQLFetch(b), SQL_NO_DATA);
  SQLFreeHandle(SQL_HANDLE_STMT, a);
  SQLFreeHandle(SQL_HANDLE_STMT, b);
  Drop(mase);
}

// The key columns of a table are remembered without the statement's alias:
// later statements on the connection name the same tables under other
// aliases, or the same aliases for the other tables, and each reads its own
// rows by its own aliases.
TEST_P(Keysets, KeyColumnsTakeEachStatementsAliases) {
  const std::string parent = Table("kparent", "pid INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40)");
  const std::string child = Table("kchild", "cid INTEGER NOT NULL PRIMARY KEY, pid INTEGER, name VARCHAR(40)");
  for (int i = 1; i <= 6; ++i) {
    Exec("INSERT INTO " + parent + " VALUES (" + std::to_string(i) + ", 'parent " + std::to_string(i) + "')");
    Exec("INSERT INTO " + child + " VALUES (" + std::to_string(100 + i) + ", " + std::to_string(7 - i) + ", 'child " +
         std::to_string(100 + i) + "')");
  }
  ResetStmt();
  const std::string queries[] = {
      "SELECT x.pid, y.name FROM " + parent + " x, " + child + " y WHERE x.pid = y.pid ORDER BY x.pid",
      "SELECT a.pid, b.name FROM " + parent + " a, " + child + " b WHERE a.pid = b.pid ORDER BY a.pid",
      "SELECT y.pid, x.name FROM " + parent + " y, " + child + " x WHERE y.pid = x.pid ORDER BY y.pid",
      "SELECT y.pid, x.name FROM " + child + " x, " + parent + " y WHERE y.pid = x.pid ORDER BY y.pid",
  };
  for (const std::string& sql : queries) {
    SCOPED_TRACE(sql);
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_SUCCESS);
    Keyset(st);
    const SQLRETURN rc = ExecDirect(st, sql);
    EXPECT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(CursorType(st), static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN));
    Rowset rs;
    rs.Bind(st, false);
    EXPECT_EQ(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(rs.fetched, 6u);
    for (int r = 0; r < 6; ++r) {
      EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS) << r;
      EXPECT_EQ(rs.id[r], r + 1);
      EXPECT_EQ(std::string(rs.name[r]), "child " + std::to_string(107 - (r + 1)));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
}

// Table names reach the catalog as names, not search patterns: with tables
// <t>_a and <t>xa, a keyset cursor on the first sees its own columns only.
TEST_P(Keysets, TableNamesAreNotSearchPatterns) {
  const std::string stem = UniqueName("pat");
  const std::string mine = stem + "_a", other = stem + "xa";
  Exec("CREATE TABLE " + other + " (id INTEGER NOT NULL PRIMARY KEY, extra VARCHAR(10), more INTEGER)");
  tables_.push_back(other);
  Exec("CREATE TABLE " + mine + " (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40))");
  tables_.push_back(mine);
  Exec("INSERT INTO " + mine + " VALUES (1, 'one'), (2, 'two')");
  Exec("INSERT INTO " + other + " VALUES (1, 'x', 1)");
  ResetStmt();
  Keyset(stmt_);
  Attr(stmt_, SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT * FROM " + mine + " ORDER BY id"));
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "") << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(CursorType(stmt_), static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN));
  SQLSMALLINT cols = 0;
  KX_STMT_OK(SQLNumResultCols(stmt_, &cols));
  EXPECT_EQ(cols, 2);
  Rowset rs;
  rs.Bind(stmt_, false);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
  ASSERT_EQ(rs.fetched, 2u);
  rs.Name(1, "changed");
  rs.idInd[1] = SQL_COLUMN_IGNORE;
  EXPECT_EQ(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(Scalar("SELECT name FROM " + mine + " WHERE id = 2"), "changed");
}

// SQL_FETCH_PRIOR from a rowset that starts at rows 2 to the rowset size
// gives the first rowset with 01S06.
TEST_P(Keysets, PriorNearTheStartSays01S06) {
  const std::string table = Numbers(20);
  for (SQLULEN type : {SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC}) {
    SCOPED_TRACE(type);
    ResetStmt();
    Attr(stmt_, SQL_ATTR_CURSOR_TYPE, type);
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 5);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
    Rowset rs;
    rs.Bind(stmt_, false);
    for (SQLLEN start : {2, 5}) {
      KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, start));
      EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_PRIOR, 0), SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S06");
      EXPECT_EQ(rs.fetched, 5u);
      EXPECT_EQ(rs.id[0], 1);
    }
    // From row 6 the prior rowset is whole: no warning.
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 6));
    EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_PRIOR, 0), SQL_SUCCESS);
    EXPECT_EQ(rs.id[0], 1);
    EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_PRIOR, 0), SQL_NO_DATA);
    // From after the end of a result shorter than a rowset: the first
    // rowset, with 01S06; of a longer one, the last rowset.
    for (const int rows : {3, 20}) {
      ResetStmt();
      Attr(stmt_, SQL_ATTR_CURSOR_TYPE, type);
      Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 5);
      KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " WHERE id <= " + std::to_string(rows) +
                                       " ORDER BY id"));
      rs.Bind(stmt_, false);
      KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
      EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_NO_DATA);
      EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_PRIOR, 0), rows < 5 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
      if (rows < 5) {
        EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S06");
      }
      EXPECT_EQ(rs.id[0], rows < 5 ? 1 : rows - 4);
    }
  }
}

// Each rowset's rows are read by key in one statement (an IN list of the
// keys, a row-value IN list for compound keys) whatever the key's type; the
// database returns them in its own order and each lands under its own key.
// Here another user reverses the order the statement sorts by and deletes
// rows, in a whole rowset and in the last, partial one.
TEST_P(Keysets, RowsetsReadByKeyLandUnderTheirKeysWhateverTheirOrder) {
  const bool pg = GetParam().postgres;
  struct KeyType {
    const char* name;
    std::string columns;                // the key columns
    std::string (*value)(int seq);      // their values for row seq
  };
  const KeyType types[] = {
      {"integer", "k1 INTEGER NOT NULL", [](int seq) { return std::to_string(seq * 7 - 100); }},
      {"varchar", "k1 VARCHAR(20) NOT NULL", [](int seq) { return "'key " + std::to_string(seq) + "'"; }},
      {"timestamp", "k1 TIMESTAMP NOT NULL",
       [](int seq) {
         return "TIMESTAMP '2024-01-" + std::string(seq < 10 ? "0" : "") + std::to_string(seq) +
                " 10:20:30.123456'";
       }},
      {"numeric", "k1 NUMERIC(12,2) NOT NULL", [](int seq) { return std::to_string(seq * 3) + ".25"; }},
      {"compound", "k1 VARCHAR(10) NOT NULL, k2 TIMESTAMP NOT NULL",
       [](int seq) {
         return "'" + std::string(seq % 2 != 0 ? "odd" : "even") + "', TIMESTAMP '2023-12-" +
                std::string(seq < 10 ? "0" : "") + std::to_string(seq) + " 01:02:03.5'";
       }},
  };
  for (const KeyType& type : types) {
    SCOPED_TRACE(type.name);
    const bool compound = std::string(type.name) == "compound";
    const std::string table =
        Table("keyset_by", type.columns + ", seq INTEGER, v VARCHAR(20), PRIMARY KEY (k1" + (compound ? ", k2)" : ")"));
    for (int seq = 1; seq <= 25; ++seq) {
      Exec("INSERT INTO " + table + " VALUES (" + type.value(seq) + ", " + std::to_string(seq) + ", 'v" +
           std::to_string(100 + seq) + "')");
    }
    ResetStmt();
    const std::string pid = pg ? Scalar("SELECT pg_backend_pid()") : "";
    Keyset(stmt_);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT seq, v FROM " + table + " ORDER BY v"));
    Rowset rs;
    rs.Bind(stmt_, false);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    ASSERT_EQ(rs.fetched, kRowset);
    EXPECT_EQ(rs.id[0], 1);
    EXPECT_EQ(std::string(rs.name[9]), "v110");
    // The statement's order turned round, and rows 4 and 23 gone.
    SQLHDBC other = Other();
    ExecOn(other, "UPDATE " + table + " SET v = 'w' || CAST(200 - seq AS VARCHAR(10))");
    ExecOn(other, "DELETE FROM " + table + " WHERE seq IN (4, 23)");
    struct Step {
      SQLSMALLINT orientation;
      SQLLEN offset;
      int first;
      SQLULEN rows;
    };
    for (const Step& step : {Step{SQL_FETCH_FIRST, 0, 1, 10}, Step{SQL_FETCH_NEXT, 0, 11, 10},
                             Step{SQL_FETCH_ABSOLUTE, 21, 21, 5}, Step{SQL_FETCH_ABSOLUTE, 2, 2, 10}}) {
      SCOPED_TRACE(step.first);
      KX_STMT_OK(SQLFetchScroll(stmt_, step.orientation, step.offset));
      ASSERT_EQ(rs.fetched, step.rows);
      for (SQLULEN r = 0; r < kRowset; ++r) {
        const int seq = step.first + static_cast<int>(r);
        SCOPED_TRACE(seq);
        if (r >= step.rows) {
          EXPECT_EQ(rs.status[r], SQL_ROW_NOROW);
        } else if (seq == 4 || seq == 23) {
          EXPECT_EQ(rs.status[r], SQL_ROW_DELETED);
        } else {
          EXPECT_EQ(rs.status[r], SQL_ROW_SUCCESS);
          EXPECT_EQ(rs.id[r], seq);
          EXPECT_EQ(std::string(rs.name[r]), "w" + std::to_string(200 - seq));
        }
      }
    }
    if (pg) {
      // What the server ran last for this connection: the rowset's keys in
      // one IN list (a row-value list for a compound key).
      const std::string last = Scalar("SELECT query FROM pg_stat_activity WHERE pid = " + pid, other);
      EXPECT_NE(last.find(compound ? "(\"k1\", \"k2\") IN (($1, $2), ($3, $4)" : "\"k1\" IN ($1, $2, $3"),
                std::string::npos)
          << last;
      EXPECT_EQ(last.find(" OR "), std::string::npos) << last;
    }
    Drop(other);
    KX_STMT_OK(SQLCloseCursor(stmt_));
  }
}

// Execution reads the keys alone (a mixed or dynamic cursor not even those):
// the statement's own select list is computed only for the rows a rowset
// reads by key (a database that sends a whole result at once would otherwise
// compute, and the driver hold, every row at SQLExecute). An ODBC 2 SQLFetch,
// which reads the result in order, still gets every row, execution after
// execution.
TEST_P(Keysets, ExecutionReadsOnlyTheKeys) {
  const bool pg = GetParam().postgres;
  const std::string table = Numbers(45);
  struct Shape {
    const char* name;
    SQLULEN cursor;
    SQLULEN keysetSize;
  };
  // (H2's sequence expression keeps a cursor static.)
  for (const Shape& shape : {Shape{"keyset", SQL_CURSOR_KEYSET_DRIVEN, 0}, Shape{"mixed", SQL_CURSOR_KEYSET_DRIVEN, 20},
                             Shape{"dynamic", SQL_CURSOR_DYNAMIC, 0}}) {
    if (!pg) break;
    SCOPED_TRACE(shape.name);
    const std::string seq = UniqueName("kseq");
    Exec("CREATE SEQUENCE " + seq);
    ResetStmt();
    const std::string next = "nextval('" + seq + "')";
    Keyset(stmt_);
    Attr(stmt_, SQL_ATTR_CURSOR_TYPE, shape.cursor);
    Attr(stmt_, SQL_ATTR_KEYSET_SIZE, shape.keysetSize);
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, " + next + " FROM " + table + " ORDER BY id"));
    EXPECT_EQ(CursorType(stmt_), shape.cursor);
    // A row another user adds after the execution: a keyset cursor has its
    // keys already, a mixed or dynamic one reads its first keys at the fetch.
    ExecOther("INSERT INTO " + table + " VALUES (0, 'name 0')");
    const int first = shape.keysetSize == 0 && shape.cursor == SQL_CURSOR_KEYSET_DRIVEN ? 1 : 0;
    // Only a keyset cursor knows its rows at the execution.
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, first == 1 ? 45 : -1);
    Rowset rs;
    rs.Bind(stmt_, false);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    ASSERT_EQ(rs.fetched, kRowset);
    std::vector<int> taken;
    for (SQLULEN r = 0; r < kRowset; ++r) {
      EXPECT_EQ(rs.id[r], static_cast<int>(r) + first);
      taken.push_back(std::atoi(rs.name[r]));
    }
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken.front(), 1) << "the execution computed the select list";
    EXPECT_EQ(taken.back(), 10);
    KX_STMT_OK(SQLCloseCursor(stmt_));
    EXPECT_EQ(Scalar("SELECT " + next), "11");
    Exec("DROP SEQUENCE " + seq);
    ResetStmt();
    Exec("DELETE FROM " + table + " WHERE id = 0");
  }
  ResetStmt();

  // ODBC 2: SQLFetch reads the statement's result in order.
  SQLHENV env2 = SQL_NULL_HENV;
  SQLHDBC dbc2 = Odbc2Connection(&env2);
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc2, &st), SQL_SUCCESS);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    // Twice each: a keyset-driven cursor, then a dynamic one.
    if (round % 2 == 0) {
      const SQLULEN type = round == 0 ? SQL_CURSOR_KEYSET_DRIVEN : SQL_CURSOR_DYNAMIC;
      KX_OK(SQLSetStmtOption(st, SQL_CURSOR_TYPE, type), SQL_HANDLE_STMT, st);
    }
    KX_OK(ExecDirect(st, "SELECT id, name FROM " + table + " ORDER BY id DESC"), SQL_HANDLE_STMT, st);
    int expect = 45;
    SQLRETURN rc;
    while ((rc = SQLFetch(st)) == SQL_SUCCESS) {
      SQLINTEGER id = 0;
      char name[41] = {};
      SQLLEN ind = 0;
      KX_OK(SQLGetData(st, 1, SQL_C_SLONG, &id, 0, &ind), SQL_HANDLE_STMT, st);
      KX_OK(SQLGetData(st, 2, SQL_C_CHAR, name, sizeof name, &ind), SQL_HANDLE_STMT, st);
      EXPECT_EQ(id, expect);
      EXPECT_EQ(std::string(name), "name " + std::to_string(expect));
      --expect;
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << Diag(SQL_HANDLE_STMT, st);
    EXPECT_EQ(expect, 0);
    KX_OK(SQLFreeStmt(st, SQL_CLOSE), SQL_HANDLE_STMT, st);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  DropWithEnv(env2, dbc2);
}

// The statement's row limit bounds the keyset: the cursor has that many
// rows, whichever way it scrolls, and a later execution without the limit
// has them all.
TEST_P(Keysets, RowLimitBoundsTheKeyset) {
  const std::string table = Numbers(45);
  Keyset(stmt_);
  Attr(stmt_, SQL_ATTR_MAX_ROWS, 7);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
  ExpectKeysetOf(7);
  Rowset rs;
  rs.Bind(stmt_, false);
  for (const SQLSMALLINT orientation : {SQLSMALLINT{SQL_FETCH_FIRST}, SQLSMALLINT{SQL_FETCH_LAST}}) {
    SCOPED_TRACE(orientation);
    KX_STMT_OK(SQLFetchScroll(stmt_, orientation, 0));
    ASSERT_EQ(rs.fetched, 7u);
    EXPECT_EQ(rs.id[0], 1);
    EXPECT_EQ(rs.id[6], 7);
    EXPECT_EQ(rs.status[7], SQL_ROW_NOROW);
  }
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_NO_DATA);
  KX_STMT_OK(SQLCloseCursor(stmt_));
  Attr(stmt_, SQL_ATTR_MAX_ROWS, 0);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
  ExpectKeysetOf(45);
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
  EXPECT_EQ(rs.id[rs.fetched - 1], 45);
  KX_STMT_OK(SQLCloseCursor(stmt_));
}

INSTANTIATE_TEST_SUITE_P(Road, Keysets, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
