// The dispatcher: handle validation, one call per connection at a time, the
// exception barrier, the failover notice, the call records and the trace.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core_fixture.h"
#include "odbc/dtc_seam.h"
#include "odbc/diag.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/log.h"

namespace kx::testing {
namespace {

using DispatchTest = CoreTest;

uint32_t H(SQLHANDLE h) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)); }

TEST_F(DispatchTest, HandlesThatAreNotLiveRecordsOfTheKindAreInvalid) {
  SQLHENV env;
  SQLHDBC dbc;
  AllocEnvAndConn(&env, &dbc);
  SQLHDBC freed;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &freed), SQL_SUCCESS);
  ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, freed), SQL_SUCCESS);
  SQLINTEGER v = 0;
  EXPECT_EQ(SQLDisconnect(SQL_NULL_HDBC), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDisconnect(env), SQL_INVALID_HANDLE);          // an environment handle
  EXPECT_EQ(SQLGetEnvAttr(dbc, SQL_ATTR_ODBC_VERSION, &v, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDisconnect(freed), SQL_INVALID_HANDLE);        // a released slot
  EXPECT_EQ(SQLFreeStmt(dbc, SQL_CLOSE), SQL_INVALID_HANDLE);  // no statement table entry
  EXPECT_EQ(SQLAllocHandle(5, env, &freed), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLFreeHandle(5, env), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, SQL_NULL_HDBC, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, SQL_NULL_HANDLE, SQL_COMMIT), SQL_INVALID_HANDLE);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST_F(DispatchTest, EveryApiHasItsRecords) {
  EXPECT_EQ(kAllCallRecordCount, 129);
  int noClear = 0;
  for (int i = 0; i < kAllCallRecordCount; ++i) {
    const OdbcCallRecord* r = kAllCallRecords[i];
    SCOPED_TRACE(r->name);
    EXPECT_NE(r->handler, nullptr);
    EXPECT_GE(r->kind, static_cast<uint32_t>(HK_NONE));
    EXPECT_LE(r->kind, static_cast<uint32_t>(HK_DESC));
    if (r->clearDiag == 0) ++noClear;
  }
  // SQLError (3 kinds x 2 forms), SQLGetDiagField and SQLGetDiagRec (4 x 2 each)
  // and SQLAllocHandle(ENV) leave the diagnostics in place.
  EXPECT_EQ(noClear, 6 + 8 + 8 + 1);
  EXPECT_EQ(kRecAllocHandleEnv.clearDiag, 0u);
  EXPECT_EQ(kRecGetDiagRecWStmt.clearDiag, 0u);
}

TEST(FormatCallArgs, ShowsThirtyTwoBitValuesAndWholePointers) {
  OdbcArgs args{{ToArgSlot(reinterpret_cast<void*>(0x123456789AULL)), ToArgSlot(-5),
                 ToArgSlot(static_cast<SQLUSMALLINT>(7)), ToArgSlot(reinterpret_cast<void*>(0xABCULL))},
                4, 0};
  char out[250];
  FormatCallArgs("p=%lX n=%d u=%u w=%08lX", args, out, sizeof out);
  EXPECT_STREQ(out, "p=3456789A n=-5 u=7 w=00000ABC");
  FormatCallArgs("HWND=%p rest=%d", args, out, sizeof out);
  EXPECT_STREQ(out, "HWND=0x123456789a rest=-5");
  char small[8];
  FormatCallArgs("value=%lX", args, small, sizeof small);
  EXPECT_STREQ(small, "value=3");
  FormatCallArgs("100%% done", args, out, sizeof out);
  EXPECT_STREQ(out, "100% done");
}

// ---- one call per connection ------------------------------------------------------

SQLRETURN QuickHandler(HandleHead*, const OdbcArgs&) { return SQL_SUCCESS; }

const OdbcCallRecord kQuickStmt = {"Quick", "", 0, 1, HK_STMT, QuickHandler};
const OdbcCallRecord kQuickDbc = {"Quick", "", 0, 1, HK_DBC, QuickHandler};

// Statement records made by hand: the statement layer is not needed to prove
// the dispatcher's rules.
class FakeStatements : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    AllocEnvAndConn(&env_, &dbc_);
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    conn_ = static_cast<ConnRecord*>(LookupHandle(HK_DBC, H(dbc_)));
    for (auto& s : stmts_) {
      s = new StmtRecord{};
      s->magic = STMT_MAGIC;
      s->conn = conn_;
      ASSERT_EQ(HT_Alloc(StmtTable(), &s->handle, s), 0);
    }
  }
  void TearDown() override {
    for (auto* s : stmts_) {
      HT_Release(StmtTable(), s->handle);
      MsgListFree(&s->messages);
      delete s;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    CoreTest::TearDown();
  }

 public:
  SQLHANDLE Stmt(int i) { return reinterpret_cast<SQLHANDLE>(static_cast<uintptr_t>(stmts_[i]->handle)); }

  SQLHENV env_;
  SQLHDBC dbc_;
  ConnRecord* conn_ = nullptr;
  StmtRecord* stmts_[2] = {};
};

// A handler that calls back into its own connection cannot wait for the call
// it is part of: the busy marker answers. Recorded by the handler below.
struct ReentryAnswers {
  SQLRETURN sameStmt, otherStmt, conn, freeEnv;
};
ReentryAnswers g_reentry;
FakeStatements* g_fake = nullptr;

SQLRETURN CallsBackIntoItsConnection(HandleHead*, const OdbcArgs&) {
  g_reentry.sameStmt = CallODBC(kQuickStmt, g_fake->Stmt(0));
  g_reentry.otherStmt = CallODBC(kQuickStmt, g_fake->Stmt(1));
  g_reentry.conn = SQLDisconnect(g_fake->dbc_);
  g_reentry.freeEnv = SQLFreeHandle(SQL_HANDLE_ENV, g_fake->env_);
  return SQL_SUCCESS;
}

TEST_F(FakeStatements, ACallBackIntoTheRunningConnectionIsRefused) {
  const OdbcCallRecord callsBack = {"CallsBack", "", 0, 1, HK_STMT, CallsBackIntoItsConnection};
  g_fake = this;
  EXPECT_EQ(CallODBC(callsBack, Stmt(0)), SQL_SUCCESS);
  g_fake = nullptr;
  // The same statement: still executing, no diagnostic.
  EXPECT_EQ(g_reentry.sameStmt, SQL_STILL_EXECUTING);
  EXPECT_EQ(stmts_[0]->error, 0);
  // Another statement of the connection: function sequence error on it.
  EXPECT_EQ(g_reentry.otherStmt, SQL_ERROR);
  EXPECT_EQ(stmts_[1]->error, KX_ERR_SEQUENCE);
  // The connection itself: the same, on the connection.
  EXPECT_EQ(g_reentry.conn, SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_SEQUENCE);
  // Freeing the environment is refused while the call runs.
  EXPECT_EQ(g_reentry.freeEnv, SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_ENV, env_), "HY010");
  // The refusals left their diagnostics.
  EXPECT_EQ(State(SQL_HANDLE_STMT, Stmt(1)), "HY010");
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc_), "HY010");
  // The connection is not left busy.
  EXPECT_EQ(CallODBC(kQuickStmt, Stmt(1)), SQL_SUCCESS);
  EXPECT_EQ(CallODBC(kQuickDbc, dbc_), SQL_SUCCESS);
}

SQLRETURN ThrowsBadAlloc(HandleHead*, const OdbcArgs&) { throw std::bad_alloc(); }
SQLRETURN ThrowsOther(HandleHead*, const OdbcArgs&) { throw std::runtime_error("boom"); }

TEST_F(FakeStatements, ExceptionsStopAtTheBarrier) {
  const OdbcCallRecord badAlloc = {"Throw", "", 0, 1, HK_STMT, ThrowsBadAlloc};
  const OdbcCallRecord other = {"Throw", "", 0, 1, HK_DBC, ThrowsOther};
  EXPECT_EQ(CallODBC(badAlloc, Stmt(0)), SQL_ERROR);
  EXPECT_EQ(stmts_[0]->error, KX_ERR_NOMEM);
  EXPECT_EQ(State(SQL_HANDLE_STMT, Stmt(0)), "HY001");
  EXPECT_EQ(CallODBC(other, dbc_), SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_GENERAL);
  // The connection is not left busy.
  EXPECT_EQ(CallODBC(kQuickStmt, Stmt(1)), SQL_SUCCESS);
}

// ---- failover notice ------------------------------------------------------------

std::atomic<int> g_event{0};
void OnFailover(int32_t event, void*, int32_t) { g_event = event; }

int g_failoverMessages = 0;
int32_t g_failoverCode = 0;
SQLRETURN FailsWithFailoverTexts(HandleHead* head, const OdbcArgs&) {
  if (g_failoverMessages >= 1) MsgListAppend(&head->messages, "[x]Failover completed.[SQLSTATE:IM500]", 0);
  if (g_failoverMessages >= 2) MsgListAppend(&head->messages, "[x]network gone[SQLSTATE:08S01]", 0);
  head->error = g_failoverCode;
  return SQL_ERROR;
}

TEST_F(FakeStatements, FailoverNoticeRaisesTheCallbackEvent) {
  const OdbcCallRecord failing = {"Fail", "", 0, 1, HK_STMT, FailsWithFailoverTexts};
  conn_->failoverCallback = OnFailover;
  struct Case {
    int messages;
    int32_t code;
    int event;
    SQLRETURN rc;
  } cases[] = {
      {2, 0, FAILOVER_EVENT_COMPLETED, SQL_ERROR},  // found in the list: still an error
      {1, 0, 0, SQL_ERROR},                         // one message is not enough
      {0, KX_ERR_FAILOVER_COMPLETED, FAILOVER_EVENT_COMPLETED, SQL_SUCCESS_WITH_INFO},
      {0, KX_ERR_FAILOVER_ABORTED, FAILOVER_EVENT_ABORTED, SQL_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.messages << " messages, code " << c.code);
    g_event = 0;
    g_failoverMessages = c.messages;
    g_failoverCode = c.code;
    EXPECT_EQ(CallODBC(failing, Stmt(0)), c.rc);
    EXPECT_EQ(g_event.load(), c.event);
  }
  conn_->failoverCallback = nullptr;
}

// ---- trace -----------------------------------------------------------------------

TEST_F(DispatchTest, TraceShowsCallArgumentsAndResult) {
  char dir[] = "/tmp/kx-dispatch-trace-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/odbc.trace";
  DriverDetach();
  setenv("ZNT_DEBUGFILE", path.c_str(), 1);
  ASSERT_EQ(DriverAttach(nullptr), 1);
  unsetenv("ZNT_DEBUGFILE");
  SQLHENV env;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(3), 0);
  SQLDisconnect(env);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  LogAt(LOG_ERROR, __FILE__, __LINE__, "a logged line in the trace");
  DriverDetach();
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::stringstream tid;
  tid << std::hex << std::uppercase << gettid();
  const std::string call = "\n\n[" + tid.str() + "] SQLSetEnvAttr hEnv=10000\n"
                           "Attribute=200 ValuePtr=3 StringLength=0\n[" + tid.str() +
                           "] SQLSetEnvAttr: returning SQL_SUCCESS\n";
  EXPECT_NE(text.find(call), std::string::npos) << text;
  EXPECT_NE(text.find("SQLDisconnect hDbc=10000\n[" + tid.str() +
                      "] SQLDisconnect: returning SQL_INVALID_HANDLE"),
            std::string::npos);
  // The levelled log was bound to the trace file while it was open.
  EXPECT_NE(text.find("a logged line in the trace"), std::string::npos);
  ASSERT_EQ(DriverAttach(nullptr), 1);
  remove(path.c_str());
  rmdir(dir);
}

// ---- the agent table ----------------------------------------------------------------

TEST(AgentCall, EmptySlotAnswersIm001WithoutACall) {
  AgentOps empty{};
  AgentBinding binding{AB_REENTRANT, &empty};
  EXPECT_TRUE(AgentSlotEmpty(&empty, 21));
  EXPECT_EQ(AgentCall(binding, &AgentOps::DRV_Commit, 1u), KX_ERR_NOT_SUPPORTED);
  AgentBinding none{0, nullptr};
  EXPECT_EQ(AgentCall(none, &AgentOps::DRV_Commit, 1u), KX_ERR_NOT_SUPPORTED);
}

}  // namespace
}  // namespace kx::testing

namespace kx::testing {
namespace {

// With an agent that is not re-entrant every connection call also holds the
// process-wide agent lock.
std::atomic<int> g_agentLockFree{-1};
SQLRETURN ProbesTheAgentLock(HandleHead*, const OdbcArgs&) {
  std::thread other([] {
    bool got = AgentLock().try_lock();
    if (got) AgentLock().unlock();
    g_agentLockFree = got ? 1 : 0;
  });
  other.join();
  return SQL_SUCCESS;
}

TEST_F(DispatchTest, NonReentrantAgentSerialisesCalls) {
  SQLHENV env;
  SQLHDBC dbc;
  AllocEnvAndConn(&env, &dbc);
  const OdbcCallRecord probe = {"Probe", "", 0, 1, HK_DBC, ProbesTheAgentLock};
  const int32_t latched = g_agentReentrant.load();
  g_agentReentrant = 0;
  EXPECT_EQ(CallODBC(probe, dbc), SQL_SUCCESS);
  EXPECT_EQ(g_agentLockFree.load(), 0);
  g_agentReentrant = AB_REENTRANT;
  EXPECT_EQ(CallODBC(probe, dbc), SQL_SUCCESS);
  EXPECT_EQ(g_agentLockFree.load(), 1);
  g_agentReentrant = latched;
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

// The gate of a prepared distributed transaction: Hold waits for the call
// under way, keeps new calls out until Open, and an open gate lets calls
// through; many calls racing many closings never find a call inside a
// closed gate.
TEST(CallGateTest, HoldWaitsForCallsUnderWayAndKeepsNewOnesOut) {
  CallGate gate;
  gate.Pass();
  std::atomic<bool> holdDone{false}, entered{false};
  std::thread holder([&] {
    gate.Hold();
    holdDone = true;
  });
  while (!gate.IsHeld()) std::this_thread::yield();
  EXPECT_FALSE(holdDone.load());  // the call under way has not ended
  std::thread caller([&] {
    gate.Pass();
    entered = true;
    gate.Done();
  });
  gate.Done();
  holder.join();
  EXPECT_TRUE(holdDone.load());
  EXPECT_FALSE(entered.load());  // closed: the new call waits
  gate.Open();
  caller.join();
  EXPECT_TRUE(entered.load());
  EXPECT_FALSE(gate.IsHeld());

  std::atomic<int> inside{0}, seenInsideClosed{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&] {
      while (!stop.load()) {
        gate.Pass();
        ++inside;
        --inside;
        gate.Done();
      }
    });
  }
  for (int round = 0; round < 2000; ++round) {
    gate.Hold();
    if (inside.load() != 0) ++seenInsideClosed;
    gate.Open();
  }
  stop = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(0, seenInsideClosed.load());
}

}  // namespace
}  // namespace kx::testing
