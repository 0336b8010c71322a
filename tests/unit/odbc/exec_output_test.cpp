// Output and input-output parameters: what the block carries for them, the
// delivery into the application's buffers after the execution (and through
// SQLMoreResults), and the buffers that must never be touched.
#include "unit/odbc/exec_fixture.h"

namespace kx::testing {
namespace {

class ExecOutputTest : public ExecTest {};

TEST_P(ExecOutputTest, OutputAndInOutValuesAreDelivered) {
  Prepare("{call p(?, ?, ?)}", "*I:4,*O:4,*B:12");
  int32_t in = 5;
  int32_t out = -1;
  SQLLEN outInd = 0;
  char inout[10] = "abc";
  SQLLEN inoutLen = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &in, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &out, 0, &outInd),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, inout,
                             sizeof inout, &inoutLen),
            SQL_SUCCESS);
  TestAgent_FailNext("ExecDirect", 80, nullptr, nullptr);
  TestAgent_SetOutputRow("42|a longer answer");
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS_WITH_INFO) << StmtState(stmt_);
  EXPECT_EQ(StmtState(stmt_), "01004");
  EXPECT_EQ(out, 42);
  EXPECT_EQ(outInd, 4);
  // Cut to the buffer with the whole length reported.
  EXPECT_STREQ(inout, "a longer ");
  EXPECT_EQ(inoutLen, 15);
  // The block: the input and the in-out value; the in-out column has room
  // for the whole output buffer.
  const RowBuffer* b = Block();
  ASSERT_EQ(b->colCount, 2);
  EXPECT_EQ(Value<int32_t>(b, 0, 0), 5);
  EXPECT_EQ(Text(b, 1, 0), "abc");
  EXPECT_GE(b->columns[1].width, sizeof inout);
}

TEST_P(ExecOutputTest, InputBuffersAreNeverWritten) {
  // The agent calls parameter 1 an output, the application bound it as an
  // input: its buffer and its SQL_NTS length stay as they were.
  Prepare("{call p(?, ?)}", "*O:12,*O:4");
  char in[8] = "keep";
  SQLLEN inLen = SQL_NTS;
  int32_t out = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, in, sizeof in, &inLen),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &out, 0, nullptr),
            SQL_SUCCESS);
  TestAgent_FailNext("ExecDirect", 80, nullptr, nullptr);
  TestAgent_SetOutputRow("changed|7");
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_STREQ(in, "keep");
  EXPECT_EQ(inLen, SQL_NTS);
  EXPECT_EQ(out, 7);
}

TEST_P(ExecOutputTest, OutputOnlyBindingSendsNullAndReadsNothing) {
  // The agent describes the parameter as an input; the application bound it
  // for output only, with a length cell it never filled.
  Prepare("{call p(?)}", "*I:4");
  int32_t out = 0;
  SQLLEN garbage = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &out, 0, &garbage),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  ASSERT_EQ(Block()->colCount, 1);
  EXPECT_EQ(Block()->columns[0].indicators[0], RB_IND_NULL);

  // A text output bound this way still gets a column with room for its buffer.
  char text[30];
  SQLLEN textLen = -77;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, text, sizeof text,
                             &textLen),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->columns[0].indicators[0], RB_IND_NULL);
  EXPECT_GE(Block()->columns[0].width, sizeof text);

  // Bound with neither buffer nor length: still a valid binding.
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
}

TEST_P(ExecOutputTest, NullOutputAndMoreResults) {
  Prepare("{call p(?)}", "*O:12");
  char out[8] = "xxxxxxx";
  SQLLEN outLen = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, out, sizeof out, &outLen),
            SQL_SUCCESS);
  TestAgent_SetOutputRow("\\N");
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(outLen, SQL_NULL_DATA);
  // The call returned a result first: no output row yet, nothing written.
  outLen = 123;
  TestAgent_SetOutputRow(nullptr);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(outLen, 123);
  // The output values come after it.
  TestAgent_SetOutputRow("done");
  TestAgent_FailNext("MoreResults", 80, nullptr, nullptr);
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_STREQ(out, "done");
  EXPECT_EQ(outLen, 4);
}

TEST_P(ExecOutputTest, UnknownDirectionsTakeTheBindings) {
  Prepare("{call p(?, ?)}", "*I:4,*U:4");
  EXPECT_EQ(Rec(stmt_)->directionsUnknown, 1);
  int32_t in = 1;
  int32_t out = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &in, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &out, 0, nullptr),
            SQL_SUCCESS);
  TestAgent_FailNext("ExecDirect", 80, nullptr, nullptr);
  TestAgent_SetOutputRow("99");
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->colCount, 1);
  EXPECT_EQ(out, 99);
  EXPECT_EQ(Rec(stmt_)->outputCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Flavours, ExecOutputTest, ::testing::Values(1, 0), FlavourName);

}  // namespace
}  // namespace kx::testing
