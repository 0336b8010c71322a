// The driver core under the unixODBC driver manager, both builds, against the
// test agent: allocation, attributes, connecting by DSN and by connect string,
// a failed connect followed by a good one, commit, disconnect and release;
// isql and iusql as clients; the driver's own section of odbcinst.ini.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "odbc_env.h"

namespace {

struct Build {
  const char* dsn;
  const char* library;
};
void PrintTo(const Build& b, std::ostream* os) { *os << b.dsn; }

const Build kBuilds[] = {{"kx_test_u", KX_TEST_DRIVER_U}, {"kx_test_a", KX_TEST_DRIVER_A}};

std::string Diag(SQLSMALLINT type, SQLHANDLE handle, std::string* text = nullptr) {
  SQLCHAR state[6] = {0}, message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) {
    return "";
  }
  if (text != nullptr) *text = reinterpret_cast<char*>(message);
  return reinterpret_cast<char*>(state);
}

// The test agent's controls inside the driver the manager loaded (the
// library stays resident once loaded).
template <class Fn>
Fn AgentControl(const char* library, const char* name) {
  void* lib = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return nullptr;
  auto fn = reinterpret_cast<Fn>(dlsym(lib, name));
  dlclose(lib);
  return fn;
}

class DriverManager : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  SQLRETURN ConnectDsn() {
    return SQLConnect(dbc_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(GetParam().dsn)), SQL_NTS,
                      nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>("pw")), SQL_NTS);
  }
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_P(DriverManager, ConnectCommitDisconnect) {
  ASSERT_EQ(ConnectDsn(), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT), SQL_SUCCESS);
  auto calls = AgentControl<int (*)(const char*)>(GetParam().library, "TestAgent_Calls");
  ASSERT_NE(calls, nullptr) << "the driver the manager loaded is not " << GetParam().library;
  EXPECT_GE(calls("Commit"), 1);
  EXPECT_GE(calls("Rollback"), 1);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  // Disconnecting twice: the driver manager answers the second itself.
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(Diag(SQL_HANDLE_DBC, dbc_), "08003");
}

TEST_P(DriverManager, DriverConnectReturnsTheCompletedString) {
  const std::string in = std::string("DSN=") + GetParam().dsn + ";PWD=secret";
  SQLCHAR out[1024] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())),
                             SQL_NTS, out, sizeof out, &length, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << Diag(SQL_HANDLE_DBC, dbc_);
  const std::string text = reinterpret_cast<char*>(out);
  EXPECT_NE(text.find(std::string("DSN=") + GetParam().dsn), std::string::npos) << text;
  EXPECT_NE(text.find("UID=tester"), std::string::npos) << text;  // completed from odbc.ini
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(text.size()));
}

TEST_P(DriverManager, FailedConnectThenAGoodOne) {
  // Load the driver once so that its test agent can be scripted.
  ASSERT_EQ(ConnectDsn(), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  auto failNext = AgentControl<void (*)(const char*, int, const char*, const char*)>(
      GetParam().library, "TestAgent_FailNext");
  ASSERT_NE(failNext, nullptr);
  failNext("Connect", 50, "08001", "listener refused the connection");
  EXPECT_EQ(ConnectDsn(), SQL_ERROR);
  std::string text;
  EXPECT_EQ(Diag(SQL_HANDLE_DBC, dbc_, &text), "08001");
  EXPECT_NE(text.find("listener refused the connection"), std::string::npos) << text;
  EXPECT_EQ(text.find("[SQLSTATE:"), std::string::npos) << text;  // the tag is cut off
  EXPECT_EQ(ConnectDsn(), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
}

TEST_P(DriverManager, EnvironmentAttributesStayWithTheManager) {
  SQLINTEGER version = 0;
  EXPECT_EQ(SQLGetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(version, SQL_OV_ODBC3);
  ASSERT_EQ(ConnectDsn(), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc_);
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  // Statements are not built yet: the core answers for them without crashing.
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
  if (rc == SQL_SUCCESS) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SUCCEED();
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "popen failed";
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr) output += buffer;
  int status = pclose(p);
  output += "\nexit=" + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return output;
}

TEST_P(DriverManager, IsqlConnects) {
  const bool unicode = std::string(GetParam().dsn) == "kx_test_u";
  const std::string tool = unicode ? KX_IUSQL : KX_ISQL;
  const std::string out = RunCommand("echo | " + tool + " -v " + GetParam().dsn + " tester pw 2>&1");
  EXPECT_NE(out.find("Connected!"), std::string::npos) << out;
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Builds, DriverManager, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<Build>& info) {
                           return std::string(info.param.dsn);
                         });

// The ANSI test driver's section of odbcinst.ini names a trace file: the
// driver read the section the data source names and traced the calls from
// the connect on.
// Every process that loads the driver starts the file afresh, and the other
// tests of the suite load it in parallel: a few tries, so that one of them
// reads the file before another process has started it again.
TEST(DriverSection, TraceFileFromOdbcinstIni) {
  const std::string trace = std::string(KX_E2E_ODBC_DIR) + "/kestrix_test.trace";
  std::string text;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string out = RunCommand("echo | " + std::string(KX_ISQL) + " kx_test_a tester pw 2>&1");
    ASSERT_NE(out.find("exit=0"), std::string::npos) << out;
    std::ifstream in(trace);
    ASSERT_TRUE(in.good()) << trace;
    std::stringstream all;
    all << in.rdbuf();
    text = all.str();
    if (text.find("SQLConnect: returning") != std::string::npos) break;
  }
  EXPECT_NE(text.find("SQLConnect: returning"), std::string::npos) << text;
  EXPECT_EQ(text.find("pw"), std::string::npos) << "the password reached the trace";
}

}  // namespace
