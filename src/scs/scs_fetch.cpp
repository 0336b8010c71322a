// Fetch engines. The static engine serves every rowset of a static cursor
// from the dataset cache, which holds the whole result from the first fetch
// (or the execution) on. The keyset-driven engine reads each rowset's rows by
// key: the keys were read once at execution, so rows another user deleted
// show as deleted rows and rows another user changed show their new values.
// The mixed and dynamic engines and the positioned operations beyond
// SQL_POSITION are not there yet: the prepare analysis settles such requests
// on a static cursor, and a call that still reaches them is answered as a
// function the driver does not support.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sqlext.h>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

int scs_p_CacheResult(ScsCursor* c) {
  int32_t total = 0;
  const int rc = SS_GetRsltSet(c->snapshot, SCS_AgentBinding(), c->stmt, &total);
  if (rc != 0) {
    SCS_PostCacheFailure(c, &c->snapshot->cache);
    SS_Close(c->snapshot);  // nothing of a short result is ever served
    return rc;
  }
  c->rowCount = total;
  // The agent's result is read to its end: its Java result goes at once,
  // unless a call's output values or a lock still need it.
  if (c->main.kind != SQLN_CALLESC && c->concurrency != SCS_CONCUR_LOCK) {
    const int closed = AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_CloseCursor, c->stmt);
    if (closed != 0) return closed;
  }
  c->flags |= SCSF_CACHED;
  return 0;
}

int scs_p_FetchStatic(ScsCursor* c, RowStatusSet* set, int32_t row) {
  if ((c->flags & SCSF_CACHED) == 0) {
    const int rc = scs_p_CacheResult(c);
    if (rc != 0) return rc;
  }
  const int64_t n = c->rowCount;
  const int64_t r = c->rowsetSize > 0 ? c->rowsetSize : 1;
  // Absolute row: from the start for a >= 1, from the end for a < 0, the
  // last rowset for 0.
  int64_t a = row >= 1 ? int64_t{row} - 1 : row < 0 ? n + row : (n - r > 0 ? n - r : 0);
  if (a < 0) {
    c->setPosRow = SCS_AT_BEFORE_FIRST;
    c->rowsetStart = SCS_AT_BEFORE_FIRST;
    return KX_ERR_FETCH_BEFORE_START;
  }
  if (a > n - 1) {
    c->setPosRow = SCS_AT_AFTER_LAST;
    c->rowsetStart = SCS_AT_AFTER_LAST;
    return KX_ERR_FETCH_BEYOND_END;
  }
  c->rowsetStart = static_cast<int32_t>(a + 1);
  const int rc = SS_GetRows(c->snapshot, static_cast<int32_t>(a), static_cast<int32_t>(r), &set->rows);
  if (rc != 0) {
    SCS_PostCacheFailure(c, &c->snapshot->cache);
    return rc;
  }
  for (int32_t i = 0; i < set->count && a + i <= n - 1; ++i) set->statuses[i] = SCS_ROW_SUCCESS;
  return 0;
}

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

// The bytes of one value as stored, without length prefix or terminator;
// false for NULL. Every length is bounded by the element.
bool ValueBytes(const RowBufferColumn* col, int32_t row, const unsigned char** p, size_t* n) {
  if (col->indicators != nullptr && col->indicators[row] == RB_IND_NULL) return false;
  const unsigned char* e = RB_Element(col, static_cast<size_t>(row));
  switch (col->type) {
    case RBT_CHAR_NTS: {
      size_t k = 0;
      while (k < col->width && e[k] != 0) ++k;
      *p = e;
      *n = k;
      return true;
    }
    case RBT_WCHAR_NTS: {
      size_t k = 0;
      while (2 * k + 1 < col->width && (e[2 * k] != 0 || e[2 * k + 1] != 0)) ++k;
      *p = e;
      *n = 2 * k;
      return true;
    }
    case RBT_CHAR_PTR: case RBT_BINARY_PTR: case RBT_WCHAR_PTR: {
      const RBPtrValue v = RB_GetPtrValue(e);
      *p = static_cast<const unsigned char*>(v.block);
      *n = v.block != nullptr ? RB_PtrBytes(col->type, v.length) : 0;
      return true;
    }
    default: break;
  }
  const uint32_t prefix = RB_LengthPrefixBytes(col->type);
  if (prefix != 0) {
    size_t len = RB_LoadLengthPrefix(e, prefix);
    if (col->type == RBT_WCHAR_LEN4) len *= 2;
    const size_t room = col->width - prefix;
    *p = e + prefix;
    *n = len < room ? len : room;
    return true;
  }
  *p = e;
  *n = col->width;
  return true;
}

bool SameValue(const RowBufferColumn* a, int32_t i, const RowBufferColumn* b, int32_t j) {
  const unsigned char *pa = nullptr, *pb = nullptr;
  size_t na = 0, nb = 0;
  const bool va = ValueBytes(a, i, &pa, &na);
  const bool vb = ValueBytes(b, j, &pb, &nb);
  if (!va || !vb) return va == vb;
  return na == nb && (na == 0 || std::memcmp(pa, pb, na) == 0);
}

// The absolute 0-based row of an absolute fetch target: from the start for
// a >= 1, from the end for a < 0, the last rowset for 0.
int AbsoluteRow(ScsCursor* c, int32_t row, int64_t* out) {
  const int64_t n = c->rowCount;
  const int64_t r = c->rowsetSize > 0 ? c->rowsetSize : 1;
  const int64_t a = row >= 1 ? int64_t{row} - 1 : row < 0 ? n + row : (n - r > 0 ? n - r : 0);
  if (a < 0) {
    c->setPosRow = SCS_AT_BEFORE_FIRST;
    c->rowsetStart = SCS_AT_BEFORE_FIRST;
    return KX_ERR_FETCH_BEFORE_START;
  }
  if (a > n - 1) {
    c->setPosRow = SCS_AT_AFTER_LAST;
    c->rowsetStart = SCS_AT_AFTER_LAST;
    return KX_ERR_FETCH_BEYOND_END;
  }
  *out = a;
  return 0;
}

// Prepares the by-key query for batches of `groups` keys on the values
// statement: the application's select list with the key columns after it,
// its FROM, and the key predicate before its own condition.
int PrepareByKey(ScsCursor* c, int32_t groups) {
  if (c->byKeyGroups == groups && (c->flags2 & SCSQ_ROWSBYKEYS) != 0) return 0;
  KS_REC* ks = c->keyset;
  const char quote = c->connInfo != nullptr ? c->connInfo->identQuote : 0;
  int rc = scs_p_Analyse(&c->valuesAn, c->text);
  if (rc == 0) rc = KS_MakeKeyWhere(&c->valuesAn, ks, quote, groups);
  if (rc == 0) rc = scs_p_Analyse(&c->valuesAn, c->valuesAn.sql);
  if (rc == 0) rc = KS_AppendKeysToSelList(&c->valuesAn, ks, quote);
  if (rc != 0) return rc;
  if (c->valuesStmt == 0) {
    if (AgentCall(Agent(), &AgentOps::DRV_AllocStmt, c->conn, &c->valuesStmt) != 0) {
      c->valuesStmt = 0;
      return KX_ERR_GENERAL;
    }
  }
  c->flags2 = static_cast<uint16_t>(c->flags2 & ~(SCSQ_ROWSBYKEYS | SCSQ_VALUES));
  LogDebug("by-key query: %s", c->valuesAn.sql);
  rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, c->valuesStmt, c->valuesAn.sql);
  if (rc != 0) return rc;
  // Descriptions of the markers: the keys of each group, then the
  // application's own.
  const int32_t k = KS_KeyCount(ks);
  const int64_t count = int64_t{groups} * k + c->appParamCount;
  if (count > 0xFFFF) return KX_ERR_GENERAL;
  auto* descs = static_cast<SCS_PARAMDESC*>(std::calloc(static_cast<size_t>(count > 0 ? count : 1), sizeof(SCS_PARAMDESC)));
  if (descs == nullptr) return KX_ERR_NOMEM;
  for (int32_t g = 0; g < groups; ++g) {
    for (int32_t i = 0; i < k; ++i) scs_p_ColDescToParamDesc(KS_KeyCol(ks, i), &descs[g * k + i]);
  }
  if (c->appParamCount > 0) {
    std::memcpy(descs + int64_t{groups} * k, c->appParamDescs, sizeof(SCS_PARAMDESC) * c->appParamCount);
  }
  std::free(c->genParamDescs);
  c->genParamDescs = descs;
  c->genParamCount = static_cast<uint16_t>(count);
  c->byKeyGroups = groups;
  c->flags2 |= SCSQ_ROWSBYKEYS;
  return 0;
}

// Reads the rows of keys [first, first + n) of the resident key rows in
// batches of `groups` keys, appending them to rows.
int ReadRowsByKey(ScsCursor* c, int32_t first, int32_t n, int32_t groups, RowBuffer* rows) {
  KS_REC* ks = c->keyset;
  for (int32_t done = 0; done < n; done += groups) {
    const int32_t batch = n - done < groups ? n - done : groups;
    RowBuffer* params = nullptr;
    int rc = KS_KeyRowsToParams(ks->keys, first + done, groups, batch, &params);
    if (rc != 0) return rc;
    RowBuffer* app = nullptr;
    rc = scs_p_KeptParamRow(c, &app);
    if (rc == 0 && app != nullptr) {
      // The key predicate stands before the statement's own condition.
      rc = RB_JoinCols(app, params);
      RB_Free(params);
      std::free(params);
      params = app;
    }
    if (rc != 0) {
      RB_Free(params);
      std::free(params);
      return rc;
    }
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, c->valuesStmt, params);
    if (rc == 0) {
      rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, c->valuesStmt, c->genParamCount,
                     static_cast<const SCS_PARAMDESC*>(c->genParamDescs));
    }
    if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->valuesStmt);
    if (rc != 0) return rc;
    RowBuffer block{};
    rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->valuesStmt, static_cast<uint16_t>(groups), &block);
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->valuesStmt);
    if (rc == 0) {
      if (rows->colCount == 0) {
        RB_Free(rows);
        *rows = block;
        block = RowBuffer{};
      } else if (block.rowCount > 0) {
        rc = RB_Append(rows, &block);
      }
    }
    RB_Free(&block);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int SCS_MarkMissingRows(RowBuffer* rows, const RowBuffer* keys, int32_t first, int32_t windowStart, int32_t count,
                        uint16_t keyCols, int16_t* keyStatus, RowBuffer** placed) {
  if (rows == nullptr || keys == nullptr || placed == nullptr || count < 0 || keyCols == 0 ||
      keys->colCount != keyCols || rows->colCount < keyCols || first - windowStart < 0 ||
      first - windowStart + count > keys->rowCount) {
    return KX_ERR_GENERAL;
  }
  const uint16_t hidden = static_cast<uint16_t>(rows->colCount - keyCols);
  // Each row goes to the key it carries: another user may have changed the
  // columns the rows are ordered by, so the order of the rows says nothing.
  std::vector<int32_t> at(static_cast<size_t>(count), -1);
  std::vector<bool> used(static_cast<size_t>(rows->rowCount), false);
  for (int32_t j = 0; j < count; ++j) {
    const int32_t kr = first - windowStart + j;
    for (int32_t i = 0; i < rows->rowCount && at[static_cast<size_t>(j)] < 0; ++i) {
      if (used[static_cast<size_t>(i)]) continue;
      bool equal = true;
      for (uint16_t k = 0; k < keyCols && equal; ++k) {
        equal = SameValue(&keys->columns[k], kr, &rows->columns[hidden + k], i);
      }
      if (equal) {
        at[static_cast<size_t>(j)] = i;
        used[static_cast<size_t>(i)] = true;
      }
    }
  }
  for (uint16_t k = 0; k < keyCols; ++k) {
    const int rc = RB_DeleteCol(rows, static_cast<uint16_t>(rows->colCount - 1));
    if (rc != 0) return rc;
  }
  RowBuffer* out = nullptr;
  int rc = RB_CloneEmpty(&out, rows, count > 0 ? count : 1);
  for (int32_t j = 0; rc == 0 && j < count; ++j) {
    const int32_t i = at[static_cast<size_t>(j)];
    if (i >= 0) {
      rc = RB_CopyRow(out, rows, j, i, true);
    } else {
      // The row is gone: a NULL row holds its place.
      out->rowCount = j + 1;
      if (keyStatus != nullptr) keyStatus[first + j] = SCS_ROW_DELETED;
    }
  }
  if (rc != 0) {
    if (out != nullptr) {
      RB_Free(out);
      std::free(out);
    }
    return rc;
  }
  *placed = out;
  return 0;
}

int scs_p_FetchKeyset(ScsCursor* c, RowStatusSet* set, int32_t row) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || KS_KeyCount(ks) == 0 || ks->status == nullptr) return KX_ERR_CURSOR_STATE;
  int64_t a = 0;
  int rc = AbsoluteRow(c, row, &a);
  if (rc != 0) return rc;
  const int32_t first = static_cast<int32_t>(a);
  c->rowsetStart = first + 1;
  const int32_t r = c->rowsetSize > 0 ? c->rowsetSize : 1;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(r, int64_t{c->rowCount} - a));
  if (ks->cache.state == DSC_SPILLED) {
    rc = DSC_LoadWindow(&ks->cache, first, n, &ks->windowStart, ks->keys);
    if (rc != 0) {
      SCS_PostCacheFailure(c, &ks->cache);
      return rc;
    }
  }
  int32_t batches = 0, lastRows = 0, perBatch = 0;
  rc = scs_p_KeyBatchSizes(c, KS_KeyCount(ks), &batches, &lastRows, &perBatch);
  if (rc != 0) return rc;
  rc = PrepareByKey(c, perBatch);
  if (rc != 0) return rc;
  if ((c->flags & SCSF_KEYED_QUERY) == 0) {
    // The application's own result is never read: the rows come by key.
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->stmt);
    c->flags |= SCSF_KEYED_QUERY;
  }
  RowBuffer fetched{};
  rc = ReadRowsByKey(c, first - ks->windowStart, n, perBatch, &fetched);
  RowBuffer* placed = nullptr;
  if (rc == 0) {
    rc = SCS_MarkMissingRows(&fetched, ks->keys, first, ks->windowStart, n, static_cast<uint16_t>(KS_KeyCount(ks)),
                             ks->status, &placed);
  }
  RB_Free(&fetched);
  if (rc != 0) return rc;
  RB_Free(set->rows);
  *set->rows = *placed;
  std::free(placed);
  for (int32_t j = 0; j < n && j < set->count; ++j) {
    int16_t& s = ks->status[first + j];
    if (s == SCS_ROW_ERROR) s = SCS_ROW_SUCCESS;
    set->statuses[j] = s;
  }
  return 0;
}

int scs_p_FetchMixed(ScsCursor*, int32_t, uint16_t, RowStatusSet*) { return KX_ERR_NOT_SUPPORTED; }

int scs_p_FetchDynamicOrient(ScsCursor*, int32_t, uint16_t, RowStatusSet*) { return KX_ERR_NOT_SUPPORTED; }

int scs_p_SetPosOp(ScsCursor* c, int32_t, int32_t operation, uint16_t** statuses, int32_t* count,
                   RowBuffer* data, uint16_t* columns, uint16_t) {
  if (statuses != nullptr) *statuses = nullptr;
  if (count != nullptr) *count = 0;
  if (data != nullptr) {
    RB_Free(data);
    std::free(data);
  }
  std::free(columns);
  // Positioning is all the rowset row takes: the core reads the row's values
  // from the rowset it holds.
  if (operation == SQL_POSITION) return 0;
  c->setPosRowsAffected = -1;
  return KX_ERR_NOT_SUPPORTED;
}

}  // namespace kx
