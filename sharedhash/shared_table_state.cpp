#include "sharedhash/shared_table_state.h"

#include <new>

#include "sharedhash/table_memory.h"

namespace linemint {

SharedTableState* SharedTableState::make(SharedTableRecord* record) noexcept {
  void* block = allocateTableBlock(platform::processHeap(), sizeof(SharedTableState));
  if (block == nullptr) return nullptr;
  return new (block) SharedTableState(record);
}

int32_t SharedTableState::query(const void* /*interfaceId*/, SharedTableState** out) noexcept {
  if (out != nullptr) *out = this;
  return 0;
}

int32_t SharedTableState::addReference() noexcept {
  return referenceCount_.fetch_add(1, std::memory_order_relaxed) + 1;
}

int32_t SharedTableState::release() noexcept {
  // acq_rel: the thread that frees the table must see every write that other
  // holders made before they let go.
  const int32_t remaining = referenceCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (remaining == 0) {
    if (record_ != nullptr) freeRecord(record_);
    this->~SharedTableState();
    freeTableBlock(platform::processHeap(), this);
  }
  return remaining;
}

}  // namespace linemint
