// Statement text translation and classification of the JDBC agent.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "drv_jdbc/text/j_parse_sql.h"
#include "util/errcodes.h"

namespace kx {
namespace {

// "null" followed by blanks up to width: what a null escape of that many
// characters becomes in the text for Java.
std::string Null(size_t width) { return "null" + std::string(width - 4, ' '); }

struct Parsed {
  ParsedSql rec{};
  int rc = 0;
  explicit Parsed(const char* sql) { rc = JDB_ParseSql(&rec, sql); }
  ~Parsed() { JDB_ParsedSqlFree(&rec); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;
};

struct Case {
  const char* name;
  std::string sql;
  std::string text;        // for Java
  uint16_t count;          // markers
  uint16_t flags;          // PSQL_* flags
  uint16_t kind;
  std::string translated;  // analysis text
};

constexpr uint16_t OUT = PSQL_MARKERS_OUTSIDE;
constexpr uint16_t CALL = PSQL_CALL;
constexpr uint16_t LOCK = PSQL_LOCKS_ROWS;
constexpr uint16_t ROWS = PSQL_ROWS_KEYWORD;
constexpr uint16_t SEV = PSQL_SEVERAL;
constexpr uint16_t CHG = PSQL_CHANGES_DATA;
constexpr uint16_t DDL = PSQL_CHANGES_SCHEMA;
constexpr uint16_t SEL = PSQL_KIND_SELECT;
constexpr uint16_t DML = PSQL_KIND_DML;
constexpr uint16_t OTH = PSQL_KIND_OTHER;

const Case kCases[] = {
    // Leading white space, markers outside escapes, classification.
    {"leading blanks", "  SELECT a FROM t WHERE b = ?", "SELECT a FROM t WHERE b = ?", 1, OUT, SEL,
     "SELECT a FROM t WHERE b = :1"},
    {"leading controls", " \t\r\n SELECT 1", "SELECT 1", 0, 0, SEL, "SELECT 1"},
    {"parenthesised select", "(SELECT a FROM t) UNION (SELECT b FROM u)",
     "(SELECT a FROM t) UNION (SELECT b FROM u)", 0, 0, SEL,
     "(SELECT a FROM t) UNION (SELECT b FROM u)"},
    {"parenthesised insert", "(INSERT INTO t VALUES (1))", "(INSERT INTO t VALUES (1))", 0, 0, OTH,
     "(INSERT INTO t VALUES (1))"},
    {"tab after keyword", "select\ta from t", "select\ta from t", 0, 0, SEL, "select a from t"},
    {"keyword not whole", "SELECT*FROM t", "SELECT*FROM t", 0, ROWS, OTH, "SELECT*FROM t"},
    {"insert", "insert into t values(?)", "insert into t values(?)", 1, OUT | CHG, DML,
     "insert into t values(:1)"},
    {"delete", "DELETE FROM t", "DELETE FROM t", 0, CHG, DML, "DELETE FROM t"},
    {"update", "Update t set a=?, b=?", "Update t set a=?, b=?", 2, OUT | CHG, DML,
     "Update t set a=:1, b=:2"},
    {"empty", "", "", 0, 0, OTH, ""},
    // Statements that return rows without being classified a SELECT; words
    // that only begin with such a keyword, or data changes, are not.
    {"cte", "WITH x AS (SELECT 1) SELECT * FROM x", "WITH x AS (SELECT 1) SELECT * FROM x", 0, ROWS, OTH,
     "WITH x AS (SELECT 1) SELECT * FROM x"},
    {"values", "values(1)", "values(1)", 0, ROWS, OTH, "values(1)"},
    {"table", "TABLE t", "TABLE t", 0, ROWS, OTH, "TABLE t"},
    {"show", "SHOW search_path", "SHOW search_path", 0, ROWS, OTH, "SHOW search_path"},
    {"explain", "explain SELECT 1", "explain SELECT 1", 0, ROWS, OTH, "explain SELECT 1"},
    {"plain call", "CALL p(?)", "CALL p(?)", 1, OUT | ROWS, OTH, "CALL p(:1)"},
    {"select behind comments", "/* a */ -- b\n ( SELECT 1)", "/* a */ -- b\n ( SELECT 1)", 0, ROWS, OTH,
     "/* a */ -- b\n ( SELECT 1)"},
    {"tables word", "TABLESPACE x", "TABLESPACE x", 0, 0, OTH, "TABLESPACE x"},
    {"create table", "CREATE TABLE t (a INT)", "CREATE TABLE t (a INT)", 0, DDL, OTH, "CREATE TABLE t (a INT)"},
    // A schema change by its first word, past comments; not a word that
    // only begins with one, nor one later in the text.
    {"alter behind comment", "/* up */ alter table t add b int", "/* up */ alter table t add b int", 0, DDL, OTH,
     "/* up */ alter table t add b int"},
    {"drop", "DROP VIEW v", "DROP VIEW v", 0, DDL, OTH, "DROP VIEW v"},
    {"word that begins with drop", "DROPPED", "DROPPED", 0, 0, OTH, "DROPPED"},
    {"drop later in the text", "SELECT 'drop' FROM t", "SELECT 'drop' FROM t", 0, 0, SEL, "SELECT 'drop' FROM t"},
    // A data change behind a WITH list is one; a query whose named queries
    // change data is not (its rows are not bounded by the change).
    {"cte update", "WITH k(n) AS NOT MATERIALIZED (SELECT ')' /* ( */), j AS (SELECT 2) UPDATE t SET a = 1",
     "WITH k(n) AS NOT MATERIALIZED (SELECT ')' /* ( */), j AS (SELECT 2) UPDATE t SET a = 1", 0, ROWS | CHG,
     OTH, "WITH k(n) AS NOT MATERIALIZED (SELECT ')' /* ( */), j AS (SELECT 2) UPDATE t SET a = 1"},
    {"cte insert", "with recursive r as (select 1) insert into t select * from r returning a",
     "with recursive r as (select 1) insert into t select * from r returning a", 0, ROWS | CHG, OTH,
     "with recursive r as (select 1) insert into t select * from r returning a"},
    {"cte over a change", "WITH d AS (DELETE FROM t RETURNING a) SELECT * FROM d",
     "WITH d AS (DELETE FROM t RETURNING a) SELECT * FROM d", 0, ROWS, OTH,
     "WITH d AS (DELETE FROM t RETURNING a) SELECT * FROM d"},
    {"change behind comment", "/* x */ DELETE FROM t", "/* x */ DELETE FROM t", 0, CHG, OTH,
     "/* x */ DELETE FROM t"},

    // Procedure calls.
    {"call", "{call p(?, ?)}", "{call p(?, ?)}", 2, CALL, OTH, "p(:1, :2)"},
    {"call with return", "{?=call p(?)}", "{?=call p(?)}", 2, CALL, OTH, ":1:=p(:2)"},
    {"call with return, spaced", "{? = call p(?, ?)}", "{? = call p(?, ?)}", 3, CALL, OTH,
     ":1 := p(:2, :3)"},
    {"call without arguments", "{?=call p}", "{?=call p}", 1, CALL, OTH, ":1:=p"},
    {"call, line break after CALL", "{?=CALL\np(?)}", "{?=CALL\np(?)}", 2, CALL, OTH, ":1:=p(:2)"},
    {"call keyword not whole", "{callp(?)}", "{callp(?)}", 1, 0, OTH, ""},
    {"marker then call", "{call p(?)} AND ?", "{call p(?)} AND ?", 2, CALL | OUT, OTH,
     "p(:1) AND :2"},

    // Escapes that contribute nothing; nesting; numbering across escapes.
    {"date escape", "SELECT {d '2020-01-01'} FROM t", "SELECT {d '2020-01-01'} FROM t", 0, 0,
     SEL, "SELECT  FROM t"},
    {"nested escapes", "SELECT {fn ucase({fn lcase(?)})}, ? FROM t",
     "SELECT {fn ucase({fn lcase(?)})}, ? FROM t", 2, OUT, SEL, "SELECT , :2 FROM t"},
    {"escape inside call", "{call p({fn ucase(?)}, ?)}", "{call p({fn ucase(?)}, ?)}", 2, CALL,
     OTH, "p(, :2)"},
    {"stray closers", "SELECT a } --*) b", "SELECT a } --*) b", 0, 0, SEL, "SELECT a } --*) b"},
    {"markers only inside escapes", "SELECT {fn ucase(?)} FROM t WHERE a = {fn lcase(?)}",
     "SELECT {fn ucase(?)} FROM t WHERE a = {fn lcase(?)}", 2, 0, SEL, "SELECT  FROM t WHERE a = "},

    // White space after the opening brace is ODBC's; JDBC drivers want none.
    {"blanks after brace", "SELECT { fn ucase('a')}, {  ts '2001-02-03 04:05:06' }, a FROM t WHERE b LIKE 'x!_' { ESCAPE '!' }",
     "SELECT {fn ucase('a')}, {ts '2001-02-03 04:05:06'}, a FROM t WHERE b LIKE 'x!_' {ESCAPE '!'}", 0, 0,
     SEL, "SELECT , , a FROM t WHERE b LIKE 'x!_' "},
    // Outer-join escapes become their joins, nested ones too.
    {"nested outer joins",
     "SELECT * FROM {oj a LEFT OUTER JOIN {oj b LEFT OUTER JOIN c ON b.x = c.x} ON a.x = b.x} WHERE a.y = ?",
     "SELECT * FROM a LEFT OUTER JOIN b LEFT OUTER JOIN c ON b.x = c.x ON a.x = b.x WHERE a.y = ?", 1, OUT,
     SEL, "SELECT * FROM  WHERE a.y = :1"},
    // CONVERT becomes the database's CAST; an unknown type is left to JDBC.
    {"convert", "SELECT {fn CONVERT(?, SQL_CHAR)}, {fn convert( {fn ucase(a)} , sql_integer )}, {fn CONVERT(a, SQL_NONE)}",
     "SELECT CAST(? AS VARCHAR), CAST({fn ucase(a)} AS INTEGER), {fn CONVERT(a, SQL_NONE)}", 1, 0, SEL,
     "SELECT , , "},

    // The null escapes: overwritten in the Java text, same length.
    {"fn null", "UPDATE t SET a = {fn null} WHERE b = ?",
     "UPDATE t SET a = " + Null(9) + " WHERE b = ?", 1, OUT | CHG, DML,
     "UPDATE t SET a =  WHERE b = :1"},
    {"null escape forms", "SELECT { fn (null) }, {fn ()}, {FN null()}, {fn NULL}, {fn ucase(x)}",
     "SELECT " + Null(13) + ", " + Null(7) + ", " + Null(11) + ", {fn NULL}, {fn ucase(x)}", 0, 0,
     SEL, "SELECT , , , , "},
    {"null escape nested", "SELECT {fn ifnull(a, {fn null})} FROM t",
     "SELECT {fn ifnull(a, " + Null(9) + ")} FROM t", 0, 0, SEL, "SELECT  FROM t"},

    // Quoted strings, quoted identifiers and comments are literal.
    {"doubled quote", "SELECT 'a?''b' FROM t", "SELECT 'a?''b' FROM t", 0, 0, SEL,
     "SELECT 'a?''b' FROM t"},
    {"literals keep null escapes", "SELECT \"{fn null}?\" FROM t WHERE x = '{fn null}' AND y = ?",
     "SELECT \"{fn null}?\" FROM t WHERE x = '{fn null}' AND y = ?", 1, OUT, SEL,
     "SELECT \"{fn null}?\" FROM t WHERE x = '{fn null}' AND y = :1"},
    {"quote inside escape", "SELECT {fn concat('}?', ?)}, ? FROM t",
     "SELECT {fn concat('}?', ?)}, ? FROM t", 2, OUT, SEL, "SELECT , :2 FROM t"},
    {"comments", "SELECT a -- b = ? {\nFROM t /* {fn null} ? */ WHERE c = {fn null}",
     "SELECT a -- b = ? {\nFROM t /* {fn null} ? */ WHERE c = " + Null(9), 0, 0, SEL,
     "SELECT a -- b = ? {\nFROM t /* {fn null} ? */ WHERE c = "},
    {"dollar quotes", "SELECT $$a?'b$$, $t$ ? $$ {fn x} $t$ FROM t WHERE a = ?",
     "SELECT $$a?'b$$, $t$ ? $$ {fn x} $t$ FROM t WHERE a = ?", 1, OUT, SEL,
     "SELECT $$a?'b$$, $t$ ? $$ {fn x} $t$ FROM t WHERE a = :1"},
    {"dollar not a quote", "SELECT a$b$ FROM t WHERE c = $1 AND d = ? AND e = $x$?",
     "SELECT a$b$ FROM t WHERE c = $1 AND d = ? AND e = $x$?", 2, OUT, SEL,
     "SELECT a$b$ FROM t WHERE c = $1 AND d = :1 AND e = $x$:2"},
    {"unterminated quote", "SELECT 'abc?", "SELECT 'abc?", 0, 0, SEL, "SELECT 'abc?"},
    {"unterminated block comment", "SELECT 1 /* ?", "SELECT 1 /* ?", 0, 0, SEL, "SELECT 1 /* ?"},
    // Block comments nest: what the inner one closes is still comment.
    // Java gets it flat, so that no scanner there ends it early.
    {"nested block comments", "SELECT /* a /* b */ ? { */ 1, ?", "SELECT /* a  * b *  ? { */ 1, ?", 1, OUT,
     SEL, "SELECT /* a /* b */ ? { */ 1, :1"},
    {"flat comment stays", "SELECT /*+ x / y */ 1", "SELECT /*+ x / y */ 1", 0, 0, SEL, "SELECT /*+ x / y */ 1"},
    {"comment nesting at its edges", "SELECT /*/* a */*/ 1", "SELECT /* * a * */ 1", 0, 0, SEL,
     "SELECT /*/* a */*/ 1"},
    {"unterminated nested comment", "SELECT /* a /* b */ ?", "SELECT /* a /* b */ ?", 0, 0, SEL,
     "SELECT /* a /* b */ ?"},
    // PostgreSQL's E'' string: a backslash keeps the quote inside.
    {"escape string", "SELECT E'it\\'s ?', e'\\\\', ? FROM t", "SELECT E'it\\'s ?', e'\\\\', ? FROM t", 1, OUT,
     SEL, "SELECT E'it\\'s ?', e'\\\\', :1 FROM t"},
    {"E ending a name", "SELECT typE'a?', ?", "SELECT typE'a?', ?", 1, OUT, SEL, "SELECT typE'a?', :1"},

    // Statement separators and control characters.
    {"trailing semicolon", "SELECT a FROM t;  ", "SELECT a FROM t;  ", 0, 0, SEL,
     "SELECT a FROM t"},
    {"two statements", "SELECT 1; SELECT 2", "SELECT 1; SELECT 2", 0, SEV, SEL,
     "SELECT 1;\nSELECT 2"},
    {"marker after semicolon", "UPDATE t SET a = 1;?", "UPDATE t SET a = 1;?", 1, OUT | SEV | CHG, DML,
     "UPDATE t SET a = 1;\n:1"},
    {"quote after semicolon", "SELECT 1; 'a;b'", "SELECT 1; 'a;b'", 0, SEV, SEL,
     "SELECT 1;\n'a;b'"},
    {"control characters", "SELECT a,\x01" "b\r\nFROM\tt", "SELECT a,\x01" "b\r\nFROM\tt", 0, 0,
     SEL, "SELECT a, b\n\nFROM t"},
    {"control character after keyword", "SELECT\x01" "a", "SELECT\x01" "a", 0, 0, OTH,
     "SELECT a"},
    {"high bytes", "SELECT '\xc3\xa9', \xc3\xa9 FROM t", "SELECT '\xc3\xa9', \xc3\xa9 FROM t", 0, 0,
     SEL, "SELECT '\xc3\xa9', \xc3\xa9 FROM t"},

    // The comment form of an escape goes to Java as the brace form.
    {"vendor comment call", "--*(Vendor(x),Product(y),call p(?)--*)", "{call p(?)}", 1, CALL, OTH,
     "p(:1)"},
    {"vendor comment, spaced", "SELECT --*(vendor(Microsoft), product(ODBC), fn null --*), ?",
     "SELECT " + Null(10) + ", ?", 1, OUT, SEL, "SELECT , :1"},
    {"comment escape without vendor", "--*(call p(?)--*)", "{call p(?)}", 1, CALL, OTH, "p(:1)"},
    {"vendor with one comma", "--*(Vendor(x), call p--*)", "{Vendor(x), call p}", 0, 0, OTH, ""},
    {"vendor commas inside a literal", "--*(Vendor('a,b'), call p--*)",
     "{Vendor('a,b'), call p}", 0, 0, OTH, ""},
    {"comment escape inside brace", "{call p(--*(fn ucase(?)--*))}", "{call p({fn ucase(?)})}", 1,
     CALL, OTH, "p()"},
    {"comment escape inside literal", "SELECT '--*(fn x--*)'", "SELECT '--*(fn x--*)'", 0, 0, SEL,
     "SELECT '--*(fn x--*)'"},

    // Row locks, in every spelling; the words inside literals and comments,
    // or apart, are none.
    {"for update", "SELECT a FROM t FOR UPDATE", "SELECT a FROM t FOR UPDATE", 0, LOCK, SEL,
     "SELECT a FROM t FOR UPDATE"},
    {"for share, lower case", "select a from t for\n share of t", "select a from t for\n share of t", 0,
     LOCK, SEL, "select a from t for\n share of t"},
    {"for no key update", "SELECT a FROM t FOR NO KEY UPDATE SKIP LOCKED",
     "SELECT a FROM t FOR NO KEY UPDATE SKIP LOCKED", 0, LOCK, SEL,
     "SELECT a FROM t FOR NO KEY UPDATE SKIP LOCKED"},
    {"for key share", "SELECT a FROM t FOR KEY SHARE", "SELECT a FROM t FOR KEY SHARE", 0, LOCK, SEL,
     "SELECT a FROM t FOR KEY SHARE"},
    {"for read only", "SELECT a FROM t FOR READ ONLY", "SELECT a FROM t FOR READ ONLY", 0, 0, SEL,
     "SELECT a FROM t FOR READ ONLY"},
    {"lock words in a literal", "SELECT 'for update' FROM t", "SELECT 'for update' FROM t", 0, 0, SEL,
     "SELECT 'for update' FROM t"},
    {"lock words apart", "SELECT for_x, update FROM t", "SELECT for_x, update FROM t", 0, 0, SEL,
     "SELECT for_x, update FROM t"},
};

class ParseSqlCase : public ::testing::TestWithParam<Case> {};

TEST_P(ParseSqlCase, TranslatesAndClassifies) {
  const Case& c = GetParam();
  Parsed p(c.sql.c_str());
  ASSERT_EQ(p.rc, KX_OK);
  ASSERT_NE(p.rec.text, nullptr);
  ASSERT_NE(p.rec.translated, nullptr);
  EXPECT_EQ(std::string(p.rec.text), c.text);
  EXPECT_EQ(p.rec.paramCount, c.count);
  EXPECT_EQ(p.rec.flags, c.flags);
  EXPECT_EQ(p.rec.kind, c.kind);
  EXPECT_EQ(std::string(p.rec.translated), c.translated);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseSqlCase, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

// An open bracket at the end, or nesting beyond the limit, is a syntax error;
// the texts are kept for the statement and the kind stays unclassified.
TEST(ParseSql, SyntaxErrors) {
  struct Bad {
    std::string sql;
    std::string text;
  } cases[] = {
      {"SELECT {fn ucase(a) FROM t", "SELECT {fn ucase(a) FROM t"},
      {"SELECT --*(fn x(a) FROM t", "SELECT --*(fn x(a) FROM t"},
      {"SELECT {fn x('}')", "SELECT {fn x('}')"},  // the quoted brace closes nothing
      {"{--*(x}", "{--*(x}"},                      // a brace does not close a comment escape
      {std::string(PSQL_MAX_NESTING + 1, '{') + std::string(PSQL_MAX_NESTING + 1, '}'),
       std::string(PSQL_MAX_NESTING + 1, '{') + std::string(PSQL_MAX_NESTING + 1, '}')},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(b.sql);
    Parsed p(b.sql.c_str());
    EXPECT_EQ(p.rc, KX_ERR_SYNTAX);
    EXPECT_EQ(p.rec.kind, PSQL_KIND_NONE);
    ASSERT_NE(p.rec.text, nullptr);
    ASSERT_NE(p.rec.translated, nullptr);
    EXPECT_EQ(std::string(p.rec.text), b.text);
  }
}

TEST(ParseSql, NestingUpToTheLimit) {
  std::string braces = "SELECT " + std::string(PSQL_MAX_NESTING, '{') + "fn null" +
                       std::string(PSQL_MAX_NESTING, '}') + ", ?";
  Parsed p(braces.c_str());
  EXPECT_EQ(p.rc, KX_OK);
  EXPECT_EQ(std::string(p.rec.translated), "SELECT , :1");

  std::string mixed;
  for (int i = 0; i < PSQL_MAX_NESTING / 2; ++i) mixed += "{fn f(--*(fn g(";
  mixed += "?";
  for (int i = 0; i < PSQL_MAX_NESTING / 2; ++i) mixed += ")--*))}";
  Parsed q(mixed.c_str());
  EXPECT_EQ(q.rc, KX_OK);
  EXPECT_EQ(q.rec.paramCount, 1);
  EXPECT_EQ(q.rec.flags, 0);
  // Every comment bracket became a brace for Java.
  EXPECT_EQ(std::string(q.rec.text).find("--*"), std::string::npos);
}

// The most markers a statement may hold are numbered; one more, and any
// number far beyond, is refused as too many, never as a syntax error.
TEST(ParseSql, TooManyMarkers) {
  std::string sql = "SELECT ?";
  for (int i = 1; i < KX_MAX_PARAMS; ++i) sql += ",?";
  {
    Parsed p(sql.c_str());
    EXPECT_EQ(p.rc, KX_OK);
    EXPECT_EQ(p.rec.paramCount, KX_MAX_PARAMS);
    EXPECT_NE(std::string(p.rec.translated).find(":" + std::to_string(KX_MAX_PARAMS)), std::string::npos);
  }
  for (int more : {1, 65536 - KX_MAX_PARAMS, 2 * 65536}) {
    std::string longer = sql;
    for (int i = 0; i < more; ++i) longer += ",?";
    Parsed p(longer.c_str());
    EXPECT_EQ(p.rc, KX_ERR_TOO_MANY_PARAMS) << more;
  }
}

TEST(ParseSql, NullTextAndReuse) {
  ParsedSql rec{};
  ASSERT_EQ(JDB_ParseSql(&rec, nullptr), KX_OK);
  EXPECT_STREQ(rec.text, "");
  EXPECT_STREQ(rec.translated, "");
  EXPECT_EQ(rec.kind, PSQL_KIND_OTHER);
  // A second parse on the same record replaces both texts (no leak) and the
  // counts of the first statement.
  ASSERT_EQ(JDB_ParseSql(&rec, "{call p(?)}"), KX_OK);
  ASSERT_EQ(JDB_ParseSql(&rec, "SELECT 1"), KX_OK);
  EXPECT_EQ(rec.paramCount, 0);
  EXPECT_EQ(rec.flags, 0);
  EXPECT_EQ(rec.kind, PSQL_KIND_SELECT);
  JDB_ParsedSqlFree(&rec);
  EXPECT_EQ(rec.text, nullptr);
  EXPECT_EQ(rec.translated, nullptr);
  EXPECT_EQ(rec.kind, 0);
  EXPECT_EQ(JDB_ParseSql(nullptr, "SELECT 1"), KX_ERR_BAD_ARGUMENT);
}

// The escapes resolved for the database: every argument written once and in
// its place, so the markers JDBC numbers are the application's.
TEST(ParseSql, JavaTextForEachDatabase) {
  struct Row {
    int dialect;
    const char* sql;
    const char* text;
  } rows[] = {
      {PSQL_DIALECT_POSTGRES, "SELECT {fn SECOND(?)}", "SELECT CAST(FLOOR(EXTRACT(SECOND FROM ?)) AS INTEGER)"},
      {PSQL_DIALECT_H2, "SELECT {fn SECOND(?)}", "SELECT {fn SECOND(?)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn RIGHT(?, ?)}", "SELECT right(?, ?)"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn LOCATE(?, ?)}", "SELECT {fn LOCATE(?, ?)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn ROUND(?, 1)}, {fn TRUNCATE(a, ?)}, {fn ROUND(a)}",
       "SELECT round(CAST(? AS NUMERIC), 1), trunc(CAST(a AS NUMERIC), ?), {fn ROUND(a)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn INSERT(?, ?, ?, ?)}",
       "SELECT (SELECT overlay(kx_i.a placing kx_i.d from kx_i.b for kx_i.c) FROM (VALUES (CAST(? AS TEXT), "
       "CAST(? AS INTEGER), CAST(? AS INTEGER), CAST(? AS TEXT))) AS kx_i(a, b, c, d))"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn locate('b', ?, 3)}",
       "SELECT (SELECT CASE WHEN kx_q.p > 0 THEN kx_q.p + kx_q.s - 1 ELSE 0 END FROM (SELECT "
       "position(CAST('b' AS TEXT) IN substr(CAST(? AS TEXT), kx_v.s)) AS p, kx_v.s FROM (VALUES (CAST(3 AS "
       "INTEGER))) AS kx_v(s)) AS kx_q)"},
      {PSQL_DIALECT_H2, "SELECT {fn LOCATE(?, ?, 2)}", "SELECT {fn LOCATE(?, ?, 2)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn TIMESTAMPDIFF(SQL_TSI_HOUR, ?, b)}",
       "SELECT CAST(-EXTRACT(EPOCH FROM date_trunc('hour', CAST(? AS TIMESTAMP)) - date_trunc('hour', CAST(b AS "
       "TIMESTAMP))) / 3600 AS BIGINT)"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn TIMESTAMPDIFF(SQL_TSI_QUARTER, a, ?)}",
       "SELECT (SELECT CAST(-(EXTRACT(YEAR FROM kx_g.d) * 12 + EXTRACT(MONTH FROM kx_g.d)) / 3 AS BIGINT) FROM "
       "age(date_trunc('quarter', CAST(a AS TIMESTAMP)), date_trunc('quarter', CAST(? AS TIMESTAMP))) AS "
       "kx_g(d))"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn TIMESTAMPDIFF(SQL_TSI_WEEK, a, b)}",
       "SELECT CAST(-EXTRACT(EPOCH FROM date_trunc('week', CAST(a AS TIMESTAMP) + INTERVAL '1 day') - "
       "date_trunc('week', CAST(b AS TIMESTAMP) + INTERVAL '1 day')) / 604800 AS BIGINT)"},
      {PSQL_DIALECT_H2, "SELECT {fn TIMESTAMPDIFF(SQL_TSI_QUARTER, ?, b)}, {fn TIMESTAMPADD(sql_tsi_day, ?, b)}",
       "SELECT TIMESTAMPDIFF(QUARTER, ?, b), TIMESTAMPADD(DAY, ?, b)"},
      {PSQL_DIALECT_H2, "SELECT {fn TIMESTAMPADD(SQL_TSI_FRAC_SECOND, 1, b)}",
       "SELECT {fn TIMESTAMPADD(SQL_TSI_FRAC_SECOND, 1, b)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn TIMESTAMPDIFF(SQL_TSI_FRAC_SECOND, a, b)}",
       "SELECT {fn TIMESTAMPDIFF(SQL_TSI_FRAC_SECOND, a, b)}"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn CONVERT(a, SQL_LONGVARBINARY)}, {fn CONVERT(a, SQL_TINYINT)}",
       "SELECT CAST(a AS BYTEA), CAST(a AS SMALLINT)"},
      {PSQL_DIALECT_H2, "SELECT {fn CONVERT(a, SQL_DECIMAL)}, {fn CONVERT(a, SQL_TINYINT)}",
       "SELECT CAST(a AS DECFLOAT), CAST(a AS TINYINT)"},
      // Nested escapes are resolved first; unbalanced text is left as it is.
      {PSQL_DIALECT_POSTGRES, "SELECT {fn SECOND({fn CONVERT(?, SQL_TIMESTAMP)})}",
       "SELECT CAST(FLOOR(EXTRACT(SECOND FROM CAST(? AS TIMESTAMP))) AS INTEGER)"},
      {PSQL_DIALECT_POSTGRES, "SELECT {fn null}, { fn ucase('x'", "SELECT null     , { fn ucase('x'"},
      // Date and time escapes around anything but a literal are casts.
      {PSQL_DIALECT_H2, "SELECT {d ?}, { t ? }, {ts a}, {d '2001-02-03'}",
       "SELECT CAST(? AS DATE), CAST(? AS TIME), CAST(a AS TIMESTAMP), {d '2001-02-03'}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.sql);
    char* text = JDB_JavaText(r.sql, r.dialect);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, r.text);
    std::free(text);
  }
  // The prepared text is the same.
  ParsedSql rec{};
  ASSERT_EQ(JDB_ParseSql(&rec, "  SELECT {fn SECOND(?)}", PSQL_DIALECT_POSTGRES), KX_OK);
  EXPECT_STREQ(rec.text, "SELECT CAST(FLOOR(EXTRACT(SECOND FROM ?)) AS INTEGER)");
  EXPECT_EQ(rec.paramCount, 1);
  JDB_ParsedSqlFree(&rec);
}

}  // namespace
}  // namespace kx
