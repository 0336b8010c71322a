// The XA routing layer over a recording lower table, without a Java VM: which
// thread runs each operation, when routing is on and off, and how workers are
// stopped (at disconnect, at a second xa_open and at unload, also while a
// request is running), with no thread left behind and no wait unbounded.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_xa.h"
#include "util/errcodes.h"
#include "xa/xa_route.h"

namespace {

using namespace kx;
using namespace std::chrono_literals;

constexpr auto kBound = 10s;  // no wait in these tests is longer

// A number for each thread that ever asks, never reused (thread ids are).
std::atomic<int> g_threadSerial{0};
int Me() {
  thread_local int serial = ++g_threadSerial;
  return serial;
}

// What the lower table saw: each operation's name and the thread it ran on.
struct Recorder {
  std::mutex lock;
  std::vector<std::pair<std::string, int>> calls;
  std::map<std::string, int32_t> answers;  // result per operation (0 when unset)
  int32_t keepContext = 0;
  int capabilityAsks = 0;
  // The agent's records as far as the layer asks for them: each connection's
  // context field, and the connection of each statement.
  std::map<AgentHandle, XaThreadCtx*> conns;
  std::map<AgentHandle, AgentHandle> stmts;
  // A held operation blocks inside the lower table until released.
  std::string holdOp;
  bool held = false, released = false;
  std::condition_variable changed;

  void Reset() {
    std::lock_guard<std::mutex> hold(lock);
    calls.clear();
    answers.clear();
    keepContext = 0;
    capabilityAsks = 0;
    conns.clear();
    stmts.clear();
    holdOp.clear();
    held = released = false;
  }
  int32_t Record(const char* op) {
    std::unique_lock<std::mutex> hold(lock);
    calls.emplace_back(op, Me());
    if (holdOp == op) {
      holdOp.clear();
      held = true;
      changed.notify_all();
      changed.wait_for(hold, kBound, [&] { return released; });
    }
    auto it = answers.find(op);
    return it != answers.end() ? it->second : 0;
  }
  // The thread of the newest call of op; 0 when there was none.
  int ThreadOf(const std::string& op) {
    std::lock_guard<std::mutex> hold(lock);
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->first == op) return it->second;
    }
    return 0;
  }
  int Count(const std::string& op) {
    std::lock_guard<std::mutex> hold(lock);
    int n = 0;
    for (auto& c : calls) n += c.first == op ? 1 : 0;
    return n;
  }
  bool WaitHeld() {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, kBound, [&] { return held; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock);
    released = true;
    changed.notify_all();
  }
};
Recorder rec;

XaThreadCtx* CtxOf(AgentHandle conn) {
  std::lock_guard<std::mutex> hold(rec.lock);
  auto it = rec.conns.find(conn);
  return it != rec.conns.end() ? it->second : nullptr;
}

// The lower table: records, answers as scripted, and marks XA on and off the
// way the agent does.
int32_t GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                    uint16_t* length) {
  if (id == XaProp_ConnContext || id == XaProp_StmtContext) {
    std::lock_guard<std::mutex> hold(rec.lock);
    if (id == XaProp_StmtContext) {
      auto s = rec.stmts.find(h);
      if (s == rec.stmts.end()) return KX_ERR_BAD_ARGUMENT;
      h = s->second;
    }
    auto c = rec.conns.find(h);
    if (c == rec.conns.end() || capacity < sizeof(void*)) return KX_ERR_BAD_ARGUMENT;
    XaThreadCtx** slot = &c->second;  // map nodes stay where they are
    std::memcpy(out, &slot, sizeof slot);
    *length = sizeof slot;
    return 0;
  }
  if (id != XaCap_KeepContext && id != XaCap_TerminateWorker) return KX_ERR_NOT_SUPPORTED;
  int32_t v = 0;
  {
    std::lock_guard<std::mutex> hold(rec.lock);
    ++rec.capabilityAsks;
    v = id == XaCap_KeepContext ? rec.keepContext : 0;
  }
  std::memcpy(out, &v, sizeof v);
  *length = sizeof v;
  return 0;
}
int32_t Disconnect(AgentHandle h) {
  int32_t rc = rec.Record("Disconnect");
  if (rc == 0) {
    std::lock_guard<std::mutex> hold(rec.lock);
    rec.conns.erase(h);
  }
  return rc;
}
int32_t AllocStmt(AgentHandle, AgentHandle* s) {
  *s = 0;
  return rec.Record("AllocStmt");
}
int32_t FreeStmt(AgentHandle) { return rec.Record("FreeStmt"); }
int32_t Prepare(AgentHandle, const char*) { return rec.Record("Prepare"); }
int32_t Execute(AgentHandle) { return rec.Record("Execute"); }
int32_t FetchBlock(AgentHandle, uint16_t, RowBuffer*) { return rec.Record("FetchBlock"); }
int32_t CloseCursor(AgentHandle) { return rec.Record("CloseCursor"); }
int32_t MoreResults(AgentHandle) { return rec.Record("MoreResults"); }
int32_t ExecDirect(AgentHandle, const char*, RowBuffer*, uint16_t, const SCS_PARAMDESC*) {
  return rec.Record("ExecDirect");
}
int32_t Commit(AgentHandle) { return rec.Record("Commit"); }
int32_t XaOpen(AgentHandle h, int, const char*, int, long) {
  int32_t rc = rec.Record("XaOpen");
  if (rc == 0) XaThr_SetEnabled(CtxOf(h), 1);
  return rc;
}
int32_t XaClose(AgentHandle h, const char*, int, long) {
  int32_t rc = rec.Record("XaClose");
  if (rc == 0) XaThr_SetEnabled(CtxOf(h), 0);
  return rc;
}
int32_t XaStart(AgentHandle, XID*, int, long) { return rec.Record("XaStart"); }
int32_t XaEnd(AgentHandle, XID*, int, long) { return rec.Record("XaEnd"); }
int32_t XaPrepare(AgentHandle, XID*, int, long) { return rec.Record("XaPrepare"); }
int32_t XaCommit(AgentHandle, XID*, int, long) { return rec.Record("XaCommit"); }
int32_t XaRollback(AgentHandle, XID*, int, long) { return rec.Record("XaRollback"); }
int32_t XaForget(AgentHandle, XID*, int, long) { return rec.Record("XaForget"); }
int32_t XaRecover(AgentHandle, XID*, int32_t, int, long) { return rec.Record("XaRecover"); }
int32_t XaComplete(AgentHandle, int*, int*, int, long) { return rec.Record("XaComplete"); }

AgentOps MakeLower() {
  AgentOps t{};
  t.DRV_GetProperty = GetProperty;
  t.DRV_Disconnect = Disconnect;
  t.DRV_AllocStmt = AllocStmt;
  t.DRV_FreeStmt = FreeStmt;
  t.DRV_Prepare = Prepare;
  t.DRV_Execute = Execute;
  t.DRV_FetchBlock = FetchBlock;
  t.DRV_CloseCursor = CloseCursor;
  t.DRV_MoreResults = MoreResults;
  t.DRV_ExecDirect = ExecDirect;
  t.DRV_Commit = Commit;
  t.DRV_XaOpen = XaOpen;
  t.DRV_XaClose = XaClose;
  t.DRV_XaStart = XaStart;
  t.DRV_XaEnd = XaEnd;
  t.DRV_XaPrepare = XaPrepare;
  t.DRV_XaCommit = XaCommit;
  t.DRV_XaRollback = XaRollback;
  t.DRV_XaForget = XaForget;
  t.DRV_XaRecover = XaRecover;
  t.DRV_XaComplete = XaComplete;
  return t;  // ParamData, PutData and ExecDirectEx stay empty
}
const AgentOps kLower = MakeLower();

// Runs fn on a thread of its own; false when it did not end within the bound
// (the process is then ended: a hung thread cannot be joined).
template <typename Fn>
bool RunBounded(Fn fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> f = task.get_future();
  std::thread t(std::move(task));
  if (f.wait_for(kBound) != std::future_status::ready) {
    std::fprintf(stderr, "a call did not return within the bound\n");
    std::_Exit(3);
  }
  t.join();
  return true;
}

class XaRoute : public ::testing::Test {
 protected:
  void SetUp() override {
    rec.Reset();
    binding_ = AgentBinding{AB_REENTRANT, &kLower};
    ASSERT_EQ(0, XaThr_Bind(&binding_));
    ops_ = binding_.ops;
  }
  void TearDown() override {
    std::vector<AgentHandle> open;
    {
      std::lock_guard<std::mutex> hold(rec.lock);
      rec.answers.erase("Disconnect");
      for (auto& c : rec.conns) open.push_back(c.first);
    }
    for (AgentHandle c : open) EXPECT_EQ(0, ops_->DRV_Disconnect(c));
    EXPECT_EQ(0, XaThr_LiveWorkers());
  }
  AgentHandle NewConn() {
    std::lock_guard<std::mutex> hold(rec.lock);
    AgentHandle h = next_++;
    rec.conns[h] = nullptr;
    return h;
  }
  AgentHandle NewStmt(AgentHandle conn) {
    std::lock_guard<std::mutex> hold(rec.lock);
    AgentHandle h = next_++;
    rec.stmts[h] = conn;
    return h;
  }
  int XaOpenOn(AgentHandle conn) { return ops_->DRV_XaOpen(conn, 1, "", 1, TMNOFLAGS); }
  // Calls every wrapped statement and connection operation of the layer.
  void CallAllNonXa(AgentHandle conn, AgentHandle stmt) {
    AgentHandle out = 0;
    RowBuffer rb{};
    EXPECT_EQ(0, ops_->DRV_AllocStmt(conn, &out));
    EXPECT_EQ(0, ops_->DRV_Prepare(stmt, "SELECT 1"));
    EXPECT_EQ(0, ops_->DRV_Execute(stmt));
    EXPECT_EQ(0, ops_->DRV_FetchBlock(stmt, 1, &rb));
    EXPECT_EQ(0, ops_->DRV_MoreResults(stmt));
    EXPECT_EQ(0, ops_->DRV_CloseCursor(stmt));
    EXPECT_EQ(0, ops_->DRV_ExecDirect(stmt, "SELECT 1", nullptr, 0, nullptr));
    EXPECT_EQ(0, ops_->DRV_FreeStmt(stmt));
  }
  void CallAllXa(AgentHandle conn) {
    XID xid{};
    xid.formatID = 1;
    int a = 0, b = 0;
    EXPECT_EQ(0, ops_->DRV_XaStart(conn, &xid, 1, TMNOFLAGS));
    EXPECT_EQ(0, ops_->DRV_XaEnd(conn, &xid, 1, TMSUCCESS));
    EXPECT_EQ(0, ops_->DRV_XaPrepare(conn, &xid, 1, TMNOFLAGS));
    EXPECT_EQ(0, ops_->DRV_XaCommit(conn, &xid, 1, TMNOFLAGS));
    EXPECT_EQ(0, ops_->DRV_XaRollback(conn, &xid, 1, TMNOFLAGS));
    EXPECT_EQ(0, ops_->DRV_XaForget(conn, &xid, 1, TMNOFLAGS));
    EXPECT_EQ(0, ops_->DRV_XaRecover(conn, &xid, 1, 1, TMSTARTRSCAN));
    EXPECT_EQ(0, ops_->DRV_XaComplete(conn, &a, &b, 1, TMNOFLAGS));
  }

  AgentBinding binding_{};
  const AgentOps* ops_ = nullptr;
  AgentHandle next_ = 0x100;
};

const char* const kNonXaOps[] = {"AllocStmt",   "Prepare",    "Execute",  "FetchBlock",
                                 "MoreResults", "CloseCursor", "ExecDirect", "FreeStmt"};
const char* const kXaOps[] = {"XaStart",    "XaEnd",    "XaPrepare", "XaCommit",
                              "XaRollback", "XaForget", "XaRecover", "XaComplete"};

TEST_F(XaRoute, ConnectionsNeverXaOpenedRunOnTheCallersThread) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  rec.answers["Execute"] = 7;  // the lower result comes back unchanged
  EXPECT_EQ(7, ops_->DRV_Execute(s));
  rec.answers.erase("Execute");
  CallAllNonXa(c, s);
  for (const char* op : kNonXaOps) EXPECT_EQ(Me(), rec.ThreadOf(op)) << op;
  // Unknown handles, and XA operations on a connection without a context.
  XID xid{};
  // An unknown handle goes straight down: the lower table refuses it itself.
  rec.answers["Execute"] = KX_ERR_BAD_ARGUMENT;
  EXPECT_EQ(KX_ERR_BAD_ARGUMENT, ops_->DRV_Execute(0x0DBC7777));
  EXPECT_EQ(Me(), rec.ThreadOf("Execute"));
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaStart(c, &xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaClose(c, "", 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaStart(0x0DBC7777, &xid, 1, TMNOFLAGS));
  EXPECT_EQ(0, rec.Count("XaStart"));
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

TEST_F(XaRoute, AfterXaOpenEveryOperationRunsOnTheConnectionsWorker) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  AgentHandle other = NewConn(), otherStmt = NewStmt(other);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  EXPECT_EQ(1, XaThr_LiveWorkers());
  const int worker = rec.ThreadOf("XaOpen");
  ASSERT_NE(0, worker);
  ASSERT_NE(Me(), worker);

  CallAllNonXa(c, s);
  CallAllXa(c);
  for (const char* op : kNonXaOps) EXPECT_EQ(worker, rec.ThreadOf(op)) << op;
  for (const char* op : kXaOps) EXPECT_EQ(worker, rec.ThreadOf(op)) << op;

  // A second thread's calls on the same connection reach the same worker.
  RunBounded([&] {
    CallAllNonXa(c, s);
    CallAllXa(c);
  });
  for (const char* op : kNonXaOps) EXPECT_EQ(worker, rec.ThreadOf(op)) << op;
  for (const char* op : kXaOps) EXPECT_EQ(worker, rec.ThreadOf(op)) << op;

  // Another connection keeps the caller's thread.
  EXPECT_EQ(0, ops_->DRV_Execute(otherStmt));
  EXPECT_EQ(Me(), rec.ThreadOf("Execute"));

  // Results cross unchanged, XA_RDONLY and the agent's errors included.
  XID xid{};
  rec.answers["XaPrepare"] = XA_RDONLY;
  EXPECT_EQ(XA_RDONLY, ops_->DRV_XaPrepare(c, &xid, 1, TMNOFLAGS));
  rec.answers["XaCommit"] = XAER_NOTA;
  EXPECT_EQ(XAER_NOTA, ops_->DRV_XaCommit(c, &xid, 1, TMNOFLAGS));
  rec.answers["Execute"] = 15;
  EXPECT_EQ(15, ops_->DRV_Execute(s));
}

TEST_F(XaRoute, ManyThreadsShareOneWorkerOneRequestAtATime) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  const int worker = rec.ThreadOf("XaOpen");
  RunBounded([&] {
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
      posters.emplace_back([&] {
        for (int i = 0; i < 200; ++i) EXPECT_EQ(0, ops_->DRV_Execute(s));
      });
    }
    for (auto& p : posters) p.join();
  });
  EXPECT_EQ(800, rec.Count("Execute"));
  std::lock_guard<std::mutex> hold(rec.lock);
  for (auto& call : rec.calls) EXPECT_EQ(worker, call.second) << call.first;
}

TEST_F(XaRoute, XaCloseSwitchesStatementRoutingOffButNotXaRouting) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  const int worker = rec.ThreadOf("XaOpen");
  EXPECT_EQ(0, ops_->DRV_Execute(s));
  EXPECT_EQ(worker, rec.ThreadOf("Execute"));
  ASSERT_EQ(XA_OK, ops_->DRV_XaClose(c, "", 1, TMNOFLAGS));
  EXPECT_EQ(worker, rec.ThreadOf("XaClose"));
  EXPECT_EQ(0, ops_->DRV_Execute(s));
  EXPECT_EQ(Me(), rec.ThreadOf("Execute"));
  XID xid{};
  EXPECT_EQ(0, ops_->DRV_XaStart(c, &xid, 1, TMNOFLAGS));
  EXPECT_EQ(worker, rec.ThreadOf("XaStart"));
  // The worker lives until the connection ends.
  EXPECT_EQ(1, XaThr_LiveWorkers());
}

TEST_F(XaRoute, ASecondXaOpenGetsANewWorkerUnlessTheAgentKeepsTheContext) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  const int first = rec.ThreadOf("XaOpen");
  ASSERT_EQ(XA_OK, XaOpenOn(c));  // XA is on: the fresh context starts with it off
  const int second = rec.ThreadOf("XaOpen");
  EXPECT_NE(first, second);
  EXPECT_EQ(1, XaThr_LiveWorkers());
  EXPECT_EQ(1, rec.capabilityAsks);  // asked only for the connection's first context
  EXPECT_EQ(0, ops_->DRV_Execute(s));
  EXPECT_EQ(second, rec.ThreadOf("Execute"));

  AgentHandle k = NewConn();
  rec.keepContext = 1;
  ASSERT_EQ(XA_OK, XaOpenOn(k));
  const int kept = rec.ThreadOf("XaOpen");
  ASSERT_EQ(XA_OK, ops_->DRV_XaClose(k, "", 1, TMNOFLAGS));
  ASSERT_EQ(XA_OK, XaOpenOn(k));
  EXPECT_EQ(kept, rec.ThreadOf("XaOpen"));
  EXPECT_EQ(2, XaThr_LiveWorkers());
}

TEST_F(XaRoute, RefusedRequestsChangeNothing) {
  AgentHandle c = NewConn();
  // Asynchronous XA is refused before any context or thread is made.
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaOpen(c, 1, "", 1, TMASYNC));
  EXPECT_EQ(nullptr, CtxOf(c));
  EXPECT_EQ(0, XaThr_LiveWorkers());
  // A flag word of 0 is no binding to wrap; empty slots stay empty.
  AgentBinding none{0, &kLower};
  EXPECT_EQ(KX_ERR_NOT_CAPABLE, XaThr_Bind(&none));
  EXPECT_EQ(&kLower, none.ops);
  EXPECT_EQ(nullptr, ops_->DRV_ParamData);
  EXPECT_EQ(nullptr, ops_->DRV_ExecDirectEx);
  EXPECT_EQ(kLower.DRV_Commit, ops_->DRV_Commit);
  // Binding a binding again leaves it on the same table.
  AgentBinding again = binding_;
  EXPECT_EQ(0, XaThr_Bind(&again));
  EXPECT_EQ(ops_, again.ops);
  // The XA-on mark: any non-zero flag is 1; no context is 21.
  XaThreadCtx ctx{};
  EXPECT_EQ(0, XaThr_SetEnabled(&ctx, 5));
  EXPECT_EQ(1, XaThr_IsEnabled(&ctx));
  EXPECT_EQ(KX_ERR_BAD_ARGUMENT, XaThr_SetEnabled(nullptr, 1));
  EXPECT_EQ(0, XaThr_IsEnabled(nullptr));
}

TEST_F(XaRoute, DisconnectRunsOnTheCallerAndStopsTheWorkerOnlyWhenItSucceeds) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  const int worker = rec.ThreadOf("XaOpen");
  rec.answers["Disconnect"] = 15;
  EXPECT_EQ(15, ops_->DRV_Disconnect(c));
  EXPECT_EQ(Me(), rec.ThreadOf("Disconnect"));
  EXPECT_EQ(1, XaThr_LiveWorkers());
  EXPECT_EQ(0, ops_->DRV_Execute(s));
  EXPECT_EQ(worker, rec.ThreadOf("Execute"));
  rec.answers.erase("Disconnect");
  RunBounded([&] { EXPECT_EQ(0, ops_->DRV_Disconnect(c)); });
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

// Disconnect while another thread's request runs on the worker: the stop
// waits for the request, which completes with its own result.
TEST_F(XaRoute, DisconnectWaitsOutARequestInFlight) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  rec.holdOp = "Execute";
  rec.answers["Execute"] = 9;
  std::future<int32_t> exec = std::async(std::launch::async, [&] { return ops_->DRV_Execute(s); });
  ASSERT_TRUE(rec.WaitHeld());
  std::future<int32_t> disc =
      std::async(std::launch::async, [&] { return ops_->DRV_Disconnect(c); });
  EXPECT_EQ(std::future_status::timeout, disc.wait_for(100ms));  // waits for the request
  // The connection is still there for the request that runs on it.
  EXPECT_EQ(0, rec.Count("Disconnect"));
  rec.Release();
  ASSERT_EQ(std::future_status::ready, exec.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, disc.wait_for(kBound));
  EXPECT_EQ(9, exec.get());
  EXPECT_EQ(0, disc.get());
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

// Unload with a request in flight and another poster waiting for the
// channel: the running one finishes, the waiting one is refused without
// running, and no thread is left. Later routed calls are refused too.
TEST_F(XaRoute, UnloadStopsEveryWorkerEvenWithARequestInFlight) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  AgentHandle d = NewConn();
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  ASSERT_EQ(XA_OK, XaOpenOn(d));
  EXPECT_EQ(2, XaThr_LiveWorkers());
  rec.holdOp = "Execute";
  std::future<int32_t> running =
      std::async(std::launch::async, [&] { return ops_->DRV_Execute(s); });
  ASSERT_TRUE(rec.WaitHeld());
  std::future<int32_t> waiting =
      std::async(std::launch::async, [&] { return ops_->DRV_Prepare(s, "SELECT 1"); });
  std::future<void> unload = std::async(std::launch::async, [] { XaThr_Shutdown(); });
  EXPECT_EQ(std::future_status::timeout, unload.wait_for(100ms));
  rec.Release();
  ASSERT_EQ(std::future_status::ready, unload.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, running.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, waiting.wait_for(kBound));
  EXPECT_EQ(0, running.get());
  const int32_t w = waiting.get();
  // The waiting poster either ran before the stop took the channel or was refused.
  EXPECT_TRUE(w == 0 || w == KX_ERR_THREAD_POOL) << w;
  EXPECT_EQ(w == 0 ? 1 : 0, rec.Count("Prepare"));
  EXPECT_EQ(0, XaThr_LiveWorkers());

  const int executes = rec.Count("Execute");
  XID xid{};
  EXPECT_EQ(KX_ERR_THREAD_POOL, ops_->DRV_Execute(s));
  EXPECT_EQ(XAER_RMERR, ops_->DRV_XaStart(d, &xid, 1, TMNOFLAGS));
  EXPECT_EQ(executes, rec.Count("Execute"));
  EXPECT_EQ(0, rec.Count("XaStart"));
  // Disconnect after the unload still frees everything.
  EXPECT_EQ(0, ops_->DRV_Disconnect(c));
  EXPECT_EQ(0, ops_->DRV_Disconnect(d));
}

// Unload and a disconnect of the same connection at once, while a request
// runs on its worker: the unload took the context first, so the disconnect
// waits until the unload has stopped that worker, and neither touches the
// worker after the other freed it (the sanitizer build sees any such touch).
TEST_F(XaRoute, UnloadAndDisconnectAtOnceStopTheWorkerOnce) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, XaOpenOn(c));
  rec.holdOp = "Execute";
  std::future<int32_t> running =
      std::async(std::launch::async, [&] { return ops_->DRV_Execute(s); });
  ASSERT_TRUE(rec.WaitHeld());
  std::future<void> unload = std::async(std::launch::async, [] { XaThr_Shutdown(); });
  EXPECT_EQ(std::future_status::timeout, unload.wait_for(100ms));
  std::future<int32_t> disc =
      std::async(std::launch::async, [&] { return ops_->DRV_Disconnect(c); });
  EXPECT_EQ(std::future_status::timeout, disc.wait_for(100ms));
  EXPECT_EQ(0, rec.Count("Disconnect"));
  rec.Release();
  ASSERT_EQ(std::future_status::ready, running.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, unload.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, disc.wait_for(kBound));
  EXPECT_EQ(0, running.get());
  EXPECT_EQ(0, disc.get());
  EXPECT_EQ(1, rec.Count("Disconnect"));
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

// Many connections disconnected while the unload runs: each worker is
// stopped exactly once, by whichever side took its context first.
TEST_F(XaRoute, UnloadRacingManyDisconnectsLeavesNoWorker) {
  for (int round = 0; round < 20; ++round) {
    std::vector<AgentHandle> conns;
    for (int i = 0; i < 8; ++i) {
      conns.push_back(NewConn());
      ASSERT_EQ(XA_OK, XaOpenOn(conns.back()));
    }
    std::vector<std::future<int32_t>> discs;
    std::future<void> unload = std::async(std::launch::async, [] { XaThr_Shutdown(); });
    for (AgentHandle c : conns) {
      discs.push_back(std::async(std::launch::async, [&, c] { return ops_->DRV_Disconnect(c); }));
    }
    ASSERT_EQ(std::future_status::ready, unload.wait_for(kBound));
    for (auto& d : discs) {
      ASSERT_EQ(std::future_status::ready, d.wait_for(kBound));
      EXPECT_EQ(0, d.get());
    }
    EXPECT_EQ(0, XaThr_LiveWorkers());
  }
}

TEST_F(XaRoute, AnUnthreadedContextRunsEverythingOnTheCaller) {
  AgentHandle c = NewConn(), s = NewStmt(c);
  ASSERT_EQ(XA_OK, ops_->DRV_XaOpen(c, 0, "", 1, TMNOFLAGS));
  EXPECT_EQ(0, XaThr_LiveWorkers());
  CallAllXa(c);
  CallAllNonXa(c, s);
  for (const char* op : kXaOps) EXPECT_EQ(Me(), rec.ThreadOf(op)) << op;
  for (const char* op : kNonXaOps) EXPECT_EQ(Me(), rec.ThreadOf(op)) << op;
}

}  // namespace
