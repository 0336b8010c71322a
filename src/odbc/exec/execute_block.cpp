#include "odbc/exec/execute_block.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/exec/app_values.h"
#include "odbc/exec/convert_interval.h"
#include "odbc/exec/execute.h"
#include "odbc/exec/param_dae.h"
#include "util/errcodes.h"
#include "util/interval_text.h"

namespace kx {

namespace {

// How a column's elements are filled.
enum class Mode {
  Fixed,       // the C value's bytes
  Text,        // 8-bit text
  WText,       // 16-bit text
  DateTime,    // every value an escape: date, time or timestamp structure
  Binary,      // u32 length, then the bytes
  HexBinary,   // hexadecimal text decoded to bytes
  Numeric,     // SQL_NUMERIC_STRUCT as exact decimal text
  Guid,        // SQLGUID as its 36 characters
  SBig,        // 64-bit integers as decimal text
  UBig,
  Interval,    // SQL_INTERVAL_STRUCT as its literal, or a single field's number
  NullOnly,    // an output-only binding: its input is always NULL
};


struct Plan {
  uint16_t index;
  const ParamBinding* b;
  int64_t stride;
  Mode mode;
  uint32_t type;
  uint64_t width;
  bool hexPlain;      // HexBinary stored as RBT_BINARY (one row): no length prefix
};

// One row's value as the block sees it.
struct RowValue {
  enum Kind { Value, Null, Empty, AtExec, Bad, Default } kind;
  const unsigned char* data;
  int64_t length;
};

bool IsVariable(int16_t cType) {
  return cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
}

int64_t NtsBytes(const unsigned char* value, int16_t cType) {
  if (cType == SQL_C_WCHAR) {
    int64_t units = 0;
    for (;;) {
      uint16_t u;
      std::memcpy(&u, value + 2 * units, 2);
      if (u == 0) return 2 * units;
      ++units;
    }
  }
  return static_cast<int64_t>(std::strlen(reinterpret_cast<const char*>(value)));
}

RowValue ReadRow(const StmtRecord* stmt, const Plan& p, uint64_t row, bool collected) {
  const ParamBinding* b = p.b;
  int64_t length = 0;
  int64_t indicator = 0;
  ExecParamRowCells(stmt, b, row, &length, &indicator);
  if (indicator == SQL_NULL_DATA) return {RowValue::Null, nullptr, 0};
  // A default value exists for the arguments of procedure calls the database
  // fills in itself; a driver that passes every marker on has none to use.
  if (indicator == SQL_DEFAULT_PARAM || length == SQL_DEFAULT_PARAM) return {RowValue::Default, nullptr, 0};
  if (IsDataAtExec(length)) {
    if (!collected) return {RowValue::AtExec, nullptr, 0};
    const void* v = b->daeValues != nullptr && row < b->daeCount ? b->daeValues[row] : nullptr;
    const int64_t got = b->daeLengths != nullptr && row < b->daeCount ? b->daeLengths[row] : 0;
    if (got == DAE_PUT_NULL) return {RowValue::Null, nullptr, 0};
    if (v == nullptr) {
      // Nothing was put: SQL_DATA_AT_EXEC sends an empty value, a length
      // announced with SQL_LEN_DATA_AT_EXEC(n) a NULL.
      return length == SQL_DATA_AT_EXEC || length == SQL_LEN_DATA_AT_EXEC_OFFSET
                 ? RowValue{RowValue::Empty, nullptr, 0}
                 : RowValue{RowValue::Null, nullptr, 0};
    }
    return {RowValue::Value, static_cast<const unsigned char*>(v), got > 0 ? got : 0};
  }
  const unsigned char* v = ExecParamRowValue(stmt, b, row, p.stride);
  if (v == nullptr) return {RowValue::Null, nullptr, 0};
  if (!IsVariable(b->cType)) return {RowValue::Value, v, CTypeSize(b->cType)};
  if (length == SQL_NTS) return {RowValue::Value, v, NtsBytes(v, b->cType)};
  if (length < 0) return {RowValue::Bad, nullptr, 0};
  return {RowValue::Value, v, length};
}

// Fraction digits of an interval parameter's seconds: ODBC's default
// interval seconds precision.
constexpr int kIntervalParamPrecision = 6;

// The text an interval structure crosses as: its literal, or for an exact
// numeric SQL type the single field's number. 0 for a structure that is no
// valid interval of its type.
size_t IntervalParamText(const RowValue& v, int16_t cType, int16_t sqlType, char* out, size_t cap) {
  SQL_INTERVAL_STRUCT st{};
  std::memcpy(&st, v.data, static_cast<size_t>(v.length < int64_t{sizeof st} ? v.length : int64_t{sizeof st}));
  // The structure's type must be the C type's own.
  if (IntervalTypeOf(st) != IntervalCodeOfType(cType)) return 0;
  if (IsIntervalSqlType(sqlType) || sqlType == SQL_CHAR || sqlType == SQL_VARCHAR ||
      sqlType == SQL_LONGVARCHAR || sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR ||
      sqlType == SQL_WLONGVARCHAR) {
    return IntervalStructToLiteral(st, kIntervalParamPrecision, out, cap);
  }
  return IntervalStructToNumber(st, kIntervalParamPrecision, out, cap);
}

bool IsDateSql(int16_t t) { return t == SQL_DATE || t == SQL_TYPE_DATE; }
bool IsTimeSql(int16_t t) { return t == SQL_TIME || t == SQL_TYPE_TIME; }
bool IsTimestampSql(int16_t t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_TIMESTAMP; }
bool IsBinarySql(int16_t t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// The storage type an all-NULL text column takes, so that the agent sees
// the kind of value the parameter stands for.
uint32_t NullTextType(int16_t cType, int16_t sqlType, uint32_t type) {
  if (cType == SQL_C_CHAR) {
    if (IsDateSql(sqlType)) return RBT_DATE;
    if (IsTimeSql(sqlType)) return RBT_TIME;
    if (IsTimestampSql(sqlType)) return RBT_TIMESTAMP;
    if (IsBinarySql(sqlType)) return RBT_BINARY;
  } else if (cType == SQL_C_WCHAR) {
    if (IsDateSql(sqlType)) return RBT_DATE;
    if (IsTimeSql(sqlType) || IsTimestampSql(sqlType)) return RBT_TIMESTAMP;
  }
  return type;
}

uint32_t EscapeType(const RowValue& v, int16_t cType, int16_t sqlType, SQL_TIMESTAMP_STRUCT* out) {
  if (v.kind != RowValue::Value || v.length <= 0) return 0;
  if (cType == SQL_C_CHAR) {
    return ParseDateTimeEscape(reinterpret_cast<const char*>(v.data), static_cast<size_t>(v.length),
                               sqlType, out);
  }
  return WParseDateTimeEscape(reinterpret_cast<const char16_t*>(v.data), static_cast<size_t>(v.length),
                              sqlType, out);
}

// The literal of an escape in 16-bit text, in bytes.
bool WEscapeLiteral(const unsigned char* text, int64_t bytes, int64_t* start, int64_t* count) {
  const int64_t units = bytes / 2;
  auto unit = [&](int64_t i) {
    char16_t u;
    std::memcpy(&u, text + 2 * i, 2);
    return u;
  };
  if (units < 2 || unit(0) != u'{') return false;
  int64_t open = -1;
  for (int64_t i = 1; i < units; ++i) {
    if (unit(i) == u'\'') {
      if (open < 0) {
        open = i + 1;
      } else {
        *start = 2 * open;
        *count = 2 * (i - open);
        return true;
      }
    }
  }
  return false;
}

int PlanColumn(const StmtRecord* stmt, Plan* p, const std::vector<uint64_t>& rows, bool collected) {
  const ParamBinding* b = p->b;
  const int16_t cType = b->cType;
  const int16_t sqlType = b->sqlType;
  const bool paramOp = stmt->conn != nullptr && stmt->conn->cn_hasParamOp;
  const bool inOut = ExecParamDirection(stmt, p->index) == PD_INOUT;
  p->stride = ExecParamElemSize(b);
  if (b->direction == SQL_PARAM_OUTPUT) {
    uint32_t w = 0;
    p->type = CTypeToRowBufferType(cType, &w);
    if (p->type == RBT_BINARY) p->type = RBT_BINARY_LEN4;
    p->width = w > 0 ? w : (p->type == RBT_BINARY_LEN4 ? 8 : 2);
    // Room for the whole output buffer, should the agent size the value it
    // returns by this column.
    if (IsVariable(cType) && b->bufferLength > 0 && b->bufferLength < INT32_MAX) {
      p->width = static_cast<uint64_t>(b->bufferLength) + (p->type == RBT_BINARY_LEN4 ? 8 : 2);
      if (p->type == RBT_WCHAR && (p->width & 1) != 0) ++p->width;
    }
    p->mode = Mode::NullOnly;
    return 0;
  }
  uint32_t fixedWidth = 0;
  p->type = CTypeToRowBufferType(cType, &fixedWidth);
  p->width = fixedWidth;
  switch (cType) {
    case SQL_C_NUMERIC: {
      p->mode = Mode::Numeric;
      p->type = RBT_CHAR;
      uint64_t longest = 0;
      for (uint64_t r : rows) {
        const RowValue v = ReadRow(stmt, *p, r, collected);
        if (v.kind != RowValue::Value) continue;
        SQL_NUMERIC_STRUCT n{};
        std::memcpy(&n, v.data, static_cast<size_t>(v.length < int64_t{sizeof n} ? v.length : int64_t{sizeof n}));
        char text[NUMERIC_TEXT_MAX];
        const uint64_t len = NumericToDecimalText(&n, text);
        if (len > longest) longest = len;
      }
      p->width = longest + 1;
      return 0;
    }
    case SQL_C_GUID:
      p->mode = Mode::Guid;
      return 0;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: {
      p->mode = cType == SQL_C_SBIGINT ? Mode::SBig : Mode::UBig;
      if (!paramOp) {
        // Without parameter arrays the column is as wide as the text.
        uint64_t longest = 1;
        for (uint64_t r : rows) {
          const RowValue v = ReadRow(stmt, *p, r, collected);
          if (v.kind != RowValue::Value) continue;
          char text[32];
          uint64_t raw = 0;
          std::memcpy(&raw, v.data, static_cast<size_t>(v.length < 8 ? v.length : 8));
          const uint64_t len = cType == SQL_C_SBIGINT
                                   ? Int64ToText(static_cast<int64_t>(raw), text, sizeof text)
                                   : UInt64ToText(raw, text, sizeof text);
          if (len > longest) longest = len;
        }
        p->width = longest;
      }
      return 0;
    }
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
      break;
    default:
      if (IsIntervalCType(cType)) {
        // Text as long as the longest value's; a structure that is no
        // interval of its type is refused before anything runs.
        p->mode = Mode::Interval;
        p->type = RBT_CHAR;
        uint64_t longest = 1;
        for (uint64_t r : rows) {
          const RowValue v = ReadRow(stmt, *p, r, collected);
          if (v.kind != RowValue::Value) continue;
          char text[INTERVAL_TEXT_MAX];
          const size_t len = IntervalParamText(v, cType, sqlType, text, sizeof text);
          if (len == 0) return KX_ERR_INTERVAL_OVERFLOW;
          if (len > longest) longest = len;
        }
        p->width = longest;
        return 0;
      }
      p->mode = Mode::Fixed;
      if (p->width == 0) return KX_ERR_RESTRICTED_TYPE;
      return 0;
  }

  // Text and binary: measure the set.
  uint64_t longest = 0;
  uint64_t plain = 0, escapes = 0, values = 0;
  uint32_t escapeType = 0;
  const bool dateSql = IsDateSql(sqlType) || IsTimeSql(sqlType) || IsTimestampSql(sqlType);
  for (uint64_t r : rows) {
    const RowValue v = ReadRow(stmt, *p, r, collected);
    if (v.kind == RowValue::Bad) return KX_ERR_BAD_LENGTH;
    if (v.kind == RowValue::Default) return KX_ERR_DEFAULT_PARAM;
    if (v.kind == RowValue::Empty) ++plain;
    if (v.kind != RowValue::Value) continue;
    ++values;
    if (static_cast<uint64_t>(v.length) > longest) longest = static_cast<uint64_t>(v.length);
    if (cType != SQL_C_BINARY && dateSql) {
      SQL_TIMESTAMP_STRUCT ts;
      const uint32_t t = EscapeType(v, cType, sqlType, &ts);
      if (t != 0) {
        ++escapes;
        escapeType = t;
      } else {
        ++plain;
      }
    }
  }
  if (inOut && b->bufferLength > 0) {
    // The agent returns the output value through this column: room for the
    // whole application buffer, never just the input's width.
    const uint64_t room = static_cast<uint64_t>(b->bufferLength);
    if (room > longest) longest = room;
  }
  if (longest > UINT32_MAX - 16) return KX_ERR_GENERAL;

  if (cType == SQL_C_BINARY) {
    p->mode = Mode::Binary;
    p->type = RBT_BINARY_LEN4;
    p->width = longest + 8;
    return 0;
  }
  if (cType == SQL_C_CHAR && IsBinarySql(sqlType)) {
    p->mode = Mode::HexBinary;
    const uint64_t bytes = longest / 2;
    if (stmt->paramsetSize < 2 && rows.size() == 1 && bytes > 0 && values == 1) {
      p->type = RBT_BINARY;
      p->width = bytes;
      p->hexPlain = true;
    } else if (values == 0) {
      p->type = RBT_BINARY;
      p->width = bytes > 0 ? bytes : 1;
      p->hexPlain = true;
    } else {
      p->type = RBT_BINARY_LEN4;
      p->width = 4 + ((bytes + 3) & ~uint64_t{3});
    }
    return 0;
  }
  const bool wide = cType == SQL_C_WCHAR;
  if (dateSql && escapes > 0 && plain == 0) {
    // Every value of the set is an escape: the column holds structures.
    p->mode = Mode::DateTime;
    p->type = escapeType;
    p->width = escapeType == RBT_TIMESTAMP ? 16 : 6;
    return 0;
  }
  uint64_t l = longest;
  if (IsDateSql(sqlType) || IsTimeSql(sqlType)) {
    if (l < 6) l = 6;
  } else if (IsTimestampSql(sqlType)) {
    if (l < 16) l = 16;
  }
  if (wide && (l & 1) != 0) ++l;
  p->mode = wide ? Mode::WText : Mode::Text;
  p->type = wide ? RBT_WCHAR : RBT_CHAR;
  if (paramOp) {
    p->width = l + (wide ? 2 : 1);
  } else {
    p->width = l != 0 ? l : (wide ? 2 : 1);
  }
  if (values == 0 && plain == 0) p->type = NullTextType(cType, sqlType, p->type);
  return 0;
}

// Reads a fixed-size C value that may have been collected in fewer bytes:
// the missing bytes are zero, nothing past the collected bytes is read.
template <class T>
T FixedValue(const RowValue& v) {
  T out{};
  const size_t n = v.length < int64_t{sizeof(T)} ? static_cast<size_t>(v.length) : sizeof(T);
  std::memcpy(&out, v.data, n);
  return out;
}

void FillElement(const Plan& p, RowBufferColumn* col, unsigned char* element, const RowValue& v) {
  const uint64_t width = col->width;
  auto copy = [&](const unsigned char* src, uint64_t n, uint64_t at = 0) {
    if (at >= width) return;
    if (n > width - at) n = width - at;
    if (n > 0) std::memcpy(element + at, src, static_cast<size_t>(n));
  };
  if (v.kind == RowValue::Empty) return;  // zeroed storage: an empty value
  const uint64_t length = static_cast<uint64_t>(v.length);
  switch (p.mode) {
    case Mode::Fixed:
      copy(v.data, length < width ? length : width);
      return;
    case Mode::Text: {
      size_t start = 0, count = 0;
      // A column that mixes escapes and plain text keeps text: an escape
      // travels as the literal it quotes.
      if (IsDateSql(p.b->sqlType) || IsTimeSql(p.b->sqlType) || IsTimestampSql(p.b->sqlType)) {
        SQL_TIMESTAMP_STRUCT ts;
        if (EscapeType(v, SQL_C_CHAR, p.b->sqlType, &ts) != 0 &&
            EscapeLiteral(reinterpret_cast<const char*>(v.data), length, &start, &count)) {
          copy(v.data + start, count);
          return;
        }
      }
      copy(v.data, length);
      return;
    }
    case Mode::WText: {
      int64_t start = 0, count = 0;
      if (IsDateSql(p.b->sqlType) || IsTimeSql(p.b->sqlType) || IsTimestampSql(p.b->sqlType)) {
        SQL_TIMESTAMP_STRUCT ts;
        if (EscapeType(v, SQL_C_WCHAR, p.b->sqlType, &ts) != 0 &&
            WEscapeLiteral(v.data, v.length, &start, &count)) {
          copy(v.data + start, static_cast<uint64_t>(count));
          return;
        }
      }
      copy(v.data, length & ~uint64_t{1});
      return;
    }
    case Mode::DateTime: {
      SQL_TIMESTAMP_STRUCT ts{};
      EscapeType(v, p.b->cType, p.b->sqlType, &ts);
      StoreDateTime(element, col->type, ts);
      return;
    }
    case Mode::Binary: {
      const uint64_t n = length < width - 4 ? length : width - 4;
      const uint32_t n32 = static_cast<uint32_t>(n);
      std::memcpy(element, &n32, 4);
      copy(v.data, n, 4);
      return;
    }
    case Mode::HexBinary: {
      if (p.hexPlain) {
        const uint64_t bytes = length / 2 < width ? length / 2 : width;
        HexDecode(element, reinterpret_cast<const char*>(v.data), bytes * 2);
        return;
      }
      const uint64_t room = width - 4;
      const uint64_t bytes = length / 2 < room ? length / 2 : room;
      const uint32_t n32 = static_cast<uint32_t>(bytes);
      std::memcpy(element, &n32, 4);
      HexDecode(element + 4, reinterpret_cast<const char*>(v.data), bytes * 2);
      return;
    }
    case Mode::Numeric: {
      const auto n = FixedValue<SQL_NUMERIC_STRUCT>(v);
      char text[NUMERIC_TEXT_MAX];
      const size_t len = NumericToDecimalText(&n, text);
      copy(reinterpret_cast<const unsigned char*>(text), len);
      return;
    }
    case Mode::Guid: {
      const auto g = FixedValue<SQLGUID>(v);
      unsigned char text[36];
      GuidToChar(text, &g);
      copy(text, 36);
      return;
    }
    case Mode::SBig:
    case Mode::UBig: {
      char text[32];
      const auto raw = FixedValue<uint64_t>(v);
      const size_t len = p.mode == Mode::SBig ? Int64ToText(static_cast<int64_t>(raw), text, sizeof text)
                                              : UInt64ToText(raw, text, sizeof text);
      copy(reinterpret_cast<const unsigned char*>(text), len);
      return;
    }
    case Mode::Interval: {
      char text[INTERVAL_TEXT_MAX];
      const size_t len = IntervalParamText(v, p.b->cType, p.b->sqlType, text, sizeof text);
      copy(reinterpret_cast<const unsigned char*>(text), len);
      return;
    }
    case Mode::NullOnly:
      return;
  }
}

}  // namespace

bool ParamRowIgnored(const StmtRecord* stmt, uint64_t row) {
  const DescRecord* apd = stmt->currentApd;
  return apd != nullptr && apd->arrayStatusPtr != nullptr &&
         apd->arrayStatusPtr[row] == SQL_PARAM_IGNORE;
}

void FreeRowBlock(RowBuffer* block) {
  if (block == nullptr) return;
  RB_Free(block);
  std::free(block);
}

int BuildParamBlock(StmtRecord* stmt, uint16_t n, bool collected, ParamBlockResult* out) {
  out->block = nullptr;
  out->rows = 0;
  std::vector<uint64_t> rows;
  std::vector<Plan> plans;
  try {
    for (uint64_t r = 0; r < stmt->paramsetSize; ++r) {
      if (!ParamRowIgnored(stmt, r)) rows.push_back(r);
    }
    for (uint16_t i = 0; i < n; ++i) {
      if (ExecParamDirection(stmt, i) == PD_OUTPUT) continue;
      plans.push_back(Plan{i, &stmt->paramBindings[i], 0, Mode::Fixed, RBT_CHAR, 0, false});
    }
  } catch (...) {
    return KX_ERR_NOMEM;
  }
  if (rows.size() > INT32_MAX || plans.size() > UINT16_MAX) return KX_ERR_GENERAL;
  for (Plan& p : plans) {
    const int code = PlanColumn(stmt, &p, rows, collected);
    if (code != 0) return code;
    if (p.width == 0 || p.width > UINT32_MAX) return KX_ERR_GENERAL;
  }
  auto* block = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (block == nullptr) return KX_ERR_NOMEM;
  if (RB_InitColumns(block, static_cast<uint16_t>(plans.size())) != 0) {
    std::free(block);
    return KX_ERR_NOMEM;
  }
  for (size_t c = 0; c < plans.size(); ++c) {
    block->columns[c].type = plans[c].type;
    block->columns[c].width = static_cast<uint32_t>(plans[c].width);
  }
  block->colCount = static_cast<uint16_t>(plans.size());
  const auto rowCount = static_cast<int32_t>(rows.size());
  if (RB_AllocRows(block, rowCount) != 0) {
    FreeRowBlock(block);
    return KX_ERR_NOMEM;
  }
  block->rowCount = rowCount;
  for (int32_t k = 0; k < rowCount; ++k) {
    for (size_t c = 0; c < plans.size(); ++c) {
      const Plan& p = plans[c];
      RowBufferColumn* col = &block->columns[c];
      if (p.mode == Mode::NullOnly) {
        col->indicators[k] = RB_IND_NULL;
        continue;
      }
      const RowValue v = ReadRow(stmt, p, rows[static_cast<size_t>(k)], collected);
      switch (v.kind) {
        case RowValue::Bad:
          FreeRowBlock(block);
          return KX_ERR_BAD_LENGTH;
        case RowValue::Default:
          FreeRowBlock(block);
          return KX_ERR_DEFAULT_PARAM;
        case RowValue::Null:
          col->indicators[k] = RB_IND_NULL;
          continue;
        case RowValue::AtExec:
          col->indicators[k] = RB_IND_DAE;
          continue;
        default:
          break;
      }
      col->indicators[k] = RB_IND_DATA;
      FillElement(p, col, RB_Element(col, static_cast<size_t>(k)), v);
    }
  }
  out->block = block;
  out->rows = rowCount;
  return 0;
}

}  // namespace kx
