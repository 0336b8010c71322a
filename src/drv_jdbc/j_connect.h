// The JDBC connection paths: load the configured class through the
// connection's class loader and open a Connection through a JDBC Driver's
// connect method or a data source whose properties are set by their setters;
// for XA, an XAConnection with its Connection and XAResource. References
// returned are local; the caller keeps global ones.
#pragma once

#include <jni.h>

#include "drv_jdbc/j_records.h"

namespace kx {

constexpr int JC_MAX_PROPS = 100;
constexpr int JC_MAX_SETTER_NAME = 200;

// One data-source property: name and value (null when the item had no '=').
struct DsProp {
  char* name;
  char* value;
};

// Connects through whichever interface the class implements (Driver, then
// DataSource, ConnectionPoolDataSource, XADataSource). classText may be
// "{dsClass;xaDsClass}": the part after ';' goes to *secondClass (heap copy)
// when given. A class that fits none of them answers 3 with a message.
// classText and url are changed in place (braces stripped, list cut).
int _getConnection(JConn* conn, jobject* out, char* classText, char* url, const char* user,
                   const char* password, char** secondClass);
int JC_DriverManager_getConnection(JConn* conn, jobject* out, char* driverClass, char* url,
                                   const char* user, const char* password);
int JC_DataSource_getConnection(JConn* conn, jobject* out, const char* dsClass,
                                const char* props, const char* user, const char* password);
int JC_DataSource_getXAConnection(JConn* conn, jobject* out, const char* dsClass,
                                  const char* props, const char* user, const char* password,
                                  jobject* xaConn, jobject* xaRes);
int JC_DataSource_setProperties(JConn* conn, jclass dsClass, jobject ds, const DsProp* props);
// Array of JC_MAX_PROPS entries (unused ones all null), or null when out of memory.
DsProp* JC_ParseProps(const char* text);
void JC_FreeProps(DsProp* props);

}  // namespace kx
