#include "odbc/exec/convert_datetime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/exec/convert_common.h"
#include "odbc/trace.h"
#include "util/errcodes.h"

namespace kx {

namespace {

int16_t Fail(int32_t* err, int32_t code) {
  *err = code;
  return SQL_ERROR;
}

// Year as text: its absolute value, at most four digits.
int TextYear(int16_t year) { return std::min(std::abs(static_cast<int>(year)), 9999); }
unsigned Field(unsigned v) { return std::min(v, 99u); }

// Length of "yyyy-mm-dd hh:mm:ss": a timestamp's text is never cut before
// its seconds end; only the fraction of a second may go. The same for the
// "hh:mm:ss" of a time.
constexpr size_t kTimestampWhole = 19;
constexpr size_t kTimeWhole = 8;

// The digits after the point of a fraction of a second: nine digits of
// nanoseconds, trailing zeros dropped while more than the column's digits
// remain.
void FractionText(uint32_t nanos, uint16_t digits, char (&out)[16]) {
  std::snprintf(out, sizeof out, "%09u", std::min<unsigned>(nanos, 999999999u));
  size_t n = std::strlen(out);
  while (n > digits && out[n - 1] == '0') out[--n] = 0;
}

int16_t TextOut(const char* text, size_t n, size_t wholeLen, int32_t cType, void* target,
                int64_t bufferLength, int64_t* outLen, int32_t* err) {
  return StoreValueText(text, n, wholeLen, cType, target, bufferLength, outLen, err);
}

bool IsDate(int32_t c) { return c == SQL_C_DATE || c == SQL_C_TYPE_DATE; }
bool IsTime(int32_t c) { return c == SQL_C_TIME || c == SQL_C_TYPE_TIME; }
bool IsTimestamp(int32_t c) { return c == SQL_C_TIMESTAMP || c == SQL_C_TYPE_TIMESTAMP; }

void TraceCall(const char* name, int64_t bufferLength, int32_t cType) {
  if (TraceOn()) TracePrintf("%s: retBufferLength(%ld) to %s", name, static_cast<long>(bufferLength), CTypeToName(cType));
}

}  // namespace

int16_t ConvertDATE(const SQL_DATE_STRUCT* value, int32_t cType, void* target, int64_t bufferLength,
                    int64_t* outLen, int32_t* err) {
  TraceCall("ConvertDATE", bufferLength, cType);
  SQL_DATE_STRUCT d;
  std::memcpy(&d, value, sizeof d);  // row-buffer elements need not be aligned
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", TextYear(d.year), Field(d.month),
                                Field(d.day));
    return TextOut(buf, static_cast<size_t>(n), static_cast<size_t>(n), cType, target, bufferLength,
                   outLen, err);
  }
  if (IsDate(cType)) return StoreFixed(&d, sizeof d, target, outLen, err);
  if (IsTimestamp(cType)) {
    SQL_TIMESTAMP_STRUCT ts{};
    ts.year = d.year;
    ts.month = d.month;
    ts.day = d.day;
    return StoreFixed(&ts, sizeof ts, target, outLen, err);
  }
  if (cType == SQL_C_BINARY) {
    return CopyOutNarrow(&d, sizeof d, sizeof d, 0, 0, 1, target, bufferLength, outLen, err);
  }
  return Fail(err, KX_ERR_RESTRICTED_TYPE);
}

int16_t ConvertTIME(const SQL_TIME_STRUCT* value, uint32_t fraction, uint16_t fractionDigits, int32_t cType,
                    void* target, int64_t bufferLength, int64_t* outLen, int32_t* err) {
  TraceCall("ConvertTIME", bufferLength, cType);
  SQL_TIME_STRUCT t;
  std::memcpy(&t, value, sizeof t);
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
    char frac[16] = {};
    if (fractionDigits > 0) FractionText(fraction, fractionDigits, frac);
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, fractionDigits > 0 ? "%02u:%02u:%02u.%s" : "%02u:%02u:%02u",
                                Field(t.hour), Field(t.minute), Field(t.second), frac);
    return TextOut(buf, static_cast<size_t>(n), kTimeWhole, cType, target, bufferLength, outLen, err);
  }
  if (IsTime(cType)) {
    if (fraction != 0) {
      *err = KX_ERR_FRACTIONAL_TRUNCATION;
      return StoreFixed(&t, sizeof t, target, outLen, err, SQL_SUCCESS_WITH_INFO);
    }
    return StoreFixed(&t, sizeof t, target, outLen, err);
  }
  if (IsTimestamp(cType)) {
    // The date is today's, where the application runs.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    SQL_TIMESTAMP_STRUCT ts{};
    ts.year = static_cast<SQLSMALLINT>(local.tm_year + 1900);
    ts.month = static_cast<SQLUSMALLINT>(local.tm_mon + 1);
    ts.day = static_cast<SQLUSMALLINT>(local.tm_mday);
    ts.hour = t.hour;
    ts.minute = t.minute;
    ts.second = t.second;
    ts.fraction = fraction;
    return StoreFixed(&ts, sizeof ts, target, outLen, err);
  }
  if (cType == SQL_C_BINARY) {
    return CopyOutNarrow(&t, sizeof t, sizeof t, 0, 0, 1, target, bufferLength, outLen, err);
  }
  return Fail(err, KX_ERR_RESTRICTED_TYPE);
}

int16_t ConvertTIMESTAMP(const SQL_TIMESTAMP_STRUCT* value, int32_t cType, void* target,
                         int64_t bufferLength, int64_t* outLen, uint16_t fractionDigits,
                         int32_t* err) {
  if (TraceOn()) {
    TracePrintf("ConvertTIMESTAMP: precision,scale (%ld,%ld) to %s", static_cast<long>(bufferLength),
                static_cast<long>(fractionDigits), CTypeToName(cType));
  }
  SQL_TIMESTAMP_STRUCT ts;
  std::memcpy(&ts, value, sizeof ts);
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
    const char* format = fractionDigits == 0 ? "%04d-%02u-%02u %02u:%02u:%02u"
                                             : "%04d-%02u-%02u %02u:%02u:%02u.%s";
    if (TraceOn()) TracePrintf("ConvertTIMESTAMP temBuf string = %s", format);
    char frac[16];
    FractionText(ts.fraction, fractionDigits, frac);
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, format, TextYear(ts.year), Field(ts.month),
                                Field(ts.day), Field(ts.hour), Field(ts.minute), Field(ts.second), frac);
    return TextOut(buf, static_cast<size_t>(n), kTimestampWhole, cType, target, bufferLength, outLen, err);
  }
  if (IsTimestamp(cType)) return StoreFixed(&ts, sizeof ts, target, outLen, err);
  // A date drops the time of day and a time drops the fraction of a second:
  // a part that was not zero is lost, which the application hears (01S07).
  // A time drops the date silently, as a time has none to keep.
  if (IsDate(cType)) {
    const SQL_DATE_STRUCT d{ts.year, ts.month, ts.day};
    if (ts.hour != 0 || ts.minute != 0 || ts.second != 0 || ts.fraction != 0) {
      *err = KX_ERR_FRACTIONAL_TRUNCATION;
      return StoreFixed(&d, sizeof d, target, outLen, err, SQL_SUCCESS_WITH_INFO);
    }
    return StoreFixed(&d, sizeof d, target, outLen, err);
  }
  if (IsTime(cType)) {
    const SQL_TIME_STRUCT t{ts.hour, ts.minute, ts.second};
    if (ts.fraction != 0) {
      *err = KX_ERR_FRACTIONAL_TRUNCATION;
      return StoreFixed(&t, sizeof t, target, outLen, err, SQL_SUCCESS_WITH_INFO);
    }
    return StoreFixed(&t, sizeof t, target, outLen, err);
  }
  if (cType == SQL_C_BINARY) {
    return CopyOutNarrow(&ts, sizeof ts, sizeof ts, 0, 0, 1, target, bufferLength, outLen, err);
  }
  return Fail(err, KX_ERR_RESTRICTED_TYPE);
}

}  // namespace kx
