// The read side of the descriptor field engine: SQLGetDescField for every
// header and record field of the five kinds of descriptor. Most values are
// computed from the live state of the owning statement (column and parameter
// descriptions, bindings); the descriptor's own records answer where nothing
// else does. SQLColAttribute, SQLCopyDesc and SQLGetDescRec read through here,
// so each field has one rule.
#include <sqlext.h>

#include <cstring>
#include <string>

#include "agent/agent.h"
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
//
// The rules below take an SQL type or a C type: a record's type is one or the
// other by the kind of descriptor, and the two share their codes where they
// share a name.

bool In(int t, int lo, int hi) { return t >= lo && t <= hi; }

bool IsInterval(int t) { return In(t, SQL_INTERVAL_YEAR, SQL_INTERVAL_MINUTE_TO_SECOND); }
bool IsDatetime(int t) {
  return t == SQL_DATE || t == SQL_TIME || t == SQL_TIMESTAMP || In(t, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP);
}
// The signed and unsigned C integer types: tiny and big, long and short.
bool IsSizedCInteger(int t) { return In(t, SQL_C_UTINYINT, SQL_C_SBIGINT) || In(t, SQL_C_ULONG, SQL_C_SSHORT); }
bool IsText(int t) { return t == SQL_WVARCHAR || t == SQL_WCHAR || t == SQL_CHAR || t == SQL_VARCHAR; }
bool IsWide(int t) { return t == SQL_WCHAR || t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR; }

int16_t TypeMap(int t) {
  if (IsDatetime(t)) return SQL_DATETIME;
  if (IsInterval(t)) return SQL_INTERVAL;
  return static_cast<int16_t>(t);
}

int16_t DicMap(int t) {
  if (t == SQL_DATE || t == SQL_TYPE_DATE) return SQL_CODE_DATE;
  if (t == SQL_TIME || t == SQL_TYPE_TIME) return SQL_CODE_TIME;
  if (t == SQL_TIMESTAMP || t == SQL_TYPE_TIMESTAMP) return SQL_CODE_TIMESTAMP;
  // SQL_INTERVAL_YEAR is SQL_CODE_YEAR above 100, and so on in order.
  if (IsInterval(t)) return static_cast<int16_t>(t - (SQL_INTERVAL_YEAR - SQL_CODE_YEAR));
  return 0;
}

// How a type's length reads: fixed-size types, text, or no length.
enum class LenKind { None, Fixed, Text };

LenKind LenClass(int t) {
  // SQL_NUMERIC to SQL_TIMESTAMP: the exact and approximate numbers and the
  // ODBC 2 date and time types.
  if (IsSizedCInteger(t) || t == SQL_BIT || t == SQL_TINYINT || t == SQL_BIGINT || t == SQL_VARBINARY ||
      t == SQL_BINARY || In(t, SQL_NUMERIC, SQL_TIMESTAMP) || In(t, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP) ||
      IsInterval(t)) {
    return LenKind::Fixed;
  }
  if (IsText(t)) return LenKind::Text;
  return LenKind::None;
}

int64_t Oct(int t, int64_t n) {
  switch (t) {
    case SQL_C_UTINYINT: case SQL_C_STINYINT: case SQL_TINYINT: return 1;
    // BIGINT as text: 19 digits and a sign.
    case SQL_C_UBIGINT: case SQL_C_SBIGINT: case SQL_BIGINT: return 20;
    case SQL_C_ULONG: case SQL_C_SLONG: case SQL_INTEGER: case SQL_REAL: return 4;
    case SQL_C_USHORT: case SQL_C_SSHORT: case SQL_SMALLINT: return 2;
    case SQL_WLONGVARCHAR: case SQL_WVARCHAR: case SQL_WCHAR: case SQL_LONGVARBINARY: case SQL_VARBINARY:
    case SQL_BINARY: case SQL_LONGVARCHAR: case SQL_CHAR: case SQL_VARCHAR:
      return n;
    // Digits, sign and decimal point.
    case SQL_NUMERIC: case SQL_DECIMAL: return n + 2;
    case SQL_FLOAT: case SQL_DOUBLE: return 8;
    case SQL_DATE: case SQL_TIME: case SQL_TYPE_DATE: case SQL_TYPE_TIME: return 6;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return 16;
    case SQL_GUID: return 16;  // SQL_C_GUID has the same code: the structure either way
    default: return IsInterval(t) ? 34 : 0;
  }
}

int64_t Wide(int t, int32_t size) { return IsWide(t) ? 2 * static_cast<int64_t>(size) : size; }

bool IsExactOrSizedInteger(int t) {
  return IsSizedCInteger(t) || t == SQL_TINYINT || t == SQL_BIGINT;
}

int16_t Prec(int t, int32_t size, int16_t digits) {
  if (IsExactOrSizedInteger(t) || In(t, SQL_NUMERIC, SQL_DOUBLE)) return static_cast<int16_t>(size & 0xFFFF);
  if (t == SQL_TIME || t == SQL_TIMESTAMP || t == SQL_TYPE_TIME || t == SQL_TYPE_TIMESTAMP ||
      t == SQL_INTERVAL_SECOND) {
    return digits;
  }
  return 0;
}

// Every number's precision counts decimal digits, the approximate types'
// too (their column size is 7 or 15 digits, as the catalog says): radix 10.
int32_t Radix(int t) {
  if (IsExactOrSizedInteger(t) || In(t, SQL_NUMERIC, SQL_DOUBLE)) return 10;
  return 0;
}

// SQL_TRUE for unsigned and non-numeric types; the signed numeric SQL types
// (and the signed C integer types) are not unsigned.
int16_t Uns(int t) {
  switch (t) {
    case SQL_C_STINYINT: case SQL_C_SBIGINT: case SQL_C_SLONG: case SQL_C_SSHORT:
    case SQL_TINYINT: case SQL_BIGINT: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER:
    case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      return SQL_FALSE;
    default:
      return SQL_TRUE;
  }
}

int16_t Fixed(int t, int16_t digits) {
  const bool numeric = t == SQL_NUMERIC || t == SQL_DECIMAL || t == SQL_INTEGER || t == SQL_SMALLINT ||
                       t == SQL_TINYINT || t == SQL_BIGINT;
  return numeric && digits != 0 ? SQL_TRUE : SQL_FALSE;
}

int16_t Search(int t) {
  if (IsText(t)) return SQL_PRED_SEARCHABLE;
  if (t == SQL_LONGVARBINARY || t == SQL_VARBINARY || t == SQL_BINARY) return SQL_PRED_NONE;
  return SQL_PRED_BASIC;
}

int32_t CaseSensitive(int t) {
  return (IsText(t) || t == SQL_WLONGVARCHAR || t == SQL_LONGVARCHAR) ? SQL_TRUE : SQL_FALSE;
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

// Columns of the type-information result read for descriptor fields.
constexpr uint16_t kTypeInfoTypeName = 1;
constexpr uint16_t kTypeInfoLiteralPrefix = 4;
constexpr uint16_t kTypeInfoLiteralSuffix = 5;

// A column of the type-information result for an SQL type; false when the
// read failed. Intervals are looked up as the type the database lists for them.
bool TypeInfo(StmtRecord* st, uint16_t column, int type, std::string* out) {
  out->clear();
  if (IsInterval(type)) type = SQL_INTERVAL;
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

// ---- the field table ---------------------------------------------------------------------

// Which kinds of descriptor a field is read from.
constexpr uint8_t kUser = 1, kArd = 2, kApd = 4, kIrd = 8, kIpd = 16;
constexpr uint8_t kApp = kUser | kArd | kApd;
constexpr uint8_t kImp = kIrd | kIpd;
constexpr uint8_t kAll = kApp | kImp;

uint8_t KindBit(Col c) {
  switch (c) {
    case Col::User: return kUser;
    case Col::Ard: return kArd;
    case Col::Apd: return kApd;
    case Col::Ird: return kIrd;
    case Col::Ipd: return kIpd;
  }
  return 0;
}

// How a field is written out.
enum class Out : uint8_t { I16, I32, I64, Ptr, Text };

// What an IRD read needs before its rule runs: nothing; the column's
// description; for record 0 the bookmark column's fixed answer and otherwise
// the description; or the description past record 0 (the rule answers for
// the bookmark column).
enum class IrdNeeds : uint8_t { Nothing, Desc, BookmarkOrDesc, DescPastBookmark };

// Everything a rule reads: the descriptor, its statement, the record and
// what is bound and described for it.
struct Ctx {
  DescRecord* d;
  StmtRecord* st;
  Col col;
  bool current;  // the descriptor is one its statement uses now
  int16_t rec;
  DescFieldRec* r;
  ColBinding* cb;           // the column's binding (current ARD)
  ParamBinding* pb;         // the parameter's binding (current APD, IPD)
  const AgentColDesc* cd;   // the column's description (IRD)
  const AgentColDesc* pd;   // the parameter's description (IPD)
  bool ird0;                // IRD record 0: the bookmark column
  std::string text;         // room for a text answer
};

// A rule's answer: a number, a pointer, a text, or a return code already
// settled (an error posted on the descriptor).
struct Value {
  bool settled;
  SQLRETURN rc;
  int64_t number;
  const void* pointer;
  const char* text;
};

Value Num(int64_t v) { return {false, SQL_SUCCESS, v, nullptr, nullptr}; }
Value Ptr(const void* p) { return {false, SQL_SUCCESS, 0, p, nullptr}; }
Value Text(const char* t) { return {false, SQL_SUCCESS, 0, nullptr, t}; }
Value Settled(SQLRETURN rc) { return {true, rc, 0, nullptr, nullptr}; }

using Rule = Value (*)(Ctx&);

struct FieldRow {
  int16_t field;
  bool header;  // read whatever the record number
  uint8_t kinds;
  Out out;
  IrdNeeds ird;
  int64_t bookmarkNumber;    // IrdNeeds::BookmarkOrDesc, number fields
  const char* bookmarkText;  // IrdNeeds::BookmarkOrDesc, text fields
  Rule rule;
};

// ---- header rules ----

Value ArraySize(Ctx& x) {
  switch (x.col) {
    case Col::Ard: return Num(x.st != nullptr ? x.st->cursor.rowsetSize : x.d->arraySize);
    case Col::Apd: return Num(static_cast<int64_t>(x.st != nullptr ? x.st->paramsetSize : x.d->arraySize));
    default: return Num(static_cast<int64_t>(x.d->arraySize));
  }
}
Value ArrayStatusPtr(Ctx& x) { return Ptr(x.d->arrayStatusPtr); }
Value BindOffsetPtr(Ctx& x) { return Ptr(x.d->bindOffsetPtr); }
Value BindType(Ctx& x) { return Num(x.col == Col::Ard && x.st != nullptr ? x.st->bindType : x.d->bindType); }
Value RowsProcessedPtr(Ctx& x) {
  if (x.st == nullptr) return Ptr(nullptr);
  return Ptr(x.col == Col::Ird ? static_cast<const void*>(x.st->rowsFetchedPtr)
                               : static_cast<const void*>(x.st->rowsProcessedPtr));
}
Value Count(Ctx& x) {
  if (x.col != Col::Ird) return Num(DescRecCount(x.d));
  if (x.st == nullptr) return Num(0);
  int16_t n = 0;
  int rc = StmtNumResultCols(x.st, &n);
  if (rc != 0) return Settled(Fail(x.d, rc));
  return Num(n);
}
Value AllocType(Ctx& x) { return Num(x.d->allocType); }

// ---- record rules ----

// A field that follows the record's type: for a current ARD or APD the
// binding's C type decides, for the IRD and IPD the description's SQL type;
// without either the record's own value answers.
template <int64_t (*FromType)(int), auto Member>
Value ByType(Ctx& x) {
  switch (x.col) {
    case Col::Ard: if (x.cb != nullptr) return Num(FromType(x.cb->cType)); break;
    case Col::Apd: if (x.pb != nullptr) return Num(FromType(x.pb->cType)); break;
    case Col::Ird: return Num(FromType(TypeOf(x.cd)));
    case Col::Ipd: if (x.pd != nullptr) return Num(FromType(TypeOf(x.pd))); break;
    case Col::User: break;
  }
  return Num(x.r->*Member);
}

// A field the IRD and IPD take from the description; the IPD without one,
// and the application descriptors, read the record's own value.
template <int64_t (*FromDesc)(const AgentColDesc*), auto Member>
Value ByDesc(Ctx& x) {
  if (x.col == Col::Ird) return Num(FromDesc(x.cd));
  if (x.col == Col::Ipd && x.pd != nullptr) return Num(FromDesc(x.pd));
  return Num(x.r->*Member);
}

int64_t SameType(int t) { return t; }
int64_t TypeOfType(int t) { return TypeMap(t); }
int64_t IntervalCode(int t) { return DicMap(t); }
int64_t RadixOf(int t) { return Radix(t); }
int64_t PrecisionOf(const AgentColDesc* c) { return Prec(TypeOf(c), c->columnSize, c->decimalDigits); }
int64_t ScaleOf(const AgentColDesc* c) {
  const int t = TypeOf(c);
  return (t == SQL_NUMERIC || t == SQL_DECIMAL) ? c->decimalDigits : 0;
}
int64_t UnsignedOf(const AgentColDesc* c) { return Uns(TypeOf(c)); }
int64_t FixedOf(const AgentColDesc* c) { return Fixed(TypeOf(c), c->decimalDigits); }

Value IntervalPrecision(Ctx& x) { return Num(x.r->datetimeIntervalPrecision); }

// A bound buffer's length: fixed-size types one less than the buffer, text
// one character less.
int64_t BufferLength(int16_t cType, int64_t bufferLength, int64_t fixedLength) {
  const LenKind k = LenClass(cType);
  const int64_t chars = (cType == SQL_WCHAR || cType == SQL_WVARCHAR) ? bufferLength / 2 : bufferLength;
  return k == LenKind::Fixed ? fixedLength : k == LenKind::Text ? chars - 1 : 0;
}

Value Length(Ctx& x) {
  if (x.col == Col::Ard && x.cb != nullptr) {
    return Num(BufferLength(x.cb->cType, x.cb->bufferLength, x.cb->bufferLength - 1));
  }
  if (x.col == Col::Apd && x.pb != nullptr) {
    return Num(BufferLength(x.pb->cType, x.pb->bufferLength, x.pb->elementSize));
  }
  const AgentColDesc* c = x.col == Col::Ird ? x.cd : x.col == Col::Ipd ? x.pd : nullptr;
  if (c != nullptr) return Num(LenClass(TypeOf(c)) != LenKind::None ? c->columnSize : 0);
  return Num(static_cast<uint32_t>(x.r->length));
}

Value OctetLength(Ctx& x) {
  if (x.col == Col::Ard && x.cb != nullptr) return Num(Oct(x.cb->cType, x.cb->bufferLength));
  if (x.col == Col::Apd && x.pb != nullptr) return Num(Oct(x.pb->cType, x.pb->bufferLength));
  const AgentColDesc* c = x.col == Col::Ird ? x.cd : x.col == Col::Ipd ? x.pd : nullptr;
  if (c != nullptr) return Num(Oct(TypeOf(c), Wide(TypeOf(c), c->columnSize)));
  return Num(x.r->octetLength);
}

Value DataPtr(Ctx& x) {
  if (x.col == Col::Ard && x.current) return Ptr(x.cb != nullptr ? x.cb->target : nullptr);
  if (x.col == Col::Apd && x.current) return Ptr(x.pb != nullptr ? x.pb->value : nullptr);
  return Ptr(x.r->dataPtr);
}

Value IndicatorPtr(Ctx& x) {
  if (x.col == Col::Ard && x.cb != nullptr) return Ptr(x.cb->indicator);
  if (x.col == Col::Apd && x.pb != nullptr) return Ptr(x.pb->indicator);
  return Ptr(x.r->indicatorPtr);
}

Value OctetLengthPtr(Ctx& x) {
  if (x.col == Col::Ard && x.cb != nullptr) return Ptr(x.cb->octetLength);
  if (x.col == Col::Apd && x.pb != nullptr) return Ptr(x.pb->octetLength);
  return Ptr(x.r->octetLengthPtr);
}

Value Name(Ctx& x) { return Text(x.col == Col::Ird ? x.cd->name : x.r->name); }

Value Unnamed(Ctx& x) {
  if (x.col == Col::Ipd) return Num(x.r->unnamed);
  return Num(x.cd->name[0] == '\0' ? SQL_UNNAMED : SQL_NAMED);
}

Value Nullable(Ctx& x) {
  if (x.col == Col::Ipd) return Num(SQL_NULLABLE);
  return Num(x.cd->flags & COLDESC_NULLABLE_MASK);
}

// The binding's direction; the record's own value when nothing is bound.
Value ParameterType(Ctx& x) { return Num(x.pb != nullptr ? x.pb->direction : x.r->parameterType); }

Value DisplaySize(Ctx& x) { return Num(x.cd->displaySize); }

Value Updatable(Ctx& x) {
  int32_t v = 0;
  if (Vr(x.st, SQL_DESC_UPDATABLE, x.rec, &v, nullptr)) return Num(v);
  const uint32_t code = (x.cd->flags >> COLDESC_UPDATABLE_SHIFT) & 0xF;
  return Num(code != 0 ? static_cast<int>(code) - 1 : SQL_ATTR_READWRITE_UNKNOWN);
}

// An attribute delivered with the extended describe, 0 when none was.
Value Delivered(Ctx& x, int16_t field) {
  int32_t v = 0;
  if (!Vr(x.st, static_cast<uint16_t>(field), x.rec, &v, nullptr)) v = 0;
  return Num(v);
}
Value AutoUniqueValue(Ctx& x) { return Delivered(x, SQL_DESC_AUTO_UNIQUE_VALUE); }
Value RowVer(Ctx& x) { return Delivered(x, SQL_DESC_ROWVER); }
Value KeyColumn(Ctx& x) { return Delivered(x, COLATTR_KEY_COLUMN); }

Value CaseSensitiveField(Ctx& x) {
  if (x.col == Col::Ipd) return Num(SQL_TRUE);
  int32_t v = 0;
  if (!Vr(x.st, SQL_DESC_CASE_SENSITIVE, x.rec, &v, nullptr)) v = CaseSensitive(TypeOf(x.cd));
  return Num(v);
}

Value Searchable(Ctx& x) {
  int32_t v = 0;
  if (!Vr(x.st, SQL_DESC_SEARCHABLE, x.rec, &v, nullptr)) v = Search(TypeOf(x.cd));
  return Num(v);
}

Value TypeName(Ctx& x) {
  if (x.col == Col::Ipd) {
    if (!TypeInfo(x.st, kTypeInfoTypeName, x.pd != nullptr ? TypeOf(x.pd) : x.r->conciseType, &x.text)) {
      return Settled(SQL_ERROR);
    }
    return Text(x.text.c_str());
  }
  if (x.ird0) {
    if (!TypeInfo(x.st, kTypeInfoTypeName, SQL_CHAR, &x.text)) return Settled(SQL_ERROR);
    return Text(x.text.c_str());
  }
  const char* vr = nullptr;
  if (Vr(x.st, SQL_DESC_TYPE_NAME, x.rec, nullptr, &vr)) {
    x.text = Or(vr);
  } else if (!TypeInfo(x.st, kTypeInfoTypeName, TypeOf(x.cd), &x.text)) {
    return Settled(SQL_ERROR);
  }
  return Text(x.text.c_str());
}

Value TableName(Ctx& x) { return Text(x.cd->table); }
Value SchemaName(Ctx& x) { return Text(x.cd->schema); }
Value CatalogName(Ctx& x) { return Text(x.cd->catalog); }

Value Label(Ctx& x) {
  const char* label = (x.cd->label != nullptr && x.cd->label[0] != '\0') ? x.cd->label : x.cd->name;
  return Text(label);
}

// A derived column (an expression) has no base column.
Value BaseColumnName(Ctx& x) {
  int32_t derived = 0;
  if (Vr(x.st, COLATTR_DERIVED_COLUMN, x.rec, &derived, nullptr) && derived == 1) return Text("");
  return Label(x);
}

Value Literal(Ctx& x, int16_t field, uint16_t column) {
  const char* vr = nullptr;
  if (Vr(x.st, static_cast<uint16_t>(field), x.rec, nullptr, &vr)) {
    x.text = Or(vr);
  } else if (!TypeInfo(x.st, column, TypeOf(x.cd), &x.text)) {
    return Settled(SQL_ERROR);
  }
  return Text(x.text.c_str());
}
Value LiteralPrefix(Ctx& x) { return Literal(x, SQL_DESC_LITERAL_PREFIX, kTypeInfoLiteralPrefix); }
Value LiteralSuffix(Ctx& x) { return Literal(x, SQL_DESC_LITERAL_SUFFIX, kTypeInfoLiteralSuffix); }

Value Empty(Ctx&) { return Text(""); }

constexpr IrdNeeds kNothing = IrdNeeds::Nothing;
constexpr IrdNeeds kDesc = IrdNeeds::Desc;
constexpr IrdNeeds kBookmark = IrdNeeds::BookmarkOrDesc;
constexpr IrdNeeds kDescPastBookmark = IrdNeeds::DescPastBookmark;

// The bookmark column (IRD record 0) describes itself as an 8-byte CHAR
// named "BOOKMARK".
constexpr const char* kBookmarkName = "BOOKMARK";

const FieldRow kFields[] = {
    // field, header, kinds, out, IRD needs, bookmark number, bookmark text, rule
    {SQL_DESC_ARRAY_SIZE, true, kApp, Out::I64, kNothing, 0, nullptr, ArraySize},
    {SQL_DESC_ARRAY_STATUS_PTR, true, kAll, Out::Ptr, kNothing, 0, nullptr, ArrayStatusPtr},
    {SQL_DESC_BIND_OFFSET_PTR, true, kApp, Out::Ptr, kNothing, 0, nullptr, BindOffsetPtr},
    {SQL_DESC_BIND_TYPE, true, kApp, Out::I32, kNothing, 0, nullptr, BindType},
    {SQL_DESC_ROWS_PROCESSED_PTR, true, kImp, Out::Ptr, kNothing, 0, nullptr, RowsProcessedPtr},
    {SQL_DESC_COUNT, true, kAll, Out::I16, kNothing, 0, nullptr, Count},
    {SQL_DESC_ALLOC_TYPE, true, kAll, Out::I16, kNothing, 0, nullptr, AllocType},

    {SQL_DESC_CONCISE_TYPE, false, kAll, Out::I16, kBookmark, SQL_CHAR, nullptr,
     ByType<SameType, &DescFieldRec::conciseType>},
    {SQL_DESC_TYPE, false, kAll, Out::I16, kBookmark, SQL_CHAR, nullptr,
     ByType<TypeOfType, &DescFieldRec::type>},
    {SQL_DESC_DATETIME_INTERVAL_CODE, false, kAll, Out::I16, kBookmark, 0, nullptr,
     ByType<IntervalCode, &DescFieldRec::datetimeIntervalCode>},
    {SQL_DESC_NUM_PREC_RADIX, false, kAll, Out::I32, kBookmark, 0, nullptr,
     ByType<RadixOf, &DescFieldRec::numPrecRadix>},
    {SQL_DESC_DATETIME_INTERVAL_PRECISION, false, kAll, Out::I32, kNothing, 0, nullptr, IntervalPrecision},
    {SQL_DESC_LENGTH, false, kAll, Out::I64, kBookmark, KX_BOOKMARK_BYTES, nullptr, Length},
    {SQL_DESC_OCTET_LENGTH, false, kAll, Out::I64, kBookmark, KX_BOOKMARK_BYTES, nullptr, OctetLength},
    {SQL_DESC_PRECISION, false, kAll, Out::I16, kBookmark, 0, nullptr,
     ByDesc<PrecisionOf, &DescFieldRec::precision>},
    {SQL_DESC_SCALE, false, kAll, Out::I16, kBookmark, 0, nullptr, ByDesc<ScaleOf, &DescFieldRec::scale>},
    {SQL_DESC_UNSIGNED, false, kImp, Out::I16, kBookmark, SQL_TRUE, nullptr,
     ByDesc<UnsignedOf, &DescFieldRec::isUnsigned>},
    {SQL_DESC_FIXED_PREC_SCALE, false, kImp, Out::I16, kBookmark, 0, nullptr,
     ByDesc<FixedOf, &DescFieldRec::fixedPrecScale>},
    {SQL_DESC_DATA_PTR, false, kApp, Out::Ptr, kNothing, 0, nullptr, DataPtr},
    {SQL_DESC_INDICATOR_PTR, false, kApp, Out::Ptr, kNothing, 0, nullptr, IndicatorPtr},
    {SQL_DESC_OCTET_LENGTH_PTR, false, kApp, Out::Ptr, kNothing, 0, nullptr, OctetLengthPtr},
    {SQL_DESC_NAME, false, kImp, Out::Text, kBookmark, 0, kBookmarkName, Name},
    {SQL_DESC_UNNAMED, false, kImp, Out::I16, kBookmark, 0, nullptr, Unnamed},
    {SQL_DESC_NULLABLE, false, kImp, Out::I16, kBookmark, 0, nullptr, Nullable},
    {SQL_DESC_PARAMETER_TYPE, false, kIpd, Out::I16, kNothing, 0, nullptr, ParameterType},
    {SQL_DESC_DISPLAY_SIZE, false, kIrd, Out::I64, kBookmark, KX_BOOKMARK_BYTES, nullptr, DisplaySize},
    {SQL_DESC_UPDATABLE, false, kIrd, Out::I16, kBookmark, 0, nullptr, Updatable},
    {SQL_DESC_AUTO_UNIQUE_VALUE, false, kIrd, Out::I32, kBookmark, 0, nullptr, AutoUniqueValue},
    {SQL_DESC_CASE_SENSITIVE, false, kImp, Out::I32, kBookmark, SQL_TRUE, nullptr, CaseSensitiveField},
    {SQL_DESC_SEARCHABLE, false, kIrd, Out::I16, kBookmark, 0, nullptr, Searchable},
    // The bookmark column's type name is read like any other.
    {SQL_DESC_TYPE_NAME, false, kImp, Out::Text, kDescPastBookmark, 0, nullptr, TypeName},
    {SQL_DESC_TABLE_NAME, false, kIrd, Out::Text, kDesc, 0, nullptr, TableName},
    {SQL_DESC_BASE_TABLE_NAME, false, kIrd, Out::Text, kDesc, 0, nullptr, TableName},
    {SQL_DESC_SCHEMA_NAME, false, kIrd, Out::Text, kDesc, 0, nullptr, SchemaName},
    {SQL_DESC_CATALOG_NAME, false, kIrd, Out::Text, kDesc, 0, nullptr, CatalogName},
    {SQL_DESC_LABEL, false, kIrd, Out::Text, kBookmark, 0, kBookmarkName, Label},
    {SQL_DESC_BASE_COLUMN_NAME, false, kIrd, Out::Text, kBookmark, 0, kBookmarkName, BaseColumnName},
    {SQL_DESC_LITERAL_PREFIX, false, kIrd, Out::Text, kBookmark, 0, "", LiteralPrefix},
    {SQL_DESC_LITERAL_SUFFIX, false, kIrd, Out::Text, kBookmark, 0, "", LiteralSuffix},
    {SQL_DESC_LOCAL_TYPE_NAME, false, kImp, Out::Text, kNothing, 0, nullptr, Empty},
    {SQL_DESC_ROWVER, false, kIrd, Out::I16, kBookmark, 0, nullptr, RowVer},
    {COLATTR_KEY_COLUMN, false, kIrd, Out::I16, kBookmark, 0, nullptr, KeyColumn},
};

const FieldRow* FindField(int16_t field) {
  for (const FieldRow& row : kFields) {
    if (row.field == field) return &row;
  }
  return nullptr;
}

SQLRETURN Write(const FieldRow& row, const Value& v, DescRecord* d, void* value, int64_t bufferLength,
                int64_t* length, char form) {
  if (v.settled) return v.rc;
  switch (row.out) {
    case Out::I16: return PutI16(value, length, v.number);
    case Out::I32: return PutI32(value, length, v.number);
    case Out::I64: return PutI64(value, length, v.number);
    case Out::Ptr: return PutPtr(d, value, bufferLength, length, v.pointer);
    case Out::Text: return PutText(d, value, bufferLength, length, v.text, form);
  }
  return Fail(d, KX_ERR_NOT_SUPPORTED);
}

// The record-number rules: record 0 of the IPD and APD is refused, and a
// record past the last answers no data (the IRD counts the result's columns).
// SQL_SUCCESS when the record may be read.
SQLRETURN CheckRecord(DescRecord* d, Col col, StmtRecord* st, int16_t recNumber) {
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
  return SQL_SUCCESS;
}

// What is bound and described for the record; a missing description leaves
// no trace on the statement.
void Gather(Ctx& x, DescFieldRec* none) {
  x.r = DescGetRec(x.d, x.rec);
  if (x.r == nullptr) x.r = none;
  const bool bound = x.current && x.st != nullptr;
  x.cb = (x.col == Col::Ard && bound) ? StmtGetColBinding(x.rec, x.st) : nullptr;
  x.pb = ((x.col == Col::Apd || x.col == Col::Ipd) && bound) ? StmtGetParamBinding(x.rec, x.st) : nullptr;
  x.ird0 = x.col == Col::Ird && x.rec == 0;
  if (x.col == Col::Ird && x.st != nullptr) {
    const int32_t saved = x.st->error;
    x.cd = StmtGetColDesc(x.st, static_cast<uint16_t>(x.rec));
    x.st->error = saved;
  } else if (x.col == Col::Ipd && x.st != nullptr) {
    const int32_t saved = x.st->error;
    x.pd = StmtGetParamDesc(x.st, static_cast<uint16_t>(x.rec));
    x.st->error = saved;
  }
}

}  // namespace

SQLRETURN DescGetField(DescRecord* d, int16_t recNumber, int16_t field, void* value,
                       int64_t bufferLength, int64_t* length, char form) {
  if (TraceOn()) TracePrintf("Descriptor Type: %s", DescKindName(d));
  Ctx x{};
  x.d = d;
  x.st = d->stmt;
  x.col = ColumnOf(d);
  x.current = x.st != nullptr && (d == x.st->currentArd || d == x.st->currentApd || d == x.st->ird ||
                                  d == x.st->ipd);
  x.rec = recNumber;
  const FieldRow* row = FindField(field);
  const uint8_t kind = KindBit(x.col);

  if (row != nullptr && row->header) {
    if ((row->kinds & kind) == 0) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
    return Write(*row, row->rule(x), d, value, bufferLength, length, form);
  }

  const SQLRETURN recordRc = CheckRecord(d, x.col, x.st, recNumber);
  if (recordRc != SQL_SUCCESS) return recordRc;
  DescFieldRec none{};
  Gather(x, &none);
  if (row == nullptr) return Fail(d, KX_ERR_NOT_SUPPORTED);
  if ((row->kinds & kind) == 0) return Fail(d, KX_ERR_BAD_DESCRIPTOR_TYPE);
  if (x.col == Col::Ird && row->ird != IrdNeeds::Nothing) {
    if (x.ird0 && row->ird == IrdNeeds::BookmarkOrDesc) {
      const Value fixed = row->out == Out::Text ? Text(row->bookmarkText) : Num(row->bookmarkNumber);
      return Write(*row, fixed, d, value, bufferLength, length, form);
    }
    if (x.cd == nullptr && !(x.ird0 && row->ird == IrdNeeds::DescPastBookmark)) {
      return Fail(d, KX_ERR_BAD_DESCRIPTOR_INDEX);
    }
  }
  return Write(*row, row->rule(x), d, value, bufferLength, length, form);
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
