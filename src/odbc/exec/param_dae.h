// Data at execution: the walk over the parameter set that finds the values the
// application supplies at execution time, SQLParamData and SQLPutData for the
// driver-collected way (values gathered per parameter and row until the last
// one is in) and the backend-driven way (every step goes to the agent).
// Failures leave an error-table row in stmt->error.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

// DataAtExecState values.
constexpr uint16_t DAE_NONE = 0;
constexpr uint16_t DAE_EXECUTE = 1;
constexpr uint16_t DAE_SETPOS = 2;
constexpr uint16_t DAE_BULK = 3;
constexpr uint16_t DAE_EXECUTE_LAST = 7;
constexpr uint16_t DAE_SETPOS_LAST = 8;
constexpr uint16_t DAE_BULK_LAST = 9;

// The collected length that marks a value put as SQL_NULL_DATA (a value
// never put has length 0 and no buffer).
constexpr int64_t DAE_PUT_NULL = SQL_NULL_DATA;

// 1 when the cursor (daeNextIndex, daeNextRow) stands on a parameter and row
// whose value comes at execution; 0 when none is left (cursor reset).
int ExecNextDAE(StmtRecord* stmt);
// The pre-step of a driver-collected execution: SQL_SUCCESS (execute now),
// SQL_NEED_DATA (state 1) or SQL_ERROR.
SQLRETURN ExecCheckDAE(StmtRecord* stmt);

SQLRETURN StmtParamData(StmtRecord* stmt, void** token);
SQLRETURN StmtPutData(StmtRecord* stmt, const void* data, int64_t length);

// One piece appended to a row's collected value. 0, 16 or 21.
int ParamAppendDAE(ParamBinding* b, const void* data, const int64_t* length, uint64_t row);
int ColumnAppendDAE(ColBindingNode* node, const void* data, const int64_t* length, uint64_t row);

// A wide piece narrowed for a backend that takes 8-bit text only: *buffer is
// replaced by a new buffer. 0 or 16.
int PutDataToNarrow(void** buffer, uint32_t* size, uint32_t* storageType);

// Handlers.
SQLRETURN StmtParamDataCall(HandleHead* rec, const OdbcArgs& args);  // token**
SQLRETURN StmtPutDataCall(HandleHead* rec, const OdbcArgs& args);    // data, length

}  // namespace kx
