// Defaults of the distributed-transaction seam: weak, so that the real
// support replaces them when it is linked into the same library.
#include "odbc/dtc_seam.h"

namespace kx {

__attribute__((weak)) int16_t DtcInit() { return -1; }

__attribute__((weak)) void* DtcNewDispenser(void*, AgentHandle, AgentHandle, AgentBinding*,
                                            std::recursive_mutex*, std::recursive_mutex*,
                                            const char*) {
  return nullptr;
}

__attribute__((weak)) int16_t DtcRMConnect(void*) { return -1; }
__attribute__((weak)) int16_t DtcRMEnlist(void*) { return -1; }
__attribute__((weak)) int DtcRelease(void*) { return -1; }
__attribute__((weak)) void DtcTerm() {}

}  // namespace kx
