// Small steps shared by the converters of every source type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Stores a fixed-size value of n bytes at the target (the application's
// buffer length is not consulted for fixed-size C types) and reports n as the
// out length. A NULL target only reports the length. A parser result of
// SQL_SUCCESS_WITH_INFO (01S07 in the cell) is kept as the result.
int16_t StoreFixed(const void* value, uint64_t n, void* target, int64_t* outLen, int32_t* err,
                   int16_t parserRc = 0);

// Stores a fixed-size value through the application's buffer length: a
// shorter buffer is refused with 22003, a zero one gives 01004, a negative one
// S1090. Used for raw copies (SQL_C_BINARY of a number, of a BIGINT column).
int16_t StoreRaw(const void* value, uint64_t n, void* target, int64_t bufferLength,
                 int64_t* outLen, int32_t* err, int16_t parserRc = 0);

// Integer range of an integer C type; false for other types.
bool IntegerCTypeRange(int32_t cType, int64_t* lo, uint64_t* hi, unsigned* bytes);

// Stores v (already checked against the type's range) with the width of the
// integer C type. Little-endian platform: the low bytes of the 64-bit pattern.
int16_t StoreInteger(int32_t cType, int64_t v, void* target, int64_t bufferLength,
                     int64_t* outLen, int32_t* err, int16_t parserRc = 0);

// Text of a number or of a date/time value into a character target (SQL_C_CHAR
// or SQL_C_WCHAR) by ODBC's rules for such values: the whole text when it fits;
// otherwise, when its first wholeLen characters fit (the sign and the whole
// digits of a number, a timestamp up to its seconds), as much of the rest as
// fits, never ending on a bare decimal point, with 01004 and the whole length;
// otherwise 22003. A zero buffer only reports the length (01004). The text is
// ASCII: one character is one unit of either target.
int16_t StoreValueText(const char* text, size_t n, size_t wholeLen, int32_t cType, void* target,
                       int64_t bufferLength, int64_t* outLen, int32_t* err);

}  // namespace kx
