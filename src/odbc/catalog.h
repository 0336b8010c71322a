// The ten catalog functions: each closes the statement, checks and copies its
// name arguments and hands them to the agent's catalog operation, which opens
// the catalog result on the agent statement.
//
// What reaches the agent for a name argument:
//   - the application's text, without one enclosing pair of ' or " quotes;
//   - "%" for a NULL pattern argument that means "any" (schema, table,
//     column and procedure patterns, where the function says so);
//   - NULL for any other NULL argument (no restriction). An empty text stays
//     an empty text: JDBC reads "" as "none" ("objects without a catalog",
//     "match nothing"), which is what an ODBC application asks for with "".
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

// The table-type list of SQLTables as the agent takes it: each item trimmed
// and enclosed in one pair of single quotes, items separated by a bare comma
// ("TABLE, VIEW" -> "'TABLE','VIEW'"); a list starting with '%' becomes "%".
// malloc'd; NULL for a NULL list or when memory runs out.
char* TableTypeQuote(const char* list);
// The 1-based position of item in a comma-separated list (leading blanks of
// each list item skipped, case-sensitive), or 0.
int TableTypeFind(const char* list, const char* item);

// SQL_SUCCESS, or SQL_ERROR with the code in stmt->error.
SQLRETURN CatColumnPrivileges(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                              const char* schema, int16_t schemaLen, const char* table,
                              int16_t tableLen, const char* column, int16_t columnLen);
SQLRETURN CatColumns(StmtRecord* stmt, const char* catalog, int16_t catalogLen, const char* schema,
                     int16_t schemaLen, const char* table, int16_t tableLen, const char* column,
                     int16_t columnLen);
SQLRETURN CatForeignKeys(StmtRecord* stmt, const char* pkCatalog, int16_t pkCatalogLen,
                         const char* pkSchema, int16_t pkSchemaLen, const char* pkTable,
                         int16_t pkTableLen, const char* fkCatalog, int16_t fkCatalogLen,
                         const char* fkSchema, int16_t fkSchemaLen, const char* fkTable,
                         int16_t fkTableLen);
SQLRETURN CatPrimaryKeys(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                         const char* schema, int16_t schemaLen, const char* table,
                         int16_t tableLen);
SQLRETURN CatProcedureColumns(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                              const char* schema, int16_t schemaLen, const char* procedure,
                              int16_t procedureLen, const char* column, int16_t columnLen);
SQLRETURN CatProcedures(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                        const char* schema, int16_t schemaLen, const char* procedure,
                        int16_t procedureLen);
SQLRETURN CatSpecialColumns(StmtRecord* stmt, uint16_t identifierType, const char* catalog,
                            int16_t catalogLen, const char* schema, int16_t schemaLen,
                            const char* table, int16_t tableLen, uint16_t scope,
                            uint16_t nullable);
SQLRETURN CatStatistics(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                        const char* schema, int16_t schemaLen, const char* table,
                        int16_t tableLen, uint16_t unique, uint16_t accuracy);
SQLRETURN CatTablePrivileges(StmtRecord* stmt, const char* catalog, int16_t catalogLen,
                             const char* schema, int16_t schemaLen, const char* table,
                             int16_t tableLen);
SQLRETURN CatTables(StmtRecord* stmt, const char* catalog, int16_t catalogLen, const char* schema,
                    int16_t schemaLen, const char* table, int16_t tableLen, const char* types,
                    int16_t typesLen);

}  // namespace kx
