// The agent's XA operations under the XA routing layer, against PostgreSQL
// (two-phase commit with pg_prepared_xacts) and H2: branches prepared,
// recovered, committed, rolled back and committed in one phase, statement
// work inside a branch running on the connection's worker thread, and the
// X/Open codes of what a database refuses.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_fixture.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_records.h"
#include "agent/agent_xa.h"
#include "xa/xa_route.h"

namespace kxtest {
namespace {

using namespace kx;

// The thread each operation last ran on, recorded by a shim between the
// layer and the agent (thread ids are reused; these numbers are not).
std::atomic<int> g_serial{0};
int Me() {
  thread_local int serial = ++g_serial;
  return serial;
}
std::mutex g_lock;
std::map<std::string, int> g_threadOf;
void Note(const char* op) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_threadOf[op] = Me();
}
int ThreadOf(const char* op) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_threadOf.find(op);
  return it != g_threadOf.end() ? it->second : 0;
}

const AgentOps& Agent() { return *JDB_AgentOps(); }

// The agent's table with a few slots noting their thread.
AgentOps MakeShim() {
  AgentOps t = Agent();
  t.DRV_Prepare = [](AgentHandle s, const char* sql) {
    Note("Prepare");
    return Agent().DRV_Prepare(s, sql);
  };
  t.DRV_Execute = [](AgentHandle s) {
    Note("Execute");
    return Agent().DRV_Execute(s);
  };
  t.DRV_XaOpen = [](AgentHandle c, int threaded, const char* info, int rmid, long flags) {
    Note("XaOpen");
    return Agent().DRV_XaOpen(c, threaded, info, rmid, flags);
  };
  t.DRV_XaStart = [](AgentHandle c, XID* xid, int rmid, long flags) {
    Note("XaStart");
    return Agent().DRV_XaStart(c, xid, rmid, flags);
  };
  return t;
}

// The table as the driver installs it: the routing layer on top.
const AgentOps* Layered() {
  static const AgentOps shim = MakeShim();
  static AgentBinding binding{AB_REENTRANT, &shim};
  static const bool bound = XaThr_Bind(&binding) == 0;
  return bound ? binding.ops : nullptr;
}

// Branches of these tests: one format, one branch qualifier.
XID BranchXid(const std::string& gtrid) { return MakeXid(0x4B58, gtrid, "b1"); }

bool SameXid(const XID& a, const XID& b) {
  return a.formatID == b.formatID && a.gtrid_length == b.gtrid_length &&
         a.bqual_length == b.bqual_length &&
         std::memcmp(a.data, b.data, static_cast<size_t>(a.gtrid_length + a.bqual_length)) == 0;
}

// PostgreSQL's name of a prepared branch: format, then gtrid and bqual in base64.
std::string Base64(const std::string& in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = uint8_t(in[i]) << 16 | uint8_t(in[i + 1]) << 8 | uint8_t(in[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += k[(v >> s) & 63];
  }
  if (i + 1 == in.size()) {
    uint32_t v = uint8_t(in[i]) << 16;
    out += std::string{k[v >> 18], k[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    uint32_t v = uint8_t(in[i]) << 16 | uint8_t(in[i + 1]) << 8;
    out += std::string{k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
  }
  return out;
}
std::string PgGid(const XID& x) {
  std::string g(x.data, static_cast<size_t>(x.gtrid_length));
  std::string b(x.data + x.gtrid_length, static_cast<size_t>(x.bqual_length));
  return std::to_string(x.formatID) + "_" + Base64(g) + "_" + Base64(b);
}

// The first value of a one-row query, as text ("" for no row).
std::string Scalar(AgentSession& s, const std::string& sql) {
  AgentHandle q = s.Stmt();
  std::string out;
  int rc = s.ops->DRV_Prepare(q, sql.c_str());
  if (rc == 0) rc = s.ops->DRV_Execute(q);
  Block b;
  if (rc == 0) rc = s.ops->DRV_FetchBlock(q, 1, &b.rb);
  EXPECT_EQ(0, rc) << sql << "\n" << AgentMessages(s.ops, q);
  if (rc == 0 && b.rb.rowCount > 0) out = b.Text(0, 0);
  s.ops->DRV_FreeStmt(q);
  return out;
}

// Lists the resource manager's prepared branches in one scan.
std::vector<XID> Recover(const AgentOps* ops, AgentHandle conn) {
  std::vector<XID> all(200);
  int32_t n = ops->DRV_XaRecover(conn, all.data(), 200, 1, TMSTARTRSCAN | TMENDRSCAN);
  EXPECT_GE(n, 0) << AgentMessages(ops, conn);
  all.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return all;
}

bool Listed(const std::vector<XID>& list, const XID& x) {
  for (const XID& r : list) {
    if (SameXid(r, x)) return true;
  }
  return false;
}

class XaPg : public ::testing::Test {
 protected:
  void SetUp() override {
    ops_ = Layered();
    ASSERT_NE(nullptr, ops_);
    xa_.ops = ops_;
    ASSERT_TRUE(xa_.ConnectPg());
    ASSERT_TRUE(peer_.ConnectPg());
    table_ = Unique("kx_xa_pg");
    peer_.Exec("DROP TABLE IF EXISTS " + table_);
    peer_.Exec("CREATE TABLE " + table_ + " (id int)");
    ASSERT_EQ(XA_OK, ops_->DRV_XaOpen(xa_.conn, 1, "", 1, TMNOFLAGS)) << Messages();
  }
  void TearDown() override { peer_.Exec("DROP TABLE IF EXISTS " + table_); }
  std::string Messages() { return AgentMessages(ops_, xa_.conn); }
  // start, INSERT, end(TMSUCCESS) on the XA connection.
  void Branch(XID* xid, int id) {
    ASSERT_EQ(XA_OK, ops_->DRV_XaStart(xa_.conn, xid, 1, TMNOFLAGS)) << Messages();
    xa_.Exec("INSERT INTO " + table_ + " VALUES (" + std::to_string(id) + ")");
    ASSERT_EQ(XA_OK, ops_->DRV_XaEnd(xa_.conn, xid, 1, TMSUCCESS)) << Messages();
  }
  std::string Rows() { return Scalar(peer_, "SELECT CAST(COUNT(*) AS VARCHAR) FROM " + table_); }
  std::string Prepared(const XID& x) {
    return Scalar(peer_, "SELECT CAST(COUNT(*) AS VARCHAR) FROM pg_prepared_xacts WHERE gid = '" +
                             PgGid(x) + "'");
  }

  const AgentOps* ops_ = nullptr;
  AgentSession xa_;
  AgentSession peer_;
  std::string table_;
};

TEST_F(XaPg, APreparedBranchIsInvisibleUntilCommitAndRecoverListsIt) {
  XID xid = BranchXid(Unique("kx-commit"));
  Branch(&xid, 1);
  // The statement work of the branch ran on the connection's worker.
  const int worker = ThreadOf("XaOpen");
  EXPECT_NE(Me(), worker);
  EXPECT_EQ(worker, ThreadOf("XaStart"));
  EXPECT_EQ(worker, ThreadOf("Execute"));
  ASSERT_EQ(XA_OK, ops_->DRV_XaPrepare(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  EXPECT_EQ("1", Prepared(xid));
  EXPECT_EQ("0", Rows());
  EXPECT_TRUE(Listed(Recover(ops_, xa_.conn), xid));
  ASSERT_EQ(XA_OK, ops_->DRV_XaCommit(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  EXPECT_EQ("1", Rows());
  EXPECT_EQ("0", Prepared(xid));
  EXPECT_FALSE(Listed(Recover(ops_, xa_.conn), xid));
}

TEST_F(XaPg, RollbackOfAPreparedBranchLeavesNothing) {
  XID xid = BranchXid(Unique("kx-rollback"));
  Branch(&xid, 2);
  ASSERT_EQ(XA_OK, ops_->DRV_XaPrepare(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  EXPECT_EQ("1", Prepared(xid));
  ASSERT_EQ(XA_OK, ops_->DRV_XaRollback(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  EXPECT_EQ("0", Prepared(xid));
  EXPECT_EQ("0", Rows());
  // The branch is gone: a second commit names no branch.
  EXPECT_EQ(XAER_NOTA, ops_->DRV_XaCommit(xa_.conn, &xid, 1, TMNOFLAGS));
}

TEST_F(XaPg, OnePhaseCommitNeedsNoPrepare) {
  XID xid = BranchXid(Unique("kx-onephase"));
  Branch(&xid, 3);
  ASSERT_EQ(XA_OK, ops_->DRV_XaCommit(xa_.conn, &xid, 1, TMONEPHASE)) << Messages();
  EXPECT_EQ("1", Rows());
  EXPECT_EQ("0", Prepared(xid));
}

TEST_F(XaPg, ForgetAndRefusedRequestsAnswerXOpenCodes) {
  // PostgreSQL keeps no heuristic outcomes: forget names no branch.
  XID xid = BranchXid(Unique("kx-forget"));
  EXPECT_EQ(XAER_NOTA, ops_->DRV_XaForget(xa_.conn, &xid, 1, TMNOFLAGS));
  EXPECT_NE("", Messages());
  // Suspending a branch is refused by the database; the branch itself lives on.
  ASSERT_EQ(XA_OK, ops_->DRV_XaStart(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  EXPECT_GT(0, ops_->DRV_XaEnd(xa_.conn, &xid, 1, TMSUSPEND));
  ASSERT_EQ(XA_OK, ops_->DRV_XaEnd(xa_.conn, &xid, 1, TMSUCCESS)) << Messages();
  ASSERT_EQ(XA_OK, ops_->DRV_XaRollback(xa_.conn, &xid, 1, TMNOFLAGS)) << Messages();
  // Asynchronous requests are refused by every operation.
  int handle = 0, result = 0;
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaStart(xa_.conn, &xid, 1, TMASYNC));
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaRecover(xa_.conn, &xid, 1, 1, TMSTARTRSCAN | TMASYNC));
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaComplete(xa_.conn, &handle, &result, 1, TMNOFLAGS));
  // A recover that never started a scan has nothing to continue.
  EXPECT_EQ(XAER_INVAL, ops_->DRV_XaRecover(xa_.conn, &xid, 1, 1, TMNOFLAGS));
}

TEST_F(XaPg, ASecondThreadsWorkRunsOnTheSameWorker) {
  XID xid = BranchXid(Unique("kx-thread"));
  const int worker = ThreadOf("XaOpen");
  std::thread other([&] { Branch(&xid, 4); });
  other.join();
  EXPECT_EQ(worker, ThreadOf("XaStart"));
  EXPECT_EQ(worker, ThreadOf("Prepare"));
  EXPECT_EQ(worker, ThreadOf("Execute"));
  ASSERT_EQ(XA_OK, ops_->DRV_XaCommit(xa_.conn, &xid, 1, TMONEPHASE)) << Messages();
  EXPECT_EQ("1", Rows());
}

TEST_F(XaPg, XaCloseReturnsToAPlainConnectionOnTheCallersThread) {
  ASSERT_EQ(XA_OK, ops_->DRV_XaClose(xa_.conn, "", 1, TMNOFLAGS)) << Messages();
  xa_.Exec("INSERT INTO " + table_ + " VALUES (5)");
  EXPECT_EQ(Me(), ThreadOf("Execute"));
  EXPECT_EQ("1", Rows());  // autocommit, as at connect
  // Closing again does nothing; opening again works.
  EXPECT_EQ(XA_OK, ops_->DRV_XaClose(xa_.conn, "", 1, TMNOFLAGS));
  ASSERT_EQ(XA_OK, ops_->DRV_XaOpen(xa_.conn, 1, "", 1, TMNOFLAGS)) << Messages();
  XID xid = BranchXid(Unique("kx-reopen"));
  Branch(&xid, 6);
  ASSERT_EQ(XA_OK, ops_->DRV_XaCommit(xa_.conn, &xid, 1, TMONEPHASE)) << Messages();
  EXPECT_EQ("2", Rows());
}

TEST(XaPgWorker, DisconnectStopsTheWorker) {
  const AgentOps* ops = Layered();
  ASSERT_NE(nullptr, ops);
  {
    AgentSession a;
    a.ops = ops;
    ASSERT_TRUE(a.ConnectPg());
    ASSERT_EQ(XA_OK, ops->DRV_XaOpen(a.conn, 1, "", 1, TMNOFLAGS));
    a.Exec("SELECT 1");
    EXPECT_EQ(1, XaThr_LiveWorkers());
  }
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

// H2's XA data source: branches prepared (H2 holds one branch per XA
// connection at a time), recovered by pages and ended from one connection;
// what it refuses gives an X/Open error.
TEST(XaH2, BranchesPrepareRecoverInPagesAndCommit) {
  const AgentOps* ops = Layered();
  ASSERT_NE(nullptr, ops);
  std::string props = H2Props(Unique("kxxa"));
  std::vector<std::unique_ptr<AgentSession>> sessions;
  std::vector<XID> xids;
  for (int i = 0; i < 5; ++i) {
    sessions.push_back(std::make_unique<AgentSession>());
    AgentSession& s = *sessions.back();
    s.ops = ops;
    ASSERT_EQ(0, s.Connect(props)) << AgentMessages(ops, s.server);
    if (i == 0) s.Exec("CREATE TABLE T (ID INT)");
    ASSERT_EQ(XA_OK, ops->DRV_XaOpen(s.conn, 1, "", 1, TMNOFLAGS)) << AgentMessages(ops, s.conn);
    XID x = BranchXid("kx-h2-" + std::to_string(i));
    ASSERT_EQ(XA_OK, ops->DRV_XaStart(s.conn, &x, 1, TMNOFLAGS)) << AgentMessages(ops, s.conn);
    s.Exec("INSERT INTO T VALUES (" + std::to_string(i) + ")");
    ASSERT_EQ(XA_OK, ops->DRV_XaEnd(s.conn, &x, 1, TMSUCCESS)) << AgentMessages(ops, s.conn);
    ASSERT_EQ(XA_OK, ops->DRV_XaPrepare(s.conn, &x, 1, TMNOFLAGS)) << AgentMessages(ops, s.conn);
    xids.push_back(x);
  }
  EXPECT_EQ(5, XaThr_LiveWorkers());
  AgentSession& a = *sessions[0];
  // Recover hands them out two at a time from one scan.
  XID page[2];
  std::vector<int32_t> sizes;
  std::vector<XID> seen;
  sizes.push_back(ops->DRV_XaRecover(a.conn, page, 2, 1, TMSTARTRSCAN));
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < sizes.back(); ++k) seen.push_back(page[k]);
    sizes.push_back(ops->DRV_XaRecover(a.conn, page, 2, 1, TMNOFLAGS));
  }
  EXPECT_EQ((std::vector<int32_t>{2, 2, 1, 0}), sizes);
  for (const XID& x : xids) EXPECT_TRUE(Listed(seen, x));
  EXPECT_EQ(0, ops->DRV_XaRecover(a.conn, page, 2, 1, TMENDRSCAN));
  EXPECT_EQ(XAER_INVAL, ops->DRV_XaRecover(a.conn, page, 2, 1, TMNOFLAGS));  // scan ended

  for (size_t i = 0; i < xids.size(); ++i) {
    AgentSession& s = *sessions[i];
    int32_t rc = i % 2 == 0 ? ops->DRV_XaCommit(s.conn, &xids[i], 1, TMNOFLAGS)
                            : ops->DRV_XaRollback(s.conn, &xids[i], 1, TMNOFLAGS);
    EXPECT_EQ(XA_OK, rc) << i << AgentMessages(ops, s.conn);
  }
  XID none[1];
  EXPECT_EQ(0, ops->DRV_XaRecover(a.conn, none, 1, 1, TMSTARTRSCAN | TMENDRSCAN));

  // H2 accepts forget, suspend and resume; it refuses a second branch on a
  // connection whose branch is prepared, with an X/Open code and a message.
  XID y = BranchXid("kx-h2-more"), z = BranchXid("kx-h2-second");
  EXPECT_EQ(XA_OK, ops->DRV_XaForget(a.conn, &y, 1, TMNOFLAGS));
  ASSERT_EQ(XA_OK, ops->DRV_XaStart(a.conn, &y, 1, TMNOFLAGS)) << AgentMessages(ops, a.conn);
  EXPECT_EQ(XA_OK, ops->DRV_XaEnd(a.conn, &y, 1, TMSUSPEND));
  EXPECT_EQ(XA_OK, ops->DRV_XaStart(a.conn, &y, 1, TMRESUME));
  EXPECT_EQ(XA_OK, ops->DRV_XaEnd(a.conn, &y, 1, TMSUCCESS));
  EXPECT_EQ(XA_OK, ops->DRV_XaPrepare(a.conn, &y, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_NOTA, ops->DRV_XaStart(a.conn, &z, 1, TMNOFLAGS));
  EXPECT_NE(std::string::npos, AgentMessages(ops, a.conn).find("XAException"));
  EXPECT_EQ(XA_OK, ops->DRV_XaRollback(a.conn, &y, 1, TMNOFLAGS));

  // Back on a plain connection the committed rows are there.
  ASSERT_EQ(XA_OK, ops->DRV_XaClose(a.conn, "", 1, TMNOFLAGS)) << AgentMessages(ops, a.conn);
  EXPECT_EQ("3", Scalar(a, "SELECT CAST(COUNT(*) AS VARCHAR) FROM T"));
  sessions.clear();
  EXPECT_EQ(0, XaThr_LiveWorkers());
}

// The agent's own table, with no routing layer: a connection without a
// routing context is never in XA mode.
TEST(XaAgent, WithoutTheLayerXaCloseDoesNothingAndRecoverNeedsAScan) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("kxxaplain")) << AgentMessages(a.ops, a.server);
  EXPECT_EQ(XA_OK, a.ops->DRV_XaClose(a.conn, "", 1, TMNOFLAGS));
  XID x{};
  EXPECT_EQ(XAER_INVAL, a.ops->DRV_XaRecover(a.conn, &x, 1, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, a.ops->DRV_XaRecover(a.conn, nullptr, 1, 1, TMSTARTRSCAN));
  EXPECT_EQ(XAER_INVAL, a.ops->DRV_XaRecover(a.conn, &x, -1, 1, TMSTARTRSCAN));
  EXPECT_EQ(XAER_INVAL, a.ops->DRV_XaOpen(0x0DBC7777, 1, "", 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, a.ops->DRV_XaStart(a.conn, nullptr, 1, TMNOFLAGS));
  a.Exec("SELECT 1");  // the plain connection is untouched
}

}  // namespace
}  // namespace kxtest
