// Running out of memory: every allocation of create and insert is made to
// fail in turn, and nothing may be lost, leaked or left half-changed.
#include <gtest/gtest.h>

#include <string>

#include "sharedhash/shared_hash_table.h"
#include "table_test_support.h"

namespace linemint {
namespace {

using testing::AllocationSeamGuard;
using testing::textOf;

// create allocates the record, the bucket array and the state.
TEST(SharedTableMemory, FailedCreateLeavesTheHandleAsItWas) {
  AllocationSeamGuard guard;
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  t.insert(KeyWord::text("kept"), KeyWord::text("value"));
  const SharedTableRecord* before = t.record();
  for (int64_t allowed = 0; allowed < 3; ++allowed) {
    const int64_t blocks = tableBlocksInUseForTesting();
    failTableAllocationsAfterForTesting(allowed);
    EXPECT_FALSE(t.create(kIntegerKind, kIntegerKind)) << allowed;
    failTableAllocationsAfterForTesting(-1);
    EXPECT_EQ(tableBlocksInUseForTesting(), blocks) << allowed;
    EXPECT_EQ(t.record(), before);
    EXPECT_EQ(textOf(t.get(KeyWord::text("kept"))), "value");
  }
  failTableAllocationsAfterForTesting(3);
  EXPECT_TRUE(t.create(kIntegerKind, kIntegerKind));
}

// A new entry allocates its node, its key copy and its value copy.
TEST(SharedTableMemory, FailedInsertChangesNothing) {
  AllocationSeamGuard guard;
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  t.insert(KeyWord::text("a"), KeyWord::text("1"));
  for (int64_t allowed = 0; allowed < 3; ++allowed) {
    const int64_t blocks = tableBlocksInUseForTesting();
    failTableAllocationsAfterForTesting(allowed);
    EXPECT_EQ(t.insert(KeyWord::text("b"), KeyWord::text("2")), -2) << allowed;
    failTableAllocationsAfterForTesting(-1);
    EXPECT_EQ(tableBlocksInUseForTesting(), blocks) << allowed;
    EXPECT_EQ(t.count(), 1);
    EXPECT_FALSE(t.containsKey(KeyWord::text("b")));
    EXPECT_VALID(t);
  }
  // A replacement allocates only the new value; on failure the old one stays.
  failTableAllocationsAfterForTesting(0);
  EXPECT_EQ(t.insert(KeyWord::text("a"), KeyWord::text("new")), -2);
  failTableAllocationsAfterForTesting(-1);
  EXPECT_EQ(textOf(t.get(KeyWord::text("a"))), "1");
  EXPECT_VALID(t);
}

// A growth that cannot be allocated is skipped: the entry still goes in, in
// the old bucket array, and the next insertion grows.
TEST(SharedTableMemory, FailedGrowthStillAddsTheEntry) {
  AllocationSeamGuard guard;
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
  for (int32_t k = 0; k < 8; ++k) t.insert(KeyWord::integer(k), KeyWord::integer(k));
  failTableAllocationsAfterForTesting(1);  // the node, then not the new buckets
  EXPECT_EQ(t.insert(KeyWord::integer(8), KeyWord::integer(8)), 0);
  failTableAllocationsAfterForTesting(-1);
  EXPECT_EQ(t.record()->bucketCount, 11);
  EXPECT_EQ(t.count(), 9);
  EXPECT_VALID(t);
  EXPECT_EQ(t.insert(KeyWord::integer(9), KeyWord::integer(9)), 0);
  EXPECT_EQ(t.record()->bucketCount, 23);
  for (int32_t k = 0; k < 10; ++k) EXPECT_EQ(t.get(KeyWord::integer(k)).asInteger(), k);
  EXPECT_VALID(t);
}

}  // namespace
}  // namespace linemint
