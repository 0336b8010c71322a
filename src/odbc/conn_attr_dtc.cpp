// SQL_ATTR_ENLIST_IN_DTC: enlisting a connection in a distributed transaction
// and ending the enlistment, through the distributed-transaction support
// (odbc/dtc_seam.h). The dispenser it hands out keeps the connection's agent
// handles, binding and locks for its own work on the connection.
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "odbc/conn_attr.h"
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

// "DSN=...;UID=...;PWD=...;" for the resource manager's own connection. It
// carries the password: the buffer is wiped before it is released.
char* ComposeConnectText(const ConnRecord* conn) {
  const char* parts[] = {"DSN=", conn->dsn,      ";UID=", conn->user,
                         ";PWD=", conn->password, ";"};
  size_t size = 1;
  for (const char* p : parts) size += p != nullptr ? strlen(p) : 0;
  char* text = static_cast<char*>(malloc(size));
  if (text == nullptr) return nullptr;
  char* at = text;
  for (const char* p : parts) {
    if (p == nullptr) continue;
    const size_t n = strlen(p);
    memcpy(at, p, n);
    at += n;
  }
  *at = '\0';
  return text;
}

void WipeAndFree(char* text) {
  if (text == nullptr) return;
  volatile char* p = text;
  while (*p != '\0') *p++ = '\0';
  free(text);
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
