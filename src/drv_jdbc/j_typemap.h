// Entries of the connection's type map (SQL type -> type name and literal
// prefix and suffix), as the map is filled from the driver's type
// information rows.
#pragma once

#include <cstdint>

#include "drv_jdbc/j_conn.h"
#include "util/hash_table.h"

namespace kx {

// Offers one type-information row to the map. JDBC lists the rows of a data
// type best match first, so the first row of a type is kept and later ones
// are dropped; type 0 (no ODBC type) is never entered. The map takes e when
// it returns 0 (also when e was dropped: then it is freed); 16 when the map
// has no room (e freed, map unchanged).
int JDB_TypeMapOffer(HashTable* map, int16_t sqlType, TypeInfoEntry* e);

// Frees every entry and the map.
void JDB_TypeMapFree(HashTable* map);

}  // namespace kx
