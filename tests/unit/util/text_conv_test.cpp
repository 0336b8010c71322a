// UTF-16 <-> UTF-8 conversion and the copy-out helpers.
#include "util/text_conv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kx {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
template <class T>
using Heap = std::unique_ptr<T, FreeDeleter>;

std::string Bytes(const char* s, size_t n) { return std::string(s, n); }

// U+0041, U+00E9, U+20AC, U+1F600 (a surrogate pair), U+10FFFF.
const char16_t kMixed16[] = {0x0041, 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0};
const char kMixed8[] = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
const char16_t* const kNoText16 = nullptr;

TEST(Utf16ToUtf8, EncodesEachCharacterOnce) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"\u00E9", "\xC3\xA9"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},  // a pair becomes one four-byte sequence
      {u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {std::u16string(1, char16_t(0xD83D)) + u"x", "\xEF\xBF\xBDx"},   // lone high surrogate
      {std::u16string(1, char16_t(0xDE00)) + u"x", "\xEF\xBF\xBDx"},   // lone low surrogate
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(Ucs2Utf8Len(c.in.c_str(), TEXT_NTS), c.out.size());
    Heap<char> dup(Ucs2ToUtf8Dup(c.in.c_str()));
    ASSERT_TRUE(dup);
    EXPECT_EQ(std::string(dup.get()), c.out);
  }
  EXPECT_EQ(Ucs2Utf8Len(kMixed16, TEXT_NTS), strlen(kMixed8));
  Heap<char> dup(Ucs2ToUtf8Dup(kMixed16));
  EXPECT_STREQ(dup.get(), kMixed8);
}

TEST(Utf16ToUtf8, CountedLengthsAndNul) {
  EXPECT_EQ(Ucs2Utf8Len(kMixed16, 3), 6u);
  EXPECT_EQ(Ucs2Utf8Len(kMixed16, 5), 10u);
  EXPECT_EQ(Ucs2Utf8Len(kMixed16, 0), 0u);
  EXPECT_EQ(Ucs2Utf8Len(kMixed16, -1), 0u);
  EXPECT_EQ(Ucs2Utf8Len(kNoText16, TEXT_NTS), 0u);
  const char16_t withNul[] = {u'a', 0, u'b', 0};
  EXPECT_EQ(Ucs2Utf8Len(withNul, 3), 3u);  // the NUL unit counts one byte

  Heap<char> d(Ucs2ToUtf8DupN(withNul, 3));
  ASSERT_TRUE(d);
  EXPECT_EQ(Bytes(d.get(), 4), std::string("a\0b\0", 4));
  Heap<char> zero(Ucs2ToUtf8DupN(kMixed16, 0));
  Heap<char> nullData(Ucs2ToUtf8DupN(kMixed16, -1));
  ASSERT_TRUE(zero && nullData);
  EXPECT_STREQ(zero.get(), "");
  EXPECT_STREQ(nullData.get(), "");
  Heap<char> nts(Ucs2ToUtf8DupN(kMixed16, TEXT_NTS));
  EXPECT_STREQ(nts.get(), kMixed8);
  // A count that ends inside a pair leaves its first half alone: U+FFFD.
  Heap<char> half(Ucs2ToUtf8DupN(kMixed16, 4));
  EXPECT_STREQ(half.get(), "A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBD");
  EXPECT_EQ(Ucs2ToUtf8DupN(nullptr, 2), nullptr);
}

TEST(Utf16ToUtf8, BufferStopsBeforeACharacterThatDoesNotFit) {
  char buf[16];
  memset(buf, 'z', sizeof buf);
  // 1 + 2 + 3 bytes fit in 9; the pair needs 4 more.
  EXPECT_EQ(Ucs2ToUtf8Buf(kMixed16, buf, 9), 6u);
  EXPECT_EQ(buf[6], 'z');  // no terminator
  EXPECT_EQ(Ucs2ToUtf8Buf(kMixed16, buf, 10), 10u);
  EXPECT_EQ(Ucs2ToUtf8Buf(kNoText16, buf, 10), 0u);

  size_t used = 99;
  EXPECT_EQ(Ucs2ToUtf8N(kMixed16, buf, 7, 9, &used), 6u);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(Ucs2ToUtf8N(kMixed16, buf, 5, 100, &used), 10u);
  EXPECT_EQ(used, 5u);
  const char16_t nul[] = {u'x', 0, u'y'};
  EXPECT_EQ(Ucs2ToUtf8N(nul, buf, 3, 16, &used), 3u);
  EXPECT_EQ(Bytes(buf, 3), std::string("x\0y", 3));
}

TEST(Utf16ToUtf8, OutCutsAtCharacters) {
  const char16_t euros[] = {0x20AC, 0x20AC, 0};
  char buf[8];
  int16_t len = -1;
  EXPECT_EQ(Ucs2ToUtf8Out(euros, buf, 6, &len), -1);
  EXPECT_EQ(len, 3);
  EXPECT_STREQ(buf, "\xE2\x82\xAC");
  EXPECT_EQ(Ucs2ToUtf8Out(euros, buf, 7, &len), 0);
  EXPECT_EQ(len, 6);
  EXPECT_STREQ(buf, "\xE2\x82\xAC\xE2\x82\xAC");

  // A pair is never cut in half: with room for 3 bytes of it nothing goes.
  const char16_t smile[] = {u'a', 0xD83D, 0xDE00, 0};
  EXPECT_EQ(Ucs2ToUtf8Out(smile, buf, 5, &len), -1);
  EXPECT_EQ(len, 1);
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(Ucs2ToUtf8Out(smile, buf, 6, &len), 0);
  EXPECT_EQ(len, 5);

  memset(buf, 'z', sizeof buf);
  EXPECT_EQ(Ucs2ToUtf8Out(euros, buf, 0, &len), -1);
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(Ucs2ToUtf8Out(kNoText16, buf, 8, &len), -1);
  EXPECT_EQ(Ucs2ToUtf8Out(euros, nullptr, 8, &len), -1);
}

TEST(Utf8ToUtf16, DecodesSupplementaryCharactersToPairs) {
  char16_t buf[16];
  size_t n = Utf8ToUcs2N("\xF0\x9F\x98\x80", buf, 16);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(buf[0], 0xD83D);
  EXPECT_EQ(buf[1], 0xDE00);

  EXPECT_EQ(Utf8CharCount(kMixed8, TEXT_NTS), 7u);  // units, a pair counting two
  Heap<char16_t> dup(Utf8ToUcs2Dup(kMixed8));
  ASSERT_TRUE(dup);
  EXPECT_EQ(std::u16string(dup.get()), std::u16string(kMixed16));
  // Round trip through both directions.
  Heap<char> back(Ucs2ToUtf8Dup(dup.get()));
  EXPECT_STREQ(back.get(), kMixed8);

  // Only whole characters within the unit limit: the pair needs two.
  EXPECT_EQ(Utf8ToUcs2N("a\xF0\x9F\x98\x80", buf, 2), 1u);
}

TEST(Utf8ToUtf16, InvalidInputStopsDecoding) {
  struct Case {
    const char* in;
    size_t units;  // decoded before the stop
  } cases[] = {
      {"a\x80" "b", 1},           // stray continuation byte
      {"a\xC3", 1},               // cut sequence
      {"a\xC3" "b", 1},           // lead byte without continuation
      {"a\xC0\xAF", 1},           // overlong '/'
      {"a\xE0\x80\xAF", 1},       // overlong three-byte
      {"a\xED\xA0\x80", 1},       // encoded surrogate
      {"a\xF4\x90\x80\x80", 1},   // above U+10FFFF
      {"a\xF8\x88\x80\x80\x80", 1},
      {"ab\xFF", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    char16_t buf[8] = {};
    EXPECT_EQ(Utf8ToUcs2N(c.in, buf, 8), c.units);
    EXPECT_EQ(buf[0], u'a');
    // The sizing count never falls below what is decoded.
    EXPECT_GE(Utf8CharCount(c.in, TEXT_NTS), c.units);
    Heap<char16_t> dup(Utf8ToUcs2Dup(c.in));
    ASSERT_TRUE(dup);
    EXPECT_EQ(Ucs2Len(dup.get()), c.units);
  }
}

TEST(Utf8ToUtf16, CountedDecoding) {
  char16_t buf[8];
  size_t used = 0;
  // NUL bytes are characters; a sequence running past the byte limit stops it.
  EXPECT_EQ(Utf8ToUcs2Counted("a\0\xC3\xA9", buf, 3, 8, &used), 2u);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(Utf8ToUcs2Counted("a\0\xC3\xA9", buf, 4, 8, &used), 3u);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[2], 0xE9);
  EXPECT_EQ(Utf8ToUcs2Counted("a\x80z", buf, 3, 8, &used), 1u);
  EXPECT_EQ(used, 1u);

  EXPECT_EQ(Utf8CharCount("", 5), 0u);
  EXPECT_EQ(Utf8CharCount("\0abc", 4), 0u);
  EXPECT_EQ(Utf8CharCount("ab\0c", 4), 4u);
  EXPECT_EQ(Utf8CharCount("\xC3\xA9\xC3\xA9", 2), 1u);

  Heap<char16_t> d(Utf8ToUcs2DupN("\xC3\xA9xyz", 3));
  ASSERT_TRUE(d);
  EXPECT_EQ(std::u16string(d.get()), u"\u00E9x");
  Heap<char16_t> nts(Utf8ToUcs2DupN("\xC3\xA9xyz", TEXT_NTS));
  EXPECT_EQ(std::u16string(nts.get()), u"\u00E9xyz");
}

TEST(Utf8ToUtf16, OutCharsAndOutBytes) {
  char16_t buf[8];
  int16_t len = -1;
  // Five characters, the last one a pair (six units).
  const char* text = "abcd\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8ToUcs2OutChars(text, buf, 7, &len), 0);
  EXPECT_EQ(len, 6);
  EXPECT_EQ(Utf8ToUcs2OutChars(text, buf, 6, &len), -1);
  EXPECT_EQ(len, 4);  // the pair does not fit in 5 units: never half of it
  EXPECT_EQ(std::u16string(buf), u"abcd");
  EXPECT_EQ(Utf8ToUcs2OutChars(text, buf, 0, &len), -1);
  EXPECT_EQ(Utf8ToUcs2OutChars(nullptr, buf, 8, &len), -1);

  EXPECT_EQ(Utf8ToUcs2OutBytes("abcde", buf, 8, &len), -1);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(Utf8ToUcs2OutBytes("abcde", nullptr, 8, &len), 0);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(Utf8ToUcs2OutBytes("abcde", buf, 12, &len), 0);
  EXPECT_EQ(std::u16string(buf), u"abcde");
  buf[0] = u'z';
  EXPECT_EQ(Utf8ToUcs2OutBytes("abcde", buf, 1, &len), -1);  // no room for anything
  EXPECT_EQ(buf[0], u'z');
  EXPECT_EQ(Utf8ToUcs2OutBytes(nullptr, buf, 8, &len), -1);
}

TEST(Utf8ToUtf16, CopyAndCopyN) {
  char16_t buf[8];
  for (auto& u : buf) u = u'z';
  EXPECT_EQ(Utf8ToUcs2CopyN(buf, "abcdef", 4), buf);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(Utf8ToUcs2CopyN(buf, "a\xF0\x9F\x98\x80", 3), buf);
  EXPECT_EQ(std::u16string(buf), u"a");
  EXPECT_EQ(Utf8ToUcs2CopyN(buf, "ab", 3), buf);
  EXPECT_EQ(std::u16string(buf), u"ab");
  buf[0] = u'q';
  Utf8ToUcs2CopyN(buf, "ab", 0);
  Utf8ToUcs2CopyN(buf, nullptr, 8);
  EXPECT_EQ(buf[0], u'q');
  Utf8ToUcs2Copy(buf, kMixed8);
  EXPECT_EQ(std::u16string(buf), std::u16string(kMixed16));
  EXPECT_EQ(Ucs2Len(kMixed16), 7u);
  EXPECT_EQ(Ucs2Len(nullptr), 0u);
}

TEST(AnsiCodePage, IsUtf8WithReplacement) {
  Heap<char> a(Ucs2ToAcpDup(kMixed16));
  EXPECT_STREQ(a.get(), kMixed8);  // sized for the bytes, not one per unit
  Heap<char> n(Ucs2ToAcpDupN(kMixed16, 3));
  EXPECT_STREQ(n.get(), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Ucs2ToAcpDup(nullptr), nullptr);

  Heap<char16_t> w(Ucs2FromAcpDupN(kMixed8, TEXT_NTS));
  EXPECT_EQ(std::u16string(w.get()), std::u16string(kMixed16));
  // Invalid bytes become U+FFFD and the conversion goes on.
  Heap<char16_t> bad(Ucs2FromAcpDupN("a\x80" "b\xE2\x82" "c\xFF", TEXT_NTS));
  EXPECT_EQ(std::u16string(bad.get()), u"a\uFFFDb\uFFFDc\uFFFD");
  Heap<char16_t> counted(Ucs2FromAcpDupN("x\xC3\xA9yz", 3));
  EXPECT_EQ(std::u16string(counted.get()), u"x\u00E9");
  EXPECT_EQ(Ucs2FromAcpDupN(nullptr, 3), nullptr);
}

TEST(AnsiCodePage, OutBytesCountsUnits) {
  char16_t buf[8];
  int16_t len = 0;
  EXPECT_EQ(Ucs2FromAcpOutBytes("h\xC3\xA9llo", buf, 16, &len), 0);
  EXPECT_EQ(len, 10);  // 2 x 5 units, not 2 x 6 bytes
  EXPECT_EQ(std::u16string(buf), u"h\u00E9llo");
  EXPECT_EQ(Ucs2FromAcpOutBytes("h\xC3\xA9llo", buf, 8, &len), -1);
  EXPECT_EQ(std::u16string(buf), u"h\u00E9l");
  EXPECT_EQ(Ucs2FromAcpOutBytes("h\xC3\xA9llo", nullptr, 8, &len), 0);
  EXPECT_EQ(len, 10);
  EXPECT_EQ(Ucs2FromAcpOutBytes("a\xF0\x9F\x98\x80", buf, 6, &len), -1);
  EXPECT_EQ(std::u16string(buf), u"a");
  EXPECT_EQ(Ucs2FromAcpOutBytes(nullptr, buf, 8, &len), -1);

  Ucs2FromAcpCopy(buf, "\xE2\x82\xAC!");
  EXPECT_EQ(std::u16string(buf), u"\u20AC!");
}

TEST(AnsiCodePage, FixedWidthCopiesFillWithoutTerminatorWhenCut) {
  char16_t w[4];
  Ucs2FromAcpCopyN(w, "ab", 4);
  EXPECT_EQ(std::u16string(w), u"ab");
  Ucs2FromAcpCopyN(w, "abcdef", 4);
  EXPECT_EQ(std::u16string(w, 4), u"abcd");
  Ucs2FromAcpCopyN(w, "abc\xF0\x9F\x98\x80", 4);  // the pair does not fit in the last unit
  EXPECT_EQ(std::u16string(w, 4), std::u16string(u"abc\0", 4));

  char b[4];
  Ucs2ToAcpCopyN(b, u"ab", 4);
  EXPECT_STREQ(b, "ab");
  Ucs2ToAcpCopyN(b, u"a\u20AC", 4);
  EXPECT_EQ(Bytes(b, 4), "a\xE2\x82\xAC");
  Ucs2ToAcpCopyN(b, u"ab\u20AC", 4);
  EXPECT_EQ(Bytes(b, 4), std::string("ab\0\0", 4));
}

TEST(AnsiCodePage, Utf8FromAcp) {
  char buf[8];
  EXPECT_EQ(Utf8FromAcp(buf, "x\xC3\xA9", 8), buf);
  EXPECT_STREQ(buf, "x\xC3\xA9");
  Utf8FromAcp(buf, "x\xC3\xA9", 3);  // the two-byte character needs 2 of the 2 left
  EXPECT_STREQ(buf, "x");
  Utf8FromAcp(buf, "a\x80", 8);
  EXPECT_STREQ(buf, "a\xEF\xBF\xBD");
  strcpy(buf, "keep");
  Utf8FromAcp(buf, "zz", 0);
  Utf8FromAcp(buf, nullptr, 8);
  EXPECT_STREQ(buf, "keep");
}

TEST(CopyOut, NarrowText) {
  char buf[8];
  uint16_t ulen = 0;
  EXPECT_EQ(StrCopyOut("abcd", buf, 4, &ulen), -1);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(ulen, 3);
  EXPECT_EQ(StrCopyOut("abcd", buf, 5, &ulen), 0);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(ulen, 4);
  // A cut never ends inside a UTF-8 sequence.
  EXPECT_EQ(StrCopyOut("a\xE2\x82\xAC", buf, 3, &ulen), -1);
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(ulen, 1);
  buf[0] = 'z';
  EXPECT_EQ(StrCopyOut("abcd", buf, 0, &ulen), -1);
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(StrCopyOut(nullptr, buf, 5, &ulen), -1);

  int16_t len = 0;
  EXPECT_EQ(StrCopyOutLen("abcd", nullptr, 0, &len), 0);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(StrCopyOutLen("abcd", buf, 3, &len), -1);
  EXPECT_EQ(len, 4);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(StrCopyOutLen("\xC3\xA9\xC3\xA9", buf, 4, &len), -1);
  EXPECT_STREQ(buf, "\xC3\xA9");
  EXPECT_EQ(StrCopyOutLen(nullptr, buf, 3, &len), -1);
  // A length beyond 16 bits saturates instead of wrapping negative.
  std::string big(40000, 'x');
  EXPECT_EQ(StrCopyOutLen(big.c_str(), nullptr, 0, &len), 0);
  EXPECT_EQ(len, 32767);
}

TEST(CopyOut, WideText) {
  char16_t buf[8];
  uint16_t ulen = 0;
  EXPECT_EQ(Ucs2CopyOut(u"abcd", buf, 4, &ulen), -1);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(ulen, 3);
  EXPECT_EQ(Ucs2CopyOut(u"abcd", buf, 5, &ulen), 0);
  EXPECT_EQ(ulen, 4);
  EXPECT_EQ(Ucs2CopyOut(u"ab\U0001F600", buf, 4, &ulen), -1);
  EXPECT_EQ(std::u16string(buf), u"ab");
  EXPECT_EQ(ulen, 2);
  int16_t len = 0;
  EXPECT_EQ(Ucs2CopyOutLen(u"ab\U0001F600", nullptr, 0, &len), 0);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(Ucs2CopyOutLen(u"ab\U0001F600", buf, 4, &len), -1);
  EXPECT_EQ(std::u16string(buf), u"ab");
}

TEST(Boundaries, NeverSplitACharacter) {
  EXPECT_EQ(Utf8CharBoundary("a\xF0\x9F\x98\x80z", 1), 1u);
  EXPECT_EQ(Utf8CharBoundary("a\xF0\x9F\x98\x80z", 3), 1u);
  EXPECT_EQ(Utf8CharBoundary("a\xF0\x9F\x98\x80z", 5), 5u);
  EXPECT_EQ(Utf8CharBoundary("\x80\x80\x80\x80\x80", 4), 4u);  // not UTF-8: cut where asked
  EXPECT_EQ(Ucs2CharBoundary(u"a\U0001F600", 2), 1u);
  EXPECT_EQ(Ucs2CharBoundary(u"a\U0001F600", 1), 1u);
}

TEST(UnsignedShortUnits, BehaveAsChar16) {
  const unsigned short w[] = {0x41, 0xD83D, 0xDE00, 0};
  EXPECT_EQ(Ucs2Utf8Len(w, TEXT_NTS), 5u);
  Heap<char> d(Ucs2ToUtf8Dup(w));
  EXPECT_STREQ(d.get(), "A\xF0\x9F\x98\x80");
  char buf[8];
  int16_t len = 0;
  EXPECT_EQ(Ucs2ToUtf8Out(w, buf, 5, &len), -1);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(Ucs2ToUtf8Buf(w, buf, 8), 5u);
  unsigned short out[4];
  EXPECT_EQ(Utf8ToUcs2N("A\xF0\x9F\x98\x80", out, 4), 3u);
  EXPECT_EQ(out[1], 0xD83D);
  Heap<unsigned short> dw(Utf8ToUcs2DupW("\xC3\xA9"));
  ASSERT_TRUE(dw);
  EXPECT_EQ(dw.get()[0], 0xE9);
  EXPECT_EQ(dw.get()[1], 0);
}

}  // namespace
}  // namespace kx
