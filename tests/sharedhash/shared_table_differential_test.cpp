// Random operations against std::map under a seeded generator, for every kind
// of key and value, with the invariants checked after each step. A failure
// names its seed and step so that it can be replayed.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sharedhash/shared_hash_table.h"
#include "table_test_support.h"

namespace linemint {
namespace {

using Content = std::optional<std::string>;  // nullopt: a null text or block

// Turns model contents into words of a kind, keeping their storage alive.
class Words {
 public:
  KeyWord make(int32_t kind, const Content& c) {
    if (kind == kIntegerKind) return KeyWord::integer(std::stoi(*c));
    if (!c) return KeyWord();
    if (kind == kTextKind) return KeyWord::text(texts_.emplace_back(*c).c_str());
    blocks_.push_back(testing::block(*c));
    return KeyWord::bytes(blocks_.back().get());
  }

  static Content read(int32_t kind, KeyWord w) {
    if (kind == kIntegerKind) return std::to_string(w.asInteger());
    if (w.isZero()) return std::nullopt;
    if (kind == kTextKind) return std::string(w.asText());
    return std::string(reinterpret_cast<const char*>(w.asBytes()->bytes()), w.asBytes()->length);
  }

 private:
  std::deque<std::string> texts_;
  std::vector<platform::OwnedByteBuffer> blocks_;
};

// Few distinct contents, so that keys repeat and chains collide; texts never
// hold a NUL, byte strings may.
Content randomContent(std::mt19937& rng, int32_t kind) {
  if (kind == kIntegerKind) return std::to_string(static_cast<int32_t>(rng() % 64) - 32);
  if (rng() % 16 == 0) return std::nullopt;
  std::string s(rng() % 4, 'a');
  for (char& ch : s) ch = static_cast<char>("ab\x80z"[rng() % 4]);
  if (kind == kByteStringKind && rng() % 4 == 0) s.push_back('\0');
  return s;
}

void runDifferential(uint32_t seed, int32_t keyKind, int32_t valueKind, int32_t bucketCount) {
  SCOPED_TRACE(::testing::Message() << "seed " << seed << ", kinds " << keyKind << "/" << valueKind);
  std::mt19937 rng(seed);
  Words words;
  std::map<Content, Content> model;
  SharedHashTable t;
  ASSERT_TRUE(t.create(keyKind, valueKind, bucketCount));
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(::testing::Message() << "step " << step);
    const Content k = randomContent(rng, keyKind);
    const KeyWord key = words.make(keyKind, k);
    const unsigned op = rng() % 100;
    if (op < 50) {
      const Content v = randomContent(rng, valueKind);
      const int32_t expected = model.count(k) ? 1 : 0;
      ASSERT_EQ(t.insert(key, words.make(valueKind, v)), expected);
      model[k] = v;
    } else if (op < 80) {
      const auto it = model.find(k);
      ASSERT_EQ(t.containsKey(key), it != model.end());
      if (it != model.end()) ASSERT_EQ(Words::read(valueKind, t.get(key)), it->second);
      else ASSERT_TRUE(t.get(key).isZero());
    } else if (op < 99) {
      ASSERT_EQ(t.remove(key), model.erase(k) == 1);
    } else {
      t.removeAll();
      model.clear();
    }
    ASSERT_EQ(t.count(), static_cast<int32_t>(model.size()));
    ASSERT_TRUE(t.validate());
  }
  for (const auto& [k, v] : model) ASSERT_EQ(Words::read(valueKind, t.get(words.make(keyKind, k))), v);
}

TEST(SharedTableDifferential, AgainstStdMap) {
  const int32_t kinds[] = {kIntegerKind, kTextKind, kByteStringKind};
  uint32_t seed = 20240601;
  for (int32_t keyKind : kinds)
    for (int32_t valueKind : kinds)
      for (int32_t buckets : {0, 1, 11}) runDifferential(seed++, keyKind, valueKind, buckets);
}

}  // namespace
}  // namespace linemint
