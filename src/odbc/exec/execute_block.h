// The parameter row block: one column per input and in-out parameter, one
// row per row of the parameter set that is not ignored, filled from the
// application's bound values (or the values collected at execution).
#pragma once

#include <cstdint>

#include "odbc/records.h"

namespace kx {

struct ParamBlockResult {
  RowBuffer* block;   // malloc'd header; NULL when no column is needed
  int32_t rows;       // rows in the block (rows not ignored)
};

// Builds the block for parameters 0 .. n - 1. collected: values at
// execution come from the collected arrays (driver-collected execution);
// otherwise they travel with indicator -2 (backend-driven). 0 or an
// error-table row; nothing is left allocated on failure.
int BuildParamBlock(StmtRecord* stmt, uint16_t n, bool collected, ParamBlockResult* out);

// Releases a block the core allocated (parameters, positioned changes) and
// its header.
void FreeRowBlock(RowBuffer* block);

// Whether row r of the parameter set is marked SQL_PARAM_IGNORE.
bool ParamRowIgnored(const StmtRecord* stmt, uint64_t row);

}  // namespace kx
