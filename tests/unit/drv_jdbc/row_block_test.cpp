// Decoding of packed row blocks (the bytes the agent's Java class packs a
// block of rows into): every kind into every storage type it serves, NULLs
// against empty values, values that fill their element exactly or overflow
// it, data that end inside a value, and the choice of kind and room per
// storage type.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "drv_jdbc/text/j_row_block.h"
#include "util/row_buffer.h"

namespace kx {
namespace {

// Packs values the way the Java class does.
class Packer {
 public:
  Packer& Null() { return Byte(1); }
  // A fixed-size kind: its flag and value (written for NULL too).
  template <typename T>
  Packer& Fixed(T v, bool isNull = false) {
    Byte(isNull ? 1 : 0);
    return Raw(v);
  }
  Packer& Fields(std::vector<uint16_t> f, uint32_t nanos = 0, bool withNanos = false) {
    Byte(0);
    for (uint16_t v : f) Raw(v);
    if (withNanos) Raw(nanos);
    return *this;
  }
  Packer& Text(const std::string& s) {
    Byte(0);
    Raw(static_cast<uint32_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  Packer& Wide(const std::u16string& s) {
    Byte(0);
    Raw(static_cast<uint32_t>(s.size()));
    for (char16_t u : s) Raw(u);
    return *this;
  }
  Packer& Byte(uint8_t b) {
    bytes_.push_back(b);
    return *this;
  }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  template <typename T>
  Packer& Raw(T v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    bytes_.insert(bytes_.end(), b, b + sizeof b);
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

// A buffer of the given storage types and widths with room for rows rows.
struct Block {
  Block(std::vector<std::pair<uint32_t, uint32_t>> typeAndWidth, int32_t rows) {
    const auto n = static_cast<uint16_t>(typeAndWidth.size());
    EXPECT_EQ(0, RB_InitColumns(&rb, n));
    for (uint16_t c = 0; c < n; ++c) {
      rb.columns[c].type = typeAndWidth[c].first;
      rb.columns[c].width = typeAndWidth[c].second;
    }
    rb.colCount = n;
    EXPECT_EQ(0, RB_AllocRows(&rb, rows));
  }
  ~Block() { RB_Free(&rb); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  std::vector<unsigned char> Element(int c, int r) const {
    const unsigned char* e = RB_Element(&rb.columns[c], static_cast<size_t>(r));
    return std::vector<unsigned char>(e, e + rb.columns[c].width);
  }
  int16_t Indicator(int c, int r) const { return static_cast<int16_t>(rb.columns[c].indicators[r]); }
  RowBuffer rb{};
};

template <typename T>
std::vector<unsigned char> Bytes(T v) {
  std::vector<unsigned char> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

std::vector<unsigned char> Concat(std::vector<std::vector<unsigned char>> parts, size_t width) {
  std::vector<unsigned char> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  out.resize(width, 0);
  return out;
}

bool Decode(const Packer& p, const std::vector<int32_t>& kinds, int32_t rows, Block* b, int32_t* decoded) {
  return JDB_DecodeRowBlock(p.bytes().data(), p.bytes().size(), kinds.data(), rows, &b->rb, decoded);
}

// One value of one kind into one storage type: the element as the
// value-by-value road writes it (for text, the bytes up to the terminator).
struct ValueCase {
  const char* name;
  uint32_t type;
  uint32_t width;
  int32_t kind;
  Packer packed;
  std::vector<unsigned char> element;
  int16_t indicator;
};

std::vector<ValueCase> ValueCases() {
  const std::u16string omega = u"\u03A9\U0001F600";  // a BMP character and a surrogate pair
  return {
      {"bit true", RBT_BIT, 1, kRowBlockBoolean, Packer().Fixed<uint8_t>(1), {1}, RB_IND_DATA},
      {"bit NULL", RBT_BIT, 1, kRowBlockBoolean, Packer().Fixed<uint8_t>(0, true), {0}, RB_IND_NULL},
      {"tinyint", RBT_STINYINT, 1, kRowBlockByte, Packer().Fixed<int8_t>(-7), Bytes<int8_t>(-7), RB_IND_DATA},
      {"smallint", RBT_SSHORT, 2, kRowBlockShort, Packer().Fixed<int16_t>(-300), Bytes<int16_t>(-300),
       RB_IND_DATA},
      {"unsigned tinyint keeps the low byte", RBT_UTINYINT, 1, kRowBlockShort, Packer().Fixed<int16_t>(0x1FF),
       {0xFF}, RB_IND_DATA},
      {"integer", RBT_SLONG, 4, kRowBlockInt, Packer().Fixed<int32_t>(-123456789), Bytes<int32_t>(-123456789),
       RB_IND_DATA},
      {"integer NULL keeps the getter's answer", RBT_SLONG, 4, kRowBlockInt, Packer().Fixed<int32_t>(0, true),
       Bytes<int32_t>(0), RB_IND_NULL},
      {"unsigned smallint keeps the low 16 bits", RBT_USHORT, 2, kRowBlockInt, Packer().Fixed<int32_t>(0x1FFFF),
       Bytes<uint16_t>(0xFFFF), RB_IND_DATA},
      {"real", RBT_FLOAT, 4, kRowBlockFloat, Packer().Fixed<float>(-0.0f), Bytes<float>(-0.0f), RB_IND_DATA},
      {"double", RBT_DOUBLE, 8, kRowBlockDouble, Packer().Fixed<double>(-2.25e100), Bytes<double>(-2.25e100),
       RB_IND_DATA},
      {"date", RBT_DATE, 6, kRowBlockDate, Packer().Fields({2024, 2, 29}),
       Concat({Bytes<int16_t>(2024), Bytes<uint16_t>(2), Bytes<uint16_t>(29)}, 6), RB_IND_DATA},
      {"date NULL is all zero", RBT_DATE, 6, kRowBlockDate, Packer().Null(), std::vector<unsigned char>(6, 0),
       RB_IND_NULL},
      {"time", RBT_TIME, 6, kRowBlockTime, Packer().Fields({23, 59, 58}),
       Concat({Bytes<uint16_t>(23), Bytes<uint16_t>(59), Bytes<uint16_t>(58)}, 6), RB_IND_DATA},
      {"time with its fraction", RBT_TIME, 10, kRowBlockTimeFraction, Packer().Fields({12, 34, 56}, 789000000, true),
       Concat({Bytes<uint16_t>(12), Bytes<uint16_t>(34), Bytes<uint16_t>(56), Bytes<uint32_t>(789000000)}, 10),
       RB_IND_DATA},
      {"time with a fraction NULL is all zero", RBT_TIME, 10, kRowBlockTimeFraction, Packer().Null(),
       std::vector<unsigned char>(10, 0), RB_IND_NULL},
      {"timestamp", RBT_TIMESTAMP, 16, kRowBlockTimestamp, Packer().Fields({1999, 12, 31, 23, 59, 59}, 123456789, true),
       Concat({Bytes<int16_t>(1999), Bytes<uint16_t>(12), Bytes<uint16_t>(31), Bytes<uint16_t>(23),
               Bytes<uint16_t>(59), Bytes<uint16_t>(59), Bytes<uint32_t>(123456789)},
              16),
       RB_IND_DATA},
      {"timestamp NULL is all zero", RBT_TIMESTAMP, 16, kRowBlockTimestamp, Packer().Null(),
       std::vector<unsigned char>(16, 0), RB_IND_NULL},
      {"text, terminated", RBT_CHAR_NTS, 6, kRowBlockText, Packer().Text("abc"), {'a', 'b', 'c', 0},
       RB_IND_DATA},
      {"text filling its element", RBT_CHAR_NTS, 4, kRowBlockText, Packer().Text("abc"), {'a', 'b', 'c', 0},
       RB_IND_DATA},
      {"empty text is a value", RBT_CHAR_NTS, 4, kRowBlockText, Packer().Text(""), {0}, RB_IND_DATA},
      {"text NULL", RBT_CHAR_NTS, 4, kRowBlockText, Packer().Null(), {0}, RB_IND_NULL},
      {"text with a one-byte length", RBT_CHAR_LEN1, 5, kRowBlockText, Packer().Text("xy"), {2, 'x', 'y', 0},
       RB_IND_DATA},
      {"text with a two-byte length", RBT_CHAR_LEN2, 6, kRowBlockText, Packer().Text("xy"),
       Concat({Bytes<uint16_t>(2), {'x', 'y', 0}}, 5), RB_IND_DATA},
      {"text with a four-byte length", RBT_CHAR_LEN4, 8, kRowBlockText, Packer().Text("xyz"),
       Concat({Bytes<uint32_t>(3), {'x', 'y', 'z', 0}}, 8), RB_IND_DATA},
      {"non-ASCII text passes as its bytes", RBT_CHAR_NTS, 8, kRowBlockText, Packer().Text("\xCE\xA9\xE6\x97\xA5"),
       {0xCE, 0xA9, 0xE6, 0x97, 0xA5, 0}, RB_IND_DATA},
      {"binary padded with zeros", RBT_BINARY, 4, kRowBlockBytes, Packer().Text(std::string("\x01\x00\x02", 3)),
       {1, 0, 2, 0}, RB_IND_DATA},
      {"empty binary is a value", RBT_BINARY_LEN2, 4, kRowBlockBytes, Packer().Text(""), {0, 0, 0, 0}, RB_IND_DATA},
      {"binary NULL", RBT_BINARY_LEN1, 3, kRowBlockBytes, Packer().Null(), {0, 0, 0}, RB_IND_NULL},
      {"binary with a four-byte length", RBT_BINARY_LEN4, 6, kRowBlockBytes, Packer().Text("\xFF\xEE"),
       Concat({Bytes<uint32_t>(2), {0xFF, 0xEE}}, 6), RB_IND_DATA},
      {"wide text with a surrogate pair", RBT_WCHAR_NTS, 10, kRowBlockWide, Packer().Wide(omega),
       Concat({Bytes<char16_t>(omega[0]), Bytes<char16_t>(omega[1]), Bytes<char16_t>(omega[2])}, 8), RB_IND_DATA},
      {"empty wide text is a value", RBT_WCHAR, 4, kRowBlockWide, Packer().Wide(u""), {0, 0}, RB_IND_DATA},
      {"wide text NULL", RBT_WCHAR_NTS, 4, kRowBlockWide, Packer().Null(), {0, 0}, RB_IND_NULL},
      {"wide text with a length", RBT_WCHAR_LEN4, 10, kRowBlockWide, Packer().Wide(u"ab"),
       Concat({Bytes<uint32_t>(2), Bytes<char16_t>(u'a'), Bytes<char16_t>(u'b')}, 10), RB_IND_DATA},
  };
}

TEST(PackedRowBlock, EveryKindLandsInItsElementAsTheSingleGettersWriteIt) {
  for (const ValueCase& c : ValueCases()) {
    SCOPED_TRACE(c.name);
    Block b({{c.type, c.width}}, 1);
    // What the fresh element held must not show through.
    std::memset(b.rb.columns[0].data, 0xA5, c.width);
    int32_t decoded = -1;
    ASSERT_TRUE(Decode(c.packed, {c.kind}, 1, &b, &decoded));
    EXPECT_EQ(1, decoded);
    EXPECT_EQ(c.indicator, b.Indicator(0, 0));
    std::vector<unsigned char> element = b.Element(0, 0);
    // Text is written up to its terminator, as the getters' road writes it;
    // what lies after stays as it was.
    if (c.kind == kRowBlockText || c.kind == kRowBlockWide) element.resize(c.element.size());
    EXPECT_EQ(c.element, element);
  }
}

TEST(PackedRowBlock, RowsFollowOneAnotherColumnByColumn) {
  Block b({{RBT_SLONG, 4}, {RBT_CHAR_NTS, 8}, {RBT_TIMESTAMP, 16}}, 3);
  Packer p;
  p.Fixed<int32_t>(1).Text("one").Fields({2024, 1, 1, 0, 0, 1}, 5, true);
  p.Fixed<int32_t>(0, true).Null().Null();
  p.Fixed<int32_t>(3).Text("").Fields({2024, 1, 3, 10, 20, 30}, 0, true);
  int32_t decoded = 0;
  ASSERT_TRUE(Decode(p, {kRowBlockInt, kRowBlockText, kRowBlockTimestamp}, 3, &b, &decoded));
  EXPECT_EQ(3, decoded);
  EXPECT_EQ(Bytes<int32_t>(1), b.Element(0, 0));
  EXPECT_EQ(Bytes<int32_t>(3), b.Element(0, 2));
  EXPECT_EQ((std::vector<int16_t>{RB_IND_DATA, RB_IND_NULL, RB_IND_DATA}),
            (std::vector<int16_t>{b.Indicator(1, 0), b.Indicator(1, 1), b.Indicator(1, 2)}));
  EXPECT_EQ(std::string("one"), reinterpret_cast<const char*>(b.Element(1, 0).data()));
  EXPECT_EQ(RB_IND_DATA, b.Indicator(1, 2));  // empty, not NULL
  EXPECT_EQ(0, b.Element(1, 2)[0]);
  EXPECT_EQ(RB_IND_NULL, b.Indicator(2, 1));
  const std::vector<unsigned char> ts = b.Element(2, 2);
  uint16_t hour = 0;
  std::memcpy(&hour, ts.data() + 6, 2);
  EXPECT_EQ(10, hour);
}

// Damaged or inconsistent data: the rows before the fault are delivered,
// nothing is read past the end (the sanitizer build checks that), and the
// block is refused.
struct FaultCase {
  const char* name;
  Packer packed;
  int32_t decoded;
};

TEST(PackedRowBlock, DataThatDoNotFitAreRefusedAfterTheCompleteRows) {
  // Row layout: integer, text of at most 3 bytes (element 4), wide text of at most 1 unit (element 4).
  auto row = [](Packer p, int32_t id) { return p.Fixed<int32_t>(id).Text("ab").Wide(u"w"); };
  Packer cut = row(Packer(), 1);
  cut.Fixed<int32_t>(2).Byte(0);
  Packer cutLength = row(Packer(), 1);
  cutLength.Fixed<int32_t>(2).Byte(0).Byte(9);
  // A value crossing the end: the length says 3, two bytes follow.
  Packer crossing = row(Packer(), 1);
  crossing.Fixed<int32_t>(2).Byte(0);
  for (int b : {3, 0, 0, 0, int{'a'}, int{'b'}}) crossing.Byte(static_cast<uint8_t>(b));
  const std::vector<FaultCase> cases = {
      {"ends inside a row", cut, 1},
      {"ends inside a length", cutLength, 1},
      {"a value crossing the end", crossing, 1},
      {"text longer than its element", row(Packer(), 1).Fixed<int32_t>(2).Text("abcd").Wide(u"w"), 1},
      {"wide text longer than its element", Packer().Fixed<int32_t>(1).Text("a").Wide(u"wx"), 0},
      {"a flag neither value nor NULL", row(Packer(), 1).Fixed<int32_t>(2).Byte(2), 1},
      {"bytes after the last row", row(row(Packer(), 1), 2).Byte(0), 2},
      {"no bytes at all", Packer(), 0},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    Block b({{RBT_SLONG, 4}, {RBT_CHAR_NTS, 4}, {RBT_WCHAR_NTS, 4}}, 2);
    // The exact size: a reader that looks one byte further is caught.
    std::vector<unsigned char> exact = c.packed.bytes();
    const std::vector<int32_t> kinds = {kRowBlockInt, kRowBlockText, kRowBlockWide};
    int32_t decoded = -1;
    const unsigned char* data = exact.empty() ? nullptr : exact.data();
    EXPECT_FALSE(JDB_DecodeRowBlock(data, exact.size(), kinds.data(), 2, &b.rb, &decoded));
    EXPECT_EQ(c.decoded, decoded);
    if (decoded >= 1) {
      EXPECT_EQ(Bytes<int32_t>(1), b.Element(0, 0));
    }
  }
}

TEST(PackedRowBlock, MoreRowsThanTheBufferHoldsAreRefused) {
  Block b({{RBT_SLONG, 4}}, 1);
  Packer p;
  p.Fixed<int32_t>(1).Fixed<int32_t>(2);
  int32_t decoded = -1;
  EXPECT_FALSE(Decode(p, {kRowBlockInt}, 2, &b, &decoded));
  EXPECT_EQ(0, decoded);
}

TEST(PackedRowBlock, KindAndRoomFollowTheStorageType) {
  struct KindCase {
    uint32_t type;
    uint32_t width;
    bool wideText;
    bool taken;
    int32_t kind;
    int32_t room;
  };
  const std::vector<KindCase> cases = {
      {RBT_BIT, 1, true, true, kRowBlockBoolean, 0},
      {RBT_STINYINT, 1, true, true, kRowBlockByte, 0},
      {RBT_UTINYINT, 1, true, true, kRowBlockShort, 0},
      {RBT_SSHORT, 2, true, true, kRowBlockShort, 0},
      {RBT_USHORT, 2, true, true, kRowBlockInt, 0},
      {RBT_SLONG, 4, true, true, kRowBlockInt, 0},
      {RBT_FLOAT, 4, true, true, kRowBlockFloat, 0},
      {RBT_DOUBLE, 8, true, true, kRowBlockDouble, 0},
      {RBT_DATE, 6, true, true, kRowBlockDate, 0},
      {RBT_TIME, 6, true, true, kRowBlockTime, 0},
      {RBT_TIME, 10, true, true, kRowBlockTimeFraction, 0},  // a time that keeps its fraction
      {RBT_TIMESTAMP, 16, true, true, kRowBlockTimestamp, 0},
      {RBT_CHAR_NTS, 41, false, true, kRowBlockText, 40},
      {RBT_CHAR_LEN2, 12, false, true, kRowBlockText, 9},
      {RBT_CHAR_NTS, 0, false, false, 0, 0},
      {RBT_BINARY, 4, false, true, kRowBlockBytes, 4},
      {RBT_BINARY_LEN4, 8, false, true, kRowBlockBytes, 4},
      {RBT_WCHAR_NTS, 82, true, true, kRowBlockWide, 40},
      {RBT_WCHAR_LEN4, 12, true, true, kRowBlockWide, 3},
      {RBT_WCHAR_NTS, 82, false, false, 0, 0},  // a narrow build reads wide storage value by value
      {RBT_WCHAR_NTS, 1, true, false, 0, 0},
      // Long values and unsigned 32-bit integers are read value by value.
      {RBT_CHAR_PTR, 16, true, false, 0, 0},
      {RBT_BINARY_PTR, 16, true, false, 0, 0},
      {RBT_WCHAR_PTR, 16, true, false, 0, 0},
      {RBT_ULONG, 4, true, false, 0, 0},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " width " << c.width << " wide " << c.wideText);
    RowBufferColumn col{};
    col.type = c.type;
    col.width = c.width;
    int32_t kind = 0, room = -1;
    EXPECT_EQ(c.taken, JDB_RowBlockKind(col, c.wideText, &kind, &room));
    if (c.taken) {
      EXPECT_EQ(c.kind, kind);
      EXPECT_EQ(c.room, room);
    }
  }
}

// A value that fills its element exactly decodes; one unit more is refused.
TEST(PackedRowBlock, TheRoomJDB_RowBlockKindGivesIsExactlyWhatFits) {
  for (uint32_t type : {RBT_CHAR_NTS, RBT_CHAR_LEN1, RBT_CHAR_LEN4, RBT_BINARY_LEN2, RBT_WCHAR_NTS, RBT_WCHAR_LEN4}) {
    SCOPED_TRACE(testing::Message() << "type " << type);
    RowBufferColumn probe{};
    probe.type = type;
    probe.width = 24;
    int32_t kind = 0, room = 0;
    ASSERT_TRUE(JDB_RowBlockKind(probe, true, &kind, &room));
    for (int32_t extra : {0, 1}) {
      Block b({{type, 24}}, 1);
      Packer p;
      if (kind == kRowBlockWide) p.Wide(std::u16string(static_cast<size_t>(room + extra), u'w'));
      else p.Text(std::string(static_cast<size_t>(room + extra), 'x'));
      int32_t decoded = -1;
      EXPECT_EQ(extra == 0, Decode(p, {kind}, 1, &b, &decoded)) << "extra " << extra;
    }
  }
}


TEST(PlainDecimalText, ExponentFormsAreWrittenOutWithTheirScale) {
  struct Case {
    const char* text;
    bool rewritten;
    const char* plain;
  } cases[] = {
      {"7.70E-23", true, "0.0000000000000000000000770"},
      {"1E-8", true, "0.00000001"},
      {"-1.5E+3", true, "-1500"},
      {"1E+5", true, "100000"},
      {"1.2345E+2", true, "123.45"},
      {"0E-10", true, "0.0000000000"},
      {"-0.5E-2", true, "-0.005"},
      {"123.45", false, ""},
      {"1E", false, ""},
      {"abc", false, ""},
      {"1.2.3E4", false, ""},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(c.rewritten, JDB_PlainDecimalText(c.text, std::strlen(c.text), &out)) << c.text;
    EXPECT_EQ(c.rewritten ? std::string(c.plain) : std::string("untouched"), out) << c.text;
  }
}

}  // namespace
}  // namespace kx
