// Interval values through the driver, on both databases.
//
// - H2 names an interval column's fields in its type: the column is described
//   as that ODBC interval type. PostgreSQL's driver calls every interval
//   "interval", and one value may hold months and seconds at once, which no
//   ODBC interval type holds: the column is character data, as the native
//   PostgreSQL driver describes it too. Either way every interval C type
//   reads the value, with ODBC's states: 01S07 when trailing fields or
//   fraction digits are dropped, 22015 when the leading field does not fit,
//   07006 only where ODBC forbids the conversion (an interval column to the
//   other interval class, to approximate numbers, or a multi-field day-time
//   interval to a number).
// - Interval structures and interval text go into interval columns (and
//   character columns, as their literal) and come back as the same value.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using IntervalValues = RoadTest;

SQL_INTERVAL_STRUCT DayTime(SQLINTERVAL type, bool negative, SQLUINTEGER day, SQLUINTEGER hour,
                            SQLUINTEGER minute, SQLUINTEGER second, SQLUINTEGER fraction) {
  SQL_INTERVAL_STRUCT s{};
  s.interval_type = type;
  s.interval_sign = negative ? SQL_TRUE : SQL_FALSE;
  s.intval.day_second = {day, hour, minute, second, fraction};
  return s;
}

SQL_INTERVAL_STRUCT YearMonth(SQLINTERVAL type, bool negative, SQLUINTEGER year, SQLUINTEGER month) {
  SQL_INTERVAL_STRUCT s{};
  s.interval_type = type;
  s.interval_sign = negative ? SQL_TRUE : SQL_FALSE;
  s.intval.year_month = {year, month};
  return s;
}

std::string Show(const SQL_INTERVAL_STRUCT& s) {
  const auto& d = s.intval.day_second;
  const auto& y = s.intval.year_month;
  return "type " + std::to_string(s.interval_type) + " sign " + std::to_string(s.interval_sign) + " ym " +
         std::to_string(y.year) + "-" + std::to_string(y.month) + " ds " + std::to_string(d.day) + " " +
         std::to_string(d.hour) + ":" + std::to_string(d.minute) + ":" + std::to_string(d.second) + "." +
         std::to_string(d.fraction);
}

bool Same(const SQL_INTERVAL_STRUCT& a, const SQL_INTERVAL_STRUCT& b) {
  if (a.interval_type != b.interval_type || a.interval_sign != b.interval_sign) return false;
  const bool ym = a.interval_type == SQL_IS_YEAR || a.interval_type == SQL_IS_MONTH ||
                  a.interval_type == SQL_IS_YEAR_TO_MONTH;
  if (ym) return a.intval.year_month.year == b.intval.year_month.year &&
                 a.intval.year_month.month == b.intval.year_month.month;
  const auto& x = a.intval.day_second;
  const auto& y = b.intval.day_second;
  return x.day == y.day && x.hour == y.hour && x.minute == y.minute && x.second == y.second &&
         x.fraction == y.fraction;
}

// The value of each source, as PostgreSQL and as H2 write its literal.
struct Source {
  const char* pg;
  const char* h2;
};
const Source kDayTime{"INTERVAL '3 days 04:05:06.5'", "INTERVAL '3 04:05:06.5' DAY TO SECOND"};
const Source kYearMonth{"INTERVAL '1 year 2 mons'", "INTERVAL '1-2' YEAR TO MONTH"};
const Source kNegative{"INTERVAL '-1 days -02:03:04'", "INTERVAL '-1 02:03:04' DAY TO SECOND"};
const Source kHuge{"INTERVAL '100000 days'", "INTERVAL '100000' DAY"};

// Expected outcome: "" success, else the SQLSTATE; a state ending in '*'
// is a warning with the value delivered.
struct ReadCase {
  const Source* source;
  SQLSMALLINT cType;
  SQL_INTERVAL_STRUCT want;
  const char* pgState;
  const char* h2State;
};

TEST_P(IntervalValues, ColumnsReadAsEveryIntervalType) {
  const bool pg = GetParam().postgres;
  const ReadCase kCases[] = {
      // Day-time value, every day-time type: trailing fields cut with 01S07.
      {&kDayTime, SQL_C_INTERVAL_DAY_TO_SECOND, DayTime(SQL_IS_DAY_TO_SECOND, false, 3, 4, 5, 6, 500000), "", ""},
      {&kDayTime, SQL_C_INTERVAL_HOUR_TO_SECOND, DayTime(SQL_IS_HOUR_TO_SECOND, false, 0, 76, 5, 6, 500000), "", ""},
      {&kDayTime, SQL_C_INTERVAL_MINUTE_TO_SECOND, DayTime(SQL_IS_MINUTE_TO_SECOND, false, 0, 0, 4565, 6, 500000), "",
       ""},
      {&kDayTime, SQL_C_INTERVAL_SECOND, DayTime(SQL_IS_SECOND, false, 0, 0, 0, 273906, 500000), "", ""},
      {&kDayTime, SQL_C_INTERVAL_DAY, DayTime(SQL_IS_DAY, false, 3, 0, 0, 0, 0), "01S07*", "01S07*"},
      {&kDayTime, SQL_C_INTERVAL_HOUR, DayTime(SQL_IS_HOUR, false, 0, 76, 0, 0, 0), "01S07*", "01S07*"},
      {&kDayTime, SQL_C_INTERVAL_MINUTE, DayTime(SQL_IS_MINUTE, false, 0, 0, 4565, 0, 0), "01S07*", "01S07*"},
      {&kDayTime, SQL_C_INTERVAL_DAY_TO_HOUR, DayTime(SQL_IS_DAY_TO_HOUR, false, 3, 4, 0, 0, 0), "01S07*", "01S07*"},
      {&kDayTime, SQL_C_INTERVAL_DAY_TO_MINUTE, DayTime(SQL_IS_DAY_TO_MINUTE, false, 3, 4, 5, 0, 0), "01S07*",
       "01S07*"},
      {&kDayTime, SQL_C_INTERVAL_HOUR_TO_MINUTE, DayTime(SQL_IS_HOUR_TO_MINUTE, false, 0, 76, 5, 0, 0), "01S07*",
       "01S07*"},
      // Across the classes: an interval column refuses (07006); PostgreSQL's
      // text holds no months here, and the day-time part is cut.
      {&kDayTime, SQL_C_INTERVAL_YEAR_TO_MONTH, YearMonth(SQL_IS_YEAR_TO_MONTH, false, 0, 0), "01S07*", "07006"},
      // Year-month value, every year-month type.
      {&kYearMonth, SQL_C_INTERVAL_YEAR_TO_MONTH, YearMonth(SQL_IS_YEAR_TO_MONTH, false, 1, 2), "", ""},
      {&kYearMonth, SQL_C_INTERVAL_MONTH, YearMonth(SQL_IS_MONTH, false, 0, 14), "", ""},
      {&kYearMonth, SQL_C_INTERVAL_YEAR, YearMonth(SQL_IS_YEAR, false, 1, 0), "01S07*", "01S07*"},
      // Months go into no day-time type.
      {&kYearMonth, SQL_C_INTERVAL_DAY_TO_SECOND, {}, "22015", "07006"},
      // The sign covers every field.
      {&kNegative, SQL_C_INTERVAL_DAY_TO_SECOND, DayTime(SQL_IS_DAY_TO_SECOND, true, 1, 2, 3, 4, 0), "", ""},
      {&kNegative, SQL_C_INTERVAL_MINUTE, DayTime(SQL_IS_MINUTE, true, 0, 0, 1563, 0, 0), "01S07*", "01S07*"},
      // A leading field beyond 32 bits.
      {&kHuge, SQL_C_INTERVAL_SECOND, {}, "22015", "22015"},
      {&kHuge, SQL_C_INTERVAL_DAY, DayTime(SQL_IS_DAY, false, 100000, 0, 0, 0, 0), "", ""},
  };
  for (const ReadCase& c : kCases) {
    const std::string sql = std::string("SELECT ") + (pg ? c.source->pg : c.source->h2);
    SCOPED_TRACE(sql + " as " + std::to_string(c.cType));
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, sql));
    KX_STMT_OK(SQLFetch(stmt_));
    SQL_INTERVAL_STRUCT got;
    std::memset(&got, 0xab, sizeof got);
    SQLLEN ind = 0;
    const SQLRETURN rc = SQLGetData(stmt_, 1, c.cType, &got, sizeof got, &ind);
    const std::string want = pg ? c.pgState : c.h2State;
    if (want.empty()) {
      EXPECT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
    } else if (want.back() == '*') {
      EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), want.substr(0, 5));
    } else {
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), want);
      continue;
    }
    EXPECT_EQ(ind, static_cast<SQLLEN>(sizeof got));
    EXPECT_TRUE(Same(got, c.want)) << Show(got) << " wanted " << Show(c.want);
  }
}

// How each database's interval column is described, what its text reads as,
// and the number and other C types.
TEST_P(IntervalValues, DescribedTypeTextAndNumbers) {
  const bool pg = GetParam().postgres;
  const bool wide = GetParam().unicode;
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, std::string("SELECT ") + (pg ? kDayTime.pg : kDayTime.h2) + ", " +
                                   (pg ? kYearMonth.pg : kYearMonth.h2)));
  SQLSMALLINT type = 0, digits = -1, nullable = 0;
  SQLULEN size = 0;
  KX_STMT_OK(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
  SQLLEN verbose = 0;
  KX_STMT_OK(SQLColAttribute(stmt_, 1, SQL_DESC_TYPE, nullptr, 0, nullptr, &verbose));
  SQLHDESC ird = SQL_NULL_HDESC;
  KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_IMP_ROW_DESC, &ird, 0, nullptr));
  SQLSMALLINT code = 0;
  KX_OK(SQLGetDescField(ird, 1, SQL_DESC_DATETIME_INTERVAL_CODE, &code, 0, nullptr), SQL_HANDLE_DESC, ird);
  if (pg) {
    EXPECT_EQ(type, wide ? SQL_WVARCHAR : SQL_VARCHAR);
  } else {
    EXPECT_EQ(type, SQL_INTERVAL_DAY_TO_SECOND);
    EXPECT_EQ(verbose, SQL_INTERVAL);
    EXPECT_EQ(code, SQL_CODE_DAY_TO_SECOND);
    EXPECT_GT(digits, 0);  // the seconds' fraction digits
    KX_STMT_OK(SQLDescribeCol(stmt_, 2, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
    EXPECT_EQ(type, SQL_INTERVAL_YEAR_TO_MONTH);
    EXPECT_EQ(digits, 0);
  }
  KX_STMT_OK(SQLFetch(stmt_));
  // Text is the database's own, as an application printing it expects.
  char text[80] = {0};
  SQLLEN ind = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &ind));
  EXPECT_STREQ(text, pg ? "3 days 04:05:06.5" : "INTERVAL '3 04:05:06.5' DAY TO SECOND");
  SQLWCHAR wtext[80] = {0};
  KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_WCHAR, wtext, sizeof wtext, &ind));
  std::string back;
  for (const SQLWCHAR* p = wtext; *p != 0; ++p) back += static_cast<char>(*p);
  EXPECT_EQ(back, pg ? "1 year 2 mons" : "INTERVAL '1-2' YEAR TO MONTH");
  // Approximate numbers and dates are no interval conversion (07006); a
  // multi-field day-time interval is no number either. PostgreSQL's text
  // column reads them as text, which is no number and no timestamp (22018).
  struct {
    SQLSMALLINT cType;
    const char* pgState;
    const char* h2State;
  } kRefused[] = {
      {SQL_C_DOUBLE, "22018", "07006"},
      {SQL_C_SLONG, "22018", "07006"},
      {SQL_C_TYPE_TIMESTAMP, "22018", "07006"},
  };
  for (const auto& r : kRefused) {
    SCOPED_TRACE(r.cType);
    unsigned char buffer[64];
    EXPECT_EQ(SQLGetData(stmt_, 1, r.cType, buffer, sizeof buffer, &ind), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), pg ? r.pgState : r.h2State);
  }
  // A year-month interval of several fields as a number: 22015.
  SQLINTEGER n = 0;
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_SLONG, &n, 0, &ind), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), pg ? "22018" : "22015");
}

// A single-field interval column reads as a number (H2, whose columns say
// their fields); its fraction is cut with 01S07.
TEST_P(IntervalValues, SingleFieldColumnsReadAsNumbers) {
  if (GetParam().postgres) GTEST_SKIP() << "PostgreSQL's interval columns are character data";
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT INTERVAL '-5' HOUR, INTERVAL '7.25' SECOND, INTERVAL '14' MONTH, "
                               "INTERVAL '-7.25' SECOND"));
  KX_STMT_OK(SQLFetch(stmt_));
  SQLINTEGER hours = 0;
  SQLLEN ind = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &hours, 0, &ind));
  EXPECT_EQ(hours, -5);
  SQLSMALLINT seconds = 0;
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_SSHORT, &seconds, 0, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S07");
  EXPECT_EQ(seconds, 7);
  SQL_NUMERIC_STRUCT num{};
  KX_STMT_OK(SQLGetData(stmt_, 4, SQL_C_NUMERIC, &num, sizeof num, &ind));
  EXPECT_EQ(num.sign, 0);  // negative
  EXPECT_EQ(num.val[0], 7);
  SQLBIGINT months = 0;
  KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_SBIGINT, &months, 0, &ind));
  EXPECT_EQ(months, 14);
  // The default C type of an interval column is its interval type.
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT INTERVAL '2 03' DAY TO HOUR"));
  KX_STMT_OK(SQLFetch(stmt_));
  SQL_INTERVAL_STRUCT s{};
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_DEFAULT, &s, sizeof s, &ind));
  EXPECT_TRUE(Same(s, DayTime(SQL_IS_DAY_TO_HOUR, false, 2, 3, 0, 0, 0))) << Show(s);
}

// Exact numbers read as single-field intervals; ODBC converts them to no
// interval of several fields, and approximate numbers to none (07006).
TEST_P(IntervalValues, NumbersReadAsSingleFieldIntervals) {
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT CAST(5 AS INTEGER), CAST(-12 AS SMALLINT), CAST(7 AS NUMERIC(5,0)), "
                               "CAST(3 AS BIGINT), CAST(5 AS INTEGER), CAST(5 AS DOUBLE PRECISION)"));
  KX_STMT_OK(SQLFetch(stmt_));
  const struct {
    SQLUSMALLINT column;
    SQLSMALLINT cType;
    SQL_INTERVAL_STRUCT want;
  } kCases[] = {
      {1, SQL_C_INTERVAL_DAY, DayTime(SQL_IS_DAY, false, 5, 0, 0, 0, 0)},
      {2, SQL_C_INTERVAL_MINUTE, DayTime(SQL_IS_MINUTE, true, 0, 0, 12, 0, 0)},
      {3, SQL_C_INTERVAL_SECOND, DayTime(SQL_IS_SECOND, false, 0, 0, 0, 7, 0)},
      {4, SQL_C_INTERVAL_YEAR, YearMonth(SQL_IS_YEAR, false, 3, 0)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.column);
    SQL_INTERVAL_STRUCT got{};
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, c.column, c.cType, &got, sizeof got, &ind));
    EXPECT_TRUE(Same(got, c.want)) << Show(got);
  }
  for (const SQLUSMALLINT column : {5, 6}) {
    SQL_INTERVAL_STRUCT got{};
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt_, column, column == 5 ? SQL_C_INTERVAL_DAY_TO_HOUR : SQL_C_INTERVAL_DAY, &got,
                         sizeof got, &ind),
              SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "07006") << column;
  }
}

// PostgreSQL writes intervals by its session's interval style: every style
// reads as the same value.
TEST_P(IntervalValues, EveryPostgresIntervalStyleReads) {
  if (!GetParam().postgres) GTEST_SKIP() << "interval styles are PostgreSQL's";
  const std::string table = Table("istyle", "iv INTERVAL");
  Exec("INSERT INTO " + table + " VALUES (INTERVAL '-1 days -02:03:04.25'), (INTERVAL '1 year -2 mons')");
  for (const char* style : {"postgres", "postgres_verbose", "sql_standard", "iso_8601"}) {
    SCOPED_TRACE(style);
    Exec(std::string("SET intervalstyle = '") + style + "'");
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT iv FROM " + table + " ORDER BY iv"));
    KX_STMT_OK(SQLFetch(stmt_));
    SQL_INTERVAL_STRUCT s{};
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_INTERVAL_DAY_TO_SECOND, &s, sizeof s, &ind));
    EXPECT_TRUE(Same(s, DayTime(SQL_IS_DAY_TO_SECOND, true, 1, 2, 3, 4, 250000))) << Show(s);
    KX_STMT_OK(SQLFetch(stmt_));
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_INTERVAL_YEAR_TO_MONTH, &s, sizeof s, &ind));
    EXPECT_TRUE(Same(s, YearMonth(SQL_IS_YEAR_TO_MONTH, false, 0, 10))) << Show(s);
  }
  Exec("SET intervalstyle = 'postgres'");
}

// Interval structures, interval text and single-field numbers go into
// interval columns and come back as the values they were; a character
// column gets the interval literal.
TEST_P(IntervalValues, ParametersRoundTrip) {
  const std::string table =
      Table("iparam", "id INTEGER, ds INTERVAL DAY TO SECOND, ym INTERVAL YEAR TO MONTH, h INTERVAL HOUR, "
                      "t VARCHAR(60), n INTEGER");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?)"));
  SQLINTEGER id = 0;
  SQL_INTERVAL_STRUCT ds{}, ym{}, h{}, t{}, n{};
  char dsText[40] = {0}, ymText[40] = {0};
  SQLLEN dsInd = 0, ymInd = 0, hInd = 0, tInd = 0, nInd = 0, textInd = SQL_NTS;
  auto bindStructs = [&] {
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr));
    KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_INTERVAL_DAY_TO_SECOND,
                                SQL_INTERVAL_DAY_TO_SECOND, 0, 6, &ds, 0, &dsInd));
    KX_STMT_OK(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_INTERVAL_YEAR_TO_MONTH,
                                SQL_INTERVAL_YEAR_TO_MONTH, 0, 0, &ym, 0, &ymInd));
    KX_STMT_OK(SQLBindParameter(stmt_, 4, SQL_PARAM_INPUT, SQL_C_INTERVAL_HOUR, SQL_INTERVAL_HOUR, 0, 0, &h, 0,
                                &hInd));
    KX_STMT_OK(SQLBindParameter(stmt_, 5, SQL_PARAM_INPUT, SQL_C_INTERVAL_MINUTE_TO_SECOND, SQL_VARCHAR, 60, 0,
                                &t, 0, &tInd));
    KX_STMT_OK(SQLBindParameter(stmt_, 6, SQL_PARAM_INPUT, SQL_C_INTERVAL_MINUTE, SQL_INTEGER, 0, 0, &n, 0,
                                &nInd));
  };
  bindStructs();
  id = 1;
  ds = DayTime(SQL_IS_DAY_TO_SECOND, true, 1, 2, 3, 4, 500000);
  ym = YearMonth(SQL_IS_YEAR_TO_MONTH, false, 1, 2);
  h = DayTime(SQL_IS_HOUR, true, 0, 5, 0, 0, 0);
  t = DayTime(SQL_IS_MINUTE_TO_SECOND, false, 0, 0, 12, 34, 567000);
  n = DayTime(SQL_IS_MINUTE, true, 0, 0, 42, 0, 0);
  KX_STMT_OK(SQLExecute(stmt_));
  // NULL through an interval binding.
  id = 2;
  dsInd = ymInd = hInd = tInd = nInd = SQL_NULL_DATA;
  KX_STMT_OK(SQLExecute(stmt_));
  // Text for interval parameters: a literal's value and the database's own
  // forms.
  id = 3;
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTERVAL_DAY_TO_SECOND, 20, 6, dsText,
                              sizeof dsText, &textInd));
  KX_STMT_OK(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTERVAL_YEAR_TO_MONTH, 10, 0, ymText,
                              sizeof ymText, &textInd));
  hInd = tInd = nInd = SQL_NULL_DATA;
  std::strcpy(dsText, "-3 04:05:06.75");
  std::strcpy(ymText, "INTERVAL '5-6' YEAR TO MONTH");
  KX_STMT_OK(SQLExecute(stmt_));

  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT ds, ym, h, t, n FROM " + table + " ORDER BY id"));
  SQL_INTERVAL_STRUCT got{};
  SQLLEN ind = 0;
  char text[80] = {0};
  SQLINTEGER number = 0;
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_INTERVAL_DAY_TO_SECOND, &got, sizeof got, &ind));
  EXPECT_TRUE(Same(got, ds)) << Show(got);
  KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_INTERVAL_YEAR_TO_MONTH, &got, sizeof got, &ind));
  EXPECT_TRUE(Same(got, ym)) << Show(got);
  KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_INTERVAL_HOUR, &got, sizeof got, &ind));
  EXPECT_TRUE(Same(got, h)) << Show(got);
  KX_STMT_OK(SQLGetData(stmt_, 4, SQL_C_CHAR, text, sizeof text, &ind));
  EXPECT_STREQ(text, "INTERVAL '12:34.567' MINUTE TO SECOND");
  KX_STMT_OK(SQLGetData(stmt_, 5, SQL_C_SLONG, &number, 0, &ind));
  EXPECT_EQ(number, -42);
  KX_STMT_OK(SQLFetch(stmt_));
  for (SQLUSMALLINT c = 1; c <= 5; ++c) {
    KX_STMT_OK(SQLGetData(stmt_, c, SQL_C_INTERVAL_DAY_TO_SECOND, &got, sizeof got, &ind));
    EXPECT_EQ(ind, SQL_NULL_DATA) << c;
  }
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_INTERVAL_DAY_TO_SECOND, &got, sizeof got, &ind));
  EXPECT_TRUE(Same(got, DayTime(SQL_IS_DAY_TO_SECOND, true, 3, 4, 5, 6, 750000))) << Show(got);
  KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_INTERVAL_YEAR_TO_MONTH, &got, sizeof got, &ind));
  EXPECT_TRUE(Same(got, YearMonth(SQL_IS_YEAR_TO_MONTH, false, 5, 6))) << Show(got);
}

// Binding states: ODBC forbids an interval C type only towards the other
// interval class, multi-field intervals towards numbers and every other SQL
// type (07006 at SQLBindParameter); a structure that is no interval of its
// type is 22015 at execution.
TEST_P(IntervalValues, ParameterStates) {
  const std::string table = Table("istate", "ds INTERVAL DAY TO SECOND");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?)"));
  SQL_INTERVAL_STRUCT iv = DayTime(SQL_IS_DAY_TO_SECOND, false, 3, 4, 5, 6, 0);
  const struct {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
  } kRefused[] = {
      {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_INTERVAL_YEAR_TO_MONTH},
      {SQL_C_INTERVAL_YEAR, SQL_INTERVAL_DAY},
      {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_INTEGER},
      {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_TYPE_TIMESTAMP},
      {SQL_C_INTERVAL_SECOND, SQL_DOUBLE},
  };
  for (const auto& c : kRefused) {
    SCOPED_TRACE(std::to_string(c.cType) + " as " + std::to_string(c.sqlType));
    EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, 20, 0, &iv, 0, nullptr),
              SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "07006");
  }
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_INTERVAL_DAY_TO_SECOND,
                              SQL_INTERVAL_DAY_TO_SECOND, 0, 6, &iv, 0, nullptr));
  iv.intval.day_second.hour = 24;  // no hour of a day-time interval
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "22015");
  iv.intval.day_second.hour = 4;
  iv.interval_type = SQL_IS_YEAR_TO_MONTH;  // not the C type's interval
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "22015");
  iv.interval_type = SQL_IS_DAY_TO_SECOND;
  KX_STMT_OK(SQLExecute(stmt_));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "1");
}

// The catalog answers name the same types: SQLColumns of an interval
// column and SQLGetTypeInfo's interval types (H2 lists them; PostgreSQL's
// intervals are character data), with their verbose type and subcode.
// PostgreSQL's answer for an interval column with fields carries a
// DECIMAL_DIGITS beyond 16 bits, which must not stop the answer.
TEST_P(IntervalValues, CatalogAnswersNameIntervalTypes) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("icat", "ds INTERVAL DAY TO SECOND");
  auto number = [&](SQLUSMALLINT column) {
    SQLINTEGER v = -1;
    SQLLEN ind = 0;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt_, column, SQL_C_SLONG, &v, 0, &ind)));
    return ind == SQL_NULL_DATA ? -1 : v;
  };
  ResetStmt();
  std::string name = table;
  if (!pg) {
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS,
                        nullptr, 0));
  const SQLRETURN fetched = SQLFetch(stmt_);
  ASSERT_TRUE(SQL_SUCCEEDED(fetched)) << fetched << " " << Diag(SQL_HANDLE_STMT, stmt_);
  const SQLINTEGER text = SQL_VARCHAR;  // the catalog's narrow code for character data
  EXPECT_EQ(number(5), pg ? text : SQL_INTERVAL_DAY_TO_SECOND);   // DATA_TYPE
  EXPECT_EQ(number(14), pg ? text : SQL_INTERVAL);                // SQL_DATA_TYPE
  EXPECT_EQ(number(15), pg ? -1 : SQL_CODE_DAY_TO_SECOND);        // SQL_DATETIME_SUB
  if (!pg) {
    EXPECT_EQ(number(9), 6);  // DECIMAL_DIGITS
  }
  ResetStmt();
  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_INTERVAL_DAY_TO_SECOND));
  if (pg) {
    EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
    return;
  }
  KX_STMT_OK(SQLFetch(stmt_));
  char typeName[64] = {0};
  SQLLEN ind = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, typeName, sizeof typeName, &ind));
  EXPECT_STREQ(typeName, "INTERVAL DAY TO SECOND");
  EXPECT_EQ(number(2), SQL_INTERVAL_DAY_TO_SECOND);
  EXPECT_GT(number(3), 18);                     // COLUMN_SIZE: the longest value's characters
  EXPECT_EQ(number(15), 9);                     // MAXIMUM_SCALE
  EXPECT_EQ(number(16), SQL_INTERVAL);          // SQL_DATA_TYPE
  EXPECT_EQ(number(17), SQL_CODE_DAY_TO_SECOND);  // SQL_DATETIME_SUB
  EXPECT_EQ(number(19), 18);                    // INTERVAL_PRECISION
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

INSTANTIATE_TEST_SUITE_P(Road, IntervalValues, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
