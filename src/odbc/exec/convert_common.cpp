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

}  // namespace kx
