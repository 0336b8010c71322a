// Batch sizing of the keyed queries: the rows of one rowset are read in as
// few statements as the parameter limit allows, and a cursor for which no
// batch can be formed is refused instead of dividing by zero.
#include <gtest/gtest.h>

#include "scrs/sql_tree.h"
#include "scs/scs_cursor.h"
#include "util/errcodes.h"

namespace kx {
namespace {

TEST(KeyBatchSizes, RowsetsAreSplitByTheParameterLimit) {
  struct Case {
    int32_t rowset, maxParams, appParams, keys;
    int32_t batches, lastRows, rowsPerBatch;
  };
  const Case cases[] = {
      {20, 255, 0, 2, 1, 20, 20},    // one batch holds the rowset
      {100, 40, 0, 1, 3, 20, 40},    // 40 + 40 + 20
      {100, 40, 0, 2, 5, 20, 20},    // a multiple: the last batch is full
      {100, 40, 10, 3, 10, 10, 10},  // the application's markers take room first
      {1, 255, 0, 1, 1, 1, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.rowset << " rows, " << k.maxParams << " markers, " << k.keys << " keys");
    ScsConn conn;
    conn.maxParams = k.maxParams;
    ScsCursor c;
    c.connInfo = &conn;
    c.rowsetSize = k.rowset;
    c.appParamCount = static_cast<uint16_t>(k.appParams);
    int32_t batches = -1, lastRows = -1, perBatch = -1;
    ASSERT_EQ(scs_p_KeyBatchSizes(&c, k.keys, &batches, &lastRows, &perBatch), 0);
    EXPECT_EQ(batches, k.batches);
    EXPECT_EQ(lastRows, k.lastRows);
    EXPECT_EQ(perBatch, k.rowsPerBatch);
  }
}

TEST(KeyBatchSizes, NoBatchWithoutKeysOrRoomForOneKey) {
  ScsConn conn;
  conn.maxParams = 10;
  ScsCursor c;
  c.connInfo = &conn;
  c.rowsetSize = 10;
  int32_t batches = 0, lastRows = 0, perBatch = 0;
  EXPECT_EQ(scs_p_KeyBatchSizes(&c, 0, &batches, &lastRows, &perBatch), KX_ERR_GENERAL);
  c.appParamCount = 8;  // two markers left, a key of three columns
  EXPECT_EQ(scs_p_KeyBatchSizes(&c, 3, &batches, &lastRows, &perBatch), KX_ERR_GENERAL);
  c.appParamCount = 12;  // more markers than the limit
  EXPECT_EQ(scs_p_KeyBatchSizes(&c, 1, &batches, &lastRows, &perBatch), KX_ERR_GENERAL);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Positioned statements are taken apart into the table, the SET list and the
// cursor they name; meanwhile the data source prepares them without a row.
// Every other statement is left alone.
TEST(PositionedStatements, TakenApartIntoTableSetListAndCursor) {
  struct Case {
    const char* sql;
    int32_t kind;
    const char* table;
    const char* set;
    const char* cursor;
    const char* standIn;
  };
  const Case cases[] = {
      {"UPDATE t SET a = ?, b = 2 WHERE CURRENT OF c1", SQLN_UPDATEPOS, "t", "a = ?, b = 2", "c1",
       "UPDATE t SET a = ?, b = 2 WHERE 1 = 0"},
      {"DELETE FROM o.t WHERE CURRENT OF walker", SQLN_DELETEPOS, "o.t", "", "walker",
       "DELETE FROM o.t WHERE 1 = 0"},
      {"UPDATE t SET current_flag = 1 WHERE id = 3", 0, "", "", "", ""},
      {"SELECT a FROM t", 0, "", "", "", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sql);
    ScsCursor c;
    std::string standIn;
    EXPECT_EQ(scs_p_ParsePositioned(&c, k.sql, &standIn), k.kind != 0 ? 1 : 0);
    EXPECT_EQ(c.posKind, k.kind);
    if (k.kind == 0) continue;
    EXPECT_EQ(c.posTable, k.table);
    EXPECT_EQ(c.posSet, k.set);
    EXPECT_EQ(c.posCursor, k.cursor);
    EXPECT_EQ(standIn, k.standIn);
  }
}

}  // namespace
}  // namespace kx
