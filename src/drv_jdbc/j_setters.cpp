#include "drv_jdbc/j_setters.h"

#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/log.h"

namespace kx {

namespace {

constexpr const char* kPs = "java/sql/PreparedStatement";

JMethod mClearParameters{kPs, "clearParameters", "()V"};
JMethod mExecute{kPs, "execute", "()Z"};
JMethod mAddBatch{kPs, "addBatch", "()V"};
JMethod mClearBatch{"java/sql/Statement", "clearBatch", "()V"};
JMethod mExecuteBatch{"java/sql/Statement", "executeBatch", "()[I"};
JMethod mGetMetaData{kPs, "getMetaData", "()Ljava/sql/ResultSetMetaData;"};
JMethod mGetResultSet{"java/sql/Statement", "getResultSet", "()Ljava/sql/ResultSet;"};
JMethod mSetNull{kPs, "setNull", "(II)V"};
JMethod mSetBigDecimal{kPs, "setBigDecimal", "(ILjava/math/BigDecimal;)V"};
JMethod mSetString{kPs, "setString", "(ILjava/lang/String;)V"};
JMethod mSetCharStream{kPs, "setCharacterStream", "(ILjava/io/Reader;I)V"};
JMethod mSetBytes{kPs, "setBytes", "(I[B)V"};
JMethod mSetBinaryStream{kPs, "setBinaryStream", "(ILjava/io/InputStream;I)V"};
JMethod mSetBoolean{kPs, "setBoolean", "(IZ)V"};
JMethod mSetByte{kPs, "setByte", "(IB)V"};
JMethod mSetShort{kPs, "setShort", "(IS)V"};
JMethod mSetInt{kPs, "setInt", "(II)V"};
JMethod mSetLong{kPs, "setLong", "(IJ)V"};
JMethod mSetFloat{kPs, "setFloat", "(IF)V"};
JMethod mSetDouble{kPs, "setDouble", "(ID)V"};
JMethod mSetDate{kPs, "setDate", "(ILjava/sql/Date;)V"};
JMethod mSetTime{kPs, "setTime", "(ILjava/sql/Time;)V"};
JMethod mSetTimestamp{kPs, "setTimestamp", "(ILjava/sql/Timestamp;)V"};

JMethod mNewBigDecimal{"java/math/BigDecimal", "<init>", "(Ljava/lang/String;)V"};
JMethod mNewDate{"java/sql/Date", "<init>", "(III)V"};
JMethod mNewTime{"java/sql/Time", "<init>", "(III)V"};
JMethod mNewTimestamp{"java/sql/Timestamp", "<init>", "(IIIIIII)V"};
JMethod mNewStringReader{"java/io/StringReader", "<init>", "(Ljava/lang/String;)V"};
JMethod mNewByteStream{"java/io/ByteArrayInputStream", "<init>", "([B)V"};
JMethod mStringLength{"java/lang/String", "length", "()I"};

int Check(JStmt* s) { return CheckException(s->jni, s->unicodeClient, &s->msgs); }

// Text setter steps 1 and 2: a String of the value up to its first NUL.
int MakeText(JStmt* s, const char* text, int32_t length, int32_t mode, jstring* out) {
  *out = nullptr;
  size_t n = length > 0 && text != nullptr ? static_cast<size_t>(length) : 0;
  // A NUL byte inside the value ends the text there.
  if (n > 0) {
    const void* nul = std::memchr(text, '\0', n);
    if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - text);
  }
  *out = JC_NewStringN(s->jni, n > 0 ? text : "", n, mode);
  int status = Check(s);
  if (*out == nullptr || status != 0) {
    JW_Delete(s->jni, *out);
    *out = nullptr;
    return 15;
  }
  return 0;
}

// A JDBC value object of a JDK class made by its cached constructor; the
// class-missing case posts its own text.
jobject MakeValue(JStmt* s, JMethod& ctor, const char* classMissing, int* status, ...) {
  *status = 0;
  if (JC_ClassOf(s->jni, ctor) == nullptr) {
    JC_ClearException(s->jni);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", classMissing);
    JDB_MsgAddText(&s->msgs, classMissing, 15);
    *status = 15;
    return nullptr;
  }
  va_list args;
  va_start(args, status);
  jclass cls = JC_ClassOf(s->jni, ctor);
  jobject obj = nullptr;
  jmethodID id = ctor.id.load(std::memory_order_acquire);
  if (id == nullptr) {
    id = s->jni->GetMethodID(cls, ctor.name, ctor.sig);
    if (s->jni->ExceptionCheck()) id = nullptr;
    else ctor.id.store(id, std::memory_order_release);
  }
  if (id != nullptr) obj = s->jni->NewObjectV(cls, id, args);
  va_end(args);
  if (obj == nullptr || s->jni->ExceptionCheck()) {
    JW_Delete(s->jni, obj);
    obj = nullptr;
    // The constructor's refusal (a text that is no number, say) is the reason.
    if (Check(s) == 0 && id == nullptr) JDB_MsgAddText(&s->msgs, classMissing, 15);
    *status = 15;
  }
  return obj;
}

}  // namespace

int JC_PreparedStatement_clearParameters(JStmt* s, jobject ps) {
  JW_Trace("PreparedStatement.clearParameters");
  if (JC_CallVoid(s->jni, ps, mClearParameters) != 0) JC_ClearException(s->jni);
  return 0;
}

int JC_PreparedStatement_execute(JStmt* s, jobject ps, uint8_t* hasResultSet) {
  JW_Trace("PreparedStatement.execute");
  jboolean v = JNI_FALSE;
  if (JC_CallBoolean(s->jni, ps, mExecute, &v) != 0) return Check(s);
  if (hasResultSet != nullptr) *hasResultSet = v ? 1 : 0;
  return 0;
}

int JC_PreparedStatement_addBatch(JStmt* s, jobject ps) {
  JW_Trace("PreparedStatement.addBatch");
  if (JC_CallVoid(s->jni, ps, mAddBatch) != 0) return Check(s);
  return 0;
}

int JC_Statement_clearBatch(JStmt* s, jobject stmt) {
  JW_Trace("Statement.clearBatch");
  if (JC_CallVoid(s->jni, stmt, mClearBatch) != 0) return Check(s);
  return 0;
}

int JC_Statement_executeBatch(JStmt* s, jobject stmt, int32_t* counts, int32_t capacity,
                              int32_t* got) {
  JW_Trace("Statement.executeBatch");
  *got = 0;
  jobject array = nullptr;
  if (JC_CallObject(s->jni, stmt, mExecuteBatch, &array) != 0) return Check(s);
  if (array == nullptr) return 0;
  const jsize n = s->jni->GetArrayLength(static_cast<jintArray>(array));
  const jsize take = n < capacity ? n : capacity;
  static_assert(sizeof(jint) == sizeof(int32_t), "update counts copy as they are");
  if (take > 0) s->jni->GetIntArrayRegion(static_cast<jintArray>(array), 0, take, counts);
  JW_Delete(s->jni, array);
  if (int status = Check(s); status != 0) return status;
  *got = n;
  return 0;
}

int JC_PreparedStatement_getMetaData(JStmt* s, jobject ps, jobject* out) {
  JW_Trace("PreparedStatement.getMetaData");
  if (JC_CallObject(s->jni, ps, mGetMetaData, out) != 0) {
    JC_ClearException(s->jni);
    *out = nullptr;
    return 15;
  }
  return 0;
}

int JC_PreparedStatement_getResultSet(JStmt* s, jobject stmt, jobject* out) {
  JW_Trace("PreparedStatement.getResultSet");
  if (JC_CallObject(s->jni, stmt, mGetResultSet, out) != 0) return Check(s);
  return 0;
}

int JC_PreparedStatement_setNull(JStmt* s, jobject ps, int32_t index, int32_t jdbcType) {
  JW_Trace("PreparedStatement.setNull(%d,)", index);
  if (JC_CallVoid(s->jni, ps, mSetNull, static_cast<jint>(index), static_cast<jint>(jdbcType)) != 0)
    return Check(s);
  return 0;
}

int JC_PreparedStatement_setString(JStmt* s, jobject ps, int32_t index, const char* text,
                                   int32_t length, int32_t mode) {
  JW_Trace("PreparedStatement.setString(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return 15;
  int status = 0;
  if (JC_CallVoid(s->jni, ps, mSetString, static_cast<jint>(index), str) != 0) status = Check(s);
  JW_Delete(s->jni, str);
  return status;
}

int JC_PreparedStatement_setBigDecimal(JStmt* s, jobject ps, int32_t index, const char* text,
                                       int32_t length, int32_t mode) {
  JW_Trace("PreparedStatement.setBigDecimal(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return 15;
  int status = 0;
  jobject dec = MakeValue(s, mNewBigDecimal, "Can't find BigDecimal class", &status, str);
  JW_Delete(s->jni, str);
  if (status != 0) return status;
  if (JC_CallVoid(s->jni, ps, mSetBigDecimal, static_cast<jint>(index), dec) != 0) status = Check(s);
  JW_Delete(s->jni, dec);
  return status;
}

int JC_PreparedStatement_setCharacterStream(JStmt* s, jobject ps, int32_t index,
                                            const char* text, int32_t length, int32_t mode) {
  JW_Trace("PreparedStatement.setCharacterStream(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return 15;
  JNIEnv* env = s->jni;
  int status = 0;
  bool sent = false;
  JConn* c = s->conn;
  if (c != nullptr && c->asciiStreamMode == 1) {
    // Characters, not bytes: a Reader keeps every character as it is, where
    // an ASCII stream would be decoded byte by byte by the driver.
    jint chars = 0;
    if (JC_CallInt(env, str, mStringLength, &chars) != 0) {
      status = Check(s);
      JW_Delete(env, str);
      return status;
    }
    jobject reader = JC_NewObjectM(env, mNewStringReader, str);
    if (reader == nullptr) {
      status = Check(s);
      JW_Delete(env, str);
      return status != 0 ? status : 15;
    }
    if (JC_CallVoid(env, ps, mSetCharStream, static_cast<jint>(index), reader, chars) != 0) {
      // Refused: from now on long text goes whole for this connection.
      JC_ClearException(env);
      c->asciiStreamMode = 0;
    } else {
      sent = true;
    }
    JW_Delete(env, reader);
  }
  if (!sent) {
    if (JC_CallVoid(env, ps, mSetString, static_cast<jint>(index), str) != 0) status = Check(s);
  }
  JW_Delete(env, str);
  return status;
}

namespace {
int MakeBytes(JStmt* s, const void* data, int32_t length, jbyteArray* out) {
  JNIEnv* env = s->jni;
  *out = nullptr;
  if (env == nullptr) return 15;
  jsize n = length > 0 ? length : 0;
  jbyteArray array = env->NewByteArray(n);
  if (env->ExceptionCheck() || array == nullptr) {
    JC_ClearException(env);
    JW_Delete(env, array);
    return 16;
  }
  if (n > 0 && data != nullptr) {
    env->SetByteArrayRegion(array, 0, n, static_cast<const jbyte*>(data));
    if (int status = Check(s); status != 0) {
      env->DeleteLocalRef(array);
      return 15;
    }
  }
  *out = array;
  return 0;
}
}  // namespace

int JC_PreparedStatement_setBytes(JStmt* s, jobject ps, int32_t index, const void* data,
                                  int32_t length) {
  JW_Trace("PreparedStatement.setBytes(%d,)", index);
  jbyteArray array = nullptr;
  if (int status = MakeBytes(s, data, length, &array); status != 0) return status;
  int status = 0;
  if (JC_CallVoid(s->jni, ps, mSetBytes, static_cast<jint>(index), array) != 0) status = Check(s);
  JW_Delete(s->jni, array);
  return status;
}

int JC_PreparedStatement_setBinaryStream(JStmt* s, jobject ps, int32_t index, const void* data,
                                         int32_t length) {
  JW_Trace("PreparedStatement.setBinaryStream(%d,)", index);
  jbyteArray array = nullptr;
  if (int status = MakeBytes(s, data, length, &array); status != 0) return status;
  JNIEnv* env = s->jni;
  int status = 0;
  bool sent = false;
  JConn* c = s->conn;
  if (c != nullptr && c->binaryStreamMode == 1) {
    jobject stream = JC_NewObjectM(env, mNewByteStream, array);
    if (stream == nullptr) {
      status = Check(s);
      env->DeleteLocalRef(array);
      return status != 0 ? status : 15;
    }
    if (JC_CallVoid(env, ps, mSetBinaryStream, static_cast<jint>(index), stream,
                    static_cast<jint>(length > 0 ? length : 0)) != 0) {
      JC_ClearException(env);
      c->binaryStreamMode = 0;
    } else {
      sent = true;
    }
    env->DeleteLocalRef(stream);
  }
  if (!sent) {
    if (JC_CallVoid(env, ps, mSetBytes, static_cast<jint>(index), array) != 0) status = Check(s);
  }
  env->DeleteLocalRef(array);
  return status;
}

#define KX_SCALAR_SETTER(Name, M, CType, JType, Convert)                             \
  int JC_PreparedStatement_##Name(JStmt* s, jobject ps, int32_t index, CType value) { \
    JW_Trace("PreparedStatement." #Name "(%d,)", index);                             \
    JType v = Convert;                                                                \
    if (JC_CallVoid(s->jni, ps, M, static_cast<jint>(index), v) != 0) return Check(s); \
    return 0;                                                                         \
  }
KX_SCALAR_SETTER(setBoolean, mSetBoolean, int, jboolean, static_cast<jboolean>(value & 0xFF))
KX_SCALAR_SETTER(setByte, mSetByte, int, jbyte, static_cast<jbyte>(value & 0xFF))
KX_SCALAR_SETTER(setShort, mSetShort, int, jshort, static_cast<jshort>(value & 0xFFFF))
KX_SCALAR_SETTER(setInt, mSetInt, int32_t, jint, static_cast<jint>(value))
KX_SCALAR_SETTER(setLong, mSetLong, int64_t, jlong, static_cast<jlong>(value))
KX_SCALAR_SETTER(setFloat, mSetFloat, float, jfloat, static_cast<jfloat>(value))
KX_SCALAR_SETTER(setDouble, mSetDouble, double, jdouble, static_cast<jdouble>(value))
#undef KX_SCALAR_SETTER

namespace {
int SetTemporal(JStmt* s, jobject ps, int32_t index, JMethod& setter, jobject value, int status) {
  if (status != 0) return status;
  if (JC_CallVoid(s->jni, ps, setter, static_cast<jint>(index), value) != 0) status = Check(s);
  JW_Delete(s->jni, value);
  return status;
}
const JDateTime kZero{};
}  // namespace

// The value objects are made from fields in the VM's default time zone, as
// java.sql.Date, Time and Timestamp define them.
int JC_PreparedStatement_setDate(JStmt* s, jobject ps, int32_t index, const JDateTime* value) {
  JW_Trace("PreparedStatement.setDate(%d,)", index);
  const JDateTime& v = value != nullptr ? *value : kZero;
  int status = 0;
  jobject d = MakeValue(s, mNewDate, "Can't find Date class", &status,
                        static_cast<jint>(v.year) - 1900, static_cast<jint>(v.month) - 1,
                        static_cast<jint>(v.day));
  return SetTemporal(s, ps, index, mSetDate, d, status);
}

int JC_PreparedStatement_setTime(JStmt* s, jobject ps, int32_t index, const JDateTime* value) {
  JW_Trace("PreparedStatement.setTime(%d,)", index);
  const JDateTime& v = value != nullptr ? *value : kZero;
  int status = 0;
  jobject t = MakeValue(s, mNewTime, "Can't find Time class", &status, static_cast<jint>(v.hour),
                        static_cast<jint>(v.minute), static_cast<jint>(v.second));
  return SetTemporal(s, ps, index, mSetTime, t, status);
}

int JC_PreparedStatement_setTimestamp(JStmt* s, jobject ps, int32_t index,
                                      const JDateTime* value) {
  JW_Trace("PreparedStatement.setTimestamp(%d,)", index);
  const JDateTime& v = value != nullptr ? *value : kZero;
  int status = 0;
  jobject ts = MakeValue(s, mNewTimestamp, "Can't find Timestamp class", &status,
                         static_cast<jint>(v.year) - 1900, static_cast<jint>(v.month) - 1,
                         static_cast<jint>(v.day), static_cast<jint>(v.hour),
                         static_cast<jint>(v.minute), static_cast<jint>(v.second),
                         static_cast<jint>(v.fraction));
  return SetTemporal(s, ps, index, mSetTimestamp, ts, status);
}

}  // namespace kx
