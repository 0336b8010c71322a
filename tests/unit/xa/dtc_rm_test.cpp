// The DTC-style resource manager without a database: dispensers over a
// recording agent table, driven by the test transaction manager (loaded as
// the driver loads it, through ZNT_DTC_LIBRARY) or through their
// ITransactionResourceAsync directly. What each phase sends as XA, the state
// it leaves, the call gate, the results reported to the manager, and the
// lifetime of dispensers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "agent/agent_xa.h"
#include "test_tm.h"
#include "xa/dtc_rm.h"

namespace {

using namespace kx;

// ---- a recording agent: the XA slots only ------------------------------------------------

struct Recorder {
  std::mutex lock;
  std::vector<std::string> calls;
  std::map<std::string, int> results;  // by operation; XA_OK when absent
  int lastOpenRmid = 0;
};
Recorder g_rec;

const char* FlagName(long flags) {
  switch (flags) {
    case TMNOFLAGS: return "";
    case TMSUCCESS: return ":TMSUCCESS";
    case TMFAIL: return ":TMFAIL";
    default: return ":?";
  }
}

int32_t Record(const char* op, long flags) {
  std::lock_guard<std::mutex> hold(g_rec.lock);
  g_rec.calls.push_back(std::string(op) + FlagName(flags));
  auto it = g_rec.results.find(op);
  return it != g_rec.results.end() ? it->second : XA_OK;
}

AgentOps MakeOps() {
  AgentOps ops{};
  ops.DRV_XaOpen = [](AgentHandle, int threaded, const char*, int rmid, long flags) {
    {
      std::lock_guard<std::mutex> hold(g_rec.lock);
      g_rec.lastOpenRmid = rmid;
    }
    return Record(threaded == 1 ? "open" : "open-unthreaded", flags);
  };
  ops.DRV_XaClose = [](AgentHandle, const char*, int, long flags) { return Record("close", flags); };
  ops.DRV_XaStart = [](AgentHandle, XID*, int, long flags) { return Record("start", flags); };
  ops.DRV_XaEnd = [](AgentHandle, XID*, int, long flags) { return Record("end", flags); };
  ops.DRV_XaPrepare = [](AgentHandle, XID*, int, long flags) { return Record("prepare", flags); };
  ops.DRV_XaCommit = [](AgentHandle, XID*, int, long flags) { return Record("commit", flags); };
  ops.DRV_XaRollback = [](AgentHandle, XID*, int, long flags) { return Record("rollback", flags); };
  return ops;
}
const AgentOps kOps = MakeOps();

using Calls = std::vector<std::string>;

class DtcRm : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDtcLibraryVariable, KX_TEST_TM_PATH, 1);
    ASSERT_EQ(DtcInit(), 0);
    Reset();
  }
  void TearDown() override {
    if (handle_ != nullptr) DtcRelease(handle_);
    if (tx_ != nullptr) TestTm_Release(tx_);
  }
  static void Reset() {
    std::lock_guard<std::mutex> hold(g_rec.lock);
    g_rec.calls.clear();
    g_rec.results.clear();
  }
  static Calls TakeCalls() {
    std::lock_guard<std::mutex> hold(g_rec.lock);
    Calls out;
    out.swap(g_rec.calls);
    return out;
  }
  static void Answer(const char* op, int rc) {
    std::lock_guard<std::mutex> hold(g_rec.lock);
    g_rec.results[op] = rc;
  }
  void* NewDispenser(const char* text = "DSN=;UID=u;PWD={p;w};") {
    return DtcNewDispenser(tx_, 1, 7, &binding_, &dtcLock_, &gate_, text);
  }
  // A dispenser enlisted in a new transaction (the branch active).
  void Enlist() {
    tx_ = TestTm_Begin();
    handle_ = NewDispenser();
    ASSERT_NE(handle_, nullptr);
    ASSERT_EQ(DtcRMConnect(handle_), 0);
    ASSERT_EQ(DtcRMEnlist(handle_), 0);
    ASSERT_EQ(TakeCalls(), (Calls{"open", "start"}));
    ASSERT_EQ(DtcStateOf(handle_), DTC_RM_ACTIVE);
    ASSERT_EQ(TestTm_Enlisted(tx_), 1);
  }
  // The dispenser's face towards the manager (one reference, given back by
  // the caller).
  ITransactionResourceAsync* Resource() {
    IOdbcResourceDispenser* d = nullptr;
    EXPECT_EQ(DtcFromHandle(handle_, &d), S_OK);
    void* out = nullptr;
    EXPECT_EQ(d->QueryInterface(IID_ITransactionResourceAsync, &out), S_OK);
    return static_cast<ITransactionResourceAsync*>(out);
  }


 public:  // the phase callbacks below look at them
  AgentBinding binding_{1, &kOps};
  std::recursive_mutex dtcLock_;
  CallGate gate_;
  ITransaction* tx_ = nullptr;
  void* handle_ = nullptr;
};

TEST_F(DtcRm, CommitRunsTheBranchToItsEndAndEachOutcomeLeavesItsState) {
  const struct {
    const char* what;
    int commitRc;
    HRESULT managerGets;
    int state;
  } cases[] = {
      {"ok", XA_OK, S_OK, DTC_RM_IDLE},
      {"heuristic commit", XA_HEURCOM, E_FAIL, DTC_RM_HEURISTIC},
      {"heuristic mix", XA_HEURMIX, E_FAIL, DTC_RM_HEURISTIC},
      {"retry", XA_RETRY, E_FAIL, DTC_RM_PREPARED},
      {"error", XAER_RMERR, E_FAIL, DTC_RM_IDLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Enlist();
    Answer("commit", c.commitRc);
    struct Between {
      DtcRm* test;
      bool held = false;
      int state = -1;
    } between{this};
    EXPECT_EQ(TestTm_Commit(tx_,
                            [](void* arg) {
                              auto* b = static_cast<Between*>(arg);
                              b->held = b->test->gate_.IsHeld();
                              b->state = DtcStateOf(b->test->handle_);
                            },
                            &between),
              c.managerGets);
    EXPECT_TRUE(between.held);
    EXPECT_EQ(between.state, DTC_RM_PREPARED);
    EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "prepare", "commit"}));
    EXPECT_EQ(DtcStateOf(handle_), c.state);
    // The gate is open again whatever the outcome, also after XA_RETRY.
    EXPECT_FALSE(gate_.IsHeld());
    // The manager has let go: the core's reference is the last.
    EXPECT_EQ(DtcInProgress(handle_), 0);
    EXPECT_EQ(DtcRelease(handle_), 0);
    handle_ = nullptr;
    EXPECT_EQ(TakeCalls(), Calls{"close"});
    TestTm_Release(tx_);
    tx_ = nullptr;
  }
}

TEST_F(DtcRm, AReadOnlyPrepareFinishesTheBranchWithoutHoldingTheGate) {
  Enlist();
  Answer("prepare", XA_RDONLY);
  ITransactionResourceAsync* r = Resource();
  EXPECT_EQ(r->PrepareRequest(0, 0, 0, 0), XACT_S_READONLY);
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "prepare"}));
  EXPECT_EQ(DtcStateOf(handle_), DTC_RM_IDLE);
  EXPECT_FALSE(gate_.IsHeld());
  r->Release();
}

TEST_F(DtcRm, AFailedPrepareAbortsAndAnAbortRollsBack) {
  Enlist();
  Answer("prepare", XAER_RMERR);
  EXPECT_EQ(TestTm_Commit(tx_, nullptr, nullptr), XACT_E_ABORTED);
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "prepare", "rollback"}));
  EXPECT_EQ(DtcStateOf(handle_), DTC_RM_IDLE);
  EXPECT_FALSE(gate_.IsHeld());
  TestTm_Release(tx_);

  // An abort of an active branch ends it first.
  Reset();
  tx_ = nullptr;
  DtcRelease(handle_);
  handle_ = nullptr;
  TakeCalls();
  Enlist();
  EXPECT_EQ(TestTm_Abort(tx_), S_OK);
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "rollback"}));
  EXPECT_EQ(DtcStateOf(handle_), DTC_RM_IDLE);
}

TEST_F(DtcRm, TheManagerGoingDownRollsBackAndLetsTheApplicationsCallsGo) {
  // Active: ended with TMFAIL and rolled back.
  Enlist();
  EXPECT_EQ(TestTm_Down(tx_), S_OK);
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMFAIL", "rollback"}));
  EXPECT_EQ(DtcStateOf(handle_), DTC_RM_IDLE);
  DtcRelease(handle_);
  handle_ = nullptr;
  TestTm_Release(tx_);
  tx_ = nullptr;
  TakeCalls();

  // Prepared: rolled back, and the gate opens (no outcome will come).
  Enlist();
  ITransactionResourceAsync* r = Resource();
  EXPECT_EQ(r->PrepareRequest(0, 0, 0, 0), S_OK);
  EXPECT_TRUE(gate_.IsHeld());
  EXPECT_EQ(r->TMDown(), S_OK);
  EXPECT_FALSE(gate_.IsHeld());
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "prepare", "rollback"}));
  r->Release();
}

TEST_F(DtcRm, DestroyingAnActiveDispenserEndsTheBranchBeforeClosing) {
  const int cookies = TestTm_LiveCookies();
  Enlist();
  EXPECT_EQ(TestTm_LiveCookies(), cookies + 1);
  // The transaction goes without an outcome; the manager lets go.
  EXPECT_EQ(DtcInProgress(handle_), 1);
  TestTm_Release(tx_);
  tx_ = nullptr;
  EXPECT_EQ(DtcInProgress(handle_), 0);
  EXPECT_EQ(DtcRelease(handle_), 0);
  handle_ = nullptr;
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMFAIL", "close"}));
  EXPECT_EQ(TestTm_LiveCookies(), cookies);
}

TEST_F(DtcRm, TheManagerSeesTheConnectTextTheDriverFileAndOneBranchPerCookie) {
  Enlist();
  char text[256], dll[256];
  TestTm_LastRm(text, sizeof text, dll, sizeof dll);
  EXPECT_STREQ(text, "DSN=;UID=u;PWD={p;w};");
  EXPECT_STREQ(dll, "test_xa");  // this program holds the code: its own file name, case kept
  // Resource-manager ids never repeat.
  const int first = DtcRmidOf(handle_);
  void* second = NewDispenser();
  ASSERT_EQ(DtcRMConnect(second), 0);
  EXPECT_NE(DtcRmidOf(second), first);
  EXPECT_GT(DtcRmidOf(second), 0);
  EXPECT_EQ(DtcRelease(second), 0);
}

TEST_F(DtcRm, FailuresOfConnectAndEnlistSayWhyAndLeaveNothingOpen) {
  char why[512];
  tx_ = TestTm_Begin();

  // No manager library named.
  unsetenv(kDtcLibraryVariable);
  handle_ = NewDispenser();
  EXPECT_EQ(DtcRMConnect(handle_), -1);
  DtcReason(handle_, why, sizeof why);
  EXPECT_NE(std::string(why).find("transaction manager not available"), std::string::npos) << why;
  EXPECT_NE(std::string(why).find(kDtcLibraryVariable), std::string::npos) << why;
  EXPECT_EQ(DtcRelease(handle_), 0);

  // A library that cannot be loaded.
  setenv(kDtcLibraryVariable, "/nonexistent/libtm.so", 1);
  handle_ = NewDispenser();
  EXPECT_EQ(DtcRMConnect(handle_), -1);
  DtcReason(handle_, why, sizeof why);
  EXPECT_NE(std::string(why).find("cannot load /nonexistent/libtm.so"), std::string::npos) << why;
  EXPECT_EQ(DtcRelease(handle_), 0);
  EXPECT_TRUE(TakeCalls().empty());

  // The database refuses XA.
  setenv(kDtcLibraryVariable, KX_TEST_TM_PATH, 1);
  Answer("open", XAER_RMERR);
  handle_ = NewDispenser();
  EXPECT_EQ(DtcRMConnect(handle_), -1);
  EXPECT_EQ(DtcRelease(handle_), 0);
  EXPECT_EQ(TakeCalls(), Calls{"open"});  // nothing to close

  // The branch cannot start: the dispenser stays idle, XA is closed at release.
  Reset();
  Answer("start", XAER_RMERR);
  handle_ = NewDispenser();
  EXPECT_EQ(DtcRMConnect(handle_), 0);
  EXPECT_EQ(DtcRMEnlist(handle_), -1);
  EXPECT_EQ(DtcStateOf(handle_), DTC_RM_IDLE);
  DtcReason(handle_, why, sizeof why);
  EXPECT_NE(std::string(why).find("start"), std::string::npos) << why;
  EXPECT_EQ(DtcRelease(handle_), 0);
  handle_ = nullptr;
  EXPECT_EQ(TakeCalls(), (Calls{"open", "start", "close"}));
  EXPECT_EQ(TestTm_Enlisted(tx_), 0);
}

TEST_F(DtcRm, HandlesInterfacesAndNames) {
  EXPECT_EQ(DtcRelease(nullptr), -1);
  EXPECT_EQ(DtcRMConnect(nullptr), -1);
  EXPECT_EQ(DtcRMEnlist(nullptr), -1);
  int notADispenser = 0;
  EXPECT_EQ(DtcRelease(&notADispenser), -1);
  EXPECT_EQ(DtcStateOf(&notADispenser), -1);
  IOdbcResourceDispenser* d = nullptr;
  EXPECT_EQ(DtcFromHandle(nullptr, &d), E_INVALIDARG);

  handle_ = NewDispenser();
  ASSERT_EQ(DtcFromHandle(handle_, &d), S_OK);
  void* out = &notADispenser;
  EXPECT_EQ(d->QueryInterface(IID_IDtcToXaHelperSinglePipe, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(d->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
  EXPECT_EQ(d->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, handle_);
  // The inner object shares the dispenser's count.
  ITransactionResourceAsync* r = Resource();
  EXPECT_EQ(r->AddRef(), 4u);
  EXPECT_EQ(r->Release(), 3u);
  r->Release();
  EXPECT_EQ(d->Release(), 1u);

  const struct {
    HRESULT hr;
    const char* name;
  } names[] = {{S_OK, "S_OK"},
               {XACT_S_READONLY, "XACT_S_READONLY"},
               {E_FAIL, "E_FAIL"},
               {XACT_E_TMNOTAVAILABLE, "XACT_E_TMNOTAVAILABLE"},
               {E_INVALIDARG, "E_INVALIDARG"},
               {E_ZNT_DSN2HNDL_FAIL, "E_ZNT_DSN2HNDL_FAIL"},
               {E_ZNT_XA_FAILED, "Unknown!"},
               {0x12345, "Unknown!"}};
  for (const auto& n : names) EXPECT_STREQ(DtcHResultName(n.hr), n.name) << n.hr;

  xa_switch_t* sw = nullptr;
  EXPECT_EQ(GetXaSwitch(0, &sw), S_OK);
  EXPECT_EQ(sw, znt_xa_switch());
  EXPECT_EQ(GetXaSwitch(0, nullptr), E_INVALIDARG);
}

TEST_F(DtcRm, UnloadEndsLiveDispensersWhichGoWithTheirLastReference) {
  Enlist();
  const int live = DtcLiveDispensers();
  DtcTerm();
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMFAIL", "rollback", "close"}));
  // Dead: no longer in progress for the core, but kept for the manager.
  EXPECT_EQ(DtcInProgress(handle_), 0);
  EXPECT_EQ(DtcRelease(handle_), 1);
  handle_ = nullptr;
  EXPECT_EQ(DtcLiveDispensers(), live);
  // The manager's late outcome touches the connection no more.
  EXPECT_EQ(TestTm_Abort(tx_), S_OK);
  EXPECT_TRUE(TakeCalls().empty());
  EXPECT_EQ(DtcLiveDispensers(), live - 1);
  EXPECT_FALSE(gate_.IsHeld());
}

// Unload between the two phases: the prepared branch is the manager's to
// decide, so it is neither ended nor rolled back; XA closes on the
// connection (the branch stays in doubt in the database) and the gate opens.
// The manager's commit that follows reaches a dead dispenser and fails.
TEST_F(DtcRm, UnloadLeavesAPreparedBranchInDoubt) {
  Enlist();
  auto unload = [](void*) { DtcTerm(); };
  EXPECT_NE(TestTm_Commit(tx_, unload, nullptr), S_OK);
  EXPECT_EQ(TakeCalls(), (Calls{"end:TMSUCCESS", "prepare", "close"}));
  EXPECT_FALSE(gate_.IsHeld());
  EXPECT_EQ(DtcInProgress(handle_), 0);
}

}  // namespace
