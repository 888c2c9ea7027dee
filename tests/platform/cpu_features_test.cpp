#include "platform/cpu_features.h"

#include <gtest/gtest.h>

namespace linemint::platform {
namespace {

constexpr uint32_t kOsxsave = 1u << 27;
constexpr uint32_t kAvx = 1u << 28;
constexpr uint32_t kAvx2 = 1u << 5;

TEST(CpuFeatures, Avx2NeedsTheProcessorAndTheOperatingSystem) {
  struct Case { uint32_t ecx; uint32_t ebx; uint64_t xcr0; uint32_t expected; const char* what; };
  const Case cases[] = {
      {kOsxsave | kAvx, kAvx2, 0x7, 1, "everything present"},
      {kOsxsave | kAvx, kAvx2, 0x3, 0, "OS does not save the 256-bit state"},
      {kOsxsave | kAvx, kAvx2, 0x5, 0, "OS does not save the SSE state"},
      {kOsxsave | kAvx, 0, 0x7, 0, "no AVX2 in leaf 7"},
      {kOsxsave, kAvx2, 0x7, 0, "no AVX"},
      {kAvx, kAvx2, 0x7, 0, "no OSXSAVE"},
  };
  for (const Case& c : cases) EXPECT_EQ(avx2FromRegisters(c.ecx, c.ebx, c.xcr0), c.expected) << c.what;
}

TEST(CpuFeatures, ProbeStoresTheBitsInPlace) {
  probeCpuFeatures();
  EXPECT_TRUE(cpuFeatures.sse2 == 0 || cpuFeatures.sse2 == 0x4000000u);
  EXPECT_TRUE(cpuFeatures.sse42 == 0 || cpuFeatures.sse42 == 0x100000u);
  EXPECT_TRUE(cpuFeatures.avx2 == 0 || cpuFeatures.avx2 == 1u);
  // Every x86-64 processor has SSE2.
  EXPECT_EQ(cpuFeatures.sse2, 0x4000000u);
}

TEST(CpuFeatures, SeamsForceFeaturesOffAndRestore) {
  probeCpuFeatures();
  const CpuFeatures saved = cpuFeatures;
  setCpuFeaturesForTesting({0, 0, 0});
  EXPECT_EQ(cpuFeatures.sse42, 0u);
  setCpuFeaturesForTesting(saved);
  EXPECT_EQ(cpuFeatures.sse2, saved.sse2);

  EXPECT_EQ(testSse2(), 0x4000000u);
  setSse2ForTesting(0);
  EXPECT_EQ(testSse2(), 0u);
  setSse2ForTesting(std::nullopt);
  EXPECT_EQ(testSse2(), 0x4000000u);
}

}  // namespace
}  // namespace linemint::platform
