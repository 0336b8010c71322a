#include "odbc/exec/app_values.h"

#include <sqlucode.h>

#include <charconv>
#include <cstring>

#include "odbc/ctypes.h"
#include "util/row_buffer.h"
#include "util/interval_text.h"
#include "util/str_util.h"

namespace kx {

uint32_t CTypeToRowBufferType(int32_t cType, uint32_t* width) {
  uint32_t type = RBT_CHAR;
  uint32_t w = 0;
  switch (cType) {
    case SQL_C_NUMERIC:
    case SQL_C_DOUBLE: type = RBT_DOUBLE; w = 8; break;
    case SQL_C_LONG:
    case SQL_C_SLONG: type = RBT_SLONG; w = 4; break;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: type = RBT_SSHORT; w = 2; break;
    case SQL_C_FLOAT: type = RBT_FLOAT; w = 4; break;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: type = RBT_DATE; w = 6; break;
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: type = RBT_TIME; w = 6; break;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: type = RBT_TIMESTAMP; w = 16; break;
    case SQL_C_UTINYINT: type = RBT_UTINYINT; w = 1; break;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: type = RBT_CHAR; w = 32; break;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: type = RBT_STINYINT; w = 1; break;
    case SQL_C_ULONG: type = RBT_ULONG; w = 4; break;
    case SQL_C_USHORT: type = RBT_USHORT; w = 2; break;
    case SQL_C_GUID: type = RBT_CHAR; w = 36; break;
    case SQL_C_WCHAR: type = RBT_WCHAR; break;
    case SQL_C_BIT: type = RBT_BIT; w = 1; break;
    case SQL_C_BINARY: type = RBT_BINARY; break;
    default:
      // Intervals cross as their literal text.
      if (cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND) w = INTERVAL_TEXT_MAX;
      type = RBT_CHAR;
      break;
  }
  if (width != nullptr) *width = w;
  return type;
}

int64_t ExecParamElemSize(const ParamBinding* b) {
  switch (b->cType) {
    case SQL_C_CHAR:
    case SQL_C_BINARY:
      return b->bufferLength != 0 ? b->bufferLength : static_cast<int64_t>(b->columnSize);
    case SQL_C_WCHAR:
      return b->bufferLength != 0 ? b->bufferLength : 2 * static_cast<int64_t>(b->columnSize);
    default: {
      // A fixed-size C type steps by its own size whatever buffer length the
      // application passed.
      const int16_t size = CTypeSize(b->cType);
      return size > 0 ? size : b->elementSize;
    }
  }
}

int64_t ParamBindOffset(const StmtRecord* stmt) {
  const DescRecord* apd = stmt->currentApd;
  return apd != nullptr && apd->bindOffsetPtr != nullptr ? *apd->bindOffsetPtr : 0;
}

int32_t ParamBindType(const StmtRecord* stmt) {
  return stmt->currentApd != nullptr ? stmt->currentApd->bindType : 0;
}

namespace {

template <class T>
T* At(T* base, int64_t bytes) {
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(base) + static_cast<uintptr_t>(bytes));
}

int64_t ReadCell(const int64_t* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

void ExecParamRowCells(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                       int64_t* length, int64_t* indicator) {
  const int64_t offset = ParamBindOffset(stmt);
  const int32_t bindType = ParamBindType(stmt);
  const int64_t step = bindType != 0 ? static_cast<int64_t>(row) * bindType
                                     : static_cast<int64_t>(row) * 8;
  if (length != nullptr) {
    *length = b->octetLength != nullptr ? ReadCell(At(b->octetLength, offset + step)) : b->elementSize;
  }
  if (indicator != nullptr) {
    *indicator = b->indicator != nullptr ? ReadCell(At(b->indicator, offset + step)) : 0;
  }
}

const unsigned char* ExecParamRowValue(const StmtRecord* stmt, const ParamBinding* b,
                                       uint64_t row, int64_t stride) {
  if (b->value == nullptr) return nullptr;
  const int32_t bindType = ParamBindType(stmt);
  const int64_t step = bindType != 0 ? static_cast<int64_t>(row) * bindType
                                     : static_cast<int64_t>(row) * stride;
  return At(static_cast<const unsigned char*>(b->value), ParamBindOffset(stmt) + step);
}

namespace {

// Bytes of NUL-terminated text: 16-bit units x 2 for wide text.
int64_t NtsBytes(const void* value, int16_t cType) {
  if (cType == SQL_C_WCHAR) {
    const auto* p = static_cast<const unsigned char*>(value);
    int64_t units = 0;
    for (;;) {
      uint16_t u;
      std::memcpy(&u, p + 2 * units, 2);
      if (u == 0) break;
      ++units;
    }
    return 2 * units;
  }
  return static_cast<int64_t>(std::strlen(static_cast<const char*>(value)));
}

int64_t ValueLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t row, int64_t stride,
                 bool collected) {
  int64_t length = 0;
  int64_t indicator = 0;
  ExecParamRowCells(stmt, b, row, &length, &indicator);
  if (indicator == SQL_NULL_DATA) return 0;
  const void* value = nullptr;
  if (IsDataAtExec(length)) {
    if (!collected) return 0;
    if (b->daeValues == nullptr || row >= b->daeCount) return 0;
    value = b->daeValues[row];
    const int64_t got = b->daeLengths != nullptr ? b->daeLengths[row] : 0;
    return value != nullptr && got > 0 ? got : 0;
  }
  value = ExecParamRowValue(stmt, b, row, stride);
  if (value == nullptr) return 0;
  if (length == SQL_NTS) return NtsBytes(value, b->cType);
  if (length < 0) return -1;
  return length;
}

int64_t MaxLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t rows, int64_t stride,
               bool collected) {
  int64_t longest = 0;
  for (uint64_t r = 0; r < rows; ++r) {
    const int64_t n = ValueLen(stmt, b, r, stride, collected);
    if (n > longest) longest = n;
  }
  return longest;
}

}  // namespace

int64_t ExecParamValueLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                          int64_t stride) {
  return ValueLen(stmt, b, row, stride, true);
}

int64_t ExecAgentValueLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t row,
                          int64_t stride) {
  return ValueLen(stmt, b, row, stride, false);
}

int64_t ExecParamMaxLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t rows,
                        int64_t stride) {
  return MaxLen(stmt, b, rows, stride, true);
}

int64_t ExecAgentMaxLen(const StmtRecord* stmt, const ParamBinding* b, uint64_t rows,
                        int64_t stride) {
  return MaxLen(stmt, b, rows, stride, false);
}

// ---- date, time and timestamp escapes -----------------------------------------------

namespace {

// strtok's walk without its hidden state: skips leading delimiters, returns
// the token and moves the cursor past the delimiter that ends it.
bool NextToken(const char*& cursor, const char* delims, const char** start, size_t* len) {
  const char* p = cursor;
  while (*p != '\0' && std::strchr(delims, *p) != nullptr) ++p;
  if (*p == '\0') {
    cursor = p;
    return false;
  }
  const char* s = p;
  while (*p != '\0' && std::strchr(delims, *p) == nullptr) ++p;
  *start = s;
  *len = static_cast<size_t>(p - s);
  cursor = *p != '\0' ? p + 1 : p;
  return true;
}

// atoi of a token: optional sign, leading digits; anything else ends it.
int TokenInt(const char* s, size_t len) {
  size_t i = 0;
  while (i < len && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < len && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < len && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v < 100000000) v = v * 10 + (s[i] - '0');
  }
  return static_cast<int>(negative ? -v : v);
}

// Digits after the point as nanoseconds: at most nine digits count, the
// rest is cut.
uint32_t FractionNanos(const char* s, size_t len) {
  uint32_t v = 0;
  int digits = 0;
  for (size_t i = 0; i < len && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (digits < 9) {
      v = v * 10 + static_cast<uint32_t>(s[i] - '0');
      ++digits;
    }
  }
  for (; digits < 9; ++digits) v *= 10;
  return v;
}

bool IsDateTimeEscapeType(int16_t sqlType) {
  switch (sqlType) {
    case 0:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      return true;
    default:
      return false;
  }
}

}  // namespace

uint32_t ParseDateTimeEscape(const char* text, size_t length, int16_t sqlType,
                             SQL_TIMESTAMP_STRUCT* out) {
  if (text == nullptr || length < 2 || text[0] != '{' || !IsDateTimeEscapeType(sqlType)) return 0;
  char copy[50];
  const size_t n = length - 1 < 49 ? length - 1 : 49;
  StrCopyBytes(copy, text + 1, n);
  int16_t kind;  // SQL_DATE, SQL_TIME or SQL_TIMESTAMP: what the escape holds
  const char* cursor;
  if (std::strncmp(copy, "d ", 2) == 0) {
    kind = SQL_DATE;
    cursor = copy + 3 <= copy + n ? copy + 3 : copy + n;
  } else if (std::strncmp(copy, "t ", 2) == 0) {
    kind = SQL_TIME;
    cursor = copy + 3 <= copy + n ? copy + 3 : copy + n;
  } else if (std::strncmp(copy, "ts ", 3) == 0) {
    kind = SQL_TIMESTAMP;
    cursor = copy + 4 <= copy + n ? copy + 4 : copy + n;
  } else {
    return 0;
  }
  SQL_TIMESTAMP_STRUCT v{};
  const char* s = nullptr;
  size_t len = 0;
  if (kind != SQL_TIME) {
    if (NextToken(cursor, "-/", &s, &len)) v.year = static_cast<SQLSMALLINT>(TokenInt(s, len));
    if (NextToken(cursor, "-/", &s, &len)) v.month = static_cast<SQLUSMALLINT>(TokenInt(s, len));
    if (NextToken(cursor, "-/ ", &s, &len)) v.day = static_cast<SQLUSMALLINT>(TokenInt(s, len));
  }
  if (kind != SQL_DATE) {
    if (NextToken(cursor, ":", &s, &len)) v.hour = static_cast<SQLUSMALLINT>(TokenInt(s, len));
    if (NextToken(cursor, ":", &s, &len)) v.minute = static_cast<SQLUSMALLINT>(TokenInt(s, len));
    if (NextToken(cursor, ":.", &s, &len)) v.second = static_cast<SQLUSMALLINT>(TokenInt(s, len));
    if (kind == SQL_TIMESTAMP && NextToken(cursor, ":.", &s, &len)) v.fraction = FractionNanos(s, len);
  }
  int16_t target = sqlType;
  if (target == 0) target = kind;
  *out = SQL_TIMESTAMP_STRUCT{};
  switch (target) {
    case SQL_DATE:
    case SQL_TYPE_DATE:
      out->year = v.year;
      out->month = v.month;
      out->day = v.day;
      return RBT_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME:
      out->hour = v.hour;
      out->minute = v.minute;
      out->second = v.second;
      return RBT_TIME;
    default:
      *out = v;
      return RBT_TIMESTAMP;
  }
}

uint32_t WParseDateTimeEscape(const char16_t* text, size_t lengthBytes, int16_t sqlType,
                              SQL_TIMESTAMP_STRUCT* out) {
  // Only the first 50 characters can matter; an escape is plain ASCII, so
  // any other unit simply ends the parse.
  char narrow[51];
  size_t units = lengthBytes / 2;
  if (units > 50) units = 50;
  size_t n = 0;
  for (; n < units; ++n) {
    char16_t u;
    std::memcpy(&u, reinterpret_cast<const unsigned char*>(text) + 2 * n, 2);
    if (u == 0 || u > 0x7E) break;
    narrow[n] = static_cast<char>(u);
  }
  narrow[n] = '\0';
  return ParseDateTimeEscape(narrow, n, sqlType, out);
}

void StoreDateTime(unsigned char* element, uint32_t type, const SQL_TIMESTAMP_STRUCT& v) {
  if (type == RBT_DATE) {
    SQL_DATE_STRUCT d{v.year, v.month, v.day};
    std::memcpy(element, &d, sizeof d);
  } else if (type == RBT_TIME) {
    SQL_TIME_STRUCT t{v.hour, v.minute, v.second};
    std::memcpy(element, &t, sizeof t);
  } else {
    std::memcpy(element, &v, sizeof v);
  }
}

namespace {

void StoreEscapeOrCopy(unsigned char* element, size_t capacity, const void* text, int64_t length,
                       RowBufferColumn* column, uint32_t type, const SQL_TIMESTAMP_STRUCT& v) {
  const size_t need = type == RBT_TIMESTAMP ? 16 : 6;
  if (type != 0 && capacity >= need) {
    StoreDateTime(element, type, v);
    if (column != nullptr) {
      column->type = type;
      column->width = static_cast<uint32_t>(need);
    }
    return;
  }
  size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  if (n > capacity) n = capacity;
  if (n > 0) std::memcpy(element, text, n);
}

}  // namespace

void EscapeToDateTime(unsigned char* element, size_t capacity, const char* text, int64_t length,
                      RowBufferColumn* column, int16_t sqlType) {
  SQL_TIMESTAMP_STRUCT v{};
  const uint32_t type =
      length > 0 ? ParseDateTimeEscape(text, static_cast<size_t>(length), sqlType, &v) : 0;
  StoreEscapeOrCopy(element, capacity, text, length, column, type, v);
}

void WEscapeToDateTime(unsigned char* element, size_t capacity, const char16_t* text,
                       int64_t lengthBytes, RowBufferColumn* column, int16_t sqlType) {
  SQL_TIMESTAMP_STRUCT v{};
  const uint32_t type =
      lengthBytes > 0 ? WParseDateTimeEscape(text, static_cast<size_t>(lengthBytes), sqlType, &v) : 0;
  StoreEscapeOrCopy(element, capacity, text, lengthBytes, column, type, v);
}

bool EscapeLiteral(const char* text, size_t length, size_t* start, size_t* count) {
  if (text == nullptr || length < 2 || text[0] != '{') return false;
  const void* q = std::memchr(text, '\'', length);
  if (q == nullptr) return false;
  const size_t open = static_cast<size_t>(static_cast<const char*>(q) - text) + 1;
  const void* e = std::memchr(text + open, '\'', length - open);
  if (e == nullptr) return false;
  *start = open;
  *count = static_cast<size_t>(static_cast<const char*>(e) - (text + open));
  return true;
}

// ---- numbers and GUIDs ---------------------------------------------------------------

size_t NumericToDecimalText(const SQL_NUMERIC_STRUCT* n, char* out) {
  unsigned __int128 magnitude = 0;
  for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) magnitude = (magnitude << 8) | n->val[i];
  char digits[40];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  const bool zero = count == 1 && digits[0] == '0';
  size_t len = 0;
  if (n->sign == 0 && !zero) out[len++] = '-';
  const int scale = static_cast<SQLSCHAR>(n->scale);
  if (scale <= 0) {
    for (size_t i = count; i > 0; --i) out[len++] = digits[i - 1];
    if (!zero) {
      for (int i = 0; i < -scale; ++i) out[len++] = '0';
    }
    return len;
  }
  const size_t s = static_cast<size_t>(scale);
  if (count <= s) {
    out[len++] = '0';
    out[len++] = '.';
    for (size_t i = count; i < s; ++i) out[len++] = '0';
    for (size_t i = count; i > 0; --i) out[len++] = digits[i - 1];
  } else {
    for (size_t i = count; i > s; --i) out[len++] = digits[i - 1];
    out[len++] = '.';
    for (size_t i = s; i > 0; --i) out[len++] = digits[i - 1];
  }
  return len;
}

namespace {

void Hex(char* out, uint64_t v, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = kHex[v & 0xF];
    v >>= 4;
  }
}

}  // namespace

void GuidToChar(unsigned char* element, const SQLGUID* guid) {
  char text[36];
  Hex(text, guid->Data1, 8);
  text[8] = '-';
  Hex(text + 9, guid->Data2, 4);
  text[13] = '-';
  Hex(text + 14, guid->Data3, 4);
  text[18] = '-';
  Hex(text + 19, guid->Data4[0], 2);
  Hex(text + 21, guid->Data4[1], 2);
  text[23] = '-';
  for (int i = 0; i < 6; ++i) Hex(text + 24 + 2 * i, guid->Data4[2 + i], 2);
  std::memcpy(element, text, 36);
}

size_t Int64ToText(int64_t v, char* out, size_t capacity) {
  const auto r = std::to_chars(out, out + capacity, v);
  return r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
}

size_t UInt64ToText(uint64_t v, char* out, size_t capacity) {
  const auto r = std::to_chars(out, out + capacity, v);
  return r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
}

}  // namespace kx
