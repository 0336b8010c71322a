// Interval values to C types: the text of an interval (an interval column's
// value as the database writes it, or a character value an application
// reads as an interval) into the interval structures and, for single-field
// intervals, into exact numbers. The text forms are those ReadIntervalText
// reads.
#pragma once

#include <cstdint>

namespace kx {

// The thirteen interval C types, and the thirteen interval SQL types.
bool IsIntervalCType(int32_t cType);
bool IsIntervalSqlType(int32_t sqlType);

// The interval code (SQL_IS_*) of an interval C or SQL type (they share
// their numbers); 0 for other types.
int IntervalCodeOfType(int32_t type);

// Converts interval text to cType. sqlType is the column's type: an interval
// type for an interval column, 0 for character data. By ODBC's rules:
// - interval targets: 22018 for text that is no interval, 22015 when the
//   leading field does not fit (or months go to a day-time type), 01S07 when
//   trailing fields or fraction digits are dropped, 07006 from an interval
//   column of the other class (year-month against day-time);
// - exact numeric targets from a single-field interval column: its value by
//   the number rules (01S07 for a dropped fraction, 22003 out of range); from
//   several fields 22015 (year-month) or 07006 (day-time);
// - any other target of an interval column: 07006.
// precision: fraction digits of an interval target with seconds (0 to 9).
int16_t ConvertIntervalText(const char* text, uint64_t length, int32_t sqlType, int32_t cType,
                            void* target, int64_t bufferLength, int64_t* outLen, int32_t* err,
                            int32_t scale, int32_t precision);

}  // namespace kx
