// Catalog functions, SQLGetInfo and cursor options through the driver
// manager with the real driver: the ODBC 3 layouts and rows for a fresh
// table, type information, the answers applications build on, and cursor
// requests settling on what the driver offers.
#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
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
  std::string InfoText(SQLUSMALLINT type) {
    char value[512] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, type, value, sizeof value, &length))
        << type << " " << Diag(SQL_HANDLE_DBC, dbc_);
    return value;
  }
  SQLUINTEGER InfoU32(SQLUSMALLINT type) {
    SQLUINTEGER value = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, type, &value, sizeof value, nullptr))
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
  // The driver offers forward-only, static and keyset-driven read-only
  // cursors and says so.
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN),
            InfoU32(SQL_SCROLL_OPTIONS));
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SCCO_READ_ONLY), InfoU32(SQL_SCROLL_CONCURRENCY));
  SQLHSTMT fresh = SQL_NULL_HSTMT;  // cursor options are set before a statement runs
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &fresh));
  SQLRETURN rc = SQLSetStmtAttr(fresh, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_DYNAMIC), 0);
  EXPECT_EQ(SQL_SUCCESS_WITH_INFO, rc) << Diag(SQL_HANDLE_STMT, fresh);
  EXPECT_EQ("01S02", State(SQL_HANDLE_STMT, fresh));
  SQLULEN type = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(fresh, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
  EXPECT_EQ(static_cast<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN), type);
  rc = SQLSetStmtAttr(fresh, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0);
  EXPECT_EQ(SQL_ERROR, rc);
  EXPECT_EQ("HYC00", State(SQL_HANDLE_STMT, fresh));
  SQLULEN concurrency = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(fresh, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr));
  EXPECT_EQ(static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY), concurrency);
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
