// Connection options and attributes: SQLSetConnectOption/SQLGetConnectOption
// (the ODBC 2 forms, which hold the logic) and SQLSetConnectAttr/
// SQLGetConnectAttr (the ODBC 3 forms, which map onto them). An option is kept
// on the connection record, sent to the agent as a connection property while
// connected, stored as a default for the connection's statements, or handed to
// the distributed-transaction support (SQL_ATTR_ENLIST_IN_DTC).
//
// Every function runs inside one dispatched call on the connection (its call
// lock held) and leaves a failure as the connection's error code or messages.
// mode is the entry's form: 'A' narrow, 'W' wide (text values are UTF-16 and
// the handler converts them itself).
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>

#include "odbc/records.h"

namespace kx {

// Driver-specific connection option numbers the agent may know.
constexpr uint16_t CONN_OPT_APP_NAME = 1051;
constexpr uint16_t CONN_OPT_FAILOVER_CALLBACK = 1280;
constexpr uint16_t CONN_OPT_FAILOVER_ARG = 1281;

// Bounds of the driver's own connection options the agent gives a meaning to
// (conn_attr.cpp says which carry a number and which a text): a low block
// from CONN_OPT_DRIVER_FIRST, a high block from CONN_OPT_DRIVER_HIGH_FIRST,
// and the three text options among them.
constexpr uint16_t CONN_OPT_DRIVER_FIRST = 1201;
constexpr uint16_t CONN_OPT_DRIVER_TEXT_1 = 1212;
constexpr uint16_t CONN_OPT_DRIVER_TEXT_2 = 1214;
constexpr uint16_t CONN_OPT_DRIVER_LOW_LAST = 1219;
constexpr uint16_t CONN_OPT_DRIVER_HIGH_FIRST = 1252;
constexpr uint16_t CONN_OPT_DRIVER_TEXT_3 = 1254;
constexpr uint16_t CONN_OPT_DRIVER_HIGH_LAST = 1259;
constexpr uint16_t CONN_OPT_DRIVER_LAST = 1262;

// Agent property of the failover switch, and the bases of the driver-specific
// options (+ the option number).
constexpr AgentPropertyId AP_CONN_FAILOVER = 0x22030500;
constexpr AgentPropertyId AP_CONN_OPTION_INT = 0x22030000;
constexpr AgentPropertyId AP_CONN_OPTION_TEXT = 0x21030000;

// The ODBC 2 handlers. value: the pointer-sized argument (a number, or the
// address of text); out: where SQLGetConnectOption writes (text answers are
// assumed to have room for SQL_MAX_OPTION_STRING_LENGTH characters and are
// cut, with 01004, to that).
SQLRETURN ConnSetOption(ConnRecord* conn, uint16_t option, uint64_t value, char mode);
SQLRETURN ConnGetOption(ConnRecord* conn, uint16_t option, void* out, char mode);

// The ODBC 3 handlers. length: the value's length for text attributes (bytes,
// or SQL_NTS); bufferLength: the caller's buffer in bytes for text answers.
SQLRETURN ConnSetAttr(ConnRecord* conn, int32_t attribute, uint64_t value, int32_t length,
                      char mode);
SQLRETURN ConnGetAttr(ConnRecord* conn, int32_t attribute, void* value, int32_t bufferLength,
                      int32_t* length, char mode);

// Stores a statement-option default (options 0-3, 5-12) and applies it to every
// statement of the connection. The default stays stored when a statement
// refuses the value; a statement's refusal (or warning) becomes the
// connection's diagnostic.
SQLRETURN ConnSetStmtDefault(ConnRecord* conn, uint16_t option, uint64_t value);

// SQL_ATTR_ENLIST_IN_DTC: a transaction object enlists the connection, NULL
// ends the enlistment.
SQLRETURN ConnEnlistInDtc(ConnRecord* conn, void* transaction);

// ---- attributes set before connecting ---------------------------------------
// ConnOpen calls this once the agent connection is up (after the agent's own
// defaults are read): autocommit as the application set it, and the driver's
// own options set while not connected. 0, KX_ERR_OPTION_CHANGED when an
// option was not taken (the connection stays up; the reason is among its
// messages), or the agent's code when autocommit could not be set.
int ConnApplySetAttrs(ConnRecord* conn);

// ---- the catalog named before connecting ------------------------------------
// A catalog set while the connection is not open is kept here until the
// connection opens. ConnOpen calls ConnApplyPendingCatalog once the agent
// connection is up: 0 when there was nothing to apply or the agent took it
// (the pending name is then forgotten), else the agent's code with its
// messages on the connection (the name stays pending). ConnFree calls
// ConnDropPendingCatalog so that nothing outlives the record.
int ConnApplyPendingCatalog(ConnRecord* conn);
void ConnDropPendingCatalog(ConnRecord* conn);
// The pending name, or false when none is kept for the connection.
bool ConnPendingCatalog(const ConnRecord* conn, std::string* name);

}  // namespace kx
