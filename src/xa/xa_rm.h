// The resource managers of the XA switch: one ODBC connection of the driver's
// own per xa_open, on one ODBC environment all of them share, and the agent's
// XA operations called through that connection's binding. Every ODBC call
// here enters the driver's own dispatcher: never a driver manager's function
// of the same name, even in an application that links one.
#pragma once

#include <sql.h>

#include <cstddef>

#include "agent/agent.h"
#include "agent/agent_xa.h"
#include "agent/xid.h"

namespace kx {

// One open resource manager: its connection handle, NULL when none.
struct XaRmRecord {
  SQLHDBC dbc = nullptr;
};

// Takes a user of the shared environment, allocating it (ODBC 3) for the
// first. False when it cannot be made; the user is counted either way and
// XaRmRelease gives it back.
bool XaEnvAcquire();
// The shared environment, NULL while no resource manager uses it.
SQLHENV XaEnvHandle();
// Connects the record with the connect string (no prompt) and checks that the
// connection's agent does XA. False on failure, with the reason in the XA
// trace; a connection made before the failure stays for XaRmRelease.
bool XaRmConnect(XaRmRecord* rm, const char* connectText);
// Disconnects and frees the record's connection, then gives its user of the
// shared environment back (the environment is freed with the last one).
void XaRmRelease(XaRmRecord* rm);

// The agent connection of a resource manager and the table its binding
// reaches (the XA routing layer on top). False when the connection is no
// longer open (the application disconnected or freed it).
struct XaRmTarget {
  const AgentOps* ops;
  AgentHandle conn;
};
bool XaRmFind(const XaRmRecord& rm, XaRmTarget* target);

}  // namespace kx
