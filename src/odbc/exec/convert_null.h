// Clearing of an application's target when the value is NULL.
#pragma once

#include <cstdint>

#include "odbc/stmt_types.h"

namespace kx {

// Leaves a target in a defined state for a NULL value: text gets its
// terminator alone (when the buffer has room for it), a fixed-size type is
// cleared over its size (19 bytes numeric, 16 GUID and timestamps, 8, 6, 4,
// 2 or 1), binary is not touched. A NULL target is left alone.
void ConvertZeroTarget(int32_t cType, void* target, int64_t bufferLength);
// The same for a binding's target and buffer length.
void ConvertZeroTarget(const ColBinding* binding, int32_t cType);

}  // namespace kx
