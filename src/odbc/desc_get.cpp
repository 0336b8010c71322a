// The read side of the descriptor field engine: SQLGetDescField for every
// header and record field of the five kinds of descriptor. Most values are
// computed from the live state of the owning statement (column and parameter
// descriptions, bindings); the descriptor's own records answer where nothing
// else does. SQLColAttribute, SQLCopyDesc and SQLGetDescRec read through here,
// so each field has one rule.
#include <sqlext.h>

#include <cstring>
#include <string>

#include "odbc/call_args.h"
#include "odbc/copy_out.h"
#include "odbc/desc.h"
#include "odbc/exec/type_info.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/value_rec.h"

namespace kx {

namespace {

// Which column of the rules a descriptor reads by.
enum class Col { User, Ard, Apd, Ird, Ipd };

Col ColumnOf(const DescRecord* d) {
  if (d->allocType == SQL_DESC_ALLOC_USER) return Col::User;
  switch (d->kind) {
    case DK_ARD: return Col::Ard;
    case DK_APD: return Col::Apd;
    case DK_IRD: return Col::Ird;
    case DK_IPD: return Col::Ipd;
    default: return Col::User;
  }
}

// ---- writers -------------------------------------------------------------------------

SQLRETURN PutI16(void* value, int64_t* length, int64_t v) {
  if (value != nullptr) {
    const int16_t x = static_cast<int16_t>(v);
    std::memcpy(value, &x, 2);
  }
  if (length != nullptr) *length = 2;
  return SQL_SUCCESS;
}

SQLRETURN PutI32(void* value, int64_t* length, int64_t v) {
  if (value != nullptr) {
    const int32_t x = static_cast<int32_t>(v);
    std::memcpy(value, &x, 4);
  }
  if (length != nullptr) *length = 4;
  return SQL_SUCCESS;
}

// SQLLEN and SQLULEN fields are 8 bytes on this platform.
SQLRETURN PutI64(void* value, int64_t* length, int64_t v) {
  if (value != nullptr) std::memcpy(value, &v, 8);
  if (length != nullptr) *length = 8;
  return SQL_SUCCESS;
}

SQLRETURN PutPtr(DescRecord* d, void* value, int64_t bufferLength, int64_t* length, const void* p) {
  if (static_cast<uint64_t>(bufferLength) < 8) return Fail(d, KX_ERR_BAD_ARGUMENT);
  if (value != nullptr) std::memcpy(value, &p, 8);
  if (length != nullptr) *length = 8;
  return SQL_SUCCESS;
}

SQLRETURN PutText(DescRecord* d, void* value, int64_t bufferLength, int64_t* length, const char* text,
                  char form) {
  if (text == nullptr) text = "";
  const uint64_t n = std::strlen(text);
  int64_t out = 0;
  int32_t err = 0;
  int16_t rc;
  if (form == 'W') {
    rc = CopyOutNarrowToWide(text, n, static_cast<int64_t>(n), 0, 1, 1, value, bufferLength, &out,
                             &err);
  } else {
    rc = CopyOutNarrow(text, n, static_cast<int64_t>(n), 0, 1, 1, value, bufferLength, &out, &err);
  }
  if (rc == SQL_ERROR) return Fail(d, err != 0 ? err : KX_ERR_BAD_LENGTH);
  if (length != nullptr) *length = out;
  if (rc == SQL_SUCCESS_WITH_INFO) d->error = err != 0 ? err : KX_ERR_DATA_TRUNCATED;
  return rc;
}

// ---- derivations ------------------------------------------------------------------------

bool In(int t, int lo, int hi) { return t >= lo && t <= hi; }

int16_t TypeMap(int t) {
  if (t == 9 || t == 10 || t == 11 || In(t, 91, 93)) return SQL_DATETIME;
  if (In(t, 101, 113)) return SQL_INTERVAL;
  return static_cast<int16_t>(t);
}

int16_t DicMap(int t) {
  if (t == 9 || t == 91) return 1;
  if (t == 10 || t == 92) return 2;
  if (t == 11 || t == 93) return 3;
  if (In(t, 101, 113)) return static_cast<int16_t>(t - 100);
  return 0;
}

// 'A' for fixed-size types, 'B' for text, 0 for the rest.
char LenClass(int t) {
  if (In(t, -28, -25) || In(t, -18, -15) || t == -7 || t == -6 || t == -5 || t == -3 || t == -2 ||
      In(t, 2, 11) || In(t, 91, 93) || In(t, 101, 113)) {
    return 'A';
  }
  if (t == -9 || t == -8 || t == 1 || t == 12) return 'B';
  return 0;
}

int64_t Oct(int t, int64_t n) {
  switch (t) {
    case -28: case -26: case -6: return 1;
    case -27: case -25: case -5: return 20;
    case -18: case -16: case 4: case 7: return 4;
    case -17: case -15: case 5: return 2;
    case -10: case -9: case -8: case -4: case -3: case -2: case -1: case 1: case 12: return n;
    case 2: case 3: return n + 2;
    case 6: case 8: return 8;
    case 9: case 10: case 91: case 92: return 6;
    case 11: case 93: return 16;
    case SQL_GUID: return 16;  // SQL_C_GUID has the same code: the structure either way
    default: return In(t, 101, 113) ? 34 : 0;
  }
}

int64_t Wide(int t, int32_t size) {
  return (t == -8 || t == -9 || t == -10) ? 2 * static_cast<int64_t>(size) : size;
}

int16_t Prec(int t, int32_t size, int16_t digits) {
  if (In(t, -28, -25) || In(t, -18, -15) || t == -6 || t == -5 || In(t, 2, 8)) {
    return static_cast<int16_t>(size & 0xFFFF);
  }
  if (t == 10 || t == 11 || t == 92 || t == 93 || t == 106) return digits;
  return 0;
}

int32_t Radix(int t) {
  if (In(t, -28, -25) || In(t, -18, -15) || t == -6 || t == -5 || In(t, 2, 5)) return 10;
  if (In(t, 6, 8)) return 2;
  return 0;
}

// SQL_TRUE for unsigned and non-numeric types; the signed numeric SQL types
// (and the signed C integer types) are not unsigned.
int16_t Uns(int t) {
  switch (t) {
    case -26: case -25: case -16: case -15:
    case SQL_TINYINT: case SQL_BIGINT: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER:
    case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      return SQL_FALSE;
    default:
      return SQL_TRUE;
  }
}

int16_t Fixed(int t, int16_t digits) {
  const bool numeric = t == 2 || t == 3 || t == 4 || t == 5 || t == -6 || t == -5;
  return numeric && digits != 0 ? 1 : 0;
}

int16_t Search(int t) {
  if (t == -9 || t == -8 || t == 1 || t == 12) return SQL_PRED_SEARCHABLE;
  if (t == -4 || t == -3 || t == -2) return SQL_PRED_NONE;
  return SQL_PRED_BASIC;
}

int32_t CaseSensitive(int t) {
  return (t == -10 || t == -9 || t == -8 || t == -1 || t == 1 || t == 12) ? 1 : 0;
}

int TypeOf(const AgentColDesc* cd) { return static_cast<int16_t>(cd->sqlType & 0xFFFF); }

// A column attribute the agent delivered with the extended describe.
bool Vr(StmtRecord* st, uint16_t id, int16_t rec, int32_t* i, const char** text) {
  if (st == nullptr || st->colAttrs == nullptr) return false;
  int32_t iv = 0;
  const char* tv = nullptr;
  double dv = 0;
  if (!VAL_Get(st->colAttrs, id, static_cast<uint16_t>(rec), &iv, &tv, &dv)) return false;
  if (i != nullptr) *i = iv;
  if (text != nullptr) *text = tv;
  return true;
}

// A column of the type-information result for an SQL type; false when the
// read failed.
bool TypeInfo(StmtRecord* st, uint16_t column, int type, std::string* out) {
  out->clear();
  if (In(type, 101, 113)) type = 10;
  if (st == nullptr || st->conn == nullptr) return true;
  char buffer[256] = {};
  int64_t ind = 0;
  SQLRETURN rc = FetchTypeInfoColumn(st->conn, column, static_cast<int16_t>(type), buffer, 255, &ind);
  if (rc == SQL_ERROR) return false;
  if (rc == SQL_SUCCESS && ind != SQL_NULL_DATA) {
    buffer[255] = '\0';
    *out = buffer;
  }
  return true;
}

const char* Or(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

SQLRETURN DescGetField(DescRecord* d, int16_t recNumber, int16_t field, void* value,
                       int64_t bufferLength, int64_t* length, char form) {
  const Col col = ColumnOf(d);
  if (TraceOn()) TracePrintf("Descriptor Type: %s", DescKindName(d));
  StmtRecord* st = d->stmt;
  const bool current = st != nullptr && (d == st->currentArd || d == st->currentApd ||
                                         d == st->ird || d == st->ipd);

  // Header fields, whatever the record number.
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
      switch (col) {
        case Col::User: return PutI64(value, length, static_cast<int64_t>(d->arraySize));
        case Col::Ard:
          return PutI64(value, length, st != nullptr ? st->cursor.rowsetSize : d->arraySize);
        case Col::Apd:
          return PutI64(value, length, static_cast<int64_t>(st != nullptr ? st->paramsetSize : d->arraySize));
        default: return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      }
    case SQL_DESC_ARRAY_STATUS_PTR:
      return PutPtr(d, value, bufferLength, length, d->arrayStatusPtr);
    case SQL_DESC_BIND_OFFSET_PTR:
      if (col == Col::Ird || col == Col::Ipd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      return PutPtr(d, value, bufferLength, length, d->bindOffsetPtr);
    case SQL_DESC_BIND_TYPE:
      if (col == Col::Ird || col == Col::Ipd) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
      return PutI32(value, length, col == Col::Ard && st != nullptr ? st->bindType : d->bindType);
    case SQL_DESC_ROWS_PROCESSED_PTR:
      if (col == Col::Ird) return PutPtr(d, value, bufferLength, length, st != nullptr ? st->rowsFetchedPtr : nullptr);
      if (col == Col::Ipd) return PutPtr(d, value, bufferLength, length, st != nullptr ? st->rowsProcessedPtr : nullptr);
      return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
    case SQL_DESC_COUNT:
      if (col == Col::Ird) {
        if (st == nullptr) return PutI16(value, length, 0);
        int16_t n = 0;
        int rc = StmtNumResultCols(st, &n);
        if (rc != 0) return Fail(d, rc);
        return PutI16(value, length, n);
      }
      return PutI16(value, length, DescRecCount(d));
    case SQL_DESC_ALLOC_TYPE:
      return PutI16(value, length, d->allocType);
    default:
      break;
  }

  // Record number.
  if (recNumber < 0 || (recNumber == 0 && (col == Col::Ipd || col == Col::Apd))) {
    return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
  }
  if (col == Col::Ird) {
    int16_t n = 0;
    if (st != nullptr) {
      int rc = StmtNumResultCols(st, &n);
      if (rc != 0) return Fail(d, rc);
    }
    if (recNumber > n) return SQL_NO_DATA;
  } else if (recNumber > DescRecCount(d)) {
    return SQL_NO_DATA;
  }

  DescFieldRec* r = DescGetRec(d, recNumber);
  DescFieldRec none{};
  if (r == nullptr) r = &none;
  const bool bound = current && st != nullptr;
  ColBinding* cb = (col == Col::Ard && bound) ? StmtGetColBinding(recNumber, st) : nullptr;
  ParamBinding* pb = ((col == Col::Apd || col == Col::Ipd) && bound) ? StmtGetParamBinding(recNumber, st)
                                                                     : nullptr;
  // Descriptions; a missing one leaves no trace on the statement.
  const AgentColDesc* cd = nullptr;
  const AgentColDesc* pd = nullptr;
  const bool ird0 = col == Col::Ird && recNumber == 0;
  if (col == Col::Ird && st != nullptr) {
    const int32_t saved = st->error;
    cd = StmtGetColDesc(st, static_cast<uint16_t>(recNumber));
    st->error = saved;
  } else if (col == Col::Ipd && st != nullptr) {
    const int32_t saved = st->error;
    pd = StmtGetParamDesc(st, static_cast<uint16_t>(recNumber));
    st->error = saved;
  }
  auto needCd = [&]() -> bool { return cd != nullptr; };
  auto range = [&]() { return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE); };
  auto noDesc = [&]() { return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX); };
  std::string text;

  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
      switch (col) {
        case Col::User: return PutI16(value, length, r->conciseType);
        case Col::Ard: return PutI16(value, length, cb != nullptr ? cb->cType : r->conciseType);
        case Col::Apd: return PutI16(value, length, pb != nullptr ? pb->cType : r->conciseType);
        case Col::Ird:
          if (ird0) return PutI16(value, length, SQL_CHAR);
          if (!needCd()) return noDesc();
          return PutI16(value, length, TypeOf(cd));
        case Col::Ipd: return PutI16(value, length, pd != nullptr ? TypeOf(pd) : r->conciseType);
      }
      break;
    case SQL_DESC_TYPE:
      switch (col) {
        case Col::User: return PutI16(value, length, r->type);
        case Col::Ard: return PutI16(value, length, cb != nullptr ? TypeMap(cb->cType) : r->type);
        case Col::Apd: return PutI16(value, length, pb != nullptr ? TypeMap(pb->cType) : r->type);
        case Col::Ird:
          if (ird0) return PutI16(value, length, SQL_CHAR);
          if (!needCd()) return noDesc();
          return PutI16(value, length, TypeMap(TypeOf(cd)));
        case Col::Ipd: return PutI16(value, length, pd != nullptr ? TypeMap(TypeOf(pd)) : r->type);
      }
      break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      switch (col) {
        case Col::User: return PutI16(value, length, r->datetimeIntervalCode);
        case Col::Ard:
          return PutI16(value, length, cb != nullptr ? DicMap(cb->cType) : r->datetimeIntervalCode);
        case Col::Apd:
          return PutI16(value, length, pb != nullptr ? DicMap(pb->cType) : r->datetimeIntervalCode);
        case Col::Ird:
          if (ird0) return PutI16(value, length, 0);
          if (!needCd()) return noDesc();
          return PutI16(value, length, DicMap(TypeOf(cd)));
        case Col::Ipd:
          return PutI16(value, length, pd != nullptr ? DicMap(TypeOf(pd)) : r->datetimeIntervalCode);
      }
      break;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      return PutI32(value, length, r->datetimeIntervalPrecision);
    case SQL_DESC_LENGTH: {
      int64_t v = static_cast<uint32_t>(r->length);
      if (col == Col::Ard && cb != nullptr) {
        const char k = LenClass(cb->cType);
        const int64_t half = (cb->cType == -8 || cb->cType == -9) ? cb->bufferLength / 2 : cb->bufferLength;
        v = k == 'A' ? cb->bufferLength - 1 : k == 'B' ? half - 1 : 0;
      } else if (col == Col::Apd && pb != nullptr) {
        const char k = LenClass(pb->cType);
        const int64_t half = (pb->cType == -8 || pb->cType == -9) ? pb->bufferLength / 2 : pb->bufferLength;
        v = k == 'A' ? pb->elementSize : k == 'B' ? half - 1 : 0;
      } else if (col == Col::Ird) {
        if (ird0) return PutI64(value, length, 8);
        if (!needCd()) return noDesc();
        v = LenClass(TypeOf(cd)) != 0 ? cd->columnSize : 0;
      } else if (col == Col::Ipd && pd != nullptr) {
        v = LenClass(TypeOf(pd)) != 0 ? pd->columnSize : 0;
      }
      return PutI64(value, length, v);
    }
    case SQL_DESC_OCTET_LENGTH: {
      int64_t v = r->octetLength;
      if (col == Col::Ard && cb != nullptr) {
        v = Oct(cb->cType, cb->bufferLength);
      } else if (col == Col::Apd && pb != nullptr) {
        v = Oct(pb->cType, pb->bufferLength);
      } else if (col == Col::Ird) {
        if (ird0) return PutI64(value, length, 8);
        if (!needCd()) return noDesc();
        v = Oct(TypeOf(cd), Wide(TypeOf(cd), cd->columnSize));
      } else if (col == Col::Ipd && pd != nullptr) {
        v = Oct(TypeOf(pd), Wide(TypeOf(pd), pd->columnSize));
      }
      return PutI64(value, length, v);
    }
    case SQL_DESC_PRECISION:
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, 0);
        if (!needCd()) return noDesc();
        return PutI16(value, length, Prec(TypeOf(cd), cd->columnSize, cd->decimalDigits));
      }
      if (col == Col::Ipd && pd != nullptr) {
        return PutI16(value, length, Prec(TypeOf(pd), pd->columnSize, pd->decimalDigits));
      }
      return PutI16(value, length, r->precision);
    case SQL_DESC_SCALE: {
      auto scaleOf = [](const AgentColDesc* c) -> int16_t {
        const int t = TypeOf(c);
        return (t == SQL_NUMERIC || t == SQL_DECIMAL) ? c->decimalDigits : 0;
      };
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, 0);
        if (!needCd()) return noDesc();
        return PutI16(value, length, scaleOf(cd));
      }
      if (col == Col::Ipd && pd != nullptr) return PutI16(value, length, scaleOf(pd));
      return PutI16(value, length, r->scale);
    }
    case SQL_DESC_NUM_PREC_RADIX:
      switch (col) {
        case Col::User: return PutI32(value, length, r->numPrecRadix);
        case Col::Ard: return PutI32(value, length, cb != nullptr ? Radix(cb->cType) : r->numPrecRadix);
        case Col::Apd: return PutI32(value, length, pb != nullptr ? Radix(pb->cType) : r->numPrecRadix);
        case Col::Ird:
          if (ird0) return PutI32(value, length, 0);
          if (!needCd()) return noDesc();
          return PutI32(value, length, Radix(TypeOf(cd)));
        case Col::Ipd: return PutI32(value, length, pd != nullptr ? Radix(TypeOf(pd)) : r->numPrecRadix);
      }
      break;
    case SQL_DESC_DATA_PTR:
      switch (col) {
        case Col::User: return PutPtr(d, value, bufferLength, length, r->dataPtr);
        case Col::Ard:
          return PutPtr(d, value, bufferLength, length, current ? (cb != nullptr ? cb->target : nullptr) : r->dataPtr);
        case Col::Apd:
          return PutPtr(d, value, bufferLength, length, current ? (pb != nullptr ? pb->value : nullptr) : r->dataPtr);
        default: return range();
      }
    case SQL_DESC_INDICATOR_PTR:
      switch (col) {
        case Col::User: return PutPtr(d, value, bufferLength, length, r->indicatorPtr);
        case Col::Ard: return PutPtr(d, value, bufferLength, length, cb != nullptr ? cb->indicator : r->indicatorPtr);
        case Col::Apd: return PutPtr(d, value, bufferLength, length, pb != nullptr ? pb->indicator : r->indicatorPtr);
        default: return range();
      }
    case SQL_DESC_OCTET_LENGTH_PTR:
      switch (col) {
        case Col::User: return PutPtr(d, value, bufferLength, length, r->octetLengthPtr);
        case Col::Ard:
          return PutPtr(d, value, bufferLength, length, cb != nullptr ? cb->octetLength : r->octetLengthPtr);
        case Col::Apd:
          return PutPtr(d, value, bufferLength, length, pb != nullptr ? pb->octetLength : r->octetLengthPtr);
        default: return range();
      }
    case SQL_DESC_NAME:
      if (col == Col::Ird) {
        if (ird0) return PutText(d, value, bufferLength, length, "BOOKMARK", form);
        if (!needCd()) return noDesc();
        return PutText(d, value, bufferLength, length, cd->name, form);
      }
      if (col == Col::Ipd) return PutText(d, value, bufferLength, length, r->name, form);
      return range();
    case SQL_DESC_UNNAMED:
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, 0);
        if (!needCd()) return noDesc();
        return PutI16(value, length, cd->name[0] == '\0' ? SQL_UNNAMED : SQL_NAMED);
      }
      if (col == Col::Ipd) return PutI16(value, length, r->unnamed);
      return range();
    case SQL_DESC_NULLABLE:
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, 0);
        if (!needCd()) return noDesc();
        return PutI16(value, length, cd->flags & COLDESC_NULLABLE_MASK);
      }
      if (col == Col::Ipd) return PutI16(value, length, SQL_NULLABLE);
      return range();
    case SQL_DESC_PARAMETER_TYPE:
      // The binding's direction; the record's own value when nothing is bound.
      if (col == Col::Ipd) return PutI16(value, length, pb != nullptr ? pb->direction : r->parameterType);
      return range();
    case SQL_DESC_DISPLAY_SIZE:
      if (col != Col::Ird) return range();
      if (ird0) return PutI64(value, length, 8);
      if (!needCd()) return noDesc();
      return PutI64(value, length, cd->displaySize);
    case SQL_DESC_UNSIGNED:
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, SQL_TRUE);
        if (!needCd()) return noDesc();
        return PutI16(value, length, Uns(TypeOf(cd)));
      }
      if (col == Col::Ipd) return PutI16(value, length, pd != nullptr ? Uns(TypeOf(pd)) : r->isUnsigned);
      return range();
    case SQL_DESC_FIXED_PREC_SCALE:
      if (col == Col::Ird) {
        if (ird0) return PutI16(value, length, 0);
        if (!needCd()) return noDesc();
        return PutI16(value, length, Fixed(TypeOf(cd), cd->decimalDigits));
      }
      if (col == Col::Ipd) {
        return PutI16(value, length, pd != nullptr ? Fixed(TypeOf(pd), pd->decimalDigits) : r->fixedPrecScale);
      }
      return range();
    case SQL_DESC_UPDATABLE: {
      if (col != Col::Ird) return range();
      if (ird0) return PutI16(value, length, 0);
      if (!needCd()) return noDesc();
      int32_t v = 0;
      if (Vr(st, SQL_DESC_UPDATABLE, recNumber, &v, nullptr)) return PutI16(value, length, v);
      const uint32_t code = (cd->flags >> COLDESC_UPDATABLE_SHIFT) & 0xF;
      return PutI16(value, length, code != 0 ? static_cast<int>(code) - 1 : SQL_ATTR_READWRITE_UNKNOWN);
    }
    case SQL_DESC_AUTO_UNIQUE_VALUE: {
      if (col != Col::Ird) return range();
      if (ird0) return PutI32(value, length, 0);
      if (!needCd()) return noDesc();
      int32_t v = 0;
      if (!Vr(st, SQL_DESC_AUTO_UNIQUE_VALUE, recNumber, &v, nullptr)) v = 0;
      return PutI32(value, length, v);
    }
    case SQL_DESC_CASE_SENSITIVE: {
      if (col == Col::Ipd) return PutI32(value, length, 1);
      if (col != Col::Ird) return range();
      if (ird0) return PutI32(value, length, 1);
      if (!needCd()) return noDesc();
      int32_t v = 0;
      if (!Vr(st, SQL_DESC_CASE_SENSITIVE, recNumber, &v, nullptr)) v = CaseSensitive(TypeOf(cd));
      return PutI32(value, length, v);
    }
    case SQL_DESC_SEARCHABLE: {
      if (col != Col::Ird) return range();
      if (ird0) return PutI16(value, length, 0);
      if (!needCd()) return noDesc();
      int32_t v = 0;
      if (!Vr(st, SQL_DESC_SEARCHABLE, recNumber, &v, nullptr)) v = Search(TypeOf(cd));
      return PutI16(value, length, v);
    }
    case SQL_DESC_TYPE_NAME: {
      if (col == Col::Ird) {
        const char* vr = nullptr;
        if (ird0) {
          if (!TypeInfo(st, 1, SQL_CHAR, &text)) return SQL_ERROR;
        } else {
          if (!needCd()) return noDesc();
          if (Vr(st, SQL_DESC_TYPE_NAME, recNumber, nullptr, &vr)) {
            text = Or(vr);
          } else if (!TypeInfo(st, 1, TypeOf(cd), &text)) {
            return SQL_ERROR;
          }
        }
        return PutText(d, value, bufferLength, length, text.c_str(), form);
      }
      if (col == Col::Ipd) {
        if (!TypeInfo(st, 1, pd != nullptr ? TypeOf(pd) : r->conciseType, &text)) return SQL_ERROR;
        return PutText(d, value, bufferLength, length, text.c_str(), form);
      }
      return range();
    }
    case SQL_DESC_TABLE_NAME: case SQL_DESC_BASE_TABLE_NAME: case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME:
      if (col != Col::Ird) return range();
      if (!needCd()) return noDesc();
      return PutText(d, value, bufferLength, length,
                     field == SQL_DESC_SCHEMA_NAME    ? cd->schema
                     : field == SQL_DESC_CATALOG_NAME ? cd->catalog
                                                      : cd->table,
                     form);
    case SQL_DESC_LABEL: case SQL_DESC_BASE_COLUMN_NAME: {
      if (col != Col::Ird) return range();
      if (ird0) return PutText(d, value, bufferLength, length, "BOOKMARK", form);
      if (!needCd()) return noDesc();
      int32_t computed = 0;
      if (field == SQL_DESC_BASE_COLUMN_NAME && Vr(st, 1055, recNumber, &computed, nullptr) &&
          computed == 1) {
        return PutText(d, value, bufferLength, length, "", form);
      }
      const char* label = (cd->label != nullptr && cd->label[0] != '\0') ? cd->label : cd->name;
      return PutText(d, value, bufferLength, length, label, form);
    }
    case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX: {
      if (col != Col::Ird) return range();
      if (ird0) return PutText(d, value, bufferLength, length, "", form);
      if (!needCd()) return noDesc();
      const char* vr = nullptr;
      if (Vr(st, static_cast<uint16_t>(field), recNumber, nullptr, &vr)) {
        text = Or(vr);
      } else if (!TypeInfo(st, field == SQL_DESC_LITERAL_PREFIX ? 4 : 5, TypeOf(cd), &text)) {
        return SQL_ERROR;
      }
      return PutText(d, value, bufferLength, length, text.c_str(), form);
    }
    case SQL_DESC_LOCAL_TYPE_NAME:
      if (col == Col::Ird || col == Col::Ipd) return PutText(d, value, bufferLength, length, "", form);
      return range();
    case SQL_DESC_ROWVER: case 1053: {
      if (col != Col::Ird) return range();
      if (ird0) return PutI16(value, length, 0);
      if (!needCd()) return noDesc();
      int32_t v = 0;
      if (!Vr(st, static_cast<uint16_t>(field), recNumber, &v, nullptr)) v = 0;
      return PutI16(value, length, v);
    }
    default:
      break;
  }
  return Fail(d, KX_ERR_NOT_SUPPORTED);
}

// ---- handler ------------------------------------------------------------------------------

SQLRETURN DescGetFieldCall(HandleHead* rec, const OdbcArgs& args) {
  auto* desc = static_cast<DescRecord*>(rec);
  int64_t length = 0;
  auto* lengthOut = args.Get<int32_t*>(4);
  SQLRETURN rc = DescGetField(desc, args.Get<int16_t>(0), args.Get<int16_t>(1), args.Get<void*>(2),
                              static_cast<int64_t>(args.Get<int32_t>(3)), &length,
                              args.Count() > 5 ? args.Get<char>(5) : 'A');
  if (lengthOut != nullptr && (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)) {
    *lengthOut = static_cast<int32_t>(length);
  }
  return rc;
}

}  // namespace kx
