// Insertion, lookup, growth and removal.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "sharedhash/shared_hash_table.h"
#include "sharedhash/word_rules.h"
#include "table_test_support.h"

namespace linemint {
namespace {

using testing::block;
using testing::blockData;
using testing::integerChain;
using testing::textOf;

TEST(SharedTableInsert, NewThenReplaced) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
  EXPECT_EQ(t.insert(KeyWord::text("abc"), KeyWord::integer(5)), 0);
  ASSERT_NE(t.record()->buckets[0], nullptr);
  EXPECT_EQ(textOf(t.record()->buckets[0]->key), "abc");
  EXPECT_EQ(t.record()->buckets[0]->hash, 98274u);
  EXPECT_EQ(t.insert(KeyWord::text("abc"), KeyWord::integer(6)), 1);
  EXPECT_EQ(t.count(), 1);
  EXPECT_EQ(t.get(KeyWord::text("abc")).asInteger(), 6);
  EXPECT_VALID(t);
}

// The table keeps copies: the caller may change or free what it passed.
TEST(SharedTableInsert, StoresItsOwnCopies) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kByteStringKind));
  char key[] = "line";
  auto value = block("payload");
  t.insert(KeyWord::text(key), KeyWord::bytes(value.get()));
  key[0] = 'X';
  value->bytes()[0] = 'X';
  value.reset();
  EXPECT_TRUE(t.containsKey(KeyWord::text("line")));
  EXPECT_FALSE(t.containsKey(KeyWord::text("Xine")));
  const KeyWord stored = t.get(KeyWord::text("line"));
  EXPECT_EQ(blockData(stored), "payload");
  EXPECT_EQ(stored.asBytes()->one, 1u);
  EXPECT_VALID(t);
}

TEST(SharedTableInsert, EmptyTextAndNullTextAreTwoKeysInBucketZero) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  EXPECT_EQ(t.insert(KeyWord::text(""), KeyWord::text("empty")), 0);
  EXPECT_EQ(t.insert(KeyWord::text(nullptr), KeyWord::text("null")), 0);
  EXPECT_EQ(t.count(), 2);
  int inBucketZero = 0;
  for (const SharedTableNode* n = t.record()->buckets[0]; n != nullptr; n = n->next) ++inBucketZero;
  EXPECT_EQ(inBucketZero, 2);
  EXPECT_EQ(textOf(t.get(KeyWord::text(""))), "empty");
  EXPECT_EQ(textOf(t.get(KeyWord::text(nullptr))), "null");
  EXPECT_TRUE(t.remove(KeyWord::text(nullptr)));
  EXPECT_TRUE(t.containsKey(KeyWord::text("")));
  EXPECT_FALSE(t.containsKey(KeyWord::text(nullptr)));
  EXPECT_VALID(t);
}

TEST(SharedTableInsert, NullValuesAreStoredAsNull) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kTextKind));
  EXPECT_EQ(t.insert(KeyWord::integer(1), KeyWord::text(nullptr)), 0);
  EXPECT_TRUE(t.containsKey(KeyWord::integer(1)));
  EXPECT_TRUE(t.get(KeyWord::integer(1)).isZero());
  EXPECT_EQ(t.insert(KeyWord::integer(1), KeyWord::text("now set")), 1);
  EXPECT_EQ(textOf(t.get(KeyWord::integer(1))), "now set");
  EXPECT_VALID(t);
}

TEST(SharedTableInsert, ByteStringKeys) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kByteStringKind, kIntegerKind));
  auto ab = block("ab"), abc = block("abc"), empty = block(""), empty2 = block("");
  EXPECT_EQ(t.insert(KeyWord::bytes(ab.get()), KeyWord::integer(2)), 0);
  EXPECT_EQ(t.insert(KeyWord::bytes(abc.get()), KeyWord::integer(3)), 0);
  EXPECT_EQ(t.insert(KeyWord::bytes(empty.get()), KeyWord::integer(10)), 0);
  EXPECT_EQ(t.insert(KeyWord::bytes(empty2.get()), KeyWord::integer(11)), 1);
  EXPECT_EQ(t.insert(KeyWord::bytes(nullptr), KeyWord::integer(12)), 0);
  EXPECT_EQ(t.count(), 4);
  EXPECT_EQ(t.get(KeyWord::bytes(block("ab").get())).asInteger(), 2);
  EXPECT_EQ(t.get(KeyWord::bytes(block("abc").get())).asInteger(), 3);
  EXPECT_EQ(t.get(KeyWord::bytes(block("").get())).asInteger(), 11);
  EXPECT_EQ(t.get(KeyWord::bytes(nullptr)).asInteger(), 12);
  EXPECT_VALID(t);
}

// Values that are words handed out by the same table: the new copy is made
// before the old value is freed.
TEST(SharedTableInsert, ValueMayBeTheTablesOwnWord) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  t.insert(KeyWord::text("k"), KeyWord::text("value"));
  EXPECT_EQ(t.insert(KeyWord::text("k"), t.get(KeyWord::text("k"))), 1);
  EXPECT_EQ(textOf(t.get(KeyWord::text("k"))), "value");

  SharedHashTable b;
  ASSERT_TRUE(b.create(kByteStringKind, kByteStringKind));
  auto key = block("key"), value = block("some bytes");
  b.insert(KeyWord::bytes(key.get()), KeyWord::bytes(value.get()));
  EXPECT_EQ(b.insert(KeyWord::bytes(key.get()), b.get(KeyWord::bytes(key.get()))), 1);
  EXPECT_EQ(blockData(b.get(KeyWord::bytes(key.get()))), "some bytes");
  // A stored key handed back as the key of a removal.
  const SharedTableNode* node = nullptr;
  for (int32_t i = 0; i < b.record()->bucketCount && node == nullptr; ++i) node = b.record()->buckets[i];
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(b.remove(node->key));
  EXPECT_EQ(b.count(), 0);
  EXPECT_VALID(b);
}

struct GrowthStep {
  int32_t entries;
  int32_t bucketCount;
  int32_t threshold;
};

TEST(SharedTableGrowth, DefaultTableGrowsTwoNPlusOne) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
  const GrowthStep steps[] = {{8, 11, 8},    {9, 23, 17},   {17, 23, 17},    {18, 47, 35},
                              {35, 47, 35},  {36, 95, 71},  {72, 191, 143},  {144, 383, 287},
                              {288, 767, 575}};
  int32_t inserted = 0;
  for (const GrowthStep& s : steps) {
    for (; inserted < s.entries; ++inserted)
      ASSERT_EQ(t.insert(KeyWord::text(("key" + std::to_string(inserted)).c_str()), KeyWord::integer(inserted)), 0);
    EXPECT_EQ(t.record()->bucketCount, s.bucketCount) << s.entries << " entries";
    EXPECT_EQ(t.record()->threshold, s.threshold) << s.entries << " entries";
    EXPECT_VALID(t);
  }
  for (int32_t i = 0; i < inserted; ++i)
    EXPECT_EQ(t.get(KeyWord::text(("key" + std::to_string(i)).c_str())).asInteger(), i);
}

TEST(SharedTableGrowth, TinyLoadFactorGrowsBeforeEachOfTheFirstInsertions) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind, 11, 0.05f));
  EXPECT_EQ(t.record()->threshold, 0);
  const GrowthStep steps[] = {{1, 23, 1}, {2, 47, 2}, {3, 95, 4}, {4, 95, 4}};
  for (const GrowthStep& s : steps) {
    t.insert(KeyWord::integer(s.entries), KeyWord::integer(0));
    EXPECT_EQ(t.record()->bucketCount, s.bucketCount) << s.entries;
    EXPECT_EQ(t.record()->threshold, s.threshold) << s.entries;
    EXPECT_VALID(t);
  }
}

// Replacing a value never grows the table, even at the threshold.
TEST(SharedTableGrowth, ReplacementDoesNotGrow) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
  for (int32_t k = 0; k < 8; ++k) t.insert(KeyWord::integer(k), KeyWord::integer(k));
  EXPECT_EQ(t.insert(KeyWord::integer(3), KeyWord::integer(33)), 1);
  EXPECT_EQ(t.record()->bucketCount, 11);
}

// Growth walks each old chain from its head and links every node at the head
// of its new chain, so nodes that stay together come out reversed.
TEST(SharedTableGrowth, RelinkReversesNodesThatStayTogether) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind, 1, 1.0f));  // threshold 1
  t.insert(KeyWord::integer(0), KeyWord::integer(0));
  t.insert(KeyWord::integer(21), KeyWord::integer(0));  // grows to 3 first
  t.insert(KeyWord::integer(42), KeyWord::integer(0));
  ASSERT_EQ(t.record()->bucketCount, 3);
  ASSERT_EQ(integerChain(t, 0), (std::vector<int32_t>{42, 21, 0}));
  t.insert(KeyWord::integer(1), KeyWord::integer(0));  // grows to 7 first
  EXPECT_EQ(t.record()->bucketCount, 7);
  EXPECT_EQ(integerChain(t, 0), (std::vector<int32_t>{0, 21, 42}));
  EXPECT_EQ(integerChain(t, 1), (std::vector<int32_t>{1}));
  EXPECT_VALID(t);
}

TEST(SharedTableLookup, HashesThatDifferShareABucket) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
  t.insert(KeyWord::integer(-1), KeyWord::integer(100));
  t.insert(KeyWord::integer(0x7FFFFFFF), KeyWord::integer(200));
  EXPECT_EQ(integerChain(t, 1), (std::vector<int32_t>{0x7FFFFFFF, -1}));
  EXPECT_EQ(t.get(KeyWord::integer(-1)).asInteger(), 100);
  EXPECT_EQ(t.get(KeyWord::integer(0x7FFFFFFF)).asInteger(), 200);
  EXPECT_FALSE(t.containsKey(KeyWord::integer(1)));  // same bucket, absent
  EXPECT_TRUE(t.get(KeyWord::integer(1)).isZero());
}

// One chain of three keys (1, 12, 23 share bucket 1 of 11, newest first).
TEST(SharedTableRemove, HeadMiddleAndLastOfAChain) {
  struct Case {
    int32_t removed;
    std::vector<int32_t> chainAfter;
  };
  const Case cases[] = {{23, {12, 1}}, {12, {23, 1}}, {1, {23, 12}}};
  for (const Case& c : cases) {
    SharedHashTable t;
    ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
    for (int32_t k : {1, 12, 23}) t.insert(KeyWord::integer(k), KeyWord::integer(k * 2));
    ASSERT_EQ(integerChain(t, 1), (std::vector<int32_t>{23, 12, 1}));
    EXPECT_TRUE(t.remove(KeyWord::integer(c.removed))) << c.removed;
    EXPECT_EQ(integerChain(t, 1), c.chainAfter) << c.removed;
    EXPECT_EQ(t.count(), 2);
    for (int32_t k : c.chainAfter) EXPECT_EQ(t.get(KeyWord::integer(k)).asInteger(), k * 2);
    EXPECT_FALSE(t.containsKey(KeyWord::integer(c.removed)));
    EXPECT_FALSE(t.remove(KeyWord::integer(c.removed)));
    EXPECT_EQ(t.count(), 2);
    EXPECT_VALID(t);
  }
}

TEST(SharedTableRemove, FreesTheStoredCopies) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kByteStringKind));
  const int64_t before = tableBlocksInUseForTesting();
  auto value = block("v");
  t.insert(KeyWord::text("k"), KeyWord::bytes(value.get()));
  EXPECT_EQ(tableBlocksInUseForTesting(), before + 3);  // node, key, value
  EXPECT_TRUE(t.remove(KeyWord::text("k")));
  EXPECT_EQ(tableBlocksInUseForTesting(), before);
}

TEST(SharedTableRemoveAll, KeepsTheGrownSize) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  const int64_t before = tableBlocksInUseForTesting();
  for (int i = 0; i < 20; ++i) {
    const std::string s = std::to_string(i);
    t.insert(KeyWord::text(s.c_str()), KeyWord::text(s.c_str()));
  }
  ASSERT_EQ(t.record()->bucketCount, 47);
  t.removeAll();
  EXPECT_EQ(t.count(), 0);
  EXPECT_EQ(t.record()->bucketCount, 47);
  EXPECT_EQ(t.record()->threshold, 35);
  EXPECT_EQ(tableBlocksInUseForTesting(), before);
  EXPECT_VALID(t);
  for (int i = 0; i < 35; ++i) t.insert(KeyWord::text(std::to_string(i).c_str()), KeyWord::text("x"));
  EXPECT_EQ(t.record()->bucketCount, 47);
  t.insert(KeyWord::text("one more"), KeyWord::text("x"));
  EXPECT_EQ(t.record()->bucketCount, 95);
  EXPECT_VALID(t);
}

}  // namespace
}  // namespace linemint
