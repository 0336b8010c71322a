#include "util/handle_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "util/errcodes.h"

namespace kx {
namespace {

class HandleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(HT_Init(&table_, 3), KX_OK); }
  void TearDown() override { HT_Destroy(&table_); }

  uint32_t Alloc(void* object) {
    uint32_t h = 0xDEADBEEF;
    EXPECT_EQ(HT_Alloc(&table_, &h, object), KX_OK);
    return h;
  }

  HandleTable table_{};
  int objects_[20] = {};
};

TEST_F(HandleTableTest, HandsOutIndicesInOrderWithTheTagAbove) {
  EXPECT_EQ(table_.capacity, 5);
  EXPECT_EQ(table_.free, 5);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(Alloc(&objects_[i]), 0x00030000u | i);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(HT_Lookup(&table_, 0x00030000u | i), &objects_[i]);
}

TEST_F(HandleTableTest, GrowsByFiveAndReusesTheLowestFreedIndex) {
  uint32_t h[7];
  for (int i = 0; i < 6; ++i) h[i] = Alloc(&objects_[i]);
  EXPECT_EQ(table_.capacity, 10);
  EXPECT_EQ(table_.free, 4);
  EXPECT_EQ(h[5], 0x00030005u);
  // Objects stored before the growth survive the move to the larger array.
  for (int i = 0; i < 6; ++i) EXPECT_EQ(HT_Lookup(&table_, h[i]), &objects_[i]);

  HT_Release(&table_, h[4]);
  HT_Release(&table_, h[2]);
  EXPECT_EQ(table_.free, 6);
  EXPECT_EQ(HT_Lookup(&table_, h[2]), nullptr);
  h[6] = Alloc(&objects_[10]);
  EXPECT_EQ(h[6], h[2]) << "lowest free index first, same handle value as before";
  EXPECT_EQ(HT_Lookup(&table_, h[6]), &objects_[10]);
  EXPECT_EQ(Alloc(&objects_[11]), h[4]);
}

TEST_F(HandleTableTest, ForeignStaleAndOutOfRangeHandlesLookUpToNull) {
  uint32_t h = Alloc(&objects_[0]);
  HandleTable other{};
  ASSERT_EQ(HT_Init(&other, 4), KX_OK);
  uint32_t foreign = 0;
  ASSERT_EQ(HT_Alloc(&other, &foreign, &objects_[1]), KX_OK);
  EXPECT_EQ(foreign, 0x00040000u);

  EXPECT_EQ(HT_Lookup(&table_, foreign), nullptr) << "handle of another table";
  EXPECT_EQ(HT_Lookup(&other, h), nullptr);
  EXPECT_EQ(HT_Lookup(&table_, 0x00030000u | table_.capacity), nullptr) << "index at capacity";
  EXPECT_EQ(HT_Lookup(&table_, 0x0003FFFFu), nullptr);
  EXPECT_EQ(HT_Lookup(&table_, 0x00030001u), nullptr) << "never issued";
  EXPECT_EQ(HT_Lookup(&table_, 0), nullptr);
  EXPECT_EQ(HT_Lookup(nullptr, h), nullptr);

  // Releasing a foreign handle must not free our entry at the same index.
  HT_Release(&table_, foreign);
  EXPECT_EQ(HT_Lookup(&table_, h), &objects_[0]);
  HT_Release(&table_, h);
  EXPECT_EQ(HT_Lookup(&table_, h), nullptr) << "released";
  HT_Destroy(&other);
}

TEST_F(HandleTableTest, ReleasingTwiceCountsOnce) {
  uint32_t h = Alloc(&objects_[0]);
  Alloc(&objects_[1]);
  EXPECT_EQ(table_.free, 3);
  HT_Release(&table_, h);
  HT_Release(&table_, h);
  HT_Release(&table_, 0x00030000u | 4);  // issued never: still free
  HT_Release(&table_, 0x0003FFFFu);      // beyond the capacity
  HT_Release(nullptr, h);
  EXPECT_EQ(table_.free, 4);
}

TEST(HandleTable, TagComesFromTheLowSixteenBits) {
  struct Case {
    uint32_t value;
    uint32_t firstHandle;
  } cases[] = {{1, 0x00010000u}, {0x0DBCAAAA, 0xAAAA0000u}, {0x0DBCCCCC, 0xCCCC0000u},
               {0x00010000, 0xFFFF0000u}, {0, 0xFFFF0000u}};
  for (const auto& c : cases) {
    HandleTable t{};
    ASSERT_EQ(HT_Init(&t, c.value), KX_OK);
    uint32_t h = 0;
    int obj = 0;
    ASSERT_EQ(HT_Alloc(&t, &h, &obj), KX_OK);
    EXPECT_EQ(h, c.firstHandle) << std::hex << c.value;
    EXPECT_EQ(HT_Lookup(&t, h), &obj);
    HT_Destroy(&t);
  }
}

TEST(HandleTable, ZeroedOrDestroyedTableGivesNothing) {
  HandleTable t{};
  int obj = 0;
  uint32_t h = 123;
  EXPECT_EQ(HT_Lookup(&t, 0), nullptr);
  EXPECT_EQ(HT_Alloc(&t, &h, &obj), KX_ERR_GENERAL) << "not initialised";
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(HT_Alloc(nullptr, &h, &obj), KX_ERR_GENERAL);

  ASSERT_EQ(HT_Init(&t, 2), KX_OK);
  ASSERT_EQ(HT_EnableLocking(&t), KX_OK);
  ASSERT_EQ(HT_Alloc(&t, &h, &obj), KX_OK);
  HT_Destroy(&t);
  EXPECT_EQ(HT_Lookup(&t, h), nullptr);
  EXPECT_EQ(t.capacity, 0);
  EXPECT_EQ(t.entries, nullptr);
  EXPECT_EQ(t.locking, 0);
  // Init on a used table starts it over.
  ASSERT_EQ(HT_Init(&t, 2), KX_OK);
  ASSERT_EQ(HT_Alloc(&t, &h, &obj), KX_OK);
  ASSERT_EQ(HT_Init(&t, 2), KX_OK);
  EXPECT_EQ(HT_Lookup(&t, h), nullptr);
  EXPECT_EQ(t.free, 5);
  HT_Destroy(&t);
}

TEST(HandleTable, StopsAt65535Entries) {
  // Filling 65530 entries one by one costs a scan per allocation; start from a
  // table already holding them (as a long-running process would) and let the
  // table itself grow to the limit.
  HandleTable t{};
  ASSERT_EQ(HT_Init(&t, 3), KX_OK);
  int obj = 0;
  constexpr uint16_t kStart = 65530;
  auto* entries = static_cast<HandleEntry*>(calloc(kStart, sizeof(HandleEntry)));
  ASSERT_NE(entries, nullptr);
  for (uint32_t i = 0; i < kStart; ++i) entries[i] = HandleEntry{3, &obj};
  free(t.entries);
  t.entries = entries;
  t.capacity = kStart;
  t.free = 0;

  uint32_t h = 0;
  for (uint32_t i = kStart; i < 65535; ++i) {
    ASSERT_EQ(HT_Alloc(&t, &h, &obj), KX_OK) << i;
    ASSERT_EQ(h, 0x00030000u | i);
  }
  EXPECT_EQ(t.capacity, 65535);
  EXPECT_EQ(HT_Lookup(&t, 0x0003FFFEu), &obj) << "index 65534 is the last";
  EXPECT_EQ(HT_Alloc(&t, &h, &obj), KX_ERR_TOO_MANY_HANDLES);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(t.capacity, 65535);
  EXPECT_EQ(t.free, 0);
  // A released entry can be had again, the limit notwithstanding.
  HT_Release(&t, 0x00030000u | 40000);
  ASSERT_EQ(HT_Alloc(&t, &h, &obj), KX_OK);
  EXPECT_EQ(h, 0x00030000u | 40000);
  HT_Destroy(&t);
}

// With locking on, allocations that grow the entry array run beside lookups
// and releases; a lookup or release reading the array outside the lock would
// read a freed array (AddressSanitizer) or lose entries.
TEST(HandleTable, LockedTableServesManyThreads) {
  HandleTable t{};
  ASSERT_EQ(HT_Init(&t, 4), KX_OK);
  ASSERT_EQ(HT_EnableLocking(&t), KX_OK);
  constexpr int kThreads = 4, kRounds = 300, kHeld = 20;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      std::vector<int> objects(kHeld);
      for (int round = 0; round < kRounds; ++round) {
        uint32_t handles[kHeld];
        for (int k = 0; k < kHeld; ++k)
          if (HT_Alloc(&t, &handles[k], &objects[k]) != KX_OK) ++failures[id];
        for (int k = 0; k < kHeld; ++k)
          if (HT_Lookup(&t, handles[k]) != &objects[k]) ++failures[id];
        for (int k = 0; k < kHeld; ++k) HT_Release(&t, handles[k]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int id = 0; id < kThreads; ++id) EXPECT_EQ(failures[id], 0) << "thread " << id;
  EXPECT_EQ(t.free, t.capacity);
  HT_Lock(&t);  // recursive: the owner may lock again and still use the table
  int obj = 0;
  uint32_t h = 0;
  EXPECT_EQ(HT_Alloc(&t, &h, &obj), KX_OK);
  HT_Unlock(&t);
  HT_Destroy(&t);
}

}  // namespace
}  // namespace kx
