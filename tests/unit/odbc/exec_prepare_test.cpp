// The prepare step SQLPrepare and SQLExecDirect share, SQLExecDirect's own
// checks, and the two ways a block and its descriptors reach the agent.
#include "unit/odbc/exec_fixture.h"

namespace kx::testing {
namespace {

class ExecPrepareTest : public ExecTest {};

TEST_P(ExecPrepareTest, ExecDirectPreparesAndExecutes) {
  TestAgent_SetParamDescs("*I:4");
  int32_t v = 3;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  SQLCHAR sql[] = "INSERT INTO t VALUES (?) -- tail";
  ASSERT_EQ(SQLExecDirect(stmt_, sql, 24), SQL_SUCCESS) << StmtState(stmt_);
  char seen[64] = {0};
  EXPECT_EQ(TestAgent_LastSql(0, seen, sizeof seen), 24);
  EXPECT_STREQ(seen, "INSERT INTO t VALUES (?)");
  EXPECT_EQ(Value<int32_t>(Block(), 0, 0), 3);
  EXPECT_EQ(SQLExecDirect(stmt_, sql, -1), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  EXPECT_EQ(SQLExecDirect(stmt_, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  TestAgent_FailNext("Prepare", 68, "42000", "syntax");
  EXPECT_EQ(SQLExecDirect(stmt_, sql, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "42000");
}

TEST_P(ExecPrepareTest, ExecuteNeedsAPreparedStatementAndEveryParameter) {
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:4");
  int32_t v = 1;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07002");  // ODBC 3's state for a marker without a value
  SQLCHAR select[] = "  select 1";
  ASSERT_EQ(SQLPrepare(stmt_, select, SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->isSelect, 0);
  SQLCHAR lower[] = "select 1";
  ASSERT_EQ(SQLPrepare(stmt_, lower, SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->isSelect, 1);
}

// The most parameters a statement may hold are counted, bound and sent. An
// agent that describes more is refused at prepare with the error that names
// the limit, never with a count that SQLNumParams would wrap.
TEST_P(ExecPrepareTest, ParametersUpToTheLimitRunAndMoreAreRefused) {
  std::string descs = "*I:4";
  for (int i = 1; i < KX_MAX_PARAMS; ++i) descs += ",*I:4";
  Prepare("SELECT 1 FROM t WHERE a IN (?, ...)", descs.c_str());
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLNumParams(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, KX_MAX_PARAMS);
  std::vector<int32_t> values(KX_MAX_PARAMS);
  for (int i = 0; i < KX_MAX_PARAMS; ++i) {
    values[i] = i + 1;
    ASSERT_EQ(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_LONG,
                               SQL_INTEGER, 0, 0, &values[i], 0, nullptr),
              SQL_SUCCESS)
        << i + 1 << " " << StmtState(stmt_);
  }
  int32_t beyond = 0;
  EXPECT_EQ(SQLBindParameter(stmt_, KX_MAX_PARAMS + 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0,
                             &beyond, 0, nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07009");
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  ASSERT_EQ(Block()->colCount, KX_MAX_PARAMS);
  EXPECT_EQ(Value<int32_t>(Block(), 0, 0), 1);
  EXPECT_EQ(Value<int32_t>(Block(), KX_MAX_PARAMS - 1, 0), KX_MAX_PARAMS);

  TestAgent_SetParamDescs((descs + ",*I:4").c_str());
  SQLCHAR sql[] = "SELECT 1 FROM t WHERE a IN (?, ..., ?)";
  EXPECT_EQ(SQLPrepare(stmt_, sql, SQL_NTS), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_, &text), "54000");
  EXPECT_NE(text.find("Too many parameter markers (the limit is " + std::to_string(KX_MAX_PARAMS) + ")"),
            std::string::npos)
      << text;
  EXPECT_EQ(SQLNumParams(stmt_, &count), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_P(ExecPrepareTest, CursorTypeChangedByTheAgentIsAWarning) {
  StmtRecord* st = Rec(stmt_);
  st->cursor.cursorType = SQL_CURSOR_STATIC;
  TestAgent_SetProperty(AP_STMT_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  SQLCHAR sql[] = "UPDATE t SET a = 1";
  EXPECT_EQ(SQLExecDirect(stmt_, sql, SQL_NTS), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S02");
  EXPECT_EQ(st->cursor.cursorType, SQL_CURSOR_KEYSET_DRIVEN);
  EXPECT_EQ(st->state, STMT_PREPARED);
  EXPECT_NE(st->flags & SF_EXECUTED, 0);
  // The next prepare asks for the requested type again.
  TestAgent_SetProperty(AP_STMT_CURSOR_TYPE, SQL_CURSOR_STATIC);
  EXPECT_EQ(SQLPrepare(stmt_, sql, SQL_NTS), SQL_SUCCESS);
  int32_t asked = 0;
  ASSERT_EQ(TestAgent_LastSetProperty(AP_STMT_CURSOR_TYPE, &asked), 1);
  EXPECT_EQ(asked, SQL_CURSOR_STATIC);
}

TEST_P(ExecPrepareTest, WithoutExecute2TheBlockGoesThroughSetParams) {
  ConnRec(dbc_)->cn_hasExecute2 = 0;
  Prepare("INSERT INTO t VALUES (?)", "*I:4");
  int32_t v = 8;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(TestAgent_Calls("SetParams"), 2);
  EXPECT_EQ(TestAgent_Calls("Execute"), 2);
  EXPECT_EQ(TestAgent_Calls("ExecDirect"), 0);
  // The descriptors go with every execution this way.
  int calls = 0;
  AgentLastParamInfo(&calls);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Value<int32_t>(Block(), 0, 0), 8);
  TestAgent_FailNext("SetParams", 21, "HY000", "refused");
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(TestAgent_Calls("Execute"), 2);
}

TEST_P(ExecPrepareTest, AnAgentWithoutTheSlotLeavesNoBlockBehind) {
  // Named descriptors go through a slot this agent leaves empty: the call is
  // answered IM001 and the block, never handed over, is released here.
  ConnRec(dbc_)->cn_hasNamedParams = 1;
  Prepare("INSERT INTO t VALUES (?)", "*I:12");
  char text[] = "value";
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, text, 8, &nts),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "IM001");
  EXPECT_EQ(Block(), nullptr);
  ConnRec(dbc_)->cn_hasNamedParams = 0;
}

INSTANTIATE_TEST_SUITE_P(Flavours, ExecPrepareTest, ::testing::Values(1, 0), FlavourName);

}  // namespace
}  // namespace kx::testing
