#include "util/mem_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kx {
namespace {

size_t ChunkSize(const MemPoolChunk* c) {
  return static_cast<size_t>(c->end - reinterpret_cast<const char*>(c));
}
bool Aligned16(const void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

class MemPoolTest : public ::testing::Test {
 protected:
  void TearDown() override { mpl_free_all(&pool_); }
  MemPool pool_{};
};

TEST_F(MemPoolTest, SmallObjectTakesOneChunkAndNextObjectStartsAligned) {
  mpl_append(&pool_, "0123456789", 10);
  ASSERT_NE(pool_.head, nullptr);
  EXPECT_EQ(ChunkSize(pool_.head), 4096u);
  EXPECT_EQ(pool_.head->prev, nullptr);
  size_t size = 0;
  char* first = mpl_finish_size(&pool_, &size);
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(Aligned16(first));
  EXPECT_EQ(memcmp(first, "0123456789", 10), 0);
  EXPECT_EQ(first[10], '\0') << "chunks are zeroed";
  char* second = mpl_append(&pool_, "x", 1);
  EXPECT_EQ(second, first + 16);
}

TEST_F(MemPoolTest, ChunkSizesAreMultiplesOf4096) {
  struct Case {
    size_t append;
    size_t chunk;
  } cases[] = {{1, 4096}, {3996, 4096}, {3997, 8192}, {5000, 8192}, {20000, 20480}};
  for (const auto& c : cases) {
    MemPool p{};
    std::string bytes(c.append, 'q');
    char* at = mpl_append(&p, bytes.data(), bytes.size());
    EXPECT_EQ(ChunkSize(p.head), c.chunk) << c.append;
    EXPECT_EQ(std::string(at, c.append), bytes);
    EXPECT_LT(p.objEnd, p.limit);
    mpl_free_all(&p);
  }
}

TEST_F(MemPoolTest, ByteByByteObjectMovesAndLeavesNoEmptyChunk) {
  for (int i = 0; i < 4079; ++i) mpl_append_byte(&pool_, static_cast<char>('a' + i % 26));
  MemPoolChunk* first = pool_.head;
  EXPECT_EQ(ChunkSize(first), 4096u);
  mpl_append_byte(&pool_, 'Z');  // the 4080th byte would reach the limit
  ASSERT_NE(pool_.head, first);
  EXPECT_EQ(ChunkSize(pool_.head), 8192u);
  EXPECT_EQ(pool_.head->prev, nullptr) << "the chunk that held only the object is freed";
  EXPECT_EQ(mpl_object_size(&pool_), 4080u);
  for (int i = 0; i < 4079; ++i) ASSERT_EQ(pool_.objStart[i], 'a' + i % 26) << i;
  EXPECT_EQ(pool_.objStart[4079], 'Z');
}

TEST_F(MemPoolTest, ClosedObjectsKeepTheirAddressWhenTheNextOneMoves) {
  char* closed = mpl_append(&pool_, "keep", 5);
  mpl_finish(&pool_);
  MemPoolChunk* first = pool_.head;
  std::string big(6000, 'b');
  mpl_append(&pool_, big.data(), 100);
  mpl_append(&pool_, big.data(), big.size());  // moves the 100 bytes to a new chunk
  EXPECT_NE(pool_.head, first);
  EXPECT_EQ(pool_.head->prev, first) << "the old chunk still holds a closed object";
  EXPECT_STREQ(closed, "keep");
  EXPECT_EQ(mpl_object_size(&pool_), 6100u);
  char* moved = mpl_finish(&pool_);
  EXPECT_EQ(std::string(moved, 6100), std::string(6100, 'b'));
}

TEST_F(MemPoolTest, FreeToCutsBackAndNullDropsOnlyTheOpenObject) {
  char* a = mpl_append(&pool_, "alpha", 6);
  mpl_finish(&pool_);
  char* b = mpl_append(&pool_, "beta", 5);
  mpl_finish(&pool_);
  mpl_append(&pool_, "gam", 3);
  mpl_free_to(&pool_, nullptr);
  EXPECT_EQ(mpl_object_size(&pool_), 0u);
  EXPECT_STREQ(a, "alpha");
  EXPECT_STREQ(b, "beta");

  // Fill further chunks, then cut back to b: newer chunks go, b is rebuilt in place.
  MemPoolChunk* first = pool_.head;
  std::string big(10000, 'c');
  for (int i = 0; i < 3; ++i) {
    mpl_append(&pool_, big.data(), big.size());
    mpl_finish(&pool_);
  }
  EXPECT_NE(pool_.head, first);
  mpl_free_to(&pool_, b);
  EXPECT_EQ(pool_.head, first);
  EXPECT_EQ(pool_.objStart, b);
  EXPECT_EQ(mpl_object_size(&pool_), 0u);
  EXPECT_EQ(mpl_append(&pool_, "BETA", 5), b);
  EXPECT_STREQ(a, "alpha");

  int elsewhere = 0;
  mpl_free_to(&pool_, &elsewhere);  // held by no chunk: everything goes
  EXPECT_EQ(pool_.head, nullptr);
  EXPECT_EQ(pool_.objStart, nullptr);
}

TEST_F(MemPoolTest, FreeAllOnEmptyPoolLeavesItEmpty) {
  mpl_free_all(&pool_);
  EXPECT_EQ(pool_.head, nullptr);
  EXPECT_EQ(pool_.limit, nullptr);
  EXPECT_EQ(mpl_object_size(&pool_), 0u);
  mpl_free_to(&pool_, nullptr);
  EXPECT_EQ(pool_.head, nullptr);
}

TEST_F(MemPoolTest, ReserveAndAllocGiveAlignedBlocks) {
  char* r = mpl_reserve(&pool_, 5);
  EXPECT_TRUE(Aligned16(r));
  EXPECT_TRUE(Aligned16(pool_.objEnd));
  EXPECT_EQ(pool_.objEnd, r + 16);
  mpl_finish(&pool_);
  char* blocks[3];
  for (auto& blk : blocks) {
    blk = mpl_alloc(&pool_, 33);
    EXPECT_TRUE(Aligned16(blk));
    memset(blk, 0x5A, 33);
  }
  EXPECT_EQ(blocks[1], blocks[0] + 48);
  EXPECT_EQ(mpl_align(&pool_), pool_.objEnd);
}

// The string builder as callers use it: texts of mixed sizes appended in
// pieces and bytes, each closed and checked after everything was built.
TEST_F(MemPoolTest, BuildsManyTextsThatStayIntact) {
  std::mt19937 rng(7);
  std::vector<std::pair<const char*, std::string>> built;
  for (int n = 0; n < 400; ++n) {
    std::string expect;
    int pieces = static_cast<int>(rng() % 6);
    for (int k = 0; k < pieces; ++k) {
      std::string piece(rng() % 3000, static_cast<char>('A' + (n + k) % 26));
      mpl_append(&pool_, piece.data(), piece.size());
      expect += piece;
      char c = static_cast<char>('a' + k);
      mpl_append_byte(&pool_, c);
      expect += c;
    }
    mpl_append_byte(&pool_, '\0');
    const char* text = mpl_finish(&pool_);
    ASSERT_TRUE(Aligned16(text));
    built.emplace_back(text, expect);
  }
  for (const auto& [text, expect] : built) ASSERT_EQ(std::string(text), expect);
}

TEST(MemPoolDeathTest, ExhaustionEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MemPool p{};
        mpl_grow(&p, SIZE_MAX / 2);
      },
      ::testing::ExitedWithCode(1), "out of memory");
}

}  // namespace
}  // namespace kx
