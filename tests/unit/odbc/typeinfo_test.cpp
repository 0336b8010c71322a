// SQLGetTypeInfo and the type names the descriptor engine reads, with the
// answers kept per connection.
#include "odbc/exec/type_info.h"
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

class TypeInfoTest : public FetchTest {
 protected:
  // TYPE_NAME of every row the statement's result holds.
  std::vector<std::string> Names(SQLHSTMT s) {
    std::vector<std::string> names;
    while (SQLFetch(s) == SQL_SUCCESS) {
      char name[64] = {};
      SQLLEN ind = 0;
      EXPECT_EQ(SQLGetData(s, 1, SQL_C_CHAR, name, sizeof name, &ind), SQL_SUCCESS);
      names.push_back(name);
    }
    return names;
  }

  std::string TypeName(SQLHDESC ird, SQLSMALLINT field = SQL_DESC_TYPE_NAME) {
    char text[256] = {};
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLGetDescField(ird, 1, field, text, sizeof text, &length), SQL_SUCCESS);
    return text;
  }
};

TEST_F(TypeInfoTest, ClosesAnOpenResultAndOpensTheTypes) {
  for (int wide : {0, 1}) {
    SCOPED_TRACE(wide);
    Open(stmt_, {{"A", SQL_INTEGER, RBT_SLONG, 4}}, {{"1"}, {"2"}});
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
    const int closes = TheScript().closes;
    const SQLRETURN rc = wide ? SQLGetTypeInfoW(stmt_, SQL_ALL_TYPES) : SQLGetTypeInfo(stmt_, SQL_ALL_TYPES);
    ASSERT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(TheScript().closes, closes + 1);
    EXPECT_EQ(Names(stmt_), (std::vector<std::string>{"CHAR", "INTEGER", "VARCHAR", "DATE",
                                                      "DATETIME YEAR TO FRACTION(5)"}));
    EXPECT_EQ(Rec(stmt_)->colCount, 19);
  }
}

TEST_F(TypeInfoTest, TheTypeAskedGoesToTheAgent) {
  for (SQLSMALLINT type : {SQL_TYPE_DATE, SQL_DATE}) {
    ASSERT_EQ(SQLGetTypeInfo(stmt_, type), SQL_SUCCESS);
    EXPECT_EQ(TheScript().typeInfoAsked.back(), type);
    EXPECT_EQ(Names(stmt_), std::vector<std::string>{"DATE"});
  }
}

TEST_F(TypeInfoTest, AgentFailureLeavesNoCursor) {
  TheScript().typeInfoFails = KX_ERR_COMM_LINK;
  EXPECT_EQ(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "08S01");
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY010");
}

TEST_F(TypeInfoTest, ColumnOfTheFirstRowOfAType) {
  ConnRecord* c = ConnRec(dbc_);
  char buf[255];
  SQLLEN len = 0;
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_INTEGER, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_STREQ(buf, "INTEGER");
  EXPECT_EQ(len, 7);
  EXPECT_EQ(FetchTypeInfoColumn(c, 4, SQL_INTEGER, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_EQ(len, SQL_NULL_DATA);
  EXPECT_EQ(FetchTypeInfoColumn(c, 4, SQL_TYPE_DATE, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_STREQ(buf, "DATE '");
  // A short buffer is cut like SQLGetData cuts text.
  char small[4];
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_INTEGER, small, sizeof small, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(small, "INT");
  EXPECT_EQ(len, 7);
  // No row for the type.
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_GUID, buf, sizeof buf, &len), SQL_NO_DATA);
}

TEST_F(TypeInfoTest, NotConnectedIsConnectionNotOpen) {
  SQLHDBC other = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
  char buf[16];
  SQLLEN len = 0;
  ConnRecord* c = ConnRec(other);
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_INTEGER, buf, sizeof buf, &len), SQL_ERROR);
  EXPECT_EQ(c->error, KX_ERR_NOT_CONNECTED);
  SQLFreeHandle(SQL_HANDLE_DBC, other);
}

// Descriptor reads ask one query per type and connection, not one per read.
TEST_F(TypeInfoTest, DescriptorReadsAreAnsweredFromTheConnectionsCache) {
  Open(stmt_, {{"D", SQL_TYPE_DATE, RBT_DATE, 6}}, {});
  SQLHDESC ird = StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
  const uint64_t before = TypeInfoQueriesRun();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(TypeName(ird), "DATE");
  EXPECT_EQ(TypeName(ird, SQL_DESC_LITERAL_PREFIX), "DATE '");
  EXPECT_EQ(TypeName(ird, SQL_DESC_LITERAL_SUFFIX), "'");
  EXPECT_EQ(TypeInfoQueriesRun(), before + 1);
  EXPECT_EQ(TheScript().typeInfoAsked.size(), 1u);
  // A type without a row is kept too: an empty name.
  Open(stmt_, {{"G", SQL_GUID, RBT_CHAR_NTS, 36}}, {});
  EXPECT_EQ(TypeName(ird), "");
  EXPECT_EQ(TypeName(ird), "");
  EXPECT_EQ(TypeInfoQueriesRun(), before + 2);
  // A new connection asks again.
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
  ConnRecord* c = ConnRec(dbc_);
  c->binding.ops = original_;
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
  table_ = *c->binding.ops;
  table_.DRV_DescribeCols = ScriptDescribeCols;
  table_.DRV_FetchBlock = ScriptFetchBlock;
  table_.DRV_CloseCursor = ScriptCloseCursor;
  table_.DRV_DDTypeInfo = ScriptTypeInfo;
  table_.DRV_DescribeColsEx = nullptr;
  original_ = c->binding.ops;
  c->binding.ops = &table_;
  char buf[64];
  SQLLEN len = 0;
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_TYPE_DATE, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_EQ(TypeInfoQueriesRun(), before + 3);
  TypeInfoCacheDrop(c);
  EXPECT_EQ(FetchTypeInfoColumn(c, 1, SQL_TYPE_DATE, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_EQ(TypeInfoQueriesRun(), before + 4);
}

}  // namespace
}  // namespace kx::testing
