// The agent's error table: row n carries the SQLSTATE and text of the driver's
// error code n, so an agent status is directly a driver error code. It is made
// from the core's own table, so the two cannot drift apart; the core's last
// row is not the agent's.
#include "drv_jdbc/j_msg.h"
#include "util/errcodes.h"

namespace kx {

static_assert(JDB_ERR_ROWS <= kErrorCodeRows, "the agent's rows are rows of the core's table");

namespace {
struct Table {
  AgentErrRow rows[JDB_ERR_ROWS];
  Table() {
    for (int i = 0; i < JDB_ERR_ROWS; ++i) {
      AgentErrRow& row = rows[i];
      row = AgentErrRow{};
      row.code = i;
      const char* state = ErrorCodeTable[i].sqlstate != nullptr ? ErrorCodeTable[i].sqlstate : "";
      for (int k = 0; k < 5 && state[k] != '\0'; ++k) row.state[k] = state[k];
      row.text = ErrorCodeTable[i].message != nullptr ? ErrorCodeTable[i].message : "";
    }
  }
};
}  // namespace

const AgentErrRow* JDB_ErrTable() {
  static const Table table;
  return table.rows;
}

}  // namespace kx
