#include "drv_jdbc/j_wrap_util.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

void JW_Trace(const char* format, ...) {
  if (!JC_Tracing()) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  LogAt(LOG_DEBUG, __FILE__, __LINE__, "%s", line);
}

int JW_InputString(JNIEnv* env, const char* text, int32_t mode, AgentMsgList* list,
                   jstring* out) {
  *out = JC_NewString(env, text != nullptr ? text : "", mode);
  int status = CheckException(env, mode, list);
  if (*out == nullptr || status != 0) {
    JW_Delete(env, *out);
    *out = nullptr;
    return KX_ERR_GENERAL;
  }
  return 0;
}

int JW_CopyFixed(JNIEnv* env, jstring str, int32_t mode, char* buffer, size_t capacity,
                 int32_t* copied, int32_t* fullLength) {
  if (copied != nullptr) *copied = 0;
  if (fullLength != nullptr) *fullLength = 0;
  if (str == nullptr) {
    if (capacity > 0 && buffer != nullptr) buffer[0] = '\0';
    return 0;
  }
  JStringHolder view;
  if (JC_GetStringChars(env, str, &view, mode) != 0) {
    JC_ClearException(env);
    return KX_ERR_GENERAL;
  }
  size_t length = static_cast<size_t>(view.length);
  if (fullLength != nullptr) *fullLength = view.length;
  if (capacity > 0 && buffer != nullptr) {
    size_t n = length < capacity - 1 ? length : capacity - 1;
    // A NUL inside the text ends the copy: the caller sees C text.
    if (n > 0) {
      const void* nul = std::memchr(view.chars, '\0', n);
      if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - view.chars);
      std::memcpy(buffer, view.chars, n);
    }
    buffer[n] = '\0';
    if (copied != nullptr) *copied = static_cast<int32_t>(n);
  }
  JC_ReleaseStringChars(env, &view);
  return 0;
}

}  // namespace kx
