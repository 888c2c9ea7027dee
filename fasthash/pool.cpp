#include "fasthash/pool.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "platform/heap.h"
#include "platform/sanitizer.h"

namespace linemint::fasthash {

namespace {

struct ClassShape {
  uint32_t blockSize;
  uint32_t capacity;
};

// Block sizes and capacities of the 36 classes. The capacities are fixed, not
// computed; each page layout fits 16384 bytes (class 1 exactly).
constexpr std::array<ClassShape, kPoolClassCount> kClasses = {{
    {8, 1024}, {16, 813}, {24, 581}, {32, 452}, {40, 370}, {48, 313}, {56, 272}, {64, 239},
    {80, 194}, {96, 162}, {112, 140}, {128, 123}, {144, 109}, {160, 98}, {176, 90}, {192, 82},
    {208, 76}, {224, 70}, {240, 66}, {256, 62}, {288, 55}, {320, 49}, {352, 45}, {384, 41},
    {416, 38}, {448, 35}, {480, 32}, {512, 30}, {576, 27}, {640, 24}, {704, 22}, {768, 20},
    {832, 18}, {896, 17}, {960, 15}, {1024, 14},
}};

constexpr uint32_t kHeaderBytes = 20;

constexpr uint32_t bitmapWordsOf(uint32_t capacity) { return (capacity + 31) / 32; }

constexpr bool everyPageFits() {
  for (const ClassShape& c : kClasses) {
    const uint32_t bytes = kHeaderBytes + 4 * bitmapWordsOf(c.capacity) + c.capacity * (c.blockSize + 4);
    if (bytes > kPoolPageSize || bitmapWordsOf(c.capacity) > 32) return false;
  }
  return kHeaderBytes + 4 * bitmapWordsOf(813) + 813 * (16 + 4) == kPoolPageSize;
}
static_assert(everyPageFits());

// Class of a request, indexed by ceil(n / 8) for n in 1..1024.
constexpr std::array<uint8_t, 129> makeClassTable() {
  std::array<uint8_t, 129> table{};
  for (uint32_t i = 0; i <= 128; ++i) {
    const uint32_t n = i == 0 ? 8 : i * 8;
    uint32_t c = 0;
    while (kClasses[c].blockSize < n) ++c;
    table[i] = static_cast<uint8_t>(c);
  }
  return table;
}
constexpr std::array<uint8_t, 129> kClassOfEighths = makeClassTable();

// The link a back link designates: a list head of the pool or a page's next.
uint32_t* linkField(SmallBlockPool* pool, uint32_t backLink) noexcept {
  if ((backLink & kPoolHeadTag) != 0) {
    const uint32_t list = backLink & ~kPoolHeadTag;
    SizeClass& c = pool->classes[list >> 1];
    return (list & 1) != 0 ? &c.fullPages : &c.partialPages;
  }
  return &poolPage(pool, backLink)->next;
}

uint32_t headTag(uint32_t c, bool full) noexcept { return kPoolHeadTag | (c << 1) | (full ? 1u : 0u); }

// Puts the page first on class c's partial or full list.
void pushFront(SmallBlockPool* pool, uint32_t c, bool full, PoolPage* page, uint32_t ref) noexcept {
  uint32_t& head = full ? pool->classes[c].fullPages : pool->classes[c].partialPages;
  page->next = head;
  page->backLink = headTag(c, full);
  if (head != 0) poolPage(pool, head)->backLink = ref;
  head = ref;
}

// Takes the page off whichever class list holds it; touches no other page
// than its successor.
void unlinkPage(SmallBlockPool* pool, PoolPage* page) noexcept {
  *linkField(pool, page->backLink) = page->next;
  if (page->next != 0) poolPage(pool, page->next)->backLink = page->backLink;
}

// A reference for a page new from the heap; 0 when the directory cannot grow.
uint32_t takeReference(FastTableRecord& r, PoolPage* page) noexcept {
  SmallBlockPool* pool = r.pool;
  uint32_t ref = pool->freeReferences;
  if (ref != 0) {
    pool->freeReferences = static_cast<uint32_t>(pool->directory[ref - 1] >> 1);
  } else {
    if (pool->directoryUsed == pool->directoryCapacity) {
      const uint32_t capacity = pool->directoryCapacity == 0 ? 64 : pool->directoryCapacity * 2;
      void* grown = r.reallocateHeap(r.heap, platform::kHeapZeroMemory, pool->directory,
                                     std::size_t{capacity} * sizeof(uintptr_t));
      if (grown == nullptr) return 0;
      pool->directory = static_cast<uintptr_t*>(grown);
      pool->directoryCapacity = capacity;
    }
    ref = ++pool->directoryUsed;
  }
  pool->directory[ref - 1] = reinterpret_cast<uintptr_t>(page);
  ++pool->pageCount;
  return ref;
}

void giveBackReference(SmallBlockPool* pool, uint32_t ref) noexcept {
  pool->directory[ref - 1] = (uintptr_t{pool->freeReferences} << 1) | 1;
  pool->freeReferences = ref;
  --pool->pageCount;
}

// Every block of the page free, every slot poisoned.
void initialisePage(PoolPage* page, const SizeClass& c) noexcept {
  // A cached page may come from a class with a shorter bitmap, whose slots
  // (poisoned) overlap this class's bitmap.
  LINEMINT_UNPOISON(page, kHeaderBytes + 4 * std::size_t{c.bitmapWords});
  page->next = 0;
  page->backLink = 0;
  page->used = 0;
  page->blockArea = kHeaderBytes + 4 * c.bitmapWords;
  page->summary = 0xFFFFFFFFu;
  std::memset(page->bitmap, 0xFF, 4 * std::size_t{c.bitmapWords});
  LINEMINT_POISON(reinterpret_cast<char*>(page) + page->blockArea, kPoolPageSize - page->blockArea);
}

// A page for class c, first on its (empty) partial list: from the cache when
// it holds one, else from the heap. Null when the heap cannot supply it.
PoolPage* startPage(FastTableRecord& r, uint32_t c, uint32_t* refOut) noexcept {
  SmallBlockPool* pool = r.pool;
  PoolPage* page = nullptr;
  uint32_t ref = 0;
  if (pool->cachedPageCount > 0) {
    --pool->cachedPageCount;
    ref = pool->cachedPages;
    if (ref != 0) {
      page = poolPage(pool, ref);
      pool->cachedPages = page->next;
    }
  }
  if (page == nullptr) {
    void* block = r.allocateHeap(r.heap, 0, kPoolPageSize);
    if (block == nullptr) return nullptr;
    if ((reinterpret_cast<uintptr_t>(block) & (kPoolPageSize - 1)) != 0) {
      // A page must start at a multiple of its size, or blocks could not
      // find it; refuse rather than corrupt.
      r.freeHeap(r.heap, 0, block);
      return nullptr;
    }
    page = static_cast<PoolPage*>(block);
    ref = takeReference(r, page);
    if (ref == 0) {
      r.freeHeap(r.heap, 0, block);
      return nullptr;
    }
  }
  initialisePage(page, pool->classes[c]);
  pushFront(pool, c, false, page, ref);
  *refOut = ref;
  return page;
}

}  // namespace

uint32_t poolClassOf(uint32_t n) noexcept { return kClassOfEighths[(n + 7) >> 3]; }

uint32_t poolBlockSize(uint32_t c) noexcept { return kClasses[c].blockSize; }
uint32_t poolCapacity(uint32_t c) noexcept { return kClasses[c].capacity; }

void initPool(FastTableRecord& r) noexcept {
  if (r.heap == nullptr) return;
  void* block = r.allocateHeap(r.heap, platform::kHeapZeroMemory, sizeof(SmallBlockPool));
  r.pool = static_cast<SmallBlockPool*>(block);
  if (block == nullptr) return;
  for (uint32_t c = 0; c < kPoolClassCount; ++c) {
    SizeClass& sc = r.pool->classes[c];
    sc.blockSize = kClasses[c].blockSize;
    sc.pageSize = kPoolPageSize;
    sc.capacity = kClasses[c].capacity;
    sc.bitmapWords = bitmapWordsOf(kClasses[c].capacity);
  }
}

void* poolAllocate(FastTableRecord& r, uint32_t size) noexcept {
  if (size > kPoolLargestBlock) return r.allocateHeap(r.heap, 0, size);
  SmallBlockPool* pool = r.pool;
  const uint32_t c = poolClassOf(size);
  SizeClass& sc = pool->classes[c];
  uint32_t ref = sc.partialPages;
  PoolPage* page;
  if (ref != 0) {
    page = poolPage(pool, ref);
  } else {
    page = startPage(r, c, &ref);
    if (page == nullptr) return nullptr;
  }
  const uint32_t w = static_cast<uint32_t>(__builtin_ctz(page->summary));
  const uint32_t word = page->bitmap[w];
  const uint32_t b = static_cast<uint32_t>(__builtin_ctz(word));
  const uint32_t rest = word & (word - 1);
  page->bitmap[w] = rest;
  if (rest == 0) page->summary &= ~(1u << w);
  if (++page->used == sc.capacity) {
    // Full: it is first on the partial list, so popping it is one store.
    sc.partialPages = page->next;
    if (page->next != 0) poolPage(pool, page->next)->backLink = headTag(c, false);
    pushFront(pool, c, true, page, ref);
  }
  char* slot = reinterpret_cast<char*>(page) + page->blockArea + (32 * w + b) * (sc.blockSize + 4);
  LINEMINT_UNPOISON(slot, 4 + std::size_t{size == 0 ? 8 : size});
  std::memcpy(slot, &ref, 4);
  return slot + 4;
}

void poolFree(FastTableRecord& r, void* block, uint32_t size) noexcept {
  if (block == nullptr) return;
  if (size > kPoolLargestBlock) {
    r.freeHeap(r.heap, 0, block);
    return;
  }
  SmallBlockPool* pool = r.pool;
  const uint32_t c = poolClassOf(size);
  SizeClass& sc = pool->classes[c];
  PoolPage* page = pageOfBlock(block);
  uint32_t ref;
  std::memcpy(&ref, static_cast<char*>(block) - 4, 4);
  const auto offset = static_cast<uint32_t>(static_cast<char*>(block) - 4 - reinterpret_cast<char*>(page)) -
                      page->blockArea;
  const uint32_t i = offset / (sc.blockSize + 4);
  const uint32_t w = i >> 5;
  const uint32_t b = i & 31;
  if (page->bitmap[w] == 0) page->summary |= 1u << w;
  page->bitmap[w] |= 1u << b;
  LINEMINT_POISON(static_cast<char*>(block) - 4, 4 + std::size_t{sc.blockSize});
  const uint32_t u = page->used;
  if (u > 0) page->used = u - 1;
  if (u == sc.capacity) {
    unlinkPage(pool, page);
    pushFront(pool, c, false, page, ref);
    return;
  }
  if (page->used != 0) return;
  if (sc.partialPages == ref && page->next == 0 && sc.blockSize <= kPoolKeptPageBlockSize) return;
  unlinkPage(pool, page);
  if (pool->cachedPageCount < kPoolMaxCachedPages) {
    ++pool->cachedPageCount;
    page->next = pool->cachedPages;
    page->backLink = 0;
    pool->cachedPages = ref;
  } else {
    giveBackReference(pool, ref);
    r.freeHeap(r.heap, 0, page);
  }
}

uint32_t poolSlotIndex(const void* block, uint32_t c) noexcept {
  const PoolPage* page = pageOfBlock(block);
  const auto offset = static_cast<uint32_t>(static_cast<const char*>(block) - 4 -
                                            reinterpret_cast<const char*>(page)) -
                      page->blockArea;
  return offset / (kClasses[c].blockSize + 4);
}

uint32_t poolListLength(const SmallBlockPool* pool, PoolList list, uint32_t c) noexcept {
  uint32_t ref = list == PoolList::cache     ? pool->cachedPages
                 : list == PoolList::partial ? pool->classes[c].partialPages
                                             : pool->classes[c].fullPages;
  uint32_t n = 0;
  for (; ref != 0 && n <= pool->directoryUsed; ref = poolPage(pool, ref)->next) ++n;
  return n;
}

const char* validatePool(const FastTableRecord& r, const uint32_t* expectedUsed) noexcept {
  const SmallBlockPool* pool = r.pool;
  if (pool == nullptr) return "pool: no control block";
  const uint32_t refs = pool->directoryUsed;
  if (refs > pool->directoryCapacity) return "pool: directory overflow";
  // One visit mark per reference.
  auto* seen = static_cast<uint8_t*>(platform::heapAllocate(platform::processHeap(), platform::kHeapZeroMemory,
                                                            std::size_t{refs} + 1));
  if (seen == nullptr) return "pool: no memory to validate";
  const char* failure = nullptr;
  auto fail = [&](const char* why) {
    if (failure == nullptr) failure = why;
  };
  auto live = [&](uint32_t ref) {
    return ref >= 1 && ref <= refs && (pool->directory[ref - 1] & 1) == 0 && pool->directory[ref - 1] != 0;
  };

  for (uint32_t c = 0; c < kPoolClassCount && failure == nullptr; ++c) {
    const SizeClass& sc = pool->classes[c];
    if (sc.blockSize != kClasses[c].blockSize || sc.capacity != kClasses[c].capacity ||
        sc.pageSize != kPoolPageSize || sc.bitmapWords != bitmapWordsOf(sc.capacity)) {
      fail("pool: size class table altered");
      break;
    }
    uint64_t usedInClass = 0;
    for (int full = 0; full < 2 && failure == nullptr; ++full) {
      uint32_t expectedBack = headTag(c, full != 0);
      for (uint32_t ref = full ? sc.fullPages : sc.partialPages; ref != 0;) {
        if (!live(ref)) { fail("pool: list holds a reference without a page"); break; }
        if (seen[ref]++ != 0) { fail("pool: page on more than one list (or a cycle)"); break; }
        const PoolPage* page = poolPage(pool, ref);
        if ((reinterpret_cast<uintptr_t>(page) & (kPoolPageSize - 1)) != 0) { fail("pool: page not 16 KiB aligned"); break; }
        if (page->backLink != expectedBack) { fail("pool: back link does not designate the link to the page"); break; }
        if (page->blockArea != kHeaderBytes + 4 * sc.bitmapWords) { fail("pool: block area misplaced"); break; }
        uint32_t freeBits = 0;
        for (uint32_t w = 0; w < sc.bitmapWords; ++w) {
          uint32_t word = page->bitmap[w];
          if (((page->summary >> w) & 1) != (word != 0 ? 1u : 0u)) fail("pool: summary bit disagrees with its bitmap word");
          const uint32_t first = 32 * w;
          if (first + 32 > sc.capacity) word &= (sc.capacity - first >= 32) ? ~0u : ((1u << (sc.capacity - first)) - 1);
          freeBits += static_cast<uint32_t>(__builtin_popcount(word));
        }
        if (page->used != sc.capacity - freeBits) fail("pool: used does not match the bitmap");
        if (full) {
          if (page->used != sc.capacity) fail("pool: page on the full list has a free block");
        } else {
          if (page->used >= sc.capacity) fail("pool: page on the partial list is full");
          if (page->used == 0 && sc.blockSize > kPoolKeptPageBlockSize) fail("pool: empty page kept on a large class");
        }
        usedInClass += page->used;
        expectedBack = ref;
        ref = page->next;
      }
    }
    if (failure == nullptr && expectedUsed != nullptr && usedInClass != expectedUsed[c]) {
      fail("pool: blocks in use differ from the table's nodes and value blocks");
    }
  }
  if (failure == nullptr) {
    uint32_t cached = 0;
    for (uint32_t ref = pool->cachedPages; ref != 0; ref = poolPage(pool, ref)->next) {
      if (!live(ref)) { fail("pool: cache holds a reference without a page"); break; }
      if (seen[ref]++ != 0) { fail("pool: cached page also on another list (or a cycle)"); break; }
      ++cached;
    }
    if (failure == nullptr && cached != pool->cachedPageCount) fail("pool: cached page count is wrong");
    if (failure == nullptr && cached > kPoolMaxCachedPages) fail("pool: more than 6 cached pages");
  }
  if (failure == nullptr) {
    uint32_t held = 0;
    for (uint32_t ref = 1; ref <= refs; ++ref) {
      if (live(ref)) {
        ++held;
        if (seen[ref] != 1) fail("pool: a held page is on no list");
      }
    }
    uint32_t freeRefs = 0;
    for (uint32_t ref = pool->freeReferences; ref != 0 && freeRefs <= refs;
         ref = static_cast<uint32_t>(pool->directory[ref - 1] >> 1)) {
      if (ref > refs || (pool->directory[ref - 1] & 1) == 0) { fail("pool: free reference list broken"); break; }
      ++freeRefs;
    }
    if (failure == nullptr && held != pool->pageCount) fail("pool: page count is wrong");
    if (failure == nullptr && held + freeRefs != refs) fail("pool: directory entries lost");
  }
  platform::heapFree(platform::processHeap(), 0, seen);
  return failure;
}

}  // namespace linemint::fasthash
