// Helpers for the FastHashTable tests: a peer that reaches the table's
// internal operations, a scope that forces processor features, and makers of
// texts whose hashes collide.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/hashing.h"
#include "fasthash/node.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"

// Fails the test with the name of the broken invariant.
#define EXPECT_VALID(table) EXPECT_STREQ((table).validate(), nullptr)
#define ASSERT_VALID(table) ASSERT_STREQ((table).validate(), nullptr)

namespace linemint {

class FastHashTableTestPeer {
 public:
  static void resize(FastHashTable& t, uint32_t newBucketCount) { t.resize(newBucketCount); }
  static FastTableRecord& record(FastHashTable& t) { return t.record_; }
  static void* poolAllocate(FastHashTable& t, uint32_t size) { return t.poolAllocate(size); }
  static void poolFree(FastHashTable& t, void* block, uint32_t size) { t.poolFree(block, size); }
};

namespace test {

// Forces processor features for its lifetime and restores them after. Makes
// sure the entry points and the real features are in place first.
class ScopedCpuFeatures {
 public:
  explicit ScopedCpuFeatures(platform::CpuFeatures forced) {
    platform::resolveHeapEntryPoints();
    saved_ = platform::cpuFeatures;
    platform::setCpuFeaturesForTesting(forced);
  }
  ~ScopedCpuFeatures() { platform::setCpuFeaturesForTesting(saved_); }
  ScopedCpuFeatures(const ScopedCpuFeatures&) = delete;
  ScopedCpuFeatures& operator=(const ScopedCpuFeatures&) = delete;

 private:
  platform::CpuFeatures saved_{};
};

// The machine's real features (probed once).
inline platform::CpuFeatures realFeatures() {
  static const platform::CpuFeatures features = [] {
    platform::resolveHeapEntryPoints();
    platform::probeCpuFeatures();
    return platform::cpuFeatures;
  }();
  return features;
}

// The two hash families, as a test parameter.
enum class Family { crc32, sum31 };
inline const char* familyName(const testing::TestParamInfo<Family>& info) {
  return info.param == Family::crc32 ? "Crc32" : "Sum31";
}
inline platform::CpuFeatures featuresFor(Family f) {
  platform::CpuFeatures c = realFeatures();
  if (f == Family::sum31) c.sse42 = 0;
  return c;
}

// `count` distinct texts without NUL bytes that all share one hash in the
// family. CRC: the register update of a 32-bit word is a bijection of
// (register XOR word), so after any prefix a 4-byte suffix reaches any target
// register. Sum31: "Aa" and "BB" add the same amount, so every string of k
// such pairs has one hash.
inline std::vector<std::string> collidingTexts(Family family, size_t count) {
  std::vector<std::string> out;
  if (family == Family::sum31) {
    for (size_t i = 0; out.size() < count; ++i) {
      std::string s;
      for (int bit = 0; bit < 12; ++bit) s += ((i >> bit) & 1) != 0 ? "BB" : "Aa";
      out.push_back(s);
    }
    return out;
  }
  const uint32_t target = fasthash::crc32cUpdatePortable(0, "anchor!!", 8);
  for (uint32_t i = 0; out.size() < count; ++i) {
    std::string prefix = "key-" + std::to_string(i * 7919u);
    const uint32_t prefixCrc = fasthash::crc32cUpdatePortable(0, prefix.data(), prefix.size());
    // anchor!! = "anchor" + "!!": solve for the word after the prefix that
    // ends in the same register as "anchor!!" does after its own first 4 bytes.
    const uint32_t anchorHead = fasthash::crc32cUpdatePortable(0, "anch", 4);
    uint32_t anchorWord;
    std::memcpy(&anchorWord, "or!!", 4);
    const uint32_t word = anchorHead ^ anchorWord ^ prefixCrc;
    char bytes[4];
    std::memcpy(bytes, &word, 4);
    if (std::memchr(bytes, 0, 4) != nullptr) continue;
    std::string s = prefix + std::string(bytes, 4);
    if (fasthash::crc32cUpdatePortable(0, s.data(), s.size()) != target) continue;
    out.push_back(s);
  }
  return out;
}

}  // namespace test
}  // namespace linemint
