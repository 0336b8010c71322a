// The agent's first look at a statement before any Java object is made: the
// text to hand to JDBC, the parameter-marker count, whether the statement is a
// procedure-call escape and what kind of statement it is.
//
// Two texts come out. `text` goes to Java: the statement without its leading
// white space, with the {fn null} escapes overwritten by the word null and the
// comment form of an escape ("--*( ... --*)") turned into the brace form JDBC
// understands. `translated` is for analysis only: every '?' becomes a
// numbered marker ":1", ":2", ..., escapes are resolved (a procedure call
// keeps its call, everything else contributes nothing) and control characters
// are normalised.
//
// Quoted strings, quoted identifiers and comments ("-- ..." to the end of the
// line, "/* ... */") are literal everywhere: no marker, escape or bracket is
// seen inside them.
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
int JDB_ParseSql(ParsedSql* parsed, const char* sql);

// Frees both texts and clears the record.
void JDB_ParsedSqlFree(ParsedSql* parsed);

}  // namespace kx
