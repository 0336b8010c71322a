#include "drv_jdbc/j_typemap.h"

#include <sql.h>
#include <sqlext.h>

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
    case JT_TIME: return SQL_TIME;
    case JT_TIMESTAMP: return SQL_TIMESTAMP;
    case JT_OTHER: case JT_JAVA_OBJECT: case JT_DISTINCT: case JT_STRUCT: case JT_ARRAY:
    case JT_REF:
      return SQL_UNKNOWN_TYPE;
    case JT_BLOB: return SQL_LONGVARBINARY;
    case JT_CLOB: return SQL_LONGVARCHAR;
    case JT_BIGINT: return jet != 0 ? SQL_NUMERIC : SQL_BIGINT;
    default: return t;
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
