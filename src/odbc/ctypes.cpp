#include "odbc/ctypes.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>

namespace kx {

int32_t DefaultCType(int32_t sqlType, int32_t odbcVersion) {
  const bool v3 = odbcVersion == 3;
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_GUID:
      return SQL_C_CHAR;
    case SQL_BIGINT:
      return v3 ? SQL_C_SBIGINT : SQL_C_CHAR;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_C_WCHAR;
    case SQL_BIT:
      return SQL_C_BIT;
    case SQL_TINYINT:
      return SQL_C_TINYINT;
    case SQL_SMALLINT:
      return SQL_C_SHORT;
    case SQL_INTEGER:
      return SQL_C_LONG;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_C_BINARY;
    case SQL_DATE:
      return v3 ? SQL_C_TYPE_DATE : SQL_C_DATE;
    case SQL_TIME:
      return v3 ? SQL_C_TYPE_TIME : SQL_C_TIME;
    case SQL_TIMESTAMP:
      return v3 ? SQL_C_TYPE_TIMESTAMP : SQL_C_TIMESTAMP;
    default:
      return sqlType;  // SQL_TYPE_DATE/TIME/TIMESTAMP and unknown codes
  }
}

// The size of each fixed C type's ODBC structure or scalar.
int16_t CTypeSize(int16_t cType) {
  auto size = [](std::size_t n) { return static_cast<int16_t>(n); };
  switch (cType) {
    case SQL_C_NUMERIC: return size(sizeof(SQL_NUMERIC_STRUCT));
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: return size(sizeof(SQL_TIMESTAMP_STRUCT));
    case SQL_C_GUID: return size(sizeof(SQLGUID));
    case SQL_C_DOUBLE: return size(sizeof(SQLDOUBLE));
    case SQL_C_SBIGINT: case SQL_C_UBIGINT: return size(sizeof(SQLBIGINT));
    case SQL_C_DATE: case SQL_C_TYPE_DATE: return size(sizeof(SQL_DATE_STRUCT));
    case SQL_C_TIME: case SQL_C_TYPE_TIME: return size(sizeof(SQL_TIME_STRUCT));
    case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG: return size(sizeof(SQLINTEGER));
    case SQL_C_FLOAT: return size(sizeof(SQLREAL));
    case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT: return size(sizeof(SQLSMALLINT));
    case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT:
      return size(sizeof(SQLCHAR));
    default:
      if (cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND) {
        return size(sizeof(SQL_INTERVAL_STRUCT));
      }
      return 0;
  }
}
// The sizes the agent's row layouts rely on.
static_assert(sizeof(SQL_NUMERIC_STRUCT) == 19 && sizeof(SQL_TIMESTAMP_STRUCT) == 16 &&
              sizeof(SQLGUID) == 16 && sizeof(SQL_DATE_STRUCT) == 6 && sizeof(SQL_TIME_STRUCT) == 6 &&
              sizeof(SQLINTEGER) == 4);

namespace {

// The standard name of an ODBC C type the converters know; nullptr otherwise.
const char* KnownCTypeName(int32_t cType) {
  switch (cType) {
    case SQL_C_CHAR: return "SQL_C_CHAR";
    case SQL_C_WCHAR: return "SQL_C_WCHAR";
    case SQL_C_BINARY: return "SQL_C_BINARY";
    case KX_C_SBIGINT_AS_BINARY: return "SQL_C_BINARY";
    case KX_C_GUID_AS_BINARY: return "SQL_C_BINARY";
    case SQL_C_BIT: return "SQL_C_BIT";
    case SQL_C_TINYINT: return "SQL_C_TINYINT";
    case SQL_C_STINYINT: return "SQL_C_STINYINT";
    case SQL_C_UTINYINT: return "SQL_C_UTINYINT";
    case SQL_C_SHORT: return "SQL_C_SHORT";
    case SQL_C_SSHORT: return "SQL_C_SSHORT";
    case SQL_C_USHORT: return "SQL_C_USHORT";
    case SQL_C_LONG: return "SQL_C_LONG";
    case SQL_C_SLONG: return "SQL_C_SLONG";
    case SQL_C_ULONG: return "SQL_C_ULONG";
    case SQL_C_SBIGINT: return "SQL_C_SBIGINT";
    case SQL_C_UBIGINT: return "SQL_C_UBIGINT";
    case SQL_C_FLOAT: return "SQL_C_FLOAT";
    case SQL_C_DOUBLE: return "SQL_C_DOUBLE";
    case SQL_C_NUMERIC: return "SQL_C_NUMERIC";
    case SQL_C_GUID: return "SQL_C_GUID";
    case SQL_C_DATE: return "SQL_C_DATE";
    case SQL_C_TIME: return "SQL_C_TIME";
    case SQL_C_TIMESTAMP: return "SQL_C_TIMESTAMP";
    case SQL_C_TYPE_DATE: return "SQL_C_TYPE_DATE";
    case SQL_C_TYPE_TIME: return "SQL_C_TYPE_TIME";
    case SQL_C_TYPE_TIMESTAMP: return "SQL_C_TYPE_TIMESTAMP";
    default: return nullptr;
  }
}

}  // namespace

bool IsApplicationCType(int32_t cType) {
  if (cType == SQL_C_DEFAULT) return true;
  if (cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND) return true;
  return cType != KX_C_SBIGINT_AS_BINARY && cType != KX_C_GUID_AS_BINARY &&
         KnownCTypeName(cType) != nullptr;
}

const char* CTypeToName(int32_t cType) {
  const char* name = KnownCTypeName(cType);
  return name != nullptr ? name : "(unknown type)";
}

}  // namespace kx
