#include "drv_jdbc/j_conn.h"

#include <sql.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_catalog.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_connect.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_info.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_typemap.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/hash_table.h"
#include "util/log.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {


namespace {

// Every connection goes through the vendor's data source; the second class
// is the XA data source used when the connection is opened for XA.
constexpr char kClassList[] =
    "{com.informix.jdbcx.IfxDataSource;com.informix.jdbcx.IfxXADataSource}";

char* Dup(const char* text) {
  if (text == nullptr) text = "";
  size_t n = std::strlen(text);
  char* out = static_cast<char*>(std::malloc(n + 1));
  if (out != nullptr) std::memcpy(out, text, n + 1);
  return out;
}

void NoMemoryOnEnv(JEnv* e) {
  LogAt(LOG_ERROR, __FILE__, __LINE__, "Memory allocation failure");
  std::lock_guard<std::mutex> hold(JDB_AgentMutex());
  std::lock_guard<std::mutex> msgs(e->lock);
  JDB_MsgAddText(&e->msgs, "Memory allocation failure", KX_ERR_NOMEM);
}

// Slash form of a dotted class list: every '.' after the first character.
void ToSlashes(char* text) {
  if (text == nullptr || *text == '\0') return;
  for (char* p = text + 1; *p != '\0'; ++p) {
    if (*p == '.') *p = '/';
  }
}

// A failed connect leaves its reasons on the environment, which the core
// reads with DRV_GetMessages on the environment handle.
void MoveMessagesToEnv(JConn* c, JEnv* e) {
  std::lock_guard<std::mutex> hold(JDB_AgentMutex());
  std::lock_guard<std::mutex> msgs(e->lock);
  JDB_MsgFreeList(&e->msgs);
  e->msgs = c->msgs;
  c->msgs.head = nullptr;
}

int32_t TxnEnd(AgentHandle h, bool commit) {
  JConn* c = JDB_FindConn(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  c->jni = JVM_AttachThread();
  if (c->jni == nullptr) return KX_ERR_GENERAL;
  JFrame frame(c->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  // In autocommit mode no transaction is open, and ending none succeeds
  // with no effect (PostgreSQL's driver refuses the call instead).
  uint8_t autoCommit = 0;
  if (int status = JC_Connection_getAutoCommit(c, c->conn, &autoCommit); status != 0) return status;
  if (autoCommit != 0) return 0;
  return commit ? JC_Connection_commit(c, c->conn) : JC_Connection_rollback(c, c->conn);
}

}  // namespace

void JC_FreeConn(JConn* c) {
  if (c == nullptr) return;
  std::free(c->opts.initSql);
  std::free(c->opts.sqlDbmsName);
  std::free(c->xaDsClass);
  std::free(c->props);
  std::free(c->classList);
  if (c->user != nullptr) std::free(c->user);
  if (c->password != nullptr) {
    // The password does not outlive the connection in freed memory.
    volatile char* p = c->password;
    while (*p != '\0') *p++ = '\0';
    std::free(c->password);
  }
  JDB_TypeMapFree(c->typeMap);
  c->typeMap = nullptr;
  if (c->funcNames != nullptr) HashDestroy(c->funcNames);
  c->funcNames = nullptr;
  std::free(c->xaRecover);
  c->xaRecoverCount = 0;
  c->xaRecoverCursor = 0;
  JDB_MsgFreeList(&c->msgs);
  delete c;
}

int32_t DRV_Connect(AgentHandle server, ConnectBlock* block, AgentHandle* out) {
  JEnv* e = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, server));
  if (e == nullptr || block == nullptr || out == nullptr) return KX_ERR_BAD_ARGUMENT;
  *out = 0;
  JConn* c = new (std::nothrow) JConn{};
  if (c == nullptr) {
    NoMemoryOnEnv(e);
    return KX_ERR_NOMEM;
  }
  // The connection takes the option texts over.
  if (block->connOptions != nullptr) {
    c->opts = *block->connOptions;
    block->connOptions->initSql = nullptr;
    block->connOptions->sqlDbmsName = nullptr;
  }
  c->env = e;
  const char* options = block->options;
  if (options != nullptr && std::strlen(options) >= 4 && options[0] == 'W' &&
      static_cast<unsigned char>(options[1]) == 0x7F && options[2] == 0x01 && options[3] == 0x01) {
    c->unicodeClient = 1;
  }
  c->odbcVersion = 2;
  c->readOnly = block->readOnly;
  c->accessMode = block->readOnly;
  c->funcNames = JDB_MakeFunctionNameMap();
  if (c->funcNames == nullptr) {
    NoMemoryOnEnv(e);
    JC_FreeConn(c);
    return KX_ERR_NOMEM;
  }

  c->jni = JVM_AttachThread();
  if (c->jni == nullptr) {
    JC_FreeConn(c);
    return KX_ERR_GENERAL;
  }
  int status = 0;
  jobject local = nullptr;
  jobject meta = nullptr;
  {
    JFrame frame(c->jni, JDB_FRAME_SMALL);
    if (!frame.ok()) {
      JC_FreeConn(c);
      return KX_ERR_NOMEM;
    }
    c->xidClass = e->xidClass;
    c->loader = e->loader;
    if (block->dbOptions != nullptr) {
      char* url = Dup(block->dbOptions);
      if (url == nullptr) {
        NoMemoryOnEnv(e);
        JC_FreeConn(c);
        return KX_ERR_NOMEM;
      }
      char* stripped = JC_StripBraces(url);
      c->props = Dup(stripped);
      std::free(url);
      if (c->props == nullptr) {
        NoMemoryOnEnv(e);
        JC_FreeConn(c);
        return KX_ERR_NOMEM;
      }
    }
    char classes[1024];
    std::strncpy(classes, kClassList, sizeof classes - 1);
    classes[sizeof classes - 1] = '\0';
    c->classList = Dup(JC_StripBraces(classes));
    c->user = Dup(block->user);
    c->password = Dup(block->password);
    if (c->classList == nullptr || c->user == nullptr || c->password == nullptr) {
      NoMemoryOnEnv(e);
      JC_FreeConn(c);
      return KX_ERR_NOMEM;
    }
    ToSlashes(c->classList);

    if (c->props == nullptr) {
      // The data source has nothing to connect to without its property list:
      // say so, rather than report a memory failure.
      LogAt(LOG_ERROR, __FILE__, __LINE__, "No data-source properties (URL) for the connection");
      JDB_MsgAddText(&c->msgs,
                     "No data-source properties (URL) given for the connection: the "
                     "connect-string keyword URL (data-source key URLString) gives them, for "
                     "example URL={URL=jdbc:postgresql://host/database}",
                     50);
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else {
      // _getConnection cuts the class list in place and cuts the property list
      // it parses: give it copies so the record keeps both whole.
      char* props = Dup(c->props);
      char* xaClass = nullptr;
      if (props == nullptr) {
        status = KX_ERR_NOMEM;
      } else {
        status = _getConnection(c, &local, c->classList, props, c->user, c->password, &xaClass);
        std::free(props);
      }
      if (xaClass != nullptr) {
        ToSlashes(xaClass);
        c->xaDsClass = xaClass;
      }
    }
    if (status == 0 && local == nullptr) status = KX_ERR_UNABLE_TO_CONNECT;
    if (status == 0) status = JC_Connection_getMetaData(c, local, &meta);
    if (status == 0 && block->readOnly != 0) status = JC_Connection_setReadOnly(c, local, 1);
    if (status == 0 && c->opts.noac != 0) status = JC_Connection_setAutoCommit(c, local, 0);
    if (status != 0) {
      // The reasons reach the application as diagnostics (a refusal by the
      // DBMS is not a driver error): no line on standard error by default.
      LogAt(LOG_WARNING, __FILE__, __LINE__, "Can't connect to DBMS...");
      if (local != nullptr) {
        // A half-made connection is closed, not left to the garbage collector.
        JC_Connection_close(c, local);
      }
      MoveMessagesToEnv(c, e);
      JC_FreeConn(c);
      return status;
    }
    if (c->opts.initSql != nullptr && c->opts.initSql[0] != '\0') {
      JDB_RunInitialSql(c, local, c->opts.initSql);
    }
    c->conn = c->jni->NewGlobalRef(local);
    c->meta = meta != nullptr ? c->jni->NewGlobalRef(meta) : nullptr;
    if (c->conn == nullptr || (meta != nullptr && c->meta == nullptr)) {
      JC_ClearException(c->jni);
      JC_Connection_close(c, local);
      if (c->conn != nullptr) c->jni->DeleteGlobalRef(c->conn);
      if (c->meta != nullptr) c->jni->DeleteGlobalRef(c->meta);
      NoMemoryOnEnv(e);
      JC_FreeConn(c);
      return KX_ERR_NOMEM;
    }
  }
  c->preparedDescribe = 1;
  c->asciiStreamMode = 1;
  c->binaryStreamMode = 1;
  uint32_t handle = 0;
  status = HT_Alloc(&JDB_ConnTable, &handle, c);
  if (status != 0) {
    JFrame frame(c->jni, JDB_FRAME_SMALL);
    JC_Connection_close(c, c->conn);
    c->jni->DeleteGlobalRef(c->conn);
    if (c->meta != nullptr) c->jni->DeleteGlobalRef(c->meta);
    MoveMessagesToEnv(c, e);
    JC_FreeConn(c);
    return status;
  }
  c->handle = handle;
  // The type map waits until a type name is first asked for: a connect
  // then costs no type-information query.
  *out = handle;
  return 0;
}

namespace {

void CopyCell(const RowBuffer& b, int col, int32_t r, char* out, size_t room) {
  out[0] = '\0';
  if (col >= b.colCount || b.columns[col].indicators[r] != RB_IND_DATA) return;
  uint32_t len = room - 1;
  if (RB_GetValue(&b, r, static_cast<uint16_t>(col), out, &len) != 0) len = 0;
  out[len < room ? len : room - 1] = '\0';
}

bool CellInt(const RowBuffer& b, int col, int32_t r, int32_t* v) {
  if (col >= b.colCount || b.columns[col].indicators[r] != RB_IND_DATA) return false;
  const RowBufferColumn& c = b.columns[col];
  const unsigned char* e = RB_Element(&c, static_cast<size_t>(r));
  if (c.type == RBT_SSHORT) {
    int16_t x;
    std::memcpy(&x, e, 2);
    *v = x;
  } else if (c.type == RBT_SLONG) {
    std::memcpy(v, e, 4);
  } else {
    return false;
  }
  return true;
}

}  // namespace

HashTable* JDB_LoadTypeMap(AgentHandle connHandle, JConn* c) {
  HashTable* map = HashCreate(100, 2);
  if (map == nullptr) return map;
  AgentHandle sh = 0;
  if (DRV_AllocStmt(connHandle, &sh) != 0) return map;
  // Type names come back as plain bytes, not as wide text.
  if (JStmt* s = JDB_FindStmt(sh); s != nullptr) s->unicodeClient = 0;
  if (DRV_DDTypeInfo(sh, 0) == 0) {
    bool full = false;
    while (!full) {
      RowBuffer block{};
      if (DRV_FetchBlock(sh, 100, &block) != 0 || block.rowCount == 0 || block.colCount <= 4) {
        RB_Free(&block);
        break;
      }
      for (int32_t r = 0; r < block.rowCount && !full; ++r) {
        int32_t type = 0;
        if (!CellInt(block, 1, r, &type)) continue;
        // What a column of the exact numbers declared without a precision
        // can hold (the first NUMERIC row is the general type).
        if (int32_t size = 0; type == SQL_NUMERIC && c->maxDecimalPrecision == 0 &&
                              CellInt(block, 2, r, &size) && size > 0) {
          c->maxDecimalPrecision = size;
        }
        auto* e = static_cast<TypeInfoEntry*>(std::calloc(1, sizeof(TypeInfoEntry)));
        if (e == nullptr) {
          full = true;
          break;
        }
        CopyCell(block, 0, r, e->typeName, 61);
        CopyCell(block, 3, r, e->prefix, 7);
        CopyCell(block, 4, r, e->suffix, 7);
        if (JDB_TypeMapOffer(map, JDB_TypeMapKey(type), e) != 0) full = true;
      }
      RB_Free(&block);
    }
  }
  DRV_FreeStmt(sh);
  return map;
}

int32_t DRV_Disconnect(AgentHandle h) {
  JConn* c = JDB_FindConn(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  c->jni = JVM_AttachThread();
  if (c->jni == nullptr) return KX_ERR_GENERAL;
  {
    JFrame frame(c->jni, JDB_FRAME_SMALL);
    std::lock_guard<std::mutex> hold(JDB_AgentMutex());
    // The statement table's own lock keeps other threads' allocations from
    // moving the entry array while it is walked.
    HT_Lock(&JDB_StmtTable);
    for (uint16_t i = 0; i < JDB_StmtTable.capacity; ++i) {
      HandleEntry& entry = JDB_StmtTable.entries[i];
      if (entry.tag == 0 || entry.object == nullptr) continue;
      JStmt* s = static_cast<JStmt*>(entry.object);
      if (s->conn != c) continue;
      uint32_t sh = static_cast<uint32_t>(entry.tag) << 16 | i;
      s->jni = c->jni;
      JDB_StmtDestroy(s);
      HT_Release(&JDB_StmtTable, sh);
    }
    HT_Unlock(&JDB_StmtTable);
    if (c->conn != nullptr) JC_Connection_close(c, c->conn);
    if (c->xaConn != nullptr) {
      JC_CallVoidMethod(c->jni, c->xaConn, nullptr, "close", "()V");
      JC_ClearException(c->jni);
      c->jni->DeleteGlobalRef(c->xaConn);
      c->xaConn = nullptr;
    }
    if (c->xaRes != nullptr) c->jni->DeleteGlobalRef(c->xaRes);
    c->xaRes = nullptr;
    if (c->meta != nullptr) c->jni->DeleteGlobalRef(c->meta);
    if (c->conn != nullptr) c->jni->DeleteGlobalRef(c->conn);
    c->meta = nullptr;
    c->conn = nullptr;
  }
  JVM_DetachThread();
  HT_Release(&JDB_ConnTable, h);
  JC_FreeConn(c);
  return 0;
}

int32_t DRV_NativeSql(AgentHandle h, const char* sql, char* out, uint16_t capacity,
                      uint16_t* length) {
  if (length != nullptr) *length = 0;
  JConn* c = JDB_FindConn(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  c->jni = JVM_AttachThread();
  if (c->jni == nullptr) return KX_ERR_GENERAL;
  JFrame frame(c->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  char* text = nullptr;
  int status = JC_Connection_nativeSQL(c, c->conn, sql, &text);
  if (status != 0) return status;
  int cut = StrCopyOut(text != nullptr ? text : "", out, capacity, length);
  std::free(text);
  return cut != 0 ? KX_ERR_DATA_TRUNCATED : 0;
}

int32_t DRV_Commit(AgentHandle h) { return TxnEnd(h, true); }

int32_t DRV_Rollback(AgentHandle h) { return TxnEnd(h, false); }

}  // namespace kx
