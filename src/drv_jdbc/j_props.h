// Agent properties: what the core and the cursor layer read and set through
// DRV_GetProperty and DRV_SetProperty, keyed by an AgentPropertyId (level,
// value kind, class, item): capabilities, connection and statement options,
// SQLGetInfo answers, and the negotiation of cursor type and concurrency.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

int32_t DRV_GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                        uint16_t* length);                                      // 0
int32_t DRV_SetProperty(AgentHandle h, AgentPropertyId id, const void* value);  // 1

// The capability word (0x22010011); marks the connection dynamic-capable.
int32_t JDB_CapabilityWord(JConn* c);
// SQL_SCROLL_OPTIONS as the agent answers it.
int32_t JDB_ScrollOptions(const JConn* c);
// Settles a requested cursor type (option 6) or concurrency (option 7) on one
// the connection offers: 0 (kept), 75 (*value replaced) or 43 (none fits).
int JDB_NegotiateCursorOpt(JStmt* s, int32_t option, int32_t* value);

}  // namespace kx
