#include "sharedhash/table_memory.h"

#include <atomic>

namespace linemint {
namespace {

// Relaxed atomics: the seam is only steered by single-threaded tests, but
// handles may be dropped on other threads and must not race on these.
std::atomic<int64_t> allowedAllocations{-1};
std::atomic<int64_t> allocationCount{0};
std::atomic<int64_t> blocksInUse{0};

}  // namespace

void* allocateTableBlock(platform::HeapHandle heap, std::size_t size) noexcept {
  if (allowedAllocations.load(std::memory_order_relaxed) >= 0) {
    if (allowedAllocations.load(std::memory_order_relaxed) == 0) return nullptr;
    allowedAllocations.fetch_sub(1, std::memory_order_relaxed);
  }
  void* block = platform::heapAllocate(heap, platform::kHeapZeroMemory, size);
  if (block != nullptr) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    blocksInUse.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void freeTableBlock(platform::HeapHandle heap, void* block) noexcept {
  if (block == nullptr) return;
  blocksInUse.fetch_sub(1, std::memory_order_relaxed);
  platform::heapFree(heap, 0, block);
}

void failTableAllocationsAfterForTesting(int64_t allowed) noexcept {
  allowedAllocations.store(allowed < 0 ? -1 : allowed, std::memory_order_relaxed);
}

int64_t tableAllocationCountForTesting() noexcept {
  return allocationCount.load(std::memory_order_relaxed);
}

int64_t tableBlocksInUseForTesting() noexcept {
  return blocksInUse.load(std::memory_order_relaxed);
}

}  // namespace linemint
