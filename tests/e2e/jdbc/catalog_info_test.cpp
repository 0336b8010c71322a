// Catalog functions, SQLGetInfo and cursor options through the driver
// manager with the real driver: the ODBC 3 layouts and rows for a fresh
// table, type information, the answers applications build on, and cursor
// requests settling on what the driver offers.
#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Row = std::vector<std::string>;

SQLCHAR* Text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

class CatalogInfo : public RoadTest {
 protected:
  // Identifiers as the database stores unquoted ones.
  std::string Id(std::string s) const {
    for (char& c : s) {
      c = static_cast<char>(GetParam().postgres ? std::tolower(c) : std::toupper(c));
    }
    return s;
  }
  // Column names of the open result, comma-separated.
  std::string Names() {
    SQLSMALLINT n = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt_, &n));
    std::string out;
    for (SQLUSMALLINT i = 1; i <= n; ++i) {
      SQLCHAR name[64] = {0};
      SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt_, i, name, sizeof name, &length, &type, &size, &digits, &nullable);
      out += (i > 1 ? "," : "") + std::string(reinterpret_cast<char*>(name));
    }
    return out;
  }
  // Every row of the open result as text ("~" for NULL); closes the cursor.
  std::vector<Row> Rows() {
    std::vector<Row> rows;
    SQLSMALLINT n = 0;
    SQLNumResultCols(stmt_, &n);
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      Row row;
      for (SQLUSMALLINT i = 1; i <= n; ++i) {
        char value[512] = {0};
        SQLLEN indicator = 0;
        SQLGetData(stmt_, i, SQL_C_CHAR, value, sizeof value, &indicator);
        row.push_back(indicator == SQL_NULL_DATA ? "~" : value);
      }
      rows.push_back(row);
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return rows;
  }
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  std::string InfoText(SQLUSMALLINT type) {
    char value[512] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, type, value, sizeof value, &length))
        << type << " " << Diag(SQL_HANDLE_DBC, dbc_);
    return value;
  }
  SQLUSMALLINT InfoU16(SQLUSMALLINT type) {
    SQLUSMALLINT value = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, type, &value, sizeof value, nullptr))
        << type << " " << Diag(SQL_HANDLE_DBC, dbc_);
    return value;
  }
};

TEST_P(CatalogInfo, TablesColumnsAndKeysOfAFreshTable) {
  const std::string table = Id(Table("cat", "id INTEGER PRIMARY KEY, name VARCHAR(20)"));
  ResetStmt();
  // H2 calls user tables BASE TABLE; the filter on TABLE finds them all the same.
  KX_STMT_OK(SQLTables(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, Text("TABLE"), SQL_NTS));
  EXPECT_EQ("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,TABLE_TYPE,REMARKS", Names());
  std::vector<Row> rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(table, rows[0][2]);
  EXPECT_EQ(Id("public"), rows[0][1]);

  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  const std::string names = Names();
  EXPECT_EQ(17, std::count(names.begin(), names.end(), ','));  // 18 columns
  EXPECT_EQ(0u, names.find("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,DATA_TYPE,TYPE_NAME"));
  rows = Rows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(Id("id"), rows[0][3]);
  EXPECT_EQ("4", rows[0][4]);
  EXPECT_EQ(Id("name"), rows[1][3]);
  EXPECT_EQ("12", rows[1][4]);
  EXPECT_EQ("20", rows[1][6]);
  EXPECT_EQ("2", rows[1][16]);

  KX_STMT_OK(SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS));
  EXPECT_EQ("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,KEY_SEQ,PK_NAME", Names());
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(Id("id"), rows[0][3]);
  EXPECT_EQ("1", rows[0][4]);

  KX_STMT_OK(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, SQL_INDEX_ALL,
                           SQL_QUICK));
  bool keyIndex = false;
  for (const Row& r : Rows()) keyIndex = keyIndex || (r[8] == Id("id") && r[3] == "0");
  EXPECT_TRUE(keyIndex);
}

// A name may hold a double quote. The pattern arguments (SQLTables,
// SQLColumns) take the name as it stands; the ordinary ones (SQLPrimaryKeys,
// SQLStatistics) also take its quoted form, with that quote written twice.
// The catalog answers with the names themselves. A counted name is read by
// its length.
TEST_P(CatalogInfo, QuotedNamesHoldingAQuoteFindTheirTable) {
  auto quoted = [](const std::string& name) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string(2, c) : std::string(1, c);
    return q + "\"";
  };
  const std::string table = UniqueName("q\"t");
  const std::string column = "c\"ol";
  Exec("CREATE TABLE " + quoted(table) + " (" + quoted(column) +
       " INTEGER PRIMARY KEY, other INTEGER)");
  tables_.push_back(quoted(table));
  ResetStmt();
  const std::string qTable = quoted(table);

  KX_STMT_OK(SQLTables(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  std::vector<Row> rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(table, rows[0][2]);

  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, Text(column),
                        SQL_NTS));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(table, rows[0][2]);
  EXPECT_EQ(column, rows[0][3]);

  const std::string counted = qTable + "tail";
  KX_STMT_OK(SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, Text(counted),
                            static_cast<SQLSMALLINT>(qTable.size())));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(table, rows[0][2]);
  EXPECT_EQ(column, rows[0][3]);

  KX_STMT_OK(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, Text(qTable), SQL_NTS, SQL_INDEX_ALL,
                           SQL_QUICK));
  // PostgreSQL's JDBC driver names an index column by the index definition's
  // text with only its outer quotes trimmed, so a quote inside stays doubled:
  // the driver passes on what the database's driver reports.
  const std::string indexColumn = GetParam().postgres ? "c\"\"ol" : column;
  bool keyIndex = false;
  std::string seen;
  for (const Row& r : Rows()) {
    keyIndex = keyIndex || (r[2] == table && r[8] == indexColumn && r[3] == "0");
    for (const std::string& v : r) seen += v + "|";
    seen += "\n";
  }
  EXPECT_TRUE(keyIndex) << seen;
}

TEST_P(CatalogInfo, TypeInformationAllAndOne) {
  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES));
  SQLSMALLINT n = 0;
  SQLNumResultCols(stmt_, &n);
  EXPECT_EQ(19, n);
  EXPECT_GT(Rows().size(), 5u);
  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_INTEGER));
  std::vector<Row> ints = Rows();
  ASSERT_FALSE(ints.empty());
  for (const Row& r : ints) EXPECT_EQ("4", r[1]);
}

// The type list: one row for each type under each ODBC code, sorted by the
// code and best match first, so that an application taking the first row of
// a code gets the general type (varchar, never PostgreSQL's 63-byte name),
// with ODBC's sizes and what a column definition takes. The Unicode build
// lists the character types under their wide codes too, as it describes
// character columns by them.
TEST_P(CatalogInfo, TypeListHasOneRowPerTypeBestMatchFirst) {
  const bool pg = GetParam().postgres, wide = GetParam().unicode;
  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES));
  const std::vector<Row> all = Rows();
  ASSERT_GT(all.size(), 15u);
  std::vector<std::pair<int, std::string>> seen;
  int previous = -1000;
  for (const Row& r : all) {
    const int type = std::stoi(r[1]);
    EXPECT_NE(0, type) << r[0];
    EXPECT_LE(previous, type) << r[0];
    previous = type;
    EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), std::make_pair(type, r[0]))) << r[0];
    seen.emplace_back(type, r[0]);
    EXPECT_NE("0", r[2]) << r[0];
  }
  auto first = [&](int type) {
    for (const Row& r : all) {
      if (std::stoi(r[1]) == type) return r;
    }
    return Row(19, "(none)");
  };
  auto has = [&](int type) { return first(type)[0] != "(none)"; };
  const int varchar = wide ? SQL_WVARCHAR : SQL_VARCHAR;
  const int longvarchar = wide ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR;
  EXPECT_EQ(pg ? "varchar" : "CHARACTER VARYING", first(varchar)[0]);
  EXPECT_EQ(pg ? "varchar" : "CHARACTER VARYING", first(SQL_VARCHAR)[0]);
  EXPECT_NE("~", first(varchar)[5]);  // CREATE_PARAMS: a length
  EXPECT_EQ(pg ? "text" : "CHARACTER LARGE OBJECT", first(longvarchar)[0]);
  EXPECT_EQ("2147483647", first(longvarchar)[2]);
  EXPECT_EQ(pg ? "bytea" : "BINARY LARGE OBJECT", first(SQL_LONGVARBINARY)[0]);
  EXPECT_EQ(pg ? "uuid" : "UUID", first(SQL_GUID)[0]);
  EXPECT_EQ("36", first(SQL_GUID)[2]);
  EXPECT_EQ(pg ? "numeric" : "NUMERIC", first(SQL_NUMERIC)[0]);
  EXPECT_EQ("precision,scale", Lower(first(SQL_NUMERIC)[5]));
  // Decimal digits, as ODBC counts the fixed-size numbers.
  EXPECT_EQ(pg ? "int4" : "INTEGER", first(SQL_INTEGER)[0]);  // not serial
  EXPECT_EQ("10", first(SQL_INTEGER)[2]);
  EXPECT_EQ("15", first(SQL_DOUBLE)[2]);
  EXPECT_EQ("~", first(SQL_DOUBLE)[14]);  // no MAXIMUM_SCALE
  EXPECT_EQ("10", first(SQL_DOUBLE)[17]);
  EXPECT_EQ(wide, has(SQL_WCHAR));
  EXPECT_EQ(wide, has(SQL_WVARCHAR));
  EXPECT_EQ(wide, has(SQL_WLONGVARCHAR));
  EXPECT_TRUE(has(SQL_LONGVARCHAR));
  EXPECT_TRUE(has(SQL_CHAR));
  // Dates by their ODBC 3 codes, after the character types; only the
  // interval types (H2's), whose codes are higher, come after them.
  EXPECT_TRUE(has(SQL_TYPE_TIMESTAMP));
  EXPECT_FALSE(has(SQL_TIMESTAMP));
  int lastBeforeIntervals = 0;
  for (const Row& r : all) {
    const int t = std::stoi(r[1]);
    if (t < SQL_INTERVAL_YEAR || t > SQL_INTERVAL_MINUTE_TO_SECOND) lastBeforeIntervals = t;
  }
  EXPECT_EQ(SQL_TYPE_TIMESTAMP, lastBeforeIntervals);
  EXPECT_EQ(!pg, has(SQL_INTERVAL_DAY_TO_SECOND));

  // One type asked for: its rows alone, in the same order.
  KX_STMT_OK(SQLGetTypeInfo(stmt_, static_cast<SQLSMALLINT>(varchar)));
  const std::vector<Row> text = Rows();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(first(varchar)[0], text[0][0]);
  for (const Row& r : text) EXPECT_EQ(std::to_string(varchar), r[1]);
}

// A column of each kind is described by a code under which the type list
// lists the column's own type, and a result column's type name (from the
// connection's type map for catalog results) is never PostgreSQL's name.
TEST_P(CatalogInfo, TypeListAgreesWithColumnDescriptions) {
  const bool pg = GetParam().postgres;
  const std::string table =
      Id(Table("agree", pg ? "v VARCHAR(20), t TEXT, u UUID, d DOUBLE PRECISION, i INTEGER, b BYTEA"
                           : "v VARCHAR(20), t CLOB, u UUID, d DOUBLE PRECISION, i INTEGER, b BLOB"));
  ResetStmt();
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  const std::vector<Row> columns = Rows();
  ASSERT_EQ(6u, columns.size());
  KX_STMT_OK(ExecDirect(stmt_, "SELECT v, t, u, d, i, b FROM " + table));
  std::vector<SQLSMALLINT> described;
  for (SQLUSMALLINT c = 1; c <= 6; ++c) {
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    KX_STMT_OK(SQLDescribeCol(stmt_, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
    SQLLEN concise = 0;
    KX_STMT_OK(SQLColAttribute(stmt_, c, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &concise));
    EXPECT_EQ(type, concise) << c;
    described.push_back(type);
  }
  ResetStmt();
  for (size_t k = 0; k < columns.size(); ++k) {
    SCOPED_TRACE(columns[k][3] + " " + columns[k][5]);
    KX_STMT_OK(SQLGetTypeInfo(stmt_, described[k]));
    bool listed = false;
    for (const Row& r : Rows()) listed = listed || r[0] == columns[k][5];
    EXPECT_TRUE(listed);
  }
  const int w = GetParam().unicode ? 1 : 0;
  EXPECT_EQ((std::vector<SQLSMALLINT>{static_cast<SQLSMALLINT>(w ? SQL_WVARCHAR : SQL_VARCHAR),
                                      static_cast<SQLSMALLINT>(w ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR),
                                      SQL_GUID, SQL_DOUBLE, SQL_INTEGER, SQL_LONGVARBINARY}),
            described);

  KX_STMT_OK(SQLTables(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  char name[64] = {0};
  KX_STMT_OK(SQLColAttribute(stmt_, 3, SQL_DESC_TYPE_NAME, name, sizeof name, nullptr, nullptr));
  EXPECT_STREQ(pg ? "varchar" : "CHARACTER VARYING", name);
  SQLFreeStmt(stmt_, SQL_CLOSE);
}

TEST_P(CatalogInfo, InformationApplicationsBuildOn) {
  EXPECT_EQ(GetParam().postgres ? "PostgreSQL" : "H2", InfoText(SQL_DBMS_NAME));
  EXPECT_EQ(GetParam().unicode ? "libkestrixu.so" : "libkestrix.so", InfoText(SQL_DRIVER_NAME));
  EXPECT_EQ("\"", InfoText(SQL_IDENTIFIER_QUOTE_CHAR));
  EXPECT_FALSE(InfoText(SQL_DBMS_VER).empty());
  // Clients compare driver versions in the form ##.##.####.
  EXPECT_TRUE(std::regex_match(InfoText(SQL_DRIVER_VER), std::regex(R"(\d\d\.\d\d\.\d{4})")))
      << InfoText(SQL_DRIVER_VER);
  EXPECT_EQ(GetParam().postgres ? SQL_IC_LOWER : SQL_IC_UPPER, InfoU16(SQL_IDENTIFIER_CASE));
  EXPECT_EQ(GetParam().postgres ? SQL_NC_HIGH : SQL_NC_LOW, InfoU16(SQL_NULL_COLLATION));
  EXPECT_NE(0u, InfoU32(SQL_NUMERIC_FUNCTIONS) & SQL_FN_NUM_ABS);
  EXPECT_NE(0u, InfoU32(SQL_TXN_ISOLATION_OPTION) & SQL_TXN_READ_COMMITTED);
}

TEST_P(CatalogInfo, CursorRequestsSettleOnWhatTheDriverOffers) {
  // The driver offers forward-only, static, keyset-driven, mixed and dynamic
  // cursors, read only or with lock, row-version or values concurrency, and
  // says so.
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED |
                                     SQL_SO_DYNAMIC),
            InfoU32(SQL_SCROLL_OPTIONS));
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK | SQL_SCCO_OPT_ROWVER | SQL_SCCO_OPT_VALUES),
            InfoU32(SQL_SCROLL_CONCURRENCY));
  SQLHSTMT fresh = SQL_NULL_HSTMT;  // cursor options are set before a statement runs
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &fresh));
  SQLRETURN rc = SQLSetStmtAttr(fresh, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_DYNAMIC), 0);
  EXPECT_EQ(SQL_SUCCESS, rc) << Diag(SQL_HANDLE_STMT, fresh);
  SQLULEN type = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(fresh, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
  EXPECT_EQ(static_cast<SQLULEN>(SQL_CURSOR_DYNAMIC), type);
  // Row versions are offered: the request is kept.
  rc = SQLSetStmtAttr(fresh, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_ROWVER), 0);
  EXPECT_EQ(SQL_SUCCESS, rc) << Diag(SQL_HANDLE_STMT, fresh);
  SQLULEN concurrency = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(fresh, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr));
  EXPECT_EQ(static_cast<SQLULEN>(SQL_CONCUR_ROWVER), concurrency);
  EXPECT_EQ(SQL_SUCCESS,
            SQLSetStmtAttr(fresh, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0));
  // A query the driver's own SQL reader does not take apart still runs as a
  // static cursor: the database describes its columns.
  EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(fresh, "SELECT x FROM (VALUES (1), (2), (3)) AS t(x) ORDER BY x")))
      << Diag(SQL_HANDLE_STMT, fresh);
  SQLINTEGER x = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(fresh, 1, SQL_C_SLONG, &x, 0, nullptr));
  EXPECT_EQ(SQL_SUCCESS, SQLFetchScroll(fresh, SQL_FETCH_LAST, 0)) << Diag(SQL_HANDLE_STMT, fresh);
  EXPECT_EQ(3, x);
  EXPECT_EQ(SQL_SUCCESS, SQLFetchScroll(fresh, SQL_FETCH_FIRST, 0));
  EXPECT_EQ(1, x);
  SQLFreeHandle(SQL_HANDLE_STMT, fresh);
}

// The sensitivity a statement reads back is what its cursor does: a keyset
// cursor on a keyed table shows another connection's change and says it is
// sensitive, a read-only static one is insensitive, and a statement that
// asked for nothing leaves it unspecified. SQLGetInfo says sensitive cursors
// are offered.
TEST_P(CatalogInfo, CursorSensitivityIsWhatTheCursorDoes) {
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SENSITIVE), InfoU32(SQL_CURSOR_SENSITIVITY));
  const std::string table = Table("sens", "id INTEGER NOT NULL PRIMARY KEY, v INTEGER");
  Exec("INSERT INTO " + table + " VALUES (1, 10), (2, 20)");
  ResetStmt();
  auto sensitivity = [](SQLHSTMT st) {
    SQLULEN value = 99;
    EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(st, SQL_ATTR_CURSOR_SENSITIVITY, &value, 0, nullptr));
    return value;
  };
  EXPECT_EQ(static_cast<SQLULEN>(SQL_UNSPECIFIED), sensitivity(stmt_));

  Attr(stmt_, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, v FROM " + table + " ORDER BY id"));
  SQLULEN type = 99;
  KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
  ASSERT_EQ(static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN), type);
  EXPECT_EQ(static_cast<SQLULEN>(SQL_SENSITIVE), sensitivity(stmt_));
  ExecOther("UPDATE " + table + " SET v = 21 WHERE id = 2");
  SQLINTEGER v = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_SLONG, &v, 0, nullptr));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 2));
  EXPECT_EQ(21, v);
  ResetStmt();

  SQLHSTMT fresh = SQL_NULL_HSTMT;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &fresh));
  EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(fresh, SQL_ATTR_CURSOR_SENSITIVITY,
                                        reinterpret_cast<SQLPOINTER>(SQL_INSENSITIVE), 0))
      << Diag(SQL_HANDLE_STMT, fresh);
  KX_OK(SQLGetStmtAttr(fresh, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr), SQL_HANDLE_STMT, fresh);
  EXPECT_EQ(static_cast<SQLULEN>(SQL_CURSOR_STATIC), type);
  EXPECT_EQ(static_cast<SQLULEN>(SQL_INSENSITIVE), sensitivity(fresh));
  SQLFreeHandle(SQL_HANDLE_STMT, fresh);
}

// REAL and DOUBLE columns count their precision in decimal digits wherever
// they are described: the result column, the descriptor and SQLColumns agree
// on the size and on radix 10.
TEST_P(CatalogInfo, ApproximateNumbersCountDecimalDigitsEverywhere) {
  const std::string table = Id(Table("approx", "r REAL, d DOUBLE PRECISION"));
  ResetStmt();
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  const std::vector<Row> columns = Rows();
  ASSERT_EQ(2u, columns.size());
  KX_STMT_OK(ExecDirect(stmt_, "SELECT r, d FROM " + table));
  for (SQLUSMALLINT c = 1; c <= 2; ++c) {
    SCOPED_TRACE(columns[c - 1][3]);
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    KX_STMT_OK(SQLDescribeCol(stmt_, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
    SQLLEN radix = 0, precision = 0;
    KX_STMT_OK(SQLColAttribute(stmt_, c, SQL_DESC_NUM_PREC_RADIX, nullptr, 0, nullptr, &radix));
    KX_STMT_OK(SQLColAttribute(stmt_, c, SQL_DESC_PRECISION, nullptr, 0, nullptr, &precision));
    EXPECT_EQ(10, radix);
    EXPECT_EQ(static_cast<SQLLEN>(size), precision);
    EXPECT_EQ("10", columns[c - 1][9]);                     // NUM_PREC_RADIX
    EXPECT_EQ(std::to_string(size), columns[c - 1][6]);     // COLUMN_SIZE
  }
  SQLFreeStmt(stmt_, SQL_CLOSE);
}

// What SQLGetFunctions and SQLGetInfo promise about rowsets and positioned
// operations works, and what does not work is not promised: whatever the
// cursor layer carries out at the time.
TEST_P(CatalogInfo, PromisedPositioningWorks) {
  auto exists = [&](SQLUSMALLINT f) {
    SQLUSMALLINT e = 0xEEEE;
    EXPECT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc_, f, &e));
    return e == SQL_TRUE;
  };
  const bool setPos = exists(SQL_API_SQLSETPOS);
  const bool bulk = exists(SQL_API_SQLBULKOPERATIONS);
  const bool extended = exists(SQL_API_SQLEXTENDEDFETCH);
  EXPECT_EQ(setPos, InfoU32(SQL_POS_OPERATIONS) != 0);
  EXPECT_EQ(setPos, InfoU32(SQL_LOCK_TYPES) != 0);
  if ((InfoU32(SQL_GETDATA_EXTENSIONS) & SQL_GD_BLOCK) != 0) {
    EXPECT_TRUE(setPos && extended);
  }
  if (!extended) {
    EXPECT_EQ(0u, InfoU32(SQL_BOOKMARK_PERSISTENCE));
  }

  // Each function answers IM001 exactly when it is not promised.
  KX_STMT_OK(ExecDirect(stmt_, "SELECT x FROM (VALUES (1), (2)) AS t(x)"));
  SQLULEN rows = 0;
  SQLUSMALLINT status[1] = {0};
  SQLRETURN rc = SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status);
  EXPECT_EQ(extended, State(SQL_HANDLE_STMT, stmt_) != "IM001") << rc << Diag(SQL_HANDLE_STMT, stmt_);
  if (!extended) {
    KX_STMT_OK(SQLFetch(stmt_));  // positioning needs a fetched row
  }
  rc = SQLSetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE);
  EXPECT_EQ(setPos, State(SQL_HANDLE_STMT, stmt_) != "IM001") << rc << Diag(SQL_HANDLE_STMT, stmt_);
  // After SQLExtendedFetch the driver manager refuses SQLBulkOperations
  // (HY010): a cursor of its own, fetched with SQLFetchScroll.
  KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT x FROM (VALUES (1), (2)) AS t(x)"));
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0));
  rc = SQLBulkOperations(stmt_, SQL_ADD);
  EXPECT_EQ(bulk, State(SQL_HANDLE_STMT, stmt_) != "IM001") << rc << Diag(SQL_HANDLE_STMT, stmt_);
}

INSTANTIATE_TEST_SUITE_P(Road, CatalogInfo, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
