// Row versions of dynamic cursors (DYN_CURS_SENSITIVITY=HIGH) through
// unixODBC: with the version table ZNTRVC present a row another connection
// changed shows SQL_ROW_UPDATED once; without it the prepare fails with the
// server's message and IM926; two client processes sharing the table keep
// their versions apart; the cursor's own changes are not reported as others'.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "road.h"

extern char** environ;

namespace kx::e2e {
namespace {

constexpr SQLULEN kRowset = 10;
constexpr const char* kChildEnv = "KX_E2E_ROWVER_TABLE";
const char* const kVersionTable =
    "CREATE TABLE ZNTRVC (HCONN CHAR(24) NOT NULL, HCURS CHAR(8) NOT NULL, KEYVER CHAR(32) NOT NULL, "
    "ROWVER CHAR(32) NOT NULL, PRIMARY KEY (HCONN, HCURS, KEYVER))";

class RowVersions : public RoadTest {
 protected:
  SQLHDBC Versioned() {
    SQLHDBC dbc = SQL_NULL_HDBC;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
    EXPECT_TRUE(SQL_SUCCEEDED(Connect(dbc, "DYN_CURS_SENSITIVITY=HIGH"))) << Diag(SQL_HANDLE_DBC, dbc);
    return dbc;
  }
  SQLHSTMT DynamicStmt(SQLHDBC dbc, SQLUSMALLINT* status, SQLINTEGER* id, char (*name)[41]) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
    SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_DYNAMIC), 0);
    SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0);
    SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0);
    SQLBindCol(st, 1, SQL_C_SLONG, id, 0, nullptr);
    SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name[0], nullptr);
    return st;
  }
  // Every diagnostic record of a handle as its SQLSTATE and message.
  static std::vector<std::pair<std::string, std::string>> Records(SQLSMALLINT type, SQLHANDLE h) {
    std::vector<std::pair<std::string, std::string>> out;
    for (SQLSMALLINT i = 1;; ++i) {
      SQLCHAR state[6] = {0};
      SQLCHAR text[1024] = {0};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &length))) break;
      out.emplace_back(reinterpret_cast<char*>(state), reinterpret_cast<char*>(text));
    }
    return out;
  }
  // Runs this test program again as another client process: the child test
  // below, on the same road and table. Its exit status is its verdict.
  int RunChild(const std::string& table) {
    const std::string filter = "--gtest_filter=Road/RowVersions.OtherProcessKeepsItsOwnVersions/" +
                               std::string(GetParam().name);
    const std::string marker = std::string(kChildEnv) + "=" + table;
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(const_cast<char*>(marker.c_str()));
    env.push_back(nullptr);
    char self[] = "/proc/self/exe";
    std::vector<char*> argv = {self, const_cast<char*>(filter.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_P(RowVersions, ChangedRowsShowUpdatedOnceAndTheTableIsNeeded) {
  const bool pg = GetParam().postgres;
  // The version table is one for the whole database: the PostgreSQL runs of
  // both builds take turns.
  if (pg) Scalar("SELECT pg_advisory_lock(73190)");
  Exec("DROP TABLE IF EXISTS ZNTRVC");
  ResetStmt();
  const std::string table = Table("rowver", "id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40)");
  const std::string series = pg ? "generate_series(1, 30) AS g(x)" : "SYSTEM_RANGE(1, 30)";
  Exec("INSERT INTO " + table + " SELECT x, 'name ' || x FROM " + series);
  ResetStmt();
  const std::string sql = "SELECT id, name FROM " + table + " ORDER BY id";
  SQLHDBC dbc = Versioned();
  SQLUSMALLINT status[kRowset];
  SQLINTEGER id[kRowset];
  char name[kRowset][41];

  // Without the table: the server's complaint, then the hint.
  SQLHSTMT st = DynamicStmt(dbc, status, id, name);
  EXPECT_EQ(Prepare(st, sql), SQL_ERROR);
  const auto records = Records(SQL_HANDLE_STMT, st);
  ASSERT_GE(records.size(), 2u) << Diag(SQL_HANDLE_STMT, st);
  EXPECT_NE(records.front().first, "IM926");
  std::string server = records.front().second;
  for (char& ch : server) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_NE(server.find("ZNTRVC"), std::string::npos) << records.front().second;
  EXPECT_EQ(records.back().first, "IM926");
  EXPECT_NE(records.back().second.find("Check that the table ZNTRVC exists"), std::string::npos);
  SQLFreeHandle(SQL_HANDLE_STMT, st);

  Exec(kVersionTable);
  ResetStmt();
  st = DynamicStmt(dbc, status, id, name);
  KX_OK(Prepare(st, sql), SQL_HANDLE_STMT, st);
  KX_OK(SQLExecute(st), SQL_HANDLE_STMT, st);
  auto expectRowset = [&](int changedId, const std::string& changedName, bool updated = true) {
    for (SQLULEN r = 0; r < kRowset; ++r) {
      SCOPED_TRACE(r);
      EXPECT_EQ(id[r], static_cast<SQLINTEGER>(r + 1));
      const bool changed = id[r] == changedId;
      EXPECT_EQ(status[r], changed && updated ? SQL_ROW_UPDATED : SQL_ROW_SUCCESS);
      EXPECT_EQ(std::string(name[r]), changed ? changedName : "name " + std::to_string(id[r]));
    }
  };
  // First sight: every version stored, every row a plain success.
  KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
  expectRowset(0, "");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ZNTRVC"), "10");
  // Another user changes row 3: updated once, then known again. A change
  // that only moves a character between two values counts as well.
  ExecOther("UPDATE " + table + " SET name = 'changed' WHERE id = 3");
  KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
  expectRowset(3, "changed");
  KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
  expectRowset(3, "changed", false);  // still "changed", now a plain success

  if (pg) {
    // Another client process with its own cursor on the same rows, after
    // row 5 changed: it neither reads this cursor's versions (it would see
    // row 5 updated) nor deletes them (this cursor would miss the change).
    ExecOther("UPDATE " + table + " SET name = 'again' WHERE id = 5");
    EXPECT_EQ(RunChild(table), 0);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ZNTRVC"), "10");  // the child's went with its cursor
    KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
    for (SQLULEN r = 0; r < kRowset; ++r) {
      EXPECT_EQ(status[r], id[r] == 5 ? SQL_ROW_UPDATED : SQL_ROW_SUCCESS) << id[r];
    }
  }
  // A freed cursor leaves no versions behind.
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ZNTRVC"), "0");
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  Exec("DROP TABLE ZNTRVC");
  ResetStmt();
  if (pg) Scalar("SELECT pg_advisory_unlock(73190)");
}

// A dynamic cursor that keeps row versions and changes a row through
// SQLSetPos takes the new values as the row's version: its next fetch shows
// the row it changed as a plain success, while a change by another
// connection still shows SQL_ROW_UPDATED once.
TEST_P(RowVersions, OwnChangesAreNotReportedAsOthers) {
  const bool pg = GetParam().postgres;
  if (pg) Scalar("SELECT pg_advisory_lock(73190)");
  Exec("DROP TABLE IF EXISTS ZNTRVC");
  ResetStmt();
  Exec(kVersionTable);
  ResetStmt();
  const std::string table = Table("rowvown", "id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40)");
  const std::string series = pg ? "generate_series(1, 30) AS g(x)" : "SYSTEM_RANGE(1, 30)";
  Exec("INSERT INTO " + table + " SELECT x, 'name ' || x FROM " + series);
  ResetStmt();
  SQLHDBC dbc = Versioned();
  SQLUSMALLINT status[kRowset];
  SQLINTEGER id[kRowset];
  SQLLEN idInd[kRowset], nameInd[kRowset];
  char name[kRowset][41];
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
  Attr(st, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC);
  Attr(st, SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES);
  Attr(st, SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
  ASSERT_EQ(SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(st, 1, SQL_C_SLONG, id, 0, idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name[0], nameInd), SQL_SUCCESS);
  KX_OK(ExecDirect(st, "SELECT id, name FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
  std::snprintf(name[1], sizeof name[1], "%s", "mine");
  nameInd[1] = SQL_NTS;
  KX_OK(SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, st);
  EXPECT_EQ(status[1], SQL_ROW_UPDATED);
  ExecOther("UPDATE " + table + " SET name = 'theirs' WHERE id = 3");
  KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
  EXPECT_EQ(std::string(name[1]), "mine");
  EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
  EXPECT_EQ(std::string(name[2]), "theirs");
  EXPECT_EQ(status[2], SQL_ROW_UPDATED);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  Exec("DROP TABLE ZNTRVC");
  ResetStmt();
  if (pg) Scalar("SELECT pg_advisory_unlock(73190)");
}

// The version connection opens as the cursor's connection did, its initial
// SQL included: with the version table in a schema of its own that only the
// initial SQL makes current, the cursor finds it and stores its versions
// there.
TEST_P(RowVersions, VersionConnectionRunsTheInitialSql) {
  const bool pg = GetParam().postgres;
  const std::string schema = UniqueName("rvschema");
  Exec("CREATE SCHEMA " + schema);
  Exec(std::string(kVersionTable).replace(std::string("CREATE TABLE ").size(), 6, schema + ".ZNTRVC"));
  Exec("CREATE TABLE " + schema + ".items (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40))");
  Exec("INSERT INTO " + schema + ".items VALUES (1, 'one'), (2, 'two'), (3, 'three')");
  ResetStmt();
  char path[] = "/tmp/kx-rowver-init-XXXXXX.sql";
  const int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  const std::string init = (pg ? "SET search_path TO " : "SET SCHEMA ") + schema + ";\n";
  ASSERT_EQ(write(fd, init.data(), init.size()), static_cast<ssize_t>(init.size()));
  close(fd);
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
  // The file stays while the connection opens connections of its own.
  const SQLRETURN connected = Connect(dbc, std::string("DYN_CURS_SENSITIVITY=HIGH;INITSQL=") + path);
  KX_OK(connected, SQL_HANDLE_DBC, dbc);
  SQLUSMALLINT status[kRowset];
  SQLINTEGER id[kRowset];
  char name[kRowset][41];
  SQLHSTMT st = DynamicStmt(dbc, status, id, name);
  KX_OK(ExecDirect(st, "SELECT id, name FROM items ORDER BY id"), SQL_HANDLE_STMT, st);
  KX_OK(SQLFetchScroll(st, SQL_FETCH_NEXT, 0), SQL_HANDLE_STMT, st);
  EXPECT_EQ(id[2], 3);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + schema + ".ZNTRVC"), "3");
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  std::remove(path);
  Exec("DROP TABLE " + schema + ".items");
  Exec("DROP TABLE " + schema + ".ZNTRVC");
  Exec("DROP SCHEMA " + schema);
}

// The other client process of the test above (runs only when it starts it).
TEST_P(RowVersions, OtherProcessKeepsItsOwnVersions) {
  const char* table = std::getenv(kChildEnv);
  if (table == nullptr) GTEST_SKIP() << "run by ChangedRowsShowUpdatedOnceAndTheTableIsNeeded";
  SQLHDBC dbc = Versioned();
  SQLUSMALLINT status[kRowset];
  SQLINTEGER id[kRowset];
  char name[kRowset][41];
  SQLHSTMT st = DynamicStmt(dbc, status, id, name);
  KX_OK(ExecDirect(st, std::string("SELECT id, name FROM ") + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  KX_OK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
  for (SQLULEN r = 0; r < kRowset; ++r) EXPECT_EQ(status[r], SQL_ROW_SUCCESS) << id[r];
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

INSTANTIATE_TEST_SUITE_P(Road, RowVersions, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
