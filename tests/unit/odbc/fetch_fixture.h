// Shared set-up of the fetch, GetData and type-information tests: a connected
// statement whose agent table is the test agent's with the result operations
// replaced by a typed script (storage types the way the JDBC agent fills row
// blocks: numbers, dates, fixed, terminated, length-prefixed, pointer and wide
// text, binary), and a stand-in for the scrollable cursor layer's rowset
// fetch that serves forward-only rowsets from the same script.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "odbc/cursor_state.h"
#include "unit/odbc/stmt_fixture.h"
#include "util/row_buffer.h"

namespace kx::testing {

struct ScriptCol {
  std::string name;
  int16_t sqlType;
  uint32_t rbType;
  uint32_t length;       // declared length: characters for text, bytes for binary
  int16_t digits = 0;
};

// A value as text: numbers and dates in their usual notation, text as UTF-8
// (wide storage types convert it), binary as the raw bytes. nullopt is NULL.
using Cell = std::optional<std::string>;

struct Result {
  std::vector<ScriptCol> cols;
  std::vector<std::vector<Cell>> rows;
};

struct Script {
  std::vector<ScriptCol> cols;  // the result every statement reads ...
  std::vector<std::vector<Cell>> rows;
  std::map<AgentHandle, Result> own;  // ... unless it opened one of its own
  std::map<AgentHandle, size_t> next;  // per agent statement: next row to deliver
  std::vector<uint16_t> wanted;        // rows asked by every FetchBlock
  int failNextFetch = 0;               // answer of the next FetchBlock/rowset fetch
  // Rowset stand-in: statuses to report for absolute rows (1-based); others 0.
  std::map<size_t, int16_t> rowStatus;
  int32_t rowsetSize = 1;
  // Type information: every DDTypeInfo asked, and the rows it opens.
  std::vector<int16_t> typeInfoAsked;
  int typeInfoFails = 0;
  int closes = 0;                      // DRV_CloseCursor calls
  std::map<AgentHandle, size_t> blockStart;  // first row of the block last delivered
  bool longRestart = false;                  // a new block: long values start afresh
};

inline Script& TheScript() {
  static Script s;
  return s;
}

inline void Utf8ToUtf16(const std::string& in, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    const auto c = static_cast<unsigned char>(in[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F, n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F, n = 3;
    } else {
      cp = c & 0x07, n = 4;
    }
    for (size_t k = 1; k < n && i + k < in.size(); ++k) cp = (cp << 6) | (in[i + k] & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
}

// Puts one value into an element the way the agent fills row blocks.
inline void PutElement(RowBufferColumn& col, size_t row, const std::string& v) {
  unsigned char* e = RB_Element(&col, row);
  const uint32_t w = col.width;
  auto prefixed = [&](unsigned bytes, const void* data, uint32_t count, uint32_t octets) {
    std::memcpy(e, &count, bytes);  // little-endian: the low bytes
    std::memcpy(e + bytes, data, std::min<uint32_t>(octets, w - bytes));
  };
  std::u16string wide;
  switch (col.type) {
    case RBT_CHAR:
      std::memset(e, ' ', w);
      std::memcpy(e, v.data(), std::min<size_t>(v.size(), w));
      break;
    case RBT_BINARY:
      std::memcpy(e, v.data(), std::min<size_t>(v.size(), w));
      break;
    case RBT_CHAR_NTS:
      std::memcpy(e, v.data(), std::min<size_t>(v.size(), w - 1));
      break;
    case RBT_CHAR_LEN1: case RBT_BINARY_LEN1:
      prefixed(1, v.data(), static_cast<uint32_t>(v.size()), static_cast<uint32_t>(v.size()));
      break;
    case RBT_CHAR_LEN2: case RBT_BINARY_LEN2:
      prefixed(2, v.data(), static_cast<uint32_t>(v.size()), static_cast<uint32_t>(v.size()));
      break;
    case RBT_CHAR_LEN4: case RBT_BINARY_LEN4:
      prefixed(4, v.data(), static_cast<uint32_t>(v.size()), static_cast<uint32_t>(v.size()));
      break;
    case RBT_CHAR_PTR: case RBT_BINARY_PTR: case RBT_WCHAR_PTR: {
      RBPtrValue p{};
      size_t bytes = v.size();
      const void* src = v.data();
      if (col.type == RBT_WCHAR_PTR) {
        Utf8ToUtf16(v, &wide);
        bytes = wide.size() * 2;
        src = wide.data();
        p.length = static_cast<uint32_t>(wide.size());
      } else {
        p.length = static_cast<uint32_t>(v.size());
      }
      p.block = std::malloc(bytes + 1);
      std::memcpy(p.block, src, bytes);
      RB_SetPtrValue(e, p);
      break;
    }
    case RBT_WCHAR:
      Utf8ToUtf16(v, &wide);
      for (uint32_t i = 0; i < w / 2; ++i) {
        const char16_t u = i < wide.size() ? wide[i] : u' ';
        std::memcpy(e + 2 * i, &u, 2);
      }
      break;
    case RBT_WCHAR_NTS:
      Utf8ToUtf16(v, &wide);
      std::memcpy(e, wide.data(), std::min<size_t>(wide.size() * 2, w - 2));
      break;
    case RBT_WCHAR_LEN4:
      Utf8ToUtf16(v, &wide);
      prefixed(4, wide.data(), static_cast<uint32_t>(wide.size()), static_cast<uint32_t>(wide.size() * 2));
      break;
    case RBT_BIT: case RBT_UTINYINT: case RBT_STINYINT:
      e[0] = static_cast<unsigned char>(std::strtol(v.c_str(), nullptr, 10));
      break;
    case RBT_SSHORT: case RBT_USHORT: {
      const auto x = static_cast<uint16_t>(std::strtol(v.c_str(), nullptr, 10));
      std::memcpy(e, &x, 2);
      break;
    }
    case RBT_SLONG: case RBT_ULONG: {
      const auto x = static_cast<uint32_t>(std::strtoll(v.c_str(), nullptr, 10));
      std::memcpy(e, &x, 4);
      break;
    }
    case RBT_FLOAT: {
      const float x = std::strtof(v.c_str(), nullptr);
      std::memcpy(e, &x, 4);
      break;
    }
    case RBT_DOUBLE: {
      const double x = std::strtod(v.c_str(), nullptr);
      std::memcpy(e, &x, 8);
      break;
    }
    case RBT_DATE: {
      SQL_DATE_STRUCT d{};
      int y = 0, m = 0, dd = 0;
      std::sscanf(v.c_str(), "%d-%d-%d", &y, &m, &dd);
      d.year = static_cast<SQLSMALLINT>(y), d.month = static_cast<SQLUSMALLINT>(m),
      d.day = static_cast<SQLUSMALLINT>(dd);
      std::memcpy(e, &d, sizeof d);
      break;
    }
    case RBT_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT t{};
      int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
      unsigned f = 0;
      std::sscanf(v.c_str(), "%d-%d-%d %d:%d:%d.%u", &y, &m, &d, &h, &mi, &s, &f);
      t.year = static_cast<SQLSMALLINT>(y), t.month = static_cast<SQLUSMALLINT>(m);
      t.day = static_cast<SQLUSMALLINT>(d), t.hour = static_cast<SQLUSMALLINT>(h);
      t.minute = static_cast<SQLUSMALLINT>(mi), t.second = static_cast<SQLUSMALLINT>(s);
      t.fraction = f;
      std::memcpy(e, &t, sizeof t);
      break;
    }
    default:
      break;
  }
}

// A value that starts with this mark is a long value: the row block holds
// indicator -3 and DRV_GetLongData hands the rest of the text out in pieces.
constexpr const char* kLongMark = "\x01LONG:";

// The result an agent statement reads.
inline Result ResultOf(AgentHandle stmt) {
  Script& s = TheScript();
  auto it = s.own.find(stmt);
  if (it != s.own.end()) return it->second;
  return Result{s.cols, s.rows};
}

// Fills rb (emptied) with rows [first, first + count) of the statement's result.
inline int FillRows(AgentHandle stmt, RowBuffer* rb, size_t first, size_t count) {
  const Result s = ResultOf(stmt);
  const auto n = static_cast<uint16_t>(s.cols.size());
  AgentColDesc* descs = RB_AllocColDescs(n);
  for (uint16_t i = 0; i < n; ++i) {
    descs[i].storageType = static_cast<int32_t>(s.cols[i].rbType);
    descs[i].elementLength = static_cast<int32_t>(s.cols[i].length);
  }
  int rc = RB_FromColDescs(descs, n, static_cast<int32_t>(count > 0 ? count : 1), rb);
  RB_FreeColDescs(descs, n);
  if (rc != 0) return rc;
  size_t r = 0;
  for (; r < count && first + r < s.rows.size(); ++r) {
    for (uint16_t c = 0; c < n; ++c) {
      const Cell& cell = s.rows[first + r][c];
      if (!cell) {
        rb->columns[c].indicators[r] = RB_IND_NULL;
      } else if (cell->rfind(kLongMark, 0) == 0) {
        rb->columns[c].indicators[r] = RB_IND_LONG;
      } else {
        PutElement(rb->columns[c], r, *cell);
        rb->columns[c].indicators[r] = RB_IND_DATA;
      }
    }
  }
  rb->rowCount = static_cast<int32_t>(r);
  return 0;
}

inline int32_t ScriptDescribeCols(AgentHandle stmt, uint16_t* count, AgentColDesc** cols) {
  const Result s = ResultOf(stmt);
  const auto n = static_cast<uint16_t>(s.cols.size());
  *count = n;
  if (cols == nullptr) return 0;
  auto* d = static_cast<AgentColDesc*>(std::calloc(n > 0 ? n : 1, sizeof(AgentColDesc)));
  for (uint16_t i = 0; i < n; ++i) {
    std::snprintf(d[i].name, sizeof d[i].name, "%s", s.cols[i].name.c_str());
    d[i].sqlType = s.cols[i].sqlType;
    d[i].flags = 1;
    d[i].columnSize = static_cast<int32_t>(s.cols[i].length);
    d[i].decimalDigits = s.cols[i].digits;
    d[i].displaySize = static_cast<int32_t>(s.cols[i].length);
    d[i].storageType = static_cast<int32_t>(s.cols[i].rbType);
    d[i].elementLength = static_cast<int32_t>(s.cols[i].length);
  }
  *cols = d;
  return 0;
}

inline int32_t ScriptFetchBlock(AgentHandle stmt, uint16_t wanted, RowBuffer* rb) {
  Script& s = TheScript();
  s.wanted.push_back(wanted);
  if (s.failNextFetch != 0) {
    const int rc = s.failNextFetch;
    s.failNextFetch = 0;
    return rc;
  }
  if (wanted == 0) return 0;
  size_t& next = s.next[stmt];
  s.blockStart[stmt] = next;
  s.longRestart = true;
  const int rc = FillRows(stmt, rb, next, wanted);
  if (rc == 0) next += static_cast<size_t>(rb->rowCount);
  return rc;
}

// Pieces of a long value of the block last delivered (row is the index in
// the block plus 1); each call hands out the next piece.
inline int32_t ScriptGetLongData(AgentHandle stmt, uint16_t column, uint16_t row, uint32_t pieceSize,
                                 void** piece, uint32_t* octets, uint32_t* storage, int32_t* total) {
  static std::map<std::tuple<AgentHandle, uint16_t, uint16_t>, size_t> offsets;
  Script& s = TheScript();
  if (s.longRestart) {
    offsets.clear();
    s.longRestart = false;
  }
  const Result r = ResultOf(stmt);
  const size_t absolute = s.blockStart[stmt] + row - 1;
  if (column == 0 || column > r.cols.size() || row == 0 || absolute >= r.rows.size()) return 15;
  const Cell& cell = r.rows[absolute][column - 1];
  const std::string value = cell ? cell->substr(std::strlen(kLongMark)) : std::string();
  size_t& pos = offsets[{stmt, column, row}];
  *total = cell ? static_cast<int32_t>(value.size()) : -1;
  *storage = RBT_CHAR_NTS;
  *piece = nullptr;
  *octets = 0;
  if (!cell || pos >= value.size()) return 82;
  const size_t n = std::min<size_t>(pieceSize == 0 ? value.size() : pieceSize, value.size() - pos);
  *piece = std::malloc(n + 1);
  std::memcpy(*piece, value.data() + pos, n);
  *octets = static_cast<uint32_t>(n);
  pos += n;
  return 0;
}

inline int32_t ScriptCloseCursor(AgentHandle stmt) {
  ++TheScript().closes;
  TheScript().next.erase(stmt);
  TheScript().own.erase(stmt);
  return 0;
}

// The cursor layer's forward-only rowset, served from the script.
inline int32_t ScriptFetchScroll(AgentHandle stmt, RowStatusSet** out, int32_t, uint32_t* rows,
                                 int32_t* total, uint16_t) {
  Script& s = TheScript();
  if (s.failNextFetch != 0) {
    const int rc = s.failNextFetch;
    s.failNextFetch = 0;
    return rc;
  }
  size_t& next = s.next[stmt];
  RowStatusSet* set = nullptr;
  if (RowStatusSetNew(&set, s.rowsetSize) != 0) return 16;
  const int rc = FillRows(stmt, set->rows, next, static_cast<size_t>(s.rowsetSize));
  if (rc != 0) {
    RowStatusSetFree(&set);
    return rc;
  }
  const auto got = static_cast<uint32_t>(set->rows->rowCount);
  for (uint32_t k = 0; k < got; ++k) {
    auto it = s.rowStatus.find(next + k + 1);
    set->statuses[k] = it != s.rowStatus.end() ? it->second : 0;
  }
  next += got;
  *out = set;
  *rows = got;
  if (total != nullptr) *total = -1;
  return got == 0 ? 82 : 0;
}

inline int32_t ScriptExtendedFetch(AgentHandle stmt, RowStatusSet** out, int32_t row, uint32_t* rows,
                                   int32_t* total) {
  return ScriptFetchScroll(stmt, out, row, rows, total, SQL_FETCH_NEXT);
}

// The type-information result: TYPE_NAME, DATA_TYPE, COLUMN_SIZE,
// LITERAL_PREFIX, LITERAL_SUFFIX and 14 more columns, with the date, time and
// timestamp codes of ODBC 2 and 3 matching alike.
inline int32_t ScriptTypeInfo(AgentHandle stmt, int16_t sqlType) {
  Script& s = TheScript();
  s.typeInfoAsked.push_back(sqlType);
  if (s.typeInfoFails != 0) {
    const int rc = s.typeInfoFails;
    s.typeInfoFails = 0;
    return rc;
  }
  struct T {
    const char* name;
    int type;
    const char* size;
    Cell prefix, suffix;
  };
  static const T kTypes[] = {
      {"CHAR", SQL_CHAR, "32767", "'", "'"},
      {"INTEGER", SQL_INTEGER, "10", std::nullopt, std::nullopt},
      {"VARCHAR", SQL_VARCHAR, "255", "'", "'"},
      {"DATE", SQL_TYPE_DATE, "10", "DATE '", "'"},
      {"DATETIME YEAR TO FRACTION(5)", SQL_TYPE_TIMESTAMP, "25", "'", "'"},
  };
  auto odbc2 = [](int t) { return t >= 91 && t <= 93 ? t - 82 : t; };
  Result& r = s.own[stmt];
  r = Result{};
  const char* names[19] = {"TYPE_NAME", "DATA_TYPE", "COLUMN_SIZE", "LITERAL_PREFIX", "LITERAL_SUFFIX",
                           "CREATE_PARAMS", "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE",
                           "UNSIGNED_ATTRIBUTE", "FIXED_PREC_SCALE", "AUTO_UNIQUE_VALUE",
                           "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE", "SQL_DATA_TYPE",
                           "SQL_DATETIME_SUB", "NUM_PREC_RADIX", "INTERVAL_PRECISION"};
  for (int i = 0; i < 19; ++i) {
    const bool text = i == 0 || i == 3 || i == 4 || i == 5 || i == 12;
    r.cols.push_back(ScriptCol{names[i], static_cast<int16_t>(text ? SQL_VARCHAR : SQL_SMALLINT),
                               text ? RBT_CHAR_NTS : RBT_SSHORT, text ? 128u : 2u});
  }
  r.cols[2] = ScriptCol{"COLUMN_SIZE", SQL_INTEGER, RBT_SLONG, 4};
  for (const T& t : kTypes) {
    if (sqlType != 0 && odbc2(t.type) != odbc2(sqlType)) continue;
    std::vector<Cell> row(19, std::nullopt);
    row[0] = t.name;
    row[1] = std::to_string(t.type);
    row[2] = t.size;
    row[3] = t.prefix;
    row[4] = t.suffix;
    row[12] = t.name;
    r.rows.push_back(row);
  }
  s.next.erase(stmt);
  return 0;
}

class FetchTest : public StmtTest {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    if (HasFatalFailure()) return;
    TheScript() = Script{};
    ConnRecord* c = ConnRec(dbc_);
    ASSERT_NE(c, nullptr);
    original_ = c->binding.ops;
    table_ = *original_;
    table_.DRV_DescribeCols = ScriptDescribeCols;
    table_.DRV_FetchBlock = ScriptFetchBlock;
    table_.DRV_CloseCursor = ScriptCloseCursor;
    table_.DRV_DDTypeInfo = ScriptTypeInfo;
    table_.DRV_GetLongData = ScriptGetLongData;
    // The rowset road has no cursor layer unless a test installs the stand-in.
    table_.DRV_FetchScroll = nullptr;
    table_.DRV_ExtendedFetch = nullptr;
    table_.DRV_SetPos = nullptr;
    table_.DRV_BulkOperations = nullptr;
    // The extended describe is the agent's; the script describes plainly.
    table_.DRV_DescribeColsEx = nullptr;
    c->binding.ops = &table_;
  }

  void TearDown() override {
    if (ConnRecord* c = ConnRec(dbc_); c != nullptr && original_ != nullptr) c->binding.ops = original_;
    StmtTest::TearDown();
  }

  void InstallRowsetLayer(int32_t rowsetSize) {
    table_.DRV_FetchScroll = ScriptFetchScroll;
    table_.DRV_ExtendedFetch = ScriptExtendedFetch;
    TheScript().rowsetSize = rowsetSize;
    TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT);
  }

  // Opens a result on the statement with these columns and rows.
  void Open(SQLHSTMT s, std::vector<ScriptCol> cols, std::vector<std::vector<Cell>> rows) {
    TheScript().cols = std::move(cols);
    TheScript().rows = std::move(rows);
    StmtRecord* st = Rec(s);
    ASSERT_NE(st, nullptr);
    StmtFreeColDescs(st);
    st->state = STMT_PREPARED;
    st->flags |= SF_PREPARED | SF_EXECUTED;
    TheScript().next.erase(st->agentStmt);
    TheScript().own.erase(st->agentStmt);
  }

  void SetOdbcVersion(int32_t v) { ConnRec(dbc_)->env->odbcVersion = v; }

  AgentOps table_{};
  const AgentOps* original_ = nullptr;
};

}  // namespace kx::testing
