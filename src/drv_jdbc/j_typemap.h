// Entries of the connection's type map (SQL type -> type name and literal
// prefix and suffix), as the map is filled from the driver's type
// information rows.
#pragma once

#include <cstdint>

#include "drv_jdbc/j_conn.h"
#include "util/hash_table.h"

namespace kx {

// Offers one type-information row to the map. The type list gives the rows
// of a data type best match first, so the first row of a type is kept and
// later ones are dropped; type 0 (no ODBC type) is never entered. The map takes e when
// it returns 0 (also when e was dropped: then it is freed); 16 when the map
// has no room (e freed, map unchanged).
int JDB_TypeMapOffer(HashTable* map, int16_t sqlType, TypeInfoEntry* e);

// The ODBC code a type-list row's JDBC type code is delivered as (BOOLEAN as
// BIT, the JDBC date and time codes as 9 to 11, LOBs as long types, the
// national types as the plain ones, codes ODBC has no counterpart for as 0;
// BIGINT as NUMERIC under JET). A type filter compares this code, so that
// SQL_BIT finds a BOOLEAN row.
int32_t JDB_OdbcTypeOfJdbc(int32_t jdbcType, int32_t jet);

// The key a type is kept under: dates by 9 to 11 and the wide character
// types by their narrow codes, so that a look-up finds the type whichever
// code the column or the list used.
int16_t JDB_TypeMapKey(int32_t sqlType);

// Frees every entry and the map.
void JDB_TypeMapFree(HashTable* map);

}  // namespace kx
