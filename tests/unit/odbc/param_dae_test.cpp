// Data at execution collected by the driver: the order SQLParamData hands
// out the values in, pieces put with SQLPutData, NULL and empty values, the
// sequence errors, and a sequence that fails half-way.
#include "unit/odbc/exec_fixture.h"

namespace kx::testing {
namespace {

class ParamDaeTest : public ExecTest {
 protected:
  SQLRETURN ParamData(SQLPOINTER* token) { return SQLParamData(stmt_, token); }
  SQLRETURN Put(const void* data, SQLLEN length) {
    return SQLPutData(stmt_, const_cast<void*>(data), length);
  }
};

TEST_P(ParamDaeTest, TokensComeRowByRowThenTheExecution) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:12,*I:12");
  char first[2][4], second[2][4];
  SQLLEN lengths1[2] = {SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC};
  SQLLEN lengths2[2] = {SQL_LEN_DATA_AT_EXEC(3), SQL_LEN_DATA_AT_EXEC(3)};
  SQLULEN processed = 0;
  SetAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2));
  SetAttr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, first, 4, lengths1),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, second, 4, lengths2),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  const struct {
    void* token;
    SQLULEN row;
    const char* value;
  } expected[] = {{first, 1, "a1"}, {second, 1, "b1"}, {first, 2, "a2"}, {second, 2, "b2"}};
  for (const auto& e : expected) {
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, e.token);
    EXPECT_EQ(processed, e.row);
    ASSERT_EQ(Put(e.value, SQL_NTS), SQL_SUCCESS);
  }
  EXPECT_EQ(TestAgent_Calls("ExecDirect"), 0);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(ParamData(&token), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  ASSERT_EQ(b->rowCount, 2);
  EXPECT_EQ(Text(b, 0, 0), "a1");
  EXPECT_EQ(Text(b, 1, 0), "b1");
  EXPECT_EQ(Text(b, 0, 1), "a2");
  EXPECT_EQ(Text(b, 1, 1), "b2");
  EXPECT_EQ(processed, 2u);
  // Over: the sequence calls are out of place again.
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_P(ParamDaeTest, PiecesNullAndEmpty) {
  Prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?)", "*I:-4,*I:12,*I:12,*I:12,*I:12");
  SQLLEN dae[5] = {SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC, SQL_LEN_DATA_AT_EXEC(5),
                   SQL_DATA_AT_EXEC};
  char buffers[5][4];
  for (SQLUSMALLINT i = 0; i < 5; ++i) {
    const SQLSMALLINT cType = i == 0 ? SQL_C_BINARY : SQL_C_CHAR;
    const SQLSMALLINT sqlType = i == 0 ? SQL_LONGVARBINARY : SQL_VARCHAR;
    ASSERT_EQ(SQLBindParameter(stmt_, i + 1, SQL_PARAM_INPUT, cType, sqlType, 10, 0, buffers[i], 4, &dae[i]),
              SQL_SUCCESS);
  }
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER token = nullptr;
  // Parameter 1: two pieces of 3 and 4 bytes.
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("\x01\x02\x03", 3), SQL_SUCCESS);
  ASSERT_EQ(Put("\x04\x05\x06\x07", 4), SQL_SUCCESS);
  // Parameter 2: NULL.
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  // Parameter 3: a zero-length piece, an empty value.
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("ignored", 0), SQL_SUCCESS);
  // Parameters 4 and 5: nothing put.
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(ParamData(&token), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  ASSERT_EQ(b->colCount, 5);
  EXPECT_EQ(b->columns[0].indicators[0], RB_IND_DATA);
  EXPECT_EQ(Value<uint32_t>(b, 0, 0), 7u);
  EXPECT_EQ(Bytes(b, 0, 0).substr(4, 7), "\x01\x02\x03\x04\x05\x06\x07");
  EXPECT_EQ(b->columns[1].indicators[0], RB_IND_NULL);
  EXPECT_EQ(b->columns[2].indicators[0], RB_IND_DATA);
  EXPECT_EQ(Text(b, 2, 0), "");
  // SQL_LEN_DATA_AT_EXEC(n) without data: NULL; SQL_DATA_AT_EXEC: empty.
  EXPECT_EQ(b->columns[3].indicators[0], RB_IND_NULL);
  EXPECT_EQ(b->columns[4].indicators[0], RB_IND_DATA);
}

TEST_P(ParamDaeTest, CollectedValuesOfFixedTypesAndDates) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:91");
  int32_t number = 0;
  char date[20];
  SQLLEN dae = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &number, 0, &dae),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_DATE, 10, 0, date, 20, &dae),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  const int32_t value = 1234;
  // The length of a fixed-size value is its C type's size, whatever is passed.
  ASSERT_EQ(Put(&value, 99), SQL_SUCCESS);
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("2001-02-03", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(ParamData(&token), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  EXPECT_EQ(Value<int32_t>(b, 0, 0), 1234);
  // Plain text stays text: it is never read as a date structure.
  EXPECT_EQ(b->columns[1].type, RBT_CHAR);
  EXPECT_EQ(Text(b, 1, 0), "2001-02-03");
}

TEST_P(ParamDaeTest, SequenceErrors) {
  SQLPOINTER token = nullptr;
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  EXPECT_EQ(Put("x", 1), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");

  Prepare("INSERT INTO t VALUES (?)", "*I:12");
  char buffer[4];
  SQLLEN dae = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, buffer, 4, &dae),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  // Data before SQLParamData named a value has no place to go.
  EXPECT_EQ(Put("x", 1), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  // A second execution while values are pending.
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  EXPECT_EQ(Put(nullptr, 5), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY009");
  // A negative length that names nothing is an invalid length.
  EXPECT_EQ(Put("x", -7), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  ASSERT_EQ(Put("xy", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(ParamData(&token), SQL_SUCCESS);
  EXPECT_EQ(Text(Block(), 0, 0), "xy");
}

// A value put as NULL takes no other piece, and no NULL follows a piece:
// HY020, and the value stays as it was.
TEST_P(ParamDaeTest, NothingConcatenatesWithANull) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:12,*I:12");
  char buffers[2][4];
  SQLLEN dae[2] = {SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC};
  for (SQLUSMALLINT i = 0; i < 2; ++i) {
    ASSERT_EQ(SQLBindParameter(stmt_, i + 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, buffers[i], 4, &dae[i]),
              SQL_SUCCESS);
  }
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  EXPECT_EQ(Put("ab", 2), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY020");
  EXPECT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY020");
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("cd", 2), SQL_SUCCESS);
  EXPECT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY020");
  ASSERT_EQ(ParamData(&token), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->columns[0].indicators[0], RB_IND_NULL) << "parameter 1 stays NULL";
  EXPECT_EQ(Text(Block(), 1, 0), "cd");
}

TEST_P(ParamDaeTest, AFailureHalfWayEndsTheSequence) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:12,*I:4");
  char buffer[4];
  SQLLEN dae = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, buffer, 4, &dae),
            SQL_SUCCESS);
  // Parameter 2 is not bound: the execution at the end of the sequence fails.
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("ab", 2), SQL_SUCCESS);
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07002");
  // The statement is free for a new execution.
  int32_t v = 1;
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState(stmt_);
  ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
  ASSERT_EQ(Put("cd", 2), SQL_SUCCESS);
  // The agent refuses the execution: again nothing stays pending.
  TestAgent_FailNext("ExecDirect", 63, "23000", "duplicate");
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState(stmt_);
  // Closing the statement ends a pending sequence too.
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_P(ParamDaeTest, BackendDrivenValuesGoToTheAgent) {
  ConnRec(dbc_)->cn_hasV2DAE = 1;
  Prepare("INSERT INTO t VALUES (?)", "*I:12");
  char buffer[8];
  SQLLEN dae = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, buffer, 8, &dae),
            SQL_SUCCESS);
  TestAgent_FailNext("ExecDirect", 102, nullptr, nullptr);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState(stmt_);
  EXPECT_EQ(Block()->columns[0].indicators[0], RB_IND_DAE);
  // The test agent has no ParamData slot: the sequence ends with an error
  // and leaves nothing pending.
  SQLPOINTER token = nullptr;
  EXPECT_EQ(ParamData(&token), SQL_ERROR);
  EXPECT_EQ(Rec(stmt_)->daeState, 0);
  ConnRec(dbc_)->cn_hasV2DAE = 0;
}

INSTANTIATE_TEST_SUITE_P(Flavours, ParamDaeTest, ::testing::Values(1, 0), FlavourName);

}  // namespace
}  // namespace kx::testing
