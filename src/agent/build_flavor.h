// The build flavour: one source makes the Unicode library (libkestrixu.so,
// wide entries, wide text columns and parameters) and the ANSI one
// (libkestrix.so, narrow entries). Every layer asks here which one it runs in.
#pragma once

#include <string>

namespace kx {

// true in the Unicode build (the default until the entry point says).
bool UnicodeBuild();
// Set once by the driver's entry point when the library loads; the unit
// tests run both flavours in one process and set it per test.
void SetUnicodeBuild(bool unicode);

// The file name of the flavour's library: "libkestrixu.so" or "libkestrix.so".
const char* FlavorLibraryFile();
// The file name of the shared library the driver runs from; the flavour's
// file name when the code is not in a shared library.
std::string DriverLibraryName();

}  // namespace kx
