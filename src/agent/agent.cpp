#include "agent/agent.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

#include "util/errcodes.h"

namespace kx {

bool AgentSlotEmpty(const AgentOps* ops, int slot) {
  if (ops == nullptr || slot < 0 || slot >= AGENT_OP_SLOTS) return true;
  void* fn;
  std::memcpy(&fn, reinterpret_cast<const unsigned char*>(ops) + slot * sizeof(void*), sizeof fn);
  return fn == nullptr;
}

int SCS_GetInfoType(AgentBinding* binding, uint32_t connHandle, uint16_t infoType, void* out,
                    int16_t capacity, int16_t* length) {
  static const uint16_t kIntTypes[] = {
      SQL_FETCH_DIRECTION,    SQL_DEFAULT_TXN_ISOLATION, SQL_IDENTIFIER_CASE,
      SQL_SCROLL_CONCURRENCY, SQL_SCROLL_OPTIONS,        SQL_TXN_ISOLATION_OPTION,
      SQL_LOCK_TYPES,         SQL_POS_OPERATIONS,        SQL_POSITIONED_STATEMENTS,
      SQL_BOOKMARK_PERSISTENCE, SQL_STATIC_SENSITIVITY,  SQL_QUOTED_IDENTIFIER_CASE,
      SQL_MAX_COLUMNS_IN_ORDER_BY};
  static const uint16_t kTextTypes[] = {SQL_ROW_UPDATES, SQL_DBMS_NAME, SQL_IDENTIFIER_QUOTE_CHAR,
                                        SQL_USER_NAME};
  if (binding == nullptr) return KX_ERR_NOT_SUPPORTED;
  for (uint16_t t : kIntTypes) {
    if (t != infoType) continue;
    int32_t value = 0;
    uint16_t got = 0;
    int32_t rc = AgentCall(*binding, &AgentOps::DRV_GetProperty, connHandle,
                           AP_CONN_GETINFO_INT + infoType, static_cast<void*>(&value),
                           static_cast<uint16_t>(4), &got);
    if (rc != 0) return rc;
    if (capacity < 4) return KX_ERR_BAD_ARGUMENT;
    if (out != nullptr) std::memcpy(out, &value, 4);
    if (length != nullptr) *length = 4;
    return 0;
  }
  for (uint16_t t : kTextTypes) {
    if (t != infoType) continue;
    char text[256] = {};
    uint16_t got = 0;
    int32_t rc = AgentCall(*binding, &AgentOps::DRV_GetProperty, connHandle,
                           AP_CONN_GETINFO_TEXT + infoType, static_cast<void*>(text),
                           static_cast<uint16_t>(sizeof text), &got);
    if (rc != 0) return rc;
    text[sizeof text - 1] = '\0';
    const size_t len = std::strlen(text);
    if (length != nullptr) *length = static_cast<int16_t>(len);
    auto* target = static_cast<char*>(out);
    if (static_cast<int64_t>(len) >= capacity) {
      // Cut to what fits, terminated, so the caller never reads past the copy.
      if (target != nullptr && capacity > 0) {
        std::memcpy(target, text, static_cast<size_t>(capacity - 1));
        target[capacity - 1] = '\0';
      }
      return KX_ERR_DATA_TRUNCATED;
    }
    if (target != nullptr) std::memcpy(target, text, len + 1);
    return 0;
  }
  return KX_ERR_BAD_OPTION;
}

// ---- row-status sets ------------------------------------------------------------

int RowStatusSetInit(RowStatusSet* set, int32_t n) {
  if (set == nullptr || n <= 0) return KX_ERR_GENERAL;
  *set = RowStatusSet{};
  auto* statuses = static_cast<int16_t*>(std::malloc(sizeof(int16_t) * static_cast<size_t>(n)));
  if (statuses == nullptr) return KX_ERR_NOMEM;
  for (int32_t i = 0; i < n; ++i) statuses[i] = SCS_ROW_NOROW;
  auto* rows = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (rows == nullptr || RB_InitColumns(rows, 0) != 0) {
    std::free(rows);
    std::free(statuses);
    return KX_ERR_NOMEM;
  }
  set->statuses = statuses;
  set->rows = rows;
  set->count = n;
  return 0;
}

int RowStatusSetNew(RowStatusSet** out, int32_t n) {
  if (out == nullptr || n <= 0) return KX_ERR_GENERAL;
  auto* set = static_cast<RowStatusSet*>(std::calloc(1, sizeof(RowStatusSet)));
  if (set == nullptr) return KX_ERR_NOMEM;
  int rc = RowStatusSetInit(set, n);
  if (rc != 0) {
    std::free(set);
    return rc;
  }
  *out = set;
  return 0;
}

void RowStatusSetClear(RowStatusSet* set) {
  if (set == nullptr) return;
  if (set->rows != nullptr) {
    RB_Free(set->rows);
    std::free(set->rows);
  }
  std::free(set->statuses);
  *set = RowStatusSet{};
}

void RowStatusSetFree(RowStatusSet** set) {
  if (set == nullptr) return;
  if (*set != nullptr) {
    RowStatusSetClear(*set);
    std::free(*set);
  }
  *set = nullptr;
}

}  // namespace kx
