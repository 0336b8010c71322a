#include "drv_jdbc/j_conn_stmt.h"

#include <cstdlib>
#include <mutex>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

JMethod mGetMetaData{"java/sql/Connection", "getMetaData", "()Ljava/sql/DatabaseMetaData;"};
JMethod mGetAutoCommit{"java/sql/Connection", "getAutoCommit", "()Z"};
JMethod mGetIsolation{"java/sql/Connection", "getTransactionIsolation", "()I"};
JMethod mGetCatalog{"java/sql/Connection", "getCatalog", "()Ljava/lang/String;"};
JMethod mGetSchema{"java/sql/Connection", "getSchema", "()Ljava/lang/String;"};
JMethod mCreateStatement{"java/sql/Connection", "createStatement", "()Ljava/sql/Statement;"};
JMethod mPrepareStatement{"java/sql/Connection", "prepareStatement",
                          "(Ljava/lang/String;)Ljava/sql/PreparedStatement;"};
// With Statement.RETURN_GENERATED_KEYS: the rows a data change returns come
// as its generated keys, after its update count.
JMethod mPrepareStatementKeys{"java/sql/Connection", "prepareStatement",
                              "(Ljava/lang/String;I)Ljava/sql/PreparedStatement;"};
JMethod mPrepareCall{"java/sql/Connection", "prepareCall",
                     "(Ljava/lang/String;)Ljava/sql/CallableStatement;"};
JMethod mConnClose{"java/sql/Connection", "close", "()V"};
JMethod mCommit{"java/sql/Connection", "commit", "()V"};
JMethod mRollback{"java/sql/Connection", "rollback", "()V"};
JMethod mSetSavepoint{"java/sql/Connection", "setSavepoint", "()Ljava/sql/Savepoint;"};
JMethod mRollbackTo{"java/sql/Connection", "rollback", "(Ljava/sql/Savepoint;)V"};
JMethod mReleaseSavepoint{"java/sql/Connection", "releaseSavepoint", "(Ljava/sql/Savepoint;)V"};
JMethod mSetAutoCommit{"java/sql/Connection", "setAutoCommit", "(Z)V"};
JMethod mSetReadOnly{"java/sql/Connection", "setReadOnly", "(Z)V"};
JMethod mSetCatalog{"java/sql/Connection", "setCatalog", "(Ljava/lang/String;)V"};
JMethod mSetIsolation{"java/sql/Connection", "setTransactionIsolation", "(I)V"};
JMethod mIsClosed{"java/sql/Connection", "isClosed", "()Z"};
JMethod mIsValid{"java/sql/Connection", "isValid", "(I)Z"};
JMethod mNativeSql{"java/sql/Connection", "nativeSQL", "(Ljava/lang/String;)Ljava/lang/String;"};

JMethod mExecute{"java/sql/Statement", "execute", "(Ljava/lang/String;)Z"};
JMethod mStmtClose{"java/sql/Statement", "close", "()V"};
JMethod mGetMoreResults{"java/sql/Statement", "getMoreResults", "()Z"};
JMethod mGetUpdateCount{"java/sql/Statement", "getUpdateCount", "()I"};
JMethod mGetGeneratedKeys{"java/sql/Statement", "getGeneratedKeys", "()Ljava/sql/ResultSet;"};
JMethod mSetCursorName{"java/sql/Statement", "setCursorName", "(Ljava/lang/String;)V"};
JMethod mGetQueryTimeout{"java/sql/Statement", "getQueryTimeout", "()I"};
JMethod mSetQueryTimeout{"java/sql/Statement", "setQueryTimeout", "(I)V"};
JMethod mSetFetchSize{"java/sql/Statement", "setFetchSize", "(I)V"};

// The statement-creating wrappers: the record's statement reference becomes a
// global reference to the result, or none after a failure.
// keys: the int argument of mPrepareStatementKeys (ignored for the others).
int StoreStatement(JStmt* s, jobject conn, JMethod& m, jstring sql, jint keys = 0) {
  JNIEnv* env = s->jni;
  jobject local = nullptr;
  int rc = 0;
  if (sql == nullptr) {
    rc = JC_CallObject(env, conn, m, &local);
  } else if (&m == &mPrepareStatementKeys) {
    rc = JC_CallObject(env, conn, m, &local, sql, keys);
  } else {
    rc = JC_CallObject(env, conn, m, &local, sql);
  }
  int status = 0;
  if (rc != 0) status = CheckException(env, s->unicodeClient, &s->msgs);
  jobject global = rc == 0 && local != nullptr && env != nullptr ? env->NewGlobalRef(local) : nullptr;
  {
    std::lock_guard<std::mutex> guard(JDB_StmtRefLock());
    s->stmt = global;
  }
  JW_Delete(env, local);
  return status;
}

// The common case: one call, CheckException on failure.
template <typename Call>
int Simple(JNIEnv* env, int32_t mode, AgentMsgList* list, Call call) {
  if (call() == 0) return 0;
  return CheckException(env, mode, list);
}

int Fixed(int status, int fixed) { return status != 0 ? fixed : 0; }

// A connection's text property copied into the caller's fixed buffer.
int ConnectionText(JConn* c, jobject conn, JMethod& method, char* buffer, size_t capacity) {
  jobject str = nullptr;
  if (JC_CallObject(c->jni, conn, method, &str) != 0) {
    return CheckException(c->jni, c->unicodeClient, &c->msgs);
  }
  int status = JW_CopyFixed(c->jni, static_cast<jstring>(str), c->unicodeClient, buffer, capacity,
                            nullptr, nullptr);
  JW_Delete(c->jni, str);
  return status;
}

}  // namespace

// ---- Connection ------------------------------------------------------------------

int JC_Connection_getMetaData(JConn* c, jobject conn, jobject* out) {
  JW_Trace("Connection.getMetaData");
  return Simple(c->jni, c->unicodeClient, &c->msgs,
                [&] { return JC_CallObject(c->jni, conn, mGetMetaData, out); });
}

int JC_Connection_getAutoCommit(JConn* c, jobject conn, uint8_t* out) {
  JW_Trace("Connection.getAutoCommit");
  jboolean v = JNI_FALSE;
  int status = Simple(c->jni, c->unicodeClient, &c->msgs,
                      [&] { return JC_CallBoolean(c->jni, conn, mGetAutoCommit, &v); });
  if (status == 0 && out != nullptr) *out = v ? 1 : 0;
  return status;
}

int JC_Connection_getTransactionIsolation(JConn* c, jobject conn, int32_t* out) {
  JW_Trace("Connection.getTransactionIsolation");
  jint v = 0;
  int status = Simple(c->jni, c->unicodeClient, &c->msgs,
                      [&] { return JC_CallInt(c->jni, conn, mGetIsolation, &v); });
  if (status == 0 && out != nullptr) *out = v;
  return status;
}

int JC_Connection_getCatalog(JConn* c, jobject conn, char* buffer, size_t capacity) {
  JW_Trace("Connection.getCatalog");
  return ConnectionText(c, conn, mGetCatalog, buffer, capacity);
}

int JC_Connection_getSchema(JConn* c, jobject conn, char* buffer, size_t capacity) {
  JW_Trace("Connection.getSchema");
  return ConnectionText(c, conn, mGetSchema, buffer, capacity);
}

int JC_Connection_createStatement(JConn* c, jobject conn, jobject* out) {
  JW_Trace("Connection.createStatement");
  return Simple(c->jni, c->unicodeClient, &c->msgs,
                [&] { return JC_CallObject(c->jni, conn, mCreateStatement, out); });
}

int JC_Connection_createStatementForStmt(JStmt* s, jobject conn) {
  JW_Trace("Connection.createStatement");
  return StoreStatement(s, conn, mCreateStatement, nullptr);
}

int JC_Connection_prepareStatement(JStmt* s, jobject conn, const char* sql) {
  JW_Trace("Connection.prepareStatement");
  jstring text = nullptr;
  if (JW_InputString(s->jni, sql, s->unicodeClient, &s->msgs, &text) != 0) return KX_ERR_GENERAL;
  int status = StoreStatement(s, conn, mPrepareStatement, text);
  JW_Delete(s->jni, text);
  return Fixed(status, KX_ERR_SYNTAX);
}

int JC_Connection_prepareStatementCounted(JStmt* s, jobject conn, const char* sql) {
  JW_Trace("Connection.prepareStatement(RETURN_GENERATED_KEYS)");
  constexpr jint kReturnGeneratedKeys = 1;  // java.sql.Statement.RETURN_GENERATED_KEYS
  jstring text = nullptr;
  if (JW_InputString(s->jni, sql, s->unicodeClient, &s->msgs, &text) != 0) return KX_ERR_GENERAL;
  int status = StoreStatement(s, conn, mPrepareStatementKeys, text, kReturnGeneratedKeys);
  JW_Delete(s->jni, text);
  return Fixed(status, KX_ERR_SYNTAX);
}

int JC_Connection_prepareCall(JStmt* s, jobject conn, const char* sql) {
  JW_Trace("Connection.prepareCall");
  jstring text = nullptr;
  if (JW_InputString(s->jni, sql, s->unicodeClient, &s->msgs, &text) != 0) return KX_ERR_GENERAL;
  int status = StoreStatement(s, conn, mPrepareCall, text);
  JW_Delete(s->jni, text);
  return Fixed(status, KX_ERR_SYNTAX);
}

#define KX_CONN_VOID(Name, M)                                                     \
  int JC_Connection_##Name(JConn* c, jobject conn) {                              \
    JW_Trace("Connection." #Name);                                                \
    return Simple(c->jni, c->unicodeClient, &c->msgs,                             \
                  [&] { return JC_CallVoid(c->jni, conn, M); });                  \
  }
int JC_Connection_getAutoCommitForStmt(JStmt* s, jobject conn, uint8_t* out) {
  JW_Trace("Connection.getAutoCommit");
  jboolean v = JNI_FALSE;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallBoolean(s->jni, conn, mGetAutoCommit, &v); });
  if (status == 0 && out != nullptr) *out = v ? 1 : 0;
  return status;
}

int JC_Connection_setAutoCommitForStmt(JStmt* s, jobject conn, int on) {
  JW_Trace("Connection.setAutoCommit");
  jboolean b = static_cast<jboolean>(on & 0xFF);
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallVoid(s->jni, conn, mSetAutoCommit, b); });
}

int JC_Connection_commitForStmt(JStmt* s, jobject conn) {
  JW_Trace("Connection.commit");
  return Simple(s->jni, s->unicodeClient, &s->msgs, [&] { return JC_CallVoid(s->jni, conn, mCommit); });
}

int JC_Connection_rollbackForStmt(JStmt* s, jobject conn) {
  JW_Trace("Connection.rollback");
  return Simple(s->jni, s->unicodeClient, &s->msgs, [&] { return JC_CallVoid(s->jni, conn, mRollback); });
}

int JC_Connection_setSavepointForStmt(JStmt* s, jobject conn, jobject* out) {
  JW_Trace("Connection.setSavepoint");
  *out = nullptr;
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallObject(s->jni, conn, mSetSavepoint, out); });
}

int JC_Connection_rollbackToSavepointForStmt(JStmt* s, jobject conn, jobject savepoint) {
  JW_Trace("Connection.rollback(Savepoint)");
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallVoid(s->jni, conn, mRollbackTo, savepoint); });
}

int JC_Connection_releaseSavepointForStmt(JStmt* s, jobject conn, jobject savepoint) {
  JW_Trace("Connection.releaseSavepoint");
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallVoid(s->jni, conn, mReleaseSavepoint, savepoint); });
}

KX_CONN_VOID(close, mConnClose)
KX_CONN_VOID(commit, mCommit)
KX_CONN_VOID(rollback, mRollback)
#undef KX_CONN_VOID

int JC_Connection_setAutoCommit(JConn* c, jobject conn, int on) {
  JW_Trace("Connection.setAutoCommit");
  jboolean b = static_cast<jboolean>(on & 0xFF);
  return Simple(c->jni, c->unicodeClient, &c->msgs,
                [&] { return JC_CallVoid(c->jni, conn, mSetAutoCommit, b); });
}

int JC_Connection_setReadOnly(JConn* c, jobject conn, int on) {
  JW_Trace("Connection.setReadOnly");
  jboolean b = static_cast<jboolean>(on & 0xFF);
  return Simple(c->jni, c->unicodeClient, &c->msgs,
                [&] { return JC_CallVoid(c->jni, conn, mSetReadOnly, b); });
}

int JC_Connection_setCatalog(JConn* c, jobject conn, const char* catalog) {
  JW_Trace("Connection.setCatalog");
  jstring text = nullptr;
  if (JW_InputString(c->jni, catalog, c->unicodeClient, &c->msgs, &text) != 0) {
    return KX_ERR_GENERAL;
  }
  int status = Simple(c->jni, c->unicodeClient, &c->msgs,
                      [&] { return JC_CallVoid(c->jni, conn, mSetCatalog, text); });
  JW_Delete(c->jni, text);
  return status;
}

int JC_Connection_setTransactionIsolation(JConn* c, jobject conn, int32_t level) {
  JW_Trace("Connection.setTransactionIsolation");
  return Simple(c->jni, c->unicodeClient, &c->msgs, [&] {
    return JC_CallVoid(c->jni, conn, mSetIsolation, static_cast<jint>(level));
  });
}

bool JC_Connection_isLost(JConn* c) {
  if (c->lost.load()) return true;
  if (c->conn == nullptr) return true;
  JW_Trace("Connection.isClosed");
  jboolean closed = JNI_FALSE;
  if (JC_CallBoolean(c->jni, c->conn, mIsClosed, &closed) != 0) {
    JC_ClearException(c->jni);
    closed = JNI_FALSE;
  }
  bool lost = closed != JNI_FALSE;
  if (!lost) {
    // isValid talks to the server (a round trip at most this long); a driver
    // without it (AbstractMethodError, SQLFeatureNotSupportedException) says
    // nothing about the connection.
    JW_Trace("Connection.isValid");
    jboolean valid = JNI_TRUE;
    const jint seconds = JDB_ALIVE_CHECK_SECONDS;
    if (JC_CallBoolean(c->jni, c->conn, mIsValid, &valid, seconds) != 0) {
      JC_ClearException(c->jni);
      valid = JNI_TRUE;
    }
    lost = valid == JNI_FALSE;
  }
  if (lost) c->lost.store(true);
  return lost;
}

int JC_Connection_nativeSQL(JConn* c, jobject conn, const char* sql, char** out) {
  JW_Trace("Connection.nativeSQL");
  *out = nullptr;
  jstring text = nullptr;
  if (JW_InputString(c->jni, sql, c->unicodeClient, &c->msgs, &text) != 0) return KX_ERR_GENERAL;
  jobject result = nullptr;
  int status = Simple(c->jni, c->unicodeClient, &c->msgs,
                      [&] { return JC_CallObject(c->jni, conn, mNativeSql, &result, text); });
  JW_Delete(c->jni, text);
  if (status != 0) return status;
  if (result == nullptr) {
    *out = static_cast<char*>(std::calloc(1, 1));
  } else {
    *out = JC_StringToC(c->jni, static_cast<jstring>(result), c->unicodeClient);
    JC_ClearException(c->jni);
    JW_Delete(c->jni, result);
  }
  if (*out == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Memory allocation failure");
    return KX_ERR_NOMEM;
  }
  return 0;
}

// ---- Statement -------------------------------------------------------------------

int JC_Statement_execute(JStmt* s, jobject stmt, const char* sql, uint8_t* hasResultSet) {
  JW_Trace("Statement.execute");
  jstring text = nullptr;
  if (JW_InputString(s->jni, sql, s->unicodeClient, &s->msgs, &text) != 0) return KX_ERR_GENERAL;
  jboolean v = JNI_FALSE;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallBoolean(s->jni, stmt, mExecute, &v, text); });
  JW_Delete(s->jni, text);
  if (status == 0 && hasResultSet != nullptr) *hasResultSet = v ? 1 : 0;
  return Fixed(status, KX_ERR_SYNTAX);
}

int JC_Statement_executeConn(JConn* c, jobject stmt, const char* sql) {
  JW_Trace("Statement.execute");
  jstring text = nullptr;
  if (JW_InputString(c->jni, sql, c->unicodeClient, &c->msgs, &text) != 0) return KX_ERR_GENERAL;
  jboolean v = JNI_FALSE;
  int status = Simple(c->jni, c->unicodeClient, &c->msgs,
                      [&] { return JC_CallBoolean(c->jni, stmt, mExecute, &v, text); });
  JW_Delete(c->jni, text);
  return Fixed(status, KX_ERR_SYNTAX);
}

int JC_Statement_closeConn(JConn* c, jobject stmt) {
  JW_Trace("Statement.close");
  return Simple(c->jni, c->unicodeClient, &c->msgs,
                [&] { return JC_CallVoid(c->jni, stmt, mStmtClose); });
}

int JC_Statement_close(JStmt* s, jobject stmt) {
  JW_Trace("Statement.close");
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallVoid(s->jni, stmt, mStmtClose); });
}

int JC_Statement_getMoreResults(JStmt* s, jobject stmt, uint8_t* out) {
  JW_Trace("Statement.getMoreResults");
  jboolean v = JNI_FALSE;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallBoolean(s->jni, stmt, mGetMoreResults, &v); });
  if (status == 0 && out != nullptr) *out = v ? 1 : 0;
  return status;
}

int JC_Statement_getUpdateCount(JStmt* s, jobject stmt, int32_t* out) {
  JW_Trace("Statement.getUpdateCount");
  jint v = 0;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallInt(s->jni, stmt, mGetUpdateCount, &v); });
  if (status == 0 && out != nullptr) *out = v;
  return status;
}

int JC_Statement_getGeneratedKeys(JStmt* s, jobject stmt, jobject* out) {
  JW_Trace("Statement.getGeneratedKeys");
  return Simple(s->jni, s->unicodeClient, &s->msgs,
                [&] { return JC_CallObject(s->jni, stmt, mGetGeneratedKeys, out); });
}

int JC_Statement_setCursorName(JStmt* s, jobject stmt, const char* name) {
  JW_Trace("Statement.setCursorName");
  jstring text = nullptr;
  if (JW_InputString(s->jni, name, s->unicodeClient, &s->msgs, &text) != 0) return KX_ERR_GENERAL;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallVoid(s->jni, stmt, mSetCursorName, text); });
  JW_Delete(s->jni, text);
  return status;
}

int JC_Statement_getQueryTimeout(JStmt* s, jobject stmt, int32_t* out) {
  JW_Trace("Statement.getQueryTimeout");
  jint v = 0;
  int status = Simple(s->jni, s->unicodeClient, &s->msgs,
                      [&] { return JC_CallInt(s->jni, stmt, mGetQueryTimeout, &v); });
  if (status == 0 && out != nullptr) *out = v;
  return status;
}

int JC_Statement_setFetchSize(JStmt* s, jobject stmt, int32_t rows) {
  JW_Trace("Statement.setFetchSize");
  if (JC_CallVoid(s->jni, stmt, mSetFetchSize, rows) != 0) JC_ClearException(s->jni);
  return 0;
}

int JC_Statement_setQueryTimeout(JStmt* s, jobject stmt, int32_t seconds) {
  JW_Trace("Statement.setQueryTimeout");
  return Simple(s->jni, s->unicodeClient, &s->msgs, [&] {
    return JC_CallVoid(s->jni, stmt, mSetQueryTimeout, static_cast<jint>(seconds));
  });
}

int JC_Statement_getSerial(JStmt* s, jobject stmt, int32_t* out) {
  JW_Trace("Statement.getSerial()");
  JNIEnv* env = s->jni;
  if (out != nullptr) *out = 0;
  if (env == nullptr || s->conn == nullptr) return KX_ERR_GENERAL;
  jobject loader = s->conn->loader;
  JNIEnv* saved = s->conn->jni;
  s->conn->jni = env;  // the class is loaded on this thread
  jclass cls = JC_LoadClass(s->conn, loader, "com/informix/jdbc/IfmxStatement");
  s->conn->jni = saved;
  if (cls == nullptr) {
    JC_ClearException(env);
    return KX_ERR_GENERAL;
  }
  int status = 0;
  // Only the vendor's statements have a serial; asking any other statement
  // would be a call through a method of a class it does not implement.
  if (stmt == nullptr || env->IsInstanceOf(stmt, cls)) {
    jint v = 0;
    if (JC_CallIntMethod(env, stmt, cls, "getSerial", "()I", &v) != 0) {
      status = Fixed(CheckException(env, s->unicodeClient, &s->msgs), KX_ERR_SYNTAX);
    } else if (out != nullptr) {
      *out = v;
    }
  }
  env->DeleteLocalRef(cls);
  return status;
}

}  // namespace kx
