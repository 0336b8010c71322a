// The XA routing layer, the top layer of the agent table. Once a connection
// has been opened for XA through it, the connection's XA operations and,
// while XA is on, its statement and connection work run on a worker thread
// that belongs to the connection, whichever thread calls. Connections never
// XA-opened pay one handle lookup per wrapped call and run on the caller's
// thread. Disconnect always runs on the caller's thread; it waits out the
// request the worker may be running before the connection goes, and then
// stops the worker.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "agent/agent_xa.h"

namespace kx {

// Wraps a binding: the layer copies the table the binding points at (once;
// later bindings over the same table share the layer's table) and points the
// binding at its own table. 0; 43 for a binding with flags 0, left untouched.
int XaThr_Bind(AgentBinding* binding);

// Fills a context (enabled 0, keep 1) and, when threaded, starts its worker.
// 0; 16 when the worker cannot be allocated.
int XaThrCtx_Init(XaThreadCtx* ctx, int threaded);
// Stops and frees the context's worker; the context block stays its caller's.
void XaThrCtx_Destroy(XaThreadCtx* ctx);
// Runs exec(record) on the context's worker. 1 when it ran, 0 when it could
// not be handed over.
int XaThrCtx_Run(XaThreadCtx* ctx, int (*exec)(void*), void* record);

// Library unload: stops every worker still running (their contexts stay, and
// refuse routed calls from then on). A disconnect at the same moment stops
// its own worker or waits until the unload has stopped it: each worker is
// stopped once.
void XaThr_Shutdown();
// Worker threads currently running in the process.
int XaThr_LiveWorkers();

}  // namespace kx
