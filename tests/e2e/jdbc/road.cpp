#include "road.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "../odbc_env.h"

namespace kx::e2e {

const Road kRoads[4] = {
    {"H2_Unicode", "kx_h2_u", "Kestrix Unicode", true, false},
    {"H2_Ansi", "kx_h2_a", "Kestrix ANSI", false, false},
    {"Pg_Unicode", "kx_h2_u", "Kestrix Unicode", true, true},
    {"Pg_Ansi", "kx_h2_a", "Kestrix ANSI", false, true},
};

void PrintTo(const Road& r, std::ostream* os) { *os << r.name; }

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') {
    ADD_FAILURE() << name << " is not set: run the suite through scripts/test.sh, which starts "
                  << "the PostgreSQL server";
    return "";
  }
  return v;
}

}  // namespace

std::string PgUrl() { return "jdbc:postgresql://127.0.0.1:" + Env("KX_PG_PORT") + "/postgres"; }
std::string PgUser() { return Env("KX_PG_USER"); }
std::string PgPassword() { return Env("KX_PG_PASSWORD"); }

std::string ConnectString(const Road& road, const std::string& extra) {
  std::string s = std::string("DSN=") + road.dsn;
  if (road.postgres) s += ";URL={URL=" + PgUrl() + "};UID=" + PgUser() + ";PWD=" + PgPassword();
  if (!extra.empty()) s += ";" + extra;
  return s;
}

std::string State(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0}, message[2048] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) {
    return "";
  }
  return reinterpret_cast<char*>(state);
}

std::string Diag(SQLSMALLINT type, SQLHANDLE handle) {
  std::string all;
  for (SQLSMALLINT i = 1; i < 5; ++i) {
    SQLCHAR state[6] = {0}, message[2048] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length))) {
      break;
    }
    all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message) + "\n";
  }
  return all;
}

std::string UniqueName(const char* stem) {
  static std::atomic<int> counter{0};
  return std::string("kx_") + stem + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::u16string U16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    int n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if (c < 0xE0) {
      cp = c & 0x1F, n = 2;
    } else if (c < 0xF0) {
      cp = c & 0x0F, n = 3;
    } else {
      cp = c & 0x07, n = 4;
    }
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

void RoadTest::SetUp() {
  ASSERT_TRUE(kOdbcConfigSet);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
  ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  KX_OK(Connect(dbc_), SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
}

void RoadTest::TearDown() {
  if (stmt_ != SQL_NULL_HSTMT) {
    for (const auto& t : tables_) {
      ResetStmt();
      ExecDirect(stmt_, "DROP TABLE " + t);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  if (dbc_ != SQL_NULL_HDBC) {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

SQLRETURN RoadTest::Connect(SQLHDBC dbc, const std::string& extra) {
  std::string cs = ConnectString(GetParam(), extra);
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  return SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, out, sizeof out,
                          &outLen, SQL_DRIVER_NOPROMPT);
}

SQLRETURN RoadTest::ExecDirect(SQLHSTMT stmt, const std::string& sql) {
  if (GetParam().unicode) {
    std::u16string w = U16(sql);
    return SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(w.data()), static_cast<SQLINTEGER>(w.size()));
  }
  std::string text = sql;
  return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
}

SQLRETURN RoadTest::Prepare(SQLHSTMT stmt, const std::string& sql) {
  if (GetParam().unicode) {
    std::u16string w = U16(sql);
    return SQLPrepareW(stmt, reinterpret_cast<SQLWCHAR*>(w.data()), static_cast<SQLINTEGER>(w.size()));
  }
  std::string text = sql;
  return SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
}

void RoadTest::ResetStmt() {
  SQLFreeStmt(stmt_, SQL_CLOSE);
  SQLFreeStmt(stmt_, SQL_UNBIND);
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
}

void RoadTest::Exec(const std::string& sql) {
  ResetStmt();
  SQLRETURN rc = ExecDirect(stmt_, sql);
  ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << sql << "\n" << Diag(SQL_HANDLE_STMT, stmt_);
}

void RoadTest::Attr(SQLHSTMT st, SQLINTEGER attr, SQLULEN value) {
  KX_OK(SQLSetStmtAttr(st, attr, reinterpret_cast<SQLPOINTER>(value), 0), SQL_HANDLE_STMT, st);
}

SQLHDBC RoadTest::Other(const std::string& extra) {
  SQLHDBC other = SQL_NULL_HDBC;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
  EXPECT_TRUE(SQL_SUCCEEDED(Connect(other, extra))) << Diag(SQL_HANDLE_DBC, other);
  return other;
}

void RoadTest::Drop(SQLHDBC dbc) {
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

SQLHDBC RoadTest::Odbc2Connection(SQLHENV* env) {
  *env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env), SQL_SUCCESS);
  EXPECT_EQ(SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0), SQL_SUCCESS);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, *env, &dbc), SQL_SUCCESS);
  EXPECT_TRUE(SQL_SUCCEEDED(Connect(dbc))) << Diag(SQL_HANDLE_DBC, dbc);
  return dbc;
}

void RoadTest::DropWithEnv(SQLHENV env, SQLHDBC dbc) {
  Drop(dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

void RoadTest::ExecOther(const std::string& sql) {
  SQLHDBC other = Other();
  SQLHSTMT st = SQL_NULL_HSTMT;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, other, &st), SQL_SUCCESS);
  EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(st, sql))) << sql << "\n" << Diag(SQL_HANDLE_STMT, st);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  Drop(other);
}

SQLRETURN RoadTest::ExecOn(SQLHDBC dbc, const std::string& sql, std::string* diag) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_SUCCESS);
  const SQLRETURN rc = ExecDirect(st, sql);
  if (diag != nullptr) *diag = Diag(SQL_HANDLE_STMT, st);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return rc;
}

bool RoadTest::HasState(SQLHSTMT st, const char* state) {
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR s[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR text[512];
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecA(SQL_HANDLE_STMT, st, i, s, &native, text, sizeof text, &len))) return false;
    if (std::strcmp(reinterpret_cast<char*>(s), state) == 0) return true;
  }
}

std::string RoadTest::Table(const char* stem, const std::string& columns) {
  std::string name = UniqueName(stem);
  Exec("CREATE TABLE " + name + " (" + columns + ")");
  tables_.push_back(name);
  return name;
}

SQLUINTEGER RoadTest::InfoU32(SQLUSMALLINT type) {
  SQLUINTEGER value = 0;
  EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, type, &value, sizeof value, nullptr))
      << type << " " << Diag(SQL_HANDLE_DBC, dbc_);
  return value;
}

std::string RoadTest::Scalar(const std::string& sql, SQLHDBC dbc) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, dbc == SQL_NULL_HDBC ? dbc_ : dbc, &st) != SQL_SUCCESS) {
    return "<no statement>";
  }
  std::string result;
  SQLRETURN rc = ExecDirect(st, sql);
  if (SQL_SUCCEEDED(rc)) rc = SQLFetch(st);
  if (SQL_SUCCEEDED(rc)) {
    char buf[512] = {0};
    SQLLEN ind = 0;
    rc = SQLGetData(st, 1, SQL_C_CHAR, buf, sizeof buf, &ind);
    result = !SQL_SUCCEEDED(rc) ? "<GetData failed>" : ind == SQL_NULL_DATA ? "NULL" : buf;
  }
  if (!SQL_SUCCEEDED(rc)) result = "<failed: " + Diag(SQL_HANDLE_STMT, st) + ">";
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return result;
}

}  // namespace kx::e2e
