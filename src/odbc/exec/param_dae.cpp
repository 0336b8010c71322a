#include "odbc/exec/param_dae.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>

#include "odbc/copy_out.h"
#include "odbc/ctypes.h"
#include "odbc/desc.h"
#include "odbc/exec/app_values.h"
#include "odbc/exec/execute.h"
#include "odbc/exec/setpos.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"
#include "util/text_conv.h"

namespace kx {

namespace {

bool RowIgnored(const StmtRecord* stmt, uint64_t row) {
  const DescRecord* apd = stmt->currentApd;
  return apd != nullptr && apd->arrayStatusPtr != nullptr &&
         apd->arrayStatusPtr[row] == SQL_PARAM_IGNORE;
}

uint16_t BoundParamCount(const StmtRecord* stmt) {
  return stmt->paramCount < stmt->paramBindingCap ? stmt->paramCount : stmt->paramBindingCap;
}

// Bytes of NUL-terminated text of a C type.
int64_t NtsLength(const void* data, int16_t cType) {
  if (cType == SQL_C_WCHAR) {
    const auto* p = static_cast<const unsigned char*>(data);
    int64_t units = 0;
    for (;;) {
      uint16_t u;
      std::memcpy(&u, p + 2 * units, 2);
      if (u == 0) return 2 * units;
      ++units;
    }
  }
  return static_cast<int64_t>(std::strlen(static_cast<const char*>(data)));
}

// Appends one piece to a collected value. fixedSize > 0: the C type has that
// size and the length given is not consulted.
int AppendPiece(void** slot, int64_t* count, const void* data, int64_t length, int16_t cType,
                int64_t fixedSize) {
  // A value put as NULL takes no other piece, and a NULL cannot follow one.
  const bool put = *slot != nullptr || *count == DAE_PUT_NULL;
  if (put && (length == SQL_NULL_DATA || *count == DAE_PUT_NULL)) return KX_ERR_CONCAT_NULL;
  if (length == SQL_NULL_DATA) {
    std::free(*slot);
    *slot = nullptr;
    *count = DAE_PUT_NULL;
    return 0;
  }
  if (length < 0 && length != SQL_NTS && length != SQL_DEFAULT_PARAM) return KX_ERR_BAD_LENGTH;
  if (data == nullptr && length != 0) return KX_ERR_BAD_ARGUMENT;
  if (length < 0 && length != SQL_NTS) return KX_ERR_BAD_ARGUMENT;
  if (fixedSize > 0) {
    if (data == nullptr) return KX_ERR_BAD_ARGUMENT;
    length = fixedSize;
  } else if (length == SQL_NTS) {
    length = NtsLength(data, cType);
  }
  const int64_t have = *count > 0 ? *count : 0;
  if (length == 0) {
    // An empty piece still makes the value present: it is an empty value,
    // never a NULL one.
    if (*slot == nullptr) {
      *slot = std::malloc(1);
      if (*slot == nullptr) return KX_ERR_NOMEM;
    }
    *count = have;
    return 0;
  }
  if (length > INT64_MAX - have - 1) return KX_ERR_NOMEM;
  void* grown = std::realloc(*slot, static_cast<size_t>(have + length));
  if (grown == nullptr) return KX_ERR_NOMEM;
  std::memcpy(static_cast<unsigned char*>(grown) + have, data, static_cast<size_t>(length));
  *slot = grown;
  *count = have + length;
  return 0;
}

int64_t FixedSizeOf(int16_t cType) {
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY) return 0;
  return CTypeSize(cType);
}

// Ends a data-at-execution sequence that cannot go on.
SQLRETURN Abandon(StmtRecord* stmt, int code) {
  stmt->daeState = DAE_NONE;
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = 0;
  stmt->daeIndex = -1;
  return Fail(stmt, code);
}

ColBindingNode* ColumnAt(StmtRecord* stmt, int32_t position) {
  ColBindingNode* node = stmt->colBindings;
  for (int32_t i = 0; node != nullptr && i < position; ++i) node = node->next;
  return node;
}

// ---- driver-collected ---------------------------------------------------------------

SQLRETURN ParamDataCollected(StmtRecord* stmt, void** token) {
  switch (stmt->daeState) {
    case DAE_NONE:
      return Fail(stmt, KX_ERR_SEQUENCE);
    case DAE_EXECUTE:
    case DAE_EXECUTE_LAST: {
      stmt->daeRow = stmt->daeNextRow;
      if (stmt->rowsProcessedPtr != nullptr) *stmt->rowsProcessedPtr = uint64_t{stmt->daeRow} + 1;
      if (stmt->daeState == DAE_EXECUTE_LAST) return ExecCollected(stmt);
      const uint16_t index = stmt->daeNextIndex;
      if (index >= stmt->paramBindingCap) return Abandon(stmt, KX_ERR_SEQUENCE);
      stmt->daeIndex = static_cast<int16_t>(index);
      stmt->daeNextIndex = static_cast<uint16_t>(index + 1);
      ParamBinding& b = stmt->paramBindings[index];
      if (b.daeValues != nullptr && stmt->daeRow < b.daeCount) {
        std::free(b.daeValues[stmt->daeRow]);
        b.daeValues[stmt->daeRow] = nullptr;
        b.daeLengths[stmt->daeRow] = 0;
      }
      if (token != nullptr) *token = b.value;
      if (ExecNextDAE(stmt) == 0) stmt->daeState = DAE_EXECUTE_LAST;
      return SQL_NEED_DATA;
    }
    case DAE_SETPOS:
    case DAE_BULK:
    case DAE_SETPOS_LAST:
    case DAE_BULK_LAST: {
      stmt->daeRow = stmt->daeNextRow;
      if (stmt->daeState == DAE_SETPOS_LAST || stmt->daeState == DAE_BULK_LAST) {
        if (stmt->daeState == DAE_SETPOS_LAST) return SetPosResume(stmt);
        return BulkOperations(stmt, stmt->bulkOperation);
      }
      const uint16_t index = stmt->daeNextIndex;
      ColBindingNode* node = ColumnAt(stmt, index);
      if (node == nullptr) return Abandon(stmt, KX_ERR_SEQUENCE);
      stmt->daeIndex = static_cast<int16_t>(index);
      stmt->daeNextIndex = static_cast<uint16_t>(index + 1);
      if (node->daeValues != nullptr && stmt->daeRow < node->daeCount) {
        std::free(node->daeValues[stmt->daeRow]);
        node->daeValues[stmt->daeRow] = nullptr;
        node->daeLengths[stmt->daeRow] = 0;
      }
      if (token != nullptr) *token = SetPosValueAddress(stmt, node, stmt->daeRow);
      const int more = SetPosNextValue(stmt);
      if (more == 0) stmt->daeState = stmt->daeState == DAE_SETPOS ? DAE_SETPOS_LAST : DAE_BULK_LAST;
      return SQL_NEED_DATA;
    }
    default:
      return Abandon(stmt, KX_ERR_SEQUENCE);
  }
}

SQLRETURN PutDataCollected(StmtRecord* stmt, const void* data, int64_t length) {
  int code = 0;
  switch (stmt->daeState) {
    case DAE_NONE:
      return Fail(stmt, KX_ERR_SEQUENCE);
    case DAE_EXECUTE:
    case DAE_EXECUTE_LAST: {
      // Data belongs to the value SQLParamData handed out last; before the
      // first hand-out there is none.
      if (stmt->daeIndex < 0 || stmt->daeIndex >= stmt->paramBindingCap) {
        return Fail(stmt, KX_ERR_SEQUENCE);
      }
      code = ParamAppendDAE(&stmt->paramBindings[stmt->daeIndex], data, &length, stmt->daeRow);
      break;
    }
    case DAE_SETPOS:
    case DAE_BULK:
    case DAE_SETPOS_LAST:
    case DAE_BULK_LAST: {
      ColBindingNode* node = stmt->daeIndex >= 0 ? ColumnAt(stmt, stmt->daeIndex) : nullptr;
      if (node == nullptr) return Fail(stmt, KX_ERR_SEQUENCE);
      code = ColumnAppendDAE(node, data, &length, stmt->daeRow);
      break;
    }
    default:
      break;
  }
  if (code != 0) return Fail(stmt, code);
  return SQL_SUCCESS;
}

// ---- backend-driven -------------------------------------------------------------------

SQLRETURN ParamDataV2(StmtRecord* stmt, void** token) {
  uint64_t scratch = 0;
  uint16_t* posStatus = reinterpret_cast<uint16_t*>(stmt->setPosStatus);
  const int32_t code = AgentCall(*stmt->binding, &AgentOps::DRV_ParamData, stmt->agentStmt,
                                 &stmt->agentDaeIndex, &stmt->agentDaeRow, &posStatus, &scratch);
  stmt->setPosStatus = reinterpret_cast<int16_t*>(posStatus);
  stmt->error = code;
  if (stmt->rowsProcessedPtr != nullptr) {
    *stmt->rowsProcessedPtr = static_cast<uint64_t>(static_cast<int64_t>(stmt->agentDaeRow) + 1);
  }
  if (code == KX_ERR_NEED_DAE) {
    if (stmt->daeState == DAE_EXECUTE) {
      const int32_t i = stmt->agentDaeIndex;
      if (token != nullptr) {
        *token = i >= 0 && i < stmt->paramBindingCap ? stmt->paramBindings[i].value : nullptr;
      }
    } else if (stmt->daeState == DAE_SETPOS) {
      const int32_t setPosRow = stmt->cursor.setPosRow;
      if (setPosRow > 0) {
        stmt->agentDaeRow += setPosRow - 1;
        if (stmt->updateColumns != nullptr && stmt->agentDaeIndex >= 0) {
          stmt->agentDaeIndex = stmt->updateColumns[stmt->agentDaeIndex] - 1;
        }
      }
      ColBindingNode* node = ColumnAt(stmt, stmt->agentDaeIndex);
      if (token != nullptr) {
        *token = nullptr;
        if (node != nullptr) {
          const int64_t step = stmt->bindType != 0 ? stmt->bindType : node->binding.bufferLength;
          *token = static_cast<unsigned char*>(node->binding.target) +
                   static_cast<int64_t>(stmt->agentDaeRow) * step;
        }
      }
    }
    stmt->error = 0;
    return SQL_NEED_DATA;
  }
  if (stmt->daeState == DAE_EXECUTE) {
    stmt->daeState = DAE_NONE;
    return ExecComplete(stmt, 0);
  }
  if (stmt->daeState == DAE_SETPOS) {
    // This agent never drives positioned values itself.
    stmt->daeState = DAE_NONE;
    return Fail(stmt, KX_ERR_NOT_SUPPORTED);
  }
  stmt->daeState = DAE_NONE;
  if (stmt->error == 0) stmt->error = KX_ERR_SEQUENCE;
  return SQL_ERROR;
}

SQLRETURN PutDataV2(StmtRecord* stmt, const void* data, int64_t length) {
  if (stmt->daeState == DAE_NONE) return Fail(stmt, KX_ERR_SEQUENCE);
  if (stmt->daeState != DAE_EXECUTE && stmt->daeState != DAE_SETPOS) return SQL_SUCCESS;
  if (length == SQL_DEFAULT_PARAM) return Fail(stmt, KX_ERR_NOT_CAPABLE);
  if (length < 0 && length != SQL_NTS && length != SQL_NULL_DATA) return Fail(stmt, KX_ERR_BAD_LENGTH);
  if ((data == nullptr && length != SQL_NULL_DATA) ||
      (length < 0 && length != SQL_NTS && length != SQL_NULL_DATA)) {
    return Fail(stmt, KX_ERR_BAD_ARGUMENT);
  }
  int16_t cType = SQL_C_CHAR;
  int16_t sqlType = 0;
  if (stmt->daeState == DAE_EXECUTE) {
    const int32_t i = stmt->agentDaeIndex;
    if (i < 0 || i >= stmt->paramBindingCap) return Fail(stmt, KX_ERR_SEQUENCE);
    cType = stmt->paramBindings[i].cType;
    sqlType = stmt->paramBindings[i].sqlType;
  } else {
    ColBindingNode* node = ColumnAt(stmt, stmt->agentDaeIndex);
    if (node == nullptr) return Fail(stmt, KX_ERR_SEQUENCE);
    cType = node->binding.cType;
  }
  uint32_t width = 0;
  uint32_t type = CTypeToRowBufferType(cType, &width);
  int16_t indicator = 0;
  int64_t len = length;
  if (length == SQL_NULL_DATA) {
    len = 0;
    indicator = -1;
  } else if (length == SQL_NTS) {
    len = NtsLength(data, cType);
  }
  const bool variable = cType == SQL_C_CHAR || cType == SQL_C_BINARY || cType == SQL_C_WCHAR;
  if (!variable && indicator == 0 && FixedSizeOf(cType) > 0) len = FixedSizeOf(cType);
  if (len > UINT32_MAX) return Fail(stmt, KX_ERR_BAD_LENGTH);
  uint64_t size = 0;
  if (data != nullptr && indicator == 0) {
    size = variable ? static_cast<uint64_t>(len) : width;
    if (cType == SQL_C_CHAR) {
      switch (sqlType) {
        case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: size = 16; type = RBT_TIMESTAMP; break;
        case SQL_TIME: case SQL_TYPE_TIME: size = 6; type = RBT_TIME; break;
        case SQL_DATE: case SQL_TYPE_DATE: size = 6; type = RBT_DATE; break;
        case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
          size = static_cast<uint64_t>(len) / 2;
          type = RBT_BINARY;
          break;
        default: break;
      }
    }
    if (cType == SQL_C_SBIGINT || cType == SQL_C_UBIGINT) {
      size = 32;
      type = RBT_CHAR;
    }
  }
  void* buffer = nullptr;
  if (size > 0) {
    buffer = std::calloc(1, size);
    if (buffer == nullptr) return Fail(stmt, KX_ERR_NOMEM);
    auto* out = static_cast<unsigned char*>(buffer);
    const char* text = static_cast<const char*>(data);
    if (cType == SQL_C_CHAR && (type == RBT_DATE || type == RBT_TIME || type == RBT_TIMESTAMP)) {
      // Only an escape fills the structure; other text leaves it zero rather
      // than being copied past its end.
      SQL_TIMESTAMP_STRUCT v{};
      if (ParseDateTimeEscape(text, static_cast<size_t>(len), sqlType, &v) != 0) {
        StoreDateTime(out, type, v);
      }
    } else if (cType == SQL_C_CHAR && type == RBT_BINARY) {
      HexDecode(out, text, size * 2);
    } else if (cType == SQL_C_SBIGINT || cType == SQL_C_UBIGINT) {
      char digits[32];
      size_t n;
      if (cType == SQL_C_SBIGINT) {
        int64_t v;
        std::memcpy(&v, data, 8);
        n = Int64ToText(v, digits, sizeof digits);
      } else {
        uint64_t v;
        std::memcpy(&v, data, 8);
        n = UInt64ToText(v, digits, sizeof digits);
      }
      std::memset(out, ' ', 31);
      std::memcpy(out, digits, n);
    } else {
      std::memcpy(out, data, static_cast<size_t>(size));
    }
  }
  uint32_t size32 = static_cast<uint32_t>(size);
  if (ExecNarrowBackend(stmt) && PutDataToNarrow(&buffer, &size32, &type) != 0) {
    std::free(buffer);
    return Fail(stmt, KX_ERR_NOMEM);
  }
  const int32_t code = AgentCall(*stmt->binding, &AgentOps::DRV_PutData, stmt->agentStmt, type,
                                 indicator, buffer, size32);
  std::free(buffer);
  if (code != 0) {
    stmt->error = code;
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

}  // namespace

// ---- the walk ----------------------------------------------------------------------------

int ExecNextDAE(StmtRecord* stmt) {
  const uint16_t n = BoundParamCount(stmt);
  if (n != 0) {
    for (uint64_t row = stmt->daeNextRow; row < stmt->paramsetSize; ++row) {
      if (RowIgnored(stmt, row)) continue;
      const uint16_t first = row == stmt->daeNextRow ? stmt->daeNextIndex : 0;
      for (uint16_t i = first; i < n; ++i) {
        const ParamBinding& b = stmt->paramBindings[i];
        // An output-only parameter sends nothing, so its length cell is
        // never read.
        if (b.number != i + 1 || b.octetLength == nullptr || b.direction == SQL_PARAM_OUTPUT) {
          continue;
        }
        int64_t length = 0;
        ExecParamRowCells(stmt, &b, row, &length, nullptr);
        if (IsDataAtExec(length)) {
          stmt->daeNextIndex = i;
          stmt->daeNextRow = static_cast<uint32_t>(row);
          return 1;
        }
      }
    }
  }
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = 0;
  return 0;
}

SQLRETURN ExecCheckDAE(StmtRecord* stmt) {
  if (stmt->daeState != DAE_NONE) return Fail(stmt, KX_ERR_SEQUENCE);
  const int code = StmtAllocParamValueArrays(stmt);
  if (code != 0) return Fail(stmt, code);
  stmt->daeNextIndex = 0;
  stmt->daeNextRow = 0;
  stmt->daeRow = 0;
  stmt->daeIndex = -1;
  // Bindings follow the APD's records while an offset is in use (the offset
  // itself is added by every reader).
  DescRecord* apd = stmt->currentApd;
  if (apd != nullptr && apd->bindOffsetPtr != nullptr) {
    for (int32_t r = 1; r <= apd->count && r <= stmt->paramBindingCap; ++r) {
      ParamBinding& b = stmt->paramBindings[r - 1];
      const DescFieldRec* rec = DescGetRec(apd, r);
      if (b.number != r || rec == nullptr) continue;
      if (rec->dataPtr != nullptr) b.value = rec->dataPtr;
      if (rec->octetLengthPtr != nullptr) b.octetLength = rec->octetLengthPtr;
      if (rec->indicatorPtr != nullptr) b.indicator = rec->indicatorPtr;
    }
  }
  if (ExecNextDAE(stmt) != 0) {
    stmt->daeState = DAE_EXECUTE;
    return SQL_NEED_DATA;
  }
  return SQL_SUCCESS;
}

int ParamAppendDAE(ParamBinding* b, const void* data, const int64_t* length, uint64_t row) {
  if (b->daeValues == nullptr || b->daeLengths == nullptr || row >= b->daeCount) {
    return KX_ERR_SEQUENCE;
  }
  const int64_t len = length != nullptr ? *length : b->elementSize;
  return AppendPiece(&b->daeValues[row], &b->daeLengths[row], data, len, b->cType,
                     FixedSizeOf(b->cType));
}

int ColumnAppendDAE(ColBindingNode* node, const void* data, const int64_t* length, uint64_t row) {
  if (node->daeValues == nullptr || node->daeLengths == nullptr || row >= node->daeCount) {
    return KX_ERR_SEQUENCE;
  }
  const int64_t len = length != nullptr ? *length : node->binding.bufferLength;
  return AppendPiece(&node->daeValues[row], &node->daeLengths[row], data, len,
                     node->binding.cType, FixedSizeOf(node->binding.cType));
}

int PutDataToNarrow(void** buffer, uint32_t* size, uint32_t* storageType) {
  if (*storageType != RBT_WCHAR) return 0;
  if (*size > 1 && *buffer != nullptr) {
    const auto* wide = static_cast<const char16_t*>(*buffer);
    const int64_t units = *size / 2;
    const size_t bytes = Ucs2Utf8Len(wide, units);
    char* narrow = static_cast<char*>(std::malloc(bytes + 1));
    if (narrow == nullptr) return KX_ERR_NOMEM;
    size_t consumed = 0;
    const size_t written = Ucs2ToUtf8N(wide, narrow, static_cast<size_t>(units), bytes, &consumed);
    std::free(*buffer);
    *buffer = narrow;
    *size = static_cast<uint32_t>(written);
  }
  *storageType = RBT_CHAR;
  return 0;
}

SQLRETURN StmtParamData(StmtRecord* stmt, void** token) {
  if (stmt->conn != nullptr && stmt->conn->cn_hasV2DAE) return ParamDataV2(stmt, token);
  return ParamDataCollected(stmt, token);
}

SQLRETURN StmtPutData(StmtRecord* stmt, const void* data, int64_t length) {
  if (stmt->conn != nullptr && stmt->conn->cn_hasV2DAE) return PutDataV2(stmt, data, length);
  return PutDataCollected(stmt, data, length);
}

SQLRETURN StmtParamDataCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtParamData(static_cast<StmtRecord*>(rec), a.Get<void**>(0));
}

SQLRETURN StmtPutDataCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtPutData(static_cast<StmtRecord*>(rec), a.Get<const void*>(0), a.Get<int64_t>(1));
}

}  // namespace kx
