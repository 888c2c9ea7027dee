// keys, values, keysWithValue, containsValue and forEach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sharedhash/shared_hash_table.h"
#include "sharedhash/word_rules.h"
#include "table_test_support.h"

namespace linemint {
namespace {

using testing::textOf;

std::vector<int32_t> integers(const KeyWordArray& a) {
  std::vector<int32_t> out;
  for (KeyWord w : a) out.push_back(w.asInteger());
  return out;
}

// {1 -> 10, 12 -> 20, 2 -> 30} in a default table: 1 and 12 share bucket 1,
// so the enumeration order is 12, 1, 2.
SharedHashTable sampleTable() {
  SharedHashTable t;
  t.create(kIntegerKind, kIntegerKind);
  t.insert(KeyWord::integer(1), KeyWord::integer(10));
  t.insert(KeyWord::integer(12), KeyWord::integer(20));
  t.insert(KeyWord::integer(2), KeyWord::integer(30));
  return t;
}

TEST(SharedTableEnumeration, KeysAndValuesInEnumerationOrder) {
  SharedHashTable t = sampleTable();
  KeyWordArray a;
  EXPECT_EQ(t.keys(a), 3);
  EXPECT_EQ(integers(a), (std::vector<int32_t>{12, 1, 2}));
  EXPECT_EQ(t.values(a), 3);
  EXPECT_EQ(integers(a), (std::vector<int32_t>{20, 10, 30}));
  // The array block: word 1, count, then the words.
  const auto* header = static_cast<const uint32_t*>(a.block());
  EXPECT_EQ(header[0], 1u);
  EXPECT_EQ(header[1], 3u);
}

TEST(SharedTableEnumeration, KeysWithValueReplacesTheCallersArray) {
  SharedHashTable t = sampleTable();
  KeyWordArray a;
  EXPECT_EQ(t.keysWithValue(KeyWord::integer(10), a), 1);
  EXPECT_EQ(integers(a), (std::vector<int32_t>{1}));
  EXPECT_EQ(t.keysWithValue(KeyWord::integer(99), a), 0);
  EXPECT_TRUE(a.empty());
  EXPECT_TRUE(a.hasBlock());

  t.insert(KeyWord::integer(23), KeyWord::integer(10));  // bucket 1 again, at its head
  EXPECT_EQ(t.keysWithValue(KeyWord::integer(10), a), 2);
  EXPECT_EQ(integers(a), (std::vector<int32_t>{23, 1}));
}

TEST(SharedTableEnumeration, EmptyTable) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  KeyWordArray a = KeyWordArray::withCount(4);
  EXPECT_EQ(t.keys(a), 0);
  EXPECT_TRUE(a.empty());
  a = KeyWordArray::withCount(4);
  EXPECT_EQ(t.values(a), 0);
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(t.containsValue(KeyWord::text(nullptr)));
  static int calls;
  calls = 0;
  t.forEach([](KeyWord, KeyWord, int32_t) -> int32_t { return ++calls, 0; });
  EXPECT_EQ(calls, 0);
}

TEST(SharedTableEnumeration, NotCreatedLeavesTheArrayAsItWas) {
  SharedHashTable t;
  KeyWordArray a = KeyWordArray::withCount(2);
  a.data()[0] = KeyWord::integer(7);
  const void* block = a.block();
  EXPECT_EQ(t.keys(a), 0);
  EXPECT_EQ(t.values(a), 0);
  EXPECT_EQ(t.keysWithValue(KeyWord::integer(0), a), 0);
  EXPECT_EQ(a.block(), block);
  EXPECT_EQ(a[0].asInteger(), 7);
  EXPECT_FALSE(t.containsValue(KeyWord::integer(0)));
  t.forEach([](KeyWord, KeyWord, int32_t) -> int32_t { ADD_FAILURE() << "called"; return 0; });
}

// Words handed out are the table's copies, not the caller's texts.
TEST(SharedTableEnumeration, WordsAreBorrowedCopies) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kTextKind, kTextKind));
  const char key[] = "key";
  const char value[] = "value";
  t.insert(KeyWord::text(key), KeyWord::text(value));
  KeyWordArray keys, values;
  ASSERT_EQ(t.keys(keys), 1);
  ASSERT_EQ(t.values(values), 1);
  EXPECT_NE(keys[0].asText(), key);
  EXPECT_EQ(textOf(keys[0]), "key");
  EXPECT_EQ(keys[0], t.record()->buckets[bucketIndex(hashWord(kTextKind, KeyWord::text(key)), 11)]->key);
  EXPECT_EQ(values[0], t.get(KeyWord::text("key")));
  EXPECT_EQ(textOf(values[0]), "value");
}

TEST(SharedTableEnumeration, ContainsValueByContent) {
  SharedHashTable t;
  ASSERT_TRUE(t.create(kIntegerKind, kTextKind));
  t.insert(KeyWord::integer(1), KeyWord::text("one"));
  std::string other = "one";  // a different copy of equal text
  EXPECT_TRUE(t.containsValue(KeyWord::text(other.c_str())));
  EXPECT_FALSE(t.containsValue(KeyWord::text("on")));
  EXPECT_FALSE(t.containsValue(KeyWord::text(nullptr)));
  t.insert(KeyWord::integer(2), KeyWord::text(nullptr));
  EXPECT_TRUE(t.containsValue(KeyWord::text(nullptr)));
  EXPECT_FALSE(t.containsValue(KeyWord::text("")));

  SharedHashTable b;
  ASSERT_TRUE(b.create(kIntegerKind, kByteStringKind));
  const std::string_view withNul("a\0b", 3);
  b.insert(KeyWord::integer(1), KeyWord::bytes(testing::block(withNul).get()));
  EXPECT_TRUE(b.containsValue(KeyWord::bytes(testing::block(withNul).get())));
  EXPECT_FALSE(b.containsValue(KeyWord::bytes(testing::block("a").get())));
}

// Visitors record what they see through these, since userData is a plain integer.
std::vector<std::pair<int32_t, int32_t>> seen;
std::vector<int32_t> userDataSeen;
SharedHashTable* walked = nullptr;

int32_t recordEntry(KeyWord key, KeyWord value, int32_t userData) {
  seen.emplace_back(key.asInteger(), value.asInteger());
  userDataSeen.push_back(userData);
  return 0;
}

TEST(SharedTableForEach, VisitsEveryEntryInOrderWithUserData) {
  SharedHashTable t = sampleTable();
  seen.clear();
  userDataSeen.clear();
  t.forEach(recordEntry, 42);
  EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{12, 20}, {1, 10}, {2, 30}}));
  EXPECT_EQ(userDataSeen, (std::vector<int32_t>{42, 42, 42}));
  userDataSeen.clear();
  t.forEach(recordEntry);
  EXPECT_EQ(userDataSeen, (std::vector<int32_t>{0, 0, 0}));
  t.forEach(nullptr);
}

TEST(SharedTableForEach, NonzeroStopsAtOnce) {
  SharedHashTable t = sampleTable();
  static int calls;
  calls = 0;
  t.forEach([](KeyWord, KeyWord, int32_t) -> int32_t { return ++calls; });
  EXPECT_EQ(calls, 1);
  calls = 0;
  t.forEach([](KeyWord key, KeyWord, int32_t stopAt) -> int32_t {
    ++calls;
    return key.asInteger() == stopAt ? 1 : 0;
  }, 1);
  EXPECT_EQ(calls, 2);
}

// While a walk runs the table can be read but not changed, through any handle.
TEST(SharedTableForEach, MutationDuringTheWalkIsRefused) {
  SharedHashTable t = sampleTable();
  SharedHashTable other = t;
  walked = &other;
  static int checks;
  checks = 0;
  t.forEach([](KeyWord key, KeyWord value, int32_t) -> int32_t {
    SharedHashTable& h = *walked;
    EXPECT_EQ(h.insert(KeyWord::integer(100), KeyWord::integer(1)), -1);
    EXPECT_EQ(h.insert(key, KeyWord::integer(1)), -1);  // not even a replacement
    EXPECT_FALSE(h.remove(key));
    h.removeAll();
    EXPECT_EQ(h.count(), 3);
    EXPECT_EQ(h.get(key), value);
    KeyWordArray keys;
    EXPECT_EQ(h.keys(keys), 3);
    // A nested walk is a read too.
    static int inner;
    inner = 0;
    h.forEach([](KeyWord, KeyWord, int32_t) -> int32_t { return ++inner, 0; });
    EXPECT_EQ(inner, 3);
    EXPECT_EQ(h.insert(KeyWord::integer(100), KeyWord::integer(1)), -1);  // outer walk still on
    ++checks;
    return 0;
  });
  EXPECT_EQ(checks, 3);
  EXPECT_VALID(t);
  // After the walk the table changes again.
  EXPECT_EQ(t.insert(KeyWord::integer(100), KeyWord::integer(1)), 0);
  EXPECT_TRUE(t.remove(KeyWord::integer(12)));
  EXPECT_EQ(t.record()->walkDepth, 0);
}

// A visitor that drops every handle to the table, or re-creates the one it
// walks, does not free the table under the walk; the table goes when the walk ends.
TEST(SharedTableForEach, VisitorMayDropTheHandles) {
  const int64_t blocksBefore = tableBlocksInUseForTesting();
  {
    SharedHashTable t;
    ASSERT_TRUE(t.create(kTextKind, kTextKind));
    for (int i = 0; i < 10; ++i) t.insert(KeyWord::text(std::to_string(i).c_str()), KeyWord::text("v"));
    walked = &t;
    static int calls;
    calls = 0;
    t.forEach([](KeyWord key, KeyWord value, int32_t) -> int32_t {
      if (++calls == 1) walked->reset();
      if (calls == 2) walked->create(kIntegerKind, kIntegerKind);
      EXPECT_EQ(std::string(value.asText()), "v");  // still readable
      EXPECT_NE(key.asText(), nullptr);
      return 0;
    });
    EXPECT_EQ(calls, 10);
    EXPECT_TRUE(t.isCreated());
    EXPECT_EQ(t.count(), 0);
  }
  EXPECT_EQ(tableBlocksInUseForTesting(), blocksBefore);
}

}  // namespace
}  // namespace linemint
