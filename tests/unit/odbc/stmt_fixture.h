// Shared set-up of the statement and descriptor tests: a connected connection
// on the test agent, statements and descriptors allocated through the exports,
// and access to the records behind the handles.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "odbc/desc.h"
#include "odbc/handle_layer.h"
#include "odbc/stmt.h"
#include "support/test_agent.h"
#include "unit/odbc/core_fixture.h"
#include "util/errcodes.h"

namespace kx::testing {

class StmtTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    AllocEnvAndConn(&env_, &dbc_);
    ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc_)));
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  }

  void TearDown() override {
    // Statements and user descriptors go first, so that nothing outlives its
    // connection whatever the connection close does with them.
    for (SQLHDESC d : descs_) SQLFreeHandle(SQL_HANDLE_DESC, d);
    for (SQLHSTMT s : extraStmts_) SQLFreeHandle(SQL_HANDLE_STMT, s);
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    CoreTest::TearDown();
  }

  SQLHSTMT NewStmt() {
    SQLHSTMT s = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s), SQL_SUCCESS);
    extraStmts_.push_back(s);
    return s;
  }

  SQLHDESC NewDesc() {
    SQLHDESC d = SQL_NULL_HDESC;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &d), SQL_SUCCESS);
    descs_.push_back(d);
    return d;
  }

  static uint32_t Value(SQLHANDLE h) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
  }

  static StmtRecord* Rec(SQLHSTMT s) {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    return static_cast<StmtRecord*>(LookupHandle(HK_STMT, Value(s)));
  }

  static DescRecord* DescRec(SQLHDESC d) {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    return static_cast<DescRecord*>(LookupHandle(HK_DESC, Value(d)));
  }

  static ConnRecord* ConnRec(SQLHDBC c) {
    std::lock_guard<std::recursive_mutex> lock(HandleLock());
    return static_cast<ConnRecord*>(LookupHandle(HK_DBC, Value(c)));
  }

  // The implicit descriptor a statement attribute names.
  static SQLHDESC StmtDesc(SQLHSTMT s, SQLINTEGER attr) {
    SQLHDESC d = SQL_NULL_HDESC;
    EXPECT_EQ(SQLGetStmtAttr(s, attr, &d, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
    return d;
  }

  // Puts a statement in the state an executed query leaves: a result whose
  // columns the test agent describes ("NAME:sqltype,...").
  static void OpenResult(SQLHSTMT s, const char* columns) {
    TestAgent_SetResult(columns, "");
    StmtRecord* st = Rec(s);
    ASSERT_NE(st, nullptr);
    st->state = STMT_PREPARED;
    st->flags |= SF_PREPARED | SF_EXECUTED;
  }

  // What a fetch does to bound columns: every bound target (and length
  // buffer) of the statement receives a row.
  static void WriteRowIntoBindings(SQLHSTMT s, unsigned char fill) {
    StmtRecord* st = Rec(s);
    for (ColBindingNode* n = st->colBindings; n != nullptr; n = n->next) {
      const ColBinding& b = n->binding;
      if (b.target != nullptr && b.bufferLength > 0) {
        std::memset(b.target, fill, static_cast<size_t>(b.bufferLength));
      }
      if (b.octetLength != nullptr) *b.octetLength = fill;
      if (b.indicator != nullptr) *b.indicator = fill;
    }
  }

  // The SQLSTATE of the first diagnostic of a statement or descriptor.
  static std::string StmtState(SQLHSTMT s) { return State(SQL_HANDLE_STMT, s); }
  static std::string DescState(SQLHDESC d) { return State(SQL_HANDLE_DESC, d); }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<SQLHSTMT> extraStmts_;
  std::vector<SQLHDESC> descs_;
};

}  // namespace kx::testing
