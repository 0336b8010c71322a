// Wrappers of java.sql.ResultSetMetaData and java.sql.DatabaseMetaData: column
// descriptions, information getters by method name, and the catalog queries.
//
// Catalog arguments arrive as C text, NULL where the argument is left out (the
// core turns a left-out search pattern into "%"). NULL becomes Java null (no
// restriction), except for a required exact name (the table of
// getPrimaryKeys, say), which becomes the empty String. Any text, the empty
// one included, becomes that String: an empty catalog or schema asks for
// objects that have none, an empty pattern matches only an empty name.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "drv_jdbc/j_records.h"

namespace kx {

int JC_ResultSetMetaData_getColumnCount(JStmt* s, jobject md, int32_t* out);
int JC_ResultSetMetaData_getColumnDisplaySize(JStmt* s, jobject md, int32_t column, int32_t* out);
int JC_ResultSetMetaData_getColumnType(JStmt* s, jobject md, int32_t column, int32_t* out);
int JC_ResultSetMetaData_getPrecision(JStmt* s, jobject md, int32_t column, int32_t* out);
int JC_ResultSetMetaData_getScale(JStmt* s, jobject md, int32_t column, int32_t* out);
int JC_ResultSetMetaData_isNullable(JStmt* s, jobject md, int32_t column, int32_t* out);
int JC_ResultSetMetaData_isCaseSensitive(JStmt* s, jobject md, int32_t column, uint8_t* out);
int JC_ResultSetMetaData_isAutoIncrement(JStmt* s, jobject md, int32_t column, uint8_t* out);
int JC_ResultSetMetaData_isSearchable(JStmt* s, jobject md, int32_t column, uint8_t* out);
// *out: heap text (empty for a Java null), NULL when it cannot be made (status 0).
int JC_ResultSetMetaData_getColumnLabel(JStmt* s, jobject md, int32_t column, char** out);
// The database's own name of the column's type; *out a heap text ("" for null).
int JC_ResultSetMetaData_getColumnTypeName(JStmt* s, jobject md, int32_t column, char** out);
int JC_ResultSetMetaData_isReadOnly(JStmt* s, jobject md, int32_t column, uint8_t* out);
int JC_ResultSetMetaData_isWritable(JStmt* s, jobject md, int32_t column, uint8_t* out);

// Fraction digits the column of each time and timestamp parameter of the
// prepared statement ps keeps, as its ParameterMetaData describes them:
// digits[i] for parameter i + 1 (n of them), -1 where the parameter is no time
// or timestamp, or its description is not to be trusted (a precision that
// does not agree with the scale: PostgreSQL's driver answers 0 and 0). All -1
// when the driver describes no parameters. Leaves nothing pending.
void JC_ParameterMetaData_fractionDigits(JStmt* s, jobject ps, int8_t* digits, uint16_t n);

// The JDBC type of each of the first n parameters as the JDBC driver
// describes them; 0 where it gives none (all 0 when it describes nothing).
void JC_ParameterMetaData_types(JStmt* s, jobject ps, int32_t* types, uint16_t n);

int JC_DatabaseMetaData_getStringInfo(JConn* c, jobject dbmd, const char* method, char* buffer,
                                      size_t capacity);
int JC_DatabaseMetaData_getBoolInfo(JConn* c, jobject dbmd, const char* method, uint8_t* out);
int JC_DatabaseMetaData_getIntInfo(JConn* c, jobject dbmd, const char* method, int32_t* out);
int JC_DatabaseMetaData_supportsConvert(JConn* c, jobject dbmd, uint8_t* out, int32_t from,
                                        int32_t to);
int JC_DatabaseMetaData_supportsTransactionIsolationLevel(JConn* c, jobject dbmd, uint8_t* out,
                                                          int32_t level);

// Catalog queries: *rs receives the local ResultSet (none on failure).
int JC_DatabaseMetaData_getTables(JStmt* s, jobject dbmd, const char* catalog,
                                  const char* schemaPattern, const char* tablePattern,
                                  char* typeList, jobject* rs);
int JC_DatabaseMetaData_getCatalogs(JStmt* s, jobject dbmd, jobject* rs);
int JC_DatabaseMetaData_getSchemas(JStmt* s, jobject dbmd, jobject* rs);
int JC_DatabaseMetaData_getTableTypes(JStmt* s, jobject dbmd, jobject* rs);
int JC_DatabaseMetaData_getTypeInfo(JStmt* s, jobject dbmd, jobject* rs);
int JC_DatabaseMetaData_getColumns(JStmt* s, jobject dbmd, const char* catalog,
                                   const char* schemaPattern, const char* tablePattern,
                                   const char* columnPattern, jobject* rs);
int JC_DatabaseMetaData_getProcedureColumns(JStmt* s, jobject dbmd, const char* catalog,
                                            const char* schemaPattern, const char* procPattern,
                                            const char* columnPattern, jobject* rs);
int JC_DatabaseMetaData_getProcedures(JStmt* s, jobject dbmd, const char* catalog,
                                      const char* schemaPattern, const char* procPattern,
                                      jobject* rs);
// JDBC 4's list of functions (FUNCTION_CAT, FUNCTION_SCHEM, FUNCTION_NAME,
// REMARKS, FUNCTION_TYPE, SPECIFIC_NAME).
int JC_DatabaseMetaData_getFunctions(JStmt* s, jobject dbmd, const char* catalog,
                                     const char* schemaPattern, const char* functionPattern,
                                     jobject* rs);
int JC_DatabaseMetaData_getTablePrivileges(JStmt* s, jobject dbmd, const char* catalog,
                                           const char* schemaPattern, const char* tablePattern,
                                           jobject* rs);
int JC_DatabaseMetaData_getColumnPrivileges(JStmt* s, jobject dbmd, const char* catalog,
                                            const char* schema, const char* table,
                                            const char* columnPattern, jobject* rs);
int JC_DatabaseMetaData_getIndexInfo(JStmt* s, jobject dbmd, const char* catalog,
                                     const char* schema, const char* table, int unique,
                                     int approximate, jobject* rs);
int JC_DatabaseMetaData_getPrimaryKeys(JStmt* s, jobject dbmd, const char* catalog,
                                       const char* schema, const char* table, jobject* rs);
int JC_DatabaseMetaData_getVersionColumns(JStmt* s, jobject dbmd, const char* catalog,
                                          const char* schema, const char* table, jobject* rs);
int JC_DatabaseMetaData_getBestRowIdentifier(JStmt* s, jobject dbmd, const char* catalog,
                                             const char* schema, const char* table,
                                             int32_t scope, int nullable, jobject* rs);
int JC_DatabaseMetaData_getCrossReference(JStmt* s, jobject dbmd, const char* pkCatalog,
                                          const char* pkSchema, const char* pkTable,
                                          const char* fkCatalog, const char* fkSchema,
                                          const char* fkTable, jobject* rs);
int JC_DatabaseMetaData_getImportedKeys(JStmt* s, jobject dbmd, const char* catalog,
                                        const char* schema, const char* table, jobject* rs);
int JC_DatabaseMetaData_getExportedKeys(JStmt* s, jobject dbmd, const char* catalog,
                                        const char* schema, const char* table, jobject* rs);

// The table-type list (items separated by commas, each optionally quoted;
// changed in place) as a String array; none for an empty list.
int JC_MakeTableTypeArray(JStmt* s, char* list, jobjectArray* out);

}  // namespace kx
