// unixODBC's installer library, loaded by name at first use. Its absence is
// reported once on the log and standard error and never blocks: every read
// then finds nothing.
#include "odbc/odbc_installer.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>

#include "util/log.h"

namespace kx {

namespace {

constexpr const char* kInstallerName = "libodbcinst.so.2";

std::atomic<void*> g_odbcinst{nullptr};
std::atomic<bool> g_reportedMissingLibrary{false};
std::atomic<bool> g_reportedMissingEntry{false};

void Report(std::atomic<bool>& once, const char* text) {
  if (once.exchange(true)) return;
  // Into the log when one is asked for; standard error is the application's.
  LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", text);
}

using GetProfileFn = int (*)(const char*, const char*, const char*, char*, int, const char*);
using ReadFileDsnFn = int (*)(const char*, const char*, const char*, char*, unsigned short,
                              unsigned short*);
using GetProfileWFn = int (*)(const SQLWCHAR*, const SQLWCHAR*, const SQLWCHAR*, SQLWCHAR*, int,
                              const SQLWCHAR*);
using ReadFileDsnWFn = int (*)(const SQLWCHAR*, const SQLWCHAR*, const SQLWCHAR*, SQLWCHAR*,
                               unsigned short, unsigned short*);

}  // namespace

void* OdbcInstLoad() {
  void* lib = g_odbcinst.load();
  if (lib != nullptr) return lib;
  // Two first uses may both load it; dlopen counts references, either serves.
  lib = dlopen(kInstallerName, RTLD_NOW | RTLD_LOCAL);
  if (lib != nullptr) g_odbcinst.store(lib);
  return lib;
}

void* OdbcInstProc(const char* name) {
  void* lib = OdbcInstLoad();
  if (lib == nullptr) {
    Report(g_reportedMissingLibrary,
           "The ODBC installer library (libodbcinst.so.2) is not installed on this system.");
    return nullptr;
  }
  void* entry = dlsym(lib, name);
  if (entry == nullptr) {
    char text[256];
    snprintf(text, sizeof text, "The loaded ODBC installer library does not provide %s.", name);
    Report(g_reportedMissingEntry, text);
  }
  return entry;
}

int SQLGetPrivateProfileString(const char* section, const char* entry, const char* defaultValue,
                               char* buffer, int bufferSize, const char* fileName) {
  auto fn = reinterpret_cast<GetProfileFn>(OdbcInstProc("SQLGetPrivateProfileString"));
  if (fn == nullptr || buffer == nullptr || bufferSize <= 0) return 0;
  int n = fn(section, entry, defaultValue, buffer, bufferSize, fileName);
  buffer[bufferSize - 1] = '\0';
  return n;
}

int SQLReadFileDSN(const char* fileName, const char* appName, const char* keyName, char* buffer,
                   unsigned short bufferSize, unsigned short* length) {
  auto fn = reinterpret_cast<ReadFileDsnFn>(OdbcInstProc("SQLReadFileDSN"));
  if (fn == nullptr || buffer == nullptr || bufferSize == 0) return 0;
  int ok = fn(fileName, appName, keyName, buffer, bufferSize, length);
  buffer[bufferSize - 1] = '\0';
  return ok;
}

int SQLGetPrivateProfileStringW(const SQLWCHAR* section, const SQLWCHAR* entry,
                                const SQLWCHAR* defaultValue, SQLWCHAR* buffer, int bufferSize,
                                const SQLWCHAR* fileName) {
  auto fn = reinterpret_cast<GetProfileWFn>(OdbcInstProc("SQLGetPrivateProfileStringW"));
  if (fn == nullptr || buffer == nullptr || bufferSize <= 0) return 0;
  int n = fn(section, entry, defaultValue, buffer, bufferSize, fileName);
  buffer[bufferSize - 1] = 0;
  return n;
}

int SQLReadFileDSNW(const SQLWCHAR* fileName, const SQLWCHAR* appName, const SQLWCHAR* keyName,
                    SQLWCHAR* buffer, unsigned short bufferSize, unsigned short* length) {
  auto fn = reinterpret_cast<ReadFileDsnWFn>(OdbcInstProc("SQLReadFileDSNW"));
  if (fn == nullptr || buffer == nullptr || bufferSize == 0) return 0;
  int ok = fn(fileName, appName, keyName, buffer, bufferSize, length);
  buffer[bufferSize - 1] = 0;
  return ok;
}

}  // namespace kx
