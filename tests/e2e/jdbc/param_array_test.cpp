// Parameter arrays of data changes, in both commit modes: what the
// application sees of every row (status array, rows processed, row count,
// diagnostics) and what the database keeps, whether the rows run one by one
// or as JDBC batches. The outcome is that of running the rows one at a time
// in order and stopping at the first that fails.
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

struct Outcome {
  SQLRETURN rc = SQL_ERROR;
  std::vector<SQLUSMALLINT> status;
  SQLULEN processed = 0;
  SQLLEN rowCount = -2;
  std::vector<std::string> states;   // every diagnostic record's SQLSTATE
};

class ParamArrays : public RoadTest {
 protected:
  void SetAutocommit(bool on) {
    KX_OK(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, dbc_);
  }

  // Runs sql with the rows (id, v) as one parameter array; operations, when
  // given, is the SQL_ATTR_PARAM_OPERATION_PTR array.
  Outcome Run(const std::string& sql, const std::vector<SQLINTEGER>& ids, const std::vector<SQLINTEGER>& vals,
              std::vector<SQLUSMALLINT>* operations = nullptr) {
    Outcome out;
    const size_t n = ids.size();
    out.status.assign(n, 0xEEEE);
    std::vector<SQLINTEGER> a = ids, b = vals;
    ResetStmt();
    EXPECT_TRUE(SQL_SUCCEEDED(Prepare(stmt_, sql))) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, out.status.data(), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &out.processed, 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_OPERATION_PTR, operations != nullptr ? operations->data() : nullptr, 0);
    SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, a.data(), 0, nullptr);
    SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, b.data(), 0, nullptr);
    out.rc = SQLExecute(stmt_);
    Collect(&out);
    Unbind();
    return out;
  }

  void Collect(Outcome* out) {
    if (SQL_SUCCEEDED(out->rc)) SQLRowCount(stmt_, &out->rowCount);
    for (SQLSMALLINT rec = 1;; ++rec) {
      SQLCHAR state[6] = {0}, text[512];
      SQLINTEGER native = 0;
      SQLSMALLINT len = 0;
      if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, rec, state, &native, text, sizeof text, &len))) break;
      out->states.emplace_back(reinterpret_cast<char*>(state));
    }
  }

  void Unbind() {
    ResetStmt();
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
  }

  void End(SQLSMALLINT how) { SQLEndTran(SQL_HANDLE_DBC, dbc_, how); }

  // The ids stored, in order, as "1,2,3".
  std::string Ids(const std::string& table) {
    ResetStmt();
    std::string ids;
    if (!SQL_SUCCEEDED(ExecDirect(stmt_, "SELECT id FROM " + table + " ORDER BY id"))) {
      return "<" + Diag(SQL_HANDLE_STMT, stmt_) + ">";
    }
    SQLINTEGER id = 0;
    SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr);
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) ids += (ids.empty() ? "" : ",") + std::to_string(id);
    ResetStmt();
    return ids;
  }

  std::string Count(const std::string& table) { return Scalar("SELECT COUNT(*) FROM " + table); }

  std::string NewTable() { return Table("parr", "id INTEGER PRIMARY KEY, v INTEGER CHECK (v >= 0)"); }
};

std::vector<SQLINTEGER> Range(int from, int n) {
  std::vector<SQLINTEGER> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = from + i;
  return v;
}

// Rows 4 and 8 of ten violate the CHECK: rows 1 to 3 run, row 4 fails with
// one diagnostic for it, rows 5 to 10 are not run. Autocommit keeps rows 1
// to 3; in a transaction PostgreSQL then refuses the rest of it, H2 keeps
// what ran before (a row inserted before the array as well).
TEST_P(ParamArrays, RowFailingPartWayStopsThereInBothCommitModes) {
  for (bool autocommit : {true, false}) {
    SCOPED_TRACE(autocommit ? "autocommit" : "manual commit");
    SetAutocommit(true);
    std::string table = NewTable();
    SetAutocommit(autocommit);
    if (!autocommit) Exec("INSERT INTO " + table + " VALUES (100, 1)");
    std::vector<SQLINTEGER> vals(10, 5);
    vals[3] = -1;
    vals[7] = -1;
    Outcome o = Run("INSERT INTO " + table + " VALUES (?, ?)", Range(1, 10), vals);
    EXPECT_EQ(o.rc, SQL_ERROR);
    const std::vector<SQLUSMALLINT> expect = {SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS,
                                              SQL_PARAM_ERROR,   SQL_PARAM_UNUSED,  SQL_PARAM_UNUSED,
                                              SQL_PARAM_UNUSED,  SQL_PARAM_UNUSED,  SQL_PARAM_UNUSED,
                                              SQL_PARAM_UNUSED};
    EXPECT_EQ(o.status, expect);
    EXPECT_EQ(o.processed, 4u);
    ASSERT_EQ(o.states.size(), 1u);
    EXPECT_EQ(o.states[0].substr(0, 2), "23") << o.states[0];
    if (autocommit) {
      EXPECT_EQ(Ids(table), "1,2,3");
    } else if (GetParam().postgres) {
      End(SQL_ROLLBACK);
      EXPECT_EQ(Ids(table), "");
    } else {
      EXPECT_EQ(Ids(table), "1,2,3,100");
      End(SQL_COMMIT);
      EXPECT_EQ(Ids(table), "1,2,3,100");
    }
    End(SQL_ROLLBACK);
    SetAutocommit(true);
  }
}

// Arrays of one row and of 5,000 (many batches), all rows stored and
// counted; in a transaction they stay until the commit. A failure deep in
// a later batch keeps every row before it and none after.
TEST_P(ParamArrays, SmallAndLargeArrays) {
  for (bool autocommit : {true, false}) {
    SCOPED_TRACE(autocommit ? "autocommit" : "manual commit");
    SetAutocommit(true);
    std::string table = NewTable();
    SetAutocommit(autocommit);
    std::string ins = "INSERT INTO " + table + " VALUES (?, ?)";
    Outcome one = Run(ins, {7}, {1});
    EXPECT_EQ(one.rc, SQL_SUCCESS);
    EXPECT_EQ(one.status, std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS});
    EXPECT_EQ(one.processed, 1u);
    EXPECT_EQ(one.rowCount, 1);

    Outcome many = Run(ins, Range(1000, 5000), std::vector<SQLINTEGER>(5000, 2));
    EXPECT_EQ(many.rc, SQL_SUCCESS);
    EXPECT_EQ(many.processed, 5000u);
    EXPECT_EQ(many.rowCount, 5000);
    size_t ok = 0;
    for (auto s : many.status) ok += s == SQL_PARAM_SUCCESS ? 1 : 0;
    EXPECT_EQ(ok, 5000u);
    if (!autocommit) End(SQL_COMMIT);
    EXPECT_EQ(Count(table), "5001");

    // Row 3,500 (index 3,499) is a duplicate key.
    std::vector<SQLINTEGER> ids = Range(20000, 5000);
    ids[3499] = 7;
    Outcome failing = Run(ins, ids, std::vector<SQLINTEGER>(5000, 3));
    EXPECT_EQ(failing.rc, SQL_ERROR);
    EXPECT_EQ(failing.processed, 3500u);
    EXPECT_EQ(failing.status[3498], SQL_PARAM_SUCCESS);
    EXPECT_EQ(failing.status[3499], SQL_PARAM_ERROR);
    EXPECT_EQ(failing.status[3500], SQL_PARAM_UNUSED);
    ASSERT_EQ(failing.states.size(), 1u);
    EXPECT_EQ(failing.states[0].substr(0, 2), "23") << failing.states[0];
    if (autocommit || !GetParam().postgres) {
      if (!autocommit) End(SQL_COMMIT);
      EXPECT_EQ(Count(table), "8500");
      EXPECT_EQ(Scalar("SELECT MAX(id) FROM " + table), "23498");
    }
    End(SQL_ROLLBACK);
    SetAutocommit(true);
  }
}

// An UPDATE array: the row count is the sum of the rows each set changed,
// sets that change nothing included.
TEST_P(ParamArrays, UpdateCountsAddUp) {
  for (bool autocommit : {true, false}) {
    SCOPED_TRACE(autocommit ? "autocommit" : "manual commit");
    SetAutocommit(true);
    std::string table = NewTable();
    Exec("INSERT INTO " + table + " VALUES (1, 10), (2, 10), (3, 20), (4, 30), (5, 30), (6, 30)");
    SetAutocommit(autocommit);
    Outcome o = Run("UPDATE " + table + " SET v = v + ? WHERE v = ?", {1, 1, 1, 1}, {10, 99, 30, 20});
    EXPECT_EQ(o.rc, SQL_SUCCESS);
    EXPECT_EQ(o.processed, 4u);
    EXPECT_EQ(o.rowCount, 6);
    if (!autocommit) End(SQL_COMMIT);
    EXPECT_EQ(Scalar("SELECT SUM(v) FROM " + table), "136");
    SetAutocommit(true);
  }
}

// Rows marked SQL_PARAM_IGNORE are not run and report SQL_PARAM_UNUSED.
TEST_P(ParamArrays, IgnoredRowsAreSkipped) {
  for (bool autocommit : {true, false}) {
    SCOPED_TRACE(autocommit ? "autocommit" : "manual commit");
    SetAutocommit(true);
    std::string table = NewTable();
    SetAutocommit(autocommit);
    std::vector<SQLUSMALLINT> ops(6, SQL_PARAM_PROCEED);
    ops[1] = SQL_PARAM_IGNORE;
    ops[4] = SQL_PARAM_IGNORE;
    Outcome o = Run("INSERT INTO " + table + " VALUES (?, ?)", Range(1, 6), std::vector<SQLINTEGER>(6, 1), &ops);
    EXPECT_EQ(o.rc, SQL_SUCCESS);
    const std::vector<SQLUSMALLINT> expect = {SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED,  SQL_PARAM_SUCCESS,
                                              SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED,  SQL_PARAM_SUCCESS};
    EXPECT_EQ(o.status, expect);
    EXPECT_EQ(o.rowCount, 4);
    if (!autocommit) End(SQL_COMMIT);
    EXPECT_EQ(Ids(table), "1,3,4,6");
    SetAutocommit(true);
  }
}

// Values given at execution time in a parameter array: one SQLParamData
// round per row, then every row stored.
TEST_P(ParamArrays, DataAtExecutionInAnArray) {
  for (bool autocommit : {true, false}) {
    SCOPED_TRACE(autocommit ? "autocommit" : "manual commit");
    SetAutocommit(true);
    std::string table = Table("pdae", "id INTEGER PRIMARY KEY, body VARCHAR(100)");
    SetAutocommit(autocommit);
    ResetStmt();
    KX_STMT_OK(Prepare(stmt_, "INSERT INTO " + table + " VALUES (?, ?)"));
    constexpr int kRows = 3;
    SQLINTEGER ids[kRows] = {1, 2, 3};
    SQLLEN lens[kRows];
    for (auto& l : lens) l = SQL_LEN_DATA_AT_EXEC(0);
    SQLUSMALLINT status[kRows] = {0, 0, 0};
    SQLULEN processed = 0;
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status, 0));
    KX_STMT_OK(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    KX_STMT_OK(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids, 0, nullptr));
    KX_STMT_OK(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 100, 0,
                                reinterpret_cast<SQLPOINTER>(2), 0, lens));
    ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLPOINTER token = nullptr;
    SQLRETURN rc;
    int rounds = 0;
    while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
      std::string piece = "body " + std::to_string(++rounds);
      KX_STMT_OK(SQLPutData(stmt_, piece.data(), static_cast<SQLLEN>(piece.size())));
      ASSERT_LE(rounds, kRows);
    }
    KX_STMT_OK(rc);
    EXPECT_EQ(rounds, kRows);
    EXPECT_EQ(processed, static_cast<SQLULEN>(kRows));
    for (auto s : status) EXPECT_EQ(s, SQL_PARAM_SUCCESS);
    Unbind();
    if (!autocommit) End(SQL_COMMIT);
    EXPECT_EQ(Scalar("SELECT body FROM " + table + " WHERE id = 3"), "body 3");
    EXPECT_EQ(Count(table), "3");
    SetAutocommit(true);
  }
}

// What SQLGetInfo says of parameter arrays: one row count for the whole
// array, one result per parameter set of a query.
TEST_P(ParamArrays, InfoDescribesArrays) {
  SQLUINTEGER counts = 0, selects = 0;
  KX_OK(SQLGetInfo(dbc_, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr), SQL_HANDLE_DBC, dbc_);
  KX_OK(SQLGetInfo(dbc_, SQL_PARAM_ARRAY_SELECTS, &selects, sizeof selects, nullptr), SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(counts, static_cast<SQLUINTEGER>(SQL_PARC_NO_BATCH));
  EXPECT_EQ(selects, static_cast<SQLUINTEGER>(SQL_PAS_BATCH));
}

INSTANTIATE_TEST_SUITE_P(Road, ParamArrays, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
