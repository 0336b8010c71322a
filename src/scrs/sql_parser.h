// The SQL scanner and parser: one statement's text to its parse tree.
//
// All state of one parse lives in an SqlParseCtx, so parses never share
// anything but the parser mutex (one statement is parsed at a time in the
// process, as the cursor layer expects).
#pragma once

#include <cstdint>
#include <string>

#include "scrs/sql_tree.h"

namespace kx {

// Token codes the scanner returns; operator characters are their own codes.
enum SqlToken : int {
  SQLT_END = 0,
  SQLT_IDENT = 258, SQLT_STRING = 259, SQLT_INTNUM = 260, SQLT_DECNUM = 261,
  SQLT_FLOATNUM = 262, SQLT_COMPOP = 263, SQLT_AGGNAME = 264, SQLT_ESCAPECLAUSE = 265,
  SQLT_DATELIT = 266, SQLT_TIMELIT = 267, SQLT_TSLIT = 268, SQLT_HEXNUM = 269,
  SQLT_OUTEROP = 270, SQLT_CONCAT = 271, SQLT_OR = 272, SQLT_AND = 273, SQLT_NOT = 274,
  SQLT_ALL = 276, SQLT_ANY = 277, SQLT_AS = 278, SQLT_ASC = 279, SQLT_BETWEEN = 280,
  SQLT_BY = 281, SQLT_CURRENT = 282, SQLT_DELETE = 283, SQLT_DESC = 284, SQLT_DISTINCT = 285,
  SQLT_EXISTS = 286, SQLT_FN = 287, SQLT_FROM = 288, SQLT_FULL = 289, SQLT_GROUP = 290,
  SQLT_HAVING = 291, SQLT_IN = 292, SQLT_INNER = 293, SQLT_IS = 294, SQLT_INSERT = 295,
  SQLT_INTO = 296, SQLT_JOIN = 297, SQLT_LEFT = 298, SQLT_LIKE = 299, SQLT_NULL = 300,
  SQLT_OF = 301, SQLT_OJ = 302, SQLT_ON = 303, SQLT_OUTER = 304, SQLT_ORDER = 305,
  SQLT_OTHERWORD = 306, SQLT_PARAM = 307, SQLT_PERCENT = 308, SQLT_RIGHT = 309,
  SQLT_SELECT = 310, SQLT_SET = 311, SQLT_UNION = 312, SQLT_UPDATE = 313, SQLT_USER = 314,
  SQLT_VALUES = 315, SQLT_WHERE = 316, SQLT_WITH = 317, SQLT_TIES = 318, SQLT_TOP = 319,
  SQLT_CASE = 320, SQLT_ELSE = 321, SQLT_END_KW = 322, SQLT_THEN = 323, SQLT_WHEN = 324,
  SQLT_VENDOR_OPEN = 325, SQLT_VENDOR_CLOSE = 326, SQLT_LBRACE = 327, SQLT_RBRACE = 328,
  SQLT_CALL_BRACE = 329,
  // Not a token of the language: the scanner refuses the text (an unknown
  // character, an unterminated literal or comment). The parse fails.
  SQLT_LEXERROR = -1,
};

enum SqlScanCond : int { SCAN_INITIAL = 0, SCAN_ESC, SCAN_MAIN, SCAN_DRAIN, SCAN_DRAINBRACE };

// The value of a valued token: the matched text, owned by the parse's intern table.
struct SQL_TOKVAL {
  char* text;
  uint64_t hash;
  size_t len;
};

struct SqlParseCtx {
  int cond;             // SqlScanCond
  int depth;            // open ODBC escapes
  std::string echo;     // text consumed since the last DML keyword
  const char* start;    // statement text (not owned)
  const char* pos;
  const char* end;
  bool lineStart;
  bool echoFailed;      // the echo could not grow: the parse fails
  BST* intern;          // SQL_TOKVAL by exact spelling
  SQL_NODE* root;       // accepted statement's tree
  char* errText;        // echo followed by "^" (malloc'd), NULL when no error
  char* errMsg;         // message (malloc'd), NULL when no error
};

// Parse start: the context is reset and pointed at the text (not copied).
void scsql_ParseStart(SqlParseCtx* ctx, const char* text, size_t len);
// Frees what a context holds (tree, error texts, intern table).
void scsql_ParseEnd(SqlParseCtx* ctx);

// Parses one statement under the parser mutex: 0 accepted (ctx->root holds the
// tree, owned by the caller from then on), 1 syntax error, 2 exhausted (stack
// or memory). On failure nothing of the tree is left (ctx->root is NULL);
// errText and errMsg describe the failure.
int scsql_Parse(SqlParseCtx* ctx, const char* text, size_t len);

// ---- scanner ------------------------------------------------------------------------
// The next token; *val receives the value of a valued token (else NULL).
int scsql_NextToken(SqlParseCtx* ctx, const SQL_TOKVAL** val);
void scsql_error(SqlParseCtx* ctx, const char* msg);
void scsql_SetInitial(SqlParseCtx* ctx);
void scsql_EchoReset(SqlParseCtx* ctx);
void scsql_Echo(SqlParseCtx* ctx, const char* text, size_t len);
int scsql_InternBegin(SqlParseCtx* ctx);
void scsql_InternEnd(SqlParseCtx* ctx);
const SQL_TOKVAL* scsql_Intern(SqlParseCtx* ctx, const char* text, size_t len);
size_t scsql_ReadInput(SqlParseCtx* ctx, char* buf, size_t max);
void scsql_restart(SqlParseCtx* ctx);

// ---- node builders used by the grammar's actions --------------------------------
// Each returns NULL when memory runs out; pn_node then frees the children it
// was given (a NULL child also makes it fail), so nothing leaks on the way out.
// Templates are written with {n} for argument n.
SQL_NODE* pn_leaf(SqlParseCtx* ctx, int kind, const char* text);
SQL_NODE* pn_tok(SqlParseCtx* ctx, int kind, const SQL_TOKVAL* tok);
SQL_NODE* pn_node(SqlParseCtx* ctx, int kind, const char* tmpl, int n, ...);
// Whether a comparison token is "=", and an aggregate name node is COUNT.
bool scsql_IsEquals(const SQL_TOKVAL* tok);
bool scsql_IsCount(const SQL_NODE* aggName);

}  // namespace kx
