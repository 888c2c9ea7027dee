#include "platform/heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/sanitizer.h"

namespace linemint::platform {

HeapEntryPoints heapEntryPoints = {nullptr, nullptr, nullptr};

namespace {

// Every chunk and every large mapping starts at a multiple of kChunkAlign and is
// no longer than that, so rounding a block's address down finds its chunk.
constexpr std::size_t kChunkAlign = std::size_t{4} << 20;
// The chunk header sits in the first 16 KiB; blocks start after it, so blocks of
// a class that is a multiple of 16 KiB are 16 KiB-aligned.
constexpr std::size_t kChunkDataOffset = 16384;
constexpr std::size_t kLargestClassSize = std::size_t{1} << 20;
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
constexpr std::size_t kFirstChunkBytes = std::size_t{64} << 10;
constexpr int kClassCount = 60;
constexpr uint32_t kLargeClass = 0xFFFFFFFFu;

std::size_t classSize(int c) noexcept {
  if (c < 8) return std::size_t{16} * static_cast<std::size_t>(c + 1);
  const int p = 7 + (c - 8) / 4;
  const int q = (c - 8) % 4;
  return (std::size_t{1} << p) + static_cast<std::size_t>(q + 1) * (std::size_t{1} << (p - 2));
}

// Smallest class whose size is at least n. REQUIRES: n <= kLargestClassSize.
int classOf(std::size_t n) noexcept {
  if (n <= 128) return n == 0 ? 0 : static_cast<int>((n + 15) / 16) - 1;
  const int p = 63 - __builtin_clzll(static_cast<unsigned long long>(n - 1));
  const int q = static_cast<int>((n - (std::size_t{1} << p) - 1) >> (p - 2));
  return 8 + (p - 7) * 4 + q;
}

std::size_t pageRound(std::size_t n) noexcept {
  const std::size_t page = 4096;
  return (n + page - 1) & ~(page - 1);
}

// Layout of the first bytes of every chunk and large mapping:
//   owner (8), mappedBytes (8), classIndex (4, kLargeClass for a large block),
//   pad (4), usable (8, large only), prev and next (8 each: the heap's chunk list
//   or large-block list).
struct ChunkHeader {
  Heap* owner;
  std::size_t mappedBytes;
  uint32_t classIndex;
  uint32_t pad;
  std::size_t usable;
  ChunkHeader* prev;
  ChunkHeader* next;
};

struct FreeBlock {
  FreeBlock* next;
};

// Layout: free list head, bump pointer and end of the class's current chunk,
// bytes for the next chunk (doubling up to kChunkAlign).
struct ClassState {
  FreeBlock* freeList;
  char* bump;
  char* bumpEnd;
  std::size_t nextChunkBytes;
};

}  // namespace

// Layout: isProcess flag, 60 class states, list of class chunks, list of large
// mappings. Allocated with calloc; freed by heapDestroy.
struct Heap {
  bool isProcess;
  ClassState classes[kClassCount];
  ChunkHeader* chunks;
  ChunkHeader* largeBlocks;
};

namespace {

Heap processHeapObject = {true, {}, nullptr, nullptr};

// Maps `bytes` (a multiple of the page size, at most kChunkAlign for chunks)
// at an address that is a multiple of kChunkAlign.
void* mapAligned(std::size_t bytes) noexcept {
  const std::size_t reserve = bytes + kChunkAlign;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kChunkAlign - 1) & ~(uintptr_t{kChunkAlign} - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + reserve;
  if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
  void* p = reinterpret_cast<void*>(aligned);
  if (bytes >= kHugePageBytes) madvise(p, bytes, MADV_HUGEPAGE);
  return p;
}

void unmap(ChunkHeader* chunk) noexcept {
  LINEMINT_UNPOISON(chunk, chunk->mappedBytes);
  munmap(chunk, chunk->mappedBytes);
}

void linkFront(ChunkHeader*& head, ChunkHeader* c) noexcept {
  c->prev = nullptr;
  c->next = head;
  if (head != nullptr) head->prev = c;
  head = c;
}

void unlink(ChunkHeader*& head, ChunkHeader* c) noexcept {
  if (c->prev != nullptr) c->prev->next = c->next; else head = c->next;
  if (c->next != nullptr) c->next->prev = c->prev;
}

ChunkHeader* chunkOf(const void* block) noexcept {
  return reinterpret_cast<ChunkHeader*>(reinterpret_cast<uintptr_t>(block) & ~(uintptr_t{kChunkAlign} - 1));
}

bool refill(Heap* heap, int c) noexcept {
  ClassState& cs = heap->classes[c];
  const std::size_t size = classSize(c);
  std::size_t bytes = cs.nextChunkBytes != 0 ? cs.nextChunkBytes : kFirstChunkBytes;
  while (bytes < kChunkDataOffset + 2 * size && bytes < kChunkAlign) bytes *= 2;
  if (bytes > kChunkAlign) bytes = kChunkAlign;
  void* mem = mapAligned(bytes);
  if (mem == nullptr) return false;
  auto* chunk = static_cast<ChunkHeader*>(mem);
  chunk->owner = heap;
  chunk->mappedBytes = bytes;
  chunk->classIndex = static_cast<uint32_t>(c);
  linkFront(heap->chunks, chunk);
  cs.bump = static_cast<char*>(mem) + kChunkDataOffset;
  const std::size_t blocks = (bytes - kChunkDataOffset) / size;
  cs.bumpEnd = cs.bump + blocks * size;
  LINEMINT_POISON(cs.bump, blocks * size);
  cs.nextChunkBytes = bytes < kChunkAlign ? bytes * 2 : kChunkAlign;
  return true;
}

void* allocateLarge(Heap* heap, std::size_t size) noexcept {
  const std::size_t usable = pageRound(size);
  void* mem = mapAligned(kChunkDataOffset + usable);
  if (mem == nullptr) return nullptr;
  auto* chunk = static_cast<ChunkHeader*>(mem);
  chunk->owner = heap;
  chunk->mappedBytes = kChunkDataOffset + usable;
  chunk->classIndex = kLargeClass;
  chunk->usable = usable;
  linkFront(heap->largeBlocks, chunk);
  char* block = static_cast<char*>(mem) + kChunkDataOffset;
  LINEMINT_POISON(block + size, usable - size);
  return block;
}

// Fresh memory from the kernel is zero; a reused block is zeroed here (whole
// slot when asked, otherwise only its slack past `size`).
void* allocatePrivate(Heap* heap, uint32_t flags, std::size_t size) noexcept {
  if (size > kLargestClassSize) return allocateLarge(heap, size);
  const int c = classOf(size);
  ClassState& cs = heap->classes[c];
  const std::size_t slot = classSize(c);
  if (cs.freeList != nullptr) {
    FreeBlock* b = cs.freeList;
    LINEMINT_UNPOISON(b, sizeof(FreeBlock));
    cs.freeList = b->next;
    LINEMINT_UNPOISON(b, slot);
    if ((flags & kHeapZeroMemory) != 0) {
      std::memset(b, 0, slot);
    } else {
      std::memset(reinterpret_cast<char*>(b) + size, 0, slot - size);
    }
    LINEMINT_POISON(reinterpret_cast<char*>(b) + size, slot - size);
    return b;
  }
  if (cs.bump == cs.bumpEnd && !refill(heap, c)) return nullptr;
  char* b = cs.bump;
  cs.bump += slot;
  LINEMINT_UNPOISON(b, size);
  return b;
}

void freePrivate(Heap* heap, void* block) noexcept {
  ChunkHeader* chunk = chunkOf(block);
  if (chunk->classIndex == kLargeClass) {
    unlink(heap->largeBlocks, chunk);
    unmap(chunk);
    return;
  }
  const int c = static_cast<int>(chunk->classIndex);
  ClassState& cs = heap->classes[c];
  auto* b = static_cast<FreeBlock*>(block);
  LINEMINT_UNPOISON(b, sizeof(FreeBlock));
  b->next = cs.freeList;
  cs.freeList = b;
  LINEMINT_POISON(b, classSize(c));
}

std::size_t usablePrivate(const void* block) noexcept {
  const ChunkHeader* chunk = chunkOf(block);
  return chunk->classIndex == kLargeClass ? chunk->usable : classSize(static_cast<int>(chunk->classIndex));
}

// The slack invariant makes every grown tail zero, so the zero-fill flag
// needs no work of its own here.
void* reallocatePrivate(Heap* heap, void* block, std::size_t size) noexcept {
  const std::size_t usable = usablePrivate(block);
  ChunkHeader* chunk = chunkOf(block);
  const bool large = chunk->classIndex == kLargeClass;
  const bool fitsInPlace = large ? (size > kLargestClassSize && size <= usable)
                                 : (size <= usable && classOf(size) == static_cast<int>(chunk->classIndex));
  if (fitsInPlace) {
    // Keep the slack zero so that a later zero-filling growth finds zeros.
    LINEMINT_UNPOISON(block, usable);
    std::memset(static_cast<char*>(block) + size, 0, usable - size);
    if (large) {
      const std::size_t keep = pageRound(size);
      if (keep < usable) {
        munmap(static_cast<char*>(block) + keep, usable - keep);
        chunk->usable = keep;
        chunk->mappedBytes = kChunkDataOffset + keep;
      }
      LINEMINT_POISON(static_cast<char*>(block) + size, keep - size);
    } else {
      LINEMINT_POISON(static_cast<char*>(block) + size, usable - size);
    }
    return block;
  }
  void* moved = allocatePrivate(heap, kHeapZeroMemory, size);
  if (moved == nullptr) return nullptr;
  const std::size_t keep = size < usable ? size : usable;
  LINEMINT_UNPOISON(block, keep);
  std::memcpy(moved, block, keep);
  freePrivate(heap, block);
  return moved;
}

}  // namespace

HeapHandle heapCreate() noexcept {
  return static_cast<Heap*>(std::calloc(1, sizeof(Heap)));
}

void heapDestroy(HeapHandle heap) noexcept {
  if (heap == nullptr || heap->isProcess) return;
  for (ChunkHeader* c = heap->chunks; c != nullptr;) {
    ChunkHeader* next = c->next;
    unmap(c);
    c = next;
  }
  for (ChunkHeader* c = heap->largeBlocks; c != nullptr;) {
    ChunkHeader* next = c->next;
    unmap(c);
    c = next;
  }
  std::free(heap);
}

HeapHandle processHeap() noexcept { return &processHeapObject; }

void* heapAllocate(HeapHandle heap, uint32_t flags, std::size_t size) noexcept {
  if (heap == nullptr) return nullptr;
  if (!heap->isProcess) return allocatePrivate(heap, flags, size);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  const std::size_t usable = malloc_usable_size(p);
  if ((flags & kHeapZeroMemory) != 0) std::memset(p, 0, usable);
  else std::memset(static_cast<char*>(p) + size, 0, usable - size);
  return p;
}

void* heapReallocate(HeapHandle heap, uint32_t flags, void* block, std::size_t size) noexcept {
  if (heap == nullptr) return nullptr;
  if (block == nullptr) return heapAllocate(heap, flags, size);
  if (!heap->isProcess) return reallocatePrivate(heap, block, size);
  const std::size_t oldUsable = malloc_usable_size(block);
  void* p = std::realloc(block, size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  const std::size_t usable = malloc_usable_size(p);
  // realloc keeps min(old usable, size) bytes; zero whatever lies past them.
  const std::size_t kept = oldUsable < size ? oldUsable : size;
  std::memset(static_cast<char*>(p) + kept, 0, usable - kept);
  return p;
}

int heapFree(HeapHandle heap, uint32_t /*flags*/, void* block) noexcept {
  if (heap == nullptr) return 0;
  if (block == nullptr) return 1;
  if (heap->isProcess) std::free(block);
  else freePrivate(heap, block);
  return 1;
}

std::size_t heapUsableSize(HeapHandle heap, const void* block) noexcept {
  if (heap == nullptr || block == nullptr) return 0;
  if (heap->isProcess) return malloc_usable_size(const_cast<void*>(block));
  return usablePrivate(block);
}

void resolveHeapEntryPoints() noexcept {
  heapEntryPoints.allocateHeap = &heapAllocate;
  heapEntryPoints.reallocateHeap = &heapReallocate;
  heapEntryPoints.freeHeap = &heapFree;
}

}  // namespace linemint::platform
