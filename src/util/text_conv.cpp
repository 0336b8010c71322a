// UTF-16 <-> UTF-8 conversion and the copy-out helpers (see text_conv.h).
#include "util/text_conv.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace kx {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

template <class U>
inline char32_t Unit(U u) {
  return static_cast<uint16_t>(u);
}

// One character of 16-bit text at p, of which avail units may be read
// (kUnbounded for NUL-terminated text: a unit after a non-NUL unit always
// exists). A lone surrogate reads as U+FFFD. Returns the units taken.
template <class U>
inline size_t NextUtf16(const U* p, size_t avail, char32_t* cp) {
  char32_t u = Unit(p[0]);
  if (u >= 0xD800 && u <= 0xDFFF) {
    if (u <= 0xDBFF && avail >= 2) {
      char32_t v = Unit(p[1]);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        *cp = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
        return 2;
      }
    }
    u = kReplacement;
  }
  *cp = u;
  return 1;
}

inline size_t Utf8Width(char32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

inline size_t PutUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

template <class U>
inline size_t PutUtf16(char32_t cp, U* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<U>(cp);
    return 1;
  }
  cp -= 0x10000;
  out[0] = static_cast<U>(0xD800 + (cp >> 10));
  out[1] = static_cast<U>(0xDC00 + (cp & 0x3FF));
  return 2;
}

// Encodes 16-bit text into at most maxBytes bytes, whole characters only.
// With nts the text ends at its terminator (maxUnits is then an extra bound);
// otherwise exactly maxUnits units are read, NUL units included. out may be
// NULL to measure. Returns the bytes; *consumed gets the units taken.
template <class U>
size_t Encode(const U* text, size_t maxUnits, bool nts, char* out, size_t maxBytes,
              size_t* consumed) {
  size_t i = 0, bytes = 0;
  while (i < maxUnits) {
    const auto unit = static_cast<uint32_t>(text[i]);
    if (unit < 0x80) {
      // ASCII, most text: one byte, no decoding.
      if ((nts && unit == 0) || bytes == maxBytes) break;
      if (out) out[bytes] = static_cast<char>(unit);
      ++bytes;
      ++i;
      continue;
    }
    char32_t cp;
    size_t avail = nts && maxUnits == kUnbounded ? kUnbounded : maxUnits - i;
    size_t units = NextUtf16(text + i, avail, &cp);
    size_t w = Utf8Width(cp);
    if (w > maxBytes - bytes) break;
    if (out) PutUtf8(cp, out + bytes);
    bytes += w;
    i += units;
  }
  if (consumed) *consumed = i;
  return bytes;
}

// One UTF-8 sequence at p of which avail bytes may be read (kUnbounded for
// NUL-terminated text: a NUL is never a continuation byte, so nothing beyond
// it is read). ok is false for an invalid or cut sequence; len is then the
// length of its longest valid beginning (at least 1).
struct Utf8Seq {
  char32_t cp;
  uint32_t len;
  bool ok;
};

inline Utf8Seq DecodeUtf8(const unsigned char* p, size_t avail) {
  unsigned b0 = p[0];
  if (b0 < 0x80) return {b0, 1, true};
  uint32_t need;
  char32_t cp;
  unsigned lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;       // overlong
    else if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;       // overlong
    else if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return {0, 1, false};
  }
  for (uint32_t k = 1; k < need; ++k) {
    if (k >= avail) return {0, k, false};
    unsigned b = p[k];
    if (b < lo || b > hi) return {0, k, false};
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, need, true};
}

// Decodes UTF-8 into at most maxUnits units, whole characters only. With nts
// the text ends at its first NUL byte (maxBytes an extra bound); otherwise
// maxBytes bytes are read, NUL bytes included. Invalid input stops the
// decoding, or with replace becomes U+FFFD. out may be NULL to measure.
// Returns the units; *consumed gets the bytes taken.
template <class U>
size_t Decode(const char* text, size_t maxBytes, bool nts, bool replace, U* out, size_t maxUnits,
              size_t* consumed) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, units = 0;
  while (i < maxBytes) {
    if (nts && p[i] == 0) break;
    Utf8Seq s = DecodeUtf8(p + i, nts && maxBytes == kUnbounded ? kUnbounded : maxBytes - i);
    if (!s.ok) {
      if (!replace) break;
      s.cp = kReplacement;
    }
    size_t w = s.cp < 0x10000 ? 1 : 2;
    if (w > maxUnits - units) break;
    if (out) PutUtf16(s.cp, out + units);
    units += w;
    i += s.len;
  }
  if (consumed) *consumed = i;
  return units;
}

template <class T>
T* AllocUnits(size_t count) {
  if (count > kUnbounded / sizeof(T)) return nullptr;
  return static_cast<T*>(calloc(count, sizeof(T)));
}

int16_t Sat16(size_t v) {
  return v > static_cast<size_t>(std::numeric_limits<int16_t>::max())
             ? std::numeric_limits<int16_t>::max()
             : static_cast<int16_t>(v);
}

uint16_t SatU16(size_t v) {
  return v > std::numeric_limits<uint16_t>::max() ? std::numeric_limits<uint16_t>::max()
                                                  : static_cast<uint16_t>(v);
}

// Largest cut at or below n that does not split a UTF-8 sequence of text
// (which is longer than n). Text that is not UTF-8 is cut at n.
size_t Utf8Cut(const char* text, size_t n) {
  size_t k = n;
  for (int back = 0; back < 3 && k > 0 && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80;
       ++back)
    --k;
  return (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80 ? n : k;
}

// Largest cut at or below n that does not split a surrogate pair of text
// (which is longer than n).
template <class U>
size_t Utf16Cut(const U* text, size_t n) {
  if (n > 0 && Unit(text[n - 1]) >= 0xD800 && Unit(text[n - 1]) <= 0xDBFF &&
      Unit(text[n]) >= 0xDC00 && Unit(text[n]) <= 0xDFFF)
    return n - 1;
  return n;
}

template <class U>
size_t LenT(const U* text) {
  size_t n = 0;
  if (text)
    while (text[n]) ++n;
  return n;
}

template <class U>
size_t Utf8LenT(const U* text, int64_t n) {
  if (!text) return 0;
  if (n == TEXT_NTS) return Encode(text, kUnbounded, true, nullptr, kUnbounded, nullptr);
  if (n <= 0) return 0;
  return Encode(text, static_cast<size_t>(n), false, nullptr, kUnbounded, nullptr);
}

template <class U>
size_t ToUtf8BufT(const U* text, char* buffer, size_t capacity) {
  if (!text || !buffer) return 0;
  return Encode(text, kUnbounded, true, buffer, capacity, nullptr);
}

template <class U>
char* ToUtf8DupNT(const U* text, int64_t n) {
  if (!text) return nullptr;
  bool nts = n == TEXT_NTS;
  size_t units = nts ? kUnbounded : n < 0 ? 0 : static_cast<size_t>(n);
  size_t bytes = Encode(text, units, nts, static_cast<char*>(nullptr), kUnbounded, nullptr);
  char* out = AllocUnits<char>(bytes + 1);
  if (!out) return nullptr;
  Encode(text, units, nts, out, bytes, nullptr);
  return out;
}

template <class U>
int ToUtf8OutT(const U* text, char* buffer, size_t capacity, int16_t* outLen) {
  if (!text || !buffer) return -1;
  if (capacity == 0) {
    if (outLen) *outLen = 0;
    return -1;
  }
  size_t need = Utf8LenT(text, TEXT_NTS);
  size_t written = Encode(text, kUnbounded, true, buffer, capacity - 1, nullptr);
  buffer[written] = 0;
  if (outLen) *outLen = Sat16(written);
  return written == need ? 0 : -1;
}

template <class U>
size_t Utf8ToUcs2NT(const char* text, U* buffer, size_t maxUnits) {
  if (!text || !buffer) return 0;
  return Decode(text, kUnbounded, true, false, buffer, maxUnits, nullptr);
}

template <class U>
U* Utf8ToUcs2DupT(const char* text) {
  if (!text) return nullptr;
  size_t count = Utf8CharCount(text, TEXT_NTS);
  if (count == kUnbounded) return nullptr;
  U* out = AllocUnits<U>(count + 1);
  if (!out) return nullptr;
  size_t units = Decode(text, kUnbounded, true, false, out, count, nullptr);
  out[units] = 0;
  return out;
}

// Unit count of 8-bit text under the replacing decoder (exact).
size_t AcpUnits(const char* text, size_t bytes, bool nts) {
  return Decode(text, bytes, nts, true, static_cast<char16_t*>(nullptr), kUnbounded, nullptr);
}

}  // namespace

// ---- UTF-16 to UTF-8 ----------------------------------------------------------

size_t Ucs2Utf8Len(const char16_t* text, int64_t n) { return Utf8LenT(text, n); }
size_t Ucs2Utf8Len(const unsigned short* text, int64_t n) { return Utf8LenT(text, n); }

size_t Ucs2ToUtf8Buf(const char16_t* text, char* buffer, size_t capacity) {
  return ToUtf8BufT(text, buffer, capacity);
}
size_t Ucs2ToUtf8Buf(const unsigned short* text, char* buffer, size_t capacity) {
  return ToUtf8BufT(text, buffer, capacity);
}

size_t Ucs2ToUtf8N(const char16_t* text, char* buffer, size_t maxUnits, size_t maxBytes,
                   size_t* unitsConsumed) {
  if (!text || !buffer) {
    if (unitsConsumed) *unitsConsumed = 0;
    return 0;
  }
  return Encode(text, maxUnits, false, buffer, maxBytes, unitsConsumed);
}

char* Ucs2ToUtf8Dup(const char16_t* text) { return ToUtf8DupNT(text, TEXT_NTS); }
char* Ucs2ToUtf8Dup(const unsigned short* text) { return ToUtf8DupNT(text, TEXT_NTS); }
char* Ucs2ToUtf8DupN(const char16_t* text, int64_t n) { return ToUtf8DupNT(text, n); }

int Ucs2ToUtf8Out(const char16_t* text, char* buffer, size_t capacity, int16_t* outLen) {
  return ToUtf8OutT(text, buffer, capacity, outLen);
}
int Ucs2ToUtf8Out(const unsigned short* text, char* buffer, size_t capacity, int16_t* outLen) {
  return ToUtf8OutT(text, buffer, capacity, outLen);
}

// ---- UTF-8 to UTF-16 ----------------------------------------------------------

size_t Utf8CharCount(const char* text, int64_t n) {
  if (!text || text[0] == 0) return 0;
  if (n != TEXT_NTS && n < 0) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t end = n == TEXT_NTS ? kUnbounded : static_cast<size_t>(n);
  size_t count = 0;
  for (size_t i = 0; i < end; ++i) {
    unsigned b = p[i];
    if (n == TEXT_NTS && b == 0) break;
    if ((b & 0xC0) != 0x80) ++count;
    if (b >= 0xF0 && b <= 0xF4) ++count;  // a supplementary character takes two units
  }
  return count;
}

size_t Utf8ToUcs2N(const char* text, char16_t* buffer, size_t maxUnits) {
  return Utf8ToUcs2NT(text, buffer, maxUnits);
}
size_t Utf8ToUcs2N(const char* text, unsigned short* buffer, size_t maxUnits) {
  return Utf8ToUcs2NT(text, buffer, maxUnits);
}

size_t Utf8ToUcs2Counted(const char* text, char16_t* buffer, size_t maxBytes, size_t maxUnits,
                         size_t* bytesConsumed) {
  if (!text || !buffer) {
    if (bytesConsumed) *bytesConsumed = 0;
    return 0;
  }
  return Decode(text, maxBytes, false, false, buffer, maxUnits, bytesConsumed);
}

char16_t* Utf8ToUcs2Dup(const char* text) { return Utf8ToUcs2DupT<char16_t>(text); }
unsigned short* Utf8ToUcs2DupW(const char* text) { return Utf8ToUcs2DupT<unsigned short>(text); }

char16_t* Utf8ToUcs2DupN(const char* text, int64_t n) {
  if (!text) return nullptr;
  if (n == TEXT_NTS) return Utf8ToUcs2Dup(text);
  if (n < 0) n = 0;
  size_t count = Utf8CharCount(text, n);
  char16_t* out = AllocUnits<char16_t>(count + 1);
  if (!out) return nullptr;
  Decode(text, static_cast<size_t>(n), false, false, out, count, nullptr);
  return out;
}

int Utf8ToUcs2OutChars(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen) {
  if (!text || !buffer) return -1;
  if (capacity == 0) {
    if (outLen) *outLen = 0;
    return -1;
  }
  size_t count = Utf8CharCount(text, TEXT_NTS);
  size_t units = Decode(text, kUnbounded, true, false, buffer, capacity - 1, nullptr);
  buffer[units] = 0;
  if (outLen) *outLen = Sat16(units);
  return count + 1 <= capacity ? 0 : -1;
}

int Utf8ToUcs2OutBytes(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen) {
  if (!text) return -1;
  size_t count = Utf8CharCount(text, TEXT_NTS);
  if (outLen) *outLen = Sat16(count);
  if (!buffer) return 0;
  size_t room = capacity / 2;
  if (room >= count + 1) {
    size_t units = Decode(text, kUnbounded, true, false, buffer, count, nullptr);
    buffer[units] = 0;
    return 0;
  }
  if (room >= 1) {
    size_t units = Decode(text, kUnbounded, true, false, buffer, room - 1, nullptr);
    buffer[units] = 0;
  }
  return -1;
}

char16_t* Utf8ToUcs2CopyN(char16_t* buffer, const char* text, size_t capacity) {
  if (!text || !buffer || capacity == 0) return buffer;
  size_t units = Decode(text, kUnbounded, true, false, buffer, capacity - 1, nullptr);
  buffer[units] = 0;
  return buffer;
}

char16_t* Utf8ToUcs2Copy(char16_t* buffer, const char* text) {
  if (!text || !buffer) return buffer;
  size_t units = Decode(text, kUnbounded, true, false, buffer, kUnbounded, nullptr);
  buffer[units] = 0;
  return buffer;
}

size_t Ucs2Len(const char16_t* text) { return LenT(text); }

// ---- the ANSI code page ------------------------------------------------------------

char* Ucs2ToAcpDupN(const char16_t* text, int64_t n) { return ToUtf8DupNT(text, n); }
char* Ucs2ToAcpDup(const char16_t* text) { return ToUtf8DupNT(text, TEXT_NTS); }

char16_t* Ucs2FromAcpDupN(const char* text, int64_t n) {
  if (!text) return nullptr;
  size_t bytes = n == TEXT_NTS ? strlen(text) : n < 0 ? 0 : static_cast<size_t>(n);
  if (bytes == kUnbounded) return nullptr;
  // Every byte gives at most one unit: a four-byte sequence gives two.
  char16_t* out = AllocUnits<char16_t>(bytes + 1);
  if (!out) return nullptr;
  Decode(text, bytes, false, true, out, bytes, nullptr);
  return out;
}

int Ucs2FromAcpOutBytes(const char* text, char16_t* buffer, size_t capacity, int16_t* outLen) {
  if (!text) return -1;
  size_t units = AcpUnits(text, kUnbounded, true);
  if (outLen) *outLen = Sat16(units > kUnbounded / 2 ? kUnbounded : units * 2);
  if (!buffer) return 0;
  size_t room = capacity / 2;
  if (units + 1 <= room) {
    Decode(text, kUnbounded, true, true, buffer, units, nullptr);
    buffer[units] = 0;
    return 0;
  }
  if (room >= 1) {
    size_t got = Decode(text, kUnbounded, true, true, buffer, room - 1, nullptr);
    buffer[got] = 0;
  }
  return -1;
}

char16_t* Ucs2FromAcpCopy(char16_t* buffer, const char* text) {
  if (!text || !buffer) return buffer;
  size_t units = Decode(text, kUnbounded, true, true, buffer, kUnbounded, nullptr);
  buffer[units] = 0;
  return buffer;
}

char16_t* Ucs2FromAcpCopyN(char16_t* buffer, const char* text, size_t capacity) {
  if (!text || !buffer) return buffer;
  size_t units = AcpUnits(text, kUnbounded, true);
  if (units + 1 <= capacity) {
    Decode(text, kUnbounded, true, true, buffer, units, nullptr);
    buffer[units] = 0;
    return buffer;
  }
  size_t got = Decode(text, kUnbounded, true, true, buffer, capacity, nullptr);
  for (size_t k = got; k < capacity; ++k) buffer[k] = 0;
  return buffer;
}

char* Ucs2ToAcpCopyN(char* buffer, const char16_t* text, size_t capacity) {
  if (!text || !buffer) return buffer;
  size_t bytes = Utf8LenT(text, TEXT_NTS);
  if (bytes + 1 <= capacity) {
    Encode(text, kUnbounded, true, buffer, bytes, nullptr);
    buffer[bytes] = 0;
    return buffer;
  }
  size_t got = Encode(text, kUnbounded, true, buffer, capacity, nullptr);
  for (size_t k = got; k < capacity; ++k) buffer[k] = 0;
  return buffer;
}

char* Utf8FromAcp(char* buffer, const char* text, size_t capacity) {
  if (!text || !buffer) return buffer;
  char16_t* wide = Ucs2FromAcpDupN(text, TEXT_NTS);
  if (!wide) return buffer;
  if (capacity > 0) {
    size_t bytes = Encode(wide, kUnbounded, true, buffer, capacity - 1, nullptr);
    buffer[bytes] = 0;
  }
  free(wide);
  return buffer;
}

size_t Utf8CharBoundary(const char* text, size_t n) { return text ? Utf8Cut(text, n) : 0; }
size_t Ucs2CharBoundary(const char16_t* text, size_t n) { return text ? Utf16Cut(text, n) : 0; }

// ---- copy-out --------------------------------------------------------------------

int StrCopyOut(const char* text, char* buffer, uint16_t capacity, uint16_t* outLen) {
  if (!text || !buffer || capacity == 0) return -1;
  size_t len = strlen(text);
  if (len + 1 <= capacity) {
    memcpy(buffer, text, len + 1);
    if (outLen) *outLen = SatU16(len);
    return 0;
  }
  size_t cut = Utf8Cut(text, capacity - 1u);
  memcpy(buffer, text, cut);
  buffer[cut] = 0;
  if (outLen) *outLen = SatU16(cut);
  return -1;
}

int StrCopyOutLen(const char* text, char* buffer, uint16_t capacity, int16_t* outLen) {
  if (!text) return -1;
  size_t len = strlen(text);
  if (outLen) *outLen = Sat16(len);
  if (!buffer) return 0;
  if (len + 1 <= capacity) {
    memcpy(buffer, text, len + 1);
    return 0;
  }
  if (capacity > 0) {
    size_t cut = Utf8Cut(text, capacity - 1u);
    memcpy(buffer, text, cut);
    buffer[cut] = 0;
  }
  return -1;
}

int Ucs2CopyOut(const char16_t* text, char16_t* buffer, uint16_t capacity, uint16_t* outLen) {
  if (!text || !buffer || capacity == 0) return -1;
  size_t len = LenT(text);
  if (len + 1 <= capacity) {
    memcpy(buffer, text, (len + 1) * sizeof(char16_t));
    if (outLen) *outLen = SatU16(len);
    return 0;
  }
  size_t cut = Utf16Cut(text, capacity - 1u);
  memcpy(buffer, text, cut * sizeof(char16_t));
  buffer[cut] = 0;
  if (outLen) *outLen = SatU16(cut);
  return -1;
}

int Ucs2CopyOutLen(const char16_t* text, char16_t* buffer, uint16_t capacity, int16_t* outLen) {
  if (!text) return -1;
  size_t len = LenT(text);
  if (outLen) *outLen = Sat16(len);
  if (!buffer) return 0;
  if (len + 1 <= capacity) {
    memcpy(buffer, text, (len + 1) * sizeof(char16_t));
    return 0;
  }
  if (capacity > 0) {
    size_t cut = Utf16Cut(text, capacity - 1u);
    memcpy(buffer, text, cut * sizeof(char16_t));
    buffer[cut] = 0;
  }
  return -1;
}

}  // namespace kx
