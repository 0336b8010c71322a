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
// - UUIDs are GUIDs; text and binary without a bound are long types.
#include <cctype>
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

// A UUID column (PostgreSQL uuid, H2 UUID) is an SQL_GUID column of 36
// characters, delivered as SQL_C_GUID, as its text in either width and
// through bound columns; a UUID kept as 16 bytes of binary also gives the
// GUID; and the column lists say what the result columns say.
TEST_P(Types, UuidIsAGuidInEveryForm) {
  const bool pg = GetParam().postgres;
  const char* text = "01234567-89ab-cdef-0123-456789abcdef";
  std::string table = Table("uuids", pg ? "id INT, u UUID, b BYTEA" : "id INT, u UUID, b BINARY(16)");
  Exec("INSERT INTO " + table + " VALUES (1, '" + text + "', " +
       (pg ? "decode('0123456789abcdef0123456789abcdef', 'hex'))" : "X'0123456789abcdef0123456789abcdef')"));
  Exec("INSERT INTO " + table + " VALUES (2, NULL, NULL)");
  const SQLGUID want{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  auto same = [](const SQLGUID& a, const SQLGUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, 8) == 0;
  };

  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT u, u, b, u FROM " + table + " ORDER BY id"));
  SQLSMALLINT type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  KX_STMT_OK(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
  EXPECT_EQ(SQL_GUID, type);
  EXPECT_EQ(36u, size);
  SQLLEN octets = 0, display = 0;
  KX_STMT_OK(SQLColAttribute(stmt_, 1, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &octets));
  KX_STMT_OK(SQLColAttribute(stmt_, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display));
  EXPECT_EQ(16, octets);
  EXPECT_EQ(36, display);
  SQLGUID bound{};
  char narrow[40] = {0};
  SQLLEN ind[2] = {0, 0};
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_GUID, &bound, sizeof bound, &ind[0]));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, narrow, sizeof narrow, &ind[1]));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_TRUE(same(want, bound));
  EXPECT_EQ(16, ind[0]);
  EXPECT_STREQ(text, narrow);
  EXPECT_EQ(36, ind[1]);
  SQLGUID fromBytes{};
  SQLLEN got = 0;
  KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_GUID, &fromBytes, sizeof fromBytes, &got));
  EXPECT_TRUE(same(want, fromBytes));
  EXPECT_EQ(16, got);
  SQLWCHAR wide[40] = {0};
  KX_STMT_OK(SQLGetData(stmt_, 4, SQL_C_WCHAR, wide, sizeof wide, &got));
  EXPECT_EQ(72, got);
  EXPECT_EQ(U16(text), std::u16string(reinterpret_cast<const char16_t*>(wide)));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(SQL_NULL_DATA, ind[0]);
  EXPECT_EQ(SQL_NULL_DATA, ind[1]);
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt_));

  ResetStmt();
  std::string name = table;
  for (char& c : name) c = static_cast<char>(pg ? std::tolower(c) : std::toupper(c));
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS,
                        reinterpret_cast<SQLCHAR*>(const_cast<char*>(pg ? "u" : "U")), SQL_NTS));
  KX_STMT_OK(SQLFetch(stmt_));
  SQLSMALLINT dataType = 0;
  SQLINTEGER columnSize = 0, bufferLength = 0;
  KX_STMT_OK(SQLGetData(stmt_, 5, SQL_C_SSHORT, &dataType, 0, nullptr));
  KX_STMT_OK(SQLGetData(stmt_, 7, SQL_C_SLONG, &columnSize, 0, nullptr));
  KX_STMT_OK(SQLGetData(stmt_, 8, SQL_C_SLONG, &bufferLength, 0, nullptr));
  EXPECT_EQ(SQL_GUID, dataType);
  EXPECT_EQ(36, columnSize);
  EXPECT_EQ(16, bufferLength);
}

// Text and binary without a width, or wider than the driver keeps in a
// fixed element (60000), are described as long types everywhere, so that
// applications read them in pieces instead of binding a buffer of their
// whole size; bounded columns keep their types. A long value still arrives
// whole through SQLGetData in pieces.
TEST_P(Types, UnboundedTextAndBinaryAreLong) {
  const bool pg = GetParam().postgres, wide = GetParam().unicode;
  std::string table = Table("longs", pg ? "t TEXT, v VARCHAR, w VARCHAR(100000), s VARCHAR(10), b BYTEA, c CHAR(5)"
                                        : "t VARCHAR, v CLOB, w VARCHAR(100000), s VARCHAR(10), b VARBINARY, c CHAR(5)");
  const std::string big(70000, 'x');
  Exec("INSERT INTO " + table + " (t, s) VALUES ('" + big + "', 'short')");
  const SQLSMALLINT longText = wide ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR;
  const SQLSMALLINT want[] = {longText, longText, longText, static_cast<SQLSMALLINT>(wide ? SQL_WVARCHAR : SQL_VARCHAR),
                              SQL_LONGVARBINARY, static_cast<SQLSMALLINT>(wide ? SQL_WCHAR : SQL_CHAR)};
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT t, v, w, s, b, c FROM " + table));
  for (SQLUSMALLINT c = 1; c <= 6; ++c) {
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    KX_STMT_OK(SQLDescribeCol(stmt_, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
    EXPECT_EQ(want[c - 1], type) << c;
    SQLLEN concise = 0;
    KX_STMT_OK(SQLColAttribute(stmt_, c, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &concise));
    EXPECT_EQ(want[c - 1], concise) << c;
  }
  KX_STMT_OK(SQLFetch(stmt_));
  std::string whole;
  char piece[4096];
  SQLLEN got = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt_, 1, SQL_C_CHAR, piece, sizeof piece, &got)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    whole += piece;
  }
  EXPECT_EQ(big, whole);

  // The column list says the same, by the narrow codes it always uses.
  ResetStmt();
  std::string name = table;
  for (char& c : name) c = static_cast<char>(pg ? std::tolower(c) : std::toupper(c));
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS,
                        nullptr, 0));
  std::vector<int> types;
  while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
    SQLSMALLINT dataType = 0;
    KX_STMT_OK(SQLGetData(stmt_, 5, SQL_C_SSHORT, &dataType, 0, nullptr));
    types.push_back(dataType);
  }
  EXPECT_EQ((std::vector<int>{SQL_LONGVARCHAR, SQL_LONGVARCHAR, SQL_LONGVARCHAR, SQL_VARCHAR,
                              SQL_LONGVARBINARY, SQL_CHAR}),
            types);
}

INSTANTIATE_TEST_SUITE_P(Road, Types, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
