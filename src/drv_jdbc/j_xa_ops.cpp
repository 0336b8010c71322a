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
// connection, no asynchronous request, and the calling thread attached (each
// Java call then uses the calling thread's own environment).
JConn* Enter(AgentHandle h, long flags) {
  JConn* c = JDB_FindConn(h);
  if (c == nullptr || XaFlagsAsync(flags)) return nullptr;
  return JVM_AttachThread() != nullptr ? c : nullptr;
}

// A failed call on a connection that is gone: the resource manager is
// unavailable (XAER_RMFAIL), which tells the monitor to close and open it
// again, rather than failing on its own (XAER_RMERR).
int32_t UnlessLost(JConn* c, int32_t rc) {
  if (rc != XAER_RMERR) return rc;
  return JC_Connection_isLost(c) ? XAER_RMFAIL : rc;
}

// Whether xid names the branch whose end found the connection lost.
bool IsLostBranch(const JConn* c, const XID* xid) {
  return c->xaBranchLost != 0 && XidEqual(&c->xaLostBranch, xid) != 0;
}

void ForgetLostBranch(JConn* c) {
  c->xaBranchLost = 0;
  c->xaLostBranch = XID{};
}

// The outcome of a branch lost with its connection: rolled back. The
// rollback is still asked for, in case the connection only answered too
// late and the branch lives on; its failure (posted as a message) changes
// nothing.
void RollBackLostBranch(JConn* c, const XID* xid) {
  ForgetLostBranch(c);
  JC_XAResource_rollback(c, xid);
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
  // A new connection: whatever was lost with the old one is behind it.
  c->lost.store(false);
  ForgetLostBranch(c);
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
  c->lost.store(false);
  ForgetLostBranch(c);
  return XA_OK;
}

int32_t DRV_XaComplete(AgentHandle, int*, int*, int, long) {
  // Asynchronous XA is not supported: there is never anything to complete.
  return XAER_INVAL;
}

int32_t DRV_XaStart(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    const int32_t rc = UnlessLost(c, JC_XAResource_start(c, xid, flags));
    if (rc == XA_OK) ForgetLostBranch(c);
    return rc;
  });
}

// A successful end promises the branch's work to the prepare or commit that
// follows. A JDBC driver may end a branch without asking the server
// (PostgreSQL's does), so the connection is checked: when it is lost, the
// work went with it (the database rolled the branch back), and the end says
// so instead of promising what a later prepare cannot keep.
int32_t DRV_XaEnd(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    const int32_t rc = UnlessLost(c, JC_XAResource_end(c, xid, flags));
    if (rc == XA_OK && (flags & TMSUCCESS) != 0 && JC_Connection_isLost(c)) {
      c->xaBranchLost = XidCopy(&c->xaLostBranch, xid);
      return static_cast<int32_t>(XA_RBCOMMFAIL);
    }
    return rc;
  });
}

int32_t DRV_XaForget(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags,
                  [&](JConn* c) { return UnlessLost(c, JC_XAResource_forget(c, xid)); });
}

int32_t DRV_XaPrepare(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    // The branch's work is gone: it can only be rolled back.
    if (IsLostBranch(c, xid)) {
      RollBackLostBranch(c, xid);
      return static_cast<int32_t>(XA_RBCOMMFAIL);
    }
    return UnlessLost(c, JC_XAResource_prepare(c, xid));
  });
}

// A branch lost with its connection was rolled back by the database when the
// connection went: rolling it back succeeds.
int32_t DRV_XaRollback(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    if (IsLostBranch(c, xid)) {
      RollBackLostBranch(c, xid);
      return static_cast<int32_t>(XA_OK);
    }
    return UnlessLost(c, JC_XAResource_rollback(c, xid));
  });
}

// A one-phase commit of a branch lost with its connection answers the
// rollback the database made; its outcome is never left open.
int32_t DRV_XaCommit(AgentHandle h, XID* xid, int, long flags) {
  return BranchOp(h, xid, flags, [&](JConn* c) {
    if (IsLostBranch(c, xid)) {
      RollBackLostBranch(c, xid);
      return static_cast<int32_t>((flags & TMONEPHASE) != 0 ? XA_RBCOMMFAIL : XAER_NOTA);
    }
    return UnlessLost(c, JC_XAResource_commit(c, xid, (flags & TMONEPHASE) != 0 ? 1 : 0));
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
    if (int rc = JC_XAResource_recover(c, flags); rc != 0) return UnlessLost(c, rc);
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
