#include "sharedhash/shared_hash_table.h"

#include "platform/heap.h"
#include "sharedhash/word_rules.h"

namespace linemint {

SharedHashTable::SharedHashTable(const SharedHashTable& other) noexcept : state_(other.state_) {
  if (state_ != nullptr) state_->addReference();
}

SharedHashTable& SharedHashTable::operator=(const SharedHashTable& other) noexcept {
  // Take the new reference before dropping the old one: safe for self-assignment.
  if (other.state_ != nullptr) other.state_->addReference();
  SharedTableState* old = state_;
  state_ = other.state_;
  if (old != nullptr) old->release();
  return *this;
}

SharedHashTable::SharedHashTable(SharedHashTable&& other) noexcept : state_(other.state_) {
  other.state_ = nullptr;
}

SharedHashTable& SharedHashTable::operator=(SharedHashTable&& other) noexcept {
  if (this != &other) {
    SharedTableState* old = state_;
    state_ = other.state_;
    other.state_ = nullptr;
    if (old != nullptr) old->release();
  }
  return *this;
}

SharedHashTable::~SharedHashTable() { reset(); }

void SharedHashTable::destroy() noexcept { reset(); }

SharedHashTable SharedHashTable::copy() const noexcept { return SharedHashTable(*this); }

int32_t SharedHashTable::query(const void* interfaceId, SharedTableState** out) const noexcept {
  if (state_ != nullptr) return state_->query(interfaceId, out);
  if (out != nullptr) *out = nullptr;
  return 0;
}

int32_t SharedHashTable::addReference() noexcept {
  return state_ == nullptr ? 0 : state_->addReference();
}

int32_t SharedHashTable::release() noexcept {
  if (state_ == nullptr) return 0;
  SharedTableState* old = state_;
  state_ = nullptr;
  return old->release();
}

void SharedHashTable::reset() noexcept {
  // The handle is emptied before the state may be freed, so nothing reached
  // from the freeing can see a handle pointing at a dead state.
  SharedTableState* old = state_;
  state_ = nullptr;
  if (old != nullptr) old->release();
}

bool SharedHashTable::adoptRecord(SharedTableRecord* record) noexcept {
  SharedTableState* fresh = SharedTableState::make(record);
  if (fresh == nullptr) {
    freeRecord(record);
    return false;
  }
  SharedTableState* old = state_;
  state_ = fresh;
  if (old != nullptr) old->release();
  return true;
}

bool SharedHashTable::create(int32_t keyKind, int32_t valueKind, std::optional<int32_t> bucketCount,
                             std::optional<float> loadFactor) noexcept {
  const int32_t buckets = bucketCount.value_or(kDefaultBucketCount);
  const float factor = loadFactor.value_or(kDefaultLoadFactor);
  if (!isSharedTableKind(keyKind) || !isSharedTableKind(valueKind)) return false;
  if (buckets < 0) return false;
  if (!(static_cast<double>(factor) > 1e-7)) return false;
  platform::HeapHandle heap = platform::processHeap();
  if (heap == nullptr) return false;
  SharedTableRecord* record = newRecord(heap, keyKind, valueKind, buckets == 0 ? 1 : buckets, factor);
  if (record == nullptr) return false;
  return adoptRecord(record);
}

int32_t SharedHashTable::count() const noexcept {
  return state_ == nullptr ? 0 : state_->record()->entryCount;
}

SharedTableRecord* SharedHashTable::mutableRecord() const noexcept {
  if (state_ == nullptr || state_->record()->walkDepth != 0) return nullptr;
  return state_->record();
}

int32_t SharedHashTable::insert(KeyWord key, KeyWord value) noexcept {
  SharedTableRecord* r = mutableRecord();
  return r == nullptr ? kInsertRefused : insertInto(*r, key, value);
}

KeyWord SharedHashTable::get(KeyWord key) const noexcept {
  if (state_ == nullptr) return KeyWord();
  const SharedTableRecord& r = *state_->record();
  const SharedTableNode* node = *findLink(r, key, hashWord(r.keyKind, key));
  return node == nullptr ? KeyWord() : node->value;
}

bool SharedHashTable::containsKey(KeyWord key) const noexcept {
  if (state_ == nullptr) return false;
  const SharedTableRecord& r = *state_->record();
  return *findLink(r, key, hashWord(r.keyKind, key)) != nullptr;
}

bool SharedHashTable::remove(KeyWord key) noexcept {
  SharedTableRecord* r = mutableRecord();
  return r != nullptr && removeFrom(*r, key);
}

void SharedHashTable::removeAll() noexcept {
  if (SharedTableRecord* r = mutableRecord(); r != nullptr) removeAllFrom(*r);
}

bool SharedHashTable::validate() const noexcept {
  if (state_ == nullptr) return true;
  return state_->referenceCount() > 0 && state_->record() != nullptr && validateRecord(*state_->record());
}

}  // namespace linemint
