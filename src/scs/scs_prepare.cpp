// Prepare analysis: what cursor the layer can give a statement. The agent has
// prepared the statement already; the layer reads it with the SQL parser and
// settles the cursor. Static read-only cursors are served over the dataset
// cache; keyset-driven, mixed and dynamic cursors over a SELECT whose tables
// all have a key are served by key, and so are static cursors that change
// their rows. A request the model cannot serve (tables without a key,
// DISTINCT, scalar aggregates, statements the parser does not read) settles
// on a static, read-only cursor, which the core reports as 01S02: tables
// without a key, DISTINCT, aggregates and GROUP BY, UNION, outer joins,
// statements without a table, statements the parser does not read. Such a
// cursor's rows cannot be changed: SetPos, bulk changes and positioned
// statements naming it are refused.
#include <cstdlib>
#include <cstring>
#include <string>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/log.h"
#include "util/str_util.h"

namespace kx {

namespace {

int SetAgentOption(ScsCursor* c, AgentPropertyId id, int32_t value) {
  return AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_SetProperty, c->stmt, id,
                   static_cast<const void*>(&value));
}

// Whether the statement's first keyword is SELECT (after white space and
// opening parentheses).
bool StartsWithSelect(const char* text) {
  if (text == nullptr) return false;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n' || *text == '(') ++text;
  return StrKeywordCI("SELECT", text) == text;
}

// A SELECT the parser could not read is still a query when the agent
// describes at least one result column for it.
bool AgentDescribesColumns(ScsCursor* c) {
  uint16_t count = 0;
  AgentColDesc* cols = nullptr;
  const int rc = AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_DescribeCols, c->stmt, &count, &cols);
  if (cols != nullptr) RB_FreeColDescs(cols, count);
  return rc == 0 && count > 0;
}

}  // namespace

bool SCS_IsQuery(const ScsCursor* c) { return c->main.kind == SQLN_SELECT || c->describedQuery != 0; }

int SCS_CheckUpdatable(const ScsCursor* c) {
  if (c->features & SCRF_JOIN) return KX_ERR_JOIN_RESULT;
  if (c->features & SCRF_GROUPBY) return KX_ERR_GROUP_BY;
  if (c->features & SCRF_UNION) return KX_ERR_UNION;
  if (c->features & SCRF_AGGREGATE) return KX_ERR_SCALAR_AGGREGATE;
  return 0;
}

int scs_p_CheckKeyset(const ScsCursor* c) {
  if (c->features == SCS_FEATURES_NOT_SELECT) return KX_ERR_NOT_SELECT;
  if (c->features & SCRF_GROUPBY) return KX_ERR_GROUP_BY;
  if (c->features & SCRF_UNION) return KX_ERR_UNION;
  return 0;
}

void scs_p_ResetAnalysis(ScsCursor* c) {
  SCR_FreeAnalysis(&c->main);
  SCR_InitAnalysis(&c->main);
  SCR_FreeAnalysis(&c->keysetAn);
  SCR_FreeAnalysis(&c->valuesAn);
  ARR_Free(&c->tableRefs, SCR_FreeTableRef);
  ARR_Free(&c->orderBy, nullptr);
  ARR_Free(&c->selectCols, nullptr);
  c->tableCols.clear();
  c->tableColsRead = false;
  std::free(c->genParamDescs);
  c->genParamDescs = nullptr;
  c->genParamCount = 0;
  c->byKeyGroups = 0;
  c->ordering.clear();
  c->blockTypes.clear();
  c->windowFirst = c->windowLast = false;
  c->describedQuery = 0;
  c->flags = 0;
  c->flags2 = 0;
}

int scs_p_ChangeCursorType(ScsCursor* c) {
  c->requestedCursorType = c->cursorType;
  c->requestedConcurrency = c->concurrency;
  if (c->cursorType == SCS_KEYSET_DRIVEN || c->cursorType == SCS_DYNAMIC) {
    if (SetAgentOption(c, AP_STMT_CURSOR_TYPE, SCS_STATIC) != 0) {
      LogDebug("scs_p_ChangeCursorType: Couldn't switch to static cursor");
      return KX_ERR_NOT_CAPABLE;
    }
    LogDebug("scs_p_ChangeCursorType: Switched to static cursor");
    c->cursorType = SCS_STATIC;
    c->flags |= SCSF_RESTORE;
  }
  if (c->concurrency != SCS_CONCUR_READ_ONLY) {
    if (SetAgentOption(c, AP_STMT_CONCURRENCY, SCS_CONCUR_READ_ONLY) != 0) {
      LogDebug("scs_p_ChangeCursorType: Couldn't switch to read-only concurrency");
      return KX_ERR_NOT_CAPABLE;
    }
    LogDebug("scs_p_ChangeCursorType: Switched to read-only concurrency");
    c->concurrency = SCS_CONCUR_READ_ONLY;
    c->flags |= SCSF_RESTORE;
  }
  return 0;
}

namespace {

void CopyField(char* dst, const char* src) {
  const char* text = src != nullptr ? src : "";
  const size_t n = std::strlen(text);
  StrCopyBytes(dst, text, n < SCS_NAME_LEN ? n : SCS_NAME_LEN - 1);
}

// ORDER BY positions name select items: each becomes that item's column, and
// the statement is rewritten with the columns in their place.
int OrderByResolvePos(ScsCursor* c) {
  ARR_Free(&c->selectCols, nullptr);
  int rc = scs_p_SelectColsGet(c, &c->selectCols);
  if (rc != 0) return rc;
  const char quote = SCS_IdentRules(c).quote;
  const uint8_t tables = static_cast<uint8_t>(c->tableRefs != nullptr ? c->tableRefs->count : 0);
  for (uint32_t i = 0; i < c->orderBy->count; ++i) {
    auto* item = static_cast<SCS_ORDERBYITEM*>(ARR_At(c->orderBy, i));
    if (item->position == 0) continue;
    if (item->position < 1 || static_cast<uint32_t>(item->position) > c->selectCols->count) return KX_ERR_SYNTAX;
    const auto* col = static_cast<const SCS_COLDESC*>(ARR_At(c->selectCols, static_cast<uint32_t>(item->position - 1)));
    if (col->kind == SCS_COL_EXPR) return KX_ERR_ORDER_BY_EXPRESSION;
    CopyField(item->column, col->name);
    CopyField(item->table, col->table);
    CopyField(item->alias, col->alias);
    CopyField(item->owner, col->owner);
    CopyField(item->qualifier, col->qualifier);
    item->sqlType = col->sqlType;
    item->size = col->columnSize;
    item->digits = col->digits;
    const std::string text = SCS_QualifiedColName(tables, col, quote);
    if (text.size() >= sizeof item->text) return KX_ERR_GENERAL;
    StrCopyBytes(item->text, text.data(), text.size());
  }
  return 0;
}

int OrderByNormalise(ScsCursor* c) {
  const ScsIdentRules r = SCS_IdentRules(c);
  for (uint32_t i = 0; i < c->orderBy->count; ++i) {
    auto* item = static_cast<SCS_ORDERBYITEM*>(ARR_At(c->orderBy, i));
    int rc = scs_p_NormaliseIdent(item->column, r, true);
    if (rc != 0) {
      SCS_PostMsg(c, "An ORDER BY column name is too long to quote", "S1000");
      return rc;
    }
    if (item->table[0] == '\0') continue;
    const SCR_TABLEREF* byAlias = nullptr;
    for (uint32_t k = 0; c->tableRefs != nullptr && k < c->tableRefs->count && byAlias == nullptr; ++k) {
      const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(c->tableRefs, k));
      if (ref->alias[0] != '\0' && scs_p_IdentEqual(ref->alias, item->table, r)) byAlias = ref;
    }
    if (byAlias != nullptr) {
      CopyField(item->alias, item->table);
      CopyField(item->table, byAlias->table);
      CopyField(item->owner, byAlias->owner);
    }
  }
  return 0;
}

int OrderByGet(ScsCursor* c) {
  ARR_Free(&c->orderBy, nullptr);
  c->orderBy = ARR_New(sizeof(SCS_ORDERBYITEM));
  if (c->orderBy == nullptr) return KX_ERR_NOMEM;
  int rc = SCR_OrderByGet(&c->main, c->orderBy);
  if (rc != 0) return rc;
  c->features |= c->main.flags;
  if (c->main.flags & SCRF_ORDERBYPOS) {
    rc = OrderByResolvePos(c);
    if (rc == 0) rc = SCR_OrderByResolvePositions(&c->main, c->orderBy);
    if (rc != 0) return rc;
    // The keyed queries start from the statement with the columns in place.
    char* resolved = strdup(c->main.root != nullptr && c->main.root->text != nullptr ? c->main.root->text : "");
    if (resolved == nullptr) return KX_ERR_NOMEM;
    std::free(c->text);
    c->text = resolved;
  }
  return OrderByNormalise(c);
}

// Marks each key column an ORDER BY item names with the item's 1-based
// number: the keyset's ORDER BY does not repeat it.
void OrderByMarkKeys(ScsCursor* c) {
  KS_REC* ks = c->keyset;
  if (c->orderBy == nullptr || KS_KeyCount(ks) == 0) return;
  const ScsIdentRules r = SCS_IdentRules(c);
  for (uint32_t i = 0; i < c->orderBy->count; ++i) {
    const auto* item = static_cast<const SCS_ORDERBYITEM*>(ARR_At(c->orderBy, i));
    for (int32_t k = 0; k < KS_KeyCount(ks); ++k) {
      SCS_COLDESC* key = KS_KeyCol(ks, k);
      if (!scs_p_IdentEqual(item->column, key->name, r)) continue;
      if (item->table[0] != '\0' && !scs_p_IdentEqual(item->table, key->table, r) &&
          !(key->alias[0] != '\0' && scs_p_IdentEqual(item->alias, key->alias, r))) {
        continue;
      }
      if (item->owner[0] != '\0' && !scs_p_IdentEqual(item->owner, key->owner, r)) continue;
      key->orderMark = static_cast<uint8_t>(i + 1);
      break;
    }
  }
}

// The keyset-driven model of a SELECT: its tables, ORDER BY and key columns.
int PrepareKeyset(ScsCursor* c) {
  // A connection that cannot keep several results open reads each whole.
  // DISTINCT lists each value once, not each row: no key names its rows. A
  // scalar aggregate has a single row made of many, and so has each group
  // of a GROUP BY; a UNION's rows come from several queries, an outer join's
  // may have no row of a table behind them. The keyed queries put their own
  // markers where the WHERE clause begins; the application's markers before
  // it would take the keys' values. All these are read once, by a static
  // cursor that cannot change them (01S02).
  if (c->forceStatic || (c->features & (SCRF_AGGREGATE | SCRF_GROUPBY | SCRF_UNION | SCRF_OUTERJOIN)) != 0 ||
      SCR_IsDistinct(&c->main) || SCR_ParamsBeforeWhere(&c->main)) {
    return scs_p_ChangeCursorType(c);
  }
  int rc = scs_p_CheckKeyset(c);
  if (rc != 0) return rc;
  c->tableRefs = ARR_New(sizeof(SCR_TABLEREF));
  if (c->tableRefs == nullptr) return KX_ERR_NOMEM;
  rc = SCR_TablesGet(&c->main, c->tableRefs, c->connInfo != nullptr ? c->connInfo->noCatalogNames : 0);
  if (rc != 0) {
    LogDebug("SCR_TablesGet failed");
    return rc;
  }
  // Without a table (SELECT 1, SELECT now()) no row has a key either.
  if (c->tableRefs->count == 0) {
    ARR_Free(&c->tableRefs, SCR_FreeTableRef);
    return scs_p_ChangeCursorType(c);
  }
  rc = scs_p_GetTblDescs(c, c->tableRefs);
  if (rc != 0) return rc;
  if (c->main.flags & SCRF_ORDERBY) {
    rc = OrderByGet(c);
    if (rc != 0) return rc;
  }
  rc = KS_GetKeyColDescs(c, c->tableRefs);
  if (rc == KX_ERR_NO_KEY_COLUMNS) {
    // Without a key no row can be found again: the rows are read once.
    KS_Reset(c->keyset);
    return scs_p_ChangeCursorType(c);
  }
  if (rc != 0) {
    LogDebug("KS_GetKeyColDescs failed");
    return rc;
  }
  OrderByMarkKeys(c);
  // The seek ordering of a mixed cursor (the keyset size may come later).
  rc = scs_p_OrderKeyColsGet(c);
  if (rc == 0 && c->cursorType == SCS_DYNAMIC && c->connInfo != nullptr && c->connInfo->rowVersionTable != 0) {
    rc = RVC_Open(c);
  }
  return rc;
}

}  // namespace

int scs_p_PrepareCursor(ScsCursor* c, const char* text) {
  if (c->flags & SCSF_ANALYSED) {
    scs_p_ResetAnalysis(c);  // also clears SCSF_ANALYSED
  }
  if (c->flags & SCSF_RESTORE) {
    // The last statement fell back: this one starts from what was asked.
    if (SetAgentOption(c, AP_STMT_CURSOR_TYPE, c->requestedCursorType) == 0) {
      c->cursorType = c->requestedCursorType;
    }
    if (SetAgentOption(c, AP_STMT_CONCURRENCY, c->requestedConcurrency) == 0) {
      c->concurrency = c->requestedConcurrency;
    }
    c->flags = static_cast<uint16_t>(c->flags & ~SCSF_RESTORE);
  }
  // The text is kept whatever the cursor: an execute with a scrollable
  // cursor set after this prepare analyses it then.
  char* copy = strdup(text != nullptr ? text : "");
  if (copy == nullptr) return KX_ERR_NOMEM;
  std::free(c->text);
  c->text = copy;
  if (c->cursorType != SCS_KEYSET_DRIVEN && c->cursorType != SCS_DYNAMIC && c->cursorType != SCS_STATIC) {
    return 0;
  }
  c->flags |= SCSF_ANALYSED;
  SCS_ReadConnInfo(c->connInfo);
  const int parsed = SCR_AnalyseSQL(&c->main, c->text, 0, c->connInfo != nullptr ? c->connInfo->noCatalogNames : 0);
  if (parsed == KX_ERR_NOMEM) return parsed;
  if (c->main.kind <= 0) {
    LogDebug("SCR_AnalyseSQL failed: %s", c->text);
    if (c->main.errMsg != nullptr) LogDebug("%s", c->main.errMsg);
    if (c->main.sql != nullptr) LogDebug("%s", c->main.sql);
    c->main.kind = SQLN_OTHER;
    if (StartsWithSelect(c->text) && AgentDescribesColumns(c)) c->describedQuery = 1;
  }
  const int32_t kind = c->main.kind;
  if (kind != SQLN_DELETEPOS && kind != SQLN_UPDATEPOS) {
    c->features = SCS_FEATURES_NOT_SELECT;
    c->mixedWindow = SCS_WINDOW_NONE;
    KS_Reset(c->keyset);
    SS_Close(c->snapshot);
    c->rowCount = -1;
    c->setPosRow = SCS_AT_BEFORE_FIRST;
  }
  if (kind == SQLN_DELETEPOS || kind == SQLN_UPDATEPOS) {
    // Positioned statements run on the agent as they stand; the rows they
    // change belong to the cursor of another statement.
    return 0;
  }
  if (kind == SQLN_SELECT) {
    c->features = c->main.flags;
  } else if (kind != SQLN_OTHER && kind != SQLN_CALLESC && !c->describedQuery) {
    return 0;  // INSERT, searched UPDATE and DELETE: no cursor to emulate
  }
  // A static cursor that changes its rows needs their keys as a keyset does.
  if (kind == SQLN_SELECT && (c->cursorType != SCS_STATIC || c->concurrency != SCS_CONCUR_READ_ONLY)) {
    return PrepareKeyset(c);
  }
  // Static cursors are served read-only; so is every query the model cannot
  // take apart.
  if (c->cursorType != SCS_STATIC || c->concurrency != SCS_CONCUR_READ_ONLY) return scs_p_ChangeCursorType(c);
  return 0;
}

}  // namespace kx
