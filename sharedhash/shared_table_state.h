// SharedTableState: the reference-counted object that every handle to one
// table refers to. It owns the record, and through it every node and stored
// copy; the last release frees them all.
//
// Layout (16 bytes, in memory only; allocated zero-filled on the process heap):
//   referenceCount  4  std::atomic<int32_t>, 1 when made; changed only by
//                      atomic increment and decrement
//   (padding)       4
//   record          8  the SharedTableRecord, never null for a made state
#pragma once

#include <atomic>
#include <cstdint>

#include "sharedhash/shared_table_record.h"

namespace linemint {

class SharedTableState {
 public:
  // A new state with a count of 1 that owns `record`. Null when memory runs
  // out; the record is then still the caller's.
  // REQUIRES: record is not null and owned by nobody else.
  static SharedTableState* make(SharedTableRecord* record) noexcept;

  SharedTableState(const SharedTableState&) = delete;
  SharedTableState& operator=(const SharedTableState&) = delete;

  // Stores this state in *out (when out is not null) and returns 0, whatever
  // the interface identifier. Takes no reference.
  int32_t query(const void* interfaceId, SharedTableState** out) noexcept;

  // Atomically adds one reference; returns the new count.
  int32_t addReference() noexcept;

  // Atomically drops one reference; returns the new count. At 0 the table
  // (record, buckets, nodes, stored copies) and then this state are freed.
  // REQUIRES: the caller holds the reference it gives back, and does not use
  // the state afterwards unless it holds another.
  int32_t release() noexcept;

  int32_t referenceCount() const noexcept { return referenceCount_.load(std::memory_order_acquire); }
  SharedTableRecord* record() const noexcept { return record_; }

 private:
  explicit SharedTableState(SharedTableRecord* record) noexcept : referenceCount_(1), record_(record) {}
  ~SharedTableState() = default;

  std::atomic<int32_t> referenceCount_;
  SharedTableRecord* record_;
};
static_assert(sizeof(SharedTableState) == 16);

}  // namespace linemint
