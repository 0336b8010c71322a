// Small chained hash table mapping keys to 64-bit values. Keys are either
// NUL-terminated strings (key length 0) or fixed-length byte strings, chosen
// per table. The table owns its nodes and key copies (malloc'd); values belong
// to the caller. No lock: each table has one owner that serialises access.
// Bucket counts are fixed: the table never grows.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kx {

struct HashNode {
  void* key;       // the table's copy of the key
  uint64_t value;  // stored as given, never freed by the table
  HashNode* next;  // next node of the same bucket
};

struct HashTable {
  HashNode** buckets;
  int32_t bucketCount;  // at least 1
  int32_t keyLength;    // 0 = string keys, else bytes per key
  int32_t entries;
  int32_t collisions;
};

// Walk callback: (value, key, user value); its result is ignored.
using HashWalkFn = int (*)(uint64_t value, const void* key, void* user);

// A new empty table (a count of 0 or less becomes 1), NULL when out of memory.
HashTable* HashCreate(int32_t bucketCount, int32_t keyLength);
void HashDestroy(HashTable* table);
// Calls fn for every node: buckets in index order, each newest first. Returns 0.
// fn must not add or remove nodes.
int HashWalk(HashTable* table, HashWalkFn fn, void* user);
void HashPrintStats(const HashTable* table, FILE* stream);
int32_t HashIndex(const HashTable* table, const void* key);
HashNode* HashFindNode(const HashTable* table, const void* key);
// The value under the key, 0 when absent.
uint64_t HashGet(const HashTable* table, const void* key);
// Replaces the value of a present key, else inserts a copy of the key. Returns
// the node, NULL when out of memory (table unchanged).
HashNode* HashSet(HashTable* table, const void* key, uint64_t value);
// Stores keyCopy (malloc'd, now owned by the table) and value in node and
// links it at the head of the key's bucket.
void HashLinkNode(HashTable* table, HashNode* node, void* keyCopy, uint64_t value);
// Unlinks the key's node and returns it, NULL when absent. The caller
// releases it with free(node->key) and free(node).
HashNode* HashUnlinkNode(HashTable* table, const void* key);
// Removes the key; 1 when it was present, else 0.
int HashDelete(HashTable* table, const void* key);

}  // namespace kx
