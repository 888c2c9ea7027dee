// Every block a SharedHashTable owns (state, record, bucket array, nodes,
// stored copies) goes through these two calls, so that a test can make the
// n-th allocation fail and check that nothing is lost or half-changed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/heap.h"

namespace linemint {

// A zero-filled block of `size` bytes from heap, or null when memory runs out
// (or the failure seam below says so).
void* allocateTableBlock(platform::HeapHandle heap, std::size_t size) noexcept;

// Gives a block back to heap; null is ignored.
void freeTableBlock(platform::HeapHandle heap, void* block) noexcept;

// Test seam: after `allowed` more successful table allocations, every further
// one fails until the seam is cleared with a negative value (the default).
// Process-wide; for single-threaded tests.
void failTableAllocationsAfterForTesting(int64_t allowed) noexcept;

// Test seam: the number of table allocations made so far in the process.
int64_t tableAllocationCountForTesting() noexcept;

// Test seam: table blocks allocated and not yet freed, process-wide. A table
// that has been freed entirely brings this back to what it was before.
int64_t tableBlocksInUseForTesting() noexcept;

}  // namespace linemint
