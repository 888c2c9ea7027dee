// Inline definitions of FastHashTable's bulk text insertion. A caller that
// inserts many text keys in a row hashes a batch of keys ahead with
// hashTextKey, prefetches their buckets and chain heads, and inserts them in
// order with insertHashedText; the chain walk and the common case of an equal
// key are inlined into the caller's loop.
#pragma once

#include <cstdint>
#include <cstring>

#include "fasthash/fast_hash_table.h"
#include "fasthash/hashing.h"
#include "fasthash/node.h"
#include "fasthash/pool.h"
#include "platform/simd.h"

namespace linemint {

inline uint32_t FastHashTable::hashTextKey(const char* text, uint32_t* length) const noexcept {
  return fasthash::hashTextWith(text, length, record_.useCrc32 != 0);
}

inline void FastHashTable::prefetchBucket(uint32_t hash) const noexcept {
  platform::simd::prefetch(&record_.buckets[fasthash::bucketIndex(hash, record_.indexShift)]);
}

inline void FastHashTable::prefetchChainHead(uint32_t hash) const noexcept {
  const fasthash::Node* head = record_.buckets[fasthash::bucketIndex(hash, record_.indexShift)];
  if (head != nullptr) platform::simd::prefetch(head);
}

// Forced inline: the caller's loop is what it is for, and the compiler's own
// limits would otherwise leave it a call once the loop grows.
__attribute__((always_inline)) inline int32_t FastHashTable::insertHashedText(const char* text, uint32_t length,
                                                                             uint32_t hash, const void* valueRef) noexcept {
  FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.keyKind != KeyKind::kText) return 0;
  if (r.valueKind == ValueKind::kHandled && r.valueHandler == nullptr) return 0;
  const fasthash::KeyProbe k{hash, length, reinterpret_cast<const unsigned char*>(text), 0};
  const fasthash::Link link = fasthash::findLinkOf<KeyKind::kText>(r, k);
  if (r.valueKind != ValueKind::kInt32) return insertAt(k, link, valueRef);
  // 32-bit integer values own nothing, so insertAt's steps reduce to these.
  if (fasthash::Node* found = link.load(); found != nullptr) {
    std::memcpy(fasthash::nodeValue(found), valueRef, 4);
    return 2;
  }
  if (length == 0 || length > kMaxStoredLength || r.count == INT32_MAX) return 0;
  auto* node = static_cast<fasthash::Node*>(fasthash::poolAllocate(r, fasthash::nodeSize(KeyKind::kText, 4, length)));
  if (node == nullptr) return 0;
  fasthash::setNodeHash(node, hash);
  fasthash::setNodeNext(node, nullptr);
  unsigned char* value = fasthash::nodeValue(node);
  std::memcpy(value, valueRef, 4);
  fasthash::store32(value + 4, length);
  platform::simd::copySmall(value + 8, text, length);
  value[8 + std::size_t{length}] = 0;
  if (length > r.maxTextKeyLength) r.maxTextKeyLength = length;
  link.store(node);
  if (++r.count > r.threshold) grewPastThreshold();
  return 1;
}

}  // namespace linemint
