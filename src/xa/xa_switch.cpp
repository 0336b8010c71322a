#include "xa/xa_switch.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "odbc/odbc_installer.h"
#include "odbc/trace.h"
#include "util/str_util.h"
#include "xa/code_names.h"
#include "xa/xa_rm.h"

namespace kx {

namespace {

// ---- the switch ---------------------------------------------------------------

int SwitchOpen(char* xaInfo, int rmid, long flags);
int SwitchClose(char* xaInfo, int rmid, long flags);
int SwitchStart(XID* xid, int rmid, long flags);
int SwitchEnd(XID* xid, int rmid, long flags);
int SwitchRollback(XID* xid, int rmid, long flags);
int SwitchPrepare(XID* xid, int rmid, long flags);
int SwitchCommit(XID* xid, int rmid, long flags);
int SwitchRecover(XID* xids, long count, int rmid, long flags);
int SwitchForget(XID* xid, int rmid, long flags);
int SwitchComplete(int* handle, int* retval, int rmid, long flags);

xa_switch_t g_switch{};

struct SwitchState {
  std::mutex lock;
  bool filled = false;       // set once, never cleared
  bool initialised = false;  // from XaSwitchInit to XaSwitchTerm
};

SwitchState& Switch() {
  static SwitchState* state = new SwitchState;  // never destroyed: unload may still use it
  return *state;
}

void SwitchFill() {
  std::memset(&g_switch, 0, sizeof g_switch);
  std::snprintf(g_switch.name, sizeof g_switch.name, "%s", kXaRmName);
  g_switch.flags = TMNOFLAGS;  // no dynamic registration, no asynchrony, migration allowed
  g_switch.version = 0;
  g_switch.xa_open_entry = SwitchOpen;
  g_switch.xa_close_entry = SwitchClose;
  g_switch.xa_start_entry = SwitchStart;
  g_switch.xa_end_entry = SwitchEnd;
  g_switch.xa_rollback_entry = SwitchRollback;
  g_switch.xa_prepare_entry = SwitchPrepare;
  g_switch.xa_commit_entry = SwitchCommit;
  g_switch.xa_recover_entry = SwitchRecover;
  g_switch.xa_forget_entry = SwitchForget;
  g_switch.xa_complete_entry = SwitchComplete;
}

// ---- the resource managers of the calling thread --------------------------------

// One open resource manager of a thread: the monitor's id and open string
// (which carries the login: wiped when the record goes), the connection,
// and whether a branch is active on it (started and not yet ended), with
// that branch's identifier.
struct XaThreadAssoc {
  int rmid = 0;
  std::string openString;
  XaRmRecord rm;
  bool active = false;
  XID activeXid{};
  uint64_t startedAt = 0;  // order of the last successful start on this thread
  ~XaThreadAssoc() { StrWipe(openString.data(), openString.size()); }
};

std::atomic<int> g_assocCount{0};

// A thread may hold several resource managers, one per id. Only the owning
// thread reads or changes its list; the count is for the whole process.
// When the thread ends with resource managers still open, their connections
// go with it (an active branch on one is rolled back by the database, a
// prepared one stays for recovery), and so do their workers.
// Closes XA on the resource manager's connection and releases the
// connection. The agent's answer to the close; XA_OK when the connection was
// gone already.
int AssocClose(XaThreadAssoc* assoc) {
  XaRmTarget target{};
  int rc = XA_OK;
  if (XaRmFind(assoc->rm, &target) && target.ops->DRV_XaClose != nullptr) {
    rc = target.ops->DRV_XaClose(target.conn, assoc->openString.c_str(), assoc->rmid, TMNOFLAGS);
  }
  XaRmRelease(&assoc->rm);
  return rc;
}

struct XaAssocList {
  std::vector<std::unique_ptr<XaThreadAssoc>> items;
  ~XaAssocList() {
    for (auto& a : items) {
      AssocClose(a.get());
      g_assocCount.fetch_sub(1);
    }
  }
};
thread_local XaAssocList t_assocs;
thread_local uint64_t t_starts = 0;

// Whether xid names the branch the thread is active in on this resource
// manager.
bool IsActiveBranch(const XaThreadAssoc* a, const XID* xid) {
  return a->active && XidEqual(&a->activeXid, xid) != 0;
}

// The thread is out of the active branch xid once the branch ended by any
// route: an end, a prepare, a commit or a rollback the database took, or a
// failure that dissolves the association (the resource manager failed, or
// says the thread is not in that branch). A call it refused for its
// arguments or flags changed nothing.
void LeaveIfEnded(XaThreadAssoc* a, const XID* xid, int rc, bool refusedKeeps) {
  if (!IsActiveBranch(a, xid)) return;
  if (rc == XAER_INVAL || rc == XAER_ASYNC) return;
  if (refusedKeeps && rc == XAER_PROTO) return;
  a->active = false;
}

XaThreadAssoc* AssocFind(int rmid, const char* xaInfo) {
  for (auto& a : t_assocs.items) {
    if (a->rmid != rmid) continue;
    if (xaInfo != nullptr && a->openString != xaInfo) return nullptr;
    return a.get();
  }
  return nullptr;
}

bool AssocBind(std::unique_ptr<XaThreadAssoc> assoc) {
  try {
    t_assocs.items.push_back(std::move(assoc));
  } catch (const std::bad_alloc&) {
    return false;
  }
  g_assocCount.fetch_add(1);
  return true;
}

// Takes the record off the thread's list; the caller releases it.
std::unique_ptr<XaThreadAssoc> AssocUnbind(XaThreadAssoc* assoc) {
  for (auto it = t_assocs.items.begin(); it != t_assocs.items.end(); ++it) {
    if (it->get() != assoc) continue;
    std::unique_ptr<XaThreadAssoc> out = std::move(*it);
    t_assocs.items.erase(it);
    g_assocCount.fetch_sub(1);
    return out;
  }
  return nullptr;
}

// The resource manager whose handles SQLGetXaEnv and SQLGetXaConnect give:
// the one with the branch started last that is still active, else the one
// opened last.
XaThreadAssoc* AssocCurrent() {
  XaThreadAssoc* best = nullptr;
  for (auto& a : t_assocs.items) {
    if (a->active && (best == nullptr || a->startedAt > best->startedAt)) best = a.get();
  }
  if (best == nullptr && !t_assocs.items.empty()) best = t_assocs.items.back().get();
  return best;
}

// ---- the entry points -----------------------------------------------------------

int Returned(int rc) {
  XaTracePrintf(1, "Call returned: %s(%d)", XaRetName(rc), rc);
  return rc;
}

// Calls one agent XA operation of the thread's resource manager rmid:
// call(operation, agent connection, association).
template <typename Fn, typename Call>
int OnRm(int rmid, Fn AgentOps::*slot, Call call) {
  XaThreadAssoc* assoc = AssocFind(rmid, nullptr);
  XaRmTarget target{};
  if (assoc == nullptr) return Returned(XAER_RMERR);
  // Its connection is gone (the application disconnected it): the resource
  // manager is unavailable until the monitor closes and opens it again.
  if (!XaRmFind(assoc->rm, &target)) return Returned(XAER_RMFAIL);
  if (target.ops->*slot == nullptr) return Returned(XAER_RMERR);
  return Returned(call(target.ops->*slot, target.conn, assoc));
}

// The start of xa_open and xa_close: the call is traced with the data source
// of its open string (the rest carries the login), read into dsn. XA_OK to go
// on; XAER_RMERR for an open string without one, XAER_INVAL for asynchronous
// flags.
constexpr size_t kDsnSize = 256;
int EnterWithOpenString(const char* entry, const char* xaInfo, int rmid, long flags,
                        char (&dsn)[kDsnSize]) {
  if (xaInfo == nullptr || !XaInfoGetDsn(xaInfo, dsn, sizeof dsn)) {
    XaTracePrintf(1, "%s(***, %d, %lX)", entry, rmid, static_cast<unsigned long>(flags));
    XaTracePrintf(1, "%s: invalid xaInfo string format", entry);
    return XAER_RMERR;
  }
  XaTracePrintf(1, "%s(%s, %d, %lX)", entry, dsn, rmid, static_cast<unsigned long>(flags));
  return XaFlagsAsync(flags) ? XAER_INVAL : XA_OK;
}

int SwitchOpen(char* xaInfo, int rmid, long flags) {
  char dsn[kDsnSize];
  const int entered = EnterWithOpenString("xa_switch_open", xaInfo, rmid, flags, dsn);
  if (entered != XA_OK) return Returned(entered);
  // Opening a resource manager the thread holds already changes nothing.
  if (AssocFind(rmid, nullptr) != nullptr) return Returned(XA_OK);

  std::unique_ptr<XaThreadAssoc> assoc(new (std::nothrow) XaThreadAssoc);
  if (assoc == nullptr) return Returned(XAER_RMERR);
  int rc = XAER_RMERR;
  char dsnXaInfo[256];
  XaRmTarget target{};
  try {
    assoc->rmid = rmid;
    assoc->openString = xaInfo;
  } catch (const std::bad_alloc&) {
    return Returned(XAER_RMERR);
  }
  if (XaEnvAcquire() && XaRmConnect(&assoc->rm, xaInfo) &&
      XaGetDsnXaInfo(dsn, dsnXaInfo, sizeof dsnXaInfo) && XaRmFind(assoc->rm, &target)) {
    rc = target.ops->DRV_XaOpen != nullptr
             ? target.ops->DRV_XaOpen(target.conn, XA_OPEN_THREADED, dsnXaInfo, rmid, flags)
             : XAER_RMERR;
    if (rc == XA_OK && !AssocBind(std::move(assoc))) rc = XAER_RMERR;
    if (rc == XA_OK) return Returned(XA_OK);
  }
  // Nothing stays behind: the connection goes, and the environment with the
  // last user.
  if (assoc != nullptr) XaRmRelease(&assoc->rm);
  return Returned(rc);
}

int SwitchClose(char* xaInfo, int rmid, long flags) {
  char dsn[kDsnSize];
  const int entered = EnterWithOpenString("xa_switch_close", xaInfo, rmid, flags, dsn);
  if (entered != XA_OK) return Returned(entered);
  XaThreadAssoc* assoc = AssocFind(rmid, xaInfo);
  if (assoc == nullptr) return Returned(XAER_RMERR);
  // Closing under an active branch would end the branch's connection and
  // lose its work: the monitor must end the branch first.
  if (assoc->active) {
    XaTracePrintf(1, "xa_switch_close: a transaction branch is still active");
    return Returned(XAER_PROTO);
  }
  std::unique_ptr<XaThreadAssoc> gone = AssocUnbind(assoc);
  return Returned(AssocClose(gone.get()));
}

int SwitchStart(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_start(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaStart, [&](auto op, AgentHandle conn, XaThreadAssoc* a) {
    const int rc = op(conn, xid, rmid, flags);
    if (rc == XA_OK) {
      a->active = true;
      XidCopy(&a->activeXid, xid);
      a->startedAt = ++t_starts;
    }
    return rc;
  });
}

int SwitchEnd(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_end(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaEnd, [&](auto op, AgentHandle conn, XaThreadAssoc* a) {
    const int rc = op(conn, xid, rmid, flags);
    // An end that fails for the branch itself (the resource manager failed,
    // does not know the branch or is not in it) dissolves the association
    // just as one that succeeds or answers with a rollback.
    LeaveIfEnded(a, xid, rc, false);
    return rc;
  });
}

int SwitchRollback(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_rollback(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaRollback, [&](auto op, AgentHandle conn, XaThreadAssoc* a) {
    const int rc = op(conn, xid, rmid, flags);
    LeaveIfEnded(a, xid, rc, true);
    return rc;
  });
}

int SwitchPrepare(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_prepare(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaPrepare, [&](auto op, AgentHandle conn, XaThreadAssoc* a) {
    const int rc = op(conn, xid, rmid, flags);
    if (rc == XA_OK || rc == XA_RDONLY) LeaveIfEnded(a, xid, rc, true);
    return rc;
  });
}

int SwitchCommit(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_commit(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaCommit, [&](auto op, AgentHandle conn, XaThreadAssoc* a) {
    const int rc = op(conn, xid, rmid, flags);
    LeaveIfEnded(a, xid, rc, true);
    return rc;
  });
}

int SwitchRecover(XID* xids, long count, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_recover(%p, %ld, %d, %lX)", static_cast<void*>(xids), count, rmid,
                static_cast<unsigned long>(flags));
  // The agent counts in 32 bits: a larger array is offered as the most it takes.
  const int32_t n = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count < INT32_MIN ? -1 : count);
  return OnRm(rmid, &AgentOps::DRV_XaRecover, [&](auto op, AgentHandle conn, XaThreadAssoc*) {
    return op(conn, xids, n, rmid, flags);
  });
}

int SwitchForget(XID* xid, int rmid, long flags) {
  XaTracePrintf(1, "xa_switch_forget(%p, %d, %lX)", static_cast<void*>(xid), rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaForget, [&](auto op, AgentHandle conn, XaThreadAssoc*) {
    return op(conn, xid, rmid, flags);
  });
}

int SwitchComplete(int* handle, int* retval, int rmid, long flags) {
  if (handle == nullptr || retval == nullptr) {
    XaTracePrintf(1, "xa_switch_complete(NULL,, %d, %lX)", rmid, static_cast<unsigned long>(flags));
    return Returned(XAER_INVAL);
  }
  XaTracePrintf(1, "xa_switch_complete(%d,, %d, %lX)", *handle, rmid,
                static_cast<unsigned long>(flags));
  return OnRm(rmid, &AgentOps::DRV_XaComplete, [&](auto op, AgentHandle conn, XaThreadAssoc*) {
    int copy = *handle;
    int result = 0;
    const int rc = op(conn, &copy, &result, rmid, flags);
    *retval = result;
    return rc;
  });
}

constexpr CodeName<int> kRetNames[] = {
    {XA_OK, "XA_OK"},
    {XA_RDONLY, "XA_RDONLY"},
    {XA_RETRY, "XA_RETRY"},
    {XA_HEURMIX, "XA_HEURMIX"},
    {XA_HEURRB, "XA_HEURRB"},
    {XA_HEURCOM, "XA_HEURCOM"},
    {XA_HEURHAZ, "XA_HEURHAZ"},
    {XA_NOMIGRATE, "XA_NOMIGRATE"},
    {XA_RBROLLBACK, "XA_RBROLLBACK"},
    {XA_RBCOMMFAIL, "XA_RBCOMMFAIL"},
    {XA_RBDEADLOCK, "XA_RBDEADLOCK"},
    {XA_RBINTEGRITY, "XA_RBINTEGRITY"},
    {XA_RBPROTO, "XA_RBPROTO"},
    {XA_RBTIMEOUT, "XA_RBTIMEOUT"},
    {XA_RBTRANSIENT, "XA_RBTRANSIENT"},
    {XAER_ASYNC, "XAER_ASYNC"},
    {XAER_RMERR, "XAER_RMERR"},
    {XAER_NOTA, "XAER_NOTA"},
    {XAER_INVAL, "XAER_INVAL"},
    {XAER_PROTO, "XAER_PROTO"},
    {XAER_RMFAIL, "XAER_RMFAIL"},
    {XAER_DUPID, "XAER_DUPID"},
    {XAER_OUTSIDE, "XAER_OUTSIDE"},
};

// SQLGetXaEnv and SQLGetXaConnect: a handle of the calling thread's resource
// manager.
template <typename H, typename Pick>
SQLRETURN HandOut(const char* name, H* out, Pick pick) {
  XaTracePrintf(1, "%s(%p)", name, static_cast<void*>(out));
  if (out == nullptr) return SQL_ERROR;
  *out = nullptr;
  XaThreadAssoc* assoc = AssocCurrent();
  H handle = assoc != nullptr ? pick(assoc) : nullptr;
  if (handle == nullptr) {
    XaTracePrintf(1, "Call returned: %s(%d)", "Unknown", -1);
    return SQL_ERROR;
  }
  *out = handle;
  XaTracePrintf(1, "Call returned: %s(%d)", "XA_OK", 0);
  return SQL_SUCCESS;
}

}  // namespace

const char* XaRetName(int code) { return CodeNameOf(kRetNames, code, "Unknown"); }

int16_t XaSwitchInit() {
  SwitchState& s = Switch();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.initialised) return 0;
  if (TraceStream(TRACE_XA) == nullptr) TraceOpen(TRACE_XA);
  if (!s.filled) {
    SwitchFill();
    s.filled = true;
  }
  s.initialised = true;
  return 0;
}

void XaSwitchTerm() {
  SwitchState& s = Switch();
  std::lock_guard<std::mutex> hold(s.lock);
  if (!s.initialised) return;
  XaTracePrintf(0, "** normal end **");
  TraceClose(TRACE_XA);
  XaTeardownHook();
  s.initialised = false;
}

void XaTeardownHook() {}

bool XaInfoGetDsn(const char* xaInfo, char* out, size_t size) {
  if (xaInfo == nullptr || out == nullptr || size == 0) return false;
  const char* at = std::strstr(xaInfo, "DSN=");
  if (at == nullptr) return false;
  at += 4;
  const size_t n = std::strcspn(at, ";");
  if (n >= size) return false;
  std::memcpy(out, at, n);
  out[n] = '\0';
  StrTrimRight(out);
  return true;
}

bool XaGetDsnXaInfo(const char* dsn, char* out, size_t size) {
  if (dsn == nullptr || out == nullptr || size == 0) return false;
  // Read with room to spare, so that a value too long for out is seen as such.
  char value[1024] = "";
  const int n = SQLGetPrivateProfileString(dsn, "XaInfo", "", value, sizeof value, "odbc.ini");
  const size_t length = n > 0 ? std::strlen(value) : 0;
  if (length >= size || length + 1 >= sizeof value) return false;
  std::memset(out, 0, size);
  std::memcpy(out, value, length);
  return true;
}

int XaAssoc_CountOnThread() { return static_cast<int>(t_assocs.items.size()); }

}  // namespace kx

extern "C" {

kx::xa_switch_t* znt_xa_switch() {
  kx::XaSwitchInit();
  return &kx::g_switch;
}

SQLRETURN SQLGetXaEnv(SQLHENV* env) {
  return kx::HandOut("SQLGetXaEnv", env, [](kx::XaThreadAssoc*) { return kx::XaEnvHandle(); });
}

SQLRETURN SQLGetXaConnect(SQLHDBC* dbc) {
  return kx::HandOut("SQLGetXaConnect", dbc, [](kx::XaThreadAssoc* a) { return a->rm.dbc; });
}

}  // extern "C"
