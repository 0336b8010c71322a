// PostgreSQL: a function's return value into the first marker of
// "{? = call f(?)}". The JDBC driver turns the call into a SELECT over the
// function and needs the return marker registered as an output before it
// describes or runs it; otherwise the marker reaches the server as a second
// argument (42883, "function f(unknown, unknown) does not exist").
#include "road.h"

namespace kx::e2e {
namespace {

using PgCalls = RoadTest;

TEST_P(PgCalls, FunctionReturnValue) {
  std::string fn = UniqueName("fn");
  Exec("CREATE FUNCTION " + fn + " (x INTEGER) RETURNS VARCHAR LANGUAGE sql AS $$ SELECT 'got ' || x $$");
  const std::string call = "{? = call " + fn + "(?)}";
  struct Case {
    const char* name;
    bool direct;       // SQLExecDirect instead of SQLPrepare + SQLExecute
    bool transaction;  // manual commit: nothing may abort the open transaction
  };
  const Case kCases[] = {{"prepared", false, false}, {"direct", true, false}, {"in a transaction", false, true}};
  SQLINTEGER a = 20;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.transaction) {
      KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_HANDLE_DBC, dbc_);
    }
    ResetStmt();
    char ret[20] = {0};
    SQLLEN retLen = 0, aLen = 0;
    if (!c.direct) {
      KX_STMT_OK(Prepare(stmt_, call));
    }
    KX_STMT_OK(
        SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 19, 0, ret, sizeof ret, &retLen));
    KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &a, 0, &aLen));
    SQLRETURN rc = c.direct ? ExecDirect(stmt_, call) : SQLExecute(stmt_);
    std::string diag = Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diag;
    EXPECT_STREQ(ret, "got 20");
    EXPECT_EQ(retLen, 6);
    if (c.transaction) {
      // The transaction is still usable after the call.
      EXPECT_EQ(Scalar("SELECT 1"), "1");
      KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_);
      KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
            SQL_HANDLE_DBC, dbc_);
    }
  }
  ResetStmt();
  Exec("DROP FUNCTION " + fn);
}

INSTANTIATE_TEST_SUITE_P(Road, PgCalls, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
