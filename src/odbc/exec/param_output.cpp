// Output and in-out parameter values delivered into the application's
// buffers after an execution, and the named parameter descriptors.
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

#include "odbc/ctypes.h"
#include "odbc/desc.h"
#include "odbc/exec/app_values.h"
#include "odbc/exec/column_reader.h"
#include "odbc/exec/execute.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"

namespace kx {

namespace {

template <class T>
T* Offset(T* p, int64_t offset) {
  if (p == nullptr) return nullptr;
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(offset));
}

}  // namespace

SQLRETURN ExecGetOutputParams(StmtRecord* stmt) {
  const uint16_t n = stmt->paramCount < stmt->paramBindingCap ? stmt->paramCount : stmt->paramBindingCap;
  StmtFreeResults(stmt);
  const int32_t code = AgentCall(*stmt->binding, &AgentOps::DRV_FetchBlock, stmt->agentStmt,
                                 static_cast<uint16_t>(0), &stmt->rows);
  if (code != 0) {
    stmt->error = code;
    StmtPullMsgs(stmt);
    return SQL_ERROR;
  }
  GetDataReset(stmt);
  // A statement that left no output row (no call, or a call whose values
  // come after its results) has nothing to deliver yet.
  if (stmt->rows.colCount == 0 || stmt->rows.rowCount < 1) return SQL_SUCCESS;
  const int64_t offset = ParamBindOffset(stmt);
  const int32_t version = OdbcVersion(stmt);
  int32_t warning = 0;
  uint16_t column = 0;
  for (uint16_t i = 0; i < n; ++i) {
    const ParamDirection dir = ExecParamDirection(stmt, i);
    if (dir == PD_INPUT) continue;
    ++column;
    const ParamBinding& b = stmt->paramBindings[i];
    // Only a binding the application declared as output or input-output
    // receives a value: an input buffer (and its length cell) is never
    // written, whatever the agent's description says.
    if (b.direction != SQL_PARAM_OUTPUT && b.direction != SQL_PARAM_INPUT_OUTPUT) continue;
    if (b.value == nullptr) continue;
    ColBinding cb{};
    cb.column = column;
    cb.cType = b.cType == SQL_C_DEFAULT ? static_cast<int16_t>(DefaultCType(b.sqlType, version)) : b.cType;
    cb.fractionDigits = b.decimalDigits;
    cb.target = Offset(b.value, offset);
    const bool variable = cb.cType == SQL_C_CHAR || cb.cType == SQL_C_WCHAR || cb.cType == SQL_C_BINARY;
    cb.bufferLength = variable ? b.bufferLength : b.elementSize;
    cb.octetLength = Offset(b.octetLength, offset);
    cb.indicator = Offset(b.indicator, offset);
    stmt->error = KX_ERR_HAS_OUT_PARAMS;
    const SQLRETURN rc = GetColumn(stmt, 0, &cb, &stmt->rows);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      if (warning == 0) warning = stmt->error;
    } else if (rc != SQL_SUCCESS) {
      if (stmt->error == KX_ERR_HAS_OUT_PARAMS) stmt->error = KX_ERR_GENERAL;
      return rc;
    }
  }
  GetDataReset(stmt);
  // A value cut to its buffer (01004) reaches the application.
  stmt->error = warning;
  return warning != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SCS_PARAMDESC_EX* ExecNamedParamDescs(const ParamSummary* summaries, uint16_t n, DescRecord* ipd) {
  auto* descs = static_cast<SCS_PARAMDESC_EX*>(std::calloc(n > 0 ? n : 1, sizeof(SCS_PARAMDESC_EX)));
  if (descs == nullptr) return nullptr;
  for (uint16_t i = 0; i < n; ++i) {
    static_assert(sizeof(ParamSummary) == sizeof(SCS_PARAMDESC), "summaries travel as descriptors");
    std::memcpy(&descs[i].desc, &summaries[i], sizeof(SCS_PARAMDESC));
    const DescFieldRec* r = ipd != nullptr ? DescGetRec(ipd, i + 1) : nullptr;
    if (r != nullptr && r->unnamed == SQL_NAMED && r->name != nullptr) {
      char* copy = strdup(r->name);
      if (copy == nullptr) {
        ExecFreeNamedParamDescs(descs, i);
        std::free(descs);
        return nullptr;
      }
      descs[i].name = copy;
    }
  }
  return descs;
}

void ExecFreeNamedParamDescs(SCS_PARAMDESC_EX* descs, uint16_t n) {
  if (descs == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) {
    std::free(const_cast<char*>(descs[i].name));
    descs[i].name = nullptr;
  }
}

}  // namespace kx
