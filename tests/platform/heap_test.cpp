#include "platform/heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace linemint::platform {
namespace {

bool allZero(const void* p, std::size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (std::size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

class HeapTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { heap_ = GetParam() ? processHeap() : heapCreate(); }
  void TearDown() override { heapDestroy(heap_); }
  HeapHandle heap_ = nullptr;
};

// Reused blocks must come back zeroed when asked, across every size class and
// the large-block path.
TEST_P(HeapTest, ZeroFillHoldsForFreshAndReusedBlocks) {
  for (std::size_t size : std::initializer_list<std::size_t>{0, 1, 15, 16, 17, 128, 129, 4096, 16384, 100000, 1u << 20, (1u << 20) + 1, 3u << 20}) {
    for (int round = 0; round < 2; ++round) {
      void* p = heapAllocate(heap_, kHeapZeroMemory, size);
      ASSERT_NE(p, nullptr) << size;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
      EXPECT_GE(heapUsableSize(heap_, p), size);
      EXPECT_TRUE(allZero(p, size)) << size << " round " << round;
      std::memset(p, 0xAB, size);
      EXPECT_EQ(heapFree(heap_, 0, p), 1);
    }
  }
}

TEST_P(HeapTest, ReallocateKeepsContentsAndZeroesTheGrowth) {
  std::size_t size = 3;
  auto* p = static_cast<uint8_t*>(heapAllocate(heap_, 0, size));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abc", 3);
  for (std::size_t next : std::initializer_list<std::size_t>{5, 40, 300, 20000, 2u << 20, 5u << 20, 100, 7}) {
    auto* q = static_cast<uint8_t*>(heapReallocate(heap_, kHeapZeroMemory, p, next));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(std::memcmp(q, "abc", 3), 0) << next;
    if (next > size) {
      EXPECT_TRUE(allZero(q + size, next - size)) << size << " -> " << next;
    }
    p = q;
    size = next;
  }
  heapFree(heap_, 0, p);
}

TEST_P(HeapTest, NullBlockAndNullHeap) {
  EXPECT_EQ(heapFree(heap_, 0, nullptr), 1);
  void* p = heapReallocate(heap_, kHeapZeroMemory, nullptr, 24);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(allZero(p, 24));
  heapFree(heap_, 0, p);
  EXPECT_EQ(heapAllocate(nullptr, 0, 8), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothHeaps, HeapTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "process" : "private"; });

// The small-block pool relies on this: its 16 KiB pages find themselves by
// rounding an address down.
TEST(PrivateHeap, BlocksOfWholeSixteenKibAreSixteenKibAligned) {
  HeapHandle h = heapCreate();
  for (std::size_t size : std::initializer_list<std::size_t>{16384u, 32768u, 49152u, 65536u, 81920u, 2u << 20}) {
    for (int i = 0; i < 40; ++i) {
      void* p = heapAllocate(h, 0, size);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16384, 0u) << size;
      if (i % 3 == 0) heapFree(h, 0, p);
    }
  }
  heapDestroy(h);
}

// Many blocks of mixed sizes stay distinct and keep their contents; destroying
// the heap frees them all at once (LeakSanitizer and ASan watch this).
TEST(PrivateHeap, MixedWorkloadKeepsEveryBlockIntact) {
  HeapHandle h = heapCreate();
  std::mt19937 rng(7);
  struct Block { uint8_t* p; std::size_t n; uint8_t fill; };
  std::vector<Block> live;
  for (int step = 0; step < 20000; ++step) {
    if (!live.empty() && rng() % 3 == 0) {
      const std::size_t i = rng() % live.size();
      const Block b = live[i];
      for (std::size_t k = 0; k < b.n; ++k) ASSERT_EQ(b.p[k], b.fill);
      heapFree(h, 0, b.p);
      live[i] = live.back();
      live.pop_back();
    } else {
      const std::size_t n = (rng() % 8 == 0) ? rng() % 70000 : rng() % 200;
      auto* p = static_cast<uint8_t*>(heapAllocate(h, rng() % 2 ? kHeapZeroMemory : 0, n));
      ASSERT_NE(p, nullptr);
      const auto fill = static_cast<uint8_t>(step);
      std::memset(p, fill, n);
      live.push_back({p, n, fill});
    }
  }
  for (const Block& b : live)
    for (std::size_t k = 0; k < b.n; ++k) ASSERT_EQ(b.p[k], b.fill);
  heapDestroy(h);
}

TEST(HeapEntryPoints, ResolveFillsAllThree) {
  resolveHeapEntryPoints();
  ASSERT_NE(heapEntryPoints.allocateHeap, nullptr);
  ASSERT_NE(heapEntryPoints.reallocateHeap, nullptr);
  ASSERT_NE(heapEntryPoints.freeHeap, nullptr);
  void* p = heapEntryPoints.allocateHeap(processHeap(), kHeapZeroMemory, 10);
  p = heapEntryPoints.reallocateHeap(processHeap(), kHeapZeroMemory, p, 100);
  EXPECT_TRUE(allZero(p, 100));
  EXPECT_EQ(heapEntryPoints.freeHeap(processHeap(), 0, p), 1);
}

}  // namespace
}  // namespace linemint::platform
