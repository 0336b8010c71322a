// Parameter arrays of data changes as JDBC batches: the rows go to the
// database in blocks (addBatch, executeBatch) instead of one round trip each,
// with the outcome of running them one by one.
#pragma once

#include <cstdint>

#include "drv_jdbc/j_records.h"

namespace kx {

// Whether the n parameter rows of s may run as batches: an INSERT, UPDATE or
// DELETE with markers, no call, more than one row, outside XA (where the
// branch owns the transaction).
bool JDB_BatchFits(const JStmt* s, int32_t n);

// Executes the n parameter rows in batches. A block that fails is undone
// (a savepoint in a transaction; in autocommit the block runs as one
// transaction) and run again row by row, so the rows stored, the row count
// and the diagnostics are those of one execution per row: every row before
// the first failing one applied once, none after it. A connection that
// refuses the transaction calls gets the rows one by one.
int JDB_ExecuteBatched(JStmt* s, int32_t n);

// A savepoint before one execution that must fail alone inside an open
// transaction: NULL (nothing to undo by) under autocommit, in an XA branch,
// or when the connection will not set one; those attempts leave no message.
// A local reference of the caller's frame.
jobject JDB_FailAloneBegin(JStmt* s);
// Ends what JDB_FailAloneBegin began: a failed execution is undone back to
// the savepoint, and the savepoint is released. The execution's messages
// stay; those of the savepoint calls are dropped.
void JDB_FailAloneEnd(JStmt* s, jobject savepoint, bool failed);

}  // namespace kx
