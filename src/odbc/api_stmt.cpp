// Exports: the statement calls, narrow and wide. Each one converts text where
// the wide form needs it, enters the dispatcher and does nothing else.
#include <mutex>

#include "odbc/dispatch.h"
#include "odbc/handlers.h"
#include "odbc/wide_entry.h"
#include "util/errcodes.h"

using namespace kx;

namespace {

// A wide text output (name or cursor name): converted back after the call,
// a cut reported with 01004 on the statement.
SQLRETURN FinishText(SQLRETURN rc, SQLHSTMT stmt, WideOut& out, SQLSMALLINT handlerLength,
                     SQLSMALLINT* length) {
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  bool cut = false;
  const int64_t units = out.Finish(handlerLength, &cut);
  if (length != nullptr) *length = ClampSmall(units);
  if (cut) {
    SetHandleError(HK_STMT, stmt, KX_ERR_DATA_TRUNCATED);
    rc = SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

#define KX_WIDE_IN(var, text, len) \
  WideIn var(text, len);           \
  if (!var.ok()) return SQL_ERROR

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER value, SQLLEN capacity, SQLLEN* indicator) {
  return CallODBC(kRecBindCol, stmt, column, cType, value, capacity, indicator);
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT ioType,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN columnSize,
                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN capacity,
                                   SQLLEN* indicator) {
  return CallODBC(kRecBindParameter, stmt, param, ioType, cType, sqlType, columnSize, digits, value,
                  capacity, indicator);
}

SQLRETURN SQL_API SQLBulkOperations(SQLHSTMT stmt, SQLSMALLINT operation) {
  return CallODBC(kRecBulkOperations, stmt, operation);
}

// SQLCancel runs beside a running call and never enters the dispatcher: it
// takes only the handle lock, so it can reach a statement whose call is busy.
SQLRETURN SQL_API SQLCancel(SQLHSTMT stmt) {
  return StmtCancel(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stmt)));
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT stmt) { return CallODBC(kRecCloseCursor, stmt); }

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                  SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                  SQLLEN* number) {
  return CallODBC(kRecColAttribute, stmt, column, field, text, capacity, length, number, 'A');
}

// The handler writes UTF-16 itself into the caller's buffer (lengths in bytes).
SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                   SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                   SQLLEN* number) {
  return CallODBC(kRecColAttributeW, stmt, column, field, text, capacity, length, number, 'W');
}

SQLRETURN SQL_API SQLColAttributes(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                   SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                   SQLLEN* number) {
  return CallODBC(kRecColAttributes, stmt, column, field, text, capacity, length, number, 'A');
}

SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                    SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                    SQLLEN* number) {
  return CallODBC(kRecColAttributesW, stmt, column, field, text, capacity, length, number, 'W');
}

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                      SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl, SQLCHAR* col,
                                      SQLSMALLINT coll) {
  return CallODBC(kRecColumnPrivileges, stmt, c, cl, s, sl, t, tl, col, coll);
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                       SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl,
                                       SQLWCHAR* col, SQLSMALLINT coll) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  KX_WIDE_IN(e, col, coll);
  return CallODBC(kRecColumnPrivilegesW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), e.sql(),
                  ClampSmall(e.length()));
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                             SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl, SQLCHAR* col,
                             SQLSMALLINT coll) {
  return CallODBC(kRecColumns, stmt, c, cl, s, sl, t, tl, col, coll);
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                              SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl, SQLWCHAR* col,
                              SQLSMALLINT coll) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  KX_WIDE_IN(e, col, coll);
  return CallODBC(kRecColumnsW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), e.sql(),
                  ClampSmall(e.length()));
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT capacity, SQLSMALLINT* length, SQLSMALLINT* sqlType,
                                 SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  return CallODBC(kRecDescribeCol, stmt, column, name, capacity, length, sqlType, size, digits,
                  nullable);
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name,
                                  SQLSMALLINT capacity, SQLSMALLINT* length, SQLSMALLINT* sqlType,
                                  SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  WideOut out(name, capacity, 32767);
  if (!out.ok()) return SQL_ERROR;
  SQLSMALLINT handlerLength = 0;
  SQLRETURN rc;
  do {
    rc = CallODBC(kRecDescribeColW, stmt, column, out.sql(), ClampSmall(out.capacity()), &handlerLength,
                  sqlType, size, digits, nullable);
  } while (SQL_SUCCEEDED(rc) && out.Regrow(handlerLength));
  return FinishText(rc, stmt, out, handlerLength, length);
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT* sqlType,
                                   SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  return CallODBC(kRecDescribeParam, stmt, param, sqlType, size, digits, nullable);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  return CallODBC(kRecExecDirect, stmt, text, length);
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length) {
  KX_WIDE_IN(sql, text, length);
  return CallODBC(kRecExecDirectW, stmt, sql.sql(), ClampInt(sql.length()));
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) { return CallODBC(kRecExecute, stmt); }

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT stmt, SQLUSMALLINT type, SQLLEN row, SQLULEN* rows,
                                   SQLUSMALLINT* statuses) {
  return CallODBC(kRecExtendedFetch, stmt, type, row, rows, statuses);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) { return CallODBC(kRecFetch, stmt); }

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset) {
  return CallODBC(kRecFetchScroll, stmt, orientation, offset);
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT stmt, SQLCHAR* pc, SQLSMALLINT pcl, SQLCHAR* ps,
                                 SQLSMALLINT psl, SQLCHAR* pt, SQLSMALLINT ptl, SQLCHAR* fc,
                                 SQLSMALLINT fcl, SQLCHAR* fs, SQLSMALLINT fsl, SQLCHAR* ft,
                                 SQLSMALLINT ftl) {
  return CallODBC(kRecForeignKeys, stmt, pc, pcl, ps, psl, pt, ptl, fc, fcl, fs, fsl, ft, ftl);
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT stmt, SQLWCHAR* pc, SQLSMALLINT pcl, SQLWCHAR* ps,
                                  SQLSMALLINT psl, SQLWCHAR* pt, SQLSMALLINT ptl, SQLWCHAR* fc,
                                  SQLSMALLINT fcl, SQLWCHAR* fs, SQLSMALLINT fsl, SQLWCHAR* ft,
                                  SQLSMALLINT ftl) {
  KX_WIDE_IN(a, pc, pcl);
  KX_WIDE_IN(b, ps, psl);
  KX_WIDE_IN(c, pt, ptl);
  KX_WIDE_IN(d, fc, fcl);
  KX_WIDE_IN(e, fs, fsl);
  KX_WIDE_IN(f, ft, ftl);
  return CallODBC(kRecForeignKeysW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), c.sql(), ClampSmall(c.length()), d.sql(),
                  ClampSmall(d.length()), e.sql(), ClampSmall(e.length()), f.sql(),
                  ClampSmall(f.length()));
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT capacity,
                                   SQLSMALLINT* length) {
  return CallODBC(kRecGetCursorName, stmt, name, capacity, length);
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT stmt, SQLWCHAR* name, SQLSMALLINT capacity,
                                    SQLSMALLINT* length) {
  WideOut out(name, capacity, 32767);
  if (!out.ok()) return SQL_ERROR;
  SQLSMALLINT handlerLength = 0;
  SQLRETURN rc;
  do {
    rc = CallODBC(kRecGetCursorNameW, stmt, out.sql(), ClampSmall(out.capacity()), &handlerLength);
  } while (SQL_SUCCEEDED(rc) && out.Regrow(handlerLength));
  return FinishText(rc, stmt, out, handlerLength, length);
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER value, SQLLEN capacity, SQLLEN* indicator) {
  return CallODBC(kRecGetData, stmt, column, cType, value, capacity, indicator);
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER capacity, SQLINTEGER* length) {
  return CallODBC(kRecGetStmtAttr, stmt, attribute, value, capacity, length);
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER capacity, SQLINTEGER* length) {
  return CallODBC(kRecGetStmtAttrW, stmt, attribute, value, capacity, length);
}

SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLPOINTER value) {
  return CallODBC(kRecGetStmtOption, stmt, option, value);
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT stmt, SQLSMALLINT sqlType) {
  return CallODBC(kRecGetTypeInfo, stmt, sqlType);
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT stmt, SQLSMALLINT sqlType) {
  return CallODBC(kRecGetTypeInfoW, stmt, sqlType);
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT stmt) { return CallODBC(kRecMoreResults, stmt); }

SQLRETURN SQL_API SQLNumParams(SQLHSTMT stmt, SQLSMALLINT* count) {
  return CallODBC(kRecNumParams, stmt, count);
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT stmt, SQLSMALLINT* count) {
  return CallODBC(kRecNumResultCols, stmt, count);
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT stmt, SQLPOINTER* value) {
  return CallODBC(kRecParamData, stmt, value);
}

SQLRETURN SQL_API SQLParamOptions(SQLHSTMT stmt, SQLULEN rows, SQLULEN* processed) {
  return CallODBC(kRecParamOptions, stmt, rows, processed);
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  return CallODBC(kRecPrepare, stmt, text, length);
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length) {
  KX_WIDE_IN(sql, text, length);
  return CallODBC(kRecPrepareW, stmt, sql.sql(), ClampInt(sql.length()));
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                 SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl) {
  return CallODBC(kRecPrimaryKeys, stmt, c, cl, s, sl, t, tl);
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                  SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  return CallODBC(kRecPrimaryKeysW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()));
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                      SQLSMALLINT sl, SQLCHAR* p, SQLSMALLINT pl, SQLCHAR* col,
                                      SQLSMALLINT coll) {
  return CallODBC(kRecProcedureColumns, stmt, c, cl, s, sl, p, pl, col, coll);
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                       SQLSMALLINT sl, SQLWCHAR* p, SQLSMALLINT pl,
                                       SQLWCHAR* col, SQLSMALLINT coll) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, p, pl);
  KX_WIDE_IN(e, col, coll);
  return CallODBC(kRecProcedureColumnsW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), e.sql(),
                  ClampSmall(e.length()));
}

SQLRETURN SQL_API SQLProcedures(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                SQLSMALLINT sl, SQLCHAR* p, SQLSMALLINT pl) {
  return CallODBC(kRecProcedures, stmt, c, cl, s, sl, p, pl);
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                 SQLSMALLINT sl, SQLWCHAR* p, SQLSMALLINT pl) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, p, pl);
  return CallODBC(kRecProceduresW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()));
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT stmt, SQLPOINTER value, SQLLEN length) {
  return CallODBC(kRecPutData, stmt, value, length);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* count) {
  return CallODBC(kRecRowCount, stmt, count);
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT length) {
  return CallODBC(kRecSetCursorName, stmt, name, length);
}

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT stmt, SQLWCHAR* name, SQLSMALLINT length) {
  KX_WIDE_IN(n, name, length);
  return CallODBC(kRecSetCursorNameW, stmt, n.sql(), ClampSmall(n.length()));
}

SQLRETURN SQL_API SQLSetParam(SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT cType,
                              SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits,
                              SQLPOINTER value, SQLLEN* indicator) {
  return CallODBC(kRecSetParam, stmt, param, cType, sqlType, columnSize, digits, value, indicator);
}

SQLRETURN SQL_API SQLSetPos(SQLHSTMT stmt, SQLSETPOSIROW row, SQLUSMALLINT operation,
                            SQLUSMALLINT lock) {
  return CallODBC(kRecSetPos, stmt, row, operation, lock);
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
  return CallODBC(kRecSetStmtAttr, stmt, attribute, value, length, 'A');
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER length) {
  return CallODBC(kRecSetStmtAttrW, stmt, attribute, value, length, 'W');
}

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value) {
  return CallODBC(kRecSetStmtOption, stmt, option, value);
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT stmt, SQLUSMALLINT type, SQLCHAR* c, SQLSMALLINT cl,
                                    SQLCHAR* s, SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl,
                                    SQLUSMALLINT scope, SQLUSMALLINT nullable) {
  return CallODBC(kRecSpecialColumns, stmt, type, c, cl, s, sl, t, tl, scope, nullable);
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT stmt, SQLUSMALLINT type, SQLWCHAR* c,
                                     SQLSMALLINT cl, SQLWCHAR* s, SQLSMALLINT sl, SQLWCHAR* t,
                                     SQLSMALLINT tl, SQLUSMALLINT scope, SQLUSMALLINT nullable) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  return CallODBC(kRecSpecialColumnsW, stmt, type, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), scope, nullable);
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl, SQLUSMALLINT unique,
                                SQLUSMALLINT accuracy) {
  return CallODBC(kRecStatistics, stmt, c, cl, s, sl, t, tl, unique, accuracy);
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                 SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl, SQLUSMALLINT unique,
                                 SQLUSMALLINT accuracy) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  return CallODBC(kRecStatisticsW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), unique, accuracy);
}

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s,
                                     SQLSMALLINT sl, SQLCHAR* t, SQLSMALLINT tl) {
  return CallODBC(kRecTablePrivileges, stmt, c, cl, s, sl, t, tl);
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                                      SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  return CallODBC(kRecTablePrivilegesW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()));
}

SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* c, SQLSMALLINT cl, SQLCHAR* s, SQLSMALLINT sl,
                            SQLCHAR* t, SQLSMALLINT tl, SQLCHAR* types, SQLSMALLINT typesl) {
  return CallODBC(kRecTables, stmt, c, cl, s, sl, t, tl, types, typesl);
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT stmt, SQLWCHAR* c, SQLSMALLINT cl, SQLWCHAR* s,
                             SQLSMALLINT sl, SQLWCHAR* t, SQLSMALLINT tl, SQLWCHAR* types,
                             SQLSMALLINT typesl) {
  KX_WIDE_IN(a, c, cl);
  KX_WIDE_IN(b, s, sl);
  KX_WIDE_IN(d, t, tl);
  KX_WIDE_IN(e, types, typesl);
  return CallODBC(kRecTablesW, stmt, a.sql(), ClampSmall(a.length()), b.sql(),
                  ClampSmall(b.length()), d.sql(), ClampSmall(d.length()), e.sql(),
                  ClampSmall(e.length()));
}

}  // extern "C"
