/* A small transaction monitor: it takes the driver's XA switch and
 * SQLGetXaConnect with dlsym, drives branches through the switch's entry
 * points and does the branches' SQL work through the driver's own exported
 * ODBC functions on the handle SQLGetXaConnect gives. What a branch did is
 * checked from a second connection through the unixODBC driver manager
 * (which loads the same driver library first, as in an application that
 * uses both).
 *
 *   xa_monitor <driver library> <data source> <pg|h2> <u|a>
 *
 * pg reads KX_PG_PORT, KX_PG_USER and KX_PG_PASSWORD. Exit status 0 when
 * every check held. */
#include <dlfcn.h>
#include <pthread.h>
#include <sql.h>
#include <sqlext.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The monitor's own xa.h (LP64). */
#define XIDDATASIZE 128
#define RMNAMESZ 32
typedef struct {
  long formatID;
  long gtrid_length;
  long bqual_length;
  char data[XIDDATASIZE];
} XID;

struct xa_switch_t {
  char name[RMNAMESZ];
  long flags;
  long version;
  int (*xa_open_entry)(char*, int, long);
  int (*xa_close_entry)(char*, int, long);
  int (*xa_start_entry)(XID*, int, long);
  int (*xa_end_entry)(XID*, int, long);
  int (*xa_rollback_entry)(XID*, int, long);
  int (*xa_prepare_entry)(XID*, int, long);
  int (*xa_commit_entry)(XID*, int, long);
  int (*xa_recover_entry)(XID*, long, int, long);
  int (*xa_forget_entry)(XID*, int, long);
  int (*xa_complete_entry)(int*, int*, int, long);
};

#define TMNOFLAGS 0L
#define TMENDRSCAN 0x00800000L
#define TMSTARTRSCAN 0x01000000L
#define TMSUSPEND 0x02000000L
#define TMSUCCESS 0x04000000L
#define TMONEPHASE 0x40000000L
#define XA_OK 0
#define XA_RBBASE 100
#define XA_RBCOMMFAIL 101
#define XA_RBEND 107
#define XAER_RMERR (-3)
#define XAER_NOTA (-4)
#define XAER_INVAL (-5)
#define XAER_PROTO (-6)
#define XAER_RMFAIL (-7)

static int g_checks, g_failed;

#define CHECK(cond, ...)                                   \
  do {                                                     \
    ++g_checks;                                            \
    if (!(cond)) {                                         \
      ++g_failed;                                          \
      fprintf(stderr, "FAILED line %d: %s: ", __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                        \
      fputc('\n', stderr);                                 \
    }                                                      \
  } while (0)

#define CHECK_RC(expected, call)                                                  \
  do {                                                                            \
    int rc_ = (call);                                                             \
    CHECK(rc_ == (expected), "%s gave %d, expected %d", #call, rc_, (expected)); \
  } while (0)

/* ---- the driver's own functions -------------------------------------------------- */

static struct xa_switch_t* g_sw;
static int g_wide;
static SQLRETURN (*drvGetXaConnect)(SQLHDBC*);
static SQLRETURN (*drvGetXaEnv)(SQLHENV*);
static SQLRETURN (*drvAllocHandle)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
static SQLRETURN (*drvFreeHandle)(SQLSMALLINT, SQLHANDLE);
static SQLRETURN (*drvExecDirectA)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
static SQLRETURN (*drvExecDirectW)(SQLHSTMT, SQLWCHAR*, SQLINTEGER);
static SQLRETURN (*drvFetch)(SQLHSTMT);
static SQLRETURN (*drvGetData)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
static SQLRETURN (*drvGetDiagRecA)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*,
                                   SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
static SQLRETURN (*drvGetDiagRecW)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLWCHAR*, SQLINTEGER*,
                                   SQLWCHAR*, SQLSMALLINT, SQLSMALLINT*);

static void* Need(void* lib, const char* name) {
  void* f = dlsym(lib, name);
  if (f == NULL) {
    fprintf(stderr, "the driver does not export %s\n", name);
    exit(2);
  }
  return f;
}

/* The first diagnostic of a driver handle, as ASCII. */
static const char* DriverDiag(SQLSMALLINT type, SQLHANDLE h) {
  static char text[1100];
  text[0] = '\0';
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (g_wide) {
    SQLWCHAR state[6] = {0}, message[512] = {0};
    if (SQL_SUCCEEDED(drvGetDiagRecW(type, h, 1, state, &native, message, 512, &length))) {
      size_t n = 0;
      for (int i = 0; i < 5; ++i) text[n++] = (char)state[i];
      text[n++] = ' ';
      for (int i = 0; message[i] != 0 && n + 1 < sizeof text; ++i) {
        text[n++] = message[i] < 128 ? (char)message[i] : '?';
      }
      text[n] = '\0';
    }
  } else {
    SQLCHAR state[6] = {0}, message[1024] = {0};
    if (SQL_SUCCEEDED(drvGetDiagRecA(type, h, 1, state, &native, message, sizeof message, &length))) {
      snprintf(text, sizeof text, "%s %s", (char*)state, (char*)message);
    }
  }
  return text;
}

/* Runs one statement on the connection the monitor associated with this
 * thread, through the driver's own functions; *value (when not NULL) gets
 * the integer in the first column of its first row, -1 without one. */
static int XaQuery(const char* sql, long* value) {
  SQLHDBC dbc = NULL;
  SQLHSTMT stmt = NULL;
  if (value != NULL) *value = -1;
  if (drvGetXaConnect(&dbc) != SQL_SUCCESS || dbc == NULL) {
    fprintf(stderr, "SQLGetXaConnect gave no connection\n");
    return 0;
  }
  if (!SQL_SUCCEEDED(drvAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    fprintf(stderr, "no statement: %s\n", DriverDiag(SQL_HANDLE_DBC, dbc));
    return 0;
  }
  SQLRETURN rc;
  if (g_wide) {
    SQLWCHAR wide[512];
    size_t n = 0;
    for (; sql[n] != '\0' && n + 1 < 512; ++n) wide[n] = (SQLWCHAR)(unsigned char)sql[n];
    wide[n] = 0;
    rc = drvExecDirectW(stmt, wide, SQL_NTS);
  } else {
    rc = drvExecDirectA(stmt, (SQLCHAR*)sql, SQL_NTS);
  }
  if (!SQL_SUCCEEDED(rc)) fprintf(stderr, "%s: %s\n", sql, DriverDiag(SQL_HANDLE_STMT, stmt));
  if (SQL_SUCCEEDED(rc) && value != NULL && SQL_SUCCEEDED(drvFetch(stmt))) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    if (SQL_SUCCEEDED(drvGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind))) *value = v;
  }
  drvFreeHandle(SQL_HANDLE_STMT, stmt);
  return SQL_SUCCEEDED(rc);
}

static int XaExec(const char* sql) { return XaQuery(sql, NULL); }

/* ---- the second connection, through the driver manager ---------------------------- */

static SQLHENV g_peerEnv;
static SQLHDBC g_peer;

static const char* PeerDiag(SQLSMALLINT type, SQLHANDLE h) {
  static char text[1100];
  SQLCHAR state[6] = {0}, message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  text[0] = '\0';
  if (SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &length))) {
    snprintf(text, sizeof text, "%s %s", (char*)state, (char*)message);
  }
  return text;
}

static int PeerExec(const char* sql) {
  SQLHSTMT stmt = NULL;
  SQLAllocHandle(SQL_HANDLE_STMT, g_peer, &stmt);
  SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) fprintf(stderr, "%s: %s\n", sql, PeerDiag(SQL_HANDLE_STMT, stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return SQL_SUCCEEDED(rc);
}

/* The integer in the first column of a one-row query; -1 on failure. */
static long PeerScalar(const char* sql) {
  SQLHSTMT stmt = NULL;
  long value = -1;
  SQLAllocHandle(SQL_HANDLE_STMT, g_peer, &stmt);
  if (SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt))) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind))) value = v;
  } else {
    fprintf(stderr, "%s: %s\n", sql, PeerDiag(SQL_HANDLE_STMT, stmt));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return value;
}

/* ---- branches ---------------------------------------------------------------------- */

static char g_table[64];
static int g_pg;
static int g_rows;  /* rows committed so far */

static XID MakeXid(const char* tag) {
  XID x;
  memset(&x, 0, sizeof x);
  char gtrid[64];
  snprintf(gtrid, sizeof gtrid, "kxmon-%d-%s", (int)getpid(), tag);
  x.formatID = 0x4B58;
  x.gtrid_length = (long)strlen(gtrid);
  x.bqual_length = 2;
  memcpy(x.data, gtrid, (size_t)x.gtrid_length);
  memcpy(x.data + x.gtrid_length, "b1", 2);
  return x;
}

static long Rows(void) {
  char sql[128];
  snprintf(sql, sizeof sql, "SELECT COUNT(*) FROM %s", g_table);
  return PeerScalar(sql);
}

/* PostgreSQL's name of a prepared branch: format, gtrid and bqual in base64. */
static void Base64(const char* in, size_t n, char* out) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t o = 0;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = (uint32_t)(unsigned char)in[i] << 16;
    if (i + 1 < n) v |= (uint32_t)(unsigned char)in[i + 1] << 8;
    if (i + 2 < n) v |= (unsigned char)in[i + 2];
    out[o++] = k[(v >> 18) & 63];
    out[o++] = k[(v >> 12) & 63];
    out[o++] = i + 1 < n ? k[(v >> 6) & 63] : '=';
    out[o++] = i + 2 < n ? k[v & 63] : '=';
  }
  out[o] = '\0';
}

static long PgPrepared(const XID* x) {
  char g[200], b[200], sql[600];
  Base64(x->data, (size_t)x->gtrid_length, g);
  Base64(x->data + x->gtrid_length, (size_t)x->bqual_length, b);
  snprintf(sql, sizeof sql,
           "SELECT CAST(COUNT(*) AS INTEGER) FROM pg_prepared_xacts WHERE gid = '%ld_%s_%s'",
           x->formatID, g, b);
  return PeerScalar(sql);
}

static int Recovered(int rmid, const XID* x) {
  static XID all[512];
  int n = g_sw->xa_recover_entry(all, 512, rmid, TMSTARTRSCAN | TMENDRSCAN);
  CHECK(n >= 0, "xa_recover gave %d", n);
  for (int i = 0; i < n; ++i) {
    if (all[i].formatID == x->formatID && all[i].gtrid_length == x->gtrid_length &&
        all[i].bqual_length == x->bqual_length &&
        memcmp(all[i].data, x->data, (size_t)(x->gtrid_length + x->bqual_length)) == 0) {
      return 1;
    }
  }
  return 0;
}

/* start, one INSERT through the driver's functions, end(TMSUCCESS). */
static void Branch(int rmid, XID* x, int id) {
  char sql[128];
  CHECK_RC(XA_OK, g_sw->xa_start_entry(x, rmid, TMNOFLAGS));
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (%d)", g_table, id);
  CHECK(XaExec(sql), "INSERT inside the branch");
  CHECK_RC(XA_OK, g_sw->xa_end_entry(x, rmid, TMSUCCESS));
}

/* A thread that never opened the resource manager. */
static void* Stranger(void* arg) {
  XID* x = (XID*)arg;
  SQLHDBC dbc = (SQLHDBC)1;
  CHECK_RC(XAER_RMERR, g_sw->xa_start_entry(x, 1, TMNOFLAGS));
  CHECK_RC(SQL_ERROR, drvGetXaConnect(&dbc));
  CHECK(dbc == NULL, "SQLGetXaConnect left a handle on a thread without a resource manager");
  return NULL;
}

/* ---- a lost connection (PostgreSQL) ------------------------------------------------- */

/* The server process of the connection of this thread's resource manager. */
static long XaBackend(void) {
  long pid = -1;
  CHECK(XaQuery("SELECT pg_backend_pid()", &pid) && pid > 0, "the backend of the XA connection");
  return pid;
}

/* Whether the server process still runs, waiting up to five seconds for it
 * to end. */
static int BackendGone(long pid) {
  char sql[160];
  snprintf(sql, sizeof sql,
           "SELECT CAST(COUNT(*) AS INTEGER) FROM pg_stat_activity WHERE pid = %ld", pid);
  for (int i = 0; i < 100; ++i) {
    if (PeerScalar(sql) == 0) return 1;
    usleep(50000);
  }
  return 0;
}

/* Ends the server process of this thread's XA connection, as an
 * administrator or a crash would. */
static void KillBackend(void) {
  long pid = XaBackend();
  char sql[128];
  snprintf(sql, sizeof sql, "SELECT pg_terminate_backend(%ld)", pid);
  CHECK(PeerExec(sql), "pg_terminate_backend");
  CHECK(BackendGone(pid), "the XA connection's backend %ld ended", pid);
}

static char* g_connect;

/* A resource manager whose connection was lost: the end of its branch says
 * the work is gone, and so does a one-phase commit of it; it closes and
 * opens again. */
static void LostBeforeEnd(void) {
  XID x = MakeXid("lost-before-end");
  char sql[128];
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&x, 1, TMNOFLAGS));
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (20)", g_table);
  CHECK(XaExec(sql), "INSERT inside the branch");
  KillBackend();
  int end = g_sw->xa_end_entry(&x, 1, TMSUCCESS);
  CHECK(end == XA_RBCOMMFAIL || end == XAER_RMFAIL, "xa_end after the loss gave %d", end);
  int commit = g_sw->xa_commit_entry(&x, 1, TMONEPHASE);
  CHECK(commit >= XA_RBBASE && commit <= XA_RBEND, "one-phase commit of the lost branch gave %d",
        commit);
  CHECK(Rows() == g_rows, "the lost branch left nothing (%ld rows)", Rows());
  /* The branch is over for the thread: the resource manager closes. */
  CHECK_RC(XA_OK, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
}

/* A prepared branch, then the connection is lost: the resource manager is
 * unavailable (not failing) until it is closed and opened again, and then
 * recovers the branch, which commits. */
static void LostAfterPrepare(void) {
  XID x = MakeXid("lost-after-prepare");
  Branch(1, &x, 21);
  CHECK_RC(XA_OK, g_sw->xa_prepare_entry(&x, 1, TMNOFLAGS));
  KillBackend();
  XID all[64];
  CHECK_RC(XAER_RMFAIL, g_sw->xa_recover_entry(all, 64, 1, TMSTARTRSCAN | TMENDRSCAN));
  XID y = MakeXid("after-the-loss");
  CHECK_RC(XAER_RMFAIL, g_sw->xa_start_entry(&y, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
  CHECK(Recovered(1, &x), "the reopened resource manager lists the prepared branch");
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&x, 1, TMNOFLAGS));
  CHECK(Rows() == ++g_rows, "the recovered branch committed (%ld rows)", Rows());
}

/* Every way a branch can end leaves the resource manager free to close;
 * only a branch still active keeps it. */
static void BranchEndRoutes(void) {
  char sql[128];
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (30)", g_table);
  /* Rolled back without an end (the database accepts that). */
  XID a = MakeXid("rollback-unended");
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&a, 1, TMNOFLAGS));
  CHECK(XaExec(sql), "INSERT inside the branch");
  CHECK_RC(XA_OK, g_sw->xa_rollback_entry(&a, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
  /* An end the database fails (it cannot suspend): the association is
   * dissolved, the branch rolled back with the connection at the close. */
  XID b = MakeXid("end-fails");
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&b, 1, TMNOFLAGS));
  CHECK(XaExec(sql), "INSERT inside the branch");
  CHECK_RC(XAER_RMERR, g_sw->xa_end_entry(&b, 1, TMSUSPEND));
  CHECK_RC(XA_OK, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
  /* A one-phase commit the database refuses before the end changes
   * nothing: the branch is still active, so the close is refused, until the
   * branch ends. */
  XID c = MakeXid("commit-unended");
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&c, 1, TMNOFLAGS));
  CHECK_RC(XAER_PROTO, g_sw->xa_commit_entry(&c, 1, TMONEPHASE));
  CHECK_RC(XAER_PROTO, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_end_entry(&c, 1, TMSUCCESS));
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&c, 1, TMONEPHASE));
  CHECK_RC(XA_OK, g_sw->xa_close_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
  CHECK(Rows() == g_rows, "no route committed the INSERT (%ld rows)", Rows());
}

/* A thread that ends with its resource manager open and a branch active:
 * its connection goes with it (the branch is rolled back). */
static long g_leftBackend = -1;
static void* LeavesItOpen(void* arg) {
  (void)arg;
  char sql[128];
  XID x = MakeXid("thread-ends");
  CHECK_RC(XA_OK, g_sw->xa_open_entry(g_connect, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&x, 1, TMNOFLAGS));
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (31)", g_table);
  CHECK(XaExec(sql), "INSERT inside the branch");
  g_leftBackend = XaBackend();
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s <driver library> <data source> <pg|h2> <u|a>\n", argv[0]);
    return 2;
  }
  const char* driver = argv[1];
  const char* dsn = argv[2];
  g_pg = strcmp(argv[3], "pg") == 0;
  g_wide = strcmp(argv[4], "u") == 0;

  char connect[1024];
  if (g_pg) {
    const char* port = getenv("KX_PG_PORT");
    const char* user = getenv("KX_PG_USER");
    const char* password = getenv("KX_PG_PASSWORD");
    if (port == NULL || user == NULL || password == NULL) {
      fprintf(stderr, "KX_PG_PORT, KX_PG_USER and KX_PG_PASSWORD name the test server\n");
      return 2;
    }
    snprintf(connect, sizeof connect,
             "DSN=%s;URL={URL=jdbc:postgresql://127.0.0.1:%s/postgres};UID=%s;PWD={%s}", dsn,
             port, user, password);
  } else {
    snprintf(connect, sizeof connect, "DSN=%s", dsn);
  }

  /* The driver manager loads the driver for the second connection. */
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &g_peerEnv);
  SQLSetEnvAttr(g_peerEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, g_peerEnv, &g_peer);
  if (!SQL_SUCCEEDED(SQLDriverConnect(g_peer, NULL, (SQLCHAR*)connect, SQL_NTS, NULL, 0, NULL,
                                      SQL_DRIVER_NOPROMPT))) {
    fprintf(stderr, "second connection: %s\n", PeerDiag(SQL_HANDLE_DBC, g_peer));
    return 1;
  }

  void* lib = dlopen(driver, RTLD_NOW);
  if (lib == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  struct xa_switch_t* (*getSwitch)(void) = (struct xa_switch_t * (*)(void)) Need(lib, "znt_xa_switch");
  drvGetXaConnect = (SQLRETURN(*)(SQLHDBC*))Need(lib, "SQLGetXaConnect");
  drvGetXaEnv = (SQLRETURN(*)(SQLHENV*))Need(lib, "SQLGetXaEnv");
  *(void**)&drvAllocHandle = Need(lib, "SQLAllocHandle");
  *(void**)&drvFreeHandle = Need(lib, "SQLFreeHandle");
  *(void**)&drvFetch = Need(lib, "SQLFetch");
  *(void**)&drvGetData = Need(lib, "SQLGetData");
  if (g_wide) {
    *(void**)&drvExecDirectW = Need(lib, "SQLExecDirectW");
    *(void**)&drvGetDiagRecW = Need(lib, "SQLGetDiagRecW");
  } else {
    *(void**)&drvExecDirectA = Need(lib, "SQLExecDirect");
    *(void**)&drvGetDiagRecA = Need(lib, "SQLGetDiagRec");
  }

  g_sw = getSwitch();
  CHECK(g_sw != NULL && strcmp(g_sw->name, "QUILLMAR") == 0, "the switch names the resource manager");
  CHECK(g_sw->flags == 0 && g_sw->version == 0, "flags %ld version %ld", g_sw->flags, g_sw->version);

  snprintf(g_table, sizeof g_table, "kx_xa_mon_%d_%s", (int)getpid(), argv[4]);
  char sql[256];
  snprintf(sql, sizeof sql, "CREATE TABLE %s (id INTEGER)", g_table);
  if (!PeerExec(sql)) return 1;

  /* An open string without "DSN=" opens nothing. */
  char noDsn[] = "UID=nobody";
  CHECK_RC(XAER_RMERR, g_sw->xa_open_entry(noDsn, 1, TMNOFLAGS));

  CHECK_RC(XA_OK, g_sw->xa_open_entry(connect, 1, TMNOFLAGS));
  SQLHENV xaEnv = NULL;
  CHECK_RC(SQL_SUCCESS, drvGetXaEnv(&xaEnv));
  CHECK(xaEnv != NULL, "SQLGetXaEnv gave the shared environment");

  /* Prepared, invisible, recovered, then committed. */
  XID a = MakeXid("commit");
  Branch(1, &a, 1);
  CHECK_RC(XA_OK, g_sw->xa_prepare_entry(&a, 1, TMNOFLAGS));
  if (g_pg) CHECK(PgPrepared(&a) == 1, "the prepared branch is in pg_prepared_xacts");
  CHECK(Rows() == 0, "a prepared branch's row is invisible (%ld rows)", Rows());
  CHECK(Recovered(1, &a), "xa_recover lists the prepared branch");
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&a, 1, TMNOFLAGS));
  g_rows = 1;
  CHECK(Rows() == g_rows, "commit makes the row visible (%ld rows)", Rows());
  if (g_pg) CHECK(PgPrepared(&a) == 0, "a committed branch is no longer prepared");
  CHECK(!Recovered(1, &a), "a committed branch is not recovered");

  /* Prepared, then rolled back: nothing. */
  XID b = MakeXid("rollback");
  Branch(1, &b, 2);
  CHECK_RC(XA_OK, g_sw->xa_prepare_entry(&b, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_rollback_entry(&b, 1, TMNOFLAGS));
  CHECK(Rows() == g_rows, "rollback leaves nothing (%ld rows)", Rows());
  if (g_pg) CHECK(PgPrepared(&b) == 0, "a rolled-back branch is no longer prepared");
  CHECK(!Recovered(1, &b), "a rolled-back branch is not recovered");

  /* Committed in one phase. */
  XID c = MakeXid("onephase");
  Branch(1, &c, 3);
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&c, 1, TMONEPHASE));
  CHECK(Rows() == ++g_rows, "one-phase commit makes the row visible (%ld rows)", Rows());

  /* Forgetting a branch the database holds no heuristic outcome for:
   * PostgreSQL names no such branch, H2 accepts it as done. */
  XID unknown = MakeXid("unknown");
  int forgot = g_sw->xa_forget_entry(&unknown, 1, TMNOFLAGS);
  CHECK(forgot == (g_pg ? XAER_NOTA : XA_OK), "forget of an unknown branch gave %d", forgot);

  /* Another thread holds no resource manager. */
  XID d = MakeXid("stranger");
  pthread_t t;
  pthread_create(&t, NULL, Stranger, &d);
  pthread_join(t, NULL);

  /* Closing under an active branch is refused and changes nothing; a close
   * whose open string differs from the open's finds no resource manager. */
  XID e = MakeXid("outstanding");
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&e, 1, TMNOFLAGS));
  CHECK_RC(XAER_PROTO, g_sw->xa_close_entry(connect, 1, TMNOFLAGS));
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (5)", g_table);
  CHECK(XaExec(sql), "the branch still works after the refused close");
  CHECK_RC(XA_OK, g_sw->xa_end_entry(&e, 1, TMSUCCESS));
  CHECK_RC(XA_OK, g_sw->xa_rollback_entry(&e, 1, TMNOFLAGS));
  char other[1100];
  snprintf(other, sizeof other, "%s;", connect);
  CHECK_RC(XAER_RMERR, g_sw->xa_close_entry(other, 1, TMNOFLAGS));
  int handle = 0, result = 0;
  CHECK_RC(XAER_INVAL, g_sw->xa_complete_entry(NULL, &result, 1, TMNOFLAGS));
  (void)handle;

  /* A second resource manager on the same thread: both work, in one global
   * transaction with two branches, and both close. */
  CHECK_RC(XA_OK, g_sw->xa_open_entry(connect, 2, TMNOFLAGS));
  XID f = MakeXid("rm1");
  XID g = MakeXid("rm2");
  SQLHDBC first = NULL, second = NULL;
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&f, 1, TMNOFLAGS));
  drvGetXaConnect(&first);
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (10)", g_table);
  CHECK(XaExec(sql), "INSERT on the first resource manager");
  CHECK_RC(XA_OK, g_sw->xa_end_entry(&f, 1, TMSUCCESS));
  CHECK_RC(XA_OK, g_sw->xa_start_entry(&g, 2, TMNOFLAGS));
  drvGetXaConnect(&second);
  CHECK(first != NULL && second != NULL && first != second,
        "each resource manager has its own connection");
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (11)", g_table);
  CHECK(XaExec(sql), "INSERT on the second resource manager");
  CHECK_RC(XA_OK, g_sw->xa_end_entry(&g, 2, TMSUCCESS));
  CHECK_RC(XA_OK, g_sw->xa_prepare_entry(&f, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_prepare_entry(&g, 2, TMNOFLAGS));
  CHECK(Rows() == g_rows, "neither prepared branch is visible (%ld rows)", Rows());
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&f, 1, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_commit_entry(&g, 2, TMNOFLAGS));
  g_rows += 2;
  CHECK(Rows() == g_rows, "both branches committed (%ld rows)", Rows());
  CHECK_RC(XA_OK, g_sw->xa_close_entry(connect, 2, TMNOFLAGS));
  CHECK_RC(XA_OK, g_sw->xa_close_entry(connect, 1, TMNOFLAGS));

  if (g_pg) {
    g_connect = connect;
    CHECK_RC(XA_OK, g_sw->xa_open_entry(connect, 1, TMNOFLAGS));
    LostBeforeEnd();
    LostAfterPrepare();
    BranchEndRoutes();
    CHECK_RC(XA_OK, g_sw->xa_close_entry(connect, 1, TMNOFLAGS));
    pthread_t leaver;
    pthread_create(&leaver, NULL, LeavesItOpen, NULL);
    pthread_join(leaver, NULL);
    CHECK(g_leftBackend > 0 && BackendGone(g_leftBackend),
          "the connection of a thread that ended went with it");
    CHECK(Rows() == g_rows, "the ended thread's branch was rolled back (%ld rows)", Rows());
  }

  /* Nothing is left on the thread. */
  SQLHDBC none = (SQLHDBC)1;
  CHECK_RC(SQL_ERROR, drvGetXaConnect(&none));
  CHECK(none == NULL, "no connection after the last close");
  CHECK_RC(XAER_RMERR, g_sw->xa_start_entry(&f, 1, TMNOFLAGS));

  snprintf(sql, sizeof sql, "DROP TABLE %s", g_table);
  PeerExec(sql);
  SQLDisconnect(g_peer);
  SQLFreeHandle(SQL_HANDLE_DBC, g_peer);
  SQLFreeHandle(SQL_HANDLE_ENV, g_peerEnv);

  printf("%d checks, %d failed\n", g_checks, g_failed);
  return g_failed == 0 ? 0 : 1;
}
