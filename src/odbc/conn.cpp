// Connection records: allocation and release, open and close against the
// agent, the connection's messages, commit and rollback, SQLDisconnect.
#include "odbc/conn.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "odbc/call_args.h"
#include "odbc/conn_attr.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/diag.h"
#include "odbc/dtc_seam.h"
#include "odbc/env.h"
#include "odbc/exec/type_info.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "odbc/libmain.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

namespace {

constexpr const char* kMsgInitDriver = "Unable to initialize driver";
constexpr const char* kMsgAllocServer = "Unable to allocate server handle";
constexpr const char* kMsgAllocMemory = "Unable to allocate memory";
constexpr const char* kMsgAllocConnection = "Unable to allocate connection handle";

// The prefix that tells the agent its client is a wide one.
constexpr char kWideOptionsPrefix[4] = {'W', 0x7F, 0x01, 0x01};

void FreeText(char*& text) {
  free(text);
  text = nullptr;
}

// "host:port" when the port is a decimal number from 1 to 65535 and the two
// texts together are at most 254 characters; otherwise the host alone.
const char* ComposeHost(const char* host, const char* port, char (&buffer)[256]) {
  if (host == nullptr || port == nullptr || *port == '\0') return host;
  long value = 0;
  for (const char* p = port; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return host;
    value = value * 10 + (*p - '0');
    if (value > 65535) return host;
  }
  if (value < 1) return host;
  const size_t hostLen = strlen(host);
  const size_t portLen = strlen(port);
  if (hostLen + portLen > 254) return host;
  // The length check above leaves room for the colon and the terminator.
  memcpy(buffer, host, hostLen);
  buffer[hostLen] = ':';
  memcpy(buffer + hostLen + 1, port, portLen + 1);
  return buffer;
}

int32_t AskInt(ConnRecord* conn, AgentPropertyId id, int32_t* value) {
  uint16_t length = 0;
  *value = 0;
  return AgentCall(conn->binding, &AgentOps::DRV_GetProperty, conn->agentConn, id,
                   static_cast<void*>(value), static_cast<uint16_t>(sizeof *value), &length);
}

int32_t SetInt(ConnRecord* conn, AgentPropertyId id, int32_t value) {
  return AgentCall(conn->binding, &AgentOps::DRV_SetProperty, conn->agentConn, id,
                   static_cast<const void*>(&value));
}

void ReadCapabilities(ConnRecord* conn) {
  int32_t* const flags[] = {&conn->cn_needbind,     &conn->cn_hasMoreRes,     &conn->cn_hasParamOp,
                            &conn->cn_spOutDeferFetch, &conn->cn_hasScrlCurs, &conn->cn_hasDynMixCurs,
                            &conn->cn_hasV2DAE,     &conn->cn_hasExecute2,    &conn->cn_agentConvertInfo,
                            &conn->cn_extDescribe,  &conn->cn_hasNamedParams, &conn->cn_agentMaxLength,
                            &conn->cn_failoverAllowed, &conn->cn_dtcAllowed};
  for (int32_t* f : flags) *f = 0;

  int32_t mask = 0;
  if (AskInt(conn, AP_CONN_CAPABILITY_MASK, &mask) == 0) {
    const auto m = static_cast<uint32_t>(mask);
    conn->cn_needbind = (m & CAP_NEEDBIND) != 0;
    conn->cn_hasMoreRes = (m & CAP_HAS_MORE_RES) != 0;
    conn->cn_hasParamOp = (m & CAP_HAS_PARAM_OP) != 0;
    conn->cn_hasScrlCurs = (m & CAP_HAS_SCRL_CURS) != 0;
    conn->cn_hasDynMixCurs = (m & CAP_HAS_DYN_MIX_CURS) != 0;
    conn->cn_hasV2DAE = (m & CAP_HAS_V2DAE) != 0;
    conn->cn_spOutDeferFetch = (m & CAP_SP_OUT_DEFER_FETCH) != 0;
    conn->cn_hasExecute2 = (m & CAP_HAS_EXECUTE2) != 0;
    conn->cn_agentConvertInfo = (m & CAP_CONVERT_INFO) != 0;
    conn->cn_extDescribe = (m & CAP_EXT_DESCRIBE) != 0;
    conn->cn_hasNamedParams = (m & CAP_NAMED_PARAMS) != 0;
    conn->cn_agentMaxLength = (m & CAP_MAX_LENGTH) != 0;
    conn->cn_dtcAllowed = (m & CAP_DTC) != 0;
    conn->cn_failoverAllowed = (m & CAP_FAILOVER) != 0;
    if (m & CAP_AUTOCOMMIT) {
      conn->flags |= CF_AUTOCOMMIT;
    } else {
      conn->flags &= ~CF_AUTOCOMMIT;
    }
    return;
  }
  // An agent without the mask answers one capability at a time.
  const struct {
    AgentPropertyId id;
    int32_t* flag;
  } single[] = {{AP_CONN_NEEDBIND, &conn->cn_needbind},
                {AP_CONN_HAS_MORE_RES, &conn->cn_hasMoreRes},
                {AP_CONN_HAS_PARAM_OP, &conn->cn_hasParamOp},
                {AP_CONN_HAS_SCRL_CURS, &conn->cn_hasScrlCurs},
                {AP_CONN_HAS_DYN_MIX_CURS, &conn->cn_hasDynMixCurs},
                {AP_CONN_HAS_V2DAE, &conn->cn_hasV2DAE},
                {AP_CONN_SP_OUT_DEFER_FETCH, &conn->cn_spOutDeferFetch},
                {AP_CONN_HAS_EXECUTE2, &conn->cn_hasExecute2}};
  for (const auto& s : single) {
    int32_t value = 0;
    if (AskInt(conn, s.id, &value) == 0 && value != 0) *s.flag = 1;
  }
  conn->flags &= ~CF_AUTOCOMMIT;
  int32_t autocommit = 0;
  if (AskInt(conn, AP_CONN_AUTOCOMMIT, &autocommit) == 0 && autocommit != 0) {
    conn->flags |= CF_AUTOCOMMIT;
  }
}

void FreeAgentServer(ConnRecord* conn) {
  AgentCall(conn->binding, &AgentOps::DRV_FreeServer, conn->agentServer);
  conn->agentServer = 0;
  conn->agentConn = 0;
}

int PullFrom(ConnRecord* conn, AgentHandle handle, MsgNode** list) {
  AgentMsgBlock block{};
  if (AgentCall(conn->binding, &AgentOps::DRV_GetMessages, handle, &block) != 0) return 0;
  int moved = 0;
  for (uint32_t i = 0; i < block.count && block.texts != nullptr; ++i) {
    MsgListAppend(list, block.texts[i], block.code);
    ++moved;
  }
  StrListFree(&block);
  return moved;
}

}  // namespace

ConnRecord* ConnAlloc(EnvrRecord* env) {
  auto* conn = new (std::nothrow) ConnRecord{};
  if (conn == nullptr) {
    env->error = KX_ERR_NOMEM;
    return nullptr;
  }
  conn->magic = CONN_MAGIC;
  conn->env = env;
  conn->next = env->firstConn;
  env->firstConn = conn;
  conn->state = CONN_ALLOCATED;
  conn->loginTimeout = 120;
  conn->flags = CF_AUTOCOMMIT;
  conn->serial = ++env->connCounter;
  SCS_InitCursorRec(&conn->cursorDefaults, 0, 0, nullptr, nullptr);
  for (auto& text : conn->infoCacheText) text = nullptr;
  ConnResetCaches(conn);
  return conn;
}

void ConnResetCaches(ConnRecord* conn) {
  for (auto& v : conn->infoCache32) v = -1;
  for (auto& v : conn->infoCache16) v = 0xFFFF;
  for (auto& text : conn->infoCacheText) FreeText(text);
}

void ConnLatchReentrant(const AgentBinding& binding) {
  static std::once_flag latched;
  std::call_once(latched, [&] { g_agentReentrant.store(binding.flags & AB_REENTRANT); });
}

int ConnGetOpTable(ConnRecord* conn, OpTable* table) {
  const int32_t asked = table->type;
  int32_t rc = AgentCall(conn->binding, &AgentOps::GetOpTable, conn->agentConn, table);
  if (rc != 0 || table->count <= 0 || table->rows == nullptr) {
    table->type = 0;
    table->count = 0;
    table->rows = nullptr;
    TracePrintf("GetOpTable failed for type %d", asked);
  }
  return rc;
}

void ConnOpen(ConnRecord* conn, char form, AgentConnOptions* options) {
  if (conn->state != CONN_ALLOCATED) {
    conn->error = KX_ERR_SEQUENCE;
    return;
  }
  conn->agentServer = 0;
  conn->agentConn = 0;
  conn->error = KX_ERR_CONNECTION_REJECTED;

  conn->binding = AgentBinding{};
  if (DriverBind(&conn->binding) != 0 || conn->binding.ops == nullptr) {
    ConnPostMsg(conn, kMsgInitDriver, 0);
    TracePrintf("ConnOpen: %s", kMsgInitDriver);
    return;
  }
  ConnLatchReentrant(conn->binding);

  AgentServerOptions serverOptions{conn->agentOptions, conn->cn_svtype, conn->setupSection};
  if (AgentCall(conn->binding, &AgentOps::DRV_AllocServer,
                static_cast<const AgentServerOptions*>(&serverOptions), &conn->agentServer) != 0) {
    conn->agentServer = 0;
    // The agent's reason (no Java VM, options it refuses) is what the
    // application can act on; the core's own text only stands in for it.
    if (PullFrom(conn, 0, &conn->messages) == 0) ConnPostMsg(conn, kMsgAllocServer, 0);
    TracePrintf("ConnOpen: %s", kMsgAllocServer);
    return;
  }

  char hostBuffer[256];
  char emptyUser[1] = "";
  char emptyPassword[1] = "";
  char defaultDsn[] = "Default";
  ConnectBlock block{};
  block.host = const_cast<char*>(ComposeHost(conn->cn_dbhost, conn->port, hostBuffer));
  block.options = conn->agentOptions;
  block.serverType = conn->cn_svtype;
  block.dbPath = conn->cn_dbpath;
  block.dataSource = conn->dsn != nullptr ? conn->dsn : defaultDsn;
  block.dbOptions = conn->cn_dbopts;
  block.readOnly = (conn->flags & CF_READONLY) ? 1 : 0;
  block.user = conn->user != nullptr ? conn->user : emptyUser;
  block.password = conn->password != nullptr ? conn->password : emptyPassword;
  block.loginTimeout = conn->loginTimeout != 0 ? 99 : 0;
  block.afterTimeout = conn->reserved;
  block.reserved = 0;
  block.flag = (conn->flags & CF_BLOCK_FLAG) ? 1 : 0;
  block.appName = conn->appName;
  block.connOptions = options;
  conn->cn_narrowBackend = 0;

  // A wide client tells the agent so in front of its options. The prefixed
  // text lives only for this open, so a second open does not prefix twice.
  char* wideOptions = nullptr;
  if (form == 'W') {
    const size_t old = conn->agentOptions ? strlen(conn->agentOptions) : 0;
    wideOptions = static_cast<char*>(malloc(sizeof kWideOptionsPrefix + old + 1));
    if (wideOptions == nullptr) {
      ConnPostMsg(conn, kMsgAllocMemory, 0);
      FreeAgentServer(conn);
      return;
    }
    memcpy(wideOptions, kWideOptionsPrefix, sizeof kWideOptionsPrefix);
    if (old != 0) memcpy(wideOptions + sizeof kWideOptionsPrefix, conn->agentOptions, old);
    wideOptions[sizeof kWideOptionsPrefix + old] = '\0';
    block.options = wideOptions;
  }

  const int32_t rc =
      AgentCall(conn->binding, &AgentOps::DRV_Connect, conn->agentServer, &block, &conn->agentConn);
  free(wideOptions);
  conn->error = rc;
  if (rc != 0) {
    TracePrintf("ConnOpen: %s", kMsgAllocConnection);
    ConnPullMsgs(conn, nullptr);
    ConnPullServerMsgs(conn);
    FreeAgentServer(conn);
    return;
  }

  if (form == 'W') {
    int32_t unicodeClient = 0;
    if (AskInt(conn, AP_CONN_UNICODE_CLIENT, &unicodeClient) != 0) conn->cn_narrowBackend = 1;
  }

  conn->state = CONN_CONNECTED;
  conn->error = 0;
  conn->opTable = OpTable{OP_TABLE_SQL_TYPES, 0, nullptr};
  ConnGetOpTable(conn, &conn->opTable);

  ReadCapabilities(conn);
  if (TraceOn()) {
    TracePrintf("cn_needbind=%d", conn->cn_needbind);
    TracePrintf("cn_hasMoreRes=%d", conn->cn_hasMoreRes);
    TracePrintf("cn_hasParamOp=%d", conn->cn_hasParamOp);
    TracePrintf("cn_hasScrlCurs=%d", conn->cn_hasScrlCurs);
    TracePrintf("cn_hasDynMixCurs=%d", conn->cn_hasDynMixCurs);
    TracePrintf("cn_hasV2DAE=%d", conn->cn_hasV2DAE);
    TracePrintf("cn_spOutDeferFetch=%d", conn->cn_spOutDeferFetch);
    TracePrintf("cn_hasExecute2=%d", conn->cn_hasExecute2);
    TracePrintf("autocommit=%d", (conn->flags & CF_AUTOCOMMIT) ? 1 : 0);
  }

  if (conn->flags & CF_SET_OPEN_OPTION) SetInt(conn, AP_CONN_OPEN_OPTION, 1);
  if (conn->flags & CF_MASE) SetInt(conn, AP_CONN_MULTI_ACTIVE_STMTS, 1);

  // The isolation the application chose goes to the data source; its own is
  // asked for only when the application asks (a statement on the server for
  // some databases, which a connect need not wait for).
  if (conn->isolation != 0 &&
      SetInt(conn, AP_CONN_ISOLATION, static_cast<int32_t>(conn->isolation)) != 0) {
    conn->isolation = 0;
  }
  SetInt(conn, AP_CONN_ODBC_VERSION, conn->env != nullptr ? conn->env->odbcVersion : SQL_OV_ODBC2);

  // What the application set before connecting holds after it: autocommit
  // over the data source's default, the driver's own options, and a
  // catalog. An autocommit or catalog the server refuses fails the open
  // rather than leaving the application in another mode or catalog; an
  // option it does not take leaves a warning.
  const int setRc = ConnApplySetAttrs(conn);
  const int openRc = setRc != 0 && setRc != KX_ERR_OPTION_CHANGED ? setRc : ConnApplyPendingCatalog(conn);
  if (openRc != 0) {
    AgentCall(conn->binding, &AgentOps::DRV_Disconnect, conn->agentConn);
    conn->agentConn = 0;
    FreeAgentServer(conn);
    conn->state = CONN_ALLOCATED;
    conn->error = openRc;
    return;
  }
  conn->error = setRc;
}

int ConnClose(ConnRecord* conn) {
  if (conn->state == CONN_CONNECTED) {
    // A distributed transaction still in progress keeps the connection: its
    // work would be lost, and the manager could still call on the connection.
    // The enlistment stays as it was; the close can be retried once the
    // transaction is finished.
    if (conn->dtcDispenser != nullptr) {
      if (Dtc().inProgress(conn->dtcDispenser) != 0) return KX_ERR_TXN_STATE;
      Dtc().release(conn->dtcDispenser);
      conn->dtcDispenser = nullptr;
      conn->dtcTransaction = nullptr;
      conn->enlisted = 0;
    }
    StmtFreeAllOfConn(conn);
    const int32_t rc = AgentCall(conn->binding, &AgentOps::DRV_Disconnect, conn->agentConn);
    if (rc != 0) {
      ConnPullMsgs(conn, nullptr);
      return rc;
    }
    AgentCall(conn->binding, &AgentOps::DRV_FreeServer, conn->agentServer);
    conn->state = CONN_ALLOCATED;
    conn->agentServer = 0;
    conn->agentConn = 0;
  }
  FreeText(conn->translateLib);
  conn->opTable = OpTable{};
  TypeInfoCacheDrop(conn);
  DescFreeAllOfConn(conn);
  ConnResetCaches(conn);
  return 0;
}

void ConnFreeStrings(ConnRecord* conn) {
  FreeText(conn->dsn);
  FreeText(conn->setupSection);
  FreeText(conn->user);
  FreeText(conn->password);
  FreeText(conn->cn_dbpath);
  FreeText(conn->cn_dbopts);
  FreeText(conn->cn_dbhost);
  FreeText(conn->port);
  FreeText(conn->cn_svtype);
  FreeText(conn->agentOptions);
  FreeText(conn->reserved);
}

void ConnFree(ConnRecord* conn) {
  ConnDropPendingCatalog(conn);
  ConnFreeStrings(conn);
  FreeText(conn->appName);
  if (conn->env != nullptr) {
    for (ConnRecord** p = &conn->env->firstConn; *p != nullptr; p = &(*p)->next) {
      if (*p == conn) {
        *p = conn->next;
        break;
      }
    }
  }
  MsgListFree(&conn->messages);
  conn->magic = MAGIC_FREED;
  conn->state = 0;
  HandleRemove(HK_DBC, conn);
}

void ConnDestroy(ConnRecord* conn) {
  ConnResetCaches(conn);
  delete conn;
}

void ConnPostMsg(ConnRecord* conn, const char* text, int32_t native) {
  MsgListAppend(&conn->messages, text, native);
}

char* ConnPopMsg(ConnRecord* conn, int32_t* native) { return MsgListPop(&conn->messages, native); }

int ConnPullServerMsgs(ConnRecord* conn) { return PullFrom(conn, conn->agentServer, &conn->messages); }

int ConnPullMsgs(ConnRecord* conn, StmtRecord* stmt) {
  return PullFrom(conn, conn->agentConn, stmt != nullptr ? &stmt->messages : &conn->messages);
}

SQLRETURN ConnTransact(ConnRecord* conn, uint16_t type) {
  TracePrintf("%s", type == SQL_COMMIT ? "[Commit]" : "[Rollback]");
  if (conn->state != CONN_CONNECTED) {
    conn->error = KX_ERR_NOT_CONNECTED;
    return SQL_ERROR;
  }
  int32_t rc;
  if (type == SQL_COMMIT) {
    rc = AgentCall(conn->binding, &AgentOps::DRV_Commit, conn->agentConn);
  } else if (type == SQL_ROLLBACK) {
    rc = AgentCall(conn->binding, &AgentOps::DRV_Rollback, conn->agentConn);
  } else {
    conn->error = KX_ERR_BAD_TXN_OPCODE;
    return SQL_ERROR;
  }
  conn->error = rc;
  if (rc != 0) {
    ConnPullMsgs(conn, nullptr);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

// SQLDisconnect.
SQLRETURN ConnDisconnect(HandleHead* rec, const OdbcArgs&) {
  auto* conn = static_cast<ConnRecord*>(rec);
  if (conn->state != CONN_CONNECTED) {
    conn->error = KX_ERR_NOT_CONNECTED;
    return SQL_ERROR;
  }
  int code = ConnClose(conn);
  if (code != 0) {
    conn->error = code;
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

// SQLTransact / SQLEndTran on a connection: type.
SQLRETURN ConnTransactCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnTransact(static_cast<ConnRecord*>(rec), args.Get<uint16_t>(0));
}

// SQLTransact / SQLEndTran on an environment: every connection in turn, under
// the handle lock; refused while a call runs on one of them.
SQLRETURN EnvrTransact(HandleHead* rec, const OdbcArgs& args) {
  auto* env = static_cast<EnvrRecord*>(rec);
  const auto type = args.Get<uint16_t>(0);
  if (EnvrAnyConnBusy(env)) {
    env->error = KX_ERR_SEQUENCE;
    return SQL_ERROR;
  }
  bool failed = false;
  for (ConnRecord* conn = env->firstConn; conn != nullptr; conn = conn->next) {
    const int32_t kept = conn->error;
    conn->error = 0;
    if (ConnTransact(conn, type) == SQL_ERROR) {
      env->error = conn->error;
      failed = true;
    }
    conn->error = kept;
  }
  return failed ? SQL_ERROR : SQL_SUCCESS;
}

int32_t OdbcVersion(const ConnRecord* conn) {
  return conn->env != nullptr ? conn->env->odbcVersion : SQL_OV_ODBC2;
}

}  // namespace kx
