// Row-block fetch: rows of the open result set read column by column into a
// RowBuffer built from the column descriptions, with the fix-ups that turn
// JDBC catalog results into the ODBC catalog layouts.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

int32_t DRV_FetchBlock(AgentHandle stmt, uint16_t rows, RowBuffer* out);  // 19

// On (the default): ordinary results are read a whole block per call into
// Java; off: value by value, as catalog results always are. The tests switch
// it to compare the two.
void JDB_SetRowBlockReads(bool on);

// On (the default): once a block of an ordinary result comes back full, a
// thread of the VM reads the following rows ahead while the caller works
// through the block; the blocks delivered stay exactly those of reading
// them one after the other. Off: each block is read when it is asked for.
void JDB_SetReadAhead(bool on);

// Pauses the read-ahead of every statement of the connection h belongs to
// (h: a statement or a connection; anything else is passed over), except
// h's own when keepOwn is set: only one thread at a time is then inside the
// connection's JDBC driver. The rows read stay for the next block. Answers
// nothing: a read-ahead that cannot be paused has stopped already.
void JDB_PauseReadAheads(AgentHandle h, bool keepOwn);

// Forgets the rows read ahead of s's result set (stopping the read-ahead):
// the result set is about to close.
void JDB_DropReadAhead(JStmt* s);

// Whether the rows of s's described columns can all be read into the packed
// row queue (JDB_DrainRows): the block road reads every column.
bool JDB_RowsDrainable(JStmt* s);

// Reads every row of s's open result set not delivered yet into its packed
// row queue, with the end or failure at its place; the fetches then take
// them from there and the result set is not read again. Nothing for a
// result read to its end.
int JDB_DrainRows(JStmt* s);

// Catalog kinds of a result (JStmt::catalogKind).
constexpr int32_t JDB_CAT_TYPEINFO = 1;
constexpr int32_t JDB_CAT_PROCCOLUMNS = 2;
constexpr int32_t JDB_CAT_TABLES = 3;
constexpr int32_t JDB_CAT_STATISTICS = 4;
constexpr int32_t JDB_CAT_PROCEDURES = 5;
constexpr int32_t JDB_CAT_COLUMNS = 6;
constexpr int32_t JDB_CAT_SPECIALCOLUMNS = 7;

// The columns of a catalog row that describe a type (1-based; 0 when the
// layout has none).
struct CatalogTypeCols {
  int type;          // DATA_TYPE
  int name;          // TYPE_NAME
  int size;          // COLUMN_SIZE
  int bufferLength;  // BUFFER_LENGTH
  int digits;        // DECIMAL_DIGITS
  int radix;         // NUM_PREC_RADIX
  int octetLength;   // CHAR_OCTET_LENGTH
};
// One catalog row's type turned from JDBC's description into ODBC's, as
// its result columns are described: the ODBC code, UUIDs as GUIDs, text
// and binary wider than a fixed element as long types, and the fixed-size
// numbers by ODBC's sizes in decimal digits.
// Types ODBC has no code for take the code their result columns are
// described by (c: the connection's options for that, may be null). The
// columns that do not apply to the type are NULL; BUFFER_LENGTH is the
// bytes of the type's default C type.
void JDB_FixCatalogType(int32_t jet, RowBuffer* out, const CatalogTypeCols& cols, int32_t row,
                        const JConn* c = nullptr);
// The bytes a value of the ODBC type takes as its default C type (text:
// the characters of size; the structures: their size); -1 when unknown.
int32_t JDB_TransferOctetLength(int32_t type, int32_t size);
// SQL_DATA_TYPE and SQL_DATETIME_SUB of an ODBC type code: SQL_DATETIME (9)
// with sub-code 1 to 3 for dates, times and timestamps, SQL_INTERVAL (10)
// with the interval's sub-code for intervals, else the type itself. -1
// stands for NULL.
int32_t JDB_SqlDataTypeOf(int32_t type);
int32_t JDB_DatetimeSubOf(int32_t type);
int32_t JDB_CharOctetLength(int32_t type, int32_t bufferLength);

}  // namespace kx
