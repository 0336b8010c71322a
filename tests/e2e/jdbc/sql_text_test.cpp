// SQL text on the main road: ODBC escapes with parameter markers inside them,
// comments and literals every scanner of the driver reads alike, escapes the
// JDBC drivers get wrong (nested outer joins, CONVERT, SECOND, TIMESTAMPDIFF),
// SQLNativeSql, and the SQLGetInfo answers that promise them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using SqlText = RoadTest;

// A parameter bound as text of an SQL type.
struct Param {
  const char* value;
  SQLSMALLINT sqlType;
};

struct TextCase {
  const char* name;
  const char* sql;
  std::vector<Param> params;
  std::vector<const char*> expected;  // the first row, column by column, as text
  bool postgresOnly;
};

// Every escape with markers inside it (and no marker outside), the literals
// and comments that hide a '?', '{' or quote, and escapes with blanks after
// the brace: run prepared and direct, the statement counts the markers the
// application binds and gives the value ODBC defines.
const TextCase kCases[] = {
    {"ucase", "SELECT {fn UCASE(?)}", {{"abc", SQL_VARCHAR}}, {"ABC"}, false},
    {"lcase in where", "SELECT x FROM (VALUES ('abc')) AS t(x) WHERE x = {fn LCASE(?)}", {{"ABC", SQL_VARCHAR}},
     {"abc"}, false},
    {"substring", "SELECT x FROM (VALUES ('bcd')) AS t(x) WHERE x = {fn SUBSTRING(?, 2, 3)}",
     {{"abcdef", SQL_VARCHAR}}, {"bcd"}, false},
    {"concat", "SELECT {fn CONCAT(?, ?)}", {{"ab", SQL_VARCHAR}, {"cd", SQL_VARCHAR}}, {"abcd"}, false},
    {"locate", "SELECT {fn LOCATE(?, ?)}", {{"b", SQL_VARCHAR}, {"abcb", SQL_VARCHAR}}, {"2"}, false},
    {"locate from", "SELECT {fn LOCATE(?, ?, 3)}", {{"b", SQL_VARCHAR}, {"abcb", SQL_VARCHAR}}, {"4"}, false},
    {"locate from marker", "SELECT {fn LOCATE('b', 'abcb', ?)}", {{"2", SQL_INTEGER}}, {"2"}, false},
    {"right", "SELECT {fn RIGHT(?, 2)}", {{"abcd", SQL_VARCHAR}}, {"cd"}, false},
    {"insert", "SELECT {fn INSERT(?, ?, ?, ?)}",
     {{"abcdef", SQL_VARCHAR}, {"2", SQL_INTEGER}, {"3", SQL_INTEGER}, {"XY", SQL_VARCHAR}}, {"aXYef"}, false},
    {"round", "SELECT {fn ROUND(?, 1)}", {{"1.25", SQL_DOUBLE}}, {"1.3"}, true},
    {"truncate", "SELECT {fn TRUNCATE(?, 1)}", {{"1.25", SQL_DOUBLE}}, {"1.2"}, true},
    {"timestampadd", "SELECT {fn TIMESTAMPADD(SQL_TSI_DAY, ?, {ts '2001-02-03 04:05:06'})}",
     {{"2", SQL_INTEGER}}, {"2001-02-05 04:05:06"}, false},
    {"date marker", "SELECT {fn YEAR({d ?})}", {{"2001-02-03", SQL_TYPE_DATE}}, {"2001"}, false},
    {"convert marker", "SELECT {fn CONVERT(?, SQL_INTEGER)} + 1", {{"41", SQL_VARCHAR}}, {"42"}, false},
    {"escape string literal", "SELECT E'it\\'s ?', ?", {{"x", SQL_VARCHAR}}, {"it's ?", "x"}, true},
    {"nested comment", "SELECT /* a /* b */ ? */ 1", {}, {"1"}, false},
    {"nested comment with brace", "SELECT /* a /* b */ { */ 2, {fn UCASE(?)}", {{"y", SQL_VARCHAR}}, {"2", "Y"},
     false},
    {"blank after brace", "SELECT { fn ucase('a')}, { ts '2001-02-03 04:05:06' }", {}, {"A", "2001-02-03 04:05:06"},
     false},
    {"escape clause", "SELECT x FROM (VALUES ('a_')) AS t(x) WHERE x LIKE 'a!_' { ESCAPE '!' }", {}, {"a_"}, false},
    {"nested outer joins",
     "SELECT a.x, c.y FROM {oj (VALUES (1)) AS a(x) LEFT OUTER JOIN {oj (VALUES (1)) AS b(x) LEFT OUTER JOIN "
     "(VALUES (1, 'z')) AS c(x, y) ON b.x = c.x} ON a.x = b.x}",
     {}, {"1", "z"}, false},
};

// Binds the parameters (text of the given SQL types), counting them first.
void BindText(SQLHSTMT st, const std::vector<Param>& params, std::vector<SQLLEN>& ind) {
  ind.assign(params.size(), SQL_NTS);
  for (size_t i = 0; i < params.size(); ++i) {
    const SQLSMALLINT t = params[i].sqlType;
    const SQLULEN size = t == SQL_TYPE_DATE ? 10 : 40;
    ASSERT_EQ(SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, t, size, 0,
                               const_cast<char*>(params[i].value), 0, &ind[i]),
              SQL_SUCCESS);
  }
}

// The first row as text, column by column ("NULL" for NULL).
std::vector<std::string> FirstRow(SQLHSTMT st) {
  std::vector<std::string> row;
  SQLSMALLINT cols = 0;
  if (SQLNumResultCols(st, &cols) != SQL_SUCCESS || !SQL_SUCCEEDED(SQLFetch(st))) return row;
  for (SQLSMALLINT c = 1; c <= cols; ++c) {
    char buf[256] = {0};
    SQLLEN ind = 0;
    if (!SQL_SUCCEEDED(SQLGetData(st, static_cast<SQLUSMALLINT>(c), SQL_C_CHAR, buf, sizeof buf, &ind))) {
      row.push_back("<GetData failed>");
    } else {
      row.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
    }
  }
  return row;
}

// A timestamp's text is compared without its fraction.
bool SameValue(const std::string& got, const char* expected) {
  return got == expected || (std::strlen(expected) == 19 && got.compare(0, 19, expected) == 0 &&
                             got.find_first_not_of(".0", 19) == std::string::npos);
}

TEST_P(SqlText, MarkersInsideEscapesAndLiteralsEveryScannerReadsAlike) {
  for (const TextCase& c : kCases) {
    if (c.postgresOnly && !GetParam().postgres) continue;
    SCOPED_TRACE(c.name);
    for (bool prepared : {true, false}) {
      SCOPED_TRACE(prepared ? "prepared" : "direct");
      ResetStmt();
      std::vector<SQLLEN> ind;
      BindText(stmt_, c.params, ind);
      if (prepared) {
        KX_STMT_OK(Prepare(stmt_, c.sql));
        SQLSMALLINT n = -1;
        KX_STMT_OK(SQLNumParams(stmt_, &n));
        EXPECT_EQ(n, static_cast<SQLSMALLINT>(c.params.size()));
        KX_STMT_OK(SQLExecute(stmt_));
      } else {
        KX_STMT_OK(ExecDirect(stmt_, c.sql));
      }
      const std::vector<std::string> row = FirstRow(stmt_);
      ASSERT_EQ(row.size(), c.expected.size()) << Diag(SQL_HANDLE_STMT, stmt_);
      for (size_t i = 0; i < row.size(); ++i) EXPECT_TRUE(SameValue(row[i], c.expected[i])) << i << ": " << row[i];
    }
  }
}

// Scalar functions whose JDBC translation gives the wrong value or none:
// SECOND is whole seconds, TIMESTAMPDIFF counts every interval it promises
// (unit boundaries crossed), CONVERT is the database's CAST.
TEST_P(SqlText, FunctionsGiveOdbcValues) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT {fn SECOND({ts '2001-02-03 04:05:15.75'})}", "15"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_SECOND, {ts '2001-02-03 04:05:06'}, {ts '2001-02-03 04:06:07'})}", "61"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_MINUTE, {ts '2001-02-03 04:05:06'}, {ts '2001-02-03 06:05:00'})}", "120"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_HOUR, {ts '2001-02-03 04:05:15'}, {ts '2001-02-04 06:05:15'})}", "26"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_DAY, {ts '2001-02-03 23:00:00'}, {ts '2001-02-04 01:00:00'})}", "1"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_DAY, {ts '2001-02-04 01:00:00'}, {ts '2001-02-03 23:00:00'})}", "-1"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_WEEK, {d '2020-01-06'}, {d '2020-01-20'})}", "2"},
      // Weeks begin on Sunday.
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_WEEK, {d '2020-01-04'}, {d '2020-01-05'})}", "1"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_WEEK, {d '2020-01-05'}, {d '2020-01-06'})}", "0"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_MONTH, {ts '2001-02-03 04:05:15'}, {ts '2001-05-04 06:05:15'})}", "3"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_MONTH, {ts '2001-01-31 23:00:00'}, {ts '2001-02-01 01:00:00'})}", "1"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_QUARTER, {d '2001-03-31'}, {d '2002-04-01'})}", "5"},
      {"SELECT {fn TIMESTAMPDIFF(SQL_TSI_YEAR, {d '2001-12-31'}, {d '2003-01-01'})}", "2"},
      {"SELECT {fn CONVERT(12, SQL_CHAR)}", "12"},
      {"SELECT {fn CONVERT('42', SQL_INTEGER)} + 1", "43"},
      {"SELECT {fn CONVERT('1.25', SQL_DECIMAL)}", "1.25"},
      {"SELECT {fn CONVERT({d '2001-02-03'}, SQL_VARCHAR)}", "2001-02-03"},
      {"SELECT {fn CONVERT('2001-02-03', SQL_DATE)}", "2001-02-03"},
      {"SELECT {fn CONVERT('2001-02-03 04:05:06', SQL_TIMESTAMP)}", "2001-02-03 04:05:06"},
      {"SELECT {fn CONVERT(7, SQL_DOUBLE)} / 2", "3.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, c.sql));
    const std::vector<std::string> row = FirstRow(stmt_);
    ASSERT_EQ(row.size(), 1u) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_TRUE(SameValue(row[0], c.expected)) << row[0];
  }
  // SECOND is described as an integer.
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "SELECT {fn SECOND({ts '2001-02-03 04:05:15.75'})}"));
  SQLSMALLINT type = 0;
  KX_STMT_OK(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr));
  EXPECT_TRUE(type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_TINYINT) << type;
}

// What SQLGetInfo promises about the escapes holds: CONVERT is offered, and
// TIMESTAMPADD and TIMESTAMPDIFF take every interval claimed.
TEST_P(SqlText, InfoPromisesWhatTheEscapesDo) {
  EXPECT_NE(InfoU32(SQL_CONVERT_FUNCTIONS) & SQL_FN_CVT_CONVERT, 0u);
  const SQLUINTEGER allButFractions = SQL_FN_TSI_SECOND | SQL_FN_TSI_MINUTE | SQL_FN_TSI_HOUR | SQL_FN_TSI_DAY |
                                      SQL_FN_TSI_WEEK | SQL_FN_TSI_MONTH | SQL_FN_TSI_QUARTER | SQL_FN_TSI_YEAR;
  EXPECT_EQ(InfoU32(SQL_TIMEDATE_ADD_INTERVALS), allButFractions);
  EXPECT_EQ(InfoU32(SQL_TIMEDATE_DIFF_INTERVALS), allButFractions);
  const struct {
    SQLUINTEGER bit;
    const char* name;
  } intervals[] = {{SQL_FN_TSI_FRAC_SECOND, "FRAC_SECOND"}, {SQL_FN_TSI_SECOND, "SECOND"},
                   {SQL_FN_TSI_MINUTE, "MINUTE"},           {SQL_FN_TSI_HOUR, "HOUR"},
                   {SQL_FN_TSI_DAY, "DAY"},                 {SQL_FN_TSI_WEEK, "WEEK"},
                   {SQL_FN_TSI_MONTH, "MONTH"},             {SQL_FN_TSI_QUARTER, "QUARTER"},
                   {SQL_FN_TSI_YEAR, "YEAR"}};
  for (const auto& i : intervals) {
    if ((allButFractions & i.bit) == 0) continue;
    SCOPED_TRACE(i.name);
    const std::string add = std::string("SELECT {fn TIMESTAMPADD(SQL_TSI_") + i.name +
                            ", 1, {ts '2001-02-03 04:05:06'})}";
    EXPECT_NE(Scalar(add).find("2"), std::string::npos) << Scalar(add);
    EXPECT_EQ(Scalar(add).find("<failed"), std::string::npos) << Scalar(add);
    const std::string diff = std::string("SELECT {fn TIMESTAMPDIFF(SQL_TSI_") + i.name +
                             ", {ts '2001-02-03 04:05:06'}, {fn TIMESTAMPADD(SQL_TSI_" + i.name +
                             ", 3, {ts '2001-02-03 04:05:06'})})}";
    EXPECT_EQ(Scalar(diff), "3");
  }
}

// The conversion masks of the date and time types are the same whichever
// ODBC version the application declares.
TEST_P(SqlText, DatetimeConversionMasksInBothOdbcVersions) {
  SQLHENV env2 = SQL_NULL_HENV;
  SQLHDBC dbc2 = Odbc2Connection(&env2);
  for (SQLUSMALLINT type : {SQLUSMALLINT{SQL_CONVERT_DATE}, SQLUSMALLINT{SQL_CONVERT_TIME},
                            SQLUSMALLINT{SQL_CONVERT_TIMESTAMP}}) {
    SCOPED_TRACE(type);
    SQLUINTEGER v2 = 0;
    ASSERT_EQ(SQLGetInfo(dbc2, type, &v2, sizeof v2, nullptr), SQL_SUCCESS);
    const SQLUINTEGER v3 = InfoU32(type);
    EXPECT_NE(v3, 0u);
    EXPECT_NE(v3 & SQL_CVT_CHAR, 0u);
    EXPECT_EQ(v3, v2);
  }
  DropWithEnv(env2, dbc2);
}

// SQLNativeSql in the build's own form; *length gets the length it reports.
SQLRETURN NativeSql(bool unicode, SQLHDBC dbc, const std::string& sql, std::string* out, SQLINTEGER capacity,
                    SQLINTEGER* length) {
  if (unicode) {
    std::u16string in = U16(sql);
    std::u16string buf(static_cast<size_t>(capacity) + 1, u'\0');
    SQLRETURN rc = SQLNativeSqlW(dbc, reinterpret_cast<SQLWCHAR*>(in.data()), static_cast<SQLINTEGER>(in.size()),
                                 reinterpret_cast<SQLWCHAR*>(buf.data()), capacity, length);
    out->clear();
    for (char16_t ch : buf) {
      if (ch == 0) break;
      *out += static_cast<char>(ch);  // ASCII statements only
    }
    return rc;
  }
  std::string in = sql;
  std::string buf(static_cast<size_t>(capacity) + 1, '\0');
  SQLRETURN rc = SQLNativeSql(dbc, reinterpret_cast<SQLCHAR*>(in.data()), static_cast<SQLINTEGER>(in.size()),
                              reinterpret_cast<SQLCHAR*>(buf.data()), capacity, length);
  *out = buf.c_str();
  return rc;
}

// SQLNativeSql shows the statement as the database receives it: the null
// escape is the word null, nested outer joins are plain joins, and a long
// statement comes back whole (or, cut, with its whole length).
TEST_P(SqlText, NativeSqlShowsTheWholeTranslation) {
  const bool unicode = GetParam().unicode;
  std::string out;
  SQLINTEGER len = 0;
  KX_OK(NativeSql(unicode, dbc_, "SELECT {fn null}", &out, 256, &len), SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(out.compare(0, 11, "SELECT null"), 0) << out;
  EXPECT_EQ(out.find_first_not_of(' ', 11), std::string::npos) << out;
  KX_OK(NativeSql(unicode, dbc_,
                  "SELECT * FROM {oj a LEFT OUTER JOIN {oj b LEFT OUTER JOIN c ON b.x = c.x} ON a.x = b.x}", &out, 256,
                  &len),
        SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(out, "SELECT * FROM a LEFT OUTER JOIN b LEFT OUTER JOIN c ON b.x = c.x ON a.x = b.x");
  EXPECT_EQ(len, static_cast<SQLINTEGER>(out.size()));
  // Each marker stays one marker ('?', or PostgreSQL's "$n"), in every
  // function escape.
  for (const char* sql : {"SELECT {fn LOCATE(?, ?, 2)}", "SELECT {fn RIGHT(?, 2)}", "SELECT {fn CONCAT(?, ?)}",
                          "SELECT {fn INSERT(?, ?, ?, ?)}"}) {
    KX_OK(NativeSql(unicode, dbc_, sql, &out, 1024, &len), SQL_HANDLE_DBC, dbc_);
    long markers = std::count(out.begin(), out.end(), '?');
    for (size_t i = 0; i + 1 < out.size(); ++i) {
      if (out[i] == '$' && out[i + 1] >= '0' && out[i + 1] <= '9') ++markers;
    }
    EXPECT_EQ(markers, std::count(sql, sql + std::strlen(sql), '?')) << out;
  }

  const std::string big = "SELECT '" + std::string(1000044 - 9, 'x') + "'";
  ASSERT_EQ(big.size(), 1000044u);
  ASSERT_EQ(NativeSql(unicode, dbc_, big, &out, 4 * 1024 * 1024, &len), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(len, 1000044);
  EXPECT_TRUE(out == big) << out.size();
  ASSERT_EQ(NativeSql(unicode, dbc_, big, &out, 100, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "01004");
  EXPECT_EQ(len, 1000044);
  EXPECT_EQ(out, big.substr(0, 99));
}

INSTANTIATE_TEST_SUITE_P(Road, SqlText, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
