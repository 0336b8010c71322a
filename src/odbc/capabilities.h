// What a connection's layers carry out, in one place: the entries that use a
// capability ask here before they run, and the answers that promise it
// (SQLGetFunctions, SQLGetInfo) ask the same questions, so that no answer
// promises what then answers IM001. A layer that brings a capability (the
// scrollable cursor layer's rowsets, positioned and bulk operations) turns it
// on here.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "odbc/records.h"

namespace kx {

// Rowsets of more than one row and scrolling (SQLExtendedFetch, SQLFetchScroll
// beyond SQL_FETCH_NEXT): the connection's cursor layer serves them through
// the agent operations ops (the binding the statement calls through).
bool CapRowsets(const ConnRecord* conn, const AgentOps* ops);
// SQLSetPos: positioning within a rowset and positioned changes.
bool CapSetPos(const ConnRecord* conn, const AgentOps* ops);
// SQLBulkOperations.
bool CapBulkOperations(const ConnRecord* conn, const AgentOps* ops);

// An SQLGetInfo answer cut to what the connection carries out: the positioned
// operations, lock types and bookmark persistence only with SQLSetPos, the
// block-cursor bit of SQL_GETDATA_EXTENSIONS only with rowsets and SQLSetPos
// (SQLGetData on a row of a block is reached through SQLSetPos). Other types
// pass unchanged.
uint32_t CapCutInfo(const ConnRecord* conn, uint16_t type, uint32_t answer);

}  // namespace kx
