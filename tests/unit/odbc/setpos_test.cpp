// SQLSetPos against a stand-in of the cursor layer that records the block it
// is handed: each row writes exactly the columns its lengths name, a default C
// type takes the column's SQL type, a type no value can be read from is
// refused, fixed-size arrays step by their own size whatever the buffer
// length, a length beyond the buffer never makes a value read past it, the
// statement's parameter set size stays the application's, and the layer's
// per-row answers become the right return code and statuses.
#include <optional>

#include "odbc/exec/fetch.h"
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

struct SetPosSeen {
  int calls = 0;
  int32_t row = 0;
  int32_t operation = -1;
  std::vector<uint16_t> columns;
  std::vector<uint32_t> types;
  // Per block column and row: nullopt for NULL, "<ignored>", else the value
  // (text without its length prefix, an integer as decimal text).
  std::vector<std::vector<std::optional<std::string>>> cells;
  int32_t answer = 0;
  std::vector<uint16_t> statuses;  // what the layer reports
};

SetPosSeen& Seen() {
  static SetPosSeen s;
  return s;
}

std::optional<std::string> CellOf(const RowBufferColumn& c, int32_t r) {
  if (c.indicators[r] == RB_IND_NULL) return std::nullopt;
  if (c.indicators[r] == RB_IND_IGNORE) return std::string("<ignored>");
  const unsigned char* e = RB_Element(&c, static_cast<size_t>(r));
  switch (c.type) {
    case RBT_CHAR_LEN4: {
      uint32_t n = 0;
      std::memcpy(&n, e, 4);
      return std::string(reinterpret_cast<const char*>(e + 4), n);
    }
    case RBT_SLONG: {
      int32_t v = 0;
      std::memcpy(&v, e, 4);
      return std::to_string(v);
    }
    case RBT_DOUBLE: {
      double v = 0;
      std::memcpy(&v, e, 8);
      return std::to_string(v);
    }
    default:
      return std::string("<type ") + std::to_string(c.type) + ">";
  }
}

int32_t StandInSetPos(AgentHandle, int32_t row, int32_t operation, int32_t, uint16_t** statuses, int32_t* count,
                      RowBuffer* data, uint16_t* columns, uint16_t columnCount) {
  SetPosSeen& s = Seen();
  ++s.calls;
  s.row = row;
  s.operation = operation;
  s.columns.assign(columns, columns + columnCount);
  s.types.clear();
  s.cells.clear();
  for (uint16_t k = 0; data != nullptr && k < data->colCount; ++k) {
    s.types.push_back(data->columns[k].type);
    std::vector<std::optional<std::string>> col;
    for (int32_t r = 0; r < data->rowCount; ++r) col.push_back(CellOf(data->columns[k], r));
    s.cells.push_back(col);
  }
  if (data != nullptr) {
    RB_Free(data);
    std::free(data);
  }
  std::free(columns);
  if (statuses != nullptr && !s.statuses.empty()) {
    *statuses = static_cast<uint16_t*>(std::calloc(s.statuses.size(), sizeof(uint16_t)));
    std::memcpy(*statuses, s.statuses.data(), s.statuses.size() * sizeof(uint16_t));
    if (count != nullptr) *count = static_cast<int32_t>(s.statuses.size());
  }
  return s.answer;
}

class SetPosTest : public FetchTest {
 protected:
  // A keyset-driven cursor under values concurrency positioned on a rowset
  // of n rows (NAME varchar(20), ID integer): "r<i>", i.
  void Rowset(int n) {
    Seen() = SetPosSeen{};
    InstallRowsetLayer(n);
    table_.DRV_SetPos = StandInSetPos;
    std::vector<std::vector<Cell>> rows;
    for (int i = 1; i <= n; ++i) rows.push_back({"r" + std::to_string(i), std::to_string(i)});
    Open(stmt_, {{"NAME", SQL_VARCHAR, RBT_CHAR_NTS, 20}, {"ID", SQL_INTEGER, RBT_SLONG, 4}}, rows);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0),
              SQL_SUCCESS);
    StmtRecord* st = Rec(stmt_);
    ASSERT_NE(StmtDescribeCols(st), nullptr);
    RowStatusSet* set = nullptr;
    ASSERT_EQ(RowStatusSetNew(&set, n), 0);
    ASSERT_EQ(FillRows(st->agentStmt, set->rows, 0, static_cast<size_t>(n)), 0);
    for (int k = 0; k < n; ++k) set->statuses[k] = SQL_ROW_SUCCESS;
    st->cursor.rowStatus = set;
    st->cursor.cursorType = SQL_CURSOR_KEYSET_DRIVEN;
    st->cursor.concurrency = SQL_CONCUR_VALUES;
    st->cursor.rowsetStart = 1;
    st->cursor.setPosRow = 1;
    // As a fetch leaves it: the rowset in hand has the size in force.
    st->cursor.flags = static_cast<uint16_t>(st->cursor.flags & ~SCS_FLAG_ROWSET_CHANGED);
  }
};

TEST_F(SetPosTest, EachRowWritesTheColumnsItsLengthsName) {
  Rowset(3);
  char names[3][20] = {"a", "bb", "ccc"};
  SQLLEN nameLen[3] = {SQL_COLUMN_IGNORE, SQL_NTS, SQL_NTS};
  // A fixed-size type steps by its own size, whatever buffer length came.
  SQLINTEGER ids[3] = {10, 20, 30};
  SQLLEN idInd[3] = {0, SQL_COLUMN_IGNORE, SQL_NULL_DATA};
  SQLUSMALLINT ops[3] = {SQL_ROW_PROCEED, SQL_ROW_PROCEED, SQL_ROW_PROCEED};
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, names, sizeof names[0], nameLen), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 100, idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, ops, 0), SQL_SUCCESS);
  Seen().statuses = {SQL_ROW_UPDATED, SQL_ROW_UPDATED, SQL_ROW_UPDATED};
  ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << StmtState(stmt_);
  const SetPosSeen& s = Seen();
  EXPECT_EQ(s.row, -2);
  EXPECT_EQ(s.columns, (std::vector<uint16_t>{1, 2}));
  ASSERT_EQ(s.cells.size(), 2u);
  using V = std::vector<std::optional<std::string>>;
  EXPECT_EQ(s.cells[0], (V{"<ignored>", "bb", "ccc"}));
  EXPECT_EQ(s.cells[1], (V{"10", "<ignored>", std::nullopt}));
  // A row the row-operation array ignores has nothing to write.
  ops[1] = SQL_ROW_IGNORE;
  ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(s.cells[0], (V{"<ignored>", "<ignored>", "ccc"}));
  EXPECT_EQ(s.cells[1], (V{"10", "<ignored>", std::nullopt}));
  // A column every row ignores is no column of the operation.
  nameLen[2] = SQL_COLUMN_IGNORE;
  ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(s.columns, (std::vector<uint16_t>{2}));
}

TEST_F(SetPosTest, DefaultCTypesTakeTheColumnTypeAndUnreadableTypesAreRefused) {
  Rowset(2);
  SQLINTEGER ids[2] = {7, 8};
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_DEFAULT, ids, 0, nullptr), SQL_SUCCESS);
  Seen().statuses = {SQL_ROW_UPDATED};
  ASSERT_EQ(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << StmtState(stmt_);
  ASSERT_EQ(Seen().types.size(), 1u);
  EXPECT_EQ(Seen().types[0], RBT_SLONG);
  EXPECT_EQ(Seen().cells[0][0], std::optional<std::string>("8"));
  // An interval cannot be read as any column value here.
  SQL_INTERVAL_STRUCT iv[2] = {};
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_INTERVAL_DAY, iv, sizeof iv[0], nullptr), SQL_SUCCESS);
  const int before = Seen().calls;
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07006");
  EXPECT_EQ(Seen().calls, before);
  // A column bound past the result's columns is named as such.
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 5, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "07009");
  EXPECT_EQ(Seen().calls, before);
}

TEST_F(SetPosTest, LengthsBeyondTheBufferAndTheParameterSetSize) {
  Rowset(1);
  char name[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminator
  SQLLEN len = 1000;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, name, sizeof name, &len), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0), SQL_SUCCESS);
  Seen().statuses = {SQL_ROW_UPDATED};
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(Seen().cells[0][0], std::optional<std::string>("abcdefgh"));
  len = SQL_NTS;  // still bounded by the buffer
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(Seen().cells[0][0], std::optional<std::string>("abcdefgh"));
  len = -7;  // no length at all
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY090");
  SQLULEN paramset = 0;
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, &paramset, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(paramset, 3u);
}

TEST_F(SetPosTest, LayerAnswersBecomeReturnCodesAndStatuses) {
  Rowset(3);
  SQLINTEGER ids[3] = {1, 2, 3};
  SQLUSMALLINT status[3] = {9, 9, 9};
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
  // Some rows changed and none changed: 01S04 and 01S03, which ODBC 3 reports
  // as 01001.
  struct Case {
    int32_t answer;
    std::vector<uint16_t> statuses;
    SQLRETURN rc;
    const char* state;
  };
  const Case cases[] = {
      {0, {SQL_ROW_UPDATED, SQL_ROW_UPDATED, SQL_ROW_UPDATED}, SQL_SUCCESS, ""},
      {KX_ERR_MANY_ROWS_CHANGED, {SQL_ROW_UPDATED, SQL_ROW_ERROR, SQL_ROW_UPDATED}, SQL_SUCCESS_WITH_INFO, "01001"},
      {KX_ERR_NO_ROWS_CHANGED, {SQL_ROW_ERROR, SQL_ROW_ERROR, SQL_ROW_ERROR}, SQL_ERROR, "01001"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.answer);
    Seen().answer = k.answer;
    Seen().statuses = k.statuses;
    EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), k.rc);
    EXPECT_EQ(StmtState(stmt_), k.state);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(status[r], k.statuses[static_cast<size_t>(r)]) << r;
  }
  // Deleting row 2 hands the layer the rowset with only row 2 wanted.
  for (int k = 0; k < 3; ++k) Rec(stmt_)->cursor.rowStatus->statuses[k] = SQL_ROW_SUCCESS;
  Seen().answer = 0;
  Seen().statuses = {SQL_ROW_DELETED};
  ASSERT_EQ(SQLSetPos(stmt_, 2, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  ASSERT_EQ(Seen().cells.size(), 1u);
  EXPECT_EQ(Seen().cells[0][0], std::optional<std::string>("<ignored>"));
  EXPECT_NE(Seen().cells[0][1], std::optional<std::string>("<ignored>"));
  EXPECT_EQ(Seen().cells[0][2], std::optional<std::string>("<ignored>"));
  EXPECT_EQ(status[1], SQL_ROW_DELETED);
  // A deleted row cannot be changed; beyond the rowset is no row.
  EXPECT_EQ(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY109");
  EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY107");
}

}  // namespace
}  // namespace kx::testing
