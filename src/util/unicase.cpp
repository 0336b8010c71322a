// Simple Unicode case mapping of code points and of UTF-8 text (see unicase.h).
#include <cstdlib>
#include <cstring>

#include "util/text_conv.h"
#include "util/unicase.h"

namespace kx {

int32_t CaseMapDelta(const CaseMapEntry* table, size_t count, uint32_t codePoint) {
  if (!table) return 0;
  size_t first = 0, end = count;  // search [first, end)
  while (first < end) {
    size_t middle = first + (end - first) / 2;
    if (table[middle].codePoint == codePoint) return table[middle].delta;
    if (codePoint < table[middle].codePoint)
      end = middle;
    else
      first = middle + 1;
  }
  return 0;
}

uint32_t UnicodeUpper(uint32_t codePoint) {
  return codePoint +
         static_cast<uint32_t>(CaseMapDelta(UpperCaseMap, UpperCaseMapCount, codePoint));
}

uint32_t UnicodeLower(uint32_t codePoint) {
  return codePoint +
         static_cast<uint32_t>(CaseMapDelta(LowerCaseMap, LowerCaseMapCount, codePoint));
}

// No entry of the tables maps a character of the Basic Multilingual Plane out
// of it or onto a surrogate, so a unit maps to a unit.
char16_t Ucs2Upper(char16_t unit) { return static_cast<char16_t>(UnicodeUpper(unit)); }
char16_t Ucs2Lower(char16_t unit) { return static_cast<char16_t>(UnicodeLower(unit)); }

namespace {

// Decodes through a 16-bit copy (text that is not valid UTF-8 is left as it
// is), maps whole characters (a surrogate pair is
// mapped as its code point: the tables hold Deseret letters) and encodes the
// result back within capacity - 1 bytes.
char* MapUtf8(char* text, size_t capacity, uint32_t (*map)(uint32_t)) {
  if (!text || capacity == 0) return text;
  size_t len = strlen(text);
  size_t count = Utf8CharCount(text, static_cast<int64_t>(len));
  char16_t* wide = static_cast<char16_t*>(calloc(count + 1, sizeof(char16_t)));
  if (!wide) return text;
  size_t consumed = 0;
  Utf8ToUcs2Counted(text, wide, len, count, &consumed);
  if (consumed != len) {  // not UTF-8: leave it alone rather than cut it
    free(wide);
    return text;
  }
  for (size_t i = 0; wide[i]; ++i) {
    char16_t u = wide[i];
    if (u >= 0xD800 && u <= 0xDBFF && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      uint32_t cp = 0x10000 + ((uint32_t{u} - 0xD800) << 10) + (uint32_t{wide[i + 1]} - 0xDC00);
      uint32_t m = map(cp);
      if (m >= 0x10000 && m <= 0x10FFFF) {
        wide[i] = static_cast<char16_t>(0xD800 + ((m - 0x10000) >> 10));
        wide[i + 1] = static_cast<char16_t>(0xDC00 + ((m - 0x10000) & 0x3FF));
      }
      ++i;
    } else if (u < 0xD800 || u > 0xDFFF) {
      uint32_t m = map(u);
      if (m < 0x10000 && (m < 0xD800 || m > 0xDFFF)) wide[i] = static_cast<char16_t>(m);
    }
  }
  size_t bytes = Ucs2ToUtf8Buf(wide, text, capacity - 1);
  text[bytes] = 0;
  free(wide);
  return text;
}

}  // namespace

char* Utf8Upper(char* text, size_t capacity) { return MapUtf8(text, capacity, UnicodeUpper); }
char* Utf8Lower(char* text, size_t capacity) { return MapUtf8(text, capacity, UnicodeLower); }

}  // namespace kx
