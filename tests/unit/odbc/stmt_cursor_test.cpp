// The statement's cursor position over a scripted static result: the target
// rows the scroll orientations ask for, where the position ends up, and the
// row numbers and statuses of the current rowset.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "odbc/cursor_state.h"
#include "util/errcodes.h"

namespace kx {
namespace {

// A cursor layer over a result of `rows` rows: it records each target row and
// delivers the rows of the rowset it names.
struct Script {
  int32_t rows = 25;
  int32_t rowsetSize = 10;
  std::vector<int32_t> targets;
  const char* infoText = "";
} g_script;

int32_t FakeGetProperty(AgentHandle, AgentPropertyId id, void* out, uint16_t capacity, uint16_t* length) {
  if (id == AP_CONN_GETINFO_INT + SQL_FETCH_DIRECTION) {
    const int32_t all = 0xFF;
    std::memcpy(out, &all, 4);
    if (length != nullptr) *length = 4;
    return 0;
  }
  if (id == AP_CONN_GETINFO_TEXT + SQL_DBMS_NAME) {
    const size_t n = std::strlen(g_script.infoText);
    if (n + 1 > capacity) return 15;
    std::memcpy(out, g_script.infoText, n + 1);
    if (length != nullptr) *length = static_cast<uint16_t>(n);
    return 0;
  }
  return 1;
}

int32_t FakeExtendedFetch(AgentHandle, RowStatusSet** set, int32_t row, uint32_t* rows, int32_t* total) {
  g_script.targets.push_back(row);
  *total = g_script.rows;
  // Counted from the end, as the cursor layer counts: 0 the last rowset.
  if (row == 0) row = std::max(1, g_script.rows - g_script.rowsetSize + 1);
  else if (row < 0) row = g_script.rows + row + 1;
  const int32_t first = std::max(row, 1);
  const int32_t last = std::min(row + g_script.rowsetSize - 1, g_script.rows);
  if (first > g_script.rows) return KX_ERR_FETCH_BEYOND_END;
  if (last < 1) return KX_ERR_FETCH_BEFORE_START;
  if (RowStatusSetNew(set, g_script.rowsetSize) != 0) return KX_ERR_NOMEM;
  for (int32_t i = 0; i <= last - first; ++i) (*set)->statuses[i] = SCS_ROW_SUCCESS;
  *rows = static_cast<uint32_t>(last - first + 1);
  return 0;
}

struct Step {
  uint16_t orientation;
  int32_t offset;
  int result;
  int32_t target;    // row asked of the layer; 0 = none
  int32_t setPos;    // SetPos row afterwards
  int32_t start;     // rowset start afterwards
};

class CursorStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script = Script{};
    ops_ = AgentOps{};
    ops_.DRV_GetProperty = FakeGetProperty;
    ops_.DRV_ExtendedFetch = FakeExtendedFetch;
    binding_.flags = AB_REENTRANT;
    binding_.ops = &ops_;
    c_ = SCS_CURSOR{};
    SCS_CursorInit(&c_, 7, 3, &binding_, nullptr);
    c_.cursorType = SQL_CURSOR_STATIC;
    c_.rowsetSize = 10;
  }
  void TearDown() override { SCS_CursorFreeRowStatus(&c_); }

  // One fetch: its result, and the target row the layer was asked for (0
  // when it was not asked).
  int Fetch(uint16_t orientation, int32_t offset = 0, int32_t* target = nullptr) {
    const size_t before = g_script.targets.size();
    uint32_t rows = 99;
    int rc = SCS_ScrollFetch(&c_, orientation, offset, &rows);
    if (target != nullptr) *target = g_script.targets.size() > before ? g_script.targets.back() : 0;
    return rc;
  }

  void RunSteps(const std::vector<Step>& steps) {
    int n = 0;
    for (const Step& s : steps) {
      SCOPED_TRACE("step " + std::to_string(++n));
      int32_t target = -99;
      EXPECT_EQ(Fetch(s.orientation, s.offset, &target), s.result);
      EXPECT_EQ(target, s.target);
      EXPECT_EQ(c_.setPosRow, s.setPos);
      EXPECT_EQ(c_.rowsetStart, s.start);
    }
  }

  AgentOps ops_{};
  AgentBinding binding_{};
  SCS_CURSOR c_{};
};

TEST_F(CursorStateTest, NextThroughTheResultThenPriorFromTheEnd) {
  RunSteps({
               {SQL_FETCH_NEXT, 0, 0, 1, 1, 1},    // from before the start: FIRST
               {SQL_FETCH_NEXT, 0, 0, 11, 1, 11},
               {SQL_FETCH_NEXT, 0, 0, 21, 1, 21},  // a partial rowset
               {SQL_FETCH_NEXT, 0, KX_ERR_NO_DATA_FOUND, 0, SCS_POS_AFTER_LAST, SCS_POS_AFTER_LAST},
               {SQL_FETCH_PRIOR, 0, 0, 16, 1, 16},  // from after the end: LAST
  });
}

TEST_F(CursorStateTest, PriorNearTheStart) {
  RunSteps({
               {SQL_FETCH_ABSOLUTE, 5, 0, 5, 1, 5},
               {SQL_FETCH_PRIOR, 0, KX_ERR_FETCH_BEFORE_FIRST_ROWSET, 1, 1, 1},  // reaches row 1: FIRST, 01S06
               {SQL_FETCH_PRIOR, 0, KX_ERR_NO_DATA_FOUND, 0, 0, 0},
               {SQL_FETCH_NEXT, 0, 0, 1, 1, 1},
  });
}

TEST_F(CursorStateTest, AbsoluteAndRelative) {
  RunSteps({
               {SQL_FETCH_RELATIVE, -5, KX_ERR_NO_DATA_FOUND, 0, 0, 0},
               {SQL_FETCH_RELATIVE, 5, 0, 5, 1, 5},  // from before the start: ABSOLUTE 5
               {SQL_FETCH_ABSOLUTE, -3, 0, 23, 1, 23},
               {SQL_FETCH_RELATIVE, -10, 0, 13, 1, 13},
               {SQL_FETCH_ABSOLUTE, -27, KX_ERR_NO_DATA_FOUND, 0, 0, 0},  // wholly before row 1
               {SQL_FETCH_LAST, 0, 0, 16, 1, 16},
               {SQL_FETCH_ABSOLUTE, 0, KX_ERR_NO_DATA_FOUND, 0, 0, 0},
               {SQL_FETCH_ABSOLUTE, 30, KX_ERR_NO_DATA_FOUND, 0, SCS_POS_AFTER_LAST, SCS_POS_AFTER_LAST},
               {SQL_FETCH_RELATIVE, 2, KX_ERR_NO_DATA_FOUND, 0, SCS_POS_AFTER_LAST, SCS_POS_AFTER_LAST},
               {SQL_FETCH_RELATIVE, -4, 0, 22, 1, 22},  // from after the end: ABSOLUTE -4
               {SQL_FETCH_BOOKMARK, 0, KX_ERR_NO_DATA_FOUND, 0, 1, 22},
               {SQL_FETCH_BOOKMARK, 7, 0, 7, 1, 7},
  });
}

// The first fetch counts from an end the statement does not know yet: the
// layer finds the rows, and the position follows from the size it tells.
TEST_F(CursorStateTest, FromTheEndBeforeTheSizeIsKnown) {
  RunSteps({
               {SQL_FETCH_LAST, 0, 0, 0, 1, 16},
               {SQL_FETCH_RELATIVE, 0, 0, 16, 1, 16},
               {SQL_FETCH_PRIOR, 0, 0, 6, 1, 6},
  });
  c_.rowCount = -1;
  c_.rowsetStart = 0;
  c_.setPosRow = SCS_POS_BEFORE_FIRST;
  RunSteps({
               {SQL_FETCH_ABSOLUTE, -3, 0, -3, 1, 23},
               {SQL_FETCH_RELATIVE, -2, 0, 21, 1, 21},
  });
}

// After a rowset-size change the next fetch still steps by the old size.
TEST_F(CursorStateTest, RowsetSizeChangeBetweenFetches) {
  int32_t target = 0;
  ASSERT_EQ(Fetch(SQL_FETCH_NEXT, 0, &target), 0);
  c_.prevRowsetSize = c_.rowsetSize;
  c_.rowsetSize = 5;
  c_.flags |= SCS_FLAG_ROWSET_CHANGED;
  g_script.rowsetSize = 5;
  ASSERT_EQ(Fetch(SQL_FETCH_NEXT, 0, &target), 0);
  EXPECT_EQ(target, 11);
  ASSERT_EQ(Fetch(SQL_FETCH_NEXT, 0, &target), 0);
  EXPECT_EQ(target, 16);
}

TEST_F(CursorStateTest, RowNumbersOfTheCurrentRowset) {
  int32_t row = -1;
  EXPECT_EQ(SCS_GetRowNumberChecked(&c_, 0, &row), KX_ERR_CURSOR_STATE);
  ASSERT_EQ(Fetch(SQL_FETCH_ABSOLUTE, 21), 0);
  EXPECT_EQ(SCS_GetRowNumber(&c_, 2, &row), 0);
  EXPECT_EQ(row, 23);
  EXPECT_EQ(SCS_GetRowNumberChecked(&c_, 4, &row), 0);
  EXPECT_EQ(row, 25);
  // Rows the partial rowset does not reach.
  EXPECT_EQ(SCS_GetRowStatus(c_.rowStatus, 6), SCS_ROW_NOROW);
  EXPECT_EQ(SCS_GetRowNumber(&c_, 10, &row), KX_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SCS_GetRowNumber(&c_, 1, nullptr), KX_ERR_BAD_ARGUMENT);
  SCS_SetRowStatus(c_.rowStatus, 2, SCS_ROW_ERROR);
  EXPECT_EQ(SCS_GetRowNumber(&c_, 1, &row), KX_ERR_BAD_CURSOR_POSITION);
}

TEST_F(CursorStateTest, StatusesOutsideTheSetAreNeverTouched) {
  ASSERT_EQ(Fetch(SQL_FETCH_FIRST), 0);
  RowStatusSet* set = c_.rowStatus;
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(SCS_GetRowStatus(set, set->count + 1), SCS_ROW_ERROR);
  EXPECT_EQ(SCS_GetRowStatus(set, 0), SCS_ROW_ERROR);
  SCS_SetRowStatus(set, set->count + 1, SCS_ROW_SUCCESS);  // ignored, no write past the array
  SCS_SetRowStatus(set, -1, SCS_ROW_SUCCESS);
  EXPECT_EQ(SCS_GetRowStatus(nullptr, 1), SCS_ROW_ERROR);
  EXPECT_EQ(RowStatusSetNew(nullptr, 3), KX_ERR_GENERAL);
  RowStatusSet* none = nullptr;
  EXPECT_EQ(RowStatusSetNew(&none, 0), KX_ERR_GENERAL);
  EXPECT_EQ(none, nullptr);
  RowStatusSetFree(&none);
}

TEST_F(CursorStateTest, DynamicCursorKeepsNoAbsolutePosition) {
  c_.cursorType = SQL_CURSOR_DYNAMIC;
  int32_t target = 0;
  ASSERT_EQ(Fetch(SQL_FETCH_NEXT, 0, &target), 0);
  EXPECT_EQ(c_.rowsetStart, SCS_START_UNKNOWN);
  EXPECT_EQ(Fetch(SQL_FETCH_ABSOLUTE, 3), KX_ERR_BAD_FETCH_TYPE);
  EXPECT_EQ(Fetch(SQL_FETCH_BOOKMARK, 3), KX_ERR_BAD_FETCH_TYPE);
  EXPECT_EQ(c_.rowsetStart, SCS_START_UNKNOWN);
  int32_t row = -1;
  EXPECT_EQ(SCS_GetRowNumberChecked(&c_, 0, &row), KX_ERR_NOT_CAPABLE);
  EXPECT_EQ(SCS_GetRowNumber(&c_, 0, &row), 0);
  EXPECT_EQ(row, 0);
}

TEST_F(CursorStateTest, ForwardOnlyTakesOnlyNext) {
  c_.cursorType = SQL_CURSOR_FORWARD_ONLY;
  EXPECT_EQ(Fetch(SQL_FETCH_PRIOR), KX_ERR_BAD_FETCH_TYPE);
  EXPECT_EQ(Fetch(SQL_FETCH_NEXT), 0);
}

TEST_F(CursorStateTest, SetPosRowAgainstTheRowCount) {
  c_.rowCount = 4;
  EXPECT_EQ(SCS_SetPosRow(&c_, 5), KX_ERR_BAD_ROW_VALUE);
  EXPECT_EQ(SCS_SetPosRow(&c_, -4), KX_ERR_BAD_ROW_VALUE);
  EXPECT_EQ(SCS_SetPosRow(&c_, SCS_POS_ALL_ROWS), 0);
  c_.rowCount = -1;
  EXPECT_EQ(SCS_SetPosRow(&c_, 5), 0);
  EXPECT_EQ(c_.setPosRow, 5);
}

// A text answer of exactly the capacity is cut and still terminated.
TEST_F(CursorStateTest, TextInfoCutToCapacityIsTerminated) {
  g_script.infoText = "abcdefgh";
  char out[8];
  std::memset(out, 'z', sizeof out);
  int16_t length = 0;
  EXPECT_EQ(SCS_GetInfoType(&binding_, 3, SQL_DBMS_NAME, out, 8, &length), KX_ERR_DATA_TRUNCATED);
  EXPECT_EQ(length, 8);
  EXPECT_STREQ(out, "abcdefg");
  char roomy[16];
  EXPECT_EQ(SCS_GetInfoType(&binding_, 3, SQL_DBMS_NAME, roomy, 16, &length), 0);
  EXPECT_STREQ(roomy, "abcdefgh");
  int32_t v = 0;
  EXPECT_EQ(SCS_GetInfoType(&binding_, 3, SQL_FETCH_DIRECTION, &v, 2, &length), KX_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SCS_GetInfoType(&binding_, 3, SQL_DRIVER_NAME, &v, 4, &length), KX_ERR_BAD_OPTION);
}

}  // namespace
}  // namespace kx
