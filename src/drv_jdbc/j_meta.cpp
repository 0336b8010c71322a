#include "drv_jdbc/j_meta.h"

#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

constexpr const char* kRsmd = "java/sql/ResultSetMetaData";
constexpr const char* kDbmd = "java/sql/DatabaseMetaData";

JMethod mColumnCount{kRsmd, "getColumnCount", "()I"};
JMethod mDisplaySize{kRsmd, "getColumnDisplaySize", "(I)I"};
JMethod mColumnType{kRsmd, "getColumnType", "(I)I"};
JMethod mPrecision{kRsmd, "getPrecision", "(I)I"};
JMethod mScale{kRsmd, "getScale", "(I)I"};
JMethod mIsNullable{kRsmd, "isNullable", "(I)I"};
JMethod mCaseSensitive{kRsmd, "isCaseSensitive", "(I)Z"};
JMethod mAutoIncrement{kRsmd, "isAutoIncrement", "(I)Z"};
JMethod mSearchable{kRsmd, "isSearchable", "(I)Z"};
JMethod mColumnLabel{kRsmd, "getColumnLabel", "(I)Ljava/lang/String;"};
JMethod mColumnTypeName{kRsmd, "getColumnTypeName", "(I)Ljava/lang/String;"};
JMethod mReadOnly{kRsmd, "isReadOnly", "(I)Z"};
JMethod mWritable{kRsmd, "isWritable", "(I)Z"};

constexpr const char* kPmd = "java/sql/ParameterMetaData";
JMethod mParamMeta{"java/sql/PreparedStatement", "getParameterMetaData", "()Ljava/sql/ParameterMetaData;"};
JMethod mParamType{kPmd, "getParameterType", "(I)I"};
JMethod mParamPrecision{kPmd, "getPrecision", "(I)I"};
JMethod mParamScale{kPmd, "getScale", "(I)I"};

JMethod mSupportsConvert{kDbmd, "supportsConvert", "(II)Z"};
JMethod mSupportsIsolation{kDbmd, "supportsTransactionIsolationLevel", "(I)Z"};
JMethod mGetTables{kDbmd, "getTables",
                   "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;[Ljava/lang/String;)"
                   "Ljava/sql/ResultSet;"};
JMethod mGetCatalogs{kDbmd, "getCatalogs", "()Ljava/sql/ResultSet;"};
JMethod mGetSchemas{kDbmd, "getSchemas", "()Ljava/sql/ResultSet;"};
JMethod mGetTableTypes{kDbmd, "getTableTypes", "()Ljava/sql/ResultSet;"};
JMethod mGetTypeInfo{kDbmd, "getTypeInfo", "()Ljava/sql/ResultSet;"};
JMethod mGetColumns{kDbmd, "getColumns",
                    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)"
                    "Ljava/sql/ResultSet;"};
JMethod mGetProcColumns{kDbmd, "getProcedureColumns",
                        "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/"
                        "String;)Ljava/sql/ResultSet;"};
JMethod mGetProcedures{kDbmd, "getProcedures",
                       "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                       "ResultSet;"};
JMethod mGetFunctions{kDbmd, "getFunctions",
                      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                      "ResultSet;"};
JMethod mGetTablePrivs{kDbmd, "getTablePrivileges",
                       "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                       "ResultSet;"};
JMethod mGetColumnPrivs{kDbmd, "getColumnPrivileges",
                        "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/"
                        "String;)Ljava/sql/ResultSet;"};
JMethod mGetIndexInfo{kDbmd, "getIndexInfo",
                      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;ZZ)Ljava/sql/"
                      "ResultSet;"};
JMethod mGetPrimaryKeys{kDbmd, "getPrimaryKeys",
                        "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                        "ResultSet;"};
JMethod mGetVersionColumns{kDbmd, "getVersionColumns",
                           "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                           "ResultSet;"};
JMethod mGetBestRowId{kDbmd, "getBestRowIdentifier",
                      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IZ)Ljava/sql/"
                      "ResultSet;"};
JMethod mGetCrossReference{kDbmd, "getCrossReference",
                           "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/"
                           "String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/ResultSet;"};
JMethod mGetImportedKeys{kDbmd, "getImportedKeys",
                         "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                         "ResultSet;"};
JMethod mGetExportedKeys{kDbmd, "getExportedKeys",
                         "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/sql/"
                         "ResultSet;"};

int Check(JStmt* s) { return CheckException(s->jni, s->unicodeClient, &s->msgs); }

// How a catalog argument becomes a Java value. An empty text is never turned
// into Java null: in a catalog call it names objects without a catalog or
// schema (or with an empty name), while NULL leaves the argument out.
enum ArgKind {
  kOptional,  // NULL: Java null (no restriction); any text, "" included: that String
  kRequired,  // NULL: the empty String; any text: that String
};

// The String arguments of one catalog query, deleted when it ends.
struct CatalogArgs {
  JStmt* s;
  jstring v[6] = {};
  int n = 0;
  explicit CatalogArgs(JStmt* st) : s(st) {}
  ~CatalogArgs() {
    for (int i = 0; i < n; ++i) JW_Delete(s->jni, v[i]);
  }
  CatalogArgs(const CatalogArgs&) = delete;
  CatalogArgs& operator=(const CatalogArgs&) = delete;
  // 0, or 15 when a String cannot be made.
  int Add(const char* text, ArgKind kind) {
    jstring value = nullptr;
    if (text != nullptr || kind == kRequired) {
      if (JW_InputString(s->jni, text, s->unicodeClient, &s->msgs, &value) != 0) {
        return KX_ERR_GENERAL;
      }
    }
    v[n++] = value;
    return 0;
  }
};

int CatalogCall(JStmt* s, JMethod& m, jobject dbmd, jobject* rs, const CatalogArgs& a, int count,
                jobject extra1 = nullptr) {
  (void)extra1;
  int rc = 0;
  switch (count) {
    case 0: rc = JC_CallObject(s->jni, dbmd, m, rs); break;
    case 3: rc = JC_CallObject(s->jni, dbmd, m, rs, a.v[0], a.v[1], a.v[2]); break;
    case 4: rc = JC_CallObject(s->jni, dbmd, m, rs, a.v[0], a.v[1], a.v[2], a.v[3]); break;
    case 6:
      rc = JC_CallObject(s->jni, dbmd, m, rs, a.v[0], a.v[1], a.v[2], a.v[3], a.v[4], a.v[5]);
      break;
    default: rc = KX_ERR_GENERAL; break;
  }
  if (rc != 0) {
    *rs = nullptr;
    return Check(s);
  }
  return 0;
}

bool IsQuote(char c) { return c == '\'' || c == '"'; }

}  // namespace

// ---- ResultSetMetaData ----------------------------------------------------------------

int JC_ResultSetMetaData_getColumnCount(JStmt* s, jobject md, int32_t* out) {
  JW_Trace("ResultSetMetaData.getColumnCount");
  jint v = 0;
  if (JC_CallInt(s->jni, md, mColumnCount, &v) != 0) return Check(s);
  if (out != nullptr) *out = v;
  return 0;
}

#define KX_RSMD_INT(Name, M)                                                            \
  int JC_ResultSetMetaData_##Name(JStmt* s, jobject md, int32_t column, int32_t* out) { \
    JW_Trace("ResultSetMetaData." #Name);                                              \
    jint v = 0;                                                                        \
    if (JC_CallInt(s->jni, md, M, &v, static_cast<jint>(column)) != 0) return Check(s); \
    if (out != nullptr) *out = v;                                                      \
    return 0;                                                                          \
  }
#define KX_RSMD_BOOL(Name, M)                                                          \
  int JC_ResultSetMetaData_##Name(JStmt* s, jobject md, int32_t column, uint8_t* out) { \
    JW_Trace("ResultSetMetaData." #Name);                                              \
    jboolean v = JNI_FALSE;                                                            \
    if (JC_CallBoolean(s->jni, md, M, &v, static_cast<jint>(column)) != 0) return Check(s); \
    if (out != nullptr) *out = v ? 1 : 0;                                              \
    return 0;                                                                          \
  }
KX_RSMD_INT(getColumnDisplaySize, mDisplaySize)
KX_RSMD_INT(getColumnType, mColumnType)
KX_RSMD_INT(getPrecision, mPrecision)
KX_RSMD_INT(getScale, mScale)
KX_RSMD_INT(isNullable, mIsNullable)
KX_RSMD_BOOL(isCaseSensitive, mCaseSensitive)
KX_RSMD_BOOL(isAutoIncrement, mAutoIncrement)
KX_RSMD_BOOL(isSearchable, mSearchable)
KX_RSMD_BOOL(isReadOnly, mReadOnly)
KX_RSMD_BOOL(isWritable, mWritable)
#undef KX_RSMD_INT
#undef KX_RSMD_BOOL

namespace {

int ColumnText(JStmt* s, jobject md, JMethod& m, int32_t column, char** out) {
  *out = nullptr;
  jobject str = nullptr;
  if (JC_CallObject(s->jni, md, m, &str, static_cast<jint>(column)) != 0) return Check(s);
  if (str == nullptr) {
    *out = static_cast<char*>(std::calloc(1, 1));
  } else {
    *out = JC_StringToC(s->jni, static_cast<jstring>(str), s->unicodeClient);
    JC_ClearException(s->jni);
    JW_Delete(s->jni, str);
  }
  return 0;
}

}  // namespace

namespace {

// The prepared statement's parameter description (a local reference), or
// null (nothing pending) where the JDBC driver gives none.
jobject ParameterMeta(JStmt* s, jobject ps) {
  JNIEnv* env = s->jni;
  JW_Trace("PreparedStatement.getParameterMetaData");
  jobject md = nullptr;
  if (JC_CallObject(env, ps, mParamMeta, &md) != 0 || md == nullptr) {
    JC_ClearException(env);
    if (md != nullptr) JW_Delete(env, md);
    return nullptr;
  }
  return md;
}

}  // namespace

void JC_ParameterMetaData_fractionDigits(JStmt* s, jobject ps, int8_t* digits, uint16_t n) {
  for (uint16_t i = 0; i < n; ++i) digits[i] = -1;
  JNIEnv* env = s->jni;
  jobject md = ParameterMeta(s, ps);
  if (md == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) {
    const jint p = static_cast<jint>(i) + 1;
    jint type = 0, precision = 0, scale = 0;
    if (JC_CallInt(env, md, mParamType, &type, p) != 0) break;
    const bool time = type == JT_TIME || type == JT_TIME_WITH_TIMEZONE;
    const bool stamp = type == JT_TIMESTAMP || type == JT_TIMESTAMP_WITH_TIMEZONE;
    if (!time && !stamp) continue;
    if (JC_CallInt(env, md, mParamPrecision, &precision, p) != 0 ||
        JC_CallInt(env, md, mParamScale, &scale, p) != 0) {
      break;
    }
    // The characters of its text: "hh:mm:ss" or "yyyy-mm-dd hh:mm:ss", then
    // the point and the fraction digits.
    const jint whole = time ? 8 : 19;
    if (scale >= 0 && scale <= 9 && precision == whole + (scale > 0 ? scale + 1 : 0)) {
      digits[i] = static_cast<int8_t>(scale);
    }
  }
  JC_ClearException(env);
  JW_Delete(env, md);
}

void JC_ParameterMetaData_types(JStmt* s, jobject ps, int32_t* types, uint16_t n) {
  for (uint16_t i = 0; i < n; ++i) types[i] = 0;
  JNIEnv* env = s->jni;
  jobject md = ParameterMeta(s, ps);
  if (md == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) {
    jint type = 0;
    if (JC_CallInt(env, md, mParamType, &type, static_cast<jint>(i) + 1) != 0) break;
    types[i] = type;
  }
  JC_ClearException(env);
  JW_Delete(env, md);
}

int JC_ResultSetMetaData_getColumnTypeName(JStmt* s, jobject md, int32_t column, char** out) {
  JW_Trace("ResultSetMetaData.getColumnTypeName");
  return ColumnText(s, md, mColumnTypeName, column, out);
}

int JC_ResultSetMetaData_getColumnLabel(JStmt* s, jobject md, int32_t column, char** out) {
  JW_Trace("ResultSetMetaData.getColumnLabel");
  return ColumnText(s, md, mColumnLabel, column, out);
}

// ---- DatabaseMetaData information ----------------------------------------------------

int JC_DatabaseMetaData_getStringInfo(JConn* c, jobject dbmd, const char* method, char* buffer,
                                      size_t capacity) {
  JW_Trace("DatabaseMetaData.%s ", method != nullptr ? method : "");
  jobject str = nullptr;
  if (JC_CallObjectMethod(c->jni, dbmd, nullptr, method, "()Ljava/lang/String;", &str) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  int status = JW_CopyFixed(c->jni, static_cast<jstring>(str), c->unicodeClient, buffer, capacity,
                            nullptr, nullptr);
  JW_Delete(c->jni, str);
  return status;
}

int JC_DatabaseMetaData_getBoolInfo(JConn* c, jobject dbmd, const char* method, uint8_t* out) {
  JW_Trace("DatabaseMetaData.%s", method != nullptr ? method : "");
  jboolean v = JNI_FALSE;
  if (JC_CallBooleanMethod(c->jni, dbmd, nullptr, method, "()Z", &v) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  if (out != nullptr) *out = v ? 1 : 0;
  return 0;
}

int JC_DatabaseMetaData_getIntInfo(JConn* c, jobject dbmd, const char* method, int32_t* out) {
  JW_Trace("DatabaseMetaData.%s", method != nullptr ? method : "");
  jint v = 0;
  if (JC_CallIntMethod(c->jni, dbmd, nullptr, method, "()I", &v) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  if (out != nullptr) *out = v;
  return 0;
}

int JC_DatabaseMetaData_supportsConvert(JConn* c, jobject dbmd, uint8_t* out, int32_t from,
                                        int32_t to) {
  JW_Trace("DatabaseMetaData.supportsConvert(%d, %d)", from, to);
  jboolean v = JNI_FALSE;
  if (JC_CallBoolean(c->jni, dbmd, mSupportsConvert, &v, static_cast<jint>(from),
                     static_cast<jint>(to)) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  if (out != nullptr) *out = v ? 1 : 0;
  return 0;
}

int JC_DatabaseMetaData_supportsTransactionIsolationLevel(JConn* c, jobject dbmd, uint8_t* out,
                                                          int32_t level) {
  JW_Trace("DatabaseMetaData.supportsTransactionIsolationLevel(%d)", level);
  jboolean v = JNI_FALSE;
  if (JC_CallBoolean(c->jni, dbmd, mSupportsIsolation, &v, static_cast<jint>(level)) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  if (out != nullptr) *out = v ? 1 : 0;
  return 0;
}

// ---- catalog queries ----------------------------------------------------------------

int JC_MakeTableTypeArray(JStmt* s, char* list, jobjectArray* out) {
  *out = nullptr;
  JNIEnv* env = s->jni;
  if (list == nullptr) list = const_cast<char*>("");
  jsize count = 0;
  if (list[0] != '\0') {
    count = 1;
    for (const char* p = list; *p != '\0'; ++p) count += *p == ',';
  }
  jclass strClass = env->FindClass("java/lang/String");
  if (env->ExceptionCheck() || strClass == nullptr) {
    env->ExceptionClear();
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't find java.lang.String");
    return KX_ERR_GENERAL;
  }
  if (count == 0) {
    env->DeleteLocalRef(strClass);
    return 0;
  }
  jobjectArray array = env->NewObjectArray(count, strClass, nullptr);
  if (array == nullptr || Check(s) != 0) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't create Array of java.lang.String");
    JW_Delete(env, array);
    env->DeleteLocalRef(strClass);
    return KX_ERR_GENERAL;
  }
  int status = 0;
  jsize index = 0;
  char* item = list;
  auto store = [&](char* text) {
    jstring str = nullptr;
    if (JW_InputString(env, text, s->unicodeClient, &s->msgs, &str) != 0) return KX_ERR_GENERAL;
    env->SetObjectArrayElement(array, index++, str);
    env->DeleteLocalRef(str);
    return Check(s);
  };
  for (char* p = list; *p != '\0' && status == 0; ++p) {
    if (*p != ',') continue;
    *p = '\0';
    // Only look back within this item: a leading comma has nothing before it.
    if (p > item && IsQuote(p[-1])) p[-1] = '\0';
    if (IsQuote(*item)) ++item;
    status = store(item);
    item = p + 1;
  }
  if (status == 0) {
    if (IsQuote(*item)) ++item;
    size_t n = std::strlen(item);
    if (n > 0 && IsQuote(item[n - 1])) item[n - 1] = '\0';
    status = store(item);
  }
  env->DeleteLocalRef(strClass);
  if (status != 0) {
    env->DeleteLocalRef(array);
    return status;
  }
  *out = array;
  return 0;
}

int JC_DatabaseMetaData_getTables(JStmt* s, jobject dbmd, const char* catalog,
                                  const char* schemaPattern, const char* tablePattern,
                                  char* typeList, jobject* rs) {
  JW_Trace("DatabaseMetaData.getTables [%s] [%s] [%s] [%s]", catalog ? catalog : "",
           schemaPattern ? schemaPattern : "", tablePattern ? tablePattern : "",
           typeList ? typeList : "");
  *rs = nullptr;
  CatalogArgs a(s);
  if (a.Add(catalog, kOptional) != 0 || a.Add(schemaPattern, kOptional) != 0 ||
      a.Add(tablePattern, kOptional) != 0) {
    return KX_ERR_GENERAL;
  }
  jobjectArray types = nullptr;
  if (int status = JC_MakeTableTypeArray(s, typeList, &types); status != 0) return status;
  int status = 0;
  if (JC_CallObject(s->jni, dbmd, mGetTables, rs, a.v[0], a.v[1], a.v[2], types) != 0) {
    *rs = nullptr;
    status = Check(s);
  }
  JW_Delete(s->jni, types);
  return status;
}

#define KX_CATALOG0(Name, M)                                               \
  int JC_DatabaseMetaData_##Name(JStmt* s, jobject dbmd, jobject* rs) {    \
    JW_Trace("DatabaseMetaData." #Name);                                  \
    *rs = nullptr;                                                        \
    CatalogArgs a(s);                                                     \
    return CatalogCall(s, M, dbmd, rs, a, 0);                             \
  }
KX_CATALOG0(getCatalogs, mGetCatalogs)
KX_CATALOG0(getSchemas, mGetSchemas)
KX_CATALOG0(getTableTypes, mGetTableTypes)
KX_CATALOG0(getTypeInfo, mGetTypeInfo)
#undef KX_CATALOG0

#define KX_CATALOG3(Name, M, K1, K2, K3)                                  \
  int JC_DatabaseMetaData_##Name(JStmt* s, jobject dbmd, const char* a1, const char* a2,   \
                                 const char* a3, jobject* rs) {                            \
    JW_Trace("DatabaseMetaData." #Name);                                                    \
    *rs = nullptr;                                                                          \
    CatalogArgs a(s);                                                                       \
    if (a.Add(a1, K1) != 0 || a.Add(a2, K2) != 0 || a.Add(a3, K3) != 0) return KX_ERR_GENERAL; \
    return CatalogCall(s, M, dbmd, rs, a, 3);                                               \
  }
KX_CATALOG3(getProcedures, mGetProcedures, kOptional, kOptional, kOptional)
KX_CATALOG3(getFunctions, mGetFunctions, kOptional, kOptional, kOptional)
KX_CATALOG3(getTablePrivileges, mGetTablePrivs, kOptional, kOptional, kOptional)
KX_CATALOG3(getPrimaryKeys, mGetPrimaryKeys, kOptional, kOptional, kRequired)
KX_CATALOG3(getVersionColumns, mGetVersionColumns, kOptional, kOptional, kRequired)
KX_CATALOG3(getImportedKeys, mGetImportedKeys, kOptional, kOptional, kRequired)
KX_CATALOG3(getExportedKeys, mGetExportedKeys, kOptional, kOptional, kRequired)
#undef KX_CATALOG3

#define KX_CATALOG4(Name, M, K1, K2, K3, K4)                                                \
  int JC_DatabaseMetaData_##Name(JStmt* s, jobject dbmd, const char* a1, const char* a2,   \
                                 const char* a3, const char* a4, jobject* rs) {            \
    JW_Trace("DatabaseMetaData." #Name);                                                    \
    *rs = nullptr;                                                                          \
    CatalogArgs a(s);                                                                       \
    if (a.Add(a1, K1) != 0 || a.Add(a2, K2) != 0 || a.Add(a3, K3) != 0 ||                   \
        a.Add(a4, K4) != 0) {                                                               \
      return KX_ERR_GENERAL;                                                                \
    }                                                                                       \
    return CatalogCall(s, M, dbmd, rs, a, 4);                                               \
  }
KX_CATALOG4(getColumns, mGetColumns, kOptional, kOptional, kOptional, kOptional)
KX_CATALOG4(getProcedureColumns, mGetProcColumns, kOptional, kOptional, kOptional, kOptional)
KX_CATALOG4(getColumnPrivileges, mGetColumnPrivs, kOptional, kOptional, kOptional, kOptional)
#undef KX_CATALOG4

int JC_DatabaseMetaData_getIndexInfo(JStmt* s, jobject dbmd, const char* catalog,
                                     const char* schema, const char* table, int unique,
                                     int approximate, jobject* rs) {
  JW_Trace("DatabaseMetaData.getIndexInfo");
  *rs = nullptr;
  CatalogArgs a(s);
  if (a.Add(catalog, kOptional) != 0 || a.Add(schema, kOptional) != 0 ||
      a.Add(table, kRequired) != 0) {
    return KX_ERR_GENERAL;
  }
  if (JC_CallObject(s->jni, dbmd, mGetIndexInfo, rs, a.v[0], a.v[1], a.v[2],
                    static_cast<jboolean>(unique & 0xFF),
                    static_cast<jboolean>(approximate & 0xFF)) != 0) {
    *rs = nullptr;
    return Check(s);
  }
  return 0;
}

int JC_DatabaseMetaData_getBestRowIdentifier(JStmt* s, jobject dbmd, const char* catalog,
                                             const char* schema, const char* table,
                                             int32_t scope, int nullable, jobject* rs) {
  JW_Trace("DatabaseMetaData.getBestRowIdentifier");
  *rs = nullptr;
  CatalogArgs a(s);
  if (a.Add(catalog, kOptional) != 0 || a.Add(schema, kOptional) != 0 ||
      a.Add(table, kRequired) != 0) {
    return KX_ERR_GENERAL;
  }
  if (JC_CallObject(s->jni, dbmd, mGetBestRowId, rs, a.v[0], a.v[1], a.v[2],
                    static_cast<jint>(scope), static_cast<jboolean>(nullable & 0xFF)) != 0) {
    *rs = nullptr;
    return Check(s);
  }
  return 0;
}

int JC_DatabaseMetaData_getCrossReference(JStmt* s, jobject dbmd, const char* pkCatalog,
                                          const char* pkSchema, const char* pkTable,
                                          const char* fkCatalog, const char* fkSchema,
                                          const char* fkTable, jobject* rs) {
  JW_Trace("DatabaseMetaData.getCrossReference");
  *rs = nullptr;
  CatalogArgs a(s);
  if (a.Add(pkCatalog, kOptional) != 0 || a.Add(pkSchema, kOptional) != 0 ||
      a.Add(pkTable, kRequired) != 0 || a.Add(fkCatalog, kOptional) != 0 ||
      a.Add(fkSchema, kOptional) != 0 || a.Add(fkTable, kRequired) != 0) {
    return KX_ERR_GENERAL;
  }
  return CatalogCall(s, mGetCrossReference, dbmd, rs, a, 6);
}

}  // namespace kx
