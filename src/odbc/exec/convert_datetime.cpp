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

// Today's date (where the application runs) at a time of day.
SQL_TIMESTAMP_STRUCT TodayAt(SQLUSMALLINT hour, SQLUSMALLINT minute, SQLUSMALLINT second, SQLUINTEGER fraction) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(local.tm_year + 1900);
  ts.month = static_cast<SQLUSMALLINT>(local.tm_mon + 1);
  ts.day = static_cast<SQLUSMALLINT>(local.tm_mday);
  ts.hour = hour;
  ts.minute = minute;
  ts.second = second;
  ts.fraction = fraction;
  return ts;
}

// A date, time or timestamp read from text.
struct TextValue {
  bool hasDate = false;
  bool hasTime = false;
  bool fractionCut = false;  // nonzero digits beyond nanoseconds
  SQL_TIMESTAMP_STRUCT v{};
};

class TextReader {
 public:
  TextReader(const char* p, const char* end) : p_(p), end_(end) {}
  bool AtEnd() const { return p_ == end_; }
  bool Take(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }
  // Between min and max decimal digits.
  bool Number(int min, int max, unsigned* out) {
    unsigned v = 0;
    int n = 0;
    while (p_ != end_ && n < max && *p_ >= '0' && *p_ <= '9') {
      v = v * 10 + static_cast<unsigned>(*p_++ - '0');
      ++n;
    }
    *out = v;
    return n >= min && !(p_ != end_ && *p_ >= '0' && *p_ <= '9');
  }
  // The digits of a fraction of a second as nanoseconds; *cut when a
  // nonzero digit lies beyond the ninth.
  bool Fraction(SQLUINTEGER* nanos, bool* cut) {
    unsigned v = 0;
    int n = 0;
    *cut = false;
    for (; p_ != end_ && *p_ >= '0' && *p_ <= '9'; ++p_, ++n) {
      if (n < 9) {
        v = v * 10 + static_cast<unsigned>(*p_ - '0');
      } else if (*p_ != '0') {
        *cut = true;
      }
    }
    for (int k = n; k < 9; ++k) v *= 10;
    *nanos = v;
    return n > 0;
  }
 private:
  const char* p_;
  const char* end_;
};

bool LeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ReadDate(TextReader& r, TextValue* out) {
  unsigned y, m, d;
  if (!r.Number(4, 4, &y) || !r.Take('-') || !r.Number(1, 2, &m) || !r.Take('-') || !r.Number(1, 2, &d)) {
    return false;
  }
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && LeapYear(y) ? 1 : 0)) return false;
  out->hasDate = true;
  out->v.year = static_cast<SQLSMALLINT>(y);
  out->v.month = static_cast<SQLUSMALLINT>(m);
  out->v.day = static_cast<SQLUSMALLINT>(d);
  return true;
}

bool ReadTime(TextReader& r, TextValue* out) {
  unsigned h, m, s;
  if (!r.Number(1, 2, &h) || !r.Take(':') || !r.Number(2, 2, &m) || !r.Take(':') || !r.Number(2, 2, &s)) {
    return false;
  }
  // Seconds up to 61 leave room for leap seconds, as ODBC's time values do.
  if (h > 23 || m > 59 || s > 61) return false;
  if (r.Take('.') && !r.Fraction(&out->v.fraction, &out->fractionCut)) return false;
  out->hasTime = true;
  out->v.hour = static_cast<SQLUSMALLINT>(h);
  out->v.minute = static_cast<SQLUSMALLINT>(m);
  out->v.second = static_cast<SQLUSMALLINT>(s);
  return true;
}

// A date, a time or a timestamp, the whole of [p, end).
bool ReadValue(const char* p, const char* end, TextValue* out) {
  // A time begins with at most two digits and a colon; a date with four.
  const char* colon = p;
  while (colon != end && colon - p < 3 && *colon >= '0' && *colon <= '9') ++colon;
  TextReader r(p, end);
  if (colon != end && *colon == ':') return ReadTime(r, out) && r.AtEnd();
  if (!ReadDate(r, out)) return false;
  if (r.AtEnd()) return true;
  if (!r.Take(' ')) return false;
  return ReadTime(r, out) && r.AtEnd();
}

bool ParseDateTimeText(const char* text, uint64_t length, TextValue* out) {
  const char* p = text;
  const char* end = text + length;
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  while (end != p && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (p == end || *p != '{') return ReadValue(p, end, out);
  // An escape: the keyword names the kind the quoted value must be.
  enum class Kind { kDate, kTime, kTimestamp };
  Kind kind;
  auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
  const char* k = p + 1;
  while (k != end && (*k == ' ' || *k == '\t')) ++k;
  if (end - k >= 2 && lower(k[0]) == 't' && lower(k[1]) == 's') {
    kind = Kind::kTimestamp;
    k += 2;
  } else if (k != end && lower(*k) == 'd') {
    kind = Kind::kDate;
    ++k;
  } else if (k != end && lower(*k) == 't') {
    kind = Kind::kTime;
    ++k;
  } else {
    return false;
  }
  const char* q = k;
  while (q != end && (*q == ' ' || *q == '\t')) ++q;
  if (q == end || *q != '\'') return false;
  const char* close = end - 1;
  if (*close != '}') return false;
  while (close != q && (close[-1] == ' ' || close[-1] == '\t')) --close;
  if (close - q < 2 || close[-1] != '\'') return false;
  if (!ReadValue(q + 1, close - 1, out)) return false;
  const Kind read = out->hasDate ? (out->hasTime ? Kind::kTimestamp : Kind::kDate) : Kind::kTime;
  return kind == read;
}

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
    const SQL_TIMESTAMP_STRUCT ts = TodayAt(t.hour, t.minute, t.second, fraction);
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

int16_t ConvertDateTimeText(const char* text, uint64_t length, int32_t cType, void* target, int64_t* outLen,
                            int32_t* err) {
  TraceCall("ConvertDateTimeText", static_cast<int64_t>(length), cType);
  TextValue t;
  if (text == nullptr || !ParseDateTimeText(text, length, &t)) return Fail(err, KX_ERR_BAD_CAST_VALUE);
  if ((IsDate(cType) && !t.hasDate) || (IsTime(cType) && !t.hasTime)) return Fail(err, KX_ERR_BAD_CAST_VALUE);
  // From here the value is a timestamp's (a time's on today's date), and
  // what a date or a time drops of it is the timestamp conversion's to say.
  const SQL_TIMESTAMP_STRUCT ts = t.hasDate ? t.v : TodayAt(t.v.hour, t.v.minute, t.v.second, t.v.fraction);
  const int16_t rc = ConvertTIMESTAMP(&ts, cType, target, 0, outLen, 0, err);
  // Digits beyond nanoseconds no structure keeps.
  if (rc == SQL_SUCCESS && t.fractionCut) {
    *err = KX_ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

}  // namespace kx
