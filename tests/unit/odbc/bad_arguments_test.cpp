// Arguments an application may pass when it calls the driver directly (no
// driver manager in between to catch them): each is refused with its ODBC
// state, never accepted with success. And the diagnostic functions while
// a call uses the connection.
#include <thread>

#include "odbc/conn.h"
#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

class BadArgumentsTest : public StmtTest {};

TEST_F(BadArgumentsTest, UnknownDriverCompletionIsRefused) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
  SQLCHAR in[] = "JDBC=org.h2.Driver;URL=jdbc:h2:mem:t;UID=u;PWD=p";
  EXPECT_EQ(SQLDriverConnect(dbc, nullptr, in, SQL_NTS, nullptr, 0, nullptr, 77), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "HY110");
  // Not connected by the refused call: a good one still works.
  EXPECT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, in, SQL_NTS, nullptr, 0, nullptr,
                                             SQL_DRIVER_NOPROMPT)));
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

TEST_F(BadArgumentsTest, EndTranOnAStatementOrDescriptorIsRefused) {
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, stmt_, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY092");
  SQLHDESC desc = NewDesc();
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DESC, desc, SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DESC, desc), "HY092");
  // A handle type that names nothing, or a handle of another kind.
  EXPECT_EQ(SQLEndTran(99, dbc_, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, dbc_, SQL_COMMIT), SQL_INVALID_HANDLE);
}

TEST_F(BadArgumentsTest, UnknownDiagnosticFieldIsAnError) {
  constexpr SQLSMALLINT kNoSuchField = 12345;
  SQLINTEGER value = 0;
  SQLSMALLINT length = 0;
  // No record at all, a header field and a record field.
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 1, kNoSuchField, &value, sizeof value, &length),
            SQL_ERROR);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, kNoSuchField, &value, sizeof value, &length),
            SQL_ERROR);
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_STMT, stmt_, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 1, kNoSuchField, &value, sizeof value, &length),
            SQL_ERROR);
  // The known fields of the record still answer.
  SQLCHAR state[6] = {};
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_SQLSTATE, state, sizeof state, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY092");
}

TEST_F(BadArgumentsTest, BindColWithAnUnknownCTypeIsRefused) {
  SQLINTEGER v = 0;
  SQLLEN ind = 0;
  for (SQLSMALLINT cType : {static_cast<SQLSMALLINT>(9999), static_cast<SQLSMALLINT>(SQL_ARD_TYPE),
                            static_cast<SQLSMALLINT>(-1025)}) {
    SCOPED_TRACE(cType);
    EXPECT_EQ(SQLBindCol(stmt_, 1, cType, &v, sizeof v, &ind), SQL_ERROR);
    EXPECT_EQ(StmtState(stmt_), "HY003");
  }
  EXPECT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &v, sizeof v, &ind), SQL_SUCCESS);
  EXPECT_EQ(SQLBindCol(stmt_, 1, SQL_C_INTERVAL_DAY, &v, sizeof v, &ind), SQL_SUCCESS);
}

// Another thread's call holds the connection: the diagnostic functions
// answer at once, never refused or "still executing" themselves: another
// statement's record, what the connection holds (nothing), and nothing yet
// for the statement whose call runs.
TEST_F(BadArgumentsTest, DiagnosticsAnswerWhileTheConnectionIsBusy) {
  SQLHSTMT other = NewStmt();
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_STMT, stmt_, SQL_COMMIT), SQL_ERROR);
  TestAgent_HoldNext("DDColumns");
  std::thread runner([other] { SQLColumns(other, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  SQLINTEGER count = 0;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_NUMBER, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(StmtState(stmt_), "HY092");
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, other, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  TestAgent_Release();
  runner.join();
}

}  // namespace
}  // namespace kx::testing
