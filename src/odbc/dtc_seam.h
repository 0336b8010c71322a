// What the connection code needs of the distributed-transaction support: the
// enlistment calls of SQL_ATTR_ENLIST_IN_DTC and connection close, and the
// teardown call of the unload hook. The defaults here answer "not available"
// (a failed init, no dispenser, nothing to tear down); the distributed-
// transaction support, when linked, provides the real ones.
#pragma once

#include <cstdint>
#include <mutex>

#include "agent/agent.h"

namespace kx {

// 0 when the process's resource-manager support is ready, -1 on failure.
int16_t DtcInit();
// A dispenser for the application's transaction object on an open agent
// connection, or nullptr. connectText is "DSN=...;UID=...;PWD=...;".
void* DtcNewDispenser(void* transaction, AgentHandle server, AgentHandle conn,
                      AgentBinding* binding, std::recursive_mutex* dtcLock,
                      std::recursive_mutex* callLock, const char* connectText);
// 0 on success, -1 otherwise (also for no dispenser).
int16_t DtcRMConnect(void* dispenser);
int16_t DtcRMEnlist(void* dispenser);
// References left after one release; -1 for a NULL or unusable dispenser.
int DtcRelease(void* dispenser);
// Unload: tear the resource manager down when DtcInit ran.
void DtcTerm();

}  // namespace kx
