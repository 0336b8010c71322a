// Installation of the scrollable cursor layer over a binding of the agent's
// operation table. The driver's wiring calls it for the process-wide binding
// and for each connection's binding, after the agent has filled the binding
// and before the XA routing layer wraps it. The first call copies the
// agent's table and overrides the layer's slots; every call points its
// binding at that one copy. 0, or 15 for a binding without a table.
#pragma once

#include "agent/agent.h"

namespace kx {

int SCS_Install(AgentBinding* binding);

}  // namespace kx
