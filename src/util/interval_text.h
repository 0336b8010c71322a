// Interval values as text: reading the forms databases and applications write
// them in, the ODBC interval structure made from a value, and the texts made
// from a structure for the database (an SQL interval literal, or PostgreSQL's
// input with its units spelled out).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

namespace kx {

// An interval's fields as a qualifier: leading and trailing field by ODBC's
// SQL_IS_* order codes reduced to the six fields (year, month, day, hour,
// minute, second). {0, 0}: no qualifier.
enum IntervalField : uint8_t {
  IVF_NONE = 0,
  IVF_YEAR,
  IVF_MONTH,
  IVF_DAY,
  IVF_HOUR,
  IVF_MINUTE,
  IVF_SECOND,
};

struct IntervalQualifier {
  uint8_t leading = IVF_NONE;
  uint8_t trailing = IVF_NONE;
};

// The qualifier of an ODBC interval code (SQL_IS_YEAR .. SQL_IS_MINUTE_TO_SECOND,
// the same numbers as SQL_CODE_YEAR ..): {0, 0} for any other code.
IntervalQualifier IntervalQualifierOf(int code);
// The interval code of a qualifier; 0 when it names no ODBC interval.
int IntervalCodeOf(IntervalQualifier q);
// Whether a code is a year-month interval (year, month, year to month).
bool IsYearMonthInterval(int code);
// The interval code of an SQL type name that spells its fields
// ("INTERVAL DAY TO SECOND", "interval year(3) to month"); 0 for any other
// name, a bare "interval" included.
int IntervalCodeOfTypeName(const char* name);

// An interval value as databases keep one: a part in months and a part in
// days, seconds and nanoseconds, each with its own sign (PostgreSQL's
// "-1 years +3 days" has both). nanos has the sign of seconds when seconds
// is not 0.
struct IntervalParts {
  int64_t months = 0;
  int64_t days = 0;
  int64_t seconds = 0;
  int32_t nanos = 0;
};

enum class IntervalRead { Ok, Invalid, Overflow };

// Reads interval text:
// - an SQL interval literal, "INTERVAL '-1 02:03:04.5' DAY TO SECOND", also
//   inside ODBC escape braces;
// - PostgreSQL's output in each interval style: postgres ("1 year 2 mons
//   -3 days +04:05:06.5"), postgres_verbose ("@ 1 year 3 days ago"),
//   sql_standard ("+1-2 -3 +4:05:06") and iso_8601 ("P1Y2M3DT4H5M6.5S");
// - the bare value of a literal ("1 02:03", "-5") read by the fields of
//   hint, the type the value is wanted as.
// Blanks around the text are ignored. At most nine fraction digits of the
// seconds are kept (the rest are cut).
IntervalRead ReadIntervalText(const char* text, size_t n, IntervalQualifier hint, IntervalParts* out);

// The ODBC interval structure of a value for interval code `code`, with
// `precision` fraction digits (0 to 9) in the fraction field. Returns 0,
// or KX_ERR_INTERVAL_OVERFLOW when the value does not fit (a leading field
// beyond 32 bits, a day-time value with months for a day-time type);
// *truncated says whether trailing fields or fraction digits were dropped
// (a year-month type drops any day-time part).
int IntervalPartsToStruct(const IntervalParts& v, int code, int precision, SQL_INTERVAL_STRUCT* out,
                          bool* truncated);

// The interval_type field of a structure as a number: an application's
// structure may hold any value there, which the enum type cannot.
int IntervalTypeOf(const SQL_INTERVAL_STRUCT& s);

// The value of an ODBC interval structure; false when its interval type is
// no interval code or a trailing field is out of its range (an hour of 24,
// a month of 12). `precision` is the number of fraction digits the fraction
// field counts.
bool IntervalStructToParts(const SQL_INTERVAL_STRUCT& s, int precision, IntervalParts* out);

// Room for the longest text the writers below make, with its terminator.
constexpr size_t INTERVAL_TEXT_MAX = 128;

// The SQL interval literal of a structure ("INTERVAL '-1 02:03:04.5' DAY TO
// SECOND"), fraction digits without trailing zeros. Returns the length, 0
// when the structure is not valid (see IntervalStructToParts).
size_t IntervalStructToLiteral(const SQL_INTERVAL_STRUCT& s, int precision, char* out, size_t cap);

// The value of a single-field structure as a decimal number ("-5",
// "7.25"); 0 when it has more than one field or is not valid.
size_t IntervalStructToNumber(const SQL_INTERVAL_STRUCT& s, int precision, char* out, size_t cap);

// PostgreSQL's interval input for a value, every unit spelled out with its
// own sign ("-1 years -2 months 3 days -04:05:06.5" is written
// "-1 years -2 months +3 days -4 hours -5 minutes -6.5 seconds"), so that
// no interval style changes its meaning. Returns the length.
size_t IntervalPartsToUnitText(const IntervalParts& v, char* out, size_t cap);

}  // namespace kx
