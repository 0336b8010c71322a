// Connection options and attributes (see conn_attr.h).
#include "odbc/conn_attr.h"

#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "odbc/conn.h"
#include "odbc/copy_out.h"
#include "odbc/diag.h"
#include "odbc/handlers.h"
#include "odbc/libmain.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

namespace {

constexpr int32_t kOdbc3 = SQL_OV_ODBC3;

// Room for a text answer of the agent (catalog names, driver-specific texts).
constexpr uint16_t kAgentTextCapacity = 4096;

// Unpacked ODBC 2 answer of one option, before it goes to a caller.
struct OptionAnswer {
  enum Kind { kNothing, kU32, kULen, kText, kNoData } kind = kNothing;
  uint64_t number = 0;
  std::string text;  // UTF-8 (ANSI code page = UTF-8 on this platform)
};

bool Connected(const ConnRecord* conn) { return conn->state == CONN_CONNECTED; }

// A refused property: the agent's code, and its messages on the connection.
SQLRETURN FailPulled(ConnRecord* conn, int32_t code) {
  conn->error = code;
  ConnPullMsgs(conn, nullptr);
  return SQL_ERROR;
}

int32_t SendInt(ConnRecord* conn, AgentPropertyId id, int32_t value) {
  return AgentCall(conn->binding, &AgentOps::DRV_SetProperty, conn->agentConn, id,
                   static_cast<const void*>(&value));
}

int32_t SendText(ConnRecord* conn, AgentPropertyId id, const char* text) {
  return AgentCall(conn->binding, &AgentOps::DRV_SetProperty, conn->agentConn, id,
                   static_cast<const void*>(text));
}

int32_t AskInt(ConnRecord* conn, AgentPropertyId id, int32_t* value) {
  uint16_t length = 0;
  *value = 0;
  return AgentCall(conn->binding, &AgentOps::DRV_GetProperty, conn->agentConn, id,
                   static_cast<void*>(value), static_cast<uint16_t>(sizeof *value), &length);
}

// Whether an open connection has lost its database: the agent remembers a
// connection-class failure and otherwise checks briefly. A connection that is
// not open has nothing to lose, and an agent that cannot tell keeps it alive:
// a pool then finds out from the next real call.
bool ConnLost(ConnRecord* conn) {
  if (!Connected(conn)) return false;
  int32_t dead = 0;
  return AskInt(conn, AP_CONN_DEAD, &dead) == 0 && dead != 0;
}

int32_t AskText(ConnRecord* conn, AgentPropertyId id, std::string* out) {
  char buffer[kAgentTextCapacity + 1] = {0};
  uint16_t length = 0;
  int32_t rc = AgentCall(conn->binding, &AgentOps::DRV_GetProperty, conn->agentConn, id,
                         static_cast<void*>(buffer), kAgentTextCapacity, &length);
  if (rc != 0) return rc;
  buffer[kAgentTextCapacity] = '\0';
  try {
    out->assign(buffer);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  return 0;
}

// The driver's own connection options: numbers from the block ODBC leaves to
// drivers (above SQL_CONNECT_OPT_DRVR_START), given their meaning by the
// agent. While connected the core forwards an integer option under
// AP_CONN_OPTION_INT + number and a text option under AP_CONN_OPTION_TEXT +
// number. The block holds ODBC's own SQL_ATTR_ENLIST_IN_XA as one of the
// forwarded integers; SQL_ATTR_ENLIST_IN_DTC and SQL_ATTR_CONNECTION_DEAD
// are only read from the agent (the first span), never set through it.
enum class DriverOptionKind { kInt, kText, kIntReadOnly };

struct DriverOptionSpan {
  uint16_t first;
  uint16_t last;
  DriverOptionKind kind;
};

constexpr DriverOptionSpan kDriverOptions[] = {
    {CONN_OPT_DRIVER_FIRST, SQL_ATTR_ENLIST_IN_DTC - 1, DriverOptionKind::kInt},
    {SQL_ATTR_ENLIST_IN_DTC, SQL_ATTR_ENLIST_IN_DTC, DriverOptionKind::kIntReadOnly},
    {SQL_ATTR_ENLIST_IN_XA, SQL_ATTR_ENLIST_IN_XA, DriverOptionKind::kInt},
    {SQL_ATTR_CONNECTION_DEAD, SQL_ATTR_CONNECTION_DEAD, DriverOptionKind::kIntReadOnly},
    {SQL_ATTR_CONNECTION_DEAD + 1, CONN_OPT_DRIVER_TEXT_1 - 1, DriverOptionKind::kInt},
    {CONN_OPT_DRIVER_TEXT_1, CONN_OPT_DRIVER_TEXT_1, DriverOptionKind::kText},
    {CONN_OPT_DRIVER_TEXT_1 + 1, CONN_OPT_DRIVER_TEXT_1 + 1, DriverOptionKind::kInt},
    {CONN_OPT_DRIVER_TEXT_2, CONN_OPT_DRIVER_TEXT_2, DriverOptionKind::kText},
    {CONN_OPT_DRIVER_TEXT_2 + 1, CONN_OPT_DRIVER_LOW_LAST, DriverOptionKind::kInt},
    {CONN_OPT_DRIVER_HIGH_FIRST, CONN_OPT_DRIVER_TEXT_3 - 1, DriverOptionKind::kInt},
    {CONN_OPT_DRIVER_TEXT_3, CONN_OPT_DRIVER_TEXT_3, DriverOptionKind::kText},
    {CONN_OPT_DRIVER_TEXT_3 + 1, CONN_OPT_DRIVER_HIGH_LAST, DriverOptionKind::kInt},
    {CONN_OPT_DRIVER_LAST, CONN_OPT_DRIVER_LAST, DriverOptionKind::kInt},
};

const DriverOptionSpan* FindDriverOption(uint16_t option) {
  for (const DriverOptionSpan& span : kDriverOptions) {
    if (option >= span.first && option <= span.last) return &span;
  }
  return nullptr;
}

// Driver-specific options the agent may take while connected.
bool IsDriverIntOption(uint16_t option) {
  const DriverOptionSpan* span = FindDriverOption(option);
  return span != nullptr && span->kind == DriverOptionKind::kInt;
}

bool IsDriverTextOption(uint16_t option) {
  const DriverOptionSpan* span = FindDriverOption(option);
  return span != nullptr && span->kind == DriverOptionKind::kText;
}

// The options a get answers from the agent as numbers: the settable ones and
// the read-only ones.
bool IsDriverIntGetOption(uint16_t option) {
  const DriverOptionSpan* span = FindDriverOption(option);
  return span != nullptr && span->kind != DriverOptionKind::kText;
}

// A heap copy of an application's text value: UTF-16 from the wide entry
// (length in bytes), 8-bit text from the narrow one; length SQL_NTS runs up
// to the terminator. Both come back as UTF-8, which is also the ANSI code
// page of this platform. NULL value: *out = NULL and true. false only when
// memory runs out.
bool CopyTextArg(uint64_t value, int64_t length, char mode, char** out) {
  *out = nullptr;
  if (value == 0) return true;
  if (mode == 'W') {
    const auto* text = reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(value));
    *out = Ucs2ToUtf8DupN(text, length == SQL_NTS ? TEXT_NTS : length / 2);
  } else {
    const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
    size_t n = 0;
    if (length == SQL_NTS) {
      n = strlen(text);
    } else {
      // A counted text ends at its first NUL, like the terminated copy would.
      const void* nul = memchr(text, 0, static_cast<size_t>(length));
      n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text)
                         : static_cast<size_t>(length);
    }
    *out = static_cast<char*>(malloc(n + 1));
    if (*out != nullptr) {
      StrCopyBytes(*out, text, n);
    }
  }
  return *out != nullptr;
}

// Replaces an owned text member by a copy of the value (none for NULL).
SQLRETURN StoreTextOption(ConnRecord* conn, char*& member, uint64_t value, int64_t length,
                          char mode) {
  char* copy = nullptr;
  if (!CopyTextArg(value, length, mode, &copy)) return Fail(conn, KX_ERR_NOMEM);
  free(member);
  member = copy;
  return SQL_SUCCESS;
}

bool AnyStatementHoldsResults(const ConnRecord* conn) {
  for (const StmtRecord* s = conn->firstStmt; s != nullptr; s = s->next) {
    if (s->flags & SF_EXECUTED) return true;
  }
  return false;
}

// ---- the pending catalog -----------------------------------------------------
// Keyed by the record; the environment and serial guard against a later record
// at the same address should a pending name ever outlive its connection.

struct PendingCatalog {
  const EnvrRecord* env;
  int32_t serial;
  std::string name;
};

std::mutex& PendingLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<const ConnRecord*, PendingCatalog>& PendingMap() {
  static auto* map = new std::unordered_map<const ConnRecord*, PendingCatalog>;
  return *map;
}

// Under PendingLock: the live entry of the connection, or nullptr.
PendingCatalog* FindPending(const ConnRecord* conn) {
  auto& map = PendingMap();
  auto it = map.find(conn);
  if (it == map.end()) return nullptr;
  if (it->second.env != conn->env || it->second.serial != conn->serial) {
    map.erase(it);
    return nullptr;
  }
  return &it->second;
}

int KeepPendingCatalog(const ConnRecord* conn, const char* name) {
  std::lock_guard<std::mutex> lock(PendingLock());
  try {
    PendingMap()[conn] = PendingCatalog{conn->env, conn->serial, name};
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  return 0;
}

// ---- setting -----------------------------------------------------------------

SQLRETURN SetCatalog(ConnRecord* conn, uint64_t value, int64_t length, char mode) {
  if (value == 0) return Fail(conn, KX_ERR_BAD_ARGUMENT);
  char* copy = nullptr;
  if (!CopyTextArg(value, length, mode, &copy)) return Fail(conn, KX_ERR_NOMEM);
  const std::unique_ptr<char, decltype(&free)> owner(copy, &free);
  const char* name = copy;

  if (!Connected(conn)) {
    // Kept until the connection opens, which sends it to the agent.
    int code = KeepPendingCatalog(conn, name);
    return code != 0 ? Fail(conn, code) : SQL_SUCCESS;
  }
  if (AnyStatementHoldsResults(conn)) return Fail(conn, KX_ERR_CURSOR_STATE);
  int32_t rc = SendText(conn, AP_CONN_SET_CATALOG, name);
  if (rc != 0) return FailPulled(conn, rc);
  // cn_dbpath is not touched: here it names the JDBC driver class, which a
  // reconnect and the output connect string still need. The agent answers
  // the current catalog itself.
  ConnDropPendingCatalog(conn);
  return SQL_SUCCESS;
}

SQLRETURN SetFailover(ConnRecord* conn, uint16_t option, uint64_t value) {
  if (!Connected(conn)) return Fail(conn, KX_ERR_SEQUENCE);
  if (!conn->cn_failoverAllowed) return Fail(conn, KX_ERR_NOT_CAPABLE);
  if (option == CONN_OPT_FAILOVER_ARG) {
    conn->failoverArg = reinterpret_cast<void*>(static_cast<uintptr_t>(value));
    return SQL_SUCCESS;
  }
  int32_t rc = SendInt(conn, AP_CONN_FAILOVER, value != 0 ? 1 : 0);
  if (rc != 0) return FailPulled(conn, rc);
  conn->failoverCallback = reinterpret_cast<FailoverCallback>(static_cast<uintptr_t>(value));
  return SQL_SUCCESS;
}

// Keeps a driver option set while not connected for the next open; a later
// value of the same option replaces the earlier one.
SQLRETURN KeepDriverOption(ConnRecord* conn, uint16_t option, uint64_t value, char mode) {
  PendingConnOption kept{option, IsDriverTextOption(option), static_cast<int32_t>(value), {}};
  if (kept.isText) {
    if (value == 0) return Fail(conn, KX_ERR_BAD_ARGUMENT);
    char* text = nullptr;
    if (!CopyTextArg(value, SQL_NTS, mode, &text)) return Fail(conn, KX_ERR_NOMEM);
    const std::unique_ptr<char, decltype(&free)> owner(text, &free);
    try {
      kept.text.assign(text);
    } catch (const std::bad_alloc&) {
      return Fail(conn, KX_ERR_NOMEM);
    }
  }
  try {
    for (PendingConnOption& p : conn->pendingOptions) {
      if (p.option == option) {
        p = std::move(kept);
        return SQL_SUCCESS;
      }
    }
    conn->pendingOptions.push_back(std::move(kept));
  } catch (const std::bad_alloc&) {
    return Fail(conn, KX_ERR_NOMEM);
  }
  return SQL_SUCCESS;
}

SQLRETURN SetDriverOption(ConnRecord* conn, uint16_t option, uint64_t value, char mode) {
  // Before connecting there is no agent connection to take them: they wait
  // for the open.
  if (!Connected(conn)) return KeepDriverOption(conn, option, value, mode);
  int32_t rc;
  if (IsDriverTextOption(option)) {
    if (value == 0) return Fail(conn, KX_ERR_BAD_ARGUMENT);
    char* text = nullptr;
    if (!CopyTextArg(value, SQL_NTS, mode, &text)) return Fail(conn, KX_ERR_NOMEM);
    rc = SendText(conn, AP_CONN_OPTION_TEXT + option, text);
    free(text);
    if (rc == KX_ERR_NOT_CAPABLE) rc = KX_ERR_BAD_OPTION;
    return rc != 0 ? FailPulled(conn, rc) : SQL_SUCCESS;
  }
  rc = SendInt(conn, AP_CONN_OPTION_INT + option, static_cast<int32_t>(value));
  if (rc == KX_ERR_NOT_CAPABLE) rc = KX_ERR_BAD_OPTION;
  // The agent's messages come along, so that none is left behind to surface
  // in a later, unrelated call.
  return rc != 0 ? FailPulled(conn, rc) : SQL_SUCCESS;
}

// length: of a text value (bytes, or SQL_NTS); the ODBC 2 entries pass SQL_NTS.
SQLRETURN SetOption(ConnRecord* conn, uint16_t option, uint64_t value, int64_t length, char mode) {
  const auto v = static_cast<uint32_t>(value);
  switch (option) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH:
    case SQL_BIND_TYPE: case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE:
    case SQL_ROWSET_SIZE: case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA:
    case SQL_USE_BOOKMARKS:
      if (OdbcVersion(conn) >= kOdbc3) return Fail(conn, KX_ERR_NOT_SUPPORTED);
      return ConnSetStmtDefault(conn, option, value);
    case SQL_ASYNC_ENABLE:
      if (OdbcVersion(conn) >= kOdbc3) return Fail(conn, KX_ERR_NOT_SUPPORTED);
      if (v != 0) {
        conn->flags |= CF_ASYNC;
      } else {
        conn->flags &= static_cast<uint16_t>(~CF_ASYNC);
      }
      return SQL_SUCCESS;
    case SQL_ACCESS_MODE: {
      // Only the two modes exist; anything else is refused before it reaches
      // the agent, so that the agent and the connection never disagree.
      if (v != SQL_MODE_READ_ONLY && v != SQL_MODE_READ_WRITE) {
        return Fail(conn, KX_ERR_BAD_ATTRIBUTE_VALUE);
      }
      if (Connected(conn)) {
        int32_t rc = SendInt(conn, AP_CONN_READONLY, v != 0 ? 1 : 0);
        if (rc != 0) return FailPulled(conn, rc);
      }
      if (v == SQL_MODE_READ_ONLY) {
        conn->flags |= CF_READONLY;
        conn->attrsSet |= CA_READ_ONLY;
      } else {
        conn->flags &= static_cast<uint16_t>(~CF_READONLY);
        conn->attrsSet &= static_cast<uint16_t>(~CA_READ_ONLY);
      }
      return SQL_SUCCESS;
    }
    case SQL_AUTOCOMMIT:
      if (Connected(conn)) {
        int32_t rc = SendInt(conn, AP_CONN_AUTOCOMMIT, v != 0 ? 1 : 0);
        if (rc != 0) return FailPulled(conn, rc);
      }
      // Kept as the application's choice, which the next open applies over
      // the data source's default.
      conn->attrsSet |= CA_AUTOCOMMIT;
      if (v != 0) {
        conn->flags |= CF_AUTOCOMMIT;
        conn->attrsSet |= CA_AUTOCOMMIT_ON;
      } else {
        conn->flags &= static_cast<uint16_t>(~CF_AUTOCOMMIT);
        conn->attrsSet &= static_cast<uint16_t>(~CA_AUTOCOMMIT_ON);
      }
      return SQL_SUCCESS;
    case SQL_LOGIN_TIMEOUT:
      conn->loginTimeout = v;
      return SQL_SUCCESS;
    case SQL_PACKET_SIZE:
      // The JDBC driver chooses its own transfer sizes; the value is kept
      // and answered as the application set it.
      conn->packetSize = v;
      return SQL_SUCCESS;
    case SQL_OPT_TRACE: case SQL_OPT_TRACEFILE:
      return SQL_SUCCESS;
    case SQL_TRANSLATE_DLL:
      return StoreTextOption(conn, conn->translateLib, value, length, mode);
    case SQL_TRANSLATE_OPTION:
      conn->translateOption = v;
      return SQL_SUCCESS;
    case SQL_TXN_ISOLATION:
      if (Connected(conn)) {
        int32_t rc = SendInt(conn, AP_CONN_ISOLATION, static_cast<int32_t>(v));
        if (rc != 0) return FailPulled(conn, rc);
      }
      conn->isolation = v;
      return SQL_SUCCESS;
    case SQL_CURRENT_QUALIFIER:
      return SetCatalog(conn, value, length, mode);
    case SQL_QUIET_MODE:
      g_quietModeWindow = static_cast<intptr_t>(value);
      return SQL_SUCCESS;
    case CONN_OPT_APP_NAME:
      if (Connected(conn)) return Fail(conn, KX_ERR_SEQUENCE);
      return StoreTextOption(conn, conn->appName, value, length, mode);
    case SQL_ATTR_ENLIST_IN_DTC:
      return ConnEnlistInDtc(conn, reinterpret_cast<void*>(static_cast<uintptr_t>(value)));
    case CONN_OPT_FAILOVER_CALLBACK: case CONN_OPT_FAILOVER_ARG:
      return SetFailover(conn, option, value);
    default:
      if (IsDriverIntOption(option) || IsDriverTextOption(option)) {
        return SetDriverOption(conn, option, value, mode);
      }
      return Fail(conn, KX_ERR_BAD_OPTION);
  }
}

// ---- getting -----------------------------------------------------------------

SQLRETURN QueryOption(ConnRecord* conn, uint16_t option, OptionAnswer* a) {
  auto number = [a](OptionAnswer::Kind kind, uint64_t n) {
    a->kind = kind;
    a->number = n;
    return SQL_SUCCESS;
  };
  auto text = [a, conn](const char* t) {
    try {
      a->text.assign(t != nullptr ? t : "");
    } catch (const std::bad_alloc&) {
      return Fail(conn, KX_ERR_NOMEM);
    }
    a->kind = OptionAnswer::kText;
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  };
  // An agent answer: "not supported" becomes "option out of range".
  auto agentFailed = [conn](int32_t rc) {
    return Fail(conn, rc == KX_ERR_NOT_SUPPORTED ? KX_ERR_BAD_OPTION : rc);
  };

  switch (option) {
    case SQL_ASYNC_ENABLE:
      return number(OptionAnswer::kU32, (conn->flags & CF_ASYNC) ? 1 : 0);
    case SQL_ACCESS_MODE:
      return number(OptionAnswer::kU32, (conn->flags & CF_READONLY) ? 1 : 0);
    case SQL_AUTOCOMMIT:
      return number(OptionAnswer::kU32, (conn->flags & CF_AUTOCOMMIT) ? 1 : 0);
    case SQL_LOGIN_TIMEOUT:
      return number(OptionAnswer::kU32, conn->loginTimeout);
    case SQL_OPT_TRACE:
      return number(OptionAnswer::kU32, 0);
    case SQL_OPT_TRACEFILE:
      return text("");
    case SQL_TRANSLATE_DLL:
      if (conn->translateLib == nullptr) {
        a->kind = OptionAnswer::kNoData;
        return SQL_NO_DATA;
      }
      return text(conn->translateLib);
    case SQL_TRANSLATE_OPTION:
      return number(OptionAnswer::kU32, conn->translateOption);
    case SQL_TXN_ISOLATION:
      if (conn->isolation == 0 && Connected(conn)) {
        // The data source's own, asked for the first time.
        int32_t isolation = 0;
        if (AskInt(conn, AP_CONN_ISOLATION, &isolation) == 0 && isolation > 0) {
          conn->isolation = static_cast<uint32_t>(isolation);
        }
      }
      return number(OptionAnswer::kU32, conn->isolation);
    case SQL_CURRENT_QUALIFIER: {
      if (conn->agentConn == 0) {
        // Not open: the name that will be sent when it opens, if any.
        std::string pending;
        return text(ConnPendingCatalog(conn, &pending) ? pending.c_str() : "");
      }
      std::string name;
      int32_t rc = AskText(conn, AP_CONN_CATALOG, &name);
      if (rc != 0) return agentFailed(rc);
      return text(name.c_str());
    }
    case SQL_ODBC_CURSORS:
      return number(OptionAnswer::kULen, SQL_CUR_USE_IF_NEEDED);
    case SQL_QUIET_MODE: {
      const intptr_t window = g_quietModeWindow.load();
      return number(OptionAnswer::kULen,
                    window == QUIET_MODE_UNSET ? 0 : static_cast<uint64_t>(window));
    }
    case SQL_PACKET_SIZE:
      return number(OptionAnswer::kU32, conn->packetSize != 0 ? conn->packetSize : 4096);
    default:
      break;
  }
  if (!Connected(conn) && (IsDriverIntGetOption(option) || IsDriverTextOption(option))) {
    // Before connecting: what will be sent at the open, if anything.
    for (const PendingConnOption& p : conn->pendingOptions) {
      if (p.option != option) continue;
      return p.isText ? text(p.text.c_str()) : number(OptionAnswer::kU32, static_cast<uint32_t>(p.number));
    }
    return SQL_SUCCESS;  // nothing to tell
  }
  if (IsDriverIntGetOption(option)) {
    if (!Connected(conn)) return SQL_SUCCESS;  // nothing to tell before connecting
    int32_t value = 0;
    int32_t rc = AskInt(conn, AP_CONN_OPTION_INT + option, &value);
    if (rc != 0) return agentFailed(rc);
    return number(OptionAnswer::kU32, static_cast<uint32_t>(value));
  }
  if (IsDriverTextOption(option)) {
    if (!Connected(conn)) return SQL_SUCCESS;
    std::string value;
    int32_t rc = AskText(conn, AP_CONN_OPTION_TEXT + option, &value);
    if (rc != 0) return agentFailed(rc);
    return text(value.c_str());
  }
  return Fail(conn, KX_ERR_BAD_OPTION);
}

// Writes a number answer: 32 bits, or the full SQLULEN width.
void PutNumber(const OptionAnswer& a, void* out) {
  if (out == nullptr) return;
  if (a.kind == OptionAnswer::kULen) {
    const SQLULEN v = static_cast<SQLULEN>(a.number);
    memcpy(out, &v, sizeof v);
  } else {
    const auto v = static_cast<uint32_t>(a.number);
    memcpy(out, &v, sizeof v);
  }
}

// Copies a text answer into a caller's buffer of capacity bytes: UTF-16 for
// the wide entry. Cut text gives 01004; *full gets the whole length in bytes.
SQLRETURN PutText(ConnRecord* conn, const std::string& text, void* out, int64_t capacity,
                  int64_t* full, char mode) {
  if (mode == 'W') {
    return CopyOutNarrowToWide(text.data(), text.size(), static_cast<int64_t>(text.size()), 0, 1, 1,
                               out, capacity, full, &conn->error);
  }
  return CopyOutNarrow(text.data(), text.size(), static_cast<int64_t>(text.size()), 0, 1, 1, out,
                       capacity, full, &conn->error);
}

// Moves the messages of a statement's list from the given link on (those its
// option setter just added) onto the connection.
void MoveNewMessages(MsgNode** from, ConnRecord* conn) {
  while (*from != nullptr) {
    int32_t native = 0;
    char* text = MsgListPop(from, &native);
    MsgListAppend(&conn->messages, text, native);
    free(text);
  }
}

}  // namespace

// ---- attributes set before connecting ------------------------------------------

int ConnApplySetAttrs(ConnRecord* conn) {
  if (!Connected(conn)) return KX_ERR_NOT_CONNECTED;
  int warning = 0;
  if ((conn->attrsSet & CA_AUTOCOMMIT) != 0) {
    const bool on = (conn->attrsSet & CA_AUTOCOMMIT_ON) != 0;
    const int32_t rc = SendInt(conn, AP_CONN_AUTOCOMMIT, on ? 1 : 0);
    if (rc != 0) {
      ConnPullMsgs(conn, nullptr);
      return rc;
    }
    if (on) {
      conn->flags |= CF_AUTOCOMMIT;
    } else {
      conn->flags &= static_cast<uint16_t>(~CF_AUTOCOMMIT);
    }
  }
  // The driver's own options: one the agent does not take leaves the
  // connection up with a warning that names it, as a connection attribute
  // the driver cannot honour would.
  for (const PendingConnOption& p : conn->pendingOptions) {
    const int32_t rc = p.isText ? SendText(conn, AP_CONN_OPTION_TEXT + p.option, p.text.c_str())
                                : SendInt(conn, AP_CONN_OPTION_INT + p.option, p.number);
    if (rc != 0) {
      ConnPullMsgs(conn, nullptr);
      char text[128];
      snprintf(text, sizeof text, "Connection option %u was not taken by the data source[SQLSTATE:01S02]",
               static_cast<unsigned>(p.option));
      ConnPostMsg(conn, text, 0);
      warning = KX_ERR_OPTION_CHANGED;
    }
  }
  return warning;
}

// ---- pending catalog hooks ----------------------------------------------------

int ConnApplyPendingCatalog(ConnRecord* conn) {
  std::string name;
  if (!ConnPendingCatalog(conn, &name)) return 0;
  if (!Connected(conn)) return KX_ERR_NOT_CONNECTED;
  int32_t rc = SendText(conn, AP_CONN_SET_CATALOG, name.c_str());
  if (rc != 0) {
    ConnPullMsgs(conn, nullptr);
    return rc;
  }
  ConnDropPendingCatalog(conn);
  return 0;
}

void ConnDropPendingCatalog(ConnRecord* conn) {
  std::lock_guard<std::mutex> lock(PendingLock());
  PendingMap().erase(conn);
}

bool ConnPendingCatalog(const ConnRecord* conn, std::string* name) {
  std::lock_guard<std::mutex> lock(PendingLock());
  const PendingCatalog* p = FindPending(conn);
  if (p == nullptr) return false;
  try {
    *name = p->name;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// ---- statement defaults ----------------------------------------------------------

SQLRETURN ConnSetStmtDefault(ConnRecord* conn, uint16_t option, uint64_t value) {
  const auto v = static_cast<uint32_t>(value);
  const auto i = static_cast<int32_t>(value);
  SCS_CURSOR& d = conn->cursorDefaults;
  switch (option) {
    case SQL_QUERY_TIMEOUT: conn->queryTimeout = v; break;
    case SQL_MAX_ROWS: conn->maxRows = value; break;
    // Stored the way a statement keeps them, so that new statements inherit
    // what the existing ones were given.
    case SQL_NOSCAN: conn->noScan = v != 0 ? 1 : 0; break;
    case SQL_MAX_LENGTH: conn->maxLength = value; break;
    case SQL_BIND_TYPE: conn->bindType = v; break;
    case SQL_CURSOR_TYPE: d.cursorType = d.requestedCursorType = i; break;
    case SQL_CONCURRENCY: d.concurrency = d.requestedConcurrency = i; break;
    case SQL_KEYSET_SIZE: d.keysetSize = i; break;
    case SQL_ROWSET_SIZE: d.rowsetSize = i != 0 ? i : 1; break;
    case SQL_SIMULATE_CURSOR: d.simulateCursor = i; break;
    case SQL_RETRIEVE_DATA: d.retrieveData = i; break;
    case SQL_USE_BOOKMARKS: d.useBookmarks = i != 0 ? 1 : 0; break;
    default: return Fail(conn, KX_ERR_BAD_OPTION);
  }

  // Every statement gets the value; a warning from one does not keep it from
  // the others. The connection reports the worst answer, with the cause moved
  // over from the statement, whose own diagnostics stay as they were.
  SQLRETURN worst = SQL_SUCCESS;
  for (StmtRecord* s = conn->firstStmt; s != nullptr; s = s->next) {
    const int32_t keptError = s->error;
    MsgNode** tail = &s->messages;
    while (*tail != nullptr) tail = &(*tail)->next;
    const SQLRETURN rc = StmtSetOption(s, option, value);
    if (rc != SQL_SUCCESS && (worst == SQL_SUCCESS || rc == SQL_ERROR)) {
      worst = rc;
      conn->error = s->error != 0 ? s->error : KX_ERR_GENERAL;
    }
    if (rc != SQL_SUCCESS) MoveNewMessages(tail, conn);
    s->error = keptError;
    if (rc == SQL_ERROR) break;
  }
  return worst;
}

// ---- the handlers --------------------------------------------------------------

SQLRETURN ConnSetOption(ConnRecord* conn, uint16_t option, uint64_t value, char mode) {
  return SetOption(conn, option, value, SQL_NTS, mode);
}

SQLRETURN ConnGetOption(ConnRecord* conn, uint16_t option, void* out, char mode) {
  OptionAnswer a;
  SQLRETURN rc = QueryOption(conn, option, &a);
  if (rc != SQL_SUCCESS) return rc;
  switch (a.kind) {
    case OptionAnswer::kU32:
    case OptionAnswer::kULen:
      PutNumber(a, out);
      return SQL_SUCCESS;
    case OptionAnswer::kText: {
      if (out == nullptr) return SQL_SUCCESS;
      // The ODBC 2 rule: option strings get SQL_MAX_OPTION_STRING_LENGTH
      // characters of room.
      const int64_t capacity = SQL_MAX_OPTION_STRING_LENGTH * (mode == 'W' ? 2 : 1);
      return PutText(conn, a.text, out, capacity, nullptr, mode);
    }
    default:
      return SQL_SUCCESS;
  }
}

SQLRETURN ConnSetAttr(ConnRecord* conn, int32_t attribute, uint64_t value, int32_t length,
                      char mode) {
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE: {
      conn->asyncEnable = static_cast<uint32_t>(value);
      for (StmtRecord* s = conn->firstStmt; s != nullptr; s = s->next) {
        s->asyncEnable = conn->asyncEnable;
      }
      return SQL_SUCCESS;
    }
    case SQL_ATTR_CURRENT_CATALOG: case SQL_ATTR_TRANSLATE_LIB: case CONN_OPT_APP_NAME:
      // Text attributes: a counted text is read up to its length only.
      if (length < 0 && length != SQL_NTS) return Fail(conn, KX_ERR_BAD_LENGTH);
      return SetOption(conn, static_cast<uint16_t>(attribute), value, length, mode);
    // The statement-option defaults (but SQL_ROWSET_SIZE) and the ODBC 2
    // connection options take the ODBC 2 path.
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH:
    case SQL_BIND_TYPE: case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE:
    case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA: case SQL_USE_BOOKMARKS: case SQL_ROW_NUMBER:
    case SQL_ACCESS_MODE: case SQL_AUTOCOMMIT: case SQL_LOGIN_TIMEOUT: case SQL_OPT_TRACE:
    case SQL_OPT_TRACEFILE: case SQL_TRANSLATE_OPTION: case SQL_TXN_ISOLATION:
    case SQL_ODBC_CURSORS: case SQL_QUIET_MODE: case SQL_PACKET_SIZE: case SQL_ATTR_ENLIST_IN_DTC:
    case CONN_OPT_FAILOVER_CALLBACK: case CONN_OPT_FAILOVER_ARG:
      return SetOption(conn, static_cast<uint16_t>(attribute), value, SQL_NTS, mode);
    case SQL_ATTR_CONNECTION_TIMEOUT:
      // No request but a query has a time limit here (queries have theirs,
      // SQL_ATTR_QUERY_TIMEOUT): the value becomes 0, said with 01S02.
      // Refusing the attribute outright broke pyodbc's Connection.timeout,
      // the way its users set query time limits.
      if (value == 0) return SQL_SUCCESS;
      conn->error = KX_ERR_OPTION_CHANGED;
      return SQL_SUCCESS_WITH_INFO;
    case SQL_ATTR_METADATA_ID:
      // The statements' default: catalog arguments as text and patterns
      // (FALSE); reading them as identifiers is not offered.
      if (value == SQL_FALSE) return SQL_SUCCESS;
      return Fail(conn, value == SQL_TRUE ? KX_ERR_NOT_CAPABLE : KX_ERR_BAD_ATTRIBUTE_VALUE);
    case SQL_ATTR_AUTO_IPD:
      return Fail(conn, KX_ERR_NOT_SUPPORTED);
    default:
      return Fail(conn, KX_ERR_BAD_OPTION);
  }
}

SQLRETURN ConnGetAttr(ConnRecord* conn, int32_t attribute, void* value, int32_t bufferLength,
                      int32_t* length, char mode) {
  OptionAnswer a;
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE:
      a.kind = OptionAnswer::kULen;
      a.number = conn->asyncEnable;
      PutNumber(a, value);
      return SQL_SUCCESS;
    case SQL_QUERY_TIMEOUT:
      if (OdbcVersion(conn) >= kOdbc3) return Fail(conn, KX_ERR_NOT_SUPPORTED);
      a.kind = OptionAnswer::kULen;
      a.number = conn->queryTimeout;
      PutNumber(a, value);
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE: case SQL_ATTR_AUTOCOMMIT: case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_TRACE: case SQL_ATTR_TRANSLATE_OPTION: case SQL_ATTR_TXN_ISOLATION:
    case SQL_ATTR_ODBC_CURSORS: case SQL_ATTR_QUIET_MODE: case SQL_ATTR_PACKET_SIZE: {
      SQLRETURN rc = QueryOption(conn, static_cast<uint16_t>(attribute), &a);
      if (rc == SQL_SUCCESS) PutNumber(a, value);
      return rc;
    }
    case SQL_ATTR_TRACEFILE: case SQL_ATTR_TRANSLATE_LIB: case SQL_ATTR_CURRENT_CATALOG: {
      if (bufferLength < 0) return Fail(conn, KX_ERR_BAD_LENGTH);
      SQLRETURN rc = QueryOption(conn, static_cast<uint16_t>(attribute), &a);
      if (rc != SQL_SUCCESS) return rc;
      int64_t full = 0;
      rc = PutText(conn, a.text, value, bufferLength, &full, mode);
      if (length != nullptr && rc != SQL_ERROR) {
        *length = static_cast<int32_t>(full > INT32_MAX ? INT32_MAX : full);
      }
      return rc;
    }
    case SQL_ATTR_CONNECTION_DEAD:
      a.kind = OptionAnswer::kU32;
      a.number = ConnLost(conn) ? SQL_CD_TRUE : SQL_CD_FALSE;
      PutNumber(a, value);
      return SQL_SUCCESS;
    case SQL_ATTR_AUTO_IPD: case SQL_ATTR_CONNECTION_TIMEOUT: case SQL_ATTR_METADATA_ID:
      a.kind = OptionAnswer::kU32;
      a.number = 0;  // SQL_FALSE for the last
      PutNumber(a, value);
      return SQL_SUCCESS;
    default:
      return Fail(conn, KX_ERR_BAD_OPTION);
  }
}

// ---- dispatcher slots ------------------------------------------------------------

// SQLSetConnectOption(W): option, value, form
SQLRETURN ConnSetOptionCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnSetOption(static_cast<ConnRecord*>(rec), args.Get<uint16_t>(0), args.Get<uint64_t>(1),
                       args.Get<char>(2));
}

// SQLGetConnectOption(W): option, value*, form
SQLRETURN ConnGetOptionCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnGetOption(static_cast<ConnRecord*>(rec), args.Get<uint16_t>(0), args.Get<void*>(1),
                       args.Get<char>(2));
}

// SQLSetConnectAttr(W): attribute, value, length, form
SQLRETURN ConnSetAttrCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnSetAttr(static_cast<ConnRecord*>(rec), args.Get<int32_t>(0), args.Get<uint64_t>(1),
                     args.Get<int32_t>(2), args.Get<char>(3));
}

// SQLGetConnectAttr(W): attribute, value*, buffer length, length*, form
SQLRETURN ConnGetAttrCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnGetAttr(static_cast<ConnRecord*>(rec), args.Get<int32_t>(0), args.Get<void*>(1),
                     args.Get<int32_t>(2), args.Get<int32_t*>(3), args.Get<char>(4));
}

}  // namespace kx
