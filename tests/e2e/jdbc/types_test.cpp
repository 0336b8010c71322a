// Values and descriptions of column types as applications see them.
//
// - A NULL value writes the indicator and, for text, the terminator: never
//   the whole bound buffer (an application's 2 GB buffer made each NULL row
//   cost seconds).
// - Dates are proleptic Gregorian, read and written through java.time:
//   year 1 and the days before the 1582 calendar reform keep their fields; a
//   BC date, which the ODBC structures cannot hold, refuses its row alone
//   with 22008. The block reader and the value-by-value getters (a result
//   with a long column) agree.
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Types = RoadTest;

TEST_P(Types, NullWritesOnlyTheIndicatorAndTheTerminator) {
  const bool wide = GetParam().unicode;
  std::string table =
      Table("nulls", GetParam().postgres ? "id INT, t VARCHAR(20), b BYTEA, n INT"
                                         : "id INT, t VARCHAR(20), b VARBINARY(20), n INT");
  Exec("INSERT INTO " + table + " VALUES (1, NULL, NULL, NULL)");
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT t, b, n FROM " + table));
  const size_t big = 1 << 20;
  std::vector<unsigned char> text(big, 0xCC), bytes(big, 0xCC);
  SQLINTEGER n = 0x5A5A5A5A;
  SQLLEN ind[3] = {0, 0, 0};
  KX_STMT_OK(SQLBindCol(stmt_, 1, wide ? SQL_C_WCHAR : SQL_C_CHAR, text.data(), big, &ind[0]));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_BINARY, bytes.data(), big, &ind[1]));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_SLONG, &n, 0, &ind[2]));
  KX_STMT_OK(SQLFetch(stmt_));
  for (SQLLEN i : ind) EXPECT_EQ(i, SQL_NULL_DATA);
  const size_t terminator = wide ? 2 : 1;
  for (size_t i = 0; i < terminator; ++i) EXPECT_EQ(text[i], 0) << i;
  EXPECT_EQ(text[terminator], 0xCC);
  EXPECT_EQ(text[big - 1], 0xCC);
  EXPECT_EQ(bytes[0], 0xCC);
  EXPECT_EQ(bytes[big - 1], 0xCC);
  EXPECT_EQ(n, 0);  // a fixed-size value is cleared over its own size
  // SQLGetData into a buffer too small for a terminator writes nothing.
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT t FROM " + table));
  KX_STMT_OK(SQLFetch(stmt_));
  unsigned char one[4] = {0xCC, 0xCC, 0xCC, 0xCC};
  SQLLEN got = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, one, 0, &got));
  EXPECT_EQ(got, SQL_NULL_DATA);
  EXPECT_EQ(one[0], 0xCC);
}

struct DateRow {
  int id;
  SQL_DATE_STRUCT d;
  SQL_TIMESTAMP_STRUCT ts;
};

TEST_P(Types, OldDatesAreProlepticGregorianAndBcRefusesItsRowAlone) {
  const bool pg = GetParam().postgres;
  std::string table = Table("olddates", "id INT, d DATE, ts TIMESTAMP");
  // Written through parameters: the fields arrive as they were given.
  const std::vector<DateRow> rows = {
      {1, {1, 1, 1}, {1, 1, 1, 10, 20, 30, 0}},
      {2, {1582, 10, 4}, {1582, 10, 10, 23, 59, 59, 500000000}},
      {4, {2024, 2, 29}, {2024, 2, 29, 12, 0, 0, 0}},
  };
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?, ?)"));
  for (const DateRow& r : rows) {
    SQLINTEGER id = r.id;
    SQL_DATE_STRUCT d = r.d;
    SQL_TIMESTAMP_STRUCT ts = r.ts;
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr));
    KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &d, 0, nullptr));
    KX_STMT_OK(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &ts, 0, nullptr));
    KX_STMT_OK(SQLExecute(stmt_));
  }
  Exec(pg ? "INSERT INTO " + table + " VALUES (3, '4713-01-01 BC', '0044-03-15 12:00 BC')"
          : "INSERT INTO " + table + " VALUES (3, DATE '-4712-01-01', TIMESTAMP '-0043-03-15 12:00:00')");
  // The database holds the text of the proleptic dates.
  EXPECT_EQ(Scalar(pg ? "SELECT CAST(d AS VARCHAR) FROM " + table + " WHERE id = 1"
                      : "SELECT CAST(d AS VARCHAR) FROM " + table + " WHERE id = 1"),
            "0001-01-01");

  // Block reads, then value by value (a long column takes that road).
  const std::string longCol = pg ? "CAST('x' AS TEXT)" : "CAST('x' AS CLOB)";
  for (const std::string& extra : {std::string(), ", " + longCol}) {
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, d, ts" + extra + " FROM " + table + " ORDER BY id"));
    SQLINTEGER id = 0;
    SQL_DATE_STRUCT d{};
    SQL_TIMESTAMP_STRUCT ts{};
    SQLLEN ind[3] = {0, 0, 0};
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &ind[0]));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_TYPE_DATE, &d, sizeof d, &ind[1]));
    KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind[2]));
    std::vector<int> seen;
    int refused = 0;
    for (int guard = 0; guard < 10; ++guard) {
      SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) break;
      if (rc == SQL_ERROR) {
        ++refused;
        EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "22008") << Diag(SQL_HANDLE_STMT, stmt_);
        continue;
      }
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      seen.push_back(id);
      for (const DateRow& r : rows) {
        if (r.id != id) continue;
        EXPECT_EQ(d.year, r.d.year) << id << extra;
        EXPECT_EQ(d.month, r.d.month) << id << extra;
        EXPECT_EQ(d.day, r.d.day) << id << extra;
        EXPECT_EQ(ts.year, r.ts.year) << id << extra;
        EXPECT_EQ(ts.month, r.ts.month) << id << extra;
        EXPECT_EQ(ts.day, r.ts.day) << id << extra;
        EXPECT_EQ(ts.hour, r.ts.hour) << id << extra;
        EXPECT_EQ(ts.second, r.ts.second) << id << extra;
        EXPECT_EQ(ts.fraction, r.ts.fraction) << id << extra;
      }
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 4})) << extra;
    EXPECT_EQ(refused, 1) << extra;
  }
}

INSTANTIATE_TEST_SUITE_P(Road, Types, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
