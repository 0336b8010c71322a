// The handlers the call records point at (see odbc/dispatch.h for the
// signature and the argument slots). Grouped by the file that holds them.
#pragma once

#include "odbc/dispatch.h"

namespace kx {

// env.cpp
SQLRETURN EnvrSetAttr(HandleHead* rec, const OdbcArgs& args);   // attribute, value, length
SQLRETURN EnvrGetAttr(HandleHead* rec, const OdbcArgs& args);   // attribute, value*, buflen, len*

// handles.cpp
SQLRETURN EnvrAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN EnvrAllocEnv(HandleHead* rec, const OdbcArgs& args);     // out handle*
SQLRETURN ConnAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN StmtAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN DescAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN EnvrFreeHandle(HandleHead* rec, const OdbcArgs& args);
SQLRETURN ConnFreeHandle(HandleHead* rec, const OdbcArgs& args);

// conn.cpp
SQLRETURN ConnDisconnect(HandleHead* rec, const OdbcArgs& args);
SQLRETURN ConnTransactCall(HandleHead* rec, const OdbcArgs& args);  // type
SQLRETURN EnvrTransact(HandleHead* rec, const OdbcArgs& args);      // type

// stmt_handles.cpp
SQLRETURN StmtAllocHandleCall(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN DescAllocHandleCall(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN StmtFreeHandleCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN DescFreeHandleCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN StmtFreeStmtCall(HandleHead* rec, const OdbcArgs& args);     // option

// stmt_attr.cpp
SQLRETURN StmtSetOptionCall(HandleHead* rec, const OdbcArgs& args);  // option, value
SQLRETURN StmtGetOptionCall(HandleHead* rec, const OdbcArgs& args);  // option, out*
SQLRETURN StmtSetAttrCall(HandleHead* rec, const OdbcArgs& args);    // attr, value, length, form
SQLRETURN StmtGetAttrCall(HandleHead* rec, const OdbcArgs& args);    // attr, value*, buflen, len*
SQLRETURN StmtBindColCall(HandleHead* rec, const OdbcArgs& args);    // col, ctype, target, buflen, ind*

// desc_get.cpp, desc_set.cpp
SQLRETURN DescGetFieldCall(HandleHead* rec, const OdbcArgs& args);  // rec, field, value*, buflen, len*, form
SQLRETURN DescSetFieldCall(HandleHead* rec, const OdbcArgs& args);  // rec, field, value, length, form
SQLRETURN DescCopyCall(HandleHead* rec, const OdbcArgs& args);      // target handle
SQLRETURN DescGetRecCall(HandleHead* rec, const OdbcArgs& args);    // rec, name*, buflen, len*, type* ... form
SQLRETURN DescSetRecCall(HandleHead* rec, const OdbcArgs& args);    // rec, type, subtype, length, ...

// exec/fetch.cpp, exec/type_info.cpp
SQLRETURN StmtFetchCall(HandleHead* rec, const OdbcArgs& args);       // none
SQLRETURN FetchScrollCall(HandleHead* rec, const OdbcArgs& args);     // orientation, offset
SQLRETURN ExtendedFetchCall(HandleHead* rec, const OdbcArgs& args);   // type, row, rows*, status*
SQLRETURN StmtGetDataCall(HandleHead* rec, const OdbcArgs& args);     // col, ctype, target, buflen, ind*
SQLRETURN SetPosCall(HandleHead* rec, const OdbcArgs& args);          // row, operation, lock
SQLRETURN BulkOperationsCall(HandleHead* rec, const OdbcArgs& args);  // operation
SQLRETURN GetTypeInfoCall(HandleHead* rec, const OdbcArgs& args);     // sql type

// The diagnostics and connect handlers (odbc/diag.h, odbc/connstr.h) keep
// typed signatures; call_records.cpp unpacks the argument slots for them.

}  // namespace kx
