#include "drv_jdbc/j_info.h"

#include <sqlext.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "agent/agent.h"
#include "agent/build_flavor.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_meta.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

const JdbcFunctionName JDB_FunctionNames[] = {
    {"ABS", SQL_FN_NUM_ABS, JFN_NUMERIC},
    {"ACOS", SQL_FN_NUM_ACOS, JFN_NUMERIC},
    {"ASIN", SQL_FN_NUM_ASIN, JFN_NUMERIC},
    {"ATAN", SQL_FN_NUM_ATAN, JFN_NUMERIC},
    {"ATAN2", SQL_FN_NUM_ATAN2, JFN_NUMERIC},
    {"CEILING", SQL_FN_NUM_CEILING, JFN_NUMERIC},
    {"COS", SQL_FN_NUM_COS, JFN_NUMERIC},
    {"COT", SQL_FN_NUM_COT, JFN_NUMERIC},
    {"DEGREES", SQL_FN_NUM_DEGREES, JFN_NUMERIC},
    {"EXP", SQL_FN_NUM_EXP, JFN_NUMERIC},
    {"FLOOR", SQL_FN_NUM_FLOOR, JFN_NUMERIC},
    {"LOG", SQL_FN_NUM_LOG, JFN_NUMERIC},
    {"LOG10", SQL_FN_NUM_LOG10, JFN_NUMERIC},
    {"MOD", SQL_FN_NUM_MOD, JFN_NUMERIC},
    {"PI", SQL_FN_NUM_PI, JFN_NUMERIC},
    {"POWER", SQL_FN_NUM_POWER, JFN_NUMERIC},
    {"RADIANS", SQL_FN_NUM_RADIANS, JFN_NUMERIC},
    {"RAND", SQL_FN_NUM_RAND, JFN_NUMERIC},
    {"ROUND", SQL_FN_NUM_ROUND, JFN_NUMERIC},
    {"SIGN", SQL_FN_NUM_SIGN, JFN_NUMERIC},
    {"SIN", SQL_FN_NUM_SIN, JFN_NUMERIC},
    {"SQRT", SQL_FN_NUM_SQRT, JFN_NUMERIC},
    {"TAN", SQL_FN_NUM_TAN, JFN_NUMERIC},
    {"TRUNCATE", SQL_FN_NUM_TRUNCATE, JFN_NUMERIC},
    {"ASCII", SQL_FN_STR_ASCII, JFN_STRING},
    {"CHAR", SQL_FN_STR_CHAR, JFN_STRING},
    {"CONCAT", SQL_FN_STR_CONCAT, JFN_STRING},
    {"DIFFERENCE", SQL_FN_STR_DIFFERENCE, JFN_STRING},
    {"INSERT", SQL_FN_STR_INSERT, JFN_STRING},
    {"LCASE", SQL_FN_STR_LCASE, JFN_STRING},
    {"LEFT", SQL_FN_STR_LEFT, JFN_STRING},
    {"LENGTH", SQL_FN_STR_LENGTH, JFN_STRING},
    {"LOCATE", SQL_FN_STR_LOCATE, JFN_STRING},
    {"LOCATE_2", SQL_FN_STR_LOCATE_2, JFN_STRING},
    {"LTRIM", SQL_FN_STR_LTRIM, JFN_STRING},
    {"REPEAT", SQL_FN_STR_REPEAT, JFN_STRING},
    {"REPLACE", SQL_FN_STR_REPLACE, JFN_STRING},
    {"RIGHT", SQL_FN_STR_RIGHT, JFN_STRING},
    {"RTRIM", SQL_FN_STR_RTRIM, JFN_STRING},
    {"SOUNDEX", SQL_FN_STR_SOUNDEX, JFN_STRING},
    {"SPACE", SQL_FN_STR_SPACE, JFN_STRING},
    {"SUBSTRING", SQL_FN_STR_SUBSTRING, JFN_STRING},
    {"UCASE", SQL_FN_STR_UCASE, JFN_STRING},
    {"DBNAME", SQL_FN_SYS_DBNAME, JFN_SYSTEM},
    {"USERNAME", SQL_FN_SYS_USERNAME, JFN_SYSTEM},
    {"USER", SQL_FN_SYS_USERNAME, JFN_SYSTEM},
    {"USERNAME", SQL_FN_SYS_USERNAME, JFN_SYSTEM},
    {"IFNULL", SQL_FN_SYS_IFNULL, JFN_SYSTEM},
    {"CURDATE", SQL_FN_TD_CURDATE, JFN_TIMEDATE},
    {"CURTIME", SQL_FN_TD_CURTIME, JFN_TIMEDATE},
    {"DAYNAME", SQL_FN_TD_DAYNAME, JFN_TIMEDATE},
    {"DAYOFMONTH", SQL_FN_TD_DAYOFMONTH, JFN_TIMEDATE},
    {"DAYOFWEEK", SQL_FN_TD_DAYOFWEEK, JFN_TIMEDATE},
    {"DAYOFYEAR", SQL_FN_TD_DAYOFYEAR, JFN_TIMEDATE},
    {"HOUR", SQL_FN_TD_HOUR, JFN_TIMEDATE},
    {"MINUTE", SQL_FN_TD_MINUTE, JFN_TIMEDATE},
    {"MONTH", SQL_FN_TD_MONTH, JFN_TIMEDATE},
    {"MONTHNAME", SQL_FN_TD_MONTHNAME, JFN_TIMEDATE},
    {"NOW", SQL_FN_TD_NOW, JFN_TIMEDATE},
    {"QUARTER", SQL_FN_TD_QUARTER, JFN_TIMEDATE},
    {"SECOND", SQL_FN_TD_SECOND, JFN_TIMEDATE},
    {"TIMESTAMPADD", SQL_FN_TD_TIMESTAMPADD, JFN_TIMEDATE},
    {"TIMESTAMPDIFF", SQL_FN_TD_TIMESTAMPDIFF, JFN_TIMEDATE},
    {"WEEK", SQL_FN_TD_WEEK, JFN_TIMEDATE},
    {"YEAR", SQL_FN_TD_YEAR, JFN_TIMEDATE},
};
const int JDB_FunctionNameCount = static_cast<int>(sizeof JDB_FunctionNames / sizeof JDB_FunctionNames[0]);
static_assert(sizeof JDB_FunctionNames / sizeof JDB_FunctionNames[0] == 65, "65 function names");

namespace {

struct ConvertTarget {
  int32_t type;
  uint32_t bit;
};

// The JDBC types asked about for each SQL_CONVERT_* answer. The ODBC 2
// numbers of DATE, TIME and TIMESTAMP are asked as well as the JDBC ones.
constexpr ConvertTarget kConvertTargets[] = {
    {JT_BIT, SQL_CVT_BIT},
    {JT_TINYINT, SQL_CVT_TINYINT},
    {JT_SMALLINT, SQL_CVT_SMALLINT},
    {JT_INTEGER, SQL_CVT_INTEGER},
    {JT_BIGINT, SQL_CVT_BIGINT},
    {JT_FLOAT, SQL_CVT_FLOAT},
    {JT_REAL, SQL_CVT_REAL},
    {JT_DOUBLE, SQL_CVT_DOUBLE},
    {JT_NUMERIC, SQL_CVT_NUMERIC},
    {JT_DECIMAL, SQL_CVT_DECIMAL},
    {JT_CHAR, SQL_CVT_CHAR},
    {JT_VARCHAR, SQL_CVT_VARCHAR},
    {JT_LONGVARCHAR, SQL_CVT_LONGVARCHAR},
    {SQL_DATE, SQL_CVT_DATE},
    {JT_DATE, SQL_CVT_DATE},
    {SQL_TIME, SQL_CVT_TIME},
    {JT_TIME, SQL_CVT_TIME},
    {SQL_TIMESTAMP, SQL_CVT_TIMESTAMP},
    {JT_TIMESTAMP, SQL_CVT_TIMESTAMP},
    {JT_BINARY, SQL_CVT_BINARY},
    {JT_VARBINARY, SQL_CVT_VARBINARY},
    {JT_LONGVARBINARY, SQL_CVT_LONGVARBINARY},
};

// Source type of each SQL_CONVERT_* answer, SQL_CONVERT_BIGINT to
// SQL_CONVERT_LONGVARBINARY in their ODBC order.
constexpr int32_t kConvertSources[] = {
    JT_BIGINT,  JT_BINARY,  JT_BIT,      JT_CHAR,     JT_DATE,     JT_DECIMAL, JT_DOUBLE,
    JT_FLOAT,   JT_INTEGER, JT_LONGVARCHAR, JT_NUMERIC, JT_REAL,  JT_SMALLINT, JT_TIME,
    JT_TIMESTAMP, JT_TINYINT, JT_VARBINARY, JT_VARCHAR, JT_LONGVARBINARY};
static_assert(std::size(kConvertSources) == SQL_CONVERT_LONGVARBINARY - SQL_CONVERT_BIGINT + 1,
              "one source per SQL_CONVERT_* answer");

// DatabaseMetaData asked method by method; the first failure is kept and
// every later question answers false or 0 without a call, so no answer is
// built from a failed call.
class Meta {
 public:
  explicit Meta(JConn* c) : c_(c) {}
  int status() const { return status_; }
  bool B(const char* method) {
    uint8_t v = 0;
    if (status_ == 0) status_ = JC_DatabaseMetaData_getBoolInfo(c_, c_->meta, method, &v);
    return status_ == 0 && v != 0;
  }
  int32_t I(const char* method) {
    int32_t v = 0;
    if (status_ == 0) status_ = JC_DatabaseMetaData_getIntInfo(c_, c_->meta, method, &v);
    return status_ == 0 ? v : 0;
  }
  void S(const char* method, char* text, size_t capacity) {
    if (status_ == 0) status_ = JC_DatabaseMetaData_getStringInfo(c_, c_->meta, method, text, capacity);
    if (status_ != 0 && capacity > 0) text[0] = '\0';
  }
  const char* YN(const char* method) { return B(method) ? "Y" : "N"; }
  bool IsolationLevel(int32_t level) {
    uint8_t v = 0;
    if (status_ == 0) {
      status_ = JC_DatabaseMetaData_supportsTransactionIsolationLevel(c_, c_->meta, &v, level);
    }
    return status_ == 0 && v != 0;
  }

 private:
  JConn* c_;
  int status_ = 0;
};

void PutText(char* text, size_t capacity, const char* value) {
  if (capacity == 0) return;
  size_t n = std::strlen(value);
  if (n >= capacity) n = capacity - 1;
  StrCopyBytes(text, value, n);
}

// What the cursor layer the driver's wiring lays over the agent serves:
// forward-only, static, keyset-driven and dynamic cursors, rowsets, scrolling
// in every direction, bookmarks (a row's number in the result). A keyset-driven cursor
// sees the updates and deletes of others when it fetches a row again, and
// changes its rows through SQLSetPos, SQLBulkOperations and positioned
// statements under lock or optimistic concurrency (comparing values, or
// comparing row versions: a digest of the whole row as the application last
// saw it). A static cursor under lock or optimistic concurrency caches its
// rows with their keys and changes them the same way. Mixed and dynamic
// cursors change the rows of their rowset the same way too (SQLSetPos and
// positioned statements).
constexpr int32_t kFetchDirections = SQL_FD_FETCH_NEXT | SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST |
                                     SQL_FD_FETCH_PRIOR | SQL_FD_FETCH_ABSOLUTE | SQL_FD_FETCH_RELATIVE |
                                     SQL_FD_FETCH_BOOKMARK;
constexpr int32_t kForwardOnlyAttrs2 =
    SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_CRC_EXACT | SQL_CA2_SIMULATE_NON_UNIQUE;
constexpr int32_t kStaticAttrs1 = SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK |
                                  SQL_CA1_LOCK_NO_CHANGE | SQL_CA1_POS_POSITION | SQL_CA1_POS_REFRESH |
                                  SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE | SQL_CA1_BULK_ADD |
                                  SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE |
                                  SQL_CA1_BULK_UPDATE_BY_BOOKMARK | SQL_CA1_BULK_DELETE_BY_BOOKMARK |
                                  SQL_CA1_BULK_FETCH_BY_BOOKMARK;
constexpr int32_t kStaticAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                  SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY |
                                  SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_CRC_EXACT;
constexpr int32_t kKeysetAttrs1 = kStaticAttrs1;
// A keyset-driven cursor keeps its keys: a row deleted (by the cursor or by
// another user) stays a hole that shows SQL_ROW_DELETED, so deletions are
// not claimed; updates show when a row is read again.
constexpr int32_t kKeysetAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                  SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY |
                                  SQL_CA2_SENSITIVITY_UPDATES | SQL_CA2_CRC_EXACT;
constexpr int32_t kPosOperations = SQL_POS_POSITION | SQL_POS_REFRESH | SQL_POS_UPDATE | SQL_POS_DELETE | SQL_POS_ADD;
// A dynamic cursor reads each rowset's keys afresh by seeking from the
// current one: it has no row numbers, so no absolute positioning, no
// bookmarks and no bulk operations (SQL_CA1_ABSOLUTE would also promise
// SQL_FETCH_ABSOLUTE, so FIRST and LAST, which it does, go unclaimed). The
// rows of its rowset have keys: SQLSetPos changes them and positioned
// statements name them.
constexpr int32_t kDynamicAttrs1 = SQL_CA1_NEXT | SQL_CA1_RELATIVE | SQL_CA1_LOCK_NO_CHANGE | SQL_CA1_POS_POSITION |
                                   SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE | SQL_CA1_POS_REFRESH |
                                   SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE;
constexpr int32_t kDynamicAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                   SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY |
                                   SQL_CA2_SENSITIVITY_ADDITIONS |
                                   SQL_CA2_SENSITIVITY_DELETIONS | SQL_CA2_SENSITIVITY_UPDATES;
// Bookmarks stay valid across scrolling and the cursor's own changes.
constexpr int32_t kBookmarkPersistence = SQL_BP_SCROLL | SQL_BP_UPDATE | SQL_BP_DELETE;

// Answers that need no Java, one row a type.
struct FixedRow {
  uint16_t type;
  int32_t number;
  const char* text;  // a text answer when not null
};

// The ODBC version the driver conforms to, as SQL_DRIVER_ODBC_VER and
// SQL_ODBC_VER give it.
constexpr const char kDriverOdbcVersion[] = "03.50";
constexpr const char kOdbcVersion[] = "03.50.0000";

const FixedRow kFixedAnswers[] = {
    {SQL_DATA_SOURCE_NAME, 0, " "},
    {SQL_DRIVER_HDBC, 0, nullptr},
    {SQL_DRIVER_HENV, 0, nullptr},
    {SQL_DRIVER_HSTMT, 0, nullptr},
    {SQL_DRIVER_HLIB, 0, nullptr},
    {SQL_DRIVER_VER, 0, KX_DRIVER_VER},
    {SQL_FETCH_DIRECTION, kFetchDirections, nullptr},
    {SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1, nullptr},
    {SQL_ODBC_VER, 0, kOdbcVersion},
    {SQL_ROW_UPDATES, 0, "N"},
    {SQL_ODBC_SAG_CLI_CONFORMANCE, SQL_OSCC_COMPLIANT, nullptr},
    {SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK | SQL_SCCO_OPT_ROWVER | SQL_SCCO_OPT_VALUES, nullptr},
    {SQL_TABLE_TERM, 0, "Table"},
    {SQL_DRIVER_ODBC_VER, 0, kDriverOdbcVersion},
    {SQL_LOCK_TYPES, SQL_LCK_NO_CHANGE, nullptr},
    {SQL_POS_OPERATIONS, kPosOperations, nullptr},
    {SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BLOCK, nullptr},
    {SQL_BOOKMARK_PERSISTENCE, kBookmarkPersistence, nullptr},
    // A static or keyset-driven cursor shows the rows it updated with their
    // new values; the rows it deleted stay as holes, added ones are not seen.
    {SQL_STATIC_SENSITIVITY, SQL_SS_UPDATES, nullptr},
    {SQL_TIMEDATE_ADD_INTERVALS, 0, nullptr},
    {SQL_TIMEDATE_DIFF_INTERVALS, 0, nullptr},
    {SQL_NEED_LONG_DATA_LEN, 0, "Y"},
    {SQL_ACTIVE_ENVIRONMENTS, 1, nullptr},
    {SQL_ALTER_DOMAIN, 0, nullptr},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT, nullptr},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, kForwardOnlyAttrs2, nullptr},
    {SQL_INDEX_KEYWORDS, 0, nullptr},
    {SQL_INFO_SCHEMA_VIEWS, 0, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, kKeysetAttrs1, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, kKeysetAttrs2, nullptr},
    {SQL_ODBC_INTERFACE_CONFORMANCE, static_cast<int32_t>(SQL_OIC_CORE), nullptr},
    // A parameter array gives one row count, the sum over its rows (batches
    // included), and a query run with one gives a result per parameter set.
    {SQL_PARAM_ARRAY_ROW_COUNTS, SQL_PARC_NO_BATCH, nullptr},
    {SQL_PARAM_ARRAY_SELECTS, SQL_PAS_BATCH, nullptr},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, SQL_SRVC_VALUE_EXPRESSION | SQL_SRVC_ROW_SUBQUERY, nullptr},
    {SQL_SQL92_STRING_FUNCTIONS, 0, nullptr},
    {SQL_SQL92_VALUE_EXPRESSIONS, 0, nullptr},
    {SQL_STANDARD_CLI_CONFORMANCE, 0, nullptr},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, kStaticAttrs1, nullptr},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, kStaticAttrs2, nullptr},
    {SQL_AGGREGATE_FUNCTIONS, SQL_AF_ALL, nullptr},
    {SQL_DDL_INDEX, 0, nullptr},
    {SQL_INSERT_STATEMENT, SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED | SQL_IS_SELECT_INTO, nullptr},
    {SQL_XOPEN_CLI_YEAR, 0, ""},
    // Keyset-driven and dynamic cursors show the changes others make.
    {SQL_CURSOR_SENSITIVITY, SQL_SENSITIVE, nullptr},
    {SQL_DESCRIBE_PARAMETER, 0, "Y"},
    {SQL_CATALOG_NAME, 0, "Y"},
    {SQL_COLLATION_SEQ, 0, ""},
    {SQL_MAX_IDENTIFIER_LEN, 30, nullptr},
    {SQL_ASYNC_MODE, SQL_AM_STATEMENT, nullptr},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0, nullptr},
};

// The SQL-92 and later capability words, SQL_DATETIME_LITERALS to
// SQL_DROP_VIEW and SQL_SQL92_DATETIME_FUNCTIONS to SQL_SQL92_REVOKE: none
// is claimed.
bool NoCapabilityClaimed(uint16_t type) {
  return (type >= SQL_DATETIME_LITERALS && type <= SQL_DROP_VIEW) ||
         (type >= SQL_SQL92_DATETIME_FUNCTIONS && type <= SQL_SQL92_REVOKE);
}

// Dynamic cursors are offered unless the connection disables them
// (DYN_CURS_SENSITIVITY=DISABLED).
bool DynamicOffered(const JConn* c) { return c == nullptr || c->opts.dynCursSensitivity != DCS_DISABLED; }

// The cursor answers that depend on whether dynamic cursors are offered.
// True when the type is one of them.
bool CursorAnswer(const JConn* c, uint16_t type, int32_t* number) {
  const bool dynamic = DynamicOffered(c);
  switch (type) {
    case SQL_SCROLL_OPTIONS:
      *number = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED |
                (dynamic ? SQL_SO_DYNAMIC : 0);
      return true;
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1: *number = dynamic ? kDynamicAttrs1 : 0; return true;
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2: *number = dynamic ? kDynamicAttrs2 : 0; return true;
    default: return false;
  }
}

// Answers that need no Java. True when the type is one of them.
bool FixedAnswer(const JConn* c, uint16_t type, int32_t* number, char* text, size_t capacity) {
  if (CursorAnswer(c, type, number)) return true;
  for (const FixedRow& row : kFixedAnswers) {
    if (row.type != type) continue;
    if (row.text != nullptr) PutText(text, capacity, row.text);
    else *number = row.number;
    return true;
  }
  if (NoCapabilityClaimed(type)) {
    *number = 0;
    return true;
  }
  return false;
}

}  // namespace

HashTable* JDB_MakeFunctionNameMap() {
  HashTable* map = HashCreate(JDB_FunctionNameCount, 0);
  if (map == nullptr) return nullptr;
  for (int i = 0; i < JDB_FunctionNameCount; ++i) {
    if (HashSet(map, JDB_FunctionNames[i].name, static_cast<uint64_t>(i + 1)) == nullptr) {
      HashDestroy(map);
      return nullptr;
    }
  }
  return map;
}

uint32_t JDB_FunctionListMask(char* text, const HashTable* map, uint32_t category) {
  if (map == nullptr || text == nullptr) return 0;
  uint32_t mask = 0;
  char* p = text;
  while (*p != '\0') {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* start = p;
    while (*p != '\0' && *p != ',') {
      *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
      ++p;
    }
    char* end = p;
    while (end > start && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
    const char saved = *end;
    *end = '\0';
    uint64_t row = HashGet(map, start);
    *end = saved;
    if (row >= 1 && row <= static_cast<uint64_t>(JDB_FunctionNameCount) &&
        JDB_FunctionNames[row - 1].category == category) {
      mask |= JDB_FunctionNames[row - 1].bit;
    }
    if (*p == ',') ++p;
  }
  return mask;
}

uint32_t JDB_ConvertMask(JConn* c, int* status, int32_t from) {
  uint32_t mask = 0;
  *status = 0;
  for (const ConvertTarget& t : kConvertTargets) {
    uint8_t yes = 0;
    int rc = JC_DatabaseMetaData_supportsConvert(c, c->meta, &yes, from, t.type);
    if (rc != 0) {
      *status = rc;
      return 0;
    }
    if (yes != 0) mask |= t.bit;
  }
  return mask;
}

namespace {

// How an answer is read from DatabaseMetaData.
enum class Ask : uint8_t {
  Int,      // an int getter
  Text,     // a String getter
  YesNo,    // a boolean getter as "Y" or "N"
  NoYes,    // a boolean getter as "N" or "Y"
  Flags,    // `otherwise` and the bits whose boolean getter holds, asked in order
  FirstOf,  // the value of the first boolean getter that holds, else `otherwise`
};

// A boolean getter and what it stands for.
struct MetaBit {
  const char* method;
  int32_t value;
};

constexpr int kMaxMetaBits = 5;

struct MetaAnswer {
  uint16_t type;
  Ask ask;
  const char* method;  // Int, Text, YesNo, NoYes
  MetaBit bits[kMaxMetaBits];  // Flags, FirstOf; ends at the first without a method
  int32_t otherwise;  // FirstOf: when none holds; Flags: the bits always claimed
};

// The ODBC 2 number of SQL_OJ_CAPABILITIES.
constexpr uint16_t kOjCapabilitiesV2 = 65003;

constexpr int32_t kOuterJoinsFull =
    SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED | SQL_OJ_INNER;
constexpr int32_t kOuterJoinsLimited = SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_NOT_ORDERED | SQL_OJ_INNER;
// Neither the ODBC identifier cases nor SQL conformance has a name for "none holds".
constexpr int32_t kNoneHolds = 0;

const MetaAnswer kMetaAnswers[] = {
    {SQL_MAX_DRIVER_CONNECTIONS, Ask::Int, "getMaxConnections", {}, 0},
    {SQL_SERVER_NAME, Ask::Text, "getDatabaseProductName", {}, 0},
    {SQL_ODBC_SQL_CONFORMANCE, Ask::FirstOf, nullptr,
     {{"supportsExtendedSQLGrammar", SQL_OSC_EXTENDED}, {"supportsCoreSQLGrammar", SQL_OSC_CORE}},
     SQL_OSC_MINIMUM},
    {SQL_ACCESSIBLE_TABLES, Ask::YesNo, "allTablesAreSelectable", {}, 0},
    {SQL_ACCESSIBLE_PROCEDURES, Ask::YesNo, "allProceduresAreCallable", {}, 0},
    {SQL_PROCEDURES, Ask::YesNo, "supportsStoredProcedures", {}, 0},
    {SQL_CONCAT_NULL_BEHAVIOR, Ask::FirstOf, nullptr, {{"nullPlusNonNullIsNull", SQL_CB_NULL}},
     SQL_CB_NON_NULL},
    {SQL_CURSOR_COMMIT_BEHAVIOR, Ask::FirstOf, nullptr,
     {{"supportsOpenCursorsAcrossCommit", SQL_CB_PRESERVE},
      {"supportsOpenStatementsAcrossCommit", SQL_CB_CLOSE}},
     SQL_CB_DELETE},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, Ask::FirstOf, nullptr,
     {{"supportsOpenCursorsAcrossRollback", SQL_CB_PRESERVE},
      {"supportsOpenStatementsAcrossRollback", SQL_CB_CLOSE}},
     SQL_CB_DELETE},
    {SQL_DATA_SOURCE_READ_ONLY, Ask::YesNo, "isReadOnly", {}, 0},
    {SQL_DEFAULT_TXN_ISOLATION, Ask::Int, "getDefaultTransactionIsolation", {}, 0},
    {SQL_EXPRESSIONS_IN_ORDERBY, Ask::YesNo, "supportsExpressionsInOrderBy", {}, 0},
    {SQL_IDENTIFIER_CASE, Ask::FirstOf, nullptr,
     {{"storesUpperCaseIdentifiers", SQL_IC_UPPER},
      {"storesLowerCaseIdentifiers", SQL_IC_LOWER},
      {"storesMixedCaseIdentifiers", SQL_IC_MIXED},
      {"supportsMixedCaseIdentifiers", SQL_IC_SENSITIVE}},
     kNoneHolds},
    {SQL_MAX_COLUMN_NAME_LEN, Ask::Int, "getMaxColumnNameLength", {}, 0},
    {SQL_MAX_CURSOR_NAME_LEN, Ask::Int, "getMaxCursorNameLength", {}, 0},
    {SQL_MAX_SCHEMA_NAME_LEN, Ask::Int, "getMaxSchemaNameLength", {}, 0},
    {SQL_MAX_PROCEDURE_NAME_LEN, Ask::Int, "getMaxProcedureNameLength", {}, 0},
    {SQL_MAX_CATALOG_NAME_LEN, Ask::Int, "getMaxCatalogNameLength", {}, 0},
    {SQL_MAX_TABLE_NAME_LEN, Ask::Int, "getMaxTableNameLength", {}, 0},
    {SQL_MULT_RESULT_SETS, Ask::YesNo, "supportsMultipleResultSets", {}, 0},
    {SQL_MULTIPLE_ACTIVE_TXN, Ask::YesNo, "supportsMultipleTransactions", {}, 0},
    {SQL_OUTER_JOINS, Ask::YesNo, "supportsOuterJoins", {}, 0},
    {SQL_SCHEMA_TERM, Ask::Text, "getSchemaTerm", {}, 0},
    {SQL_PROCEDURE_TERM, Ask::Text, "getProcedureTerm", {}, 0},
    {SQL_CATALOG_NAME_SEPARATOR, Ask::Text, "getCatalogSeparator", {}, 0},
    {SQL_CATALOG_TERM, Ask::Text, "getCatalogTerm", {}, 0},
    {SQL_TXN_CAPABLE, Ask::FirstOf, nullptr,
     {{"dataDefinitionIgnoredInTransactions", SQL_TC_DDL_IGNORE},
      {"dataDefinitionCausesTransactionCommit", SQL_TC_DDL_COMMIT},
      {"supportsDataDefinitionAndDataManipulationTransactions", SQL_TC_ALL},
      {"supportsDataManipulationTransactionsOnly", SQL_TC_DML}},
     SQL_TC_NONE},
    {SQL_USER_NAME, Ask::Text, "getUserName", {}, 0},
    {SQL_CONVERT_FUNCTIONS, Ask::Flags, nullptr, {{"supportsConvert", SQL_FN_CVT_CONVERT}}, 0},
    {SQL_INTEGRITY, Ask::YesNo, "supportsIntegrityEnhancementFacility", {}, 0},
    {SQL_CORRELATION_NAME, Ask::FirstOf, nullptr, {{"supportsTableCorrelationNames", SQL_CN_ANY}},
     SQL_CN_NONE},
    {SQL_NON_NULLABLE_COLUMNS, Ask::FirstOf, nullptr, {{"supportsNonNullableColumns", SQL_NNC_NON_NULL}},
     SQL_NNC_NULL},
    // The cursor layer carries positioned UPDATE and DELETE out itself,
    // keyed on the named cursor's row; SELECT ... FOR UPDATE is the
    // database's.
    {SQL_POSITIONED_STATEMENTS, Ask::Flags, nullptr, {{"supportsSelectForUpdate", SQL_PS_SELECT_FOR_UPDATE}},
     SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE},
    {SQL_FILE_USAGE, Ask::FirstOf, nullptr,
     {{"usesLocalFiles", SQL_FILE_CATALOG}, {"usesLocalFilePerTable", SQL_FILE_TABLE}},
     SQL_FILE_NOT_SUPPORTED},
    {SQL_NULL_COLLATION, Ask::FirstOf, nullptr,
     {{"nullsAreSortedAtEnd", SQL_NC_END},
      {"nullsAreSortedAtStart", SQL_NC_START},
      {"nullsAreSortedLow", SQL_NC_LOW}},
     SQL_NC_HIGH},
    {SQL_ALTER_TABLE, Ask::Flags, nullptr,
     {{"supportsAlterTableWithDropColumn", SQL_AT_DROP_COLUMN},
      {"supportsAlterTableWithAddColumn", SQL_AT_ADD_COLUMN}},
     0},
    {SQL_COLUMN_ALIAS, Ask::YesNo, "supportsColumnAliasing", {}, 0},
    {SQL_GROUP_BY, Ask::FirstOf, nullptr,
     {{"supportsGroupByUnrelated", SQL_GB_NO_RELATION},
      {"supportsGroupByBeyondSelect", SQL_GB_GROUP_BY_CONTAINS_SELECT},
      {"supportsGroupBy", SQL_GB_GROUP_BY_EQUALS_SELECT}},
     SQL_GB_NOT_SUPPORTED},
    {SQL_KEYWORDS, Ask::Text, "getSQLKeywords", {}, 0},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, Ask::NoYes, "supportsOrderByUnrelated", {}, 0},
    {SQL_SCHEMA_USAGE, Ask::Flags, nullptr,
     {{"supportsSchemasInDataManipulation", SQL_SU_DML_STATEMENTS},
      {"supportsSchemasInProcedureCalls", SQL_SU_PROCEDURE_INVOCATION},
      {"supportsSchemasInTableDefinitions", SQL_SU_TABLE_DEFINITION},
      {"supportsSchemasInIndexDefinitions", SQL_SU_INDEX_DEFINITION},
      {"supportsSchemasInPrivilegeDefinitions", SQL_SU_PRIVILEGE_DEFINITION}},
     0},
    {SQL_CATALOG_USAGE, Ask::Flags, nullptr,
     {{"supportsCatalogsInDataManipulation", SQL_CU_DML_STATEMENTS},
      {"supportsCatalogsInProcedureCalls", SQL_CU_PROCEDURE_INVOCATION},
      {"supportsCatalogsInTableDefinitions", SQL_CU_TABLE_DEFINITION},
      {"supportsCatalogsInIndexDefinitions", SQL_CU_INDEX_DEFINITION},
      {"supportsCatalogsInPrivilegeDefinitions", SQL_CU_PRIVILEGE_DEFINITION}},
     0},
    {SQL_QUOTED_IDENTIFIER_CASE, Ask::FirstOf, nullptr,
     {{"storesMixedCaseQuotedIdentifiers", SQL_IC_MIXED},
      {"storesLowerCaseQuotedIdentifiers", SQL_IC_LOWER},
      {"storesUpperCaseQuotedIdentifiers", SQL_IC_UPPER}},
     SQL_IC_SENSITIVE},
    {SQL_SPECIAL_CHARACTERS, Ask::Text, "getExtraNameCharacters", {}, 0},
    {SQL_SUBQUERIES, Ask::Flags, nullptr,
     {{"supportsCorrelatedSubqueries", SQL_SQ_CORRELATED_SUBQUERIES},
      {"supportsSubqueriesInQuantifieds", SQL_SQ_QUANTIFIED},
      {"supportsSubqueriesInIns", SQL_SQ_IN},
      {"supportsSubqueriesInExists", SQL_SQ_EXISTS},
      {"supportsSubqueriesInComparisons", SQL_SQ_COMPARISON}},
     0},
    {SQL_UNION, Ask::Flags, nullptr,
     {{"supportsUnionAll", SQL_U_UNION_ALL}, {"supportsUnion", SQL_U_UNION}}, 0},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, Ask::Int, "getMaxColumnsInGroupBy", {}, 0},
    {SQL_MAX_COLUMNS_IN_INDEX, Ask::Int, "getMaxColumnsInIndex", {}, 0},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, Ask::Int, "getMaxColumnsInOrderBy", {}, 0},
    {SQL_MAX_COLUMNS_IN_SELECT, Ask::Int, "getMaxColumnsInSelect", {}, 0},
    {SQL_MAX_COLUMNS_IN_TABLE, Ask::Int, "getMaxColumnsInTable", {}, 0},
    {SQL_MAX_INDEX_SIZE, Ask::Int, "getMaxIndexLength", {}, 0},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, Ask::YesNo, "doesMaxRowSizeIncludeBlobs", {}, 0},
    {SQL_MAX_ROW_SIZE, Ask::Int, "getMaxRowSize", {}, 0},
    {SQL_MAX_STATEMENT_LEN, Ask::Int, "getMaxStatementLength", {}, 0},
    {SQL_MAX_TABLES_IN_SELECT, Ask::Int, "getMaxTablesInSelect", {}, 0},
    {SQL_MAX_USER_NAME_LEN, Ask::Int, "getMaxUserNameLength", {}, 0},
    {SQL_MAX_CHAR_LITERAL_LEN, Ask::Int, "getMaxCharLiteralLength", {}, 0},
    {SQL_MAX_BINARY_LITERAL_LEN, Ask::Int, "getMaxBinaryLiteralLength", {}, 0},
    {SQL_LIKE_ESCAPE_CLAUSE, Ask::YesNo, "supportsLikeEscapeClause", {}, 0},
    {SQL_CATALOG_LOCATION, Ask::FirstOf, nullptr, {{"isCatalogAtStart", SQL_CL_START}}, SQL_CL_END},
    {SQL_OJ_CAPABILITIES, Ask::FirstOf, nullptr,
     {{"supportsFullOuterJoins", kOuterJoinsFull}, {"supportsLimitedOuterJoins", kOuterJoinsLimited}},
     0},
    {kOjCapabilitiesV2, Ask::FirstOf, nullptr,
     {{"supportsFullOuterJoins", kOuterJoinsFull}, {"supportsLimitedOuterJoins", kOuterJoinsLimited}},
     0},
    {SQL_SQL_CONFORMANCE, Ask::FirstOf, nullptr,
     {{"supportsANSI92FullSQL", SQL_SC_SQL92_FULL},
      {"supportsANSI92IntermediateSQL", SQL_SC_SQL92_INTERMEDIATE},
      {"supportsANSI92EntryLevelSQL", SQL_SC_SQL92_ENTRY}},
     kNoneHolds},
};

const MetaAnswer* FindMetaAnswer(uint16_t type) {
  for (const MetaAnswer& a : kMetaAnswers) {
    if (a.type == type) return &a;
  }
  return nullptr;
}

void AskMeta(Meta& m, const MetaAnswer& a, int32_t* number, char* text, size_t capacity) {
  switch (a.ask) {
    case Ask::Int: *number = m.I(a.method); break;
    case Ask::Text: m.S(a.method, text, capacity); break;
    case Ask::YesNo: PutText(text, capacity, m.B(a.method) ? "Y" : "N"); break;
    case Ask::NoYes: PutText(text, capacity, m.B(a.method) ? "N" : "Y"); break;
    case Ask::Flags:
      *number = a.otherwise;
      for (const MetaBit& b : a.bits) {
        if (b.method == nullptr) break;
        if (m.B(b.method)) *number |= b.value;
      }
      break;
    case Ask::FirstOf:
      *number = a.otherwise;
      for (const MetaBit& b : a.bits) {
        if (b.method == nullptr) break;
        if (m.B(b.method)) {
          *number = b.value;
          break;
        }
      }
      break;
  }
}

// The isolation levels the database supports; JDBC numbers its levels as
// ODBC numbers the bits.
int32_t IsolationOptions(Meta& m) {
  int32_t n = 0;
  for (int32_t level : {SQL_TXN_SERIALIZABLE, SQL_TXN_REPEATABLE_READ, SQL_TXN_READ_COMMITTED,
                        SQL_TXN_READ_UNCOMMITTED}) {
    if (m.IsolationLevel(level)) n |= level;
  }
  return n;
}

// The scalar functions of one category the database lists by name.
int FunctionMask(JConn* c, Meta& m, uint16_t type, int32_t* number) {
  static const char* const kMethods[] = {"getNumericFunctions", "getStringFunctions",
                                         "getSystemFunctions", "getTimeDateFunctions"};
  const size_t index = type - SQL_NUMERIC_FUNCTIONS;
  char list[4096];
  m.S(kMethods[index], list, sizeof list);
  if (m.status() != 0) return 0;
  if (c->funcNames == nullptr) c->funcNames = JDB_MakeFunctionNameMap();
  if (c->funcNames == nullptr) return KX_ERR_NOMEM;
  *number = static_cast<int32_t>(
      JDB_FunctionListMask(list, c->funcNames, JFN_NUMERIC + static_cast<uint32_t>(index)));
  return 0;
}

}  // namespace

std::string JDB_OdbcDbmsVersion(const char* own) {
  // The first three numbers of the database's text are its major and minor
  // version and its release; what the text holds besides them follows.
  const char* p = own != nullptr ? own : "";
  while (*p != '\0' && std::isdigit(static_cast<unsigned char>(*p)) == 0) ++p;
  const char* numbersBegin = p;
  unsigned long parts[3] = {0, 0, 0};
  for (int i = 0; i < 3 && std::isdigit(static_cast<unsigned char>(*p)) != 0; ++i) {
    char* end = nullptr;
    parts[i] = std::strtoul(p, &end, 10);
    p = end;
    if (i < 2 && *p == '.' && std::isdigit(static_cast<unsigned char>(p[1])) != 0) ++p;
    else break;
  }
  char form[32];
  std::snprintf(form, sizeof form, "%02lu.%02lu.%04lu", parts[0] % 100, parts[1] % 100,
                parts[2] % 10000);
  std::string out = form;
  const bool onlyNumbers = numbersBegin == (own != nullptr ? own : "") && *p == '\0';
  if (own != nullptr && own[0] != '\0' && !onlyNumbers) out.append(" ").append(own);
  return out;
}

namespace {

// Answers that depend on the connection's options or need more than a getter.
// True when the type is one of them; *rc is then the status.
bool SpecialAnswer(JConn* c, Meta& m, uint16_t type, int32_t* number, char* text, size_t capacity,
                   int* rc) {
  *rc = 0;
  switch (type) {
    case SQL_MAX_CONCURRENT_ACTIVITIES:
      *number = c->multipleActive != 0 ? 0 : m.I("getMaxStatements");
      return true;
    case SQL_DRIVER_NAME:
      // The library the application loaded, as the core names it.
      try {
        PutText(text, capacity, DriverLibraryName().c_str());
      } catch (const std::bad_alloc&) {
        *rc = KX_ERR_NOMEM;
      }
      return true;
    case SQL_SEARCH_PATTERN_ESCAPE:
      if (c->opts.nssse == 0) m.S("getSearchStringEscape", text, capacity);
      return true;
    case SQL_DATABASE_NAME:
      // The database in use: the connection's catalog.
      *rc = JC_Connection_getCatalog(c, c->conn, text, capacity);
      return true;
    case SQL_DBMS_VER: {
      // ODBC's form ##.##.####, then the database's own text.
      char own[256] = {0};
      m.S("getDatabaseProductVersion", own, sizeof own);
      try {
        PutText(text, capacity, JDB_OdbcDbmsVersion(own).c_str());
      } catch (const std::bad_alloc&) {
        *rc = KX_ERR_NOMEM;
      }
      return true;
    }
    case SQL_DBMS_NAME:
      if (c->opts.sqlDbmsName != nullptr) PutText(text, capacity, c->opts.sqlDbmsName);
      else m.S("getDatabaseProductName", text, capacity);
      return true;
    case SQL_IDENTIFIER_QUOTE_CHAR:
      if (c->opts.jNsqi != 0) PutText(text, capacity, " ");
      else m.S("getIdentifierQuoteString", text, capacity);
      return true;
    case SQL_NUMERIC_FUNCTIONS: case SQL_STRING_FUNCTIONS: case SQL_SYSTEM_FUNCTIONS:
    case SQL_TIMEDATE_FUNCTIONS:
      *rc = FunctionMask(c, m, type, number);
      return true;
    case SQL_TXN_ISOLATION_OPTION:
      *number = IsolationOptions(m);
      return true;
    default:
      return false;
  }
}

}  // namespace

int JDB_GetInfoAnswer(JConn* c, uint16_t type, int32_t* number, char* text, size_t capacity) {
  *number = 0;
  if (capacity > 0) text[0] = '\0';
  if (FixedAnswer(c, type, number, text, capacity)) return 0;
  if (type >= SQL_CONVERT_BIGINT && type <= SQL_CONVERT_LONGVARBINARY) {
    int status = 0;
    *number = static_cast<int32_t>(JDB_ConvertMask(c, &status, kConvertSources[type - SQL_CONVERT_BIGINT]));
    return status;
  }
  Meta m(c);
  int rc = 0;
  if (!SpecialAnswer(c, m, type, number, text, capacity, &rc)) {
    const MetaAnswer* a = FindMetaAnswer(type);
    if (a == nullptr) return KX_ERR_NOT_SUPPORTED;
    AskMeta(m, *a, number, text, capacity);
  }
  if (rc != 0) return rc;
  if (m.status() != 0) {
    *number = 0;
    if (capacity > 0) text[0] = '\0';
  }
  return m.status();
}

}  // namespace kx
