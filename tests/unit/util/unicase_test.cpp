// Simple Unicode case mapping without the process locale.
#include "util/unicase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kx {
namespace {

TEST(CaseTables, HoldTheSimpleMappingsOfUnicode32) {
  EXPECT_EQ(UpperCaseMapCount, 759u);
  EXPECT_EQ(LowerCaseMapCount, 749u);
  EXPECT_EQ(UpperCaseMap[0].codePoint, 0x61u);
  EXPECT_EQ(UpperCaseMap[UpperCaseMapCount - 1].codePoint, 0x1044Du);
  EXPECT_EQ(LowerCaseMap[0].codePoint, 0x41u);
  EXPECT_EQ(LowerCaseMap[LowerCaseMapCount - 1].codePoint, 0x10425u);
  // The binary search needs strictly ascending code points; no entry is an
  // identity mapping.
  for (size_t i = 1; i < UpperCaseMapCount; ++i)
    ASSERT_LT(UpperCaseMap[i - 1].codePoint, UpperCaseMap[i].codePoint) << i;
  for (size_t i = 1; i < LowerCaseMapCount; ++i)
    ASSERT_LT(LowerCaseMap[i - 1].codePoint, LowerCaseMap[i].codePoint) << i;
  for (size_t i = 0; i < UpperCaseMapCount; ++i) ASSERT_NE(UpperCaseMap[i].delta, 0) << i;
  for (size_t i = 0; i < LowerCaseMapCount; ++i) ASSERT_NE(LowerCaseMap[i].delta, 0) << i;
}

TEST(CaseTables, SearchFindsEveryEntryAndNothingElse) {
  for (size_t i = 0; i < UpperCaseMapCount; ++i)
    ASSERT_EQ(CaseMapDelta(UpperCaseMap, UpperCaseMapCount, UpperCaseMap[i].codePoint),
              UpperCaseMap[i].delta);
  EXPECT_EQ(CaseMapDelta(UpperCaseMap, UpperCaseMapCount, 0x40), 0);
  EXPECT_EQ(CaseMapDelta(UpperCaseMap, UpperCaseMapCount, 0x10FFFF), 0);
  EXPECT_EQ(CaseMapDelta(UpperCaseMap, 0, 0x61), 0);
}

TEST(UnitCaseMapping, ScriptsAndSpecialLetters) {
  struct Case {
    char16_t in, upper;
  } uppers[] = {
      {0x0061, 0x0041}, {0x00FF, 0x0178}, {0x0131, 0x0049}, {0x017F, 0x0053},
      {0x03C2, 0x03A3}, {0x03F2, 0x03A3}, {0x1F80, 0x1F88}, {0x00DF, 0x00DF},
      {0x0436, 0x0416},  // Cyrillic zhe
      {0x0561, 0x0531},  // Armenian ayb
      {0x24D0, 0x24B6},  // circled a
      {0x01C6, 0x01C4}, {0x01C5, 0x01C4},
      {0x4E2D, 0x4E2D},  // no case
      {0xD83D, 0xD83D},  // a surrogate unit stays
  };
  for (const Case& c : uppers) EXPECT_EQ(Ucs2Upper(c.in), c.upper) << std::hex << int(c.in);
  struct Case2 {
    char16_t in, lower;
  } lowers[] = {
      {0x0130, 0x0069}, {0x212A, 0x006B}, {0x212B, 0x00E5}, {0x2126, 0x03C9},
      {0x01C5, 0x01C6}, {0x0041, 0x0061}, {0x0394, 0x03B4},
      {0x10A0, 0x10A0},  // Georgian capital: its lowercase letters came after 3.2
  };
  for (const Case2& c : lowers) EXPECT_EQ(Ucs2Lower(c.in), c.lower) << std::hex << int(c.in);
  EXPECT_EQ(UnicodeUpper(0x10428), 0x10400u);  // Deseret
  EXPECT_EQ(UnicodeLower(0x10400), 0x10428u);
}

std::string Upper(std::string s, size_t capacity = 0) {
  std::string buf = s;
  buf.resize(s.size() + 8, '\0');
  Utf8Upper(buf.data(), capacity ? capacity : buf.size());
  return std::string(buf.c_str());
}

std::string Lower(std::string s) {
  std::string buf = s;
  buf.push_back('\0');
  Utf8Lower(buf.data(), buf.size());
  return std::string(buf.c_str());
}

TEST(Utf8CaseMapping, InPlace) {
  EXPECT_EQ(Upper("stra\xC3\x9F" "e"), "STRA\xC3\x9F" "E");  // U+00DF has no simple uppercase
  EXPECT_EQ(Upper("\xCE\xB1\xCE\xB2\xCF\x82"), "\xCE\x91\xCE\x92\xCE\xA3");  // Greek
  EXPECT_EQ(Upper("\xD0\xBC\xD0\xB8\xD1\x80"), "\xD0\x9C\xD0\x98\xD0\xA0");  // Cyrillic
  EXPECT_EQ(Upper("a\xF0\x90\x90\xA8" "b"), "A\xF0\x90\x90\x80" "B");     // Deseret, a pair
  EXPECT_EQ(Upper("x\xF0\x9F\x98\x80y"), "X\xF0\x9F\x98\x80Y");           // no case: kept
  // The Kelvin sign lowers to a one-byte k: the text gets shorter in place.
  EXPECT_EQ(Lower("\xE2\x84\xAA" "ELVIN"), "kelvin");
  EXPECT_EQ(Lower("\xC4\xB0"), "i");
}

TEST(Utf8CaseMapping, CapacityKeepsWholeCharacters) {
  // "a" + U+00E9 + "b" upper-cased in a capacity of 3: "A" and the two bytes of
  // U+00C9 do not fit together with the terminator.
  char buf[8] = "a\xC3\xA9" "b";
  Utf8Upper(buf, 3);
  EXPECT_STREQ(buf, "A");
  char buf2[8] = "a\xC3\xA9" "b";
  Utf8Upper(buf2, 4);
  EXPECT_STREQ(buf2, "A\xC3\x89");
}

TEST(Utf8CaseMapping, TextThatIsNotUtf8IsLeftAlone) {
  char buf[8] = "ab\xFF" "cd";
  Utf8Upper(buf, sizeof buf);
  EXPECT_STREQ(buf, "ab\xFF" "cd");
  EXPECT_EQ(Utf8Upper(nullptr, 4), nullptr);
}

}  // namespace
}  // namespace kx
