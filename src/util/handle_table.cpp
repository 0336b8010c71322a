#include "util/handle_table.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "util/errcodes.h"

namespace kx {
namespace {

// Holds the table's lock for the scope when locking is on.
class TableGuard {
 public:
  explicit TableGuard(HandleTable* table)
      : lock_(table->locking && table->lock ? table->lock : nullptr) {
    if (lock_) lock_->lock();
  }
  ~TableGuard() {
    if (lock_) lock_->unlock();
  }
  TableGuard(const TableGuard&) = delete;
  TableGuard& operator=(const TableGuard&) = delete;

 private:
  std::recursive_mutex* lock_;
};

uint16_t EntryTag(const HandleTable* table) { return static_cast<uint16_t>(table->tag); }

}  // namespace

int HT_Init(HandleTable* table, uint32_t value) {
  HT_Destroy(table);
  auto* entries = static_cast<HandleEntry*>(calloc(HT_GROW_BY, sizeof(HandleEntry)));
  if (entries == nullptr) return KX_ERR_NOMEM;
  table->entries = entries;
  table->capacity = HT_GROW_BY;
  table->free = HT_GROW_BY;
  uint16_t low = static_cast<uint16_t>(value & 0xFFFF);
  table->tag = low == 0 ? -1 : low;
  return KX_OK;
}

void HT_Destroy(HandleTable* table) {
  free(table->entries);
  delete table->lock;
  *table = HandleTable{};
}

int HT_EnableLocking(HandleTable* table) {
  if (table->lock == nullptr) {
    table->lock = new (std::nothrow) std::recursive_mutex;
    if (table->lock == nullptr) return KX_ERR_NOMEM;
  }
  table->locking = 1;
  return KX_OK;
}

int HT_Alloc(HandleTable* table, uint32_t* handle, void* object) {
  if (handle == nullptr) return KX_ERR_GENERAL;
  *handle = 0;
  // A zeroed table has tag 0, which marks free entries: allocating there would
  // hand out an entry that still looks free.
  if (table == nullptr || table->tag == 0) return KX_ERR_GENERAL;
  TableGuard guard(table);
  uint16_t index = 0;
  if (table->free > 0) {
    while (index < table->capacity && table->entries[index].tag != 0) ++index;
    if (index == table->capacity) return KX_ERR_GENERAL;  // free count out of step
  } else {
    if (static_cast<uint32_t>(table->capacity) + HT_GROW_BY > HT_MAX_ENTRIES)
      return KX_ERR_TOO_MANY_HANDLES;
    size_t grown = static_cast<size_t>(table->capacity) + HT_GROW_BY;
    auto* entries = static_cast<HandleEntry*>(calloc(grown, sizeof(HandleEntry)));
    if (entries == nullptr) return KX_ERR_NOMEM;
    if (table->capacity) memcpy(entries, table->entries, table->capacity * sizeof(HandleEntry));
    free(table->entries);
    table->entries = entries;
    index = table->capacity;
    table->free = HT_GROW_BY;
    table->capacity = static_cast<uint16_t>(grown);
  }
  table->entries[index].tag = EntryTag(table);
  table->entries[index].object = object;
  --table->free;
  *handle = static_cast<uint32_t>(EntryTag(table)) << 16 | index;
  return KX_OK;
}

void* HT_LookupUnlocked(const HandleTable* table, uint32_t handle) {
  if (table == nullptr) return nullptr;
  uint16_t index = static_cast<uint16_t>(handle & 0xFFFF);
  uint16_t tag = static_cast<uint16_t>(handle >> 16);
  if (index >= table->capacity || tag == 0) return nullptr;
  const HandleEntry& e = table->entries[index];
  return e.tag == tag ? e.object : nullptr;
}

void* HT_Lookup(HandleTable* table, uint32_t handle) {
  if (table == nullptr) return nullptr;
  TableGuard guard(table);
  return HT_LookupUnlocked(table, handle);
}

void HT_Release(HandleTable* table, uint32_t handle) {
  if (table == nullptr) return;
  // The capacity is read under the lock too: a concurrent allocation may be
  // replacing the entry array.
  TableGuard guard(table);
  uint16_t index = static_cast<uint16_t>(handle & 0xFFFF);
  uint16_t tag = static_cast<uint16_t>(handle >> 16);
  if (index >= table->capacity || tag == 0) return;
  HandleEntry& e = table->entries[index];
  if (e.tag != tag) return;
  e.tag = 0;
  e.object = nullptr;
  ++table->free;
}

void HT_Lock(HandleTable* table) {
  if (table && table->locking && table->lock) table->lock->lock();
}

void HT_Unlock(HandleTable* table) {
  if (table && table->locking && table->lock) table->lock->unlock();
}

}  // namespace kx
