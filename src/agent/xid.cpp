#include "agent/xid.h"

#include <cstring>

namespace kx {

int XidCopy(XID* dst, const XID* src) {
  if (dst == nullptr || src == nullptr) return 0;
  long g = src->gtrid_length;
  long b = src->bqual_length;
  if (g < 0 || b < 0 || g > XID_DATA_SIZE || b > XID_DATA_SIZE - g) return 0;
  dst->formatID = src->formatID;
  dst->gtrid_length = g;
  dst->bqual_length = b;
  std::memcpy(dst->data, src->data, static_cast<size_t>(g + b));
  return 1;
}

int XidEqual(const XID* a, const XID* b) {
  if (a == nullptr || b == nullptr) return 0;
  const long g = a->gtrid_length;
  const long n = a->bqual_length;
  if (g < 0 || n < 0 || g > XID_DATA_SIZE || n > XID_DATA_SIZE - g) return 0;
  if (a->formatID != b->formatID || g != b->gtrid_length || n != b->bqual_length) return 0;
  return std::memcmp(a->data, b->data, static_cast<size_t>(g + n)) == 0 ? 1 : 0;
}

}  // namespace kx
