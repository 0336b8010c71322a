#include "odbc/exec/setpos.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "odbc/capabilities.h"
#include "odbc/ctypes.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/exec/app_values.h"
#include "odbc/exec/column_reader.h"
#include "odbc/exec/execute.h"
#include "odbc/exec/execute_block.h"
#include "odbc/exec/fetch.h"
#include "odbc/exec/param_dae.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// A result column the data source reports as read-only (the description's
// updatability, stored plus one, is SQL_ATTR_READONLY).
bool ReadOnlyColumn(const AgentColDesc* d) {
  return ((d->flags >> COLDESC_UPDATABLE_SHIFT) & 0xF) == SQL_ATTR_READONLY + 1;
}

enum class Kind { Fixed, Text, WText, Binary, Numeric, Guid, SBig, UBig };

struct Plan {
  ColBindingNode* node;
  uint16_t column;
  int16_t cType;    // SQL_C_DEFAULT resolved
  int16_t sqlType;  // of the result column
  Kind kind;
  uint32_t type;
  uint32_t width;
  int64_t dataStride;
  int64_t lengthStride;
};

struct Cell {
  enum K { Value, Null, Ignore, Empty, Bad } kind;
  const unsigned char* data;
  int64_t length;
};

template <class T>
T* Step(T* p, int64_t bytes) {
  return p != nullptr ? reinterpret_cast<T*>(reinterpret_cast<char*>(p) + bytes) : nullptr;
}

// How a C type's values are carried; false for a type no column value can be
// taken from.
bool KindOf(int16_t cType, Kind* kind, uint32_t* type, uint32_t* width) {
  switch (cType) {
    case SQL_C_CHAR: *kind = Kind::Text; return true;
    case SQL_C_WCHAR: *kind = Kind::WText; return true;
    case SQL_C_BINARY: *kind = Kind::Binary; return true;
    case SQL_C_NUMERIC: *kind = Kind::Numeric; return true;
    case SQL_C_GUID: *kind = Kind::Guid; return true;
    case SQL_C_SBIGINT: *kind = Kind::SBig; return true;
    case SQL_C_UBIGINT: *kind = Kind::UBig; return true;
    case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG: case SQL_C_SHORT: case SQL_C_SSHORT:
    case SQL_C_USHORT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT: case SQL_C_BIT:
    case SQL_C_FLOAT: case SQL_C_DOUBLE: case SQL_C_DATE: case SQL_C_TYPE_DATE: case SQL_C_TIME:
    case SQL_C_TYPE_TIME: case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP:
      *kind = Kind::Fixed;
      *type = CTypeToRowBufferType(cType, width);
      return *width > 0;
    default:
      return false;
  }
}

bool Variable(Kind k) { return k == Kind::Text || k == Kind::WText || k == Kind::Binary; }

bool DateTimeSql(int16_t t) {
  return t == SQL_DATE || t == SQL_TYPE_DATE || t == SQL_TIME || t == SQL_TYPE_TIME || t == SQL_TIMESTAMP ||
         t == SQL_TYPE_TIMESTAMP;
}

// Bytes of NUL-terminated text, never past limit bytes (limit <= 0: none).
int64_t BoundedText(const unsigned char* v, bool wide, int64_t limit) {
  int64_t n = 0;
  if (wide) {
    while (limit <= 0 || n + 2 <= limit) {
      if (v[n] == 0 && v[n + 1] == 0) break;
      n += 2;
    }
    return n;
  }
  while ((limit <= 0 || n < limit) && v[n] != 0) ++n;
  return n;
}

// Row k of the bound arrays as the block sees it.
Cell ReadCell(StmtRecord* stmt, const Plan& p, uint32_t k) {
  const ColBinding& b = p.node->binding;
  const int64_t* len = Step(b.octetLength, int64_t{k} * p.lengthStride);
  const int64_t* ind = Step(b.indicator, int64_t{k} * p.lengthStride);
  if (ind != nullptr && *ind == SQL_NULL_DATA) return {Cell::Null, nullptr, 0};
  int64_t length = len != nullptr ? *len : (Variable(p.kind) ? SQL_NTS : 0);
  if (length == SQL_COLUMN_IGNORE) return {Cell::Ignore, nullptr, 0};
  if (length == SQL_NULL_DATA) return {Cell::Null, nullptr, 0};
  if (IsDataAtExec(length)) {
    const ColBindingNode* n = p.node;
    const void* v = n->daeValues != nullptr && k < n->daeCount ? n->daeValues[k] : nullptr;
    const int64_t got = n->daeLengths != nullptr && k < n->daeCount ? n->daeLengths[k] : 0;
    if (got == DAE_PUT_NULL) return {Cell::Null, nullptr, 0};
    if (v == nullptr) {
      // Nothing was put: an empty value for SQL_DATA_AT_EXEC, NULL for a
      // length announced with SQL_LEN_DATA_AT_EXEC(n).
      return length == SQL_DATA_AT_EXEC || length == SQL_LEN_DATA_AT_EXEC_OFFSET ? Cell{Cell::Empty, nullptr, 0}
                                                                                   : Cell{Cell::Null, nullptr, 0};
    }
    if (!Variable(p.kind) && got < CTypeSize(p.cType)) {
      return {Cell::Bad, nullptr, 0};  // a fixed-size value put short
    }
    return {Cell::Value, static_cast<const unsigned char*>(v), got > 0 ? got : 0};
  }
  if (b.target == nullptr) return {Cell::Null, nullptr, 0};
  const auto* v = static_cast<const unsigned char*>(b.target) + int64_t{k} * p.dataStride;
  if (!Variable(p.kind)) return {Cell::Value, v, CTypeSize(p.cType)};
  if (length == SQL_NTS) {
    if (p.kind == Kind::Binary) return {Cell::Bad, nullptr, 0};
    return {Cell::Value, v, BoundedText(v, p.kind == Kind::WText, b.bufferLength)};
  }
  if (length < 0) return {Cell::Bad, nullptr, 0};
  // A length beyond the buffer never makes the value read past it.
  if (b.bufferLength > 0 && length > b.bufferLength) length = b.bufferLength;
  return {Cell::Value, v, length};
}

// The bytes an element of a text-carried kind holds.
std::string CellBytes(const Plan& p, const Cell& c) {
  if (c.kind != Cell::Value) return std::string();
  const char* d = reinterpret_cast<const char*>(c.data);
  switch (p.kind) {
    case Kind::Text: {
      size_t start = 0, count = 0;
      // An escape for a date or time column travels as the literal it quotes.
      if (DateTimeSql(p.sqlType) && EscapeLiteral(d, static_cast<size_t>(c.length), &start, &count)) {
        return std::string(d + start, count);
      }
      return std::string(d, static_cast<size_t>(c.length));
    }
    case Kind::WText:
      return std::string(d, static_cast<size_t>(c.length & ~int64_t{1}));
    case Kind::Binary:
      return std::string(d, static_cast<size_t>(c.length));
    case Kind::Numeric: {
      SQL_NUMERIC_STRUCT n{};
      std::memcpy(&n, c.data, sizeof n);
      char text[NUMERIC_TEXT_MAX];
      return std::string(text, NumericToDecimalText(&n, text));
    }
    case Kind::Guid: {
      SQLGUID g{};
      std::memcpy(&g, c.data, sizeof g);
      unsigned char text[36];
      GuidToChar(text, &g);
      return std::string(reinterpret_cast<const char*>(text), 36);
    }
    case Kind::SBig:
    case Kind::UBig: {
      uint64_t raw = 0;
      std::memcpy(&raw, c.data, sizeof raw);
      char text[32];
      const size_t n = p.kind == Kind::SBig ? Int64ToText(static_cast<int64_t>(raw), text, sizeof text)
                                            : UInt64ToText(raw, text, sizeof text);
      return std::string(text, n);
    }
    case Kind::Fixed:
      break;
  }
  return std::string();
}

bool Listed(const uint16_t* columns, uint16_t count, uint16_t column) {
  if (columns == nullptr) return true;
  for (uint16_t i = 0; i < count; ++i) {
    if (columns[i] == column) return true;
  }
  return false;
}

bool RowOpIgnored(const StmtRecord* stmt, uint32_t k) {
  const DescRecord* ard = stmt->currentArd;
  return ard != nullptr && ard->arrayStatusPtr != nullptr && ard->arrayStatusPtr[k] == SQL_ROW_IGNORE;
}

// The plans of the columns an operation may write: bound (not the bookmark
// column), updatable, listed. Ascending column numbers.
int MakePlans(StmtRecord* stmt, const uint16_t* columns, uint16_t columnCount, std::vector<Plan>* out) {
  std::vector<ColBindingNode*> nodes;
  for (ColBindingNode* n = stmt->colBindings; n != nullptr; n = n->next) {
    if (n->binding.column != 0 && Listed(columns, columnCount, n->binding.column)) nodes.push_back(n);
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const ColBindingNode* a, const ColBindingNode* b) { return a->binding.column < b->binding.column; });
  for (ColBindingNode* n : nodes) {
    const AgentColDesc* d = StmtGetColDesc(stmt, n->binding.column);
    // A column bound past the result's columns is named as such.
    if (d == nullptr) return stmt->error != 0 ? stmt->error : KX_ERR_GENERAL;
    if (ReadOnlyColumn(d)) continue;
    Plan p{};
    p.node = n;
    p.column = n->binding.column;
    p.sqlType = static_cast<int16_t>(d->sqlType & 0xFFFF);
    p.cType = n->binding.cType;
    if (p.cType == SQL_C_DEFAULT) p.cType = static_cast<int16_t>(DefaultCType(p.sqlType, OdbcVersion(stmt)));
    if (!KindOf(p.cType, &p.kind, &p.type, &p.width)) return KX_ERR_RESTRICTED_TYPE;
    const bool rowWise = stmt->bindType > 0;
    ColBinding resolved = n->binding;
    resolved.cType = p.cType;
    p.dataStride = rowWise ? stmt->bindType : ColumnWiseDataStride(stmt, resolved);
    p.lengthStride = LengthStride(stmt);
    out->push_back(p);
  }
  return 0;
}

// Whether rowset row k (0-based) holds a row a change can act on: not past
// the rowset's rows, not deleted, not in error.
bool RowsetRowExists(const StmtRecord* stmt, uint32_t k) {
  const RowStatusSet* set = stmt->cursor.rowStatus;
  if (set == nullptr) return false;
  const uint16_t st = SCS_GetRowStatus(set, static_cast<int32_t>(k + 1));
  return st != SQL_ROW_NOROW && st != SQL_ROW_DELETED && st != SQL_ROW_ERROR;
}

}  // namespace

int SetPosBuildBlock(StmtRecord* stmt, uint32_t first, uint32_t rows, const uint16_t* columns,
                     uint16_t columnCount, bool rowOps, RowBuffer** block, uint16_t** list, uint16_t* count) {
  *block = nullptr;
  *list = nullptr;
  *count = 0;
  std::vector<Plan> plans;
  std::vector<std::vector<Cell>> cells;
  std::vector<std::vector<std::string>> texts;
  try {
    int rc = MakePlans(stmt, columns, columnCount, &plans);
    if (rc != 0) return rc;
    std::vector<Plan> used;
    for (const Plan& p : plans) {
      std::vector<Cell> col(rows);
      std::vector<std::string> text(rows);
      bool any = false;
      uint64_t longest = 0;
      for (uint32_t l = 0; l < rows; ++l) {
        const uint32_t k = first + l;
        col[l] = rowOps && RowOpIgnored(stmt, k) ? Cell{Cell::Ignore, nullptr, 0} : ReadCell(stmt, p, k);
        if (col[l].kind == Cell::Bad) return KX_ERR_BAD_LENGTH;
        if (col[l].kind != Cell::Ignore) any = true;
        if (p.kind != Kind::Fixed) {
          text[l] = CellBytes(p, col[l]);
          longest = std::max<uint64_t>(longest, text[l].size());
        }
      }
      // A column every row ignores is no column of this operation.
      if (!any) continue;
      Plan q = p;
      if (p.kind != Kind::Fixed) {
        if (longest > UINT32_MAX - 16) return KX_ERR_GENERAL;
        q.type = p.kind == Kind::WText ? RBT_WCHAR_LEN4 : p.kind == Kind::Binary ? RBT_BINARY_LEN4 : RBT_CHAR_LEN4;
        q.width = static_cast<uint32_t>(4 + ((longest + 3) & ~uint64_t{3}));
        if (q.width < 8) q.width = 8;
      }
      used.push_back(q);
      cells.push_back(std::move(col));
      texts.push_back(std::move(text));
    }
    plans.swap(used);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  if (plans.empty()) return KX_ERR_DERIVED_DEGREE;
  if (plans.size() > UINT16_MAX || rows > INT32_MAX) return KX_ERR_GENERAL;
  auto* rb = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  auto* cols = static_cast<uint16_t*>(std::calloc(plans.size(), sizeof(uint16_t)));
  if (rb == nullptr || cols == nullptr || RB_InitColumns(rb, static_cast<uint16_t>(plans.size())) != 0) {
    std::free(rb);
    std::free(cols);
    return KX_ERR_NOMEM;
  }
  for (size_t c = 0; c < plans.size(); ++c) {
    rb->columns[c].type = plans[c].type;
    rb->columns[c].width = plans[c].width;
    cols[c] = plans[c].column;
  }
  rb->colCount = static_cast<uint16_t>(plans.size());
  if (RB_AllocRows(rb, static_cast<int32_t>(rows)) != 0) {
    FreeRowBlock(rb);
    std::free(cols);
    return KX_ERR_NOMEM;
  }
  rb->rowCount = static_cast<int32_t>(rows);
  for (size_t c = 0; c < plans.size(); ++c) {
    RowBufferColumn* col = &rb->columns[c];
    for (uint32_t l = 0; l < rows; ++l) {
      const Cell& cell = cells[c][l];
      unsigned char* e = RB_Element(col, l);
      switch (cell.kind) {
        case Cell::Ignore: col->indicators[l] = RB_IND_IGNORE; continue;
        case Cell::Null: col->indicators[l] = RB_IND_NULL; continue;
        default: break;
      }
      col->indicators[l] = RB_IND_DATA;
      if (plans[c].kind == Kind::Fixed) {
        if (cell.kind == Cell::Value) std::memcpy(e, cell.data, std::min<size_t>(col->width, static_cast<size_t>(cell.length)));
        continue;
      }
      const std::string& t = texts[c][l];
      uint32_t n = static_cast<uint32_t>(t.size());
      if (col->type == RBT_WCHAR_LEN4) n /= 2;  // a count of 16-bit units
      std::memcpy(e, &n, 4);
      if (!t.empty()) std::memcpy(e + 4, t.data(), t.size());
    }
  }
  *block = rb;
  *list = cols;
  *count = static_cast<uint16_t>(plans.size());
  return 0;
}

namespace {

// The row-status array the application reads: the one the last fetch wrote
// (SQLExtendedFetch's own), else SQL_ATTR_ROW_STATUS_PTR.
uint16_t* AppStatuses(StmtRecord* stmt) {
  if (stmt->cursor.appStatusArray != nullptr) return stmt->cursor.appStatusArray;
  return stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
}

}  // namespace

// The value cursor of a positioned data-at-execution sequence: from
// (daeNextIndex, daeNextRow) on, the next bound cell the operation writes
// whose length asks for the value at execution. 1 with the cursor on it, 0
// with the cursor reset when none is left.
int SetPosNextValue(StmtRecord* stmt) {
  const bool bulk = stmt->daeState == DAE_BULK || stmt->daeState == DAE_BULK_LAST;
  const uint16_t* list = bulk ? stmt->updateColumns : nullptr;
  const uint16_t listCount = bulk && stmt->bulkColCount > 0 ? static_cast<uint16_t>(stmt->bulkColCount) : 0;
  std::vector<Plan> plans;
  try {
    if (MakePlans(stmt, list, listCount, &plans) != 0) plans.clear();
  } catch (const std::bad_alloc&) {
    plans.clear();
  }
  for (uint32_t k = stmt->daeNextRow; k < stmt->daePosEnd; ++k) {
    const bool ignored = !bulk && RowOpIgnored(stmt, k);
    uint16_t position = 0;
    for (ColBindingNode* n = stmt->colBindings; n != nullptr; n = n->next, ++position) {
      if (k == stmt->daeNextRow && position < stmt->daeNextIndex) continue;
      if (ignored) continue;
      const Plan* p = nullptr;
      for (const Plan& q : plans) {
        if (q.node == n) p = &q;
      }
      if (p == nullptr) continue;
      const int64_t* len = Step(n->binding.octetLength, int64_t{k} * p->lengthStride);
      const int64_t* ind = Step(n->binding.indicator, int64_t{k} * p->lengthStride);
      if (ind != nullptr && *ind == SQL_NULL_DATA) continue;
      if (len != nullptr && IsDataAtExec(*len)) {
        stmt->daeNextIndex = position;
        stmt->daeNextRow = k;
        return 1;
      }
    }
  }
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = 0;
  return 0;
}

// The value's own stride, never a buffer length a fixed-size type does not
// have.
void* SetPosValueAddress(StmtRecord* stmt, ColBindingNode* node, uint32_t row) {
  if (node == nullptr || node->binding.target == nullptr) return nullptr;
  const int64_t step = stmt->bindType > 0 ? stmt->bindType : ColumnWiseDataStride(stmt, node->binding);
  return static_cast<unsigned char*>(node->binding.target) + int64_t{row} * step;
}

namespace {

// Starts collecting the values at execution of rows [first, end): 0 when
// there are none, SQL_NEED_DATA with the sequence open, or -1 (error set).
int NeedData(StmtRecord* stmt, uint32_t first, uint32_t end, uint16_t state) {
  if (stmt->daeState != DAE_NONE) {
    stmt->error = KX_ERR_SEQUENCE;
    return -1;
  }
  stmt->daeState = state;
  stmt->daePosFirst = first;
  stmt->daePosEnd = end;
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = first;
  stmt->daeRow = 0;
  if (SetPosNextValue(stmt) == 0) {
    stmt->daeState = DAE_NONE;
    return 0;
  }
  const int rc = StmtAllocColValueArrays(stmt);
  if (rc != 0) {
    stmt->daeState = DAE_NONE;
    stmt->error = rc;
    return -1;
  }
  // The arrays must reach every row of the operation.
  for (ColBindingNode* n = stmt->colBindings; n != nullptr; n = n->next) {
    if (n->daeCount < end) {
      const int grown = DaeArraysReset(&n->daeValues, n->daeCount, &n->daeLengths, end);
      n->daeCount = grown == 0 ? end : 0;
      if (grown != 0) {
        stmt->daeState = DAE_NONE;
        stmt->error = KX_ERR_NOMEM;
        return -1;
      }
    }
  }
  return SQL_NEED_DATA;
}

bool SuccessStatus(uint16_t s) {
  return s == SQL_ROW_SUCCESS || s == SQL_ROW_UPDATED || s == SQL_ROW_DELETED || s == SQL_ROW_ADDED;
}

// The answer of the layer for an operation that reports per-row statuses:
// whether the statuses are to be distributed, and the return code.
SQLRETURN LayerAnswer(StmtRecord* stmt, int32_t rc, const uint16_t* statuses, int32_t count, bool* distribute) {
  *distribute = rc == 0;
  if (rc == 0) return SQL_SUCCESS;
  if (StmtPullMsgs(stmt) == 0) stmt->error = rc;
  if (rc == KX_ERR_MANY_ROWS_CHANGED || rc == KX_ERR_NO_ROWS_CHANGED || rc == KX_ERR_ROW_ERROR) {
    *distribute = statuses != nullptr;
    bool any = false;
    for (int32_t i = 0; statuses != nullptr && i < count; ++i) any = any || SuccessStatus(statuses[i]);
    if (rc == KX_ERR_NO_ROWS_CHANGED || !any) return SQL_ERROR;
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_ERROR;
}

// Copies the statuses of rowset rows [row, row + count) (row 1-based) into
// the cursor's set and the application's array (rows the row-operation array
// ignores keep their entries).
void DistributeRowset(StmtRecord* stmt, int32_t firstRow, const uint16_t* statuses, int32_t count) {
  uint16_t* app = AppStatuses(stmt);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t k = firstRow + i;
    if (k > stmt->cursor.rowsetSize) break;
    SCS_SetRowStatus(stmt->cursor.rowStatus, k, statuses[i]);
    if (app != nullptr && !RowOpIgnored(stmt, static_cast<uint32_t>(k - 1))) app[k - 1] = statuses[i];
  }
}

// Sends a built block (update or add) to the layer and distributes its
// statuses. The block and list become the layer's.
SQLRETURN SendUpdateOrAdd(StmtRecord* stmt, int64_t row, uint16_t operation) {
  SCS_CURSOR& c = stmt->cursor;
  const int32_t target = row == 0 ? SCS_POS_ALL_ROWS : static_cast<int32_t>(row);
  const uint32_t first = row == 0 ? 0 : static_cast<uint32_t>(row - 1);
  const uint32_t rows = row == 0 ? static_cast<uint32_t>(c.rowsetSize) : 1;
  stmt->daeState = DAE_NONE;
  RowBuffer* block = nullptr;
  uint16_t* list = nullptr;
  uint16_t count = 0;
  int rc = SetPosBuildBlock(stmt, first, rows, nullptr, 0, true, &block, &list, &count);
  if (rc == 0 && row == 0 && operation == SQL_UPDATE) {
    // Rows the rowset does not have are no rows to write.
    for (uint32_t l = 0; l < rows; ++l) {
      if (RowsetRowExists(stmt, l)) continue;
      for (uint16_t k = 0; k < block->colCount; ++k) block->columns[k].indicators[l] = RB_IND_IGNORE;
    }
  }
  if (rc == 0 && ExecNarrowBackend(stmt)) rc = RB_ToNarrow(block);
  if (rc != 0) {
    FreeRowBlock(block);
    std::free(list);
    return Fail(stmt, rc);
  }
  uint16_t* statuses = nullptr;
  int32_t n = 0;
  const int32_t answer = AgentCall(BindingOf(stmt), &AgentOps::DRV_SetPos, stmt->agentStmt, target,
                                   static_cast<int32_t>(operation), 0, &statuses, &n, block, list, count);
  if (CoreKeepsBuffers(stmt)) {
    FreeRowBlock(block);
    std::free(list);
  }
  bool distribute = false;
  const SQLRETURN result = LayerAnswer(stmt, answer, statuses, n, &distribute);
  if (distribute && statuses != nullptr) {
    if (operation == SQL_ADD) {
      // Added rows are rows of the bound arrays, not of the fetched rowset.
      uint16_t* app = AppStatuses(stmt);
      for (int32_t i = 0; app != nullptr && i < n && static_cast<uint32_t>(i) < rows; ++i) {
        if (!RowOpIgnored(stmt, first + static_cast<uint32_t>(i))) app[first + static_cast<uint32_t>(i)] = statuses[i];
      }
    } else {
      DistributeRowset(stmt, row == 0 ? 1 : static_cast<int32_t>(row), statuses, n);
    }
  }
  std::free(statuses);
  if (result != SQL_ERROR && operation == SQL_UPDATE) SCS_SetPosRow(&c, target);
  return result;
}

SQLRETURN SendDelete(StmtRecord* stmt, int64_t row) {
  SCS_CURSOR& c = stmt->cursor;
  const int32_t target = row == 0 ? SCS_POS_ALL_ROWS : static_cast<int32_t>(row);
  // The block spans the rowset: row k says whether rowset row k + 1 goes.
  auto* block = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  const int32_t rows = c.rowsetSize > 0 ? c.rowsetSize : 1;
  if (block == nullptr || RB_InitColumns(block, 1) != 0) {
    std::free(block);
    return Fail(stmt, KX_ERR_NOMEM);
  }
  block->columns[0].type = RBT_BIT;
  block->columns[0].width = 1;
  block->colCount = 1;
  if (RB_AllocRows(block, rows) != 0) {
    FreeRowBlock(block);
    return Fail(stmt, KX_ERR_NOMEM);
  }
  block->rowCount = rows;
  for (int32_t k = 0; k < rows; ++k) {
    const bool wanted = (row == 0 || k == row - 1) && !RowOpIgnored(stmt, static_cast<uint32_t>(k)) &&
                        RowsetRowExists(stmt, static_cast<uint32_t>(k));
    block->columns[0].indicators[k] = wanted ? RB_IND_DATA : RB_IND_IGNORE;
  }
  uint16_t* statuses = nullptr;
  int32_t n = 0;
  const int32_t answer = AgentCall(BindingOf(stmt), &AgentOps::DRV_SetPos, stmt->agentStmt, target,
                                   static_cast<int32_t>(SQL_DELETE), 0, &statuses, &n, block,
                                   static_cast<uint16_t*>(nullptr), static_cast<uint16_t>(0));
  if (CoreKeepsBuffers(stmt)) FreeRowBlock(block);
  bool distribute = false;
  const SQLRETURN result = LayerAnswer(stmt, answer, statuses, n, &distribute);
  if (distribute && statuses != nullptr) DistributeRowset(stmt, row == 0 ? 1 : static_cast<int32_t>(row), statuses, n);
  std::free(statuses);
  if (result != SQL_ERROR) SCS_SetPosRow(&c, target);
  return result;
}

SQLRETURN Refresh(StmtRecord* stmt, int64_t row) {
  SCS_CURSOR& c = stmt->cursor;
  const int32_t target = row == 0 ? SCS_POS_ALL_ROWS : static_cast<int32_t>(row);
  // A keyset-driven cursor reads its rows again by key, so the refreshed
  // buffers show what the data source holds now; a static cursor reads its
  // own copy again, which holds the rows as it read them with its own
  // changes (the rowset in hand may predate those). Mixed and dynamic
  // cursors have no row numbers: they read the rowset again where it stands
  // (the rows of the keys they hold: a row gone since shows as deleted).
  const bool absolute = ((c.cursorType == SQL_CURSOR_KEYSET_DRIVEN && c.keysetSize == 0) ||
                         c.cursorType == SQL_CURSOR_STATIC) &&
                        c.rowsetStart > 0;
  if (absolute || SCS_IsDynamicOrMixed(&c)) {
    // The cursor layer learns that the fetch is a refresh: the row stays
    // positioned on, and a mixed or dynamic cursor reads the rows of the
    // keys it holds. A layer that does not take part leaves a plain fetch.
    uint16_t* ignored = nullptr;
    int32_t count = 0;
    AgentCall(BindingOf(stmt), &AgentOps::DRV_SetPos, stmt->agentStmt, target, static_cast<int32_t>(SQL_REFRESH), 0,
              &ignored, &count, static_cast<RowBuffer*>(nullptr), static_cast<uint16_t*>(nullptr),
              static_cast<uint16_t>(0));
    std::free(ignored);
    StmtFreeResults(stmt);
    uint32_t rows = 0;
    const int code = absolute ? SCS_ScrollFetch(&c, SQL_FETCH_ABSOLUTE, c.rowsetStart, &rows)
                              : SCS_ScrollFetch(&c, SQL_FETCH_RELATIVE, 0, &rows);
    if (code != 0 && code != KX_ERR_NO_DATA_FOUND) return Fail(stmt, code);
  }
  const SQLRETURN rc = FetchRowsetToBindings(stmt, AppStatuses(stmt), static_cast<uint32_t>(row), SQL_REFRESH);
  SCS_SetPosRow(&c, target);
  return rc;
}

}  // namespace

SQLRETURN SetPos(StmtRecord* stmt, int64_t row, uint16_t operation, uint16_t lock) {
  SCS_CURSOR& c = stmt->cursor;
  if (stmt->daeState == DAE_SETPOS_LAST) {
    // Every value at execution is in: build and send.
    ApplyArdBindOffset(stmt);
    return SendUpdateOrAdd(stmt, c.setPosArgRow, c.setPosOp);
  }
  if (lock != SQL_LOCK_NO_CHANGE) return Fail(stmt, KX_ERR_NOT_CAPABLE);
  if (!CapSetPos(stmt->conn, BindingOf(stmt).ops)) return Fail(stmt, KX_ERR_NOT_SUPPORTED);
  if (operation > SQL_ADD) return Fail(stmt, KX_ERR_NOT_CAPABLE);
  ApplyArdBindOffset(stmt);
  if (c.cursorType == SQL_CURSOR_FORWARD_ONLY) return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
  const bool changes = operation == SQL_UPDATE || operation == SQL_DELETE || operation == SQL_ADD;
  if (changes && c.concurrency == SQL_CONCUR_READ_ONLY) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_CURSOR_STATE);
  if (row < 0 || row > c.rowsetSize) return Fail(stmt, KX_ERR_BAD_ROW_VALUE);
  if (operation != SQL_ADD) {
    if (c.setPosRow == SCS_POS_BEFORE_FIRST || c.setPosRow == SCS_POS_AFTER_LAST || c.rowStatus == nullptr) {
      return Fail(stmt, KX_ERR_CURSOR_STATE);
    }
    // A single row must hold a row, and a deleted or failed one cannot be
    // changed or read again. With row 0 the rows past the rowset's end and
    // the deleted or failed ones are passed over.
    if (row != 0) {
      const uint16_t st = SCS_GetRowStatus(c.rowStatus, static_cast<int32_t>(row));
      if (st == SQL_ROW_NOROW) return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
      // A refresh is how a row whose change failed is read again.
      if ((st == SQL_ROW_DELETED && operation == SQL_REFRESH) ||
          ((st == SQL_ROW_DELETED || st == SQL_ROW_ERROR) && (operation == SQL_UPDATE || operation == SQL_DELETE))) {
        return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
      }
    } else if (SCS_GetRowStatus(c.rowStatus, 1) == SQL_ROW_NOROW) {
      return Fail(stmt, KX_ERR_BAD_CURSOR_POSITION);
    }
  }
  c.setPosArgRow = static_cast<uint32_t>(row);
  c.setPosOp = operation;
  const int32_t target = row == 0 ? SCS_POS_ALL_ROWS : static_cast<int32_t>(row);
  switch (operation) {
    case SQL_POSITION: {
      if (int code = SCS_SetPosRow(&c, target); code != 0) return Fail(stmt, code);
      const int32_t rc = AgentCall(BindingOf(stmt), &AgentOps::DRV_SetPos, stmt->agentStmt, target,
                                   static_cast<int32_t>(SQL_POSITION), 0, static_cast<uint16_t**>(nullptr),
                                   static_cast<int32_t*>(nullptr), static_cast<RowBuffer*>(nullptr),
                                   static_cast<uint16_t*>(nullptr), static_cast<uint16_t>(0));
      if (rc != 0) {
        if (StmtPullMsgs(stmt) == 0) stmt->error = rc;
        return SQL_ERROR;
      }
      GetDataReset(stmt);
      return SQL_SUCCESS;
    }
    case SQL_REFRESH:
      return Refresh(stmt, row);
    case SQL_DELETE:
      return SendDelete(stmt, row);
    default: {
      const uint32_t first = row == 0 ? 0 : static_cast<uint32_t>(row - 1);
      const uint32_t end = row == 0 ? static_cast<uint32_t>(c.rowsetSize) : first + 1;
      const int need = NeedData(stmt, first, end, DAE_SETPOS);
      if (need == -1) return SQL_ERROR;
      if (need == SQL_NEED_DATA) return SQL_NEED_DATA;
      return SendUpdateOrAdd(stmt, row, operation);
    }
  }
}

// ---- SQLBulkOperations -------------------------------------------------------------

namespace {

// Bookmark i of the bound bookmark column, as the absolute row number it
// names; 0 for a value that names no row (it gets an error status).
uint32_t ReadBookmark(StmtRecord* stmt, const ColBinding& b, uint32_t i) {
  // The same element size a fetch writes the bookmarks with (every bound
  // bookmark holds at least 8 bytes).
  const int64_t stride = stmt->bindType > 0 ? stmt->bindType : ColumnWiseDataStride(stmt, b);
  const int64_t* ind = Step(b.indicator, int64_t{i} * LengthStride(stmt));
  if (ind != nullptr && *ind == SQL_NULL_DATA) return 0;
  const auto* p = static_cast<const unsigned char*>(b.target) + int64_t{i} * stride;
  int64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v >= 1 && v <= INT32_MAX ? static_cast<uint32_t>(v) : 0;
}

SQLRETURN BulkFinish(StmtRecord* stmt, SQLRETURN result, uint16_t* statuses, uint16_t n, bool writeStatuses) {
  if (writeStatuses) {
    uint16_t* ird = stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
    for (uint16_t i = 0; ird != nullptr && i < n; ++i) ird[i] = statuses != nullptr ? statuses[i] : SQL_ROW_ERROR;
  }
  if (stmt->ird != nullptr && stmt->ird->rowsProcessedPtr != nullptr) *stmt->ird->rowsProcessedPtr = n;
  if (stmt->rowsFetchedPtr != nullptr) *stmt->rowsFetchedPtr = n;
  std::free(statuses);
  stmt->bulkBookmarks.reset();
  std::free(stmt->updateColumns);
  stmt->updateColumns = nullptr;
  stmt->bulkColCount = 0;
  // The cursor stands nowhere in particular afterwards: a relative fetch
  // needs an absolute one first.
  stmt->cursor.rowsetStart = SCS_START_UNKNOWN;
  return result;
}

SQLRETURN BulkUpdateSend(StmtRecord* stmt, uint16_t n) {
  stmt->daeState = DAE_NONE;
  RowBuffer* block = nullptr;
  uint16_t* list = nullptr;
  uint16_t count = 0;
  int rc = SetPosBuildBlock(stmt, 0, n, stmt->updateColumns, static_cast<uint16_t>(stmt->bulkColCount), false,
                            &block, &list, &count);
  if (rc == 0 && ExecNarrowBackend(stmt)) rc = RB_ToNarrow(block);
  if (rc != 0) {
    FreeRowBlock(block);
    std::free(list);
    Fail(stmt, rc);
    return BulkFinish(stmt, SQL_ERROR, nullptr, n, true);
  }
  uint16_t* statuses = nullptr;
  uint16_t got = 0;
  const int32_t answer =
      AgentCall(BindingOf(stmt), &AgentOps::DRV_BulkOperations, stmt->agentStmt,
                static_cast<uint16_t>(SQL_UPDATE_BY_BOOKMARK), stmt->bulkBookmarks.get(), n, block, list, count, &statuses,
                &got, static_cast<RowStatusSet**>(nullptr));
  if (CoreKeepsBuffers(stmt)) {
    FreeRowBlock(block);
    std::free(list);
  }
  bool distribute = false;
  const SQLRETURN result = LayerAnswer(stmt, answer, statuses, n, &distribute);
  return BulkFinish(stmt, result, statuses, n, true);
}

}  // namespace

SQLRETURN BulkOperations(StmtRecord* stmt, uint16_t operation) {
  SCS_CURSOR& c = stmt->cursor;
  const DescRecord* ard = stmt->currentArd;
  const uint64_t size = ard != nullptr ? ard->arraySize : 1;
  if (stmt->daeState == DAE_BULK_LAST) {
    ApplyArdBindOffset(stmt);
    return BulkUpdateSend(stmt, static_cast<uint16_t>(size > UINT16_MAX ? UINT16_MAX : size));
  }
  if (!CapBulkOperations(stmt->conn, BindingOf(stmt).ops)) return Fail(stmt, KX_ERR_NOT_SUPPORTED);
  stmt->bulkOperation = operation;
  if (operation < SQL_ADD || operation > SQL_FETCH_BY_BOOKMARK) return Fail(stmt, KX_ERR_BAD_OPTION);
  const bool keyset = c.cursorType == SQL_CURSOR_KEYSET_DRIVEN && c.keysetSize == 0;
  if (!keyset && c.cursorType != SQL_CURSOR_STATIC) return Fail(stmt, KX_ERR_NO_BULK_OPS);
  if (stmt->state != STMT_PREPARED) return Fail(stmt, KX_ERR_CURSOR_STATE);
  // A statement that made no result (an UPDATE, say) has no cursor whose
  // table rows could be added to or changed.
  if (StmtDescribeCols(stmt) == nullptr) return SQL_ERROR;
  if (stmt->colCount == 0) return Fail(stmt, KX_ERR_CURSOR_STATE);
  if (size == 0) return SQL_SUCCESS;
  if (size > UINT16_MAX) return Fail(stmt, KX_ERR_BAD_ROW_VALUE);
  const auto n = static_cast<uint16_t>(size);
  ApplyArdBindOffset(stmt);
  if (operation == SQL_ADD) {
    // The rows of the bound arrays, as many as the array size says. A
    // read-only cursor changes nothing (HY092).
    if (c.concurrency == SQL_CONCUR_READ_ONLY) return Fail(stmt, KX_ERR_BAD_OPTION);
    const SQLRETURN rc = SetPos(stmt, 0, SQL_ADD, SQL_LOCK_NO_CHANGE);
    if (rc == SQL_NEED_DATA) return rc;
    return BulkFinish(stmt, rc, nullptr, n, false);
  }
  if (!c.useBookmarks) return Fail(stmt, KX_ERR_BAD_OPTION);
  const ColBinding* mark = StmtGetColBinding(0, stmt);
  if (mark == nullptr || mark->target == nullptr) return Fail(stmt, KX_ERR_BAD_OPTION);
  if ((operation == SQL_UPDATE_BY_BOOKMARK || operation == SQL_DELETE_BY_BOOKMARK) &&
      c.concurrency == SQL_CONCUR_READ_ONLY) {
    return Fail(stmt, KX_ERR_BAD_OPTION);
  }
  stmt->bulkBookmarks.reset(new (std::nothrow) uint32_t[n]());
  if (stmt->bulkBookmarks == nullptr) return Fail(stmt, KX_ERR_NOMEM);
  for (uint16_t i = 0; i < n; ++i) stmt->bulkBookmarks[i] = ReadBookmark(stmt, *mark, i);
  if (operation == SQL_UPDATE_BY_BOOKMARK) {
    // The columns to write: every bound, updatable column; each row writes
    // those its lengths do not mark SQL_COLUMN_IGNORE.
    std::free(stmt->updateColumns);
    stmt->updateColumns = nullptr;
    stmt->bulkColCount = 0;
    {
      std::vector<Plan> plans;
      int rc = 0;
      try {
        rc = MakePlans(stmt, nullptr, 0, &plans);
      } catch (const std::bad_alloc&) {
        rc = KX_ERR_NOMEM;
      }
      if (rc == 0 && plans.empty()) rc = KX_ERR_DERIVED_DEGREE;
      if (rc == 0) {
        stmt->updateColumns = static_cast<uint16_t*>(std::calloc(plans.size(), sizeof(uint16_t)));
        if (stmt->updateColumns == nullptr) rc = KX_ERR_NOMEM;
      }
      if (rc != 0) {
        Fail(stmt, rc);
        return BulkFinish(stmt, SQL_ERROR, nullptr, n, false);
      }
      for (size_t i = 0; i < plans.size(); ++i) stmt->updateColumns[i] = plans[i].column;
      stmt->bulkColCount = static_cast<int16_t>(plans.size());
    }
    const int need = NeedData(stmt, 0, n, DAE_BULK);
    if (need == -1) return BulkFinish(stmt, SQL_ERROR, nullptr, n, false);
    if (need == SQL_NEED_DATA) return SQL_NEED_DATA;
    return BulkUpdateSend(stmt, n);
  }
  uint16_t* statuses = nullptr;
  uint16_t got = 0;
  if (operation == SQL_DELETE_BY_BOOKMARK) {
    const int32_t answer = AgentCall(BindingOf(stmt), &AgentOps::DRV_BulkOperations, stmt->agentStmt, operation,
                                     stmt->bulkBookmarks.get(), n, static_cast<RowBuffer*>(nullptr),
                                     static_cast<uint16_t*>(nullptr), static_cast<uint16_t>(0), &statuses, &got,
                                     static_cast<RowStatusSet**>(nullptr));
    bool distribute = false;
    const SQLRETURN result = LayerAnswer(stmt, answer, statuses, n, &distribute);
    return BulkFinish(stmt, result, statuses, n, true);
  }
  // SQL_FETCH_BY_BOOKMARK: the rows replace the cursor's rowset.
  RowStatusSet* set = nullptr;
  const int32_t answer = AgentCall(BindingOf(stmt), &AgentOps::DRV_BulkOperations, stmt->agentStmt, operation,
                                   stmt->bulkBookmarks.get(), n, static_cast<RowBuffer*>(nullptr),
                                   static_cast<uint16_t*>(nullptr), static_cast<uint16_t>(0), &statuses, &got, &set);
  SQLRETURN result = SQL_SUCCESS;
  if (answer != 0 && answer != KX_ERR_MANY_ROWS_CHANGED) {
    if (StmtPullMsgs(stmt) == 0) stmt->error = answer;
    result = SQL_ERROR;
  }
  const int32_t failure = stmt->error;
  StmtFreeResults(stmt);
  RowStatusSetFree(&c.rowStatus);
  c.rowStatus = set;
  // The rows fetched are the rowset in hand now, of the size in force.
  c.prevRowsetSize = c.rowsetSize;
  c.flags = static_cast<uint16_t>(c.flags & ~SCS_FLAG_ROWSET_CHANGED);
  if (set != nullptr) {
    SCS_SetPosRow(&c, 1);
    uint16_t* ird = stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
    const SQLRETURN copied = FetchRowsetToBindings(stmt, ird, 0, SQL_FETCH_BY_BOOKMARK);
    // A failed call keeps its own reason; the rows still get their statuses.
    if (result == SQL_SUCCESS) {
      result = copied;
    } else {
      stmt->error = failure;
    }
    // Entries past the bookmarks asked for hold no row of this call.
    std::free(statuses);
    statuses = nullptr;
    if (ird != nullptr) {
      statuses = static_cast<uint16_t*>(std::calloc(n, sizeof(uint16_t)));
      if (statuses != nullptr) std::memcpy(statuses, ird, sizeof(uint16_t) * n);
    }
  }
  return BulkFinish(stmt, result, statuses, n, set == nullptr || statuses != nullptr);
}

// ---- handlers and the data-at-execution hooks ----------------------------------------------

namespace {

// SQLSetPos works on the rowset in hand: a rowset size set since the last
// fetch takes effect at the next fetch, so for the call the cursor has the
// size of the rowset the application's arrays hold (a refresh reads that
// many rows again). Adding rows takes the array size as it stands, as
// SQLBulkOperations does.
class RowsetInHand {
 public:
  RowsetInHand(SCS_CURSOR& c, uint16_t operation)
      : c_(c), active_(operation != SQL_ADD && (c.flags & SCS_FLAG_ROWSET_CHANGED) != 0), size_(c.rowsetSize) {
    if (active_) c_.rowsetSize = c_.prevRowsetSize;
  }
  ~RowsetInHand() {
    if (!active_) return;
    c_.prevRowsetSize = c_.rowsetSize;
    c_.rowsetSize = size_;
    c_.flags |= SCS_FLAG_ROWSET_CHANGED;
  }
  RowsetInHand(const RowsetInHand&) = delete;
  RowsetInHand& operator=(const RowsetInHand&) = delete;

 private:
  SCS_CURSOR& c_;
  bool active_;
  int32_t size_;
};

}  // namespace

bool SetPosAbandonValues(StmtRecord* stmt) {
  const uint16_t state = stmt->daeState;
  if (state != DAE_SETPOS && state != DAE_SETPOS_LAST && state != DAE_BULK && state != DAE_BULK_LAST) return false;
  stmt->daeState = DAE_NONE;
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = 0;
  if (state == DAE_BULK || state == DAE_BULK_LAST) {
    stmt->bulkBookmarks.reset();
    std::free(stmt->updateColumns);
    stmt->updateColumns = nullptr;
    stmt->bulkColCount = 0;
  }
  return true;
}

SQLRETURN SetPosResume(StmtRecord* stmt) {
  RowsetInHand inHand(stmt->cursor, stmt->cursor.setPosOp);
  return SetPos(stmt, stmt->cursor.setPosArgRow, stmt->cursor.setPosOp, SQL_LOCK_NO_CHANGE);
}

SQLRETURN SetPosCall(HandleHead* rec, const OdbcArgs& args) {
  auto* stmt = static_cast<StmtRecord*>(rec);
  const uint16_t operation = args.Get<uint16_t>(1);
  RowsetInHand inHand(stmt->cursor, operation);
  return SetPos(stmt, static_cast<int64_t>(args.Get<uint64_t>(0)), operation, args.Get<uint16_t>(2));
}

SQLRETURN BulkOperationsCall(HandleHead* rec, const OdbcArgs& args) {
  return BulkOperations(static_cast<StmtRecord*>(rec), static_cast<uint16_t>(args.Get<int16_t>(0)));
}

}  // namespace kx
