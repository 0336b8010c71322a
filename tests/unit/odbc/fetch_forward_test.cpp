// Forward-only fetch: blocks from the agent handed out row by row, bound
// columns, offsets, NULLs, statuses and the end of the result.
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

class FetchForwardTest : public FetchTest {
 protected:
  // n rows of (ID integer, NAME varchar(20)).
  void OpenNumbered(int n, uint32_t fetchSize) {
    ConnRec(dbc_)->cn_fetchSize = fetchSize;
    std::vector<std::vector<Cell>> rows;
    for (int i = 1; i <= n; ++i) rows.push_back({std::to_string(i), "name" + std::to_string(i)});
    Open(stmt_, {{"ID", SQL_INTEGER, RBT_SLONG, 4}, {"NAME", SQL_VARCHAR, RBT_CHAR_NTS, 20}}, rows);
  }
};

TEST_F(FetchForwardTest, RowsSpanSeveralAgentBlocksAndEndWithNoData) {
  OpenNumbered(10, 3);
  SQLINTEGER id = 0;
  SQLCHAR name[32];
  SQLLEN idInd = 0, nameInd = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &nameInd), SQL_SUCCESS);
  for (int i = 1; i <= 10; ++i) {
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << "row " << i;
    EXPECT_EQ(id, i);
    EXPECT_EQ(idInd, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), "name" + std::to_string(i));
    EXPECT_EQ(nameInd, static_cast<SQLLEN>(std::strlen(reinterpret_cast<char*>(name))));
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  // Blocks of 3: four with rows, then empty answers.
  const std::vector<uint16_t>& wanted = TheScript().wanted;
  ASSERT_GE(wanted.size(), 5u);
  for (uint16_t w : wanted) EXPECT_EQ(w, 3);
}

TEST_F(FetchForwardTest, StatusAndRowsFetchedOnTheSingleRowRoad) {
  OpenNumbered(2, 60);
  SQLUSMALLINT status = 99;
  SQLULEN fetched = 99;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(status, SQL_ROW_SUCCESS);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(Rec(stmt_)->rowNumber, 1u);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->rowNumber, 2u);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(status, SQL_ROW_NOROW);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(Rec(stmt_)->rowNumber, 2u);
}

TEST_F(FetchForwardTest, Odbc2FetchLeavesStatusRowsFetchedAndRowNumberAlone) {
  OpenNumbered(1, 60);
  SetOdbcVersion(2);
  SQLUSMALLINT status = 77;
  SQLULEN fetched = 77;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  SQLINTEGER id = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(status, 77);
  EXPECT_EQ(fetched, 77u);
  EXPECT_EQ(Rec(stmt_)->rowNumber, 0u);
}

TEST_F(FetchForwardTest, RetrieveDataOffPositionsWithoutFillingBuffers) {
  OpenNumbered(2, 60);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_RETRIEVE_DATA, reinterpret_cast<SQLPOINTER>(SQL_RD_OFF), 0),
            SQL_SUCCESS);
  SQLINTEGER id = -5;
  SQLUSMALLINT status = 99;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, -5);
  EXPECT_EQ(status, SQL_ROW_SUCCESS);
  // GetData still reads the row the fetch positioned on.
  SQLINTEGER got = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &got, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(got, 1);
}

// SQLGetData reads a bound column whole, the last bound one included (the
// fetch's own delivery of it is no piece of an SQLGetData read), and a
// second call on it finds nothing left.
TEST_F(FetchForwardTest, GetDataReadsEveryBoundColumn) {
  OpenNumbered(2, 60);
  SQLINTEGER id = 0;
  SQLCHAR name[16];
  SQLLEN idInd = 0, nameInd = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &nameInd), SQL_SUCCESS);
  for (int row = 1; row <= 2; ++row) {
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    SQLCHAR got[16] = {0};
    SQLLEN gotInd = 0;
    ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, got, sizeof got, &gotInd), SQL_SUCCESS) << StmtState(stmt_);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got)), "name" + std::to_string(row));
    EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, got, sizeof got, &gotInd), SQL_NO_DATA);
    SQLINTEGER v = 0;
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, row);
  }
}

// An indicator is the fetch's output: whatever the application left in it
// (SQL_COLUMN_IGNORE, -6, means something only to SQLSetPos and
// SQLBulkOperations), the fetch writes the value and the indicator, on the
// single-row road and on the ODBC 2 road alike.
TEST_F(FetchForwardTest, LeftoverIndicatorNeverSkipsAColumn) {
  for (int version : {3, 2}) {
    SCOPED_TRACE(version);
    SetOdbcVersion(version);
    OpenNumbered(2, 60);
    SQLINTEGER id = -5;
    SQLCHAR name[16] = "zzz";
    SQLLEN idInd = SQL_COLUMN_IGNORE, nameInd = SQL_COLUMN_IGNORE;
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, &idInd), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &nameInd), SQL_SUCCESS);
    for (int row = 1; row <= 2; ++row) {
      idInd = nameInd = SQL_COLUMN_IGNORE;
      ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
      EXPECT_EQ(id, row);
      EXPECT_EQ(idInd, 4);
      EXPECT_STREQ(reinterpret_cast<char*>(name), ("name" + std::to_string(row)).c_str());
      EXPECT_EQ(nameInd, 5);
    }
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  }
}

TEST_F(FetchForwardTest, NullsGiveIndicatorOrNeedOne) {
  Open(stmt_, {{"A", SQL_INTEGER, RBT_SLONG, 4}, {"B", SQL_VARCHAR, RBT_CHAR_NTS, 10}},
       {{std::nullopt, std::nullopt}, {std::nullopt, "x"}});
  SQLINTEGER a = 1234;
  SQLLEN aInd = 0;
  SQLCHAR b[8] = "zzzzzzz";
  SQLLEN bInd = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &a, 0, &aInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, b, sizeof b, &bInd), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(aInd, SQL_NULL_DATA);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(bInd, SQL_NULL_DATA);
  // The same column bound without an indicator: 22002.
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &a, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "22002");
}

TEST_F(FetchForwardTest, TruncationInOneColumnMakesTheRowAWarning) {
  Open(stmt_, {{"A", SQL_VARCHAR, RBT_CHAR_NTS, 20}, {"B", SQL_INTEGER, RBT_SLONG, 4}}, {{"abcdefgh", "7"}});
  SQLCHAR a[4];
  SQLLEN aInd = 0;
  SQLINTEGER b = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, a, sizeof a, &aInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &b, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01004");
  EXPECT_STREQ(reinterpret_cast<char*>(a), "abc");
  EXPECT_EQ(aInd, 8);
  EXPECT_EQ(b, 7);
}

// The bind offset is added to the descriptor's addresses at every fetch: a
// changed offset moves the next row, and an offset back at 0 writes at the
// bound addresses again (never the sum of earlier offsets).
TEST_F(FetchForwardTest, BindOffsetAppliesOncePerFetch) {
  OpenNumbered(3, 60);
  struct Row {
    SQLINTEGER id;
    SQLLEN ind;
  } rows[3] = {};
  SQLLEN offset = 0;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].ind), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  offset = 2 * sizeof(Row);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  offset = 0;
  rows[0] = {};
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(rows[0].id, 3);
  EXPECT_EQ(rows[0].ind, 4);
  EXPECT_EQ(rows[1].id, 0);
  EXPECT_EQ(rows[2].id, 2);
  EXPECT_EQ(rows[2].ind, 4);
}

TEST_F(FetchForwardTest, AgentFailureIsAnErrorAndTheRowStays) {
  OpenNumbered(2, 60);
  SQLINTEGER id = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr), SQL_SUCCESS);
  TheScript().failNextFetch = KX_ERR_COMM_LINK;
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "08S01");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 1);
}

TEST_F(FetchForwardTest, FetchWithoutCursorIsASequenceError) {
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_F(FetchForwardTest, ForwardOnlyRefusesOtherOrientations) {
  OpenNumbered(2, 60);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY106");
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
}

// SQL_C_BINARY of a BIGINT column is the 8-byte integer, through the
// application's buffer length.
TEST_F(FetchForwardTest, BinaryOfBigintHonoursTheBufferLength) {
  Open(stmt_, {{"B", SQL_BIGINT, RBT_CHAR_NTS, 20}}, {{"1234567890123"}, {"5"}});
  unsigned char buf[16];
  std::memset(buf, 0xAB, sizeof buf);
  SQLLEN ind = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_BINARY, buf, 8, &ind), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  int64_t v = 0;
  std::memcpy(&v, buf, 8);
  EXPECT_EQ(v, 1234567890123LL);
  EXPECT_EQ(ind, 8);
  EXPECT_EQ(buf[8], 0xAB);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_BINARY, buf, 4, &ind), SQL_SUCCESS);
  std::memset(buf, 0xAB, sizeof buf);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(Rec(stmt_)->error, KX_ERR_NUMERIC_RANGE);  // 22003
  EXPECT_EQ(buf[4], 0xAB);
}

TEST_F(FetchForwardTest, StorageTypesReachTheirCTypes) {
  Open(stmt_,
       {{"S", SQL_SMALLINT, RBT_SSHORT, 2},
        {"D", SQL_DOUBLE, RBT_DOUBLE, 8},
        {"DT", SQL_TYPE_DATE, RBT_DATE, 6},
        {"TS", SQL_TYPE_TIMESTAMP, RBT_TIMESTAMP, 16, 3},
        {"C", SQL_CHAR, RBT_CHAR, 5},
        {"L", SQL_VARCHAR, RBT_CHAR_LEN2, 10},
        {"P", SQL_LONGVARCHAR, RBT_CHAR_PTR, 100},
        {"W", SQL_WVARCHAR, RBT_WCHAR_LEN4, 10},
        {"X", SQL_VARBINARY, RBT_BINARY_LEN1, 10}},
       {{"-7", "2.5", "2024-02-29", "2024-02-29 13:14:15.123000000", "ab", "len2", "pointer", "w\xC3\xA9",
         std::string("\x01\xFF", 2)}});
  struct Case {
    SQLUSMALLINT col;
    SQLSMALLINT cType;
    const char* text;
  } cases[] = {{1, SQL_C_CHAR, "-7"},
               {2, SQL_C_CHAR, "2.5"},
               {3, SQL_C_CHAR, "2024-02-29"},
               {4, SQL_C_CHAR, "2024-02-29 13:14:15.123"},
               {5, SQL_C_CHAR, "ab   "},
               {6, SQL_C_CHAR, "len2"},
               {7, SQL_C_CHAR, "pointer"},
               {8, SQL_C_CHAR, "w\xC3\xA9"},
               {9, SQL_C_CHAR, "01FF"}};
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  for (const Case& c : cases) {
    char out[64] = {};
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt_, c.col, c.cType, out, sizeof out, &ind), SQL_SUCCESS) << c.col;
    EXPECT_STREQ(out, c.text) << c.col;
    EXPECT_EQ(ind, static_cast<SQLLEN>(std::strlen(c.text))) << c.col;
  }
}

}  // namespace
}  // namespace kx::testing
