// SQLGetInfo, SQLGetFunctions and SQLNativeSql against the test agent: the
// driver's own answers in both builds, the conversion masks, the caches of the
// agent's answers, text cuts, and the function lists.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "agent/build_flavor.h"
#include "core_fixture.h"
#include "odbc/conn.h"
#include "odbc/getinfo.h"
#include "util/errcodes.h"

namespace kx::testing {
namespace {

constexpr uint64_t kCanary = 0xA5A5A5A5A5A5A5A5ull;

// Text answers of the agent, which the test agent itself does not carry: a
// layer over its table, as the cursor layer lays itself over the agent.
struct InfoTextLayer {
  static AgentOps table;
  static const AgentOps* below;
  static std::map<uint32_t, std::string> answers;
  static int32_t GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                             uint16_t* length) {
    int32_t rc = below->DRV_GetProperty(h, id, out, capacity, length);
    auto it = answers.find(id);
    if (rc != 1 || AgentPropertyKind(id) != AP_KIND_TEXT || it == answers.end()) return rc;
    snprintf(static_cast<char*>(out), capacity, "%s", it->second.c_str());
    if (length != nullptr) *length = static_cast<uint16_t>(strlen(static_cast<char*>(out)));
    return 0;
  }
  static void Install(ConnRecord* conn) {
    below = conn->binding.ops;
    table = *below;
    table.DRV_GetProperty = GetProperty;
    conn->binding.ops = &table;
  }
};
AgentOps InfoTextLayer::table{};
const AgentOps* InfoTextLayer::below = nullptr;
std::map<uint32_t, std::string> InfoTextLayer::answers;

// Every case runs in both builds: the Unicode one (wide entries exported) and
// the ANSI one.
class InfoTest : public CoreTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
    InfoTextLayer::answers.clear();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    SetVersion(SQL_OV_ODBC3);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    CoreTest::TearDown();
  }
  void SetVersion(uintptr_t version) {
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(version), 0),
              SQL_SUCCESS);
  }
  ConnRecord* Conn() {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    return static_cast<ConnRecord*>(
        LookupHandle(HK_DBC, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dbc_))));
  }
  void Open() {
    ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
    InfoTextLayer::Install(Conn());
  }
  std::string DbcState() { return State(SQL_HANDLE_DBC, dbc_); }

  // A text answer through the narrow or the wide entry, as UTF-8.
  SQLRETURN Text(bool wide, SQLUSMALLINT type, std::string* out, SQLSMALLINT* length = nullptr) {
    char buf[512] = {0};
    SQLSMALLINT len = -1;
    SQLRETURN rc = wide ? SQLGetInfoW(dbc_, type, buf, sizeof buf, &len)
                        : SQLGetInfo(dbc_, type, buf, sizeof buf, &len);
    if (wide) {
      out->clear();
      for (size_t i = 0; i + 1 < sizeof buf && (buf[i] | buf[i + 1]) != 0; i += 2) {
        *out += buf[i];  // the tests' texts are ASCII
      }
    } else {
      *out = buf;
    }
    if (length != nullptr) *length = len;
    return rc;
  }
  uint32_t U32(SQLUSMALLINT type, SQLRETURN expected = SQL_SUCCESS) {
    uint64_t v = kCanary;
    SQLSMALLINT len = -1;
    EXPECT_EQ(SQLGetInfo(dbc_, type, &v, 0, &len), expected);
    if (expected != SQL_SUCCESS) return 0;
    EXPECT_EQ(len, 4);
    EXPECT_EQ(v >> 32, kCanary >> 32) << "a 32-bit answer wrote past 4 bytes";
    return static_cast<uint32_t>(v);
  }
  static int AgentAsks() { return TestAgent_Calls("GetProperty"); }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// ---- the driver's own answers, in both builds ---------------------------------------

TEST_P(InfoTest, OwnAnswersNeedNoConnection) {
  const std::string library = GetParam() ? "libkestrixu.so" : "libkestrix.so";
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "narrow");
    std::string text;
    SQLSMALLINT len = 0;
    EXPECT_EQ(Text(wide, SQL_DRIVER_ODBC_VER, &text, &len), SQL_SUCCESS);
    EXPECT_EQ(text, "03.50");
    EXPECT_EQ(len, wide ? 10 : 5);
    EXPECT_EQ(Text(wide, SQL_DATA_SOURCE_NAME, &text, &len), SQL_SUCCESS);
    EXPECT_EQ(text, "");
    EXPECT_EQ(len, 0);
    // Not a shared library here: the name of this build's library.
    EXPECT_EQ(Text(wide, SQL_DRIVER_NAME, &text), SQL_SUCCESS);
    EXPECT_EQ(text, library);
  }
  SQLUSMALLINT conformance = 0xEEEE;
  SQLSMALLINT len = 0;
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_ODBC_API_CONFORMANCE, &conformance, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(conformance, SQL_OAC_LEVEL1);
  EXPECT_EQ(len, 2);
  EXPECT_EQ(U32(SQL_DTC_TRANSITION_COST), SQL_DTC_ENLIST_EXPENSIVE | SQL_DTC_UNENLIST_EXPENSIVE);
  EXPECT_EQ(AgentAsks(), 0);
}

TEST_P(InfoTest, DataSourceNameOfTheConnection) {
  SQLCHAR in[] = "DSN=sales;JDBC=org.h2.Driver;URL=jdbc:h2:mem:t;UID=u;PWD=p";
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLDriverConnect(dbc_, nullptr, in, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
  std::string text;
  EXPECT_EQ(Text(false, SQL_DATA_SOURCE_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "sales");
  EXPECT_EQ(Text(true, SQL_DATA_SOURCE_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "sales");
}


// The library's own file name, as a driver manager that loaded it sees it.
TEST(InfoLibraryTest, DriverNameIsTheFileTheDriverWasLoadedFrom) {
  struct Case {
    const char* path;
    bool unicode;
    const char* name;
  } cases[] = {{KX_TEST_DRIVER_U, true, "libkestrixu_test.so"},
               {KX_TEST_DRIVER_A, false, "libkestrix_test.so"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* lib = dlopen(c.path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using AllocFn = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
    using FreeFn = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE);
    using InfoFn = SQLRETURN (*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*);
    auto alloc = reinterpret_cast<AllocFn>(dlsym(lib, "SQLAllocHandle"));
    auto release = reinterpret_cast<FreeFn>(dlsym(lib, "SQLFreeHandle"));
    auto info = reinterpret_cast<InfoFn>(dlsym(lib, c.unicode ? "SQLGetInfoW" : "SQLGetInfo"));
    ASSERT_TRUE(alloc && release && info);
    SQLHENV env;
    SQLHDBC dbc;
    ASSERT_EQ(alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    ASSERT_EQ(alloc(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    char buf[128] = {0};
    SQLSMALLINT len = 0;
    ASSERT_EQ(info(dbc, SQL_DRIVER_NAME, buf, sizeof buf, &len), SQL_SUCCESS);
    std::string name;
    if (c.unicode) {
      for (size_t i = 0; buf[i] != 0; i += 2) name += buf[i];
    } else {
      name = buf;
    }
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(len, static_cast<SQLSMALLINT>(strlen(c.name) * (c.unicode ? 2 : 1)));
    release(SQL_HANDLE_DBC, dbc);
    release(SQL_HANDLE_ENV, env);
    dlclose(lib);
  }
}

// ---- states and types ----------------------------------------------------------------

TEST_P(InfoTest, AgentAnswersNeedAConnectionAndAKnownType) {
  std::string text;
  EXPECT_EQ(Text(false, SQL_DBMS_NAME, &text), SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  U32(SQL_SCROLL_OPTIONS, SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  U32(5000, SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  Open();
  for (SQLUSMALLINT type : {SQLUSMALLINT{5000}, SQLUSMALLINT{SQL_DM_VER}, SQLUSMALLINT{173}}) {
    SCOPED_TRACE(type);
    U32(type, SQL_ERROR);
    EXPECT_EQ(DbcState(), "HY096");
  }
  // A type the agent has no answer for: its code.
  U32(SQL_SCROLL_OPTIONS, SQL_ERROR);
  EXPECT_EQ(DbcState(), "IM001");
}

TEST_P(InfoTest, ConversionMasksWorkedOutWithoutTheAgent) {
  struct Case {
    int version;
    bool connected;
    SQLUSMALLINT type;
    uint32_t narrow;
  } cases[] = {
      {SQL_OV_ODBC2, true, SQL_CONVERT_CHAR, 0x73FF},
      {SQL_OV_ODBC2, true, SQL_CONVERT_WVARCHAR, 0x73FF},
      {SQL_OV_ODBC2, true, SQL_CONVERT_DATE, 0x28301},
      {SQL_OV_ODBC2, true, SQL_CONVERT_TIME, 0x30301},
      {SQL_OV_ODBC2, true, SQL_CONVERT_TIMESTAMP, 0x38301},
      {SQL_OV_ODBC2, true, SQL_CONVERT_LONGVARBINARY, 0x40F01},
      // ODBC 3 looks for the ODBC 3 date code, which the agent's table lacks.
      {SQL_OV_ODBC3, true, SQL_CONVERT_DATE, 0},
      {SQL_OV_ODBC3, true, SQL_CONVERT_BINARY, 0x40F01},
      {SQL_OV_ODBC3, true, SQL_CONVERT_INTEGER, 0x73FF},
      // Before connecting there is no type table.
      {SQL_OV_ODBC3, false, SQL_CONVERT_CHAR, 0x73FF},
      {SQL_OV_ODBC2, false, SQL_CONVERT_DATE, 0},
      {SQL_OV_ODBC2, false, SQL_CONVERT_VARBINARY, 0},
  };
  TestAgent_SetProperty(AP_CONN_CAPABILITY_MASK, 13727 & ~static_cast<int32_t>(CAP_CONVERT_INFO));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.type));
    SQLDisconnect(dbc_);
    SetVersion(static_cast<uintptr_t>(c.version));
    if (c.connected) Open();
    const int asks = AgentAsks();
    EXPECT_EQ(U32(c.type), c.narrow);
    uint64_t wide = kCanary;
    ASSERT_EQ(SQLGetInfoW(dbc_, c.type, &wide, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(static_cast<uint32_t>(wide),
              c.narrow != 0 ? c.narrow | SQL_CVT_WCHAR | SQL_CVT_WLONGVARCHAR | SQL_CVT_WVARCHAR
                            : 0u);
    EXPECT_EQ(AgentAsks(), asks);
  }
}

TEST_P(InfoTest, ConversionMasksComeFromTheAgentThatCanTell) {
  TestAgent_SetProperty(AP_CONN_CAPABILITY_MASK, 13727 | CAP_CONVERT_INFO);
  Open();
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_CONVERT_CHAR, 0x1234);
  EXPECT_EQ(U32(SQL_CONVERT_CHAR), 0x1234u);
  uint32_t wide = 0;
  ASSERT_EQ(SQLGetInfoW(dbc_, SQL_CONVERT_CHAR, &wide, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(wide, 0x1234u);
}

// ---- the caches ------------------------------------------------------------------

TEST_P(InfoTest, EachAgentAnswerIsAskedOncePerConnection) {
  Open();
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_SCROLL_OPTIONS, 0x12345);
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_MAX_COLUMN_NAME_LEN, 0x10080);
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0x10001);
  InfoTextLayer::answers[AP_CONN_GETINFO_TEXT + SQL_DBMS_NAME] = "Informix";
  struct Case {
    SQLUSMALLINT type;
    uint64_t expected;  // what the 8-byte buffer holds afterwards
    SQLSMALLINT length;
  } cases[] = {
      // Above 0xFFFF: whole, the second time too.
      {SQL_SCROLL_OPTIONS, (kCanary & ~0xFFFFFFFFull) | 0x12345, 4},
      // 16 bits: the low half of the agent's 4 bytes, 2 bytes written.
      {SQL_MAX_COLUMN_NAME_LEN, (kCanary & ~0xFFFFull) | 0x80, 2},
      // An SQLUINTEGER, not 16 bits.
      {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, (kCanary & ~0xFFFFFFFFull) | 0x10001, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const int asks = AgentAsks();
    for (int round = 0; round < 2; ++round) {
      uint64_t v = kCanary;
      SQLSMALLINT len = -1;
      ASSERT_EQ(SQLGetInfo(dbc_, c.type, &v, 0, &len), SQL_SUCCESS);
      EXPECT_EQ(v, c.expected);
      EXPECT_EQ(len, c.length);
    }
    EXPECT_EQ(AgentAsks(), asks + 1);
  }
  const int asks = AgentAsks();
  std::string text;
  for (bool wide : {false, true, false}) {
    EXPECT_EQ(Text(wide, SQL_DBMS_NAME, &text), SQL_SUCCESS);
    EXPECT_EQ(text, "Informix");
  }
  EXPECT_EQ(AgentAsks(), asks + 1);

  // A reconnect on the same handle starts from empty caches.
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  Open();
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_SCROLL_OPTIONS, 7);
  EXPECT_EQ(U32(SQL_SCROLL_OPTIONS), 7u);
}

TEST_P(InfoTest, DatabaseNameAndEmptyMarkersAreAskedEveryTime) {
  Open();
  InfoTextLayer::answers[AP_CONN_GETINFO_TEXT + SQL_DATABASE_NAME] = "stores";
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_MAX_STATEMENT_LEN, -1);
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_MAX_USER_NAME_LEN, 0xFFFF);
  const int asks = AgentAsks();
  std::string text;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Text(false, SQL_DATABASE_NAME, &text), SQL_SUCCESS);
    EXPECT_EQ(text, "stores");
    EXPECT_EQ(U32(SQL_MAX_STATEMENT_LEN), 0xFFFFFFFFu);
    SQLUSMALLINT v = 0;
    ASSERT_EQ(SQLGetInfo(dbc_, SQL_MAX_USER_NAME_LEN, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 0xFFFF);
  }
  EXPECT_EQ(AgentAsks(), asks + 6);
}

TEST_P(InfoTest, OuterJoinCapabilitiesShareOneAnswerUnderBothNumbers) {
  Open();
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_OJ_CAPABILITIES, 0x7F);
  const int asks = AgentAsks();
  EXPECT_EQ(U32(SQL_OJ_CAPABILITIES), 0x7Fu);
  EXPECT_EQ(U32(65003), 0x7Fu);
  EXPECT_EQ(AgentAsks(), asks + 1);
}

TEST_P(InfoTest, HandleAnswersArePointerSized) {
  Open();
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_DRIVER_HDBC, 0x4321);
  uint64_t v = kCanary;
  SQLSMALLINT len = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_HDBC, &v, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 0x4321u);
  EXPECT_EQ(len, static_cast<SQLSMALLINT>(sizeof(SQLULEN)));
}

TEST_P(InfoTest, CachesSlotsAreDistinct) {
  std::vector<int> seen16, seen32, seenText;
  for (int type = 0; type <= 0xFFFF; ++type) {
    const auto t = static_cast<uint16_t>(type);
    if (int s = InfoCacheSlot16(t); s >= 0) seen16.push_back(s);
    if (int s = InfoCacheSlot32(t); s >= 0 && t != 65003) seen32.push_back(s);
    if (int s = InfoCacheSlotText(t); s >= 0) seenText.push_back(s);
    // A type has at most one kind.
    EXPECT_LE((InfoCacheSlot16(t) >= 0) + (InfoCacheSlot32(t) >= 0) + (InfoCacheSlotText(t) >= 0), 1)
        << type;
  }
  for (auto* seen : {&seen16, &seen32, &seenText}) {
    std::sort(seen->begin(), seen->end());
    EXPECT_EQ(std::adjacent_find(seen->begin(), seen->end()), seen->end());
  }
  EXPECT_EQ(seen16.size(), 31u);
  EXPECT_EQ(seen32.size(), 88u + 22u);  // with the conversion types
  EXPECT_EQ(seenText.size(), 34u);      // neither the database nor the driver name
  EXPECT_LT(seen32.back(), CONN_CACHE_INT32);
}

// ---- text answers -------------------------------------------------------------------

TEST_P(InfoTest, TextAnswersAreCutWithATruncationWarningAndTheirFullLength) {
  Open();
  InfoTextLayer::answers[AP_CONN_GETINFO_TEXT + SQL_DBMS_NAME] = "Informix";
  InfoTextLayer::answers[AP_CONN_GETINFO_TEXT + SQL_USER_NAME] = "\xC3\x85sa";  // "Åsa"
  struct Case {
    bool wide;
    SQLUSMALLINT type;
    SQLSMALLINT bufferLength;
    SQLRETURN rc;
    std::string bytes;  // written up to the terminator (UTF-16 as pairs of bytes)
    SQLSMALLINT length;
  } cases[] = {
      {false, SQL_DBMS_NAME, 9, SQL_SUCCESS, "Informix", 8},
      {false, SQL_DBMS_NAME, 4, SQL_SUCCESS_WITH_INFO, "Inf", 8},
      {false, SQL_DBMS_NAME, 1, SQL_SUCCESS_WITH_INFO, "", 8},
      {true, SQL_DBMS_NAME, 18, SQL_SUCCESS, std::string("I\0n\0f\0o\0r\0m\0i\0x\0", 16), 16},
      {true, SQL_DBMS_NAME, 8, SQL_SUCCESS_WITH_INFO, std::string("I\0n\0f\0", 6), 16},
      {true, SQL_DBMS_NAME, 7, SQL_SUCCESS_WITH_INFO, std::string("I\0n\0", 4), 16},
      // A cut never splits a character.
      {false, SQL_USER_NAME, 2, SQL_SUCCESS_WITH_INFO, "", 4},
      {false, SQL_USER_NAME, 3, SQL_SUCCESS_WITH_INFO, "\xC3\x85", 4},
      {true, SQL_USER_NAME, 4, SQL_SUCCESS_WITH_INFO, std::string("\xC5\0", 2), 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.wide) + "/" + std::to_string(c.type) + "/" +
                 std::to_string(c.bufferLength));
    unsigned char buf[64];
    memset(buf, 0x7E, sizeof buf);
    SQLSMALLINT len = -1;
    SQLRETURN rc = c.wide ? SQLGetInfoW(dbc_, c.type, buf, c.bufferLength, &len)
                          : SQLGetInfo(dbc_, c.type, buf, c.bufferLength, &len);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(len, c.length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), c.bytes.size()), c.bytes);
    EXPECT_EQ(buf[c.bytes.size()], 0);
    if (c.wide) {
      EXPECT_EQ(buf[c.bytes.size() + 1], 0);
    }
    EXPECT_EQ(buf[c.bufferLength], 0x7E);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(DbcState(), "01004");
    }
  }
  SQLSMALLINT len = -1;
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_DBMS_NAME, nullptr, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(len, 8);
  EXPECT_EQ(SQLGetInfoW(dbc_, SQL_DBMS_NAME, nullptr, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(len, 16);
  char buf[16];
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_DBMS_NAME, buf, -2, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_ODBC_VER, buf, -2, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
}

// ---- SQLGetFunctions ------------------------------------------------------------------

TEST_P(InfoTest, FunctionsOneByOne) {
  struct Case {
    SQLUSMALLINT function;
    SQLUSMALLINT exists;
  } cases[] = {
      {SQL_API_SQLBROWSECONNECT, SQL_FALSE}, {SQL_API_SQLDATASOURCES, SQL_FALSE},
      {SQL_API_SQLSETSCROLLOPTIONS, SQL_FALSE}, {SQL_API_SQLDRIVERS, SQL_FALSE},
      {SQL_API_SQLALLOCHANDLESTD, SQL_FALSE}, {SQL_API_SQLBINDPARAM, SQL_FALSE},
      {SQL_API_SQLFETCHSCROLL, SQL_TRUE},    {SQL_API_SQLGETINFO, SQL_TRUE},
      {SQL_API_SQLBULKOPERATIONS, SQL_FALSE}, {SQL_API_SQLBINDPARAMETER, SQL_TRUE},
      {SQL_API_SQLSETPOS, SQL_FALSE},        {SQL_API_SQLEXTENDEDFETCH, SQL_FALSE},
      {SQL_API_SQLALLOCHANDLE, SQL_TRUE},    {SQL_API_SQLSETSTMTATTR, SQL_TRUE},
      {SQL_API_SQLCANCELHANDLE, SQL_FALSE},  {99, SQL_FALSE},
      {4000, SQL_FALSE},                     {65535, SQL_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    SQLUSMALLINT exists = 0xEEEE;
    EXPECT_EQ(SQLGetFunctions(dbc_, c.function, &exists), SQL_SUCCESS);
    EXPECT_EQ(exists, c.exists);
  }
  EXPECT_EQ(SQLGetFunctions(dbc_, SQL_API_SQLFETCH, nullptr), SQL_SUCCESS);
}

TEST_P(InfoTest, AllFunctionsInBothForms) {
  SQLUSMALLINT v2[101];
  v2[100] = 0xEEEE;
  ASSERT_EQ(SQLGetFunctions(dbc_, SQL_API_ALL_FUNCTIONS, v2), SQL_SUCCESS);
  EXPECT_EQ(v2[100], 0xEEEE);  // 100 entries, no more
  SQLUSMALLINT v3[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 1];
  v3[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = 0xEEEE;
  ASSERT_EQ(SQLGetFunctions(dbc_, SQL_API_ODBC3_ALL_FUNCTIONS, v3), SQL_SUCCESS);
  EXPECT_EQ(v3[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE], 0xEEEE);
  EXPECT_TRUE(SQL_FUNC_EXISTS(v3, SQL_API_SQLFETCHSCROLL));
  EXPECT_FALSE(SQL_FUNC_EXISTS(v3, SQL_API_SQLBINDPARAM));
  int count2 = 0, count3 = 0;
  for (int n = 0; n < 100; ++n) {
    count2 += v2[n];
    // The two forms agree on every number they share.
    EXPECT_EQ(v2[n] != 0, SQL_FUNC_EXISTS(v3, n) != 0) << n;
  }
  for (int n = 0; n < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++n) count3 += SQL_FUNC_EXISTS(v3, n);
  // Without a cursor layer: neither SQLExtendedFetch, SQLSetPos nor
  // SQLBulkOperations.
  EXPECT_EQ(count2, 50);
  EXPECT_EQ(count3, 50 + 18);
}

// The functions and answers of the cursor layer follow what the connection
// carries out: rowsets once a layer serves them; positioned and bulk
// operations, the lock types and the block bit of SQLGetData never while
// SQLSetPos has no road.
TEST_P(InfoTest, LayerFunctionsAndAnswersFollowWhatTheConnectionCarriesOut) {
  Open();
  ConnRecord* conn = Conn();
  ASSERT_NE(conn, nullptr);
  auto exists = [&](SQLUSMALLINT f) {
    SQLUSMALLINT e = 0xEEEE;
    EXPECT_EQ(SQLGetFunctions(dbc_, f, &e), SQL_SUCCESS);
    return e;
  };
  EXPECT_EQ(exists(SQL_API_SQLEXTENDEDFETCH), SQL_FALSE);
  // A layer that serves rowsets through the agent's table.
  static AgentOps withRowsets;
  withRowsets = *conn->binding.ops;
  withRowsets.DRV_ExtendedFetch = [](AgentHandle, RowStatusSet**, int32_t, uint32_t*, int32_t*) -> int32_t {
    return 0;
  };
  withRowsets.DRV_FetchScroll = [](AgentHandle, RowStatusSet**, int32_t, uint32_t*, int32_t*, uint16_t) -> int32_t {
    return 0;
  };
  const AgentOps* saved = conn->binding.ops;
  const int32_t savedScrl = conn->cn_hasScrlCurs;
  conn->binding.ops = &withRowsets;
  conn->cn_hasScrlCurs = 1;
  EXPECT_EQ(exists(SQL_API_SQLEXTENDEDFETCH), SQL_TRUE);
  EXPECT_EQ(exists(SQL_API_SQLSETPOS), SQL_FALSE);
  EXPECT_EQ(exists(SQL_API_SQLBULKOPERATIONS), SQL_FALSE);
  // What the agent (or its cursor layer) would promise, as if asked already.
  conn->infoCache32[InfoCacheSlot32(SQL_POS_OPERATIONS)] = 31;
  conn->infoCache32[InfoCacheSlot32(SQL_LOCK_TYPES)] = SQL_LCK_NO_CHANGE;
  conn->infoCache32[InfoCacheSlot32(SQL_GETDATA_EXTENSIONS)] =
      SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BLOCK;
  conn->infoCache32[InfoCacheSlot32(SQL_BOOKMARK_PERSISTENCE)] = SQL_BP_DELETE | SQL_BP_SCROLL | SQL_BP_UPDATE;
  EXPECT_EQ(U32(SQL_POS_OPERATIONS), 0u);
  EXPECT_EQ(U32(SQL_LOCK_TYPES), 0u);
  // The core reads bound columns itself: SQL_GD_BOUND whatever the agent says.
  EXPECT_EQ(U32(SQL_GETDATA_EXTENSIONS),
            static_cast<uint32_t>(SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND));
  EXPECT_EQ(U32(SQL_BOOKMARK_PERSISTENCE), static_cast<uint32_t>(SQL_BP_SCROLL));
  // Without the layer bookmarks promise nothing.
  conn->cn_hasScrlCurs = 0;
  EXPECT_EQ(U32(SQL_BOOKMARK_PERSISTENCE), 0u);
  conn->binding.ops = saved;
  conn->cn_hasScrlCurs = savedScrl;
}

// ---- SQLNativeSql ------------------------------------------------------------------------

TEST_P(InfoTest, NativeSqlNarrowAndWide) {
  Open();
  const std::string sql20 = "SELECT a FROM tb1234";  // 20 characters; the agent echoes it
  struct Case {
    bool wide;
    SQLINTEGER capacity;  // bytes narrow, characters wide
    SQLRETURN rc;
    std::string text;
  } cases[] = {
      {false, 64, SQL_SUCCESS, sql20},
      {false, 21, SQL_SUCCESS, sql20},
      {false, 10, SQL_SUCCESS_WITH_INFO, sql20.substr(0, 9)},
      {true, 64, SQL_SUCCESS, sql20},
      {true, 10, SQL_SUCCESS_WITH_INFO, sql20.substr(0, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.wide) + "/" + std::to_string(c.capacity));
    SQLINTEGER len = -1;
    std::string got;
    SQLRETURN rc;
    if (c.wide) {
      std::u16string in(sql20.begin(), sql20.end());
      std::vector<SQLWCHAR> out(80, 0x7E7E);
      rc = SQLNativeSqlW(dbc_, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, out.data(),
                         c.capacity, &len);
      for (size_t i = 0; out[i] != 0; ++i) got += static_cast<char>(out[i]);
      EXPECT_EQ(out[static_cast<size_t>(c.capacity)], 0x7E7E);
    } else {
      std::vector<char> out(80, 0x7E);
      rc = SQLNativeSql(dbc_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql20.c_str())),
                        SQL_NTS, reinterpret_cast<SQLCHAR*>(out.data()), c.capacity, &len);
      got = out.data();
      EXPECT_EQ(out[static_cast<size_t>(c.capacity)], 0x7E);
    }
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(got, c.text);
    EXPECT_EQ(len, 20);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(DbcState(), "01004");
    }
  }
}

TEST_P(InfoTest, NativeSqlLengthsAndArguments) {
  SQLCHAR sql[] = "SELECT 1 FROM t WHERE x = 1";
  SQLCHAR out[64];
  SQLINTEGER len = -1;
  EXPECT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, out, sizeof out, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  Open();
  // No buffer: the length alone.
  EXPECT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, nullptr, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(len, 27);
  // A counted input.
  EXPECT_EQ(SQLNativeSql(dbc_, sql, 8, out, sizeof out, &len), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "SELECT 1");
  // Longer than the first room the driver gives the agent: still whole.
  std::string big(9000, 'x');
  std::vector<SQLCHAR> bigOut(9001);
  EXPECT_EQ(SQLNativeSql(dbc_, reinterpret_cast<SQLCHAR*>(big.data()), 9000, bigOut.data(), 9001,
                         &len),
            SQL_SUCCESS);
  EXPECT_EQ(len, 9000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bigOut.data())), big);
  // Refused arguments.
  EXPECT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, out, -1, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  EXPECT_EQ(SQLNativeSql(dbc_, sql, -9, out, sizeof out, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  EXPECT_EQ(SQLNativeSql(dbc_, nullptr, SQL_NTS, out, sizeof out, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY009");
  // The agent's failure, with its message.
  TestAgent_FailNext("NativeSql", KX_ERR_SYNTAX, "42000", "bad escape");
  EXPECT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, out, sizeof out, &len), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "42000");
  EXPECT_NE(text.find("bad escape"), std::string::npos);
}

auto BuildName = [](const ::testing::TestParamInfo<int>& p) { return p.param ? "Unicode" : "Ansi"; };
INSTANTIATE_TEST_SUITE_P(Builds, InfoTest, ::testing::Values(1, 0), BuildName);

}  // namespace
}  // namespace kx::testing
