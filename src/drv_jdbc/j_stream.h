// Results read in blocks in autocommit mode.
//
// PostgreSQL's JDBC driver reads a result in blocks of the fetch size only
// inside a transaction: in autocommit mode it reads the whole result into
// memory before the first row. A read-only forward-only query run in
// autocommit mode on that driver therefore runs inside a transaction of the
// agent's own, which ends (commits) as soon as the result is read to its
// end, fails or closes, and before anything else reaches the connection:
// every other call on the connection first reads the rows left into the
// statement's packed row queue (see RowBlock.drain) and ends the
// transaction, so that statement runs in autocommit mode as the application
// asked. The application sees nothing of it: its autocommit setting reads
// on, its other statements commit at once, the query sees one snapshot as
// an autocommit query does, and the rows, their order and where an error
// falls are the same; only the moment the query's own transaction ends
// moves from the execution to the end of its result (the writes of a
// volatile function called by the query commit then, as with a server-side
// cursor).
#pragma once

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

// Before s executes: whether its result is read inside a transaction of the
// agent's own (autocommit is then off on the JDBC connection, and s is the
// connection's streaming statement). Leaves nothing pending.
bool JDB_StreamBegin(JStmt* s);

// The streaming statement's result closed, ran out or failed: the agent's
// transaction ends (committed; rolled back when failed is set or the commit
// fails) and autocommit is back on. Nothing for another statement.
void JDB_StreamEnd(JStmt* s, bool failed);

// Before any call on the connection h belongs to (h: a statement or a
// connection) other than one on the streaming statement itself: the rows
// of the streaming result are read into memory and its transaction ends.
void JDB_StreamSettle(AgentHandle h);

}  // namespace kx
