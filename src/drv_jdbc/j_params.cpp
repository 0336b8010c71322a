#include "drv_jdbc/j_params.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/build_flavor.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_getters.h"
#include "util/log.h"
#include "util/row_buffer.h"
#include "util/text_conv.h"

namespace kx {

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

constexpr int kBadCast = 121;      // 22018
constexpr int kBadDateTime = 119;  // 22007
constexpr int kRange = 58;         // 22003

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

bool IsDateType(int32_t t) { return t == 9 || t == 91; }
bool IsTimeType(int32_t t) { return t == 10 || t == 92; }
bool IsStampType(int32_t t) { return t == 11 || t == 93; }

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
  return kRange;
}

// A number from the value for an integer type: text is parsed strictly.
int ToInteger(const Value& v, const char* text, size_t n, int64_t* out) {
  switch (v.form) {
    case Form::Signed:
    case Form::Unsigned: *out = v.i; return 0;
    case Form::Double:
      if (std::isnan(v.d) || v.d >= 9223372036854775807.0 || v.d < -9223372036854775807.0)
        return kRange;
      *out = static_cast<int64_t>(v.d);  // the fraction is dropped
      return 0;
    case Form::Text:
    case Form::Wide: return JDB_TextToInt64(text, n, out);
    default: return 43;
  }
}

int BindValue(JStmt* s, int32_t idx, int32_t sqlType, const Value& v) {
  // Wide text crosses as UTF-8; narrow text in the platform character set.
  char* utf8 = nullptr;
  const char* text = v.bytes;
  size_t n = v.length;
  int32_t mode = JC_MODE_PLATFORM;
  if (v.form == Form::Wide) {
    utf8 = Ucs2ToUtf8DupN(v.units, static_cast<int64_t>(v.length));
    if (utf8 == nullptr) return 16;
    text = utf8;
    n = std::strlen(utf8);
    mode = JC_MODE_UTF8;
  }
  const bool textForm = v.form == Form::Text || v.form == Form::Wide;
  char num[64];
  int status = 43;
  switch (sqlType) {
    case 1: case 12: case -8: case -9: case -5:
    case -1: case -10: {
      const bool stream = sqlType == -1 || sqlType == -10;
      if (textForm) {
        status = SetText(s, idx, text, n, mode, stream);
      } else if (v.form == Form::Signed) {
        std::snprintf(num, sizeof num, "%" PRId64, v.i);
        status = SetText(s, idx, num, std::strlen(num), JC_MODE_PLATFORM, stream);
      } else if (v.form == Form::Unsigned) {
        std::snprintf(num, sizeof num, "%" PRIu64, static_cast<uint64_t>(v.i));
        status = SetText(s, idx, num, std::strlen(num), JC_MODE_PLATFORM, stream);
      } else if (v.form == Form::Double) {
        std::snprintf(num, sizeof num, "%.16g", v.d);
        status = SetText(s, idx, num, std::strlen(num), JC_MODE_PLATFORM, stream);
      } else if (v.form == Form::Binary) {
        status = stream ? JC_PreparedStatement_setBinaryStream(s, s->stmt, idx, v.bytes,
                                                               static_cast<int32_t>(v.length))
                        : JC_PreparedStatement_setBytes(s, s->stmt, idx, v.bytes,
                                                        static_cast<int32_t>(v.length));
      } else if (v.form == Form::DateTime) {
        // A date-time value for a text parameter goes as its ODBC literal text.
        const JDateTime& t = v.dt;
        if (v.dtParts == JDB_DT_DATE) {
          std::snprintf(num, sizeof num, "%04d-%02u-%02u", t.year, t.month, t.day);
        } else if (v.dtParts == JDB_DT_TIME) {
          std::snprintf(num, sizeof num, "%02u:%02u:%02u", t.hour, t.minute, t.second);
        } else {
          std::snprintf(num, sizeof num, "%04d-%02u-%02u %02u:%02u:%02u.%09u", t.year, t.month,
                        t.day, t.hour, t.minute, t.second, t.fraction);
        }
        status = SetText(s, idx, num, std::strlen(num), JC_MODE_PLATFORM, stream);
      }
      break;
    }
    case -11:
      // A GUID travels as its 36-character text (the core turns SQL_C_GUID
      // values into that form); numbers and raw bytes are not GUIDs.
      if (textForm) status = SetText(s, idx, text, n, mode, false);
      break;
    case 2: case 3:
      if (textForm) {
        status = JC_PreparedStatement_setBigDecimal(s, s->stmt, idx, text,
                                                    static_cast<int32_t>(n), mode);
      } else if (v.form == Form::Signed) {
        status = JC_PreparedStatement_setInt(s, s->stmt, idx, static_cast<int32_t>(v.i));
      } else if (v.form == Form::Unsigned) {
        status = JC_PreparedStatement_setLong(s, s->stmt, idx, v.i);
      } else if (v.form == Form::Double) {
        status = JC_PreparedStatement_setDouble(s, s->stmt, idx, v.d);
      } else if (v.form == Form::Binary) {
        status = JC_PreparedStatement_setBytes(s, s->stmt, idx, v.bytes,
                                               static_cast<int32_t>(v.length));
      }
      break;
    case 4: case 5: case -6: {
      int64_t x = 0;
      if (v.form == Form::Binary) {
        size_t size = sqlType == 4 ? 4 : sqlType == 5 ? 2 : 1;
        unsigned char raw[4] = {0, 0, 0, 0};
        std::memcpy(raw, v.bytes, v.length < size ? v.length : size);
        x = size == 4 ? Load<int32_t>(raw) : size == 2 ? Load<int16_t>(raw) : static_cast<int8_t>(raw[0]);
      } else if (v.form == Form::DateTime) {
        break;
      } else if (int st = ToInteger(v, text, n, &x); st != 0) {
        status = st;
        break;
      }
      if (sqlType == 4) {
        if (v.form == Form::Unsigned) {
          status = JC_PreparedStatement_setLong(s, s->stmt, idx, x);
        } else if (x < INT32_MIN || x > INT32_MAX) {
          status = RangeError("Integer value out of range [%.0f]", static_cast<double>(x));
        } else {
          status = JC_PreparedStatement_setInt(s, s->stmt, idx, static_cast<int32_t>(x));
        }
      } else if (sqlType == 5) {
        if (v.form == Form::Unsigned) {
          status = x > 65535 ? kRange : JC_PreparedStatement_setInt(s, s->stmt, idx, static_cast<int32_t>(x));
        } else if (x < -32768 || x > 32767) {
          status = RangeError("Short value out of range [%.0f]", static_cast<double>(x));
        } else {
          status = JC_PreparedStatement_setShort(s, s->stmt, idx, static_cast<int>(x));
        }
      } else {
        if (v.form == Form::Unsigned) {
          status = x > 255 ? kRange : JC_PreparedStatement_setShort(s, s->stmt, idx, static_cast<int>(x));
        } else if (x < -128 || x > 127) {
          status = RangeError("Byte value out of range [%.0f]", static_cast<double>(x));
        } else {
          status = JC_PreparedStatement_setByte(s, s->stmt, idx, static_cast<int>(x));
        }
      }
      break;
    }
    case -7: {
      bool b = false;
      if (v.form == Form::Text) b = n > 0 && (text[0] == 'T' || text[0] == 't' || text[0] == '1');
      else if (v.form == Form::Wide) b = n > 0 && (text[0] == 'T' || text[0] == 't' || text[0] == '1');
      else if (v.form == Form::Signed || v.form == Form::Unsigned) b = v.i != 0;
      else if (v.form == Form::Double) b = v.d != 0 || std::isnan(v.d);
      else if (v.form == Form::Binary) b = v.length > 0 && v.bytes[0] != 0;
      else break;
      status = JC_PreparedStatement_setBoolean(s, s->stmt, idx, b ? 1 : 0);
      break;
    }
    case 6: case 7: case 8: {
      double x = 0;
      if (textForm) {
        if (int st = JDB_TextToDouble(text, n, &x); st != 0) {
          status = st;
          break;
        }
      } else if (v.form == Form::Signed || v.form == Form::Unsigned) {
        x = static_cast<double>(v.i);
      } else if (v.form == Form::Double) {
        x = v.d;
      } else if (v.form == Form::Binary) {
        if (sqlType == 8) {
          unsigned char raw[8] = {};
          std::memcpy(raw, v.bytes, v.length < 8 ? v.length : 8);
          x = Load<double>(raw);
        } else {
          unsigned char raw[4] = {};
          std::memcpy(raw, v.bytes, v.length < 4 ? v.length : 4);
          x = Load<float>(raw);
        }
      } else {
        break;
      }
      if (sqlType == 8) {
        status = JC_PreparedStatement_setDouble(s, s->stmt, idx, x);
      } else if (x < -3.4028234663852886e38 || x > 3.4028234663852886e38) {
        status = RangeError("Float value out of range [%f]", x);
      } else {
        status = JC_PreparedStatement_setFloat(s, s->stmt, idx, static_cast<float>(x));
      }
      break;
    }
    case -4:
      if (textForm) {
        status = SetText(s, idx, text, n, mode, true);
      } else if (v.form == Form::Binary) {
        status = JC_PreparedStatement_setBinaryStream(s, s->stmt, idx, v.bytes,
                                                      static_cast<int32_t>(v.length));
      } else if (v.form == Form::Signed || v.form == Form::Unsigned) {
        int32_t x = static_cast<int32_t>(v.i);
        status = JC_PreparedStatement_setBinaryStream(s, s->stmt, idx, &x, 4);
      } else if (v.form == Form::Double) {
        status = JC_PreparedStatement_setBinaryStream(s, s->stmt, idx, &v.d, 8);
      }
      break;
    case -2: case -3:
      if (textForm) {
        status = SetText(s, idx, text, n, mode, false);
      } else if (v.form == Form::Binary) {
        status = JC_PreparedStatement_setBytes(s, s->stmt, idx, v.bytes,
                                               static_cast<int32_t>(v.length));
      } else if (v.form == Form::Signed || v.form == Form::Unsigned) {
        int32_t x = static_cast<int32_t>(v.i);
        status = JC_PreparedStatement_setBytes(s, s->stmt, idx, &x, 4);
      } else if (v.form == Form::Double) {
        status = JC_PreparedStatement_setBytes(s, s->stmt, idx, &v.d, 8);
      }
      break;
    case 9: case 91: case 10: case 92: case 11: case 93: {
      JDateTime dt{};
      int parts = 0;
      if (v.form == Form::DateTime) {
        dt = v.dt;
        parts = v.dtParts;
      } else if (textForm) {
        if (!JDB_ParseDateTimeText(text, n, &dt, &parts)) {
          status = kBadDateTime;
          break;
        }
      } else {
        break;
      }
      const bool needDate = IsDateType(sqlType) || IsStampType(sqlType);
      if ((needDate && (parts & JDB_DT_DATE) == 0) ||
          (IsTimeType(sqlType) && (parts & JDB_DT_TIME) == 0)) {
        status = kBadDateTime;
        break;
      }
      if (IsDateType(sqlType)) status = JC_PreparedStatement_setDate(s, s->stmt, idx, &dt);
      else if (IsTimeType(sqlType)) status = JC_PreparedStatement_setTime(s, s->stmt, idx, &dt);
      else status = JC_PreparedStatement_setTimestamp(s, s->stmt, idx, &dt);
      break;
    }
    default:
      break;
  }
  std::free(utf8);
  return status;
}

}  // namespace

int32_t JDB_ParamSqlType(const JStmt* s, int p) {
  if (s->paramInfos == nullptr || p >= s->paramInfoCount) return 1;
  return s->paramInfos[p].sqlType;
}

int16_t JDB_ParamDirection(const JStmt* s, int p) {
  if (s->paramInfos == nullptr || p >= s->paramInfoCount) return 1;
  return s->paramInfos[p].direction;
}

int32_t JDB_JdbcTypeOf(int32_t t) {
  switch (t) {
    case 9: return 91;
    case 10: return 92;
    case 11: return 93;
    // Wide text reaches Java as a String like any text: the plain character
    // types. JDBC's national ones are for a second character set, and
    // PostgreSQL's driver refuses them in setNull ("Unknown Types value.").
    case -8: return 1;
    case -9: return 12;
    case -10: return -1;
    // GUID as variable text: a NULL typed CHAR would not go into a UUID column.
    case -11: return 12;
    default: return t;
  }
}

int JDB_TextToInt64(const char* text, size_t n, int64_t* out) {
  const char* p = text;
  Trim(&p, &n);
  if (n == 0 || n >= 64) return n == 0 ? kBadCast : kRange;
  char buf[64];
  std::memcpy(buf, p, n);
  buf[n] = '\0';
  // Digits with an optional sign, optionally with a zero fraction ("12.00").
  const char* q = buf;
  if (*q == '+' || *q == '-') ++q;
  const char* digits = q;
  while (*q >= '0' && *q <= '9') ++q;
  if (q == digits) return kBadCast;
  const char* intEnd = q;
  if (*q == '.') {
    ++q;
    while (*q >= '0' && *q <= '9') ++q;
  }
  if (*q != '\0') return kBadCast;
  std::string whole(buf, static_cast<size_t>(intEnd - buf));
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(whole.c_str(), &end, 10);
  if (errno == ERANGE) return kRange;
  *out = v;
  return 0;
}

int JDB_TextToDouble(const char* text, size_t n, double* out) {
  const char* p = text;
  Trim(&p, &n);
  if (n == 0 || n >= 400) return n == 0 ? kBadCast : kBadCast;
  char buf[400];
  std::memcpy(buf, p, n);
  buf[n] = '\0';
  // Plain decimal notation only: no hex, no "inf", no "nan".
  for (size_t i = 0; i < n; ++i) {
    char c = buf[i];
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
      return kBadCast;
  }
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(buf, &end);
  if (end == buf || *end != '\0') return kBadCast;
  if (errno == ERANGE && std::isinf(v)) return kRange;
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
    JDB_MsgAddCode(&s->msgs, 48);
    return 48;
  }
  const bool call = (s->flags & JS_CALL) != 0;
  for (int p = 0; p < n; ++p) {
    const RowBufferColumn* col = &rows->columns[p];
    const int32_t sqlType = JDB_ParamSqlType(s, p);
    const int16_t direction = JDB_ParamDirection(s, p);
    const int32_t idx = p + 1;
    int status = 0;
    const bool outOnly = call && direction == 4;
    if (outOnly) {
      // Nothing goes in: the parameter is only registered below.
    } else if (col->indicators[row] == RB_IND_NULL) {
      status = JC_PreparedStatement_setNull(s, s->stmt, idx, JDB_JdbcTypeOf(sqlType));
    } else {
      Value v;
      if (ReadElement(col, row, &v) != 0) {
        LogAt(LOG_WARNING, __FILE__, __LINE__, "unknown bind type [%d] in parameters",
              static_cast<int>(col->type));
        return 43;
      }
      status = BindValue(s, idx, sqlType, v);
      if (status == 43 || status == kBadCast || status == kRange || status == kBadDateTime ||
          status == 16) {
        JDB_MsgAddCode(&s->msgs, status);
      }
    }
    if (status == 0 && call && (direction == 2 || direction == 4)) {
      status = JC_CallableStatement_registerOutParameter(s, s->stmt, idx, JDB_JdbcTypeOf(sqlType));
      if (status == 0) s->flags |= JS_OUT_REGISTERED;
    }
    if (status != 0) return status;
  }
  s->flags &= static_cast<uint16_t>(~JS_PARAMS_DUE);
  return 0;
}

}  // namespace kx
