// The small statement calls: SQLCloseCursor, SQLDescribeCol, the cursor names,
// SQLNumParams, SQLNumResultCols, SQLParamOptions and SQLRowCount. Column
// attributes are in stmt_api_colattr.cpp, SQLCancel in stmt_api_cancel.cpp;
// SQLPrepare shares its prepare step with execution (exec/execute_prepare.cpp).
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "odbc/copy_out.h"
#include "odbc/getinfo.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

namespace {

StmtRecord* S(HandleHead* rec) { return static_cast<StmtRecord*>(rec); }

int16_t ClampLength(int64_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Text into a caller's 8-bit buffer (the wide entries convert it afterwards):
// cut and terminated with 01004, the whole length reported, a NULL buffer
// reports the length only.
SQLRETURN CopyName(StmtRecord* stmt, const char* text, void* buffer, int16_t bufferLength,
                   int16_t* length) {
  const uint64_t n = std::strlen(text);
  int64_t full = 0;
  int32_t err = 0;
  const int16_t rc = CopyOutNarrow(text, n, static_cast<int64_t>(n), 0, 1, 1, buffer, bufferLength,
                                   &full, &err);
  if (rc == SQL_ERROR) {
    stmt->error = err != 0 ? err : KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  if (length != nullptr) *length = ClampLength(full);
  if (rc == SQL_SUCCESS_WITH_INFO) stmt->error = err != 0 ? err : KX_ERR_DATA_TRUNCATED;
  return rc;
}

// The name of a statement the agent names nothing for: unique within the
// connection and the same on every call.
std::string DefaultCursorName(const StmtRecord* stmt) {
  return "SQL_CUR" + std::to_string(stmt->serial);
}

}  // namespace

SQLRETURN StmtCloseCursor(StmtRecord* stmt) {
  if ((stmt->flags & SF_EXECUTED) == 0) {
    stmt->error = KX_ERR_CURSOR_STATE;
    return SQL_ERROR;
  }
  StmtClose(stmt);
  return SQL_SUCCESS;
}

SQLRETURN StmtDescribeCol(StmtRecord* stmt, uint16_t column, char* name, int16_t bufferLength,
                          int16_t* nameLength, int16_t* dataType, uint64_t* columnSize,
                          int16_t* decimalDigits, int16_t* nullable) {
  if (bufferLength < 0) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  const AgentColDesc* cd = StmtGetColDesc(stmt, column);
  if (cd == nullptr) {
    // An agent that describes nothing leaves no code: the column is not there.
    if (stmt->error == 0) stmt->error = KX_ERR_BAD_COLUMN_NUMBER;
    return SQL_ERROR;
  }
  // Column 0 with bookmarks on is the synthetic bookmark column: "BOOKMARK",
  // SQL_CHAR, size 8, no decimals, not nullable.
  if (dataType != nullptr) *dataType = static_cast<int16_t>(cd->sqlType & 0xFFFF);
  if (columnSize != nullptr) {
    *columnSize = cd->columnSize < 0 ? 0 : static_cast<uint64_t>(cd->columnSize);
  }
  if (decimalDigits != nullptr) *decimalDigits = cd->decimalDigits;
  if (nullable != nullptr) *nullable = static_cast<int16_t>(cd->flags & COLDESC_NULLABLE_MASK);
  const char* label = (cd->label != nullptr && cd->label[0] != '\0') ? cd->label : cd->name;
  return CopyName(stmt, label, name, bufferLength, nameLength);
}

SQLRETURN StmtGetCursorName(StmtRecord* stmt, char* buffer, int16_t bufferLength,
                            int16_t* nameLength) {
  if (bufferLength < 0) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  // The agent's name is read whole into a buffer of our own, so that cutting
  // it to the caller's buffer follows the one copy-out rule.
  std::string name;
  for (int32_t size = 256;; size = 65536) {
    std::string room(static_cast<size_t>(size), '\0');
    uint16_t length = 0;
    const int32_t code = AgentCall(BindingOf(stmt), &AgentOps::DRV_GetCursorName, stmt->agentStmt,
                                   room.data(), size, &length);
    if (code == KX_ERR_DATA_TRUNCATED && size < 65536) continue;
    if (code != 0 && code != KX_ERR_DATA_TRUNCATED && code != KX_ERR_SEQUENCE) {
      // A real failure; "no results" (S1010) only means the agent has no name.
      StmtPullMsgs(stmt);
      stmt->error = code;
      return SQL_ERROR;
    }
    if (code != KX_ERR_SEQUENCE) name.assign(room.c_str());
    break;
  }
  if (name.empty()) name = DefaultCursorName(stmt);
  return CopyName(stmt, name.c_str(), buffer, bufferLength, nameLength);
}

namespace {

// Whether a cursor name is longer than SQLGetInfo(SQL_MAX_CURSOR_NAME_LEN)
// says names may be (0 there: no limit known).
bool CursorNameTooLong(StmtRecord* stmt, const char* name) {
  ConnRecord* conn = stmt->conn;
  if (conn == nullptr) return false;
  SQLUSMALLINT limit = 0;
  const int32_t keptError = conn->error;
  const SQLRETURN rc = ConnGetInfo(conn, SQL_MAX_CURSOR_NAME_LEN, &limit, sizeof limit, nullptr, 'A');
  conn->error = keptError;
  if (rc != SQL_SUCCESS || limit == 0) return false;
  return Utf8CharCount(name, TEXT_NTS) > limit;
}

}  // namespace

SQLRETURN StmtSetCursorName(StmtRecord* stmt, const char* name, int16_t length) {
  if (length < 0 && length != SQL_NTS) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  char* copy = nullptr;
  if (StrCopyN(&copy, name, length) != 0 || copy == nullptr) {
    std::free(copy);
    stmt->error = KX_ERR_NOMEM;
    return SQL_ERROR;
  }
  if (TraceOn()) TracePrintf("SetCursorName [%s]\n", copy);
  if (CursorNameTooLong(stmt, copy)) {
    std::free(copy);
    stmt->error = KX_ERR_BAD_CURSOR_NAME;
    return SQL_ERROR;
  }
  const int32_t code =
      AgentCall(BindingOf(stmt), &AgentOps::DRV_SetCursorName, stmt->agentStmt, copy);
  std::free(copy);
  stmt->error = code;
  if (code != 0) {
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

// ---- handlers ----------------------------------------------------------------------------

SQLRETURN StmtCloseCursorCall(HandleHead* rec, const OdbcArgs&) { return StmtCloseCursor(S(rec)); }

SQLRETURN StmtDescribeColCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtDescribeCol(S(rec), a.Get<uint16_t>(0), a.Get<char*>(1), a.Get<int16_t>(2),
                         a.Get<int16_t*>(3), a.Get<int16_t*>(4), a.Get<uint64_t*>(5),
                         a.Get<int16_t*>(6), a.Get<int16_t*>(7));
}

SQLRETURN StmtGetCursorNameCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtGetCursorName(S(rec), a.Get<char*>(0), a.Get<int16_t>(1), a.Get<int16_t*>(2));
}

SQLRETURN StmtSetCursorNameCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtSetCursorName(S(rec), a.Get<const char*>(0), a.Get<int16_t>(1));
}

SQLRETURN StmtNumParamsCall(HandleHead* rec, const OdbcArgs& a) {
  StmtRecord* stmt = S(rec);
  const int code = StmtNumParams(stmt, a.Get<int16_t*>(0));
  if (code == 0) return SQL_SUCCESS;
  stmt->error = code;
  return SQL_ERROR;
}

SQLRETURN StmtNumResultColsCall(HandleHead* rec, const OdbcArgs& a) {
  StmtRecord* stmt = S(rec);
  const int code = StmtNumResultCols(stmt, a.Get<int16_t*>(0));
  if (code == 0) return SQL_SUCCESS;
  stmt->error = code;
  return SQL_ERROR;
}

SQLRETURN StmtParamOptionsCall(HandleHead* rec, const OdbcArgs& a) {
  StmtRecord* stmt = S(rec);
  const int code = StmtParamOptions(stmt, a.Get<uint64_t>(0), a.Get<uint64_t*>(1));
  if (code == 0) return SQL_SUCCESS;
  stmt->error = code;
  return SQL_ERROR;
}

SQLRETURN StmtRowCountCall(HandleHead* rec, const OdbcArgs& a) {
  StmtRecord* stmt = S(rec);
  const int code = StmtGetRowCount(stmt, a.Get<int64_t*>(0));
  if (code == 0) return SQL_SUCCESS;
  stmt->error = code;
  return SQL_ERROR;
}

}  // namespace kx
