// Parameter arrays: rows ignored through the operation array, a row the
// agent refuses, the processed count and the status array, column-wise and
// row-wise layouts with a bind offset, and a SELECT run once per row through
// SQLMoreResults.
#include "unit/odbc/exec_fixture.h"

namespace kx::testing {
namespace {

class ParamArrayTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    SetAttr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_);
    SetAttr(SQL_ATTR_PARAM_STATUS_PTR, statuses_);
  }

  void Rows(SQLULEN n) { SetAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(n)); }

  SQLULEN processed_ = 99;
  SQLUSMALLINT statuses_[8] = {99, 99, 99, 99, 99, 99, 99, 99};
};

TEST_P(ParamArrayTest, IgnoredRowsAreLeftOutOfTheBlock) {
  Prepare("INSERT INTO t VALUES (?)", "*I:4");
  int32_t values[3] = {10, 20, 30};
  SQLLEN lengths[3] = {0, 0, 0};
  SQLUSMALLINT operations[3] = {SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED};
  Rows(3);
  SetAttr(SQL_ATTR_PARAM_OPERATION_PTR, operations);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, values, 0, lengths),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  ASSERT_EQ(b->rowCount, 2);
  EXPECT_EQ(Value<int32_t>(b, 0, 0), 10);
  EXPECT_EQ(Value<int32_t>(b, 0, 1), 30);
  EXPECT_EQ(processed_, 2u);
  EXPECT_EQ(statuses_[0], SQL_PARAM_SUCCESS);
  EXPECT_EQ(statuses_[1], SQL_PARAM_UNUSED);
  EXPECT_EQ(statuses_[2], SQL_PARAM_SUCCESS);
  EXPECT_EQ(statuses_[3], 99);
}

TEST_P(ParamArrayTest, IgnoredRowsAreNeverRead) {
  // An ignored row's length cell may hold anything; it must not size the
  // column or fail the execution.
  Prepare("INSERT INTO t VALUES (?)", "*I:12");
  char values[2][4] = {"ab", "zz"};
  SQLLEN lengths[2] = {SQL_NTS, -77};
  SQLUSMALLINT operations[2] = {SQL_PARAM_PROCEED, SQL_PARAM_IGNORE};
  Rows(2);
  SetAttr(SQL_ATTR_PARAM_OPERATION_PTR, operations);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, values, 4, lengths),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->rowCount, 1);
  EXPECT_EQ(Block()->columns[0].width, 3u);
}

TEST_P(ParamArrayTest, FailingRowStopsTheSet) {
  Prepare("INSERT INTO t VALUES (?)", "*I:4");
  int32_t values[4] = {1, 2, 2, 3};
  Rows(4);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, values, 0, nullptr),
            SQL_SUCCESS);
  // The agent ran rows 0 and 1 (one row each) and refused row 2.
  TestAgent_FailNext("ExecDirect", 63, "23000", "duplicate key");
  TestAgent_SetProperty(AP_STMT_ROW_COUNT, 2);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_, &text), "23000");
  EXPECT_NE(text.find("duplicate key"), std::string::npos);
  EXPECT_EQ(processed_, 3u);
  EXPECT_EQ(statuses_[0], SQL_PARAM_SUCCESS);
  EXPECT_EQ(statuses_[1], SQL_PARAM_SUCCESS);
  EXPECT_EQ(statuses_[2], SQL_PARAM_ERROR);
  EXPECT_EQ(statuses_[3], SQL_PARAM_UNUSED);
  // The statement executes again afterwards.
  TestAgent_UnsetProperty(AP_STMT_ROW_COUNT);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(processed_, 4u);
}

TEST_P(ParamArrayTest, WarningFromTheAgentCompletesTheExecution) {
  Prepare("UPDATE t SET a = ?", "*I:4");
  int32_t v = 5;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  TestAgent_FailNext("ExecDirect", 74, "01000", "careful");
  TestAgent_SetProperty(AP_STMT_ROW_COUNT, 6);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(processed_, 7u);
  EXPECT_EQ(Rec(stmt_)->state, STMT_PREPARED);
}

TEST_P(ParamArrayTest, ColumnWiseFixedTypesStepByTheirSize) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:8");
  int16_t shorts[3] = {1, -2, 3};
  double doubles[3] = {0.5, 1.5, 2.5};
  Rows(3);
  // The buffer length of a fixed-size type says nothing about its stride.
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 0, 0, shorts, 100,
                             nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, doubles, 3, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  ASSERT_EQ(b->rowCount, 3);
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(Value<int16_t>(b, 0, r), shorts[r]);
    EXPECT_EQ(Value<double>(b, 1, r), doubles[r]);
  }
}

TEST_P(ParamArrayTest, RowWiseBindingWithAnOffset) {
  struct Row {
    int32_t id;
    SQLLEN idInd;
    char name[8];
    SQLLEN nameLen;
  };
  Row rows[4] = {};
  // Rows 2 and 3 are the ones the offset points at.
  rows[2] = Row{7, 0, "seven", SQL_NTS};
  rows[3] = Row{0, SQL_NULL_DATA, "eight!", 5};
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:12");
  Rows(2);
  SetAttr(SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)));
  SQLLEN offset = 2 * sizeof(Row);
  SetAttr(SQL_ATTR_PARAM_BIND_OFFSET_PTR, &offset);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &rows[0].id, 0,
                             &rows[0].idInd),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, rows[0].name, 8,
                             &rows[0].nameLen),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  ASSERT_EQ(b->rowCount, 2);
  EXPECT_EQ(Value<int32_t>(b, 0, 0), 7);
  EXPECT_EQ(b->columns[0].indicators[1], RB_IND_NULL);
  EXPECT_EQ(Text(b, 1, 0), "seven");
  EXPECT_EQ(Text(b, 1, 1), "eight");
}

TEST_P(ParamArrayTest, SelectRunsOneRowPerResult) {
  TestAgent_SetResult("A:12", "x");
  Prepare("select a from t where b = ?", "*I:4");
  int32_t values[3] = {1, 2, 3};
  Rows(3);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, values, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->rowCount, 3);
  EXPECT_EQ(processed_, 1u);
  // The agent opens the next row's result on each call, then has no more.
  TestAgent_FailNext("MoreResults", 0, nullptr, nullptr);
  TestAgent_FailNext("MoreResults", 0, nullptr, nullptr);
  ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(processed_, 2u);
  EXPECT_EQ(Rec(stmt_)->colCount, 1);
  ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS);
  EXPECT_EQ(processed_, 3u);
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(processed_, 3u);
  EXPECT_EQ(StmtState(stmt_), "");
}

TEST_P(ParamArrayTest, MoreResultsWithoutResults) {
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(TestAgent_Calls("MoreResults"), 0);
  Prepare("DELETE FROM t", "");
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS);
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(StmtState(stmt_), "");
  TestAgent_FailNext("MoreResults", 54, "08S01", "link down");
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "08S01");
}

INSTANTIATE_TEST_SUITE_P(Flavours, ParamArrayTest, ::testing::Values(1, 0), FlavourName);

}  // namespace
}  // namespace kx::testing
