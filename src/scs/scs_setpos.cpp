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

// The table's comparable columns (values concurrency, mode 1): every column
// but long values and inexact numbers, read once per prepare.
int TableCols(ScsCursor* c) {
  if (c->tableColsRead) return 0;
  ARR* cols = ARR_New(sizeof(SCS_COLDESC));
  if (cols == nullptr) return KX_ERR_NOMEM;
  int rc = scs_p_GetTblColDescs(c, c->tableRefs, true, cols);
  for (uint32_t i = 0; rc == 0 && i < cols->count; ++i) {
    const auto* d = static_cast<const SCS_COLDESC*>(ARR_At(cols, i));
    if (!LongOrInexact(d->sqlType)) c->tableCols.push_back(*d);
  }
  ARR_Free(&cols, nullptr);
  if (rc != 0) {
    c->tableCols.clear();
    return rc;
  }
  c->tableColsRead = true;
  return 0;
}

// Reads the table's comparable columns of the rows of key numbers `keys`
// by key: *placed holds one row per key, in their order (a NULL row for a
// key whose row is gone, whose entry of *missing becomes 1).
int ReadTableRows(ScsCursor* c, const std::vector<int32_t>& keys, RowBuffer** placed, std::vector<int16_t>* missing) {
  *placed = nullptr;
  KS_REC* ks = c->keyset;
  const int32_t k = KS_KeyCount(ks);
  const auto n = static_cast<int32_t>(keys.size());
  int rc = TableCols(c);
  if (rc != 0) return rc;
  if (n == 0 || c->tableCols.empty()) return KX_ERR_GENERAL;
  // Their key rows side by side, whatever windows they lie in.
  Owned wanted;
  int32_t kr = 0;
  rc = scs_p_KeyRowAt(c, keys[0], &kr);  // the key rows' layout is there now
  RowBuffer* w = nullptr;
  if (rc == 0) rc = RB_CloneEmpty(&w, ks->keys, n);
  wanted.reset(w);
  for (int32_t u = 0; rc == 0 && u < n; ++u) {
    rc = scs_p_KeyRowAt(c, keys[static_cast<size_t>(u)], &kr);
    if (rc == 0) rc = RB_CopyRow(wanted.rb, ks->keys, u, kr, false);
  }
  if (rc != 0) return rc;
  // As many keys a statement as the data source's parameter limit allows.
  const int32_t room = c->connInfo != nullptr ? c->connInfo->maxParams : 255;
  int32_t groups = k > 0 ? room / k : 0;
  if (groups > n) groups = n;
  if (groups <= 0) return KX_ERR_GENERAL;
  std::string text = "SELECT ";
  for (size_t i = 0; i < c->tableCols.size(); ++i) text += std::string(i > 0 ? ", " : "") + c->tableCols[i].name;
  for (int32_t i = 0; i < k; ++i) text += std::string(", ") + KS_KeyCol(ks, i)->name;
  std::vector<std::string> keyNames;
  for (int32_t i = 0; i < k; ++i) keyNames.emplace_back(KS_KeyCol(ks, i)->name);
  const bool rowValues = c->connInfo != nullptr && c->connInfo->rowValueIn != 0;
  text += " FROM " + TargetTable(c) + " WHERE " + KS_KeyMatchText(keyNames, groups, rowValues);
  std::vector<SCS_PARAMDESC> descs;
  for (int32_t g = 0; g < groups; ++g) {
    for (int32_t i = 0; i < k; ++i) {
      SCS_PARAMDESC d{};
      scs_p_ColDescToParamDesc(KS_KeyCol(ks, i), &d);
      descs.push_back(d);
    }
  }
  if (c->tableValuesStmt == 0 &&
      AgentCall(Agent(), &AgentOps::DRV_AllocStmt, c->conn, &c->tableValuesStmt) != 0) {
    c->tableValuesStmt = 0;
    return KX_ERR_GENERAL;
  }
  const AgentHandle h = c->tableValuesStmt;
  if (text != c->tableValuesText) {
    c->tableValuesText.clear();
    LogDebug("table values: %s", text.c_str());
    rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, h, text.c_str());
    if (rc != 0) return rc;
    c->tableValuesText = text;
  }
  RowBuffer fetched{};
  for (int32_t done = 0; rc == 0 && done < n; done += groups) {
    const int32_t batch = n - done < groups ? n - done : groups;
    RowBuffer* params = nullptr;
    rc = KS_KeyRowsToParams(wanted.rb, static_cast<uint16_t>(k), done, groups, batch, &params);
    if (rc == 0) {
      rc = AgentCall(Agent(), &AgentOps::DRV_SetParams, h, params);
      if (rc != 0) scs_p_FreeRows(params);
    }
    if (rc == 0) {
      rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, h, static_cast<uint16_t>(descs.size()),
                     static_cast<const SCS_PARAMDESC*>(descs.data()));
    }
    if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_Execute, h);
    for (int32_t got = 0; rc == 0 && got < batch;) {
      RowBuffer block{};
      rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, h, static_cast<uint16_t>(batch - got), &block);
      const int32_t more = rc == 0 ? block.rowCount : 0;
      if (rc == 0 && fetched.colCount == 0) {
        fetched = block;
        block = RowBuffer{};
      } else if (rc == 0 && more > 0) {
        rc = RB_Append(&fetched, &block);
      }
      RB_Free(&block);
      if (more == 0) break;
      got += more;
    }
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, h);
  }
  if (rc == 0 && fetched.colCount == 0) rc = KX_ERR_GENERAL;
  std::vector<int16_t> gone(static_cast<size_t>(n), 0);
  if (rc == 0) rc = SCS_MarkMissingRows(&fetched, wanted.rb, 0, 0, n, static_cast<uint16_t>(k), gone.data(), placed);
  RB_Free(&fetched);
  if (rc == 0 && missing != nullptr) {
    missing->assign(static_cast<size_t>(n), 0);
    for (int32_t j = 0; j < n; ++j) (*missing)[static_cast<size_t>(j)] = gone[static_cast<size_t>(j)] == SCS_ROW_DELETED ? 1 : 0;
  }
  return rc;
}

// The row of the table values that holds key kn, -1 none.
int32_t TableValueRow(const ScsCursor* c, int32_t kn) {
  for (size_t u = 0; u < c->tableValueKeys.size(); ++u) {
    if (c->tableValueKeys[u] == kn) return static_cast<int32_t>(u);
  }
  return -1;
}

// Values concurrency by the table's columns: the old values of row u of
// values (table columns) that the row must still hold.
int AddOldTableValues(ScsCursor* c, const RowBuffer* values, int32_t u, Change* ch) {
  if (values == nullptr || u < 0 || u >= values->rowCount) return 0;
  std::vector<uint16_t> compared;
  const size_t n = std::min<size_t>(values->colCount, c->tableCols.size());
  for (size_t k = 0; k < n; ++k) {
    const SCS_COLDESC& col = c->tableCols[k];
    if (IsNullAt(values, static_cast<uint16_t>(k), u)) {
      ch->text += std::string(" AND ") + col.name + " IS NULL";
      continue;
    }
    ch->text += std::string(" AND ") + col.name + " = ?";
    SCS_PARAMDESC d{};
    scs_p_ColDescToParamDesc(&col, &d);
    ch->descs.push_back(d);
    compared.push_back(static_cast<uint16_t>(k));
  }
  if (compared.empty()) return 0;
  RowBuffer* old = nullptr;
  const int rc = RowOf(values, u, compared, &old);
  if (rc != 0) return rc;
  ch->parts.push_back(old);
  return 0;
}

// Under optimistic concurrency: the old values of rowset row j (of the
// rowset's values) that the row must still hold.
int AddOldValues(ScsCursor* c, const RowBuffer* values, int32_t j, Change* ch) {
  if (!Optimistic(c) || values == nullptr || j < 0 || j >= values->rowCount) {
    return 0;
  }
  std::vector<uint16_t> compared;
  const uint16_t n = std::min<uint16_t>(values->colCount, c->resultColCount);
  for (uint16_t k = 0; k < n; ++k) {
    const SCS_COLDESC* item = nullptr;
    if (SelectItem(c, static_cast<uint16_t>(k + 1), &item) != 0 || item->kind != SCS_COL_COLUMN) continue;
    if (LongOrInexact(static_cast<int16_t>(c->resultCols[k].sqlType & 0xFFFF))) continue;
    if (IsNullAt(values, k, j)) {
      ch->text += std::string(" AND ") + item->name + " IS NULL";
      continue;
    }
    ch->text += std::string(" AND ") + item->name + " = ?";
    ch->descs.push_back(ResultParamDesc(c, static_cast<uint16_t>(k + 1)));
    compared.push_back(k);
  }
  if (compared.empty()) return 0;
  RowBuffer* old = nullptr;
  const int rc = RowOf(values, j, compared, &old);
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

// Reads key kn's row by key now (locked as it is read under row-version
// concurrency, where the data source can): *placed (a new one-row buffer)
// and *missing when the row is gone.
int ReadRowByKey(ScsCursor* c, int32_t kn, bool lock, RowBuffer** placed, int16_t* missing) {
  *placed = nullptr;
  *missing = 0;
  int32_t kr = 0;
  int rc = scs_p_KeyRowAt(c, kn, &kr);
  if (rc != 0) return rc;
  c->versionCheck = lock;
  rc = scs_p_ReadKeyRows(c, c->keyset->keys, kr, 1, placed, missing);
  c->versionCheck = false;
  return rc;
}

// Under optimistic concurrency, a change by bookmark of a row outside the
// rowset: the row as the data source holds it now (*now) must still be the
// one the application last fetched (its noted version). 0 with *same, or the
// failing read's code. A row the application never fetched compares nothing.
int OutsideVersion(ScsCursor* c, int32_t kn, RowBuffer** now, bool* same) {
  *same = true;
  int16_t missing = 0;
  int rc = 0;
  if (scs_p_ValuesByTable(c)) {
    std::vector<int16_t> gone;
    rc = ReadTableRows(c, std::vector<int32_t>{kn}, now, &gone);
    missing = rc == 0 && !gone.empty() ? gone[0] : 0;
  } else {
    rc = ReadRowByKey(c, kn, c->concurrency == SCS_CONCUR_ROWVER, now, &missing);
  }
  if (rc != 0) return rc;
  if (missing != 0) {
    *same = false;
    return 0;
  }
  const auto it = c->fetchedVersions.find(kn);
  if (it == c->fetchedVersions.end()) return 0;
  std::array<uint8_t, 16> current{};
  rc = RVC_RowDigest(*now, 0, (*now)->colCount, current.data());
  if (rc != 0) return rc;
  *same = current == it->second;
  return 0;
}

// One UPDATE or DELETE of key kn. oldRow: the rowset row with its old values
// (-1 none); dataRow: the row of the data block (update). Returns the row's
// new status.
uint16_t ChangeRow(ScsCursor* c, int32_t operation, int32_t kn, int32_t oldRow, const RowBuffer* data,
                   const uint16_t* columns, int32_t dataRow, int* failure, const RowBuffer* outside = nullptr) {
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
    // The old values: the rowset's row, or the row outside the rowset as it
    // was just read and compared.
    if (rc == 0 && scs_p_ValuesByTable(c)) {
      rc = outside != nullptr ? AddOldTableValues(c, outside, 0, &ch)
                              : AddOldTableValues(c, c->tableValues, TableValueRow(c, kn), &ch);
    } else if (rc == 0) {
      rc = outside != nullptr ? AddOldValues(c, outside, 0, &ch) : AddOldValues(c, c->rowsetValues, oldRow, &ch);
    }
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
  if (!Optimistic(c)) return;
  if (c->rowsetValues == nullptr) {
    if (!rows.empty()) scs_p_NoteTableValues(c);
    return;
  }
  for (int32_t j : rows) {
    int32_t kr = 0;
    if (scs_p_KeyRowAt(c, c->rowsetKeys[static_cast<size_t>(j)], &kr) != 0) continue;
    RowBuffer* placed = nullptr;
    int16_t missing = 0;
    if (scs_p_ReadKeyRows(c, c->keyset->keys, kr, 1, &placed, &missing) != 0) continue;
    if (missing == 0 && placed->colCount == c->rowsetValues->colCount) RB_CopyRow(c->rowsetValues, placed, j, 0, false);
    scs_p_FreeRows(placed);
  }
  scs_p_NoteVersions(c, c->rowsetValues);
  if (!rows.empty()) scs_p_NoteTableValues(c);
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

// A row the cursor changed outside the rowset: its new values are the
// version the next change compares with (a deleted row has none).
void NoteChangedVersion(ScsCursor* c, int32_t kn, int32_t operation) {
  c->fetchedVersions.erase(kn);
  if (operation != SQL_UPDATE || !Optimistic(c)) return;
  RowBuffer* placed = nullptr;
  int16_t missing = 0;
  int rc = 0;
  if (scs_p_ValuesByTable(c)) {
    std::vector<int16_t> gone;
    rc = ReadTableRows(c, std::vector<int32_t>{kn}, &placed, &gone);
    missing = rc == 0 && !gone.empty() ? gone[0] : 1;
  } else {
    rc = ReadRowByKey(c, kn, false, &placed, &missing);
  }
  if (rc == 0 && missing == 0) {
    std::array<uint8_t, 16> digest{};
    if (RVC_RowDigest(placed, 0, placed->colCount, digest.data()) == 0) {
      try {
        c->fetchedVersions[kn] = digest;
      } catch (const std::bad_alloc&) {
      }
    }
  }
  scs_p_FreeRows(placed);
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

bool scs_p_ValuesByTable(const ScsCursor* c) {
  return c->concurrency == SCS_CONCUR_VALUES && c->optimisticMode != 2 && scs_p_Changeable(c) &&
         c->tableRefs->count == 1 && SCS_CheckUpdatable(c) == 0;
}

int scs_p_NoteTableValues(ScsCursor* c) {
  scs_p_FreeRows(c->tableValues);
  c->tableValues = nullptr;
  c->tableValueKeys.clear();
  if (!scs_p_ValuesByTable(c)) return 0;
  const KS_REC* ks = c->keyset;
  std::vector<int32_t> keys;
  for (const int32_t kn : c->rowsetKeys) {
    if (kn >= 0 && kn < ks->statusCount && ks->status[kn] != SCS_ROW_DELETED) keys.push_back(kn);
  }
  if (keys.empty()) return 0;
  RowBuffer* placed = nullptr;
  std::vector<int16_t> missing;
  const int rc = ReadTableRows(c, keys, &placed, &missing);
  if (rc != 0) return rc;
  c->tableValues = placed;
  c->tableValueKeys = keys;
  for (size_t u = 0; u < keys.size(); ++u) {
    // A row gone since compares with nothing: its change finds no row.
    if (missing[u] != 0) c->tableValueKeys[u] = -1;
  }
  // The versions a change by bookmark outside the rowset compares with.
  if (scs_p_HasBookmarks(c)) {
    for (size_t u = 0; u < keys.size(); ++u) {
      if (c->tableValueKeys[u] < 0) continue;
      std::array<uint8_t, 16> digest{};
      if (RVC_RowDigest(placed, static_cast<int32_t>(u), placed->colCount, digest.data()) != 0) continue;
      c->fetchedVersions[keys[u]] = digest;
    }
  }
  return 0;
}

bool scs_p_LocksByUpdate(const ScsCursor* c) {
  return c->concurrency == SCS_CONCUR_LOCK && c->connInfo != nullptr && c->connInfo->lockByUpdate != 0 &&
         c->connInfo->selectForUpdate == 0 && scs_p_Changeable(c) && SCS_CheckUpdatable(c) == 0;
}

int scs_p_LockRows(ScsCursor* c, const std::vector<int32_t>& keys, std::vector<int32_t>* failed) {
  failed->clear();
  KS_REC* ks = c->keyset;
  int rc = EnsureKeysetStmt(c);
  if (rc != 0) return rc;
  int32_t wanted = 0;
  for (const int32_t kn : keys) {
    const int16_t* st = KeyStatus(c, kn);
    if (st == nullptr || (*st != SCS_ROW_SUCCESS && *st != SCS_ROW_UPDATED)) continue;
    ++wanted;
    // The row's key columns assigned their own values: the data source
    // locks the row as for any update, until the transaction ends, and the
    // row stays as it is.
    Change ch;
    int32_t kr = 0;
    rc = scs_p_KeyRowAt(c, kn, &kr);
    ch.text = "UPDATE " + TargetTable(c) + " SET ";
    for (int32_t i = 0; rc == 0 && i < KS_KeyCount(ks); ++i) {
      if (i > 0) ch.text += ", ";
      ch.text += std::string(KS_KeyCol(ks, i)->name) + " = ?";
      SCS_PARAMDESC d{};
      scs_p_ColDescToParamDesc(KS_KeyCol(ks, i), &d);
      ch.descs.push_back(d);
    }
    RowBuffer* set = nullptr;
    if (rc == 0) rc = KS_KeyRowsToParams(ks->keys, static_cast<uint16_t>(KS_KeyCount(ks)), kr, 1, 1, &set);
    if (rc == 0) ch.parts.push_back(set);
    if (rc == 0) rc = AddKey(c, kn, &ch);
    int32_t locked = 0;
    if (rc == 0) rc = RunChange(c, ch, &locked);
    if (rc == KX_ERR_NOMEM) return rc;
    if (rc != 0 || locked <= 0) failed->push_back(kn);
    rc = 0;
  }
  if (failed->empty()) return 0;
  LogError("scs_p_LockRows: Couldn't acquire row lock(s): %d of %d", static_cast<int>(failed->size()),
           static_cast<int>(wanted));
  return KX_ERR_ROW_ERROR;
}

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
  const int32_t n = operation == SQL_ADD ? data->rowCount : (row == SCS_AT_ALL_ROWS ? scs_p_HeldRows(c) : 1);
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

// The answer of a fetch by bookmark: a bookmark that names no row gives its
// row SQL_ROW_ERROR. When not one of them names a row the call fails with
// HY111, one message a bookmark (the rows' statuses still go out); else the
// rows in error make it a success with information (01S01).
template <typename Names>
int BookmarksAnswer(ScsCursor* c, const uint32_t* bookmarks, uint16_t n, int32_t invalid, Names names) {
  if (invalid < n) return 0;
  for (uint16_t i = 0; i < n; ++i) {
    if (names(bookmarks[i])) continue;
    SCS_PostMsg(c, ("Bookmark " + std::to_string(bookmarks[i]) + " names no row of the cursor").c_str(), "HY111");
  }
  return KX_ERR_BAD_BOOKMARK;
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
  int32_t found = 0, invalid = 0;
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
    if (kn < 0) ++invalid;
  }
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  c->setPosRowsAffected = found;
  // The fetched rows are the rowset the application holds now.
  c->heldRows = n;
  rc = scs_p_KeepRowset(c, set->rows, 0, 0);
  if (rc == 0 && c->concurrency != SCS_CONCUR_READ_ONLY) {
    c->rowsetKeys = rowsetKeys;
    scs_p_NoteVersions(c, set->rows);
    rc = scs_p_NoteTableValues(c);
  }
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  *fetched = set;
  return BookmarksAnswer(c, bookmarks, n, invalid, [&](uint32_t b) { return KeyOfBookmark(c, b) >= 0; });
}

// A static cursor that cannot change its rows has bookmarks all the same:
// each is the row's number in the cached result, read from there.
int BulkFetchStatic(ScsCursor* c, const uint32_t* bookmarks, uint16_t n, uint16_t* statuses, RowStatusSet** fetched) {
  if ((c->flags & SCSF_CACHED) == 0) {
    const int rc = scs_p_CacheResult(c);
    if (rc != 0) return rc;
  }
  auto names = [&](uint32_t b) { return b >= 1 && static_cast<int64_t>(b) <= c->rowCount; };
  RowStatusSet* set = nullptr;
  int rc = RowStatusSetNew(&set, n);
  if (rc != 0) return rc;
  Owned rows;
  int32_t invalid = 0, found = 0;
  for (uint16_t i = 0; i < n && rc == 0; ++i) {
    uint16_t st = SCS_ROW_ERROR;
    if (names(bookmarks[i])) {
      RowBuffer* one = nullptr;
      rc = SS_GetRows(c->snapshot, static_cast<int32_t>(bookmarks[i] - 1), 1, &one);
      if (rc != 0) SCS_PostCacheFailure(c, &c->snapshot->cache);
      Owned row(one);
      if (rc == 0 && one->rowCount != 1) rc = KX_ERR_GENERAL;
      if (rc == 0 && rows.rb == nullptr) {
        RowBuffer* r = nullptr;
        rc = RB_CloneEmpty(&r, one, n);
        rows.reset(r);
      }
      if (rc == 0) rc = RB_CopyRow(rows.rb, one, i, 0, false);
      st = SCS_ROW_SUCCESS;
      ++found;
    } else {
      ++invalid;
    }
    set->statuses[i] = static_cast<int16_t>(st);
    statuses[i] = st;
  }
  if (rc == 0 && rows.rb != nullptr) rows.rb->rowCount = n;  // NULL rows hold the places of the others
  if (rc == 0 && rows.rb == nullptr) {
    // Not one bookmark names a row: no values, only the rows' statuses.
    rows.reset(static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer))));
    if (rows.rb == nullptr) rc = KX_ERR_NOMEM;
  }
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  RB_Free(set->rows);
  RowBuffer* taken = rows.release();
  *set->rows = *taken;
  std::free(taken);
  c->setPosRowsAffected = found;
  c->heldRows = n;
  *fetched = set;
  return BookmarksAnswer(c, bookmarks, n, invalid, names);
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
    Owned now;
    if (j < 0 && Optimistic(c)) {
      bool same = true;
      RowBuffer* read = nullptr;
      const int rc = OutsideVersion(c, kn, &read, &same);
      now.reset(read);
      if (rc != 0) continue;  // the row's error; its messages are on the keyset statement
      if (!same) {
        SCS_PostMsg(c, kConflict, "01001");
        continue;
      }
    }
    const uint16_t st = ChangeRow(c, op, kn, j, data, columns, i, &failure, now.rb);
    statuses[i] = st;
    if (st != SCS_ROW_ERROR) {
      ++done;
      if (ks != nullptr) *ks = static_cast<int16_t>(st);
      if (op == SQL_UPDATE && j >= 0) updated.push_back(j);
      if (j < 0) NoteChangedVersion(c, kn, op);
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
  // Changes need a cursor whose rows can be changed.
  if (operation != SQL_FETCH_BY_BOOKMARK && c->concurrency == SCS_CONCUR_READ_ONLY) return KX_ERR_BAD_OPTION;
  const bool staticRows = c->cursorType == SCS_STATIC && !scs_p_Changeable(c) && SCS_IsQuery(c);
  if (operation == SQL_FETCH_BY_BOOKMARK && staticRows) {
    auto* out = static_cast<uint16_t*>(std::calloc(n, sizeof(uint16_t)));
    if (out == nullptr) return KX_ERR_NOMEM;
    for (uint16_t i = 0; i < n; ++i) out[i] = SCS_ROW_ERROR;
    *statuses = out;
    if (count != nullptr) *count = n;
    c->messages.clear();
    try {
      return BulkFetchStatic(c, bookmarks, n, out, fetched);
    } catch (const std::bad_alloc&) {
      return KX_ERR_NOMEM;
    }
  }
  // A bookmark is a row's number in the result: a window's keys have none.
  if (!scs_p_HasBookmarks(c)) return KX_ERR_NO_BULK_OPS;
  if (operation != SQL_FETCH_BY_BOOKMARK) {
    int rc = SCS_CheckUpdatable(c);
    if (rc != 0) return rc;
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
