// Shared set-up of the core tests: the library attached with the test agent,
// fresh agent scripts for every test, and small helpers over the exports.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "agent/build_flavor.h"
#include "odbc/dispatch.h"
#include "odbc/handle_layer.h"
#include "odbc/libmain.h"
#include "support/test_agent.h"

namespace kx::testing {

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUnicodeBuild(true);
    TestAgent_Reset();
    ASSERT_EQ(DriverAttach(nullptr), 1);
  }
  void TearDown() override { DriverDetach(); }

  // An ODBC 3 environment with one allocated connection.
  void AllocEnvAndConn(SQLHENV* env, SQLHDBC* dbc) {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, *env, dbc), SQL_SUCCESS);
  }

  // Connects through a connect string that names no data source.
  static SQLRETURN Connect(SQLHDBC dbc) {
    SQLCHAR in[] = "JDBC=org.h2.Driver;URL=jdbc:h2:mem:t;UID=u;PWD=p";
    return SQLDriverConnect(dbc, nullptr, in, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  }

  // SQLSTATE and text of the first diagnostic of a handle ("" when none).
  static std::string State(SQLSMALLINT type, SQLHANDLE handle, std::string* text = nullptr) {
    SQLCHAR state[6] = {0};
    SQLCHAR message[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return "";
    if (text != nullptr) *text = reinterpret_cast<char*>(message);
    return reinterpret_cast<char*>(state);
  }

  static std::string LastConnect(const char* field) {
    char out[512] = {0};
    TestAgent_LastConnect(field, out, sizeof out);
    return out;
  }
};

}  // namespace kx::testing
