#include "odbc/exec/execute.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "agent/build_flavor.h"
#include "odbc/cursor_state.h"
#include "odbc/exec/execute_block.h"
#include "odbc/exec/param_dae.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

uint16_t BoundParamCount(const StmtRecord* stmt) {
  return stmt->paramCount < stmt->paramBindingCap ? stmt->paramCount : stmt->paramBindingCap;
}

bool HasOutputs(const StmtRecord* stmt) { return stmt->outputCount + stmt->inOutCount > 0; }

// The parameter status array of the IPD, row by row, as the execution ended:
// failedBlockRow < 0 with ok: every row sent succeeded; failedBlockRow >= 0:
// rows before it succeeded, it failed, the rest were not run; unknown: the
// agent gave no row count, every row sent is marked as failed.
void WriteParamStatuses(StmtRecord* stmt, bool ok, int64_t failedBlockRow) {
  DescRecord* ipd = stmt->ipd;
  if (ipd == nullptr || ipd->arrayStatusPtr == nullptr) return;
  int64_t k = 0;
  for (uint64_t r = 0; r < stmt->paramsetSize; ++r) {
    uint16_t status;
    if (ParamRowIgnored(stmt, r)) {
      status = SQL_PARAM_UNUSED;
    } else {
      if (ok) {
        status = SQL_PARAM_SUCCESS;
      } else if (failedBlockRow < 0) {
        status = SQL_PARAM_ERROR;
      } else {
        status = k < failedBlockRow ? SQL_PARAM_SUCCESS
                 : k == failedBlockRow ? SQL_PARAM_ERROR
                                       : SQL_PARAM_UNUSED;
      }
      ++k;
    }
    ipd->arrayStatusPtr[r] = status;
  }
}

// The agent's call that takes the block over, or the core's release of it:
// a block the agent never saw (empty slot) is released here as well.
void ReleaseBlockAfterCall(StmtRecord* stmt, RowBuffer* block, bool agentCalled) {
  if (block == nullptr) return;
  if (CoreKeepsBuffers(stmt) || !agentCalled) FreeRowBlock(block);
}

bool SlotFilled(const StmtRecord* stmt, int slot) {
  return stmt->binding->ops != nullptr && !AgentSlotEmpty(stmt->binding->ops, slot);
}

int32_t SendDirect(StmtRecord* stmt, RowBuffer* block, uint16_t n, bool withDescs, bool* called) {
  const AgentBinding& ab = *stmt->binding;
  const bool named = stmt->conn != nullptr && stmt->conn->cn_hasNamedParams;
  if (named) {
    *called = SlotFilled(stmt, 54);
    if (!withDescs) {
      return AgentCall(ab, &AgentOps::DRV_ExecDirectEx, stmt->agentStmt,
                       static_cast<const char*>(nullptr), block, static_cast<uint16_t>(0),
                       static_cast<const SCS_PARAMDESC_EX*>(nullptr));
    }
    SCS_PARAMDESC_EX* descs = ExecNamedParamDescs(stmt->paramSummaries.get(), n, stmt->ipd);
    if (descs == nullptr) {
      *called = false;
      return KX_ERR_NOMEM;
    }
    const int32_t code = AgentCall(ab, &AgentOps::DRV_ExecDirectEx, stmt->agentStmt,
                                   static_cast<const char*>(nullptr), block, n,
                                   static_cast<const SCS_PARAMDESC_EX*>(descs));
    ExecFreeNamedParamDescs(descs, n);
    std::free(descs);
    return code;
  }
  *called = SlotFilled(stmt, 43);
  static_assert(sizeof(ParamSummary) == sizeof(SCS_PARAMDESC), "summaries travel as descriptors");
  const auto* descs = reinterpret_cast<const SCS_PARAMDESC*>(stmt->paramSummaries.get());
  return AgentCall(ab, &AgentOps::DRV_ExecDirect, stmt->agentStmt, static_cast<const char*>(nullptr),
                   block, withDescs ? n : static_cast<uint16_t>(0),
                   withDescs ? descs : static_cast<const SCS_PARAMDESC*>(nullptr));
}

// Sends the block (or, with none, the bare execution) and answers the
// agent's code. The block belongs to the agent (or is released) afterwards.
int32_t SendExecution(StmtRecord* stmt, RowBuffer* block, uint16_t n, bool* called) {
  const bool narrow = ExecNarrowBackend(stmt);
  const bool execute2 = stmt->conn != nullptr && stmt->conn->cn_hasExecute2;
  const bool sendDescs = (stmt->flags & SF_SEND_PARAM_INFO) != 0;
  const auto* descs = reinterpret_cast<const SCS_PARAMDESC*>(stmt->paramSummaries.get());
  const AgentBinding& ab = *stmt->binding;
  *called = false;
  int32_t code;
  if (block != nullptr && narrow) {
    const int rc = RB_ToNarrow(block);
    if (rc != 0) return rc;
  }
  if (block != nullptr) {
    if (execute2) {
      SCS_ResetPosition(&stmt->cursor);
      if (sendDescs && (stmt->flags & SF_PARAM_INFO_CURRENT) == 0) {
        if (narrow) ExecParamDescsToAnsi(stmt->paramSummaries.get(), n);
        code = SendDirect(stmt, block, n, true, called);
        if (*called) stmt->flags |= SF_PARAM_INFO_CURRENT;
      } else {
        code = SendDirect(stmt, block, n, false, called);
      }
    } else {
      *called = SlotFilled(stmt, 12);
      code = AgentCall(ab, &AgentOps::DRV_SetParams, stmt->agentStmt, block);
      if (code == 0) {
        if (sendDescs) {
          if (narrow) ExecParamDescsToAnsi(stmt->paramSummaries.get(), n);
          AgentCall(ab, &AgentOps::DRV_SetParamInfo, stmt->agentStmt, n, descs);
        }
        SCS_ResetPosition(&stmt->cursor);
        code = AgentCall(ab, &AgentOps::DRV_Execute, stmt->agentStmt);
      }
    }
    return code;
  }
  if (execute2) {
    SCS_ResetPosition(&stmt->cursor);
    if (HasOutputs(stmt) && sendDescs && (stmt->flags & SF_PARAM_INFO_CURRENT) == 0) {
      if (narrow) ExecParamDescsToAnsi(stmt->paramSummaries.get(), n);
      code = SendDirect(stmt, nullptr, n, true, called);
      stmt->flags |= SF_PARAM_INFO_CURRENT;
      return code;
    }
    return AgentCall(ab, &AgentOps::DRV_Execute, stmt->agentStmt);
  }
  if (HasOutputs(stmt) && sendDescs) {
    if (narrow) ExecParamDescsToAnsi(stmt->paramSummaries.get(), n);
    AgentCall(ab, &AgentOps::DRV_SetParamInfo, stmt->agentStmt, n, descs);
  }
  SCS_ResetPosition(&stmt->cursor);
  return AgentCall(ab, &AgentOps::DRV_Execute, stmt->agentStmt);
}

// The parameter rows the agent has run so far, when it tells (a statement
// that returns rows runs them one result at a time); only arrays ask.
bool ParamRowsRun(StmtRecord* stmt, int32_t* run) {
  if (stmt->paramsetSize <= 1) return false;
  uint16_t length = 0;
  const int32_t rc = AgentCall(*stmt->binding, &AgentOps::DRV_GetProperty, stmt->agentStmt,
                               AP_STMT_PARAM_ROWS_RUN, static_cast<void*>(run), static_cast<uint16_t>(4),
                               &length);
  return rc == 0 && *run > 0;
}

// Completion of an execution: state, processed count, status array, output
// values.
SQLRETURN Finish(StmtRecord* stmt, int32_t code, uint32_t rows) {
  StmtDropColumnDescs(stmt);
  stmt->error = code;
  if (code != 0 && code != KX_ERR_HAS_OUT_PARAMS) {
    StmtPullMsgs(stmt);
    int64_t failedRow = -1;
    if (stmt->rowsProcessedPtr != nullptr || (stmt->ipd != nullptr && stmt->ipd->arrayStatusPtr != nullptr)) {
      int32_t count = 0;
      uint16_t length = 0;
      const int32_t rc = AgentCall(*stmt->binding, &AgentOps::DRV_GetProperty, stmt->agentStmt,
                                   AP_STMT_ROW_COUNT, static_cast<void*>(&count),
                                   static_cast<uint16_t>(4), &length);
      if (rc == 0 && count >= 0) {
        failedRow = count;
        if (stmt->rowsProcessedPtr != nullptr) *stmt->rowsProcessedPtr = static_cast<uint64_t>(count) + 1;
      }
    }
    stmt->error = code;
    if (code == KX_ERR_DS_WARNING) {
      // The agent completed the operation: its results are there to be read.
      WriteParamStatuses(stmt, true, -1);
      stmt->currentRow = 0;
      stmt->state = STMT_PREPARED;
      stmt->flags |= SF_EXECUTED;
      return SQL_SUCCESS_WITH_INFO;
    }
    WriteParamStatuses(stmt, false, failedRow);
    return SQL_ERROR;
  }
  if (stmt->rowsProcessedPtr != nullptr) {
    int32_t run = 0;
    if (ParamRowsRun(stmt, &run)) {
      *stmt->rowsProcessedPtr = std::min<uint64_t>(static_cast<uint64_t>(run), rows);
    } else {
      *stmt->rowsProcessedPtr = stmt->isSelect && stmt->paramsetSize > 1 ? 1 : rows;
    }
  }
  WriteParamStatuses(stmt, true, -1);
  stmt->currentRow = 0;
  stmt->state = STMT_PREPARED;
  stmt->flags |= SF_EXECUTED;
  stmt->error = 0;
  const bool deferFetch = stmt->conn != nullptr && stmt->conn->cn_spOutDeferFetch;
  if (deferFetch && code != KX_ERR_HAS_OUT_PARAMS) return SQL_SUCCESS;
  if (!HasOutputs(stmt)) return SQL_SUCCESS;
  return ExecGetOutputParams(stmt);
}

// Every slot below n must be bound: a value or a length pointer, or (the
// backend-driven way, and any output-only binding) an output parameter.
bool SlotsBound(const StmtRecord* stmt, uint16_t n) {
  for (uint16_t i = 0; i < n; ++i) {
    const ParamBinding& b = stmt->paramBindings[i];
    if (b.value != nullptr || b.octetLength != nullptr) continue;
    if (b.number == i + 1 && b.direction == SQL_PARAM_OUTPUT) continue;
    return false;
  }
  return true;
}

SQLRETURN Execute(StmtRecord* stmt, bool collected) {
  // The data-at-execution sequence is over whatever happens below, so that
  // a failure never leaves the statement refusing every later execution.
  stmt->daeState = DAE_NONE;
  if ((stmt->flags & SF_PREPARED) == 0) return Fail(stmt, KX_ERR_SEQUENCE);
  const uint16_t n = BoundParamCount(stmt);
  if (!SlotsBound(stmt, n)) return Fail(stmt, collected ? KX_ERR_WRONG_PARAM_COUNT : KX_ERR_BAD_ARGUMENT);
  if (stmt->directionsUnknown) ExecRecountDirections(stmt);
  if (!collected && stmt->ipd != nullptr && stmt->ipd->arrayStatusPtr != nullptr) {
    for (uint64_t r = 0; r < stmt->paramsetSize; ++r) stmt->ipd->arrayStatusPtr[r] = SQL_PARAM_DIAG_UNAVAILABLE;
  }
  if (stmt->inputCount + stmt->inOutCount == 0) {
    bool called = false;
    const int32_t code = SendExecution(stmt, nullptr, n, &called);
    if (collected) return Finish(stmt, code, 0);
    stmt->error = code;
    return ExecComplete(stmt, 0);
  }
  if (n < stmt->paramCount) return Fail(stmt, KX_ERR_WRONG_PARAM_COUNT);
  ParamBlockResult built{};
  const int code = BuildParamBlock(stmt, n, collected, &built);
  if (code != 0) return Fail(stmt, code);
  const uint32_t rows = static_cast<uint32_t>(built.rows);
  bool called = false;
  const int32_t answer = SendExecution(stmt, built.block, n, &called);
  if (collected) {
    ReleaseBlockAfterCall(stmt, built.block, called);
    return Finish(stmt, answer, rows);
  }
  if (answer == KX_ERR_NEED_DAE && called) {
    // The agent asks for the values at execution: the block stays with the
    // statement until the execution completes.
    stmt->paramBlock = built.block;
    stmt->daeState = DAE_EXECUTE;
    stmt->error = 0;
    return SQL_NEED_DATA;
  }
  ReleaseBlockAfterCall(stmt, built.block, called);
  stmt->error = answer;
  return ExecComplete(stmt, rows);
}

}  // namespace

// ---- directions ----------------------------------------------------------------------------

ParamDirection ExecParamDirection(const StmtRecord* stmt, uint16_t index) {
  if (stmt->paramDescs == nullptr || index >= stmt->paramCount) return PD_INPUT;
  const char* name = stmt->paramDescs[index].name;
  if (name[0] != '*') return PD_INPUT;
  switch (name[1]) {
    case 'O': return PD_OUTPUT;
    case 'B': return PD_INOUT;
    case 'U': {
      const int16_t d = index < stmt->paramBindingCap ? stmt->paramSummaries[index].direction : 0;
      return d == SQL_PARAM_OUTPUT ? PD_OUTPUT : d == SQL_PARAM_INPUT_OUTPUT ? PD_INOUT : PD_INPUT;
    }
    default: return PD_INPUT;
  }
}

void ExecRecountDirections(StmtRecord* stmt) {
  stmt->inputCount = stmt->outputCount = stmt->inOutCount = 0;
  for (uint16_t i = 0; i < stmt->paramCount; ++i) {
    switch (ExecParamDirection(stmt, i)) {
      case PD_OUTPUT: ++stmt->outputCount; break;
      case PD_INOUT: ++stmt->inOutCount; break;
      default: ++stmt->inputCount; break;
    }
  }
}

void ExecParamDescsToAnsi(ParamSummary* summaries, uint16_t n) {
  if (summaries == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) {
    ParamSummary& s = summaries[i];
    if (s.sqlType == SQL_WLONGVARCHAR) s.sqlType = SQL_LONGVARCHAR;
    if (s.sqlType == SQL_WVARCHAR) s.sqlType = SQL_VARCHAR;
    if (s.sqlType == SQL_WCHAR) s.sqlType = SQL_CHAR;
    if (s.cType == SQL_C_WCHAR) s.cType = SQL_C_CHAR;
  }
}

bool ExecNarrowBackend(const StmtRecord* stmt) {
  // The ANSI build's agent takes no 16-bit text at all.
  return (stmt->conn != nullptr && stmt->conn->cn_narrowBackend) || !UnicodeBuild();
}

// ---- executions ----------------------------------------------------------------------------

SQLRETURN ExecCollected(StmtRecord* stmt) { return Execute(stmt, true); }

SQLRETURN ExecAgentDAE(StmtRecord* stmt) { return Execute(stmt, false); }

SQLRETURN ExecComplete(StmtRecord* stmt, uint32_t rows) {
  if (stmt->paramBlock != nullptr) {
    if (CoreKeepsBuffers(stmt)) FreeRowBlock(stmt->paramBlock);
    stmt->paramBlock = nullptr;
  }
  return Finish(stmt, stmt->error, rows);
}

SQLRETURN ExecuteStmt(StmtRecord* stmt) {
  if (stmt->conn != nullptr && stmt->conn->cn_hasV2DAE) return ExecAgentDAE(stmt);
  const SQLRETURN rc = ExecCheckDAE(stmt);
  if (rc != SQL_SUCCESS) return rc;
  return ExecCollected(stmt);
}

SQLRETURN ExecDirect(StmtRecord* stmt, const char* text, int64_t length) {
  if (text == nullptr || (length < 0 && length != SQL_NTS)) return Fail(stmt, KX_ERR_BAD_LENGTH);
  char* copy = nullptr;
  if (StrCopyN(&copy, text, length) != 0 || copy == nullptr) {
    std::free(copy);
    return Fail(stmt, KX_ERR_NOMEM);
  }
  if (TraceOn()) TracePrintf("  [%s]", copy);
  const int prepared = StmtPrepareText(stmt, copy);
  std::free(copy);
  if (prepared < 0) return SQL_ERROR;
  const SQLRETURN rc = ExecuteStmt(stmt);
  if (prepared == 1 && rc == SQL_SUCCESS) {
    stmt->error = KX_ERR_OPTION_CHANGED;
    return SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

SQLRETURN MoreResults(StmtRecord* stmt) {
  if (stmt->state != STMT_PREPARED) return SQL_NO_DATA;
  if (stmt->conn == nullptr || !stmt->conn->cn_hasMoreRes) {
    stmt->error = 0;
    return SQL_NO_DATA;
  }
  StmtFreeResults(stmt);
  StmtDropColumnDescs(stmt);
  SCS_SetPosRow(&stmt->cursor, 0);
  int32_t code = AgentCall(*stmt->binding, &AgentOps::DRV_MoreResults, stmt->agentStmt);
  if (code == KX_ERR_HAS_OUT_PARAMS) {
    if (HasOutputs(stmt)) {
      const SQLRETURN rc = ExecGetOutputParams(stmt);
      if (rc != SQL_SUCCESS) return rc;
    }
    code = AgentCall(*stmt->binding, &AgentOps::DRV_MoreResults, stmt->agentStmt);
  }
  if (code == KX_ERR_NO_MORE_RESULTS) {
    stmt->error = 0;
    return SQL_NO_DATA;
  }
  if (code != 0) {
    stmt->error = code;
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  if (stmt->rowsProcessedPtr != nullptr) {
    int32_t run = 0;
    if (ParamRowsRun(stmt, &run)) {
      if (static_cast<uint64_t>(run) > *stmt->rowsProcessedPtr) *stmt->rowsProcessedPtr = static_cast<uint64_t>(run);
    } else if (stmt->isSelect && *stmt->rowsProcessedPtr < stmt->paramsetSize) {
      ++*stmt->rowsProcessedPtr;
    }
  }
  stmt->error = 0;
  if (StmtDescribeCols(stmt) == nullptr && stmt->error != 0) return SQL_ERROR;
  return SQL_SUCCESS;
}

// ---- handlers ------------------------------------------------------------------------------

SQLRETURN ExecuteCall(HandleHead* rec, const OdbcArgs&) {
  return ExecuteStmt(static_cast<StmtRecord*>(rec));
}

SQLRETURN ExecDirectCall(HandleHead* rec, const OdbcArgs& a) {
  return ExecDirect(static_cast<StmtRecord*>(rec), a.Get<const char*>(0), a.Get<int32_t>(1));
}

SQLRETURN MoreResultsCall(HandleHead* rec, const OdbcArgs&) {
  return MoreResults(static_cast<StmtRecord*>(rec));
}

}  // namespace kx
