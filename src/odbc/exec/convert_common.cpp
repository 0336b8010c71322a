#include "odbc/exec/convert_common.h"

#include <sql.h>
#include <sqlext.h>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "util/errcodes.h"

namespace kx {

namespace {

int16_t KeepWarning(int16_t rc, int16_t parserRc) {
  return rc == SQL_SUCCESS && parserRc == SQL_SUCCESS_WITH_INFO ? SQL_SUCCESS_WITH_INFO : rc;
}

}  // namespace

int16_t StoreFixed(const void* value, uint64_t n, void* target, int64_t* outLen, int32_t* err,
                   int16_t parserRc) {
  const int16_t rc = CopyOutNarrow(value, n, 0, 0, 0, 0, target, static_cast<int64_t>(n), outLen, err);
  return KeepWarning(rc, parserRc);
}

int16_t StoreRaw(const void* value, uint64_t n, void* target, int64_t bufferLength,
                 int64_t* outLen, int32_t* err, int16_t parserRc) {
  const int16_t rc = CopyOutNarrow(value, n, 0, 0, 0, 0, target, bufferLength, outLen, err);
  return KeepWarning(rc, parserRc);
}

bool IntegerCTypeRange(int32_t cType, int64_t* lo, uint64_t* hi, unsigned* bytes) {
  switch (cType) {
    case SQL_C_BIT: *lo = 0; *hi = 1; *bytes = 1; return true;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: *lo = INT8_MIN; *hi = INT8_MAX; *bytes = 1; return true;
    case SQL_C_UTINYINT: *lo = 0; *hi = UINT8_MAX; *bytes = 1; return true;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: *lo = INT16_MIN; *hi = INT16_MAX; *bytes = 2; return true;
    case SQL_C_USHORT: *lo = 0; *hi = UINT16_MAX; *bytes = 2; return true;
    case SQL_C_LONG:
    case SQL_C_SLONG: *lo = INT32_MIN; *hi = INT32_MAX; *bytes = 4; return true;
    case SQL_C_ULONG: *lo = 0; *hi = UINT32_MAX; *bytes = 4; return true;
    case SQL_C_SBIGINT:
    case KX_C_SBIGINT_AS_BINARY: *lo = INT64_MIN; *hi = INT64_MAX; *bytes = 8; return true;
    case SQL_C_UBIGINT: *lo = 0; *hi = UINT64_MAX; *bytes = 8; return true;
    default: return false;
  }
}

int16_t StoreInteger(int32_t cType, int64_t v, void* target, int64_t bufferLength,
                     int64_t* outLen, int32_t* err, int16_t parserRc) {
  int64_t lo;
  uint64_t hi;
  unsigned bytes;
  IntegerCTypeRange(cType, &lo, &hi, &bytes);
  if (cType == KX_C_SBIGINT_AS_BINARY) {
    return StoreRaw(&v, 8, target, bufferLength, outLen, err, parserRc);
  }
  return StoreFixed(&v, bytes, target, outLen, err, parserRc);
}

int16_t StoreValueText(const char* text, size_t n, size_t wholeLen, int32_t cType, void* target,
                       int64_t bufferLength, int64_t* outLen, int32_t* err) {
  const bool wide = cType == SQL_C_WCHAR;
  const int64_t unitBytes = wide ? 2 : 1;
  const int64_t units = bufferLength > 0 ? bufferLength / unitBytes : 0;
  size_t keep = n;
  if (target != nullptr && units > 0 && static_cast<uint64_t>(units) <= n && wholeLen < n &&
      static_cast<uint64_t>(units) > wholeLen) {
    keep = static_cast<size_t>(units - 1);  // room for the terminator
    if (keep > wholeLen && text[keep - 1] == '.') --keep;
  }
  // A cut copy offers the kept characters as a piece of the whole text: the
  // copy-out reports 01004; the length reported is always the whole text's.
  const int64_t total = static_cast<int64_t>(n);
  const int16_t rc = wide ? CopyOutNarrowToWide(text, keep, static_cast<int64_t>(keep), total, 1, 0, target,
                                                bufferLength, outLen, err)
                          : CopyOutNarrow(text, keep, static_cast<int64_t>(keep), total, 1, 0, target,
                                          bufferLength, outLen, err);
  if (outLen != nullptr && rc != SQL_ERROR) *outLen = total * unitBytes;
  if (rc == SQL_ERROR && *err == KX_ERR_NUMERIC_RANGE && outLen != nullptr) *outLen = total * unitBytes;
  return rc;
}

}  // namespace kx
