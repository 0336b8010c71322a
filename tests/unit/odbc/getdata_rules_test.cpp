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

// Numbers and date/time values read as text into a short buffer: a probe
// with no room reports the length and leaves the value unread; a buffer too
// short for the whole digits (or for a timestamp up to its seconds) is 22003
// and the value can still be read; a fraction that does not fit is cut with
// 01004, after which the value has been read.
TEST_F(GetDataRulesTest, NumbersAndTimestampsAsShortTextStayReadable) {
  struct Case {
    const char* what;
    int16_t sqlType;
    uint32_t rbType;
    uint32_t width;
    const char* cell;
    const char* text;   // the whole value as text
    SQLLEN tooShort;    // refused with 22003
    SQLLEN cutAt;       // cut with 01004 (0: none)
    const char* cut;
  } cases[] = {
      {"integer", SQL_INTEGER, RBT_SLONG, 4, "-123456", "-123456", 7, 0, nullptr},
      {"smallint", SQL_SMALLINT, RBT_SSHORT, 2, "-5", "-5", 2, 0, nullptr},
      {"double", SQL_DOUBLE, RBT_DOUBLE, 8, "1234.5678", "1234.5678", 4, 8, "1234.56"},
      {"double, point not left dangling", SQL_DOUBLE, RBT_DOUBLE, 8, "1234.5678", "1234.5678", 4, 6, "1234"},
      {"double in exponent form", SQL_DOUBLE, RBT_DOUBLE, 8, "1e+300", "1.0000000000000001e+300", 23, 0,
       nullptr},
      {"timestamp", SQL_TYPE_TIMESTAMP, RBT_TIMESTAMP, 16, "2024-01-02 03:04:05.250000000", "2024-01-02 03:04:05.25",
       19, 20, "2024-01-02 03:04:05"},
      {"date", SQL_TYPE_DATE, RBT_DATE, 6, "2024-02-29", "2024-02-29", 10, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SQLLEN whole = static_cast<SQLLEN>(std::strlen(c.text));
    Open(stmt_, {{"V", c.sqlType, c.rbType, c.width, 2}}, {{c.cell}, {c.cell}, {c.cell}});
    char buf[64];
    SQLLEN ind = 0;
    // Row 1: probe, then the value.
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 0, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(StmtState(stmt_), "01004");
    EXPECT_EQ(ind, whole);
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, c.text);
    EXPECT_EQ(ind, whole);
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
    // Row 2: too short, then the value.
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, c.tooShort, &ind), SQL_ERROR);
    EXPECT_EQ(Rec(stmt_)->error, KX_ERR_NUMERIC_RANGE);
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, c.text);
    // Row 3: the fraction cut, and then the value has been read.
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    if (c.cutAt == 0) continue;
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, c.cutAt, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(StmtState(stmt_), "01004");
    EXPECT_STREQ(buf, c.cut);
    EXPECT_EQ(ind, whole);
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
  }
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
