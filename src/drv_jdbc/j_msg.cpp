#include "drv_jdbc/j_msg.h"
#include "util/errcodes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kx {

namespace {
char* CopyText(const char* text) {
  size_t n = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy != nullptr) std::memcpy(copy, text, n + 1);
  return copy;
}

void ClearUnlessKept(AgentMsgList* list) {
  if (list->keep == 0) JDB_MsgFreeList(list);
}
}  // namespace

int JDB_StatusForState(const char* sqlstate) {
  const AgentErrRow* rows = JDB_ErrTable();
  for (int i = 0; i < JDB_ERR_ROWS; ++i) {
    if (std::strncmp(rows[i].state, sqlstate, 5) == 0) return rows[i].code;
  }
  return KX_ERR_GENERAL;
}

AgentMsg* JDB_MsgNew(const char* text, int32_t native, const char* sqlstate) {
  auto* msg = static_cast<AgentMsg*>(std::calloc(1, sizeof(AgentMsg)));
  if (msg == nullptr) return nullptr;
  msg->sqlstate = CopyText(sqlstate != nullptr ? sqlstate : "");
  if (msg->sqlstate == nullptr) {
    std::free(msg);
    return nullptr;
  }
  msg->native = native;
  if (text != nullptr) {
    size_t n = strnlen(text, JDB_MSG_TEXT_MAX);
    std::memcpy(msg->text, text, n);
  }
  return msg;
}

AgentMsg* JDB_MsgFromCode(int code) {
  if (code < 0 || code >= JDB_ERR_ROWS) code = KX_ERR_GENERAL;
  const AgentErrRow& row = JDB_ErrTable()[code];
  return JDB_MsgNew(row.text, 0, row.state);
}

void JDB_MsgAppend(AgentMsgList* list, AgentMsg* msg) {
  if (list == nullptr || msg == nullptr) return;
  msg->next = nullptr;
  AgentMsg** tail = &list->head;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = msg;
}

void JDB_MsgFreeList(AgentMsgList* list) {
  if (list == nullptr) return;
  AgentMsg* msg = list->head;
  while (msg != nullptr) {
    AgentMsg* next = msg->next;
    std::free(msg->sqlstate);
    std::free(msg);
    msg = next;
  }
  list->head = nullptr;
}

void JDB_MsgAddCode(AgentMsgList* list, int code) {
  if (list == nullptr) return;
  ClearUnlessKept(list);
  JDB_MsgAppend(list, JDB_MsgFromCode(code));
}

void JDB_MsgAddText(AgentMsgList* list, const char* text, int code) {
  if (list == nullptr) return;
  if (code < 0 || code >= JDB_ERR_ROWS) code = KX_ERR_GENERAL;
  ClearUnlessKept(list);
  JDB_MsgAppend(list, JDB_MsgNew(text, 0, JDB_ErrTable()[code].state));
}

void JDB_MsgAddSqlException(int* status, const char* sqlstate, char* text, int32_t native,
                            AgentMsgList* list) {
  if (sqlstate == nullptr || sqlstate[0] == '\0') sqlstate = "S1000";
  if (text != nullptr) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p != 0; ++p) {
      if (*p < 32) *p = ' ';
    }
  }
  if (list == nullptr) return;
  ClearUnlessKept(list);
  JDB_MsgAppend(list, JDB_MsgNew(text, native, sqlstate));
  if (status != nullptr && *status == 0) *status = JDB_StatusForState(sqlstate);
}

namespace {

// Gives a message the state of a row of the agent's table, its text the
// row's text, ": " and then as much of the message's own text as fits.
void RestateAs(AgentMsg* m, const AgentErrRow& row) {
  char* state = CopyText(row.state);
  if (state == nullptr) return;
  std::free(m->sqlstate);
  m->sqlstate = state;
  char text[JDB_MSG_TEXT_MAX + 1];
  size_t n = 0;
  for (const char* part : {row.text, ": ", static_cast<const char*>(m->text)}) {
    size_t k = std::min(std::strlen(part), static_cast<size_t>(JDB_MSG_TEXT_MAX) - n);
    std::memcpy(text + n, part, k);
    n += k;
  }
  text[n] = '\0';
  std::memcpy(m->text, text, n + 1);
}

}  // namespace

void JDB_MsgRestateInterrupt(AgentMsgList* list, int code) {
  if (list == nullptr || code <= 0 || code >= JDB_ERR_ROWS) return;
  const AgentErrRow& row = JDB_ErrTable()[code];
  for (AgentMsg* m = list->head; m != nullptr; m = m->next) {
    if (m->sqlstate == nullptr || std::strncmp(m->sqlstate, JDB_STATE_QUERY_CANCELED, 5) != 0) {
      continue;
    }
    RestateAs(m, row);
  }
}

void JDB_MsgRestateLostConnection(AgentMsgList* list) {
  if (list == nullptr) return;
  const AgentErrRow& row = JDB_ErrTable()[KX_ERR_COMM_LINK];
  for (AgentMsg* m = list->head; m != nullptr; m = m->next) {
    if (!JDB_StateLosesConnection(m->sqlstate) || std::strncmp(m->sqlstate, row.state, 5) == 0) continue;
    RestateAs(m, row);
  }
}

bool JDB_StateLosesConnection(const char* sqlstate) {
  if (sqlstate == nullptr) return false;
  if (std::strncmp(sqlstate, "08", 2) == 0) return true;
  // PostgreSQL's admin shutdown, crash shutdown and "cannot connect now".
  for (const char* shutdown : {"57P01", "57P02", "57P03"}) {
    if (std::strncmp(sqlstate, shutdown, 5) == 0) return true;
  }
  return false;
}

bool JDB_MsgListLosesConnection(const AgentMsgList* list) {
  if (list == nullptr) return false;
  for (const AgentMsg* m = list->head; m != nullptr; m = m->next) {
    if (JDB_StateLosesConnection(m->sqlstate)) return true;
  }
  return false;
}

}  // namespace kx
