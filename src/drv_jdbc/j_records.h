// The agent's records as far as the Java bridge uses them: the environment
// ("server") record, the connection and the statement. The agent appends the
// fields it alone uses; the bridge reads only the ones declared here.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "agent/agent.h"
#include "agent/agent_xa.h"
#include "agent/xid.h"
#include "drv_jdbc/j_msg.h"
#include "drv_jdbc/j_typelist.h"
#include "drv_jdbc/text/j_parse_sql.h"

namespace kx {

struct JParamPack;
struct JStmt;

// The calling thread's JNI environment, attaching the thread to the VM when
// it is not yet; null without a VM.
JNIEnv* JVM_ThreadEnv();

// The "environment of the thread running the operation" field of a record.
// A JNIEnv is valid only on its own thread, and one connection is worked on
// from several (the application's threads, its XA worker, a transaction
// manager's threads), so the field stores nothing: reading it gives the
// environment of the thread that reads. Assigning to it, as code that hands
// an environment on does, changes nothing.
class ThreadJni {
 public:
  ThreadJni() = default;
  ThreadJni& operator=(JNIEnv*) { return *this; }
  operator JNIEnv*() const { return JVM_ThreadEnv(); }
  JNIEnv* operator->() const { return JVM_ThreadEnv(); }
};

struct XID;
struct HashTable;

// The agent environment: one per process while open.
struct JEnv {
  void* connList;          // the cursor layer's connection list (opaque here)
  void* rvPoolBinding;     // the cursor layer's row-version pool: binding,
  int32_t rvPoolFlag;      //   flag
  void* rvPoolHead;        //   and node list
  std::mutex lock;         // guards msgs
  AgentMsgList msgs;       // failed connects leave their messages here
  ThreadJni jni;           // environment of the calling thread
  jclass xidClass;         // global: quillmar/support/XAXid
  jobject loader;          // global: the ZNTClassLoader over the JDBC jars
};

// An agent connection, as far as the bridge reads and writes it.
struct JConn {
  AgentMsgList msgs;        // the connection's messages
  JEnv* env;                // the environment it was opened on
  uint32_t handle;          // its own handle in the connection table
  jobject conn;             // global: java.sql.Connection
  jobject meta;             // global: its DatabaseMetaData
  jobject xaConn;           // global: javax.sql.XAConnection while XA is on
  jobject xaRes;            // global: javax.transaction.xa.XAResource while XA is on
  jclass xidClass;          // copy of env->xidClass (not owned)
  jobject loader;           // copy of env->loader (not owned)
  ThreadJni jni;            // environment of the calling thread
  int32_t asciiStreamMode;  // 1 at connect: long text offered as a stream
  int32_t binaryStreamMode; // 1 at connect: long binary offered as a stream
  int32_t unicodeClient;    // text mode of every Java call on this connection
  XID* xaRecover;           // identifiers of the last XA recover scan
  int32_t xaRecoverCount;
  int32_t xaRecoverCursor;
  // The agent's own fields.
  uint32_t envHandle;       // set by the cursor layer at connect
  HashTable* keyColCache;   // the cursor layer's key-column cache
  XaThreadCtx* xaCtx;       // the XA routing layer's context (owned by it)
  // The branch whose end found the connection lost: its work is gone with
  // the connection (the database rolled it back).
  int32_t xaBranchLost;
  XID xaLostBranch;
  char* xaDsClass;          // XA data-source class, slash form (heap)
  char* classList;          // data-source class list, slash form (heap)
  char* props;              // data-source property list (heap; null when none)
  char* user;               // heap, "" when none
  char* password;           // heap, "" when none
  int32_t readOnly;         // read-only as given at connect
  int32_t accessMode;       // SQL_ACCESS_MODE as last set
  HashTable* funcNames;     // upper-case JDBC function name -> row + 1
  HashTable* typeMap;       // SQL type -> type-information entry
  int32_t maxDecimalPrecision;  // the type list's largest NUMERIC precision; 0 unknown
  int32_t preparedDescribe; // 1 until the driver refuses prepared describes
  int32_t stampDigits;      // fraction digits the database's timestamps keep; 0 not known yet
  int32_t dynCursorCapable;
  int32_t odbcVersion;
  AgentConnOptions opts;    // connect options copied at connect (texts owned)
  int32_t multipleActive;
  int32_t dialect;          // PSQL_DIALECT_* + 1 once known, 0 before
  // A connection-class failure (08xxx, server shutdown) reached the core from
  // this connection or one of its statements: the connection is lost for good.
  std::atomic<bool> lost;
  // Statements whose rows are being read ahead on a thread of the VM: every
  // other call on the connection pauses them first (see JDB_PauseReadAheads).
  std::mutex readAheadLock;
  std::vector<JStmt*> readAheads;          // guarded by readAheadLock
  std::atomic<int32_t> readAheadCount{0};  // readAheads.size(), read without the lock
  // The statement whose result is read in blocks inside a transaction of the
  // agent's own while the application is in autocommit mode (see
  // drv_jdbc/j_stream.h); null when none.
  JStmt* streaming;
  int32_t isolation;        // SQL_ATTR_TXN_ISOLATION as last set; 0 not set
};

// An agent statement, as far as the bridge reads and writes it.
struct JStmt {
  AgentMsgList msgs;      // the statement's messages
  JConn* conn;            // its connection
  int32_t unicodeClient;  // text mode, copied from the connection
  ThreadJni jni;          // environment of the calling thread
  jobject stmt;           // global: Statement, PreparedStatement or CallableStatement
  // The agent's own fields.
  uint32_t handle;        // its handle in the statement table
  uint16_t flags;         // JS_* bits
  ParsedSql parsed;       // the prepared text and its classification
  int32_t maxLength;      // max length option, kept for the property operations
  SCS_CURSOR cursor;      // the cursor record the cursor layer works on
  jobject resultMeta;     // global: ResultSetMetaData of the current description
  jobject resultSet;      // global: the open ResultSet
  RowBuffer* paramRows;   // parameter block handed over by DRV_SetParams (owned)
  uint16_t colCount;      // result columns described
  AgentColDesc* cols;     // their descriptions (owned)
  int16_t* colJdbcTypes;  // JDBC type of each described column (owned)
  uint16_t paramCount;    // parameter descriptions (= markers)
  AgentColDesc* params;   // parameter descriptions (owned)
  int32_t executions;     // parameter rows executed so far by the last execution
  int32_t rowCount;       // update count summed over rows
  // Whether rowCount is what the execution reports: an update count (or,
  // after a failure, the rows that completed before it); a result of rows
  // has no count to report.
  uint8_t rowCountKnown;
  // The current result is the rows a data change returned (RETURNING): once
  // read to its end, their number is the count of rows changed.
  uint8_t changedRows;
  // The JDBC type the return value of a "{? = call f(...)}" is registered
  // and read as when the routine's result has another type than the one
  // declared (0: as declared), learnt once from the call's description.
  int32_t returnJdbcType;
  uint8_t returnTypeAsked;
  // The same for the output arguments of a procedure call declared as text:
  // the JDBC type each is registered and read as (0: as declared), asked
  // once a prepare.
  std::vector<int32_t> outputJdbcTypes;
  bool outputTypesAsked;
  int32_t rowsFetched;    // rows delivered from the current result set
  int32_t maxRows;        // 0 = no limit
  int32_t noscan;
  int32_t failAlone;      // AP_STMT_FAIL_ALONE: each execution under a savepoint
  SCS_PARAMDESC* paramInfos;  // copy of the core's parameter descriptors (owned)
  uint16_t paramInfoCount;
  int32_t redirectCol;    // catalog fix-up: delivered column for result column 1; -1 none
  int32_t catalogKind;    // 0 ordinary result; 1..11 catalog result
  int32_t typeFilter;     // SQL type filter of a type-information result
  // A type-information result: its rows, made whole when it was opened
  // (the Java result is read and closed then), and the next to deliver.
  std::vector<TypeListRow> typeRows;
  size_t typeRowNext;
  int32_t columnCap;      // columns delivered by a catalog result; -1 all
  char* procName;         // procedure of the previous procedure-columns row (owned)
  int32_t ordinal;        // running ordinal of procedure-columns rows
  int32_t probed;         // parameter descriptions completed by the describe probe
  // Fraction digits the column of each time and timestamp parameter keeps,
  // as the JDBC driver describes it (-1 not known); asked once a prepare, at
  // the first such value bound.
  std::vector<int8_t> paramFractionDigits;
  bool paramFractionAsked;
  char* cursorName;       // name set before the Java statement existed (owned)
  // Set by the object getters (text, binary, date and time): the last one
  // returned an object, so the value is not SQL NULL and the fetch need not
  // ask wasNull; cleared when it returned null.
  uint8_t valuePresent;
  jobject rowBlock;       // global: the statement's block reader, made at its first block
  // The result set's rows per round trip have been set from its row width.
  uint8_t resultSized;
  // Set while a block of parameter rows is bound for a batch: the setters
  // pack their calls here instead of calling Java (not owned).
  JParamPack* paramPack;
  jweak legacyTemporalOf;       // weak: the result set legacyTemporalCols is about
  uint64_t legacyTemporalCols;  // bit c - 1: column c is not read as java.time
  int32_t queryTimeout;   // seconds, 0 none; given to every Java statement made for it
  // SQLCancel reached the statement since its current run began (set on the
  // cancelling thread): the database's "query canceled" then reports the
  // cancel rather than a timeout.
  std::atomic<bool> cancelAsked;
  // Listed in conn->readAheads (guarded by its readAheadLock).
  bool readAheadListed;
  // A failure met after some rows of a block were read: those rows go out
  // first, and the failure (its status and messages) with the next block,
  // so that an application stopping at the error has every row before it.
  int32_t deferredStatus = 0;
  AgentMsgList deferredMsgs{};
};

// JStmt flags.
constexpr uint16_t JS_PREPARED = 0x1;
constexpr uint16_t JS_RESULTS = 0x2;
constexpr uint16_t JS_END = 0x4;
constexpr uint16_t JS_RSOPEN = 0x8;
constexpr uint16_t JS_PARAMS_DUE = 0x10;
constexpr uint16_t JS_OUT_DELIVERED = 0x20;  // output parameters of the last call read
constexpr uint16_t JS_CALL = 0x40;
constexpr uint16_t JS_DESCRIBED = 0x80;
// The prepare described result columns: the statement returns rows (a
// data change with RETURNING, say), whatever its first word.
constexpr uint16_t JS_PREPARED_ROWS = 0x100;
constexpr uint16_t JS_OUT_REGISTERED = 0x200;
// The parameter rows run one at a time, each giving its results before the
// next row runs (through more results): the statement returns rows.
constexpr uint16_t JS_ROW_BY_ROW = 0x400;
// A data change that returns rows, prepared so that each execution reports
// its update count and then gives the rows as its generated keys: the count
// is known before the rows are read.
constexpr uint16_t JS_COUNTED_ROWS = 0x800;

}  // namespace kx
