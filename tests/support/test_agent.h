// The test agent: an AgentOps table with scripted answers that records what it
// is sent, so that the ODBC core runs without a Java VM. Linked into the unit
// tests directly and into the test builds of the driver (libkestrixu_test.so,
// libkestrix_test.so), which export these functions for the harnesses (look
// them up with dlsym on the loaded driver).
//
// Operation names are the slot names without "DRV_" ("Connect", "Commit",
// "AllocServer", "GetOpTable", ...). Messages are posted as
// "[Test Agent]<text>[SQLSTATE:<state>]", the tagged form the core reads.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Puts the test agent under the core (the layers DriverAttach and every
// connection open use) and forgets every script, recording, message and agent
// handle; default answers.
void TestAgent_Reset(void);

// The next call of op answers code (a row of the error-code table) and posts
// one message with the given SQLSTATE and text on the handle the operation
// reports on (Connect: the new connection handle and the server handle;
// AllocServer: handle 0).
// A NULL text posts nothing. Scripts queue: each call takes the oldest.
void TestAgent_FailNext(const char* op, int code, const char* sqlstate, const char* text);

// Integer answer of DRV_GetProperty for an identifier (any handle); Unset
// makes the agent answer 1 (IM001, no answer) for it.
void TestAgent_SetProperty(uint32_t id, int32_t value);
void TestAgent_UnsetProperty(uint32_t id);
// The last value DRV_SetProperty received for an identifier: 1 and *value, or
// 0 when it was never set.
int TestAgent_LastSetProperty(uint32_t id, int32_t* value);

// The last text DRV_SetProperty received for a text identifier: its length
// (copy cut to cap - 1 and terminated), or -1 when it was never set.
int TestAgent_LastSetText(uint32_t id, char* out, int cap);
// The next DRV_SetProperty of this identifier fails as TestAgent_FailNext says.
void TestAgent_FailProperty(uint32_t id, int code, const char* sqlstate, const char* text);

// The binding flags JDB_Register hands out (default 2: re-entrant).
void TestAgent_SetFlags(int32_t flags);
// Empties slot n of the table the next registrations hand out (-1: all full).
void TestAgent_EmptySlot(int slot);

// The next call of op blocks inside the agent until TestAgent_Release.
void TestAgent_HoldNext(const char* op);
// 1 once a held call is waiting, 0 after timeoutMs.
int TestAgent_WaitHeld(int timeoutMs);
void TestAgent_Release(void);

// Number of calls of op since the last reset.
int TestAgent_Calls(const char* op);
// Agent servers and connections currently open.
int TestAgent_LiveServers(void);
int TestAgent_LiveConnections(void);

// A field of the ConnectBlock of the last DRV_Connect, as text: "host",
// "options" (non-printable bytes as \xNN), "serverType", "dbPath",
// "dataSource", "dbOptions", "user", "password", "appName", "readOnly",
// "loginTimeout", "flag", "optionsNull". Returns the full length, -1 for an
// unknown field or no connect yet; the copy is cut to cap - 1 and terminated.
int TestAgent_LastConnect(const char* field, char* out, int cap);

// The statements of the last prepares and direct executions, newest first:
// n = 0 is the newest. -1 when there is none.
int TestAgent_LastSql(int n, char* out, int cap);

// A scripted result for the next executions: columns "NAME:sqltype,..." and
// rows as values separated by '|' and rows by '\n' (a backslash followed by
// N is NULL; an empty rows text gives no rows). DRV_DescribeCols describes
// the columns and DRV_FetchBlock delivers the rows as NUL-terminated text
// (RBT_CHAR_NTS, 254 bytes), from the first row again after each prepare or
// execution.
void TestAgent_SetResult(const char* columns, const char* rows);

// The parameters DRV_DescribeParams describes from now on: "NAME:sqltype,..."
// where the name carries the direction marker ("*I", "*O", "*B", "*U").
void TestAgent_SetParamDescs(const char* params);
// The output row DRV_FetchBlock delivers when asked for 0 rows: text values
// separated by '|' (a backslash and N is NULL), one column each; NULL: none.
void TestAgent_SetOutputRow(const char* values);
// Argument n (0-based, in the operation's order; the integer options of
// DDSpecialColumns and DDStatistics follow the texts as decimal text) of the
// last catalog operation, when it was op ("DDTables", "DDColumns", ...): its
// length, copied cut to cap - 1 and terminated; -1 when it was NULL; -2 when
// the last catalog operation was another one or has no such argument.
int TestAgent_LastCatalogArg(const char* op, int n, char* out, int cap);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <string>
#include <vector>

#include "agent/agent.h"

namespace kx {
struct DriverLayers;  // odbc/libmain.h

// The test agent's entry points, named as the JDBC agent's: its binding, and
// the flag the load sets (statement allocation is refused while it is 0).
int JDB_Register(AgentBinding* binding);
extern int32_t JDB_BrokerKnown;
// The layers of the test builds: the test agent alone under the core.
const DriverLayers& TestAgentLayers();

// The parameter block the agent took over last (DRV_SetParams or
// DRV_ExecDirect); it stays the agent's. NULL when none is held.
const RowBuffer* AgentLastParamBlock();
// The descriptors of the last DRV_SetParamInfo or DRV_ExecDirect with a
// count, and the number of such calls.
std::vector<SCS_PARAMDESC> AgentLastParamInfo(int* calls);
// Whether the agent's connects succeed from now on (a failed one answers
// 08001 with a message on the connection and the server).
void AgentConnectSucceeds(bool ok);
// The initial SQL file the last connect was handed ("" for none).
std::string AgentSawInitSql();
// The SQLDBMSNAME text the last DRV_Connect took over ("" when none).
std::string AgentSawSqlDbmsName();
}  // namespace kx
#endif
