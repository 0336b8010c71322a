// The conversion matrix through SQLGetData and SQLFetch: one fetched value of
// any storage type the agent fills (numbers, dates, text and binary in every
// layout, wide text, long values handed out in pieces, NULL), described as
// any SQL type, read as any C type into a buffer of any length. The target
// is exactly as long as the application says (a fixed-size C type as long
// as its size), so a write past it is caught. Text comes back terminated; a
// text or binary value read in pieces of any size comes back whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "odbc/ctypes.h"
#include "odbc/stmt.h"
#include "fuzz/core_session.h"
#include "util/row_buffer.h"

namespace {

using kx::AgentColDesc;
using kx::AgentHandle;
using kx::RowBuffer;

constexpr uint32_t kStorageTypes[] = {
    kx::RBT_CHAR,       kx::RBT_BIT,         kx::RBT_STINYINT,    kx::RBT_SSHORT,    kx::RBT_SLONG,
    kx::RBT_UTINYINT,   kx::RBT_USHORT,      kx::RBT_ULONG,       kx::RBT_FLOAT,     kx::RBT_DOUBLE,
    kx::RBT_DATE,       kx::RBT_TIME,        kx::RBT_TIMESTAMP,   kx::RBT_BINARY,    kx::RBT_CHAR_PTR,
    kx::RBT_BINARY_PTR, kx::RBT_CHAR_NTS,    kx::RBT_CHAR_LEN1,   kx::RBT_CHAR_LEN2, kx::RBT_CHAR_LEN4,
    kx::RBT_BINARY_LEN1, kx::RBT_BINARY_LEN2, kx::RBT_BINARY_LEN4, kx::RBT_WCHAR,    kx::RBT_WCHAR_NTS,
    kx::RBT_WCHAR_PTR,  kx::RBT_WCHAR_LEN4,
};

constexpr int16_t kSqlTypes[] = {
    SQL_CHAR,      SQL_VARCHAR,   SQL_LONGVARCHAR, SQL_WCHAR,     SQL_WVARCHAR,   SQL_WLONGVARCHAR,
    SQL_DECIMAL,   SQL_NUMERIC,   SQL_SMALLINT,    SQL_INTEGER,   SQL_REAL,       SQL_FLOAT,
    SQL_DOUBLE,    SQL_BIT,       SQL_TINYINT,     SQL_BIGINT,    SQL_BINARY,     SQL_VARBINARY,
    SQL_LONGVARBINARY, SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP, SQL_GUID,  SQL_DATE,
    SQL_TIME,      SQL_TIMESTAMP,
};

constexpr int16_t kCTypes[] = {
    SQL_C_CHAR,      SQL_C_WCHAR,     SQL_C_BINARY,   SQL_C_BIT,       SQL_C_TINYINT,
    SQL_C_STINYINT,  SQL_C_UTINYINT,  SQL_C_SHORT,    SQL_C_SSHORT,    SQL_C_USHORT,
    SQL_C_LONG,      SQL_C_SLONG,     SQL_C_ULONG,    SQL_C_SBIGINT,   SQL_C_UBIGINT,
    SQL_C_FLOAT,     SQL_C_DOUBLE,    SQL_C_NUMERIC,  SQL_C_DATE,      SQL_C_TIME,
    SQL_C_TIMESTAMP, SQL_C_TYPE_DATE, SQL_C_TYPE_TIME, SQL_C_TYPE_TIMESTAMP, SQL_C_GUID,
    SQL_C_DEFAULT,   SQL_ARD_TYPE,    SQL_C_INTERVAL_DAY, SQL_C_INTERVAL_YEAR_TO_MONTH,
};

// The one-column, one-row result every fetch of an input delivers.
struct Value {
  uint32_t storage = kx::RBT_CHAR_NTS;
  int16_t sqlType = SQL_VARCHAR;
  int16_t digits = 0;
  uint32_t length = 1;           // declared length: characters or bytes
  int16_t indicator = kx::RB_IND_DATA;
  std::string bytes;             // the value (raw element bytes for fixed types)
  size_t longPos = 0;            // pieces of a long value handed out so far
  bool delivered = false;
};

Value& TheValue() {
  static Value v;
  return v;
}

// Element width in the block for the declared length.
uint32_t WidthOf(const Value& v) {
  AgentColDesc d{};
  d.storageType = static_cast<int32_t>(v.storage);
  d.elementLength = static_cast<int32_t>(v.length);
  RowBuffer rb{};
  if (kx::RB_FromColDescs(&d, 1, 1, &rb) != 0) return 0;
  const uint32_t w = rb.columns[0].width;
  kx::RB_Free(&rb);
  return w;
}

int32_t DescribeCols(AgentHandle, uint16_t* count, AgentColDesc** cols) {
  const Value& v = TheValue();
  *count = 1;
  if (cols == nullptr) return 0;
  AgentColDesc* d = kx::RB_AllocColDescs(1);
  if (d == nullptr) return 16;
  strcpy(d->name, "V");
  d->sqlType = v.sqlType;
  d->flags = SQL_NULLABLE;
  d->columnSize = static_cast<int32_t>(v.length);
  d->decimalDigits = v.digits;
  d->displaySize = static_cast<int32_t>(v.length);
  d->storageType = static_cast<int32_t>(v.storage);
  d->elementLength = static_cast<int32_t>(v.length);
  *cols = d;
  return 0;
}

// Fills the element the way the agent does: text and binary within the
// element's room, a length prefix that never claims more than the room.
void PutElement(kx::RowBufferColumn& col, const std::string& s) {
  unsigned char* e = kx::RB_Element(&col, 0);
  const uint32_t w = col.width;
  auto prefixed = [&](uint32_t prefix, uint32_t unit) {
    const uint32_t room = (w - prefix) / unit;
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(s.size() / unit), room);
    memcpy(e, &count, prefix);
    memcpy(e + prefix, s.data(), static_cast<size_t>(count) * unit);
  };
  switch (col.type) {
    case kx::RBT_CHAR:
    case kx::RBT_BINARY:
    case kx::RBT_WCHAR:
      memset(e, col.type == kx::RBT_BINARY ? 0 : ' ', w);
      memcpy(e, s.data(), std::min<size_t>(s.size(), w));
      break;
    case kx::RBT_CHAR_NTS:
      memcpy(e, s.data(), std::min<size_t>(s.size(), w - 1));
      break;
    case kx::RBT_WCHAR_NTS:
      memcpy(e, s.data(), std::min<size_t>(s.size() & ~size_t{1}, w - 2));
      break;
    case kx::RBT_CHAR_LEN1: case kx::RBT_BINARY_LEN1: prefixed(1, 1); break;
    case kx::RBT_CHAR_LEN2: case kx::RBT_BINARY_LEN2: prefixed(2, 1); break;
    case kx::RBT_CHAR_LEN4: case kx::RBT_BINARY_LEN4: prefixed(4, 1); break;
    case kx::RBT_WCHAR_LEN4: prefixed(4, 2); break;
    case kx::RBT_CHAR_PTR: case kx::RBT_BINARY_PTR: case kx::RBT_WCHAR_PTR: {
      kx::RBPtrValue p{};
      const size_t bytes = col.type == kx::RBT_WCHAR_PTR ? s.size() & ~size_t{1} : s.size();
      p.length = static_cast<uint32_t>(col.type == kx::RBT_WCHAR_PTR ? bytes / 2 : bytes);
      p.block = malloc(bytes + 2);
      if (p.block == nullptr) abort();
      memcpy(p.block, s.data(), bytes);
      kx::RB_SetPtrValue(e, p);
      break;
    }
    default:
      memcpy(e, s.data(), std::min<size_t>(s.size(), w));
      break;
  }
}

int32_t FetchBlock(AgentHandle, uint16_t wanted, RowBuffer* rb) {
  Value& v = TheValue();
  if (wanted == 0) return 0;
  AgentColDesc d{};
  d.storageType = static_cast<int32_t>(v.storage);
  d.elementLength = static_cast<int32_t>(v.length);
  if (int rc = kx::RB_FromColDescs(&d, 1, 1, rb); rc != 0) return rc;
  if (v.delivered) {
    rb->rowCount = 0;
    return 0;
  }
  v.delivered = true;
  v.longPos = 0;
  rb->columns[0].indicators[0] = v.indicator;
  if (v.indicator == kx::RB_IND_DATA) PutElement(rb->columns[0], v.bytes);
  rb->rowCount = 1;
  return 0;
}

int32_t GetLongData(AgentHandle, uint16_t column, uint16_t row, uint32_t pieceSize, void** piece,
                    uint32_t* octets, uint32_t* storage, int32_t* total) {
  Value& v = TheValue();
  if (column != 1 || row != 1) return 15;
  // Pieces come in the column's own kind of storage: text, wide text (the
  // piece size counts 16-bit units) or bytes.
  const bool wide = v.storage >= kx::RBT_WCHAR && v.storage <= kx::RBT_WCHAR_LEN4;
  const bool binary = v.storage == kx::RBT_BINARY || v.storage == kx::RBT_BINARY_PTR ||
                      (v.storage >= kx::RBT_BINARY_LEN1 && v.storage <= kx::RBT_BINARY_LEN4);
  const std::string value = wide ? v.bytes.substr(0, v.bytes.size() & ~size_t{1}) : v.bytes;
  *total = static_cast<int32_t>(value.size());  // the whole value, with every piece
  *storage = wide ? kx::RBT_WCHAR : binary ? kx::RBT_BINARY : kx::RBT_CHAR_NTS;
  *piece = nullptr;
  *octets = 0;
  if (v.longPos >= value.size()) return 82;
  const size_t asked = wide ? size_t{pieceSize} * 2 : pieceSize;
  const size_t n = std::min<size_t>(asked == 0 ? value.size() : asked, value.size() - v.longPos);
  *piece = malloc(n + 1);
  if (*piece == nullptr) return 16;
  memcpy(*piece, value.data() + v.longPos, n);
  *octets = static_cast<uint32_t>(n);
  v.longPos += n;
  return 0;
}

int32_t CloseCursor(AgentHandle) { return 0; }

struct Session {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  kx::AgentOps table{};
};

Session& TheSession() {
  static Session s = [] {
    kx::fuzz::CoreSession& core = kx::fuzz::Core();
    SQLCHAR in[] = "JDBC=org.h2.Driver;URL=jdbc:h2:mem:t;UID=u;PWD=p";
    if (!SQL_SUCCEEDED(SQLDriverConnect(core.dbc, nullptr, in, SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT))) {
      abort();
    }
    Session out;
    kx::ConnRecord* c = kx::fuzz::ConnOf(core.dbc);
    if (c == nullptr) abort();
    out.table = *c->binding.ops;
    out.table.DRV_DescribeCols = DescribeCols;
    out.table.DRV_FetchBlock = FetchBlock;
    out.table.DRV_CloseCursor = CloseCursor;
    out.table.DRV_GetLongData = GetLongData;
    out.table.DRV_FetchScroll = nullptr;
    out.table.DRV_ExtendedFetch = nullptr;
    out.table.DRV_SetPos = nullptr;
    out.table.DRV_BulkOperations = nullptr;
    out.table.DRV_DescribeColsEx = nullptr;
    if (SQLAllocHandle(SQL_HANDLE_STMT, core.dbc, &out.stmt) != SQL_SUCCESS) abort();
    return out;
  }();
  kx::fuzz::ConnOf(kx::fuzz::Core().dbc)->binding.ops = &s.table;
  return s;
}

// Opens the result on the statement and fetches its row.
bool OpenAndFetch(SQLHSTMT stmt) {
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_UNBIND);
  kx::StmtRecord* st = kx::fuzz::StmtOf(stmt);
  kx::StmtFreeColDescs(st);
  st->state = kx::STMT_PREPARED;
  st->flags |= kx::SF_PREPARED | kx::SF_EXECUTED;
  TheValue().delivered = false;
  return SQL_SUCCEEDED(SQLFetch(stmt));
}

bool IsText(int16_t cType) { return cType == SQL_C_CHAR || cType == SQL_C_WCHAR; }

// One SQLGetData into a buffer of exactly the room the call may use.
struct Read {
  SQLRETURN rc;
  SQLLEN ind;
  std::string got;  // what the buffer holds, without the terminator of text
};

Read GetData(SQLHSTMT stmt, int16_t cType, SQLLEN bufferLength, bool withIndicator) {
  size_t room = bufferLength > 0 ? static_cast<size_t>(bufferLength) : 0;
  const int16_t fixed = kx::CTypeSize(cType);
  if (fixed > 0) room = static_cast<size_t>(fixed);
  // The type SQL_C_DEFAULT or SQL_ARD_TYPE stands for is the driver's
  // choice: room for the largest of them.
  if (cType == SQL_C_DEFAULT || cType == SQL_ARD_TYPE) room = std::max<size_t>(room, 64);
  // Filled with a pattern, so that a terminator is one the driver wrote.
  std::vector<unsigned char> heap(room, 0x5A);
  unsigned char* target = room > 0 ? heap.data() : nullptr;
  unsigned char dummy[1];
  if (target == nullptr) target = dummy;  // a zero-length buffer still has an address
  Read r{};
  r.ind = -99;
  r.rc = SQLGetData(stmt, 1, cType, target, bufferLength, withIndicator ? &r.ind : nullptr);
  // A text buffer with room for a terminator holds one.
  const size_t textUnit = cType == SQL_C_WCHAR ? 2 : 1;
  if ((r.rc == SQL_SUCCESS || r.rc == SQL_SUCCESS_WITH_INFO) && IsText(cType) &&
      bufferLength >= static_cast<SQLLEN>(textUnit) && r.ind != SQL_NULL_DATA) {
    const size_t unit = textUnit;
    auto nulAt = [&](size_t at) { return target[at] == 0 && (unit == 1 || target[at + 1] == 0); };
    // A text piece ends at its terminator (a piece may stop short of the
    // buffer's end, before a character it cannot take whole).
    size_t n = 0;
    while (n + unit <= room && !nulAt(n)) n += unit;
    if (n + unit > room) __builtin_trap();  // no terminator inside the buffer
    if (r.rc == SQL_SUCCESS && withIndicator && r.ind >= 0 && static_cast<size_t>(r.ind) + unit <= room &&
        n > static_cast<size_t>(r.ind)) {
      __builtin_trap();  // more text than the length says
    }
    r.got.assign(reinterpret_cast<char*>(target), n);
  } else if ((r.rc == SQL_SUCCESS || r.rc == SQL_SUCCESS_WITH_INFO) && cType == SQL_C_BINARY &&
             withIndicator && r.ind >= 0) {
    r.got.assign(reinterpret_cast<char*>(target), std::min<size_t>(room, static_cast<size_t>(r.ind)));
  }
  if (SQL_SUCCEEDED(r.rc) && withIndicator && r.ind < 0 && r.ind != SQL_NULL_DATA && r.ind != SQL_NO_TOTAL) {
    __builtin_trap();
  }
  kx::fuzz::DrainDiagnostics(SQL_HANDLE_STMT, stmt);
  return r;
}

bool Variable(uint32_t storage) {
  switch (storage) {
    case kx::RBT_BIT: case kx::RBT_STINYINT: case kx::RBT_SSHORT: case kx::RBT_SLONG:
    case kx::RBT_UTINYINT: case kx::RBT_USHORT: case kx::RBT_ULONG: case kx::RBT_FLOAT:
    case kx::RBT_DOUBLE: case kx::RBT_DATE: case kx::RBT_TIME: case kx::RBT_TIMESTAMP:
      return false;
    default:
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  Session& s = TheSession();
  FuzzedDataProvider in(data, size);
  Value& v = TheValue();
  v = Value{};
  v.storage = in.PickValueInArray(kStorageTypes);
  v.sqlType = in.PickValueInArray(kSqlTypes);
  v.digits = in.ConsumeIntegralInRange<int16_t>(-1, 12);
  v.length = in.ConsumeIntegralInRange<uint32_t>(1, 300);
  const uint8_t kind = in.ConsumeIntegral<uint8_t>();
  v.indicator = kind < 8 ? kx::RB_IND_NULL : kind < 40 ? kx::RB_IND_LONG : kx::RB_IND_DATA;
  const int reads = in.ConsumeIntegralInRange<int>(1, 6);
  struct Call {
    int16_t cType;
    SQLLEN bufferLength;
    bool indicator;
  };
  std::vector<Call> calls;
  for (int i = 0; i < reads; ++i) {
    Call c{};
    c.cType = in.ConsumeBool() ? in.PickValueInArray(kCTypes) : in.ConsumeIntegral<int16_t>();
    c.bufferLength = in.ConsumeIntegralInRange<int>(-3, 80);
    c.indicator = in.ConsumeIntegralInRange<int>(0, 15) != 0;
    calls.push_back(c);
  }
  const SQLLEN pieceLength = in.ConsumeIntegralInRange<int>(1, 24);
  v.bytes = in.ConsumeRemainingBytesAsString();
  if (WidthOf(v) == 0) return 0;

  // Any sequence of reads of the value.
  if (OpenAndFetch(s.stmt)) {
    for (const Call& c : calls) GetData(s.stmt, c.cType, c.bufferLength, c.indicator);
  }

  // Bound: the same conversions at fetch time.
  if (!calls.empty()) {
    const Call& c = calls[0];
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    const int16_t fixed = kx::CTypeSize(c.cType);
    size_t room = c.bufferLength > 0 ? static_cast<size_t>(c.bufferLength) : 0;
    if (fixed > 0) room = static_cast<size_t>(fixed);
    if (c.cType == SQL_C_DEFAULT || c.cType == SQL_ARD_TYPE) room = std::max<size_t>(room, 64);
    std::vector<unsigned char> target(std::max<size_t>(room, 1));
    SQLLEN ind = 0;
    if (SQL_SUCCEEDED(SQLBindCol(s.stmt, 1, c.cType, target.data(), c.bufferLength, &ind))) {
      OpenAndFetch(s.stmt);
      kx::fuzz::DrainDiagnostics(SQL_HANDLE_STMT, s.stmt);
    }
    SQLFreeStmt(s.stmt, SQL_UNBIND);
  }

  // A text or binary value read in pieces comes back whole: the pieces
  // joined are what one read with room for everything gives.
  if (v.indicator != kx::RB_IND_NULL && Variable(v.storage)) {
    for (int16_t cType : {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY}) {
      // A BIGINT column read as binary is its 8-byte integer and a GUID
      // column its 16 bytes, delivered whole or cut, never in pieces.
      if (cType == SQL_C_BINARY && (v.sqlType == SQL_BIGINT || v.sqlType == SQL_GUID)) continue;
      // An exact number read as text keeps its whole digits or is 22003
      // (only fraction digits may be cut): it is never read in pieces.
      if (cType != SQL_C_BINARY &&
          (v.sqlType == SQL_NUMERIC || v.sqlType == SQL_DECIMAL || v.sqlType == SQL_BIGINT)) {
        continue;
      }
      if (!OpenAndFetch(s.stmt)) continue;
      const Read whole = GetData(s.stmt, cType, 1 << 16, true);
      if (whole.rc != SQL_SUCCESS) continue;
      // Pieces of text are told apart by their terminators: a value with a
      // NUL character of its own (its text ends before its length) is not
      // joined here.
      if (cType != SQL_C_BINARY && whole.ind != static_cast<SQLLEN>(whole.got.size())) continue;
      if (!OpenAndFetch(s.stmt)) __builtin_trap();
      // Room for a terminator and at least one character of either text.
      const SQLLEN unit = cType == SQL_C_WCHAR ? 2 : 1;
      const SQLLEN piece = cType == SQL_C_BINARY ? pieceLength : std::max<SQLLEN>(pieceLength, 4) * unit + unit;
      std::string joined;
      SQLRETURN rc = SQL_SUCCESS_WITH_INFO;
      for (int i = 0; rc == SQL_SUCCESS_WITH_INFO; ++i) {
        if (i > (1 << 16)) __builtin_trap();  // no progress
        const Read r = GetData(s.stmt, cType, piece, true);
        rc = r.rc;
        if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) joined += r.got;
      }
      if (rc != SQL_SUCCESS || joined != whole.got) __builtin_trap();
      if (GetData(s.stmt, cType, piece, true).rc != SQL_NO_DATA) __builtin_trap();
    }
  }
  SQLFreeStmt(s.stmt, SQL_CLOSE);
  return 0;
}
