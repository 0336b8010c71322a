// The handlers the call records point at (see odbc/dispatch.h for the
// signature and the argument slots). Grouped by the file that holds them.
#pragma once

#include <sql.h>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

// env.cpp
SQLRETURN EnvrSetAttr(HandleHead* rec, const OdbcArgs& args);   // attribute, value, length
SQLRETURN EnvrGetAttr(HandleHead* rec, const OdbcArgs& args);   // attribute, value*, buflen, len*

// handles.cpp
SQLRETURN EnvrAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
SQLRETURN EnvrAllocEnv(HandleHead* rec, const OdbcArgs& args);     // out handle*
SQLRETURN ConnAllocHandle(HandleHead* rec, const OdbcArgs& args);  // out handle*
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

// conn_attr.cpp
SQLRETURN ConnSetOptionCall(HandleHead* rec, const OdbcArgs& args);  // option, value, form
SQLRETURN ConnGetOptionCall(HandleHead* rec, const OdbcArgs& args);  // option, value*, form
SQLRETURN ConnSetAttrCall(HandleHead* rec, const OdbcArgs& args);    // attr, value, length, form
SQLRETURN ConnGetAttrCall(HandleHead* rec, const OdbcArgs& args);    // attr, value*, buflen, len*, form

// getinfo.cpp, getinfo_functions.cpp, getinfo_native_sql.cpp
SQLRETURN ConnGetInfoCall(HandleHead* rec, const OdbcArgs& args);       // type, value*, buflen, len*, form
SQLRETURN ConnGetFunctionsCall(HandleHead* rec, const OdbcArgs& args);  // function, exists*
SQLRETURN ConnNativeSqlCall(HandleHead* rec, const OdbcArgs& args);     // in, inlen, out, cap, len*

// exec/param_bind.cpp, exec/param_dae.cpp, exec/execute.cpp, exec/execute_prepare.cpp
SQLRETURN StmtSetParamCall(HandleHead* rec, const OdbcArgs& args);       // n, ctype, sqltype, size, digits, value, len*
SQLRETURN BindParameterCall(HandleHead* rec, const OdbcArgs& args);      // n, io, ctype, sqltype, size, digits, value, buflen, len*
SQLRETURN StmtDescribeParamCall(HandleHead* rec, const OdbcArgs& args);  // n, type*, size*, digits*, nullable*
SQLRETURN StmtParamDataCall(HandleHead* rec, const OdbcArgs& args);      // token*
SQLRETURN StmtPutDataCall(HandleHead* rec, const OdbcArgs& args);        // data, length
SQLRETURN ExecuteCall(HandleHead* rec, const OdbcArgs& args);            // none
SQLRETURN ExecDirectCall(HandleHead* rec, const OdbcArgs& args);         // text, length
SQLRETURN MoreResultsCall(HandleHead* rec, const OdbcArgs& args);        // none
SQLRETURN StmtPrepareCall(HandleHead* rec, const OdbcArgs& args);        // text, length

// stmt_api.cpp, stmt_api_colattr.cpp, stmt_api_cancel.cpp
SQLRETURN StmtCloseCursorCall(HandleHead* rec, const OdbcArgs& args);    // none
SQLRETURN StmtColAttributeCall(HandleHead* rec, const OdbcArgs& args);   // col, field, text*, buflen, len*, num*, form
SQLRETURN StmtColAttributesCall(HandleHead* rec, const OdbcArgs& args);  // col, field, text*, buflen, len*, num*, form
SQLRETURN StmtDescribeColCall(HandleHead* rec, const OdbcArgs& args);    // col, name*, buflen, len*, type*, size*, digits*, nullable*
SQLRETURN StmtGetCursorNameCall(HandleHead* rec, const OdbcArgs& args);  // name*, buflen, len*
SQLRETURN StmtSetCursorNameCall(HandleHead* rec, const OdbcArgs& args);  // name, length
SQLRETURN StmtNumParamsCall(HandleHead* rec, const OdbcArgs& args);      // count*
SQLRETURN StmtNumResultColsCall(HandleHead* rec, const OdbcArgs& args);  // count*
SQLRETURN StmtParamOptionsCall(HandleHead* rec, const OdbcArgs& args);   // rows, processed*
SQLRETURN StmtRowCountCall(HandleHead* rec, const OdbcArgs& args);       // count*
// SQLCancel (outside the dispatcher): the statement handle's value.
SQLRETURN StmtCancel(uint32_t handle);
SQLRETURN StmtCloseCursor(StmtRecord* stmt);
SQLRETURN StmtDescribeCol(StmtRecord* stmt, uint16_t column, char* name, int16_t bufferLength,
                          int16_t* nameLength, int16_t* dataType, uint64_t* columnSize,
                          int16_t* decimalDigits, int16_t* nullable);
SQLRETURN StmtGetCursorName(StmtRecord* stmt, char* buffer, int16_t bufferLength, int16_t* nameLength);
SQLRETURN StmtSetCursorName(StmtRecord* stmt, const char* name, int16_t length);
// form: 'A' 8-bit text, 'W' UTF-16 text (lengths in bytes).
SQLRETURN StmtColAttributes(StmtRecord* stmt, uint16_t column, uint16_t field, void* charAttr,
                            int16_t bufferLength, int16_t* stringLength, int64_t* numericAttr,
                            char form);
SQLRETURN StmtColAttribute(StmtRecord* stmt, uint16_t column, uint16_t field, void* charAttr,
                           int16_t bufferLength, int16_t* stringLength, int64_t* numericAttr,
                           char form);

// catalog.cpp (odbc/catalog.h)
SQLRETURN CatColumnPrivilegesCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatColumnsCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatForeignKeysCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatPrimaryKeysCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatProcedureColumnsCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatProceduresCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatSpecialColumnsCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatStatisticsCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatTablePrivilegesCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN CatTablesCall(HandleHead* rec, const OdbcArgs& args);

// The diagnostics and connect handlers (odbc/diag.h, odbc/connstr.h) keep
// typed signatures; call_records.cpp unpacks the argument slots for them.

}  // namespace kx
