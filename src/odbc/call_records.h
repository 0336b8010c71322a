// The call records: one per ODBC API and handle kind, naming the handler the
// dispatcher runs, the trace format of the arguments and the handle kind.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

using OdbcHandler = SQLRETURN (*)(HandleHead* record, const OdbcArgs& args);

struct OdbcCallRecord {
  const char* name;      // API name without "SQL"; used in trace lines
  const char* format;    // printf format of the arguments after the handle ("" = none)
  uint32_t flag;         // the F mark; not read by the dispatcher
  uint32_t clearDiag;    // 1: clear the handle's diagnostics before the handler
  uint32_t kind;         // HandleKind
  OdbcHandler handler;
};

// Every call record, for tests and tools.
extern const OdbcCallRecord* const kAllCallRecords[];
extern const int kAllCallRecordCount;

// The records, one per API and handle kind (call_records.cpp).
#define KX_CALL_RECORDS(X)                                                              \
  X(AllocEnv) X(AllocHandleEnv) X(AllocConnect) X(AllocHandleDbc)                       \
  X(ErrorEnv) X(ErrorWEnv) X(ErrorDbc) X(ErrorWDbc) X(ErrorStmt) X(ErrorWStmt)          \
  X(FreeEnv) X(FreeHandleEnv)                                                           \
  X(GetDiagFieldEnv) X(GetDiagFieldWEnv) X(GetDiagFieldDbc) X(GetDiagFieldWDbc)         \
  X(GetDiagFieldStmt) X(GetDiagFieldWStmt) X(GetDiagFieldDesc) X(GetDiagFieldWDesc)     \
  X(GetDiagRecEnv) X(GetDiagRecWEnv) X(GetDiagRecDbc) X(GetDiagRecWDbc)                 \
  X(GetDiagRecStmt) X(GetDiagRecWStmt) X(GetDiagRecDesc) X(GetDiagRecWDesc)             \
  X(GetEnvAttr) X(SetEnvAttr) X(TransactEnv) X(TransactDbc)                             \
  X(AllocHandleStmt) X(AllocHandleDesc) X(AllocStmt)                                    \
  X(Connect) X(ConnectW) X(Disconnect) X(DriverConnect) X(DriverConnectW)               \
  X(FreeConnect) X(FreeHandleDbc)                                                       \
  X(GetConnectAttr) X(GetConnectAttrW) X(GetConnectOption) X(GetConnectOptionW)         \
  X(GetFunctions) X(GetInfo) X(GetInfoW) X(NativeSql) X(NativeSqlW)                     \
  X(SetConnectAttr) X(SetConnectAttrW) X(SetConnectOption) X(SetConnectOptionW)         \
  X(BindCol) X(BindParameter) X(BulkOperations) X(CloseCursor)                          \
  X(ColAttribute) X(ColAttributeW) X(ColAttributes) X(ColAttributesW)                   \
  X(ColumnPrivileges) X(ColumnPrivilegesW) X(Columns) X(ColumnsW)                       \
  X(DescribeCol) X(DescribeColW) X(DescribeParam) X(ExecDirect) X(ExecDirectW)          \
  X(Execute) X(ExtendedFetch) X(Fetch) X(FetchScroll) X(ForeignKeys) X(ForeignKeysW)    \
  X(FreeHandleStmt) X(FreeStmt) X(GetCursorName) X(GetCursorNameW) X(GetData)           \
  X(GetStmtAttr) X(GetStmtAttrW) X(GetStmtOption) X(GetTypeInfo) X(GetTypeInfoW)        \
  X(MoreResults) X(NumParams) X(NumResultCols) X(ParamData) X(ParamOptions)             \
  X(Prepare) X(PrepareW) X(PrimaryKeys) X(PrimaryKeysW)                                 \
  X(ProcedureColumns) X(ProcedureColumnsW) X(Procedures) X(ProceduresW)                 \
  X(PutData) X(RowCount) X(SetCursorName) X(SetCursorNameW) X(SetParam) X(SetPos)       \
  X(SetStmtAttr) X(SetStmtAttrW) X(SetStmtOption)                                       \
  X(SpecialColumns) X(SpecialColumnsW) X(Statistics) X(StatisticsW)                     \
  X(TablePrivileges) X(TablePrivilegesW) X(Tables) X(TablesW)                           \
  X(CopyDesc) X(FreeHandleDesc) X(GetDescField) X(GetDescFieldW)                        \
  X(GetDescRec) X(GetDescRecW) X(SetDescField) X(SetDescFieldW) X(SetDescRec)

#define KX_DECLARE_CALL_RECORD(n) extern const OdbcCallRecord kRec##n;
KX_CALL_RECORDS(KX_DECLARE_CALL_RECORD)
#undef KX_DECLARE_CALL_RECORD

}  // namespace kx
