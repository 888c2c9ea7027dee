#include "fasthash/pool.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/heap.h"
#include "platform/sanitizer.h"
#include "test_support.h"

namespace linemint::fasthash {
namespace {

// Heap calls made by the pool, counted through the record's entry points.
int pageAllocations = 0;
int heapFrees = 0;

void* countingAllocate(platform::HeapHandle heap, uint32_t flags, std::size_t size) noexcept {
  if (size == kPoolPageSize) ++pageAllocations;
  return platform::heapAllocate(heap, flags, size);
}
int countingFree(platform::HeapHandle heap, uint32_t flags, void* block) noexcept {
  ++heapFrees;
  return platform::heapFree(heap, flags, block);
}

// A bare record with a private heap and a pool, as create would leave it.
class PoolTest : public testing::Test {
 protected:
  void SetUp() override {
    r_ = FastTableRecord{};
    r_.heap = platform::heapCreate();
    ASSERT_NE(r_.heap, nullptr);
    r_.allocateHeap = &countingAllocate;
    r_.freeHeap = &countingFree;
    r_.reallocateHeap = &platform::heapReallocate;
    initPool(r_);
    ASSERT_NE(r_.pool, nullptr);
    pageAllocations = 0;
    heapFrees = 0;
  }
  void TearDown() override { platform::heapDestroy(r_.heap); }

  void expectValid() { EXPECT_STREQ(validatePool(r_, nullptr), nullptr); }
  uint32_t partial(uint32_t c) { return poolListLength(r_.pool, PoolList::partial, c); }
  uint32_t full(uint32_t c) { return poolListLength(r_.pool, PoolList::full, c); }
  uint32_t cached() { return poolListLength(r_.pool, PoolList::cache, 0); }
  PoolPage* firstPartial(uint32_t c) {
    const uint32_t ref = r_.pool->classes[c].partialPages;
    return ref == 0 ? nullptr : poolPage(r_.pool, ref);
  }

  FastTableRecord r_{};
};

TEST_F(PoolTest, ClassBoundaries) {
  struct Case {
    uint32_t request;
    uint32_t blockSize;
  } cases[] = {{0, 8},     {1, 8},     {8, 8},     {9, 16},    {64, 64},     {65, 80},
               {256, 256}, {257, 288}, {512, 512}, {513, 576}, {1024, 1024}};
  for (const Case& c : cases) {
    const uint32_t cls = poolClassOf(c.request);
    EXPECT_EQ(poolBlockSize(cls), c.blockSize) << c.request;
    void* block = poolAllocate(r_, c.request);
    ASSERT_NE(block, nullptr);
    // The block's page is the first partial page of that class.
    EXPECT_EQ(pageOfBlock(block), firstPartial(cls)) << c.request;
  }
  // Above 1024 bytes the heap serves the request directly: no page.
  const int pagesBefore = pageAllocations;
  void* large = poolAllocate(r_, 1025);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(pageAllocations, pagesBefore);
  for (uint32_t c = 0; c < kPoolClassCount; ++c) EXPECT_NE(pageOfBlock(large), firstPartial(c));
  poolFree(r_, large, 1025);
  EXPECT_EQ(heapFrees, 1);
  expectValid();
}

TEST_F(PoolTest, SmallestClassThatHolds) {
  for (uint32_t n = 1; n <= kPoolLargestBlock; ++n) {
    const uint32_t c = poolClassOf(n);
    ASSERT_GE(poolBlockSize(c), n);
    if (c > 0) {
      ASSERT_LT(poolBlockSize(c - 1), n);
    }
  }
}

// Every class: capacity blocks fill one page in slot order, every block
// within the page; one more starts a second page.
TEST_F(PoolTest, EveryClassCapacityAndSlotOrder) {
  const uint32_t capacities[kPoolClassCount] = {1024, 813, 581, 452, 370, 313, 272, 239, 194, 162, 140, 123,
                                                109,  98,  90,  82,  76,  70,  66,  62,  55,  49,  45,  41,
                                                38,   35,  32,  30,  27,  24,  22,  20,  18,  17,  15,  14};
  for (uint32_t c = 0; c < kPoolClassCount; ++c) {
    const uint32_t size = poolBlockSize(c);
    ASSERT_EQ(poolCapacity(c), capacities[c]);
    const int pagesBefore = pageAllocations;
    std::vector<char*> blocks;
    for (uint32_t i = 0; i < capacities[c]; ++i) {
      auto* b = static_cast<char*>(poolAllocate(r_, size));
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(poolSlotIndex(b, c), i) << "class " << c;
      if (!blocks.empty()) {
        ASSERT_EQ(pageOfBlock(b), pageOfBlock(blocks[0]));
      }
      // The whole block lies inside the page.
      ASSERT_LE(b + size, reinterpret_cast<char*>(pageOfBlock(b)) + kPoolPageSize);
      blocks.push_back(b);
    }
    EXPECT_EQ(pageAllocations, pagesBefore + 1) << "class " << c;
    EXPECT_EQ(full(c), 1u);
    EXPECT_EQ(partial(c), 0u);
    void* extra = poolAllocate(r_, size);
    EXPECT_NE(pageOfBlock(extra), pageOfBlock(blocks[0]));
    EXPECT_EQ(pageAllocations, pagesBefore + 2);
    EXPECT_EQ(partial(c), 1u);
    expectValid();
  }
}

// Blocks of one page never overlap, and writing a whole block leaves its
// neighbours intact.
TEST_F(PoolTest, BlocksAreDisjoint) {
  for (const uint32_t size : {8u, 16u, 40u, 1000u}) {
    std::vector<unsigned char*> blocks;
    for (uint32_t i = 0; i < 40; ++i) {
      auto* b = static_cast<unsigned char*>(poolAllocate(r_, size));
      std::memset(b, static_cast<int>(i), size);
      blocks.push_back(b);
    }
    for (uint32_t i = 0; i < blocks.size(); ++i)
      for (uint32_t k = 0; k < size; ++k) ASSERT_EQ(blocks[i][k], static_cast<unsigned char>(i));
  }
  expectValid();
}

TEST_F(PoolTest, FreedBlockComesBackFirst) {
  std::vector<void*> blocks;
  for (int i = 0; i < 1024; ++i) blocks.push_back(poolAllocate(r_, 8));
  ASSERT_EQ(full(0), 1u);
  poolFree(r_, blocks[5], 8);
  EXPECT_EQ(full(0), 0u);
  EXPECT_EQ(firstPartial(0), pageOfBlock(blocks[5]));
  EXPECT_EQ(poolAllocate(r_, 8), blocks[5]);
  EXPECT_EQ(full(0), 1u);
  // The lowest free slot wins, whatever the order of release.
  poolFree(r_, blocks[900], 8);
  poolFree(r_, blocks[37], 8);
  poolFree(r_, blocks[600], 8);
  EXPECT_EQ(poolAllocate(r_, 8), blocks[37]);
  EXPECT_EQ(poolAllocate(r_, 8), blocks[600]);
  EXPECT_EQ(poolAllocate(r_, 8), blocks[900]);
  expectValid();
}

TEST_F(PoolTest, ThousandByteRequestsFillTheLargestClass) {
  std::vector<void*> blocks;
  for (int i = 0; i < 14; ++i) blocks.push_back(poolAllocate(r_, 1000));
  EXPECT_EQ(pageAllocations, 1);
  EXPECT_EQ(full(35), 1u);
  void* fifteenth = poolAllocate(r_, 1000);
  EXPECT_EQ(pageAllocations, 2);
  EXPECT_NE(pageOfBlock(fifteenth), pageOfBlock(blocks[0]));
  expectValid();
}

// A small class keeps its only empty page; the next allocation reuses it
// without a heap call.
TEST_F(PoolTest, SmallClassKeepsItsLastEmptyPage) {
  for (const uint32_t size : {8u, 128u}) {
    std::vector<void*> blocks;
    for (int i = 0; i < 10; ++i) blocks.push_back(poolAllocate(r_, size));
    const int pages = pageAllocations;
    for (void* b : blocks) poolFree(r_, b, size);
    const uint32_t c = poolClassOf(size);
    EXPECT_EQ(partial(c), 1u) << size;
    EXPECT_EQ(firstPartial(c)->used, 0u);
    EXPECT_EQ(cached(), 0u);
    expectValid();
    EXPECT_EQ(poolAllocate(r_, size), blocks[0]);
    EXPECT_EQ(pageAllocations, pages);
  }
  EXPECT_EQ(heapFrees, 0);
}

// A page's life: partial, full, partial again, empty, then cached (a class
// above 128 bytes keeps nothing), reused by another class from the cache,
// and handed back once six pages are cached.
TEST_F(PoolTest, PageLifeFromPartialToHandedBack) {
  const uint32_t c = poolClassOf(1024);
  std::vector<void*> blocks;
  blocks.push_back(poolAllocate(r_, 1024));
  EXPECT_EQ(partial(c), 1u);
  for (int i = 1; i < 14; ++i) blocks.push_back(poolAllocate(r_, 1024));
  EXPECT_EQ(partial(c), 0u);
  EXPECT_EQ(full(c), 1u);
  poolFree(r_, blocks[3], 1024);
  EXPECT_EQ(partial(c), 1u);
  EXPECT_EQ(full(c), 0u);
  for (int i = 0; i < 14; ++i) {
    if (i != 3) poolFree(r_, blocks[i], 1024);
  }
  EXPECT_EQ(partial(c), 0u);
  EXPECT_EQ(cached(), 1u);
  EXPECT_EQ(r_.pool->cachedPageCount, 1u);
  expectValid();

  // Another class takes the cached page without a heap call.
  const int pages = pageAllocations;
  void* small = poolAllocate(r_, 24);
  EXPECT_EQ(pageOfBlock(small), pageOfBlock(blocks[0]));
  EXPECT_EQ(pageAllocations, pages);
  EXPECT_EQ(cached(), 0u);
  poolFree(r_, small, 24);  // the only page of a small class stays
  EXPECT_EQ(cached(), 0u);

  // Seven pages of 1024-byte blocks emptied one after another: six are
  // cached, the seventh goes back to the heap.
  std::vector<std::vector<void*>> pagesOfBlocks(7);
  for (auto& page : pagesOfBlocks)
    for (int i = 0; i < 14; ++i) page.push_back(poolAllocate(r_, 1024));
  EXPECT_EQ(full(c), 7u);
  heapFrees = 0;
  for (auto& page : pagesOfBlocks)
    for (void* b : page) poolFree(r_, b, 1024);
  EXPECT_EQ(cached(), 6u);
  EXPECT_EQ(r_.pool->cachedPageCount, 6u);
  EXPECT_EQ(heapFrees, 1);
  EXPECT_EQ(partial(c) + full(c), 0u);
  expectValid();
}

// A page that is not the only partial page of a small class leaves when it
// empties, even with small blocks.
TEST_F(PoolTest, EmptyPageThatIsNotAloneLeavesASmallClass) {
  std::vector<void*> first, second;
  for (int i = 0; i < 1024; ++i) first.push_back(poolAllocate(r_, 8));
  second.push_back(poolAllocate(r_, 8));  // second page, partial
  poolFree(r_, first[0], 8);              // first page back to partial: two partial pages
  EXPECT_EQ(partial(0), 2u);
  for (int i = 1; i < 1024; ++i) poolFree(r_, first[i], 8);
  EXPECT_EQ(partial(0), 1u);
  EXPECT_EQ(cached(), 1u);
  expectValid();
}

// Pages leave the middle of a partial and of a full list without disturbing
// the others.
TEST_F(PoolTest, RemovalFromTheMiddleOfAList) {
  const uint32_t c = poolClassOf(1024);
  std::vector<std::vector<void*>> pages(4);
  for (auto& page : pages)
    for (int i = 0; i < 14; ++i) page.push_back(poolAllocate(r_, 1024));
  ASSERT_EQ(full(c), 4u);
  // The full list is in reverse order of filling; take the second one off it.
  poolFree(r_, pages[2][0], 1024);
  EXPECT_EQ(full(c), 3u);
  EXPECT_EQ(partial(c), 1u);
  expectValid();
  // Make three partial pages, then empty the middle one.
  poolFree(r_, pages[1][0], 1024);
  poolFree(r_, pages[0][0], 1024);
  ASSERT_EQ(partial(c), 3u);  // pages 0, 1, 2 in that order
  for (int i = 1; i < 14; ++i) poolFree(r_, pages[1][i], 1024);
  EXPECT_EQ(partial(c), 2u);
  EXPECT_EQ(full(c), 1u);
  EXPECT_EQ(cached(), 1u);
  expectValid();
  // The survivors still serve blocks: the first partial page is page 0.
  EXPECT_EQ(poolAllocate(r_, 1024), pages[0][0]);
  expectValid();
}

TEST_F(PoolTest, NullIsIgnoredAndZeroBytesIsEight) {
  poolFree(r_, nullptr, 8);
  poolFree(r_, nullptr, 5000);
  EXPECT_EQ(heapFrees, 0);
  void* a = poolAllocate(r_, 0);
  void* b = poolAllocate(r_, 8);
  EXPECT_EQ(pageOfBlock(a), pageOfBlock(b));
  poolFree(r_, a, 0);
  EXPECT_EQ(poolAllocate(r_, 8), a);
  expectValid();
}

// Many pages: references are reused after pages go back to the heap and
// the directory grows beyond its first size.
TEST_F(PoolTest, ManyPagesComeAndGo) {
  for (int round = 0; round < 3; ++round) {
    std::vector<void*> blocks;
    for (int i = 0; i < 14 * 150; ++i) blocks.push_back(poolAllocate(r_, 1024));
    expectValid();
    for (void* b : blocks) poolFree(r_, b, 1024);
    expectValid();
  }
  EXPECT_LE(r_.pool->directoryUsed, 150u + 6u);
}

#if defined(LINEMINT_ASAN)
TEST_F(PoolTest, FreedBlockIsPoisoned) {
  auto* keep = static_cast<char*>(poolAllocate(r_, 40));
  auto* b = static_cast<char*>(poolAllocate(r_, 40));
  poolFree(r_, b, 40);
  EXPECT_TRUE(__asan_address_is_poisoned(b + 8));
  EXPECT_FALSE(__asan_address_is_poisoned(keep));
  EXPECT_DEATH({ b[8] = 1; }, "use-after-poison");
}
#endif

}  // namespace
}  // namespace linemint::fasthash
