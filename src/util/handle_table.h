// Handle tables: 32-bit handle values mapped to objects. A handle carries the
// table's tag in its high 16 bits and the entry index in its low 16 bits, so a
// handle of another table, or one whose entry was released, resolves to NULL.
#pragma once

#include <cstdint>
#include <mutex>

namespace kx {

struct HandleEntry {
  uint16_t tag;  // 0 = free, else the table's tag
  void* object;  // NULL when free
};

// A zeroed table is unusable (every lookup gives NULL) until HT_Init. Plain
// record, so tables can be zero-initialised globals.
struct HandleTable {
  int32_t tag;            // low 16 bits of the init value; -1 (tag 0xFFFF) when those are 0
  uint16_t capacity;      // entries allocated
  uint16_t free;          // entries not in use
  HandleEntry* entries;   // capacity entries
  int32_t locking;        // 1 once HT_EnableLocking ran
  std::recursive_mutex* lock;  // used only while locking is 1
};

constexpr uint32_t HT_MAX_ENTRIES = 65535;  // indices 0..65534
constexpr uint16_t HT_GROW_BY = 5;

// (Re)initialises the table: 5 free entries, tag from the value, locking off.
// 0, or 16 with an empty table when memory runs out.
int HT_Init(HandleTable* table, uint32_t value);
// Frees the entries and the lock and zeroes the table.
void HT_Destroy(HandleTable* table);
// From now on every operation on the table runs under the table's own lock.
// 0, or 16 when the lock cannot be made (locking stays off).
int HT_EnableLocking(HandleTable* table);
// Stores the object in the lowest free entry (growing by 5 entries) and sets
// *handle = tag << 16 | index. 0; 16 out of memory; 131 when the table would
// pass 65535 entries; 15 for a NULL or uninitialised table. *handle is 0 on failure.
int HT_Alloc(HandleTable* table, uint32_t* handle, void* object);
// The object of a live handle of this table, else NULL.
void* HT_Lookup(HandleTable* table, uint32_t handle);
// The same without the table's lock, for a caller that makes every change of
// the table under a lock of its own and holds that lock while it looks up.
void* HT_LookupUnlocked(const HandleTable* table, uint32_t handle);
// Frees the entry of a live handle; any other handle is ignored.
void HT_Release(HandleTable* table, uint32_t handle);
// Take and release the table's lock (when locking is on), for callers that
// read the entries directly.
void HT_Lock(HandleTable* table);
void HT_Unlock(HandleTable* table);

}  // namespace kx
