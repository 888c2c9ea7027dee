// keysToArray, valuesToArray, containsValue and keysWithValue: the array
// layout, walk order, release through a reused variable, and value equality.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "general_test_support.h"

namespace linemint {
namespace {

using test::Arg;
using test::contents;

class ArraysTest : public test::FastTableTest {};

using Content = std::optional<std::string>;

// Reads element i of a key or value array as text: numbers in decimal, texts
// and buffers by their bytes, nullopt for a null element.
Content elementAsContent(const OwnedArray& a, uint32_t i) {
  switch (a.elementKind()) {
    case 10: return contents(a.textAt(i));
    case 11: return contents(a.bufferAt(i));
    case 4: return std::to_string(a.int64At(i));
    default: return std::to_string(a.int32At(i));
  }
}

// The keys the cursor delivers, as Content, in walk order.
std::vector<Content> walkKeys(FastHashTable& t) {
  std::vector<Content> keys;
  t.resetCursor();
  switch (t.getKeyKind()) {
    case 10:
      for (OwnedText k; t.nextKey(&k) == 1;) keys.push_back(contents(k.get()));
      break;
    case 11:
      for (OwnedByteBuffer k; t.nextKey(&k) == 1;) keys.push_back(contents(k.get()));
      break;
    case 4:
      for (int64_t k = 0; t.nextKey(&k) == 1;) keys.push_back(std::to_string(k));
      break;
    default:
      for (int32_t k = 0; t.nextKey(&k) == 1;) keys.push_back(std::to_string(k));
      break;
  }
  return keys;
}

std::vector<Content> arrayContents(const OwnedArray& a) {
  std::vector<Content> out;
  for (uint32_t i = 0; i < a.size(); ++i) out.push_back(elementAsContent(a, i));
  return out;
}

std::string keyText(int i) { return "k" + std::to_string(i); }

void fill(FastHashTable& t, int n, int32_t valueOf(int)) {
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(t.insert(Arg::key(t.getKeyKind(), i * 7 - 40, keyText(i)).ref(), Arg::of<int32_t>(valueOf(i)).ref()), 1);
  }
}

TEST_F(ArraysTest, KeyArraysFollowTheWalkForEveryKeyKind) {
  for (const int32_t keyKind : {3, 4, 10, 11}) {
    SCOPED_TRACE(keyKind);
    FastHashTable t;
    ASSERT_EQ(t.create(keyKind, ValueKind::kInt32), 1);
    fill(t, 30, [](int i) { return i; });
    OwnedArray keys;
    ASSERT_EQ(t.keysToArray(&keys), 30);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys.get()->one, 1u);
    EXPECT_EQ(keys.get()->count, 30u);
    EXPECT_EQ(keys.elementKind(), keyKind);
    EXPECT_EQ(arrayContents(keys), walkKeys(t));
  }
}

TEST_F(ArraysTest, ArraysOfAnEmptyDestroyedOrNeverCreatedTable) {
  for (const bool values : {false, true}) {
    SCOPED_TRACE(values ? "valuesToArray" : "keysToArray");
    auto toArray = [values](FastHashTable& t, OwnedArray* a) { return values ? t.valuesToArray(a) : t.keysToArray(a); };
    FastHashTable t;
    OwnedArray held = OwnedArray::allocate(3, 3, nullptr);
    const FastArray* before = held.get();
    EXPECT_EQ(toArray(t, &held), 0);  // never created: untouched
    EXPECT_EQ(held.get(), before);

    ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kText), 1);
    OwnedArray a;
    EXPECT_EQ(toArray(t, &a), 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a.get()->one, 1u);
    EXPECT_EQ(a.size(), 0u);

    ASSERT_EQ(t.insert(Arg::text("x").ref(), Arg::text("y").ref()), 1);
    ASSERT_EQ(toArray(t, &a), 1);
    t.destroy();
    EXPECT_EQ(toArray(t, &a), 0);  // the kinds survive destroy, the entries do not
    ASSERT_TRUE(a);
    EXPECT_EQ(a.size(), 0u);
  }
}

TEST_F(ArraysTest, ReusedArrayVariablesReleaseTheirEarlierContents) {
  // ASan's leak check catches any text or buffer of an earlier result that
  // is not freed when the variable is filled again.
  for (const int32_t kind : {10, 11}) {
    SCOPED_TRACE(kind);
    FastHashTable t;
    ASSERT_EQ(t.create(kind, kind), 1);
    OwnedArray keys;
    OwnedArray values;
    OwnedArray matching;
    for (int round = 1; round <= 3; ++round) {
      const std::string s = keyText(round);
      const Arg value = kind == 10 ? Arg::text("v") : Arg::bytes("v");
      ASSERT_EQ(t.insert(Arg::key(kind, 0, s).ref(), value.ref()), 1);
      ASSERT_EQ(t.keysToArray(&keys), round);
      ASSERT_EQ(t.valuesToArray(&values), round);
      ASSERT_EQ(t.keysWithValue(value.ref(), &matching), round);
      EXPECT_EQ(arrayContents(keys), arrayContents(matching));
      for (const Content& v : arrayContents(values)) EXPECT_EQ(v, "v");
    }
  }
}

struct ValuesRow {
  int32_t valueKind;
  std::vector<uint64_t> fields;  // as stored, 4 or 8 bytes
};

TEST_F(ArraysTest, ValueArraysCarryTheStoredFields) {
  const ValuesRow rows[] = {
      {ValueKind::kInt16, {1, 0xFFFFFFFFu}},  // 1 and -1 as 4-byte fields
      {ValueKind::kInt32, {0x80000000u, 7}},
      {ValueKind::kInt64, {0x8000000000000001u, 2}},
      {ValueKind::kFloat, {0x7FC00000u, 0x80000000u}},
      {ValueKind::kDouble, {0x7FF8000000000001u, 0x3FF0000000000000u}},
      {ValueKind::kBool, {0, 1}},
      {ValueKind::kDateTime, {0x40E5F90000000000u, 0}},
  };
  for (const ValuesRow& row : rows) {
    SCOPED_TRACE(row.valueKind);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, row.valueKind), 1);
    const bool wide = valueSizeOf(row.valueKind) == 8;
    for (size_t i = 0; i < row.fields.size(); ++i) {
      const Arg v = wide ? Arg::of<uint64_t>(row.fields[i]) : Arg::of<uint32_t>(static_cast<uint32_t>(row.fields[i]));
      ASSERT_EQ(t.insert(Arg::of(static_cast<int32_t>(i)).ref(), v.ref()), 1);  // keys 0, 1: walk order
    }
    OwnedArray a;
    ASSERT_EQ(t.valuesToArray(&a), static_cast<int32_t>(row.fields.size()));
    EXPECT_EQ(a.elementWidth(), wide ? 8u : 4u);
    for (uint32_t i = 0; i < a.size(); ++i) {
      uint64_t element = 0;
      std::memcpy(&element, a.element(i), a.elementWidth());
      EXPECT_EQ(element, row.fields[i]);
    }
  }
}

TEST_F(ArraysTest, TextAndBufferValueArraysHoldCopiesOrNull) {
  FastHashTable texts;
  ASSERT_EQ(texts.create(KeyKind::kInt32, ValueKind::kText), 1);
  ASSERT_EQ(texts.insert(Arg::of(0).ref(), Arg::text("zero").ref()), 1);
  ASSERT_EQ(texts.insert(Arg::of(1).ref(), Arg::text("").ref()), 1);
  ASSERT_EQ(texts.insert(Arg::of(2).ref(), Arg::text(std::nullopt).ref()), 1);
  OwnedArray a;
  ASSERT_EQ(texts.valuesToArray(&a), 3);
  EXPECT_EQ(arrayContents(a), (std::vector<Content>{"zero", std::nullopt, std::nullopt}));

  FastHashTable buffers;
  ASSERT_EQ(buffers.create(KeyKind::kInt32, ValueKind::kBytes), 1);
  ASSERT_EQ(buffers.insert(Arg::of(0).ref(), Arg::bytes(std::string_view("\0\1", 2)).ref()), 1);
  ASSERT_EQ(buffers.insert(Arg::of(1).ref(), Arg::bytes("").ref()), 1);
  ASSERT_EQ(buffers.valuesToArray(&a), 2);  // also releases the text array
  EXPECT_EQ(arrayContents(a), (std::vector<Content>{std::string("\0\1", 2), std::nullopt}));
}

TEST_F(ArraysTest, KeysWithValueCollectsInWalkOrderPastItsFirstRoom) {
  // 0, 16, 20 and 33 matches: none, exactly the first room, past it, past twice.
  for (const int matches : {0, 16, 20, 33}) {
    for (const int32_t keyKind : {3, 10}) {
      SCOPED_TRACE(::testing::Message() << matches << " matches, key kind " << keyKind);
      FastHashTable t;
      ASSERT_EQ(t.create(keyKind, ValueKind::kInt32), 1);
      fill(t, 40, [](int) { return 0; });
      for (int i = 0; i < matches; ++i) {
        const Arg key = Arg::key(keyKind, i * 7 - 40, keyText(i));
        ASSERT_EQ(t.insert(key.ref(), Arg::of<int32_t>(5).ref()), 2);
      }
      std::vector<Content> expected;
      {
        OwnedArray keys;
        OwnedArray values;
        t.keysToArray(&keys);
        t.valuesToArray(&values);
        for (uint32_t i = 0; i < keys.size(); ++i)
          if (values.int32At(i) == 5) expected.push_back(elementAsContent(keys, i));
      }
      OwnedArray found;
      ASSERT_EQ(t.keysWithValue(Arg::of<int32_t>(5).ref(), &found), matches);
      ASSERT_TRUE(found);
      EXPECT_EQ(found.get()->one, 1u);
      EXPECT_EQ(found.size(), static_cast<uint32_t>(matches));
      EXPECT_EQ(arrayContents(found), expected);
    }
  }
}

TEST_F(ArraysTest, ValueSearchRefusals) {
  OwnedArray held = OwnedArray::allocate(2, 3, nullptr);
  const FastArray* before = held.get();
  const Arg zero = Arg::of<int32_t>(0);

  FastHashTable t;
  EXPECT_EQ(t.containsValue(zero.ref()), 0);  // not created
  EXPECT_EQ(t.keysWithValue(zero.ref(), &held), 0);
  EXPECT_EQ(held.get(), before);

  test::CountingHandler handler;
  FastHashTable handled;
  handled.setValueHandler(&handler);
  ASSERT_EQ(handled.create(KeyKind::kInt32, ValueKind::kHandled), 1);
  ASSERT_EQ(handled.insert(zero.ref(), zero.ref()), 1);
  EXPECT_EQ(handled.containsValue(zero.ref()), 0);
  EXPECT_EQ(handled.keysWithValue(zero.ref(), &held), 0);
  EXPECT_EQ(held.get(), before);

  FastHashTable texts;
  ASSERT_EQ(texts.create(KeyKind::kInt32, ValueKind::kText), 1);
  ASSERT_EQ(texts.insert(zero.ref(), Arg::text(std::nullopt).ref()), 1);
  const Arg absent = Arg::text(std::nullopt);
  EXPECT_EQ(texts.containsValue(absent.ref()), 0);
  EXPECT_EQ(texts.keysWithValue(absent.ref(), &held), 0);  // an empty array
  ASSERT_TRUE(held);
  EXPECT_EQ(held.size(), 0u);
}

uint64_t bitsOf(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}
uint64_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

struct EqualityRow {
  const char* what;
  int32_t valueKind;
  std::vector<uint64_t> stored;  // numeric kinds: the fields
  std::vector<Content> storedContents;  // kinds 10, 11
  uint64_t given;
  Content givenContent;
  int expectedMatches;
};

TEST_F(ArraysTest, ValueEqualityByKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const float nanf = std::numeric_limits<float>::quiet_NaN();
  const std::vector<uint64_t> doubles = {bitsOf(0.0), bitsOf(nan), bitsOf(1.0)};
  const std::vector<uint64_t> floats = {bitsOf(0.0f), bitsOf(nanf), bitsOf(1.0f)};
  const std::vector<Content> texts = {"", "ab", "abc", std::nullopt};
  const std::vector<Content> buffers = {std::string("a\0b", 3), "a", ""};
  const EqualityRow rows[] = {
      {"double -0 equals +0", 6, doubles, {}, bitsOf(-0.0), {}, 1},
      {"double NaN equals nothing", 6, doubles, {}, bitsOf(nan), {}, 0},
      {"double NaN with the stored bits", 6, doubles, {}, doubles[1], {}, 0},
      {"double 1", 6, doubles, {}, bitsOf(1.0), {}, 1},
      {"float -0 equals +0", 5, floats, {}, bitsOf(-0.0f), {}, 1},
      {"float NaN equals nothing", 5, floats, {}, floats[1], {}, 0},
      {"int16 compares the whole 4-byte field", 2, {0x00010001u, 1}, {}, 1, {}, 1},
      {"int32 repeated", 3, {7, 7, 8}, {}, 7, {}, 2},
      {"date-time compares bytes: -0 is not +0", 8, {bitsOf(0.0), bitsOf(0.0)}, {}, bitsOf(-0.0), {}, 0},
      {"int64 high half counts", 4, {0x100000005u, 5}, {}, 5, {}, 1},
      {"text", 10, {}, texts, 0, "ab", 1},
      {"text prefix of a stored one", 10, {}, texts, 0, "a", 0},
      {"text longer than a stored one", 10, {}, texts, 0, "abcd", 0},
      {"empty text equals nothing, not even an empty stored one", 10, {}, texts, 0, "", 0},
      {"buffer with a NUL", 11, {}, buffers, 0, std::string("a\0b", 3), 1},
      {"buffer differing after the NUL", 11, {}, buffers, 0, std::string("a\0c", 3), 0},
      {"empty buffer", 11, {}, buffers, 0, "", 0},
  };
  for (const EqualityRow& row : rows) {
    SCOPED_TRACE(row.what);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, row.valueKind), 1);
    const bool wide = valueSizeOf(row.valueKind) == 8;
    auto numberArg = [wide](uint64_t bits) {
      return wide ? Arg::of<uint64_t>(bits) : Arg::of<uint32_t>(static_cast<uint32_t>(bits));
    };
    auto contentArg = [&row](const Content& c) { return row.valueKind == 10 ? Arg::text(c) : Arg::bytes(c); };
    int32_t key = 0;
    for (uint64_t field : row.stored) ASSERT_EQ(t.insert(Arg::of(key++).ref(), numberArg(field).ref()), 1);
    for (const Content& c : row.storedContents) ASSERT_EQ(t.insert(Arg::of(key++).ref(), contentArg(c).ref()), 1);
    const Arg given = row.storedContents.empty() ? numberArg(row.given) : contentArg(row.givenContent);
    EXPECT_EQ(t.containsValue(given.ref()), row.expectedMatches > 0 ? 1 : 0);
    OwnedArray keys;
    EXPECT_EQ(t.keysWithValue(given.ref(), &keys), row.expectedMatches);
  }
}

}  // namespace
}  // namespace linemint
