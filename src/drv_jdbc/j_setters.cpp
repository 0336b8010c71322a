#include "drv_jdbc/j_setters.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"
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
JMethod mSetObject{kPs, "setObject", "(ILjava/lang/Object;)V"};
// Static factories of the java.time values (their ids are looked up as static).
JMethod mLocalDateOf{"java/time/LocalDate", "of", "(III)Ljava/time/LocalDate;"};
JMethod mLocalStampOf{"java/time/LocalDateTime", "of", "(IIIIIII)Ljava/time/LocalDateTime;"};
JMethod mLocalTimeOf{"java/time/LocalTime", "of", "(IIII)Ljava/time/LocalTime;"};

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
    return KX_ERR_GENERAL;
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
    JDB_MsgAddText(&s->msgs, classMissing, KX_ERR_GENERAL);
    *status = KX_ERR_GENERAL;
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
    if (Check(s) == 0 && id == nullptr) JDB_MsgAddText(&s->msgs, classMissing, KX_ERR_GENERAL);
    *status = KX_ERR_GENERAL;
  }
  return obj;
}

// ---- packed calls ------------------------------------------------------------------

// Operations of quillmar/support/ParamBatch (its constants).
enum PackOp : uint8_t {
  kPackClear = 1,
  kPackAddBatch = 2,
  kPackNull = 3,
  kPackString = 4,
  kPackBigDecimal = 5,
  kPackBoolean = 6,
  kPackByte = 7,
  kPackShort = 8,
  kPackInt = 9,
  kPackLong = 10,
  kPackFloat = 11,
  kPackDouble = 12,
  kPackDate = 13,
  kPackTime = 14,
  kPackTimestamp = 15,
  kPackBytes = 16,
};
// How packed text comes: platform-charset bytes, or UTF-16 units.
constexpr uint8_t kPackTextPlatform = 0, kPackTextUnits = 1;

template <typename T>
void PutRaw(std::vector<unsigned char>* out, T v) {
  unsigned char b[sizeof(T)];
  std::memcpy(b, &v, sizeof v);
  out->insert(out->end(), b, b + sizeof b);
}

int Refuse(JParamPack* p) {
  p->refused = true;
  return JC_NOT_PACKED;
}

// Appends one call: the operation, then the values as Java reads them.
template <typename... T>
int Pack(JParamPack* p, PackOp op, T... values) {
  try {
    p->bytes.push_back(op);
    (PutRaw(&p->bytes, values), ...);
  } catch (const std::bad_alloc&) {
    return Refuse(p);
  }
  return 0;
}

// A text setter's call: the text up to its first NUL, as MakeText cuts it,
// in the form the text mode gives Java (platform bytes, or the UTF-16 units
// the UTF-8 mode converts it to).
int PackText(JParamPack* p, PackOp op, int32_t index, const char* text, int32_t length, int32_t mode) {
  size_t n = length > 0 && text != nullptr ? static_cast<size_t>(length) : 0;
  if (n > 0) {
    const void* nul = std::memchr(text, '\0', n);
    if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - text);
  }
  try {
    if (mode == JC_MODE_PLATFORM) {
      if (int st = Pack(p, op, static_cast<jint>(index), kPackTextPlatform, static_cast<jint>(n)); st != 0) {
        return st;
      }
      p->bytes.insert(p->bytes.end(), text, text + n);
    } else {
      std::vector<char16_t> units(n > 0 ? n : 1);
      const size_t count = n > 0 ? JC_Utf8ToUnits(text, n, units.data()) : 0;
      if (int st = Pack(p, op, static_cast<jint>(index), kPackTextUnits, static_cast<jint>(count)); st != 0) {
        return st;
      }
      for (size_t i = 0; i < count; ++i) PutRaw(&p->bytes, units[i]);
    }
  } catch (const std::bad_alloc&) {
    return Refuse(p);
  }
  return 0;
}

// A byte array setter's call: the bytes, or as many zeros when there are none.
int PackBytes(JParamPack* p, int32_t index, const void* data, int32_t length) {
  const jint n = length > 0 ? length : 0;
  if (int st = Pack(p, kPackBytes, static_cast<jint>(index), n); st != 0) return st;
  try {
    if (n > 0 && data != nullptr) {
      const auto* b = static_cast<const unsigned char*>(data);
      p->bytes.insert(p->bytes.end(), b, b + n);
    } else {
      p->bytes.insert(p->bytes.end(), static_cast<size_t>(n), 0);
    }
  } catch (const std::bad_alloc&) {
    return Refuse(p);
  }
  return 0;
}

// quillmar/support/ParamBatch.addRows, looked up once; null when the VM
// cannot have the class (then every batch is bound call by call).
struct PackApi {
  jclass cls = nullptr;  // global
  jmethodID addRows = nullptr;
};
std::mutex gPackLock;
PackApi gPackApi;
int gPackState = 0;  // 0 not tried yet, 1 ready, 2 unavailable in this VM

const PackApi* PackCalls(JNIEnv* env) {
  std::lock_guard<std::mutex> guard(gPackLock);
  if (gPackState != 0) return gPackState == 1 ? &gPackApi : nullptr;
  gPackState = 2;
  jclass local = JC_DefineParamBatchClass(env);
  if (local == nullptr) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "Can't define the parameter batch class; batches are bound call by call");
    return nullptr;
  }
  PackApi a;
  a.addRows = env->GetStaticMethodID(local, "addRows", "(Ljava/sql/PreparedStatement;[BI)I");
  if (env->ExceptionCheck() || a.addRows == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(local);
    LogAt(LOG_WARNING, __FILE__, __LINE__, "The parameter batch class lacks its method; batches are bound call by call");
    return nullptr;
  }
  a.cls = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  if (a.cls == nullptr) return nullptr;
  gPackApi = a;
  gPackState = 1;
  return &gPackApi;
}

}  // namespace

int JC_PreparedStatement_addPackedRows(JStmt* s, jobject ps, const JParamPack& pack, int32_t* rows) {
  *rows = 0;
  JNIEnv* env = s->jni;
  if (pack.bytes.size() > static_cast<size_t>(INT32_MAX - 8)) return JC_NOT_PACKED;
  const PackApi* api = PackCalls(env);
  if (api == nullptr) return JC_NOT_PACKED;
  const auto n = static_cast<jsize>(pack.bytes.size());
  JW_Trace("ParamBatch.addRows(%d bytes)", static_cast<int>(n));
  jbyteArray array = env->NewByteArray(n);
  if (array == nullptr || env->ExceptionCheck()) {
    JW_Delete(env, array);
    return Check(s) != 0 ? KX_ERR_GENERAL : KX_ERR_NOMEM;
  }
  if (n > 0) env->SetByteArrayRegion(array, 0, n, reinterpret_cast<const jbyte*>(pack.bytes.data()));
  jint added = 0;
  if (!env->ExceptionCheck()) added = env->CallStaticIntMethod(api->cls, api->addRows, ps, array, n);
  env->DeleteLocalRef(array);
  if (int status = Check(s); status != 0) return status;
  *rows = added;
  return 0;
}

int JC_PreparedStatement_clearParameters(JStmt* s, jobject ps) {
  if (s->paramPack != nullptr) {
    Pack(s->paramPack, kPackClear);  // a refusal shows in the pack
    return 0;
  }
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
  if (s->paramPack != nullptr) return Pack(s->paramPack, kPackAddBatch);
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
    return KX_ERR_GENERAL;
  }
  return 0;
}

int JC_PreparedStatement_getResultSet(JStmt* s, jobject stmt, jobject* out) {
  JW_Trace("PreparedStatement.getResultSet");
  if (JC_CallObject(s->jni, stmt, mGetResultSet, out) != 0) return Check(s);
  return 0;
}

int JC_PreparedStatement_setNull(JStmt* s, jobject ps, int32_t index, int32_t jdbcType) {
  if (s->paramPack != nullptr) {
    return Pack(s->paramPack, kPackNull, static_cast<jint>(index), static_cast<jint>(jdbcType));
  }
  JW_Trace("PreparedStatement.setNull(%d,)", index);
  if (JC_CallVoid(s->jni, ps, mSetNull, static_cast<jint>(index), static_cast<jint>(jdbcType)) != 0)
    return Check(s);
  return 0;
}

int JC_PreparedStatement_setString(JStmt* s, jobject ps, int32_t index, const char* text,
                                   int32_t length, int32_t mode) {
  if (s->paramPack != nullptr) return PackText(s->paramPack, kPackString, index, text, length, mode);
  JW_Trace("PreparedStatement.setString(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return KX_ERR_GENERAL;
  int status = 0;
  if (JC_CallVoid(s->jni, ps, mSetString, static_cast<jint>(index), str) != 0) status = Check(s);
  JW_Delete(s->jni, str);
  return status;
}

int JC_PreparedStatement_setBigDecimal(JStmt* s, jobject ps, int32_t index, const char* text,
                                       int32_t length, int32_t mode) {
  if (s->paramPack != nullptr) return PackText(s->paramPack, kPackBigDecimal, index, text, length, mode);
  JW_Trace("PreparedStatement.setBigDecimal(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return KX_ERR_GENERAL;
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
  if (s->paramPack != nullptr) return Refuse(s->paramPack);
  JW_Trace("PreparedStatement.setCharacterStream(%d,)", index);
  jstring str = nullptr;
  if (MakeText(s, text, length, mode, &str) != 0) return KX_ERR_GENERAL;
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
      return status != 0 ? status : KX_ERR_GENERAL;
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
  if (env == nullptr) return KX_ERR_GENERAL;
  jsize n = length > 0 ? length : 0;
  jbyteArray array = env->NewByteArray(n);
  if (env->ExceptionCheck() || array == nullptr) {
    JC_ClearException(env);
    JW_Delete(env, array);
    return KX_ERR_NOMEM;
  }
  if (n > 0 && data != nullptr) {
    env->SetByteArrayRegion(array, 0, n, static_cast<const jbyte*>(data));
    if (int status = Check(s); status != 0) {
      env->DeleteLocalRef(array);
      return KX_ERR_GENERAL;
    }
  }
  *out = array;
  return 0;
}
}  // namespace

int JC_PreparedStatement_setBytes(JStmt* s, jobject ps, int32_t index, const void* data,
                                  int32_t length) {
  if (s->paramPack != nullptr) return PackBytes(s->paramPack, index, data, length);
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
  if (s->paramPack != nullptr) return Refuse(s->paramPack);
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
      return status != 0 ? status : KX_ERR_GENERAL;
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

#define KX_SCALAR_SETTER(Name, M, CType, JType, Convert, Op)                          \
  int JC_PreparedStatement_##Name(JStmt* s, jobject ps, int32_t index, CType value) { \
    JType v = Convert;                                                                \
    if (s->paramPack != nullptr) return Pack(s->paramPack, Op, static_cast<jint>(index), v); \
    JW_Trace("PreparedStatement." #Name "(%d,)", index);                             \
    if (JC_CallVoid(s->jni, ps, M, static_cast<jint>(index), v) != 0) return Check(s); \
    return 0;                                                                         \
  }
KX_SCALAR_SETTER(setBoolean, mSetBoolean, int, jboolean, static_cast<jboolean>(value & 0xFF), kPackBoolean)
KX_SCALAR_SETTER(setByte, mSetByte, int, jbyte, static_cast<jbyte>(value & 0xFF), kPackByte)
KX_SCALAR_SETTER(setShort, mSetShort, int, jshort, static_cast<jshort>(value & 0xFFFF), kPackShort)
KX_SCALAR_SETTER(setInt, mSetInt, int32_t, jint, static_cast<jint>(value), kPackInt)
KX_SCALAR_SETTER(setLong, mSetLong, int64_t, jlong, static_cast<jlong>(value), kPackLong)
KX_SCALAR_SETTER(setFloat, mSetFloat, float, jfloat, static_cast<jfloat>(value), kPackFloat)
KX_SCALAR_SETTER(setDouble, mSetDouble, double, jdouble, static_cast<jdouble>(value), kPackDouble)
#undef KX_SCALAR_SETTER

namespace {
int SetTemporal(JStmt* s, jobject ps, int32_t index, JMethod& setter, jobject value, int status) {
  if (status != 0) return status;
  if (JC_CallVoid(s->jni, ps, setter, static_cast<jint>(index), value) != 0) status = Check(s);
  JW_Delete(s->jni, value);
  return status;
}
const JDateTime kZero{};

// Dates, times and timestamps go as java.time values where the driver takes
// them: ODBC's fields are proleptic Gregorian, as java.time's are, where
// java.sql.Date switches to the Julian calendar before 1582; a LocalTime
// keeps a time's fraction and is a time without zone (java.sql.Time has
// neither: PostgreSQL's driver sends it as a time with zone). True when sent;
// false (nothing pending) leaves the value to the java.sql road.
enum class LocalKind { Date, Time, Stamp };
bool SetLocal(JStmt* s, jobject ps, int32_t index, const JDateTime& v, LocalKind kind) {
  JNIEnv* env = s->jni;
  JMethod& of = kind == LocalKind::Stamp ? mLocalStampOf : kind == LocalKind::Time ? mLocalTimeOf : mLocalDateOf;
  jclass cls = JC_ClassOf(env, of);
  if (cls == nullptr) {
    env->ExceptionClear();
    return false;
  }
  jmethodID id = of.id.load(std::memory_order_acquire);
  if (id == nullptr) {
    id = env->GetStaticMethodID(cls, of.name, of.sig);
    if (env->ExceptionCheck() || id == nullptr) {
      env->ExceptionClear();
      return false;
    }
    of.id.store(id, std::memory_order_release);
  }
  jobject value = nullptr;
  switch (kind) {
    case LocalKind::Stamp:
      value = env->CallStaticObjectMethod(cls, id, static_cast<jint>(v.year), static_cast<jint>(v.month),
                                          static_cast<jint>(v.day), static_cast<jint>(v.hour),
                                          static_cast<jint>(v.minute), static_cast<jint>(v.second),
                                          static_cast<jint>(v.fraction));
      break;
    case LocalKind::Time:
      value = env->CallStaticObjectMethod(cls, id, static_cast<jint>(v.hour), static_cast<jint>(v.minute),
                                          static_cast<jint>(v.second), static_cast<jint>(v.fraction));
      break;
    case LocalKind::Date:
      value = env->CallStaticObjectMethod(cls, id, static_cast<jint>(v.year), static_cast<jint>(v.month),
                                          static_cast<jint>(v.day));
      break;
  }
  if (env->ExceptionCheck() || value == nullptr) {
    env->ExceptionClear();
    if (value != nullptr) env->DeleteLocalRef(value);
    return false;
  }
  const bool sent = JC_CallVoid(env, ps, mSetObject, static_cast<jint>(index), value) == 0;
  if (!sent) env->ExceptionClear();
  env->DeleteLocalRef(value);
  return sent;
}
}  // namespace

// The java.sql value objects are made from fields in the VM's default time
// zone, as java.sql.Date, Time and Timestamp define them.
int JC_PreparedStatement_setDate(JStmt* s, jobject ps, int32_t index, const JDateTime* value) {
  const JDateTime& v = value != nullptr ? *value : kZero;
  if (s->paramPack != nullptr) {
    return Pack(s->paramPack, kPackDate, static_cast<jint>(index), static_cast<jint>(v.year),
                static_cast<jint>(v.month), static_cast<jint>(v.day));
  }
  JW_Trace("PreparedStatement.setDate(%d,)", index);
  if (SetLocal(s, ps, index, v, LocalKind::Date)) return 0;
  int status = 0;
  jobject d = MakeValue(s, mNewDate, "Can't find Date class", &status,
                        static_cast<jint>(v.year) - 1900, static_cast<jint>(v.month) - 1,
                        static_cast<jint>(v.day));
  return SetTemporal(s, ps, index, mSetDate, d, status);
}

int JC_PreparedStatement_setTime(JStmt* s, jobject ps, int32_t index, const JDateTime* value) {
  const JDateTime& v = value != nullptr ? *value : kZero;
  if (s->paramPack != nullptr) {
    return Pack(s->paramPack, kPackTime, static_cast<jint>(index), static_cast<jint>(v.hour),
                static_cast<jint>(v.minute), static_cast<jint>(v.second), static_cast<jint>(v.fraction));
  }
  JW_Trace("PreparedStatement.setTime(%d,)", index);
  if (SetLocal(s, ps, index, v, LocalKind::Time)) return 0;
  int status = 0;
  jobject t = MakeValue(s, mNewTime, "Can't find Time class", &status, static_cast<jint>(v.hour),
                        static_cast<jint>(v.minute), static_cast<jint>(v.second));
  return SetTemporal(s, ps, index, mSetTime, t, status);
}

int JC_PreparedStatement_setTimestamp(JStmt* s, jobject ps, int32_t index,
                                      const JDateTime* value) {
  const JDateTime& v = value != nullptr ? *value : kZero;
  if (s->paramPack != nullptr) {
    return Pack(s->paramPack, kPackTimestamp, static_cast<jint>(index), static_cast<jint>(v.year),
                static_cast<jint>(v.month), static_cast<jint>(v.day), static_cast<jint>(v.hour),
                static_cast<jint>(v.minute), static_cast<jint>(v.second), static_cast<jint>(v.fraction));
  }
  JW_Trace("PreparedStatement.setTimestamp(%d,)", index);
  if (SetLocal(s, ps, index, v, LocalKind::Stamp)) return 0;
  int status = 0;
  jobject ts = MakeValue(s, mNewTimestamp, "Can't find Timestamp class", &status,
                         static_cast<jint>(v.year) - 1900, static_cast<jint>(v.month) - 1,
                         static_cast<jint>(v.day), static_cast<jint>(v.hour),
                         static_cast<jint>(v.minute), static_cast<jint>(v.second),
                         static_cast<jint>(v.fraction));
  return SetTemporal(s, ps, index, mSetTimestamp, ts, status);
}

}  // namespace kx
