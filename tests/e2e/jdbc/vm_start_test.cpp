// Java VM options that the VM answers by ending its process, through the
// driver manager: the connect fails with the VM's own words, every further
// attempt says the same, and the application goes on (and can connect once
// the options are sound).
#include <cstdlib>
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

class VmStart : public ::testing::TestWithParam<Road> {};

std::string FirstRecord(SQLHDBC dbc, std::string* state) {
  SQLCHAR st[6] = {0}, message[2048] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, st, &native, message, sizeof message, &length))) {
    return "";
  }
  *state = reinterpret_cast<char*>(st);
  return reinterpret_cast<char*>(message);
}

SQLRETURN DriverConnect(SQLHDBC dbc, const Road& road) {
  std::string cs = ConnectString(road);
  return SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr, 0,
                          nullptr, SQL_DRIVER_NOPROMPT);
}

// Runs in a process of its own: no VM yet.
[[noreturn]] void RefusedOptionsThenSoundOnes(const Road& road) {
  const struct {
    const char* options;
    const char* words;
  } cases[] = {
      {"-Xmx1k", "Too small maximum heap"},
      {"-XX:+UseSerialGC -XX:+UseParallelGC", "Multiple garbage collectors selected"},
      {"-agentlib:nosuch", "Could not find agent library nosuch"},
      {"-Xmx100000g", "Could not reserve enough space"},
  };
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    setenv("ZNT_JVM_OPTS", c.options, 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(DriverConnect(dbc, road), SQL_ERROR);
      std::string state;
      const std::string text = FirstRecord(dbc, &state);
      EXPECT_EQ(state, "08001") << text;
      EXPECT_NE(text.find(c.words), std::string::npos) << text;
      EXPECT_NE(text.find("ZNT_JVM_OPTS"), std::string::npos) << text;
    }
  }
  setenv("ZNT_JVM_OPTS", "-Xmx256m", 1);
  SQLRETURN rc = DriverConnect(dbc, road);
  EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_DBC, dbc);
  if (SQL_SUCCEEDED(rc)) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLCHAR sql[] = "SELECT 40 + 2";
    EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, sql, SQL_NTS))) << Diag(SQL_HANDLE_STMT, stmt);
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt)));
    SQLINTEGER v = 0;
    SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, nullptr);
    EXPECT_EQ(v, 42);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_P(VmStart, RefusedOptionsFailTheConnectAndTheApplicationGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RefusedOptionsThenSoundOnes(GetParam()), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Roads, VmStart, ::testing::Values(kRoads[0], kRoads[1]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
