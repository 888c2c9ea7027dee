// toBytes and fromBytes: the exact image layout, loading, and refusal of
// every image that is malformed or would make the reader leave its bytes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sharedhash/shared_hash_table.h"
#include "sharedhash/word_rules.h"
#include "table_test_support.h"

namespace linemint {
namespace {

using testing::AllocationSeamGuard;
using testing::block;
using testing::blockData;
using testing::textOf;
using Bytes = std::vector<uint8_t>;

// Builds images by hand, field by field.
struct Image {
  Bytes bytes;
  Image& tag(const char* t = "hash") {
    bytes.insert(bytes.end(), t, t + 4);
    return *this;
  }
  Image& word(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Image& raw(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Image& text(std::string_view s) { return raw(s).raw(std::string_view("\0", 1)); }
  Image& blockItem(std::string_view data) { return word(1).word(static_cast<int32_t>(data.size())).raw(data); }
  // Header of an image of n entries.
  static Image header(int32_t keyKind, int32_t valueKind, int32_t n) {
    Image i;
    i.tag().word(keyKind).word(valueKind).word(n);
    return i;
  }
};

Bytes bytesOf(const platform::OwnedByteBuffer& b) {
  return b == nullptr ? Bytes{} : Bytes(b->bytes(), b->bytes() + b->length);
}

bool load(SharedHashTable& t, const Bytes& bytes) {
  // An exact-size heap copy, so that any read past the end shows under ASan.
  auto exact = platform::newByteBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return t.fromBytes(exact.get());
}

TEST(SharedTableImage, EmptyTable) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
  const Bytes image = bytesOf(t.toBytes());
  EXPECT_EQ(image, Image::header(10, 3, 0).bytes);
  EXPECT_EQ(image, (Bytes{'h', 'a', 's', 'h', 10, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
  SharedHashTable loaded;
  ASSERT_TRUE(load(loaded, image));
  EXPECT_EQ(loaded.count(), 0);
  EXPECT_EQ(loaded.record()->bucketCount, 11);
  EXPECT_EQ(loaded.record()->keyKind, kTextKind);
  EXPECT_EQ(loaded.record()->valueKind, kIntegerKind);
  EXPECT_VALID(loaded);
}

TEST(SharedTableImage, NotCreatedGivesAnEmptyByteString) {
  SharedHashTable t;
  platform::OwnedByteBuffer image = t.toBytes();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->length, 0u);
  EXPECT_FALSE(t.fromBytes(image.get()));
  EXPECT_FALSE(t.fromBytes(static_cast<const platform::ByteBuffer*>(nullptr)));
  EXPECT_FALSE(t.isCreated());
}

// The 28-byte image of one entry abc -> 5, both ways.
TEST(SharedTableImage, TextKeyIntegerValueExample) {
  const Bytes example = Image::header(10, 3, 1).word(24).word(5).text("abc").bytes;
  ASSERT_EQ(example.size(), 28u);
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
  t.insert(KeyWord::text("abc"), KeyWord::integer(5));
  EXPECT_EQ(bytesOf(t.toBytes()), example);

  SharedHashTable loaded;
  ASSERT_TRUE(load(loaded, example));
  EXPECT_EQ(loaded.count(), 1);
  EXPECT_EQ(loaded.get(KeyWord::text("abc")).asInteger(), 5);
  EXPECT_VALID(loaded);
}

TEST(SharedTableImage, IntegerTableHasOnlySlots) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
  t.insert(KeyWord::integer(1), KeyWord::integer(10));
  t.insert(KeyWord::integer(12), KeyWord::integer(20));
  t.insert(KeyWord::integer(-2), KeyWord::integer(-30));
  // Enumeration order: -2 falls in bucket 0 (0x7FFFFFFE % 11), then bucket 1
  // holds 12 and 1.
  EXPECT_EQ(bytesOf(t.toBytes()),
            Image::header(3, 3, 3).word(-2).word(-30).word(12).word(20).word(1).word(10).bytes);
}

TEST(SharedTableImage, NullWordsHaveNoItem) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  t.insert(KeyWord::text(nullptr), KeyWord::text("v"));
  t.insert(KeyWord::text(""), KeyWord::text(nullptr));
  // Both hash to 0: bucket 0 holds the empty text, then null.
  const Bytes expected = Image::header(10, 10, 2).word(32).word(0).word(0).word(33).text("").text("v").bytes;
  EXPECT_EQ(bytesOf(t.toBytes()), expected);
  SharedHashTable loaded;
  ASSERT_TRUE(load(loaded, expected));
  EXPECT_EQ(loaded.count(), 2);
  EXPECT_EQ(textOf(loaded.get(KeyWord::text(nullptr))), "v");
  EXPECT_TRUE(loaded.containsKey(KeyWord::text("")));
  EXPECT_TRUE(loaded.get(KeyWord::text("")).isZero());
  EXPECT_VALID(loaded);
}

TEST(SharedTableImage, EmptyBlockIsAnEightByteItem) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kByteStringKind));
  t.insert(KeyWord::integer(7), KeyWord::bytes(block("").get()));
  const Bytes expected = Image::header(3, 11, 1).word(7).word(24).word(1).word(0).bytes;
  EXPECT_EQ(bytesOf(t.toBytes()), expected);
  SharedHashTable loaded;
  ASSERT_TRUE(load(loaded, expected));
  const KeyWord v = loaded.get(KeyWord::integer(7));
  ASSERT_FALSE(v.isZero());
  EXPECT_EQ(v.asBytes()->one, 1u);
  EXPECT_EQ(v.asBytes()->length, 0u);
}

TEST(SharedTableImage, LaterDuplicateWins) {
  // Both key slots may even point at the same item.
  const Bytes image = Image::header(10, 3, 3).word(40).word(1).word(44).word(2).word(40).word(3)
                          .text("key").text("ab").bytes;
  SharedHashTable t;
  ASSERT_TRUE(load(t, image));
  EXPECT_EQ(t.count(), 2);
  EXPECT_EQ(t.get(KeyWord::text("key")).asInteger(), 3);
  EXPECT_EQ(t.get(KeyWord::text("ab")).asInteger(), 2);
  EXPECT_VALID(t);
}

// An offset designates whatever lies there, the header included: offset 1
// reads "ash" followed by the key kind's first byte, 10, and its zero.
TEST(SharedTableImage, OffsetMayPointIntoTheHeader) {
  const Bytes image = Image::header(10, 3, 1).word(1).word(9).bytes;
  SharedHashTable t;
  ASSERT_TRUE(load(t, image));
  EXPECT_EQ(t.get(KeyWord::text("ash\n")).asInteger(), 9);
}

// A block whose header word is not 1 loads as an ordinary block.
TEST(SharedTableImage, BlockHeaderWordIsNotTrusted) {
  const Bytes image = Image::header(11, 3, 1).word(24).word(4).word(77).word(3).raw("abc").bytes;
  SharedHashTable t;
  ASSERT_TRUE(load(t, image));
  EXPECT_EQ(t.get(KeyWord::bytes(block("abc").get())).asInteger(), 4);
  EXPECT_VALID(t);
  EXPECT_EQ(bytesOf(t.toBytes()), Image::header(11, 3, 1).word(24).word(4).blockItem("abc").bytes);
}

struct RefusedImage {
  const char* name;
  Bytes bytes;
};

// A valid image of text keys and byte-string values, to spoil in each case.
Bytes textBlockImage() { return Image::header(10, 11, 1).word(24).word(28).text("abc").blockItem("xyz").bytes; }

std::vector<RefusedImage> refusedImages() {
  std::vector<RefusedImage> cases;
  const Bytes good = textBlockImage();
  for (int i = 0; i < 4; ++i) {
    Bytes b = good;
    b[i] ^= 0x20;  // upper case, one letter at a time
    cases.push_back({"tag byte changed", b});
  }
  cases.push_back({"tag HASH", Image().tag("HASH").word(3).word(3).word(0).bytes});
  cases.push_back({"empty", {}});
  cases.push_back({"15 bytes", Bytes(good.begin(), good.begin() + 15)});
  cases.push_back({"key kind 4", Image::header(4, 3, 0).bytes});
  cases.push_back({"value kind 4", Image::header(3, 4, 0).bytes});
  cases.push_back({"key kind 0", Image::header(0, 3, 0).bytes});
  cases.push_back({"entry count -1", Image::header(3, 3, -1).bytes});
  cases.push_back({"entry count -11", Image::header(3, 3, -11).bytes});
  cases.push_back({"entry count INT_MIN", Image::header(3, 3, INT32_MIN).bytes});
  cases.push_back({"entry count INT_MAX", Image::header(3, 3, INT32_MAX).bytes});
  cases.push_back({"slots cut short", Image::header(3, 3, 2).word(1).word(2).word(3).bytes});
  cases.push_back({"offset past the end", Image::header(10, 3, 1).word(24).word(0).bytes});
  cases.push_back({"offset far past the end", Image::header(10, 3, 1).word(0x7FFFFFFF).word(0).bytes});
  cases.push_back({"negative offset", Image::header(10, 3, 1).word(-4).word(0).text("a").bytes});
  cases.push_back({"text without its zero byte", Image::header(10, 3, 1).word(24).word(0).raw("abc").bytes});
  cases.push_back({"value text without its zero byte", Image::header(3, 10, 1).word(1).word(24).raw("a").bytes});
  cases.push_back({"block header cut", Image::header(11, 3, 1).word(24).word(0).word(1).raw("\3\0").bytes});
  cases.push_back({"block data cut", Image::header(11, 3, 1).word(24).word(0).word(1).word(4).raw("abc").bytes});
  cases.push_back({"block length 2^32 - 1", Image::header(11, 3, 1).word(24).word(0).word(1).word(-1).raw("abc").bytes});
  cases.push_back({"block length 2^31", Image::header(3, 11, 1).word(0).word(24).word(1).word(INT32_MIN).bytes});
  cases.push_back({"second entry bad", Image::header(10, 3, 2).word(32).word(1).word(99).word(2).text("ok").bytes});
  return cases;
}

TEST(SharedTableImage, RefusedImagesLeaveTheHandleAsItWas) {
  const int64_t blocksBefore = tableBlocksInUseForTesting();
  for (const RefusedImage& c : refusedImages()) {
    SharedHashTable t;
    ASSERT_TRUE(t.create(kTextKind, kIntegerKind));
    t.insert(KeyWord::text("kept"), KeyWord::integer(1));
    const SharedTableRecord* before = t.record();
    EXPECT_FALSE(load(t, c.bytes)) << c.name;
    EXPECT_EQ(t.record(), before) << c.name;
    EXPECT_EQ(t.get(KeyWord::text("kept")).asInteger(), 1) << c.name;

    SharedHashTable fresh;
    EXPECT_FALSE(load(fresh, c.bytes)) << c.name;
    EXPECT_FALSE(fresh.isCreated()) << c.name;
  }
  EXPECT_EQ(tableBlocksInUseForTesting(), blocksBefore);
}

// A table of every kind pair, with nulls, empties and collisions.
SharedHashTable mixedTable(int32_t keyKind, int32_t valueKind, int entries, uint32_t seed) {
  std::mt19937 rng(seed);
  SharedHashTable t;
  t.create(keyKind, valueKind);
  auto word = [&](int32_t kind, int i, std::vector<platform::OwnedByteBuffer>& keep, std::vector<std::string>& texts) {
    if (kind == kIntegerKind) return KeyWord::integer(i * 11 - 40);
    if (i % 7 == 3) return KeyWord();
    std::string s = std::to_string(rng() % 1000) + std::string(i % 5, '\x90') + std::to_string(i);
    if (kind == kTextKind) return KeyWord::text(texts.emplace_back(s).c_str());
    if (i % 4 == 0) s.push_back('\0');
    keep.push_back(block(s));
    return KeyWord::bytes(keep.back().get());
  };
  for (int i = 0; i < entries; ++i) {
    std::vector<platform::OwnedByteBuffer> keep;
    std::vector<std::string> texts;
    texts.reserve(2);
    t.insert(word(keyKind, i, keep, texts), word(valueKind, i + 1, keep, texts));
  }
  return t;
}

// Same kinds, same count, and for every key an equal value.
void expectSameEntries(const SharedHashTable& a, const SharedHashTable& b) {
  ASSERT_EQ(a.record()->keyKind, b.record()->keyKind);
  ASSERT_EQ(a.record()->valueKind, b.record()->valueKind);
  ASSERT_EQ(a.count(), b.count());
  KeyWordArray keys;
  a.keys(keys);
  for (KeyWord k : keys) {
    ASSERT_TRUE(b.containsKey(k));
    EXPECT_TRUE(wordsEqual(a.record()->valueKind, a.get(k), b.get(k)));
  }
}

TEST(SharedTableImage, RoundTripEveryKindPair) {
  const int32_t kinds[] = {kIntegerKind, kTextKind, kByteStringKind};
  uint32_t seed = 7;
  for (int32_t keyKind : kinds) {
    for (int32_t valueKind : kinds) {
      SCOPED_TRACE(::testing::Message() << "kinds " << keyKind << "/" << valueKind);
      const SharedHashTable source = mixedTable(keyKind, valueKind, 30, seed++);
      const Bytes image = bytesOf(source.toBytes());
      SharedHashTable loaded;
      ASSERT_TRUE(load(loaded, image));
      EXPECT_VALID(loaded);
      expectSameEntries(source, loaded);
      EXPECT_EQ(loaded.record()->bucketCount, loaded.count() + 11);

      // Every prefix of a valid image is refused.
      for (std::size_t n = 0; n < image.size(); ++n) {
        SharedHashTable t;
        ASSERT_FALSE(load(t, Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n)))) << n;
      }
    }
  }
}

// Loading N distinct keys into N + 11 buckets at load factor 0.75 grows only past 33.
TEST(SharedTableImage, LoadGrowsOnlyPastThirtyThreeEntries) {
  struct Case {
    int entries;
    int32_t bucketsAfterLoad;
  };
  for (const Case c : {Case{33, 44}, Case{34, 91}, Case{0, 11}}) {
    SharedHashTable source;
    ASSERT_TRUE(source.create(kIntegerKind, kIntegerKind, 500));
    for (int i = 0; i < c.entries; ++i) source.insert(KeyWord::integer(i), KeyWord::integer(-i));
    SharedHashTable loaded;
    ASSERT_TRUE(load(loaded, bytesOf(source.toBytes())));
    EXPECT_EQ(loaded.record()->bucketCount, c.bucketsAfterLoad) << c.entries;
    expectSameEntries(source, loaded);
  }
}

TEST(SharedTableImage, LoadingThroughASharedHandle) {
  SharedHashTable a;
  ASSERT_TRUE(a.create(kTextKind, kIntegerKind));
  a.insert(KeyWord::text("old"), KeyWord::integer(1));
  SharedHashTable b = a.copy();
  const Bytes example = Image::header(10, 3, 1).word(24).word(5).text("abc").bytes;
  ASSERT_TRUE(load(b, example));
  // a keeps the old table, alone now; b has the loaded one.
  EXPECT_TRUE(a.containsKey(KeyWord::text("old")));
  EXPECT_FALSE(a.containsKey(KeyWord::text("abc")));
  EXPECT_EQ(b.get(KeyWord::text("abc")).asInteger(), 5);
  SharedTableState* state = nullptr;
  a.query(nullptr, &state);
  EXPECT_EQ(state->referenceCount(), 1);

  // A copy of the loaded handle shares the loaded table; a refused load on
  // one of them changes neither.
  SharedHashTable c = b.copy();
  c.insert(KeyWord::text("new"), KeyWord::integer(2));
  EXPECT_EQ(b.count(), 2);
  EXPECT_FALSE(load(b, Image::header(4, 3, 0).bytes));
  EXPECT_EQ(b.record(), c.record());
  b.query(nullptr, &state);
  EXPECT_EQ(state->referenceCount(), 2);
}

// Every allocation of a load may fail: the handle stays as it was, nothing leaks.
TEST(SharedTableImage, FailedAllocationDuringLoad) {
  AllocationSeamGuard guard;
  const SharedHashTable source = mixedTable(kTextKind, kByteStringKind, 12, 99);
  const Bytes image = bytesOf(source.toBytes());
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kIntegerKind));
  const SharedTableRecord* before = t.record();
  const int64_t blocks = tableBlocksInUseForTesting();
  for (int64_t allowed = 0;; ++allowed) {
    failTableAllocationsAfterForTesting(allowed);
    const bool loaded = load(t, image);
    failTableAllocationsAfterForTesting(-1);
    if (loaded) {
      expectSameEntries(source, t);
      break;
    }
    ASSERT_EQ(t.record(), before) << allowed;
    ASSERT_EQ(tableBlocksInUseForTesting(), blocks) << allowed;
    ASSERT_LT(allowed, 100);
  }
}

}  // namespace
}  // namespace linemint
