// The one place that puts a value's text or bytes into an application buffer
// with the ODBC truncation rules, and the decoding of hexadecimal text.
//
// The four copy-out routines take the same arguments:
//   src        the text or bytes to copy now
//   srcLen     their length (unit: see each routine)
//   pieceLen   how much of the value this call offers (normally srcLen)
//   totalLen   length of the whole value in the source unit; 0 = srcLen,
//              SQL_NO_TOTAL (-4) = unknown
//   terminate  append a terminator (1 byte NUL, or a 16-bit zero for wide)
//   mayCut     a value that does not fit may be cut (01004); when clear it is
//              refused with 22003 and the target is left untouched
//   target     the application's buffer; NULL: only the length is reported
//   targetLen  its length in bytes; negative: refused with S1090
//   outLen     receives the length of the whole value in target bytes
//              (SQL_NO_TOTAL when not known), on every path but S1090
//   err        the caller's error-code cell (an error-table row)
//   consumed   optional: source units that went out, so that a caller reading
//              a value in pieces continues at src + consumed; it never
//              exceeds srcLen. 0 on every path that writes no data.
//   split      optional, the converting routines only (in/out): target units
//              of the character at src that earlier calls already delivered.
//              A caller reading in pieces passes it (0 at the start), so that
//              a character whose converted form is longer than the room is
//              delivered across calls instead of never.
// Result: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (the cell holds 19, 01004: also
// when an earlier step of the caller left it there) or SQL_ERROR.
// A zero targetLen gives 01004 and writes nothing. A cut copy is terminated
// when asked. Text is cut between characters (a surrogate pair stays whole)
// as long as at least one character fits; a caller reading in pieces (one
// that asks for consumed) whose buffer has room for less than the next
// character gets the part of it that fits, so every call makes progress.
#pragma once

#include <cstdint>

namespace kx {

// Narrow text or binary data, copied byte for byte. Units: bytes.
int16_t CopyOutNarrow(const void* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                      int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                      int64_t* outLen, int32_t* err, uint64_t* consumed = nullptr);
// UTF-16 text to narrow (UTF-8) text. Source units: UTF-16 units; the target
// and the reported length: bytes.
int16_t CopyOutWideToNarrow(const char16_t* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                            int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                            int64_t* outLen, int32_t* err, uint64_t* consumed = nullptr,
                            uint32_t* split = nullptr);
// Narrow (UTF-8) text to UTF-16. Source units: bytes; the target and the
// reported length: bytes of UTF-16 (2 per unit). Invalid UTF-8 becomes U+FFFD.
int16_t CopyOutNarrowToWide(const char* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                            int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                            int64_t* outLen, int32_t* err, uint64_t* consumed = nullptr,
                            uint32_t* split = nullptr);
// UTF-16 text copied as it is. Units: bytes.
int16_t CopyOutWide(const void* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                    int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                    int64_t* outLen, int32_t* err, uint64_t* consumed = nullptr);

// UTF-16 units that narrow (UTF-8) text of srcLen bytes becomes, as
// CopyOutNarrowToWide converts it.
uint64_t NarrowToWideUnits(const char* src, uint64_t srcLen);

// '0'-'9', 'a'-'f', 'A'-'F' give their value; every other character 0.
uint8_t HexDigitValue(uint8_t c);
// Writes length / 2 bytes from pairs of hexadecimal digits (an odd last
// character is ignored; no validation, no terminator).
void HexDecode(uint8_t* target, const char* text, uint64_t length);

}  // namespace kx
