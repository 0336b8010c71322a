// SQLGetFunctions: which ODBC functions the driver carries, as the ODBC 2
// list (one flag per function number below 100) and the ODBC 3 bitmap.
#include <sqlext.h>

#include <array>
#include <cstring>

#include "odbc/capabilities.h"
#include "odbc/getinfo.h"
#include "odbc/handlers.h"

namespace kx {

namespace {

// Every function the driver answers (those of a layer only while the
// connection has it: see TablesFor). Numbers below 100 are in both forms;
// SQLBrowseConnect, SQLDataSources, SQLSetScrollOptions, SQLDrivers,
// SQLAllocHandleStd and SQLBindParam are not among them.
constexpr uint16_t kSupported[] = {
    SQL_API_SQLALLOCCONNECT, SQL_API_SQLALLOCENV, SQL_API_SQLALLOCSTMT, SQL_API_SQLBINDCOL,
    SQL_API_SQLCANCEL, SQL_API_SQLCOLATTRIBUTE, SQL_API_SQLCONNECT, SQL_API_SQLDESCRIBECOL,
    SQL_API_SQLDISCONNECT, SQL_API_SQLERROR, SQL_API_SQLEXECDIRECT, SQL_API_SQLEXECUTE,
    SQL_API_SQLFETCH, SQL_API_SQLFREECONNECT, SQL_API_SQLFREEENV, SQL_API_SQLFREESTMT,
    SQL_API_SQLGETCURSORNAME, SQL_API_SQLNUMRESULTCOLS, SQL_API_SQLPREPARE, SQL_API_SQLROWCOUNT,
    SQL_API_SQLSETCURSORNAME, SQL_API_SQLSETPARAM, SQL_API_SQLTRANSACT,
    SQL_API_SQLCOLUMNS, SQL_API_SQLDRIVERCONNECT, SQL_API_SQLGETCONNECTOPTION,
    SQL_API_SQLGETDATA, SQL_API_SQLGETFUNCTIONS, SQL_API_SQLGETINFO, SQL_API_SQLGETSTMTOPTION,
    SQL_API_SQLGETTYPEINFO, SQL_API_SQLPARAMDATA, SQL_API_SQLPUTDATA,
    SQL_API_SQLSETCONNECTOPTION, SQL_API_SQLSETSTMTOPTION, SQL_API_SQLSPECIALCOLUMNS,
    SQL_API_SQLSTATISTICS, SQL_API_SQLTABLES, SQL_API_SQLCOLUMNPRIVILEGES,
    SQL_API_SQLDESCRIBEPARAM, SQL_API_SQLEXTENDEDFETCH, SQL_API_SQLFOREIGNKEYS,
    SQL_API_SQLMORERESULTS, SQL_API_SQLNATIVESQL, SQL_API_SQLNUMPARAMS, SQL_API_SQLPARAMOPTIONS,
    SQL_API_SQLPRIMARYKEYS, SQL_API_SQLPROCEDURECOLUMNS, SQL_API_SQLPROCEDURES,
    SQL_API_SQLSETPOS, SQL_API_SQLTABLEPRIVILEGES, SQL_API_SQLBINDPARAMETER,
    // ODBC 3 only.
    SQL_API_SQLALLOCHANDLE, SQL_API_SQLCLOSECURSOR, SQL_API_SQLCOPYDESC, SQL_API_SQLENDTRAN,
    SQL_API_SQLFREEHANDLE, SQL_API_SQLGETCONNECTATTR, SQL_API_SQLGETDESCFIELD,
    SQL_API_SQLGETDESCREC, SQL_API_SQLGETDIAGFIELD, SQL_API_SQLGETDIAGREC,
    SQL_API_SQLGETENVATTR, SQL_API_SQLGETSTMTATTR, SQL_API_SQLSETCONNECTATTR,
    SQL_API_SQLSETDESCFIELD, SQL_API_SQLSETDESCREC, SQL_API_SQLSETENVATTR,
    SQL_API_SQLSETSTMTATTR, SQL_API_SQLFETCHSCROLL, SQL_API_SQLBULKOPERATIONS,
};

struct FunctionTables {
  std::array<uint16_t, FUNCTIONS_ODBC2_COUNT> odbc2{};
  std::array<uint16_t, FUNCTIONS_ODBC3_WORDS> odbc3{};
};

constexpr FunctionTables MakeTables() {
  FunctionTables t{};
  for (uint16_t n : kSupported) {
    if (n < FUNCTIONS_ODBC2_COUNT) t.odbc2[n] = SQL_TRUE;
    t.odbc3[n >> 4] = static_cast<uint16_t>(t.odbc3[n >> 4] | (1u << (n & 0xF)));
  }
  return t;
}

constexpr FunctionTables kTables = MakeTables();

// The tables for one connection: the functions its layers carry out only
// when they do (the same questions the functions ask before they run).
FunctionTables TablesFor(const ConnRecord* conn) {
  FunctionTables t = kTables;
  const AgentOps* ops = conn != nullptr ? conn->binding.ops : nullptr;
  const struct {
    uint16_t function;
    bool carried;
  } layered[] = {
      {SQL_API_SQLEXTENDEDFETCH, CapRowsets(conn, ops)},
      {SQL_API_SQLSETPOS, CapSetPos(conn, ops)},
      {SQL_API_SQLBULKOPERATIONS, CapBulkOperations(conn, ops)},
  };
  for (const auto& f : layered) {
    if (f.carried) continue;
    if (f.function < FUNCTIONS_ODBC2_COUNT) t.odbc2[f.function] = SQL_FALSE;
    t.odbc3[f.function >> 4] = static_cast<uint16_t>(t.odbc3[f.function >> 4] & ~(1u << (f.function & 0xF)));
  }
  return t;
}

}  // namespace

SQLRETURN ConnGetFunctions(ConnRecord* conn, uint16_t function, uint16_t* exists) {
  if (exists == nullptr) return SQL_SUCCESS;
  const FunctionTables tables = TablesFor(conn);
  if (function == SQL_API_ALL_FUNCTIONS) {
    memcpy(exists, tables.odbc2.data(), sizeof tables.odbc2);
  } else if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
    memcpy(exists, tables.odbc3.data(), sizeof tables.odbc3);
  } else if (function < FUNCTIONS_ODBC2_COUNT) {
    *exists = tables.odbc2[function];
  } else if (function < FUNCTIONS_ODBC3_WORDS * 16) {
    *exists = (tables.odbc3[function >> 4] >> (function & 0xF)) & 1u;
  } else {
    *exists = SQL_FALSE;
  }
  return SQL_SUCCESS;
}

// SQLGetFunctions: function, exists*
SQLRETURN ConnGetFunctionsCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnGetFunctions(static_cast<ConnRecord*>(rec), args.Get<uint16_t>(0),
                          args.Get<uint16_t*>(1));
}

}  // namespace kx
