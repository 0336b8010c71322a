// The entry point of the test builds of the driver: the same start-up as the
// deliverables' (src/driver), with the test agent as the only layer under the
// core.
#include "agent/build_flavor.h"
#include "odbc/libmain.h"
#include "support/test_agent.h"

namespace {

__attribute__((constructor)) void KxTestLibraryLoad() {
  kx::SetUnicodeBuild(KX_UNICODE_BUILD != 0);
  kx::DriverInstallLayers(kx::TestAgentLayers());
  kx::DriverAttach(reinterpret_cast<void*>(&KxTestLibraryLoad));
}

__attribute__((destructor)) void KxTestLibraryUnload() { kx::DriverDetach(); }

}  // namespace
