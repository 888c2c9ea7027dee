// The handle's walks over every entry, and its byte image.
#include "sharedhash/shared_hash_table.h"
#include "sharedhash/shared_table_image.h"
#include "sharedhash/word_rules.h"

namespace linemint {
namespace {

// Replaces out with the key or value of every node; -1, out untouched, when
// the array cannot be had.
int32_t collectWords(const SharedTableRecord& r, bool takeKeys, KeyWordArray& out) noexcept {
  KeyWordArray fresh = KeyWordArray::withCount(r.entryCount);
  if (!fresh.hasBlock()) return -1;
  KeyWord* next = fresh.data();
  walkNodes(r, [&](const SharedTableNode* node) {
    *next++ = takeKeys ? node->key : node->value;
    return false;
  });
  out = std::move(fresh);
  return r.entryCount;
}

}  // namespace

int32_t SharedHashTable::keys(KeyWordArray& out) const noexcept {
  return state_ == nullptr ? 0 : collectWords(*state_->record(), true, out);
}

int32_t SharedHashTable::values(KeyWordArray& out) const noexcept {
  return state_ == nullptr ? 0 : collectWords(*state_->record(), false, out);
}

int32_t SharedHashTable::keysWithValue(KeyWord value, KeyWordArray& out) const noexcept {
  if (state_ == nullptr) return 0;
  const SharedTableRecord& r = *state_->record();
  // Counted first so that the array is allocated once, at its final size.
  int32_t matches = 0;
  walkNodes(r, [&](const SharedTableNode* node) {
    matches += wordsEqual(r.valueKind, node->value, value) ? 1 : 0;
    return false;
  });
  KeyWordArray fresh = KeyWordArray::withCount(matches);
  if (!fresh.hasBlock()) return -1;
  KeyWord* next = fresh.data();
  walkNodes(r, [&](const SharedTableNode* node) {
    if (wordsEqual(r.valueKind, node->value, value)) *next++ = node->key;
    return false;
  });
  out = std::move(fresh);
  return matches;
}

bool SharedHashTable::containsValue(KeyWord value) const noexcept {
  if (state_ == nullptr) return false;
  const SharedTableRecord& r = *state_->record();
  return walkNodes(r, [&](const SharedTableNode* node) { return wordsEqual(r.valueKind, node->value, value); });
}

void SharedHashTable::forEach(EntryVisitor visitor, int32_t userData) const noexcept {
  if (state_ == nullptr || visitor == nullptr) return;
  // The walk's own reference keeps the state alive whatever the visitor does
  // to the handles; walkDepth makes every mutation of the record refuse, so
  // no node the walk stands on can be freed or relinked.
  SharedTableState* state = state_;
  state->addReference();
  SharedTableRecord& r = *state->record();
  ++r.walkDepth;
  walkNodes(r, [&](const SharedTableNode* node) { return visitor(node->key, node->value, userData) != 0; });
  --r.walkDepth;
  state->release();
}

platform::OwnedByteBuffer SharedHashTable::toBytes() const noexcept {
  if (state_ == nullptr) return platform::newByteBuffer(nullptr, 0);
  return writeImage(*state_->record());
}

bool SharedHashTable::fromBytes(std::span<const uint8_t> image) noexcept {
  SharedTableRecord* record = readImage(image);
  return record != nullptr && adoptRecord(record);
}

bool SharedHashTable::fromBytes(const platform::ByteBuffer* image) noexcept {
  if (image == nullptr) return false;
  return fromBytes(std::span<const uint8_t>(image->bytes(), image->length));
}

}  // namespace linemint
