// Row buffer operations that reshape buffers by rows and columns, read one
// value, narrow wide text and cut values to a maximum length (see
// row_buffer.h).
//
// Every operation that can fail half-way prepares the new storage first and
// commits only when nothing can fail any more, so a failure leaves the
// buffers as they were (the exceptions are noted where they occur).
#include <cstdlib>
#include <cstring>
#include <limits>

#include "util/errcodes.h"
#include "util/row_buffer.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// Counts and pointers agree: a buffer the operations can work on.
bool Sound(const RowBuffer* rb) {
  if (!rb || rb->colCount > rb->colCapacity || (rb->colCount > 0 && !rb->columns)) return false;
  if (rb->rowCount < 0 || rb->rowCapacity < 0 || rb->rowCount > rb->rowCapacity) return false;
  for (uint16_t c = 0; c < rb->colCount; ++c) {
    const RowBufferColumn& col = rb->columns[c];
    if (rb->rowCapacity > 0 && (!col.data || !col.indicators)) return false;
    if (RB_IsPtrType(col.type) && col.width < sizeof(RBPtrValue)) return false;
  }
  return true;
}

bool SameLayout(const RowBuffer* a, const RowBuffer* b) {
  if (a->colCount != b->colCount) return false;
  for (uint16_t c = 0; c < a->colCount; ++c)
    if (a->columns[c].type != b->columns[c].type || a->columns[c].width != b->columns[c].width)
      return false;
  return true;
}

// memcpy/memmove that accept empty storage (NULL pointers) for 0 bytes.
void Copy(void* to, const void* from, size_t bytes) {
  if (bytes > 0) memcpy(to, from, bytes);
}
void Move(void* to, const void* from, size_t bytes) {
  if (bytes > 0) memmove(to, from, bytes);
}

unsigned char* Elem(const RowBufferColumn& col, int32_t row) {
  return RB_Element(&col, static_cast<size_t>(row));
}

// Copy of a block of bytes (at least one byte is allocated).
void* DupBlock(const void* block, size_t bytes) {
  void* copy = malloc(bytes > 0 ? bytes : 1);
  if (copy && bytes > 0) memcpy(copy, block, bytes);
  return copy;
}

// Releases the block of a pointer element and leaves it empty.
void ReleaseValue(unsigned char* e) {
  RBPtrValue v = RB_GetPtrValue(e);
  free(v.block);
  RB_SetPtrValue(e, RBPtrValue{0, nullptr});
}

uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
void Store32(unsigned char* p, uint32_t v) { memcpy(p, &v, 4); }
uint16_t Load16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}
void Store16(unsigned char* p, uint16_t v) { memcpy(p, &v, 2); }

// Units of 16-bit text at p (not necessarily aligned) before the first NUL,
// within max units.
size_t WideLen(const unsigned char* p, size_t max) {
  size_t n = 0;
  while (n < max && Load16(p + 2 * n) != 0) ++n;
  return n;
}

// Cut at or below n for 16-bit text at p that has more than n units, without
// splitting a surrogate pair.
size_t WideCut(const unsigned char* p, size_t n) {
  if (n > 0) {
    uint16_t hi = Load16(p + 2 * (n - 1)), lo = Load16(p + 2 * n);
    if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) return n - 1;
  }
  return n;
}

// Storage for rows rows of a column of the given type and width, not yet
// attached to a buffer.
int NewColumn(uint32_t type, uint32_t width, int32_t rows, RowBufferColumn* out) {
  RowBufferColumn col{type, width, nullptr, nullptr};
  int rc = RB_ColumnAlloc(&col, rows);
  if (rc == KX_OK) *out = col;
  return rc;
}

// Copies rows [0, rows) of a column into fresh storage of the same layout;
// blocks of the pointer types are duplicated for values that are not NULL
// (a NULL value never shares a block). On 16 the copy is released.
int CopyColumnRows(const RowBufferColumn& src, int32_t rows, RowBufferColumn* dst) {
  if (rows <= 0) return KX_OK;
  size_t n = static_cast<size_t>(rows);
  Copy(dst->data, src.data, n * src.width);
  Copy(dst->indicators, src.indicators, n * sizeof(int16_t));
  if (!RB_IsPtrType(src.type)) return KX_OK;
  for (int32_t r = 0; r < rows; ++r) {
    RBPtrValue v = RB_GetPtrValue(Elem(src, r));
    RB_SetPtrValue(Elem(*dst, r), RBPtrValue{v.length, nullptr});
  }
  for (int32_t r = 0; r < rows; ++r) {
    RBPtrValue v = RB_GetPtrValue(Elem(src, r));
    if (!v.block || src.indicators[r] == RB_IND_NULL) continue;
    void* copy = DupBlock(v.block, RB_PtrBytes(src.type, v.length));
    if (!copy) {
      RB_ColumnFree(dst, rows);
      return KX_ERR_NOMEM;
    }
    RB_SetPtrValue(Elem(*dst, r), RBPtrValue{v.length, copy});
  }
  return KX_OK;
}

// Frees the blocks of rows [from, to) of a pointer column.
void ReleaseRows(RowBufferColumn& col, int32_t from, int32_t to) {
  if (!RB_IsPtrType(col.type) || !col.data) return;
  for (int32_t r = from; r < to; ++r) ReleaseValue(Elem(col, r));
}

}  // namespace

// ---- rows ----------------------------------------------------------------------

int RB_InsertRow(RowBuffer* rb, int32_t i) {
  if (!Sound(rb) || rb->colCount == 0 || rb->rowCount >= rb->rowCapacity || i < 0 ||
      i > rb->rowCount)
    return KX_ERR_GENERAL;
  for (uint16_t c = 0; c < rb->colCount; ++c) {
    RowBufferColumn& col = rb->columns[c];
    size_t w = col.width;
    if (i < rb->rowCount) {
      // The spare row is overwritten: a block it still held would be lost.
      if (RB_IsPtrType(col.type)) ReleaseValue(Elem(col, rb->rowCount));
      size_t moved = static_cast<size_t>(rb->rowCount - i);
      memmove(Elem(col, i + 1), Elem(col, i), moved * w);
      memmove(col.indicators + i + 1, col.indicators + i, moved * sizeof(int16_t));
      memset(Elem(col, i), 0, w);
    }
    col.indicators[i] = RB_IND_NULL;
  }
  rb->rowCount++;
  return KX_OK;
}

int RB_RowsEqual(const RowBuffer* a, int32_t i, const RowBuffer* b, int32_t j, int* equal) {
  if (!equal || !Sound(a) || !Sound(b) || a->rowCount <= 0 || b->rowCount <= 0 || i < 0 || j < 0 ||
      i >= a->rowCount || j >= b->rowCount || a->colCount != b->colCount)
    return KX_ERR_GENERAL;
  *equal = 0;
  for (uint16_t c = 0; c < a->colCount; ++c) {
    const RowBufferColumn& ca = a->columns[c];
    const RowBufferColumn& cb = b->columns[c];
    if (ca.type != cb.type || ca.width != cb.width) return KX_ERR_GENERAL;
    const unsigned char* ea = Elem(ca, i);
    const unsigned char* eb = Elem(cb, j);
    if (RB_IsPtrType(ca.type)) {
      RBPtrValue va = RB_GetPtrValue(ea), vb = RB_GetPtrValue(eb);
      if (va.length != vb.length) return KX_OK;
      size_t bytes = RB_PtrBytes(ca.type, va.length);
      if (bytes > 0) {
        if (!va.block || !vb.block) {
          if (va.block != vb.block) return KX_OK;
        } else if (memcmp(va.block, vb.block, bytes) != 0) {
          return KX_OK;
        }
      }
    } else if (memcmp(ea, eb, ca.width) != 0) {
      return KX_OK;
    }
  }
  *equal = 1;
  return KX_OK;
}

int RB_CopyRow(RowBuffer* dst, RowBuffer* src, int32_t a, int32_t b, bool move) {
  if (!Sound(dst) || !Sound(src) || dst->colCount != src->colCount || src->rowCount <= 0 || b < 0 ||
      b >= src->rowCount || a < 0)
    return KX_ERR_GENERAL;
  bool append = a >= dst->rowCount;
  if (append) {
    if (dst->rowCapacity <= 0 || a >= dst->rowCapacity) return KX_ERR_GENERAL;
    a = dst->rowCount;
  }
  // Layouts are checked before anything is written.
  if (!SameLayout(dst, src)) return KX_ERR_GENERAL;
  if (dst == src && a == b) return KX_OK;  // a row onto itself
  for (uint16_t c = 0; c < dst->colCount; ++c) {
    RowBufferColumn& dc = dst->columns[c];
    RowBufferColumn& sc = src->columns[c];
    unsigned char* de = Elem(dc, a);
    unsigned char* se = Elem(sc, b);
    bool ptr = RB_IsPtrType(dc.type);
    // Any block the destination holds goes, whatever its indicator says.
    if (ptr) {
      ReleaseValue(de);
      dc.indicators[a] = RB_IND_NULL;
    }
    memcpy(de, se, dc.width);
    dc.indicators[a] = sc.indicators[b];
    if (!ptr) continue;
    RBPtrValue v = RB_GetPtrValue(se);
    if (!v.block) continue;
    if (move) {
      RB_SetPtrValue(se, RBPtrValue{v.length, nullptr});
    } else if (sc.indicators[b] == RB_IND_NULL) {
      RB_SetPtrValue(de, RBPtrValue{v.length, nullptr});
    } else {
      void* copy = DupBlock(v.block, RB_PtrBytes(dc.type, v.length));
      if (!copy) {
        RB_SetPtrValue(de, RBPtrValue{0, nullptr});
        dc.indicators[a] = RB_IND_NULL;
        return KX_ERR_NOMEM;
      }
      RB_SetPtrValue(de, RBPtrValue{v.length, copy});
    }
  }
  if (append) dst->rowCount++;
  return KX_OK;
}

int RB_Reverse(RowBuffer** rb) {
  if (!rb || !*rb || !Sound(*rb)) return KX_ERR_GENERAL;
  RowBuffer* old = *rb;
  RowBuffer* rev = nullptr;
  int rc = RB_CloneEmpty(&rev, old, old->rowCapacity);
  if (rc != KX_OK) return rc;
  for (int32_t k = 0; k < old->rowCount && rc == KX_OK; ++k)
    rc = RB_CopyRow(rev, old, k, old->rowCount - 1 - k, false);
  if (rc != KX_OK) {
    free(RB_Free(rev));
    return rc;
  }
  free(RB_Free(old));
  *rb = rev;
  return KX_OK;
}

// ---- whole buffers ---------------------------------------------------------------

int RB_Clone(RowBuffer** out, const RowBuffer* src) {
  if (!out || !Sound(src)) return KX_ERR_GENERAL;
  RowBuffer* h = static_cast<RowBuffer*>(calloc(1, sizeof(RowBuffer)));
  if (!h) return KX_ERR_NOMEM;
  int rc = RB_InitColumns(h, src->colCapacity);
  if (rc == KX_OK && src->rowCount > 0) {
    int32_t rows = src->rowCount;
    h->rowCapacity = rows;
    for (uint16_t c = 0; c < src->colCount && rc == KX_OK; ++c) {
      const RowBufferColumn& sc = src->columns[c];
      rc = NewColumn(sc.type, sc.width, rows, &h->columns[c]);
      h->columns[c].type = sc.type;
      h->columns[c].width = sc.width;
      if (rc == KX_OK) rc = CopyColumnRows(sc, rows, &h->columns[c]);
    }
    h->colCount = src->colCount;
    h->rowCount = rows;
  }
  if (rc != KX_OK) {
    free(RB_Free(h));
    return rc;
  }
  *out = h;
  return KX_OK;
}

int RB_CloneEmpty(RowBuffer** out, const RowBuffer* src, int32_t rows) {
  if (!out || !Sound(src) || rows < 0) return KX_ERR_GENERAL;
  // The layout is read before *out is emptied: it may be the source itself.
  uint16_t capacity = src->colCapacity, count = src->colCount;
  RowBufferColumn* layout = nullptr;
  if (count > 0) {
    layout = static_cast<RowBufferColumn*>(calloc(count, sizeof(RowBufferColumn)));
    if (!layout) return KX_ERR_NOMEM;
    for (uint16_t c = 0; c < count; ++c) {
      layout[c].type = src->columns[c].type;
      layout[c].width = src->columns[c].width;
    }
  }
  RowBuffer* h = *out;
  bool fresh = h == nullptr;
  if (fresh) {
    h = static_cast<RowBuffer*>(calloc(1, sizeof(RowBuffer)));
  } else {
    RB_Free(h);
  }
  int rc = h ? RB_InitColumns(h, capacity) : KX_ERR_NOMEM;
  if (rc == KX_OK) {
    for (uint16_t c = 0; c < count; ++c) {
      h->columns[c].type = layout[c].type;
      h->columns[c].width = layout[c].width;
    }
    h->colCount = count;
    rc = RB_AllocRows(h, rows);
  }
  free(layout);
  if (rc != KX_OK) {
    if (h) RB_Free(h);
    if (fresh) free(h);
    return rc;
  }
  *out = h;
  return KX_OK;
}

int RB_Append(RowBuffer* dst, RowBuffer* src) {
  if (!Sound(dst) || !Sound(src) || dst == src) return KX_ERR_GENERAL;
  if (src->rowCount == 0) return KX_OK;
  if (!SameLayout(dst, src)) return KX_ERR_GENERAL;
  int64_t total = int64_t{dst->rowCount} + src->rowCount;
  if (total > std::numeric_limits<int32_t>::max()) return KX_ERR_GENERAL;
  int32_t sum = static_cast<int32_t>(total);
  uint16_t n = dst->colCount;
  RowBufferColumn* fresh = nullptr;
  if (n > 0) {
    fresh = static_cast<RowBufferColumn*>(calloc(n, sizeof(RowBufferColumn)));
    if (!fresh) return KX_ERR_NOMEM;
  }
  for (uint16_t c = 0; c < n; ++c) {
    int rc = NewColumn(dst->columns[c].type, dst->columns[c].width, sum, &fresh[c]);
    if (rc != KX_OK) {
      for (uint16_t k = 0; k < c; ++k) RB_ColumnFree(&fresh[k], 0);
      free(fresh);
      return rc;
    }
  }
  // Nothing can fail from here on: values and their blocks move.
  size_t dRows = static_cast<size_t>(dst->rowCount), sRows = static_cast<size_t>(src->rowCount);
  for (uint16_t c = 0; c < n; ++c) {
    RowBufferColumn& dc = dst->columns[c];
    RowBufferColumn& sc = src->columns[c];
    RowBufferColumn& nc = fresh[c];
    size_t w = dc.width;
    Copy(nc.data, dc.data, dRows * w);
    Copy(nc.indicators, dc.indicators, dRows * sizeof(int16_t));
    Copy(nc.data + dRows * w, sc.data, sRows * w);
    Copy(nc.indicators + dRows, sc.indicators, sRows * sizeof(int16_t));
    if (RB_IsPtrType(sc.type)) {
      for (int32_t r = 0; r < src->rowCount; ++r) {
        RBPtrValue v = RB_GetPtrValue(Elem(sc, r));
        RB_SetPtrValue(Elem(sc, r), RBPtrValue{v.length, nullptr});
      }
    }
    // Blocks of the old storage's spare rows did not move: they go.
    ReleaseRows(dc, dst->rowCount, dst->rowCapacity);
    free(dc.data);
    free(dc.indicators);
    dc.data = nc.data;
    dc.indicators = nc.indicators;
  }
  free(fresh);
  dst->rowCount = sum;
  dst->rowCapacity = sum;
  return KX_OK;
}

int RB_JoinCols(RowBuffer* dst, RowBuffer* src) {
  if (!Sound(dst) || !Sound(src) || dst == src || !dst->columns || !src->columns ||
      dst->rowCount != src->rowCount)
    return KX_ERR_GENERAL;
  uint32_t total = uint32_t{dst->colCount} + src->colCount;
  if (total > std::numeric_limits<uint16_t>::max()) return KX_ERR_GENERAL;
  if (src->colCount == 0) return KX_OK;  // nothing to join
  RowBufferColumn* cols = static_cast<RowBufferColumn*>(calloc(total, sizeof(RowBufferColumn)));
  if (!cols) return KX_ERR_NOMEM;
  // The source's columns must end up with storage for the destination's row
  // capacity, which frees and addresses them from now on.
  bool restore = src->rowCapacity != dst->rowCapacity;
  for (uint16_t c = 0; c < src->colCount; ++c) {
    const RowBufferColumn& sc = src->columns[c];
    cols[c] = sc;
    if (!restore) continue;
    int rc = NewColumn(sc.type, sc.width, dst->rowCapacity, &cols[c]);
    if (rc != KX_OK) {
      for (uint16_t k = 0; k < c; ++k) RB_ColumnFree(&cols[k], 0);
      free(cols);
      return rc;
    }
  }
  for (uint16_t c = 0; c < src->colCount; ++c) {
    RowBufferColumn& sc = src->columns[c];
    if (restore) {
      size_t rows = static_cast<size_t>(src->rowCount);
      Copy(cols[c].data, sc.data, rows * sc.width);
      Copy(cols[c].indicators, sc.indicators, rows * sizeof(int16_t));
      // Blocks of the moved rows now belong to the copy; the rest go.
      if (RB_IsPtrType(sc.type))
        for (int32_t r = 0; r < src->rowCount; ++r)
          RB_SetPtrValue(Elem(sc, r), RBPtrValue{0, nullptr});
      RB_ColumnFree(&sc, src->rowCapacity);
    }
    sc.data = nullptr;
    sc.indicators = nullptr;
  }
  for (uint16_t c = 0; c < dst->colCount; ++c) cols[src->colCount + c] = dst->columns[c];
  for (uint16_t c = dst->colCount; c < dst->colCapacity; ++c)
    RB_ColumnFree(&dst->columns[c], dst->rowCapacity);
  free(dst->columns);
  dst->columns = cols;
  dst->colCount = static_cast<uint16_t>(total);
  dst->colCapacity = static_cast<uint16_t>(total);
  return KX_OK;
}

// ---- columns ---------------------------------------------------------------------

int RB_InsertCol(RowBuffer* rb, uint16_t i, uint32_t type, uint32_t width) {
  if (!Sound(rb) || i > rb->colCount || rb->colCount == std::numeric_limits<uint16_t>::max())
    return KX_ERR_GENERAL;
  if (RB_IsPtrType(type) && width < sizeof(RBPtrValue)) return KX_ERR_GENERAL;
  RowBufferColumn col{};
  // Storage for every allocated row, not only the filled ones: later rows are
  // inserted and appended within the row capacity.
  int rc = NewColumn(type, width, rb->rowCapacity, &col);
  if (rc != KX_OK) return rc;
  uint16_t n = rb->colCount;
  RowBufferColumn* cols = static_cast<RowBufferColumn*>(calloc(n + 1u, sizeof(RowBufferColumn)));
  if (!cols) {
    RB_ColumnFree(&col, 0);
    return KX_ERR_NOMEM;
  }
  for (uint16_t c = 0; c < i; ++c) cols[c] = rb->columns[c];
  cols[i] = col;
  for (uint16_t c = i; c < n; ++c) cols[c + 1] = rb->columns[c];
  if (rb->columns) {
    for (uint16_t c = n; c < rb->colCapacity; ++c) RB_ColumnFree(&rb->columns[c], rb->rowCapacity);
    free(rb->columns);
  }
  rb->columns = cols;
  rb->colCount = static_cast<uint16_t>(n + 1);
  rb->colCapacity = rb->colCount;
  return KX_OK;
}

int RB_DeleteCol(RowBuffer* rb, uint16_t i) {
  if (!Sound(rb) || i >= rb->colCount) return KX_ERR_GENERAL;
  RB_ColumnFree(&rb->columns[i], rb->rowCapacity);
  uint16_t last = static_cast<uint16_t>(rb->colCount - 1);
  Move(&rb->columns[i], &rb->columns[i + 1], (last - i) * sizeof(RowBufferColumn));
  rb->columns[last] = RowBufferColumn{};
  rb->colCount = last;
  return KX_OK;
}

int RB_ColInfo(const RowBuffer* rb, uint16_t i, uint32_t* type, uint32_t* width) {
  if (!rb || !type || !width || !rb->columns || i >= rb->colCount) return KX_ERR_GENERAL;
  *type = rb->columns[i].type;
  *width = rb->columns[i].width;
  return KX_OK;
}

int RB_CopyCol(RowBuffer* dst, const RowBuffer* src, uint16_t i, uint16_t j) {
  if (!Sound(dst) || !Sound(src) || (dst == src && i == j) || i >= dst->colCount ||
      j >= src->colCount || (dst->rowCount > 0 && src->rowCount != dst->rowCount))
    return KX_ERR_GENERAL;
  const RowBufferColumn& sc = src->columns[j];
  RowBufferColumn& dc = dst->columns[i];
  if (sc.type != dc.type || sc.width != dc.width) return KX_ERR_GENERAL;
  if (dst->rowCount == 0 && src->rowCount == 0) return KX_OK;
  int32_t rows = src->rowCount;
  // The new storage covers the destination's row capacity as well, which
  // RB_Free and the row operations rely on.
  int32_t capacity = rows > dst->rowCapacity ? rows : dst->rowCapacity;
  RowBufferColumn col{};
  int rc = NewColumn(sc.type, sc.width, capacity, &col);
  if (rc == KX_OK) rc = CopyColumnRows(sc, rows, &col);
  if (rc != KX_OK) return rc;
  RB_ColumnFree(&dc, dst->rowCapacity);
  dc.data = col.data;
  dc.indicators = col.indicators;
  if (dst->rowCount == 0) {
    dst->rowCount = rows;
    dst->rowCapacity = capacity;
  }
  return KX_OK;
}

int RB_WidenCol(RowBuffer* rb, uint16_t i, uint32_t size, bool useTextLength) {
  if (!Sound(rb) || i >= rb->colCount) return KX_ERR_GENERAL;
  RowBufferColumn& col = rb->columns[i];
  uint32_t t = col.type, w = col.width, newType = t, nw = 0;
  int rc = KX_OK;
  switch (t) {
    case RBT_CHAR:
    case RBT_BINARY:
      if (w >= size) return KX_OK;
      newType = t == RBT_CHAR ? RBT_CHAR_LEN4 : RBT_BINARY_LEN4;
      rc = RB_ElementSizeChecked(newType, size, &nw);
      break;
    case RBT_WCHAR: {
      newType = RBT_WCHAR_LEN4;
      rc = RB_ElementSizeChecked(newType, size, &nw);
      if (rc == KX_OK && w >= nw) return KX_OK;
      // The old text must fit after the count even when size is below it.
      uint32_t keep = 0;
      if (rc == KX_OK) rc = RB_ElementSizeChecked(newType, w / 2, &keep);
      if (keep > nw) nw = keep;
      break;
    }
    case RBT_CHAR_NTS:
    case RBT_CHAR_LEN1:
    case RBT_CHAR_LEN2:
    case RBT_CHAR_LEN4:
    case RBT_BINARY_LEN1:
    case RBT_BINARY_LEN2:
    case RBT_BINARY_LEN4:
    case RBT_WCHAR_NTS:
    case RBT_WCHAR_LEN4:
      rc = RB_ElementSizeChecked(t, size, &nw);
      if (rc == KX_OK && w >= nw) return KX_OK;
      break;
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR:
    case RBT_WCHAR_PTR: {
      // Blocks of at least size bytes (size units for 16-bit text).
      size_t need = t == RBT_WCHAR_PTR ? size_t{size} * 2 : size_t{size};
      if (need > RB_MAX_BLOCK) return KX_ERR_NOMEM;
      for (int32_t r = 0; r < rb->rowCount; ++r) {
        unsigned char* e = Elem(col, r);
        RBPtrValue v = RB_GetPtrValue(e);
        size_t have = RB_PtrBytes(t, v.length);
        if (have >= need) continue;
        void* block = calloc(need, 1);
        if (!block) return KX_ERR_NOMEM;
        if (col.indicators[r] != RB_IND_NULL && have > 0 && v.block) memcpy(block, v.block, have);
        free(v.block);
        RB_SetPtrValue(e, RBPtrValue{v.length, block});
      }
      return KX_OK;
    }
    default: return KX_OK;
  }
  if (rc != KX_OK) return rc;
  RowBufferColumn nc{};
  rc = NewColumn(newType, nw, rb->rowCapacity, &nc);
  if (rc != KX_OK) return rc;
  if (rb->rowCapacity > 0)
    memcpy(nc.indicators, col.indicators, static_cast<size_t>(rb->rowCapacity) * sizeof(int16_t));
  for (int32_t r = 0; r < rb->rowCount; ++r) {
    if (col.indicators[r] == RB_IND_NULL) continue;
    const unsigned char* oe = Elem(col, r);
    unsigned char* ne = Elem(nc, r);
    if (t == RBT_CHAR) {
      uint32_t len =
          useTextLength ? static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(oe), w)) : w;
      Store32(ne, len);
      memcpy(ne + 4, oe, w);
    } else if (t == RBT_WCHAR) {
      uint32_t count = useTextLength ? static_cast<uint32_t>(WideLen(oe, w / 2)) : w / 2;
      Store32(ne, count);
      memcpy(ne + 4, oe, w);
    } else if (t == RBT_BINARY) {
      Store32(ne, w);
      memcpy(ne + 4, oe, w);
    } else {
      memcpy(ne, oe, w);
    }
  }
  RB_ColumnFree(&col, rb->rowCapacity);
  col = nc;
  return KX_OK;
}

// ---- values --------------------------------------------------------------------

int RB_GetValue(const RowBuffer* rb, int32_t row, uint16_t c, void* dst, uint32_t* length) {
  if (!Sound(rb) || !dst || !length || c >= rb->colCount || row < 0 || row >= rb->rowCount)
    return KX_ERR_GENERAL;
  if (*length == 0) return KX_OK;
  const RowBufferColumn& col = rb->columns[c];
  if (col.indicators[row] == RB_IND_NULL) {
    *length = 0;
    return KX_OK;
  }
  const unsigned char* e = Elem(col, row);
  size_t w = col.width, n = 0;
  const void* p = e;
  // A prefix larger than the room behind it is read as that room.
  auto room = [w](size_t prefix) { return w > prefix ? w - prefix : 0; };
  auto clamp = [](size_t v, size_t max) { return v < max ? v : max; };
  switch (col.type) {
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR:
    case RBT_WCHAR_PTR: {
      RBPtrValue v = RB_GetPtrValue(e);
      p = v.block;
      n = v.block ? RB_PtrBytes(col.type, v.length) : 0;
      break;
    }
    case RBT_CHAR_NTS: n = strnlen(reinterpret_cast<const char*>(e), w); break;
    case RBT_CHAR_LEN1:
    case RBT_BINARY_LEN1:
    case RBT_CHAR_LEN2:
    case RBT_BINARY_LEN2:
    case RBT_CHAR_LEN4:
    case RBT_BINARY_LEN4: {
      const uint32_t head = RB_LengthPrefixBytes(col.type);
      p = e + head;
      n = w >= head ? clamp(RB_LoadLengthPrefix(e, head), room(head)) : 0;
      break;
    }
    case RBT_WCHAR_NTS: n = 2 * WideLen(e, w / 2); break;
    case RBT_WCHAR_LEN4:
      p = e + 4;
      n = w >= 4 ? clamp(size_t{Load32(e)} * 2, room(4) / 2 * 2) : 0;
      break;
    default: n = w; break;
  }
  if (n > *length) n = *length;
  if (n > 0) memcpy(dst, p, n);
  *length = static_cast<uint32_t>(n);
  return KX_OK;
}

namespace {

// Converts one 16-bit text column to UTF-8 (24, 25 -> 17; 27 -> 20), widening
// the elements when the UTF-8 form needs more room. Storage is prepared first:
// on 16 the column is unchanged.
int NarrowInline(RowBuffer* rb, RowBufferColumn& col) {
  uint32_t t = col.type, w = col.width;
  bool counted = t == RBT_WCHAR_LEN4;
  size_t maxUnits = counted ? (w >= 4 ? (w - 4) / 2 : 0) : w / 2;
  auto units = [&](const unsigned char* e) -> size_t {
    if (!counted) return WideLen(e, maxUnits);
    size_t n = w >= 4 ? Load32(e) : 0;
    return n < maxUnits ? n : maxUnits;
  };
  auto text = [&](const unsigned char* e) { return counted ? e + 4 : e; };
  char16_t* wide = static_cast<char16_t*>(malloc((maxUnits + 1) * sizeof(char16_t)));
  if (!wide) return KX_ERR_NOMEM;
  // Room the widest value needs.
  uint64_t need = w;
  for (int32_t r = 0; r < rb->rowCount; ++r) {
    if (col.indicators[r] == RB_IND_NULL) continue;
    const unsigned char* e = Elem(col, r);
    size_t n = units(e);
    memcpy(wide, text(e), n * 2);
    uint64_t bytes = Ucs2Utf8Len(wide, static_cast<int64_t>(n));
    uint64_t room = counted ? (bytes + 4 + 3) / 4 * 4 : bytes + 1;
    if (room > need) need = room;
  }
  if (need > std::numeric_limits<uint32_t>::max()) {
    free(wide);
    return KX_ERR_GENERAL;
  }
  uint32_t nw = static_cast<uint32_t>(need);
  uint32_t newType = counted ? RBT_CHAR_LEN4 : RBT_CHAR_NTS;
  RowBufferColumn target = col;
  char* scratch = static_cast<char*>(malloc(nw));
  int rc = scratch ? KX_OK : KX_ERR_NOMEM;
  if (rc == KX_OK && nw != w) rc = NewColumn(newType, nw, rb->rowCapacity, &target);
  if (rc != KX_OK) {
    free(wide);
    free(scratch);
    return rc;
  }
  if (nw != w && rb->rowCapacity > 0)
    memcpy(target.indicators, col.indicators,
           static_cast<size_t>(rb->rowCapacity) * sizeof(int16_t));
  for (int32_t r = 0; r < rb->rowCount; ++r) {
    if (col.indicators[r] == RB_IND_NULL) continue;
    const unsigned char* e = Elem(col, r);
    size_t n = units(e);
    memcpy(wide, text(e), n * 2);
    size_t bytes = Ucs2ToUtf8N(wide, scratch, n, nw, nullptr);
    // The element is rewritten whole: stale bytes of the 16-bit form would
    // make equal values compare unequal.
    unsigned char* ne = Elem(target, r);
    memset(ne, 0, nw);
    if (counted) {
      Store32(ne, static_cast<uint32_t>(bytes));
      memcpy(ne + 4, scratch, bytes);
    } else {
      memcpy(ne, scratch, bytes);
    }
  }
  free(wide);
  free(scratch);
  if (nw != w) RB_ColumnFree(&col, rb->rowCapacity);
  col = target;
  col.type = newType;
  col.width = nw;
  return KX_OK;
}

// 26 -> 15: every value gets a new block with its UTF-8 form; the length then
// counts bytes. All blocks are made before any is replaced.
int NarrowBlocks(RowBuffer* rb, RowBufferColumn& col) {
  int32_t rows = rb->rowCount;
  void** blocks =
      static_cast<void**>(calloc(rows > 0 ? static_cast<size_t>(rows) : 1, sizeof(void*)));
  uint32_t* lengths =
      static_cast<uint32_t*>(calloc(rows > 0 ? static_cast<size_t>(rows) : 1, sizeof(uint32_t)));
  int rc = blocks && lengths ? KX_OK : KX_ERR_NOMEM;
  for (int32_t r = 0; r < rows && rc == KX_OK; ++r) {
    RBPtrValue v = RB_GetPtrValue(Elem(col, r));
    if (col.indicators[r] == RB_IND_NULL || !v.block) continue;
    const char16_t* wide = static_cast<const char16_t*>(v.block);
    size_t bytes = Ucs2Utf8Len(wide, v.length);
    if (bytes > std::numeric_limits<uint32_t>::max()) {
      rc = KX_ERR_GENERAL;
      break;
    }
    char* block = static_cast<char*>(malloc(bytes > 0 ? bytes : 1));
    if (!block) {
      rc = KX_ERR_NOMEM;
      break;
    }
    Ucs2ToUtf8N(wide, block, v.length, bytes, nullptr);
    blocks[r] = block;
    lengths[r] = static_cast<uint32_t>(bytes);
  }
  if (rc == KX_OK) {
    for (int32_t r = 0; r < rows; ++r) {
      if (!blocks[r]) continue;
      unsigned char* e = Elem(col, r);
      free(RB_GetPtrValue(e).block);
      RB_SetPtrValue(e, RBPtrValue{lengths[r], blocks[r]});
    }
    col.type = RBT_CHAR_PTR;
  } else if (blocks) {
    for (int32_t r = 0; r < rows; ++r) free(blocks[r]);
  }
  free(blocks);
  free(lengths);
  return rc;
}

}  // namespace

int RB_ToNarrow(RowBuffer* rb) {
  if (!Sound(rb)) return KX_ERR_GENERAL;
  for (uint16_t c = 0; c < rb->colCount; ++c) {
    RowBufferColumn& col = rb->columns[c];
    int rc = KX_OK;
    if (col.type == RBT_WCHAR || col.type == RBT_WCHAR_NTS || col.type == RBT_WCHAR_LEN4)
      rc = NarrowInline(rb, col);
    else if (col.type == RBT_WCHAR_PTR)
      rc = NarrowBlocks(rb, col);
    if (rc != KX_OK) return rc;
  }
  return KX_OK;
}

int RB_Truncate(RowBuffer* rb, uint32_t n) {
  if (!Sound(rb)) return KX_ERR_GENERAL;
  for (uint16_t c = 0; c < rb->colCount; ++c) {
    uint32_t t = rb->columns[c].type, w = rb->columns[c].width;
    int rc = KX_OK;
    if (t == RBT_CHAR || t == RBT_BINARY) {
      if (w <= n) continue;
      rc = RB_WidenCol(rb, c, w + 1, false);
    } else if (t == RBT_WCHAR) {
      if (w / 2 <= n) continue;
      rc = RB_WidenCol(rb, c, w / 2 + 1, false);
    }
    if (rc != KX_OK) return rc;
    RowBufferColumn& col = rb->columns[c];
    t = col.type;
    w = col.width;
    const uint32_t prefix = RB_LengthPrefixBytes(t);
    if (w < prefix) continue;  // no room for a length: nothing to cut
    if (t == RBT_CHAR_NTS && !(w >= 1 && n < w - 1)) continue;
    if (t == RBT_WCHAR_NTS && !(w / 2 >= 1 && n < w / 2 - 1)) continue;
    for (int32_t r = 0; r < rb->rowCount; ++r) {
      if (col.indicators[r] == RB_IND_NULL) continue;
      unsigned char* e = Elem(col, r);
      switch (t) {
        case RBT_CHAR_PTR: {
          RBPtrValue v = RB_GetPtrValue(e);
          if (v.length <= n) break;
          v.length =
              v.block ? static_cast<uint32_t>(Utf8CharBoundary(static_cast<char*>(v.block), n)) : n;
          RB_SetPtrValue(e, v);
          break;
        }
        case RBT_BINARY_PTR: {
          RBPtrValue v = RB_GetPtrValue(e);
          if (v.length > n) RB_SetPtrValue(e, RBPtrValue{n, v.block});
          break;
        }
        case RBT_WCHAR_PTR: {
          RBPtrValue v = RB_GetPtrValue(e);
          if (v.length <= n) break;
          v.length =
              v.block ? static_cast<uint32_t>(WideCut(static_cast<unsigned char*>(v.block), n)) : n;
          RB_SetPtrValue(e, v);
          break;
        }
        case RBT_CHAR_LEN4:
          if (Load32(e) > n && n < w - 4)
            Store32(e, static_cast<uint32_t>(Utf8CharBoundary(reinterpret_cast<char*>(e + 4), n)));
          else if (Load32(e) > n)
            Store32(e, n);
          break;
        case RBT_BINARY_LEN4:
          if (Load32(e) > n) Store32(e, n);
          break;
        case RBT_WCHAR_LEN4:
          if (Load32(e) > n && n < (w - 4) / 2)
            Store32(e, static_cast<uint32_t>(WideCut(e + 4, n)));
          else if (Load32(e) > n)
            Store32(e, n);
          break;
        case RBT_CHAR_LEN1:
          if (e[0] > n)
            e[0] = static_cast<unsigned char>(
                n < w - 1u ? Utf8CharBoundary(reinterpret_cast<char*>(e + 1), n) : n);
          break;
        case RBT_BINARY_LEN1:
          if (e[0] > n) e[0] = static_cast<unsigned char>(n);
          break;
        case RBT_CHAR_LEN2:
          if (Load16(e) > n)
            Store16(e, static_cast<uint16_t>(
                           n < w - 2u ? Utf8CharBoundary(reinterpret_cast<char*>(e + 2), n) : n));
          break;
        case RBT_BINARY_LEN2:
          if (Load16(e) > n) Store16(e, static_cast<uint16_t>(n));
          break;
        case RBT_CHAR_NTS: {
          size_t len = strnlen(reinterpret_cast<char*>(e), w);
          if (len > n) e[Utf8CharBoundary(reinterpret_cast<char*>(e), n)] = 0;
          break;
        }
        case RBT_WCHAR_NTS: {
          size_t len = WideLen(e, w / 2);
          if (len > n) Store16(e + 2 * WideCut(e, n), 0);
          break;
        }
        default: break;
      }
    }
  }
  return KX_OK;
}

}  // namespace kx
