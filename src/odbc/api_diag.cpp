// Exports: SQLError, SQLGetDiagRec and SQLGetDiagField, narrow and wide.
// The wide forms report a cut text without adding a diagnostic.
#include "odbc/dispatch.h"
#include "odbc/wide_entry.h"

using namespace kx;

namespace {

const OdbcCallRecord* DiagRecRecord(SQLSMALLINT type, bool wide) {
  switch (type) {
    case SQL_HANDLE_ENV: return wide ? &kRecGetDiagRecWEnv : &kRecGetDiagRecEnv;
    case SQL_HANDLE_DBC: return wide ? &kRecGetDiagRecWDbc : &kRecGetDiagRecDbc;
    case SQL_HANDLE_STMT: return wide ? &kRecGetDiagRecWStmt : &kRecGetDiagRecStmt;
    case SQL_HANDLE_DESC: return wide ? &kRecGetDiagRecWDesc : &kRecGetDiagRecDesc;
    default: return nullptr;
  }
}

const OdbcCallRecord* DiagFieldRecord(SQLSMALLINT type, bool wide) {
  switch (type) {
    case SQL_HANDLE_ENV: return wide ? &kRecGetDiagFieldWEnv : &kRecGetDiagFieldEnv;
    case SQL_HANDLE_DBC: return wide ? &kRecGetDiagFieldWDbc : &kRecGetDiagFieldDbc;
    case SQL_HANDLE_STMT: return wide ? &kRecGetDiagFieldWStmt : &kRecGetDiagFieldStmt;
    case SQL_HANDLE_DESC: return wide ? &kRecGetDiagFieldWDesc : &kRecGetDiagFieldDesc;
    default: return nullptr;
  }
}

// SQLError picks the first handle given: statement, connection, environment.
const OdbcCallRecord* ErrorRecord(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, bool wide,
                                  SQLHANDLE* handle) {
  if (stmt != SQL_NULL_HSTMT) {
    *handle = stmt;
    return wide ? &kRecErrorWStmt : &kRecErrorStmt;
  }
  if (dbc != SQL_NULL_HDBC) {
    *handle = dbc;
    return wide ? &kRecErrorWDbc : &kRecErrorDbc;
  }
  if (env != SQL_NULL_HENV) {
    *handle = env;
    return wide ? &kRecErrorWEnv : &kRecErrorEnv;
  }
  return nullptr;
}

void StateToWide(const SQLCHAR* state, SQLWCHAR* out) {
  if (out == nullptr) return;
  for (int i = 0; i < 5; ++i) out[i] = state[i];
  out[5] = 0;
}

// The wide message text: converted back, cut reported as SQL_SUCCESS_WITH_INFO.
// No record: "00000", an empty text and length 0, as the narrow entry writes.
SQLRETURN FinishMessage(SQLRETURN rc, WideOut& text, const SQLCHAR* narrowState, SQLWCHAR* state,
                        SQLWCHAR* caller, SQLSMALLINT capacity, SQLSMALLINT handlerLength,
                        SQLSMALLINT* length) {
  if (rc == SQL_NO_DATA) {
    static const SQLCHAR kNone[6] = "00000";
    StateToWide(kNone, state);
    if (caller != nullptr && capacity > 0) caller[0] = 0;
    if (length != nullptr) *length = 0;
    return rc;
  }
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  StateToWide(narrowState, state);
  bool cut = false;
  const int64_t units = text.Finish(handlerLength, &cut);
  if (length != nullptr) *length = ClampSmall(units);
  return cut ? SQL_SUCCESS_WITH_INFO : rc;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state,
                           SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                           SQLSMALLINT* length) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  const OdbcCallRecord* rec = ErrorRecord(env, dbc, stmt, false, &handle);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  return CallODBC(*rec, handle, state, native, text, capacity, length);
}

SQLRETURN SQL_API SQLErrorW(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLWCHAR* state,
                            SQLINTEGER* native, SQLWCHAR* text, SQLSMALLINT capacity,
                            SQLSMALLINT* length) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  const OdbcCallRecord* rec = ErrorRecord(env, dbc, stmt, true, &handle);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  // A message is read once: the whole room at once.
  WideOut out(text, capacity, 32767, WideOut::kWholeRoom);
  if (!out.ok()) return SQL_ERROR;
  SQLCHAR narrowState[6] = {0};
  SQLSMALLINT handlerLength = 0;
  SQLRETURN rc = CallODBC(*rec, handle, state != nullptr ? narrowState : nullptr, native,
                          out.sql(), ClampSmall(out.capacity()), &handlerLength);
  return FinishMessage(rc, out, narrowState, state, text, capacity, handlerLength, length);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                                SQLSMALLINT capacity, SQLSMALLINT* length) {
  const OdbcCallRecord* rec = DiagRecRecord(type, false);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  return CallODBC(*rec, handle, recNumber, state, native, text, capacity, length);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                 SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* text,
                                 SQLSMALLINT capacity, SQLSMALLINT* length) {
  const OdbcCallRecord* rec = DiagRecRecord(type, true);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  WideOut out(text, capacity, 32767, WideOut::kWholeRoom);
  if (!out.ok()) return SQL_ERROR;
  SQLCHAR narrowState[6] = {0};
  SQLSMALLINT handlerLength = 0;
  SQLRETURN rc = CallODBC(*rec, handle, recNumber, state != nullptr ? narrowState : nullptr,
                          native, out.sql(), ClampSmall(out.capacity()), &handlerLength);
  return FinishMessage(rc, out, narrowState, state, text, capacity, handlerLength, length);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                  SQLSMALLINT identifier, SQLPOINTER value,
                                  SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  const OdbcCallRecord* rec = DiagFieldRecord(type, false);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  return CallODBC(*rec, handle, recNumber, identifier, value, bufferLength, length, 'A');
}

// The handler writes UTF-16 itself (form 'W').
SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                   SQLSMALLINT identifier, SQLPOINTER value,
                                   SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  const OdbcCallRecord* rec = DiagFieldRecord(type, true);
  if (rec == nullptr) return SQL_INVALID_HANDLE;
  return CallODBC(*rec, handle, recNumber, identifier, value, bufferLength, length, 'W');
}

}  // extern "C"
