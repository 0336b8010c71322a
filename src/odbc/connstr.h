// Connect strings and data-source settings: the process-wide keyword table,
// its completion from odbc.ini (a DSN section, a file DSN or "Default"), the
// login dialog decision, the connection fields a connect sets, and the output
// connect string. Every connect runs under the process-wide connect lock.
//
// Values: one outer pair of braces is stripped from a connect-string value, and
// braces nest (URL={URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}} gives the URL value
// URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}). Composed strings brace a value that
// holds ';', '{' or '}', so a user name or password cannot add keywords.
// Braces nest rather than doubling "}}": the data-source property lists in
// URL values carry braced JDBC URLs of their own.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>


namespace kx {

struct ConnRecord;

enum ConnKwKind : int { CKK_TEXT = 0, CKK_BOOL = 1, CKK_NUMBER = 2, CKK_LETTER = 3 };

// One row of the keyword table.
struct ConnKeyword {
  const char* keyword;  // connect-string key, matched without regard to case
  const char* iniName;  // odbc.ini value name; NULL for DSN, DRIVER, FILEDSN
  int traced;           // 0: never in the per-key trace lines
  int size;             // capacity of a value read from the settings (cut to size - 1)
  int kind;             // ConnKwKind
  int supplied;         // given by the connect string (or the NLB user read)
  char* value;          // malloc'd current value, NULL when absent
};

enum ConnKw : int {
  CK_DSN, CK_UID, CK_PWD, CK_JDBC, CK_URL, CK_READONLY, CK_FBS, CK_NLB, CK_MAXROWS, CK_NOAC,
  CK_NRSSL, CK_FDSN, CK_INITSQL, CK_DYN_CURS_SENSITIVITY, CK_DLF, CK_J_DCAT, CK_J_DSCH,
  CK_J_SSTOFF, CK_J_NSQI, CK_PNSOSC, CK_NSSSE, CK_DRIVER, CK_FILEDSN, CK_LOGJCALLS,
  CK_SQLDBMSNAME, CK_MASE, CK_IV, CK_IA, CK_NEGPRECFIX, CK_JET, CK_COUNT
};

// DLF: echoed by the long output connect string only.
extern int32_t g_dlfFlag;

// The process-wide table; read and written only under the connect lock.
extern ConnKeyword g_connKeywords[CK_COUNT];

// Empties the table and fills it from text (cut up in place: pass a private
// copy), then completes the missing rows from the settings. NULL text only
// empties the table. mode is 'A' (8-bit settings reads) or 'W' (16-bit).
void ConnStrParse(char* text, char mode);

// Value helpers of the table (absent counts as empty / false / 0).
const char* ConnKwValue(int row);
bool ConnKwBool(int row);
int32_t ConnKwNumber(int row);

// Driver description registered for the current DSN under "ODBC Data Sources"
// of odbc.ini; malloc'd, empty when none, NULL when out of memory.
char* DsnDriverName();
// The driver the parsed connect string names: DRIVER= (braces taken off),
// else the data source's Driver=, else the file data source's DRIVER=, else
// the data source's entry in "ODBC Data Sources"; "" when none.
std::string NamedDriver();

int JDB_DynCursSensitivityParse(const char* text);
const char* JDB_DynCursSensitivityName(int value);

// ---- composing connect strings -----------------------------------------------
// Appends "key=value" (with a ';' in front unless out is empty), bracing the
// value when it holds ';', '{' or '}'.
// Returns false when the value cannot be written so that it parses back to
// itself (unbalanced braces around a ';').
bool ConnStrAppend(std::string& out, const char* key, const char* value);
// Copy of a connect string fit for a trace or log: the values of PWD,
// PASSWORD and similar secrets (at any brace depth, and password= inside a
// URL query) read "***".
std::string ConnStrMasked(const char* text);

// ---- connecting --------------------------------------------------------------------
// Text is UTF-8; lengths count bytes or are SQL_NTS; mode is 'A' or 'W' (the
// form letter of the entry). The call records unpack the argument slots for
// the two handlers ConnDriverConnect and ConnConnect.

// The whole connect without the connect lock.
SQLRETURN DriverConnectImpl(ConnRecord* conn, SQLHWND window, const char* in,
                            SQLSMALLINT inLength, char* out, SQLSMALLINT outCapacity,
                            SQLSMALLINT* outLength, SQLUSMALLINT completion, char mode);
// Handler of "DriverConnect" / "DriverConnectW": DriverConnectImpl under the
// process-wide connect lock.
SQLRETURN ConnDriverConnect(ConnRecord* conn, SQLHWND window, const char* in,
                              SQLSMALLINT inLength, char* out, SQLSMALLINT outCapacity,
                              SQLSMALLINT* outLength, SQLUSMALLINT completion, char mode);
// Handler of "Connect" / "ConnectW": connects as "DSN=d;UID=u;PWD=p" without
// a dialog.
SQLRETURN ConnConnect(ConnRecord* conn, const char* dsn, SQLSMALLINT dsnLength,
                          const char* uid, SQLSMALLINT uidLength, const char* pwd,
                          SQLSMALLINT pwdLength, char mode);

}  // namespace kx
