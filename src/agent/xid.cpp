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

}  // namespace kx
