// A parameter array runs as JDBC batches whose rows are bound in one call
// into Java per block; the values stored must be exactly those of the same
// rows executed one at a time: every kind of C value into its column type,
// NULLs, empty text, wide text outside the BMP, fractions of seconds.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using ParamValues = RoadTest;

constexpr SQLULEN kRows = 25;

// Column-wise parameter arrays of kRows rows.
struct Values {
  Values() : id(kRows), si(kRows), bi(kRows), r(kRows), d(kRows), n(kRows * 16), b(kRows), v(kRows * 41),
             w(kRows * 41), dt(kRows), tm(kRows), ts(kRows), bin(kRows * 8), nInd(kRows), vInd(kRows),
             wInd(kRows), dtInd(kRows), binInd(kRows) {
    const std::u16string wide = U16("\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xF0\x9F\x98\x80 ");
    for (SQLULEN i = 0; i < kRows; ++i) {
      const int x = static_cast<int>(i);
      id[i] = x;
      si[i] = static_cast<SQLSMALLINT>(x * 100 - 1200);
      bi[i] = static_cast<SQLBIGINT>(x) * 3000000019LL;
      r[i] = static_cast<float>(x) / 8.0f;
      d[i] = x * -1.0e10 / 3.0;
      std::snprintf(&n[i * 16], 16, "%d.%02d", x * 1000 - 5000, x);
      b[i] = static_cast<unsigned char>(x % 2);
      const std::string text = x % 4 == 0 ? "" : "row " + std::to_string(x);
      std::memcpy(&v[i * 41], text.c_str(), text.size() + 1);
      const std::u16string wt = wide + U16(std::to_string(x));
      std::memcpy(&w[i * 41], wt.c_str(), (wt.size() + 1) * sizeof(char16_t));
      wInd[i] = static_cast<SQLLEN>(wt.size() * sizeof(char16_t));
      dt[i] = SQL_DATE_STRUCT{static_cast<SQLSMALLINT>(1582 + x), 10, static_cast<SQLUSMALLINT>(1 + x)};
      tm[i] = SQL_TIME_STRUCT{static_cast<SQLUSMALLINT>(x % 24), 59, static_cast<SQLUSMALLINT>(x)};
      ts[i] = SQL_TIMESTAMP_STRUCT{2024, 2, 29, 23, 59, static_cast<SQLUSMALLINT>(x), static_cast<SQLUINTEGER>(x) * 1000};
      for (int k = 0; k < 8; ++k) bin[i * 8 + k] = static_cast<unsigned char>(x + k * 31);
      // Every third row has NULLs in the nullable columns.
      const bool isNull = x % 3 == 2;
      nInd[i] = isNull ? SQL_NULL_DATA : SQL_NTS;
      vInd[i] = isNull ? SQL_NULL_DATA : SQL_NTS;
      if (isNull) wInd[i] = SQL_NULL_DATA;
      dtInd[i] = isNull ? SQL_NULL_DATA : 0;
      binInd[i] = isNull ? SQL_NULL_DATA : 8 - x % 3;
    }
  }
  std::vector<SQLINTEGER> id;
  std::vector<SQLSMALLINT> si;
  std::vector<SQLBIGINT> bi;
  std::vector<float> r;
  std::vector<double> d;
  std::vector<char> n;
  std::vector<unsigned char> b;
  std::vector<char> v;
  std::vector<char16_t> w;
  std::vector<SQL_DATE_STRUCT> dt;
  std::vector<SQL_TIME_STRUCT> tm;
  std::vector<SQL_TIMESTAMP_STRUCT> ts;
  std::vector<unsigned char> bin;
  std::vector<SQLLEN> nInd, vInd, wInd, dtInd, binInd;
};

// Binds every column; row: the first row of the arrays the binding starts at.
void Bind(SQLHSTMT st, Values& a, SQLULEN row) {
  auto bind = [st](SQLUSMALLINT p, SQLSMALLINT c, SQLSMALLINT sql, SQLULEN size, SQLSMALLINT digits, void* data,
                   SQLLEN len, SQLLEN* ind) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(st, p, SQL_PARAM_INPUT, c, sql, size, digits, data, len, ind)))
        << Diag(SQL_HANDLE_STMT, st);
  };
  bind(1, SQL_C_SLONG, SQL_INTEGER, 10, 0, &a.id[row], 0, nullptr);
  bind(2, SQL_C_SSHORT, SQL_SMALLINT, 5, 0, &a.si[row], 0, nullptr);
  bind(3, SQL_C_SBIGINT, SQL_BIGINT, 19, 0, &a.bi[row], 0, nullptr);
  bind(4, SQL_C_FLOAT, SQL_REAL, 7, 0, &a.r[row], 0, nullptr);
  bind(5, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &a.d[row], 0, nullptr);
  bind(6, SQL_C_CHAR, SQL_NUMERIC, 12, 2, &a.n[row * 16], 16, &a.nInd[row]);
  bind(7, SQL_C_BIT, SQL_BIT, 1, 0, &a.b[row], 0, nullptr);
  bind(8, SQL_C_CHAR, SQL_VARCHAR, 40, 0, &a.v[row * 41], 41, &a.vInd[row]);
  bind(9, SQL_C_WCHAR, SQL_WVARCHAR, 40, 0, &a.w[row * 41], 82, &a.wInd[row]);
  bind(10, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &a.dt[row], 0, &a.dtInd[row]);
  bind(11, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &a.tm[row], 0, nullptr);
  bind(12, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &a.ts[row], 0, nullptr);
  bind(13, SQL_C_BINARY, SQL_VARBINARY, 8, 0, &a.bin[row * 8], 8, &a.binInd[row]);
}

TEST_P(ParamValues, ArrayStoresWhatRowByRowStores) {
  const bool pg = GetParam().postgres;
  const std::string columns =
      std::string("id INTEGER, si SMALLINT, bi BIGINT, r REAL, d DOUBLE PRECISION, n NUMERIC(12,2), ok BOOLEAN,") +
      " v VARCHAR(40), w VARCHAR(40), dt DATE, tm TIME, ts TIMESTAMP(6), bin " + (pg ? "BYTEA" : "VARBINARY(8)");
  const std::string arrayTable = Table("pvals_a", columns);
  const std::string rowTable = Table("pvals_r", columns);
  const std::string marks = " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  Values a;
  // The whole array in one execution.
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + arrayTable + marks));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0));
  SQLULEN processed = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
  Bind(stmt_, a, 0);
  KX_STMT_OK(SQLExecute(stmt_));
  EXPECT_EQ(kRows, processed);
  SQLLEN count = 0;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(static_cast<SQLLEN>(kRows), count);
  // The same rows one execution each.
  ResetStmt();
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0));
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + rowTable + marks));
  for (SQLULEN i = 0; i < kRows; ++i) {
    Bind(stmt_, a, i);
    KX_STMT_OK(SQLExecute(stmt_));
  }
  ResetStmt();
  EXPECT_EQ(std::to_string(kRows), Scalar("SELECT COUNT(*) FROM " + arrayTable));
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM (SELECT * FROM " + arrayTable + " EXCEPT SELECT * FROM " +
                        rowTable + ") AS only_array"));
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM (SELECT * FROM " + rowTable + " EXCEPT SELECT * FROM " +
                        arrayTable + ") AS only_rows"));
  // A few values as the application gave them.
  EXPECT_EQ("row 7", Scalar("SELECT v FROM " + arrayTable + " WHERE id = 7"));
  EXPECT_EQ("", Scalar("SELECT v FROM " + arrayTable + " WHERE id = 4"));
  EXPECT_EQ("NULL", Scalar("SELECT v FROM " + arrayTable + " WHERE id = 5 - 3"));
  EXPECT_EQ("2", Scalar("SELECT COUNT(*) FROM " + arrayTable + " WHERE n = -2000.03 OR (id = 7 AND n = 2000.07)"));
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT w FROM " + arrayTable + " WHERE id = 7"));
  KX_STMT_OK(SQLFetch(stmt_));
  char16_t got[41] = {};
  SQLLEN len = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_WCHAR, got, sizeof got, &len));
  EXPECT_EQ(std::u16string(&a.w[7 * 41]), std::u16string(got));
  ResetStmt();
}

// A value Java refuses while the block is bound (text that is no number)
// gives the outcome of running the rows one at a time: the rows before it
// stored, its own error, the rest not run.
TEST_P(ParamValues, ValueRefusedInJavaStopsTheArrayAtItsRow) {
  const std::string table = Table("pvals_bad", "id INTEGER, n NUMERIC(12,2)");
  std::vector<SQLINTEGER> ids = {1, 2, 3, 4, 5};
  std::vector<char> n(5 * 16, 0);
  for (int i = 0; i < 5; ++i) std::snprintf(&n[i * 16], 16, i == 2 ? "1.2.3" : "%d.5", i);
  // The refused row alone: its diagnostic.
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?)"));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &ids[2], 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 12, 2, &n[2 * 16], 16, nullptr));
  ASSERT_EQ(SQL_ERROR, SQLExecute(stmt_));
  const std::string alone = State(SQL_HANDLE_STMT, stmt_);
  // The array.
  ResetStmt();
  std::vector<SQLUSMALLINT> status(5, 0xEEEE);
  SQLULEN processed = 0;
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?)"));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(5), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids.data(), 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 12, 2, n.data(), 16, nullptr));
  const SQLRETURN rc = SQLExecute(stmt_);
  EXPECT_TRUE(rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) << rc;
  EXPECT_EQ(alone, State(SQL_HANDLE_STMT, stmt_));
  EXPECT_EQ(3u, processed);
  EXPECT_EQ((std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_ERROR, SQL_PARAM_UNUSED,
                                       SQL_PARAM_UNUSED}),
            status);
  ResetStmt();
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
  EXPECT_EQ("2", Scalar("SELECT COUNT(*) FROM " + table));
}

INSTANTIATE_TEST_SUITE_P(Road, ParamValues, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
