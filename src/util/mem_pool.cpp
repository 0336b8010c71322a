#include "util/mem_pool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "util/log.h"

namespace kx {
namespace {

char* AlignUp(char* p) {
  auto v = reinterpret_cast<uintptr_t>(p);
  return p + ((MPL_ALIGN - (v & (MPL_ALIGN - 1))) & (MPL_ALIGN - 1));
}

char* ChunkData(MemPoolChunk* chunk) {
  return AlignUp(reinterpret_cast<char*>(chunk) + sizeof(MemPoolChunk));
}

// Room left before the limit; 0 for an empty pool.
size_t Room(const MemPool* pool) {
  return pool->head ? static_cast<size_t>(pool->limit - pool->objEnd) : 0;
}

[[noreturn]] void PoolOutOfMemory() {
  LogAt(LOG_CRIT, __FILE__, __LINE__, "out of memory");
  s_exit(1);
}

}  // namespace

static_assert(sizeof(MemPoolChunk) == 16, "chunk header is 16 bytes");

void mpl_init(MemPool* pool) { *pool = MemPool{}; }

MemPoolChunk* mpl_chunk_alloc(size_t size) {
  void* p = size >= sizeof(MemPoolChunk) ? calloc(1, size) : nullptr;
  if (p == nullptr) PoolOutOfMemory();
  return static_cast<MemPoolChunk*>(p);
}

void mpl_chunk_free(MemPoolChunk* chunk) { free(chunk); }

void mpl_grow(MemPool* pool, size_t n) {
  size_t len = pool->head ? static_cast<size_t>(pool->objEnd - pool->objStart) : 0;
  // Sizes so large that the sum would wrap can never be met.
  const size_t cap = static_cast<size_t>(PTRDIFF_MAX) - MPL_CHUNK_UNIT;
  if (n > cap || len > cap / 2 || len + n + len / 8 + 100 > cap) PoolOutOfMemory();
  size_t size = len + n + len / 8 + 100;
  size = (size + MPL_CHUNK_UNIT - 1) / MPL_CHUNK_UNIT * MPL_CHUNK_UNIT;

  MemPoolChunk* chunk = mpl_chunk_alloc(size);
  char* data = ChunkData(chunk);
  chunk->end = reinterpret_cast<char*>(chunk) + size;
  if (len) memcpy(data, pool->objStart, len);

  MemPoolChunk* old = pool->head;
  if (old && pool->objStart == ChunkData(old)) {
    // The old chunk held nothing but the object that just moved.
    chunk->prev = old->prev;
    mpl_chunk_free(old);
  } else {
    chunk->prev = old;
  }
  pool->head = chunk;
  pool->limit = chunk->end;
  pool->objStart = data;
  pool->objEnd = data + len;
}

char* mpl_append(MemPool* pool, const void* bytes, size_t len) {
  if (Room(pool) <= len) mpl_grow(pool, len);
  char* at = pool->objEnd;
  if (len) memcpy(at, bytes, len);
  pool->objEnd += len;
  return at;
}

char* mpl_reserve(MemPool* pool, size_t n) {
  if (Room(pool) <= n) mpl_grow(pool, n);
  char* at = pool->objEnd;
  pool->objEnd = AlignUp(at + n);
  return at;
}

char* mpl_finish(MemPool* pool) {
  char* start = pool->objStart;
  if (pool->head) {
    pool->objEnd = AlignUp(pool->objEnd);
    pool->objStart = pool->objEnd;
  }
  return start;
}

char* mpl_finish_size(MemPool* pool, size_t* size) {
  if (size) *size = mpl_object_size(pool);
  return mpl_finish(pool);
}

char* mpl_alloc(MemPool* pool, size_t n) {
  mpl_reserve(pool, n);
  return mpl_finish(pool);
}

size_t mpl_object_size(const MemPool* pool) {
  return pool->head ? static_cast<size_t>(pool->objEnd - pool->objStart) : 0;
}

char* mpl_align(MemPool* pool) {
  if (pool->head) pool->objEnd = AlignUp(pool->objEnd);
  return pool->objEnd;
}

void mpl_free_all(MemPool* pool) {
  MemPoolChunk* chunk = pool->head;
  while (chunk) {
    MemPoolChunk* prev = chunk->prev;
    mpl_chunk_free(chunk);
    chunk = prev;
  }
  *pool = MemPool{};
}

void mpl_free_to(MemPool* pool, void* object) {
  if (object == nullptr) {
    pool->objEnd = pool->objStart;
    return;
  }
  auto* obj = static_cast<char*>(object);
  MemPoolChunk* chunk = pool->head;
  while (chunk) {
    char* data = ChunkData(chunk);
    // Compare as integers: the address may lie in no chunk at all.
    auto o = reinterpret_cast<uintptr_t>(obj);
    if (o >= reinterpret_cast<uintptr_t>(data) && o <= reinterpret_cast<uintptr_t>(chunk->end)) {
      pool->head = chunk;
      pool->limit = chunk->end;
      pool->objStart = obj;
      pool->objEnd = obj;
      return;
    }
    MemPoolChunk* prev = chunk->prev;
    mpl_chunk_free(chunk);
    chunk = prev;
  }
  *pool = MemPool{};
}

}  // namespace kx
