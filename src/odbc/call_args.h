// The arguments of one ODBC call as the dispatcher hands them to a handler:
// one 8-byte slot each, in call order.
#pragma once

#include <cstdint>
#include <type_traits>

namespace kx {

struct OdbcArgs {
  static constexpr int kMaxSlots = 16;
  uint64_t slot[kMaxSlots];
  int count;
  int base;  // index of the first argument the handler sees

  int Count() const { return count - base; }
  uint64_t Raw(int i) const { return (i >= 0 && base + i < count) ? slot[base + i] : 0; }

  template <class T>
  T Get(int i) const {
    uint64_t v = Raw(i);
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<T>(static_cast<uintptr_t>(v));
    } else {
      return static_cast<T>(v);
    }
  }
};

template <class T>
inline uint64_t ToArgSlot(T v) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v));
  } else if constexpr (std::is_null_pointer_v<T>) {
    return 0;
  } else if constexpr (std::is_enum_v<T>) {
    return static_cast<uint64_t>(static_cast<int64_t>(v));
  } else if constexpr (std::is_signed_v<T>) {
    return static_cast<uint64_t>(static_cast<int64_t>(v));
  } else {
    return static_cast<uint64_t>(v);
  }
}

}  // namespace kx
