// Parameters of the C types the all-types row of exec_test.cpp leaves out.
//
// - SQL_C_GUID crosses as its 36-character text: a UUID column holds the same
//   GUID, a character column that text. A UUID column is an SQL_GUID column
//   on both databases; as binary it gives the 16 bytes the database keeps.
// - The interval C types bind to the SQL types ODBC converts them to: an
//   interval of their own class and character data (interval_test.cpp
//   carries their values and the refusals).
#include <cctype>
#include <cstring>
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

using ParamTypes = RoadTest;

// The hexadecimal digits of a text, upper case, without the dashes.
std::string HexDigits(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char ch = static_cast<unsigned char>(*p);
    if (std::isxdigit(ch)) out += static_cast<char>(std::toupper(ch));
  }
  return out;
}

const SQLGUID kGuid{0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST_P(ParamTypes, GuidIntoUuidAndCharacterColumns) {
  std::string table = Table("guids", "g UUID, t VARCHAR(40)");
  SQLGUID guid = kGuid;
  SQLLEN nullInd = SQL_NULL_DATA;
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?)"));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_GUID, SQL_GUID, 36, 0, &guid, 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_GUID, SQL_VARCHAR, 40, 0, &guid, 0, nullptr));
  KX_STMT_OK(SQLExecute(stmt_));
  // A NULL GUID stays NULL.
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_GUID, SQL_GUID, 36, 0, &guid, 0, &nullInd));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_GUID, SQL_VARCHAR, 40, 0, &guid, 0, &nullInd));
  KX_STMT_OK(SQLExecute(stmt_));

  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT g, t, g FROM " + table + " ORDER BY t NULLS LAST"));
  KX_STMT_OK(SQLFetch(stmt_));
  SQLGUID g{};  // a NULL GUID leaves it alone
  char text[64] = {0};
  SQLLEN ind = 0;
  // Both databases' UUID is a GUID of 36 characters, delivered as its text ...
  SQLSMALLINT type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  KX_STMT_OK(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
  EXPECT_EQ(type, SQL_GUID);
  EXPECT_EQ(size, 36u);
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &ind));
  EXPECT_EQ(HexDigits(text), "123456789ABCDEF00102030405060708") << text;
  KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &ind));
  EXPECT_STREQ(text, "12345678-9ABC-DEF0-0102-030405060708");
  // ... and as binary, exactly the 16 bytes the database keeps, never
  // padded out to the text's length.
  const unsigned char want[16] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0,
                                  1,    2,    3,    4,    5,    6,    7,    8};
  unsigned char bytes[40];
  std::memset(bytes, 0xee, sizeof bytes);
  KX_STMT_OK(SQLGetData(stmt_, 3, SQL_C_BINARY, bytes, sizeof bytes, &ind));
  EXPECT_EQ(ind, 16);
  EXPECT_EQ(std::memcmp(bytes, want, sizeof want), 0);
  EXPECT_EQ(bytes[16], 0xee);  // nothing written past the value
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_GUID, &g, sizeof g, &ind));
  EXPECT_EQ(ind, SQL_NULL_DATA);
  KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &ind));
  EXPECT_EQ(ind, SQL_NULL_DATA);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

TEST_P(ParamTypes, IntervalCTypesBindToTheirOwnClassAndText) {
  SQL_INTERVAL_STRUCT iv{};
  iv.interval_type = SQL_IS_DAY_TO_SECOND;
  iv.intval.day_second = {3, 4, 5, 6, 0};
  std::string table = Table("ivals", "t VARCHAR(40)");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?)"));
  const struct {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
  } kCases[] = {
      {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_INTERVAL_DAY_TO_SECOND},
      {SQL_C_INTERVAL_YEAR_TO_MONTH, SQL_INTERVAL_YEAR_TO_MONTH},
      {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_VARCHAR},
  };
  for (const auto& c : kCases) {
    SQLRETURN rc = SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, 20, 0, &iv, 0, nullptr);
    EXPECT_EQ(rc, SQL_SUCCESS) << c.cType << " " << Diag(SQL_HANDLE_STMT, stmt_);
  }
  // The last binding: a character column gets the interval's literal.
  KX_STMT_OK(SQLExecute(stmt_));
  EXPECT_EQ(Scalar("SELECT t FROM " + table), "INTERVAL '3 04:05:06' DAY TO SECOND");
}

// Text (SQL_C_CHAR) into columns of every kind, as Perl DBI binds its
// values: the database gets the value the text writes, also for a set whose
// values differ in length (a shorter value is padded in the parameter block).
TEST_P(ParamTypes, TextIntoColumnsOfEveryKind) {
  const bool pg = GetParam().postgres;
  std::string table =
      Table("texts", std::string("i INTEGER, f DOUBLE PRECISION, r REAL, n DECIMAL(10,2), d DATE, "
                                 "t TIME, ts TIMESTAMP, b ") + (pg ? "BOOLEAN" : "BOOLEAN"));
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
  const SQLSMALLINT kTypes[8] = {SQL_INTEGER,   SQL_DOUBLE,    SQL_REAL,           SQL_DECIMAL,
                                 SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP, SQL_BIT};
  // Two rows in one parameter array: the second row's texts are shorter.
  constexpr int kWidth = 32;
  char values[8][2][kWidth] = {
      {"123456", "7"},         {"1.5e3", "2"},        {"2.25", "1"},
      {"12345.67", "1.5"},     {"2024-02-29", "2024-3-1"}, {"23:59:58", "1:02:03"},
      {"2024-01-01 10:11:12.5", "2024-1-2 3:04:05"}, {"1", "0"}};
  SQLLEN lengths[8][2];
  for (int c = 0; c < 8; ++c) {
    for (int r = 0; r < 2; ++r) lengths[c][r] = SQL_NTS;
    KX_STMT_OK(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                                kTypes[c], 26, 2, values[c], kWidth, lengths[c]));
  }
  KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2), 0));
  KX_STMT_OK(SQLExecute(stmt_));

  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT i, f, r, n, d, t, ts, b FROM " + table + " ORDER BY i DESC"));
  const char* expected[2][8] = {
      {"123456", "1500", "2.25", "12345.67", "2024-02-29", "23:59:58", "2024-01-01 10:11:12", "1"},
      {"7", "2", "1", "1.50", "2024-03-01", "01:02:03", "2024-01-02 03:04:05", "0"}};
  for (int r = 0; r < 2; ++r) {
    KX_STMT_OK(SQLFetch(stmt_));
    for (int c = 0; c < 8; ++c) {
      char text[64] = {0};
      SQLLEN ind = 0;
      KX_STMT_OK(SQLGetData(stmt_, static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR, text, sizeof text, &ind));
      // The timestamp's fraction is printed to the database's precision.
      EXPECT_EQ(std::string(text).substr(0, std::strlen(expected[r][c])), expected[r][c])
          << "row " << r << " column " << c;
    }
  }
  SQL_TIMESTAMP_STRUCT ts{};
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT ts FROM " + table + " ORDER BY i DESC"));
  KX_STMT_OK(SQLFetch(stmt_));
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, nullptr));
  EXPECT_EQ(ts.fraction, 500000000u);
}

INSTANTIATE_TEST_SUITE_P(Road, ParamTypes, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
