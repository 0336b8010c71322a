// Describe queries for parameter markers: SELECT statements with a false
// condition whose select items stand where a statement's markers stand, so
// that the server's description of their columns gives the markers' types.
#pragma once

#include <cstdint>

#include "scrs/sql_tree.h"

namespace kx {

struct SCR_PARAMINFO {
  char* text;
  char* sql;
  char* errMsg;
  SQL_NODE* root;
  int32_t kind;
  uint16_t flags;
  char** queries;           // the describe queries in the order built (owned)
  int32_t count;
  int32_t total;            // select items described over all queries (or VALUES items, with mask)
  char* mask;               // INSERT ... VALUES without columns: '?' marker, 'X' other, per item
  const char* defaultItem;  // item for a marker whose operand cannot be named (not owned)
};

void SCR_ParamInfoInit(SCR_PARAMINFO* ctx, const char* defaultItem);
void SCR_ParamInfoFree(SCR_PARAMINFO* ctx);
// 68 when the statement does not parse (16 when memory runs out), else 0;
// builders that cannot handle a statement just build fewer or no queries, so
// the caller compares total (or uses the mask) with its marker count.
int SCR_ParamQueriesGet(SCR_PARAMINFO* ctx, const char* statement);

// Builders (0, 15 or 16); each appends to the context.
int scr_pq_Select(SCR_PARAMINFO* ctx);
int scr_pq_Delete(SCR_PARAMINFO* ctx);
int scr_pq_Insert(SCR_PARAMINFO* ctx);
int scr_pq_UpdatePos(SCR_PARAMINFO* ctx);
int scr_pq_Update(SCR_PARAMINFO* ctx);
int scr_pq_HasParam(SQL_NODE* node);

}  // namespace kx
