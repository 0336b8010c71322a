// What an application asks about the driver and the data source: SQLGetInfo
// (a few answers of the driver's own, the rest asked of the agent once per
// connection and kept in the connection's caches), SQLGetFunctions (a fixed
// list) and SQLNativeSql (the agent's translation). Every function runs inside
// one dispatched call on the connection, under its call lock.
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>

#include "odbc/records.h"

namespace kx {

// Size of the ODBC 3 function bitmap in 16-bit words, and of the ODBC 2 list.
constexpr int FUNCTIONS_ODBC3_WORDS = 250;
constexpr int FUNCTIONS_ODBC2_COUNT = 100;

// The information types answered through the agent, by the width of their
// answer; SQL_DATABASE_NAME is never kept, and the ODBC 2 number of
// SQL_OJ_CAPABILITIES (65003) shares the slot of 115. -1: not such a type.
int InfoCacheSlot16(uint16_t type);
int InfoCacheSlot32(uint16_t type);
int InfoCacheSlotText(uint16_t type);

// SQLGetInfo. bufferLength: bytes (text answers; negative is refused with
// S1090). mode 'W' writes UTF-16 text with lengths in bytes.
SQLRETURN ConnGetInfo(ConnRecord* conn, uint16_t type, void* buffer, int16_t bufferLength,
                      int16_t* length, char mode);
// SQLGetFunctions: never fails; nothing is written without a pointer.
SQLRETURN ConnGetFunctions(ConnRecord* conn, uint16_t function, uint16_t* exists);
// SQLNativeSql. text: length in bytes or SQL_NTS; capacity: bytes of out (NULL
// out reports the length only).
SQLRETURN ConnNativeSql(ConnRecord* conn, const char* text, int32_t length, char* out,
                        int32_t capacity, int32_t* outLength);

// 1 when the connection's SQL-type table (type 1) has, as its first row of the
// default C type of sqlType, a row whose conversion mask shares a bit with mask.
int ConnTypeConvertible(const ConnRecord* conn, int32_t sqlType, uint32_t mask);

// Number answers: the value (when a buffer is given) and its width through
// length (when given). The buffer length is not consulted. InfoPutULen writes
// an SQLULEN (handles and other pointer-sized answers).
SQLRETURN InfoPutU16(uint16_t value, void* buffer, int16_t* length);
SQLRETURN InfoPutU32(uint32_t value, void* buffer, int16_t* length);
SQLRETURN InfoPutULen(uint64_t value, void* buffer, int16_t* length);

// Copies UTF-8 text of n bytes into a caller's buffer of capacity bytes: as
// 8-bit text, or UTF-16 for mode 'W'. A copy that has to be cut keeps whole
// characters and its terminator, leaves 01004 in the connection's error code
// and answers SQL_SUCCESS_WITH_INFO; *full (when given) receives the whole
// length in target bytes. NULL buffer: the length only. Negative capacity:
// S1090, SQL_ERROR.
SQLRETURN ConnPutText(ConnRecord* conn, const char* text, size_t n, void* buffer, int64_t capacity,
                      int64_t* full, char mode);

}  // namespace kx
