#include "odbc/exec/convert_number.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

#include "odbc/ctypes.h"
#include "odbc/exec/convert_common.h"
#include "odbc/exec/decimal_text.h"
#include "odbc/trace.h"
#include "util/errcodes.h"

namespace kx {

namespace {

int16_t Fail(int32_t* err, int32_t code) {
  *err = code;
  return SQL_ERROR;
}

// A number's text: its whole digits are never cut; a fraction may be, but a
// number in exponent form has no part that can go without changing its value.
int16_t TextOut(const char* text, size_t n, int32_t cType, void* target, int64_t bufferLength,
                int64_t* outLen, int32_t* err) {
  size_t whole = n;
  if (std::memchr(text, 'e', n) == nullptr && std::memchr(text, 'E', n) == nullptr) {
    const void* point = std::memchr(text, '.', n);
    if (point != nullptr) whole = static_cast<size_t>(static_cast<const char*>(point) - text);
  }
  return StoreValueText(text, n, whole, cType, target, bufferLength, outLen, err);
}

// The numeric structure from decimal text of a number source: no warning for
// a cut fraction, no check of the digits against the precision.
int16_t NumericFromDecimalText(const char* text, size_t n, bool negative, int32_t scale,
                               uint32_t precision, SQL_NUMERIC_STRUCT* out, int32_t* err) {
  DecimalText d;
  if (!ParseDecimalText(text, n, &d)) return Fail(err, KX_ERR_NUMERIC_RANGE);
  d.negative = negative;
  return BuildNumeric(d, scale, precision, NumericRules{false}, out, err);
}

int16_t FloatingToNumeric(double v, bool isFloat, SQL_NUMERIC_STRUCT* out, int32_t scale,
                          uint32_t precision, int32_t* err) {
  if (TraceOn()) TracePrintf("DoubleToNumeric: %e", v);
  if (!std::isfinite(v)) return Fail(err, KX_ERR_NUMERIC_RANGE);
  const double x = std::fabs(v);
  if (x != 0 && scale > std::trunc(std::log10(1e38 / x))) return Fail(err, KX_ERR_NUMERIC_RANGE);
  bool warn = false;
  if (precision > 15) {
    if (x >= 1e16) return Fail(err, KX_ERR_NUMERIC_RANGE);
    warn = true;  // a double does not carry that many digits
  }
  // The shortest decimal form that reads back as the same value: 0.29 scales
  // to 29, not to the 28.99... of its binary expansion.
  char buf[64];
  const auto res = isFloat ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(x))
                           : std::to_chars(buf, buf + sizeof buf, x);
  const int16_t rc = NumericFromDecimalText(buf, static_cast<size_t>(res.ptr - buf), v < 0, scale,
                                            precision, out, err);
  if (rc != SQL_ERROR && warn) {
    *err = KX_ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

// Every integer source: v holds the value read by the source's signedness;
// raw holds the source's own bytes for SQL_C_BINARY.
int16_t ConvertInteger(int64_t v, const void* raw, unsigned rawBytes, int32_t cType, void* target,
                       int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                       int32_t precision, uint32_t defaultPrecision) {
  int64_t lo;
  uint64_t hi;
  unsigned bytes;
  if (IntegerCTypeRange(cType, &lo, &hi, &bytes)) {
    if (v < lo || (v >= 0 && static_cast<uint64_t>(v) > hi)) return Fail(err, KX_ERR_NUMERIC_RANGE);
    return StoreInteger(cType, v, target, bufferLength, outLen, err);
  }
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR: {
      char buf[24];
      const auto res = std::to_chars(buf, buf + sizeof buf, v);
      return TextOut(buf, static_cast<size_t>(res.ptr - buf), cType, target, bufferLength, outLen, err);
    }
    case SQL_C_BINARY:
      return StoreRaw(raw, rawBytes, target, bufferLength, outLen, err);
    case SQL_C_FLOAT: {
      const float f = static_cast<float>(v);
      return StoreFixed(&f, 4, target, outLen, err);
    }
    case SQL_C_DOUBLE: {
      const double d = static_cast<double>(v);
      return StoreFixed(&d, 8, target, outLen, err);
    }
    case SQL_C_NUMERIC: {
      char buf[24];
      const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      const auto res = std::to_chars(buf, buf + sizeof buf, mag);
      SQL_NUMERIC_STRUCT n;
      const uint32_t p = precision > 0 ? static_cast<uint32_t>(precision) : defaultPrecision;
      const int16_t rc = NumericFromDecimalText(buf, static_cast<size_t>(res.ptr - buf), v < 0, scale, p,
                                                &n, err);
      if (rc == SQL_ERROR) return rc;
      return StoreFixed(&n, sizeof n, target, outLen, err, rc);
    }
    default:
      return Fail(err, KX_ERR_RESTRICTED_TYPE);
  }
}

int16_t ConvertFloating(double v, bool isFloat, int32_t cType, void* target, int64_t bufferLength,
                        int64_t* outLen, int32_t* err, int32_t scale, int32_t precision) {
  int64_t lo;
  uint64_t hi;
  unsigned bytes;
  if (cType == SQL_C_BIT) {
    if (v != 0.0 && v != 1.0) return Fail(err, KX_ERR_NUMERIC_RANGE);
    const uint8_t b = v == 1.0 ? 1 : 0;
    return StoreFixed(&b, 1, target, outLen, err);
  }
  if (IntegerCTypeRange(cType, &lo, &hi, &bytes)) {
    // Compared in double, where every bound below 2^53 is exact; the 64-bit
    // upper bounds are taken as the exclusive powers of two, which a double
    // can hold, so that a value the target cannot hold is refused.
    const double loD = static_cast<double>(lo);
    bool inside;
    if (bytes == 8) {
      const double upper = lo == 0 ? 18446744073709551616.0 : 9223372036854775808.0;
      inside = v >= loD && v < upper;
    } else {
      inside = v >= loD && v <= static_cast<double>(hi);
    }
    if (!inside) return Fail(err, KX_ERR_NUMERIC_RANGE);  // NaN included
    const double t = std::trunc(v);
    const int64_t iv = lo == 0 && bytes == 8 ? static_cast<int64_t>(static_cast<uint64_t>(t))
                                             : static_cast<int64_t>(t);
    return StoreInteger(cType, iv, target, bufferLength, outLen, err);
  }
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR: {
      char buf[64];
      DoubleToText(buf, sizeof buf, v, isFloat ? 8 : 17);
      TrimTrailingPoint(buf);
      return TextOut(buf, std::strlen(buf), cType, target, bufferLength, outLen, err);
    }
    case SQL_C_FLOAT: {
      if (!isFloat && std::isfinite(v) && std::fabs(v) > FLT_MAX) return Fail(err, KX_ERR_NUMERIC_RANGE);
      const float f = static_cast<float>(v);
      return StoreFixed(&f, 4, target, outLen, err);
    }
    case SQL_C_DOUBLE:
      return StoreFixed(&v, 8, target, outLen, err);
    case SQL_C_NUMERIC: {
      SQL_NUMERIC_STRUCT n;
      const uint32_t p = precision > 0 ? static_cast<uint32_t>(precision) : (isFloat ? 7u : 15u);
      const int16_t rc = FloatingToNumeric(v, isFloat, &n, scale, p, err);
      if (rc == SQL_ERROR) return rc;
      return StoreFixed(&n, sizeof n, target, outLen, err, rc);
    }
    case SQL_C_BINARY: {
      if (isFloat) {
        const float f = static_cast<float>(v);
        return StoreRaw(&f, 4, target, bufferLength, outLen, err);
      }
      return StoreRaw(&v, 8, target, bufferLength, outLen, err);
    }
    default:
      return Fail(err, KX_ERR_RESTRICTED_TYPE);
  }
}

}  // namespace

int16_t ConvertBYTE(uint8_t value, int32_t isSigned, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision) {
  if (TraceOn()) {
    TracePrintf("ConvertBYTE: retBufferLength(%ld) to %s", static_cast<long>(bufferLength),
                CTypeToName(cType));
  }
  const int64_t v = isSigned ? static_cast<int8_t>(value) : value;
  return ConvertInteger(v, &value, 1, cType, target, bufferLength, outLen, err, scale, precision, 3);
}

int16_t ConvertSHORT(uint16_t value, int32_t isSigned, int32_t cType, void* target,
                     int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                     int32_t precision) {
  const int64_t v = isSigned ? static_cast<int16_t>(value) : value;
  if (TraceOn()) TracePrintf("ConvertSHORT: value(%ld) to %s", static_cast<long>(v), CTypeToName(cType));
  return ConvertInteger(v, &value, 2, cType, target, bufferLength, outLen, err, scale, precision, 5);
}

int16_t ConvertLONG(uint32_t value, int32_t isSigned, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision) {
  const int64_t v = isSigned ? static_cast<int32_t>(value) : static_cast<int64_t>(value);
  return ConvertInteger(v, &value, 4, cType, target, bufferLength, outLen, err, scale, precision, 10);
}

int16_t ConvertFLOAT(float value, int32_t cType, void* target, int64_t bufferLength,
                     int64_t* outLen, int32_t* err, int32_t scale, int32_t precision) {
  if (TraceOn()) {
    char buf[64];
    DoubleToText(buf, sizeof buf, value, 8);
    TracePrintf("ConvertFLOAT: value (%s) to %s", buf, CTypeToName(cType));
  }
  return ConvertFloating(value, true, cType, target, bufferLength, outLen, err, scale, precision);
}

int16_t ConvertDOUBLE(double value, int32_t cType, void* target, int64_t bufferLength,
                      int64_t* outLen, int32_t* err, int32_t scale, int32_t precision) {
  if (TraceOn()) {
    char buf[64];
    DoubleToText(buf, sizeof buf, value, 17);
    TracePrintf("ConvertDOUBLE: value (%s) to %s", buf, CTypeToName(cType));
  }
  return ConvertFloating(value, false, cType, target, bufferLength, outLen, err, scale, precision);
}

int16_t DoubleToNumeric(double value, SQL_NUMERIC_STRUCT* numeric, int32_t scale,
                        uint32_t precision, int32_t* err) {
  return FloatingToNumeric(value, false, numeric, scale, precision, err);
}

double DoublePower(double base, int32_t exponent) {
  double r = 1.0;
  if (exponent >= 0) {
    for (int32_t i = 0; i < exponent; ++i) r *= base;
  } else {
    for (int32_t i = 0; i > exponent; --i) r /= base;
  }
  return r;
}

void DoubleToNumericVal(double magnitude, uint8_t value[16]) {
  std::memset(value, 0, 16);
  if (!(magnitude >= 1.0)) return;  // zero, fractions, NaN
  if (magnitude >= std::ldexp(1.0, 128)) {
    std::memset(value, 0xFF, 16);
    return;
  }
  double m = std::trunc(magnitude);
  for (int i = 15; i >= 0; --i) {
    const double w = std::ldexp(1.0, 8 * i);
    if (m >= w) {
      const double b = std::trunc(m / w);
      value[i] = static_cast<uint8_t>(b);
      m -= b * w;
    }
  }
}

size_t DoubleToText(char* buffer, size_t capacity, double value, int32_t digits) {
  if (capacity == 0) return 0;
  const auto res = std::to_chars(buffer, buffer + capacity - 1, value, std::chars_format::general, digits);
  if (res.ec != std::errc{}) {
    buffer[0] = 0;
    return 0;
  }
  *res.ptr = 0;
  return static_cast<size_t>(res.ptr - buffer);
}

void TrimTrailingPoint(char* text) {
  const size_t n = std::strlen(text);
  if (n > 0 && text[n - 1] == '.') text[n - 1] = 0;
}

}  // namespace kx
