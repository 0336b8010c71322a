// One call record per API and handle kind: the name and argument format the
// trace shows, whether the call clears the handle's diagnostics, the kind of
// its first argument and its handler. Handlers that are not built yet answer
// IM001 through HandlerNotYet.
#include "odbc/connstr.h"
#include "odbc/diag.h"
#include "odbc/dispatch.h"
#include "odbc/handlers.h"

namespace kx {

namespace {

// ---- slot readers for the handlers with typed signatures ----------------------

template <class Rec>
Rec* As(HandleHead* head) {
  return static_cast<Rec*>(head);
}

// SQLError: SQLSTATE*, native*, text*, capacity, length*
template <class Rec, SQLRETURN (*Fn)(Rec*, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*)>
SQLRETURN ErrorSlots(HandleHead* head, const OdbcArgs& a) {
  return Fn(As<Rec>(head), a.Get<SQLCHAR*>(0), a.Get<SQLINTEGER*>(1), a.Get<SQLCHAR*>(2),
            a.Get<SQLSMALLINT>(3), a.Get<SQLSMALLINT*>(4));
}

// SQLGetDiagRec: record number, SQLSTATE*, native*, text*, capacity, length*
template <class Rec, SQLRETURN (*Fn)(Rec*, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                                     SQLSMALLINT*)>
SQLRETURN DiagRecSlots(HandleHead* head, const OdbcArgs& a) {
  return Fn(As<Rec>(head), a.Get<SQLSMALLINT>(0), a.Get<SQLCHAR*>(1), a.Get<SQLINTEGER*>(2),
            a.Get<SQLCHAR*>(3), a.Get<SQLSMALLINT>(4), a.Get<SQLSMALLINT*>(5));
}

// SQLGetDiagField: record number, identifier, value*, buffer length, length*, form
template <class Rec, SQLRETURN (*Fn)(Rec*, SQLSMALLINT, SQLSMALLINT, SQLPOINTER, SQLSMALLINT,
                                     SQLSMALLINT*, char)>
SQLRETURN DiagFieldSlots(HandleHead* head, const OdbcArgs& a) {
  return Fn(As<Rec>(head), a.Get<SQLSMALLINT>(0), a.Get<SQLSMALLINT>(1), a.Get<SQLPOINTER>(2),
            a.Get<SQLSMALLINT>(3), a.Get<SQLSMALLINT*>(4), a.Get<char>(5));
}

// SQLDriverConnect: window, in, in length, out, out capacity, out length*, completion, form
SQLRETURN DriverConnectSlots(HandleHead* head, const OdbcArgs& a) {
  return ConnDriverConnect(As<ConnRecord>(head), a.Get<SQLHWND>(0), a.Get<const char*>(1),
                           a.Get<SQLSMALLINT>(2), a.Get<char*>(3), a.Get<SQLSMALLINT>(4),
                           a.Get<SQLSMALLINT*>(5), a.Get<SQLUSMALLINT>(6), a.Get<char>(7));
}

// SQLConnect: dsn, length, user, length, password, length, form
SQLRETURN ConnectSlots(HandleHead* head, const OdbcArgs& a) {
  return ConnConnect(As<ConnRecord>(head), a.Get<const char*>(0), a.Get<SQLSMALLINT>(1),
                     a.Get<const char*>(2), a.Get<SQLSMALLINT>(3), a.Get<const char*>(4),
                     a.Get<SQLSMALLINT>(5), a.Get<char>(6));
}

constexpr OdbcHandler kEnvrError = ErrorSlots<EnvrRecord, EnvrError>;
constexpr OdbcHandler kConnError = ErrorSlots<ConnRecord, ConnError>;
constexpr OdbcHandler kStmtError = ErrorSlots<StmtRecord, StmtError>;
constexpr OdbcHandler kEnvrGetDiagRec = DiagRecSlots<EnvrRecord, EnvrGetDiagRec>;
constexpr OdbcHandler kConnGetDiagRec = DiagRecSlots<ConnRecord, ConnGetDiagRec>;
constexpr OdbcHandler kStmtGetDiagRec = DiagRecSlots<StmtRecord, StmtGetDiagRec>;
constexpr OdbcHandler kDescGetDiagRec = DiagRecSlots<DescRecord, DescGetDiagRec>;
constexpr OdbcHandler kEnvrGetDiagField = DiagFieldSlots<EnvrRecord, EnvrGetDiagField>;
constexpr OdbcHandler kConnGetDiagField = DiagFieldSlots<ConnRecord, ConnGetDiagField>;
constexpr OdbcHandler kStmtGetDiagField = DiagFieldSlots<StmtRecord, StmtGetDiagField>;
constexpr OdbcHandler kDescGetDiagField = DiagFieldSlots<DescRecord, DescGetDiagField>;

SQLRETURN kTransactRefused(HandleHead* head, const OdbcArgs&) {
  head->error = KX_ERR_BAD_OPTION;
  return SQL_ERROR;
}

// Argument formats shared by several records.
constexpr const char* kFmtError =
    "szSqlState=%lX pfNativeError=%lX\nszErrorMsg=%lX cbErrorMsgMax=%d pcbErrorMsg=%lX";
constexpr const char* kFmtDiagField =
    "RecNumber=%d DiagIdentifier=%d\nDiagInfoPtr=%lX BufferLength=%d StringLengthPtr=%lX";
constexpr const char* kFmtDiagRec =
    "RecNumber=%d, SqlState=%lX, NativeErrorPtr=%lX, MessageText=%lX, BufferLength=%d, "
    "TextLengthPtr=%lX";
constexpr const char* kFmtConnect = "szDSN=%lX cbDSN=%d szUID=%lX cbUID=%d szPWD=%lX cbPWD=%d";
constexpr const char* kFmtGetConnectAttr =
    "Attribute=%u ValuePtr=%lX BufferLength=%d StringLengthPtr=%lX";
constexpr const char* kFmtGetConnectOption = "fOption=%u pvParam=%lX";
constexpr const char* kFmtGetInfo = "fInfoType=%u rgbInfoValue=%lX cbInfoValueMax=%d pcbInfoValue=%lX";
constexpr const char* kFmtNativeSql =
    "szSqlIn=%lX cbSqlIn=%ld szSqlStr=%lX cbSqlStrMax=%ld pcbSqlStr=%lX";
constexpr const char* kFmtSetConnectAttr = "Attribute=%u ValuePtr=%lX StringLength=%d";
constexpr const char* kFmtSetConnectOption = "fOption=%u vParam=%lu";
constexpr const char* kFmtColAttr =
    "icol=%u fDescType=%u rgbDesc=%08lX cbDescMax=%u pcbDesc=%08lX pfDesc=%08lX";
constexpr const char* kFmtCatalog4 =
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX "
    "cbTableName=%d szColumnName=%lX cbColumnName=%d";
constexpr const char* kFmtDescribeCol =
    "icol=%u szColName=%lX cbColNameMax=%d pcbColName=%lX pfSqlType=%lX pcbColDef=%lX "
    "pibScale=%lX pfNullable=%lX";
constexpr const char* kFmtSqlText = "szSqlStr=%lX cbSqlStr=%ld";
constexpr const char* kFmtForeignKeys =
    "szPkTQual=%lX cbPkTQual=%d szPkTOwn=%lX cbPkTOwn=%d szPkTName=%lX cbPkTName=%d "
    "szFkTQual=%lX cbFkTQual=%d szFkTOwn=%lX cbFkTOwn=%d szFkTName=%lX cbFkTName=%d";
constexpr const char* kFmtCursorName = "szCursor=%lX cbCursorMax=%d pcbCursor=%lX";
constexpr const char* kFmtGetStmtAttr =
    "Attribute=%ld ValuePtr=%08lX BufferLength=%ld StringLengthPtr=%08lX";
constexpr const char* kFmtCatalog3 =
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX "
    "cbTableName=%d";
constexpr const char* kFmtProcColumns =
    "szProcQualifier=%lX cbProcQualifier=%d szProcOwner=%lX cbProcOwner=%d szProcName=%lX "
    "cbProcName=%d szColumnName=%lX cbColumnName=%d";
constexpr const char* kFmtProcedures =
    "szProcQualifier=%lX cbProcQualifier=%d szProcOwner=%lX cbProcOwner=%d szProcName=%lX "
    "cbProcName=%d";
constexpr const char* kFmtSetCursorName = "szCursor=%lX cbCursor=%d";
constexpr const char* kFmtSetStmtAttr = "Attribute=%ld ValuePtr=%08lX StringLength=%ld";
constexpr const char* kFmtSpecialColumns =
    "fColType=%u szTableQual=%lX cbTableQual=%d szTableOwner=%lX cbTableOwner=%d "
    "szTableName=%lX cbTableName=%d fScope=%u fNullable==%u";
constexpr const char* kFmtStatistics =
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX "
    "cbTableName=%d fUnique=%u fAccuracy=%u";
constexpr const char* kFmtTables =
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX "
    "cbTableName=%d szTableType=%lX cbTableType=%d";
constexpr const char* kFmtGetDescField =
    "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX BufferLength=%d StringLengthPtr=%lX";
constexpr const char* kFmtGetDescRec =
    "RecNumber=%d\nName=%lX BufferLength=%d StringLengthPtr=%lX\nTypePtr=%lX SubTypePtr=%lX "
    "LengthPtr=%lX\nPrecisionPtr=%lX ScalePtr=%lX NullablePtr=%lX";
constexpr const char* kFmtSetDescField =
    "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX StringLength=%d";

}  // namespace

// name, format, F, clear, kind, handler
#define REC(id, name, format, f, clear, kind, handler) \
  extern const OdbcCallRecord kRec##id = {name, format, f, clear, kind, handler};

// Kind 1 and 2: no handle, environment.
REC(AllocEnv, "AllocEnv", "phenv=%lX", 0, 1, HK_NONE, EnvrAllocEnv)
REC(AllocHandleEnv, "AllocHandle", "handleType=1", 0, 0, HK_NONE, EnvrAllocHandle)
REC(AllocConnect, "AllocConnect", "phdbc=%08lX", 0, 1, HK_ENV, ConnAllocHandle)
REC(AllocHandleDbc, "AllocHandle", "handleType=2", 0, 1, HK_ENV, ConnAllocHandle)
REC(ErrorEnv, "Error", kFmtError, 1, 0, HK_ENV, kEnvrError)
REC(ErrorWEnv, "ErrorW", kFmtError, 1, 0, HK_ENV, kEnvrError)
REC(ErrorDbc, "Error", kFmtError, 1, 0, HK_DBC, kConnError)
REC(ErrorWDbc, "ErrorW", kFmtError, 1, 0, HK_DBC, kConnError)
REC(ErrorStmt, "Error", kFmtError, 1, 0, HK_STMT, kStmtError)
REC(ErrorWStmt, "ErrorW", kFmtError, 1, 0, HK_STMT, kStmtError)
REC(FreeEnv, "FreeEnv", "", 0, 1, HK_ENV, EnvrFreeHandle)
REC(FreeHandleEnv, "FreeHandle", "handleType=1", 0, 1, HK_ENV, EnvrFreeHandle)
REC(GetDiagFieldEnv, "GetDiagField", kFmtDiagField, 0, 0, HK_ENV, kEnvrGetDiagField)
REC(GetDiagFieldWEnv, "GetDiagFieldW", kFmtDiagField, 0, 0, HK_ENV, kEnvrGetDiagField)
REC(GetDiagFieldDbc, "GetDiagField", kFmtDiagField, 0, 0, HK_DBC, kConnGetDiagField)
REC(GetDiagFieldWDbc, "GetDiagFieldW", kFmtDiagField, 0, 0, HK_DBC, kConnGetDiagField)
REC(GetDiagFieldStmt, "GetDiagField", kFmtDiagField, 0, 0, HK_STMT, kStmtGetDiagField)
REC(GetDiagFieldWStmt, "GetDiagFieldW", kFmtDiagField, 0, 0, HK_STMT, kStmtGetDiagField)
REC(GetDiagFieldDesc, "GetDiagField", kFmtDiagField, 0, 0, HK_DESC, kDescGetDiagField)
REC(GetDiagFieldWDesc, "GetDiagFieldW", kFmtDiagField, 0, 0, HK_DESC, kDescGetDiagField)
REC(GetDiagRecEnv, "GetDiagRec", kFmtDiagRec, 0, 0, HK_ENV, kEnvrGetDiagRec)
REC(GetDiagRecWEnv, "GetDiagRecW", kFmtDiagRec, 0, 0, HK_ENV, kEnvrGetDiagRec)
REC(GetDiagRecDbc, "GetDiagRec", kFmtDiagRec, 0, 0, HK_DBC, kConnGetDiagRec)
REC(GetDiagRecWDbc, "GetDiagRecW", kFmtDiagRec, 0, 0, HK_DBC, kConnGetDiagRec)
REC(GetDiagRecStmt, "GetDiagRec", kFmtDiagRec, 0, 0, HK_STMT, kStmtGetDiagRec)
REC(GetDiagRecWStmt, "GetDiagRecW", kFmtDiagRec, 0, 0, HK_STMT, kStmtGetDiagRec)
REC(GetDiagRecDesc, "GetDiagRec", kFmtDiagRec, 0, 0, HK_DESC, kDescGetDiagRec)
REC(GetDiagRecWDesc, "GetDiagRecW", kFmtDiagRec, 0, 0, HK_DESC, kDescGetDiagRec)
REC(GetEnvAttr, "GetEnvAttr", "Attribute=%ld ValuePtr=%lX BufferLength=%ld, StringLengthPtr=%lX", 0,
    1, HK_ENV, EnvrGetAttr)
REC(SetEnvAttr, "SetEnvAttr", "Attribute=%ld ValuePtr=%lX StringLength=%ld", 0, 1, HK_ENV,
    EnvrSetAttr)
REC(TransactEnv, "Transact", "fType=%u", 0, 1, HK_ENV, EnvrTransact)
REC(TransactDbc, "Transact", "fType=%u", 0, 1, HK_DBC, ConnTransactCall)
// SQLEndTran names an environment or a connection; a statement or a
// descriptor handle is refused on that handle.
REC(TransactStmt, "EndTran", "fType=%u", 0, 1, HK_STMT, kTransactRefused)
REC(TransactDesc, "EndTran", "fType=%u", 0, 1, HK_DESC, kTransactRefused)

// Kind 3: connection.
REC(AllocHandleStmt, "AllocHandle", "handleType=3", 0, 1, HK_DBC, StmtAllocHandleCall)
REC(AllocHandleDesc, "AllocHandle", "handleType=4", 0, 1, HK_DBC, DescAllocHandleCall)
REC(AllocStmt, "AllocStmt", "phstmt=%lX", 0, 1, HK_DBC, StmtAllocHandleCall)
REC(Connect, "Connect", kFmtConnect, 1, 1, HK_DBC, ConnectSlots)
REC(ConnectW, "ConnectW", kFmtConnect, 1, 1, HK_DBC, ConnectSlots)
REC(Disconnect, "Disconnect", "", 0, 1, HK_DBC, ConnDisconnect)
REC(DriverConnect, "DriverConnect", "HWND=%p szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX "
    "cbConnStrOutMax=%d pcbConnStrOutMax=%lX fDriverCompletion=%u", 1, 1, HK_DBC,
    DriverConnectSlots)
REC(DriverConnectW, "DriverConnectW", "HWND=%x szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX "
    "cbConnStrOutMax=%d pcbConnStrOutMax=%lX fDriverCompletion=%u", 1, 1, HK_DBC,
    DriverConnectSlots)
REC(FreeConnect, "FreeConnect", "", 0, 1, HK_DBC, ConnFreeHandle)
REC(FreeHandleDbc, "FreeHandle", "handleType=2", 0, 1, HK_DBC, ConnFreeHandle)
REC(GetConnectAttr, "GetConnectAttr", kFmtGetConnectAttr, 0, 1, HK_DBC, ConnGetAttrCall)
REC(GetConnectAttrW, "GetConnectAttrW", kFmtGetConnectAttr, 0, 1, HK_DBC, ConnGetAttrCall)
REC(GetConnectOption, "GetConnectOption", kFmtGetConnectOption, 0, 1, HK_DBC, ConnGetOptionCall)
REC(GetConnectOptionW, "GetConnectOptionW", kFmtGetConnectOption, 0, 1, HK_DBC, ConnGetOptionCall)
REC(GetFunctions, "GetFunctions", "fFunction=%u pfExists=%lX", 0, 1, HK_DBC, ConnGetFunctionsCall)
REC(GetInfo, "GetInfo", kFmtGetInfo, 0, 1, HK_DBC, ConnGetInfoCall)
REC(GetInfoW, "GetInfoW", kFmtGetInfo, 0, 1, HK_DBC, ConnGetInfoCall)
REC(NativeSql, "NativeSql", kFmtNativeSql, 0, 1, HK_DBC, ConnNativeSqlCall)
REC(NativeSqlW, "NativeSqlW", kFmtNativeSql, 0, 1, HK_DBC, ConnNativeSqlCall)
REC(SetConnectAttr, "SetConnectAttr", kFmtSetConnectAttr, 0, 1, HK_DBC, ConnSetAttrCall)
REC(SetConnectAttrW, "SetConnectAttrW", kFmtSetConnectAttr, 0, 1, HK_DBC, ConnSetAttrCall)
REC(SetConnectOption, "SetConnectOption", kFmtSetConnectOption, 0, 1, HK_DBC, ConnSetOptionCall)
REC(SetConnectOptionW, "SetConnectOptionW", kFmtSetConnectOption, 0, 1, HK_DBC, ConnSetOptionCall)

// Kind 4: statement.
REC(BindCol, "BindCol", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 0, 1,
    HK_STMT, StmtBindColCall)
REC(BindParameter, "BindParameter", "ipar=%u fParamType=%d fCType=%d fSqlType=%d cbColDef=%lu "
    "ibScale=%d rgbValue=%lX cbValueMax=%lu pcbValue=%lX", 0, 1, HK_STMT, BindParameterCall)
REC(BulkOperations, "BulkOperations", "op=%u", 1, 1, HK_STMT, BulkOperationsCall)
REC(CloseCursor, "CloseCursor", "", 0, 1, HK_STMT, StmtCloseCursorCall)
REC(ColAttribute, "ColAttribute", kFmtColAttr, 1, 1, HK_STMT, StmtColAttributeCall)
REC(ColAttributeW, "ColAttributeW", kFmtColAttr, 1, 1, HK_STMT, StmtColAttributeCall)
REC(ColAttributes, "ColAttributes", kFmtColAttr, 1, 1, HK_STMT, StmtColAttributesCall)
REC(ColAttributesW, "ColAttributesW", kFmtColAttr, 1, 1, HK_STMT, StmtColAttributesCall)
REC(ColumnPrivileges, "ColumnPrivileges", kFmtCatalog4, 1, 1, HK_STMT, CatColumnPrivilegesCall)
REC(ColumnPrivilegesW, "ColumnPrivilegesW", kFmtCatalog4, 1, 1, HK_STMT, CatColumnPrivilegesCall)
REC(Columns, "Columns", kFmtCatalog4, 1, 1, HK_STMT, CatColumnsCall)
REC(ColumnsW, "ColumnsW", kFmtCatalog4, 1, 1, HK_STMT, CatColumnsCall)
REC(DescribeCol, "DescribeCol", kFmtDescribeCol, 1, 1, HK_STMT, StmtDescribeColCall)
REC(DescribeColW, "DescribeColW", kFmtDescribeCol, 1, 1, HK_STMT, StmtDescribeColCall)
REC(DescribeParam, "DescribeParam", "ipar=%u pfSqlType=%lX pcbColDef=%lX pibScale=%lX "
    "pfNullable=%lX", 1, 1, HK_STMT, StmtDescribeParamCall)
REC(ExecDirect, "ExecDirect", kFmtSqlText, 1, 1, HK_STMT, ExecDirectCall)
REC(ExecDirectW, "ExecDirectW", kFmtSqlText, 1, 1, HK_STMT, ExecDirectCall)
REC(Execute, "Execute", "", 1, 1, HK_STMT, ExecuteCall)
REC(ExtendedFetch, "ExtendedFetch", "fFetchType=%u irow=%ld pcrow=%lX rgfRowStatus=%lX", 1, 1,
    HK_STMT, ExtendedFetchCall)
REC(Fetch, "Fetch", "", 1, 1, HK_STMT, StmtFetchCall)
REC(FetchScroll, "FetchScroll", "fOrient=%d, fOffset=%ld", 1, 1, HK_STMT, FetchScrollCall)
REC(ForeignKeys, "ForeignKeys", kFmtForeignKeys, 1, 1, HK_STMT, CatForeignKeysCall)
REC(ForeignKeysW, "ForeignKeysW", kFmtForeignKeys, 1, 1, HK_STMT, CatForeignKeysCall)
REC(FreeHandleStmt, "FreeHandle", "handleType=3", 0, 1, HK_STMT, StmtFreeHandleCall)
REC(FreeStmt, "FreeStmt", "fOption=%u", 0, 1, HK_STMT, StmtFreeStmtCall)
REC(GetCursorName, "GetCursorName", kFmtCursorName, 0, 1, HK_STMT, StmtGetCursorNameCall)
REC(GetCursorNameW, "GetCursorNameW", kFmtCursorName, 0, 1, HK_STMT, StmtGetCursorNameCall)
REC(GetData, "GetData", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 1, 1,
    HK_STMT, StmtGetDataCall)
REC(GetStmtAttr, "GetStmtAttr", kFmtGetStmtAttr, 0, 1, HK_STMT, StmtGetAttrCall)
REC(GetStmtAttrW, "GetStmtAttrW", kFmtGetStmtAttr, 0, 1, HK_STMT, StmtGetAttrCall)
REC(GetStmtOption, "GetStmtOption", "fOption=%u pvParam=%08lX", 0, 1, HK_STMT, StmtGetOptionCall)
REC(GetTypeInfo, "GetTypeInfo", "fSqlType=%d", 1, 1, HK_STMT, GetTypeInfoCall)
REC(GetTypeInfoW, "GetTypeInfoW", "fSqlType=%d", 1, 1, HK_STMT, GetTypeInfoCall)
REC(MoreResults, "MoreResults", "", 1, 1, HK_STMT, MoreResultsCall)
REC(NumParams, "NumParams", "pcpar=%lX", 1, 1, HK_STMT, StmtNumParamsCall)
REC(NumResultCols, "NumResultCols", "pccol=%lX", 1, 1, HK_STMT, StmtNumResultColsCall)
REC(ParamData, "ParamData", "prgbValue=%lX", 1, 1, HK_STMT, StmtParamDataCall)
REC(ParamOptions, "ParamOptions", "crow=%lu pirow=%lX", 0, 1, HK_STMT, StmtParamOptionsCall)
REC(Prepare, "Prepare", kFmtSqlText, 1, 1, HK_STMT, StmtPrepareCall)
REC(PrepareW, "PrepareW", kFmtSqlText, 1, 1, HK_STMT, StmtPrepareCall)
REC(PrimaryKeys, "PrimaryKeys", kFmtCatalog3, 1, 1, HK_STMT, CatPrimaryKeysCall)
REC(PrimaryKeysW, "PrimaryKeysW", kFmtCatalog3, 1, 1, HK_STMT, CatPrimaryKeysCall)
REC(ProcedureColumns, "ProcedureColumns", kFmtProcColumns, 1, 1, HK_STMT, CatProcedureColumnsCall)
REC(ProcedureColumnsW, "ProcedureColumnsW", kFmtProcColumns, 1, 1, HK_STMT, CatProcedureColumnsCall)
REC(Procedures, "Procedures", kFmtProcedures, 1, 1, HK_STMT, CatProceduresCall)
REC(ProceduresW, "ProceduresW", kFmtProcedures, 1, 1, HK_STMT, CatProceduresCall)
REC(PutData, "PutData", "rgbValue=%lX cbValue=%ld", 1, 1, HK_STMT, StmtPutDataCall)
REC(RowCount, "RowCount", "pcrow=%lX", 0, 1, HK_STMT, StmtRowCountCall)
REC(SetCursorName, "SetCursorName", kFmtSetCursorName, 0, 1, HK_STMT, StmtSetCursorNameCall)
REC(SetCursorNameW, "SetCursorNameW", kFmtSetCursorName, 0, 1, HK_STMT, StmtSetCursorNameCall)
REC(SetParam, "SetParam", "ipar=%u fCType=%d fSqlType=%d cbColDef=%lu ibScale=%d rgbValue=%lX "
    "pcbValue=%lX", 0, 1, HK_STMT, StmtSetParamCall)
REC(SetPos, "SetPos", "irow=%u fOption=%u fLock=%u", 1, 1, HK_STMT, SetPosCall)
REC(SetStmtAttr, "SetStmtAttr", kFmtSetStmtAttr, 0, 1, HK_STMT, StmtSetAttrCall)
REC(SetStmtAttrW, "SetStmtAttrW", kFmtSetStmtAttr, 0, 1, HK_STMT, StmtSetAttrCall)
REC(SetStmtOption, "SetStmtOption", "fOption=%u vParam=%08lX", 0, 1, HK_STMT, StmtSetOptionCall)
REC(SpecialColumns, "SpecialColumns", kFmtSpecialColumns, 1, 1, HK_STMT, CatSpecialColumnsCall)
REC(SpecialColumnsW, "SpecialColumnsW", kFmtSpecialColumns, 1, 1, HK_STMT, CatSpecialColumnsCall)
REC(Statistics, "Statistics", kFmtStatistics, 1, 1, HK_STMT, CatStatisticsCall)
REC(StatisticsW, "StatisticsW", kFmtStatistics, 1, 1, HK_STMT, CatStatisticsCall)
REC(TablePrivileges, "TablePrivileges", kFmtCatalog3, 1, 1, HK_STMT, CatTablePrivilegesCall)
REC(TablePrivilegesW, "TablePrivilegesW", kFmtCatalog3, 1, 1, HK_STMT, CatTablePrivilegesCall)
REC(Tables, "Tables", kFmtTables, 1, 1, HK_STMT, CatTablesCall)
REC(TablesW, "TablesW", kFmtTables, 1, 1, HK_STMT, CatTablesCall)

// Kind 5: descriptor.
REC(CopyDesc, "CopyDesc", "TargetDescHandle=%lX", 0, 1, HK_DESC, DescCopyCall)
REC(FreeHandleDesc, "FreeHandle", "handleType=4", 0, 1, HK_DESC, DescFreeHandleCall)
REC(GetDescField, "GetDescField", kFmtGetDescField, 0, 1, HK_DESC, DescGetFieldCall)
REC(GetDescFieldW, "GetDescFieldW", kFmtGetDescField, 0, 1, HK_DESC, DescGetFieldCall)
REC(GetDescRec, "GetDescRec", kFmtGetDescRec, 0, 1, HK_DESC, DescGetRecCall)
REC(GetDescRecW, "GetDescRecW", kFmtGetDescRec, 0, 1, HK_DESC, DescGetRecCall)
REC(SetDescField, "SetDescField", kFmtSetDescField, 0, 1, HK_DESC, DescSetFieldCall)
REC(SetDescFieldW, "SetDescFieldW", kFmtSetDescField, 0, 1, HK_DESC, DescSetFieldCall)
REC(SetDescRec, "SetDescRec", "RecNumber=%d\nType=%d SubType=%d Length=%d Precision=%d "
    "Scale=%d\nDataPtr=%lX StringLengthPtr=%lX IndicatorPtr=%lX", 0, 1, HK_DESC, DescSetRecCall)

#undef REC

#define KX_CALL_RECORD_ADDRESS(n) &kRec##n,
extern const OdbcCallRecord* const kAllCallRecords[] = {KX_CALL_RECORDS(KX_CALL_RECORD_ADDRESS)};
#undef KX_CALL_RECORD_ADDRESS
extern const int kAllCallRecordCount = sizeof kAllCallRecords / sizeof kAllCallRecords[0];

}  // namespace kx
