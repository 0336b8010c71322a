// Typed column-attribute records. The agent delivers attributes that are not
// part of the fixed column description (auto-increment, type name, literal
// prefix and suffix, ...) as a packed list of ValueRec; a record for column 0
// is the default of every column without a record of its own. The statement
// keeps them in a HashTable of 4-byte keys (the record's first 32 bits:
// attribute id x 65536 + column) whose values are malloc'd ValueRec copies.
#pragma once

#include <cstdint>

#include "util/hash_table.h"

namespace kx {

enum ValueKind : int16_t {
  VAL_TEXT = 0,
  VAL_INT = 1,
  VAL_INT2 = 2,  // also a 32-bit integer
  VAL_DOUBLE = 3,
};

struct ValueRec {
  uint16_t column;  // 0 = default for all columns
  int16_t attrId;   // column-attribute code; negative = never delivered
  int16_t kind;     // ValueKind
  union {
    char* text;     // kind 0: NUL-terminated text or NULL
    int32_t i32;    // kinds 1 and 2
    double dbl;     // kind 3
    uint64_t raw;
  } value;
};
static_assert(sizeof(ValueRec) == 16, "ValueRec is a 16-byte record");

// VAL_Copy modes: duplicate the text (the copy owns it) or share it.
constexpr int VAL_COPY_SHARE = 1;
constexpr int VAL_COPY_DUP = 2;

// Key of a record in the statement's table.
inline uint32_t VAL_Key(uint16_t attrId, uint16_t column) {
  return static_cast<uint32_t>(attrId) << 16 | column;
}

// Looks up attribute id for column, falling back to the column-0 default.
// Delivers an integer (kinds 1, 2), the text pointer (kind 0, not a copy) or a
// double (kind 3) through the matching output; 1 when delivered, else 0.
int VAL_Get(const HashTable* table, uint16_t attrId, uint16_t column, int32_t* intOut,
            const char** textOut, double* doubleOut);
// Releases the text of a kind-0 record (free) and clears it.
void VAL_Clear(ValueRec* rec);
// HashWalk callback releasing a table value (a malloc'd ValueRec); returns 0.
int VAL_Free(uint64_t rec, const void* key, void* user);
// 1 when both have the same kind and value (texts by pointer), else 0.
int VAL_Equal(const ValueRec* a, const ValueRec* b);
// Copies the record; with VAL_COPY_DUP a text is duplicated (left NULL when
// that fails). Returns dst, or NULL when either argument is NULL.
ValueRec* VAL_Copy(ValueRec* dst, const ValueRec* src, int mode);
// Counts (or copies into out, at most capacity) the records to deliver: per
// attribute group the column-0 default and the column records that differ
// from it; negative ids skipped. Returns the count.
int VAL_CountDistinct(uint16_t n, const ValueRec* recs, uint16_t capacity, ValueRec* out,
                      int mode);
// The records VAL_CountDistinct keeps, in a new calloc'd array (NULL and 0
// when none). 0, or 16 when memory runs out (outputs 0 and NULL).
int VAL_CollectDistinct(uint16_t n, const ValueRec* recs, uint16_t* countOut, ValueRec** arrayOut,
                        int mode);

}  // namespace kx
