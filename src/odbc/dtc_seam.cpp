// The installed distributed-transaction table, and the one in force until
// the driver's entry point installs the real support.
#include "odbc/dtc_seam.h"

#include <atomic>
#include <cstdio>

namespace kx {

namespace {

int16_t NoInit() { return -1; }
void NoTerm() {}
void* NoDispenser(void*, AgentHandle, AgentHandle, AgentBinding*, std::recursive_mutex*, CallGate*,
                  const char*) {
  return nullptr;
}
int16_t NoStep(void*) { return -1; }
int NoRelease(void*) { return -1; }
int NoProgress(void*) { return 0; }
void NoReason(void*, char* out, size_t size) {
  if (out != nullptr && size > 0) {
    std::snprintf(out, size, "%s", "distributed transactions are not part of this library");
  }
}

constexpr DtcOps kNone{NoInit, NoTerm, NoDispenser, NoStep, NoStep, NoRelease, NoProgress, NoReason};

DtcOps g_ops = kNone;
std::atomic<bool> g_installed{false};

}  // namespace

void DtcInstall(const DtcOps& ops) {
  g_ops = ops;
  g_installed.store(true, std::memory_order_release);
}

const DtcOps& Dtc() { return g_installed.load(std::memory_order_acquire) ? g_ops : kNone; }

}  // namespace kx
