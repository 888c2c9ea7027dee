// The table behind a SharedHashTable state: a chained hash table on the
// process heap.
//
// SharedTableRecord layout (48 bytes, native endianness, in memory only):
//   heap         8  the heap everything below comes from (the process heap)
//   buckets      8  array of bucketCount chain heads, each null or a node
//   bucketCount  4  int32, >= 1
//   entryCount   4  int32, nodes in all chains
//   threshold    4  int32, trunc(bucketCount * loadFactor), saturated at INT32_MAX
//   loadFactor   4  float, > 1e-7
//   keyKind      4  int32, 3, 10 or 11
//   valueKind    4  int32, 3, 10 or 11
//   walkDepth    4  int32, forEach walks of this table in progress
//   (padding)    4
//
// SharedTableNode layout (32 bytes):
//   hash   4  uint32, full hash of the key, kept so that chains compare hashes
//             before keys and growth never hashes a key again
//   (pad)  4
//   key    8  stored key word (the table's own copy for kinds 10 and 11)
//   value  8  stored value word (same rules by valueKind)
//   next   8  next node of the chain, or null
//
// Invariants (checked by validateRecord):
//   sum over buckets of chain length == entryCount
//   every node lies in bucket bucketIndex(node.hash, bucketCount)
//   node.hash == hashWord(keyKind, node.key); no two nodes of a chain match
//   threshold == thresholdFor(bucketCount, loadFactor)
//
// Enumeration order: buckets 0 .. bucketCount - 1, each chain from its head.
// New nodes go to the head of their chain; growth walks each old chain from
// its head and links every node at the head of its new chain.
#pragma once

#include <cstdint>

#include "platform/heap.h"
#include "sharedhash/key_word.h"

namespace linemint {

struct SharedTableNode {
  uint32_t hash;
  KeyWord key;
  KeyWord value;
  SharedTableNode* next;
};
static_assert(sizeof(SharedTableNode) == 32);

struct SharedTableRecord {
  platform::HeapHandle heap;
  SharedTableNode** buckets;
  int32_t bucketCount;
  int32_t entryCount;
  int32_t threshold;
  float loadFactor;
  int32_t keyKind;
  int32_t valueKind;
  int32_t walkDepth;
};

// Results of insertInto; the handle adds -1 for "no table, or a walk of it is
// in progress".
inline constexpr int32_t kInsertAdded = 0;
inline constexpr int32_t kInsertReplaced = 1;
inline constexpr int32_t kInsertRefused = -1;
inline constexpr int32_t kInsertOutOfMemory = -2;

// trunc(bucketCount * loadFactor), the product formed in double, saturated at
// INT32_MAX so that a huge load factor gives a table that never grows rather
// than an out-of-range conversion. REQUIRES: bucketCount >= 0, loadFactor > 0.
int32_t thresholdFor(int32_t bucketCount, float loadFactor) noexcept;

// A new empty record on heap with an all-null bucket array. Null when memory
// runs out (nothing is left allocated).
// REQUIRES: kinds 3, 10 or 11; bucketCount >= 1; loadFactor > 1e-7.
SharedTableRecord* newRecord(platform::HeapHandle heap, int32_t keyKind, int32_t valueKind,
                             int32_t bucketCount, float loadFactor) noexcept;

// Frees every node with its stored key and value, the bucket array and the
// record itself, all on the record's heap. Null is ignored.
void freeRecord(SharedTableRecord* record) noexcept;

// The link that points at the first node matching key (whose hash is `hash`),
// or the null link at the end of its chain: insert and remove share this walk.
SharedTableNode** findLink(const SharedTableRecord& record, KeyWord key, uint32_t hash) noexcept;

// Stores key -> value. Returns kInsertReplaced when the key was there (its
// value is now a copy of `value`; key, chain place and entryCount unchanged),
// kInsertAdded when a new node went to the head of its chain (growing the
// table first when entryCount had reached threshold), or kInsertOutOfMemory
// when a copy or the node could not be allocated, in which case the entries
// are exactly as before. A growth that cannot be allocated is skipped: the
// entry still goes in and a later insertion tries again.
// `value` may be a word this table handed out (its copy is made before the old
// value is freed).
int32_t insertInto(SharedTableRecord& record, KeyWord key, KeyWord value) noexcept;

// Moves every node to a new bucket array of bucketCount * 2 + 1 chains and
// recomputes threshold. Returns false, with the record unchanged, when the new
// count would pass INT32_MAX or its array cannot be allocated.
bool growRecord(SharedTableRecord& record) noexcept;

// Unlinks and frees the first node matching key. Returns false when none.
bool removeFrom(SharedTableRecord& record, KeyWord key) noexcept;

// Frees every node; bucketCount, threshold and loadFactor stay as they are.
void removeAllFrom(SharedTableRecord& record) noexcept;

// Calls stop(node) for every node in enumeration order until it returns true;
// returns true when it stopped early. A node's next link is read after the
// call, so `stop` must not unlink or free nodes of this record.
template <typename Stop>
bool walkNodes(const SharedTableRecord& record, Stop&& stop) {
  if (record.entryCount == 0) return false;
  for (int32_t b = 0; b < record.bucketCount; ++b)
    for (SharedTableNode* node = record.buckets[b]; node != nullptr; node = node->next)
      if (stop(node)) return true;
  return false;
}

// True when the invariants above hold. Linear in buckets plus entries, plus
// the pairs within each chain; for tests and debugging.
bool validateRecord(const SharedTableRecord& record) noexcept;

}  // namespace linemint
