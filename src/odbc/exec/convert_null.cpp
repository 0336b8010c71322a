#include "odbc/exec/convert_null.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "odbc/ctypes.h"

namespace kx {

void ConvertZeroTarget(int32_t cType, void* target, int64_t bufferLength) {
  if (target == nullptr) return;
  const auto c = static_cast<int16_t>(cType);
  if (cType == c) {
    // Text gets an empty string: the terminator alone, never the whole
    // buffer (an application that binds a 2 GB buffer would have every NULL
    // row clear 2 GB).
    if (c == SQL_C_CHAR) {
      if (bufferLength >= 1) static_cast<char*>(target)[0] = '\0';
      return;
    }
    if (c == SQL_C_WCHAR) {
      if (bufferLength >= static_cast<int64_t>(sizeof(uint16_t))) std::memset(target, 0, sizeof(uint16_t));
      return;
    }
    // A fixed-size structure is cleared whole: it is small, and an
    // application reading it despite the indicator sees zeros.
    const int16_t n = CTypeSize(c);
    if (n > 0) std::memset(target, 0, static_cast<size_t>(n));
  }
  // Binary and unknown types: only the indicator tells.
}

void ConvertZeroTarget(const ColBinding* binding, int32_t cType) {
  if (binding == nullptr) return;
  ConvertZeroTarget(cType, binding->target, binding->bufferLength);
}

}  // namespace kx
