#include "fasthash/fast_hash_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <set>

#include "test_support.h"

namespace linemint {
namespace {

class FastHashTableCreate : public testing::Test {
 protected:
  void SetUp() override { test::realFeatures(); }
};

TEST_F(FastHashTableCreate, ConstructedObjectIsNotCreated) {
  FastHashTable t;
  const FastTableRecord& r = t.record();
  EXPECT_EQ(r.heap, nullptr);
  EXPECT_EQ(r.buckets, nullptr);
  EXPECT_EQ(r.valueTag, 0x80000301u);
  EXPECT_EQ(r.bucketCount, 0u);
  EXPECT_EQ(r.keyKind, 0);
  int32_t key = 1, value = 2;
  EXPECT_EQ(t.insert(&key, &value), 0);
  EXPECT_EQ(t.contains(&key), 0);
  EXPECT_VALID(t);
}

TEST_F(FastHashTableCreate, DefaultsOfTheDeduplicationTable) {
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  const FastTableRecord& r = t.record();
  EXPECT_EQ(r.bucketCount, 16u);
  EXPECT_EQ(r.loadFactor, 0.75f);
  EXPECT_EQ(r.threshold, 12);
  EXPECT_EQ(r.indexShift, 28u);
  EXPECT_EQ(r.valueSize, 4);
  EXPECT_EQ(r.valueTag, 0x80000301u);
  EXPECT_EQ(r.autoShrink, 1);
  EXPECT_EQ(r.keyKind, 10);
  EXPECT_EQ(r.valueKind, 3);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.cursorBucket, 0);
  EXPECT_EQ(r.cursorNode, nullptr);
  EXPECT_EQ(r.useCrc32, static_cast<int32_t>(platform::cpuFeatures.sse42));
  EXPECT_EQ(r.allocateHeap, platform::heapEntryPoints.allocateHeap);
  EXPECT_EQ(r.freeHeap, platform::heapEntryPoints.freeHeap);
  EXPECT_EQ(r.reallocateHeap, platform::heapEntryPoints.reallocateHeap);
  EXPECT_EQ(r.processHeap, platform::processHeap());
  EXPECT_NE(r.pool, nullptr);
  EXPECT_VALID(t);
}

TEST_F(FastHashTableCreate, BucketCountNormalisation) {
  struct Case {
    int32_t given;
    uint32_t buckets;
  } cases[] = {{15, 16}, {16, 16}, {17, 16}, {1000, 512}, {1024, 1024}, {-5, 16}, {0, 16},
               {std::numeric_limits<int32_t>::min(), 16}, {(1 << 20) + 1, 1 << 20}};
  for (const Case& c : cases) {
    FastHashTable t;
    ASSERT_EQ(t.create(3, 3, c.given), 1) << c.given;
    EXPECT_EQ(t.record().bucketCount, c.buckets) << c.given;
    EXPECT_EQ(t.record().indexShift, 32 - FastHashTable::log2Exact(c.buckets)) << c.given;
    EXPECT_VALID(t);
  }
}

TEST_F(FastHashTableCreate, LoadFactorNormalisation) {
  struct Case {
    std::optional<float> given;
    float used;
    int32_t threshold;  // for 16 buckets
  } cases[] = {{1.0f, 0.75f, 12},  {0.0f, 0.75f, 12},  {-0.5f, 0.75f, 12}, {std::nanf(""), 0.75f, 12},
               {std::nullopt, 0.75f, 12}, {0.5f, 0.5f, 8}, {2.0f, 0.75f, 12}, {1e-8f, 0.75f, 12},
               {0.999f, 0.999f, 15}, {0.1f, 0.1f, 1}};
  for (const Case& c : cases) {
    FastHashTable t;
    ASSERT_EQ(t.create(3, 3, std::nullopt, c.given), 1);
    EXPECT_EQ(t.record().loadFactor, c.used) << (c.given ? *c.given : -1.0f);
    EXPECT_EQ(t.record().threshold, c.threshold);
    EXPECT_VALID(t);
  }
}

TEST_F(FastHashTableCreate, KindNormalisationSizesAndTags) {
  struct Case {
    int32_t keyKind, valueKind;
    int32_t usedKey, usedValue, valueSize;
    uint32_t tag;
  } cases[] = {
      {5, 9, 3, 3, 4, 0x80000301u},    {4, 6, 4, 6, 8, 0x80000601u},  {3, 99, 3, 99, 4, 0x80000301u},
      {10, 2, 10, 2, 4, 0x80000201u},  {11, 4, 11, 4, 8, 0x80000401u}, {3, 5, 3, 5, 4, 0x80000501u},
      {3, 7, 3, 7, 4, 0x80000002u},    {3, 8, 3, 8, 8, 0x80000003u},   {3, 10, 3, 10, 8, 0x80000004u},
      {3, 11, 3, 11, 8, 0x80000005u},  {0, 1, 3, 3, 4, 0x80000301u},   {-1, 100, 3, 3, 4, 0x80000301u},
  };
  for (const Case& c : cases) {
    FastHashTable t;
    ASSERT_EQ(t.create(c.keyKind, c.valueKind), 1);
    EXPECT_EQ(t.record().keyKind, c.usedKey) << c.keyKind;
    EXPECT_EQ(t.record().valueKind, c.usedValue) << c.valueKind;
    EXPECT_EQ(t.record().valueSize, c.valueSize) << c.valueKind;
    EXPECT_EQ(t.record().valueTag, c.tag) << c.valueKind;
  }
}

TEST_F(FastHashTableCreate, AutoShrinkGivenIsStoredAsItIs) {
  for (const int32_t given : {0, 1, 7, -3}) {
    FastHashTable t;
    ASSERT_EQ(t.create(3, 3, std::nullopt, std::nullopt, given), 1);
    EXPECT_EQ(t.record().autoShrink, given);
  }
}

TEST_F(FastHashTableCreate, CreateAgainEmptiesTheTable) {
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  const char* key = "first line";
  int32_t value = 0;
  ASSERT_EQ(t.insert(&key, &value), 1);
  ASSERT_EQ(t.create(10, 3), 1);
  EXPECT_EQ(t.record().count, 0);
  EXPECT_EQ(t.contains(&key), 0);
  // maxTextKeyLength survives create.
  EXPECT_EQ(t.record().maxTextKeyLength, 10u);
  EXPECT_VALID(t);
}

TEST_F(FastHashTableCreate, DestroyTwiceAndOnANeverCreatedObject) {
  FastHashTable never;
  never.destroy();
  never.destroy();
  EXPECT_VALID(never);

  FastHashTable t;
  ASSERT_EQ(t.create(4, 6), 1);
  int64_t key = 5;
  double value = 1.5;
  ASSERT_EQ(t.insert(&key, &value), 1);
  t.destroy();
  t.destroy();
  const FastTableRecord& r = t.record();
  EXPECT_EQ(r.heap, nullptr);
  EXPECT_EQ(r.buckets, nullptr);
  EXPECT_EQ(r.bucketCount, 0u);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.keyKind, 4) << "the kinds stay readable after destroy";
  EXPECT_EQ(r.valueKind, 6);
  EXPECT_EQ(t.insert(&key, &value), 0);
  EXPECT_EQ(t.contains(&key), 0);
  EXPECT_VALID(t);
}

// Counts handles and checks that each is released once.
class CountingHandler : public ValueHandler {
 public:
  Handle newValue() noexcept override { return ++issued_; }
  Handle copyValue(const Handle& h) noexcept override {
    ++copies;
    live_.insert(h + 1000);
    return h + 1000;
  }
  void releaseValue(Handle h) noexcept override {
    ++releases;
    EXPECT_EQ(live_.erase(h), 1u) << "handle " << h << " released twice or never issued";
  }
  size_t live() const { return live_.size(); }
  int copies = 0;
  int releases = 0;

 private:
  Handle issued_ = 0;
  std::set<Handle> live_;
};

TEST_F(FastHashTableCreate, DestroyReleasesEachStoredHandleOnce) {
  CountingHandler handler;
  FastHashTable t;
  FastHashTableTestPeer::record(t).valueHandler = &handler;  // installed as setValueHandler would
  ASSERT_EQ(t.create(3, 99), 1);
  const Handle values[] = {1, 2, 0, 3};
  for (int32_t key = 0; key < 4; ++key) ASSERT_EQ(t.insert(&key, &values[key]), 1);
  EXPECT_EQ(handler.copies, 3) << "a zero handle is stored without the handler";
  // Replacing key 0 copies the new handle and releases the old one.
  const Handle replacement = 7;
  int32_t key0 = 0;
  EXPECT_EQ(t.insert(&key0, &replacement), 2);
  EXPECT_EQ(handler.releases, 1);
  EXPECT_VALID(t);
  // create tears the old table down first, releasing its three live handles.
  ASSERT_EQ(t.create(3, 99), 1);
  EXPECT_EQ(handler.releases, 4);
  EXPECT_EQ(handler.live(), 0u);
  EXPECT_EQ(t.record().valueHandler, &handler) << "the handler survives create";
  t.destroy();
  EXPECT_EQ(handler.releases, 4);
}

TEST_F(FastHashTableCreate, HandledValuesNeedAHandler) {
  FastHashTable t;
  ASSERT_EQ(t.create(3, 99), 1);
  int32_t key = 1;
  const Handle h = 5;
  EXPECT_EQ(t.insert(&key, &h), 0);
  EXPECT_EQ(t.record().count, 0);
}

// A handle handed out by the table itself (as get does) can be stored again
// under its key: it is copied before the old one is released.
TEST_F(FastHashTableCreate, ReinsertingTheStoredHandleCopiesBeforeReleasing) {
  CountingHandler handler;
  FastHashTable t;
  FastHashTableTestPeer::record(t).valueHandler = &handler;  // installed as setValueHandler would
  ASSERT_EQ(t.create(3, 99), 1);
  int32_t key = 1;
  const Handle h = 5;
  ASSERT_EQ(t.insert(&key, &h), 1);
  Handle stored = fasthash::load32(fasthash::nodeValue(fasthash::findNode(t.record(), &key)));
  ASSERT_EQ(stored, 1005u);
  EXPECT_EQ(t.insert(&key, &stored), 2);  // copyValue(1005) while 1005 still lives
  EXPECT_EQ(handler.live(), 1u);
  t.destroy();
  EXPECT_EQ(handler.live(), 0u);
}

TEST(FastHashTableHelpers, Log2ExactAndFloorPowerOfTwo) {
  struct Case {
    uint32_t n, log2, floor;
  } cases[] = {{0, 0, 0},          {1, 0, 1},          {2, 1, 2},           {3, 0, 2},
               {16, 4, 16},        {17, 0, 16},        {1000, 0, 512},      {1u << 30, 30, 1u << 30},
               {1u << 31, 31, 1u << 31}, {0xFFFFFFFFu, 0, 1u << 31}, {(1u << 31) + 1, 0, 1u << 31}};
  for (const Case& c : cases) {
    EXPECT_EQ(FastHashTable::log2Exact(c.n), c.log2) << c.n;
    EXPECT_EQ(FastHashTable::floorPowerOfTwo(c.n), c.floor) << c.n;
  }
}

}  // namespace
}  // namespace linemint
