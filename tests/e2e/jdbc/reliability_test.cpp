// Faults an unlucky or hostile application runs into: numbers and timestamps
// read as text into short buffers, indicators left holding odd values, and
// statements with many parameter markers.
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Reliability = RoadTest;

// Reads column 1 of the current row as text of the C type into a buffer of
// bufLen bytes; the text in UTF-8 (wide text is ASCII here).
SQLRETURN ReadText(SQLHSTMT stmt, SQLSMALLINT cType, SQLLEN bufLen, std::string* text, SQLLEN* ind) {
  std::vector<unsigned char> buf(static_cast<size_t>(bufLen) + 2, 0);
  const SQLRETURN rc = SQLGetData(stmt, 1, cType, buf.data(), bufLen, ind);
  text->clear();
  if (cType == SQL_C_CHAR) {
    *text = reinterpret_cast<char*>(buf.data());
  } else {
    for (size_t i = 0; i + 1 < buf.size(); i += 2) {
      const unsigned u = buf[i] | (buf[i + 1] << 8);
      if (u == 0) break;
      text->push_back(static_cast<char>(u));
    }
  }
  return rc;
}

// A number or timestamp read as text in pieces: a probe with no room learns
// the length and leaves the value unread; a buffer too short for the whole
// digits (or for a timestamp up to its seconds) is an error and the value can
// still be read; a fraction that does not fit is cut with 01004.
TEST_P(Reliability, NumbersAndTimestampsAsShortTextStayReadable) {
  const std::string t = Table("shorttext", "I INTEGER, S SMALLINT, D DOUBLE PRECISION, TS TIMESTAMP");
  Exec("INSERT INTO " + t + " VALUES (-123456, -5, 1234.5678, TIMESTAMP '2024-01-02 03:04:05.25')");
  struct Case {
    const char* column;
    size_t wholeLen;  // characters never cut
  } cases[] = {{"I", 7}, {"S", 2}, {"D", 4}, {"TS", 19}};
  std::vector<SQLSMALLINT> cTypes = {SQL_C_CHAR};
  if (GetParam().unicode) cTypes.push_back(SQL_C_WCHAR);
  for (SQLSMALLINT cType : cTypes) {
    const SQLLEN unit = cType == SQL_C_WCHAR ? 2 : 1;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.column) + " as C type " + std::to_string(cType));
      ResetStmt();
      KX_STMT_OK(ExecDirect(stmt_, "SELECT " + std::string(c.column) + " FROM " + t));
      KX_STMT_OK(SQLFetch(stmt_));
      std::string whole, got;
      SQLLEN ind = 0;
      ASSERT_EQ(ReadText(stmt_, cType, 0, &got, &ind), SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01004");
      ASSERT_GT(ind, 0);
      const SQLLEN length = ind;
      ASSERT_EQ(ReadText(stmt_, cType, 64, &whole, &ind), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(ind, length);
      EXPECT_EQ(static_cast<SQLLEN>(whole.size()) * unit, length);
      EXPECT_EQ(ReadText(stmt_, cType, 64, &got, &ind), SQL_NO_DATA);

      ResetStmt();
      KX_STMT_OK(ExecDirect(stmt_, "SELECT " + std::string(c.column) + " FROM " + t));
      KX_STMT_OK(SQLFetch(stmt_));
      EXPECT_EQ(ReadText(stmt_, cType, static_cast<SQLLEN>(c.wholeLen) * unit, &got, &ind), SQL_ERROR);
      ASSERT_EQ(ReadText(stmt_, cType, 64, &got, &ind), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(got, whole);
      if (c.wholeLen == whole.size()) continue;

      ResetStmt();
      KX_STMT_OK(ExecDirect(stmt_, "SELECT " + std::string(c.column) + " FROM " + t));
      KX_STMT_OK(SQLFetch(stmt_));
      ASSERT_EQ(ReadText(stmt_, cType, static_cast<SQLLEN>(c.wholeLen + 3) * unit, &got, &ind),
                SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01004");
      EXPECT_EQ(got, whole.substr(0, c.wholeLen + 2));
      EXPECT_EQ(ind, length);
      EXPECT_EQ(ReadText(stmt_, cType, 64, &got, &ind), SQL_NO_DATA);
    }
  }
}

// A fetch writes every bound column, whatever the indicator held before.
TEST_P(Reliability, FetchWritesColumnsWhoseIndicatorHeldColumnIgnore) {
  const std::string t = Table("ignoreind", "ID INTEGER, NAME VARCHAR(20)");
  Exec("INSERT INTO " + t + " VALUES (1, 'one')");
  Exec("INSERT INTO " + t + " VALUES (2, 'two')");
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT ID, NAME FROM " + t + " ORDER BY ID"));
  SQLINTEGER id = -1;
  SQLCHAR name[32] = "untouched";
  SQLLEN idInd = 0, nameInd = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &idInd));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &nameInd));
  const char* names[] = {"one", "two"};
  for (int row = 1; row <= 2; ++row) {
    idInd = nameInd = SQL_COLUMN_IGNORE;
    KX_STMT_OK(SQLFetch(stmt_));
    EXPECT_EQ(id, row);
    EXPECT_EQ(idInd, 4);
    EXPECT_STREQ(reinterpret_cast<char*>(name), names[row - 1]);
    EXPECT_EQ(nameInd, 3);
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

// The most parameter markers a statement may hold: such a statement prepares,
// reports its count, binds every marker and runs, and the first and last
// values arrive. One marker more is refused at prepare, and by SQLExecDirect,
// with an error that names the limit.
TEST_P(Reliability, StatementWithTheMostMarkersRunsAndOneMoreIsRefused) {
  constexpr int kLimit = 32767;
  const std::string t = Table("markers", "ID INTEGER");
  for (int id : {0, 1, kLimit, kLimit + 1}) {
    Exec("INSERT INTO " + t + " VALUES (" + std::to_string(id) + ")");
  }
  const auto statement = [&](int markers) {
    std::string sql = "SELECT COUNT(*) FROM " + t + " WHERE ID IN (?";
    sql.reserve(sql.size() + 2 * static_cast<size_t>(markers));
    for (int i = 1; i < markers; ++i) sql += ",?";
    return sql + ")";
  };
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, statement(kLimit)));
  SQLSMALLINT count = 0;
  KX_STMT_OK(SQLNumParams(stmt_, &count));
  EXPECT_EQ(count, kLimit);
  std::vector<SQLINTEGER> values(kLimit);
  std::vector<SQLLEN> inds(kLimit, 0);
  for (int i = 0; i < kLimit; ++i) {
    values[i] = i + 1;
    KX_STMT_OK(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_SLONG,
                                SQL_INTEGER, 0, 0, &values[i], 0, &inds[i]));
  }
  KX_STMT_OK(SQLExecute(stmt_));
  KX_STMT_OK(SQLFetch(stmt_));
  SQLINTEGER found = -1;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &found, 0, nullptr));
  EXPECT_EQ(found, 2);  // rows 1 and kLimit

  const std::string refused = "54000";
  const std::string limit = "the limit is " + std::to_string(kLimit);
  ResetStmt();
  EXPECT_EQ(Prepare(stmt_, statement(kLimit + 1)), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), refused);
  EXPECT_NE(Diag(SQL_HANDLE_STMT, stmt_).find(limit), std::string::npos) << Diag(SQL_HANDLE_STMT, stmt_);
  ResetStmt();
  EXPECT_EQ(ExecDirect(stmt_, statement(kLimit + 1)), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), refused);
  EXPECT_NE(Diag(SQL_HANDLE_STMT, stmt_).find(limit), std::string::npos) << Diag(SQL_HANDLE_STMT, stmt_);
  // Far beyond it the answer is the same.
  ResetStmt();
  EXPECT_EQ(Prepare(stmt_, statement(70000)), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), refused);
}

INSTANTIATE_TEST_SUITE_P(Roads, Reliability, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
