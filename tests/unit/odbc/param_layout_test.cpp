// The parameter block an execution hands the agent: storage type, element
// width, indicator and bytes for every C type, the descriptors that go with
// it, and the conversions of values the agent cannot take as they are.
#include "unit/odbc/exec_fixture.h"


namespace kx::testing {
namespace {

class ParamLayoutTest : public ExecTest {
 protected:
  // Binds one input parameter, executes, and returns the block.
  const RowBuffer* SendOne(SQLSMALLINT cType, SQLSMALLINT sqlType, void* value, SQLLEN bufferLength,
                           SQLLEN* lengthOrIndicator, SQLSMALLINT digits = 0) {
    Prepare("INSERT INTO t VALUES (?)", "*I:4");
    EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, cType, sqlType, 20, digits, value,
                               bufferLength, lengthOrIndicator),
              SQL_SUCCESS)
        << StmtState(stmt_);
    EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
    const RowBuffer* b = Block();
    EXPECT_NE(b, nullptr);
    if (b != nullptr) {
      EXPECT_EQ(b->colCount, 1);
      EXPECT_EQ(b->rowCount, 1);
    }
    return b;
  }
};

struct FixedCase {
  const char* name;
  SQLSMALLINT cType;
  std::vector<unsigned char> value;  // the C value's bytes
  uint32_t type;
  uint32_t width;
};

std::vector<unsigned char> Raw(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::vector<unsigned char>(b, b + n);
}

template <class T>
std::vector<unsigned char> Raw(const T& v) {
  return Raw(&v, sizeof v);
}

TEST_P(ParamLayoutTest, FixedSizeCTypesKeepTheirBytes) {
  const SQL_DATE_STRUCT date{2001, 2, 3};
  const SQL_TIME_STRUCT time{4, 5, 6};
  const SQL_TIMESTAMP_STRUCT ts{2001, 2, 3, 4, 5, 6, 7000};
  const FixedCase cases[] = {
      {"LONG", SQL_C_LONG, Raw(int32_t{-42}), RBT_SLONG, 4},
      {"SLONG", SQL_C_SLONG, Raw(int32_t{123456}), RBT_SLONG, 4},
      {"ULONG", SQL_C_ULONG, Raw(uint32_t{4000000000u}), RBT_ULONG, 4},
      {"SHORT", SQL_C_SHORT, Raw(int16_t{-7}), RBT_SSHORT, 2},
      {"SSHORT", SQL_C_SSHORT, Raw(int16_t{300}), RBT_SSHORT, 2},
      {"USHORT", SQL_C_USHORT, Raw(uint16_t{65000}), RBT_USHORT, 2},
      {"TINYINT", SQL_C_TINYINT, Raw(int8_t{-3}), RBT_STINYINT, 1},
      {"STINYINT", SQL_C_STINYINT, Raw(int8_t{-100}), RBT_STINYINT, 1},
      {"UTINYINT", SQL_C_UTINYINT, Raw(uint8_t{200}), RBT_UTINYINT, 1},
      {"BIT", SQL_C_BIT, Raw(uint8_t{1}), RBT_BIT, 1},
      {"FLOAT", SQL_C_FLOAT, Raw(1.5f), RBT_FLOAT, 4},
      {"DOUBLE", SQL_C_DOUBLE, Raw(-2.25), RBT_DOUBLE, 8},
      {"DATE", SQL_C_DATE, Raw(date), RBT_DATE, 6},
      {"TYPE_DATE", SQL_C_TYPE_DATE, Raw(date), RBT_DATE, 6},
      {"TIME", SQL_C_TIME, Raw(time), RBT_TIME, 6},
      {"TYPE_TIME", SQL_C_TYPE_TIME, Raw(time), RBT_TIME, 6},
      {"TIMESTAMP", SQL_C_TIMESTAMP, Raw(ts), RBT_TIMESTAMP, 16},
      {"TYPE_TIMESTAMP", SQL_C_TYPE_TIMESTAMP, Raw(ts), RBT_TIMESTAMP, 16},
  };
  for (const FixedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> value = c.value;
    value.resize(32, 0xEE);
    SQLLEN ind = 0;
    const RowBuffer* b = SendOne(c.cType, SQL_INTEGER, value.data(), 0, &ind);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->columns[0].type, c.type);
    EXPECT_EQ(b->columns[0].width, c.width);
    EXPECT_EQ(b->columns[0].indicators[0], 0);
    EXPECT_EQ(Bytes(b, 0, 0), std::string(c.value.begin(), c.value.end()));
  }
}

TEST_P(ParamLayoutTest, ConvertedCTypesTravelAsText) {
  SQLLEN ind = 0;
  int64_t minusFive = -5;
  const RowBuffer* b = SendOne(SQL_C_SBIGINT, SQL_BIGINT, &minusFive, 0, &ind);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR);
  EXPECT_EQ(b->columns[0].width, 32u);
  EXPECT_EQ(Text(b, 0, 0), "-5");

  uint64_t big = UINT64_MAX;
  b = SendOne(SQL_C_UBIGINT, SQL_BIGINT, &big, 0, &ind);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Text(b, 0, 0), "18446744073709551615");

  SQLGUID guid{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  b = SendOne(SQL_C_GUID, SQL_GUID, &guid, 0, &ind);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR);
  EXPECT_EQ(b->columns[0].width, 36u);
  EXPECT_EQ(Bytes(b, 0, 0), "01234567-89AB-CDEF-0123-456789ABCDEF");
}

TEST_P(ParamLayoutTest, BigintWidthWithoutParameterArraysIsTheText) {
  ConnRec(dbc_)->cn_hasParamOp = 0;
  SQLLEN ind = 0;
  int64_t minusFive = -5;
  const RowBuffer* b = SendOne(SQL_C_SBIGINT, SQL_BIGINT, &minusFive, 0, &ind);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].width, 2u);
  EXPECT_EQ(Bytes(b, 0, 0), "-5");
}

SQL_NUMERIC_STRUCT Numeric(int scale, int sign, unsigned __int128 magnitude) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = 38;
  n.scale = static_cast<SQLSCHAR>(scale);
  n.sign = static_cast<SQLCHAR>(sign);
  for (int i = 0; i < SQL_MAX_NUMERIC_LEN; ++i) {
    n.val[i] = static_cast<SQLCHAR>(magnitude & 0xFF);
    magnitude >>= 8;
  }
  return n;
}

TEST_P(ParamLayoutTest, NumericIsSentAsExactDecimalText) {
  const unsigned __int128 big =
      static_cast<unsigned __int128>(12345678901234567890ull) * 10000000000000000000ull + 1234567890123456789ull;
  const struct {
    SQL_NUMERIC_STRUCT value;
    const char* text;
  } cases[] = {
      {Numeric(2, 1, 1234), "12.34"},
      {Numeric(2, 0, 1234), "-12.34"},
      {Numeric(0, 1, 0), "0"},
      {Numeric(5, 1, 42), "0.00042"},
      {Numeric(-3, 1, 7), "7000"},
      // 39 digits: a double would keep about 15 of them.
      {Numeric(4, 1, big), "12345678901234567890123456789012345.6789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SQL_NUMERIC_STRUCT v = c.value;
    SQLLEN ind = 0;
    const RowBuffer* b = SendOne(SQL_C_NUMERIC, SQL_DECIMAL, &v, 0, &ind);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->columns[0].type, RBT_CHAR);
    EXPECT_GT(b->columns[0].width, std::strlen(c.text));
    EXPECT_EQ(Text(b, 0, 0), c.text);
  }
}

TEST_P(ParamLayoutTest, TextAndBinaryColumns) {
  char text[] = "abc";
  SQLLEN nts = SQL_NTS;
  const RowBuffer* b = SendOne(SQL_C_CHAR, SQL_VARCHAR, text, sizeof text, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR);
  EXPECT_EQ(b->columns[0].width, 4u);
  EXPECT_EQ(Bytes(b, 0, 0), std::string("abc\0", 4));

  // An explicit length wins over the terminator.
  SQLLEN two = 2;
  b = SendOne(SQL_C_CHAR, SQL_VARCHAR, text, sizeof text, &two);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Text(b, 0, 0), "ab");

  unsigned char bytes[] = {0x00, 0xFF, 0x10};
  SQLLEN three = 3;
  b = SendOne(SQL_C_BINARY, SQL_VARBINARY, bytes, sizeof bytes, &three);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_BINARY_LEN4);
  EXPECT_EQ(b->columns[0].width, 11u);
  EXPECT_EQ(Value<uint32_t>(b, 0, 0), 3u);
  EXPECT_EQ(Bytes(b, 0, 0).substr(4, 3), std::string("\x00\xFF\x10", 3));

  char hex[] = "0A0B";
  b = SendOne(SQL_C_CHAR, SQL_VARBINARY, hex, sizeof hex, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_BINARY);
  EXPECT_EQ(b->columns[0].width, 2u);
  EXPECT_EQ(Bytes(b, 0, 0), "\x0A\x0B");

  SQLLEN null = SQL_NULL_DATA;
  b = SendOne(SQL_C_CHAR, SQL_VARCHAR, text, sizeof text, &null);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].indicators[0], RB_IND_NULL);
}

TEST_P(ParamLayoutTest, WideTextFollowsTheFlavour) {
  char16_t text[] = u"h\u00e9";
  SQLLEN nts = SQL_NTS;
  const RowBuffer* b = SendOne(SQL_C_WCHAR, SQL_WVARCHAR, text, sizeof text, &nts);
  ASSERT_NE(b, nullptr);
  if (Unicode()) {
    EXPECT_EQ(b->columns[0].type, RBT_WCHAR);
    EXPECT_EQ(b->columns[0].width, 6u);
    EXPECT_EQ(Bytes(b, 0, 0).substr(0, 4), std::string(reinterpret_cast<const char*>(text), 4));
  } else {
    // The ANSI build's agent takes 8-bit text only: UTF-8 arrives.
    EXPECT_NE(b->columns[0].type, RBT_WCHAR);
    EXPECT_EQ(Text(b, 0, 0), "h\xC3\xA9");
  }
  int calls = 0;
  const std::vector<SCS_PARAMDESC> descs = AgentLastParamInfo(&calls);
  ASSERT_EQ(descs.size(), 1u);
  EXPECT_EQ(descs[0].cType, Unicode() ? SQL_C_WCHAR : SQL_C_CHAR);
  EXPECT_EQ(descs[0].sqlType, Unicode() ? SQL_WVARCHAR : SQL_VARCHAR);
}

TEST_P(ParamLayoutTest, TextWidthIsTheLongestValuePlusTerminator) {
  Prepare("INSERT INTO t VALUES (?)", "*I:12");
  char values[2][8] = {"abc", "abcdef"};
  SQLLEN lengths[2] = {SQL_NTS, SQL_NTS};
  SetAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2));
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, values, 8,
                             lengths),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->columns[0].width, 7u);
  EXPECT_EQ(Text(Block(), 0, 0), "abc");
  EXPECT_EQ(Text(Block(), 0, 1), "abcdef");

  ConnRec(dbc_)->cn_hasParamOp = 0;
  SetAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1));
  lengths[0] = 6;
  std::memcpy(values[0], "abcdef", 6);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Block()->columns[0].width, 6u);
}

TEST_P(ParamLayoutTest, DateTimeEscapes) {
  SQLLEN nts = SQL_NTS;
  char date[] = "{d '2001-02-03'}";
  const RowBuffer* b = SendOne(SQL_C_CHAR, SQL_TYPE_DATE, date, sizeof date, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_DATE);
  EXPECT_EQ(b->columns[0].width, 6u);
  const auto d = Value<SQL_DATE_STRUCT>(b, 0, 0);
  EXPECT_EQ(d.year, 2001);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 3);

  char ts[] = "{ts '2001-02-03 04:05:06.5'}";
  b = SendOne(SQL_C_CHAR, SQL_TYPE_TIMESTAMP, ts, sizeof ts, &nts, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_TIMESTAMP);
  const auto t = Value<SQL_TIMESTAMP_STRUCT>(b, 0, 0);
  EXPECT_EQ(t.year, 2001);
  EXPECT_EQ(t.hour, 4);
  EXPECT_EQ(t.second, 6);
  EXPECT_EQ(t.fraction, 500000000u);

  char16_t wtime[] = u"{t '10:11:12'}";
  b = SendOne(SQL_C_WCHAR, SQL_TYPE_TIME, wtime, sizeof wtime, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_TIME);
  const auto tm = Value<SQL_TIME_STRUCT>(b, 0, 0);
  EXPECT_EQ(tm.hour, 10);
  EXPECT_EQ(tm.minute, 11);
  EXPECT_EQ(tm.second, 12);

  // Not an escape, or not a date type: the text goes as it is.
  char fn[] = "{fn now()}";
  b = SendOne(SQL_C_CHAR, SQL_TYPE_DATE, fn, sizeof fn, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR);
  EXPECT_EQ(Text(b, 0, 0), "{fn now()}");
  b = SendOne(SQL_C_CHAR, SQL_INTEGER, date, sizeof date, &nts);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Text(b, 0, 0), "{d '2001-02-03'}");

  // A NULL for a date: the column is a date column.
  SQLLEN null = SQL_NULL_DATA;
  b = SendOne(SQL_C_CHAR, SQL_TYPE_DATE, date, sizeof date, &null);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->columns[0].type, RBT_DATE);
  EXPECT_EQ(b->columns[0].indicators[0], RB_IND_NULL);
}

TEST_P(ParamLayoutTest, MixedEscapesAndTextStayText) {
  // One escape and one plain text in a parameter array: storing the escape
  // as a structure would put the plain row under a date type.
  Prepare("INSERT INTO t VALUES (?)", "*I:91");
  char values[3][20] = {"{d '2001-02-03'}", "2002-03-04", ""};
  SQLLEN lengths[3] = {SQL_NTS, SQL_NTS, SQL_NULL_DATA};
  SetAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3));
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_DATE, 10, 0, values, 20,
                             lengths),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  const RowBuffer* b = Block();
  EXPECT_EQ(b->columns[0].type, RBT_CHAR);
  EXPECT_EQ(Text(b, 0, 0), "2001-02-03");
  EXPECT_EQ(Text(b, 0, 1), "2002-03-04");
  EXPECT_EQ(b->columns[0].indicators[2], RB_IND_NULL);
}

TEST_P(ParamLayoutTest, DescriptorsAndOptionalArguments) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:12");
  int32_t v = 9;
  char text[] = "x";
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, text, 2, &nts),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState(stmt_);
  EXPECT_EQ(Value<int32_t>(Block(), 0, 0), 9);
  int calls = 0;
  std::vector<SCS_PARAMDESC> descs = AgentLastParamInfo(&calls);
  ASSERT_EQ(descs.size(), 2u);
  EXPECT_EQ(descs[1].sqlType, SQL_VARCHAR);
  EXPECT_EQ(descs[1].cType, SQL_C_CHAR);
  EXPECT_EQ(descs[1].columnSize, 30u);
  EXPECT_EQ(descs[1].direction, SQL_PARAM_INPUT);
  // Unchanged bindings: the descriptors are not sent again.
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS);
  int again = 0;
  AgentLastParamInfo(&again);
  EXPECT_EQ(again, calls);
}

TEST_P(ParamLayoutTest, BindingChecks) {
  Prepare("INSERT INTO t VALUES (?)", "*I:4");
  EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY009");
  EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
            SQL_SUCCESS);
  SQL_TIMESTAMP_STRUCT ts{};
  EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, -1,
                             &ts, 0, nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY094");
  int32_t v = 0;
  EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, -1, &v, 0, nullptr),
            SQL_SUCCESS);
  SQL_NUMERIC_STRUCT n{};
  EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 10, 2, &n, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->paramBindings[0].elementSize, 19);
  SQLLEN ind = 0;
  EXPECT_EQ(SQLSetParam(stmt_, 1, SQL_C_NUMERIC, SQL_NUMERIC, 10, 2, &n, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07006");
  EXPECT_EQ(SQLSetParam(stmt_, 1, SQL_C_LONG, SQL_INTEGER, 10, -1, &v, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY094");
  EXPECT_EQ(SQLSetParam(stmt_, 1, SQL_C_LONG, SQL_INTEGER, 10, 0, &v, &ind), SQL_SUCCESS);
  // The APD and IPD record what SQLBindParameter bound.
  char big[40];
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, SQL_DECIMAL, 12, 3, big,
                             sizeof big, &nts),
            SQL_SUCCESS);
  StmtRecord* st = Rec(stmt_);
  const DescFieldRec* a = DescGetRec(st->currentApd, 3);
  const DescFieldRec* i = DescGetRec(st->ipd, 3);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(a->conciseType, SQL_C_CHAR);
  EXPECT_EQ(a->dataPtr, big);
  EXPECT_EQ(a->octetLengthPtr, &nts);
  EXPECT_EQ(i->conciseType, SQL_DECIMAL);
  EXPECT_EQ(i->parameterType, SQL_PARAM_INPUT_OUTPUT);
  EXPECT_EQ(i->precision, 12);
  EXPECT_EQ(i->scale, 3);
}

TEST_P(ParamLayoutTest, DefaultCTypeFollowsTheOdbcVersion) {
  char16_t text[4] = u"a";
  SQLLEN nts = SQL_NTS;
  ConnRec(dbc_)->env->odbcVersion = 2;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_WVARCHAR, 4, 0, text, 8, &nts),
            SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->paramBindings[0].cType, SQL_C_CHAR);
  ConnRec(dbc_)->env->odbcVersion = 3;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_WVARCHAR, 4, 0, text, 8, &nts),
            SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->paramBindings[0].cType, SQL_C_WCHAR);
  EXPECT_EQ(DescGetRec(Rec(stmt_)->currentApd, 1)->conciseType, SQL_C_DEFAULT);
}

TEST_P(ParamLayoutTest, DescribeParam) {
  Prepare("INSERT INTO t VALUES (?, ?)", "*I:4,*I:12");
  SQLSMALLINT type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeParam(stmt_, 2, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(digits, 2);
  EXPECT_EQ(nullable, SQL_NULLABLE);
  EXPECT_EQ(SQLDescribeParam(stmt_, 3, &type, &size, &digits, &nullable), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07009");
}

INSTANTIATE_TEST_SUITE_P(Flavours, ParamLayoutTest, ::testing::Values(1, 0), FlavourName);

}  // namespace
}  // namespace kx::testing
