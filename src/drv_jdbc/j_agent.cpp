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
#include "drv_jdbc/j_xa_ops.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

int32_t JDB_BrokerKnown = 0;

namespace {

int32_t AllocServer(const AgentServerOptions* options, AgentHandle* server) {
  return JVM_AllocServer(const_cast<AgentServerOptions*>(options), server);
}

int32_t FreeServer(AgentHandle server) { return JVM_FreeServer(server); }

const AgentOps kAgentOps = {
    DRV_GetProperty,         // 0
    DRV_SetProperty,         // 1
    DRV_GetMessages,         // 2
    AllocServer,             // 3
    FreeServer,              // 4
    DRV_Connect,             // 5
    DRV_Disconnect,          // 6
    DRV_AllocStmt,           // 7
    DRV_FreeStmt,            // 8
    DRV_GetCursorName,       // 9
    DRV_SetCursorName,       // 10
    DRV_Prepare,             // 11
    DRV_SetParams,           // 12
    DRV_Execute,             // 13
    JDB_NotCapable,          // 14
    DRV_DescribeCols,        // 15
    DRV_DescribeParams,      // 16
    DRV_NativeSql,           // 17
    DRV_SetParamInfo,        // 18
    DRV_FetchBlock,          // 19
    DRV_CloseCursor,         // 20
    DRV_Commit,              // 21
    DRV_Rollback,            // 22
    GetOpTable,              // 23
    DRV_MoreResults,         // 24
    DRV_DDColumnPrivileges,  // 25
    DRV_DDColumns,           // 26
    DRV_DDForeignKeys,       // 27
    DRV_DDPrimaryKeys,       // 28
    DRV_DDProcedureColumns,  // 29
    DRV_DDProcedures,        // 30
    DRV_DDSpecialColumns,    // 31
    DRV_DDStatistics,        // 32
    DRV_DDTablePrivileges,   // 33
    DRV_DDTables,            // 34
    DRV_DDTypeInfo,          // 35
    nullptr,                 // 36 ExtendedFetch
    nullptr,                 // 37 SetPos
    nullptr,                 // 38 ParamData
    nullptr,                 // 39 PutData
    nullptr,                 // 40 GetLongData
    nullptr,                 // 41 FetchScroll
    nullptr,                 // 42 BulkOperations
    DRV_ExecDirect,          // 43
    nullptr,                 // 44 ExecuteDescribe
    nullptr,                 // 45 AllocPrepare
    nullptr,                 // 46 DescribeColTypes
    nullptr,                 // 47 FetchKeepLongData
    nullptr,                 // 48 GetLongDataPiece
    nullptr,                 // 49 ExecuteBatch
    nullptr,                 // 50
    DRV_DescribeColsEx,      // 51
    nullptr,                 // 52 ExecuteDescribeEx
    DRV_Cancel,              // 53
    nullptr,                 // 54 ExecDirectEx
    DRV_XaClose,             // 55
    DRV_XaCommit,            // 56
    DRV_XaComplete,          // 57
    DRV_XaEnd,               // 58
    DRV_XaForget,            // 59
    DRV_XaOpen,              // 60
    DRV_XaPrepare,           // 61
    DRV_XaRecover,           // 62
    DRV_XaRollback,          // 63
    DRV_XaStart,             // 64
    nullptr,                 // 65 SetParamInfoEx
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
    // remembered on the way, whichever call on it saw the loss.
    if (s->conn != nullptr && JDB_MsgListLosesConnection(&s->msgs)) s->conn->lost.store(true);
    return TakeMessages(&s->msgs, out);
  }
  if (JConn* c = JDB_FindConn(h); c != nullptr) {
    if (JDB_MsgListLosesConnection(&c->msgs)) c->lost.store(true);
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
