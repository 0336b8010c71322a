#include "platform/process_info.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kx {
namespace {

int CopyOut(const char* text, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return PLATFORM_FAILED;
  size_t len = text ? strlen(text) : 0;
  if (text == nullptr || len == 0 || len >= capacity) {
    out[0] = '\0';
    return PLATFORM_FAILED;
  }
  memcpy(out, text, len + 1);
  return PLATFORM_OK;
}

}  // namespace

int PlatformCommandName(char* out, size_t capacity) {
  // /proc/self/cmdline holds argv[0] as the first NUL-terminated string; it
  // reflects what the program was started as even when argv was not passed to us.
  char buf[4096 + 1];
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t got;
    do {
      got = read(fd, buf, sizeof buf - 1);
    } while (got < 0 && errno == EINTR);
    close(fd);
    if (got > 0) {
      buf[got] = '\0';
      return CopyOut(buf, out, capacity);
    }
  }
  return CopyOut(program_invocation_name, out, capacity);
}

int PlatformUserName(char* out, size_t capacity) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 1024);
  for (;;) {
    struct passwd pw;
    struct passwd* found = nullptr;
    int rc = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return CopyOut(nullptr, out, capacity);
    return CopyOut(found->pw_name, out, capacity);
  }
}

int64_t PlatformThreadId() { return static_cast<int64_t>(syscall(SYS_gettid)); }

int PlatformModulePath(char* out, size_t capacity) {
  Dl_info info;
  // Any function of this library names the module it was loaded from.
  if (dladdr(reinterpret_cast<void*>(&PlatformModulePath), &info) == 0)
    return CopyOut(nullptr, out, capacity);
  return CopyOut(info.dli_fname, out, capacity);
}

}  // namespace kx
