// The dataset cache: reads a whole agent result once, keeps it in memory up
// to a limit and beyond it in two private temporary files, and hands back any
// window of its rows afterwards. The static snapshot (SS_REC) is the cache of
// a static cursor's result with its sequential read position.
//
// The files are made with O_TMPFILE (or mkstemp and an immediate unlink) in
// $TMPDIR, else /tmp, close-on-exec and mode 0600: they have no name, so
// nothing is ever left behind, not even after a crash, and no two caches
// share one. Offsets are 64-bit, so results beyond 2 GiB read back from the
// right places. Every write, flush, seek and position query is checked: a
// full disk shows at fflush or fseeko, and the first failure ends the fill
// with 15 and the system's reason (DSC_LastError), never a short result.
//
// Codes: 0, 15 (S1000: a file operation failed, or arguments that do not
// fit), 16 (S1001: out of memory), or the agent's own code of a failed fetch.
#pragma once

#include <cstdint>
#include <cstdio>

#include "agent/agent.h"

namespace kx {

constexpr int32_t DSC_MEMORY = 0;   // rows in the caller's buffer only
constexpr int32_t DSC_OPEN = 1;     // files made, nothing written yet
constexpr int32_t DSC_SPILLED = 2;  // the rows live in the files

// Rows kept in memory before a fill moves them to the files, and the rows
// fetched from the agent per call while filling.
constexpr int32_t DSC_RESIDENT_ROWS = 5000;
constexpr uint16_t DSC_FILL_BLOCK = 200;

struct DSC {
  int32_t state;
  FILE* data;         // header, column table, row records
  FILE* index;        // one 64-bit offset into data per row
  char* dataBuffer;   // the streams' buffers, freed after the streams close
  char* indexBuffer;
  uint32_t window;    // rows made resident at a time once spilled
  int64_t total;      // rows written to the files
  uint16_t columns;   // columns of the rows written
  bool moved;         // a window was read since the last append: the files are not at their ends
  int32_t lastErrno;  // errno of the last failed file operation, 0 none
  char lastError[256];  // what failed, with the system's reason
};

void DSC_Init(DSC* cache);
// Reads the statement's whole result through the binding's DRV_FetchBlock.
// Afterwards either rows holds every row (state DSC_MEMORY) or the files do
// (DSC_SPILLED) and rows is empty. *total (when given) gets the rows read,
// also after a failure.
int DSC_Fill(DSC* cache, const AgentBinding* binding, AgentHandle stmt, RowBuffer* rows, int32_t* total);
// Makes rows [first, first + count) resident in `resident`, whose row 0 is
// result row *windowStart (-1: nothing resident). Only for a spilled cache.
int DSC_LoadWindow(DSC* cache, int32_t first, int32_t count, int32_t* windowStart, RowBuffer* resident);
// Closes (and so removes) both files; state DSC_MEMORY.
void DSC_Close(DSC* cache);
// The last file failure as text ("" when none).
const char* DSC_LastError(const DSC* cache);

// ---- static snapshot ------------------------------------------------------------

struct SS_REC {
  RowBuffer* rows;      // resident rows (header owned)
  int32_t windowStart;  // result row held in rows' row 0; -1 spilled and nothing resident
  int32_t nextRow;      // next sequential read; SS_AT_END once a read came back short
  DSC cache;
};
constexpr int32_t SS_AT_END = -2;
constexpr int32_t SS_SEQUENTIAL = -1;

int SS_New(SS_REC** out);
void SS_Close(SS_REC* ss);
void SS_Free(SS_REC** ss);
// Caches the statement's whole result (SS_Close first).
int SS_GetRsltSet(SS_REC* ss, const AgentBinding* binding, AgentHandle stmt, int32_t* total);
// Copies up to count rows from row `first` (SS_SEQUENTIAL: the next
// sequential row) into *out (a header is made when *out is NULL).
int SS_GetRows(SS_REC* ss, int32_t first, int32_t count, RowBuffer** out);

}  // namespace kx
