// Reversible scrambling of short texts (settings that should not be stored
// as plain text): the UTF-8 bytes are combined with a fixed keystream and
// written as a marker followed by two hexadecimal digits per byte. This hides
// a text from a casual reader; it is no encryption.
#pragma once

namespace kx {

constexpr char kScrambleMarker = '~';

// Scrambled form of 8-bit (UTF-8) or 16-bit text, in the same width: 1 + 2n
// characters for n UTF-8 bytes. NULL for NULL text or when out of memory.
char* ScrambleText(const char* text);
char16_t* ScrambleTextW(const char16_t* text);
// The text back, as 8-bit (UTF-8) or 16-bit text. NULL for NULL text, for a
// text of one character or one that does not begin with the marker, and when
// out of memory. Digits may be of either case; any other character counts as
// 0; a last unpaired digit is ignored.
char* UnscrambleText(const char* text);
char16_t* UnscrambleTextW(const char16_t* text);

}  // namespace kx
