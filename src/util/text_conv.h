// Text conversion between UTF-16 (the wide ODBC functions' text), UTF-8 (all
// text inside the driver) and the process's "ANSI" code page, which on this
// platform is UTF-8 as well; plus the helpers that copy a NUL-terminated text
// into a caller's buffer with the ODBC conventions for a cut copy.
//
// Conventions shared by every function here:
// - 16-bit text is UTF-16 held in char16_t units. Surrogate pairs are combined
//   into one character; a supplementary character is four UTF-8 bytes.
// - Lengths passed in are signed 64-bit counts (units for 16-bit text, bytes
//   for 8-bit text) or TEXT_NTS (-3, SQL_NTS): up to the terminator.
// - Capacities of 16-bit buffers count units, of 8-bit buffers bytes.
// - A cut copy never splits a character: neither a surrogate pair nor a UTF-8
//   sequence. It may therefore hold fewer than capacity - 1 units/bytes.
// - Copy-out functions return 0 when the whole text was copied and -1 when the
//   copy was cut or an argument was missing. Their 16-bit length outputs
//   saturate at the largest value of their type instead of wrapping.
// - Allocating functions return malloc'd memory (release with free()), NULL
//   for a NULL input and when memory runs out.
// - Nothing is logged; all functions are re-entrant.
//
// Invalid input:
// - UTF-16 -> 8-bit: a lone surrogate becomes U+FFFD (three bytes, the same
//   room a surrogate unit takes on its own), so sizes computed beforehand
//   stay valid and the output is always valid UTF-8.
// - Utf8To* (internal UTF-8): decoding stops before the first invalid
//   sequence (a stray continuation byte, a bad lead byte, a truncated, overlong
//   or surrogate sequence, or a code point above U+10FFFF); what was decoded
//   before it is kept and terminated where the function terminates.
// - *FromAcp (application 8-bit text): every invalid sequence becomes U+FFFD
//   and the conversion goes on, as the platform's code-page converters do.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

constexpr int64_t TEXT_NTS = -3;  // SQL_NTS: the text runs up to its terminator

// ---- UTF-16 to UTF-8 ----------------------------------------------------------

// Bytes the UTF-8 form of the text needs, without terminator: over the units up
// to the terminator (TEXT_NTS) or over exactly n units (a NUL unit counts one
// byte). NULL text, n = 0 and other negative n give 0.
size_t Ucs2Utf8Len(const char16_t* text, int64_t n);
// Encodes up to the terminator or until the next character does not fit in
// capacity bytes; returns the bytes written; writes no terminator.
size_t Ucs2ToUtf8Buf(const char16_t* text, char* buffer, size_t capacity);
// Encodes at most maxUnits units (NUL units included, as 0 bytes) into at most
// maxBytes bytes, whole characters only; returns the bytes written and stores
// the units consumed. No terminator. A high surrogate that is the last of the
// maxUnits units is taken as a lone surrogate.
size_t Ucs2ToUtf8N(const char16_t* text, char* buffer, size_t maxUnits, size_t maxBytes,
                   size_t* unitsConsumed);
// Heap UTF-8 copy of NUL-terminated text.
char* Ucs2ToUtf8Dup(const char16_t* text);
// Heap NUL-terminated UTF-8 copy of n units (embedded NUL units become 0
// bytes), or of the text up to its terminator for TEXT_NTS; any other negative
// n gives an empty string.
char* Ucs2ToUtf8DupN(const char16_t* text, int64_t n);
// Capacity >= needed + 1: all and a terminator, 0. Capacity 0: -1, nothing
// written. Otherwise the whole characters that fit in capacity - 1 bytes and a
// terminator, -1. *outLen (optional) receives the bytes written. NULL text or
// buffer: -1.
int Ucs2ToUtf8Out(const char16_t* text, char* buffer, size_t capacity, int16_t* outLen);

// ---- UTF-8 to UTF-16 ----------------------------------------------------------

// UTF-16 units the text decodes to when it is valid (a four-byte sequence
// counts 2), up to the terminator (TEXT_NTS) or within n bytes. This is the
// room every decoder below allocates or checks; invalid input only ever
// decodes to fewer units. A text whose first byte is NUL gives 0 whatever n is.
size_t Utf8CharCount(const char* text, int64_t n);
// Decodes at most maxUnits units, stopping at NUL or invalid input; returns
// the units written; no terminator. NULL text gives 0.
size_t Utf8ToUcs2N(const char* text, char16_t* buffer, size_t maxUnits);
// Decodes within maxBytes input bytes and maxUnits output units (NUL bytes are
// characters); returns the units written and stores the bytes consumed (up to
// the invalid or cut sequence when it stops early). No terminator.
size_t Utf8ToUcs2Counted(const char* text, char16_t* buffer, size_t maxBytes, size_t maxUnits,
                         size_t* bytesConsumed);
// Heap 16-bit copy with terminator.
char16_t* Utf8ToUcs2Dup(const char* text);
// TEXT_NTS: as Utf8ToUcs2Dup; otherwise the first n bytes decoded into a
// zeroed, terminated heap buffer. Other negative n give an empty text.
char16_t* Utf8ToUcs2DupN(const char* text, int64_t n);
// Capacity in units >= units + 1: all and a terminator, 0. Capacity 0: -1,
// nothing written. Otherwise what fits in capacity - 1 units and a
// terminator, -1. *outLen receives the units written. NULL text or buffer: -1.
int Utf8ToUcs2OutChars(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen);
// Capacity in bytes. *outLen first receives the unit count of the whole text
// (cut or not); a NULL buffer then gives 0. room = capacity / 2: room >= units
// + 1 gives all and a terminator, 0; otherwise (capacity >= 2) what fits in
// room - 1 units and a terminator; every cut case gives -1. NULL text: -1.
int Utf8ToUcs2OutBytes(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen);
// All and a terminator when it fits in capacity units, else what fits in
// capacity - 1 units and a terminator (nothing for capacity 0). Returns the
// buffer; NULL text or buffer leave it untouched.
char16_t* Utf8ToUcs2CopyN(char16_t* buffer, const char* text, size_t capacity);
// All and a terminator, without a bound (the caller sized the buffer with
// Utf8CharCount + 1). Returns the buffer.
char16_t* Utf8ToUcs2Copy(char16_t* buffer, const char* text);
// Units before the terminator (0 for NULL).
size_t Ucs2Len(const char16_t* text);

// ---- the ANSI code page (UTF-8 on this platform) ---------------------------------

// Heap 8-bit copy of n units (TEXT_NTS: up to the terminator), sized for the
// converted text plus its terminator. NULL gives NULL; other negative n give
// an empty text.
char* Ucs2ToAcpDupN(const char16_t* text, int64_t n);
char* Ucs2ToAcpDup(const char16_t* text);
// Zeroed heap buffer of n + 1 units (TEXT_NTS: n is the text's byte length)
// holding the n bytes converted and terminated. NULL gives NULL.
char16_t* Ucs2FromAcpDupN(const char* text, int64_t n);
// Capacity in bytes. *outLen first receives 2 x the converted text's units;
// a NULL buffer then gives 0. room = capacity / 2: units + 1 <= room gives all
// and a terminator, 0; otherwise (capacity >= 2) the whole characters that fit
// in room - 1 units and a terminator; every cut case gives -1. NULL text: -1.
int Ucs2FromAcpOutBytes(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen);
// All and a terminator, without a bound (the caller sized the buffer with the
// text's byte length + 1 units). Returns the buffer.
char16_t* Ucs2FromAcpCopy(char16_t* buffer, const char* text);
// All and a terminator when units + 1 <= capacity; otherwise capacity units of
// whole characters and no terminator (fixed-width fill; a unit left over by a
// surrogate pair that does not fit is set to 0). Returns the buffer.
char16_t* Ucs2FromAcpCopyN(char16_t* buffer, const char* text, size_t capacity);
// All and a terminator when bytes + 1 <= capacity; otherwise capacity bytes of
// whole characters and no terminator (bytes left over by a character that does
// not fit are set to 0). Returns the buffer.
char* Ucs2ToAcpCopyN(char* buffer, const char16_t* text, size_t capacity);
// 8-bit text to UTF-8 (invalid sequences become U+FFFD): all and a terminator
// when it fits in capacity, else the whole characters within capacity - 1
// bytes and a terminator (nothing for capacity 0). Returns the buffer,
// untouched when an argument is NULL or memory runs out.
char* Utf8FromAcp(char* buffer, const char* text, size_t capacity);

// ---- copy-out of NUL-terminated text ---------------------------------------------
// Capacities count bytes for 8-bit text, units for 16-bit text.

// NULL text or buffer: -1. length + 1 <= capacity: copy with terminator,
// *outLen = length, 0. Capacity 0: -1, nothing written. Otherwise the whole
// characters within capacity - 1 and a terminator, *outLen = what was copied,
// -1.
int StrCopyOut(const char* text, char* buffer, uint16_t capacity, uint16_t* outLen);
// NULL text: -1. *outLen = the full length even when cut. NULL buffer: 0.
// Fits: copy, 0. Otherwise the whole characters within capacity - 1 and a
// terminator (nothing for capacity 0), -1.
int StrCopyOutLen(const char* text, char* buffer, uint16_t capacity, int16_t* outLen);
int Ucs2CopyOut(const char16_t* text, char16_t* buffer, uint16_t capacity, uint16_t* outLen);
int Ucs2CopyOutLen(const char16_t* text, char16_t* buffer, uint16_t capacity, int16_t* outLen);

// Largest cut at or below n that does not split a character of text, which
// has more than n bytes (units): where the copy of a longer text may end.
// Bytes that are not UTF-8 are cut at n.
size_t Utf8CharBoundary(const char* text, size_t n);
size_t Ucs2CharBoundary(const char16_t* text, size_t n);

// ---- the same for unsigned short units ------------------------------------------
// The ODBC headers' SQLWCHAR is unsigned short: these behave exactly as the
// char16_t forms above.
size_t Ucs2Utf8Len(const unsigned short* text, int64_t n);
size_t Ucs2ToUtf8Buf(const unsigned short* text, char* buffer, size_t capacity);
int Ucs2ToUtf8Out(const unsigned short* text, char* buffer, size_t capacity, int16_t* outLen);
char* Ucs2ToUtf8Dup(const unsigned short* text);
size_t Utf8ToUcs2N(const char* text, unsigned short* buffer, size_t maxUnits);
unsigned short* Utf8ToUcs2DupW(const char* text);  // heap copy in unsigned short units

}  // namespace kx
