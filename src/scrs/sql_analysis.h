// Statement analysis for the scrollable cursor layer: what a statement is,
// which clauses, tables, select items and ORDER BY items it has, and rewrites
// that leave a placeholder where the layer inserts its own text.
#pragma once

#include <cstdint>

#include "scrs/scs_types.h"
#include "scrs/sql_tree.h"

namespace kx {

constexpr uint16_t SCRF_WHERE = 0x2;
constexpr uint16_t SCRF_ORDERBY = 0x4;
constexpr uint16_t SCRF_GROUPBY = 0x8;
constexpr uint16_t SCRF_UNION = 0x10;
constexpr uint16_t SCRF_JOIN = 0x20;
constexpr uint16_t SCRF_ORDERBYPOS = 0x40;
constexpr uint16_t SCRF_AGGREGATE = 0x80;
constexpr uint16_t SCRF_OUTERJOIN = 0x100;

struct SCR_ANALYSIS {
  char* text;       // the statement without its leading white space
  char* sql;        // error text of the last parse (echo and "^"); also the layer's rewritten text
  char* errMsg;     // message of the last parse
  SQL_NODE* root;   // parse tree; its text is the current statement
  int32_t kind;     // -1 before any analysis, 0 parse failed, else the root's SqlNodeKind
  uint16_t flags;   // SCRF_*
};

struct SCR_TABLEREF {
  char* qualifier;
  char* owner;
  char* table;
  char* alias;
};

void SCR_InitAnalysis(SCR_ANALYSIS* a);
void SCR_FreeAnalysis(SCR_ANALYSIS* a);
// 0, 68 (the parse failed), 16 (out of memory) or the first nonzero code of
// the flag checks of a SELECT.
int SCR_AnalyseSQL(SCR_ANALYSIS* a, const char* statement, int skipFlags, int keepCatalog);

int SCR_CheckOrderBy(SCR_ANALYSIS* a, SQL_NODE** slot);
int SCR_CheckGroupBy(SCR_ANALYSIS* a);
int SCR_CheckUnion(SCR_ANALYSIS* a);
int SCR_CheckJoin(SCR_ANALYSIS* a, int keepCatalog);
int SCR_CheckAggregate(SCR_ANALYSIS* a);
int SCR_CheckOuterJoin(SCR_ANALYSIS* a);

// out: ARR of SCR_TABLEREF.
int SCR_TablesGet(SCR_ANALYSIS* a, ARR* out, int keepCatalog);
int SCR_TableRefSplit(SQL_NODE* ref, ARR* out, int keepCatalog);
void SCR_FreeTableRef(void* element);

// The outer query's select list as it stands (NULL without a SELECT).
const char* SCR_SelListText(SCR_ANALYSIS* a);
// Whether a parameter marker stands before the outer query's WHERE slot (in
// its select list or its FROM clause).
bool SCR_ParamsBeforeWhere(SCR_ANALYSIS* a);
// Whether the outer query is SELECT DISTINCT.
bool SCR_IsDistinct(SCR_ANALYSIS* a);
int SCR_SetSelListPlaceholder(SCR_ANALYSIS* a);
int SCR_SetWherePlaceholder(SCR_ANALYSIS* a);
int SCR_SetOrderByPlaceholder(SCR_ANALYSIS* a);
int SCR_OrderByReverse(SCR_ANALYSIS* a);
// items: ARR of SCS_ORDERBYITEM whose position and text the caller set.
int SCR_OrderByResolvePositions(SCR_ANALYSIS* a, ARR* items);

// out: ARR of SCS_ORDERBYITEM / SCS_COLDESC.
int SCR_OrderByGet(SCR_ANALYSIS* a, ARR* out);
int SCR_SelListGet(SCR_ANALYSIS* a, ARR* out);
void SCR_ColumnNameSplit(SQL_NODE* colref, SCS_COLDESC* desc);

// Builds the statement with the placeholder replaced by insert, spliced at
// the placeholder's place, so no byte of the statement is read as a template
// code. *out is malloc'd. 0; 15 when the statement does not hold the
// placeholder exactly once (the caller then falls back); 16 out of memory.
int SCR_ExpandPlaceholder(const char* statement, const char* insert, char** out);

// ---- shared with the describe-query builder ------------------------------------
// Parses text into root/sql/errMsg; 0, 68 or 16. *root is regenerated.
int scr_ParseStatement(const char* text, SQL_NODE** root, char** sql, char** errMsg);
// Child i of node when it has the kind, else NULL.
SQL_NODE* scr_ChildOfKind(SQL_NODE* node, int i, int kind);
// The first direct child of node of the kind.
SQL_NODE* scr_DirectChild(SQL_NODE* node, int kind);

}  // namespace kx
