// Parameter binding: one row of the parameter block moved into the Java
// statement's set methods, converted to what each parameter's SQL type asks
// for; output parameters of a call registered.
#pragma once

#include <cstdint>

#include "drv_jdbc/j_records.h"
#include "drv_jdbc/j_setters.h"

namespace kx {

int JDB_BindParamRow(JStmt* s, int32_t row);

// SQL type and direction of parameter p (0-based); CHAR and input when the
// core gave no descriptor for it.
int32_t JDB_ParamSqlType(const JStmt* s, int p);
int16_t JDB_ParamDirection(const JStmt* s, int p);

// JDBC type code of an ODBC SQL type (setNull, registerOutParameter).
int32_t JDB_JdbcTypeOf(int32_t sqlType);
// The JDBC type output parameter p is registered and read as: its declared
// type's, or the routine's own for a call's return value (see
// JStmt::returnJdbcType).
int32_t JDB_OutputJdbcType(const JStmt* s, int p);

// Date, time or timestamp text: "yyyy-mm-dd[ hh:mm:ss[.f...]]",
// "dd.mm.yyyy[ ...]" or "hh:mm:ss[.f...]". The fields must be complete and in
// range and nothing but blanks may follow; fractions are scaled to
// nanoseconds. False for anything else (the record is then unspecified).
bool JDB_ParseDateTimeText(const char* text, size_t length, JDateTime* out, int* parts);
constexpr int JDB_DT_DATE = 1;
constexpr int JDB_DT_TIME = 2;

// Text to number, strictly: optional blanks, sign, digits (and for doubles a
// fraction and exponent), optional blanks. 0, 121 (22018) for anything else,
// 58 (22003) when the value does not fit. An integer may have a fraction of
// zeros; other fraction digits would be lost: 57 (22001).
int JDB_TextToInt64(const char* text, size_t length, int64_t* out);
int JDB_TextToDouble(const char* text, size_t length, double* out);
// Text for a BIT: the number 0 or 1. 121 (22018) for no number, 57 (22001)
// for a number between 0 and 2, 58 (22003) for any other.
int JDB_TextToBit(const char* text, size_t length, bool* out);

// The fields of a date-time structure for the parts it holds (JDB_DT_*):
// 0 when they name a real date and time, 119 (22007) when a field is out of
// range (year 0, 30 February, hour 25), 60 (22008) for a fraction of a
// second or more.
int JDB_CheckDateTime(const JDateTime& value, int parts);
// A fraction in nanoseconds cut (not rounded) to that many decimal digits;
// digits outside 0..8 leave it whole.
uint32_t JDB_CutFraction(uint32_t nanos, int32_t digits);
// Today's date in the VM's zone (the process's) into the date fields.
void JDB_TodayInto(JDateTime* value);

}  // namespace kx
