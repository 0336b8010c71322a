// Runs a new connection's initial SQL file over its JDBC connection: the Java
// side of JDB_RunInitialSqlWith (drv_jdbc/text/j_initsql.h).
#include <jni.h>

#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_records.h"
#include "drv_jdbc/text/j_initsql.h"

namespace kx {

namespace {

struct InitialSqlJava {
  JConn* conn;
  jobject connection;  // local java.sql.Connection
  jobject stmt;        // local java.sql.Statement while the file runs
};

int OpenStatement(void* context) {
  auto* j = static_cast<InitialSqlJava*>(context);
  int status = JC_Connection_createStatement(j->conn, j->connection, &j->stmt);
  if (status == 0 && j->stmt != nullptr) return 0;
  if (j->stmt != nullptr) j->conn->jni->DeleteLocalRef(j->stmt);
  j->stmt = nullptr;
  return 1;
}

int ExecuteStatement(void* context, const char* sql) {
  auto* j = static_cast<InitialSqlJava*>(context);
  // A failure has put its message on the connection's list.
  return JC_Statement_executeConn(j->conn, j->stmt, sql);
}

void CloseStatement(void* context) {
  auto* j = static_cast<InitialSqlJava*>(context);
  JC_Statement_closeConn(j->conn, j->stmt);
  j->conn->jni->DeleteLocalRef(j->stmt);
  j->stmt = nullptr;
}

}  // namespace

// 0 when every statement of the file was terminated; -1 when the file cannot
// be read, the statement cannot be made or the last statement lacks its ';'.
// The connection goes on either way.
int JDB_RunInitialSql(JConn* c, jobject conn, const char* fileName) {
  if (c == nullptr || c->jni == nullptr || conn == nullptr) return -1;
  InitialSqlJava java{c, conn, nullptr};
  InitialSqlRunner runner{&java, OpenStatement, ExecuteStatement, CloseStatement};
  return JDB_RunInitialSqlWith(fileName, runner);
}

}  // namespace kx
