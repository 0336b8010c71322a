#include "util/log.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "util/str_util.h"

namespace kx {
namespace {

// The sink list: a circular list through a sentinel head. Unset until the first
// sink is opened; from then on it exists for the life of the process, so that
// closing the last sink silences the log instead of reverting to stderr.
LogSink g_head;
bool g_headSet = false;

const char* const kLevelNames[8] = {"EMERG",   "ALERT",  "CRIT", "ERROR",
                                    "WARNING", "NOTICE", "INFO", "DEBUG"};

int ClampLevel(int level) { return level < 0 ? 0 : level > 7 ? 7 : level; }

void EnsureHead() {
  if (!g_headSet) {
    g_head.next = &g_head;
    g_head.prev = &g_head;
    g_headSet = true;
  }
}

// Appends text to [p, end), doubling every '%' so the printf step prints it as
// it is; never splits a doubled '%'. Returns the new position.
char* InsertLiteral(char* p, char* end, const char* text) {
  for (; *text; ++text) {
    if (*text == '%') {
      if (end - p < 2) break;
      *p++ = '%';
      *p++ = '%';
    } else {
      if (p >= end) break;
      *p++ = *text == '\n' ? ' ' : *text;  // an inserted text never ends the line early
    }
  }
  return p;
}

// Appends printf-style text at p (room bytes left, terminator included); the
// result is cut to fit. Returns the new end.
char* AppendF(char* p, size_t room, const char* format, ...) __attribute__((format(printf, 3, 4)));
char* AppendF(char* p, size_t room, const char* format, ...) {
  if (room == 0) return p;
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(p, room, format, ap);
  va_end(ap);
  if (n < 0) {
    *p = '\0';
    return p;
  }
  return p + (static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1);
}

}  // namespace

char* LogExpandFormat(const char* format, char* out, size_t capacity, int errnum, const char* file,
                      int line) {
  if (capacity == 0) return out;
  if (capacity < 2 || format == nullptr) {
    out[0] = '\0';
    return out;
  }
  char* p = out;
  char* const end = out + capacity - 2;  // room kept for the newline and terminator
  const char* f = format;
  while (*f != '\0' && *f != '\n' && p < end) {
    if (*f != '%') {
      *p++ = *f++;
      continue;
    }
    char d = f[1];
    if (d == 'F') {
      p = InsertLiteral(p, end, file ? file : "?");
      f += 2;
    } else if (d == 'L') {
      char num[16];
      snprintf(num, sizeof num, "%d", line);
      p = InsertLiteral(p, end, num);
      f += 2;
    } else if (d == 'm') {
      p = InsertLiteral(p, end, s_strerror(errnum));
      f += 2;
    } else if (d == '\0') {
      // A lone '%' at the end would be an incomplete directive: print it.
      p = InsertLiteral(p, end, "%");
      break;
    } else {
      // Other directives go to the printf step as they are, never split.
      if (end - p < 2) break;
      *p++ = '%';
      *p++ = d;
      f += 2;
    }
  }
  *p++ = '\n';
  *p = '\0';
  return p;
}

int LogWriteV(int level, const char* file, int line, uint32_t categories, const char* format,
              va_list args) {
  // Save errno first: %m shows the caller's error, not one caused by logging.
  int savedErrno = errno;
  if (format == nullptr) return 0;
  char expanded[LOG_LINE_MAX];
  if (!g_headSet) {
    // Standard error belongs to the application: without a sink nothing goes
    // there but the reason the driver ends the process (critical and worse).
    // Errors reach the application as diagnostics; writing them here too
    // showed every one twice.
    if (ClampLevel(level) > LOG_CRIT) return 0;
    LogExpandFormat(format, expanded, sizeof expanded, savedErrno, file, line);
    va_list ap;
    va_copy(ap, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vfprintf(stderr, expanded, ap);
#pragma GCC diagnostic pop
    va_end(ap);
    errno = savedErrno;
    return 0;
  }
  if (g_head.next == &g_head) return 0;

  int lvl = ClampLevel(level);
  time_t now = time(nullptr);
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  localtime_r(&now, &tm);
  const uint32_t year = static_cast<uint32_t>(tm.tm_year + 1900);
  const uint32_t month = static_cast<uint32_t>(tm.tm_mon + 1);
  const uint32_t day = static_cast<uint32_t>(tm.tm_mday);
  const uint32_t hour = static_cast<uint32_t>(tm.tm_hour);
  const uint32_t minute = static_cast<uint32_t>(tm.tm_min);
  const uint32_t second = static_cast<uint32_t>(tm.tm_sec);
  bool haveExpanded = false;

  for (LogSink* s = g_head.next; s != &g_head; s = s->next) {
    if (categories != 0 && (categories & s->mask[lvl]) == 0) continue;
    const uint32_t flags = s->flags;

    if ((flags & LOGF_DAYBANNER) &&
        (s->bannerDay != day || s->bannerMonth != month || s->bannerYear != year)) {
      char banner[LOG_LINE_MAX];
      if (strftime(banner, sizeof banner, "\n\t\t%a %b %d %Y\n", &tm) == 0) banner[0] = '\0';
      if (s->emit) s->emit(s, lvl, banner);
      s->bannerDay = day;
      s->bannerMonth = month;
      s->bannerYear = year;
    }

    char buf[LOG_LINE_MAX];
    char* const bufEnd = buf + sizeof buf;
    char* p = buf;
    *p = '\0';
    if (flags & LOGF_TIME) {
      if (flags & LOGF_DAYBANNER)
        p = AppendF(p, bufEnd - p, "%02u:%02u:%02u ", hour, minute, second);
      else
        p = AppendF(p, bufEnd - p, "%02u/%02u/%04u %02u:%02u:%02u ", month, day, year, hour,
                    minute, second);
    }
    if (flags & LOGF_LEVEL) p = AppendF(p, bufEnd - p, "%s ", kLevelNames[lvl]);
    if (flags & LOGF_PROGRAM) p = AppendF(p, bufEnd - p, "%s ", s_progname());
    if ((flags & LOGF_FILELINE) && file != nullptr)
      p = AppendF(p, bufEnd - p, "(%s:%d) ", file, line);
    if (p > buf && (flags & (LOGF_LEVEL | LOGF_PROGRAM | LOGF_FILELINE)) && p[-1] == ' ') {
      p[-1] = ':';
      p = AppendF(p, bufEnd - p, " ");
    }

    if (!haveExpanded) {
      LogExpandFormat(format, expanded, sizeof expanded, savedErrno, file, line);
      haveExpanded = true;
    }
    size_t room = static_cast<size_t>(bufEnd - p);
    if (room > 1) {
      va_list ap;
      va_copy(ap, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      int n = vsnprintf(p, room, expanded, ap);
#pragma GCC diagnostic pop
      va_end(ap);
      if (n < 0) {
        *p = '\0';
      } else if (static_cast<size_t>(n) >= room) {
        // Cut: keep the line a line, so the next one does not run into it.
        bufEnd[-2] = '\n';
        bufEnd[-1] = '\0';
      }
    } else {
      bufEnd[-2] = '\n';
      bufEnd[-1] = '\0';
    }
    if (s->emit) s->emit(s, lvl, buf);
  }
  errno = savedErrno;
  return 0;
}

int LogWrite(int level, const char* file, int line, uint32_t categories, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  LogWriteV(level, file, line, categories, format, ap);
  va_end(ap);
  return 0;
}

int LogAt(int level, const char* file, int line, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  LogWriteV(level, file, line, 1, format, ap);
  va_end(ap);
  return 0;
}

#define KX_LOG_SHORT_FORM(name, level)          \
  int name(const char* format, ...) {           \
    va_list ap;                                 \
    va_start(ap, format);                       \
    LogWriteV(level, nullptr, 0, 1, format, ap); \
    va_end(ap);                                 \
    return 0;                                   \
  }
KX_LOG_SHORT_FORM(LogError, LOG_ERROR)
KX_LOG_SHORT_FORM(LogWarning, LOG_WARNING)
KX_LOG_SHORT_FORM(LogInfo, LOG_INFO)
KX_LOG_SHORT_FORM(LogDebug, LOG_DEBUG)
#undef KX_LOG_SHORT_FORM

// ---- sinks ---------------------------------------------------------------------

void LogSinkSetMask(LogSink* sink, int level, uint32_t categories) {
  if (sink == nullptr) return;
  int n = ClampLevel(level);
  for (int i = 0; i < 8; ++i) {
    if (i <= n)
      sink->mask[i] |= categories;
    else
      sink->mask[i] &= ~categories;
  }
}

void LogSinkSetLevel(LogSink* sink, int level) { LogSinkSetMask(sink, level, 0xFFFFFFFFu); }

LogSink* LogSinkOpen(int level, uint32_t categories, uint32_t flags) {
  EnsureHead();
  auto* sink = static_cast<LogSink*>(calloc(1, sizeof(LogSink)));
  if (sink == nullptr) return nullptr;
  sink->flags = flags;
  LogSinkSetMask(sink, level, categories);
  sink->prev = &g_head;
  sink->next = g_head.next;
  g_head.next->prev = sink;
  g_head.next = sink;
  return sink;
}

LogSink* LogSinkOpenCb(LogEmitFn emit, LogCloseFn close, int level, uint32_t categories,
                       uint32_t flags) {
  LogSink* sink = LogSinkOpen(level, categories, flags);
  if (sink) {
    sink->emit = emit;
    sink->close = close;
  }
  return sink;
}

LogSink* LogSinkOpenStream(FILE* stream, int level, uint32_t categories, uint32_t flags) {
  LogSink* sink = LogSinkOpenCb(LogSinkEmitFile, nullptr, level, categories, flags);
  if (sink) sink->file = stream;
  return sink;
}

LogSink* LogSinkOpenFile(FILE* stream, int level, uint32_t categories, uint32_t flags) {
  LogSink* sink = LogSinkOpenCb(LogSinkEmitFile, LogSinkCloseFile, level, categories, flags);
  if (sink) sink->file = stream;
  return sink;
}

LogSink* LogSinkOpenPath(const char* path, int level, uint32_t categories, uint32_t flags) {
  if (path == nullptr) return nullptr;
  FILE* f = fopen(path, "ae");
  if (f == nullptr) return nullptr;
  LogSink* sink = LogSinkOpenFile(f, level, categories, flags);
  if (sink == nullptr) fclose(f);
  return sink;
}

namespace {
void NullEmit(LogSink*, int, const char*) {}
void NullClose(LogSink*) {}
}  // namespace

LogSink* LogSinkOpenNull(const void*, const void*, const void*, int level, uint32_t categories,
                         uint32_t flags) {
  return LogSinkOpenCb(NullEmit, NullClose, level, categories, flags);
}

void LogSinkEmitFile(LogSink* sink, int, const char* line) {
  if (sink == nullptr || sink->file == nullptr || line == nullptr) return;
  fputs(line, sink->file);
  fflush(sink->file);
}

void LogSinkCloseFile(LogSink* sink) {
  if (sink == nullptr || sink->file == nullptr) return;
  fclose(sink->file);
  sink->file = nullptr;  // a second close must not close the stream again
}

int LogSinkClose(LogSink* sink) {
  // A closed sink points to itself: closing it again changes nothing.
  if (sink == nullptr || sink->next == sink || sink->next == nullptr) return 0;
  if (sink->close) sink->close(sink);
  sink->prev->next = sink->next;
  sink->next->prev = sink->prev;
  sink->next = sink;
  sink->prev = sink;
  return 0;
}

void LogCloseAll() {
  if (!g_headSet) return;
  while (g_head.next != &g_head) LogSinkClose(g_head.next);
}

int LogParseMask(const char* text, const LogMaskName* table, int rows, uint32_t* mask) {
  if (mask == nullptr) return -1;
  *mask = 0;
  if (text == nullptr) return -1;
  const char* item = text;
  for (;;) {
    const char* comma = strchr(item, ',');
    size_t len = comma ? static_cast<size_t>(comma - item) : strlen(item);
    bool found = false;
    for (int i = 0; table && i < rows; ++i) {
      const char* name = table[i].name;
      if (name && strlen(name) == len && memcmp(name, item, len) == 0) {
        *mask |= table[i].value;
        found = true;
        break;
      }
    }
    if (!found) return -1;
    if (comma == nullptr) return 0;
    item = comma + 1;
  }
}

// ---- allocation and exit -------------------------------------------------------

namespace {
bool g_consoleOwned = false;

[[noreturn]] void OutOfMemory(const char* file, int line, const char* message) {
  LogAt(LOG_CRIT, file, line, "%s", message);
  s_exit(1);
}
}  // namespace

void* s_alloc(size_t count, size_t size) {
  if (count == 0 || size == 0) count = size = 1;
  // Requests no allocator can meet fail here, before the C library sees them.
  if (count > static_cast<size_t>(PTRDIFF_MAX) / size)
    OutOfMemory(__FILE__, __LINE__, "s_alloc: out of memory");
  void* p = calloc(count, size);
  if (p == nullptr) OutOfMemory(__FILE__, __LINE__, "s_alloc: out of memory");
  return p;
}

void* s_realloc(void* block, size_t size) {
  // realloc with 0 frees the block and may return NULL: keep a byte instead.
  if (size == 0) size = 1;
  if (size > static_cast<size_t>(PTRDIFF_MAX))
    OutOfMemory(__FILE__, __LINE__, "s_realloc: out of memory");
  void* p = realloc(block, size);
  if (p == nullptr) OutOfMemory(__FILE__, __LINE__, "s_realloc: out of memory");
  return p;
}

char* s_strdup(const char* text) {
  if (text == nullptr) text = "";
  size_t len = strlen(text);
  auto* copy = static_cast<char*>(s_alloc(len + 1, 1));
  memcpy(copy, text, len + 1);
  return copy;
}

void s_console_pause() {
  if (g_consoleOwned) {
    fprintf(stderr, "\nPress RETURN to exit %s", s_progname());
    fflush(stderr);
    (void)getchar();
  }
}

void s_console_owned() {
  // A Linux process never owns a console window that would vanish with it:
  // there is nothing to keep open for the user, so never wait.
  g_consoleOwned = false;
}

void s_exit(int status) {
  s_console_pause();
  exit(status);
}

const char* s_strerror(int errnum) {
  if (errnum >= 0) {
    const char* text = strerrordesc_np(errnum);
    if (text) return text;
  }
  thread_local char unknown[40];
  snprintf(unknown, sizeof unknown, "Unknown error %u", static_cast<unsigned>(errnum));
  return unknown;
}

char* StrCopyEnd(char* destination, const char* text) { return stpcpy(destination, text); }

}  // namespace kx
