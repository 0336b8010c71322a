// The agent's XA operations (slots 55 to 64): XA open moves a connection onto
// an XAConnection of the vendor's XA data source, XA close back onto a plain
// Connection, and the branch operations drive its XAResource. Every operation
// answers an X/Open code.
#include "drv_jdbc/j_xa_ops.h"

#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_connect.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_xa.h"
#include "util/errcodes.h"

namespace kx {

namespace {

XaThreadCtx* Ctx(const JConn* c) { return c->xaCtx; }

// The checks every operation that takes flags makes first: a known
// connection, no asynchronous request, and the calling thread attached.
JConn* Enter(AgentHandle h, long flags) {
  JConn* c = JDB_FindConn(h);
  if (c == nullptr || XaFlagsAsync(flags)) return nullptr;
  c->jni = JVM_AttachThread();
  return c->jni != nullptr ? c : nullptr;
}

void FreeRecoverCache(JConn* c) {
  std::free(c->xaRecover);
  c->xaRecover = nullptr;
  c->xaRecoverCount = 0;
  c->xaRecoverCursor = 0;
}

char* Dup(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// Keeps global references to a new connection and its metadata (and, for XA,
// its XAConnection and XAResource). False, with nothing kept, when the VM
// cannot make them.
bool KeepRefs(JConn* c, jobject conn, jobject meta, jobject xaConn, jobject xaRes) {
  JNIEnv* env = c->jni;
  jobject g[4] = {};
  jobject l[4] = {conn, meta, xaConn, xaRes};
  for (int i = 0; i < 4; ++i) {
    if (l[i] == nullptr) continue;
    g[i] = env->NewGlobalRef(l[i]);
    if (g[i] == nullptr) {
      JC_ClearException(env);
      for (int k = 0; k < i; ++k) {
        if (g[k] != nullptr) env->DeleteGlobalRef(g[k]);
      }
      JDB_MsgAddText(&c->msgs, "Memory allocation failure", KX_ERR_NOMEM);
      return false;
    }
  }
  c->conn = g[0];
  c->meta = g[1];
  c->xaConn = g[2];
  c->xaRes = g[3];
  return true;
}

// The single-identifier operations: checks, a local frame, the wrapper.
template <typename Call>
int32_t BranchOp(AgentHandle h, XID* xid, long flags, Call call) {
  JConn* c = Enter(h, flags);
  if (c == nullptr || xid == nullptr) return XAER_INVAL;
  JFrame frame(c->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return XAER_RMERR;
  return call(c);
}

}  // namespace

void JDB_XaDropConnection(AgentHandle, JConn* c) {
  JNIEnv* env = c->jni;
  if (c->conn != nullptr) JC_Connection_close(c, c->conn);
  if (c->xaConn != nullptr) {
    if (JC_CallVoidMethod(env, c->xaConn, nullptr, "close", "()V") != 0) {
      CheckException(env, c->unicodeClient, &c->msgs);
    }
    env->DeleteGlobalRef(c->xaConn);
    c->xaConn = nullptr;
  }
  for (jobject* ref : {&c->xaRes, &c->meta, &c->conn}) {
    if (*ref != nullptr) env->DeleteGlobalRef(*ref);
    *ref = nullptr;
  }
}

int32_t DRV_XaOpen(AgentHandle h, int, const char*, int, long flags) {
  JConn* c = Enter(h, flags);
  if (c == nullptr || c->xaDsClass == nullptr || c->xaDsClass[0] == '\0') return XAER_INVAL;
  if (XaThr_IsEnabled(Ctx(c)) != 0) return XAER_INVAL;
  JFrame frame(c->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return XAER_INVAL;
  JDB_XaDropConnection(h, c);
  jobject conn = nullptr, xaConn = nullptr, xaRes = nullptr, meta = nullptr;
  if (JC_DataSource_getXAConnection(c, &conn, c->xaDsClass, c->props, c->user, c->password,
                                    &xaConn, &xaRes) != 0) {
    return XAER_INVAL;
  }
  if (JC_Connection_getMetaData(c, conn, &meta) != 0 || !KeepRefs(c, conn, meta, xaConn, xaRes)) {
    // The XA connection is not kept: close it rather than leave it to the collector.
    JC_CallVoidMethod(c->jni, xaConn, nullptr, "close", "()V");
    JC_ClearException(c->jni);
    return XAER_INVAL;
  }
  XaThr_SetEnabled(Ctx(c), 1);
  FreeRecoverCache(c);
  return XA_OK;
}

int32_t DRV_XaClose(AgentHandle h, const char*, int, long flags) {
  JConn* c = Enter(h, flags);
  if (c == nullptr) return XAER_INVAL;
  if (XaThr_IsEnabled(Ctx(c)) == 0) return XA_OK;  // not in XA mode: nothing to close
  JFrame frame(c->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return XAER_INVAL;
  JDB_XaDropConnection(h, c);
  // _getConnection cuts both texts in place: it works on copies.
  char* classes = Dup(c->classList);
  char* props = Dup(c->props);
  jobject conn = nullptr, meta = nullptr;
  int status = classes == nullptr || props == nullptr
                   ? KX_ERR_NOMEM
                   : _getConnection(c, &conn, classes, props, c->user, c->password, nullptr);
  std::free(classes);
  std::free(props);
  if (status == 0 && conn == nullptr) status = KX_ERR_UNABLE_TO_CONNECT;
  if (status == 0) status = JC_Connection_getMetaData(c, conn, &meta);
  if (status == 0) {
    // The plain connection behaves as the one made at connect did.
    if (c->accessMode != 0) JC_Connection_setReadOnly(c, conn, 1);
    if (c->opts.noac != 0) JC_Connection_setAutoCommit(c, conn, 0);
    if (!KeepRefs(c, conn, meta, nullptr, nullptr)) status = KX_ERR_NOMEM;
  }
  if (status != 0) {
    if (conn != nullptr) JC_Connection_close(c, conn);
    return XAER_INVAL;
  }
  XaThr_SetEnabled(Ctx(c), 0);
  return XA_OK;
}

int32_t DRV_XaComplete(AgentHandle, int*, int*, int, long) {
  // Asynchronous XA is not supported: there is never anything to complete.
  return XAER_INVAL;
}

int32_t DRV_XaStart(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) { return JC_XAResource_start(c, xid, flags); });
}

int32_t DRV_XaEnd(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) { return JC_XAResource_end(c, xid, flags); });
}

int32_t DRV_XaForget(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) { return JC_XAResource_forget(c, xid); });
}

int32_t DRV_XaPrepare(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) { return JC_XAResource_prepare(c, xid); });
}

int32_t DRV_XaRollback(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) { return JC_XAResource_rollback(c, xid); });
}

int32_t DRV_XaCommit(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    return JC_XAResource_commit(c, xid, (flags & TMONEPHASE) != 0 ? 1 : 0);
  });
}

int32_t DRV_XaRecover(AgentHandle h, XID* xids, int32_t count, int, long flags) {
  if (JDB_FindConn(h) == nullptr || count < 0 || (xids == nullptr && count > 0)) return XAER_INVAL;
  JConn* c = Enter(h, flags);
  if (c == nullptr) return XAER_INVAL;
  const bool startScan = (flags & TMSTARTRSCAN) != 0;
  if (startScan) {
    FreeRecoverCache(c);
    JFrame frame(c->jni, JDB_FRAME_SMALL);
    if (!frame.ok()) return XAER_RMERR;
    if (int rc = JC_XAResource_recover(c, flags); rc != 0) return rc;
    if (c->xaRecover == nullptr) return 0;  // no prepared branches
  }
  if (c->xaRecover == nullptr) return XAER_INVAL;  // no scan started
  int32_t left = c->xaRecoverCount - c->xaRecoverCursor;
  int32_t n = left < count ? left : count;
  if (n > 0) {
    std::memcpy(xids, c->xaRecover + c->xaRecoverCursor, static_cast<size_t>(n) * sizeof(XID));
    c->xaRecoverCursor += n;
  }
  if ((flags & TMENDRSCAN) != 0) FreeRecoverCache(c);
  return n;
}

}  // namespace kx
