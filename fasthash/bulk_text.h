// Inline definitions of FastHashTable's bulk text insertion. A caller that
// inserts many text keys in a row hashes a batch of keys ahead with
// hashTextKey, prefetches their buckets and chain heads, and inserts them in
// order with insertHashedText; the chain walk and the common case of an equal
// key are inlined into the caller's loop.
#pragma once

#include <cstring>

#include "fasthash/fast_hash_table.h"
#include "fasthash/hashing.h"
#include "fasthash/node.h"
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

inline int32_t FastHashTable::insertHashedText(const char* text, uint32_t length, uint32_t hash,
                                               const void* valueRef) noexcept {
  FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.keyKind != KeyKind::kText) return 0;
  if (r.valueKind == ValueKind::kHandled && r.valueHandler == nullptr) return 0;
  const fasthash::KeyProbe k{hash, length, reinterpret_cast<const unsigned char*>(text), 0};
  // findLinkOf's walk, with the branch-light key compare.
  fasthash::Link link{&r.buckets[fasthash::bucketIndex(hash, r.indexShift)]};
  for (fasthash::Node* node = link.load(); node != nullptr; node = link.load()) {
    if (fasthash::nodeHash(node) == hash && fasthash::nodeKeyLength(node, r.valueSize) == length &&
        fasthash::bytesEqualOverlapping(fasthash::nodeKeyBytes(node, r.valueSize), k.bytes, length)) {
      break;
    }
    link = fasthash::linkOfNext(node);
  }
  if (fasthash::Node* found = link.load(); found != nullptr && r.valueKind == ValueKind::kInt32) {
    // Replacing a 32-bit integer owns nothing to release: copy the 4 bytes.
    std::memcpy(fasthash::nodeValue(found), valueRef, 4);
    return 2;
  }
  return insertAt(k, link, valueRef);
}

}  // namespace linemint
