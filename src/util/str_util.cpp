#include "util/str_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/process_info.h"
#include "util/errcodes.h"

static_assert(kx::PLATFORM_OK == kx::KX_OK && kx::PLATFORM_FAILED == kx::KX_ERR_GENERAL,
              "the platform layer answers with the error table's codes");

namespace kx {
namespace {

// The C locale's classes, fixed: an application's setlocale must not change
// how the driver reads keywords and names.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of a counted text: SQL_NTS measures up to the terminator; -1 for an
// invalid length.
int64_t TextLength(const char* text, int64_t length) {
  if (text == nullptr) return 0;
  if (length == STR_NTS) return static_cast<int64_t>(strlen(text));
  return length < 0 ? -1 : length;
}

char* CopyBytes(const char* text, size_t len) {
  auto* copy = static_cast<char*>(malloc(len + 1));
  if (copy == nullptr) return nullptr;
  StrCopyBytes(copy, text, len);
  return copy;
}

}  // namespace

char* StrTrimRight(char* text) {
  if (text == nullptr) return nullptr;
  char* last = nullptr;
  for (char* p = text; *p; ++p)
    if (!IsSpace(*p)) last = p;
  if (last == nullptr) {
    text[0] = '\0';
    return nullptr;
  }
  last[1] = '\0';
  return last;
}

const char* StrSkipSpace(const char* text) {
  if (text == nullptr) return nullptr;
  while (*text && IsSpace(*text)) ++text;
  return text;
}

const char* StrKeyword(const char* keyword, const char* text, int exact) {
  if (keyword == nullptr || text == nullptr) return nullptr;
  const char* p = StrSkipSpace(text);
  for (; *keyword; ++keyword, ++p) {
    if (*p == '\0') return nullptr;
    if (exact ? *p != *keyword : Upper(*p) != Upper(*keyword)) return nullptr;
  }
  if (*p == '\0') return p;
  if (!IsSpace(*p)) return nullptr;  // the keyword is only the start of a longer word
  return StrSkipSpace(p);
}

const char* StrKeywordCI(const char* keyword, const char* text) { return StrKeyword(keyword, text, 0); }
const char* StrKeywordExact(const char* keyword, const char* text) {
  return StrKeyword(keyword, text, 1);
}

const char* StrFindCI(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  size_t plen = strlen(pattern);
  size_t tlen = strlen(text);
  if (plen == 0) return text + tlen;
  if (plen > tlen) return nullptr;
  for (size_t i = 0; i + plen <= tlen; ++i) {
    size_t k = 0;
    while (k < plen && Upper(text[i + k]) == Upper(pattern[k])) ++k;
    if (k == plen) return text + i;
  }
  return nullptr;
}

const char* StrFileExt(const char* path, const char* ext, int mode) {
  thread_local char buf[STR_FILEEXT_MAX];
  buf[0] = '\0';
  if (path == nullptr) return buf;
  if (ext == nullptr) ext = "";
  size_t len = strlen(path);
  if (len >= sizeof buf) return buf;
  memcpy(buf, path, len + 1);

  const char* slash = strrchr(buf, '/');
  char* base = slash ? buf + (slash - buf) + 1 : buf;
  char* dot = strrchr(base, '.');
  if (dot == base) dot = nullptr;  // a leading dot names the file, it is no extension

  size_t extLen = strlen(ext);
  auto append = [&](size_t at) -> const char* {
    if (at + 1 + extLen >= sizeof buf) {
      buf[0] = '\0';  // a cut name would open another file: give none
      return buf;
    }
    buf[at] = '.';
    memcpy(buf + at + 1, ext, extLen + 1);
    return buf;
  };
  switch (mode) {
    case STR_EXT_REMOVE:
      if (dot) *dot = '\0';
      return buf;
    case STR_EXT_REPLACE:
      return append(dot ? static_cast<size_t>(dot - buf) : len);
    case STR_EXT_DEFAULT:
      return dot ? buf : append(len);
    default:
      return buf;
  }
}

void StrProgName(const char* commandLine, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  const char* cmd = commandLine ? commandLine : "";
  const char* slash = strrchr(cmd, '/');
  const char* start = slash ? slash + 1 : cmd;
  const char* stop = strrchr(start, '.');
  if (stop == nullptr) {
    stop = start;
    while (*stop && *stop != ' ') ++stop;
  }
  size_t n = static_cast<size_t>(stop - start);
  if (n > 254) n = 254;
  if (n > capacity - 1) n = capacity - 1;
  for (size_t i = 0; i < n; ++i) out[i] = Upper(start[i]);
  out[n] = '\0';
  if (strcmp(out, "KRNL386") == 0) snprintf(out, capacity, "%s", "WOW");
  if (out[0] == '\0') snprintf(out, capacity, "%s", "Unknown");
}

const char* s_progname() {
  static char name[255];
  static std::once_flag once;
  std::call_once(once, [] {
    char cmd[4096];
    if (PlatformCommandName(cmd, sizeof cmd) != KX_OK) cmd[0] = '\0';
    StrProgName(cmd, name, sizeof name);
  });
  return name;
}

int StrCopyN(char** out, const char* text, int64_t length) {
  if (out == nullptr) return KX_ERR_GENERAL;
  *out = nullptr;
  int64_t n = TextLength(text, length);
  if (n < 0) return KX_ERR_GENERAL;
  *out = CopyBytes(text ? text : "", static_cast<size_t>(n));
  return KX_OK;
}

void StrWipe(void* data, size_t n) {
  volatile unsigned char* p = static_cast<unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) p[i] = 0;
}

void StrWipeText(char* text) {
  if (text != nullptr) StrWipe(text, strlen(text));
}

bool StrIsQuoted(const char* text, size_t n, char quote) {
  return quote != ' ' && quote != '\0' && text != nullptr && n > 1 && text[0] == quote &&
         text[n - 1] == quote;
}

namespace {

// Appends one byte to a bounded output: the byte is stored only while room
// for the terminator is left; the count goes on regardless.
struct BoundedOut {
  char* out;
  size_t capacity;
  size_t length = 0;
  void Put(char ch) {
    if (length + 1 < capacity) out[length] = ch;
    ++length;
  }
  size_t Finish() {
    if (capacity != 0) out[length < capacity ? length : capacity - 1] = '\0';
    return length;
  }
};

// Heap copy made by a bounded writer: measured first, then written.
template <typename Writer>
char* WriteCopy(const char* text, int64_t length, char quote, Writer write) {
  const int64_t n = TextLength(text, length);
  if (n < 0) return nullptr;
  const char* src = text != nullptr ? text : "";
  const size_t size = write(nullptr, 0, src, static_cast<size_t>(n), quote);
  auto* copy = static_cast<char*>(malloc(size + 1));
  if (copy == nullptr) return nullptr;
  write(copy, size + 1, src, static_cast<size_t>(n), quote);
  return copy;
}

}  // namespace

size_t StrUnquoteTo(char* out, size_t capacity, const char* text, size_t n, char quote) {
  BoundedOut o{out, out != nullptr ? capacity : 0};
  if (!StrIsQuoted(text, n, quote)) {
    for (size_t i = 0; i < n; ++i) o.Put(text[i]);
    return o.Finish();
  }
  for (size_t i = 1; i + 1 < n; ++i) {
    o.Put(text[i]);
    // The closing quote is never half of a pair.
    if (text[i] == quote && i + 2 < n && text[i + 1] == quote) ++i;
  }
  return o.Finish();
}

size_t StrQuoteTo(char* out, size_t capacity, const char* text, size_t n, char quote) {
  BoundedOut o{out, out != nullptr ? capacity : 0};
  const bool quoting = quote != ' ' && quote != '\0';
  if (quoting) o.Put(quote);
  for (size_t i = 0; i < n; ++i) {
    o.Put(text[i]);
    if (quoting && text[i] == quote) o.Put(quote);
  }
  if (quoting) o.Put(quote);
  return o.Finish();
}

int StrCopyUnquote(char** out, const char* text, int64_t length) {
  if (out == nullptr) return KX_ERR_GENERAL;
  *out = nullptr;
  const int64_t n = TextLength(text, length);
  if (n < 0) return KX_ERR_GENERAL;
  const char quote = n > 1 && (text[0] == '\'' || text[0] == '"') ? text[0] : '\0';
  *out = WriteCopy(text, n, quote, StrUnquoteTo);
  return KX_OK;
}

char* StrQuote(const char* text, int64_t length, char quote) {
  return WriteCopy(text, length, quote, StrQuoteTo);
}

char* StrUnquote(const char* text, int64_t length, char quote) {
  return WriteCopy(text, length, quote, StrUnquoteTo);
}

void* StrFreePair(void* record) {
  if (record == nullptr) return nullptr;
  auto** texts = static_cast<char**>(record);
  free(texts[0]);
  free(texts[1]);
  texts[0] = nullptr;
  texts[1] = nullptr;
  return record;
}

void StrListFree(StrList* list) {
  if (list == nullptr) return;
  if (list->texts)
    for (uint32_t i = 0; i < list->count; ++i) free(list->texts[i]);
  free(list->texts);
  list->texts = nullptr;
  list->count = 0;
}

void* AllocArray16(uint16_t n) { return calloc(n ? n : 1, 16); }

size_t StrDollarQuoteLength(const char* text, size_t n) {
  if (text == nullptr || n < 2 || text[0] != '$') return 0;
  auto tagChar = [](unsigned char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80 ||
           (!first && c >= '0' && c <= '9');
  };
  size_t tag = 1;  // the opening tag's length, both dollars included
  while (tag < n && text[tag] != '$') {  // a NUL is no tag character
    if (!tagChar(static_cast<unsigned char>(text[tag]), tag == 1)) return 0;
    ++tag;
  }
  if (tag >= n) return 0;
  ++tag;
  // A NUL ends the search too, so NUL-terminated text may pass n = SIZE_MAX.
  for (size_t i = tag; i < n && text[i] != '\0'; ++i) {
    if (text[i] != '$') continue;
    size_t k = 1;
    while (k < tag && i + k < n && text[i + k] == text[k]) ++k;
    if (k == tag) return i + tag;
  }
  return 0;
}

size_t StrBlockCommentLength(const char* text, size_t n) {
  if (text == nullptr || n < 2 || text[0] != '/' || text[1] != '*') return 0;
  size_t depth = 1;
  size_t i = 2;
  while (i + 1 < n && text[i] != '\0') {
    if (text[i] == '*' && text[i + 1] == '/') {
      i += 2;
      if (--depth == 0) return i;
    } else if (text[i] == '/' && text[i + 1] == '*') {
      i += 2;
      ++depth;
    } else {
      ++i;
    }
  }
  return 0;
}

size_t StrEscapeStringLength(const char* text, size_t n) {
  if (text == nullptr || n < 3 || (text[0] != 'E' && text[0] != 'e') || text[1] != '\'') return 0;
  for (size_t i = 2; i < n && text[i] != '\0'; ++i) {
    if (text[i] == '\\') {
      if (i + 1 >= n || text[i + 1] == '\0') return 0;
      ++i;
    } else if (text[i] == '\'') {
      if (i + 1 < n && text[i + 1] == '\'') {
        ++i;
      } else {
        return i + 1;
      }
    }
  }
  return 0;
}

}  // namespace kx
