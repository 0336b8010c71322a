#include "odbc/exec/convert_text.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/exec/convert_common.h"
#include "odbc/exec/convert_datetime.h"
#include "odbc/exec/convert_interval.h"
#include "odbc/exec/decimal_text.h"
#include "odbc/trace.h"
#include "util/errcodes.h"

namespace kx {

namespace {

int TraceLen(uint64_t n) { return static_cast<int>(std::min<uint64_t>(n, INT_MAX)); }

int16_t Fail(int32_t* err, int32_t code) {
  *err = code;
  return SQL_ERROR;
}

// UTF-16 text as bytes for the number parsers: numbers are ASCII, so every
// unit above 0x7F becomes a byte that no parser accepts.
bool NarrowAscii(const char16_t* text, uint64_t units, std::string* out) {
  try {
    out->resize(static_cast<size_t>(units));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (uint64_t i = 0; i < units; ++i) {
    char16_t u;
    std::memcpy(&u, bytes + 2 * i, 2);
    (*out)[static_cast<size_t>(i)] = u < 0x80 ? static_cast<char>(u) : '\x80';
  }
  return true;
}

// Order of magnitude of the first non-zero digit (value ~ 10^order); false
// for a zero value.
bool DecimalOrder(const DecimalText& d, int64_t* order) {
  for (size_t k = 0; k < d.intLen + d.fracLen; ++k) {
    const char c = k < d.intLen ? d.intDigits[k] : d.fracDigits[k - d.intLen];
    if (c != '0') {
      *order = static_cast<int64_t>(d.intLen) - 1 - static_cast<int64_t>(k) + d.exponent;
      return true;
    }
  }
  return false;
}

// Precision of a numeric target left at 0: the digit characters of the text
// (up to the exponent letter when there is one), and at least what the value
// needs at this scale.
uint32_t CountedPrecision(const char* text, uint64_t length, int32_t scale) {
  const size_t n = TextLengthToNul(text, static_cast<size_t>(length));
  uint32_t count = 0;
  if (n == 0) return 1;
  const char* e = static_cast<const char*>(std::memchr(text, 'e', n));
  if (e == nullptr) e = static_cast<const char*>(std::memchr(text, 'E', n));
  const size_t end = e != nullptr ? static_cast<size_t>(e - text) : n;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] >= '0' && text[i] <= '9') ++count;
  }
  DecimalText d;
  if (ParseDecimalText(text, n, &d)) {
    const ScaledDecimal whole = ScaleDecimal(d, 0, MaxNumericMagnitude());
    const int64_t intDigits = whole.magnitude == 0 ? 0 : DecimalDigits(whole.magnitude);
    const int64_t needed = intDigits + scale;
    if (needed > count) count = static_cast<uint32_t>(std::min<int64_t>(needed, 38));
  }
  return std::clamp<uint32_t>(count, 1, 38);
}

int16_t NumberToTarget(const char* text, uint64_t length, int32_t cType, void* target,
                       int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                       int32_t precision) {
  int64_t lo;
  uint64_t hi;
  unsigned bytes;
  if (IntegerCTypeRange(cType, &lo, &hi, &bytes)) {
    int64_t v = 0;
    int16_t rc;
    if (bytes == 8) {
      rc = CharToNumber64(text, length, lo, static_cast<int64_t>(hi), &v, err);
    } else {
      // 32-bit bounds; an unsigned maximum travels as its bit pattern.
      int32_t v32 = 0;
      rc = CharToNumber(text, length, static_cast<int32_t>(lo), static_cast<int32_t>(static_cast<uint32_t>(hi)),
                        &v32, err);
      v = lo == 0 ? static_cast<int64_t>(static_cast<uint32_t>(v32)) : v32;
    }
    if (rc == SQL_ERROR) return rc;
    return StoreInteger(cType, v, target, bufferLength, outLen, err, rc);
  }
  switch (cType) {
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE: {
      double d = 0;
      const int16_t rc = CharToDecimal(text, length, &d, err);
      if (rc == SQL_ERROR) return rc;
      if (cType == SQL_C_DOUBLE) return StoreFixed(&d, 8, target, outLen, err);
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return Fail(err, KX_ERR_NUMERIC_RANGE);
      const float f = static_cast<float>(d);
      return StoreFixed(&f, 4, target, outLen, err);
    }
    case SQL_C_NUMERIC: {
      const uint32_t p = precision > 0 ? static_cast<uint32_t>(precision)
                                       : CountedPrecision(text, length, scale);
      SQL_NUMERIC_STRUCT n;
      const int16_t rc = CharToNumeric(text, length, &n, scale, p, err);
      if (rc == SQL_ERROR) return rc;
      return StoreFixed(&n, sizeof n, target, outLen, err, rc);
    }
    default:
      return Fail(err, KX_ERR_RESTRICTED_TYPE);
  }
}

bool IsDateTimeCType(int32_t cType) {
  switch (cType) {
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
      return true;
    default:
      return false;
  }
}

}  // namespace

int16_t CharToNumber64(const char* text, uint64_t length, int64_t minimum, int64_t maximum,
                       int64_t* value, int32_t* err) {
  if (TraceOn()) TracePrintf("CharToNumber64: %.*s", TraceLen(length), text);
  DecimalText d;
  if (!ParseDecimalText(text, static_cast<size_t>(length), &d)) {
    *value = 0;
    return Fail(err, KX_ERR_BAD_CAST_VALUE);
  }
  // An unsigned target passes its maximum as a bit pattern.
  const bool unsignedTarget = minimum == 0;
  const uint64_t maxPos = static_cast<uint64_t>(maximum);
  const uint64_t maxNeg = unsignedTarget ? 0 : 0 - static_cast<uint64_t>(minimum);
  const ScaledDecimal v = ScaleDecimal(d, 0, d.negative ? maxNeg : maxPos);
  if (v.overflow) {
    *value = d.negative ? minimum : maximum;
    return Fail(err, KX_ERR_NUMERIC_RANGE);
  }
  const uint64_t mag = static_cast<uint64_t>(v.magnitude);
  *value = static_cast<int64_t>(d.negative ? 0 - mag : mag);
  if (v.fractionLost) {
    *err = KX_ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
  }
  *err = 0;
  return SQL_SUCCESS;
}

int16_t CharToNumber(const char* text, uint64_t length, int32_t minimum, int32_t maximum,
                     int32_t* value, int32_t* err) {
  if (TraceOn()) TracePrintf("CharToNumber: %.*s", TraceLen(length), text);
  DecimalText d;
  if (!ParseDecimalText(text, static_cast<size_t>(length), &d)) {
    *value = 0;
    return Fail(err, KX_ERR_BAD_CAST_VALUE);
  }
  const bool unsignedTarget = minimum == 0;
  const uint64_t maxPos = unsignedTarget ? static_cast<uint32_t>(maximum)
                                         : static_cast<uint64_t>(static_cast<int64_t>(maximum));
  const uint64_t maxNeg = unsignedTarget ? 0 : 0 - static_cast<uint64_t>(static_cast<int64_t>(minimum));
  const ScaledDecimal v = ScaleDecimal(d, 0, d.negative ? maxNeg : maxPos);
  if (v.overflow) {
    *value = d.negative ? minimum : maximum;
    return Fail(err, KX_ERR_NUMERIC_RANGE);
  }
  const uint64_t mag = static_cast<uint64_t>(v.magnitude);
  *value = static_cast<int32_t>(static_cast<uint32_t>(d.negative ? 0 - mag : mag));
  if (v.fractionLost) {
    *err = KX_ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
  }
  *err = 0;
  return SQL_SUCCESS;
}

int16_t CharToDecimal(const char* text, uint64_t length, double* value, int32_t* err) {
  const size_t n = TextLengthToNul(text, static_cast<size_t>(length));
  if (TraceOn()) TracePrintf("CharToDecimal: %.*s", TraceLen(n), text);
  size_t i = 0;
  while (i < n && IsAsciiSpace(text[i])) ++i;
  if (i < n && text[i] == '$') ++i;
  std::string s;
  try {
    s.reserve(n - i);
  } catch (const std::bad_alloc&) {
    return Fail(err, KX_ERR_NOMEM);
  }
  for (; i < n; ++i) {
    if (text[i] != ',') s.push_back(text[i]);
  }
  while (!s.empty() && IsAsciiSpace(s.back())) s.pop_back();
  const char* p = s.data();
  const char* end = p + s.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || *p == '+' || *p == '-') return Fail(err, KX_ERR_BAD_CAST_VALUE);
  double d = 0;
  const auto [ptr, ec] = std::from_chars(p, end, d, std::chars_format::general);
  if (ptr != end || ec == std::errc::invalid_argument) return Fail(err, KX_ERR_BAD_CAST_VALUE);
  if (ec == std::errc::result_out_of_range) {
    DecimalText dt;
    int64_t order = 0;
    if (ParseDecimalText(p, static_cast<size_t>(end - p), &dt) && DecimalOrder(dt, &order) && order < 0) {
      d = 0.0;  // below the smallest double: as close as a double gets
    } else {
      return Fail(err, KX_ERR_NUMERIC_RANGE);
    }
  }
  *value = negative ? -d : d;
  *err = 0;
  return SQL_SUCCESS;
}

int16_t CharToNumeric(const char* text, uint64_t length, SQL_NUMERIC_STRUCT* numeric,
                      int32_t scale, uint32_t precision, int32_t* err) {
  if (TraceOn()) TracePrintf("CharToNumeric: %.*s", TraceLen(length), text);
  DecimalText d;
  if (!ParseDecimalText(text, static_cast<size_t>(length), &d)) return Fail(err, KX_ERR_BAD_CAST_VALUE);
  return BuildNumeric(d, scale, precision, NumericRules{true}, numeric, err);
}

void GuidToBytes(const SQLGUID& g, unsigned char* bytes) {
  const uint32_t d1 = g.Data1;
  bytes[0] = static_cast<unsigned char>(d1 >> 24);
  bytes[1] = static_cast<unsigned char>(d1 >> 16);
  bytes[2] = static_cast<unsigned char>(d1 >> 8);
  bytes[3] = static_cast<unsigned char>(d1);
  bytes[4] = static_cast<unsigned char>(g.Data2 >> 8);
  bytes[5] = static_cast<unsigned char>(g.Data2);
  bytes[6] = static_cast<unsigned char>(g.Data3 >> 8);
  bytes[7] = static_cast<unsigned char>(g.Data3);
  std::memcpy(bytes + 8, g.Data4, 8);
}

int16_t CharToGuid(const char* text, uint64_t length, SQLGUID* guid, int32_t* err) {
  std::memset(guid, 0, sizeof *guid);
  size_t n = TextLengthToNul(text, static_cast<size_t>(length));
  size_t b = 0;
  while (b < n && IsAsciiSpace(text[b])) ++b;
  while (n > b && IsAsciiSpace(text[n - 1])) --n;
  const char* s = text + b;
  if (n - b != 36) return Fail(err, KX_ERR_STRING_LENGTH_MISMATCH);
  for (int i = 0; i < 36; ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = s[i];
    if (dash) {
      if (c != '-') return Fail(err, KX_ERR_ASSIGNMENT);
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return Fail(err, KX_ERR_BAD_CAST_VALUE);
    }
  }
  auto hex = [&](int from, int count) {
    uint32_t v = 0;
    for (int i = from; i < from + count; ++i) v = v * 16 + HexDigitValue(static_cast<uint8_t>(s[i]));
    return v;
  };
  guid->Data1 = hex(0, 8);
  guid->Data2 = static_cast<uint16_t>(hex(9, 4));
  guid->Data3 = static_cast<uint16_t>(hex(14, 4));
  guid->Data4[0] = static_cast<uint8_t>(hex(19, 2));
  guid->Data4[1] = static_cast<uint8_t>(hex(21, 2));
  for (int k = 0; k < 6; ++k) guid->Data4[2 + k] = static_cast<uint8_t>(hex(24 + 2 * k, 2));
  *err = 0;
  return SQL_SUCCESS;
}

int16_t WCharToNumber(const char16_t* text, uint64_t length, int32_t minimum, int32_t maximum,
                      int32_t* value, int32_t* err) {
  if (TraceOn()) TracePrintf("WCharToNumber");
  std::string s;
  if (!NarrowAscii(text, length, &s)) return Fail(err, KX_ERR_NOMEM);
  return CharToNumber(s.data(), s.size(), minimum, maximum, value, err);
}

int16_t WCharToNumber64(const char16_t* text, uint64_t length, int64_t minimum, int64_t maximum,
                        int64_t* value, int32_t* err) {
  if (TraceOn()) TracePrintf("WCharToNumber64");
  std::string s;
  if (!NarrowAscii(text, length, &s)) return Fail(err, KX_ERR_NOMEM);
  return CharToNumber64(s.data(), s.size(), minimum, maximum, value, err);
}

int16_t WCharToDecimal(const char16_t* text, uint64_t length, double* value, int32_t* err) {
  if (TraceOn()) TracePrintf("WCharToDecimal");
  std::string s;
  if (!NarrowAscii(text, length, &s)) return Fail(err, KX_ERR_NOMEM);
  return CharToDecimal(s.data(), s.size(), value, err);
}

int16_t WCharToNumeric(const char16_t* text, uint64_t length, SQL_NUMERIC_STRUCT* numeric,
                       int32_t scale, uint32_t precision, int32_t* err) {
  if (TraceOn()) TracePrintf("WCharToNumeric");
  std::string s;
  if (!NarrowAscii(text, length, &s)) return Fail(err, KX_ERR_NOMEM);
  return CharToNumeric(s.data(), s.size(), numeric, scale, precision, err);
}

bool WholeDigitsFit(const void* text, uint64_t length, bool wide, int32_t cType, int64_t bufferLength) {
  if ((cType != SQL_C_CHAR && cType != SQL_C_WCHAR) || bufferLength <= 0) return true;
  const auto* bytes = static_cast<const unsigned char*>(text);
  const uint64_t units = wide ? length / 2 : length;
  uint64_t whole = 0;
  for (; whole < units; ++whole) {
    uint16_t c;
    if (wide) {
      std::memcpy(&c, bytes + 2 * whole, 2);
    } else {
      c = bytes[whole];
    }
    if (c == '.') break;
  }
  // Narrow to wide or wide to narrow: the number's characters are ASCII, one
  // unit each way.
  const uint64_t need = cType == SQL_C_WCHAR ? 2 * (whole + 1) : whole + 1;
  return need <= static_cast<uint64_t>(bufferLength);
}

int16_t ConvertCHAR(const char* text, uint64_t length, int64_t total, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision, uint64_t* consumed, uint32_t* split) {
  if (TraceOn()) {
    TracePrintf("ConvertCHAR: retBufferLength(%ld) to %s", static_cast<long>(bufferLength),
                CTypeToName(cType));
  }
  if (consumed != nullptr) *consumed = 0;
  const int64_t piece = static_cast<int64_t>(length);
  switch (cType) {
    case SQL_C_CHAR:
      return CopyOutNarrow(text, length, piece, total, 1, 1, target, bufferLength, outLen, err, consumed);
    case SQL_C_WCHAR:
      return CopyOutNarrowToWide(text, length, piece, total, 1, 1, target, bufferLength, outLen, err,
                                 consumed, split);
    case SQL_C_BINARY:
      return CopyOutNarrow(text, length, piece, total, 0, 1, target, bufferLength, outLen, err, consumed);
    case SQL_C_GUID: {
      SQLGUID g;
      const int16_t rc = CharToGuid(text, length, &g, err);
      if (rc == SQL_ERROR) return rc;
      return StoreFixed(&g, sizeof g, target, outLen, err);
    }
    case KX_C_GUID_AS_BINARY: {
      SQLGUID g;
      const int16_t rc = CharToGuid(text, length, &g, err);
      if (rc == SQL_ERROR) return rc;
      unsigned char bytes[16];
      GuidToBytes(g, bytes);
      // Delivered whole or cut, never continued: the text is used up.
      const int16_t out = CopyOutNarrow(bytes, sizeof bytes, sizeof bytes, sizeof bytes, 0, 1, target,
                                        bufferLength, outLen, err, nullptr);
      if (consumed != nullptr) *consumed = length;
      return out;
    }
    default:
      if (IsDateTimeCType(cType)) return ConvertDateTimeText(text, length, cType, target, outLen, err);
      // Character data holds intervals as their literals (or a database's
      // own interval text): every interval C type reads it.
      if (IsIntervalCType(cType)) {
        return ConvertIntervalText(text, length, 0, cType, target, bufferLength, outLen, err, scale, precision);
      }
      return NumberToTarget(text, length, cType, target, bufferLength, outLen, err, scale, precision);
  }
}

int16_t ConvertWCHAR(const char16_t* text, uint64_t length, int64_t total, int32_t cType,
                     void* target, int64_t bufferLength, int64_t* outLen, int32_t* err,
                     int32_t scale, int32_t precision, uint64_t* consumed, uint32_t* split) {
  if (TraceOn()) {
    TracePrintf("ConvertWCHAR: retBufferLength(%ld) to %s", static_cast<long>(bufferLength),
                CTypeToName(cType));
  }
  if (consumed != nullptr) *consumed = 0;
  const uint64_t units = length / 2;
  const int64_t piece = static_cast<int64_t>(length);
  switch (cType) {
    case SQL_C_CHAR: {
      const int64_t totalUnits = total == SQL_NO_TOTAL ? SQL_NO_TOTAL : total / 2;
      uint64_t unitsOut = 0;
      const int16_t rc = CopyOutWideToNarrow(text, units, static_cast<int64_t>(units), totalUnits, 1, 1,
                                             target, bufferLength, outLen, err, &unitsOut, split);
      if (consumed != nullptr) *consumed = 2 * unitsOut;
      return rc;
    }
    case SQL_C_WCHAR: {
      // Whole UTF-16 units only: an odd last octet is no character.
      const uint64_t even = length & ~uint64_t{1};
      return CopyOutWide(text, even, static_cast<int64_t>(even), total, 1, 1, target, bufferLength, outLen, err,
                         consumed);
    }
    case SQL_C_BINARY:
      return CopyOutNarrow(text, length, piece, total, 0, 1, target, bufferLength, outLen, err, consumed);
    case SQL_C_GUID:
      return Fail(err, KX_ERR_RESTRICTED_TYPE);
    case KX_C_GUID_AS_BINARY: {
      std::string s;
      if (!NarrowAscii(text, units, &s)) return Fail(err, KX_ERR_NOMEM);
      const int16_t rc = ConvertCHAR(s.data(), s.size(), static_cast<int64_t>(s.size()), cType, target,
                                     bufferLength, outLen, err, scale, precision, nullptr);
      if (consumed != nullptr) *consumed = length;
      return rc;
    }
    default: {
      if (IsDateTimeCType(cType) || IsIntervalCType(cType)) {
        std::string s;
        if (!NarrowAscii(text, units, &s)) return Fail(err, KX_ERR_NOMEM);
        if (IsDateTimeCType(cType)) return ConvertDateTimeText(s.data(), s.size(), cType, target, outLen, err);
        return ConvertIntervalText(s.data(), s.size(), 0, cType, target, bufferLength, outLen, err, scale,
                                   precision);
      }
      int64_t lo;
      uint64_t hi;
      unsigned bytes;
      if (!IntegerCTypeRange(cType, &lo, &hi, &bytes) && cType != SQL_C_FLOAT &&
          cType != SQL_C_DOUBLE && cType != SQL_C_NUMERIC) {
        return Fail(err, KX_ERR_RESTRICTED_TYPE);
      }
      // The number parsers read ASCII: go through the narrow converter.
      std::string s;
      if (!NarrowAscii(text, units, &s)) return Fail(err, KX_ERR_NOMEM);
      return NumberToTarget(s.data(), s.size(), cType, target, bufferLength, outLen, err, scale, precision);
    }
  }
}

}  // namespace kx
