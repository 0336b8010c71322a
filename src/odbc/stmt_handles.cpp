// Allocation and release of statement and descriptor handles: SQLAllocHandle
// (STMT, DESC), SQLAllocStmt, SQLFreeHandle (STMT, DESC) and SQLFreeStmt.
#include <sqlext.h>

#include "odbc/call_args.h"
#include "odbc/desc.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

namespace {

SQLHANDLE AsOdbcHandle(uint32_t value) {
  return reinterpret_cast<SQLHANDLE>(static_cast<uintptr_t>(value));
}

// Statements and descriptors need a connected connection and somewhere to
// put the handle.
bool ChildAllocationAllowed(ConnRecord* conn, SQLHANDLE* out) {
  if (out == nullptr) {
    conn->error = KX_ERR_BAD_ARGUMENT;
    return false;
  }
  *out = SQL_NULL_HANDLE;
  if (conn->state != CONN_CONNECTED) {
    conn->error = KX_ERR_NOT_CONNECTED;
    return false;
  }
  return true;
}

}  // namespace

SQLRETURN StmtAllocHandleCall(HandleHead* rec, const OdbcArgs& args) {
  auto* conn = static_cast<ConnRecord*>(rec);
  auto* out = args.Get<SQLHANDLE*>(0);
  if (!ChildAllocationAllowed(conn, out)) return SQL_ERROR;
  StmtRecord* stmt = StmtAlloc(conn);
  if (stmt == nullptr) return SQL_ERROR;
  int code = HandleEnter(HK_STMT, stmt);
  if (code != 0) {
    StmtFree(stmt);
    conn->error = code;
    return SQL_ERROR;
  }
  *out = AsOdbcHandle(stmt->handle);
  return SQL_SUCCESS;
}

SQLRETURN DescAllocHandleCall(HandleHead* rec, const OdbcArgs& args) {
  auto* conn = static_cast<ConnRecord*>(rec);
  auto* out = args.Get<SQLHANDLE*>(0);
  if (!ChildAllocationAllowed(conn, out)) return SQL_ERROR;
  DescRecord* desc = DescAlloc(DK_USER, SQL_DESC_ALLOC_USER, nullptr, conn);
  if (desc == nullptr) return SQL_ERROR;
  int code = HandleEnter(HK_DESC, desc);
  if (code != 0) {
    DescFree(desc);
    conn->error = code;
    return SQL_ERROR;
  }
  *out = AsOdbcHandle(desc->handle);
  return SQL_SUCCESS;
}

SQLRETURN StmtFreeHandleCall(HandleHead* rec, const OdbcArgs&) {
  auto* stmt = static_cast<StmtRecord*>(rec);
  StmtClose(stmt);
  StmtFree(stmt);
  return SQL_SUCCESS;
}

// A statement's own descriptors live and die with the statement; freeing one
// through its handle would leave the statement pointing at freed memory.
SQLRETURN DescFreeHandleCall(HandleHead* rec, const OdbcArgs&) {
  auto* desc = static_cast<DescRecord*>(rec);
  if (desc->allocType != SQL_DESC_ALLOC_USER) {
    desc->error = KX_ERR_AUTO_DESCRIPTOR;
    return SQL_ERROR;
  }
  DescFree(desc);
  return SQL_SUCCESS;
}

SQLRETURN StmtFreeStmtCall(HandleHead* rec, const OdbcArgs& args) {
  auto* stmt = static_cast<StmtRecord*>(rec);
  switch (args.Get<uint16_t>(0)) {
    case SQL_CLOSE:
      StmtClose(stmt);
      break;
    case SQL_DROP:
      StmtClose(stmt);
      StmtFree(stmt);
      return SQL_SUCCESS;
    case SQL_UNBIND:
      StmtFreeColBindings(stmt);
      break;
    case SQL_RESET_PARAMS:
      StmtResetParams(stmt);
      break;
    default:
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
  }
  return stmt->error != 0 ? SQL_ERROR : SQL_SUCCESS;
}

}  // namespace kx
