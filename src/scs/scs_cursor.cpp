// The emulation record of one statement and the services the layer shares.
#include "scs/scs_cursor.h"

#include <cstdlib>
#include <cstring>

#include <sqlext.h>

#include "util/errcodes.h"
#include "util/hash_table.h"
#include "util/log.h"

namespace kx {

namespace {

int32_t AskConnInt(AgentHandle conn, AgentPropertyId id, int32_t fallback) {
  int32_t v = 0;
  uint16_t length = 0;
  const int rc = AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_GetProperty, conn, id, static_cast<void*>(&v),
                           static_cast<uint16_t>(4), &length);
  return rc == 0 ? v : fallback;
}

bool InfoInt(AgentHandle conn, uint16_t type, int32_t* v) {
  int16_t length = 0;
  return SCS_GetInfoType(const_cast<AgentBinding*>(SCS_AgentBinding()), conn, type, v, 4, &length) == 0;
}

bool InfoText(AgentHandle conn, uint16_t type, char* text, int16_t capacity) {
  int16_t length = 0;
  text[0] = '\0';
  return SCS_GetInfoType(const_cast<AgentBinding*>(SCS_AgentBinding()), conn, type, text, capacity, &length) == 0;
}

}  // namespace

bool SCS_CopyConnOptions(AgentConnOptions* dst, const AgentConnOptions* src) {
  *dst = *src;
  dst->initSql = nullptr;
  dst->sqlDbmsName = nullptr;
  const char* texts[] = {src->initSql, src->sqlDbmsName};
  char** copies[] = {&dst->initSql, &dst->sqlDbmsName};
  for (size_t i = 0; i < 2; ++i) {
    if (texts[i] == nullptr) continue;
    *copies[i] = strdup(texts[i]);
    if (*copies[i] == nullptr) {
      SCS_FreeConnOptions(dst);
      return false;
    }
  }
  return true;
}

void SCS_FreeConnOptions(AgentConnOptions* o) {
  std::free(o->initSql);
  std::free(o->sqlDbmsName);
  *o = AgentConnOptions{};
}

void SCS_ReadConnInfo(ScsConn* info) {
  if (info == nullptr || info->infoRead) return;
  const AgentHandle h = info->handle;
  info->takesParamArrays = AskConnInt(h, AP_CONN_HAS_PARAM_OP, 0) != 0 ? 1 : 0;
  info->needsParamDescs = AskConnInt(h, AP_CONN_NEEDBIND, 0) != 0 ? 1 : 0;
  info->lockByUpdate = AskConnInt(h, AP_CONN_ROWS_LOCKED_BY_UPDATE, 0) != 0 ? 1 : 0;
  info->rowVersionTable = AskConnInt(h, AP_CONN_ROW_VERSION_TABLE, 0) != 0 ? 1 : 0;
  info->maxParams = AskConnInt(h, AP_CONN_MAX_PARAMS, 255);
  info->unicodeClient = AskConnInt(h, AP_CONN_UNICODE_CLIENT, 0);
  info->rowValueIn = AskConnInt(h, AP_CONN_ROW_VALUE_IN, 0) != 0 ? 1 : 0;
  char text[509];
  if (InfoText(h, SQL_IDENTIFIER_QUOTE_CHAR, text, 2)) info->identQuote = text[0] == ' ' ? 0 : text[0];
  int32_t v = 0;
  if (InfoInt(h, SQL_IDENTIFIER_CASE, &v)) info->identCase = v & 0xFFFF;
  v = 0;
  if (InfoInt(h, SQL_QUOTED_IDENTIFIER_CASE, &v)) info->quotedIdentCase = v & 0xFFFF;
  if (InfoText(h, SQL_USER_NAME, text, sizeof text)) info->userName = text;
  if (InfoText(h, SQL_SEARCH_PATTERN_ESCAPE, text, sizeof text)) info->searchEscape = text;
  if (InfoText(h, SQL_DBMS_NAME, text, sizeof text)) info->dbmsName = text;
  v = 0;
  if (InfoInt(h, SQL_MAX_COLUMNS_IN_ORDER_BY, &v)) info->maxOrderByCols = static_cast<uint16_t>(v & 0xFFFF);
  v = 0;
  if (InfoInt(h, SQL_POSITIONED_STATEMENTS, &v)) info->selectForUpdate = (v & SQL_PS_SELECT_FOR_UPDATE) != 0 ? 1 : 0;
  // Where NULLs sort: the seek predicates of mixed cursors follow it.
  v = 0;
  uint16_t length = 0;
  if (AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_GetProperty, h, AP_CONN_GETINFO_INT + SQL_NULL_COLLATION,
                static_cast<void*>(&v), static_cast<uint16_t>(4), &length) == 0) {
    info->nullCollation = static_cast<uint16_t>(v & 0xFFFF);
  }
  info->infoRead = true;
}

int SCS_CursorRecInit(ScsCursor* c, AgentHandle stmt, AgentHandle conn, ScsConn* connInfo) {
  c->stmt = stmt;
  c->conn = conn;
  c->connInfo = connInfo;
  SCR_InitAnalysis(&c->main);
  SCR_InitAnalysis(&c->keysetAn);
  SCR_InitAnalysis(&c->valuesAn);
  c->forceStatic = connInfo != nullptr && connInfo->multipleActive != 0 ? 1 : 0;
  const int rc = KS_New(&c->keyset);
  if (rc != 0) return rc;
  return SS_New(&c->snapshot);
}

void SCS_CursorRecFree(ScsCursor* c) {
  RVC_Release(c);
  scs_p_DropRowset(c);
  scs_p_DropResultCols(c);
  KS_Free(&c->keyset);
  SS_Free(&c->snapshot);
  ARR_Free(&c->tableRefs, SCR_FreeTableRef);
  ARR_Free(&c->orderBy, nullptr);
  ARR_Free(&c->selectCols, nullptr);
  SCR_FreeAnalysis(&c->keysetAn);
  SCR_FreeAnalysis(&c->valuesAn);
  std::free(c->genParamDescs);
  c->genParamDescs = nullptr;
  c->genParamCount = 0;
  scs_p_FreeRows(c->keptParams);
  c->keptParams = nullptr;
  std::free(c->text);
  c->text = nullptr;
  SCR_FreeAnalysis(&c->main);
  const AgentBinding& agent = *SCS_AgentBinding();
  if (c->keysetStmt != 0) AgentCall(agent, &AgentOps::DRV_FreeStmt, c->keysetStmt);
  if (c->valuesStmt != 0) AgentCall(agent, &AgentOps::DRV_FreeStmt, c->valuesStmt);
  if (c->tableValuesStmt != 0) AgentCall(agent, &AgentOps::DRV_FreeStmt, c->tableValuesStmt);
  c->keysetStmt = c->valuesStmt = c->tableValuesStmt = 0;
  std::free(c->appParamDescs);
  c->appParamDescs = nullptr;
  c->appParamCount = 0;
  c->messages.clear();
  scs_p_DropKeptLongData(c);
}

void SCS_PostMsg(ScsCursor* c, const char* text, const char* sqlstate) {
  if (c == nullptr) return;
  c->messages.push_back(std::string(text) + "[SQLSTATE:" + sqlstate + "]");
}

void SCS_PostCacheFailure(ScsCursor* c, const DSC* cache) {
  if (cache != nullptr && cache->lastError[0] != '\0') SCS_PostMsg(c, cache->lastError, "S1000");
}

int scs_p_KeyBatchSizes(const ScsCursor* c, int32_t keyColumns, int32_t* batches, int32_t* lastRows,
                        int32_t* rowsPerBatch) {
  const int32_t r = c->rowsetSize;
  const int32_t p = c->connInfo != nullptr ? c->connInfo->maxParams : 255;
  const int32_t room = p - c->appParamCount;
  // No batch exists without key columns or with less room than one key takes.
  if (keyColumns <= 0 || room < keyColumns || r <= 0) return KX_ERR_GENERAL;
  const int32_t b = room / keyColumns;
  *batches = r / b + (r % b != 0 ? 1 : 0);
  *rowsPerBatch = r < b ? r : b;
  const int32_t last = r - (r / b) * b;
  *lastRows = last != 0 ? last : *rowsPerBatch;
  return 0;
}

void scs_p_FreeRows(RowBuffer* rows) { std::free(RB_Free(rows)); }

int scs_p_UseKeysetStmt(ScsCursor* c) {
  // Whatever runs on it next replaces the positioned change prepared there.
  c->preparedChange.clear();
  if (c->keysetStmt != 0) return 0;
  if (AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_AllocStmt, c->conn, &c->keysetStmt) != 0) {
    c->keysetStmt = 0;
    return KX_ERR_GENERAL;
  }
  return 0;
}

int scs_p_PrepareOnKeysetStmt(ScsCursor* c, const char* what, const char* sql) {
  if (scs_p_UseKeysetStmt(c) != 0) return KX_ERR_GENERAL;
  LogDebug("%s: %s", what, sql);
  return AgentCall(*SCS_AgentBinding(), &AgentOps::DRV_Prepare, c->keysetStmt, sql);
}

int scs_p_ExecuteKeysetStmt(ScsCursor* c) {
  const AgentBinding& agent = *SCS_AgentBinding();
  RowBuffer* params = nullptr;
  int rc = scs_p_KeptParamRow(c, &params);
  if (rc != 0) return rc;
  if (params != nullptr) {
    rc = AgentCall(agent, &AgentOps::DRV_SetParams, c->keysetStmt, params);
    if (rc == 0 && c->appParamCount > 0) {
      rc = AgentCall(agent, &AgentOps::DRV_SetParamInfo, c->keysetStmt, c->appParamCount,
                     static_cast<const SCS_PARAMDESC*>(c->appParamDescs));
    }
    if (rc != 0) return rc;
  }
  return AgentCall(agent, &AgentOps::DRV_Execute, c->keysetStmt);
}

}  // namespace kx
