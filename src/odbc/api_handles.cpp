// Exports: handle allocation and release, environment attributes, commit and
// rollback. Each one enters the dispatcher and does nothing else.
#include "odbc/dispatch.h"
#include "odbc/handle_layer.h"

using namespace kx;

namespace {

bool FoundInTable(uint32_t kind, SQLHANDLE handle) {
  if (handle == SQL_NULL_HANDLE) return false;
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  return LookupHandle(kind, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle))) != nullptr;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  switch (type) {
    case SQL_HANDLE_ENV: return CallODBC(kRecAllocHandleEnv, output);
    case SQL_HANDLE_DBC: return CallODBC(kRecAllocHandleDbc, input, output);
    case SQL_HANDLE_STMT: return CallODBC(kRecAllocHandleStmt, input, output);
    case SQL_HANDLE_DESC: return CallODBC(kRecAllocHandleDesc, input, output);
    default: return SQL_INVALID_HANDLE;
  }
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) { return CallODBC(kRecAllocEnv, env); }

SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC* dbc) {
  return CallODBC(kRecAllocConnect, env, dbc);
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* stmt) {
  return CallODBC(kRecAllocStmt, dbc, stmt);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: return CallODBC(kRecFreeHandleEnv, handle);
    case SQL_HANDLE_DBC: return CallODBC(kRecFreeHandleDbc, handle);
    case SQL_HANDLE_STMT: return CallODBC(kRecFreeHandleStmt, handle);
    case SQL_HANDLE_DESC: return CallODBC(kRecFreeHandleDesc, handle);
    default: return SQL_INVALID_HANDLE;
  }
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) { return CallODBC(kRecFreeEnv, env); }
SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) { return CallODBC(kRecFreeConnect, dbc); }

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  return CallODBC(kRecFreeStmt, stmt, option);
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length) {
  return CallODBC(kRecSetEnvAttr, env, attribute, value, length);
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER bufferLength, SQLINTEGER* length) {
  return CallODBC(kRecGetEnvAttr, env, attribute, value, bufferLength, length);
}

SQLRETURN SQL_API SQLTransact(SQLHENV env, SQLHDBC dbc, SQLUSMALLINT type) {
  if (dbc != SQL_NULL_HDBC && FoundInTable(HK_DBC, dbc)) return CallODBC(kRecTransactDbc, dbc, type);
  return CallODBC(kRecTransactEnv, env, type);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (!HandlesInitialised()) return SQL_ERROR;
  const auto completionType = static_cast<SQLUSMALLINT>(completion);
  switch (type) {
    case SQL_HANDLE_ENV:
      if (!FoundInTable(HK_ENV, handle)) return SQL_INVALID_HANDLE;
      return CallODBC(kRecTransactEnv, handle, completionType);
    case SQL_HANDLE_DBC:
      if (!FoundInTable(HK_DBC, handle)) return SQL_INVALID_HANDLE;
      return CallODBC(kRecTransactDbc, handle, completionType);
    default:
      return SQL_SUCCESS;
  }
}

}  // extern "C"
