// Internal status codes: 0 is success, anything else is a row of the driver's
// error-code table (SQLSTATE and message text are composed from the row).
#pragma once

namespace kx {

constexpr int KX_OK = 0;
constexpr int KX_ERR_NOT_SUPPORTED = 1;         // IM001: Driver does not support this function
constexpr int KX_ERR_DSN_NOT_FOUND = 2;         // IM002: Data source not found and no default driver specified
constexpr int KX_ERR_DRIVER_LOAD = 3;           // IM003: Driver specified by data source could not be loaded
constexpr int KX_ERR_DRV_ALLOC_ENV = 4;         // IM004: Driver's SQLAllocEnv failed
constexpr int KX_ERR_DRV_ALLOC_CONNECT = 5;     // IM005: Driver's SQLAllocConnect failed
constexpr int KX_ERR_DRV_SET_CONNECT_OPTION = 6; // IM006: Driver's SQLSetConnectOption failed
constexpr int KX_ERR_NO_DSN = 7;                // IM007: No data source specified
constexpr int KX_ERR_TRANSLATION_DLL = 8;       // IM009: Unable to load translation DLL
constexpr int KX_ERR_TABLE_EXISTS = 9;          // 42S01: Base table or view already exists
constexpr int KX_ERR_TABLE_NOT_FOUND = 10;      // 42S02: Table or view not found
constexpr int KX_ERR_INDEX_EXISTS = 11;         // 42S11: Index already exists
constexpr int KX_ERR_INDEX_NOT_FOUND = 12;      // 42S12: Index not found
constexpr int KX_ERR_COLUMN_EXISTS = 13;        // 42S21: Column already exists
constexpr int KX_ERR_COLUMN_NOT_FOUND = 14;     // 42S22: Column not found
constexpr int KX_ERR_GENERAL = 15;         // S1000: an argument does not fit
constexpr int KX_ERR_NOMEM = 16;           // S1001: memory allocation failure
constexpr int KX_ERR_BAD_COLUMN_NUMBER = 17;    // S1002: Invalid column number
constexpr int KX_ERR_BAD_PROGRAM_TYPE = 18;     // S1003: Program type out of range
constexpr int KX_ERR_DATA_TRUNCATED = 19;       // 01004: Data was truncated
constexpr int KX_ERR_CANCELLED = 20;            // S1008: Operation cancelled
constexpr int KX_ERR_BAD_ARGUMENT = 21;         // S1009: Invalid argument value
constexpr int KX_ERR_SEQUENCE = 22;             // S1010: Function sequence error
constexpr int KX_ERR_BAD_TXN_OPCODE = 23;       // S1012: Invalid transaction operation code
constexpr int KX_ERR_NO_CURSOR_NAME = 24;       // S1015: No cursor name available
constexpr int KX_ERR_BAD_LENGTH = 25;           // S1090: Invalid string or buffer length
constexpr int KX_ERR_BAD_DESCRIPTOR_TYPE = 26;  // S1091: Descriptor type out of range
constexpr int KX_ERR_BAD_OPTION = 27;           // S1092: Option type out of range
constexpr int KX_ERR_BAD_PARAM_NUMBER = 28;     // S1093: Invalid parameter number
constexpr int KX_ERR_BAD_SCALE = 29;            // S1094: Invalid scale value
constexpr int KX_ERR_BAD_FUNCTION_TYPE = 30;    // S1095: Function type out of range
constexpr int KX_ERR_BAD_INFO_TYPE = 31;        // S1096: Information type out of range
constexpr int KX_ERR_BAD_SCOPE = 32;            // S1098: Scope type out of range
constexpr int KX_ERR_BAD_NULLABLE = 33;         // S1099: Nullable type out of range
constexpr int KX_ERR_BAD_UNIQUENESS = 34;       // S1100: Uniqueness option type out of range
constexpr int KX_ERR_BAD_ACCURACY = 35;         // S1101: Accuracy option type out of range
constexpr int KX_ERR_BAD_TABLE_TYPE = 36;       // S1102: Table type out of range
constexpr int KX_ERR_BAD_DIRECTION = 37;        // S1103: Direction option out of range
constexpr int KX_ERR_BAD_FETCH_TYPE = 38;       // S1106: Fetch type out of range
constexpr int KX_ERR_BAD_ROW_VALUE = 39;        // S1107: Row value out of range
constexpr int KX_ERR_BAD_CONCURRENCY = 40;      // S1108: Concurrency option out of range
constexpr int KX_ERR_BAD_CURSOR_POSITION = 41;  // S1109: Invalid cursor position
constexpr int KX_ERR_BAD_COMPLETION = 42;       // S1110: Invalid driver completion
constexpr int KX_ERR_NOT_CAPABLE = 43;          // S1C00: Driver not capable
constexpr int KX_ERR_NO_DAE_PENDING = 44;       // S1DE0: No data at execution values pending
constexpr int KX_ERR_TIMEOUT = 45;              // S1T00: Timeout expired
constexpr int KX_ERR_PRIVILEGE_NOT_REVOKED = 46;// 01006: Privilege not revoked
constexpr int KX_ERR_BAD_CONNSTR_ATTR = 47;     // 01S00: Invalid connection string attribute
constexpr int KX_ERR_WRONG_PARAM_COUNT = 48;    // 07001: Wrong number of parameters
constexpr int KX_ERR_RESTRICTED_TYPE = 49;      // 07006: Restricted datatype attribute violation
constexpr int KX_ERR_UNABLE_TO_CONNECT = 50;    // 08001: Unable to connect to data source
constexpr int KX_ERR_CONNECTION_IN_USE = 51;    // 08002: Connection in use
constexpr int KX_ERR_NOT_CONNECTED = 52;        // 08003: Connection not open
constexpr int KX_ERR_CONNECTION_REJECTED = 53;  // 08004: Connection rejected by data source
constexpr int KX_ERR_COMM_LINK = 54;            // 08S01: Communication link failure
constexpr int KX_ERR_INSERT_VALUE_LIST = 55;    // 21S01: Insert value list does not match column list
constexpr int KX_ERR_DERIVED_DEGREE = 56;       // 21S02: Degree of derived table does not match column list
constexpr int KX_ERR_RIGHT_TRUNCATION = 57;     // 22001: String data right truncation
constexpr int KX_ERR_NUMERIC_RANGE = 58;        // 22003: Numeric value out of range
constexpr int KX_ERR_ASSIGNMENT = 59;           // 22005: Error in assignment
constexpr int KX_ERR_DATE_OVERFLOW = 60;        // 22008: Date overflow
constexpr int KX_ERR_DIVISION_BY_ZERO = 61;     // 22012: Division by zero
constexpr int KX_ERR_STRING_LENGTH_MISMATCH = 62;// 22026: String length mismatch
constexpr int KX_ERR_INTEGRITY = 63;            // 23000: Integrity violation
constexpr int KX_ERR_CURSOR_STATE = 64;         // 24000: Invalid cursor state
constexpr int KX_ERR_TXN_STATE = 65;            // 25000: Invalid transaction state
constexpr int KX_ERR_AUTHORIZATION = 66;        // 28000: invalid authorization (login refused)
constexpr int KX_ERR_BAD_CURSOR_NAME = 67;      // 34000: Invalid cursor name
constexpr int KX_ERR_SYNTAX = 68;               // 37000: Syntax error or access
constexpr int KX_ERR_DUPLICATE_CURSOR_NAME = 69;// 3C000: Duplicate cursor name
constexpr int KX_ERR_SERIALIZATION = 70;        // 40001: Serialization failure
constexpr int KX_ERR_ACCESS_VIOLATION = 71;     // 42000: Access violation
constexpr int KX_ERR_ABORTED = 72;              // 70100: Operation aborted
constexpr int KX_ERR_NO_MORE_RESULTS = 73;      // IM901: No more results
constexpr int KX_ERR_DS_WARNING = 74;           // IM902: Datasource completed operation with warning
constexpr int KX_ERR_OPTION_CHANGED = 75;       // 01S02: Option Value Changed
constexpr int KX_ERR_CLIENT_INSTALL = 76;       // IM903: Client Installation Problem Detected. ReInstall.
constexpr int KX_ERR_DYNLIB_UNAVAILABLE = 77;   // IM904: Specified Dynamic Interface Library Unavailable
constexpr int KX_ERR_CANCEL_CLOSED = 79;        // 01S05: SQLCancel closed the statement
constexpr int KX_ERR_HAS_OUT_PARAMS = 80;       // IM906: Agent has output parameter values
constexpr int KX_ERR_ROW_ERROR = 81;            // 01S01: Error in row
constexpr int KX_ERR_NO_DATA_FOUND = 82;        // IM907: No data found
constexpr int KX_ERR_BAD_KEYSET_SIZE = 83;      // IM908: Invalid keyset size
constexpr int KX_ERR_NO_KEY_COLUMNS = 84;       // IM909: No key columns found for table referenced by scrollable cursor.
constexpr int KX_ERR_FETCH_BEFORE_START = 85;   // IM910: Attempt to fetch before start of result set.
constexpr int KX_ERR_FETCH_BEYOND_END = 86;     // IM911: Attempt to fetch beyond end of result set.
constexpr int KX_ERR_JOIN_RESULT = 87;          // IM912: Result set was created by a join condition.
constexpr int KX_ERR_GROUP_BY = 88;             // IM913: SELECT statement contains a GROUP BY clause.
constexpr int KX_ERR_UNION = 89;                // IM914: SELECT statement contains a UNION clause.
constexpr int KX_ERR_NOT_SELECT = 90;           // IM915: Result set was not generated by a SELECT statement.
constexpr int KX_ERR_NO_ROWS_CHANGED = 91;      // 01S03: No rows updated or deleted.
constexpr int KX_ERR_MANY_ROWS_CHANGED = 92;    // 01S04: More than one row updated or deleted.
constexpr int KX_ERR_INVALID_NOW = 93;          // S1011: Operation invalid at this time.
constexpr int KX_ERR_BAD_BOOKMARK = 94;         // S1111: Invalid bookmark value.
constexpr int KX_ERR_READONLY_SELECT_ONLY = 95; // IM916: Only SELECT statements are allowed during a read-only connection.
constexpr int KX_ERR_PARAM_ARRAY_POSITIONED = 96;// IM917: Parameter arrays are not supported with positioned requests.
constexpr int KX_ERR_DUPLICATE_TABLE_NAME = 97; // IM918: Duplicate table name. Require owner qualifier to resolve.
constexpr int KX_ERR_CONNECTION_BUSY = 98;      // IM921: Connection is busy with results for another hstmt.
constexpr int KX_ERR_ORDER_BY_EXPRESSION = 99;  // IM919: Ordering on an expression is not supported.
constexpr int KX_ERR_BAD_DESCRIPTOR_INDEX = 100;// 07009: Invalid descriptor index
constexpr int KX_ERR_KEYSET_UPDATES = 101;      // IM920: Too many updates by other users occurred whilst fetching keyset.
constexpr int KX_ERR_NEED_DAE = 102;            // IM922: Agent needs DATA_AT_EXEC data.
constexpr int KX_ERR_SCALAR_AGGREGATE = 103;    // IM923: SELECT statement contains a scalar aggregate.
constexpr int KX_ERR_FRACTIONAL_TRUNCATION = 104;// 01S07: Fractional truncation
constexpr int KX_ERR_GENERAL_WARNING = 105;     // 01000: General warning
constexpr int KX_ERR_CURSOR_CONFLICT = 106;     // 01001: Cursor operation conflict
constexpr int KX_ERR_DISCONNECT = 107;          // 01002: Disconnect error
constexpr int KX_ERR_NULL_ELIMINATED = 108;     // 01003: NULL value eliminated in set function
constexpr int KX_ERR_STRING_TRUNCATED = 109;    // 01004: String data, right truncated
constexpr int KX_ERR_PRIVILEGE_NOT_GRANTED = 110;// 01007: Privilege not granted
constexpr int KX_ERR_FETCH_BEFORE_FIRST_ROWSET = 111;// 01S06: Attempt to fetch before the resultset returned the first rowset
constexpr int KX_ERR_SAVE_FILE_DSN = 112;       // 01S08: Error saving File DSN
constexpr int KX_ERR_BAD_KEYWORD = 113;         // 01S09: Invalid keyword
constexpr int KX_ERR_COUNT_FIELD = 114;         // 07002: COUNT field incorrect
constexpr int KX_ERR_NOT_CURSOR_SPEC = 115;     // 07005: prepared statement is not a query
constexpr int KX_ERR_DEFAULT_PARAM = 116;       // 07S01: Invalid use of default parameter
constexpr int KX_ERR_TXN_CONNECTION_FAILURE = 117;// 08007: Connection failure during transaction
constexpr int KX_ERR_INDICATOR_REQUIRED = 118;  // 22002: Indicator variable required but not supplied
constexpr int KX_ERR_BAD_DATETIME = 119;        // 22007: Invalid datetime format
constexpr int KX_ERR_INTERVAL_OVERFLOW = 120;   // 22015: Interval field overflow
constexpr int KX_ERR_BAD_CAST_VALUE = 121;      // 22018: invalid character value for a cast
constexpr int KX_ERR_BAD_ESCAPE_CHAR = 122;     // 22019: Invalid escape character
constexpr int KX_ERR_BAD_ESCAPE_SEQUENCE = 123; // 22025: Invalid escape sequence
constexpr int KX_ERR_TXN_STATE_S01 = 124;       // 25S01: Transaction state
constexpr int KX_ERR_TXN_ACTIVE = 125;          // 25S02: Transaction is still active
constexpr int KX_ERR_TXN_ROLLED_BACK = 126;     // 25S03: Transaction is rolled back
constexpr int KX_ERR_BAD_CATALOG = 127;         // 3D000: Invalid catalog name
constexpr int KX_ERR_BAD_SCHEMA = 128;          // 3F000: Invalid schema name
constexpr int KX_ERR_COMPLETION_UNKNOWN = 129;  // 40003: Statement completion unknown
constexpr int KX_ERR_MEMORY_MANAGEMENT = 130;   // S1013: Memory management error
constexpr int KX_ERR_TOO_MANY_HANDLES = 131;  // S1014: limit on the number of handles
constexpr int KX_ERR_MODIFY_IRD = 132;          // S1016: Cannot modify an implementation row descriptor
constexpr int KX_ERR_AUTO_DESCRIPTOR = 133;     // S1017: Invalid use of an automatically allocated descriptor handle
constexpr int KX_ERR_CANCEL_DECLINED = 134;     // S1018: Server declined cancel request
constexpr int KX_ERR_PIECES_NOT_CHAR = 135;     // S1019: Non-character and non-binary data sent in pieces
constexpr int KX_ERR_CONCAT_NULL = 136;         // S1020: Attempt to concatenate a NULL value
constexpr int KX_ERR_INCONSISTENT_DESCRIPTOR = 137;// S1021: Inconsistent descriptor information
constexpr int KX_ERR_BAD_ATTRIBUTE_VALUE = 138; // S1024: Invalid Attribute value
constexpr int KX_ERR_BAD_COLUMN_TYPE = 139;     // S1097: Column type out of range
constexpr int KX_ERR_BAD_PRECISION_SCALE = 140; // S1104: Invalid precision or scale value
constexpr int KX_ERR_CONNECTION_TIMEOUT = 141;  // S1T01: Connection timeout expired
constexpr int KX_ERR_DIALOG_FAILED = 142;       // IM008: Dialog failed
constexpr int KX_ERR_DSN_TOO_LONG = 143;        // IM010: Data source name too long
constexpr int KX_ERR_DRIVER_NAME_TOO_LONG = 144;// IM011: Driver name too long
constexpr int KX_ERR_DRIVER_KEYWORD_SYNTAX = 145;// IM012: DRIVER keyword syntax error
constexpr int KX_ERR_TRACE_FILE = 146;          // IM013: Trace file error
constexpr int KX_ERR_BAD_FILE_DSN_NAME = 147;   // IM014: Invalid name of File DSN
constexpr int KX_ERR_CORRUPT_FILE_DSN = 148;    // IM015: Corrupt file data source
constexpr int KX_ERR_NO_BULK_OPS = 149;         // IM924: Bulk operations are not supported on this cursor type
constexpr int KX_ERR_BOOKMARK_OUTSIDE_ROWSET = 150;// IM925: Bookmark refers to row outside the current rowset
constexpr int KX_ERR_CHECK_ZNTRVC = 151;        // IM926: Check that the table ZNTRVC exists
constexpr int KX_ERR_NEWER_BROKER = 152;        // IM927: Agent needs a newer broker
constexpr int KX_ERR_OUTER_JOIN_STATIC = 153;   // IM928: Outer joins on a scrollable cursor require a static cursor
constexpr int KX_ERR_TOO_MANY_PARAMS = 154;     // 54000: Too many parameter markers (the limit is KX_MAX_PARAMS)
constexpr int KX_ERR_MORE_RESULTS_CURSOR_TYPE = 160;// IM929: SQLMoreResults on a scrollable cursor requires a static or forward-only cursor
constexpr int KX_ERR_MORE_RESULTS_CONCURRENCY = 161;// IM930: SQLMoreResults on a scrollable cursor requires read-only concurrency
constexpr int KX_ERR_DDL_DML_ONLY = 162;        // S1000: Only DDL and DML command can be executed
constexpr int KX_ERR_SQL_TYPE_RANGE = 163;      // S1004: SQL data type out of range
constexpr int KX_ERR_BAD_HEX_LITERAL = 164;     // IM931: Invalid character in hex literal
constexpr int KX_ERR_NOT_PREPARED = 165;        // 42000: Statement(s) could not be prepared
constexpr int KX_ERR_SSL_INIT = 166;            // IM600: SSL initialization failure
constexpr int KX_ERR_SSL_UNSUPPORTED = 167;     // IM601: The server does not support SSL
constexpr int KX_ERR_DTC_ENLIST = 170;          // IM932: Enlistment in DTC transaction failed
constexpr int KX_ERR_THREAD_POOL = 171;         // IM933: Thread pool: Worker thread task assignment failure
constexpr int KX_ERR_PREPARE_CURSOR_TYPE = 172; // IM934: SQL statement can only be prepared on a static or forward-only cursor
constexpr int KX_ERR_FAILOVER_COMPLETED = 183;  // IM500: Failover completed.
constexpr int KX_ERR_FAILOVER_ABORTED = 184;    // IM501: Failover aborted.

// The most parameter markers one statement may hold. A statement with more is
// refused at prepare (KX_ERR_TOO_MANY_PARAMS, whose message names the limit);
// every marker up to it can be bound and run, and SQLNumParams, a SQLSMALLINT,
// reports any such count. Both JDBC drivers behind the agent take that many
// (PostgreSQL's wire protocol counts up to 65535). The literal macro exists
// only so that the error message is spelled from the same number.
#define KX_MAX_PARAMS_LITERAL 32767
constexpr int KX_MAX_PARAMS = KX_MAX_PARAMS_LITERAL;

// The table itself: row n is the SQLSTATE and message of code n. The core
// composes its diagnostics from it and the agent its messages, so the two
// cannot drift apart.
struct ErrorCodeRow {
  const char* sqlstate;  // ODBC 2 form, five characters; "" for an unused row
  const char* message;   // "" for an unused row
};
constexpr int kErrorCodeRows = 185;
extern const ErrorCodeRow ErrorCodeTable[kErrorCodeRows];

}  // namespace kx
