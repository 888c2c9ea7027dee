#include "fasthash/fast_hash_table.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "fasthash/hashing.h"
#include "fasthash/node.h"
#include "fasthash/pool.h"
#include "platform/cpu_features.h"
#include "platform/simd.h"

namespace linemint {

using fasthash::KeyProbe;
using fasthash::Link;
using fasthash::Node;

namespace {

constexpr uint32_t kMinBucketCount = 16;
constexpr uint32_t kMaxBucketCount = uint32_t{1} << 30;
constexpr float kDefaultLoadFactor = 0.75f;
// How many buckets ahead resize prefetches chain heads.
constexpr uint32_t kResizePrefetch = 32;

int32_t thresholdFor(uint32_t bucketCount, float loadFactor) noexcept {
  return static_cast<int32_t>(static_cast<float>(bucketCount) * loadFactor);
}

}  // namespace

FastHashTable::FastHashTable() noexcept : record_{} { record_.valueTag = valueTagOf(ValueKind::kInt32); }

FastHashTable::~FastHashTable() { destroy(); }

int32_t FastHashTable::create(int32_t keyKind, int32_t valueKind, std::optional<int32_t> bucketCount,
                              std::optional<float> loadFactor, std::optional<int32_t> autoShrink) noexcept {
  destroy();
  FastTableRecord& r = record_;
  r.heap = platform::heapCreate();
  if (r.heap == nullptr) return 0;

  if (!isKeyKind(keyKind)) keyKind = KeyKind::kInt32;
  if (!isValueKind(valueKind)) valueKind = ValueKind::kInt32;

  const int32_t asked = bucketCount.value_or(0);
  const uint32_t buckets = asked < static_cast<int32_t>(kMinBucketCount)
                               ? kMinBucketCount
                               : floorPowerOfTwo(static_cast<uint32_t>(asked));  // at most 2^30

  const float x = loadFactor.value_or(0.0f);
  const float factor = (static_cast<double>(x) > 1e-7 && static_cast<double>(x) - 1.0 < -1e-7) ? x : kDefaultLoadFactor;

  void* array = platform::heapAllocate(r.heap, platform::kHeapZeroMemory, std::size_t{buckets} * sizeof(Node*));
  if (array == nullptr) {
    platform::heapDestroy(r.heap);
    r.heap = nullptr;
    return 0;
  }

  r.autoShrink = autoShrink.value_or(1);
  // A program that uses the library without the start-up step still gets
  // working entry points instead of a call through null.
  if (platform::heapEntryPoints.allocateHeap == nullptr) platform::resolveHeapEntryPoints();
  r.allocateHeap = platform::heapEntryPoints.allocateHeap;
  r.freeHeap = platform::heapEntryPoints.freeHeap;
  r.reallocateHeap = platform::heapEntryPoints.reallocateHeap;
  r.useCrc32 = static_cast<int32_t>(platform::cpuFeatures.sse42);
  r.bucketCount = buckets;
  r.loadFactor = factor;
  r.threshold = thresholdFor(buckets, factor);
  r.indexShift = 32 - log2Exact(buckets);
  r.keyKind = keyKind;
  r.valueKind = valueKind;
  r.valueSize = valueSizeOf(valueKind);
  r.cursorBucket = 0;
  r.cursorNode = nullptr;
  r.valueTag = valueTagOf(valueKind);
  r.processHeap = platform::processHeap();
  // The pool needs the entry points, so it comes last; a table without a
  // pool could not store anything, so its absence fails create.
  fasthash::initPool(r);
  if (r.pool == nullptr) {
    platform::heapDestroy(r.heap);
    r.heap = nullptr;
    r.bucketCount = 0;
    return 0;
  }
  r.buckets = static_cast<Node**>(array);
  return 1;
}

void FastHashTable::destroy() noexcept {
  FastTableRecord& r = record_;
  if (r.heap == nullptr) return;
  if (r.valueKind == ValueKind::kHandled && r.count > 0 && r.buckets != nullptr) releaseHandledValues();
  platform::heapDestroy(r.heap);
  r.heap = nullptr;
  r.buckets = nullptr;
  r.bucketCount = 0;
  r.count = 0;
  // Both pointed into the heap just destroyed.
  r.pool = nullptr;
  r.cursorNode = nullptr;
}

void FastHashTable::resize(uint32_t newBucketCount) noexcept {
  FastTableRecord& r = record_;
  const uint32_t oldCount = r.bucketCount;
  if (newBucketCount == oldCount) return;
  const uint32_t shift = 32 - log2Exact(newBucketCount);
  auto* fresh = static_cast<Node**>(
      r.allocateHeap(r.heap, platform::kHeapZeroMemory, std::size_t{newBucketCount} * sizeof(Node*)));
  if (fresh == nullptr) return;  // keep the old array; the table stays as it was
  Node** old = r.buckets;

  if (newBucketCount == 2 * oldCount) {
    // Doubling splits old bucket i into new buckets i and i + oldCount; only
    // this old bucket feeds them, so two local tails replace walking the new
    // chains.
    for (uint32_t i = 0; i < oldCount; ++i) {
      // Nodes lie in insertion order, buckets in hash order: fetch the heads
      // far enough ahead to cover a memory round trip.
      if (i + kResizePrefetch < oldCount && old[i + kResizePrefetch] != nullptr) {
        platform::simd::prefetch(old[i + kResizePrefetch]);
      }
      Link tails[2] = {Link{&fresh[i]}, Link{&fresh[i + oldCount]}};
      for (Node* node = old[i]; node != nullptr;) {
        Node* successor = fasthash::nodeNext(node);
        fasthash::setNodeNext(node, nullptr);
        const uint32_t j = fasthash::bucketIndex(fasthash::nodeHash(node), shift);
        Link& tail = tails[j == i ? 0 : 1];
        tail.store(node);
        tail = fasthash::linkOfNext(node);
        node = successor;
      }
    }
  } else if (newBucketCount < oldCount) {
    // Shrinking: new bucket j gathers the whole chains of old buckets j,
    // j + n, j + 2n, ... in that order; chains move intact.
    const uint32_t factor = oldCount / newBucketCount;
    for (uint32_t j = 0; j < newBucketCount; ++j) {
      Link tail{&fresh[j]};
      for (uint32_t m = 0; m < factor; ++m) {
        Node* chain = old[j + m * newBucketCount];
        if (chain == nullptr) continue;
        tail.store(chain);
        if (m + 1 == factor) break;
        Node* last = chain;
        for (Node* n = fasthash::nodeNext(last); n != nullptr; n = fasthash::nodeNext(n)) last = n;
        tail = fasthash::linkOfNext(last);
      }
    }
  } else {
    // Any other growth: append each node at the end of its new chain.
    for (uint32_t i = 0; i < oldCount; ++i) {
      for (Node* node = old[i]; node != nullptr;) {
        Node* successor = fasthash::nodeNext(node);
        fasthash::setNodeNext(node, nullptr);
        Link link{&fresh[fasthash::bucketIndex(fasthash::nodeHash(node), shift)]};
        for (Node* n = link.load(); n != nullptr; n = link.load()) link = fasthash::linkOfNext(n);
        link.store(node);
        node = successor;
      }
    }
  }

  r.buckets = fresh;
  r.bucketCount = newBucketCount;
  r.indexShift = shift;
  r.threshold = thresholdFor(newBucketCount, r.loadFactor);
  r.freeHeap(r.heap, 0, old);
}

uint32_t FastHashTable::hashText(const char* text, uint32_t* length) noexcept {
  return fasthash::hashText(text, length);
}

uint32_t FastHashTable::hashBytes(const ByteBuffer* buffer) noexcept { return fasthash::hashBytes(buffer); }

bool FastHashTable::bytesEqual(const void* a, const void* b, uint32_t n) noexcept {
  return fasthash::bytesEqual(a, b, n);
}

uint32_t FastHashTable::textLength(const char* text) noexcept { return fasthash::textLength(text); }

uint32_t FastHashTable::hashInt64(bool useCrc32, int64_t key) noexcept { return fasthash::hashInt64(useCrc32, key); }

uint32_t FastHashTable::log2Exact(uint32_t n) noexcept {
  if (n < 2 || (n & (n - 1)) != 0) return 0;
  return static_cast<uint32_t>(__builtin_ctz(n));
}

uint32_t FastHashTable::floorPowerOfTwo(uint32_t n) noexcept {
  if (n == 0) return 0;
  return uint32_t{1} << (31 - __builtin_clz(n));
}

void FastHashTable::releaseHandledValues() noexcept {
  const FastTableRecord& r = record_;
  if (r.valueHandler == nullptr) return;
  for (uint32_t i = 0; i < r.bucketCount; ++i) {
    for (const Node* node = r.buckets[i]; node != nullptr; node = fasthash::nodeNext(node)) {
      const Handle h = fasthash::load32(fasthash::nodeValue(node));
      if (h != 0) r.valueHandler->releaseValue(h);
    }
  }
}

void FastHashTable::initPool() noexcept { fasthash::initPool(record_); }

void* FastHashTable::poolAllocate(uint32_t size) noexcept { return fasthash::poolAllocate(record_, size); }

void FastHashTable::poolFree(void* block, uint32_t size) noexcept { fasthash::poolFree(record_, block, size); }

bool FastHashTable::makeValueField(const void* valueRef, unsigned char field[8]) noexcept {
  FastTableRecord& r = record_;
  std::memset(field, 0, 8);
  switch (r.valueKind) {
    case ValueKind::kInt64:
    case ValueKind::kDouble:
    case ValueKind::kDateTime:
      std::memcpy(field, valueRef, 8);
      return true;
    case ValueKind::kText:
    case ValueKind::kBytes: {
      const void* source;
      std::memcpy(&source, valueRef, sizeof source);
      uint32_t n = 0;
      const void* bytes = nullptr;
      if (source != nullptr) {
        if (r.valueKind == ValueKind::kText) {
          bytes = source;
          n = fasthash::textLength(static_cast<const char*>(source));
        } else {
          const auto* buffer = static_cast<const ByteBuffer*>(source);
          bytes = buffer->bytes();
          n = buffer->length;
        }
      }
      if (n == 0) return true;  // an empty value is stored as a null pointer
      if (n > kMaxStoredLength) return false;
      auto* block = static_cast<unsigned char*>(fasthash::poolAllocate(r, n + 4));
      if (block == nullptr) return false;
      fasthash::store32(block, n);
      std::memcpy(block + 4, bytes, n);
      std::memcpy(field, &block, sizeof block);
      return true;
    }
    case ValueKind::kHandled: {
      const Handle& handle = *static_cast<const Handle*>(valueRef);
      const Handle copy = handle == 0 ? 0 : r.valueHandler->copyValue(handle);
      fasthash::store32(field, copy);
      return true;
    }
    default:
      std::memcpy(field, valueRef, 4);
      return true;
  }
}

void FastHashTable::releaseValueField(Node* node) noexcept {
  FastTableRecord& r = record_;
  if (r.valueKind == ValueKind::kText || r.valueKind == ValueKind::kBytes) {
    unsigned char* block = fasthash::nodeValueBlock(node);
    if (block != nullptr) {
      fasthash::poolFree(r, block, fasthash::valueBlockLength(block) + 4);
      fasthash::setNodeValueBlock(node, nullptr);
    }
  } else if (r.valueKind == ValueKind::kHandled) {
    const Handle h = fasthash::load32(fasthash::nodeValue(node));
    if (h != 0 && r.valueHandler != nullptr) r.valueHandler->releaseValue(h);
    fasthash::store32(fasthash::nodeValue(node), 0);
  }
}

void FastHashTable::freeNode(Node* node) noexcept {
  fasthash::poolFree(record_, node, fasthash::nodeSizeOf(record_, node));
}

int32_t FastHashTable::insert(const void* keyRef, const void* valueRef) noexcept {
  FastTableRecord& r = record_;
  if (r.buckets == nullptr) return 0;
  if (r.valueKind == ValueKind::kHandled && r.valueHandler == nullptr) return 0;
  const KeyProbe k = fasthash::probeKey(r, keyRef);
  return insertAt(k, fasthash::findLink(r, k), valueRef);
}

int32_t FastHashTable::insertAt(const KeyProbe& k, Link link, const void* valueRef) noexcept {
  FastTableRecord& r = record_;
  unsigned char field[8];

  if (Node* found = link.load(); found != nullptr) {
    // The new value is made before the old one is released, so that a value
    // that aliases the stored one (a handle handed out by get) is copied
    // while still alive, and running out of memory keeps the old value.
    if (!makeValueField(valueRef, field)) return 0;
    releaseValueField(found);
    std::memcpy(fasthash::nodeValue(found), field, static_cast<std::size_t>(r.valueSize));
    return 2;
  }

  if (fasthash::probeIsEmpty(r, k)) return 0;
  if (k.length > kMaxStoredLength || r.count == std::numeric_limits<int32_t>::max()) return 0;
  const uint32_t size = fasthash::nodeSize(r.keyKind, r.valueSize, k.length);
  if (!makeValueField(valueRef, field)) return 0;
  auto* node = static_cast<Node*>(fasthash::poolAllocate(r, size));
  if (node == nullptr) {
    // Undo the value: hand back its block or handle.
    if (r.valueKind == ValueKind::kText || r.valueKind == ValueKind::kBytes) {
      unsigned char* block;
      std::memcpy(&block, field, sizeof block);
      if (block != nullptr) fasthash::poolFree(r, block, fasthash::valueBlockLength(block) + 4);
    } else if (r.valueKind == ValueKind::kHandled) {
      const Handle h = fasthash::load32(field);
      if (h != 0) r.valueHandler->releaseValue(h);
    }
    return 0;
  }

  fasthash::setNodeHash(node, k.hash);
  fasthash::setNodeNext(node, nullptr);
  unsigned char* value = fasthash::nodeValue(node);
  std::memcpy(value, field, static_cast<std::size_t>(r.valueSize));
  unsigned char* keyPart = value + r.valueSize;
  switch (r.keyKind) {
    case KeyKind::kText:
      if (k.length > r.maxTextKeyLength) r.maxTextKeyLength = k.length;
      fasthash::store32(keyPart, k.length);
      std::memcpy(keyPart + 4, k.bytes, k.length);
      keyPart[4 + std::size_t{k.length}] = 0;
      break;
    case KeyKind::kBytes:
      fasthash::store32(keyPart, k.length);
      std::memcpy(keyPart + 4, k.bytes, k.length);
      break;
    case KeyKind::kInt64:
      std::memcpy(keyPart, &k.int64Key, 8);
      break;
    default:
      break;
  }
  link.store(node);

  if (++r.count > r.threshold) grewPastThreshold();
  return 1;
}

void FastHashTable::grewPastThreshold() noexcept {
  FastTableRecord& r = record_;
  if (r.bucketCount < kMaxBucketCount) resize(r.bucketCount * 2);
  r.cursorBucket = 0;
  r.cursorNode = nullptr;
}

int32_t FastHashTable::contains(const void* keyRef) noexcept {
  return fasthash::findNode(record_, keyRef) != nullptr ? 1 : 0;
}

const char* FastHashTable::validate() const noexcept {
  const FastTableRecord& r = record_;
  if (r.buckets == nullptr) {
    if (r.heap != nullptr) return "heap without a bucket array";
    if (r.count != 0 || r.bucketCount != 0) return "not created, yet count or bucketCount non-zero";
    return nullptr;
  }
  if (r.heap == nullptr) return "bucket array without a heap";
  if (r.bucketCount < kMinBucketCount || r.bucketCount > kMaxBucketCount || log2Exact(r.bucketCount) == 0)
    return "bucketCount is not a power of two in [16, 2^30]";
  if (r.indexShift != 32 - log2Exact(r.bucketCount)) return "indexShift does not follow bucketCount";
  if (!(static_cast<double>(r.loadFactor) > 1e-7 && static_cast<double>(r.loadFactor) - 1.0 < -1e-7))
    return "loadFactor out of range";
  if (r.threshold != thresholdFor(r.bucketCount, r.loadFactor)) return "threshold does not follow bucketCount and loadFactor";
  if (!isKeyKind(r.keyKind) || !isValueKind(r.valueKind)) return "kind code not accepted";
  if (r.valueSize != valueSizeOf(r.valueKind) || r.valueTag != valueTagOf(r.valueKind))
    return "valueSize or valueTag does not follow valueKind";
  if (r.count < 0) return "negative count";

  uint32_t usedPerClass[fasthash::kPoolClassCount] = {};
  auto countBlock = [&](uint32_t size) {
    if (size <= fasthash::kPoolLargestBlock) ++usedPerClass[fasthash::poolClassOf(size)];
  };
  const bool crc = r.useCrc32 != 0;
  int64_t nodes = 0;
  for (uint32_t i = 0; i < r.bucketCount; ++i) {
    for (const Node* node = r.buckets[i]; node != nullptr; node = fasthash::nodeNext(node)) {
      if (++nodes > r.count) return "count is smaller than the sum of chain lengths (or a chain loops)";
      const uint32_t hash = fasthash::nodeHash(node);
      if (fasthash::bucketIndex(hash, r.indexShift) != i) return "node outside the bucket of its hash";
      switch (r.keyKind) {
        case KeyKind::kText: {
          const uint32_t n = fasthash::nodeKeyLength(node, r.valueSize);
          const auto* bytes = fasthash::nodeKeyBytes(node, r.valueSize);
          if (n == 0) return "empty text key stored";
          if (std::memchr(bytes, 0, n) != nullptr || bytes[n] != 0) return "text key length disagrees with its NUL";
          if (n > r.maxTextKeyLength) return "text key longer than maxTextKeyLength";
          uint32_t length = 0;
          if (fasthash::hashTextWith(reinterpret_cast<const char*>(bytes), &length, crc) != hash)
            return "stored hash is not the hash of the stored text";
          break;
        }
        case KeyKind::kBytes: {
          const uint32_t n = fasthash::nodeKeyLength(node, r.valueSize);
          if (n == 0) return "empty byte-buffer key stored";
          if (fasthash::hashByteRange(fasthash::nodeKeyBytes(node, r.valueSize), n, crc) != hash)
            return "stored hash is not the hash of the stored bytes";
          break;
        }
        case KeyKind::kInt64:
          if (fasthash::hashInt64(crc, fasthash::nodeKeyInt64(node, r.valueSize)) != hash)
            return "stored hash is not the hash of the stored 64-bit key";
          break;
        default:
          break;
      }
      countBlock(fasthash::nodeSizeOf(r, node));
      if (r.valueKind == ValueKind::kText || r.valueKind == ValueKind::kBytes) {
        const unsigned char* block = fasthash::nodeValueBlock(node);
        if (block != nullptr) {
          const uint32_t n = fasthash::valueBlockLength(block);
          if (n == 0) return "empty value block stored";
          countBlock(n + 4);
        }
      }
    }
  }
  if (nodes != r.count) return "count differs from the sum of chain lengths";
  return fasthash::validatePool(r, usedPerClass);
}

}  // namespace linemint
