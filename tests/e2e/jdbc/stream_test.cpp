// A large forward-only result is read from PostgreSQL a block at a time
// inside a transaction (its JDBC driver keeps the rest on the server), and
// still arrives whole and in order.
#include <string>

#include "road.h"

namespace kx::e2e {
namespace {

using PgStream = RoadTest;

TEST_P(PgStream, ResultInATransactionIsReadInBlocks) {
  constexpr int kRows = 25000;  // more than one block of the rows read at a time
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc_);
  ResetStmt();
  KX_STMT_OK(ExecDirect(stmt_, "SELECT streamed_g FROM generate_series(1, " + std::to_string(kRows) + ") AS streamed_g ORDER BY 1"));
  SQLINTEGER v = 0;
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &v, 0, nullptr));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(v, 1);
  // The open result is a portal on the server while its rows are read.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM pg_cursors WHERE statement LIKE '%streamed' || '_g%'"), "1");
  int expect = 2;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(v, expect++);
  }
  EXPECT_EQ(expect, kRows + 1);
  ResetStmt();
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
        SQL_HANDLE_DBC, dbc_);
}

INSTANTIATE_TEST_SUITE_P(Road, PgStream, ::testing::Values(kRoads[2], kRoads[3]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
