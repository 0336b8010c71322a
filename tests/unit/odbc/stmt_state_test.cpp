// Statement records: allocation and release, the state an execution leaves
// and what closing does, descriptions, and the binding lists.
#include <cstring>

#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

class StmtStateTest : public StmtTest {};

TEST_F(StmtStateTest, AllocationNeedsAConnectedConnectionAndAnOutput) {
  SQLHDBC idle = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &idle), SQL_SUCCESS);
  SQLHSTMT s = reinterpret_cast<SQLHSTMT>(0x1234);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, idle, &s), SQL_ERROR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(State(SQL_HANDLE_DBC, idle), "08003");
  SQLHDESC d = reinterpret_cast<SQLHDESC>(0x1234);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, idle, &d), SQL_ERROR);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, nullptr), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "HY009");
  SQLFreeHandle(SQL_HANDLE_DBC, idle);
}

TEST_F(StmtStateTest, AgentRefusalLeavesNoStatement) {
  TestAgent_FailNext("AllocStmt", 54, "08S01", "link down");
  SQLHSTMT s = SQL_NULL_HSTMT;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s), SQL_ERROR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "08S01");
}

TEST_F(StmtStateTest, NewStatementStartsFromTheConnectionDefaults) {
  ConnRecord* conn = ConnRec(dbc_);
  conn->cursorDefaults.rowsetSize = 7;
  conn->cursorDefaults.cursorType = SQL_CURSOR_STATIC;
  conn->queryTimeout = 30;
  SQLHSTMT s = NewStmt();
  StmtRecord* st = Rec(s);
  EXPECT_EQ(st->cursor.rowsetSize, 7);
  EXPECT_EQ(st->cursor.cursorType, SQL_CURSOR_STATIC);
  EXPECT_EQ(st->queryTimeout, 30u);
  EXPECT_EQ(st->paramsetSize, 1u);
  EXPECT_EQ(st->state, STMT_ALLOCATED);
  EXPECT_EQ(st->serial, Rec(stmt_)->serial + 1);
  // Later changes of the defaults leave existing statements alone.
  conn->cursorDefaults.rowsetSize = 9;
  EXPECT_EQ(st->cursor.rowsetSize, 7);
  // Four implicit descriptors, each with its own handle.
  EXPECT_EQ(st->currentArd, st->implicitArd);
  EXPECT_EQ(st->currentApd, st->implicitApd);
  EXPECT_EQ(st->ird->kind, DK_IRD);
  EXPECT_EQ(st->ipd->kind, DK_IPD);
  EXPECT_NE(st->implicitArd->handle, st->ipd->handle);
}

TEST_F(StmtStateTest, FreeStmtOptions) {
  EXPECT_EQ(SQLFreeStmt(stmt_, 4), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY092");
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_INVALID_HANDLE);
  // Its descriptors went with it.
  SQLSMALLINT count = 0;
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE);
  stmt_ = SQL_NULL_HSTMT;
}

TEST_F(StmtStateTest, CloseTalksToTheAgentOnlyWithAnOpenCursor) {
  const int before = TestAgent_Calls("CloseCursor");
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("CloseCursor"), before);
  OpenResult(stmt_, "ID:4");
  StmtRecord* st = Rec(stmt_);
  ASSERT_NE(StmtDescribeCols(st), nullptr);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("CloseCursor"), before + 1);
  EXPECT_EQ(st->state, STMT_ALLOCATED);
  EXPECT_EQ(st->flags & SF_EXECUTED, 0);
  EXPECT_NE(st->flags & SF_PREPARED, 0) << "closing keeps the prepared statement";
  EXPECT_EQ(st->cursor.rowCount, -1);
  EXPECT_EQ(st->cursor.setPosRow, 0);
}

TEST_F(StmtStateTest, ColumnCountNeedsAResult) {
  StmtRecord* st = Rec(stmt_);
  int16_t n = -1;
  EXPECT_EQ(StmtNumResultCols(st, &n), KX_ERR_SEQUENCE);
  EXPECT_EQ(StmtNumParams(st, &n), KX_ERR_SEQUENCE);
  OpenResult(stmt_, "ID:4,*O1:4,NAME:12");
  EXPECT_EQ(StmtNumResultCols(st, &n), 0);
  EXPECT_EQ(n, 2) << "parameter images are no result columns";
  EXPECT_EQ(st->colCount, 3);
  // Described once per result.
  const int calls = TestAgent_Calls("DescribeCols");
  EXPECT_EQ(StmtNumResultCols(st, &n), 0);
  EXPECT_EQ(TestAgent_Calls("DescribeCols"), calls);
}

TEST_F(StmtStateTest, ColumnZeroIsTheBookmarkOnlyWithBookmarksOn) {
  OpenResult(stmt_, "ID:4");
  StmtRecord* st = Rec(stmt_);
  EXPECT_EQ(StmtGetColDesc(st, 0), nullptr);
  EXPECT_EQ(st->error, KX_ERR_BAD_COLUMN_NUMBER);
  st->cursor.useBookmarks = 1;
  const AgentColDesc* b = StmtGetColDesc(st, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->name, "BOOKMARK");
  EXPECT_EQ(b->sqlType, SQL_CHAR);
  EXPECT_EQ(b->columnSize, 8);
  EXPECT_EQ(StmtGetColDesc(st, 2), nullptr);
}

TEST_F(StmtStateTest, RowsPerBlock) {
  AgentColDesc cols[2] = {};
  cols[0].storageType = RBT_SLONG;
  EXPECT_EQ(StmtRowsPerBlock(cols, 1, 0), 60) << "65535 / 6 rows fit; the default fetch size caps";
  EXPECT_EQ(StmtRowsPerBlock(cols, 1, 20000), 10922);
  cols[1].storageType = RBT_CHAR;
  cols[1].elementLength = 100000;
  EXPECT_EQ(StmtRowsPerBlock(cols, 2, 60), 1) << "a row wider than a block still fetches";
  cols[1].storageType = RBT_WCHAR;
  cols[1].elementLength = 1000;
  EXPECT_EQ(StmtRowsPerBlock(cols, 2, 60), 32);  // 65535 / (6 + 2002)
  EXPECT_EQ(StmtRowsPerBlock(cols, 0, 60), 0);
}

// The array grows to the number and nine more, or to twice its room when
// that is more, never beyond the most parameters a statement may hold.
TEST_F(StmtStateTest, ParameterBindingArrayGrowsInSteps) {
  StmtRecord* st = Rec(stmt_);
  ParamBinding b{};
  b.number = 1;
  b.sqlType = SQL_INTEGER;
  b.cType = SQL_C_LONG;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_EQ(st->paramBindingCap, 10);
  b.number = 11;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_EQ(st->paramBindingCap, 20);
  b.number = 1016;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_EQ(st->paramBindingCap, 1025);
  b.number = KX_MAX_PARAMS - 5;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_EQ(st->paramBindingCap, KX_MAX_PARAMS);
  b.number = KX_MAX_PARAMS;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_NE(StmtGetParamBinding(1016, st), nullptr);
  EXPECT_NE(StmtGetParamBinding(KX_MAX_PARAMS, st), nullptr);
  EXPECT_EQ(StmtGetParamBinding(2, st), nullptr) << "an entry nobody bound";
  for (uint16_t bad : {uint16_t{0}, uint16_t{KX_MAX_PARAMS + 1}, uint16_t{65535}}) {
    b.number = bad;
    EXPECT_EQ(StmtSetParamBinding(st, &b), -1);
    EXPECT_EQ(st->error, KX_ERR_BAD_PARAM_NUMBER);
  }
}

TEST_F(StmtStateTest, RebindingAParameterKeepsItsDescriptionsCurrentUnlessItsTypeChanges) {
  StmtRecord* st = Rec(stmt_);
  ParamBinding b{};
  b.number = 1;
  b.sqlType = SQL_INTEGER;
  b.cType = SQL_C_LONG;
  b.columnSize = 10;
  b.direction = SQL_PARAM_INPUT;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  st->flags |= SF_PARAM_INFO_CURRENT;
  int buffer = 0;
  b.value = &buffer;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_NE(st->flags & SF_PARAM_INFO_CURRENT, 0);
  b.decimalDigits = 2;
  ASSERT_EQ(StmtSetParamBinding(st, &b), 0);
  EXPECT_EQ(st->flags & SF_PARAM_INFO_CURRENT, 0);
}

TEST_F(StmtStateTest, ParamOptionsDependOnTheAgent) {
  StmtRecord* st = Rec(stmt_);
  ConnRecord* conn = ConnRec(dbc_);
  conn->cn_hasParamOp = 0;
  EXPECT_EQ(StmtParamOptions(st, 1, nullptr), 0);
  EXPECT_EQ(StmtParamOptions(st, 2, nullptr), KX_ERR_NOT_SUPPORTED);
  conn->cn_hasParamOp = 1;
  EXPECT_EQ(StmtParamOptions(st, 0, nullptr), KX_ERR_BAD_ROW_VALUE);
  SQLULEN processed = 0;
  EXPECT_EQ(StmtParamOptions(st, 5, &processed), 0);
  EXPECT_EQ(st->paramsetSize, 5u);
  EXPECT_EQ(st->rowsProcessedPtr, &processed);
}

// Disconnecting frees the connection's statements and descriptors; their
// handles are dead afterwards.
TEST_F(StmtStateTest, DisconnectFreesStatementsAndDescriptors) {
  SQLHSTMT other = NewStmt();
  SQLHDESC user = NewDesc();
  ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, user, 0), SQL_SUCCESS);
  SQLHDESC ird = StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLFreeStmt(other, SQL_CLOSE), SQL_INVALID_HANDLE);
  SQLSMALLINT count = 0;
  EXPECT_EQ(SQLGetDescField(user, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetDescField(ird, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE);
  stmt_ = SQL_NULL_HSTMT;
  extraStmts_.clear();
  descs_.clear();
}

TEST_F(StmtStateTest, AgentMessagesArriveOnTheStatement) {
  OpenResult(stmt_, "ID:4");
  StmtRecord* st = Rec(stmt_);
  StmtDropColumnDescs(st);
  TestAgent_FailNext("DescribeCols", 15, "HY000", "describe failed");
  int16_t n = 0;
  EXPECT_EQ(StmtNumResultCols(st, &n), 15);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_, &text), "HY000");
  EXPECT_NE(text.find("describe failed"), std::string::npos);
}

}  // namespace
}  // namespace kx::testing
