#include "agent/build_flavor.h"

#include <atomic>
#include <cstring>

#include "platform/process_info.h"

namespace kx {

namespace {
std::atomic<bool> g_unicode{true};
}  // namespace

bool UnicodeBuild() { return g_unicode.load(std::memory_order_relaxed); }

void SetUnicodeBuild(bool unicode) { g_unicode.store(unicode, std::memory_order_relaxed); }

const char* FlavorLibraryFile() { return UnicodeBuild() ? "libkestrixu.so" : "libkestrix.so"; }

std::string DriverLibraryName() {
  char path[4096];
  if (PlatformModulePath(path, sizeof path) == 0) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (std::strstr(name, ".so") != nullptr) return name;
  }
  return FlavorLibraryFile();
}

}  // namespace kx
