// The catalog functions (see odbc/catalog.h): one shape for all ten.
#include "odbc/catalog.h"

#include <sqlext.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

// What a NULL name becomes.
enum NullRule : uint8_t {
  kNullStays,   // NULL: no restriction
  kNullAny,     // "%": a pattern that matches everything
  kNullRefused, // the name is required (S1009)
};

// How the text of a name is read: an ordinary argument names one object
// and may be written quoted (the quotes go); a pattern argument is matched
// as it stands, quotes and all, so that a name that holds them is found.
enum NameKind : uint8_t {
  kOrdinary,
  kPattern,
};

struct CatName {
  const char* text;
  int64_t length;
  NullRule rule;
  NameKind kind = kOrdinary;
};

// The NUL-terminated copies handed to the agent; freed when the call ends.
struct CatCopies {
  static constexpr int kMax = 6;
  char* v[kMax] = {};
  int n = 0;
  CatCopies() = default;
  ~CatCopies() {
    for (char*& p : v) std::free(p);
  }
  CatCopies(const CatCopies&) = delete;
  CatCopies& operator=(const CatCopies&) = delete;
  const char* operator[](int i) const { return v[i]; }
};

const char* Show(const char* text) { return text != nullptr ? text : ""; }

// Closes the statement (any open cursor and the previous result's
// descriptions go), checks the names and copies them. 0, or an error code
// already stored in the statement. checkLengths false: a negative length other
// than SQL_NTS reads the name up to its terminator.
int CatBegin(StmtRecord* stmt, const CatName* names, int count, bool checkLengths,
             CatCopies* out) {
  StmtClose(stmt);
  StmtFreeColDescs(stmt);
  for (int i = 0; i < count; ++i) {
    const CatName& a = names[i];
    if (checkLengths && a.length < 0 && a.length != SQL_NTS) {
      stmt->error = KX_ERR_BAD_ARGUMENT;
      return stmt->error;
    }
    if (a.text == nullptr && a.rule == kNullRefused) {
      stmt->error = KX_ERR_BAD_ARGUMENT;
      return stmt->error;
    }
  }
  for (int i = 0; i < count; ++i) {
    const CatName& a = names[i];
    char* copy = nullptr;
    if (a.text == nullptr) {
      if (a.rule != kNullAny) {
        out->v[out->n++] = nullptr;
        continue;
      }
      copy = strdup("%");
    } else {
      const int64_t length = a.length < 0 ? SQL_NTS : a.length;
      const int rc = a.kind == kPattern ? StrCopyN(&copy, a.text, length)
                                        : StrCopyUnquote(&copy, a.text, length);
      if (rc != 0) copy = nullptr;
    }
    // A name that cannot be copied must not turn into "no restriction".
    if (copy == nullptr) {
      stmt->error = KX_ERR_NOMEM;
      return stmt->error;
    }
    out->v[out->n++] = copy;
  }
  return 0;
}

// The agent's answer: a result to fetch, or its failure with its messages.
SQLRETURN CatEnd(StmtRecord* stmt, int32_t code) {
  stmt->error = code;
  if (code != 0) {
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  stmt->state = STMT_PREPARED;
  // The agent statement now holds the catalog result, not the statement an
  // earlier SQLPrepare made: executing it again would run something else.
  stmt->flags = static_cast<uint16_t>((stmt->flags | SF_EXECUTED) & ~SF_PREPARED);
  // A catalog result has no keys: a keyset-driven or dynamic request was
  // served by a static cursor, and the application is told so.
  SCS_CURSOR& c = stmt->cursor;
  if (c.cursorType == SQL_CURSOR_KEYSET_DRIVEN || c.cursorType == SQL_CURSOR_DYNAMIC) {
    int32_t type = 0;
    uint16_t length = 0;
    if (AgentCall(BindingOf(stmt), &AgentOps::DRV_GetProperty, stmt->agentStmt, AP_STMT_CURSOR_TYPE,
                  static_cast<void*>(&type), static_cast<uint16_t>(4), &length) == 0 &&
        type != c.cursorType) {
      c.requestedCursorType = c.cursorType;
      c.requestedConcurrency = c.concurrency;
      c.cursorType = type;
      c.concurrency = SQL_CONCUR_READ_ONLY;
      c.flags |= SCS_FLAG_BACKEND_CHANGED;
      stmt->error = KX_ERR_OPTION_CHANGED;
      return SQL_SUCCESS_WITH_INFO;
    }
  }
  return SQL_SUCCESS;
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

// ---- table-type lists ----------------------------------------------------------------

char* TableTypeQuote(const char* list) {
  if (list == nullptr) return nullptr;
  if (list[0] == '\0') return strdup("");
  if (list[0] == '%') return strdup("%");
  const size_t n = std::strlen(list);
  size_t commas = 0;
  for (const char* p = list; *p != '\0'; ++p) commas += *p == ',';
  // Opening quote, every character, two more per comma, closing quote, NUL.
  char* out = static_cast<char*>(std::malloc(n + 2 * commas + 3));
  if (out == nullptr) return nullptr;
  size_t pos = 0;
  out[pos++] = '\'';
  size_t itemBegin = pos;
  bool atItemStart = true;
  for (const char* p = list; *p != '\0'; ++p) {
    const char c = *p;
    if (c == ',') {
      while (pos > itemBegin && IsBlank(out[pos - 1])) --pos;
      out[pos++] = '\'';
      out[pos++] = ',';
      out[pos++] = '\'';
      itemBegin = pos;
      atItemStart = true;
      continue;
    }
    if (c == '\'') continue;  // the application's own quotes give way to ours
    if (atItemStart && IsBlank(c)) continue;
    out[pos++] = c;
    atItemStart = false;
  }
  while (pos > itemBegin && IsBlank(out[pos - 1])) --pos;
  out[pos++] = '\'';
  out[pos] = '\0';
  return out;
}

int TableTypeFind(const char* list, const char* item) {
  if (list == nullptr || item == nullptr) return 0;
  const size_t length = std::strlen(item);
  const char* p = list;
  for (int number = 1;; ++number) {
    p = StrSkipSpace(p);
    if (std::strncmp(p, item, length) == 0 && (p[length] == ',' || p[length] == '\0')) {
      return number;
    }
    const char* comma = std::strchr(p, ',');
    if (comma == nullptr) return 0;
    p = comma + 1;
  }
}

// ---- the ten functions ----------------------------------------------------------------

SQLRETURN CatColumnPrivileges(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                              const char* schema, int16_t schemaLen, const char* table,
                              int16_t tableLen, const char* column, int16_t columnLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullStays},
                           {table, tableLen, kNullRefused},
                           {column, columnLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 4, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s' Column='%s'\n", Show(c[0]), Show(c[1]),
                Show(c[2]), Show(c[3]));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDColumnPrivileges,
                                stmt->agentStmt, c[0], c[1], c[2], c[3]));
}

SQLRETURN CatColumns(StmtRecord* stmt, const char* catalog, int16_t catalogLen, const char* schema,
                     int16_t schemaLen, const char* table, int16_t tableLen, const char* column,
                     int16_t columnLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullAny, kPattern},
                           {table, tableLen, kNullAny, kPattern},
                           {column, columnLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 4, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s' Column='%s'\n", Show(c[0]), Show(c[1]),
                Show(c[2]), Show(c[3]));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDColumns, stmt->agentStmt, c[0],
                                c[1], c[2], c[3]));
}

SQLRETURN CatForeignKeys(StmtRecord* stmt, const char* pkCatalog, int16_t pkCatalogLen,
                         const char* pkSchema, int16_t pkSchemaLen, const char* pkTable,
                         int16_t pkTableLen, const char* fkCatalog, int16_t fkCatalogLen,
                         const char* fkSchema, int16_t fkSchemaLen, const char* fkTable,
                         int16_t fkTableLen) {
  const CatName names[] = {{pkCatalog, pkCatalogLen, kNullStays}, {pkSchema, pkSchemaLen, kNullStays},
                           {pkTable, pkTableLen, kNullStays},     {fkCatalog, fkCatalogLen, kNullStays},
                           {fkSchema, fkSchemaLen, kNullStays},   {fkTable, fkTableLen, kNullStays}};
  CatCopies c;
  if (CatBegin(stmt, names, 6, true, &c) != 0) return SQL_ERROR;
  // Keys are looked up from one table or the other (or between the two):
  // without either table there is nothing to ask.
  if (pkTable == nullptr && fkTable == nullptr) {
    stmt->error = KX_ERR_BAD_ARGUMENT;
    return SQL_ERROR;
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDForeignKeys, stmt->agentStmt,
                                c[0], c[1], c[2], c[3], c[4], c[5]));
}

SQLRETURN CatPrimaryKeys(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                         const char* schema, int16_t schemaLen, const char* table,
                         int16_t tableLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullStays},
                           {table, tableLen, kNullRefused}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s'\n", Show(c[0]), Show(c[1]), Show(c[2]));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDPrimaryKeys, stmt->agentStmt,
                                c[0], c[1], c[2]));
}

SQLRETURN CatProcedureColumns(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                              const char* schema, int16_t schemaLen, const char* procedure,
                              int16_t procedureLen, const char* column, int16_t columnLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullAny, kPattern},
                           {procedure, procedureLen, kNullAny, kPattern},
                           {column, columnLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 4, true, &c) != 0) return SQL_ERROR;
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDProcedureColumns,
                                stmt->agentStmt, c[0], c[1], c[2], c[3]));
}

SQLRETURN CatProcedures(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                        const char* schema, int16_t schemaLen, const char* procedure,
                        int16_t procedureLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullAny, kPattern},
                           {procedure, procedureLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, true, &c) != 0) return SQL_ERROR;
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDProcedures, stmt->agentStmt,
                                c[0], c[1], c[2]));
}

SQLRETURN CatSpecialColumns(StmtRecord* stmt, uint16_t identifierType, const char* catalog,
                            int16_t catalogLen, const char* schema, int16_t schemaLen,
                            const char* table, int16_t tableLen, uint16_t scope,
                            uint16_t nullable) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullStays},
                           {table, tableLen, kNullRefused}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s'\n", Show(c[0]), Show(c[1]), Show(c[2]));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDSpecialColumns, stmt->agentStmt,
                                c[0], c[1], c[2], identifierType, scope, nullable));
}

SQLRETURN CatStatistics(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                        const char* schema, int16_t schemaLen, const char* table,
                        int16_t tableLen, uint16_t unique, uint16_t accuracy) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullStays},
                           {table, tableLen, kNullRefused}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s' Unique=%u Accuracy=%u\n", Show(c[0]),
                Show(c[1]), Show(c[2]), static_cast<unsigned>(unique),
                static_cast<unsigned>(accuracy));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDStatistics, stmt->agentStmt,
                                c[0], c[1], c[2], unique, accuracy));
}

SQLRETURN CatTablePrivileges(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                             const char* schema, int16_t schemaLen, const char* table,
                             int16_t tableLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays},
                           {schema, schemaLen, kNullAny, kPattern},
                           {table, tableLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, true, &c) != 0) return SQL_ERROR;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s'\n", Show(c[0]), Show(c[1]), Show(c[2]));
  }
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDTablePrivileges,
                                stmt->agentStmt, c[0], c[1], c[2]));
}

SQLRETURN CatTables(StmtRecord* stmt, const char* catalog, int16_t catalogLen, const char* schema,
                    int16_t schemaLen, const char* table, int16_t tableLen, const char* types,
                    int16_t typesLen) {
  const CatName names[] = {{catalog, catalogLen, kNullStays, kPattern},
                           {schema, schemaLen, kNullAny, kPattern},
                           {table, tableLen, kNullAny, kPattern}};
  CatCopies c;
  if (CatBegin(stmt, names, 3, false, &c) != 0) return SQL_ERROR;
  // The type list keeps its quotes; no list asks for every type.
  char* typeCopy = nullptr;
  if (StrCopyN(&typeCopy, types, types != nullptr && typesLen >= 0 ? typesLen : SQL_NTS) != 0 ||
      typeCopy == nullptr) {
    stmt->error = KX_ERR_NOMEM;
    return SQL_ERROR;
  }
  c.v[c.n++] = typeCopy;
  if (TraceOn()) {
    TracePrintf("Qualifier='%s' Owner='%s' Name='%s' Type='%s'\n", Show(c[0]), Show(c[1]),
                Show(c[2]), Show(c[3]));
  }
  char* quoted = TableTypeQuote(typeCopy);
  if (quoted == nullptr) {
    stmt->error = KX_ERR_NOMEM;
    return SQL_ERROR;
  }
  std::free(c.v[3]);
  c.v[3] = quoted;
  const uint16_t connFlags = stmt->conn != nullptr ? stmt->conn->flags : 0;
  if ((connFlags & CF_IV) != 0 && TableTypeFind(c[3], "'TABLE'") != 0 &&
      TableTypeFind(c[3], "'VIEW'") == 0) {
    const size_t n = std::strlen(c[3]);
    if (char* grown = static_cast<char*>(std::realloc(c.v[3], n + 8)); grown != nullptr) {
      std::memcpy(grown + n, ",'VIEW'", 8);
      c.v[3] = grown;
    }
  }
  if ((connFlags & CF_IA) != 0) c.v[3][0] = '\0';
  return CatEnd(stmt, AgentCall(BindingOf(stmt), &AgentOps::DRV_DDTables, stmt->agentStmt, c[0],
                                c[1], c[2], c[3]));
}

// ---- handlers ----------------------------------------------------------------------------

namespace {

StmtRecord* S(HandleHead* rec) { return static_cast<StmtRecord*>(rec); }

}  // namespace

SQLRETURN CatColumnPrivilegesCall(HandleHead* rec, const OdbcArgs& a) {
  return CatColumnPrivileges(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1),
                             a.Get<const char*>(2), a.Get<int16_t>(3), a.Get<const char*>(4),
                             a.Get<int16_t>(5), a.Get<const char*>(6), a.Get<int16_t>(7));
}

SQLRETURN CatColumnsCall(HandleHead* rec, const OdbcArgs& a) {
  return CatColumns(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                    a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5),
                    a.Get<const char*>(6), a.Get<int16_t>(7));
}

SQLRETURN CatForeignKeysCall(HandleHead* rec, const OdbcArgs& a) {
  return CatForeignKeys(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                        a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5),
                        a.Get<const char*>(6), a.Get<int16_t>(7), a.Get<const char*>(8),
                        a.Get<int16_t>(9), a.Get<const char*>(10), a.Get<int16_t>(11));
}

SQLRETURN CatPrimaryKeysCall(HandleHead* rec, const OdbcArgs& a) {
  return CatPrimaryKeys(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                        a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5));
}

SQLRETURN CatProcedureColumnsCall(HandleHead* rec, const OdbcArgs& a) {
  return CatProcedureColumns(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1),
                             a.Get<const char*>(2), a.Get<int16_t>(3), a.Get<const char*>(4),
                             a.Get<int16_t>(5), a.Get<const char*>(6), a.Get<int16_t>(7));
}

SQLRETURN CatProceduresCall(HandleHead* rec, const OdbcArgs& a) {
  return CatProcedures(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                       a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5));
}

SQLRETURN CatSpecialColumnsCall(HandleHead* rec, const OdbcArgs& a) {
  return CatSpecialColumns(S(rec), a.Get<uint16_t>(0), a.Get<const char*>(1), a.Get<int16_t>(2),
                           a.Get<const char*>(3), a.Get<int16_t>(4), a.Get<const char*>(5),
                           a.Get<int16_t>(6), a.Get<uint16_t>(7), a.Get<uint16_t>(8));
}

SQLRETURN CatStatisticsCall(HandleHead* rec, const OdbcArgs& a) {
  return CatStatistics(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                       a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5),
                       a.Get<uint16_t>(6), a.Get<uint16_t>(7));
}

SQLRETURN CatTablePrivilegesCall(HandleHead* rec, const OdbcArgs& a) {
  return CatTablePrivileges(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1),
                            a.Get<const char*>(2), a.Get<int16_t>(3), a.Get<const char*>(4),
                            a.Get<int16_t>(5));
}

SQLRETURN CatTablesCall(HandleHead* rec, const OdbcArgs& a) {
  return CatTables(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1), a.Get<const char*>(2),
                   a.Get<int16_t>(3), a.Get<const char*>(4), a.Get<int16_t>(5),
                   a.Get<const char*>(6), a.Get<int16_t>(7));
}

}  // namespace kx
