// Growth and rehash: order of nodes across a resize, thresholds, and the
// callers' cursor reset.
#include <gtest/gtest.h>

#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"
#include "test_support.h"

namespace linemint {
namespace {

using Peer = FastHashTableTestPeer;

// The integer keys of one chain, head to tail (key kind 3).
std::vector<int32_t> chain(const FastHashTable& t, uint32_t bucket) {
  std::vector<int32_t> keys;
  for (const fasthash::Node* n = t.record().buckets[bucket]; n != nullptr; n = fasthash::nodeNext(n))
    keys.push_back(static_cast<int32_t>(fasthash::nodeHash(n)));
  return keys;
}

class Growth : public testing::Test {
 protected:
  void SetUp() override {
    test::realFeatures();
    ASSERT_EQ(t_.create(3, 3), 1);
  }
  void insert(int32_t key) {
    const int32_t value = key * 10;
    ASSERT_EQ(t_.insert(&key, &value), 1) << key;
    ASSERT_VALID(t_);
  }
  FastHashTable t_;
};

TEST_F(Growth, ThirteenthKeyDoublesADefaultTable) {
  for (int32_t k = 100; k < 112; ++k) insert(k);
  EXPECT_EQ(t_.record().bucketCount, 16u);
  insert(112);
  EXPECT_EQ(t_.record().bucketCount, 32u);
  EXPECT_EQ(t_.record().threshold, 24);
  EXPECT_EQ(t_.record().indexShift, 27u);
  for (int32_t k = 100; k <= 112; ++k) EXPECT_EQ(t_.contains(&k), 1) << k;
  // Sizes keep doubling: 32 (24), 64 (48), 128 (96).
  for (int32_t k = 113; k < 100 + 25; ++k) insert(k);
  EXPECT_EQ(t_.record().bucketCount, 64u);
  EXPECT_EQ(t_.record().threshold, 48);
}

TEST_F(Growth, DoublingSplitsAChainKeepingItsOrder) {
  for (const int32_t k : {1, 17, 33, 49}) insert(k);
  EXPECT_EQ(chain(t_, 1), (std::vector<int32_t>{1, 17, 33, 49}));
  for (int32_t k = 2; k <= 10; ++k) insert(k);
  ASSERT_EQ(t_.record().bucketCount, 32u);
  EXPECT_EQ(chain(t_, 1), (std::vector<int32_t>{1, 33}));
  EXPECT_EQ(chain(t_, 17), (std::vector<int32_t>{17, 49}));
}

TEST_F(Growth, GrowthResetsTheCursor) {
  FastTableRecord& r = Peer::record(t_);
  for (int32_t k = 0; k < 12; ++k) insert(k);
  r.cursorBucket = 5;
  r.cursorNode = r.buckets[4];
  insert(12);  // grows
  EXPECT_EQ(r.cursorBucket, 0);
  EXPECT_EQ(r.cursorNode, nullptr);
}

TEST_F(Growth, ResizeToTheSameCountChangesNothing) {
  for (int32_t k = 0; k < 5; ++k) insert(k);
  fasthash::Node** before = t_.record().buckets;
  Peer::resize(t_, 16);
  EXPECT_EQ(t_.record().buckets, before) << "no new array";
  EXPECT_EQ(t_.record().bucketCount, 16u);
  EXPECT_VALID(t_);
}

TEST_F(Growth, HalvingPutsTheLowerBucketFirst) {
  ASSERT_EQ(t_.create(3, 3, 32), 1);
  // Buckets 3 and 19 of 32 both fold into bucket 3 of 16.
  for (const int32_t k : {19, 3, 51, 35, 7}) insert(k);
  EXPECT_EQ(chain(t_, 3), (std::vector<int32_t>{3, 35}));
  EXPECT_EQ(chain(t_, 19), (std::vector<int32_t>{19, 51}));
  Peer::resize(t_, 16);
  ASSERT_VALID(t_);
  EXPECT_EQ(t_.record().threshold, 12);
  EXPECT_EQ(t_.record().indexShift, 28u);
  EXPECT_EQ(chain(t_, 3), (std::vector<int32_t>{3, 35, 19, 51}));
  EXPECT_EQ(chain(t_, 7), (std::vector<int32_t>{7}));
}

// Resizes by other factors keep the walk order too: a node lands after every
// node that came before it in the old walk.
TEST_F(Growth, ResizeByOtherFactorsKeepsWalkOrder) {
  ASSERT_EQ(t_.create(3, 3, 1024, 0.9f), 1);
  std::vector<int32_t> keys;
  for (int32_t k = 0; k < 600; ++k) keys.push_back((k * 2654435761u) & 0xFFFF);
  for (const int32_t k : keys) {
    const int32_t v = 0;
    t_.insert(&k, &v);
  }
  auto walk = [&] {
    std::vector<int32_t> order;
    for (uint32_t b = 0; b < t_.record().bucketCount; ++b)
      for (const int32_t k : chain(t_, b)) order.push_back(k);
    return order;
  };
  for (const uint32_t target : {64u, 4096u, 16u, 16384u}) {
    const std::vector<int32_t> before = walk();
    Peer::resize(t_, target);
    ASSERT_VALID(t_);
    ASSERT_EQ(t_.record().bucketCount, target);
    // Within each new bucket, keys appear in their old relative order.
    std::vector<size_t> position(65536);
    for (size_t i = 0; i < before.size(); ++i) position[before[i]] = i;
    for (uint32_t b = 0; b < target; ++b) {
      const std::vector<int32_t> c = chain(t_, b);
      for (size_t i = 1; i < c.size(); ++i) ASSERT_LT(position[c[i - 1]], position[c[i]]);
    }
  }
}

TEST_F(Growth, ThresholdFollowsTheTablesOwnLoadFactor) {
  ASSERT_EQ(t_.create(3, 3, 16, 0.5f), 1);
  for (int32_t k = 0; k < 8; ++k) insert(k);
  EXPECT_EQ(t_.record().bucketCount, 16u);
  insert(8);
  EXPECT_EQ(t_.record().bucketCount, 32u);
  EXPECT_EQ(t_.record().threshold, 16);
}

}  // namespace
}  // namespace linemint
