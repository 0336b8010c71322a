// The test agent (see test_agent.h). One process-wide state under one mutex;
// every operation records its call, takes a queued failure script when there
// is one, and otherwise answers like a well-behaved agent.
#include "support/test_agent.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <sqlext.h>

#include "agent/agent.h"
#include "odbc/connstr.h"
#include "odbc/libmain.h"

#define KX_TEST_AGENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using kx::AgentHandle;

constexpr AgentHandle kServerTag = 0xAAAA0000u;
constexpr AgentHandle kConnTag = 0xBBBB0000u;
constexpr AgentHandle kStmtTag = 0xCCCC0000u;

struct Failure {
  int code;
  std::string state;
  std::string text;
  bool post;
};

struct Column {
  std::string name;
  int32_t sqlType;
};

struct State {
  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, int> calls;
  std::map<std::string, std::deque<Failure>> failures;
  std::map<uint32_t, int32_t> properties;
  std::map<uint32_t, int32_t> setProperties;
  std::map<uint32_t, std::string> setTexts;
  std::map<AgentHandle, std::vector<std::string>> messages;
  std::map<AgentHandle, int32_t> natives;
  std::set<AgentHandle> servers, conns, stmts;
  uint32_t nextHandle = 1;
  int32_t flags = kx::AB_REENTRANT;
  int emptySlot = -1;
  std::string holdOp;
  bool held = false;
  bool released = false;
  std::map<std::string, std::string> lastConnect;
  std::deque<std::string> sql;
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;
  std::map<AgentHandle, size_t> nextRow;  // per statement: the next scripted row
  bool connectFails = false;  // every connect fails until switched back
  std::string lastInitSql;
  std::string lastSqlDbmsName;
  std::vector<Column> paramDescs;                 // what DRV_DescribeParams describes
  std::map<AgentHandle, kx::RowBuffer*> paramBlocks;  // parameter blocks taken over
  kx::RowBuffer* lastParamBlock = nullptr;
  std::vector<kx::SCS_PARAMDESC> lastParamInfo;   // the last descriptors received
  int paramInfoCalls = 0;
  std::vector<std::string> outputValues;          // the output row of a call
  bool hasOutputRow = false;
  // The last catalog operation: its name and arguments (NULL kept apart from "").
  std::string catalogOp;
  std::vector<std::pair<bool, std::string>> catalogArgs;
  std::map<AgentHandle, std::string> cursorNames;  // names given by DRV_SetCursorName
};

void DefaultProperties(State& s);

State& S() {
  static State* state = [] {
    auto* s = new State;  // outlives every caller, also at exit
    DefaultProperties(*s);
    return s;
  }();
  return *state;
}

void DefaultProperties(State& s) {
  s.properties.clear();
  s.properties[kx::AP_CONN_CAPABILITY_MASK] = 13727;
  s.properties[kx::AP_CONN_UNICODE_CLIENT] = 1;
  s.properties[kx::AP_CONN_ISOLATION] = SQL_TXN_READ_COMMITTED;
  s.properties[kx::AP_CONN_AUTOCOMMIT] = 1;
}

void Post(State& s, AgentHandle h, const Failure& f) {
  if (!f.post) return;
  s.messages[h].push_back("[Test Agent]" + f.text + "[SQLSTATE:" + f.state + "]");
  if (s.messages[h].size() == 1) s.natives[h] = -f.code;
}

// Records the call, blocks when asked to, and hands out a queued failure.
bool Enter(const char* op, Failure* failure) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.lock);
  s.calls[op]++;
  if (s.holdOp == op) {
    s.holdOp.clear();
    s.held = true;
    s.released = false;
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return s.released; });
    s.held = false;
  }
  auto it = s.failures.find(op);
  if (it == s.failures.end() || it->second.empty()) return false;
  *failure = it->second.front();
  it->second.pop_front();
  return true;
}

int32_t Fail(AgentHandle h, const Failure& f) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  Post(s, h, f);
  return f.code;
}

bool Known(const std::set<AgentHandle>& set, AgentHandle h) {
  std::lock_guard<std::mutex> lock(S().lock);
  return set.count(h) != 0;
}

AgentHandle NewHandle(std::set<AgentHandle>& set, AgentHandle tag) {
  std::lock_guard<std::mutex> lock(S().lock);
  AgentHandle h = tag | (S().nextHandle++ & 0xFFFF);
  set.insert(h);
  return h;
}

std::string Show(const char* text) {
  if (text == nullptr) return "";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p >= 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", *p);
      out += hex;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

// ---- operations --------------------------------------------------------------

int32_t GetProperty(AgentHandle h, kx::AgentPropertyId id, void* out, uint16_t capacity,
                    uint16_t* length) {
  Failure f;
  if (Enter("GetProperty", &f)) return Fail(h, f);
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  auto it = s.properties.find(id);
  if (it == s.properties.end()) return 1;
  if (out == nullptr || capacity < 4) return 21;
  memcpy(out, &it->second, 4);
  if (length != nullptr) *length = 4;
  return 0;
}

// A failure scripted for one property identifier ("SetProperty:<id in hex>").
bool TakePropertyFailure(kx::AgentPropertyId id, Failure* failure) {
  char key[32];
  snprintf(key, sizeof key, "SetProperty:%08x", static_cast<unsigned>(id));
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  auto it = s.failures.find(key);
  if (it == s.failures.end() || it->second.empty()) return false;
  *failure = it->second.front();
  it->second.pop_front();
  return true;
}

int32_t SetProperty(AgentHandle h, kx::AgentPropertyId id, const void* value) {
  Failure f;
  if (Enter("SetProperty", &f) || TakePropertyFailure(id, &f)) return Fail(h, f);
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  int32_t v = 0;
  if (value != nullptr && kx::AgentPropertyKind(id) == kx::AP_KIND_INT) memcpy(&v, value, 4);
  s.setProperties[id] = v;
  if (value != nullptr && kx::AgentPropertyKind(id) != kx::AP_KIND_INT) {
    s.setTexts[id] = static_cast<const char*>(value);
  }
  return 0;
}

int32_t GetMessages(AgentHandle h, kx::AgentMsgBlock* out) {
  Failure f;
  if (Enter("GetMessages", &f)) return f.code;
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  if (!s.servers.count(h) && !s.conns.count(h) && !s.stmts.count(h) && !s.messages.count(h)) {
    return 21;
  }
  auto it = s.messages.find(h);
  if (it == s.messages.end() || it->second.empty()) return 0;
  out->count = static_cast<uint32_t>(it->second.size());
  out->code = s.natives[h];
  out->texts = static_cast<char**>(calloc(out->count, sizeof(char*)));
  if (out->texts == nullptr) return 16;
  for (uint32_t i = 0; i < out->count; ++i) out->texts[i] = strdup(it->second[i].c_str());
  s.messages.erase(it);
  return 0;
}

int32_t AllocServer(const kx::AgentServerOptions*, AgentHandle* server) {
  Failure f;
  if (Enter("AllocServer", &f)) return Fail(0, f);  // the reason on handle 0
  *server = NewHandle(S().servers, kServerTag);
  return 0;
}

int32_t FreeServer(AgentHandle server) {
  Failure f;
  Enter("FreeServer", &f);
  std::lock_guard<std::mutex> lock(S().lock);
  S().servers.erase(server);
  S().messages.erase(server);
  return 0;
}

int32_t Connect(AgentHandle server, kx::ConnectBlock* block, AgentHandle* conn) {
  Failure f;
  bool fail = Enter("Connect", &f);
  {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.lastConnect.clear();
    s.lastConnect["host"] = Show(block->host);
    s.lastConnect["options"] = Show(block->options);
    s.lastConnect["optionsNull"] = block->options == nullptr ? "1" : "0";
    s.lastConnect["serverType"] = Show(block->serverType);
    s.lastConnect["dbPath"] = Show(block->dbPath);
    s.lastConnect["dataSource"] = Show(block->dataSource);
    s.lastConnect["dbOptions"] = Show(block->dbOptions);
    s.lastConnect["user"] = Show(block->user);
    s.lastConnect["password"] = Show(block->password);
    s.lastConnect["appName"] = Show(block->appName);
    s.lastConnect["readOnly"] = std::to_string(block->readOnly);
    s.lastConnect["loginTimeout"] = std::to_string(block->loginTimeout);
    s.lastConnect["flag"] = std::to_string(block->flag);
    // The agent takes the connect options over, texts included.
    kx::AgentConnOptions none{};
    kx::AgentConnOptions& options = block->connOptions != nullptr ? *block->connOptions : none;
    s.lastInitSql = options.initSql != nullptr ? options.initSql : "";
    s.lastSqlDbmsName = options.sqlDbmsName != nullptr ? options.sqlDbmsName : "";
    free(options.initSql);
    free(options.sqlDbmsName);
    options.initSql = nullptr;
    options.sqlDbmsName = nullptr;
    if (s.servers.count(server) == 0) return 21;
    if (!fail && s.connectFails) {
      fail = true;
      f = Failure{50, "08001", "Connection refused", true};
    }
  }
  if (fail) {
    // A failed connect leaves its messages on the new connection handle and
    // on the server.
    AgentHandle h = kConnTag | 0xFFFF;
    *conn = h;
    std::lock_guard<std::mutex> lock(S().lock);
    Post(S(), h, f);
    Post(S(), server, Failure{f.code, f.state, f.text + " (server)", f.post});
    return f.code;
  }
  *conn = NewHandle(S().conns, kConnTag);
  return 0;
}

int32_t Disconnect(AgentHandle conn) {
  Failure f;
  if (Enter("Disconnect", &f)) return Fail(conn, f);
  std::lock_guard<std::mutex> lock(S().lock);
  if (S().conns.erase(conn) == 0) return 21;
  return 0;
}

int32_t AllocStmt(AgentHandle conn, AgentHandle* stmt) {
  Failure f;
  if (Enter("AllocStmt", &f)) return Fail(conn, f);
  if (!Known(S().conns, conn)) return 21;
  if (kx::JDB_BrokerKnown == 0) return 152;
  *stmt = NewHandle(S().stmts, kStmtTag);
  return 0;
}

void DropParamBlock(State& s, AgentHandle stmt) {
  auto it = s.paramBlocks.find(stmt);
  if (it == s.paramBlocks.end()) return;
  if (s.lastParamBlock == it->second) s.lastParamBlock = nullptr;
  kx::RB_Free(it->second);
  free(it->second);
  s.paramBlocks.erase(it);
}

// The agent takes a parameter block over, releasing the one it held.
void TakeParamBlock(AgentHandle stmt, kx::RowBuffer* rows) {
  if (rows == nullptr) return;
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  DropParamBlock(s, stmt);
  s.paramBlocks[stmt] = rows;
  s.lastParamBlock = rows;
}

void KeepParamInfo(uint16_t count, const kx::SCS_PARAMDESC* descs) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  s.paramInfoCalls++;
  s.lastParamInfo.assign(descs, descs + (descs != nullptr ? count : 0));
}

int32_t FreeStmt(AgentHandle stmt) {
  Failure f;
  Enter("FreeStmt", &f);
  std::lock_guard<std::mutex> lock(S().lock);
  S().stmts.erase(stmt);
  S().messages.erase(stmt);
  DropParamBlock(S(), stmt);
  return 0;
}

int32_t KeepSql(const char* op, AgentHandle stmt, const char* sql) {
  Failure f;
  if (Enter(op, &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  if (sql != nullptr) S().sql.push_front(sql);
  S().nextRow[stmt] = 0;
  return 0;
}

int32_t Prepare(AgentHandle stmt, const char* sql) { return KeepSql("Prepare", stmt, sql); }

int32_t Execute(AgentHandle stmt) { return KeepSql("Execute", stmt, nullptr); }

int32_t ExecDirect(AgentHandle stmt, const char* sql, kx::RowBuffer* rows, uint16_t count,
                   const kx::SCS_PARAMDESC* descs) {
  TakeParamBlock(stmt, rows);
  if (count != 0) KeepParamInfo(count, descs);
  return KeepSql("ExecDirect", stmt, sql);
}

int32_t SetParams(AgentHandle stmt, kx::RowBuffer* rows) {
  TakeParamBlock(stmt, rows);
  Failure f;
  if (Enter("SetParams", &f)) return Fail(stmt, f);
  return Known(S().stmts, stmt) ? 0 : 21;
}

int32_t SetParamInfo(AgentHandle stmt, uint16_t count, const kx::SCS_PARAMDESC* descs) {
  Failure f;
  if (Enter("SetParamInfo", &f)) return Fail(stmt, f);
  KeepParamInfo(count, descs);
  return Known(S().stmts, stmt) ? 0 : 21;
}

int32_t DescribeCols(AgentHandle stmt, uint16_t* count, kx::AgentColDesc** cols) {
  Failure f;
  if (Enter("DescribeCols", &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  const auto& columns = S().columns;
  *count = static_cast<uint16_t>(columns.size());
  if (cols == nullptr) return 0;
  size_t n = columns.empty() ? 1 : columns.size();
  auto* descs = static_cast<kx::AgentColDesc*>(calloc(n, sizeof(kx::AgentColDesc)));
  if (descs == nullptr) return 16;
  for (size_t i = 0; i < columns.size(); ++i) {
    snprintf(descs[i].name, sizeof descs[i].name, "%.40s", columns[i].name.c_str());
    descs[i].label = strdup(columns[i].name.c_str());
    descs[i].sqlType = columns[i].sqlType;
    descs[i].flags = 1 | (1u << 4);
    descs[i].columnSize = 254;
    descs[i].displaySize = 254;
    descs[i].storageType = kx::RBT_CHAR_NTS;
    descs[i].elementLength = 254;
  }
  *cols = descs;
  return 0;
}

int32_t DescribeParams(AgentHandle stmt, uint16_t* count, kx::AgentColDesc** params) {
  Failure f;
  if (Enter("DescribeParams", &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  const auto& marks = S().paramDescs;
  *count = static_cast<uint16_t>(marks.size());
  if (params != nullptr) {
    // Copied shallowly by the caller: no owned texts.
    *params = static_cast<kx::AgentColDesc*>(
        calloc(marks.empty() ? 1 : marks.size(), sizeof(kx::AgentColDesc)));
    if (*params == nullptr) return 16;
    for (size_t i = 0; i < marks.size(); ++i) {
      snprintf((*params)[i].name, sizeof (*params)[i].name, "%.40s", marks[i].name.c_str());
      (*params)[i].sqlType = marks[i].sqlType;
      (*params)[i].flags = SQL_NULLABLE;
      (*params)[i].columnSize = 10;
      (*params)[i].decimalDigits = 2;
      (*params)[i].storageType = kx::RBT_CHAR_NTS;
      (*params)[i].elementLength = 254;
    }
  }
  return 0;
}

// The scripted rows as NUL-terminated text columns; a backslash and N is NULL.
int32_t FetchBlock(AgentHandle stmt, uint16_t wanted, kx::RowBuffer* rb) {
  Failure f;
  if (Enter("FetchBlock", &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  State& s = S();
  if (wanted == 0) {
    // The output row of a call: text values, one column each.
    if (!s.hasOutputRow || rb->colCount != 0) return 0;
    const auto n = static_cast<uint16_t>(s.outputValues.size());
    kx::AgentColDesc* descs = kx::RB_AllocColDescs(n);
    if (descs == nullptr) return 16;
    for (uint16_t i = 0; i < n; ++i) {
      descs[i].storageType = kx::RBT_CHAR_NTS;
      descs[i].elementLength = 254;
    }
    int rc = kx::RB_FromColDescs(descs, n, 1, rb);
    kx::RB_FreeColDescs(descs, n);
    if (rc != 0) return rc;
    for (uint16_t c = 0; c < n; ++c) {
      kx::RowBufferColumn& col = rb->columns[c];
      if (s.outputValues[c] == "\\N") continue;
      snprintf(reinterpret_cast<char*>(col.data), col.width, "%s", s.outputValues[c].c_str());
      col.indicators[0] = 0;
    }
    rb->rowCount = 1;
    return 0;
  }
  const auto n = static_cast<uint16_t>(s.columns.size());
  if (n == 0) return 22;  // no open result
  kx::AgentColDesc* descs = kx::RB_AllocColDescs(n);
  if (descs == nullptr) return 16;
  for (uint16_t i = 0; i < n; ++i) {
    descs[i].storageType = kx::RBT_CHAR_NTS;
    descs[i].elementLength = 254;
  }
  int rc = rb->colCount == 0 ? kx::RB_FromColDescs(descs, n, wanted, rb) : 0;
  kx::RB_FreeColDescs(descs, n);
  if (rc != 0) return rc;
  size_t& next = s.nextRow[stmt];
  int32_t delivered = 0;
  for (; delivered < wanted && next < s.rows.size(); ++delivered, ++next) {
    const auto& row = s.rows[next];
    for (uint16_t c = 0; c < n && c < rb->colCount; ++c) {
      kx::RowBufferColumn& col = rb->columns[c];
      unsigned char* element = col.data + static_cast<size_t>(delivered) * col.width;
      const std::string value = c < row.size() ? row[c] : "";
      if (value == "\\N") {
        col.indicators[delivered] = -1;
        continue;
      }
      snprintf(reinterpret_cast<char*>(element), col.width, "%s", value.c_str());
      col.indicators[delivered] = 0;
    }
  }
  rb->rowCount = delivered;
  return 0;
}

int32_t SimpleStmtOp(const char* op, AgentHandle stmt, int32_t answer) {
  Failure f;
  if (Enter(op, &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  return answer;
}

int32_t CloseCursor(AgentHandle stmt) { return SimpleStmtOp("CloseCursor", stmt, 0); }
int32_t MoreResults(AgentHandle stmt) { return SimpleStmtOp("MoreResults", stmt, 73); }
int32_t Cancel(AgentHandle stmt) { return SimpleStmtOp("Cancel", stmt, 0); }

// Catalog operations: recorded, then answered like an empty catalog result.
int32_t CatalogOp(const char* op, AgentHandle stmt, std::initializer_list<const char*> texts,
                  std::initializer_list<int> numbers = {}) {
  Failure f;
  if (Enter(op, &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  State& s = S();
  s.catalogOp = op;
  s.catalogArgs.clear();
  for (const char* t : texts) s.catalogArgs.emplace_back(t != nullptr, t != nullptr ? t : "");
  for (int n : numbers) s.catalogArgs.emplace_back(true, std::to_string(n));
  s.nextRow[stmt] = 0;
  return 0;
}

int32_t DDColumnPrivileges(AgentHandle h, const char* c, const char* s, const char* t,
                           const char* col) {
  return CatalogOp("DDColumnPrivileges", h, {c, s, t, col});
}
int32_t DDColumns(AgentHandle h, const char* c, const char* s, const char* t, const char* col) {
  return CatalogOp("DDColumns", h, {c, s, t, col});
}
int32_t DDForeignKeys(AgentHandle h, const char* pc, const char* ps, const char* pt,
                      const char* fc, const char* fs, const char* ft) {
  return CatalogOp("DDForeignKeys", h, {pc, ps, pt, fc, fs, ft});
}
int32_t DDPrimaryKeys(AgentHandle h, const char* c, const char* s, const char* t) {
  return CatalogOp("DDPrimaryKeys", h, {c, s, t});
}
int32_t DDProcedureColumns(AgentHandle h, const char* c, const char* s, const char* p,
                           const char* col) {
  return CatalogOp("DDProcedureColumns", h, {c, s, p, col});
}
int32_t DDProcedures(AgentHandle h, const char* c, const char* s, const char* p) {
  return CatalogOp("DDProcedures", h, {c, s, p});
}
int32_t DDSpecialColumns(AgentHandle h, const char* c, const char* s, const char* t,
                         uint16_t type, uint16_t scope, uint16_t nullable) {
  return CatalogOp("DDSpecialColumns", h, {c, s, t}, {type, scope, nullable});
}
int32_t DDStatistics(AgentHandle h, const char* c, const char* s, const char* t, uint16_t unique,
                     uint16_t accuracy) {
  return CatalogOp("DDStatistics", h, {c, s, t}, {unique, accuracy});
}
int32_t DDTablePrivileges(AgentHandle h, const char* c, const char* s, const char* t) {
  return CatalogOp("DDTablePrivileges", h, {c, s, t});
}
int32_t DDTables(AgentHandle h, const char* c, const char* s, const char* t, const char* types) {
  return CatalogOp("DDTables", h, {c, s, t, types});
}

// Cursor names: the agent keeps the name it is given and answers it, cut to
// the buffer with 19; a statement without one answers 0 and writes nothing.
int32_t SetCursorName(AgentHandle stmt, const char* name) {
  Failure f;
  if (Enter("SetCursorName", &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  S().cursorNames[stmt] = name != nullptr ? name : "";
  return 0;
}

int32_t GetCursorName(AgentHandle stmt, char* buffer, int32_t size, uint16_t* length) {
  Failure f;
  if (Enter("GetCursorName", &f)) return Fail(stmt, f);
  if (!Known(S().stmts, stmt)) return 21;
  std::lock_guard<std::mutex> lock(S().lock);
  auto it = S().cursorNames.find(stmt);
  if (it == S().cursorNames.end() || buffer == nullptr || size <= 0) return 0;
  const std::string& name = it->second;
  const size_t copy = name.size() < static_cast<size_t>(size) ? name.size() : size - 1u;
  memcpy(buffer, name.data(), copy);
  buffer[copy] = '\0';
  if (length != nullptr) *length = static_cast<uint16_t>(copy);
  return copy < name.size() ? 19 : 0;
}

int32_t TxnOp(const char* op, AgentHandle conn) {
  Failure f;
  if (Enter(op, &f)) return Fail(conn, f);
  if (!Known(S().conns, conn)) return 21;
  return 0;
}

int32_t Commit(AgentHandle conn) { return TxnOp("Commit", conn); }
int32_t Rollback(AgentHandle conn) { return TxnOp("Rollback", conn); }

constexpr kx::OpTableRow kTypeRows[] = {
    {1, 32767, 0x2a31fe}, {5, 0, 0x2821fe},  {4, 0, 0x2821fe},
    {7, 0, 0x2821fe},     {8, 0, 0x2821fe},  {10, 0, 0x282400},
    {9, 0, 0x282200},     {11, 0, 0x282800}, {-2, 65533, 0x2a3000},
};

int32_t GetOpTable(AgentHandle conn, kx::OpTable* table) {
  Failure f;
  if (Enter("GetOpTable", &f)) return Fail(conn, f);
  if (table == nullptr || !Known(S().conns, conn)) return 21;
  if (table->type != 1) return 43;
  table->count = 9;
  table->rows = kTypeRows;
  return 0;
}

int32_t NativeSql(AgentHandle conn, const char* sql, char* out, uint16_t capacity,
                  uint16_t* length) {
  Failure f;
  if (Enter("NativeSql", &f)) return Fail(conn, f);
  if (!Known(S().conns, conn)) return 21;
  size_t n = sql ? strlen(sql) : 0;
  if (capacity == 0 || out == nullptr) return 15;
  size_t copy = n < capacity ? n : capacity - 1u;
  memcpy(out, sql, copy);
  out[copy] = '\0';
  if (length) *length = static_cast<uint16_t>(copy);
  return copy < n ? 19 : 0;
}

kx::AgentOps FullTable() {
  kx::AgentOps ops{};
  ops.DRV_GetProperty = GetProperty;
  ops.DRV_SetProperty = SetProperty;
  ops.DRV_GetMessages = GetMessages;
  ops.DRV_AllocServer = AllocServer;
  ops.DRV_FreeServer = FreeServer;
  ops.DRV_Connect = Connect;
  ops.DRV_Disconnect = Disconnect;
  ops.DRV_AllocStmt = AllocStmt;
  ops.DRV_FreeStmt = FreeStmt;
  ops.DRV_Prepare = Prepare;
  ops.DRV_Execute = Execute;
  ops.DRV_DescribeCols = DescribeCols;
  ops.DRV_DescribeParams = DescribeParams;
  ops.DRV_FetchBlock = FetchBlock;
  ops.DRV_NativeSql = NativeSql;
  ops.DRV_CloseCursor = CloseCursor;
  ops.DRV_Commit = Commit;
  ops.DRV_Rollback = Rollback;
  ops.GetOpTable = GetOpTable;
  ops.DRV_MoreResults = MoreResults;
  ops.DRV_ExecDirect = ExecDirect;
  ops.DRV_SetParams = SetParams;
  ops.DRV_SetParamInfo = SetParamInfo;
  ops.DRV_Cancel = Cancel;
  ops.DRV_DDColumnPrivileges = DDColumnPrivileges;
  ops.DRV_DDColumns = DDColumns;
  ops.DRV_DDForeignKeys = DDForeignKeys;
  ops.DRV_DDPrimaryKeys = DDPrimaryKeys;
  ops.DRV_DDProcedureColumns = DDProcedureColumns;
  ops.DRV_DDProcedures = DDProcedures;
  ops.DRV_DDSpecialColumns = DDSpecialColumns;
  ops.DRV_DDStatistics = DDStatistics;
  ops.DRV_DDTablePrivileges = DDTablePrivileges;
  ops.DRV_DDTables = DDTables;
  ops.DRV_SetCursorName = SetCursorName;
  ops.DRV_GetCursorName = GetCursorName;
  return ops;
}

kx::AgentOps g_table = FullTable();

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

int CopyField(const std::string& value, char* out, int cap) {
  if (out != nullptr && cap > 0) snprintf(out, static_cast<size_t>(cap), "%s", value.c_str());
  return static_cast<int>(value.size());
}

}  // namespace

// ---- the agent's load-time hooks -------------------------------------------------

namespace kx {

int32_t JDB_BrokerKnown = 0;

int JDB_Register(AgentBinding* binding) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  g_table = FullTable();
  if (s.emptySlot >= 0 && s.emptySlot < AGENT_OP_SLOTS) {
    void* none = nullptr;
    memcpy(reinterpret_cast<unsigned char*>(&g_table) + s.emptySlot * sizeof(void*), &none,
           sizeof none);
  }
  s.calls["Register"]++;
  binding->flags = s.flags;
  binding->ops = &g_table;
  return 0;
}

namespace {

void LoadTestAgent() {
  {
    std::lock_guard<std::mutex> lock(S().lock);
    S().calls["LoadAgent"]++;
  }
  JDB_BrokerKnown = 1;
}

constexpr DriverLayers kTestLayers{LoadTestAgent, JDB_Register, nullptr};

}  // namespace

const DriverLayers& TestAgentLayers() { return kTestLayers; }

const RowBuffer* AgentLastParamBlock() {
  std::lock_guard<std::mutex> lock(S().lock);
  return S().lastParamBlock;
}

std::vector<SCS_PARAMDESC> AgentLastParamInfo(int* calls) {
  std::lock_guard<std::mutex> lock(S().lock);
  if (calls != nullptr) *calls = S().paramInfoCalls;
  return S().lastParamInfo;
}

void AgentConnectSucceeds(bool ok) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().connectFails = !ok;
}

std::string AgentSawInitSql() {
  std::lock_guard<std::mutex> lock(S().lock);
  return S().lastInitSql;
}

std::string AgentSawSqlDbmsName() {
  std::lock_guard<std::mutex> lock(S().lock);
  return S().lastSqlDbmsName;
}


}  // namespace kx

// ---- control -------------------------------------------------------------------

KX_TEST_AGENT_EXPORT void TestAgent_Reset(void) {
  kx::DriverInstallLayers(kx::TestAgentLayers());
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  s.calls.clear();
  s.failures.clear();
  DefaultProperties(s);
  s.setProperties.clear();
  s.setTexts.clear();
  s.messages.clear();
  s.natives.clear();
  s.servers.clear();
  s.conns.clear();
  s.stmts.clear();
  s.flags = kx::AB_REENTRANT;
  s.emptySlot = -1;
  s.holdOp.clear();
  s.lastConnect.clear();
  s.sql.clear();
  s.columns.clear();
  s.rows.clear();
  s.connectFails = false;
  s.lastInitSql.clear();
  s.lastSqlDbmsName.clear();
  s.nextRow.clear();
  s.paramDescs.clear();
  while (!s.paramBlocks.empty()) DropParamBlock(s, s.paramBlocks.begin()->first);
  s.lastParamBlock = nullptr;
  s.lastParamInfo.clear();
  s.paramInfoCalls = 0;
  s.outputValues.clear();
  s.hasOutputRow = false;
  s.catalogOp.clear();
  s.catalogArgs.clear();
  s.cursorNames.clear();
}

KX_TEST_AGENT_EXPORT void TestAgent_FailNext(const char* op, int code, const char* sqlstate,
                                             const char* text) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().failures[op].push_back(
      Failure{code, sqlstate ? sqlstate : "HY000", text ? text : "", text != nullptr});
}

KX_TEST_AGENT_EXPORT void TestAgent_SetProperty(uint32_t id, int32_t value) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().properties[id] = value;
}

KX_TEST_AGENT_EXPORT void TestAgent_UnsetProperty(uint32_t id) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().properties.erase(id);
}

KX_TEST_AGENT_EXPORT int TestAgent_LastSetProperty(uint32_t id, int32_t* value) {
  std::lock_guard<std::mutex> lock(S().lock);
  auto it = S().setProperties.find(id);
  if (it == S().setProperties.end()) return 0;
  if (value != nullptr) *value = it->second;
  return 1;
}

KX_TEST_AGENT_EXPORT int TestAgent_LastSetText(uint32_t id, char* out, int cap) {
  std::lock_guard<std::mutex> lock(S().lock);
  auto it = S().setTexts.find(id);
  if (it == S().setTexts.end()) return -1;
  if (out != nullptr && cap > 0) snprintf(out, static_cast<size_t>(cap), "%s", it->second.c_str());
  return static_cast<int>(it->second.size());
}

KX_TEST_AGENT_EXPORT void TestAgent_FailProperty(uint32_t id, int code, const char* sqlstate,
                                                 const char* text) {
  char key[32];
  snprintf(key, sizeof key, "SetProperty:%08x", static_cast<unsigned>(id));
  TestAgent_FailNext(key, code, sqlstate, text);
}

KX_TEST_AGENT_EXPORT void TestAgent_SetFlags(int32_t flags) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().flags = flags;
}

KX_TEST_AGENT_EXPORT void TestAgent_EmptySlot(int slot) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().emptySlot = slot;
}

KX_TEST_AGENT_EXPORT void TestAgent_HoldNext(const char* op) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().holdOp = op;
  S().held = false;
}

KX_TEST_AGENT_EXPORT int TestAgent_WaitHeld(int timeoutMs) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.lock);
  return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s.held; })
             ? 1
             : 0;
}

KX_TEST_AGENT_EXPORT void TestAgent_Release(void) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.lock);
  s.released = true;
  s.changed.notify_all();
}

KX_TEST_AGENT_EXPORT int TestAgent_Calls(const char* op) {
  std::lock_guard<std::mutex> lock(S().lock);
  auto it = S().calls.find(op);
  return it == S().calls.end() ? 0 : it->second;
}

KX_TEST_AGENT_EXPORT int TestAgent_LiveServers(void) {
  std::lock_guard<std::mutex> lock(S().lock);
  return static_cast<int>(S().servers.size());
}

KX_TEST_AGENT_EXPORT int TestAgent_LiveConnections(void) {
  std::lock_guard<std::mutex> lock(S().lock);
  return static_cast<int>(S().conns.size());
}

KX_TEST_AGENT_EXPORT int TestAgent_LastConnect(const char* field, char* out, int cap) {
  std::lock_guard<std::mutex> lock(S().lock);
  auto it = S().lastConnect.find(field ? field : "");
  if (it == S().lastConnect.end()) return -1;
  return CopyField(it->second, out, cap);
}

KX_TEST_AGENT_EXPORT int TestAgent_LastSql(int n, char* out, int cap) {
  std::lock_guard<std::mutex> lock(S().lock);
  if (n < 0 || static_cast<size_t>(n) >= S().sql.size()) return -1;
  return CopyField(S().sql[static_cast<size_t>(n)], out, cap);
}

KX_TEST_AGENT_EXPORT void TestAgent_SetResult(const char* columns, const char* rows) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().columns.clear();
  S().rows.clear();
  if (columns != nullptr && *columns != '\0') {
    for (const std::string& c : Split(columns, ',')) {
      size_t colon = c.find(':');
      S().columns.push_back(Column{c.substr(0, colon),
                                   colon == std::string::npos ? 12 : atoi(c.c_str() + colon + 1)});
    }
  }
  if (rows != nullptr && *rows != '\0') {
    for (const std::string& r : Split(rows, '\n')) S().rows.push_back(Split(r, '|'));
  }
}

KX_TEST_AGENT_EXPORT void TestAgent_SetParamDescs(const char* params) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().paramDescs.clear();
  if (params == nullptr || *params == '\0') return;
  for (const std::string& c : Split(params, ',')) {
    size_t colon = c.find(':');
    S().paramDescs.push_back(Column{c.substr(0, colon),
                                    colon == std::string::npos ? 12 : atoi(c.c_str() + colon + 1)});
  }
}

KX_TEST_AGENT_EXPORT void TestAgent_SetOutputRow(const char* values) {
  std::lock_guard<std::mutex> lock(S().lock);
  S().outputValues.clear();
  S().hasOutputRow = values != nullptr;
  if (values != nullptr) S().outputValues = Split(values, '|');
}

KX_TEST_AGENT_EXPORT int TestAgent_LastCatalogArg(const char* op, int n, char* out, int cap) {
  std::lock_guard<std::mutex> lock(S().lock);
  const State& s = S();
  if (op == nullptr || s.catalogOp != op || n < 0 || n >= static_cast<int>(s.catalogArgs.size())) {
    return -2;
  }
  const auto& arg = s.catalogArgs[static_cast<size_t>(n)];
  if (!arg.first) return -1;
  return CopyField(arg.second, out, cap);
}
