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

#include <cstdint>
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

// The fields only the driver sets: what describes a result column, and the
// allocation type.
bool IsReadOnlyField(int16_t field) {
  switch (field) {
    case SQL_DESC_DISPLAY_SIZE: case SQL_DESC_UNSIGNED: case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_UPDATABLE: case SQL_DESC_AUTO_UNIQUE_VALUE: case SQL_DESC_CASE_SENSITIVE:
    case SQL_DESC_SEARCHABLE: case SQL_DESC_TYPE_NAME: case SQL_DESC_TABLE_NAME: case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: case SQL_DESC_LABEL: case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_BASE_TABLE_NAME: case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME: case SQL_DESC_NULLABLE: case SQL_DESC_ALLOC_TYPE:
      return true;
    default:
      return false;
  }
}

bool In(int t, int lo, int hi) { return t >= lo && t <= hi; }

bool IsTextType(int t) {
  return t == SQL_WLONGVARCHAR || t == SQL_WVARCHAR || t == SQL_WCHAR || t == SQL_LONGVARCHAR || t == SQL_CHAR ||
         t == SQL_VARCHAR;
}

// Types that imply no other field: the sized C integers, BIT to BINARY,
// INTEGER, SMALLINT, DOUBLE and GUID (SQL_C_GUID has the same number).
bool IsPlainType(int t) {
  return In(t, SQL_C_UTINYINT, SQL_C_SBIGINT) || In(t, SQL_C_ULONG, SQL_C_SSHORT) || In(t, SQL_BIT, SQL_BINARY) ||
         t == SQL_INTEGER || t == SQL_SMALLINT || t == SQL_DOUBLE || t == SQL_GUID;
}

// The defaults a type implies: the largest decimal precision, the binary
// precisions of FLOAT and REAL, and the fractional seconds of a timestamp
// and of intervals with seconds.
constexpr int16_t kDecimalPrecision = 38;
constexpr int16_t kFloatPrecision = 53;
constexpr int16_t kRealPrecision = 24;
constexpr int16_t kSecondsPrecision = 6;
constexpr int32_t kIntervalLeadingPrecision = 2;

// The concise types of datetime and interval codes are the codes moved up.
constexpr int kDatetimeConciseBase = SQL_TYPE_DATE - SQL_CODE_DATE;
constexpr int kIntervalConciseBase = SQL_INTERVAL_YEAR - SQL_CODE_YEAR;

bool IntervalHasSeconds(int code) {
  return code == SQL_CODE_SECOND || code == SQL_CODE_DAY_TO_SECOND || code == SQL_CODE_HOUR_TO_SECOND ||
         code == SQL_CODE_MINUTE_TO_SECOND;
}

// TYPE := v and the fields it implies. 0 or 27.
int ApplyType(DescFieldRec* r, int16_t v) {
  r->type = v;
  if (v == SQL_NUMERIC || v == SQL_DECIMAL) {
    r->conciseType = v;
    r->scale = 0;
    r->precision = kDecimalPrecision;
  } else if (v == SQL_FLOAT) {
    r->conciseType = SQL_FLOAT;
    r->precision = kFloatPrecision;
  } else if (v == SQL_REAL) {
    r->conciseType = SQL_REAL;
    r->precision = kRealPrecision;
  } else if (v == SQL_DATETIME) {
    switch (r->datetimeIntervalCode) {
      case SQL_CODE_DATE: r->conciseType = SQL_TYPE_DATE; r->precision = 0; break;
      case SQL_CODE_TIME: r->conciseType = SQL_TYPE_TIME; r->precision = 0; break;
      case SQL_CODE_TIMESTAMP: r->conciseType = SQL_TYPE_TIMESTAMP; r->precision = kSecondsPrecision; break;
      default: break;
    }
  } else if (v == SQL_INTERVAL) {
    const int c = r->datetimeIntervalCode;
    if (In(c, SQL_CODE_YEAR, SQL_CODE_MINUTE_TO_SECOND)) {
      r->conciseType = static_cast<int16_t>(c + kIntervalConciseBase);
      r->datetimeIntervalPrecision = kIntervalLeadingPrecision;
      if (IntervalHasSeconds(c)) r->precision = kSecondsPrecision;
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
  if (c == SQL_NUMERIC || c == SQL_DECIMAL) {
    set(c, 0);
    r->scale = 0;
    r->precision = kDecimalPrecision;
  } else if (c == SQL_FLOAT) {
    set(SQL_FLOAT, 0);
    r->precision = kFloatPrecision;
  } else if (c == SQL_REAL) {
    set(SQL_REAL, 0);
    r->precision = kRealPrecision;
  } else if (c == SQL_DATE || c == SQL_TYPE_DATE) {
    set(SQL_DATETIME, SQL_CODE_DATE);
    r->precision = 0;
  } else if (c == SQL_TIME || c == SQL_TYPE_TIME) {
    set(SQL_DATETIME, SQL_CODE_TIME);
    r->precision = 0;
  } else if (c == SQL_TIMESTAMP || c == SQL_TYPE_TIMESTAMP) {
    set(SQL_DATETIME, SQL_CODE_TIMESTAMP);
    r->precision = kSecondsPrecision;
  } else if (c == SQL_C_DEFAULT) {
    r->type = SQL_C_DEFAULT;
  } else if (In(c, SQL_INTERVAL_YEAR, SQL_INTERVAL_MINUTE_TO_SECOND)) {
    set(SQL_INTERVAL, c - kIntervalConciseBase);
    r->datetimeIntervalPrecision = kIntervalLeadingPrecision;
    if (IntervalHasSeconds(c - kIntervalConciseBase)) r->precision = kSecondsPrecision;
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
    for (int32_t i = n + 1; i <= s->paramBindingCap; ++i) StmtUnbindParam(s, static_cast<int16_t>(i));
  }
}

void UnbindRecord(StmtRecord* s, bool row, int16_t n) {
  if (row) {
    ColBindingNode key{};
    key.binding.column = static_cast<uint16_t>(n);
    ColBindingRemove(s, &key);
  } else {
    StmtUnbindParam(s, n);
  }
}

// The binding of parameter n takes what its IPD record now says, so that
// the next execution tells the agent: every field that describes the
// parameter counts, whichever order the application set them in.
int ResyncParam(StmtRecord* s, int16_t n, const DescFieldRec* ir) {
  const ParamBinding* pb = StmtGetParamBinding(n, s);
  if (pb == nullptr) return 0;
  ParamBinding copy = *pb;
  copy.sqlType = ir->conciseType;
  DescParamSize(ir, &copy.columnSize, &copy.decimalDigits);
  if (ir->parameterType != 0) copy.direction = ir->parameterType;
  return StmtSetParamBinding(s, &copy) != 0 ? (s->error != 0 ? s->error : KX_ERR_GENERAL) : 0;
}

// ---- the field table ----------------------------------------------------------------------

// One write: the descriptor, the statement it is applied to (if any), what
// kind of descriptor it is, and the value.
struct SetCtx {
  StmtRecord* s;
  DescRecord* d;
  bool application;
  bool row;
  bool isIrd;
  bool isIpd;
  bool applied;
  bool appliedArd;
  bool appliedApd;
  bool appliedIpd;
  int16_t rec;
  int16_t field;
  uint64_t value;
  int64_t length;
  char form;
  DescFieldRec* r;   // record fields
  int16_t v16;
  int32_t v32;
};

using SetRule = SQLRETURN (*)(SetCtx&);

// Who may set a field; the others get HY091 (or, for DATA_PTR on an
// implementation descriptor, nothing happens).
enum class Who : uint8_t { Anyone, Application, Implementation, NotIrd, Ipd, ApplicationElseIgnored };

struct SetRow {
  int16_t field;
  bool header;   // set whatever the record number
  Who who;
  bool unbinds;  // a change unbinds the record of an applied ARD or APD
  SetRule rule;
};

// ---- header rules ----

SQLRETURN SetArraySize(SetCtx& x) {
  if (x.value != 0) x.d->arraySize = x.value;
  if (x.appliedArd) {
    const uint64_t size = x.d->arraySize > INT32_MAX ? INT32_MAX : x.d->arraySize;
    return StmtSetOption(x.s, SQL_ROWSET_SIZE, size);
  }
  if (x.appliedApd) {
    int rc = StmtParamOptions(x.s, x.d->arraySize, x.s->ipd != nullptr ? x.s->ipd->rowsProcessedPtr : nullptr);
    if (rc != 0) return Fail(x.s, rc);
  }
  return SQL_SUCCESS;
}

SQLRETURN SetArrayStatusPtr(SetCtx& x) {
  x.d->arrayStatusPtr = AsPtr<uint16_t>(x.value);
  return SQL_SUCCESS;
}

SQLRETURN SetBindOffsetPtr(SetCtx& x) {
  x.d->bindOffsetPtr = AsPtr<int64_t>(x.value);
  return SQL_SUCCESS;
}

SQLRETURN SetBindType(SetCtx& x) {
  x.d->bindType = static_cast<int32_t>(x.value);
  if (x.appliedArd) x.s->bindType = x.d->bindType;
  return SQL_SUCCESS;
}

// NULL included: the application stops the counter this way.
SQLRETURN SetRowsProcessedPtr(SetCtx& x) {
  x.d->rowsProcessedPtr = AsPtr<uint64_t>(x.value);
  if (x.applied && x.isIrd) x.s->rowsFetchedPtr = x.d->rowsProcessedPtr;
  if (x.appliedIpd) {
    const uint64_t rows = x.s->currentApd != nullptr ? x.s->currentApd->arraySize : 1;
    int rc = StmtParamOptions(x.s, rows, x.d->rowsProcessedPtr);
    if (rc != 0) return Fail(x.s, rc);
    x.s->rowsProcessedPtr = x.d->rowsProcessedPtr;
  }
  return SQL_SUCCESS;
}

SQLRETURN SetCount(SetCtx& x) {
  DescRecord* d = x.d;
  const int16_t n = static_cast<int16_t>(x.value);
  if (n < 0) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  if (n < d->count) {
    DescTrimRecs(d, n);
    d->count = n;
    if (x.appliedArd || x.appliedApd) UnbindBeyond(x.s, x.row, n);
  } else if (n > d->count) {
    int rc = DescGrowRecs(d, n);
    if (rc != 0) return Fail(d, rc);
    if (x.appliedApd && x.s->ipd != nullptr && x.s->ipd->count < n) {
      rc = DescGrowRecs(x.s->ipd, n);
      if (rc != 0) return Fail(d, rc);
    }
  }
  return SQL_SUCCESS;
}

// ---- record rules ----

SQLRETURN SetType(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  int rc = ApplyType(x.r, x.v16);
  if (rc != 0) return Fail(x.d, rc);
  return SQL_SUCCESS;
}

SQLRETURN SetConciseType(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  x.r->conciseType = x.v16;
  int rc = ApplyConciseType(x.r);
  if (rc != 0) return Fail(x.d, rc);
  if (x.isIpd && x.r->parameterType == 0) x.r->parameterType = SQL_PARAM_INPUT;
  return SQL_SUCCESS;
}

SQLRETURN SetIntervalCode(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  x.r->datetimeIntervalCode = x.v16;
  if (x.r->type == SQL_DATETIME) x.r->conciseType = static_cast<int16_t>(x.v16 + kDatetimeConciseBase);
  if (x.r->type == SQL_INTERVAL) x.r->conciseType = static_cast<int16_t>(x.v16 + kIntervalConciseBase);
  return SQL_SUCCESS;
}

SQLRETURN SetIntervalPrecision(SetCtx& x) {
  if (x.v32 != 0) x.r->datetimeIntervalPrecision = x.v32;
  return SQL_SUCCESS;
}

SQLRETURN SetLength(SetCtx& x) {
  const uint32_t len = static_cast<uint32_t>(x.value);
  if (len == 0) return SQL_SUCCESS;
  x.r->length = len;
  return SQL_SUCCESS;
}

SQLRETURN SetOctetLength(SetCtx& x) {
  x.r->octetLength = x.v32;
  return SQL_SUCCESS;
}

SQLRETURN SetPrecision(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  x.r->precision = x.v16;
  return SQL_SUCCESS;
}

SQLRETURN SetScale(SetCtx& x) {
  x.r->scale = x.v16;
  return SQL_SUCCESS;
}

SQLRETURN SetRadix(SetCtx& x) {
  if (x.v32 != 0) x.r->numPrecRadix = x.v32;
  return SQL_SUCCESS;
}

SQLRETURN SetParameterType(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  x.r->parameterType = x.v16;
  return SQL_SUCCESS;
}

SQLRETURN SetName(SetCtx& x) {
  if (x.value == 0) return SQL_SUCCESS;
  int code = 0;
  char* copy = CopyName(x.value, x.length, x.form, &code);
  if (copy == nullptr) return Fail(x.d, code);
  std::free(x.r->name);
  x.r->name = copy;
  if (copy[0] != '\0') x.r->unnamed = SQL_NAMED;
  return SQL_SUCCESS;
}

SQLRETURN SetUnnamed(SetCtx& x) {
  if (x.v16 == 0) return SQL_SUCCESS;
  if (x.v16 != SQL_UNNAMED) return Fail(x.d, KX_ERR_BAD_DESCRIPTOR_TYPE);
  x.r->unnamed = SQL_UNNAMED;
  return SQL_SUCCESS;
}

// INDICATOR_PTR and OCTET_LENGTH_PTR, carried into the binding of an applied
// ARD or APD.
SQLRETURN SetLengthPointer(SetCtx& x) {
  auto* p = AsPtr<int64_t>(x.value);
  const bool indicator = x.field == SQL_DESC_INDICATOR_PTR;
  (indicator ? x.r->indicatorPtr : x.r->octetLengthPtr) = p;
  if (x.appliedArd) {
    ColBinding* cb = StmtGetColBinding(x.rec, x.s);
    if (cb != nullptr) (indicator ? cb->indicator : cb->octetLength) = p;
  } else if (x.appliedApd) {
    ParamBinding* b = StmtGetParamBinding(x.rec, x.s);
    if (b != nullptr) (indicator ? b->indicator : b->octetLength) = p;
  }
  return SQL_SUCCESS;
}

// DATA_PTR binds the record on an applied ARD or APD; NULL unbinds it.
SQLRETURN SetDataPtr(SetCtx& x) {
  DescFieldRec* r = x.r;
  StmtRecord* s = x.s;
  r->dataPtr = AsPtr<void>(x.value);
  if (r->dataPtr == nullptr) {
    if (x.appliedArd || x.appliedApd) UnbindRecord(s, x.row, x.rec);
    return SQL_SUCCESS;
  }
  if (x.appliedArd) {
    int rc = StmtBindColEx(s, static_cast<uint16_t>(x.rec), r->conciseType, r->dataPtr, r->octetLength,
                           r->octetLengthPtr, r->indicatorPtr);
    if (rc != 0) return Fail(s, rc);
  } else if (x.appliedApd) {
    const DescFieldRec* ir = s->ipd != nullptr ? DescGetRec(s->ipd, x.rec) : nullptr;
    uint64_t size = 0;
    int16_t digits = 0;
    DescParamSize(ir, &size, &digits);
    return StmtBindParameter(s, static_cast<uint16_t>(x.rec), ir != nullptr ? ir->parameterType : SQL_PARAM_INPUT,
                             r->conciseType, ir != nullptr ? ir->conciseType : 0, size, digits, r->dataPtr,
                             r->octetLength, r->octetLengthPtr, r->indicatorPtr);
  }
  return SQL_SUCCESS;
}

const SetRow kSetFields[] = {
    // field, header, who may set it, unbinds, rule
    {SQL_DESC_ARRAY_SIZE, true, Who::Application, false, SetArraySize},
    {SQL_DESC_ARRAY_STATUS_PTR, true, Who::Anyone, false, SetArrayStatusPtr},
    {SQL_DESC_BIND_OFFSET_PTR, true, Who::Application, false, SetBindOffsetPtr},
    {SQL_DESC_BIND_TYPE, true, Who::Application, false, SetBindType},
    {SQL_DESC_ROWS_PROCESSED_PTR, true, Who::Implementation, false, SetRowsProcessedPtr},
    {SQL_DESC_COUNT, true, Who::NotIrd, false, SetCount},

    {SQL_DESC_TYPE, false, Who::Anyone, true, SetType},
    {SQL_DESC_CONCISE_TYPE, false, Who::Anyone, true, SetConciseType},
    {SQL_DESC_DATETIME_INTERVAL_CODE, false, Who::Anyone, true, SetIntervalCode},
    {SQL_DESC_DATETIME_INTERVAL_PRECISION, false, Who::Anyone, true, SetIntervalPrecision},
    {SQL_DESC_LENGTH, false, Who::Anyone, true, SetLength},
    {SQL_DESC_OCTET_LENGTH, false, Who::Anyone, true, SetOctetLength},
    {SQL_DESC_PRECISION, false, Who::Anyone, true, SetPrecision},
    {SQL_DESC_SCALE, false, Who::Anyone, true, SetScale},
    {SQL_DESC_NUM_PREC_RADIX, false, Who::Anyone, true, SetRadix},
    {SQL_DESC_PARAMETER_TYPE, false, Who::Ipd, true, SetParameterType},
    {SQL_DESC_NAME, false, Who::Ipd, true, SetName},
    {SQL_DESC_UNNAMED, false, Who::Ipd, true, SetUnnamed},
    {SQL_DESC_INDICATOR_PTR, false, Who::Application, false, SetLengthPointer},
    {SQL_DESC_OCTET_LENGTH_PTR, false, Who::Application, false, SetLengthPointer},
    {SQL_DESC_DATA_PTR, false, Who::ApplicationElseIgnored, false, SetDataPtr},
};

const SetRow* FindSetField(int16_t field) {
  for (const SetRow& row : kSetFields) {
    if (row.field == field) return &row;
  }
  return nullptr;
}

// Whether this descriptor may set the field; SQL_SUCCESS when it may, else
// what the write answers.
SQLRETURN CheckWho(const SetCtx& x, Who who, bool* ignored) {
  *ignored = false;
  bool allowed = true;
  switch (who) {
    case Who::Anyone: break;
    case Who::Application: allowed = x.application; break;
    case Who::Implementation: allowed = !x.application && (x.isIrd || x.isIpd); break;
    case Who::NotIrd: allowed = !x.isIrd; break;
    case Who::Ipd: allowed = x.isIpd; break;
    case Who::ApplicationElseIgnored:
      *ignored = !x.application;
      break;
  }
  return allowed ? SQL_SUCCESS : Fail(x.d, KX_ERR_BAD_DESCRIPTOR_TYPE);
}

}  // namespace

SQLRETURN DescSetFieldEngine(StmtRecord* s, bool application, bool row, bool applied, DescRecord* d,
                             int16_t recNumber, int16_t field, uint64_t value, int64_t length,
                             char form) {
  SetCtx x{};
  x.s = s;
  x.d = d;
  x.application = application;
  x.row = row;
  x.isIrd = d->allocType != SQL_DESC_ALLOC_USER && d->kind == DK_IRD;
  x.isIpd = d->allocType != SQL_DESC_ALLOC_USER && d->kind == DK_IPD;
  x.applied = s != nullptr && applied;
  x.appliedArd = x.applied && application && row;
  x.appliedApd = x.applied && application && !row;
  x.appliedIpd = x.applied && x.isIpd;
  x.rec = recNumber;
  x.field = field;
  x.value = value;
  x.length = length;
  x.form = form;
  x.v16 = static_cast<int16_t>(value);
  x.v32 = static_cast<int32_t>(value);
  const SetRow* setRow = FindSetField(field);
  bool ignored = false;

  if (setRow != nullptr && setRow->header) {
    const SQLRETURN rc = CheckWho(x, setRow->who, &ignored);
    return rc != SQL_SUCCESS ? rc : setRow->rule(x);
  }

  // Record fields: the record is made if it is not there yet (and the IPD
  // grows with an applied APD) before the field itself is checked.
  if (x.isIrd) return Fail(d, KX_ERR_MODIFY_IRD);
  if (recNumber < 0 || (recNumber == 0 && !row)) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  if (recNumber > d->count) {
    int rc = DescGrowRecs(d, recNumber);
    if (rc != 0) return Fail(d, rc);
  }
  if (x.appliedApd && s->ipd != nullptr && s->ipd->count < recNumber) {
    int rc = DescGrowRecs(s->ipd, recNumber);
    if (rc != 0) return Fail(d, rc);
  }
  x.r = DescGetRec(d, recNumber);
  if (x.r == nullptr) return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  if (setRow == nullptr) return Fail(d, KX_ERR_NOT_SUPPORTED);
  const SQLRETURN rc = CheckWho(x, setRow->who, &ignored);
  if (rc != SQL_SUCCESS) return rc;
  if (ignored) return SQL_SUCCESS;
  if (application && setRow->unbinds) {
    // A change to what the buffer holds unbinds the record: its data
    // pointer is gone until the application sets it again, and the
    // statement stops using the buffer.
    x.r->dataPtr = nullptr;
    if (x.appliedArd || x.appliedApd) UnbindRecord(s, row, recNumber);
  }
  const SQLRETURN ruled = setRow->rule(x);
  if (ruled == SQL_ERROR || !x.appliedIpd) return ruled;
  const int code = ResyncParam(s, recNumber, x.r);
  return code != 0 ? Fail(s, code) : ruled;
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
