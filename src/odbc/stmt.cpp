// Statement records: allocation and release, messages, bindings,
// descriptions and counters.
#include "odbc/stmt.h"

#include <sqlext.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>
#include <memory>
#include <utility>

#include "odbc/conn.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/diag.h"
#include "odbc/handle_layer.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/row_buffer.h"
#include "util/hash_table.h"
#include "util/str_util.h"
#include "util/value_rec.h"

namespace kx {

namespace {

bool HasV2Dae(const StmtRecord* stmt) { return stmt->conn != nullptr && stmt->conn->cn_hasV2DAE; }

void Unlink(StmtRecord* stmt) {
  ConnRecord* conn = stmt->conn;
  if (conn == nullptr) return;
  for (StmtRecord** p = &conn->firstStmt; *p != nullptr; p = &(*p)->next) {
    if (*p == stmt) {
      *p = stmt->next;
      break;
    }
  }
  stmt->next = nullptr;
}

void DropColAttrs(StmtRecord* stmt) {
  if (stmt->colAttrs == nullptr) return;
  HashWalk(stmt->colAttrs, VAL_Free, nullptr);
  HashDestroy(stmt->colAttrs);
  stmt->colAttrs = nullptr;
}


}  // namespace

int StmtDiagRowCount(StmtRecord* stmt, SQLLEN* count) {
  int64_t n = 0;
  int rc = StmtGetRowCount(stmt, &n);
  if (rc == 0 && count != nullptr) *count = static_cast<SQLLEN>(n);
  return rc;
}

int StmtDiagDynamicFunction(StmtRecord* stmt) {
  return (stmt->flags & SF_PREPARED) != 0 ? stmt->dynamicFunction : SQL_DIAG_UNKNOWN_STATEMENT;
}

// ---- lifecycle -------------------------------------------------------------------------

StmtRecord* StmtAlloc(ConnRecord* conn) {
  auto* stmt = new (std::nothrow) StmtRecord{};
  if (stmt == nullptr) {
    conn->error = KX_ERR_NOMEM;
    return nullptr;
  }
  AgentHandle agentStmt = 0;
  int32_t rc = AgentCall(conn->binding, &AgentOps::DRV_AllocStmt, conn->agentConn, &agentStmt);
  if (rc != 0) {
    if (TraceOn()) TracePrintf("Unable to allocate statement handle");
    delete stmt;
    conn->error = rc;
    return nullptr;
  }
  stmt->magic = STMT_MAGIC;
  stmt->conn = conn;
  stmt->binding = &conn->binding;
  stmt->agentStmt = agentStmt;
  stmt->next = conn->firstStmt;
  conn->firstStmt = stmt;
  stmt->state = STMT_ALLOCATED;
  stmt->error = 0;
  stmt->serial = static_cast<uint32_t>(++conn->stmtCounter);
  stmt->maxLength = conn->maxLength;
  stmt->maxRows = conn->maxRows;
  stmt->queryTimeout = conn->queryTimeout;
  stmt->bindType = static_cast<int32_t>(conn->bindType);
  stmt->noScan = conn->noScan;
  stmt->paramsetSize = 1;
  stmt->rowsProcessedPtr = nullptr;
  if (conn->cn_needbind) stmt->flags |= SF_SEND_PARAM_INFO;

  int code = SCS_CursorInit(&stmt->cursor, agentStmt, conn->agentConn, &conn->binding, stmt);
  if (code == 0) {
    const int16_t kinds[4] = {DK_ARD, DK_APD, DK_IRD, DK_IPD};
    for (int16_t kind : kinds) {
      DescRecord* d = DescAlloc(kind, SQL_DESC_ALLOC_AUTO, stmt, conn);
      if (d == nullptr) {
        code = KX_ERR_NOMEM;
        break;
      }
      // Without a handle it is still the statement's: the release below
      // frees it with the others.
      code = HandleEnter(HK_DESC, d);
      if (code != 0) break;
    }
  }
  if (code != 0) {
    DescRecord* made[4] = {stmt->implicitArd, stmt->implicitApd, stmt->ird, stmt->ipd};
    for (DescRecord* d : made) {
      if (d != nullptr && d->magic == DESC_MAGIC) DescFree(d);
    }
    SCS_CursorFreeRowStatus(&stmt->cursor);
    Unlink(stmt);
    AgentCall(conn->binding, &AgentOps::DRV_FreeStmt, agentStmt);
    delete stmt;
    conn->error = code;
    return nullptr;
  }
  stmt->asyncEnable = conn->asyncEnable;
  stmt->rowNumber = 0;
  return stmt;
}

StmtRecord* StmtLookup(uint32_t handle) {
  auto* stmt = static_cast<StmtRecord*>(HT_Lookup(StmtTable(), handle));
  if (stmt == nullptr || stmt->magic != STMT_MAGIC) return nullptr;
  stmt->error = 0;
  return stmt;
}

void StmtClose(StmtRecord* stmt) {
  stmt->daeState = 0;
  SCS_ResetPosition(&stmt->cursor);
  if (stmt->state == STMT_PREPARED) {
    StmtFreeResults(stmt);
    AgentCall(BindingOf(stmt), &AgentOps::DRV_CloseCursor, stmt->agentStmt);
    stmt->state = STMT_ALLOCATED;
    stmt->flags = static_cast<uint16_t>(stmt->flags & ~SF_EXECUTED);
  }
  DropColAttrs(stmt);
}

void StmtFree(StmtRecord* stmt) {
  // Out of reach first: a diagnostic read or SQLCancel of another thread
  // finds the record only through its handle, and never while it is taken
  // apart (a disconnect frees every statement of the connection).
  HandleRemove(HK_STMT, stmt);
  StmtFreeColDescs(stmt);
  // Only the statement's own ARD is emptied: a user descriptor installed here
  // belongs to its connection and may serve other statements.
  StmtDropColBindingNodes(stmt);
  StmtFreeParamBindings(stmt);
  DescFree(stmt->implicitArd);
  DescFree(stmt->ird);
  DescFree(stmt->implicitApd);
  DescFree(stmt->ipd);
  stmt->implicitArd = stmt->currentArd = stmt->ird = nullptr;
  stmt->implicitApd = stmt->currentApd = stmt->ipd = nullptr;
  AgentCall(BindingOf(stmt), &AgentOps::DRV_FreeStmt, stmt->agentStmt);
  SCS_CursorFreeRowStatus(&stmt->cursor);
  StmtFreeLongData(&stmt->getData);
  DropColAttrs(stmt);
  RB_Free(&stmt->rows);
  std::free(stmt->setPosStatus);
  stmt->setPosStatus = nullptr;
  if (CoreKeepsBuffers(stmt)) {
    if (stmt->setPosRows != nullptr) {
      RB_Free(stmt->setPosRows);
      std::free(stmt->setPosRows);
    }
    std::free(stmt->updateColumns);
  }
  stmt->setPosRows = nullptr;
  stmt->updateColumns = nullptr;
  stmt->bulkBookmarks.reset();
  Unlink(stmt);
  MsgListFree(&stmt->messages);
  stmt->magic = MAGIC_FREED;
  stmt->state = 0;
  delete stmt;
}

void StmtFreeAllOfConn(ConnRecord* conn) {
  while (conn->firstStmt != nullptr) {
    StmtRecord* stmt = conn->firstStmt;
    StmtClose(stmt);
    StmtFree(stmt);
  }
}

// ---- messages ------------------------------------------------------------------------------

void StmtPostMsg(StmtRecord* stmt, const char* text, int32_t native) {
  MsgListAppend(&stmt->messages, text, native);
}

char* StmtPopMsg(StmtRecord* stmt, int32_t* native) { return MsgListPop(&stmt->messages, native); }

int StmtPullMsgs(StmtRecord* stmt) {
  int posted = 0;
  AgentMsgBlock block{};
  if (AgentCall(BindingOf(stmt), &AgentOps::DRV_GetMessages, stmt->agentStmt, &block) == 0) {
    for (uint32_t i = 0; i < block.count; ++i) {
      StmtPostMsg(stmt, block.texts != nullptr ? block.texts[i] : nullptr, block.code);
      ++posted;
    }
    StrListFree(&block);
  }
  int moved = stmt->conn != nullptr ? ConnPullMsgs(stmt->conn, stmt) : 0;
  return (posted > 0 || moved > 0) ? 1 : 0;
}

// ---- column bindings ----------------------------------------------------------------------

void DaeArraysFree(void*** values, uint64_t count, int64_t** lengths) {
  if (values != nullptr && *values != nullptr) {
    for (uint64_t i = 0; i < count; ++i) std::free((*values)[i]);
    std::free(*values);
    *values = nullptr;
  }
  if (lengths != nullptr) {
    std::free(*lengths);
    *lengths = nullptr;
  }
}

int DaeArraysReset(void*** values, uint64_t held, int64_t** lengths, uint64_t count) {
  DaeArraysFree(values, held, lengths);
  *values = static_cast<void**>(std::calloc(count, sizeof(void*)));
  *lengths = static_cast<int64_t*>(std::calloc(count, sizeof(int64_t)));
  if (*values == nullptr || *lengths == nullptr) {
    DaeArraysFree(values, 0, lengths);  // fresh arrays hold no values yet
    return KX_ERR_NOMEM;
  }
  return 0;
}

namespace {

void FreeColNode(StmtRecord* stmt, ColBindingNode* node) {
  if (!HasV2Dae(stmt)) DaeArraysFree(&node->daeValues, node->daeCount, &node->daeLengths);
  std::free(node);
}

}  // namespace

int ColBindingSet(StmtRecord* stmt, const ColBindingNode* b) {
  auto* node = static_cast<ColBindingNode*>(std::malloc(sizeof(ColBindingNode)));
  if (node == nullptr) {
    stmt->error = KX_ERR_NOMEM;
    return -1;
  }
  *node = *b;
  node->next = nullptr;
  ColBindingNode** p = &stmt->colBindings;
  for (; *p != nullptr; p = &(*p)->next) {
    if ((*p)->binding.column == b->binding.column) {
      (*p)->binding = b->binding;
      std::free(node);
      return 0;
    }
  }
  *p = node;
  return 0;
}

int ColBindingRemove(StmtRecord* stmt, const ColBindingNode* b) {
  for (ColBindingNode** p = &stmt->colBindings; *p != nullptr; p = &(*p)->next) {
    if ((*p)->binding.column == b->binding.column) {
      ColBindingNode* node = *p;
      *p = node->next;
      FreeColNode(stmt, node);
      return 0;
    }
  }
  return 0;
}

void StmtDropColBindingNodes(StmtRecord* stmt) {
  ColBindingNode* node = stmt->colBindings;
  stmt->colBindings = nullptr;
  while (node != nullptr) {
    ColBindingNode* next = node->next;
    FreeColNode(stmt, node);
    node = next;
  }
}

int StmtFreeColBindings(StmtRecord* stmt) {
  StmtDropColBindingNodes(stmt);
  DescRecord* ard = stmt->currentArd;
  if (ard == nullptr || ard->count <= 0) return 0;
  ard->count = 0;
  DescTrimRecs(ard, 0);
  if (ard->allocType == SQL_DESC_ALLOC_USER && stmt->conn != nullptr) {
    for (StmtRecord* s = stmt->conn->firstStmt; s != nullptr; s = s->next) {
      if (s != stmt && s->currentArd == ard) StmtDropColBindingNodes(s);
    }
  }
  return 0;
}

// ---- parameter bindings --------------------------------------------------------------------

namespace {

ParamSummary SummaryOf(const ParamBinding& b) {
  ParamSummary s{};
  s.sqlType = b.sqlType;
  s.cType = b.cType;
  s.columnSize = static_cast<uint32_t>(b.columnSize);
  s.decimalDigits = b.decimalDigits;
  s.direction = b.direction;
  return s;
}

bool SameSummary(const ParamSummary& a, const ParamSummary& b) {
  return a.sqlType == b.sqlType && a.cType == b.cType && a.columnSize == b.columnSize &&
         a.decimalDigits == b.decimalDigits && a.direction == b.direction;
}

}  // namespace

int StmtSetParamBinding(StmtRecord* stmt, const ParamBinding* b) {
  if (b->number == 0 || b->number > KX_MAX_PARAMS) {
    stmt->error = KX_ERR_BAD_PARAM_NUMBER;
    return -1;
  }
  const uint16_t index = static_cast<uint16_t>(b->number - 1);
  if (index >= stmt->paramBindingCap) {
    // Room for the number and nine more, or twice the old room when that is
    // more: binding thousands of markers in order copies the arrays a few
    // times, not once every ten parameters.
    const int want = std::max(b->number + 9, 2 * static_cast<int>(stmt->paramBindingCap));
    const uint16_t cap = static_cast<uint16_t>(std::min(want, KX_MAX_PARAMS));
    std::unique_ptr<ParamBinding[]> bindings(new (std::nothrow) ParamBinding[cap]());
    std::unique_ptr<ParamSummary[]> summaries(new (std::nothrow) ParamSummary[cap]());
    if (bindings == nullptr || summaries == nullptr) {
      stmt->error = KX_ERR_NOMEM;
      return -1;
    }
    std::copy_n(stmt->paramBindings.get(), stmt->paramBindingCap, bindings.get());
    std::copy_n(stmt->paramSummaries.get(), stmt->paramBindingCap, summaries.get());
    stmt->paramBindings = std::move(bindings);
    stmt->paramSummaries = std::move(summaries);
    stmt->paramBindingCap = cap;
  }
  ParamBinding copy = *b;
  ParamBinding& slot = stmt->paramBindings[index];
  if (!HasV2Dae(stmt)) {
    copy.daeCount = 0;
    copy.daeValues = nullptr;
    copy.daeLengths = nullptr;
    DaeArraysFree(&slot.daeValues, slot.daeCount, &slot.daeLengths);
  }
  slot = copy;
  const ParamSummary summary = SummaryOf(copy);
  if (!SameSummary(summary, stmt->paramSummaries[index])) {
    stmt->flags = static_cast<uint16_t>(stmt->flags & ~SF_PARAM_INFO_CURRENT);
    stmt->paramSummaries[index] = summary;
  }
  return 0;
}

int StmtFreeParamBindings(StmtRecord* stmt) {
  if (!HasV2Dae(stmt) && stmt->paramBindings != nullptr) {
    for (uint16_t i = 0; i < stmt->paramBindingCap; ++i) {
      ParamBinding& b = stmt->paramBindings[i];
      DaeArraysFree(&b.daeValues, b.daeCount, &b.daeLengths);
    }
  }
  stmt->paramBindings.reset();
  stmt->paramSummaries.reset();
  if (stmt->paramBlock != nullptr && CoreKeepsBuffers(stmt)) {
    RB_Free(stmt->paramBlock);
    std::free(stmt->paramBlock);
  }
  stmt->paramBlock = nullptr;
  stmt->paramBindingCap = 0;
  stmt->flags = static_cast<uint16_t>(stmt->flags & ~SF_PARAM_INFO_CURRENT);
  return 0;
}

void StmtUnbindParam(StmtRecord* stmt, int16_t n) {
  if (n < 1 || n > stmt->paramBindingCap || stmt->paramBindings == nullptr) return;
  ParamBinding& slot = stmt->paramBindings[n - 1];
  if (slot.number == 0) return;
  if (!HasV2Dae(stmt)) DaeArraysFree(&slot.daeValues, slot.daeCount, &slot.daeLengths);
  slot = ParamBinding{};
  stmt->paramSummaries[n - 1] = ParamSummary{};
  stmt->flags = static_cast<uint16_t>(stmt->flags & ~SF_PARAM_INFO_CURRENT);
}

int StmtResetParams(StmtRecord* stmt) {
  StmtFreeParamBindings(stmt);
  DescRecord* apd = stmt->currentApd;
  if (apd != nullptr && apd->count > 0) {
    apd->count = 0;
    DescTrimRecs(apd, 0);
    if (apd->allocType == SQL_DESC_ALLOC_USER && stmt->conn != nullptr) {
      for (StmtRecord* s = stmt->conn->firstStmt; s != nullptr; s = s->next) {
        if (s != stmt && s->currentApd == apd) StmtFreeParamBindings(s);
      }
    }
  }
  DescRecord* ipd = stmt->ipd;
  if (ipd != nullptr && ipd->count > 0) {
    ipd->count = 0;
    DescTrimRecs(ipd, 0);
  }
  return 0;
}

int StmtAllocParamValueArrays(StmtRecord* stmt) {
  for (uint16_t i = 0; i < stmt->paramBindingCap; ++i) {
    ParamBinding& b = stmt->paramBindings[i];
    const int rc = DaeArraysReset(&b.daeValues, b.daeCount, &b.daeLengths, stmt->paramsetSize);
    b.daeCount = rc == 0 ? stmt->paramsetSize : 0;
    if (rc != 0) return rc;
  }
  return 0;
}

int StmtAllocColValueArrays(StmtRecord* stmt) {
  const int32_t rows = std::max<int32_t>(stmt->cursor.rowsetSize,
                                         static_cast<int32_t>(stmt->cursor.setPosArgRow));
  const uint32_t count = rows > 0 ? static_cast<uint32_t>(rows) : 0;
  for (ColBindingNode* node = stmt->colBindings; node != nullptr; node = node->next) {
    const int rc = DaeArraysReset(&node->daeValues, node->daeCount, &node->daeLengths, count);
    node->daeCount = rc == 0 ? count : 0;
    if (rc != 0) return rc;
  }
  return 0;
}

// ---- descriptions ---------------------------------------------------------------------------

uint16_t StmtRowsPerBlock(const AgentColDesc* cols, uint16_t count, uint32_t fetchSize) {
  if (count == 0 || cols == nullptr) return 0;
  uint64_t width = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const int32_t t = cols[i].storageType;
    const uint64_t len = cols[i].elementLength > 0 ? static_cast<uint64_t>(cols[i].elementLength) : 0;
    uint64_t w;
    switch (t) {
      case RBT_NONE: case RBT_BIT: case RBT_STINYINT: case RBT_UTINYINT: w = 1; break;
      case RBT_SSHORT: case RBT_USHORT: w = 2; break;
      case RBT_SLONG: case RBT_ULONG: case RBT_FLOAT: w = 4; break;
      case RBT_DOUBLE: w = 8; break;
      case RBT_DATE: w = 6; break;
      case RBT_TIME: w = len >= RB_TIME_FRACTION_WIDTH ? RB_TIME_FRACTION_WIDTH : RB_TIME_WIDTH; break;
      case RBT_TIMESTAMP: case RBT_CHAR_PTR: case RBT_BINARY_PTR: case RBT_CHAR_NTS:
      case RBT_CHAR_LEN1: case RBT_CHAR_LEN2: case RBT_CHAR_LEN4: case RBT_BINARY_LEN1:
      case RBT_BINARY_LEN2: case RBT_BINARY_LEN4: case RBT_WCHAR_NTS: case RBT_WCHAR_PTR:
      case RBT_WCHAR_LEN4:
        w = 16;
        break;
      case RBT_WCHAR: w = 2 * len; break;
      default: w = len; break;  // RBT_CHAR, RBT_BINARY and unknown codes
    }
    width += 2 + w;
  }
  uint64_t rows = 65535 / width;
  if (fetchSize == 0) fetchSize = STMT_DEFAULT_FETCH_SIZE;
  rows = std::min<uint64_t>(rows, fetchSize);
  rows = std::min<uint64_t>(rows, 65535);
  return static_cast<uint16_t>(std::max<uint64_t>(rows, 1));
}

AgentColDesc* StmtDescribeCols(StmtRecord* stmt) {
  if (stmt->colDescs != nullptr) return stmt->colDescs;
  const AgentBinding& binding = BindingOf(stmt);
  // The extended describe when the agent offers it; a table without that
  // slot still describes its columns the plain way.
  if (stmt->conn != nullptr && stmt->conn->cn_extDescribe && binding.ops != nullptr &&
      binding.ops->DRV_DescribeColsEx != nullptr) {
    DropColAttrs(stmt);
    uint16_t count = 0;
    int16_t attrCount = 0;
    AgentColDesc* cols = nullptr;
    ValueRec* attrs = nullptr;
    int32_t rc = AgentCall(binding, &AgentOps::DRV_DescribeColsEx, stmt->agentStmt, &count,
                           &attrCount, &cols, &attrs);
    if (rc != 0) {
      std::free(attrs);
      stmt->error = rc;
      StmtPullMsgs(stmt);
      return nullptr;
    }
    stmt->colCount = count;
    stmt->colDescs = cols;
    if (attrCount > 0 && attrs != nullptr) {
      stmt->colAttrs = HashCreate(101, 4);
      int code = stmt->colAttrs != nullptr ? 0 : KX_ERR_NOMEM;
      for (int16_t i = 0; i < attrCount && code == 0; ++i) {
        auto* copy = static_cast<ValueRec*>(std::malloc(sizeof(ValueRec)));
        if (copy == nullptr) {
          code = KX_ERR_NOMEM;
          break;
        }
        *copy = attrs[i];  // the text moves into the copy
        const uint32_t key = VAL_Key(static_cast<uint16_t>(attrs[i].attrId), attrs[i].column);
        if (HashSet(stmt->colAttrs, &key, reinterpret_cast<uintptr_t>(copy)) == nullptr) {
          VAL_Clear(copy);
          std::free(copy);
          code = KX_ERR_NOMEM;
        }
        attrs[i].value.text = nullptr;
      }
      if (code != 0) {
        for (int16_t i = 0; i < attrCount; ++i) {
          if (attrs[i].kind == VAL_TEXT) VAL_Clear(&attrs[i]);
        }
        std::free(attrs);
        stmt->error = code;
        return nullptr;
      }
    }
    std::free(attrs);
  } else {
    uint16_t count = 0;
    AgentColDesc* cols = nullptr;
    int32_t rc = AgentCall(binding, &AgentOps::DRV_DescribeCols, stmt->agentStmt, &count, &cols);
    if (rc != 0) {
      stmt->error = rc;
      StmtPullMsgs(stmt);
      return nullptr;
    }
    stmt->colCount = count;
    stmt->colDescs = cols;
  }
  if (stmt->colDescs == nullptr) stmt->colCount = 0;
  stmt->rowsPerBlock = StmtRowsPerBlock(stmt->colDescs, stmt->colCount,
                                        stmt->conn != nullptr ? stmt->conn->cn_fetchSize : 0);
  return stmt->colDescs;
}

AgentColDesc* StmtGetColDesc(StmtRecord* stmt, uint16_t column) {
  if (column == 0 && stmt->cursor.useBookmarks) {
    AgentColDesc& b = stmt->bookmarkDesc;
    std::memset(&b, 0, sizeof b);
    std::strcpy(b.name, "BOOKMARK");
    b.sqlType = SQL_CHAR;
    b.columnSize = 8;
    b.displaySize = 8;
    b.elementLength = 8;
    return &b;
  }
  AgentColDesc* cols = StmtDescribeCols(stmt);
  if (cols == nullptr) return nullptr;
  if (column >= 1 && column <= stmt->colCount) return &cols[column - 1];
  stmt->error = KX_ERR_BAD_COLUMN_NUMBER;
  return nullptr;
}

AgentColDesc* StmtGetParamDesc(StmtRecord* stmt, uint16_t param) {
  if (param == 0 || param > stmt->paramCount) {
    stmt->error = KX_ERR_BAD_PARAM_NUMBER;
    return nullptr;
  }
  if (!stmt->paramsDescribed && (stmt->flags & SF_PREPARED) && !(stmt->flags & SF_EXECUTED)) {
    const AgentBinding& binding = BindingOf(stmt);
    int32_t on = 1;
    if (AgentCall(binding, &AgentOps::DRV_SetProperty, stmt->agentStmt, AP_STMT_ENABLE_AUTO_IPD,
                  static_cast<const void*>(&on)) == 0) {
      uint16_t count = 0;
      AgentColDesc* params = nullptr;
      if (AgentCall(binding, &AgentOps::DRV_DescribeParams, stmt->agentStmt, &count, &params) == 0 &&
          count <= KX_MAX_PARAMS) {
        StmtDropParamDescs(stmt);
        stmt->paramCount = count;
        stmt->paramDescs = params;
      } else {
        std::free(params);  // the descriptions from prepare stay
      }
    }
    stmt->paramsDescribed = 1;
  }
  if (param > stmt->paramCount || stmt->paramDescs == nullptr) {
    stmt->error = KX_ERR_BAD_PARAM_NUMBER;
    return nullptr;
  }
  return &stmt->paramDescs[param - 1];
}

void StmtDropParamDescs(StmtRecord* stmt) {
  std::free(stmt->paramDescs);
  stmt->paramDescs = nullptr;
  stmt->paramCount = 0;
  stmt->paramsDescribed = 0;
}

void StmtDropColumnDescs(StmtRecord* stmt) {
  if (stmt->colDescs != nullptr) RB_FreeColDescs(stmt->colDescs, stmt->colCount);
  stmt->colDescs = nullptr;
  stmt->colCount = 0;
}

void StmtFreeColDescs(StmtRecord* stmt) {
  StmtFreeResults(stmt);
  StmtDropColumnDescs(stmt);
  StmtDropParamDescs(stmt);
}

void StmtFreeResults(StmtRecord* stmt) {
  RB_Free(&stmt->rows);
  RowStatusSetFree(&stmt->cursor.rowStatus);
  if (HasV2Dae(stmt)) StmtFreeLongData(&stmt->getData);
  stmt->currentRow = 0;
}

int StmtGetLongData(StmtRecord* stmt, uint32_t piece) {
  GetDataState& g = stmt->getData;
  StmtFreeLongData(&g);
  void* value = nullptr;
  uint32_t remaining = 0;
  uint32_t storage = 0;
  int32_t total = 0;
  int32_t rc = AgentCall(BindingOf(stmt), &AgentOps::DRV_GetLongData, stmt->agentStmt, g.column,
                         g.row, piece, &value, &remaining, &storage, &total);
  if (rc != 0) {
    StmtPullMsgs(stmt);
    return rc;
  }
  g.piece = value;
  g.rest = value;
  g.remaining = remaining;
  g.storageType = storage;
  g.total = total;
  if (remaining != 0) {
    g.owned = 1;
    return 0;
  }
  g.owned = 1;  // a piece handed out with nothing in it is still ours to free
  StmtFreeLongData(&g);
  if (total != 0 && piece == 0) return 0;
  return KX_ERR_NO_DATA_FOUND;
}

void StmtFreeLongData(GetDataState* gds) {
  if (gds->owned && gds->piece != nullptr) {
    if (gds->storageType == RBT_CHAR_PTR || gds->storageType == RBT_BINARY_PTR ||
        gds->storageType == RBT_WCHAR_PTR) {
      RBPtrValue inner = RB_GetPtrValue(static_cast<const unsigned char*>(gds->piece));
      std::free(inner.block);
    }
    std::free(gds->piece);
  }
  if (gds->owned) {
    gds->piece = nullptr;
    gds->rest = nullptr;
  }
  gds->owned = 0;
}

// ---- counters ------------------------------------------------------------------------------

int StmtParamOptions(StmtRecord* stmt, uint64_t rows, uint64_t* processed) {
  if (stmt->conn == nullptr || !stmt->conn->cn_hasParamOp) {
    return rows == 1 ? 0 : KX_ERR_NOT_SUPPORTED;
  }
  if (rows == 0) return KX_ERR_BAD_ROW_VALUE;
  stmt->paramsetSize = static_cast<uint32_t>(rows);
  stmt->rowsProcessedPtr = processed;
  return 0;
}

int StmtGetRowCount(StmtRecord* stmt, int64_t* count) {
  int32_t value = 0;
  uint16_t length = 0;
  int32_t rc = AgentCall(BindingOf(stmt), &AgentOps::DRV_GetProperty, stmt->agentStmt,
                         AP_STMT_ROW_COUNT, static_cast<void*>(&value), static_cast<uint16_t>(4),
                         &length);
  if (rc != 0) return rc;
  if (count != nullptr) *count = value;
  return 0;
}

int StmtNumResultCols(StmtRecord* stmt, int16_t* count) {
  if (stmt->state != STMT_PREPARED) return KX_ERR_SEQUENCE;
  if (count == nullptr) return 0;
  AgentColDesc* cols = StmtDescribeCols(stmt);
  if (cols == nullptr) {
    if (stmt->error == 0) *count = 0;
    return stmt->error;
  }
  int16_t n = 0;
  for (uint16_t i = 0; i < stmt->colCount; ++i) {
    const char* name = cols[i].name;
    const bool marker = name[0] == '*' && (name[1] == 'I' || name[1] == 'O' || name[1] == 'B' ||
                                           name[1] == 'U');
    if (!marker) ++n;
  }
  *count = n;
  return 0;
}

int StmtNumParams(StmtRecord* stmt, int16_t* count) {
  if (stmt->state != STMT_PREPARED) return KX_ERR_SEQUENCE;
  if (count != nullptr) *count = static_cast<int16_t>(stmt->paramCount);
  return 0;
}

const AgentBinding& BindingOf(const StmtRecord* stmt) {
  static const AgentBinding kNone{0, nullptr};
  return stmt->binding != nullptr ? *stmt->binding : kNone;
}

bool CoreKeepsBuffers(const StmtRecord* stmt) {
  return (BindingOf(stmt).flags & AB_CORE_KEEPS_BUFFERS) != 0;
}

int32_t OdbcVersion(const StmtRecord* stmt) {
  return stmt->conn != nullptr && stmt->conn->env != nullptr ? stmt->conn->env->odbcVersion : SQL_OV_ODBC3;
}

}  // namespace kx
