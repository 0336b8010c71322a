// Values on their way in and out, as ODBC's conversion rules have them:
// nothing changed or lost silently, every SQLGetData call making progress.
//
// - Text read in pieces into a buffer with room for one unit moves on even
//   when the next character is longer than that (a surrogate pair, a
//   four-byte UTF-8 sequence): the character goes out in parts.
// - Date, time and timestamp structures with fields out of range are 22007
//   (a fraction of a second or more 22008), never rolled over into another
//   date; nothing is stored.
// - A timestamp's fraction is cut to the parameter's decimal digits and to
//   what the database keeps, never rounded into the next day.
// - Parameters: SQL_FLOAT is double precision; a time keeps its fraction and
//   has no zone; a time for a timestamp takes today's date; text for a BIT is
//   the number 0 or 1; a fraction an integer would lose is 22001; decimal
//   text may have blanks around it; bytes for a character type are text;
//   SQL_DEFAULT_PARAM has no default to use (07S01).
// - Exact numbers read as text: whole digits never cut (22003), never an
//   exponent however often the statement ran.
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using DataValues = RoadTest;

// Reads column 1 of the current row with SQLGetData into buffers of
// `buffer` bytes until SQL_SUCCESS; the bytes delivered, without terminators.
std::string ReadInPieces(SQLHSTMT st, SQLSMALLINT cType, SQLLEN buffer, int* calls) {
  std::string joined;
  const size_t unit = cType == SQL_C_WCHAR ? 2 : 1;
  *calls = 0;
  for (;;) {
    if (++*calls > 40) {
      ADD_FAILURE() << "SQLGetData makes no progress";
      return joined;
    }
    std::vector<unsigned char> buf(static_cast<size_t>(buffer) + 8, 0xCC);
    SQLLEN len = 0;
    const SQLRETURN rc = SQLGetData(st, 1, cType, buf.data(), buffer, &len);
    if (rc == SQL_NO_DATA) {
      ADD_FAILURE() << "SQL_NO_DATA before SQL_SUCCESS";
      return joined;
    }
    if (!SQL_SUCCEEDED(rc)) {
      ADD_FAILURE() << Diag(SQL_HANDLE_STMT, st);
      return joined;
    }
    size_t n = 0;
    while (n + unit <= static_cast<size_t>(buffer) &&
           !(buf[n] == 0 && (unit == 1 || buf[n + 1] == 0))) {
      n += unit;
    }
    EXPECT_EQ(0xCC, buf[static_cast<size_t>(buffer)]) << "wrote past the buffer";
    joined.append(reinterpret_cast<const char*>(buf.data()), n);
    if (rc == SQL_SUCCESS) break;
  }
  unsigned char rest[8];
  SQLLEN len = 0;
  EXPECT_EQ(SQL_NO_DATA, SQLGetData(st, 1, cType, rest, sizeof rest, &len));
  return joined;
}

TEST_P(DataValues, TextLongerThanTheRoomStillMovesOn) {
  const std::string utf8 = "a\xF0\x9F\x98\x80\xC3\xA9" "b";
  const std::u16string wide = U16(utf8);
  const std::string wideBytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  struct Case {
    SQLSMALLINT cType;
    SQLLEN buffer;
    std::string expected;
  } cases[] = {
      {SQL_C_WCHAR, 4, wideBytes},  // room for one unit: a surrogate pair in halves
      {SQL_C_WCHAR, 6, wideBytes},
      {SQL_C_CHAR, 2, utf8},        // room for one byte: a four-byte sequence in four calls
      {SQL_C_CHAR, 3, utf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("C type " + std::to_string(c.cType) + ", buffer " + std::to_string(c.buffer));
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT '" + utf8 + "'"));
    KX_STMT_OK(SQLFetch(stmt_));
    int calls = 0;
    EXPECT_EQ(c.expected, ReadInPieces(stmt_, c.cType, c.buffer, &calls));
  }
  ResetStmt();
}

// One parameter of a C type bound as an SQL type into an INSERT; the
// SQLSTATE of SQLExecute ("" on success).
std::string InsertOne(SQLHSTMT st, const std::string& sql, SQLSMALLINT cType, SQLSMALLINT sqlType,
                      SQLULEN size, SQLSMALLINT digits, void* value, SQLLEN length, SQLLEN* ind) {
  SQLFreeStmt(st, SQL_CLOSE);
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  EXPECT_TRUE(SQL_SUCCEEDED(SQLBindParameter(st, 1, SQL_PARAM_INPUT, cType, sqlType, size, digits, value, length,
                                             ind)))
      << Diag(SQL_HANDLE_STMT, st);
  const SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  if (SQL_SUCCEEDED(rc)) return "";
  return State(SQL_HANDLE_STMT, st);
}

TEST_P(DataValues, InvalidDatesAndTimesAreRefusedNotRolledOver) {
  const std::string table = Table("baddt", "d DATE, t TIME, ts TIMESTAMP(6)");
  struct DateCase {
    SQL_DATE_STRUCT v;
    const char* state;
  } dates[] = {
      {{2023, 2, 29}, "22007"}, {{2024, 13, 1}, "22007"}, {{2024, 0, 0}, "22007"},
      {{0, 1, 1}, "22007"},     {{2024, 4, 31}, "22007"}, {{2024, 2, 29}, ""},
  };
  for (auto& c : dates) {
    SCOPED_TRACE(std::to_string(c.v.year) + "-" + std::to_string(c.v.month) + "-" + std::to_string(c.v.day));
    EXPECT_EQ(c.state, InsertOne(stmt_, "INSERT INTO " + table + " (d) VALUES (?)", SQL_C_TYPE_DATE,
                                 SQL_TYPE_DATE, 10, 0, &c.v, 0, nullptr));
  }
  struct StampCase {
    SQL_TIMESTAMP_STRUCT v;
    const char* state;
  } stamps[] = {
      {{2024, 2, 30, 0, 0, 0, 0}, "22007"},
      {{2024, 1, 1, 24, 0, 0, 0}, "22007"},
      {{2024, 1, 1, 0, 0, 0, 1000000000}, "22008"},
  };
  for (auto& c : stamps) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(c.state, InsertOne(stmt_, "INSERT INTO " + table + " (ts) VALUES (?)", SQL_C_TYPE_TIMESTAMP,
                                 SQL_TYPE_TIMESTAMP, 26, 6, &c.v, 0, nullptr));
  }
  SQL_TIME_STRUCT badTime{25, 61, 61};
  EXPECT_EQ("22007", InsertOne(stmt_, "INSERT INTO " + table + " (t) VALUES (?)", SQL_C_TYPE_TIME,
                               SQL_TYPE_TIME, 8, 0, &badTime, 0, nullptr));
  ResetStmt();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE d = DATE '2024-02-29'"));
}

SQL_TIMESTAMP_STRUCT ReadStamp(SQLHSTMT st, const std::string& sql) {
  SQL_TIMESTAMP_STRUCT v{};
  SQLFreeStmt(st, SQL_CLOSE);
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS)) ||
      !SQL_SUCCEEDED(SQLFetch(st))) {
    ADD_FAILURE() << Diag(SQL_HANDLE_STMT, st);
    return v;
  }
  SQLLEN ind = 0;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind)))
      << Diag(SQL_HANDLE_STMT, st);
  SQLFreeStmt(st, SQL_CLOSE);
  return v;
}

TEST_P(DataValues, TimestampFractionIsCutNeverRoundedIntoTheNextDay) {
  const std::string table = Table("tsfrac", "id INT, ts TIMESTAMP(6)");
  struct Case {
    int id;
    SQL_TIMESTAMP_STRUCT in;
    SQLSMALLINT digits;
    SQL_TIMESTAMP_STRUCT out;
  } cases[] = {
      {1, {2024, 12, 31, 23, 59, 59, 999999500}, 6, {2024, 12, 31, 23, 59, 59, 999999000}},
      {2, {2024, 6, 30, 23, 59, 59, 987654321}, 3, {2024, 6, 30, 23, 59, 59, 987000000}},
      {3, {2024, 6, 30, 12, 0, 0, 999999999}, 0, {2024, 6, 30, 12, 0, 0, 0}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.id);
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                                c.digits > 0 ? 20 + c.digits : 19, c.digits, &c.in, 0, nullptr));
    KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + table + " VALUES (" + std::to_string(c.id) + ", ?)"));
    const SQL_TIMESTAMP_STRUCT got = ReadStamp(stmt_, "SELECT ts FROM " + table + " WHERE id = " +
                                                                  std::to_string(c.id));
    EXPECT_EQ(c.out.year, got.year);
    EXPECT_EQ(c.out.month, got.month);
    EXPECT_EQ(c.out.day, got.day);
    EXPECT_EQ(c.out.hour, got.hour);
    EXPECT_EQ(c.out.second, got.second);
    EXPECT_EQ(c.out.fraction, got.fraction);
  }
  if (GetParam().postgres) {
    // Nine digits asked for, six kept: the year stays.
    SQL_TIMESTAMP_STRUCT last{9999, 12, 31, 23, 59, 59, 999999999};
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9,
                                &last, 0, nullptr));
    KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + table + " VALUES (9, ?)"));
    const SQL_TIMESTAMP_STRUCT got = ReadStamp(stmt_, "SELECT ts FROM " + table + " WHERE id = 9");
    EXPECT_EQ(9999, got.year);
    EXPECT_EQ(999999000u, got.fraction);
  }
  ResetStmt();
}

TEST_P(DataValues, DateTimeFractionIsCutToWhatTheColumnKeeps) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("colfrac", "id INT, ts3 TIMESTAMP(3), ts0 TIMESTAMP(0), t0 TIME(0), t3 TIME(3)");
  // A fraction finer than the column keeps, with the parameter's digits
  // larger than the column's or not given: the database would round it (into
  // the next second, day or year); the driver cuts it to the column's digits
  // where the JDBC driver describes the parameter (H2).
  SQL_TIMESTAMP_STRUCT yearEnd{2024, 12, 31, 23, 59, 59, 999900000};
  SQL_TIMESTAMP_STRUCT lastNano{2024, 12, 31, 23, 59, 59, 999999999};
  char nearNoon[] = "11:59:59.9999";
  struct Case {
    const char* column;
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN size;
    SQLSMALLINT digits;
    void* value;
    const char* stored;
  } cases[] = {
      {"ts3", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &yearEnd, "2024-12-31 23:59:59.999"},
      {"ts3", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 0, 0, &yearEnd, "2024-12-31 23:59:59.999"},
      {"ts0", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &lastNano, "2024-12-31 23:59:59"},
      {"ts0", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 0, 0, &lastNano, "2024-12-31 23:59:59"},
      {"t0", SQL_C_CHAR, SQL_TYPE_TIME, 13, 4, nearNoon, "11:59:59"},
      {"t3", SQL_C_CHAR, SQL_TYPE_TIME, 13, 4, nearNoon, "11:59:59.999"},
      {"t3", SQL_C_CHAR, SQL_TYPE_TIME, 0, 0, nearNoon, "11:59:59.999"},
  };
  if (!pg) {
    int id = 0;
    for (auto& c : cases) {
      SCOPED_TRACE(std::string(c.column) + " case " + std::to_string(++id));
      SQLLEN ind = c.cType == SQL_C_CHAR ? SQL_NTS : 0;
      EXPECT_EQ("", InsertOne(stmt_,
                              "INSERT INTO " + table + " (id, " + c.column + ") VALUES (" + std::to_string(id) + ", ?)",
                              c.cType, c.sqlType, c.size, c.digits, c.value, 0, &ind));
      ResetStmt();
      EXPECT_EQ(c.stored, Scalar("SELECT CAST(" + std::string(c.column) + " AS VARCHAR(40)) FROM " + table +
                                 " WHERE id = " + std::to_string(id)));
    }
  }
  // Where the JDBC driver does not describe its parameters (PostgreSQL), a
  // parameter described by SQLDescribeParam has its column's digits too.
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " (id, ts3) VALUES (100, ?)"));
  SQLSMALLINT type = 0, digits = -1, nullable = 0;
  SQLULEN size = 0;
  KX_STMT_OK(SQLDescribeParam(stmt_, 1, &type, &size, &digits, &nullable));
  EXPECT_EQ(3, digits);
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &yearEnd,
                              0, nullptr));
  KX_STMT_OK(SQLExecute(stmt_));
  ResetStmt();
  EXPECT_EQ("2024-12-31 23:59:59.999", Scalar("SELECT CAST(ts3 AS VARCHAR(40)) FROM " + table + " WHERE id = 100"));
}

// A time column's fraction of a second read every way: as text (as many
// digits as the column keeps; cut with 01004 when the buffer holds only the
// seconds, 22003 when not even those), as a timestamp (today's date), as a
// time structure (01S07 when a fraction is dropped); through SQLGetData,
// bound columns, a result read value by value (a long column beside it) and
// the scrollable cursors' kept rows. A column without a fraction reads as
// before.
TEST_P(DataValues, TimeColumnsDeliverTheirFraction) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("tmread", std::string("id INT NOT NULL PRIMARY KEY, t3 TIME(3), t6 TIME(6), "
                                                        "t0 TIME(0), doc ") + (pg ? "TEXT" : "CLOB"));
  Exec("INSERT INTO " + table + " VALUES (1, TIME '12:34:56.789', TIME '01:02:03.456789', TIME '23:59:58', 'x'), "
       "(2, TIME '12:34:56', TIME '00:00:00.000001', TIME '00:00:01', 'y')");
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);

  struct Want {
    const char* text;
    SQL_TIME_STRUCT time;
    SQLUINTEGER fraction;
  };
  // Row 1 and row 2 of columns t3, t6, t0.
  const Want want[2][3] = {
      {{"12:34:56.789", {12, 34, 56}, 789000000}, {"01:02:03.456789", {1, 2, 3}, 456789000},
       {"23:59:58", {23, 59, 58}, 0}},
      {{"12:34:56.000", {12, 34, 56}, 0}, {"00:00:00.000001", {0, 0, 0}, 1000}, {"00:00:01", {0, 0, 1}, 0}},
  };
  // Each column of a row read once (a value of fixed length is read once
  // per fetch) as the C type.
  auto checkRow = [&](SQLHSTMT st, int row, SQLSMALLINT cType) {
    for (SQLUSMALLINT c = 1; c <= 3; ++c) {
      const Want& w = want[row][c - 1];
      SCOPED_TRACE("row " + std::to_string(row + 1) + " column " + std::to_string(c));
      SQLLEN len = 0;
      if (cType == SQL_C_CHAR) {
        char text[40] = {};
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(st, c, SQL_C_CHAR, text, sizeof text, &len)) << Diag(SQL_HANDLE_STMT, st);
        EXPECT_STREQ(w.text, text);
        EXPECT_EQ(static_cast<SQLLEN>(std::strlen(w.text)), len);
      } else if (cType == SQL_C_WCHAR) {
        SQLWCHAR wide[40] = {};
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(st, c, SQL_C_WCHAR, wide, sizeof wide, &len)) << Diag(SQL_HANDLE_STMT, st);
        std::string narrow;
        for (size_t i = 0; i < 40 && wide[i] != 0; ++i) narrow += static_cast<char>(wide[i]);
        EXPECT_EQ(w.text, narrow);
        EXPECT_EQ(static_cast<SQLLEN>(2 * std::strlen(w.text)), len);
      } else if (cType == SQL_C_TYPE_TIMESTAMP) {
        SQL_TIMESTAMP_STRUCT ts{};
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(st, c, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &len))
            << Diag(SQL_HANDLE_STMT, st);
        EXPECT_EQ(today.tm_year + 1900, ts.year);
        EXPECT_EQ(today.tm_mon + 1, ts.month);
        EXPECT_EQ(today.tm_mday, ts.day);
        EXPECT_EQ(w.time.hour, ts.hour);
        EXPECT_EQ(w.time.minute, ts.minute);
        EXPECT_EQ(w.time.second, ts.second);
        EXPECT_EQ(w.fraction, ts.fraction);
      } else {
        SQL_TIME_STRUCT tm{};
        const SQLRETURN rc = SQLGetData(st, c, SQL_C_TYPE_TIME, &tm, sizeof tm, &len);
        EXPECT_EQ(w.fraction != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS, rc) << Diag(SQL_HANDLE_STMT, st);
        if (w.fraction != 0) {
          EXPECT_TRUE(HasState(st, "01S07")) << Diag(SQL_HANDLE_STMT, st);
        }
        EXPECT_EQ(w.time.hour, tm.hour);
        EXPECT_EQ(w.time.minute, tm.minute);
        EXPECT_EQ(w.time.second, tm.second);
      }
    }
  };

  // Every road: the packed blocks, value by value (the long column), and
  // the rows the static and keyset cursors keep.
  struct Road {
    const char* name;
    const char* columns;
    SQLULEN cursor;
  } roads[] = {
      {"block", "t3, t6, t0", SQL_CURSOR_FORWARD_ONLY},
      {"value by value", "t3, t6, t0, doc", SQL_CURSOR_FORWARD_ONLY},
      {"static", "t3, t6, t0", SQL_CURSOR_STATIC},
      {"keyset", "t3, t6, t0, id", SQL_CURSOR_KEYSET_DRIVEN},
  };
  const SQLSMALLINT cTypes[] = {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_TYPE_TIMESTAMP, SQL_C_TYPE_TIME};
  for (const auto& r : roads) {
    for (const SQLSMALLINT cType : cTypes) {
      SCOPED_TRACE(std::string(r.name) + " as C type " + std::to_string(cType));
      ResetStmt();
      Attr(stmt_, SQL_ATTR_CURSOR_TYPE, r.cursor);
      KX_STMT_OK(ExecDirect(stmt_, std::string("SELECT ") + r.columns + " FROM " + table + " ORDER BY id"));
      if (r.cursor == SQL_CURSOR_FORWARD_ONLY) {
        for (int row = 0; row < 2; ++row) {
          KX_STMT_OK(SQLFetch(stmt_));
          checkRow(stmt_, row, cType);
        }
      } else {
        KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
        checkRow(stmt_, 1, cType);
        KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
        checkRow(stmt_, 0, cType);
      }
    }
  }
  ResetStmt();
  Attr(stmt_, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);

  // Bound columns: text, timestamp and time structures, a rowset of two.
  struct Bound {
    char text[2][40];
    SQLLEN textLen[2];
    SQL_TIMESTAMP_STRUCT ts[2];
    SQLLEN tsLen[2];
    SQL_TIME_STRUCT tm[2];
    SQLLEN tmLen[2];
  } b{};
  SQLULEN fetched = 0;
  SQLUSMALLINT status[2] = {};
  Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 2);
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_CHAR, b.text, sizeof b.text[0], b.textLen));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_TYPE_TIMESTAMP, b.ts, sizeof b.ts[0], b.tsLen));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_TYPE_TIME, b.tm, sizeof b.tm[0], b.tmLen));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT t3, t6, t3 FROM " + table + " ORDER BY id"));
  EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLFetch(stmt_));
  EXPECT_TRUE(HasState(stmt_, "01S07")) << Diag(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(2u, fetched);
  EXPECT_STREQ("12:34:56.789", b.text[0]);
  EXPECT_STREQ("12:34:56.000", b.text[1]);
  EXPECT_EQ(456789000u, b.ts[0].fraction);
  EXPECT_EQ(3, b.ts[0].second);
  EXPECT_EQ(today.tm_mday, b.ts[1].day);
  EXPECT_EQ(1000u, b.ts[1].fraction);
  EXPECT_EQ(56, b.tm[0].second);
  EXPECT_EQ(SQL_ROW_SUCCESS, status[1]);
  ResetStmt();
  Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 1);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);

  // Text buffers: the seconds fit and the fraction is cut (01004, the whole
  // length reported), or the seconds do not fit (22003).
  struct Short {
    SQLLEN buffer;
    SQLRETURN rc;
    const char* state;
    const char* text;
  } shorts[] = {{11, SQL_SUCCESS_WITH_INFO, "01004", "12:34:56.7"},
                {9, SQL_SUCCESS_WITH_INFO, "01004", "12:34:56"},
                {8, SQL_ERROR, "22003", nullptr}};
  for (const Short& c : shorts) {
    SCOPED_TRACE(c.buffer);
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT t3 FROM " + table + " WHERE id = 1"));
    KX_STMT_OK(SQLFetch(stmt_));
    char text[16] = {};
    SQLLEN len = 0;
    EXPECT_EQ(c.rc, SQLGetData(stmt_, 1, SQL_C_CHAR, text, c.buffer, &len));
    EXPECT_EQ(c.state, State(SQL_HANDLE_STMT, stmt_));
    if (c.text != nullptr) {
      EXPECT_STREQ(c.text, text);
      EXPECT_EQ(12, len);
    }
  }
  ResetStmt();
}

// A row whose value came with a warning has SQL_ROW_SUCCESS_WITH_INFO in
// the row-status array, the others SQL_ROW_SUCCESS, whatever the cursor and
// the rowset size.
TEST_P(DataValues, RowWithAWarningSaysSoInItsStatus) {
  const std::string table = Table("rowinfo", "id INT NOT NULL PRIMARY KEY, name VARCHAR(20)");
  Exec("INSERT INTO " + table + " VALUES (1, 'abc'), (2, 'abcdefghij'), (3, 'xyz'), (4, 'klmnopqrst')");
  struct Shape {
    const char* name;
    SQLULEN cursor;
    SQLULEN rowset;
  };
  for (const Shape& shape : {Shape{"forward, rowset 1", SQL_CURSOR_FORWARD_ONLY, 1},
                             Shape{"forward, rowset 4", SQL_CURSOR_FORWARD_ONLY, 4},
                             Shape{"static", SQL_CURSOR_STATIC, 4}, Shape{"keyset", SQL_CURSOR_KEYSET_DRIVEN, 4}}) {
    SCOPED_TRACE(shape.name);
    ResetStmt();
    Attr(stmt_, SQL_ATTR_CURSOR_TYPE, shape.cursor);
    Attr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, shape.rowset);
    SQLUSMALLINT status[4] = {99, 99, 99, 99};
    SQLULEN fetched = 0;
    char name[4][6] = {};
    SQLLEN len[4] = {};
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_CHAR, name, sizeof name[0], len));
    KX_STMT_OK(ExecDirect(stmt_, "SELECT name FROM " + table + " ORDER BY id"));
    std::vector<SQLUSMALLINT> seen;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      bool cut = false;
      for (SQLULEN r = 0; r < fetched; ++r) {
        seen.push_back(status[r]);
        cut = cut || status[r] == SQL_ROW_SUCCESS_WITH_INFO;
      }
      EXPECT_EQ(rc, cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    }
    EXPECT_EQ(seen, (std::vector<SQLUSMALLINT>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS_WITH_INFO, SQL_ROW_SUCCESS,
                                               SQL_ROW_SUCCESS_WITH_INFO}));
    EXPECT_EQ(std::string(name[shape.rowset == 1 ? 0 : 3]), "klmno");
  }

  // ODBC 2 has no such status: its applications see SQL_ROW_SUCCESS, and the
  // call's SQL_SUCCESS_WITH_INFO.
  SQLHENV env2 = SQL_NULL_HENV;
  SQLHDBC dbc2 = Odbc2Connection(&env2);
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc2, &st), SQL_SUCCESS);
  KX_OK(SQLSetStmtOption(st, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_HANDLE_STMT, st);
  KX_OK(SQLSetStmtOption(st, SQL_ROWSET_SIZE, 4), SQL_HANDLE_STMT, st);
  char name[4][6] = {};
  SQLLEN len[4] = {};
  SQLUSMALLINT status[4] = {99, 99, 99, 99};
  SQLULEN fetched = 0;
  KX_OK(SQLBindCol(st, 1, SQL_C_CHAR, name, sizeof name[0], len), SQL_HANDLE_STMT, st);
  KX_OK(ExecDirect(st, "SELECT name FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  EXPECT_EQ(SQLExtendedFetch(st, SQL_FETCH_NEXT, 0, &fetched, status), SQL_SUCCESS_WITH_INFO)
      << Diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(fetched, 4u);
  for (const SQLUSMALLINT s : status) EXPECT_EQ(s, SQL_ROW_SUCCESS);
  EXPECT_EQ(std::string(name[1]), "abcde");
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  DropWithEnv(env2, dbc2);
}

// Character columns holding dates, times and timestamps read as the date
// and time C types, bound or through SQLGetData, narrow or wide text alike;
// text that is no such value is 22018.
TEST_P(DataValues, TextColumnsReadAsDatesAndTimes) {
  const std::string table = Table("dtext", "id INT NOT NULL PRIMARY KEY, v VARCHAR(40)");
  Exec("INSERT INTO " + table + " VALUES (1, '2024-02-29'), (2, '2024-02-29 13:45:30.25'), "
       "(3, '13:45:30'), (4, '{ts ''2001-02-03 04:05:06''}'), (5, 'not a date')");
  struct Want {
    SQLRETURN rc;
    SQL_TIMESTAMP_STRUCT ts;  // year 0: today's date
    const char* state;
  };
  const Want want[5] = {{SQL_SUCCESS, {2024, 2, 29, 0, 0, 0, 0}, ""},
                        {SQL_SUCCESS, {2024, 2, 29, 13, 45, 30, 250000000}, ""},
                        {SQL_SUCCESS, {0, 0, 0, 13, 45, 30, 0}, ""},
                        {SQL_SUCCESS, {2001, 2, 3, 4, 5, 6, 0}, ""},
                        {SQL_ERROR, {}, "22018"}};
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  for (const bool bound : {false, true}) {
    SCOPED_TRACE(bound ? "bound" : "SQLGetData");
    ResetStmt();
    SQL_TIMESTAMP_STRUCT ts{};
    SQLLEN len = 0;
    if (bound) {
      KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &len));
    }
    KX_STMT_OK(ExecDirect(stmt_, "SELECT v FROM " + table + " ORDER BY id"));
    int row = 0;
    for (const Want& w : want) {
      SCOPED_TRACE(++row);
      SQLRETURN rc = SQLFetch(stmt_);
      if (!bound) {
        ASSERT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
        rc = SQLGetData(stmt_, 1, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &len);
      }
      ASSERT_EQ(rc, w.rc) << Diag(SQL_HANDLE_STMT, stmt_);
      if (rc == SQL_ERROR) {
        EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), w.state);
        continue;
      }
      EXPECT_EQ(ts.year, w.ts.year != 0 ? w.ts.year : today.tm_year + 1900);
      EXPECT_EQ(ts.month, w.ts.year != 0 ? w.ts.month : today.tm_mon + 1);
      EXPECT_EQ(ts.day, w.ts.year != 0 ? w.ts.day : today.tm_mday);
      EXPECT_EQ(ts.hour, w.ts.hour);
      EXPECT_EQ(ts.minute, w.ts.minute);
      EXPECT_EQ(ts.second, w.ts.second);
      EXPECT_EQ(ts.fraction, w.ts.fraction);
    }
  }
  // As a date: the time of day of row 2 is dropped with 01S07; a time is no date.
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT v FROM " + table + " WHERE id IN (2, 3) ORDER BY id"));
  SQL_DATE_STRUCT date{};
  SQLLEN len = 0;
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_TYPE_DATE, &date, sizeof date, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_TRUE(HasState(stmt_, "01S07"));
  EXPECT_EQ(date.year, 2024);
  EXPECT_EQ(date.day, 29);
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_TYPE_DATE, &date, sizeof date, &len), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "22018");
}

// A timestamp read as a date loses its time of day, and as a time its
// fraction of a second: where that part was not zero, the application hears
// of it (01S07), through SQLGetData and through a bound column alike.
TEST_P(DataValues, TimestampAsDateOrTimeSaysWhatItDrops) {
  const std::string table = Table("tsparts", "id INT NOT NULL PRIMARY KEY, ts TIMESTAMP(6)");
  Exec("INSERT INTO " + table + " VALUES (1, TIMESTAMP '2024-02-29 00:00:00'), "
       "(2, TIMESTAMP '2024-02-29 13:45:30'), (3, TIMESTAMP '2024-02-29 00:00:00.25')");
  struct Want {
    SQLRETURN asDate;
    SQLRETURN asTime;
    SQL_TIME_STRUCT time;
  };
  const Want want[3] = {{SQL_SUCCESS, SQL_SUCCESS, {0, 0, 0}},
                        {SQL_SUCCESS_WITH_INFO, SQL_SUCCESS, {13, 45, 30}},
                        {SQL_SUCCESS_WITH_INFO, SQL_SUCCESS_WITH_INFO, {0, 0, 0}}};
  for (const bool bound : {false, true}) {
    SCOPED_TRACE(bound ? "bound" : "SQLGetData");
    for (const SQLSMALLINT cType : {SQLSMALLINT{SQL_C_TYPE_DATE}, SQLSMALLINT{SQL_C_TYPE_TIME}}) {
      SCOPED_TRACE(cType);
      ResetStmt();
      SQL_DATE_STRUCT date{};
      SQL_TIME_STRUCT time{};
      SQLLEN len = 0;
      void* target = cType == SQL_C_TYPE_DATE ? static_cast<void*>(&date) : static_cast<void*>(&time);
      const SQLLEN size = cType == SQL_C_TYPE_DATE ? sizeof date : sizeof time;
      if (bound) {
        KX_STMT_OK(SQLBindCol(stmt_, 1, cType, target, size, &len));
      }
      KX_STMT_OK(ExecDirect(stmt_, "SELECT ts FROM " + table + " ORDER BY id"));
      for (const Want& w : want) {
        const SQLRETURN expected = cType == SQL_C_TYPE_DATE ? w.asDate : w.asTime;
        SQLRETURN rc = SQLFetch(stmt_);
        if (!bound) {
          ASSERT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
          rc = SQLGetData(stmt_, 1, cType, target, size, &len);
        }
        EXPECT_EQ(rc, expected) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_EQ(HasState(stmt_, "01S07"), expected == SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(len, size);
        if (cType == SQL_C_TYPE_DATE) {
          EXPECT_EQ(date.year, 2024);
          EXPECT_EQ(date.month, 2);
          EXPECT_EQ(date.day, 29);
        } else {
          EXPECT_EQ(time.hour, w.time.hour);
          EXPECT_EQ(time.minute, w.time.minute);
          EXPECT_EQ(time.second, w.time.second);
        }
      }
      EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
    }
  }
}

TEST_P(DataValues, ParameterConversionsKeepOrRefuseTheValue) {
  const std::string table = Table("pconv", "i INTEGER, b BOOLEAN, f DOUBLE PRECISION, n NUMERIC(6,2), v VARCHAR(20)");
  const std::string ins = "INSERT INTO " + table;
  // SQL_FLOAT is double precision.
  double d = 1.2345678901234567;
  EXPECT_EQ("", InsertOne(stmt_, ins + " (f) VALUES (?)", SQL_C_DOUBLE, SQL_FLOAT, 15, 0, &d, 0, nullptr));
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT f FROM " + table + " WHERE f IS NOT NULL"));
  KX_STMT_OK(SQLFetch(stmt_));
  double back = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_DOUBLE, &back, 0, nullptr));
  EXPECT_EQ(d, back);
  ResetStmt();
  Exec("DELETE FROM " + table);

  // Text for a BIT, integers and decimals.
  struct TextCase {
    const char* column;
    SQLSMALLINT sqlType;
    const char* text;
    const char* state;
  } texts[] = {
      {"b", SQL_BIT, " 1 ", ""},   {"b", SQL_BIT, "0", ""},        {"b", SQL_BIT, "yes", "22018"},
      {"b", SQL_BIT, "2", "22003"}, {"b", SQL_BIT, "-1", "22003"},  {"b", SQL_BIT, "T", "22018"},
      {"i", SQL_INTEGER, "12.7", "22001"}, {"i", SQL_INTEGER, " 12.00 ", ""},
      {"i", SQL_INTEGER, "99999999999", "22003"},
      {"n", SQL_NUMERIC, "  1.50 ", ""},   {"n", SQL_NUMERIC, "1.5x", "22018"},
  };
  for (const TextCase& c : texts) {
    SCOPED_TRACE(std::string(c.column) + " <- '" + c.text + "'");
    std::string text = c.text;
    SQLLEN ind = SQL_NTS;
    EXPECT_EQ(c.state, InsertOne(stmt_, ins + " (" + c.column + ") VALUES (?)", SQL_C_CHAR, c.sqlType, 10,
                                 c.sqlType == SQL_NUMERIC ? 2 : 0, text.data(), 0, &ind));
  }
  ResetStmt();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE b = TRUE"));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE b = FALSE"));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE i = 12"));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE n = 1.5"));

  // Numbers whose fraction an integer would lose.
  double frac = 12.7;
  EXPECT_EQ("22001",
            InsertOne(stmt_, ins + " (i) VALUES (?)", SQL_C_DOUBLE, SQL_INTEGER, 10, 0, &frac, 0, nullptr));
  double whole = 13.0;
  EXPECT_EQ("", InsertOne(stmt_, ins + " (i) VALUES (?)", SQL_C_DOUBLE, SQL_INTEGER, 10, 0, &whole, 0, nullptr));
  {
    SQL_NUMERIC_STRUCT num{};
    num.precision = 4;
    num.scale = 2;
    num.sign = 0;  // negative
    num.val[0] = 1234 & 0xFF;
    num.val[1] = 1234 >> 8;
    ResetStmt();
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_INTEGER, 10, 0, &num, 0, nullptr));
    SQLHDESC apd = SQL_NULL_HDESC;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_APP_PARAM_DESC, &apd, 0, nullptr));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetDescField(apd, 1, SQL_DESC_PRECISION, reinterpret_cast<SQLPOINTER>(4), 0)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetDescField(apd, 1, SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(2), 0)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetDescField(apd, 1, SQL_DESC_DATA_PTR, &num, 0)));
    const std::string sql = ins + " (i) VALUES (?)";
    EXPECT_EQ(SQL_ERROR, ExecDirect(stmt_, sql));
    EXPECT_EQ("22001", State(SQL_HANDLE_STMT, stmt_));
  }
  ResetStmt();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE i = 13"));
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM " + table + " WHERE i = -12 OR i = 2"));

  // Bytes for a character parameter are the text they spell.
  char bytes[] = {'a', 'b', 'c'};
  SQLLEN blen = 3;
  EXPECT_EQ("", InsertOne(stmt_, ins + " (v) VALUES (?)", SQL_C_BINARY, SQL_VARCHAR, 20, 0, bytes, 3, &blen));
  EXPECT_EQ("", InsertOne(stmt_, ins + " (v) VALUES (?)", SQL_C_BINARY, SQL_LONGVARCHAR, 20, 0, bytes, 3,
                          &blen));
  ResetStmt();
  EXPECT_EQ("2", Scalar("SELECT COUNT(*) FROM " + table + " WHERE v = 'abc'"));

  // No default to use for a marker.
  SQLINTEGER x = 5;
  SQLLEN def = SQL_DEFAULT_PARAM;
  EXPECT_EQ("07S01", InsertOne(stmt_, ins + " (i) VALUES (?)", SQL_C_SLONG, SQL_INTEGER, 10, 0, &x, 0, &def));
  ResetStmt();
}

TEST_P(DataValues, TimeParametersKeepTheirFractionAndHaveNoZone) {
  const std::string table = Table("tmpar", "id INT, t TIME(3), ts TIMESTAMP(6)");
  std::string text = "12:30:15.5";
  SQLLEN ind = SQL_NTS;
  EXPECT_EQ("", InsertOne(stmt_, "INSERT INTO " + table + " (id, t) VALUES (1, ?)", SQL_C_CHAR,
                          SQL_TYPE_TIME, 12, 3, text.data(), 0, &ind));
  ResetStmt();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM " + table + " WHERE t = TIME '12:30:15.5'"));
  // A time for a timestamp takes today's date.
  SQL_TIME_STRUCT tm{1, 23, 45};
  EXPECT_EQ("", InsertOne(stmt_, "INSERT INTO " + table + " (id, ts) VALUES (2, ?)", SQL_C_TYPE_TIME,
                          SQL_TYPE_TIMESTAMP, 19, 0, &tm, 0, nullptr));
  const SQL_TIMESTAMP_STRUCT got = ReadStamp(stmt_, "SELECT ts FROM " + table + " WHERE id = 2");
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  EXPECT_EQ(today.tm_year + 1900, got.year);
  EXPECT_EQ(today.tm_mon + 1, got.month);
  EXPECT_EQ(today.tm_mday, got.day);
  EXPECT_EQ(1, got.hour);
  EXPECT_EQ(45, got.second);
  // A time read back as text has no zone.
  ResetStmt();
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &tm, 0, nullptr));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT CAST(? AS VARCHAR(20))"));
  KX_STMT_OK(SQLFetch(stmt_));
  char out[32] = {};
  SQLLEN len = 0;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, out, sizeof out, &len));
  EXPECT_STREQ("01:23:45", out);
  ResetStmt();
  EXPECT_EQ("01:23:45", Scalar("SELECT CAST({t '01:23:45'} AS VARCHAR(20))"));
}

TEST_P(DataValues, ExactNumbersAsTextKeepTheirWholeDigits) {
  struct Case {
    const char* sql;
    SQLSMALLINT cType;
    SQLLEN buffer;
    SQLRETURN rc;
    const char* state;
    std::string text;  // narrow text written (wide text compared as its ASCII)
  } cases[] = {
      {"SELECT CAST(-123.45 AS NUMERIC(10,2))", SQL_C_CHAR, 4, SQL_ERROR, "22003", ""},
      {"SELECT CAST(-123.45 AS NUMERIC(10,2))", SQL_C_CHAR, 5, SQL_SUCCESS_WITH_INFO, "01004", "-123"},
      {"SELECT CAST(-123.45 AS NUMERIC(10,2))", SQL_C_CHAR, 7, SQL_SUCCESS_WITH_INFO, "01004", "-123.4"},
      {"SELECT CAST(-123.45 AS DECIMAL(10,2))", SQL_C_WCHAR, 8, SQL_ERROR, "22003", ""},
      {"SELECT CAST(-123.45 AS DECIMAL(10,2))", SQL_C_WCHAR, 10, SQL_SUCCESS_WITH_INFO, "01004", "-123"},
      {"SELECT CAST(1234567890123 AS BIGINT)", SQL_C_CHAR, 10, SQL_ERROR, "22003", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sql) + " into " + std::to_string(c.buffer));
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, c.sql));
    KX_STMT_OK(SQLFetch(stmt_));
    unsigned char buf[32];
    std::memset(buf, 0xCC, sizeof buf);
    SQLLEN len = 0;
    EXPECT_EQ(c.rc, SQLGetData(stmt_, 1, c.cType, buf, c.buffer, &len));
    if (c.rc != SQL_SUCCESS) {
      EXPECT_EQ(c.state, State(SQL_HANDLE_STMT, stmt_));
    }
    if (c.rc == SQL_ERROR) {
      EXPECT_EQ(0xCC, buf[0]);
      continue;
    }
    std::string got;
    for (size_t i = 0; i < sizeof buf; i += c.cType == SQL_C_WCHAR ? 2 : 1) {
      if (buf[i] == 0) break;
      got += static_cast<char>(buf[i]);
    }
    EXPECT_EQ(c.text, got);
  }
  ResetStmt();
}

TEST_P(DataValues, DecimalTextNeverUsesAnExponent) {
  struct Case {
    const char* sql;
    const char* value;
    bool pgOnly;
  } cases[] = {
      {"SELECT CAST(? AS NUMERIC(30,25))", "0.0000000000000000000000770", false},
      {"SELECT CAST(? AS NUMERIC)", "0.00000001", true},
      {"SELECT CAST(? AS NUMERIC(20,0))", "10000000000000000000", false},
  };
  for (const Case& c : cases) {
    if (c.pgOnly && !GetParam().postgres) continue;
    SCOPED_TRACE(c.sql);
    ResetStmt();
    KX_STMT_OK(Prepare(stmt_, c.sql));
    std::string value = c.value;
    SQLLEN ind = SQL_NTS;
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, value.data(), 0, &ind));
    // PostgreSQL's driver switches to a server-prepared statement and binary
    // transfer after a few executions: every road, every time.
    for (int run = 0; run < 12; ++run) {
      SCOPED_TRACE(run);
      KX_STMT_OK(SQLExecute(stmt_));
      char bound[64] = {};
      SQLLEN boundLen = 0;
      KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_CHAR, bound, sizeof bound, &boundLen));
      KX_STMT_OK(SQLFetch(stmt_));
      EXPECT_STREQ(c.value, bound);
      SQLFreeStmt(stmt_, SQL_UNBIND);
      SQLFreeStmt(stmt_, SQL_CLOSE);
      KX_STMT_OK(SQLExecute(stmt_));
      KX_STMT_OK(SQLFetch(stmt_));
      SQLWCHAR wide[64] = {};
      SQLLEN wideLen = 0;
      KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_WCHAR, wide, sizeof wide, &wideLen));
      std::string ascii;
      for (size_t i = 0; i < 64 && wide[i] != 0; ++i) ascii += static_cast<char>(wide[i]);
      EXPECT_EQ(c.value, ascii);
      SQLFreeStmt(stmt_, SQL_CLOSE);
    }
  }
  ResetStmt();
}

// Decimal text read in pieces (SQLGetData into a buffer too small for the
// fraction, 01004 on each cut piece) joins into the plain form, and the
// length each call reports is the plain form's, every execution; through
// a static cursor's cache too.
TEST_P(DataValues, DecimalTextInPiecesIsThePlainForm) {
  struct Case {
    const char* sql;
    const char* value;
    bool pgOnly;
  } cases[] = {
      {"SELECT CAST(? AS NUMERIC(30,25))", "0.0000000000000000000000770", false},
      {"SELECT CAST(? AS NUMERIC)", "-0.00000000000000001234", true},
  };
  for (SQLULEN cursor : {SQL_CURSOR_FORWARD_ONLY, SQL_CURSOR_STATIC}) {
    for (const Case& c : cases) {
      if (c.pgOnly && !GetParam().postgres) continue;
      SCOPED_TRACE(std::string(c.sql) + (cursor == SQL_CURSOR_STATIC ? ", static cursor" : ""));
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
      Attr(stmt_, SQL_ATTR_CURSOR_TYPE, cursor);
      KX_STMT_OK(Prepare(stmt_, c.sql));
      std::string value = c.value;
      SQLLEN ind = SQL_NTS;
      KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, value.data(), 0, &ind));
      const SQLLEN total = static_cast<SQLLEN>(std::strlen(c.value));
      for (int run = 0; run < 12; ++run) {
        for (SQLSMALLINT cType : {SQL_C_CHAR, SQL_C_WCHAR}) {
          SCOPED_TRACE(std::to_string(run) + (cType == SQL_C_CHAR ? " narrow" : " wide"));
          const size_t unit = cType == SQL_C_WCHAR ? 2 : 1;
          KX_STMT_OK(SQLExecute(stmt_));
          KX_STMT_OK(SQLFetch(stmt_));
          // Room for the whole digits and a few fraction digits a piece.
          const SQLLEN buffer = static_cast<SQLLEN>(8 * unit);
          std::string joined;
          SQLLEN expectLen = total;
          for (int call = 0; call < 20; ++call) {
            unsigned char buf[32];
            std::memset(buf, 0, sizeof buf);
            SQLLEN len = 0;
            const SQLRETURN rc = SQLGetData(stmt_, 1, cType, buf, buffer, &len);
            ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, stmt_);
            EXPECT_EQ(len, expectLen * static_cast<SQLLEN>(unit)) << "call " << call;
            size_t n = 0;
            for (; n + unit <= static_cast<size_t>(buffer) && buf[n] != 0; n += unit) joined += static_cast<char>(buf[n]);
            expectLen -= static_cast<SQLLEN>(n / unit);
            if (rc == SQL_SUCCESS) break;
            EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01004");
          }
          EXPECT_EQ(joined, c.value);
          KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
        }
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
}

// Decimal text on the other roads: the return value of a function read into
// text whatever type the application declared, an INOUT argument, a
// decimal floating type (H2's DECFLOAT), and numbers in catalog answers
// (PostgreSQL's row estimate of an index).
TEST_P(DataValues, DecimalTextOfOutputsAndCatalogsIsPlain) {
  const bool pg = GetParam().postgres;
  const char* kValue = "0.0000000000000000000000770";
  if (pg) {
    const std::string fn = UniqueName("tiny");
    const std::string proc = UniqueName("tinyio");
    Exec("CREATE FUNCTION " + fn + " (x INTEGER) RETURNS NUMERIC(30,25) LANGUAGE sql AS $$ SELECT " +
         std::string(kValue) + " * x $$");
    Exec("CREATE PROCEDURE " + proc + " (INOUT b NUMERIC) LANGUAGE plpgsql AS $$ BEGIN b := b * 0.000000001; END $$");
    for (SQLSMALLINT declared : {SQL_NUMERIC, SQL_VARCHAR, SQL_CHAR}) {
      for (int run = 0; run < 7; ++run) {
        SCOPED_TRACE(std::to_string(declared) + " run " + std::to_string(run));
        ResetStmt();
        char ret[64] = {0};
        SQLLEN retLen = 0;
        SQLINTEGER x = 1;
        SQLLEN xLen = 0;
        KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, declared, 40, 25, ret, sizeof ret, &retLen));
        KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &x, 0, &xLen));
        const SQLRETURN rc = ExecDirect(stmt_, "{? = call " + fn + "(?)}");
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_STREQ(ret, kValue);
        // An argument's declared type is the one it is registered as.
        if (declared != SQL_NUMERIC) continue;
        ResetStmt();
        char b[64] = "0.0000000000000077";
        SQLLEN bLen = SQL_NTS;
        KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, declared, 40, 25, b, sizeof b, &bLen));
        const SQLRETURN rc2 = ExecDirect(stmt_, "{call " + proc + "(?)}");
        EXPECT_TRUE(SQL_SUCCEEDED(rc2)) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_STREQ(b, "0.0000000000000000000000077");
      }
    }
    ResetStmt();
    Exec("DROP FUNCTION " + fn);
    Exec("DROP PROCEDURE " + proc);

    const std::string t = Table("estimate", "id INTEGER PRIMARY KEY");
    // The planner's estimate is a float the database writes with an exponent
    // from a million rows on.
    Exec("UPDATE pg_class SET reltuples = 1234567 WHERE relname = '" + t + "_pkey'");
    ResetStmt();
    KX_STMT_OK(SQLStatisticsA(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>(t.c_str())),
                              SQL_NTS, SQL_INDEX_ALL, SQL_QUICK));
    bool seen = false;
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
      char name[64] = {0};
      SQLLEN nameLen = 0;
      KX_STMT_OK(SQLGetData(stmt_, 6, SQL_C_CHAR, name, sizeof name, &nameLen));
      if (nameLen == SQL_NULL_DATA) continue;
      char card[32] = {0};
      SQLLEN cardLen = 0;
      KX_STMT_OK(SQLGetData(stmt_, 11, SQL_C_CHAR, card, sizeof card, &cardLen));
      EXPECT_STREQ(card, "1234567");
      seen = true;
    }
    EXPECT_TRUE(seen);
    ResetStmt();
  } else {
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT CAST(0.00000001 AS DECFLOAT), CAST(1E+20 AS DECFLOAT)"));
    KX_STMT_OK(SQLFetch(stmt_));
    char v[64] = {0};
    SQLLEN len = 0;
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, v, sizeof v, &len));
    EXPECT_STREQ(v, "0.00000001");
    KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, v, sizeof v, &len));
    EXPECT_STREQ(v, "100000000000000000000");
    ResetStmt();
  }
}

// PostgreSQL's money: its driver reads "$1,234.50" as no number; the value
// reads as its text, and the fetch goes on.
TEST_P(DataValues, MoneyReadsAsText) {
  if (!GetParam().postgres) return;  // a PostgreSQL type
  const std::string table = Table("money", "id INT, m MONEY");
  Exec("INSERT INTO " + table + " VALUES (1, 1234.5), (2, -7)");
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT m FROM " + table + " ORDER BY id"));
  const char* expected[] = {"$1,234.50", "-$7.00"};
  for (const char* want : expected) {
    KX_STMT_OK(SQLFetch(stmt_));
    char text[40] = {};
    SQLLEN len = 0;
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &len));
    EXPECT_STREQ(want, text);
  }
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt_));
  ResetStmt();
}

INSTANTIATE_TEST_SUITE_P(Road, DataValues, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
