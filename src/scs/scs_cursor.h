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

#include <array>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
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
constexpr int32_t SCS_CONCUR_ROWVER = 3;
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
constexpr uint16_t SCSQ_LOCKING = 0x40;  // the by-key query locks the rows it reads

// Statement features after a prepare of anything but a positioned UPDATE or
// DELETE that is not a SELECT.
constexpr uint16_t SCS_FEATURES_NOT_SELECT = 0x200;

// Row statuses of the key set beyond those the agent contract names.
constexpr int16_t SCS_ROW_DELETED = 1;
constexpr int16_t SCS_ROW_UPDATED = 2;

// Position codes shared with the core's copy of the cursor record.
constexpr int32_t SCS_AT_BEFORE_FIRST = 0;
constexpr int32_t SCS_AT_AFTER_LAST = -3;
constexpr int32_t SCS_AT_ALL_ROWS = -2;

// A mixed cursor without a window of keys: its next fetch builds one.
constexpr int32_t SCS_WINDOW_NONE = -6;

// The key set of a cursor: the key columns of the query's tables, the keys of
// its rows (all of them for a keyset-driven cursor) and a status per key.
struct KS_REC {
  int16_t* status;      // one ODBC row status per key, NULL when none
  int32_t statusCount;
  RowBuffer* keys;      // resident key rows (header owned)
  int32_t windowStart;  // key number held in row 0 of keys; -1 spilled, nothing resident
  uint8_t tableCount;   // tables of the query: with one, key columns stand unqualified
  ARR* keyCols;         // SCS_COLDESC per key column, NULL when none
  DSC cache;            // the keys beyond the memory window
};

int KS_New(KS_REC** out);
void KS_Close(KS_REC* ks);
void KS_Reset(KS_REC* ks);
void KS_Free(KS_REC** ks);
inline int32_t KS_KeyCount(const KS_REC* ks) {
  return ks != nullptr && ks->keyCols != nullptr ? static_cast<int32_t>(ks->keyCols->count) : 0;
}
inline SCS_COLDESC* KS_KeyCol(const KS_REC* ks, int32_t i) {
  return static_cast<SCS_COLDESC*>(ARR_At(ks->keyCols, static_cast<uint32_t>(i)));
}

// The seek ordering of a mixed cursor: the statement's ORDER BY items up to
// the one that completes the key, then the keys no item names. Each
// position reads its boundary value from a column of the window's rows
// (keys first, then the values of the items that are not keys).
struct SeekPos {
  std::string text;  // the column as the statement writes it
  bool isKey = false;
  bool desc = false;
  uint16_t column = 0;  // column of the window's rows
};
// One agent connection opened through the layer.
struct ScsConn {
  AgentHandle env = 0;           // the agent environment it was opened on
  AgentHandle handle = 0;        // the agent connection
  ConnectBlock block{};          // copy of what it was opened with (own texts)
  AgentConnOptions connOptions{};  // the options block.connOptions points to (own texts)
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
  int32_t selectForUpdate = 0;  // SELECT ... FOR UPDATE locks the rows it reads
  int32_t rowValueIn = 0;       // (a, b) IN ((?, ?), ...) matches compound keys
  std::string searchEscape;     // escapes '_' and '%' in catalog search patterns ("" none)
  std::string userName;
  std::string dbmsName;
  // Messages of a statement that a failed allocate-and-prepare freed: the
  // connection hands them out with its own.
  std::vector<std::string> orphanMessages;
};

// Flag words of the layer's own statement analyses.
constexpr uint16_t SCS_BYKEY_READY = 0x1;  // the values statement holds the by-key query

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
  int32_t mixedWindow = SCS_WINDOW_NONE;
  uint16_t flags = 0;
  uint16_t flags2 = 0;
  uint16_t features = 0;
  char* text = nullptr;             // the statement as prepared (owned)
  SCR_ANALYSIS main{};              // the analysed statement
  int32_t describedQuery = 0;       // a SELECT the parser did not read but the agent described
  AgentHandle keysetStmt = 0;       // the layer's own statements (0 none)
  AgentHandle valuesStmt = 0;
  SS_REC* snapshot = nullptr;
  KS_REC* keyset = nullptr;
  ARR* tableRefs = nullptr;         // SCR_TABLEREF of the analysed SELECT
  ARR* orderBy = nullptr;           // SCS_ORDERBYITEM
  ARR* selectCols = nullptr;        // SCS_COLDESC, wildcards expanded
  SCR_ANALYSIS keysetAn{};          // the keyset query
  SCR_ANALYSIS valuesAn{};          // the by-key query
  int32_t byKeyGroups = 0;          // keys the prepared by-key query takes
  std::vector<SeekPos> ordering;    // seek ordering of a mixed cursor
  bool windowFirst = false;         // the key window starts at the first row
  bool windowLast = false;          // the key window ends at the last row
  std::vector<SCS_PARAMDESC> blockTypes;  // types of the key block's columns
  SCS_PARAMDESC* genParamDescs = nullptr;  // descriptors of the layer's own queries
  uint16_t genParamCount = 0;
  RowBuffer* keptParams = nullptr;  // copy of the application's parameter rows
  SCS_PARAMDESC* appParamDescs = nullptr;
  uint16_t appParamCount = 0;
  std::vector<std::string> agentMessages;  // taken from the layer's own agent handles, as they stand
  std::vector<std::string> messages;  // the layer's own, for DRV_GetMessages
  // Row versions of a dynamic cursor (DYN_CURS_SENSITIVITY=HIGH).
  AgentHandle versionConn = 0;
  AgentHandle versionStmt = 0;
  std::string versionConnKey;  // HCONN: process part and connection handle
  std::string versionCursKey;  // HCURS: statement handle
  // The rowset the application holds: the key number (0-based) of each of
  // its rows (-1 for none), and its values as they were read, which an
  // optimistic change compares with the data source's.
  std::vector<int32_t> rowsetKeys;
  RowBuffer* rowsetValues = nullptr;
  // The size of the rowset in hand (0 before the first fetch): a rowset
  // size set since takes effect at the next fetch, so SetPos and a refresh
  // work on this many rows.
  int32_t heldRows = 0;
  // Under optimistic concurrency, for a cursor with bookmarks: a digest of
  // each row as the application last fetched it, by key number. A change by
  // bookmark of a row outside the rowset compares the row with it.
  std::unordered_map<int32_t, std::array<uint8_t, 16>> fetchedVersions;
  // Values concurrency comparing the table's columns (optimistic mode 1,
  // the default): the table's comparable columns (read once per prepare),
  // the statement that reads them by key, and their values for the rows of
  // the rowset in hand as fetched (row u belongs to key tableValueKeys[u]).
  std::vector<SCS_COLDESC> tableCols;
  bool tableColsRead = false;
  AgentHandle tableValuesStmt = 0;
  std::string tableValuesText;
  RowBuffer* tableValues = nullptr;
  std::vector<int32_t> tableValueKeys;
  // A SetPos refresh asked for the rowset's rows again: the fetch that
  // follows keeps the row positioned on, and a mixed or dynamic cursor's
  // fetch of the current rowset reads the keys held (consumed by any fetch).
  bool refreshRowset = false;
  // A keyset cursor's rows come by key, so the application's own statement
  // is run only when something reads its result in order (an ODBC 2 SQLFetch
  // or a column-type probe): run at execution, a database that sends a whole
  // result at once (PostgreSQL outside a transaction) would hold every row
  // of it in memory for nothing.
  bool queryDeferred = false;
  // A row-version check is reading a row: the by-key read locks what it
  // reads where the data source can, so that the row stays as compared until
  // the change (in manual-commit mode, until the transaction ends).
  bool versionCheck = false;
  // The result columns (described once per prepare) and the statement text
  // last prepared on the keyset statement for a positioned change.
  AgentColDesc* resultCols = nullptr;
  uint16_t resultColCount = 0;
  std::string preparedChange;
  // The name the application gave the cursor (SQLSetCursorName), and a
  // positioned UPDATE or DELETE prepared on this statement: its kind (0
  // none), table, SET list and the cursor it names.
  std::string cursorName;
  int32_t posKind = 0;
  std::string posTable, posSet, posCursor;
  // Long values moved out of the last rowset a fetch that keeps long data
  // read (one column per rowset column; only text and binary pointer columns
  // hold values), and the value being read from it in pieces: its column and
  // row (1-based, 0 none), position and bytes left.
  RowBuffer keeper{};
  uint16_t pieceCol = 0;
  uint16_t pieceRow = 0;
  uint32_t piecePos = 0;
  uint32_t pieceLeft = 0;
};

// ---- the layer's process-wide state ----------------------------------------------

// The binding to the agent's own table, saved at installation: every call the
// layer makes for its own work goes straight to the agent through it.
const AgentBinding* SCS_AgentBinding();
// The layer's own table: the operations as the layer carries them out.
const AgentOps* SCS_LayerOps();
ScsCursor* SCS_FindCursor(AgentHandle stmt);
ScsConn* SCS_FindConn(AgentHandle conn);

// ---- the emulation record ----------------------------------------------------------

// Fills a new record for an agent statement. 0 or 16.
int SCS_CursorRecInit(ScsCursor* c, AgentHandle stmt, AgentHandle conn, ScsConn* connInfo);
// Releases everything the record owns (its own agent statements too).
void SCS_CursorRecFree(ScsCursor* c);
// Copies connection options, each text its own copy: false (nothing held)
// when memory runs out.
bool SCS_CopyConnOptions(AgentConnOptions* dst, const AgentConnOptions* src);
// Frees the option texts and zeroes the options.
void SCS_FreeConnOptions(AgentConnOptions* o);
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
// The keyset statement (allocated at the first need) for a statement of the
// layer's own other than a positioned change: the change prepared on it last
// has to be prepared again. 0 or 15.
int scs_p_UseKeysetStmt(ScsCursor* c);
// Prepares sql on the keyset statement (see scs_p_UseKeysetStmt), logging it
// under what.
int scs_p_PrepareOnKeysetStmt(ScsCursor* c, const char* what, const char* sql);
// Executes the keyset statement with the application's kept parameter values.
int scs_p_ExecuteKeysetStmt(ScsCursor* c);

// ---- table and column metadata ---------------------------------------------------------

// Identifier rules of a connection: quote character (0 none), case of
// unquoted and of quoted names (1 upper, 2 lower, 3 sensitive, 4 mixed), and
// whether texts are UTF-8 (Unicode client).
struct ScsIdentRules {
  char quote = 0;
  int32_t identCase = 1;
  int32_t quotedCase = 4;
  int32_t unicode = 0;
};
ScsIdentRules SCS_IdentRules(const ScsCursor* c);
// Normalises an identifier held in a buffer of SCS_NAME_LEN bytes in place.
// 0, or 15 when the re-quoted name would not fit (the name is left as it was:
// a name is never cut).
int scs_p_NormaliseIdent(char* name, const ScsIdentRules& rules, bool requote);
// 1 when the two identifiers name the same thing under the rules, else 0.
int scs_p_IdentEqual(const char* a, const char* b, const ScsIdentRules& rules);
// 0-based columns of the catalog results the layer reads.
constexpr uint16_t SCS_TABLES_CAT = 0, SCS_TABLES_SCHEM = 1, SCS_TABLES_NAME = 2;
constexpr uint16_t SCS_COLUMNS_SCHEM = 1, SCS_COLUMNS_TABLE = 2;
constexpr uint16_t SCS_COLUMNS_NAME = 3, SCS_COLUMNS_TYPE = 4, SCS_COLUMNS_SIZE = 6, SCS_COLUMNS_DIGITS = 8,
                   SCS_COLUMNS_NULLABLE = 10;
constexpr uint16_t SCS_SPECIAL_NAME = 1, SCS_SPECIAL_TYPE = 2, SCS_SPECIAL_SIZE = 4, SCS_SPECIAL_DIGITS = 6,
                   SCS_SPECIAL_PSEUDO = 7;
constexpr uint16_t SCS_STATS_INDEX_NAME = 5, SCS_STATS_ORDINAL = 7, SCS_STATS_COLUMN_NAME = 8;
constexpr uint16_t SCS_PKEYS_COLUMN_NAME = 3;
// The text of a catalog column's element as UTF-8 (16-bit text converted),
// at most 508 bytes; *isNull for a NULL value. 0 or 15 (a storage type that
// holds no text).
int scs_p_CatalogStrGet(const RowBuffer* rb, int32_t row, uint16_t col, std::string* out, bool* isNull);
// An integer of a catalog column (integer storage or digits); false when NULL.
bool scs_p_CatalogIntGet(const RowBuffer* rb, int32_t row, uint16_t col, int64_t* out);
// A catalog name as a search-pattern argument that matches that name only:
// '_' and '%' (and the escape itself) escaped with the data source's
// search-pattern escape. Without an escape the name goes as it is, and
// scs_p_CatalogRowNames tells the rows of other tables apart.
std::string SCS_PatternArg(const ScsCursor* c, const std::string& name);
// Whether catalog row `row` is of exactly this table: its table-name column
// holds table, and its schema column owner when owner is given.
bool scs_p_CatalogRowNames(const RowBuffer* rows, int32_t row, uint16_t schemCol, uint16_t nameCol,
                           const std::string& owner, const std::string& table);
// Whether any catalog row is of exactly that table.
bool scs_p_CatalogRowsNamed(const RowBuffer* rows, uint16_t schemCol, uint16_t nameCol, const std::string& owner,
                            const std::string& table);
// Resolves every table reference in the catalog (the catalog's spelling).
int scs_p_GetTblDescs(ScsCursor* c, ARR* refs);
// Appends the columns of every referenced table to out (SCS_COLDESC).
int scs_p_GetTblColDescs(ScsCursor* c, ARR* refs, bool skipLong, ARR* out);
// The select list with wildcards expanded, into *out (a new list).
int scs_p_SelectColsGet(ScsCursor* c, ARR** out);
// The column as generated SQL names it: bare with one table, else prefixed
// by the alias or the (quoted) owner and table.
std::string SCS_QualifiedColName(uint8_t tableCount, const SCS_COLDESC* col, char quote);
void scs_p_ColDescToParamDesc(const SCS_COLDESC* col, SCS_PARAMDESC* out);
// String forms of the util quoting helpers (StrQuoteTo, StrUnquoteTo,
// StrIsQuoted). Makes the quote character's quoted form of a catalog name.
std::string SCS_QuoteName(const std::string& name, char quote);
// The catalog name a quoted name stands for (quotes off, a doubled quote
// read as one); a name without quotes comes back as it is.
std::string SCS_UnquoteName(const std::string& name, char quote);
bool SCS_IsQuotedName(const std::string& name, char quote);
// SCS_UnquoteName of one part of a table reference; "" for a part not given.
std::string scs_p_UnquotedRef(const char* name, char quote);
// Runs a catalog function on the cursor's keyset statement and reads its
// whole result in blocks of 10 rows into out.
int scs_p_CatalogRows(ScsCursor* c, const char* what, RowBuffer* out,
                      const std::function<int32_t(AgentHandle)>& call);

// ---- key columns and keyset queries -------------------------------------------------------

// Fills the cursor key set's key-column list for the table references: 0,
// 84 when some table has no key, or the failing call's code.
int KS_GetKeyColDescs(ScsCursor* c, ARR* refs);
// The key-column cache key of a list of table references (16 bytes).
void KS_CacheKey(ARR* refs, uint8_t digest[16]);
// The key-column cache key of one table (qualifier, owner and name; never
// the alias, which is the statement's).
void KS_TableCacheKey(const SCR_TABLEREF* ref, uint8_t digest[16]);
// Query builders: each rewrites the analysis's statement into a->sql.
int KS_SetSelListKeys(SCR_ANALYSIS* a, const KS_REC* ks, char quote);
int KS_AppendKeysToSelList(SCR_ANALYSIS* a, const KS_REC* ks, char quote);
int KS_AddKeyOrderBy(SCR_ANALYSIS* a, const KS_REC* ks, char quote, uint16_t existingItems, uint16_t maxItems);
// The match of `groups` keys of the given columns, one marker per column
// and group, group after group: "k IN (?, ?)" for one column;
// "(k1, k2) IN ((?, ?), (?, ?))" where the database compares row values;
// else "k1 = ? AND k2 = ? OR k1 = ? AND k2 = ?".
std::string KS_KeyMatchText(const std::vector<std::string>& cols, int32_t groups, bool rowValues);
// The key predicate for `groups` keys ahead of the statement's own condition.
int KS_MakeKeyWhere(SCR_ANALYSIS* a, const KS_REC* ks, char quote, int32_t groups, bool rowValues);
// One parameter row of `groups` keys taken from key rows [first, first + n)
// (the last key repeated when n < groups). Values are copied element by
// element: every length is bounded by the element's width.
int KS_KeyRowsToParams(const RowBuffer* keys, uint16_t keyCols, int32_t first, int32_t groups, int32_t n,
                       RowBuffer** out);
// One parameter row of copies of the given (row, column) elements.
int scs_p_ElementsToParams(const RowBuffer* src, const std::vector<std::pair<int32_t, uint16_t>>& cells,
                           RowBuffer** out);
// Builds the keyset of a keyset-driven cursor: every key of the result.
int KS_GetKeySet_KSD(ScsCursor* c);
// Builds c->ordering from the ORDER BY items and the key columns.
int scs_p_OrderKeyColsGet(ScsCursor* c);
// The key block query (into c->keysetAn.sql): keys and ordering values, the
// seek predicate from boundary row `boundary` of rows (none for FIRST and
// LAST), ordered the statement's way then by the keys (reversed for PRIOR
// and LAST). *cells gets the (row, column) cells of the predicate's markers.
constexpr uint16_t KS_NEXT = 1, KS_FIRST = 2, KS_LAST = 3, KS_PRIOR = 4;
int KS_BuildKeyBlockQuery(ScsCursor* c, uint16_t direction, bool inclusive, const RowBuffer* rows,
                          int32_t boundary, std::vector<std::pair<int32_t, uint16_t>>* cells);
// The seek predicate alone (into a's WHERE slot) and the (row, column)
// cells of its markers, in text order.
int KS_MakeSeekWhere(SCR_ANALYSIS* a, const std::vector<SeekPos>& ordering, uint16_t nullCollation,
                     uint16_t direction, bool inclusive, const RowBuffer* rows, int32_t boundary,
                     std::vector<std::pair<int32_t, uint16_t>>* cells);
// One row of the application's kept parameters (NULL when none are kept).
int scs_p_KeptParamRow(ScsCursor* c, RowBuffer** out);
// Analyses text into a; logs the parser's complaint on failure.
int scs_p_Analyse(SCR_ANALYSIS* a, const char* text);

// ---- prepare analysis ------------------------------------------------------------------

int scs_p_PrepareCursor(ScsCursor* c, const char* text);
// Falls back to a static, read-only cursor. 0 or 43.
int scs_p_ChangeCursorType(ScsCursor* c);
void scs_p_ResetAnalysis(ScsCursor* c);
int SCS_CheckUpdatable(const ScsCursor* c);
int scs_p_CheckKeyset(const ScsCursor* c);
// Whether the analysed statement gives a result the layer caches as a query.
bool SCS_IsQuery(const ScsCursor* c);

// ---- row versions ---------------------------------------------------------------------

// The value bytes of one element (false for NULL), long values included.
bool scs_p_ValueBytes(const RowBufferColumn* col, int32_t row, const unsigned char** p, size_t* n);
// MD5 over the first `columns` values of a row, each marked NULL or
// length-prefixed.
int RVC_RowDigest(const RowBuffer* rb, int32_t row, uint16_t columns, uint8_t digest[16]);
// Two uppercase hex digits per byte and a NUL, cut to what capacity holds.
void RVC_DigestToHex(const uint8_t* bytes, size_t n, char* out, size_t capacity, size_t* length);
// Opens the cursor's version connection (once) and removes versions stored
// under its key. On failure the server's messages and IM926 go to the
// cursor's statement and nothing stays open.
int RVC_Open(ScsCursor* c);
// Compares each fetched row with its stored version: a changed row gets
// SQL_ROW_UPDATED and its version is brought up to date; a new one is stored.
int RVC_CheckRows(ScsCursor* c, const RowBuffer* keys, int32_t firstKey, uint16_t keyCols, RowStatusSet* set);
// Removes the cursor's versions and closes its version connection.
void RVC_Release(ScsCursor* c);

// ---- fetch engines -----------------------------------------------------------------------

int scs_p_FetchStatic(ScsCursor* c, RowStatusSet* set, int32_t row);
// Caches the whole result of a static cursor after execution (once).
int scs_p_CacheResult(ScsCursor* c);
// Whether the agent may still hold results after the one a static cursor
// cached: a call's output values, or the later results of a text the parser
// does not take apart (a batch of several statements is such a text).
bool scs_p_MoreResultsFollow(const ScsCursor* c);
// A static cursor under lock or values concurrency over a SELECT with keys:
// its cached rows carry their keys after the statement's columns.
bool scs_p_StaticChangeable(const ScsCursor* c);
// Drops those key columns from rows read from such a cache.
int scs_p_StripKeys(const ScsCursor* c, RowBuffer* rows);
// The engines the next cursor kinds bring; until then they are not there.
int scs_p_FetchKeyset(ScsCursor* c, RowStatusSet* set, int32_t row);
// Places the rows read by key (their trailing `keyCols` columns hold each
// row's key) in key order: rowset row j belongs to key first + j; a key
// without a row gets a NULL row and the status of a deleted row. The hidden
// key columns are dropped; when every row is already in its key's place,
// *placed takes the rows' storage and leaves `rows` empty.
int SCS_MarkMissingRows(RowBuffer* rows, const RowBuffer* keys, int32_t first, int32_t windowStart,
                        int32_t count, uint16_t keyCols, int16_t* keyStatus, RowBuffer** placed);
int scs_p_FetchMixed(ScsCursor* c, int32_t row, uint16_t orientation, RowStatusSet* set);
int scs_p_FetchDynamicOrient(ScsCursor* c, int32_t offset, uint16_t orientation, RowStatusSet* set);
// Reads the rows of the rowset a mixed or dynamic cursor holds again by its
// keys, where it stands in the window (SetPos refresh).
int scs_p_RefreshWindow(ScsCursor* c, RowStatusSet* set);
// Reads the rows of n keys of `keys` (from row `first`) by key and places
// them in the order of those keys: *placed (a new buffer) has n rows, a NULL
// row for a key without a row, whose entry of missing (when given) becomes 1.
int scs_p_ReadKeyRows(ScsCursor* c, const RowBuffer* keys, int32_t first, int32_t n, RowBuffer** placed,
                      int16_t* missing);
// Makes key number kn (0-based) resident; *row is its row in the key rows.
int scs_p_KeyRowAt(ScsCursor* c, int32_t kn, int32_t* row);
// Forgets the rowset the application holds (keys and values).
void scs_p_DropRowset(ScsCursor* c);
// Keeps the rowset just fetched: rows of keys [first, first + n).
int scs_p_KeepRowset(ScsCursor* c, const RowBuffer* rows, int32_t first, int32_t n);
// Notes the version of each row of the rowset the application holds (rows
// of c->rowsetKeys), under optimistic concurrency on a cursor with bookmarks.
void scs_p_NoteVersions(ScsCursor* c, const RowBuffer* rows);
// Values concurrency that compares the table's columns (mode 1) on a
// cursor whose rows can change.
bool scs_p_ValuesByTable(const ScsCursor* c);
// Under it: reads the table's values of the rowset's rows (their old values
// for the next change). 0 or the failing call's code.
int scs_p_NoteTableValues(ScsCursor* c);
// Frees the result-column descriptions (a new prepare describes again).
void scs_p_DropResultCols(ScsCursor* c);
// Frees a row buffer allocated on the heap, with its header (NULL passes).
void scs_p_FreeRows(RowBuffer* rows);
// Rows of a rowset: the rowset size, at least 1.
inline int32_t scs_p_RowsetRows(const ScsCursor* c) { return c->rowsetSize > 0 ? c->rowsetSize : 1; }
// A 32-bit statement option as the agent holds it; 0 or the agent's code.
int32_t scs_p_AskStmtInt(AgentHandle h, AgentPropertyId id, int32_t* v);
// Runs the application's statement whose execution was put off, once.
int32_t scs_p_RunDeferredQuery(ScsCursor* c);
// Rows of the rowset in hand: what the last fetch read, else the rowset size.
inline int32_t scs_p_HeldRows(const ScsCursor* c) { return c->heldRows > 0 ? c->heldRows : scs_p_RowsetRows(c); }

// ---- positioned operations and bulk operations by bookmark ---------------------------

int scs_p_SetPosOp(ScsCursor* c, int32_t row, int32_t operation, uint16_t** statuses, int32_t* count,
                   RowBuffer* data, uint16_t* columns, uint16_t columnCount);
int scs_p_BulkOps(ScsCursor* c, uint16_t operation, const uint32_t* bookmarks, uint16_t n, RowBuffer* data,
                  uint16_t* columns, uint16_t columnCount, uint16_t** statuses, uint16_t* count,
                  RowStatusSet** fetched);
// Lock concurrency on a data source without SELECT ... FOR UPDATE whose
// rows are locked by an UPDATE: the rows read are locked by updating their
// key columns to their own values.
bool scs_p_LocksByUpdate(const ScsCursor* c);
// Locks the rows of the given key numbers that the cursor holds (deleted
// ones are passed over): 0, or 81 (01S01) with *failed the keys whose row
// could not be locked (their messages are on the keyset statement).
int scs_p_LockRows(ScsCursor* c, const std::vector<int32_t>& keys, std::vector<int32_t>* failed);
// Whether the cursor's rows can be found again by key for a change.
bool scs_p_Changeable(const ScsCursor* c);
// Whether its rows also have bookmarks (numbers in the result): a cursor
// that holds the keys of the whole result.
bool scs_p_HasBookmarks(const ScsCursor* c);
// A mixed or dynamic cursor: it holds a window of keys, not the result's.
bool scs_p_WindowCursor(const ScsCursor* c);
// The cursor's name: the one the application gave it, else one made up
// from its statement ("SQL_CUR" and the agent handle).
std::string SCS_CursorName(const ScsCursor* c);
// The open cursor named `name` on the agent connection (other than `self`).
ScsCursor* SCS_FindCursorByName(AgentHandle conn, const std::string& name, const ScsCursor* self);
// A positioned UPDATE or DELETE (... WHERE CURRENT OF name): 1 with the
// statement taken apart into c (and the text the agent prepares meanwhile in
// *standIn), 0 for any other statement.
int scs_p_ParsePositioned(ScsCursor* c, const char* sql, std::string* standIn);
// Runs the positioned statement on the row the named cursor stands on.
int scs_p_ExecPositioned(ScsCursor* c);

// ---- composite operations ----------------------------------------------------------------
// Operations that combine several of the layer's own into one call, and the
// reading of long values in pieces. Installed with the layer.

int32_t SCS_ExecuteDescribe(AgentHandle stmt, const char* sql, RowBuffer* rows, uint16_t descCount,
                            const SCS_PARAMDESC* descs, int32_t* rowsetSize, uint16_t* colCount,
                            AgentColDesc** cols, uint16_t* paramCount, AgentColDesc** params, int32_t* rowCount);
int32_t SCS_ExecuteDescribeEx(AgentHandle stmt, const char* sql, RowBuffer* rows, uint16_t descCount,
                              const SCS_PARAMDESC* descs, int32_t* rowsetSize, uint16_t* colCount,
                              AgentColDesc** cols, uint16_t* paramCount, AgentColDesc** params,
                              int16_t* attrCount, ValueRec** attrs, int32_t* rowCount);
int32_t SCS_AllocPrepare(AgentHandle conn, const char* sql, int32_t concurrency, int32_t cursorType,
                         AgentHandle* stmt);
int32_t SCS_DescribeColTypes(AgentHandle stmt, uint16_t* count, AgentColDesc** cols, RowBuffer* work);
int32_t SCS_FetchKeepLongData(AgentHandle stmt, RowStatusSet** rowset, int32_t row, uint32_t* rows,
                              int32_t* total, uint16_t orientation);
int32_t SCS_GetLongDataPiece(AgentHandle stmt, int32_t column, int32_t row, uint32_t limit, void** piece,
                             int32_t* length, int32_t* storageType, int32_t* left);
int32_t SCS_ExecuteBatch(AgentHandle stmt, uint16_t count, AgentBatchEntry* entries, int16_t* done,
                         int32_t* rowCounts);
// SCS_ExecDirect and SCS_SetParamInfo with extended (named) descriptors.
int32_t SCS_ExecDirectEx(AgentHandle stmt, const char* sql, RowBuffer* rows, uint16_t count,
                         const SCS_PARAMDESC_EX* descs);
int32_t SCS_SetParamInfoEx(AgentHandle stmt, uint16_t count, const SCS_PARAMDESC_EX* descs);
// Forgets the kept long values and the piece being read.
void scs_p_DropKeptLongData(ScsCursor* c);
// Moves the long values (above 60000 bytes, or characters of 16-bit text)
// of a rowset into the cursor's keeper; each leaves RB_IND_LONG behind.
int scs_p_KeepLongData(ScsCursor* c, RowBuffer* rowset);

}  // namespace kx
