// Descriptor records: allocation and release, the record list, the binding
// views through record numbers, and applying an application descriptor to a
// statement's bindings.
#include "odbc/desc.h"

#include <sqlext.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

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
  // A descriptor without its bookmark record would break every record walk,
  // so the record, its list and the bookmark count as one allocation.
  std::unique_ptr<DescRecord> desc(new (std::nothrow) DescRecord{});
  DescFieldRecPtr bookmark(new (std::nothrow) DescFieldRec{});
  bool made = desc != nullptr && bookmark != nullptr;
  if (made) {
    try {
      desc->records.push_back(std::move(bookmark));
    } catch (const std::bad_alloc&) {
      made = false;
    }
  }
  if (!made) {
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
  if (stmt != nullptr && allocation == SQL_DESC_ALLOC_AUTO) {
    switch (kind) {
      case DK_ARD: stmt->implicitArd = stmt->currentArd = desc.get(); break;
      case DK_APD: stmt->implicitApd = stmt->currentApd = desc.get(); break;
      case DK_IRD: stmt->ird = desc.get(); break;
      case DK_IPD: stmt->ipd = desc.get(); break;
      default: break;
    }
  }
  return desc.release();
}

void DescFree(DescRecord* desc) {
  if (desc == nullptr) return;
  // Out of reach first: a diagnostic read of another thread finds the record
  // only through its handle, and never while it is taken apart.
  HandleRemove(HK_DESC, desc);
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
  desc->records.clear();
  MsgListFree(&desc->messages);
  desc->magic = MAGIC_FREED;
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

// The list holds the bookmark record and one entry per counted record: the
// count only changes as DescGrowRecs adds records or as the list is trimmed
// to it.
int32_t DescRecCount(const DescRecord* desc) { return desc->records.empty() ? 0 : desc->count; }

DescFieldRec* DescGetRec(DescRecord* desc, int32_t n) {
  if (n < 0 || static_cast<size_t>(n) >= desc->records.size()) return nullptr;
  return desc->records[static_cast<size_t>(n)].get();
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

void DescFieldRecFree::operator()(DescFieldRec* rec) const noexcept {
  DescRecClear(rec);
  delete rec;
}

int DescGrowRecs(DescRecord* desc, int16_t n) {
  if (n <= desc->count) return 0;
  try {
    desc->records.reserve(static_cast<size_t>(n) + 1);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  } catch (const std::length_error&) {
    return KX_ERR_NOMEM;
  }
  while (desc->count < n) {
    DescFieldRecPtr rec(new (std::nothrow) DescFieldRec{});
    if (rec == nullptr) return KX_ERR_NOMEM;
    DescRecInit(desc, rec.get());
    desc->records.push_back(std::move(rec));  // room reserved above: does not throw
    ++desc->count;
  }
  return 0;
}

void DescTrimRecs(DescRecord* desc, int32_t n) {
  const size_t keep = static_cast<size_t>(n < 0 ? 0 : n) + 1;
  if (desc->records.size() > keep) {
    desc->records.erase(desc->records.begin() + static_cast<std::ptrdiff_t>(keep), desc->records.end());
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
  // The inverse of what SQLBindParameter writes into the record, so that a
  // binding rebuilt from the record is the one the application made.
  switch (ipd->conciseType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY:
    case SQL_LONGVARBINARY: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR: case SQL_GUID:
    case SQL_DATE: case SQL_TYPE_DATE: case SQL_INTERVAL_YEAR: case SQL_INTERVAL_MONTH: case SQL_INTERVAL_DAY:
    case SQL_INTERVAL_HOUR: case SQL_INTERVAL_MINUTE: case SQL_INTERVAL_YEAR_TO_MONTH:
    case SQL_INTERVAL_DAY_TO_HOUR: case SQL_INTERVAL_DAY_TO_MINUTE: case SQL_INTERVAL_HOUR_TO_MINUTE:
      *columnSize = ipd->length;
      break;
    case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_INTERVAL_SECOND:
    case SQL_INTERVAL_DAY_TO_SECOND: case SQL_INTERVAL_HOUR_TO_SECOND: case SQL_INTERVAL_MINUTE_TO_SECOND:
      *columnSize = ipd->length;
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
  // By number, not by iterator: binding may add records to the list.
  for (size_t i = 0; i < desc->records.size(); ++i) {
    const DescFieldRec& r = *desc->records[i];
    const auto n = static_cast<int16_t>(i);
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
  for (size_t i = 0; i < desc->records.size(); ++i) {
    const DescFieldRec& r = *desc->records[i];
    const auto n = static_cast<int16_t>(i);
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
