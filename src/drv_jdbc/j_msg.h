// Agent message lists: every agent record (environment, connection, statement)
// carries one list of diagnostics (SQLSTATE, vendor code, text) that the core
// later takes over. The agent's error table maps a status code to its SQLSTATE
// and text, and a Java SQLSTATE back to a status code.
#pragma once

#include <cstdint>

namespace kx {

constexpr int JDB_MSG_TEXT_MAX = 2047;  // bytes of text kept per message
constexpr int JDB_ERR_ROWS = 184;       // agent error table rows 0..183

struct AgentMsg {
  AgentMsg* next;                      // null at the tail
  int32_t native;                      // vendor code; 0 for the agent's own errors
  char text[JDB_MSG_TEXT_MAX + 1];     // NUL-terminated
  char* sqlstate;                      // heap copy
};

struct AgentMsgList {
  int32_t keep;    // 0: the next post first empties the list
  AgentMsg* head;  // posting order
};

struct AgentErrRow {
  char state[8];     // SQLSTATE, NUL-padded; empty for row 0 and unused rows
  int32_t code;      // the row number
  const char* text;  // message, "" when none
};

// The table, indexed by status code (JDB_ERR_ROWS rows).
const AgentErrRow* JDB_ErrTable();
// First row whose SQLSTATE matches the first five characters, else 15.
int JDB_StatusForState(const char* sqlstate);

AgentMsg* JDB_MsgNew(const char* text, int32_t native, const char* sqlstate);
AgentMsg* JDB_MsgFromCode(int code);
void JDB_MsgAppend(AgentMsgList* list, AgentMsg* msg);
void JDB_MsgFreeList(AgentMsgList* list);
void JDB_MsgAddCode(AgentMsgList* list, int code);
void JDB_MsgAddText(AgentMsgList* list, const char* text, int code);
// Posts a Java exception's message (control characters of text blanked in
// place) and, while *status is 0, sets it from the SQLSTATE.
void JDB_MsgAddSqlException(int* status, const char* sqlstate, char* text, int32_t native,
                            AgentMsgList* list);

// Whether a SQLSTATE says the connection itself is gone: class 08
// (connection exception) or the server's shutdown states 57P01 to 57P03.
bool JDB_StateLosesConnection(const char* sqlstate);
// Whether any message of list has such a state.
bool JDB_MsgListLosesConnection(const AgentMsgList* list);

// Restates every message of list whose SQLSTATE says the connection is gone
// as a communication link failure (08S01): what ODBC answers for any call on
// a connection that lost its database, from the failure itself (the
// server's 57P01, say) to every later call (the JDBC driver's 08003 "This
// connection has been closed"). The database's text follows the row's; the
// vendor code stays. A message that cannot be restated (no memory) stays as
// it was.
void JDB_MsgRestateLostConnection(AgentMsgList* list);

// The database's "query canceled" state (PostgreSQL and H2 alike): what a
// JDBC driver reports when its statement was cancelled or timed out.
constexpr char JDB_STATE_QUERY_CANCELED[] = "57014";

// Restates every message of list whose SQLSTATE is the database's "query
// canceled" as the row code of the agent's table (cancelled, or timeout
// expired): its state, its text ahead of the database's own. The vendor code
// stays. A message that cannot be restated (no memory) stays as it was.
void JDB_MsgRestateInterrupt(AgentMsgList* list, int code);

}  // namespace kx
