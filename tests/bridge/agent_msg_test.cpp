// The agent's message lists: messages that say the connection is gone are
// restated as communication link failures, the database's words kept.
#include <gtest/gtest.h>

#include <string>

#include "drv_jdbc/j_msg.h"

namespace kx {
namespace {

TEST(AgentMessages, LostConnectionStatesBecomeCommunicationLinkFailures) {
  struct Case {
    const char* state;
    const char* text;
    const char* wantState;
    const char* wantText;
  } cases[] = {
      {"57P01", "FATAL: terminating connection due to administrator command", "08S01",
       "Communication link failure: FATAL: terminating connection due to administrator command"},
      {"08003", "This connection has been closed.", "08S01",
       "Communication link failure: This connection has been closed."},
      {"08006", "An I/O error occurred while sending to the backend.", "08S01",
       "Communication link failure: An I/O error occurred while sending to the backend."},
      // Already the state: left as it is; other states are no loss.
      {"08S01", "link down", "08S01", "link down"},
      {"42P01", "relation \"t\" does not exist", "42P01", "relation \"t\" does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    AgentMsgList list{};
    JDB_MsgAppend(&list, JDB_MsgNew(c.text, 7, c.state));
    JDB_MsgRestateLostConnection(&list);
    ASSERT_NE(list.head, nullptr);
    EXPECT_STREQ(list.head->sqlstate, c.wantState);
    EXPECT_STREQ(list.head->text, c.wantText);
    EXPECT_EQ(list.head->native, 7);
    JDB_MsgFreeList(&list);
  }
  // A text as long as a message holds is cut, never overrun.
  AgentMsgList list{};
  JDB_MsgAppend(&list, JDB_MsgNew(std::string(JDB_MSG_TEXT_MAX, 'x').c_str(), 0, "57P01"));
  JDB_MsgRestateLostConnection(&list);
  EXPECT_EQ(std::string(list.head->text).size(), static_cast<size_t>(JDB_MSG_TEXT_MAX));
  JDB_MsgFreeList(&list);
}

}  // namespace
}  // namespace kx
