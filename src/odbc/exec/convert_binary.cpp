#include "odbc/exec/convert_binary.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "odbc/copy_out.h"
#include "odbc/exec/convert_common.h"
#include "odbc/ctypes.h"
#include "odbc/trace.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// A UUID kept as its 16 bytes, most significant first as its text reads
// (PostgreSQL's uuid_send, Java's UUID halves): Data1 from the first four
// bytes, Data2 and Data3 from the next two each, Data4 the last eight as
// they stand, so that the bytes and the text of one UUID give the same
// GUID. A value of any other length is no GUID (07006).
int16_t BinaryToGuid(const void* bytes, uint64_t length, int64_t total, void* target, int64_t* outLen,
                     int32_t* err) {
  const int64_t whole = total > 0 ? total : static_cast<int64_t>(length);
  if (length != sizeof(SQLGUID) || whole != static_cast<int64_t>(sizeof(SQLGUID))) {
    *err = KX_ERR_RESTRICTED_TYPE;
    return SQL_ERROR;
  }
  const auto* b = static_cast<const uint8_t*>(bytes);
  SQLGUID g{};
  g.Data1 = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
            static_cast<uint32_t>(b[2]) << 8 | b[3];
  g.Data2 = static_cast<uint16_t>(b[4] << 8 | b[5]);
  g.Data3 = static_cast<uint16_t>(b[6] << 8 | b[7]);
  std::memcpy(g.Data4, b + 8, sizeof g.Data4);
  return StoreFixed(&g, sizeof g, target, outLen, err);
}

}  // namespace

int16_t ConvertBINARY(const void* bytes, uint64_t length, int64_t total, int32_t cType, void* target,
                      int64_t bufferLength, int64_t* outLen, int32_t* err, uint64_t* consumed) {
  if (TraceOn()) {
    TracePrintf("ConvertBINARY: retBufferLength(%ld) to %s", static_cast<long>(bufferLength),
                CTypeToName(cType));
  }
  if (consumed != nullptr) *consumed = 0;
  if (cType == SQL_C_BINARY || cType == KX_C_GUID_AS_BINARY) {
    return CopyOutNarrow(bytes, length, static_cast<int64_t>(length), total, 0, 1, target, bufferLength,
                         outLen, err, consumed);
  }
  if (cType == SQL_C_GUID) return BinaryToGuid(bytes, length, total, target, outLen, err);
  if (cType != SQL_C_CHAR && cType != SQL_C_WCHAR) {
    *err = KX_ERR_RESTRICTED_TYPE;
    return SQL_ERROR;
  }
  if (bufferLength < 0) {
    *err = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  const bool wide = cType == SQL_C_WCHAR;
  const uint64_t unitBytes = wide ? 2 : 1;         // bytes of one hexadecimal character
  const uint64_t perByte = 2 * unitBytes;          // bytes of text for one source byte
  if (outLen != nullptr) {
    const int64_t whole = total > 0 || total == SQL_NO_TOTAL ? total : static_cast<int64_t>(length);
    const bool unknown = whole == SQL_NO_TOTAL || whole > INT64_MAX / static_cast<int64_t>(perByte);
    *outLen = unknown ? SQL_NO_TOTAL : static_cast<int64_t>(perByte) * whole;
  }
  if (target == nullptr) return *err == KX_ERR_DATA_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  const uint64_t b = static_cast<uint64_t>(bufferLength);
  uint64_t count = length;
  // Room for the text of the whole source and its terminator?
  if (b < unitBytes || (b - unitBytes) / perByte < length) {
    *err = KX_ERR_DATA_TRUNCATED;
    count = b < unitBytes ? 0 : (b - unitBytes) / perByte;
  } else if (total != SQL_NO_TOTAL && total > static_cast<int64_t>(length)) {
    *err = KX_ERR_DATA_TRUNCATED;
  }
  if (b >= unitBytes) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto* src = static_cast<const uint8_t*>(bytes);
    auto* out = static_cast<unsigned char*>(target);
    for (uint64_t i = 0; i < count; ++i) {
      const char16_t hi = static_cast<char16_t>(kHex[src[i] >> 4]);
      const char16_t lo = static_cast<char16_t>(kHex[src[i] & 0x0F]);
      if (wide) {
        std::memcpy(out + 4 * i, &hi, 2);
        std::memcpy(out + 4 * i + 2, &lo, 2);
      } else {
        out[2 * i] = static_cast<unsigned char>(hi);
        out[2 * i + 1] = static_cast<unsigned char>(lo);
      }
    }
    std::memset(out + perByte * count, 0, unitBytes);
  }
  if (consumed != nullptr) *consumed = count;
  return *err == KX_ERR_DATA_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace kx
