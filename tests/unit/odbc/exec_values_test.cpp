// Single application values on their way into a row buffer: date, time and
// timestamp escapes, and the length of one row of a bound parameter.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

#include "odbc/exec/app_values.h"
#include "odbc/exec/param_dae.h"

namespace kx {
namespace {

TEST(ExecValuesTest, EscapesBySqlType) {
  const struct {
    const char* text;
    int16_t sqlType;
    uint32_t type;  // 0: no conversion
    SQL_TIMESTAMP_STRUCT value;
  } cases[] = {
      {"{d '2001-02-03'}", SQL_TYPE_DATE, RBT_DATE, {2001, 2, 3, 0, 0, 0, 0}},
      {"{d '2001/2/3'}", SQL_DATE, RBT_DATE, {2001, 2, 3, 0, 0, 0, 0}},
      {"{t '10:11:12'}", 0, RBT_TIME, {0, 0, 0, 10, 11, 12, 0}},
      {"{ts '2001-02-03 04:05:06.123456789123'}", SQL_TYPE_TIMESTAMP, RBT_TIMESTAMP,
       {2001, 2, 3, 4, 5, 6, 123456789}},
      // A timestamp escape for a date keeps the date; a date escape for a
      // timestamp leaves the time 0; a time escape for a timestamp the date.
      {"{ts '2001-02-03 04:05:06'}", SQL_TYPE_DATE, RBT_DATE, {2001, 2, 3, 0, 0, 0, 0}},
      {"{d '2001-02-03'}", SQL_TYPE_TIMESTAMP, RBT_TIMESTAMP, {2001, 2, 3, 0, 0, 0, 0}},
      {"{t '10:11:12'}", SQL_TIMESTAMP, RBT_TIMESTAMP, {0, 0, 0, 10, 11, 12, 0}},
      {"{d '2001-02-03'}", SQL_VARCHAR, 0, {}},
      {"{d '2001-02-03'}", SQL_INTEGER, 0, {}},
      {"{fn now()}", SQL_TYPE_DATE, 0, {}},
      {"2001-02-03", SQL_TYPE_DATE, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SQL_TIMESTAMP_STRUCT v{};
    EXPECT_EQ(ParseDateTimeEscape(c.text, std::strlen(c.text), c.sqlType, &v), c.type);
    if (c.type == 0) continue;
    EXPECT_EQ(std::memcmp(&v, &c.value, sizeof v), 0);
  }
}

TEST(ExecValuesTest, EscapeIntoAnElement) {
  RowBufferColumn col{RBT_CHAR, 20, nullptr, nullptr};
  unsigned char element[20] = {};
  const char* text = "{d '2001-02-03'}";
  EscapeToDateTime(element, sizeof element, text, 16, &col, SQL_TYPE_DATE);
  EXPECT_EQ(col.type, RBT_DATE);
  EXPECT_EQ(col.width, 6u);
  SQL_DATE_STRUCT d;
  std::memcpy(&d, element, sizeof d);
  EXPECT_EQ(d.year, 2001);
  EXPECT_EQ(d.day, 3);
  // No room for the structure: the text, cut to the element.
  RowBufferColumn small{RBT_CHAR, 4, nullptr, nullptr};
  unsigned char four[4] = {};
  EscapeToDateTime(four, sizeof four, text, 16, &small, SQL_TYPE_DATE);
  EXPECT_EQ(small.type, RBT_CHAR);
  EXPECT_EQ(std::memcmp(four, "{d '", 4), 0);
  const char16_t wide[] = u"{t '01:02:03'}";
  unsigned char welement[16] = {};
  WEscapeToDateTime(welement, sizeof welement, wide, 28, nullptr, 0);
  SQL_TIME_STRUCT t;
  std::memcpy(&t, welement, sizeof t);
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.second, 3);
}

TEST(ExecValuesTest, RowLengths) {
  StmtRecord stmt{};
  char text[3][8] = {"abc", "", "abcdef"};
  SQLLEN lengths[3] = {SQL_NTS, SQL_NULL_DATA, SQL_DATA_AT_EXEC};
  void* collected[3] = {nullptr, nullptr, nullptr};
  int64_t collectedLengths[3] = {0, 0, 0};
  ParamBinding b{};
  b.number = 1;
  b.cType = SQL_C_CHAR;
  b.elementSize = SQL_NTS;
  b.value = text;
  b.octetLength = lengths;
  b.indicator = lengths;
  b.bufferLength = 8;
  b.daeCount = 3;
  b.daeValues = collected;
  b.daeLengths = collectedLengths;
  const int64_t piece = 11;
  ASSERT_EQ(ParamAppendDAE(&b, "hello world", &piece, 2), 0);
  const int64_t stride = ExecParamElemSize(&b);
  EXPECT_EQ(stride, 8);
  EXPECT_EQ(ExecParamValueLen(&stmt, &b, 0, stride), 3);
  EXPECT_EQ(ExecParamValueLen(&stmt, &b, 1, stride), 0);
  EXPECT_EQ(ExecParamValueLen(&stmt, &b, 2, stride), 11);
  EXPECT_EQ(ExecAgentValueLen(&stmt, &b, 2, stride), 0);
  EXPECT_EQ(ExecParamMaxLen(&stmt, &b, 3, stride), 11);
  EXPECT_EQ(ExecAgentMaxLen(&stmt, &b, 3, stride), 3);
  std::free(collected[2]);
}

}  // namespace
}  // namespace kx
