// Random insert, remove, get, adjustValue, cursor walks and arrays against
// std::unordered_map under a seeded generator, for every key kind, several
// value kinds and both hash families, with the invariants checked after each
// step. A failure names its seed, kinds and step so that it can be replayed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "general_test_support.h"

namespace linemint {
namespace {

using test::Arg;
using test::contents;
using Content = std::optional<std::string>;

// What the model stores for a value: the field's bits for numbers (4-byte
// kinds in the low half), the contents for texts and buffers.
struct ModelValue {
  uint64_t field = 0;
  Content data;
  bool operator==(const ModelValue&) const = default;
};

// A key as the model knows it: its bytes (numbers little-endian), or nullopt
// for a key the table can never hold (absent or empty).
struct GeneratedKey {
  Arg arg;
  std::optional<std::string> encoded;
};

GeneratedKey randomKey(std::mt19937& rng, int32_t keyKind) {
  switch (keyKind) {
    case KeyKind::kInt32: {
      // Small keys and keys 16 apart, so that chains of 16 buckets collide.
      const int32_t k = rng() % 2 ? static_cast<int32_t>(rng() % 48) - 8 : static_cast<int32_t>(rng() % 8) * 16 + 5;
      return {Arg::of(k), std::string(reinterpret_cast<const char*>(&k), 4)};
    }
    case KeyKind::kInt64: {
      // Keys that differ only in their high half, too.
      const int64_t k = (static_cast<int64_t>(rng() % 4) << 32) + static_cast<int64_t>(rng() % 24) - 4;
      return {Arg::of(k), std::string(reinterpret_cast<const char*>(&k), 8)};
    }
    default: {
      if (rng() % 20 == 0) return {keyKind == KeyKind::kText ? Arg::text(std::nullopt) : Arg::bytes(std::nullopt), std::nullopt};
      const char* alphabet = keyKind == KeyKind::kText ? "ab\x80\xff" : "ab\0\xff";
      std::string s(rng() % 4, 'a');
      for (char& c : s) c = alphabet[rng() % 4];
      Arg arg = keyKind == KeyKind::kText ? Arg::text(s) : Arg::bytes(s);
      if (s.empty()) return {std::move(arg), std::nullopt};
      return {std::move(arg), s};
    }
  }
}

// A value for insert and what the model keeps of it.
std::pair<Arg, ModelValue> randomValue(std::mt19937& rng, int32_t valueKind) {
  ModelValue m;
  switch (valueKind) {
    case ValueKind::kText:
    case ValueKind::kBytes: {
      if (rng() % 8 == 0) return {valueKind == ValueKind::kText ? Arg::text(std::nullopt) : Arg::bytes(std::nullopt), m};
      std::string s(rng() % 5, 'v');
      for (char& c : s) c = "vw\0x"[rng() % 4];
      if (valueKind == ValueKind::kText) s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
      if (!s.empty()) m.data = s;
      return {valueKind == ValueKind::kText ? Arg::text(s) : Arg::bytes(s), m};
    }
    case ValueKind::kDouble: {
      const double choices[] = {0.0, -0.0, 1.5, -3.0, 1e300, std::numeric_limits<double>::infinity(), 7.0};
      const double d = rng() % 16 == 0 ? std::numeric_limits<double>::quiet_NaN() : choices[rng() % 7];
      std::memcpy(&m.field, &d, 8);
      return {Arg::of(d), m};
    }
    case ValueKind::kInt64: {
      m.field = (static_cast<uint64_t>(rng()) << 32) | rng();
      return {Arg::of<uint64_t>(m.field), m};
    }
    default: {
      // Kind 2: the upper half of the 4-byte field is stored and kept too.
      const uint32_t v = rng() % 2 ? rng() : static_cast<uint32_t>(static_cast<int32_t>(rng() % 9) - 4);
      m.field = v;
      return {Arg::of<uint32_t>(v), m};
    }
  }
}

// The arithmetic adjustValue must perform, written from the rules rather than
// from the table's code.
uint64_t modelAdjust(int32_t valueKind, uint64_t field, int64_t operand, double doubleOperand, int op) {
  switch (valueKind) {
    case ValueKind::kInt16: {
      const int32_t a = static_cast<int16_t>(field & 0xFFFF);
      const int32_t b = static_cast<int16_t>(operand);
      int32_t r = a;
      if (op == 0) r = a + b;
      if (op == 1) r = a - b;
      if (op == 2) r = a * b;
      if (op == 3 && b != 0) r = a / b;
      return (field & 0xFFFF0000u) | static_cast<uint16_t>(r);
    }
    case ValueKind::kInt32: {
      const int64_t a = static_cast<int32_t>(field);
      const int64_t b = static_cast<int32_t>(operand);
      int64_t r = a;
      if (op == 0) r = a + b;
      if (op == 1) r = a - b;
      if (op == 2) r = a * b;
      if (op == 3 && b != 0) r = a / b;  // in 64 bits INT_MIN / -1 is 2^31, which wraps to INT_MIN
      return static_cast<uint32_t>(r);
    }
    case ValueKind::kInt64: {
      const uint64_t a = field;
      const uint64_t b = static_cast<uint64_t>(operand);
      if (op == 0) return a + b;
      if (op == 1) return a - b;
      if (op == 2) return a * b;
      if (op == 3 && operand == -1) return 0 - a;
      if (op == 3 && operand != 0) return static_cast<uint64_t>(static_cast<int64_t>(a) / operand);
      return a;
    }
    default: {
      double a;
      std::memcpy(&a, &field, 8);
      if (op == 0) a += doubleOperand;
      if (op == 1) a -= doubleOperand;
      if (op == 2) a *= doubleOperand;
      if (op == 3) a /= doubleOperand;
      uint64_t bits;
      std::memcpy(&bits, &a, 8);
      return bits;
    }
  }
}

// Caller variables of every kind for the cursor.
struct Outputs {
  int32_t key32 = 0;
  int64_t key64 = 0;
  OwnedText keyText;
  OwnedByteBuffer keyBuffer;
  uint64_t field = 0;
  OwnedText valueText;
  OwnedByteBuffer valueBuffer;

  void* keyOut(int32_t keyKind) {
    switch (keyKind) {
      case KeyKind::kInt32: return &key32;
      case KeyKind::kInt64: return &key64;
      case KeyKind::kText: return &keyText;
      default: return &keyBuffer;
    }
  }
  std::string encodedKey(int32_t keyKind) const {
    switch (keyKind) {
      case KeyKind::kInt32: return std::string(reinterpret_cast<const char*>(&key32), 4);
      case KeyKind::kInt64: return std::string(reinterpret_cast<const char*>(&key64), 8);
      case KeyKind::kText: return contents(keyText.get()).value_or("<null>");
      default: return contents(keyBuffer.get()).value_or("<null>");
    }
  }
  void* valueOut(int32_t valueKind) {
    field = 0;  // 4-byte kinds fill the low half
    switch (valueKind) {
      case ValueKind::kText: return &valueText;
      case ValueKind::kBytes: return &valueBuffer;
      default: return &field;
    }
  }
  ModelValue value(int32_t valueKind) const {
    ModelValue m;
    if (valueKind == ValueKind::kText) m.data = contents(valueText.get());
    else if (valueKind == ValueKind::kBytes) m.data = contents(valueBuffer.get());
    else m.field = field;
    return m;
  }
};

Arg argForEncodedKey(int32_t keyKind, const std::string& encoded) {
  switch (keyKind) {
    case KeyKind::kInt32: {
      int32_t k;
      std::memcpy(&k, encoded.data(), 4);
      return Arg::of(k);
    }
    case KeyKind::kInt64: {
      int64_t k;
      std::memcpy(&k, encoded.data(), 8);
      return Arg::of(k);
    }
    case KeyKind::kText: return Arg::text(encoded);
    default: return Arg::bytes(encoded);
  }
}

using Model = std::unordered_map<std::string, ModelValue>;

// A full walk from a reset cursor. On the way it may remove the entry just
// delivered or another one. Each entry present when the walk (re)starts must
// come exactly once unless removed first; a halving restarts the walk.
void checkWalk(std::mt19937& rng, FastHashTable& t, Model& model, int32_t keyKind, int32_t valueKind,
               bool removeOnTheWay) {
  auto allKeys = [&model] {
    std::unordered_set<std::string> keys;
    for (const auto& [k, v] : model) keys.insert(k);
    return keys;
  };
  std::unordered_set<std::string> pending = allKeys();
  Outputs out;
  t.resetCursor();
  while (t.next(out.keyOut(keyKind), out.valueOut(valueKind)) == 1) {
    const std::string key = out.encodedKey(keyKind);
    ASSERT_EQ(pending.erase(key), 1u) << "delivered twice or never stored";
    ASSERT_TRUE(out.value(valueKind) == model.at(key));
    if (!removeOnTheWay || rng() % 4 != 0) continue;
    const uint32_t bucketsBefore = t.record().bucketCount;
    std::string removed = key;
    if (rng() % 2 == 0) {
      auto it = model.begin();
      std::advance(it, static_cast<std::ptrdiff_t>(rng() % model.size()));
      removed = it->first;
    }
    ASSERT_EQ(t.remove(argForEncodedKey(keyKind, removed).ref()), 1);
    model.erase(removed);
    pending.erase(removed);
    ASSERT_VALID(t);
    if (t.record().bucketCount != bucketsBefore) pending = allKeys();  // the walk restarts
  }
  ASSERT_TRUE(pending.empty()) << pending.size() << " entries never delivered";
  ASSERT_EQ(t.next(out.keyOut(keyKind), nullptr), 0);
}

void checkArrays(FastHashTable& t, const Model& model, int32_t keyKind, int32_t valueKind) {
  OwnedArray keys;
  OwnedArray values;
  ASSERT_EQ(t.keysToArray(&keys), static_cast<int32_t>(model.size()));
  ASSERT_EQ(t.valuesToArray(&values), static_cast<int32_t>(model.size()));
  ASSERT_EQ(keys.size(), model.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    std::string key;
    switch (keyKind) {
      case KeyKind::kInt32: key.assign(reinterpret_cast<const char*>(keys.element(i)), 4); break;
      case KeyKind::kInt64: key.assign(reinterpret_cast<const char*>(keys.element(i)), 8); break;
      case KeyKind::kText: key = contents(keys.textAt(i)).value(); break;
      default: key = contents(keys.bufferAt(i)).value(); break;
    }
    ModelValue v;
    if (valueKind == ValueKind::kText) v.data = contents(values.textAt(i));
    else if (valueKind == ValueKind::kBytes) v.data = contents(values.bufferAt(i));
    else std::memcpy(&v.field, values.element(i), values.elementWidth());
    ASSERT_TRUE(model.count(key) == 1 && model.at(key) == v) << "element " << i;
  }
}

void runDifferential(uint32_t seed, int32_t keyKind, int32_t valueKind, bool crc) {
  SCOPED_TRACE(::testing::Message() << "seed " << seed << ", kinds " << keyKind << "/" << valueKind << ", "
                                    << (crc ? "CRC-32C" : "sum-31"));
  std::mt19937 rng(seed);
  Model model;
  FastHashTable t;
  ASSERT_EQ(t.create(keyKind, valueKind), 1);
  ASSERT_EQ(t.record().useCrc32 != 0, crc);
  const bool arithmetic = valueKind >= ValueKind::kInt16 && valueKind <= ValueKind::kDouble;
  for (int step = 0; step < 1500; ++step) {
    SCOPED_TRACE(::testing::Message() << "step " << step);
    GeneratedKey key = randomKey(rng, keyKind);
    const unsigned op = rng() % 100;
    if (op < 40) {
      auto [value, stored] = randomValue(rng, valueKind);
      const int32_t expected = !key.encoded ? 0 : model.count(*key.encoded) ? 2 : 1;
      ASSERT_EQ(t.insert(key.arg.ref(), value.ref()), expected);
      if (key.encoded) model[*key.encoded] = stored;
    } else if (op < 58) {
      const int32_t expected = key.encoded && model.erase(*key.encoded) == 1 ? 1 : 0;
      ASSERT_EQ(t.remove(key.arg.ref()), expected);
    } else if (op < 78) {
      int32_t found = -1;
      const TaggedValue v = t.get(key.arg.ref(), &found);
      ASSERT_EQ(v.tag, valueTagOf(valueKind));
      const auto it = key.encoded ? model.find(*key.encoded) : model.end();
      ASSERT_EQ(found, it != model.end() ? 1 : 0);
      if (it == model.end()) {
        ASSERT_EQ(v.payload, 0u);
      } else if (valueKind == ValueKind::kText) {
        ASSERT_EQ(contents(v.text.get()), it->second.data);
      } else if (valueKind == ValueKind::kBytes) {
        ASSERT_EQ(contents(v.buffer.get()), it->second.data);
      } else {
        const uint64_t mask = valueSizeOf(valueKind) == 8 ? ~uint64_t{0} : 0xFFFFFFFFu;
        ASSERT_EQ(v.payload & mask, it->second.field);
      }
    } else if (op < 90) {
      const int adjustOp = static_cast<int>(rng() % 5);  // 4: no operation
      const int64_t operand = static_cast<int64_t>(rng() % 7) - 3;
      const double doubleOperand = static_cast<double>(operand) / 2;
      const Arg operandArg = valueKind == ValueKind::kInt16   ? Arg::of<int16_t>(static_cast<int16_t>(operand))
                             : valueKind == ValueKind::kInt32 ? Arg::of<int32_t>(static_cast<int32_t>(operand))
                             : valueKind == ValueKind::kInt64 ? Arg::of<int64_t>(operand)
                                                              : Arg::of<double>(doubleOperand);
      const auto it = key.encoded ? model.find(*key.encoded) : model.end();
      uint64_t result = 0;
      const int32_t done = t.adjustValue(key.arg.ref(), operandArg.ref(), static_cast<AdjustOp>(adjustOp), &result);
      ASSERT_EQ(done, arithmetic && it != model.end() ? 1 : 0);
      if (done == 1) {
        it->second.field = modelAdjust(valueKind, it->second.field, operand, doubleOperand, adjustOp);
        const uint64_t width = valueKind == ValueKind::kInt16 ? 0xFFFF : valueSizeOf(valueKind) == 8 ? ~uint64_t{0} : 0xFFFFFFFF;
        ASSERT_EQ(result, it->second.field & width);
      }
    } else if (op < 97) {
      ASSERT_NO_FATAL_FAILURE(checkWalk(rng, t, model, keyKind, valueKind, op % 2 == 0));
    } else {
      ASSERT_NO_FATAL_FAILURE(checkArrays(t, model, keyKind, valueKind));
    }
    ASSERT_EQ(t.getCount(), static_cast<int32_t>(model.size()));
    ASSERT_VALID(t);
  }
  ASSERT_NO_FATAL_FAILURE(checkWalk(rng, t, model, keyKind, valueKind, false));
}

class GeneralDifferentialTest : public test::FastTableTest {};

TEST_F(GeneralDifferentialTest, MatchesUnorderedMapForEveryKeyKind) {
  uint32_t seed = 20240611;
  for (const test::Family family : {test::Family::crc32, test::Family::sum31}) {
    if (family == test::Family::crc32 && test::realFeatures().sse42 == 0) continue;
    test::ScopedCpuFeatures features(test::featuresFor(family));
    for (const int32_t keyKind : {3, 4, 10, 11}) {
      for (const int32_t valueKind : {2, 3, 4, 6, 10, 11}) {
        runDifferential(seed++, keyKind, valueKind, family == test::Family::crc32);
        if (HasFatalFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace linemint
