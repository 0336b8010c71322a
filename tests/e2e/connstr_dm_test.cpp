// Connect strings under the unixODBC driver manager, both builds: the exact
// output strings, their truncation, braced values that carry ';', and no
// password in the driver's trace file.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "odbc_env.h"

namespace {

struct Build {
  const char* dsn;
  const char* driver;
  const char* library;
};
void PrintTo(const Build& b, std::ostream* os) { *os << b.dsn; }

const Build kBuilds[] = {{"kx_test_u", "Kestrix Test Unicode", KX_TEST_DRIVER_U},
                         {"kx_test_a", "Kestrix Test ANSI", KX_TEST_DRIVER_A}};

SQLCHAR* Text(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

class ConnStrDm : public ::testing::TestWithParam<Build> {
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
  SQLRETURN DriverConnect(const std::string& in, std::string* out, SQLSMALLINT capacity,
                          SQLSMALLINT* length) {
    std::string buf(static_cast<size_t>(capacity) + 1, '\0');
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, Text(in), SQL_NTS, Text(buf), capacity, length,
                                    SQL_DRIVER_NOPROMPT);
    *out = buf.c_str();
    return rc;
  }
  // A field of the ConnectBlock the test agent inside the loaded driver saw.
  std::string LastConnect(const char* field) {
    void* lib = dlopen(GetParam().library, RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) return "<driver not loaded>";
    auto fn = reinterpret_cast<int (*)(const char*, char*, int)>(dlsym(lib, "TestAgent_LastConnect"));
    dlclose(lib);
    if (fn == nullptr) return "<no control>";
    char out[512] = {0};
    fn(field, out, sizeof out);
    return out;
  }
  std::string State(std::string* text = nullptr) {
    SQLCHAR state[6] = {0}, message[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, message,
                                     sizeof message, &length))) {
      return "";
    }
    if (text != nullptr) *text = reinterpret_cast<char*>(message);
    return reinterpret_cast<char*>(state);
  }
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_P(ConnStrDm, ShortStringCompletedFromTheDataSource) {
  std::string out;
  SQLSMALLINT length = 0;
  ASSERT_EQ(DriverConnect(std::string("DSN=") + GetParam().dsn + ";PWD={p;DSN=elsewhere}", &out,
                          512, &length),
            SQL_SUCCESS)
      << State();
  EXPECT_EQ(out, std::string("DSN=") + GetParam().dsn + ";UID=tester;PWD={p;DSN=elsewhere};FBS=60");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(out.size()));
  EXPECT_EQ(LastConnect("password"), "p;DSN=elsewhere");
  EXPECT_EQ(LastConnect("dataSource"), GetParam().dsn);
  EXPECT_EQ(LastConnect("dbOptions"), "jdbc:h2:mem:e2e");
  EXPECT_EQ(LastConnect("dbPath"), "org.h2.Driver");
}

TEST_P(ConnStrDm, LongStringWithTheDriverKeyword) {
  std::string out;
  SQLSMALLINT length = 0;
  const std::string in = std::string("DRIVER={") + GetParam().driver +
                         "};UID=u;PWD=p;URL={URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}};FBS=25";
  ASSERT_EQ(DriverConnect(in, &out, 1024, &length), SQL_SUCCESS) << State();
  EXPECT_EQ(out.rfind(std::string("DRIVER={") + GetParam().driver + "};UID=u;PWD=p;JDBC=;"
                      "URL={URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}};FBS=25;", 0),
            0u)
      << out;
  EXPECT_EQ(out.substr(out.size() - 16), ";Server=Quillmar") << out;
  EXPECT_EQ(LastConnect("dbOptions"), "URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}");
}

TEST_P(ConnStrDm, CutOutputIsReportedWithItsFullLength) {
  std::string out;
  SQLSMALLINT length = 0;
  const std::string in = std::string("DSN=") + GetParam().dsn + ";UID=u;PWD=p";
  const std::string full = std::string("DSN=") + GetParam().dsn + ";UID=u;PWD=p;FBS=60";
  ASSERT_EQ(DriverConnect(in, &out, 10, &length), SQL_SUCCESS_WITH_INFO) << State();
  EXPECT_EQ(out, full.substr(0, 9));
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(full.size()));
  std::string text;
  EXPECT_EQ(State(&text), "01004");
  EXPECT_EQ(text, "[Quillmar][ODBC][Driver]Data was truncated");
}

TEST_P(ConnStrDm, SqlConnectKeepsSemicolonsInsideTheValues) {
  ASSERT_EQ(SQLConnect(dbc_, Text(GetParam().dsn), SQL_NTS, Text("us;er"), SQL_NTS,
                       Text("pw;UID=intruder"), SQL_NTS),
            SQL_SUCCESS)
      << State();
  EXPECT_EQ(LastConnect("user"), "us;er");
  EXPECT_EQ(LastConnect("password"), "pw;UID=intruder");
}

INSTANTIATE_TEST_SUITE_P(Builds, ConnStrDm, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<Build>& info) {
                           return std::string(info.param.dsn);
                         });

// The trace of the ANSI test build: a private file when this test is the
// first to load the driver, else the file its odbcinst.ini section names.
TEST(ConnStrDmTrace, PasswordsNeverReachTheTraceFile) {
  std::string tracePath = std::string(KX_E2E_ODBC_DIR) + "/kestrix_test.trace";
  void* loaded = dlopen(KX_TEST_DRIVER_A, RTLD_NOW | RTLD_NOLOAD);
  const bool privateTrace = loaded == nullptr;
  if (loaded != nullptr) {
    dlclose(loaded);
  } else {
    tracePath = ::testing::TempDir() + "kx_connstr_dm_" + std::to_string(getpid()) + ".trace";
    setenv("ZNT_DEBUGFILE", tracePath.c_str(), 1);
  }
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  const std::string in = "DSN=kx_test_a;PWD=Tr4ceS3cret;URL={URL=jdbc:x://h/d;password=Tr4ceS3cret}";
  SQLCHAR out[1024];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLDriverConnect(dbc, nullptr, Text(in), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS);
  SQLDisconnect(dbc);
  EXPECT_EQ(SQLConnect(dbc, Text("kx_test_a"), SQL_NTS, Text("u"), SQL_NTS, Text("Tr4ceS3cret"),
                       SQL_NTS),
            SQL_SUCCESS);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  unsetenv("ZNT_DEBUGFILE");
  std::ifstream in_file(tracePath);
  ASSERT_TRUE(in_file.good()) << tracePath;
  std::stringstream text;
  text << in_file.rdbuf();
  EXPECT_NE(text.str().find("PWD=***"), std::string::npos);
  EXPECT_EQ(text.str().find("Tr4ceS3cret"), std::string::npos);
  if (privateTrace) std::remove(tracePath.c_str());
}

}  // namespace
