// Running out of memory while records grow: each allocation a call makes is
// failed in turn, and every one of them must end the call with HY001 and
// leave the handles usable (the sanitizer build finds what a failed path
// leaks). Only the allocations that ask not to throw are failed: those are
// the ones the driver checks itself.
#include <atomic>
#include <cstddef>
#include <functional>
#include <new>
#include <string>

#include "unit/odbc/stmt_fixture.h"

namespace {

// Counts down the allocations without exceptions; the one that reaches zero
// fails. Zero: none fails.
std::atomic<int> g_failAt{0};

void* Allocate(std::size_t n, bool array) noexcept {
  if (g_failAt.load() > 0 && g_failAt.fetch_sub(1) == 1) return nullptr;
  try {
    return array ? ::operator new[](n) : ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, false); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, true); }

namespace kx::testing {
namespace {

class AllocFailureTest : public StmtTest {
 protected:
  void TearDown() override {
    g_failAt = 0;
    StmtTest::TearDown();
  }

  // Runs call with its first, second, ... allocation failing until one run
  // makes no more allocations than that. Each failed run answers SQL_ERROR
  // with HY001 on the handle diag names; the clean run answers SQL_SUCCESS.
  void EachAllocationFails(const std::function<SQLRETURN()>& call,
                           const std::function<std::string()>& diag) {
    for (int n = 1; n < 100; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      g_failAt = n;
      const SQLRETURN rc = call();
      const bool failed = g_failAt.load() <= 0;
      g_failAt = 0;
      if (!failed) {
        EXPECT_EQ(rc, SQL_SUCCESS) << diag();
        EXPECT_GT(n, 1) << "the call made no allocation that could fail";
        return;
      }
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(diag(), "HY001");
    }
    ADD_FAILURE() << "the call never ran to its end";
  }
};

TEST_F(AllocFailureTest, ParameterBindingArrays) {
  SQLINTEGER value = 7;
  SQLLEN ind = 0;
  EachAllocationFails(
      [&] {
        return SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                                &ind);
      },
      [&] { return StmtState(stmt_); });
  const StmtRecord* st = Rec(stmt_);
  ASSERT_NE(StmtGetParamBinding(3, const_cast<StmtRecord*>(st)), nullptr);
  EXPECT_EQ(StmtGetParamBinding(3, const_cast<StmtRecord*>(st))->value, &value);
}

TEST_F(AllocFailureTest, DescriptorRecords) {
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  EachAllocationFails([&] { return SQLSetDescField(ard, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(4), 0); },
                      [&] { return State(SQL_HANDLE_DESC, ard); });
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLGetDescField(ard, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 4);
}

TEST_F(AllocFailureTest, StatementsAndTheirDescriptors) {
  SQLHSTMT s = SQL_NULL_HSTMT;
  EachAllocationFails(
      [&] {
        const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s);
        if (rc == SQL_ERROR) {
          EXPECT_EQ(s, static_cast<SQLHSTMT>(SQL_NULL_HSTMT));
        }
        return rc;
      },
      [&] { return State(SQL_HANDLE_DBC, dbc_); });
  ASSERT_NE(s, static_cast<SQLHSTMT>(SQL_NULL_HSTMT));
  extraStmts_.push_back(s);
  SQLHDESC ard = StmtDesc(s, SQL_ATTR_APP_ROW_DESC);
  EXPECT_NE(ard, static_cast<SQLHDESC>(SQL_NULL_HDESC));
}

TEST_F(AllocFailureTest, ExplicitDescriptors) {
  SQLHDESC d = SQL_NULL_HDESC;
  EachAllocationFails([&] { return SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &d); },
                      [&] { return State(SQL_HANDLE_DBC, dbc_); });
  ASSERT_NE(d, static_cast<SQLHDESC>(SQL_NULL_HDESC));
  descs_.push_back(d);
}

}  // namespace
}  // namespace kx::testing
