// Column and ORDER BY item descriptors shared by the SQL analysis (which
// fills their names) and the scrollable cursor layer (which completes them).
#pragma once

#include <cstdint>

namespace kx {

constexpr int SCS_NAME_LEN = 509;       // 508 bytes and a NUL
constexpr int SCS_ORDERTEXT_LEN = 2036; // 2035 bytes and a NUL

// Kinds of a select item.
constexpr int32_t SCS_COL_STAR = 1;      // "*"
constexpr int32_t SCS_COL_TABSTAR = 2;   // t.*
constexpr int32_t SCS_COL_EXPR = 3;      // anything but a plain column
constexpr int32_t SCS_COL_COLUMN = 4;    // a plain column reference

struct SCS_COLDESC {
  char name[SCS_NAME_LEN];
  char table[SCS_NAME_LEN];
  char alias[SCS_NAME_LEN];
  char owner[SCS_NAME_LEN];
  char qualifier[SCS_NAME_LEN];
  int16_t sqlType;     // 0 until known
  int32_t columnSize;
  int16_t digits;      // kept for SQL types 2 and 3 only
  uint8_t orderMark;   // 1-based ORDER BY item naming this key column, 0 none
  int32_t kind;        // SCS_COL_*
};

struct SCS_ORDERBYITEM {
  char text[SCS_ORDERTEXT_LEN];
  char column[SCS_NAME_LEN];
  char table[SCS_NAME_LEN];
  char alias[SCS_NAME_LEN];
  char owner[SCS_NAME_LEN];
  char qualifier[SCS_NAME_LEN];
  int32_t desc;        // 1 for DESC
  int32_t position;    // select-list position (1 to 255), 0 for a column item
  int32_t keyMatch;    // the item names a key column
  int16_t sqlType;
  int32_t size;
  int16_t digits;
};

}  // namespace kx
