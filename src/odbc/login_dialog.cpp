// The login dialog seam: none by default, or a library loaded on request.
#include "odbc/login_dialog.h"

#include <dlfcn.h>

#include <mutex>

namespace kx {

namespace {

std::mutex g_dialogLock;
LoginDialog g_dialog{};
bool g_loaded = false;
void* g_library = nullptr;

}  // namespace

const LoginDialog* LoginDialogGet() {
  std::lock_guard<std::mutex> lock(g_dialogLock);
  return g_loaded ? &g_dialog : nullptr;
}

int LoginDialogLoad(const char* path) {
  std::lock_guard<std::mutex> lock(g_dialogLock);
  g_loaded = false;
  g_dialog = LoginDialog{};
  // The previous library stays loaded: a caller may still hold its entries.
  if (path == nullptr) return 0;
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return -1;
  auto login = reinterpret_cast<ZntLoginFn>(dlsym(lib, "ZntLOGIN"));
  auto release = reinterpret_cast<ZntLoginFreeFn>(dlsym(lib, "ZntLOGIN_Free"));
  if (login == nullptr || release == nullptr) {
    dlclose(lib);
    return -1;
  }
  g_library = lib;
  g_dialog = LoginDialog{login, release};
  g_loaded = true;
  return 0;
}

}  // namespace kx
