#include "odbc/exec/convert_datetime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
// its seconds end; only the fraction of a second may go.
constexpr size_t kTimestampWhole = 19;

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

int16_t ConvertTIME(const SQL_TIME_STRUCT* value, int32_t cType, void* target, int64_t bufferLength,
                    int64_t* outLen, int32_t* err) {
  TraceCall("ConvertTIME", bufferLength, cType);
  SQL_TIME_STRUCT t;
  std::memcpy(&t, value, sizeof t);
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", Field(t.hour), Field(t.minute),
                                Field(t.second));
    return TextOut(buf, static_cast<size_t>(n), static_cast<size_t>(n), cType, target, bufferLength,
                   outLen, err);
  }
  if (IsTime(cType)) return StoreFixed(&t, sizeof t, target, outLen, err);
  if (IsTimestamp(cType)) {
    SQL_TIMESTAMP_STRUCT ts{};
    ts.hour = t.hour;
    ts.minute = t.minute;
    ts.second = t.second;
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
    // Nine digits of nanoseconds, trailing zeros dropped while more than the
    // column's digits remain.
    char frac[16];
    std::snprintf(frac, sizeof frac, "%09u", std::min<unsigned>(ts.fraction, 999999999u));
    size_t fl = std::strlen(frac);
    while (fl > fractionDigits && frac[fl - 1] == '0') frac[--fl] = 0;
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, format, TextYear(ts.year), Field(ts.month),
                                Field(ts.day), Field(ts.hour), Field(ts.minute), Field(ts.second), frac);
    return TextOut(buf, static_cast<size_t>(n), kTimestampWhole, cType, target, bufferLength, outLen, err);
  }
  if (IsTimestamp(cType)) return StoreFixed(&ts, sizeof ts, target, outLen, err);
  if (IsDate(cType)) {
    const SQL_DATE_STRUCT d{ts.year, ts.month, ts.day};
    return StoreFixed(&d, sizeof d, target, outLen, err);
  }
  if (IsTime(cType)) {
    const SQL_TIME_STRUCT t{ts.hour, ts.minute, ts.second};
    return StoreFixed(&t, sizeof t, target, outLen, err);
  }
  if (cType == SQL_C_BINARY) {
    return CopyOutNarrow(&ts, sizeof ts, sizeof ts, 0, 0, 1, target, bufferLength, outLen, err);
  }
  return Fail(err, KX_ERR_RESTRICTED_TYPE);
}

}  // namespace kx
