// Object-stack allocator and string builder. One object (typically a text) is
// built at the end of the pool by appending bytes; mpl_finish closes it and
// returns its start, and the next object starts behind it on a 16-byte
// boundary. Objects are released all together (mpl_free_all) or by cutting the
// pool back to an earlier object (mpl_free_to).
//
// Memory comes in zeroed chunks of multiples of 4096 bytes. Only the object
// being built moves when it outgrows its chunk; closed objects keep their
// address. Running out of memory ends the process (one ERROR log line, exit 1):
// no operation returns a failure. No NUL is added: append one yourself.
#pragma once

#include <cstddef>

namespace kx {

struct MemPoolChunk {
  MemPoolChunk* prev;  // chunk allocated before this one
  char* end;           // end of this chunk; data starts 16 bytes after its start
};

// A zeroed record is an empty pool; usually lives on the caller's stack.
struct MemPool {
  MemPoolChunk* head;  // newest chunk, NULL when empty
  char* objStart;      // start of the object being built
  char* objEnd;        // next free byte
  char* limit;         // end of the head chunk
};

constexpr size_t MPL_ALIGN = 16;
constexpr size_t MPL_CHUNK_UNIT = 4096;

void mpl_init(MemPool* pool);
// Appends len bytes to the object being built; returns where they were put.
char* mpl_append(MemPool* pool, const void* bytes, size_t len);
// Reserves n bytes at the end of the object, returns their position and moves
// the object end to the next 16-byte boundary after them.
char* mpl_reserve(MemPool* pool, size_t n);
// Closes the object being built and returns its start.
char* mpl_finish(MemPool* pool);
// As mpl_finish, also storing the object's size (before alignment).
char* mpl_finish_size(MemPool* pool, size_t* size);
// A closed 16-aligned block of n bytes (when no object is being built).
char* mpl_alloc(MemPool* pool, size_t n);
size_t mpl_object_size(const MemPool* pool);
// Moves the object end to the next 16-byte boundary and returns it.
char* mpl_align(MemPool* pool);
// Moves the object being built to a new chunk with room for n more bytes.
void mpl_grow(MemPool* pool, size_t n);
void mpl_free_all(MemPool* pool);
// Cuts the pool back so that object becomes the (empty) object being built;
// NULL drops only the object being built.
void mpl_free_to(MemPool* pool, void* object);
MemPoolChunk* mpl_chunk_alloc(size_t size);
void mpl_chunk_free(MemPoolChunk* chunk);

// Appends one byte (terminators included), growing first when the byte would
// reach the limit, so the object end always stays below it.
inline void mpl_append_byte(MemPool* pool, char byte) {
  if (pool->limit - pool->objEnd <= 1) mpl_grow(pool, 1);
  *pool->objEnd++ = byte;
}

}  // namespace kx
