// Compiled once per deliverable: tells the shared core which build it is part
// of, and attaches the library to the process when it is loaded. The Unicode
// build exports the wide entries and carries wide text columns and parameters;
// the ANSI build exports the narrow entries.
#include "odbc/dispatch.h"
#include "odbc/libmain.h"

namespace kx {
extern const int kUnicodeBuildFlavor = KX_UNICODE_BUILD;
}

namespace {

__attribute__((constructor)) void KxLibraryLoad() {
  kx::g_unicodeBuild = KX_UNICODE_BUILD;
  kx::DriverAttach(reinterpret_cast<void*>(&KxLibraryLoad));
}

__attribute__((destructor)) void KxLibraryUnload() { kx::DriverDetach(); }

}  // namespace
