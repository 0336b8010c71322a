// Installation of the scrollable cursor layer and the operations it puts in
// the agent's table. The layer copies the agent's table once, overrides the
// slots below and points every binding it is installed on at the copy; each
// override does the layer's bookkeeping and calls the agent's own operation
// through the saved binding. The layer's own work (caching a result, falling
// back to a static cursor) also goes straight to the agent.
//
// Besides the cursor operations the layer takes two slots of its own: the
// property setter, so that it sees every statement option the agent settles
// (rowset size, cursor type, concurrency, ...) without reaching into the
// agent's records, and the message hand-out, so that the reasons for its own
// failures (a full disk under the dataset cache) reach the application with
// the agent's messages.
#include <cstdio>
#include <cstdlib>

#include <sqlext.h>
#include <cstring>
#include <string>
#include <strings.h>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "scs/scs_layer.h"
#include "util/errcodes.h"
#include "util/hash_table.h"
#include "util/log.h"

namespace kx {

namespace {

struct Layer {
  std::once_flag installed;
  AgentOps table{};
  AgentBinding saved{0, nullptr};
  // Guards the two maps (not the records: a record is used under its
  // connection's call lock, as every statement operation is).
  std::mutex lock;
  std::unordered_map<AgentHandle, std::unique_ptr<ScsCursor>> cursors;
  std::unordered_map<AgentHandle, std::unique_ptr<ScsConn>> conns;
};

Layer& TheLayer() {
  static Layer layer;
  return layer;
}

const AgentBinding& Agent() { return TheLayer().saved; }

// ---- helpers -----------------------------------------------------------------------

char* DupText(const char* s) { return s != nullptr ? strdup(s) : nullptr; }

// The connect block with copies of its texts and of the connection's options
// (held by the node): the layer's own connections (row versions) open as the
// application's did, its initial SQL and schema options included.
bool CopyConnectBlock(ScsConn* node, const ConnectBlock* src) {
  ConnectBlock* dst = &node->block;
  *dst = ConnectBlock{};
  if (src == nullptr) return true;
  const char* from[] = {src->host, src->options, src->serverType, src->dbPath, src->dataSource,
                        src->dbOptions, src->user, src->password, src->afterTimeout, src->appName};
  char** to[] = {&dst->host, &dst->options, &dst->serverType, &dst->dbPath, &dst->dataSource,
                 &dst->dbOptions, &dst->user, &dst->password, &dst->afterTimeout, &dst->appName};
  for (size_t i = 0; i < sizeof from / sizeof from[0]; ++i) {
    if (from[i] == nullptr) continue;
    *to[i] = DupText(from[i]);
    if (*to[i] == nullptr) {
      ConnectBlockFree(dst);
      return false;
    }
  }
  dst->readOnly = src->readOnly;
  dst->loginTimeout = src->loginTimeout;
  if (src->connOptions != nullptr) {
    if (!SCS_CopyConnOptions(&node->connOptions, src->connOptions)) {
      ConnectBlockFree(dst);
      return false;
    }
    dst->connOptions = &node->connOptions;
  }
  return true;
}

int FreeKeyCacheEntry(uint64_t value, const void*, void*) {
  ARR* list = reinterpret_cast<ARR*>(static_cast<uintptr_t>(value));
  ARR_Free(&list, nullptr);
  return 0;
}

void FreeConnNode(ScsConn* node) {
  ConnectBlockFree(&node->block);
  node->block.connOptions = nullptr;
  SCS_FreeConnOptions(&node->connOptions);
  if (node->keyColCache != nullptr) {
    HashWalk(node->keyColCache, FreeKeyCacheEntry, nullptr);
    HashDestroy(node->keyColCache);
    node->keyColCache = nullptr;
  }
}

// Takes the value the agent settled for one statement option.
void MirrorOption(ScsCursor* c, AgentPropertyId id) {
  int32_t v = 0;
  if (scs_p_AskStmtInt(c->stmt, id, &v) != 0) return;
  switch (id) {
    case AP_STMT_CURSOR_TYPE:
      c->cursorType = v;
      c->flags |= SCSF_TYPE_CHANGED;
      break;
    case AP_STMT_CONCURRENCY: c->concurrency = v; break;
    case AP_STMT_KEYSET_SIZE:
      c->keysetSize = v;
      c->flags |= SCSF_WINDOW_STALE;
      break;
    case AP_STMT_ROWSET_SIZE:
      c->rowsetSize = v;
      c->flags |= SCSF_ROWSET_CHANGED;
      // The auxiliary statements' queries are made for one rowset size.
      c->flags2 = static_cast<uint16_t>(c->flags2 & ~(SCSQ_ROWSBYKEYS | SCSQ_VALUES));
      break;
    case AP_STMT_RETRIEVE_DATA: c->retrieveData = v; break;
    case AP_STMT_USE_BOOKMARKS: c->useBookmarks = v; break;
    case AP_STMT_MAX_LENGTH: c->maxLength = v; break;
    case AP_STMT_OPTIMISTIC_MODE: c->optimisticMode = v; break;
    default: break;
  }
}

int AppendTexts(const std::vector<std::string>& texts, AgentMsgBlock* out);

// The handles of the layer's messages: its own failures and those of its
// auxiliary statements. Appended after the agent's own messages.
int AppendLayerMsgs(ScsCursor* c, AgentMsgBlock* out) {
  std::vector<std::string> texts;
  std::vector<AgentHandle> helpers = {c->keysetStmt, c->valuesStmt};
  for (AgentHandle h : helpers) {
    if (h == 0) continue;
    AgentMsgBlock more{};
    if (AgentCall(Agent(), &AgentOps::DRV_GetMessages, h, &more) != 0) continue;
    for (uint32_t i = 0; i < more.count; ++i) {
      if (more.texts != nullptr && more.texts[i] != nullptr) texts.emplace_back(more.texts[i]);
    }
    StrListFree(&more);
  }
  for (const std::string& m : c->agentMessages) texts.push_back(m);
  c->agentMessages.clear();
  for (const std::string& m : c->messages) texts.push_back("[Skerrin Edition]" + m);
  c->messages.clear();
  return AppendTexts(texts, out);
}

// Appends texts (already in the agent's form) to a message block.
int AppendTexts(const std::vector<std::string>& texts, AgentMsgBlock* out) {
  if (texts.empty()) return 0;
  const uint32_t total = out->count + static_cast<uint32_t>(texts.size());
  char** all = static_cast<char**>(std::calloc(total, sizeof(char*)));
  if (all == nullptr) return KX_ERR_NOMEM;
  for (uint32_t i = 0; i < out->count; ++i) all[i] = out->texts != nullptr ? out->texts[i] : nullptr;
  for (size_t i = 0; i < texts.size(); ++i) {
    all[out->count + i] = strdup(texts[i].c_str());
    if (all[out->count + i] == nullptr) {
      for (size_t k = 0; k < i; ++k) std::free(all[out->count + k]);
      std::free(all);
      return KX_ERR_NOMEM;
    }
  }
  std::free(out->texts);
  out->texts = all;
  out->count = total;
  return 0;
}

// The rowset of a forward-only cursor: the next rows of the agent's result.
// A block may hold fewer rows than asked before the end (rows with long
// values come a few at a time): only an empty block ends the result.
int FetchForward(ScsCursor* c, RowStatusSet* set) {
  int32_t want = c->rowsetSize;
  int rc = 0;
  RB_Free(set->rows);
  while (want > 0) {
    const uint16_t n = static_cast<uint16_t>(want > 0xFFFF ? 0xFFFF : want);
    if (set->rows->colCount == 0) {
      rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->stmt, n, set->rows);
      if (rc != 0) break;
      const int32_t got = set->rows->rowCount;
      want -= got;
      if (got == 0) break;
    } else {
      RowBuffer more{};
      rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->stmt, n, &more);
      const int32_t got = rc == 0 ? more.rowCount : 0;
      if (rc == 0 && got > 0) rc = RB_Append(set->rows, &more);
      RB_Free(&more);
      if (rc != 0) break;
      want -= got;
      if (got == 0) break;
    }
  }
  if (rc != 0) return rc;
  for (int32_t i = 0; i < set->rows->rowCount && i < set->count; ++i) set->statuses[i] = SCS_ROW_SUCCESS;
  return 0;
}

// A keyset-driven cursor over a SELECT whose key columns are known.
bool IsKeysetQuery(const ScsCursor* c) {
  return c->cursorType == SCS_KEYSET_DRIVEN && c->keysetSize == 0 && c->main.kind == SQLN_SELECT &&
         KS_KeyCount(c->keyset) > 0;
}

// A mixed or dynamic cursor: key windows read as the fetches need them.
bool IsMixedQuery(const ScsCursor* c) {
  const bool windowed = (c->cursorType == SCS_KEYSET_DRIVEN && c->keysetSize > 0) || c->cursorType == SCS_DYNAMIC;
  return windowed && c->main.kind == SQLN_SELECT && KS_KeyCount(c->keyset) > 0;
}

bool IsCatalogFallback(const ScsCursor* c) {
  return c->cursorType == SCS_KEYSET_DRIVEN || c->cursorType == SCS_DYNAMIC;
}

// Catalog results are read-only and without keys: keyset-driven and dynamic
// requests become static and read-only for them.
void CatalogCursor(AgentHandle h) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return;
  c->flags = static_cast<uint16_t>(c->flags & ~SCSF_CACHED);
  SS_Close(c->snapshot);
  c->rowCount = -1;
  if (IsCatalogFallback(c)) {
    // The agent's statement says so too, so the application can see it.
    const int32_t type = SCS_STATIC, concurrency = SCS_CONCUR_READ_ONLY;
    AgentCall(Agent(), &AgentOps::DRV_SetProperty, h, AP_STMT_CURSOR_TYPE, static_cast<const void*>(&type));
    AgentCall(Agent(), &AgentOps::DRV_SetProperty, h, AP_STMT_CONCURRENCY, static_cast<const void*>(&concurrency));
    c->cursorType = SCS_STATIC;
    c->concurrency = SCS_CONCUR_READ_ONLY;
  }
  c->flags |= SCSF_PREPARED;
}

// An integer property of the agent connection: 0 when it is refused.
int32_t ConnInt(AgentHandle conn, AgentPropertyId id, bool* answered = nullptr) {
  int32_t v = 0;
  uint16_t length = 0;
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_GetProperty, conn, id, static_cast<void*>(&v),
                               static_cast<uint16_t>(sizeof v), &length);
  if (answered != nullptr) *answered = rc == 0;
  return rc == 0 ? v : 0;
}

// The connection's capabilities as one text: "001.005:" and twelve digits,
// scrollable cursors, execute-and-fetch, parameter arrays, dynamic and mixed
// cursors, deferred output values, 1, the cursor commit behaviour, two
// capabilities passed on as 0 or 1, extended describe, DTC and failover.
int32_t CapabilityText(AgentHandle conn, void* out, uint16_t capacity, uint16_t* length) {
  if (SCS_FindConn(conn) == nullptr) return KX_ERR_BAD_ARGUMENT;
  const int32_t odbc3 = 3;
  AgentCall(Agent(), &AgentOps::DRV_SetProperty, conn, AP_CONN_ODBC_VERSION, static_cast<const void*>(&odbc3));
  bool masked = false;
  const auto mask = static_cast<uint32_t>(ConnInt(conn, AP_CONN_CAPABILITY_MASK, &masked));
  auto bit = [&](uint32_t b, AgentPropertyId single) {
    return masked ? ((mask & b) != 0 ? 1 : 0) : (ConnInt(conn, single) != 0 ? 1 : 0);
  };
  const int values[12] = {bit(CAP_HAS_SCRL_CURS, AP_CONN_HAS_SCRL_CURS),
                          bit(CAP_HAS_EXECUTE2, AP_CONN_HAS_EXECUTE2),
                          bit(CAP_HAS_PARAM_OP, AP_CONN_HAS_PARAM_OP),
                          bit(CAP_HAS_DYN_MIX_CURS, AP_CONN_HAS_DYN_MIX_CURS),
                          bit(CAP_SP_OUT_DEFER_FETCH, AP_CONN_SP_OUT_DEFER_FETCH),
                          1,
                          static_cast<int>(ConnInt(conn, AP_CONN_GETINFO_INT + SQL_CURSOR_COMMIT_BEHAVIOR)),
                          ConnInt(conn, AP_CONN_CAPABILITY_20) != 0 ? 1 : 0,
                          ConnInt(conn, AP_CONN_CAPABILITY_21) != 0 ? 1 : 0,
                          masked && (mask & CAP_EXT_DESCRIBE) != 0 ? 1 : 0,
                          masked && (mask & CAP_DTC) != 0 ? 1 : 0,
                          masked && (mask & CAP_FAILOVER) != 0 ? 1 : 0};
  char text[64];
  int n = std::snprintf(text, sizeof text, "%03d.%03d:", 1, 5);
  for (int v : values) n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%d", v);
  // Cut to the caller's buffer, as every text property is.
  const size_t total = static_cast<size_t>(n);
  if (length != nullptr) *length = static_cast<uint16_t>(total);
  if (out != nullptr && capacity > 0) {
    const size_t copied = total < capacity ? total : static_cast<size_t>(capacity) - 1;
    std::memcpy(out, text, copied);
    static_cast<char*>(out)[copied] = '\0';
  }
  return 0;
}

// ---- the overrides -------------------------------------------------------------------

int32_t SCS_GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity, uint16_t* length) {
  if (id == AP_CONN_CAPABILITY_TEXT) return CapabilityText(h, out, capacity, length);
  if (id == AP_STMT_ROW_COUNT) {
    ScsCursor* c = SCS_FindCursor(h);
    if (c != nullptr && c->cursorType != SCS_FORWARD_ONLY && SCS_IsQuery(c)) {
      if (out == nullptr || capacity < 4) return KX_ERR_BAD_ARGUMENT;
      const int32_t v = c->setPosRowsAffected != -1 ? c->setPosRowsAffected : c->rowCount;
      std::memcpy(out, &v, 4);
      if (length != nullptr) *length = 4;
      return 0;
    }
  }
  return AgentCall(Agent(), &AgentOps::DRV_GetProperty, h, id, out, capacity, length);
}

int32_t SCS_SetProperty(AgentHandle h, AgentPropertyId id, const void* value) {
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_SetProperty, h, id, value);
  if (rc != 0 && rc != KX_ERR_OPTION_CHANGED) return rc;
  if (AgentPropertyLevel(id) == AP_LEVEL_STMT) {
    if (ScsCursor* c = SCS_FindCursor(h); c != nullptr) MirrorOption(c, id);
  } else if (id == AP_CONN_MULTI_ACTIVE_STMTS && value != nullptr) {
    if (ScsConn* n = SCS_FindConn(h); n != nullptr) {
      int32_t v = 0;
      std::memcpy(&v, value, sizeof v);
      n->multipleActive = v != 0 ? 1 : 0;
    }
  }
  return rc;
}

int32_t SCS_GetMessages(AgentHandle h, AgentMsgBlock* out) {
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_GetMessages, h, out);
  if (rc != 0) return rc;
  if (ScsCursor* c = SCS_FindCursor(h); c != nullptr) return AppendLayerMsgs(c, out);
  if (ScsConn* n = SCS_FindConn(h); n != nullptr && !n->orphanMessages.empty()) {
    std::vector<std::string> texts;
    texts.swap(n->orphanMessages);
    return AppendTexts(texts, out);
  }
  return 0;
}

int32_t SCS_Connect(AgentHandle env, ConnectBlock* block, AgentHandle* out) {
  // The copy first: the agent takes the option texts over as it connects.
  auto node = std::unique_ptr<ScsConn>(new (std::nothrow) ScsConn);
  if (node == nullptr || !CopyConnectBlock(node.get(), block)) {
    if (out != nullptr) *out = 0;
    return KX_ERR_NOMEM;
  }
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_Connect, env, block, out);
  if (rc != 0) {
    FreeConnNode(node.get());
    return rc;
  }
  node->env = env;
  node->handle = *out;
  node->keyColCache = HashCreate(101, 16);
  bool ok = node->keyColCache != nullptr;
  if (ok) {
    try {
      std::lock_guard<std::mutex> hold(TheLayer().lock);
      TheLayer().conns[*out] = std::move(node);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  if (!ok) {
    // Nothing of the connection may stay open without its record.
    if (node != nullptr) FreeConnNode(node.get());
    AgentCall(Agent(), &AgentOps::DRV_Disconnect, *out);
    *out = 0;
    return KX_ERR_NOMEM;
  }
  return 0;
}

int32_t SCS_Disconnect(AgentHandle h) {
  // The agent first: a refused disconnect leaves the connection, and so its
  // record and key cache, as they were.
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_Disconnect, h);
  if (rc != 0) return rc;
  std::unique_ptr<ScsConn> node;
  {
    std::lock_guard<std::mutex> hold(TheLayer().lock);
    auto it = TheLayer().conns.find(h);
    if (it != TheLayer().conns.end()) {
      node = std::move(it->second);
      TheLayer().conns.erase(it);
    }
  }
  if (node != nullptr) FreeConnNode(node.get());
  return 0;
}

int32_t SCS_AllocStmt(AgentHandle conn, AgentHandle* out) {
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_AllocStmt, conn, out);
  if (rc != 0) return rc;
  auto c = std::unique_ptr<ScsCursor>(new (std::nothrow) ScsCursor);
  int init = c != nullptr ? SCS_CursorRecInit(c.get(), *out, conn, SCS_FindConn(conn)) : KX_ERR_NOMEM;
  ScsCursor* cursor = c.get();
  if (init == 0) {
    try {
      std::lock_guard<std::mutex> hold(TheLayer().lock);
      TheLayer().cursors[*out] = std::move(c);
    } catch (const std::bad_alloc&) {
      init = KX_ERR_NOMEM;
    }
  }
  if (init != 0) {
    // No statement stays allocated that the layer does not know.
    if (c != nullptr) SCS_CursorRecFree(c.get());
    AgentCall(Agent(), &AgentOps::DRV_FreeStmt, *out);
    *out = 0;
    return init;
  }
  if (cursor->forceStatic) {
    // A connection that keeps several results open reads each whole.
    const int32_t v = SCS_STATIC;
    const int32_t set = AgentCall(Agent(), &AgentOps::DRV_SetProperty, *out, AP_STMT_CURSOR_TYPE,
                                  static_cast<const void*>(&v));
    if (set == 0 || set == KX_ERR_OPTION_CHANGED) MirrorOption(cursor, AP_STMT_CURSOR_TYPE);
    return set;
  }
  return 0;
}

int32_t SCS_FreeStmt(AgentHandle h) {
  std::unique_ptr<ScsCursor> c;
  {
    std::lock_guard<std::mutex> hold(TheLayer().lock);
    auto it = TheLayer().cursors.find(h);
    if (it != TheLayer().cursors.end()) {
      c = std::move(it->second);
      TheLayer().cursors.erase(it);
    }
  }
  if (c != nullptr) SCS_CursorRecFree(c.get());
  return AgentCall(Agent(), &AgentOps::DRV_FreeStmt, h);
}

int32_t SCS_SetCursorName(AgentHandle h, const char* name) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c != nullptr) {
    try {
      c->cursorName = name != nullptr ? name : "";
    } catch (const std::bad_alloc&) {
      return KX_ERR_NOMEM;
    }
  }
  return AgentCall(Agent(), &AgentOps::DRV_SetCursorName, h, name);
}

int32_t SCS_GetCursorName(AgentHandle h, char* buffer, int32_t size, uint16_t* length) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return AgentCall(Agent(), &AgentOps::DRV_GetCursorName, h, buffer, size, length);
  // The layer answers for every statement it knows, so that the name the
  // application is told is the one its positioned statements find.
  std::string name;
  try {
    name = SCS_CursorName(c);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  const size_t n = name.size();
  if (length != nullptr) *length = static_cast<uint16_t>(n > 0xFFFF ? 0xFFFF : n);
  if (buffer == nullptr || size <= 0) return KX_ERR_DATA_TRUNCATED;
  const size_t room = static_cast<size_t>(size) - 1;
  const size_t copied = n < room ? n : room;
  std::memcpy(buffer, name.data(), copied);
  buffer[copied] = '\0';
  return copied < n ? KX_ERR_DATA_TRUNCATED : 0;
}

int32_t SCS_Prepare(AgentHandle h, const char* sql) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  c->setPosRowsAffected = -1;
  c->queryDeferred = false;
  std::string standIn;
  try {
    if (scs_p_ParsePositioned(c, sql, &standIn) != 0) {
      // Parameters come with this statement, never from an earlier one.
      c->flags = static_cast<uint16_t>(c->flags & ~SCSF_PARAMS_KEPT);
      // The data source has no such cursor: the statement runs keyed on the
      // named cursor's row when it is executed.
      const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, h, standIn.c_str());
      if (rc != 0) c->posKind = 0;
      if (rc == 0) c->flags |= SCSF_PREPARED;
      return rc;
    }
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  scs_p_DropRowset(c);
  scs_p_DropResultCols(c);
  // A new statement: the last one's cached rows and files go now.
  SS_Close(c->snapshot);
  c->flags = static_cast<uint16_t>(c->flags & ~(SCSF_CACHED | SCSF_CLOSED));
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, h, sql);
  if (rc != 0) return rc;
  const int prepared = scs_p_PrepareCursor(c, sql);
  if (prepared != 0) return prepared;
  c->flags |= SCSF_PREPARED;
  return 0;
}

// The parameter rows are taken over on every path, as the agent takes them.
int32_t SCS_SetParams(AgentHandle h, RowBuffer* rows) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) {
    scs_p_FreeRows(rows);
    return KX_ERR_BAD_ARGUMENT;
  }
  if ((c->cursorType != SCS_FORWARD_ONLY || c->posKind != 0) && rows != nullptr) {
    // Kept for the layer's own statements, which run with the same values.
    RowBuffer* copy = nullptr;
    const int rc = RB_Clone(&copy, rows);
    if (rc != 0) {
      scs_p_FreeRows(rows);
      return rc;
    }
    scs_p_FreeRows(c->keptParams);
    c->keptParams = copy;
    c->flags |= SCSF_PARAMS_KEPT;
  }
  return AgentCall(Agent(), &AgentOps::DRV_SetParams, h, rows);
}

int32_t SCS_SetParamInfo(AgentHandle h, uint16_t count, const SCS_PARAMDESC* descs) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  std::free(c->appParamDescs);
  c->appParamDescs = nullptr;
  c->appParamCount = 0;
  if (count > 0 && descs != nullptr) {
    c->appParamDescs = static_cast<SCS_PARAMDESC*>(std::malloc(sizeof(SCS_PARAMDESC) * count));
    if (c->appParamDescs == nullptr) return KX_ERR_NOMEM;
    std::memcpy(c->appParamDescs, descs, sizeof(SCS_PARAMDESC) * count);
    c->appParamCount = count;
  }
  return AgentCall(Agent(), &AgentOps::DRV_SetParamInfo, h, count, descs);
}

int32_t SCS_Execute(AgentHandle h) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (c->posKind != 0) {
    try {
      return scs_p_ExecPositioned(c);
    } catch (const std::bad_alloc&) {
      return KX_ERR_NOMEM;
    }
  }
  c->setPosRowsAffected = -1;
  c->queryDeferred = false;
  c->flags |= SCSF_PREPARED;
  if (c->cursorType != SCS_FORWARD_ONLY) {
    c->flags = static_cast<uint16_t>(c->flags & ~SCSF_CLOSED);
    if ((c->flags & SCSF_ANALYSED) == 0 && c->text != nullptr) {
      // The cursor became scrollable after the prepare.
      const int rc = scs_p_PrepareCursor(c, c->text);
      if (rc != 0) return rc;
    }
  }
  // Each execution has a result of its own.
  scs_p_DropRowset(c);
  c->fetchedVersions.clear();
  c->heldRows = 0;
  SS_Close(c->snapshot);
  c->flags = static_cast<uint16_t>(c->flags & ~(SCSF_CACHED | SCSF_KEYED_QUERY));
  c->rowCount = -1;
  c->setPosRow = SCS_AT_BEFORE_FIRST;
  const bool keyset = IsKeysetQuery(c);
  const bool windowed = !keyset && IsMixedQuery(c);
  if (keyset) {
    // The keys of every row are read now; the rows come by key when fetched.
    const int built = KS_GetKeySet_KSD(c);
    if (built != 0) return built;
  } else if (windowed) {
    // A mixed cursor reads its first window of keys at its first fetch.
    KS_Close(c->keyset);
    c->mixedWindow = SCS_WINDOW_NONE;
  }
  if (keyset || windowed) {
    // The rows come by key: the statement's own result is read only by a
    // fetch in order. Put off only when the prepare described the columns:
    // otherwise the execution describes them.
    uint16_t described = 0;
    if (AgentCall(Agent(), &AgentOps::DRV_DescribeCols, h, &described, static_cast<AgentColDesc**>(nullptr)) == 0 &&
        described > 0) {
      c->queryDeferred = true;
      return 0;
    }
  }
  const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_Execute, h);
  if (rc != 0) return rc;
  const bool staticQuery = c->cursorType == SCS_STATIC && SCS_IsQuery(c) &&
                           (c->concurrency == SCS_CONCUR_READ_ONLY || c->forceStatic);
  if (staticQuery || scs_p_StaticChangeable(c)) return scs_p_CacheResult(c);
  return 0;
}

int32_t SCS_FetchBlock(AgentHandle h, uint16_t rows, RowBuffer* out) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  int32_t rc;
  if (c->cursorType == SCS_STATIC && rows > 0) {
    if ((c->flags & SCSF_CACHED) == 0) {
      rc = scs_p_CacheResult(c);
      if (rc != 0) return rc;
    }
    rc = SS_GetRows(c->snapshot, SS_SEQUENTIAL, rows, &out);
    if (rc != 0) SCS_PostCacheFailure(c, &c->snapshot->cache);
    if (rc == 0) rc = scs_p_StripKeys(c, out);
  } else {
    rc = scs_p_RunDeferredQuery(c);
    if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, h, rows, out);
  }
  if (rc != 0) return rc;
  return c->maxLength > 0 ? RB_Truncate(out, static_cast<uint32_t>(c->maxLength)) : 0;
}

int32_t SCS_CloseCursor(AgentHandle h) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  c->flags |= SCSF_CLOSED;
  c->flags = static_cast<uint16_t>(c->flags & ~(SCSF_PREPARED | SCSF_CACHED));
  c->queryDeferred = false;
  scs_p_DropRowset(c);
  c->fetchedVersions.clear();
  // The cached rows and keys and their files go with the cursor.
  SS_Close(c->snapshot);
  KS_Close(c->keyset);
  c->rowCount = -1;
  return AgentCall(Agent(), &AgentOps::DRV_CloseCursor, h);
}

int32_t SCS_MoreResults(AgentHandle h) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  const bool cached = (c->flags & SCSF_CACHED) != 0;
  const bool allowed = c->concurrency == SCS_CONCUR_READ_ONLY &&
                       (c->cursorType == SCS_FORWARD_ONLY ||
                        (c->cursorType == SCS_STATIC && (!cached || scs_p_MoreResultsFollow(c))));
  c->rowCount = -1;
  c->setPosRow = SCS_AT_BEFORE_FIRST;
  SS_Close(c->snapshot);
  c->flags = static_cast<uint16_t>(c->flags & ~SCSF_CACHED);
  if (!allowed) return KX_ERR_NO_MORE_RESULTS;
  const int32_t rc = scs_p_RunDeferredQuery(c);
  if (rc != 0) return rc;
  return AgentCall(Agent(), &AgentOps::DRV_MoreResults, h);
}

int32_t SCS_DDColumnPrivileges(AgentHandle h, const char* a, const char* b, const char* t, const char* col) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDColumnPrivileges, h, a, b, t, col);
}
int32_t SCS_DDColumns(AgentHandle h, const char* a, const char* b, const char* t, const char* col) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDColumns, h, a, b, t, col);
}
int32_t SCS_DDForeignKeys(AgentHandle h, const char* a, const char* b, const char* c, const char* d,
                          const char* e, const char* f) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDForeignKeys, h, a, b, c, d, e, f);
}
int32_t SCS_DDPrimaryKeys(AgentHandle h, const char* a, const char* b, const char* t) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDPrimaryKeys, h, a, b, t);
}
int32_t SCS_DDProcedureColumns(AgentHandle h, const char* a, const char* b, const char* p, const char* col) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDProcedureColumns, h, a, b, p, col);
}
int32_t SCS_DDProcedures(AgentHandle h, const char* a, const char* b, const char* p) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDProcedures, h, a, b, p);
}
int32_t SCS_DDSpecialColumns(AgentHandle h, const char* a, const char* b, const char* t, uint16_t id,
                             uint16_t scope, uint16_t nullable) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDSpecialColumns, h, a, b, t, id, scope, nullable);
}
int32_t SCS_DDStatistics(AgentHandle h, const char* a, const char* b, const char* t, uint16_t unique,
                         uint16_t accuracy) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDStatistics, h, a, b, t, unique, accuracy);
}
int32_t SCS_DDTablePrivileges(AgentHandle h, const char* a, const char* b, const char* t) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDTablePrivileges, h, a, b, t);
}
int32_t SCS_DDTables(AgentHandle h, const char* a, const char* b, const char* t, const char* types) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDTables, h, a, b, t, types);
}
int32_t SCS_DDTypeInfo(AgentHandle h, int16_t sqlType) {
  CatalogCursor(h);
  return AgentCall(Agent(), &AgentOps::DRV_DDTypeInfo, h, sqlType);
}

int32_t SCS_FetchScroll(AgentHandle h, RowStatusSet** out, int32_t row, uint32_t* rows, int32_t* total,
                        uint16_t orientation) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr || out == nullptr || rows == nullptr || total == nullptr) return KX_ERR_BAD_ARGUMENT;
  const bool plain = c->cursorType == SCS_FORWARD_ONLY ||
                     (c->cursorType == SCS_STATIC && c->concurrency == SCS_CONCUR_READ_ONLY);
  if ((c->flags & SCSF_PREPARED) == 0 && !plain) return KX_ERR_CURSOR_STATE;
  c->setPosRowsAffected = -1;
  *out = nullptr;
  *rows = 0;
  *total = -1;
  RowStatusSet* set = nullptr;
  const bool aggregate = (c->features & SCRF_AGGREGATE) != 0 && c->main.kind == SQLN_SELECT;
  // A SetPos refresh keeps the row positioned on (a positioned statement
  // names it); a mixed or dynamic cursor's refresh reads the rowset held.
  const bool refreshing = c->refreshRowset;
  const int32_t positioned = c->setPosRow;
  const bool refresh = refreshing && orientation == SQL_FETCH_RELATIVE && row == 0 && !aggregate &&
                       scs_p_WindowCursor(c);
  c->refreshRowset = false;
  // A refresh reads the rowset in hand again, of the size it was fetched
  // with; any other fetch takes the rowset size in force.
  struct HeldSize {
    ScsCursor* c;
    int32_t asked;
    ~HeldSize() { c->rowsetSize = asked; }
  } held{c, c->rowsetSize};
  if (refreshing && c->heldRows > 0) c->rowsetSize = c->heldRows;
  int rc = RowStatusSetNew(&set, scs_p_RowsetRows(c));
  if (rc != 0) return rc;
  c->heldRows = scs_p_RowsetRows(c);
  if (refresh) {
    rc = scs_p_RefreshWindow(c, set);
  } else {
    switch (c->cursorType) {
      case SCS_FORWARD_ONLY:
        rc = FetchForward(c, set);
        break;
      case SCS_KEYSET_DRIVEN:
        if (aggregate) {
          rc = orientation == 0 ? KX_ERR_NOT_CAPABLE : FetchForward(c, set);
        } else if (c->keysetSize == 0) {
          rc = scs_p_FetchKeyset(c, set, row);
        } else {
          rc = orientation == 0 ? KX_ERR_NOT_CAPABLE : scs_p_FetchMixed(c, row, orientation, set);
        }
        break;
      case SCS_DYNAMIC:
        if (aggregate) {
          rc = orientation == 0 ? KX_ERR_NOT_CAPABLE : FetchForward(c, set);
        } else {
          rc = orientation == 0 ? KX_ERR_NOT_CAPABLE : scs_p_FetchDynamicOrient(c, row, orientation, set);
        }
        break;
      case SCS_STATIC:
        rc = scs_p_FetchStatic(c, set, row);
        break;
      default:
        rc = KX_ERR_NOT_CAPABLE;
        break;
    }
  }
  if (rc == 0 && scs_p_ValuesByTable(c)) {
    // The old values the rowset's next changes compare with.
    try {
      rc = scs_p_NoteTableValues(c);
    } catch (const std::bad_alloc&) {
      rc = KX_ERR_NOMEM;
    }
  }
  if (rc == 0 && scs_p_LocksByUpdate(c) && !c->rowsetKeys.empty()) {
    // The rows read are locked now; a row that cannot be locked is in error.
    std::vector<int32_t> failed;
    try {
      rc = scs_p_LockRows(c, c->rowsetKeys, &failed);
    } catch (const std::bad_alloc&) {
      rc = KX_ERR_NOMEM;
    }
    if (rc == KX_ERR_ROW_ERROR) {
      rc = 0;
      for (size_t j = 0; j < c->rowsetKeys.size() && j < static_cast<size_t>(set->count); ++j) {
        for (const int32_t kn : failed) {
          if (c->rowsetKeys[j] == kn) set->statuses[j] = SCS_ROW_ERROR;
        }
      }
    }
  }
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  *total = c->rowCount;
  const int32_t got = set->rows != nullptr ? set->rows->rowCount : 0;
  *rows = static_cast<uint32_t>(got > 0 ? got : 0);
  if (c->retrieveData == 0 && set->rows != nullptr) RB_Free(set->rows);
  *out = set;
  if (got <= 0) return KX_ERR_NO_DATA_FOUND;
  c->setPosRow = refreshing ? positioned : 1;
  return 0;
}

int32_t SCS_ExtendedFetch(AgentHandle h, RowStatusSet** out, int32_t row, uint32_t* rows, int32_t* total) {
  return SCS_FetchScroll(h, out, row, rows, total, 0);
}

int32_t SCS_SetPos(AgentHandle h, int32_t row, int32_t operation, int32_t, uint16_t** statuses, int32_t* count,
                   RowBuffer* data, uint16_t* columns, uint16_t columnCount) {
  ScsCursor* c = SCS_FindCursor(h);
  // The block and the column list are the layer's from here on.
  auto release = [&]() {
    scs_p_FreeRows(data);
    data = nullptr;
    std::free(columns);
    columns = nullptr;
  };
  if (c == nullptr) {
    release();
    return KX_ERR_BAD_ARGUMENT;
  }
  if ((c->flags & SCSF_PREPARED) == 0) {
    release();
    return KX_ERR_CURSOR_STATE;
  }
  if (operation != SQL_ADD) {
    if (row != SCS_AT_ALL_ROWS && (row < 1 || row > scs_p_HeldRows(c))) {
      release();
      return KX_ERR_BAD_ROW_VALUE;
    }
    c->setPosRow = row;
  }
  if (c->cursorType == SCS_FORWARD_ONLY) {
    release();
    return KX_ERR_NOT_CAPABLE;
  }
  if (operation != SQL_POSITION) c->setPosRowsAffected = 0;
  const int rc = scs_p_SetPosOp(c, row, operation, statuses, count, data, columns, columnCount);
  return rc;
}

int32_t SCS_BulkOperations(AgentHandle h, uint16_t operation, uint32_t* bookmarks, uint16_t count, RowBuffer* data,
                           uint16_t* columns, uint16_t columnCount, uint16_t** statuses, uint16_t* statusCount,
                           RowStatusSet** fetched) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr || statuses == nullptr) {
    // The block and the column list are the layer's from here on.
    scs_p_FreeRows(data);
    std::free(columns);
    return KX_ERR_BAD_ARGUMENT;
  }
  return scs_p_BulkOps(c, operation, bookmarks, count, data, columns, columnCount, statuses, statusCount, fetched);
}

int32_t SCS_ExecDirect(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t count,
                       const SCS_PARAMDESC* descs) {
  int32_t rc = 0;
  if (sql != nullptr) rc = SCS_Prepare(h, sql);
  if (rc != 0) scs_p_FreeRows(rows);
  if (rc == 0 && rows != nullptr) rc = SCS_SetParams(h, rows);
  if (rc == 0 && count != 0) rc = SCS_SetParamInfo(h, count, descs);
  if (rc == 0) rc = SCS_Execute(h);
  return rc;
}

}  // namespace

int32_t scs_p_AskStmtInt(AgentHandle h, AgentPropertyId id, int32_t* v) {
  uint16_t length = 0;
  return AgentCall(Agent(), &AgentOps::DRV_GetProperty, h, id, static_cast<void*>(v),
                   static_cast<uint16_t>(sizeof *v), &length);
}

int32_t scs_p_RunDeferredQuery(ScsCursor* c) {
  if (!c->queryDeferred) return 0;
  c->queryDeferred = false;
  return AgentCall(Agent(), &AgentOps::DRV_Execute, c->stmt);
}

// ---- process-wide state ------------------------------------------------------------------

const AgentBinding* SCS_AgentBinding() { return &TheLayer().saved; }

const AgentOps* SCS_LayerOps() { return &TheLayer().table; }

ScsCursor* SCS_FindCursor(AgentHandle stmt) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  auto it = TheLayer().cursors.find(stmt);
  return it != TheLayer().cursors.end() ? it->second.get() : nullptr;
}

std::string SCS_CursorName(const ScsCursor* c) {
  if (!c->cursorName.empty()) return c->cursorName;
  // Unique among the open statements and the same for the statement's life.
  return "SQL_CUR" + std::to_string(c->stmt);
}

ScsCursor* SCS_FindCursorByName(AgentHandle conn, const std::string& name, const ScsCursor* self) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  // Cursor names compare without regard to case; a name the application
  // gave wins over a made-up one that happens to read the same.
  ScsCursor* byDefault = nullptr;
  for (auto& entry : TheLayer().cursors) {
    ScsCursor* c = entry.second.get();
    if (c == self || c->conn != conn) continue;
    const std::string own = SCS_CursorName(c);
    if (own.size() != name.size() || strncasecmp(own.c_str(), name.c_str(), name.size()) != 0) continue;
    if (!c->cursorName.empty()) return c;
    byDefault = c;
  }
  return byDefault;
}

ScsConn* SCS_FindConn(AgentHandle conn) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  auto it = TheLayer().conns.find(conn);
  return it != TheLayer().conns.end() ? it->second.get() : nullptr;
}

int SCS_Install(AgentBinding* binding) {
  if (binding == nullptr || binding->ops == nullptr) return KX_ERR_GENERAL;
  Layer& layer = TheLayer();
  std::call_once(layer.installed, [&] {
    layer.table = *binding->ops;
    layer.saved = *binding;
    AgentOps& t = layer.table;
    t.DRV_GetProperty = SCS_GetProperty;
    t.DRV_SetProperty = SCS_SetProperty;
    t.DRV_GetMessages = SCS_GetMessages;
    t.DRV_Connect = SCS_Connect;
    t.DRV_Disconnect = SCS_Disconnect;
    t.DRV_AllocStmt = SCS_AllocStmt;
    t.DRV_FreeStmt = SCS_FreeStmt;
    t.DRV_Prepare = SCS_Prepare;
    t.DRV_SetCursorName = SCS_SetCursorName;
    t.DRV_GetCursorName = SCS_GetCursorName;
    t.DRV_SetParams = SCS_SetParams;
    t.DRV_Execute = SCS_Execute;
    t.DRV_SetParamInfo = SCS_SetParamInfo;
    t.DRV_FetchBlock = SCS_FetchBlock;
    t.DRV_CloseCursor = SCS_CloseCursor;
    t.DRV_MoreResults = SCS_MoreResults;
    t.DRV_DDColumnPrivileges = SCS_DDColumnPrivileges;
    t.DRV_DDColumns = SCS_DDColumns;
    t.DRV_DDForeignKeys = SCS_DDForeignKeys;
    t.DRV_DDPrimaryKeys = SCS_DDPrimaryKeys;
    t.DRV_DDProcedureColumns = SCS_DDProcedureColumns;
    t.DRV_DDProcedures = SCS_DDProcedures;
    t.DRV_DDSpecialColumns = SCS_DDSpecialColumns;
    t.DRV_DDStatistics = SCS_DDStatistics;
    t.DRV_DDTablePrivileges = SCS_DDTablePrivileges;
    t.DRV_DDTables = SCS_DDTables;
    t.DRV_DDTypeInfo = SCS_DDTypeInfo;
    t.DRV_ExtendedFetch = SCS_ExtendedFetch;
    t.DRV_SetPos = SCS_SetPos;
    t.DRV_BulkOperations = SCS_BulkOperations;
    t.DRV_FetchScroll = SCS_FetchScroll;
    t.DRV_ExecDirect = SCS_ExecDirect;
    t.DRV_ExecuteDescribe = SCS_ExecuteDescribe;
    t.DRV_ExecuteDescribeEx = SCS_ExecuteDescribeEx;
    t.DRV_AllocPrepare = SCS_AllocPrepare;
    t.DRV_DescribeColTypes = SCS_DescribeColTypes;
    t.DRV_FetchKeepLongData = SCS_FetchKeepLongData;
    t.DRV_GetLongDataPiece = SCS_GetLongDataPiece;
    t.DRV_ExecuteBatch = SCS_ExecuteBatch;
    t.DRV_ExecDirectEx = SCS_ExecDirectEx;
    t.DRV_SetParamInfoEx = SCS_SetParamInfoEx;
  });
  binding->ops = &layer.table;
  return 0;
}

}  // namespace kx
