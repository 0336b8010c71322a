// What the ODBC core answers an application: connection attributes set
// before connecting, lengths of the wide entries, the dynamic function of a
// statement, SQLGetData on bound columns, and the states of SQLColAttribute,
// SQLPutData and SQLSetCursorName at their edges.
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using CoreAnswers = RoadTest;

SQLPOINTER IntArg(SQLULEN v) { return reinterpret_cast<SQLPOINTER>(v); }

SQLUINTEGER ConnInt(SQLHDBC dbc, SQLINTEGER attr) {
  SQLUINTEGER v = 0xDEAD;
  EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, attr, &v, 0, nullptr)) << attr << " " << Diag(SQL_HANDLE_DBC, dbc);
  return v;
}

// Every connection attribute an application may set before connecting
// holds after the connect, whichever connect function it uses: the
// autocommit mode above all (an INSERT then rolled back is gone), the
// isolation, the timeouts, the packet size, the catalog and the access mode.
TEST_P(CoreAnswers, AttributesSetBeforeConnectingHoldAfterIt) {
  const Road& road = GetParam();
  const std::string t = Table("preset", "v INT");
  std::string catalog(128, '\0');
  SQLINTEGER catalogLen = 0;
  KX_OK(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, catalog.data(), 128, &catalogLen), SQL_HANDLE_DBC, dbc_);
  catalog.resize(static_cast<size_t>(catalogLen));

  enum How { kDriverConnect, kDriverConnectW, kConnect, kConnectW };
  std::vector<How> hows = {kDriverConnect, kDriverConnectW};
  // The data sources name H2: SQLConnect reaches the fixture's database there only.
  if (!road.postgres) hows.insert(hows.end(), {kConnect, kConnectW});
  for (How how : hows) {
    SCOPED_TRACE(how);
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, IntArg(SQL_AUTOCOMMIT_OFF), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, IntArg(SQL_TXN_SERIALIZABLE), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, IntArg(7), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_PACKET_SIZE, IntArg(8192), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, catalog.data(), SQL_NTS));
    const std::string cs = ConnectString(road);
    SQLRETURN rc = SQL_ERROR;
    if (how == kDriverConnect) {
      std::string in = cs;
      rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT);
    } else if (how == kDriverConnectW) {
      std::u16string in = U16(cs);
      rc = SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
    } else if (how == kConnect) {
      std::string dsn = road.dsn;
      rc = SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(dsn.data()), SQL_NTS, nullptr, 0, nullptr, 0);
    } else {
      std::u16string dsn = U16(road.dsn);
      rc = SQLConnectW(dbc, reinterpret_cast<SQLWCHAR*>(dsn.data()), SQL_NTS, nullptr, 0, nullptr, 0);
    }
    KX_OK(rc, SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_OFF), ConnInt(dbc, SQL_ATTR_AUTOCOMMIT));
    EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_TXN_SERIALIZABLE), ConnInt(dbc, SQL_ATTR_TXN_ISOLATION));
    EXPECT_EQ(7u, ConnInt(dbc, SQL_ATTR_LOGIN_TIMEOUT));
    EXPECT_EQ(8192u, ConnInt(dbc, SQL_ATTR_PACKET_SIZE));
    std::string now(128, '\0');
    SQLINTEGER nowLen = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, now.data(), 128, &nowLen));
    now.resize(static_cast<size_t>(nowLen > 0 ? nowLen : 0));
    EXPECT_EQ(catalog, now);

    std::string diag;
    ASSERT_TRUE(SQL_SUCCEEDED(ExecOn(dbc, "INSERT INTO " + t + " VALUES (1)", &diag))) << diag;
    KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc);
    EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM " + t, dbc));
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }

  // Read-only asked before connecting: the connection is read-only.
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc));
  ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, IntArg(SQL_MODE_READ_ONLY), 0));
  KX_OK(Connect(dbc), SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_MODE_READ_ONLY), ConnInt(dbc, SQL_ATTR_ACCESS_MODE));
  EXPECT_FALSE(SQL_SUCCEEDED(ExecOn(dbc, "INSERT INTO " + t + " VALUES (2)")));
  Drop(dbc);
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM " + t));
}

// The isolation a connection reports is the data source's when the
// application asks, not when it connected: the connect leaves the question to
// the application (on PostgreSQL it is a statement on the server).
TEST_P(CoreAnswers, IsolationIsAskedWhenTheApplicationAsks) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc));
  KX_OK(Connect(dbc), SQL_HANDLE_DBC, dbc);
  std::string diag;
  ASSERT_TRUE(SQL_SUCCEEDED(
      ExecOn(dbc, "SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL SERIALIZABLE", &diag)))
      << diag;
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_TXN_SERIALIZABLE), ConnInt(dbc, SQL_ATTR_TXN_ISOLATION));
  // Set by the application: sent, and answered as set.
  ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, IntArg(SQL_TXN_READ_COMMITTED), 0));
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_TXN_READ_COMMITTED), ConnInt(dbc, SQL_ATTR_TXN_ISOLATION));
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

// The length a wide entry reports counts the characters of the whole text,
// whatever room the caller gave; a narrow entry counts bytes.
TEST_P(CoreAnswers, TextLengthsCountTheWholeTextWhateverTheRoom) {
  const bool wide = GetParam().unicode;
  const std::string name = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4";
  const SQLSMALLINT whole = wide ? 10 : 20;
  KX_STMT_OK(ExecDirect(stmt_, "SELECT 1 AS \"" + name + "\" FROM (VALUES (1)) AS t(x)"));
  for (SQLSMALLINT room : {1, 2, 5, 11, 64}) {
    SCOPED_TRACE(room);
    SQLWCHAR wbuf[64];
    SQLCHAR buf[64];
    SQLSMALLINT length = 0;
    const SQLRETURN rc = wide ? SQLDescribeColW(stmt_, 1, wbuf, room, &length, nullptr, nullptr, nullptr, nullptr)
                              : SQLDescribeCol(stmt_, 1, buf, room, &length, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(whole, length);
    EXPECT_EQ(room > whole ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO, rc);
  }

  const std::string sql = "SELECT '" + name + "' AS x";
  SQLINTEGER full = 0;
  if (wide) {
    std::u16string in = U16(sql);
    SQLWCHAR all[128];
    KX_OK(SQLNativeSqlW(dbc_, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, all, 128, &full), SQL_HANDLE_DBC,
          dbc_);
    SQLWCHAR small[4];
    SQLINTEGER cut = 0;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO,
              SQLNativeSqlW(dbc_, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, small, 4, &cut));
    EXPECT_EQ(full, cut);
    EXPECT_EQ(static_cast<SQLINTEGER>(in.size()), full);
  } else {
    std::string in = sql;
    SQLCHAR all[128];
    KX_OK(SQLNativeSql(dbc_, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, all, 128, &full), SQL_HANDLE_DBC, dbc_);
    SQLCHAR small[4];
    SQLINTEGER cut = 0;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLNativeSql(dbc_, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, small, 4, &cut));
    EXPECT_EQ(full, cut);
    EXPECT_EQ(static_cast<SQLINTEGER>(in.size()), full);
  }
}

// SQL_DIAG_DYNAMIC_FUNCTION names the statement from its kind, known at
// prepare and execute: the same before the columns are described and after.
TEST_P(CoreAnswers, DynamicFunctionIsTheStatementsKindBeforeAndAfterDescribing) {
  const std::string t = Table("dynfn", "v INT");
  struct Case {
    std::string sql;
    const char* name;
    SQLINTEGER code;
    bool prepareOnly;
  } cases[] = {
      {"SELECT v FROM " + t, "SELECT CURSOR", SQL_DIAG_SELECT_CURSOR, false},
      {"SELECT v FROM " + t, "SELECT CURSOR", SQL_DIAG_SELECT_CURSOR, true},
      {"/* kind */ (SELECT v FROM " + t + ")", "SELECT CURSOR", SQL_DIAG_SELECT_CURSOR, false},
      {"INSERT INTO " + t + " VALUES (1)", "INSERT", SQL_DIAG_INSERT, false},
      {"UPDATE " + t + " SET v = 2 WHERE v = 1", "UPDATE WHERE", SQL_DIAG_UPDATE_WHERE, false},
      {"DELETE FROM " + t + " WHERE v = 5", "DELETE WHERE", SQL_DIAG_DELETE_WHERE, true},
      {"CREATE TABLE " + t + "_x (v INT)", "CREATE TABLE", SQL_DIAG_CREATE_TABLE, false},
      {"DROP TABLE " + t + "_x", "DROP TABLE", SQL_DIAG_DROP_TABLE, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql + (c.prepareOnly ? " (prepared)" : ""));
    ResetStmt();
    KX_STMT_OK(c.prepareOnly ? Prepare(stmt_, c.sql) : ExecDirect(stmt_, c.sql));
    for (int pass = 0; pass < 2; ++pass) {
      char name[64] = {0};
      SQLSMALLINT len = 0;
      SQLINTEGER code = -77;
      EXPECT_EQ(SQL_SUCCESS, SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION, name, sizeof name,
                                             &len));
      EXPECT_STREQ(c.name, name) << "pass " << pass;
      EXPECT_EQ(SQL_SUCCESS,
                SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 0, nullptr));
      EXPECT_EQ(c.code, code) << "pass " << pass;
      SQLSMALLINT cols = 0;
      KX_STMT_OK(SQLNumResultCols(stmt_, &cols));  // the second pass reads after describing
    }
  }
}

// SQLColAttribute ignores the buffer length of a numeric field: the length
// sizes text answers only.
TEST_P(CoreAnswers, ColAttributeIgnoresTheBufferLengthOfNumericFields) {
  KX_STMT_OK(ExecDirect(stmt_, "SELECT CAST('ab' AS VARCHAR(12)) AS c FROM (VALUES (1)) AS t(x)"));
  const struct {
    SQLUSMALLINT field;
    SQLSMALLINT bufferLength;
  } cases[] = {
      {SQL_DESC_OCTET_LENGTH, SQL_IS_INTEGER},
      {SQL_DESC_LENGTH, SQL_IS_INTEGER},
      {SQL_DESC_CONCISE_TYPE, SQL_IS_SMALLINT},
      {SQL_COLUMN_LENGTH, SQL_IS_INTEGER},
      {SQL_DESC_NULLABLE, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    const SQLLEN unset = -123456;
    SQLLEN n = unset;
    EXPECT_EQ(SQL_SUCCESS, SQLColAttribute(stmt_, 1, c.field, nullptr, c.bufferLength, nullptr, &n))
        << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_NE(unset, n);
  }
  // A text field still checks it.
  char label[32];
  EXPECT_EQ(SQL_ERROR, SQLColAttribute(stmt_, 1, SQL_DESC_LABEL, label, -1, nullptr, nullptr));
  EXPECT_EQ("HY090", State(SQL_HANDLE_STMT, stmt_));
}

// SQLGetData reads bound columns too (SQL_GD_BOUND is offered): every bound
// column gives its value, the highest one included, and a second call on a
// column read whole finds nothing left.
TEST_P(CoreAnswers, GetDataReadsEveryBoundColumn) {
  EXPECT_NE(0u, InfoU32(SQL_GETDATA_EXTENSIONS) & SQL_GD_BOUND);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT 1 AS a, 2 AS b, 3 AS c FROM (VALUES (1)) AS t(x)"));
  SQLINTEGER a = 0, c = 0;
  SQLLEN aInd = 0, cInd = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &a, 0, &aInd));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_SLONG, &c, 0, &cInd));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(1, a);
  EXPECT_EQ(3, c);
  for (SQLUSMALLINT column : {3, 2, 1}) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    KX_STMT_OK(SQLGetData(stmt_, column, SQL_C_SLONG, &v, 0, &ind));
    EXPECT_EQ(static_cast<SQLINTEGER>(column), v);
    EXPECT_EQ(SQL_NO_DATA, SQLGetData(stmt_, column, SQL_C_SLONG, &v, 0, &ind)) << column;
  }
}

// SQLPutData: a negative length that names nothing is HY090; a value sent
// as NULL takes no further piece (HY020). (A NULL after a piece the driver
// manager refuses itself.)
TEST_P(CoreAnswers, PutDataRefusesBadLengthsAndPiecesBesideNull) {
  const std::string t = Table("puts", "v VARCHAR(20)");
  SQLLEN dae = SQL_DATA_AT_EXEC;
  char token[4] = "tok";
  KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + t + " VALUES (?)"));
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, token, 0, &dae));
  struct Case {
    const char* what;
    SQLLEN first;
    SQLLEN second;
    const char* state;
  } cases[] = {
      {"length -7", -7, 0, "HY090"},
      {"a piece after NULL", SQL_NULL_DATA, 2, "HY020"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(SQL_NEED_DATA, SQLExecute(stmt_)) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLPOINTER got = nullptr;
    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(stmt_, &got));
    char piece[] = "ab";
    if (c.second == 0) {
      EXPECT_EQ(SQL_ERROR, SQLPutData(stmt_, piece, c.first));
    } else {
      EXPECT_EQ(SQL_SUCCESS, SQLPutData(stmt_, c.first == SQL_NULL_DATA ? nullptr : piece, c.first));
      EXPECT_EQ(SQL_ERROR, SQLPutData(stmt_, c.second == SQL_NULL_DATA ? nullptr : piece, c.second));
    }
    EXPECT_EQ(c.state, State(SQL_HANDLE_STMT, stmt_));
    SQLCancel(stmt_);
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM " + t));
}

// A cursor name longer than SQL_MAX_CURSOR_NAME_LEN is 34000; one of that
// length is taken.
TEST_P(CoreAnswers, CursorNamesLongerThanTheLimitAreRefused) {
  SQLUSMALLINT limit = 0;
  KX_OK(SQLGetInfo(dbc_, SQL_MAX_CURSOR_NAME_LEN, &limit, sizeof limit, nullptr), SQL_HANDLE_DBC, dbc_);
  const size_t n = limit != 0 ? limit : 64;
  std::string name(n, 'c');
  KX_STMT_OK(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS));
  name += 'c';
  if (limit == 0) {
    KX_STMT_OK(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS));
    return;
  }
  EXPECT_EQ(SQL_ERROR, SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS));
  EXPECT_EQ("34000", State(SQL_HANDLE_STMT, stmt_));
}

INSTANTIATE_TEST_SUITE_P(Road, CoreAnswers, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
