// The ODBC core for the fuzzers that drive it through its exports: the test
// agent under it, an ODBC 3 environment and one connection handle, made once
// per process. A private, empty driver-manager configuration keeps every
// settings read away from the machine's own files.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

#include "agent/build_flavor.h"
#include "odbc/handle_layer.h"
#include "odbc/libmain.h"
#include "odbc/records.h"
#include "support/test_agent.h"

namespace kx::fuzz {

struct CoreSession {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
};

inline CoreSession& Core() {
  static CoreSession s = [] {
    char dir[] = "/tmp/kx-fuzz-odbc.XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    static char sysIni[64], userIni[96];
    snprintf(sysIni, sizeof sysIni, "%s", dir);
    snprintf(userIni, sizeof userIni, "%s/odbc.ini", dir);
    for (const char* name : {"odbc.ini", "odbcinst.ini"}) {
      char path[128];
      snprintf(path, sizeof path, "%s/%s", dir, name);
      if (FILE* f = fopen(path, "w"); f != nullptr) fclose(f);
    }
    // The configuration goes when the fuzzer ends.
    static char dirPath[64];
    snprintf(dirPath, sizeof dirPath, "%s", dir);
    atexit([] {
      for (const char* name : {"odbc.ini", "odbcinst.ini"}) {
        char path[128];
        snprintf(path, sizeof path, "%s/%s", dirPath, name);
        unlink(path);
      }
      rmdir(dirPath);
    });
    setenv("ODBCSYSINI", sysIni, 1);
    setenv("ODBCINI", userIni, 1);
    SetUnicodeBuild(true);
    TestAgent_Reset();
    if (DriverAttach(nullptr) != 1) abort();
    CoreSession c;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &c.env) != SQL_SUCCESS) abort();
    SQLSetEnvAttr(c.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (SQLAllocHandle(SQL_HANDLE_DBC, c.env, &c.dbc) != SQL_SUCCESS) abort();
    return c;
  }();
  return s;
}

inline uint32_t HandleValue(SQLHANDLE h) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)); }

inline ConnRecord* ConnOf(SQLHDBC dbc) {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  return static_cast<ConnRecord*>(LookupHandle(HK_DBC, HandleValue(dbc)));
}

inline StmtRecord* StmtOf(SQLHSTMT stmt) {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  return static_cast<StmtRecord*>(LookupHandle(HK_STMT, HandleValue(stmt)));
}

// Reads every diagnostic record of a handle through a small buffer.
inline void DrainDiagnostics(SQLSMALLINT type, SQLHANDLE h) {
  for (SQLSMALLINT i = 1; i < 8; ++i) {
    SQLCHAR state[6];
    SQLCHAR text[24];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len))) break;
  }
}

}  // namespace kx::fuzz
