// The agent interface: the table of operations through which the ODBC core
// reaches the database, the binding that holds it, and the records that cross
// the table. The JDBC agent fills the table; the scrollable cursor layer and
// the XA routing layer each copy the table below them once, override slots and
// call down through their saved copy.
//
// Every operation returns an int32 code: 0 or a row of the driver's error-code
// table (slots 55 to 64: an X/Open XA code). Agent handles of every level are
// unsigned 32-bit values. An empty (null) slot is answered by the core with
// code 1 (IM001) and never called: go through AgentCall.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/connect.h"     // ConnectBlock
#include "agent/xid.h"         // XID
#include "util/row_buffer.h"  // RowBuffer, AgentColDesc
#include "util/str_util.h"    // StrList

namespace kx {

struct ValueRec;    // util/value_rec.h
struct StmtRecord;  // odbc/records.h

using AgentHandle = uint32_t;

// ---- properties -------------------------------------------------------------
// bits 28-31 level, 24-27 value kind, 16-23 class, 0-15 item.
using AgentPropertyId = uint32_t;

constexpr uint32_t AP_LEVEL_ENV = 1, AP_LEVEL_CONN = 2, AP_LEVEL_STMT = 3;
constexpr uint32_t AP_KIND_TEXT = 1, AP_KIND_INT = 2;
constexpr uint32_t AP_CLASS_CAPABILITY = 1, AP_CLASS_OPTION = 3, AP_CLASS_GETINFO = 4;

constexpr AgentPropertyId AgentProperty(uint32_t level, uint32_t kind, uint32_t cls, uint32_t item) {
  return (level << 28) | (kind << 24) | (cls << 16) | (item & 0xFFFF);
}
constexpr uint32_t AgentPropertyLevel(AgentPropertyId id) { return id >> 28; }
constexpr uint32_t AgentPropertyKind(AgentPropertyId id) { return (id >> 24) & 0xF; }
constexpr uint32_t AgentPropertyClass(AgentPropertyId id) { return (id >> 16) & 0xFF; }
constexpr uint32_t AgentPropertyItem(AgentPropertyId id) { return id & 0xFFFF; }

// The identifiers the core asks or sets.
constexpr AgentPropertyId AP_ENV_AGENT_KIND = 0x11010000;  // text: the kind of agent ("jdbc")
// A fixed word of the agent's features, asked by no layer (0x2AFFFF here).
constexpr AgentPropertyId AP_CONN_AGENT_FEATURES = 0x22010001;
constexpr AgentPropertyId AP_CONN_NEEDBIND = 0x22010002;
constexpr AgentPropertyId AP_CONN_HAS_MORE_RES = 0x22010003;
constexpr AgentPropertyId AP_CONN_HAS_PARAM_OP = 0x22010004;
constexpr AgentPropertyId AP_CONN_SP_OUT_DEFER_FETCH = 0x22010005;
constexpr AgentPropertyId AP_CONN_HAS_SCRL_CURS = 0x22010006;
constexpr AgentPropertyId AP_CONN_ROWS_LOCKED_BY_UPDATE = 0x22010007;
constexpr AgentPropertyId AP_CONN_HAS_DYN_MIX_CURS = 0x22010008;
constexpr AgentPropertyId AP_CONN_MAX_PARAMS = 0x22010009;  // markers one statement may hold
constexpr AgentPropertyId AP_CONN_HAS_V2DAE = 0x2201000a;
constexpr AgentPropertyId AP_CONN_ROW_VERSION_TABLE = 0x2201000b;
constexpr AgentPropertyId AP_CONN_ODBC_VERSION = 0x2201000c;
constexpr AgentPropertyId AP_CONN_HAS_EXECUTE2 = 0x2201000e;
// Set to 1 at open when the connection asks for it (CF_SET_OPEN_OPTION).
constexpr AgentPropertyId AP_CONN_OPEN_OPTION = 0x2201000f;
constexpr AgentPropertyId AP_CONN_CAPABILITY_MASK = 0x22010011;
// text: the cursor layer's summary of the connection's capabilities
// ("001.005:" and twelve digits), answered by the layer, asked by no caller
// of this system.
constexpr AgentPropertyId AP_CONN_CAPABILITY_TEXT = 0x21010010;
// Two capabilities of the agent that the summary passes on as 0 or 1.
constexpr AgentPropertyId AP_CONN_CAPABILITY_20 = 0x22010014;
constexpr AgentPropertyId AP_CONN_CAPABILITY_21 = 0x22010015;
constexpr AgentPropertyId AP_CONN_UNICODE_CLIENT = 0x22010013;
constexpr AgentPropertyId AP_CONN_MULTI_ACTIVE_STMTS = 0x22010016;
// 1 when the connection to the database is lost: a connection-class failure
// was seen on it, or a short check finds it closed or unusable; else 0.
constexpr AgentPropertyId AP_CONN_DEAD = 0x22010019;
// 1 when the database compares row values in an IN list,
// (a, b) IN ((?, ?), (?, ?)); else 0 (the cursor layer then writes such a
// match as OR-ed groups of equalities).
constexpr AgentPropertyId AP_CONN_ROW_VALUE_IN = 0x2201001a;
// text: the connection's current schema (where unqualified names resolve)
constexpr AgentPropertyId AP_CONN_SCHEMA = 0x21010017;
constexpr AgentPropertyId AP_CONN_AUTOCOMMIT = 0x22030000;
constexpr AgentPropertyId AP_CONN_READONLY = 0x22030001;
constexpr AgentPropertyId AP_CONN_ISOLATION = 0x2203006c;
constexpr AgentPropertyId AP_CONN_CATALOG = 0x2101000d;
constexpr AgentPropertyId AP_CONN_SET_CATALOG = 0x2103006d;
constexpr AgentPropertyId AP_CONN_GETINFO_INT = 0x22040000;   // + SQLGetInfo type
constexpr AgentPropertyId AP_CONN_GETINFO_TEXT = 0x21040000;  // + SQLGetInfo type
constexpr AgentPropertyId AP_STMT_ROW_COUNT = 0x32010000;
// Parameter rows the last execution has run so far: all of them at once, or,
// for a statement giving one result per row, one more with each result.
constexpr AgentPropertyId AP_STMT_PARAM_ROWS_RUN = 0x32010001;
constexpr AgentPropertyId AP_STMT_QUERY_TIMEOUT = 0x32030000;
constexpr AgentPropertyId AP_STMT_MAX_ROWS = 0x32030001;
constexpr AgentPropertyId AP_STMT_NOSCAN = 0x32030002;
constexpr AgentPropertyId AP_STMT_MAX_LENGTH = 0x32030003;
constexpr AgentPropertyId AP_STMT_CURSOR_TYPE = 0x32030006;
constexpr AgentPropertyId AP_STMT_CONCURRENCY = 0x32030007;
constexpr AgentPropertyId AP_STMT_KEYSET_SIZE = 0x32030008;
constexpr AgentPropertyId AP_STMT_ROWSET_SIZE = 0x32030009;
constexpr AgentPropertyId AP_STMT_SIMULATE_CURSOR = 0x3203000A;
constexpr AgentPropertyId AP_STMT_RETRIEVE_DATA = 0x3203000B;
constexpr AgentPropertyId AP_STMT_USE_BOOKMARKS = 0x3203000C;
constexpr AgentPropertyId AP_STMT_GET_BOOKMARK = 0x3203000D;
constexpr AgentPropertyId AP_STMT_ROW_NUMBER = 0x3203000E;
constexpr AgentPropertyId AP_STMT_ENABLE_AUTO_IPD = 0x3203000F;
constexpr AgentPropertyId AP_STMT_SERIAL = 0x32030419;
constexpr AgentPropertyId AP_STMT_OPTIMISTIC_MODE = 0x3203041A;
// 1: inside an open transaction each execution of the statement fails alone
// (a failed one is undone and the transaction goes on, also on a data source
// that otherwise refuses every statement after an error until the rollback).
constexpr AgentPropertyId AP_STMT_FAIL_ALONE = 0x3203041B;

// Bits of the connection capability mask (AP_CONN_CAPABILITY_MASK).
constexpr uint32_t CAP_NEEDBIND = 0x1;
constexpr uint32_t CAP_HAS_MORE_RES = 0x2;
constexpr uint32_t CAP_HAS_PARAM_OP = 0x4;
constexpr uint32_t CAP_HAS_SCRL_CURS = 0x8;
constexpr uint32_t CAP_HAS_DYN_MIX_CURS = 0x10;
constexpr uint32_t CAP_HAS_V2DAE = 0x20;
constexpr uint32_t CAP_SP_OUT_DEFER_FETCH = 0x40;
constexpr uint32_t CAP_HAS_EXECUTE2 = 0x80;
constexpr uint32_t CAP_AUTOCOMMIT = 0x100;
constexpr uint32_t CAP_CONVERT_INFO = 0x200;  // the agent answers the SQL_CONVERT_* information types
constexpr uint32_t CAP_EXT_DESCRIBE = 0x400;
constexpr uint32_t CAP_NAMED_PARAMS = 0x800;
constexpr uint32_t CAP_MAX_LENGTH = 0x1000;   // the agent takes SQL_MAX_LENGTH
constexpr uint32_t CAP_DTC = 0x2000;
constexpr uint32_t CAP_FAILOVER = 0x4000;

// ---- records crossing the table ---------------------------------------------

// Messages handed out by DRV_GetMessages: native code of the first message,
// count, and count heap texts "[Skerrin Edition]%s[SQLSTATE:%s]" (an empty
// message leaves a NULL entry). The caller frees them with StrListFree.
using AgentMsgBlock = StrList;

// Argument of DRV_AllocServer. A failed allocation leaves its reason (a Java
// VM that cannot be found or started) as the messages of handle 0, for the
// calling thread: DRV_GetMessages(0) hands them out once.
struct AgentServerOptions {
  char* options;
  char* serverType;
  // The driver's section of odbcinst.ini that the connect named (DRIVER=, or
  // the data source's Driver=); NULL or "" when it named none, and the
  // section is then found by the library's path. The agent reads its own
  // setup values (the jar directory) from it.
  const char* setupSection;
};

// The table GetOpTable is asked for: the types the core may bind.
constexpr int32_t OP_TABLE_SQL_TYPES = 1;

// Conversion bits of an OpTableRow's mask the core reads.
constexpr uint32_t OPT_CONVERTS_DATE = 0x200;
constexpr uint32_t OPT_CONVERTS_TIME = 0x400;
constexpr uint32_t OPT_CONVERTS_TIMESTAMP = 0x800;
constexpr uint32_t OPT_CONVERTS_ANY = 0xFFFFFFFFu;

// One row of the agent's SQL-type table (GetOpTable, OP_TABLE_SQL_TYPES).
struct OpTableRow {
  int32_t sqlType;    // the C type of the row's SQL type, as the default C type names it
  int32_t maxLength;  // 0 = not applicable
  uint32_t mask;      // conversions (OPT_CONVERTS_*)
};

// Request and answer of GetOpTable; the rows belong to the agent.
struct OpTable {
  int32_t type;
  int32_t count;
  const OpTableRow* rows;
};

// The parameter descriptor handed to the agent with parameter rows.
struct SCS_PARAMDESC {
  int32_t sqlType;
  int32_t cType;
  uint32_t columnSize;
  int16_t decimalDigits;
  int16_t direction;  // 1 input
};
static_assert(sizeof(SCS_PARAMDESC) == 16, "SCS_PARAMDESC is a 16-byte record");

// The named form (slots 54 and 65).
struct SCS_PARAMDESC_EX {
  SCS_PARAMDESC desc;
  const char* name;  // NULL when unnamed
};
static_assert(sizeof(SCS_PARAMDESC_EX) == 24, "SCS_PARAMDESC_EX is a 24-byte record");

// One statement of DRV_ExecuteBatch.
struct AgentBatchEntry {
  const char* sql;
  uint64_t paramCount;  // a u16 count in an 8-byte slot
  SCS_PARAMDESC* params;
  RowBuffer* rows;
};
static_assert(sizeof(AgentBatchEntry) == 32, "AgentBatchEntry is a 32-byte record");

// Direction markers the agent puts in a parameter description's name.
constexpr const char* PARAM_MARK_IN = "*I";
constexpr const char* PARAM_MARK_OUT = "*O";
constexpr const char* PARAM_MARK_INOUT = "*B";
constexpr const char* PARAM_MARK_UNKNOWN = "*U";

// AgentColDesc, the agent's description of one result column or parameter,
// is defined with the row buffers (util/row_buffer.h), whose operations make
// and free arrays of it.
constexpr uint32_t COLDESC_NULLABLE_MASK = 0x0F;
constexpr uint32_t COLDESC_UPDATABLE_SHIFT = 4;

// The column attributes the extended describe delivers beside the ODBC ones
// (SQL_DESC_*): whether a column is one of the key set's columns, and whether
// it is derived (an expression, so it has no base column). Both are left
// pending (the id made negative) for the cursor layer to resolve.
constexpr int16_t COLATTR_KEY_COLUMN = 1053;
constexpr int16_t COLATTR_DERIVED_COLUMN = 1055;

// One rowset as the cursor layer hands it to the core.
struct RowStatusSet {
  int16_t* statuses;  // one ODBC row status per row; 3 (no row) when made
  RowBuffer* rows;    // owned by the set
  int32_t count;
};

// Row statuses (the ODBC values).
constexpr int16_t SCS_ROW_SUCCESS = 0;
constexpr int16_t SCS_ROW_NOROW = 3;
constexpr int16_t SCS_ROW_ERROR = 5;

// Row-status sets: whoever receives one from the cursor layer frees it with
// RowStatusSetFree. 0, 15 (bad arguments) or 16 (out of memory).
int RowStatusSetNew(RowStatusSet** out, int32_t n);
int RowStatusSetInit(RowStatusSet* set, int32_t n);
void RowStatusSetClear(RowStatusSet* set);
void RowStatusSetFree(RowStatusSet** set);

// A binding of the agent operations: one process-wide, one per connection.
struct AgentOps;
struct AgentBinding {
  int32_t flags;
  const AgentOps* ops;
};
constexpr int32_t AB_CORE_KEEPS_BUFFERS = 0x1;  // the core frees row blocks after calls
constexpr int32_t AB_REENTRANT = 0x2;          // no process-wide agent lock needed

// The cursor record: the connection's defaults, the statement's position and
// the agent statement's emulation state. Fields the core uses; the cursor
// layer adds its working state after them.
struct SCS_CURSOR {
  int32_t rowsetSize;        // default 1
  int32_t keysetSize;        // 0 = whole result
  int32_t rowCount;          // -1 unknown
  int32_t cursorType;        // 0 forward-only, 1 keyset, 2 dynamic, 3 static
  int32_t requestedCursorType;
  int32_t concurrency;       // 1 read-only, 2 lock, 3 row versions, 4 values
  int32_t requestedConcurrency;
  int32_t simulateCursor;
  int32_t useBookmarks;
  int32_t retrieveData;      // default 1
  uint32_t agentConn;
  uint32_t agentStmt;
  int32_t setPosRow;         // SCS_POSITION code
  int32_t rowsetStart;
  AgentBinding* binding;
  StmtRecord* owner;
  int32_t optimisticMode;    // default 1
  uint16_t flags;
  RowStatusSet* rowStatus;   // owned
  uint16_t* appStatusArray;
  uint32_t setPosArgRow;
  uint16_t setPosOp;
  uint32_t fetchDirections;
  int32_t prevRowsetSize;
  int32_t describeBaseColumns;   // statement option 1052: column information of base columns
  int32_t addMissingKeyColumns;  // statement option 1054: also the key columns the select list lacks
  int32_t rowVersionFlag;    // the cursor layer's row-version flag
};

// Flags of the cursor record (SCS_CURSOR.flags) the core and the agent use.
constexpr uint16_t SCS_FLAG_ROWSET_CHANGED = 0x1;
constexpr uint16_t SCS_FLAG_BACKEND_CHANGED = 0x800;

// ---- the operation table ----------------------------------------------------

struct AgentOps {
  int32_t (*DRV_GetProperty)(AgentHandle h, AgentPropertyId id, void* out, uint16_t capacity,
                             uint16_t* length);                                           // 0
  int32_t (*DRV_SetProperty)(AgentHandle h, AgentPropertyId id, const void* value);       // 1
  int32_t (*DRV_GetMessages)(AgentHandle h, AgentMsgBlock* out);                          // 2
  int32_t (*DRV_AllocServer)(const AgentServerOptions* options, AgentHandle* server);     // 3
  int32_t (*DRV_FreeServer)(AgentHandle server);                                          // 4
  int32_t (*DRV_Connect)(AgentHandle server, ConnectBlock* block, AgentHandle* conn);     // 5
  int32_t (*DRV_Disconnect)(AgentHandle conn);                                            // 6
  int32_t (*DRV_AllocStmt)(AgentHandle conn, AgentHandle* stmt);                          // 7
  int32_t (*DRV_FreeStmt)(AgentHandle stmt);                                              // 8
  int32_t (*DRV_GetCursorName)(AgentHandle stmt, char* buffer, int32_t size, uint16_t* length);  // 9
  int32_t (*DRV_SetCursorName)(AgentHandle stmt, const char* name);                       // 10
  int32_t (*DRV_Prepare)(AgentHandle stmt, const char* sql);                              // 11
  int32_t (*DRV_SetParams)(AgentHandle stmt, RowBuffer* rows);                            // 12
  int32_t (*DRV_Execute)(AgentHandle stmt);                                               // 13
  int32_t (*DRV_Reserved14)(AgentHandle stmt, uint16_t a, uint16_t b, void* p);           // 14
  int32_t (*DRV_DescribeCols)(AgentHandle stmt, uint16_t* count, AgentColDesc** cols);    // 15
  int32_t (*DRV_DescribeParams)(AgentHandle stmt, uint16_t* count, AgentColDesc** params);  // 16
  // The translation cut to fit capacity bytes (terminated), 19 when cut;
  // *length receives the whole translation's length in bytes either way.
  int32_t (*DRV_NativeSql)(AgentHandle conn, const char* sql, char* out, uint32_t capacity,
                           uint32_t* length);                                             // 17
  int32_t (*DRV_SetParamInfo)(AgentHandle stmt, uint16_t count, const SCS_PARAMDESC* descs);  // 18
  int32_t (*DRV_FetchBlock)(AgentHandle stmt, uint16_t rows, RowBuffer* out);             // 19
  int32_t (*DRV_CloseCursor)(AgentHandle stmt);                                           // 20
  int32_t (*DRV_Commit)(AgentHandle conn);                                                // 21
  int32_t (*DRV_Rollback)(AgentHandle conn);                                              // 22
  int32_t (*GetOpTable)(AgentHandle conn, OpTable* table);                                // 23
  int32_t (*DRV_MoreResults)(AgentHandle stmt);                                           // 24
  int32_t (*DRV_DDColumnPrivileges)(AgentHandle stmt, const char* catalog, const char* schema,
                                    const char* table, const char* column);               // 25
  int32_t (*DRV_DDColumns)(AgentHandle stmt, const char* catalog, const char* schema,
                           const char* table, const char* column);                        // 26
  int32_t (*DRV_DDForeignKeys)(AgentHandle stmt, const char* pkCatalog, const char* pkSchema,
                               const char* pkTable, const char* fkCatalog,
                               const char* fkSchema, const char* fkTable);               // 27
  int32_t (*DRV_DDPrimaryKeys)(AgentHandle stmt, const char* catalog, const char* schema,
                               const char* table);                                        // 28
  int32_t (*DRV_DDProcedureColumns)(AgentHandle stmt, const char* catalog, const char* schema,
                                    const char* procedure, const char* column);           // 29
  int32_t (*DRV_DDProcedures)(AgentHandle stmt, const char* catalog, const char* schema,
                              const char* procedure);                                     // 30
  int32_t (*DRV_DDSpecialColumns)(AgentHandle stmt, const char* catalog, const char* schema,
                                  const char* table, uint16_t identifierType, uint16_t scope,
                                  uint16_t nullable);                                     // 31
  int32_t (*DRV_DDStatistics)(AgentHandle stmt, const char* catalog, const char* schema,
                              const char* table, uint16_t unique, uint16_t accuracy);     // 32
  int32_t (*DRV_DDTablePrivileges)(AgentHandle stmt, const char* catalog, const char* schema,
                                   const char* table);                                    // 33
  int32_t (*DRV_DDTables)(AgentHandle stmt, const char* catalog, const char* schema,
                          const char* table, const char* types);                          // 34
  int32_t (*DRV_DDTypeInfo)(AgentHandle stmt, int16_t sqlType);                           // 35
  int32_t (*DRV_ExtendedFetch)(AgentHandle stmt, RowStatusSet** rowset, int32_t row,
                               uint32_t* rows, int32_t* total);                           // 36
  int32_t (*DRV_SetPos)(AgentHandle stmt, int32_t row, int32_t operation, int32_t lock,
                        uint16_t** statuses, int32_t* count, RowBuffer* data,
                        uint16_t* columns, uint16_t columnCount);                         // 37
  int32_t (*DRV_ParamData)(AgentHandle stmt, int32_t* index, int32_t* row,
                           uint16_t** posStatus, uint64_t* scratch);                      // 38
  int32_t (*DRV_PutData)(AgentHandle stmt, uint32_t storageType, int16_t indicator,
                         void* piece, uint32_t size);                                     // 39
  int32_t (*DRV_GetLongData)(AgentHandle stmt, uint16_t column, uint16_t row, uint32_t pieceSize,
                             void** piece, uint32_t* octets, uint32_t* storageType,
                             int32_t* total);                                             // 40
  int32_t (*DRV_FetchScroll)(AgentHandle stmt, RowStatusSet** rowset, int32_t row,
                             uint32_t* rows, int32_t* total, uint16_t orientation);      // 41
  int32_t (*DRV_BulkOperations)(AgentHandle stmt, uint16_t operation, uint32_t* bookmarks,
                                uint16_t count, RowBuffer* data, uint16_t* columns,
                                uint16_t columnCount, uint16_t** statuses,
                                uint16_t* statusCount, RowStatusSet** fetched);          // 42
  int32_t (*DRV_ExecDirect)(AgentHandle stmt, const char* sql, RowBuffer* rows,
                            uint16_t descCount, const SCS_PARAMDESC* descs);              // 43
  int32_t (*DRV_ExecuteDescribe)(AgentHandle stmt, const char* sql, RowBuffer* rows,
                                 uint16_t descCount, const SCS_PARAMDESC* descs,
                                 int32_t* rowsetSize, uint16_t* colCount, AgentColDesc** cols,
                                 uint16_t* paramCount, AgentColDesc** params,
                                 int32_t* rowCount);                                      // 44
  int32_t (*DRV_AllocPrepare)(AgentHandle conn, const char* sql, int32_t concurrency,
                              int32_t cursorType, AgentHandle* stmt);                     // 45
  int32_t (*DRV_DescribeColTypes)(AgentHandle stmt, uint16_t* count, AgentColDesc** cols,
                                  RowBuffer* work);                                       // 46
  int32_t (*DRV_FetchKeepLongData)(AgentHandle stmt, RowStatusSet** rowset, int32_t row,
                                   uint32_t* rows, int32_t* total, uint16_t orientation);  // 47
  int32_t (*DRV_GetLongDataPiece)(AgentHandle stmt, int32_t column, int32_t row, uint32_t limit,
                                  void** piece, int32_t* length, int32_t* storageType,
                                  int32_t* left);                                         // 48
  int32_t (*DRV_ExecuteBatch)(AgentHandle stmt, uint16_t count, AgentBatchEntry* entries,
                              int16_t* done, int32_t* rowCounts);                         // 49
  int32_t (*DRV_Reserved50)();                                                            // 50
  int32_t (*DRV_DescribeColsEx)(AgentHandle stmt, uint16_t* count, int16_t* attrCount,
                                AgentColDesc** cols, ValueRec** attrs);                   // 51
  int32_t (*DRV_ExecuteDescribeEx)(AgentHandle stmt, const char* sql, RowBuffer* rows,
                                   uint16_t descCount, const SCS_PARAMDESC* descs,
                                   int32_t* rowsetSize, uint16_t* colCount,
                                   AgentColDesc** cols, uint16_t* paramCount,
                                   AgentColDesc** params, int16_t* attrCount,
                                   ValueRec** attrs, int32_t* rowCount);                  // 52
  int32_t (*DRV_Cancel)(AgentHandle stmt);                                                // 53
  int32_t (*DRV_ExecDirectEx)(AgentHandle stmt, const char* sql, RowBuffer* rows,
                              uint16_t descCount, const SCS_PARAMDESC_EX* descs);         // 54
  int32_t (*DRV_XaClose)(AgentHandle conn, const char* info, int rmid, long flags);       // 55
  int32_t (*DRV_XaCommit)(AgentHandle conn, XID* xid, int rmid, long flags);              // 56
  int32_t (*DRV_XaComplete)(AgentHandle conn, int* handle, int* retval, int rmid,
                            long flags);                                                  // 57
  int32_t (*DRV_XaEnd)(AgentHandle conn, XID* xid, int rmid, long flags);                 // 58
  int32_t (*DRV_XaForget)(AgentHandle conn, XID* xid, int rmid, long flags);              // 59
  int32_t (*DRV_XaOpen)(AgentHandle conn, int threaded, const char* info, int rmid,
                        long flags);                                                      // 60
  int32_t (*DRV_XaPrepare)(AgentHandle conn, XID* xid, int rmid, long flags);             // 61
  int32_t (*DRV_XaRecover)(AgentHandle conn, XID* xids, int32_t count, int rmid,
                           long flags);                                                   // 62
  int32_t (*DRV_XaRollback)(AgentHandle conn, XID* xid, int rmid, long flags);            // 63
  int32_t (*DRV_XaStart)(AgentHandle conn, XID* xid, int rmid, long flags);               // 64
  int32_t (*DRV_SetParamInfoEx)(AgentHandle stmt, uint16_t count,
                                const SCS_PARAMDESC_EX* descs);                           // 65
};
constexpr int AGENT_OP_SLOTS = 66;
static_assert(sizeof(AgentOps) == AGENT_OP_SLOTS * sizeof(void*), "AgentOps has 66 slots");

// Whether slot n (0..65) of a table is empty.
bool AgentSlotEmpty(const AgentOps* ops, int slot);

// One SQLGetInfo answer asked of the agent. 0, 19 (text cut), 21, 27 or the
// agent's code. A cut text is terminated within capacity.
int SCS_GetInfoType(AgentBinding* binding, uint32_t connHandle, uint16_t infoType, void* out,
                    int16_t capacity, int16_t* length);

// Calls one slot through a binding; an empty slot (or no table) answers 1
// (IM001, "Driver does not support this function") without a call.
template <class Fn, class... Args>
int32_t AgentCall(const AgentBinding& binding, Fn AgentOps::*slot, Args... args) {
  if (binding.ops == nullptr) return 1;
  Fn fn = binding.ops->*slot;
  if (fn == nullptr) return 1;
  return fn(args...);
}

}  // namespace kx
