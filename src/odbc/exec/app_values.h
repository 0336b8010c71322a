// Application values on their way to the agent: the storage type and element
// width a C type takes in a row buffer, where one row of a bound parameter
// lies in the application's buffers and how long its value is, and the
// conversions of values the agent cannot take as they are (date, time and
// timestamp escapes in text, SQL_NUMERIC_STRUCT, SQLGUID, 64-bit integers).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "odbc/records.h"

namespace kx {

// Storage type of a C type; *width (when given) the element width, 0 for the
// types sized by their values (text, wide text, binary).
uint32_t CTypeToRowBufferType(int32_t cType, uint32_t* width);

// Stride of one element of a column-wise bound parameter array: the buffer
// length for text and binary (the column size, twice for wide text, when it
// is 0); the C type's own size for every fixed-size C type.
int64_t ExecParamElemSize(const ParamBinding* b);

// The APD's bind offset (0 without an offset pointer) and bind type.
int64_t ParamBindOffset(const StmtRecord* stmt);
int32_t ParamBindType(const StmtRecord* stmt);

// The length and indicator cells of one row of a binding (offset added once).
// Without a length pointer the length is the binding's elementSize; without
// an indicator pointer the indicator is 0.
void ExecParamRowCells(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                       int64_t* length, int64_t* indicator);
// The address of one row's value (offset added once); NULL without a value
// pointer.
const unsigned char* ExecParamRowValue(const StmtRecord* stmt, const ParamBinding* b,
                                       uint64_t row, int64_t stride);

// Whether a length asks for the value at execution time.
inline bool IsDataAtExec(int64_t length) {
  return length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// Length in bytes of one row's value, for the driver-collected execution
// (collected values count their collected bytes) and for the backend-driven
// one (values at execution count 0). -1 when the length cell holds a negative
// length that is no length at all (refused with S1090 by the caller).
int64_t ExecParamValueLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                          int64_t stride);
int64_t ExecAgentValueLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                          int64_t stride);
// The largest of those over rows 0 .. rows - 1 (never below 0).
int64_t ExecParamMaxLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t rows,
                        int64_t stride);
int64_t ExecAgentMaxLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t rows,
                        int64_t stride);

// Reads an ODBC date, time or timestamp escape ("{d '...'}", "{t '...'}",
// "{ts '...'}") for an SQL type (0: the keyword decides). Returns the storage
// type the value takes (RBT_DATE, RBT_TIME or RBT_TIMESTAMP) with *out
// filled, or 0 when the text is no such escape or the SQL type keeps text.
uint32_t ParseDateTimeEscape(const char* text, size_t length, int16_t sqlType,
                             SQL_TIMESTAMP_STRUCT* out);
// The same for UTF-16 text of length bytes.
uint32_t WParseDateTimeEscape(const char16_t* text, size_t lengthBytes, int16_t sqlType,
                              SQL_TIMESTAMP_STRUCT* out);
// Stores a parsed value as the element of a storage type (6 or 16 bytes).
void StoreDateTime(unsigned char* element, uint32_t type, const SQL_TIMESTAMP_STRUCT& v);
// Stores a text value into an element of capacity bytes: an escape for a
// date, time or timestamp SQL type (0: the keyword decides) becomes its
// structure when the element has room for it, and a given column then takes
// that storage type and width; any other text is copied as it is, at most
// capacity bytes of it. The 16-bit form takes its length in bytes and copies
// 16-bit text.
void EscapeToDateTime(unsigned char* element, size_t capacity, const char* text, int64_t length,
                      RowBufferColumn* column, int16_t sqlType);
void WEscapeToDateTime(unsigned char* element, size_t capacity, const char16_t* text,
                       int64_t lengthBytes, RowBufferColumn* column, int16_t sqlType);
// The literal inside an escape's quotes ("{d '2001-02-03'}" gives
// "2001-02-03"); false when the text is no escape with a quoted literal.
bool EscapeLiteral(const char* text, size_t length, size_t* start, size_t* count);

// The exact decimal text of a numeric structure ("-12.34"); at most
// NUMERIC_TEXT_MAX bytes, no terminator. Returns the length.
constexpr size_t NUMERIC_TEXT_MAX = 170;
size_t NumericToDecimalText(const SQL_NUMERIC_STRUCT* n, char* out);

// The 36 characters of a GUID ("XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX").
void GuidToChar(unsigned char* element, const SQLGUID* guid);

// Decimal text of a 64-bit integer, without terminator; returns the length.
size_t Int64ToText(int64_t v, char* out, size_t capacity);
size_t UInt64ToText(uint64_t v, char* out, size_t capacity);

}  // namespace kx
