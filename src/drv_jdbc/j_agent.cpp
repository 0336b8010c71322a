#include "drv_jdbc/j_agent.h"

#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "drv_jdbc/j_catalog.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_props.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_stream.h"
#include "drv_jdbc/j_xa_ops.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

int32_t JDB_BrokerKnown = 0;

namespace {

int32_t AllocServer(const AgentServerOptions* options, AgentHandle* server) {
  return JVM_AllocServer(options, server);
}

int32_t FreeServer(AgentHandle server) { return JVM_FreeServer(server); }

// Every operation on a connection or statement first pauses the rows being
// read ahead on the connection (a fetch keeps its own statement's going), so
// that only one thread at a time works inside the connection's JDBC driver.
// Unless it is one on the streaming statement itself, it also finds the
// connection back in autocommit mode with no transaction of the agent's own
// open (see j_stream.h); making a statement handle touches nothing of it.
template <auto F, bool KeepOwn = false, bool Settles = true>
struct Paused;
template <typename... A, int32_t (*F)(AgentHandle, A...), bool KeepOwn, bool Settles>
struct Paused<F, KeepOwn, Settles> {
  static int32_t Call(AgentHandle h, A... args) {
    JDB_PauseReadAheads(h, KeepOwn);
    if constexpr (Settles) JDB_StreamSettle(h);
    return F(h, args...);
  }
};

// The routing layer asks for its context slots around every call: they are
// the agent's own fields, nothing reaches Java, and the rows read ahead go on.
// The connection's options (the commit mode above all) and its current
// catalog and schema are read outside a streamed result's transaction; the
// answers about the driver and the database (SQLGetInfo, asked by the fetch
// road itself) do not need it.
int32_t GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity, uint16_t* length) {
  if (id != XaProp_ConnContext && id != XaProp_StmtContext) {
    JDB_PauseReadAheads(h, false);
    if (AgentPropertyClass(id) == AP_CLASS_OPTION || id == AP_CONN_CATALOG || id == AP_CONN_SCHEMA) {
      JDB_StreamSettle(h);
    }
  }
  return DRV_GetProperty(h, id, out, capacity, length);
}

const AgentOps kAgentOps = {
    GetProperty,                            // 0
    Paused<DRV_SetProperty>::Call,          // 1
    DRV_GetMessages,                        // 2
    AllocServer,                            // 3
    FreeServer,                             // 4
    DRV_Connect,                            // 5
    Paused<DRV_Disconnect>::Call,           // 6
    Paused<DRV_AllocStmt, false, false>::Call,  // 7
    Paused<DRV_FreeStmt>::Call,             // 8
    Paused<DRV_GetCursorName>::Call,        // 9
    Paused<DRV_SetCursorName>::Call,        // 10
    Paused<DRV_Prepare>::Call,              // 11
    Paused<DRV_SetParams>::Call,            // 12
    Paused<DRV_Execute>::Call,              // 13
    JDB_NotCapable,                         // 14
    Paused<DRV_DescribeCols>::Call,         // 15
    Paused<DRV_DescribeParams>::Call,       // 16
    Paused<DRV_NativeSql>::Call,            // 17
    Paused<DRV_SetParamInfo>::Call,         // 18
    Paused<DRV_FetchBlock, true>::Call,     // 19
    Paused<DRV_CloseCursor>::Call,          // 20
    Paused<DRV_Commit>::Call,               // 21
    Paused<DRV_Rollback>::Call,             // 22
    GetOpTable,                             // 23
    Paused<DRV_MoreResults>::Call,          // 24
    Paused<DRV_DDColumnPrivileges>::Call,   // 25
    Paused<DRV_DDColumns>::Call,            // 26
    Paused<DRV_DDForeignKeys>::Call,        // 27
    Paused<DRV_DDPrimaryKeys>::Call,        // 28
    Paused<DRV_DDProcedureColumns>::Call,   // 29
    Paused<DRV_DDProcedures>::Call,         // 30
    Paused<DRV_DDSpecialColumns>::Call,     // 31
    Paused<DRV_DDStatistics>::Call,         // 32
    Paused<DRV_DDTablePrivileges>::Call,    // 33
    Paused<DRV_DDTables>::Call,             // 34
    Paused<DRV_DDTypeInfo>::Call,           // 35
    nullptr,                                // 36 ExtendedFetch
    nullptr,                                // 37 SetPos
    nullptr,                                // 38 ParamData
    nullptr,                                // 39 PutData
    nullptr,                                // 40 GetLongData
    nullptr,                                // 41 FetchScroll
    nullptr,                                // 42 BulkOperations
    Paused<DRV_ExecDirect>::Call,           // 43
    nullptr,                                // 44 ExecuteDescribe
    nullptr,                                // 45 AllocPrepare
    nullptr,                                // 46 DescribeColTypes
    nullptr,                                // 47 FetchKeepLongData
    nullptr,                                // 48 GetLongDataPiece
    nullptr,                                // 49 ExecuteBatch
    nullptr,                                // 50
    Paused<DRV_DescribeColsEx>::Call,       // 51
    nullptr,                                // 52 ExecuteDescribeEx
    DRV_Cancel,                             // 53
    nullptr,                                // 54 ExecDirectEx
    Paused<DRV_XaClose>::Call,              // 55
    Paused<DRV_XaCommit>::Call,             // 56
    Paused<DRV_XaComplete>::Call,           // 57
    Paused<DRV_XaEnd>::Call,                // 58
    Paused<DRV_XaForget>::Call,             // 59
    Paused<DRV_XaOpen>::Call,               // 60
    Paused<DRV_XaPrepare>::Call,            // 61
    Paused<DRV_XaRecover>::Call,            // 62
    Paused<DRV_XaRollback>::Call,           // 63
    Paused<DRV_XaStart>::Call,              // 64
    nullptr,                                // 65 SetParamInfoEx
};

// The SQL types the core may bind and what it may convert them to.
const OpTableRow kTypeTable[] = {
    {SQL_C_CHAR, 32767, 0x2a31fe},   {SQL_C_SHORT, 0, 0x2821fe}, {SQL_C_LONG, 0, 0x2821fe},
    {SQL_C_FLOAT, 0, 0x2821fe},      {SQL_C_DOUBLE, 0, 0x2821fe}, {SQL_C_TIME, 0, 0x282400},
    {SQL_C_DATE, 0, 0x282200},       {SQL_C_TIMESTAMP, 0, 0x282800},
    {SQL_C_BINARY, 65533, 0x2a3000},
};

// A VM that cannot be found or started: the client cannot make a connection.
constexpr char kVmStartState[] = "08001";

constexpr char kMsgFormat[] = "[Skerrin Edition]%s[SQLSTATE:%s]";

// Hands out and empties one message list. The caller holds the list's lock.
int32_t TakeMessages(AgentMsgList* list, AgentMsgBlock* out) {
  uint32_t count = 0;
  for (AgentMsg* m = list->head; m != nullptr; m = m->next) ++count;
  if (count == 0) {
    out->texts = nullptr;
    out->count = 0;
    return 0;
  }
  char** texts = static_cast<char**>(std::calloc(count, sizeof(char*)));
  if (texts == nullptr) return KX_ERR_NOMEM;
  uint32_t i = 0;
  for (AgentMsg* m = list->head; m != nullptr; m = m->next, ++i) {
    if (m->text[0] == '\0') continue;
    const char* state = m->sqlstate != nullptr ? m->sqlstate : "";
    size_t size = std::strlen(m->text) + std::strlen(state) + sizeof kMsgFormat + 5;
    char* text = static_cast<char*>(std::malloc(size));
    if (text == nullptr) {
      for (uint32_t k = 0; k < i; ++k) std::free(texts[k]);
      std::free(texts);
      return KX_ERR_NOMEM;  // the list stays as it was
    }
    std::snprintf(text, size, kMsgFormat, m->text, state);
    texts[i] = text;
  }
  out->code = list->head->native;
  out->count = count;
  out->texts = texts;
  JDB_MsgFreeList(list);
  return 0;
}

}  // namespace

const AgentOps* JDB_AgentOps() { return &kAgentOps; }

int JDB_Register(AgentBinding* binding) {
  binding->ops = &kAgentOps;
  binding->flags = AB_REENTRANT;
  return 0;
}

JConn* JDB_FindConn(AgentHandle h) { return static_cast<JConn*>(HT_Lookup(&JDB_ConnTable, h)); }

JStmt* JDB_FindStmt(AgentHandle h) { return static_cast<JStmt*>(HT_Lookup(&JDB_StmtTable, h)); }

JFrame::JFrame(JNIEnv* env, jint capacity) : env_(env), pushed_(false) {
  if (env_ == nullptr) return;
  if (env_->PushLocalFrame(capacity) == 0) {
    pushed_ = true;
  } else {
    env_->ExceptionClear();  // the OutOfMemoryError becomes status 16 at the caller
  }
}

JFrame::~JFrame() {
  if (pushed_) env_->PopLocalFrame(nullptr);
}

int32_t DRV_GetMessages(AgentHandle h, AgentMsgBlock* out) {
  if (out == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (h == 0) {
    // No server: why the calling thread's server allocation failed.
    AgentMsgList list{};
    if (std::string reason = JVM_TakeAllocFailure(); !reason.empty()) {
      JDB_MsgAppend(&list, JDB_MsgNew(reason.c_str(), 0, kVmStartState));
    }
    const int32_t rc = TakeMessages(&list, out);
    JDB_MsgFreeList(&list);
    return rc;
  }
  if (JStmt* s = JDB_FindStmt(h); s != nullptr) {
    // The database's "query canceled" ends a run we stopped ourselves: by
    // SQLCancel, else by the statement's query timeout. Applications tell
    // the two apart by HY008 and HYT00; the database's text stays.
    if (s->cancelAsked.exchange(false)) {
      JDB_MsgRestateInterrupt(&s->msgs, KX_ERR_CANCELLED);
    } else if (s->queryTimeout > 0) {
      JDB_MsgRestateInterrupt(&s->msgs, KX_ERR_TIMEOUT);
    }
    // Every failure the core reports passes here: a lost connection is
    // remembered on the way, whichever call on it saw the loss, and reported
    // as the communication link failure it is.
    if (JDB_MsgListLosesConnection(&s->msgs)) {
      if (s->conn != nullptr) s->conn->lost.store(true);
      JDB_MsgRestateLostConnection(&s->msgs);
    }
    return TakeMessages(&s->msgs, out);
  }
  if (JConn* c = JDB_FindConn(h); c != nullptr) {
    // A connection's own list holds what went wrong after it was opened (a
    // failed open leaves its reasons on the environment).
    if (JDB_MsgListLosesConnection(&c->msgs)) {
      c->lost.store(true);
      JDB_MsgRestateLostConnection(&c->msgs);
    }
    return TakeMessages(&c->msgs, out);
  }
  if (JEnv* e = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, h)); e != nullptr) {
    std::lock_guard<std::mutex> hold(e->lock);
    return TakeMessages(&e->msgs, out);
  }
  return KX_ERR_BAD_ARGUMENT;
}

int32_t GetOpTable(AgentHandle conn, OpTable* table) {
  if (table == nullptr || JDB_FindConn(conn) == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (table->type != OP_TABLE_SQL_TYPES) return KX_ERR_NOT_CAPABLE;
  table->count = static_cast<int32_t>(std::size(kTypeTable));
  table->rows = kTypeTable;
  return 0;
}

int32_t JDB_NotCapable(AgentHandle stmt, uint16_t, uint16_t, void*) {
  return JDB_FindStmt(stmt) != nullptr ? KX_ERR_NOT_CAPABLE : KX_ERR_BAD_ARGUMENT;
}

JMethod mStmtCancel{"java/sql/Statement", "cancel", "()V"};

// Runs on the thread of SQLCancel while another thread's call on the
// statement may be inside the JDBC driver: JDBC's cancel is made for exactly
// that. Nothing of the record is changed; the running call owns it and its
// messages, and reports the cancelled work itself.
int32_t DRV_Cancel(AgentHandle h) {
  JStmt* s = JDB_FindStmt(h);
  if (s == nullptr) return KX_ERR_BAD_ARGUMENT;
  JNIEnv* env = JVM_AttachThread();
  if (env == nullptr) return KX_ERR_GENERAL;
  JFrame frame(env, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  jobject statement = nullptr;
  {
    std::lock_guard<std::mutex> guard(JDB_StmtRefLock());
    if (s->stmt != nullptr) statement = env->NewLocalRef(s->stmt);
  }
  if (statement == nullptr) return 0;  // no Java statement: nothing runs in JDBC
  s->cancelAsked.store(true);
  const int rc = JC_CallVoid(env, statement, mStmtCancel);
  const bool failed = rc != 0 || env->ExceptionCheck();
  env->ExceptionClear();
  env->DeleteLocalRef(statement);
  return failed ? KX_ERR_GENERAL : 0;
}

int32_t JDB_NoOp(AgentHandle) { return 0; }

}  // namespace kx
