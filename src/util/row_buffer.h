// Column-wise blocks of rows handed between the ODBC layer, the agent and the
// cursor layer: the buffer header, its columns, the storage types of one
// element, the per-row indicators, and the operations that make, fill, reshape
// and free them.
//
// Ownership: the column array, each column's indicators and data, and for the
// pointer types (RBT_CHAR_PTR, RBT_BINARY_PTR, RBT_WCHAR_PTR) the heap block of
// every element whose pointer is set belong to the buffer and are released by
// RB_Free. The header belongs to whoever made it. Headers that these
// operations allocate (RB_Clone, RB_CloneEmpty, RB_Reverse) come from malloc:
// release them with RB_Free and then free(). Element blocks come from malloc.
//
// Sizes: widths and width x rows are computed in 64 bits with overflow checks.
// A width that does not fit in 32 bits is refused with 15; storage beyond
// RB_MAX_BLOCK bytes, or that the allocator refuses, with 16.
//
// Status: 0, 15 (S1000, an argument does not fit the buffers) or 16 (S1001,
// memory allocation failure). Nothing is logged; nothing locks: a buffer is
// used by one thread at a time under its owner's locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kx {

// Storage type of a column (one element per row).
enum RBType : uint32_t {
  RBT_NONE = 0,           // no value; width 1
  RBT_CHAR = 1,           // 8-bit text filling the element, no terminator, no length; size
  RBT_BIT = 2,            // unsigned 8-bit, 0 or 1
  RBT_STINYINT = 3,       // signed 8-bit
  RBT_SSHORT = 4,         // signed 16-bit
  RBT_SLONG = 5,          // signed 32-bit
  RBT_UTINYINT = 6,       // unsigned 8-bit
  RBT_USHORT = 7,         // unsigned 16-bit
  RBT_ULONG = 8,          // unsigned 32-bit
  RBT_FLOAT = 9,          // 32-bit IEEE
  RBT_DOUBLE = 10,        // 64-bit IEEE
  RBT_DATE = 11,          // SQL_DATE_STRUCT, 6 bytes
  RBT_TIME = 12,          // SQL_TIME_STRUCT, 6 bytes; for size 10, then u32 nanoseconds
  RBT_TIMESTAMP = 13,     // SQL_TIMESTAMP_STRUCT, 16 bytes
  RBT_BINARY = 14,        // bytes filling the element, no length; size
  RBT_CHAR_PTR = 15,      // RBPtrValue: length in bytes + heap block of 8-bit text; 16
  RBT_BINARY_PTR = 16,    // RBPtrValue: length in bytes + heap block of bytes; 16
  RBT_CHAR_NTS = 17,      // NUL-terminated 8-bit text; size + 1
  RBT_CHAR_LEN1 = 18,     // u8 length, then the text; size + 1
  RBT_CHAR_LEN2 = 19,     // u16 length, then the text; size + 2 rounded up to 2
  RBT_CHAR_LEN4 = 20,     // u32 length, then the text; size + 4 rounded up to 4
  RBT_BINARY_LEN1 = 21,   // u8 length, then the bytes; size + 1
  RBT_BINARY_LEN2 = 22,   // u16 length, then the bytes; size + 2 rounded up to 2
  RBT_BINARY_LEN4 = 23,   // u32 length, then the bytes; size + 4 rounded up to 4
  RBT_WCHAR = 24,         // 16-bit text filling the element, no terminator; 2 x size
  RBT_WCHAR_NTS = 25,     // NUL-terminated 16-bit text; 2 x size + 2
  RBT_WCHAR_PTR = 26,     // RBPtrValue: count of 16-bit units + heap block; 16
  RBT_WCHAR_LEN4 = 27,    // u32 count of 16-bit units, then the text; 2 x size + 4 rounded up to 4
};
constexpr uint32_t RBT_MAX = 27;  // other codes: raw bytes, width = size

// Per-row indicator values, the same in every layer.
constexpr int16_t RB_IND_DATA = 0;     // the element holds a value
constexpr int16_t RB_IND_NULL = -1;    // NULL; every indicator of fresh storage
constexpr int16_t RB_IND_DAE = -2;     // data at execution: supplied later
constexpr int16_t RB_IND_LONG = -3;    // long value not in the block, fetched when asked for
constexpr int16_t RB_IND_IGNORE = -4;  // row ignored by the positioned operation

// Largest data or indicator block a column may ask the allocator for.
constexpr size_t RB_MAX_BLOCK = size_t{1} << 40;

// The element of the pointer types. Read and write it with RB_GetPtrValue /
// RB_SetPtrValue: an element is not necessarily aligned for it.
struct RBPtrValue {
  uint32_t length;  // bytes (15, 16) or 16-bit units (26)
  void* block;      // malloc'd, owned by the column; NULL when none
};
static_assert(sizeof(RBPtrValue) == 16, "pointer elements are 16 bytes wide");

struct RowBufferColumn {
  uint32_t type;        // RBType
  uint32_t width;       // bytes of one element
  int16_t* indicators;  // one per allocated row
  unsigned char* data;  // width x rows + 1 bytes, zeroed when allocated; row i at i x width
};

struct RowBuffer {
  uint16_t colCapacity;      // records in the column array
  int32_t rowCapacity;       // rows for which every column in use has storage
  uint16_t colCount;         // columns in use (at most colCapacity)
  int32_t rowCount;          // rows that hold values (at most rowCapacity)
  RowBufferColumn* columns;  // zeroed when made; NULL when colCapacity is 0
};

// The agent's description of one result column or parameter (112 bytes).
struct AgentColDesc {
  char name[48];        // label, at most 40 characters
  char* catalog;        // four owned texts, each NULL or malloc'd:
  char* schema;         //   catalog, schema and table of the column,
  char* table;          //   then the full label
  char* label;
  int16_t jdbcType;     // java.sql.Types as JDBC reported it; -9999 for an undescribed parameter
  int32_t sqlType;      // low 16 bits: the SQL type of SQLDescribeCol
  uint32_t flags;       // bits 0-3 nullability; bits 4-7 updatability + 1
  int32_t columnSize;
  int16_t decimalDigits;
  int32_t displaySize;
  int32_t storageType;  // RBType
  int32_t elementLength;  // declared size: characters for text, bytes for binary
};
static_assert(sizeof(AgentColDesc) == 112, "AgentColDesc is 112 bytes");

// ---- model ---------------------------------------------------------------------

// Width of one element of the type for the declared size (characters for
// text, bytes for binary data), or 0 when it does not fit in 32 bits.
uint32_t RB_ElementSize(uint32_t type, uint32_t size);
// The same with the overflow told apart from a zero width: 0, or 15 when the
// width does not fit in 32 bits (*width then 0).
int RB_ElementSizeChecked(uint32_t type, uint32_t size, uint32_t* width);

// A zeroed array of n columns (none for 0); column capacity n, other counts 0.
// 16 leaves the buffer as it was. Does not release an earlier array.
int RB_InitColumns(RowBuffer* rb, uint16_t n);
// Storage for rows rows in every column in use, then row capacity = rows
// (storage the columns held before is released first; row count 0). 16 when
// colCount > colCapacity or a column cannot be allocated: then no column keeps
// storage and the row capacity is 0. 15 for a NULL buffer or negative rows.
int RB_AllocRows(RowBuffer* rb, int32_t rows);
// Zeroed data of width x rows + 1 bytes and rows indicators of -1; rows 0 sets
// both pointers to NULL. On failure (16) the column is left as it was.
int RB_ColumnAlloc(RowBufferColumn* col, int32_t rows);
// Releases the blocks of the first rows elements (pointer types), the data
// and the indicators, and clears both pointers.
void RB_ColumnFree(RowBufferColumn* col, int32_t rows);
// Frees every column up to the column capacity (with the row capacity) and
// the array; all counts 0. The header stays. Returns the buffer.
RowBuffer* RB_Free(RowBuffer* rb);

// max(n, 1) zeroed records, NULL when memory runs out.
AgentColDesc* RB_AllocColDescs(uint16_t n);
// Releases the four owned texts of each of the n records, then the array.
void RB_FreeColDescs(AgentColDesc* descs, uint16_t n);
// One column per description (its storage type, RB_ElementSize of its
// declared length), column count n, then RB_AllocRows(rows). The buffer must
// be empty. 15 for a negative declared length or a width beyond 32 bits.
int RB_FromColDescs(const AgentColDesc* descs, uint16_t n, int32_t rows, RowBuffer* rb);

// Element of row i of a column, and the pointer-type element access.
inline unsigned char* RB_Element(const RowBufferColumn* col, size_t row) {
  return col->data + row * col->width;
}
RBPtrValue RB_GetPtrValue(const unsigned char* element);
void RB_SetPtrValue(unsigned char* element, RBPtrValue value);
// True for the types whose element holds an owned heap block.
inline bool RB_IsPtrType(uint32_t type) {
  return type == RBT_CHAR_PTR || type == RBT_BINARY_PTR || type == RBT_WCHAR_PTR;
}
// Bytes of the length prefix of a counted element type (the LEN types): 1, 2
// or 4; 0 for every other type.
inline uint32_t RB_LengthPrefixBytes(uint32_t type) {
  switch (type) {
    case RBT_CHAR_LEN1: case RBT_BINARY_LEN1: return 1;
    case RBT_CHAR_LEN2: case RBT_BINARY_LEN2: return 2;
    case RBT_CHAR_LEN4: case RBT_BINARY_LEN4: case RBT_WCHAR_LEN4: return 4;
    default: return 0;
  }
}
// The length a counted element's prefix of bytes (1, 2 or 4) holds.
inline uint32_t RB_LoadLengthPrefix(const unsigned char* element, uint32_t bytes) {
  if (bytes == 1) return element[0];
  if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, element, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, element, 4);
  return v;
}
// A time element holds a fraction of a second only when it is 10 bytes wide
// (declared size 10): SQL_TIME_STRUCT, then 32 bits of nanoseconds. The
// 6-byte form is the ODBC structure alone, as application values come.
constexpr uint32_t RB_TIME_WIDTH = 6;
constexpr uint32_t RB_TIME_FRACTION_WIDTH = 10;
inline bool RB_TimeHasFraction(const RowBufferColumn* col) {
  return col->type == RBT_TIME && col->width >= RB_TIME_FRACTION_WIDTH;
}
// The nanoseconds of a time element (0 when the column keeps none).
inline uint32_t RB_TimeFraction(const RowBufferColumn* col, const unsigned char* element) {
  if (!RB_TimeHasFraction(col)) return 0;
  uint32_t v;
  std::memcpy(&v, element + RB_TIME_WIDTH, sizeof v);
  return v;
}
// Bytes of the block a pointer element's length stands for.
inline size_t RB_PtrBytes(uint32_t type, uint32_t length) {
  return type == RBT_WCHAR_PTR ? size_t{length} * 2 : size_t{length};
}

// ---- rows ----------------------------------------------------------------------

// Inserts a NULL row at row i (0..rowCount) of every column. 15 without a
// spare allocated row, without columns, or for i out of range.
int RB_InsertRow(RowBuffer* rb, int32_t i);
// *equal = 1 when row i of a and row j of b hold the same values (indicators
// not compared), else 0. 15 for arguments or layouts that do not fit.
int RB_RowsEqual(const RowBuffer* a, int32_t i, const RowBuffer* b, int32_t j, int* equal);
// Copies source row b into destination row a; a >= rowCount appends at
// rowCount within the row capacity. A block the destination row held is
// released. Blocks of the pointer types move with move set (the source keeps
// its length and a NULL pointer), else are duplicated for non-NULL values (a
// NULL value is copied without its block). Layouts are checked first; on 16
// (duplication failed) the columns before stay copied.
int RB_CopyRow(RowBuffer* dst, RowBuffer* src, int32_t a, int32_t b, bool move);
// Replaces *rb (a malloc'd header) by a new buffer with the rows reversed.
int RB_Reverse(RowBuffer** rb);

// ---- whole buffers ---------------------------------------------------------------

// A new malloc'd buffer with the source's columns and rows (row capacity = row
// count), blocks duplicated. On failure (16) nothing of it is left.
int RB_Clone(RowBuffer** out, const RowBuffer* src);
// The source's layout with storage for rows empty rows, in *out when it
// already points to a buffer (emptied first), else in a new malloc'd header.
int RB_CloneEmpty(RowBuffer** out, const RowBuffer* src, int32_t rows);
// Appends every row of src to dst (same layout); blocks move from src, whose
// elements keep NULL pointers. Row count and capacity become the sum. On 16
// nothing has changed.
int RB_Append(RowBuffer* dst, RowBuffer* src);
// dst's columns become src's columns followed by its own (column count and
// capacity the sum); src's columns give up their storage (types and widths
// stay). Row counts must be equal; when the row capacities differ, the moved
// columns are re-stored for dst's row capacity. On 16 nothing has changed.
int RB_JoinCols(RowBuffer* dst, RowBuffer* src);

// ---- columns ---------------------------------------------------------------------

// Inserts an empty column (all rows NULL) at i (i <= colCount) with storage
// for the row capacity. On 16 the buffer is unchanged.
int RB_InsertCol(RowBuffer* rb, uint16_t i, uint32_t type, uint32_t width);
// Frees column i and moves the later columns down.
int RB_DeleteCol(RowBuffer* rb, uint16_t i);
int RB_ColInfo(const RowBuffer* rb, uint16_t i, uint32_t* type, uint32_t* width);
// Replaces the storage of dst column i by a copy of src column j (same type
// and width; equal row counts unless dst has no rows, in which case dst takes
// src's row count and a row capacity of at least that). Blocks of non-NULL
// values are duplicated. The new storage covers dst's row capacity; on 16 dst
// is unchanged. Neither buffer with rows: nothing happens.
int RB_CopyCol(RowBuffer* dst, const RowBuffer* src, uint16_t i, uint16_t j);
// Makes column i able to hold values of size characters (text) or bytes
// (binary): fixed-width types become length-prefixed ones, length-prefixed
// types grow, the pointer types get blocks of at least that size.
int RB_WidenCol(RowBuffer* rb, uint16_t i, uint32_t size, bool useTextLength);

// ---- values --------------------------------------------------------------------

// Copies the raw bytes of one value (without its length prefix or terminator)
// to dst, at most *length bytes; *length becomes the bytes copied (0 for NULL).
int RB_GetValue(const RowBuffer* rb, int32_t row, uint16_t col, void* dst, uint32_t* length);
// Turns every 16-bit text column into 8-bit (UTF-8) text: 24 and 25 become 17,
// 26 becomes 15, 27 becomes 20. A column is widened when its UTF-8 text needs
// more room than the element has. On 16 the failing column is unchanged.
int RB_ToNarrow(RowBuffer* rb);
// Cuts every text and binary value to at most n (16-bit units for 16-bit
// text, bytes otherwise) without splitting a character; fixed-width columns
// of types 1, 14 and 24 that are wider first become length-prefixed.
int RB_Truncate(RowBuffer* rb, uint32_t n);

}  // namespace kx
