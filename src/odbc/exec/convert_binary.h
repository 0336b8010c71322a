// Conversion of binary values: as they are, or as hexadecimal text.
#pragma once

#include <cstdint>

namespace kx {

// bytes/length: what is at hand now; total: the whole value's length in bytes
// (0 = length, SQL_NO_TOTAL = unknown). SQL_C_BINARY copies the bytes, cut to
// the buffer with 01004; SQL_C_CHAR and SQL_C_WCHAR give two upper-case
// hexadecimal characters a byte and a terminator (the reported length is that
// of the whole value's text in bytes); other C types are 07006. A negative
// buffer length is S1090.
// *consumed (optional): the source bytes that went out, for reading the value
// in pieces (continue at bytes + consumed); never more than length.
int16_t ConvertBINARY(const void* bytes, uint64_t length, int64_t total, int32_t cType, void* target,
                      int64_t bufferLength, int64_t* outLen, int32_t* err,
                      uint64_t* consumed = nullptr);

}  // namespace kx
