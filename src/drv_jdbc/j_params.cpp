#include "drv_jdbc/j_params.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "agent/build_flavor.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_meta.h"
#include "drv_jdbc/text/j_parse_sql.h"
#include "util/errcodes.h"
#include "util/interval_text.h"
#include "util/log.h"
#include "util/row_buffer.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// An output argument of a procedure call declared as text while the
// procedure's parameter has another type (an integer, say): a JDBC driver
// that checks the registered type against the parameter refuses the call
// (PostgreSQL's 42821) and reads the value only with the getter of its own
// type. The call's parameter description, asked once a prepare, tells the
// type; the argument is registered and read as that, and the core converts
// it to the bound C type. Nothing changes where no description is to be had,
// and the return value of "{? = call f(...)}" is settled from the call's
// result description instead.
void SettleOutputType(JStmt* s, int p) {
  if (p == 0 && JDB_HasReturnMarker(s)) return;
  if (!JDB_IsCharacterType(JDB_ParamSqlType(s, p))) return;
  if (!s->outputTypesAsked) {
    s->outputTypesAsked = true;
    s->outputJdbcTypes.assign(s->paramCount, 0);
    if (s->paramCount > 0) JC_ParameterMetaData_types(s, s->stmt, s->outputJdbcTypes.data(), s->paramCount);
    JDB_MsgFreeList(&s->msgs);
    // Only types the output road reads as such; text stays text.
    for (int32_t& t : s->outputJdbcTypes) {
      if (JDB_OutputStorageOf(t) == RBT_NONE && t != JT_NUMERIC && t != JT_DECIMAL) t = 0;
    }
  }
}

}  // namespace

namespace {

enum class Form { Text, Signed, Unsigned, Double, DateTime, Binary, Wide };

// One parameter value as read from its element.
struct Value {
  Form form = Form::Text;
  const char* bytes = nullptr;     // text or binary
  size_t length = 0;               // bytes, or 16-bit units for wide text
  const char16_t* units = nullptr;  // wide text
  int64_t i = 0;                   // signed and unsigned
  double d = 0;
  JDateTime dt{};
  int dtParts = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <typename T>
T Load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Reads the element of row r of column col into a value form. 43 for a
// storage type without a form.
int ReadElement(const RowBufferColumn* col, int32_t r, Value* v) {
  const unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  const uint32_t w = col->width;
  auto counted = [&](uint32_t head, uint32_t len, Form form) {
    uint32_t room = w > head ? w - head : 0;
    v->form = form;
    v->bytes = reinterpret_cast<const char*>(e + head);
    v->length = len < room ? len : room;
  };
  switch (col->type) {
    case RBT_CHAR:
    // The core sizes a text column for the longest value of the set and
    // fills the rest of a shorter one with zeros: the text ends at the first.
    // (Read as the full width, "2024-01-02" arrived as "2024-01-02\0" and
    // failed every date, time and floating-point parse.)
    case RBT_CHAR_NTS:
      v->form = Form::Text;
      v->bytes = reinterpret_cast<const char*>(e);
      v->length = strnlen(v->bytes, w);
      break;
    case RBT_CHAR_LEN1: counted(1, Load<uint8_t>(e), Form::Text); break;
    case RBT_CHAR_LEN2: counted(2, Load<uint16_t>(e), Form::Text); break;
    case RBT_CHAR_LEN4: counted(4, Load<uint32_t>(e), Form::Text); break;
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR: {
      RBPtrValue p = RB_GetPtrValue(e);
      v->form = col->type == RBT_CHAR_PTR ? Form::Text : Form::Binary;
      v->bytes = p.block != nullptr ? static_cast<const char*>(p.block) : "";
      v->length = p.block != nullptr ? p.length : 0;
      break;
    }
    case RBT_BIT: case RBT_UTINYINT: v->form = Form::Unsigned; v->i = *e; break;
    case RBT_USHORT: v->form = Form::Unsigned; v->i = Load<uint16_t>(e); break;
    case RBT_ULONG: v->form = Form::Unsigned; v->i = Load<uint32_t>(e); break;
    case RBT_STINYINT: v->form = Form::Signed; v->i = static_cast<int8_t>(*e); break;
    case RBT_SSHORT: v->form = Form::Signed; v->i = Load<int16_t>(e); break;
    case RBT_SLONG: v->form = Form::Signed; v->i = Load<int32_t>(e); break;
    case RBT_FLOAT: v->form = Form::Double; v->d = Load<float>(e); break;
    case RBT_DOUBLE: v->form = Form::Double; v->d = Load<double>(e); break;
    case RBT_DATE:
      v->form = Form::DateTime;
      v->dt.year = Load<int16_t>(e);
      v->dt.month = Load<uint16_t>(e + 2);
      v->dt.day = Load<uint16_t>(e + 4);
      v->dtParts = JDB_DT_DATE;
      break;
    case RBT_TIME:
      v->form = Form::DateTime;
      v->dt.hour = Load<uint16_t>(e);
      v->dt.minute = Load<uint16_t>(e + 2);
      v->dt.second = Load<uint16_t>(e + 4);
      v->dt.fraction = RB_TimeFraction(col, e);
      v->dtParts = JDB_DT_TIME;
      break;
    case RBT_TIMESTAMP:
      v->form = Form::DateTime;
      std::memcpy(&v->dt, e, sizeof v->dt);
      v->dtParts = JDB_DT_DATE | JDB_DT_TIME;
      break;
    case RBT_BINARY: v->form = Form::Binary; v->bytes = reinterpret_cast<const char*>(e); v->length = w; break;
    case RBT_BINARY_LEN1: counted(1, Load<uint8_t>(e), Form::Binary); break;
    case RBT_BINARY_LEN2: counted(2, Load<uint16_t>(e), Form::Binary); break;
    case RBT_BINARY_LEN4: counted(4, Load<uint32_t>(e), Form::Binary); break;
    case RBT_WCHAR:
    case RBT_WCHAR_NTS:
    case RBT_WCHAR_PTR:
    case RBT_WCHAR_LEN4: {
      if (!UnicodeBuild()) return -1;
      v->form = Form::Wide;
      if (col->type == RBT_WCHAR_PTR) {
        RBPtrValue p = RB_GetPtrValue(e);
        v->units = p.block != nullptr ? static_cast<const char16_t*>(p.block) : u"";
        v->length = p.block != nullptr ? p.length : 0;
      } else if (col->type == RBT_WCHAR_LEN4) {
        uint32_t n = Load<uint32_t>(e);
        uint32_t room = w > 4 ? (w - 4) / 2 : 0;
        v->units = reinterpret_cast<const char16_t*>(e + 4);
        v->length = n < room ? n : room;
      } else {
        v->units = reinterpret_cast<const char16_t*>(e);
        size_t room = w / 2;
        size_t n = 0;
        if (col->type == RBT_WCHAR_NTS) {
          while (n < room && v->units[n] != 0) ++n;
        } else {
          n = room;
        }
        v->length = n;
      }
      break;
    }
    default:
      return -1;
  }
  return 0;
}

bool IsDateType(int32_t t) { return t == SQL_DATE || t == SQL_TYPE_DATE; }
bool IsTimeType(int32_t t) { return t == SQL_TIME || t == SQL_TYPE_TIME; }
bool IsStampType(int32_t t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_TIMESTAMP; }

// Parses decimal text (used for the number types and dates) after trimming.
void Trim(const char** p, size_t* n) {
  while (*n > 0 && IsBlank(**p)) {
    ++*p;
    --*n;
  }
  while (*n > 0 && IsBlank((*p)[*n - 1])) --*n;
}

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

// Reads exactly `digits` digits (or between min and max when max > min).
bool Digits(const char*& p, const char* end, int minDigits, int maxDigits, int* out,
            int* count = nullptr) {
  int v = 0, k = 0;
  while (p < end && k < maxDigits && *p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    ++p;
    ++k;
  }
  if (k < minDigits) return false;
  *out = v;
  if (count != nullptr) *count = k;
  return true;
}

bool ParseTime(const char*& p, const char* end, JDateTime* dt) {
  int h, m, s = 0;
  if (!Digits(p, end, 1, 2, &h) || p >= end || *p != ':') return false;
  ++p;
  if (!Digits(p, end, 2, 2, &m)) return false;
  if (p < end && *p == ':') {
    ++p;
    if (!Digits(p, end, 2, 2, &s)) return false;
    if (p < end && *p == '.') {
      ++p;
      int f = 0, k = 0;
      if (!Digits(p, end, 1, 9, &f, &k)) return false;
      while (k < 9) {
        f *= 10;
        ++k;
      }
      dt->fraction = static_cast<uint32_t>(f);
    }
  }
  if (h > 23 || m > 59 || s > 59) return false;
  dt->hour = static_cast<uint16_t>(h);
  dt->minute = static_cast<uint16_t>(m);
  dt->second = static_cast<uint16_t>(s);
  return true;
}

// Checked text helpers for the setters.
int SetText(JStmt* s, int32_t idx, const char* text, size_t n, int32_t mode, bool stream) {
  const int32_t len = static_cast<int32_t>(n > INT32_MAX ? INT32_MAX : n);
  return stream ? JC_PreparedStatement_setCharacterStream(s, s->stmt, idx, text, len, mode)
                : JC_PreparedStatement_setString(s, s->stmt, idx, text, len, mode);
}

int RangeError(const char* format, double v) {
  if (format != nullptr) LogAt(LOG_ERROR, __FILE__, __LINE__, format, v);
  return KX_ERR_NUMERIC_RANGE;
}

// A number from the value for an integer type: text is parsed strictly.
int ToInteger(const Value& v, const char* text, size_t n, int64_t* out) {
  switch (v.form) {
    case Form::Signed:
    case Form::Unsigned: *out = v.i; return 0;
    case Form::Double:
      if (std::isnan(v.d) || v.d >= 9223372036854775807.0 || v.d < -9223372036854775807.0)
        return KX_ERR_NUMERIC_RANGE;
      // A fraction would be lost: refused, never stored changed.
      if (std::trunc(v.d) != v.d) return KX_ERR_RIGHT_TRUNCATION;
      *out = static_cast<int64_t>(v.d);
      return 0;
    case Form::Text:
    case Form::Wide: return JDB_TextToInt64(text, n, out);
    default: return KX_ERR_NOT_CAPABLE;
  }
}

// ---- binding one value by the parameter's SQL type ------------------------------------------

// What a binder gets: the statement, the parameter, its SQL type and the
// value, with text already in the form it crosses in.
struct BindArgs {
  JStmt* s;
  int32_t idx;
  int32_t sqlType;
  const Value& v;
  const char* text;  // text forms: the text
  size_t n;          // its length in bytes
  int32_t mode;      // JC_MODE_UTF8 for wide text, else JC_MODE_PLATFORM
  bool textForm;
};

// Each binder answers 0, the setter's status, or KX_ERR_NOT_CAPABLE for a
// value form the type does not take.
using Binder = int (*)(const BindArgs&);

// Character types (and BIGINT, which crosses as text): numbers and
// date-times as their text, bytes as bytes; the long types as streams.
int BindAsText(const BindArgs& a) {
  JStmt* s = a.s;
  const Value& v = a.v;
  const bool stream = a.sqlType == SQL_LONGVARCHAR || a.sqlType == SQL_WLONGVARCHAR;
  char num[64];
  if (a.sqlType == SQL_BIGINT && (a.textForm || v.form == Form::Double)) {
    // The integer the value is, checked as for the other integer types
    // (text strictly, no fraction lost), and sent as its plain digits.
    int64_t x = 0;
    if (int st = ToInteger(v, a.text, a.n, &x); st != 0) return st;
    std::snprintf(num, sizeof num, "%" PRId64, x);
    return SetText(s, a.idx, num, std::strlen(num), JC_MODE_PLATFORM, false);
  }
  if (a.textForm) return SetText(s, a.idx, a.text, a.n, a.mode, stream);
  if (v.form == Form::Binary && a.sqlType != SQL_BIGINT) {
    // Bytes for a character parameter are the text they spell (UTF-8), as
    // ODBC copies binary data into character data.
    return SetText(s, a.idx, v.bytes, v.length, JC_MODE_UTF8, stream);
  }
  switch (v.form) {
    case Form::Signed:
      std::snprintf(num, sizeof num, "%" PRId64, v.i);
      break;
    case Form::Unsigned:
      std::snprintf(num, sizeof num, "%" PRIu64, static_cast<uint64_t>(v.i));
      break;
    case Form::Double:
      std::snprintf(num, sizeof num, "%.16g", v.d);
      break;
    case Form::Binary:
      return stream ? JC_PreparedStatement_setBinaryStream(s, s->stmt, a.idx, v.bytes, static_cast<int32_t>(v.length))
                    : JC_PreparedStatement_setBytes(s, s->stmt, a.idx, v.bytes, static_cast<int32_t>(v.length));
    case Form::DateTime: {
      // A date-time value for a text parameter goes as its ODBC literal text.
      const JDateTime& t = v.dt;
      if (v.dtParts == JDB_DT_DATE) {
        std::snprintf(num, sizeof num, "%04d-%02u-%02u", t.year, t.month, t.day);
      } else if (v.dtParts == JDB_DT_TIME) {
        std::snprintf(num, sizeof num, "%02u:%02u:%02u", t.hour, t.minute, t.second);
      } else {
        std::snprintf(num, sizeof num, "%04d-%02u-%02u %02u:%02u:%02u.%09u", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, t.fraction);
      }
      break;
    }
    default:
      return KX_ERR_NOT_CAPABLE;
  }
  return SetText(s, a.idx, num, std::strlen(num), JC_MODE_PLATFORM, stream);
}

// A GUID travels as its 36-character text (the core turns SQL_C_GUID values
// into that form); numbers and raw bytes are not GUIDs.
int BindGuid(const BindArgs& a) {
  return a.textForm ? SetText(a.s, a.idx, a.text, a.n, a.mode, false) : KX_ERR_NOT_CAPABLE;
}

int BindDecimal(const BindArgs& a) {
  JStmt* s = a.s;
  const Value& v = a.v;
  if (a.textForm) {
    // A decimal number with blanks around it, as for the other number
    // types; anything else is no number (22018) rather than Java's refusal.
    const char* p = a.text;
    size_t n = a.n;
    Trim(&p, &n);
    double ignored = 0;
    if (int st = JDB_TextToDouble(p, n, &ignored); st == KX_ERR_BAD_CAST_VALUE) return st;
    return JC_PreparedStatement_setBigDecimal(s, s->stmt, a.idx, p, static_cast<int32_t>(n), a.mode);
  }
  switch (v.form) {
    case Form::Signed: return JC_PreparedStatement_setInt(s, s->stmt, a.idx, static_cast<int32_t>(v.i));
    case Form::Unsigned: return JC_PreparedStatement_setLong(s, s->stmt, a.idx, v.i);
    case Form::Double: return JC_PreparedStatement_setDouble(s, s->stmt, a.idx, v.d);
    case Form::Binary:
      return JC_PreparedStatement_setBytes(s, s->stmt, a.idx, v.bytes, static_cast<int32_t>(v.length));
    default: return KX_ERR_NOT_CAPABLE;
  }
}

int SetByteValue(JStmt* s, int32_t idx, int64_t x) {
  return JC_PreparedStatement_setByte(s, s->stmt, idx, static_cast<int>(x));
}
int SetShortValue(JStmt* s, int32_t idx, int64_t x) {
  return JC_PreparedStatement_setShort(s, s->stmt, idx, static_cast<int>(x));
}
int SetIntValue(JStmt* s, int32_t idx, int64_t x) {
  return JC_PreparedStatement_setInt(s, s->stmt, idx, static_cast<int32_t>(x));
}
int SetLongValue(JStmt* s, int32_t idx, int64_t x) { return JC_PreparedStatement_setLong(s, s->stmt, idx, x); }

// The integer types: their size as raw bytes, the range of a signed value
// (and the message logged past it), the largest unsigned value (-1: any), and
// the Java setter for each. An unsigned value goes through the next wider
// setter, so that its top bit is not a sign.
struct IntegerType {
  int32_t sqlType;
  size_t size;
  int64_t min;
  int64_t max;
  int64_t unsignedMax;
  const char* rangeMessage;
  int (*setSigned)(JStmt*, int32_t, int64_t);
  int (*setUnsigned)(JStmt*, int32_t, int64_t);
};

const IntegerType kIntegerTypes[] = {
    {SQL_INTEGER, 4, INT32_MIN, INT32_MAX, -1, "Integer value out of range [%.0f]", SetIntValue, SetLongValue},
    {SQL_SMALLINT, 2, INT16_MIN, INT16_MAX, UINT16_MAX, "Short value out of range [%.0f]", SetShortValue,
     SetIntValue},
    {SQL_TINYINT, 1, INT8_MIN, INT8_MAX, UINT8_MAX, "Byte value out of range [%.0f]", SetByteValue,
     SetShortValue},
};

int BindInteger(const BindArgs& a) {
  const Value& v = a.v;
  const IntegerType* type = nullptr;
  for (const IntegerType& t : kIntegerTypes) {
    if (t.sqlType == a.sqlType) type = &t;
  }
  if (type == nullptr) return KX_ERR_NOT_CAPABLE;
  int64_t x = 0;
  if (v.form == Form::Binary) {
    // Raw bytes are the integer in memory, cut to the type's size.
    unsigned char raw[4] = {0, 0, 0, 0};
    std::memcpy(raw, v.bytes, v.length < type->size ? v.length : type->size);
    x = type->size == 4 ? Load<int32_t>(raw) : type->size == 2 ? Load<int16_t>(raw) : static_cast<int8_t>(raw[0]);
  } else if (v.form == Form::DateTime) {
    return KX_ERR_NOT_CAPABLE;
  } else if (int st = ToInteger(v, a.text, a.n, &x); st != 0) {
    return st;
  }
  if (v.form == Form::Unsigned) {
    if (type->unsignedMax >= 0 && x > type->unsignedMax) return KX_ERR_NUMERIC_RANGE;
    return type->setUnsigned(a.s, a.idx, x);
  }
  if (x < type->min || x > type->max) return RangeError(type->rangeMessage, static_cast<double>(x));
  return type->setSigned(a.s, a.idx, x);
}

// Text must be the number 0 or 1 (blanks around it allowed); numbers are
// true when not zero; bytes when the first is not zero.
int BindBit(const BindArgs& a) {
  const Value& v = a.v;
  bool b = false;
  if (a.textForm) {
    int st = JDB_TextToBit(a.text, a.n, &b);
    if (st != 0) return st;
  } else if (v.form == Form::Signed || v.form == Form::Unsigned) {
    b = v.i != 0;
  } else if (v.form == Form::Double) {
    b = v.d != 0 || std::isnan(v.d);
  } else if (v.form == Form::Binary) {
    b = v.length > 0 && v.bytes[0] != 0;
  } else {
    return KX_ERR_NOT_CAPABLE;
  }
  return JC_PreparedStatement_setBoolean(a.s, a.s->stmt, a.idx, b ? 1 : 0);
}

// The largest finite float.
constexpr double kFloatMax = 3.4028234663852886e38;

int BindFloating(const BindArgs& a) {
  const Value& v = a.v;
  // ODBC's FLOAT is double precision (a smaller one is REAL).
  const bool isDouble = a.sqlType == SQL_DOUBLE || a.sqlType == SQL_FLOAT;
  double x = 0;
  if (a.textForm) {
    if (int st = JDB_TextToDouble(a.text, a.n, &x); st != 0) return st;
  } else if (v.form == Form::Signed || v.form == Form::Unsigned) {
    x = static_cast<double>(v.i);
  } else if (v.form == Form::Double) {
    x = v.d;
  } else if (v.form == Form::Binary) {
    // Raw bytes are the number in memory: a double for DOUBLE, else a float.
    if (isDouble) {
      unsigned char raw[8] = {};
      std::memcpy(raw, v.bytes, v.length < 8 ? v.length : 8);
      x = Load<double>(raw);
    } else {
      unsigned char raw[4] = {};
      std::memcpy(raw, v.bytes, v.length < 4 ? v.length : 4);
      x = Load<float>(raw);
    }
  } else {
    return KX_ERR_NOT_CAPABLE;
  }
  if (isDouble) return JC_PreparedStatement_setDouble(a.s, a.s->stmt, a.idx, x);
  if (x < -kFloatMax || x > kFloatMax) return RangeError("Float value out of range [%f]", x);
  return JC_PreparedStatement_setFloat(a.s, a.s->stmt, a.idx, static_cast<float>(x));
}

// Binary types: text as text, bytes as bytes, and a number's bytes in
// memory (an integer as 4 bytes, a double as 8); LONGVARBINARY as a stream.
int BindBinary(const BindArgs& a) {
  JStmt* s = a.s;
  const Value& v = a.v;
  const bool stream = a.sqlType == SQL_LONGVARBINARY;
  auto put = [&](const void* bytes, int32_t length) {
    return stream ? JC_PreparedStatement_setBinaryStream(s, s->stmt, a.idx, bytes, length)
                  : JC_PreparedStatement_setBytes(s, s->stmt, a.idx, bytes, length);
  };
  if (a.textForm) return SetText(s, a.idx, a.text, a.n, a.mode, stream);
  if (v.form == Form::Binary) return put(v.bytes, static_cast<int32_t>(v.length));
  if (v.form == Form::Signed || v.form == Form::Unsigned) {
    int32_t x = static_cast<int32_t>(v.i);
    return put(&x, 4);
  }
  if (v.form == Form::Double) return put(&v.d, 8);
  return KX_ERR_NOT_CAPABLE;
}

// Fraction digits the database's timestamps keep, learned once per
// connection: PostgreSQL keeps microseconds, and its driver rounds a finer
// fraction (which can carry into the next day or year) where it should cut;
// other databases get nanoseconds.
int32_t StampDigits(JConn* c) {
  if (c == nullptr) return 9;
  if (c->stampDigits == 0) {
    char name[64] = {};
    c->stampDigits = 9;
    if (c->meta != nullptr &&
        JC_DatabaseMetaData_getStringInfo(c, c->meta, "getDatabaseProductName", name, sizeof name) == 0 &&
        std::strcmp(name, "PostgreSQL") == 0) {
      c->stampDigits = 6;
    }
  }
  return c->stampDigits;
}

// Fraction digits the column a time or timestamp parameter goes into keeps,
// -1 when not known: SQLDescribeParam's answer where the application asked
// for it (the columns the statement names, described), else the JDBC
// driver's description of the parameter, asked once a prepare. PostgreSQL's
// driver describes no digits, and asking would cost it a round trip.
int32_t ColumnFractionDigits(JStmt* s, int p) {
  if (s->probed != 0 && s->params != nullptr && p < s->paramCount) {
    const int32_t t = static_cast<int16_t>(s->params[p].sqlType & 0xFFFF);
    if (IsTimeType(t) || IsStampType(t)) return s->params[p].decimalDigits;
  }
  if (!s->paramFractionAsked) {
    s->paramFractionAsked = true;
    if (s->stmt != nullptr && s->paramCount > 0 && JDB_ConnDialect(s->conn) != PSQL_DIALECT_POSTGRES) {
      try {
        s->paramFractionDigits.assign(s->paramCount, -1);
      } catch (const std::bad_alloc&) {
        return -1;  // not known: the value goes as it is
      }
      JC_ParameterMetaData_fractionDigits(s, s->stmt, s->paramFractionDigits.data(), s->paramCount);
    }
  }
  return p < static_cast<int>(s->paramFractionDigits.size()) ? s->paramFractionDigits[p] : -1;
}

// Dates, times and timestamps from a date-time value or its text; the
// parts the type needs must be there, except that a time structure for a
// timestamp takes today's date. A timestamp's or a time's fraction is cut
// (never rounded, which could move it into the next second, day or year) to
// the parameter's decimal digits and to what the column and the database keep.
int BindDateTime(const BindArgs& a) {
  JStmt* s = a.s;
  const Value& v = a.v;
  const int32_t sqlType = a.sqlType;
  JDateTime dt{};
  int parts = 0;
  if (v.form == Form::DateTime) {
    dt = v.dt;
    parts = v.dtParts;
  } else if (a.textForm) {
    if (!JDB_ParseDateTimeText(a.text, a.n, &dt, &parts)) return KX_ERR_BAD_DATETIME;
  } else {
    return KX_ERR_NOT_CAPABLE;
  }
  if (IsStampType(sqlType) && parts == JDB_DT_TIME && v.form == Form::DateTime) {
    JDB_TodayInto(&dt);
    parts |= JDB_DT_DATE;
  }
  const bool needDate = IsDateType(sqlType) || IsStampType(sqlType);
  if ((needDate && (parts & JDB_DT_DATE) == 0) || (IsTimeType(sqlType) && (parts & JDB_DT_TIME) == 0)) {
    return KX_ERR_BAD_DATETIME;
  }
  if (IsDateType(sqlType)) return JC_PreparedStatement_setDate(s, s->stmt, a.idx, &dt);
  const int p = a.idx - 1;
  if (dt.fraction != 0) {
    if (const int32_t kept = ColumnFractionDigits(s, p); kept >= 0) dt.fraction = JDB_CutFraction(dt.fraction, kept);
  }
  if (IsTimeType(sqlType)) {
    // A time's own digits, where the application gave them.
    if (s->paramInfos != nullptr && p < s->paramInfoCount && s->paramInfos[p].decimalDigits > 0) {
      dt.fraction = JDB_CutFraction(dt.fraction, s->paramInfos[p].decimalDigits);
    }
    return JC_PreparedStatement_setTime(s, s->stmt, a.idx, &dt);
  }
  if (s->paramInfos != nullptr && p < s->paramInfoCount) {
    // Digits the application gave: a fraction's own, or a column size of a
    // timestamp without one (19 characters, "yyyy-mm-dd hh:mm:ss"). Neither
    // given (0 and 0) leaves the fraction to the database.
    const SCS_PARAMDESC& d = s->paramInfos[p];
    if (d.decimalDigits > 0 || (d.columnSize > 0 && d.columnSize <= 19)) {
      dt.fraction = JDB_CutFraction(dt.fraction, d.decimalDigits);
    }
  }
  dt.fraction = JDB_CutFraction(dt.fraction, StampDigits(s->conn));
  return JC_PreparedStatement_setTimestamp(s, s->stmt, a.idx, &dt);
}

// Intervals: an interval literal or any interval text (a single-field
// interval also from an integer). PostgreSQL reads only its own forms, and a
// bare "-1 02:03" by its session's interval style: it gets the value with
// every unit and its sign spelled out, all of it, as its intervals keep any
// fields. Other databases (H2) get the SQL literal of the parameter's type,
// whose fields the value must fit (22015). Text that is no interval goes as
// it is, for the database to judge.
int BindInterval(const BindArgs& a) {
  const int code = a.sqlType - (SQL_INTERVAL_YEAR - SQL_IS_YEAR);
  const IntervalQualifier q = IntervalQualifierOf(code);
  char number[32];
  const char* text = a.text;
  size_t n = a.n;
  int32_t mode = a.mode;
  if (!a.textForm) {
    if ((a.v.form != Form::Signed && a.v.form != Form::Unsigned) || q.leading != q.trailing) {
      return KX_ERR_NOT_CAPABLE;
    }
    std::snprintf(number, sizeof number, a.v.form == Form::Signed ? "%" PRId64 : "%" PRIu64, a.v.i);
    text = number;
    n = std::strlen(number);
    mode = JC_MODE_PLATFORM;
  }
  IntervalParts v;
  const IntervalRead r = ReadIntervalText(text, n, q, &v);
  if (r == IntervalRead::Overflow) return KX_ERR_INTERVAL_OVERFLOW;
  if (r == IntervalRead::Invalid) return SetText(a.s, a.idx, text, n, mode, false);
  char out[INTERVAL_TEXT_MAX];
  size_t length = 0;
  if (JDB_ConnDialect(a.s->conn) == PSQL_DIALECT_POSTGRES) {
    length = IntervalPartsToUnitText(v, out, sizeof out);
  } else {
    constexpr int kAllDigits = 9;
    SQL_INTERVAL_STRUCT st;
    bool truncated = false;
    const int status = IntervalPartsToStruct(v, code, kAllDigits, &st, &truncated);
    if (status != 0 || truncated) return KX_ERR_INTERVAL_OVERFLOW;
    length = IntervalStructToLiteral(st, kAllDigits, out, sizeof out);
  }
  if (length == 0) return KX_ERR_INTERVAL_OVERFLOW;
  return SetText(a.s, a.idx, out, length, JC_MODE_PLATFORM, false);
}

struct TypeBinder {
  int32_t sqlType;
  Binder bind;
};

const TypeBinder kBinders[] = {
    {SQL_CHAR, BindAsText},          {SQL_VARCHAR, BindAsText},     {SQL_WCHAR, BindAsText},
    {SQL_WVARCHAR, BindAsText},      {SQL_BIGINT, BindAsText},      {SQL_LONGVARCHAR, BindAsText},
    {SQL_WLONGVARCHAR, BindAsText},  {SQL_GUID, BindGuid},          {SQL_NUMERIC, BindDecimal},
    {SQL_DECIMAL, BindDecimal},      {SQL_INTEGER, BindInteger},    {SQL_SMALLINT, BindInteger},
    {SQL_TINYINT, BindInteger},      {SQL_BIT, BindBit},            {SQL_FLOAT, BindFloating},
    {SQL_REAL, BindFloating},        {SQL_DOUBLE, BindFloating},    {SQL_LONGVARBINARY, BindBinary},
    {SQL_BINARY, BindBinary},        {SQL_VARBINARY, BindBinary},   {SQL_DATE, BindDateTime},
    {SQL_TYPE_DATE, BindDateTime},   {SQL_TIME, BindDateTime},      {SQL_TYPE_TIME, BindDateTime},
    {SQL_TIMESTAMP, BindDateTime},   {SQL_TYPE_TIMESTAMP, BindDateTime},
    {SQL_INTERVAL_YEAR, BindInterval},             {SQL_INTERVAL_MONTH, BindInterval},
    {SQL_INTERVAL_DAY, BindInterval},              {SQL_INTERVAL_HOUR, BindInterval},
    {SQL_INTERVAL_MINUTE, BindInterval},           {SQL_INTERVAL_SECOND, BindInterval},
    {SQL_INTERVAL_YEAR_TO_MONTH, BindInterval},    {SQL_INTERVAL_DAY_TO_HOUR, BindInterval},
    {SQL_INTERVAL_DAY_TO_MINUTE, BindInterval},    {SQL_INTERVAL_DAY_TO_SECOND, BindInterval},
    {SQL_INTERVAL_HOUR_TO_MINUTE, BindInterval},   {SQL_INTERVAL_HOUR_TO_SECOND, BindInterval},
    {SQL_INTERVAL_MINUTE_TO_SECOND, BindInterval},
};

int BindValue(JStmt* s, int32_t idx, int32_t sqlType, const Value& v) {
  // A date-time structure whose fields are out of range is no value: never
  // rolled over into another date.
  if (v.form == Form::DateTime) {
    if (int st = JDB_CheckDateTime(v.dt, v.dtParts); st != 0) return st;
  }
  // Wide text crosses as UTF-8; narrow text in the platform character set.
  char* utf8 = nullptr;
  const char* text = v.bytes;
  size_t n = v.length;
  int32_t mode = JC_MODE_PLATFORM;
  if (v.form == Form::Wide) {
    utf8 = Ucs2ToUtf8DupN(v.units, static_cast<int64_t>(v.length));
    if (utf8 == nullptr) return KX_ERR_NOMEM;
    text = utf8;
    n = std::strlen(utf8);
    mode = JC_MODE_UTF8;
  }
  const BindArgs args{s, idx, sqlType, v, text, n, mode, v.form == Form::Text || v.form == Form::Wide};
  int status = KX_ERR_NOT_CAPABLE;
  for (const TypeBinder& b : kBinders) {
    if (b.sqlType == sqlType) {
      status = b.bind(args);
      break;
    }
  }
  std::free(utf8);
  return status;
}

}  // namespace

int32_t JDB_ParamSqlType(const JStmt* s, int p) {
  if (s->paramInfos == nullptr || p >= s->paramInfoCount) return SQL_CHAR;
  return s->paramInfos[p].sqlType;
}

int32_t JDB_OutputJdbcType(const JStmt* s, int p) {
  if (p == 0 && s->returnJdbcType != 0) return s->returnJdbcType;
  if (p < static_cast<int>(s->outputJdbcTypes.size()) && s->outputJdbcTypes[p] != 0) return s->outputJdbcTypes[p];
  return JDB_JdbcTypeOf(JDB_ParamSqlType(s, p));
}

int16_t JDB_ParamDirection(const JStmt* s, int p) {
  if (s->paramInfos == nullptr || p >= s->paramInfoCount) return SQL_PARAM_INPUT;
  return s->paramInfos[p].direction;
}

int32_t JDB_JdbcTypeOf(int32_t t) {
  switch (t) {
    case SQL_DATE: return JT_DATE;
    case SQL_TIME: return JT_TIME;
    case SQL_TIMESTAMP: return JT_TIMESTAMP;
    // Wide text reaches Java as a String like any text: the plain character
    // types. JDBC's national ones are for a second character set, and
    // PostgreSQL's driver refuses them in setNull ("Unknown Types value.").
    case SQL_WCHAR: return JT_CHAR;
    case SQL_WVARCHAR: return JT_VARCHAR;
    case SQL_WLONGVARCHAR: return JT_LONGVARCHAR;
    // GUID as variable text: a NULL typed CHAR would not go into a UUID column.
    case SQL_GUID: return JT_VARCHAR;
    default:
      // Intervals cross as their text; JDBC has no code for them.
      if (t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND) return JT_VARCHAR;
      return t;  // the other codes are the same in both
  }
}

int JDB_TextToInt64(const char* text, size_t n, int64_t* out) {
  const char* p = text;
  Trim(&p, &n);
  if (n == 0 || n >= 64) return n == 0 ? KX_ERR_BAD_CAST_VALUE : KX_ERR_NUMERIC_RANGE;
  char buf[64];
  StrCopyBytes(buf, p, n);
  // Digits with an optional sign, optionally with a zero fraction ("12.00").
  const char* q = buf;
  if (*q == '+' || *q == '-') ++q;
  const char* digits = q;
  while (*q >= '0' && *q <= '9') ++q;
  if (q == digits) return KX_ERR_BAD_CAST_VALUE;
  const char* intEnd = q;
  bool fraction = false;
  if (*q == '.') {
    ++q;
    while (*q >= '0' && *q <= '9') fraction |= *q++ != '0';
  }
  if (*q != '\0') return KX_ERR_BAD_CAST_VALUE;
  std::string whole(buf, static_cast<size_t>(intEnd - buf));
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(whole.c_str(), &end, 10);
  if (errno == ERANGE) return KX_ERR_NUMERIC_RANGE;
  if (fraction) return KX_ERR_RIGHT_TRUNCATION;  // digits that would be lost
  *out = v;
  return 0;
}

int JDB_TextToBit(const char* text, size_t n, bool* out) {
  double x = 0;
  if (int st = JDB_TextToDouble(text, n, &x); st != 0) return st;
  if (x == 0 || x == 1) {
    *out = x == 1;
    return 0;
  }
  // Between 0 and 2 the fraction is what would be lost; beyond, the value.
  return x > 0 && x < 2 ? KX_ERR_RIGHT_TRUNCATION : KX_ERR_NUMERIC_RANGE;
}

int JDB_CheckDateTime(const JDateTime& t, int parts) {
  if ((parts & JDB_DT_DATE) != 0 &&
      (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysIn(t.year, t.month))) {
    return KX_ERR_BAD_DATETIME;
  }
  if ((parts & JDB_DT_TIME) != 0 && (t.hour > 23 || t.minute > 59 || t.second > 59)) {
    return KX_ERR_BAD_DATETIME;
  }
  if (t.fraction >= 1000000000u) return KX_ERR_DATE_OVERFLOW;
  return 0;
}

uint32_t JDB_CutFraction(uint32_t nanos, int32_t digits) {
  if (digits < 0 || digits >= 9) return nanos;
  uint32_t unit = 1;
  for (int32_t i = digits; i < 9; ++i) unit *= 10;
  return nanos - nanos % unit;
}

void JDB_TodayInto(JDateTime* dt) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  dt->year = static_cast<int16_t>(local.tm_year + 1900);
  dt->month = static_cast<uint16_t>(local.tm_mon + 1);
  dt->day = static_cast<uint16_t>(local.tm_mday);
}

int JDB_TextToDouble(const char* text, size_t n, double* out) {
  const char* p = text;
  Trim(&p, &n);
  if (n == 0 || n >= 400) return n == 0 ? KX_ERR_BAD_CAST_VALUE : KX_ERR_BAD_CAST_VALUE;
  char buf[400];
  StrCopyBytes(buf, p, n);
  // Plain decimal notation only: no hex, no "inf", no "nan".
  for (size_t i = 0; i < n; ++i) {
    char c = buf[i];
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
      return KX_ERR_BAD_CAST_VALUE;
  }
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(buf, &end);
  if (end == buf || *end != '\0') return KX_ERR_BAD_CAST_VALUE;
  if (errno == ERANGE && std::isinf(v)) return KX_ERR_NUMERIC_RANGE;
  *out = v;
  return 0;
}

bool JDB_ParseDateTimeText(const char* text, size_t n, JDateTime* dt, int* parts) {
  *dt = JDateTime{};
  *parts = 0;
  const char* p = text;
  Trim(&p, &n);
  const char* end = p + n;
  if (n == 0) return false;
  // Which form: a ':' before any '-' or '.' means a time alone.
  const char* firstSep = p;
  while (firstSep < end && *firstSep >= '0' && *firstSep <= '9') ++firstSep;
  if (firstSep < end && *firstSep == ':') {
    if (!ParseTime(p, end, dt) || p != end) return false;
    *parts = JDB_DT_TIME;
    return true;
  }
  int y, m, d;
  if (n >= 5 && p[4] == '-') {
    if (!Digits(p, end, 4, 4, &y) || p >= end || *p++ != '-' || !Digits(p, end, 1, 2, &m) ||
        p >= end || *p++ != '-' || !Digits(p, end, 1, 2, &d))
      return false;
  } else {
    if (!Digits(p, end, 1, 2, &d) || p >= end || *p++ != '.' || !Digits(p, end, 1, 2, &m) ||
        p >= end || *p++ != '.' || !Digits(p, end, 4, 4, &y))
      return false;
  }
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > DaysIn(y, m)) return false;
  dt->year = static_cast<int16_t>(y);
  dt->month = static_cast<uint16_t>(m);
  dt->day = static_cast<uint16_t>(d);
  *parts = JDB_DT_DATE;
  if (p == end) return true;
  if (*p != ' ' && *p != 'T') return false;
  while (p < end && (*p == ' ' || *p == 'T')) ++p;
  if (!ParseTime(p, end, dt) || p != end) return false;
  *parts |= JDB_DT_TIME;
  return true;
}

int JDB_BindParamRow(JStmt* s, int32_t row) {
  if (s->stmt == nullptr) return 0;
  JC_PreparedStatement_clearParameters(s, s->stmt);
  JC_ClearException(s->jni);
  RowBuffer* rows = s->paramRows;
  if (rows == nullptr) return 0;
  const int n = s->paramCount;
  if (rows->colCount < n || row < 0 || row >= rows->rowCount || rows->columns == nullptr) {
    LogAt(LOG_WARNING, __FILE__, __LINE__,
          "parameter block has %u columns and %d rows for %d parameters (row %d)",
          rows->colCount, rows->rowCount, n, row);
    JDB_MsgAddCode(&s->msgs, KX_ERR_WRONG_PARAM_COUNT);
    return KX_ERR_WRONG_PARAM_COUNT;
  }
  const bool call = (s->flags & JS_CALL) != 0;
  for (int p = 0; p < n; ++p) {
    const RowBufferColumn* col = &rows->columns[p];
    const int32_t sqlType = JDB_ParamSqlType(s, p);
    const int16_t direction = JDB_ParamDirection(s, p);
    const int32_t idx = p + 1;
    int status = 0;
    const bool outOnly = call && direction == SQL_PARAM_OUTPUT;
    if (outOnly) {
      // Nothing goes in: the parameter is only registered below.
    } else if (col->indicators[row] == RB_IND_NULL) {
      status = JC_PreparedStatement_setNull(s, s->stmt, idx, JDB_JdbcTypeOf(sqlType));
    } else {
      Value v;
      if (ReadElement(col, row, &v) != 0) {
        LogAt(LOG_WARNING, __FILE__, __LINE__, "unknown bind type [%d] in parameters",
              static_cast<int>(col->type));
        return KX_ERR_NOT_CAPABLE;
      }
      status = BindValue(s, idx, sqlType, v);
      if (status == KX_ERR_NOT_CAPABLE || status == KX_ERR_BAD_CAST_VALUE ||
          status == KX_ERR_NUMERIC_RANGE || status == KX_ERR_BAD_DATETIME ||
          status == KX_ERR_DATE_OVERFLOW || status == KX_ERR_RIGHT_TRUNCATION || status == KX_ERR_NOMEM) {
        JDB_MsgAddCode(&s->msgs, status);
      }
    }
    if (status == 0 && call &&
        (direction == SQL_PARAM_INPUT_OUTPUT || direction == SQL_PARAM_OUTPUT)) {
      SettleOutputType(s, p);
      status = JC_CallableStatement_registerOutParameter(s, s->stmt, idx, JDB_OutputJdbcType(s, p));
      if (status == 0) s->flags |= JS_OUT_REGISTERED;
    }
    if (status != 0) return status;
  }
  s->flags &= static_cast<uint16_t>(~JS_PARAMS_DUE);
  return 0;
}

}  // namespace kx
