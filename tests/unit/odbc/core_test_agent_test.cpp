// The test agent's scripted results, as the statement tests will read them.
#include <gtest/gtest.h>

#include <cstring>

#include "agent/agent.h"
#include "support/test_agent.h"
#include "util/row_buffer.h"

namespace kx {
namespace {

TEST(TestAgent, DescribesAndFetchesScriptedRows) {
  TestAgent_Reset();
  AgentBinding b{};
  ASSERT_EQ(JDB_Register(&b), 0);
  AgentServerOptions options{nullptr, nullptr, nullptr};
  AgentHandle server = 0, conn = 0, stmt = 0;
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_AllocServer, static_cast<const AgentServerOptions*>(&options),
                      &server), 0);
  ConnectBlock block{};
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_Connect, server, &block, &conn), 0);
  JDB_BrokerKnown = 1;
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_AllocStmt, conn, &stmt), 0);
  TestAgent_SetResult("ID:4,NAME:12", "1|one\n2|\\N\n3|three");
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_ExecDirect, stmt, "select", static_cast<RowBuffer*>(nullptr),
                      static_cast<uint16_t>(0), static_cast<const SCS_PARAMDESC*>(nullptr)), 0);
  uint16_t count = 0;
  AgentColDesc* cols = nullptr;
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_DescribeCols, stmt, &count, &cols), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(cols[1].name, "NAME");
  EXPECT_EQ(cols[0].sqlType, 4);
  RB_FreeColDescs(cols, count);

  RowBuffer rb{};
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_FetchBlock, stmt, static_cast<uint16_t>(2), &rb), 0);
  ASSERT_EQ(rb.rowCount, 2);
  EXPECT_STREQ(reinterpret_cast<char*>(rb.columns[1].data), "one");
  EXPECT_EQ(rb.columns[1].indicators[1], -1);
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_FetchBlock, stmt, static_cast<uint16_t>(2), &rb), 0);
  ASSERT_EQ(rb.rowCount, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(rb.columns[1].data), "three");
  ASSERT_EQ(AgentCall(b, &AgentOps::DRV_FetchBlock, stmt, static_cast<uint16_t>(2), &rb), 0);
  EXPECT_EQ(rb.rowCount, 0);
  RB_Free(&rb);
  char sql[32];
  EXPECT_EQ(TestAgent_LastSql(0, sql, sizeof sql), 6);
  EXPECT_STREQ(sql, "select");
  EXPECT_EQ(AgentCall(b, &AgentOps::DRV_FreeStmt, stmt), 0);
  EXPECT_EQ(AgentCall(b, &AgentOps::DRV_Disconnect, conn), 0);
  EXPECT_EQ(AgentCall(b, &AgentOps::DRV_FreeServer, server), 0);
  EXPECT_EQ(TestAgent_LiveServers(), 0);
}

}  // namespace
}  // namespace kx
