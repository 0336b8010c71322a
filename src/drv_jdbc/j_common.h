// The Java call layer: text crossing between C and Java in two text modes,
// typed method calls by name and JNI descriptor, object creation, class
// loading through the driver's class loader, and CheckException, which turns
// a pending Java exception into an agent message and a status code.
//
// Status codes are rows of the agent's error table: 0 success, 3 class not
// found, 15 general error, 16 memory, or the row of a Java SQLSTATE. A call
// helper that returns non-zero has always left a Java exception pending
// (unless the JNIEnv itself was null); the caller hands it to CheckException.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "drv_jdbc/j_msg.h"
#include "drv_jdbc/j_records.h"

namespace kx {

// Text modes: UTF-8 (non-zero) crosses as real UTF-8 through UTF-16, so
// supplementary characters and NULs survive; platform bytes (zero) cross as
// String.getBytes() and new String(byte[]) in the VM's default charset.
constexpr int32_t JC_MODE_PLATFORM = 0;
constexpr int32_t JC_MODE_UTF8 = 1;

// The UTF-16 units of counted UTF-8 text as the UTF-8 mode gives them to
// Java (a malformed sequence becomes U+FFFD): at most length units written.
size_t JC_Utf8ToUnits(const char* text, size_t length, char16_t* units);

// A temporary C view of a Java String.
struct JStringHolder {
  jobject ref;     // the String (UTF-8 mode) or the byte array (platform mode); null for null
  int32_t length;  // bytes of text
  char* chars;     // UTF-8 mode: NUL-terminated; platform mode: not terminated
  int32_t mode;    // the mode it was filled with
};

// Process-wide switch of the Java-call trace (DEBUG lines); 0 at load.
extern std::atomic<int32_t> JC_TraceCalls;
inline bool JC_Tracing() { return JC_TraceCalls.load(std::memory_order_relaxed) != 0; }

int JC_GetStringChars(JNIEnv* env, jstring str, JStringHolder* holder, int32_t mode);
void JC_ReleaseStringChars(JNIEnv* env, JStringHolder* holder);
// Heap copy (caller frees), NUL-terminated; null for a null String or a failure.
char* JC_StringToC(JNIEnv* env, jstring str, int32_t mode);
// Local String of a NUL-terminated text; null for null text or a failure.
jstring JC_NewString(JNIEnv* env, const char* text, int32_t mode);
// Always 15; raises NullPointerException unless env is null.
int JC_ThrowNullPointer(JNIEnv* env, const char* what, const char* method);
// Local object of class (slash form) by constructor descriptor, or null.
jobject JC_NewObject(JNIEnv* env, const char* cls, const char* sig, ...);

// Call helpers: the method is looked up by name and descriptor on cls, or on
// the object's own class when cls is null.
int JC_CallObjectMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                        jobject* out, ...);
int JC_CallBooleanMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                         jboolean* out, ...);
int JC_CallByteMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      jbyte* out, ...);
int JC_CallCharMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      jchar* out, ...);
int JC_CallShortMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                       jshort* out, ...);
int JC_CallIntMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                     jint* out, ...);
int JC_CallLongMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      jlong* out, ...);
int JC_CallFloatMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                       jfloat* out, ...);
int JC_CallDoubleMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                        jdouble* out, ...);
int JC_CallVoidMethod(JNIEnv* env, jobject obj, jclass cls, const char* name, const char* sig,
                      ...);

// A JDBC interface method whose ID is looked up once, on the interface (or
// class) named here, and kept: the fetch path calls these millions of times.
// The interface classes are held by global references, so the IDs stay valid
// for the life of the process. A call through a JMethod behaves exactly like
// the by-name helpers above (same trace, same null checks, same exceptions).
struct JMethod {
  const char* cls;   // slash form, e.g. "java/sql/ResultSet"
  const char* name;
  const char* sig;
  std::atomic<jmethodID> id{nullptr};
  std::atomic<jclass> klass{nullptr};  // global reference to cls, once resolved
};

int JC_CallObject(JNIEnv* env, jobject obj, JMethod& m, jobject* out, ...);
int JC_CallBoolean(JNIEnv* env, jobject obj, JMethod& m, jboolean* out, ...);
int JC_CallByte(JNIEnv* env, jobject obj, JMethod& m, jbyte* out, ...);
int JC_CallShort(JNIEnv* env, jobject obj, JMethod& m, jshort* out, ...);
int JC_CallInt(JNIEnv* env, jobject obj, JMethod& m, jint* out, ...);
int JC_CallLong(JNIEnv* env, jobject obj, JMethod& m, jlong* out, ...);
int JC_CallFloat(JNIEnv* env, jobject obj, JMethod& m, jfloat* out, ...);
int JC_CallDouble(JNIEnv* env, jobject obj, JMethod& m, jdouble* out, ...);
int JC_CallVoid(JNIEnv* env, jobject obj, JMethod& m, ...);
// The cached constructor ("<init>") of m.cls: a local object, or null with
// the exception pending.
jobject JC_NewObjectM(JNIEnv* env, JMethod& ctor, ...);
// Global reference to the class m.cls (cached); null with the exception pending.
jclass JC_ClassOf(JNIEnv* env, JMethod& m);

// Class (slash form) through the connection's loader, or FindClass when the
// loader is null. Local reference, or null (exception left pending).
jclass JC_LoadClass(JConn* conn, jobject loader, const char* name);

// Clears a pending exception and posts it on list; returns its status (0 when
// nothing was pending or it was an SQLWarning).
int CheckException(JNIEnv* env, int32_t mode, AgentMsgList* list);
// Clears a pending exception without posting anything. True when one was pending.
bool JC_ClearException(JNIEnv* env);

// Strips one pair of braces (and the blanks around them) in place.
char* JC_StripBraces(char* text);

// Text conversion between C and Java, counted (an embedded NUL crosses as is).
// The UTF-8 forms replace malformed input by U+FFFD.
jstring JC_NewStringN(JNIEnv* env, const char* text, size_t length, int32_t mode);

}  // namespace kx
