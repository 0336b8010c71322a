// Conversion of date, time and timestamp values (ODBC structure layouts) to
// text, to each other and to their raw bytes, and of their text to them.
//
// Date and time text is never cut (22003 when the buffer is short); timestamp
// text is cut with 01004. Pairings outside the matrix are 07006; a negative
// buffer length where it is consulted is S1090.
#pragma once

#include <cstdint>

#include <sql.h>
#include <sqlext.h>

namespace kx {

int16_t ConvertDATE(const SQL_DATE_STRUCT* value, int32_t cType, void* target, int64_t bufferLength,
                    int64_t* outLen, int32_t* err);
// fraction: nanoseconds of the time (0 for a column that keeps none);
// fractionDigits: the column's decimal digits, which its text shows ("hh:mm:ss"
// cut to its seconds with 01004 at most). A time structure drops a nonzero
// fraction with 01S07; a timestamp structure takes today's (local) date and
// keeps the fraction.
int16_t ConvertTIME(const SQL_TIME_STRUCT* value, uint32_t fraction, uint16_t fractionDigits, int32_t cType,
                    void* target, int64_t bufferLength, int64_t* outLen, int32_t* err);
// fractionDigits: the column's decimal digits; 0 writes no fraction in text.
int16_t ConvertTIMESTAMP(const SQL_TIMESTAMP_STRUCT* value, int32_t cType, void* target,
                         int64_t bufferLength, int64_t* outLen, uint16_t fractionDigits,
                         int32_t* err);
// Character data (ASCII) as a date, time or timestamp C type: a date
// "yyyy-mm-dd", a time "hh:mm:ss[.f...]" or a timestamp of both separated by
// a space, each also in its ODBC escape ("{d '...'}", "{t '...'}",
// "{ts '...'}"), spaces around allowed. A date drops a nonzero time of day
// and a time a nonzero fraction with 01S07, and so does a timestamp for
// digits beyond nanoseconds; a time as a timestamp takes today's date and a
// date midnight. Text that is no such value, or a value of the other kind
// (a time as a date, a date as a time), is 22018.
int16_t ConvertDateTimeText(const char* text, uint64_t length, int32_t cType, void* target, int64_t* outLen,
                            int32_t* err);

}  // namespace kx
