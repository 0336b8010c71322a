// Row buffers: layout, storage, ownership of heap values, reshaping.
// Leaks of element blocks show up under LeakSanitizer (the ASan build).
#include "util/row_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "util/errcodes.h"

namespace kx {
namespace {

using Layout = std::vector<std::pair<uint32_t, uint32_t>>;  // type, declared size

// A buffer laid out and allocated; freed at the end of the test.
struct Buf {
  RowBuffer rb{};
  Buf(const Layout& cols, int32_t rows) {
    EXPECT_EQ(RB_InitColumns(&rb, static_cast<uint16_t>(cols.size())), 0);
    for (size_t c = 0; c < cols.size(); ++c) {
      rb.columns[c].type = cols[c].first;
      rb.columns[c].width = RB_ElementSize(cols[c].first, cols[c].second);
    }
    rb.colCount = static_cast<uint16_t>(cols.size());
    EXPECT_EQ(RB_AllocRows(&rb, rows), 0);
  }
  ~Buf() { RB_Free(&rb); }
  RowBuffer* operator->() { return &rb; }
  RowBuffer* get() { return &rb; }
};

unsigned char* El(RowBuffer* rb, uint16_t c, int32_t r) {
  return RB_Element(&rb->columns[c], static_cast<size_t>(r));
}

void SetPtr(RowBuffer* rb, uint16_t c, int32_t r, const void* bytes, uint32_t length,
            size_t byteCount) {
  void* block = malloc(byteCount ? byteCount : 1);
  memcpy(block, bytes, byteCount);
  RB_SetPtrValue(El(rb, c, r), RBPtrValue{length, block});
  rb->columns[c].indicators[r] = 0;
}
void SetText(RowBuffer* rb, uint16_t c, int32_t r, const std::string& s) {
  SetPtr(rb, c, r, s.data(), static_cast<uint32_t>(s.size()), s.size());
}
void SetWide(RowBuffer* rb, uint16_t c, int32_t r, const std::u16string& s) {
  SetPtr(rb, c, r, s.data(), static_cast<uint32_t>(s.size()), s.size() * 2);
}
void SetNts(RowBuffer* rb, uint16_t c, int32_t r, const std::string& s) {
  memcpy(El(rb, c, r), s.c_str(), s.size() + 1);
  rb->columns[c].indicators[r] = 0;
}
void SetWideNts(RowBuffer* rb, uint16_t c, int32_t r, const std::u16string& s) {
  memcpy(El(rb, c, r), s.c_str(), (s.size() + 1) * 2);
  rb->columns[c].indicators[r] = 0;
}
void SetLen4(RowBuffer* rb, uint16_t c, int32_t r, const std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  memcpy(El(rb, c, r), &n, 4);
  memcpy(El(rb, c, r) + 4, s.data(), n);
  rb->columns[c].indicators[r] = 0;
}
void SetSlong(RowBuffer* rb, uint16_t c, int32_t r, int32_t v) {
  memcpy(El(rb, c, r), &v, 4);
  rb->columns[c].indicators[r] = 0;
}

// Raw bytes of one value, "<NULL>" for NULL.
std::string Value(const RowBuffer* rb, uint16_t c, int32_t r) {
  if (rb->columns[c].indicators[r] == RB_IND_NULL) return "<NULL>";
  std::string out(4096, '\0');
  uint32_t len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(RB_GetValue(rb, r, c, out.data(), &len), 0);
  out.resize(len);
  return out;
}
std::string W(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}
int32_t Slong(RowBuffer* rb, uint16_t c, int32_t r) {
  int32_t v;
  memcpy(&v, El(rb, c, r), 4);
  return v;
}
void* Block(RowBuffer* rb, uint16_t c, int32_t r) { return RB_GetPtrValue(El(rb, c, r)).block; }

// ---- model ---------------------------------------------------------------------

TEST(RowBufferModel, ElementSizes) {
  struct Case {
    uint32_t type, size, width;
  } cases[] = {
      {19, 3, 6},   {20, 5, 12},  {27, 3, 12}, {25, 10, 22}, {24, 10, 20}, {13, 0, 16},
      {13, 99, 16}, {99, 7, 7},   {0, 50, 1},  {1, 5, 5},    {15, 1000, 16}, {26, 3, 16},
      {17, 5, 6},   {18, 5, 6},   {21, 0, 1},  {22, 3, 6},   {23, 5, 12},  {14, 9, 9},
      {11, 0, 6},   {12, 0, 6},   {10, 0, 8},  {5, 0, 4},    {4, 0, 2},    {2, 0, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RB_ElementSize(c.type, c.size), c.width) << c.type << "/" << c.size;
}

TEST(RowBufferModel, WidthsBeyond32BitsAreRefused) {
  // JDBC drivers report 2^31-1 as the size of unbounded text columns.
  const uint32_t big = 0x7FFFFFFF;
  EXPECT_EQ(RB_ElementSize(RBT_CHAR_NTS, big), 0x80000000u);
  EXPECT_EQ(RB_ElementSize(RBT_WCHAR_NTS, big), 0u);  // 2^32 does not fit
  uint32_t w = 1;
  EXPECT_EQ(RB_ElementSizeChecked(RBT_WCHAR_LEN4, big, &w), KX_ERR_GENERAL);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(RB_ElementSizeChecked(RBT_CHAR_LEN4, 0xFFFFFFFF, &w), KX_ERR_GENERAL);
  EXPECT_EQ(RB_ElementSizeChecked(RBT_WCHAR, 0x7FFFFFFF, &w), 0);
  EXPECT_EQ(w, 0xFFFFFFFEu);
}

TEST(RowBufferModel, StorageTooLargeIsRefusedNotWrapped) {
  // width 2^31 x 1000 rows: a 32-bit product would wrap to a small block.
  RowBufferColumn col{RBT_CHAR_NTS, 0x80000000u, nullptr, nullptr};
  EXPECT_EQ(RB_ColumnAlloc(&col, 1000), KX_ERR_NOMEM);
  EXPECT_EQ(col.data, nullptr);
  col.width = 0xFFFFFFFFu;
  EXPECT_EQ(RB_ColumnAlloc(&col, 0x7FFFFFFF), KX_ERR_NOMEM);
  EXPECT_EQ(RB_ColumnAlloc(&col, -1), KX_ERR_GENERAL);

  AgentColDesc* d = RB_AllocColDescs(2);
  d[0].storageType = RBT_SLONG;
  d[1].storageType = RBT_CHAR_NTS;
  d[1].elementLength = 0x7FFFFFFF;
  RowBuffer rb{};
  EXPECT_EQ(RB_FromColDescs(d, 2, 1000, &rb), KX_ERR_NOMEM);
  EXPECT_EQ(rb.columns, nullptr);  // nothing left behind
  EXPECT_EQ(rb.colCount, 0);
  d[1].storageType = RBT_WCHAR_NTS;
  EXPECT_EQ(RB_FromColDescs(d, 2, 10, &rb), KX_ERR_GENERAL);
  d[1].elementLength = -5;
  EXPECT_EQ(RB_FromColDescs(d, 2, 10, &rb), KX_ERR_GENERAL);
  EXPECT_EQ(rb.columns, nullptr);
  RB_FreeColDescs(d, 2);
}

TEST(RowBufferModel, InitAndAllocate) {
  RowBuffer rb{};
  EXPECT_EQ(RB_InitColumns(&rb, 0), 0);
  EXPECT_EQ(rb.columns, nullptr);
  EXPECT_EQ(rb.colCapacity, 0);

  Buf b({{RBT_SLONG, 0}}, 3);
  EXPECT_EQ(b->rowCapacity, 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(b->columns[0].indicators[r], -1);
  for (int k = 0; k < 13; ++k) EXPECT_EQ(b->columns[0].data[k], 0) << k;

  Buf none({{RBT_SLONG, 0}}, 0);
  EXPECT_EQ(none->rowCapacity, 0);
  EXPECT_EQ(none->columns[0].data, nullptr);
  EXPECT_EQ(none->columns[0].indicators, nullptr);

  // A column that cannot get storage leaves none behind in the others.
  RowBuffer fail{};
  ASSERT_EQ(RB_InitColumns(&fail, 2), 0);
  fail.columns[0] = RowBufferColumn{RBT_SLONG, 4, nullptr, nullptr};
  fail.columns[1] = RowBufferColumn{RBT_CHAR_NTS, 0x80000000u, nullptr, nullptr};
  fail.colCount = 2;
  EXPECT_EQ(RB_AllocRows(&fail, 1000), KX_ERR_NOMEM);
  EXPECT_EQ(fail.columns[0].data, nullptr);
  EXPECT_EQ(fail.columns[0].indicators, nullptr);
  EXPECT_EQ(fail.rowCapacity, 0);
  fail.columns[1].width = 8;
  EXPECT_EQ(RB_AllocRows(&fail, 1000), 0);
  EXPECT_EQ(fail.rowCapacity, 1000);
  RB_Free(&fail);

  RowBuffer over{};
  ASSERT_EQ(RB_InitColumns(&over, 1), 0);
  over.colCount = 2;  // more than the capacity
  EXPECT_EQ(RB_AllocRows(&over, 2), KX_ERR_NOMEM);
  over.colCount = 1;
  RB_Free(&over);
}

TEST(RowBufferModel, FromColDescsAndFree) {
  AgentColDesc* d = RB_AllocColDescs(0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d[0].storageType, 0);
  EXPECT_EQ(d[0].label, nullptr);
  RB_FreeColDescs(d, 0);

  d = RB_AllocColDescs(3);
  d[0].storageType = RBT_SLONG;
  d[1].storageType = RBT_CHAR_LEN2;
  d[1].elementLength = 3;
  d[2].storageType = RBT_CHAR_PTR;
  d[0].catalog = strdup("c");
  d[0].schema = strdup("s");
  d[0].table = strdup("t");
  d[0].label = strdup("l");
  d[2].label = strdup("only the fourth");
  RowBuffer rb{};
  ASSERT_EQ(RB_FromColDescs(d, 3, 4, &rb), 0);
  EXPECT_EQ(rb.colCount, 3);
  EXPECT_EQ(rb.rowCapacity, 4);
  EXPECT_EQ(rb.columns[1].width, 6u);
  EXPECT_EQ(rb.columns[2].width, 16u);
  // Every element block within the row capacity goes with the buffer.
  SetText(&rb, 2, 0, "abc");
  SetText(&rb, 2, 3, "spare row beyond the row count");
  rb.rowCount = 1;
  RB_Free(&rb);
  EXPECT_EQ(rb.colCapacity + rb.colCount + rb.rowCapacity + rb.rowCount, 0);
  EXPECT_EQ(rb.columns, nullptr);
  RB_FreeColDescs(d, 3);
}

// ---- rows ----------------------------------------------------------------------

TEST(RowBufferRows, InsertRow) {
  Buf b({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 3);
  SetSlong(b.get(), 0, 0, 10);
  SetSlong(b.get(), 0, 1, 11);
  SetText(b.get(), 1, 0, "a");
  SetText(b.get(), 1, 1, "b");
  b->rowCount = 2;
  ASSERT_EQ(RB_InsertRow(b.get(), 0), 0);
  EXPECT_EQ(b->rowCount, 3);
  EXPECT_EQ(b->columns[0].indicators[0], -1);
  EXPECT_EQ(Slong(b.get(), 0, 0), 0);
  EXPECT_EQ(Block(b.get(), 1, 0), nullptr);
  EXPECT_EQ(Slong(b.get(), 0, 1), 10);
  EXPECT_EQ(Slong(b.get(), 0, 2), 11);
  EXPECT_EQ(Value(b.get(), 1, 1), "a");
  EXPECT_EQ(Value(b.get(), 1, 2), "b");
  EXPECT_EQ(RB_InsertRow(b.get(), 0), KX_ERR_GENERAL);  // full

  Buf c({{RBT_SLONG, 0}}, 2);
  EXPECT_EQ(RB_InsertRow(c.get(), 1), KX_ERR_GENERAL);  // beyond the row count
  EXPECT_EQ(RB_InsertRow(c.get(), 0), 0);
  RowBuffer empty{};
  EXPECT_EQ(RB_InsertRow(&empty, 0), KX_ERR_GENERAL);
  EXPECT_EQ(RB_InsertRow(nullptr, 0), KX_ERR_GENERAL);
}

TEST(RowBufferRows, RowsEqualComparesValuesNotAddresses) {
  Buf a({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}, {RBT_WCHAR_PTR, 0}}, 2);
  Buf b({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}, {RBT_WCHAR_PTR, 0}}, 2);
  for (Buf* x : {&a, &b}) {
    SetSlong(x->get(), 0, 1, 7);
    SetText(x->get(), 1, 1, "same");
    SetWide(x->get(), 2, 1, u"w\u00E9");
    (*x)->rowCount = 2;
  }
  int eq = -1;
  ASSERT_EQ(RB_RowsEqual(a.get(), 1, b.get(), 1, &eq), 0);
  EXPECT_EQ(eq, 1);
  EXPECT_NE(Block(a.get(), 1, 1), Block(b.get(), 1, 1));
  // A NULL row and a row holding zero bytes compare equal (indicators ignored).
  SetText(b.get(), 1, 0, "");
  SetWide(b.get(), 2, 0, u"");
  b->columns[0].indicators[0] = 0;
  ASSERT_EQ(RB_RowsEqual(a.get(), 0, b.get(), 0, &eq), 0);
  EXPECT_EQ(eq, 1);
  ASSERT_EQ(RB_RowsEqual(a.get(), 0, b.get(), 1, &eq), 0);
  EXPECT_EQ(eq, 0);
  free(Block(b.get(), 2, 1));
  SetWide(b.get(), 2, 1, u"w\u00E8");
  ASSERT_EQ(RB_RowsEqual(a.get(), 1, b.get(), 1, &eq), 0);
  EXPECT_EQ(eq, 0);

  EXPECT_EQ(RB_RowsEqual(a.get(), 2, b.get(), 1, &eq), KX_ERR_GENERAL);
  Buf other({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}, {RBT_CHAR_NTS, 4}}, 2);
  SetSlong(other.get(), 0, 1, 7);
  SetText(other.get(), 1, 1, "same");
  other->rowCount = 2;
  EXPECT_EQ(RB_RowsEqual(a.get(), 1, other.get(), 1, &eq), KX_ERR_GENERAL);
}

TEST(RowBufferRows, CopyRowAppendsAndRefusesMissingRows) {
  Buf src({{RBT_SLONG, 0}, {RBT_BINARY_PTR, 0}}, 2);
  SetSlong(src.get(), 0, 0, 5);
  SetText(src.get(), 1, 0, "xyz");
  src->rowCount = 1;
  Buf dst({{RBT_SLONG, 0}, {RBT_BINARY_PTR, 0}}, 2);
  ASSERT_EQ(RB_CopyRow(dst.get(), src.get(), 0, 0, false), 0);  // row 0 = the row count
  EXPECT_EQ(dst->rowCount, 1);
  EXPECT_EQ(Slong(dst.get(), 0, 0), 5);
  EXPECT_EQ(Value(dst.get(), 1, 0), "xyz");
  EXPECT_NE(Block(dst.get(), 1, 0), Block(src.get(), 1, 0));  // duplicated
  EXPECT_EQ(RB_CopyRow(dst.get(), src.get(), 1, 1, false), KX_ERR_GENERAL);  // b = source row count
  EXPECT_EQ(RB_CopyRow(dst.get(), src.get(), 7, 0, false), KX_ERR_GENERAL);  // beyond capacity
  // Overwriting a row releases the block it held.
  SetSlong(src.get(), 0, 0, 6);
  ASSERT_EQ(RB_CopyRow(dst.get(), src.get(), 0, 0, false), 0);
  EXPECT_EQ(dst->rowCount, 1);
  EXPECT_EQ(Slong(dst.get(), 0, 0), 6);

  Buf wrong({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 2);
  EXPECT_EQ(RB_CopyRow(wrong.get(), src.get(), 0, 0, false), KX_ERR_GENERAL);
  EXPECT_EQ(wrong->columns[0].indicators[0], -1);  // nothing written
}

TEST(RowBufferRows, MoveHandsTheBlockOverCopyDuplicatesIt) {
  Buf src({{RBT_BINARY_PTR, 0}}, 2);
  SetText(src.get(), 0, 0, "abc");
  SetText(src.get(), 0, 1, "stale");
  src->columns[0].indicators[1] = RB_IND_NULL;  // NULL value still holding a block
  src->rowCount = 2;
  Buf dst({{RBT_BINARY_PTR, 0}}, 2);
  void* block = Block(src.get(), 0, 0);
  ASSERT_EQ(RB_CopyRow(dst.get(), src.get(), 0, 0, true), 0);
  EXPECT_EQ(Block(src.get(), 0, 0), nullptr);
  EXPECT_EQ(Block(dst.get(), 0, 0), block);
  EXPECT_EQ(Value(dst.get(), 0, 0), "abc");
  // Copying a NULL value never leaves the two buffers sharing its block.
  ASSERT_EQ(RB_CopyRow(dst.get(), src.get(), 1, 1, false), 0);
  EXPECT_EQ(dst->columns[0].indicators[1], RB_IND_NULL);
  EXPECT_EQ(Block(dst.get(), 0, 1), nullptr);
  EXPECT_NE(Block(src.get(), 0, 1), nullptr);
  // A row onto itself changes nothing.
  ASSERT_EQ(RB_CopyRow(dst.get(), dst.get(), 0, 0, false), 0);
  EXPECT_EQ(Value(dst.get(), 0, 0), "abc");
}

TEST(RowBufferRows, Reverse) {
  RowBuffer* rb = nullptr;
  {
    Buf proto({{RBT_CHAR_PTR, 0}, {RBT_SLONG, 0}}, 4);
    ASSERT_EQ(RB_CloneEmpty(&rb, proto.get(), 4), 0);
  }
  const char* names[] = {"A", "B", "C"};
  for (int r = 0; r < 3; ++r) {
    SetText(rb, 0, r, names[r]);
    SetSlong(rb, 1, r, r);
  }
  rb->rowCount = 3;
  ASSERT_EQ(RB_Reverse(&rb), 0);
  EXPECT_EQ(rb->rowCapacity, 4);
  EXPECT_EQ(Value(rb, 0, 0), "C");
  EXPECT_EQ(Value(rb, 0, 1), "B");
  EXPECT_EQ(Value(rb, 0, 2), "A");
  EXPECT_EQ(Slong(rb, 1, 0), 2);
  free(RB_Free(rb));

  RowBuffer* empty = nullptr;
  Buf proto({{RBT_CHAR_NTS, 8}}, 0);
  ASSERT_EQ(RB_CloneEmpty(&empty, proto.get(), 0), 0);
  ASSERT_EQ(RB_Reverse(&empty), 0);
  EXPECT_EQ(empty->colCount, 1);
  EXPECT_EQ(empty->columns[0].width, 9u);
  EXPECT_EQ(empty->rowCount, 0);
  free(RB_Free(empty));
  EXPECT_EQ(RB_Reverse(nullptr), KX_ERR_GENERAL);
}

// ---- whole buffers ---------------------------------------------------------------

TEST(RowBufferWhole, CloneHoldsOnlyTheFilledRows) {
  Buf src({{RBT_CHAR_PTR, 0}, {RBT_WCHAR_PTR, 0}, {RBT_CHAR_NTS, 5}}, 10);
  for (int r = 0; r < 4; ++r) {
    SetText(src.get(), 0, r, std::string(static_cast<size_t>(r + 1), 'x'));
    SetWide(src.get(), 1, r, u"\U0001F600");
    SetNts(src.get(), 2, r, "n" + std::to_string(r));
  }
  src->columns[2].indicators[2] = RB_IND_NULL;
  src->rowCount = 4;
  RowBuffer* clone = nullptr;
  ASSERT_EQ(RB_Clone(&clone, src.get()), 0);
  EXPECT_EQ(clone->rowCapacity, 4);
  EXPECT_EQ(clone->rowCount, 4);
  EXPECT_EQ(clone->colCapacity, 3);
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(Value(clone, 0, r), Value(src.get(), 0, r));
    EXPECT_EQ(Value(clone, 1, r), W(u"\U0001F600"));
    EXPECT_NE(Block(clone, 0, r), Block(src.get(), 0, r));
  }
  EXPECT_EQ(Value(clone, 2, 2), "<NULL>");
  EXPECT_EQ(Value(clone, 2, 3), "n3");
  free(RB_Free(clone));

  Buf none({{RBT_SLONG, 0}}, 3);
  ASSERT_EQ(RB_Clone(&clone, none.get()), 0);
  EXPECT_EQ(clone->colCapacity, 1);
  EXPECT_EQ(clone->colCount, 0);
  free(RB_Free(clone));
}

TEST(RowBufferWhole, CloneEmptyReusesTheHeader) {
  Buf src({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 2);
  RowBuffer reuse{};
  ASSERT_EQ(RB_InitColumns(&reuse, 1), 0);
  reuse.columns[0].type = RBT_CHAR_PTR;
  reuse.columns[0].width = 16;
  reuse.colCount = 1;
  ASSERT_EQ(RB_AllocRows(&reuse, 1), 0);
  SetText(&reuse, 0, 0, "released when emptied");
  reuse.rowCount = 1;
  RowBuffer* out = &reuse;
  ASSERT_EQ(RB_CloneEmpty(&out, src.get(), 5), 0);
  EXPECT_EQ(out, &reuse);
  EXPECT_EQ(reuse.colCount, 2);
  EXPECT_EQ(reuse.columns[1].type, RBT_CHAR_PTR);
  EXPECT_EQ(reuse.rowCapacity, 5);
  EXPECT_EQ(reuse.rowCount, 0);
  // Its own layout onto itself.
  ASSERT_EQ(RB_CloneEmpty(&out, &reuse, 2), 0);
  EXPECT_EQ(reuse.colCount, 2);
  EXPECT_EQ(reuse.rowCapacity, 2);
  RB_Free(&reuse);
  EXPECT_EQ(RB_CloneEmpty(nullptr, src.get(), 1), KX_ERR_GENERAL);
  EXPECT_EQ(RB_CloneEmpty(&out, nullptr, 1), KX_ERR_GENERAL);
}

TEST(RowBufferWhole, AppendMovesTheSourceRows) {
  Buf dst({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 4);
  Buf src({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 3);
  for (int r = 0; r < 2; ++r) {
    SetSlong(dst.get(), 0, r, r);
    SetText(dst.get(), 1, r, "d" + std::to_string(r));
  }
  SetText(dst.get(), 1, 3, "spare row block");  // beyond the row count
  dst->rowCount = 2;
  for (int r = 0; r < 3; ++r) {
    SetSlong(src.get(), 0, r, 10 + r);
    SetText(src.get(), 1, r, "s" + std::to_string(r));
  }
  src->rowCount = 3;
  ASSERT_EQ(RB_Append(dst.get(), src.get()), 0);
  EXPECT_EQ(dst->rowCount, 5);
  EXPECT_EQ(dst->rowCapacity, 5);
  EXPECT_EQ(Value(dst.get(), 1, 1), "d1");
  EXPECT_EQ(Value(dst.get(), 1, 2), "s0");
  EXPECT_EQ(Value(dst.get(), 1, 4), "s2");
  EXPECT_EQ(Slong(dst.get(), 0, 4), 12);
  EXPECT_EQ(src->rowCount, 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(Block(src.get(), 1, r), nullptr);
  EXPECT_EQ(Slong(src.get(), 0, 1), 11);

  Buf other({{RBT_SLONG, 0}}, 1);
  other->rowCount = 1;
  EXPECT_EQ(RB_Append(dst.get(), other.get()), KX_ERR_GENERAL);
  EXPECT_EQ(RB_Append(dst.get(), dst.get()), KX_ERR_GENERAL);
}

TEST(RowBufferWhole, JoinColsPutsTheSourceColumnsFirst) {
  Buf dst({{RBT_SLONG, 0}}, 3);   // Z
  Buf src({{RBT_CHAR_PTR, 0}, {RBT_CHAR_NTS, 3}}, 5);  // X, Y with a larger capacity
  for (int r = 0; r < 2; ++r) {
    SetSlong(dst.get(), 0, r, 100 + r);
    SetText(src.get(), 0, r, "x" + std::to_string(r));
    SetNts(src.get(), 1, r, "y" + std::to_string(r));
  }
  SetText(src.get(), 0, 4, "beyond the destination's capacity");
  dst->rowCount = src->rowCount = 2;
  ASSERT_EQ(RB_JoinCols(dst.get(), src.get()), 0);
  EXPECT_EQ(dst->colCount, 3);
  EXPECT_EQ(dst->colCapacity, 3);
  EXPECT_EQ(Value(dst.get(), 0, 1), "x1");
  EXPECT_EQ(Value(dst.get(), 1, 0), "y0");
  EXPECT_EQ(Slong(dst.get(), 2, 1), 101);
  EXPECT_EQ(src->columns[0].type, RBT_CHAR_PTR);
  EXPECT_EQ(src->columns[1].width, 4u);
  EXPECT_EQ(src->columns[0].data, nullptr);
  EXPECT_EQ(src->columns[0].indicators, nullptr);
  // The joined columns live within the destination's row capacity.
  dst->rowCount = 2;
  ASSERT_EQ(RB_InsertRow(dst.get(), 0), 0);
  EXPECT_EQ(Value(dst.get(), 0, 2), "x1");

  Buf a({{RBT_SLONG, 0}}, 2);
  Buf b({{RBT_SLONG, 0}}, 2);
  a->rowCount = 1;
  EXPECT_EQ(RB_JoinCols(a.get(), b.get()), KX_ERR_GENERAL);  // row counts differ
}

// ---- columns ---------------------------------------------------------------------

TEST(RowBufferColumns, InsertHasStorageForTheWholeCapacity) {
  Buf b({{RBT_SLONG, 0}, {RBT_SLONG, 0}}, 4);
  SetSlong(b.get(), 0, 0, 1);
  SetSlong(b.get(), 1, 0, 2);
  b->rowCount = 1;
  ASSERT_EQ(RB_InsertCol(b.get(), 1, RBT_CHAR_PTR, 16), 0);
  EXPECT_EQ(b->colCount, 3);
  EXPECT_EQ(b->colCapacity, 3);
  EXPECT_EQ(b->columns[1].indicators[0], -1);
  EXPECT_EQ(Slong(b.get(), 2, 0), 2);
  // Rows up to the capacity can be inserted and filled in the new column.
  for (int k = 0; k < 3; ++k) ASSERT_EQ(RB_InsertRow(b.get(), b->rowCount), 0);
  SetText(b.get(), 1, 3, "last");
  EXPECT_EQ(Value(b.get(), 1, 3), "last");
  ASSERT_EQ(RB_InsertCol(b.get(), 3, RBT_SLONG, 4), 0);  // append
  EXPECT_EQ(b->colCount, 4);
  EXPECT_EQ(RB_InsertCol(b.get(), 9, RBT_SLONG, 4), KX_ERR_GENERAL);
  EXPECT_EQ(RB_InsertCol(b.get(), 0, RBT_CHAR_PTR, 8), KX_ERR_GENERAL);  // no room for the pointer
  // Storage beyond any allocator's reach is refused, the buffer unchanged.
  Buf many({{RBT_SLONG, 0}}, 1000);
  EXPECT_EQ(RB_InsertCol(many.get(), 0, RBT_CHAR_NTS, 0x80000000u), KX_ERR_NOMEM);
  EXPECT_EQ(many->colCount, 1);
}

TEST(RowBufferColumns, DeleteAndInfo) {
  Buf b({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}, {RBT_CHAR_NTS, 3}}, 2);
  SetText(b.get(), 1, 0, "y");
  SetNts(b.get(), 2, 0, "z");
  b->rowCount = 1;
  ASSERT_EQ(RB_DeleteCol(b.get(), 0), 0);
  EXPECT_EQ(b->colCount, 2);
  uint32_t type = 0, width = 0;
  ASSERT_EQ(RB_ColInfo(b.get(), 0, &type, &width), 0);
  EXPECT_EQ(type, RBT_CHAR_PTR);
  EXPECT_EQ(width, 16u);
  EXPECT_EQ(Value(b.get(), 0, 0), "y");
  EXPECT_EQ(Value(b.get(), 1, 0), "z");
  EXPECT_EQ(b->columns[2].data, nullptr);
  EXPECT_EQ(RB_ColInfo(b.get(), 2, &type, &width), KX_ERR_GENERAL);
  EXPECT_EQ(RB_DeleteCol(b.get(), 2), KX_ERR_GENERAL);
  ASSERT_EQ(RB_DeleteCol(b.get(), 0), 0);  // the block goes with it
  EXPECT_EQ(Value(b.get(), 0, 0), "z");
}

TEST(RowBufferColumns, CopyColDuplicates) {
  Buf src({{RBT_CHAR_PTR, 0}, {RBT_SLONG, 0}}, 3);
  SetText(src.get(), 0, 0, "a");
  SetText(src.get(), 0, 1, "bb");
  src->rowCount = 2;
  Buf dst({{RBT_SLONG, 0}, {RBT_CHAR_PTR, 0}}, 4);  // empty destination
  ASSERT_EQ(RB_CopyCol(dst.get(), src.get(), 1, 0), 0);
  EXPECT_EQ(dst->rowCount, 2);
  EXPECT_EQ(Value(dst.get(), 1, 1), "bb");
  EXPECT_NE(Block(dst.get(), 1, 1), Block(src.get(), 0, 1));
  // Again, now that the destination holds rows: the old blocks are released.
  ASSERT_EQ(RB_CopyCol(dst.get(), src.get(), 1, 0), 0);
  EXPECT_EQ(Value(dst.get(), 1, 0), "a");
  // The copy has storage for the destination's whole row capacity.
  EXPECT_EQ(dst->rowCapacity, 4);
  ASSERT_EQ(RB_InsertRow(dst.get(), 0), 0);
  ASSERT_EQ(RB_InsertRow(dst.get(), 3), 0);
  SetText(dst.get(), 1, 3, "last row");
  EXPECT_EQ(Value(dst.get(), 1, 2), "bb");
  dst->rowCount = 2;  // back to the source's row count (the rows beyond stay owned)
  EXPECT_EQ(RB_CopyCol(dst.get(), src.get(), 0, 0), KX_ERR_GENERAL);  // type differs
  EXPECT_EQ(RB_CopyCol(dst.get(), dst.get(), 1, 1), KX_ERR_GENERAL);
  src->rowCount = 1;
  EXPECT_EQ(RB_CopyCol(dst.get(), src.get(), 1, 0), KX_ERR_GENERAL);  // row counts differ
}

TEST(RowBufferColumns, WidenFixedText) {
  Buf b({{RBT_CHAR, 4}}, 3);
  memcpy(El(b.get(), 0, 0), "ab\0\0", 4);
  b->columns[0].indicators[0] = 0;
  memcpy(El(b.get(), 0, 2), "wxyz", 4);
  b->columns[0].indicators[2] = 0;
  b->rowCount = 3;
  ASSERT_EQ(RB_WidenCol(b.get(), 0, 10, true), 0);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR_LEN4);
  EXPECT_EQ(b->columns[0].width, 16u);
  EXPECT_EQ(Value(b.get(), 0, 0), "ab");
  EXPECT_EQ(Value(b.get(), 0, 1), "<NULL>");
  EXPECT_EQ(Value(b.get(), 0, 2), "wxyz");
  ASSERT_EQ(RB_WidenCol(b.get(), 0, 5, true), 0);  // already wide enough
  EXPECT_EQ(b->columns[0].width, 16u);

  Buf w({{RBT_WCHAR, 3}, {RBT_BINARY, 2}, {RBT_WCHAR_NTS, 2}}, 1);
  memcpy(El(w.get(), 0, 0), u"ab\0", 6);
  memcpy(El(w.get(), 1, 0), "\x01\x00", 2);
  SetWideNts(w.get(), 2, 0, u"hi");
  w->columns[0].indicators[0] = w->columns[1].indicators[0] = 0;
  w->rowCount = 1;
  ASSERT_EQ(RB_WidenCol(w.get(), 0, 2, false), 0);  // smaller size: the old text still fits
  EXPECT_EQ(w->columns[0].type, RBT_WCHAR_LEN4);
  EXPECT_GE(w->columns[0].width, 10u);
  EXPECT_EQ(Value(w.get(), 0, 0), W(std::u16string(u"ab\0", 3)));
  ASSERT_EQ(RB_WidenCol(w.get(), 1, 8, false), 0);
  EXPECT_EQ(w->columns[1].type, RBT_BINARY_LEN4);
  EXPECT_EQ(Value(w.get(), 1, 0), std::string("\x01\x00", 2));
  ASSERT_EQ(RB_WidenCol(w.get(), 2, 20, false), 0);
  EXPECT_EQ(w->columns[2].width, 42u);
  EXPECT_EQ(Value(w.get(), 2, 0), W(u"hi"));
  EXPECT_EQ(RB_WidenCol(w.get(), 2, 0x7FFFFFFF, false), KX_ERR_GENERAL);  // width beyond 32 bits
  EXPECT_EQ(w->columns[2].width, 42u);
  EXPECT_EQ(RB_WidenCol(w.get(), 3, 20, false), KX_ERR_GENERAL);
}

TEST(RowBufferColumns, WidenPointerBlocks) {
  Buf b({{RBT_CHAR_PTR, 0}, {RBT_WCHAR_PTR, 0}}, 2);
  SetText(b.get(), 0, 0, "abc");
  SetWide(b.get(), 1, 0, u"ab");
  b->rowCount = 2;
  ASSERT_EQ(RB_WidenCol(b.get(), 0, 64, false), 0);
  ASSERT_EQ(RB_WidenCol(b.get(), 1, 32, false), 0);
  EXPECT_EQ(Value(b.get(), 0, 0), "abc");
  EXPECT_EQ(Value(b.get(), 1, 0), W(u"ab"));
  // The blocks now hold the full size: writing up to it is safe (ASan).
  memset(Block(b.get(), 0, 0), 'q', 64);
  memset(Block(b.get(), 1, 0), 'q', 64);
  memset(Block(b.get(), 0, 1), 'q', 64);
}

// ---- values --------------------------------------------------------------------

TEST(RowBufferValues, GetValueReadsEachLayout) {
  Buf b({{RBT_CHAR_LEN4, 8}, {RBT_WCHAR_NTS, 4}, {RBT_CHAR_LEN1, 4}, {RBT_SLONG, 0},
         {RBT_WCHAR_LEN4, 4}},
        2);
  SetLen4(b.get(), 0, 0, "hello");
  SetWideNts(b.get(), 1, 0, u"h\u00E9");
  memcpy(El(b.get(), 2, 0), "\x03xyz", 4);
  b->columns[2].indicators[0] = 0;
  SetSlong(b.get(), 3, 0, -2);
  uint32_t n = 2;
  memcpy(El(b.get(), 4, 0), &n, 4);
  memcpy(El(b.get(), 4, 0) + 4, u"ok", 4);
  b->columns[4].indicators[0] = 0;
  b->rowCount = 2;

  char out[16];
  uint32_t len = 3;
  ASSERT_EQ(RB_GetValue(b.get(), 0, 0, out, &len), 0);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::string(out, 3), "hel");
  EXPECT_EQ(Value(b.get(), 0, 0), "hello");
  EXPECT_EQ(Value(b.get(), 1, 0), W(u"h\u00E9"));
  EXPECT_EQ(Value(b.get(), 2, 0), "xyz");
  EXPECT_EQ(Value(b.get(), 3, 0).size(), 4u);
  EXPECT_EQ(Value(b.get(), 4, 0), W(u"ok"));
  len = 10;
  ASSERT_EQ(RB_GetValue(b.get(), 1, 0, out, &len), 0);  // NULL
  EXPECT_EQ(len, 0u);
  len = 0;
  ASSERT_EQ(RB_GetValue(b.get(), 0, 0, out, &len), 0);
  EXPECT_EQ(len, 0u);
  // A length prefix beyond the element's room is read as the room.
  uint32_t bogus = 1000;
  memcpy(El(b.get(), 0, 1), &bogus, 4);
  b->columns[0].indicators[1] = 0;
  EXPECT_EQ(Value(b.get(), 0, 1).size(), 8u);
  len = 4;
  EXPECT_EQ(RB_GetValue(b.get(), 2, 0, out, &len), KX_ERR_GENERAL);
  EXPECT_EQ(RB_GetValue(b.get(), 0, 5, out, &len), KX_ERR_GENERAL);
}

TEST(RowBufferValues, ToNarrowConvertsEachRowInPlace) {
  Buf b({{RBT_WCHAR_NTS, 3}}, 4);
  SetWideNts(b.get(), 0, 1, u"ab");
  SetWideNts(b.get(), 0, 2, u"c");
  b->rowCount = 3;
  ASSERT_EQ(RB_ToNarrow(b.get()), 0);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR_NTS);
  EXPECT_EQ(b->columns[0].width, 8u);  // unchanged: the text fits
  EXPECT_EQ(Value(b.get(), 0, 0), "<NULL>");
  EXPECT_STREQ(reinterpret_cast<char*>(El(b.get(), 0, 1)), "ab");
  EXPECT_STREQ(reinterpret_cast<char*>(El(b.get(), 0, 2)), "c");
}

TEST(RowBufferValues, ToNarrowMakesRoomForMultiByteCharacters) {
  Buf b({{RBT_WCHAR, 2}, {RBT_WCHAR_PTR, 0}, {RBT_WCHAR_LEN4, 2}, {RBT_SLONG, 0}}, 2);
  memcpy(El(b.get(), 0, 0), u"\u20AC\u20AC", 4);  // 4 bytes of UTF-16, 6 of UTF-8
  b->columns[0].indicators[0] = 0;
  SetWide(b.get(), 1, 0, u"x\U0001F600");
  SetWide(b.get(), 1, 1, u"");
  uint32_t n = 2;
  memcpy(El(b.get(), 2, 1), &n, 4);
  memcpy(El(b.get(), 2, 1) + 4, u"\U0001F600", 4);
  b->columns[2].indicators[1] = 0;
  SetSlong(b.get(), 3, 1, 42);
  b->rowCount = 2;
  ASSERT_EQ(RB_ToNarrow(b.get()), 0);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR_NTS);
  EXPECT_EQ(b->columns[0].width, 7u);
  EXPECT_STREQ(reinterpret_cast<char*>(El(b.get(), 0, 0)), "\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(b->columns[1].type, RBT_CHAR_PTR);
  EXPECT_EQ(Value(b.get(), 1, 0), "x\xF0\x9F\x98\x80");
  EXPECT_EQ(Value(b.get(), 1, 1), "");
  EXPECT_EQ(b->columns[2].type, RBT_CHAR_LEN4);
  EXPECT_EQ(Value(b.get(), 2, 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Value(b.get(), 2, 0), "<NULL>");
  EXPECT_EQ(Slong(b.get(), 3, 1), 42);
}

TEST(RowBufferValues, TruncateFixedAndTerminatedText) {
  Buf b({{RBT_CHAR, 10}, {RBT_CHAR_NTS, 19}}, 3);
  memcpy(El(b.get(), 0, 0), "0123456789", 10);
  memcpy(El(b.get(), 0, 2), "abcdefghij", 10);
  b->columns[0].indicators[0] = b->columns[0].indicators[2] = 0;
  SetNts(b.get(), 1, 1, "a long text value");
  SetNts(b.get(), 1, 2, "ab");
  b->rowCount = 3;
  ASSERT_EQ(RB_Truncate(b.get(), 4), 0);
  EXPECT_EQ(b->columns[0].type, RBT_CHAR_LEN4);
  EXPECT_EQ(b->columns[0].width, 16u);
  EXPECT_EQ(Value(b.get(), 0, 0), "0123");
  EXPECT_EQ(Value(b.get(), 0, 2), "abcd");
  uint32_t len;
  memcpy(&len, El(b.get(), 0, 1), 4);
  EXPECT_EQ(len, 0u);  // NULL row
  EXPECT_EQ(Value(b.get(), 1, 1), "a lo");
  EXPECT_EQ(Value(b.get(), 1, 2), "ab");
  EXPECT_EQ(Value(b.get(), 1, 0), "<NULL>");
}

TEST(RowBufferValues, TruncateNeverSplitsACharacter) {
  Buf b({{RBT_CHAR_PTR, 0}, {RBT_WCHAR_PTR, 0}, {RBT_BINARY_LEN4, 8}, {RBT_WCHAR, 4},
         {RBT_CHAR_LEN2, 8}, {RBT_WCHAR_NTS, 8}},
        1);
  SetText(b.get(), 0, 0, "abc\xE2\x82\xAC");  // the euro sign starts at byte 3
  SetWide(b.get(), 1, 0, u"abc\U0001F600");  // the pair starts at unit 3
  SetLen4(b.get(), 2, 0, "\x01\x02\x03\xE2\x82\xAC");
  memcpy(El(b.get(), 3, 0), u"xyz\u00E9", 8);
  b->columns[3].indicators[0] = 0;
  uint16_t n2 = 6;
  memcpy(El(b.get(), 4, 0), &n2, 2);
  memcpy(El(b.get(), 4, 0) + 2, "ab\xF0\x9F\x98\x80", 6);
  b->columns[4].indicators[0] = 0;
  SetWideNts(b.get(), 5, 0, u"abc\U0001F600");
  b->rowCount = 1;
  ASSERT_EQ(RB_Truncate(b.get(), 4), 0);
  EXPECT_EQ(Value(b.get(), 0, 0), "abc");
  EXPECT_EQ(Value(b.get(), 1, 0), W(u"abc"));
  EXPECT_EQ(Value(b.get(), 2, 0), "\x01\x02\x03\xE2");  // binary: cut where asked
  EXPECT_EQ(b->columns[3].type, RBT_WCHAR);             // 4 units: nothing to cut
  EXPECT_EQ(Value(b.get(), 4, 0), "ab");
  EXPECT_EQ(Value(b.get(), 5, 0), W(u"abc"));
  ASSERT_EQ(RB_Truncate(b.get(), 2), 0);
  EXPECT_EQ(b->columns[3].type, RBT_WCHAR_LEN4);
  EXPECT_EQ(Value(b.get(), 3, 0), W(u"xy"));
}

}  // namespace
}  // namespace kx
