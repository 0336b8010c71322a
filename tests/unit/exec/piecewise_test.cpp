// Reading a value in pieces (SQLGetData with a small buffer, again and again)
// must give back exactly the value read in one piece, for narrow, wide and
// binary sources into every text and binary target, whatever the buffer
// sizes. Each call continues where the converter says it stopped.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "util/errcodes.h"

namespace kx::test {
namespace {

std::string RandomUtf8(std::mt19937& rng, size_t chars) {
  static const char* const pieces[] = {"a", "Z", "7", " ", "\xC3\xA9", "\xD0\x96", "\xE2\x82\xAC",
                                       "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xF0\x90\x8D\x88"};
  std::string s;
  for (size_t i = 0; i < chars; ++i) s += pieces[rng() % std::size(pieces)];
  return s;
}

std::u16string RandomUtf16(std::mt19937& rng, size_t chars) {
  std::u16string s;
  for (size_t i = 0; i < chars; ++i) {
    switch (rng() % 6) {
      case 0: s += u"x"; break;
      case 1: s += u"\u00e9"; break;
      case 2: s += u"\u4e2d"; break;
      case 3: s += u"\U0001F600"; break;
      case 4: s += u"\U00010348"; break;
      default: s += (rng() % 8 == 0) ? u"\xD800" : u"q"; break;  // now and then a lone surrogate
    }
  }
  return s;
}

std::vector<unsigned char> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<unsigned char> b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// The bytes of the value that a call wrote (without terminator).
std::vector<unsigned char> Written(const Outcome& o, int32_t cType, int64_t bufferLength) {
  const auto& t = o.target;
  size_t n = 0;
  if (cType == SQL_C_CHAR) {
    while (n < t.size() && t[n] != 0) ++n;
  } else if (cType == SQL_C_WCHAR) {
    while (n + 1 < t.size() && (t[n] != 0 || t[n + 1] != 0)) n += 2;
  } else {
    n = o.rc == SQL_SUCCESS_WITH_INFO ? static_cast<size_t>(bufferLength) : static_cast<size_t>(o.outLen);
  }
  return {t.begin(), t.begin() + static_cast<long>(n)};
}

struct Combo {
  SourceView::Path path;
  int32_t cType;
  int64_t minBuffer;  // the smallest buffer that has room for one unit of text
};

void CheckPiecewise(const std::vector<unsigned char>& value, const Combo& combo, std::mt19937& rng) {
  SCOPED_TRACE("path " + std::to_string(combo.path) + " to C type " + std::to_string(combo.cType) +
               ", value of " + std::to_string(value.size()) + " bytes");
  const uint64_t total = value.size();
  const int64_t big = static_cast<int64_t>(8 * total + 16);
  const Request whole{combo.cType, big, static_cast<size_t>(big)};
  const Outcome oneShot = DeliverView(SourceView{value.data(), total, combo.path}, static_cast<int64_t>(total), whole);
  ASSERT_EQ(oneShot.rc, SQL_SUCCESS);
  const std::vector<unsigned char> expected = Written(oneShot, combo.cType, big);

  std::vector<unsigned char> joined;
  uint64_t offset = 0;
  uint32_t split = 0;
  for (int call = 0;; ++call) {
    ASSERT_LT(call, 10000) << "no progress";
    const uint64_t rest = total - offset;
    const SourceView view{value.data() + offset, rest, combo.path};
    // What the rest of the value is, read whole: its length is what each
    // piece must report.
    // less what earlier calls delivered of a character they split.
    const Outcome restWhole = DeliverView(view, static_cast<int64_t>(rest), whole);
    const int64_t b = combo.minBuffer + static_cast<int64_t>(rng() % 24);
    const uint32_t splitBefore = split;
    const Outcome o =
        DeliverView(view, static_cast<int64_t>(rest), Request{combo.cType, b, static_cast<size_t>(b)}, &split);
    ASSERT_TRUE(o.canariesIntact);
    const int64_t unit = combo.cType == SQL_C_WCHAR ? 2 : 1;
    ASSERT_EQ(o.outLen, restWhole.outLen - unit * splitBefore);
    const std::vector<unsigned char> w = Written(o, combo.cType, b);
    joined.insert(joined.end(), w.begin(), w.end());
    if (o.rc == SQL_SUCCESS) {
      ASSERT_EQ(offset + o.consumed, total);
      break;
    }
    ASSERT_EQ(o.rc, SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(o.err, KX_ERR_DATA_TRUNCATED);
    ASSERT_TRUE(o.consumed > 0 || split > splitBefore) << "no progress";
    ASSERT_LT(o.consumed, rest);  // the rest never wraps
    offset += o.consumed;
  }
  EXPECT_EQ(joined, expected);
}

TEST(Piecewise, PiecesConcatenateToTheWholeValue) {
  std::mt19937 rng(20261210);
  const Combo narrow[] = {{SourceView::TEXT, SQL_C_CHAR, 2}, {SourceView::TEXT, SQL_C_WCHAR, 4},
                          {SourceView::TEXT, SQL_C_BINARY, 1}};
  const Combo wide[] = {{SourceView::WIDE, SQL_C_CHAR, 2}, {SourceView::WIDE, SQL_C_WCHAR, 4},
                        {SourceView::WIDE, SQL_C_BINARY, 1}};
  const Combo binary[] = {{SourceView::BINARY, SQL_C_CHAR, 3}, {SourceView::BINARY, SQL_C_WCHAR, 6},
                          {SourceView::BINARY, SQL_C_BINARY, 1}};
  for (int trial = 0; trial < 150; ++trial) {
    const size_t chars = rng() % 60;
    const std::string u8 = RandomUtf8(rng, chars);
    const std::vector<unsigned char> u8bytes(u8.begin(), u8.end());
    for (const Combo& c : narrow) CheckPiecewise(u8bytes, c, rng);
    const std::vector<unsigned char> u16bytes = WideBytes(RandomUtf16(rng, chars), false);
    for (const Combo& c : wide) CheckPiecewise(u16bytes, c, rng);
    const std::vector<unsigned char> bytes = RandomBytes(rng, chars);
    for (const Combo& c : binary) CheckPiecewise(bytes, c, rng);
    if (HasFatalFailure()) return;
  }
}

// A buffer with room for one unit of text and a character longer than that:
// every call delivers part of it, and the parts join to the value.
TEST(Piecewise, ACharacterLongerThanTheRoomGoesOutInParts) {
  const std::string u8 = "a\xF0\x9F\x98\x80" "b";
  const std::vector<unsigned char> narrow(u8.begin(), u8.end());
  const std::vector<unsigned char> wide = WideBytes(u"a\U0001F600b", false);
  struct Case {
    const char* name;
    const std::vector<unsigned char>* value;
    SourceView::Path path;
    int32_t cType;
    int64_t buffer;
    std::vector<unsigned char> expected;
    int calls;
  } cases[] = {
      {"wide to wide, 4 bytes", &wide, SourceView::WIDE, SQL_C_WCHAR, 4, WideBytes(u"a\U0001F600b", false), 4},
      {"narrow to wide, 4 bytes", &narrow, SourceView::TEXT, SQL_C_WCHAR, 4, WideBytes(u"a\U0001F600b", false), 4},
      {"wide to narrow, 2 bytes", &wide, SourceView::WIDE, SQL_C_CHAR, 2, narrow, 6},
      {"wide to narrow, 3 bytes", &wide, SourceView::WIDE, SQL_C_CHAR, 3, narrow, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> joined;
    uint64_t offset = 0;
    uint32_t split = 0;
    int calls = 0;
    for (;; ++calls) {
      ASSERT_LT(calls, 20) << "no progress";
      const SourceView v{c.value->data() + offset, c.value->size() - offset, c.path};
      const Outcome o = DeliverView(v, static_cast<int64_t>(v.length),
                                    Request{c.cType, c.buffer, static_cast<size_t>(c.buffer)}, &split);
      ASSERT_TRUE(o.canariesIntact);
      const std::vector<unsigned char> w = Written(o, c.cType, c.buffer);
      ASSERT_FALSE(w.empty());
      joined.insert(joined.end(), w.begin(), w.end());
      offset += o.consumed;
      if (o.rc == SQL_SUCCESS) break;
      ASSERT_EQ(o.rc, SQL_SUCCESS_WITH_INFO);
    }
    EXPECT_EQ(calls + 1, c.calls);
    EXPECT_EQ(joined, c.expected);
    EXPECT_EQ(offset, c.value->size());
  }
}

TEST(Piecewise, TenCharactersThroughAFourByteBuffer) {
  const std::string text = "0123456789";
  const SourceView all{reinterpret_cast<const unsigned char*>(text.data()), 10, SourceView::TEXT};
  const char* pieces[] = {"012", "345", "678", "9"};
  const int64_t lengths[] = {10, 7, 4, 1};
  uint64_t offset = 0;
  for (int i = 0; i < 4; ++i) {
    const SourceView v{all.data + offset, 10 - offset, SourceView::TEXT};
    const Outcome o = DeliverView(v, static_cast<int64_t>(v.length), Request{SQL_C_CHAR, 4, 4});
    EXPECT_EQ(o.rc, i < 3 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    EXPECT_EQ(o.outLen, lengths[i]);
    EXPECT_STREQ(reinterpret_cast<const char*>(o.target.data()), pieces[i]);
    offset += o.consumed;
  }
  EXPECT_EQ(offset, 10u);
}

}  // namespace
}  // namespace kx::test
