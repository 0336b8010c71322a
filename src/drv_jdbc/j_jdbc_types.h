// The type codes of java.sql.Types, as JDBC drivers describe columns and
// parameters. Many equal the ODBC SQL type of the same name (CHAR, INTEGER,
// ...); where the two differ (dates and times, the national character types,
// ROWID against ODBC's wide CHAR) the agent maps between them, and these names
// say which side a code belongs to.
#pragma once

#include <cstdint>

namespace kx {

constexpr int32_t JT_BIT = -7;
constexpr int32_t JT_TINYINT = -6;
constexpr int32_t JT_SMALLINT = 5;
constexpr int32_t JT_INTEGER = 4;
constexpr int32_t JT_BIGINT = -5;
constexpr int32_t JT_FLOAT = 6;
constexpr int32_t JT_REAL = 7;
constexpr int32_t JT_DOUBLE = 8;
constexpr int32_t JT_NUMERIC = 2;
constexpr int32_t JT_DECIMAL = 3;
constexpr int32_t JT_CHAR = 1;
constexpr int32_t JT_VARCHAR = 12;
constexpr int32_t JT_LONGVARCHAR = -1;
constexpr int32_t JT_DATE = 91;
constexpr int32_t JT_TIME = 92;
constexpr int32_t JT_TIMESTAMP = 93;
constexpr int32_t JT_BINARY = -2;
constexpr int32_t JT_VARBINARY = -3;
constexpr int32_t JT_LONGVARBINARY = -4;
constexpr int32_t JT_NULL = 0;
constexpr int32_t JT_OTHER = 1111;
constexpr int32_t JT_JAVA_OBJECT = 2000;
constexpr int32_t JT_DISTINCT = 2001;
constexpr int32_t JT_STRUCT = 2002;
constexpr int32_t JT_ARRAY = 2003;
constexpr int32_t JT_BLOB = 2004;
constexpr int32_t JT_CLOB = 2005;
constexpr int32_t JT_REF = 2006;
constexpr int32_t JT_DATALINK = 70;
constexpr int32_t JT_BOOLEAN = 16;
constexpr int32_t JT_ROWID = -8;
constexpr int32_t JT_NCHAR = -15;
constexpr int32_t JT_NVARCHAR = -9;
constexpr int32_t JT_LONGNVARCHAR = -16;
constexpr int32_t JT_NCLOB = 2011;
constexpr int32_t JT_TIME_WITH_TIMEZONE = 2013;
constexpr int32_t JT_TIMESTAMP_WITH_TIMEZONE = 2014;

}  // namespace kx
