// SQLGetInfo answers of the agent: fixed values, values from the connect
// options, and values asked of the connection's DatabaseMetaData by method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drv_jdbc/j_records.h"
#include "util/hash_table.h"

namespace kx {

// The answer of one information type: *number and text (terminated within
// capacity; "" for a number answer). 0; 1 for a type not answered; 16; or the
// status of the first failing DatabaseMetaData call (its message on the
// connection). The caller has attached the thread and opened a local frame.
int JDB_GetInfoAnswer(JConn* c, uint16_t type, int32_t* number, char* text, size_t capacity);

// SQL_DBMS_VER from the database's own version text: ODBC's ##.##.####
// (major, minor, release), followed by a space and the text itself unless
// the text is those numbers alone ("15.18" gives "15.18.0000").
std::string JDB_OdbcDbmsVersion(const char* own);

// The categories of scalar functions, in the order of SQL_NUMERIC_FUNCTIONS,
// SQL_STRING_FUNCTIONS, SQL_SYSTEM_FUNCTIONS and SQL_TIMEDATE_FUNCTIONS.
constexpr uint32_t JFN_NUMERIC = 1;
constexpr uint32_t JFN_STRING = 2;
constexpr uint32_t JFN_SYSTEM = 3;
constexpr uint32_t JFN_TIMEDATE = 4;

// One row of the JDBC function-name table.
struct JdbcFunctionName {
  const char* name;   // upper case, as JDBC lists it
  uint32_t bit;       // the SQL_FN_* bit of the same name
  uint32_t category;  // JFN_*
};
extern const JdbcFunctionName JDB_FunctionNames[];
extern const int JDB_FunctionNameCount;

// Upper-case name -> row + 1 (a name listed twice keeps its later row); null
// when memory runs out.
HashTable* JDB_MakeFunctionNameMap();
// OR of the bits of the names of the category in a comma-separated JDBC list
// (changed in place: the names are upper-cased). 0 without a map.
uint32_t JDB_FunctionListMask(char* text, const HashTable* map, uint32_t category);

// SQL_CVT_* bits of the target types Java converts the source type to. *status
// gets the first failing call's code (answer 0 then), else 0.
uint32_t JDB_ConvertMask(JConn* c, int* status, int32_t from);


}  // namespace kx
