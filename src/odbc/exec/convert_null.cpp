#include "odbc/exec/convert_null.h"

#include <cstring>

#include "odbc/ctypes.h"

namespace kx {

void ConvertZeroTarget(int32_t cType, void* target, int64_t bufferLength) {
  if (target == nullptr) return;
  size_t n = 0;
  if (cType == static_cast<int16_t>(cType)) n = static_cast<size_t>(CTypeSize(static_cast<int16_t>(cType)));
  if (n == 0 && bufferLength > 0) n = static_cast<size_t>(bufferLength);
  if (n > 0) std::memset(target, 0, n);
}

void ConvertZeroTarget(const ColBinding* binding, int32_t cType) {
  if (binding == nullptr) return;
  ConvertZeroTarget(cType, binding->target, binding->bufferLength);
}

}  // namespace kx
