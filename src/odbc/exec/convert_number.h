// Conversion of integer and floating values to every C type the driver
// delivers, and the numeric structure built from a floating value.
//
// Results and error cells as for the text converters (convert_text.h): 19
// 01004 (number text cut), 25 S1090, 49 07006, 58 22003, 104 01S07. A target
// is left untouched on SQL_ERROR. Every integer target is range-checked with
// the value read by its source's signedness: a negative value never becomes
// a large unsigned one. Numbers are formatted without the process locale.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sql.h>
#include <sqlext.h>

namespace kx {

int16_t ConvertBYTE(uint8_t value, int32_t isSigned, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision);
int16_t ConvertSHORT(uint16_t value, int32_t isSigned, int32_t cType, void* target,
                     int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                     int32_t precision);
int16_t ConvertLONG(uint32_t value, int32_t isSigned, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision);
int16_t ConvertFLOAT(float value, int32_t cType, void* target, int64_t bufferLength,
                     int64_t* outLen, int32_t* err, int32_t scale, int32_t precision);
int16_t ConvertDOUBLE(double value, int32_t cType, void* target, int64_t bufferLength,
                      int64_t* outLen, int32_t* err, int32_t scale, int32_t precision);

// Numeric structure from a double: NaN and infinities, a scale that would
// need more than 38 digits, and a precision above 15 with a value of 1e16 or
// more are 22003; a precision above 15 otherwise is 01S07 (a double does not
// carry that many digits). The magnitude is the double's shortest decimal
// form scaled and truncated toward zero, filling all 16 bytes.
int16_t DoubleToNumeric(double value, SQL_NUMERIC_STRUCT* numeric, int32_t scale,
                        uint32_t precision, int32_t* err);
// base^exponent by repeated multiplication (division for a negative exponent).
double DoublePower(double base, int32_t exponent);
// The 16-byte little-endian magnitude of a non-negative double (its integer
// part; values beyond 2^128 saturate).
void DoubleToNumericVal(double magnitude, uint8_t value[16]);
// "%.*g" of the value with the given significant digits, in the C locale's
// form whatever the process locale. Returns the length written (the text is
// terminated; capacity of at least 32 holds every value).
size_t DoubleToText(char* buffer, size_t capacity, double value, int32_t digits);
// Removes one final '.'.
void TrimTrailingPoint(char* text);

}  // namespace kx
