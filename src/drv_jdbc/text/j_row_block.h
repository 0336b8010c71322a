// Packed row blocks: the layout in which the agent's Java support class
// (quillmar/support/RowBlock) hands over a whole block of result rows in one
// byte array, and its decoding into the column-wise RowBuffer that the
// value-by-value road fills. Decoding needs no Java VM.
//
// Layout, in the host's byte order, row after row and column after column:
// one flag byte (0 a value, 1 SQL NULL), then the value by the column's kind:
//   boolean, byte    1 byte                     written for NULL too
//   short            2 bytes                    written for NULL too
//   int, float       4 bytes (a float's bits)   written for NULL too
//   double           8 bytes (its bits)         written for NULL too
//   date, time       3 x 16 bits: year, month, day / hour, minute, second
//   time, fraction   3 x 16 bits and 32 bits of nanoseconds (a time column
//                    whose element keeps a fraction)
//   timestamp        6 x 16 bits and 32 bits of nanoseconds
//   text, bytes      32-bit length, then the bytes
//   wide text        32-bit count of UTF-16 units, then the units
// A NULL of the last four groups has nothing after its flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/row_buffer.h"

namespace kx {

// Column kinds of the layout (the Java class's constants).
enum RowBlockKind : int32_t {
  kRowBlockBoolean = 1,
  kRowBlockByte = 2,
  kRowBlockShort = 3,
  kRowBlockInt = 4,
  kRowBlockFloat = 5,
  kRowBlockDouble = 6,
  kRowBlockDate = 7,
  kRowBlockTime = 8,
  kRowBlockTimestamp = 9,
  kRowBlockText = 10,
  kRowBlockWide = 11,
  kRowBlockBytes = 12,
  kRowBlockTimeFraction = 13,
};

// Added to a text or wide-text kind in the layout handed to the Java class
// (never in the kinds decoded): the column is of a decimal type (NUMERIC,
// DECIMAL), whose text is given in plain form, as JDB_PlainDecimalText.
constexpr int32_t kRowBlockDecimalFlag = 0x100;

// Decimal text in exponent form ("7.70E-23", "-1E+5") written out in plain
// digits with the same scale ("0.0000000000000000000000770", "-100000"), as
// a JDBC driver's BigDecimal.toPlainString gives it. False, out untouched,
// for text without an exponent or that is no decimal number.
bool JDB_PlainDecimalText(const char* text, size_t length, std::string* out);

// The kind and room a column of this storage type is read with: room is the
// most bytes (text, binary) or UTF-16 units (wide text) its element keeps,
// leaving space for a terminator. wideText: the build reads wide text
// (otherwise wide storage is not taken). False: the column is read value by
// value (long values, pointer storage, an element too small).
bool JDB_RowBlockKind(const RowBufferColumn& col, bool wideText, int32_t* kind, int32_t* room);

// Decodes `rows` rows of the packed data into rows 0 to rows - 1 of out,
// column c with kinds[c] (one kind per column of out, each the one
// JDB_RowBlockKind gave it). Each element and indicator is written as the
// value-by-value road writes it: text and wide text terminated, counted
// elements with their length, binary elements padded with zero bytes, NULL
// dates and times all zero. *decoded: the rows written completely. False
// when the data end inside a row or value, hold a flag other than 0 or 1,
// name a length that does not fit the element, or go on after the last
// row: nothing is read beyond size.
bool JDB_DecodeRowBlock(const unsigned char* data, size_t size, const int32_t* kinds, int32_t rows,
                        RowBuffer* out, int32_t* decoded);

}  // namespace kx
