// What a prepared statement describes before it runs, when it runs, and the
// results and counts each execution gives: statements that return rows
// whatever their first word, update counts behind comments, CTEs and
// batches, parameter arrays over statements that return rows, and calls of
// functions and procedures with output parameters of any C type.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Results = RoadTest;
using PgResults = RoadTest;  // PostgreSQL only

SQLSMALLINT NumCols(SQLHSTMT st) {
  SQLSMALLINT n = -1;
  EXPECT_EQ(SQLNumResultCols(st, &n), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, st);
  return n;
}

SQLLEN RowCount(SQLHSTMT st) {
  SQLLEN n = -2;
  EXPECT_EQ(SQLRowCount(st, &n), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, st);
  return n;
}

// Column 1 of every row of the current result, as text.
std::vector<std::string> Column1(SQLHSTMT st) {
  std::vector<std::string> got;
  SQLRETURN rc;
  while ((rc = SQLFetch(st)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    char v[256] = {0};
    SQLLEN ind = 0;
    if (!SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_CHAR, v, sizeof v, &ind))) {
      got.push_back("<GetData failed: " + Diag(SQL_HANDLE_STMT, st) + ">");
      break;
    }
    got.push_back(ind == SQL_NULL_DATA ? "NULL" : v);
  }
  if (rc != SQL_NO_DATA) got.push_back("<Fetch failed: " + Diag(SQL_HANDLE_STMT, st) + ">");
  return got;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// SQLPrepare describes a query without running it: a row stored between the
// prepare and the execution is counted, every execution runs afresh, and a
// sequence read by a query that is prepared but never run keeps its value.
TEST_P(Results, PrepareDescribesAndEveryExecuteRunsAfresh) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("afresh", "id INTEGER");
  Exec("INSERT INTO " + table + " VALUES (1)");
  ResetStmt();
  KX_STMT_OK(Prepare(stmt_, "SELECT COUNT(*) AS n FROM " + table));
  EXPECT_EQ(NumCols(stmt_), 1);
  SQLCHAR name[32] = {0};
  SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  KX_STMT_OK(SQLDescribeColA(stmt_, 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable));
  EXPECT_STRCASEEQ(reinterpret_cast<char*>(name), "n");

  EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(dbc_, "INSERT INTO " + table + " VALUES (2)")));
  KX_STMT_OK(SQLExecute(stmt_));
  EXPECT_EQ(Column1(stmt_), std::vector<std::string>{"2"}) << "the result was made at prepare";
  KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
  EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(dbc_, "INSERT INTO " + table + " VALUES (3)")));
  KX_STMT_OK(SQLExecute(stmt_));
  EXPECT_EQ(Column1(stmt_), std::vector<std::string>{"3"});

  const std::string seq = UniqueName("seq");
  Exec("CREATE SEQUENCE " + seq);
  const std::string next = pg ? "SELECT nextval('" + seq + "')" : "SELECT NEXT VALUE FOR " + seq;
  SQLHSTMT unused = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &unused), SQL_SUCCESS);
  EXPECT_TRUE(SQL_SUCCEEDED(Prepare(unused, next))) << Diag(SQL_HANDLE_STMT, unused);
  EXPECT_EQ(NumCols(unused), 1);
  SQLFreeHandle(SQL_HANDLE_STMT, unused);
  EXPECT_EQ(Scalar(next), "1") << "the prepare consumed the sequence";
  Exec("DROP SEQUENCE " + seq);
}

// Statements that return rows but do not begin with SELECT describe their
// columns after SQLPrepare, and run at SQLExecute.
TEST_P(Results, RowReturningStatementsDescribeAfterPrepare) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("kinds", "id INTEGER");
  Exec("INSERT INTO " + table + " VALUES (7)");
  std::string proc;
  if (pg) {
    proc = UniqueName("inout");
    Exec("CREATE PROCEDURE " + proc + " (INOUT a INTEGER) LANGUAGE plpgsql AS $$ BEGIN a := a * 6; END $$");
  }
  struct Case {
    const char* name;
    std::string sql;
    const char* first;  // column 1 of the first row; nullptr: not checked
  };
  const std::vector<Case> cases = {
      {"cte", "WITH x AS (SELECT 5 AS a) SELECT a FROM x", "5"},
      {"values", "VALUES (4)", "4"},
      {"table", "TABLE " + table, "7"},
      {"show", pg ? "SHOW standard_conforming_strings" : "SHOW TABLES", pg ? "on" : nullptr},
      {"explain", "EXPLAIN SELECT id FROM " + table, nullptr},
      {"call", pg ? "CALL " + proc + "(7)" : "CALL ABS(-42)", "42"},
      {"comment", "/* leading */ SELECT 3", "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetStmt();
    ASSERT_TRUE(SQL_SUCCEEDED(Prepare(stmt_, c.sql))) << c.sql << "\n" << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_GE(NumCols(stmt_), 1);
    SQLCHAR name[64] = {0};
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    EXPECT_TRUE(SQL_SUCCEEDED(
        SQLDescribeColA(stmt_, 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable)))
        << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << Diag(SQL_HANDLE_STMT, stmt_);
    const std::vector<std::string> rows = Column1(stmt_);
    ASSERT_FALSE(rows.empty());
    if (c.first != nullptr) {
      EXPECT_EQ(rows.front(), c.first);
    }
  }
  ResetStmt();
  if (pg) Exec("DROP PROCEDURE " + proc);
}

// SQLRowCount is the update count of every result that is one, whatever
// the statement's first word; a result of rows counts nothing.
TEST_P(Results, RowCountOfEveryUpdateCountResult) {
  const bool pg = GetParam().postgres;
  const std::string t = Table("counts", "id INTEGER PRIMARY KEY, v INTEGER");
  Exec("INSERT INTO " + t + " VALUES (1, 0), (2, 0), (3, 0)");
  struct Case {
    const char* name;
    std::string sql;
    SQLLEN count;
  };
  std::vector<Case> cases = {
      {"comment", "/* c */ UPDATE " + t + " SET v = v + 1 WHERE id <= 2", 2},
      {"line comment", "-- c\nDELETE FROM " + t + " WHERE id = 99", 0},
      {"merge", "MERGE INTO " + t + " USING (SELECT 3 AS id) s ON " + t + ".id = s.id WHEN MATCHED THEN UPDATE SET v = 5", 1},
  };
  if (pg) {
    cases.push_back({"cte", "WITH x AS (SELECT 1 AS one) UPDATE " + t + " SET v = 9 WHERE id IN (SELECT one FROM x)", 1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool prepared : {false, true}) {
      ResetStmt();
      if (prepared) {
        ASSERT_TRUE(SQL_SUCCEEDED(Prepare(stmt_, c.sql))) << Diag(SQL_HANDLE_STMT, stmt_);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << Diag(SQL_HANDLE_STMT, stmt_);
      } else {
        const SQLRETURN rc = ExecDirect(stmt_, c.sql);
        ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
      }
      EXPECT_EQ(RowCount(stmt_), c.count) << (prepared ? "prepared" : "direct");
      EXPECT_EQ(NumCols(stmt_), 0);
    }
  }
  // A query counts nothing.
  Exec("SELECT id FROM " + t);
  EXPECT_EQ(RowCount(stmt_), -1);
}

// PostgreSQL batches: each result of a batch describes itself, an update
// count has no columns and counts its rows, whichever statement comes first.
TEST_P(PgResults, BatchResultsDescribeThemselves) {
  const std::string t = Table("batch", "id INTEGER PRIMARY KEY, v INTEGER");
  Exec("INSERT INTO " + t + " VALUES (1, 0), (2, 0)");
  for (bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "direct");
    const std::string sql = "INSERT INTO " + t + " VALUES (" + std::string(prepared ? "8" : "9") +
                            ", 0); SELECT id FROM " + t + " WHERE id > 7; UPDATE " + t + " SET v = 1";
    ResetStmt();
    if (prepared) {
      ASSERT_TRUE(SQL_SUCCEEDED(Prepare(stmt_, sql))) << Diag(SQL_HANDLE_STMT, stmt_);
      ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << Diag(SQL_HANDLE_STMT, stmt_);
    } else {
      ASSERT_TRUE(SQL_SUCCEEDED(ExecDirect(stmt_, sql))) << Diag(SQL_HANDLE_STMT, stmt_);
    }
    EXPECT_EQ(NumCols(stmt_), 0) << "the INSERT's result described the SELECT";
    EXPECT_EQ(RowCount(stmt_), 1);
    ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(NumCols(stmt_), 1);
    EXPECT_FALSE(Column1(stmt_).empty());
    ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(NumCols(stmt_), 0);
    EXPECT_EQ(RowCount(stmt_), prepared ? 4 : 3);
    EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  }
}

// A parameter array over a statement that returns rows gives one result
// per parameter row through SQLMoreResults, as SQL_PAS_BATCH promises,
// counts each processed row, and each data change reports its own row.
TEST_P(Results, ParameterArraysGiveOneResultPerRow) {
  const bool pg = GetParam().postgres;
  EXPECT_EQ(InfoU32(SQL_PARAM_ARRAY_SELECTS), static_cast<SQLUINTEGER>(SQL_PAS_BATCH));
  const std::string t = Table("perrow", "id INTEGER PRIMARY KEY, v VARCHAR(10)");
  Exec("INSERT INTO " + t + " VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e'), (6, 'f')");
  constexpr SQLULEN kRows = 5;
  SQLINTEGER ids[kRows] = {1, 2, 3, 4, 5};
  SQLLEN lens[kRows] = {0, 0, 0, 0, 0};
  SQLULEN processed = 0;
  // However the test ends, the statement keeps no pointer into this frame.
  struct Unbind {
    SQLHSTMT st;
    ~Unbind() {
      SQLFreeStmt(st, SQL_CLOSE);
      SQLFreeStmt(st, SQL_RESET_PARAMS);
      SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
      SQLSetStmtAttr(st, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    }
  } unbind{stmt_};
  // A query behind a CTE on both databases; PostgreSQL also deletes with
  // RETURNING.
  std::vector<std::string> statements = {"WITH x AS (SELECT id, v FROM " + t + ") SELECT v FROM x WHERE id = ?"};
  if (pg) statements.push_back("DELETE FROM " + t + " WHERE id = ? RETURNING v");
  for (const std::string& sql : statements) {
    SCOPED_TRACE(sql);
    ResetStmt();
    Attr(stmt_, SQL_ATTR_PARAMSET_SIZE, kRows);
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids, 0, lens));
    KX_STMT_OK(Prepare(stmt_, sql));
    KX_STMT_OK(SQLExecute(stmt_));
    std::vector<std::string> got;
    std::vector<SQLULEN> counted;
    std::vector<SQLLEN> changed;
    for (;;) {
      changed.push_back(RowCount(stmt_));
      const std::vector<std::string> rows = Column1(stmt_);
      ASSERT_EQ(rows.size(), 1u);
      got.push_back(rows.front());
      counted.push_back(processed);
      const SQLRETURN rc = SQLMoreResults(stmt_);
      if (rc == SQL_NO_DATA) break;
      ASSERT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt_);
      ASSERT_LE(got.size(), kRows);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(counted, (std::vector<SQLULEN>{1, 2, 3, 4, 5}));
    // Each row's DELETE reports its row before its result is read; a query
    // counts nothing.
    const SQLLEN each = sql.rfind("DELETE", 0) == 0 ? 1 : -1;
    EXPECT_EQ(changed, std::vector<SQLLEN>(kRows, each));
    Attr(stmt_, SQL_ATTR_PARAMSET_SIZE, 1);
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0));
  }
  if (pg) {
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), "1");
    // Results closed after the first: every row still makes its change.
    Exec("INSERT INTO " + t + " VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e')");
    ResetStmt();
    Attr(stmt_, SQL_ATTR_PARAMSET_SIZE, kRows);
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids, 0, lens));
    KX_STMT_OK(Prepare(stmt_, "DELETE FROM " + t + " WHERE id = ? RETURNING v"));
    KX_STMT_OK(SQLExecute(stmt_));
    KX_STMT_OK(SQLCloseCursor(stmt_));
    Attr(stmt_, SQL_ATTR_PARAMSET_SIZE, 1);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), "1");
  }
}

INSTANTIATE_TEST_SUITE_P(Road, Results, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

// A prepared query that sleeps does not sleep at prepare, and the query
// timeout set after the prepare stops its execution.
TEST_P(PgResults, PrepareDoesNotRunAndLaterTimeoutHolds) {
  ResetStmt();
  auto start = std::chrono::steady_clock::now();
  KX_STMT_OK(Prepare(stmt_, "SELECT pg_sleep(3)"));
  EXPECT_LT(Seconds(start), 2.0) << "SQLPrepare ran the query";
  Attr(stmt_, SQL_ATTR_QUERY_TIMEOUT, 1);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HYT00") << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_LT(Seconds(start), 2.8);
  Attr(stmt_, SQL_ATTR_QUERY_TIMEOUT, 0);
}

// INSERT, UPDATE and DELETE with RETURNING report the rows they changed
// right after SQLExecute or SQLExecDirect, before any row is read, and still
// after; their rows come whole. In autocommit and inside a transaction, past
// the executions after which the JDBC driver prepares on the server, and
// through a static cursor.
TEST_P(PgResults, ReturningCountsChangedRowsAtExecute) {
  const std::string t = Table("returning", "id INTEGER PRIMARY KEY, v NUMERIC(12,3)");
  struct Case {
    std::string sql;
    SQLLEN changed;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"INSERT INTO " + t + " VALUES (4, 0.5) RETURNING id", 1, {"4"}},
      {"UPDATE " + t + " SET v = v + 1 WHERE id <= 3 RETURNING v", 3, {"1.250", "2.250", "3.250"}},
      {"WITH k AS (SELECT 2 AS lim) UPDATE " + t + " SET v = v - 1 FROM k WHERE id <= k.lim RETURNING id", 2,
       {"1", "2"}},
      {"DELETE FROM " + t + " WHERE id >= 3 RETURNING id, v", 2, {"3", "4"}},
      {"DELETE FROM " + t + " WHERE id > 100 RETURNING id", 0, {}},
  };
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  for (bool transaction : {false, true}) {
    for (SQLULEN cursor : {SQL_CURSOR_FORWARD_ONLY, SQL_CURSOR_STATIC, SQL_CURSOR_KEYSET_DRIVEN}) {
      SCOPED_TRACE(std::string(transaction ? "in a transaction" : "autocommit") + ", cursor type " +
                   std::to_string(cursor));
      Exec("DELETE FROM " + t);
      Exec("INSERT INTO " + t + " VALUES (1, 0.25), (2, 1.25), (3, 2.25)");
      // A statement that has not been prepared takes the cursor type.
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
      if (cursor != SQL_CURSOR_FORWARD_ONLY) {
        Attr(stmt_, SQL_ATTR_CURSOR_TYPE, cursor);
        SQLULEN type = 0;
        KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
        ASSERT_EQ(type, cursor);
      }
      if (transaction) {
        KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_HANDLE_DBC, dbc_);
      }
      for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        ResetStmt();
        KX_STMT_OK(ExecDirect(stmt_, c.sql));
        EXPECT_EQ(RowCount(stmt_), c.changed) << "before any fetch";
        EXPECT_EQ(sorted(Column1(stmt_)), c.rows);
        EXPECT_EQ(RowCount(stmt_), c.changed) << "after the rows";
      }
      // A prepared change run more times than the JDBC driver runs a
      // statement before it prepares it on the server.
      ResetStmt();
      SQLINTEGER id = 0;
      SQLLEN idLen = 0;
      KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id, 0, &idLen));
      KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + t + " VALUES (?, 7.125) RETURNING id, v"));
      for (id = 10; id < 18; ++id) {
        SCOPED_TRACE(id);
        KX_STMT_OK(SQLExecute(stmt_));
        EXPECT_EQ(RowCount(stmt_), 1);
        KX_STMT_OK(SQLFetch(stmt_));
        SQLINTEGER gotId = 0;
        char v[32] = {0};
        SQLLEN ind = 0;
        KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &gotId, 0, &ind));
        KX_STMT_OK(SQLGetData(stmt_, 2, SQL_C_CHAR, v, sizeof v, &ind));
        EXPECT_EQ(gotId, id);
        EXPECT_STREQ(v, "7.125");
        EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
        EXPECT_EQ(RowCount(stmt_), 1);
        KX_STMT_OK(SQLFreeStmt(stmt_, SQL_CLOSE));
      }
      ResetStmt();
      if (transaction) {
        KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_);
        KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
              SQL_HANDLE_DBC, dbc_);
      }
      EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), "10");
    }
  }
}

// {call f(?)} calls a function with SELECT and a procedure with CALL, also
// inside a transaction; {? = call f(?)} returns the value.
TEST_P(PgResults, CallEscapeOfFunctionsAndProcedures) {
  const std::string fn = UniqueName("fn");
  Exec("CREATE FUNCTION " + fn + " (x INTEGER) RETURNS INTEGER LANGUAGE sql AS $$ SELECT x * 2 $$");
  char text[8] = "abcd";
  SQLLEN textLen = SQL_NTS;
  SQLINTEGER x = 21;
  SQLLEN xLen = 0;
  for (bool transaction : {false, true}) {
    SCOPED_TRACE(transaction ? "in a transaction" : "autocommit");
    if (transaction) {
      KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_HANDLE_DBC, dbc_);
    }
    ResetStmt();
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 0, &textLen));
    KX_STMT_OK(Prepare(stmt_, "{call length(?)}"));
    KX_STMT_OK(SQLExecute(stmt_));
    EXPECT_EQ(Column1(stmt_), std::vector<std::string>{"4"});
    ResetStmt();
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &x, 0, &xLen));
    KX_STMT_OK(ExecDirect(stmt_, "{call " + fn + "(?)}"));
    EXPECT_EQ(Column1(stmt_), std::vector<std::string>{"42"});
    if (transaction) {
      EXPECT_EQ(Scalar("SELECT 1"), "1") << "the transaction was aborted";
      KX_OK(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_);
      KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
            SQL_HANDLE_DBC, dbc_);
    }
  }
  ResetStmt();
  SQLINTEGER ret = 0;
  SQLLEN retLen = 0;
  KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &ret, 0, &retLen));
  KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &x, 0, &xLen));
  KX_STMT_OK(ExecDirect(stmt_, "{? = call " + fn + "(?)}"));
  EXPECT_EQ(ret, 42);
  ResetStmt();
  Exec("DROP FUNCTION " + fn);
}

// Output and input-output parameters bound to text buffers while declared
// as numbers: the value is read as the declared type and converted to the
// bound C type.
TEST_P(PgResults, OutputParametersIntoTextBuffers) {
  const std::string proc = UniqueName("twice");
  Exec("CREATE PROCEDURE " + proc + " (IN a INTEGER, INOUT b INTEGER) LANGUAGE plpgsql AS $$ BEGIN b := a * 2 + b; END $$");
  char text[8] = "abc";
  SQLLEN textLen = SQL_NTS;
  // The function's integer into text, declared as an integer and as text.
  for (SQLSMALLINT declared : {SQL_INTEGER, SQL_VARCHAR}) {
    SCOPED_TRACE(declared);
    for (bool prepared : {false, true}) {
      ResetStmt();
      char ret[16] = {0};
      SQLLEN retLen = 0;
      KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, declared, 10, 0, ret, sizeof ret, &retLen));
      KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 0, &textLen));
      SQLRETURN rc = SQL_ERROR;
      if (prepared) {
        KX_STMT_OK(Prepare(stmt_, "{? = call length(?)}"));
        rc = SQLExecute(stmt_);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
        std::memset(ret, 0, sizeof ret);
        rc = SQLExecute(stmt_);  // again, with the type learnt
      } else {
        rc = ExecDirect(stmt_, "{? = call length(?)}");
      }
      EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      EXPECT_STREQ(ret, "3");
      EXPECT_EQ(retLen, 1);
    }
  }
  // The procedure's integer argument in and out of text, declared as an
  // integer and as text.
  for (SQLSMALLINT declared : {SQL_INTEGER, SQL_VARCHAR}) {
    SCOPED_TRACE(declared);
    for (bool prepared : {false, true}) {
      ResetStmt();
      SQLINTEGER a = 20;
      SQLLEN aLen = 0;
      char b[16] = "2";
      SQLLEN bLen = SQL_NTS;
      KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &a, 0, &aLen));
      KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, declared, 10, 0, b, sizeof b, &bLen));
      const std::string call = "{call " + proc + "(?, ?)}";
      SQLRETURN rc = SQL_ERROR;
      if (prepared) {
        KX_STMT_OK(Prepare(stmt_, call));
        rc = SQLExecute(stmt_);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_STREQ(b, "42");
        std::strcpy(b, "1");
        bLen = SQL_NTS;
        rc = SQLExecute(stmt_);  // again, with the type learnt
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_STREQ(b, "41");
      } else {
        rc = ExecDirect(stmt_, call);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
        EXPECT_STREQ(b, "42");
      }
      EXPECT_EQ(bLen, 2);
    }
  }
  ResetStmt();
  Exec("DROP PROCEDURE " + proc);
}

INSTANTIATE_TEST_SUITE_P(Road, PgResults, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
