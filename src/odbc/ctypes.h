// What the driver knows about the ODBC C types by themselves: the default C
// type of an SQL type (what SQL_C_DEFAULT stands for), the fixed octet size of
// a C type, and its name for trace lines.
#pragma once

#include <cstdint>

namespace kx {

// Internal C type used by the column reader for SQL_C_BINARY asked of an
// SQL_BIGINT column: the value is delivered as an 8-byte signed integer, but
// through the application's buffer length (22003 when it is shorter than 8
// bytes, 01004 for 0) instead of being written blindly as a fixed-size value.
// Every converter accepts it wherever it accepts SQL_C_SBIGINT.
constexpr int32_t KX_C_SBIGINT_AS_BINARY = -1025;

// Internal C type used by the column reader for SQL_C_BINARY asked of an
// SQL_GUID column: the UUID's 16 bytes, most significant first, as the
// database keeps them, whatever form the value arrived in (its text).
constexpr int32_t KX_C_GUID_AS_BINARY = -1026;

// Default C type of an SQL type for an environment of the given ODBC version
// (3 selects the ODBC 3 codes, any other value the ODBC 2 codes). Unknown SQL
// types come back unchanged.
int32_t DefaultCType(int32_t sqlType, int32_t odbcVersion);

// Octet size of a fixed-size C type; 0 for text, binary, SQL_C_DEFAULT and
// unknown codes.
int16_t CTypeSize(int16_t cType);

// Whether an application may name this C type for a column or a parameter:
// every ODBC C type (intervals included) and SQL_C_DEFAULT; never the
// driver's own internal codes.
bool IsApplicationCType(int32_t cType);

// Standard name of a C type ("SQL_C_LONG"), "(unknown type)" otherwise.
const char* CTypeToName(int32_t cType);

}  // namespace kx
