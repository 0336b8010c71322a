// ODBC and XA trace files: one plain-text line per call and per decision.
// Writers cost one load and a branch while tracing is off.
#pragma once

#include <atomic>

namespace kx {

enum TraceType : int { TRACE_ODBC = 0, TRACE_XA = 1, TRACE_TPL = 2 };

// 0 off, 1 standard error, 2 files.
extern std::atomic<int> g_traceLevel;

inline bool TraceOn() { return g_traceLevel.load(std::memory_order_relaxed) != 0; }

void TraceOpen(int type);
void TraceClose(int type);
void TracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void XaTracePrintf(int threadPrefix, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TplTracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kx
