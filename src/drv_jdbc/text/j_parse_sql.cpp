// Statement text translation and classification for the JDBC agent.
#include "drv_jdbc/text/j_parse_sql.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

constexpr uint8_t BRACKET_NONE = 0;
constexpr uint8_t BRACKET_BRACE = 1;    // { ... }
constexpr uint8_t BRACKET_COMMENT = 2;  // --*( ... --*)

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }
char Upper(char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); }
bool StartsWith(const char* s, const char* prefix) {
  return strncmp(s, prefix, strlen(prefix)) == 0;
}
const char* SkipSpace(const char* s) {
  while (IsSpace(*s)) ++s;
  return s;
}

// End of the literal piece that starts at s[i] (a quoted string or identifier,
// a line comment, a block comment), or i when none starts there. A doubled
// quote stays inside its string. An unterminated piece runs to the end of the
// text. "--*" is never a line comment: it starts or ends a comment escape, or
// is plain text.
size_t LiteralEnd(const char* s, size_t i) {
  char c = s[i];
  if (c == '$') {
    // Dollar-quoted text (PostgreSQL, H2), unless the '$' continues a name.
    const unsigned char before = i > 0 ? static_cast<unsigned char>(s[i - 1]) : ' ';
    if (!(isalnum(before) || before == '_' || before == '$' || before >= 0x80)) {
      size_t n = StrDollarQuoteLength(s + i, SIZE_MAX);
      if (n != 0) return i + n;
    }
    return i;
  }
  if (c == '\'' || c == '"') {
    size_t j = i + 1;
    while (s[j] != '\0') {
      if (s[j] == c) {
        if (s[j + 1] != c) return j + 1;
        j += 2;
      } else {
        ++j;
      }
    }
    return j;
  }
  if (c == '-' && s[i + 1] == '-' && s[i + 2] != '*') {
    size_t j = i + 2;
    while (s[j] != '\0' && s[j] != '\n' && s[j] != '\r') ++j;
    return j;
  }
  if (c == '/' && s[i + 1] == '*') {
    const char* end = strstr(s + i + 2, "*/");
    return end != nullptr ? static_cast<size_t>(end - s) + 2 : i + strlen(s + i);
  }
  return i;
}

// The marker numbering runs across the whole statement, nested escapes
// included; it belongs to one top-level translation.
struct TranslateState {
  unsigned counter;
};

int JDB_TranslateSql(std::string& out, const char* text, ParsedSql* parsed, TranslateState& state);

// An escape written as "--*(Vendor(...),Product(...), body--*)" carries its
// body after the second comma. A prefix that would reach into a literal or a
// bracket is no vendor clause: cutting there would unbalance the text.
const char* SkipVendorPrefix(const char* body) {
  const char* p = SkipSpace(body);
  if (strncasecmp(p, "Vendor", 6) != 0) return body;
  int commas = 0;
  for (; *p != '\0'; ++p) {
    if (strchr("{}'\"", *p) != nullptr || StartsWith(p, "--") || StartsWith(p, "/*")) return body;
    if (*p == ',' && ++commas == 2) return SkipSpace(p + 1);
  }
  return body;
}

// "CALL" followed by white space, case-insensitively, from p on.
const char* FindCallWord(const char* p) {
  for (; *p != '\0'; ++p) {
    if (strncasecmp(p, "CALL", 4) == 0 && IsSpace(p[4])) return p;
  }
  return nullptr;
}

// Appends what one outermost escape contributes to the analysis text: only a
// procedure call contributes (its call text); scalar functions, date and time
// literals, outer joins and the like contribute nothing.
int JDB_TranslateEscape(std::string& out, const std::string& body, bool fromComment,
                        ParsedSql* parsed, TranslateState& state) {
  std::string inner;
  int rc = JDB_TranslateSql(inner, body.c_str(), nullptr, state);
  const char* b = SkipSpace(inner.c_str());
  if (fromComment) b = SkipVendorPrefix(b);
  char first = Upper(*b);
  if (first == ':') {
    // {?=call p(...)}: the return-value marker, then the call.
    const char* eq = strchr(b, '=');
    out.append(b, eq != nullptr ? static_cast<size_t>(eq - b) : strlen(b));
    out += ':';
    const char* call = eq != nullptr ? FindCallWord(eq) : nullptr;
    if (call != nullptr) {
      if (parsed != nullptr) parsed->flags |= PSQL_CALL;
      out.append(eq, static_cast<size_t>(call - eq));
      out.append(call + 5);
    }
  } else if (first == 'C') {
    const char* rest = StrKeywordCI("CALL", b);
    if (rest != nullptr) {
      if (parsed != nullptr) parsed->flags |= PSQL_CALL;
      out.append(rest);
    }
  }
  return rc;
}

// Appends the analysis translation of text to out. With a record this is the
// top-level translation: it resets the record's counts and the numbering and
// stores the marker count at the end. Without one it translates an escape
// body, continuing the numbering. 68 when a bracket is left open or nests too
// deep, or the markers overflow; what was appended stays.
int JDB_TranslateSql(std::string& out, const char* text, ParsedSql* parsed, TranslateState& state) {
  if (parsed != nullptr) {
    parsed->paramCount = 0;
    parsed->kind = PSQL_KIND_NONE;
    parsed->flags = 0;
    state.counter = 0;
  }
  uint8_t stack[PSQL_MAX_NESTING];
  int depth = 0;
  uint8_t kind = BRACKET_NONE;
  std::string body;
  int rc = KX_OK;
  const char* s = text;
  size_t i = 0;
  while (s[i] != '\0' && rc == KX_OK) {
    std::string& sink = depth > 0 ? body : out;
    size_t end = LiteralEnd(s, i);
    if (end != i) {
      sink.append(s + i, end - i);
      i = end;
      continue;
    }
    bool openComment = StartsWith(s + i, "--*(");
    if (openComment || s[i] == '{') {
      if (depth == PSQL_MAX_NESTING) {
        rc = KX_ERR_SYNTAX;
        break;
      }
      stack[depth++] = kind;
      kind = openComment ? BRACKET_COMMENT : BRACKET_BRACE;
      size_t len = openComment ? 4 : 1;
      if (depth == 1) {
        body.clear();
      } else {
        body.append(s + i, len);
      }
      i += len;
      continue;
    }
    bool closeComment = kind == BRACKET_COMMENT && StartsWith(s + i, "--*)");
    if (closeComment || (kind == BRACKET_BRACE && s[i] == '}')) {
      size_t len = closeComment ? 4 : 1;
      kind = stack[--depth];
      if (depth == 0) {
        rc = JDB_TranslateEscape(out, body, closeComment, parsed, state);
      } else {
        body.append(s + i, len);
      }
      i += len;
      continue;
    }
    if (StartsWith(s + i, "--*")) {
      sink.append("--*");
      i += 3;
      continue;
    }
    char c = s[i];
    if (depth > 0) {
      body += c;
      ++i;
      continue;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ';') {
      // A trailing ';' (and the blanks after it) is dropped; between
      // statements it becomes ";" and a line break.
      const char* next = SkipSpace(s + i + 1);
      i = static_cast<size_t>(next - s);
      if (*next == '\0') break;
      out += ";\n";
      continue;
    }
    if (c == '?') {
      if (state.counter == KX_MAX_PARAMS) {
        rc = KX_ERR_TOO_MANY_PARAMS;
        break;
      }
      ++state.counter;
      out += ':';
      out += std::to_string(state.counter);
      if (parsed != nullptr) parsed->flags |= PSQL_MARKERS_OUTSIDE;
    } else if (c == '\r' || c == '\n') {
      out += '\n';
    } else if (u < 32) {
      out += ' ';
    } else {
      out += c;
    }
    ++i;
  }
  if (parsed != nullptr) parsed->paramCount = static_cast<uint16_t>(state.counter);
  if (rc == KX_OK && depth != 0) rc = KX_ERR_SYNTAX;
  return rc;
}

// The text for Java with every comment escape "--*( ... --*)" written as the
// brace escape JDBC reads (both servers would take "--" for a comment, and the
// statement would silently do nothing). Copies from s[i] up to the closer of
// closeKind, which it consumes. Only called on text whose brackets balance
// within the nesting limit, so the recursion is bounded.
void CopyForJava(const char* s, size_t& i, uint8_t closeKind, std::string& out) {
  while (s[i] != '\0') {
    size_t end = LiteralEnd(s, i);
    if (end != i) {
      out.append(s + i, end - i);
      i = end;
      continue;
    }
    if (StartsWith(s + i, "--*(")) {
      i += 4;
      std::string inner;
      CopyForJava(s, i, BRACKET_COMMENT, inner);
      out += '{';
      out += SkipVendorPrefix(inner.c_str());
      out += '}';
      continue;
    }
    if (closeKind == BRACKET_COMMENT && StartsWith(s + i, "--*)")) {
      i += 4;
      return;
    }
    if (StartsWith(s + i, "--*")) {
      out.append("--*");
      i += 3;
      continue;
    }
    if (s[i] == '{') {
      ++i;
      std::string inner;
      CopyForJava(s, i, BRACKET_BRACE, inner);
      out += '{';
      out += inner;
      out += '}';
      continue;
    }
    if (closeKind == BRACKET_BRACE && s[i] == '}') {
      ++i;
      return;
    }
    out += s[i++];
  }
}

// Overwrites {fn null}, {fn (null)}, {fn ()} and their spacings with "null"
// and blanks, keeping the length. Literals are left alone.
void OverwriteNullEscapes(char* s) {
  size_t i = 0;
  while (s[i] != '\0') {
    size_t end = LiteralEnd(s, i);
    if (end != i) {
      i = end;
      continue;
    }
    if (s[i] != '{') {
      ++i;
      continue;
    }
    const char* p = SkipSpace(s + i + 1);
    if (Upper(p[0]) == 'F' && Upper(p[1]) == 'N') {
      p = SkipSpace(p + 2);
      size_t len = 0;
      for (const char* form : {"(null)", "()", "null"}) {
        if (StartsWith(p, form)) {
          len = strlen(form);
          break;
        }
      }
      if (len != 0) {
        p += len;
        while (IsSpace(*p) || *p == '(' || *p == ')') ++p;
        if (*p == '}') {
          size_t last = static_cast<size_t>(p - s);
          memset(s + i, ' ', last - i + 1);
          memcpy(s + i, "null", 4);
          i = last + 1;
          continue;
        }
      }
    }
    ++i;
  }
}

uint16_t Classify(const char* text) {
  const char* p = text;
  while (*p == '(') ++p;
  if (StrKeywordCI("SELECT", p) != nullptr) return PSQL_KIND_SELECT;
  if (StrKeywordCI("INSERT", text) != nullptr || StrKeywordCI("DELETE", text) != nullptr ||
      StrKeywordCI("UPDATE", text) != nullptr) {
    return PSQL_KIND_DML;
  }
  return PSQL_KIND_OTHER;
}

// Whether the first word, past comments, white space and opening
// parentheses, starts a statement that returns rows (a SELECT behind a
// comment is one too).
bool StartsWithRowsKeyword(const char* s) {
  size_t i = 0;
  for (;;) {
    while (IsSpace(s[i]) || s[i] == '(') ++i;
    const bool comment = (s[i] == '-' && s[i + 1] == '-' && s[i + 2] != '*') || (s[i] == '/' && s[i + 1] == '*');
    if (!comment) break;
    i = LiteralEnd(s, i);
  }
  for (const char* word : {"SELECT", "WITH", "VALUES", "TABLE", "SHOW", "EXPLAIN", "CALL"}) {
    const size_t n = strlen(word);
    const unsigned char after = static_cast<unsigned char>(s[i + n]);
    const bool ends = after == '\0' || isspace(after) || (ispunct(after) && after != '_' && after != '$');
    if (strncasecmp(s + i, word, n) == 0 && ends) {
      return true;
    }
  }
  return false;
}

// Whether the text asks for a row lock: the word FOR followed by UPDATE,
// SHARE, NO (KEY UPDATE) or KEY (SHARE), outside literals and comments.
bool LocksRows(const char* s) {
  auto wordChar = [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; };
  std::string last;
  for (size_t i = 0; s[i] != '\0';) {
    if (const size_t end = LiteralEnd(s, i); end != i) {
      last.clear();
      i = end;
      continue;
    }
    if (!wordChar(s[i])) {
      if (!IsSpace(s[i])) last.clear();
      ++i;
      continue;
    }
    std::string word;
    for (; wordChar(s[i]); ++i) word += Upper(s[i]);
    if (last == "FOR" && (word == "UPDATE" || word == "SHARE" || word == "NO" || word == "KEY")) return true;
    last = std::move(word);
  }
  return false;
}

char* HeapCopy(const std::string& s) {
  char* copy = static_cast<char*>(malloc(s.size() + 1));
  if (copy != nullptr) memcpy(copy, s.c_str(), s.size() + 1);
  return copy;
}

}  // namespace

void JDB_ParsedSqlFree(ParsedSql* parsed) {
  if (parsed == nullptr) return;
  free(parsed->text);
  free(parsed->translated);
  *parsed = ParsedSql{};
}

int JDB_ParseSql(ParsedSql* parsed, const char* sql) {
  if (parsed == nullptr) return KX_ERR_BAD_ARGUMENT;
  JDB_ParsedSqlFree(parsed);
  const char* trimmed = SkipSpace(sql != nullptr ? sql : "");
  try {
    std::string translated;
    TranslateState state{};
    int rc = JDB_TranslateSql(translated, trimmed, parsed, state);
    std::string text = trimmed;
    if (rc == KX_OK && strstr(trimmed, "--*(") != nullptr) {
      text.clear();
      size_t i = 0;
      CopyForJava(trimmed, i, BRACKET_NONE, text);
    }
    parsed->text = HeapCopy(text);
    parsed->translated = HeapCopy(translated);
    if (parsed->text == nullptr || parsed->translated == nullptr) {
      JDB_ParsedSqlFree(parsed);
      return KX_ERR_NOMEM;
    }
    if (rc != KX_OK) {
      parsed->kind = PSQL_KIND_NONE;
      return rc;
    }
    parsed->kind = Classify(trimmed);
    if (LocksRows(trimmed)) parsed->flags |= PSQL_LOCKS_ROWS;
    if (parsed->kind == PSQL_KIND_OTHER && StartsWithRowsKeyword(trimmed)) parsed->flags |= PSQL_ROWS_KEYWORD;
    OverwriteNullEscapes(parsed->text);
    return KX_OK;
  } catch (const std::bad_alloc&) {
    JDB_ParsedSqlFree(parsed);
    return KX_ERR_NOMEM;
  }
}

}  // namespace kx
