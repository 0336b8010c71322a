// SQLCancel: the one statement call outside the dispatcher. It is meant to be
// called from another thread while a call on the statement runs, so it takes
// only the handle lock, which guards every lookup and the setting of every
// busy marker.
#include <sqlext.h>

#include <mutex>

#include "odbc/exec/setpos.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"

namespace kx {

SQLRETURN StmtCancel(uint32_t handle) {
  if (!HandlesInitialised()) return SQL_ERROR;
  if (TraceOn()) TracePrintf("\nSQLCancel hStmt=%lX", static_cast<unsigned long>(handle));
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  auto* stmt = static_cast<StmtRecord*>(LookupHandle(HK_STMT, handle));
  if (stmt == nullptr || stmt->magic != STMT_MAGIC) {
    if (TraceOn()) TracePrintf("SQLCancel: returning SQL_INVALID_HANDLE");
    return SQL_INVALID_HANDLE;
  }
  ConnRecord* conn = stmt->conn;
  HandleHead* running = conn != nullptr ? conn->busy.load() : nullptr;
  if (running != nullptr) {
    // A call runs on the connection: on this statement, or on another handle
    // whose call may reach this statement (a disconnect, a transaction end).
    // Nothing the running call owns is touched here; the agent is asked to
    // cancel, through the statement's fixed agent handle only. The agent's
    // answer is the result: the running call owns the statement's
    // diagnostics until it ends.
    SQLRETURN result = SQL_SUCCESS;
    const AgentBinding* binding = stmt->binding;
    if (running == stmt && binding != nullptr && (binding->flags & AB_CORE_KEEPS_BUFFERS) == 0) {
      if (AgentCall(*binding, &AgentOps::DRV_Cancel, stmt->agentStmt) != 0) result = SQL_ERROR;
    }
    if (TraceOn()) TracePrintf("SQLCancel: returning %d", static_cast<int>(result));
    return result;
  }
  // Idle: no call can start on the connection while the handle lock is held.
  // Values at execution of a positioned change are given up alone: the
  // change is not made and the cursor stays open where it stands, as the
  // driver manager takes it to be.
  if (SetPosAbandonValues(stmt)) {
    stmt->error = 0;
    if (TraceOn()) TracePrintf("SQLCancel: returning SQL_SUCCESS");
    return SQL_SUCCESS;
  }
  // Otherwise the statement is closed here as SQLFreeStmt(SQL_CLOSE) would.
  stmt->daeState = 0;
  StmtClose(stmt);
  stmt->error = KX_ERR_CANCEL_CLOSED;
  if (TraceOn()) TracePrintf("SQLCancel: returning SQL_SUCCESS_WITH_INFO");
  return SQL_SUCCESS_WITH_INFO;
}

}  // namespace kx
