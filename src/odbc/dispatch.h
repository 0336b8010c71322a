// The one door of every ODBC call: the exports hand their call record and
// arguments to CallODBC, which validates the handle, serialises the call on
// its connection, runs the handler and traces the call and its result.
//
// Handlers: SQLRETURN handler(HandleHead* record, const OdbcArgs& args).
//   - record: the handle's record (cast it to the record of the call record's
//     kind), or nullptr for kind HK_NONE;
//   - args: the arguments after the handle, in call order, one 8-byte slot
//     each (integers widened, signed ones with their sign); read them with
//     args.Get<T>(i). Records marked "form" get the letter 'A' (narrow entry)
//     or 'W' (wide entry) as one more, last, argument.
//   - on failure a handler leaves the cause on its record: record->error = a
//     row of the error-code table, or messages appended to record->messages.
//
// To add a handler: write it with the signature above, declare it in
// odbc/handlers.h and put its name in the call record(s) in call_records.cpp
// in place of HandlerNotYet.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "odbc/records.h"

namespace kx {

struct HandleTable;  // util/handle_table.h

// ---- arguments ----------------------------------------------------------------

struct OdbcArgs {
  static constexpr int kMaxSlots = 16;
  uint64_t slot[kMaxSlots];
  int count;
  int base;  // index of the first argument the handler sees

  int Count() const { return count - base; }
  uint64_t Raw(int i) const { return (i >= 0 && base + i < count) ? slot[base + i] : 0; }

  template <class T>
  T Get(int i) const {
    uint64_t v = Raw(i);
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<T>(static_cast<uintptr_t>(v));
    } else {
      return static_cast<T>(v);
    }
  }
};

template <class T>
inline uint64_t ToArgSlot(T v) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v));
  } else if constexpr (std::is_null_pointer_v<T>) {
    return 0;
  } else if constexpr (std::is_enum_v<T>) {
    return static_cast<uint64_t>(static_cast<int64_t>(v));
  } else if constexpr (std::is_signed_v<T>) {
    return static_cast<uint64_t>(static_cast<int64_t>(v));
  } else {
    return static_cast<uint64_t>(v);
  }
}

// ---- call records ------------------------------------------------------------

using OdbcHandler = SQLRETURN (*)(HandleHead* record, const OdbcArgs& args);

struct OdbcCallRecord {
  const char* name;      // API name without "SQL"; used in trace lines
  const char* format;    // printf format of the arguments after the handle ("" = none)
  uint32_t flag;         // the F mark; not read by the dispatcher
  uint32_t clearDiag;    // 1: clear the handle's diagnostics before the handler
  uint32_t kind;         // HandleKind
  OdbcHandler handler;
};

// Every call record, for tests and tools.
extern const OdbcCallRecord* const kAllCallRecords[];
extern const int kAllCallRecordCount;

// The records, one per API and handle kind (call_records.cpp).
#define KX_CALL_RECORDS(X)                                                              \
  X(AllocEnv) X(AllocHandleEnv) X(AllocConnect) X(AllocHandleDbc)                       \
  X(ErrorEnv) X(ErrorWEnv) X(ErrorDbc) X(ErrorWDbc) X(ErrorStmt) X(ErrorWStmt)          \
  X(FreeEnv) X(FreeHandleEnv)                                                           \
  X(GetDiagFieldEnv) X(GetDiagFieldWEnv) X(GetDiagFieldDbc) X(GetDiagFieldWDbc)         \
  X(GetDiagFieldStmt) X(GetDiagFieldWStmt) X(GetDiagFieldDesc) X(GetDiagFieldWDesc)     \
  X(GetDiagRecEnv) X(GetDiagRecWEnv) X(GetDiagRecDbc) X(GetDiagRecWDbc)                 \
  X(GetDiagRecStmt) X(GetDiagRecWStmt) X(GetDiagRecDesc) X(GetDiagRecWDesc)             \
  X(GetEnvAttr) X(SetEnvAttr) X(TransactEnv) X(TransactDbc)                             \
  X(AllocHandleStmt) X(AllocHandleDesc) X(AllocStmt)                                    \
  X(Connect) X(ConnectW) X(Disconnect) X(DriverConnect) X(DriverConnectW)               \
  X(FreeConnect) X(FreeHandleDbc)                                                       \
  X(GetConnectAttr) X(GetConnectAttrW) X(GetConnectOption) X(GetConnectOptionW)         \
  X(GetFunctions) X(GetInfo) X(GetInfoW) X(NativeSql) X(NativeSqlW)                     \
  X(SetConnectAttr) X(SetConnectAttrW) X(SetConnectOption) X(SetConnectOptionW)         \
  X(BindCol) X(BindParameter) X(BulkOperations) X(CloseCursor)                          \
  X(ColAttribute) X(ColAttributeW) X(ColAttributes) X(ColAttributesW)                   \
  X(ColumnPrivileges) X(ColumnPrivilegesW) X(Columns) X(ColumnsW)                       \
  X(DescribeCol) X(DescribeColW) X(DescribeParam) X(ExecDirect) X(ExecDirectW)          \
  X(Execute) X(ExtendedFetch) X(Fetch) X(FetchScroll) X(ForeignKeys) X(ForeignKeysW)    \
  X(FreeHandleStmt) X(FreeStmt) X(GetCursorName) X(GetCursorNameW) X(GetData)           \
  X(GetStmtAttr) X(GetStmtAttrW) X(GetStmtOption) X(GetTypeInfo) X(GetTypeInfoW)        \
  X(MoreResults) X(NumParams) X(NumResultCols) X(ParamData) X(ParamOptions)             \
  X(Prepare) X(PrepareW) X(PrimaryKeys) X(PrimaryKeysW)                                 \
  X(ProcedureColumns) X(ProcedureColumnsW) X(Procedures) X(ProceduresW)                 \
  X(PutData) X(RowCount) X(SetCursorName) X(SetCursorNameW) X(SetParam) X(SetPos)       \
  X(SetStmtAttr) X(SetStmtAttrW) X(SetStmtOption)                                       \
  X(SpecialColumns) X(SpecialColumnsW) X(Statistics) X(StatisticsW)                     \
  X(TablePrivileges) X(TablePrivilegesW) X(Tables) X(TablesW)                           \
  X(CopyDesc) X(FreeHandleDesc) X(GetDescField) X(GetDescFieldW)                        \
  X(GetDescRec) X(GetDescRecW) X(SetDescField) X(SetDescFieldW) X(SetDescRec)

#define KX_DECLARE_CALL_RECORD(n) extern const OdbcCallRecord kRec##n;
KX_CALL_RECORDS(KX_DECLARE_CALL_RECORD)
#undef KX_DECLARE_CALL_RECORD

// ---- the dispatcher -----------------------------------------------------------

// Runs one call. For kinds HK_ENV..HK_DESC the first slot of all is the
// handle (its low 32 bits are the handle value). Never throws.
SQLRETURN CallODBCArgs(const OdbcCallRecord& record, OdbcArgs& all) noexcept;

template <class... A>
SQLRETURN CallODBC(const OdbcCallRecord& record, A... args) noexcept {
  static_assert(sizeof...(A) <= OdbcArgs::kMaxSlots, "too many arguments");
  OdbcArgs all{{ToArgSlot(args)...}, static_cast<int>(sizeof...(A)), 0};
  return CallODBCArgs(record, all);
}

// The "returning SQL_%s" name of a return code.
const char* ReturnCodeName(SQLRETURN rc);

// Formats the argument line of a record: every conversion shows a 32-bit
// value ("%p" a whole pointer). Always terminates; cuts at capacity.
void FormatCallArgs(const char* format, const OdbcArgs& args, char* out, size_t capacity);

// ---- the handle layer ---------------------------------------------------------

// 0, or -1 when a table cannot be set up. Idempotent.
int HandlesInit();
// Frees the environments up to the first one with a running call, then tears
// the layer down. 0.
int HandlesTerm();
bool HandlesInitialised();

HandleTable* EnvTable();
HandleTable* ConnTable();
HandleTable* StmtTable();
HandleTable* DescTable();

// The process-wide locks. The handle lock guards lookups and busy markers and
// is held across kind 1 and 2 handlers; the connect lock serialises connecting;
// the agent lock serialises agent work when the agent is not re-entrant.
std::recursive_mutex& HandleLock();
std::recursive_mutex& ConnectLock();
std::recursive_mutex& AgentLock();
// ConnectLockEnter / ConnectLockLeave (odbc/connstr.h) take and release the
// connect lock; they are defined with the dispatcher.

// The re-entrancy value: 0 until the first connection open latches it to the
// binding's flags AND 2 (ConnLatchReentrant).
extern std::atomic<int32_t> g_agentReentrant;

// Looks a handle up in the table of a kind and checks the record's magic;
// nullptr when it is not a live record of that kind. Call under the handle lock.
HandleHead* LookupHandle(uint32_t kind, uint32_t handle);

// Answers a call whose handler is not built yet: IM001 on the record.
SQLRETURN HandlerNotYet(HandleHead* record, const OdbcArgs& args);

}  // namespace kx
