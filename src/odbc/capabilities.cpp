#include "odbc/capabilities.h"

#include <sqlext.h>

namespace kx {

namespace {
const AgentOps* OpsOf(const ConnRecord* conn) {
  return conn != nullptr ? conn->binding.ops : nullptr;
}
}  // namespace

bool CapRowsets(const ConnRecord* conn, const AgentOps* ops) {
  if (conn == nullptr || !conn->cn_hasScrlCurs || ops == nullptr) return false;
  return conn->cn_hasDynMixCurs ? ops->DRV_FetchScroll != nullptr : ops->DRV_ExtendedFetch != nullptr;
}

bool CapSetPos(const ConnRecord* conn, const AgentOps* ops) {
  return CapRowsets(conn, ops) && ops->DRV_SetPos != nullptr;
}

bool CapBulkOperations(const ConnRecord* conn, const AgentOps* ops) {
  return CapSetPos(conn, ops) && ops->DRV_BulkOperations != nullptr;
}

uint32_t CapCutInfo(const ConnRecord* conn, uint16_t type, uint32_t answer) {
  const AgentOps* ops = OpsOf(conn);
  const bool setPos = CapSetPos(conn, ops);
  switch (type) {
    case SQL_POS_OPERATIONS:
    case SQL_LOCK_TYPES:
      return setPos ? answer : 0;
    case SQL_BOOKMARK_PERSISTENCE:
      // Bookmarks live only in a scrollable rowset, and they outlast only the
      // operations the driver carries out.
      if (!CapRowsets(conn, ops)) return 0;
      return setPos ? answer : answer & ~static_cast<uint32_t>(SQL_BP_DELETE | SQL_BP_UPDATE);
    case SQL_GETDATA_EXTENSIONS: {
      // The core reads bound columns through SQLGetData as well.
      const uint32_t withBound = answer | SQL_GD_BOUND;
      return setPos && CapRowsets(conn, ops) ? withBound : withBound & ~static_cast<uint32_t>(SQL_GD_BLOCK);
    }
    default:
      return answer;
  }
}

}  // namespace kx
