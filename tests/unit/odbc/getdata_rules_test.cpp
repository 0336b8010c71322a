// SQLGetData outside the pieces: column numbers, the row it reads, NULLs,
// SQL_C_DEFAULT, numbers read twice and the bookmark column.
#include "odbc/exec/column_reader.h"
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

class GetDataRulesTest : public FetchTest {
 protected:
  void OpenTwo() {
    Open(stmt_, {{"I", SQL_INTEGER, RBT_SLONG, 4}, {"W", SQL_WVARCHAR, RBT_WCHAR_NTS, 20}},
         {{"42", "h\xC3\xA9"}, {std::nullopt, std::nullopt}});
  }
};

TEST_F(GetDataRulesTest, ColumnNumberIsCheckedAgainstTheResult) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER v = 0;
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 3, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07009");
  // Column 0 while bookmarks are off.
  unsigned char bm[8];
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_BINARY, bm, sizeof bm, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07009");
}

// The row block may carry more columns than the result describes (as the
// agent's blocks may): the statement's own count is the limit.
TEST_F(GetDataRulesTest, ColumnBeyondTheDescribedCountIsRefusedEvenInTheBlock) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  StmtRecord* st = Rec(stmt_);
  st->colCount = 1;
  SQLCHAR buf[16];
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
  EXPECT_EQ(st->error, KX_ERR_BAD_COLUMN_NUMBER);
  st->colCount = 2;
}

TEST_F(GetDataRulesTest, BeforeAnyFetchThereIsNoRow) {
  OpenTwo();
  SQLINTEGER v = 0;
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
  EXPECT_EQ(Rec(stmt_)->error, KX_ERR_CURSOR_STATE);
}

TEST_F(GetDataRulesTest, WithoutCursorIsASequenceError) {
  SQLINTEGER v = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_F(GetDataRulesTest, NumberReadTwiceIsNoData) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER v = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, &ind), SQL_NO_DATA);
  // Another column and back: a first call again.
  SQLWCHAR w[8];
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_WCHAR, w, sizeof w, &ind), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
}

TEST_F(GetDataRulesTest, NullWithAndWithoutIndicator) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER v = 99;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(ind, SQL_NULL_DATA);
  EXPECT_EQ(v, 0);
  SQLCHAR buf[8];
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, buf, sizeof buf, nullptr), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "22002");
}

TEST_F(GetDataRulesTest, DefaultCTypeOfWideTextFollowsTheOdbcVersion) {
  for (int version : {2, 3}) {
    SCOPED_TRACE(version);
    SetOdbcVersion(version);
    OpenTwo();
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    unsigned char buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    SQLLEN ind = 0;
    ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_DEFAULT, buf, sizeof buf, &ind), SQL_SUCCESS);
    if (version == 2) {
      EXPECT_STREQ(reinterpret_cast<char*>(buf), "h\xC3\xA9");
      EXPECT_EQ(ind, 3);
    } else {
      EXPECT_EQ(ind, 4);
      char16_t w[3];
      std::memcpy(w, buf, sizeof w);
      EXPECT_EQ(std::u16string(w, 2), u"h\u00e9");
      EXPECT_EQ(w[2], 0);
    }
  }
}

TEST_F(GetDataRulesTest, NullTargetIsAnInvalidArgument) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, nullptr, 0, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY009");
}

TEST_F(GetDataRulesTest, ArdTypeTakesTheDescriptorsConciseType) {
  OpenTwo();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLDOUBLE d = 0;
  // No ARD record for the column yet: refused.
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_ARD_TYPE, &d, 0, nullptr), SQL_ERROR);
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_DOUBLE), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_ARD_TYPE, &d, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(d, 42.0);
}

}  // namespace
}  // namespace kx::testing

namespace kx::testing {
namespace {

// Output parameters: the caller marks the call with code 80; the column is a
// parameter number, no result description is read, and the fraction digits
// are the binding's.
TEST_F(GetDataRulesTest, OutputParameterModeUsesTheBinding) {
  TheScript().cols = {{"P1", SQL_TYPE_TIMESTAMP, RBT_TIMESTAMP, 16}};
  TheScript().rows = {{"2024-01-02 03:04:05.123456000"}};
  RowBuffer rb{};
  ASSERT_EQ(FillRows(0, &rb, 0, 1), 0);
  TheScript().cols.clear();  // no result columns at all
  StmtRecord* st = Rec(stmt_);
  char text[40] = {};
  SQLLEN len = 0;
  ColBinding b{};
  b.column = 1;
  b.cType = SQL_C_CHAR;
  b.fractionDigits = 3;
  b.target = text;
  b.bufferLength = sizeof text;
  b.octetLength = &len;
  b.indicator = &len;
  st->error = KX_ERR_HAS_OUT_PARAMS;
  EXPECT_EQ(GetColumn(st, 0, &b, &rb), SQL_SUCCESS);
  EXPECT_EQ(st->error, 0);
  EXPECT_STREQ(text, "2024-01-02 03:04:05.123456");
  // Digits 0 in the binding: no fraction.
  b.fractionDigits = 0;
  st->getData.column = 0;
  st->error = KX_ERR_HAS_OUT_PARAMS;
  EXPECT_EQ(GetColumn(st, 0, &b, &rb), SQL_SUCCESS);
  EXPECT_STREQ(text, "2024-01-02 03:04:05");
  RB_Free(&rb);
}

}  // namespace
}  // namespace kx::testing
