#include "util/hash_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kx {
namespace {

struct TableDeleter {
  void operator()(HashTable* t) const { HashDestroy(t); }
};
using TablePtr = std::unique_ptr<HashTable, TableDeleter>;

TEST(HashTable, CreateClampsTheBucketCount) {
  for (int32_t count : {0, -5}) {
    TablePtr t(HashCreate(count, 0));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->bucketCount, 1);
    for (const char* key : {"a", "zz", "", "some longer key"}) EXPECT_EQ(HashIndex(t.get(), key), 0);
  }
}

TEST(HashTable, StringKeyBuckets) {
  TablePtr t(HashCreate(100, 0));
  EXPECT_EQ(HashIndex(t.get(), "A"), 65);
  EXPECT_EQ(HashIndex(t.get(), "AB"), 86);  // (66 + 65 x 8) mod 100
  EXPECT_EQ(HashIndex(t.get(), ""), 0);
  // Bytes above 0x7F count as negative; long keys wrap around. Every bucket
  // stays in range and is stable.
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::string key;
    for (int k = 1 + static_cast<int>(rng() % 40); k > 0; --k)
      key += static_cast<char>(1 + rng() % 255);
    int32_t b = HashIndex(t.get(), key.c_str());
    ASSERT_GE(b, 0);
    ASSERT_LT(b, 100);
    ASSERT_EQ(b, HashIndex(t.get(), key.c_str()));
  }
}

TEST(HashTable, SetGetReplaceAndDelete) {
  TablePtr t(HashCreate(65, 0));
  HashNode* n = HashSet(t.get(), "executeQuery", 11);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(HashGet(t.get(), "executeQuery"), 11u);
  EXPECT_EQ(HashGet(t.get(), "executequery"), 0u) << "string keys are case-sensitive";
  EXPECT_EQ(HashGet(t.get(), "absent"), 0u);

  int before = t->collisions;
  EXPECT_EQ(HashSet(t.get(), "executeQuery", 12), n) << "replacing keeps the node";
  EXPECT_EQ(HashGet(t.get(), "executeQuery"), 12u);
  EXPECT_EQ(t->entries, 1);
  EXPECT_EQ(t->collisions, before);

  // The table keeps its own copy of the key.
  char key[] = "temp";
  HashSet(t.get(), key, 5);
  key[0] = 'X';
  EXPECT_EQ(HashGet(t.get(), "temp"), 5u);

  EXPECT_EQ(HashDelete(t.get(), "executeQuery"), 1);
  EXPECT_EQ(HashDelete(t.get(), "executeQuery"), 0);
  EXPECT_EQ(HashFindNode(t.get(), "executeQuery"), nullptr);
  EXPECT_EQ(t->entries, 1);
}

TEST(HashTable, CollisionCounterFollowsSharedBuckets) {
  TablePtr t(HashCreate(1, 0));
  HashSet(t.get(), "one", 1);
  EXPECT_EQ(t->collisions, 0);
  HashSet(t.get(), "two", 2);
  EXPECT_EQ(t->collisions, 1);
  EXPECT_EQ(HashDelete(t.get(), "one"), 1);
  EXPECT_EQ(t->collisions, 0);
  EXPECT_EQ(HashDelete(t.get(), "two"), 1);
  EXPECT_EQ(t->collisions, 0);
  EXPECT_EQ(t->entries, 0);
}

TEST(HashTable, UnlinkHandsTheNodeToTheCaller) {
  TablePtr t(HashCreate(7, 0));
  HashSet(t.get(), "k", 99);
  HashNode* n = HashUnlinkNode(t.get(), "k");
  ASSERT_NE(n, nullptr);
  EXPECT_STREQ(static_cast<char*>(n->key), "k");
  EXPECT_EQ(n->value, 99u);
  EXPECT_EQ(HashGet(t.get(), "k"), 0u);
  EXPECT_EQ(HashUnlinkNode(t.get(), "k"), nullptr);
  free(n->key);
  free(n);
}

TEST(HashTable, WalkVisitsBucketsInOrderNewestFirst) {
  TablePtr t(HashCreate(1, 0));
  for (const char* k : {"first", "second", "third"}) HashSet(t.get(), k, 1);
  std::vector<std::string> seen;
  HashWalk(t.get(),
           [](uint64_t, const void* key, void* user) {
             static_cast<std::vector<std::string>*>(user)->push_back(static_cast<const char*>(key));
             return 0;
           },
           &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"third", "second", "first"}));

  TablePtr many(HashCreate(100, 0));
  HashSet(many.get(), "AB", 2);  // bucket 86
  HashSet(many.get(), "A", 1);   // bucket 65
  std::vector<uint64_t> values;
  HashWalk(many.get(),
           [](uint64_t v, const void*, void* user) {
             static_cast<std::vector<uint64_t>*>(user)->push_back(v);
             return 0;
           },
           &values);
  EXPECT_EQ(values, (std::vector<uint64_t>{1, 2}));
}

TEST(HashTable, FixedLengthKeysCompareExactlyTheirBytes) {
  TablePtr t(HashCreate(101, 4));
  const unsigned char k1[6] = {1, 2, 3, 4, 0xAA, 0xBB};
  const unsigned char k2[6] = {1, 2, 3, 5, 0xAA, 0xBB};
  const unsigned char k1tail[6] = {1, 2, 3, 4, 0x11, 0x22};
  const unsigned char zeros[4] = {0, 0, 0, 0};
  HashSet(t.get(), k1, 10);
  HashSet(t.get(), k2, 20);
  HashSet(t.get(), zeros, 30);  // embedded NULs are key bytes, not terminators
  EXPECT_EQ(HashGet(t.get(), k1), 10u);
  EXPECT_EQ(HashGet(t.get(), k2), 20u);
  EXPECT_EQ(HashGet(t.get(), k1tail), 10u) << "bytes beyond the key length are ignored";
  EXPECT_EQ(HashGet(t.get(), zeros), 30u);
  EXPECT_EQ(t->entries, 3);
  EXPECT_EQ(HashDelete(t.get(), k1tail), 1);
  EXPECT_EQ(HashGet(t.get(), k1), 0u);
}

// Random inserts, replacements and deletions, checked against std::map,
// for string keys and for 8-byte keys (as the Java bridge uses).
TEST(HashTable, BehavesLikeAMapUnderRandomOperations) {
  std::mt19937 rng(11);
  TablePtr strings(HashCreate(13, 0));
  TablePtr fixed(HashCreate(1024, 8));
  std::map<std::string, uint64_t> sm;
  std::map<uint64_t, uint64_t> fm;
  for (int op = 0; op < 20000; ++op) {
    uint64_t k = rng() % 300;
    std::string sk = "key" + std::to_string(k);
    uint64_t v = rng() | 1;
    if (rng() % 3) {
      ASSERT_NE(HashSet(strings.get(), sk.c_str(), v), nullptr);
      ASSERT_NE(HashSet(fixed.get(), &k, v), nullptr);
      sm[sk] = v;
      fm[k] = v;
    } else {
      ASSERT_EQ(HashDelete(strings.get(), sk.c_str()), static_cast<int>(sm.erase(sk)));
      ASSERT_EQ(HashDelete(fixed.get(), &k), static_cast<int>(fm.erase(k)));
    }
  }
  EXPECT_EQ(strings->entries, static_cast<int32_t>(sm.size()));
  EXPECT_EQ(fixed->entries, static_cast<int32_t>(fm.size()));
  for (uint64_t k = 0; k < 300; ++k) {
    std::string sk = "key" + std::to_string(k);
    EXPECT_EQ(HashGet(strings.get(), sk.c_str()), sm.count(sk) ? sm[sk] : 0u);
    EXPECT_EQ(HashGet(fixed.get(), &k), fm.count(k) ? fm[k] : 0u);
  }
  // Collisions never go negative and never exceed entries.
  EXPECT_GE(strings->collisions, 0);
  EXPECT_LE(strings->collisions, strings->entries);
}

TEST(HashTable, PrintStatsLine) {
  TablePtr t(HashCreate(4, 0));
  char buf[256] = {};
  FILE* f = fmemopen(buf, sizeof buf - 1, "w");
  HashPrintStats(t.get(), f);
  fflush(f);
  EXPECT_STREQ(buf, "size=4, entries=0, colls=0, %full=0.000000, %coll=0.000000\n");
  fclose(f);

  TablePtr one(HashCreate(1, 0));
  for (const char* k : {"a", "b", "c"}) HashSet(one.get(), k, 1);
  memset(buf, 0, sizeof buf);
  f = fmemopen(buf, sizeof buf - 1, "w");
  HashPrintStats(one.get(), f);
  fflush(f);
  // 2 collisions of 3 entries: 66 in integer division.
  EXPECT_STREQ(buf, "size=1, entries=3, colls=2, %full=300.000000, %coll=66.000000\n");
  fclose(f);
}

}  // namespace
}  // namespace kx
