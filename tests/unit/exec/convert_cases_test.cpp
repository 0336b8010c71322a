// Conversion cases that each pin one rule: parsing, ranges, truncation,
// numeric structures, hexadecimal and date/time text, buffer-length checks.
// The whole table also runs under a comma-decimal process locale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "locale_guard.h"
#include "odbc/ctypes.h"
#include "odbc/exec/convert_number.h"
#include "odbc/exec/convert_text.h"
#include "util/errcodes.h"

namespace kx::test {
namespace {

template <class T>
std::vector<unsigned char> Raw(T v, size_t n = sizeof(T)) {
  std::vector<unsigned char> b(n);
  std::memcpy(b.data(), &v, n);
  return b;
}

std::vector<unsigned char> Numeric(unsigned __int128 mag, uint8_t precision, int8_t scale, bool negative) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = precision;
  n.scale = scale;
  n.sign = negative ? 0 : 1;
  for (int i = 0; i < 16; ++i) {
    n.val[i] = static_cast<SQLCHAR>(mag & 0xFF);
    mag >>= 8;
  }
  return Raw(n);
}

// A timestamp of today's local date with the time of day given.
SQL_TIMESTAMP_STRUCT Today(uint16_t h, uint16_t m, uint16_t s, uint32_t fraction) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(local.tm_year + 1900), static_cast<SQLUSMALLINT>(local.tm_mon + 1),
                              static_cast<SQLUSMALLINT>(local.tm_mday), h, m, s, fraction};
}

unsigned __int128 Pow10(int k) {
  unsigned __int128 v = 1;
  while (k-- > 0) v *= 10;
  return v;
}

SQLGUID Guid(uint32_t d1, uint16_t d2, uint16_t d3, std::vector<uint8_t> d4) {
  SQLGUID g{};
  g.Data1 = d1;
  g.Data2 = d2;
  g.Data3 = d3;
  std::memcpy(g.Data4, d4.data(), 8);
  return g;
}

Element N(const std::string& s) { return NarrowElement(RBT_CHAR_LEN4, s); }
Element W(const std::u16string& s) { return WideElement(RBT_WCHAR_LEN4, s); }
Element B(const std::vector<unsigned char>& b) { return BinaryElement(RBT_BINARY_LEN4, b); }
Element Int(uint32_t type, int64_t v) { return IntegerElement(type, v); }

// Request helpers: fixed-size targets get their size as capacity and a
// buffer length of 0; text and binary targets a capacity and that length.
Request Fix(int32_t c, int32_t scale = 0, int32_t precision = 0) {
  return Request{c, 0, static_cast<size_t>(CTypeSize(static_cast<int16_t>(c))), scale, precision, 0};
}
Request Buf(int32_t c, int64_t length, uint16_t digits = 0) {
  return Request{c, length, length > 0 ? static_cast<size_t>(length) : 0, 0, 0, digits};
}

constexpr int16_t OK = SQL_SUCCESS;
constexpr int16_t INFO = SQL_SUCCESS_WITH_INFO;
constexpr int16_t ERR = SQL_ERROR;
constexpr int64_t UNTOUCHED = kUntouched;

struct Row {
  const char* what;
  Element element;
  Request request;
  int16_t rc;
  int32_t err;
  std::vector<unsigned char> bytes;  // written at the start of the target
  int64_t outLen;
};

std::vector<unsigned char> Txt(const std::string& s) { return NarrowBytes(s, true); }
std::vector<unsigned char> WTxt(const std::u16string& s) { return WideBytes(s, true); }

std::vector<Row> Rows() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  return {
      // ---- integer text -------------------------------------------------------
      {"spaces around -42", N("  -42  "), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(-42), 4},
      {"plus sign", N("+7"), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(7), 4},
      {"trailing letter", N("12x"), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"space inside", N("12 3"), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty text", N(""), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"sign alone", N("-"), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"2^31 overflows LONG", N("2147483648"), Fix(SQL_C_LONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"LONG minimum", N("-2147483648"), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(INT32_MIN), 4},
      {"ULONG maximum", N("4294967295"), Fix(SQL_C_ULONG), OK, 0, Raw<uint32_t>(UINT32_MAX), 4},
      {"-1 to ULONG", N("-1"), Fix(SQL_C_ULONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"-0 to ULONG", N("-0"), Fix(SQL_C_ULONG), OK, 0, Raw<uint32_t>(0), 4},
      {"2 to BIT", N("2"), Fix(SQL_C_BIT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"abc to BIT", N("abc"), Fix(SQL_C_BIT), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"decimal to LONG cuts with 01S07", N("12.7"), Fix(SQL_C_LONG), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Raw<int32_t>(12), 4},
      {"negative decimal to SHORT", N("-3.99"), Fix(SQL_C_SHORT), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Raw<int16_t>(-3), 2},
      {"zero fraction is exact", N("12.000"), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(12), 4},
      {"aggregate text to SBIGINT", N("150.0000"), Fix(SQL_C_SBIGINT), OK, 0, Raw<int64_t>(150), 8},
      {"exponent", N("1.5e3"), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(1500), 4},
      {"huge exponent", N("1e999999999999"), Fix(SQL_C_LONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"tiny exponent", N("5e-999999999999"), Fix(SQL_C_LONG), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Raw<int32_t>(0), 4},
      {"UBIGINT maximum", N("18446744073709551615"), Fix(SQL_C_UBIGINT), OK, 0, Raw<uint64_t>(UINT64_MAX), 8},
      {"UBIGINT + 1", N("18446744073709551616"), Fix(SQL_C_UBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"SBIGINT minimum", N("-9223372036854775808"), Fix(SQL_C_SBIGINT), OK, 0, Raw<int64_t>(INT64_MIN), 8},
      {"40 digits to SBIGINT", N(std::string(40, '9')), Fix(SQL_C_SBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"blank-padded CHAR element", NarrowElement(RBT_CHAR, "42        "), Fix(SQL_C_LONG), OK, 0,
       Raw<int32_t>(42), 4},
      {"NUL-padded CHAR element", NarrowElement(RBT_CHAR, std::string("42\0\0", 4)), Fix(SQL_C_LONG), OK, 0,
       Raw<int32_t>(42), 4},
      {"comma is no decimal point", N("1,5"), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty value without storage, LONG", NarrowElement(RBT_CHAR_PTR, ""), Fix(SQL_C_LONG), ERR,
       KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty value without storage, NUMERIC", NarrowElement(RBT_CHAR_PTR, ""), Fix(SQL_C_NUMERIC), ERR,
       KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty value without storage, CHAR", NarrowElement(RBT_CHAR_PTR, ""), Buf(SQL_C_CHAR, 4), OK, 0, Txt(""), 0},
      {"empty wide value without storage, WCHAR", WideElement(RBT_WCHAR_PTR, u""), Buf(SQL_C_WCHAR, 4), OK, 0,
       WTxt(u""), 0},
      {"empty wide value without storage, CHAR", WideElement(RBT_WCHAR_PTR, u""), Buf(SQL_C_CHAR, 4), OK, 0,
       Txt(""), 0},
      {"empty binary without storage, CHAR", BinaryElement(RBT_BINARY_PTR, {}), Buf(SQL_C_CHAR, 4), OK, 0,
       Txt(""), 0},
      {"wide 123 to SBIGINT", W(u"123"), Fix(SQL_C_SBIGINT), OK, 0, Raw<int64_t>(123), 8},
      {"wide non-ASCII digit", W(u"1\u0663"), Fix(SQL_C_LONG), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"BIGINT as binary honours the buffer", N("5"), Buf(KX_C_SBIGINT_AS_BINARY, 4), ERR,
       KX_ERR_NUMERIC_RANGE, {}, 8},
      {"BIGINT as binary into 0 bytes", N("5"), Buf(KX_C_SBIGINT_AS_BINARY, 0), INFO, KX_ERR_DATA_TRUNCATED, {},
       8},
      {"BIGINT as binary, 8 bytes", N("-5"), Buf(KX_C_SBIGINT_AS_BINARY, 8), OK, 0, Raw<int64_t>(-5), 8},

      // ---- decimal text -------------------------------------------------------
      {"dollar and commas", N("$1,234.50"), Fix(SQL_C_DOUBLE), OK, 0, Raw<double>(1234.5), 8},
      {"trailing space accepted", N("1.5 "), Fix(SQL_C_DOUBLE), OK, 0, Raw<double>(1.5), 8},
      {"trailing letter", N("1.5x"), Fix(SQL_C_DOUBLE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty to DOUBLE", N(""), Fix(SQL_C_DOUBLE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"double overflow", N("1e400"), Fix(SQL_C_DOUBLE), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"double underflow", N("1e-400"), Fix(SQL_C_DOUBLE), OK, 0, Raw<double>(0.0), 8},
      {"beyond float range", N("3.5e38"), Fix(SQL_C_FLOAT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"float", N("-1.25"), Fix(SQL_C_FLOAT), OK, 0, Raw<float>(-1.25f), 4},
      {"wide decimal", W(u"2.5"), Fix(SQL_C_DOUBLE), OK, 0, Raw<double>(2.5), 8},
      {"long padded decimal", N("1.5" + std::string(600, ' ')), Fix(SQL_C_DOUBLE), OK, 0, Raw<double>(1.5), 8},

      // ---- numeric text -------------------------------------------------------
      {"numeric cut to scale", N("-12.345"), Fix(SQL_C_NUMERIC, 2, 5), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Numeric(1234, 5, 2, true), 19},
      {"numeric padded to scale", N("7"), Fix(SQL_C_NUMERIC, 2, 3), OK, 0, Numeric(700, 3, 2, false), 19},
      {"numeric integer digits beyond precision", N("12345"), Fix(SQL_C_NUMERIC, 0, 4), ERR,
       KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"numeric digits beyond precision", N("123.45"), Fix(SQL_C_NUMERIC, 2, 4), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Numeric(12340, 4, 2, false), 19},
      {"numeric precision counted", N("-12.345"), Fix(SQL_C_NUMERIC, 2, 0), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Numeric(1234, 5, 2, true), 19},
      {"numeric 38 nines fill 16 bytes", N(std::string(38, '9')), Fix(SQL_C_NUMERIC, 0, 38), OK, 0,
       Numeric(Pow10(38) - 1, 38, 0, false), 19},
      {"numeric 39 digits", N("1" + std::string(38, '0')), Fix(SQL_C_NUMERIC, 0, 38), ERR, KX_ERR_NUMERIC_RANGE,
       {}, UNTOUCHED},
      {"numeric long integer part", N(std::string(500, '7') + ".5"), Fix(SQL_C_NUMERIC, 0, 38), ERR,
       KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"numeric of a non-number", N("12a"), Fix(SQL_C_NUMERIC, 0, 10), ERR, KX_ERR_BAD_CAST_VALUE, {},
       UNTOUCHED},
      {"numeric beyond 8 bytes", N("123456789012345678901234"), Fix(SQL_C_NUMERIC, 0, 30), OK, 0,
       Numeric(static_cast<unsigned __int128>(123456789012ull) * 1000000000000ull + 345678901234ull, 30, 0,
               false),
       19},
      {"wide numeric", W(u"-0.5"), Fix(SQL_C_NUMERIC, 1, 0), OK, 0, Numeric(5, 2, 1, true), 19},

      // ---- GUID text ----------------------------------------------------------
      {"guid", N("01234567-89AB-CDEF-0123-456789ABCDEF"), Fix(SQL_C_GUID), OK, 0,
       Raw(Guid(0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF})), 16},
      {"guid in braces", N("{01234567-89AB-CDEF-0123-456789ABCDEF}"), Fix(SQL_C_GUID), ERR,
       KX_ERR_STRING_LENGTH_MISMATCH, {}, UNTOUCHED},
      {"guid dash misplaced", N("012345678-9AB-CDEF-0123-456789ABCDEF"), Fix(SQL_C_GUID), ERR, KX_ERR_ASSIGNMENT,
       {}, UNTOUCHED},
      {"guid with a non-hex digit", N("0123456Z-89AB-CDEF-0123-456789ABCDEF"), Fix(SQL_C_GUID), ERR,
       KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"wide guid", W(u"01234567-89AB-CDEF-0123-456789ABCDEF"), Fix(SQL_C_GUID), ERR, KX_ERR_RESTRICTED_TYPE,
       {}, UNTOUCHED},
      // A UUID's 16 bytes read as its text does: the same GUID.
      {"guid from 16 bytes", B({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                                0xCD, 0xEF}),
       Fix(SQL_C_GUID), OK, 0, Raw(Guid(0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF})),
       16},
      {"guid from 15 bytes", B(std::vector<unsigned char>(15, 0x11)), Fix(SQL_C_GUID), ERR, KX_ERR_RESTRICTED_TYPE,
       {}, UNTOUCHED},
      {"guid from 17 bytes", B(std::vector<unsigned char>(17, 0x11)), Fix(SQL_C_GUID), ERR, KX_ERR_RESTRICTED_TYPE,
       {}, UNTOUCHED},

      // ---- date and time text -----------------------------------------------------
      // A date, a time or a timestamp (plain or as an ODBC escape) reads as
      // each date and time type that holds it; a part dropped that was not
      // zero says 01S07; text of no such value, or of the other kind, 22018.
      {"text to date", N("2024-01-01"), Fix(SQL_C_TYPE_DATE), OK, 0, Raw(SQL_DATE_STRUCT{2024, 1, 1}), 6},
      {"date escape with spaces", N("  {d '2024-02-29'} "), Fix(SQL_C_DATE), OK, 0, Raw(SQL_DATE_STRUCT{2024, 2, 29}),
       6},
      {"wide date", W(u"1999-12-31"), Fix(SQL_C_TYPE_DATE), OK, 0, Raw(SQL_DATE_STRUCT{1999, 12, 31}), 6},
      {"midnight timestamp to date", N("2024-01-01 00:00:00"), Fix(SQL_C_TYPE_DATE), OK, 0,
       Raw(SQL_DATE_STRUCT{2024, 1, 1}), 6},
      {"timestamp to date drops the time", N("2024-01-01 10:20:30"), Fix(SQL_C_TYPE_DATE), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_DATE_STRUCT{2024, 1, 1}), 6},
      {"only digits beyond nanoseconds to date", N("2024-01-01 00:00:00.0000000001"), Fix(SQL_C_TYPE_DATE), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_DATE_STRUCT{2024, 1, 1}), 6},
      {"time to date", N("10:20:30"), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"February 30th", N("2023-02-29"), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"month 13", N("2024-13-01"), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"two-digit year", N("24-01-01"), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"trailing text", N("2024-01-01x"), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"empty text as date", N(""), Fix(SQL_C_TYPE_DATE), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"text to time", N("7:08:09"), Fix(SQL_C_TYPE_TIME), OK, 0, Raw(SQL_TIME_STRUCT{7, 8, 9}), 6},
      {"time with a fraction to time", N("07:08:09.5"), Fix(SQL_C_TIME), INFO, KX_ERR_FRACTIONAL_TRUNCATION,
       Raw(SQL_TIME_STRUCT{7, 8, 9}), 6},
      {"timestamp to time", N("{ts '2024-01-01 07:08:09.000'}"), Fix(SQL_C_TYPE_TIME), OK, 0,
       Raw(SQL_TIME_STRUCT{7, 8, 9}), 6},
      {"date to time", N("2024-01-01"), Fix(SQL_C_TYPE_TIME), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"hour 24", N("24:00:00"), Fix(SQL_C_TYPE_TIME), ERR, KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"text to timestamp", N("2024-01-02 03:04:05.123456789"), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0,
       Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 3, 4, 5, 123456789}), 16},
      {"short fraction", N("2024-01-02 03:04:05.5"), Fix(SQL_C_TIMESTAMP), OK, 0,
       Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 3, 4, 5, 500000000}), 16},
      {"fraction beyond nanoseconds", N("2024-01-02 03:04:05.1234567891"), Fix(SQL_C_TYPE_TIMESTAMP), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 3, 4, 5, 123456789}), 16},
      {"zeros beyond nanoseconds", N("2024-01-02 03:04:05.1234567890"), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0,
       Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 3, 4, 5, 123456789}), 16},
      {"date to timestamp", N("{d '2024-01-02'}"), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0,
       Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 0, 0, 0, 0}), 16},
      {"time to timestamp is today's", N("07:08:09"), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0, Raw(Today(7, 8, 9, 0)), 16},
      {"escape of the other kind", N("{d '2024-01-02 03:04:05'}"), Fix(SQL_C_TYPE_TIMESTAMP), ERR,
       KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"escape without its brace", N("{ts '2024-01-02 03:04:05'"), Fix(SQL_C_TYPE_TIMESTAMP), ERR,
       KX_ERR_BAD_CAST_VALUE, {}, UNTOUCHED},
      {"zone offset", N("2024-01-02 03:04:05+02"), Fix(SQL_C_TYPE_TIMESTAMP), ERR, KX_ERR_BAD_CAST_VALUE, {},
       UNTOUCHED},

      // ---- text copies ----------------------------------------------------------
      {"10 bytes into 11", N("0123456789"), Buf(SQL_C_CHAR, 11), OK, 0, Txt("0123456789"), 10},
      {"10 bytes into 10", N("0123456789"), Buf(SQL_C_CHAR, 10), INFO, KX_ERR_DATA_TRUNCATED, Txt("012345678"),
       10},
      {"zero buffer", N("0123456789"), Buf(SQL_C_CHAR, 0), INFO, KX_ERR_DATA_TRUNCATED, {}, 10},
      {"negative buffer, CHAR", N("0123456789"), Buf(SQL_C_CHAR, -1), ERR, KX_ERR_BAD_LENGTH, {}, UNTOUCHED},
      {"negative buffer, WCHAR", N("0123456789"), Buf(SQL_C_WCHAR, -8), ERR, KX_ERR_BAD_LENGTH, {}, UNTOUCHED},
      {"negative buffer, BINARY", N("0123456789"), Buf(SQL_C_BINARY, -2), ERR, KX_ERR_BAD_LENGTH, {},
       UNTOUCHED},
      {"narrow to wide cut", N("abcde"), Buf(SQL_C_WCHAR, 8), INFO, KX_ERR_DATA_TRUNCATED, WTxt(u"abc"), 10},
      {"wide to wide cut", W(u"abcde"), Buf(SQL_C_WCHAR, 7), INFO, KX_ERR_DATA_TRUNCATED, WTxt(u"ab"), 10},
      {"wide to narrow", W(u"h\u00e9llo"), Buf(SQL_C_CHAR, 16), OK, 0, Txt("h\xC3\xA9llo"), 6},
      {"narrow UTF-8 to wide keeps pairs", N("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), Buf(SQL_C_WCHAR, 16), OK,
       0, WTxt(u"\u00e9\u20ac\U0001F600"), 8},
      {"narrow to wide never splits a pair", N("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), Buf(SQL_C_WCHAR, 8),
       INFO, KX_ERR_DATA_TRUNCATED, WTxt(u"\u00e9\u20ac"), 8},
      {"wide to narrow cut on a character", W(u"\u00e9\U0001F600"), Buf(SQL_C_CHAR, 5), INFO,
       KX_ERR_DATA_TRUNCATED, Txt("\xC3\xA9"), 6},
      {"wide to wide never splits a pair", W(u"a\U0001F600"), Buf(SQL_C_WCHAR, 6), INFO, KX_ERR_DATA_TRUNCATED,
       WTxt(u"a"), 6},
      {"invalid UTF-8 becomes U+FFFD", N("a\x80z"), Buf(SQL_C_WCHAR, 16), OK, 0, WTxt(u"a\uFFFDz"), 6},
      {"text to binary", N("abc"), Buf(SQL_C_BINARY, 2), INFO, KX_ERR_DATA_TRUNCATED, NarrowBytes("ab", false),
       3},
      {"wide text to binary", W(u"ab"), Buf(SQL_C_BINARY, 8), OK, 0, WideBytes(u"ab", false), 4},
      {"wide text to binary, odd cut", W(u"ab"), Buf(SQL_C_BINARY, 3), INFO, KX_ERR_DATA_TRUNCATED,
       {'a', 0, 'b'}, 4},

      // ---- integers -----------------------------------------------------------
      {"ULONG max to TINYINT", Int(RBT_ULONG, 4294967295), Fix(SQL_C_TINYINT), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"ULONG max to CHAR", Int(RBT_ULONG, 4294967295), Buf(SQL_C_CHAR, 20), OK, 0, Txt("4294967295"), 10},
      {"-1 to ULONG", Int(RBT_SLONG, -1), Fix(SQL_C_ULONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"-1 to UBIGINT", Int(RBT_SLONG, -1), Fix(SQL_C_UBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"short -1 to USHORT", Int(RBT_SSHORT, -1), Fix(SQL_C_USHORT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"tinyint -1 to UTINYINT", Int(RBT_STINYINT, -1), Fix(SQL_C_UTINYINT), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"70000 to SHORT", Int(RBT_SLONG, 70000), Fix(SQL_C_SHORT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"70000 to 3-byte BINARY", Int(RBT_SLONG, 70000), Buf(SQL_C_BINARY, 3), ERR, KX_ERR_NUMERIC_RANGE, {}, 4},
      {"LONG to 0-byte BINARY", Int(RBT_SLONG, 70000), Buf(SQL_C_BINARY, 0), INFO, KX_ERR_DATA_TRUNCATED, {}, 4},
      {"LONG to negative BINARY", Int(RBT_SLONG, 70000), Buf(SQL_C_BINARY, -4), ERR, KX_ERR_BAD_LENGTH, {},
       UNTOUCHED},
      {"-5 into 2 bytes", Int(RBT_SSHORT, -5), Buf(SQL_C_CHAR, 2), ERR, KX_ERR_NUMERIC_RANGE, {}, 2},
      {"-5 into 3 bytes", Int(RBT_SSHORT, -5), Buf(SQL_C_CHAR, 3), OK, 0, Txt("-5"), 2},
      {"-5 into 4 wide bytes", Int(RBT_SSHORT, -5), Buf(SQL_C_WCHAR, 4), ERR, KX_ERR_NUMERIC_RANGE, {}, 4},
      {"integer into 0", Int(RBT_SLONG, 123), Buf(SQL_C_CHAR, 0), INFO, KX_ERR_DATA_TRUNCATED, {}, 3},
      {"-5 into negative buffer", Int(RBT_SSHORT, -5), Buf(SQL_C_CHAR, -2), ERR, KX_ERR_BAD_LENGTH, {},
       UNTOUCHED},
      {"UTINYINT 200 to NUMERIC", Int(RBT_UTINYINT, 200), Fix(SQL_C_NUMERIC), OK, 0,
       Numeric(200, 3, 0, false), 19},
      {"LONG to NUMERIC, negative scale", Int(RBT_SLONG, -123), Fix(SQL_C_NUMERIC, -1, 0), OK, 0,
       Numeric(12, 10, -1, true), 19},
      {"LONG to NUMERIC, scale 20 exact", Int(RBT_SLONG, 2147483647), Fix(SQL_C_NUMERIC, 20, 38), OK, 0,
       Numeric(2147483647 * Pow10(20), 38, 20, false), 19},
      {"UBIGINT of ULONG", Int(RBT_ULONG, 4294967295), Fix(SQL_C_UBIGINT), OK, 0, Raw<uint64_t>(4294967295u), 8},

      // ---- floating -----------------------------------------------------------
      {"3.99 to LONG", DoubleElement(3.99), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(3), 4},
      {"-3.99 to LONG", DoubleElement(-3.99), Fix(SQL_C_LONG), OK, 0, Raw<int32_t>(-3), 4},
      {"2^31 to LONG", DoubleElement(2147483648.0), Fix(SQL_C_LONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"float 2^31 to LONG", FloatElement(2147483648.0f), Fix(SQL_C_LONG), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"1.5 to BIT", DoubleElement(1.5), Fix(SQL_C_BIT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"NaN to LONG", DoubleElement(nan), Fix(SQL_C_LONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"NaN to NUMERIC", DoubleElement(nan), Fix(SQL_C_NUMERIC), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"Inf to SBIGINT", DoubleElement(inf), Fix(SQL_C_SBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"-Inf to NUMERIC", DoubleElement(-inf), Fix(SQL_C_NUMERIC), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"2^63 to SBIGINT", DoubleElement(9223372036854775808.0), Fix(SQL_C_SBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"-2^63 to SBIGINT", DoubleElement(-9223372036854775808.0), Fix(SQL_C_SBIGINT), OK, 0, Raw<int64_t>(INT64_MIN),
       8},
      {"2^64 to UBIGINT", DoubleElement(18446744073709551616.0), Fix(SQL_C_UBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"2^63 to UBIGINT", DoubleElement(9223372036854775808.0), Fix(SQL_C_UBIGINT), OK, 0,
       Raw<uint64_t>(9223372036854775808ull), 8},
      {"-1 to UBIGINT", DoubleElement(-1.0), Fix(SQL_C_UBIGINT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"-0.5 to ULONG", DoubleElement(-0.5), Fix(SQL_C_ULONG), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"1e300 to FLOAT", DoubleElement(1e300), Fix(SQL_C_FLOAT), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"Inf to FLOAT", DoubleElement(inf), Fix(SQL_C_FLOAT), OK, 0, Raw<float>(std::numeric_limits<float>::infinity()),
       4},
      {"double 0.1 as text", DoubleElement(0.1), Buf(SQL_C_CHAR, 32), OK, 0, Txt("0.10000000000000001"), 19},
      {"float 0.1 as text", FloatElement(0.1f), Buf(SQL_C_CHAR, 32), OK, 0, Txt("0.1"), 3},
      {"double as wide text", DoubleElement(-2.5), Buf(SQL_C_WCHAR, 32), OK, 0, WTxt(u"-2.5"), 8},
      {"double whole digits do not fit", DoubleElement(1234.5), Buf(SQL_C_CHAR, 4), ERR, KX_ERR_NUMERIC_RANGE, {},
       6},
      {"double fraction cut", DoubleElement(-1234.125), Buf(SQL_C_CHAR, 8), INFO, KX_ERR_DATA_TRUNCATED,
       Txt("-1234.1"), 9},
      {"double cut leaves no point", DoubleElement(1234.5), Buf(SQL_C_CHAR, 6), INFO, KX_ERR_DATA_TRUNCATED,
       Txt("1234"), 6},
      {"double wide fraction cut", DoubleElement(1234.5), Buf(SQL_C_WCHAR, 12), INFO, KX_ERR_DATA_TRUNCATED,
       WTxt(u"1234"), 12},
      {"double exponent form is never cut", DoubleElement(1e300), Buf(SQL_C_CHAR, 20), ERR, KX_ERR_NUMERIC_RANGE,
       {}, 23},
      {"double large as text", DoubleElement(1e300), Buf(SQL_C_CHAR, 32), OK, 0, Txt("1.0000000000000001e+300"),
       23},
      {"1e30 scale 10", DoubleElement(1e30), Fix(SQL_C_NUMERIC, 10, 0), ERR, KX_ERR_NUMERIC_RANGE, {}, UNTOUCHED},
      {"1e30 precision 20", DoubleElement(1e30), Fix(SQL_C_NUMERIC, 0, 20), ERR, KX_ERR_NUMERIC_RANGE, {},
       UNTOUCHED},
      {"12345 precision 20", DoubleElement(12345.0), Fix(SQL_C_NUMERIC, 0, 20), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Numeric(12345, 20, 0, false), 19},
      {"2^32 to NUMERIC", DoubleElement(4294967296.0), Fix(SQL_C_NUMERIC), OK, 0,
       Numeric(4294967296ull, 15, 0, false), 19},
      {"12.345 scale 2", DoubleElement(12.345), Fix(SQL_C_NUMERIC, 2, 0), OK, 0, Numeric(1234, 15, 2, false),
       19},
      {"0.29 scale 2 is 29", DoubleElement(0.29), Fix(SQL_C_NUMERIC, 2, 0), OK, 0, Numeric(29, 15, 2, false),
       19},
      {"float 0.1 scale 9", FloatElement(0.1f), Fix(SQL_C_NUMERIC, 9, 0), OK, 0,
       Numeric(100000000, 7, 9, false), 19},
      {"-0.0 is positive", DoubleElement(-0.0), Fix(SQL_C_NUMERIC), OK, 0, Numeric(0, 15, 0, false), 19},
      {"double to 4-byte BINARY", DoubleElement(1.0), Buf(SQL_C_BINARY, 4), ERR, KX_ERR_NUMERIC_RANGE, {}, 8},

      // ---- binary -------------------------------------------------------------
      {"hex into 5", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_CHAR, 5), OK, 0, Txt("01AB"), 4},
      {"hex into 4", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_CHAR, 4), INFO, KX_ERR_DATA_TRUNCATED,
       Txt("01"), 4},
      {"hex into 0", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_CHAR, 0), INFO, KX_ERR_DATA_TRUNCATED,
       {}, 4},
      {"wide hex into 10", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_WCHAR, 10), OK, 0, WTxt(u"01AB"),
       8},
      {"wide hex into 9", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_WCHAR, 9), INFO,
       KX_ERR_DATA_TRUNCATED, WTxt(u"01"), 8},
      {"wide hex into 1", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_WCHAR, 1), INFO,
       KX_ERR_DATA_TRUNCATED, {}, 8},
      {"hex into negative", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_CHAR, -5), ERR,
       KX_ERR_BAD_LENGTH, {}, UNTOUCHED},
      {"bytes cut", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Buf(SQL_C_BINARY, 1), INFO, KX_ERR_DATA_TRUNCATED,
       {0x01}, 2},
      {"binary to LONG", BinaryElement(RBT_BINARY, {0x01, 0xAB}), Fix(SQL_C_LONG), ERR, KX_ERR_RESTRICTED_TYPE,
       {}, UNTOUCHED},

      // ---- date and time ------------------------------------------------------
      {"date into 11", DateElement(2024, 2, 29), Buf(SQL_C_CHAR, 11), OK, 0, Txt("2024-02-29"), 10},
      {"date into 10", DateElement(2024, 2, 29), Buf(SQL_C_CHAR, 10), ERR, KX_ERR_NUMERIC_RANGE, {}, 10},
      {"date into 0", DateElement(2024, 2, 29), Buf(SQL_C_CHAR, 0), INFO, KX_ERR_DATA_TRUNCATED, {}, 10},
      {"date into negative", DateElement(2024, 2, 29), Buf(SQL_C_CHAR, -11), ERR, KX_ERR_BAD_LENGTH, {},
       UNTOUCHED},
      {"wide date into 21", DateElement(2024, 2, 29), Buf(SQL_C_WCHAR, 21), ERR, KX_ERR_NUMERIC_RANGE, {}, 20},
      {"wide date into 22", DateElement(2024, 2, 29), Buf(SQL_C_WCHAR, 22), OK, 0, WTxt(u"2024-02-29"), 20},
      {"year -44", DateElement(-44, 3, 15), Buf(SQL_C_CHAR, 11), OK, 0, Txt("0044-03-15"), 10},
      {"year 12000", DateElement(12000, 1, 1), Buf(SQL_C_CHAR, 11), OK, 0, Txt("9999-01-01"), 10},
      {"time into 8", TimeElement(1, 2, 3), Buf(SQL_C_CHAR, 8), ERR, KX_ERR_NUMERIC_RANGE, {}, 8},
      {"time fields limited", TimeElement(100, 2, 3), Buf(SQL_C_CHAR, 9), OK, 0, Txt("99:02:03"), 8},
      {"fraction .500", TimestampElement(2024, 1, 2, 3, 4, 5, 500000000), Buf(SQL_C_CHAR, 32, 3), OK, 0,
       Txt("2024-01-02 03:04:05.500"), 23},
      {"fraction .050", TimestampElement(2024, 1, 2, 3, 4, 5, 50000000), Buf(SQL_C_CHAR, 32, 3), OK, 0,
       Txt("2024-01-02 03:04:05.050"), 23},
      {"fraction nine digits", TimestampElement(2024, 1, 2, 3, 4, 5, 123456789), Buf(SQL_C_CHAR, 32, 3), OK, 0,
       Txt("2024-01-02 03:04:05.123456789"), 29},
      {"no fraction digits", TimestampElement(2024, 1, 2, 3, 4, 5, 123456789), Buf(SQL_C_CHAR, 32, 0), OK, 0,
       Txt("2024-01-02 03:04:05"), 19},
      {"timestamp short of its seconds", TimestampElement(2024, 1, 2, 3, 4, 5, 0), Buf(SQL_C_CHAR, 12, 0), ERR,
       KX_ERR_NUMERIC_RANGE, {}, 19},
      {"timestamp into 19", TimestampElement(2024, 1, 2, 3, 4, 5, 0), Buf(SQL_C_CHAR, 19, 0), ERR,
       KX_ERR_NUMERIC_RANGE, {}, 19},
      {"timestamp fraction cut", TimestampElement(2024, 1, 2, 3, 4, 5, 123000000), Buf(SQL_C_CHAR, 22, 3), INFO,
       KX_ERR_DATA_TRUNCATED, Txt("2024-01-02 03:04:05.1"), 23},
      {"timestamp fraction dropped", TimestampElement(2024, 1, 2, 3, 4, 5, 123000000), Buf(SQL_C_CHAR, 21, 3),
       INFO, KX_ERR_DATA_TRUNCATED, Txt("2024-01-02 03:04:05"), 23},
      {"wide timestamp fraction dropped", TimestampElement(2024, 1, 2, 3, 4, 5, 500000000),
       Buf(SQL_C_WCHAR, 40, 1), INFO, KX_ERR_DATA_TRUNCATED, WTxt(u"2024-01-02 03:04:05"), 42},
      {"timestamp as 16 bytes", TimestampElement(2024, 1, 2, 3, 4, 5, 6), Buf(SQL_C_BINARY, 16), OK, 0,
       Raw(SQL_TIMESTAMP_STRUCT{2024, 1, 2, 3, 4, 5, 6}), 16},
      // A date keeps no time of day and a time no fraction: what is dropped
      // that was not zero says 01S07; the date a time drops is never said.
      {"midnight to TYPE_DATE", TimestampElement(2024, 1, 2, 0, 0, 0, 0), Fix(SQL_C_TYPE_DATE), OK, 0,
       Raw(SQL_DATE_STRUCT{2024, 1, 2}), 6},
      {"timestamp to TYPE_DATE", TimestampElement(2024, 1, 2, 0, 0, 5, 0), Fix(SQL_C_TYPE_DATE), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_DATE_STRUCT{2024, 1, 2}), 6},
      {"fraction only to DATE", TimestampElement(2024, 1, 2, 0, 0, 0, 1000), Fix(SQL_C_DATE), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_DATE_STRUCT{2024, 1, 2}), 6},
      {"timestamp to TYPE_TIME", TimestampElement(2024, 1, 2, 3, 4, 5, 0), Fix(SQL_C_TYPE_TIME), OK, 0,
       Raw(SQL_TIME_STRUCT{3, 4, 5}), 6},
      {"timestamp fraction to TIME", TimestampElement(2024, 1, 2, 3, 4, 5, 6), Fix(SQL_C_TIME), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_TIME_STRUCT{3, 4, 5}), 6},
      // A time as a timestamp is today's; its fraction is kept in the
      // timestamp and dropped from a time structure with 01S07. Its text has
      // the column's digits and may lose them (01004), never its seconds.
      {"time to TYPE_TIMESTAMP", TimeElement(7, 8, 9), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0, Raw(Today(7, 8, 9, 0)),
       16},
      {"time fraction to TYPE_TIMESTAMP", TimeElement(7, 8, 9, 123456000), Fix(SQL_C_TYPE_TIMESTAMP), OK, 0,
       Raw(Today(7, 8, 9, 123456000)), 16},
      {"time fraction to TYPE_TIME", TimeElement(12, 34, 56, 789000000), Fix(SQL_C_TYPE_TIME), INFO,
       KX_ERR_FRACTIONAL_TRUNCATION, Raw(SQL_TIME_STRUCT{12, 34, 56}), 6},
      {"time zero fraction to TYPE_TIME", TimeElement(12, 34, 56, 0), Fix(SQL_C_TYPE_TIME), OK, 0,
       Raw(SQL_TIME_STRUCT{12, 34, 56}), 6},
      {"time to TYPE_TIME", TimeElement(1, 2, 3), Fix(SQL_C_TYPE_TIME), OK, 0, Raw(SQL_TIME_STRUCT{1, 2, 3}), 6},
      {"time fraction into 13", TimeElement(12, 34, 56, 789000000), Buf(SQL_C_CHAR, 13, 3), OK, 0,
       Txt("12:34:56.789"), 12},
      {"time zero fraction shows the digits", TimeElement(12, 34, 56, 0), Buf(SQL_C_CHAR, 16, 3), OK, 0,
       Txt("12:34:56.000"), 12},
      {"time fraction cut", TimeElement(12, 34, 56, 789000000), Buf(SQL_C_CHAR, 11, 3), INFO,
       KX_ERR_DATA_TRUNCATED, Txt("12:34:56.7"), 12},
      {"time fraction dropped", TimeElement(12, 34, 56, 789000000), Buf(SQL_C_CHAR, 9, 3), INFO,
       KX_ERR_DATA_TRUNCATED, Txt("12:34:56"), 12},
      {"time with fraction into 8", TimeElement(12, 34, 56, 789000000), Buf(SQL_C_CHAR, 8, 3), ERR,
       KX_ERR_NUMERIC_RANGE, {}, 12},
      {"wide time microseconds", TimeElement(0, 0, 0, 1000), Buf(SQL_C_WCHAR, 40, 6), OK, 0,
       WTxt(u"00:00:00.000001"), 30},
      {"time to DATE", TimeElement(7, 8, 9), Fix(SQL_C_DATE), ERR, KX_ERR_RESTRICTED_TYPE, {}, UNTOUCHED},
  };
}

class ConversionCases : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      std::string why;
      ASSERT_FALSE(UseCommaDecimalLocale(&why).empty()) << why;
    }
  }
  void TearDown() override { UseCLocale(); }
};

TEST_P(ConversionCases, Table) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    const Outcome o = Deliver(row.element, row.request);
    EXPECT_EQ(o.rc, row.rc);
    EXPECT_EQ(o.err, row.err);
    EXPECT_EQ(o.outLen, row.outLen);
    EXPECT_TRUE(o.canariesIntact);
    ASSERT_LE(row.bytes.size(), o.target.size());
    std::vector<unsigned char> want = row.bytes;
    want.resize(o.target.size(), kFill);
    EXPECT_EQ(o.target, want);
  }
}

TEST(NumericHelpers, PowerMagnitudeAndText) {
  EXPECT_DOUBLE_EQ(DoublePower(10, 3), 1000.0);
  EXPECT_DOUBLE_EQ(DoublePower(10, -2), 0.01);
  uint8_t v[16];
  DoubleToNumericVal(4294967296.0, v);
  const uint8_t want[16] = {0, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(v, want, 16), 0);
  DoubleToNumericVal(1e40, v);  // beyond 2^128: saturated, never undefined
  for (uint8_t b : v) EXPECT_EQ(b, 0xFF);
  char text[32];
  EXPECT_EQ(DoubleToText(text, sizeof text, 1234.5, 17), 6u);
  EXPECT_STREQ(text, "1234.5");
  char point[] = "12.";
  TrimTrailingPoint(point);
  EXPECT_STREQ(point, "12");
}

INSTANTIATE_TEST_SUITE_P(Locales, ConversionCases, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CommaDecimal" : "C"; });


// An exact number's text in a text target: the sign and whole digits with
// the terminator must fit; the fraction alone may be cut.
TEST(WholeDigitsFit, OnlyTheFractionMayBeCut) {
  const std::string n = "-123.45";
  const std::vector<unsigned char> w = WideBytes(u"-123.45", false);
  struct Case {
    bool wide;
    int32_t cType;
    int64_t buffer;
    bool fits;
  } cases[] = {
      {false, SQL_C_CHAR, 4, false}, {false, SQL_C_CHAR, 5, true},   {false, SQL_C_CHAR, 8, true},
      {false, SQL_C_CHAR, 0, true},  {false, SQL_C_WCHAR, 8, false}, {false, SQL_C_WCHAR, 10, true},
      {true, SQL_C_WCHAR, 9, false}, {true, SQL_C_WCHAR, 10, true},  {true, SQL_C_CHAR, 4, false},
      {true, SQL_C_CHAR, 5, true},   {false, SQL_C_BINARY, 1, true}, {false, SQL_C_DOUBLE, 1, true},
  };
  for (const Case& c : cases) {
    const void* text = c.wide ? static_cast<const void*>(w.data()) : static_cast<const void*>(n.data());
    const uint64_t length = c.wide ? w.size() : n.size();
    EXPECT_EQ(c.fits, WholeDigitsFit(text, length, c.wide, c.cType, c.buffer))
        << (c.wide ? "wide" : "narrow") << " to " << c.cType << " in " << c.buffer;
  }
  const std::string integer = "1234567890123";
  EXPECT_FALSE(WholeDigitsFit(integer.data(), integer.size(), false, SQL_C_CHAR, 13));
  EXPECT_TRUE(WholeDigitsFit(integer.data(), integer.size(), false, SQL_C_CHAR, 14));
}

}  // namespace
}  // namespace kx::test
