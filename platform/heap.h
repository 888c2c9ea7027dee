// Heaps: the private heap of a table or of the pass, and the process heap.
//
// A private heap takes large chunks from the kernel with mmap, advises the large
// ones for transparent huge pages, and carves them into blocks of 60 size classes
// (16 bytes up to 1 MiB; each chunk serves one class). A block above 1 MiB gets a
// mapping of its own. Nothing is returned to the kernel before heapDestroy, which
// unmaps every chunk at once: its cost depends on the number of chunks, never on
// the number of blocks. A private heap takes no lock; one thread at a time.
//
// The process heap is malloc/free and serialises itself. What a table hands to
// its caller lives there.
//
// Guarantees that callers rely on:
//   * every block is 16-byte aligned;
//   * a block whose size is a multiple of 16384 starts at a multiple of 16384
//     (private heap only: the small-block pool finds a page by rounding down);
//   * kHeapZeroMemory delivers zero bytes; memory fresh from the kernel is not
//     touched to make it so, which keeps untouched pages free;
//   * bytes past a block's size up to its usable size are zero unless the caller
//     wrote there, so a zero-filling reallocate that grows a block delivers zero
//     bytes after the old size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linemint::platform {

struct Heap;
using HeapHandle = Heap*;

// Flag for allocate and reallocate: the new bytes arrive zero-filled.
inline constexpr uint32_t kHeapZeroMemory = 0x00000008;

// Makes a new, empty, growable private heap. Returns null when the kernel
// refuses the bookkeeping memory.
HeapHandle heapCreate() noexcept;

// Frees every block of a private heap and the heap itself in one step.
// REQUIRES: heap came from heapCreate and is not used afterwards. A null heap
// and the process heap are ignored.
void heapDestroy(HeapHandle heap) noexcept;

// The process heap (malloc/free). Never null; never destroyed.
HeapHandle processHeap() noexcept;

// Returns a block of at least size bytes, or null when memory runs out.
// A size of 0 gives a valid minimal block.
void* heapAllocate(HeapHandle heap, uint32_t flags, std::size_t size) noexcept;

// Resizes block to size bytes, moving it when needed; the first
// min(old size, size) bytes are kept. With kHeapZeroMemory the bytes after the
// old size are zero. A null block allocates. On failure returns null and leaves
// block as it was.
void* heapReallocate(HeapHandle heap, uint32_t flags, void* block, std::size_t size) noexcept;

// Gives block back to heap. Returns 1; a null block is ignored (also 1).
// REQUIRES: block came from this heap and is not used afterwards.
int heapFree(HeapHandle heap, uint32_t flags, void* block) noexcept;

// Bytes usable in block (at least the size it was asked with).
std::size_t heapUsableSize(HeapHandle heap, const void* block) noexcept;

// The three heap routines that tables copy into their records at creation and
// call from then on; they take the heap handle first, then the flags.
using AllocateHeapFn = void* (*)(HeapHandle heap, uint32_t flags, std::size_t size) noexcept;
using ReallocateHeapFn = void* (*)(HeapHandle heap, uint32_t flags, void* block,
                                   std::size_t size) noexcept;
using FreeHeapFn = int (*)(HeapHandle heap, uint32_t flags, void* block) noexcept;

// Layout: three function pointers, in this order.
struct HeapEntryPoints {
  AllocateHeapFn allocateHeap;
  ReallocateHeapFn reallocateHeap;
  FreeHeapFn freeHeap;
};

// Process-wide; all null until resolveHeapEntryPoints runs at start-up, read-only after.
extern HeapEntryPoints heapEntryPoints;

// Fills heapEntryPoints with the heap routines above. Idempotent.
void resolveHeapEntryPoints() noexcept;

}  // namespace linemint::platform
