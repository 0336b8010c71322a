// Row buffer model: element widths, column storage, buffers made from the
// agent's column descriptions (see row_buffer.h).
#include <cstdlib>
#include <cstring>
#include <limits>

#include "util/errcodes.h"
#include "util/row_buffer.h"

namespace kx {

namespace {

uint64_t RoundUp(uint64_t v, uint64_t m) { return (v + m - 1) / m * m; }

// Exact width in 64 bits (a 32-bit size never overflows it).
uint64_t Width64(uint32_t type, uint32_t size) {
  uint64_t s = size;
  switch (type) {
    case RBT_NONE: return 1;
    case RBT_CHAR: return s;
    case RBT_BIT:
    case RBT_STINYINT:
    case RBT_UTINYINT: return 1;
    case RBT_SSHORT:
    case RBT_USHORT: return 2;
    case RBT_SLONG:
    case RBT_ULONG:
    case RBT_FLOAT: return 4;
    case RBT_DOUBLE: return 8;
    case RBT_DATE: return 6;
    case RBT_TIME: return s >= RB_TIME_FRACTION_WIDTH ? RB_TIME_FRACTION_WIDTH : RB_TIME_WIDTH;
    case RBT_TIMESTAMP: return 16;
    case RBT_BINARY: return s;
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR:
    case RBT_WCHAR_PTR: return 16;
    case RBT_CHAR_NTS:
    case RBT_CHAR_LEN1:
    case RBT_BINARY_LEN1: return s + 1;
    case RBT_CHAR_LEN2:
    case RBT_BINARY_LEN2: return RoundUp(s + 2, 2);
    case RBT_CHAR_LEN4:
    case RBT_BINARY_LEN4: return RoundUp(s + 4, 4);
    case RBT_WCHAR: return 2 * s;
    case RBT_WCHAR_NTS: return 2 * s + 2;
    case RBT_WCHAR_LEN4: return RoundUp(2 * s + 4, 4);
    default: return s;
  }
}

}  // namespace

int RB_ElementSizeChecked(uint32_t type, uint32_t size, uint32_t* width) {
  uint64_t w = Width64(type, size);
  if (w > std::numeric_limits<uint32_t>::max()) {
    if (width) *width = 0;
    return KX_ERR_GENERAL;
  }
  if (width) *width = static_cast<uint32_t>(w);
  return KX_OK;
}

uint32_t RB_ElementSize(uint32_t type, uint32_t size) {
  uint32_t w = 0;
  RB_ElementSizeChecked(type, size, &w);
  return w;
}

RBPtrValue RB_GetPtrValue(const unsigned char* element) {
  RBPtrValue v;
  memcpy(&v.length, element, sizeof v.length);
  memcpy(&v.block, element + 8, sizeof v.block);
  return v;
}

void RB_SetPtrValue(unsigned char* element, RBPtrValue value) {
  memcpy(element, &value.length, sizeof value.length);
  memset(element + 4, 0, 4);
  memcpy(element + 8, &value.block, sizeof value.block);
}

int RB_InitColumns(RowBuffer* rb, uint16_t n) {
  if (!rb) return KX_ERR_GENERAL;
  RowBufferColumn* cols = nullptr;
  if (n > 0) {
    cols = static_cast<RowBufferColumn*>(calloc(n, sizeof(RowBufferColumn)));
    if (!cols) return KX_ERR_NOMEM;
  }
  rb->columns = cols;
  rb->colCapacity = n;
  rb->colCount = 0;
  rb->rowCapacity = 0;
  rb->rowCount = 0;
  return KX_OK;
}

int RB_ColumnAlloc(RowBufferColumn* col, int32_t rows) {
  if (!col || rows < 0) return KX_ERR_GENERAL;
  if (rows == 0) {
    col->data = nullptr;
    col->indicators = nullptr;
    return KX_OK;
  }
  // A width from a JDBC driver can be 2^31 or more: the product is taken in
  // 64 bits and bounded instead of being left to wrap.
  size_t n = static_cast<size_t>(rows);
  if (col->width > 0 && n > (RB_MAX_BLOCK - 1) / col->width) return KX_ERR_NOMEM;
  size_t bytes = n * col->width + 1;
  unsigned char* data = static_cast<unsigned char*>(calloc(bytes, 1));
  int16_t* ind = static_cast<int16_t*>(malloc(n * sizeof(int16_t)));
  if (!data || !ind) {
    free(data);
    free(ind);
    return KX_ERR_NOMEM;
  }
  for (size_t r = 0; r < n; ++r) ind[r] = RB_IND_NULL;
  col->data = data;
  col->indicators = ind;
  return KX_OK;
}

void RB_ColumnFree(RowBufferColumn* col, int32_t rows) {
  if (!col) return;
  // A pointer column narrower than its element cannot hold blocks.
  if (RB_IsPtrType(col->type) && col->data && col->width >= sizeof(RBPtrValue)) {
    for (int32_t r = 0; r < rows; ++r) {
      unsigned char* e = RB_Element(col, static_cast<size_t>(r));
      RBPtrValue v = RB_GetPtrValue(e);
      if (v.block) {
        free(v.block);
        RB_SetPtrValue(e, RBPtrValue{0, nullptr});
      }
    }
  }
  free(col->data);
  free(col->indicators);
  col->data = nullptr;
  col->indicators = nullptr;
}

RowBuffer* RB_Free(RowBuffer* rb) {
  if (!rb) return rb;
  if (rb->columns) {
    for (uint16_t c = 0; c < rb->colCapacity; ++c) RB_ColumnFree(&rb->columns[c], rb->rowCapacity);
    free(rb->columns);
    rb->columns = nullptr;
  }
  rb->colCapacity = 0;
  rb->colCount = 0;
  rb->rowCapacity = 0;
  rb->rowCount = 0;
  return rb;
}

int RB_AllocRows(RowBuffer* rb, int32_t rows) {
  if (!rb || rows < 0) return KX_ERR_GENERAL;
  if (rb->colCount > rb->colCapacity || (rb->colCount > 0 && !rb->columns)) return KX_ERR_NOMEM;
  // Storage left from an earlier allocation is released first, and a failure
  // releases what this call got: the row capacity then always describes
  // every column's storage (0 rows after a failure).
  for (uint16_t c = 0; c < rb->colCount; ++c) RB_ColumnFree(&rb->columns[c], rb->rowCapacity);
  rb->rowCapacity = 0;
  rb->rowCount = 0;
  for (uint16_t c = 0; c < rb->colCount; ++c) {
    int rc = RB_ColumnAlloc(&rb->columns[c], rows);
    if (rc != KX_OK) {
      for (uint16_t k = 0; k < c; ++k) RB_ColumnFree(&rb->columns[k], rows);
      return rc;
    }
  }
  rb->rowCapacity = rows;
  return KX_OK;
}

AgentColDesc* RB_AllocColDescs(uint16_t n) {
  return static_cast<AgentColDesc*>(calloc(n > 0 ? n : 1, sizeof(AgentColDesc)));
}

void RB_FreeColDescs(AgentColDesc* descs, uint16_t n) {
  if (!descs) return;
  for (uint16_t i = 0; i < n; ++i) {
    free(descs[i].catalog);
    free(descs[i].schema);
    free(descs[i].table);
    free(descs[i].label);
  }
  free(descs);
}

int RB_FromColDescs(const AgentColDesc* descs, uint16_t n, int32_t rows, RowBuffer* rb) {
  if (!rb || (n > 0 && !descs) || rows < 0) return KX_ERR_GENERAL;
  int rc = RB_InitColumns(rb, n);
  if (rc != KX_OK) return rc;
  for (uint16_t i = 0; i < n; ++i) {
    RowBufferColumn& col = rb->columns[i];
    col.type = static_cast<uint32_t>(descs[i].storageType);
    if (descs[i].elementLength < 0)
      rc = KX_ERR_GENERAL;
    else
      rc = RB_ElementSizeChecked(col.type, static_cast<uint32_t>(descs[i].elementLength),
                                 &col.width);
    if (rc != KX_OK) {
      RB_Free(rb);
      return rc;
    }
  }
  rb->colCount = n;
  rc = RB_AllocRows(rb, rows);
  if (rc != KX_OK) RB_Free(rb);
  return rc;
}

}  // namespace kx
