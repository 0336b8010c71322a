#include "drv_jdbc/j_typemap.h"
#include "util/errcodes.h"

#include <cstdlib>

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
    case 16: return -7;
    case 70: return 12;
    case 91: case 92: case 93: return t - 82;
    case 1111: case 2000: case 2001: case 2002: case 2003: case 2006: return 0;
    case 2004: return -4;
    case 2005: return -1;
    case -5: return jet != 0 ? 2 : -5;
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
