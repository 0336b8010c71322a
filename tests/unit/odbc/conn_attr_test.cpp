// Connection options and attributes against the test agent: what is kept on
// the connection, what goes to the agent and when, statement defaults, text
// answers and their cuts, the 64-bit widths, the catalog named before
// connecting, and the enlistment in a distributed transaction.
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent/build_flavor.h"
#include "core_fixture.h"
#include "odbc/conn_attr.h"
#include "odbc/diag.h"
#include "odbc/dtc_seam.h"
#include "odbc/libmain.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

// ---- a recording distributed-transaction support ------------------------------
// Installed as the core's table for this test program. Unarmed it answers like
// the table in force without the support, so that other tests see no difference.
namespace {

struct DtcFake {
  bool armed = false;
  int16_t initResult = 0;
  bool dispenserFails = false;
  int16_t connectResult = 0;
  int16_t enlistResult = 0;
  int releaseResult = 0;
  int inProgress = 0;
  std::string reason;
  std::vector<std::string> calls;
  std::string connectText;
  void* transaction = nullptr;
  kx::AgentHandle server = 0, conn = 0;
  kx::AgentBinding* binding = nullptr;
  std::recursive_mutex* dtcLock = nullptr;
  kx::CallGate* gate = nullptr;
  int dispenserTag = 0;
};

DtcFake g_dtc;

int16_t FakeInit() {
  if (!g_dtc.armed) return -1;
  g_dtc.calls.push_back("Init");
  return g_dtc.initResult;
}

void FakeTerm() {}

void* FakeNewDispenser(void* transaction, kx::AgentHandle server, kx::AgentHandle conn,
                       kx::AgentBinding* binding, std::recursive_mutex* dtcLock, kx::CallGate* gate,
                       const char* connectText) {
  if (!g_dtc.armed) return nullptr;
  g_dtc.calls.push_back("NewDispenser");
  g_dtc.transaction = transaction;
  g_dtc.server = server;
  g_dtc.conn = conn;
  g_dtc.binding = binding;
  g_dtc.dtcLock = dtcLock;
  g_dtc.gate = gate;
  g_dtc.connectText = connectText != nullptr ? connectText : "(null)";
  return g_dtc.dispenserFails ? nullptr : &g_dtc.dispenserTag;
}

int16_t FakeRMConnect(void* dispenser) {
  if (!g_dtc.armed || dispenser == nullptr) return -1;
  g_dtc.calls.push_back("RMConnect");
  return g_dtc.connectResult;
}

int16_t FakeRMEnlist(void* dispenser) {
  if (!g_dtc.armed || dispenser == nullptr) return -1;
  g_dtc.calls.push_back("RMEnlist");
  return g_dtc.enlistResult;
}

int FakeRelease(void* dispenser) {
  if (!g_dtc.armed || dispenser == nullptr) return -1;
  g_dtc.calls.push_back("Release");
  return g_dtc.releaseResult;
}

int FakeInProgress(void* dispenser) { return g_dtc.armed && dispenser != nullptr ? g_dtc.inProgress : 0; }

void FakeReason(void*, char* out, size_t size) {
  snprintf(out, size, "%s", g_dtc.armed ? g_dtc.reason.c_str() : "support missing");
}

constexpr kx::DtcOps kFakeDtc{FakeInit,    FakeTerm,    FakeNewDispenser, FakeRMConnect,
                              FakeRMEnlist, FakeRelease, FakeInProgress,   FakeReason};

}  // namespace

namespace kx::testing {
namespace {

constexpr uint64_t kCanary = 0xA5A5A5A5A5A5A5A5ull;

// A layer over the test agent's table, as the cursor layer lays itself over
// the agent: it answers and records the text properties, which the test agent
// itself does not carry, and passes everything down.
struct TextLayer {
  static AgentOps table;
  static const AgentOps* below;
  static std::map<uint32_t, std::string> answers;
  static std::map<uint32_t, std::vector<std::string>> received;

  static int32_t GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                             uint16_t* length) {
    int32_t rc = below->DRV_GetProperty(h, id, out, capacity, length);
    auto it = answers.find(id);
    if (rc != 1 || AgentPropertyKind(id) != AP_KIND_TEXT || it == answers.end()) return rc;
    snprintf(static_cast<char*>(out), capacity, "%s", it->second.c_str());
    if (length != nullptr) *length = static_cast<uint16_t>(strlen(static_cast<char*>(out)));
    return 0;
  }
  static int32_t SetProperty(AgentHandle h, AgentPropertyId id, const void* value) {
    if (AgentPropertyKind(id) == AP_KIND_TEXT) {
      received[id].push_back(value != nullptr ? static_cast<const char*>(value) : "(null)");
    }
    return below->DRV_SetProperty(h, id, value);
  }
  static void Install(ConnRecord* conn) {
    below = conn->binding.ops;
    table = *below;
    table.DRV_GetProperty = GetProperty;
    table.DRV_SetProperty = SetProperty;
    conn->binding.ops = &table;
  }
  static void Reset() {
    answers.clear();
    received.clear();
  }
};
AgentOps TextLayer::table{};
const AgentOps* TextLayer::below = nullptr;
std::map<uint32_t, std::string> TextLayer::answers;
std::map<uint32_t, std::vector<std::string>> TextLayer::received;

// Every case runs in both builds: the Unicode one (wide entries exported) and
// the ANSI one.
class ConnAttrTest : public CoreTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
    TextLayer::Reset();
    g_dtc = DtcFake{};
    DtcInstall(kFakeDtc);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    SetVersion(SQL_OV_ODBC3);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    for (SQLHSTMT s : stmts_) SQLFreeHandle(SQL_HANDLE_STMT, s);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    g_quietModeWindow = QUIET_MODE_UNSET;
    g_dtc = DtcFake{};
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
  StmtRecord* Stmt(SQLHSTMT s) {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    return static_cast<StmtRecord*>(
        LookupHandle(HK_STMT, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(s))));
  }
  // Connects and lays the text layer over the agent the connection got.
  void Open() {
    ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
    TextLayer::Install(Conn());
  }
  SQLHSTMT NewStmt() {
    SQLHSTMT s = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s), SQL_SUCCESS);
    stmts_.push_back(s);
    return s;
  }
  std::string DbcState() { return State(SQL_HANDLE_DBC, dbc_); }
  static int32_t Sent(uint32_t id) {
    int32_t v = -12345;
    return TestAgent_LastSetProperty(id, &v) == 1 ? v : -12345;
  }
  static std::vector<std::string> SentTexts(uint32_t id) { return TextLayer::received[id]; }
  static SQLPOINTER Ptr(uintptr_t v) { return reinterpret_cast<SQLPOINTER>(v); }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  std::vector<SQLHSTMT> stmts_;
};

// ---- kept, sent, refused ---------------------------------------------------------

TEST_P(ConnAttrTest, OptionsKeptOnTheConnectionReadBackThroughBothForms) {
  struct Case {
    SQLINTEGER attr;
    uintptr_t value;
    SQLUINTEGER expected;
  } cases[] = {
      {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, SQL_MODE_READ_ONLY},
      {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_WRITE, SQL_MODE_READ_WRITE},
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, SQL_AUTOCOMMIT_OFF},
      {SQL_ATTR_AUTOCOMMIT, 7, SQL_AUTOCOMMIT_ON},
      {SQL_ATTR_LOGIN_TIMEOUT, 33, 33},
      {SQL_ATTR_TRANSLATE_OPTION, 0x1234, 0x1234},
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, SQL_TXN_SERIALIZABLE},
      {SQL_ATTR_TRACE, 1, 0},           // accepted and ignored
      {SQL_ATTR_PACKET_SIZE, 8192, 8192},  // kept as set
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attr);
    ASSERT_EQ(SQLSetConnectAttr(dbc_, c.attr, Ptr(c.value), 0), SQL_SUCCESS);
    uint64_t attr = kCanary;
    ASSERT_EQ(SQLGetConnectAttr(dbc_, c.attr, &attr, 0, nullptr), SQL_SUCCESS);
    // A 32-bit attribute leaves the rest of a wider buffer alone.
    EXPECT_EQ(attr, (kCanary & 0xFFFFFFFF00000000ull) | c.expected);
    uint64_t option = kCanary;
    ASSERT_EQ(SQLGetConnectOption(dbc_, static_cast<SQLUSMALLINT>(c.attr), &option), SQL_SUCCESS);
    EXPECT_EQ(option, attr);
  }
}

TEST_P(ConnAttrTest, RefusedAttributesAndOptions) {
  struct Case {
    const char* what;
    SQLRETURN (*call)(SQLHDBC);
    const char* state;
  } cases[] = {
      {"set rowset size as an attribute",
       [](SQLHDBC d) { return SQLSetConnectAttr(d, SQL_ROWSET_SIZE, Ptr(5), 0); }, "HY092"},
      {"set statement option in ODBC 3",
       [](SQLHDBC d) { return SQLSetConnectOption(d, SQL_MAX_ROWS, 10); }, "IM001"},
      {"set async option in ODBC 3",
       [](SQLHDBC d) { return SQLSetConnectOption(d, SQL_ASYNC_ENABLE, 1); }, "IM001"},
      // Catalog arguments as identifiers are not offered (SQL_FALSE is, below).
      {"set metadata id",
       [](SQLHDBC d) { return SQLSetConnectAttr(d, SQL_ATTR_METADATA_ID, Ptr(1), 0); }, "HYC00"},
      {"set auto IPD",
       [](SQLHDBC d) { return SQLSetConnectAttr(d, SQL_ATTR_AUTO_IPD, Ptr(1), 0); }, "IM001"},
      {"set ODBC cursors through the driver",
       [](SQLHDBC d) { return SQLSetConnectAttr(d, SQL_ATTR_ODBC_CURSORS, Ptr(0), 0); }, "HY092"},
      {"set an unknown option",
       [](SQLHDBC d) { return SQLSetConnectOption(d, 13, 0); }, "HY092"},
      {"set connection dead",
       [](SQLHDBC d) { return SQLSetConnectOption(d, SQL_ATTR_CONNECTION_DEAD, 0); }, "HY092"},
      {"access mode 2",
       [](SQLHDBC d) { return SQLSetConnectAttr(d, SQL_ATTR_ACCESS_MODE, Ptr(2), 0); }, "HY024"},
      {"failover callback before connecting",
       [](SQLHDBC d) { return SQLSetConnectOption(d, CONN_OPT_FAILOVER_CALLBACK, 1); }, "HY010"},
      {"failover argument before connecting",
       [](SQLHDBC d) { return SQLSetConnectOption(d, CONN_OPT_FAILOVER_ARG, 1); }, "HY010"},
      {"get query timeout in ODBC 3",
       [](SQLHDBC d) {
         SQLULEN v;
         return SQLGetConnectAttr(d, SQL_QUERY_TIMEOUT, &v, 0, nullptr);
       },
       "IM001"},
      {"get the application name",
       [](SQLHDBC d) {
         char v[64];
         return SQLGetConnectAttr(d, CONN_OPT_APP_NAME, v, sizeof v, nullptr);
       },
       "HY092"},
      {"get an option only statements have",
       [](SQLHDBC d) {
         SQLULEN v;
         return SQLGetConnectOption(d, SQL_MAX_ROWS, &v);
       },
       "HY092"},
      {"get enlistment",
       [](SQLHDBC d) {
         SQLULEN v;
         return SQLGetConnectAttr(d, SQL_ATTR_ENLIST_IN_DTC, &v, 0, nullptr);
       },
       "HY092"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(dbc_), SQL_ERROR);
    EXPECT_EQ(DbcState(), c.state);
  }
  // SQL_ATTR_METADATA_ID reads and takes its default, SQL_FALSE.
  SQLUINTEGER metadataId = 99;
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_METADATA_ID, &metadataId, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(metadataId, static_cast<SQLUINTEGER>(SQL_FALSE));
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_METADATA_ID, Ptr(SQL_FALSE), 0), SQL_SUCCESS);
}

// Only queries have a time limit: a connection timeout other than 0 is taken
// as 0 with 01S02 (pyodbc sets it for its query timeouts and must not fail).
TEST_P(ConnAttrTest, ConnectionTimeoutBecomesZeroWithAWarning) {
  EXPECT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, Ptr(0), 0));
  EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLSetConnectAttr(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, Ptr(5), 0));
  EXPECT_EQ(DbcState(), "01S02");
  SQLUINTEGER v = 77;
  EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, &v, 0, nullptr));
  EXPECT_EQ(0u, v);
}

// A pool asks whether a connection is still good: the agent's answer, alive
// when the agent cannot tell, and a connection that is not open is not lost.
TEST_P(ConnAttrTest, ConnectionDeadIsTheAgentsAnswerForAnOpenConnection) {
  auto dead = [&] {
    SQLUINTEGER v = 77;
    EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &v, 0, nullptr), SQL_SUCCESS);
    return v;
  };
  TestAgent_SetProperty(AP_CONN_DEAD, 1);
  const int asked = TestAgent_Calls("GetProperty");
  EXPECT_EQ(dead(), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  EXPECT_EQ(TestAgent_Calls("GetProperty"), asked);
  Open();
  EXPECT_EQ(dead(), static_cast<SQLUINTEGER>(SQL_CD_TRUE));
  TestAgent_SetProperty(AP_CONN_DEAD, 0);
  EXPECT_EQ(dead(), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  TestAgent_UnsetProperty(AP_CONN_DEAD);
  EXPECT_EQ(dead(), static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  EXPECT_EQ(DbcState(), "");
}

TEST_P(ConnAttrTest, AccessModeOutsideTheTwoModesChangesNothingAnywhere) {
  Open();
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, Ptr(SQL_MODE_READ_ONLY), 0), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_READONLY), 1);
  const int sets = TestAgent_Calls("SetProperty");
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, Ptr(2), 0), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY024");
  EXPECT_EQ(TestAgent_Calls("SetProperty"), sets);
  SQLUINTEGER mode = 9;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, &mode, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(mode, SQL_MODE_READ_ONLY);
}

TEST_P(ConnAttrTest, ConnectedOptionsGoToTheAgent) {
  Open();
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, Ptr(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_AUTOCOMMIT), 0);
  EXPECT_EQ(Conn()->flags & CF_AUTOCOMMIT, 0);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, 5), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_AUTOCOMMIT), 1);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, Ptr(SQL_TXN_SERIALIZABLE), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_ISOLATION), SQL_TXN_SERIALIZABLE);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, Ptr(SQL_MODE_READ_WRITE), 0), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_READONLY), 0);
}

TEST_P(ConnAttrTest, TheDataSourcesIsolationIsAskedWhenTheApplicationFirstAsks) {
  TestAgent_SetProperty(AP_CONN_ISOLATION, SQL_TXN_READ_COMMITTED);
  Open();
  // The connect did not ask (on some databases that is a statement): the
  // answer is the data source's when the application asks, and then kept.
  TestAgent_SetProperty(AP_CONN_ISOLATION, SQL_TXN_REPEATABLE_READ);
  SQLUINTEGER v = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, static_cast<SQLUINTEGER>(SQL_TXN_REPEATABLE_READ));
  const int asks = TestAgent_Calls("GetProperty");
  TestAgent_SetProperty(AP_CONN_ISOLATION, SQL_TXN_SERIALIZABLE);
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, static_cast<SQLUINTEGER>(SQL_TXN_REPEATABLE_READ));
  EXPECT_EQ(TestAgent_Calls("GetProperty"), asks);
}

TEST_P(ConnAttrTest, ARefusedPropertyKeepsTheOldValueAndBringsTheAgentsMessage) {
  struct Case {
    SQLINTEGER attr;
    uintptr_t value;
  } cases[] = {{SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE},
               {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF},
               {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY}};
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attr);
    SQLUINTEGER before = 0;
    ASSERT_EQ(SQLGetConnectAttr(dbc_, c.attr, &before, 0, nullptr), SQL_SUCCESS);
    TestAgent_FailNext("SetProperty", KX_ERR_GENERAL, "HY000", "refused by the server");
    EXPECT_EQ(SQLSetConnectAttr(dbc_, c.attr, Ptr(c.value), 0), SQL_ERROR);
    std::string text;
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "HY000");
    EXPECT_NE(text.find("refused by the server"), std::string::npos) << text;
    SQLUINTEGER after = 1234;
    ASSERT_EQ(SQLGetConnectAttr(dbc_, c.attr, &after, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(after, before);
  }
}

TEST_P(ConnAttrTest, OptionsSetBeforeConnectingReachTheAgentAtOpen) {
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, Ptr(SQL_TXN_SERIALIZABLE), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, Ptr(SQL_MODE_READ_ONLY), 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, Ptr(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
  // Nothing is sent while there is no agent connection.
  EXPECT_EQ(TestAgent_Calls("SetProperty"), 0);
  Open();
  EXPECT_EQ(Sent(AP_CONN_ISOLATION), SQL_TXN_SERIALIZABLE);
  // The application's autocommit holds over the agent's default, and the
  // access mode reached the open.
  EXPECT_EQ(Sent(AP_CONN_AUTOCOMMIT), 0);
  EXPECT_EQ(Conn()->flags & CF_AUTOCOMMIT, 0);
  EXPECT_NE(Conn()->flags & CF_READONLY, 0);
  SQLUINTEGER v = 9;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_OFF));
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, static_cast<SQLUINTEGER>(SQL_MODE_READ_ONLY));
}

// Without a setting of the application the agent's default stands.
TEST_P(ConnAttrTest, WithoutASettingTheAgentsAutocommitStands) {
  Open();
  EXPECT_EQ(Sent(AP_CONN_AUTOCOMMIT), -12345);
}

TEST_P(ConnAttrTest, DriverSpecificOptions) {
  // Before connecting they are kept, read back, and sent at the open; an
  // option never set reads as nothing.
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 3), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 4), SQL_SUCCESS);
  SQLUINTEGER v = 77;
  EXPECT_EQ(SQLGetConnectOption(dbc_, 1213, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 4u);
  v = 77;
  EXPECT_EQ(SQLGetConnectOption(dbc_, 1215, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 77u);  // nothing written
  Open();
  EXPECT_EQ(Sent(AP_CONN_OPTION_INT + 1213), 4);

  // Connected: they go to the agent.
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 5), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_OPTION_INT + 1213), 5);
  SQLCHAR text[] = "abc";
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1212, reinterpret_cast<SQLULEN>(text)), SQL_SUCCESS);
  EXPECT_EQ(SentTexts(AP_CONN_OPTION_TEXT + 1212), std::vector<std::string>{"abc"});
  TestAgent_SetProperty(AP_CONN_OPTION_INT + 1217, 55);
  EXPECT_EQ(SQLGetConnectOption(dbc_, 1217, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 55u);

  // "Not capable" and "not supported" from the agent read as out of range.
  TestAgent_FailNext("SetProperty", KX_ERR_NOT_CAPABLE, "HYC00", nullptr);
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 4), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY092");
  // A refusal with a message of its own brings it, and leaves none behind.
  TestAgent_FailNext("SetProperty", KX_ERR_GENERAL, "HY000", "option refused");
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 4), SQL_ERROR);
  std::string why;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &why), "HY000");
  EXPECT_NE(why.find("option refused"), std::string::npos);
  EXPECT_EQ(SQLGetConnectOption(dbc_, 1213, &v), SQL_ERROR);  // the agent has no answer
  EXPECT_EQ(DbcState(), "HY092");
  TestAgent_FailNext("SetProperty", KX_ERR_NOT_CAPABLE, "HYC00", nullptr);
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1254, reinterpret_cast<SQLULEN>(text)), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY092");
}

// An option the agent does not take at the open leaves the connection up,
// with a warning that names it.
TEST_P(ConnAttrTest, AnOptionRefusedAtTheOpenIsAWarning) {
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1213, 4), SQL_SUCCESS);
  TestAgent_FailProperty(AP_CONN_OPTION_INT + 1213, KX_ERR_NOT_CAPABLE, "HYC00", nullptr);
  EXPECT_EQ(Connect(dbc_), SQL_SUCCESS_WITH_INFO);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "01S02");
  EXPECT_NE(text.find("1213"), std::string::npos) << text;
}

// Every number of the driver's block reaches the agent as what it carries,
// or is refused: the integer and text options are set under their own
// properties, and reads ask the agent for the integers, the read-only
// enlistment and connection-state numbers among them.
TEST_P(ConnAttrTest, EveryDriverSpecificOptionNumberGoesWhereItsKindSays) {
  const std::set<int> ints = {1201, 1202, 1203, 1204, 1205, 1206, 1208, 1210, 1211, 1213, 1215,
                              1216, 1217, 1218, 1219, 1252, 1253, 1255, 1256, 1257, 1258, 1259,
                              1262};
  const std::set<int> texts = {1212, 1214, 1254};
  const std::set<int> readOnly = {1207, 1209};
  Open();
  SQLCHAR text[] = "t";
  for (int n = 1200; n <= 1279; ++n) {
    SCOPED_TRACE(n);
    const auto option = static_cast<SQLUSMALLINT>(n);
    if (texts.count(n) != 0) {
      EXPECT_EQ(SQLSetConnectOption(dbc_, option, reinterpret_cast<SQLULEN>(text)), SQL_SUCCESS);
      EXPECT_EQ(SentTexts(AP_CONN_OPTION_TEXT + n), std::vector<std::string>{"t"});
      continue;
    }
    if (n == SQL_ATTR_ENLIST_IN_DTC) continue;  // enlistment has rules of its own
    const SQLRETURN set = SQLSetConnectOption(dbc_, option, static_cast<SQLULEN>(n - 1000));
    if (ints.count(n) != 0) {
      EXPECT_EQ(set, SQL_SUCCESS);
      EXPECT_EQ(Sent(AP_CONN_OPTION_INT + n), n - 1000);
    } else {
      EXPECT_EQ(set, SQL_ERROR);
      EXPECT_EQ(DbcState(), "HY092");
    }
    TestAgent_SetProperty(AP_CONN_OPTION_INT + n, n + 1);
    SQLUINTEGER v = 0;
    const SQLRETURN get = SQLGetConnectOption(dbc_, option, &v);
    if (ints.count(n) != 0 || readOnly.count(n) != 0) {
      EXPECT_EQ(get, SQL_SUCCESS);
      EXPECT_EQ(v, static_cast<SQLUINTEGER>(n + 1));
    } else {
      EXPECT_EQ(get, SQL_ERROR);
    }
  }
}

TEST_P(ConnAttrTest, ApplicationNameOnlyBeforeConnecting) {
  SQLCHAR name[] = "payroll";
  EXPECT_EQ(SQLSetConnectAttr(dbc_, CONN_OPT_APP_NAME, name, SQL_NTS), SQL_SUCCESS);
  EXPECT_STREQ(Conn()->appName, "payroll");
  Open();
  EXPECT_EQ(LastConnect("appName"), "payroll");
  EXPECT_EQ(SQLSetConnectAttr(dbc_, CONN_OPT_APP_NAME, name, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY010");
}

TEST_P(ConnAttrTest, FailoverNeedsTheCapability) {
  Open();
  auto callback = [](int32_t, void*, int32_t) {};
  const auto cb = reinterpret_cast<SQLULEN>(+callback);
  EXPECT_EQ(SQLSetConnectOption(dbc_, CONN_OPT_FAILOVER_CALLBACK, cb), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HYC00");
  SQLDisconnect(dbc_);

  TestAgent_SetProperty(AP_CONN_CAPABILITY_MASK, 13727 | CAP_FAILOVER);
  Open();
  EXPECT_EQ(SQLSetConnectOption(dbc_, CONN_OPT_FAILOVER_CALLBACK, cb), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_FAILOVER), 1);
  EXPECT_EQ(reinterpret_cast<SQLULEN>(Conn()->failoverCallback), cb);
  EXPECT_EQ(SQLSetConnectOption(dbc_, CONN_OPT_FAILOVER_ARG, 0x5150), SQL_SUCCESS);
  EXPECT_EQ(Conn()->failoverArg, Ptr(0x5150));
  EXPECT_EQ(SQLSetConnectOption(dbc_, CONN_OPT_FAILOVER_CALLBACK, 0), SQL_SUCCESS);
  EXPECT_EQ(Sent(AP_CONN_FAILOVER), 0);
  EXPECT_EQ(Conn()->failoverCallback, nullptr);
}

// ---- widths ----------------------------------------------------------------------

TEST_P(ConnAttrTest, PointerSizedAttributesFillAllEightBytes) {
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ASYNC_ENABLE, Ptr(SQL_ASYNC_ENABLE_ON), 0), SQL_SUCCESS);
  struct Case {
    SQLINTEGER attr;
    uint64_t expected;
  } cases[] = {
      {SQL_ATTR_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON},
      {SQL_ATTR_ODBC_CURSORS, SQL_CUR_USE_IF_NEEDED},
      {SQL_ATTR_QUIET_MODE, 0},  // never set
      {SQL_ATTR_CONNECTION_DEAD, (kCanary & 0xFFFFFFFF00000000ull) | SQL_CD_FALSE},
      {SQL_ATTR_AUTO_IPD, (kCanary & 0xFFFFFFFF00000000ull) | SQL_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attr);
    uint64_t v = kCanary;
    ASSERT_EQ(SQLGetConnectAttr(dbc_, c.attr, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, c.expected);
  }
  const uintptr_t window = 0x7F00AABBCCDDull;
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_QUIET_MODE, Ptr(window), 0), SQL_SUCCESS);
  uint64_t v = kCanary;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_QUIET_MODE, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, window);
  v = kCanary;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_QUIET_MODE, &v), SQL_SUCCESS);
  EXPECT_EQ(v, window);
}

TEST_P(ConnAttrTest, AsyncEnableReachesEveryStatementAndNewOnes) {
  Open();
  SQLHSTMT before = NewStmt();
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_ASYNC_ENABLE, Ptr(SQL_ASYNC_ENABLE_ON), 0), SQL_SUCCESS);
  SQLHSTMT after = NewStmt();
  EXPECT_EQ(Stmt(before)->asyncEnable, SQL_ASYNC_ENABLE_ON);
  EXPECT_EQ(Stmt(after)->asyncEnable, SQL_ASYNC_ENABLE_ON);
}

// ---- ODBC 2 statement defaults ----------------------------------------------------

class ConnAttrOdbc2Test : public ConnAttrTest {
 protected:
  void SetUp() override {
    ConnAttrTest::SetUp();
    SetVersion(SQL_OV_ODBC2);
  }
};

TEST_P(ConnAttrOdbc2Test, StatementDefaultsReachEveryStatementAndNewOnes) {
  Open();
  SQLHSTMT a = NewStmt();
  SQLHSTMT b = NewStmt();
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_MAX_ROWS, 10), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_ROWSET_SIZE, 0), SQL_SUCCESS);  // 0 reads as 1
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_USE_BOOKMARKS, SQL_UB_ON), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_QUERY_TIMEOUT, 9), SQL_SUCCESS);
  SQLHSTMT c = NewStmt();
  for (SQLHSTMT s : {a, b, c}) {
    EXPECT_EQ(Stmt(s)->maxRows, 10u);
    EXPECT_EQ(Stmt(s)->cursor.rowsetSize, 1);
    EXPECT_EQ(Stmt(s)->cursor.useBookmarks, 1);
    EXPECT_EQ(Stmt(s)->queryTimeout, 9u);
  }
  EXPECT_EQ(Conn()->maxRows, 10u);
  // The ODBC 2 asynchronous option is a connection flag of its own.
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_ASYNC_ENABLE, 1), SQL_SUCCESS);
  SQLUINTEGER on = 0;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_ASYNC_ENABLE, &on), SQL_SUCCESS);
  EXPECT_EQ(on, 1u);
  SQLULEN timeout = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_QUERY_TIMEOUT, &timeout, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(timeout, 9u);
}

TEST_P(ConnAttrOdbc2Test, AStatementsRefusalIsTheConnectionsDiagnosticAndTheDefaultStays) {
  Open();
  SQLHSTMT a = NewStmt();
  Stmt(a)->error = KX_ERR_CURSOR_STATE;  // a diagnostic of its own call, not ours to change
  TestAgent_FailNext("SetProperty", KX_ERR_GENERAL, "HY000", "not now");
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_MAX_ROWS, 10), SQL_ERROR);
  EXPECT_EQ(DbcState(), "S1000");  // an ODBC 2 environment hears ODBC 2 states
  EXPECT_EQ(Stmt(a)->error, KX_ERR_CURSOR_STATE);
  EXPECT_EQ(Conn()->maxRows, 10u);
  SQLHSTMT later = NewStmt();
  EXPECT_EQ(Stmt(later)->maxRows, 10u);
}

TEST_P(ConnAttrOdbc2Test, AWarningFromOneStatementStillReachesTheOthers) {
  Open();
  SQLHSTMT a = NewStmt();
  SQLHSTMT b = NewStmt();
  // A value the agent caps: 01S02 from the first statement it reaches.
  TestAgent_FailNext("SetProperty", KX_ERR_OPTION_CHANGED, nullptr, nullptr);
  TestAgent_SetProperty(AP_STMT_ROWSET_SIZE, 100);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_ROWSET_SIZE, 500), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DbcState(), "01S02");
  EXPECT_EQ(Stmt(a)->cursor.rowsetSize + Stmt(b)->cursor.rowsetSize, 600);
}

// ---- text attributes ----------------------------------------------------------------

TEST_P(ConnAttrTest, TranslateLibrary) {
  char buf[64];
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB, buf, sizeof buf, nullptr), SQL_NO_DATA);
  EXPECT_EQ(SQLGetConnectOption(dbc_, SQL_TRANSLATE_DLL, buf), SQL_NO_DATA);
  SQLCHAR lib[] = "libtr.soXYZ";
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB, lib, 8), SQL_SUCCESS);
  SQLINTEGER len = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_STREQ(buf, "libtr.so");
  EXPECT_EQ(len, 8);
  SQLWCHAR wide[64];
  ASSERT_EQ(SQLGetConnectAttrW(dbc_, SQL_ATTR_TRANSLATE_LIB, wide, sizeof wide, &len), SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wide)), u"libtr.so");
  EXPECT_EQ(len, 16);
  const char16_t wideLib[] = u"wtr.so";
  ASSERT_EQ(SQLSetConnectAttrW(dbc_, SQL_ATTR_TRANSLATE_LIB, const_cast<char16_t*>(wideLib), SQL_NTS),
            SQL_SUCCESS);
  EXPECT_STREQ(Conn()->translateLib, "wtr.so");
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_TRANSLATE_DLL, buf), SQL_SUCCESS);
  EXPECT_STREQ(buf, "wtr.so");
}

TEST_P(ConnAttrTest, TraceFileIsAnEmptyText) {
  SQLWCHAR wide[4] = {'x', 'x', 'x', 'x'};
  SQLINTEGER len = -1;
  ASSERT_EQ(SQLGetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, wide, sizeof wide, &len), SQL_SUCCESS);
  EXPECT_EQ(wide[0], 0);
  EXPECT_EQ(wide[1], 'x');  // one terminator only
  EXPECT_EQ(len, 0);
}

TEST_P(ConnAttrTest, CatalogIsAskedOfTheAgentAndCutWithATruncationWarning) {
  Open();
  TextLayer::answers[AP_CONN_CATALOG] = "sales";
  struct Case {
    bool wide;
    SQLINTEGER bufferLength;
    SQLRETURN rc;
    std::u16string text;  // what the caller's buffer holds
    SQLINTEGER length;
  } cases[] = {
      {false, 64, SQL_SUCCESS, u"sales", 5},
      {false, 6, SQL_SUCCESS, u"sales", 5},
      {false, 5, SQL_SUCCESS_WITH_INFO, u"sale", 5},
      {false, 4, SQL_SUCCESS_WITH_INFO, u"sal", 5},
      {true, 128, SQL_SUCCESS, u"sales", 10},
      {true, 12, SQL_SUCCESS, u"sales", 10},
      {true, 10, SQL_SUCCESS_WITH_INFO, u"sale", 10},
      {true, 4, SQL_SUCCESS_WITH_INFO, u"s", 10},
      {true, 5, SQL_SUCCESS_WITH_INFO, u"s", 10},  // an odd byte is never half written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.wide) + "/" + std::to_string(c.bufferLength));
    unsigned char buf[160];
    memset(buf, 0x7E, sizeof buf);
    SQLINTEGER len = -1;
    SQLRETURN rc = c.wide ? SQLGetConnectAttrW(dbc_, SQL_ATTR_CURRENT_CATALOG, buf, c.bufferLength, &len)
                          : SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, buf, c.bufferLength, &len);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(len, c.length);
    std::u16string got;
    if (c.wide) {
      for (size_t i = 0; i + 1 < sizeof buf && (buf[i] | buf[i + 1]) != 0; i += 2) {
        got += static_cast<char16_t>(buf[i] | (buf[i + 1] << 8));
      }
    } else {
      for (size_t i = 0; buf[i] != 0; ++i) got += static_cast<char16_t>(buf[i]);
    }
    EXPECT_EQ(got, c.text);
    EXPECT_EQ(buf[c.bufferLength], 0x7E);  // nothing beyond the buffer
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(DbcState(), "01004");
    }
  }
  // No buffer: the length alone. A negative capacity is refused.
  SQLINTEGER len = -1;
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, nullptr, 0, &len), SQL_SUCCESS);
  EXPECT_EQ(len, 5);
  char buf[8];
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, buf, -1, &len), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  // The ODBC 2 form assumes room for 256 characters and cuts there.
  TextLayer::answers[AP_CONN_CATALOG] = std::string(300, 'c');
  std::vector<char> big(400, 0x7E);
  EXPECT_EQ(SQLGetConnectOption(dbc_, SQL_CURRENT_QUALIFIER, big.data()), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(strlen(big.data()), 255u);
  EXPECT_EQ(big[256], 0x7E);
}

TEST_P(ConnAttrTest, CatalogTheAgentCannotTellIsOutOfRange) {
  Open();
  char buf[16];
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, nullptr), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY092");
}

TEST_P(ConnAttrTest, ChangingTheCatalogWhileConnected) {
  Open();
  // The connection's JDBC class stays as connected: a reconnect needs it.
  const std::string jdbcClass = Conn()->cn_dbpath != nullptr ? Conn()->cn_dbpath : "";
  const auto DbPath = [this] { return std::string(Conn()->cn_dbpath ? Conn()->cn_dbpath : ""); };
  SQLCHAR name[] = "salesXYZ";
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, 5), SQL_SUCCESS);
  const char16_t wide[] = u"hr";
  ASSERT_EQ(SQLSetConnectAttrW(dbc_, SQL_ATTR_CURRENT_CATALOG, const_cast<char16_t*>(wide), SQL_NTS),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_CURRENT_QUALIFIER, reinterpret_cast<SQLULEN>(name)),
            SQL_SUCCESS);
  const std::vector<std::string> expected{"sales", "hr", "salesXYZ"};
  EXPECT_EQ(SentTexts(AP_CONN_SET_CATALOG), expected);
  EXPECT_EQ(DbPath(), jdbcClass);

  // Refused by the agent: its message, and nothing changes.
  TestAgent_FailNext("SetProperty", KX_ERR_BAD_CATALOG, "3D000", "no such database");
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, SQL_NTS), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "3D000");
  EXPECT_NE(text.find("no such database"), std::string::npos);
  EXPECT_EQ(DbPath(), jdbcClass);

  // Bad arguments.
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, -7), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY009");
  EXPECT_EQ(SentTexts(AP_CONN_SET_CATALOG).size(), 4u);
}

TEST_P(ConnAttrTest, NoCatalogChangeWhileAStatementHoldsResults) {
  Open();
  SQLHSTMT s = NewStmt();
  Stmt(s)->flags |= SF_EXECUTED;
  SQLCHAR name[] = "sales";
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(Conn()->error, KX_ERR_CURSOR_STATE);  // 24000
  EXPECT_TRUE(SentTexts(AP_CONN_SET_CATALOG).empty());
  Stmt(s)->flags &= static_cast<uint16_t>(~SF_EXECUTED);
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, SQL_NTS), SQL_SUCCESS);
}

TEST_P(ConnAttrTest, ACatalogNamedBeforeConnectingIsSentWhenTheConnectionOpens) {
  const char16_t wide[] = u"sales";
  ASSERT_EQ(SQLSetConnectAttrW(dbc_, SQL_ATTR_CURRENT_CATALOG, const_cast<char16_t*>(wide), SQL_NTS),
            SQL_SUCCESS);
  // Until then it is what the connection reports.
  char buf[16] = {0};
  SQLINTEGER len = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
  EXPECT_STREQ(buf, "sales");
  Open();
  char sent[16] = {0};
  EXPECT_EQ(TestAgent_LastSetText(AP_CONN_SET_CATALOG, sent, sizeof sent), 5);
  EXPECT_STREQ(sent, "sales");
  std::string pending;
  EXPECT_FALSE(ConnPendingCatalog(Conn(), &pending));
  EXPECT_EQ(ConnApplyPendingCatalog(Conn()), 0);  // nothing left to send
  EXPECT_TRUE(SentTexts(AP_CONN_SET_CATALOG).empty());
}

TEST_P(ConnAttrTest, ACatalogTheServerRefusesFailsTheConnect) {
  SQLCHAR name[] = "nosuch";
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, SQL_NTS), SQL_SUCCESS);
  TestAgent_FailProperty(AP_CONN_SET_CATALOG, KX_ERR_BAD_CATALOG, "3D000", "no such database");
  EXPECT_EQ(Connect(dbc_), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "3D000");
  EXPECT_NE(text.find("no such database"), std::string::npos);
  EXPECT_EQ(Conn()->state, CONN_ALLOCATED);
  EXPECT_EQ(TestAgent_LiveConnections(), 0);
  EXPECT_EQ(TestAgent_LiveServers(), 0);
  // The choice stays for the next attempt, which succeeds.
  Open();
  char sent[16] = {0};
  EXPECT_EQ(TestAgent_LastSetText(AP_CONN_SET_CATALOG, sent, sizeof sent), 6);
}

TEST_P(ConnAttrTest, FreeingTheConnectionDropsAPendingCatalog) {
  SQLCHAR name[] = "sales";
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, name, SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
  // A new connection, possibly in the same memory, inherits nothing.
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  Open();
  EXPECT_EQ(TestAgent_LastSetText(AP_CONN_SET_CATALOG, nullptr, 0), -1);
}

// ---- distributed transactions ---------------------------------------------------------

class DtcTest : public ConnAttrTest {
 protected:
  SQLRETURN Enlist(uintptr_t transaction) {
    return SQLSetConnectAttr(dbc_, SQL_ATTR_ENLIST_IN_DTC, Ptr(transaction), SQL_IS_POINTER);
  }
};

TEST_P(DtcTest, EnlistsThroughTheSupportInOrderAndEndsTheEnlistment) {
  Open();
  g_dtc.armed = true;
  ConnRecord* conn = Conn();
  ASSERT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.calls, (std::vector<std::string>{"Init", "NewDispenser", "RMConnect", "RMEnlist"}));
  EXPECT_EQ(g_dtc.transaction, Ptr(0xD7C));
  EXPECT_EQ(g_dtc.server, conn->agentServer);
  EXPECT_EQ(g_dtc.conn, conn->agentConn);
  EXPECT_EQ(g_dtc.binding, &conn->binding);
  EXPECT_EQ(g_dtc.dtcLock, &conn->dtcLock);
  EXPECT_EQ(g_dtc.gate, &conn->callGate);
  EXPECT_EQ(g_dtc.connectText, "DSN=Default;UID=u;PWD=p;");
  EXPECT_EQ(conn->enlisted, 1u);
  EXPECT_EQ(conn->dtcDispenser, &g_dtc.dispenserTag);

  // Enlisted in the same transaction already: nothing more happens.
  g_dtc.calls.clear();
  EXPECT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  EXPECT_TRUE(g_dtc.calls.empty());

  // NULL ends it.
  EXPECT_EQ(Enlist(0), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.calls, std::vector<std::string>{"Release"});
  EXPECT_EQ(conn->enlisted, 0u);
  EXPECT_EQ(conn->dtcDispenser, nullptr);
  EXPECT_EQ(Enlist(0), SQL_ERROR);
  EXPECT_EQ(DbcState(), "25000");
}

TEST_P(DtcTest, TheConnectTextBraceQuotesValuesThatWouldBreakIt) {
  Open();
  g_dtc.armed = true;
  free(Conn()->password);
  Conn()->password = strdup("p;w{x}");
  ASSERT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.connectText, "DSN=Default;UID=u;PWD={p;w{x}};");
}

TEST_P(DtcTest, AnotherTransactionEnlistsAnewOnceTheFirstIsFinished) {
  Open();
  g_dtc.armed = true;
  ASSERT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  // Still in progress: the connection cannot move, and says why.
  g_dtc.calls.clear();
  g_dtc.inProgress = 1;
  std::string text;
  EXPECT_EQ(Enlist(0xD7D), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "IM932");
  EXPECT_NE(text.find("still in progress"), std::string::npos) << text;
  EXPECT_TRUE(g_dtc.calls.empty());
  EXPECT_EQ(Conn()->enlisted, 1u);
  // Finished: the old dispenser goes, the new transaction gets its own.
  g_dtc.inProgress = 0;
  EXPECT_EQ(Enlist(0xD7D), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.calls,
            (std::vector<std::string>{"Release", "Init", "NewDispenser", "RMConnect", "RMEnlist"}));
  EXPECT_EQ(g_dtc.transaction, Ptr(0xD7D));
  EXPECT_EQ(Conn()->enlisted, 1u);
}

TEST_P(DtcTest, EndingAnEnlistmentInProgressKeepsTheDispenserUntilTheTransactionIsFinished) {
  Open();
  g_dtc.armed = true;
  ASSERT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  g_dtc.calls.clear();
  g_dtc.inProgress = 1;
  EXPECT_EQ(Enlist(0), SQL_SUCCESS);
  EXPECT_TRUE(g_dtc.calls.empty());
  EXPECT_EQ(Conn()->enlisted, 0u);
  EXPECT_EQ(Conn()->dtcDispenser, &g_dtc.dispenserTag);
  // Not enlisted any more, but the connection's work is still in the
  // transaction: closing is refused, and nothing is freed.
  EXPECT_EQ(Enlist(0), SQL_ERROR);
  EXPECT_EQ(DbcState(), "25000");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(DbcState(), "25000");
  EXPECT_EQ(Conn()->state, CONN_CONNECTED);
  // Finished: the close lets go of it.
  g_dtc.inProgress = 0;
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.calls, std::vector<std::string>{"Release"});
}

TEST_P(DtcTest, EachFailingStepIsAFailedEnlistmentWithNothingLeftBehind) {
  struct Case {
    const char* what;
    void (*arm)();
    std::vector<std::string> calls;
  } cases[] = {
      {"init", [] { g_dtc.initResult = -1; }, {"Init"}},
      {"dispenser", [] { g_dtc.dispenserFails = true; }, {"Init", "NewDispenser"}},
      {"connect", [] { g_dtc.connectResult = -1; }, {"Init", "NewDispenser", "RMConnect", "Release"}},
      {"enlist",
       [] { g_dtc.enlistResult = -1; },
       {"Init", "NewDispenser", "RMConnect", "RMEnlist", "Release"}},
  };
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_dtc = DtcFake{};
    g_dtc.armed = true;
    g_dtc.reason = std::string("because of ") + c.what;
    c.arm();
    EXPECT_EQ(Enlist(0xD7C), SQL_ERROR);
    std::string text;
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "IM932");
    EXPECT_NE(text.find("Enlistment in DTC transaction failed: because of "), std::string::npos)
        << text;
    EXPECT_EQ(g_dtc.calls, c.calls);
    EXPECT_EQ(Conn()->dtcDispenser, nullptr);
    EXPECT_EQ(Conn()->enlisted, 0u);
  }
}

TEST_P(DtcTest, RefusedWithoutTheSupportAConnectionOrODBC3) {
  // The support missing: not available, and the message says why.
  Open();
  EXPECT_EQ(Enlist(0xD7C), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "IM932");
  EXPECT_NE(text.find("support missing"), std::string::npos) << text;
  SQLDisconnect(dbc_);
  g_dtc.armed = true;
  EXPECT_EQ(Enlist(0xD7C), SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  // An agent without the capability.
  TestAgent_SetProperty(AP_CONN_CAPABILITY_MASK, 13727 & ~static_cast<int32_t>(CAP_DTC));
  Open();
  EXPECT_EQ(Enlist(0xD7C), SQL_ERROR);
  EXPECT_EQ(DbcState(), "IM001");
  EXPECT_TRUE(g_dtc.calls.empty());
}

TEST_P(DtcTest, ODBC2EnvironmentsCannotEnlist) {
  SetVersion(SQL_OV_ODBC2);
  Open();
  g_dtc.armed = true;
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_ATTR_ENLIST_IN_DTC, 0xD7C), SQL_ERROR);
  EXPECT_EQ(DbcState(), "IM001");
  EXPECT_TRUE(g_dtc.calls.empty());
}

TEST_P(DtcTest, ClosingAConnectionEndsItsEnlistment) {
  Open();
  g_dtc.armed = true;
  ASSERT_EQ(Enlist(0xD7C), SQL_SUCCESS);
  g_dtc.calls.clear();
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(g_dtc.calls, std::vector<std::string>{"Release"});
  // A new connection on the handle starts without an enlistment.
  Open();
  g_dtc.calls.clear();
  EXPECT_EQ(Enlist(0), SQL_ERROR);
  EXPECT_EQ(DbcState(), "25000");
}

auto BuildName = [](const ::testing::TestParamInfo<int>& p) { return p.param ? "Unicode" : "Ansi"; };
INSTANTIATE_TEST_SUITE_P(Builds, ConnAttrTest, ::testing::Values(1, 0), BuildName);
INSTANTIATE_TEST_SUITE_P(Builds, ConnAttrOdbc2Test, ::testing::Values(1, 0), BuildName);
INSTANTIATE_TEST_SUITE_P(Builds, DtcTest, ::testing::Values(1, 0), BuildName);

}  // namespace
}  // namespace kx::testing
