// Points the driver manager at the configuration generated into the build
// tree (odbc_config.cmake) before the first ODBC call of the test program.
// Include it in one source of an e2e program compiled with KX_E2E_ODBC_DIR.
#pragma once

#include <cstdlib>
#include <string>

namespace kx::e2e {

inline const bool kOdbcConfigSet = [] {
  const std::string dir = KX_E2E_ODBC_DIR;
  setenv("ODBCSYSINI", dir.c_str(), 1);
  setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
  return true;
}();

}  // namespace kx::e2e
