// The handle layer: the four handle tables, the lookup of a live record by its
// handle, the process-wide locks and the re-entrancy latch of the agent.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "odbc/records.h"

namespace kx {

struct HandleTable;  // util/handle_table.h

// 0, or -1 when a table cannot be set up. Idempotent.
int HandlesInit();
// Frees the environments up to the first one with a running call, then tears
// the layer down. 0.
int HandlesTerm();
bool HandlesInitialised();

HandleTable* EnvTable();
HandleTable* ConnTable();
HandleTable* StmtTable();
HandleTable* DescTable();

// The process-wide locks. The handle lock guards lookups and the setting of
// busy markers (a call clears its own marker without it) and
// is held across kind 1 and 2 handlers; the connect lock serialises connecting;
// the agent lock serialises agent work when the agent is not re-entrant.
std::recursive_mutex& HandleLock();
std::recursive_mutex& ConnectLock();
std::recursive_mutex& AgentLock();


// The re-entrancy value: 0 until the first connection open latches it to the
// binding's flags AND 2 (ConnLatchReentrant).
extern std::atomic<int32_t> g_agentReentrant;

// Looks a handle up in the table of a kind and checks the record's magic;
// nullptr when it is not a live record of that kind. Call under the handle
// lock: every change of the tables is made under it (HandleEnter and
// HandleRemove), so the lookup itself takes no other lock.
HandleHead* LookupHandle(uint32_t kind, uint32_t handle);

// Gives a record a handle in the table of its kind (record->handle); 0, or
// the table's error code (no handle then). Takes the handle lock.
int HandleEnter(uint32_t kind, HandleHead* record);
// Takes a record's handle out of the table of its kind, so that no lookup
// finds the record any more; a record without a handle is left alone. Takes
// the handle lock. Once it returns, no diagnostic read or SQLCancel is
// looking at the record, and the caller may dismantle it.
void HandleRemove(uint32_t kind, HandleHead* record);

}  // namespace kx
