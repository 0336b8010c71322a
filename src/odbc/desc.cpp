// Descriptor records: allocation and release, the record list, the binding
// views through record numbers, and applying an application descriptor to a
// statement's bindings.
#include "odbc/desc.h"

#include <sqlext.h>

#include <cstdlib>
#include <new>

#include "odbc/diag.h"
#include "odbc/exec/param_bind.h"
#include "odbc/handle_layer.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

// ---- classification -------------------------------------------------------------------

bool DescIsApplication(const DescRecord* desc) {
  return desc->allocType == SQL_DESC_ALLOC_USER || desc->kind == DK_ARD || desc->kind == DK_APD;
}

bool DescIsRow(const DescRecord* desc) {
  return desc->allocType != SQL_DESC_ALLOC_USER && (desc->kind == DK_ARD || desc->kind == DK_IRD);
}

const char* DescKindName(const DescRecord* desc) {
  switch (desc->kind) {
    case DK_USER: return desc->allocType == SQL_DESC_ALLOC_USER ? "USER" : "UNKNOWN_DESC";
    case DK_IRD: return "IRD";
    case DK_ARD: return "ARD";
    case DK_IPD: return "IPD";
    case DK_APD: return "APD";
    default: return "UNKNOWN_DESC";
  }
}

// ---- lifetime ---------------------------------------------------------------------------

DescRecord* DescAlloc(int16_t kind, int16_t allocation, StmtRecord* stmt, ConnRecord* conn) {
  auto* desc = new (std::nothrow) DescRecord{};
  auto* bookmark = static_cast<DescRecNode*>(std::calloc(1, sizeof(DescRecNode)));
  if (desc == nullptr || bookmark == nullptr) {
    // A descriptor without its bookmark record would break every record
    // walk, so both allocations count as one.
    delete desc;
    std::free(bookmark);
    if (stmt != nullptr) {
      stmt->error = KX_ERR_NOMEM;
    } else if (conn != nullptr) {
      conn->error = KX_ERR_NOMEM;
    }
    return nullptr;
  }
  desc->magic = DESC_MAGIC;
  desc->kind = kind;
  desc->allocType = allocation;
  if (allocation == SQL_DESC_ALLOC_AUTO) {
    desc->stmt = stmt;
  } else {
    desc->conn = conn;
  }
  desc->arraySize = 1;
  desc->records = bookmark;
  if (stmt != nullptr && allocation == SQL_DESC_ALLOC_AUTO) {
    switch (kind) {
      case DK_ARD: stmt->implicitArd = stmt->currentArd = desc; break;
      case DK_APD: stmt->implicitApd = stmt->currentApd = desc; break;
      case DK_IRD: stmt->ird = desc; break;
      case DK_IPD: stmt->ipd = desc; break;
      default: break;
    }
  }
  return desc;
}

void DescFree(DescRecord* desc) {
  if (desc == nullptr) return;
  if (desc->allocType == SQL_DESC_ALLOC_USER && desc->conn != nullptr) {
    // Statements of the owning connection that use it go back to their own
    // descriptors. Their bindings came from this descriptor, whose buffers the
    // application is taking back: drop them before the implicit descriptor's
    // bindings are applied again.
    for (StmtRecord* s = desc->conn->firstStmt; s != nullptr; s = s->next) {
      if (s->currentArd == desc) {
        StmtDropColBindingNodes(s);
        s->currentArd = s->implicitArd;
        if (s->implicitArd != nullptr) StmtApplyARD(s, s->implicitArd);
      }
      if (s->currentApd == desc) {
        StmtFreeParamBindings(s);
        s->currentApd = s->implicitApd;
        if (s->implicitApd != nullptr) StmtApplyAPD(s, s->implicitApd);
      }
    }
  }
  DescRecNode* node = desc->records;
  while (node != nullptr) {
    DescRecNode* next = node->next;
    DescRecClear(&node->rec);
    std::free(node);
    node = next;
  }
  desc->records = nullptr;
  desc->lastNode = nullptr;
  MsgListFree(&desc->messages);
  desc->magic = MAGIC_FREED;
  HT_Release(DescTable(), desc->handle);
  delete desc;
}

void DescFreeAllOfConn(ConnRecord* conn) {
  HandleTable* table = DescTable();
  // Collect under the table lock, free outside it: DescFree releases handles.
  for (;;) {
    DescRecord* victim = nullptr;
    HT_Lock(table);
    for (uint32_t i = 0; i < table->capacity && victim == nullptr; ++i) {
      const HandleEntry& e = table->entries[i];
      if (e.tag == 0 || e.object == nullptr) continue;
      auto* d = static_cast<DescRecord*>(e.object);
      if (d->magic == DESC_MAGIC && d->allocType == SQL_DESC_ALLOC_USER && d->conn == conn) victim = d;
    }
    HT_Unlock(table);
    if (victim == nullptr) return;
    DescFree(victim);
  }
}

void DescPostMsg(DescRecord* desc, const char* text, int32_t native) {
  MsgListAppend(&desc->messages, text, native);
}

char* DescPopMsg(DescRecord* desc, int32_t* native) { return MsgListPop(&desc->messages, native); }

// ---- record list ---------------------------------------------------------------------------

// The list holds the bookmark record and one node per counted record: the
// count only changes as DescGrowRecs adds nodes or as the list is trimmed to
// it, so it answers without a walk (a column read asks once per value, and a
// descriptor may hold thousands of parameter records).
int32_t DescRecCount(const DescRecord* desc) { return desc->records != nullptr ? desc->count : 0; }

DescFieldRec* DescGetRec(DescRecord* desc, int32_t n) {
  if (n < 0) return nullptr;
  DescRecNode* node = desc->records;
  int32_t i = 0;
  if (desc->lastNode != nullptr && desc->lastIndex <= n) {
    node = desc->lastNode;
    i = desc->lastIndex;
  }
  for (; node != nullptr && i < n; ++i) node = node->next;
  if (node == nullptr) return nullptr;
  desc->lastNode = node;
  desc->lastIndex = n;
  return &node->rec;
}

void DescRecInit(const DescRecord* desc, DescFieldRec* rec) {
  if (desc->allocType == SQL_DESC_ALLOC_USER) return;
  if (desc->kind == DK_ARD || desc->kind == DK_APD) {
    rec->conciseType = SQL_C_DEFAULT;
    rec->type = SQL_C_DEFAULT;
    rec->dataPtr = nullptr;
    rec->indicatorPtr = nullptr;
    rec->octetLengthPtr = nullptr;
  } else if (desc->kind == DK_IPD) {
    rec->parameterType = SQL_PARAM_INPUT;
  }
}

void DescRecClear(DescFieldRec* rec) {
  rec->dataPtr = nullptr;
  rec->indicatorPtr = nullptr;
  rec->octetLengthPtr = nullptr;
  std::free(rec->name);
  rec->name = nullptr;
}

int DescGrowRecs(DescRecord* desc, int16_t n) {
  DescRecNode* tail = desc->records;
  int32_t index = 0;
  if (desc->lastNode != nullptr) {
    tail = desc->lastNode;
    index = desc->lastIndex;
  }
  for (; tail->next != nullptr; ++index) tail = tail->next;
  while (desc->count < n) {
    auto* node = static_cast<DescRecNode*>(std::calloc(1, sizeof(DescRecNode)));
    if (node == nullptr) return KX_ERR_NOMEM;
    DescRecInit(desc, &node->rec);
    tail->next = node;
    tail = node;
    ++index;
    ++desc->count;
  }
  desc->lastNode = tail;
  desc->lastIndex = index;
  return 0;
}

void DescTrimRecs(DescRecord* desc, int32_t n) {
  if (n < 0) n = 0;
  desc->lastNode = nullptr;
  desc->lastIndex = 0;
  DescRecNode* keep = desc->records;
  for (int32_t i = 0; keep != nullptr && i < n; ++i) keep = keep->next;
  if (keep == nullptr) return;
  DescRecNode* node = keep->next;
  keep->next = nullptr;
  while (node != nullptr) {
    DescRecNode* next = node->next;
    DescRecClear(&node->rec);
    std::free(node);
    node = next;
  }
}

// ---- bindings by record number -------------------------------------------------------------

ColBinding* StmtGetColBinding(int16_t n, StmtRecord* stmt) {
  for (ColBindingNode* node = stmt->colBindings; node != nullptr; node = node->next) {
    if (node->binding.column == static_cast<uint16_t>(n)) return &node->binding;
  }
  return nullptr;
}

ParamBinding* StmtGetParamBinding(int16_t n, StmtRecord* stmt) {
  if (n < 1 || n > stmt->paramBindingCap || stmt->paramBindings == nullptr) return nullptr;
  ParamBinding* b = &stmt->paramBindings[n - 1];
  return b->number != 0 ? b : nullptr;
}

// ---- applying an application descriptor ----------------------------------------------------

void DescParamSize(const DescFieldRec* ipd, uint64_t* columnSize, int16_t* decimalDigits) {
  *columnSize = 0;
  *decimalDigits = 0;
  if (ipd == nullptr) return;
  switch (ipd->conciseType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY:
    case SQL_LONGVARBINARY: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
      *columnSize = static_cast<uint32_t>(ipd->length);
      break;
    case SQL_DATE: case SQL_TIME:
      *columnSize = static_cast<uint32_t>(ipd->length);
      *decimalDigits = ipd->precision;
      break;
    case SQL_NUMERIC: case SQL_DECIMAL:
      *columnSize = static_cast<uint16_t>(ipd->precision);
      *decimalDigits = ipd->scale;
      break;
    default:
      *columnSize = static_cast<uint16_t>(ipd->precision);
      break;
  }
}

namespace {

uint64_t PtrValue(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

int StmtApplyARD(StmtRecord* stmt, DescRecord* desc) {
  const struct {
    int32_t attr;
    uint64_t value;
  } attrs[] = {
      {SQL_ATTR_ROW_BIND_OFFSET_PTR, PtrValue(desc->bindOffsetPtr)},
      {SQL_ATTR_ROW_BIND_TYPE, static_cast<uint32_t>(desc->bindType)},
      {SQL_ATTR_ROW_OPERATION_PTR, PtrValue(desc->arrayStatusPtr)},
      {SQL_ATTR_ROW_ARRAY_SIZE, desc->arraySize},
  };
  for (const auto& a : attrs) {
    if (StmtSetAttr(stmt, a.attr, a.value, 0, 'A') == SQL_ERROR) return KX_ERR_GENERAL;
  }
  int16_t n = 0;
  for (DescRecNode* node = desc->records; node != nullptr; node = node->next, ++n) {
    const DescFieldRec& r = node->rec;
    if (r.dataPtr == nullptr) continue;
    int rc = StmtBindColEx(stmt, static_cast<uint16_t>(n), r.conciseType, r.dataPtr, r.octetLength,
                           r.octetLengthPtr, r.indicatorPtr);
    if (rc != 0) return rc;
  }
  return 0;
}

int StmtApplyAPD(StmtRecord* stmt, DescRecord* desc) {
  const struct {
    int32_t attr;
    uint64_t value;
  } attrs[] = {
      {SQL_ATTR_PARAM_BIND_OFFSET_PTR, PtrValue(desc->bindOffsetPtr)},
      {SQL_ATTR_PARAM_BIND_TYPE, static_cast<uint32_t>(desc->bindType)},
      {SQL_ATTR_PARAM_OPERATION_PTR, PtrValue(desc->arrayStatusPtr)},
      {SQL_ATTR_PARAMSET_SIZE, desc->arraySize},
  };
  for (const auto& a : attrs) {
    if (StmtSetAttr(stmt, a.attr, a.value, 0, 'A') == SQL_ERROR) return KX_ERR_GENERAL;
  }
  DescRecord* ipd = stmt->ipd;
  if (ipd != nullptr && desc->count > ipd->count) {
    if (DescSetField(ipd, 0, SQL_DESC_COUNT, static_cast<uint16_t>(desc->count), 0, 'A') ==
        SQL_ERROR) {
      return KX_ERR_GENERAL;
    }
  }
  int16_t n = 0;
  for (DescRecNode* node = desc->records; node != nullptr; node = node->next, ++n) {
    const DescFieldRec& r = node->rec;
    if (r.dataPtr == nullptr) continue;
    const DescFieldRec* ir = ipd != nullptr ? DescGetRec(ipd, n) : nullptr;
    uint64_t size = 0;
    int16_t digits = 0;
    DescParamSize(ir, &size, &digits);
    SQLRETURN rc = StmtBindParameter(stmt, static_cast<uint16_t>(n),
                                     ir != nullptr ? ir->parameterType : SQL_PARAM_INPUT,
                                     r.conciseType, ir != nullptr ? ir->conciseType : 0, size,
                                     digits, r.dataPtr, r.octetLength, r.octetLengthPtr,
                                     r.indicatorPtr);
    if (rc == SQL_ERROR) return stmt->error != 0 ? stmt->error : KX_ERR_GENERAL;
  }
  return 0;
}

}  // namespace kx
