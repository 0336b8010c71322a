// Arguments an application may pass when it calls the driver directly (no
// driver manager in between to catch them): each is refused with its ODBC
// state, never accepted with success. And the diagnostic functions while
// a call uses the connection.
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

// A call of the connection is under way further up this thread's stack (its
// marker set, as when a handler calls back into the driver): a call on
// another statement is refused with HY010, and its record can be read at
// once; the diagnostic functions are never refused themselves.
TEST_F(BadArgumentsTest, DiagnosticsAnswerWhileTheConnectionIsBusy) {
  SQLHSTMT other = NewStmt();
  ConnRecord* conn = ConnRec(dbc_);
  HandleHead* busyHead = Rec(other);
  conn->busy.store(busyHead);
  SQLCHAR sql[] = "SELECT 1";
  EXPECT_EQ(SQLExecDirect(stmt_, sql, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  SQLINTEGER count = 0;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_NUMBER, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  // The connection: what it holds (nothing); the reads left the mark alone.
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  EXPECT_EQ(conn->busy.load(), busyHead);
  // The busy statement itself answers at once, never with HY010 or "still
  // executing".
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, other, 1, state, &native, nullptr, 0, &length), SQL_NO_DATA);
  conn->busy.store(nullptr);
  EXPECT_EQ(SQLExecDirect(stmt_, sql, SQL_NTS), SQL_SUCCESS);
}

}  // namespace
}  // namespace kx::testing
