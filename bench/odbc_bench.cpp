// Fetch, insert and connect benchmark through the unixODBC driver manager,
// for any ODBC driver (bench/run.sh runs it with this driver and the native
// PostgreSQL one). Prints one line per measurement:
//   RESULT <label> <work> <rows> <seconds> <rows per second> <peak RSS in KiB>
//          <CPU seconds of the calling thread>
//
//   odbc_bench LABEL CONNECT-STRING fetch TABLE
//     SELECT of (int, varchar(40), numeric(12,2), double precision,
//     timestamp) read with bound columns, one row per SQLFetch, in a
//     transaction (autocommit off).
//   odbc_bench LABEL CONNECT-STRING getdata TABLE
//     the same, every value read with SQLGetData.
//   odbc_bench LABEL CONNECT-STRING rowset TABLE
//     the same SELECT through a forward-only cursor with rowsets of 100 rows
//     bound column-wise.
//   odbc_bench LABEL CONNECT-STRING static TABLE
//     the same SELECT through a static cursor with rowsets of 100: execute,
//     SQL_FETCH_LAST, SQL_FETCH_FIRST, then SQL_FETCH_NEXT to the end (the
//     rows counted are the first rowset and the scroll after it).
//   odbc_bench LABEL CONNECT-STRING keyset TABLE
//     the same SELECT (TABLE has a primary key) through a keyset-driven
//     cursor with rowsets of 100: execute, SQL_FETCH_LAST, SQL_FETCH_ABSOLUTE
//     to the middle, then 1000 rowsets with SQL_FETCH_NEXT (the rows counted
//     are those of the NEXT rowsets). Reports the cursor type the driver
//     gave on stderr when it is not keyset-driven.
//   odbc_bench LABEL CONNECT-STRING fetch_ac|getdata_ac|rowset_ac|static_ac|keyset_ac TABLE
//     each of the above in autocommit mode, as most applications read
//     (reported under the work's name with "_ac").
//   odbc_bench LABEL CONNECT-STRING insert|insertrw TABLE ROWS
//     creates TABLE and inserts ROWS rows with parameter arrays of 1000 in
//     one transaction (insertrw: the same under its own name, for a connect
//     string whose URL asks PostgreSQL's JDBC driver to rewrite batches).
//   odbc_bench LABEL CONNECT-STRING connect COUNT
//     the first connect of the process (for this driver, the Java VM starts
//     there), then COUNT further connects and disconnects: "connect1" is the
//     first in seconds, "connectN" the mean of the others.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Die(const char* what, SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0}, message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &len);
  std::fprintf(stderr, "odbc_bench: %s failed: %s %s\n", what, state, message);
  std::exit(1);
}

#define CHECK(call, type, handle)                          \
  do {                                                     \
    SQLRETURN rc_ = (call);                                \
    if (!SQL_SUCCEEDED(rc_)) Die(#call, type, handle);     \
  } while (0)

SQLRETURN Exec(SQLHSTMT st, const std::string& sql) {
  return SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
}

// CPU time of the calling thread when the measurement began: the thread that
// runs the application's calls, and for this driver the Java code they run.
// Less sensitive to a busy machine than the elapsed time.
double gCpuStart = 0;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::chrono::steady_clock::time_point Start() {
  gCpuStart = ThreadCpuSeconds();
  return std::chrono::steady_clock::now();
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// per: how many operations the measurement covered (the CPU time is given per operation).
// "_ac" when the fetch shapes run in autocommit mode: their results carry it.
const char* g_workSuffix = "";

void Report(const char* label, const char* what, long rows, double secs, long per = 1) {
  const double cpu = (ThreadCpuSeconds() - gCpuStart) / static_cast<double>(per);
  std::printf("RESULT %s %s%s %ld %.4f %.0f %ld %.4f\n", label, what, g_workSuffix, rows, secs, rows / secs,
              PeakRssKiB(), cpu);
  std::fflush(stdout);
}

// Closes the cursor and reports a run that read into bound columns (check
// sums some of them, to see that the driver filled them).
void FinishBound(const char* label, const char* what, SQLHSTMT st, std::chrono::steady_clock::time_point start,
                 long rows, long long check) {
  SQLFreeStmt(st, SQL_CLOSE);
  double secs = Seconds(start);
  if (check == 0 && rows > 0) std::fprintf(stderr, "odbc_bench: no data in the bound columns\n");
  Report(label, what, rows, secs);
}

void GetDataFetch(const char* label, SQLHSTMT st, const std::string& table) {
  auto start = Start();
  CHECK(Exec(st, "SELECT id, name, amount, ratio, stamp FROM " + table), SQL_HANDLE_STMT, st);
  SQLINTEGER id = 0;
  char name[41], amount[21];
  SQLDOUBLE ratio = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN ind = 0;
  long rows = 0;
  long long check = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(st)) != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) Die("SQLFetch", SQL_HANDLE_STMT, st);
    CHECK(SQLGetData(st, 1, SQL_C_SLONG, &id, 0, &ind), SQL_HANDLE_STMT, st);
    CHECK(SQLGetData(st, 2, SQL_C_CHAR, name, sizeof name, &ind), SQL_HANDLE_STMT, st);
    CHECK(SQLGetData(st, 3, SQL_C_CHAR, amount, sizeof amount, &ind), SQL_HANDLE_STMT, st);
    CHECK(SQLGetData(st, 4, SQL_C_DOUBLE, &ratio, 0, &ind), SQL_HANDLE_STMT, st);
    CHECK(SQLGetData(st, 5, SQL_C_TYPE_TIMESTAMP, &stamp, 0, &ind), SQL_HANDLE_STMT, st);
    ++rows;
    check += id + stamp.second;
  }
  SQLFreeStmt(st, SQL_CLOSE);
  double secs = Seconds(start);
  if (check == 0 && rows > 0) std::fprintf(stderr, "odbc_bench: no data read\n");
  Report(label, "getdata", rows, secs);
}

void Fetch(const char* label, SQLHSTMT st, const std::string& table) {
  auto start = Start();
  CHECK(Exec(st, "SELECT id, name, amount, ratio, stamp FROM " + table), SQL_HANDLE_STMT, st);
  SQLINTEGER id = 0;
  char name[41], amount[21];
  SQLDOUBLE ratio = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN ind[5];
  CHECK(SQLBindCol(st, 1, SQL_C_SLONG, &id, 0, &ind[0]), SQL_HANDLE_STMT, st);
  CHECK(SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name, &ind[1]), SQL_HANDLE_STMT, st);
  CHECK(SQLBindCol(st, 3, SQL_C_CHAR, amount, sizeof amount, &ind[2]), SQL_HANDLE_STMT, st);
  CHECK(SQLBindCol(st, 4, SQL_C_DOUBLE, &ratio, 0, &ind[3]), SQL_HANDLE_STMT, st);
  CHECK(SQLBindCol(st, 5, SQL_C_TYPE_TIMESTAMP, &stamp, 0, &ind[4]), SQL_HANDLE_STMT, st);
  long rows = 0;
  long long check = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(st)) != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) Die("SQLFetch", SQL_HANDLE_STMT, st);
    ++rows;
    check += id + stamp.second;
  }
  FinishBound(label, "fetch", st, start, rows, check);
}

// The five columns bound as rowsets of kRowset rows, column by column.
struct Rowset {
  static constexpr SQLULEN kRowset = 100;
  std::vector<SQLINTEGER> id = std::vector<SQLINTEGER>(kRowset);
  std::vector<char> name = std::vector<char>(kRowset * 41), amount = std::vector<char>(kRowset * 21);
  std::vector<SQLDOUBLE> ratio = std::vector<SQLDOUBLE>(kRowset);
  std::vector<SQL_TIMESTAMP_STRUCT> stamp = std::vector<SQL_TIMESTAMP_STRUCT>(kRowset);
  std::vector<SQLLEN> ind = std::vector<SQLLEN>(5 * kRowset);
  SQLULEN fetched = 0;

  void SetSize(SQLHSTMT st) {
    CHECK(SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0), SQL_HANDLE_STMT, st);
    CHECK(SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, st);
  }

  void Bind(SQLHSTMT st) {
    CHECK(SQLBindCol(st, 1, SQL_C_SLONG, id.data(), 0, &ind[0]), SQL_HANDLE_STMT, st);
    CHECK(SQLBindCol(st, 2, SQL_C_CHAR, name.data(), 41, &ind[kRowset]), SQL_HANDLE_STMT, st);
    CHECK(SQLBindCol(st, 3, SQL_C_CHAR, amount.data(), 21, &ind[2 * kRowset]), SQL_HANDLE_STMT, st);
    CHECK(SQLBindCol(st, 4, SQL_C_DOUBLE, ratio.data(), 0, &ind[3 * kRowset]), SQL_HANDLE_STMT, st);
    CHECK(SQLBindCol(st, 5, SQL_C_TYPE_TIMESTAMP, stamp.data(), 0, &ind[4 * kRowset]), SQL_HANDLE_STMT, st);
  }
};

// Rowsets of 100 rows: forward-only, or a static cursor scrolled to the last
// rowset, back to the first and then through to the end.
void RowsetFetch(const char* label, SQLHSTMT st, const std::string& table, bool scroll) {
  Rowset b;
  auto start = Start();
  if (scroll) {
    CHECK(SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
          SQL_HANDLE_STMT, st);
  }
  b.SetSize(st);
  CHECK(Exec(st, "SELECT id, name, amount, ratio, stamp FROM " + table), SQL_HANDLE_STMT, st);
  b.Bind(st);
  long rows = 0;
  long long check = 0;
  if (scroll) {
    CHECK(SQLFetchScroll(st, SQL_FETCH_LAST, 0), SQL_HANDLE_STMT, st);
    CHECK(SQLFetchScroll(st, SQL_FETCH_FIRST, 0), SQL_HANDLE_STMT, st);
    rows += static_cast<long>(b.fetched);
  }
  SQLRETURN rc;
  while ((rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0)) != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) Die("SQLFetchScroll", SQL_HANDLE_STMT, st);
    rows += static_cast<long>(b.fetched);
    check += b.id[0] + b.stamp[b.fetched - 1].second;
  }
  FinishBound(label, scroll ? "static" : "rowset", st, start, rows, check);
}

void KeysetFetch(const char* label, SQLHSTMT st, const std::string& table) {
  Rowset b;
  auto start = Start();
  SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_KEYSET_DRIVEN), 0);
  b.SetSize(st);
  CHECK(Exec(st, "SELECT id, name, amount, ratio, stamp FROM " + table + " ORDER BY id"), SQL_HANDLE_STMT, st);
  SQLULEN type = 0;
  SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
  if (type != SQL_CURSOR_KEYSET_DRIVEN) {
    std::fprintf(stderr, "odbc_bench: %s gave cursor type %lu, not keyset-driven\n", label,
                 static_cast<unsigned long>(type));
  }
  b.Bind(st);
  SQLLEN count = 0;
  SQLRowCount(st, &count);
  CHECK(SQLFetchScroll(st, SQL_FETCH_LAST, 0), SQL_HANDLE_STMT, st);
  const long last = b.id[b.fetched - 1];
  CHECK(SQLFetchScroll(st, SQL_FETCH_ABSOLUTE, last / 2), SQL_HANDLE_STMT, st);
  long rows = 0;
  long long check = 0;
  for (int i = 0; i < 1000; ++i) {
    const SQLRETURN rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) Die("SQLFetchScroll", SQL_HANDLE_STMT, st);
    rows += static_cast<long>(b.fetched);
    check += b.id[0] + b.stamp[b.fetched - 1].second;
  }
  FinishBound(label, "keyset", st, start, rows, check);
}

void Insert(const char* label, const char* work, SQLHDBC dbc, SQLHSTMT st, const std::string& table, long rows) {
  Exec(st, "DROP TABLE " + table);
  SQLFreeStmt(st, SQL_CLOSE);
  CHECK(Exec(st, "CREATE TABLE " + table +
                     " (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), ratio DOUBLE PRECISION,"
                     " stamp TIMESTAMP)"),
        SQL_HANDLE_STMT, st);
  SQLFreeStmt(st, SQL_CLOSE);
  CHECK(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc);
  constexpr long kBatch = 1000;
  std::vector<SQLINTEGER> id(kBatch);
  std::vector<char> name(kBatch * 41), amount(kBatch * 21);
  std::vector<SQLLEN> nameLen(kBatch, SQL_NTS), amountLen(kBatch, SQL_NTS);
  std::vector<SQLDOUBLE> ratio(kBatch);
  std::vector<SQL_TIMESTAMP_STRUCT> stamp(kBatch);
  std::string sql = "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?)";
  CHECK(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_HANDLE_STMT, st);
  CHECK(SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, id.data(), 0, nullptr),
        SQL_HANDLE_STMT, st);
  CHECK(SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, name.data(), 41, nameLen.data()),
        SQL_HANDLE_STMT, st);
  CHECK(SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 12, 2, amount.data(), 21,
                         amountLen.data()),
        SQL_HANDLE_STMT, st);
  CHECK(SQLBindParameter(st, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, ratio.data(), 0, nullptr),
        SQL_HANDLE_STMT, st);
  CHECK(SQLBindParameter(st, 5, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, stamp.data(), 0,
                         nullptr),
        SQL_HANDLE_STMT, st);
  auto start = Start();
  for (long first = 0; first < rows; first += kBatch) {
    long n = std::min(kBatch, rows - first);
    for (long i = 0; i < n; ++i) {
      long v = first + i;
      id[i] = static_cast<SQLINTEGER>(v);
      std::snprintf(&name[i * 41], 41, "row number %ld", v);
      std::snprintf(&amount[i * 21], 21, "%ld.%02ld", v % 100000, v % 100);
      ratio[i] = v / 7.0;
      stamp[i] = SQL_TIMESTAMP_STRUCT{2024, 1, static_cast<SQLUSMALLINT>(1 + v % 28),
                                      static_cast<SQLUSMALLINT>(v % 24), static_cast<SQLUSMALLINT>(v % 60),
                                      static_cast<SQLUSMALLINT>(v % 60), 0};
    }
    CHECK(SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0),
          SQL_HANDLE_STMT, st);
    CHECK(SQLExecute(st), SQL_HANDLE_STMT, st);
  }
  CHECK(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc);
  double secs = Seconds(start);
  Report(label, work, rows, secs);
}

void Connects(const char* label, SQLHENV env, const char* connect, long count) {
  auto once = [&](SQLHDBC* dbc) {
    SQLAllocHandle(SQL_HANDLE_DBC, env, dbc);
    CHECK(SQLDriverConnect(*dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connect)), SQL_NTS,
                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, *dbc);
  };
  // The first connection stays open, as an application's usually does; the
  // later ones come and go beside it.
  SQLHDBC first;
  auto start = Start();
  once(&first);
  Report(label, "connect1", 1, Seconds(start));
  start = Start();
  for (long i = 0; i < count; ++i) {
    SQLHDBC dbc;
    once(&dbc);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  double secs = Seconds(start);
  Report(label, "connectN", count, secs / static_cast<double>(count), count);
  SQLDisconnect(first);
  SQLFreeHandle(SQL_HANDLE_DBC, first);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (std::strncmp(argv[3], "insert", 6) == 0 && argc < 6)) {
    std::fprintf(stderr, "usage: odbc_bench LABEL CONNECT-STRING fetch|getdata|rowset|static|keyset TABLE\n"
                         "       odbc_bench LABEL CONNECT-STRING insert|insertrw TABLE ROWS\n"
                         "       odbc_bench LABEL CONNECT-STRING connect COUNT\n");
    return 2;
  }
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (std::strcmp(argv[3], "connect") == 0) {
    Connects(argv[1], env, argv[2], std::atol(argv[4]));
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
  }
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  CHECK(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS, nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc);
  CHECK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_HANDLE_DBC, dbc);
  std::string work = argv[3];
  const bool autocommit = work.size() > 3 && work.compare(work.size() - 3, 3, "_ac") == 0;
  if (autocommit) {
    work.resize(work.size() - 3);
    g_workSuffix = "_ac";
  }
  const bool fetch = work == "fetch";
  const bool rowset = work == "rowset";
  const bool scroll = work == "static";
  const bool keyset = work == "keyset";
  if (fetch || rowset || scroll || keyset || work == "getdata") {
    // In a transaction, where a driver may stream the result, unless the
    // autocommit form was asked for.
    if (!autocommit) {
      CHECK(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_HANDLE_DBC, dbc);
    }
    if (fetch) Fetch(argv[1], st, argv[4]);
    else if (rowset || scroll) RowsetFetch(argv[1], st, argv[4], scroll);
    else if (keyset) KeysetFetch(argv[1], st, argv[4]);
    else GetDataFetch(argv[1], st, argv[4]);
    if (!autocommit) SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
  } else {
    Insert(argv[1], argv[3], dbc, st, argv[4], std::atol(argv[5]));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
