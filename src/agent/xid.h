// The X/Open XA transaction branch identifier the core, the agent and the XA
// layer pass between them.
#pragma once

namespace kx {

// LP64 layout of xa.h.
constexpr int XID_DATA_SIZE = 128;
struct XID {
  long formatID;
  long gtrid_length;
  long bqual_length;
  char data[XID_DATA_SIZE];
};
static_assert(sizeof(long) == 8 && sizeof(XID) == 152, "XID in the LP64 layout of xa.h");
// Copies the counts and gtrid_length + bqual_length data bytes. 1; 0 with
// nothing copied when the lengths are negative or exceed the data.
int XidCopy(XID* dst, const XID* src);
// 1 when both name the same branch: format, lengths and the identifier's
// bytes equal; 0 otherwise, and for a NULL or one with lengths out of range.
int XidEqual(const XID* a, const XID* b);

}  // namespace kx
