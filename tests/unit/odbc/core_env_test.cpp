// Environments: allocation in both ODBC versions and the environment attributes.
#include "core_fixture.h"

namespace kx::testing {
namespace {

using EnvTest = CoreTest;

TEST_F(EnvTest, AllocEnvIsOdbc2AndAllocHandleIsOdbc3) {
  SQLHENV env2 = SQL_NULL_HENV, env3 = SQL_NULL_HENV;
  ASSERT_EQ(SQLAllocEnv(&env2), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env3), SQL_SUCCESS);
  SQLINTEGER v2 = 0, v3 = 0;
  EXPECT_EQ(SQLGetEnvAttr(env2, SQL_ATTR_ODBC_VERSION, &v2, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLGetEnvAttr(env3, SQL_ATTR_ODBC_VERSION, &v3, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v2, SQL_OV_ODBC2);
  EXPECT_EQ(v3, SQL_OV_ODBC3);
  // Handles carry the environment table's tag.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(env2) >> 16, 1u);
  EXPECT_EQ(SQLFreeEnv(env2), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env3), SQL_SUCCESS);
}

TEST_F(EnvTest, NullOutputPointerIsAnErrorNotACrash) {
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, nullptr), SQL_ERROR);
  EXPECT_EQ(SQLAllocEnv(nullptr), SQL_ERROR);
}

TEST_F(EnvTest, AttributesKeepOnlyAcceptedValues) {
  SQLHENV env;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  struct Case {
    SQLINTEGER attribute;
    intptr_t value;
    SQLINTEGER expected;
  } cases[] = {
      {SQL_ATTR_ODBC_VERSION, 4, SQL_OV_ODBC3},  // refused: stays 3
      {SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC2, SQL_OV_ODBC2},
      {SQL_ATTR_OUTPUT_NTS, 0, 0},
      {SQL_ATTR_OUTPUT_NTS, 5, 0},  // refused: stays 0
      {SQL_ATTR_OUTPUT_NTS, 1, 1},
      {SQL_ATTR_CONNECTION_POOLING, 2, 2},
      {SQL_ATTR_CONNECTION_POOLING, 3, 2},
      {SQL_ATTR_CP_MATCH, 1, 1},
      {SQL_ATTR_CP_MATCH, -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.attribute << "=" << c.value);
    EXPECT_EQ(SQLSetEnvAttr(env, c.attribute, reinterpret_cast<SQLPOINTER>(c.value), 0),
              SQL_SUCCESS);
    SQLINTEGER got = -7;
    EXPECT_EQ(SQLGetEnvAttr(env, c.attribute, &got, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(got, c.expected);
  }
  SQLINTEGER constant = 0;
  EXPECT_EQ(SQLGetEnvAttr(env, 1056, &constant, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(constant, 2);
  EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr), SQL_SUCCESS);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST_F(EnvTest, FreeingAnEnvironmentFreesItsConnections) {
  SQLHENV env;
  SQLHDBC connected, idle;
  AllocEnvAndConn(&env, &connected);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &idle), SQL_SUCCESS);
  ASSERT_EQ(Connect(connected), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_LiveConnections(), 1);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_LiveConnections(), 0);
  EXPECT_EQ(TestAgent_LiveServers(), 0);
  EXPECT_EQ(SQLDisconnect(connected), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, idle), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_INVALID_HANDLE);
}

TEST_F(EnvTest, CallsBeforeSetUpAndAfterTearDownAreErrors) {
  SQLHENV env;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  DriverDetach();  // frees the idle environment with the handle layer
  SQLHENV again = SQL_NULL_HENV;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &again), SQL_ERROR);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_ERROR);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_ERROR);
  ASSERT_EQ(DriverAttach(nullptr), 1);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace kx::testing
