// The small statement calls: describing columns and their attributes, cursor
// names, SQLCloseCursor, SQLCancel, the counters, and SQLPrepare's argument
// rules, through the narrow and the wide entries of both builds.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "agent/build_flavor.h"
#include "odbc/handlers.h"
#include "unit/odbc/stmt_fixture.h"
#include "util/text_conv.h"

namespace kx::testing {
namespace {

std::u16string U(const char* text) {
  std::u16string out;
  for (const char* p = text; *p != '\0'; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

std::string Narrow(const SQLWCHAR* text) {
  std::string out;
  for (const SQLWCHAR* p = text; *p != 0; ++p) out.push_back(static_cast<char>(*p));
  return out;
}

// Runs every test once per build flavour.
class StmtApiTest : public StmtTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
  }

  int32_t Error(SQLHSTMT s) { return Rec(s)->error; }

  // A 12-character column, an integer column and a column whose label is
  // longer than the 40 characters the description's name holds.
  static constexpr const char* kLongLabel = "A_COLUMN_LABEL_LONGER_THAN_FORTY_CHARACTERS_X";
  void OpenThree(SQLHSTMT s) {
    std::string columns = std::string("ABCDEFGHIJKL:12,N:4,") + kLongLabel + ":1";
    OpenResult(s, columns.c_str());
  }
};

INSTANTIATE_TEST_SUITE_P(Builds, StmtApiTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param ? std::string("Unicode") : std::string("Ansi");
                         });

// ---- SQLDescribeCol ------------------------------------------------------------------

TEST_P(StmtApiTest, DescribeColCopiesTheNameByTheCopyOutRules) {
  OpenThree(stmt_);
  struct Case {
    SQLSMALLINT capacity;
    bool nullBuffer;
    SQLRETURN rc;
    const char* written;
    SQLSMALLINT length;
  } cases[] = {
      {13, false, SQL_SUCCESS, "ABCDEFGHIJKL", 12},
      {12, false, SQL_SUCCESS_WITH_INFO, "ABCDEFGHIJK", 12},
      {10, false, SQL_SUCCESS_WITH_INFO, "ABCDEFGHI", 12},
      {1, false, SQL_SUCCESS_WITH_INFO, "", 12},
      {0, true, SQL_SUCCESS, nullptr, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    char name[32];
    std::memset(name, 'z', sizeof name);
    SQLSMALLINT length = -1, type = 0, digits = -1, nullable = -1;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeCol(stmt_, 1, c.nullBuffer ? nullptr : reinterpret_cast<SQLCHAR*>(name),
                             c.capacity, &length, &type, &size, &digits, &nullable),
              c.rc);
    EXPECT_EQ(length, c.length);
    if (c.written != nullptr) {
      EXPECT_STREQ(name, c.written);
    }
    if (c.rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(StmtState(stmt_), "01004");
    }
    EXPECT_EQ(type, 12);
    EXPECT_EQ(size, 254u);
    EXPECT_EQ(digits, 0);
    EXPECT_EQ(nullable, SQL_NULLABLE);
  }
}

TEST_P(StmtApiTest, DescribeColWCountsCharacters) {
  OpenThree(stmt_);
  SQLWCHAR name[10];
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLDescribeColW(stmt_, 1, name, 10, &length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Narrow(name), "ABCDEFGHI");
  EXPECT_EQ(length, 12);
  EXPECT_EQ(StmtState(stmt_), "01004");
  SQLWCHAR whole[64];
  EXPECT_EQ(SQLDescribeColW(stmt_, 3, whole, 64, &length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(Narrow(whole), kLongLabel);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(kLongLabel)));
}

TEST_P(StmtApiTest, DescribeColRefusals) {
  OpenThree(stmt_);
  char name[16];
  // A negative length is refused, narrow and wide alike.
  EXPECT_EQ(SQLDescribeCol(stmt_, 1, reinterpret_cast<SQLCHAR*>(name), -1, nullptr, nullptr,
                           nullptr, nullptr, nullptr),
            SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  SQLWCHAR wide[8];
  EXPECT_EQ(SQLDescribeColW(stmt_, 1, wide, -2, nullptr, nullptr, nullptr, nullptr, nullptr),
            SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  for (SQLUSMALLINT column : {0, 4}) {
    EXPECT_EQ(SQLDescribeCol(stmt_, column, reinterpret_cast<SQLCHAR*>(name), sizeof name, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(Error(stmt_), KX_ERR_BAD_COLUMN_NUMBER);
  }
}

TEST_P(StmtApiTest, DescribeColOfTheBookmarkColumn) {
  OpenThree(stmt_);
  Rec(stmt_)->cursor.useBookmarks = 1;
  char name[16];
  SQLSMALLINT length = 0, type = 0, digits = -1, nullable = -1;
  SQLULEN size = 0;
  EXPECT_EQ(SQLDescribeCol(stmt_, 0, reinterpret_cast<SQLCHAR*>(name), sizeof name, &length, &type,
                           &size, &digits, &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(name, "BOOKMARK");
  EXPECT_EQ(length, 8);
  EXPECT_EQ(type, SQL_CHAR);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(digits, 0);
  EXPECT_EQ(nullable, SQL_NO_NULLS);
}

// ---- column attributes -----------------------------------------------------------------

TEST_P(StmtApiTest, ColumnLengthFollowsTheSqlType) {
  OpenResult(stmt_, "W:-9,N:2,B:-5,I:4,D:93,V:12,X:999");
  const struct {
    SQLUSMALLINT column;
    SQLLEN length;
  } cases[] = {{1, 508}, {2, 256}, {3, 20}, {4, 4}, {5, 16}, {6, 254}, {7, SQL_NO_TOTAL}};
  for (const auto& c : cases) {
    SQLLEN v = 0;
    EXPECT_EQ(SQLColAttributes(stmt_, c.column, SQL_COLUMN_LENGTH, nullptr, 0, nullptr, &v),
              SQL_SUCCESS);
    EXPECT_EQ(v, c.length) << "column " << c.column;
    v = 0;
    EXPECT_EQ(SQLColAttribute(stmt_, c.column, SQL_COLUMN_LENGTH, nullptr, 0, nullptr, &v),
              SQL_SUCCESS);
    EXPECT_EQ(v, c.length) << "column " << c.column;
  }
}

TEST_P(StmtApiTest, UpdatableFromTheDescriptionFlags) {
  OpenThree(stmt_);
  SQLSMALLINT n = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &n), SQL_SUCCESS);
  AgentColDesc* cols = Rec(stmt_)->colDescs;
  const struct {
    uint32_t bits;
    SQLLEN answer;
  } cases[] = {{0, SQL_ATTR_READWRITE_UNKNOWN}, {1, SQL_ATTR_READONLY}, {2, SQL_ATTR_WRITE}};
  for (const auto& c : cases) {
    cols[0].flags = (cols[0].flags & 0xF) | (c.bits << 4);
    SQLLEN v = -1;
    EXPECT_EQ(SQLColAttributes(stmt_, 1, SQL_COLUMN_UPDATABLE, nullptr, 0, nullptr, &v),
              SQL_SUCCESS);
    EXPECT_EQ(v, c.answer);
    v = -1;
    EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &v), SQL_SUCCESS);
    EXPECT_EQ(v, c.answer);
  }
}

// Every descriptor field SQLColAttribute answers is the IRD's answer.
TEST_P(StmtApiTest, DescriptorFieldsAnswerAsTheIrdDoes) {
  OpenResult(stmt_, "V:12,N:2,I:4,T:93,W:-9");
  SQLHDESC ird = StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
  const SQLUSMALLINT numeric[] = {
      SQL_DESC_CONCISE_TYPE, SQL_DESC_DISPLAY_SIZE, SQL_DESC_UNSIGNED, SQL_DESC_FIXED_PREC_SCALE,
      SQL_DESC_UPDATABLE, SQL_DESC_AUTO_UNIQUE_VALUE, SQL_DESC_CASE_SENSITIVE,
      SQL_DESC_SEARCHABLE, SQL_DESC_ROWVER, SQL_DESC_NUM_PREC_RADIX, SQL_DESC_TYPE,
      SQL_DESC_LENGTH, SQL_DESC_PRECISION, SQL_DESC_SCALE, SQL_DESC_NULLABLE, SQL_DESC_UNNAMED,
      SQL_DESC_OCTET_LENGTH};
  for (SQLUSMALLINT column = 1; column <= 5; ++column) {
    for (SQLUSMALLINT field : numeric) {
      SCOPED_TRACE(::testing::Message() << "column " << column << " field " << field);
      unsigned char raw[8] = {};
      SQLINTEGER width = 0;
      ASSERT_EQ(SQLGetDescField(ird, column, field, raw, sizeof raw, &width), SQL_SUCCESS);
      SQLLEN expected = 0;
      if (width == 2) {
        int16_t v;
        std::memcpy(&v, raw, 2);
        expected = v;
      } else if (width == 4) {
        int32_t v;
        std::memcpy(&v, raw, 4);
        expected = v;
      } else {
        std::memcpy(&expected, raw, 8);
      }
      SQLLEN got = -12345;
      EXPECT_EQ(SQLColAttribute(stmt_, column, field, nullptr, 0, nullptr, &got), SQL_SUCCESS);
      EXPECT_EQ(got, expected);
    }
    for (SQLUSMALLINT field : {SQL_DESC_LABEL, SQL_DESC_BASE_COLUMN_NAME, SQL_DESC_TABLE_NAME,
                               SQL_DESC_LOCAL_TYPE_NAME}) {
      char a[64] = {}, b[64] = {};
      SQLSMALLINT la = -1;
      SQLINTEGER lb = -1;
      ASSERT_EQ(SQLGetDescField(ird, column, field, b, sizeof b, &lb), SQL_SUCCESS);
      EXPECT_EQ(SQLColAttribute(stmt_, column, field, a, sizeof a, &la, nullptr), SQL_SUCCESS);
      EXPECT_STREQ(a, b);
      EXPECT_EQ(la, lb);
    }
  }
}

TEST_P(StmtApiTest, CountsOfColumns) {
  // A parameter image ("*O") in the description is no result column.
  OpenResult(stmt_, "A:4,B:4,*O1:4");
  SQLSMALLINT n = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &n), SQL_SUCCESS);
  EXPECT_EQ(n, 2);
  SQLLEN v = 0;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_COUNT, nullptr, 0, nullptr, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 2);
  // The ODBC 2 count is of every description.
  EXPECT_EQ(SQLColAttributes(stmt_, 1, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 3);
  // The image is described, but is no column of the result for ODBC 3.
  EXPECT_EQ(SQLColAttribute(stmt_, 3, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &v), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_COLUMN_NUMBER);
}

TEST_P(StmtApiTest, BookmarkColumnAttributes) {
  OpenThree(stmt_);
  Rec(stmt_)->cursor.useBookmarks = 1;
  const struct {
    SQLUSMALLINT field;
    SQLLEN value;
  } numbers[] = {{SQL_DESC_COUNT, 0}, {SQL_DESC_TYPE, SQL_CHAR}, {SQL_DESC_OCTET_LENGTH, 8},
                 {SQL_DESC_LENGTH, 0}, {SQL_DESC_CONCISE_TYPE, 0}, {SQL_DESC_NULLABLE, 0}};
  for (const auto& c : numbers) {
    SQLLEN v = -1;
    EXPECT_EQ(SQLColAttribute(stmt_, 0, c.field, nullptr, 0, nullptr, &v), SQL_SUCCESS);
    EXPECT_EQ(v, c.value) << c.field;
  }
  char text[8] = "xxxxxxx";
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLColAttribute(stmt_, 0, SQL_DESC_NAME, text, sizeof text, &length, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(length, 0);
  for (SQLUSMALLINT field : {SQL_COLUMN_LENGTH, SQL_COLUMN_NAME, SQL_COLUMN_COUNT}) {
    SQLLEN v = 0;
    EXPECT_EQ(SQLColAttribute(stmt_, 0, field, nullptr, 0, nullptr, &v), SQL_ERROR);
    EXPECT_EQ(Error(stmt_), KX_ERR_BAD_DESCRIPTOR_TYPE);
  }
}

TEST_P(StmtApiTest, ColumnAttributeTextRules) {
  OpenThree(stmt_);
  // Narrow: cut with 01004 and the whole length; a NULL buffer asks the length.
  char name[10];
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_NAME, name, sizeof name, &length, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(name, "ABCDEFGHI");
  EXPECT_EQ(length, 12);
  EXPECT_EQ(StmtState(stmt_), "01004");
  length = -1;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_LABEL, nullptr, 0, &length, nullptr), SQL_SUCCESS);
  EXPECT_EQ(length, 12);
  // The name is the whole label, not the description's 40 characters.
  char whole[64];
  EXPECT_EQ(SQLColAttribute(stmt_, 3, SQL_DESC_NAME, whole, sizeof whole, &length, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(whole, kLongLabel);
  // Wide: lengths in bytes; 12 bytes hold five characters and the terminator.
  SQLWCHAR wide[6];
  EXPECT_EQ(SQLColAttributeW(stmt_, 1, SQL_DESC_NAME, wide, 12, &length, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Narrow(wide), "ABCDE");
  EXPECT_EQ(length, 24);
  EXPECT_EQ(SQLColAttributesW(stmt_, 2, SQL_COLUMN_LABEL, wide, 12, &length, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(Narrow(wide), "N");
  EXPECT_EQ(length, 2);
}

TEST_P(StmtApiTest, ColumnAttributeRefusals) {
  // Nothing executed yet.
  SQLLEN v = 0;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &v), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_SEQUENCE);
  EXPECT_EQ(SQLColAttributes(stmt_, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &v), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_SEQUENCE);
  OpenThree(stmt_);
  char text[8];
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_LABEL, text, -1, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  EXPECT_EQ(SQLColAttributes(stmt_, 1, SQL_COLUMN_LABEL, text, -1, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  for (SQLUSMALLINT field : {19, 30, 1004, 1054}) {
    EXPECT_EQ(SQLColAttribute(stmt_, 1, field, nullptr, 0, nullptr, &v), SQL_ERROR);
    EXPECT_EQ(Error(stmt_), KX_ERR_BAD_DESCRIPTOR_TYPE) << field;
  }
  EXPECT_EQ(SQLColAttribute(stmt_, 9, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &v), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_COLUMN_NUMBER);
  EXPECT_EQ(SQLColAttributes(stmt_, 9, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &v), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_COLUMN_NUMBER);
  // Without an output the ODBC 2 numbers write nothing and succeed.
  EXPECT_EQ(SQLColAttributes(stmt_, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, nullptr),
            SQL_SUCCESS);
}

// ---- cursor names ----------------------------------------------------------------------

TEST_P(StmtApiTest, CursorNameDefaultsAndCuts) {
  char name[32];
  SQLSMALLINT length = -1;
  // No name from the agent: the statement's own default, the same each time.
  ASSERT_EQ(SQLGetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name), sizeof name, &length),
            SQL_SUCCESS);
  const std::string def = "SQL_CUR" + std::to_string(Rec(stmt_)->serial);
  EXPECT_EQ(name, def);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(def.size()));
  SQLHSTMT other = NewStmt();
  char otherName[32];
  ASSERT_EQ(SQLGetCursorName(other, reinterpret_cast<SQLCHAR*>(otherName), sizeof otherName,
                             nullptr),
            SQL_SUCCESS);
  EXPECT_STRNE(name, otherName);
  // "No results" from the agent is no failure either.
  TestAgent_FailNext("GetCursorName", KX_ERR_SEQUENCE, "S1010", nullptr);
  ASSERT_EQ(SQLGetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name), sizeof name, &length),
            SQL_SUCCESS);
  EXPECT_EQ(name, def);

  ASSERT_EQ(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("ORDERS_CUR")),
                             SQL_NTS),
            SQL_SUCCESS);
  const struct {
    SQLSMALLINT capacity;
    bool nullBuffer;
    SQLRETURN rc;
    const char* written;
  } cases[] = {{32, false, SQL_SUCCESS, "ORDERS_CUR"},
               {4, false, SQL_SUCCESS_WITH_INFO, "ORD"},
               {0, true, SQL_SUCCESS, nullptr}};
  for (const auto& c : cases) {
    length = -1;
    EXPECT_EQ(SQLGetCursorName(stmt_, c.nullBuffer ? nullptr : reinterpret_cast<SQLCHAR*>(name),
                               c.capacity, &length),
              c.rc);
    if (c.written != nullptr) {
      EXPECT_STREQ(name, c.written);
    }
    EXPECT_EQ(length, 10);
    if (c.rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(StmtState(stmt_), "01004");
    }
  }
  SQLWCHAR wide[4];
  EXPECT_EQ(SQLGetCursorNameW(stmt_, wide, 4, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Narrow(wide), "ORD");
  EXPECT_EQ(length, 10);
}

TEST_P(StmtApiTest, CursorNameRefusalsAndFailures) {
  char name[16];
  EXPECT_EQ(SQLGetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name), -1, nullptr), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  SQLWCHAR wide[4];
  EXPECT_EQ(SQLGetCursorNameW(stmt_, wide, -3, nullptr), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  EXPECT_EQ(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("C")), -5),
            SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  // A failing agent is an error with its message, not a warning.
  TestAgent_FailNext("GetCursorName", 15, "HY000", "driver gone");
  EXPECT_EQ(SQLGetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name), sizeof name, nullptr),
            SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_, &text), "HY000");
  EXPECT_NE(text.find("driver gone"), std::string::npos);
  TestAgent_FailNext("SetCursorName", 15, "HY000", "refused");
  EXPECT_EQ(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("C")), SQL_NTS),
            SQL_ERROR);
  // A wide name arrives as UTF-8; an explicit length is honoured.
  std::u16string w = U("WIDECURSOR");
  ASSERT_EQ(SQLSetCursorNameW(stmt_, reinterpret_cast<SQLWCHAR*>(w.data()), 4), SQL_SUCCESS);
  ASSERT_EQ(SQLGetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name), sizeof name, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(name, "WIDE");
}

// ---- SQLCloseCursor, SQLCancel ------------------------------------------------------------

TEST_P(StmtApiTest, CloseCursorOnlyWithAnOpenCursor) {
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_CURSOR_STATE);
  OpenThree(stmt_);
  const int closes = TestAgent_Calls("CloseCursor");
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("CloseCursor"), closes + 1);
  EXPECT_EQ(Rec(stmt_)->state, STMT_ALLOCATED);
  EXPECT_NE(Rec(stmt_)->flags & SF_PREPARED, 0);
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_CURSOR_STATE);
}

TEST_P(StmtApiTest, CancelOfAnIdleStatementClosesIt) {
  OpenThree(stmt_);
  Rec(stmt_)->daeState = 1;
  EXPECT_EQ(StmtCancel(Value(stmt_)), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S05");
  StmtRecord* st = Rec(stmt_);
  EXPECT_EQ(st->state, STMT_ALLOCATED);
  EXPECT_EQ(st->daeState, 0);
  EXPECT_NE(st->flags & SF_PREPARED, 0);
  EXPECT_EQ(st->flags & SF_EXECUTED, 0);
  EXPECT_EQ(TestAgent_Calls("Cancel"), 0);
  // Handles that are no live statement.
  EXPECT_EQ(StmtCancel(Value(dbc_)), SQL_INVALID_HANDLE);
  EXPECT_EQ(StmtCancel(0), SQL_INVALID_HANDLE);
}

TEST_P(StmtApiTest, CancelBesideARunningCallLeavesTheStatementToIt) {
  SQLHSTMT other = NewStmt();
  OpenThree(other);
  TestAgent_HoldNext("DDColumns");
  std::atomic<SQLRETURN> executed{-100};
  std::thread runner([&] {
    executed = SQLColumns(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  });
  ASSERT_EQ(TestAgent_WaitHeld(5000), 1);
  // The running statement: the agent is asked to cancel, nothing else changes.
  EXPECT_EQ(StmtCancel(Value(stmt_)), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Cancel"), 1);
  // Another statement of the busy connection is not closed under the call.
  EXPECT_EQ(StmtCancel(Value(other)), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Cancel"), 1);
  EXPECT_EQ(Rec(other)->state, STMT_PREPARED);
  TestAgent_Release();
  runner.join();
  EXPECT_EQ(executed.load(), SQL_SUCCESS);
  // Idle again: the other statement is closed now.
  EXPECT_EQ(StmtCancel(Value(other)), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Rec(other)->state, STMT_ALLOCATED);
}

// ---- counters and SQLPrepare --------------------------------------------------------------

TEST_P(StmtApiTest, CountersAskTheStatement) {
  SQLSMALLINT n = -1;
  EXPECT_EQ(SQLNumResultCols(stmt_, &n), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_SEQUENCE);
  EXPECT_EQ(SQLNumParams(stmt_, &n), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_SEQUENCE);
  TestAgent_SetParamDescs("*I:4,*B:4,*O:4");
  ASSERT_EQ(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("CALL P(?,?,?)")),
                       SQL_NTS),
            SQL_SUCCESS);
  EXPECT_EQ(SQLNumParams(stmt_, &n), SQL_SUCCESS);
  EXPECT_EQ(n, 3);
  // The row count is the agent's answer, whatever the state.
  SQLHSTMT fresh = NewStmt();
  TestAgent_SetProperty(AP_STMT_ROW_COUNT, 7);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(fresh, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 7);
  TestAgent_SetProperty(AP_STMT_ROW_COUNT, -1);
  EXPECT_EQ(SQLRowCount(fresh, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, -1);
  TestAgent_UnsetProperty(AP_STMT_ROW_COUNT);
  EXPECT_EQ(SQLRowCount(fresh, &rows), SQL_ERROR);
  EXPECT_EQ(Error(fresh), KX_ERR_NOT_SUPPORTED);
}

TEST_P(StmtApiTest, ParamOptionsSetsTheParameterSet) {
  SQLULEN processed = 0;
  EXPECT_EQ(SQLParamOptions(stmt_, 1, nullptr), SQL_SUCCESS);
  ConnRecord* conn = ConnRec(dbc_);
  const int32_t had = conn->cn_hasParamOp;
  conn->cn_hasParamOp = 1;
  EXPECT_EQ(SQLParamOptions(stmt_, 0, &processed), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_ROW_VALUE);
  EXPECT_EQ(SQLParamOptions(stmt_, 5, &processed), SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->paramsetSize, 5u);
  EXPECT_EQ(Rec(stmt_)->rowsProcessedPtr, &processed);
  conn->cn_hasParamOp = 0;
  EXPECT_EQ(SQLParamOptions(stmt_, 2, &processed), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_NOT_SUPPORTED);
  conn->cn_hasParamOp = had;
}

TEST_P(StmtApiTest, PrepareArgumentsAndSelectDetection) {
  EXPECT_EQ(SQLPrepare(stmt_, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  EXPECT_EQ(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT 1")), -5),
            SQL_ERROR);
  EXPECT_EQ(Error(stmt_), KX_ERR_BAD_LENGTH);
  const struct {
    const char* text;
    SQLINTEGER length;
    const char* sent;
    int isSelect;
  } cases[] = {{"select a from t", SQL_NTS, "select a from t", 1},
               {"  SELECT a FROM t", SQL_NTS, "  SELECT a FROM t", 0},
               {"SELECT a FROM t WHERE", 15, "SELECT a FROM t", 1},
               {"UPDATE t SET a = 1", SQL_NTS, "UPDATE t SET a = 1", 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(c.text)), c.length),
              SQL_SUCCESS);
    char sent[64] = {};
    TestAgent_LastSql(0, sent, sizeof sent);
    EXPECT_STREQ(sent, c.sent);
    EXPECT_EQ(Rec(stmt_)->isSelect, c.isSelect) << c.text;
  }
  std::u16string w = U("select x from y");
  ASSERT_EQ(SQLPrepareW(stmt_, reinterpret_cast<SQLWCHAR*>(w.data()), SQL_NTS), SQL_SUCCESS);
  char sent[64] = {};
  TestAgent_LastSql(0, sent, sizeof sent);
  EXPECT_STREQ(sent, "select x from y");
}

}  // namespace
}  // namespace kx::testing
