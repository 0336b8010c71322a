// Large results through unixODBC, read with SQLGetData row after row: the
// agent reads ordinary results a block of rows at a time through one packed
// buffer, results with a long column value by value. Every value of every
// row must arrive as the application asked for it, across many blocks, with
// NULLs, empty text, text read in pieces and long values read in pieces.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using PackedRows = RoadTest;

constexpr int kRows = 2500;

std::string Series(bool pg, int n) {
  return pg ? "generate_series(0, " + std::to_string(n - 1) + ") AS g(x)"
            : "SYSTEM_RANGE(0, " + std::to_string(n - 1) + ")";
}

// The text of row x: empty every fifth row, NULL the row after, else a
// value longer than the 5-character buffer it is read into.
const char* TextKind(int x) { return x % 5 == 0 ? "empty" : x % 5 == 1 ? "null" : "value"; }
std::string TextOf(int x) { return "text of row " + std::to_string(x); }

// Reads a text column with SQLGetData in pieces of at most 4 characters.
std::string Pieces(SQLHSTMT stmt, SQLUSMALLINT col, SQLLEN* first) {
  std::string all;
  char piece[5];
  SQLLEN ind = 0;
  *first = 0;
  for (int call = 0;; ++call) {
    const SQLRETURN rc = SQLGetData(stmt, col, SQL_C_CHAR, piece, sizeof piece, &ind);
    if (rc == SQL_NO_DATA) break;
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt);
    if (!SQL_SUCCEEDED(rc)) break;
    if (call == 0) *first = ind;
    if (ind == SQL_NULL_DATA) break;
    all += piece;
    if (rc == SQL_SUCCESS) break;
    EXPECT_EQ("01004", State(SQL_HANDLE_STMT, stmt));
  }
  return all;
}

TEST_P(PackedRows, ManyBlocksOfEveryKindReadWithGetData) {
  const bool pg = GetParam().postgres;
  const std::string table =
      Table("packed", std::string("id INTEGER, s SMALLINT, big BIGINT, n NUMERIC(12,2), d DOUBLE PRECISION, ") +
                          "ok BOOLEAN, dt DATE, ts TIMESTAMP, t VARCHAR(30)");
  Exec("INSERT INTO " + table +
       " SELECT x, CAST(MOD(x, 30000) - 15000 AS SMALLINT), CAST(x AS BIGINT) * 1000000007,"
       " CASE WHEN MOD(x, 11) = 0 THEN NULL ELSE x + 0.25 END, x / 4.0, MOD(x, 2) = 0,"
       " CASE WHEN MOD(x, 13) = 0 THEN NULL ELSE DATE '2024-02-29' END,"
       " TIMESTAMP '1999-12-31 23:59:58.5',"
       " CASE MOD(x, 5) WHEN 0 THEN '' WHEN 1 THEN NULL ELSE 'text of row ' || x END FROM " +
       Series(pg, kRows));
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, s, big, n, d, ok, dt, ts, t FROM " + table + " ORDER BY id"));
  int x = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    KX_STMT_OK(rc);
    SCOPED_TRACE(testing::Message() << "row " << x);
    SQLINTEGER id = -1;
    SQLSMALLINT s = 0;
    SQLBIGINT big = 0;
    char n[16] = {0};
    double d = 0;
    unsigned char ok = 9;
    SQL_DATE_STRUCT dt{};
    SQL_TIMESTAMP_STRUCT ts{};
    SQLLEN ind[9] = {0};
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &id, 0, &ind[0]));
    KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_SSHORT, &s, 0, &ind[1]));
    KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_SBIGINT, &big, 0, &ind[2]));
    KX_STMT_OK(SQLGetData(stmt_, 4, SQL_C_CHAR, n, sizeof n, &ind[3]));
    KX_STMT_OK(SQLGetData(stmt_, 5, SQL_C_DOUBLE, &d, 0, &ind[4]));
    KX_STMT_OK(SQLGetData(stmt_, 6, SQL_C_BIT, &ok, 0, &ind[5]));
    KX_STMT_OK(SQLGetData(stmt_, 7, SQL_C_TYPE_DATE, &dt, 0, &ind[6]));
    KX_STMT_OK(SQLGetData(stmt_, 8, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind[7]));
    SQLLEN textInd = 0;
    const std::string text = Pieces(stmt_, 9, &textInd);
    ASSERT_EQ(x, id);
    EXPECT_EQ(x % 30000 - 15000, s);
    EXPECT_EQ(static_cast<SQLBIGINT>(x) * 1000000007, big);
    if (x % 11 == 0) {
      EXPECT_EQ(SQL_NULL_DATA, ind[3]);
    } else {
      char want[16];
      std::snprintf(want, sizeof want, "%d.25", x);
      EXPECT_STREQ(want, n);
    }
    EXPECT_EQ(x / 4.0, d);
    EXPECT_EQ(x % 2 == 0 ? 1 : 0, ok);
    if (x % 13 == 0) {
      EXPECT_EQ(SQL_NULL_DATA, ind[6]);
    } else {
      EXPECT_EQ(2024, dt.year);
      EXPECT_EQ(2, dt.month);
      EXPECT_EQ(29, dt.day);
    }
    EXPECT_EQ(1999, ts.year);
    EXPECT_EQ(58, ts.second);
    EXPECT_EQ(500000000u, ts.fraction);
    const std::string kind = TextKind(x);
    if (kind == "null") {
      EXPECT_EQ(SQL_NULL_DATA, textInd);
    } else if (kind == "empty") {
      EXPECT_EQ(0, textInd);
      EXPECT_EQ("", text);
    } else {
      EXPECT_EQ(static_cast<SQLLEN>(TextOf(x).size()), textInd);
      EXPECT_EQ(TextOf(x), text);
    }
    if (HasFatalFailure() || HasFailure()) break;
    ++x;
  }
  EXPECT_EQ(kRows, x);
}

// A long column sends the whole result down the value-by-value road: the
// same values, and the long one in pieces.
TEST_P(PackedRows, ResultWithALongColumnReadsTheSame) {
  const bool pg = GetParam().postgres;
  constexpr int rows = 150;
  const std::string table = Table("packedlob", std::string("id INTEGER, t VARCHAR(30), doc ") + (pg ? "TEXT" : "CLOB"));
  Exec("INSERT INTO " + table +
       " SELECT x, CASE MOD(x, 5) WHEN 0 THEN '' WHEN 1 THEN NULL ELSE 'text of row ' || x END,"
       " CASE WHEN MOD(x, 7) = 3 THEN NULL ELSE REPEAT('y', 3000) || x END FROM " +
       Series(pg, rows));
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, t, doc FROM " + table + " ORDER BY id"));
  int x = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    KX_STMT_OK(rc);
    SCOPED_TRACE(testing::Message() << "row " << x);
    SQLINTEGER id = -1;
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &id, 0, &ind));
    ASSERT_EQ(x, id);
    SQLLEN textInd = 0;
    const std::string text = Pieces(stmt_, 2, &textInd);
    const std::string kind = TextKind(x);
    if (kind == "null") EXPECT_EQ(SQL_NULL_DATA, textInd);
    else if (kind == "empty") EXPECT_EQ("", text);
    else EXPECT_EQ(TextOf(x), text);
    std::string doc;
    std::vector<char> piece(1001);
    SQLLEN docInd = 0;
    while (true) {
      rc = SQLGetData(stmt_, 3, SQL_C_CHAR, piece.data(), static_cast<SQLLEN>(piece.size()), &docInd);
      if (rc == SQL_NO_DATA || docInd == SQL_NULL_DATA) break;
      KX_STMT_OK(rc);
      doc += piece.data();
      if (rc == SQL_SUCCESS) break;
    }
    if (x % 7 == 3) EXPECT_EQ(SQL_NULL_DATA, docInd);
    else EXPECT_EQ(std::string(3000, 'y') + std::to_string(x), doc);
    if (HasFailure()) break;
    ++x;
  }
  EXPECT_EQ(rows, x);
}

// Rows are read ahead of the application: a failure far into a result (the
// division by zero of row 4000) still comes after the rows before it, in
// order, never before them, in both commit modes; the connection goes on.
TEST_P(PackedRows, AFailureFarIntoAResultComesAfterTheRowsBeforeIt) {
  const bool pg = GetParam().postgres;
  const std::string sql =
      "SELECT CAST(x + 0 * (1 / (x - 4000)) AS INTEGER) FROM " + Series(pg, 10000);
  for (SQLULEN autocommit : {SQL_AUTOCOMMIT_ON, SQL_AUTOCOMMIT_OFF}) {
    SCOPED_TRACE(testing::Message() << "autocommit " << autocommit);
    KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(autocommit), 0),
          SQL_HANDLE_DBC, dbc_);
    ResetStmt();
    SQLRETURN rc = ExecDirect(stmt_, sql);
    int x = 0;
    if (SQL_SUCCEEDED(rc)) {
      SQLINTEGER id = -1;
      SQLLEN ind = 0;
      KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &ind));
      while (SQL_SUCCEEDED(rc = SQLFetch(stmt_))) {
        ASSERT_EQ(x, id);
        ++x;
      }
    }
    // Where the failure shows depends on how many rows the database sends
    // at a time; it is never past the failing row, nor a quiet end.
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ("22012", State(SQL_HANDLE_STMT, stmt_)) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_LT(x, 4000);
    // PostgreSQL streams inside a transaction: rows come before the failure.
    if (pg && autocommit == SQL_AUTOCOMMIT_OFF) {
      EXPECT_GT(x, 0);
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    if (autocommit == SQL_AUTOCOMMIT_OFF) {
      KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_);
    }
    EXPECT_EQ("7", Scalar("SELECT 3 + 4"));
  }
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
        SQL_HANDLE_DBC, dbc_);
}

INSTANTIATE_TEST_SUITE_P(Road, PackedRows, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
