// The prepare step shared by SQLPrepare and SQLExecDirect, and SQLPrepare.
#include <sqlext.h>

#include <cstdlib>
#include <strings.h>

#include "odbc/cursor_state.h"
#include "odbc/diag.h"
#include "odbc/exec/execute.h"
#include "odbc/exec/param_dae.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

int32_t AskStmtInt(StmtRecord* stmt, AgentPropertyId id, int32_t* value) {
  uint16_t length = 0;
  return AgentCall(*stmt->binding, &AgentOps::DRV_GetProperty, stmt->agentStmt, id,
                   static_cast<void*>(value), static_cast<uint16_t>(4), &length);
}

int32_t SetStmtInt(StmtRecord* stmt, AgentPropertyId id, int32_t value) {
  return AgentCall(*stmt->binding, &AgentOps::DRV_SetProperty, stmt->agentStmt, id,
                   static_cast<const void*>(&value));
}

}  // namespace

int StmtPrepareText(StmtRecord* stmt, const char* text) {
  StmtClose(stmt);
  StmtFreeColDescs(stmt);
  // Known from the text, so that a failed prepare's diagnostics name it too.
  stmt->dynamicFunction = DiagFunctionOfText(text);
  SCS_CURSOR& c = stmt->cursor;
  if (c.flags & SCS_FLAG_BACKEND_CHANGED) {
    // The agent settled other values at the last prepare: ask again for what
    // the application requested.
    if (SetStmtInt(stmt, AP_STMT_CURSOR_TYPE, c.requestedCursorType) == 0) {
      c.cursorType = c.requestedCursorType;
    }
    if (SetStmtInt(stmt, AP_STMT_CONCURRENCY, c.requestedConcurrency) == 0) {
      c.concurrency = c.requestedConcurrency;
    }
    c.flags = static_cast<uint16_t>(c.flags & ~SCS_FLAG_BACKEND_CHANGED);
  }
  const int32_t code = AgentCall(*stmt->binding, &AgentOps::DRV_Prepare, stmt->agentStmt, text);
  if (code != 0) {
    StmtPullMsgs(stmt);
    stmt->error = code;
    return -1;
  }
  c.requestedCursorType = c.cursorType;
  c.requestedConcurrency = c.concurrency;
  int result = 0;
  if (c.cursorType != SQL_CURSOR_FORWARD_ONLY) {
    int32_t v = 0;
    if (AskStmtInt(stmt, AP_STMT_CURSOR_TYPE, &v) == 0 && v != c.cursorType) {
      c.cursorType = v;
      c.flags |= SCS_FLAG_BACKEND_CHANGED;
      result = 1;
    }
  }
  if (c.concurrency != SQL_CONCUR_READ_ONLY) {
    int32_t v = 0;
    if (AskStmtInt(stmt, AP_STMT_CONCURRENCY, &v) == 0 && v != c.concurrency) {
      c.concurrency = v;
      c.flags |= SCS_FLAG_BACKEND_CHANGED;
      result = 1;
    }
  }
  uint16_t count = 0;
  AgentColDesc* descs = nullptr;
  // An agent that counts more markers than the driver can number gets the
  // same answer as the agent's own check gives.
  const int32_t described =
      AgentCall(*stmt->binding, &AgentOps::DRV_DescribeParams, stmt->agentStmt, &count, &descs);
  const int32_t refused = described != 0 ? described : count > KX_MAX_PARAMS ? KX_ERR_TOO_MANY_PARAMS : 0;
  if (refused != 0) {
    std::free(descs);
    stmt->error = refused;
    AgentCall(*stmt->binding, &AgentOps::DRV_CloseCursor, stmt->agentStmt);
    return -1;
  }
  StmtDropParamDescs(stmt);
  stmt->paramDescs = descs;
  stmt->paramCount = count;
  stmt->inputCount = stmt->outputCount = stmt->inOutCount = 0;
  stmt->directionsUnknown = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const char* name = descs[i].name;
    if (name[0] == '*' && name[1] == 'U') {
      stmt->directionsUnknown = 1;
      break;
    }
    if (name[0] == '*' && name[1] == 'O') {
      ++stmt->outputCount;
    } else if (name[0] == '*' && name[1] == 'B') {
      ++stmt->inOutCount;
    } else {
      ++stmt->inputCount;
    }
  }
  stmt->daeState = DAE_NONE;
  stmt->daeNextIndex = 0;
  stmt->daeIndex = 0;
  if (stmt->conn != nullptr && stmt->conn->cn_needbind) {
    stmt->flags = static_cast<uint16_t>(stmt->flags & ~SF_PARAM_INFO_CURRENT);
  }
  stmt->flags = static_cast<uint16_t>((stmt->flags | SF_PREPARED) & ~SF_EXECUTED);
  stmt->currentRow = 0;
  stmt->state = STMT_PREPARED;
  stmt->isSelect = strncasecmp(text, "SELEC", 5) == 0 ? 1 : 0;
  stmt->rowNumber = 0;
  if (result == 1) stmt->error = KX_ERR_OPTION_CHANGED;
  return result;
}

SQLRETURN StmtPrepare(StmtRecord* stmt, const char* text, int64_t length) {
  if (text == nullptr || (length < 0 && length != SQL_NTS)) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  char* copy = nullptr;
  if (StrCopyN(&copy, text, length) != 0 || copy == nullptr) {
    std::free(copy);
    stmt->error = KX_ERR_NOMEM;
    return SQL_ERROR;
  }
  if (TraceOn()) TracePrintf("  [%s]", copy);
  const int rc = StmtPrepareText(stmt, copy);
  std::free(copy);
  if (rc < 0) return SQL_ERROR;
  return rc == 1 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN StmtPrepareCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtPrepare(static_cast<StmtRecord*>(rec), a.Get<const char*>(0), a.Get<int32_t>(1));
}

}  // namespace kx
