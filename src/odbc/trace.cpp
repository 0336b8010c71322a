// Trace files. One stream per trace type; every line is written and flushed
// whole under the trace lock, so lines of different threads never interleave.
#include "odbc/trace.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "odbc/libmain.h"
#include "util/str_util.h"

namespace kx {

std::atomic<int> g_traceLevel{0};

namespace {

std::mutex g_traceLock;
FILE* g_streams[3] = {nullptr, nullptr, nullptr};

long ThreadId() { return static_cast<long>(gettid()); }

// The account record of the effective user, through getpwuid_r with a buffer
// that grows until the record fits.
bool ReadPasswd(std::string* name, std::string* home) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 1024);
  passwd pw{};
  passwd* found = nullptr;
  for (;;) {
    int rc = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return false;
    break;
  }
  if (name != nullptr && pw.pw_name != nullptr) *name = pw.pw_name;
  if (home != nullptr && pw.pw_dir != nullptr) *home = pw.pw_dir;
  return true;
}

void WriteLine(FILE* stream, const char* prefix, const char* format, va_list args) {
  if (prefix != nullptr) fputs(prefix, stream);
  vfprintf(stream, format, args);
  fputc('\n', stream);
  fflush(stream);
}

void WriteTimeLine(void (*writer)(const char*), const char* pattern) {
  char line[201];
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  if (strftime(line, sizeof line, pattern, &local) == 0) line[0] = '\0';
  writer(line);
}

void OdbcLine(const char* text) { TracePrintf("%s", text); }
void XaLine(const char* text) { XaTracePrintf(0, "%s", text); }

}  // namespace

std::string TraceUserName() {
  std::string name;
  if (!ReadPasswd(&name, nullptr)) return std::string();
  if (name.size() > 255) name.resize(255);
  return name;
}

std::string TraceHomeDir() {
  std::string home;
  const char* env = getenv("HOME");
  if (env != nullptr && *env != '\0') {
    home = env;
  } else if (!ReadPasswd(nullptr, &home)) {
    home.clear();
  }
  if (home.empty() || home.back() != '/') home += '/';
  return home;
}

std::string TraceExpandName(const char* name, int type) {
  std::string out;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p != '$') {
      out += *p;
      continue;
    }
    char m = p[1];
    if (m == '\0') break;  // a lone '$' at the end ends the name
    ++p;
    switch (m) {
      case '$':
        out += '$';
        break;
      case 'H':
      case 'h':
        out += TraceHomeDir();
        break;
      case 'P':
      case 'p':
        out += std::to_string(static_cast<long>(getpid()));
        break;
      case 'T':
      case 't': {
        char stamp[32];
        time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        if (strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local) > 0) out += stamp;
        break;
      }
      case 'U':
      case 'u':
        out += TraceUserName();
        break;
      default:
        break;  // '$' and an unknown letter both disappear
    }
  }
  if (type == TRACE_XA) out += "-xa";
  return out;
}

void TraceOpen(int type, const char* section) {
  if (type != TRACE_ODBC && type != TRACE_XA) return;
  std::string name;
  if (const char* env = getenv("ZNT_DEBUGFILE"); env != nullptr) {
    name = env;
  } else {
    char buffer[1024] = "";
    GetSetupValue(section, "DebugFile", "", buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    name = buffer;
  }
  if (name.empty()) return;

  {
    std::lock_guard<std::mutex> lock(g_traceLock);
    if (name == "stderr") {
      for (FILE*& s : g_streams) s = stderr;
      g_traceLevel.store(1);
    } else {
      std::string path = TraceExpandName(name.c_str(), type);
      // Owner-only: a trace shows statements and data of the application.
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0) return;
      fchmod(fd, 0600);
      FILE* stream = fdopen(fd, "w");
      if (stream == nullptr) {
        close(fd);
        return;
      }
      if (g_streams[type] != nullptr && g_streams[type] != stderr) fclose(g_streams[type]);
      g_streams[type] = stream;
      g_traceLevel.store(2);
    }
  }

  if (type == TRACE_XA) {
    XaTracePrintf(0, "** Quillmar XA Trace File **");
    WriteTimeLine(XaLine, "** started on %a %b %d %H:%M:%S %Y **");
    XaTracePrintf(0, "\n");
  } else {
    TracePrintf("** Quillmar ODBC Trace file for %s **", s_progname());
    WriteTimeLine(OdbcLine, "** started on %a %b %d %H:%M:%S %Y **");
  }
}

void TraceClose(int type) {
  if (type < TRACE_ODBC || type > TRACE_TPL) return;
  {
    std::lock_guard<std::mutex> lock(g_traceLock);
    if (g_streams[type] == nullptr) return;
  }
  // The finish banner always goes to the ODBC stream; the XA code writes its
  // own end line into the XA stream.
  WriteTimeLine(OdbcLine, "\n** finished on %a %b %d %H:%M:%S %Y **");
  TracePrintf("** normal end **");

  std::lock_guard<std::mutex> lock(g_traceLock);
  FILE* stream = g_streams[type];
  if (stream != nullptr && stream != stderr) fclose(stream);
  g_streams[type] = nullptr;
  if (g_streams[0] == nullptr && g_streams[1] == nullptr && g_streams[2] == nullptr) {
    g_traceLevel.store(0);
  }
}

FILE* TraceStream(int type) {
  if (type < TRACE_ODBC || type > TRACE_TPL) return nullptr;
  std::lock_guard<std::mutex> lock(g_traceLock);
  return g_streams[type];
}

void TracePrintf(const char* format, ...) {
  if (!TraceOn()) return;
  std::lock_guard<std::mutex> lock(g_traceLock);
  if (g_streams[TRACE_ODBC] == nullptr) return;
  va_list args;
  va_start(args, format);
  WriteLine(g_streams[TRACE_ODBC], nullptr, format, args);
  va_end(args);
}

void XaTracePrintf(int threadPrefix, const char* format, ...) {
  if (!TraceOn()) return;
  char prefix[32];
  snprintf(prefix, sizeof prefix, "[%ld] ", ThreadId());
  std::lock_guard<std::mutex> lock(g_traceLock);
  if (g_streams[TRACE_XA] == nullptr) return;
  va_list args;
  va_start(args, format);
  WriteLine(g_streams[TRACE_XA], threadPrefix != 0 ? prefix : nullptr, format, args);
  va_end(args);
}

void TplTracePrintf(const char* format, ...) {
  if (!TraceOn()) return;
  char prefix[32];
  snprintf(prefix, sizeof prefix, "[%ld] ", ThreadId());
  std::lock_guard<std::mutex> lock(g_traceLock);
  if (g_streams[TRACE_TPL] == nullptr) return;
  va_list args;
  va_start(args, format);
  WriteLine(g_streams[TRACE_TPL], prefix, format, args);
  va_end(args);
}

}  // namespace kx
