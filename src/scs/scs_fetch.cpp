// Fetch engines. The static engine serves every rowset of a static cursor
// from the dataset cache, which holds the whole result from the first fetch
// (or the execution) on. The keyset-driven, mixed and dynamic engines and the
// positioned operations beyond SQL_POSITION are not there yet: the prepare
// analysis settles such requests on a static cursor, and a call that still
// reaches them is answered as a function the driver does not support.
#include <cstdlib>

#include <sqlext.h>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"

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

int scs_p_FetchKeyset(ScsCursor*, RowStatusSet*, int32_t) { return KX_ERR_NOT_SUPPORTED; }

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
