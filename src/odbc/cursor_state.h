// The statement's position: the cursor record's defaults, the SetPos row, the
// row number of a rowset row, the row-status sets that carry one rowset from
// the cursor layer, and the scroll logic that turns an ODBC fetch orientation
// and offset into the absolute row the cursor layer is asked for.
#pragma once

#include <sqlext.h>

#include <cstdint>

#include "agent/agent.h"

namespace kx {

// SetPos row codes (besides n > 0, row n of the rowset).
constexpr int32_t SCS_POS_BEFORE_FIRST = 0;
constexpr int32_t SCS_POS_ALL_ROWS = -2;
constexpr int32_t SCS_POS_AFTER_LAST = -3;
constexpr int32_t SCS_START_UNKNOWN = -1;


int SCS_InitCursorRec(SCS_CURSOR* c, uint32_t stmtHandle, uint32_t connHandle, AgentBinding* binding,
                      StmtRecord* owner);
// Init, then the connection's defaults when the owner has a connection.
int SCS_CursorInit(SCS_CURSOR* c, uint32_t stmtHandle, uint32_t connHandle, AgentBinding* binding,
                   StmtRecord* owner);
void SCS_CursorFreeRowStatus(SCS_CURSOR* c);

// Status of row n (1-based); SQL_ROW_ERROR when there is no set or n is
// outside it.
uint16_t SCS_GetRowStatus(const RowStatusSet* set, int32_t n);
// Sets row n (1-based); nothing when there is no set or n is outside it.
void SCS_SetRowStatus(RowStatusSet* set, int32_t n, uint16_t status);

// 0 or 39 (S1107).
int SCS_SetPosRow(SCS_CURSOR* c, int32_t row);
int SCS_ResetPosition(SCS_CURSOR* c);
// Absolute row number of rowset row n (0-based). 0, 21, 41 or 64.
int SCS_GetRowNumber(SCS_CURSOR* c, uint32_t n, int32_t* out);
// The same with the checks of a bookmark request. 0, 21, 43, 41 or 64.
int SCS_GetRowNumberChecked(SCS_CURSOR* c, uint32_t n, int32_t* out);
// Why the cursor cannot take a fetch of this orientation and offset at all
// (38), or 0. A refused fetch leaves the rowset and position as they were,
// so callers ask this before they let go of anything.
int SCS_ScrollFetchRefusal(SCS_CURSOR* c, uint16_t orientation, int32_t offset);
// Fetches the rowset the orientation and offset name. 0, 82 (no rowset),
// 111 (a PRIOR reached before row 1 and fetched the first rowset: the rowset
// is there, the call warns with 01S06) or a code.
int SCS_ScrollFetch(SCS_CURSOR* c, uint16_t orientation, int32_t offset, uint32_t* rows);
// Whether the cursor keeps no absolute positions (dynamic, or keyset-driven
// with a keyset smaller than the result).
inline bool SCS_IsDynamicOrMixed(const SCS_CURSOR* c) {
  return c->cursorType == SQL_CURSOR_DYNAMIC ||
         (c->cursorType == SQL_CURSOR_KEYSET_DRIVEN && c->keysetSize != 0);
}

}  // namespace kx
