// Connections against the test agent: open and close, what the agent is
// handed, capabilities, commit and rollback, disconnect and release.
#include <cstdlib>
#include <cstring>

#include "core_fixture.h"
#include "odbc/conn.h"
#include "util/errcodes.h"

namespace kx::testing {
namespace {

class ConnTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    AllocEnvAndConn(&env_, &dbc_);
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    conn_ = static_cast<ConnRecord*>(
        LookupHandle(HK_DBC, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dbc_))));
    ASSERT_NE(conn_, nullptr);
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    CoreTest::TearDown();
  }
  static void Set(char*& field, const char* value) {
    free(field);
    field = value ? strdup(value) : nullptr;
  }
  // Opens with the record's fields as they are, then closes again.
  void OpenAndClose(char form) {
    ConnOpen(conn_, form);
    ASSERT_EQ(conn_->state, CONN_CONNECTED) << conn_->error;
    ASSERT_EQ(ConnClose(conn_), 0);
  }

  SQLHENV env_;
  SQLHDBC dbc_;
  ConnRecord* conn_ = nullptr;
};

TEST_F(ConnTest, HostCarriesAValidPortOnly) {
  struct Case {
    const char* host;
    const char* port;
    const char* expected;
  } cases[] = {
      {"dbsrv", "1521", "dbsrv:1521"}, {"dbsrv", "0", "dbsrv"},   {"dbsrv", "65536", "dbsrv"},
      {"dbsrv", "15x", "dbsrv"},       {"dbsrv", "", "dbsrv"},    {"dbsrv", nullptr, "dbsrv"},
      {"dbsrv", "65535", "dbsrv:65535"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port ? c.port : "(none)");
    Set(conn_->cn_dbhost, c.host);
    Set(conn_->port, c.port);
    OpenAndClose('A');
    EXPECT_EQ(LastConnect("host"), c.expected);
  }
  // Host and port together beyond 254 characters: the host alone.
  std::string longHost(252, 'h');
  Set(conn_->cn_dbhost, longHost.c_str());
  Set(conn_->port, "123");
  OpenAndClose('A');
  EXPECT_EQ(LastConnect("host"), longHost);
}

TEST_F(ConnTest, BlockCarriesTheConnectionFields) {
  Set(conn_->user, nullptr);
  Set(conn_->dsn, nullptr);
  conn_->flags |= CF_READONLY | CF_BLOCK_FLAG;
  OpenAndClose('A');
  EXPECT_EQ(LastConnect("dataSource"), "Default");
  EXPECT_EQ(LastConnect("user"), "");
  EXPECT_EQ(LastConnect("password"), "");
  EXPECT_EQ(LastConnect("readOnly"), "1");
  EXPECT_EQ(LastConnect("flag"), "1");
  EXPECT_EQ(LastConnect("loginTimeout"), "99");  // 120 seconds by default
  conn_->loginTimeout = 0;
  OpenAndClose('A');
  EXPECT_EQ(LastConnect("loginTimeout"), "0");
}

TEST_F(ConnTest, WideOpenPrefixesTheOptionsOnceEveryTime) {
  OpenAndClose('W');
  EXPECT_EQ(LastConnect("options"), "W\\x7F\\x01\\x01");
  Set(conn_->agentOptions, "opt=1");
  OpenAndClose('W');
  EXPECT_EQ(LastConnect("options"), "W\\x7F\\x01\\x01opt=1");
  OpenAndClose('W');  // a second open does not prefix the prefix
  EXPECT_EQ(LastConnect("options"), "W\\x7F\\x01\\x01opt=1");
  EXPECT_STREQ(conn_->agentOptions, "opt=1");
  OpenAndClose('A');
  EXPECT_EQ(LastConnect("options"), "opt=1");
}

TEST_F(ConnTest, WideOpenWithoutUnicodeAnswerMeansNarrowBackend) {
  OpenAndClose('W');
  EXPECT_EQ(conn_->cn_narrowBackend, 0);
  TestAgent_UnsetProperty(AP_CONN_UNICODE_CLIENT);
  OpenAndClose('W');
  EXPECT_EQ(conn_->cn_narrowBackend, 1);
}

TEST_F(ConnTest, CapabilitiesFromTheMaskOrOneByOne) {
  TestAgent_SetProperty(AP_CONN_CAPABILITY_MASK, 0x2 | 0x8 | 0x800 | 0x2000);  // no autocommit bit
  ConnOpen(conn_, 'A');
  ASSERT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(conn_->cn_needbind, 0);
  EXPECT_EQ(conn_->cn_hasMoreRes, 1);
  EXPECT_EQ(conn_->cn_hasScrlCurs, 1);
  EXPECT_EQ(conn_->cn_hasNamedParams, 1);
  EXPECT_EQ(conn_->cn_dtcAllowed, 1);
  EXPECT_EQ(conn_->flags & CF_AUTOCOMMIT, 0);
  // The data source's isolation waits for the application's question.
  EXPECT_EQ(conn_->isolation, 0u);
  int32_t version = 0;
  EXPECT_EQ(TestAgent_LastSetProperty(AP_CONN_ODBC_VERSION, &version), 1);
  EXPECT_EQ(version, SQL_OV_ODBC3);
  EXPECT_EQ(conn_->opTable.type, 1);
  EXPECT_EQ(conn_->opTable.count, 9);
  ASSERT_EQ(ConnClose(conn_), 0);
  EXPECT_EQ(conn_->opTable.type, 0);

  TestAgent_UnsetProperty(AP_CONN_CAPABILITY_MASK);
  TestAgent_SetProperty(AP_CONN_NEEDBIND, 1);
  TestAgent_SetProperty(AP_CONN_HAS_EXECUTE2, 7);
  TestAgent_SetProperty(AP_CONN_AUTOCOMMIT, 1);
  ConnOpen(conn_, 'A');
  ASSERT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(conn_->cn_needbind, 1);
  EXPECT_EQ(conn_->cn_hasExecute2, 1);
  EXPECT_EQ(conn_->cn_hasMoreRes, 0);  // no answer: off, also after the mask set it
  EXPECT_EQ(conn_->cn_hasNamedParams, 0);
  EXPECT_NE(conn_->flags & CF_AUTOCOMMIT, 0);
  ASSERT_EQ(ConnClose(conn_), 0);
}

TEST_F(ConnTest, OpenSendsTheConnectionsOptions) {
  conn_->flags |= CF_MASE | CF_SET_OPEN_OPTION;
  conn_->isolation = SQL_TXN_SERIALIZABLE;
  ConnOpen(conn_, 'A');
  ASSERT_EQ(conn_->state, CONN_CONNECTED);
  int32_t v = 0;
  EXPECT_EQ(TestAgent_LastSetProperty(AP_CONN_MULTI_ACTIVE_STMTS, &v), 1);
  EXPECT_EQ(TestAgent_LastSetProperty(AP_CONN_OPEN_OPTION, &v), 1);
  EXPECT_EQ(TestAgent_LastSetProperty(AP_CONN_ISOLATION, &v), 1);
  EXPECT_EQ(v, SQL_TXN_SERIALIZABLE);
  EXPECT_EQ(conn_->isolation, static_cast<uint32_t>(SQL_TXN_SERIALIZABLE));
  ASSERT_EQ(ConnClose(conn_), 0);
}

TEST_F(ConnTest, FailedTypeTableLeavesItEmpty) {
  TestAgent_FailNext("GetOpTable", 43, "HYC00", nullptr);
  ConnOpen(conn_, 'A');
  ASSERT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(conn_->opTable.type, 0);
  EXPECT_TRUE(conn_->opTable.rows == nullptr);
  ASSERT_EQ(ConnClose(conn_), 0);
}

TEST_F(ConnTest, OpenOnAnOpenConnectionIsASequenceError) {
  ConnOpen(conn_, 'A');
  ASSERT_EQ(conn_->state, CONN_CONNECTED);
  ConnOpen(conn_, 'A');
  EXPECT_EQ(conn_->error, KX_ERR_SEQUENCE);
  EXPECT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(TestAgent_Calls("Connect"), 1);
  ASSERT_EQ(ConnClose(conn_), 0);
}

TEST_F(ConnTest, EmptyServerSlotIsAnsweredByTheCore) {
  TestAgent_EmptySlot(3);  // DRV_AllocServer
  std::string text;
  EXPECT_EQ(Connect(dbc_), SQL_ERROR);
  State(SQL_HANDLE_DBC, dbc_, &text);
  EXPECT_NE(text.find("Unable to allocate server handle"), std::string::npos) << text;
  EXPECT_EQ(conn_->error, KX_ERR_CONNECTION_REJECTED);
  EXPECT_EQ(TestAgent_Calls("AllocServer"), 0);
  EXPECT_EQ(TestAgent_Calls("Connect"), 0);
}

// A server the agent cannot allocate (no Java VM): the agent's reason is the
// record, in place of the core's general text.
TEST_F(ConnTest, FailedServerAllocationBringsTheAgentsReason) {
  TestAgent_FailNext("AllocServer", KX_ERR_GENERAL, "08001",
                     "Can't load the Java VM (libjvm.so not found; tried /nowhere/lib/server/libjvm.so)");
  EXPECT_EQ(Connect(dbc_), SQL_ERROR);
  SQLCHAR state[6], text[512];
  SQLINTEGER native;
  SQLSMALLINT length;
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
  EXPECT_NE(strstr(reinterpret_cast<char*>(text), "tried /nowhere/lib/server/libjvm.so"), nullptr)
      << text;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 2, state, &native, text, sizeof text, &length),
            SQL_NO_DATA);
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
  EXPECT_EQ(TestAgent_Calls("Connect"), 0);
  // The next connect has no stale reason.
  EXPECT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length),
            SQL_NO_DATA);
}

TEST_F(ConnTest, FailedConnectThenAGoodOne) {
  TestAgent_FailNext("Connect", KX_ERR_UNABLE_TO_CONNECT, "08001", "host unreachable");
  EXPECT_EQ(Connect(dbc_), SQL_ERROR);
  // The agent connection's message first, then the server's.
  SQLCHAR state[6], text[256];
  SQLINTEGER native;
  SQLSMALLINT length;
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
  EXPECT_NE(strstr(reinterpret_cast<char*>(text), "host unreachable"), nullptr);
  EXPECT_EQ(strstr(reinterpret_cast<char*>(text), "(server)"), nullptr);
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 2, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_NE(strstr(reinterpret_cast<char*>(text), "host unreachable (server)"), nullptr);
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
  EXPECT_EQ(conn_->agentServer, 0u);
  EXPECT_EQ(TestAgent_LiveServers(), 0);  // the failed open gave its server back

  EXPECT_EQ(Connect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "");  // the old diagnostics are gone
  EXPECT_EQ(TestAgent_LiveConnections(), 1);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_LiveConnections(), 0);
  EXPECT_EQ(TestAgent_LiveServers(), 0);
}

TEST_F(ConnTest, DisconnectAnswers) {
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "08003");
  ASSERT_EQ(Connect(dbc_), SQL_SUCCESS);
  TestAgent_FailNext("Disconnect", KX_ERR_GENERAL, "HY000", "cannot close");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "HY000");
  EXPECT_NE(text.find("cannot close"), std::string::npos);
  EXPECT_EQ(conn_->state, CONN_CONNECTED);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
}

TEST_F(ConnTest, ChildHandlesNeedAConnection) {
  SQLHANDLE out = reinterpret_cast<SQLHANDLE>(0x1234);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &out), SQL_ERROR);
  EXPECT_TRUE(out == SQL_NULL_HANDLE);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "08003");
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &out), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "08003");
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, nullptr), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "HY009");
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, nullptr), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_ENV, env_), "HY009");
}

TEST_F(ConnTest, CommitAndRollback) {
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "08003");
  ASSERT_EQ(Connect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Commit"), 2);
  EXPECT_EQ(TestAgent_Calls("Rollback"), 1);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, 7), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "HY012");
  TestAgent_FailNext("Rollback", KX_ERR_TXN_STATE, "25000", "still busy");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_, &text), "25000");
  EXPECT_NE(text.find("still busy"), std::string::npos);
}

TEST_F(ConnTest, EnvironmentCommitRunsOnEveryConnection) {
  SQLHDBC second;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &second), SQL_SUCCESS);
  ASSERT_EQ(Connect(dbc_), SQL_SUCCESS);
  ASSERT_EQ(Connect(second), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, SQL_NULL_HDBC, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("Commit"), 2);
  EXPECT_EQ(TestAgent_Calls("Rollback"), 2);
  // A connection that is not connected makes the environment call fail.
  SQLHDBC idle;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &idle), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_ENV, env_), "08003");
  EXPECT_EQ(TestAgent_Calls("Commit"), 4);  // the connected ones still committed
  EXPECT_EQ(State(SQL_HANDLE_DBC, idle), "");  // the connection keeps its own code
}

TEST_F(ConnTest, FreeingAConnectedConnectionDisconnectsIt) {
  ASSERT_EQ(Connect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_LiveConnections(), 0);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_INVALID_HANDLE);
  // The handle value may be issued again; the new record answers for it.
  SQLHDBC again;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &again), SQL_SUCCESS);
  EXPECT_EQ(again, dbc_);
  EXPECT_EQ(SQLDisconnect(again), SQL_ERROR);
}

}  // namespace
}  // namespace kx::testing
