// Clearing of an application's target when the value is NULL.
#pragma once

#include <cstdint>

#include "odbc/stmt_types.h"

namespace kx {

// Clears the target by its C type: the type's fixed size (19 bytes numeric,
// 16 GUID and timestamps, 8, 6, 4, 2 or 1), else (text, binary) the whole
// buffer length when it is above 0. A NULL target is left alone.
void ConvertZeroTarget(int32_t cType, void* target, int64_t bufferLength);
// The same for a binding's target and buffer length.
void ConvertZeroTarget(const ColBinding* binding, int32_t cType);

}  // namespace kx
