// Wrappers of java.sql.Connection and java.sql.Statement (and the vendor's
// IfmxStatement.getSerial). Each returns 0 or a row of the agent's error
// table; a Java exception becomes one message on the context record's list.
// Booleans go in as an int whose low byte is sent, and come back as one byte.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "drv_jdbc/j_records.h"

namespace kx {

int JC_Connection_getMetaData(JConn* c, jobject conn, jobject* out);
int JC_Connection_getAutoCommit(JConn* c, jobject conn, uint8_t* out);
int JC_Connection_getTransactionIsolation(JConn* c, jobject conn, int32_t* out);
int JC_Connection_getCatalog(JConn* c, jobject conn, char* buffer, size_t capacity);
int JC_Connection_getSchema(JConn* c, jobject conn, char* buffer, size_t capacity);
int JC_Connection_createStatement(JConn* c, jobject conn, jobject* out);
int JC_Connection_createStatementForStmt(JStmt* s, jobject conn);
int JC_Connection_prepareStatement(JStmt* s, jobject conn, const char* sql);
// A data change that returns rows, prepared so that each execution gives
// its update count first and the rows as its generated keys (the JDBC
// driver then reads them whole at execution).
int JC_Connection_prepareStatementCounted(JStmt* s, jobject conn, const char* sql);
int JC_Connection_prepareCall(JStmt* s, jobject conn, const char* sql);
int JC_Connection_close(JConn* c, jobject conn);
int JC_Connection_commit(JConn* c, jobject conn);
int JC_Connection_rollback(JConn* c, jobject conn);
int JC_Connection_setAutoCommit(JConn* c, jobject conn, int on);
// The transaction calls a statement makes on its own connection (a batch of
// parameter rows): they run on the statement's thread and post their
// failures on the statement's list. A savepoint comes back as a local
// reference.
int JC_Connection_getAutoCommitForStmt(JStmt* s, jobject conn, uint8_t* out);
int JC_Connection_setAutoCommitForStmt(JStmt* s, jobject conn, int on);
int JC_Connection_commitForStmt(JStmt* s, jobject conn);
int JC_Connection_rollbackForStmt(JStmt* s, jobject conn);
int JC_Connection_setSavepointForStmt(JStmt* s, jobject conn, jobject* out);
int JC_Connection_rollbackToSavepointForStmt(JStmt* s, jobject conn, jobject savepoint);
int JC_Connection_releaseSavepointForStmt(JStmt* s, jobject conn, jobject savepoint);
int JC_Connection_setReadOnly(JConn* c, jobject conn, int on);
int JC_Connection_setCatalog(JConn* c, jobject conn, const char* catalog);
int JC_Connection_setTransactionIsolation(JConn* c, jobject conn, int32_t level);
// *out: heap text the caller frees (empty for a Java null); NULL on failure.
int JC_Connection_nativeSQL(JConn* c, jobject conn, const char* sql, char** out);
// Whether the connection is lost: remembered from an earlier failure, else
// asked of the JDBC driver (isClosed, then isValid with a limit of
// JDB_ALIVE_CHECK_SECONDS). A driver that cannot tell counts as alive. Posts
// nothing; a loss found here is remembered.
constexpr int JDB_ALIVE_CHECK_SECONDS = 2;
bool JC_Connection_isLost(JConn* c);

int JC_Statement_execute(JStmt* s, jobject stmt, const char* sql, uint8_t* hasResultSet);
int JC_Statement_executeConn(JConn* c, jobject stmt, const char* sql);
int JC_Statement_closeConn(JConn* c, jobject stmt);
int JC_Statement_close(JStmt* s, jobject stmt);
int JC_Statement_getMoreResults(JStmt* s, jobject stmt, uint8_t* out);
int JC_Statement_getUpdateCount(JStmt* s, jobject stmt, int32_t* out);
int JC_Statement_getGeneratedKeys(JStmt* s, jobject stmt, jobject* out);
int JC_Statement_setCursorName(JStmt* s, jobject stmt, const char* name);
int JC_Statement_getQueryTimeout(JStmt* s, jobject stmt, int32_t* out);
int JC_Statement_setQueryTimeout(JStmt* s, jobject stmt, int32_t seconds);
// A hint: a driver that refuses it is left as it is (always 0).
int JC_Statement_setFetchSize(JStmt* s, jobject stmt, int32_t rows);
// Calls getSerial only on a statement implementing com.informix.jdbc.IfmxStatement;
// any other statement answers 0 with *out 0.
int JC_Statement_getSerial(JStmt* s, jobject stmt, int32_t* out);

}  // namespace kx
