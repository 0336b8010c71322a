// SQLSetPos and SQLBulkOperations: the checks, the row block of the values to
// write built from the application's bound columns, the data-at-execution
// sequence of a positioned operation, and the hand-over to the scrollable
// cursor layer, whose per-row statuses go into the cursor's row-status set
// and the application's row-status array.
//
// The block the layer receives for an update or add has one column per bound,
// updatable column in ascending column order and one row per row of the
// operation; an element whose length is SQL_COLUMN_IGNORE, and every element
// of a row the row-operation array ignores (or a row the rowset does not
// have), has indicator RB_IND_IGNORE, so that each row writes exactly the
// columns the application gave it. Text travels length-prefixed, so a value
// is never read past its length or its buffer.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

SQLRETURN SetPos(StmtRecord* stmt, int64_t row, uint16_t operation, uint16_t lock);
SQLRETURN BulkOperations(StmtRecord* stmt, uint16_t operation);

// The block of an update or add of `rows` rows starting at row `first` of the
// bound arrays. columns (may be NULL) limits it to those column numbers;
// rowOps consults the row-operation array. On 0 *block (a new header),
// *list (ascending column numbers) and *count are the caller's. Codes: 17 a
// column bound past the result's columns (15 when no description can be
// had at all), 16, 25 (a length that is no length),
// 49 (a C type no column value can be taken from), 56 no column to write.
int SetPosBuildBlock(StmtRecord* stmt, uint32_t first, uint32_t rows, const uint16_t* columns,
                     uint16_t columnCount, bool rowOps, RowBuffer** block, uint16_t** list,
                     uint16_t* count);

// The driver-collected data-at-execution steps SQLParamData takes for a
// positioned operation: the next value still wanted (1, with the statement's
// value cursor on it; 0 when none is left), the address handed out as the
// value's token, and the re-entry once every value is in.
int SetPosNextValue(StmtRecord* stmt);
void* SetPosValueAddress(StmtRecord* stmt, ColBindingNode* node, uint32_t row);
SQLRETURN SetPosResume(StmtRecord* stmt);

// Ends an open data-at-execution sequence of SQLSetPos or SQLBulkOperations
// without carrying out the operation, leaving the cursor where it stands;
// false when no such sequence is open.
bool SetPosAbandonValues(StmtRecord* stmt);

}  // namespace kx
