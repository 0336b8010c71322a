// SQLGetInfo: the driver's own answers, the conversion masks it works out from
// the agent's type table, and the agent's answers kept per connection.
#include "odbc/getinfo.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "agent/build_flavor.h"
#include "odbc/capabilities.h"
#include "odbc/conn.h"
#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/handlers.h"
#include "odbc/libmain.h"
#include "platform/process_info.h"
#include "util/errcodes.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// Room for a text answer of the agent.
constexpr uint16_t kAgentTextCapacity = 4096;

constexpr const char* kDriverOdbcVersion = "03.50";

// The ODBC 2 number of SQL_OJ_CAPABILITIES; its ODBC 3 number is 115.
constexpr uint16_t kOjCapabilitiesV2 = 65003;

// Types the agent answers, by width; the position is the cache slot.
constexpr uint16_t kInfo16[] = {
    SQL_MAX_DRIVER_CONNECTIONS, SQL_MAX_CONCURRENT_ACTIVITIES, SQL_ODBC_SAG_CLI_CONFORMANCE,
    SQL_ODBC_SQL_CONFORMANCE, SQL_CONCAT_NULL_BEHAVIOR, SQL_CURSOR_COMMIT_BEHAVIOR,
    SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_IDENTIFIER_CASE, SQL_MAX_COLUMN_NAME_LEN,
    SQL_MAX_CURSOR_NAME_LEN, SQL_MAX_SCHEMA_NAME_LEN, SQL_MAX_PROCEDURE_NAME_LEN,
    SQL_MAX_CATALOG_NAME_LEN, SQL_MAX_TABLE_NAME_LEN, SQL_TXN_CAPABLE, SQL_CORRELATION_NAME,
    SQL_NON_NULLABLE_COLUMNS, SQL_FILE_USAGE, SQL_NULL_COLLATION, SQL_GROUP_BY,
    SQL_QUOTED_IDENTIFIER_CASE, SQL_MAX_COLUMNS_IN_GROUP_BY, SQL_MAX_COLUMNS_IN_INDEX,
    SQL_MAX_COLUMNS_IN_ORDER_BY, SQL_MAX_COLUMNS_IN_SELECT, SQL_MAX_COLUMNS_IN_TABLE,
    SQL_MAX_TABLES_IN_SELECT, SQL_MAX_USER_NAME_LEN, SQL_CATALOG_LOCATION,
    SQL_ACTIVE_ENVIRONMENTS, SQL_MAX_IDENTIFIER_LEN,
};

// SQL_DRIVER_NAME is the driver's own answer (the library file), not the
// agent's.
constexpr uint16_t kInfoText[] = {
    SQL_DRIVER_VER, SQL_ODBC_VER, SQL_ROW_UPDATES, SQL_SERVER_NAME, SQL_SEARCH_PATTERN_ESCAPE,
    SQL_DATABASE_NAME, SQL_DBMS_NAME, SQL_DBMS_VER, SQL_ACCESSIBLE_TABLES,
    SQL_ACCESSIBLE_PROCEDURES, SQL_PROCEDURES, SQL_DATA_SOURCE_READ_ONLY, SQL_EXPRESSIONS_IN_ORDERBY,
    SQL_IDENTIFIER_QUOTE_CHAR, SQL_MULT_RESULT_SETS, SQL_MULTIPLE_ACTIVE_TXN, SQL_OUTER_JOINS,
    SQL_SCHEMA_TERM, SQL_PROCEDURE_TERM, SQL_CATALOG_NAME_SEPARATOR, SQL_CATALOG_TERM,
    SQL_TABLE_TERM, SQL_USER_NAME, SQL_INTEGRITY, SQL_COLUMN_ALIAS, SQL_KEYWORDS,
    SQL_ORDER_BY_COLUMNS_IN_SELECT, SQL_SPECIAL_CHARACTERS, SQL_MAX_ROW_SIZE_INCLUDES_LONG,
    SQL_NEED_LONG_DATA_LEN, SQL_LIKE_ESCAPE_CLAUSE, SQL_XOPEN_CLI_YEAR, SQL_DESCRIBE_PARAMETER,
    SQL_CATALOG_NAME, SQL_COLLATION_SEQ,
};

// The conversion types: answered by the agent when it says it can (capability
// CAP_CONVERT_INFO), else worked out here.
constexpr uint16_t kConversionTypes[] = {
    SQL_CONVERT_BIGINT, SQL_CONVERT_BINARY, SQL_CONVERT_BIT, SQL_CONVERT_CHAR, SQL_CONVERT_DATE,
    SQL_CONVERT_DECIMAL, SQL_CONVERT_DOUBLE, SQL_CONVERT_FLOAT, SQL_CONVERT_INTEGER,
    SQL_CONVERT_LONGVARCHAR, SQL_CONVERT_NUMERIC, SQL_CONVERT_REAL, SQL_CONVERT_SMALLINT,
    SQL_CONVERT_TIME, SQL_CONVERT_TIMESTAMP, SQL_CONVERT_TINYINT, SQL_CONVERT_VARBINARY,
    SQL_CONVERT_VARCHAR, SQL_CONVERT_LONGVARBINARY, SQL_CONVERT_WCHAR, SQL_CONVERT_WLONGVARCHAR,
    SQL_CONVERT_WVARCHAR,
};

// 32-bit answers. SQL_MAX_ASYNC_CONCURRENT_STATEMENTS is an SQLUINTEGER and
// lives here, not with the 16-bit answers.
constexpr uint16_t kInfo32Listed[] = {
    SQL_DRIVER_HDBC, SQL_DRIVER_HENV, SQL_DRIVER_HSTMT, SQL_FETCH_DIRECTION,
    SQL_DEFAULT_TXN_ISOLATION, SQL_SCROLL_CONCURRENCY, SQL_SCROLL_OPTIONS, SQL_CONVERT_FUNCTIONS,
    SQL_NUMERIC_FUNCTIONS, SQL_STRING_FUNCTIONS, SQL_SYSTEM_FUNCTIONS, SQL_TIMEDATE_FUNCTIONS,
    SQL_TXN_ISOLATION_OPTION, SQL_DRIVER_HLIB, SQL_LOCK_TYPES, SQL_POS_OPERATIONS,
    SQL_POSITIONED_STATEMENTS, SQL_GETDATA_EXTENSIONS, SQL_BOOKMARK_PERSISTENCE,
    SQL_STATIC_SENSITIVITY, SQL_ALTER_TABLE, SQL_SCHEMA_USAGE, SQL_CATALOG_USAGE, SQL_SUBQUERIES,
    SQL_UNION, SQL_MAX_INDEX_SIZE, SQL_MAX_ROW_SIZE, SQL_MAX_STATEMENT_LEN,
    SQL_MAX_CHAR_LITERAL_LEN, SQL_TIMEDATE_ADD_INTERVALS, SQL_TIMEDATE_DIFF_INTERVALS,
    SQL_MAX_BINARY_LITERAL_LEN, SQL_OJ_CAPABILITIES, SQL_ALTER_DOMAIN, SQL_SQL_CONFORMANCE,
    SQL_DATETIME_LITERALS, SQL_BATCH_ROW_COUNT, SQL_BATCH_SUPPORT,
    SQL_CONVERT_INTERVAL_DAY_TIME, SQL_CONVERT_INTERVAL_YEAR_MONTH, SQL_INSERT_STATEMENT,
    SQL_CURSOR_SENSITIVITY, SQL_ASYNC_MODE, SQL_MAX_ASYNC_CONCURRENT_STATEMENTS,
};
// ... and every type from SQL_CREATE_ASSERTION to SQL_DDL_INDEX.
constexpr uint16_t kInfo32RangeFirst = SQL_CREATE_ASSERTION;  // 127
constexpr uint16_t kInfo32RangeLast = SQL_DDL_INDEX;          // 170

constexpr int kInfo32ListedCount = static_cast<int>(std::size(kInfo32Listed));
constexpr int kInfo32RangeCount = kInfo32RangeLast - kInfo32RangeFirst + 1;
constexpr int kInfo32Count =
    kInfo32ListedCount + kInfo32RangeCount + static_cast<int>(std::size(kConversionTypes));

static_assert(std::size(kInfo16) <= CONN_CACHE_INT16, "16-bit answers fit the cache");
static_assert(std::size(kInfoText) <= CONN_CACHE_TEXT, "text answers fit the cache");
static_assert(kInfo32Count <= CONN_CACHE_INT32, "32-bit answers fit the cache");

template <size_t N>
int IndexOf(const uint16_t (&list)[N], uint16_t type) {
  for (size_t i = 0; i < N; ++i) {
    if (list[i] == type) return static_cast<int>(i);
  }
  return -1;
}

bool IsConversionType(uint16_t type) { return IndexOf(kConversionTypes, type) >= 0; }

// Answers that are pointer-sized (handles of the driver and its library).
bool IsHandleType(uint16_t type) {
  return type == SQL_DRIVER_HDBC || type == SQL_DRIVER_HENV || type == SQL_DRIVER_HSTMT ||
         type == SQL_DRIVER_HLIB || type == SQL_DRIVER_HDESC;
}

// The character types every date, time and binary type converts to.
constexpr uint32_t kCvtTexts = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR;

// The mask of a conversion type when the agent does not answer it.
uint32_t LocalConversionMask(const ConnRecord* conn, uint16_t type, char mode) {
  uint32_t mask = 0;
  switch (type) {
    case SQL_CONVERT_DATE:
      mask = ConnTypeConvertible(conn, SQL_DATE, OPT_CONVERTS_DATE)
                 ? kCvtTexts | SQL_CVT_DATE | SQL_CVT_TIMESTAMP
                 : 0;
      break;
    case SQL_CONVERT_TIME:
      mask = ConnTypeConvertible(conn, SQL_TIME, OPT_CONVERTS_TIME)
                 ? kCvtTexts | SQL_CVT_TIME | SQL_CVT_TIMESTAMP
                 : 0;
      break;
    case SQL_CONVERT_TIMESTAMP:
      mask = ConnTypeConvertible(conn, SQL_TIMESTAMP, OPT_CONVERTS_TIMESTAMP)
                 ? kCvtTexts | SQL_CVT_DATE | SQL_CVT_TIME | SQL_CVT_TIMESTAMP
                 : 0;
      break;
    case SQL_CONVERT_BINARY: case SQL_CONVERT_VARBINARY: case SQL_CONVERT_LONGVARBINARY:
      mask = ConnTypeConvertible(conn, SQL_BINARY, OPT_CONVERTS_ANY)
                 ? kCvtTexts | SQL_CVT_BINARY | SQL_CVT_VARBINARY | SQL_CVT_LONGVARBINARY
                 : 0;
      break;
    default:
      // Character and number types convert among themselves.
      mask = SQL_CVT_CHAR | SQL_CVT_NUMERIC | SQL_CVT_DECIMAL | SQL_CVT_INTEGER |
             SQL_CVT_SMALLINT | SQL_CVT_FLOAT | SQL_CVT_REAL | SQL_CVT_DOUBLE | SQL_CVT_VARCHAR |
             SQL_CVT_LONGVARCHAR | SQL_CVT_BIT | SQL_CVT_TINYINT | SQL_CVT_BIGINT;
      break;
  }
  // A wide client also converts to and from the wide character types.
  if (mask != 0 && mode == 'W') mask |= SQL_CVT_WCHAR | SQL_CVT_WLONGVARCHAR | SQL_CVT_WVARCHAR;
  return mask;
}

SQLRETURN PutText(ConnRecord* conn, const char* text, void* buffer, int16_t bufferLength,
                  int16_t* length, char mode) {
  int64_t full = 0;
  SQLRETURN rc = ConnPutText(conn, text, strlen(text), buffer, bufferLength, &full, mode);
  if (length != nullptr && rc != SQL_ERROR) {
    *length = static_cast<int16_t>(full > INT16_MAX ? INT16_MAX : full);
  }
  return rc;
}

// Asks the agent a number answer, through the cache of its width.
SQLRETURN AgentNumber(ConnRecord* conn, uint16_t type, void* buffer, int16_t* length) {
  const uint16_t asked = type == kOjCapabilitiesV2 ? SQL_OJ_CAPABILITIES : type;
  const int slot16 = InfoCacheSlot16(type);
  const int slot32 = slot16 < 0 ? InfoCacheSlot32(type) : -1;
  uint32_t answer = 0;
  if (slot16 >= 0 && conn->infoCache16[slot16] != 0xFFFF) {
    answer = conn->infoCache16[slot16];
  } else if (slot32 >= 0 && conn->infoCache32[slot32] != -1) {
    answer = static_cast<uint32_t>(conn->infoCache32[slot32]);
  } else {
    int32_t value = 0;
    uint16_t got = 0;
    int32_t rc = AgentCall(conn->binding, &AgentOps::DRV_GetProperty, conn->agentConn,
                           AP_CONN_GETINFO_INT + asked, static_cast<void*>(&value),
                           static_cast<uint16_t>(sizeof value), &got);
    if (rc != 0) return Fail(conn, rc);
    answer = static_cast<uint32_t>(value);
    if (slot16 >= 0) {
      answer &= 0xFFFF;
      conn->infoCache16[slot16] = static_cast<uint16_t>(answer);
    } else {
      conn->infoCache32[slot32] = value;
    }
  }
  // Never promise what the connection's layers do not carry out.
  answer = CapCutInfo(conn, type, answer);
  if (slot16 >= 0) return InfoPutU16(static_cast<uint16_t>(answer), buffer, length);
  if (IsHandleType(type)) return InfoPutULen(answer, buffer, length);
  return InfoPutU32(answer, buffer, length);
}

SQLRETURN AgentText(ConnRecord* conn, uint16_t type, void* buffer, int16_t bufferLength,
                    int16_t* length, char mode) {
  // Refused before the agent is asked, so that a bad call costs nothing.
  if (bufferLength < 0) return Fail(conn, KX_ERR_BAD_LENGTH);
  const int slot = type == SQL_DATABASE_NAME ? -1 : InfoCacheSlotText(type);
  if (slot >= 0 && conn->infoCacheText[slot] != nullptr) {
    return PutText(conn, conn->infoCacheText[slot], buffer, bufferLength, length, mode);
  }
  char answer[kAgentTextCapacity + 1] = {0};
  uint16_t got = 0;
  int32_t rc = AgentCall(conn->binding, &AgentOps::DRV_GetProperty, conn->agentConn,
                         AP_CONN_GETINFO_TEXT + type, static_cast<void*>(answer),
                         kAgentTextCapacity, &got);
  if (rc != 0) return Fail(conn, rc);
  answer[kAgentTextCapacity] = '\0';
  // Without memory for the cache the answer is still given, and asked again
  // next time.
  if (slot >= 0) conn->infoCacheText[slot] = strdup(answer);
  return PutText(conn, answer, buffer, bufferLength, length, mode);
}

}  // namespace

int InfoCacheSlot16(uint16_t type) { return IndexOf(kInfo16, type); }

int InfoCacheSlotText(uint16_t type) {
  return type == SQL_DATABASE_NAME ? -1 : IndexOf(kInfoText, type);
}

int InfoCacheSlot32(uint16_t type) {
  if (type == kOjCapabilitiesV2) type = SQL_OJ_CAPABILITIES;
  int i = IndexOf(kInfo32Listed, type);
  if (i >= 0) return i;
  if (type >= kInfo32RangeFirst && type <= kInfo32RangeLast) {
    return kInfo32ListedCount + (type - kInfo32RangeFirst);
  }
  i = IndexOf(kConversionTypes, type);
  return i >= 0 ? kInfo32ListedCount + kInfo32RangeCount + i : -1;
}

namespace {

// The date and time C types under their ODBC 2 codes: the agent's table may
// name them either way, and an ODBC 3 application's default C type names
// them by the ODBC 3 codes; both mean the same row.
int32_t DatetimeAsV2(int32_t cType) {
  switch (cType) {
    case SQL_C_TYPE_DATE: return SQL_C_DATE;
    case SQL_C_TYPE_TIME: return SQL_C_TIME;
    case SQL_C_TYPE_TIMESTAMP: return SQL_C_TIMESTAMP;
    default: return cType;
  }
}

}  // namespace

int ConnTypeConvertible(const ConnRecord* conn, int32_t sqlType, uint32_t mask) {
  const OpTable& table = conn->opTable;
  if (table.type != OP_TABLE_SQL_TYPES || table.rows == nullptr) return 0;
  const int32_t wanted = DatetimeAsV2(DefaultCType(sqlType, OdbcVersion(conn)));
  for (int32_t i = 0; i < table.count; ++i) {
    if (DatetimeAsV2(table.rows[i].sqlType) == wanted) return (table.rows[i].mask & mask) != 0 ? 1 : 0;
  }
  return 0;
}

SQLRETURN InfoPutU16(uint16_t value, void* buffer, int16_t* length) {
  if (buffer != nullptr) memcpy(buffer, &value, sizeof value);
  if (length != nullptr) *length = sizeof value;
  return SQL_SUCCESS;
}

SQLRETURN InfoPutU32(uint32_t value, void* buffer, int16_t* length) {
  if (buffer != nullptr) memcpy(buffer, &value, sizeof value);
  if (length != nullptr) *length = sizeof value;
  return SQL_SUCCESS;
}

SQLRETURN InfoPutULen(uint64_t value, void* buffer, int16_t* length) {
  const SQLULEN v = static_cast<SQLULEN>(value);
  if (buffer != nullptr) memcpy(buffer, &v, sizeof v);
  if (length != nullptr) *length = sizeof v;
  return SQL_SUCCESS;
}

SQLRETURN ConnPutText(ConnRecord* conn, const char* text, size_t n, void* buffer, int64_t capacity,
                      int64_t* full, char mode) {
  if (capacity < 0) return Fail(conn, KX_ERR_BAD_LENGTH);
  if (mode == 'W') {
    return CopyOutNarrowToWide(text, n, static_cast<int64_t>(n), 0, 1, 1, buffer, capacity, full,
                               &conn->error);
  }
  // A cut 8-bit copy ends on a whole character: offer only what fits, and the
  // whole length as the value's total.
  size_t piece = n;
  if (buffer != nullptr && capacity > 0 && n + 1 > static_cast<uint64_t>(capacity)) {
    piece = Utf8CharBoundary(text, static_cast<size_t>(capacity - 1));
  }
  return CopyOutNarrow(text, piece, static_cast<int64_t>(piece), static_cast<int64_t>(n), 1, 1,
                       buffer, capacity, full, &conn->error);
}

SQLRETURN ConnGetInfo(ConnRecord* conn, uint16_t type, void* buffer, int16_t bufferLength,
                      int16_t* length, char mode) {
  // The driver's own answers, whatever the connection's state.
  switch (type) {
    case SQL_DATA_SOURCE_NAME:
      return PutText(conn, conn->dsn != nullptr ? conn->dsn : "", buffer, bufferLength, length, mode);
    case SQL_DRIVER_NAME: {
      std::string name;
      try {
        name = DriverLibraryName();
      } catch (const std::bad_alloc&) {
        return Fail(conn, KX_ERR_NOMEM);
      }
      return PutText(conn, name.c_str(), buffer, bufferLength, length, mode);
    }
    case SQL_ODBC_API_CONFORMANCE:
      return InfoPutU16(SQL_OAC_LEVEL1, buffer, length);
    case SQL_DRIVER_ODBC_VER:
      return PutText(conn, kDriverOdbcVersion, buffer, bufferLength, length, mode);
    case SQL_DTC_TRANSITION_COST:
      return InfoPutU32(SQL_DTC_ENLIST_EXPENSIVE | SQL_DTC_UNENLIST_EXPENSIVE, buffer, length);
    default:
      break;
  }
  const bool connected = conn->state == CONN_CONNECTED;
  if (IsConversionType(type) && !(connected && conn->cn_agentConvertInfo)) {
    return InfoPutU32(LocalConversionMask(conn, type, mode), buffer, length);
  }
  if (!connected) return Fail(conn, KX_ERR_NOT_CONNECTED);
  if (InfoCacheSlot16(type) >= 0 || InfoCacheSlot32(type) >= 0) {
    return AgentNumber(conn, type, buffer, length);
  }
  if (type == SQL_DATABASE_NAME || InfoCacheSlotText(type) >= 0) {
    return AgentText(conn, type, buffer, bufferLength, length, mode);
  }
  return Fail(conn, KX_ERR_BAD_INFO_TYPE);
}

// SQLGetInfo(W): type, value*, buffer length, length*, form
SQLRETURN ConnGetInfoCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnGetInfo(static_cast<ConnRecord*>(rec), args.Get<uint16_t>(0), args.Get<void*>(1),
                     args.Get<int16_t>(2), args.Get<int16_t*>(3), args.Get<char>(4));
}

}  // namespace kx
