// Other JDBC drivers on the Java VM's class path, as the README offers:
// Debian's SQLite (libxerial-sqlite-jdbc-java) and Derby (libderby-java)
// drivers through both builds: a table made, rows inserted with and without
// parameters through SQLPrepare, read back, and a catalog call.
//
// The class path is an option of the Java VM, which a process starts once:
// each case runs in a process of its own (a death test in the "threadsafe"
// style starts the test program anew for it).
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

struct OtherDriver {
  const char* name;
  const char* jar;
  const char* url;    // the JDBC URL; SQLite's file name follows it
  const char* jvmOpts;  // beside the class path
  bool file;          // the URL names a file, made for the process
};

struct DriverRoad {
  OtherDriver driver;
  const Road* road;
};

void PrintTo(const DriverRoad& r, std::ostream* os) {
  *os << r.driver.name << (r.road->unicode ? "_Unicode" : "_Ansi");
}

// Every failure as text; empty when the whole road works.
std::string RunRoad(const DriverRoad& r) {
  std::string failures;
  auto fail = [&](const std::string& what, SQLSMALLINT type, SQLHANDLE h) {
    failures += what + ": " + Diag(type, h) + "\n";
  };
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  const std::string file = "/tmp/kx_other_" + std::to_string(getpid()) + ".db";
  const std::string url = std::string(r.driver.url) + (r.driver.file ? file : "");
  // The URL in braces of its own: Derby's options follow a ';'.
  std::string cs = std::string("DRIVER={") + r.road->driver + "};URL={URL={" + url + "}};NLB=1";
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, out,
                                      sizeof out, &outLen, SQL_DRIVER_NOPROMPT))) {
    fail("connect " + cs, SQL_HANDLE_DBC, dbc);
    return failures;
  }
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  auto run = [&](const std::string& sql, bool prepare) {
    SQLFreeStmt(st, SQL_CLOSE);
    std::string text = sql;
    SQLRETURN rc;
    if (prepare) {
      rc = SQLPrepare(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
      if (!SQL_SUCCEEDED(rc)) {
        fail("prepare " + sql, SQL_HANDLE_STMT, st);
        return false;
      }
      rc = SQLExecute(st);
    } else {
      rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    }
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      fail("execute " + sql, SQL_HANDLE_STMT, st);
      return false;
    }
    return true;
  };
  const std::string table = "kx_other_" + std::to_string(getpid());
  run("CREATE TABLE " + table + " (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(20))", false);
  // Without parameters, prepared: the prepare of a statement without a
  // result must not fail on the driver's description of one.
  run("INSERT INTO " + table + " VALUES (1, 'one')", true);
  SQLLEN count = -2;
  SQLRowCount(st, &count);
  if (count != 1) failures += "row count of the INSERT: " + std::to_string(count) + "\n";
  // With parameters, a prepared statement executed twice.
  SQLFreeStmt(st, SQL_CLOSE);
  std::string insert = "INSERT INTO " + table + " VALUES (?, ?)";
  if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS))) {
    fail("prepare " + insert, SQL_HANDLE_STMT, st);
  } else {
    SQLINTEGER id = 0;
    char name[16] = {0};
    SQLLEN idLen = 0, nameLen = SQL_NTS;
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id, 0, &idLen);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0, name, sizeof name, &nameLen);
    for (int i = 2; i <= 3; ++i) {
      id = i;
      std::snprintf(name, sizeof name, "%s", i == 2 ? "two" : "three");
      if (!SQL_SUCCEEDED(SQLExecute(st))) fail("execute " + insert, SQL_HANDLE_STMT, st);
    }
    SQLFreeStmt(st, SQL_RESET_PARAMS);
  }
  // Read back through a prepared query, described before it runs.
  SQLFreeStmt(st, SQL_CLOSE);
  std::string query = "SELECT id, name FROM " + table + " ORDER BY id";
  if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(query.data()), SQL_NTS))) {
    fail("prepare " + query, SQL_HANDLE_STMT, st);
  } else {
    if (!SQL_SUCCEEDED(SQLExecute(st))) fail("execute " + query, SQL_HANDLE_STMT, st);
    SQLSMALLINT cols = 0;
    SQLNumResultCols(st, &cols);
    if (cols != 2) failures += "columns of the query: " + std::to_string(cols) + "\n";
    std::string got;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      char name[32] = {0};
      SQLLEN ind = 0;
      SQLGetData(st, 2, SQL_C_CHAR, name, sizeof name, &ind);
      got += std::string(name) + ",";
    }
    if (got != "one,two,three,") failures += "rows read back: " + got + "\n";
  }
  // A catalog call finds the table.
  SQLFreeStmt(st, SQL_CLOSE);
  if (!SQL_SUCCEEDED(SQLTables(st, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
    fail("SQLTables", SQL_HANDLE_STMT, st);
  } else {
    bool found = false;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      char name[128] = {0};
      SQLLEN ind = 0;
      SQLGetData(st, 3, SQL_C_CHAR, name, sizeof name, &ind);
      if (strcasecmp(name, table.c_str()) == 0) found = true;
    }
    if (!found) failures += "SQLTables does not list " + table + "\n";
  }
  run("DROP TABLE " + table, false);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (r.driver.file) unlink(file.c_str());
  return failures;
}

class OtherDrivers : public ::testing::TestWithParam<DriverRoad> {};

TEST_P(OtherDrivers, CreateInsertSelectAndCatalog) {
  const DriverRoad& r = GetParam();
  ASSERT_EQ(access(r.driver.jar, R_OK), 0) << r.driver.jar << " is missing: its Debian package is in "
                                           << "KX_PACKAGES (scripts/lib/common.sh)";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string opts = std::string("-Djava.class.path=") + r.driver.jar + " " + r.driver.jvmOpts;
        setenv("ZNT_JVM_OPTS", opts.c_str(), 1);
        const std::string failures = RunRoad(r);
        std::fputs(failures.c_str(), stderr);
        std::exit(failures.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

std::vector<DriverRoad> AllRoads() {
  static const OtherDriver kDrivers[] = {
      {"SQLite", "/usr/share/java/sqlite-jdbc.jar", "jdbc:sqlite:", "", true},
      {"Derby", "/usr/share/java/derby.jar", "jdbc:derby:memory:kxother;create=true",
       "-Dderby.stream.error.file=/dev/null", false},
  };
  std::vector<DriverRoad> all;
  for (const OtherDriver& d : kDrivers) {
    for (const Road* road : {&kRoads[0], &kRoads[1]}) all.push_back({d, road});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Road, OtherDrivers, ::testing::ValuesIn(AllRoads()),
                         [](const auto& info) {
                           return std::string(info.param.driver.name) + (info.param.road->unicode ? "_Unicode" : "_Ansi");
                         });

}  // namespace
}  // namespace kx::e2e
