// Fetching result rows into the application's buffers: the forward-only road
// (blocks of rows straight from the agent, one row handed out at a time) and
// the rowset road (one rowset from the scrollable cursor layer, copied to the
// bindings column-wise or row-wise), and the statement side of SQLGetData.
// Every function runs inside one dispatched call under the connection's call
// lock and leaves any error row in stmt->error.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

// Sets every bound-column node's target, octet-length and indicator pointers
// to its ARD record's pointers plus the current bind offset (none when the
// ARD has no offset pointer). Computed from the records each time, so the
// offset is never applied twice.
void ApplyArdBindOffset(StmtRecord* stmt);

// Step of one binding's data between rows of a column-wise array: a
// fixed-size C type steps by its own size (the buffer length means nothing
// for it; SQL_C_DEFAULT takes the column's default C type), text and binary
// by the buffer length, the bookmark column by 8.
int64_t ColumnWiseDataStride(StmtRecord* stmt, const ColBinding& b);

// Step of a binding's octet length and indicator between rows: the row's
// size when binding row-wise, one length value in a column-wise array.
inline int64_t LengthStride(const StmtRecord* stmt) {
  return stmt->bindType > 0 ? stmt->bindType : static_cast<int64_t>(sizeof(int64_t));
}

// Next block from the agent into stmt->rows. 0, or -1 with the code in
// stmt->error.
int StmtFetchBlock(StmtRecord* stmt);
// The ODBC 2 SQLFetch: one row of the current block to the bindings.
SQLRETURN StmtFetchForward(StmtRecord* stmt);
// SQLFetch: the ODBC 2 road under an ODBC 2 environment, else FetchScroll(NEXT).
SQLRETURN StmtFetch(StmtRecord* stmt);
// The ODBC 3 SQLFetch and SQLFetchScroll.
SQLRETURN FetchScroll(StmtRecord* stmt, int16_t orientation, int64_t offset);
// One row of a forward-only cursor with rowset size 1.
SQLRETURN FetchSingleRow(StmtRecord* stmt);
// The rowset road (and the whole of SQLExtendedFetch).
SQLRETURN FetchRowset(StmtRecord* stmt, uint16_t orientation, int64_t offset, uint64_t* rowsFetched,
                      uint16_t* statuses);
// The mode of FetchRowsetToBindings for a plain fetch.
constexpr int32_t ROWSET_MODE_FETCH = -1;
// Copies rows of the cursor's current rowset to the bindings: row 0 the whole
// rowset, row n > 0 rowset row n only. mode ROWSET_MODE_FETCH for fetches,
// SQL_REFRESH for a SetPos refresh (row-operation array consulted,
// updated/added statuses reported as success), SQL_FETCH_BY_BOOKMARK for the
// rows a bulk fetch by bookmark read (the bookmark column, which holds the
// bookmarks asked for, is left as the application wrote it).
SQLRETURN FetchRowsetToBindings(StmtRecord* stmt, uint16_t* statuses, uint32_t row, int32_t mode);
// SQLGetData on the row the last fetch positioned on.
SQLRETURN StmtGetData(StmtRecord* stmt, uint16_t column, int16_t cType, void* target,
                      int64_t bufferLength, int64_t* lengthOrIndicator);

// The handlers of SQLFetch, SQLFetchScroll, SQLExtendedFetch, SQLGetData,
// SQLSetPos and SQLBulkOperations are declared in odbc/handlers.h.

}  // namespace kx
