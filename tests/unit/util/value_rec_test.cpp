#include "util/value_rec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/errcodes.h"

namespace kx {
namespace {

ValueRec IntRec(uint16_t column, int16_t id, int32_t v, int16_t kind = VAL_INT) {
  ValueRec r{};
  r.column = column;
  r.attrId = id;
  r.kind = kind;
  r.value.i32 = v;
  return r;
}
ValueRec TextRec(uint16_t column, int16_t id, char* text) {
  ValueRec r{};
  r.column = column;
  r.attrId = id;
  r.kind = VAL_TEXT;
  r.value.text = text;
  return r;
}
ValueRec DoubleRec(uint16_t column, int16_t id, double v) {
  ValueRec r{};
  r.column = column;
  r.attrId = id;
  r.kind = VAL_DOUBLE;
  r.value.dbl = v;
  return r;
}

// The statement's attribute table: 101 buckets, the record's first 4 bytes as
// key, heap copies as values, released with VAL_Free.
class ValueTable : public ::testing::Test {
 protected:
  void SetUp() override { table_ = HashCreate(101, 4); }
  void TearDown() override {
    HashWalk(table_, VAL_Free, nullptr);
    HashDestroy(table_);
  }
  void Put(const ValueRec& r) {
    auto* copy = static_cast<ValueRec*>(malloc(sizeof(ValueRec)));
    VAL_Copy(copy, &r, VAL_COPY_DUP);
    uint64_t old = HashGet(table_, copy);
    if (old) VAL_Free(old, nullptr, nullptr);
    HashSet(table_, copy, reinterpret_cast<uintptr_t>(copy));
  }
  HashTable* table_ = nullptr;
};

TEST_F(ValueTable, KeyIsTheRecordsFirstFourBytes) {
  ValueRec r = IntRec(3, 10, 0);
  uint32_t firstWord;
  memcpy(&firstWord, &r, 4);
  EXPECT_EQ(firstWord, VAL_Key(10, 3));
  EXPECT_EQ(firstWord, 10u * 65536 + 3);
}

TEST_F(ValueTable, ColumnRecordWinsOverColumnZeroDefault) {
  Put(IntRec(0, 10, 2));
  Put(IntRec(3, 10, 0));
  int32_t v = -1;
  EXPECT_EQ(VAL_Get(table_, 10, 3, &v, nullptr, nullptr), 1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(VAL_Get(table_, 10, 5, &v, nullptr, nullptr), 1);
  EXPECT_EQ(v, 2) << "default of column 0";
  EXPECT_EQ(VAL_Get(table_, 11, 3, &v, nullptr, nullptr), 0) << "no record, no default";
  EXPECT_EQ(VAL_Get(nullptr, 10, 3, &v, nullptr, nullptr), 0);
}

TEST_F(ValueTable, DeliversOnlyThroughTheOutputOfTheRecordsKind) {
  char name[] = "SERIAL";
  Put(IntRec(0, 10, 7));
  Put(TextRec(0, 14, name));
  Put(DoubleRec(2, 30, 1.5));
  Put(IntRec(0, 12, 9, /*kind*/ 5));

  const char* text = "unchanged";
  int32_t i = -1;
  double d = 0;
  EXPECT_EQ(VAL_Get(table_, 10, 1, nullptr, &text, &d), 0) << "integer asked without int output";
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(VAL_Get(table_, 14, 4, &i, &text, nullptr), 1);
  EXPECT_STREQ(text, "SERIAL");
  EXPECT_NE(text, name) << "the table holds its own copy";
  EXPECT_EQ(VAL_Get(table_, 30, 2, &i, nullptr, &d), 1);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(VAL_Get(table_, 12, 1, &i, &text, &d), 0) << "unknown kind";
}

TEST_F(ValueTable, NegativeIdsAreNeverFound) {
  Put(IntRec(0, -13, 4));
  int32_t v = -1;
  EXPECT_EQ(VAL_Get(table_, static_cast<uint16_t>(-13), 0, &v, nullptr, nullptr), 0);
  EXPECT_EQ(VAL_Get(table_, static_cast<uint16_t>(-13), 2, &v, nullptr, nullptr), 0);
  EXPECT_EQ(v, -1);
}

TEST(ValueRec, Equality) {
  char a[] = "x";
  char b[] = "x";
  struct Case {
    ValueRec l, r;
    int equal;
  } cases[] = {
      {IntRec(0, 1, 5), IntRec(4, 2, 5), 1},
      {IntRec(0, 1, 5), IntRec(0, 1, 6), 0},
      {IntRec(0, 1, 5, VAL_INT), IntRec(0, 1, 5, VAL_INT2), 0},
      {TextRec(0, 1, a), TextRec(1, 1, a), 1},
      {TextRec(0, 1, a), TextRec(1, 1, b), 0},  // equal characters, other text
      {DoubleRec(0, 1, 2.5), DoubleRec(0, 1, 2.5), 1},
      {DoubleRec(0, 1, NAN), DoubleRec(0, 1, NAN), 0},
      {IntRec(0, 1, 5, 9), IntRec(0, 1, 5, 9), 0},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(VAL_Equal(&cases[i].l, &cases[i].r), cases[i].equal) << "case " << i;
}

TEST(ValueRec, CopySharesOrDuplicatesText) {
  char text[] = "literal";
  ValueRec src = TextRec(2, 14, text);
  ValueRec shared{}, owned{};
  EXPECT_EQ(VAL_Copy(&shared, &src, VAL_COPY_SHARE), &shared);
  EXPECT_EQ(shared.value.text, text);
  EXPECT_EQ(VAL_Copy(&owned, &src, VAL_COPY_DUP), &owned);
  EXPECT_NE(owned.value.text, text);
  EXPECT_STREQ(owned.value.text, "literal");
  EXPECT_EQ(owned.column, 2);
  VAL_Clear(&owned);
  EXPECT_EQ(owned.value.text, nullptr);
  EXPECT_EQ(VAL_Copy(nullptr, &src, 2), nullptr);
  EXPECT_EQ(VAL_Copy(&owned, nullptr, 2), nullptr);

  ValueRec i = IntRec(0, 1, 42);
  VAL_Clear(&i);
  EXPECT_EQ(i.value.i32, 42) << "clear touches text records only";
}

TEST(ValueRec, PackingKeepsDefaultsAndDifferingColumns) {
  char text[] = "'";
  const ValueRec recs[] = {IntRec(0, 11, 0), IntRec(1, 11, 0), IntRec(2, 11, 1), TextRec(0, 14, text),
                           TextRec(1, 14, text)};
  EXPECT_EQ(VAL_CountDistinct(5, recs, 0, nullptr, 1), 3);
  uint16_t count = 0;
  ValueRec* out = nullptr;
  ASSERT_EQ(VAL_CollectDistinct(5, recs, &count, &out, VAL_COPY_SHARE), KX_OK);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(out[0].attrId, 11);
  EXPECT_EQ(out[0].column, 0);
  EXPECT_EQ(out[1].column, 2);
  EXPECT_EQ(out[1].value.i32, 1);
  EXPECT_EQ(out[2].attrId, 14);
  EXPECT_EQ(out[2].value.text, text) << "mode 1 shares the text";
  free(out);

  ASSERT_EQ(VAL_CollectDistinct(5, recs, &count, &out, VAL_COPY_DUP), KX_OK);
  EXPECT_NE(out[2].value.text, text);
  EXPECT_STREQ(out[2].value.text, "'");
  for (int i = 0; i < count; ++i) VAL_Clear(&out[i]);
  free(out);
}

TEST(ValueRec, PackingEdgeCases) {
  // Without a column-0 record every column record is kept.
  const ValueRec noDefault[] = {IntRec(1, 5, 1), IntRec(2, 5, 1), IntRec(3, 5, 1)};
  EXPECT_EQ(VAL_CountDistinct(3, noDefault, 0, nullptr, 1), 3);

  // Negative ids are skipped, also as the first record.
  const ValueRec negative[] = {IntRec(0, -13, 1), IntRec(0, 13, 1), IntRec(1, 13, 1),
                               IntRec(2, -13, 9)};
  EXPECT_EQ(VAL_CountDistinct(4, negative, 0, nullptr, 1), 1);

  // The output capacity bounds the copies.
  const ValueRec five[] = {IntRec(1, 1, 1), IntRec(2, 1, 2), IntRec(3, 1, 3), IntRec(4, 1, 4),
                           IntRec(5, 1, 5)};
  ValueRec out[5] = {};
  EXPECT_EQ(VAL_CountDistinct(5, five, 2, out, 1), 2);
  EXPECT_EQ(out[1].column, 2);
  EXPECT_EQ(out[2].column, 0) << "nothing written past the capacity";
  EXPECT_EQ(VAL_CountDistinct(5, five, 0, out, 1), 0);
  EXPECT_EQ(VAL_CountDistinct(0, five, 5, out, 1), 0);
  EXPECT_EQ(VAL_CountDistinct(5, nullptr, 5, out, 1), 0);

  // A default equal to a later group's value does not leak into that group.
  const ValueRec groups[] = {IntRec(0, 1, 7), IntRec(1, 2, 7)};
  EXPECT_EQ(VAL_CountDistinct(2, groups, 0, nullptr, 1), 2);

  uint16_t count = 99;
  ValueRec* arr = reinterpret_cast<ValueRec*>(&count);
  EXPECT_EQ(VAL_CollectDistinct(0, five, &count, &arr, 1), KX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(arr, nullptr);
  const ValueRec onlyNegative[] = {IntRec(0, -1, 1)};
  EXPECT_EQ(VAL_CollectDistinct(1, onlyNegative, &count, &arr, 1), KX_OK);
  EXPECT_EQ(arr, nullptr);
}

}  // namespace
}  // namespace kx
