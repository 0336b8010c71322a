// Environment records and the process list of environments.
#pragma once

#include "odbc/records.h"

namespace kx {

// The driver's own environment attribute (from the block ODBC leaves to
// drivers): read-only, it always answers ENVR_ATTR_DRIVER_VALUE.
constexpr int32_t ENVR_ATTR_DRIVER = 1056;
constexpr int32_t ENVR_ATTR_DRIVER_VALUE = 2;

// A new zeroed environment at the head of the process list (ODBC version 2),
// or nullptr when out of memory. No handle yet.
EnvrRecord* EnvrAlloc();
void EnvrOpen(EnvrRecord* env);
// Closes and frees every connection of an open environment.
void EnvrClose(EnvrRecord* env);
// Unlinks, frees the messages, releases the handle and the memory. 0.
int EnvrFree(EnvrRecord* env);
char* EnvrPopMsg(EnvrRecord* env, int32_t* native);
void EnvrPostMsg(EnvrRecord* env, const char* text, int32_t native);
// The first environment of the process list (under the handle lock).
EnvrRecord* EnvrFirst();
// Whether any connection of the environment has a call running or waiting
// (under the handle lock).
bool EnvrAnyConnBusy(const EnvrRecord* env);

}  // namespace kx
