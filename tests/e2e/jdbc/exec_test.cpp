// Statements on the main road: direct and prepared execution, parameters of
// every C type, parameter arrays, data at execution, row counts, more results
// and procedure calls with output parameters.
#include <algorithm>
#include <cstring>

#include "road.h"

namespace kx::e2e {
namespace {

using Execution = RoadTest;

// One parameter of the all-types row: its C and SQL types, the column it
// goes into, and the bytes it holds; read back with SQLGetData as readType.
struct TypeCase {
  const char* name;
  SQLSMALLINT cType;
  SQLSMALLINT sqlType;
  SQLULEN size;
  SQLSMALLINT digits;
  const char* h2Column;
  const char* pgColumn;  // nullptr: as on H2
  std::vector<char> value;
  SQLLEN length;  // SQL_NTS, or the byte length of text and binary values
  SQLSMALLINT readType;
  std::vector<char> expected;  // what SQLGetData(readType) returns
};

template <class T>
std::vector<char> Bytes(const T& v) {
  std::vector<char> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}
std::vector<char> Text(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }
std::vector<char> Wide(const std::u16string& s) {
  std::vector<char> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

std::vector<TypeCase> AllTypes() {
  SQL_NUMERIC_STRUCT num{};
  num.precision = 12;
  num.scale = 2;
  num.sign = 1;
  uint64_t mantissa = 123456789;  // 1234567.89
  for (int i = 0; i < 8; ++i) num.val[i] = static_cast<SQLCHAR>(mantissa >> (8 * i));
  SQL_DATE_STRUCT date{2024, 2, 29};
  SQL_TIME_STRUCT time{13, 14, 15};
  SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 13, 14, 15, 123456000};
  const std::string text = "h\xC3\xA9llo w\xE2\x82\xAC" "ld \xF0\x9D\x84\x9E";  // é € 𝄞
  const std::vector<char> blob = {0, 1, 2, '\x7f', '\x80', '\xff', 0, 42};
  return {
      {"SSHORT", SQL_C_SSHORT, SQL_SMALLINT, 5, 0, "SMALLINT", nullptr, Bytes<SQLSMALLINT>(-12345), 0,
       SQL_C_SSHORT, Bytes<SQLSMALLINT>(-12345)},
      {"USHORT", SQL_C_USHORT, SQL_INTEGER, 10, 0, "INTEGER", nullptr, Bytes<SQLUSMALLINT>(65000), 0,
       SQL_C_USHORT, Bytes<SQLUSMALLINT>(65000)},
      {"SLONG", SQL_C_SLONG, SQL_INTEGER, 10, 0, "INTEGER", nullptr, Bytes<SQLINTEGER>(-2000000000), 0,
       SQL_C_SLONG, Bytes<SQLINTEGER>(-2000000000)},
      {"ULONG", SQL_C_ULONG, SQL_BIGINT, 19, 0, "BIGINT", nullptr, Bytes<SQLUINTEGER>(4000000000u), 0,
       SQL_C_ULONG, Bytes<SQLUINTEGER>(4000000000u)},
      {"SBIGINT", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, "BIGINT", nullptr,
       Bytes<SQLBIGINT>(-9000000000000000000LL), 0, SQL_C_SBIGINT, Bytes<SQLBIGINT>(-9000000000000000000LL)},
      {"UBIGINT", SQL_C_UBIGINT, SQL_BIGINT, 19, 0, "BIGINT", nullptr,
       Bytes<SQLUBIGINT>(9000000000000000001ULL), 0, SQL_C_UBIGINT, Bytes<SQLUBIGINT>(9000000000000000001ULL)},
      {"STINYINT", SQL_C_STINYINT, SQL_SMALLINT, 5, 0, "SMALLINT", nullptr, Bytes<SQLSCHAR>(-100), 0,
       SQL_C_STINYINT, Bytes<SQLSCHAR>(-100)},
      {"UTINYINT", SQL_C_UTINYINT, SQL_SMALLINT, 5, 0, "SMALLINT", nullptr, Bytes<SQLCHAR>(200), 0,
       SQL_C_UTINYINT, Bytes<SQLCHAR>(200)},
      {"BIT", SQL_C_BIT, SQL_BIT, 1, 0, "BOOLEAN", nullptr, Bytes<SQLCHAR>(1), 0, SQL_C_BIT, Bytes<SQLCHAR>(1)},
      {"FLOAT", SQL_C_FLOAT, SQL_REAL, 7, 0, "REAL", nullptr, Bytes<SQLREAL>(1.5f), 0, SQL_C_FLOAT,
       Bytes<SQLREAL>(1.5f)},
      {"DOUBLE", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, "DOUBLE PRECISION", nullptr, Bytes<SQLDOUBLE>(-12345.625), 0,
       SQL_C_DOUBLE, Bytes<SQLDOUBLE>(-12345.625)},
      {"NUMERIC", SQL_C_NUMERIC, SQL_NUMERIC, 12, 2, "NUMERIC(12,2)", nullptr, Bytes(num), 0, SQL_C_CHAR,
       Text("1234567.89")},
      {"DATE", SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, "DATE", nullptr, Bytes(date), 0, SQL_C_TYPE_DATE,
       Bytes(date)},
      {"TIME", SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, "TIME", nullptr, Bytes(time), 0, SQL_C_TYPE_TIME,
       Bytes(time)},
      {"TIMESTAMP", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, "TIMESTAMP", nullptr, Bytes(ts), 0,
       SQL_C_TYPE_TIMESTAMP, Bytes(ts)},
      {"CHAR", SQL_C_CHAR, SQL_VARCHAR, 40, 0, "VARCHAR(40)", nullptr, Text(text), SQL_NTS, SQL_C_CHAR,
       Text(text)},
      {"WCHAR", SQL_C_WCHAR, SQL_WVARCHAR, 40, 0, "VARCHAR(40)", nullptr, Wide(U16(text)),
       static_cast<SQLLEN>(U16(text).size() * 2), SQL_C_WCHAR, Wide(U16(text))},
      // The ODBC 2 codes of the same types.
      {"LONG", SQL_C_LONG, SQL_INTEGER, 10, 0, "INTEGER", nullptr, Bytes<SQLINTEGER>(123456789), 0, SQL_C_LONG,
       Bytes<SQLINTEGER>(123456789)},
      {"SHORT", SQL_C_SHORT, SQL_SMALLINT, 5, 0, "SMALLINT", nullptr, Bytes<SQLSMALLINT>(-2), 0, SQL_C_SHORT,
       Bytes<SQLSMALLINT>(-2)},
      {"TINYINT", SQL_C_TINYINT, SQL_SMALLINT, 5, 0, "SMALLINT", nullptr, Bytes<SQLSCHAR>(-7), 0, SQL_C_TINYINT,
       Bytes<SQLSCHAR>(-7)},
      {"DATE2", SQL_C_DATE, SQL_DATE, 10, 0, "DATE", nullptr, Bytes(date), 0, SQL_C_DATE, Bytes(date)},
      {"TIME2", SQL_C_TIME, SQL_TIME, 8, 0, "TIME", nullptr, Bytes(time), 0, SQL_C_TIME, Bytes(time)},
      {"TIMESTAMP2", SQL_C_TIMESTAMP, SQL_TIMESTAMP, 26, 6, "TIMESTAMP", nullptr, Bytes(ts), 0, SQL_C_TIMESTAMP,
       Bytes(ts)},
      {"BINARY", SQL_C_BINARY, SQL_VARBINARY, 16, 0, "VARBINARY(16)", "BYTEA", blob,
       static_cast<SQLLEN>(blob.size()), SQL_C_BINARY, blob},
  };
}

// Every C type goes in as a parameter of a prepared INSERT and comes back
// with SQLGetData unchanged.
TEST_P(Execution, ParametersOfEveryCType) {
  auto cases = AllTypes();
  std::string columns, marks;
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    columns += (i ? ", c" : "c") + std::to_string(i) + " " +
               (GetParam().postgres && c.pgColumn ? c.pgColumn : c.h2Column);
    marks += i ? ", ?" : "?";
  }
  std::string table = Table("types", columns);
  std::string ins = "INSERT INTO " + table + " VALUES (" + marks + ")";
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, ins));
  std::vector<SQLLEN> lengths(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    auto& c = cases[i];
    if (c.length == SQL_NTS) c.value.push_back('\0');  // SQL_NTS text ends in the buffer
    lengths[i] = c.length;
    SCOPED_TRACE(c.name);
    KX_STMT_OK(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, c.cType, c.sqlType,
                                c.size, c.digits, c.value.data(), static_cast<SQLLEN>(c.value.size()),
                                c.length == 0 ? nullptr : &lengths[i]));
  }
  KX_STMT_OK(SQLExecute(stmt_));
  SQLLEN count = -2;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 1);

  Exec("SELECT * FROM " + table);
  SQLSMALLINT ncols = 0;
  KX_STMT_OK(SQLNumResultCols(stmt_, &ncols));
  ASSERT_EQ(ncols, static_cast<SQLSMALLINT>(cases.size()));
  KX_STMT_OK(SQLFetch(stmt_));
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    std::vector<char> buf(c.expected.size() + 8, '\x55');
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(i + 1), c.readType, buf.data(),
                              static_cast<SQLLEN>(buf.size()), &ind);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(ind, static_cast<SQLLEN>(c.expected.size()));
    EXPECT_EQ(std::vector<char>(buf.begin(), buf.begin() + ind), c.expected);
  }
}

// Parameter arrays: three executions of a prepared INSERT with arrays of up
// to 1000 rows (NULLs included), every row reported, then all of them read
// back with bound columns across many fetch blocks.
TEST_P(Execution, ParameterArraysAndBlockFetch) {
  constexpr int kRows = 2500, kBatch = 1000;
  std::string table = Table("arrays", "id INTEGER, name VARCHAR(20), amount DOUBLE PRECISION");
  std::string ins = "INSERT INTO " + table + " VALUES (?, ?, ?)";
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, ins));
  std::vector<SQLINTEGER> ids(kBatch);
  std::vector<char> names(kBatch * 21);
  std::vector<SQLLEN> nameLen(kBatch);
  std::vector<SQLDOUBLE> amounts(kBatch);
  std::vector<SQLUSMALLINT> status(kBatch);
  SQLULEN processed = 0;
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids.data(), 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, names.data(), 21,
                              nameLen.data()));
  KX_STMT_OK(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, amounts.data(), 0,
                              nullptr));
  for (int first = 0; first < kRows; first += kBatch) {
    int n = std::min(kBatch, kRows - first);
    for (int i = 0; i < n; ++i) {
      int id = first + i;
      ids[i] = id;
      amounts[i] = id * 0.5;
      snprintf(&names[i * 21], 21, "name %d", id);
      nameLen[i] = id % 7 == 0 ? SQL_NULL_DATA : SQL_NTS;
    }
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)),
                              0));
    KX_STMT_OK(SQLExecute(stmt_));
    EXPECT_EQ(processed, static_cast<SQLULEN>(n));
    for (int i = 0; i < n; ++i) ASSERT_EQ(status[i], SQL_PARAM_SUCCESS) << "row " << i;
    SQLLEN count = 0;
    KX_STMT_OK(SQLRowCount(stmt_, &count));
    EXPECT_EQ(count, n);
  }
  ResetStmt();
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table + " WHERE name IS NULL"), std::to_string((kRows + 6) / 7));

  // One row per SQLFetch (the driver still fetches blocks from the agent);
  // rowsets of more rows go through the scrollable cursor layer.
  const SQLULEN kRowsets[] = {1};
  for (SQLULEN rowset : kRowsets) {
    SCOPED_TRACE("rowset " + std::to_string(rowset));
    ResetStmt();
    std::vector<SQLINTEGER> id(rowset);
    std::vector<char> name(rowset * 21);
    std::vector<SQLLEN> idInd(rowset), nameInd(rowset);
    std::vector<SQLDOUBLE> amount(rowset);
    SQLULEN fetched = 0;
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    std::string sel = "SELECT id, name, amount FROM " + table + " ORDER BY id";
    KX_STMT_OK(ExecDirect(stmt_, sel));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, id.data(), 0, idInd.data()));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name.data(), 21, nameInd.data()));
    KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_DOUBLE, amount.data(), 0, nullptr));
    int expect = 0;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      for (SQLULEN r = 0; r < fetched; ++r, ++expect) {
        ASSERT_EQ(id[r], expect);
        ASSERT_EQ(amount[r], expect * 0.5);
        if (expect % 7 == 0) {
          ASSERT_EQ(nameInd[r], SQL_NULL_DATA) << expect;
        } else {
          ASSERT_EQ(std::string(&name[r * 21]), "name " + std::to_string(expect));
        }
      }
    }
    EXPECT_EQ(expect, kRows);
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0));
  }
}

// A long text sent at execution time in pieces and read back in pieces.
TEST_P(Execution, DataAtExecutionAndLongTextInPieces) {
  std::string table = Table("long", "id INTEGER, body VARCHAR(100000)");
  std::string body;
  for (int i = 0; body.size() < 70000; ++i) body += "line " + std::to_string(i) + ";";
  std::string ins = "INSERT INTO " + table + " VALUES (?, ?)";
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, ins));
  SQLINTEGER id = 7;
  SQLLEN idLen = 0, bodyLen = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(body.size()));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id, 0, &idLen));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, body.size(), 0,
                              reinterpret_cast<SQLPOINTER>(2), 0, &bodyLen));
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(token, reinterpret_cast<SQLPOINTER>(2));
  for (size_t at = 0; at < body.size(); at += 8000) {
    size_t n = std::min<size_t>(8000, body.size() - at);
    KX_STMT_OK(SQLPutData(stmt_, body.data() + at, static_cast<SQLLEN>(n)));
  }
  KX_STMT_OK(SQLParamData(stmt_, &token));

  Exec("SELECT body FROM " + table + " WHERE id = 7");
  KX_STMT_OK(SQLFetch(stmt_));
  std::string back;
  char piece[1001];
  SQLLEN ind = 0;
  SQLRETURN rc;
  int pieces = 0;
  while ((rc = SQLGetData(stmt_, 1, SQL_C_CHAR, piece, sizeof piece, &ind)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_NE(ind, SQL_NULL_DATA);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01004");
      if (ind != SQL_NO_TOTAL) {
        EXPECT_EQ(static_cast<size_t>(ind), body.size() - back.size());
      }
      back.append(piece, sizeof piece - 1);
    } else {
      back.append(piece, static_cast<size_t>(ind));
    }
    ASSERT_LT(++pieces, 200);
  }
  EXPECT_EQ(back.size(), body.size());
  EXPECT_TRUE(back == body);
  EXPECT_GT(pieces, 60);
}

// Text outside ASCII, including characters beyond the BMP, goes in as
// SQL_C_CHAR (UTF-8), as SQL_C_WCHAR and as a literal, and comes back the
// same both ways.
TEST_P(Execution, NonAsciiTextRoundTrips) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
  const std::u16string wide = U16(text);
  std::string table = Table("text", "id INTEGER, t VARCHAR(60)");
  Exec("INSERT INTO " + table + " VALUES (1, '" + text + "')");
  std::string ins = "INSERT INTO " + table + " VALUES (?, ?)";
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, ins));
  SQLINTEGER id = 2;
  SQLLEN charLen = static_cast<SQLLEN>(text.size());
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id, 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 60, 0,
                              const_cast<char*>(text.data()), charLen, &charLen));
  KX_STMT_OK(SQLExecute(stmt_));
  id = 3;
  SQLLEN wideLen = static_cast<SQLLEN>(wide.size() * 2);
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 60, 0,
                              const_cast<char16_t*>(wide.data()), wideLen, &wideLen));
  KX_STMT_OK(SQLExecute(stmt_));

  Exec("SELECT id, t, t FROM " + table + " ORDER BY id");
  int rows = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    SCOPED_TRACE("row " + std::to_string(++rows));
    char narrow[200] = {0};
    char16_t w[100] = {0};
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, narrow, sizeof narrow, &ind));
    EXPECT_EQ(std::string(narrow), text);
    EXPECT_EQ(ind, static_cast<SQLLEN>(text.size()));
    KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_WCHAR, w, sizeof w, &ind));
    EXPECT_TRUE(std::u16string(w) == wide);
    EXPECT_EQ(ind, static_cast<SQLLEN>(wide.size() * 2));
  }
  EXPECT_EQ(rows, 3);
  // The text is found by a parameter too.
  ResetStmt();
  std::string sel = "SELECT COUNT(*) FROM " + table + " WHERE t = ?";
  KX_STMT_OK(Prepare(stmt_, sel));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 60, 0,
                              const_cast<char16_t*>(wide.data()), wideLen, &wideLen));
  KX_STMT_OK(SQLExecute(stmt_));
  KX_STMT_OK(SQLFetch(stmt_));
  SQLINTEGER n = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &n, 0, nullptr));
  EXPECT_EQ(n, 3);
}

// Row counts of updates and deletes, a query's columns, NULLs through
// SQLGetData, and SQLMoreResults at the end of a single result.
TEST_P(Execution, RowCountsNullsAndMoreResults) {
  std::string table = Table("counts", "id INTEGER, v VARCHAR(10)");
  Exec("INSERT INTO " + table + " VALUES (1, 'a'), (2, NULL), (3, 'c'), (4, NULL)");
  SQLLEN count = 0;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 4);
  Exec("UPDATE " + table + " SET v = 'x' WHERE id > 2");
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 2);
  Exec("DELETE FROM " + table + " WHERE id = 99");
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, 0);

  Exec("SELECT id, v FROM " + table + " ORDER BY id");
  std::vector<std::string> got;
  while (SQLFetch(stmt_) == SQL_SUCCESS) {
    char v[11];
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, v, sizeof v, &ind));
    got.push_back(ind == SQL_NULL_DATA ? "NULL" : v);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"a", "NULL", "x", "x"}));
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
}

// SQL_DESC_TYPE_NAME is the database's own name of each column's type, not
// the first type the database lists for the ODBC type (PostgreSQL lists
// "name" first among its VARCHAR types).
TEST_P(Execution, ColumnTypeNamesAreTheDatabases) {
  const bool pg = GetParam().postgres;
  std::string table = Table("tnames", "v VARCHAR(10), n NUMERIC(8,2), i INTEGER");
  Exec("SELECT v, n, i FROM " + table);
  const char* expected[3] = {pg ? "varchar" : "CHARACTER VARYING", pg ? "numeric" : "NUMERIC",
                             pg ? "int4" : "INTEGER"};
  for (SQLUSMALLINT c = 1; c <= 3; ++c) {
    char name[64] = {0};
    SQLSMALLINT length = 0;
    KX_STMT_OK(SQLColAttribute(stmt_, c, SQL_DESC_TYPE_NAME, name, sizeof name, &length, nullptr));
    EXPECT_STREQ(name, expected[c - 1]) << "column " << c;
  }
}

// A long text of one- to four-byte characters sent in pieces that cut
// characters apart, read back in pieces as SQL_C_CHAR and as SQL_C_WCHAR
// with buffers that cut them apart again (surrogate pairs included).
TEST_P(Execution, LongNonAsciiTextInPieces) {
  std::string body;
  for (int i = 0; body.size() < 30000; ++i) {
    body += "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E" + std::to_string(i);  // a é € 𝄞 and digits
  }
  const std::u16string wide = U16(body);
  std::string table = Table("longu", "id INTEGER, body VARCHAR(100000)");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (1, ?)"));
  SQLLEN bodyLen = SQL_DATA_AT_EXEC;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, body.size(), 0,
                              reinterpret_cast<SQLPOINTER>(1), 0, &bodyLen));
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
  for (size_t at = 0; at < body.size(); at += 997) {
    KX_STMT_OK(SQLPutData(stmt_, body.data() + at, static_cast<SQLLEN>(std::min<size_t>(997, body.size() - at))));
  }
  KX_STMT_OK(SQLParamData(stmt_, &token));

  for (SQLSMALLINT type : {SQL_C_CHAR, SQL_C_WCHAR}) {
    SCOPED_TRACE(type == SQL_C_CHAR ? "SQL_C_CHAR" : "SQL_C_WCHAR");
    Exec("SELECT body FROM " + table);
    KX_STMT_OK(SQLFetch(stmt_));
    const size_t unit = type == SQL_C_CHAR ? 1 : 2;
    std::string back;
    std::vector<char> piece(unit == 1 ? 1000 : 1002);  // 999 bytes or 500 units and a terminator
    SQLLEN ind = 0;
    SQLRETURN rc;
    int pieces = 0;
    while ((rc = SQLGetData(stmt_, 1, type, piece.data(), static_cast<SQLLEN>(piece.size()), &ind)) !=
           SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      ASSERT_NE(ind, SQL_NULL_DATA);
      size_t got = static_cast<size_t>(ind);
      // A cut copy may stop short of the buffer's end rather than split a
      // character: take what is there up to the terminator.
      if (rc == SQL_SUCCESS_WITH_INFO) {
        EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01004");
        got = 0;
        if (unit == 1) {
          got = strnlen(piece.data(), piece.size());
        } else {
          const char16_t* w = reinterpret_cast<const char16_t*>(piece.data());
          while (got * 2 < piece.size() && w[got] != 0) ++got;
          got *= 2;
        }
        ASSERT_GT(got, 0u);
      }
      back.append(piece.data(), got);
      ASSERT_LT(++pieces, 500);
    }
    if (unit == 1) {
      EXPECT_TRUE(back == body) << back.size() << " of " << body.size() << " bytes";
    } else {
      std::u16string w(back.size() / 2, u'\0');
      std::memcpy(w.data(), back.data(), w.size() * 2);
      EXPECT_TRUE(w == wide) << w.size() << " of " << wide.size() << " units";
    }
  }
}

// A batch of two queries gives the same results whatever cursor the
// application asked for (both on PostgreSQL; H2 runs only the first
// statement): a scrollable cursor the batch falls back from must not drop a
// later result, and where one cannot be given SQLMoreResults says so instead
// of answering SQL_NO_DATA.
TEST_P(Execution, BatchKeepsLaterResultsWithScrollableCursors) {
  struct Case {
    SQLULEN type;
    SQLULEN concurrency;
  };
  const Case cases[] = {
      {SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_READ_ONLY}, {SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY},
      {SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_READ_ONLY}, {SQL_CURSOR_DYNAMIC, SQL_CONCUR_READ_ONLY},
      {SQL_CURSOR_STATIC, SQL_CONCUR_LOCK},             {SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_VALUES},
  };
  std::vector<std::string> forwardOnly;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "cursor " << c.type << " concurrency " << c.concurrency);
    ResetStmt();
    Attr(stmt_, SQL_ATTR_CURSOR_TYPE, c.type);
    Attr(stmt_, SQL_ATTR_CONCURRENCY, c.concurrency);
    const SQLRETURN rc = ExecDirect(stmt_, "SELECT 1; SELECT 'two'");
    if (c.type != SQL_CURSOR_FORWARD_ONLY && rc == SQL_ERROR) {
      EXPECT_NE(State(SQL_HANDLE_STMT, stmt_), "") << "a refused batch needs a diagnostic";
      continue;
    }
    KX_STMT_OK(rc);
    std::vector<std::string> got;
    SQLRETURN more = SQL_SUCCESS;
    for (int i = 0; i < 4 && SQL_SUCCEEDED(more); ++i) {
      char v[10] = {0};
      KX_STMT_OK(SQLFetch(stmt_));
      KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, v, sizeof v, nullptr));
      got.push_back(v);
      EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
      more = SQLMoreResults(stmt_);
    }
    if (c.type == SQL_CURSOR_FORWARD_ONLY) {
      forwardOnly = got;
      if (GetParam().postgres) {
        EXPECT_EQ(got, (std::vector<std::string>{"1", "two"}));
      }
      EXPECT_EQ(more, SQL_NO_DATA);
    } else if (more == SQL_ERROR) {
      // Refused: the application is told, and only where it asked to change rows.
      EXPECT_NE(State(SQL_HANDLE_STMT, stmt_), "");
      EXPECT_NE(c.concurrency, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY)) << Diag(SQL_HANDLE_STMT, stmt_);
    } else {
      EXPECT_EQ(more, SQL_NO_DATA);
      EXPECT_EQ(got, forwardOnly) << "a later result was dropped";
    }
  }
}

// A query run often enough for the JDBC driver to keep it prepared on the
// database, then a change of its table's columns and the same query, all in
// one transaction: the query sees the new column and the transaction goes on
// (PostgreSQL refused the kept statement and aborted the transaction).
TEST_P(Execution, SameQueryAfterASchemaChangeInATransaction) {
  const std::string t = Table("shape", "a INTEGER");
  Exec("INSERT INTO " + t + " VALUES (1)");
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc_);
  const std::string query = "SELECT * FROM " + t;
  for (int i = 0; i < 8; ++i) {
    Exec(query);
    KX_STMT_OK(SQLFetch(stmt_));
  }
  Exec("ALTER TABLE " + t + " ADD COLUMN b INTEGER");
  SQLRETURN rc = ExecDirect(stmt_, query);
  const std::string diag = Diag(SQL_HANDLE_STMT, stmt_);
  SQLSMALLINT cols = 0;
  if (SQL_SUCCEEDED(rc)) SQLNumResultCols(stmt_, &cols);
  ResetStmt();
  Exec("INSERT INTO " + t + " VALUES (2, 3)");
  const SQLRETURN commit = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag;
  EXPECT_EQ(cols, 2);
  EXPECT_TRUE(SQL_SUCCEEDED(commit)) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), "2");
}

INSTANTIATE_TEST_SUITE_P(Road, Execution, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

// PostgreSQL: a procedure call with an input-output parameter, and a batch
// of two queries read with SQLMoreResults.
using PgOnly = RoadTest;

TEST_P(PgOnly, ProcedureOutputParameterAndMoreResults) {
  std::string proc = UniqueName("proc");
  Exec("CREATE PROCEDURE " + proc +
       " (IN a INTEGER, INOUT b INTEGER) LANGUAGE plpgsql AS $$ BEGIN b := a * 2 + b; END $$");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "{call " + proc + "(?, ?)}"));
  SQLINTEGER a = 20, b = 2;
  SQLLEN aLen = 0, bLen = 0;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &a, 0, &aLen));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &b, 0, &bLen));
  SQLRETURN rc = SQLExecute(stmt_);
  std::string diag = Diag(SQL_HANDLE_STMT, stmt_);
  Exec("DROP PROCEDURE " + proc);
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag;
  EXPECT_EQ(b, 42);
  EXPECT_EQ(bLen, static_cast<SQLLEN>(sizeof b));

  Exec("SELECT 1; SELECT 'two'");
  char v[10] = {0};
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, v, sizeof v, nullptr));
  EXPECT_STREQ(v, "1");
  KX_STMT_OK(SQLMoreResults(stmt_));
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, v, sizeof v, nullptr));
  EXPECT_STREQ(v, "two");
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
}

INSTANTIATE_TEST_SUITE_P(Road, PgOnly, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
