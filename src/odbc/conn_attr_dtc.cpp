// SQL_ATTR_ENLIST_IN_DTC: enlisting a connection in a distributed transaction
// and ending the enlistment, through the distributed-transaction support
// (odbc/dtc_seam.h). The dispenser it hands out keeps the connection's agent
// handles, binding and locks for its own work on the connection.
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "odbc/conn_attr.h"
#include "odbc/connstr.h"
#include "odbc/dtc_seam.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// The dispenser is the enlistment: a flag without one (a close forgets the
// dispenser) is no enlistment.
bool Enlisted(const ConnRecord* conn) { return conn->enlisted != 0 && conn->dtcDispenser != nullptr; }

void Forget(ConnRecord* conn) {
  DtcRelease(conn->dtcDispenser);
  conn->dtcDispenser = nullptr;
  conn->enlisted = 0;
}

void Wipe(char* text) {
  volatile char* p = text;
  while (*p != '\0') *p++ = '\0';
}

void WipeAndFree(char* text) {
  if (text == nullptr) return;
  Wipe(text);
  free(text);
}

// "DSN=...;UID=...;PWD=...;" for the resource manager's own connection, each
// value brace-quoted when it holds ';' or braces (a password with ';' stays
// one value). It carries the password: every copy is wiped before release.
char* ComposeConnectText(const ConnRecord* conn) {
  std::string text;
  try {
    // Room for every value braced at once: no reallocation leaves an unwiped copy.
    size_t size = 32;
    for (const char* v : {conn->dsn, conn->user, conn->password}) size += v != nullptr ? strlen(v) : 0;
    text.reserve(size);
    ConnStrAppend(text, "DSN", conn->dsn);
    ConnStrAppend(text, "UID", conn->user);
    ConnStrAppend(text, "PWD", conn->password);
    text += ';';
  } catch (const std::bad_alloc&) {
    Wipe(text.data());
    return nullptr;
  }
  char* out = strdup(text.c_str());
  Wipe(text.data());
  return out;
}

}  // namespace

SQLRETURN ConnEnlistInDtc(ConnRecord* conn, void* transaction) {
  const int32_t version = conn->env != nullptr ? conn->env->odbcVersion : SQL_OV_ODBC2;
  if (version < static_cast<int32_t>(SQL_OV_ODBC3) || !conn->cn_dtcAllowed) return Fail(conn, KX_ERR_NOT_SUPPORTED);
  if (conn->state != CONN_CONNECTED) return Fail(conn, KX_ERR_NOT_CONNECTED);

  if (transaction == nullptr) {
    if (!Enlisted(conn)) return Fail(conn, KX_ERR_TXN_STATE);
    Forget(conn);
    return SQL_SUCCESS;
  }
  if (Enlisted(conn)) return SQL_SUCCESS;

  if (DtcInit() != 0) return Fail(conn, KX_ERR_DTC_ENLIST);
  if (conn->dtcDispenser != nullptr) Forget(conn);

  char* text = ComposeConnectText(conn);
  if (text == nullptr) return Fail(conn, KX_ERR_NOMEM);
  void* dispenser = DtcNewDispenser(transaction, conn->agentServer, conn->agentConn, &conn->binding,
                                    &conn->dtcLock, &conn->callLock, text);
  WipeAndFree(text);
  if (dispenser == nullptr) return Fail(conn, KX_ERR_DTC_ENLIST);
  conn->dtcDispenser = dispenser;

  if (DtcRMConnect(dispenser) != 0 || DtcRMEnlist(dispenser) != 0) {
    Forget(conn);
    return Fail(conn, KX_ERR_DTC_ENLIST);
  }
  conn->enlisted = 1;
  return SQL_SUCCESS;
}

}  // namespace kx
