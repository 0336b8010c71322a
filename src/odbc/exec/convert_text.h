// Conversion of values held as text (narrow UTF-8 or UTF-16) to every C type
// the driver delivers, and the number parsers beneath it.
//
// Results are SQLRETURN values; error-table rows go to the caller's cell:
// 19 01004 (cut), 25 S1090 (negative buffer length), 43 S1C00 (date/time
// target), 49 07006 (pairing not supported), 58 22003 (out of range),
// 59 22005 (GUID dashes), 62 22026 (GUID length), 104 01S07 (fraction cut),
// 121 22018 (not a number), 16 S1001 (memory).
// A target is left untouched on SQL_ERROR.
//
// Reading a value in pieces: for SQL_C_CHAR, SQL_C_WCHAR and SQL_C_BINARY
// targets *consumed (optional) receives the source units that went out: bytes
// for ConvertCHAR, octets (always even for text targets) for ConvertWCHAR.
// After SQL_SUCCESS_WITH_INFO with consumed < length, the next piece starts at
// text + consumed with length - consumed. *split (optional, in/out) carries
// the part of a character that an earlier call delivered when the buffer had
// room for less than that character (see CopyOutWideToNarrow); the caller
// keeps it between the calls of one value. Other targets report 0.
#pragma once

#include <cstdint>

#include <sql.h>
#include <sqlext.h>

namespace kx {

int16_t ConvertCHAR(const char* text, uint64_t length, int64_t total, int32_t cType, void* target,
                    int64_t bufferLength, int64_t* outLen, int32_t* err, int32_t scale,
                    int32_t precision, uint64_t* consumed = nullptr, uint32_t* split = nullptr);
// length and total in octets of UTF-16.
int16_t ConvertWCHAR(const char16_t* text, uint64_t length, int64_t total, int32_t cType,
                     void* target, int64_t bufferLength, int64_t* outLen, int32_t* err,
                     int32_t scale, int32_t precision, uint64_t* consumed = nullptr,
                     uint32_t* split = nullptr);

// Whether the text of an exact number (a NUMERIC, DECIMAL or BIGINT value:
// sign, whole digits, fraction) keeps its sign and whole digits in a text
// target of bufferLength bytes with its terminator. Only fraction digits may
// be cut (01004); a target too short for the rest is 22003 with nothing
// written. True for other targets and for a zero length (a length probe).
// wide: text is UTF-16 and length counts its octets.
bool WholeDigitsFit(const void* text, uint64_t length, bool wide, int32_t cType, int64_t bufferLength);

// Integer text into [minimum, maximum]. An unsigned target passes 0 as its
// minimum and its maximum as the same bit pattern (UINT32_MAX as -1). A
// fraction is cut toward zero with 01S07; exponents are read ("1.5e3").
int16_t CharToNumber(const char* text, uint64_t length, int32_t minimum, int32_t maximum,
                     int32_t* value, int32_t* err);
int16_t CharToNumber64(const char* text, uint64_t length, int64_t minimum, int64_t maximum,
                       int64_t* value, int32_t* err);
// Decimal text, with one leading '$' and thousands commas allowed.
int16_t CharToDecimal(const char* text, uint64_t length, double* value, int32_t* err);
int16_t CharToNumeric(const char* text, uint64_t length, SQL_NUMERIC_STRUCT* numeric,
                      int32_t scale, uint32_t precision, int32_t* err);
// 36 characters "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
int16_t CharToGuid(const char* text, uint64_t length, SQLGUID* guid, int32_t* err);
// The 16 bytes of a GUID as a UUID keeps them: Data1, Data2 and Data3 most
// significant byte first, then Data4 as it stands.
void GuidToBytes(const SQLGUID& guid, unsigned char* bytes);

// The same over UTF-16 text; length in UTF-16 units.
int16_t WCharToNumber(const char16_t* text, uint64_t length, int32_t minimum, int32_t maximum,
                      int32_t* value, int32_t* err);
int16_t WCharToNumber64(const char16_t* text, uint64_t length, int64_t minimum, int64_t maximum,
                        int64_t* value, int32_t* err);
int16_t WCharToDecimal(const char16_t* text, uint64_t length, double* value, int32_t* err);
int16_t WCharToNumeric(const char16_t* text, uint64_t length, SQL_NUMERIC_STRUCT* numeric,
                       int32_t scale, uint32_t precision, int32_t* err);

}  // namespace kx
