#include "drv_jdbc/j_common.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "util/errcodes.h"
#include "util/log.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

std::atomic<int32_t> JC_TraceCalls{0};

namespace {

// Methods of java.lang.String used by the platform-bytes mode.
JMethod gStringGetBytes{"java/lang/String", "getBytes", "()[B"};
JMethod gStringFromBytes{"java/lang/String", "<init>", "([B)V"};

// Cached classes: one global reference per class named by a JMethod, kept for
// the life of the process (the VM is never destroyed).
std::mutex gClassLock;
struct ClassSlot {
  const char* name;
  jclass cls;
};
ClassSlot gClasses[64];
int gClassCount = 0;

jclass CachedClass(JNIEnv* env, const char* name) {
  {
    std::lock_guard<std::mutex> guard(gClassLock);
    for (int i = 0; i < gClassCount; ++i) {
      if (std::strcmp(gClasses[i].name, name) == 0) return gClasses[i].cls;
    }
  }
  jclass local = env->FindClass(name);
  if (env->ExceptionCheck() || local == nullptr) {
    if (local != nullptr) env->DeleteLocalRef(local);
    return nullptr;
  }
  jclass global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  if (global == nullptr) {
    JC_ThrowNullPointer(env, "class", name);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(gClassLock);
  for (int i = 0; i < gClassCount; ++i) {
    if (std::strcmp(gClasses[i].name, name) == 0) {
      env->DeleteGlobalRef(global);
      return gClasses[i].cls;
    }
  }
  if (gClassCount < static_cast<int>(sizeof gClasses / sizeof gClasses[0])) {
    gClasses[gClassCount++] = ClassSlot{name, global};
  }
  // A full table only means the class is looked up again next time; the
  // reference stays valid either way (never deleted).
  return global;
}

// The method ID of m, looked up on first use. Null with an exception pending.
jmethodID Resolve(JNIEnv* env, JMethod& m) {
  jmethodID id = m.id.load(std::memory_order_acquire);
  if (id != nullptr) return id;
  jclass cls = CachedClass(env, m.cls);
  if (cls == nullptr) return nullptr;
  id = env->GetMethodID(cls, m.name, m.sig);
  if (env->ExceptionCheck()) return nullptr;
  m.klass.store(cls, std::memory_order_release);
  m.id.store(id, std::memory_order_release);
  return id;
}

// The class of a resolved method without the table's lock and name scan:
// the fetch path checks it on every call.
jclass MethodClass(JNIEnv* env, JMethod& m) {
  jclass cls = m.klass.load(std::memory_order_acquire);
  return cls != nullptr ? cls : CachedClass(env, m.cls);
}

void TraceCall(const char* kind, const char* name, const char* sig) {
  if (JC_Tracing()) {
    LogAt(LOG_DEBUG, __FILE__, __LINE__, "  Call%sMethod name=[%s] sig=[%s]", kind,
          name != nullptr ? name : "", sig != nullptr ? sig : "");
  }
}

// Steps 2 to 5 of every by-name call helper: null checks and the lookup.
jmethodID LookUp(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig) {
  if (env == nullptr) {
    JC_ThrowNullPointer(env, "env", name);
    return nullptr;
  }
  if (obj == nullptr) {
    JC_ThrowNullPointer(env, "obj", name);
    return nullptr;
  }
  jclass own = nullptr;
  if (cls == nullptr) {
    own = env->GetObjectClass(obj);
    if (own == nullptr) {
      JC_ThrowNullPointer(env, "class", name);
      return nullptr;
    }
    cls = own;
  }
  jmethodID id = env->GetMethodID(cls, name != nullptr ? name : "", sig != nullptr ? sig : "");
  if (own != nullptr) env->DeleteLocalRef(own);
  if (env->ExceptionCheck()) return nullptr;
  return id;
}

// The cached ID when the object is an instance of the method's class; for any
// other object the by-name lookup on its own class, so a wrong object gives
// the same NoSuchMethodError as an uncached call instead of undefined
// behaviour in the VM.
jmethodID LookUpCached(JNIEnv* env, jobject obj, JMethod& m) {
  if (env == nullptr) {
    JC_ThrowNullPointer(env, "env", m.name);
    return nullptr;
  }
  if (obj == nullptr) {
    JC_ThrowNullPointer(env, "obj", m.name);
    return nullptr;
  }
  jmethodID id = Resolve(env, m);
  if (id == nullptr) return nullptr;
  jclass cls = MethodClass(env, m);
  if (cls != nullptr && env->IsInstanceOf(obj, cls)) return id;
  return LookUp(env, obj, nullptr, m.name, m.sig);
}

// UTF-16 units of a String as real UTF-8 in a heap block (NUL-terminated).
// Null when memory runs out (nothing pending) or when the VM refused (pending).
char* StringToUtf8(JNIEnv* env, jstring str, int32_t* length) {
  jsize n = env->GetStringLength(str);
  char16_t small[256];
  char16_t* units = small;
  if (n > static_cast<jsize>(sizeof small / sizeof small[0])) {
    units = static_cast<char16_t*>(std::malloc(static_cast<size_t>(n) * sizeof(char16_t)));
    if (units == nullptr) return nullptr;
  }
  env->GetStringRegion(str, 0, n, reinterpret_cast<jchar*>(units));
  char* out = nullptr;
  if (!env->ExceptionCheck()) {
    size_t room = Ucs2Utf8Len(units, n) + 1;
    out = static_cast<char*>(std::malloc(room));
    if (out != nullptr) {
      size_t used = 0;
      size_t bytes = Ucs2ToUtf8N(units, out, static_cast<size_t>(n), room - 1, &used);
      out[bytes] = '\0';
      if (length != nullptr) *length = static_cast<int32_t>(bytes);
    }
  }
  if (units != small) std::free(units);
  return out;
}

// Counted UTF-8 to UTF-16: a malformed sequence becomes U+FFFD and decoding
// goes on after its first byte. Returns the units written (at most length).
size_t Utf8ToUnits(const char* text, size_t length, char16_t* units) {
  size_t done = 0;
  size_t count = 0;
  while (done < length) {
    size_t used = 0;
    count += Utf8ToUcs2Counted(text + done, units + count, length - done, length - count, &used);
    done += used;
    if (done < length) {
      units[count++] = 0xFFFD;
      ++done;
    }
  }
  return count;
}

}  // namespace

size_t JC_Utf8ToUnits(const char* text, size_t length, char16_t* units) {
  return Utf8ToUnits(text, length, units);
}

jclass JC_ClassOf(JNIEnv* env, JMethod& m) {
  if (env == nullptr) return nullptr;
  return CachedClass(env, m.cls);
}

bool JC_ClearException(JNIEnv* env) {
  if (env == nullptr || !env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

// ---- text ---------------------------------------------------------------------

int JC_GetStringChars(JNIEnv* env, jstring str, JStringHolder* holder, int32_t mode) {
  holder->mode = mode;
  holder->ref = nullptr;
  holder->length = 0;
  holder->chars = nullptr;
  if (str == nullptr) return 0;
  if (env == nullptr) return KX_ERR_GENERAL;
  if (mode != JC_MODE_PLATFORM) {
    int32_t length = 0;
    char* chars = StringToUtf8(env, str, &length);
    if (chars == nullptr) return env->ExceptionCheck() ? KX_ERR_GENERAL : KX_ERR_NOMEM;
    holder->ref = str;
    holder->chars = chars;
    holder->length = length;
    return 0;
  }
  jobject bytes = nullptr;
  if (JC_CallObject(env, str, gStringGetBytes, &bytes) != 0) return KX_ERR_GENERAL;
  holder->ref = bytes;
  if (bytes == nullptr) return 0;
  holder->length = env->GetArrayLength(static_cast<jbyteArray>(bytes));
  holder->chars =
      reinterpret_cast<char*>(env->GetByteArrayElements(static_cast<jbyteArray>(bytes), nullptr));
  if (holder->chars == nullptr) {
    JC_ClearException(env);
    env->DeleteLocalRef(bytes);
    holder->ref = nullptr;
    holder->length = 0;
    return KX_ERR_NOMEM;
  }
  return 0;
}

void JC_ReleaseStringChars(JNIEnv* env, JStringHolder* holder) {
  if (holder == nullptr || holder->chars == nullptr) return;
  if (holder->mode != JC_MODE_PLATFORM) {
    std::free(holder->chars);
  } else if (holder->ref != nullptr && env != nullptr) {
    env->ReleaseByteArrayElements(static_cast<jbyteArray>(holder->ref),
                                  reinterpret_cast<jbyte*>(holder->chars), JNI_ABORT);
    // The byte array is ours (made by getBytes): release it at once rather
    // than leave it to the caller's frame.
    env->DeleteLocalRef(holder->ref);
    holder->ref = nullptr;
  }
  holder->chars = nullptr;
}

char* JC_StringToC(JNIEnv* env, jstring str, int32_t mode) {
  if (str == nullptr || env == nullptr) return nullptr;
  JStringHolder view;
  if (JC_GetStringChars(env, str, &view, mode) != 0) return nullptr;
  char* copy = static_cast<char*>(std::calloc(static_cast<size_t>(view.length) + 1, 1));
  if (copy != nullptr && view.length > 0) std::memcpy(copy, view.chars, view.length);
  JC_ReleaseStringChars(env, &view);
  return copy;
}

jstring JC_NewStringN(JNIEnv* env, const char* text, size_t length, int32_t mode) {
  if (text == nullptr || env == nullptr) return nullptr;
  if (mode != JC_MODE_PLATFORM) {
    char16_t small[256] = {};  // zeroed so the compiler sees it initialised; cheap next to NewString
    char16_t* units = small;
    if (length > sizeof small / sizeof small[0]) {
      units = static_cast<char16_t*>(std::malloc(length * sizeof(char16_t)));
      if (units == nullptr) return nullptr;
    }
    size_t count = Utf8ToUnits(text, length, units);
    jstring str = env->NewString(reinterpret_cast<const jchar*>(units), static_cast<jsize>(count));
    if (units != small) std::free(units);
    if (env->ExceptionCheck()) return nullptr;  // left pending for the caller
    return str;
  }
  jbyteArray bytes = env->NewByteArray(static_cast<jsize>(length));
  if (env->ExceptionCheck() || bytes == nullptr) return nullptr;
  env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(length),
                          reinterpret_cast<const jbyte*>(text));
  jstring str = nullptr;
  if (!env->ExceptionCheck()) str = static_cast<jstring>(JC_NewObjectM(env, gStringFromBytes, bytes));
  env->DeleteLocalRef(bytes);
  return str;
}

jstring JC_NewString(JNIEnv* env, const char* text, int32_t mode) {
  if (text == nullptr) return nullptr;
  return JC_NewStringN(env, text, std::strlen(text), mode);
}

// ---- objects and exceptions ---------------------------------------------------

int JC_ThrowNullPointer(JNIEnv* env, const char* what, const char* method) {
  char text[160];
  std::snprintf(text, sizeof text, "NullPointerException in '%.10s'  for '%.80s' JAVA call",
                what != nullptr ? what : "null", method != nullptr ? method : "null");
  LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", text);
  if (env == nullptr) return KX_ERR_GENERAL;
  jclass npe = env->FindClass("java/lang/NullPointerException");
  if (npe != nullptr && !env->ExceptionCheck()) {
    env->ThrowNew(npe, text);
  }
  if (npe != nullptr) env->DeleteLocalRef(npe);
  return KX_ERR_GENERAL;
}

jobject JC_NewObject(JNIEnv* env, const char* cls, const char* sig, ...) {
  if (env == nullptr) return nullptr;
  jclass c = env->FindClass(cls);
  if (env->ExceptionCheck() || c == nullptr) {
    if (c != nullptr) env->DeleteLocalRef(c);
    return nullptr;
  }
  jmethodID ctor = env->GetMethodID(c, "<init>", sig);
  if (env->ExceptionCheck() || ctor == nullptr) {
    env->DeleteLocalRef(c);
    return nullptr;
  }
  va_list args;
  va_start(args, sig);
  jobject obj = env->NewObjectV(c, ctor, args);
  va_end(args);
  env->DeleteLocalRef(c);
  if (env->ExceptionCheck()) {
    if (obj != nullptr) env->DeleteLocalRef(obj);
    return nullptr;
  }
  return obj;
}

jobject JC_NewObjectM(JNIEnv* env, JMethod& ctor, ...) {
  if (env == nullptr) return nullptr;
  jmethodID id = Resolve(env, ctor);
  if (id == nullptr) return nullptr;
  jclass cls = MethodClass(env, ctor);
  if (cls == nullptr) return nullptr;
  va_list args;
  va_start(args, ctor);
  jobject obj = env->NewObjectV(cls, id, args);
  va_end(args);
  if (env->ExceptionCheck()) {
    if (obj != nullptr) env->DeleteLocalRef(obj);
    return nullptr;
  }
  return obj;
}

// ---- typed calls ----------------------------------------------------------------

#define KX_CALL_BY_NAME(Kind, JType)                                                      \
  int JC_Call##Kind##Method(JNIEnv* env, jobject obj, jclass cls, const char* name,       \
                            const char* sig, JType* out, ...) {                           \
    TraceCall(#Kind, name, sig);                                                           \
    jmethodID id = LookUp(env, obj, cls, name, sig);                                       \
    if (id == nullptr) return KX_ERR_GENERAL;                                              \
    va_list args;                                                                          \
    va_start(args, out);                                                                   \
    JType value = env->Call##Kind##MethodV(obj, id, args);                                 \
    va_end(args);                                                                          \
    if (out != nullptr) *out = value;                                                      \
    return env->ExceptionCheck() ? KX_ERR_GENERAL : 0;                                     \
  }                                                                                        \
  int JC_Call##Kind(JNIEnv* env, jobject obj, JMethod& m, JType* out, ...) {               \
    TraceCall(#Kind, m.name, m.sig);                                                       \
    jmethodID id = LookUpCached(env, obj, m);                                              \
    if (id == nullptr) return KX_ERR_GENERAL;                                              \
    va_list args;                                                                          \
    va_start(args, out);                                                                   \
    JType value = env->Call##Kind##MethodV(obj, id, args);                                 \
    va_end(args);                                                                          \
    if (out != nullptr) *out = value;                                                      \
    return env->ExceptionCheck() ? KX_ERR_GENERAL : 0;                                     \
  }

KX_CALL_BY_NAME(Object, jobject)
KX_CALL_BY_NAME(Boolean, jboolean)
KX_CALL_BY_NAME(Byte, jbyte)
KX_CALL_BY_NAME(Short, jshort)
KX_CALL_BY_NAME(Int, jint)
KX_CALL_BY_NAME(Long, jlong)
KX_CALL_BY_NAME(Float, jfloat)
KX_CALL_BY_NAME(Double, jdouble)
#undef KX_CALL_BY_NAME

int JC_CallCharMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      jchar* out, ...) {
  TraceCall("Char", name, sig);
  jmethodID id = LookUp(env, obj, cls, name, sig);
  if (id == nullptr) return KX_ERR_GENERAL;
  va_list args;
  va_start(args, out);
  jchar value = env->CallCharMethodV(obj, id, args);
  va_end(args);
  if (out != nullptr) *out = value;
  return env->ExceptionCheck() ? KX_ERR_GENERAL : 0;
}

int JC_CallVoidMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      ...) {
  TraceCall("Void", name, sig);
  jmethodID id = LookUp(env, obj, cls, name, sig);
  if (id == nullptr) return KX_ERR_GENERAL;
  va_list args;
  va_start(args, sig);
  env->CallVoidMethodV(obj, id, args);
  va_end(args);
  return env->ExceptionCheck() ? KX_ERR_GENERAL : 0;
}

int JC_CallVoid(JNIEnv* env, jobject obj, JMethod& m, ...) {
  TraceCall("Void", m.name, m.sig);
  jmethodID id = LookUpCached(env, obj, m);
  if (id == nullptr) return KX_ERR_GENERAL;
  va_list args;
  va_start(args, m);
  env->CallVoidMethodV(obj, id, args);
  va_end(args);
  return env->ExceptionCheck() ? KX_ERR_GENERAL : 0;
}

// ---- class loading ----------------------------------------------------------------

jclass JC_LoadClass(JConn* conn, jobject loader, const char* name) {
  if (conn == nullptr || conn->jni == nullptr || name == nullptr) return nullptr;
  JNIEnv* env = conn->jni;
  if (loader == nullptr) {
    jclass c = env->FindClass(name);
    if (env->ExceptionCheck()) {
      if (c != nullptr) env->DeleteLocalRef(c);
      return nullptr;
    }
    return c;
  }
  size_t n = std::strlen(name);
  char* dotted = static_cast<char*>(std::malloc(n + 1));
  if (dotted == nullptr) return nullptr;
  for (size_t i = 0; i <= n; ++i) dotted[i] = name[i] == '/' ? '.' : name[i];
  jstring jname = JC_NewString(env, dotted, JC_MODE_PLATFORM);
  std::free(dotted);
  if (jname == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    return nullptr;
  }
  jobject cls = nullptr;
  JC_CallObjectMethod(env, loader, nullptr, "loadClass", "(Ljava/lang/String;)Ljava/lang/Class;",
                      &cls, jname);
  env->DeleteLocalRef(jname);
  return static_cast<jclass>(cls);
}

// ---- exceptions -----------------------------------------------------------------

namespace {
// Calls a String-returning method looked up on cls; the failure text on error.
const char* CallText(JNIEnv* env, jobject obj, jclass cls, const char* name, int32_t mode,
                     const char* missing, const char* failed, char** out) {
  *out = nullptr;
  jmethodID id = env->GetMethodID(cls, name, "()Ljava/lang/String;");
  if (env->ExceptionCheck() || id == nullptr) {
    env->ExceptionClear();
    return missing;
  }
  jobject s = env->CallObjectMethod(obj, id);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    if (s != nullptr) env->DeleteLocalRef(s);
    return failed;
  }
  if (s != nullptr) {
    *out = JC_StringToC(env, static_cast<jstring>(s), mode);
    JC_ClearException(env);
    env->DeleteLocalRef(s);
  }
  return nullptr;
}
// A connection failure often says only that it failed ("The connection
// attempt failed."); the reason (an unknown host, a refused connection) is the
// innermost cause of the exception: its text goes after the message, unless
// the message has it already. Every reference made here is released.
void AppendRootCause(JNIEnv* env, jthrowable ex, int32_t mode, char* text, size_t capacity) {
  jclass throwable = env->FindClass("java/lang/Throwable");
  if (env->ExceptionCheck() || throwable == nullptr) {
    env->ExceptionClear();
    return;
  }
  jmethodID getCause = env->GetMethodID(throwable, "getCause", "()Ljava/lang/Throwable;");
  jmethodID toString = env->GetMethodID(throwable, "toString", "()Ljava/lang/String;");
  if (env->ExceptionCheck() || getCause == nullptr || toString == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(throwable);
    return;
  }
  jobject root = nullptr;
  jobject at = env->NewLocalRef(ex);
  // Bounded: a chain may (wrongly) loop.
  for (int depth = 0; depth < 16 && at != nullptr; ++depth) {
    jobject cause = env->CallObjectMethod(at, getCause);
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      cause = nullptr;
    }
    if (cause == nullptr || env->IsSameObject(cause, at)) {
      if (cause != nullptr) env->DeleteLocalRef(cause);
      break;
    }
    if (root != nullptr) env->DeleteLocalRef(root);
    root = env->NewLocalRef(cause);
    env->DeleteLocalRef(at);
    at = cause;
  }
  if (at != nullptr) env->DeleteLocalRef(at);
  if (root != nullptr) {
    jobject s = env->CallObjectMethod(root, toString);
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      s = nullptr;
    }
    if (s != nullptr) {
      char* c = JC_StringToC(env, static_cast<jstring>(s), mode);
      JC_ClearException(env);
      env->DeleteLocalRef(s);
      if (c != nullptr && *c != '\0' && std::strstr(text, c) == nullptr) {
        const size_t used = std::strlen(text);
        if (used + 4 < capacity) {
          std::snprintf(text + used, capacity - used, "%s(%s)", used != 0 ? " " : "", c);
        }
      }
      std::free(c);
    }
    env->DeleteLocalRef(root);
  }
  env->DeleteLocalRef(throwable);
}

}  // namespace

int CheckException(JNIEnv* env, int32_t mode, AgentMsgList* list) {
  char state[6] = "S1000";
  int32_t native = 0;
  char text[JDB_MSG_TEXT_MAX + 1] = "";
  int status = 0;
  const char* failure = nullptr;

  if (env == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Environment is null in JAVA Calls");
    return KX_ERR_GENERAL;
  }
  if (!env->ExceptionCheck()) return 0;
  if (JC_Tracing()) LogAt(LOG_DEBUG, __FILE__, __LINE__, "  Exception occured");
  jthrowable ex = env->ExceptionOccurred();
  env->ExceptionClear();

  jclass warning = env->FindClass("java/sql/SQLWarning");
  if (env->ExceptionCheck() || warning == nullptr) {
    env->ExceptionClear();
    failure = "Can't find SQLWarning class";
  } else {
    bool isWarning = env->IsInstanceOf(ex, warning);
    env->DeleteLocalRef(warning);
    if (isWarning) {
      if (JC_Tracing()) LogAt(LOG_DEBUG, __FILE__, __LINE__, "  === SQLWarning ===");
      env->DeleteLocalRef(ex);
      env->ExceptionClear();
      return 0;
    }
  }

  bool isSql = false;
  if (failure == nullptr) {
    jclass sqlEx = env->FindClass("java/sql/SQLException");
    if (env->ExceptionCheck() || sqlEx == nullptr) {
      env->ExceptionClear();
      failure = "Can't find SQLException class";
    } else {
      isSql = env->IsInstanceOf(ex, sqlEx);
      env->DeleteLocalRef(sqlEx);
    }
  }
  jclass exClass = env->GetObjectClass(ex);
  if (failure == nullptr && isSql) {
    jmethodID getState = env->GetMethodID(exClass, "getSQLState", "()Ljava/lang/String;");
    if (env->ExceptionCheck() || getState == nullptr) {
      env->ExceptionClear();
      failure = "Can't find getSQLState";
    }
    jmethodID getCode = nullptr;
    if (failure == nullptr) {
      getCode = env->GetMethodID(exClass, "getErrorCode", "()I");
      if (env->ExceptionCheck() || getCode == nullptr) {
        env->ExceptionClear();
        failure = "Can't find getErrorCode";
      }
    }
    if (failure == nullptr) {
      jobject s = env->CallObjectMethod(ex, getState);
      if (env->ExceptionCheck()) {
        env->ExceptionClear();
        failure = "Exception in Exception.getSQLState";
      } else if (s != nullptr) {
        char* c = JC_StringToC(env, static_cast<jstring>(s), mode);
        JC_ClearException(env);
        if (c != nullptr) {
          std::strncpy(state, c, 5);
          state[5] = '\0';
          std::free(c);
        }
      }
      if (s != nullptr) env->DeleteLocalRef(s);
    }
    if (failure == nullptr) {
      jint code = env->CallIntMethod(ex, getCode);
      if (env->ExceptionCheck()) {
        env->ExceptionClear();
        failure = "Exception in Exception.getErrorCode";
      } else {
        native = code;
      }
    }
  }
  if (failure == nullptr) {
    jclass base = env->FindClass("java/lang/Exception");
    if (env->ExceptionCheck() || base == nullptr) {
      env->ExceptionClear();
      failure = "Can't find Exception class";
    }
    if (base != nullptr) env->DeleteLocalRef(base);
  }
  if (failure == nullptr && exClass != nullptr) {
    char* c = nullptr;
    if (isSql) {
      failure = CallText(env, ex, exClass, "getMessage", mode, "Can't find getMessage ",
                         "Exception in Exception.getMessage", &c);
    } else {
      failure = CallText(env, ex, exClass, "toString", mode, "Can't find toString",
                         "Exception in Exception.toString", &c);
    }
    if (c != nullptr) {
      std::strncpy(text, c, JDB_MSG_TEXT_MAX);
      text[JDB_MSG_TEXT_MAX] = '\0';
      std::free(c);
    }
    // Connection failures (class 08) carry their reason along.
    if (failure == nullptr && isSql && state[0] == '0' && state[1] == '8') {
      AppendRootCause(env, ex, mode, text, sizeof text);
    }
  }
  if (failure != nullptr) {
    std::strncpy(text, failure, JDB_MSG_TEXT_MAX);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", failure);
  }
  if (exClass != nullptr) env->DeleteLocalRef(exClass);
  env->DeleteLocalRef(ex);
  env->ExceptionClear();

  JDB_MsgAddSqlException(&status, state, text, native, list);
  // A null list posts nothing but the failure is still a failure.
  if (status == 0) status = JDB_StatusForState(state);
  if (JC_Tracing()) LogAt(LOG_DEBUG, __FILE__, __LINE__, "CheckException return sts=[%d]", status);
  return status;
}

// ---- braces -------------------------------------------------------------------

char* JC_StripBraces(char* text) {
  if (text == nullptr) return nullptr;
  char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  if (*p != '{') return text;
  ++p;
  StrTrimRight(p);
  size_t n = std::strlen(p);
  if (n > 0 && p[n - 1] == '}') {
    p[n - 1] = '\0';
    StrTrimRight(p);  // the blanks before the '}' go too
  }
  return p;
}

}  // namespace kx
