// Prepare and execution: the Java statement made for a prepared text, the
// parameter rows and descriptors handed over by the core, execution row by
// row, further results and the output parameters of a procedure call.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

// Rows the JDBC driver reads from the database per round trip. A result
// starts with JDB_FETCH_ROWS; once its row width is known, a result whose
// rows are narrow reads up to JDB_FETCH_ROWS_MAX rows a trip, as many as
// fit in JDB_FETCH_BYTES of Java objects. The server produces nothing while
// a block is being read, so every round trip is a wait; a bounded block
// keeps a streamed result's memory bounded.
//
// The JDBC driver holds a block's rows as Java objects until its last row
// is read, so a block outlives most collections of the young generation and
// is copied by each. One that fits in a survivor space (a tenth of the
// VM's 16 MB young generation) costs only that copy; a larger one
// overflows it at every collection into the old generation, which then
// grows by the block each time and makes each collection several times
// dearer.
constexpr int32_t JDB_FETCH_ROWS = 1000;
constexpr int32_t JDB_FETCH_ROWS_MAX = 10000;
constexpr int64_t JDB_FETCH_BYTES = int64_t{1} << 20;
// A row's Java objects besides its values' bytes: the row and its array of
// values, and each value's array header.
constexpr int64_t JDB_FETCH_ROW_OVERHEAD = 48;
constexpr int64_t JDB_FETCH_VALUE_OVERHEAD = 24;

int32_t DRV_Prepare(AgentHandle stmt, const char* sql);                                 // 11
int32_t DRV_SetParams(AgentHandle stmt, RowBuffer* rows);                               // 12
int32_t DRV_Execute(AgentHandle stmt);                                                  // 13
int32_t DRV_SetParamInfo(AgentHandle stmt, uint16_t count, const SCS_PARAMDESC* descs);  // 18
int32_t DRV_MoreResults(AgentHandle stmt);                                              // 24
int32_t DRV_ExecDirect(AgentHandle stmt, const char* sql, RowBuffer* rows, uint16_t count,
                       const SCS_PARAMDESC* descs);                                     // 43

// Whether a call escape starts with a return-value marker ({? = call f(...)}).
bool JDB_HasReturnMarker(const JStmt* s);

// Binds parameter row `row` (when there are parameters), executes the
// prepared statement and keeps its result set, described.
int JDB_ExecuteRow(JStmt* s, int32_t row);
// Executes parameter rows from..to-1 of a statement that is not a SELECT,
// one execution each, adding up their update counts. On a failure the row
// count becomes the number of rows of the block completed before it.
int JDB_ExecuteRows(JStmt* s, int32_t from, int32_t to);
// Runs the parameter rows not yet run of a data change that returns rows
// (one result per row, the later rows run as their results are asked for),
// when its results are closed before all were read; their results are
// dropped. 0 when there is nothing to run.
int JDB_FinishPendingRows(JStmt* s);
// Gives the parameter descriptions real types before execution: the describe
// queries of the statement's markers are run on a statement of their own and
// their result columns become the parameters' descriptions.
int JDB_DescribeParamsByProbe(JStmt* s);
// Reads the output parameters of a call into out: a copy of the parameter
// rows whose output values are in row 0.
int fetchCallProc(JStmt* s, RowBuffer* out);
// Storage of an output parameter registered as a fixed-size JDBC type (it
// is read with that type's getter); RBT_NONE for the others, whose storage
// follows the bound C type.
uint32_t JDB_OutputStorageOf(int32_t jdbcType);
// Copy of the parameter rows for the output values; output text and binary
// columns become long values so no output is cut to its input's width.
int JDB_CopyParamRows(const JStmt* s, RowBuffer* out, const RowBuffer* src);

}  // namespace kx
