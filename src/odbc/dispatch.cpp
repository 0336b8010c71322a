// The dispatcher: the one door of every ODBC call.
#include "odbc/dispatch.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "odbc/conn.h"
#include "odbc/connstr.h"
#include "odbc/diag.h"
#include "odbc/env.h"
#include "odbc/handle_layer.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

namespace {

unsigned long ThreadId() { return static_cast<unsigned long>(gettid()); }

void ClearDiagnostics(HandleHead* head) {
  MsgListFree(&head->messages);
  head->error = 0;
}

// The barrier every handler runs behind: no exception leaves a call.
SQLRETURN RunHandler(const OdbcCallRecord& record, HandleHead* head, const OdbcArgs& args) {
  try {
    return record.handler(head, args);
  } catch (const std::bad_alloc&) {
    if (head != nullptr) head->error = KX_ERR_NOMEM;
  } catch (...) {
    if (head != nullptr) head->error = KX_ERR_GENERAL;
  }
  return SQL_ERROR;
}

const char* HandleLabel(uint32_t kind) {
  switch (kind) {
    case HK_ENV: return "hEnv";
    case HK_DBC: return "hDbc";
    case HK_STMT: return "hStmt";
    default: return "hDesc";
  }
}

void TraceArgs(const OdbcCallRecord& record, const OdbcArgs& args) {
  // Formatting the arguments costs more than many calls do: only for a trace.
  if (!TraceOn() || record.format == nullptr || record.format[0] == '\0') return;
  char line[250];
  FormatCallArgs(record.format, args, line, sizeof line);
  TracePrintf("%s", line);
}

// The failover notice: a failed call whose handle carries the failover texts
// raises the callback's event.
SQLRETURN ConnNotifyFailover(ConnRecord* conn, uint32_t kind, SQLRETURN rc) {
  if (conn->failoverCallback == nullptr) return rc;
  HandleHead* head = nullptr;
  if (kind == HK_DBC) {
    head = conn;
  } else if (kind == HK_STMT || kind == HK_DESC) {
    head = conn->busy.load();
  }
  if (head == nullptr) return rc;
  int code = head->error;
  bool scanned = false;
  if (code != KX_ERR_FAILOVER_COMPLETED && code != KX_ERR_FAILOVER_ABORTED) {
    code = 0;
    if (DiagCount(head->messages) >= 2 && head->messages != nullptr) {
      for (MsgNode* m = head->messages; m != nullptr && code == 0; m = m->next) {
        code = m->text != nullptr ? DiagFailoverCode(m->text) : 0;
      }
      scanned = true;
    }
  }
  int32_t event;
  if (code == KX_ERR_FAILOVER_COMPLETED) {
    event = FAILOVER_EVENT_COMPLETED;
    rc = scanned ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
  } else if (code == KX_ERR_FAILOVER_ABORTED) {
    event = FAILOVER_EVENT_ABORTED;
    rc = SQL_ERROR;
  } else {
    return rc;
  }
  conn->failoverCallback(event, conn->failoverArg, 0);
  return rc;
}

// The connection a connection, statement or descriptor record belongs to.
ConnRecord* ConnectionOf(uint32_t kind, HandleHead* head) {
  if (kind == HK_DBC) return static_cast<ConnRecord*>(head);
  if (kind == HK_STMT) return static_cast<StmtRecord*>(head)->conn;
  return OwningConnection(static_cast<DescRecord*>(head));
}

// A call that finds its connection's call lock held by its own thread: a
// handler calling back into the driver on the connection it works on. Waiting
// would wait for itself, so the busy marker answers: the running statement
// or descriptor itself is still executing, anything else is out of sequence.
SQLRETURN RefuseReentry(uint32_t kind, HandleHead* head, HandleHead* busy) {
  if (kind != HK_DBC && busy == head) return SQL_STILL_EXECUTING;
  head->error = KX_ERR_SEQUENCE;
  return SQL_ERROR;
}

// Whether a statement runs in ODBC's asynchronous mode, where the application
// polls it by calling the same function again.
bool PolledAsynchronously(uint32_t kind, HandleHead* head) {
  return kind == HK_STMT && static_cast<StmtRecord*>(head)->asyncEnable != 0;
}

// The calling thread, as the call lock's owner is told.
const void* ThisThread() {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(pthread_self()));
}

// The marker and the owner are set under the handle lock and read under it
// (a call's own thread also reads them without it), so their stores need no
// fence of their own: the handle lock and the call lock order them.
void SetCallOwner(ConnRecord* conn, const void* owner) {
  conn->callOwner.store(owner, std::memory_order_release);
}
bool OwnsCall(const ConnRecord* conn) {
  return conn->callOwner.load(std::memory_order_acquire) == ThisThread();
}
HandleHead* Busy(const ConnRecord* conn) { return conn->busy.load(std::memory_order_acquire); }
void SetBusy(ConnRecord* conn, HandleHead* head) { conn->busy.store(head, std::memory_order_release); }

// The diagnostic functions never wait for a call. They read under the handle
// lock, which keeps a call from starting meanwhile. A handle whose own call
// runs on another thread has nothing to show yet: that call cleared the
// handle's diagnostics when it began, and its own are not complete.
SQLRETURN ReadDiagnostics(const OdbcCallRecord& record, uint32_t kind, uint32_t handle,
                          OdbcArgs& args) {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  HandleHead* head = LookupHandle(kind, handle);
  if (head == nullptr) return SQL_INVALID_HANDLE;
  ConnRecord* conn = ConnectionOf(kind, head);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  if (Busy(conn) == head && !OwnsCall(conn)) return SQL_NO_DATA;
  return RunHandler(record, head, args);
}

// A connection freed by its own call is destroyed once no call waits for its
// call lock any more: by the freeing call when none waits, else by the last
// waiter (WaitForCallLock).
void ReleaseFreedConnection(ConnRecord* conn) {
  {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    if (conn->callWaiters > 0) {
      conn->destroyByWaiter = true;
      return;
    }
  }
  ConnDestroy(conn);
}

// Waits for the call lock of the connection of a call; returns with the call
// lock and the handle lock held and the call's handle still live, or with
// neither lock held and SQL_INVALID_HANDLE when the handle (or its whole
// connection) was freed meanwhile. Entered and left with the handle lock.
SQLRETURN WaitForCallLock(std::unique_lock<std::recursive_mutex>& handleLock, ConnRecord* conn,
                          uint32_t kind, uint32_t handle, HandleHead* head) {
  ++conn->callWaiters;
  handleLock.unlock();
  conn->callLock.lock();
  SetCallOwner(conn, ThisThread());
  handleLock.lock();
  --conn->callWaiters;
  if (conn->magic == CONN_MAGIC && LookupHandle(kind, handle) == head) return SQL_SUCCESS;
  SetCallOwner(conn, nullptr);
  const bool last = conn->magic == MAGIC_FREED && conn->destroyByWaiter && conn->callWaiters == 0;
  conn->callLock.unlock();
  handleLock.unlock();
  if (last) ConnDestroy(conn);
  return SQL_INVALID_HANDLE;
}

// A call on a connection, statement or descriptor. Calls of one connection
// run one at a time under its call lock; a call that finds another thread's
// call running there waits for it (ODBC drivers are thread-safe: an
// application may share a connection between threads). The busy marker
// names the running call's handle: it answers the calls that cannot wait (a
// handler's call back into its own connection, the polling of a statement
// in asynchronous mode) and tells SQLCancel and the diagnostic functions what
// runs. The uncontended call takes two locks, once each: the handle lock for
// the lookup and the call lock (taken under it when nothing holds it but a
// call that is just releasing it; trying the lock costs more than taking
// it).
SQLRETURN CallOnConnection(const OdbcCallRecord& record, uint32_t kind, uint32_t handle,
                           OdbcArgs& args) {
  if (record.clearDiag == 0) return ReadDiagnostics(record, kind, handle, args);
  HandleHead* head;
  ConnRecord* conn;
  int32_t reentrant = 0;
  {
    std::unique_lock<std::recursive_mutex> lock(HandleLock());
    head = LookupHandle(kind, handle);
    if (head == nullptr) return SQL_INVALID_HANDLE;
    conn = ConnectionOf(kind, head);
    if (conn == nullptr) return SQL_INVALID_HANDLE;
    if (OwnsCall(conn)) return RefuseReentry(kind, head, Busy(conn));
    if (Busy(conn) == nullptr && conn->callWaiters == 0) {
      // No call runs and none waits: the lock is free, or its last call is
      // releasing it and needs no other lock for that.
      conn->callLock.lock();
      SetCallOwner(conn, ThisThread());
    } else {
      if (Busy(conn) == head && PolledAsynchronously(kind, head)) return SQL_STILL_EXECUTING;
      if (WaitForCallLock(lock, conn, kind, handle, head) != SQL_SUCCESS) return SQL_INVALID_HANDLE;
    }
    SetBusy(conn, head);
    reentrant = g_agentReentrant.load(std::memory_order_relaxed);
  }

  ClearDiagnostics(head);
  SQLRETURN rc;
  // A distributed transaction prepared on the connection holds the gate until
  // its outcome arrives: the call waits for it here.
  conn->callGate.Pass();
  if (reentrant == 0) {
    std::lock_guard<std::recursive_mutex> agent(AgentLock());
    rc = RunHandler(record, head, args);
  } else {
    rc = RunHandler(record, head, args);
  }
  conn->callGate.Done();

  if (kind == HK_DBC && conn->magic == MAGIC_FREED) {
    // The handler freed the connection; its handle is already released, so no
    // new call can reach the record, and the calls waiting for its lock find
    // it freed.
    SetCallOwner(conn, nullptr);
    conn->callLock.unlock();
    ReleaseFreedConnection(conn);
    return rc;
  }
  if (rc != SQL_SUCCESS) rc = ConnNotifyFailover(conn, kind, rc);
  // Marker and owner are cleared before the lock is released: a call that
  // gets the lock finds neither set.
  SetBusy(conn, nullptr);
  SetCallOwner(conn, nullptr);
  conn->callLock.unlock();
  return rc;
}

}  // namespace

SQLRETURN HandlerNotYet(HandleHead* record, const OdbcArgs&) {
  if (record != nullptr) record->error = KX_ERR_NOT_SUPPORTED;
  return SQL_ERROR;
}

const char* ReturnCodeName(SQLRETURN rc) {
  switch (rc) {
    case SQL_SUCCESS: return "SUCCESS";
    case SQL_SUCCESS_WITH_INFO: return "SUCCESS_WITH_INFO";
    case SQL_STILL_EXECUTING: return "STILL_EXECUTING";
    case SQL_NEED_DATA: return "NEED_DATA";
    case SQL_NO_DATA: return "NO_DATA_FOUND";
    case SQL_INVALID_HANDLE: return "INVALID_HANDLE";
    case SQL_ERROR: return "ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

void FormatCallArgs(const char* format, const OdbcArgs& args, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  size_t used = 0;
  int next = 0;
  auto append = [&](const char* text, size_t n) {
    if (used + 1 >= capacity) return;
    size_t room = capacity - 1 - used;
    if (n > room) n = room;
    memcpy(out + used, text, n);
    used += n;
  };
  for (const char* p = format; *p != '\0';) {
    if (*p != '%') {
      const char* q = strchr(p, '%');
      size_t n = q ? static_cast<size_t>(q - p) : strlen(p);
      append(p, n);
      p += n;
      continue;
    }
    if (p[1] == '%') {
      append("%", 1);
      p += 2;
      continue;
    }
    // One conversion: flags, width and precision are kept, length modifiers
    // dropped (every value shows as 32 bits, "%p" as a whole pointer).
    char conversion[16] = "%";
    size_t s = 1;
    const char* q = p + 1;
    while (*q != '\0' && strchr("-+ #0123456789.", *q) != nullptr && s < 10) conversion[s++] = *q++;
    while (*q == 'l' || *q == 'h' || *q == 'z' || *q == 'j') ++q;
    char conv = *q;
    if (conv == '\0') break;
    uint64_t v = args.Raw(next++);
    char piece[64];
    int n;
    conversion[s++] = conv;
    conversion[s] = '\0';
    switch (conv) {
      case 'd':
      case 'i':
        n = snprintf(piece, sizeof piece, conversion, static_cast<int32_t>(v));
        break;
      case 'p':
        n = snprintf(piece, sizeof piece, "%p", reinterpret_cast<void*>(static_cast<uintptr_t>(v)));
        break;
      case 'c':
        n = snprintf(piece, sizeof piece, conversion, static_cast<int>(static_cast<unsigned char>(v)));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        n = snprintf(piece, sizeof piece, conversion, static_cast<uint32_t>(v));
        break;
      default:  // nothing else belongs in an argument format: show the raw value
        n = snprintf(piece, sizeof piece, "%X", static_cast<uint32_t>(v));
        break;
    }
    if (n > 0) append(piece, static_cast<size_t>(n) < sizeof piece ? static_cast<size_t>(n) : sizeof piece - 1);
    p = q + 1;
  }
  out[used] = '\0';
}

SQLRETURN CallODBCArgs(const OdbcCallRecord& record, OdbcArgs& all) noexcept {
  if (!HandlesInitialised()) return SQL_ERROR;
  // The thread id costs a system call: only a trace shows it.
  const unsigned long tid = TraceOn() ? ThreadId() : 0;
  SQLRETURN rc;
  try {
    if (record.kind == HK_NONE) {
      all.base = 0;
      TracePrintf("\n[%lX] SQL%s", tid, record.name);
      TraceArgs(record, all);
      std::lock_guard<std::recursive_mutex> lock(HandleLock());
      rc = RunHandler(record, nullptr, all);
    } else if (record.kind >= HK_ENV && record.kind <= HK_DESC) {
      const uint32_t handle = static_cast<uint32_t>(all.Raw(0));
      all.base = 1;
      TracePrintf("\n[%lX] SQL%s %s=%lX", tid, record.name, HandleLabel(record.kind),
                  static_cast<unsigned long>(handle));
      TraceArgs(record, all);
      if (record.kind == HK_ENV) {
        std::lock_guard<std::recursive_mutex> lock(HandleLock());
        HandleHead* head = LookupHandle(HK_ENV, handle);
        if (head == nullptr) {
          rc = SQL_INVALID_HANDLE;
        } else {
          if (record.clearDiag != 0) ClearDiagnostics(head);
          rc = RunHandler(record, head, all);
        }
      } else {
        rc = CallOnConnection(record, record.kind, handle, all);
      }
    } else {
      TracePrintf("CallODBC: internal error");
      rc = SQL_ERROR;
    }
  } catch (...) {
    // Only the trace and the lock set-up are left to throw here.
    rc = SQL_ERROR;
  }
  if (TraceOn()) {
    TracePrintf("[%lX] SQL%s: returning SQL_%s", tid != 0 ? tid : ThreadId(), record.name,
                ReturnCodeName(rc));
  }
  return rc;
}

}  // namespace kx
