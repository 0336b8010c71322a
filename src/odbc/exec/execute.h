// Execution: SQLExecute, SQLExecDirect and SQLMoreResults, the prepare step
// SQLPrepare and SQLExecDirect share, the parameter row block built from the
// application's bound values for a whole parameter set, and the completion
// that sets the state, the processed count and the parameter status array
// and delivers output parameters. Failures leave an error-table row (or an
// agent code) in stmt->error.
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/call_args.h"
#include "odbc/records.h"

namespace kx {

// Parameter directions as the agent's markers and the bindings tell them.
enum ParamDirection : int { PD_INPUT = 1, PD_INOUT = 2, PD_OUTPUT = 4 };
ParamDirection ExecParamDirection(const StmtRecord* stmt, uint16_t index);
// Recounts inputCount, outputCount and inOutCount over every description.
void ExecRecountDirections(StmtRecord* stmt);

// The prepare step: 0, 1 (prepared; the agent changed the cursor type or
// concurrency, 01S02 stored) or -1.
int StmtPrepareText(StmtRecord* stmt, const char* text);
SQLRETURN StmtPrepare(StmtRecord* stmt, const char* text, int64_t length);

SQLRETURN ExecuteStmt(StmtRecord* stmt);
SQLRETURN ExecDirect(StmtRecord* stmt, const char* text, int64_t length);
SQLRETURN MoreResults(StmtRecord* stmt);

// Builds, sends and completes a driver-collected execution (also entered by
// SQLParamData once the last value is in).
SQLRETURN ExecCollected(StmtRecord* stmt);
// The backend-driven execution and its completion.
SQLRETURN ExecAgentDAE(StmtRecord* stmt);
SQLRETURN ExecComplete(StmtRecord* stmt, uint32_t rows);

// Narrows the wide SQL and C types of the first n summaries in place.
void ExecParamDescsToAnsi(ParamSummary* summaries, uint16_t n);
// Whether text travels to the agent as 8-bit text only.
bool ExecNarrowBackend(const StmtRecord* stmt);

// Output and in-out values into the application's buffers (the end of an
// execution, and SQLMoreResults).
SQLRETURN ExecGetOutputParams(StmtRecord* stmt);
// Named descriptors (24-byte records) for n parameters; NULL when memory
// runs out. ExecFreeNamedParamDescs frees the names; the caller the array.
SCS_PARAMDESC_EX* ExecNamedParamDescs(const ParamSummary* summaries, uint16_t n, DescRecord* ipd);
void ExecFreeNamedParamDescs(SCS_PARAMDESC_EX* descs, uint16_t n);

// Handlers.
SQLRETURN ExecuteCall(HandleHead* rec, const OdbcArgs& args);      // none
SQLRETURN ExecDirectCall(HandleHead* rec, const OdbcArgs& args);   // text, length
SQLRETURN MoreResultsCall(HandleHead* rec, const OdbcArgs& args);  // none
SQLRETURN StmtPrepareCall(HandleHead* rec, const OdbcArgs& args);  // text, length

}  // namespace kx
