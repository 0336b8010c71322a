// The direct harness: both test builds of the driver loaded with dlopen and
// called through their exports, without a driver manager in front that would
// answer first. Shows the driver's own answers for bad handles and for a call
// on a busy connection (it waits), and what each build exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct Driver {
  void* lib = nullptr;
  bool unicode = false;

  template <class Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(lib, name));
  }
  bool Has(const char* name) const { return dlsym(lib, name) != nullptr; }

  // The exports every test needs.
  decltype(&::SQLAllocHandle) AllocHandle = nullptr;
  decltype(&::SQLFreeHandle) FreeHandle = nullptr;
  decltype(&::SQLSetEnvAttr) SetEnvAttr = nullptr;
  decltype(&::SQLDisconnect) Disconnect = nullptr;
  decltype(&::SQLEndTran) EndTran = nullptr;
  void (*Reset)() = nullptr;
  void (*HoldNext)(const char*) = nullptr;
  int (*WaitHeld)(int) = nullptr;
  void (*Release)() = nullptr;
  int (*Calls)(const char*) = nullptr;

  SQLRETURN Connect(SQLHDBC dbc) const {
    const char* text = "JDBC=org.h2.Driver;URL=jdbc:h2:mem:h;UID=u;PWD=p";
    if (unicode) {
      SQLWCHAR wide[128];
      size_t i = 0;
      for (; text[i] != '\0'; ++i) wide[i] = static_cast<SQLWCHAR>(text[i]);
      wide[i] = 0;
      auto fn = Get<decltype(&::SQLDriverConnectW)>("SQLDriverConnectW");
      return fn(dbc, nullptr, wide, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    }
    auto fn = Get<decltype(&::SQLDriverConnect)>("SQLDriverConnect");
    return fn(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)), SQL_NTS, nullptr,
              0, nullptr, SQL_DRIVER_NOPROMPT);
  }

  // The SQLSTATE of record 1 of a handle, through the build's own form.
  std::string State(SQLSMALLINT type, SQLHANDLE handle) const {
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (unicode) {
      SQLWCHAR state[6] = {0}, text[256];
      auto fn = Get<decltype(&::SQLGetDiagRecW)>("SQLGetDiagRecW");
      if (!SQL_SUCCEEDED(fn(type, handle, 1, state, &native, text, 256, &length))) return "";
      std::string out;
      for (int i = 0; i < 5; ++i) out += static_cast<char>(state[i]);
      return out;
    }
    SQLCHAR state[6] = {0}, text[256];
    auto fn = Get<decltype(&::SQLGetDiagRec)>("SQLGetDiagRec");
    if (!SQL_SUCCEEDED(fn(type, handle, 1, state, &native, text, 256, &length))) return "";
    return reinterpret_cast<char*>(state);
  }
};

class Harness : public ::testing::TestWithParam<bool> {
 protected:
  static Driver Load(bool unicode) {
    Driver d;
    d.unicode = unicode;
    d.lib = dlopen(unicode ? KX_TEST_DRIVER_U : KX_TEST_DRIVER_A, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(d.lib, nullptr) << dlerror();
    if (d.lib == nullptr) return d;
    d.AllocHandle = d.Get<decltype(d.AllocHandle)>("SQLAllocHandle");
    d.FreeHandle = d.Get<decltype(d.FreeHandle)>("SQLFreeHandle");
    d.SetEnvAttr = d.Get<decltype(d.SetEnvAttr)>("SQLSetEnvAttr");
    d.Disconnect = d.Get<decltype(d.Disconnect)>("SQLDisconnect");
    d.EndTran = d.Get<decltype(d.EndTran)>("SQLEndTran");
    d.Reset = d.Get<decltype(d.Reset)>("TestAgent_Reset");
    d.HoldNext = d.Get<decltype(d.HoldNext)>("TestAgent_HoldNext");
    d.WaitHeld = d.Get<decltype(d.WaitHeld)>("TestAgent_WaitHeld");
    d.Release = d.Get<decltype(d.Release)>("TestAgent_Release");
    d.Calls = d.Get<decltype(d.Calls)>("TestAgent_Calls");
    return d;
  }
  void SetUp() override {
    d_ = Load(GetParam());
    ASSERT_NE(d_.lib, nullptr);
    d_.Reset();
  }
  // The library stays loaded (it is built never to unload).
  void TearDown() override {
    if (d_.lib != nullptr) dlclose(d_.lib);
  }
  Driver d_;
};

TEST_P(Harness, ExportsTheApiOfItsBuildOnly) {
  for (const char* both : {"SQLAllocHandle", "SQLFreeHandle", "SQLEndTran", "SQLFetch", "SQLCancel",
                           "SQLGetEnvAttr", "GetSetupDatabase", "GetSetupRegistry"}) {
    EXPECT_TRUE(d_.Has(both)) << both;
  }
  const char* text[] = {"SQLConnect", "SQLDriverConnect", "SQLGetDiagRec", "SQLExecDirect",
                        "SQLGetInfo", "SQLColAttribute", "SQLTables", "SQLError"};
  for (const char* name : text) {
    const std::string wide = std::string(name) + "W";
    EXPECT_EQ(d_.Has(wide.c_str()), d_.unicode) << wide;
    EXPECT_EQ(d_.Has(name), !d_.unicode) << name;
  }
  // Nothing of the driver's inside shows.
  for (const char* internal : {"_ZN2kx12CallODBCArgsERKNS_14OdbcCallRecordERNS_8OdbcArgsE",
                               "_ZN2kx11HandlesInitEv", "_ZN2kx12UnicodeBuildEv"}) {
    EXPECT_FALSE(d_.Has(internal)) << internal;
  }
}

TEST_P(Harness, BadHandlesAreInvalidHandles) {
  EXPECT_EQ(d_.Disconnect(SQL_NULL_HDBC), SQL_INVALID_HANDLE);
  EXPECT_EQ(d_.Disconnect(reinterpret_cast<SQLHDBC>(0x20005)), SQL_INVALID_HANDLE);
  EXPECT_EQ(d_.FreeHandle(SQL_HANDLE_DBC, reinterpret_cast<SQLHDBC>(0x12345678)), SQL_INVALID_HANDLE);
  SQLHENV env = SQL_NULL_HENV;
  ASSERT_EQ(d_.AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  EXPECT_EQ(d_.Disconnect(env), SQL_INVALID_HANDLE);  // an environment is not a connection
  SQLHANDLE out;
  EXPECT_EQ(d_.AllocHandle(7, env, &out), SQL_INVALID_HANDLE);
  EXPECT_EQ(d_.EndTran(SQL_HANDLE_DBC, env, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(d_.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
  EXPECT_EQ(d_.FreeHandle(SQL_HANDLE_ENV, env), SQL_INVALID_HANDLE);  // freed already
}

// A connection call of another thread waits for the call running on the
// connection and then runs; an environment-wide transaction end, which would
// run on every connection of the environment at once, is refused.
TEST_P(Harness, ACallOnABusyConnectionWaitsForIt) {
  SQLHENV env;
  SQLHDBC dbc;
  ASSERT_EQ(d_.AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  ASSERT_EQ(d_.AllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(d_.Connect(dbc), SQL_SUCCESS);
  d_.HoldNext("Commit");
  std::atomic<SQLRETURN> committed{-99}, disconnected{-99};
  std::thread running([&] { committed = d_.EndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT); });
  ASSERT_EQ(d_.WaitHeld(10000), 1);
  std::thread waiting([&] { disconnected = d_.Disconnect(dbc); });
  EXPECT_EQ(d_.EndTran(SQL_HANDLE_ENV, env, SQL_ROLLBACK), SQL_ERROR);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(disconnected.load(), -99);
  EXPECT_EQ(d_.Calls("Disconnect"), 0);
  d_.Release();
  running.join();
  waiting.join();
  EXPECT_EQ(committed.load(), SQL_SUCCESS);
  EXPECT_EQ(disconnected.load(), SQL_SUCCESS);
  EXPECT_EQ(d_.Calls("Disconnect"), 1);
  EXPECT_EQ(d_.State(SQL_HANDLE_ENV, env), "HY010");
  EXPECT_EQ(d_.Calls("Rollback"), 0);
  EXPECT_EQ(d_.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Builds, Harness, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Unicode") : std::string("Ansi");
                         });

}  // namespace
