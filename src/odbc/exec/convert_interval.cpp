#include "odbc/exec/convert_interval.h"

#include <sql.h>
#include <sqlext.h>

#include "odbc/exec/convert_common.h"
#include "odbc/exec/convert_text.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/interval_text.h"

namespace kx {

namespace {

// The interval C and SQL types are the interval codes moved up.
constexpr int32_t kIntervalTypeBase = SQL_INTERVAL_YEAR - SQL_IS_YEAR;
static_assert(SQL_C_INTERVAL_YEAR == SQL_INTERVAL_YEAR &&
              SQL_C_INTERVAL_MINUTE_TO_SECOND == SQL_INTERVAL_MINUTE_TO_SECOND);

int16_t Fail(int32_t* err, int32_t code) {
  *err = code;
  return SQL_ERROR;
}

// The exact numeric C types a single-field interval converts to.
bool IsExactNumberCType(int32_t cType) {
  int64_t lo;
  uint64_t hi;
  unsigned bytes;
  return cType == SQL_C_NUMERIC || (cType != SQL_C_BIT && IntegerCTypeRange(cType, &lo, &hi, &bytes));
}

int16_t ReadFailure(IntervalRead r, int32_t* err) {
  return Fail(err, r == IntervalRead::Overflow ? KX_ERR_INTERVAL_OVERFLOW : KX_ERR_BAD_CAST_VALUE);
}

}  // namespace

bool IsIntervalCType(int32_t cType) {
  return cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND;
}

bool IsIntervalSqlType(int32_t sqlType) {
  return sqlType >= SQL_INTERVAL_YEAR && sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

int IntervalCodeOfType(int32_t type) { return IsIntervalSqlType(type) ? type - kIntervalTypeBase : 0; }

int16_t ConvertIntervalText(const char* text, uint64_t length, int32_t sqlType, int32_t cType,
                            void* target, int64_t bufferLength, int64_t* outLen, int32_t* err,
                            int32_t scale, int32_t precision) {
  if (TraceOn()) TracePrintf("ConvertIntervalText: %d to %d", sqlType, cType);
  const int source = IntervalCodeOfType(sqlType);
  if (IsIntervalCType(cType)) {
    const int wanted = IntervalCodeOfType(cType);
    if (source != 0 && IsYearMonthInterval(source) != IsYearMonthInterval(wanted)) {
      return Fail(err, KX_ERR_RESTRICTED_TYPE);
    }
    IntervalParts v;
    const IntervalRead r = ReadIntervalText(text, length, IntervalQualifierOf(source != 0 ? source : wanted), &v);
    if (r != IntervalRead::Ok) return ReadFailure(r, err);
    SQL_INTERVAL_STRUCT s;
    bool truncated = false;
    const int code = IntervalPartsToStruct(v, wanted, precision, &s, &truncated);
    if (code != 0) return Fail(err, code);
    if (truncated) {
      *err = KX_ERR_FRACTIONAL_TRUNCATION;
      return StoreFixed(&s, sizeof s, target, outLen, err, SQL_SUCCESS_WITH_INFO);
    }
    return StoreFixed(&s, sizeof s, target, outLen, err);
  }
  if (source == 0 || !IsExactNumberCType(cType)) return Fail(err, KX_ERR_RESTRICTED_TYPE);
  const IntervalQualifier q = IntervalQualifierOf(source);
  if (q.leading != q.trailing) {
    return Fail(err, IsYearMonthInterval(source) ? KX_ERR_INTERVAL_OVERFLOW : KX_ERR_RESTRICTED_TYPE);
  }
  // The single field's value as a decimal number, read by the number rules.
  IntervalParts v;
  const IntervalRead r = ReadIntervalText(text, length, q, &v);
  if (r != IntervalRead::Ok) return ReadFailure(r, err);
  constexpr int kAllDigits = 9;
  SQL_INTERVAL_STRUCT s;
  bool truncated = false;
  if (const int code = IntervalPartsToStruct(v, source, kAllDigits, &s, &truncated); code != 0) {
    return Fail(err, code);
  }
  char number[INTERVAL_TEXT_MAX];
  const size_t n = IntervalStructToNumber(s, kAllDigits, number, sizeof number);
  if (n == 0) return Fail(err, KX_ERR_BAD_CAST_VALUE);
  return ConvertCHAR(number, n, static_cast<int64_t>(n), cType, target, bufferLength, outLen, err, scale,
                     precision);
}

}  // namespace kx
