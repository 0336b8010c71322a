// The byte-coded template language: 0xFF starts a code (insert argument,
// if / else-if / else / end of a conditional group); every other byte is
// copied.
#include "scrs/sql_template.h"

#include <cstring>
#include <new>

#include "scrs/sql_tree.h"
#include "util/mem_pool.h"

namespace kx {

namespace {

using uchar = unsigned char;

const char* argText(char** args, int argc, int n) {
  if (n < 1 || n > argc || !args) return "";
  return args[n - 1] ? args[n - 1] : nullptr;
}

bool evalTest(int test, char** args, int argc, int n) {
  const char* text = argText(args, argc, n);
  switch (test) {
    case TPL_TEST_MATCHALL: return TPL_IsMatchAll(text) != 0;
    case TPL_TEST_NOT_MATCHALL: return TPL_IsMatchAll(text) == 0;
    case TPL_TEST_WILDCARD:
    case TPL_TEST_NO_WILDCARD: {
      // The test may rewrite the argument (escaped wildcards lose their
      // backslash); an argument outside the list is seen as an empty text.
      char* arg = (n >= 1 && n <= argc && args) ? args[n - 1] : nullptr;
      int has = TPL_HasLikeWildcard(arg);
      return test == TPL_TEST_WILDCARD ? has != 0 : has == 0;
    }
    default: return false;
  }
}

// Reads the three bytes g t n after an if or else-if code; false at the end.
bool readTest(const uchar*& p, uchar& g, uchar& t, uchar& n) {
  if (!p[0] || !p[1] || !p[2]) return false;
  g = p[0];
  t = p[1];
  n = p[2];
  p += 3;
  return true;
}

}  // namespace

void tpl_ExpandTo(std::string& out, const char* tmpl, char** args, int argc) {
  if (!tmpl) return;
  const uchar* p = reinterpret_cast<const uchar*>(tmpl);
  while (*p) {
    if (*p != TPL_ESC) {
      const uchar* run = p;
      while (*p && *p != TPL_ESC) p++;
      out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
      continue;
    }
    uchar code = p[1];
    if (!code) break;
    p += 2;
    switch (code) {
      case TPL_ARG: {
        if (!*p) return;
        int n = *p++;
        if (n == 0 || n > argc) {
          out.append("NULL");
        } else if (args && args[n - 1]) {
          out.append(args[n - 1]);
        }
        break;
      }
      case TPL_IF: {
        uchar g, t, n;
        if (!readTest(p, g, t, n)) return;
        bool taken = evalTest(t, args, argc, n);
        // A false test skips to this group's else-if, else or end.
        while (!taken) {
          while (*p && *p != TPL_ESC) p++;
          if (!*p || !p[1]) return;
          uchar c = p[1];
          if ((c == TPL_ELSE || c == TPL_END) && p[2] == g) {
            p += 3;
            taken = true;
          } else if (c == TPL_ELSEIF && p[2] == g) {
            p += 2;
            if (!readTest(p, g, t, n)) return;
            taken = evalTest(t, args, argc, n);
          } else {
            p += 1;  // keep scanning from the code byte
          }
        }
        break;
      }
      case TPL_ELSEIF:
      case TPL_ELSE: {
        // A branch was emitted: skip the rest of the group.
        if (!*p) return;
        uchar g = *p++;
        for (;;) {
          while (*p && *p != TPL_ESC) p++;
          if (!*p || !p[1]) return;
          if (p[1] == TPL_END && p[2] == g) {
            p += 3;
            break;
          }
          p += 1;
        }
        break;
      }
      case TPL_END:
        if (!*p) return;
        p++;
        break;
      default:
        break;  // an unknown code and its byte vanish
    }
  }
}

int TPL_Expand(MemPool* pool, const char* tmpl, char** args, int argc) {
  std::string out;
  tpl_ExpandTo(out, tmpl, args, argc);
  mpl_append(pool, out.data(), out.size());
  mpl_append_byte(pool, '\0');
  return 0;
}

int TPL_IsMatchAll(const char* text) {
  if (!text) return 1;
  if (strcmp(text, "%") == 0) return 1;
  for (const char* p = text; *p; p++) {
    if (*p != ' ') return 0;
  }
  return 1;
}

int TPL_HasLikeWildcard(char* text) {
  if (!text) return 0;
  bool escaped = false;
  for (char* p = text; *p; p++) {
    if (*p == '_' || *p == '%') {
      if (p == text || p[-1] != '\\') return 1;
      escaped = true;
    }
  }
  if (escaped) {
    char* w = text;
    for (char* r = text; *r; r++) {
      if (*r == '\\' && (r[1] == '_' || r[1] == '%')) continue;
      *w++ = *r;
    }
    *w = '\0';
  }
  return 0;
}

}  // namespace kx
