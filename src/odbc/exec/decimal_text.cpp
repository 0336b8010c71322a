#include "odbc/exec/decimal_text.h"

#include <algorithm>
#include <cstring>

#include "util/errcodes.h"

namespace kx {

namespace {

constexpr int64_t kExponentCap = 1000000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

size_t TextLengthToNul(const char* text, size_t length) {
  if (length == 0) return 0;  // an empty value may come without storage
  const void* nul = std::memchr(text, 0, length);
  return nul == nullptr ? length : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

bool ParseDecimalText(const char* text, size_t length, DecimalText* out) {
  *out = DecimalText{};
  const size_t n = TextLengthToNul(text, length);
  size_t i = 0;
  while (i < n && IsAsciiSpace(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    out->negative = text[i] == '-';
    ++i;
  }
  out->intDigits = text + i;
  while (i < n && IsDigit(text[i])) ++i;
  out->intLen = static_cast<size_t>(text + i - out->intDigits);
  out->fracDigits = text + i;
  if (i < n && text[i] == '.') {
    ++i;
    out->fracDigits = text + i;
    while (i < n && IsDigit(text[i])) ++i;
    out->fracLen = static_cast<size_t>(text + i - out->fracDigits);
  }
  if (out->intLen + out->fracLen == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negExp = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      negExp = text[i] == '-';
      ++i;
    }
    if (i >= n || !IsDigit(text[i])) return false;
    int64_t e = 0;
    while (i < n && IsDigit(text[i])) {
      e = std::min<int64_t>(e * 10 + (text[i] - '0'), kExponentCap);
      ++i;
    }
    out->exponent = negExp ? -e : e;
  }
  while (i < n && IsAsciiSpace(text[i])) ++i;
  return i == n;
}

ScaledDecimal ScaleDecimal(const DecimalText& d, int64_t shift, unsigned __int128 limit) {
  ScaledDecimal r;
  const int64_t total = static_cast<int64_t>(d.intLen + d.fracLen);
  // Power of ten of the last digit once shifted; digits [0, intCount) are
  // whole units, the rest lie below the unit.
  const int64_t lastPower = d.exponent - static_cast<int64_t>(d.fracLen) + shift;
  const int64_t intCount = total + lastPower;
  const unsigned __int128 limitDiv = limit / 10;
  const unsigned limitMod = static_cast<unsigned>(limit % 10);
  auto digitAt = [&](int64_t k) -> unsigned {
    const size_t uk = static_cast<size_t>(k);
    return static_cast<unsigned>((uk < d.intLen ? d.intDigits[uk] : d.fracDigits[uk - d.intLen]) - '0');
  };
  auto push = [&](unsigned digit) {
    if (r.magnitude > limitDiv || (r.magnitude == limitDiv && digit > limitMod)) {
      r.overflow = true;
      return;
    }
    r.magnitude = r.magnitude * 10 + digit;
  };
  const int64_t wholeDigits = std::clamp<int64_t>(intCount, 0, total);
  for (int64_t k = 0; k < wholeDigits && !r.overflow; ++k) push(digitAt(k));
  for (int64_t k = wholeDigits; k < total; ++k) {
    if (digitAt(k) != 0) {
      r.fractionLost = true;
      break;
    }
  }
  for (int64_t z = total; z < intCount && !r.overflow && r.magnitude != 0; ++z) push(0);
  return r;
}

unsigned DecimalDigits(unsigned __int128 v) {
  unsigned n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

unsigned __int128 MaxNumericMagnitude() {
  unsigned __int128 v = 1;
  for (int i = 0; i < 38; ++i) v *= 10;
  return v - 1;
}

int16_t BuildNumeric(const DecimalText& d, int32_t scale, uint32_t precision, NumericRules rules,
                     SQL_NUMERIC_STRUCT* out, int32_t* err) {
  const unsigned __int128 maxMag = MaxNumericMagnitude();
  const uint32_t p = std::clamp<uint32_t>(precision, 1, 38);
  if (scale < -128 || scale > 127) {
    *err = KX_ERR_NUMERIC_RANGE;
    return SQL_ERROR;
  }
  if (rules.textSource) {
    const ScaledDecimal whole = ScaleDecimal(d, 0, maxMag);
    const unsigned intDigits = whole.magnitude == 0 ? 0 : DecimalDigits(whole.magnitude);
    if (whole.overflow || intDigits > p) {
      *err = KX_ERR_NUMERIC_RANGE;
      return SQL_ERROR;
    }
  }
  ScaledDecimal v = ScaleDecimal(d, scale, maxMag);
  if (v.overflow) {
    *err = KX_ERR_NUMERIC_RANGE;
    return SQL_ERROR;
  }
  bool warn = rules.textSource && v.fractionLost;
  if (rules.textSource && v.magnitude != 0) {
    const unsigned digits = DecimalDigits(v.magnitude);
    if (digits > p) {
      // Keep the leading digits that the precision holds; the scale stands.
      unsigned __int128 unit = 1;
      for (unsigned k = 0; k < digits - p; ++k) unit *= 10;
      v.magnitude = v.magnitude / unit * unit;
      warn = true;
    }
  }
  SQL_NUMERIC_STRUCT n;
  std::memset(&n, 0, sizeof n);
  n.precision = static_cast<SQLCHAR>(p);
  n.scale = static_cast<SQLSCHAR>(scale);
  n.sign = d.negative ? 0 : 1;
  unsigned __int128 m = v.magnitude;
  for (int i = 0; i < SQL_MAX_NUMERIC_LEN; ++i) {
    n.val[i] = static_cast<SQLCHAR>(m & 0xFF);
    m >>= 8;
  }
  std::memcpy(out, &n, sizeof n);
  if (warn) {
    *err = KX_ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
  }
  *err = 0;
  return SQL_SUCCESS;
}

}  // namespace kx
