// The records behind ODBC handles. Every record starts with the same head
// (magic, handle, internal error code, state, message list, diagnostic record
// number), so the dispatcher and the diagnostics treat the four kinds alike.
// A record whose magic is MAGIC_FREED has been freed. All four kinds are made
// the one way, value-initialised with new (std::nothrow), and released with
// delete, so a member with a constructor is safe in any of them.
#pragma once

#include <sql.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "odbc/dtc_seam.h"
#include "odbc/stmt_types.h"

namespace kx {

struct MsgNode;  // odbc/diag.h
struct HashTable;  // util/hash_table.h
struct EnvrRecord;
struct ConnRecord;
struct StmtRecord;
struct DescRecord;

// What the first argument of an ODBC call is.
enum HandleKind : uint32_t {
  HK_NONE = 1,  // no handle: the arguments start at once
  HK_ENV = 2,
  HK_DBC = 3,
  HK_STMT = 4,
  HK_DESC = 5,
};

constexpr int32_t ENVR_MAGIC = 0x3144;
constexpr int32_t CONN_MAGIC = 0x3244;
constexpr int32_t STMT_MAGIC = 0x3344;
constexpr int32_t DESC_MAGIC = 0x3444;
constexpr int32_t MAGIC_FREED = -1;

// Values the handle tables are initialised with; the low 16 bits are the tag.
constexpr uint32_t HT_VALUE_ENV = 0x0DBC0001;
constexpr uint32_t HT_VALUE_DBC = 0x0DBC0002;
constexpr uint32_t HT_VALUE_STMT = 0x0DBC0003;
constexpr uint32_t HT_VALUE_DESC = 0x0DBC0004;

struct HandleHead {
  int32_t magic;
  uint32_t handle;      // the record's handle value
  int32_t error;        // internal error code (row of the error-code table), 0 = none
  int32_t state;        // per kind; 0 = freed
  MsgNode* messages;    // diagnostics, oldest first
  int16_t diagRecNo;    // record number last asked by SQLGetDiagRec/SQLGetDiagField
};

// The one way a handler fails with an internal code: the code stays on the
// record for its diagnostics, and the answer is SQL_ERROR.
inline SQLRETURN Fail(HandleHead* record, int32_t code) {
  record->error = code;
  return SQL_ERROR;
}

// ---- environment --------------------------------------------------------------

constexpr int32_t ENVR_ALLOCATED = 1;
constexpr int32_t ENVR_OPEN = 2;

struct EnvrRecord : HandleHead {
  EnvrRecord* next;           // process list
  ConnRecord* firstConn;      // the environment's connections
  int32_t serial;             // process count of environments at allocation
  int32_t connCounter;        // numbers the connections
  int32_t connectionPooling;  // SQL_ATTR_CONNECTION_POOLING 0..2
  int32_t cpMatch;            // SQL_ATTR_CP_MATCH 0..1
  int32_t odbcVersion;        // 2 or 3
  int32_t outputNts;          // 0 or 1
};

// ---- connection ---------------------------------------------------------------

constexpr int32_t CONN_ALLOCATED = 1;  // allocated or disconnected
constexpr int32_t CONN_CONNECTED = 2;

// Connection flags.
constexpr uint16_t CF_NLB = 0x1;          // no login box
constexpr uint16_t CF_READONLY = 0x2;
constexpr uint16_t CF_AUTOCOMMIT = 0x4;
constexpr uint16_t CF_ASYNC = 0x8;        // ODBC 2 asynchronous option set
constexpr uint16_t CF_SET_OPEN_OPTION = 0x20; // set AP_CONN_OPEN_OPTION at open
constexpr uint16_t CF_BLOCK_FLAG = 0x40;  // passed to the agent in the ConnectBlock
constexpr uint16_t CF_MASE = 0x80;        // multiple-active-statement emulation
constexpr uint16_t CF_IV = 0x100;         // include views
constexpr uint16_t CF_IA = 0x200;         // include all

// Connection attributes the application set, kept so that every open of the
// connection applies them (ConnRecord::attrsSet).
constexpr uint16_t CA_AUTOCOMMIT = 0x1;      // SQL_ATTR_AUTOCOMMIT was set
constexpr uint16_t CA_AUTOCOMMIT_ON = 0x2;   // ... to SQL_AUTOCOMMIT_ON
constexpr uint16_t CA_READ_ONLY = 0x4;       // SQL_ATTR_ACCESS_MODE is SQL_MODE_READ_ONLY

// One of the driver's own connection options set while not connected.
struct PendingConnOption {
  uint16_t option;
  bool isText;
  int32_t number;
  std::string text;
};

constexpr int CONN_CACHE_INT32 = 120;
constexpr int CONN_CACHE_INT16 = 40;
constexpr int CONN_CACHE_TEXT = 40;

// Failover events and the callback set through the connection options.
constexpr int32_t FAILOVER_EVENT_COMPLETED = 16;
constexpr int32_t FAILOVER_EVENT_ABORTED = 17;
using FailoverCallback = void (*)(int32_t event, void* arg, int32_t zero);

struct ConnRecord : HandleHead {
  ConnRecord* next;         // next connection of the environment
  StmtRecord* firstStmt;    // the connection's statements
  EnvrRecord* env;          // owning environment

  // Connect fields (filled by the connect-string code).
  char* dsn;
  char* setupSection;       // the odbcinst.ini section the connect named; NULL: none
  char* user;
  char* password;
  char* cn_dbpath;          // the JDBC driver class
  char* cn_dbopts;          // the JDBC URL
  char* cn_dbhost;
  char* port;
  char* cn_svtype;          // server type
  char* agentOptions;
  char* reserved;           // passed to the agent in the ConnectBlock; NULL here
  uint16_t flags;           // CF_*
  char* appName;
  uint32_t loginTimeout;    // seconds; default 120

  // Statement option defaults copied into new statements.
  uint32_t bindType;
  uint64_t maxLength;
  uint64_t maxRows;
  uint32_t noScan;
  uint32_t queryTimeout;

  SCS_CURSOR cursorDefaults;  // rowset size, keyset size, cursor type, ... for new statements

  char* translateLib;       // SQL_ATTR_TRANSLATE_LIB
  uint32_t translateOption;
  uint32_t isolation;       // SQL_ATTR_TXN_ISOLATION; 0 = the agent's default, not asked yet
  uint16_t attrsSet;        // CA_*
  uint32_t packetSize;      // SQL_ATTR_PACKET_SIZE as set; 0 = the default
  std::vector<PendingConnOption> pendingOptions;  // sent to the agent at the next open

  uint32_t cn_fetchSize;    // rows per forward-only fetch block

  AgentBinding binding;     // filled at each open
  AgentHandle agentServer;  // 0 when not open
  AgentHandle agentConn;    // 0 when not open

  int32_t serial;           // from the environment's connection counter
  int32_t stmtCounter;      // numbers the statements

  OpTable opTable;          // the agent's SQL-type table (type 1); rows belong to the agent

  // The record of the handle whose call runs on this connection (the
  // connection, one of its statements or descriptors); NULL when idle. Set
  // under the handle lock by the call holding the call lock, cleared by that
  // call before it releases the call lock.
  std::atomic<HandleHead*> busy;
  // Calls of other threads waiting for the call lock (under the handle lock),
  // and whether the last of them destroys the record: the connection was
  // freed while they waited, and its lock must outlive them.
  int32_t callWaiters;
  bool destroyByWaiter;
  // The thread holding the call lock for a call (an address of that thread's
  // own), NULL when none: a call of that same thread is a handler calling
  // back into its own connection, which must not wait for itself.
  std::atomic<const void*> callOwner;

  // Capability flags, set at open.
  int32_t cn_needbind;
  int32_t cn_hasMoreRes;
  int32_t cn_hasParamOp;
  int32_t cn_spOutDeferFetch;
  int32_t cn_hasScrlCurs;
  int32_t cn_hasDynMixCurs;
  int32_t cn_hasV2DAE;
  int32_t cn_narrowBackend;  // the agent takes 8-bit text only
  uint32_t asyncEnable;      // SQL_ATTR_ASYNC_ENABLE default for statements
  int32_t cn_hasExecute2;
  int32_t cn_agentConvertInfo;  // mask bit 0x200: the agent answers the SQL_CONVERT_* types
  int32_t cn_extDescribe;    // mask bit 0x400: extended column describe
  int32_t cn_hasNamedParams; // mask bit 0x800
  int32_t cn_agentMaxLength;    // mask bit 0x1000: the agent takes SQL_MAX_LENGTH
  int32_t cn_failoverAllowed;// mask bit 0x4000
  int32_t cn_dtcAllowed;     // mask bit 0x2000

  // The distributed-transaction dispenser the connection holds a reference
  // to: the enlistment while enlisted is set, else one whose transaction was
  // still in progress when the application ended the enlistment (given up
  // once that transaction is finished). The transaction object is only
  // compared, never used.
  void* dtcDispenser;
  void* dtcTransaction;
  uint32_t enlisted;
  std::recursive_mutex dtcLock;   // handed to the distributed-transaction code
  std::recursive_mutex callLock;  // held across every call of the connection; others wait for it
  CallGate callGate;              // every call passes it; held by a prepared transaction

  // SQLGetInfo caches.
  int32_t infoCache32[CONN_CACHE_INT32];  // -1 = nothing cached
  uint16_t infoCache16[CONN_CACHE_INT16]; // 0xFFFF = nothing cached
  char* infoCacheText[CONN_CACHE_TEXT];   // NULL = none

  FailoverCallback failoverCallback;  // NULL = none
  void* failoverArg;
};

// ---- statement and descriptor -------------------------------------------------
// The statement and descriptor layers own these records; the fields below are
// those the dispatcher and the handle layer rely on.

constexpr int32_t STMT_ALLOCATED = 1;
constexpr int32_t STMT_PREPARED = 2;

struct StmtRecord : HandleHead {
  StmtRecord* next;    // next statement of the connection
  ConnRecord* conn;    // owning connection

  uint32_t serial;           // creation number within the connection (first is 1)
  AgentBinding* binding;     // the connection's binding
  AgentHandle agentStmt;

  // Statement options.
  uint32_t queryTimeout;
  uint64_t maxLength;
  uint64_t maxRows;
  int32_t bindType;
  uint32_t noScan;
  uint32_t asyncEnable;

  uint16_t flags;            // SF_*
  int32_t isSelect;          // the prepared text starts with "SELEC"
  int32_t dynamicFunction;   // SQL_DIAG_DYNAMIC_FUNCTION_CODE of the prepared text
  int32_t paramsDescribed;   // the agent was asked for parameter descriptions
  uint16_t paramCount;
  AgentColDesc* paramDescs;  // shallow copy: only the array is ours
  uint16_t colCount;
  AgentColDesc* colDescs;    // owned with their texts; NULL until described

  RowBuffer rows;            // the current fetch block
  uint16_t rowsPerBlock;
  uint16_t currentRow;

  ColBindingNode* colBindings;    // bound columns, in binding order
  // Indexed by parameter number - 1; both arrays hold paramBindingCap
  // entries (none while the pointers are null).
  std::unique_ptr<ParamBinding[]> paramBindings;
  uint16_t paramBindingCap;
  std::unique_ptr<ParamSummary[]> paramSummaries;

  uint16_t daeState;         // DataAtExecState
  RowBuffer* paramBlock;
  int32_t agentDaeRow;
  int32_t agentDaeIndex;
  uint16_t daeNextIndex;
  int16_t daeIndex;
  uint32_t daeNextRow;
  uint32_t daeRow;
  uint16_t bulkOperation;
  int16_t bulkColCount;
  std::unique_ptr<uint32_t[]> bulkBookmarks;  // of the bulk operation under way
  // The rows a positioned operation's values at execution are asked for
  // ([first, end) of the bound arrays): the operation's own count, so that
  // the statement's parameter set size stays the application's.
  uint32_t daePosFirst;
  uint32_t daePosEnd;

  uint64_t paramsetSize;     // 1 at allocation
  uint64_t* rowsProcessedPtr;
  GetDataState getData;
  uint16_t inputCount;
  uint16_t outputCount;
  uint16_t inOutCount;
  int32_t directionsUnknown;

  SCS_CURSOR cursor;         // the statement's position

  int16_t* setPosStatus;
  RowBuffer* setPosRows;
  uint16_t* updateColumns;

  DescRecord* implicitArd;
  DescRecord* implicitApd;
  DescRecord* currentArd;
  DescRecord* currentApd;
  DescRecord* ird;
  DescRecord* ipd;

  int64_t fetchBookmarkPtr;
  uint64_t* rowsFetchedPtr;
  uint64_t rowNumber;        // forward-only row number
  HashTable* colAttrs;       // extended column attributes, or NULL

  AgentColDesc bookmarkDesc; // the synthetic column 0, filled when asked for
};

struct DescRecord : HandleHead {
  ConnRecord* conn;    // owner of an explicitly allocated descriptor
  StmtRecord* stmt;    // owner of an implicit descriptor

  int16_t kind;        // DK_*
  int16_t allocType;   // SQL_DESC_ALLOC_AUTO 1, SQL_DESC_ALLOC_USER 2
  // Header fields, in the order of their ODBC names.
  uint64_t arraySize;
  uint16_t* arrayStatusPtr;
  int64_t* bindOffsetPtr;
  int32_t bindType;
  int16_t count;       // records after the bookmark record
  uint64_t* rowsProcessedPtr;
  // Entry n is record n; entry 0, the bookmark record, exists from
  // allocation on, and the list holds count + 1 entries.
  std::vector<DescFieldRecPtr> records;
};

// The connection a statement or descriptor call runs on.
inline ConnRecord* OwningConnection(DescRecord* desc) {
  if (desc->conn != nullptr) return desc->conn;
  return desc->stmt != nullptr ? desc->stmt->conn : nullptr;
}

}  // namespace kx
