#include "util/interval_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/errcodes.h"

namespace kx {
namespace {

struct Parts {
  int64_t months, days, seconds;
  int32_t nanos;
};

IntervalRead Read(const std::string& text, int hintCode, IntervalParts* out) {
  return ReadIntervalText(text.data(), text.size(), IntervalQualifierOf(hintCode), out);
}

// Every form a database or an application writes an interval in reads as
// its months, days, seconds and nanoseconds.
TEST(IntervalText, ReadsEveryForm) {
  const struct {
    const char* text;
    int hint;
    Parts want;
  } kCases[] = {
      // SQL interval literals (H2's text), also in escape braces.
      {"INTERVAL '-1 02:03:04.5' DAY TO SECOND", 0, {0, -1, -7384, -500000000}},
      {"INTERVAL '1-2' YEAR TO MONTH", 0, {14, 0, 0, 0}},
      {"interval -'5' hour", 0, {0, 0, -18000, 0}},
      {"{INTERVAL '7.25' SECOND(2,2)}", 0, {0, 0, 7, 250000000}},
      {"INTERVAL '12:34.567' MINUTE TO SECOND", 0, {0, 0, 754, 567000000}},
      {"INTERVAL '100' DAY(3)", 0, {0, 100, 0, 0}},
      // PostgreSQL, style postgres.
      {"1 year 2 mons 3 days 04:05:06.789", 0, {14, 3, 14706, 789000000}},
      {"-1 years -2 mons +3 days -04:05:06.5", 0, {-14, 3, -14706, -500000000}},
      {"-1 days +02:03:04", 0, {0, -1, 7384, 0}},
      {"-00:12:34.567", 0, {0, 0, -754, -567000000}},
      {"00:00:00", 0, {0, 0, 0, 0}},
      // postgres_verbose.
      {"@ 1 year 2 mons 3 days 4 hours 5 mins 6.789 secs", 0, {14, 3, 14706, 789000000}},
      {"@ 12 mins 34.567 secs ago", 0, {0, 0, -754, -567000000}},
      // sql_standard: a leading sign covers the fields without one.
      {"+1-2 +3 +4:05:06.789", 0, {14, 3, 14706, 789000000}},
      {"-1 2:03:04.25", 0, {0, -1, -7384, -250000000}},
      {"-1 +2:03:04", 0, {0, -1, 7384, 0}},
      {"3 4:05:06.5", 0, {0, 3, 14706, 500000000}},
      // iso_8601.
      {"P1Y2M3DT4H5M6.789S", 0, {14, 3, 14706, 789000000}},
      {"PT-12M-34.567S", 0, {0, 0, -754, -567000000}},
      {"P2W", 0, {0, 14, 0, 0}},
      {"PT0S", 0, {0, 0, 0, 0}},
      // A bare value read by the wanted type's fields.
      {"1 02:03:04.5", SQL_IS_DAY_TO_SECOND, {0, 1, 7384, 500000000}},
      {"-5", SQL_IS_HOUR, {0, 0, -18000, 0}},
      {"  3-4 ", SQL_IS_YEAR_TO_MONTH, {40, 0, 0, 0}},
      {"12:34", SQL_IS_MINUTE_TO_SECOND, {0, 0, 754, 0}},
      {"12:34", SQL_IS_HOUR_TO_MINUTE, {0, 0, 45240, 0}},
      {"7.123456789123", SQL_IS_SECOND, {0, 0, 7, 123456789}},
      // PostgreSQL's own text for a hinted type still reads as written.
      {"05:00:00", SQL_IS_HOUR, {0, 0, 18000, 0}},
      {"3 days", SQL_IS_DAY_TO_SECOND, {0, 3, 0, 0}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    IntervalParts p;
    ASSERT_EQ(Read(c.text, c.hint, &p), IntervalRead::Ok);
    EXPECT_EQ(p.months, c.want.months);
    EXPECT_EQ(p.days, c.want.days);
    EXPECT_EQ(p.seconds, c.want.seconds);
    EXPECT_EQ(p.nanos, c.want.nanos);
  }
}

TEST(IntervalText, RefusesWhatIsNoInterval) {
  const struct {
    const char* text;
    int hint;
    IntervalRead want;
  } kCases[] = {
      {"", 0, IntervalRead::Invalid},
      {"abc", 0, IntervalRead::Invalid},
      {"5", 0, IntervalRead::Invalid},                     // a bare number needs a single field
      {"5", SQL_IS_DAY_TO_SECOND, IntervalRead::Invalid},
      {"1 02:60:00", SQL_IS_DAY_TO_SECOND, IntervalRead::Invalid},
      {"1-12", SQL_IS_YEAR_TO_MONTH, IntervalRead::Invalid},
      {"INTERVAL '1' FORTNIGHT", 0, IntervalRead::Invalid},
      {"INTERVAL '1 02' DAY TO HOUR extra", 0, IntervalRead::Invalid},
      {"INTERVAL '1 02' DAY", 0, IntervalRead::Invalid},
      {"1.5 days", 0, IntervalRead::Invalid},
      {"P1.5D", 0, IntervalRead::Invalid},
      {"3 parsecs", 0, IntervalRead::Invalid},
      {"99999999999999999999 days", 0, IntervalRead::Overflow},
      {"9223372036854775807 years", 0, IntervalRead::Overflow},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    IntervalParts p;
    EXPECT_EQ(Read(c.text, c.hint, &p), c.want);
  }
}

SQL_INTERVAL_STRUCT DayTime(int code, bool negative, SQLUINTEGER d, SQLUINTEGER h, SQLUINTEGER m,
                            SQLUINTEGER s, SQLUINTEGER f) {
  SQL_INTERVAL_STRUCT st{};
  st.interval_type = static_cast<SQLINTERVAL>(code);
  st.interval_sign = negative ? SQL_TRUE : SQL_FALSE;
  st.intval.day_second = {d, h, m, s, f};
  return st;
}

// A value into each interval structure: trailing fields and fraction digits
// dropped are reported, a leading field beyond 32 bits and months for a
// day-time type are overflows.
TEST(IntervalText, StructuresOfValues) {
  const IntervalParts dayTime{0, 3, 14706, 500000000};  // 3 days 04:05:06.5
  SQL_INTERVAL_STRUCT s;
  bool truncated = true;
  ASSERT_EQ(IntervalPartsToStruct(dayTime, SQL_IS_DAY_TO_SECOND, 6, &s, &truncated), 0);
  EXPECT_FALSE(truncated);
  EXPECT_EQ(s.interval_type, SQL_IS_DAY_TO_SECOND);
  EXPECT_EQ(s.interval_sign, SQL_FALSE);
  EXPECT_EQ(s.intval.day_second.day, 3u);
  EXPECT_EQ(s.intval.day_second.hour, 4u);
  EXPECT_EQ(s.intval.day_second.minute, 5u);
  EXPECT_EQ(s.intval.day_second.second, 6u);
  EXPECT_EQ(s.intval.day_second.fraction, 500000u);
  // No fraction digits: the half second is dropped.
  ASSERT_EQ(IntervalPartsToStruct(dayTime, SQL_IS_HOUR_TO_SECOND, 0, &s, &truncated), 0);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(s.intval.day_second.hour, 76u);
  EXPECT_EQ(s.intval.day_second.fraction, 0u);
  ASSERT_EQ(IntervalPartsToStruct(dayTime, SQL_IS_DAY, 6, &s, &truncated), 0);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(s.intval.day_second.day, 3u);
  // Mixed signs add up: -1 days +02:00:00 is 22 hours back.
  ASSERT_EQ(IntervalPartsToStruct({0, -1, 7200, 0}, SQL_IS_HOUR, 6, &s, &truncated), 0);
  EXPECT_FALSE(truncated);
  EXPECT_EQ(s.interval_sign, SQL_TRUE);
  EXPECT_EQ(s.intval.day_second.hour, 22u);
  // Year-month: the months' sign, the day-time part dropped.
  ASSERT_EQ(IntervalPartsToStruct({-14, 3, 0, 0}, SQL_IS_YEAR_TO_MONTH, 6, &s, &truncated), 0);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(s.interval_sign, SQL_TRUE);
  EXPECT_EQ(s.intval.year_month.year, 1u);
  EXPECT_EQ(s.intval.year_month.month, 2u);
  ASSERT_EQ(IntervalPartsToStruct({-14, 0, 0, 0}, SQL_IS_MONTH, 6, &s, &truncated), 0);
  EXPECT_EQ(s.intval.year_month.month, 14u);
  EXPECT_EQ(IntervalPartsToStruct({14, 0, 0, 0}, SQL_IS_DAY, 6, &s, &truncated), KX_ERR_INTERVAL_OVERFLOW);
  EXPECT_EQ(IntervalPartsToStruct({0, 100000, 0, 0}, SQL_IS_SECOND, 6, &s, &truncated),
            KX_ERR_INTERVAL_OVERFLOW);
}

// Structures back to text: the SQL literal, a single field's number, and
// PostgreSQL's input with every unit's sign; invalid structures give none.
TEST(IntervalText, TextsOfStructures) {
  char out[INTERVAL_TEXT_MAX];
  auto literal = [&](const SQL_INTERVAL_STRUCT& s, int precision) {
    const size_t n = IntervalStructToLiteral(s, precision, out, sizeof out);
    return std::string(out, n);
  };
  EXPECT_EQ(literal(DayTime(SQL_IS_DAY_TO_SECOND, true, 1, 2, 3, 4, 500000), 6),
            "INTERVAL '-1 02:03:04.5' DAY TO SECOND");
  EXPECT_EQ(literal(DayTime(SQL_IS_MINUTE_TO_SECOND, false, 0, 0, 12, 34, 567), 3),
            "INTERVAL '12:34.567' MINUTE TO SECOND");
  EXPECT_EQ(literal(DayTime(SQL_IS_HOUR, false, 0, 100, 0, 0, 0), 6), "INTERVAL '100' HOUR");
  SQL_INTERVAL_STRUCT ym{};
  ym.interval_type = SQL_IS_YEAR_TO_MONTH;
  ym.intval.year_month = {3, 11};
  EXPECT_EQ(literal(ym, 6), "INTERVAL '3-11' YEAR TO MONTH");
  ym.intval.year_month.month = 12;
  EXPECT_EQ(literal(ym, 6), "");
  EXPECT_EQ(literal(DayTime(SQL_IS_DAY_TO_HOUR, false, 1, 24, 0, 0, 0), 6), "");
  EXPECT_EQ(literal(DayTime(SQL_IS_SECOND, false, 0, 0, 0, 1, 1000000), 6), "");  // fraction past 6 digits
  EXPECT_EQ(literal(DayTime(99, false, 0, 0, 0, 1, 0), 6), "");

  size_t n = IntervalStructToNumber(DayTime(SQL_IS_SECOND, true, 0, 0, 0, 7, 250000), 6, out, sizeof out);
  EXPECT_EQ(std::string(out, n), "-7.25");
  EXPECT_EQ(IntervalStructToNumber(DayTime(SQL_IS_DAY_TO_HOUR, false, 1, 2, 0, 0, 0), 6, out, sizeof out), 0u);

  IntervalParts p{-14, 3, -14706, -500000000};
  n = IntervalPartsToUnitText(p, out, sizeof out);
  EXPECT_EQ(std::string(out, n), "-1 years -2 months +3 days -4 hours -5 minutes -6.5 seconds");
  n = IntervalPartsToUnitText(IntervalParts{}, out, sizeof out);
  EXPECT_EQ(std::string(out, n), "+0 seconds");
  // And the unit text reads back as the same value.
  IntervalParts back;
  n = IntervalPartsToUnitText(p, out, sizeof out);
  ASSERT_EQ(ReadIntervalText(out, n, {}, &back), IntervalRead::Ok);
  EXPECT_EQ(back.months, p.months);
  EXPECT_EQ(back.days, p.days);
  EXPECT_EQ(back.seconds, p.seconds);
  EXPECT_EQ(back.nanos, p.nanos);
}

TEST(IntervalText, TypeNamesWithFields) {
  EXPECT_EQ(IntervalCodeOfTypeName("INTERVAL DAY TO SECOND"), SQL_IS_DAY_TO_SECOND);
  EXPECT_EQ(IntervalCodeOfTypeName("interval year(3) to month"), SQL_IS_YEAR_TO_MONTH);
  EXPECT_EQ(IntervalCodeOfTypeName("INTERVAL SECOND(2, 6)"), SQL_IS_SECOND);
  EXPECT_EQ(IntervalCodeOfTypeName("interval"), 0);
  EXPECT_EQ(IntervalCodeOfTypeName("INTERVAL SECOND TO DAY"), 0);
  EXPECT_EQ(IntervalCodeOfTypeName("INTERVALS DAY"), 0);
  EXPECT_EQ(IntervalCodeOfTypeName(nullptr), 0);
}

}  // namespace
}  // namespace kx
