// What the connection code needs of the distributed-transaction support: the
// enlistment calls of SQL_ATTR_ENLIST_IN_DTC and connection close, and the
// teardown call of the unload hook, as one operation table that the driver's
// entry point installs at load. Without an installed table every enlistment
// fails with the reason that the support is missing.
//
// The call gate is the connection's side of a prepared distributed
// transaction: between a successful prepare and the outcome (which the
// transaction manager delivers on threads of its own) the connection's ODBC
// calls wait at the gate.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "agent/agent.h"

namespace kx {

// A gate every ODBC call on a connection passes. Hold closes it and waits
// until the calls already past it have ended; Open opens it again. Hold and
// Open may run on different threads (prepare and commit do).
//
// An open gate costs a call two atomic steps and no lock: the call counts
// itself and then looks at the gate, Hold closes the gate and then looks at
// the count (both sequentially consistent), so a call either sees the gate
// closed and steps back, or is seen by Hold and waited for. The lock and the
// condition only serve the waiting.
struct CallGate {
  std::mutex lock;
  std::condition_variable changed;
  std::atomic<bool> held{false};  // closed by a prepared transaction
  std::atomic<int> calls{0};      // calls past the gate and not yet ended

  // A call starts: waits while the gate is held, then counts the call.
  void Pass() {
    calls.fetch_add(1);
    if (!held.load()) return;
    Done();  // closed: step back and wait for it to open
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return !held.load(); });
    calls.fetch_add(1);  // under the lock: Hold cannot close it in between
  }
  // A call has ended: the last one tells a waiting Hold.
  void Done() {
    if (calls.fetch_sub(1) == 1 && held.load()) {
      std::lock_guard<std::mutex> hold(lock);
      changed.notify_all();
    }
  }
  // Closes the gate and waits for the calls under way.
  void Hold() {
    std::unique_lock<std::mutex> hold(lock);
    held.store(true);
    changed.wait(hold, [this] { return calls.load() == 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> hold(lock);
    held.store(false);
    changed.notify_all();
  }
  bool IsHeld() { return held.load(); }
};

// The distributed-transaction support's operations. A dispenser is the
// support's handle of one enlistment of one connection.
struct DtcOps {
  // 0 when the process's resource-manager support is ready, -1 on failure.
  int16_t (*init)();
  // Unload: ends every enlistment still alive (rolled back) before the
  // connections go.
  void (*term)();
  // A dispenser for the application's transaction object on an open agent
  // connection, holding one reference for the caller, or nullptr. connectText
  // is "DSN=...;UID=...;PWD=...;" with brace-quoted values; the dispenser
  // keeps its own copy.
  void* (*newDispenser)(void* transaction, AgentHandle server, AgentHandle conn,
                        AgentBinding* binding, std::recursive_mutex* dtcLock, CallGate* gate,
                        const char* connectText);
  // 0 on success, -1 otherwise (also for no dispenser).
  int16_t (*rmConnect)(void* dispenser);
  int16_t (*rmEnlist)(void* dispenser);
  // Gives up the caller's reference: the references left, -1 for a NULL or
  // unusable dispenser.
  int (*release)(void* dispenser);
  // 1 while the transaction manager still holds the dispenser (its
  // transaction is not finished), else 0.
  int (*inProgress)(void* dispenser);
  // Why the dispenser's last step failed (for NULL: why the support is not
  // ready), cut to size - 1 bytes and terminated; "" when nothing failed.
  void (*reason)(void* dispenser, char* out, size_t size);
};

// Installs the support's table (the driver's entry point does, at load).
void DtcInstall(const DtcOps& ops);
// The installed table, or the one that answers "not available".
const DtcOps& Dtc();

}  // namespace kx
