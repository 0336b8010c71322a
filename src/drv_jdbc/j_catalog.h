// Catalog operations: one DatabaseMetaData query each, its ResultSet kept as
// the statement's open result under the fixed ODBC 3 column layout of the
// catalog function (names, order, SQL types, sizes, nullability), whatever the
// JDBC driver reports. The rows are read by DRV_FetchBlock, which applies the
// per-kind fix-ups keyed on the catalog kind recorded here.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

int32_t DRV_DDColumnPrivileges(AgentHandle stmt, const char* catalog, const char* schema,
                               const char* table, const char* column);                 // 25
int32_t DRV_DDColumns(AgentHandle stmt, const char* catalog, const char* schema,
                      const char* table, const char* column);                          // 26
int32_t DRV_DDForeignKeys(AgentHandle stmt, const char* pkCatalog, const char* pkSchema,
                          const char* pkTable, const char* fkCatalog, const char* fkSchema,
                          const char* fkTable);                                        // 27
int32_t DRV_DDPrimaryKeys(AgentHandle stmt, const char* catalog, const char* schema,
                          const char* table);                                          // 28
int32_t DRV_DDProcedureColumns(AgentHandle stmt, const char* catalog, const char* schema,
                               const char* procedure, const char* column);             // 29
int32_t DRV_DDProcedures(AgentHandle stmt, const char* catalog, const char* schema,
                         const char* procedure);                                       // 30
int32_t DRV_DDSpecialColumns(AgentHandle stmt, const char* catalog, const char* schema,
                             const char* table, uint16_t identifierType, uint16_t scope,
                             uint16_t nullable);                                       // 31
int32_t DRV_DDStatistics(AgentHandle stmt, const char* catalog, const char* schema,
                         const char* table, uint16_t unique, uint16_t accuracy);       // 32
int32_t DRV_DDTablePrivileges(AgentHandle stmt, const char* catalog, const char* schema,
                              const char* table);                                      // 33
int32_t DRV_DDTables(AgentHandle stmt, const char* catalog, const char* schema,
                     const char* table, const char* types);                            // 34
int32_t DRV_DDTypeInfo(AgentHandle stmt, int16_t sqlType);                             // 35

// Catalog kinds 8 to 11 (1 to 7 are with the fetch).
constexpr int32_t JDB_CAT_PRIMARYKEYS = 8;
constexpr int32_t JDB_CAT_FOREIGNKEYS = 9;
constexpr int32_t JDB_CAT_TABLEPRIVILEGES = 10;
constexpr int32_t JDB_CAT_COLUMNPRIVILEGES = 11;

// SQLTables special cases: 1 all catalogs, 2 all schemas, 8 all table types
// (4, a table "%", plays no further part); 0 for an ordinary table search.
uint32_t JDB_TablesArgKind(const char* catalog, const char* schema, const char* table,
                           const char* types);

// Keeps the statement's local ResultSet (*rs) as its open result and installs
// the layout of the kind. 0, 16, or the builder's status.
int JDB_CatDescribe(JStmt* s, int32_t kind, jobject rs);

// The table-type list as it goes to Java: upper-cased, and with BASE TABLE
// added next to TABLE (drivers that follow the SQL standard name user tables
// so). Exposed for tests.
std::string JDB_TableTypesForJava(const char* types);

}  // namespace kx
