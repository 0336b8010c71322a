// The SQLSTATEs applications see for the driver's own errors, in both ODBC
// versions: ODBC 3 states where ODBC 3 has them, the ODBC 2 forms for an
// ODBC 2 application.
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

using States = RoadTest;

// A negative value read into an unsigned integer is out of its range: 22003,
// in ODBC 3 as in ODBC 2 (never "data sent in pieces", HY019).
TEST_P(States, NumericRangeAndCursorStateKeepTheirStates) {
  for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
    ASSERT_EQ(SQL_SUCCESS,
              SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{version}), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc));
    KX_OK(Connect(dbc), SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));

    KX_OK(ExecDirect(stmt, "SELECT -5 AS v FROM (VALUES (1)) AS t(x)"), SQL_HANDLE_STMT, stmt);
    KX_OK(SQLFetch(stmt), SQL_HANDLE_STMT, stmt);
    SQLUINTEGER u = 0;
    SQLLEN ind = 0;
    EXPECT_EQ(SQL_ERROR, SQLGetData(stmt, 1, SQL_C_ULONG, &u, sizeof u, &ind));
    EXPECT_EQ("22003", State(SQL_HANDLE_STMT, stmt)) << version << " " << Diag(SQL_HANDLE_STMT, stmt);
    EXPECT_NE(std::string::npos, Diag(SQL_HANDLE_STMT, stmt).find("Numeric value out of range"));

    // The catalog cannot change while a statement holds results: 24000, in
    // both versions (never 07005, the state of a statement that is no query).
    std::string catalog = "kx_none";
    EXPECT_EQ(SQL_ERROR, SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, catalog.data(), SQL_NTS));
    EXPECT_EQ("24000", State(SQL_HANDLE_DBC, dbc)) << version << " " << Diag(SQL_HANDLE_DBC, dbc);

    // The driver's own general error still takes the ODBC 3 form: the S1
    // states map as before.
    SQLSMALLINT bad = 0;
    EXPECT_EQ(SQL_ERROR, SQLGetData(stmt, 1, 9999, &bad, sizeof bad, &ind));
    EXPECT_EQ(version == SQL_OV_ODBC3 ? "HY003" : "S1003", State(SQL_HANDLE_STMT, stmt))
        << Diag(SQL_HANDLE_STMT, stmt);

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
}

INSTANTIATE_TEST_SUITE_P(Road, States, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
