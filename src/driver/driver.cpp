// The driver's one wiring place, compiled once per deliverable: it tells every
// layer which build it is part of, puts the layers together in their order
// (the JDBC agent, then the scrollable cursor layer, then the XA routing, each
// wrapping the table below it) and attaches the library to the process when
// it is loaded. The Unicode build exports the wide entries and carries wide
// text columns and parameters; the ANSI build exports the narrow entries.
#include "agent/agent.h"
#include "agent/build_flavor.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/text/j_initsql.h"
#include "odbc/libmain.h"
#include "scs/scs_layer.h"
#include "xa/dtc_rm.h"
#include "xa/xa_route.h"
#include "xa/xa_switch.h"

namespace kx {

namespace {

// The agent reads its jar directory from the driver's setup values when it
// opens its environment, and tells the XA layer when its last environment
// closes. Nothing is read here: only a connect knows which of the driver's
// odbcinst.ini sections the application chose.
void LoadAgent() {
  JDB_SetSetupReader(GetSetupValue);
  JDB_SetUpperHooks(JDB_UpperHooks{XaTeardownHook});
  JDB_BrokerKnown = 1;
}

int BindLayers(AgentBinding* binding) {
  const int rc = JDB_Register(binding);
  SCS_Install(binding);
  XaThr_Bind(binding);
  return rc;
}

// Unload (after the core has ended the DTC enlistments): the XA workers of
// connections left open stop, then the switch closes its trace.
void UnloadLayers() {
  XaThr_Shutdown();
  XaSwitchTerm();
}

constexpr DriverLayers kLayers{LoadAgent, BindLayers, UnloadLayers};

__attribute__((constructor)) void KxLibraryLoad() {
  SetUnicodeBuild(KX_UNICODE_BUILD != 0);
  DriverInstallLayers(kLayers);
  // SQL_ATTR_ENLIST_IN_DTC and connection close reach the DTC resource manager.
  DtcInstall(DtcOpsTable());
  DriverAttach(reinterpret_cast<void*>(&KxLibraryLoad));
}

__attribute__((destructor)) void KxLibraryUnload() { DriverDetach(); }

}  // namespace
}  // namespace kx
