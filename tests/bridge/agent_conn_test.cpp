// The agent's operation table, its registration and messages, and agent
// connections, all through the AgentOps slots.
#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "drv_jdbc/j_records.h"
#include "drv_jdbc/j_serv.h"
#include "odbc/connstr.h"
#include "util/handle_table.h"

#include <cstdio>
#include <unistd.h>

namespace kxtest {
namespace {

using namespace kx;

TEST(AgentTable, RegistrationInstallsTheAgentReentrant) {
  AgentBinding binding{};
  EXPECT_EQ(0, JDB_Register(&binding));
  EXPECT_EQ(AB_REENTRANT, binding.flags);
  ASSERT_NE(nullptr, binding.ops);
  // Without the cursor and XA layers the binding holds the agent's own table.
  EXPECT_EQ(JDB_AgentOps(), binding.ops);
  const AgentOps* ops = binding.ops;
  // The agent's own slots of the main road are filled, the cursor layer's empty.
  const void* filled[] = {reinterpret_cast<void*>(ops->DRV_GetMessages),
                          reinterpret_cast<void*>(ops->DRV_AllocServer),
                          reinterpret_cast<void*>(ops->DRV_Connect),
                          reinterpret_cast<void*>(ops->DRV_Prepare),
                          reinterpret_cast<void*>(ops->DRV_FetchBlock),
                          reinterpret_cast<void*>(ops->DRV_MoreResults),
                          reinterpret_cast<void*>(ops->DRV_ExecDirect),
                          reinterpret_cast<void*>(ops->DRV_DescribeColsEx),
                          reinterpret_cast<void*>(ops->DRV_Cancel)};
  for (const void* p : filled) EXPECT_NE(nullptr, p);
  for (int slot = 0; slot <= 35; ++slot) EXPECT_FALSE(AgentSlotEmpty(ops, slot)) << "slot " << slot;
  for (int slot : {36, 37, 38, 39, 40, 41, 42, 44, 45, 46, 47, 48, 49, 50, 52, 54, 65}) {
    EXPECT_TRUE(AgentSlotEmpty(ops, slot)) << "slot " << slot;
  }
}

TEST(AgentTable, SmallOperationsAnswerByHandle) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("agtab")) << AgentMessages(a.ops, a.server);
  OpTable t{2, 0, nullptr};
  EXPECT_EQ(43, a.ops->GetOpTable(a.conn, &t));
  t.type = 1;
  EXPECT_EQ(21, a.ops->GetOpTable(0x12345678, &t));
  ASSERT_EQ(0, a.ops->GetOpTable(a.conn, &t));
  ASSERT_EQ(9, t.count);
  EXPECT_EQ(1, t.rows[0].sqlType);
  EXPECT_EQ(32767, t.rows[0].maxLength);
  EXPECT_EQ(-2, t.rows[8].sqlType);
  EXPECT_EQ(0x282800u, t.rows[7].mask);

  AgentHandle s = a.Stmt();
  EXPECT_EQ(43, a.ops->DRV_Reserved14(s, 0, 0, nullptr));
  EXPECT_EQ(0, a.ops->DRV_Cancel(s));
  EXPECT_EQ(21, a.ops->DRV_Cancel(s + 77));
  EXPECT_EQ(0, JDB_NoOp(s));

  AgentMsgBlock none{};
  none.code = 99;
  EXPECT_EQ(0, a.ops->DRV_GetMessages(s, &none));
  EXPECT_EQ(0u, none.count);
  EXPECT_EQ(nullptr, none.texts);
  EXPECT_EQ(21, a.ops->DRV_GetMessages(0x7777FFFF, &none));
  EXPECT_EQ(0, a.ops->DRV_FreeStmt(s));
}

TEST(AgentTable, MessagesAreTaggedAndHandedOutOnce) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("agmsg")) << AgentMessages(a.ops, a.server);
  AgentHandle s = a.Stmt();
  JStmt* rec = static_cast<JStmt*>(HT_Lookup(&JDB_StmtTable, s));
  ASSERT_NE(nullptr, rec);
  rec->msgs.keep = 1;
  JDB_MsgAppend(&rec->msgs, JDB_MsgNew("first", 42, "HY000"));
  JDB_MsgAppend(&rec->msgs, JDB_MsgNew("", 0, "01000"));
  AgentMsgBlock b{};
  ASSERT_EQ(0, a.ops->DRV_GetMessages(s, &b));
  ASSERT_EQ(2u, b.count);
  EXPECT_EQ(42, b.code);
  EXPECT_STREQ("[Skerrin Edition]first[SQLSTATE:HY000]", b.texts[0]);
  EXPECT_EQ(nullptr, b.texts[1]);  // an empty text leaves its entry empty
  StrListFree(&b);
  AgentMsgBlock again{};
  ASSERT_EQ(0, a.ops->DRV_GetMessages(s, &again));
  EXPECT_EQ(0u, again.count);
  a.ops->DRV_FreeStmt(s);
}

TEST(AgentConnect, H2ConnectCommitRollbackDisconnect) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("agconn")) << AgentMessages(a.ops, a.server);
  JConn* c = static_cast<JConn*>(HT_Lookup(&JDB_ConnTable, a.conn));
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(1, c->unicodeClient);
  EXPECT_EQ(1, c->preparedDescribe);
  EXPECT_STREQ("com/informix/jdbcx/IfxDataSource", c->classList);
  EXPECT_STREQ("com/informix/jdbcx/IfxXADataSource", c->xaDsClass);
  EXPECT_EQ(0, a.ops->DRV_Commit(a.conn));
  EXPECT_EQ(0, a.ops->DRV_Rollback(a.conn));
  EXPECT_EQ(21, a.ops->DRV_Commit(a.conn + 1));

  char out[64];
  uint32_t len = 0;
  EXPECT_EQ(0, a.ops->DRV_NativeSql(a.conn, "SELECT 1", out, sizeof out, &len));
  EXPECT_STREQ("SELECT 1", out);
  EXPECT_EQ(8u, len);
  // A cut translation still tells its whole length.
  EXPECT_EQ(19, a.ops->DRV_NativeSql(a.conn, "SELECT 12345", out, 5, &len));
  EXPECT_STREQ("SELE", out);
  EXPECT_EQ(12u, len);

  // Disconnect frees the connection's statements with it.
  AgentHandle s1 = a.Stmt();
  AgentHandle s2 = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(s1, "SELECT 1"));
  EXPECT_EQ(0, a.ops->DRV_Disconnect(a.conn));
  EXPECT_EQ(21, a.ops->DRV_FreeStmt(s1));
  EXPECT_EQ(21, a.ops->DRV_Execute(s2));
  EXPECT_EQ(21, a.ops->DRV_Disconnect(a.conn));
  a.conn = 0;
}

TEST(AgentConnect, InitialSqlFileRunsAndItsFailuresStayOnTheConnection) {
  std::string path = "/tmp/" + Unique("kx_agent_init") + ".sql";
  std::string t = Unique("t_init");
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fprintf(f, "# set-up\nCREATE TABLE %s (a INT);\nINSERT INTO %s\n  VALUES (7);\n"
                  "SELEKT nonsense;\n",
               t.c_str(), t.c_str());
  std::fclose(f);
  AgentSession a;
  a.connOptions.initSql = strdup(path.c_str());
  int rc = a.ConnectH2("aginit");
  std::remove(path.c_str());
  ASSERT_EQ(0, rc) << AgentMessages(a.ops, a.server);
  EXPECT_EQ(nullptr, a.connOptions.initSql);  // the connection took the text over
  std::string msgs = AgentMessages(a.ops, a.conn);
  EXPECT_NE(std::string::npos, msgs.find("SELEKT")) << msgs;
  AgentHandle q = a.Stmt();
  std::string sel = "SELECT a FROM " + t;
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sel.c_str())) << AgentMessages(a.ops, q);
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);  // a prepare only describes
  Block b;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 5, &b.rb));
  ASSERT_EQ(1, b.rb.rowCount);
  EXPECT_EQ(7, b.Get<int32_t>(0, 0));
  a.ops->DRV_FreeStmt(q);
}

TEST(AgentConnect, WideAndNarrowClients) {
  AgentSession w, n;
  ASSERT_EQ(0, w.ConnectH2("agwide", true));
  ASSERT_EQ(0, n.ConnectH2("agnarrow", false));
  EXPECT_EQ(1, static_cast<JConn*>(HT_Lookup(&JDB_ConnTable, w.conn))->unicodeClient);
  EXPECT_EQ(0, static_cast<JConn*>(HT_Lookup(&JDB_ConnTable, n.conn))->unicodeClient);
}

TEST(AgentConnect, FailuresLeaveTheDriversReasonOnTheServer) {
  AgentSession a;
  // No property list: nothing to connect to (08001, not a memory failure).
  EXPECT_EQ(50, a.Connect(""));
  EXPECT_EQ(0u, a.conn);
  std::string none = AgentMessages(a.ops, a.server);
  EXPECT_NE(std::string::npos, none.find("URL")) << none;
  EXPECT_NE(std::string::npos, none.find("[SQLSTATE:08001]")) << none;
  // A database the driver refuses: its own text and SQLSTATE.
  int rc = a.Connect("URL={jdbc:h2:mem:x;NO_SUCH_SETTING=1}");
  EXPECT_NE(0, rc);
  EXPECT_EQ(0u, a.conn);
  std::string msgs = AgentMessages(a.ops, a.server);
  EXPECT_NE(std::string::npos, msgs.find("[Skerrin Edition]")) << msgs;
  EXPECT_NE(std::string::npos, msgs.find("NO_SUCH_SETTING")) << msgs;
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:")) << msgs;
  EXPECT_EQ(21, a.ops->DRV_Connect(a.server + 1, nullptr, &a.conn));
}

TEST(AgentConnect, PostgreSqlWrongPasswordGivesTheServersAnswer) {
  std::string props, user, password;
  ASSERT_TRUE(PgProps(&props, &user, &password));
  AgentSession a;
  EXPECT_NE(0, a.Connect(props, user, password + "-wrong"));
  std::string msgs = AgentMessages(a.ops, a.server);
  EXPECT_NE(std::string::npos, msgs.find("[SQLSTATE:28P01]")) << msgs;
  EXPECT_EQ(std::string::npos, msgs.find(password + "-wrong")) << "the password leaked";
}

}  // namespace
}  // namespace kxtest
