// Positioned changes and bulk operations by bookmark. The agent below the
// layer only runs statements: a SetPos UPDATE, DELETE or ADD becomes an
// UPDATE, DELETE or INSERT on the query's table, keyed on the key columns the
// key set holds, run row by row on the keyset statement. Under values
// concurrency the old values of the row's plain columns join the WHERE
// clause, so a row another user changed since it was read is left alone and
// reported (01001); under lock concurrency the rows were locked when read.
// Under row-version concurrency the row's version is a digest of the whole
// row as the application holds it (every column, long and inexact values and
// expressions too): the row is read again by key before it is changed, and a
// row whose digest differs, or that is gone, is left alone (01001). The old
// values join the WHERE clause as well, so that a change made between that
// read and the change is not overwritten either. The rowset's values are read
// again after an update: they are the version the next change compares with.
//
// Columns are named by the base column the select list names, never by the
// result's label (SELECT a AS b, b AS a writes the right columns); a result
// column that is an expression cannot be written and is refused.
//
// A bookmark is a row's 1-based number in the key set. It is application
// input: one outside the key set gives its row an error, the others go on.
// Rows fetched by bookmark are read by key and matched back to their
// bookmarks by key, whatever order the bookmarks come in.
#include <sqlext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <new>
#include <string>
#include <vector>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

constexpr const char* kConflict = "Cursor operation conflict: the row was changed or deleted since it was fetched";

struct Owned {
  RowBuffer* rb = nullptr;
  Owned() = default;
  explicit Owned(RowBuffer* r) : rb(r) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }
  void reset(RowBuffer* r = nullptr) {
    scs_p_FreeRows(rb);
    rb = r;
  }
  RowBuffer* release() {
    RowBuffer* r = rb;
    rb = nullptr;
    return r;
  }
};

bool LongOrInexact(int16_t t) {
  switch (t) {
    case SQL_LONGVARCHAR: case SQL_WLONGVARCHAR: case SQL_LONGVARBINARY: case SQL_REAL: case SQL_FLOAT:
    case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

void DrainHelperMessages(ScsCursor* c) {
  c->messages.clear();
  if (c->keysetStmt == 0) return;
  AgentMsgBlock stale{};
  if (AgentCall(Agent(), &AgentOps::DRV_GetMessages, c->keysetStmt, &stale) == 0) StrListFree(&stale);
}

int EnsureKeysetStmt(ScsCursor* c) {
  if (c->keysetStmt != 0) return 0;
  if (AgentCall(Agent(), &AgentOps::DRV_AllocStmt, c->conn, &c->keysetStmt) != 0) {
    c->keysetStmt = 0;
    return KX_ERR_GENERAL;
  }
  c->preparedChange.clear();
  return 0;
}

int ResultCols(ScsCursor* c) {
  if (c->resultCols != nullptr) return 0;
  uint16_t count = 0;
  AgentColDesc* cols = nullptr;
  const int rc = AgentCall(Agent(), &AgentOps::DRV_DescribeCols, c->stmt, &count, &cols);
  if (rc != 0) {
    if (cols != nullptr) RB_FreeColDescs(cols, count);
    return rc;
  }
  c->resultCols = cols;
  c->resultColCount = count;
  return 0;
}

// The table a change writes: [qualifier.][owner.]table, as the statement
// names it.
std::string TargetTable(const ScsCursor* c) {
  const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(c->tableRefs, 0));
  // The parts are the catalog's spellings: quoted, each names exactly that
  // table, whatever its case or the characters in it (unquoted, a name with
  // a space or of another case would name another table, or none).
  const char quote = SCS_IdentRules(c).quote;
  std::string t;
  if (ref->qualifier != nullptr && ref->qualifier[0] != '\0') t += SCS_QuoteName(ref->qualifier, quote) + ".";
  if (ref->owner != nullptr && ref->owner[0] != '\0') t += SCS_QuoteName(ref->owner, quote) + ".";
  return t + SCS_QuoteName(ref->table != nullptr ? ref->table : "", quote);
}

// The select-list item of result column n (1-based).
int SelectItem(ScsCursor* c, uint16_t n, const SCS_COLDESC** out) {
  if (c->selectCols == nullptr) {
    const int rc = scs_p_SelectColsGet(c, &c->selectCols);
    if (rc != 0) return rc;
  }
  if (n == 0 || n > c->selectCols->count) return KX_ERR_BAD_COLUMN_NUMBER;
  *out = static_cast<const SCS_COLDESC*>(ARR_At(c->selectCols, n - 1u));
  return 0;
}

// The base column a change writes for result column n.
int BaseColumn(ScsCursor* c, uint16_t n, std::string* name) {
  const SCS_COLDESC* item = nullptr;
  int rc = SelectItem(c, n, &item);
  if (rc == KX_ERR_BAD_COLUMN_NUMBER) {
    SCS_PostMsg(c, ("Result column " + std::to_string(n) + " is not a column of the select list").c_str(), "S1002");
    return rc;
  }
  if (rc != 0) return rc;
  if (item->kind != SCS_COL_COLUMN) {
    SCS_PostMsg(c, ("Result column " + std::to_string(n) +
                    " is an expression, not a column of the table: it cannot be updated or inserted")
                       .c_str(),
                "HY000");
    return KX_ERR_GENERAL;
  }
  *name = item->name;
  return 0;
}

SCS_PARAMDESC ResultParamDesc(const ScsCursor* c, uint16_t n) {
  SCS_COLDESC col{};
  const AgentColDesc& d = c->resultCols[n - 1];
  col.sqlType = static_cast<int16_t>(d.sqlType & 0xFFFF);
  col.columnSize = d.columnSize;
  col.digits = d.decimalDigits;
  SCS_PARAMDESC p{};
  scs_p_ColDescToParamDesc(&col, &p);
  return p;
}

// One row of src with the given columns, as a new one-row buffer.
int RowOf(const RowBuffer* src, int32_t row, const std::vector<uint16_t>& cols, RowBuffer** out) {
  *out = nullptr;
  RowBuffer* one = nullptr;
  int rc = RB_CloneEmpty(&one, src, 1);
  if (rc == 0) rc = RB_CopyRow(one, const_cast<RowBuffer*>(src), 0, row, false);
  for (int32_t k = static_cast<int32_t>(src->colCount) - 1; rc == 0 && k >= 0; --k) {
    if (std::find(cols.begin(), cols.end(), static_cast<uint16_t>(k)) == cols.end()) {
      rc = RB_DeleteCol(one, static_cast<uint16_t>(k));
    }
  }
  if (rc != 0) {
    scs_p_FreeRows(one);
    return rc;
  }
  *out = one;
  return 0;
}

// Joins parameter parts into one row, in order (parts without columns are
// passed over). Takes over every part.
int JoinParts(std::vector<RowBuffer*>& parts, RowBuffer** out) {
  *out = nullptr;
  RowBuffer* acc = nullptr;
  int rc = 0;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    RowBuffer* p = *it;
    *it = nullptr;
    if (p == nullptr) continue;
    if (rc != 0 || p->colCount == 0) {
      scs_p_FreeRows(p);
      continue;
    }
    if (acc == nullptr) {
      acc = p;
      continue;
    }
    rc = RB_JoinCols(acc, p);
    scs_p_FreeRows(p);
  }
  if (rc != 0) {
    scs_p_FreeRows(acc);
    return rc;
  }
  *out = acc;
  return 0;
}

bool IsNullAt(const RowBuffer* rb, uint16_t col, int32_t row) {
  return rb->columns[col].indicators != nullptr && rb->columns[col].indicators[row] == RB_IND_NULL;
}

// One change to run: the statement text, its parameter row and descriptions.
struct Change {
  std::string text;
  std::vector<RowBuffer*> parts;
  std::vector<SCS_PARAMDESC> descs;
  ~Change() {
    for (RowBuffer* p : parts) {
      scs_p_FreeRows(p);
    }
  }
};

// Runs a change on the keyset statement: 0 with *rows the rows it changed,
// or the failing call's code (its messages stay on the keyset statement).
int RunChange(ScsCursor* c, Change& ch, int32_t* rows) {
  *rows = 0;
  int rc = 0;
  if (ch.text != c->preparedChange) {
    c->preparedChange.clear();
    LogDebug("positioned change: %s", ch.text.c_str());
    rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, c->keysetStmt, ch.text.c_str());
    if (rc != 0) return rc;
    c->preparedChange = ch.text;
  }
  RowBuffer* params = nullptr;
  rc = JoinParts(ch.parts, &params);
  if (rc != 0) return rc;
  if (params != nullptr) {
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, c->keysetStmt, params);
    if (rc != 0) {
      // Not taken: still ours.
      scs_p_FreeRows(params);
      return rc;
    }
  }
  rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, c->keysetStmt, static_cast<uint16_t>(ch.descs.size()),
                 ch.descs.empty() ? static_cast<const SCS_PARAMDESC*>(nullptr) : ch.descs.data());
  // One row's failure must not take the other rows' changes of the open
  // transaction with it. An agent that cannot do so runs the row as it is.
  const int32_t alone = 1;
  if (rc == 0) {
    AgentCall(Agent(), &AgentOps::DRV_SetProperty, c->keysetStmt, AP_STMT_FAIL_ALONE,
              static_cast<const void*>(&alone));
    rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->keysetStmt);
  }
  if (rc != 0) return rc;
  int32_t count = 0;
  uint16_t length = 0;
  rc = AgentCall(Agent(), &AgentOps::DRV_GetProperty, c->keysetStmt, AP_STMT_ROW_COUNT, static_cast<void*>(&count),
                 static_cast<uint16_t>(4), &length);
  if (rc != 0) return rc;
  *rows = count;
  return 0;
}

// The key predicate and key parameters of key number kn.
int AddKey(ScsCursor* c, int32_t kn, Change* ch) {
  KS_REC* ks = c->keyset;
  int32_t row = 0;
  int rc = scs_p_KeyRowAt(c, kn, &row);
  if (rc != 0) return rc;
  ch->text += " WHERE ";
  for (int32_t i = 0; i < KS_KeyCount(ks); ++i) {
    if (i > 0) ch->text += " AND ";
    ch->text += std::string(KS_KeyCol(ks, i)->name) + " = ?";
    SCS_PARAMDESC d{};
    scs_p_ColDescToParamDesc(KS_KeyCol(ks, i), &d);
    ch->descs.push_back(d);
  }
  RowBuffer* keys = nullptr;
  rc = KS_KeyRowsToParams(ks->keys, static_cast<uint16_t>(KS_KeyCount(ks)), row, 1, 1, &keys);
  if (rc != 0) return rc;
  ch->parts.push_back(keys);
  return 0;
}

// Optimistic concurrency: a change compares the row with the one the
// application holds.
bool Optimistic(const ScsCursor* c) {
  return c->concurrency == SCS_CONCUR_VALUES || c->concurrency == SCS_CONCUR_ROWVER;
}

// Under optimistic concurrency: the old values of rowset row j (of the
// rowset's values) that the row must still hold.
int AddOldValues(ScsCursor* c, int32_t j, Change* ch) {
  if (!Optimistic(c) || c->rowsetValues == nullptr || j < 0 || j >= c->rowsetValues->rowCount) {
    return 0;
  }
  std::vector<uint16_t> compared;
  const uint16_t n = std::min<uint16_t>(c->rowsetValues->colCount, c->resultColCount);
  for (uint16_t k = 0; k < n; ++k) {
    const SCS_COLDESC* item = nullptr;
    if (SelectItem(c, static_cast<uint16_t>(k + 1), &item) != 0 || item->kind != SCS_COL_COLUMN) continue;
    if (LongOrInexact(static_cast<int16_t>(c->resultCols[k].sqlType & 0xFFFF))) continue;
    if (IsNullAt(c->rowsetValues, k, j)) {
      ch->text += std::string(" AND ") + item->name + " IS NULL";
      continue;
    }
    ch->text += std::string(" AND ") + item->name + " = ?";
    ch->descs.push_back(ResultParamDesc(c, static_cast<uint16_t>(k + 1)));
    compared.push_back(k);
  }
  if (compared.empty()) return 0;
  RowBuffer* old = nullptr;
  const int rc = RowOf(c->rowsetValues, j, compared, &old);
  if (rc != 0) return rc;
  ch->parts.push_back(old);
  return 0;
}

// The columns row l of the data block writes (elements not ignored).
std::vector<uint16_t> WrittenColumns(const RowBuffer* data, int32_t l) {
  std::vector<uint16_t> cols;
  for (uint16_t k = 0; k < data->colCount; ++k) {
    if (data->columns[k].indicators[l] != RB_IND_IGNORE) cols.push_back(k);
  }
  return cols;
}

int16_t* KeyStatus(ScsCursor* c, int32_t kn) {
  KS_REC* ks = c->keyset;
  return ks != nullptr && ks->status != nullptr && kn >= 0 && kn < ks->statusCount ? &ks->status[kn] : nullptr;
}

// The rowset row holding key kn, -1 when the rowset does not hold it.
int32_t RowsetRowOf(const ScsCursor* c, int32_t kn) {
  for (size_t j = 0; j < c->rowsetKeys.size(); ++j) {
    if (c->rowsetKeys[j] == kn) return static_cast<int32_t>(j);
  }
  return -1;
}

// Under row-version concurrency: whether key kn's row in the data source is
// still the one rowset row j holds (j -1: the application holds no version of
// it, nothing to compare). 0 with *same, or the failing read's code.
int SameVersion(ScsCursor* c, int32_t kn, int32_t j, bool* same) {
  *same = true;
  if (c->concurrency != SCS_CONCUR_ROWVER || c->rowsetValues == nullptr || j < 0 ||
      j >= c->rowsetValues->rowCount) {
    return 0;
  }
  int32_t kr = 0;
  int rc = scs_p_KeyRowAt(c, kn, &kr);
  if (rc != 0) return rc;
  RowBuffer* placed = nullptr;
  int16_t missing = 0;
  c->versionCheck = true;
  rc = scs_p_ReadKeyRows(c, c->keyset->keys, kr, 1, &placed, &missing);
  c->versionCheck = false;
  Owned now(placed);
  if (rc != 0) return rc;
  if (missing != 0 || placed->colCount != c->rowsetValues->colCount) {
    *same = false;
    return 0;
  }
  uint8_t held[16], current[16];
  rc = RVC_RowDigest(c->rowsetValues, j, c->rowsetValues->colCount, held);
  if (rc == 0) rc = RVC_RowDigest(placed, 0, placed->colCount, current);
  if (rc != 0) return rc;
  *same = std::memcmp(held, current, sizeof held) == 0;
  return 0;
}

// One UPDATE or DELETE of key kn. oldRow: the rowset row with its old values
// (-1 none); dataRow: the row of the data block (update). Returns the row's
// new status.
uint16_t ChangeRow(ScsCursor* c, int32_t operation, int32_t kn, int32_t oldRow, const RowBuffer* data,
                   const uint16_t* columns, int32_t dataRow, int* failure) {
  Change ch;
  int rc = 0;
  try {
    if (operation == SQL_DELETE) {
      ch.text = "DELETE FROM " + TargetTable(c);
    } else {
      const std::vector<uint16_t> cols = WrittenColumns(data, dataRow);
      ch.text = "UPDATE " + TargetTable(c) + " SET ";
      for (size_t i = 0; i < cols.size() && rc == 0; ++i) {
        std::string name;
        rc = BaseColumn(c, columns[cols[i]], &name);
        if (i > 0) ch.text += ", ";
        ch.text += name + " = ?";
        ch.descs.push_back(ResultParamDesc(c, columns[cols[i]]));
      }
      RowBuffer* values = nullptr;
      if (rc == 0) rc = RowOf(data, dataRow, cols, &values);
      if (rc == 0) ch.parts.push_back(values);
    }
    if (rc == 0) rc = AddKey(c, kn, &ch);
    if (rc == 0) rc = AddOldValues(c, oldRow, &ch);
  } catch (const std::bad_alloc&) {
    rc = KX_ERR_NOMEM;
  }
  if (rc != 0) {
    // Not a row's failure: the operation itself cannot be carried out.
    *failure = rc;
    return SCS_ROW_ERROR;
  }
  bool same = true;
  if (SameVersion(c, kn, oldRow, &same) != 0) return SCS_ROW_ERROR;
  if (!same) {
    SCS_PostMsg(c, kConflict, "01001");
    return SCS_ROW_ERROR;
  }
  int32_t changed = 0;
  if (RunChange(c, ch, &changed) != 0) return SCS_ROW_ERROR;
  if (changed <= 0) {
    SCS_PostMsg(c, kConflict, "01001");
    return SCS_ROW_ERROR;
  }
  return operation == SQL_DELETE ? SCS_ROW_DELETED : SCS_ROW_UPDATED;
}

// After an update the rowset's old values of the rows changed are what the
// data source holds now, so that the next change of them compares with those.
void RefreshRowsetValues(ScsCursor* c, const std::vector<int32_t>& rows) {
  if (c->rowsetValues == nullptr || !Optimistic(c)) return;
  for (int32_t j : rows) {
    int32_t kr = 0;
    if (scs_p_KeyRowAt(c, c->rowsetKeys[static_cast<size_t>(j)], &kr) != 0) continue;
    RowBuffer* placed = nullptr;
    int16_t missing = 0;
    if (scs_p_ReadKeyRows(c, c->keyset->keys, kr, 1, &placed, &missing) != 0) continue;
    if (missing == 0 && placed->colCount == c->rowsetValues->colCount) RB_CopyRow(c->rowsetValues, placed, j, 0, false);
    scs_p_FreeRows(placed);
  }
}

// A dynamic cursor that keeps row versions (DYN_CURS_SENSITIVITY=HIGH) takes
// the rows it changed at their new versions: its next fetch reports other
// users' changes, not its own. A row whose version cannot be stored is
// merely reported as changed once more.
void StoreOwnVersions(ScsCursor* c, const std::vector<int32_t>& rows) {
  if (c->versionStmt == 0) return;
  KS_REC* ks = c->keyset;
  for (int32_t j : rows) {
    int32_t kr = 0;
    if (scs_p_KeyRowAt(c, c->rowsetKeys[static_cast<size_t>(j)], &kr) != 0) continue;
    RowBuffer* placed = nullptr;
    int16_t missing = 0;
    if (scs_p_ReadKeyRows(c, ks->keys, kr, 1, &placed, &missing) != 0) continue;
    Owned now(placed);
    RowStatusSet* one = nullptr;
    if (missing != 0 || RowStatusSetNew(&one, 1) != 0) continue;
    RB_Free(one->rows);
    RowBuffer* taken = now.release();
    *one->rows = *taken;
    std::free(taken);
    one->statuses[0] = SCS_ROW_SUCCESS;
    RVC_CheckRows(c, ks->keys, kr, static_cast<uint16_t>(KS_KeyCount(ks)), one);
    RowStatusSetFree(&one);
  }
}

int Finish(ScsCursor* c, int32_t asked, int32_t done) {
  c->setPosRowsAffected = done;
  if (asked == 0) return 0;
  if (done == 0) return KX_ERR_NO_ROWS_CHANGED;
  return done < asked ? KX_ERR_MANY_ROWS_CHANGED : 0;
}

int PosUpdateOrDelete(ScsCursor* c, int32_t row, int32_t operation, uint16_t* statuses, int32_t n,
                      const RowBuffer* data, const uint16_t* columns) {
  int32_t asked = 0, done = 0;
  int failure = 0;
  std::vector<int32_t> updated;
  for (int32_t i = 0; i < n && failure == 0; ++i) {
    const int32_t j = row == SCS_AT_ALL_ROWS ? i : row - 1;  // rowset row
    const int32_t kn = static_cast<size_t>(j) < c->rowsetKeys.size() ? c->rowsetKeys[static_cast<size_t>(j)] : -1;
    int16_t* ks = KeyStatus(c, kn);
    statuses[i] = ks != nullptr ? static_cast<uint16_t>(*ks) : SQL_ROW_NOROW;
    if (ks == nullptr) continue;
    // The delete block spans the rowset; an update's holds the rows concerned.
    const int32_t l = operation == SQL_DELETE ? j : (row == SCS_AT_ALL_ROWS ? i : 0);
    if (l >= data->rowCount) continue;
    if (operation == SQL_DELETE ? data->columns[0].indicators[l] == RB_IND_IGNORE : WrittenColumns(data, l).empty()) {
      continue;
    }
    ++asked;
    const uint16_t st = ChangeRow(c, operation, kn, j, data, columns, l, &failure);
    *ks = static_cast<int16_t>(st);
    statuses[i] = st;
    if (st != SCS_ROW_ERROR) {
      ++done;
      if (operation == SQL_UPDATE) updated.push_back(j);
    }
  }
  if (failure != 0) return failure;
  RefreshRowsetValues(c, updated);
  StoreOwnVersions(c, updated);
  return Finish(c, asked, done);
}

int PosInsert(ScsCursor* c, uint16_t* statuses, int32_t n, const RowBuffer* data, const uint16_t* columns) {
  int32_t asked = 0, done = 0;
  for (int32_t l = 0; l < n; ++l) {
    statuses[l] = SQL_ROW_NOROW;
    if (l >= data->rowCount) continue;
    const std::vector<uint16_t> cols = WrittenColumns(data, l);
    if (cols.empty()) continue;  // an ignored row
    ++asked;
    Change ch;
    int rc = 0;
    ch.text = "INSERT INTO " + TargetTable(c) + " (";
    std::string marks;
    for (size_t i = 0; i < cols.size() && rc == 0; ++i) {
      std::string name;
      rc = BaseColumn(c, columns[cols[i]], &name);
      ch.text += (i > 0 ? ", " : "") + name;
      marks += i > 0 ? ", ?" : "?";
      ch.descs.push_back(ResultParamDesc(c, columns[cols[i]]));
    }
    if (rc != 0) return rc;
    ch.text += ") VALUES (" + marks + ")";
    RowBuffer* values = nullptr;
    rc = RowOf(data, l, cols, &values);
    if (rc != 0) return rc;
    ch.parts.push_back(values);
    int32_t changed = 0;
    rc = RunChange(c, ch, &changed);
    statuses[l] = rc == 0 ? SQL_ROW_ADDED : SQL_ROW_ERROR;
    if (rc == 0) ++done;
  }
  c->setPosRowsAffected = done;
  return done < asked ? KX_ERR_ROW_ERROR : 0;
}

}  // namespace

bool scs_p_Changeable(const ScsCursor* c) {
  const KS_REC* ks = c->keyset;
  // Every cursor over keys: the whole result's (keyset-driven, static) or a
  // window's (mixed, dynamic), whose rowset rows are keys of the window.
  return KS_KeyCount(ks) > 0 && ks->status != nullptr && c->tableRefs != nullptr && c->tableRefs->count > 0 &&
         (c->cursorType == SCS_KEYSET_DRIVEN || c->cursorType == SCS_DYNAMIC || c->cursorType == SCS_STATIC);
}

bool scs_p_WindowCursor(const ScsCursor* c) {
  return (c->cursorType == SCS_KEYSET_DRIVEN && c->keysetSize > 0) || c->cursorType == SCS_DYNAMIC;
}

bool scs_p_HasBookmarks(const ScsCursor* c) {
  return scs_p_Changeable(c) && ((c->cursorType == SCS_KEYSET_DRIVEN && c->keysetSize == 0) ||
                                 c->cursorType == SCS_STATIC);
}

int scs_p_SetPosOp(ScsCursor* c, int32_t row, int32_t operation, uint16_t** statuses, int32_t* count,
                   RowBuffer* data, uint16_t* columns, uint16_t columnCount) {
  Owned block(data);
  struct FreeList {
    uint16_t* p;
    ~FreeList() { std::free(p); }
  } list{columns};
  if (statuses != nullptr) *statuses = nullptr;
  if (count != nullptr) *count = 0;
  c->refreshRowset = false;
  // Positioning is all the rowset row takes: the core reads the row's values
  // from the rowset it holds. A refresh is the core's too: it fetches the
  // rowset again where it stands, and that fetch keeps the row positioned
  // on; a cursor over a window of keys then reads the rows of the keys it
  // holds (its rowset's members stay; a row gone since shows as deleted)
  // rather than seeking its place afresh.
  if (operation == SQL_POSITION) return 0;
  if (operation == SQL_REFRESH) {
    c->refreshRowset = true;
    return 0;
  }
  if (operation != SQL_UPDATE && operation != SQL_DELETE && operation != SQL_ADD) return 0;
  if (statuses == nullptr || data == nullptr || (operation != SQL_DELETE && (columns == nullptr || columnCount == 0))) {
    return KX_ERR_BAD_ARGUMENT;
  }
  if (operation != SQL_DELETE && data->colCount != columnCount) return KX_ERR_BAD_ARGUMENT;
  int rc = SCS_CheckUpdatable(c);
  if (rc != 0) return rc;
  if (c->concurrency == SCS_CONCUR_READ_ONLY && operation != SQL_ADD) return KX_ERR_BAD_ARGUMENT;
  if (!scs_p_Changeable(c)) return KX_ERR_NOT_CAPABLE;
  DrainHelperMessages(c);
  rc = EnsureKeysetStmt(c);
  if (rc == 0) rc = ResultCols(c);
  if (rc != 0) return rc;
  for (uint16_t i = 0; operation != SQL_DELETE && i < columnCount; ++i) {
    if (columns[i] == 0 || columns[i] > c->resultColCount) return KX_ERR_BAD_COLUMN_NUMBER;
  }
  const int32_t n = operation == SQL_ADD ? data->rowCount : (row == SCS_AT_ALL_ROWS ? c->rowsetSize : 1);
  auto* out = static_cast<uint16_t*>(std::calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(uint16_t)));
  if (out == nullptr) return KX_ERR_NOMEM;
  try {
    rc = operation == SQL_ADD ? PosInsert(c, out, n, data, columns)
                              : PosUpdateOrDelete(c, row, operation, out, n, data, columns);
  } catch (const std::bad_alloc&) {
    rc = KX_ERR_NOMEM;
  }
  if (rc != 0 && rc != KX_ERR_NO_ROWS_CHANGED && rc != KX_ERR_MANY_ROWS_CHANGED && rc != KX_ERR_ROW_ERROR) {
    std::free(out);
    return rc;
  }
  *statuses = out;
  if (count != nullptr) *count = n;
  return rc;
}

// ---- bulk operations by bookmark -------------------------------------------------------

namespace {

// Key number of a bookmark, -1 for one that names no row of the key set.
int32_t KeyOfBookmark(const ScsCursor* c, uint32_t b) {
  const KS_REC* ks = c->keyset;
  if (b == 0 || ks == nullptr || static_cast<int64_t>(b) > ks->statusCount) return -1;
  return static_cast<int32_t>(b) - 1;
}

int BulkFetch(ScsCursor* c, const uint32_t* bookmarks, uint16_t n, uint16_t* statuses, RowStatusSet** fetched) {
  KS_REC* ks = c->keyset;
  // The distinct keys asked for, in key order.
  std::vector<int32_t> keys;
  for (uint16_t i = 0; i < n; ++i) {
    const int32_t kn = KeyOfBookmark(c, bookmarks[i]);
    if (kn >= 0) keys.push_back(kn);
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  RowStatusSet* set = nullptr;
  int rc = RowStatusSetNew(&set, n);
  if (rc != 0) return rc;
  Owned placed;
  std::vector<int16_t> missing(keys.size() + 1, 0);
  if (!keys.empty()) {
    // Their key rows side by side, whatever windows they lie in.
    Owned wanted;
    RowBuffer* w = nullptr;
    int32_t first = 0;
    rc = scs_p_KeyRowAt(c, keys[0], &first);  // the key rows' layout is there now
    if (rc == 0) rc = RB_CloneEmpty(&w, ks->keys, static_cast<int32_t>(keys.size()));
    wanted.reset(w);
    for (size_t u = 0; rc == 0 && u < keys.size(); ++u) {
      int32_t kr = 0;
      rc = scs_p_KeyRowAt(c, keys[u], &kr);
      if (rc == 0) rc = RB_CopyRow(wanted.rb, ks->keys, static_cast<int32_t>(u), kr, false);
    }
    RowBuffer* p = nullptr;
    if (rc == 0) rc = scs_p_ReadKeyRows(c, wanted.rb, 0, static_cast<int32_t>(keys.size()), &p, missing.data());
    placed.reset(p);
  }
  RowBuffer* rows = nullptr;
  if (rc == 0 && placed.rb != nullptr) rc = RB_CloneEmpty(&rows, placed.rb, n);
  if (rc == 0 && rows == nullptr) {
    // Not one bookmark names a row: rows of the result's columns, all NULL.
    rc = ResultCols(c);
    if (rc == 0) {
      rows = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
      if (rows == nullptr) rc = KX_ERR_NOMEM;
    }
  }
  if (rc != 0) {
    scs_p_FreeRows(rows);
    RowStatusSetFree(&set);
    return rc;
  }
  RB_Free(set->rows);
  *set->rows = *rows;
  std::free(rows);
  std::vector<int32_t> rowsetKeys(static_cast<size_t>(n), -1);
  int32_t found = 0;
  for (uint16_t i = 0; i < n && rc == 0; ++i) {
    const int32_t kn = KeyOfBookmark(c, bookmarks[i]);
    const ptrdiff_t u = kn >= 0 ? std::lower_bound(keys.begin(), keys.end(), kn) - keys.begin() : -1;
    uint16_t st = SCS_ROW_ERROR;
    if (u >= 0 && set->rows->colCount > 0) {
      if (missing[static_cast<size_t>(u)] != 0) {
        st = SCS_ROW_DELETED;
        if (int16_t* s = KeyStatus(c, kn); s != nullptr) *s = SCS_ROW_DELETED;
      } else {
        rc = RB_CopyRow(set->rows, placed.rb, i, static_cast<int32_t>(u), false);
        int16_t* s = KeyStatus(c, kn);
        st = s != nullptr && (*s == SCS_ROW_UPDATED) ? SCS_ROW_UPDATED : SCS_ROW_SUCCESS;
        ++found;
      }
      rowsetKeys[i] = kn;
    }
    if (set->rows->colCount > 0 && set->rows->rowCount <= i) set->rows->rowCount = i + 1;  // a NULL row holds the place
    set->statuses[i] = static_cast<int16_t>(st);
    statuses[i] = st;
  }
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  c->setPosRowsAffected = found;
  // The fetched rows are the rowset the application holds now.
  rc = scs_p_KeepRowset(c, set->rows, 0, 0);
  if (rc == 0 && c->concurrency != SCS_CONCUR_READ_ONLY) c->rowsetKeys = rowsetKeys;
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  *fetched = set;
  return 0;
}

int BulkChange(ScsCursor* c, uint16_t operation, const uint32_t* bookmarks, uint16_t n, const RowBuffer* data,
               const uint16_t* columns, uint16_t* statuses) {
  int32_t asked = 0, done = 0;
  int failure = 0;
  std::vector<int32_t> updated;
  const int32_t op = operation == SQL_UPDATE_BY_BOOKMARK ? SQL_UPDATE : SQL_DELETE;
  for (uint16_t i = 0; i < n && failure == 0; ++i) {
    statuses[i] = SCS_ROW_ERROR;
    if (op == SQL_UPDATE && (i >= data->rowCount || WrittenColumns(data, i).empty())) continue;
    ++asked;
    const int32_t kn = KeyOfBookmark(c, bookmarks[i]);
    if (kn < 0) {
      SCS_PostMsg(c, ("Bookmark " + std::to_string(bookmarks[i]) + " names no row of the cursor").c_str(), "HY111");
      continue;
    }
    int16_t* ks = KeyStatus(c, kn);
    if (ks != nullptr && (*ks == SCS_ROW_DELETED)) {
      statuses[i] = SCS_ROW_DELETED;
      SCS_PostMsg(c, kConflict, "01001");
      continue;
    }
    const int32_t j = RowsetRowOf(c, kn);
    const uint16_t st = ChangeRow(c, op, kn, j, data, columns, i, &failure);
    statuses[i] = st;
    if (st != SCS_ROW_ERROR) {
      ++done;
      if (ks != nullptr) *ks = static_cast<int16_t>(st);
      if (op == SQL_UPDATE && j >= 0) updated.push_back(j);
    }
  }
  if (failure != 0) return failure;
  // A row of the rowset changed by bookmark is compared with its new values
  // when it is changed again.
  RefreshRowsetValues(c, updated);
  return Finish(c, asked, done);
}

}  // namespace

int scs_p_BulkOps(ScsCursor* c, uint16_t operation, const uint32_t* bookmarks, uint16_t n, RowBuffer* data,
                  uint16_t* columns, uint16_t columnCount, uint16_t** statuses, uint16_t* count,
                  RowStatusSet** fetched) {
  Owned block(data);
  struct FreeList {
    uint16_t* p;
    ~FreeList() { std::free(p); }
  } list{columns};
  *statuses = nullptr;
  if (count != nullptr) *count = 0;
  if (fetched != nullptr) *fetched = nullptr;
  if (operation == SQL_ADD || bookmarks == nullptr || n == 0) return KX_ERR_GENERAL;
  if (operation == SQL_UPDATE_BY_BOOKMARK &&
      (data == nullptr || columns == nullptr || columnCount == 0 || data->colCount != columnCount)) {
    return KX_ERR_GENERAL;
  }
  if (operation == SQL_FETCH_BY_BOOKMARK && fetched == nullptr) return KX_ERR_GENERAL;
  // A bookmark is a row's number in the result: a window's keys have none.
  if (!scs_p_HasBookmarks(c)) return KX_ERR_NO_BULK_OPS;
  if (operation != SQL_FETCH_BY_BOOKMARK) {
    int rc = SCS_CheckUpdatable(c);
    if (rc != 0) return rc;
    if (c->concurrency == SCS_CONCUR_READ_ONLY) return KX_ERR_BAD_ARGUMENT;
  }
  DrainHelperMessages(c);
  int rc = EnsureKeysetStmt(c);
  if (rc == 0) rc = ResultCols(c);
  if (rc != 0) return rc;
  for (uint16_t i = 0; operation == SQL_UPDATE_BY_BOOKMARK && i < columnCount; ++i) {
    if (columns[i] == 0 || columns[i] > c->resultColCount) return KX_ERR_BAD_COLUMN_NUMBER;
  }
  auto* out = static_cast<uint16_t*>(std::calloc(n, sizeof(uint16_t)));
  if (out == nullptr) return KX_ERR_NOMEM;
  for (uint16_t i = 0; i < n; ++i) out[i] = SCS_ROW_ERROR;
  *statuses = out;  // the caller's from here on, whatever follows
  if (count != nullptr) *count = n;
  c->setPosRowsAffected = 0;
  try {
    if (operation == SQL_FETCH_BY_BOOKMARK) return BulkFetch(c, bookmarks, n, out, fetched);
    return BulkChange(c, operation, bookmarks, n, data, columns, out);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
}

// ---- positioned UPDATE and DELETE statements ---------------------------------------------

int scs_p_ParsePositioned(ScsCursor* c, const char* sql, std::string* standIn) {
  c->posKind = 0;
  // Only a text that says CURRENT can be one: every other statement is spared
  // the parser (which parses one statement at a time in the process).
  if (sql == nullptr || strcasestr(sql, "current") == nullptr) return 0;
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  const std::string copy = sql != nullptr ? sql : "";
  SCR_AnalyseSQL(&a, copy.c_str(), 0, 0);
  int found = 0;
  if ((a.kind == SQLN_UPDATEPOS || a.kind == SQLN_DELETEPOS) && a.root != nullptr) {
    const SQL_NODE* table = a.root->child;
    const SQL_NODE* set = a.kind == SQLN_UPDATEPOS && table != nullptr ? table->next : nullptr;
    const SQL_NODE* cursor = a.kind == SQLN_UPDATEPOS ? (set != nullptr ? set->next : nullptr)
                                                      : (table != nullptr ? table->next : nullptr);
    if (table != nullptr && table->text != nullptr && cursor != nullptr && cursor->text != nullptr &&
        (a.kind == SQLN_DELETEPOS || (set != nullptr && set->text != nullptr))) {
      c->posKind = a.kind;
      c->posTable = table->text;
      c->posSet = set != nullptr ? set->text : "";
      c->posCursor = cursor->text;
      // Until it runs, the statement is prepared without a row, so that its
      // parameters are described as the application wrote them.
      *standIn = a.kind == SQLN_UPDATEPOS ? "UPDATE " + c->posTable + " SET " + c->posSet + " WHERE 1 = 0"
                                          : "DELETE FROM " + c->posTable + " WHERE 1 = 0";
      found = 1;
    }
  }
  SCR_FreeAnalysis(&a);
  return found;
}

int scs_p_ExecPositioned(ScsCursor* c) {
  c->messages.clear();
  ScsCursor* cur = SCS_FindCursorByName(c->conn, c->posCursor, c);
  if (cur == nullptr) {
    SCS_PostMsg(c, ("No cursor named " + c->posCursor + " is open on this connection").c_str(), "34000");
    return KX_ERR_BAD_CURSOR_NAME;
  }
  if (!scs_p_Changeable(cur) || cur->concurrency == SCS_CONCUR_READ_ONLY || SCS_CheckUpdatable(cur) != 0) {
    SCS_PostMsg(c, ("Cursor " + c->posCursor + " is read-only: its rows cannot be changed through it").c_str(),
                "24000");
    return KX_ERR_CURSOR_STATE;
  }
  const int32_t row = cur->setPosRow;
  const int32_t kn = row >= 1 && static_cast<size_t>(row) <= cur->rowsetKeys.size()
                         ? cur->rowsetKeys[static_cast<size_t>(row - 1)]
                         : -1;
  int16_t* status = KeyStatus(cur, kn);
  if (status == nullptr || *status == SCS_ROW_DELETED) {
    SCS_PostMsg(c, ("Cursor " + c->posCursor + " stands on no row").c_str(), "24000");
    return KX_ERR_CURSOR_STATE;
  }
  KS_REC* ks = cur->keyset;
  int32_t kr = 0;
  int rc = scs_p_KeyRowAt(cur, kn, &kr);
  if (rc != 0) return rc;
  std::string text = c->posKind == SQLN_UPDATEPOS ? "UPDATE " + c->posTable + " SET " + c->posSet
                                                  : "DELETE FROM " + c->posTable;
  text += " WHERE ";
  std::vector<SCS_PARAMDESC> descs;
  for (int32_t i = 0; i < KS_KeyCount(ks); ++i) {
    if (i > 0) text += " AND ";
    text += std::string(KS_KeyCol(ks, i)->name) + " = ?";
  }
  LogDebug("positioned statement: %s", text.c_str());
  rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, c->stmt, text.c_str());
  if (rc != 0) return rc;
  RowBuffer* keys = nullptr;
  rc = KS_KeyRowsToParams(ks->keys, static_cast<uint16_t>(KS_KeyCount(ks)), kr, 1, 1, &keys);
  if (rc != 0) return rc;
  std::vector<RowBuffer*> parts;
  RowBuffer* app = nullptr;
  rc = scs_p_KeptParamRow(c, &app);
  if (rc != 0) {
    scs_p_FreeRows(keys);
    return rc;
  }
  const uint16_t appCols = app != nullptr ? app->colCount : 0;
  parts.push_back(app);
  parts.push_back(keys);
  RowBuffer* params = nullptr;
  rc = JoinParts(parts, &params);
  if (rc != 0) return rc;
  rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, c->stmt, params);
  if (rc != 0) {
    scs_p_FreeRows(params);
    return rc;
  }
  // The application's descriptions, when it gave one per marker, and the
  // key columns' after them.
  if (c->appParamCount == appCols) {
    for (uint16_t i = 0; i < c->appParamCount; ++i) descs.push_back(c->appParamDescs[i]);
    for (int32_t i = 0; i < KS_KeyCount(ks); ++i) {
      SCS_PARAMDESC d{};
      scs_p_ColDescToParamDesc(KS_KeyCol(ks, i), &d);
      descs.push_back(d);
    }
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, c->stmt, static_cast<uint16_t>(descs.size()),
                   static_cast<const SCS_PARAMDESC*>(descs.data()));
    if (rc != 0) return rc;
  }
  rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->stmt);
  if (rc != 0) return rc;
  int32_t count = 0;
  uint16_t length = 0;
  if (AgentCall(Agent(), &AgentOps::DRV_GetProperty, c->stmt, AP_STMT_ROW_COUNT, static_cast<void*>(&count),
                static_cast<uint16_t>(4), &length) == 0 &&
      count > 0) {
    *status = c->posKind == SQLN_UPDATEPOS ? SCS_ROW_UPDATED : SCS_ROW_DELETED;
  }
  return 0;
}

}  // namespace kx
