// Statement text translation and classification for the JDBC agent.
#include "drv_jdbc/text/j_parse_sql.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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
  if ((c == 'E' || c == 'e') && s[i + 1] == '\'') {
    // PostgreSQL's escape string: a backslash keeps the quote after it.
    const unsigned char before = i > 0 ? static_cast<unsigned char>(s[i - 1]) : ' ';
    if (isalnum(before) || before == '_' || before == '$' || before >= 0x80) return i;
    size_t n = StrEscapeStringLength(s + i, SIZE_MAX);
    return n != 0 ? i + n : i + strlen(s + i);
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
    // Block comments nest: the whole of "/* a /* b */ c */" is one comment.
    size_t n = StrBlockCommentLength(s + i, SIZE_MAX);
    return n != 0 ? i + n : i + strlen(s + i);
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
      if (parsed != nullptr) parsed->flags |= PSQL_SEVERAL;
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

// ---- the text for Java -----------------------------------------------------------

std::string Trim(const std::string& text) {
  size_t a = 0;
  size_t b = text.size();
  while (a < b && IsSpace(text[a])) ++a;
  while (b > a && IsSpace(text[b - 1])) --b;
  return text.substr(a, b - a);
}

std::string UpperWord(const std::string& text) {
  std::string up;
  for (char c : text) up += Upper(c);
  return up;
}

// Position after the bracket that closes the one at text[open] ('(' only;
// literals and the other brackets counted), or npos when it is not closed.
size_t CloseParen(const std::string& text, size_t open) {
  const char* s = text.c_str();
  int depth = 0;
  size_t i = open;
  while (s[i] != '\0') {
    if (const size_t end = LiteralEnd(s, i); end != i) {
      i = end;
      continue;
    }
    if (s[i] == '(' || s[i] == '[' || s[i] == '{') ++depth;
    if (s[i] == ')' || s[i] == ']' || s[i] == '}') {
      if (--depth == 0) return s[i] == ')' ? i + 1 : std::string::npos;
    }
    ++i;
  }
  return std::string::npos;
}

// The arguments of a function's argument list, split at the commas outside
// brackets and literals, each trimmed.
std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> args;
  const char* s = text.c_str();
  int depth = 0;
  size_t start = 0;
  size_t i = 0;
  while (s[i] != '\0') {
    if (const size_t end = LiteralEnd(s, i); end != i) {
      i = end;
      continue;
    }
    const char c = s[i];
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
    if (c == ',' && depth == 0) {
      args.push_back(Trim(text.substr(start, i - start)));
      start = i + 1;
    }
    ++i;
  }
  args.push_back(Trim(text.substr(start)));
  return args;
}

// The SQL type of a CONVERT escape as the database names it in a CAST; NULL
// for a type the escape does not know. Character targets are unbounded
// VARCHAR (a bare CHAR would be one character long), exact numbers keep
// their fraction (H2's bare DECIMAL has scale 0).
const char* CastType(std::string odbc, int dialect) {
  struct Row {
    const char* odbc;
    const char* generic;
    const char* postgres;  // NULL: the generic name
    const char* h2;        // NULL: the generic name
  };
  static const Row kRows[] = {
      {"BIGINT", "BIGINT", nullptr, nullptr},
      {"BINARY", "VARBINARY", "BYTEA", nullptr},
      {"BIT", "BOOLEAN", nullptr, nullptr},
      {"CHAR", "VARCHAR", nullptr, nullptr},
      {"DATE", "DATE", nullptr, nullptr},
      {"DECIMAL", "DECIMAL", "NUMERIC", "DECFLOAT"},
      {"DOUBLE", "DOUBLE PRECISION", nullptr, nullptr},
      {"FLOAT", "DOUBLE PRECISION", nullptr, nullptr},
      {"GUID", "UUID", nullptr, nullptr},
      {"INTEGER", "INTEGER", nullptr, nullptr},
      {"LONGVARBINARY", "BLOB", "BYTEA", nullptr},
      {"LONGVARCHAR", "CLOB", "TEXT", nullptr},
      {"NUMERIC", "NUMERIC", nullptr, "DECFLOAT"},
      {"REAL", "REAL", nullptr, nullptr},
      {"SMALLINT", "SMALLINT", nullptr, nullptr},
      {"TIME", "TIME", nullptr, nullptr},
      {"TIMESTAMP", "TIMESTAMP", nullptr, nullptr},
      {"TINYINT", "TINYINT", "SMALLINT", nullptr},
      {"TYPE_DATE", "DATE", nullptr, nullptr},
      {"TYPE_TIME", "TIME", nullptr, nullptr},
      {"TYPE_TIMESTAMP", "TIMESTAMP", nullptr, nullptr},
      {"VARBINARY", "VARBINARY", "BYTEA", nullptr},
      {"VARCHAR", "VARCHAR", nullptr, nullptr},
      {"WCHAR", "VARCHAR", nullptr, nullptr},
      {"WLONGVARCHAR", "CLOB", "TEXT", nullptr},
      {"WVARCHAR", "VARCHAR", nullptr, nullptr},
  };
  odbc = UpperWord(odbc);
  if (odbc.compare(0, 4, "SQL_") != 0) return nullptr;
  odbc.erase(0, 4);
  for (const Row& r : kRows) {
    if (odbc != r.odbc) continue;
    if (dialect == PSQL_DIALECT_POSTGRES && r.postgres != nullptr) return r.postgres;
    if (dialect == PSQL_DIALECT_H2 && r.h2 != nullptr) return r.h2;
    return r.generic;
  }
  return nullptr;
}

// TIMESTAMPDIFF on PostgreSQL, whose JDBC driver reads only a component of
// the difference (26 hours apart gives 2) and knows no month, quarter, week
// or year. The count is of unit boundaries crossed from the first timestamp
// to the second, as H2 and ODBC's reference servers count: both ends are
// truncated to the unit first. Each argument is written once, in its place,
// so markers keep their numbers. Empty for an interval it does not know.
std::string PgTimestampDiff(const std::string& interval, const std::string& from, const std::string& to) {
  struct Unit {
    const char* name;  // after SQL_TSI_
    const char* trunc;
    int seconds;       // 0: counted in months
    int months;
  };
  static const Unit kUnits[] = {
      {"SECOND", "second", 1, 0},   {"MINUTE", "minute", 60, 0},   {"HOUR", "hour", 3600, 0},
      {"DAY", "day", 86400, 0},     {"WEEK", "week", 604800, 0},   {"MONTH", "month", 0, 1},
      {"QUARTER", "quarter", 0, 3}, {"YEAR", "year", 0, 12},
  };
  std::string name = UpperWord(interval);
  if (name.compare(0, 8, "SQL_TSI_") == 0) name.erase(0, 8);
  for (const Unit& u : kUnits) {
    if (name != u.name) continue;
    // Weeks begin on Sunday, as H2 counts them: a day later, PostgreSQL's
    // Monday weeks begin where Sunday ones do.
    const char* shift = u.seconds == 604800 ? " + INTERVAL '1 day'" : "";
    const std::string a = std::string("date_trunc('") + u.trunc + "', CAST(" + from + " AS TIMESTAMP)" + shift + ")";
    const std::string b = std::string("date_trunc('") + u.trunc + "', CAST(" + to + " AS TIMESTAMP)" + shift + ")";
    if (u.seconds != 0) {
      return "CAST(-EXTRACT(EPOCH FROM " + a + " - " + b + ") / " + std::to_string(u.seconds) +
             " AS BIGINT)";
    }
    return "(SELECT CAST(-(EXTRACT(YEAR FROM kx_g.d) * 12 + EXTRACT(MONTH FROM kx_g.d)) / " +
           std::to_string(u.months) + " AS BIGINT) FROM age(" + a + ", " + b + ") AS kx_g(d))";
  }
  return std::string();
}

// The text of a {fn ...} escape whose body (after "fn") is name(args) when
// this translation resolves it; empty when JDBC is to.
std::string ResolveFunction(const std::string& name, const std::vector<std::string>& args, int dialect) {
  const std::string fn = UpperWord(name);
  if (fn == "CONVERT" && args.size() == 2) {
    const char* type = CastType(args[1], dialect);
    if (type != nullptr && !args[0].empty()) return "CAST(" + args[0] + " AS " + type + ")";
    return std::string();
  }
  if (dialect == PSQL_DIALECT_H2 && (fn == "TIMESTAMPADD" || fn == "TIMESTAMPDIFF") && args.size() == 3) {
    // H2 reads most intervals with ODBC's SQL_TSI_ prefix but not QUARTER;
    // it reads every one without it.
    std::string unit = UpperWord(args[0]);
    static const char* const kUnits[] = {"SECOND", "MINUTE", "HOUR", "DAY", "WEEK", "MONTH", "QUARTER", "YEAR"};
    if (unit.compare(0, 8, "SQL_TSI_") != 0) return std::string();
    unit.erase(0, 8);
    for (const char* known : kUnits) {
      if (unit == known) return fn + "(" + unit + ", " + args[1] + ", " + args[2] + ")";
    }
    return std::string();
  }
  if (dialect != PSQL_DIALECT_POSTGRES) return std::string();
  if (fn == "SECOND" && args.size() == 1) {
    // EXTRACT gives the fraction too (15.75); ODBC's SECOND is whole seconds.
    return "CAST(FLOOR(EXTRACT(SECOND FROM " + args[0] + ")) AS INTEGER)";
  }
  if (fn == "RIGHT" && args.size() == 2) return "right(" + args[0] + ", " + args[1] + ")";
  if ((fn == "ROUND" || fn == "TRUNCATE") && args.size() == 2) {
    // PostgreSQL rounds to a number of places only in numeric.
    return std::string(fn == "ROUND" ? "round" : "trunc") + "(CAST(" + args[0] + " AS NUMERIC), " + args[1] + ")";
  }
  if (fn == "INSERT" && args.size() == 4) {
    // OVERLAY names the inserted text second: the arguments go through a
    // row of their own so that they keep their order.
    return "(SELECT overlay(kx_i.a placing kx_i.d from kx_i.b for kx_i.c) FROM (VALUES (CAST(" + args[0] +
           " AS TEXT), CAST(" + args[1] + " AS INTEGER), CAST(" + args[2] + " AS INTEGER), CAST(" + args[3] +
           " AS TEXT))) AS kx_i(a, b, c, d))";
  }
  if (fn == "LOCATE" && args.size() == 3) {
    return "(SELECT CASE WHEN kx_q.p > 0 THEN kx_q.p + kx_q.s - 1 ELSE 0 END FROM (SELECT position(CAST(" +
           args[0] + " AS TEXT) IN substr(CAST(" + args[1] +
           " AS TEXT), kx_v.s)) AS p, kx_v.s FROM (VALUES (CAST(" + args[2] +
           " AS INTEGER))) AS kx_v(s)) AS kx_q)";
  }
  if (fn == "TIMESTAMPDIFF" && args.size() == 3) return PgTimestampDiff(args[0], args[1], args[2]);
  return std::string();
}

// Whether the rest of a {fn ...} body is one of the null forms: "(null)",
// "()" or "null" (lower case), then only blanks and brackets.
bool IsNullFunction(const char* p) {
  size_t len = 0;
  for (const char* form : {"(null)", "()", "null"}) {
    if (StartsWith(p, form)) {
      len = strlen(form);
      break;
    }
  }
  if (len == 0) return false;
  for (p += len; *p != '\0'; ++p) {
    if (!IsSpace(*p) && *p != '(' && *p != ')') return false;
  }
  return true;
}

// Appends what one escape becomes in the text for Java; body is what stood
// between its brackets, its own escapes already written for Java. A null
// escape becomes the word null followed by blanks up to the length of the
// escape in brace form, so that the text keeps its length.
void EmitEscape(const std::string& bodyIn, int dialect, std::string& out) {
  const std::string body = Trim(bodyIn);
  const char* b = body.c_str();
  size_t word = 0;
  while (isalpha(static_cast<unsigned char>(b[word])) != 0) ++word;
  const std::string keyword = UpperWord(body.substr(0, word));
  if (keyword == "OJ" && IsSpace(b[word])) {
    // The join itself: JDBC drivers lose nested outer-join escapes.
    out += Trim(body.substr(word));
    return;
  }
  if ((keyword == "D" || keyword == "T" || keyword == "TS") && IsSpace(b[word])) {
    // A date or time escape around a marker or an expression ({d ?}): JDBC
    // writes the type's literal prefix before it, which only a quoted
    // literal may follow.
    const std::string value = Trim(body.substr(word));
    if (!value.empty() && value[0] != '\'') {
      out += "CAST(" + value + (keyword == "D" ? " AS DATE)" : keyword == "T" ? " AS TIME)" : " AS TIMESTAMP)");
      return;
    }
  }
  if (keyword == "FN") {
    const char* rest = SkipSpace(b + word);
    if (IsNullFunction(rest)) {
      out += "null";
      out.append(bodyIn.size() + 2 - 4, ' ');
      return;
    }
    size_t nameLen = 0;
    while (isalnum(static_cast<unsigned char>(rest[nameLen])) != 0 || rest[nameLen] == '_') ++nameLen;
    const std::string call = rest + nameLen;
    const size_t open = call.find_first_not_of(" \t\r\n\f\v");
    if (nameLen > 0 && open != std::string::npos && call[open] == '(' &&
        CloseParen(call, open) == call.size()) {
      const std::string args = call.substr(open + 1, call.size() - open - 2);
      std::string resolved =
          ResolveFunction(std::string(rest, nameLen), SplitArgs(args), dialect);
      if (!resolved.empty()) {
        out += resolved;
        return;
      }
    }
  }
  out += '{';
  out += body;
  out += '}';
}

// Appends the literal piece s[start, end). A block comment that nests others
// goes as one flat comment: each '/' beside a '*' inside it becomes a blank,
// so that a scanner that does not nest comments (H2's escape processing)
// still reads the whole of it as one.
void AppendLiteral(const char* s, size_t start, size_t end, std::string& out) {
  const bool comment = end - start >= 4 && s[start] == '/' && s[start + 1] == '*' && s[end - 2] == '*' &&
                       s[end - 1] == '/';
  if (!comment || std::string_view(s + start + 2, end - start - 4).find("/*") == std::string_view::npos) {
    out.append(s + start, end - start);
    return;
  }
  out.append("/*");
  for (size_t j = start + 2; j < end - 2; ++j) {
    const bool nearStar = s[j - 1] == '*' || s[j + 1] == '*';
    out += s[j] == '/' && nearStar ? ' ' : s[j];
  }
  out.append("*/");
}

// The text for Java from s[i] up to the closer of closeKind, which it
// consumes; true when the closer was found (false: the text ended first and
// what was read is appended as it stood). Each escape is written by
// EmitEscape, inner ones first. The comment form "--*( ... --*)" of an escape
// is read like the brace form (both servers would take "--" for a comment,
// and the statement would silently do nothing). The recursion is bounded by
// the nesting limit the analysis translation checks first.
bool WriteForJava(const char* s, size_t& i, uint8_t closeKind, int dialect, std::string& out) {
  while (s[i] != '\0') {
    size_t end = LiteralEnd(s, i);
    if (end != i) {
      AppendLiteral(s, i, end, out);
      i = end;
      continue;
    }
    const bool openComment = StartsWith(s + i, "--*(");
    if (openComment || s[i] == '{') {
      const size_t start = i;
      i += openComment ? 4 : 1;
      std::string inner;
      if (WriteForJava(s, i, openComment ? BRACKET_COMMENT : BRACKET_BRACE, dialect, inner)) {
        EmitEscape(openComment ? std::string(SkipVendorPrefix(inner.c_str())) : inner, dialect, out);
      } else {
        out.append(s + start, i - start);
      }
      continue;
    }
    if (closeKind == BRACKET_COMMENT && StartsWith(s + i, "--*)")) {
      i += 4;
      return true;
    }
    if (StartsWith(s + i, "--*")) {
      out.append("--*");
      i += 3;
      continue;
    }
    if (closeKind == BRACKET_BRACE && s[i] == '}') {
      ++i;
      return true;
    }
    out += s[i++];
  }
  return closeKind == BRACKET_NONE;
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
// parentheses, is one of words.
bool StartsWithOneOf(const char* s, std::initializer_list<const char*> words) {
  size_t i = 0;
  for (;;) {
    while (IsSpace(s[i]) || s[i] == '(') ++i;
    const bool comment = (s[i] == '-' && s[i + 1] == '-' && s[i + 2] != '*') || (s[i] == '/' && s[i + 1] == '*');
    if (!comment) break;
    i = LiteralEnd(s, i);
  }
  for (const char* word : words) {
    const size_t n = strlen(word);
    // The word first: only a text that holds it has a character after it.
    if (strncasecmp(s + i, word, n) != 0) continue;
    const unsigned char after = static_cast<unsigned char>(s[i + n]);
    if (after == '\0' || isspace(after) || (ispunct(after) && after != '_' && after != '$')) return true;
  }
  return false;
}

// Whether the statement returns rows by its first word (a SELECT behind a
// comment is one too).
bool StartsWithRowsKeyword(const char* s) {
  return StartsWithOneOf(s, {"SELECT", "WITH", "VALUES", "TABLE", "SHOW", "EXPLAIN", "CALL"});
}

// Whether the statement is a data change: its first word (past comments and
// white space) is INSERT, UPDATE or DELETE, or it is
// WITH and the first word after its list of named queries (each one
// "name [(columns)] AS [[NOT] MATERIALIZED] (...)", separated by commas) is.
bool ChangesData(const char* s) {
  size_t i = 0;
  auto skip = [&] {
    for (;;) {
      while (IsSpace(s[i])) ++i;
      const size_t end = LiteralEnd(s, i);
      if (end == i) return;
      i = end;
    }
  };
  auto isWord = [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; };
  auto wordIs = [&](const char* word) {
    const size_t n = strlen(word);
    return strncasecmp(s + i, word, n) == 0 && !isWord(s[i + n]);
  };
  auto changeWord = [&] { return wordIs("INSERT") || wordIs("UPDATE") || wordIs("DELETE"); };
  // Past a parenthesised part, literals and comments inside it included.
  auto skipParens = [&] {
    int depth = 0;
    while (s[i] != '\0') {
      if (const size_t end = LiteralEnd(s, i); end != i) {
        i = end;
        continue;
      }
      if (s[i] == '(') ++depth;
      if (s[i] == ')' && --depth == 0) {
        ++i;
        return;
      }
      ++i;
    }
  };
  skip();
  if (!wordIs("WITH")) return changeWord();
  i += 4;
  // Words at the top level are names, AS, RECURSIVE, [NOT] MATERIALIZED
  // until a parenthesised body after AS; the word after a body is the main
  // statement's, a comma after it starts the next named query.
  bool afterBody = false;
  std::string last;
  while (s[i] != '\0') {
    skip();
    if (s[i] == '(') {
      afterBody = last == "AS" || last == "MATERIALIZED";
      skipParens();
      last.clear();
      continue;
    }
    if (isWord(s[i])) {
      if (afterBody) return changeWord();
      last.clear();
      for (; isWord(s[i]); ++i) last += Upper(s[i]);
      continue;
    }
    if (s[i] == ',') afterBody = false;
    if (s[i] != '\0') ++i;
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

char* JDB_JavaText(const char* sql, int dialect) {
  try {
    std::string text;
    size_t i = 0;
    WriteForJava(sql != nullptr ? sql : "", i, BRACKET_NONE, dialect, text);
    return HeapCopy(text);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int JDB_ParseSql(ParsedSql* parsed, const char* sql, int dialect) {
  if (parsed == nullptr) return KX_ERR_BAD_ARGUMENT;
  JDB_ParsedSqlFree(parsed);
  const char* trimmed = SkipSpace(sql != nullptr ? sql : "");
  try {
    std::string translated;
    TranslateState state{};
    int rc = JDB_TranslateSql(translated, trimmed, parsed, state);
    std::string text;
    if (rc == KX_OK) {
      size_t i = 0;
      WriteForJava(trimmed, i, BRACKET_NONE, dialect, text);
    } else {
      text = trimmed;
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
    if (parsed->kind == PSQL_KIND_DML || ChangesData(trimmed)) parsed->flags |= PSQL_CHANGES_DATA;
    if (StartsWithOneOf(trimmed, {"CREATE", "ALTER", "DROP"})) parsed->flags |= PSQL_CHANGES_SCHEMA;
    return KX_OK;
  } catch (const std::bad_alloc&) {
    JDB_ParsedSqlFree(parsed);
    return KX_ERR_NOMEM;
  }
}

}  // namespace kx
