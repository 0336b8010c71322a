// The main road through unixODBC with the real driver libraries (JDBC agent,
// stand-in data sources): which build and which database a test runs on, the
// connect strings, and a small fixture with a connection and a statement.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kx::e2e {

struct Road {
  const char* name;    // test-name suffix
  const char* dsn;     // data source of the build (odbc_config.cmake)
  const char* driver;  // its odbcinst.ini section
  bool unicode;        // libkestrixu.so
  bool postgres;       // else H2 embedded in memory
};
void PrintTo(const Road& r, std::ostream* os);

extern const Road kRoads[4];

// A rowset of id (column 1), name (column 2) and, where bound, qty
// (column 3) with its status and row-operation arrays, as the cursor tests
// bind it.
template <SQLULEN N>
struct IdNameRows {
  SQLINTEGER id[N];
  SQLLEN idInd[N];
  char name[N][41];
  SQLLEN nameInd[N];
  SQLINTEGER qty[N];
  SQLLEN qtyInd[N];
  SQLUSMALLINT status[N];
  SQLUSMALLINT ops[N];
  SQLULEN fetched = 0;

  void Bind(SQLHSTMT st, bool withQty = true) {
    ASSERT_EQ(SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(st, 1, SQL_C_SLONG, id, 0, idInd), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name[0], nameInd), SQL_SUCCESS);
    if (withQty) {
      ASSERT_EQ(SQLBindCol(st, 3, SQL_C_SLONG, qty, 0, qtyInd), SQL_SUCCESS);
    }
  }
  // Writes the name of row r for a change.
  void Name(int r, const std::string& v) {
    std::snprintf(name[r], sizeof name[r], "%s", v.c_str());
    nameInd[r] = SQL_NTS;
  }
};

// The JDBC URL and login of the PostgreSQL server the test script started
// (KX_PG_PORT, KX_PG_USER, KX_PG_PASSWORD); the test fails, never skips,
// when the environment does not name one.
std::string PgUrl();
std::string PgUser();
std::string PgPassword();

// The connect string of a road, with extra keywords appended.
std::string ConnectString(const Road& road, const std::string& extra = "");

// First diagnostic record of a handle: "STATE message", "" when none.
std::string Diag(SQLSMALLINT type, SQLHANDLE handle);
std::string State(SQLSMALLINT type, SQLHANDLE handle);

// A name no other test (or test run) uses.
std::string UniqueName(const char* stem);

std::u16string U16(const std::string& utf8);

class RoadTest : public ::testing::TestWithParam<Road> {
 protected:
  void SetUp() override;
  void TearDown() override;

  SQLRETURN Connect(SQLHDBC dbc, const std::string& extra = "");
  // SQLExecDirect and SQLPrepare; on the Unicode build in their wide form,
  // as a Unicode application calls them (the driver manager's own narrow to
  // wide conversion follows the process locale, not UTF-8).
  SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string& sql);
  SQLRETURN Prepare(SQLHSTMT stmt, const std::string& sql);
  // Runs sql on the fixture's statement; a failure fails the test.
  void Exec(const std::string& sql);
  // Creates a table with a unique name (dropped at the end) and returns it.
  std::string Table(const char* stem, const std::string& columns);
  // The first column of the first row of a query, as text ("NULL" for NULL).
  std::string Scalar(const std::string& sql, SQLHDBC dbc = SQL_NULL_HDBC);
  void ResetStmt();
  // SQLSetStmtAttr of an integer attribute; a failure fails the test.
  void Attr(SQLHSTMT st, SQLINTEGER attr, SQLULEN value);
  // A second connection, as another user; close it with Drop.
  SQLHDBC Other(const std::string& extra = "");
  static void Drop(SQLHDBC dbc);
  // A connection in an environment of its own that declares ODBC 2, as an
  // ODBC 2 application makes it; close both with DropWithEnv.
  SQLHDBC Odbc2Connection(SQLHENV* env);
  static void DropWithEnv(SQLHENV env, SQLHDBC dbc);
  // Runs sql on a connection of its own, as another user would.
  void ExecOther(const std::string& sql);
  // Runs sql on a statement of its own on dbc; *diag gets its diagnostics.
  SQLRETURN ExecOn(SQLHDBC dbc, const std::string& sql, std::string* diag = nullptr);
  // Whether one of the statement's diagnostic records has the SQLSTATE.
  static bool HasState(SQLHSTMT st, const char* state);
  // SQLGetInfo of a 32-bit answer on the fixture's connection; anything but
  // SQL_SUCCESS fails the test.
  SQLUINTEGER InfoU32(SQLUSMALLINT type);

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<std::string> tables_;
};

#define KX_OK(rc, type, handle) \
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(type, handle)
#define KX_STMT_OK(rc) KX_OK(rc, SQL_HANDLE_STMT, stmt_)

}  // namespace kx::e2e
