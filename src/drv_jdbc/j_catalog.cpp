#include "drv_jdbc/j_catalog.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "agent/build_flavor.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_meta.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_typelist.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// A catalog answer the agent built from a JDBC result it read whole: the
// result set is closed (its rows are kept), or on failure everything goes.
int FinishRowsReadAhead(JStmt* s, int status) {
  if (status == 0 && s->resultSet != nullptr) {
    JC_ResultSet_close(s, s->resultSet);
    JC_ClearException(s->jni);
    JDB_MsgFreeList(&s->msgs);
    s->jni->DeleteGlobalRef(s->resultSet);
    s->resultSet = nullptr;
  }
  if (status != 0) JDB_StmtCloseResults(s);
  return status;
}

// Column classes of the catalog layouts.
enum ColClass : char {
  kText128 = 'T',
  kText254 = 'L',
  kChar1 = 'C',
  kInteger = 'I',
  kSmallint = 'S',
  kFlag = 'F',  // a smallint, carried as a one-byte flag when Java delivers a boolean
};

// Nullability of the layouts.
constexpr uint32_t kN = 0;  // SQL_NO_NULLS
constexpr uint32_t kY = 1;  // SQL_NULLABLE
constexpr uint32_t kU = 2;  // SQL_NULLABLE_UNKNOWN

struct CatCol {
  const char* name;
  ColClass cls;
  uint32_t nullable;
};

constexpr CatCol kTypeInfo[] = {
    {"TYPE_NAME", kText128, kN},        {"DATA_TYPE", kSmallint, kN},
    {"COLUMN_SIZE", kInteger, kY},      {"LITERAL_PREFIX", kText128, kY},
    {"LITERAL_SUFFIX", kText128, kY},   {"CREATE_PARAMS", kText128, kY},
    {"NULLABLE", kSmallint, kN},        {"CASE_SENSITIVE", kFlag, kN},
    {"SEARCHABLE", kSmallint, kN},      {"UNSIGNED_ATTRIBUTE", kFlag, kY},
    {"FIXED_PREC_SCALE", kFlag, kN},    {"AUTO_UNIQUE_VALUE", kFlag, kY},
    {"LOCAL_TYPE_NAME", kText128, kY},  {"MINIMUM_SCALE", kSmallint, kY},
    {"MAXIMUM_SCALE", kSmallint, kY},   {"SQL_DATA_TYPE", kSmallint, kN},
    // ODBC describes this one column of the type list as INTEGER, unlike
    // NUM_PREC_RADIX of the column lists: applications binding its default C
    // type reserve four bytes.
    {"SQL_DATETIME_SUB", kSmallint, kY}, {"NUM_PREC_RADIX", kInteger, kY},
    {"INTERVAL_PRECISION", kSmallint, kY},
};

constexpr CatCol kProcedureColumns[] = {
    {"PROCEDURE_CAT", kText128, kY},   {"PROCEDURE_SCHEM", kText128, kY},
    {"PROCEDURE_NAME", kText128, kN},  {"COLUMN_NAME", kText128, kN},
    {"COLUMN_TYPE", kSmallint, kN},    {"DATA_TYPE", kSmallint, kN},
    {"TYPE_NAME", kText128, kN},       {"COLUMN_SIZE", kInteger, kY},
    {"BUFFER_LENGTH", kInteger, kY},   {"DECIMAL_DIGITS", kSmallint, kY},
    {"NUM_PREC_RADIX", kSmallint, kY}, {"NULLABLE", kSmallint, kN},
    {"REMARKS", kText254, kY},         {"COLUMN_DEF", kText254, kY},
    {"SQL_DATA_TYPE", kSmallint, kN},  {"SQL_DATETIME_SUB", kSmallint, kY},
    {"CHAR_OCTET_LENGTH", kInteger, kY}, {"ORDINAL_POSITION", kInteger, kN},
    {"IS_NULLABLE", kText128, kN},
};

constexpr CatCol kTables[] = {
    {"TABLE_CAT", kText128, kU},  {"TABLE_SCHEM", kText128, kU}, {"TABLE_NAME", kText128, kU},
    {"TABLE_TYPE", kText128, kU}, {"REMARKS", kText254, kU},
};

constexpr CatCol kStatistics[] = {
    {"TABLE_CAT", kText128, kY},       {"TABLE_SCHEM", kText128, kY},
    {"TABLE_NAME", kText128, kN},      {"NON_UNIQUE", kFlag, kY},
    {"INDEX_QUALIFIER", kText128, kY}, {"INDEX_NAME", kText128, kY},
    {"TYPE", kSmallint, kN},           {"ORDINAL_POSITION", kSmallint, kY},
    {"COLUMN_NAME", kText128, kY},     {"ASC_OR_DESC", kChar1, kY},
    {"CARDINALITY", kInteger, kY},     {"PAGES", kInteger, kY},
    {"FILTER_CONDITION", kText128, kY},
};

constexpr CatCol kProcedures[] = {
    {"PROCEDURE_CAT", kText128, kY},      {"PROCEDURE_SCHEM", kText128, kY},
    {"PROCEDURE_NAME", kText128, kN},     {"NUM_INPUT_PARAMS", kSmallint, kY},
    {"NUM_OUTPUT_PARAMS", kSmallint, kY}, {"NUM_RESULT_SETS", kSmallint, kY},
    {"REMARKS", kText254, kY},            {"PROCEDURE_TYPE", kSmallint, kY},
};

constexpr CatCol kColumns[] = {
    {"TABLE_CAT", kText128, kY},       {"TABLE_SCHEM", kText128, kY},
    {"TABLE_NAME", kText128, kN},      {"COLUMN_NAME", kText128, kN},
    {"DATA_TYPE", kSmallint, kN},      {"TYPE_NAME", kText128, kN},
    {"COLUMN_SIZE", kInteger, kY},     {"BUFFER_LENGTH", kInteger, kY},
    {"DECIMAL_DIGITS", kSmallint, kY}, {"NUM_PREC_RADIX", kSmallint, kY},
    {"NULLABLE", kSmallint, kN},       {"REMARKS", kText254, kY},
    {"COLUMN_DEF", kText254, kY},      {"SQL_DATA_TYPE", kSmallint, kN},
    {"SQL_DATETIME_SUB", kSmallint, kY}, {"CHAR_OCTET_LENGTH", kInteger, kY},
    {"ORDINAL_POSITION", kInteger, kN}, {"IS_NULLABLE", kText128, kN},
};

constexpr CatCol kSpecialColumns[] = {
    {"SCOPE", kSmallint, kY},         {"COLUMN_NAME", kText128, kN},
    {"DATA_TYPE", kSmallint, kN},     {"TYPE_NAME", kText128, kN},
    {"COLUMN_SIZE", kInteger, kY},    {"BUFFER_LENGTH", kInteger, kY},
    {"DECIMAL_DIGITS", kSmallint, kY}, {"PSEUDO_COLUMN", kSmallint, kY},
};

constexpr CatCol kPrimaryKeys[] = {
    {"TABLE_CAT", kText128, kY},   {"TABLE_SCHEM", kText128, kY}, {"TABLE_NAME", kText128, kN},
    {"COLUMN_NAME", kText128, kN}, {"KEY_SEQ", kSmallint, kN},    {"PK_NAME", kText128, kY},
};

constexpr CatCol kForeignKeys[] = {
    {"PKTABLE_CAT", kText128, kY},   {"PKTABLE_SCHEM", kText128, kY},
    {"PKTABLE_NAME", kText128, kN},  {"PKCOLUMN_NAME", kText128, kN},
    {"FKTABLE_CAT", kText128, kY},   {"FKTABLE_SCHEM", kText128, kY},
    {"FKTABLE_NAME", kText128, kN},  {"FKCOLUMN_NAME", kText128, kN},
    {"KEY_SEQ", kSmallint, kN},      {"UPDATE_RULE", kSmallint, kY},
    {"DELETE_RULE", kSmallint, kY},  {"FK_NAME", kText128, kY},
    {"PK_NAME", kText128, kY},       {"DEFERRABILITY", kSmallint, kY},
};

constexpr CatCol kTablePrivileges[] = {
    {"TABLE_CAT", kText128, kY}, {"TABLE_SCHEM", kText128, kY}, {"TABLE_NAME", kText128, kN},
    {"GRANTOR", kText128, kY},   {"GRANTEE", kText128, kN},     {"PRIVILEGE", kText128, kN},
    {"IS_GRANTABLE", kText128, kY},
};

constexpr CatCol kColumnPrivileges[] = {
    {"TABLE_CAT", kText128, kY},   {"TABLE_SCHEM", kText128, kY}, {"TABLE_NAME", kText128, kN},
    {"COLUMN_NAME", kText128, kN}, {"GRANTOR", kText128, kY},     {"GRANTEE", kText128, kN},
    {"PRIVILEGE", kText128, kN},   {"IS_GRANTABLE", kText128, kY},
};

struct Layout {
  const CatCol* cols;
  uint16_t count;
};

template <size_t N>
constexpr Layout L(const CatCol (&cols)[N]) {
  return Layout{cols, static_cast<uint16_t>(N)};
}

// By catalog kind, 1 to 11.
constexpr Layout kLayouts[] = {
    {nullptr, 0},           L(kTypeInfo),     L(kProcedureColumns), L(kTables),
    L(kStatistics),         L(kProcedures),   L(kColumns),          L(kSpecialColumns),
    L(kPrimaryKeys),        L(kForeignKeys),  L(kTablePrivileges),  L(kColumnPrivileges),
};

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }
bool Wildcard(const char* text) { return text != nullptr && std::strcmp(text, "%") == 0; }

// Whether an empty schema name, which asks for the objects that have no
// schema, can match nothing: the database keeps every table in a schema
// (JDBC drivers such as PostgreSQL's read "" as "any schema"). A run that
// finds so leaves the result empty; the layout is the catalog function's.
bool NoObjectWithoutSchema(JStmt* s, const char* schema) {
  if (schema == nullptr || schema[0] != '\0') return false;
  JConn* c = s->conn;
  JNIEnv* saved = c->jni;
  c->jni = s->jni;  // the statement's thread asks
  uint8_t yes = 0;
  const int status =
      JC_DatabaseMetaData_getBoolInfo(c, c->meta, "supportsSchemasInTableDefinitions", &yes);
  c->jni = saved;
  if (status != 0) {
    JC_ClearException(s->jni);
    JDB_MsgFreeList(&c->msgs);
    return false;
  }
  return yes != 0;
}

// Whether column pos (1-based) of the Java result carries something other
// than a SMALLINT (a BIT or BOOLEAN, say), so that the flag is read as one.
bool JavaFlagIsBoolean(JStmt* s, int32_t javaCols, int32_t pos) {
  if (s->resultMeta == nullptr || pos > javaCols) return false;
  int32_t type = 0;
  if (JC_ResultSetMetaData_getColumnType(s, s->resultMeta, pos, &type) != 0) {
    JC_ClearException(s->jni);
    JDB_MsgFreeList(&s->msgs);
    return false;
  }
  return type != JT_SMALLINT;
}

void FillColumn(JStmt* s, const CatCol& def, int32_t pos, int32_t javaCols, bool wide,
                AgentColDesc* d) {
  std::strncpy(d->name, def.name, 40);
  d->flags = def.nullable | (3u << COLDESC_UPDATABLE_SHIFT);
  d->decimalDigits = 0;
  int32_t type = 0;
  switch (def.cls) {
    case kText128:
    case kText254: {
      const int32_t size = def.cls == kText128 ? 128 : 254;
      type = wide ? -9 : 12;
      d->columnSize = size;
      d->displaySize = size;
      // Room for every character of a name: up to four UTF-8 bytes each, or
      // two UTF-16 units (the row buffer adds the terminator).
      d->elementLength = wide ? 2 * size : 4 * size;
      d->storageType = wide ? RBT_WCHAR_NTS : RBT_CHAR_NTS;
      break;
    }
    case kChar1:
      type = 12;
      d->columnSize = 1;
      d->displaySize = 1;
      d->elementLength = 4;
      d->storageType = RBT_CHAR_NTS;
      break;
    case kInteger:
      type = 4;
      d->columnSize = 10;
      d->displaySize = 11;
      d->elementLength = 4;
      d->storageType = RBT_SLONG;
      break;
    case kSmallint:
    case kFlag:
      type = 5;
      d->columnSize = 5;
      d->displaySize = 6;
      d->elementLength = 2;
      d->storageType = RBT_SSHORT;
      if (def.cls == kFlag && JavaFlagIsBoolean(s, javaCols, pos)) {
        d->elementLength = 1;
        d->storageType = RBT_BIT;
      }
      break;
  }
  d->jdbcType = static_cast<int16_t>(type);
  d->sqlType = type;
}

// Builds the layout of the kind into the statement. 0 or 16.
int BuildLayout(JStmt* s, int32_t kind, int32_t javaCols) {
  const Layout& layout = kLayouts[kind];
  AgentColDesc* cols =
      static_cast<AgentColDesc*>(std::calloc(layout.count, sizeof(AgentColDesc)));
  if (cols == nullptr) return KX_ERR_NOMEM;
  const bool wide = UnicodeBuild() && s->unicodeClient != 0;
  for (uint16_t i = 0; i < layout.count; ++i) {
    FillColumn(s, layout.cols[i], i + 1, javaCols, wide, &cols[i]);
    cols[i].label = strdup(layout.cols[i].name);
    if (cols[i].label == nullptr) {
      RB_FreeColDescs(cols, i + 1);
      return KX_ERR_NOMEM;
    }
  }
  JDB_FreeColumns(s);
  s->cols = cols;
  s->colCount = layout.count;
  s->flags |= JS_DESCRIBED;
  return 0;
}

// The frame every catalog operation shares: the statement found, its thread
// attached, its previous statement and result gone, a local frame around the
// Java work. run() makes the Java call and leaves the local ResultSet.
template <class Run>
int32_t CatalogCall(AgentHandle h, int32_t kind, Run run) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  JDB_StmtReset(s);
  jobject rs = nullptr;
  int status = run(s, s->conn->meta, &rs);
  if (status == 0) status = JDB_CatDescribe(s, kind, rs);
  if (status != 0) JDB_StmtCloseResults(s);  // no half-made result stays behind
  return status;
}

}  // namespace

int JDB_CatDescribe(JStmt* s, int32_t kind, jobject rs) {
  JNIEnv* env = s->jni;
  int32_t javaCols = 0;
  if (rs != nullptr) {
    s->resultSet = env->NewGlobalRef(rs);
    env->DeleteLocalRef(rs);
    if (s->resultSet == nullptr) return KX_ERR_NOMEM;
    jobject md = nullptr;
    if (JC_ResultSet_getMetaData(s, s->resultSet, &md) == 0 && md != nullptr) {
      s->resultMeta = env->NewGlobalRef(md);
      env->DeleteLocalRef(md);
      if (s->resultMeta != nullptr &&
          JC_ResultSetMetaData_getColumnCount(s, s->resultMeta, &javaCols) != 0) {
        javaCols = 0;
      }
    }
    // A result without a description is still a result: its flags stay smallints.
    if (env->ExceptionCheck()) env->ExceptionClear();
    JDB_MsgFreeList(&s->msgs);
  }
  int status;
  if (kind >= 1 && kind <= 11) {
    status = BuildLayout(s, kind, javaCols);
  } else {
    status = JDB_DescribeResults(s, 'E');
  }
  if (status != 0) return status;
  s->catalogKind = kind;
  if (s->paramCount == 0) s->flags &= static_cast<uint16_t>(~JS_PARAMS_DUE);
  s->flags |= JS_PREPARED | JS_RESULTS | JS_RSOPEN;
  return 0;
}

uint32_t JDB_TablesArgKind(const char* catalog, const char* schema, const char* table,
                           const char* types) {
  uint32_t kind = 0;
  if (Wildcard(catalog)) kind |= 1;
  if (Wildcard(schema)) kind |= 2;
  if (Wildcard(table)) kind |= 4;
  if (Wildcard(types)) kind |= 8;
  if (((kind & 1) != 0 && (Given(schema) || Given(table))) ||
      ((kind & 2) != 0 && (Given(catalog) || Given(table)))) {
    kind = 0;
  }
  if ((kind & 8) != 0 && (Given(catalog) || Given(schema) || Given(table))) kind = 0;
  return kind;
}

std::string JDB_TableTypesForJava(const char* types) {
  std::string list = types != nullptr ? types : "";
  for (char& ch : list) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  // Items without their blanks and quotes.
  bool table = false, baseTable = false;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    size_t a = start, b = end;
    while (a < b && (list[a] == ' ' || list[a] == '\t' || list[a] == '\'')) ++a;
    while (b > a && (list[b - 1] == ' ' || list[b - 1] == '\t' || list[b - 1] == '\'')) --b;
    std::string item = list.substr(a, b - a);
    if (item == "TABLE") table = true;
    if (item == "BASE TABLE") baseTable = true;
    start = end + 1;
  }
  if (table && !baseTable) list += ",'BASE TABLE'";
  return list;
}

int32_t DRV_DDColumnPrivileges(AgentHandle h, const char* catalog, const char* schema,
                               const char* table, const char* column) {
  return CatalogCall(h, JDB_CAT_COLUMNPRIVILEGES, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getColumnPrivileges(s, md, catalog, schema, table, column, rs);
  });
}

int32_t DRV_DDColumns(AgentHandle h, const char* catalog, const char* schema, const char* table,
                      const char* column) {
  return CatalogCall(h, JDB_CAT_COLUMNS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getColumns(s, md, catalog, schema, table, column, rs);
  });
}

int32_t DRV_DDForeignKeys(AgentHandle h, const char* pkCatalog, const char* pkSchema,
                          const char* pkTable, const char* fkCatalog, const char* fkSchema,
                          const char* fkTable) {
  return CatalogCall(h, JDB_CAT_FOREIGNKEYS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, pkSchema) || NoObjectWithoutSchema(s, fkSchema)) return 0;
    const bool pk = Given(pkTable), fk = Given(fkTable);
    if (!pk && fk) return JC_DatabaseMetaData_getImportedKeys(s, md, fkCatalog, fkSchema, fkTable, rs);
    if (pk && !fk) return JC_DatabaseMetaData_getExportedKeys(s, md, pkCatalog, pkSchema, pkTable, rs);
    return JC_DatabaseMetaData_getCrossReference(s, md, pkCatalog, pkSchema, pkTable, fkCatalog,
                                                 fkSchema, fkTable, rs);
  });
}

int32_t DRV_DDPrimaryKeys(AgentHandle h, const char* catalog, const char* schema,
                          const char* table) {
  return CatalogCall(h, JDB_CAT_PRIMARYKEYS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getPrimaryKeys(s, md, catalog, schema, table, rs);
  });
}

int32_t DRV_DDProcedureColumns(AgentHandle h, const char* catalog, const char* schema,
                               const char* procedure, const char* column) {
  int32_t status = CatalogCall(h, JDB_CAT_PROCCOLUMNS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getProcedureColumns(s, md, catalog, schema, procedure, column, rs);
  });
  // The first 13 columns come from Java; the fetch derives the rest.
  if (status == 0) JDB_FindStmt(h)->columnCap = 13;
  return status;
}

namespace {

// The columns of an SQLProcedures row.
constexpr int kProcedureCols = 8;
constexpr int kProcTypeCol = 7;  // PROCEDURE_TYPE, 0-based

// Appends the rows of a Java result of routines: for each column of the
// SQLProcedures row, the Java column it comes from (0: NULL); the type
// column takes procType when given (>= 0). Text columns as text, the rest
// as numbers.
int ReadRoutineRows(JStmt* s, jobject rs, const int (&from)[kProcedureCols], int32_t procType,
                    std::vector<TypeListRow>* rows) {
  for (;;) {
    JFrame frame(s->jni, JDB_FRAME_SMALL);
    if (!frame.ok()) return KX_ERR_NOMEM;
    uint8_t more = 0;
    if (int status = JC_ResultSet_next(s, rs, &more); status != 0) return status;
    if (!more) return 0;
    TypeListRow row;
    for (int c = 0; c < kProcedureCols; ++c) {
      TypeListCell& cell = row[c];
      if (c == kProcTypeCol && procType >= 0) {
        cell.isNull = false;
        cell.number = procType;
        continue;
      }
      if (from[c] == 0) continue;
      s->valuePresent = 0;
      int status = 0;
      if (kProcedures[c].cls == kSmallint) {
        status = JC_ResultSet_getInt(s, rs, from[c], &cell.number);
      } else {
        JGrowBuf buf{0, nullptr};
        status = JC_ResultSet_getStringLong(s, rs, from[c], &buf);
        if (status == 0 && buf.data != nullptr) {
          cell.text.assign(static_cast<const char*>(buf.data), buf.size);
        }
        std::free(buf.data);
      }
      uint8_t isNull = 0;
      if (status == 0 && s->valuePresent == 0) status = JC_ResultSet_wasNull(s, rs, &isNull);
      if (status != 0) return status;
      cell.isNull = s->valuePresent == 0 && isNull != 0;
    }
    rows->push_back(std::move(row));
  }
}

// The name of a routine row, by which the rows are ordered.
using RoutineName = std::tuple<bool, std::string, bool, std::string, std::string>;
RoutineName RoutineKey(const TypeListRow& r) {
  return {!r[0].isNull, r[0].text, !r[1].isNull, r[1].text, r[2].text};
}

}  // namespace

// JDBC lists procedures and functions apart (PostgreSQL's driver gives only
// procedures as procedures), while ODBC's procedures are every routine
// SQLProcedureColumns describes: both lists, each routine once, in ODBC's
// order. The rows are read now and the Java results closed.
int32_t DRV_DDProcedures(AgentHandle h, const char* catalog, const char* schema,
                         const char* procedure) {
  int32_t status = CatalogCall(h, JDB_CAT_PROCEDURES, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getProcedures(s, md, catalog, schema, procedure, rs);
  });
  if (status != 0) return status;
  JStmt* s = JDB_FindStmt(h);
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) status = KX_ERR_NOMEM;
  try {
    std::vector<TypeListRow> rows;
    if (status == 0 && s->resultSet != nullptr) {
      static constexpr int kFromProcedures[kProcedureCols] = {1, 2, 3, 4, 5, 6, 7, 8};
      status = ReadRoutineRows(s, s->resultSet, kFromProcedures, -1, &rows);
      const size_t procedures = rows.size();
      jobject functions = nullptr;
      if (status == 0 &&
          JC_DatabaseMetaData_getFunctions(s, s->conn->meta, catalog, schema, procedure,
                                           &functions) == 0 &&
          functions != nullptr) {
        static constexpr int kFromFunctions[kProcedureCols] = {1, 2, 3, 0, 0, 0, 4, 0};
        status = ReadRoutineRows(s, functions, kFromFunctions, SQL_PT_FUNCTION, &rows);
        JC_ResultSet_close(s, functions);
        s->jni->DeleteLocalRef(functions);
      }
      // A driver without a function list still lists its procedures.
      JC_ClearException(s->jni);
      if (status == 0) JDB_MsgFreeList(&s->msgs);
      // A function that is also listed as a procedure is one routine (by its
      // schema and name: the two lists may name the catalog differently).
      std::set<std::pair<std::string, std::string>> named;
      for (size_t i = 0; i < procedures; ++i) named.emplace(rows[i][1].text, rows[i][2].text);
      std::vector<TypeListRow> all(rows.begin(),
                                   rows.begin() + static_cast<std::ptrdiff_t>(procedures));
      for (size_t i = procedures; i < rows.size(); ++i) {
        if (named.count({rows[i][1].text, rows[i][2].text}) == 0) all.push_back(std::move(rows[i]));
      }
      std::stable_sort(all.begin(), all.end(), [](const TypeListRow& a, const TypeListRow& b) {
        return RoutineKey(a) < RoutineKey(b);
      });
      rows = std::move(all);
    }
    if (status == 0) {
      s->typeRows = std::move(rows);
      s->typeRowNext = 0;
    }
  } catch (const std::bad_alloc&) {
    status = KX_ERR_NOMEM;
  }
  return FinishRowsReadAhead(s, status);
}

int32_t DRV_DDSpecialColumns(AgentHandle h, const char* catalog, const char* schema,
                             const char* table, uint16_t identifierType, uint16_t scope,
                             uint16_t nullable) {
  return CatalogCall(h, JDB_CAT_SPECIALCOLUMNS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    if (identifierType == SQL_ROWVER) {
      return JC_DatabaseMetaData_getVersionColumns(s, md, catalog, schema, table, rs);
    }
    return JC_DatabaseMetaData_getBestRowIdentifier(s, md, catalog, schema, table, scope,
                                                    nullable != 0 ? 1 : 0, rs);
  });
}

int32_t DRV_DDStatistics(AgentHandle h, const char* catalog, const char* schema,
                         const char* table, uint16_t unique, uint16_t accuracy) {
  return CatalogCall(h, JDB_CAT_STATISTICS, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getIndexInfo(s, md, catalog, schema, table, unique == 0 ? 1 : 0,
                                            accuracy == 0 ? 1 : 0, rs);
  });
}

int32_t DRV_DDTablePrivileges(AgentHandle h, const char* catalog, const char* schema,
                              const char* table) {
  return CatalogCall(h, JDB_CAT_TABLEPRIVILEGES, [&](JStmt* s, jobject md, jobject* rs) {
    if (NoObjectWithoutSchema(s, schema)) return 0;
    return JC_DatabaseMetaData_getTablePrivileges(s, md, catalog, schema, table, rs);
  });
}

int32_t DRV_DDTables(AgentHandle h, const char* catalog, const char* schema, const char* table,
                     const char* types) {
  const uint32_t kind = JDB_TablesArgKind(catalog, schema, table, types);
  std::string list;
  try {
    list = JDB_TableTypesForJava(types);
  } catch (const std::bad_alloc&) {
    return JDB_FindStmt(h) != nullptr ? KX_ERR_NOMEM : KX_ERR_BAD_ARGUMENT;
  }
  int32_t status = CatalogCall(h, JDB_CAT_TABLES, [&](JStmt* s, jobject md, jobject* rs) {
    if ((kind & 1) != 0) return JC_DatabaseMetaData_getCatalogs(s, md, rs);
    if ((kind & 2) != 0) return JC_DatabaseMetaData_getSchemas(s, md, rs);
    if ((kind & 8) != 0) return JC_DatabaseMetaData_getTableTypes(s, md, rs);
    // JDBC takes the catalog as a name, not a pattern: "%" means any, which
    // JDBC says with null ("" would ask for tables without a catalog).
    if (NoObjectWithoutSchema(s, schema)) return 0;
    const char* cat = Wildcard(catalog) ? nullptr : catalog;
    return JC_DatabaseMetaData_getTables(s, md, cat, schema, table, list.data(), rs);
  });
  if (status != 0) return status;
  JStmt* s = JDB_FindStmt(h);
  if ((kind & 1) != 0) {
    s->columnCap = 1;  // TABLE_CAT alone comes from Java
  } else if ((kind & 2) != 0) {
    s->redirectCol = 1;  // the Java result's first column is TABLE_SCHEM
  } else if ((kind & 8) != 0) {
    s->redirectCol = 3;  // ... or TABLE_TYPE
  }
  return 0;
}

namespace {

// Reads every row of the JDBC type list (its 18 columns) into cells: text
// columns as text, the flags as booleans, the rest as numbers.
int ReadJdbcTypeRows(JStmt* s, std::vector<TypeListRow>* rows) {
  jobject rs = s->resultSet;
  if (rs == nullptr) return 0;
  auto nullness = [s, rs](TypeListCell* cell) {
    if (s->valuePresent != 0) {
      cell->isNull = false;
      return 0;
    }
    uint8_t isNull = 0;
    const int status = JC_ResultSet_wasNull(s, rs, &isNull);
    cell->isNull = isNull != 0;
    return status;
  };
  for (;;) {
    // A frame of its own for each row: the list may be hundreds of rows long.
    JFrame frame(s->jni, JDB_FRAME_SMALL);
    if (!frame.ok()) return KX_ERR_NOMEM;
    uint8_t more = 0;
    if (int status = JC_ResultSet_next(s, rs, &more); status != 0) return status;
    if (!more) return 0;
    TypeListRow row;
    for (int c = 0; c < TL_SQL_DATA_TYPE; ++c) {
      TypeListCell& cell = row[c];
      const int32_t pos = c + 1;
      s->valuePresent = 0;
      int status = 0;
      switch (kTypeInfo[c].cls) {
        case kText128: case kText254: case kChar1: {
          JGrowBuf buf{0, nullptr};
          status = JC_ResultSet_getStringLong(s, rs, pos, &buf);
          if (status == 0 && buf.data != nullptr) cell.text.assign(static_cast<const char*>(buf.data), buf.size);
          std::free(buf.data);
          break;
        }
        case kFlag: {
          uint8_t v = 0;
          status = JC_ResultSet_getBoolean(s, rs, pos, &v);
          cell.number = v != 0 ? 1 : 0;
          break;
        }
        case kInteger: case kSmallint:
          status = JC_ResultSet_getInt(s, rs, pos, &cell.number);
          break;
      }
      if (status == 0) status = nullness(&cell);
      if (status != 0) return status;
    }
    int32_t radix = 0;
    s->valuePresent = 0;
    if (int status = JC_ResultSet_getInt(s, rs, 18, &radix); status != 0) return status;
    row[TL_NUM_PREC_RADIX].number = radix;
    if (int status = nullness(&row[TL_NUM_PREC_RADIX]); status != 0) return status;
    rows->push_back(std::move(row));
  }
}

}  // namespace

int32_t DRV_DDTypeInfo(AgentHandle h, int16_t sqlType) {
  int32_t status = CatalogCall(h, JDB_CAT_TYPEINFO, [&](JStmt* s, jobject md, jobject* rs) {
    return JC_DatabaseMetaData_getTypeInfo(s, md, rs);
  });
  if (status != 0) return status;
  JStmt* s = JDB_FindStmt(h);
  s->typeFilter = sqlType >= SQL_TYPE_DATE && sqlType <= SQL_TYPE_TIMESTAMP
                      ? sqlType - (SQL_TYPE_DATE - SQL_DATE)
                      : sqlType;
  // The whole list is read now: it is filtered, sorted and completed before
  // the first row goes out, and the Java result is done with.
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) status = KX_ERR_NOMEM;
  try {
    std::vector<TypeListRow> jdbcRows;
    if (status == 0) status = ReadJdbcTypeRows(s, &jdbcRows);
    if (status == 0) {
      TypeListOptions o;
      o.jet = s->conn->opts.jet != 0;
      o.wide = UnicodeBuild() && s->unicodeClient != 0;
      o.odbc3 = s->conn->odbcVersion >= 3;
      o.filter = s->typeFilter;
      s->typeRows = JDB_OdbcTypeList(jdbcRows, o);
      s->typeRowNext = 0;
    }
  } catch (const std::bad_alloc&) {
    status = KX_ERR_NOMEM;
  }
  return FinishRowsReadAhead(s, status);
}

}  // namespace kx
