// How the agent describes a column from what JDBC reports, and how it reads
// numbers, dates and times given as parameter text.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_params.h"
#include "drv_jdbc/j_records.h"

namespace kxtest {
namespace {

using namespace kx;

struct TypeCase {
  const char* what;
  bool wide;
  int32_t T, D, S, P;
  const char* name;  // the type's name, where the describe asks for it
  int32_t sqlType, columnSize, displaySize;
  uint32_t storage;
  int32_t elementLength;
};

TEST(AgentDescribe, TypesMapToStorageWithRealWidths) {
  const TypeCase cases[] = {
      {"varchar(255)", false, 12, 255, 0, 255, nullptr, 12, 255, 255, RBT_CHAR_NTS, 1020},
      {"varchar, wide client", true, 12, 10, 0, 10, nullptr, -9, 10, 10, RBT_WCHAR_NTS, 20},
      // Text without a width, or wider than a fixed element, is long text.
      {"char without sizes", false, 1, 0, 0, 0, nullptr, -1, INT_MAX, INT_MAX, RBT_CHAR_PTR, 0},
      {"text of 2^31-1", false, 12, INT_MAX, 0, INT_MAX, "text", -1, INT_MAX, INT_MAX, RBT_CHAR_PTR, 0},
      {"text, wide client", true, 12, INT_MAX, 0, INT_MAX, "text", -10, INT_MAX, INT_MAX, RBT_WCHAR_PTR, 0},
      {"char(60000)", false, 1, 60000, 0, 60000, nullptr, 1, 60000, 60000, RBT_CHAR_NTS, 240000},
      {"char(60001)", false, 1, 60001, 0, 60001, nullptr, -1, 60001, 60001, RBT_CHAR_PTR, 0},
      {"PostgreSQL name, no width given", false, 12, INT_MAX, 0, INT_MAX, "name", 12, 63, 63, RBT_CHAR_NTS, 252},
      {"numeric(10,2)", false, 2, 12, 2, 10, nullptr, 2, 10, 12, RBT_CHAR_NTS, 24},
      {"decimal(1), text like 1E+309", false, 3, 3, 0, 1, nullptr, 3, 1, 3, RBT_CHAR_NTS, 15},
      {"numeric without precision", false, 2, 131089, 0, 0, nullptr, 2, 131087, 131089, RBT_CHAR_PTR, 0},
      {"bigint", false, -5, 20, 0, 19, nullptr, -5, 19, 20, RBT_CHAR_NTS, 21},
      {"bigint of 64 bits (H2)", false, -5, 20, 0, 64, nullptr, -5, 19, 20, RBT_CHAR_NTS, 66},
      {"integer of 32 bits (H2)", false, 4, 11, 0, 32, nullptr, 4, 10, 11, RBT_SLONG, 4},
      {"double of 17 digits (PostgreSQL)", false, 8, 25, 17, 17, nullptr, 8, 15, 22, RBT_DOUBLE, 8},
      {"binary(16)", false, -2, 32, 0, 16, nullptr, -2, 16, 32, RBT_BINARY_LEN4, 16},
      {"binary(16) shown as 36 characters", false, -2, 36, 0, 16, nullptr, -2, 16, 32, RBT_BINARY_LEN4, 16},
      {"binary without precision", false, -2, 32, 0, 0, nullptr, -2, 16, 32, RBT_BINARY_LEN4, 16},
      {"bytea", false, -2, INT_MAX, 0, INT_MAX, "bytea", -4, INT_MAX, INT_MAX, RBT_BINARY_PTR, 0},
      {"varbinary(8)", false, -3, 16, 0, 8, nullptr, -3, 8, 16, RBT_BINARY_LEN4, 8},
      {"boolean", false, 16, 1, 0, 1, nullptr, -7, 1, 3, RBT_BIT, 1},
      {"bit (one bit)", false, -7, 1, 0, 1, nullptr, -7, 1, 3, RBT_BIT, 1},
      {"bit(5), a string of bits", false, -7, 5, 0, 5, nullptr, 12, 5, 5, RBT_CHAR_NTS, 20},
      // A time with fractional seconds keeps them after the time structure.
      {"time with time zone", false, 2013, 21, 6, 21, nullptr, 10, 15, 15, RBT_TIME, 10},
      {"time(3)", false, 92, 12, 3, 12, nullptr, 10, 12, 12, RBT_TIME, 10},
      {"time(0)", false, 92, 8, 0, 8, nullptr, 10, 8, 8, RBT_TIME, 6},
      {"timestamp with time zone", false, 2014, 35, 6, 35, nullptr, 11, 26, 26, RBT_TIMESTAMP, 16},
      {"timestamp(3)", false, 93, 23, 3, 23, nullptr, 11, 23, 23, RBT_TIMESTAMP, 16},
      {"date", false, 91, 10, 0, 10, nullptr, 9, 10, 10, RBT_DATE, 6},
      // UUIDs are GUIDs carried as their text, whatever JDBC calls them.
      {"uuid (PostgreSQL: other)", false, 1111, INT_MAX, 0, INT_MAX, "uuid", -11, 36, 36, RBT_CHAR_NTS, 36},
      {"UUID (H2: binary)", true, -2, 36, 0, 16, "UUID", -11, 36, 36, RBT_CHAR_NTS, 36},
      {"other of 36 characters", false, 1111, 36, 0, 0, nullptr, 12, 36, 36, RBT_CHAR_NTS, 144},
      {"json (other), no width", false, 1111, INT_MAX, 0, INT_MAX, "json", -1, INT_MAX, INT_MAX, RBT_CHAR_PTR, 0},
      {"integer array (the precision of one element)", false, 2003, 11, 0, 10, nullptr, -1, INT_MAX, INT_MAX,
       RBT_CHAR_PTR, 0},
      {"structure, wide client", true, 2002, 20, 0, 20, nullptr, -10, INT_MAX, INT_MAX, RBT_WCHAR_PTR, 0},
      {"rowid", true, -8, 18, 0, 0, nullptr, -9, 18, 18, RBT_WCHAR_NTS, 36},
      {"clob, wide client", true, 2005, INT_MAX, 0, INT_MAX, nullptr, -10, 1073741821, 1073741821, RBT_WCHAR_PTR, 0},
      {"blob", false, 2004, INT_MAX, 0, INT_MAX, nullptr, -4, 2147483643, 2147483643, RBT_BINARY_PTR, 0},
      {"smallint", false, 5, 6, 0, 5, nullptr, 5, 5, 6, RBT_SSHORT, 2},
      {"real", false, 7, 13, 0, 7, nullptr, 7, 7, 13, RBT_FLOAT, 4},
  };
  JConn conn{};
  for (const TypeCase& c : cases) {
    AgentColDesc d{};
    JDB_DescribeType(&conn, c.wide ? 1 : 0, c.T, c.D, c.S, c.P, c.name, &d);
    EXPECT_EQ(c.sqlType, d.sqlType) << c.what;
    EXPECT_EQ(c.columnSize, d.columnSize) << c.what;
    EXPECT_EQ(c.displaySize, d.displaySize) << c.what;
    EXPECT_EQ(static_cast<int32_t>(c.storage), d.storageType) << c.what;
    EXPECT_EQ(c.elementLength, d.elementLength) << c.what;
    if (c.sqlType == 7 || c.sqlType == 8 || c.sqlType == 4 || c.sqlType == -5) {
      EXPECT_EQ(0, d.decimalDigits) << c.what;
    }
    // No column arrives as a zero-width element.
    EXPECT_TRUE(RB_IsPtrType(static_cast<uint32_t>(d.storageType)) ||
                RB_ElementSize(static_cast<uint32_t>(d.storageType),
                               static_cast<uint32_t>(d.elementLength)) > 0)
        << c.what;
  }
}

TEST(AgentDescribe, LongTextKeepsItsJdbcTypeForBlockReads) {
  // Described as long, read as what JDBC says it is: a block of rows at a
  // time, where a real LONGVARCHAR is read one row a block.
  JConn conn{};
  AgentColDesc d{};
  EXPECT_EQ(12, JDB_DescribeType(&conn, 0, 12, INT_MAX, 0, INT_MAX, "text", &d));
  EXPECT_EQ(-1, d.sqlType);
  EXPECT_EQ(-2, JDB_DescribeType(&conn, 0, -2, INT_MAX, 0, INT_MAX, "bytea", &d));
  EXPECT_EQ(-4, d.sqlType);
  EXPECT_EQ(-1, JDB_DescribeType(&conn, 0, 2005, INT_MAX, 0, INT_MAX, nullptr, &d));
}

TEST(AgentDescribe, ConnectionOptionsChangeTheDescription) {
  JConn conn{};
  AgentColDesc d{};
  conn.opts.pnsosc = 80;  // a text column without any size gets this width
  JDB_DescribeType(&conn, 0, 12, 0, 0, 0, nullptr, &d);
  EXPECT_EQ(80, d.columnSize);
  EXPECT_EQ(RBT_CHAR_NTS, static_cast<uint32_t>(d.storageType));
  conn.opts.jet = 1;
  EXPECT_EQ(-5, JDB_DescribeType(&conn, 0, -5, 20, 0, 19, nullptr, &d));
  EXPECT_EQ(2, d.sqlType);  // BIGINT reported as NUMERIC, its JDBC type kept
  conn.opts.negPrecFix = 1;
  JDB_DescribeType(&conn, 0, 3, 20, 2, -1, nullptr, &d);
  EXPECT_EQ(18, d.columnSize);
  EXPECT_EQ(20, d.displaySize);
}

TEST(AgentParams, DateTimeTextIsReadStrictly) {
  struct Case {
    const char* text;
    bool ok;
    int parts;
    int year, month, day, hour, minute, second;
    uint32_t fraction;
  } cases[] = {
      {"2024-02-29", true, JDB_DT_DATE, 2024, 2, 29, 0, 0, 0, 0},
      {"29.02.2024", true, JDB_DT_DATE, 2024, 2, 29, 0, 0, 0, 0},
      {" 2024-02-29 10:30:00.5 ", true, JDB_DT_DATE | JDB_DT_TIME, 2024, 2, 29, 10, 30, 0, 500000000},
      {"2024-02-29 10:30:00.123456789", true, 3, 2024, 2, 29, 10, 30, 0, 123456789},
      {"2024-02-29T23:59:59", true, 3, 2024, 2, 29, 23, 59, 59, 0},
      {"10:30:00", true, JDB_DT_TIME, 0, 0, 0, 10, 30, 0, 0},
      {"10:30", true, JDB_DT_TIME, 0, 0, 0, 10, 30, 0, 0},
      {"2023-02-29", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"2024-04-31", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"2024-02-29 24:00:00", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"2024-02-29 10:30:00.1234567890", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"2024-02-29x", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"10:61:00", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"tomorrow", false, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    JDateTime dt{};
    int parts = 0;
    bool ok = JDB_ParseDateTimeText(c.text, std::strlen(c.text), &dt, &parts);
    EXPECT_EQ(c.ok, ok) << c.text;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(c.parts, parts) << c.text;
    EXPECT_EQ(c.year, dt.year) << c.text;
    EXPECT_EQ(c.month, dt.month) << c.text;
    EXPECT_EQ(c.day, dt.day) << c.text;
    EXPECT_EQ(c.hour, dt.hour) << c.text;
    EXPECT_EQ(c.minute, dt.minute) << c.text;
    EXPECT_EQ(c.second, dt.second) << c.text;
    EXPECT_EQ(c.fraction, dt.fraction) << c.text;
  }
}

TEST(AgentParams, NumberTextIsReadStrictly) {
  struct Case {
    const char* text;
    int status;
    int64_t value;
  } ints[] = {
      {"42", 0, 42}, {" -7 ", 0, -7}, {"+3", 0, 3}, {"12.00", 0, 12},
      {"9223372036854775807", 0, INT64_MAX}, {"9223372036854775808", 58, 0},
      {"12x", 121, 0}, {"", 121, 0}, {"1e3", 121, 0}, {"- 1", 121, 0}, {".", 121, 0},
      {"12.7", 57, 0}, {"-0.01", 57, 0}, {"99999999999999999999.5", 58, 0},
  };
  for (const Case& c : ints) {
    int64_t v = 0;
    EXPECT_EQ(c.status, JDB_TextToInt64(c.text, std::strlen(c.text), &v)) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(c.value, v) << c.text;
    }
  }
  double d = 0;
  EXPECT_EQ(0, JDB_TextToDouble(" 1.5e3 ", 7, &d));
  EXPECT_DOUBLE_EQ(1500.0, d);
  EXPECT_EQ(58, JDB_TextToDouble("1e999", 5, &d));
  EXPECT_EQ(121, JDB_TextToDouble("nan", 3, &d));
  EXPECT_EQ(121, JDB_TextToDouble("0x10", 4, &d));
  EXPECT_EQ(121, JDB_TextToDouble("1.5abc", 6, &d));
}

TEST(AgentParams, BitTextIsZeroOrOne) {
  struct Case {
    const char* text;
    int status;
    bool value;
  } cases[] = {
      {"1", 0, true},      {" 0 ", 0, false}, {"1.0", 0, true}, {"yes", 121, false}, {"T", 121, false},
      {"2", 58, false},    {"-1", 58, false}, {"0.5", 57, false}, {"", 121, false},
  };
  for (const Case& c : cases) {
    bool b = !c.value;
    EXPECT_EQ(c.status, JDB_TextToBit(c.text, std::strlen(c.text), &b)) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(c.value, b) << c.text;
    }
  }
}

TEST(AgentParams, DateTimeFieldsAreCheckedNotRolledOver) {
  struct Case {
    JDateTime v;
    int parts;
    int status;
  } cases[] = {
      {{2024, 2, 29, 0, 0, 0, 0}, JDB_DT_DATE, 0},
      {{2023, 2, 29, 0, 0, 0, 0}, JDB_DT_DATE, 119},
      {{2024, 13, 1, 0, 0, 0, 0}, JDB_DT_DATE, 119},
      {{2024, 0, 0, 0, 0, 0, 0}, JDB_DT_DATE, 119},
      {{0, 1, 1, 0, 0, 0, 0}, JDB_DT_DATE, 119},
      {{0, 0, 0, 25, 61, 61, 0}, JDB_DT_TIME, 119},
      {{0, 0, 0, 23, 59, 59, 0}, JDB_DT_TIME, 0},
      {{2024, 1, 1, 0, 0, 0, 999999999}, JDB_DT_DATE | JDB_DT_TIME, 0},
      {{2024, 1, 1, 0, 0, 0, 1000000000}, JDB_DT_DATE | JDB_DT_TIME, 60},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, JDB_CheckDateTime(c.v, c.parts))
        << c.v.year << "-" << c.v.month << "-" << c.v.day << " " << c.v.hour << ":" << c.v.minute;
  }
  EXPECT_EQ(999999000u, JDB_CutFraction(999999999u, 6));
  EXPECT_EQ(0u, JDB_CutFraction(999999999u, 0));
  EXPECT_EQ(987000000u, JDB_CutFraction(987654321u, 3));
  EXPECT_EQ(987654321u, JDB_CutFraction(987654321u, 9));
}

TEST(AgentFetch, CatalogRowsGetOdbcTypeCodes) {
  // Columns as a columns result delivers them: DATA_TYPE (16-bit), TYPE_NAME
  // (wide text), COLUMN_SIZE (32-bit).
  RowBuffer rb{};
  ASSERT_EQ(0, RB_InitColumns(&rb, 3));
  rb.columns[0] = RowBufferColumn{RBT_SSHORT, 2, nullptr, nullptr};
  rb.columns[1] = RowBufferColumn{RBT_WCHAR_NTS, RB_ElementSize(RBT_WCHAR_NTS, 20), nullptr, nullptr};
  rb.columns[2] = RowBufferColumn{RBT_SLONG, 4, nullptr, nullptr};
  rb.colCount = 3;
  const int16_t types[] = {93, 16, 2005, 1111, -5, -5, 4};
  const int32_t jet[] = {0, 0, 0, 0, 0, 1, 1};
  // A type ODBC has no code for (OTHER) reads as its result columns are
  // described: text, long when no size says otherwise.
  const int16_t want[] = {11, -7, -1, -1, -5, 2, 4};
  ASSERT_EQ(0, RB_AllocRows(&rb, 7));
  rb.rowCount = 7;
  for (int r = 0; r < 7; ++r) {
    std::memcpy(RB_Element(&rb.columns[0], r), &types[r], 2);
    rb.columns[0].indicators[r] = 0;
    JDB_FixCatalogType(jet[r], &rb, CatalogTypeCols{1, 2, 3, 0, 0, 0, 0}, r);
    int16_t got;
    std::memcpy(&got, RB_Element(&rb.columns[0], r), 2);
    EXPECT_EQ(want[r], got) << r;
  }
  // BIGINT under JET also reads NUMERIC(20).
  EXPECT_EQ(0, rb.columns[1].indicators[5]);
  EXPECT_EQ(u'N', reinterpret_cast<const char16_t*>(RB_Element(&rb.columns[1], 5))[0]);
  int32_t size = 0;
  std::memcpy(&size, RB_Element(&rb.columns[2], 5), 4);
  EXPECT_EQ(20, size);
  EXPECT_EQ(9, JDB_SqlDataTypeOf(93));
  EXPECT_EQ(3, JDB_DatetimeSubOf(93));
  EXPECT_EQ(-1, JDB_DatetimeSubOf(4));
  EXPECT_EQ(40, JDB_CharOctetLength(12, 40));
  EXPECT_EQ(-1, JDB_CharOctetLength(4, 4));
  RB_Free(&rb);
}

TEST(AgentParams, OdbcTypesBecomeJdbcTypes) {
  EXPECT_EQ(91, JDB_JdbcTypeOf(9));
  EXPECT_EQ(92, JDB_JdbcTypeOf(10));
  EXPECT_EQ(93, JDB_JdbcTypeOf(11));
  // Wide text as the plain character types (PostgreSQL refuses the national ones).
  EXPECT_EQ(1, JDB_JdbcTypeOf(-8));
  EXPECT_EQ(12, JDB_JdbcTypeOf(-9));
  EXPECT_EQ(-1, JDB_JdbcTypeOf(-10));
  EXPECT_EQ(4, JDB_JdbcTypeOf(4));
  EXPECT_EQ(12, JDB_JdbcTypeOf(12));
  EXPECT_EQ(12, JDB_JdbcTypeOf(-11));  // GUIDs travel as text
}

}  // namespace
}  // namespace kxtest
