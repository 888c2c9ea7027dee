// The shared cursor: walk order, the end position, restart on resize, copies
// through reused variables, and removal of the entry the cursor stands on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "general_test_support.h"

namespace linemint {
namespace {

using test::Arg;
using test::contents;
using test::restOfWalk;

class CursorTest : public test::FastTableTest {};

void insertAll(FastHashTable& t, const std::vector<int32_t>& keys) {
  for (int32_t k : keys) ASSERT_EQ(t.insert(Arg::of(k).ref(), Arg::of(k * 10).ref()), 1);
}

TEST_F(CursorTest, NothingIsDeliveredWithoutEntries) {
  FastHashTable t;
  int32_t key = 7;
  int32_t value = 8;
  EXPECT_EQ(t.next(&key, &value), 0);  // never created
  EXPECT_EQ(key, 7);
  EXPECT_EQ(value, 8);

  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
  for (int call = 0; call < 3; ++call) {
    EXPECT_EQ(t.next(&key, &value), 0);
    EXPECT_EQ(t.record().cursorNode, nullptr);
    EXPECT_EQ(t.record().cursorBucket, 16);
  }
  EXPECT_EQ(key, 7);
  EXPECT_EQ(value, 8);

  insertAll(t, {1});
  t.destroy();
  EXPECT_EQ(t.nextKey(&key), 0);
  EXPECT_EQ(key, 7);
}

TEST_F(CursorTest, WalksBucketsAscendingAndChainsInInsertionOrder) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
  insertAll(t, {21, 5, 3});
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::pair<int32_t, int32_t>> walk;
    int32_t key = 0;
    int32_t value = 0;
    while (t.next(&key, &value) == 1) walk.emplace_back(key, value);
    EXPECT_EQ(walk, (std::vector<std::pair<int32_t, int32_t>>{{3, 30}, {21, 210}, {5, 50}}));
    EXPECT_EQ(t.next(&key, &value), 0);
    EXPECT_EQ(t.record().cursorBucket, 16);
    t.resetCursor();
  }
}

TEST_F(CursorTest, NextKeyAndNextValueAdvanceOneCursor) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt64, ValueKind::kInt64), 1);
  for (int64_t k : {1, 2, 3}) ASSERT_EQ(t.insert(Arg::of(k).ref(), Arg::of(k * 100).ref()), 1);
  // Walk order is the order of the hashes' buckets; read it first.
  std::vector<int64_t> order;
  for (int64_t k = 0; t.nextKey(&k) == 1;) order.push_back(k);
  ASSERT_EQ(order.size(), 3u);
  t.resetCursor();

  int64_t key = 0;
  int64_t value = 0;
  ASSERT_EQ(t.nextKey(&key), 1);
  EXPECT_EQ(key, order[0]);
  ASSERT_EQ(t.nextValue(&value), 1);
  EXPECT_EQ(value, order[1] * 100);
  ASSERT_EQ(t.next(&key, nullptr), 1);
  EXPECT_EQ(key, order[2]);
  EXPECT_EQ(t.nextValue(&value), 0);
}

TEST_F(CursorTest, InsertWithoutResizeLeavesTheCursorAlone) {
  // Buckets 1 and 5 hold 1 and 5; the cursor stands on 1.
  const struct {
    int32_t inserted;
    bool delivered;
  } rows[] = {{17, true}, {2, true}, {0, false}};  // current chain, ahead, passed
  for (const auto& row : rows) {
    SCOPED_TRACE(row.inserted);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
    insertAll(t, {1, 5});
    int32_t key = 0;
    ASSERT_EQ(t.nextKey(&key), 1);
    ASSERT_EQ(key, 1);
    insertAll(t, {row.inserted});
    const std::vector<int32_t> rest = restOfWalk(t);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), row.inserted), row.delivered ? 1 : 0);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), 5), 1);
  }
}

TEST_F(CursorTest, GrowthRestartsTheWalk) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
  insertAll(t, {24, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1});
  int32_t key = 0;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(t.nextKey(&key), 1);
  ASSERT_EQ(key, 5);
  insertAll(t, {12});  // the 13th entry: 32 buckets
  ASSERT_EQ(t.getBucketCount(), 32);
  std::vector<int32_t> rest = restOfWalk(t);
  // The walk starts over at bucket 1; 24 left bucket 8 for bucket 24.
  EXPECT_EQ(rest, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 24}));
}

TEST_F(CursorTest, RemovingAnyEntryMidWalkSkipsNothing) {
  // Walk order: bucket 1 holds 1, 17, 33; bucket 2 holds 2; bucket 4 holds 4, 20.
  const std::vector<int32_t> order = {1, 17, 33, 2, 4, 20};
  for (size_t delivered = 1; delivered <= order.size(); ++delivered) {
    for (int32_t removed : order) {
      SCOPED_TRACE(::testing::Message() << "after " << delivered << " deliveries, remove " << removed);
      FastHashTable t;
      ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32, std::nullopt, std::nullopt, 0), 1);
      insertAll(t, order);
      int32_t key = 0;
      for (size_t i = 0; i < delivered; ++i) ASSERT_EQ(t.nextKey(&key), 1);
      ASSERT_EQ(t.remove(Arg::of(removed).ref()), 1);
      EXPECT_VALID(t);
      std::vector<int32_t> expected(order.begin() + static_cast<std::ptrdiff_t>(delivered), order.end());
      std::erase(expected, removed);
      EXPECT_EQ(restOfWalk(t), expected);
    }
  }
}

TEST_F(CursorTest, RemovingTheCursorsTextEntryNeverReadsItsNode) {
  // Freed pool blocks are poisoned: under ASan, an advance that read the
  // removed node's next field would stop here.
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kText, std::nullopt, std::nullopt, 0), 1);
  std::vector<std::string> keys;
  for (int i = 0; i < 10; ++i) keys.push_back("key" + std::to_string(i));
  for (const std::string& k : keys) ASSERT_EQ(t.insert(Arg::text(k).ref(), Arg::text(k + "v").ref()), 1);
  OwnedText key;
  OwnedText value;
  int delivered = 0;
  while (t.next(&key, &value) == 1) {
    ++delivered;
    EXPECT_EQ(contents(value.get()), contents(key.get()).value() + "v");
    ASSERT_EQ(t.remove(Arg::text(key.get()).ref()), 1);
    ASSERT_VALID(t);
  }
  EXPECT_EQ(delivered, 10);
  EXPECT_EQ(t.getCount(), 0);
}

TEST_F(CursorTest, TextAndBufferVariablesReceiveFreshCopies) {
  FastHashTable texts;
  ASSERT_EQ(texts.create(KeyKind::kText, ValueKind::kText), 1);
  ASSERT_EQ(texts.insert(Arg::text("a").ref(), Arg::text("").ref()), 1);
  ASSERT_EQ(texts.insert(Arg::text("b").ref(), Arg::text("bee").ref()), 1);
  std::vector<std::optional<std::string>> keys;
  std::vector<std::optional<std::string>> values;
  // One variable each for the whole walk: every delivery frees the copy before
  // (ASan's leak check sees any that is not).
  OwnedText key;
  OwnedText value = newText("held by the caller", 18);
  while (texts.next(&key, &value) == 1) {
    keys.push_back(contents(key.get()));
    values.push_back(contents(value.get()));
  }
  ASSERT_EQ(keys.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    if (keys[i] == "a") EXPECT_EQ(values[i], std::nullopt);  // an empty value counts as an entry
    else EXPECT_EQ(values[i], "bee");
  }

  FastHashTable buffers;
  ASSERT_EQ(buffers.create(KeyKind::kBytes, ValueKind::kBytes), 1);
  ASSERT_EQ(buffers.insert(Arg::bytes(std::string_view("\0k", 2)).ref(), Arg::bytes(std::string_view("v\0", 2)).ref()), 1);
  OwnedByteBuffer bufferKey;
  OwnedByteBuffer bufferValue;
  ASSERT_EQ(buffers.next(&bufferKey, &bufferValue), 1);
  EXPECT_EQ(contents(bufferKey.get()), std::string("\0k", 2));
  EXPECT_EQ(contents(bufferValue.get()), std::string("v\0", 2));
  EXPECT_EQ(buffers.next(&bufferKey, &bufferValue), 0);
  EXPECT_EQ(contents(bufferKey.get()), std::string("\0k", 2));  // the end leaves the variables alone
}

}  // namespace
}  // namespace linemint
