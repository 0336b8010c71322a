// Decimal number text as the converters read it, and the ODBC numeric
// structure built from it. Everything here works on the characters alone:
// no C library parser and no process locale is involved, so an application's
// setlocale (a comma as decimal point) cannot change a value.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sql.h>
#include <sqlext.h>

namespace kx {

// [white space][+|-]digits[.digits][(e|E)[+|-]digits][white space], with at
// least one mantissa digit. The text ends at its length or at its first NUL
// byte (fixed-width elements may be padded with either).
struct DecimalText {
  bool negative = false;
  const char* intDigits = nullptr;  // digits before the point
  size_t intLen = 0;
  const char* fracDigits = nullptr;  // digits after the point
  size_t fracLen = 0;
  int64_t exponent = 0;  // saturated far beyond any value the converters hold
};

// False when the text is not a number of that form.
bool ParseDecimalText(const char* text, size_t length, DecimalText* out);

// Length of the text up to its first NUL byte.
size_t TextLengthToNul(const char* text, size_t length);

// C-locale white space (what isspace accepts in the "C" locale).
inline bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct ScaledDecimal {
  unsigned __int128 magnitude = 0;  // valid unless overflow
  bool overflow = false;            // the value exceeds the limit
  bool fractionLost = false;        // non-zero digits below the unit were dropped
};

// |value| x 10^shift, truncated toward zero, checked against limit. Never
// wraps, whatever the length of the text or the size of its exponent.
ScaledDecimal ScaleDecimal(const DecimalText& d, int64_t shift, unsigned __int128 limit);

// Number of decimal digits of a magnitude (1 for 0).
unsigned DecimalDigits(unsigned __int128 v);

// 10^38 - 1: the largest magnitude of an ODBC numeric value.
unsigned __int128 MaxNumericMagnitude();

// How a numeric structure is built.
struct NumericRules {
  bool textSource;  // text: more integer digits than the precision is 22003,
                    // cut fractions and digits beyond the precision are 01S07
};

// Fills the numeric structure from decimal text with the scale and the
// precision (precision 1 to 38 after clamping). Result: SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO (cell 104) or SQL_ERROR (cell 58); the structure is
// written only on success. The magnitude fills all 16 bytes.
int16_t BuildNumeric(const DecimalText& d, int32_t scale, uint32_t precision, NumericRules rules,
                     SQL_NUMERIC_STRUCT* out, int32_t* err);

}  // namespace kx
