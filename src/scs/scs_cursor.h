// The cursor layer's emulation state: one record per agent statement opened
// through the layer, one per agent connection, and the services the layer's
// operations share (the saved binding to the agent's own table, messages the
// layer adds to a statement, batch sizing of keyed queries).
//
// The layer keeps these records itself, keyed by the agent's handles, so it
// reaches the agent only through the operation table: the statement options
// it emulates are the agent's (the layer sees every change of them, since
// each goes through its table), its own state lives here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "scrs/sql_analysis.h"
#include "scs/scs_dsc.h"

namespace kx {

struct HashTable;

// Cursor types and concurrencies (ODBC values).
constexpr int32_t SCS_FORWARD_ONLY = 0;
constexpr int32_t SCS_KEYSET_DRIVEN = 1;
constexpr int32_t SCS_DYNAMIC = 2;
constexpr int32_t SCS_STATIC = 3;
constexpr int32_t SCS_CONCUR_READ_ONLY = 1;
constexpr int32_t SCS_CONCUR_LOCK = 2;
constexpr int32_t SCS_CONCUR_VALUES = 4;

// Flags word of the emulation state.
constexpr uint16_t SCSF_ROWSET_CHANGED = 0x1;
constexpr uint16_t SCSF_KEY_ORDERBY = 0x2;
constexpr uint16_t SCSF_KEYED_QUERY = 0x4;
constexpr uint16_t SCSF_PARAMS_KEPT = 0x8;
constexpr uint16_t SCSF_TYPE_CHANGED = 0x40;
constexpr uint16_t SCSF_CACHED = 0x80;
constexpr uint16_t SCSF_WINDOW_STALE = 0x100;
constexpr uint16_t SCSF_ANALYSED = 0x200;
constexpr uint16_t SCSF_CLOSED = 0x400;
constexpr uint16_t SCSF_RESTORE = 0x800;
constexpr uint16_t SCSF_SELLIST_DONE = 0x1000;
constexpr uint16_t SCSF_PREPARED = 0x8000;
// Second flags word: the auxiliary statements' queries are prepared; both
// are cleared when the rowset size changes.
constexpr uint16_t SCSQ_ROWSBYKEYS = 0x10;
constexpr uint16_t SCSQ_VALUES = 0x20;

// Statement features after a prepare of anything but a positioned UPDATE or
// DELETE that is not a SELECT.
constexpr uint16_t SCS_FEATURES_NOT_SELECT = 0x200;

// Position codes shared with the core's copy of the cursor record.
constexpr int32_t SCS_AT_BEFORE_FIRST = 0;
constexpr int32_t SCS_AT_AFTER_LAST = -3;
constexpr int32_t SCS_AT_ALL_ROWS = -2;

// One agent connection opened through the layer.
struct ScsConn {
  AgentHandle env = 0;           // the agent environment it was opened on
  AgentHandle handle = 0;        // the agent connection
  ConnectBlock block{};          // copy of what it was opened with (own texts)
  HashTable* keyColCache = nullptr;  // key columns by table (keyset-driven cursors)
  // What the connection answers once; asked at the first need.
  bool infoRead = false;
  int32_t takesParamArrays = 0;
  int32_t needsParamDescs = 0;
  int32_t lockByUpdate = 0;
  int32_t rowVersionTable = 0;
  int32_t maxParams = 255;
  int32_t unicodeClient = 0;
  int32_t multipleActive = 0;
  char identQuote = 0;
  int32_t identCase = 1;
  int32_t quotedIdentCase = 4;
  uint16_t nullCollation = 0;
  int32_t noCatalogNames = 0;
  uint16_t maxOrderByCols = 0;
  std::string userName;
  std::string dbmsName;
};

// The emulation state of one agent statement.
struct ScsCursor {
  AgentHandle stmt = 0;
  AgentHandle conn = 0;
  ScsConn* connInfo = nullptr;  // borrowed; lives as long as the connection
  // The statement options, as the agent holds them.
  int32_t rowsetSize = 1;
  int32_t keysetSize = 0;
  int32_t cursorType = SCS_FORWARD_ONLY;
  int32_t concurrency = SCS_CONCUR_READ_ONLY;
  int32_t retrieveData = 1;
  int32_t useBookmarks = 0;
  int32_t maxLength = 0;
  int32_t optimisticMode = 1;
  int32_t requestedCursorType = SCS_FORWARD_ONLY;
  int32_t requestedConcurrency = SCS_CONCUR_READ_ONLY;
  // Emulation.
  int32_t rowCount = -1;
  int32_t setPosRow = SCS_AT_BEFORE_FIRST;
  int32_t rowsetStart = 0;
  int32_t setPosRowsAffected = -1;
  int32_t forceStatic = 0;
  int32_t mixedWindow = -6;
  uint16_t flags = 0;
  uint16_t flags2 = 0;
  uint16_t features = 0;
  char* text = nullptr;             // the statement as prepared (owned)
  SCR_ANALYSIS main{};              // the analysed statement
  int32_t describedQuery = 0;       // a SELECT the parser did not read but the agent described
  AgentHandle keysetStmt = 0;       // the layer's own statements (0 none)
  AgentHandle valuesStmt = 0;
  SS_REC* snapshot = nullptr;
  RowBuffer* keptParams = nullptr;  // copy of the application's parameter rows
  SCS_PARAMDESC* appParamDescs = nullptr;
  uint16_t appParamCount = 0;
  std::vector<std::string> messages;  // the layer's own, for DRV_GetMessages
};

// ---- the layer's process-wide state ----------------------------------------------

// The binding to the agent's own table, saved at installation: every call the
// layer makes for its own work goes straight to the agent through it.
const AgentBinding* SCS_AgentBinding();
ScsCursor* SCS_FindCursor(AgentHandle stmt);
ScsConn* SCS_FindConn(AgentHandle conn);

// ---- the emulation record ----------------------------------------------------------

// Fills a new record for an agent statement. 0 or 16.
int SCS_CursorRecInit(ScsCursor* c, AgentHandle stmt, AgentHandle conn, ScsConn* connInfo);
// Releases everything the record owns (its own agent statements too).
void SCS_CursorRecFree(ScsCursor* c);
// Asks the connection's capabilities and SQLGetInfo answers once.
void SCS_ReadConnInfo(ScsConn* info);
// Adds one message of the layer's own to the statement: text, SQLSTATE.
void SCS_PostMsg(ScsCursor* c, const char* text, const char* sqlstate);
// Posts the dataset cache's reason for a failure (when it has one) as S1000.
void SCS_PostCacheFailure(ScsCursor* c, const DSC* cache);
// Keyed-query batch sizes: 0, or 15 when no batch can be formed (no key
// columns, or fewer parameter slots left than one key takes).
int scs_p_KeyBatchSizes(const ScsCursor* c, int32_t keyColumns, int32_t* batches, int32_t* lastRows,
                        int32_t* rowsPerBatch);

// ---- prepare analysis ------------------------------------------------------------------

int scs_p_PrepareCursor(ScsCursor* c, const char* text);
// Falls back to a static, read-only cursor. 0 or 43.
int scs_p_ChangeCursorType(ScsCursor* c);
void scs_p_ResetAnalysis(ScsCursor* c);
// Whether the analysed statement gives a result the layer caches as a query.
bool SCS_IsQuery(const ScsCursor* c);

// ---- fetch engines -----------------------------------------------------------------------

int scs_p_FetchStatic(ScsCursor* c, RowStatusSet* set, int32_t row);
// Caches the whole result of a static cursor after execution (once).
int scs_p_CacheResult(ScsCursor* c);
// The engines the next cursor kinds bring; until then they are not there.
int scs_p_FetchKeyset(ScsCursor* c, RowStatusSet* set, int32_t row);
int scs_p_FetchMixed(ScsCursor* c, int32_t row, uint16_t orientation, RowStatusSet* set);
int scs_p_FetchDynamicOrient(ScsCursor* c, int32_t offset, uint16_t orientation, RowStatusSet* set);
int scs_p_SetPosOp(ScsCursor* c, int32_t row, int32_t operation, uint16_t** statuses, int32_t* count,
                   RowBuffer* data, uint16_t* columns, uint16_t columnCount);

}  // namespace kx
