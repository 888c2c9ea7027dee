#include "fasthash/bulk_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace linemint {
namespace {

using test::Family;

class BulkTextTest : public ::testing::TestWithParam<Family> {};

// The bulk path must be insert by another road: same answers, same table.
// Keys include the empty text, texts starting with NUL, repeats and colliding
// texts, so every branch of insert (new, replaced, refused) is taken.
TEST_P(BulkTextTest, AgreesWithInsertKeyForKey) {
  const test::ScopedCpuFeatures features(test::featuresFor(GetParam()));
  std::vector<std::string> keys = test::collidingTexts(GetParam(), 6);
  std::mt19937 rng(99);
  for (int i = 0; i < 400; ++i) {
    std::string k(rng() % 12, 'a');
    for (char& ch : k) ch = static_cast<char>('a' + rng() % 3);
    keys.push_back(k);
  }
  keys.push_back(std::string("\0x", 2));
  for (int32_t valueKind : {3, 10}) {
    FastHashTable viaInsert;
    FastHashTable viaBulk;
    ASSERT_EQ(viaInsert.create(10, valueKind), 1);
    ASSERT_EQ(viaBulk.create(10, valueKind), 1);
    for (int round = 0; round < 2; ++round) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const char* text = keys[i].c_str();
        const int32_t number = static_cast<int32_t>(i);
        const std::string word = "v" + std::to_string(i % 5);
        const char* textValue = word.c_str();
        const void* value = valueKind == 3 ? static_cast<const void*>(&number) : static_cast<const void*>(&textValue);
        uint32_t length = 0;
        const uint32_t hash = viaBulk.hashTextKey(text, &length);
        uint32_t expectedLength = 0;
        EXPECT_EQ(hash, FastHashTable::hashText(text, &expectedLength));
        EXPECT_EQ(length, expectedLength);
        viaBulk.prefetchBucket(hash);
        viaBulk.prefetchChainHead(hash);
        ASSERT_EQ(viaBulk.insertHashedText(text, length, hash, value), viaInsert.insert(&text, value)) << i;
      }
      ASSERT_EQ(viaBulk.validate(), nullptr);
    }
    EXPECT_EQ(viaBulk.getCount(), viaInsert.getCount());
    EXPECT_EQ(viaBulk.serialize() != nullptr, true);
    const OwnedByteBuffer a = viaBulk.serialize();
    const OwnedByteBuffer b = viaInsert.serialize();
    ASSERT_EQ(a->length, b->length);
    EXPECT_EQ(std::memcmp(a->bytes(), b->bytes(), a->length), 0) << "value kind " << valueKind;
  }
}

// Keys handed over as they lie in a larger buffer, each followed by a line end
// instead of a NUL: the nodes must still end their keys with NUL (validate
// checks it) and the table must equal the one insert builds from C strings.
TEST_P(BulkTextTest, KeysInsideABufferNeedNoTerminator) {
  const test::ScopedCpuFeatures features(test::featuresFor(GetParam()));
  std::vector<std::string> keys = test::collidingTexts(GetParam(), 6);
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) keys.push_back(std::string(1 + rng() % 50, static_cast<char>('a' + rng() % 4)));
  std::string joined;
  std::vector<std::size_t> starts;
  for (const std::string& k : keys) {
    starts.push_back(joined.size());
    joined += k;
    joined += "\r\n";
  }
  const auto* base = reinterpret_cast<const unsigned char*>(joined.data());
  for (int32_t valueKind : {3, 10}) {
    FastHashTable viaInsert;
    FastHashTable viaBulk;
    ASSERT_EQ(viaInsert.create(10, valueKind), 1);
    ASSERT_EQ(viaBulk.create(10, valueKind), 1);
    const int32_t number = 5;
    const char* textValue = "v";
    const void* value = valueKind == 3 ? static_cast<const void*>(&number) : static_cast<const void*>(&textValue);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const unsigned char* at = base + starts[i];
      const auto length = static_cast<uint32_t>(keys[i].size());
      const uint32_t hash = viaBulk.record().useCrc32 != 0 ? fasthash::crcOfKnownLength(at, length, base)
                                                           : fasthash::sum31OfKnownLength(at, length);
      const char* text = keys[i].c_str();
      ASSERT_EQ(viaBulk.insertHashedText(reinterpret_cast<const char*>(at), length, hash, value),
                viaInsert.insert(&text, value))
          << i;
    }
    ASSERT_EQ(viaBulk.validate(), nullptr);
    const OwnedByteBuffer a = viaBulk.serialize();
    const OwnedByteBuffer b = viaInsert.serialize();
    ASSERT_EQ(a->length, b->length);
    EXPECT_EQ(std::memcmp(a->bytes(), b->bytes(), a->length), 0) << "value kind " << valueKind;
  }
}

TEST(BulkText, RefusesWithoutATextTable) {
  FastHashTable notCreated;
  const int32_t zero = 0;
  EXPECT_EQ(notCreated.insertHashedText("a", 1, 1, &zero), 0);
  FastHashTable integers;
  integers.create(3, 3);
  EXPECT_EQ(integers.insertHashedText("a", 1, 1, &zero), 0);
  EXPECT_EQ(integers.getCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, BulkTextTest, ::testing::Values(Family::crc32, Family::sum31), test::familyName);

}  // namespace
}  // namespace linemint
