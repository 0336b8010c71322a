#include "drv_jdbc/j_typemap.h"

#include <cstdlib>

namespace kx {

int JDB_TypeMapOffer(HashTable* map, int16_t sqlType, TypeInfoEntry* e) {
  if (map == nullptr || e == nullptr) {
    std::free(e);
    return 16;
  }
  // A later row would replace the best match (PostgreSQL lists serial after
  // integer, money after double precision).
  if (sqlType == 0 || HashGet(map, &sqlType) != 0) {
    std::free(e);
    return 0;
  }
  if (HashSet(map, &sqlType, reinterpret_cast<uint64_t>(e)) == nullptr) {
    std::free(e);
    return 16;
  }
  return 0;
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
