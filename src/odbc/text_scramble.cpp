// Text scrambling: UTF-8 bytes XOR a keystream, written in hexadecimal.
#include "odbc/text_scramble.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/text_conv.h"

namespace kx {

namespace {

// A fixed xorshift32 stream: both directions start from the same seed.
class KeyStream {
 public:
  uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<uint8_t>(state_ >> 24);
  }

 private:
  uint32_t state_ = 0x2545F491u;
};

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(unsigned c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return 0;
}

std::string Scramble(const char* utf8) {
  std::string out(1, kScrambleMarker);
  KeyStream keys;
  for (const char* p = utf8; *p != '\0'; ++p) {
    uint8_t b = static_cast<uint8_t>(*p) ^ keys.Next();
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

// The bytes behind the digits of a scrambled text of n characters.
template <class Ch>
std::string Unscramble(const Ch* text, size_t n) {
  std::string out;
  KeyStream keys;
  for (size_t i = 1; i + 1 < n; i += 2) {
    int b = HexValue(static_cast<unsigned>(text[i])) * 16 + HexValue(static_cast<unsigned>(text[i + 1]));
    out += static_cast<char>(static_cast<uint8_t>(b) ^ keys.Next());
  }
  return out;
}

template <class Ch>
bool Scrambled(const Ch* text, size_t n) {
  return text != nullptr && n > 1 && text[0] == static_cast<Ch>(kScrambleMarker);
}

}  // namespace

char* ScrambleText(const char* text) {
  if (text == nullptr) return nullptr;
  return strdup(Scramble(text).c_str());
}

char16_t* ScrambleTextW(const char16_t* text) {
  if (text == nullptr) return nullptr;
  char* utf8 = Ucs2ToUtf8Dup(text);
  if (utf8 == nullptr) return nullptr;
  std::string scrambled = Scramble(utf8);
  free(utf8);
  return Utf8ToUcs2Dup(scrambled.c_str());
}

char* UnscrambleText(const char* text) {
  size_t n = text != nullptr ? strlen(text) : 0;
  if (!Scrambled(text, n)) return nullptr;
  return strdup(Unscramble(text, n).c_str());
}

char16_t* UnscrambleTextW(const char16_t* text) {
  size_t n = Ucs2Len(text);
  if (!Scrambled(text, n)) return nullptr;
  return Utf8ToUcs2Dup(Unscramble(text, n).c_str());
}

}  // namespace kx
