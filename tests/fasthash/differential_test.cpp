// insert and contains against std::unordered_map, under a seeded generator,
// for every key kind and both hash families, with validate after every step.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <unordered_map>

#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"
#include "test_support.h"

namespace linemint {
namespace {

using test::Family;

// A key in a form every kind can be made from: a small integer for kinds 3
// and 4, bytes for 10 (never NUL) and 11 (anything, NUL and high bytes too).
std::string randomKey(std::mt19937& rng, int32_t keyKind) {
  if (keyKind == KeyKind::kInt32 || keyKind == KeyKind::kInt64) {
    // A small range makes repeats common; kind 4 spreads keys over both halves.
    int64_t k = static_cast<int64_t>(rng() % 300) - 150;
    if (keyKind == KeyKind::kInt64) k = k * 0x100000001LL + ((k & 1) != 0 ? int64_t{1} << 62 : 0);
    return std::string(reinterpret_cast<const char*>(&k), keyKind == KeyKind::kInt32 ? 4 : 8);
  }
  // Lengths 0 to 40 (0 must be refused), from a small alphabet so keys repeat.
  const size_t length = rng() % 41 < 3 ? 0 : 1 + rng() % (rng() % 4 == 0 ? 40 : 3);
  std::string s(length, ' ');
  for (char& c : s) {
    const uint32_t pick = rng() % 4;
    c = keyKind == KeyKind::kText ? "ab\x80\xff"[pick] : "a\0\x80\xff"[pick];
  }
  return s;
}

class Differential : public testing::TestWithParam<std::tuple<Family, int32_t>> {};

TEST_P(Differential, MatchesUnorderedMap) {
  const auto [family, keyKind] = GetParam();
  if (family == Family::crc32 && test::realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  test::ScopedCpuFeatures features(test::featuresFor(family));
  // Text and byte-buffer tables store text values, so replacements free and
  // allocate value blocks; integer tables store 32- and 64-bit numbers.
  const int32_t valueKind = keyKind == KeyKind::kInt32 ? ValueKind::kInt32
                            : keyKind == KeyKind::kInt64 ? ValueKind::kInt64
                                                        : ValueKind::kText;
  FastHashTable t;
  ASSERT_EQ(t.create(keyKind, valueKind), 1);
  std::unordered_map<std::string, std::string> model;
  std::mt19937 rng(1234567u + static_cast<uint32_t>(keyKind) * 31u + (family == Family::crc32 ? 1u : 0u));

  for (int step = 0; step < 4000; ++step) {
    const std::string key = randomKey(rng, keyKind);
    // The caller's variables, typed by the kinds.
    int32_t int32Key = 0;
    int64_t int64Key = 0;
    const char* textKey = key.c_str();
    auto bufferKey = platform::newByteBuffer(key.data(), static_cast<uint32_t>(key.size()));
    const ByteBuffer* bufferPtr = bufferKey.get();
    const void* keyRef = nullptr;
    switch (keyKind) {
      case KeyKind::kInt32: std::memcpy(&int32Key, key.data(), 4); keyRef = &int32Key; break;
      case KeyKind::kInt64: std::memcpy(&int64Key, key.data(), 8); keyRef = &int64Key; break;
      case KeyKind::kText: keyRef = &textKey; break;
      default: keyRef = &bufferPtr; break;
    }
    const bool emptyKey = (keyKind == KeyKind::kText || keyKind == KeyKind::kBytes) && key.empty();
    const bool present = model.count(key) != 0;

    if (rng() % 3 == 0) {
      ASSERT_EQ(t.contains(keyRef), present ? 1 : 0) << "step " << step;
      continue;
    }
    const std::string value = (rng() % 5 == 0) ? std::string() : "v" + std::to_string(rng() % 1000000);
    const int32_t int32Value = static_cast<int32_t>(rng());
    const int64_t int64Value = static_cast<int64_t>(rng()) << 20;
    const char* textValue = value.c_str();
    const void* valueRef = valueKind == ValueKind::kInt32   ? static_cast<const void*>(&int32Value)
                           : valueKind == ValueKind::kInt64 ? static_cast<const void*>(&int64Value)
                                                            : static_cast<const void*>(&textValue);
    const int32_t expected = emptyKey ? 0 : present ? 2 : 1;
    ASSERT_EQ(t.insert(keyRef, valueRef), expected) << "step " << step;
    if (!emptyKey) {
      model[key] = valueKind == ValueKind::kInt32   ? std::to_string(int32Value)
                   : valueKind == ValueKind::kInt64 ? std::to_string(int64Value)
                                                    : value;
    }
    ASSERT_EQ(t.record().count, static_cast<int32_t>(model.size()));
    ASSERT_VALID(t) << "step " << step;

    // The stored value of the key just inserted.
    if (!emptyKey) {
      const fasthash::Node* node = fasthash::findNode(t.record(), keyRef);
      ASSERT_NE(node, nullptr);
      if (valueKind == ValueKind::kInt32) {
        ASSERT_EQ(static_cast<int32_t>(fasthash::load32(fasthash::nodeValue(node))), int32Value);
      } else if (valueKind == ValueKind::kInt64) {
        ASSERT_EQ(static_cast<int64_t>(fasthash::load64(fasthash::nodeValue(node))), int64Value);
      } else {
        const unsigned char* block = fasthash::nodeValueBlock(node);
        const std::string stored = block == nullptr ? std::string()
                                                    : std::string(reinterpret_cast<const char*>(fasthash::valueBlockBytes(block)),
                                                                  fasthash::valueBlockLength(block));
        ASSERT_EQ(stored, value);
      }
    }
  }
  // Every model key is found at the end.
  for (const auto& [key, value] : model) {
    int64_t k64 = 0;
    int32_t k32 = 0;
    const char* text = key.c_str();
    auto buffer = platform::newByteBuffer(key.data(), static_cast<uint32_t>(key.size()));
    const ByteBuffer* bufferPtr = buffer.get();
    const void* keyRef = keyKind == KeyKind::kInt32   ? (std::memcpy(&k32, key.data(), 4), static_cast<const void*>(&k32))
                         : keyKind == KeyKind::kInt64 ? (std::memcpy(&k64, key.data(), 8), static_cast<const void*>(&k64))
                         : keyKind == KeyKind::kText  ? static_cast<const void*>(&text)
                                                      : static_cast<const void*>(&bufferPtr);
    ASSERT_EQ(t.contains(keyRef), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKeyKind, Differential,
    testing::Combine(testing::Values(Family::crc32, Family::sum31),
                     testing::Values(KeyKind::kInt32, KeyKind::kInt64, KeyKind::kText, KeyKind::kBytes)),
    [](const testing::TestParamInfo<std::tuple<Family, int32_t>>& info) {
      return std::string(std::get<0>(info.param) == Family::crc32 ? "Crc32" : "Sum31") + "_Key" +
             std::to_string(std::get<1>(info.param));
    });

}  // namespace
}  // namespace linemint
