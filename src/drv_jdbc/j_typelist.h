// The ODBC type list made from a JDBC driver's: one row for each type the
// database stores under an ODBC type, sorted by type and then best match
// first, with the sizes and create parameters ODBC defines; and the facts
// about types that describing a column shares with it (UUID types are
// GUIDs, the fixed sizes of the numeric types). No Java here: the rows are
// read by the catalog operation and handed over as cells.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kx {

// One cell of a type-list row: NULL, a number or a text (UTF-8).
struct TypeListCell {
  bool isNull = true;
  int32_t number = 0;
  std::string text;
};

// The columns of a type-information row, in ODBC's order; JDBC's rows have
// the same first 18.
enum TypeListColumn : int {
  TL_TYPE_NAME,
  TL_DATA_TYPE,
  TL_COLUMN_SIZE,
  TL_LITERAL_PREFIX,
  TL_LITERAL_SUFFIX,
  TL_CREATE_PARAMS,
  TL_NULLABLE,
  TL_CASE_SENSITIVE,
  TL_SEARCHABLE,
  TL_UNSIGNED_ATTRIBUTE,
  TL_FIXED_PREC_SCALE,
  TL_AUTO_UNIQUE_VALUE,
  TL_LOCAL_TYPE_NAME,
  TL_MINIMUM_SCALE,
  TL_MAXIMUM_SCALE,
  TL_SQL_DATA_TYPE,
  TL_SQL_DATETIME_SUB,
  TL_NUM_PREC_RADIX,
  TL_INTERVAL_PRECISION,
  TL_COLUMNS
};

using TypeListRow = std::array<TypeListCell, TL_COLUMNS>;

struct TypeListOptions {
  bool jet = false;    // BIGINT is shown as NUMERIC
  bool wide = false;   // a Unicode client: character types also under their wide codes
  bool odbc3 = true;   // dates sort by the codes an ODBC 3 application sees (91 to 93)
  int32_t filter = 0;  // the one ODBC type asked for (dates as 9 to 11); 0 for all
};

// The numeric SQL types: their columns have a radix.
bool JDB_IsNumberType(int32_t t);

// The ODBC type list from the JDBC rows (DATA_TYPE as JDBC codes). Rows
// whose type ODBC has no code for are left out, and a type is listed once
// under each code; dates keep the codes 9 to 11 (the fetch gives ODBC 3
// applications 91 to 93).
std::vector<TypeListRow> JDB_OdbcTypeList(const std::vector<TypeListRow>& jdbcRows,
                                          const TypeListOptions& options);

// Whether a database type name is that of a UUID type (PostgreSQL's uuid,
// H2's UUID), which is described as SQL_GUID.
bool JDB_IsUuidTypeName(const char* name);

// The characters of a GUID's text, its column size.
constexpr int32_t JDB_GUID_SIZE = 36;

// The column size of a BIGINT described as NUMERIC (under JET): its nineteen
// digits and a sign.
constexpr int32_t JDB_BIGINT_AS_NUMERIC_SIZE = 20;

// ODBC's column size of a fixed-size numeric type: its decimal digits
// (TINYINT 3, SMALLINT 5, INTEGER 10, BIGINT 19, REAL 7, FLOAT and DOUBLE
// 15); 0 for any other type. JDBC drivers give other numbers (H2 the bits).
int32_t JDB_FixedColumnSize(int32_t odbcType);

// Whether the ODBC type is REAL, FLOAT or DOUBLE, which have no decimal digits.
bool JDB_IsApproximateType(int32_t odbcType);

// The character size a database vouches for through the type's name where
// its JDBC driver reports none (PostgreSQL's name: 63); 0 when none is known.
int32_t JDB_KnownTextSize(const char* name);

}  // namespace kx
