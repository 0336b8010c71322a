#include "odbc/exec/fetch.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "odbc/capabilities.h"
#include "odbc/ctypes.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/exec/column_reader.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// Folds one column's result into a row's: the last non-zero result wins.
// True when the row's columns must stop (an error).
bool Fold(SQLRETURN rc, SQLRETURN* result) {
  if (rc != SQL_SUCCESS) *result = rc;
  return rc == SQL_ERROR;
}

bool IsBookmarkBinding(const ColBinding& b) {
  return b.column == 0 && (b.cType == SQL_C_UBIGINT || b.cType == SQL_C_BINARY);
}

// Whether the rowset road has a cursor layer to serve it on this connection.
bool HasRowsetLayer(const StmtRecord* stmt) { return CapRowsets(stmt->conn, BindingOf(stmt).ops); }

// Delivers the current forward-road row to every bound column; `single`
// selects the rowset-size-1 rules (retrieve-data and bookmark columns passed
// over). A length or indicator is only ever written here: what the
// application left in it (SQL_COLUMN_IGNORE, say, which speaks to SQLSetPos
// and SQLBulkOperations) never passes a column over.
SQLRETURN DeliverForwardRow(StmtRecord* stmt, bool single) {
  SQLRETURN result = SQL_SUCCESS;
  for (ColBindingNode* n = stmt->colBindings; n != nullptr; n = n->next) {
    ColBinding& b = n->binding;
    if (single) {
      if (!stmt->cursor.retrieveData) continue;
      if (IsBookmarkBinding(b)) continue;
    }
    if (Fold(GetColumn(stmt, stmt->currentRow, &b, &stmt->rows), &result)) break;
  }
  stmt->getData.leftByFetch = 1;
  return result;
}

// Makes sure the forward road has a row at the current position: SQL_SUCCESS,
// SQL_NO_DATA or SQL_ERROR.
SQLRETURN EnsureForwardRow(StmtRecord* stmt) {
  if (stmt->currentRow < static_cast<uint32_t>(stmt->rows.rowCount > 0 ? stmt->rows.rowCount : 0)) {
    return SQL_SUCCESS;
  }
  if (StmtFetchBlock(stmt) != 0) {
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  if (stmt->currentRow >= static_cast<uint32_t>(stmt->rows.rowCount > 0 ? stmt->rows.rowCount : 0)) {
    return SQL_NO_DATA;
  }
  return SQL_SUCCESS;
}

SQLRETURN FetchRowsetImpl(StmtRecord* stmt, uint16_t orientation, int64_t offset, uint64_t* rowsFetched,
                          uint16_t* statuses, uint32_t* delivered) {
  SCS_CURSOR& c = stmt->cursor;
  if (!HasRowsetLayer(stmt)) return Fail(stmt, KX_ERR_NOT_SUPPORTED);
  ApplyArdBindOffset(stmt);
  c.appStatusArray = statuses;
  const bool forwardOnly = c.cursorType == SQL_CURSOR_FORWARD_ONLY;
  if (stmt->paramsetSize > 1 && orientation != SQL_FETCH_NEXT && !forwardOnly) {
    return Fail(stmt, KX_ERR_PARAM_ARRAY_POSITIONED);
  }
  if (forwardOnly && orientation != SQL_FETCH_NEXT) return Fail(stmt, KX_ERR_BAD_FETCH_TYPE);
  if (SCS_IsDynamicOrMixed(&c) &&
      (orientation == SQL_FETCH_BOOKMARK || orientation == SQL_FETCH_ABSOLUTE)) {
    return Fail(stmt, KX_ERR_BAD_FETCH_TYPE);
  }
  if (c.cursorType == SQL_CURSOR_KEYSET_DRIVEN && c.keysetSize != 0 && c.keysetSize < c.rowsetSize) {
    return Fail(stmt, KX_ERR_BAD_ROW_VALUE);
  }
  if (orientation == SQL_FETCH_ABSOLUTE && offset == 0) {
    SCS_SetPosRow(&c, SCS_POS_BEFORE_FIRST);
    return SQL_NO_DATA;
  }
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_CURSOR_STATE);
  if (StmtDescribeCols(stmt) == nullptr) return SQL_ERROR;
  // A refused fetch keeps the rowset it found: a SetPos may still use it.
  if (const int refused = SCS_ScrollFetchRefusal(&c, orientation, static_cast<int32_t>(offset)); refused != 0) {
    return Fail(stmt, refused);
  }
  StmtFreeResults(stmt);
  uint32_t rows = 0;
  const int code = SCS_ScrollFetch(&c, orientation, static_cast<int32_t>(offset), &rows);
  if (code == KX_ERR_NO_DATA_FOUND) {
    if (rowsFetched != nullptr) *rowsFetched = 0;
    return SQL_NO_DATA;
  }
  const bool firstRowset = code == KX_ERR_FETCH_BEFORE_FIRST_ROWSET;
  if (code != 0 && !firstRowset) return Fail(stmt, code);
  if (rowsFetched != nullptr) *rowsFetched = rows;
  if (delivered != nullptr) *delivered = rows;
  const SQLRETURN result = FetchRowsetToBindings(stmt, statuses, 0, ROWSET_MODE_FETCH);
  if (firstRowset && result == SQL_SUCCESS) {
    stmt->error = KX_ERR_FETCH_BEFORE_FIRST_ROWSET;
    return SQL_SUCCESS_WITH_INFO;
  }
  return result;
}

}  // namespace

int64_t ColumnWiseDataStride(StmtRecord* stmt, const ColBinding& b) {
  int32_t cType = b.cType;
  if (b.column == 0) {
    return b.cType == SQL_C_BINARY && b.bufferLength > KX_BOOKMARK_BYTES ? b.bufferLength : KX_BOOKMARK_BYTES;
  }
  if (cType == SQL_C_DEFAULT) {
    const AgentColDesc* d = stmt->colDescs != nullptr && b.column <= stmt->colCount
                                ? &stmt->colDescs[b.column - 1]
                                : nullptr;
    if (d != nullptr) cType = DefaultCType(static_cast<int16_t>(d->sqlType & 0xFFFF), OdbcVersion(stmt));
  }
  const int16_t fixed = CTypeSize(static_cast<int16_t>(cType));
  if (fixed > 0) return fixed;
  return b.bufferLength > 0 ? b.bufferLength : 0;
}

void ApplyArdBindOffset(StmtRecord* stmt) {
  DescRecord* ard = stmt->currentArd;
  if (ard == nullptr || ard->bindOffsetPtr == nullptr) return;
  const int64_t offset = *ard->bindOffsetPtr;
  const int32_t count = DescRecCount(ard);
  for (int32_t n = 0; n <= count; ++n) {
    const DescFieldRec* rec = DescGetRec(ard, n);
    ColBinding* b = StmtGetColBinding(static_cast<int16_t>(n), stmt);
    if (rec == nullptr || b == nullptr) continue;
    // From the record's own addresses every time: the offset in force now
    // is added once, whatever earlier fetches added.
    auto shifted = [offset](auto* base) {
      using P = decltype(base);
      return reinterpret_cast<P>(reinterpret_cast<char*>(base) + offset);
    };
    if (rec->dataPtr != nullptr) b->target = shifted(static_cast<char*>(rec->dataPtr));
    if (rec->indicatorPtr != nullptr) b->indicator = shifted(rec->indicatorPtr);
    if (rec->octetLengthPtr != nullptr) b->octetLength = shifted(rec->octetLengthPtr);
  }
}

int StmtFetchBlock(StmtRecord* stmt) {
  if (StmtDescribeCols(stmt) == nullptr) return -1;
  StmtFreeResults(stmt);
  const int32_t rc = AgentCall(BindingOf(stmt), &AgentOps::DRV_FetchBlock, stmt->agentStmt,
                               stmt->rowsPerBlock, &stmt->rows);
  stmt->error = rc;
  return rc == 0 ? 0 : -1;
}

SQLRETURN StmtFetchForward(StmtRecord* stmt) {
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_SEQUENCE);
  ApplyArdBindOffset(stmt);
  const SQLRETURN ready = EnsureForwardRow(stmt);
  if (ready != SQL_SUCCESS) return ready;
  GetDataReset(stmt);
  const SQLRETURN result = DeliverForwardRow(stmt, false);
  ++stmt->currentRow;
  return result;
}

SQLRETURN StmtFetch(StmtRecord* stmt) {
  if (OdbcVersion(stmt) == SQL_OV_ODBC2) return StmtFetchForward(stmt);
  return FetchScroll(stmt, SQL_FETCH_NEXT, 0);
}

SQLRETURN FetchSingleRow(StmtRecord* stmt) {
  ApplyArdBindOffset(stmt);
  uint16_t* statuses = stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
  if (statuses != nullptr) statuses[0] = SQL_ROW_NOROW;
  if (stmt->rowsFetchedPtr != nullptr) *stmt->rowsFetchedPtr = 0;
  const SQLRETURN ready = EnsureForwardRow(stmt);
  if (ready != SQL_SUCCESS) return ready;
  GetDataReset(stmt);
  if (statuses != nullptr) statuses[0] = SQL_ROW_SUCCESS;
  if (stmt->rowsFetchedPtr != nullptr) *stmt->rowsFetchedPtr = 1;
  ++stmt->rowNumber;
  const SQLRETURN result = DeliverForwardRow(stmt, true);
  if (result == SQL_SUCCESS_WITH_INFO && statuses != nullptr && OdbcVersion(stmt) != SQL_OV_ODBC2) {
    statuses[0] = SQL_ROW_SUCCESS_WITH_INFO;
  }
  ++stmt->currentRow;
  return result;
}

SQLRETURN FetchScroll(StmtRecord* stmt, int16_t orientation, int64_t offset) {
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_SEQUENCE);
  SCS_CURSOR& c = stmt->cursor;
  const bool forwardOnly = c.cursorType == SQL_CURSOR_FORWARD_ONLY;
  if (forwardOnly && orientation != SQL_FETCH_NEXT) return Fail(stmt, KX_ERR_BAD_FETCH_TYPE);
  if (forwardOnly && c.rowsetSize == 1) return FetchSingleRow(stmt);

  uint64_t localRows = 0;
  uint64_t* rowsFetched = stmt->rowsFetchedPtr != nullptr ? stmt->rowsFetchedPtr : &localRows;
  uint16_t* statuses = stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
  std::unique_ptr<uint16_t[]> temporary;
  if (statuses == nullptr) {
    const size_t n = c.rowsetSize > 0 ? static_cast<size_t>(c.rowsetSize) : 1;
    temporary.reset(new (std::nothrow) uint16_t[n]);
    if (temporary == nullptr) return Fail(stmt, KX_ERR_NOMEM);
    statuses = temporary.get();
  }
  if (orientation == SQL_FETCH_BOOKMARK) {
    // A bookmark is a row number: no bookmark at all, or one that can name
    // no row, is an invalid bookmark rather than the end of the result.
    if (stmt->fetchBookmarkPtr == 0) return Fail(stmt, KX_ERR_BAD_BOOKMARK);
    const int32_t bookmark = *reinterpret_cast<const int32_t*>(static_cast<uintptr_t>(stmt->fetchBookmarkPtr));
    if (bookmark < 1) return Fail(stmt, KX_ERR_BAD_BOOKMARK);
    offset += bookmark;
  }
  uint32_t delivered = 0;
  const SQLRETURN rc =
      FetchRowsetImpl(stmt, static_cast<uint16_t>(orientation), offset, rowsFetched, statuses, &delivered);
  if (temporary != nullptr) c.appStatusArray = nullptr;
  if (forwardOnly) stmt->rowNumber += delivered;
  return rc;
}

SQLRETURN FetchRowset(StmtRecord* stmt, uint16_t orientation, int64_t offset, uint64_t* rowsFetched,
                      uint16_t* statuses) {
  return FetchRowsetImpl(stmt, orientation, offset, rowsFetched, statuses, nullptr);
}

SQLRETURN FetchRowsetToBindings(StmtRecord* stmt, uint16_t* statuses, uint32_t row, int32_t mode) {
  SCS_CURSOR& c = stmt->cursor;
  RowStatusSet* set = c.rowStatus;
  RowBuffer* rows = set != nullptr ? set->rows : nullptr;
  const bool rowWise = stmt->bindType > 0;
  const int64_t lengthStride = LengthStride(stmt);
  const uint16_t* operations = stmt->currentArd != nullptr ? stmt->currentArd->arrayStatusPtr : nullptr;
  const uint32_t rowsetSize = static_cast<uint16_t>(c.rowsetSize);
  // A row number never reaches past the rows the set carries.
  const uint32_t setRows = set != nullptr && set->count > 0 ? static_cast<uint32_t>(set->count) : 0;
  uint32_t first = 0;
  uint32_t last = rowsetSize;
  if (row > 0) {
    first = row - 1;
    last = row;
  }
  SQLRETURN result = SQL_SUCCESS;
  uint32_t present = 0;
  uint32_t errorRows = 0;
  for (uint32_t k = first; k < last; ++k) {
    if (mode == SQL_REFRESH && operations != nullptr && operations[k] == SQL_ROW_IGNORE) continue;
    GetDataReset(stmt);
    const uint16_t st = k < setRows ? SCS_GetRowStatus(set, static_cast<int32_t>(k + 1)) : SQL_ROW_NOROW;
    if (statuses != nullptr) statuses[k] = st;
    if (st == SQL_ROW_NOROW) continue;
    ++present;
    SQLRETURN rowResult = SQL_SUCCESS;
    // The statement's code answers for the whole call, but a conversion
    // reads a warning already in it as its own: each row starts clear, and
    // the code held comes back unless this row has one of its own.
    const int32_t held = stmt->error;
    stmt->error = 0;
    struct Restore {
      StmtRecord* stmt;
      int32_t held;
      ~Restore() {
        if (stmt->error == 0) stmt->error = held;
      }
    } restore{stmt, held};
    if (st == SQL_ROW_ERROR) {
      ++errorRows;
      stmt->error = KX_ERR_ROW_ERROR;
      rowResult = SQL_SUCCESS_WITH_INFO;
    } else {
      for (ColBindingNode* n = stmt->colBindings; n != nullptr; n = n->next) {
        const ColBinding& node = n->binding;
        const bool bookmark = IsBookmarkBinding(node);
        const bool deliver = (st != SQL_ROW_DELETED && c.retrieveData) || bookmark;
        if (!deliver || (bookmark && mode == SQL_FETCH_BY_BOOKMARK)) continue;
        ColBinding copy = node;
        const int64_t dataStride = rowWise ? stmt->bindType : ColumnWiseDataStride(stmt, node);
        if (copy.target != nullptr) copy.target = static_cast<char*>(copy.target) + k * dataStride;
        if (copy.octetLength != nullptr) {
          copy.octetLength = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(copy.octetLength) +
                                                        k * lengthStride);
        }
        if (copy.indicator != nullptr) {
          copy.indicator = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(copy.indicator) +
                                                      k * lengthStride);
        }
        if (Fold(GetColumn(stmt, k, &copy, rows), &rowResult)) break;
      }
      stmt->getData.leftByFetch = 1;
    }
    if (mode == SQL_REFRESH && statuses != nullptr &&
        (statuses[k] == SQL_ROW_UPDATED || statuses[k] == SQL_ROW_ADDED)) {
      statuses[k] = SQL_ROW_SUCCESS;
    }
    // A row delivered with a warning (a value cut, a fraction dropped) says
    // so in its own status, so that the application knows which rows to
    // look at; an updated or added row keeps telling that. ODBC 2 has no
    // such status.
    if (rowResult == SQL_SUCCESS_WITH_INFO && st != SQL_ROW_ERROR && statuses != nullptr &&
        statuses[k] == SQL_ROW_SUCCESS && OdbcVersion(stmt) != SQL_OV_ODBC2) {
      statuses[k] = SQL_ROW_SUCCESS_WITH_INFO;
    }
    if (rowResult != SQL_SUCCESS) result = rowResult;
    if (rowResult == SQL_ERROR) break;
  }
  if (result == SQL_SUCCESS_WITH_INFO && present > 0 && errorRows == present) {
    result = SQL_ERROR;
    // Nothing was delivered. A refresh names why: the rows it was asked for
    // are ones that could not be fetched again (a static cursor keeps a row
    // whose change failed in error).
    stmt->error = mode == SQL_REFRESH ? KX_ERR_BAD_CURSOR_POSITION : KX_ERR_GENERAL;
  }
  return result;
}

SQLRETURN StmtGetData(StmtRecord* stmt, uint16_t column, int16_t cType, void* target,
                      int64_t bufferLength, int64_t* lengthOrIndicator) {
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_SEQUENCE);
  ColBinding b{};
  b.column = column;
  b.cType = cType;
  b.target = target;
  b.bufferLength = bufferLength;
  b.octetLength = lengthOrIndicator;
  b.indicator = lengthOrIndicator;
  SCS_CURSOR& c = stmt->cursor;
  if (c.rowStatus != nullptr) {
    const int32_t sp = c.setPosRow;
    if (sp <= 0 || sp > c.rowStatus->count) return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
    const uint16_t st = SCS_GetRowStatus(c.rowStatus, sp);
    if (st == SQL_ROW_DELETED || st == SQL_ROW_ERROR) return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
    return GetColumn(stmt, static_cast<uint32_t>(sp - 1), &b, c.rowStatus->rows);
  }
  return GetColumn(stmt, static_cast<uint32_t>(stmt->currentRow) - 1u, &b, &stmt->rows);
}

// ---- handlers ---------------------------------------------------------------------

SQLRETURN StmtFetchCall(HandleHead* rec, const OdbcArgs&) {
  return StmtFetch(static_cast<StmtRecord*>(rec));
}

SQLRETURN FetchScrollCall(HandleHead* rec, const OdbcArgs& args) {
  return FetchScroll(static_cast<StmtRecord*>(rec), args.Get<int16_t>(0), args.Get<int64_t>(1));
}

SQLRETURN ExtendedFetchCall(HandleHead* rec, const OdbcArgs& args) {
  return FetchRowset(static_cast<StmtRecord*>(rec), args.Get<uint16_t>(0), args.Get<int64_t>(1),
                     args.Get<uint64_t*>(2), args.Get<uint16_t*>(3));
}

SQLRETURN StmtGetDataCall(HandleHead* rec, const OdbcArgs& args) {
  return StmtGetData(static_cast<StmtRecord*>(rec), args.Get<uint16_t>(0), args.Get<int16_t>(1),
                     args.Get<void*>(2), args.Get<int64_t>(3), args.Get<int64_t*>(4));
}

}  // namespace kx
