// Composition of diagnostics and the handlers of SQLError, SQLGetDiagRec and
// SQLGetDiagField.
#include "odbc/diag.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "odbc/connstr.h"
#include "odbc/records.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

// ---- lists ----------------------------------------------------------------------

int MsgListAppend(MsgNode** head, const char* text, int32_t native) {
  auto* node = static_cast<MsgNode*>(calloc(1, sizeof(MsgNode)));
  char* copy = strdup(text != nullptr ? text : "");
  if (node == nullptr || copy == nullptr) {
    free(node);
    free(copy);
    return KX_ERR_NOMEM;
  }
  node->text = copy;
  node->native = native;
  MsgNode** tail = head;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  return 0;
}

char* MsgListPop(MsgNode** head, int32_t* native) {
  MsgNode* node = *head;
  if (node == nullptr) return nullptr;
  *head = node->next;
  if (native != nullptr) *native = node->native;
  char* text = node->text;
  free(node);
  return text != nullptr ? text : strdup("");
}

void MsgListFree(MsgNode** head) {
  MsgNode* node = *head;
  *head = nullptr;
  while (node != nullptr) {
    MsgNode* next = node->next;
    free(node->text);
    free(node);
    node = next;
  }
}

int DiagCount(const MsgNode* first) {
  int n = 0;
  for (const MsgNode* m = first; m != nullptr; m = m->next) ++n;
  return n == 0 ? 1 : n;
}

const char* DiagNthMsg(const MsgNode* first, int n, int32_t* native) {
  const MsgNode* m = first;
  for (int i = 1; m != nullptr && i < n; ++i) m = m->next;
  if (m == nullptr) return nullptr;
  if (native != nullptr) *native = m->native;
  return m->text != nullptr ? m->text : "";
}

// ---- the table ------------------------------------------------------------------

const char* ErrorCodeText(int code, const char** sqlstate, char* scratch, size_t scratchSize) {
  if (code > 0 && code < kErrorCodeRows && ErrorCodeTable[code].sqlstate[0] != '\0') {
    if (sqlstate != nullptr) *sqlstate = ErrorCodeTable[code].sqlstate;
    return ErrorCodeTable[code].message;
  }
  if (sqlstate != nullptr) *sqlstate = "S1000";
  snprintf(scratch, scratchSize, "Undefined errorcode (%d).\nPlease install a newer client.", code);
  return scratch;
}

int DiagFailoverCode(const char* text) {
  if (text == nullptr) return 0;
  if (strstr(text, ErrorCodeTable[KX_ERR_FAILOVER_COMPLETED].message) != nullptr) {
    return KX_ERR_FAILOVER_COMPLETED;
  }
  if (strstr(text, ErrorCodeTable[KX_ERR_FAILOVER_ABORTED].message) != nullptr) {
    return KX_ERR_FAILOVER_ABORTED;
  }
  return 0;
}

// ODBC 2's table also maps 22003, 22008 and 24000, for ODBC 2 meanings
// (data sent in pieces, datetime format, a statement that is no query) that neither
// the driver's own errors under those states nor a database's have: they keep
// their ODBC 3 meanings (numeric value out of range, datetime field overflow,
// invalid cursor state) unchanged.
void SqlStateToV3(char* state) {
  static const struct {
    const char* v2;
    const char* v3;
  } kPairs[] = {
      {"S1002", "07009"}, {"S1093", "07009"}, {"01S03", "01001"}, {"01S04", "01001"},
      {"22005", "22018"}, {"37000", "42000"}, {"70100", "HY018"}, {"07001", "07002"},
  };
  if (state == nullptr) return;
  for (const auto& p : kPairs) {
    if (strcmp(state, p.v2) == 0) {
      memcpy(state, p.v3, 5);
      return;
    }
  }
  if (state[0] == 'S' && state[1] == '1') {
    state[0] = 'H';
    state[1] = 'Y';
  } else if (state[0] == 'S' && state[1] == '0' && state[2] == '0') {
    state[0] = '4';
    state[1] = '2';
    state[2] = 'S';
  }
}

// ---- the statement's function ---------------------------------------------------

namespace {

struct FunctionName {
  int code;
  const char* name;
};

constexpr FunctionName kFunctionNames[] = {
    {SQL_DIAG_ALTER_DOMAIN, "ALTER DOMAIN"},
    {SQL_DIAG_ALTER_TABLE, "ALTER TABLE"},
    {SQL_DIAG_CALL, "CALL"},
    {SQL_DIAG_CREATE_ASSERTION, "CREATE ASSERTION"},
    {SQL_DIAG_CREATE_CHARACTER_SET, "CREATE CHARACTER SET"},
    {SQL_DIAG_CREATE_COLLATION, "CREATE COLLATION"},
    {SQL_DIAG_CREATE_DOMAIN, "CREATE DOMAIN"},
    {SQL_DIAG_CREATE_INDEX, "CREATE INDEX"},
    {SQL_DIAG_CREATE_SCHEMA, "CREATE SCHEMA"},
    {SQL_DIAG_CREATE_TABLE, "CREATE TABLE"},
    {SQL_DIAG_CREATE_TRANSLATION, "CREATE TRANSLATION"},
    {SQL_DIAG_CREATE_VIEW, "CREATE VIEW"},
    {SQL_DIAG_DELETE_WHERE, "DELETE WHERE"},
    {SQL_DIAG_DROP_ASSERTION, "DROP ASSERTION"},
    {SQL_DIAG_DROP_CHARACTER_SET, "DROP CHARACTER SET"},
    {SQL_DIAG_DROP_COLLATION, "DROP COLLATION"},
    {SQL_DIAG_DROP_DOMAIN, "DROP DOMAIN"},
    {SQL_DIAG_DROP_INDEX, "DROP INDEX"},
    {SQL_DIAG_DROP_SCHEMA, "DROP SCHEMA"},
    {SQL_DIAG_DROP_TABLE, "DROP TABLE"},
    {SQL_DIAG_DROP_TRANSLATION, "DROP TRANSLATION"},
    {SQL_DIAG_DROP_VIEW, "DROP VIEW"},
    {SQL_DIAG_DYNAMIC_DELETE_CURSOR, "DYNAMIC DELETE CURSOR"},
    {SQL_DIAG_DYNAMIC_UPDATE_CURSOR, "DYNAMIC UPDATE CURSOR"},
    {SQL_DIAG_GRANT, "GRANT"},
    {SQL_DIAG_INSERT, "INSERT"},
    {SQL_DIAG_REVOKE, "REVOKE"},
    {SQL_DIAG_SELECT_CURSOR, "SELECT CURSOR"},
    {SQL_DIAG_UPDATE_WHERE, "UPDATE WHERE"},
};

// What CREATE and DROP make or remove, as the words after them.
struct ObjectFunction {
  const char* object;
  int create;
  int drop;
};

constexpr ObjectFunction kObjects[] = {
    {"TABLE", SQL_DIAG_CREATE_TABLE, SQL_DIAG_DROP_TABLE},
    {"VIEW", SQL_DIAG_CREATE_VIEW, SQL_DIAG_DROP_VIEW},
    {"INDEX", SQL_DIAG_CREATE_INDEX, SQL_DIAG_DROP_INDEX},
    {"SCHEMA", SQL_DIAG_CREATE_SCHEMA, SQL_DIAG_DROP_SCHEMA},
    {"DOMAIN", SQL_DIAG_CREATE_DOMAIN, SQL_DIAG_DROP_DOMAIN},
    {"ASSERTION", SQL_DIAG_CREATE_ASSERTION, SQL_DIAG_DROP_ASSERTION},
    {"COLLATION", SQL_DIAG_CREATE_COLLATION, SQL_DIAG_DROP_COLLATION},
    {"TRANSLATION", SQL_DIAG_CREATE_TRANSLATION, SQL_DIAG_DROP_TRANSLATION},
    {"CHARACTER", SQL_DIAG_CREATE_CHARACTER_SET, SQL_DIAG_DROP_CHARACTER_SET},
};

// Walks the words of a statement that stand outside parentheses, quotes and
// comments.
class WordScanner {
 public:
  explicit WordScanner(const char* text) : p_(text != nullptr ? text : "") {}

  // The next word (letters, digits, '_'), upper-cased into word; false at
  // the end. Only words at nesting depth 0 are returned unless any is set.
  bool Next(std::string* word, bool any = false) {
    for (;;) {
      SkipSpaceAndComments();
      const char c = *p_;
      if (c == '\0') return false;
      if (IsWordChar(c)) {
        word->clear();
        while (IsWordChar(*p_)) word->push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*p_++))));
        if (depth_ == 0 || any) return true;
        continue;
      }
      if (c == '\'' || c == '"' || c == '`') {
        SkipQuoted(c);
        continue;
      }
      if (c == '(') ++depth_;
      if (c == ')' && depth_ > 0) --depth_;
      ++p_;
    }
  }

 private:
  static bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }
  void SkipQuoted(char q) {
    ++p_;
    while (*p_ != '\0') {
      if (*p_ == q) {
        ++p_;
        if (*p_ != q) return;
      }
      ++p_;
    }
  }
  void SkipSpaceAndComments() {
    for (;;) {
      while (std::isspace(static_cast<unsigned char>(*p_)) != 0) ++p_;
      if (p_[0] == '-' && p_[1] == '-') {
        while (*p_ != '\0' && *p_ != '\n') ++p_;
      } else if (p_[0] == '/' && p_[1] == '*') {
        const char* end = std::strstr(p_ + 2, "*/");
        p_ = end != nullptr ? end + 2 : p_ + std::strlen(p_);
      } else {
        return;
      }
    }
  }
  const char* p_;
  int depth_ = 0;
};

int FunctionOfKeyword(WordScanner& words, const std::string& first) {
  std::string w;
  if (first == "SELECT" || first == "VALUES" || first == "TABLE") return SQL_DIAG_SELECT_CURSOR;
  if (first == "INSERT") return SQL_DIAG_INSERT;
  if (first == "CALL" || first == "EXEC" || first == "EXECUTE") return SQL_DIAG_CALL;
  if (first == "GRANT") return SQL_DIAG_GRANT;
  if (first == "REVOKE") return SQL_DIAG_REVOKE;
  if (first == "UPDATE" || first == "DELETE") {
    // A positioned change names the cursor it works through.
    bool current = false;
    while (words.Next(&w)) {
      if (w == "CURRENT") {
        current = words.Next(&w) && w == "OF";
        break;
      }
    }
    if (first == "UPDATE") return current ? SQL_DIAG_DYNAMIC_UPDATE_CURSOR : SQL_DIAG_UPDATE_WHERE;
    return current ? SQL_DIAG_DYNAMIC_DELETE_CURSOR : SQL_DIAG_DELETE_WHERE;
  }
  if (first == "ALTER") {
    if (!words.Next(&w)) return SQL_DIAG_UNKNOWN_STATEMENT;
    if (w == "TABLE") return SQL_DIAG_ALTER_TABLE;
    if (w == "DOMAIN") return SQL_DIAG_ALTER_DOMAIN;
    return SQL_DIAG_UNKNOWN_STATEMENT;
  }
  if (first == "CREATE" || first == "DROP") {
    const bool create = first == "CREATE";
    // Qualifiers between the verb and the object: OR REPLACE, UNIQUE,
    // TEMPORARY, GLOBAL, LOCAL, MATERIALIZED and the like.
    for (int i = 0; i < 4 && words.Next(&w); ++i) {
      for (const ObjectFunction& o : kObjects) {
        if (w == o.object) return create ? o.create : o.drop;
      }
    }
    return SQL_DIAG_UNKNOWN_STATEMENT;
  }
  return SQL_DIAG_UNKNOWN_STATEMENT;
}

}  // namespace

int DiagFunctionOfText(const char* text) {
  WordScanner words(text);
  std::string w;
  // "{call p(?)}" and "{? = call p(?)}": the escape's word stands inside
  // braces, not parentheses, so it is the first word met.
  if (!words.Next(&w, true)) return SQL_DIAG_UNKNOWN_STATEMENT;
  if (w == "WITH") {
    // The statement a WITH clause introduces is the first of these words
    // outside the clause's parenthesised queries.
    while (words.Next(&w)) {
      if (w == "SELECT" || w == "INSERT" || w == "UPDATE" || w == "DELETE" || w == "VALUES") {
        return FunctionOfKeyword(words, w);
      }
    }
    return SQL_DIAG_UNKNOWN_STATEMENT;
  }
  return FunctionOfKeyword(words, w);
}

const char* DiagFunctionName(int code) {
  for (const FunctionName& f : kFunctionNames) {
    if (f.code == code) return f.name;
  }
  return "";
}

// ---- targets --------------------------------------------------------------------

namespace {

int VersionOf(const ConnRecord* conn) {
  return (conn != nullptr && conn->env != nullptr) ? conn->env->odbcVersion : SQL_OV_ODBC3;
}

DiagTarget TargetFromHead(HandleHead* head, int kind) {
  DiagTarget t{};
  t.kind = kind;
  t.messages = &head->messages;
  t.errorCode = &head->error;
  t.diagRecNo = &head->diagRecNo;
  t.odbcVersion = SQL_OV_ODBC3;
  return t;
}

}  // namespace

DiagTarget DiagTargetOf(EnvrRecord* env) {
  DiagTarget t = TargetFromHead(env, SQL_HANDLE_ENV);
  t.odbcVersion = env->odbcVersion;
  return t;
}

DiagTarget DiagTargetOf(ConnRecord* conn) {
  DiagTarget t = TargetFromHead(conn, SQL_HANDLE_DBC);
  t.odbcVersion = VersionOf(conn);
  t.dsn = conn->dsn;
  return t;
}

DiagTarget DiagTargetOf(StmtRecord* stmt) {
  DiagTarget t = TargetFromHead(stmt, SQL_HANDLE_STMT);
  t.odbcVersion = VersionOf(stmt->conn);
  t.dsn = stmt->conn != nullptr ? stmt->conn->dsn : nullptr;
  t.stmt = stmt;
  t.rowCount = StmtDiagRowCount;
  t.dynamicFunction = StmtDiagDynamicFunction;
  return t;
}

DiagTarget DiagTargetOf(DescRecord* desc) {
  DiagTarget t = TargetFromHead(desc, SQL_HANDLE_DESC);
  ConnRecord* conn = OwningConnection(desc);
  t.odbcVersion = VersionOf(conn);
  t.dsn = conn != nullptr ? conn->dsn : nullptr;
  return t;
}

// ---- composition ----------------------------------------------------------------

namespace {

// One composed diagnostic: the whole text, however long.
struct Composed {
  SQLRETURN rc = SQL_NO_DATA;  // SQL_SUCCESS when there is a diagnostic
  std::string text;
  char state[6] = "00000";
  int32_t native = 0;
};

void SetState(char* out, const char* state, int odbcVersion) {
  size_t n = 0;
  while (n < 5 && state[n] != '\0') ++n;
  if (n == 0) {
    state = "S1000";
    n = 5;
  }
  StrCopyBytes(out, state, n);
  if (odbcVersion != SQL_OV_ODBC2) SqlStateToV3(out);
}

Composed Compose(const DiagTarget& t, int mode) {
  Composed c;
  char* taken = nullptr;
  const char* msg = nullptr;
  int32_t native = 0;
  if (mode == DIAG_TAKE) {
    taken = MsgListPop(t.messages, &native);
    msg = taken;
  } else {
    msg = DiagNthMsg(*t.messages, *t.diagRecNo, &native);
  }
  int code = *t.errorCode;
  if (mode == DIAG_TAKE) *t.errorCode = 0;

  if (msg != nullptr) {
    std::string cut = StrSkipSpace(msg);
    std::string state;
    if (const char* tag = StrFindCI(cut.c_str(), "[SQLSTATE:"); tag != nullptr) {
      size_t at = static_cast<size_t>(tag - cut.c_str());
      const char* s = tag + strlen("[SQLSTATE:");
      const char* end = strchr(s, ']');
      state.assign(s, end != nullptr ? static_cast<size_t>(end - s) : strlen(s));
      cut.resize(at);
    }
    free(taken);
    c.rc = SQL_SUCCESS;
    c.text = std::string(kDiagPrefix) + cut;
    c.native = native;
    SetState(c.state, state.empty() ? "S1000" : state.c_str(), t.odbcVersion);
    // Driver messages may quote a connect string or URL: no secret reaches the trace.
    if (TraceOn()) TracePrintf("Returning %s", ConnStrMasked(cut.c_str()).c_str());
    return c;
  }
  if (code != 0) {
    char scratch[128];
    const char* state = nullptr;
    const char* text = ErrorCodeText(code, &state, scratch, sizeof scratch);
    c.rc = SQL_SUCCESS;
    c.text = std::string(kDiagDriverPrefix) + text;
    SetState(c.state, state, t.odbcVersion);
    TracePrintf("returning %s", c.text.c_str());
    return c;
  }
  TracePrintf("returning NO_DATA_FOUND");
  return c;
}

SQLSMALLINT SaturateSmall(size_t n) {
  return n > 32767 ? SQLSMALLINT{32767} : static_cast<SQLSMALLINT>(n);
}

// Copies text into a caller's byte buffer: at most capacity - 1 bytes of whole
// characters and a terminator. True when it had to be cut.
bool CopyBytes(const std::string& text, SQLCHAR* out, SQLSMALLINT capacity) {
  int16_t ignored = 0;
  int rc = StrCopyOutLen(text.c_str(), reinterpret_cast<char*>(out),
                         static_cast<uint16_t>(capacity < 0 ? 0 : capacity), &ignored);
  return rc != 0;
}

// String field of SQLGetDiagField: 'A' bytes, 'W' UTF-16 with lengths in bytes.
SQLRETURN CopyField(const char* text, SQLPOINTER value, SQLSMALLINT bufferLength,
                    SQLSMALLINT* stringLength, char form) {
  if (bufferLength < 0) return SQL_ERROR;
  int16_t len = 0;
  int rc = 0;
  if (form == 'W') {
    rc = Utf8ToUcs2OutBytes(text, static_cast<char16_t*>(value), static_cast<size_t>(bufferLength),
                            &len);
    int64_t bytes = static_cast<int64_t>(len) * 2;
    len = bytes > 32767 ? int16_t{32767} : static_cast<int16_t>(bytes);
  } else {
    rc = StrCopyOutLen(text, static_cast<char*>(value), static_cast<uint16_t>(bufferLength), &len);
  }
  if (stringLength != nullptr) *stringLength = len;
  return (rc != 0 && value != nullptr) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace

SQLRETURN DiagFetchTarget(const DiagTarget& t, int mode, SQLCHAR* state, SQLINTEGER* native,
                          SQLCHAR* text, SQLSMALLINT capacity, SQLSMALLINT* length) {
  if (length != nullptr) *length = 0;
  if (capacity < 0) return SQL_ERROR;
  Composed c = Compose(t, mode);
  if (native != nullptr) *native = c.native;
  if (state != nullptr) memcpy(state, c.state, 6);
  if (c.rc == SQL_NO_DATA) {
    if (text != nullptr && capacity > 0) text[0] = '\0';
    return SQL_NO_DATA;
  }
  if (length != nullptr) *length = SaturateSmall(c.text.size());
  if (text == nullptr) return SQL_SUCCESS;  // only the length was asked: nothing is cut
  if (c.text.size() + 1 > static_cast<size_t>(capacity)) {
    if (capacity > 0) CopyBytes(c.text, text, capacity);
    TracePrintf("returning SUCCESS_WITH_INFO");
    return SQL_SUCCESS_WITH_INFO;
  }
  memcpy(text, c.text.c_str(), c.text.size() + 1);
  return SQL_SUCCESS;
}

SQLRETURN DiagFetch(EnvrRecord* env, ConnRecord* conn, StmtRecord* stmt, DescRecord* desc, int mode,
                    SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                    SQLSMALLINT* length) {
  DiagTarget t;
  if (stmt != nullptr) {
    t = DiagTargetOf(stmt);
  } else if (conn != nullptr) {
    t = DiagTargetOf(conn);
  } else if (env != nullptr) {
    t = DiagTargetOf(env);
  } else if (desc != nullptr) {
    t = DiagTargetOf(desc);
    mode = DIAG_READ;  // descriptors are only ever read
  } else {
    return SQL_INVALID_HANDLE;
  }
  return DiagFetchTarget(t, mode, state, native, text, capacity, length);
}

SQLRETURN DiagGetRec(const DiagTarget& t, SQLSMALLINT recNumber, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity, SQLSMALLINT* length) {
  if (recNumber < 1) return SQL_ERROR;
  if (DiagCount(*t.messages) < recNumber) {
    if (state != nullptr) memcpy(state, "00000", 6);
    if (native != nullptr) *native = 0;
    if (text != nullptr && capacity > 0) text[0] = '\0';
    if (length != nullptr) *length = 0;
    return SQL_NO_DATA;
  }
  if (capacity < 0) return SQL_ERROR;
  *t.diagRecNo = recNumber;
  return DiagFetchTarget(t, DIAG_READ, state, native, text, capacity, length);
}

namespace {

bool IsHeaderField(SQLSMALLINT identifier) {
  switch (identifier) {
    case SQL_DIAG_RETURNCODE:
    case SQL_DIAG_NUMBER:
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
    case SQL_DIAG_DYNAMIC_FUNCTION:
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      return true;
    default:
      return false;
  }
}

bool IsRecordField(SQLSMALLINT identifier) {
  switch (identifier) {
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return true;
    default:
      return false;
  }
}

}  // namespace

SQLRETURN DiagGetField(const DiagTarget& t, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                       SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                       char form) {
  const bool isStmt = t.kind == SQL_HANDLE_STMT;
  // A header field answers whatever the record number; a field that is
  // neither a header nor a record field is refused.
  const bool header = IsHeaderField(identifier);
  if (!header && !IsRecordField(identifier)) return SQL_ERROR;
  if (!header) {
    if (recNumber > DiagCount(*t.messages)) return SQL_NO_DATA;
    if (recNumber <= 0) return SQL_ERROR;
  }

  if (header) {
    switch (identifier) {
      case SQL_DIAG_RETURNCODE:
        return SQL_SUCCESS;
      case SQL_DIAG_NUMBER:
        if (value != nullptr) *static_cast<SQLINTEGER*>(value) = DiagCount(*t.messages);
        return SQL_SUCCESS;
      case SQL_DIAG_ROW_COUNT:
      case SQL_DIAG_CURSOR_ROW_COUNT: {
        if (!isStmt) return SQL_ERROR;
        if (value == nullptr) return SQL_SUCCESS;
        SQLLEN count = 0;
        if (t.rowCount != nullptr) {
          int rc = t.rowCount(t.stmt, &count);
          if (rc != 0) {
            *t.errorCode = rc;
            return SQL_ERROR;
          }
        }
        *static_cast<SQLLEN*>(value) = count;
        return SQL_SUCCESS;
      }
      case SQL_DIAG_DYNAMIC_FUNCTION: {
        if (!isStmt) return SQL_ERROR;
        const int code = t.dynamicFunction != nullptr ? t.dynamicFunction(t.stmt) : SQL_DIAG_UNKNOWN_STATEMENT;
        return CopyField(DiagFunctionName(code), value, bufferLength, stringLength, form);
      }
      case SQL_DIAG_DYNAMIC_FUNCTION_CODE: {
        if (!isStmt) return SQL_ERROR;
        const int code = t.dynamicFunction != nullptr ? t.dynamicFunction(t.stmt) : SQL_DIAG_UNKNOWN_STATEMENT;
        if (value != nullptr) *static_cast<SQLINTEGER*>(value) = code;
        return SQL_SUCCESS;
      }
      default:
        return SQL_ERROR;
    }
  }

  switch (identifier) {
    case SQL_DIAG_ROW_NUMBER:
      if (!isStmt) return SQL_ERROR;
      if (value != nullptr) *static_cast<SQLLEN*>(value) = SQL_ROW_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_COLUMN_NUMBER:
      if (!isStmt) return SQL_ERROR;
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = SQL_COLUMN_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME: {
      const char* name = (t.kind == SQL_HANDLE_ENV || t.dsn == nullptr) ? "" : t.dsn;
      return CopyField(name, value, bufferLength, stringLength, form);
    }
    default:
      break;
  }

  *t.diagRecNo = recNumber;
  Composed c = Compose(t, DIAG_READ);
  const bool have = c.rc == SQL_SUCCESS;
  switch (identifier) {
    case SQL_DIAG_SQLSTATE:
      return CopyField(have ? c.state : "00000", value, bufferLength, stringLength, form);
    case SQL_DIAG_NATIVE:
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = have ? c.native : 0;
      return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT:
      if (!have) return SQL_NO_DATA;
      return CopyField(c.text.c_str(), value, bufferLength, stringLength, form);
    default:  // the two origins
      if (!have) return SQL_NO_DATA;
      return CopyField(strncmp(c.state, "IM", 2) == 0 ? "ODBC 3.0" : "ISO 9075", value,
                       bufferLength, stringLength, form);
  }
}

// ---- handlers ---------------------------------------------------------------------

SQLRETURN EnvrError(EnvrRecord* env, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length) {
  return DiagFetchTarget(DiagTargetOf(env), DIAG_TAKE, state, native, text, capacity, length);
}
SQLRETURN ConnError(ConnRecord* conn, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length) {
  return DiagFetchTarget(DiagTargetOf(conn), DIAG_TAKE, state, native, text, capacity, length);
}
SQLRETURN StmtError(StmtRecord* stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length) {
  return DiagFetchTarget(DiagTargetOf(stmt), DIAG_TAKE, state, native, text, capacity, length);
}

SQLRETURN EnvrGetDiagRec(EnvrRecord* env, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length) {
  return DiagGetRec(DiagTargetOf(env), recNumber, state, native, text, capacity, length);
}
SQLRETURN ConnGetDiagRec(ConnRecord* conn, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length) {
  return DiagGetRec(DiagTargetOf(conn), recNumber, state, native, text, capacity, length);
}
SQLRETURN StmtGetDiagRec(StmtRecord* stmt, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length) {
  return DiagGetRec(DiagTargetOf(stmt), recNumber, state, native, text, capacity, length);
}
SQLRETURN DescGetDiagRec(DescRecord* desc, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length) {
  return DiagGetRec(DiagTargetOf(desc), recNumber, state, native, text, capacity, length);
}

SQLRETURN EnvrGetDiagField(EnvrRecord* env, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form) {
  return DiagGetField(DiagTargetOf(env), recNumber, identifier, value, bufferLength, stringLength,
                      form);
}
SQLRETURN ConnGetDiagField(ConnRecord* conn, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form) {
  return DiagGetField(DiagTargetOf(conn), recNumber, identifier, value, bufferLength, stringLength,
                      form);
}
SQLRETURN StmtGetDiagField(StmtRecord* stmt, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form) {
  return DiagGetField(DiagTargetOf(stmt), recNumber, identifier, value, bufferLength, stringLength,
                      form);
}
SQLRETURN DescGetDiagField(DescRecord* desc, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form) {
  return DiagGetField(DiagTargetOf(desc), recNumber, identifier, value, bufferLength, stringLength,
                      form);
}

}  // namespace kx
