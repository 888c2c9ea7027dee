#include "sharedhash/shared_table_record.h"

#include <climits>

#include "sharedhash/stored_word.h"
#include "sharedhash/table_memory.h"
#include "sharedhash/word_rules.h"

namespace linemint {
namespace {

void freeNode(const SharedTableRecord& record, SharedTableNode* node) noexcept {
  freeStoredWord(record.heap, record.keyKind, node->key);
  freeStoredWord(record.heap, record.valueKind, node->value);
  freeTableBlock(record.heap, node);
}

// Frees every chain; the heads are left dangling for the caller to clear or drop.
void freeAllNodes(const SharedTableRecord& record) noexcept {
  if (record.entryCount == 0) return;
  for (int32_t b = 0; b < record.bucketCount; ++b) {
    for (SharedTableNode* node = record.buckets[b]; node != nullptr;) {
      SharedTableNode* next = node->next;
      freeNode(record, node);
      node = next;
    }
  }
}

// A stored byte string always carries the word 1 in its header.
bool storedBlockWellFormed(int32_t kind, KeyWord stored) noexcept {
  return kind != kByteStringKind || stored.isZero() || stored.asBytes()->one == 1;
}

}  // namespace

int32_t thresholdFor(int32_t bucketCount, float loadFactor) noexcept {
  const double product = static_cast<double>(bucketCount) * static_cast<double>(loadFactor);
  if (!(product < static_cast<double>(INT32_MAX))) return INT32_MAX;
  return static_cast<int32_t>(product);
}

SharedTableRecord* newRecord(platform::HeapHandle heap, int32_t keyKind, int32_t valueKind,
                             int32_t bucketCount, float loadFactor) noexcept {
  auto* record = static_cast<SharedTableRecord*>(allocateTableBlock(heap, sizeof(SharedTableRecord)));
  if (record == nullptr) return nullptr;
  record->heap = heap;
  record->buckets = static_cast<SharedTableNode**>(
      allocateTableBlock(heap, sizeof(SharedTableNode*) * static_cast<std::size_t>(bucketCount)));
  if (record->buckets == nullptr) {
    freeTableBlock(heap, record);
    return nullptr;
  }
  record->bucketCount = bucketCount;
  record->loadFactor = loadFactor;
  record->threshold = thresholdFor(bucketCount, loadFactor);
  record->keyKind = keyKind;
  record->valueKind = valueKind;
  return record;
}

void freeRecord(SharedTableRecord* record) noexcept {
  if (record == nullptr) return;
  freeAllNodes(*record);
  platform::HeapHandle heap = record->heap;
  freeTableBlock(heap, record->buckets);
  freeTableBlock(heap, record);
}

SharedTableNode** findLink(const SharedTableRecord& record, KeyWord key, uint32_t hash) noexcept {
  SharedTableNode** link = &record.buckets[bucketIndex(hash, record.bucketCount)];
  while (*link != nullptr &&
         ((*link)->hash != hash || !wordsEqual(record.keyKind, (*link)->key, key)))
    link = &(*link)->next;
  return link;
}

int32_t insertInto(SharedTableRecord& record, KeyWord key, KeyWord value) noexcept {
  const uint32_t hash = hashWord(record.keyKind, key);
  if (SharedTableNode* found = *findLink(record, key, hash); found != nullptr) {
    KeyWord copy;
    if (!copyWordIn(record.heap, record.valueKind, value, &copy)) return kInsertOutOfMemory;
    freeStoredWord(record.heap, record.valueKind, found->value);
    found->value = copy;
    return kInsertReplaced;
  }
  if (record.entryCount == INT32_MAX) return kInsertOutOfMemory;

  // Everything the new entry needs is allocated before the table is touched,
  // so a failure leaves it exactly as it was.
  auto* node = static_cast<SharedTableNode*>(allocateTableBlock(record.heap, sizeof(SharedTableNode)));
  if (node == nullptr) return kInsertOutOfMemory;
  if (!copyWordIn(record.heap, record.keyKind, key, &node->key)) {
    freeTableBlock(record.heap, node);
    return kInsertOutOfMemory;
  }
  if (!copyWordIn(record.heap, record.valueKind, value, &node->value)) {
    freeStoredWord(record.heap, record.keyKind, node->key);
    freeTableBlock(record.heap, node);
    return kInsertOutOfMemory;
  }
  node->hash = hash;

  if (record.entryCount >= record.threshold) growRecord(record);
  SharedTableNode*& head = record.buckets[bucketIndex(hash, record.bucketCount)];
  node->next = head;
  head = node;
  ++record.entryCount;
  return kInsertAdded;
}

bool growRecord(SharedTableRecord& record) noexcept {
  const int64_t grown = int64_t{record.bucketCount} * 2 + 1;
  if (grown > INT32_MAX) return false;
  const auto newCount = static_cast<int32_t>(grown);
  auto* newBuckets = static_cast<SharedTableNode**>(
      allocateTableBlock(record.heap, sizeof(SharedTableNode*) * static_cast<std::size_t>(newCount)));
  if (newBuckets == nullptr) return false;

  for (int32_t b = 0; b < record.bucketCount; ++b) {
    for (SharedTableNode* node = record.buckets[b]; node != nullptr;) {
      SharedTableNode* next = node->next;
      SharedTableNode*& head = newBuckets[bucketIndex(node->hash, newCount)];
      node->next = head;
      head = node;
      node = next;
    }
  }
  freeTableBlock(record.heap, record.buckets);
  record.buckets = newBuckets;
  record.bucketCount = newCount;
  record.threshold = thresholdFor(newCount, record.loadFactor);
  return true;
}

bool removeFrom(SharedTableRecord& record, KeyWord key) noexcept {
  SharedTableNode** link = findLink(record, key, hashWord(record.keyKind, key));
  SharedTableNode* node = *link;
  if (node == nullptr) return false;
  *link = node->next;
  --record.entryCount;
  freeNode(record, node);
  return true;
}

void removeAllFrom(SharedTableRecord& record) noexcept {
  freeAllNodes(record);
  for (int32_t b = 0; b < record.bucketCount; ++b) record.buckets[b] = nullptr;
  record.entryCount = 0;
}

bool validateRecord(const SharedTableRecord& record) noexcept {
  if (record.heap == nullptr || record.buckets == nullptr || record.bucketCount < 1) return false;
  if (!isSharedTableKind(record.keyKind) || !isSharedTableKind(record.valueKind)) return false;
  if (!(static_cast<double>(record.loadFactor) > 1e-7)) return false;
  if (record.threshold != thresholdFor(record.bucketCount, record.loadFactor)) return false;
  if (record.walkDepth < 0) return false;
  int64_t nodes = 0;
  for (int32_t b = 0; b < record.bucketCount; ++b) {
    for (const SharedTableNode* node = record.buckets[b]; node != nullptr; node = node->next) {
      if (++nodes > record.entryCount) return false;  // also stops on a cycle
      if (node->hash != hashWord(record.keyKind, node->key)) return false;
      if (bucketIndex(node->hash, record.bucketCount) != b) return false;
      if (!storedBlockWellFormed(record.keyKind, node->key) ||
          !storedBlockWellFormed(record.valueKind, node->value))
        return false;
      int64_t steps = 0;
      for (const SharedTableNode* later = node->next; later != nullptr; later = later->next) {
        if (++steps > record.entryCount) return false;
        if (later->hash == node->hash && wordsEqual(record.keyKind, later->key, node->key)) return false;
      }
    }
  }
  return nodes == record.entryCount;
}

}  // namespace linemint
