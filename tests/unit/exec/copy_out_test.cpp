// The copy-out routines, the C-type tables and hexadecimal decoding.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/exec/convert_null.h"
#include "util/errcodes.h"

namespace kx {
namespace {

TEST(DefaultCType, TableForBothVersions) {
  struct {
    int32_t sql, v3, v2;
  } rows[] = {
      {SQL_CHAR, SQL_C_CHAR, SQL_C_CHAR},          {SQL_DECIMAL, SQL_C_CHAR, SQL_C_CHAR},
      {SQL_GUID, SQL_C_CHAR, SQL_C_CHAR},          {SQL_BIGINT, SQL_C_SBIGINT, SQL_C_CHAR},
      {SQL_WVARCHAR, SQL_C_WCHAR, SQL_C_WCHAR},    {SQL_BIT, SQL_C_BIT, SQL_C_BIT},
      {SQL_TINYINT, SQL_C_TINYINT, SQL_C_TINYINT}, {SQL_SMALLINT, SQL_C_SHORT, SQL_C_SHORT},
      {SQL_INTEGER, SQL_C_LONG, SQL_C_LONG},       {SQL_REAL, SQL_C_FLOAT, SQL_C_FLOAT},
      {SQL_FLOAT, SQL_C_DOUBLE, SQL_C_DOUBLE},     {SQL_LONGVARBINARY, SQL_C_BINARY, SQL_C_BINARY},
      {SQL_DATE, SQL_C_TYPE_DATE, SQL_C_DATE},     {SQL_TIME, SQL_C_TYPE_TIME, SQL_C_TIME},
      {SQL_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, SQL_C_TIMESTAMP},
      {SQL_TYPE_DATE, SQL_TYPE_DATE, SQL_TYPE_DATE}, {0, 0, 0}, {13, 13, 13},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(DefaultCType(r.sql, 3), r.v3) << r.sql;
    EXPECT_EQ(DefaultCType(r.sql, 2), r.v2) << r.sql;
  }
}

TEST(CTypeSize, FixedAndVariable) {
  EXPECT_EQ(CTypeSize(SQL_C_NUMERIC), 19);
  EXPECT_EQ(CTypeSize(SQL_C_GUID), 16);
  EXPECT_EQ(CTypeSize(SQL_C_TYPE_TIMESTAMP), 16);
  EXPECT_EQ(CTypeSize(SQL_C_UBIGINT), 8);
  EXPECT_EQ(CTypeSize(SQL_C_TYPE_DATE), 6);
  EXPECT_EQ(CTypeSize(SQL_C_FLOAT), 4);
  EXPECT_EQ(CTypeSize(SQL_C_USHORT), 2);
  EXPECT_EQ(CTypeSize(SQL_C_UTINYINT), 1);
  EXPECT_EQ(CTypeSize(SQL_C_CHAR), 0);
  EXPECT_EQ(CTypeSize(SQL_C_WCHAR), 0);
  EXPECT_EQ(CTypeSize(SQL_C_DEFAULT), 0);
  EXPECT_STREQ(CTypeToName(SQL_C_SBIGINT), "SQL_C_SBIGINT");
  EXPECT_STREQ(CTypeToName(1234), "(unknown type)");
}

TEST(Hex, DecodeIgnoresAnOddLastCharacter) {
  uint8_t out[3] = {0x55, 0x55, 0x55};
  HexDecode(out, "0aFF3", 5);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(out[2], 0x55);
  EXPECT_EQ(HexDigitValue('g'), 0);
  EXPECT_EQ(HexDigitValue('B'), 11);
}

// A target between canaries.
struct Target {
  std::vector<unsigned char> mem;
  size_t cap;
  explicit Target(size_t n) : mem(n + 32, 0xCC), cap(n) {}
  unsigned char* p() { return mem.data() + 16; }
  bool Canaries() const {
    for (size_t i = 0; i < 16; ++i) {
      if (mem[i] != 0xCC || mem[16 + cap + i] != 0xCC) return false;
    }
    return true;
  }
  bool Untouched() const {
    for (size_t i = 0; i < cap; ++i) {
      if (mem[16 + i] != 0xCC) return false;
    }
    return true;
  }
};

TEST(CopyOut, PieceOfALargerValue) {
  std::string piece(100, 'x');
  Target t(200);
  int64_t len = 0;
  int32_t err = 0;
  uint64_t used = 0;
  EXPECT_EQ(CopyOutNarrow(piece.data(), 100, 100, 300, 1, 1, t.p(), 200, &len, &err, &used), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(err, KX_ERR_DATA_TRUNCATED);
  EXPECT_EQ(len, 300);
  EXPECT_EQ(used, 100u);
  EXPECT_EQ(std::memcmp(t.p(), piece.data(), 100), 0);
  EXPECT_EQ(t.p()[100], 0);
  err = 0;
  EXPECT_EQ(CopyOutNarrow(piece.data(), 100, 100, SQL_NO_TOTAL, 1, 1, t.p(), 200, &len, &err), SQL_SUCCESS);
  EXPECT_EQ(len, SQL_NO_TOTAL);
  EXPECT_TRUE(t.Canaries());
}

TEST(CopyOut, NullTargetReportsOnlyTheLength) {
  int64_t len = 0;
  int32_t err = 0;
  EXPECT_EQ(CopyOutNarrow("hello", 5, 5, 0, 1, 1, nullptr, 0, &len, &err), SQL_SUCCESS);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(CopyOutNarrowToWide("h\xC3\xA9", 3, 3, 0, 1, 1, nullptr, 100, &len, &err), SQL_SUCCESS);
  EXPECT_EQ(len, 4);  // two UTF-16 units
  EXPECT_EQ(CopyOutWideToNarrow(u"h\u00e9", 2, 2, 0, 1, 1, nullptr, 100, &len, &err), SQL_SUCCESS);
  EXPECT_EQ(len, 3);  // three UTF-8 bytes
  EXPECT_EQ(err, 0);
}

// UTF-16 text into a narrow target: whole characters only, as many as fit
// with the terminator, and the length of the whole converted text however
// much was written.
TEST(CopyOut, WideToNarrowWritesWholeCharactersAndTheWholeLength) {
  struct Case {
    const char16_t* src;
    uint64_t units;
    int64_t targetLen;
    const char* written;
    uint64_t consumed;
    SQLRETURN rc;
  } cases[] = {
      {u"h\u00e9llo", 5, 100, "h\xC3\xA9llo", 5, SQL_SUCCESS},
      {u"h\u00e9llo", 5, 7, "h\xC3\xA9llo", 5, SQL_SUCCESS},        // exactly room for the terminator
      {u"h\u00e9llo", 5, 6, "h\xC3\xA9ll", 4, SQL_SUCCESS_WITH_INFO},
      {u"h\u00e9llo", 5, 3, "h", 1, SQL_SUCCESS_WITH_INFO},         // the two bytes of \u00e9 not split
      {u"h\u00e9llo", 5, 4, "h\xC3\xA9", 2, SQL_SUCCESS_WITH_INFO},
      {u"a\U0001F600b", 4, 5, "a", 1, SQL_SUCCESS_WITH_INFO},       // a surrogate pair is one character
      {u"a\U0001F600b", 4, 6, "a\xF0\x9F\x98\x80", 3, SQL_SUCCESS_WITH_INFO},
      {u"a\U0001F600b", 4, 7, "a\xF0\x9F\x98\x80" "b", 4, SQL_SUCCESS},
      {u"", 0, 4, "", 0, SQL_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.written) + " in " + std::to_string(c.targetLen));
    std::vector<char> target(static_cast<size_t>(c.targetLen) + 1, '#');
    int64_t len = -7;
    int32_t err = 0;
    uint64_t consumed = 99;
    EXPECT_EQ(CopyOutWideToNarrow(c.src, c.units, static_cast<int64_t>(c.units), 0, 1, 1, target.data(),
                                  c.targetLen, &len, &err, &consumed),
              c.rc);
    EXPECT_STREQ(target.data(), c.written);
    EXPECT_EQ(target[static_cast<size_t>(c.targetLen)], '#');  // nothing beyond the target
    EXPECT_EQ(consumed, c.consumed);
    const std::string whole = c.units == 5 ? "h\xC3\xA9llo" : c.units == 4 ? "a\xF0\x9F\x98\x80" "b" : "";
    EXPECT_EQ(len, static_cast<int64_t>(whole.size()));
    EXPECT_EQ(err, c.rc == SQL_SUCCESS ? 0 : KX_ERR_DATA_TRUNCATED);
  }
}

TEST(CopyOut, NoCutAllowedLeavesTheTargetAlone) {
  Target t(10);
  int64_t len = 0;
  int32_t err = 0;
  EXPECT_EQ(CopyOutNarrow("0123456789", 10, 10, 0, 1, 0, t.p(), 10, &len, &err), SQL_ERROR);
  EXPECT_EQ(err, KX_ERR_NUMERIC_RANGE);
  EXPECT_EQ(len, 10);
  EXPECT_TRUE(t.Untouched());
  EXPECT_TRUE(t.Canaries());
}

TEST(CopyOut, EarlierTruncationInTheCellMakesAWarning) {
  Target t(8);
  int32_t err = KX_ERR_DATA_TRUNCATED;
  EXPECT_EQ(CopyOutNarrow("ab", 2, 2, 0, 1, 1, t.p(), 8, nullptr, &err), SQL_SUCCESS_WITH_INFO);
}

TEST(CopyOut, WideTargetTooSmallForItsTerminator) {
  for (auto fn : {0, 1}) {
    Target t(1);
    int64_t len = 0;
    int32_t err = 0;
    uint64_t used = 99;
    const int16_t rc = fn == 0 ? CopyOutWide(u"ab", 4, 4, 0, 1, 1, t.p(), 1, &len, &err, &used)
                               : CopyOutNarrowToWide("ab", 2, 2, 0, 1, 1, t.p(), 1, &len, &err, &used);
    EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(used, 0u);
    EXPECT_TRUE(t.Untouched());
    EXPECT_TRUE(t.Canaries());
  }
}

TEST(CopyOut, NegativeLengthIsRefused) {
  Target t(4);
  int64_t len = 77;
  int32_t err = 0;
  EXPECT_EQ(CopyOutNarrow("ab", 2, 2, 0, 1, 1, t.p(), -1, &len, &err), SQL_ERROR);
  EXPECT_EQ(err, KX_ERR_BAD_LENGTH);
  EXPECT_EQ(len, 77);
  EXPECT_TRUE(t.Untouched());
}

TEST(CopyOut, UnknownExpansionOfAnUnseenTail) {
  // Part of a long UTF-8 value is at hand: its UTF-16 length is not known.
  int64_t len = 0;
  int32_t err = 0;
  Target t(64);
  EXPECT_EQ(CopyOutNarrowToWide("abc", 3, 3, 10, 1, 1, t.p(), 64, &len, &err), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(len, SQL_NO_TOTAL);
}

TEST(ConvertZeroTarget, ClearsByCType) {
  struct {
    int32_t c;
    int64_t bufferLength;
    size_t cleared;
  } rows[] = {{SQL_C_CHAR, 10, 1},      {SQL_C_CHAR, 0, 0},     {SQL_C_WCHAR, 40, 2},
              {SQL_C_WCHAR, 1, 0},      {SQL_C_LONG, 0, 4},     {SQL_C_NUMERIC, 0, 19},
              {SQL_C_GUID, 0, 16},      {SQL_C_GUID, 40, 16},   {SQL_C_TYPE_DATE, 0, 6},
              {SQL_C_BINARY, -5, 0},    {SQL_C_BINARY, 40, 0},  {SQL_C_BIT, 100, 1},
              {SQL_C_TIMESTAMP, 0, 16}};
  for (const auto& r : rows) {
    Target t(64);
    ConvertZeroTarget(r.c, t.p(), r.bufferLength);
    for (size_t i = 0; i < 64; ++i) {
      ASSERT_EQ(t.p()[i], i < r.cleared ? 0 : 0xCC) << CTypeToName(r.c) << " byte " << i;
    }
  }
  ConvertZeroTarget(SQL_C_CHAR, nullptr, 10);  // no target: nothing to do
  Target t(64);
  ColBinding b{1, SQL_C_CHAR, 0, t.p(), 12, nullptr, nullptr};
  ConvertZeroTarget(&b, SQL_C_CHAR);
  EXPECT_EQ(t.p()[0], 0);
  EXPECT_EQ(t.p()[1], 0xCC);
  EXPECT_TRUE(t.Canaries());
}

}  // namespace
}  // namespace kx
