// Connection records: allocation and release, open and close against the
// agent, messages, commit and rollback.
#pragma once

#include <sql.h>

#include "odbc/records.h"

namespace kx {

// A new connection linked into the environment, or nullptr (code 16 on the
// environment).
ConnRecord* ConnAlloc(EnvrRecord* env);
// Empties the SQLGetInfo caches.
void ConnResetCaches(ConnRecord* conn);
// Opens the connection against the agent with the connect fields already set;
// form is 'A' or 'W'. Success is state CONN_CONNECTED; on failure the state
// stays CONN_ALLOCATED and the error code and messages say why. options: the
// agent's connect options of this open (NULL: the defaults); the agent takes
// their texts over.
void ConnOpen(ConnRecord* conn, char form, AgentConnOptions* options = nullptr);
// 0 or an internal error code (the connection then stays connected).
int ConnClose(ConnRecord* conn);
// Frees the connect strings (not the application name).
void ConnFreeStrings(ConnRecord* conn);
// Unlinks and marks the record freed (magic -1) and releases its handle; the
// memory is released by whoever frees the record afterwards (ConnDestroy).
void ConnFree(ConnRecord* conn);
// Releases the memory (and call lock) of a record after ConnFree.
void ConnDestroy(ConnRecord* conn);
// Appends a message (own copy of the text); nothing when out of memory.
void ConnPostMsg(ConnRecord* conn, const char* text, int32_t native);
// Takes the first message off the list (caller frees the text) or nullptr.
char* ConnPopMsg(ConnRecord* conn, int32_t* native);
// Moves the agent server's / agent connection's messages onto the connection
// (or onto the statement when one is given). Number of messages moved.
int ConnPullServerMsgs(ConnRecord* conn);
int ConnPullMsgs(ConnRecord* conn, StmtRecord* stmt);
// Asks the agent's SQL-type table. The agent's result.
int ConnGetOpTable(ConnRecord* conn, OpTable* table);
// The first call in the process latches the re-entrancy value.
void ConnLatchReentrant(const AgentBinding& binding);
// Commit (0) or rollback (1).
SQLRETURN ConnTransact(ConnRecord* conn, uint16_t type);

}  // namespace kx
