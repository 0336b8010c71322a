#include "util/hash_table.h"

#include <cstdlib>
#include <cstring>

namespace kx {
namespace {

uint32_t StringHash(const char* key) {
  // h = c + (h >> 28) + 8h over the signed bytes, with an arithmetic shift and
  // 32-bit wrap-around (computed unsigned, so the wrap is defined).
  uint32_t h = 0;
  for (const auto* p = reinterpret_cast<const signed char*>(key); *p; ++p) {
    int32_t shifted = static_cast<int32_t>(h) >> 28;
    h = static_cast<uint32_t>(static_cast<int32_t>(*p)) + static_cast<uint32_t>(shifted) + h * 8u;
  }
  // The magnitude of h as a signed value; -2^31 stays 2^31, still a valid
  // dividend, and maps to the same bucket every time.
  return static_cast<int32_t>(h) < 0 ? 0u - h : h;
}

uint32_t BytesHash(const unsigned char* key, int32_t len) {
  // FNV-1a over exactly the key's bytes.
  uint32_t h = 2166136261u;
  for (int32_t i = 0; i < len; ++i) {
    h ^= key[i];
    h *= 16777619u;
  }
  return h;
}

bool KeyEquals(const HashTable* table, const void* stored, const void* key) {
  if (table->keyLength == 0)
    return strcmp(static_cast<const char*>(stored), static_cast<const char*>(key)) == 0;
  return memcmp(stored, key, static_cast<size_t>(table->keyLength)) == 0;
}

void* CopyKey(const HashTable* table, const void* key) {
  size_t len = table->keyLength == 0 ? strlen(static_cast<const char*>(key)) + 1
                                     : static_cast<size_t>(table->keyLength);
  void* copy = malloc(len);
  if (copy) memcpy(copy, key, len);
  return copy;
}

}  // namespace

HashTable* HashCreate(int32_t bucketCount, int32_t keyLength) {
  if (bucketCount <= 0) bucketCount = 1;
  if (keyLength < 0) return nullptr;
  auto* table = static_cast<HashTable*>(calloc(1, sizeof(HashTable)));
  if (table == nullptr) return nullptr;
  table->buckets = static_cast<HashNode**>(calloc(static_cast<size_t>(bucketCount), sizeof(HashNode*)));
  if (table->buckets == nullptr) {
    free(table);
    return nullptr;
  }
  table->bucketCount = bucketCount;
  table->keyLength = keyLength;
  return table;
}

void HashDestroy(HashTable* table) {
  if (table == nullptr) return;
  for (int32_t i = 0; i < table->bucketCount; ++i) {
    HashNode* node = table->buckets[i];
    while (node) {
      HashNode* next = node->next;
      free(node->key);
      free(node);
      node = next;
    }
  }
  free(table->buckets);
  free(table);
}

int HashWalk(HashTable* table, HashWalkFn fn, void* user) {
  if (table == nullptr || fn == nullptr) return 0;
  for (int32_t i = 0; i < table->bucketCount; ++i)
    for (HashNode* node = table->buckets[i]; node; node = node->next) fn(node->value, node->key, user);
  return 0;
}

void HashPrintStats(const HashTable* table, FILE* stream) {
  if (table == nullptr || stream == nullptr) return;
  int64_t full = table->entries ? int64_t{table->entries} * 100 / table->bucketCount : 0;
  int64_t coll = table->entries ? int64_t{table->collisions} * 100 / table->entries : 0;
  fprintf(stream, "size=%d, entries=%d, colls=%d, %%full=%f, %%coll=%f\n", table->bucketCount,
          table->entries, table->collisions, static_cast<double>(full), static_cast<double>(coll));
}

int32_t HashIndex(const HashTable* table, const void* key) {
  uint32_t h = table->keyLength == 0
                   ? StringHash(static_cast<const char*>(key))
                   : BytesHash(static_cast<const unsigned char*>(key), table->keyLength);
  return static_cast<int32_t>(h % static_cast<uint32_t>(table->bucketCount));
}

HashNode* HashFindNode(const HashTable* table, const void* key) {
  if (table == nullptr || key == nullptr) return nullptr;
  for (HashNode* node = table->buckets[HashIndex(table, key)]; node; node = node->next)
    if (KeyEquals(table, node->key, key)) return node;
  return nullptr;
}

uint64_t HashGet(const HashTable* table, const void* key) {
  HashNode* node = HashFindNode(table, key);
  return node ? node->value : 0;
}

void HashLinkNode(HashTable* table, HashNode* node, void* keyCopy, uint64_t value) {
  node->key = keyCopy;
  node->value = value;
  HashNode** head = &table->buckets[HashIndex(table, keyCopy)];
  if (*head) ++table->collisions;
  node->next = *head;
  *head = node;
  ++table->entries;
}

HashNode* HashSet(HashTable* table, const void* key, uint64_t value) {
  if (table == nullptr || key == nullptr) return nullptr;
  HashNode* node = HashFindNode(table, key);
  if (node) {
    node->value = value;
    return node;
  }
  void* keyCopy = CopyKey(table, key);
  if (keyCopy == nullptr) return nullptr;
  node = static_cast<HashNode*>(calloc(1, sizeof(HashNode)));
  if (node == nullptr) {
    free(keyCopy);
    return nullptr;
  }
  HashLinkNode(table, node, keyCopy, value);
  return node;
}

HashNode* HashUnlinkNode(HashTable* table, const void* key) {
  if (table == nullptr || key == nullptr) return nullptr;
  HashNode** link = &table->buckets[HashIndex(table, key)];
  HashNode** head = link;
  for (; *link; link = &(*link)->next) {
    HashNode* node = *link;
    if (!KeyEquals(table, node->key, key)) continue;
    *link = node->next;
    node->next = nullptr;
    --table->entries;
    if (*head) --table->collisions;
    return node;
  }
  return nullptr;
}

int HashDelete(HashTable* table, const void* key) {
  HashNode* node = HashUnlinkNode(table, key);
  if (node == nullptr) return 0;
  free(node->key);
  free(node);
  return 1;
}

}  // namespace kx
