// The cursor layer's composite operations over the JDBC agent (H2 in
// memory): execute-and-describe, allocate-and-prepare, the column types of a
// result, long values kept aside from a rowset and read in pieces, batches
// of statements, execute-direct with extended descriptors, and the
// connection's capability text.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "agent_fixture.h"
#include "scs/scs_layer.h"
#include "util/errcodes.h"
#include "util/value_rec.h"

namespace kxtest {
namespace {

using namespace kx;

// An agent session through the cursor layer's table, as the driver installs it.
class LayeredSession : public AgentSession {
 public:
  LayeredSession() {
    AgentBinding binding{};
    EXPECT_EQ(0, JDB_Register(&binding));
    EXPECT_EQ(0, SCS_Install(&binding));
    ops = binding.ops;
  }
  void SetInt(AgentHandle h, AgentPropertyId id, int32_t v) {
    const int32_t rc = ops->DRV_SetProperty(h, id, &v);
    EXPECT_TRUE(rc == 0 || rc == KX_ERR_OPTION_CHANGED) << rc << AgentMessages(ops, h);
  }
  int32_t GetInt(AgentHandle h, AgentPropertyId id) {
    int32_t v = -99;
    uint16_t length = 0;
    EXPECT_EQ(0, ops->DRV_GetProperty(h, id, &v, 4, &length));
    return v;
  }
  // id 1..n, name "name <id>".
  void Items(int n) {
    Exec("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20))");
    for (int i = 1; i <= n; ++i) {
      Exec("INSERT INTO items VALUES (" + std::to_string(i) + ", 'name " + std::to_string(i) + "')");
    }
  }
};

class Composite : public ::testing::TestWithParam<bool> {};  // wide client or not

TEST_P(Composite, ExecuteDescribeRunsOneStatementAndDescribesIt) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_exd", GetParam())) << AgentMessages(a.ops, a.server);
  a.Items(3);
  for (const bool extended : {false, true}) {
    SCOPED_TRACE(extended ? "extended" : "plain");
    AgentHandle h = a.Stmt();
    a.SetInt(h, AP_STMT_CURSOR_TYPE, SQL_CURSOR_STATIC);
    ParamBlock p(1, 1);
    p.Column(RBT_SLONG, 4);
    p.Set<int32_t>(0, 0, 1);
    const SCS_PARAMDESC desc{SQL_INTEGER, SQL_C_SLONG, 10, 0, SQL_PARAM_INPUT};
    int32_t rowset = 500;  // more than the connection allows: the size in effect comes back
    uint16_t colCount = 0, paramCount = 0;
    AgentColDesc* cols = nullptr;
    AgentColDesc* params = nullptr;
    int16_t attrCount = -1;
    ValueRec* attrs = nullptr;
    int32_t rowCount = -1;
    const char* sql = "SELECT id, name FROM items WHERE id > ? ORDER BY id";
    const int32_t rc =
        extended ? a.ops->DRV_ExecuteDescribeEx(h, sql, p.Release(), 1, &desc, &rowset, &colCount, &cols,
                                                &paramCount, &params, &attrCount, &attrs, &rowCount)
                 : a.ops->DRV_ExecuteDescribe(h, sql, p.Release(), 1, &desc, &rowset, &colCount, &cols,
                                              &paramCount, &params, &rowCount);
    ASSERT_EQ(0, rc) << AgentMessages(a.ops, h);
    EXPECT_EQ(rowset, 100);
    EXPECT_EQ(a.GetInt(h, AP_STMT_ROWSET_SIZE), 100);
    ASSERT_EQ(colCount, 2);
    EXPECT_STREQ(cols[0].name, "ID");
    EXPECT_STREQ(cols[1].name, "NAME");
    EXPECT_EQ(paramCount, 1);
    EXPECT_EQ(rowCount, 2);  // a static cursor knows its rows once it has read them
    if (extended) {
      EXPECT_GE(attrCount, 0);
      for (int16_t i = 0; i < attrCount; ++i) VAL_Clear(&attrs[i]);
      std::free(attrs);
    }
    RB_FreeColDescs(cols, colCount);
    RB_FreeColDescs(params, paramCount);
    // The statement ran with the parameter: rows 2 and 3.
    RowStatusSet* set = nullptr;
    uint32_t got = 0;
    int32_t total = 0;
    ASSERT_EQ(0, a.ops->DRV_FetchScroll(h, &set, 1, &got, &total, SQL_FETCH_ABSOLUTE)) << AgentMessages(a.ops, h);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(total, 2);
    RowStatusSetFree(&set);
    a.ops->DRV_FreeStmt(h);
  }
  // A statement that does not prepare hands out nothing.
  AgentHandle h = a.Stmt();
  int32_t rowset = 1;
  uint16_t colCount = 7, paramCount = 7;
  AgentColDesc* cols = nullptr;
  AgentColDesc* params = nullptr;
  int32_t rowCount = -1;
  EXPECT_NE(0, a.ops->DRV_ExecuteDescribe(h, "SELECT nothing FROM nowhere", nullptr, 0, nullptr, &rowset, &colCount,
                                          &cols, &paramCount, &params, &rowCount));
  EXPECT_EQ(colCount, 0);
  EXPECT_EQ(cols, nullptr);
  EXPECT_EQ(params, nullptr);
  EXPECT_NE(AgentMessages(a.ops, h), "");
  // A data change reports its row count.
  ASSERT_EQ(0, a.ops->DRV_ExecuteDescribe(h, "UPDATE items SET name = 'x' WHERE id < 3", nullptr, 0, nullptr, &rowset,
                                          &colCount, &cols, &paramCount, &params, &rowCount))
      << AgentMessages(a.ops, h);
  EXPECT_EQ(rowCount, 2);
  EXPECT_EQ(colCount, 0);
  RB_FreeColDescs(cols, colCount);
  RB_FreeColDescs(params, paramCount);
}

TEST_P(Composite, AllocPrepareMakesAPreparedCursorOrLeavesNothing) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_alp", GetParam())) << AgentMessages(a.ops, a.server);
  a.Items(2);
  AgentHandle h = 0;
  ASSERT_EQ(0, a.ops->DRV_AllocPrepare(a.conn, "SELECT id FROM items", SQL_CONCUR_READ_ONLY, SQL_CURSOR_STATIC, &h))
      << AgentMessages(a.ops, a.conn);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(a.GetInt(h, AP_STMT_CURSOR_TYPE), SQL_CURSOR_STATIC);
  EXPECT_EQ(a.GetInt(h, AP_STMT_CONCURRENCY), SQL_CONCUR_READ_ONLY);
  EXPECT_EQ(0, a.ops->DRV_Execute(h)) << AgentMessages(a.ops, h);
  a.ops->DRV_FreeStmt(h);
  // Without text the statement is only allocated.
  h = 0;
  ASSERT_EQ(0, a.ops->DRV_AllocPrepare(a.conn, nullptr, SQL_CONCUR_READ_ONLY, SQL_CURSOR_FORWARD_ONLY, &h));
  ASSERT_NE(h, 0u);
  EXPECT_EQ(0, a.ops->DRV_Prepare(h, "SELECT id FROM items")) << AgentMessages(a.ops, h);
  a.ops->DRV_FreeStmt(h);
  // A text that does not prepare: no statement, and the reason is the
  // connection's to tell (once).
  h = 77;
  EXPECT_NE(0, a.ops->DRV_AllocPrepare(a.conn, "SELECT nothing FROM nowhere", SQL_CONCUR_READ_ONLY,
                                       SQL_CURSOR_STATIC, &h));
  EXPECT_EQ(h, 0u);
  const std::string why = AgentMessages(a.ops, a.conn);
  EXPECT_NE(why.find("NOWHERE"), std::string::npos) << why;
  EXPECT_NE(why.find("[SQLSTATE:42"), std::string::npos) << why;
  EXPECT_EQ(AgentMessages(a.ops, a.conn), "");
}

TEST_P(Composite, DescribeColTypesGivesTheStorageOfEachColumn) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_dct", GetParam())) << AgentMessages(a.ops, a.server);
  a.Items(1);
  AgentHandle h = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(h, "SELECT id, name FROM items"));
  ASSERT_EQ(0, a.ops->DRV_Execute(h)) << AgentMessages(a.ops, h);
  Block work;
  uint16_t count = 0;
  AgentColDesc* cols = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeColTypes(h, &count, &cols, &work.rb)) << AgentMessages(a.ops, h);
  ASSERT_EQ(count, 2);
  ASSERT_NE(cols, nullptr);
  // The types a block of the result carries.
  Block rows;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(h, 1, &rows.rb)) << AgentMessages(a.ops, h);
  ASSERT_EQ(rows.rb.colCount, 2);
  // The length is the element's width, in characters for 16-bit text.
  for (int k = 0; k < 2; ++k) {
    const RowBufferColumn& col = rows.rb.columns[k];
    EXPECT_EQ(cols[k].storageType, static_cast<int32_t>(col.type)) << k;
    const uint32_t expected = col.type == RBT_WCHAR || col.type == RBT_WCHAR_NTS ? col.width / 2
                              : col.type == RBT_WCHAR_LEN4                      ? (col.width - 4) / 2
                                                                                : col.width;
    EXPECT_EQ(cols[k].elementLength, static_cast<int32_t>(expected)) << k;
  }
  RB_FreeColDescs(cols, count);
  // The count alone.
  Block again;
  count = 0;
  EXPECT_EQ(0, a.ops->DRV_DescribeColTypes(h, &count, nullptr, &again.rb));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(KX_ERR_BAD_ARGUMENT, a.ops->DRV_DescribeColTypes(h, &count, nullptr, nullptr));
  a.ops->DRV_FreeStmt(h);
}

// A value of exactly 60000 characters stays in the rowset; one longer is kept
// aside and read in pieces; a forward-only cursor keeps nothing and leaves
// its long values to the agent, which has no piecewise reading (IM001).
TEST_P(Composite, LongValuesAreKeptAsideAndReadInPieces) {
  const bool wide = GetParam();
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_long", wide)) << AgentMessages(a.ops, a.server);
  a.Exec("CREATE TABLE docs (id INTEGER PRIMARY KEY, doc CLOB)");
  a.Exec("INSERT INTO docs VALUES (1, REPEAT('a', 60000))");
  a.Exec("INSERT INTO docs VALUES (2, REPEAT('b', 60001))");
  a.Exec("INSERT INTO docs VALUES (3, NULL)");
  AgentHandle h = a.Stmt();
  a.SetInt(h, AP_STMT_CURSOR_TYPE, SQL_CURSOR_STATIC);
  a.SetInt(h, AP_STMT_ROWSET_SIZE, 3);
  ASSERT_EQ(0, a.ops->DRV_Prepare(h, "SELECT id, doc FROM docs ORDER BY id"));
  ASSERT_EQ(0, a.ops->DRV_Execute(h)) << AgentMessages(a.ops, h);
  void* piece = nullptr;
  int32_t length = -1, type = -1, left = 0;
  // Nothing kept yet.
  EXPECT_EQ(KX_ERR_NO_DATA_FOUND, a.ops->DRV_GetLongDataPiece(h, 2, 2, 100, &piece, &length, &type, &left));
  EXPECT_EQ(left, -4);
  RowStatusSet* set = nullptr;
  uint32_t got = 0;
  int32_t total = 0;
  ASSERT_EQ(0, a.ops->DRV_FetchKeepLongData(h, &set, 1, &got, &total, SQL_FETCH_ABSOLUTE)) << AgentMessages(a.ops, h);
  ASSERT_EQ(got, 3u);
  const RowBufferColumn& doc = set->rows->columns[1];
  ASSERT_TRUE(RB_IsPtrType(doc.type)) << doc.type;
  EXPECT_EQ(doc.indicators[0], RB_IND_DATA);
  EXPECT_EQ(RB_GetPtrValue(RB_Element(&doc, 0)).length, 60000u);
  EXPECT_EQ(doc.indicators[1], RB_IND_LONG);
  EXPECT_EQ(RB_GetPtrValue(RB_Element(&doc, 1)).block, nullptr);
  EXPECT_EQ(doc.indicators[2], RB_IND_NULL);
  RowStatusSetFree(&set);

  // Values not kept, and places outside the rowset.
  struct Refusal {
    int32_t column, row, code;
  };
  const Refusal refusals[] = {
      {2, 1, KX_ERR_NO_DATA_FOUND}, {2, 3, KX_ERR_NO_DATA_FOUND}, {1, 2, KX_ERR_NO_DATA_FOUND},
      {3, 2, KX_ERR_BAD_ARGUMENT},  {0, 2, KX_ERR_BAD_ARGUMENT},  {2, 4, KX_ERR_BAD_ARGUMENT},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(std::to_string(r.column) + "," + std::to_string(r.row));
    EXPECT_EQ(r.code, a.ops->DRV_GetLongDataPiece(h, r.column, r.row, 100, &piece, &length, &type, &left));
    EXPECT_EQ(piece, nullptr);
  }

  // The kept value in pieces of at most 25000 characters.
  const uint32_t unit = wide ? 2 : 1;
  const uint32_t bytes = 60001 * unit;
  std::string value;
  std::vector<int32_t> lefts;
  for (int guard = 0; guard < 10; ++guard) {
    ASSERT_EQ(0, a.ops->DRV_GetLongDataPiece(h, 2, 2, 25000, &piece, &length, &type, &left));
    lefts.push_back(left);
    if (left == 0) {
      EXPECT_EQ(piece, nullptr);
      break;
    }
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(type, wide ? RBT_WCHAR : RBT_CHAR);
    value.append(static_cast<const char*>(piece), static_cast<size_t>(length));
    std::free(piece);
    piece = nullptr;
  }
  const std::vector<int32_t> expected = {static_cast<int32_t>(bytes), static_cast<int32_t>(bytes - 25000 * unit),
                                         static_cast<int32_t>(bytes - 50000 * unit), 0};
  EXPECT_EQ(lefts, expected);
  ASSERT_EQ(value.size(), bytes);
  for (size_t i = 0; i < value.size(); i += unit) ASSERT_EQ(value[i], 'b') << i;

  // The next fetch forgets what the last one kept.
  ASSERT_EQ(0, a.ops->DRV_FetchKeepLongData(h, &set, 3, &got, &total, SQL_FETCH_ABSOLUTE)) << AgentMessages(a.ops, h);
  RowStatusSetFree(&set);
  EXPECT_EQ(KX_ERR_NO_DATA_FOUND, a.ops->DRV_GetLongDataPiece(h, 2, 1, 100, &piece, &length, &type, &left));
  a.ops->DRV_FreeStmt(h);

  // Forward-only: piecewise reading is the agent's, so nothing is kept
  // aside where it could not be read back; the values stay in the rowset.
  h = a.Stmt();
  a.SetInt(h, AP_STMT_ROWSET_SIZE, 3);
  ASSERT_EQ(0, a.ops->DRV_Prepare(h, "SELECT id, doc FROM docs ORDER BY id"));
  ASSERT_EQ(0, a.ops->DRV_Execute(h)) << AgentMessages(a.ops, h);
  ASSERT_EQ(0, a.ops->DRV_FetchKeepLongData(h, &set, 0, &got, &total, SQL_FETCH_NEXT)) << AgentMessages(a.ops, h);
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(set->rows->columns[1].indicators[1], RB_IND_DATA);
  EXPECT_EQ(RB_GetPtrValue(RB_Element(&set->rows->columns[1], 1)).length, 60001u);
  RowStatusSetFree(&set);
  EXPECT_EQ(KX_ERR_NOT_SUPPORTED, a.ops->DRV_GetLongDataPiece(h, 2, 1, 100, &piece, &length, &type, &left));
  a.ops->DRV_FreeStmt(h);
}

TEST_P(Composite, BatchesRunDataStatementsAndStopAtAQuery) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_batch", GetParam())) << AgentMessages(a.ops, a.server);
  a.Items(4);
  AgentHandle h = a.Stmt();
  ParamBlock p(2, 1);
  p.Column(RBT_SLONG, 4);
  p.Column(RBT_CHAR_NTS, 20);
  p.Set<int32_t>(0, 0, 9);
  p.Text(1, 0, "nine");
  const SCS_PARAMDESC descs[2] = {{SQL_INTEGER, SQL_C_SLONG, 10, 0, SQL_PARAM_INPUT},
                                  {SQL_VARCHAR, SQL_C_CHAR, 20, 0, SQL_PARAM_INPUT}};
  char insert[] = "INSERT INTO items VALUES (?, ?)";
  char update[] = "UPDATE items SET name = 'even' WHERE MOD(id, 2) = 0";
  char remove[] = "  DELETE FROM items WHERE id = 1";
  char query[] = "(SELECT id FROM items)";
  AgentBatchEntry dml[3] = {{insert, 2, const_cast<SCS_PARAMDESC*>(descs), p.Release()},
                            {update, 0, nullptr, nullptr},
                            {remove, 0, nullptr, nullptr}};
  int16_t done = -1;
  int32_t counts[3] = {-9, -9, -9};
  ASSERT_EQ(0, a.ops->DRV_ExecuteBatch(h, 3, dml, &done, counts)) << AgentMessages(a.ops, h);
  EXPECT_EQ(done, 3);
  EXPECT_EQ(counts[0], 1);
  EXPECT_EQ(counts[1], 2);
  EXPECT_EQ(counts[2], 1);
  // A query ends the batch: the entries before it ran, none after.
  char last[] = "DELETE FROM items";
  AgentBatchEntry mixed[3] = {{update, 0, nullptr, nullptr}, {query, 0, nullptr, nullptr}, {last, 0, nullptr, nullptr}};
  done = -1;
  EXPECT_EQ(KX_ERR_DDL_DML_ONLY, a.ops->DRV_ExecuteBatch(h, 3, mixed, &done, counts));
  EXPECT_EQ(done, 1);
  EXPECT_EQ(counts[0], 2);
  // A failing statement ends it too, with its own code and messages.
  char broken[] = "DELETE FROM nowhere";
  AgentBatchEntry failing[2] = {{update, 0, nullptr, nullptr}, {broken, 0, nullptr, nullptr}};
  done = -1;
  EXPECT_NE(0, a.ops->DRV_ExecuteBatch(h, 2, failing, &done, counts));
  EXPECT_EQ(done, 1);
  EXPECT_NE(AgentMessages(a.ops, h).find("NOWHERE"), std::string::npos);
  // An entry without text runs the statement prepared last.
  AgentBatchEntry prepared[1] = {{nullptr, 0, nullptr, nullptr}};
  ASSERT_EQ(0, a.ops->DRV_Prepare(h, "UPDATE items SET name = 'again' WHERE id = 9"));
  done = -1;
  ASSERT_EQ(0, a.ops->DRV_ExecuteBatch(h, 1, prepared, &done, counts)) << AgentMessages(a.ops, h);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(counts[0], 1);
  ASSERT_EQ(0, a.ops->DRV_Prepare(h, "SELECT id FROM items"));
  EXPECT_EQ(KX_ERR_DDL_DML_ONLY, a.ops->DRV_ExecuteBatch(h, 1, prepared, &done, counts));
  EXPECT_EQ(done, 0);
  a.ops->DRV_FreeStmt(h);
  // What the table holds: 2, 3, 4 and 9, the even ones renamed.
  AgentHandle q = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(
                   q, "SELECT CAST(COUNT(*) AS INTEGER) FROM items WHERE name = 'even' OR id IN (3, 9)"));
  ASSERT_EQ(0, a.ops->DRV_Execute(q));
  Block rows;
  ASSERT_EQ(0, a.ops->DRV_FetchBlock(q, 1, &rows.rb));
  ASSERT_EQ(rows.rb.rowCount, 1);
  ASSERT_EQ(rows.rb.columns[0].type, RBT_SLONG);
  EXPECT_EQ(rows.Get<int32_t>(0, 0), 4);
  a.ops->DRV_FreeStmt(q);
}

// Execute-direct with extended (named) descriptors: the agent has no slot of
// its own for them, so the layer runs the statement with their plain
// descriptors, by position, and keeps them for its own statements (a keyset
// cursor's by-key reads run with the application's values).
TEST_P(Composite, ExecDirectExRunsWithExtendedDescriptors) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_exdx", GetParam())) << AgentMessages(a.ops, a.server);
  a.Items(6);
  EXPECT_NE(a.ops->DRV_ExecDirectEx, nullptr);
  EXPECT_NE(a.ops->DRV_SetParamInfoEx, nullptr);
  AgentHandle h = a.Stmt();
  const SCS_PARAMDESC_EX insert[1] = {{{SQL_INTEGER, SQL_C_SLONG, 10, 0, SQL_PARAM_INPUT}, "id"}};
  ParamBlock row(1, 1);
  row.Column(RBT_SLONG, 4);
  row.Set<int32_t>(0, 0, 7);
  ASSERT_EQ(0, a.ops->DRV_ExecDirectEx(h, "INSERT INTO items VALUES (?, 'seven')", row.Release(), 1, insert))
      << AgentMessages(a.ops, h);
  a.ops->DRV_FreeStmt(h);
  // A keyset cursor over a statement with a marker described that way.
  h = a.Stmt();
  a.SetInt(h, AP_STMT_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  a.SetInt(h, AP_STMT_ROWSET_SIZE, 10);
  const SCS_PARAMDESC_EX above{{SQL_INTEGER, SQL_C_SLONG, 10, 0, SQL_PARAM_INPUT}, "low"};
  ParamBlock low(1, 1);
  low.Column(RBT_SLONG, 4);
  low.Set<int32_t>(0, 0, 4);
  ASSERT_EQ(0, a.ops->DRV_ExecDirectEx(h, "SELECT id, name FROM items WHERE id > ? ORDER BY id", low.Release(), 1,
                                      &above))
      << AgentMessages(a.ops, h);
  EXPECT_EQ(a.GetInt(h, AP_STMT_ROW_COUNT), 3);
  RowStatusSet* set = nullptr;
  uint32_t got = 0;
  int32_t total = 0;
  ASSERT_EQ(0, a.ops->DRV_FetchScroll(h, &set, 1, &got, &total, SQL_FETCH_ABSOLUTE)) << AgentMessages(a.ops, h);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(got, 3u);
  int32_t ids[3] = {};
  for (int r = 0; r < 3 && r < set->rows->rowCount; ++r) {
    std::memcpy(&ids[r], RB_Element(&set->rows->columns[0], static_cast<size_t>(r)), 4);
  }
  EXPECT_EQ(ids[0], 5);
  EXPECT_EQ(ids[2], 7);
  RowStatusSetFree(&set);
  // Without text it runs the statement prepared last, and an unknown
  // statement is refused.
  ParamBlock again(1, 1);
  again.Column(RBT_SLONG, 4);
  again.Set<int32_t>(0, 0, 6);
  ASSERT_EQ(0, a.ops->DRV_ExecDirectEx(h, nullptr, again.Release(), 1, &above)) << AgentMessages(a.ops, h);
  EXPECT_EQ(a.GetInt(h, AP_STMT_ROW_COUNT), 1);
  a.ops->DRV_FreeStmt(h);
  EXPECT_EQ(KX_ERR_BAD_ARGUMENT, a.ops->DRV_SetParamInfoEx(AgentHandle{0x7FFFFFF0}, 1, &above));
}

// The connection's capability text: version 001.005, then twelve digits
// from the agent's capability mask and answers.
TEST_P(Composite, CapabilityTextSummarisesTheConnection) {
  LayeredSession a;
  ASSERT_EQ(0, a.ConnectH2("composite_cap", GetParam())) << AgentMessages(a.ops, a.server);
  char text[64] = {};
  uint16_t length = 0;
  ASSERT_EQ(0, a.ops->DRV_GetProperty(a.conn, AP_CONN_CAPABILITY_TEXT, text, sizeof text, &length));
  const std::string got = text;
  ASSERT_EQ(got.size(), 20u) << got;
  EXPECT_EQ(length, 20);
  EXPECT_EQ(got.substr(0, 8), "001.005:");
  const auto mask = static_cast<uint32_t>(a.GetInt(a.conn, AP_CONN_CAPABILITY_MASK));
  auto digit = [&](bool on) { return on ? '1' : '0'; };
  int32_t commit = 0;
  uint16_t n = 0;
  ASSERT_EQ(0, a.ops->DRV_GetProperty(a.conn, AP_CONN_GETINFO_INT + SQL_CURSOR_COMMIT_BEHAVIOR, &commit, 4, &n));
  const std::string want = std::string("001.005:") + digit(mask & CAP_HAS_SCRL_CURS) + digit(mask & CAP_HAS_EXECUTE2) +
                           digit(mask & CAP_HAS_PARAM_OP) + digit(mask & CAP_HAS_DYN_MIX_CURS) +
                           digit(mask & CAP_SP_OUT_DEFER_FETCH) + "1" + std::to_string(commit) + "00" +
                           digit(mask & CAP_EXT_DESCRIBE) + digit(mask & CAP_DTC) + digit(mask & CAP_FAILOVER);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.substr(8, 4), "1111");  // this agent scrolls, executes, takes arrays and dynamic cursors
  // Cut to the caller's buffer, the whole length still told.
  char small[6] = {};
  ASSERT_EQ(0, a.ops->DRV_GetProperty(a.conn, AP_CONN_CAPABILITY_TEXT, small, sizeof small, &length));
  EXPECT_EQ(std::string(small), "001.0");
  EXPECT_EQ(length, 20);
  // The layer's answer for its own connections only.
  EXPECT_EQ(KX_ERR_BAD_ARGUMENT,
            a.ops->DRV_GetProperty(AgentHandle{0x7FFFFFF0}, AP_CONN_CAPABILITY_TEXT, text, sizeof text, &length));
}

// Every composite slot is the layer's.
TEST(CompositeSlots, EveryCompositeSlotIsTheLayers) {
  LayeredSession a;
  EXPECT_NE(a.ops->DRV_ExecDirectEx, nullptr);
  EXPECT_NE(a.ops->DRV_SetParamInfoEx, nullptr);
  EXPECT_NE(a.ops->DRV_ExecuteDescribe, nullptr);
  EXPECT_NE(a.ops->DRV_ExecuteDescribeEx, nullptr);
  EXPECT_NE(a.ops->DRV_AllocPrepare, nullptr);
  EXPECT_NE(a.ops->DRV_DescribeColTypes, nullptr);
  EXPECT_NE(a.ops->DRV_FetchKeepLongData, nullptr);
  EXPECT_NE(a.ops->DRV_GetLongDataPiece, nullptr);
  EXPECT_NE(a.ops->DRV_ExecuteBatch, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Client, Composite, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Wide" : "Narrow"); });

}  // namespace
}  // namespace kxtest
