// XA resource calls: a real branch on H2 (start, end, prepare, recover,
// commit) and scripted answers from a fake XAResource for the X/Open codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_connect.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "drv_jdbc/j_xa.h"

using namespace kx;
using kxtest::Conn;
using kxtest::Jni;
using kxtest::LocalFrame;
using kxtest::MakeXid;
using kxtest::Stmt;

namespace {

std::string Gtrid(const XID& x) { return std::string(x.data, static_cast<size_t>(x.gtrid_length)); }

TEST(Xa, BranchOnH2StartEndPrepareRecoverCommit) {
  Conn xa;
  LocalFrame frame(64);
  std::string props = kxtest::H2Props("xa1");
  jobject c = nullptr, xc = nullptr, xr = nullptr;
  ASSERT_EQ(0, JC_DataSource_getXAConnection(&xa.rec, &c, "com.informix.jdbcx.IfxXADataSource",
                                             props.c_str(), "", "", &xc, &xr))
      << xa.Messages();
  JNIEnv* env = Jni();
  xa.rec.conn = env->NewGlobalRef(c);
  xa.rec.xaConn = env->NewGlobalRef(xc);
  xa.rec.xaRes = env->NewGlobalRef(xr);
  xa.Exec("CREATE TABLE KX_XA (ID INT)");

  XID xid = MakeXid(0x4B58, "kx-global-1", "branch-1");
  ASSERT_EQ(XA_OK, JC_XAResource_start(&xa.rec, &xid, TMNOFLAGS)) << xa.Messages();
  xa.Exec("INSERT INTO KX_XA VALUES (1)");
  ASSERT_EQ(XA_OK, JC_XAResource_end(&xa.rec, &xid, TMSUCCESS)) << xa.Messages();
  ASSERT_EQ(XA_OK, JC_XAResource_prepare(&xa.rec, &xid)) << xa.Messages();
  ASSERT_EQ(XA_OK, JC_XAResource_recover(&xa.rec, TMSTARTRSCAN | TMENDRSCAN)) << xa.Messages();
  bool found = false;
  for (int i = 0; i < xa.rec.xaRecoverCount; ++i) {
    const XID& r = xa.rec.xaRecover[i];
    if (Gtrid(r) == "kx-global-1" && r.formatID == 0x4B58 && r.bqual_length == 8) found = true;
  }
  EXPECT_TRUE(found);
  std::free(xa.rec.xaRecover);
  xa.rec.xaRecover = nullptr;
  ASSERT_EQ(XA_OK, JC_XAResource_commit(&xa.rec, &xid, 0)) << xa.Messages();

  // The committed row is visible to another connection.
  Conn other;
  ASSERT_EQ(0, other.Open(props));
  Stmt st(other);
  ASSERT_EQ(0, st.Prepare("SELECT COUNT(*) FROM KX_XA"));
  jobject rs = st.ExecuteQuery();
  uint8_t more = 0;
  ASSERT_EQ(0, JC_ResultSet_next(&st.rec, rs, &more));
  int32_t count = 0;
  EXPECT_EQ(0, JC_ResultSet_getInt(&st.rec, rs, 1, &count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(0, JC_CallVoidMethod(env, xa.rec.xaConn, nullptr, "close", "()V"));
}

// A connection is worked on from several threads (the application's, its
// XA worker, a transaction manager's): each Java call through its record
// uses the environment of the thread that makes it, never one another
// thread left in the record (-Xcheck:jni ends the process for that).
TEST(Xa, EachThreadCallsJavaThroughAConnectionWithItsOwnEnvironment) {
  Conn xa;
  ASSERT_EQ(0, xa.Open(kxtest::H2Props("xaenv"))) << xa.Messages();
  xa.rec.jni = Jni();  // as an operation on this thread leaves it
  JNIEnv* mine = Jni();
  EXPECT_EQ(static_cast<JNIEnv*>(xa.rec.jni), mine);
  JNIEnv* other = nullptr;
  JNIEnv* seen = nullptr;
  bool lost = true;
  std::thread t([&] {
    other = JVM_AttachThread();
    seen = xa.rec.jni;
    // A Java call through the shared record, as an unrouted call makes it.
    lost = JC_Connection_isLost(&xa.rec);
  });
  t.join();
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, mine);
  EXPECT_EQ(seen, other);
  EXPECT_FALSE(lost) << xa.Messages();
  EXPECT_EQ(static_cast<JNIEnv*>(xa.rec.jni), mine);
}

class FakeXa : public ::testing::Test {
 protected:
  void SetUp() override {
    JNIEnv* env = Jni();
    ASSERT_NE(nullptr, env);
    jobject res = kxtest::NewProbe("kxprobe/FakeXAResource");
    ASSERT_NE(nullptr, res);
    conn_.rec.xaRes = env->NewGlobalRef(res);
    env->DeleteLocalRef(res);
  }
  std::string Calls() {
    LocalFrame frame;
    jobject log = nullptr;
    EXPECT_EQ(0, JC_CallObjectMethod(Jni(), conn_.rec.xaRes, nullptr, "calls",
                                     "()Ljava/lang/String;", &log));
    char* c = JC_StringToC(Jni(), static_cast<jstring>(log), JC_MODE_UTF8);
    std::string out = c != nullptr ? c : "";
    std::free(c);
    return out;
  }
  Conn conn_;
};

TEST_F(FakeXa, ResultsAndFlagsCrossUnchanged) {
  LocalFrame frame;
  XID ro = MakeXid(7, "g", "b");
  EXPECT_EQ(XA_RDONLY, JC_XAResource_prepare(&conn_.rec, &ro));
  XID x = MakeXid(1, "g", "b");
  EXPECT_EQ(XA_OK, JC_XAResource_commit(&conn_.rec, &x, TMONEPHASE));  // low byte 0
  EXPECT_EQ(XA_OK, JC_XAResource_commit(&conn_.rec, &x, 1));
  EXPECT_EQ(XA_OK, JC_XAResource_commit(&conn_.rec, &x, 0));
  EXPECT_EQ(XA_OK, JC_XAResource_start(&conn_.rec, &x, TMJOIN));
  EXPECT_EQ(XA_OK, JC_XAResource_end(&conn_.rec, &x, TMSUSPEND));
  EXPECT_EQ(XA_OK, JC_XAResource_rollback(&conn_.rec, &x));
  EXPECT_EQ(XA_OK, JC_XAResource_forget(&conn_.rec, &x));
  XID empty = MakeXid(1, "", "");
  EXPECT_EQ(XA_OK, JC_XAResource_end(&conn_.rec, &empty, TMSUCCESS));
  EXPECT_EQ(
      "prepare(7,g,b);commit:true(1,g,b);commit:true(1,g,b);commit:false(1,g,b);"
      "start:2097152(1,g,b);end:33554432(1,g,b);rollback(1,g,b);forget(1,g,b);"
      "end:67108864(1,,);",
      Calls());
  EXPECT_EQ(nullptr, conn_.rec.msgs.head);
}

TEST_F(FakeXa, FailuresKeepTheirXaCodeAndPostAMessage) {
  LocalFrame frame;
  struct Case {
    long format;
    int code;
    const char* text;
  } cases[] = {
      {99, XAER_NOTA, "XAException"},
      {55, 102, "XAException"},  // XA_RBDEADLOCK
      {66, XAER_RMERR, "resource broken"},
  };
  for (const Case& c : cases) {
    JDB_MsgFreeList(&conn_.rec.msgs);
    XID x = MakeXid(c.format, "g", "b");
    EXPECT_EQ(c.code, JC_XAResource_start(&conn_.rec, &x, TMNOFLAGS)) << c.format;
    ASSERT_NE(nullptr, conn_.rec.msgs.head) << c.format;
    EXPECT_NE(nullptr, std::strstr(conn_.rec.msgs.head->text, c.text)) << conn_.Messages();
    EXPECT_FALSE(Jni()->ExceptionCheck());
  }
  // Lengths outside 0..64 are refused before any byte is read.
  XID bad = MakeXid(1, "g", "b");
  bad.gtrid_length = 65;
  EXPECT_EQ(XAER_INVAL, JC_XAResource_commit(&conn_.rec, &bad, 0));
  bad.gtrid_length = -1;
  EXPECT_EQ(XAER_INVAL, JC_XAResource_prepare(&conn_.rec, &bad));
  bad.gtrid_length = 1;
  bad.bqual_length = 1000000;
  EXPECT_EQ(XAER_INVAL, JC_XAResource_rollback(&conn_.rec, &bad));
  EXPECT_EQ("", Calls());
  // No resource at all: a message, not a crash.
  Conn none;
  XID x = MakeXid(1, "g", "b");
  EXPECT_EQ(XAER_RMERR, JC_XAResource_start(&none.rec, &x, TMNOFLAGS));
  EXPECT_NE(nullptr, none.rec.msgs.head);
}

TEST_F(FakeXa, RecoverFillsTheCacheInOrderWithLengthsCut) {
  LocalFrame frame;
  ASSERT_EQ(XA_OK, JC_XAResource_recover(&conn_.rec, TMSTARTRSCAN));
  ASSERT_EQ(3, conn_.rec.xaRecoverCount);
  const XID* r = conn_.rec.xaRecover;
  EXPECT_EQ(1, r[0].formatID);
  EXPECT_EQ("g1", Gtrid(r[0]));
  EXPECT_EQ(2, r[1].formatID);
  EXPECT_EQ(64, r[1].gtrid_length);
  EXPECT_EQ(2, r[1].bqual_length);
  EXPECT_EQ(0, std::memcmp("b2", r[1].data + 64, 2));
  EXPECT_EQ(3, r[2].formatID);
  std::free(conn_.rec.xaRecover);
  conn_.rec.xaRecover = nullptr;
  conn_.rec.xaRecoverCount = 0;
  ASSERT_EQ(XA_OK, JC_XAResource_recover(&conn_.rec, TMENDRSCAN));
  EXPECT_EQ(0, conn_.rec.xaRecoverCount);
  EXPECT_EQ(nullptr, conn_.rec.xaRecover);
}

}  // namespace
