// Exports: connecting, disconnecting and the connection-level calls, narrow
// and wide. Each one converts text where the wide form needs it, enters the
// dispatcher and does nothing else.
#include "odbc/dispatch.h"
#include "odbc/wide_entry.h"
#include "util/errcodes.h"

using namespace kx;

extern "C" {

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* uid,
                             SQLSMALLINT uidLength, SQLCHAR* pwd, SQLSMALLINT pwdLength) {
  return CallODBC(kRecConnect, dbc, dsn, dsnLength, uid, uidLength, pwd, pwdLength, 'A');
}

SQLRETURN SQL_API SQLConnectW(SQLHDBC dbc, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* uid,
                              SQLSMALLINT uidLength, SQLWCHAR* pwd, SQLSMALLINT pwdLength) {
  WideIn d(dsn, dsnLength), u(uid, uidLength), p(pwd, pwdLength);
  if (!d.ok() || !u.ok() || !p.ok()) return SQL_ERROR;
  return CallODBC(kRecConnectW, dbc, d.sql(), ClampSmall(d.length()), u.sql(),
                  ClampSmall(u.length()), p.sql(), ClampSmall(p.length()), 'W');
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outCapacity, SQLSMALLINT* outLength,
                                   SQLUSMALLINT completion) {
  return CallODBC(kRecDriverConnect, dbc, window, in, inLength, out, outCapacity, outLength,
                  completion, 'A');
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND window, SQLWCHAR* in,
                                    SQLSMALLINT inLength, SQLWCHAR* out, SQLSMALLINT outCapacity,
                                    SQLSMALLINT* outLength, SQLUSMALLINT completion) {
  WideIn text(in, inLength);
  if (!text.ok()) return SQL_ERROR;
  // Connecting twice is no way to learn a length: the whole room at once.
  WideOut result(out, outCapacity, 32767, WideOut::kWholeRoom);
  if (!result.ok()) return SQL_ERROR;
  SQLSMALLINT handlerLength = 0;
  SQLRETURN rc = CallODBC(kRecDriverConnectW, dbc, window, text.sql(), ClampSmall(text.length()),
                          result.sql(), ClampSmall(result.capacity()), &handlerLength, completion,
                          'W');
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  bool cut = false;
  const int64_t units = result.Finish(handlerLength, &cut);
  if (outLength != nullptr) *outLength = ClampSmall(units);
  if (cut) {
    SetHandleError(HK_DBC, dbc, KX_ERR_DATA_TRUNCATED);
    rc = SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) { return CallODBC(kRecDisconnect, dbc); }

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER bufferLength, SQLINTEGER* length) {
  return CallODBC(kRecGetConnectAttr, dbc, attribute, value, bufferLength, length, 'A');
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER bufferLength, SQLINTEGER* length) {
  return CallODBC(kRecGetConnectAttrW, dbc, attribute, value, bufferLength, length, 'W');
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
  return CallODBC(kRecSetConnectAttr, dbc, attribute, value, length, 'A');
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
  return CallODBC(kRecSetConnectAttrW, dbc, attribute, value, length, 'W');
}

SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLPOINTER value) {
  return CallODBC(kRecGetConnectOption, dbc, option, value, 'A');
}

SQLRETURN SQL_API SQLGetConnectOptionW(SQLHDBC dbc, SQLUSMALLINT option, SQLPOINTER value) {
  return CallODBC(kRecGetConnectOptionW, dbc, option, value, 'W');
}

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
  return CallODBC(kRecSetConnectOption, dbc, option, value, 'A');
}

SQLRETURN SQL_API SQLSetConnectOptionW(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
  return CallODBC(kRecSetConnectOptionW, dbc, option, value, 'W');
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* exists) {
  return CallODBC(kRecGetFunctions, dbc, function, exists);
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                             SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  return CallODBC(kRecGetInfo, dbc, type, value, bufferLength, length, 'A');
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                              SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  return CallODBC(kRecGetInfoW, dbc, type, value, bufferLength, length, 'W');
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC dbc, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out,
                               SQLINTEGER outCapacity, SQLINTEGER* outLength) {
  return CallODBC(kRecNativeSql, dbc, in, inLength, out, outCapacity, outLength);
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC dbc, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out,
                                SQLINTEGER outCapacity, SQLINTEGER* outLength) {
  WideIn text(in, inLength);
  if (!text.ok()) return SQL_ERROR;
  WideOut result(out, outCapacity, INT32_MAX - 1);
  if (!result.ok()) return SQL_ERROR;
  SQLINTEGER handlerLength = 0;
  SQLRETURN rc;
  do {
    rc = CallODBC(kRecNativeSqlW, dbc, text.sql(), ClampInt(text.length()), result.sql(),
                  ClampInt(result.capacity()), &handlerLength);
  } while (SQL_SUCCEEDED(rc) && result.Regrow(handlerLength));
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  bool cut = false;
  const int64_t units = result.Finish(handlerLength, &cut);
  if (outLength != nullptr) *outLength = ClampInt(units);
  if (cut) {
    SetHandleError(HK_DBC, dbc, KX_ERR_DATA_TRUNCATED);
    rc = SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

}  // extern "C"
