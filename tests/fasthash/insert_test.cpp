// insert and contains: results, replacement, value blocks, refusals, and
// keys whose hashes collide.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"
#include "test_support.h"

namespace linemint {
namespace {

using test::Family;

// The stored text value of a key (value kind 10), "" for a null value.
std::string storedText(const FastHashTable& t, const void* keyRef, bool* isNull = nullptr) {
  const fasthash::Node* node = fasthash::findNode(t.record(), keyRef);
  EXPECT_NE(node, nullptr);
  if (node == nullptr) return "<missing>";
  const unsigned char* block = fasthash::nodeValueBlock(node);
  if (isNull != nullptr) *isNull = block == nullptr;
  if (block == nullptr) return "";
  return std::string(reinterpret_cast<const char*>(fasthash::valueBlockBytes(block)), fasthash::valueBlockLength(block));
}

int32_t storedInt(const FastHashTable& t, const void* keyRef) {
  const fasthash::Node* node = fasthash::findNode(t.record(), keyRef);
  EXPECT_NE(node, nullptr);
  return node == nullptr ? -1 : static_cast<int32_t>(fasthash::load32(fasthash::nodeValue(node)));
}

class Insert : public testing::TestWithParam<Family> {
 protected:
  Insert() : features_(test::featuresFor(GetParam())) {}
  void SetUp() override {
    if (GetParam() == Family::crc32 && test::realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  }
  test::ScopedCpuFeatures features_;
};

TEST_P(Insert, TheDeduplicationCall) {
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  char line[] = "a line of text";
  const char* linePtr = line;
  int32_t zero = 0;
  EXPECT_EQ(t.contains(&linePtr), 0);
  EXPECT_EQ(t.insert(&linePtr, &zero), 1);
  EXPECT_EQ(t.contains(&linePtr), 1);
  // The key is copied: changing the caller's bytes changes nothing stored.
  line[0] = 'A';
  EXPECT_EQ(t.contains(&linePtr), 0);
  line[0] = 'a';
  EXPECT_EQ(t.insert(&linePtr, &zero), 2);
  EXPECT_EQ(t.record().count, 1);
  EXPECT_EQ(t.record().maxTextKeyLength, 14u);
  EXPECT_VALID(t);
}

TEST_P(Insert, SameKeyTwiceReplacesTheValue) {
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  const char* key = "k";
  const int32_t first = 1, second = 2;
  EXPECT_EQ(t.insert(&key, &first), 1);
  EXPECT_EQ(t.insert(&key, &second), 2);
  EXPECT_EQ(t.record().count, 1);
  EXPECT_EQ(storedInt(t, &key), 2);
  EXPECT_VALID(t);
}

TEST_P(Insert, TextValuesEmptyBecomesNullAndBack) {
  FastHashTable t;
  ASSERT_EQ(t.create(3, 10), 1);
  const int32_t key = 42;
  const char* value = "first value";
  ASSERT_EQ(t.insert(&key, &value), 1);
  EXPECT_EQ(storedText(t, &key), "first value");
  EXPECT_VALID(t);
  bool isNull = false;
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(t.insert(&key, &empty), 2);
    storedText(t, &key, &isNull);
    EXPECT_TRUE(isNull);
    EXPECT_VALID(t);  // the old value block went back to the pool
  }
  value = "a longer second value, well beyond the first one's size class";
  EXPECT_EQ(t.insert(&key, &value), 2);
  EXPECT_EQ(storedText(t, &key, &isNull), value);
  EXPECT_FALSE(isNull);
  EXPECT_VALID(t);
}

TEST_P(Insert, ByteBufferKeysAndValues) {
  FastHashTable t;
  ASSERT_EQ(t.create(11, 11), 1);
  auto key = platform::newByteBuffer("a\0b\x80", 4);
  auto sameBytes = platform::newByteBuffer("a\0b\x80", 4);
  auto prefix = platform::newByteBuffer("a\0b", 3);
  auto value = platform::newByteBuffer("\0\0value", 7);
  const ByteBuffer* k = key.get();
  const ByteBuffer* same = sameBytes.get();
  const ByteBuffer* shorter = prefix.get();
  const ByteBuffer* v = value.get();
  EXPECT_EQ(t.insert(&k, &v), 1);
  EXPECT_EQ(t.contains(&same), 1) << "bytes after a NUL count";
  EXPECT_EQ(t.contains(&shorter), 0);
  EXPECT_EQ(storedText(t, &k), std::string("\0\0value", 7));
  EXPECT_VALID(t);
}

TEST_P(Insert, EmptyAndAbsentKeysAreRefused) {
  FastHashTable text;
  ASSERT_EQ(text.create(10, 10), 1);
  const char* value = "v";
  for (const char* key : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(text.insert(&key, &value), 0);
    EXPECT_EQ(text.contains(&key), 0);
  }
  EXPECT_EQ(text.record().count, 0);
  EXPECT_VALID(text) << "a refused insert leaves no value block behind";

  FastHashTable bytes;
  ASSERT_EQ(bytes.create(11, 3), 1);
  auto emptyBuffer = platform::newByteBuffer(nullptr, 0);
  const int32_t zero = 0;
  for (const ByteBuffer* key : std::vector<const ByteBuffer*>{emptyBuffer.get(), nullptr}) {
    EXPECT_EQ(bytes.insert(&key, &zero), 0);
    EXPECT_EQ(bytes.contains(&key), 0);
  }
  EXPECT_EQ(bytes.record().count, 0);
}

TEST_P(Insert, IntegerKeysShareAChainInInsertionOrder) {
  FastHashTable t;
  ASSERT_EQ(t.create(3, 3), 1);
  const int32_t zero = 0;
  for (const int32_t k : {5, 21, 37}) ASSERT_EQ(t.insert(&k, &zero), 1);
  std::vector<uint32_t> keys;
  for (const fasthash::Node* n = t.record().buckets[5]; n != nullptr; n = fasthash::nodeNext(n))
    keys.push_back(fasthash::nodeHash(n));
  EXPECT_EQ(keys, (std::vector<uint32_t>{5, 21, 37}));
  for (const int32_t k : {5, 21, 37}) EXPECT_EQ(t.contains(&k), 1);
  for (const int32_t k : {53, -11, 0}) EXPECT_EQ(t.contains(&k), 0);
}

// Texts that all share one full hash land in one chain; each is still
// stored once and found, and a text with that hash that was never inserted
// is not found.
TEST_P(Insert, EveryKeyWithTheSameHash) {
  const std::vector<std::string> texts = test::collidingTexts(GetParam(), 201);
  uint32_t length = 0;
  const uint32_t hash = FastHashTable::hashText(texts[0].c_str(), &length);
  for (const std::string& s : texts) ASSERT_EQ(FastHashTable::hashText(s.c_str(), &length), hash) << s;

  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    const char* key = texts[i].c_str();
    const int32_t value = static_cast<int32_t>(i);
    ASSERT_EQ(t.insert(&key, &value), 1) << i;
    ASSERT_VALID(t);
  }
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    const char* key = texts[i].c_str();
    EXPECT_EQ(t.contains(&key), 1);
    EXPECT_EQ(storedInt(t, &key), static_cast<int32_t>(i));
    const int32_t replaced = -1;
    EXPECT_EQ(t.insert(&key, &replaced), 2);
  }
  const char* absent = texts.back().c_str();
  EXPECT_EQ(t.contains(&absent), 0);
  EXPECT_EQ(t.record().count, 200);
  EXPECT_VALID(t);
}

// Two different texts with equal CRC and equal length: only the byte
// comparison tells them apart.
TEST(InsertCrc, TwoTextsWithEqualCrc) {
  if (test::realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  test::ScopedCpuFeatures features(test::realFeatures());
  const std::vector<std::string> texts = test::collidingTexts(Family::crc32, 50);
  std::vector<std::string> pair;
  for (const std::string& s : texts)
    if (s.size() == texts.back().size()) pair.push_back(s);
  ASSERT_GE(pair.size(), 2u);
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  const char* a = pair[0].c_str();
  const char* b = pair[1].c_str();
  const int32_t one = 1, two = 2;
  ASSERT_EQ(t.insert(&a, &one), 1);
  EXPECT_EQ(t.contains(&b), 0);
  ASSERT_EQ(t.insert(&b, &two), 1);
  EXPECT_EQ(storedInt(t, &a), 1);
  EXPECT_EQ(storedInt(t, &b), 2);
  EXPECT_VALID(t);
}

// 64-bit keys with one hash differ only in their bytes: both halves are compared.
TEST_P(Insert, Int64KeysWithEqualHashes) {
  int64_t a, b;
  if (GetParam() == Family::crc32) {
    // d = (crc(L) << 32) | L has a zero register, so a and a ^ d collide.
    const uint32_t low = 0x1234567u;
    const uint32_t high = fasthash::crc32cUpdatePortable(0, &low, 4);
    a = 0x0102030405060708;
    b = a ^ static_cast<int64_t>((uint64_t{high} << 32) | low);
  } else {
    a = int64_t{31} << 56;  // bytes ... 0, 31
    b = int64_t{1} << 48;   // bytes ... 1, 0
  }
  const bool crc = GetParam() == Family::crc32;
  ASSERT_EQ(fasthash::hashInt64(crc, a), fasthash::hashInt64(crc, b));
  FastHashTable t;
  ASSERT_EQ(t.create(4, 4), 1);
  const int64_t va = 10, vb = 20;
  ASSERT_EQ(t.insert(&a, &va), 1);
  EXPECT_EQ(t.contains(&b), 0);
  ASSERT_EQ(t.insert(&b, &vb), 1);
  EXPECT_EQ(t.record().count, 2);
  EXPECT_VALID(t);
}

TEST_P(Insert, TablesKeepTheFamilyTheyWereCreatedWith) {
  FastHashTable t;
  ASSERT_EQ(t.create(10, 3), 1);
  const char* key = "abc";
  const int32_t zero = 0;
  ASSERT_EQ(t.insert(&key, &zero), 1);
  const uint32_t expected = GetParam() == Family::crc32 ? 0x562F9CCDu : 96354u;
  EXPECT_EQ(fasthash::nodeHash(fasthash::findNode(t.record(), &key)), expected);
  // Even when the process-wide flag changes afterwards.
  test::ScopedCpuFeatures flipped(test::featuresFor(GetParam() == Family::crc32 ? Family::sum31 : Family::crc32));
  EXPECT_EQ(t.contains(&key), 1);
  EXPECT_VALID(t);
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, Insert, testing::Values(Family::crc32, Family::sum31), test::familyName);

}  // namespace
}  // namespace linemint
