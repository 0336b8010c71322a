// Small steps shared by the JDBC wrappers: the trace line, making an input
// String, and copying a result String into a fixed C buffer.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "drv_jdbc/j_common.h"

namespace kx {

// One DEBUG line when the Java-call trace is on.
void JW_Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Input text as a String (NULL taken as the empty text). 0, or 15 when it
// cannot be made (a pending exception is posted on list).
int JW_InputString(JNIEnv* env, const char* text, int32_t mode, AgentMsgList* list,
                   jstring* out);

// Copies a result String into buffer (capacity bytes) as terminated text of
// at most capacity - 1 bytes; a NUL inside the text ends it; a Java null
// gives the empty text. *fullLength (optional) receives the byte length of
// the whole text. Capacity 0 writes nothing. 0, or 15 when the text view
// cannot be made (nothing left pending). str is not deleted.
int JW_CopyFixed(JNIEnv* env, jstring str, int32_t mode, char* buffer, size_t capacity,
                 int32_t* copied, int32_t* fullLength);

inline void JW_Delete(JNIEnv* env, jobject ref) {
  if (ref != nullptr && env != nullptr) env->DeleteLocalRef(ref);
}

}  // namespace kx
