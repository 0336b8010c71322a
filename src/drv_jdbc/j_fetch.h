// Row-block fetch: rows of the open result set read column by column into a
// RowBuffer built from the column descriptions, with the fix-ups that turn
// JDBC catalog results into the ODBC catalog layouts.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

int32_t DRV_FetchBlock(AgentHandle stmt, uint16_t rows, RowBuffer* out);  // 19

// 1 (the default): ordinary results are read a whole block per call into
// Java; 0: value by value, as catalog results always are. The tests switch
// it to compare the two.
extern int JDB_RowBlockReads;

// Catalog kinds of a result (JStmt::catalogKind).
constexpr int32_t JDB_CAT_TYPEINFO = 1;
constexpr int32_t JDB_CAT_PROCCOLUMNS = 2;
constexpr int32_t JDB_CAT_TABLES = 3;
constexpr int32_t JDB_CAT_STATISTICS = 4;
constexpr int32_t JDB_CAT_PROCEDURES = 5;
constexpr int32_t JDB_CAT_COLUMNS = 6;
constexpr int32_t JDB_CAT_SPECIALCOLUMNS = 7;

// DATA_TYPE, TYPE_NAME and COLUMN_SIZE of one catalog row (1-based columns)
// turned from JDBC codes into ODBC ones.
void JDB_FixCatalogType(int32_t jet, RowBuffer* out, int typeCol, int nameCol, int sizeCol,
                        int32_t row, int32_t unicode);
// SQL_DATA_TYPE and SQL_DATETIME_SUB of an ODBC type code: SQL_DATETIME (9)
// with sub-code 1 to 3 for dates, times and timestamps, SQL_INTERVAL (10)
// with the interval's sub-code for intervals, else the type itself. -1
// stands for NULL.
int32_t JDB_SqlDataTypeOf(int32_t type);
int32_t JDB_DatetimeSubOf(int32_t type);
int32_t JDB_CharOctetLength(int32_t type, int32_t bufferLength);

}  // namespace kx
