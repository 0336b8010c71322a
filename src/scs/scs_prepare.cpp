// Prepare analysis: what cursor the layer can give a statement. The agent has
// prepared the statement already; the layer reads it with the SQL parser and
// settles the cursor. Static read-only cursors are served over the dataset
// cache; a request the model cannot serve (keyset-driven and dynamic cursors,
// updatable static ones, statements the parser does not read) settles on a
// static, read-only cursor, which the core reports as 01S02.
#include <cstdlib>
#include <cstring>

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

void scs_p_ResetAnalysis(ScsCursor* c) {
  SCR_FreeAnalysis(&c->main);
  SCR_InitAnalysis(&c->main);
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
    c->mixedWindow = -6;
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
  // What the model serves today: static, read-only cursors. Every other
  // request settles there.
  if (c->cursorType != SCS_STATIC || c->concurrency != SCS_CONCUR_READ_ONLY) return scs_p_ChangeCursorType(c);
  return 0;
}

}  // namespace kx
