// What the agent's XA operations and the XA routing layer above it share: the
// X/Open codes and flags of slots 55 to 64, the capabilities the layer asks,
// and the routing context of one agent connection. The layer makes and owns
// the context; the agent only reads and sets its XA-on mark.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/agent.h"
#include "util/errcodes.h"

namespace kx {

// X/Open return codes.
constexpr int XA_OK = 0;
constexpr int XA_RDONLY = 3;
constexpr int XAER_ASYNC = -2;
constexpr int XAER_RMERR = -3;
constexpr int XAER_NOTA = -4;
constexpr int XAER_INVAL = -5;
constexpr int XAER_PROTO = -6;
constexpr int XAER_RMFAIL = -7;
// The branch was rolled back because the connection to the database failed.
constexpr int XA_RBCOMMFAIL = 101;

// X/Open flags; the JDBC XAResource constants have the same values.
constexpr long TMNOFLAGS = 0;
constexpr long TMJOIN = 0x00200000;
constexpr long TMENDRSCAN = 0x00800000;
constexpr long TMSTARTRSCAN = 0x01000000;
constexpr long TMSUSPEND = 0x02000000;
constexpr long TMSUCCESS = 0x04000000;
constexpr long TMRESUME = 0x08000000;
constexpr long TMFAIL = 0x20000000;
constexpr long TMONEPHASE = 0x40000000;
constexpr long TMASYNC = 0x80000000L;

// DRV_XaOpen's threaded argument: from then on the connection's calls run on
// a worker thread of its own.
constexpr int XA_OPEN_THREADED = 1;

// Whether an operation's flags ask for asynchronous XA, which no operation
// supports: the sign bit of the 32-bit flag word.
constexpr bool XaFlagsAsync(long flags) { return (flags & TMASYNC) != 0 || flags < 0; }

// Capabilities the routing layer asks of the table below it (4-byte answers).
// KeepContext: a connection's routing context and worker survive a later
// xa_open. TerminateWorker: the worker may be ended by force; this system
// never does that, and its agent answers 0.
constexpr AgentPropertyId XaCap_KeepContext = 0x22010017;
constexpr AgentPropertyId XaCap_TerminateWorker = 0x22010018;

struct XaWorker;  // the layer's worker thread, opaque here
struct XaThreadCtx;

// Where the layer finds a connection's context: the agent answers these with
// the address of the connection record's context field (an XaThreadCtx**,
// sizeof(void*) bytes), asked with the connection's handle or with one of its
// statements' handles. An agent without XA answers 1 (IM001) and the layer
// then runs every call directly. The answer needs no database work.
constexpr AgentPropertyId XaProp_ConnContext = 0x22010040;
constexpr AgentPropertyId XaProp_StmtContext = 0x32010040;

// The routing context of one agent connection, made by the layer's first
// xa_open on the connection and freed by its disconnect.
struct XaThreadCtx {
  int32_t threaded;              // non-zero: the connection's calls run on the worker
  std::atomic<int32_t> enabled;  // 1 while XA is on (set and cleared by the agent)
  int32_t keep;                  // non-zero: kept across a later xa_open
  XaWorker* worker;              // present only when threaded
  int32_t reserved;
};

// Sets the XA-on mark: 1 for any non-zero flag. 0; 21 for no context.
inline int XaThr_SetEnabled(XaThreadCtx* ctx, int flag) {
  if (ctx == nullptr) return KX_ERR_BAD_ARGUMENT;
  ctx->enabled.store(flag != 0 ? 1 : 0, std::memory_order_release);
  return 0;
}

// The XA-on mark; 0 for no context.
inline int XaThr_IsEnabled(const XaThreadCtx* ctx) {
  return ctx != nullptr ? ctx->enabled.load(std::memory_order_acquire) : 0;
}

}  // namespace kx
