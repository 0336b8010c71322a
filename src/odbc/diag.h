// Diagnostics: the message list every handle carries, the driver's error-code
// table, and the composition of what SQLError, SQLGetDiagRec and
// SQLGetDiagField hand to an application.
//
// Nothing is composed when an error happens: a handle keeps its messages (mostly
// agent texts ending in a "[SQLSTATE:xxxxx]" tag) and one internal error code;
// the texts are built when the application asks.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "util/errcodes.h"

namespace kx {

struct EnvrRecord;
struct ConnRecord;
struct StmtRecord;
struct DescRecord;

// One diagnostic message. The text is the node's own malloc'd copy.
struct MsgNode {
  MsgNode* next;
  char* text;
  int32_t native;
};

// ---- message lists ----------------------------------------------------------
// A list is the address of its head pointer (the messages field of a handle
// record); nodes are appended at the tail and taken from the head.

// Appends a copy of text (NULL counts as empty). Returns 0, or KX_ERR_NOMEM
// with nothing appended.
int MsgListAppend(MsgNode** head, const char* text, int32_t native);
// Takes the first node off: returns its text (the caller frees it) and its
// native code through native (when given); NULL when the list is empty.
char* MsgListPop(MsgNode** head, int32_t* native);
// Frees every node and its text; the list becomes empty.
void MsgListFree(MsgNode** head);

// Number of nodes, and 1 for an empty list (record 1 can then be the
// error-code diagnostic).
int DiagCount(const MsgNode* first);
// Text of the n-th node (1-based; 1 or less gives the first) and its native
// code through native; NULL when the list ends first.
const char* DiagNthMsg(const MsgNode* first, int n, int32_t* native);

// ---- error-code table (util/errcodes.h) ----------------------------------------
// SQLSTATE and message of an internal code; codes without a row (and negative
// codes) give "S1000" and the undefined-code text with the code filled in,
// written into scratch (at least 96 bytes). Returns the message.
const char* ErrorCodeText(int code, const char** sqlstate, char* scratch, size_t scratchSize);
// Finds the row whose message occurs in text (rows 183 and 184 serve the
// failover notice); 0 when none.
int DiagFailoverCode(const char* text);

// Rewrites a five-character ODBC 2 SQLSTATE in place into its ODBC 3 form.
void SqlStateToV3(char* state);

// The composed prefixes.
constexpr const char* kDiagPrefix = "[Quillmar][ODBC]";
constexpr const char* kDiagDriverPrefix = "[Quillmar][ODBC][Driver]";

// ---- where one handle keeps its diagnostics -------------------------------------
// The composition works on this view so that it does not depend on the layout
// of the four handle records. DiagTargetOf fills it for each kind.
struct DiagTarget {
  int kind;             // SQL_HANDLE_ENV, _DBC, _STMT or _DESC
  MsgNode** messages;   // the handle's list
  int32_t* errorCode;   // the handle's internal error code
  int16_t* diagRecNo;   // record number last asked for
  int odbcVersion;      // of the owning environment: SQL_OV_ODBC2 or SQL_OV_ODBC3
  const char* dsn;      // data source of the handle's connection, NULL when none
  StmtRecord* stmt;     // statements only: for the header fields below
  // Statements only. Row count of the last execution: returns 0 or a code.
  int (*rowCount)(StmtRecord* stmt, SQLLEN* count);
  // Statements only. The SQL_DIAG_DYNAMIC_FUNCTION_CODE of the statement.
  int (*dynamicFunction)(StmtRecord* stmt);
};

// The SQL_DIAG_DYNAMIC_FUNCTION_CODE of an SQL text, from its leading
// keywords (comments, parentheses and an ODBC call escape are looked
// through; a WITH clause counts as the statement it introduces), and the
// text ODBC names that code by ("" for SQL_DIAG_UNKNOWN_STATEMENT).
int DiagFunctionOfText(const char* text);
const char* DiagFunctionName(int code);

DiagTarget DiagTargetOf(EnvrRecord* env);
DiagTarget DiagTargetOf(ConnRecord* conn);
DiagTarget DiagTargetOf(StmtRecord* stmt);
DiagTarget DiagTargetOf(DescRecord* desc);

// ---- composition ----------------------------------------------------------------
constexpr int DIAG_TAKE = 1;  // SQLError: take the first message, clear the code
constexpr int DIAG_READ = 2;  // SQLGetDiagRec/Field: read record *diagRecNo

// Composes one diagnostic into the caller's buffers (each may be NULL): state
// gets 6 bytes, text at most capacity bytes with a terminator, length the full
// length. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (text cut), SQL_NO_DATA
// (nothing to report) or SQL_ERROR (negative capacity).
SQLRETURN DiagFetchTarget(const DiagTarget& target, int mode, SQLCHAR* state, SQLINTEGER* native,
                          SQLCHAR* text, SQLSMALLINT capacity, SQLSMALLINT* length);
// The same on the first non-NULL of statement, connection, environment,
// descriptor.
SQLRETURN DiagFetch(EnvrRecord* env, ConnRecord* conn, StmtRecord* stmt, DescRecord* desc, int mode,
                    SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                    SQLSMALLINT* length);

// SQLGetDiagRec on one handle (text in UTF-8 bytes).
SQLRETURN DiagGetRec(const DiagTarget& target, SQLSMALLINT recNumber, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity, SQLSMALLINT* length);
// SQLGetDiagField on one handle; form 'A' writes UTF-8 text with lengths in
// bytes, 'W' UTF-16 with lengths in bytes.
SQLRETURN DiagGetField(const DiagTarget& target, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                       SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                       char form);

// ---- handlers of the "Error", "GetDiagRec" and "GetDiagField" call records ----
// (the call records unpack the argument slots for them)
SQLRETURN EnvrError(EnvrRecord* env, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length);
SQLRETURN ConnError(ConnRecord* conn, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length);
SQLRETURN StmtError(StmtRecord* stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                    SQLSMALLINT capacity, SQLSMALLINT* length);

SQLRETURN EnvrGetDiagRec(EnvrRecord* env, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length);
SQLRETURN ConnGetDiagRec(ConnRecord* conn, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length);
SQLRETURN StmtGetDiagRec(StmtRecord* stmt, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length);
SQLRETURN DescGetDiagRec(DescRecord* desc, SQLSMALLINT recNumber, SQLCHAR* state,
                         SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                         SQLSMALLINT* length);

// form: 'A' or 'W'.
SQLRETURN EnvrGetDiagField(EnvrRecord* env, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form);
SQLRETURN ConnGetDiagField(ConnRecord* conn, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form);
SQLRETURN StmtGetDiagField(StmtRecord* stmt, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form);
SQLRETURN DescGetDiagField(DescRecord* desc, SQLSMALLINT recNumber, SQLSMALLINT identifier,
                           SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength,
                           char form);

}  // namespace kx
