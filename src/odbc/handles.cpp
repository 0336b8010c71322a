// Handle allocation and release: the handlers of SQLAllocHandle, SQLFreeHandle
// and their ODBC 2 forms.
#include <sqlext.h>

#include <mutex>

#include "odbc/call_args.h"
#include "odbc/conn.h"
#include "odbc/env.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "util/errcodes.h"

namespace kx {

namespace {

SQLHANDLE AsOdbcHandle(uint32_t value) {
  return reinterpret_cast<SQLHANDLE>(static_cast<uintptr_t>(value));
}

// Environment allocation, under the handle lock. There is no handle to hold a
// diagnostic, so failures are bare SQL_ERRORs; a NULL output pointer is one of
// them rather than a write through NULL.
SQLRETURN AllocEnvironment(const OdbcArgs& args, int32_t odbcVersion) {
  auto* out = args.Get<SQLHENV*>(0);
  if (out == nullptr) return SQL_ERROR;
  *out = SQL_NULL_HENV;
  EnvrRecord* env = EnvrAlloc();
  if (env == nullptr) return SQL_ERROR;
  env->odbcVersion = odbcVersion;
  EnvrOpen(env);
  if (HandleEnter(HK_ENV, env) != 0) {
    EnvrFree(env);
    return SQL_ERROR;
  }
  *out = AsOdbcHandle(env->handle);
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN EnvrAllocHandle(HandleHead*, const OdbcArgs& args) {
  return AllocEnvironment(args, SQL_OV_ODBC3);
}

SQLRETURN EnvrAllocEnv(HandleHead*, const OdbcArgs& args) {
  return AllocEnvironment(args, SQL_OV_ODBC2);
}

SQLRETURN ConnAllocHandle(HandleHead* rec, const OdbcArgs& args) {
  auto* env = static_cast<EnvrRecord*>(rec);
  auto* out = args.Get<SQLHDBC*>(0);
  if (out == nullptr) {
    env->error = KX_ERR_BAD_ARGUMENT;
    return SQL_ERROR;
  }
  *out = SQL_NULL_HDBC;
  ConnRecord* conn = ConnAlloc(env);
  if (conn == nullptr) return SQL_ERROR;
  int code = HandleEnter(HK_DBC, conn);
  if (code != 0) {
    ConnFree(conn);
    ConnDestroy(conn);
    env->error = code;
    return SQL_ERROR;
  }
  *out = AsOdbcHandle(conn->handle);
  return SQL_SUCCESS;
}

// Under the handle lock: refused while a call runs on one of its connections.
SQLRETURN EnvrFreeHandle(HandleHead* rec, const OdbcArgs&) {
  auto* env = static_cast<EnvrRecord*>(rec);
  if (EnvrAnyConnBusy(env)) {
    env->error = KX_ERR_SEQUENCE;
    return SQL_ERROR;
  }
  EnvrClose(env);
  EnvrFree(env);
  return SQL_SUCCESS;
}

// Under the connection's call lock. The dispatcher releases the memory once
// the call lock is released.
SQLRETURN ConnFreeHandle(HandleHead* rec, const OdbcArgs&) {
  auto* conn = static_cast<ConnRecord*>(rec);
  int code = ConnClose(conn);
  if (code != 0) {
    conn->error = code;
    return SQL_ERROR;
  }
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  ConnFree(conn);
  return SQL_SUCCESS;
}

}  // namespace kx
