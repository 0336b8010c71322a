// Composite operations: one call that runs several of the layer's own
// operations (execute and describe, allocate and prepare, a batch of
// statements), the column types of a result, and long values kept aside from
// a rowset and read in pieces. Each is built from the operations as the
// layer carries them out, so a scrollable cursor behaves here as it does for
// the core.
//
// The extended descriptors of DRV_ExecDirectEx and DRV_SetParamInfoEx carry
// a name per parameter: the layer keeps their plain descriptors as the
// application's (its own statements run with them) and hands the extended
// ones to an agent that takes them; an agent without that slot binds by
// position, and gets the plain descriptors.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/value_rec.h"

namespace kx {

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }
const AgentBinding& Layer() {
  static const AgentBinding binding{0, SCS_LayerOps()};
  return binding;
}

// A long value above this many bytes (characters of 16-bit text) is kept
// aside instead of travelling with its rowset.
constexpr uint32_t kKeepAbove = 60000;

// Storage types a piece of a kept value is reported as.
constexpr int32_t kPieceText = RBT_CHAR;
constexpr int32_t kPieceWideText = RBT_WCHAR;
constexpr int32_t kPieceBytes = RBT_BINARY;

// Bytes left reported before a value is chosen.
constexpr int32_t kNoPiece = -4;

void FreeAttrs(ValueRec* attrs, int16_t n) {
  if (attrs == nullptr) return;
  for (int16_t i = 0; i < n; ++i) VAL_Clear(&attrs[i]);
  std::free(attrs);
}

// The statement's row count: negative counts (none known) as 0.
int32_t RowCountOf(AgentHandle h, int32_t* count) {
  int32_t v = 0;
  uint16_t length = 0;
  const int32_t rc = AgentCall(Layer(), &AgentOps::DRV_GetProperty, h, AP_STMT_ROW_COUNT, static_cast<void*>(&v),
                               static_cast<uint16_t>(4), &length);
  if (rc != 0) return rc;
  *count = v < 0 ? 0 : v;
  return 0;
}

int32_t ExecuteDescribe(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t descCount,
                        const SCS_PARAMDESC* descs, int32_t* rowsetSize, uint16_t* colCount, AgentColDesc** cols,
                        uint16_t* paramCount, AgentColDesc** params, int16_t* attrCount, ValueRec** attrs,
                        int32_t* rowCount) {
  ScsCursor* c = SCS_FindCursor(h);
  const bool outputs = colCount != nullptr && cols != nullptr && paramCount != nullptr && params != nullptr &&
                       rowCount != nullptr && (descCount == 0 || descs != nullptr);
  if (c == nullptr || !outputs) {
    scs_p_FreeRows(rows);  // the parameter rows are ours from the call on
    return KX_ERR_BAD_ARGUMENT;
  }
  *colCount = 0;
  *cols = nullptr;
  *paramCount = 0;
  *params = nullptr;
  *rowCount = 0;
  const bool extended = attrCount != nullptr && attrs != nullptr;
  if (extended) {
    *attrCount = 0;
    *attrs = nullptr;
  }
  int32_t rc = 0;
  if (c->cursorType != SCS_FORWARD_ONLY && rowsetSize != nullptr) {
    rc = AgentCall(Layer(), &AgentOps::DRV_SetProperty, h, AP_STMT_ROWSET_SIZE, static_cast<const void*>(rowsetSize));
    if (rc == KX_ERR_OPTION_CHANGED) {
      // The size in effect goes back to the caller.
      uint16_t length = 0;
      rc = AgentCall(Layer(), &AgentOps::DRV_GetProperty, h, AP_STMT_ROWSET_SIZE, static_cast<void*>(rowsetSize),
                     static_cast<uint16_t>(4), &length);
    }
  }
  if (rc == 0 && sql != nullptr) rc = AgentCall(Layer(), &AgentOps::DRV_Prepare, h, sql);
  if (rows != nullptr) {
    if (rc == 0) {
      rc = AgentCall(Layer(), &AgentOps::DRV_SetParams, h, rows);
    } else {
      scs_p_FreeRows(rows);
    }
  }
  if (rc == 0 && descCount != 0) rc = AgentCall(Layer(), &AgentOps::DRV_SetParamInfo, h, descCount, descs);
  if (rc != 0) return rc;
  scs_p_DropKeptLongData(c);
  rc = AgentCall(Layer(), &AgentOps::DRV_Execute, h);
  const bool outParams = rc == KX_ERR_HAS_OUT_PARAMS;
  if (rc != 0 && !outParams) return rc;
  rc = extended ? AgentCall(Layer(), &AgentOps::DRV_DescribeColsEx, h, colCount, attrCount, cols, attrs)
                : AgentCall(Layer(), &AgentOps::DRV_DescribeCols, h, colCount, cols);
  if (rc == 0) rc = AgentCall(Layer(), &AgentOps::DRV_DescribeParams, h, paramCount, params);
  if (rc == 0) rc = RowCountOf(h, rowCount);
  if (rc != 0) {
    // Nothing half-described is handed out.
    RB_FreeColDescs(*cols, *colCount);
    RB_FreeColDescs(*params, *paramCount);
    *cols = *params = nullptr;
    *colCount = *paramCount = 0;
    if (extended) {
      FreeAttrs(*attrs, *attrCount);
      *attrs = nullptr;
      *attrCount = 0;
    }
    return rc;
  }
  return outParams ? KX_ERR_HAS_OUT_PARAMS : 0;
}

// The length a column's values are declared with, from the element width of
// its storage type.
int32_t DeclaredLength(uint32_t type, uint32_t width) {
  switch (type) {
    case RBT_WCHAR: case RBT_WCHAR_NTS: return static_cast<int32_t>(width / 2);
    case RBT_WCHAR_LEN4: return static_cast<int32_t>(width >= 4 ? (width - 4) / 2 : 0);
    default: return static_cast<int32_t>(width);
  }
}

// The first token of a statement, the characters in `delims` separating
// tokens, compared with `word` regardless of case.
bool FirstTokenIs(const char* sql, const char* delims, const char* word) {
  if (sql == nullptr) return false;
  const char* p = sql;
  while (*p != '\0' && std::strchr(delims, *p) != nullptr) ++p;
  const size_t n = std::strlen(word);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char ch = static_cast<unsigned char>(p[i]);
    if (ch == '\0' || (ch | 0x20) != static_cast<unsigned char>(word[i])) return false;
  }
  return p[n] == '\0' || std::strchr(delims, p[n]) != nullptr;
}

bool IsSelect(const char* sql) { return FirstTokenIs(sql, " \t\n\r\f(", "select"); }
bool IsCall(const char* sql) { return FirstTokenIs(sql, " {?=\t\n\r\f", "call"); }

// A call in a batch may deliver output parameters, never a result set: its
// columns, when it has any, are parameters marked with their direction.
int32_t CheckCallOutputs(AgentHandle h) {
  uint16_t n = 0;
  AgentColDesc* cols = nullptr;
  const int32_t rc = AgentCall(Layer(), &AgentOps::DRV_DescribeCols, h, &n, &cols);
  if (rc != 0) {
    RB_FreeColDescs(cols, n);
    return rc;
  }
  bool outputs = true;
  if (n > 0 && cols != nullptr) {
    const char* name = cols[0].name;
    outputs = name[0] == '*' && name[1] != '\0' && std::strchr("IOBU", name[1]) != nullptr;
  }
  RB_FreeColDescs(cols, n);
  return outputs ? 0 : KX_ERR_DDL_DML_ONLY;
}

}  // namespace

void scs_p_DropKeptLongData(ScsCursor* c) {
  c->pieceCol = 0;
  c->pieceRow = 0;
  c->piecePos = 0;
  c->pieceLeft = 0;
  if (c->keeper.columns != nullptr) RB_Free(&c->keeper);
}

int scs_p_KeepLongData(ScsCursor* c, RowBuffer* rs) {
  if (rs == nullptr || rs->rowCount <= 0) return 0;
  bool any = false;
  for (uint16_t k = 0; k < rs->colCount; ++k) any = any || RB_IsPtrType(rs->columns[k].type);
  if (!any) return 0;
  RowBuffer& kept = c->keeper;
  int rc = RB_InitColumns(&kept, rs->colCount);
  if (rc != 0) return rc;
  kept.colCount = rs->colCount;
  kept.rowCount = rs->rowCount;
  kept.rowCapacity = rs->rowCount;
  for (uint16_t k = 0; k < rs->colCount && rc == 0; ++k) {
    RowBufferColumn& from = rs->columns[k];
    RowBufferColumn& to = kept.columns[k];
    // Other columns keep nothing but NULL indicators.
    const bool holds = RB_IsPtrType(from.type);
    to.type = holds ? from.type : RBT_NONE;
    to.width = holds ? from.width : 0;
    rc = RB_ColumnAlloc(&to, rs->rowCount);
    if (rc != 0 || !holds) continue;
    for (int32_t r = 0; r < rs->rowCount; ++r) {
      if (from.indicators[r] != RB_IND_DATA) continue;
      unsigned char* element = RB_Element(&from, static_cast<size_t>(r));
      if (RB_GetPtrValue(element).length <= kKeepAbove) continue;
      std::memcpy(RB_Element(&to, static_cast<size_t>(r)), element, from.width);
      std::memset(element, 0, from.width);
      from.indicators[r] = RB_IND_LONG;
      to.indicators[r] = RB_IND_DATA;
    }
  }
  if (rc != 0) {
    // Values already moved go with the keeper; their rows read as NULL.
    for (uint16_t k = 0; k < rs->colCount; ++k) {
      if (kept.columns[k].indicators == nullptr) continue;
      for (int32_t r = 0; r < rs->rowCount; ++r) {
        if (kept.columns[k].indicators[r] == RB_IND_DATA) rs->columns[k].indicators[r] = RB_IND_NULL;
      }
    }
    RB_Free(&kept);
  }
  return rc;
}

int32_t SCS_ExecuteDescribe(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t descCount,
                            const SCS_PARAMDESC* descs, int32_t* rowsetSize, uint16_t* colCount,
                            AgentColDesc** cols, uint16_t* paramCount, AgentColDesc** params, int32_t* rowCount) {
  return ExecuteDescribe(h, sql, rows, descCount, descs, rowsetSize, colCount, cols, paramCount, params, nullptr,
                         nullptr, rowCount);
}

int32_t SCS_ExecuteDescribeEx(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t descCount,
                              const SCS_PARAMDESC* descs, int32_t* rowsetSize, uint16_t* colCount,
                              AgentColDesc** cols, uint16_t* paramCount, AgentColDesc** params,
                              int16_t* attrCount, ValueRec** attrs, int32_t* rowCount) {
  return ExecuteDescribe(h, sql, rows, descCount, descs, rowsetSize, colCount, cols, paramCount, params, attrCount,
                         attrs, rowCount);
}

int32_t SCS_AllocPrepare(AgentHandle conn, const char* sql, int32_t concurrency, int32_t cursorType,
                         AgentHandle* out) {
  if (out == nullptr) return KX_ERR_BAD_ARGUMENT;
  *out = 0;
  AgentHandle h = 0;
  int32_t rc = AgentCall(Layer(), &AgentOps::DRV_AllocStmt, conn, &h);
  if (rc != 0) return rc;
  if (cursorType != SCS_FORWARD_ONLY) {
    rc = AgentCall(Layer(), &AgentOps::DRV_SetProperty, h, AP_STMT_CURSOR_TYPE, static_cast<const void*>(&cursorType));
    if (rc == 0 || rc == KX_ERR_OPTION_CHANGED) {
      rc = AgentCall(Layer(), &AgentOps::DRV_SetProperty, h, AP_STMT_CONCURRENCY,
                     static_cast<const void*>(&concurrency));
    }
    if (rc != 0 && rc != KX_ERR_OPTION_CHANGED) {
      AgentCall(Layer(), &AgentOps::DRV_FreeStmt, h);
      return rc;
    }
  }
  if (sql != nullptr) {
    rc = AgentCall(Layer(), &AgentOps::DRV_Prepare, h, sql);
    if (rc != 0) {
      // The statement goes; why it failed stays readable on the connection.
      if (ScsConn* node = SCS_FindConn(conn); node != nullptr) {
        AgentMsgBlock stale{};
        if (AgentCall(Layer(), &AgentOps::DRV_GetMessages, conn, &stale) == 0) StrListFree(&stale);
        node->orphanMessages.clear();
        AgentMsgBlock why{};
        if (AgentCall(Layer(), &AgentOps::DRV_GetMessages, h, &why) == 0) {
          try {
            for (uint32_t i = 0; i < why.count; ++i) {
              if (why.texts != nullptr && why.texts[i] != nullptr) node->orphanMessages.emplace_back(why.texts[i]);
            }
          } catch (const std::bad_alloc&) {
            node->orphanMessages.clear();
          }
          StrListFree(&why);
        }
      }
      AgentCall(Layer(), &AgentOps::DRV_FreeStmt, h);
      return rc;
    }
  }
  *out = h;
  return 0;
}

int32_t SCS_DescribeColTypes(AgentHandle h, uint16_t* count, AgentColDesc** cols, RowBuffer* work) {
  if (cols != nullptr) *cols = nullptr;
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr || work == nullptr) return KX_ERR_BAD_ARGUMENT;
  // A call's output parameters come as a block of no rows; the columns of a
  // result set are read from its description.
  int32_t rc = scs_p_RunDeferredQuery(c);
  if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, h, static_cast<uint16_t>(0), work);
  if (rc != 0) return rc;
  if (work->colCount == 0) {
    uint16_t n = 0;
    AgentColDesc* described = nullptr;
    rc = AgentCall(Layer(), &AgentOps::DRV_DescribeCols, h, &n, &described);
    if (rc == 0 && n > 0) {
      RB_Free(work);
      rc = RB_FromColDescs(described, n, 0, work);
    }
    RB_FreeColDescs(described, n);
    if (rc != 0) return rc;
  }
  const uint16_t n = work->colCount;
  if (count != nullptr) *count = n;
  if (n == 0 || cols == nullptr) return 0;
  AgentColDesc* out = RB_AllocColDescs(n);
  if (out == nullptr) return KX_ERR_NOMEM;
  for (uint16_t k = 0; k < n; ++k) {
    out[k].storageType = static_cast<int32_t>(work->columns[k].type);
    out[k].elementLength = DeclaredLength(work->columns[k].type, work->columns[k].width);
  }
  *cols = out;
  return 0;
}

int32_t SCS_FetchKeepLongData(AgentHandle h, RowStatusSet** out, int32_t row, uint32_t* rows, int32_t* total,
                              uint16_t orientation) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr) return KX_ERR_BAD_ARGUMENT;
  // The values kept belong to the rowset this fetch replaces.
  scs_p_DropKeptLongData(c);
  const int32_t rc = AgentCall(Layer(), &AgentOps::DRV_FetchScroll, h, out, row, rows, total, orientation);
  if (rc != 0) return rc;
  // A forward-only cursor's pieces are the agent's to give: a value kept
  // aside here could never be read back.
  if (c->cursorType == SCS_FORWARD_ONLY) return 0;
  return scs_p_KeepLongData(c, *out != nullptr ? (*out)->rows : nullptr);
}

int32_t SCS_GetLongDataPiece(AgentHandle h, int32_t column, int32_t row, uint32_t limit, void** piece,
                             int32_t* length, int32_t* storageType, int32_t* left) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr || piece == nullptr || length == nullptr || storageType == nullptr || left == nullptr) {
    return KX_ERR_BAD_ARGUMENT;
  }
  if (c->cursorType == SCS_FORWARD_ONLY) {
    // A forward-only result keeps nothing aside: its long values are the
    // agent's to read.
    if (column < 0 || column > 0xFFFF || row < 0 || row > 0xFFFF) return KX_ERR_BAD_ARGUMENT;
    uint32_t octets = 0, storage = 0;
    const int32_t rc = AgentCall(Agent(), &AgentOps::DRV_GetLongData, h, static_cast<uint16_t>(column),
                                 static_cast<uint16_t>(row), limit, piece, &octets, &storage, left);
    *length = static_cast<int32_t>(octets);
    *storageType = static_cast<int32_t>(storage);
    return rc;
  }
  *piece = nullptr;
  *length = 0;
  *left = kNoPiece;
  const RowBuffer& kept = c->keeper;
  if (kept.columns == nullptr || kept.colCount == 0) return KX_ERR_NO_DATA_FOUND;
  if (column < 1 || column > kept.colCount || row < 1 || row > kept.rowCount) return KX_ERR_BAD_ARGUMENT;
  const RowBufferColumn& col = kept.columns[column - 1];
  if (col.indicators[row - 1] != RB_IND_DATA) return KX_ERR_NO_DATA_FOUND;
  const RBPtrValue value = RB_GetPtrValue(RB_Element(&col, static_cast<size_t>(row - 1)));
  if (column != c->pieceCol || row != c->pieceRow) {
    c->pieceCol = static_cast<uint16_t>(column);
    c->pieceRow = static_cast<uint16_t>(row);
    c->piecePos = 0;
    c->pieceLeft = static_cast<uint32_t>(RB_PtrBytes(col.type, value.length));
  }
  *storageType = col.type == RBT_CHAR_PTR ? kPieceText : col.type == RBT_WCHAR_PTR ? kPieceWideText : kPieceBytes;
  *left = static_cast<int32_t>(c->pieceLeft);
  if (c->pieceLeft == 0) return 0;
  // The limit counts characters of 16-bit text.
  const uint64_t most = col.type == RBT_WCHAR_PTR ? uint64_t{limit} * 2 : uint64_t{limit};
  const uint32_t n = static_cast<uint32_t>(most < c->pieceLeft ? most : c->pieceLeft);
  void* copy = std::malloc(n > 0 ? n : 1);
  if (copy == nullptr) return KX_ERR_NOMEM;
  if (n > 0) std::memcpy(copy, static_cast<const unsigned char*>(value.block) + c->piecePos, n);
  c->piecePos += n;
  c->pieceLeft -= n;
  *piece = copy;
  *length = static_cast<int32_t>(n);
  return 0;
}

int32_t SCS_ExecuteBatch(AgentHandle h, uint16_t count, AgentBatchEntry* entries, int16_t* done, int32_t* rowCounts) {
  ScsCursor* c = SCS_FindCursor(h);
  if (done != nullptr) *done = 0;
  if (c == nullptr || done == nullptr || rowCounts == nullptr || (count > 0 && entries == nullptr) ||
      count > 0x7FFF) {
    return KX_ERR_BAD_ARGUMENT;
  }
  int32_t rc = 0;
  uint16_t i = 0;
  for (; i < count; ++i) {
    rowCounts[i] = 0;
    const AgentBatchEntry& e = entries[i];
    // An entry without text runs the statement prepared last.
    const char* text = e.sql != nullptr ? e.sql : c->text;
    if (IsSelect(text)) {
      rc = KX_ERR_DDL_DML_ONLY;
      break;
    }
    const uint16_t n = static_cast<uint16_t>(e.paramCount > 0xFFFF ? 0xFFFF : e.paramCount);
    rc = AgentCall(Layer(), &AgentOps::DRV_ExecDirect, h, e.sql, e.rows, e.params != nullptr ? n : uint16_t{0},
                   static_cast<const SCS_PARAMDESC*>(e.params));
    if (rc != 0) break;
    int32_t changed = 0;
    rowCounts[i] = RowCountOf(h, &changed) == 0 ? changed : -2;
    if (IsCall(text)) {
      rc = CheckCallOutputs(h);
      if (rc != 0) break;
    }
  }
  *done = static_cast<int16_t>(i);
  return rc;
}

int32_t SCS_SetParamInfoEx(AgentHandle h, uint16_t count, const SCS_PARAMDESC_EX* descs) {
  ScsCursor* c = SCS_FindCursor(h);
  if (c == nullptr || (count > 0 && descs == nullptr)) return KX_ERR_BAD_ARGUMENT;
  SCS_PARAMDESC* plain = nullptr;
  if (count > 0) {
    plain = static_cast<SCS_PARAMDESC*>(std::malloc(sizeof(SCS_PARAMDESC) * count));
    if (plain == nullptr) return KX_ERR_NOMEM;
    for (uint16_t i = 0; i < count; ++i) plain[i] = descs[i].desc;
  }
  int32_t rc;
  if (Agent().ops != nullptr && Agent().ops->DRV_SetParamInfoEx != nullptr) {
    std::free(c->appParamDescs);
    c->appParamDescs = plain;
    c->appParamCount = count;
    rc = AgentCall(Agent(), &AgentOps::DRV_SetParamInfoEx, h, count, descs);
  } else {
    // Kept and sent by the layer's own operation, by position.
    rc = AgentCall(Layer(), &AgentOps::DRV_SetParamInfo, h, count, static_cast<const SCS_PARAMDESC*>(plain));
    std::free(plain);
  }
  return rc;
}

int32_t SCS_ExecDirectEx(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t count,
                         const SCS_PARAMDESC_EX* descs) {
  int32_t rc = 0;
  if (sql != nullptr) rc = AgentCall(Layer(), &AgentOps::DRV_Prepare, h, sql);
  if (rc != 0) scs_p_FreeRows(rows);  // taken over on every path
  if (rc == 0 && rows != nullptr) rc = AgentCall(Layer(), &AgentOps::DRV_SetParams, h, rows);
  if (rc == 0 && count != 0) rc = SCS_SetParamInfoEx(h, count, descs);
  if (rc == 0) rc = AgentCall(Layer(), &AgentOps::DRV_Execute, h);
  return rc;
}

}  // namespace kx
