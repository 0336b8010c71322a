#include "odbc/handle_layer.h"

#include "odbc/env.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

std::atomic<int32_t> g_agentReentrant{0};

namespace {

// The locks live for the whole process: a library that hosted a Java VM is
// never unloaded, and a lock must outlive every thread that might still hold it.
std::recursive_mutex& ImmortalLock(int which) {
  static std::recursive_mutex* locks[3] = {new std::recursive_mutex, new std::recursive_mutex,
                                           new std::recursive_mutex};
  return *locks[which];
}

std::atomic<int> g_initialised{0};
HandleTable g_tables[4];  // environment, connection, statement, descriptor

int32_t MagicOf(uint32_t kind) {
  switch (kind) {
    case HK_ENV: return ENVR_MAGIC;
    case HK_DBC: return CONN_MAGIC;
    case HK_STMT: return STMT_MAGIC;
    case HK_DESC: return DESC_MAGIC;
    default: return 0;
  }
}

}  // namespace

std::recursive_mutex& HandleLock() { return ImmortalLock(0); }
std::recursive_mutex& ConnectLock() { return ImmortalLock(1); }
std::recursive_mutex& AgentLock() { return ImmortalLock(2); }

HandleTable* EnvTable() { return &g_tables[0]; }
HandleTable* ConnTable() { return &g_tables[1]; }
HandleTable* StmtTable() { return &g_tables[2]; }
HandleTable* DescTable() { return &g_tables[3]; }

bool HandlesInitialised() { return g_initialised.load() != 0; }

HandleHead* LookupHandle(uint32_t kind, uint32_t handle) {
  if (kind < HK_ENV || kind > HK_DESC || handle == 0) return nullptr;
  auto* head = static_cast<HandleHead*>(HT_LookupUnlocked(&g_tables[kind - HK_ENV], handle));
  if (head == nullptr || head->magic != MagicOf(kind)) return nullptr;
  return head;
}

int HandleEnter(uint32_t kind, HandleHead* record) {
  if (kind < HK_ENV || kind > HK_DESC || record == nullptr) return KX_ERR_GENERAL;
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  uint32_t handle = 0;
  const int code = HT_Alloc(&g_tables[kind - HK_ENV], &handle, record);
  record->handle = code == 0 ? handle : 0;
  return code;
}

void HandleRemove(uint32_t kind, HandleHead* record) {
  if (kind < HK_ENV || kind > HK_DESC || record == nullptr || record->handle == 0) return;
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  HandleTable* table = &g_tables[kind - HK_ENV];
  // A handle released already may name another record by now.
  if (HT_LookupUnlocked(table, record->handle) == record) HT_Release(table, record->handle);
}

int HandlesInit() {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  if (HandlesInitialised()) return 0;
  const uint32_t values[4] = {HT_VALUE_ENV, HT_VALUE_DBC, HT_VALUE_STMT, HT_VALUE_DESC};
  for (int i = 0; i < 4; ++i) {
    if (HT_Init(&g_tables[i], values[i]) != 0) return -1;
  }
  for (auto& table : g_tables) {
    if (HT_EnableLocking(&table) != 0) return -1;
  }
  g_initialised.store(1);
  return 0;
}

int HandlesTerm() {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  if (!HandlesInitialised()) return 0;
  for (EnvrRecord* env = EnvrFirst(); env != nullptr; env = EnvrFirst()) {
    if (EnvrAnyConnBusy(env)) break;
    EnvrClose(env);
    EnvrFree(env);
  }
  g_initialised.store(0);
  HT_Destroy(StmtTable());
  HT_Destroy(ConnTable());
  HT_Destroy(EnvTable());
  HT_Destroy(DescTable());
  return 0;
}

}  // namespace kx
