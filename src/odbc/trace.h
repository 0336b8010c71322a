// ODBC and XA trace files: one plain-text line per call and per decision.
// Writers cost one load and a branch while tracing is off.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

namespace kx {

enum TraceType : int { TRACE_ODBC = 0, TRACE_XA = 1, TRACE_TPL = 2 };

// 0 off, 1 standard error, 2 files.
extern std::atomic<int> g_traceLevel;

inline bool TraceOn() { return g_traceLevel.load(std::memory_order_relaxed) != 0; }

// Opens the trace of a type: the file ZNT_DEBUGFILE names, else the DebugFile
// of the driver's odbcinst.ini section (see GetSetupValue for section).
// Nothing when neither names one.
void TraceOpen(int type, const char* section = nullptr);
void TraceClose(int type);
void TracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void XaTracePrintf(int threadPrefix, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TplTracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The stream of a type (NULL when closed): the load code binds a log sink to
// the ODBC stream.
FILE* TraceStream(int type);

// The file name of a configured trace name: $$ gives "$", $H the user's home
// directory with a final '/', $P the process id, $T the local time
// (YYYYmmdd-HHMMSS), $U the user name; '$' with any other character and a
// final lone '$' disappear. The XA type appends "-xa".
std::string TraceExpandName(const char* name, int type);
// The effective user's name (at most 255 characters), empty when unknown.
std::string TraceUserName();
// $HOME, else the account's home directory, ending in '/'.
std::string TraceHomeDir();

}  // namespace kx
