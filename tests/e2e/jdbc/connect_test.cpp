// Connecting with the real driver: by DSN and without one, failures that
// carry the database driver's own text, the initial SQL file, read-only and
// no-autocommit connections, commit and rollback.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

using Connecting = RoadTest;

// What the process writes to its standard error while it lives, at the
// descriptor level (the VM writes there without going through stdio).
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = dup(STDERR_FILENO);
    if (file_ != nullptr && saved_ >= 0) dup2(fileno(file_), STDERR_FILENO);
  }
  ~StderrCapture() {
    Restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string Take() {
    Restore();
    std::string text;
    if (file_ == nullptr) return "(no capture file)";
    std::rewind(file_);
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) text.append(buf, n);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

// A second connection of the same road, closed at scope end.
struct Conn {
  SQLHDBC dbc = SQL_NULL_HDBC;
  explicit Conn(SQLHENV env) { SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc); }
  ~Conn() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
};

TEST_P(Connecting, ByDsnAndWithoutOne) {
  // The data source's own URL is the embedded database; PostgreSQL needs the
  // URL from the connect string, so only the driver-keyword form runs there.
  if (!GetParam().postgres) {
    Conn c(env_);
    SQLCHAR* dsn = reinterpret_cast<SQLCHAR*>(const_cast<char*>(GetParam().dsn));
    KX_OK(SQLConnect(c.dbc, dsn, SQL_NTS, nullptr, 0, nullptr, 0), SQL_HANDLE_DBC, c.dbc);
    EXPECT_EQ(Scalar("SELECT 40 + 2", c.dbc), "42");
  }
  Conn c(env_);
  std::string url = GetParam().postgres ? PgUrl() : "jdbc:h2:mem:dsnless;DB_CLOSE_DELAY=-1";
  std::string cs = std::string("DRIVER={") + GetParam().driver + "};URL={URL={" + url + "}}";
  if (GetParam().postgres) cs += ";UID=" + PgUser() + ";PWD=" + PgPassword();
  SQLCHAR out[1024] = {0};
  SQLSMALLINT outLen = 0;
  KX_OK(SQLDriverConnect(c.dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, out, sizeof out,
                         &outLen, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, c.dbc);
  EXPECT_NE(std::string(reinterpret_cast<char*>(out)).find("URL="), std::string::npos) << out;
  EXPECT_EQ(Scalar("SELECT 40 + 2", c.dbc), "42");
}

// Failures name the class of the fault and keep the database driver's text.
TEST_P(Connecting, FailuresCarryTheDriversText) {
  struct Case {
    const char* what;
    std::string connect;
    const char* state;
    const char* text;
  };
  std::vector<Case> cases;
  if (GetParam().postgres) {
    cases.push_back({"wrong password",
                     std::string("DSN=") + GetParam().dsn + ";URL={URL=" + PgUrl() + "};UID=" + PgUser() +
                         ";PWD=not-the-password",
                     "28P01", "password authentication failed"});
    cases.push_back({"refused", std::string("DSN=") + GetParam().dsn +
                                    ";URL={URL=jdbc:postgresql://127.0.0.1:1/postgres};UID=x;PWD=y",
                     "08001", "refused"});
    // The JDBC driver logs a warning of its own for this one.
    cases.push_back({"no port", std::string("DSN=") + GetParam().dsn +
                                    ";URL={URL=jdbc:postgresql://127.0.0.1:/postgres};UID=x;PWD=y",
                     "08001", "not accepted"});
  } else {
    // The embedded database takes its owner from the first connection.
    std::string url = "jdbc:h2:mem:" + UniqueName("pw") + ";DB_CLOSE_DELAY=-1";
    Conn owner(env_);
    std::string cs = std::string("DSN=") + GetParam().dsn + ";URL={URL={" + url + "}};UID=owner;PWD=right";
    KX_OK(SQLDriverConnect(owner.dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr, 0,
                           nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, owner.dbc);
    cases.push_back({"wrong password",
                     std::string("DSN=") + GetParam().dsn + ";URL={URL={" + url + "}};UID=owner;PWD=wrong",
                     "28000", "Wrong user name or password"});
  }
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Conn conn(env_);
    StderrCapture quiet;
    SQLRETURN rc = SQLDriverConnect(conn.dbc, nullptr, reinterpret_cast<SQLCHAR*>(c.connect.data()), SQL_NTS,
                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    // The application's standard error is its own: nothing of ours or of the
    // JDBC driver's lands there unless a log is asked for.
    EXPECT_EQ(quiet.Take(), "");
    EXPECT_EQ(rc, SQL_ERROR);
    std::string diag = Diag(SQL_HANDLE_DBC, conn.dbc);
    EXPECT_EQ(State(SQL_HANDLE_DBC, conn.dbc), c.state) << diag;
    EXPECT_NE(diag.find(c.text), std::string::npos) << diag;
    EXPECT_EQ(diag.find("not-the-password"), std::string::npos) << diag;
  }
  // A failed connect leaves the handle usable for a good one.
  Conn again(env_);
  KX_OK(Connect(again.dbc), SQL_HANDLE_DBC, again.dbc);
}

TEST_P(Connecting, InitialSqlFileRuns) {
  std::string table = UniqueName("init");
  tables_.push_back(table);
  char path[] = "/tmp/kx-initsql-XXXXXX.sql";
  int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream f(path);
    f << "# made by the connect test\n"
      << "CREATE TABLE " << table << " (a INTEGER,\n   b VARCHAR(10));\n"
      << "\n"
      << "INSERT INTO " << table << " VALUES (42, 'init');\n";
  }
  Conn c(env_);
  SQLRETURN rc = Connect(c.dbc, std::string("INITSQL=") + path);
  std::remove(path);
  KX_OK(rc, SQL_HANDLE_DBC, c.dbc);
  EXPECT_EQ(Scalar("SELECT a FROM " + table), "42");
}

TEST_P(Connecting, ReadOnlyConnection) {
  std::string table = Table("ro", "a INTEGER");
  Conn c(env_);
  KX_OK(Connect(c.dbc, "READONLY=1"), SQL_HANDLE_DBC, c.dbc);
  SQLULEN mode = 0;
  KX_OK(SQLGetConnectAttr(c.dbc, SQL_ATTR_ACCESS_MODE, &mode, 0, nullptr), SQL_HANDLE_DBC, c.dbc);
  EXPECT_EQ(mode, static_cast<SQLULEN>(SQL_MODE_READ_ONLY));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, c.dbc), "0");
  // The driver itself refuses anything but a query there.
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &st), SQL_SUCCESS);
  std::string sql = "INSERT INTO " + table + " VALUES (1)";
  EXPECT_EQ(ExecDirect(st, sql), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, st), "IM916") << Diag(SQL_HANDLE_STMT, st);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "0");
}

// Manual commit, by the NOAC keyword and by the attribute: rolled back work
// is gone, committed work is seen by another connection.
TEST_P(Connecting, CommitRollbackAndAutocommit) {
  std::string table = Table("tx", "a INTEGER");
  for (bool byKeyword : {true, false}) {
    SCOPED_TRACE(byKeyword ? "NOAC=1" : "SQL_ATTR_AUTOCOMMIT");
    Conn c(env_);
    KX_OK(Connect(c.dbc, byKeyword ? "NOAC=1" : ""), SQL_HANDLE_DBC, c.dbc);
    SQLULEN ac = 99;
    if (!byKeyword) {
      KX_OK(SQLGetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, &ac, 0, nullptr), SQL_HANDLE_DBC, c.dbc);
      EXPECT_EQ(ac, static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON));
      KX_OK(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_HANDLE_DBC, c.dbc);
    }
    KX_OK(SQLGetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, &ac, 0, nullptr), SQL_HANDLE_DBC, c.dbc);
    EXPECT_EQ(ac, static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF));

    SQLHSTMT st = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &st), SQL_SUCCESS);
    std::string ins = "INSERT INTO " + table + " VALUES (1)";
    KX_OK(ExecDirect(st, ins), SQL_HANDLE_STMT, st);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, c.dbc), "1");
    KX_OK(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK), SQL_HANDLE_DBC, c.dbc);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table, c.dbc), "0");

    KX_OK(ExecDirect(st, ins), SQL_HANDLE_STMT, st);
    KX_OK(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT), SQL_HANDLE_DBC, c.dbc);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "1");  // the fixture's connection
    SQLFreeHandle(SQL_HANDLE_STMT, st);

    // Back to autocommit: each statement stands on its own again.
    KX_OK(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
          SQL_HANDLE_DBC, c.dbc);
    std::string del = "DELETE FROM " + table;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &st), SQL_SUCCESS);
    KX_OK(ExecDirect(st, del), SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + table), "0");
  }
}

INSTANTIATE_TEST_SUITE_P(Road, Connecting, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
