// Parameters and columns described through descriptors, as an application
// that uses SQLSetDescField and SQLCopyDesc instead of SQLBindParameter and
// SQLBindCol sees them: what reaches the execution, what unbinds, the types
// a descriptor takes, and what SQL_RESET_PARAMS leaves behind.
#include <cstring>
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

class CoreDesc : public RoadTest {
 protected:
  SQLHDESC Desc(SQLHSTMT st, SQLINTEGER which) {
    SQLHDESC d = SQL_NULL_HDESC;
    EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(st, which, &d, SQL_IS_POINTER, nullptr));
    return d;
  }
  static SQLRETURN SetInt(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, SQLLEN v) {
    return SQLSetDescField(d, rec, field, reinterpret_cast<SQLPOINTER>(v), SQL_IS_INTEGER);
  }
  static SQLRETURN SetPtr(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, void* p) {
    return SQLSetDescField(d, rec, field, p, SQL_IS_POINTER);
  }
  static SQLSMALLINT Count(SQLHDESC d) {
    SQLSMALLINT n = -1;
    EXPECT_EQ(SQL_SUCCESS, SQLGetDescField(d, 0, SQL_DESC_COUNT, &n, SQL_IS_SMALLINT, nullptr));
    return n;
  }
  std::string Rows(const std::string& table) { return Scalar("SELECT COUNT(*) FROM " + table); }
};

// A write that changes what the buffer holds (here its octet length) unbinds
// the record: the execution finds the marker without a value and stores
// nothing, rather than a NULL nobody asked for.
TEST_P(CoreDesc, AnUnbindingWriteLeavesTheMarkerUnbound) {
  const std::string t = Table("unbound", "v INT");
  SQLINTEGER v = 42;
  SQLLEN ind = 0;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, &ind));
  SQLHDESC apd = Desc(stmt_, SQL_ATTR_APP_PARAM_DESC);
  ASSERT_EQ(SQL_SUCCESS, SetInt(apd, 1, SQL_DESC_OCTET_LENGTH, 4));
  SQLPOINTER data = &v;
  ASSERT_EQ(SQL_SUCCESS, SQLGetDescField(apd, 1, SQL_DESC_DATA_PTR, &data, SQL_IS_POINTER, nullptr));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(SQL_ERROR, ExecDirect(stmt_, "INSERT INTO " + t + " VALUES (?)"));
  EXPECT_EQ("07002", State(SQL_HANDLE_STMT, stmt_)) << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ("0", Rows(t));
  // Setting the data pointer again binds it again.
  ASSERT_EQ(SQL_SUCCESS, SetPtr(apd, 1, SQL_DESC_DATA_PTR, &v));
  KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + t + " VALUES (?)"));
  EXPECT_EQ("42", Scalar("SELECT v FROM " + t));
}

// Unbound markers: 07002 to an ODBC 3 application, 07001 to an ODBC 2 one.
TEST_P(CoreDesc, UnboundMarkersAnswerTheStateOfTheApplicationsVersion) {
  const std::string t = Table("nobind", "v INT");
  for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
    ASSERT_EQ(SQL_SUCCESS,
              SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{version}), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc));
    KX_OK(Connect(dbc), SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st));
    KX_OK(Prepare(st, "INSERT INTO " + t + " VALUES (?)"), SQL_HANDLE_STMT, st);
    EXPECT_EQ(SQL_ERROR, SQLExecute(st));
    EXPECT_EQ(version == SQL_OV_ODBC3 ? "07002" : "07001", State(SQL_HANDLE_STMT, st))
        << version << " " << Diag(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  EXPECT_EQ("0", Rows(t));
}

// A parameter bound field by field through the APD and typed through the
// IPD runs, in either order of the two descriptors, and so does one copied
// descriptor by descriptor (APD, then IPD) onto another statement.
TEST_P(CoreDesc, ParametersDescribedThroughDescriptorsReachTheExecution) {
  const std::string t = Table("bydesc", "v INT");
  SQLINTEGER v = 7;
  SQLLEN ind = 0;
  for (bool apdFirst : {true, false}) {
    SCOPED_TRACE(apdFirst ? "APD first" : "IPD first");
    ResetStmt();
    SQLHDESC apd = Desc(stmt_, SQL_ATTR_APP_PARAM_DESC);
    SQLHDESC ipd = Desc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
    auto setApd = [&] {
      ASSERT_EQ(SQL_SUCCESS, SetInt(apd, 1, SQL_DESC_CONCISE_TYPE, SQL_C_SLONG));
      ASSERT_EQ(SQL_SUCCESS, SetPtr(apd, 1, SQL_DESC_INDICATOR_PTR, &ind));
      ASSERT_EQ(SQL_SUCCESS, SetPtr(apd, 1, SQL_DESC_OCTET_LENGTH_PTR, &ind));
      ASSERT_EQ(SQL_SUCCESS, SetPtr(apd, 1, SQL_DESC_DATA_PTR, &v));
    };
    auto setIpd = [&] { ASSERT_EQ(SQL_SUCCESS, SetInt(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_INTEGER)); };
    if (apdFirst) {
      setApd();
      setIpd();
    } else {
      setIpd();
      setApd();
    }
    KX_STMT_OK(ExecDirect(stmt_, "INSERT INTO " + t + " VALUES (?)"));
    ++v;
  }
  EXPECT_EQ("15", Scalar("SELECT SUM(v) FROM " + t));

  // SQLCopyDesc of a statement's APD and IPD, in that order, onto another one.
  ResetStmt();
  v = 30;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, &ind));
  SQLHSTMT other = SQL_NULL_HSTMT;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other));
  ASSERT_EQ(SQL_SUCCESS, SQLCopyDesc(Desc(stmt_, SQL_ATTR_APP_PARAM_DESC), Desc(other, SQL_ATTR_APP_PARAM_DESC)))
      << Diag(SQL_HANDLE_DESC, Desc(other, SQL_ATTR_APP_PARAM_DESC));
  ASSERT_EQ(SQL_SUCCESS, SQLCopyDesc(Desc(stmt_, SQL_ATTR_IMP_PARAM_DESC), Desc(other, SQL_ATTR_IMP_PARAM_DESC)))
      << Diag(SQL_HANDLE_DESC, Desc(other, SQL_ATTR_IMP_PARAM_DESC));
  KX_OK(ExecDirect(other, "INSERT INTO " + t + " VALUES (?)"), SQL_HANDLE_STMT, other);
  SQLFreeHandle(SQL_HANDLE_STMT, other);
  EXPECT_EQ("45", Scalar("SELECT SUM(v) FROM " + t));
}

// Retyping a bound parameter through the IPD changes what is sent, before
// the first execution as after it: text bound as INTEGER and retyped to
// VARCHAR arrives as text.
TEST_P(CoreDesc, RetypingAParameterThroughTheIpdReachesTheExecution) {
  for (bool executedFirst : {false, true}) {
    SCOPED_TRACE(executedFirst ? "after an execution" : "before the first execution");
    ResetStmt();
    char text[16] = "12";
    SQLLEN ind = SQL_NTS;
    KX_STMT_OK(Prepare(stmt_, "SELECT CAST(? AS VARCHAR(10)) FROM (VALUES (1)) AS t(x)"));
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, text, sizeof text, &ind));
    if (executedFirst) {
      KX_STMT_OK(SQLExecute(stmt_));
      SQLFreeStmt(stmt_, SQL_CLOSE);
    }
    SQLHDESC ipd = Desc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
    ASSERT_EQ(SQL_SUCCESS, SetInt(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_VARCHAR));
    ASSERT_EQ(SQL_SUCCESS, SetInt(ipd, 1, SQL_DESC_LENGTH, 10));
    SQLSMALLINT type = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetDescField(ipd, 1, SQL_DESC_CONCISE_TYPE, &type, SQL_IS_SMALLINT, nullptr));
    EXPECT_EQ(SQL_VARCHAR, type);
    std::strcpy(text, "abc");
    KX_STMT_OK(SQLExecute(stmt_));
    KX_STMT_OK(SQLFetch(stmt_));
    char out[16] = {0};
    SQLLEN outInd = 0;
    KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_CHAR, out, sizeof out, &outInd));
    EXPECT_STREQ("abc", out);
  }
}

// SQL_C_GUID and SQL_GUID are types a descriptor takes: written field by
// field, and copied from an ARD that SQLBindCol filled or from the IRD of a
// UUID column.
TEST_P(CoreDesc, GuidTypesAreTakenByDescriptorWrites) {
  const bool pg = GetParam().postgres;
  SQLGUID guid{};
  SQLLEN ind = 0;
  KX_STMT_OK(ExecDirect(stmt_, std::string("SELECT CAST('6f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9' AS ") +
                                   (pg ? "uuid" : "UUID") + ") FROM (VALUES (1)) AS t(x)"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_GUID, &guid, sizeof guid, &ind));
  SQLHSTMT other = SQL_NULL_HSTMT;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other));
  SQLHDESC otherArd = Desc(other, SQL_ATTR_APP_ROW_DESC);
  for (SQLINTEGER source : {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_IMP_ROW_DESC}) {
    SCOPED_TRACE(source == SQL_ATTR_APP_ROW_DESC ? "ARD" : "IRD");
    EXPECT_EQ(SQL_SUCCESS, SQLCopyDesc(Desc(stmt_, source), otherArd)) << Diag(SQL_HANDLE_DESC, otherArd);
    SQLSMALLINT type = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetDescField(otherArd, 1, SQL_DESC_CONCISE_TYPE, &type, SQL_IS_SMALLINT, nullptr));
    EXPECT_EQ(SQL_C_GUID, type);
  }
  for (SQLINTEGER which : {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_APP_PARAM_DESC, SQL_ATTR_IMP_PARAM_DESC}) {
    SQLHDESC d = Desc(other, which);
    for (SQLSMALLINT field : {SQL_DESC_TYPE, SQL_DESC_CONCISE_TYPE}) {
      EXPECT_EQ(SQL_SUCCESS, SetInt(d, 1, field, SQL_GUID)) << which << " " << Diag(SQL_HANDLE_DESC, d);
    }
  }
  // The source's own binding is untouched by the copies.
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(0x6f1e2d3cu, guid.Data1);
  SQLFreeHandle(SQL_HANDLE_STMT, other);
}

// SQL_RESET_PARAMS empties the APD and the IPD, as SQL_UNBIND empties the ARD.
TEST_P(CoreDesc, ResetParamsEmptiesTheParameterDescriptors) {
  SQLINTEGER a = 1, b = 2;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &a, 0, nullptr));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &b, 0, nullptr));
  SQLHDESC apd = Desc(stmt_, SQL_ATTR_APP_PARAM_DESC);
  SQLHDESC ipd = Desc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
  EXPECT_EQ(2, Count(apd));
  EXPECT_EQ(2, Count(ipd));
  KX_STMT_OK(SQLFreeStmt(stmt_, SQL_RESET_PARAMS));
  EXPECT_EQ(0, Count(apd));
  EXPECT_EQ(0, Count(ipd));
  // Nothing stays bound: the markers are unbound.
  EXPECT_EQ(SQL_ERROR, ExecDirect(stmt_, "SELECT CAST(? AS INT), CAST(? AS INT) FROM (VALUES (1)) AS t(x)"));
  EXPECT_EQ("07002", State(SQL_HANDLE_STMT, stmt_));
}

INSTANTIATE_TEST_SUITE_P(Road, CoreDesc, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
