// FastHashTable: the one enumeration cursor of a table.
#include <cstdint>

#include "fasthash/copy_out.h"
#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"

namespace linemint {

using fasthash::Node;

namespace {

// Moves the cursor to the next entry in walk order and returns its node, or
// null at the end. The end position (cursorNode null, cursorBucket =
// bucketCount) is sticky until a reset or a resize.
Node* advanceCursor(FastTableRecord& r) noexcept {
  if (r.buckets == nullptr) return nullptr;
  const int32_t bucketCount = static_cast<int32_t>(r.bucketCount);
  Node* candidate;
  if (r.cursorNode != nullptr) {
    candidate = fasthash::nodeNext(r.cursorNode);
  } else {
    if (r.cursorBucket >= bucketCount) return nullptr;
    candidate = r.buckets[r.cursorBucket++];
  }
  while (candidate == nullptr && r.cursorBucket < bucketCount) candidate = r.buckets[r.cursorBucket++];
  r.cursorNode = candidate;
  return candidate;
}

}  // namespace

void FastHashTable::resetCursor() noexcept {
  record_.cursorBucket = 0;
  record_.cursorNode = nullptr;
}

int32_t FastHashTable::next(void* keyOut, void* valueOut) noexcept {
  const Node* node = advanceCursor(record_);
  if (node == nullptr) return 0;
  if (keyOut != nullptr) fasthash::deliverKey(record_, node, keyOut);
  if (valueOut != nullptr) fasthash::deliverValue(record_, node, valueOut);
  return 1;
}

int32_t FastHashTable::nextKey(void* keyOut) noexcept { return next(keyOut, nullptr); }

int32_t FastHashTable::nextValue(void* valueOut) noexcept { return next(nullptr, valueOut); }

}  // namespace linemint
