#include "xa/xa_rm.h"

#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <mutex>

#include "odbc/dispatch.h"
#include "odbc/handle_layer.h"
#include "odbc/records.h"
#include "odbc/trace.h"
#include "util/str_util.h"

namespace kx {

namespace {

// The one ODBC environment of all resource managers. Its lock is held only
// while the count or the handle changes, never across a connect.
struct SharedEnv {
  std::mutex lock;
  SQLHENV env = nullptr;
  int users = 0;
};

SharedEnv& Shared() {
  static SharedEnv* shared = new SharedEnv;  // never destroyed: unload may still use it
  return *shared;
}

// The core's record of a connection handle, NULL when there is none. The
// caller holds the handle lock.
ConnRecord* ConnOf(SQLHDBC dbc) {
  return static_cast<ConnRecord*>(
      LookupHandle(HK_DBC, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dbc))));
}

// The first diagnostic of the connection, for the trace of a failed connect.
void TraceConnectFailure(SQLHDBC dbc) {
  SQLCHAR state[6] = {0};
  SQLCHAR text[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(CallODBC(kRecGetDiagRecDbc, dbc, static_cast<SQLSMALLINT>(1), state, &native,
                              text, static_cast<SQLSMALLINT>(sizeof text), &length))) {
    state[0] = '\0';
    text[0] = '\0';
  }
  XaTracePrintf(1, "xa_switch_open: connect failed: %s %s", reinterpret_cast<char*>(state),
                reinterpret_cast<char*>(text));
}

}  // namespace

bool XaEnvAcquire() {
  SharedEnv& s = Shared();
  std::lock_guard<std::mutex> hold(s.lock);
  ++s.users;
  if (s.env != nullptr) return true;
  SQLHANDLE env = nullptr;
  if (!SQL_SUCCEEDED(CallODBC(kRecAllocHandleEnv, &env)) || env == nullptr) return false;
  if (!SQL_SUCCEEDED(CallODBC(kRecSetEnvAttr, env, static_cast<SQLINTEGER>(SQL_ATTR_ODBC_VERSION),
                              reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_OV_ODBC3)),
                              static_cast<SQLINTEGER>(0)))) {
    CallODBC(kRecFreeHandleEnv, env);
    return false;
  }
  s.env = env;
  return true;
}

SQLHENV XaEnvHandle() {
  SharedEnv& s = Shared();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.env;
}

bool XaRmConnect(XaRmRecord* rm, const char* connectText) {
  SQLHENV env = XaEnvHandle();
  if (env == nullptr) return false;
  SQLHANDLE dbc = nullptr;
  if (!SQL_SUCCEEDED(CallODBC(kRecAllocHandleDbc, env, &dbc)) || dbc == nullptr) return false;
  // The completed connect string carries the password: wiped at once.
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc =
      CallODBC(kRecDriverConnect, dbc, static_cast<SQLHWND>(nullptr),
               reinterpret_cast<SQLCHAR*>(const_cast<char*>(connectText)),
               static_cast<SQLSMALLINT>(SQL_NTS), out, static_cast<SQLSMALLINT>(sizeof out),
               &outLength, static_cast<SQLUSMALLINT>(SQL_DRIVER_NOPROMPT), 'A');
  StrWipe(out, sizeof out);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
    TraceConnectFailure(dbc);
    CallODBC(kRecFreeHandleDbc, dbc);
    return false;
  }
  rm->dbc = dbc;
  bool xaCapable = false;
  {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    const ConnRecord* conn = ConnOf(dbc);
    if (conn == nullptr) return false;
    xaCapable = conn->cn_dtcAllowed != 0;
  }
  if (!xaCapable) {
    XaTracePrintf(0, "Agent does not support XA");
    return false;
  }
  return true;
}

void XaRmRelease(XaRmRecord* rm) {
  if (rm->dbc != nullptr) {
    CallODBC(kRecDisconnect, rm->dbc);
    CallODBC(kRecFreeHandleDbc, rm->dbc);
    rm->dbc = nullptr;
  }
  SharedEnv& s = Shared();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.users > 0 && --s.users == 0 && s.env != nullptr) {
    CallODBC(kRecFreeHandleEnv, s.env);
    s.env = nullptr;
  }
}

bool XaRmFind(const XaRmRecord& rm, XaRmTarget* target) {
  if (rm.dbc == nullptr) return false;
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  const ConnRecord* conn = ConnOf(rm.dbc);
  if (conn == nullptr || conn->state != CONN_CONNECTED || conn->binding.ops == nullptr) return false;
  target->ops = conn->binding.ops;
  target->conn = conn->agentConn;
  return true;
}

}  // namespace kx
