// Defaults of the agent's load-time hooks. They are weak: the JDBC agent (or
// the test agent of the test builds) linked into the same library replaces
// them. Without an agent a connection finds an empty operation table and
// every open fails cleanly with "Unable to allocate server handle".
#include "odbc/agent.h"
#include "odbc/dtc_seam.h"

namespace kx {

namespace {
const AgentOps kNoAgent{};
}  // namespace

__attribute__((weak)) int32_t JDB_BrokerKnown = 0;

__attribute__((weak)) int JDB_Register(AgentBinding* binding) {
  binding->flags = AB_REENTRANT;
  binding->ops = &kNoAgent;
  return 0;
}

__attribute__((weak)) int JDB_FindJarDir() { return 1; }

__attribute__((weak)) int JDB_DriverUnload() {
  DtcTerm();
  XaSwitchTerm();
  return 1;
}

}  // namespace kx
