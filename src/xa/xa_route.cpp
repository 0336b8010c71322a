#include "xa/xa_route.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <tuple>
#include <type_traits>

#include "util/errcodes.h"
#include "xa/xa_worker.h"

namespace kx {

namespace {

// The layer's process-wide state: the table below it and its own table.
// Registrations over the same lower table only re-point their binding, so
// the tables are written once while no call can be using them.
struct Layer {
  std::mutex lock;
  const AgentOps* lowerTable = nullptr;
  AgentOps lower{};
  AgentOps top{};
  // Contexts whose worker runs and nobody stops yet. Whoever takes a context
  // out of this set (its disconnect or the unload) stops its worker; the
  // other side leaves the worker alone.
  std::set<XaThreadCtx*> live;
  // Contexts whose worker the unload is stopping at this moment: a
  // disconnect of one waits until the unload is done with it.
  std::set<XaThreadCtx*> stopping;
  std::condition_variable stopped;  // announces each context leaving stopping
};

Layer& State() {
  static Layer* layer = new Layer;  // never destroyed: unload may still use it
  return *layer;
}

const AgentOps& Lower() { return State().lower; }

// The context field of the connection a handle belongs to, as the agent
// answers it; null for an unknown handle or an agent that keeps none.
XaThreadCtx** CtxSlot(AgentHandle h, AgentPropertyId which) {
  if (Lower().DRV_GetProperty == nullptr) return nullptr;
  XaThreadCtx** slot = nullptr;
  uint16_t length = 0;
  if (Lower().DRV_GetProperty(h, which, &slot, sizeof slot, &length) != 0 ||
      length != sizeof slot) {
    return nullptr;
  }
  return slot;
}

XaThreadCtx* CtxOf(AgentHandle h, AgentPropertyId which) {
  XaThreadCtx** slot = CtxSlot(h, which);
  return slot != nullptr ? *slot : nullptr;
}

// The arguments of one routed call, on the wrapper's stack until it returns.
template <typename... A>
struct XaCallRecord {
  int32_t (*fn)(A...);
  std::tuple<A...> args;
  int32_t result;
  static int Exec(void* p) {
    auto* r = static_cast<XaCallRecord*>(p);
    r->result = std::apply(r->fn, r->args);
    return 0;
  }
};

template <typename... A>
using Slot = int32_t (*AgentOps::*)(AgentHandle, A...);

// Runs the lower slot on the context's worker; *ran false when it could not
// be handed over (the operation did not run then).
template <typename... A>
int32_t OnWorker(XaThreadCtx* ctx, int32_t (*fn)(AgentHandle, A...), bool* ran, AgentHandle h,
                 A... args) {
  XaCallRecord<AgentHandle, A...> record{fn, {h, args...}, 0};
  *ran = XaThrCtx_Run(ctx, &XaCallRecord<AgentHandle, A...>::Exec, &record) != 0;
  return record.result;
}

// A statement or connection operation: routed only while XA is on. Without
// a context (also for an unknown handle, which the lower table refuses
// itself) the call goes straight down.
template <typename... A>
int32_t NonXa(Slot<A...> slot, XaThreadCtx* ctx, AgentHandle h, A... args) {
  auto fn = Lower().*slot;
  if (ctx == nullptr || ctx->threaded == 0 || XaThr_IsEnabled(ctx) == 0) return fn(h, args...);
  bool ran = false;
  int32_t rc = OnWorker(ctx, fn, &ran, h, args...);
  return ran ? rc : KX_ERR_THREAD_POOL;
}

template <typename... A>
int32_t StmtOp(Slot<A...> slot, AgentHandle h, std::type_identity_t<A>... args) {
  return NonXa<A...>(slot, CtxOf(h, XaProp_StmtContext), h, args...);
}

// An XA operation: routed whenever the context has a worker.
template <typename... A>
int32_t Routed(Slot<A...> slot, XaThreadCtx* ctx, AgentHandle h, A... args) {
  auto fn = Lower().*slot;
  if (ctx->threaded == 0) return fn(h, args...);
  bool ran = false;
  int32_t rc = OnWorker(ctx, fn, &ran, h, args...);
  return ran ? rc : XAER_RMERR;
}

template <typename... A>
int32_t XaOp(Slot<A...> slot, AgentHandle h, std::type_identity_t<A>... args) {
  XaThreadCtx* ctx = CtxOf(h, XaProp_ConnContext);
  if (ctx == nullptr) return XAER_INVAL;
  return Routed<A...>(slot, ctx, h, args...);
}

// A context taken out of the live set: mine when this caller took it and so
// stops its worker; otherwise the unload took it and has stopped it by the
// time ClaimCtx returns (or the context never had a worker).
struct Claim {
  bool mine = false;
  std::set<XaThreadCtx*>::node_type node;  // kept to put the context back without allocating
};

Claim ClaimCtx(XaThreadCtx* ctx) {
  Claim claim;
  if (ctx == nullptr || ctx->worker == nullptr) return claim;
  Layer& layer = State();
  std::unique_lock<std::mutex> hold(layer.lock);
  claim.node = layer.live.extract(ctx);
  claim.mine = !claim.node.empty();
  // Taken by the unload: it may be joining the worker right now.
  if (!claim.mine) layer.stopped.wait(hold, [&] { return layer.stopping.count(ctx) == 0; });
  return claim;
}

void FreeCtx(XaThreadCtx* ctx) {
  XaThrCtx_Destroy(ctx);
  delete ctx;
}

// ---- the 22 wrappers ----------------------------------------------------------

// The connection's worker is held idle first, so that a request it is
// running (another thread's call on this connection) finishes on the
// connection before the connection goes, and no later one is handed over.
// The worker ends once the disconnect succeeded; when it fails, the
// connection stays as it was, worker and all.
int32_t XaThr_Disconnect(AgentHandle h) {
  XaThreadCtx* ctx = CtxOf(h, XaProp_ConnContext);  // the agent frees the record
  Claim claim = ClaimCtx(ctx);
  if (claim.mine) XaWorker_Hold(ctx->worker);
  const int32_t rc = Lower().DRV_Disconnect(h);
  if (rc != 0) {
    if (claim.mine) {
      XaWorker_Release(ctx->worker);
      Layer& layer = State();
      std::lock_guard<std::mutex> hold(layer.lock);
      layer.live.insert(std::move(claim.node));
    }
    return rc;
  }
  if (ctx != nullptr) {
    if (claim.mine) XaWorker_Stop(ctx->worker);
    delete ctx->worker;
    delete ctx;
  }
  return rc;
}

int32_t XaThr_AllocStmt(AgentHandle h, AgentHandle* stmt) {
  return NonXa<AgentHandle*>(&AgentOps::DRV_AllocStmt, CtxOf(h, XaProp_ConnContext), h, stmt);
}

int32_t XaThr_FreeStmt(AgentHandle s) { return StmtOp<>(&AgentOps::DRV_FreeStmt, s); }
int32_t XaThr_Prepare(AgentHandle s, const char* sql) {
  return StmtOp<const char*>(&AgentOps::DRV_Prepare, s, sql);
}
int32_t XaThr_Execute(AgentHandle s) { return StmtOp<>(&AgentOps::DRV_Execute, s); }
int32_t XaThr_FetchBlock(AgentHandle s, uint16_t rows, RowBuffer* out) {
  return StmtOp<uint16_t, RowBuffer*>(&AgentOps::DRV_FetchBlock, s, rows, out);
}
int32_t XaThr_CloseCursor(AgentHandle s) { return StmtOp<>(&AgentOps::DRV_CloseCursor, s); }
int32_t XaThr_MoreResults(AgentHandle s) { return StmtOp<>(&AgentOps::DRV_MoreResults, s); }
int32_t XaThr_ParamData(AgentHandle s, int32_t* index, int32_t* row, uint16_t** posStatus,
                        uint64_t* scratch) {
  return StmtOp<int32_t*, int32_t*, uint16_t**, uint64_t*>(&AgentOps::DRV_ParamData, s, index,
                                                           row, posStatus, scratch);
}
int32_t XaThr_PutData(AgentHandle s, uint32_t storageType, int16_t indicator, void* piece,
                      uint32_t size) {
  return StmtOp<uint32_t, int16_t, void*, uint32_t>(&AgentOps::DRV_PutData, s, storageType,
                                                    indicator, piece, size);
}
int32_t XaThr_ExecDirect(AgentHandle s, const char* sql, RowBuffer* rows, uint16_t count,
                         const SCS_PARAMDESC* descs) {
  return StmtOp<const char*, RowBuffer*, uint16_t, const SCS_PARAMDESC*>(
      &AgentOps::DRV_ExecDirect, s, sql, rows, count, descs);
}
int32_t XaThr_ExecDirectEx(AgentHandle s, const char* sql, RowBuffer* rows, uint16_t count,
                           const SCS_PARAMDESC_EX* descs) {
  return StmtOp<const char*, RowBuffer*, uint16_t, const SCS_PARAMDESC_EX*>(
      &AgentOps::DRV_ExecDirectEx, s, sql, rows, count, descs);
}

int32_t XaThr_XaClose(AgentHandle h, const char* info, int rmid, long flags) {
  return XaOp<const char*, int, long>(&AgentOps::DRV_XaClose, h, info, rmid, flags);
}
int32_t XaThr_XaCommit(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaCommit, h, xid, rmid, flags);
}
int32_t XaThr_XaComplete(AgentHandle h, int* handle, int* retval, int rmid, long flags) {
  return XaOp<int*, int*, int, long>(&AgentOps::DRV_XaComplete, h, handle, retval, rmid, flags);
}
int32_t XaThr_XaEnd(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaEnd, h, xid, rmid, flags);
}
int32_t XaThr_XaForget(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaForget, h, xid, rmid, flags);
}
int32_t XaThr_XaPrepare(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaPrepare, h, xid, rmid, flags);
}
int32_t XaThr_XaRecover(AgentHandle h, XID* xids, int32_t count, int rmid, long flags) {
  return XaOp<XID*, int32_t, int, long>(&AgentOps::DRV_XaRecover, h, xids, count, rmid, flags);
}
int32_t XaThr_XaRollback(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaRollback, h, xid, rmid, flags);
}
int32_t XaThr_XaStart(AgentHandle h, XID* xid, int rmid, long flags) {
  return XaOp<XID*, int, long>(&AgentOps::DRV_XaStart, h, xid, rmid, flags);
}

// 1 when the lower table answers the capability with a non-zero value.
int32_t AskCapability(AgentHandle h, AgentPropertyId id) {
  if (Lower().DRV_GetProperty == nullptr) return 0;
  int32_t value = 0;
  uint16_t length = 0;
  return Lower().DRV_GetProperty(h, id, &value, sizeof value, &length) == 0 && value != 0 ? 1
                                                                                           : 0;
}

// Makes a connection's routing context and, for a threaded one, its worker.
// Every xa_open gets a fresh context unless the agent asks to keep it, so
// the agent's xa_open never finds XA on through this layer.
int32_t XaThr_XaOpen(AgentHandle h, int threaded, const char* info, int rmid, long flags) {
  XaThreadCtx** slot = CtxSlot(h, XaProp_ConnContext);
  if (slot == nullptr || XaFlagsAsync(flags)) return XAER_INVAL;
  bool existed = false;
  int32_t keep = 0;
  if (*slot != nullptr) {
    existed = true;
    keep = (*slot)->keep;
    if (keep == 0) {
      FreeCtx(*slot);
      *slot = nullptr;
    }
  }
  if (*slot == nullptr) {
    auto* ctx = new (std::nothrow) XaThreadCtx{};
    if (ctx == nullptr) return XAER_RMERR;
    if (XaThrCtx_Init(ctx, threaded) != 0) {
      delete ctx;
      return XAER_RMERR;
    }
    ctx->keep = existed ? keep : AskCapability(h, XaCap_KeepContext);
    *slot = ctx;
  }
  return Routed<int, const char*, int, long>(&AgentOps::DRV_XaOpen, *slot, h, threaded, info,
                                             rmid, flags);
}

// Puts a wrapper into the layer's table where the lower table has the slot;
// an empty lower slot stays empty (the core answers it without a call).
template <typename Fn>
void Wrap(AgentOps* top, const AgentOps& lower, Fn AgentOps::*slot, Fn wrapper) {
  top->*slot = lower.*slot != nullptr ? wrapper : nullptr;
}

void BuildTop(Layer& layer) {
  AgentOps& t = layer.top;
  const AgentOps& l = layer.lower;
  t = l;
  Wrap(&t, l, &AgentOps::DRV_Disconnect, XaThr_Disconnect);
  Wrap(&t, l, &AgentOps::DRV_AllocStmt, XaThr_AllocStmt);
  Wrap(&t, l, &AgentOps::DRV_FreeStmt, XaThr_FreeStmt);
  Wrap(&t, l, &AgentOps::DRV_Prepare, XaThr_Prepare);
  Wrap(&t, l, &AgentOps::DRV_Execute, XaThr_Execute);
  Wrap(&t, l, &AgentOps::DRV_FetchBlock, XaThr_FetchBlock);
  Wrap(&t, l, &AgentOps::DRV_CloseCursor, XaThr_CloseCursor);
  Wrap(&t, l, &AgentOps::DRV_MoreResults, XaThr_MoreResults);
  Wrap(&t, l, &AgentOps::DRV_ParamData, XaThr_ParamData);
  Wrap(&t, l, &AgentOps::DRV_PutData, XaThr_PutData);
  Wrap(&t, l, &AgentOps::DRV_ExecDirect, XaThr_ExecDirect);
  Wrap(&t, l, &AgentOps::DRV_ExecDirectEx, XaThr_ExecDirectEx);
  Wrap(&t, l, &AgentOps::DRV_XaClose, XaThr_XaClose);
  Wrap(&t, l, &AgentOps::DRV_XaCommit, XaThr_XaCommit);
  Wrap(&t, l, &AgentOps::DRV_XaComplete, XaThr_XaComplete);
  Wrap(&t, l, &AgentOps::DRV_XaEnd, XaThr_XaEnd);
  Wrap(&t, l, &AgentOps::DRV_XaForget, XaThr_XaForget);
  Wrap(&t, l, &AgentOps::DRV_XaOpen, XaThr_XaOpen);
  Wrap(&t, l, &AgentOps::DRV_XaPrepare, XaThr_XaPrepare);
  Wrap(&t, l, &AgentOps::DRV_XaRecover, XaThr_XaRecover);
  Wrap(&t, l, &AgentOps::DRV_XaRollback, XaThr_XaRollback);
  Wrap(&t, l, &AgentOps::DRV_XaStart, XaThr_XaStart);
}

}  // namespace

int XaThr_Bind(AgentBinding* binding) {
  if (binding == nullptr || binding->flags == 0) return KX_ERR_NOT_CAPABLE;
  Layer& layer = State();
  std::lock_guard<std::mutex> hold(layer.lock);
  if (binding->ops == &layer.top) return 0;  // wrapped already
  if (binding->ops != layer.lowerTable) {
    // The first registration (every later one brings the same table).
    layer.lowerTable = binding->ops;
    if (binding->ops != nullptr) {
      layer.lower = *binding->ops;
    } else {
      layer.lower = AgentOps{};
    }
    BuildTop(layer);
  }
  binding->ops = &layer.top;
  return 0;
}

int XaThrCtx_Init(XaThreadCtx* ctx, int threaded) {
  ctx->threaded = threaded;
  ctx->enabled.store(0);
  ctx->keep = 1;
  ctx->worker = nullptr;
  ctx->reserved = 0;
  if (threaded == 0) return 0;
  ctx->worker = new (std::nothrow) XaWorker;
  if (ctx->worker == nullptr) return KX_ERR_NOMEM;
  // A worker whose thread could not start stays: every routed call is then
  // refused instead of run.
  XaWorker_Start(ctx->worker);
  Layer& layer = State();
  try {
    std::lock_guard<std::mutex> hold(layer.lock);
    layer.live.insert(ctx);
  } catch (const std::bad_alloc&) {
    XaWorker_Stop(ctx->worker);
    delete ctx->worker;
    ctx->worker = nullptr;
    return KX_ERR_NOMEM;
  }
  return 0;
}

void XaThrCtx_Destroy(XaThreadCtx* ctx) {
  if (ctx == nullptr || ctx->worker == nullptr) return;
  if (ClaimCtx(ctx).mine) XaWorker_Stop(ctx->worker);
  delete ctx->worker;
  ctx->worker = nullptr;
}

int XaThrCtx_Run(XaThreadCtx* ctx, int (*exec)(void*), void* record) {
  if (ctx == nullptr || ctx->worker == nullptr) return 0;
  return XaWorker_Run(ctx->worker, exec, record);
}

void XaThr_Shutdown() {
  Layer& layer = State();
  // One context at a time, each taken out of the live set under the lock, so
  // that a disconnect at the same moment either stops its own worker (it
  // took the context first) or waits until this is done with it. The
  // contexts stay with their connections, and every later routed call on
  // them is refused.
  for (;;) {
    XaThreadCtx* ctx = nullptr;
    {
      std::lock_guard<std::mutex> hold(layer.lock);
      if (layer.live.empty()) break;
      auto node = layer.live.extract(layer.live.begin());
      ctx = node.value();
      layer.stopping.insert(std::move(node));  // moves the node: nothing to allocate
    }
    XaWorker_Stop(ctx->worker);
    {
      std::lock_guard<std::mutex> hold(layer.lock);
      layer.stopping.erase(ctx);
    }
    layer.stopped.notify_all();
  }
}

int XaThr_LiveWorkers() { return XaWorker_Running(); }

}  // namespace kx
