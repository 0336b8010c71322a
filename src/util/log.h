// Levelled log with pluggable outputs ("sinks"), and the allocation wrappers
// that end the process when memory runs out.
//
// Until the first sink is opened every message at LOG_CRIT or more severe (the
// reason the process ends) goes to standard error without prefix; less severe
// ones are dropped: errors reach the application as diagnostics. Once a sink was opened, messages go only to
// the open sinks whose mask accepts them; after the last sink is closed they
// go nowhere.
//
// Sinks are opened and closed only while no other thread can log (library load
// and unload): the sink list itself takes no lock.
//
// Do not include <syslog.h> together with this header: it defines the level
// names below as macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdarg>

#ifdef LOG_EMERG
#error "util/log.h cannot be combined with <syslog.h> (LOG_* names clash)"
#endif

namespace kx {

enum LogLevel : int {
  LOG_EMERG = 0,
  LOG_ALERT = 1,
  LOG_CRIT = 2,
  LOG_ERROR = 3,
  LOG_WARNING = 4,
  LOG_NOTICE = 5,
  LOG_INFO = 6,
  LOG_DEBUG = 7,
};

// Sink flags: what each sink puts in front of a line.
constexpr uint32_t LOGF_DAYBANNER = 1;  // date banner once a day; short time stamp
constexpr uint32_t LOGF_TIME = 2;       // time stamp
constexpr uint32_t LOGF_LEVEL = 4;      // level name
constexpr uint32_t LOGF_PROGRAM = 8;    // program name
constexpr uint32_t LOGF_FILELINE = 16;  // "(file:line)" when the caller gave a file

// Buffers of the expanded format and of a finished line, terminator included.
constexpr size_t LOG_LINE_MAX = 2048;

struct LogSink;
using LogEmitFn = void (*)(LogSink* sink, int level, const char* line);
using LogCloseFn = void (*)(LogSink* sink);

struct LogSink {
  LogSink* next;
  LogSink* prev;
  uint32_t mask[8];      // per level: the categories accepted
  uint32_t flags;        // LOGF_*
  uint32_t bannerMonth;  // date of the last day banner written (0 = none yet)
  uint32_t bannerDay;
  uint32_t bannerYear;
  LogEmitFn emit;        // may be NULL: nothing is written
  LogCloseFn close;      // may be NULL
  FILE* file;            // stream of the stream sinks
};

// ---- writing ----------------------------------------------------------------
// Formats are printf-style plus three directives expanded first: %F the source
// file, %L the source line, %m the text of the errno value at the time of the
// call. Callers pass their own __FILE__ and __LINE__. Every call writes one
// line: text after a newline inside the format is dropped. The compiler checks
// formats as printf's, which reads %F and %L as conversions of their own: the
// prefix flags show the source position instead.
int LogAt(int level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int LogWrite(int level, const char* file, int line, uint32_t categories, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
int LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
int LogWriteV(int level, const char* file, int line, uint32_t categories, const char* format,
              va_list args);

// Expands %F, %L and %m of a format into out (capacity bytes, at most
// LOG_LINE_MAX is useful) and ends it with a newline and a terminator, both
// always within capacity. Inserted texts have their '%' doubled so that the
// following printf step prints them as they are. Returns the position of the
// terminator. A capacity below 2 gives an empty text (or nothing for 0).
char* LogExpandFormat(const char* format, char* out, size_t capacity, int errnum, const char* file,
                      int line);

// ---- sinks --------------------------------------------------------------------
// Each open function links the new sink at the head of the list (visited
// newest first) and returns it, or NULL when memory runs out. The record is
// malloc'd: the caller releases it with free() after LogSinkClose.
LogSink* LogSinkOpen(int level, uint32_t categories, uint32_t flags);
LogSink* LogSinkOpenCb(LogEmitFn emit, LogCloseFn close, int level, uint32_t categories,
                       uint32_t flags);
// Writes to an open stream and never closes it.
LogSink* LogSinkOpenStream(FILE* stream, int level, uint32_t categories, uint32_t flags);
// Writes to an open stream and closes it when the sink is closed.
LogSink* LogSinkOpenFile(FILE* stream, int level, uint32_t categories, uint32_t flags);
// Opens the file for appending; NULL when it cannot be opened.
LogSink* LogSinkOpenPath(const char* path, int level, uint32_t categories, uint32_t flags);
// A sink that accepts lines and writes nothing; the first three arguments are ignored.
LogSink* LogSinkOpenNull(const void* unused1, const void* unused2, const void* unused3, int level,
                         uint32_t categories, uint32_t flags);

void LogSinkEmitFile(LogSink* sink, int level, const char* line);
void LogSinkCloseFile(LogSink* sink);

// Sets the categories at levels 0..level and clears them above (level clamped to 0..7).
void LogSinkSetMask(LogSink* sink, int level, uint32_t categories);
// LogSinkSetMask with all 32 categories.
void LogSinkSetLevel(LogSink* sink, int level);
// Runs the close callback and unlinks the sink (which then points to itself). Returns 0.
int LogSinkClose(LogSink* sink);
// LogSinkClose on every sink of the list, without freeing them.
void LogCloseAll();

struct LogMaskName {
  const char* name;
  uint32_t value;
};
// OR of the values of the comma-separated names (matched exactly). Returns 0,
// or -1 at the first unknown name (mask then holds the names before it).
int LogParseMask(const char* text, const LogMaskName* table, int rows, uint32_t* mask);

// ---- allocation and exit --------------------------------------------------------
// Zeroed count x size bytes (one byte when either is 0). Never returns NULL:
// exhaustion logs one ERROR line and ends the process with status 1.
void* s_alloc(size_t count, size_t size);
// realloc that never returns NULL (a size of 0 keeps one byte).
void* s_realloc(void* block, size_t size);
// Copy of a text in s_alloc memory (NULL gives an empty text). Release with free().
char* s_strdup(const char* text);
[[noreturn]] void s_exit(int status);
// Waits for RETURN before exit when the process owns its console (never here).
void s_console_pause();
void s_console_owned();
// Message of a C library error number; "Unknown error N" for numbers it does
// not know (in a per-thread buffer overwritten by the next such call).
const char* s_strerror(int errnum);
// Copies text with its terminator; returns the position of the copied terminator.
char* StrCopyEnd(char* destination, const char* text);

}  // namespace kx
