#include "odbc/exec/type_info.h"

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "odbc/copy_out.h"
#include "odbc/desc.h"
#include "odbc/exec/fetch.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// The columns the descriptor engine asks: TYPE_NAME, LITERAL_PREFIX and
// LITERAL_SUFFIX. One query fetches all three.
constexpr uint16_t kCachedColumns[] = {1, 4, 5};

struct ColumnAnswer {
  SQLRETURN rc = SQL_NO_DATA;
  bool isNull = false;
  std::string text;
};

struct TypeAnswer {
  SQLRETURN fetchRc = SQL_NO_DATA;      // the first-row fetch; other than success answers every column
  std::map<uint16_t, ColumnAnswer> columns;
};

// What one connection's agent answered, valid for one open of the
// connection: a reconnect (another agent connection) starts afresh.
struct ConnCache {
  uint32_t handle = 0;
  AgentHandle agentServer = 0;
  AgentHandle agentConn = 0;
  std::map<int16_t, TypeAnswer> types;
};

std::mutex g_cacheLock;  // owned by the cache map below; held only around map access
std::map<const ConnRecord*, ConnCache>& Cache() {
  static auto* cache = new std::map<const ConnRecord*, ConnCache>;  // outlives every caller
  return *cache;
}
std::atomic<uint64_t> g_queries{0};

bool SameOpen(const ConnCache& c, const ConnRecord* conn) {
  return c.handle == conn->handle && c.agentServer == conn->agentServer && c.agentConn == conn->agentConn;
}

// Runs the query on a statement of its own and reads the first row's columns.
// SQL_ERROR when the query could not run (nothing kept then).
SQLRETURN QueryType(ConnRecord* conn, int16_t sqlType, uint16_t extraColumn, TypeAnswer* out) {
  StmtRecord* stmt = StmtAlloc(conn);
  if (stmt == nullptr) return SQL_ERROR;
  ++g_queries;
  SQLRETURN result = SQL_SUCCESS;
  const int32_t code = AgentCall(conn->binding, &AgentOps::DRV_DDTypeInfo, stmt->agentStmt, sqlType);
  if (code != 0) {
    result = SQL_ERROR;
  } else {
    stmt->state = STMT_PREPARED;
    stmt->flags |= SF_EXECUTED;
    out->fetchRc = StmtFetchForward(stmt);
    if (out->fetchRc == SQL_ERROR) {
      result = SQL_ERROR;
    } else if (out->fetchRc == SQL_SUCCESS) {
      auto read = [&](uint16_t column) {
        if (out->columns.count(column) != 0) return;
        ColumnAnswer a;
        char buffer[1024];
        int64_t length = 0;
        a.rc = StmtGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &length);
        if (a.rc == SQL_SUCCESS || a.rc == SQL_SUCCESS_WITH_INFO) {
          a.isNull = length == SQL_NULL_DATA;
          if (!a.isNull) {
            buffer[sizeof buffer - 1] = '\0';
            a.text = buffer;
          }
        }
        out->columns[column] = std::move(a);
      };
      for (uint16_t column : kCachedColumns) read(column);
      read(extraColumn);
    }
  }
  StmtClose(stmt);
  StmtFree(stmt);
  return result;
}

SQLRETURN Answer(const TypeAnswer& t, uint16_t column, char* buffer, int64_t bufferLength,
                 int64_t* length) {
  if (t.fetchRc != SQL_SUCCESS) return t.fetchRc;
  auto it = t.columns.find(column);
  if (it == t.columns.end()) return SQL_ERROR;
  const ColumnAnswer& a = it->second;
  if (a.rc != SQL_SUCCESS && a.rc != SQL_SUCCESS_WITH_INFO) return a.rc;
  if (a.isNull) {
    if (length != nullptr) *length = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  int32_t err = 0;
  return CopyOutNarrow(a.text.data(), a.text.size(), static_cast<int64_t>(a.text.size()), 0, 1, 1, buffer,
                       bufferLength, length, &err);
}

}  // namespace

SQLRETURN GetTypeInfo(StmtRecord* stmt, int16_t sqlType) {
  StmtClose(stmt);
  if (stmt->state != STMT_ALLOCATED) {
    stmt->error = KX_ERR_SEQUENCE;
    return SQL_ERROR;
  }
  StmtFreeColDescs(stmt);
  const AgentBinding none{0, nullptr};
  const int32_t code =
      AgentCall(stmt->binding != nullptr ? *stmt->binding : none, &AgentOps::DRV_DDTypeInfo, stmt->agentStmt,
                sqlType);
  if (code != 0) {
    stmt->error = code;
    return SQL_ERROR;
  }
  stmt->state = STMT_PREPARED;
  stmt->flags |= SF_EXECUTED;
  return SQL_SUCCESS;
}

SQLRETURN FetchTypeInfoColumn(ConnRecord* conn, uint16_t column, int16_t sqlType, char* buffer,
                              int64_t bufferLength, int64_t* length) {
  if (conn == nullptr) return SQL_ERROR;
  if (conn->state != CONN_CONNECTED) {
    conn->error = KX_ERR_NOT_CONNECTED;
    return SQL_ERROR;
  }
  {
    std::lock_guard<std::mutex> lock(g_cacheLock);
    auto it = Cache().find(conn);
    if (it != Cache().end()) {
      if (!SameOpen(it->second, conn)) {
        Cache().erase(it);
      } else {
        auto t = it->second.types.find(sqlType);
        if (t != it->second.types.end() &&
            (t->second.fetchRc != SQL_SUCCESS || t->second.columns.count(column) != 0)) {
          return Answer(t->second, column, buffer, bufferLength, length);
        }
      }
    }
  }
  // The query runs without the cache lock: it calls the agent. The
  // connection's call lock keeps other calls of this connection out.
  TypeAnswer fresh;
  if (QueryType(conn, sqlType, column, &fresh) == SQL_ERROR) return SQL_ERROR;
  const SQLRETURN rc = Answer(fresh, column, buffer, bufferLength, length);
  std::lock_guard<std::mutex> lock(g_cacheLock);
  ConnCache& c = Cache()[conn];
  if (!SameOpen(c, conn)) {
    c.types.clear();
    c.handle = conn->handle;
    c.agentServer = conn->agentServer;
    c.agentConn = conn->agentConn;
  }
  TypeAnswer& kept = c.types[sqlType];
  kept.fetchRc = fresh.fetchRc;
  for (auto& [n, a] : fresh.columns) kept.columns[n] = std::move(a);
  return rc;
}

void TypeInfoCacheDrop(const ConnRecord* conn) {
  std::lock_guard<std::mutex> lock(g_cacheLock);
  Cache().erase(conn);
}

uint64_t TypeInfoQueriesRun() { return g_queries.load(); }

// ---- handler and the descriptor engine's hook ----------------------------------------

SQLRETURN GetTypeInfoCall(HandleHead* rec, const OdbcArgs& args) {
  return GetTypeInfo(static_cast<StmtRecord*>(rec), args.Get<int16_t>(0));
}


}  // namespace kx
