// Small text helpers shared by the ODBC layer, the agent, the parser and the
// cursor layer. Text is 8-bit and NUL-terminated unless a
// length is given; a length is a byte count or SQL_NTS (-3). White space is
// what isspace accepts; case-insensitive means toupper of the C locale, byte
// by byte. Heap results are malloc'd and released by the caller with free().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kx {

constexpr int64_t STR_NTS = -3;  // same value as SQL_NTS

// Cuts trailing white space in place; returns the last kept character, or NULL
// for NULL, empty or all-blank text (which becomes empty).
char* StrTrimRight(char* text);
// First character that is not white space (the terminator for blank text).
const char* StrSkipSpace(const char* text);
inline char* StrSkipSpace(char* text) {
  return const_cast<char*>(StrSkipSpace(static_cast<const char*>(text)));
}
// Skips leading white space, then requires the whole keyword (byte for byte
// when exact, else case-insensitively) followed by white space or the end.
// Returns the position after the keyword and its following white space, or
// NULL when the text does not start with the keyword.
const char* StrKeyword(const char* keyword, const char* text, int exact);
const char* StrKeywordCI(const char* keyword, const char* text);
const char* StrKeywordExact(const char* keyword, const char* text);
inline char* StrKeywordCI(const char* keyword, char* text) {
  return const_cast<char*>(StrKeywordCI(keyword, static_cast<const char*>(text)));
}
// First case-insensitive occurrence of pattern in text, or NULL. An empty
// pattern gives the text's terminator.
const char* StrFindCI(const char* text, const char* pattern);
inline char* StrFindCI(char* text, const char* pattern) {
  return const_cast<char*>(StrFindCI(static_cast<const char*>(text), pattern));
}

// StrFileExt modes.
constexpr int STR_EXT_REMOVE = 0;   // remove the extension
constexpr int STR_EXT_REPLACE = 1;  // replace it by "." ext
constexpr int STR_EXT_DEFAULT = 2;  // append "." ext only when there is none
constexpr size_t STR_FILEEXT_MAX = 4352;  // result buffer, terminator included
// Copy of path with the extension of its last '/'-component changed according
// to mode, in a per-thread buffer overwritten by the next call. A dot that
// starts the last component is not an extension. A result that would not fit
// the buffer gives an empty text (which no file open accepts) rather than a
// cut path.
// Length of the dollar-quoted string (PostgreSQL "$$...$$" or
// "$tag$...$tag$"; H2 reads "$$...$$" too) that starts at text[0], within
// the n bytes available (a NUL ends them too); 0 when none starts there or
// it has no closing tag.
// A tag is a letter or '_' (or a byte of a UTF-8 letter), then those or
// digits: "$1" is a positional parameter, not a quote. The caller checks that
// text[0] does not continue an identifier ("a$b$" is one name).
size_t StrDollarQuoteLength(const char* text, size_t n);

// Length of the block comment that starts at text[0] ("/*"), through the
// "*/" that closes it, within the n bytes available (a NUL ends them too).
// Comments nest, as PostgreSQL and H2 read them: "/* a /* b */ c */" is one
// comment. 0 when none starts there or it is not closed.
size_t StrBlockCommentLength(const char* text, size_t n);

// Length of the escape string constant (PostgreSQL's E'...', e'...') that
// starts at text[0], within the n bytes available (a NUL ends them too): a
// backslash takes the byte after it into the string, so E'it\'s' is one
// literal; a doubled quote stays inside too. 0 when none starts there or it
// is not closed. The caller checks that text[0] does not continue a name
// ("some'..." is a name and a string).
size_t StrEscapeStringLength(const char* text, size_t n);

const char* StrFileExt(const char* path, const char* ext, int mode);

// The program's name: base name of the executable up to its last ".",
// upper-cased, at most 254 characters, "Unknown" when empty. Computed once.
const char* s_progname();
// The rule of s_progname applied to a command-line text ('/'-separated path,
// up to its last "." or else its first blank), written into out (capacity
// bytes, at least 1; at most 254 characters are kept).
void StrProgName(const char* commandLine, char* out, size_t capacity);

// Overwrites n bytes with zeros in a way the compiler keeps, so that a
// password does not outlive its use in freed memory.
void StrWipe(void* data, size_t n);
// StrWipe of a terminated text's characters; NULL does nothing.
void StrWipeText(char* text);

// Copies n bytes of text to out and terminates them there: out holds at least
// n + 1 bytes. Returns out.
inline char* StrCopyBytes(char* out, const char* text, size_t n) {
  if (n != 0) std::memcpy(out, text, n);
  out[n] = '\0';
  return out;
}

// Stores in *out a heap copy of text (length bytes, or up to the terminator
// with SQL_NTS); NULL text copies as empty. 0; *out NULL when memory runs out.
// 15 with *out NULL for a negative length other than SQL_NTS.
int StrCopyN(char** out, const char* text, int64_t length);
// Quoted names and strings: a quote character inside is written twice, so
// `"na""me"` stands for na"me. A blank or NUL quote character means "no
// quoting": nothing is added or taken off.
//
// Whether text (n bytes) is enclosed in quote: longer than one character,
// starting and ending with it.
bool StrIsQuoted(const char* text, size_t n, char quote);
// Writes into out (capacity bytes, may be 0 with out NULL) text (n bytes)
// without its enclosing pair of quote, each doubled quote inside read as one;
// text that is not enclosed is written as it stands. Returns the length of
// the whole result; out receives at most capacity - 1 bytes of it, terminated.
size_t StrUnquoteTo(char* out, size_t capacity, const char* text, size_t n, char quote);
// Writes text (n bytes) enclosed in quote, each quote inside doubled. Same
// contract as StrUnquoteTo.
size_t StrQuoteTo(char* out, size_t capacity, const char* text, size_t n, char quote);
// StrCopyN of the text without one enclosing pair of ' or " (text longer than
// one character that starts and ends with the same quote character), each
// doubled quote of that kind inside read as one.
int StrCopyUnquote(char** out, const char* text, int64_t length);
// Heap copy of the text enclosed in quote, each quote inside doubled; a blank
// quote gives a plain copy. NULL text counts as empty. NULL when out of memory.
char* StrQuote(const char* text, int64_t length, char quote);
// Heap copy without one enclosing pair of quote (doubled quotes inside read as
// one), else a plain copy. NULL text gives an empty copy. NULL when out of
// memory (or for a bad length).
char* StrUnquote(const char* text, int64_t length, char quote);

// Frees and clears the two text pointers at the start of a record; returns it.
void* StrFreePair(void* record);

// A list of owned message texts (the agent's message block).
struct StrList {
  int32_t code;     // native code of the messages
  uint32_t count;
  char** texts;     // count malloc'd texts, malloc'd array
};
void StrListFree(StrList* list);

// Zeroed heap array of n (at least one) 16-byte records; NULL when out of memory.
void* AllocArray16(uint16_t n);

}  // namespace kx
