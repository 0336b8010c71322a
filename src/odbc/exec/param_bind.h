// Parameter binding: SQLSetParam, SQLBindParameter (also reached when the
// descriptor engine applies APD and IPD records to a statement) and
// SQLDescribeParam. Failures leave an error-table row in stmt->error.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

SQLRETURN StmtSetParam(StmtRecord* stmt, uint16_t number, int16_t cType, int16_t sqlType,
                       uint64_t columnSize, int16_t decimalDigits, void* value,
                       int64_t* lengthOrIndicator);

// The engine behind SQLBindParameter, and behind a data-pointer write on an
// application parameter descriptor.
SQLRETURN StmtBindParameter(StmtRecord* stmt, uint16_t number, int16_t paramType, int16_t cType,
                            int16_t sqlType, uint64_t columnSize, int16_t decimalDigits,
                            void* value, int64_t bufferLength, int64_t* octetLength,
                            int64_t* indicator);

SQLRETURN StmtDescribeParam(StmtRecord* stmt, uint16_t number, int16_t* sqlType,
                            uint64_t* columnSize, int16_t* decimalDigits, int16_t* nullable);

// Handlers (argument slots in call order after the statement handle).
SQLRETURN StmtSetParamCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN BindParameterCall(HandleHead* rec, const OdbcArgs& args);
SQLRETURN StmtDescribeParamCall(HandleHead* rec, const OdbcArgs& args);

}  // namespace kx
