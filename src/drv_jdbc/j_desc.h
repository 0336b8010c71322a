// Agent statements: allocation and release, cursor names, closing results,
// and the description of result columns and parameters (AgentColDesc) with
// the row-buffer storage that carries each column's values.
#pragma once

#include <mutex>

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"
#include "util/value_rec.h"

namespace kx {

int32_t DRV_AllocStmt(AgentHandle conn, AgentHandle* stmt);                             // 7
int32_t DRV_FreeStmt(AgentHandle stmt);                                                 // 8
int32_t DRV_GetCursorName(AgentHandle stmt, char* buffer, int32_t size, uint16_t* length);  // 9
int32_t DRV_SetCursorName(AgentHandle stmt, const char* name);                          // 10
int32_t DRV_DescribeCols(AgentHandle stmt, uint16_t* count, AgentColDesc** cols);       // 15
int32_t DRV_DescribeParams(AgentHandle stmt, uint16_t* count, AgentColDesc** params);   // 16
int32_t DRV_CloseCursor(AgentHandle stmt);                                              // 20
int32_t DRV_DescribeColsEx(AgentHandle stmt, uint16_t* count, int16_t* attrCount,
                           AgentColDesc** cols, ValueRec** attrs);                      // 51

// Looks the statement up (21) and attaches the calling thread (15).
int JDB_StmtEnter(AgentHandle h, JStmt** out);

// Closes the current result; the column descriptions stay.
void JDB_StmtCloseResults(JStmt* s);
// Back to the unprepared state: results, descriptions, Java statement and text.
void JDB_StmtReset(JStmt* s);
// Guards JStmt::stmt while it is replaced or released, against SQLCancel,
// which reads it from another thread while a call runs on the statement.
std::mutex& JDB_StmtRefLock();
// Resets the statement and frees the record with all it owns. The caller
// releases its handle. Needs s->jni set and a local frame.
void JDB_StmtDestroy(JStmt* s);
// Frees the result-column descriptions.
void JDB_FreeColumns(JStmt* s);

// 'P': the prepared statement (a SELECT without markers is executed now);
// 'E': the open result set.
int JDB_DescribeResults(JStmt* s, char mode);
// Default descriptions for every parameter marker. 0 or 16.
int JDB_InitParamDescs(JStmt* s);

// Description of one column from what JDBC reports (exposed for tests):
// type T, display size D, scale S, precision P and the type's name (null
// when not asked). Returns the JDBC type kept for the column (BLOB and CLOB
// as their long types, national text as text): text described as long
// because it has no width keeps its own.
int16_t JDB_DescribeType(const JConn* c, int32_t unicode, int32_t type, int32_t display,
                         int32_t scale, int32_t precision, const char* typeName,
                         AgentColDesc* out);

// Largest fixed element a column gets; wider values are carried as long values.
constexpr uint32_t JDB_LONG_LIMIT = 60000;

// Type name and literal prefix or suffix of an SQL type from the connection's
// type map; "" when the map or the type is missing.
const char* JDB_TypeMapName(JConn* c, int32_t sqlType);
const char* JDB_TypeMapLiteral(JConn* c, int32_t sqlType, int suffix);
// One column attribute record (column from rec->column) for SQL type sqlType.
int JDB_ColAttribute(JStmt* s, ValueRec* rec, int32_t sqlType);
// Whether the SQL type is one of the character types, narrow or wide.
bool JDB_IsCharacterType(int32_t t);

}  // namespace kx
