// The rowset road: without a scrollable cursor layer the connection does not
// support it; with the layer (a stand-in serving forward-only rowsets) the
// rowset is copied to column-wise and row-wise arrays with row statuses.
#include "odbc/exec/fetch.h"
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

class FetchRowsetTest : public FetchTest {
 protected:
  // n rows of (NAME varchar(20), ID integer): "r<i>", i.
  void OpenRows(int n) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 1; i <= n; ++i) rows.push_back({"r" + std::to_string(i), std::to_string(i)});
    Open(stmt_, {{"NAME", SQL_VARCHAR, RBT_CHAR_NTS, 20}, {"ID", SQL_INTEGER, RBT_SLONG, 4}}, rows);
  }
  void SetRowsetSize(SQLULEN n) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(n), 0),
              SQL_SUCCESS);
  }
};

TEST_F(FetchRowsetTest, WithoutTheCursorLayerRowsetsArePositionedOpsAreNotSupported) {
  OpenRows(3);
  SetRowsetSize(2);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "IM001");
  SQLULEN rows = 0;
  SQLUSMALLINT status[2];
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "IM001");
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "IM001");
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "IM001");
  // Rowset size 1 keeps the forward-only road, which needs no layer.
  SetRowsetSize(1);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
}

// Column-wise: text steps by its buffer length, a fixed-size C type by its
// own size whatever buffer length was bound, lengths by 8 bytes.
TEST_F(FetchRowsetTest, ColumnWiseArraysAcrossRowsetsToTheEnd) {
  InstallRowsetLayer(5);
  OpenRows(12);
  SetRowsetSize(5);
  char names[5][20];
  SQLLEN nameLen[5];
  SQLINTEGER ids[5];
  SQLLEN idInd[5];
  SQLUSMALLINT status[5];
  SQLULEN fetched = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, names, 20, nameLen), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 100, idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  int next = 1;
  for (int set = 0; set < 3; ++set) {
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << set;
    const int expect = set < 2 ? 5 : 2;
    EXPECT_EQ(fetched, static_cast<SQLULEN>(expect));
    for (int k = 0; k < 5; ++k) {
      if (k < expect) {
        EXPECT_EQ(status[k], SQL_ROW_SUCCESS);
        EXPECT_EQ(std::string(names[k]), "r" + std::to_string(next));
        EXPECT_EQ(nameLen[k], static_cast<SQLLEN>(std::strlen(names[k])));
        EXPECT_EQ(ids[k], next);
        EXPECT_EQ(idInd[k], 4);
        ++next;
      } else {
        EXPECT_EQ(status[k], SQL_ROW_NOROW);
      }
    }
  }
  EXPECT_EQ(Rec(stmt_)->rowNumber, 12u);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(Rec(stmt_)->rowNumber, 12u);
}

TEST_F(FetchRowsetTest, RowWiseBindingStepsByTheBindType) {
  InstallRowsetLayer(3);
  OpenRows(3);
  SetRowsetSize(3);
  struct Row {
    char name[20];
    SQLLEN nameLen;
    SQLINTEGER id;
    SQLLEN idInd;
  } rows[3] = {};
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].nameLen),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &rows[0].id, 0, &rows[0].idInd), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(std::string(rows[k].name), "r" + std::to_string(k + 1));
    EXPECT_EQ(rows[k].nameLen, 2);
    EXPECT_EQ(rows[k].id, k + 1);
    EXPECT_EQ(rows[k].idInd, 4);
  }
}

TEST_F(FetchRowsetTest, BindOffsetMovesTheWholeArray) {
  InstallRowsetLayer(2);
  OpenRows(2);
  SetRowsetSize(2);
  SQLINTEGER ids[4] = {};
  SQLLEN ind[4] = {};
  SQLLEN offset = 2 * sizeof(SQLINTEGER);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  // The offset is in bytes for every address: the lengths move by 8 here.
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, ind), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(ids[2], 1);
  EXPECT_EQ(ids[3], 2);
  EXPECT_EQ(ind[1], 4);
  EXPECT_EQ(ind[2], 4);
}

TEST_F(FetchRowsetTest, ErrorAndDeletedRowsAndLeftoverLengths) {
  InstallRowsetLayer(4);
  OpenRows(4);
  SetRowsetSize(4);
  TheScript().rowStatus = {{2, SQL_ROW_ERROR}, {3, SQL_ROW_DELETED}};
  SQLINTEGER ids[4] = {-1, -1, -1, -1};
  SQLLEN ind[4] = {0, 0, 0, SQL_COLUMN_IGNORE};
  SQLUSMALLINT status[4];
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, ind), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(stmt_), "01S01");  // error in row
  EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[1], SQL_ROW_ERROR);
  EXPECT_EQ(status[2], SQL_ROW_DELETED);
  EXPECT_EQ(status[3], SQL_ROW_SUCCESS);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], -1);
  EXPECT_EQ(ids[2], -1);
  // A length left at SQL_COLUMN_IGNORE is written over like any other.
  EXPECT_EQ(ids[3], 4);
  EXPECT_EQ(ind[3], 4);
}

TEST_F(FetchRowsetTest, OnlyErrorRowsMakeAnError) {
  InstallRowsetLayer(2);
  OpenRows(2);
  SetRowsetSize(2);
  TheScript().rowStatus = {{1, SQL_ROW_ERROR}, {2, SQL_ROW_ERROR}};
  SQLINTEGER ids[2];
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY000");
}

TEST_F(FetchRowsetTest, GetDataReadsTheSetPosRowOfTheRowset) {
  InstallRowsetLayer(3);
  OpenRows(6);
  SetRowsetSize(3);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER id = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_SLONG, &id, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(id, 1);
  TheScript().rowStatus = {{4, SQL_ROW_DELETED}};
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_SLONG, &id, 0, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY109");
}

TEST_F(FetchRowsetTest, TemporaryStatusArrayIsNotKept) {
  InstallRowsetLayer(2);
  OpenRows(2);
  SetRowsetSize(2);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(Rec(stmt_)->cursor.appStatusArray, nullptr);
}

TEST_F(FetchRowsetTest, ExtendedFetchWritesItsOwnArrays) {
  InstallRowsetLayer(2);
  OpenRows(3);
  SetRowsetSize(2);
  SQLULEN rows = 0;
  SQLUSMALLINT status[2] = {9, 9};
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
  EXPECT_EQ(rows, 2u);
  EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
  EXPECT_EQ(rows, 1u);
  EXPECT_EQ(status[1], SQL_ROW_NOROW);
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status), SQL_NO_DATA);
}

// A forward-only cursor keeps no row numbers: the bookmark column is refused
// with the cursor position's code, and a bookmark C type other than binary
// or UBIGINT is out of range.
TEST_F(FetchRowsetTest, BookmarksNeedAPositionedCursor) {
  OpenRows(1);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLLEN ind = 0;
  SQLINTEGER small = 0;
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_SLONG, &small, 0, &ind), SQL_ERROR);
  EXPECT_EQ(StmtState(stmt_), "HY003");
  unsigned char bm[8];
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_BINARY, bm, sizeof bm, &ind), SQL_ERROR);
  EXPECT_EQ(Rec(stmt_)->error, KX_ERR_CURSOR_STATE);
}

}  // namespace
}  // namespace kx::testing

namespace kx::testing {
namespace {

// A rowset as the cursor layer leaves it on a static cursor: rows 11..13 of
// the result, SetPos row 1.
class RowsetCopyTest : public FetchRowsetTest {
 protected:
  void SetUpRowset(std::vector<int16_t> statuses) {
    OpenRows(static_cast<int>(statuses.size()));
    SetRowsetSize(statuses.size());
    StmtRecord* st = Rec(stmt_);
    ASSERT_NE(StmtDescribeCols(st), nullptr);
    RowStatusSet* set = nullptr;
    ASSERT_EQ(RowStatusSetNew(&set, static_cast<int32_t>(statuses.size())), 0);
    ASSERT_EQ(FillRows(st->agentStmt, set->rows, 0, statuses.size()), 0);
    for (size_t k = 0; k < statuses.size(); ++k) set->statuses[k] = statuses[k];
    st->cursor.rowStatus = set;
    st->cursor.cursorType = SQL_CURSOR_STATIC;
    st->cursor.useBookmarks = 1;
    st->cursor.rowsetStart = 11;
    st->cursor.setPosRow = 1;
  }
};

TEST_F(RowsetCopyTest, BookmarkOfTheSetPosRow) {
  SetUpRowset({0, 0, 0});
  uint64_t bm = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(stmt_, 0, SQL_C_UBIGINT, &bm, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(bm, 11u);
  EXPECT_EQ(ind, 8);
  // A binary bookmark target shorter than the bookmark is refused, not overrun.
  unsigned char small[6];
  std::memset(small, 0xEE, sizeof small);
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_BINARY, small, 4, &ind), SQL_ERROR);
  EXPECT_EQ(small[4], 0xEE);
}

TEST_F(RowsetCopyTest, RetrieveDataOffStillFillsTheBookmarkColumn) {
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_BOOKMARK_PERSISTENCE, SQL_BP_SCROLL);
  SetUpRowset({0, 1, 0});
  uint64_t bms[3] = {};
  SQLINTEGER ids[3] = {-1, -1, -1};
  ASSERT_EQ(SQLBindCol(stmt_, 0, SQL_C_UBIGINT, bms, 8, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  StmtRecord* st = Rec(stmt_);
  st->cursor.retrieveData = 0;
  uint16_t status[3];
  EXPECT_EQ(FetchRowsetToBindings(st, status, 0, -1), SQL_SUCCESS);
  EXPECT_EQ(bms[0], 11u);
  EXPECT_EQ(bms[1], 12u);  // deleted rows keep their bookmark
  EXPECT_EQ(bms[2], 13u);
  EXPECT_EQ(ids[0], -1);
  EXPECT_EQ(status[1], SQL_ROW_DELETED);
  // With data on, a deleted row still gets none.
  st->cursor.retrieveData = 1;
  EXPECT_EQ(FetchRowsetToBindings(st, status, 0, -1), SQL_SUCCESS);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], -1);
  EXPECT_EQ(ids[2], 3);
}

// A refresh skips rows the row-operation array ignores and reports updated
// and added rows as plain successes.
TEST_F(RowsetCopyTest, RefreshHonoursTheRowOperationArray) {
  SetUpRowset({SQL_ROW_UPDATED, SQL_ROW_ADDED, 0});
  SQLINTEGER ids[3] = {-1, -1, -1};
  SQLUSMALLINT ops[3] = {SQL_ROW_PROCEED, SQL_ROW_PROCEED, SQL_ROW_IGNORE};
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, ops, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
  uint16_t status[3] = {9, 9, 9};
  EXPECT_EQ(FetchRowsetToBindings(Rec(stmt_), status, 0, SQL_REFRESH), SQL_SUCCESS);
  EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
  EXPECT_EQ(status[2], 9);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], -1);
  // One row only: rowset row 2.
  ids[1] = -1;
  EXPECT_EQ(FetchRowsetToBindings(Rec(stmt_), status, 2, -1), SQL_SUCCESS);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);
}

}  // namespace
}  // namespace kx::testing
