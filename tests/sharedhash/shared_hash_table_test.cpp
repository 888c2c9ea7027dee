// The handle: creation, sharing through copies, reference counting, and the
// answers of a handle that is not created.
#include "sharedhash/shared_hash_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "table_test_support.h"

namespace linemint {
namespace {

using testing::textOf;

struct CreateCase {
  const char* name;
  std::optional<int32_t> bucketCount;
  std::optional<float> loadFactor;
  int32_t expectedBuckets;
  int32_t expectedThreshold;
};

TEST(SharedHashTableCreate, SettingsAndThreshold) {
  const CreateCase cases[] = {
      {"defaults", std::nullopt, std::nullopt, 11, 8},
      {"5 buckets", 5, std::nullopt, 5, 3},
      {"load factor 2", 11, 2.0f, 11, 22},
      {"load factor only", std::nullopt, 0.05f, 11, 0},
      {"0 buckets become 1", 0, std::nullopt, 1, 0},
      {"huge load factor saturates", 11, 1e30f, 11, INT32_MAX},
      {"infinite load factor saturates", 11, std::numeric_limits<float>::infinity(), 11, INT32_MAX},
  };
  for (const CreateCase& c : cases) {
    SharedHashTable t;
    ASSERT_TRUE(t.create(kTextKind, kIntegerKind, c.bucketCount, c.loadFactor)) << c.name;
    EXPECT_TRUE(t.isCreated()) << c.name;
    EXPECT_EQ(t.count(), 0) << c.name;
    EXPECT_EQ(t.record()->bucketCount, c.expectedBuckets) << c.name;
    EXPECT_EQ(t.record()->threshold, c.expectedThreshold) << c.name;
    EXPECT_EQ(t.record()->keyKind, kTextKind) << c.name;
    EXPECT_EQ(t.record()->valueKind, kIntegerKind) << c.name;
    EXPECT_VALID(t);
  }
}

struct RefusedCase {
  const char* name;
  int32_t keyKind, valueKind;
  std::optional<int32_t> bucketCount;
  std::optional<float> loadFactor;
};

// A refused create changes nothing: the handle keeps its table and entries.
TEST(SharedHashTableCreate, RefusedLeavesTheOldTable) {
  const RefusedCase cases[] = {
      {"load factor 0", kTextKind, kIntegerKind, std::nullopt, 0.0f},
      {"negative load factor", kTextKind, kIntegerKind, std::nullopt, -1.0f},
      {"load factor 1e-8", kTextKind, kIntegerKind, std::nullopt, 1e-8f},
      {"NaN load factor", kTextKind, kIntegerKind, std::nullopt, std::nanf("")},
      {"bucket count -1", kTextKind, kIntegerKind, -1, std::nullopt},
      {"bucket count INT_MIN", kTextKind, kIntegerKind, INT32_MIN, std::nullopt},
      {"key kind 4", 4, kIntegerKind, std::nullopt, std::nullopt},
      {"value kind 99", kTextKind, 99, std::nullopt, std::nullopt},
  };
  for (const RefusedCase& c : cases) {
    SharedHashTable t;
    ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
    t.insert(KeyWord::text("kept"), KeyWord::integer(7));
    const SharedTableRecord* before = t.record();
    EXPECT_FALSE(t.create(c.keyKind, c.valueKind, c.bucketCount, c.loadFactor)) << c.name;
    EXPECT_EQ(t.record(), before) << c.name;
    EXPECT_EQ(t.count(), 1) << c.name;
    EXPECT_EQ(t.get(KeyWord::text("kept")).asInteger(), 7) << c.name;

    SharedHashTable fresh;
    EXPECT_FALSE(fresh.create(c.keyKind, c.valueKind, c.bucketCount, c.loadFactor)) << c.name;
    EXPECT_FALSE(fresh.isCreated()) << c.name;
  }
}

TEST(SharedHashTableCreate, LoadFactorJustAboveTheFloorIsAccepted) {
  SharedHashTable t;
  EXPECT_TRUE(t.create(kIntegerKind, kIntegerKind, 11, 2e-7f));
  EXPECT_EQ(t.record()->threshold, 0);
}

// A one-bucket table works like any other: it grows 1 -> 3 -> 7.
TEST(SharedHashTableCreate, ZeroBucketTableTakesEntries) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind, 0));
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(t.insert(KeyWord::integer(k), KeyWord::integer(k * 10)), 0);
    EXPECT_VALID(t);
  }
  EXPECT_EQ(t.record()->bucketCount, 7);
  for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(t.get(KeyWord::integer(k)).asInteger(), k * 10);
}

TEST(SharedHashTableHandle, NotCreatedAnswersAndAllocatesNothing) {
  SharedHashTable t;
  const int64_t allocations = tableAllocationCountForTesting();
  EXPECT_FALSE(t.isCreated());
  EXPECT_EQ(t.count(), 0);
  EXPECT_EQ(t.insert(KeyWord::text("a"), KeyWord::integer(1)), -1);
  EXPECT_TRUE(t.get(KeyWord::text("a")).isZero());
  EXPECT_FALSE(t.containsKey(KeyWord::text("a")));
  EXPECT_FALSE(t.remove(KeyWord::text("a")));
  t.removeAll();
  t.reset();
  EXPECT_EQ(t.addReference(), 0);
  EXPECT_EQ(t.release(), 0);
  SharedTableState* state = reinterpret_cast<SharedTableState*>(&t);
  EXPECT_EQ(t.query(nullptr, &state), 0);
  EXPECT_EQ(state, nullptr);
  EXPECT_FALSE(t.copy().isCreated());
  EXPECT_EQ(t.record(), nullptr);
  EXPECT_VALID(t);
  EXPECT_EQ(tableAllocationCountForTesting(), allocations);
}

TEST(SharedHashTableHandle, CopiesShareEntriesUntilTheLastLetsGo) {
  const int64_t blocksBefore = tableBlocksInUseForTesting();
  {
    SharedHashTable a;
    ASSERT_TRUE(a.create(kTextKind, kTextKind));
    SharedHashTable b = a.copy();
    SharedHashTable c(a);
    EXPECT_EQ(b.record(), a.record());
    EXPECT_EQ(b.insert(KeyWord::text("x"), KeyWord::text("1")), 0);
    EXPECT_EQ(a.insert(KeyWord::text("y"), KeyWord::text("2")), 0);
    EXPECT_EQ(a.count(), 2);
    EXPECT_EQ(c.count(), 2);
    SharedTableState* state = nullptr;
    a.query(nullptr, &state);
    EXPECT_EQ(state->referenceCount(), 3);

    a.reset();
    EXPECT_FALSE(a.isCreated());
    EXPECT_EQ(textOf(b.get(KeyWord::text("x"))), "1");
    EXPECT_EQ(textOf(c.get(KeyWord::text("y"))), "2");
    EXPECT_EQ(state->referenceCount(), 2);
    b.destroy();
    EXPECT_EQ(state->referenceCount(), 1);
    EXPECT_EQ(c.count(), 2);
    EXPECT_VALID(c);
    c.reset();
    // The last reset freed the state, the record, the buckets, the nodes and
    // the four stored texts.
    EXPECT_EQ(tableBlocksInUseForTesting(), blocksBefore);
  }
  EXPECT_EQ(tableBlocksInUseForTesting(), blocksBefore);
}

TEST(SharedHashTableHandle, CreateOnASharedHandleLeavesTheOtherItsEntries) {
  SharedHashTable a;
  ASSERT_TRUE(a.create(kTextKind, kIntegerKind));
  a.insert(KeyWord::text("old"), KeyWord::integer(1));
  SharedHashTable b = a;
  ASSERT_TRUE(a.create(kIntegerKind, kIntegerKind));
  EXPECT_EQ(a.count(), 0);
  EXPECT_NE(a.record(), b.record());
  EXPECT_EQ(b.count(), 1);
  EXPECT_TRUE(b.containsKey(KeyWord::text("old")));
  SharedTableState* state = nullptr;
  b.query(nullptr, &state);
  EXPECT_EQ(state->referenceCount(), 1);
}

// The application's pattern: one handle, created again for each run, which
// frees the previous run's entries.
TEST(SharedHashTableHandle, CreateAgainFreesTheUnsharedOldTable) {
  const int64_t blocksBefore = tableBlocksInUseForTesting();
  SharedHashTable t;
  for (int run = 0; run < 3; ++run) {
    ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
    for (int i = 0; i < 20; ++i) t.insert(KeyWord::text(std::to_string(i).c_str()), KeyWord::integer(0));
  }
  t.reset();
  EXPECT_EQ(tableBlocksInUseForTesting(), blocksBefore);
}

TEST(SharedHashTableHandle, AssignmentAndMove) {
  SharedHashTable a;
  ASSERT_TRUE(a.create(kIntegerKind, kIntegerKind));
  a.insert(KeyWord::integer(1), KeyWord::integer(2));
  SharedTableState* state = nullptr;
  a.query(nullptr, &state);

  SharedHashTable& alias = a;
  a = alias;  // self-assignment keeps the one reference
  EXPECT_EQ(state->referenceCount(), 1);

  SharedHashTable b;
  ASSERT_TRUE(b.create(kTextKind, kTextKind));
  b = a;  // b's own table is freed, b now shares a's
  EXPECT_EQ(state->referenceCount(), 2);
  EXPECT_EQ(b.get(KeyWord::integer(1)).asInteger(), 2);

  SharedHashTable moved(std::move(b));
  EXPECT_FALSE(b.isCreated());  // NOLINT(bugprone-use-after-move): a moved-from handle is not created
  EXPECT_EQ(state->referenceCount(), 2);
  SharedHashTable target;
  target = std::move(moved);
  EXPECT_EQ(state->referenceCount(), 2);
  EXPECT_EQ(target.count(), 1);
}

TEST(SharedHashTableHandle, ReferenceOperations) {
  SharedHashTable a;
  ASSERT_TRUE(a.create(kIntegerKind, kIntegerKind));
  SharedTableState* state = nullptr;
  EXPECT_EQ(a.query(reinterpret_cast<const void*>(0x1234), &state), 0);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->referenceCount(), 1);  // query takes no reference
  SharedTableState* again = nullptr;
  EXPECT_EQ(state->query(nullptr, &again), 0);
  EXPECT_EQ(again, state);

  // A raw holder takes its own reference and gives it back on the state.
  EXPECT_EQ(a.addReference(), 2);
  EXPECT_EQ(a.release(), 1);  // the handle lets go of its own...
  EXPECT_FALSE(a.isCreated());
  EXPECT_EQ(state->record()->entryCount, 0);  // ...the raw holder keeps the table
  EXPECT_EQ(state->release(), 0);
}

// Only the reference count is shared between threads: copies may be made and
// dropped concurrently.
TEST(SharedHashTableHandle, CopiesMadeAndDroppedOnManyThreads) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
  t.insert(KeyWord::text("shared"), KeyWord::integer(1));
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&t] {
      for (int j = 0; j < 20000; ++j) {
        SharedHashTable local = t;
        SharedHashTable other = local.copy();
      }
    });
  }
  for (auto& th : threads) th.join();
  SharedTableState* state = nullptr;
  t.query(nullptr, &state);
  EXPECT_EQ(state->referenceCount(), 1);
  EXPECT_EQ(t.count(), 1);
}

}  // namespace
}  // namespace linemint
