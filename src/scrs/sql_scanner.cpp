// The SQL scanner: longest match over the rules active in the current start
// condition, the rule listed first winning a tie.
//
// The start condition classifies the statement: SELECT, INSERT, UPDATE and
// DELETE bodies are scanned in MAIN (ESC inside ODBC escapes); a statement
// that opens with '{' or another word yields one token and ends.
//
// Nothing the application wrote is silently dropped inside a statement body:
// a character no rule takes, an unterminated literal, quoted name or comment
// fails the parse, so a statement is never rewritten into a different one.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "scrs/sql_parser.h"
#include "util/str_util.h"

namespace kx {

namespace {

bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isNameStart(unsigned char c) { return isLetter(c) || c == '_' || (c >= 0x80 && c <= 0xF4); }
bool isNameChar(unsigned char c) {
  return isNameStart(c) || isDigit(c) || c == '#' || c == '$' || c == '-';
}
unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// A cursor over the rest of the input that never reads past its end.
struct In {
  const unsigned char* p;
  const unsigned char* e;
  size_t left() const { return static_cast<size_t>(e - p); }
  int at(size_t i) const { return i < left() ? p[i] : -1; }
};

// Case-insensitive match of a lower-case word at offset i; its length or 0.
size_t word(const In& in, size_t i, const char* w) {
  size_t n = strlen(w);
  if (in.left() < i + n) return 0;
  for (size_t k = 0; k < n; k++) {
    if (lower(in.p[i + k]) != static_cast<unsigned char>(w[k])) return 0;
  }
  return n;
}

size_t runOf(const In& in, size_t i, bool (*cls)(unsigned char)) {
  size_t k = i;
  while (k < in.left() && cls(in.p[k])) k++;
  return k - i;
}

bool isBlankTab(unsigned char c) { return c == ' ' || c == '\t'; }
bool isBlank(unsigned char c) { return c == ' '; }
bool isWhite(unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; }

struct Kw {
  const char* w;
  int code;
};

// Keywords of MAIN (FULL, INNER, LEFT, RIGHT and ORDER are keywords only when
// followed by the words that make them one).
const Kw kMainKeywords[] = {
    {"all", SQLT_ALL}, {"any", SQLT_ANY}, {"as", SQLT_AS}, {"asc", SQLT_ASC},
    {"between", SQLT_BETWEEN}, {"by", SQLT_BY}, {"current", SQLT_CURRENT}, {"desc", SQLT_DESC},
    {"distinct", SQLT_DISTINCT}, {"exists", SQLT_EXISTS}, {"group", SQLT_GROUP},
    {"having", SQLT_HAVING}, {"into", SQLT_INTO}, {"is", SQLT_IS}, {"like", SQLT_LIKE},
    {"null", SQLT_NULL}, {"of", SQLT_OF}, {"percent", SQLT_PERCENT}, {"set", SQLT_SET},
    {"union", SQLT_UNION}, {"user", SQLT_USER}, {"values", SQLT_VALUES}, {"where", SQLT_WHERE},
    {"with", SQLT_WITH}, {"ties", SQLT_TIES}, {"top", SQLT_TOP}, {"case", SQLT_CASE},
    {"else", SQLT_ELSE}, {"end", SQLT_END_KW}, {"then", SQLT_THEN}, {"when", SQLT_WHEN},
};
// Keywords of MAIN and ESC.
const Kw kEscKeywords[] = {
    {"fn", SQLT_FN}, {"oj", SQLT_OJ}, {"from", SQLT_FROM}, {"in", SQLT_IN}, {"join", SQLT_JOIN},
    {"on", SQLT_ON}, {"outer", SQLT_OUTER}, {"or", SQLT_OR}, {"and", SQLT_AND}, {"not", SQLT_NOT},
};
const char* const kAggregates[] = {"avg", "min", "max", "sum", "count"};
const Kw kDml[] = {
    {"select", SQLT_SELECT}, {"update", SQLT_UPDATE}, {"delete", SQLT_DELETE}, {"insert", SQLT_INSERT}};

// Rule numbers double as priorities (lower wins a tie).
enum Rule {
  R_LINESTART = 1, R_DML, R_KEYWORD, R_ESCKEYWORD, R_AGG, R_JOINWORD, R_ORDERBY, R_VENDOROPEN,
  R_VENDORCLOSE, R_LBRACE, R_RBRACE, R_ESCAPE, R_DATE, R_TIME, R_TS, R_COMPOP, R_OUTEROP,
  R_COMMENT, R_PUNCT, R_CONCAT, R_IDENT, R_PARAM, R_INT, R_DEC, R_FLOAT, R_HEX, R_STRING,
  R_UNTERMINATED, R_NEWLINE, R_WHITE, R_CALLBRACE, R_WORD, R_DRAINEND, R_SKIPWHITE, R_OTHER
};

struct Match {
  int rule = 0;
  size_t len = 0;      // length that competes (trailing context included)
  size_t tokLen = 0;   // length consumed
  int code = 0;
};

void offer(Match& best, int rule, size_t len, size_t tokLen, int code) {
  if (len == 0) return;
  if (len > best.len || (len == best.len && rule < best.rule)) {
    best.rule = rule;
    best.len = len;
    best.tokLen = tokLen;
    best.code = code;
  }
}

// ---- single-rule matchers: the length matched at the start of in, or 0 -----

// 'dddd-dd-dd' style: digits and separators by a pattern of 'd' and literals.
size_t pattern(const In& in, size_t i, const char* pat) {
  size_t k = i;
  for (const char* q = pat; *q; q++, k++) {
    int c = in.at(k);
    if (c < 0) return 0;
    if (*q == 'd' ? !isDigit(static_cast<unsigned char>(c)) : c != *q) return 0;
  }
  return k - i;
}

size_t matchVendorOpen(const In& in) {
  if (in.left() < 4 || memcmp(in.p, "--(*", 4) != 0) return 0;
  size_t k = 4;
  k += runOf(in, k, isBlank);
  size_t n = word(in, k, "vendor(microsoft),");
  if (!n) return 0;
  k += n;
  k += runOf(in, k, isBlank);
  n = word(in, k, "product(odbc)");
  return n ? k + n : 0;
}

size_t matchEscapeClause(const In& in) {
  size_t k = word(in, 0, "escape");
  if (!k) return 0;
  k += runOf(in, k, isBlank);
  if (in.at(k) != '\'') return 0;
  int c = in.at(k + 1);
  if (c < 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '\'') return 0;
  if (in.at(k + 2) != '\'') return 0;
  return k + 3;
}

// d 'dddd-dd-dd', t 'dd:dd:dd', ts 'dddd-dd-dd dd:dd:dd[.f]'
size_t matchDateTime(const In& in, const char* lead, int which) {
  size_t k = word(in, 0, lead);
  if (!k) return 0;
  k += runOf(in, k, isBlank);
  if (in.at(k) != '\'') return 0;
  k++;
  if (which == 0 || which == 2) {
    size_t n = pattern(in, k, "dddd-dd-dd");
    if (!n) return 0;
    k += n;
  }
  if (which == 2) {
    size_t b = runOf(in, k, isBlank);
    if (!b) return 0;
    k += b;
  }
  if (which == 1 || which == 2) {
    size_t n = pattern(in, k, "dd:dd:dd");
    if (!n) return 0;
    k += n;
  }
  if (which == 2 && in.at(k) == '.') {
    size_t d = runOf(in, k + 1, [](unsigned char c) { return isDigit(c); });
    if (d) k += 1 + d;
  }
  if (in.at(k) != '\'') return 0;
  return k + 1;
}

size_t matchName(const In& in, size_t i) {
  if (i >= in.left() || !isNameStart(in.p[i])) return 0;
  return 1 + runOf(in, i + 1, isNameChar);
}

size_t matchIdent(const In& in, bool afterNameChar) {
  size_t best = 0;
  auto take = [&best](size_t n) { if (n > best) best = n; };
  int c0 = in.at(0);
  // plain name, and name@digits
  if (size_t n = matchName(in, 0)) {
    take(n);
    if (in.at(n) == '@') {
      size_t d = runOf(in, n + 1, [](unsigned char c) { return isDigit(c); });
      if (d) take(n + 1 + d);
    }
  }
  if (c0 == '"') {
    int c1 = in.at(1);
    // "name with blanks"; a quote written twice inside is part of the name
    auto body = [&in](size_t k) {
      for (;;) {
        k += runOf(in, k, [](unsigned char c) { return isNameChar(c) || c == ' '; });
        if (in.at(k) != '"' || in.at(k + 1) != '"') return k;
        k += 2;
      }
    };
    if (c1 >= 0 && (isLetter(c1) || isDigit(c1) || c1 == '_' || (c1 >= 0x80 && c1 <= 0xF4))) {
      size_t k = body(2);
      if (in.at(k) == '"') take(k + 1);
    } else if (c1 == '"' && in.at(2) == '"') {
      size_t k = body(3);
      if (in.at(k) == '"') take(k + 1);
    }
    // "name@digits"
    if (size_t n = matchName(in, 1)) {
      size_t k = 1 + n;
      if (in.at(k) == '@') {
        size_t d = runOf(in, k + 1, [](unsigned char c) { return isDigit(c); });
        if (d && in.at(k + 1 + d) == '"') take(k + 2 + d);
      }
    }
    // "@name" and "@@name"
    if (c1 == '@') {
      int c2 = in.at(2);
      if (c2 >= 0 && (isNameStart(c2) || c2 == '@')) {
        size_t k = 3 + runOf(in, 3, isNameChar);
        if (in.at(k) == '"') take(k + 1);
      }
    }
  }
  // @name and @@name; right after a name the '@' separates a table from its
  // database server instead (t@srv).
  if (c0 == '@' && !afterNameChar) {
    int c1 = in.at(1);
    if (c1 >= 0 && (isNameStart(c1) || c1 == '@')) take(2 + runOf(in, 2, isNameChar));
  }
  if (c0 == '`') {
    size_t k = 1 + runOf(in, 1, [](unsigned char c) { return isNameChar(c) || c == ' '; });
    if (in.at(k) == '`') take(k + 1);
  }
  return best;
}

// Numbers: rule and length of the longest numeric form.
void matchNumbers(const In& in, Match& best) {
  auto digitsAt = [&in](size_t i) {
    return runOf(in, i, [](unsigned char c) { return isDigit(c); });
  };
  size_t intLen = digitsAt(0);
  offer(best, R_INT, intLen, intLen, SQLT_INTNUM);
  size_t decLen = 0;
  if (intLen && in.at(intLen) == '.') {
    decLen = intLen + 1 + digitsAt(intLen + 1);
  } else if (in.at(0) == '.') {
    size_t d = digitsAt(1);
    if (d) decLen = 1 + d;
  }
  offer(best, R_DEC, decLen, decLen, SQLT_DECNUM);
  size_t mant = decLen ? decLen : intLen;
  if (mant && (in.at(mant) == 'e' || in.at(mant) == 'E')) {
    size_t k = mant + 1;
    if (in.at(k) == '+' || in.at(k) == '-') k++;
    size_t d = digitsAt(k);
    if (d) offer(best, R_FLOAT, k + d, k + d, SQLT_FLOATNUM);
  }
  if (in.at(0) == '0' && (in.at(1) == 'x' || in.at(1) == 'X')) {
    size_t h = runOf(in, 2, isHex);
    if (h) offer(best, R_HEX, 2 + h, 2 + h, SQLT_HEXNUM);
  }
}

// 'text' with '' standing for a quote; also reports an unterminated one.
void matchString(const In& in, Match& best) {
  if (in.at(0) != '\'') return;
  size_t k = 1;
  for (;;) {
    int c = in.at(k);
    if (c < 0 || c == '\n') {
      // No closing quote before the end of the line or text.
      offer(best, R_UNTERMINATED, k, k, SQLT_LEXERROR);
      return;
    }
    if (c == '\'') {
      if (in.at(k + 1) == '\'') {
        k += 2;
        continue;
      }
      offer(best, R_STRING, k + 1, k + 1, SQLT_STRING);
      return;
    }
    k++;
  }
}

// "--" to the end of the line, "/* ... */"; the length that competes is the
// opener's, so the vendor escape opener (longer) still wins.
void matchComment(const In& in, Match& best) {
  if (in.at(0) == '-' && in.at(1) == '-') {
    size_t k = 2;
    while (k < in.left() && in.p[k] != '\n') k++;
    offer(best, R_COMMENT, 2, k, 0);
  } else if (in.at(0) == '/' && in.at(1) == '*') {
    // Block comments nest, as the databases read them.
    size_t k = StrBlockCommentLength(reinterpret_cast<const char*>(in.p), in.left());
    if (k != 0) {
      offer(best, R_COMMENT, 2, k, 0);
    } else {
      offer(best, R_COMMENT, 2, in.left(), SQLT_LEXERROR);
    }
  }
}

void matchKeywords(const In& in, const Kw* table, size_t n, int rule, Match& best) {
  for (size_t i = 0; i < n; i++) {
    size_t len = word(in, 0, table[i].w);
    offer(best, rule, len, len, table[i].code);
  }
}

bool inBody(int cond) { return cond == SCAN_MAIN || cond == SCAN_ESC; }

Match longestMatch(const SqlParseCtx* ctx, const In& in) {
  Match best;
  int cond = ctx->cond;
  bool main = cond == SCAN_MAIN;
  bool body = inBody(cond);
  if (ctx->lineStart) {
    size_t n = runOf(in, 0, isBlankTab);
    offer(best, R_LINESTART, n, n, 0);
  }
  matchKeywords(in, kDml, 4, R_DML, best);
  if (main) matchKeywords(in, kMainKeywords, sizeof kMainKeywords / sizeof kMainKeywords[0], R_KEYWORD, best);
  if (body) {
    matchKeywords(in, kEscKeywords, sizeof kEscKeywords / sizeof kEscKeywords[0], R_ESCKEYWORD, best);
  }
  if (main) {
    for (const char* a : kAggregates) {
      size_t len = word(in, 0, a);
      offer(best, R_AGG, len, len, SQLT_AGGNAME);
    }
  }
  if (body) {
    static const Kw sides[] = {{"full", SQLT_FULL}, {"left", SQLT_LEFT}, {"right", SQLT_RIGHT}};
    for (const Kw& s : sides) {
      size_t n = word(in, 0, s.w);
      if (!n) continue;
      size_t b = runOf(in, n, isBlankTab);
      if (!b) continue;
      size_t t = word(in, n + b, "outer");
      if (!t) t = word(in, n + b, "join");
      if (t) offer(best, R_JOINWORD, n + b + t, n, s.code);
    }
    if (size_t n = word(in, 0, "inner")) {
      size_t b = runOf(in, n, isBlankTab);
      size_t t = b ? word(in, n + b, "join") : 0;
      if (t) offer(best, R_JOINWORD, n + b + t, n, SQLT_INNER);
    }
  }
  if (main) {
    if (size_t n = word(in, 0, "order")) {
      size_t b = runOf(in, n, isBlankTab);
      size_t t = b ? word(in, n + b, "by") : 0;
      if (t) offer(best, R_ORDERBY, n + b + t, n, SQLT_ORDER);
    }
  }
  if (body) {
    size_t v = matchVendorOpen(in);
    offer(best, R_VENDOROPEN, v, v, SQLT_VENDOR_OPEN);
  }
  if (cond == SCAN_ESC && in.left() >= 4 && memcmp(in.p, "*)--", 4) == 0) {
    offer(best, R_VENDORCLOSE, 4, 4, SQLT_VENDOR_CLOSE);
  }
  if (body && in.at(0) == '{') offer(best, R_LBRACE, 1, 1, SQLT_LBRACE);
  if (cond == SCAN_ESC && in.at(0) == '}') offer(best, R_RBRACE, 1, 1, SQLT_RBRACE);
  if (body) {
    size_t e = matchEscapeClause(in);
    offer(best, R_ESCAPE, e, e, SQLT_ESCAPECLAUSE);
  }
  if (cond == SCAN_ESC) {
    size_t d = matchDateTime(in, "d", 0);
    offer(best, R_DATE, d, d, SQLT_DATELIT);
    size_t t = matchDateTime(in, "t", 1);
    offer(best, R_TIME, t, t, SQLT_TIMELIT);
    size_t ts = matchDateTime(in, "ts", 2);
    offer(best, R_TS, ts, ts, SQLT_TSLIT);
  }
  if (body) {
    int c0 = in.at(0), c1 = in.at(1);
    if ((c0 == '<' && (c1 == '>' || c1 == '=')) || (c0 == '>' && c1 == '=')) {
      offer(best, R_COMPOP, 2, 2, SQLT_COMPOP);
    } else if (c0 == '=' || c0 == '<' || c0 == '>') {
      offer(best, R_COMPOP, 1, 1, SQLT_COMPOP);
    }
    if ((c0 == '*' && c1 == '=') || (c0 == '=' && c1 == '*')) offer(best, R_OUTEROP, 2, 2, SQLT_OUTEROP);
    matchComment(in, best);
    if (c0 >= 0 && strchr("()*+,-./:;@", c0) && c0 != 0) offer(best, R_PUNCT, 1, 1, c0);
    if (c0 == '|' && c1 == '|') offer(best, R_CONCAT, 2, 2, SQLT_CONCAT);
    bool afterName = in.p > reinterpret_cast<const unsigned char*>(ctx->start) && isNameChar(in.p[-1]);
    size_t id = matchIdent(in, afterName);
    offer(best, R_IDENT, id, id, SQLT_IDENT);
    if (c0 == '?') offer(best, R_PARAM, 1, 1, SQLT_PARAM);
    matchNumbers(in, best);
    matchString(in, best);
    if ((c0 == 'E' || c0 == 'e') && c1 == '\'' && !afterName) {
      // PostgreSQL's E'...': a backslash keeps the quote after it inside.
      size_t d = StrEscapeStringLength(reinterpret_cast<const char*>(in.p), in.left());
      if (d != 0) {
        offer(best, R_STRING, d, d, SQLT_STRING);
      } else {
        offer(best, R_UNTERMINATED, in.left(), in.left(), SQLT_LEXERROR);
      }
    }
    if (c0 == '$' && !afterName) {
      // A dollar-quoted string (PostgreSQL, H2) is literal text: a '?' or
      // quote inside is no marker and opens nothing.
      size_t d = StrDollarQuoteLength(reinterpret_cast<const char*>(in.p), in.left());
      offer(best, R_STRING, d, d, SQLT_STRING);
    }
    if (c0 == '\n') offer(best, R_NEWLINE, 1, 1, 0);
    size_t w = runOf(in, 0, isWhite);
    offer(best, R_WHITE, w, w, 0);
  }
  if (cond == SCAN_INITIAL) {
    if (in.at(0) == '{') offer(best, R_CALLBRACE, 1, 1, SQLT_CALL_BRACE);
    size_t l = runOf(in, 0, isLetter);
    offer(best, R_WORD, l, l, SQLT_OTHERWORD);
    matchComment(in, best);
  }
  if (cond == SCAN_DRAIN || cond == SCAN_DRAINBRACE) offer(best, R_DRAINEND, 1, 1, 0);
  if (cond == SCAN_INITIAL || cond == SCAN_DRAIN || cond == SCAN_DRAINBRACE) {
    size_t w = runOf(in, 0, isWhite);
    offer(best, R_SKIPWHITE, w, w, 0);
  }
  if (cond == SCAN_INITIAL || body) offer(best, R_OTHER, 1, 1, 0);
  return best;
}

uint64_t hashBytes(const char* p, size_t n) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (size_t i = 0; i < n; i++) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 1099511628211ull;
  }
  return h;
}

struct InternKey {
  const char* text;
  size_t len;
  uint64_t hash;
};

// Spellings are told apart by their exact bytes ('X' and 'x' are different
// literals). Ordering by hash first keeps the tree shallow whatever order the
// tokens come in.
int internCompare(const void* item, const void* key) {
  const SQL_TOKVAL* t = static_cast<const SQL_TOKVAL*>(item);
  const InternKey* k = static_cast<const InternKey*>(key);
  if (!t || !k || !t->text || !k->text) return 0;
  if (t->hash != k->hash) return k->hash < t->hash ? -1 : 1;
  if (t->len != k->len) return k->len < t->len ? -1 : 1;
  int c = memcmp(k->text, t->text, k->len);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int internCreate(void** item, const void* key) {
  const InternKey* k = static_cast<const InternKey*>(key);
  if (!k || !k->text) return 0;
  SQL_TOKVAL* t = static_cast<SQL_TOKVAL*>(calloc(1, sizeof(SQL_TOKVAL)));
  if (!t) return 0;
  t->text = static_cast<char*>(malloc(k->len + 1));
  if (!t->text) {
    free(t);
    return 0;
  }
  StrCopyBytes(t->text, k->text, k->len);
  t->len = k->len;
  t->hash = k->hash;
  *item = t;
  return 1;
}

void internDestroy(void* item) {
  SQL_TOKVAL* t = static_cast<SQL_TOKVAL*>(item);
  if (t) free(t->text);
}

char* dupStr(const char* s, size_t n) {
  char* p = static_cast<char*>(malloc(n + 1));
  if (p) {
    StrCopyBytes(p, s, n);
  }
  return p;
}

}  // namespace

// ---- echo, errors, interning ----------------------------------------------------

void scsql_SetInitial(SqlParseCtx* ctx) { ctx->cond = SCAN_INITIAL; }

void scsql_EchoReset(SqlParseCtx* ctx) { ctx->echo.clear(); }

void scsql_Echo(SqlParseCtx* ctx, const char* text, size_t len) {
  try {
    ctx->echo.append(text, len);
  } catch (const std::bad_alloc&) {
    ctx->echoFailed = true;  // reported by the next token
  }
}

void scsql_error(SqlParseCtx* ctx, const char* msg) {
  free(ctx->errText);
  free(ctx->errMsg);
  size_t n = ctx->echo.size();
  ctx->errText = static_cast<char*>(malloc(n + 2));
  if (ctx->errText) {
    memcpy(ctx->errText, ctx->echo.data(), n);
    ctx->errText[n] = '^';
    ctx->errText[n + 1] = '\0';
  }
  ctx->errMsg = dupStr(msg ? msg : "", msg ? strlen(msg) : 0);
}

int scsql_InternBegin(SqlParseCtx* ctx) {
  if (ctx->intern) BST_Free(ctx->intern);
  ctx->intern = BST_New(internCompare, internCreate, internDestroy);
  return ctx->intern ? 1 : 0;
}

void scsql_InternEnd(SqlParseCtx* ctx) {
  BST_Free(ctx->intern);
  ctx->intern = nullptr;
}

const SQL_TOKVAL* scsql_Intern(SqlParseCtx* ctx, const char* text, size_t len) {
  if (!ctx->intern || !text) return nullptr;
  InternKey key{text, len, hashBytes(text, len)};
  BST_NODE* n = BST_FindOrInsert(ctx->intern, &key);
  return n ? static_cast<const SQL_TOKVAL*>(n->item) : nullptr;
}

size_t scsql_ReadInput(SqlParseCtx* ctx, char* buf, size_t max) {
  size_t left = static_cast<size_t>(ctx->end - ctx->pos);
  size_t n = left < max ? left : max;
  memcpy(buf, ctx->pos, n);
  ctx->pos += n;
  return n;
}

void scsql_restart(SqlParseCtx* ctx) {
  ctx->pos = ctx->end;
  ctx->cond = SCAN_INITIAL;
  ctx->depth = 0;
}

void scsql_ParseStart(SqlParseCtx* ctx, const char* text, size_t len) {
  ctx->cond = SCAN_INITIAL;
  ctx->depth = 0;
  ctx->echo.clear();
  ctx->start = text ? text : "";
  ctx->pos = ctx->start;
  ctx->end = ctx->start + (text ? len : 0);
  ctx->lineStart = true;
  ctx->echoFailed = false;
  TREE_Free(&ctx->root, tree_FreeNodeText);
  free(ctx->errText);
  free(ctx->errMsg);
  ctx->errText = nullptr;
  ctx->errMsg = nullptr;
}

void scsql_ParseEnd(SqlParseCtx* ctx) {
  TREE_Free(&ctx->root, tree_FreeNodeText);
  free(ctx->errText);
  free(ctx->errMsg);
  ctx->errText = nullptr;
  ctx->errMsg = nullptr;
  scsql_InternEnd(ctx);
}

// ---- the scanner ------------------------------------------------------------------

int scsql_NextToken(SqlParseCtx* ctx, const SQL_TOKVAL** val) {
  *val = nullptr;
  if (ctx->echoFailed) {
    scsql_error(ctx, "memory exhausted");
    return SQLT_LEXERROR;
  }
  for (;;) {
    In in{reinterpret_cast<const unsigned char*>(ctx->pos), reinterpret_cast<const unsigned char*>(ctx->end)};
    if (in.left() == 0) return SQLT_END;
    Match m = longestMatch(ctx, in);
    const char* tok = ctx->pos;
    size_t len = m.tokLen;
    ctx->pos += len;
    ctx->lineStart = len > 0 && tok[len - 1] == '\n';
    switch (m.rule) {
      case R_LINESTART:
      case R_SKIPWHITE:
        continue;
      case R_DML:
        ctx->cond = SCAN_MAIN;
        scsql_EchoReset(ctx);
        scsql_Echo(ctx, tok, len);
        return m.code;
      case R_KEYWORD:
      case R_ESCKEYWORD:
      case R_JOINWORD:
      case R_ORDERBY:
      case R_PUNCT:
      case R_CONCAT:
      case R_PARAM:
        scsql_Echo(ctx, tok, len);
        return m.code;
      case R_VENDOROPEN:
      case R_LBRACE:
        ctx->depth++;
        ctx->cond = SCAN_ESC;
        scsql_Echo(ctx, tok, len);
        return m.code;
      case R_VENDORCLOSE:
      case R_RBRACE:
        if (ctx->depth > 0) ctx->depth--;
        if (ctx->depth == 0) ctx->cond = SCAN_MAIN;
        scsql_Echo(ctx, tok, len);
        return m.code;
      case R_AGG:
      case R_ESCAPE:
      case R_DATE:
      case R_TIME:
      case R_TS:
      case R_COMPOP:
      case R_OUTEROP:
      case R_IDENT:
      case R_INT:
      case R_DEC:
      case R_FLOAT:
      case R_HEX:
      case R_STRING: {
        const SQL_TOKVAL* v = scsql_Intern(ctx, tok, len);
        if (!v) {
          scsql_error(ctx, "memory exhausted");
          return SQLT_LEXERROR;
        }
        *val = v;
        scsql_Echo(ctx, tok, len);
        return m.code;
      }
      case R_COMMENT:
        if (m.code == SQLT_LEXERROR) {
          scsql_error(ctx, "Unterminated comment.");
          return SQLT_LEXERROR;
        }
        if (inBody(ctx->cond)) scsql_Echo(ctx, " ", 1);
        continue;
      case R_UNTERMINATED:
        scsql_error(ctx, "Unterminated string literal.");
        return SQLT_LEXERROR;
      case R_NEWLINE:
      case R_WHITE:
        scsql_Echo(ctx, " ", 1);
        continue;
      case R_CALLBRACE:
        ctx->cond = SCAN_DRAINBRACE;
        return SQLT_CALL_BRACE;
      case R_WORD:
        ctx->cond = SCAN_DRAIN;
        return SQLT_OTHERWORD;
      case R_DRAINEND:
        ctx->cond = SCAN_INITIAL;
        return SQLT_END;
      case R_OTHER:
        if (ctx->cond == SCAN_INITIAL) continue;  // noise before the first word
        scsql_Echo(ctx, tok, len);
        scsql_error(ctx, "syntax error");
        return SQLT_LEXERROR;
      default:
        // No rule at all (cannot happen: R_OTHER takes any byte in the
        // conditions that scan; DRAIN ends). Stop rather than loop.
        return SQLT_END;
    }
  }
}

// ---- node builders ------------------------------------------------------------------

SQL_NODE* pn_leaf(SqlParseCtx*, int kind, const char* text) { return TREE_NewLeaf(kind, text); }

SQL_NODE* pn_tok(SqlParseCtx*, int kind, const SQL_TOKVAL* tok) {
  return tok ? TREE_NewLeaf(kind, tok->text) : nullptr;
}

SQL_NODE* pn_node(SqlParseCtx*, int kind, const char* tmpl, int n, ...) {
  SQL_NODE* kids[TREE_MAX_CHILDREN] = {};
  va_list ap;
  va_start(ap, n);
  bool ok = n >= 1 && n <= TREE_MAX_CHILDREN;
  for (int i = 0; i < n && i < TREE_MAX_CHILDREN; i++) {
    kids[i] = va_arg(ap, SQL_NODE*);
    if (!kids[i]) ok = false;
  }
  va_end(ap);
  // "{n}" becomes the code that inserts argument n.
  char buf[128];
  size_t w = 0;
  for (const char* p = tmpl; ok && *p; p++) {
    if (w + 4 >= sizeof buf) {
      ok = false;
      break;
    }
    if (p[0] == '{' && p[1] >= '1' && p[1] <= '9' && p[2] == '}') {
      buf[w++] = static_cast<char>(TPL_ESC);
      buf[w++] = static_cast<char>(TPL_ARG);
      buf[w++] = static_cast<char>(p[1] - '0');
      p += 2;
    } else {
      buf[w++] = *p;
    }
  }
  buf[w] = '\0';
  SQL_NODE* node = nullptr;
  if (ok) {
    switch (n) {
      case 1: node = TREE_NewNode(kind, buf, 1, kids[0]); break;
      case 2: node = TREE_NewNode(kind, buf, 2, kids[0], kids[1]); break;
      case 3: node = TREE_NewNode(kind, buf, 3, kids[0], kids[1], kids[2]); break;
      case 4: node = TREE_NewNode(kind, buf, 4, kids[0], kids[1], kids[2], kids[3]); break;
      case 5: node = TREE_NewNode(kind, buf, 5, kids[0], kids[1], kids[2], kids[3], kids[4]); break;
      case 6:
        node = TREE_NewNode(kind, buf, 6, kids[0], kids[1], kids[2], kids[3], kids[4], kids[5]);
        break;
      default: break;
    }
  }
  if (!node) {
    for (int i = 0; i < n && i < TREE_MAX_CHILDREN; i++) {
      if (kids[i]) {
        kids[i]->next = nullptr;
        TREE_Free(&kids[i], tree_FreeNodeText);
      }
    }
  }
  return node;
}

bool scsql_IsEquals(const SQL_TOKVAL* tok) { return tok && tok->text && strcmp(tok->text, "=") == 0; }

bool scsql_IsCount(const SQL_NODE* aggName) {
  if (!aggName || !aggName->text) return false;
  const char* t = aggName->text;
  const char* w = "count";
  for (; *t && *w; t++, w++) {
    if (lower(static_cast<unsigned char>(*t)) != static_cast<unsigned char>(*w)) return false;
  }
  return !*t && !*w;
}

}  // namespace kx
