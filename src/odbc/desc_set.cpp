// The write side of the descriptor field engine and the composite descriptor
// calls: SQLSetDescField, SQLCopyDesc, SQLGetDescRec and SQLSetDescRec. A
// write stores the value in the descriptor and, when the descriptor is in use
// by a statement, carries it at once into that statement's bindings and
// options: the descriptor and the bindings are two views of one thing.
//
// A value of 0 leaves most fields unchanged. The exceptions are the fields
// where 0 (or NULL) is a meaningful value: SCALE and OCTET_LENGTH, the
// pointer fields, and DATA_PTR and COUNT, where NULL and 0 unbind: keeping the
// old binding would have fetch and execute use buffers the application has
// taken back.
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "odbc/call_args.h"
#include "odbc/desc.h"
#include "odbc/diag.h"
#include "odbc/exec/param_bind.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

namespace {

template <class T>
T* AsPtr(uint64_t v) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(v));
}

bool IsReadOnlyField(int16_t field) {
  switch (field) {
    case 6: case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17:
    case 18: case 22: case 23: case 27: case 28: case 29: case SQL_DESC_NULLABLE:
    case SQL_DESC_ALLOC_TYPE:
      return true;
    default:
      return false;
  }
}

bool IsUnbindingField(int16_t field) {
  switch (field) {
    case SQL_DESC_TYPE: case SQL_DESC_CONCISE_TYPE: case SQL_DESC_DATETIME_INTERVAL_CODE:
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: case SQL_DESC_LENGTH: case SQL_DESC_NAME:
    case SQL_DESC_NUM_PREC_RADIX: case SQL_DESC_OCTET_LENGTH: case SQL_DESC_PARAMETER_TYPE:
    case SQL_DESC_PRECISION: case SQL_DESC_SCALE: case SQL_DESC_UNNAMED:
      return true;
    default:
      return false;
  }
}

bool In(int t, int lo, int hi) { return t >= lo && t <= hi; }

bool IsTextType(int t) { return t == -10 || t == -9 || t == -8 || t == -1 || t == 1 || t == 12; }

bool IsPlainType(int t) {
  return In(t, -28, -25) || In(t, -18, -15) || In(t, -7, -2) || t == 4 || t == 5 || t == 8;
}

// TYPE := v and the fields it implies. 0 or 27.
int ApplyType(DescFieldRec* r, int16_t v) {
  r->type = v;
  if (v == 2 || v == 3) {
    r->conciseType = v;
    r->scale = 0;
    r->precision = 38;
  } else if (v == 6) {
    r->conciseType = 6;
    r->precision = 53;
  } else if (v == 7) {
    r->conciseType = 7;
    r->precision = 24;
  } else if (v == SQL_DATETIME) {
    switch (r->datetimeIntervalCode) {
      case 1: r->conciseType = 91; r->precision = 0; break;
      case 2: r->conciseType = 92; r->precision = 0; break;
      case 3: r->conciseType = 93; r->precision = 6; break;
      default: break;
    }
  } else if (v == SQL_INTERVAL) {
    const int c = r->datetimeIntervalCode;
    if (In(c, 1, 13)) {
      r->conciseType = static_cast<int16_t>(c + 100);
      r->datetimeIntervalPrecision = 2;
      if (c == 6 || c == 10 || c == 12 || c == 13) r->precision = 6;
    }
  } else if (IsPlainType(v) || v == SQL_C_DEFAULT) {
    r->conciseType = v;
  } else if (IsTextType(v)) {
    r->conciseType = v;
    r->length = 1;
    r->precision = 0;
  } else {
    return KX_ERR_BAD_OPTION;
  }
  return 0;
}

// The fields a concise type implies. 0 or 27.
int ApplyConciseType(DescFieldRec* r) {
  const int c = r->conciseType;
  auto set = [r](int type, int dic) {
    r->type = static_cast<int16_t>(type);
    r->datetimeIntervalCode = static_cast<int16_t>(dic);
  };
  if (c == 2 || c == 3) {
    set(c, 0);
    r->scale = 0;
    r->precision = 38;
  } else if (c == 6) {
    set(6, 0);
    r->precision = 53;
  } else if (c == 7) {
    set(7, 0);
    r->precision = 24;
  } else if (c == 9 || c == 91) {
    set(9, 1);
    r->precision = 0;
  } else if (c == 10 || c == 92) {
    set(9, 2);
    r->precision = 0;
  } else if (c == 11 || c == 93) {
    set(9, 3);
    r->precision = 6;
  } else if (c == SQL_C_DEFAULT) {
    r->type = SQL_C_DEFAULT;
  } else if (In(c, 101, 113)) {
    set(10, c - 100);
    r->datetimeIntervalPrecision = 2;
    if (c == 106 || c == 110 || c == 112 || c == 113) r->precision = 6;
  } else if (IsPlainType(c)) {
    set(c, 0);
  } else if (IsTextType(c)) {
    set(c, 0);
    r->length = 1;
    r->precision = 0;
  } else {
    return KX_ERR_BAD_OPTION;
  }
  return 0;
}

// A copy of the NAME text in UTF-8; nullptr with *code set on failure.
char* CopyName(uint64_t value, int64_t length, char form, int* code) {
  *code = 0;
  if (value == 0) return nullptr;
  if (length < 0 && length != SQL_NTS) {
    *code = KX_ERR_BAD_LENGTH;
    return nullptr;
  }
  char* copy;
  if (form == 'W') {
    const auto* text = AsPtr<const char16_t>(value);
    copy = length == SQL_NTS ? Ucs2ToUtf8Dup(text) : Ucs2ToUtf8DupN(text, length / 2);
  } else {
    const auto* text = AsPtr<const char>(value);
    const size_t n = length == SQL_NTS ? std::strlen(text) : static_cast<size_t>(length);
    copy = static_cast<char*>(std::malloc(n + 1));
    if (copy != nullptr) {
      StrCopyBytes(copy, text, n);
    }
  }
  if (copy == nullptr) *code = KX_ERR_NOMEM;
  return copy;
}

// Drops the statement's bindings beyond record n of an applied descriptor.
void UnbindBeyond(StmtRecord* s, bool row, int32_t n) {
  if (row) {
    for (ColBindingNode* node = s->colBindings; node != nullptr;) {
      ColBindingNode* next = node->next;
      if (node->binding.column > n) ColBindingRemove(s, node);
      node = next;
    }
  } else {
    for (int32_t i = n + 1; i <= s->paramBindingCap; ++i) {
      ParamBinding* pb = StmtGetParamBinding(static_cast<int16_t>(i), s);
      if (pb != nullptr) pb->value = nullptr;
    }
  }
}

void UnbindRecord(StmtRecord* s, bool row, int16_t n) {
  if (row) {
    ColBindingNode key{};
    key.binding.column = static_cast<uint16_t>(n);
    ColBindingRemove(s, &key);
  } else {
    ParamBinding* pb = StmtGetParamBinding(n, s);
    if (pb != nullptr) pb->value = nullptr;
  }
}

}  // namespace

SQLRETURN DescSetFieldEngine(StmtRecord* s, bool application, bool row, bool applied, DescRecord* d,
                             int16_t recNumber, int16_t field, uint64_t value, int64_t length,
                             char form) {
  const bool isIrd = d->allocType != SQL_DESC_ALLOC_USER && d->kind == DK_IRD;
  const bool isIpd = d->allocType != SQL_DESC_ALLOC_USER && d->kind == DK_IPD;
  if (s == nullptr) applied = false;
  const bool appliedArd = applied && application && row;
  const bool appliedApd = applied && application && !row;
  const bool appliedIpd = applied && isIpd;

  // ---- header fields ----
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
      if (!application) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      if (value != 0) d->arraySize = value;
      if (appliedArd) {
        const uint64_t size = d->arraySize > 0x7FFFFFFF ? 0x7FFFFFFF : d->arraySize;
        return StmtSetOption(s, SQL_ROWSET_SIZE, size);
      }
      if (appliedApd) {
        int rc = StmtParamOptions(s, d->arraySize, s->ipd != nullptr ? s->ipd->rowsProcessedPtr : nullptr);
        if (rc != 0) return Fail(s, rc);
      }
      return SQL_SUCCESS;
    case SQL_DESC_ARRAY_STATUS_PTR:
      d->arrayStatusPtr = AsPtr<uint16_t>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
      if (!application) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      d->bindOffsetPtr = AsPtr<int64_t>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
      if (!application) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      d->bindType = static_cast<int32_t>(value);
      if (appliedArd) s->bindType = d->bindType;
      return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR:
      if (application || !(isIrd || isIpd)) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      // NULL included: the application stops the counter this way.
      d->rowsProcessedPtr = AsPtr<uint64_t>(value);
      if (applied && isIrd) s->rowsFetchedPtr = d->rowsProcessedPtr;
      if (appliedIpd) {
        const uint64_t rows = s->currentApd != nullptr ? s->currentApd->arraySize : 1;
        int rc = StmtParamOptions(s, rows, d->rowsProcessedPtr);
        if (rc != 0) return Fail(s, rc);
        s->rowsProcessedPtr = d->rowsProcessedPtr;
      }
      return SQL_SUCCESS;
    case SQL_DESC_COUNT: {
      if (isIrd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      const int16_t n = static_cast<int16_t>(value);
      if (n < 0) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
      if (n < d->count) {
        DescTrimRecs(d, n);
        d->count = n;
        if (appliedArd || appliedApd) UnbindBeyond(s, row, n);
      } else if (n > d->count) {
        int rc = DescGrowRecs(d, n);
        if (rc != 0) return Fail(d, rc);
        if (appliedApd && s->ipd != nullptr && s->ipd->count < n) {
          rc = DescGrowRecs(s->ipd, n);
          if (rc != 0) return Fail(d, rc);
        }
      }
      return SQL_SUCCESS;
    }
    default:
      break;
  }

  // ---- record fields ----
  if (isIrd) return Fail(d, KX_ERR_MODIFY_IRD);
  if (recNumber < 0 || (recNumber == 0 && !row)) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  if (recNumber > d->count) {
    int rc = DescGrowRecs(d, recNumber);
    if (rc != 0) return Fail(d, rc);
  }
  if (appliedApd && s->ipd != nullptr && s->ipd->count < recNumber) {
    int rc = DescGrowRecs(s->ipd, recNumber);
    if (rc != 0) return Fail(d, rc);
  }
  if ((appliedArd || appliedApd) && IsUnbindingField(field)) UnbindRecord(s, row, recNumber);

  DescFieldRec* r = DescGetRec(d, recNumber);
  if (r == nullptr) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  ParamBinding* pb = appliedIpd ? StmtGetParamBinding(recNumber, s) : nullptr;
  const int16_t v16 = static_cast<int16_t>(value);
  const int32_t v32 = static_cast<int32_t>(value);

  switch (field) {
    case SQL_DESC_TYPE: {
      if (v16 == 0) return SQL_SUCCESS;
      int rc = ApplyType(r, v16);
      if (rc != 0) return Fail(d, rc);
      if (pb != nullptr) pb->sqlType = r->conciseType;
      return SQL_SUCCESS;
    }
    case SQL_DESC_CONCISE_TYPE: {
      if (v16 == 0) return SQL_SUCCESS;
      r->conciseType = v16;
      int rc = ApplyConciseType(r);
      if (rc != 0) return Fail(d, rc);
      if (isIpd && r->parameterType == 0) r->parameterType = SQL_PARAM_INPUT;
      if (pb != nullptr) pb->sqlType = r->conciseType;
      return SQL_SUCCESS;
    }
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      if (v16 == 0) return SQL_SUCCESS;
      r->datetimeIntervalCode = v16;
      if (r->type == SQL_DATETIME) r->conciseType = static_cast<int16_t>(v16 + 90);
      if (r->type == SQL_INTERVAL) r->conciseType = static_cast<int16_t>(v16 + 100);
      return SQL_SUCCESS;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      if (v32 != 0) r->datetimeIntervalPrecision = v32;
      return SQL_SUCCESS;
    case SQL_DESC_LENGTH: {
      const uint32_t len = static_cast<uint32_t>(value);
      if (len == 0) return SQL_SUCCESS;
      r->length = len;
      if (pb != nullptr) {
        const int t = pb->sqlType;
        if (IsTextType(t) || t == -4 || t == -3 || t == -2 || t == 9 || t == 10) pb->columnSize = len;
      }
      return SQL_SUCCESS;
    }
    case SQL_DESC_OCTET_LENGTH:
      r->octetLength = v32;
      if (pb != nullptr) pb->sqlType = r->conciseType;
      return SQL_SUCCESS;
    case SQL_DESC_PRECISION:
      if (v16 == 0) return SQL_SUCCESS;
      r->precision = v16;
      if (pb != nullptr) {
        if (pb->sqlType == 2 || pb->sqlType == 3) pb->columnSize = static_cast<uint16_t>(v16);
        if (pb->sqlType == 9 || pb->sqlType == 10) pb->decimalDigits = v16;
      }
      return SQL_SUCCESS;
    case SQL_DESC_SCALE:
      r->scale = v16;
      if (pb != nullptr) pb->decimalDigits = v16;
      return SQL_SUCCESS;
    case SQL_DESC_NUM_PREC_RADIX:
      if (v32 != 0) r->numPrecRadix = v32;
      return SQL_SUCCESS;
    case SQL_DESC_PARAMETER_TYPE:
      if (!isIpd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      if (v16 == 0) return SQL_SUCCESS;
      r->parameterType = v16;
      if (pb != nullptr) pb->direction = v16;
      return SQL_SUCCESS;
    case SQL_DESC_NAME: {
      if (!isIpd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      if (value == 0) return SQL_SUCCESS;
      int code = 0;
      char* copy = CopyName(value, length, form, &code);
      if (copy == nullptr) return Fail(d, code);
      std::free(r->name);
      r->name = copy;
      if (copy[0] != '\0') r->unnamed = SQL_NAMED;
      return SQL_SUCCESS;
    }
    case SQL_DESC_UNNAMED:
      if (!isIpd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      if (v16 == 0) return SQL_SUCCESS;
      if (v16 != SQL_UNNAMED) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      r->unnamed = SQL_UNNAMED;
      return SQL_SUCCESS;
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR: {
      if (!application) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      auto* p = AsPtr<int64_t>(value);
      const bool indicator = field == SQL_DESC_INDICATOR_PTR;
      (indicator ? r->indicatorPtr : r->octetLengthPtr) = p;
      if (appliedArd) {
        ColBinding* cb = StmtGetColBinding(recNumber, s);
        if (cb != nullptr) (indicator ? cb->indicator : cb->octetLength) = p;
      } else if (appliedApd) {
        ParamBinding* b = StmtGetParamBinding(recNumber, s);
        if (b != nullptr) (indicator ? b->indicator : b->octetLength) = p;
      }
      return SQL_SUCCESS;
    }
    case SQL_DESC_DATA_PTR: {
      if (!application) return SQL_SUCCESS;
      r->dataPtr = AsPtr<void>(value);
      if (r->dataPtr == nullptr) {
        if (appliedArd || appliedApd) UnbindRecord(s, row, recNumber);
        return SQL_SUCCESS;
      }
      if (appliedArd) {
        int rc = StmtBindColEx(s, static_cast<uint16_t>(recNumber), r->conciseType, r->dataPtr,
                               r->octetLength, r->octetLengthPtr, r->indicatorPtr);
        if (rc != 0) return Fail(s, rc);
      } else if (appliedApd) {
        const DescFieldRec* ir = s->ipd != nullptr ? DescGetRec(s->ipd, recNumber) : nullptr;
        uint64_t size = 0;
        int16_t digits = 0;
        DescParamSize(ir, &size, &digits);
        return StmtBindParameter(s, static_cast<uint16_t>(recNumber),
                                 ir != nullptr ? ir->parameterType : SQL_PARAM_INPUT, r->conciseType,
                                 ir != nullptr ? ir->conciseType : 0, size, digits, r->dataPtr,
                                 r->octetLength, r->octetLengthPtr, r->indicatorPtr);
      }
      return SQL_SUCCESS;
    }
    default:
      return Fail(d, KX_ERR_NOT_SUPPORTED);
  }
}

SQLRETURN DescSetField(DescRecord* d, int16_t recNumber, int16_t field, uint64_t value, int64_t length,
                       char form) {
  if (TraceOn()) TracePrintf("Descriptor Type: %s", DescKindName(d));
  if (IsReadOnlyField(field)) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
  // Errors of a statement-side effect land on the statement; a caller on the
  // descriptor handle sees them through the descriptor.
  auto report = [d](StmtRecord* s, SQLRETURN rc) {
    if (rc == SQL_ERROR && d->error == 0 && s != nullptr) d->error = s->error;
    return rc;
  };
  if (d->allocType != SQL_DESC_ALLOC_USER) {
    StmtRecord* s = d->stmt;
    const bool applied = s != nullptr && (d == s->currentArd || d == s->currentApd || d == s->ird ||
                                          d == s->ipd);
    return report(s, DescSetFieldEngine(s, DescIsApplication(d), DescIsRow(d), applied, d, recNumber,
                                        field, value, length, form));
  }
  // A user descriptor reaches the statements of its connection that use it;
  // the caller holds that connection's call lock.
  bool used = false;
  SQLRETURN result = SQL_SUCCESS;
  ConnRecord* conn = d->conn;
  for (StmtRecord* s = conn != nullptr ? conn->firstStmt : nullptr; s != nullptr; s = s->next) {
    const bool asArd = s->currentArd == d;
    const bool asApd = s->currentApd == d;
    if (!asArd && !asApd) continue;
    used = true;
    SQLRETURN rc = DescSetFieldEngine(s, true, asArd, true, d, recNumber, field, value, length, form);
    if (rc == SQL_ERROR) return report(s, rc);
    if (rc != SQL_SUCCESS) result = rc;
  }
  if (used) return result;
  return DescSetFieldEngine(nullptr, true, false, false, d, recNumber, field, value, length, form);
}

// ---- SQLCopyDesc --------------------------------------------------------------------------

namespace {

// Reads one field of the source into an integer; returns the read's result.
SQLRETURN ReadField(DescRecord* src, int16_t rec, int16_t field, uint64_t* value, int64_t* length) {
  unsigned char buffer[8] = {};
  int64_t len = 0;
  SQLRETURN rc = DescGetField(src, rec, field, buffer, 8, &len, 'A');
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  if (len == 2) {
    int16_t v;
    std::memcpy(&v, buffer, 2);
    *value = static_cast<uint64_t>(static_cast<int64_t>(v));
  } else if (len == 4) {
    int32_t v;
    std::memcpy(&v, buffer, 4);
    *value = static_cast<uint64_t>(static_cast<int64_t>(v));
  } else {
    std::memcpy(value, buffer, 8);
  }
  *length = len;
  return rc;
}

}  // namespace

SQLRETURN DescCopy(DescRecord* src, uint32_t targetHandle) {
  auto* dst = static_cast<DescRecord*>(HT_Lookup(DescTable(), targetHandle));
  if (dst == nullptr || dst->magic != DESC_MAGIC) return SQL_INVALID_HANDLE;
  if (dst == src) return SQL_SUCCESS;
  // A target on another connection is changed under that connection's call
  // lock too; when it is busy the copy is refused rather than raced.
  ConnRecord* srcConn = OwningConnection(src);
  ConnRecord* dstConn = OwningConnection(dst);
  std::unique_lock<std::recursive_mutex> lock;
  if (dstConn != nullptr && dstConn != srcConn) {
    lock = std::unique_lock<std::recursive_mutex>(dstConn->callLock, std::try_to_lock);
    if (!lock.owns_lock()) return Fail(src, KX_ERR_SEQUENCE);
    // Freed and its handle given away while the lock was not held?
    if (HT_Lookup(DescTable(), targetHandle) != dst || dst->magic != DESC_MAGIC) {
      return SQL_INVALID_HANDLE;
    }
  }
  dst->error = 0;
  MsgListFree(&dst->messages);

  const bool srcApp = DescIsApplication(src);
  const bool dstApp = DescIsApplication(dst);
  const bool srcRow = DescIsRow(src);
  const bool dstRow = DescIsRow(dst);
  const bool srcImpl = !srcApp;
  const bool dstImpl = !dstApp;
  const bool srcIpd = src->allocType != SQL_DESC_ALLOC_USER && src->kind == DK_IPD;
  const bool dstIpd = dst->allocType != SQL_DESC_ALLOC_USER && dst->kind == DK_IPD;
  if (TraceOn()) TracePrintf("Source Descriptor Type: %s", DescKindName(src));
  if (dst->allocType != SQL_DESC_ALLOC_USER && dst->kind == DK_IRD) return Fail(dst, KX_ERR_MODIFY_IRD);
  if (src->allocType != SQL_DESC_ALLOC_USER && src->kind == DK_IRD) {
    StmtRecord* s = src->stmt;
    if (s == nullptr || ((s->flags & SF_PREPARED) == 0 && s->state != STMT_PREPARED)) {
      return Fail(dst, KX_ERR_SEQUENCE);
    }
  }

  SQLRETURN result = SQL_SUCCESS;
  auto copy = [&](int16_t rec, int16_t field) -> SQLRETURN {
    uint64_t value = 0;
    int64_t len = 0;
    SQLRETURN rc = ReadField(src, rec, field, &value, &len);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
      dst->error = src->error;
      return rc;
    }
    rc = DescSetField(dst, rec, field, value, len, 'A');
    if (rc == SQL_ERROR) return rc;
    if (rc != SQL_SUCCESS) result = rc;
    return SQL_SUCCESS;
  };

  struct HeaderCopy {
    int16_t field;
    bool when;
  };
  const HeaderCopy headers[] = {
      {SQL_DESC_ARRAY_SIZE, srcApp && dstApp},
      {SQL_DESC_ARRAY_STATUS_PTR, true},
      {SQL_DESC_BIND_OFFSET_PTR, srcApp && dstApp},
      {SQL_DESC_BIND_TYPE, srcApp && dstApp},
      {SQL_DESC_COUNT, true},
      {SQL_DESC_ROWS_PROCESSED_PTR, srcImpl && dstImpl},
  };
  for (const HeaderCopy& h : headers) {
    if (!h.when) continue;
    SQLRETURN rc = copy(0, h.field);
    if (rc != SQL_SUCCESS) return rc;
  }

  // Every record the source holds.
  uint64_t countValue = 0;
  int64_t countLen = 0;
  SQLRETURN rc = ReadField(src, 0, SQL_DESC_COUNT, &countValue, &countLen);
  if (rc == SQL_ERROR) {
    dst->error = src->error;
    return rc;
  }
  const int16_t count = static_cast<int16_t>(countValue);
  const bool bookmarks = srcRow && dstRow && src->stmt != nullptr && dst->stmt != nullptr &&
                         src->stmt->cursor.useBookmarks && dst->stmt->cursor.useBookmarks;
  for (int32_t rec = bookmarks ? 0 : 1; rec <= count; ++rec) {
    struct FieldCopy {
      int16_t field;
      bool when;
    };
    const FieldCopy fields[] = {
        {SQL_DESC_TYPE, true},
        {SQL_DESC_CONCISE_TYPE, true},
        {SQL_DESC_DATETIME_INTERVAL_CODE, true},
        {SQL_DESC_DATETIME_INTERVAL_PRECISION, true},
        {SQL_DESC_INDICATOR_PTR, srcApp && dstApp},
        {SQL_DESC_LENGTH, true},
        {SQL_DESC_NAME, srcImpl && dstImpl},
        {SQL_DESC_NUM_PREC_RADIX, true},
        {SQL_DESC_OCTET_LENGTH, true},
        {SQL_DESC_OCTET_LENGTH_PTR, srcApp && dstApp},
        {SQL_DESC_PARAMETER_TYPE, srcIpd && dstIpd},
        {SQL_DESC_PRECISION, true},
        {SQL_DESC_SCALE, true},
        {SQL_DESC_UNNAMED, srcIpd && dstIpd},
        {SQL_DESC_DATA_PTR, srcApp && dstApp},
    };
    for (const FieldCopy& f : fields) {
      if (!f.when) continue;
      if (f.field == SQL_DESC_NAME) {
        // Only an implementation row descriptor target refuses names, and an
        // IRD is never a target: the name goes to an IPD.
        if (!dstIpd) continue;
        char name[256] = {};
        int64_t len = 0;
        SQLRETURN nrc = DescGetField(src, rec, SQL_DESC_NAME, name, 255, &len, 'A');
        if (nrc == SQL_SUCCESS_WITH_INFO) {
          // A cut name is copied as far as it went; the copy goes on.
          result = SQL_SUCCESS_WITH_INFO;
          dst->error = KX_ERR_DATA_TRUNCATED;
          src->error = 0;
        } else if (nrc != SQL_SUCCESS) {
          dst->error = src->error;
          return nrc;
        }
        nrc = DescSetField(dst, rec, SQL_DESC_NAME, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(name)),
                           SQL_NTS, 'A');
        if (nrc == SQL_ERROR) return nrc;
        continue;
      }
      rc = copy(rec, f.field);
      if (rc != SQL_SUCCESS) return rc;
    }
  }
  if (result == SQL_SUCCESS_WITH_INFO && dst->error == 0) dst->error = KX_ERR_DATA_TRUNCATED;
  return result;
}

// ---- SQLGetDescRec / SQLSetDescRec -------------------------------------------------------

SQLRETURN DescGetRecFields(DescRecord* d, int16_t rec, void* name, int16_t bufferLength,
                           int16_t* nameLength, int16_t* type, int16_t* subtype, int64_t* length,
                           int16_t* precision, int16_t* scale, int16_t* nullable, char form) {
  int16_t t = 0;
  SQLRETURN rc = DescGetField(d, rec, SQL_DESC_TYPE, &t, 2, nullptr, 'A');
  if (rc != SQL_SUCCESS) return rc;
  if (type != nullptr) *type = t;
  if (subtype != nullptr) {
    int16_t sub = 0;
    if (t == SQL_DATETIME || t == SQL_INTERVAL) {
      rc = DescGetField(d, rec, SQL_DESC_DATETIME_INTERVAL_CODE, &sub, 2, nullptr, 'A');
      if (rc != SQL_SUCCESS) return rc;
    }
    *subtype = sub;
  }
  if (length != nullptr) {
    // SQLLEN: all 8 bytes.
    rc = DescGetField(d, rec, SQL_DESC_OCTET_LENGTH, length, 8, nullptr, 'A');
    if (rc != SQL_SUCCESS) return rc;
  }
  if (precision != nullptr) {
    rc = DescGetField(d, rec, SQL_DESC_PRECISION, precision, 2, nullptr, 'A');
    if (rc != SQL_SUCCESS) return rc;
  }
  if (scale != nullptr) {
    rc = DescGetField(d, rec, SQL_DESC_SCALE, scale, 2, nullptr, 'A');
    if (rc != SQL_SUCCESS) return rc;
  }
  if (DescIsApplication(d)) return SQL_SUCCESS;
  if (nullable != nullptr) {
    rc = DescGetField(d, rec, SQL_DESC_NULLABLE, nullable, 2, nullptr, 'A');
    if (rc != SQL_SUCCESS) return rc;
  }
  if (bufferLength < 0) return Fail(d, KX_ERR_BAD_LENGTH);
  const int64_t bytes = form == 'W' ? 2 * static_cast<int64_t>(bufferLength) : bufferLength;
  int64_t len = 0;
  rc = DescGetField(d, rec, SQL_DESC_NAME, name, bytes, &len, form);
  if (rc == SQL_ERROR || rc == SQL_NO_DATA) return rc;
  if (nameLength != nullptr) {
    *nameLength = static_cast<int16_t>((form == 'W' ? len / 2 : len) & 0xFFFF);
  }
  return rc;
}

SQLRETURN DescSetRecFields(DescRecord* d, int16_t rec, int16_t type, int16_t subtype, int64_t length,
                           int16_t precision, int16_t scale, void* data, int64_t* octetLength,
                           int64_t* indicator) {
  if (d->allocType != SQL_DESC_ALLOC_USER && d->kind == DK_IRD) return Fail(d, KX_ERR_MODIFY_IRD);
  auto set = [&](int16_t field, uint64_t value) { return DescSetField(d, rec, field, value, 0, 'A'); };
  auto ptr = [](const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); };
  SQLRETURN rc = set(SQL_DESC_TYPE, static_cast<uint64_t>(static_cast<int64_t>(type)));
  if (rc != SQL_SUCCESS) return rc;
  if (type == SQL_DATETIME || type == SQL_INTERVAL) {
    rc = set(SQL_DESC_DATETIME_INTERVAL_CODE, static_cast<uint64_t>(static_cast<int64_t>(subtype)));
    if (rc != SQL_SUCCESS) return rc;
  }
  const struct {
    int16_t field;
    uint64_t value;
  } steps[] = {
      {SQL_DESC_OCTET_LENGTH, static_cast<uint64_t>(length)},
      {SQL_DESC_PRECISION, static_cast<uint64_t>(static_cast<int64_t>(precision))},
      {SQL_DESC_SCALE, static_cast<uint64_t>(static_cast<int64_t>(scale))},
      {SQL_DESC_DATA_PTR, ptr(data)},
  };
  for (const auto& st : steps) {
    rc = set(st.field, st.value);
    if (rc != SQL_SUCCESS) return rc;
  }
  if (DescIsApplication(d)) {
    rc = set(SQL_DESC_OCTET_LENGTH_PTR, ptr(octetLength));
    if (rc != SQL_SUCCESS) return rc;
    rc = set(SQL_DESC_INDICATOR_PTR, ptr(indicator));
    if (rc != SQL_SUCCESS) return rc;
  }
  return SQL_SUCCESS;
}

// ---- handlers -------------------------------------------------------------------------------

SQLRETURN DescSetFieldCall(HandleHead* rec, const OdbcArgs& args) {
  return DescSetField(static_cast<DescRecord*>(rec), args.Get<int16_t>(0), args.Get<int16_t>(1),
                      args.Get<uint64_t>(2), static_cast<int64_t>(args.Get<int32_t>(3)),
                      args.Count() > 4 ? args.Get<char>(4) : 'A');
}

SQLRETURN DescCopyCall(HandleHead* rec, const OdbcArgs& args) {
  return DescCopy(static_cast<DescRecord*>(rec), static_cast<uint32_t>(args.Get<uint64_t>(0)));
}

SQLRETURN DescGetRecCall(HandleHead* rec, const OdbcArgs& args) {
  return DescGetRecFields(static_cast<DescRecord*>(rec), args.Get<int16_t>(0), args.Get<void*>(1),
                          args.Get<int16_t>(2), args.Get<int16_t*>(3), args.Get<int16_t*>(4),
                          args.Get<int16_t*>(5), args.Get<int64_t*>(6), args.Get<int16_t*>(7),
                          args.Get<int16_t*>(8), args.Get<int16_t*>(9),
                          args.Count() > 10 ? args.Get<char>(10) : 'A');
}

SQLRETURN DescSetRecCall(HandleHead* rec, const OdbcArgs& args) {
  return DescSetRecFields(static_cast<DescRecord*>(rec), args.Get<int16_t>(0), args.Get<int16_t>(1),
                          args.Get<int16_t>(2), args.Get<int64_t>(3), args.Get<int16_t>(4),
                          args.Get<int16_t>(5), args.Get<void*>(6), args.Get<int64_t*>(7),
                          args.Get<int64_t*>(8));
}

}  // namespace kx
