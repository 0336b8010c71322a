// SQL_ATTR_ENLIST_IN_DTC: enlisting a connection in a distributed transaction
// and ending the enlistment, through the distributed-transaction support
// (odbc/dtc_seam.h). The dispenser it hands out keeps the connection's agent
// handles, binding and locks for its own work on the connection.
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "odbc/conn_attr.h"
#include "odbc/conn.h"
#include "odbc/connstr.h"
#include "odbc/dtc_seam.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// The dispenser is the enlistment: a flag without one is no enlistment.
bool Enlisted(const ConnRecord* conn) { return conn->enlisted != 0 && conn->dtcDispenser != nullptr; }

// Gives up the connection's reference to its dispenser.
void GiveUp(ConnRecord* conn) {
  Dtc().release(conn->dtcDispenser);
  conn->dtcDispenser = nullptr;
  conn->dtcTransaction = nullptr;
  conn->enlisted = 0;
}

// IM932 with the reason the support gives (for a dispenser, or for the
// support itself when dispenser is NULL).
SQLRETURN EnlistFailed(ConnRecord* conn, void* dispenser, const char* why = nullptr) {
  char reason[512] = "";
  if (why != nullptr) {
    snprintf(reason, sizeof reason, "%s", why);
  } else {
    Dtc().reason(dispenser, reason, sizeof reason);
  }
  if (reason[0] != '\0') {
    std::string text = "Enlistment in DTC transaction failed: ";
    try {
      text += reason;
      text += "[SQLSTATE:IM932]";
      ConnPostMsg(conn, text.c_str(), 0);
    } catch (const std::bad_alloc&) {
      // the error code below still reports the failure
    }
  }
  return Fail(conn, KX_ERR_DTC_ENLIST);
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
    // A transaction still in progress keeps its dispenser (and the
    // connection's branch) until it is finished; the connection lets go of it
    // at the next enlistment or at close.
    conn->enlisted = 0;
    if (Dtc().inProgress(conn->dtcDispenser) == 0) GiveUp(conn);
    return SQL_SUCCESS;
  }
  if (Enlisted(conn) && conn->dtcTransaction == transaction) return SQL_SUCCESS;

  // The connection belongs to another transaction: it can move to this one
  // only once that one is finished.
  if (conn->dtcDispenser != nullptr) {
    if (Dtc().inProgress(conn->dtcDispenser) != 0) {
      return EnlistFailed(conn, nullptr,
                          "the connection's earlier distributed transaction is still in progress");
    }
    GiveUp(conn);
  }

  if (Dtc().init() != 0) return EnlistFailed(conn, nullptr);

  char* text = ComposeConnectText(conn);
  if (text == nullptr) return Fail(conn, KX_ERR_NOMEM);
  void* dispenser = Dtc().newDispenser(transaction, conn->agentServer, conn->agentConn,
                                       &conn->binding, &conn->dtcLock, &conn->callGate, text);
  WipeAndFree(text);
  if (dispenser == nullptr) return EnlistFailed(conn, nullptr);
  conn->dtcDispenser = dispenser;

  if (Dtc().rmConnect(dispenser) != 0 || Dtc().rmEnlist(dispenser) != 0) {
    char reason[512] = "";
    Dtc().reason(dispenser, reason, sizeof reason);
    GiveUp(conn);
    return EnlistFailed(conn, nullptr, reason[0] != '\0' ? reason : nullptr);
  }
  conn->dtcTransaction = transaction;
  conn->enlisted = 1;
  return SQL_SUCCESS;
}

}  // namespace kx
