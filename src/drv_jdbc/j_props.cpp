#include "drv_jdbc/j_props.h"

#include <sqlext.h>

#include <cstring>

#include "agent/build_flavor.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_info.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/text/j_parse_sql.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// Room for a text answer: the longest DatabaseMetaData text the agent reads.
constexpr size_t kTextRoom = 4096;

constexpr int32_t kEnd = -999;

// One negotiable statement option: the information type whose bits say what
// the connection offers, the values to fall back to in order, and the bit of
// each value.
struct CursorOptChain {
  int32_t option;
  uint16_t infoType;
  int32_t chain[6];
  int32_t pairs[10];  // value, bit, ..., kEnd
};

constexpr CursorOptChain JDB_CursorOptChains[] = {
    {SQL_CONCURRENCY, SQL_SCROLL_CONCURRENCY,
     {SQL_CONCUR_LOCK, SQL_CONCUR_ROWVER, SQL_CONCUR_VALUES, SQL_CONCUR_ROWVER, kEnd},
     {SQL_CONCUR_READ_ONLY, SQL_SCCO_READ_ONLY, SQL_CONCUR_LOCK, SQL_SCCO_LOCK, SQL_CONCUR_ROWVER,
      SQL_SCCO_OPT_ROWVER, SQL_CONCUR_VALUES, SQL_SCCO_OPT_VALUES, kEnd}},
    {SQL_CURSOR_TYPE, SQL_SCROLL_OPTIONS,
     {SQL_CURSOR_DYNAMIC, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC, SQL_CURSOR_KEYSET_DRIVEN, kEnd},
     {SQL_CURSOR_FORWARD_ONLY, SQL_SO_FORWARD_ONLY, SQL_CURSOR_KEYSET_DRIVEN, SQL_SO_KEYSET_DRIVEN,
      SQL_CURSOR_DYNAMIC, SQL_SO_DYNAMIC, SQL_CURSOR_STATIC, SQL_SO_STATIC, kEnd}},
    {0, 0, {kEnd}, {kEnd}},
};

const CursorOptChain* JDB_CursorOptLookup(int32_t option) {
  for (const CursorOptChain* row = JDB_CursorOptChains; row->option != 0; ++row) {
    if (row->option == option) return row;
  }
  return nullptr;
}

int32_t JDB_CursorOptBit(const CursorOptChain* row, int32_t value) {
  for (int i = 0; row->pairs[i] != kEnd; i += 2) {
    if (row->pairs[i] == value) return row->pairs[i + 1];
  }
  return kEnd;
}

// The value after v in the chain, searching from *pos on; kEnd when v is not
// found before the chain ends.
int32_t JDB_CursorOptNext(const CursorOptChain* row, int32_t v, int* pos) {
  for (int k = *pos; row->chain[k] != kEnd; ++k) {
    if (row->chain[k] == v) {
      *pos = k + 1;
      return row->chain[k + 1];
    }
  }
  return kEnd;
}

// The information answer the negotiation works against: through the layers
// when the statement has been given its binding, else the agent's own.
bool CursorInfo(JStmt* s, uint16_t type, int32_t* answer) {
  if (s->cursor.binding != nullptr) {
    int16_t length = 0;
    return SCS_GetInfoType(s->cursor.binding, s->cursor.agentConn, type, answer,
                           static_cast<int16_t>(sizeof *answer), &length) == 0;
  }
  char text[8];
  return JDB_GetInfoAnswer(s->conn, type, answer, text, sizeof text) == 0;
}

// Delivers an answer by the id's value kind.
int Deliver(AgentPropertyId id, int32_t number, const char* text, void* out, uint16_t capacity,
            uint16_t* length) {
  switch (AgentPropertyKind(id)) {
    case AP_KIND_TEXT:
      if (out == nullptr) {
        if (length != nullptr) *length = static_cast<uint16_t>(std::strlen(text));
        return 0;
      }
      // A cut answer is still an answer: the caller sees the terminated piece.
      StrCopyOut(text, static_cast<char*>(out), capacity, length);
      return 0;
    case AP_KIND_INT:
      if (out != nullptr) std::memcpy(out, &number, sizeof number);
      if (length != nullptr) *length = sizeof number;
      return 0;
    default:
      return KX_ERR_NOT_SUPPORTED;
  }
}

int ConnGet(JConn* c, AgentPropertyId id, int32_t* number, char* text) {
  switch (AgentPropertyClass(id)) {
    case AP_CLASS_CAPABILITY:
      switch (id) {
        case AP_CONN_AGENT_FEATURES: *number = 0x2AFFFF; return 0;
        case AP_CONN_NEEDBIND: case AP_CONN_HAS_MORE_RES: case AP_CONN_HAS_PARAM_OP:
        case AP_CONN_HAS_SCRL_CURS: case AP_CONN_ROWS_LOCKED_BY_UPDATE: case AP_CONN_HAS_EXECUTE2:
          *number = 1;
          return 0;
        case AP_CONN_SP_OUT_DEFER_FETCH: case AP_CONN_HAS_V2DAE:
          *number = 0;
          return 0;
        // The XA routing layer makes a fresh context for every xa_open, and
        // its workers are always stopped by asking them, never by force.
        case XaCap_KeepContext: case XaCap_TerminateWorker: *number = 0; return 0;
        case AP_CONN_HAS_DYN_MIX_CURS:
          *number = 1;
          c->dynCursorCapable = 1;
          return 0;
        case AP_CONN_MAX_PARAMS: *number = 255; return 0;
        case AP_CONN_ROW_VERSION_TABLE: *number = c->opts.dynCursSensitivity == DCS_HIGH ? 1 : 0; return 0;
        case AP_CONN_CAPABILITY_MASK: *number = JDB_CapabilityWord(c); return 0;
        case AP_CONN_UNICODE_CLIENT:
          if (!UnicodeBuild()) return KX_ERR_NOT_SUPPORTED;
          *number = c->unicodeClient != 0 ? 1 : 0;
          return 0;
        case AP_CONN_CATALOG: return JC_Connection_getCatalog(c, c->conn, text, kTextRoom);
        case AP_CONN_DEAD: *number = JC_Connection_isLost(c) ? 1 : 0; return 0;
        // The databases known to compare row values; for any other one the
        // cursor layer keeps to plain equalities.
        case AP_CONN_ROW_VALUE_IN: {
          const int dialect = JDB_ConnDialect(c);
          *number = dialect == PSQL_DIALECT_POSTGRES || dialect == PSQL_DIALECT_H2 ? 1 : 0;
          return 0;
        }
        case AP_CONN_SCHEMA: return JC_Connection_getSchema(c, c->conn, text, kTextRoom);
        default: return KX_ERR_NOT_SUPPORTED;
      }
    case AP_CLASS_OPTION:
      switch (id) {
        case AP_CONN_AUTOCOMMIT: {
          uint8_t on = 0;
          int status = JC_Connection_getAutoCommit(c, c->conn, &on);
          *number = on != 0 ? 1 : 0;
          return status;
        }
        case AP_CONN_READONLY: *number = c->accessMode; return 0;
        case AP_CONN_ISOLATION: return JC_Connection_getTransactionIsolation(c, c->conn, number);
        default: return KX_ERR_NOT_SUPPORTED;
      }
    case AP_CLASS_GETINFO:
      return JDB_GetInfoAnswer(c, static_cast<uint16_t>(AgentPropertyItem(id)), number, text,
                               kTextRoom);
    default:
      return KX_ERR_NOT_SUPPORTED;
  }
}

int StmtGet(JStmt* s, AgentPropertyId id, int32_t* number) {
  switch (id) {
    case AP_STMT_QUERY_TIMEOUT:
      return s->stmt != nullptr ? JC_Statement_getQueryTimeout(s, s->stmt, number) : 0;
    case AP_STMT_MAX_ROWS: *number = s->maxRows; return 0;
    case AP_STMT_NOSCAN: *number = s->noscan != 0 ? 1 : 0; return 0;
    case AP_STMT_MAX_LENGTH: *number = s->maxLength; return 0;
    case AP_STMT_CURSOR_TYPE: *number = s->cursor.cursorType; return 0;
    case AP_STMT_CONCURRENCY: *number = s->cursor.concurrency; return 0;
    case AP_STMT_KEYSET_SIZE: *number = s->cursor.keysetSize; return 0;
    case AP_STMT_ROWSET_SIZE: *number = s->cursor.rowsetSize; return 0;
    case AP_STMT_SIMULATE_CURSOR: *number = s->cursor.simulateCursor; return 0;
    case AP_STMT_RETRIEVE_DATA: *number = s->cursor.retrieveData; return 0;
    case AP_STMT_USE_BOOKMARKS: *number = s->cursor.useBookmarks; return 0;
    case AP_STMT_GET_BOOKMARK: case AP_STMT_ROW_NUMBER: *number = 0; return 0;
    case AP_STMT_SERIAL:
      if (s->stmt != nullptr && JC_Statement_getSerial(s, s->stmt, number) != 0) {
        // No serial value to give is an answer of 0, not an error.
        *number = 0;
        JC_ClearException(s->jni);
        JDB_MsgFreeList(&s->msgs);
      }
      return 0;
    case AP_STMT_OPTIMISTIC_MODE: *number = s->cursor.optimisticMode; return 0;
    case AP_STMT_FAIL_ALONE: *number = s->failAlone; return 0;
    case AP_STMT_ROW_COUNT:
      if (s->rowCountKnown != 0) {
        *number = s->rowCount;
      } else if (s->changedRows != 0 && (s->flags & (JS_RSOPEN | JS_END)) == (JS_RSOPEN | JS_END)) {
        *number = s->rowsFetched;  // every row the change returned has been read
      } else {
        *number = -1;
      }
      return 0;
    case AP_STMT_PARAM_ROWS_RUN: *number = s->executions; return 0;
    default:
      return KX_ERR_NOT_SUPPORTED;
  }
}

int ConnSet(JConn* c, AgentPropertyId id, const void* value) {
  switch (id) {
    case AP_CONN_SET_CATALOG: case AP_CONN_ODBC_VERSION: case AP_CONN_MULTI_ACTIVE_STMTS:
    case AP_CONN_AUTOCOMMIT: case AP_CONN_READONLY: case AP_CONN_ISOLATION:
      break;
    default:
      return KX_ERR_NOT_CAPABLE;  // the value is not read
  }
  if (value == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (id == AP_CONN_SET_CATALOG) {
    return JC_Connection_setCatalog(c, c->conn, static_cast<const char*>(value));
  }
  int32_t v = 0;
  std::memcpy(&v, value, sizeof v);
  switch (id) {
    case AP_CONN_ODBC_VERSION: c->odbcVersion = v; return 0;
    case AP_CONN_MULTI_ACTIVE_STMTS: c->multipleActive = v; return 0;
    case AP_CONN_AUTOCOMMIT: return JC_Connection_setAutoCommit(c, c->conn, v != 0 ? 1 : 0);
    case AP_CONN_READONLY: c->accessMode = v != 0 ? 1 : 0; return 0;
    case AP_CONN_ISOLATION: {
      const int status = JC_Connection_setTransactionIsolation(c, c->conn, v);
      if (status == 0) c->isolation = v;
      return status;
    }
    default: return KX_ERR_NOT_CAPABLE;
  }
}

int StmtSet(JStmt* s, AgentPropertyId id, const void* value) {
  switch (id) {
    case AP_STMT_QUERY_TIMEOUT: case AP_STMT_MAX_ROWS: case AP_STMT_NOSCAN:
    case AP_STMT_MAX_LENGTH: case AP_STMT_CURSOR_TYPE: case AP_STMT_CONCURRENCY:
    case AP_STMT_KEYSET_SIZE: case AP_STMT_ROWSET_SIZE: case AP_STMT_SIMULATE_CURSOR:
    case AP_STMT_RETRIEVE_DATA: case AP_STMT_USE_BOOKMARKS: case AP_STMT_ENABLE_AUTO_IPD:
    case AP_STMT_OPTIMISTIC_MODE: case AP_STMT_FAIL_ALONE:
      break;
    default:
      return KX_ERR_NOT_CAPABLE;  // the value is not read
  }
  if (value == nullptr) return KX_ERR_BAD_ARGUMENT;
  int32_t v = 0;
  std::memcpy(&v, value, sizeof v);
  const JConn* c = s->conn;
  switch (id) {
    case AP_STMT_QUERY_TIMEOUT:
      // Kept for the Java statements the next prepares make as well.
      if (s->stmt != nullptr) {
        if (int status = JC_Statement_setQueryTimeout(s, s->stmt, v); status != 0) return status;
      }
      s->queryTimeout = v > 0 ? v : 0;
      return 0;
    case AP_STMT_MAX_ROWS:
      if (c->opts.maxRows != 0 && (v == 0 || v > c->opts.maxRows)) {
        s->maxRows = c->opts.maxRows;  // the caller reads the kept value back
        return KX_ERR_OPTION_CHANGED;
      }
      s->maxRows = v;
      return 0;
    case AP_STMT_NOSCAN: s->noscan = v != 0 ? 1 : 0; return 0;
    case AP_STMT_MAX_LENGTH: s->maxLength = v; return 0;
    case AP_STMT_CURSOR_TYPE: {
      int status = JDB_NegotiateCursorOpt(s, 6, &v);
      if (status != 0 && status != KX_ERR_OPTION_CHANGED) return status;
      if (v == 2 && c->dynCursorCapable == 0) {
        v = 1;
        status = KX_ERR_OPTION_CHANGED;
      }
      s->cursor.cursorType = v;
      s->cursor.flags |= 0x40;
      return status;
    }
    case AP_STMT_CONCURRENCY: {
      int status = JDB_NegotiateCursorOpt(s, 7, &v);
      if (status != 0 && status != KX_ERR_OPTION_CHANGED) return status;
      s->cursor.concurrency = v;
      return status;
    }
    case AP_STMT_KEYSET_SIZE:
      if (c->dynCursorCapable == 0 && v != 0) return KX_ERR_OPTION_CHANGED;
      s->cursor.keysetSize = v > 5000 ? 5000 : v;
      s->cursor.flags |= 0x100;
      return 0;
    case AP_STMT_ROWSET_SIZE: {
      int status = 0;
      if (c->opts.nrssl == 0 && v > 100) {
        v = 100;
        status = KX_ERR_OPTION_CHANGED;
      }
      s->cursor.rowsetSize = v;
      s->cursor.flags |= SCS_FLAG_ROWSET_CHANGED;
      return status;
    }
    case AP_STMT_SIMULATE_CURSOR: s->cursor.simulateCursor = v; return 0;
    case AP_STMT_RETRIEVE_DATA: s->cursor.retrieveData = v; return 0;
    case AP_STMT_USE_BOOKMARKS: s->cursor.useBookmarks = v; return 0;
    case AP_STMT_ENABLE_AUTO_IPD:
      return v != 0 && s->probed == 0 ? JDB_DescribeParamsByProbe(s) : 0;
    case AP_STMT_FAIL_ALONE: s->failAlone = v != 0 ? 1 : 0; return 0;
    case AP_STMT_OPTIMISTIC_MODE:
      if (v != 1 && v != 2) return KX_ERR_BAD_ARGUMENT;
      s->cursor.optimisticMode = v;
      return 0;
    default:
      return KX_ERR_NOT_CAPABLE;
  }
}

}  // namespace

int32_t JDB_CapabilityWord(JConn* c) {
  c->dynCursorCapable = 1;
  // Everything the agent does, and autocommit unless the connection asked
  // for none (NOAC).
  const int32_t word = CAP_NEEDBIND | CAP_HAS_MORE_RES | CAP_HAS_PARAM_OP | CAP_HAS_SCRL_CURS |
                       CAP_HAS_DYN_MIX_CURS | CAP_HAS_EXECUTE2 | CAP_EXT_DESCRIBE | CAP_MAX_LENGTH |
                       CAP_DTC;
  return c->opts.noac != 0 ? word : word | CAP_AUTOCOMMIT;
}

int32_t JDB_ScrollOptions(const JConn* c) { const int32_t always = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC;
  const int32_t scrolling = SQL_SO_KEYSET_DRIVEN | SQL_SO_DYNAMIC | SQL_SO_MIXED;
  return c->opts.dynCursSensitivity == DCS_DISABLED ? always : always | scrolling; }

int JDB_NegotiateCursorOpt(JStmt* s, int32_t option, int32_t* value) {
  const int32_t requested = *value;
  int32_t v = requested;
  const CursorOptChain* row = JDB_CursorOptLookup(option);
  int32_t answer = 0;
  if (row != nullptr && CursorInfo(s, row->infoType, &answer)) {
    int pos = 0;
    while (v != kEnd) {
      int32_t bit = JDB_CursorOptBit(row, v);
      if (bit != kEnd && (answer & bit) != 0) break;
      v = JDB_CursorOptNext(row, v, &pos);
    }
  }
  if (v == kEnd) return KX_ERR_NOT_CAPABLE;
  if (v != requested) {
    *value = v;
    return KX_ERR_OPTION_CHANGED;
  }
  return 0;
}

namespace {

// The XA routing layer's question for a connection's context field, asked on
// every call it wraps: a handle lookup, no Java work.
int32_t XaContextSlot(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                      uint16_t* length) {
  JConn* c = nullptr;
  if (id == XaProp_ConnContext) {
    c = JDB_FindConn(h);
  } else if (JStmt* s = JDB_FindStmt(h); s != nullptr) {
    c = s->conn;
  }
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (out == nullptr || capacity < sizeof(XaThreadCtx**)) return KX_ERR_BAD_ARGUMENT;
  XaThreadCtx** slot = &c->xaCtx;
  std::memcpy(out, &slot, sizeof slot);
  if (length != nullptr) *length = sizeof slot;
  return 0;
}

}  // namespace

int32_t DRV_GetProperty(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                        uint16_t* length) {
  if (id == XaProp_ConnContext || id == XaProp_StmtContext) {
    return XaContextSlot(h, id, out, capacity, length);
  }
  int32_t number = 0;
  char text[kTextRoom + 1] = {0};
  switch (AgentPropertyLevel(id)) {
    case AP_LEVEL_ENV:
      if (HT_Lookup(&JDB_EnvTable, h) == nullptr) return KX_ERR_BAD_ARGUMENT;
      if (id != AP_ENV_AGENT_KIND) return KX_ERR_NOT_SUPPORTED;
      JDB_BrokerKnown = 1;
      return Deliver(id, 0, "jdbc", out, capacity, length);
    case AP_LEVEL_CONN: {
      JConn* c = JDB_FindConn(h);
      if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
      c->jni = JVM_AttachThread();
      if (c->jni == nullptr) return KX_ERR_GENERAL;
      JFrame frame(c->jni, JDB_FRAME_SMALL);
      if (!frame.ok()) return KX_ERR_NOMEM;
      int status = ConnGet(c, id, &number, text);
      if (status != 0) return status;
      text[kTextRoom] = '\0';
      return Deliver(id, number, text, out, capacity, length);
    }
    case AP_LEVEL_STMT: {
      JStmt* s = nullptr;
      if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
      JFrame frame(s->jni, JDB_FRAME_SMALL);
      if (!frame.ok()) return KX_ERR_NOMEM;
      int status = StmtGet(s, id, &number);
      if (status != 0) return status;
      return Deliver(id, number, text, out, capacity, length);
    }
    default:
      return KX_ERR_NOT_SUPPORTED;
  }
}

int32_t DRV_SetProperty(AgentHandle h, AgentPropertyId id, const void* value) {
  switch (AgentPropertyLevel(id)) {
    case AP_LEVEL_ENV:
      return HT_Lookup(&JDB_EnvTable, h) != nullptr ? KX_ERR_NOT_CAPABLE : KX_ERR_BAD_ARGUMENT;
    case AP_LEVEL_CONN: {
      JConn* c = JDB_FindConn(h);
      if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
      c->jni = JVM_AttachThread();
      if (c->jni == nullptr) return KX_ERR_GENERAL;
      JFrame frame(c->jni, JDB_FRAME_SMALL);
      if (!frame.ok()) return KX_ERR_NOMEM;
      return ConnSet(c, id, value);
    }
    case AP_LEVEL_STMT: {
      JStmt* s = nullptr;
      if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
      JFrame frame(s->jni, JDB_FRAME_SMALL);
      if (!frame.ok()) return KX_ERR_NOMEM;
      return StmtSet(s, id, value);
    }
    default:
      return KX_ERR_NOT_SUPPORTED;
  }
}

}  // namespace kx
