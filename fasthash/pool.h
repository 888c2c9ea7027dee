// The small-block pool of a FastHashTable: nodes and value blocks of up to
// 1024 bytes come from 16 KiB pages of the table's private heap, each page
// serving one of 36 size classes and tracking its free blocks in a bitmap.
// Larger requests go straight to the heap. Allocation and release take
// constant time and never search.
//
// Pages are 16384-byte blocks of the private heap, which places them at
// multiples of 16384, so a block finds its page by rounding its address down.
// Page headers keep the 32-bit words of the classic layout: 64-bit pointers
// would not fit the header of class 1 (whose slots and bitmap leave exactly 20
// bytes), so lists are linked through 32-bit page references. A reference r
// (r >= 1; 0 is null) names entry r - 1 of the pool's page directory, an array
// of page addresses on the heap; a page keeps its reference from the moment it
// comes from the heap until it is handed back.
//
// Page states: on its class's partial list (0 < used < capacity, or used = 0
// for the kept last page of a class of blocks of 128 bytes or less), on its
// class's full list (used = capacity), on the cache list (used = 0, at most 6
// pages, any class), or handed back to the heap.
//
// Freed blocks and unused slots are poisoned for AddressSanitizer.
#pragma once

#include <cstdint>

#include "fasthash/record.h"

namespace linemint::fasthash {

inline constexpr uint32_t kPoolClassCount = 36;
inline constexpr uint32_t kPoolPageSize = 16384;
inline constexpr uint32_t kPoolLargestBlock = 1024;
inline constexpr uint32_t kPoolMaxCachedPages = 6;
// Classes whose blocks are this size or smaller keep their last empty page.
inline constexpr uint32_t kPoolKeptPageBlockSize = 128;

// Layout of one size class, six 32-bit fields:
//   blockSize     bytes handed out per block
//   pageSize      16384
//   capacity      blocks per page (fixed table, not computed)
//   bitmapWords   ceil(capacity / 32), at most 32
//   partialPages  reference of the first page with a free block, 0 for none
//   fullPages     reference of the first page without a free block, 0 for none
struct SizeClass {
  uint32_t blockSize;
  uint32_t pageSize;
  uint32_t capacity;
  uint32_t bitmapWords;
  uint32_t partialPages;
  uint32_t fullPages;
};

// Layout of the pool control block (on the private heap, zero-filled at start):
//   classes            36 SizeClass entries, ascending block size
//   cachedPageCount    32 bits, 0..6
//   cachedPages        32 bits, reference of the first cached page (linked through next)
//   directory          64-bit pointer to directoryCapacity 64-bit entries: a
//                      page address, or for a free reference (next free << 1) | 1
//   directoryCapacity  32 bits
//   directoryUsed      32 bits, entries ever handed out (references 1..directoryUsed)
//   freeReferences     32 bits, first free reference, 0 for none
//   pageCount          32 bits, pages the pool holds now (on any list)
struct SmallBlockPool {
  SizeClass classes[kPoolClassCount];
  uint32_t cachedPageCount;
  uint32_t cachedPages;
  uintptr_t* directory;
  uint32_t directoryCapacity;
  uint32_t directoryUsed;
  uint32_t freeReferences;
  uint32_t pageCount;
};

// Layout of a page header, five 32-bit words, then the bitmap and the slots:
//   next          reference of the next page on the same list, 0 at its end
//   backLink      the link that points at this page: 0x80000000 | list for a
//                 list head (list = 2 * class for partial, 2 * class + 1 for
//                 full), otherwise the reference of the page whose next field it is
//   blockArea     offset of the first slot from the page start (20 + 4 * bitmapWords)
//   used          blocks handed out
//   summary       bit w set: bitmap word w has a free block
//   bitmap        bitmapWords words; bit b of word w set: block 32w + b is free
//   slots         capacity slots of blockSize + 4 bytes: a 32-bit owner check
//                 word (the page's reference), then the block
struct PoolPage {
  uint32_t next;
  uint32_t backLink;
  uint32_t blockArea;
  uint32_t used;
  uint32_t summary;
  uint32_t bitmap[1];  // bitmapWords words in the page
};

inline constexpr uint32_t kPoolHeadTag = 0x80000000u;

// The size class that serves n bytes: the smallest whose block size is at
// least n (0 counts as 8). REQUIRES: n <= 1024.
uint32_t poolClassOf(uint32_t n) noexcept;

// Block size and capacity of class c from the fixed table. REQUIRES: c < 36.
uint32_t poolBlockSize(uint32_t c) noexcept;
uint32_t poolCapacity(uint32_t c) noexcept;

// Sets up the control block on r.heap through r.allocateHeap (zero-filled)
// and stores it in r.pool. Does nothing when r.heap is null; leaves r.pool
// null when the heap cannot supply the block.
void initPool(FastTableRecord& r) noexcept;

// A block of at least size bytes, valid until poolFree or the heap's end;
// its contents are not cleared. Null when the heap cannot supply a page (or,
// above 1024 bytes, the block); the pool is then unchanged.
// REQUIRES: r.pool set up.
void* poolAllocate(FastTableRecord& r, uint32_t size) noexcept;

// Gives back a block of poolAllocate; size must be the size it was asked
// with, since it selects the class. A null block is ignored. An emptied page
// stays (last page of a small class), goes to the cache, or back to the heap.
void poolFree(FastTableRecord& r, void* block, uint32_t size) noexcept;

// The page that holds a pooled block (blocks of 1024 bytes or less).
inline PoolPage* pageOfBlock(const void* block) noexcept {
  return reinterpret_cast<PoolPage*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t{kPoolPageSize - 1});
}

// The page of reference ref. REQUIRES: ref names a page the pool holds.
inline PoolPage* poolPage(const SmallBlockPool* pool, uint32_t ref) noexcept {
  return reinterpret_cast<PoolPage*>(pool->directory[ref - 1]);
}

// Slot index of a pooled block of class c inside its page.
uint32_t poolSlotIndex(const void* block, uint32_t c) noexcept;

// Number of pages on a list: class c's partial or full list, or the cache.
enum class PoolList { partial, full, cache };
uint32_t poolListLength(const SmallBlockPool* pool, PoolList list, uint32_t c) noexcept;

// Checks every page: on exactly one list, in the state of that list, back
// links consistent, used = capacity - free bits, summary bits agree with the
// bitmap, every held page on a list. When expectedUsed is given (36 counts),
// the blocks in use of each class must equal it. Returns null when all hold,
// else a static text naming the broken invariant.
const char* validatePool(const FastTableRecord& r, const uint32_t* expectedUsed) noexcept;

}  // namespace linemint::fasthash
