#include "odbc/exec/column_reader.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "odbc/ctypes.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/exec/convert_binary.h"
#include "odbc/exec/convert_common.h"
#include "odbc/exec/convert_datetime.h"
#include "odbc/exec/convert_interval.h"
#include "odbc/exec/convert_null.h"
#include "odbc/exec/convert_number.h"
#include "odbc/exec/convert_text.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/interval_text.h"

namespace kx {

namespace {

enum class Path { Text, Wide, Binary };

Path PathOf(uint32_t storageType) {
  switch (storageType) {
    case RBT_BINARY:
    case RBT_BINARY_PTR:
    case RBT_BINARY_LEN1:
    case RBT_BINARY_LEN2:
    case RBT_BINARY_LEN4:
      return Path::Binary;
    case RBT_WCHAR:
    case RBT_WCHAR_NTS:
    case RBT_WCHAR_PTR:
    case RBT_WCHAR_LEN4:
      return Path::Wide;
    default:
      return Path::Text;
  }
}

// Length prefix of 1, 2 or 4 bytes at an element that may not be aligned.
// The text or bytes an element of a variable-length storage type holds and
// their length in octets. The length never reaches past the element, whatever
// its prefix claims.
bool VariableSource(uint32_t type, const unsigned char* element, uint32_t width, const void** src,
                    uint64_t* octets) {
  auto prefixed = [&](unsigned bytes, unsigned headerBytes, uint64_t unitBytes) {
    const uint64_t room = width > headerBytes ? width - headerBytes : 0;
    uint64_t n = uint64_t{RB_LoadLengthPrefix(element, bytes)} * unitBytes;
    if (type == RBT_WCHAR_LEN4) {
      int32_t count;
      std::memcpy(&count, element, 4);
      n = count > 0 ? uint64_t(count) * 2 : 0;
    }
    *src = element + headerBytes;
    *octets = n < room ? n : room;
  };
  switch (type) {
    case RBT_CHAR:
    case RBT_BINARY:
    case RBT_WCHAR:
      *src = element;
      *octets = type == RBT_WCHAR ? width & ~uint32_t{1} : width;
      return true;
    case RBT_CHAR_NTS:
      *src = element;
      *octets = strnlen(reinterpret_cast<const char*>(element), width);
      return true;
    case RBT_WCHAR_NTS: {
      uint64_t units = 0;
      const uint64_t max = width / 2;
      while (units < max) {
        uint16_t u;
        std::memcpy(&u, element + 2 * units, 2);
        if (u == 0) break;
        ++units;
      }
      *src = element;
      *octets = 2 * units;
      return true;
    }
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR:
    case RBT_WCHAR_PTR: {
      const RBPtrValue v = RB_GetPtrValue(element);
      *src = v.block;
      *octets = v.block != nullptr ? RB_PtrBytes(type, v.length) : 0;
      return true;
    }
    case RBT_CHAR_LEN1:
    case RBT_BINARY_LEN1:
      prefixed(1, 1, 1);
      return true;
    case RBT_CHAR_LEN2:
    case RBT_BINARY_LEN2:
      prefixed(2, 2, 1);
      return true;
    case RBT_CHAR_LEN4:
    case RBT_BINARY_LEN4:
    case RBT_WCHAR_LEN4:
      prefixed(4, 4, 1);
      return true;
    default:
      return false;
  }
}

uint64_t IncompleteTail(Path path, int32_t cType, const unsigned char* p, uint64_t len);

// Storage of numbers, dates and times: converted from the element as a whole.
bool IsFixedStorage(uint32_t storageType) {
  switch (storageType) {
    case RBT_BIT:
    case RBT_UTINYINT:
    case RBT_STINYINT:
    case RBT_SSHORT:
    case RBT_USHORT:
    case RBT_SLONG:
    case RBT_ULONG:
    case RBT_FLOAT:
    case RBT_DOUBLE:
    case RBT_DATE:
    case RBT_TIME:
    case RBT_TIMESTAMP:
      return true;
    default:
      return false;
  }
}

// Text, wide and binary sources: the converter of the path, and the
// continuation kept in the GetData state when the value was cut. The
// converter reports the source octets that went out, so each next piece
// starts exactly where the last one stopped whatever the encodings involved.
// For a long value, total is what is left of the whole value from src on
// (the agent still holds the part beyond this piece); it shrinks with every
// delivery, so each call reports the length still to come and a piece that
// fits still answers 01004 while the agent holds more.
SQLRETURN DeliverPiece(StmtRecord* stmt, Path path, const void* src, uint64_t length, int64_t total,
                       int32_t cType, ColBinding* b, int32_t scale, int32_t precision,
                       bool longValue) {
  GetDataState& g = stmt->getData;
  // The state counts what is left in 32 bits; a longer source is offered
  // in its first 4 GiB, so the count can never wrap.
  if (length > UINT32_MAX) length = UINT32_MAX;
  // A piece of a long value may end inside a character; that part is not
  // converted now but joined with the next piece.
  uint64_t offered = length;
  if (longValue && total > 0 && static_cast<uint64_t>(total) > length) {
    offered -= IncompleteTail(path, cType, static_cast<const unsigned char*>(src), length);
  }
  uint64_t consumed = 0;
  int16_t rc;
  switch (path) {
    case Path::Binary:
      rc = ConvertBINARY(src, offered, total, cType, b->target, b->bufferLength, b->octetLength,
                         &stmt->error, &consumed);
      break;
    case Path::Wide:
      rc = ConvertWCHAR(static_cast<const char16_t*>(src), offered, total, cType, b->target,
                        b->bufferLength, b->octetLength, &stmt->error, scale, precision, &consumed,
                        &g.split);
      break;
    default:
      rc = ConvertCHAR(static_cast<const char*>(src), offered, total, cType, b->target, b->bufferLength,
                       b->octetLength, &stmt->error, scale, precision, &consumed, &g.split);
      break;
  }
  if (consumed > offered) consumed = offered;
  if (longValue && rc != SQL_ERROR && g.total > 0) {
    g.total = consumed < static_cast<uint64_t>(g.total) ? g.total - static_cast<int32_t>(consumed) : 0;
  }
  if (rc == SQL_SUCCESS_WITH_INFO &&
      (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY)) {
    g.cType = cType;
    // A long value's unread tail stays in hand as well: the next call serves
    // it before it asks the agent for another piece.
    g.rest = static_cast<unsigned char*>(const_cast<void*>(src)) + consumed;
    g.remaining = static_cast<uint32_t>(length - consumed);
  } else {
    g.remaining = 0;
  }
  return rc;
}

// Octets at the end of a piece that begin a character the piece does not
// finish, for the conversions that decode characters: UTF-8 text to a wide
// target, UTF-16 text to any text target.
uint64_t IncompleteTail(Path path, int32_t cType, const unsigned char* p, uint64_t len) {
  if (path == Path::Text && cType == SQL_C_WCHAR) {
    for (uint64_t back = 1; back <= 4 && back <= len; ++back) {
      const unsigned char c = p[len - back];
      if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
      const uint64_t need = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
      return need > back ? back : 0;
    }
    return 0;
  }
  if (path == Path::Wide && (cType == SQL_C_CHAR || cType == SQL_C_WCHAR)) {
    uint64_t tail = len & 1;
    const uint64_t even = len - tail;
    if (even >= 2) {
      uint16_t u;
      std::memcpy(&u, p + even - 2, 2);
      if (u >= 0xD800 && u <= 0xDBFF) tail += 2;  // a pair's first half
    }
    return tail;
  }
  return 0;
}

// Piece size asked of the agent for a long value, by the buffer the caller
// offers.
uint32_t PieceSize(int32_t cType, int64_t bufferLength, uint32_t storageType) {
  if (bufferLength <= 0) return 0;
  uint64_t n = static_cast<uint64_t>(bufferLength);
  if (cType == SQL_C_CHAR) {
    n -= 1;
  } else if (cType == SQL_C_WCHAR) {
    n = (n - 1) / 2;
  } else if (cType == SQL_C_BINARY && PathOf(storageType) == Path::Wide) {
    // Whole 16-bit units, enough of them to fill an odd buffer too: the
    // byte that does not fit stays in hand for the next call.
    n = (n + 1) / 2;
  }
  return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

// The text or bytes of a long-value piece held in the state.
void LongPieceSource(const GetDataState& g, const void** src, uint64_t* octets) {
  if (RB_IsPtrType(g.storageType) && g.rest != nullptr && g.rest == g.piece) {
    const RBPtrValue v = RB_GetPtrValue(static_cast<const unsigned char*>(g.rest));
    *src = v.block;
    *octets = v.block != nullptr ? RB_PtrBytes(g.storageType, v.length) : 0;
    return;
  }
  *src = g.rest;
  *octets = g.remaining;
}

// Replaces the octets in hand (the start of a character, or fewer bytes than
// a binary buffer takes) by those octets followed by the agent's next piece,
// in a block of our own. 0 or a code; the agent having nothing more leaves
// the octets in hand as they are.
int JoinNextPiece(StmtRecord* stmt, int32_t cType, int64_t bufferLength, uint32_t columnType) {
  GetDataState& g = stmt->getData;
  const void* inHand = nullptr;
  uint64_t inHandLength = 0;
  LongPieceSource(g, &inHand, &inHandLength);
  const auto kept = static_cast<uint32_t>(inHandLength > UINT32_MAX / 2 ? UINT32_MAX / 2 : inHandLength);
  std::unique_ptr<unsigned char[]> carry(new (std::nothrow) unsigned char[kept > 0 ? kept : 1]);
  if (carry == nullptr) return KX_ERR_NOMEM;
  if (kept > 0) std::memcpy(carry.get(), inHand, kept);
  const Path path = PathOf(g.storageType);
  const int32_t left = g.total;
  const int code = StmtGetLongData(stmt, PieceSize(cType, bufferLength, columnType));
  if (code == KX_ERR_NO_DATA_FOUND) {
    // Nothing follows: what is in hand is all there is (now in our block).
    auto* block = static_cast<unsigned char*>(std::malloc(kept));
    if (block == nullptr) return KX_ERR_NOMEM;
    std::memcpy(block, carry.get(), kept);
    g.piece = g.rest = block;
    g.remaining = kept;
    g.owned = 1;
    g.storageType = path == Path::Wide ? RBT_WCHAR : RBT_CHAR;
    g.total = static_cast<int32_t>(kept);
    return 0;
  }
  if (code != 0) return code;
  const void* src = nullptr;
  uint64_t length = 0;
  LongPieceSource(g, &src, &length);
  if (length > UINT32_MAX - kept) length = UINT32_MAX - kept;
  auto* block = static_cast<unsigned char*>(std::malloc(kept + length));
  if (block == nullptr) return KX_ERR_NOMEM;
  std::memcpy(block, carry.get(), kept);
  if (length > 0) std::memcpy(block + kept, src, length);
  StmtFreeLongData(&g);
  // A plain block now: text or wide text without a pointer element.
  g.storageType = path == Path::Wide ? RBT_WCHAR : RBT_CHAR;
  g.piece = g.rest = block;
  g.remaining = static_cast<uint32_t>(kept + length);
  g.owned = 1;
  g.total = left;
  return 0;
}

// A binary target has no terminator: the application takes a piece cut with
// 01004 to fill its buffer. While fewer bytes than that are in hand and the
// agent holds more, its next pieces are joined to them.
int FillBinaryPiece(StmtRecord* stmt, int32_t cType, int64_t bufferLength, uint32_t columnType) {
  GetDataState& g = stmt->getData;
  if (cType != SQL_C_BINARY || bufferLength <= 0) return 0;
  for (;;) {
    const void* src = nullptr;
    uint64_t before = 0;
    LongPieceSource(g, &src, &before);
    if (static_cast<int64_t>(before) >= bufferLength || g.total <= static_cast<int64_t>(before)) return 0;
    if (const int code = JoinNextPiece(stmt, cType, bufferLength, columnType); code != 0) return code;
    uint64_t after = 0;
    LongPieceSource(g, &src, &after);
    if (after <= before) return 0;  // the agent had nothing more
  }
}

// Fraction digits of an interval read with seconds when the application's
// record does not give them: ODBC's default interval seconds precision.
constexpr int32_t kIntervalSecondsPrecision = 6;

// An interval column's value (narrow or UTF-16 text) as an interval or a
// number.
SQLRETURN IntervalColumn(StmtRecord* stmt, const void* src, uint64_t length, bool wide, int32_t sqlType,
                         int32_t cType, ColBinding* b, int32_t scale, int32_t precision) {
  const char* text = static_cast<const char*>(src);
  std::string ascii;
  if (wide) {
    // Interval text is ASCII: anything else becomes a byte no reader takes.
    const auto* bytes = static_cast<const unsigned char*>(src);
    try {
      ascii.resize(static_cast<size_t>(length / 2));
    } catch (const std::exception&) {
      return Fail(stmt, KX_ERR_NOMEM);
    }
    for (size_t i = 0; i < ascii.size(); ++i) {
      char16_t u;
      std::memcpy(&u, bytes + 2 * i, 2);
      ascii[i] = u < 0x80 ? static_cast<char>(u) : '\x80';
    }
    text = ascii.data();
    length = ascii.size();
  }
  return ConvertIntervalText(text, length, sqlType, cType, b->target, b->bufferLength, b->octetLength,
                             &stmt->error, scale, precision);
}

bool IsExactNumberSqlType(int32_t t) {
  switch (t) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_NUMERIC:
    case SQL_DECIMAL:
      return true;
    default:
      return false;
  }
}

// An exact number read as an interval: the value of a single-field
// interval (ODBC converts numbers to no interval of several fields).
SQLRETURN NumberAsInterval(StmtRecord* stmt, const RowBufferColumn& col, const unsigned char* element,
                           int32_t cType, ColBinding* b, int32_t precision) {
  const IntervalQualifier q = IntervalQualifierOf(IntervalCodeOfType(cType));
  if (q.leading != q.trailing) return Fail(stmt, KX_ERR_RESTRICTED_TYPE);
  char number[24];
  const void* src = number;
  uint64_t length = 0;
  int64_t v = 0;
  bool integer = true;
  switch (col.type) {
    case RBT_UTINYINT: v = element[0]; break;
    case RBT_STINYINT: v = static_cast<int8_t>(element[0]); break;
    case RBT_SSHORT: { int16_t x; std::memcpy(&x, element, 2); v = x; break; }
    case RBT_USHORT: { uint16_t x; std::memcpy(&x, element, 2); v = x; break; }
    case RBT_SLONG: { int32_t x; std::memcpy(&x, element, 4); v = x; break; }
    case RBT_ULONG: { uint32_t x; std::memcpy(&x, element, 4); v = x; break; }
    default:
      // Decimals and BIGINT arrive as their text.
      integer = false;
      if (PathOf(col.type) != Path::Text || !VariableSource(col.type, element, col.width, &src, &length) ||
          src == nullptr) {
        return Fail(stmt, KX_ERR_RESTRICTED_TYPE);
      }
      break;
  }
  if (integer) length = static_cast<uint64_t>(std::snprintf(number, sizeof number, "%lld", static_cast<long long>(v)));
  return ConvertIntervalText(static_cast<const char*>(src), length, 0, cType, b->target, b->bufferLength,
                             b->octetLength, &stmt->error, 0, precision);
}

SQLRETURN BookmarkColumn(StmtRecord* stmt, uint32_t row, ColBinding* b) {
  if (b->cType != SQL_C_BINARY && b->cType != SQL_C_UBIGINT) return Fail(stmt, KX_ERR_BAD_PROGRAM_TYPE);
  if (b->target == nullptr) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  int32_t number = 0;
  const int code = SCS_GetRowNumberChecked(&stmt->cursor, row, &number);
  if (code != 0) return Fail(stmt, code);
  const int64_t value = number;
  SQLRETURN rc = SQL_SUCCESS;
  if (b->cType == SQL_C_BINARY) {
    // A binary target has a length: a short one is refused rather than
    // overrun.
    rc = StoreRaw(&value, 8, b->target, b->bufferLength, nullptr, &stmt->error);
    if (rc == SQL_ERROR) return rc;
  } else {
    std::memcpy(b->target, &value, 8);
  }
  if (b->indicator != nullptr) *b->indicator = 0;
  if (b->octetLength != nullptr) *b->octetLength = 8;
  return rc;
}

SQLRETURN FirstCall(StmtRecord* stmt, uint32_t row, ColBinding* b, RowBuffer* rb, bool outputMode);

}  // namespace

void GetDataReset(StmtRecord* stmt) {
  GetDataState& g = stmt->getData;
  StmtFreeLongData(&g);
  g.column = 0;
  g.row = 0;
  g.remaining = 0;
  g.rest = nullptr;
  g.split = 0;
  g.leftByFetch = 0;
}

SQLRETURN GetColumn(StmtRecord* stmt, uint32_t row, ColBinding* b, RowBuffer* rb) {
  const bool outputMode = stmt->error == KX_ERR_HAS_OUT_PARAMS;
  if (outputMode) stmt->error = 0;
  GetDataState& g = stmt->getData;
  const uint16_t column = b->column;

  // Column range: for result columns the statement's own count (which needs
  // the description), then, for a row the block holds, the block's columns.
  const uint16_t blockCols = rb != nullptr ? rb->colCount : 0;
  const int32_t blockRows = rb != nullptr && rb->rowCount > 0 ? rb->rowCount : 0;
  const bool inBlock = row < static_cast<uint32_t>(blockRows);
  bool beyond;
  if (outputMode) {
    beyond = column > blockCols;
  } else if (column != 0 && StmtDescribeCols(stmt) == nullptr) {
    return SQL_ERROR;
  } else {
    beyond = column > stmt->colCount || (inBlock && column > blockCols);
  }
  if ((column == 0 && !stmt->cursor.useBookmarks) || (column != 0 && beyond)) {
    if (TraceOn()) TracePrintf("GetColumn: col out of range (%d,%d)", column, blockCols);
    return Fail(stmt, KX_ERR_BAD_COLUMN_NUMBER);
  }
  if (column == 0) return BookmarkColumn(stmt, row, b);
  if (!inBlock) {
    if (b->indicator != nullptr) *b->indicator = 0;
    if (TraceOn()) TracePrintf("GetColumn: row out of range (%d,%d)", static_cast<int>(row), blockRows);
    return Fail(stmt, KX_ERR_CURSOR_STATE);
  }

  const RowBufferColumn& col = rb->columns[column - 1];
  const int16_t ind = col.indicators[row];

  // A bound column the fetch delivered whole (and that is no long value,
  // whose pieces the agent hands out once) is read again from its start;
  // one whose delivery was cut goes on where the binding stopped.
  const bool readAgain = g.leftByFetch != 0 && g.remaining == 0 && ind != RB_IND_LONG;
  g.leftByFetch = 0;

  // Continuation of a value read in pieces.
  if (!readAgain && g.column == column && g.row == row + 1 && row < UINT16_MAX) {
    if (b->cType != g.cType && b->cType != SQL_C_DEFAULT) return SQL_NO_DATA;
    const int32_t cType = g.cType;
    if (ind == RB_IND_LONG && g.remaining > 0 && g.total > static_cast<int32_t>(g.remaining) &&
        IncompleteTail(PathOf(g.storageType), cType, static_cast<const unsigned char*>(g.rest),
                       g.remaining) == g.remaining) {
      // Only the start of a character is in hand: join it with the next piece.
      const int code = JoinNextPiece(stmt, cType, b->bufferLength, col.type);
      if (code != 0) return Fail(stmt, code);
    }
    if (g.remaining == 0) {
      if (ind != RB_IND_LONG) return SQL_NO_DATA;
      // The agent reports the whole value's length with every piece; what
      // is left of it is ours to keep.
      const int32_t left = g.total;
      const int code = StmtGetLongData(stmt, PieceSize(cType, b->bufferLength, col.type));
      if (code == KX_ERR_NO_DATA_FOUND) return SQL_NO_DATA;
      if (code != 0) return Fail(stmt, code);
      g.total = left;
    }
    if (ind == RB_IND_LONG) {
      const int code = FillBinaryPiece(stmt, cType, b->bufferLength, col.type);
      if (code != 0) return Fail(stmt, code);
    }
    if (b->target == nullptr) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
    const void* src = g.rest;
    uint64_t length = g.remaining;
    const bool longValue = ind == RB_IND_LONG;
    if (longValue) LongPieceSource(g, &src, &length);
    return DeliverPiece(stmt, PathOf(g.storageType), src, length,
                        longValue ? g.total : static_cast<int64_t>(length), cType, b, 0, 0, longValue);
  }

  // First call on this column of this row. A call that fails leaves no
  // continuation behind: the application may ask again, say with another C
  // type, and gets the value rather than SQL_NO_DATA.
  // A number or date/time value is converted whole on every call, so a probe
  // that had no room for it (a zero buffer length, to learn the length) also
  // leaves it unread.
  const SQLRETURN rc = FirstCall(stmt, row, b, rb, outputMode);
  const bool probed = rc == SQL_SUCCESS_WITH_INFO && b->bufferLength == 0 && ind != RB_IND_LONG &&
                      ind != RB_IND_NULL && IsFixedStorage(col.type);
  if ((rc == SQL_ERROR || probed) && g.column == column && g.row == row + 1) {
    g.column = 0;
    g.row = 0;
  }
  return rc;
}

namespace {

SQLRETURN FirstCall(StmtRecord* stmt, uint32_t row, ColBinding* b, RowBuffer* rb, bool outputMode) {
  GetDataState& g = stmt->getData;
  const uint16_t column = b->column;
  const RowBufferColumn& col = rb->columns[column - 1];
  const int16_t ind = col.indicators[row];
  if (b->indicator != nullptr) *b->indicator = 0;

  const AgentColDesc* desc = nullptr;
  int16_t fraction = 0;
  if (outputMode) {
    // Output parameters carry their own digits; a result description need
    // not exist for them.
    fraction = b->fractionDigits;
  } else {
    AgentColDesc* cols = StmtDescribeCols(stmt);
    if (cols == nullptr) return SQL_ERROR;
    if (column > stmt->colCount) return Fail(stmt, KX_ERR_BAD_COLUMN_NUMBER);
    desc = &cols[column - 1];
    fraction = desc->decimalDigits;
  }

  int32_t cType = b->cType;
  const int32_t sqlType = desc != nullptr ? static_cast<int16_t>(desc->sqlType & 0xFFFF) : SQL_CHAR;
  if (cType == SQL_C_DEFAULT) {
    const int32_t version = OdbcVersion(stmt);
    if (version == 2 && sqlType >= SQL_WLONGVARCHAR && sqlType <= SQL_WCHAR) {
      cType = SQL_C_CHAR;
    } else {
      cType = DefaultCType(sqlType, version);
    }
    if (b->bufferLength == 0) b->bufferLength = CTypeSize(static_cast<int16_t>(cType));
  } else if (cType == SQL_C_BINARY && sqlType == SQL_BIGINT) {
    cType = KX_C_SBIGINT_AS_BINARY;
  } else if (cType == SQL_C_BINARY && sqlType == SQL_GUID) {
    cType = KX_C_GUID_AS_BINARY;
  }

  GetDataReset(stmt);
  g.column = column;
  g.row = static_cast<uint16_t>(row + 1);

  int32_t scale = 0;
  int32_t precision = 0;
  if (cType == SQL_ARD_TYPE || cType == SQL_C_NUMERIC || IsIntervalCType(cType)) {
    DescRecord* d = outputMode ? stmt->currentApd : stmt->currentArd;
    DescFieldRec* rec = d != nullptr && column <= DescRecCount(d) ? DescGetRec(d, column) : nullptr;
    if (rec == nullptr) {
      if (cType == SQL_ARD_TYPE) return Fail(stmt, KX_ERR_BAD_DESCRIPTOR_INDEX);
    } else {
      if (cType == SQL_ARD_TYPE) cType = rec->conciseType;
      if (cType == SQL_C_NUMERIC) {
        precision = rec->precision;
        scale = rec->scale;
      } else if (IsIntervalCType(cType) && rec->conciseType == cType && rec->precision > 0) {
        // The fraction digits the application's record asks of an
        // interval with seconds.
        precision = rec->precision;
      }
    }
    if (IsIntervalCType(cType) && precision <= 0) precision = kIntervalSecondsPrecision;
  }

  if (ind == RB_IND_NULL) {
    if (b->indicator == nullptr) return Fail(stmt, KX_ERR_INDICATOR_REQUIRED);
    *b->indicator = SQL_NULL_DATA;
    ConvertZeroTarget(cType, b->target, b->bufferLength);
    return SQL_SUCCESS;
  }

  if (ind == RB_IND_LONG) {
    const int code = StmtGetLongData(stmt, PieceSize(cType, b->bufferLength, col.type));
    if (code == KX_ERR_NO_DATA_FOUND) {
      if (g.total != -1) return SQL_NO_DATA;
      if (b->indicator == nullptr) return Fail(stmt, KX_ERR_INDICATOR_REQUIRED);
      *b->indicator = SQL_NULL_DATA;
      ConvertZeroTarget(cType, b->target, b->bufferLength);
      return SQL_SUCCESS;
    }
    if (code != 0) return Fail(stmt, code);
    if (const int fill = FillBinaryPiece(stmt, cType, b->bufferLength, col.type); fill != 0) {
      return Fail(stmt, fill);
    }
    if (b->target == nullptr) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
    const void* src = nullptr;
    uint64_t length = 0;
    LongPieceSource(g, &src, &length);
    return DeliverPiece(stmt, PathOf(g.storageType), src, length, g.total, cType, b, scale, precision,
                        true);
  }

  g.storageType = col.type;
  if (b->target == nullptr) return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  const unsigned char* element = RB_Element(&col, row);
  int32_t* err = &stmt->error;
  if (IsIntervalCType(cType) && IsExactNumberSqlType(sqlType)) {
    return NumberAsInterval(stmt, col, element, cType, b, precision);
  }
  switch (col.type) {
    case RBT_BIT:
    case RBT_UTINYINT:
      return ConvertBYTE(element[0], 0, cType, b->target, b->bufferLength, b->octetLength, err, scale,
                         precision);
    case RBT_STINYINT:
      return ConvertBYTE(element[0], 1, cType, b->target, b->bufferLength, b->octetLength, err, scale,
                         precision);
    case RBT_SSHORT:
    case RBT_USHORT: {
      uint16_t v;
      std::memcpy(&v, element, 2);
      return ConvertSHORT(v, col.type == RBT_SSHORT, cType, b->target, b->bufferLength, b->octetLength,
                          err, scale, precision);
    }
    case RBT_SLONG:
    case RBT_ULONG: {
      uint32_t v;
      std::memcpy(&v, element, 4);
      return ConvertLONG(v, col.type == RBT_SLONG, cType, b->target, b->bufferLength, b->octetLength, err,
                         scale, precision);
    }
    case RBT_FLOAT: {
      float v;
      std::memcpy(&v, element, 4);
      return ConvertFLOAT(v, cType, b->target, b->bufferLength, b->octetLength, err, scale, precision);
    }
    case RBT_DOUBLE: {
      double v;
      std::memcpy(&v, element, 8);
      return ConvertDOUBLE(v, cType, b->target, b->bufferLength, b->octetLength, err, scale, precision);
    }
    case RBT_DATE: {
      SQL_DATE_STRUCT v;
      std::memcpy(&v, element, sizeof v);
      return ConvertDATE(&v, cType, b->target, b->bufferLength, b->octetLength, err);
    }
    case RBT_TIME: {
      SQL_TIME_STRUCT v;
      std::memcpy(&v, element, sizeof v);
      // Only an element that keeps a fraction shows the column's digits.
      const uint16_t digits = RB_TimeHasFraction(&col) && fraction > 0 ? static_cast<uint16_t>(fraction) : 0;
      return ConvertTIME(&v, RB_TimeFraction(&col, element), digits, cType, b->target, b->bufferLength,
                         b->octetLength, err);
    }
    case RBT_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT v;
      std::memcpy(&v, element, sizeof v);
      return ConvertTIMESTAMP(&v, cType, b->target, b->bufferLength, b->octetLength,
                              static_cast<uint16_t>(fraction < 0 ? 0 : fraction), err);
    }
    default: {
      const void* src = nullptr;
      uint64_t length = 0;
      if (!VariableSource(col.type, element, col.width, &src, &length)) {
        return Fail(stmt, KX_ERR_RESTRICTED_TYPE);
      }
      if (src == nullptr) {
        src = "";
        length = 0;
      }
      if (length > UINT32_MAX) length = UINT32_MAX;
      // An interval column's text goes to the interval and number types by
      // the interval rules; as text or bytes it is delivered as it is.
      if (IsIntervalSqlType(sqlType) && cType != SQL_C_CHAR && cType != SQL_C_WCHAR &&
          cType != SQL_C_BINARY && PathOf(col.type) != Path::Binary) {
        return IntervalColumn(stmt, src, length, PathOf(col.type) == Path::Wide, sqlType, cType, b, scale,
                              precision);
      }
      // An exact number's whole digits are never cut: only its fraction.
      if ((sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL || sqlType == SQL_BIGINT) &&
          PathOf(col.type) != Path::Binary &&
          !WholeDigitsFit(src, length, PathOf(col.type) == Path::Wide, cType, b->bufferLength)) {
        return Fail(stmt, KX_ERR_NUMERIC_RANGE);
      }
      return DeliverPiece(stmt, PathOf(col.type), src, length, static_cast<int64_t>(length), cType, b,
                          scale, precision, false);
    }
  }
}

}  // namespace

}  // namespace kx
