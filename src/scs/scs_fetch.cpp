// Fetch engines. The static engine serves every rowset of a static cursor
// from the dataset cache, which holds the whole result from the first fetch
// (or the execution) on. The keyset-driven engine reads each rowset's rows by
// key: the keys were read once at execution, so rows another user deleted
// show as deleted rows and rows another user changed show their new values.
// The mixed and dynamic engines read a window of keys as the scroll needs it
// (a dynamic cursor afresh at every fetch) and the rowset's rows by key.
// Every engine keeps the rowset it hands out (its rows' keys, and their
// values for an optimistic change) for the positioned operations.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <sqlext.h>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

bool scs_p_StaticChangeable(const ScsCursor* c) {
  return c->cursorType == SCS_STATIC && c->concurrency != SCS_CONCUR_READ_ONLY && !c->forceStatic &&
         c->main.kind == SQLN_SELECT && KS_KeyCount(c->keyset) > 0;
}

int scs_p_StripKeys(const ScsCursor* c, RowBuffer* rows) {
  if (!scs_p_StaticChangeable(c) || rows == nullptr) return 0;
  for (int32_t k = KS_KeyCount(c->keyset); k > 0 && rows->colCount > 0; --k) {
    const int rc = RB_DeleteCol(rows, static_cast<uint16_t>(rows->colCount - 1));
    if (rc != 0) return rc;
  }
  return 0;
}

namespace {

// The result of an updatable static cursor: the statement's rows with their
// keys after them, read whole by one query, so that every cached row carries
// the key that finds it again.
int CacheWithKeys(ScsCursor* c) {
  KS_REC* ks = c->keyset;
  const char quote = SCS_IdentRules(c).quote;
  int rc = scs_p_Analyse(&c->keysetAn, c->text);
  if (rc == 0) rc = KS_AppendKeysToSelList(&c->keysetAn, ks, quote);
  if (rc != 0) return rc;
  std::string text = c->keysetAn.sql;
  // Under lock concurrency the rows are locked as they are read.
  if (c->concurrency == SCS_CONCUR_LOCK && c->connInfo != nullptr && c->connInfo->selectForUpdate) {
    text += " FOR UPDATE";
  }
  rc = scs_p_PrepareOnKeysetStmt(c, "static rows with keys", text.c_str());
  if (rc != 0) return rc;
  rc = scs_p_ExecuteKeysetStmt(c);
  if (rc != 0) return rc;
  int32_t total = 0;
  rc = SS_GetRsltSet(c->snapshot, SCS_AgentBinding(), c->keysetStmt, &total);
  AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_CloseCursor, c->keysetStmt);
  if (rc != 0) {
    SCS_PostCacheFailure(c, &c->snapshot->cache);
    SS_Close(c->snapshot);
    return rc;
  }
  AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_CloseCursor, c->stmt);
  KS_Close(ks);
  ks->windowStart = -1;
  ks->status = static_cast<int16_t*>(std::calloc(static_cast<size_t>(total > 0 ? total : 1), sizeof(int16_t)));
  if (ks->status == nullptr) return KX_ERR_NOMEM;
  ks->statusCount = total;
  c->rowCount = total;
  c->flags |= SCSF_CACHED;
  return 0;
}

// The absolute 0-based row of an absolute fetch target: from the start for
// a >= 1, from the end for a < 0, the last rowset for 0.
int AbsoluteRow(ScsCursor* c, int32_t row, int64_t* out) {
  const int64_t n = c->rowCount;
  const int64_t r = scs_p_RowsetRows(c);
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

}  // namespace

bool scs_p_MoreResultsFollow(const ScsCursor* c) {
  return c->main.kind == SQLN_CALLESC || c->main.kind == SQLN_OTHER;
}

int scs_p_CacheResult(ScsCursor* c) {
  if (scs_p_StaticChangeable(c)) return CacheWithKeys(c);
  int32_t total = 0;
  const int rc = SS_GetRsltSet(c->snapshot, SCS_AgentBinding(), c->stmt, &total);
  if (rc != 0) {
    SCS_PostCacheFailure(c, &c->snapshot->cache);
    SS_Close(c->snapshot);  // nothing of a short result is ever served
    return rc;
  }
  c->rowCount = total;
  // The agent's result is read to its end: its Java result goes at once,
  // unless a lock, a call's output values or later results still need it
  // (closing it would end them all).
  if (!scs_p_MoreResultsFollow(c) && c->concurrency != SCS_CONCUR_LOCK) {
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
  const int64_t r = scs_p_RowsetRows(c);
  int64_t a = 0;
  const int pos = AbsoluteRow(c, row, &a);
  if (pos != 0) return pos;
  c->rowsetStart = static_cast<int32_t>(a + 1);
  const int rc = SS_GetRows(c->snapshot, static_cast<int32_t>(a), static_cast<int32_t>(r), &set->rows);
  if (rc != 0) {
    SCS_PostCacheFailure(c, &c->snapshot->cache);
    return rc;
  }
  for (int32_t i = 0; i < set->count && a + i <= n - 1; ++i) set->statuses[i] = SCS_ROW_SUCCESS;
  if (!scs_p_StaticChangeable(c) || c->keyset->status == nullptr) return 0;
  // An updatable static cursor: its own changes show (a row it updated is
  // read again by key), and the rowset is kept for the next change.
  int rc2 = scs_p_StripKeys(c, set->rows);
  const int32_t got = set->rows->rowCount;
  for (int32_t i = 0; rc2 == 0 && i < got && i < set->count; ++i) {
    int16_t& st = c->keyset->status[a + i];
    if (st == SCS_ROW_ERROR) st = SCS_ROW_SUCCESS;
    set->statuses[i] = st;
    if (st != SCS_ROW_UPDATED) continue;
    int32_t kr = 0;
    RowBuffer* placed = nullptr;
    int16_t missing = 0;
    rc2 = scs_p_KeyRowAt(c, static_cast<int32_t>(a + i), &kr);
    if (rc2 == 0) rc2 = scs_p_ReadKeyRows(c, c->keyset->keys, kr, 1, &placed, &missing);
    if (rc2 == 0 && missing == 0 && placed->colCount == set->rows->colCount) {
      rc2 = RB_CopyRow(set->rows, placed, i, 0, false);
    }
    scs_p_FreeRows(placed);
  }
  if (rc2 != 0) return rc2;
  return scs_p_KeepRowset(c, set->rows, static_cast<int32_t>(a), got);
}

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

// The bytes of one value as stored, without length prefix or terminator;
// false for NULL. Every length is bounded by the element.
bool ValueBytes(const RowBufferColumn* col, int32_t row, const unsigned char** p, size_t* n) {
  return scs_p_ValueBytes(col, row, p, n);
}

}  // namespace

bool scs_p_ValueBytes(const RowBufferColumn* col, int32_t row, const unsigned char** p, size_t* n) {
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

namespace {

bool SameValue(const RowBufferColumn* a, int32_t i, const RowBufferColumn* b, int32_t j) {
  const unsigned char *pa = nullptr, *pb = nullptr;
  size_t na = 0, nb = 0;
  const bool va = ValueBytes(a, i, &pa, &na);
  const bool vb = ValueBytes(b, j, &pb, &nb);
  if (!va || !vb) return va == vb;
  return na == nb && (na == 0 || std::memcmp(pa, pb, na) == 0);
}

// Prepares the by-key query for batches of `groups` keys on the values
// statement: the application's select list with the key columns after it,
// its FROM, and the key predicate before its own condition.
int PrepareByKey(ScsCursor* c, int32_t groups) {
  // Under lock concurrency the rows are locked as they are read, where the
  // data source can: SELECT ... FOR UPDATE needs no UPDATE privilege and
  // fires no trigger. So is the row a row-version check reads.
  const bool locking = (c->concurrency == SCS_CONCUR_LOCK || c->versionCheck) && c->connInfo != nullptr &&
                       c->connInfo->selectForUpdate;
  const bool preparedLocking = (c->flags2 & SCSQ_LOCKING) != 0;
  if (c->byKeyGroups == groups && (c->flags2 & SCSQ_ROWSBYKEYS) != 0 && locking == preparedLocking) return 0;
  KS_REC* ks = c->keyset;
  const char quote = SCS_IdentRules(c).quote;
  // The key predicate comes last: the statement is not analysed again after
  // it, so a row-value list the parser does not read never reaches it.
  const bool rowValues = c->connInfo != nullptr && c->connInfo->rowValueIn != 0;
  int rc = scs_p_Analyse(&c->valuesAn, c->text);
  if (rc == 0) rc = KS_AppendKeysToSelList(&c->valuesAn, ks, quote);
  if (rc == 0) rc = scs_p_Analyse(&c->valuesAn, c->valuesAn.sql);
  if (rc == 0) rc = KS_MakeKeyWhere(&c->valuesAn, ks, quote, groups, rowValues);
  if (rc == 0 && locking) {
    const std::string text = std::string(c->valuesAn.sql) + " FOR UPDATE";
    char* copy = strdup(text.c_str());
    if (copy == nullptr) return KX_ERR_NOMEM;
    std::free(c->valuesAn.sql);
    c->valuesAn.sql = copy;
  }
  if (rc != 0) return rc;
  if (c->valuesStmt == 0) {
    if (AgentCall(Agent(), &AgentOps::DRV_AllocStmt, c->conn, &c->valuesStmt) != 0) {
      c->valuesStmt = 0;
      return KX_ERR_GENERAL;
    }
  }
  c->flags2 = static_cast<uint16_t>(c->flags2 & ~(SCSQ_ROWSBYKEYS | SCSQ_VALUES | SCSQ_LOCKING));
  LogDebug("by-key query: %s", c->valuesAn.sql);
  rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, c->valuesStmt, c->valuesAn.sql);
  if (rc != 0) return rc;
  // A batch finds at most one row a key: the agent need not read on for
  // rows that cannot come (reading ahead of a batch's rows costs the agent
  // a thread hand-off and a buffer for every rowset). A connection's own
  // lower row limit stays (the agent answers 01S02 and keeps it).
  const int32_t most = groups;
  AgentCall(Agent(), &AgentOps::DRV_SetProperty, c->valuesStmt, AP_STMT_MAX_ROWS, static_cast<const void*>(&most));
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
  if (locking) c->flags2 |= SCSQ_LOCKING;
  return 0;
}

// Reads the rows of key rows [first, first + n) of keys in batches of
// `groups` keys, appending them to rows.
int ReadRowsByKey(ScsCursor* c, const RowBuffer* keys, int32_t first, int32_t n, int32_t groups, RowBuffer* rows) {
  KS_REC* ks = c->keyset;
  for (int32_t done = 0; done < n; done += groups) {
    const int32_t batch = n - done < groups ? n - done : groups;
    RowBuffer* params = nullptr;
    int rc = KS_KeyRowsToParams(keys, static_cast<uint16_t>(KS_KeyCount(ks)), first + done, groups, batch, &params);
    if (rc != 0) return rc;
    RowBuffer* app = nullptr;
    rc = scs_p_KeptParamRow(c, &app);
    if (rc == 0 && app != nullptr) {
      // The key predicate stands before the statement's own condition.
      rc = RB_JoinCols(app, params);
      scs_p_FreeRows(params);
      params = app;
    }
    if (rc != 0) {
      scs_p_FreeRows(params);
      return rc;
    }
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, c->valuesStmt, params);
    if (rc == 0) {
      rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, c->valuesStmt, c->genParamCount,
                     static_cast<const SCS_PARAMDESC*>(c->genParamDescs));
    }
    if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->valuesStmt);
    if (rc != 0) return rc;
    // A block may hold fewer rows than asked (rows with long values come a
    // few at a time): read until every key of the batch has its row or the
    // result ends.
    for (int32_t got = 0; rc == 0 && got < batch;) {
      RowBuffer block{};
      rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->valuesStmt, static_cast<uint16_t>(batch - got), &block);
      const int32_t more = rc == 0 ? block.rowCount : 0;
      if (rc == 0) {
        if (rows->colCount == 0) {
          RB_Free(rows);
          *rows = block;
          block = RowBuffer{};
        } else if (more > 0) {
          rc = RB_Append(rows, &block);
        }
      }
      RB_Free(&block);
      if (more == 0) break;
      got += more;
    }
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->valuesStmt);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int SCS_MarkMissingRows(RowBuffer* rows, const RowBuffer* keys, int32_t first, int32_t windowStart, int32_t count,
                        uint16_t keyCols, int16_t* keyStatus, RowBuffer** placed) {
  if (rows == nullptr || keys == nullptr || placed == nullptr || count < 0 || keyCols == 0 ||
      keys->colCount < keyCols || rows->colCount < keyCols || first - windowStart < 0 ||
      first - windowStart + count > keys->rowCount) {
    return KX_ERR_GENERAL;
  }
  const uint16_t hidden = static_cast<uint16_t>(rows->colCount - keyCols);
  // Each row goes to the key it carries: another user may have changed the
  // columns the rows are ordered by, so the order of the rows says nothing.
  std::vector<int32_t> at(static_cast<size_t>(count), -1);
  std::vector<bool> used(static_cast<size_t>(rows->rowCount), false);
  auto carries = [&](int32_t i, int32_t kr) {
    for (uint16_t k = 0; k < keyCols; ++k) {
      if (!SameValue(&keys->columns[k], kr, &rows->columns[hidden + k], i)) return false;
    }
    return true;
  };
  // Mostly the rows come in the keys' order: the row after the last one
  // placed is tried first, every other one only when it does not match.
  int32_t next = 0;
  bool inPlace = rows->rowCount == count;
  for (int32_t j = 0; j < count; ++j) {
    const int32_t kr = first - windowStart + j;
    int32_t found = -1;
    if (next < rows->rowCount && !used[static_cast<size_t>(next)] && carries(next, kr)) found = next;
    for (int32_t i = 0; found < 0 && i < rows->rowCount; ++i) {
      if (!used[static_cast<size_t>(i)] && carries(i, kr)) found = i;
    }
    if (found < 0) {
      inPlace = false;
      continue;
    }
    at[static_cast<size_t>(j)] = found;
    used[static_cast<size_t>(found)] = true;
    next = found + 1;
    if (found != j) inPlace = false;
  }
  for (uint16_t k = 0; k < keyCols; ++k) {
    const int rc = RB_DeleteCol(rows, static_cast<uint16_t>(rows->colCount - 1));
    if (rc != 0) return rc;
  }
  if (inPlace) {
    // Every row is already where its key is: the rows become the result
    // as they are (the caller's buffer is left empty).
    auto* whole = static_cast<RowBuffer*>(std::malloc(sizeof(RowBuffer)));
    if (whole == nullptr) return KX_ERR_NOMEM;
    *whole = *rows;
    *rows = RowBuffer{};
    *placed = whole;
    return 0;
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
    scs_p_FreeRows(out);
    return rc;
  }
  *placed = out;
  return 0;
}

namespace {

// Reads the rows of window keys [first, first + n) by key into the rowset:
// each row under its key, keys without a row as deleted rows.
int RowsetByKey(ScsCursor* c, RowStatusSet* set, int32_t first, int32_t n) {
  KS_REC* ks = c->keyset;
  if ((c->flags & SCSF_KEYED_QUERY) == 0) {
    // The application's own result is never read: the rows come by key.
    if (!c->queryDeferred) AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->stmt);
    c->queryDeferred = false;
    c->flags |= SCSF_KEYED_QUERY;
  }
  std::vector<int16_t> missing(static_cast<size_t>(n > 0 ? n : 1), 0);
  RowBuffer* placed = nullptr;
  int rc = scs_p_ReadKeyRows(c, ks->keys, first - ks->windowStart, n, &placed, missing.data());
  if (rc != 0) return rc;
  RB_Free(set->rows);
  *set->rows = *placed;
  std::free(placed);
  for (int32_t j = 0; j < n && j < set->count; ++j) {
    int16_t& s = ks->status[first + j];
    if (missing[static_cast<size_t>(j)] != 0) s = SCS_ROW_DELETED;
    // A failed change is the change's: read again, the row is what it is.
    if (s == SCS_ROW_ERROR) s = SCS_ROW_SUCCESS;
    set->statuses[j] = s;
  }
  return 0;
}

}  // namespace

int scs_p_FetchKeyset(ScsCursor* c, RowStatusSet* set, int32_t row) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || KS_KeyCount(ks) == 0 || ks->status == nullptr) return KX_ERR_CURSOR_STATE;
  int64_t a = 0;
  int rc = AbsoluteRow(c, row, &a);
  if (rc != 0) return rc;
  const int32_t first = static_cast<int32_t>(a);
  c->rowsetStart = first + 1;
  const int32_t r = scs_p_RowsetRows(c);
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(r, int64_t{c->rowCount} - a));
  if (ks->cache.state == DSC_SPILLED) {
    rc = DSC_LoadWindow(&ks->cache, first, n, &ks->windowStart, ks->keys);
    if (rc != 0) {
      SCS_PostCacheFailure(c, &ks->cache);
      return rc;
    }
  }
  rc = RowsetByKey(c, set, first, n);
  if (rc != 0) return rc;
  return scs_p_KeepRowset(c, set->rows, first, n);
}

namespace {

// Window states of a mixed cursor.
constexpr int32_t kWindowNone = SCS_WINDOW_NONE;  // no window: build one
constexpr int32_t kWindowAfterEnd = -5;  // the position is after the last row
constexpr int32_t kWindowBeforeStart = -7;
constexpr int32_t kWindowInside = -1;

// Reads one block of keys (and ordering values) in the direction, seeking
// from boundary row `boundary` of `from` when the direction is NEXT or PRIOR.
// The block comes back in the statement's order.
int KeyBlock(ScsCursor* c, uint16_t direction, bool inclusive, const RowBuffer* from, int32_t boundary,
             int32_t count, RowBuffer** out) {
  *out = nullptr;
  std::vector<std::pair<int32_t, uint16_t>> cells;
  int rc = KS_BuildKeyBlockQuery(c, direction, inclusive, from, boundary, &cells);
  if (rc != 0) return rc;
  // The keyset statement: a positioned change prepared there goes.
  rc = scs_p_PrepareOnKeysetStmt(c, "key block", c->keysetAn.sql);
  if (rc != 0) return rc;
  RowBuffer* params = nullptr;
  std::vector<SCS_PARAMDESC> descs;
  if (!cells.empty()) {
    rc = scs_p_ElementsToParams(from, cells, &params);
    if (rc != 0) return rc;
    for (const auto& cell : cells) {
      descs.push_back(cell.second < c->blockTypes.size() ? c->blockTypes[cell.second] : SCS_PARAMDESC{SQL_CHAR, SQL_C_CHAR, 0, 0, SQL_PARAM_INPUT});
    }
  }
  RowBuffer* app = nullptr;
  rc = scs_p_KeptParamRow(c, &app);
  if (rc == 0 && app != nullptr) {
    // The seek predicate stands before the statement's own condition.
    if (params != nullptr) {
      rc = RB_JoinCols(app, params);
      scs_p_FreeRows(params);
    }
    params = app;
    for (uint16_t i = 0; i < c->appParamCount; ++i) descs.push_back(c->appParamDescs[i]);
  }
  if (rc != 0) {
    scs_p_FreeRows(params);
    return rc;
  }
  if (params != nullptr) {
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, c->keysetStmt, params);
    if (rc == 0 && !descs.empty()) {
      rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, c->keysetStmt, static_cast<uint16_t>(descs.size()),
                     static_cast<const SCS_PARAMDESC*>(descs.data()));
    }
    if (rc != 0) return rc;
  }
  rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->keysetStmt);
  if (rc != 0) return rc;
  if (c->blockTypes.empty()) {
    // The types of the block's columns: the markers of later seeks take them.
    uint16_t n = 0;
    AgentColDesc* cols = nullptr;
    if (AgentCall(Agent(), &AgentOps::DRV_DescribeCols, c->keysetStmt, &n, &cols) == 0) {
      for (uint16_t i = 0; i < n; ++i) {
        SCS_COLDESC d{};
        d.sqlType = static_cast<int16_t>(cols[i].sqlType & 0xFFFF);
        d.columnSize = cols[i].columnSize;
        d.digits = cols[i].decimalDigits;
        SCS_PARAMDESC p{};
        scs_p_ColDescToParamDesc(&d, &p);
        c->blockTypes.push_back(p);
      }
    }
    if (cols != nullptr) RB_FreeColDescs(cols, n);
  }
  auto* block = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (block == nullptr) {
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->keysetStmt);
    return KX_ERR_NOMEM;
  }
  // A long move reads more keys than one block holds: read on until the
  // count is reached or the keys run out.
  for (int32_t left = count; rc == 0 && left > 0;) {
    const uint16_t ask = static_cast<uint16_t>(left > 0xFFFF ? 0xFFFF : left);
    RowBuffer more{};
    rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->keysetStmt, ask, &more);
    const int32_t got = rc == 0 ? more.rowCount : 0;
    if (rc == 0 && block->colCount == 0) {
      *block = more;
      more = RowBuffer{};
    } else if (rc == 0 && got > 0) {
      rc = RB_Append(block, &more);
    }
    RB_Free(&more);
    left -= got;
    if (got == 0) break;  // a short block is not yet the end: rows may come a few at a time
  }
  AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->keysetStmt);
  if (rc == 0 && (direction == KS_PRIOR || direction == KS_LAST) && block->rowCount > 1) rc = RB_Reverse(&block);
  if (rc != 0) {
    scs_p_FreeRows(block);
    return rc;
  }
  *out = block;
  return 0;
}

// Rows [from, from + count) of a block as a new buffer.
int Slice(RowBuffer* block, int32_t from, int32_t count, RowBuffer** out) {
  *out = nullptr;
  int rc = RB_CloneEmpty(out, block, count > 0 ? count : 1);
  for (int32_t i = 0; rc == 0 && i < count; ++i) rc = RB_CopyRow(*out, block, i, from + i, true);
  if (rc != 0 && *out != nullptr) {
    scs_p_FreeRows(*out);
    *out = nullptr;
  }
  return rc;
}

// Makes the block the cursor's key window.
int TakeWindow(ScsCursor* c, RowBuffer* block, bool first, bool last) {
  KS_REC* ks = c->keyset;
  auto* status = static_cast<int16_t*>(std::calloc(static_cast<size_t>(block->rowCount > 0 ? block->rowCount : 1),
                                                   sizeof(int16_t)));
  if (status == nullptr) {
    scs_p_FreeRows(block);
    return KX_ERR_NOMEM;
  }
  KS_Close(ks);
  *ks->keys = *block;
  std::free(block);
  ks->status = status;
  ks->statusCount = ks->keys->rowCount;
  ks->windowStart = 0;
  c->windowFirst = first;
  c->windowLast = last;
  c->mixedWindow = kWindowInside;
  return 0;
}

// Keys a window holds: the keyset size of a mixed cursor; a dynamic cursor
// reads one rowset's keys afresh on every fetch.
int32_t WindowKeys(const ScsCursor* c) {
  if (c->cursorType == SCS_DYNAMIC) return scs_p_RowsetRows(c);
  return c->keysetSize;
}

// FIRST or LAST window: a = the rowset's window position.
int EdgeWindow(ScsCursor* c, uint16_t direction, int32_t* a) {
  const int32_t k = WindowKeys(c);
  const int32_t r = scs_p_RowsetRows(c);
  RowBuffer* block = nullptr;
  int rc = KeyBlock(c, direction, false, nullptr, 0, k, &block);
  if (rc != 0) return rc;
  const int32_t n = block->rowCount;
  if (n == 0) {
    scs_p_FreeRows(block);
    c->mixedWindow = kWindowAfterEnd;
    return KX_ERR_FETCH_BEYOND_END;
  }
  const bool whole = n < k;
  rc = TakeWindow(c, block, direction == KS_FIRST || whole, direction == KS_LAST || whole);
  if (rc != 0) return rc;
  *a = direction == KS_FIRST ? 0 : std::max(0, n - r);
  return 0;
}

// Reads the window again from window row s on (that row's ordering values
// included, whether or not the row itself is still there).
int RereadWindow(ScsCursor* c, int32_t s, int32_t* a) {
  KS_REC* ks = c->keyset;
  const int32_t k = WindowKeys(c);
  RowBuffer* block = nullptr;
  int rc = KeyBlock(c, KS_NEXT, true, ks->keys, s, k, &block);
  if (rc != 0) return rc;
  if (block->rowCount == 0) {
    // Every row from there on is gone: the rows before it are the last.
    scs_p_FreeRows(block);
    return EdgeWindow(c, KS_LAST, a);
  }
  rc = TakeWindow(c, block, c->windowFirst && s == 0, block->rowCount < k);
  *a = 0;
  return rc;
}

// Moves the rowset by v rows: within the window when it holds the new
// rowset, else through a window that seeks from the current rowset.
int MoveWindow(ScsCursor* c, int32_t v, bool prior, int32_t* a) {
  KS_REC* ks = c->keyset;
  const int32_t k = WindowKeys(c);
  const int32_t r = scs_p_RowsetRows(c);
  const int32_t n = ks->keys->rowCount;
  const int32_t s = c->rowsetStart - 1;  // window position of the current rowset
  const int32_t target = s + v;
  // A dynamic cursor never trusts the keys it holds: rows may have come and
  // gone anywhere since, so every move seeks.
  const bool dynamic = c->cursorType == SCS_DYNAMIC;
  if (dynamic && v == 0) return RereadWindow(c, s, a);
  if (!dynamic && (v == 0 || (target >= 0 && target < n && (target + r <= n || c->windowLast)))) {
    *a = v == 0 ? s : target;
    return 0;
  }
  if (!dynamic && v > 0 && c->windowLast) {
    c->mixedWindow = kWindowAfterEnd;
    return KX_ERR_FETCH_BEYOND_END;
  }
  // Before the first row: ODBC's rules for a move that passes the start.
  auto passStart = [&](int32_t rowsBefore) {
    const bool beforeStart = prior ? rowsBefore == 0 : -v > r;
    if (beforeStart) {
      c->mixedWindow = kWindowBeforeStart;
      return KX_ERR_FETCH_BEFORE_START;
    }
    return EdgeWindow(c, KS_FIRST, a);
  };
  if (!dynamic && v < 0 && c->windowFirst && target < 0) return passStart(s);
  RowBuffer* block = nullptr;
  int rc;
  if (v > 0) {
    // The keys after the current rowset's first: the new rowset starts at the v-th.
    rc = KeyBlock(c, KS_NEXT, false, ks->keys, s, v - 1 + k, &block);
    if (rc != 0) return rc;
    const int32_t got = block->rowCount;
    if (got < v) {
      scs_p_FreeRows(block);
      c->mixedWindow = kWindowAfterEnd;
      return KX_ERR_FETCH_BEYOND_END;
    }
    RowBuffer* window = nullptr;
    rc = Slice(block, v - 1, got - (v - 1), &window);
    scs_p_FreeRows(block);
    if (rc != 0) return rc;
    rc = TakeWindow(c, window, false, got < v - 1 + k);
    *a = 0;
    return rc;
  }
  // Backwards: the |v| keys before the current rowset name the new start;
  // the window then reads forward from it.
  const int32_t back = -v;
  rc = KeyBlock(c, KS_PRIOR, false, ks->keys, s, back + 1, &block);
  if (rc != 0) return rc;
  const int32_t got = block->rowCount;
  if (got < back) {
    scs_p_FreeRows(block);
    return passStart(got);
  }
  const int32_t start = got - back;  // the block is in the statement's order
  RowBuffer* window = nullptr;
  rc = KeyBlock(c, KS_NEXT, true, block, start, k, &window);
  scs_p_FreeRows(block);
  if (rc != 0) return rc;
  if (window->rowCount == 0) {
    scs_p_FreeRows(window);
    return EdgeWindow(c, KS_FIRST, a);
  }
  const bool last = window->rowCount < k;
  rc = TakeWindow(c, window, got == back, last);
  *a = 0;
  return rc;
}

}  // namespace

namespace {

// Places the key window for a scroll and gives the rowset's window position.
int PositionWindow(ScsCursor* c, int32_t row, uint16_t orientation, int32_t* pos) {
  KS_REC* ks = c->keyset;
  if (c->flags & SCSF_WINDOW_STALE) {
    c->mixedWindow = kWindowNone;
    c->flags = static_cast<uint16_t>(c->flags & ~SCSF_WINDOW_STALE);
  }
  const int32_t r = scs_p_RowsetRows(c);
  const int32_t w = c->mixedWindow;
  const bool noWindow = w == kWindowNone || ks->keys->rowCount == 0;
  int32_t a = 0;
  int rc;
  switch (orientation) {
    case SQL_FETCH_FIRST: rc = EdgeWindow(c, KS_FIRST, &a); break;
    case SQL_FETCH_LAST: rc = EdgeWindow(c, KS_LAST, &a); break;
    case SQL_FETCH_NEXT: case SQL_FETCH_PRIOR: case SQL_FETCH_RELATIVE: {
      const int32_t v = orientation == SQL_FETCH_NEXT ? r : orientation == SQL_FETCH_PRIOR ? -r : row;
      if (w == kWindowAfterEnd && v >= 0) {
        rc = KX_ERR_FETCH_BEYOND_END;
      } else if (w == kWindowAfterEnd) {
        rc = EdgeWindow(c, KS_LAST, &a);
      } else if (w == kWindowBeforeStart && v <= 0) {
        rc = KX_ERR_FETCH_BEFORE_START;
      } else if (noWindow || w == kWindowBeforeStart) {
        rc = EdgeWindow(c, KS_FIRST, &a);
      } else {
        rc = MoveWindow(c, v, orientation == SQL_FETCH_PRIOR, &a);
      }
      break;
    }
    default:
      return KX_ERR_BAD_FETCH_TYPE;
  }
  if (rc == KX_ERR_FETCH_BEYOND_END || rc == KX_ERR_FETCH_BEFORE_START) {
    c->setPosRow = rc == KX_ERR_FETCH_BEYOND_END ? SCS_AT_AFTER_LAST : SCS_AT_BEFORE_FIRST;
    c->mixedWindow = rc == KX_ERR_FETCH_BEYOND_END ? kWindowAfterEnd : kWindowBeforeStart;
  }
  *pos = a;
  return rc;
}

// Rows of the rowset at window position a.
int32_t WindowRows(const ScsCursor* c, int32_t a) {
  const int32_t r = scs_p_RowsetRows(c);
  return std::min(r, c->keyset->keys->rowCount - a);
}

// Reads the rowset at window position a by key.
int ReadWindowRows(ScsCursor* c, int32_t a, RowStatusSet* set) {
  const int32_t held = c->keyset->keys->rowCount;
  c->rowsetStart = a + 1;
  // The size of the result is known once one window holds all of it.
  c->rowCount = c->windowFirst && c->windowLast ? held : -1;
  return RowsetByKey(c, set, a, WindowRows(c, a));
}

// Attempts at reading a dynamic rowset whose rows others keep deleting
// between the key read and the row read.
constexpr int kDynamicAttempts = 3;

}  // namespace

int scs_p_FetchMixed(ScsCursor* c, int32_t row, uint16_t orientation, RowStatusSet* set) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || KS_KeyCount(ks) == 0 || c->ordering.empty()) return KX_ERR_CURSOR_STATE;
  // The window may move: the rowset held so far names keys it may no longer hold.
  scs_p_DropRowset(c);
  int32_t a = 0;
  int rc = PositionWindow(c, row, orientation, &a);
  if (rc == 0) rc = ReadWindowRows(c, a, set);
  // The rowset's rows are keys a.. of the window: a positioned change finds
  // them there.
  if (rc == 0) rc = scs_p_KeepRowset(c, set->rows, a, WindowRows(c, a));
  return rc;
}

int scs_p_FetchDynamicOrient(ScsCursor* c, int32_t offset, uint16_t orientation, RowStatusSet* set) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || KS_KeyCount(ks) == 0 || c->ordering.empty()) return KX_ERR_CURSOR_STATE;
  scs_p_DropRowset(c);
  int32_t a = 0;
  int rc = PositionWindow(c, offset, orientation, &a);
  for (int attempt = 1; rc == 0; ++attempt) {
    rc = ReadWindowRows(c, a, set);
    if (rc != 0) break;
    // A row gone between reading its key and reading it: the window no
    // longer shows the result as it stands; read the keys again from here.
    bool gone = false;
    for (int32_t j = 0; set->rows != nullptr && j < set->rows->rowCount && j < set->count; ++j) {
      if (set->statuses[j] == SCS_ROW_DELETED) gone = true;
    }
    if (!gone) {
      // With row versions, rows others changed since this cursor last saw
      // them say so.
      if (c->versionStmt != 0) rc = RVC_CheckRows(c, ks->keys, a, static_cast<uint16_t>(KS_KeyCount(ks)), set);
      break;
    }
    if (attempt == kDynamicAttempts) return KX_ERR_KEYSET_UPDATES;
    rc = RereadWindow(c, a, &a);
  }
  if (rc == KX_ERR_FETCH_BEYOND_END || rc == KX_ERR_FETCH_BEFORE_START) {
    c->setPosRow = rc == KX_ERR_FETCH_BEYOND_END ? SCS_AT_AFTER_LAST : SCS_AT_BEFORE_FIRST;
    c->mixedWindow = rc == KX_ERR_FETCH_BEYOND_END ? kWindowAfterEnd : kWindowBeforeStart;
  }
  // The window holds the rowset's keys alone: a positioned change finds them there.
  if (rc == 0) rc = scs_p_KeepRowset(c, set->rows, a, WindowRows(c, a));
  return rc;
}

int scs_p_RefreshWindow(ScsCursor* c, RowStatusSet* set) {
  KS_REC* ks = c->keyset;
  const int32_t a = c->rowsetStart - 1;
  if (ks == nullptr || KS_KeyCount(ks) == 0 || c->mixedWindow != kWindowInside || a < 0 ||
      a >= ks->keys->rowCount) {
    return KX_ERR_CURSOR_STATE;
  }
  scs_p_DropRowset(c);
  const int32_t rowCount = c->rowCount;
  int rc = ReadWindowRows(c, a, set);
  c->rowCount = rowCount;
  if (rc == 0) rc = scs_p_KeepRowset(c, set->rows, a, WindowRows(c, a));
  return rc;
}

int scs_p_ReadKeyRows(ScsCursor* c, const RowBuffer* keys, int32_t first, int32_t n, RowBuffer** placed,
                      int16_t* missing) {
  *placed = nullptr;
  KS_REC* ks = c->keyset;
  const int32_t k = KS_KeyCount(ks);
  int32_t batches = 0, lastRows = 0, perBatch = 0;
  int rc = scs_p_KeyBatchSizes(c, k, &batches, &lastRows, &perBatch);
  if (rc != 0) return rc;
  rc = PrepareByKey(c, perBatch);
  if (rc != 0) return rc;
  RowBuffer fetched{};
  rc = ReadRowsByKey(c, keys, first, n, perBatch, &fetched);
  if (rc == 0 && fetched.colCount == 0) {
    // No batch ran (n = 0): nothing to place.
    RB_Free(&fetched);
    return KX_ERR_GENERAL;
  }
  // One status for each of the n keys, not for every key before them: the
  // keys are those from key row `first` on (a window start of -first puts
  // the statuses at 0 and the key rows at first).
  std::vector<int16_t> gone;
  try {
    gone.assign(static_cast<size_t>(n > 0 ? n : 1), 0);
  } catch (const std::bad_alloc&) {
    rc = KX_ERR_NOMEM;
  }
  if (rc == 0) rc = SCS_MarkMissingRows(&fetched, keys, 0, -first, n, static_cast<uint16_t>(k), gone.data(), placed);
  if (rc == 0 && missing != nullptr) {
    for (int32_t j = 0; j < n; ++j) missing[j] = gone[static_cast<size_t>(j)] == SCS_ROW_DELETED ? 1 : 0;
  }
  RB_Free(&fetched);
  return rc;
}

int scs_p_KeyRowAt(ScsCursor* c, int32_t kn, int32_t* row) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || kn < 0 || kn >= ks->statusCount) return KX_ERR_GENERAL;
  if (scs_p_StaticChangeable(c)) {
    // The key is the tail of the cached row.
    if (ks->windowStart != kn || ks->keys->rowCount != 1) {
      RowBuffer* one = nullptr;
      int rc = SS_GetRows(c->snapshot, kn, 1, &one);
      while (rc == 0 && one->colCount > KS_KeyCount(ks)) rc = RB_DeleteCol(one, 0);
      if (rc == 0 && one->rowCount != 1) rc = KX_ERR_GENERAL;
      if (rc != 0) {
        scs_p_FreeRows(one);
        SCS_PostCacheFailure(c, &c->snapshot->cache);
        return rc;
      }
      RB_Free(ks->keys);
      *ks->keys = *one;
      std::free(one);
      ks->windowStart = kn;
    }
    *row = 0;
    return 0;
  }
  if (ks->cache.state == DSC_SPILLED &&
      (ks->windowStart < 0 || kn < ks->windowStart || kn >= ks->windowStart + ks->keys->rowCount)) {
    const int rc = DSC_LoadWindow(&ks->cache, kn, 1, &ks->windowStart, ks->keys);
    if (rc != 0) {
      SCS_PostCacheFailure(c, &ks->cache);
      return rc;
    }
  }
  const int32_t r = kn - (ks->cache.state == DSC_SPILLED ? ks->windowStart : 0);
  if (r < 0 || r >= ks->keys->rowCount) return KX_ERR_GENERAL;
  *row = r;
  return 0;
}

void scs_p_DropRowset(ScsCursor* c) {
  c->rowsetKeys.clear();
  scs_p_FreeRows(c->rowsetValues);
  c->rowsetValues = nullptr;
  scs_p_FreeRows(c->tableValues);
  c->tableValues = nullptr;
  c->tableValueKeys.clear();
}

int scs_p_KeepRowset(ScsCursor* c, const RowBuffer* rows, int32_t first, int32_t n) {
  scs_p_DropRowset(c);
  if (c->concurrency == SCS_CONCUR_READ_ONLY) return 0;
  try {
    c->rowsetKeys.assign(static_cast<size_t>(scs_p_RowsetRows(c)), -1);
    for (int32_t j = 0; j < n && j < c->rowsetSize; ++j) c->rowsetKeys[static_cast<size_t>(j)] = first + j;
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  scs_p_NoteVersions(c, rows);
  if (rows != nullptr && rows->colCount > 0) return RB_Clone(&c->rowsetValues, rows);
  return 0;
}

void scs_p_NoteVersions(ScsCursor* c, const RowBuffer* rows) {
  // Comparing the table's columns, the version is that of the table's values.
  if ((c->concurrency != SCS_CONCUR_VALUES && c->concurrency != SCS_CONCUR_ROWVER) || !scs_p_HasBookmarks(c) ||
      rows == nullptr || rows->colCount == 0 || scs_p_ValuesByTable(c)) {
    return;
  }
  const KS_REC* ks = c->keyset;
  for (size_t j = 0; j < c->rowsetKeys.size() && j < static_cast<size_t>(rows->rowCount); ++j) {
    const int32_t kn = c->rowsetKeys[j];
    if (kn < 0 || kn >= ks->statusCount || ks->status[kn] == SCS_ROW_DELETED) continue;
    std::array<uint8_t, 16> digest{};
    if (RVC_RowDigest(rows, static_cast<int32_t>(j), rows->colCount, digest.data()) != 0) continue;
    try {
      c->fetchedVersions[kn] = digest;
    } catch (const std::bad_alloc&) {
      return;  // an unknown version compares nothing, as for a row never fetched
    }
  }
}

void scs_p_DropResultCols(ScsCursor* c) {
  if (c->resultCols != nullptr) RB_FreeColDescs(c->resultCols, c->resultColCount);
  c->resultCols = nullptr;
  c->resultColCount = 0;
  c->preparedChange.clear();
}

}  // namespace kx
