// Statement records: allocation and release, messages, column and parameter
// bindings, result and parameter descriptions, and the counters the API
// handlers report. Every function runs inside one dispatched call, under the
// owning connection's call lock; failures leave an error-table row in the
// statement's error field (or the connection's, for allocation).
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

// Statement flags.
constexpr uint16_t SF_PREPARED = 0x1;
constexpr uint16_t SF_EXECUTED = 0x2;          // results may be pending (a cursor is open)
constexpr uint16_t SF_SEND_PARAM_INFO = 0x4;   // descriptions go to the agent before execution
constexpr uint16_t SF_PARAM_INFO_CURRENT = 0x8;

// Rows asked per fetch block when the data source sets no fetch buffer size.
constexpr uint32_t STMT_DEFAULT_FETCH_SIZE = 60;

// ---- lifecycle ------------------------------------------------------------------
StmtRecord* StmtAlloc(ConnRecord* conn);
// The live statement of a handle (its error cleared), or nullptr.
StmtRecord* StmtLookup(uint32_t handle);
void StmtClose(StmtRecord* stmt);
void StmtFree(StmtRecord* stmt);
// Closes and frees every statement of the connection (connection close).
void StmtFreeAllOfConn(ConnRecord* conn);

// ---- messages ---------------------------------------------------------------------
void StmtPostMsg(StmtRecord* stmt, const char* text, int32_t native);
char* StmtPopMsg(StmtRecord* stmt, int32_t* native);
int StmtPullMsgs(StmtRecord* stmt);

// ---- bindings ---------------------------------------------------------------------
int ColBindingSet(StmtRecord* stmt, const ColBindingNode* b);
int ColBindingRemove(StmtRecord* stmt, const ColBindingNode* b);
// Unbinds every column and empties the current ARD (SQL_UNBIND). A user ARD
// shared with other statements is unbound there too, so that no statement
// keeps writing into buffers the application took back.
int StmtFreeColBindings(StmtRecord* stmt);
// Frees the bound-column list only; the descriptors keep their records.
void StmtDropColBindingNodes(StmtRecord* stmt);
int StmtSetParamBinding(StmtRecord* stmt, const ParamBinding* b);
int StmtFreeParamBindings(StmtRecord* stmt);
// Parameter n is no longer bound: an execution then finds its marker
// without a value (07002) rather than sending whatever the slot held.
void StmtUnbindParam(StmtRecord* stmt, int16_t n);
// SQL_RESET_PARAMS: every parameter unbound and the current APD and the IPD
// emptied. A user APD shared with other statements is unbound there too.
int StmtResetParams(StmtRecord* stmt);
// Every bookmark is an 8-byte value; a bookmark column's element is never
// shorter.
constexpr int64_t KX_BOOKMARK_BYTES = 8;

void DaeArraysFree(void*** values, uint64_t count, int64_t** lengths);
// Frees the `held` values and both arrays, then gives each `count` empty
// entries: 0, or KX_ERR_NOMEM with both arrays null.
int DaeArraysReset(void*** values, uint64_t held, int64_t** lengths, uint64_t count);
int StmtAllocParamValueArrays(StmtRecord* stmt);
int StmtAllocColValueArrays(StmtRecord* stmt);

// ---- descriptions and results -------------------------------------------------------
AgentColDesc* StmtDescribeCols(StmtRecord* stmt);
AgentColDesc* StmtGetColDesc(StmtRecord* stmt, uint16_t column);
AgentColDesc* StmtGetParamDesc(StmtRecord* stmt, uint16_t param);
void StmtDropParamDescs(StmtRecord* stmt);
void StmtDropColumnDescs(StmtRecord* stmt);
void StmtFreeColDescs(StmtRecord* stmt);
void StmtFreeResults(StmtRecord* stmt);
int StmtGetLongData(StmtRecord* stmt, uint32_t piece);
void StmtFreeLongData(GetDataState* gds);
// Rows of a fetch block for these columns: as many as fit in 65535 bytes by
// the storage-type estimate, at most fetchSize, at least 1 when there are
// columns (a wider row still fetches one at a time), 0 without columns.
uint16_t StmtRowsPerBlock(const AgentColDesc* cols, uint16_t count, uint32_t fetchSize);

// ---- counters -----------------------------------------------------------------------
int StmtParamOptions(StmtRecord* stmt, uint64_t rows, uint64_t* processed);
int StmtGetRowCount(StmtRecord* stmt, int64_t* count);
int StmtNumResultCols(StmtRecord* stmt, int16_t* count);
int StmtNumParams(StmtRecord* stmt, int16_t* count);

// ---- options, attributes and BindCol ------------------------------------------------
SQLRETURN StmtSetOption(StmtRecord* stmt, uint16_t option, uint64_t value);
// all64: write every integer as 8 bytes (the SQLGetStmtAttr path, whose
// option-like attributes are SQLULEN); otherwise the ODBC 2 widths.
SQLRETURN StmtGetOption(StmtRecord* stmt, uint16_t option, void* out, bool all64 = false);
SQLRETURN StmtSetAttr(StmtRecord* stmt, int32_t attribute, uint64_t value, int32_t length, char form);
SQLRETURN StmtGetAttr(StmtRecord* stmt, int32_t attribute, void* value, int32_t bufferLength,
                      int32_t* length);
// 0 or an error code. The length-or-indicator pointer serves as both.
int StmtBindCol(StmtRecord* stmt, uint16_t column, int16_t cType, void* target, int64_t bufferLength,
                int64_t* lengthOrIndicator);
// The same with separate octet-length and indicator pointers (descriptors).
int StmtBindColEx(StmtRecord* stmt, uint16_t column, int16_t cType, void* target,
                  int64_t bufferLength, int64_t* octetLength, int64_t* indicator);

// What the diagnostics of a statement show in their header: the row count
// (0 or the code of StmtGetRowCount) and the dynamic function code of the
// prepared (or directly executed) statement, which the statement keeps from
// its text: the same before and after its results are described. A catalog
// or type-information result ran no statement of the application's: 0.
int StmtDiagRowCount(StmtRecord* stmt, SQLLEN* count);
int StmtDiagDynamicFunction(StmtRecord* stmt);

// The statement's agent binding; an empty one (every call IM001) before the
// statement has one.
const AgentBinding& BindingOf(const StmtRecord* stmt);
// Whether the core, not the agent, frees the row blocks it hands the agent.
bool CoreKeepsBuffers(const StmtRecord* stmt);
// The ODBC version the application declared on the statement's environment;
// 3 when the statement has no connection or environment.
int32_t OdbcVersion(const StmtRecord* stmt);

}  // namespace kx
