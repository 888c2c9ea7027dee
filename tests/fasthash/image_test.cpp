// FastHashTable::serialize and deserialize: the exact bytes of the image, round
// trips for every pair of kinds in both hash families, and images the reader
// must refuse without changing the table it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/image.h"
#include "image_test_support.h"
#include "platform/cpu_features.h"
#include "test_support.h"

namespace linemint::test {
namespace {

class ImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { realFeatures(); }  // probes, and fills the heap entry points
};

std::map<std::string, Entry> mappingOf(const FastHashTable& t) {
  std::map<std::string, Entry> m;
  for (Entry& e : entriesOf(t)) m.emplace(e.key, std::move(e));
  return m;
}

// A value variable for insert, by value kind, from the bytes an Entry holds.
// Value kinds 10 and 11 share their codes with the key kinds, so the key
// argument serves values too.
using ValueArgument = KeyArgument;

void put(FastHashTable& t, const std::string& key, const std::string& value) {
  const KeyArgument k(t.record().keyKind, key);
  const ValueArgument v(t.record().valueKind, value);
  ASSERT_NE(t.insert(k.ref(), v.ref()), 0);
}

std::string raw32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string raw64(uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
template <typename T>
uint64_t bitsOf(T v) {
  uint64_t b = 0;
  std::memcpy(&b, &v, sizeof v);
  return b;
}

const std::string kExample56 = imageWith(KeyKind::kText, ValueKind::kInt32, textField("abc") + le32(5), 1);

// An object holding a table that a refused image must leave exactly as it was.
struct EarlierTable {
  FastHashTable table;
  std::vector<Entry> entries;

  EarlierTable() {
    table.create(KeyKind::kInt32, ValueKind::kInt32);
    for (uint32_t i = 1; i <= 20; ++i) put(table, raw32(i * 7), raw32(i));
    entries = entriesOf(table);
  }
  void expectUnchanged(const std::string& what) const {
    EXPECT_EQ(table.record().keyKind, KeyKind::kInt32) << what;
    EXPECT_EQ(table.record().valueKind, ValueKind::kInt32) << what;
    EXPECT_EQ(entriesOf(table), entries) << what;
    EXPECT_EQ(table.validate(), nullptr) << what;
  }
};

TEST_F(ImageTest, EmptyAndOneEntryTablesGiveTheDocumentedBytes) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kInt32), 1);
  const std::string empty44 = le32(44) + le32(10) + le32(3) + le32(16) + le32(0x3F400000) + le32(1) +
                              std::string(16, '\0') + le32(0);
  EXPECT_EQ(bytesOf(t.serialize().get()), empty44);

  put(t, "abc", raw32(5));
  const OwnedByteBuffer image = t.serialize();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->one, 1u);
  EXPECT_EQ(image->length, 56u);
  EXPECT_EQ(bytesOf(image.get()), kExample56);
}

TEST_F(ImageTest, TheFiftySixByteExampleReplacesTheEarlierTable) {
  EarlierTable earlier;
  const auto image = imageOf(kExample56);
  ASSERT_EQ(earlier.table.deserialize(image.get()), 1);
  EXPECT_VALID(earlier.table);
  EXPECT_EQ(earlier.table.record().keyKind, KeyKind::kText);
  EXPECT_EQ(earlier.table.record().valueKind, ValueKind::kInt32);
  EXPECT_EQ(earlier.table.record().count, 1);
  Entry abc;
  ASSERT_TRUE(lookUp(earlier.table, "abc", &abc));
  EXPECT_EQ(abc.value, raw32(5));
}

// One entry per kind: the exact key and value fields that serialize writes.
TEST_F(ImageTest, EachKindWritesItsFieldLittleEndian) {
  struct Sample {
    int32_t kind;
    std::string stored;  // the bytes the table holds
    std::string field;   // the bytes of the image field
  };
  const std::vector<Sample> keys = {
      {KeyKind::kInt32, raw32(0xFFFFFFFE), le32(0xFFFFFFFE)},
      {KeyKind::kInt64, raw64(0x0102030405060708), le64(0x0102030405060708)},
      {KeyKind::kText, "k\xE9y", textField("k\xE9y")},
      {KeyKind::kBytes, std::string("\0\x80z", 3), bufferField(std::string("\0\x80z", 3))},
  };
  const std::vector<Sample> values = {
      {ValueKind::kInt16, raw32(0xFFFFFFFD), le32(0xFFFFFFFD)},
      {ValueKind::kInt32, raw32(123456789), le32(123456789)},
      {ValueKind::kInt64, raw64(static_cast<uint64_t>(-5)), le64(static_cast<uint64_t>(-5))},
      {ValueKind::kFloat, raw32(0x3FC00000), le32(0x3FC00000)},
      {ValueKind::kDouble, raw64(bitsOf(-2.25)), le64(bitsOf(-2.25))},
      {ValueKind::kBool, raw32(1), le32(1)},
      {ValueKind::kDateTime, raw64(bitsOf(45000.5)), le64(bitsOf(45000.5))},
      {ValueKind::kText, "v\xC0", textField("v\xC0")},
      {ValueKind::kText, "", le32(1) + std::string(1, '\0')},   // null value
      {ValueKind::kBytes, std::string("\x01\0", 2), bufferField(std::string("\x01\0", 2))},
      {ValueKind::kBytes, "", le32(1) + le32(0)},                // null value
  };
  for (const Sample& k : keys) {
    for (const Sample& v : values) {
      SCOPED_TRACE(::testing::Message() << "key kind " << k.kind << ", value kind " << v.kind);
      FastHashTable t;
      ASSERT_EQ(t.create(k.kind, v.kind, 32, 0.5f, 0), 1);
      put(t, k.stored, v.stored);
      EXPECT_EQ(bytesOf(t.serialize().get()), imageWith(k.kind, v.kind, k.field + v.field, 1, 32, 0x3F000000, 0));
    }
  }
}

TEST_F(ImageTest, IntegerKeysWithDoubleValuesTakeTwelveBytesAnEntry) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kDouble), 1);
  for (uint32_t n = 0; n <= 40; ++n) {
    const OwnedByteBuffer image = t.serialize();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->length, 44 + 12 * n);
    put(t, raw32(n * 1000003u), raw64(bitsOf(n * 0.5)));
  }
}

TEST_F(ImageTest, SerializeGivesNullWithoutATableAndForHandledValues) {
  FastHashTable t;
  EXPECT_EQ(t.serialize(), nullptr);
  ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kHandled), 1);
  EXPECT_EQ(t.serialize(), nullptr);
  ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kInt32), 1);
  t.destroy();
  EXPECT_EQ(t.serialize(), nullptr);
}

// Keys and values for the round trips: long and short texts, bytes at and
// above 0x80, zero bytes inside buffers, and empty texts and buffers as values
// (stored as null).
std::string sampleKey(int32_t keyKind, uint32_t i) {
  switch (keyKind) {
    case KeyKind::kInt32: return raw32(i * 2654435761u);
    case KeyKind::kInt64: return raw64((uint64_t{i} << 40) ^ (i * 0x9E3779B97F4A7C15ull));
    case KeyKind::kText:
      return i == 3 ? std::string(300, 'L') : "key" + std::to_string(i) + (i % 4 == 0 ? "\xB0\xA1" : "");
    default: {
      std::string b(1 + i % 9, '\0');
      for (std::size_t j = 0; j < b.size(); ++j) b[j] = static_cast<char>(i * 37 + j * 101);
      return b;
    }
  }
}

std::string sampleValue(int32_t valueKind, uint32_t i) {
  if (valueKind == ValueKind::kText) return i % 5 == 0 ? "" : "text value " + std::to_string(i) + "\xFE";
  if (valueKind == ValueKind::kBytes) {
    if (i % 5 == 0) return "";
    std::string b(i % 7 + 1, '\0');
    b.back() = static_cast<char>(0x80 + i);
    return b;
  }
  const uint64_t bits = 0xA5A5000000000000ull ^ (uint64_t{i} * 0x0101010101ull);
  return valueSizeOf(valueKind) == 8 ? raw64(bits) : raw32(static_cast<uint32_t>(bits));
}

TEST_F(ImageTest, RoundTripForEveryPairOfKindsAcrossHashFamilies) {
  const int32_t keyKinds[] = {KeyKind::kInt32, KeyKind::kInt64, KeyKind::kText, KeyKind::kBytes};
  const int32_t valueKinds[] = {2, 3, 4, 5, 6, 7, 8, 10, 11};
  const bool hasCrc = realFeatures().sse42 != 0;
  for (int32_t keyKind : keyKinds) {
    for (int32_t valueKind : valueKinds) {
      SCOPED_TRACE(::testing::Message() << "key kind " << keyKind << ", value kind " << valueKind);
      FastHashTable original;
      std::map<std::string, Entry> expected;
      {
        ScopedCpuFeatures family(featuresFor(hasCrc ? Family::crc32 : Family::sum31));
        ASSERT_EQ(original.create(keyKind, valueKind, 16, 0.6f, 0), 1);
        for (uint32_t i = 0; i < 40; ++i) {
          const std::string value = sampleValue(valueKind, i);
          put(original, sampleKey(keyKind, i), value);
          Entry& e = expected[sampleKey(keyKind, i)];
          e.key = sampleKey(keyKind, i);
          e.value = value;
          e.valueIsNull = (valueKind == 10 || valueKind == 11) && value.empty();
        }
      }
      ASSERT_EQ(mappingOf(original), expected);
      const OwnedByteBuffer image = original.serialize();
      ASSERT_NE(image, nullptr);

      // Read back in either family: the image holds no hashes.
      for (Family reader : {Family::sum31, Family::crc32}) {
        if (reader == Family::crc32 && !hasCrc) continue;
        ScopedCpuFeatures family(featuresFor(reader));
        FastHashTable copy;
        ASSERT_EQ(copy.deserialize(image.get()), 1);
        EXPECT_VALID(copy);
        EXPECT_EQ(copy.record().keyKind, keyKind);
        EXPECT_EQ(copy.record().valueKind, valueKind);
        EXPECT_EQ(copy.record().loadFactor, 0.6f);
        EXPECT_EQ(copy.record().autoShrink, 0);
        EXPECT_EQ(copy.record().bucketCount, original.record().bucketCount);
        EXPECT_EQ(copy.record().count, 40);
        EXPECT_EQ(mappingOf(copy), expected);
        for (const auto& [key, entry] : expected) {
          const KeyArgument k(keyKind, key);
          EXPECT_EQ(copy.contains(k.ref()), 1);
        }
        // The same entries give the same image, whatever their order inside it.
        EXPECT_EQ(copy.serialize()->length, image->length);
      }
    }
  }
}

// Every shorter prefix of a valid image is refused: as it is (its total then
// exceeds its length), and with the total rewritten to the prefix's length
// (its entries then run past the image).
TEST_F(ImageTest, EveryTruncatedPrefixIsRefusedAndTheEarlierTableStays) {
  const std::pair<int32_t, int32_t> kinds[] = {
      {KeyKind::kText, ValueKind::kBytes}, {KeyKind::kBytes, ValueKind::kText}, {KeyKind::kInt64, ValueKind::kDouble}};
  for (const auto& [keyKind, valueKind] : kinds) {
    FastHashTable source;
    ASSERT_EQ(source.create(keyKind, valueKind), 1);
    for (uint32_t i = 0; i < 6; ++i) put(source, sampleKey(keyKind, i), sampleValue(valueKind, i));
    const std::string whole = bytesOf(source.serialize().get());

    EarlierTable earlier;
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const std::string prefix = whole.substr(0, length);
      const std::string what = "kinds " + std::to_string(keyKind) + "/" + std::to_string(valueKind) +
                               ", prefix of " + std::to_string(length);
      EXPECT_EQ(earlier.table.deserialize(imageOf(prefix).get()), 0) << what;
      if (length >= fasthash::kImageHeaderSize) {
        const std::string lying = le32(static_cast<uint32_t>(length)) + prefix.substr(4);
        EXPECT_EQ(earlier.table.deserialize(imageOf(lying).get()), 0) << what << ", total rewritten";
      }
      earlier.expectUnchanged(what);
    }
    EXPECT_EQ(earlier.table.deserialize(imageOf(whole).get()), 1);
  }
}

TEST_F(ImageTest, RefusesImagesItCannotTrust) {
  const std::string valid = kExample56;
  const std::string textEntry = textField("abc") + le32(5);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"43 bytes", valid.substr(0, 43)},
      {"total above the length", le32(57) + valid.substr(4)},
      {"total below the header", le32(40) + valid.substr(4)},
      {"negative total", le32(0xFFFFFFFF) + valid.substr(4)},
      {"handled values", imageWith(KeyKind::kText, ValueKind::kHandled, textEntry, 1)},
      {"more entries than the image holds", imageWith(KeyKind::kText, ValueKind::kInt32, textEntry, 2)},
      {"text key without room for its zero byte", imageWith(KeyKind::kText, ValueKind::kInt32, le32(0) + le32(5), 1)},
      {"text key whose last byte is not zero",
       imageWith(KeyKind::kText, ValueKind::kInt32, le32(4) + "abcd" + le32(5), 1)},
      {"text key longer than the image", imageWith(KeyKind::kText, ValueKind::kInt32, le32(9) + "abc", 1)},
      {"text value whose last byte is not zero",
       imageWith(KeyKind::kInt32, ValueKind::kText, le32(1) + le32(3) + "xyz", 1)},
      {"buffer key longer than the image", imageWith(KeyKind::kBytes, ValueKind::kInt32, le32(1) + le32(5) + "ab", 1)},
      {"buffer value longer than the image",
       imageWith(KeyKind::kInt32, ValueKind::kBytes, le32(1) + le32(1) + le32(0xFFFFFFF8), 1)},
      {"8-byte value cut short", imageWith(KeyKind::kInt32, ValueKind::kDouble, le32(1) + le32(0), 1)},
      // The entry fits the buffer but not the image that the total states.
      {"entry past the stated total", le32(55) + valid.substr(4)},
  };
  EarlierTable earlier;
  EXPECT_EQ(earlier.table.deserialize(nullptr), 0);
  earlier.expectUnchanged("no buffer");
  for (const Case& c : cases) {
    EXPECT_EQ(earlier.table.deserialize(imageOf(c.bytes).get()), 0) << c.name;
    earlier.expectUnchanged(c.name);
  }
}

TEST_F(ImageTest, BytesAfterTheStatedTotalAreIgnored) {
  FastHashTable t;
  ASSERT_EQ(t.deserialize(imageOf(kExample56 + textField("zz") + le32(9)).get()), 1);
  EXPECT_EQ(t.record().count, 1);
  Entry abc;
  EXPECT_TRUE(lookUp(t, "abc", &abc));
}

TEST_F(ImageTest, NoEntriesGiveAnEmptyTableWithTheStoredSettings) {
  for (uint32_t count : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    SCOPED_TRACE(::testing::Message() << "count " << static_cast<int32_t>(count));
    EarlierTable earlier;
    // What follows the count is not read: no entry is announced.
    const std::string image = imageWith(KeyKind::kBytes, ValueKind::kText, "\xFF\xFF", static_cast<int32_t>(count),
                                        64, 0x3F000000, 0);
    ASSERT_EQ(earlier.table.deserialize(imageOf(image).get()), 1);
    const FastTableRecord& r = earlier.table.record();
    EXPECT_EQ(r.keyKind, KeyKind::kBytes);
    EXPECT_EQ(r.valueKind, ValueKind::kText);
    EXPECT_EQ(r.bucketCount, 64u);
    EXPECT_EQ(r.loadFactor, 0.5f);
    EXPECT_EQ(r.autoShrink, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_VALID(earlier.table);
  }
}

TEST_F(ImageTest, LaterEntriesWinAndEntriesInsertRefusesAreSkipped) {
  // "dup" twice; an empty key; a key whose field holds an earlier zero byte,
  // which ends the text there ("a\0b" is the key "a", "\0ab" the empty key).
  const std::string entries = textField("dup") + le32(1) + textField("x") + le32(2) + textField("") + le32(3) +
                              textField(std::string("a\0b", 3)) + le32(4) + textField(std::string("\0ab", 3)) +
                              le32(5) + textField("dup") + le32(6);
  FastHashTable t;
  ASSERT_EQ(t.deserialize(imageOf(imageWith(KeyKind::kText, ValueKind::kInt32, entries, 6)).get()), 1);
  EXPECT_VALID(t);
  const std::map<std::string, Entry> expected = {
      {"dup", {"dup", raw32(6)}}, {"x", {"x", raw32(2)}}, {"a", {"a", raw32(4)}}};
  EXPECT_EQ(mappingOf(t), expected);

  // An empty byte-buffer key is skipped too.
  FastHashTable b;
  const std::string bufferEntries = bufferField("") + le32(1) + bufferField(std::string(1, '\0')) + le32(2);
  ASSERT_EQ(b.deserialize(imageOf(imageWith(KeyKind::kBytes, ValueKind::kInt32, bufferEntries, 2)).get()), 1);
  const std::map<std::string, Entry> expectedBuffers = {{std::string(1, '\0'), {std::string(1, '\0'), raw32(2)}}};
  EXPECT_EQ(mappingOf(b), expectedBuffers);
}

// Codes that serialize never writes are read as create normalises them: the
// fields then have the width of kind 3.
TEST_F(ImageTest, UnknownKindCodesAreReadAsCreateNormalisesThem) {
  FastHashTable t;
  const std::string intEntries = le32(5) + le32(50) + le32(21) + le32(60);
  ASSERT_EQ(t.deserialize(imageOf(imageWith(77, 1, intEntries, 2)).get()), 1);
  EXPECT_EQ(t.record().keyKind, KeyKind::kInt32);
  EXPECT_EQ(t.record().valueKind, ValueKind::kInt32);
  EXPECT_EQ(mappingOf(t), (std::map<std::string, Entry>{{raw32(5), {raw32(5), raw32(50)}},
                                                        {raw32(21), {raw32(21), raw32(60)}}}));

  ASSERT_EQ(t.deserialize(imageOf(imageWith(KeyKind::kText, 12, textField("k") + le32(7), 1)).get()), 1);
  EXPECT_EQ(t.record().valueKind, ValueKind::kInt32);
  EXPECT_EQ(mappingOf(t), (std::map<std::string, Entry>{{"k", {"k", raw32(7)}}}));
}

}  // namespace
}  // namespace linemint::test
