/* Grammar of the statements the cursor layer and the parameter describer
 * understand: one SELECT, INSERT, UPDATE or DELETE in the ODBC dialect, or the
 * first word of any other statement. Every rule builds one parse-tree node
 * whose template regenerates its part of the statement.
 *
 * Templates are written with {n} for "argument n"; the node builder turns
 * them into the byte codes of the template language. */

%require "3.8"
%define api.prefix {scsql_}
%define api.pure full
%define api.token.prefix {TK_}
%define parse.error simple
%parse-param {kx::SqlParseCtx* ctx}
%lex-param {kx::SqlParseCtx* ctx}

/* The grammar's known ambiguities, settled by Bison's defaults: an ORDER BY goes
 * into the innermost open slot, and the empty condition and the nested
 * optional slots reduce by the rule listed first. */

%code requires {
#include "scrs/sql_parser.h"
}

%code {
namespace {

using kx::SqlParseCtx;
using kx::SQL_NODE;

inline SQL_NODE* L(SqlParseCtx* c, int kind, const char* text) { return kx::pn_leaf(c, kind, text); }
inline SQL_NODE* T(SqlParseCtx* c, int kind, const kx::SQL_TOKVAL* tok) { return kx::pn_tok(c, kind, tok); }

}  // namespace

using namespace kx;  // node kinds

/* The scanner and the error report live in namespace kx. */
static int scsqlLex(SCSQL_STYPE* lval, kx::SqlParseCtx* c) {
  const kx::SQL_TOKVAL* val = nullptr;
  int tok = kx::scsql_NextToken(c, &val);
  lval->tok = val;
  return tok == kx::SQLT_LEXERROR ? TK_SCSQL_error : tok;
}
#undef yylex
#define yylex scsqlLex
#undef yyerror
#define yyerror kx::scsql_error

/* A node that cannot be made ends the parse as an exhausted one. */
#define MK(dst, expr) do { dst = (expr); if (!dst) YYNOMEM; } while (0)
#define N kx::pn_node
/* Input the grammar would take but the language does not allow. */
#define SYNTAX_FAIL() do { kx::scsql_error(ctx, "syntax error"); YYABORT; } while (0)
}

%union {
  const kx::SQL_TOKVAL* tok;
  kx::SQL_NODE* node;
}

%destructor { kx::TREE_Free(&$$, kx::tree_FreeNodeText); } <node>

%token <tok> IDENT 258 STRING 259 INTNUM 260 DECNUM 261 FLOATNUM 262 COMPOP 263
%token <tok> AGGNAME 264 ESCAPECLAUSE 265 DATELIT 266 TIMELIT 267 TSLIT 268
%token <tok> HEXNUM 269 OUTEROP 270
%token CONCAT 271 OR 272 AND 273 NOT 274 RESERVED 275
%token ALL 276 ANY 277 AS 278 ASC 279 BETWEEN 280 BY 281 CURRENT 282 DELETE 283
%token DESC 284 DISTINCT 285 EXISTS 286 FN 287 FROM 288 FULL 289 GROUP 290
%token HAVING 291 IN 292 INNER 293 IS 294 INSERT 295 INTO 296 JOIN 297 LEFT 298
%token LIKE 299 NULL 300 OF 301 OJ 302 ON 303 OUTER 304 ORDER 305 OTHERWORD 306
%token PARAM 307 PERCENT 308 RIGHT 309 SELECT 310 SET 311 UNION 312 UPDATE 313
%token USER 314 VALUES 315 WHERE 316 WITH 317 TIES 318 TOP 319 CASE 320 ELSE 321
%token END 322 THEN 323 WHEN 324 VENDOR_OPEN 325 VENDOR_CLOSE 326 LBRACE 327
%token RBRACE 328 CALL_BRACE 329

%left OR
%left AND
%precedence NOT

%type <node> sql_statement dml_statement other_statement call_statement
%type <node> delete_positioned delete_searched insert_statement insert_source
%type <node> select_statement query_spec set_quantifier opt_percent opt_with_ties
%type <node> select_head update_positioned assignment_list assignment
%type <node> update_searched opt_where select_list from_part table_list
%type <node> table_primary table_ref table_expr joined_table join_type inner_word
%type <node> outer_side opt_outer where_clause opt_group_by column_list opt_having
%type <node> opt_order_by opt_union opt_insert_columns union_clause
%type <node> order_by_clause order_list order_item opt_direction
%type <node> condition predicate outer_comparison comparison between_predicate
%type <node> like_predicate opt_escape escape_clause null_predicate in_predicate
%type <node> value_list quantified_comparison quantifier exists_predicate subquery
%type <node> expr term factor primary opt_as select_item value like_pattern
%type <node> aggregate_call literal table_name column_ref table_ident column_ident
%type <node> column_alias cursor_name parameter correlation_name unsigned_int
%type <node> comp_op outer_op aggregate_name bool_char datetime_escape date_escape
%type <node> time_escape timestamp_escape date_literal time_literal
%type <node> timestamp_literal oj_escape function_escape function_call
%type <node> function_name function_args brace_open brace_close vendor_open
%type <node> vendor_close simple_case simple_when_list simple_when searched_case
%type <node> searched_when_list searched_when

/* The accepted statement's root is handed over in ctx; the start symbol keeps
 * no value, so nothing is freed twice. */
%destructor { } sql_statement

%start sql_statement

%%

sql_statement
  : dml_statement     { ctx->root = $1; $$ = nullptr; kx::scsql_SetInitial(ctx); }
  | other_statement   { ctx->root = $1; $$ = nullptr; }
  | call_statement    { ctx->root = $1; $$ = nullptr; }
  ;

dml_statement
  : select_statement
  | delete_positioned
  | delete_searched
  | insert_statement
  | update_positioned
  | update_searched
  ;

other_statement
  : OTHERWORD   { MK($$, L(ctx, SQLN_OTHER, "")); }
  ;

call_statement
  : CALL_BRACE  { MK($$, L(ctx, SQLN_CALLESC, "")); }
  ;

delete_positioned
  : DELETE FROM table_name WHERE CURRENT OF cursor_name
      { MK($$, N(ctx, SQLN_DELETEPOS, "DELETE FROM {1} WHERE CURRENT OF {2}", 2, $3, $7)); }
  ;

delete_searched
  : DELETE FROM table_name opt_where
      { MK($$, N(ctx, SQLN_DELETE, "DELETE FROM {1} {2}", 2, $3, $4)); }
  ;

insert_statement
  : INSERT INTO table_name opt_insert_columns insert_source
      { MK($$, N(ctx, SQLN_INSERT, "INSERT INTO {1} {2} {3}", 3, $3, $4, $5)); }
  ;

insert_source
  : VALUES '(' value_list ')'   { MK($$, N(ctx, SQLN_INSSOURCE, "VALUES ( {1} )", 1, $3)); }
  | query_spec                  { MK($$, N(ctx, SQLN_INSSOURCE, "{1}", 1, $1)); }
  ;

select_statement
  : query_spec opt_order_by     { MK($$, N(ctx, SQLN_SELECT, "{1} {2}", 2, $1, $2)); }
  ;

query_spec
  : SELECT select_head select_list from_part
      { MK($$, N(ctx, SQLN_QUERYSPEC, "SELECT {1} {2} {3}", 3, $2, $3, $4)); }
  ;

set_quantifier
  : %empty      { MK($$, L(ctx, SQLN_SETQUANT, "")); }
  | ALL         { MK($$, L(ctx, SQLN_SETQUANT, "ALL")); }
  | DISTINCT    { MK($$, L(ctx, SQLN_SETQUANT, "DISTINCT")); }
  ;

opt_percent
  : %empty      { MK($$, L(ctx, SQLN_TOP, "")); }
  | PERCENT     { MK($$, L(ctx, SQLN_TOP, "PERCENT")); }
  ;

opt_with_ties
  : %empty      { MK($$, L(ctx, SQLN_TOP, "")); }
  | WITH TIES   { MK($$, L(ctx, SQLN_TOP, "WITH TIES")); }
  ;

select_head
  : set_quantifier
      { MK($$, N(ctx, SQLN_TOP, "{1}", 1, $1)); }
  | set_quantifier TOP unsigned_int opt_percent opt_with_ties
      { MK($$, N(ctx, SQLN_TOP, "{1} TOP {2} {3} {4}", 4, $1, $3, $4, $5)); }
  | set_quantifier TOP unsigned_int ',' unsigned_int opt_percent opt_with_ties
      { MK($$, N(ctx, SQLN_TOP, "{1} TOP {2},{3} {4} {5}", 5, $1, $3, $5, $6, $7)); }
  | set_quantifier TOP '(' expr ')' opt_percent opt_with_ties
      { MK($$, N(ctx, SQLN_TOP, "{1} TOP ({2}) {3} {4}", 4, $1, $4, $6, $7)); }
  | set_quantifier TOP '(' expr ',' expr ')' opt_percent opt_with_ties
      { MK($$, N(ctx, SQLN_TOP, "{1} TOP ({2}, {3}) {4} {5}", 5, $1, $4, $6, $8, $9)); }
  ;

update_positioned
  : UPDATE table_name SET assignment_list WHERE CURRENT OF cursor_name
      { MK($$, N(ctx, SQLN_UPDATEPOS, "UPDATE {1} SET {2} WHERE CURRENT OF {3}", 3, $2, $4, $8)); }
  ;

assignment_list
  : assignment                      { MK($$, N(ctx, SQLN_ASSIGNLIST, "{1}", 1, $1)); }
  | assignment_list ',' assignment  { MK($$, N(ctx, SQLN_ASSIGNLIST, "{1}, {2}", 2, $1, $3)); }
  ;

assignment
  : column_ident COMPOP expr
      { if (!kx::scsql_IsEquals($2)) { kx::TREE_Free(&$1, kx::tree_FreeNodeText); kx::TREE_Free(&$3, kx::tree_FreeNodeText); SYNTAX_FAIL(); }
        MK($$, N(ctx, SQLN_ASSIGN, "{1} = {2}", 2, $1, $3)); }
  | column_ident COMPOP NULL
      { if (!kx::scsql_IsEquals($2)) { kx::TREE_Free(&$1, kx::tree_FreeNodeText); SYNTAX_FAIL(); }
        MK($$, N(ctx, SQLN_ASSIGN, "{1} = NULL", 1, $1)); }
  ;

update_searched
  : UPDATE table_name FROM table_list SET assignment_list opt_where
      { MK($$, N(ctx, SQLN_UPDATE, "UPDATE {1} FROM {2} SET {3} {4}", 4, $2, $4, $6, $7)); }
  | UPDATE table_name SET assignment_list FROM table_list opt_where
      { MK($$, N(ctx, SQLN_UPDATE, "UPDATE {1} SET {2} FROM {3} {4}", 4, $2, $4, $6, $7)); }
  | UPDATE table_name SET assignment_list opt_where
      { MK($$, N(ctx, SQLN_UPDATE, "UPDATE {1} SET {2} {3}", 3, $2, $4, $5)); }
  ;

opt_where
  : %empty        { MK($$, L(ctx, SQLN_WHERESLOT, "")); }
  | where_clause  { MK($$, N(ctx, SQLN_WHERESLOT, "{1}", 1, $1)); }
  ;

select_list
  : select_item                  { MK($$, N(ctx, SQLN_SELLIST, "{1}", 1, $1)); }
  | select_list ',' select_item  { MK($$, N(ctx, SQLN_SELLIST, "{1}, {2}", 2, $1, $3)); }
  | '*'                          { MK($$, L(ctx, SQLN_SELLIST, "*")); }
  ;

from_part
  : opt_where opt_group_by opt_having opt_union opt_order_by
      { MK($$, N(ctx, SQLN_FROMPART, "{1} {2} {3} {4} {5}", 5, $1, $2, $3, $4, $5)); }
  | FROM table_list opt_where opt_group_by opt_having opt_union opt_order_by
      { MK($$, N(ctx, SQLN_FROMPART, "FROM {1} {2} {3} {4} {5} {6}", 6, $2, $3, $4, $5, $6, $7)); }
  ;

table_list
  : table_primary                 { MK($$, N(ctx, SQLN_TABLIST, "{1}", 1, $1)); }
  | table_list ',' table_primary  { MK($$, N(ctx, SQLN_TABLIST, "{1}, {2}", 2, $1, $3)); }
  ;

table_primary
  : table_ref   { MK($$, N(ctx, SQLN_TABPRIMARY, "{1}", 1, $1)); }
  | oj_escape   { MK($$, N(ctx, SQLN_TABPRIMARY, "{1}", 1, $1)); }
  | table_expr  { MK($$, N(ctx, SQLN_TABPRIMARY, "{1}", 1, $1)); }
  ;

table_ref
  : table_name                           { MK($$, N(ctx, SQLN_TABLEREF, "{1}", 1, $1)); }
  | table_name opt_as correlation_name   { MK($$, N(ctx, SQLN_TABLEREF, "{1} {2} {3}", 3, $1, $2, $3)); }
  ;

table_expr
  : joined_table
      { MK($$, N(ctx, SQLN_TABLEEXPR, "{1}", 1, $1)); }
  | '(' query_spec ')' opt_as correlation_name opt_order_by
      { MK($$, N(ctx, SQLN_TABLEEXPR, "( {1} ) {2} {3} {4}", 4, $2, $4, $5, $6)); }
  | '(' table_expr ')'
      { MK($$, N(ctx, SQLN_TABLEEXPR, "( {1} )", 1, $2)); }
  ;

joined_table
  : table_primary join_type JOIN table_primary ON condition
      { MK($$, N(ctx, SQLN_JOIN, "{1} {2} JOIN {3} ON {4}", 4, $1, $2, $4, $6)); }
  ;

join_type
  : inner_word            { MK($$, N(ctx, SQLN_JOINTYPE, "{1}", 1, $1)); }
  | outer_side opt_outer  { MK($$, N(ctx, SQLN_JOINTYPE, "{1} {2}", 2, $1, $2)); }
  ;

inner_word
  : INNER   { MK($$, L(ctx, SQLN_INNER, "INNER")); }
  ;

outer_side
  : LEFT    { MK($$, L(ctx, SQLN_OUTERTYPE, "LEFT")); }
  | RIGHT   { MK($$, L(ctx, SQLN_OUTERTYPE, "RIGHT")); }
  | FULL    { MK($$, L(ctx, SQLN_OUTERTYPE, "FULL")); }
  ;

opt_outer
  : %empty  { MK($$, L(ctx, SQLN_OUTER, "")); }
  | OUTER   { MK($$, L(ctx, SQLN_OUTER, "OUTER")); }
  ;

where_clause
  : WHERE condition   { MK($$, N(ctx, SQLN_WHERE, "WHERE {1}", 1, $2)); }
  ;

opt_group_by
  : %empty                { MK($$, L(ctx, SQLN_GROUPBY, "")); }
  | GROUP BY column_list  { MK($$, N(ctx, SQLN_GROUPBY, "GROUP BY {1}", 1, $3)); }
  ;

column_list
  : column_ref                  { MK($$, N(ctx, SQLN_COLLIST, "{1}", 1, $1)); }
  | column_list ',' column_ref  { MK($$, N(ctx, SQLN_COLLIST, "{1}, {2}", 2, $1, $3)); }
  ;

opt_having
  : %empty            { MK($$, L(ctx, SQLN_HAVING, "")); }
  | HAVING condition  { MK($$, N(ctx, SQLN_HAVING, "HAVING {1}", 1, $2)); }
  ;

opt_order_by
  : %empty            { MK($$, L(ctx, SQLN_ORDERBYSLOT, "")); }
  | order_by_clause   { MK($$, N(ctx, SQLN_ORDERBYSLOT, "{1}", 1, $1)); }
  ;

opt_union
  : %empty        { MK($$, L(ctx, SQLN_UNIONSLOT, "")); }
  | union_clause  { MK($$, N(ctx, SQLN_UNIONSLOT, "{1}", 1, $1)); }
  ;

opt_insert_columns
  : %empty               { MK($$, L(ctx, SQLN_INSCOLS, "")); }
  | '(' column_list ')'  { MK($$, N(ctx, SQLN_INSCOLS, "( {1} )", 1, $2)); }
  ;

union_clause
  : UNION query_spec       { MK($$, N(ctx, SQLN_UNION, "UNION {1}", 1, $2)); }
  | UNION ALL query_spec   { MK($$, N(ctx, SQLN_UNION, "UNION ALL {1}", 1, $3)); }
  ;

order_by_clause
  : ORDER BY order_list    { MK($$, N(ctx, SQLN_ORDERBY, "ORDER BY {1}", 1, $3)); }
  ;

order_list
  : order_item                 { MK($$, N(ctx, SQLN_ORDERLIST, "{1}", 1, $1)); }
  | order_list ',' order_item  { MK($$, N(ctx, SQLN_ORDERLIST, "{1}, {2}", 2, $1, $3)); }
  ;

order_item
  : unsigned_int opt_direction  { MK($$, N(ctx, SQLN_ORDERITEM, "{1} {2}", 2, $1, $2)); }
  | column_ref opt_direction    { MK($$, N(ctx, SQLN_ORDERITEM, "{1} {2}", 2, $1, $2)); }
  ;

opt_direction
  : %empty  { MK($$, L(ctx, SQLN_ORDERDIR, "")); }
  | ASC     { MK($$, L(ctx, SQLN_ORDERDIR, "ASC")); }
  | DESC    { MK($$, L(ctx, SQLN_ORDERDIR, "DESC")); }
  ;

/* ---- conditions, operands, names and literals ---- */

condition
  : %empty                   { MK($$, L(ctx, SQLN_COND, "")); }
  | condition OR condition   { MK($$, N(ctx, SQLN_COND, "{1} OR {2}", 2, $1, $3)); }
  | condition AND condition  { MK($$, N(ctx, SQLN_COND, "{1} AND {2}", 2, $1, $3)); }
  | NOT condition            { MK($$, N(ctx, SQLN_COND, "NOT {1}", 1, $2)); }
  | '(' condition ')'        { MK($$, N(ctx, SQLN_COND, "( {1} )", 1, $2)); }
  | predicate                { MK($$, N(ctx, SQLN_COND, "{1}", 1, $1)); }
  ;

predicate
  : comparison              { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | between_predicate       { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | like_predicate          { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | null_predicate          { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | in_predicate            { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | quantified_comparison   { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | exists_predicate        { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  | outer_comparison        { MK($$, N(ctx, SQLN_PREDICATE, "{1}", 1, $1)); }
  ;

outer_comparison
  : column_ref outer_op column_ref  { MK($$, N(ctx, SQLN_OUTERCMP, "{1} {2} {3}", 3, $1, $2, $3)); }
  ;

comparison
  : expr comp_op expr       { MK($$, N(ctx, SQLN_COMPARE, "{1} {2} {3}", 3, $1, $2, $3)); }
  | expr comp_op subquery   { MK($$, N(ctx, SQLN_COMPARE, "{1} {2} {3}", 3, $1, $2, $3)); }
  ;

between_predicate
  : expr NOT BETWEEN expr AND expr
      { MK($$, N(ctx, SQLN_BETWEEN, "{1} NOT BETWEEN {2} AND {3}", 3, $1, $4, $6)); }
  | expr BETWEEN expr AND expr
      { MK($$, N(ctx, SQLN_BETWEEN, "{1} BETWEEN {2} AND {3}", 3, $1, $3, $5)); }
  ;

like_predicate
  : expr NOT LIKE like_pattern opt_escape
      { MK($$, N(ctx, SQLN_LIKE, "{1} NOT LIKE {2} {3}", 3, $1, $4, $5)); }
  | expr LIKE like_pattern opt_escape
      { MK($$, N(ctx, SQLN_LIKE, "{1} LIKE {2} {3}", 3, $1, $3, $4)); }
  ;

opt_escape
  : %empty                                  { MK($$, L(ctx, SQLN_LIKEESC, "")); }
  | escape_clause                           { MK($$, N(ctx, SQLN_LIKEESC, "{1}", 1, $1)); }
  | vendor_open escape_clause vendor_close  { MK($$, N(ctx, SQLN_LIKEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  | brace_open escape_clause brace_close    { MK($$, N(ctx, SQLN_LIKEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  ;

escape_clause
  : ESCAPECLAUSE  { MK($$, T(ctx, SQLN_ESCAPE, $1)); }
  ;

null_predicate
  : column_ref IS NOT NULL  { MK($$, N(ctx, SQLN_ISNULL, "{1} IS NOT NULL", 1, $1)); }
  | column_ref IS NULL      { MK($$, N(ctx, SQLN_ISNULL, "{1} IS NULL", 1, $1)); }
  | value IS NOT NULL       { MK($$, N(ctx, SQLN_ISNULL, "{1} IS NOT NULL", 1, $1)); }
  | value IS NULL           { MK($$, N(ctx, SQLN_ISNULL, "{1} IS NULL", 1, $1)); }
  ;

in_predicate
  : expr NOT IN subquery              { MK($$, N(ctx, SQLN_IN, "{1} NOT IN {2}", 2, $1, $4)); }
  | expr IN subquery                  { MK($$, N(ctx, SQLN_IN, "{1} IN {2}", 2, $1, $3)); }
  | expr NOT IN '(' value_list ')'    { MK($$, N(ctx, SQLN_IN, "{1} NOT IN ( {2} )", 2, $1, $5)); }
  | expr IN '(' value_list ')'        { MK($$, N(ctx, SQLN_IN, "{1} IN ( {2} )", 2, $1, $4)); }
  ;

value_list
  : value                 { MK($$, N(ctx, SQLN_VALUELIST, "{1}", 1, $1)); }
  | value_list ',' value  { MK($$, N(ctx, SQLN_VALUELIST, "{1}, {2}", 2, $1, $3)); }
  ;

quantified_comparison
  : expr comp_op quantifier subquery
      { MK($$, N(ctx, SQLN_QUANTCMP, "{1} {2} {3} {4}", 4, $1, $2, $3, $4)); }
  ;

quantifier
  : ANY   { MK($$, L(ctx, SQLN_ANYALL, "ANY")); }
  | ALL   { MK($$, L(ctx, SQLN_ANYALL, "ALL")); }
  ;

exists_predicate
  : EXISTS subquery   { MK($$, N(ctx, SQLN_EXISTS, "EXISTS {1}", 1, $2)); }
  ;

subquery
  : '(' SELECT set_quantifier select_list FROM table_list opt_where opt_group_by opt_having ')'
      { MK($$, N(ctx, SQLN_SUBQUERY, "( SELECT {1} {2} FROM {3} {4} {5} {6} )", 6, $3, $4, $6, $7, $8, $9)); }
  ;

expr
  : term                { MK($$, N(ctx, SQLN_ADDEXPR, "{1}", 1, $1)); }
  | expr CONCAT term    { MK($$, N(ctx, SQLN_ADDEXPR, "{1} || {2}", 2, $1, $3)); }
  | expr '+' term       { MK($$, N(ctx, SQLN_ADDEXPR, "{1} + {2}", 2, $1, $3)); }
  | expr '-' term       { MK($$, N(ctx, SQLN_ADDEXPR, "{1} - {2}", 2, $1, $3)); }
  | simple_case         { MK($$, N(ctx, SQLN_ADDEXPR, "{1}", 1, $1)); }
  | searched_case       { MK($$, N(ctx, SQLN_ADDEXPR, "{1}", 1, $1)); }
  ;

term
  : factor              { MK($$, N(ctx, SQLN_MULEXPR, "{1}", 1, $1)); }
  | term '*' factor     { MK($$, N(ctx, SQLN_MULEXPR, "{1} * {2}", 2, $1, $3)); }
  | term '/' factor     { MK($$, N(ctx, SQLN_MULEXPR, "{1} / {2}", 2, $1, $3)); }
  ;

factor
  : primary             { MK($$, N(ctx, SQLN_UNARY, "{1}", 1, $1)); }
  | '+' primary         { MK($$, N(ctx, SQLN_UNARY, "+{1}", 1, $2)); }
  | '-' primary         { MK($$, N(ctx, SQLN_UNARY, "-{1}", 1, $2)); }
  ;

primary
  : column_ref          { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | parameter           { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | literal             { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | function_escape     { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | function_call       { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | aggregate_call      { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | USER                { MK($$, L(ctx, SQLN_PRIMARY, "USER")); }
  | subquery            { MK($$, N(ctx, SQLN_PRIMARY, "{1}", 1, $1)); }
  | '(' expr ')'        { MK($$, N(ctx, SQLN_PRIMARY, "( {1} )", 1, $2)); }
  ;

opt_as
  : %empty  { MK($$, L(ctx, SQLN_AS, "")); }
  | AS      { MK($$, L(ctx, SQLN_AS, "AS")); }
  ;

select_item
  : expr
      { MK($$, N(ctx, SQLN_SELITEM, "{1}", 1, $1)); }
  | expr opt_as column_alias
      { MK($$, N(ctx, SQLN_SELITEM, "{1} {2} {3}", 3, $1, $2, $3)); }
  | IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}", 1, T(ctx, SQLN_TABNAME, $1)))); }
  | IDENT '.' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}.{2}", 2, T(ctx, SQLN_MIDNAME, $1), T(ctx, SQLN_TABNAME, $3)))); }
  | IDENT '.' IDENT '.' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}.{2}.{3}", 3, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_MIDNAME, $3),
               T(ctx, SQLN_TABNAME, $5)))); }
  | IDENT '.' '.' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}..{2}", 2, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_TABLE, $4)))); }
  | IDENT ':' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}:{2}", 2, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_TABLE, $3)))); }
  | IDENT ':' IDENT '.' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}:{2}.{3}", 3, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_MIDNAME, $3),
               T(ctx, SQLN_TABNAME, $5)))); }
  | IDENT '@' IDENT ':' IDENT '.' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}:{2}.{3}", 3,
               N(ctx, SQLN_PREFIXNAME, "{1}@{2}", 2, T(ctx, SQLN_ATNAME, $1), T(ctx, SQLN_ATNAME, $3)),
               T(ctx, SQLN_MIDNAME, $5), T(ctx, SQLN_TABNAME, $7)))); }
  | IDENT '@' IDENT ':' IDENT '.' '*'
      { MK($$, N(ctx, SQLN_SELITEM, "{1}.*", 1,
             N(ctx, SQLN_TABLE, "{1}:{2}", 2,
               N(ctx, SQLN_PREFIXNAME, "{1}@{2}", 2, T(ctx, SQLN_ATNAME, $1), T(ctx, SQLN_ATNAME, $3)),
               T(ctx, SQLN_TABNAME, $5)))); }
  ;

value
  : parameter   { MK($$, N(ctx, SQLN_VALUE, "{1}", 1, $1)); }
  | literal     { MK($$, N(ctx, SQLN_VALUE, "{1}", 1, $1)); }
  | USER        { MK($$, L(ctx, SQLN_VALUE, "USER")); }
  ;

like_pattern
  : parameter   { MK($$, N(ctx, SQLN_PATTERN, "{1}", 1, $1)); }
  | STRING      { MK($$, T(ctx, SQLN_PATTERN, $1)); }
  | USER        { MK($$, L(ctx, SQLN_PATTERN, "USER")); }
  ;

aggregate_call
  : aggregate_name '(' '*' ')'
      { /* only COUNT takes '*' */
        if (!kx::scsql_IsCount($1)) { kx::TREE_Free(&$1, kx::tree_FreeNodeText); SYNTAX_FAIL(); }
        kx::TREE_Free(&$1, kx::tree_FreeNodeText); MK($$, L(ctx, SQLN_AGGREGATE, "COUNT (*)")); }
  | aggregate_name '(' DISTINCT column_ref ')'
      { MK($$, N(ctx, SQLN_AGGREGATE, "{1}( DISTINCT {2} )", 2, $1, $4)); }
  | aggregate_name '(' expr ')'
      { MK($$, N(ctx, SQLN_AGGREGATE, "{1}( {2} )", 2, $1, $3)); }
  ;

literal
  : STRING          { MK($$, T(ctx, SQLN_LITERAL, $1)); }
  | unsigned_int    { MK($$, N(ctx, SQLN_LITERAL, "{1}", 1, $1)); }
  | DECNUM          { MK($$, T(ctx, SQLN_LITERAL, $1)); }
  | FLOATNUM        { MK($$, T(ctx, SQLN_LITERAL, $1)); }
  | bool_char       { MK($$, N(ctx, SQLN_LITERAL, "{1}", 1, $1)); }
  | datetime_escape { MK($$, N(ctx, SQLN_LITERAL, "{1}", 1, $1)); }
  | HEXNUM          { MK($$, T(ctx, SQLN_HEXLIT, $1)); }
  ;

table_name
  : table_ident
      { MK($$, N(ctx, SQLN_TABLE, "{1}", 1, $1)); }
  | IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}.{2}", 2, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_TABNAME, $3))); }
  | IDENT '.' '.' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}..{2}", 2, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_TABNAME, $4))); }
  | IDENT '.' IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}.{2}.{3}", 3, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_MIDNAME, $3),
             T(ctx, SQLN_TABNAME, $5))); }
  | IDENT '@' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}@{2}", 2, T(ctx, SQLN_TABNAME, $1), T(ctx, SQLN_PREFIXNAME, $3))); }
  | IDENT '.' IDENT '@' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}.{2}@{3}", 3, T(ctx, SQLN_MIDNAME, $1), T(ctx, SQLN_TABNAME, $3),
             T(ctx, SQLN_PREFIXNAME, $5))); }
  | IDENT ':' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}:{2}", 2, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_TABNAME, $3))); }
  | IDENT '@' IDENT ':' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}:{2}", 2,
             N(ctx, SQLN_PREFIXNAME, "{1}@{2}", 2, T(ctx, SQLN_ATNAME, $1), T(ctx, SQLN_ATNAME, $3)),
             T(ctx, SQLN_TABNAME, $5))); }
  | IDENT ':' IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}:{2}.{3}", 3, T(ctx, SQLN_PREFIXNAME, $1), T(ctx, SQLN_MIDNAME, $3),
             T(ctx, SQLN_TABNAME, $5))); }
  | IDENT '@' IDENT ':' IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_TABLE, "{1}:{2}.{3}", 3,
             N(ctx, SQLN_PREFIXNAME, "{1}@{2}", 2, T(ctx, SQLN_ATNAME, $1), T(ctx, SQLN_ATNAME, $3)),
             T(ctx, SQLN_MIDNAME, $5), T(ctx, SQLN_TABNAME, $7))); }
  ;

column_ref
  : column_ident
      { MK($$, N(ctx, SQLN_COLREF, "{1}", 1, $1)); }
  | IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_COLREF, "{1}.{2}", 2, T(ctx, SQLN_TABNAME, $1), T(ctx, SQLN_COLNAME, $3))); }
  | IDENT '.' IDENT '.' IDENT
      { MK($$, N(ctx, SQLN_COLREF, "{1}.{2}.{3}", 3, T(ctx, SQLN_MIDNAME, $1), T(ctx, SQLN_TABNAME, $3),
             T(ctx, SQLN_COLNAME, $5))); }
  ;

table_ident      : IDENT     { MK($$, T(ctx, SQLN_TABNAME, $1)); } ;
column_ident     : IDENT     { MK($$, T(ctx, SQLN_COLNAME, $1)); } ;
column_alias     : IDENT     { MK($$, T(ctx, SQLN_COLALIAS, $1)); } ;
cursor_name      : IDENT     { MK($$, T(ctx, SQLN_CURSORNAME, $1)); } ;
parameter        : PARAM     { MK($$, L(ctx, SQLN_PARAM, "?")); } ;
correlation_name : IDENT     { MK($$, T(ctx, SQLN_CORRNAME, $1)); } ;
unsigned_int     : INTNUM    { MK($$, T(ctx, SQLN_INTLIT, $1)); } ;
comp_op          : COMPOP    { MK($$, T(ctx, SQLN_COMPOP, $1)); } ;
outer_op         : OUTEROP   { MK($$, T(ctx, SQLN_OUTERTYPE, $1)); } ;
aggregate_name   : AGGNAME   { MK($$, T(ctx, SQLN_AGGNAME, $1)); } ;

bool_char
  : '0'   { MK($$, L(ctx, SQLN_BOOLLIT, "0")); }
  | '1'   { MK($$, L(ctx, SQLN_BOOLLIT, "1")); }
  ;

datetime_escape
  : date_escape       { MK($$, N(ctx, SQLN_DTESC, "{1}", 1, $1)); }
  | time_escape       { MK($$, N(ctx, SQLN_DTESC, "{1}", 1, $1)); }
  | timestamp_escape  { MK($$, N(ctx, SQLN_DTESC, "{1}", 1, $1)); }
  ;

date_escape
  : vendor_open date_literal vendor_close   { MK($$, N(ctx, SQLN_DATEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  | brace_open date_literal brace_close     { MK($$, N(ctx, SQLN_DATEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  ;

time_escape
  : vendor_open time_literal vendor_close   { MK($$, N(ctx, SQLN_TIMEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  | brace_open time_literal brace_close     { MK($$, N(ctx, SQLN_TIMEESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  ;

timestamp_escape
  : vendor_open timestamp_literal vendor_close  { MK($$, N(ctx, SQLN_TSESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  | brace_open timestamp_literal brace_close    { MK($$, N(ctx, SQLN_TSESC, "{1}{2} {3}", 3, $1, $2, $3)); }
  ;

date_literal       : DATELIT  { MK($$, T(ctx, SQLN_DATELIT, $1)); } ;
time_literal       : TIMELIT  { MK($$, T(ctx, SQLN_TIMELIT, $1)); } ;
timestamp_literal  : TSLIT    { MK($$, T(ctx, SQLN_TSLIT, $1)); } ;

oj_escape
  : brace_open OJ joined_table brace_close    { MK($$, N(ctx, SQLN_OJESC, "{1}oj {2} {3}", 3, $1, $3, $4)); }
  | vendor_open OJ joined_table vendor_close  { MK($$, N(ctx, SQLN_OJESC, "{1}oj {2} {3}", 3, $1, $3, $4)); }
  ;

function_escape
  : brace_open FN function_call brace_close    { MK($$, N(ctx, SQLN_FNESC, "{1}fn {2} {3}", 3, $1, $3, $4)); }
  | vendor_open FN function_call vendor_close  { MK($$, N(ctx, SQLN_FNESC, "{1}fn {2} {3}", 3, $1, $3, $4)); }
  ;

function_call
  : function_name '(' function_args ')'   { MK($$, N(ctx, SQLN_FNCALL, "{1}( {2} )", 2, $1, $3)); }
  ;

function_name : IDENT  { MK($$, T(ctx, SQLN_FNNAME, $1)); } ;

function_args
  : %empty                    { MK($$, L(ctx, SQLN_FNARGS, "")); }
  | expr                      { MK($$, N(ctx, SQLN_FNARGS, "{1}", 1, $1)); }
  | expr ',' function_args    { MK($$, N(ctx, SQLN_FNARGS, "{1}, {2}", 2, $1, $3)); }
  | expr FROM expr            { MK($$, N(ctx, SQLN_FNARGS, "{1} FROM {2}", 2, $1, $3)); }
  | expr IN expr              { MK($$, N(ctx, SQLN_FNARGS, "{1} IN {2}", 2, $1, $3)); }
  ;

/* Escapes are regenerated in the brace form, with the keyword right after the
 * brace, which every JDBC driver's escape processing accepts. */
brace_open    : LBRACE        { MK($$, L(ctx, SQLN_ESCOPEN, "{")); } ;
brace_close   : RBRACE        { MK($$, L(ctx, SQLN_ESCCLOSE, "}")); } ;
vendor_open   : VENDOR_OPEN   { MK($$, L(ctx, SQLN_ESCOPEN, "{")); } ;
vendor_close  : VENDOR_CLOSE  { MK($$, L(ctx, SQLN_ESCCLOSE, "}")); } ;

simple_case
  : CASE expr simple_when_list END   { MK($$, N(ctx, SQLN_SCASE, "CASE {1} {2} END", 2, $2, $3)); }
  ;

simple_when_list
  : simple_when                    { MK($$, N(ctx, SQLN_SWHENLIST, "{1}", 1, $1)); }
  | simple_when_list simple_when   { MK($$, N(ctx, SQLN_SWHENLIST, "{1} {2}", 2, $1, $2)); }
  ;

simple_when
  : WHEN expr THEN expr   { MK($$, N(ctx, SQLN_SWHEN, "WHEN {1} THEN {2}", 2, $2, $4)); }
  | ELSE expr             { MK($$, N(ctx, SQLN_SWHEN, "ELSE {1}", 1, $2)); }
  ;

searched_case
  : CASE searched_when_list END   { MK($$, N(ctx, SQLN_CASE, "CASE {1} END", 1, $2)); }
  ;

searched_when_list
  : searched_when                      { MK($$, N(ctx, SQLN_WHENLIST, "{1}", 1, $1)); }
  | searched_when_list searched_when   { MK($$, N(ctx, SQLN_WHENLIST, "{1} {2}", 2, $1, $2)); }
  ;

searched_when
  : WHEN condition THEN expr   { MK($$, N(ctx, SQLN_WHEN, "WHEN {1} THEN {2}", 2, $2, $4)); }
  | ELSE expr                  { MK($$, N(ctx, SQLN_WHEN, "ELSE {1}", 1, $2)); }
  ;

%%

static_assert(int{TK_IDENT} == int{kx::SQLT_IDENT} && int{TK_OUTEROP} == int{kx::SQLT_OUTEROP} && int{TK_CONCAT} == int{kx::SQLT_CONCAT} &&
                  int{TK_ALL} == int{kx::SQLT_ALL} && int{TK_ORDER} == int{kx::SQLT_ORDER} && int{TK_OTHERWORD} == int{kx::SQLT_OTHERWORD} &&
                  int{TK_PARAM} == int{kx::SQLT_PARAM} && int{TK_WHEN} == int{kx::SQLT_WHEN} && int{TK_CALL_BRACE} == int{kx::SQLT_CALL_BRACE},
              "token codes of the scanner and the grammar differ");

namespace kx {

int scsql_Parse(SqlParseCtx* ctx, const char* text, size_t len) {
  // One statement at a time in the process.
  std::lock_guard<std::recursive_mutex> guard(scsql_ParserMutex());
  scsql_ParseStart(ctx, text, len);
  if (!scsql_InternBegin(ctx)) {
    scsql_error(ctx, "memory exhausted");
    return 2;
  }
  int rc = scsql_parse(ctx);
  scsql_restart(ctx);
  scsql_InternEnd(ctx);
  if (rc == 0 && !ctx->root) {
    scsql_error(ctx, "syntax error");
    rc = 1;
  }
  if (rc != 0) TREE_Free(&ctx->root, tree_FreeNodeText);
  return rc;
}

}  // namespace kx
