// unixODBC's installer library (libodbcinst.so.2), loaded by name at first use
// and kept for the life of the process. The forwarders answer 0 when the
// library or the entry is missing; the first failure of each kind is reported
// once on the log and standard error, never in a blocking box.
#pragma once

#include <sql.h>

namespace kx {

// Library handle, or NULL when it cannot be loaded.
void* OdbcInstLoad();
// Entry address, or NULL (the library is loaded on demand).
void* OdbcInstProc(const char* name);

// Same arguments and results as the installer functions of these names.
int SQLGetPrivateProfileString(const char* section, const char* entry, const char* defaultValue,
                               char* buffer, int bufferSize, const char* fileName);
int SQLReadFileDSN(const char* fileName, const char* appName, const char* keyName, char* buffer,
                   unsigned short bufferSize, unsigned short* length);
int SQLGetPrivateProfileStringW(const SQLWCHAR* section, const SQLWCHAR* entry,
                                const SQLWCHAR* defaultValue, SQLWCHAR* buffer, int bufferSize,
                                const SQLWCHAR* fileName);
int SQLReadFileDSNW(const SQLWCHAR* fileName, const SQLWCHAR* appName, const SQLWCHAR* keyName,
                    SQLWCHAR* buffer, unsigned short bufferSize, unsigned short* length);

}  // namespace kx
