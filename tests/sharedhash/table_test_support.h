// Helpers shared by the SharedHashTable tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_buffer.h"
#include "sharedhash/key_word.h"
#include "sharedhash/shared_hash_table.h"
#include "sharedhash/table_memory.h"

namespace linemint::testing {

// A byte-string block (word 1, length, data) on the process heap.
inline platform::OwnedByteBuffer block(std::string_view data) {
  return platform::newByteBuffer(data.data(), static_cast<uint32_t>(data.size()));
}

// The data bytes of a block word; "<null>" for null.
inline std::string blockData(KeyWord w) {
  if (w.isZero()) return "<null>";
  return std::string(reinterpret_cast<const char*>(w.asBytes()->bytes()), w.asBytes()->length);
}

inline std::string textOf(KeyWord w) { return w.isZero() ? "<null>" : std::string(w.asText()); }

// The integer keys of one chain, head first.
inline std::vector<int32_t> integerChain(const SharedHashTable& t, int32_t bucket) {
  std::vector<int32_t> keys;
  for (const SharedTableNode* n = t.record()->buckets[bucket]; n != nullptr; n = n->next)
    keys.push_back(n->key.asInteger());
  return keys;
}

// Restores the allocation-failure seam when a test ends, whatever happens.
struct AllocationSeamGuard {
  ~AllocationSeamGuard() { failTableAllocationsAfterForTesting(-1); }
};

}  // namespace linemint::testing

// Checks the table's invariants; tests use it after every mutation.
#define EXPECT_VALID(table) EXPECT_TRUE((table).validate()) << "invariants broken"
