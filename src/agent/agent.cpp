#include "agent/agent.h"

#include <cstring>

#include "util/errcodes.h"

namespace kx {

bool AgentSlotEmpty(const AgentOps* ops, int slot) {
  if (ops == nullptr || slot < 0 || slot >= AGENT_OP_SLOTS) return true;
  void* fn;
  std::memcpy(&fn, reinterpret_cast<const unsigned char*>(ops) + slot * sizeof(void*), sizeof fn);
  return fn == nullptr;
}

int SCS_GetInfoType(AgentBinding* binding, uint32_t connHandle, uint16_t infoType, void* out,
                    int16_t capacity, int16_t* length) {
  static const uint16_t kIntTypes[] = {8, 26, 28, 43, 44, 72, 78, 79, 80, 82, 83, 93, 99};
  static const uint16_t kTextTypes[] = {11, 17, 29, 47};
  if (binding == nullptr) return KX_ERR_NOT_SUPPORTED;
  for (uint16_t t : kIntTypes) {
    if (t != infoType) continue;
    int32_t value = 0;
    uint16_t got = 0;
    int32_t rc = AgentCall(*binding, &AgentOps::DRV_GetProperty, connHandle,
                           AP_CONN_GETINFO_INT + infoType, static_cast<void*>(&value),
                           static_cast<uint16_t>(4), &got);
    if (rc != 0) return rc;
    if (capacity < 4) return KX_ERR_BAD_ARGUMENT;
    if (out != nullptr) std::memcpy(out, &value, 4);
    if (length != nullptr) *length = 4;
    return 0;
  }
  for (uint16_t t : kTextTypes) {
    if (t != infoType) continue;
    char text[256] = {};
    uint16_t got = 0;
    int32_t rc = AgentCall(*binding, &AgentOps::DRV_GetProperty, connHandle,
                           AP_CONN_GETINFO_TEXT + infoType, static_cast<void*>(text),
                           static_cast<uint16_t>(sizeof text), &got);
    if (rc != 0) return rc;
    text[sizeof text - 1] = '\0';
    const size_t len = std::strlen(text);
    if (length != nullptr) *length = static_cast<int16_t>(len);
    auto* target = static_cast<char*>(out);
    if (static_cast<int64_t>(len) >= capacity) {
      // Cut to what fits, terminated, so the caller never reads past the copy.
      if (target != nullptr && capacity > 0) {
        std::memcpy(target, text, static_cast<size_t>(capacity - 1));
        target[capacity - 1] = '\0';
      }
      return KX_ERR_DATA_TRUNCATED;
    }
    if (target != nullptr) std::memcpy(target, text, len + 1);
    return 0;
  }
  return KX_ERR_BAD_OPTION;
}

}  // namespace kx
