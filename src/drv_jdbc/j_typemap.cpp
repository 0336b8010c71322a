#include "drv_jdbc/j_typemap.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>

#include "drv_jdbc/j_jdbc_types.h"
#include "util/errcodes.h"

namespace kx {

int JDB_TypeMapOffer(HashTable* map, int16_t sqlType, TypeInfoEntry* e) {
  if (map == nullptr || e == nullptr) {
    std::free(e);
    return KX_ERR_NOMEM;
  }
  // A later row would replace the best match (PostgreSQL lists serial after
  // integer, money after double precision).
  if (sqlType == 0 || HashGet(map, &sqlType) != 0) {
    std::free(e);
    return 0;
  }
  if (HashSet(map, &sqlType, reinterpret_cast<uint64_t>(e)) == nullptr) {
    std::free(e);
    return KX_ERR_NOMEM;
  }
  return 0;
}

int32_t JDB_OdbcTypeOfJdbc(int32_t t, int32_t jet) {
  switch (t) {
    case JT_BOOLEAN: return SQL_BIT;
    case JT_DATALINK: return SQL_VARCHAR;
    case JT_DATE: return SQL_DATE;
    case JT_TIME: case JT_TIME_WITH_TIMEZONE: return SQL_TIME;
    case JT_TIMESTAMP: case JT_TIMESTAMP_WITH_TIMEZONE: return SQL_TIMESTAMP;
    case JT_OTHER: case JT_JAVA_OBJECT: case JT_DISTINCT: case JT_STRUCT: case JT_ARRAY:
    case JT_REF:
    case JT_ROWID:  // not ODBC's wide CHAR, which has the same code
      return SQL_UNKNOWN_TYPE;
    // The national types as their columns are described.
    case JT_NCHAR: return SQL_CHAR;
    case JT_NVARCHAR: return SQL_VARCHAR;
    case JT_LONGNVARCHAR: case JT_NCLOB: return SQL_LONGVARCHAR;
    case JT_BLOB: return SQL_LONGVARBINARY;
    case JT_CLOB: return SQL_LONGVARCHAR;
    case JT_BIGINT: return jet != 0 ? SQL_NUMERIC : SQL_BIGINT;
    default: return t;
  }
}

int16_t JDB_TypeMapKey(int32_t t) {
  switch (t) {
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    case SQL_WCHAR: return SQL_CHAR;
    case SQL_WVARCHAR: return SQL_VARCHAR;
    case SQL_WLONGVARCHAR: return SQL_LONGVARCHAR;
    default: return static_cast<int16_t>(t);
  }
}

void JDB_TypeMapFree(HashTable* map) {
  if (map == nullptr) return;
  HashWalk(
      map,
      [](uint64_t value, const void*, void*) -> int {
        std::free(reinterpret_cast<void*>(value));
        return 0;
      },
      nullptr);
  HashDestroy(map);
}

}  // namespace kx
