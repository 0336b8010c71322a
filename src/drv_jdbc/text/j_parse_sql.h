// The agent's first look at a statement before any Java object is made: the
// text to hand to JDBC, the parameter-marker count, whether the statement is a
// procedure-call escape and what kind of statement it is.
//
// Two texts come out. `text` goes to Java: the statement without its leading
// white space, with the escapes the JDBC drivers get wrong resolved here (see
// JDB_JavaText) and the rest left in the brace form JDBC resolves itself.
// `translated` is for analysis only: every '?' becomes a
// numbered marker ":1", ":2", ..., escapes are resolved (a procedure call
// keeps its call, everything else contributes nothing) and control characters
// are normalised.
//
// Quoted strings (PostgreSQL's E'...' with its backslashes too), dollar-quoted
// text, quoted identifiers and comments ("-- ..." to the end of the line,
// "/* ... */", which nest) are literal everywhere: no marker, escape or
// bracket is seen inside them.
#pragma once

#include <cstdint>

namespace kx {

// Statement kinds.
constexpr uint16_t PSQL_KIND_NONE = 0;    // not classified (translation failed)
constexpr uint16_t PSQL_KIND_SELECT = 1;  // SELECT, also behind opening parentheses
constexpr uint16_t PSQL_KIND_DML = 2;     // INSERT, DELETE or UPDATE
constexpr uint16_t PSQL_KIND_OTHER = 3;

// Flags.
constexpr uint16_t PSQL_MARKERS_OUTSIDE = 0x2;  // a '?' lies outside every escape
constexpr uint16_t PSQL_CALL = 0x4;             // a procedure-call escape
// The statement locks the rows it reads (FOR UPDATE, FOR SHARE, FOR NO KEY
// UPDATE, FOR KEY SHARE outside literals and comments): reading its rows may
// wait for another transaction.
constexpr uint16_t PSQL_LOCKS_ROWS = 0x8;
// The statement is not classified a SELECT, but its first word after comments
// and opening parentheses is one that returns rows: SELECT, WITH, VALUES,
// TABLE, SHOW, EXPLAIN or CALL. It is prepared and described as a query is.
constexpr uint16_t PSQL_ROWS_KEYWORD = 0x10;
// The text holds more than one statement (a ';' outside literals, comments
// and escapes with more text after it).
constexpr uint16_t PSQL_SEVERAL = 0x20;
// The statement changes data: INSERT, UPDATE or DELETE, also as the main
// statement after a WITH list ("WITH x AS (...) UPDATE ..."), whose rows,
// when it returns any (RETURNING), are bounded by the rows it changed.
constexpr uint16_t PSQL_CHANGES_DATA = 0x40;
// The statement changes a schema: its first word (past comments, white
// space and opening parentheses) is CREATE, ALTER or DROP.
constexpr uint16_t PSQL_CHANGES_SCHEMA = 0x80;

// The database the text for Java is written for: the escapes a JDBC driver
// resolves wrongly are resolved for it here.
constexpr int PSQL_DIALECT_OTHER = 0;
constexpr int PSQL_DIALECT_POSTGRES = 1;
constexpr int PSQL_DIALECT_H2 = 2;

// Escape and comment brackets nest at most this deep; deeper is a syntax error.
constexpr int PSQL_MAX_NESTING = 32;

// Embedded in the agent statement; a zero-filled record is empty. The two
// texts come first so that StrFreePair can release them.
struct ParsedSql {
  char* text;           // owned: the text sent to Java
  char* translated;     // owned: the analysis translation
  uint16_t paramCount;  // '?' markers, those inside escapes included
  uint16_t kind;        // PSQL_KIND_*
  uint16_t flags;       // PSQL_*
};

// Fills the record from sql (NULL reads as empty text), releasing texts it
// held before. 0; 68 (syntax error) when an escape or comment bracket is still
// open at the end or nests deeper than PSQL_MAX_NESTING; 154 (too many
// parameter markers) when the statement holds more than KX_MAX_PARAMS. On
// either error both texts are stored anyway and the kind stays 0; 16 when
// memory runs out (the record is left empty). Posts no message: the caller
// reports the code.
int JDB_ParseSql(ParsedSql* parsed, const char* sql, int dialect = PSQL_DIALECT_OTHER);

// The text JDBC receives for sql (leading white space kept), malloc'd; NULL
// when memory runs out. Every escape keeps its parameter markers, once each
// and in their order, so the markers JDBC counts are the application's:
// - "--*( ... --*)" becomes the brace form, white space after '{' goes;
// - {oj ...} becomes the join it holds (nested ones too);
// - {fn null} and its spellings become the word null;
// - {fn CONVERT(value, SQL_type)} becomes CAST(value AS type), and {d ?},
//   {t ?}, {ts ?} (anything but a quoted literal) a CAST to the type;
// - on PostgreSQL: SECOND gives whole seconds, ROUND and TRUNCATE to places
//   take any number, LOCATE with a start position, RIGHT, INSERT and
//   TIMESTAMPDIFF are written without repeating or reordering an argument (and
//   TIMESTAMPDIFF counts whole intervals, months, quarters and years too);
// - on H2: TIMESTAMPADD and TIMESTAMPDIFF name their interval without the
//   SQL_TSI_ prefix (H2 does not know SQL_TSI_QUARTER).
// Anything else (the rest of {fn ...}, {d}, {t}, {ts}, {escape}, {call}) is
// left to JDBC. Only called on text whose brackets balance.
char* JDB_JavaText(const char* sql, int dialect);

// Frees both texts and clears the record.
void JDB_ParsedSqlFree(ParsedSql* parsed);

}  // namespace kx
