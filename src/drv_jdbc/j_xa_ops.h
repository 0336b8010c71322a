// The agent's XA operations (slots 55 to 64). The XA-on mark they test and
// set lives in the connection's routing context, which the XA routing layer
// above the agent makes; a connection without one is never in XA mode.
#pragma once

#include <cstdint>

#include "drv_jdbc/j_records.h"
#include "agent/agent.h"
#include "agent/agent_xa.h"

namespace kx {

int32_t DRV_XaClose(AgentHandle conn, const char* info, int rmid, long flags);            // 55
int32_t DRV_XaCommit(AgentHandle conn, XID* xid, int rmid, long flags);                   // 56
int32_t DRV_XaComplete(AgentHandle conn, int* handle, int* retval, int rmid, long flags); // 57
int32_t DRV_XaEnd(AgentHandle conn, XID* xid, int rmid, long flags);                      // 58
int32_t DRV_XaForget(AgentHandle conn, XID* xid, int rmid, long flags);                   // 59
int32_t DRV_XaOpen(AgentHandle conn, int threaded, const char* info, int rmid, long flags);  // 60
int32_t DRV_XaPrepare(AgentHandle conn, XID* xid, int rmid, long flags);                  // 61
int32_t DRV_XaRecover(AgentHandle conn, XID* xids, int32_t count, int rmid, long flags);  // 62
int32_t DRV_XaRollback(AgentHandle conn, XID* xid, int rmid, long flags);                 // 63
int32_t DRV_XaStart(AgentHandle conn, XID* xid, int rmid, long flags);                    // 64

// Closes and forgets the connection's current Java connection, XA connection
// and XA resource. Failures of the closes are posted as messages.
void JDB_XaDropConnection(AgentHandle h, JConn* c);

}  // namespace kx
