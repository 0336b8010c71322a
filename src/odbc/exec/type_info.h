// Type information: SQLGetTypeInfo opens the agent's type-information result
// on a statement; the descriptor field engine asks single columns of the
// first row of one SQL type (its name, literal prefix and suffix).
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

// SQLGetTypeInfo on a statement: closes it and opens the result. Failure
// codes in stmt->error.
SQLRETURN GetTypeInfo(StmtRecord* stmt, int16_t sqlType);

// The text of one column of the first type-information row of an SQL type,
// as SQLGetData with SQL_C_CHAR would deliver it. SQL_NO_DATA when the type
// has no row. The answers are kept per connection, so repeated descriptor
// reads do not run a catalog query each; SQL_ERROR answers are not kept.
// 08003 on the connection when it is not connected.
SQLRETURN FetchTypeInfoColumn(ConnRecord* conn, uint16_t column, int16_t sqlType, char* buffer,
                              int64_t bufferLength, int64_t* length);

// Forgets what was kept for a connection (its close, or a new connect).
void TypeInfoCacheDrop(const ConnRecord* conn);
// Number of type-information queries run for the descriptor engine since
// the process started (a measure of how well the answers are kept).
uint64_t TypeInfoQueriesRun();

}  // namespace kx
