// The statement's position state and the row-status sets of the cursor layer.
#include "odbc/cursor_state.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "odbc/handle_layer.h"
#include "odbc/records.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

int SCS_InitCursorRec(SCS_CURSOR* c, uint32_t stmtHandle, uint32_t connHandle, AgentBinding* binding,
                      StmtRecord* owner) {
  c->rowsetSize = 1;
  c->keysetSize = 0;
  c->rowCount = -1;
  c->cursorType = SQL_CURSOR_FORWARD_ONLY;
  c->requestedCursorType = SQL_CURSOR_FORWARD_ONLY;
  c->concurrency = SQL_CONCUR_READ_ONLY;
  c->requestedConcurrency = SQL_CONCUR_READ_ONLY;
  c->simulateCursor = 0;
  c->useBookmarks = 0;
  c->retrieveData = 1;
  c->optimisticMode = 1;
  c->describeBaseColumns = 0;
  c->addMissingKeyColumns = 0;
  c->setPosRow = SCS_POS_BEFORE_FIRST;
  c->rowsetStart = 0;
  c->agentStmt = stmtHandle;
  c->agentConn = connHandle;
  c->binding = binding;
  c->owner = owner;
  c->rowVersionFlag = 0;
  return 0;
}

int SCS_CursorInit(SCS_CURSOR* c, uint32_t stmtHandle, uint32_t connHandle, AgentBinding* binding,
                   StmtRecord* owner) {
  SCS_InitCursorRec(c, stmtHandle, connHandle, binding, owner);
  c->fetchDirections = 0;
  c->rowStatus = nullptr;
  c->appStatusArray = nullptr;
  if (owner != nullptr && owner->conn != nullptr) {
    const SCS_CURSOR& d = owner->conn->cursorDefaults;
    c->concurrency = d.concurrency;
    c->requestedConcurrency = d.concurrency;
    c->cursorType = d.cursorType;
    c->requestedCursorType = d.cursorType;
    c->keysetSize = d.keysetSize;
    c->retrieveData = d.retrieveData;
    c->rowsetSize = d.rowsetSize;
    c->simulateCursor = d.simulateCursor;
    c->useBookmarks = d.useBookmarks;
  }
  c->prevRowsetSize = c->rowsetSize;
  return 0;
}

void SCS_CursorFreeRowStatus(SCS_CURSOR* c) { RowStatusSetFree(&c->rowStatus); }

// ---- row-status sets -------------------------------------------------------------

uint16_t SCS_GetRowStatus(const RowStatusSet* set, int32_t n) {
  if (set == nullptr || set->statuses == nullptr || n <= 0 || n > set->count) return SCS_ROW_ERROR;
  return static_cast<uint16_t>(set->statuses[n - 1]);
}

void SCS_SetRowStatus(RowStatusSet* set, int32_t n, uint16_t status) {
  if (set == nullptr || set->statuses == nullptr || n <= 0 || n > set->count) return;
  set->statuses[n - 1] = static_cast<int16_t>(status);
}

// ---- position ----------------------------------------------------------------------

int SCS_SetPosRow(SCS_CURSOR* c, int32_t row) {
  if (row == SCS_POS_BEFORE_FIRST || row == SCS_POS_AFTER_LAST) {
    c->rowsetStart = row;
    c->setPosRow = row;
    return 0;
  }
  if (row == SCS_POS_ALL_ROWS) {
    c->setPosRow = row;
    return 0;
  }
  if (row < 0 || (c->rowCount >= 0 && row > c->rowCount)) return KX_ERR_BAD_ROW_VALUE;
  c->setPosRow = row;
  return 0;
}

int SCS_ResetPosition(SCS_CURSOR* c) {
  c->rowCount = -1;
  SCS_SetPosRow(c, SCS_POS_BEFORE_FIRST);
  return 0;
}

namespace {

bool NoRowset(const SCS_CURSOR* c) {
  return c->setPosRow == SCS_POS_BEFORE_FIRST || c->setPosRow == SCS_POS_AFTER_LAST ||
         c->setPosRow == SCS_POS_ALL_ROWS;
}

bool BeyondRowset(const SCS_CURSOR* c, uint32_t n) {
  return c->rowsetSize <= 0 || n > static_cast<uint32_t>(c->rowsetSize - 1);
}

// Keyset-driven over the whole result, or static: absolute positions are known.
bool HasAbsolutePositions(const SCS_CURSOR* c) {
  return (c->cursorType == SQL_CURSOR_KEYSET_DRIVEN && c->keysetSize == 0) ||
         c->cursorType == SQL_CURSOR_STATIC;
}

}  // namespace

int SCS_GetRowNumber(SCS_CURSOR* c, uint32_t n, int32_t* out) {
  if (out == nullptr) return KX_ERR_BAD_ARGUMENT;
  *out = 0;
  if (c->cursorType == SQL_CURSOR_FORWARD_ONLY || SCS_IsDynamicOrMixed(c)) return 0;
  if (BeyondRowset(c, n)) return KX_ERR_BAD_ARGUMENT;
  if (NoRowset(c)) return KX_ERR_CURSOR_STATE;
  if (SCS_GetRowStatus(c->rowStatus, static_cast<int32_t>(n) + 1) == SCS_ROW_ERROR) {
    return KX_ERR_BAD_CURSOR_POSITION;
  }
  *out = c->rowsetStart + static_cast<int32_t>(n);
  return 0;
}

int SCS_GetRowNumberChecked(SCS_CURSOR* c, uint32_t n, int32_t* out) {
  if (out == nullptr || BeyondRowset(c, n)) return KX_ERR_BAD_ARGUMENT;
  *out = 0;
  if (NoRowset(c)) return KX_ERR_CURSOR_STATE;
  if (HasAbsolutePositions(c)) return SCS_GetRowNumber(c, n, out);
  return KX_ERR_NOT_CAPABLE;
}

// ---- scrolling -------------------------------------------------------------------------

namespace {

// Classes of a target row.
constexpr int TR_GO = 0;          // go on with the target
constexpr int TR_BEFORE = 1;      // the whole rowset lies before row 1
constexpr int TR_REACHES = 2;     // starts before row 1 but reaches it
constexpr int TR_INSIDE = 3;
constexpr int TR_PAST_END = 4;    // the rowset runs past the last row
constexpr int TR_AFTER = 5;       // after the last row

uint32_t FetchDirectionBit(uint16_t orientation) {
  switch (orientation) {
    case SQL_FETCH_NEXT: return SQL_FD_FETCH_NEXT;
    case SQL_FETCH_FIRST: return SQL_FD_FETCH_FIRST;
    case SQL_FETCH_LAST: return SQL_FD_FETCH_LAST;
    case SQL_FETCH_PRIOR: return SQL_FD_FETCH_PRIOR;
    case SQL_FETCH_ABSOLUTE: return SQL_FD_FETCH_ABSOLUTE;
    case SQL_FETCH_RELATIVE: return SQL_FD_FETCH_RELATIVE;
    case SQL_FETCH_BOOKMARK: return SQL_FD_FETCH_BOOKMARK;
    default: return 0;
  }
}

}  // namespace

int scs_p_ClassifyTarget(int32_t start, int32_t target, int32_t size, int32_t count) {
  if (count == -1) {
    if (target > start) return TR_GO;
  } else {
    if (target > count) return TR_AFTER;
    if (target > count - size + 1) return TR_PAST_END;
  }
  if (target <= 1 - size) return TR_BEFORE;
  if (target < 1) return TR_REACHES;
  return TR_INSIDE;
}

int scs_p_TargetRow(uint16_t orientation, int32_t offset, int32_t start, int32_t count, int32_t size,
                    int32_t previous, int32_t* target) {
  if (start == SCS_POS_AFTER_LAST) start = count + 1;
  switch (orientation) {
    case SQL_FETCH_NEXT:
      *target = start + previous;
      return scs_p_ClassifyTarget(start, *target, size, count);
    case SQL_FETCH_FIRST:
      *target = 1;
      return TR_INSIDE;
    case SQL_FETCH_LAST:
      // A result shorter than a rowset: its last rowset is its first.
      *target = count == -1 ? 0 : (count - size + 1 > 1 ? count - size + 1 : 1);
      return TR_INSIDE;
    case SQL_FETCH_PRIOR:
      *target = start - size;
      return scs_p_ClassifyTarget(start, *target, size, count);
    case SQL_FETCH_ABSOLUTE:
      if (offset == 0) {
        *target = 0;
        return TR_BEFORE;
      }
      if (offset < 0) {
        if (count == -1) {
          *target = offset;
          return TR_GO;
        }
        *target = count + offset + 1;
        int cls = scs_p_ClassifyTarget(start, *target, size, count);
        if (cls == TR_REACHES && -static_cast<int64_t>(offset) > size) cls = TR_BEFORE;
        return cls;
      }
      *target = offset;
      return scs_p_ClassifyTarget(start, *target, size, count);
    case SQL_FETCH_RELATIVE:
      *target = start + offset;
      return scs_p_ClassifyTarget(start, *target, size, count);
    default:
      *target = 0;
      return TR_GO;
  }
}

int scs_p_CallFetch(SCS_CURSOR* c, uint16_t orientation, int32_t target, uint32_t* rows) {
  StmtRecord* owner = c->owner;
  if (c->binding == nullptr) return KX_ERR_NOT_SUPPORTED;
  int32_t rc;
  if (owner != nullptr && owner->conn != nullptr && owner->conn->cn_hasDynMixCurs) {
    rc = AgentCall(*c->binding, &AgentOps::DRV_FetchScroll, c->agentStmt, &c->rowStatus, target, rows,
                   &c->rowCount, orientation);
  } else {
    rc = AgentCall(*c->binding, &AgentOps::DRV_ExtendedFetch, c->agentStmt, &c->rowStatus, target,
                   rows, &c->rowCount);
  }
  if (rc != 0 && owner != nullptr) StmtPullMsgs(owner);
  return rc;
}

int SCS_ScrollFetchRefusal(SCS_CURSOR* c, uint16_t orientation, int32_t offset) {
  const bool dynMixed = SCS_IsDynamicOrMixed(c);
  if (c->cursorType == SQL_CURSOR_FORWARD_ONLY && orientation != SQL_FETCH_NEXT) return KX_ERR_BAD_FETCH_TYPE;
  if (c->fetchDirections == 0) {
    std::lock_guard<std::recursive_mutex> lock(ConnectLock());
    uint32_t directions = 0;
    if (SCS_GetInfoType(c->binding, c->agentConn, SQL_FETCH_DIRECTION, &directions, 4, nullptr) == 0) {
      c->fetchDirections = directions;
    }
  }
  if ((c->fetchDirections & FetchDirectionBit(orientation)) == 0) return KX_ERR_BAD_FETCH_TYPE;
  if (c->rowsetStart == SCS_START_UNKNOWN && HasAbsolutePositions(c) &&
      orientation != SQL_FETCH_FIRST && orientation != SQL_FETCH_LAST &&
      orientation != SQL_FETCH_ABSOLUTE && orientation != SQL_FETCH_BOOKMARK) {
    return KX_ERR_BAD_FETCH_TYPE;
  }
  if (!dynMixed) return 0;
  // Without absolute positions nothing is counted from an end or a bookmark.
  const int32_t sp = c->setPosRow;
  const bool fromEnd = orientation == SQL_FETCH_RELATIVE && ((sp == SCS_POS_AFTER_LAST && offset < 0) ||
                                                            (sp == SCS_POS_BEFORE_FIRST && offset > 0));
  if (fromEnd || orientation == SQL_FETCH_BOOKMARK || orientation == SQL_FETCH_ABSOLUTE) {
    return KX_ERR_BAD_FETCH_TYPE;
  }
  return 0;
}

int SCS_ScrollFetch(SCS_CURSOR* c, uint16_t orientation, int32_t offset, uint32_t* rows) {
  uint32_t scratch = 0;
  if (rows == nullptr) rows = &scratch;
  if (const int refused = SCS_ScrollFetchRefusal(c, orientation, offset); refused != 0) return refused;
  RowStatusSetFree(&c->rowStatus);
  if ((c->flags & SCS_FLAG_ROWSET_CHANGED) == 0) c->prevRowsetSize = c->rowsetSize;
  const bool forwardOnly = c->cursorType == SQL_CURSOR_FORWARD_ONLY;
  const bool dynMixed = SCS_IsDynamicOrMixed(c);

  const int32_t sp = c->setPosRow;
  bool priorFromEnd = false;
  switch (orientation) {
    case SQL_FETCH_NEXT:
      if (sp == SCS_POS_BEFORE_FIRST) orientation = SQL_FETCH_FIRST;
      break;
    case SQL_FETCH_PRIOR:
      if (sp == SCS_POS_AFTER_LAST) {
        orientation = SQL_FETCH_LAST;
        priorFromEnd = true;
      }
      break;
    case SQL_FETCH_RELATIVE:
      if ((sp == SCS_POS_AFTER_LAST && offset < 0) || (sp == SCS_POS_BEFORE_FIRST && offset > 0)) {
        orientation = SQL_FETCH_ABSOLUTE;
      } else if ((sp == SCS_POS_AFTER_LAST && offset > 0) ||
                 (sp == SCS_POS_BEFORE_FIRST && offset < 0)) {
        *rows = 0;
        return KX_ERR_NO_DATA_FOUND;
      }
      break;
    case SQL_FETCH_BOOKMARK:
      if (offset <= 0) return KX_ERR_NO_DATA_FOUND;
      orientation = SQL_FETCH_ABSOLUTE;
      break;
    default:
      break;
  }
  if (orientation == SQL_FETCH_ABSOLUTE) {
    if (offset == 0) {
      SCS_SetPosRow(c, SCS_POS_BEFORE_FIRST);
      *rows = 0;
      return KX_ERR_NO_DATA_FOUND;
    }
  }

  int32_t target;
  bool reachedFirst = false;
  if (forwardOnly) {
    target = c->rowsetStart + c->prevRowsetSize;
  } else if (dynMixed) {
    target = offset;
  } else {
    const int cls = scs_p_TargetRow(orientation, offset, c->rowsetStart, c->rowCount, c->rowsetSize,
                                    c->prevRowsetSize, &target);
    if (cls == TR_BEFORE) {
      SCS_SetPosRow(c, SCS_POS_BEFORE_FIRST);
      *rows = 0;
      return KX_ERR_NO_DATA_FOUND;
    }
    if (cls == TR_AFTER) {
      SCS_SetPosRow(c, SCS_POS_AFTER_LAST);
      *rows = 0;
      return KX_ERR_NO_DATA_FOUND;
    }
    if (cls == TR_REACHES) {
      // A PRIOR from a rowset that starts at rows 2 to the rowset size
      // gives the first rowset, and says so (01S06).
      reachedFirst = orientation == SQL_FETCH_PRIOR;
      orientation = SQL_FETCH_FIRST;
      target = 1;
    }
  }
  c->flags = static_cast<uint16_t>(c->flags & ~SCS_FLAG_ROWSET_CHANGED);

  const int rc = scs_p_CallFetch(c, orientation, target, rows);
  if (rc == KX_ERR_FETCH_BEFORE_START) {
    SCS_SetPosRow(c, SCS_POS_BEFORE_FIRST);
    *rows = 0;
    return KX_ERR_NO_DATA_FOUND;
  }
  if (rc == KX_ERR_FETCH_BEYOND_END) {
    SCS_SetPosRow(c, SCS_POS_AFTER_LAST);
    *rows = 0;
    return KX_ERR_NO_DATA_FOUND;
  }
  if (rc != 0) return rc;
  SCS_SetPosRow(c, 1);
  c->rowsetStart = dynMixed ? SCS_START_UNKNOWN : target;
  if (!dynMixed && target <= 0 && c->rowCount >= 0) {
    // The target was counted from an end not known before this fetch (LAST,
    // or ABSOLUTE from the end): the fetch has told the size, so the
    // rowset's first row is known now.
    const int32_t from = orientation == SQL_FETCH_LAST ? c->rowCount - c->rowsetSize + 1 : c->rowCount + target + 1;
    c->rowsetStart = from > 1 ? from : 1;
  }
  // From after the end of a result shorter than a rowset, PRIOR gives the
  // first rowset too.
  if (priorFromEnd && !dynMixed && c->rowCount >= 0 && c->rowCount < c->rowsetSize) reachedFirst = true;
  return reachedFirst ? KX_ERR_FETCH_BEFORE_FIRST_ROWSET : 0;
}

}  // namespace kx
