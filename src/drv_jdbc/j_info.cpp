#include "drv_jdbc/j_info.h"

#include <sqlext.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "agent/agent.h"
#include "agent/build_flavor.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_meta.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

const JdbcFunctionName JDB_FunctionNames[] = {
    {"ABS", SQL_FN_NUM_ABS, 1},
    {"ACOS", SQL_FN_NUM_ACOS, 1},
    {"ASIN", SQL_FN_NUM_ASIN, 1},
    {"ATAN", SQL_FN_NUM_ATAN, 1},
    {"ATAN2", SQL_FN_NUM_ATAN2, 1},
    {"CEILING", SQL_FN_NUM_CEILING, 1},
    {"COS", SQL_FN_NUM_COS, 1},
    {"COT", SQL_FN_NUM_COT, 1},
    {"DEGREES", SQL_FN_NUM_DEGREES, 1},
    {"EXP", SQL_FN_NUM_EXP, 1},
    {"FLOOR", SQL_FN_NUM_FLOOR, 1},
    {"LOG", SQL_FN_NUM_LOG, 1},
    {"LOG10", SQL_FN_NUM_LOG10, 1},
    {"MOD", SQL_FN_NUM_MOD, 1},
    {"PI", SQL_FN_NUM_PI, 1},
    {"POWER", SQL_FN_NUM_POWER, 1},
    {"RADIANS", SQL_FN_NUM_RADIANS, 1},
    {"RAND", SQL_FN_NUM_RAND, 1},
    {"ROUND", SQL_FN_NUM_ROUND, 1},
    {"SIGN", SQL_FN_NUM_SIGN, 1},
    {"SIN", SQL_FN_NUM_SIN, 1},
    {"SQRT", SQL_FN_NUM_SQRT, 1},
    {"TAN", SQL_FN_NUM_TAN, 1},
    {"TRUNCATE", SQL_FN_NUM_TRUNCATE, 1},
    {"ASCII", SQL_FN_STR_ASCII, 2},
    {"CHAR", SQL_FN_STR_CHAR, 2},
    {"CONCAT", SQL_FN_STR_CONCAT, 2},
    {"DIFFERENCE", SQL_FN_STR_DIFFERENCE, 2},
    {"INSERT", SQL_FN_STR_INSERT, 2},
    {"LCASE", SQL_FN_STR_LCASE, 2},
    {"LEFT", SQL_FN_STR_LEFT, 2},
    {"LENGTH", SQL_FN_STR_LENGTH, 2},
    {"LOCATE", SQL_FN_STR_LOCATE, 2},
    {"LOCATE_2", SQL_FN_STR_LOCATE_2, 2},
    {"LTRIM", SQL_FN_STR_LTRIM, 2},
    {"REPEAT", SQL_FN_STR_REPEAT, 2},
    {"REPLACE", SQL_FN_STR_REPLACE, 2},
    {"RIGHT", SQL_FN_STR_RIGHT, 2},
    {"RTRIM", SQL_FN_STR_RTRIM, 2},
    {"SOUNDEX", SQL_FN_STR_SOUNDEX, 2},
    {"SPACE", SQL_FN_STR_SPACE, 2},
    {"SUBSTRING", SQL_FN_STR_SUBSTRING, 2},
    {"UCASE", SQL_FN_STR_UCASE, 2},
    {"DBNAME", SQL_FN_SYS_DBNAME, 3},
    {"USERNAME", SQL_FN_SYS_USERNAME, 3},
    {"USER", SQL_FN_SYS_USERNAME, 3},
    {"USERNAME", SQL_FN_SYS_USERNAME, 3},
    {"IFNULL", SQL_FN_SYS_IFNULL, 3},
    {"CURDATE", SQL_FN_TD_CURDATE, 4},
    {"CURTIME", SQL_FN_TD_CURTIME, 4},
    {"DAYNAME", SQL_FN_TD_DAYNAME, 4},
    {"DAYOFMONTH", SQL_FN_TD_DAYOFMONTH, 4},
    {"DAYOFWEEK", SQL_FN_TD_DAYOFWEEK, 4},
    {"DAYOFYEAR", SQL_FN_TD_DAYOFYEAR, 4},
    {"HOUR", SQL_FN_TD_HOUR, 4},
    {"MINUTE", SQL_FN_TD_MINUTE, 4},
    {"MONTH", SQL_FN_TD_MONTH, 4},
    {"MONTHNAME", SQL_FN_TD_MONTHNAME, 4},
    {"NOW", SQL_FN_TD_NOW, 4},
    {"QUARTER", SQL_FN_TD_QUARTER, 4},
    {"SECOND", SQL_FN_TD_SECOND, 4},
    {"TIMESTAMPADD", SQL_FN_TD_TIMESTAMPADD, 4},
    {"TIMESTAMPDIFF", SQL_FN_TD_TIMESTAMPDIFF, 4},
    {"WEEK", SQL_FN_TD_WEEK, 4},
    {"YEAR", SQL_FN_TD_YEAR, 4},
};
const int JDB_FunctionNameCount = static_cast<int>(sizeof JDB_FunctionNames / sizeof JDB_FunctionNames[0]);
static_assert(sizeof JDB_FunctionNames / sizeof JDB_FunctionNames[0] == 65, "65 function names");

namespace {

struct ConvertTarget {
  int32_t type;
  uint32_t bit;
};

constexpr ConvertTarget kConvertTargets[] = {
    {-7, SQL_CVT_BIT},         {-6, SQL_CVT_TINYINT},   {5, SQL_CVT_SMALLINT},
    {4, SQL_CVT_INTEGER},      {-5, SQL_CVT_BIGINT},    {6, SQL_CVT_FLOAT},
    {7, SQL_CVT_REAL},         {8, SQL_CVT_DOUBLE},     {2, SQL_CVT_NUMERIC},
    {3, SQL_CVT_DECIMAL},      {1, SQL_CVT_CHAR},       {12, SQL_CVT_VARCHAR},
    {-1, SQL_CVT_LONGVARCHAR}, {9, SQL_CVT_DATE},       {91, SQL_CVT_DATE},
    {10, SQL_CVT_TIME},        {92, SQL_CVT_TIME},      {11, SQL_CVT_TIMESTAMP},
    {93, SQL_CVT_TIMESTAMP},   {-2, SQL_CVT_BINARY},    {-3, SQL_CVT_VARBINARY},
    {-4, SQL_CVT_LONGVARBINARY},
};

// Source type of each SQL_CONVERT_* type, 53 to 71.
constexpr int32_t kConvertSources[] = {-5, -2, -7, 1,  91, 3,  8, 6,  4, -1,
                                       2,  7,  5,  92, 93, -6, -3, 12, -4};

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
// statements under lock or optimistic (values) concurrency when it holds the
// keys of the whole result (a mixed cursor's window is read-only). A static
// cursor under lock or values concurrency caches its rows with their keys and
// changes them the same way.
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
                                  SQL_CA2_OPT_VALUES_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_CRC_EXACT;
constexpr int32_t kKeysetAttrs1 = kStaticAttrs1;
constexpr int32_t kKeysetAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                  SQL_CA2_OPT_VALUES_CONCURRENCY | SQL_CA2_SENSITIVITY_DELETIONS |
                                  SQL_CA2_SENSITIVITY_UPDATES | SQL_CA2_CRC_EXACT;
constexpr int32_t kPosOperations = SQL_POS_POSITION | SQL_POS_REFRESH | SQL_POS_UPDATE | SQL_POS_DELETE | SQL_POS_ADD;
// A dynamic cursor reads each rowset's keys afresh by seeking from the
// current one: it has no row numbers, so no absolute positioning and no
// bookmarks.
constexpr int32_t kDynamicAttrs1 = SQL_CA1_NEXT | SQL_CA1_RELATIVE | SQL_CA1_LOCK_NO_CHANGE | SQL_CA1_POS_POSITION;
constexpr int32_t kDynamicAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_SENSITIVITY_ADDITIONS |
                                   SQL_CA2_SENSITIVITY_DELETIONS | SQL_CA2_SENSITIVITY_UPDATES;
// Bookmarks stay valid across scrolling and the cursor's own changes.
constexpr int32_t kBookmarkPersistence = SQL_BP_SCROLL | SQL_BP_UPDATE | SQL_BP_DELETE;

// Dynamic cursors are offered unless the connection disables them
// (DYN_CURS_SENSITIVITY=DISABLED).
bool DynamicOffered(const JConn* c) { return c == nullptr || c->opts.dynCursSensitivity != 2; }

// Answers that need no Java. True when the type is one of them.
bool FixedAnswer(const JConn* c, uint16_t type, int32_t* number, char* text, size_t capacity) {
  switch (type) {
    case 2: PutText(text, capacity, " "); return true;
    case 3: case 4: case 5: case 76: *number = 0; return true;
    case 7: PutText(text, capacity, KX_DRIVER_VER); return true;
    case SQL_FETCH_DIRECTION: *number = kFetchDirections; return true;
    case 9: *number = 1; return true;
    case 10: PutText(text, capacity, "03.50.0000"); return true;
    case 11: PutText(text, capacity, "N"); return true;
    case 12: *number = 1; return true;
    case SQL_SCROLL_CONCURRENCY: *number = SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK | SQL_SCCO_OPT_VALUES; return true;
    case SQL_SCROLL_OPTIONS:
      *number = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED |
                (DynamicOffered(c) ? SQL_SO_DYNAMIC : 0);
      return true;
    case 45: PutText(text, capacity, "Table"); return true;
    case 77: PutText(text, capacity, "03.50"); return true;
    case 78: *number = 1; return true;
    case SQL_POS_OPERATIONS: *number = kPosOperations; return true;
    case 81: *number = 7; return true;
    case SQL_BOOKMARK_PERSISTENCE: *number = kBookmarkPersistence; return true;
    case 83: *number = 0; return true;
    case 109: case 110: *number = 0; return true;
    case 111: PutText(text, capacity, "Y"); return true;
    case 116: *number = 1; return true;
    case 117: *number = 0; return true;
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1: *number = DynamicOffered(c) ? kDynamicAttrs1 : 0; return true;
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2: *number = DynamicOffered(c) ? kDynamicAttrs2 : 0; return true;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1: *number = SQL_CA1_NEXT; return true;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2: *number = kForwardOnlyAttrs2; return true;
    case 148: case 149: *number = 0; return true;
    case SQL_KEYSET_CURSOR_ATTRIBUTES1: *number = kKeysetAttrs1; return true;
    case SQL_KEYSET_CURSOR_ATTRIBUTES2: *number = kKeysetAttrs2; return true;
    case 152: *number = 1; return true;
    // A parameter array gives one row count, the sum over its rows (batches
    // included), and a query run with one gives a result per parameter set.
    case SQL_PARAM_ARRAY_ROW_COUNTS: *number = SQL_PARC_NO_BATCH; return true;
    case SQL_PARAM_ARRAY_SELECTS: *number = SQL_PAS_BATCH; return true;
    case 163: *number = 9; return true;
    case 164: case 165: case 166: *number = 0; return true;
    case SQL_STATIC_CURSOR_ATTRIBUTES1: *number = kStaticAttrs1; return true;
    case SQL_STATIC_CURSOR_ATTRIBUTES2: *number = kStaticAttrs2; return true;
    case 169: *number = 64; return true;
    case 170: *number = 0; return true;
    case 172: *number = 7; return true;
    case 10000: PutText(text, capacity, ""); return true;
    case 10001: *number = 0; return true;
    case 10002: PutText(text, capacity, "Y"); return true;
    case 10003: PutText(text, capacity, "Y"); return true;
    case 10004: PutText(text, capacity, ""); return true;
    case 10005: *number = 30; return true;
    case 10021: *number = 2; return true;
    case 10022: *number = 0; return true;
    default: break;
  }
  if ((type >= 119 && type <= 143) || (type >= 155 && type <= 162)) {
    *number = 0;
    return true;
  }
  return false;
}

}  // namespace

HashTable* JDB_MakeFunctionNameMap() {
  HashTable* map = HashCreate(65, 0);
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

int JDB_GetInfoAnswer(JConn* c, uint16_t type, int32_t* number, char* text, size_t capacity) {
  *number = 0;
  if (capacity > 0) text[0] = '\0';
  if (FixedAnswer(c, type, number, text, capacity)) return 0;
  Meta m(c);
  int32_t& n = *number;
  switch (type) {
    case 0: n = m.I("getMaxConnections"); break;
    case 1: n = c->multipleActive != 0 ? 0 : m.I("getMaxStatements"); break;
    case 6: {
      // The library the application loaded, as the core names it.
      try {
        PutText(text, capacity, DriverLibraryName().c_str());
      } catch (const std::bad_alloc&) {
        return KX_ERR_NOMEM;
      }
      break;
    }
    case 13: m.S("getDatabaseProductName", text, capacity); break;
    case 14:
      if (c->opts.nssse == 0) m.S("getSearchStringEscape", text, capacity);
      break;
    case 15:
      n = m.B("supportsExtendedSQLGrammar") ? 2 : m.B("supportsCoreSQLGrammar") ? 1 : 0;
      break;
    case 16: {
      // The database in use: the connection's catalog.
      int status = JC_Connection_getCatalog(c, c->conn, text, capacity);
      if (status != 0) return status;
      break;
    }
    case 17:
      if (c->opts.sqlDbmsName != nullptr) PutText(text, capacity, c->opts.sqlDbmsName);
      else m.S("getDatabaseProductName", text, capacity);
      break;
    case 18: m.S("getDatabaseProductVersion", text, capacity); break;
    case 19: PutText(text, capacity, m.YN("allTablesAreSelectable")); break;
    case 20: PutText(text, capacity, m.YN("allProceduresAreCallable")); break;
    case 21: PutText(text, capacity, m.YN("supportsStoredProcedures")); break;
    case 22: n = m.B("nullPlusNonNullIsNull") ? 0 : 1; break;
    case 23:
      n = m.B("supportsOpenCursorsAcrossCommit")      ? 2
          : m.B("supportsOpenStatementsAcrossCommit") ? 1
                                                      : 0;
      break;
    case 24:
      n = m.B("supportsOpenCursorsAcrossRollback")      ? 2
          : m.B("supportsOpenStatementsAcrossRollback") ? 1
                                                        : 0;
      break;
    case 25: PutText(text, capacity, m.YN("isReadOnly")); break;
    case 26: n = m.I("getDefaultTransactionIsolation"); break;
    case 27: PutText(text, capacity, m.YN("supportsExpressionsInOrderBy")); break;
    case 28:
      n = m.B("storesUpperCaseIdentifiers")     ? 1
          : m.B("storesLowerCaseIdentifiers")   ? 2
          : m.B("storesMixedCaseIdentifiers")   ? 4
          : m.B("supportsMixedCaseIdentifiers") ? 3
                                                : 0;
      break;
    case 29:
      if (c->opts.jNsqi != 0) PutText(text, capacity, " ");
      else m.S("getIdentifierQuoteString", text, capacity);
      break;
    case 30: n = m.I("getMaxColumnNameLength"); break;
    case 31: n = m.I("getMaxCursorNameLength"); break;
    case 32: n = m.I("getMaxSchemaNameLength"); break;
    case 33: n = m.I("getMaxProcedureNameLength"); break;
    case 34: n = m.I("getMaxCatalogNameLength"); break;
    case 35: n = m.I("getMaxTableNameLength"); break;
    case 36: PutText(text, capacity, m.YN("supportsMultipleResultSets")); break;
    case 37: PutText(text, capacity, m.YN("supportsMultipleTransactions")); break;
    case 38: PutText(text, capacity, m.YN("supportsOuterJoins")); break;
    case 39: m.S("getSchemaTerm", text, capacity); break;
    case 40: m.S("getProcedureTerm", text, capacity); break;
    case 41: m.S("getCatalogSeparator", text, capacity); break;
    case 42: m.S("getCatalogTerm", text, capacity); break;
    case 46:
      n = m.B("dataDefinitionIgnoredInTransactions")                      ? 4
          : m.B("dataDefinitionCausesTransactionCommit")                  ? 3
          : m.B("supportsDataDefinitionAndDataManipulationTransactions") ? 2
          : m.B("supportsDataManipulationTransactionsOnly")               ? 1
                                                                          : 0;
      break;
    case 47: m.S("getUserName", text, capacity); break;
    case 48: n = m.B("supportsConvert") ? 1 : 0; break;
    case 49: case 50: case 51: case 52: {
      static const char* const kMethods[] = {"getNumericFunctions", "getStringFunctions",
                                             "getSystemFunctions", "getTimeDateFunctions"};
      char list[4096];
      m.S(kMethods[type - 49], list, sizeof list);
      if (m.status() != 0) break;
      if (c->funcNames == nullptr) c->funcNames = JDB_MakeFunctionNameMap();
      if (c->funcNames == nullptr) return KX_ERR_NOMEM;
      n = static_cast<int32_t>(JDB_FunctionListMask(list, c->funcNames, type - 48u));
      break;
    }
    case 72:
      n = (m.IsolationLevel(8) ? 8 : 0) | (m.IsolationLevel(4) ? 4 : 0) |
          (m.IsolationLevel(2) ? 2 : 0) | (m.IsolationLevel(1) ? 1 : 0);
      break;
    case 73: PutText(text, capacity, m.YN("supportsIntegrityEnhancementFacility")); break;
    case 74: n = m.B("supportsTableCorrelationNames") ? 2 : 0; break;
    case 75: n = m.B("supportsNonNullableColumns") ? 1 : 0; break;
    case 80:
      // The cursor layer carries positioned UPDATE and DELETE out itself,
      // keyed on the named cursor's row; SELECT ... FOR UPDATE is the
      // database's.
      n = SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE |
          (m.B("supportsSelectForUpdate") ? SQL_PS_SELECT_FOR_UPDATE : 0);
      break;
    case 84: n = m.B("usesLocalFiles") ? 2 : m.B("usesLocalFilePerTable") ? 1 : 0; break;
    case 85:
      n = m.B("nullsAreSortedAtEnd")     ? SQL_NC_END
          : m.B("nullsAreSortedAtStart") ? SQL_NC_START
          : m.B("nullsAreSortedLow")     ? SQL_NC_LOW
                                         : SQL_NC_HIGH;
      break;
    case 86:
      n = (m.B("supportsAlterTableWithDropColumn") ? 2 : 0) |
          (m.B("supportsAlterTableWithAddColumn") ? 1 : 0);
      break;
    case 87: PutText(text, capacity, m.YN("supportsColumnAliasing")); break;
    case 88:
      n = m.B("supportsGroupByUnrelated")     ? 3
          : m.B("supportsGroupByBeyondSelect") ? 2
          : m.B("supportsGroupBy")             ? 1
                                               : 0;
      break;
    case 89: m.S("getSQLKeywords", text, capacity); break;
    case 90: PutText(text, capacity, m.B("supportsOrderByUnrelated") ? "N" : "Y"); break;
    case 91:
      n = (m.B("supportsSchemasInDataManipulation") ? 1 : 0) |
          (m.B("supportsSchemasInProcedureCalls") ? 2 : 0) |
          (m.B("supportsSchemasInTableDefinitions") ? 4 : 0) |
          (m.B("supportsSchemasInIndexDefinitions") ? 8 : 0) |
          (m.B("supportsSchemasInPrivilegeDefinitions") ? 16 : 0);
      break;
    case 92:
      n = (m.B("supportsCatalogsInDataManipulation") ? 1 : 0) |
          (m.B("supportsCatalogsInProcedureCalls") ? 2 : 0) |
          (m.B("supportsCatalogsInTableDefinitions") ? 4 : 0) |
          (m.B("supportsCatalogsInIndexDefinitions") ? 8 : 0) |
          (m.B("supportsCatalogsInPrivilegeDefinitions") ? 16 : 0);
      break;
    case 93:
      n = m.B("storesMixedCaseQuotedIdentifiers")   ? 4
          : m.B("storesLowerCaseQuotedIdentifiers") ? 2
          : m.B("storesUpperCaseQuotedIdentifiers") ? 1
                                                    : 3;
      break;
    case 94: m.S("getExtraNameCharacters", text, capacity); break;
    case 95:
      n = (m.B("supportsCorrelatedSubqueries") ? 16 : 0) |
          (m.B("supportsSubqueriesInQuantifieds") ? 8 : 0) |
          (m.B("supportsSubqueriesInIns") ? 4 : 0) | (m.B("supportsSubqueriesInExists") ? 2 : 0) |
          (m.B("supportsSubqueriesInComparisons") ? 1 : 0);
      break;
    case 96: n = (m.B("supportsUnionAll") ? 2 : 0) | (m.B("supportsUnion") ? 1 : 0); break;
    case 97: n = m.I("getMaxColumnsInGroupBy"); break;
    case 98: n = m.I("getMaxColumnsInIndex"); break;
    case 99: n = m.I("getMaxColumnsInOrderBy"); break;
    case 100: n = m.I("getMaxColumnsInSelect"); break;
    case 101: n = m.I("getMaxColumnsInTable"); break;
    case 102: n = m.I("getMaxIndexLength"); break;
    case 103: PutText(text, capacity, m.YN("doesMaxRowSizeIncludeBlobs")); break;
    case 104: n = m.I("getMaxRowSize"); break;
    case 105: n = m.I("getMaxStatementLength"); break;
    case 106: n = m.I("getMaxTablesInSelect"); break;
    case 107: n = m.I("getMaxUserNameLength"); break;
    case 108: n = m.I("getMaxCharLiteralLength"); break;
    case 112: n = m.I("getMaxBinaryLiteralLength"); break;
    case 113: PutText(text, capacity, m.YN("supportsLikeEscapeClause")); break;
    case 114: n = m.B("isCatalogAtStart") ? 1 : 2; break;
    case 115:
    case 65003:
      n = m.B("supportsFullOuterJoins") ? 63 : m.B("supportsLimitedOuterJoins") ? 51 : 0;
      break;
    case 118:
      n = m.B("supportsANSI92FullSQL")           ? 8
          : m.B("supportsANSI92IntermediateSQL") ? 4
          : m.B("supportsANSI92EntryLevelSQL")   ? 1
                                                 : 0;
      break;
    default:
      if (type >= 53 && type <= 71) {
        int status = 0;
        n = static_cast<int32_t>(JDB_ConvertMask(c, &status, kConvertSources[type - 53]));
        return status;
      }
      return KX_ERR_NOT_SUPPORTED;
  }
  if (m.status() != 0) {
    n = 0;
    if (capacity > 0) text[0] = '\0';
  }
  return m.status();
}

}  // namespace kx
