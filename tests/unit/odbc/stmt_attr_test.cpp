// Statement options and attributes, and SQLBindCol, against the test agent.
#include <cstring>

#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

constexpr uint64_t kCanary = 0xA5A5A5A5A5A5A5A5ull;

class StmtAttrTest : public StmtTest {};

TEST_F(StmtAttrTest, RowsetSizeTheAgentCapsIsReadBackAfter01S02) {
  TestAgent_FailNext("SetProperty", 75, nullptr, nullptr);
  TestAgent_SetProperty(AP_STMT_ROWSET_SIZE, 100);
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, 500), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S02");
  SQLULEN option = kCanary;
  EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_ROWSET_SIZE, &option), SQL_SUCCESS);
  EXPECT_EQ(option, 100u);
  SQLULEN attr = kCanary;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &attr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(attr, 100u);
}

TEST_F(StmtAttrTest, RowsetSizeZeroMeansOne) {
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, 0), SQL_SUCCESS);
  int32_t sent = 0;
  ASSERT_EQ(TestAgent_LastSetProperty(AP_STMT_ROWSET_SIZE, &sent), 1);
  EXPECT_EQ(sent, 1);
}

TEST_F(StmtAttrTest, RowArraySizeGoesThroughTheArdAndTheAgent) {
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(20), 0),
            SQL_SUCCESS);
  int32_t sent = 0;
  ASSERT_EQ(TestAgent_LastSetProperty(AP_STMT_ROWSET_SIZE, &sent), 1);
  EXPECT_EQ(sent, 20);
  EXPECT_EQ(Rec(stmt_)->implicitArd->arraySize, 20u);
  SQLULEN size = 0;
  EXPECT_EQ(SQLGetDescField(StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC), 0, SQL_DESC_ARRAY_SIZE, &size, 0,
                            nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(size, 20u);
}

TEST_F(StmtAttrTest, QueryTimeoutBelowZeroIsSentAsZero) {
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(-5), 0),
            SQL_SUCCESS);
  int32_t sent = -1;
  ASSERT_EQ(TestAgent_LastSetProperty(AP_STMT_QUERY_TIMEOUT, &sent), 1);
  EXPECT_EQ(sent, 0);
}

// Every SQLULEN attribute fills all 8 bytes of the caller's variable.
TEST_F(StmtAttrTest, SqlulenAttributesAreWrittenAsEightBytes) {
  TestAgent_SetProperty(AP_STMT_MAX_ROWS, 0);
  const SQLINTEGER attrs[] = {SQL_ATTR_QUERY_TIMEOUT,  SQL_ATTR_MAX_ROWS,      SQL_ATTR_MAX_LENGTH,
                              SQL_ATTR_ROW_BIND_TYPE,  SQL_ATTR_CURSOR_TYPE,   SQL_ATTR_CONCURRENCY,
                              SQL_ATTR_KEYSET_SIZE,    SQL_ATTR_ASYNC_ENABLE,  SQL_ATTR_RETRIEVE_DATA,
                              SQL_ATTR_USE_BOOKMARKS,  SQL_ATTR_SIMULATE_CURSOR, SQL_ATTR_ROW_ARRAY_SIZE,
                              SQL_ATTR_PARAM_BIND_TYPE, SQL_ATTR_PARAMSET_SIZE};
  for (SQLINTEGER a : attrs) {
    uint64_t v = kCanary;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, a, &v, 0, nullptr), SQL_SUCCESS) << a;
    EXPECT_EQ(v >> 32, 0u) << "attribute " << a << " left the upper half";
  }
}

TEST_F(StmtAttrTest, MaxLengthWithAndWithoutTheCapability) {
  // Without it only 0 is taken as asked.
  ConnRec(dbc_)->cn_agentMaxLength = 0;
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_MAX_LENGTH, 0), SQL_SUCCESS);
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_MAX_LENGTH, 100), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S02");
  EXPECT_EQ(Rec(stmt_)->maxLength, 0u);
  // With it a small limit is raised to 8192.
  ConnRec(dbc_)->cn_agentMaxLength = 1;
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_MAX_LENGTH, 100), SQL_SUCCESS_WITH_INFO);
  int32_t sent = 0;
  ASSERT_EQ(TestAgent_LastSetProperty(AP_STMT_MAX_LENGTH, &sent), 1);
  EXPECT_EQ(sent, 8192);
  EXPECT_EQ(Rec(stmt_)->maxLength, 8192u);
}

TEST_F(StmtAttrTest, OptionsKeptInTheStatementOnly) {
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_USE_BOOKMARKS, 1), SQL_SUCCESS);
  EXPECT_EQ(SQLSetStmtOption(stmt_, SQL_BIND_TYPE, 24), SQL_SUCCESS);
  int32_t sent = 0;
  EXPECT_EQ(TestAgent_LastSetProperty(AP_STMT_USE_BOOKMARKS, &sent), 0);
  SQLULEN v = 0;
  EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_USE_BOOKMARKS, &v), SQL_SUCCESS);
  EXPECT_EQ(v & 0xFFFFFFFF, 1u);
  // SQL_ATTR_ROW_BIND_TYPE reaches the statement through its ARD.
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(48), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->bindType, 48);
  EXPECT_EQ(Rec(stmt_)->implicitArd->bindType, 48);
}

TEST_F(StmtAttrTest, RefusedAttributes) {
  struct Case {
    SQLINTEGER attr;
    SQLPOINTER value;
    const char* state;
  } cases[] = {
      {SQL_ATTR_METADATA_ID, reinterpret_cast<SQLPOINTER>(1), "HYC00"},
      {9999, nullptr, "HY092"},
      {SQL_ATTR_IMP_ROW_DESC, nullptr, "HY092"},
      {SQL_ATTR_CURSOR_SENSITIVITY, reinterpret_cast<SQLPOINTER>(7), "HY024"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SQLSetStmtAttr(stmt_, c.attr, c.value, 0), SQL_ERROR) << c.attr;
    EXPECT_EQ(StmtState(stmt_), c.state) << c.attr;
  }
  EXPECT_EQ(SQLSetStmtOption(stmt_, 4711, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY092");
  EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_ROWSET_SIZE, nullptr), SQL_SUCCESS);
}

TEST_F(StmtAttrTest, CursorStateOptionsNeedAnOpenCursor) {
  SQLULEN v = 0;
  EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_ROW_NUMBER, &v), SQL_ERROR);
  EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_GET_BOOKMARK, &v), SQL_ERROR);
}

TEST_F(StmtAttrTest, ScrollableCursorThatTheAgentKeepsForwardOnly) {
  TestAgent_FailNext("SetProperty", 75, nullptr, nullptr);
  TestAgent_SetProperty(AP_STMT_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_SCROLLABLE),
                           0),
            SQL_SUCCESS_WITH_INFO);
  SQLUINTEGER scrollable = 9;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SCROLLABLE, &scrollable, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(scrollable, static_cast<SQLUINTEGER>(SQL_NONSCROLLABLE));
  // Taken as asked: keyset-driven.
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_SCROLLABLE),
                           0),
            SQL_SUCCESS);
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SCROLLABLE, &scrollable, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(scrollable, static_cast<SQLUINTEGER>(SQL_SCROLLABLE));
  EXPECT_EQ(Rec(stmt_)->cursor.cursorType, SQL_CURSOR_KEYSET_DRIVEN);
}

// The sensitivity reads back as what the cursor is: keyset-driven and dynamic
// cursors read rows afresh, a read-only static cursor keeps what it read, and
// the rest depend on the database.
TEST_F(StmtAttrTest, CursorSensitivityIsWhatTheCursorIs) {
  struct Case {
    SQLULEN type;
    SQLULEN concurrency;
    SQLULEN sensitivity;
  } cases[] = {
      {SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_READ_ONLY, SQL_UNSPECIFIED},
      {SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, SQL_INSENSITIVE},
      {SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, SQL_UNSPECIFIED},
      {SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_READ_ONLY, SQL_SENSITIVE},
      {SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_VALUES, SQL_SENSITIVE},
      {SQL_CURSOR_DYNAMIC, SQL_CONCUR_READ_ONLY, SQL_SENSITIVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " concurrency " << c.concurrency);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(c.concurrency), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(c.type), 0),
              SQL_SUCCESS);
    SQLULEN got = kCanary;
    ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SENSITIVITY, &got, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(got & 0xFFFFFFFFu, c.sensitivity);
  }

  // Asked for, each reads back; a forward-only cursor cannot promise to be
  // sensitive and says so with 01S02.
  SQLULEN got = kCanary;
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_SENSITIVITY, reinterpret_cast<SQLPOINTER>(SQL_INSENSITIVE), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SENSITIVITY, &got, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(got & 0xFFFFFFFFu, static_cast<SQLULEN>(SQL_INSENSITIVE));
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0),
            SQL_SUCCESS);
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_SENSITIVITY, reinterpret_cast<SQLPOINTER>(SQL_SENSITIVE), 0),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S02");
  got = kCanary;
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SENSITIVITY, &got, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(got & 0xFFFFFFFFu, static_cast<SQLULEN>(SQL_UNSPECIFIED));
}

TEST_F(StmtAttrTest, StatusAndCounterPointersAcceptNull) {
  SQLUSMALLINT statuses[4];
  SQLULEN counter = 0;
  const SQLINTEGER attrs[] = {SQL_ATTR_PARAM_STATUS_PTR, SQL_ATTR_PARAMS_PROCESSED_PTR,
                              SQL_ATTR_ROWS_FETCHED_PTR, SQL_ATTR_ROW_STATUS_PTR};
  for (SQLINTEGER a : attrs) {
    SQLPOINTER p = (a == SQL_ATTR_PARAM_STATUS_PTR || a == SQL_ATTR_ROW_STATUS_PTR)
                       ? static_cast<SQLPOINTER>(statuses)
                       : static_cast<SQLPOINTER>(&counter);
    EXPECT_EQ(SQLSetStmtAttr(stmt_, a, p, 0), SQL_SUCCESS) << a;
    SQLPOINTER back = nullptr;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, a, &back, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(back, p) << a;
    EXPECT_EQ(SQLSetStmtAttr(stmt_, a, nullptr, 0), SQL_SUCCESS) << a;
    back = p;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, a, &back, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(back, nullptr) << a << " still answers the stopped pointer";
  }
  EXPECT_EQ(Rec(stmt_)->ird->rowsProcessedPtr, nullptr);
  EXPECT_EQ(Rec(stmt_)->ipd->arrayStatusPtr, nullptr);
}

TEST_F(StmtAttrTest, ApplicationDescriptorHandles) {
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  EXPECT_EQ(Value(ard), Rec(stmt_)->implicitArd->handle);
  SQLINTEGER length = 0;
  SQLHDESC ipd = SQL_NULL_HDESC;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_IMP_PARAM_DESC, &ipd, SQL_IS_POINTER, &length), SQL_SUCCESS);
  EXPECT_EQ(length, SQL_IS_POINTER);
  EXPECT_EQ(Value(ipd), Rec(stmt_)->ipd->handle);

  SQLHDESC user = NewDesc();
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, user, 0), SQL_SUCCESS);
  EXPECT_EQ(StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC), user);
  // The implicit descriptor of another statement cannot be installed.
  SQLHSTMT other = NewStmt();
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, StmtDesc(other, SQL_ATTR_APP_ROW_DESC), 0),
            SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY017");
  // SQL_NULL_HDESC gives the statement its own descriptor back.
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, SQL_NULL_HDESC, 0), SQL_SUCCESS);
  EXPECT_EQ(StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC), ard);
}

// ---- SQLBindCol ----------------------------------------------------------------

TEST_F(StmtAttrTest, BindColTakesTheFixedSizeOfTheType) {
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_LONG, &value, 0, &ind), SQL_SUCCESS);
  ColBinding* b = StmtGetColBinding(3, Rec(stmt_));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->bufferLength, 4);
  EXPECT_EQ(b->octetLength, &ind);
  EXPECT_EQ(b->indicator, &ind);
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  SQLSMALLINT count = 0;
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  // Unbinding leaves the record without a data pointer.
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(StmtGetColBinding(3, Rec(stmt_)), nullptr);
  SQLPOINTER data = &value;
  EXPECT_EQ(SQLGetDescField(ard, 3, SQL_DESC_DATA_PTR, &data, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
  EXPECT_EQ(data, nullptr);
}

TEST_F(StmtAttrTest, BindColRefusals) {
  char buffer[8];
  SQLLEN ind = 0;
  EXPECT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, buffer, -1, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  EXPECT_EQ(StmtGetColBinding(1, Rec(stmt_)), nullptr);
  // Column 0 needs bookmarks and a bookmark C type.
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_BOOKMARK_PERSISTENCE, 0);
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_BINARY, buffer, 8, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HYC00");
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_BOOKMARK_PERSISTENCE, SQL_BP_SCROLL);
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_LONG, buffer, 8, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY003");
  // Every bookmark takes 8 bytes: a shorter variable-length element would be
  // overrun; a longer one keeps its size (the stride of a column-wise array).
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_BINARY, buffer, 3, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  EXPECT_EQ(StmtGetColBinding(0, Rec(stmt_)), nullptr);
  char wide[16];
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_BINARY, wide, 16, &ind), SQL_SUCCESS);
  EXPECT_EQ(StmtGetColBinding(0, Rec(stmt_))->bufferLength, 16);
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_BINARY, buffer, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(StmtGetColBinding(0, Rec(stmt_))->bufferLength, 8);
  EXPECT_EQ(SQLBindCol(stmt_, 0, SQL_C_UBIGINT, buffer, 100, &ind), SQL_SUCCESS);
  EXPECT_EQ(StmtGetColBinding(0, Rec(stmt_))->bufferLength, 8);
}

// Row-wise binding: the stride and the offset pointer reach the ARD and the
// statement; rebinding a column keeps its place in the list.
TEST_F(StmtAttrTest, BindColWithOffsetsAndStrides) {
  struct Row {
    SQLINTEGER id;
    SQLLEN idInd;
    char name[16];
    SQLLEN nameInd;
  } rows[3];
  SQLLEN offset = sizeof(Row);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].nameInd),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &rows[0].id, 0, &rows[0].idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, rows[0].name, 10, &rows[0].nameInd), SQL_SUCCESS);

  StmtRecord* st = Rec(stmt_);
  EXPECT_EQ(st->bindType, static_cast<int32_t>(sizeof(Row)));
  ASSERT_NE(st->colBindings, nullptr);
  EXPECT_EQ(st->colBindings->binding.column, 2);
  EXPECT_EQ(st->colBindings->binding.bufferLength, 10);
  ASSERT_NE(st->colBindings->next, nullptr);
  EXPECT_EQ(st->colBindings->next->binding.column, 1);

  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  SQLINTEGER bindType = 0;
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_BIND_TYPE, &bindType, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(bindType, static_cast<SQLINTEGER>(sizeof(Row)));
  SQLLEN* offsetBack = nullptr;
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_BIND_OFFSET_PTR, &offsetBack, SQL_IS_POINTER, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(offsetBack, &offset);
  SQLPOINTER back = nullptr;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &back, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(back, &offset);
  // ARD record 2: LENGTH is the buffer less its terminator.
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetDescField(ard, 2, SQL_DESC_LENGTH, &length, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(length, 9);
  SQLLEN octets = 0;
  EXPECT_EQ(SQLGetDescField(ard, 2, SQL_DESC_OCTET_LENGTH, &octets, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(octets, 10);
}

}  // namespace
}  // namespace kx::testing
