#include "odbc/exec/param_bind.h"

#include <sqlext.h>
#include <sqlucode.h>

#include "odbc/ctypes.h"
#include "odbc/desc.h"
#include "odbc/exec/convert_interval.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/interval_text.h"

namespace kx {

namespace {

// The concise type of a descriptor record and the verbose type and interval
// code it implies.
void SetConciseType(DescFieldRec* r, int16_t concise) {
  r->conciseType = concise;
  if (concise == SQL_DATE || concise == SQL_TYPE_DATE) {
    r->type = SQL_DATETIME;
    r->datetimeIntervalCode = SQL_CODE_DATE;
  } else if (concise == SQL_TIME || concise == SQL_TYPE_TIME) {
    r->type = SQL_DATETIME;
    r->datetimeIntervalCode = SQL_CODE_TIME;
  } else if (concise == SQL_TIMESTAMP || concise == SQL_TYPE_TIMESTAMP) {
    r->type = SQL_DATETIME;
    r->datetimeIntervalCode = SQL_CODE_TIMESTAMP;
  } else if (concise >= 101 && concise <= 113) {
    r->type = SQL_INTERVAL;
    r->datetimeIntervalCode = static_cast<int16_t>(concise - 100);
  } else {
    r->type = concise;
    r->datetimeIntervalCode = 0;
  }
}

bool IsFixedParamCType(int16_t cType) {
  switch (cType) {
    case SQL_C_NUMERIC: case SQL_C_LONG: case SQL_C_SHORT: case SQL_C_FLOAT: case SQL_C_DOUBLE:
    case SQL_C_DATE: case SQL_C_TIME: case SQL_C_TIMESTAMP: case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME: case SQL_C_TYPE_TIMESTAMP: case SQL_C_STINYINT: case SQL_C_UTINYINT:
    case SQL_C_SSHORT: case SQL_C_USHORT: case SQL_C_SLONG: case SQL_C_ULONG: case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: case SQL_C_GUID: case SQL_C_BIT: case SQL_C_TINYINT:
      return true;
    default:
      return false;
  }
}

// The APD and IPD records of a parameter, as SQLBindParameter leaves them.
int WriteDescriptorRecords(StmtRecord* stmt, uint16_t number, int16_t paramType, int16_t cType,
                           int16_t sqlType, uint64_t columnSize, int16_t decimalDigits, void* value,
                           int64_t bufferLength, int64_t* octetLength, int64_t* indicator) {
  DescRecord* apd = stmt->currentApd;
  DescRecord* ipd = stmt->ipd;
  if (apd == nullptr || ipd == nullptr) return 0;
  const auto n = static_cast<int16_t>(number);
  if (apd->count < n) {
    int rc = DescGrowRecs(apd, n);
    if (rc == 0 && ipd->count < n) rc = DescGrowRecs(ipd, n);
    if (rc != 0) return rc;
  } else if (ipd->count < n) {
    const int rc = DescGrowRecs(ipd, n);
    if (rc != 0) return rc;
  }
  DescFieldRec* a = DescGetRec(apd, n);
  DescFieldRec* i = DescGetRec(ipd, n);
  if (a == nullptr || i == nullptr) return KX_ERR_GENERAL;
  SetConciseType(a, cType);
  a->dataPtr = value;
  a->octetLengthPtr = octetLength;
  a->indicatorPtr = indicator;
  // Kept so that applying this APD to another statement binds the same
  // buffer length again.
  a->octetLength = bufferLength > INT32_MAX ? INT32_MAX
                   : bufferLength < INT32_MIN ? INT32_MIN : static_cast<int32_t>(bufferLength);
  SetConciseType(i, sqlType);
  i->parameterType = paramType;
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_WCHAR: case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
    case SQL_GUID: case SQL_DATE: case SQL_TYPE_DATE: case SQL_INTERVAL_YEAR: case SQL_INTERVAL_MONTH:
    case SQL_INTERVAL_DAY: case SQL_INTERVAL_HOUR: case SQL_INTERVAL_MINUTE: case SQL_INTERVAL_YEAR_TO_MONTH:
    case SQL_INTERVAL_DAY_TO_HOUR: case SQL_INTERVAL_DAY_TO_MINUTE: case SQL_INTERVAL_HOUR_TO_MINUTE:
      i->length = columnSize;
      break;
    case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_INTERVAL_SECOND:
    case SQL_INTERVAL_DAY_TO_SECOND: case SQL_INTERVAL_HOUR_TO_SECOND: case SQL_INTERVAL_MINUTE_TO_SECOND:
      i->length = columnSize;
      i->precision = decimalDigits;
      break;
    case SQL_NUMERIC: case SQL_DECIMAL:
      i->precision = static_cast<int16_t>(columnSize > INT16_MAX ? INT16_MAX : columnSize);
      i->scale = decimalDigits;
      break;
    case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      i->precision = static_cast<int16_t>(columnSize > INT16_MAX ? INT16_MAX : columnSize);
      break;
    default:
      break;
  }
  return 0;
}

// Whether ODBC converts an interval C type to an SQL type: to character
// data (its literal), to an interval of its own class (year-month or
// day-time), and a single-field interval to an exact number.
bool IntervalGoesTo(int16_t cType, int16_t sqlType) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_WCHAR: case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_NUMERIC:
    case SQL_DECIMAL: {
      const IntervalQualifier q = IntervalQualifierOf(IntervalCodeOfType(cType));
      return q.leading == q.trailing;
    }
    default:
      return IsIntervalSqlType(sqlType) &&
             IsYearMonthInterval(IntervalCodeOfType(sqlType)) == IsYearMonthInterval(IntervalCodeOfType(cType));
  }
}

}  // namespace

SQLRETURN StmtSetParam(StmtRecord* stmt, uint16_t number, int16_t cType, int16_t sqlType,
                       uint64_t columnSize, int16_t decimalDigits, void* value,
                       int64_t* lengthOrIndicator) {
  if (value == nullptr && lengthOrIndicator == nullptr) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  if (decimalDigits < 0) return Fail(stmt, KX_ERR_BAD_SCALE);
  if (cType == SQL_C_DEFAULT) cType = static_cast<int16_t>(DefaultCType(sqlType, OdbcVersion(stmt)));
  int64_t elementSize;
  switch (cType) {
    case SQL_C_CHAR: case SQL_C_WCHAR: case SQL_C_BINARY:
      elementSize = SQL_NTS;
      break;
    case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT:
      elementSize = 1;
      break;
    case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT:
      elementSize = 2;
      break;
    case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG: case SQL_C_FLOAT:
      elementSize = 4;
      break;
    case SQL_C_DOUBLE: case SQL_C_SBIGINT: case SQL_C_UBIGINT:
      elementSize = 8;
      break;
    case SQL_C_DATE: case SQL_C_TIME: case SQL_C_TYPE_DATE: case SQL_C_TYPE_TIME:
      elementSize = 6;
      break;
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: case SQL_C_GUID:
      elementSize = 16;
      break;
    default:
      return Fail(stmt, KX_ERR_RESTRICTED_TYPE);
  }
  ParamBinding b{};
  b.number = number;
  b.cType = cType;
  b.sqlType = sqlType;
  b.columnSize = columnSize;
  b.decimalDigits = decimalDigits;
  b.elementSize = elementSize;
  b.value = value;
  b.octetLength = lengthOrIndicator;
  b.indicator = lengthOrIndicator;
  b.direction = SQL_PARAM_INPUT;
  b.bufferLength = 0;
  if (TraceOn()) {
    TracePrintf("Par#%d c_type=%d sql_type=%d prec=%ld scale=%d size=%d", number, cType, sqlType,
                static_cast<long>(columnSize), decimalDigits, static_cast<int>(elementSize));
  }
  if (StmtSetParamBinding(stmt, &b) != 0) return SQL_ERROR;
  return stmt->error == 0 ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN StmtBindParameter(StmtRecord* stmt, uint16_t number, int16_t paramType, int16_t cType,
                            int16_t sqlType, uint64_t columnSize, int16_t decimalDigits,
                            void* value, int64_t bufferLength, int64_t* octetLength,
                            int64_t* indicator) {
  stmt->error = 0;
  const int16_t requestedCType = cType;
  if (paramType == SQL_PARAM_TYPE_UNKNOWN) paramType = SQL_PARAM_INPUT;
  if (paramType != SQL_PARAM_INPUT && paramType != SQL_PARAM_INPUT_OUTPUT &&
      paramType != SQL_PARAM_OUTPUT) {
    return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  }
  if (value == nullptr && indicator == nullptr && paramType != SQL_PARAM_OUTPUT) {
    return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  }
  if (decimalDigits < 0) {
    switch (sqlType) {
      case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_INTERVAL_SECOND:
      case SQL_INTERVAL_DAY_TO_SECOND: case SQL_INTERVAL_HOUR_TO_SECOND:
      case SQL_INTERVAL_MINUTE_TO_SECOND:
        return Fail(stmt, KX_ERR_BAD_SCALE);
      default:
        break;
    }
  }
  if (cType == SQL_C_DEFAULT) {
    const int32_t version = OdbcVersion(stmt);
    if (version != 3 && (sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR || sqlType == SQL_WLONGVARCHAR)) {
      cType = SQL_C_CHAR;
    } else {
      cType = static_cast<int16_t>(DefaultCType(sqlType, version == 3 ? 3 : 2));
    }
  }
  int64_t elementSize;
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY) {
    elementSize = SQL_NTS;
  } else if (IsFixedParamCType(cType) && CTypeSize(cType) > 0) {
    elementSize = CTypeSize(cType);
  } else if (IsIntervalCType(cType) && IntervalGoesTo(cType, sqlType)) {
    elementSize = CTypeSize(cType);
  } else {
    return Fail(stmt, KX_ERR_RESTRICTED_TYPE);
  }
  ParamBinding b{};
  b.number = number;
  b.cType = cType;
  b.sqlType = sqlType;
  b.columnSize = columnSize;
  b.decimalDigits = decimalDigits;
  b.elementSize = elementSize;
  b.value = value;
  b.octetLength = octetLength;
  b.indicator = indicator;
  b.bufferLength = bufferLength;
  b.direction = bufferLength == -1 ? static_cast<int16_t>(SQL_PARAM_INPUT) : paramType;
  if (TraceOn()) {
    TracePrintf("Par#%d c_type=%d sql_type=%d prec=%ld scale=%d size=%d cbValueMax=%d", number, cType,
                sqlType, static_cast<long>(columnSize), decimalDigits, static_cast<int>(elementSize),
                static_cast<int>(bufferLength));
  }
  if (StmtSetParamBinding(stmt, &b) != 0) return SQL_ERROR;
  // The APD keeps the C type as the application gave it (SQL_C_DEFAULT
  // included); the binding holds the resolved one.
  const int rc = WriteDescriptorRecords(stmt, number, paramType, requestedCType, sqlType, columnSize,
                                        decimalDigits, value, bufferLength, octetLength, indicator);
  if (rc != 0) return Fail(stmt, rc);
  return SQL_SUCCESS;
}

SQLRETURN StmtDescribeParam(StmtRecord* stmt, uint16_t number, int16_t* sqlType,
                            uint64_t* columnSize, int16_t* decimalDigits, int16_t* nullable) {
  const AgentColDesc* d = StmtGetParamDesc(stmt, number);
  if (d == nullptr) {
    if (stmt->error == 0) stmt->error = KX_ERR_BAD_PARAM_NUMBER;
    return SQL_ERROR;
  }
  if (sqlType != nullptr) *sqlType = static_cast<int16_t>(d->sqlType);
  if (columnSize != nullptr) *columnSize = static_cast<uint32_t>(d->columnSize);
  if (decimalDigits != nullptr) *decimalDigits = d->decimalDigits;
  if (nullable != nullptr) *nullable = static_cast<int16_t>(d->flags & COLDESC_NULLABLE_MASK);
  return SQL_SUCCESS;
}

// ---- handlers --------------------------------------------------------------------------

SQLRETURN StmtSetParamCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtSetParam(static_cast<StmtRecord*>(rec), a.Get<uint16_t>(0), a.Get<int16_t>(1),
                      a.Get<int16_t>(2), a.Get<uint64_t>(3), a.Get<int16_t>(4), a.Get<void*>(5),
                      a.Get<int64_t*>(6));
}

SQLRETURN BindParameterCall(HandleHead* rec, const OdbcArgs& a) {
  auto* lengthOrIndicator = a.Get<int64_t*>(8);
  return StmtBindParameter(static_cast<StmtRecord*>(rec), a.Get<uint16_t>(0), a.Get<int16_t>(1),
                           a.Get<int16_t>(2), a.Get<int16_t>(3), a.Get<uint64_t>(4),
                           a.Get<int16_t>(5), a.Get<void*>(6), a.Get<int64_t>(7), lengthOrIndicator,
                           lengthOrIndicator);
}

SQLRETURN StmtDescribeParamCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtDescribeParam(static_cast<StmtRecord*>(rec), a.Get<uint16_t>(0), a.Get<int16_t*>(1),
                           a.Get<uint64_t*>(2), a.Get<int16_t*>(3), a.Get<int16_t*>(4));
}


}  // namespace kx
