// The column reader: the one routine that moves a value out of a row buffer
// into an application buffer. It serves bound columns at fetch time,
// SQLGetData (also a value read in several pieces) and output parameters.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

// Delivers column binding->column of row `row` (0-based) of `rows` into the
// binding's buffers. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_ERROR (an error
// row left in stmt->error) or SQL_NO_DATA (nothing left of a value read in
// pieces). A statement error code of 80 on entry selects output-parameter
// mode: the column is then a parameter number and the descriptions and the
// descriptor consulted are the parameters'. With SQL_C_DEFAULT and a zero
// buffer length the binding's buffer length is set to the resolved type's size.
SQLRETURN GetColumn(StmtRecord* stmt, uint32_t row, ColBinding* binding, RowBuffer* rows);

// Forgets the value read in pieces (the next GetColumn is a first call) and
// frees a piece the agent handed out for it.
void GetDataReset(StmtRecord* stmt);

}  // namespace kx
