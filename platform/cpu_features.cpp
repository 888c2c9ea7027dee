#include "platform/cpu_features.h"

#include <cpuid.h>

namespace linemint::platform {

CpuFeatures cpuFeatures = {0, 0, 0};

namespace {
std::optional<uint32_t> forcedSse2;

__attribute__((target("xsave"))) uint64_t readXcr0() noexcept {
  uint32_t eax = 0;
  uint32_t edx = 0;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<uint64_t>(edx) << 32) | eax;
}
}  // namespace

uint32_t avx2FromRegisters(uint32_t leaf1Ecx, uint32_t leaf7Ebx, uint64_t xcr0) noexcept {
  constexpr uint32_t kOsxsave = 1u << 27;
  constexpr uint32_t kAvx = 1u << 28;
  if ((leaf1Ecx & kOsxsave) == 0 || (leaf1Ecx & kAvx) == 0) return 0;
  if ((leaf7Ebx & (1u << 5)) == 0) return 0;
  return (xcr0 & 0x6) == 0x6 ? 1 : 0;
}

void probeCpuFeatures() noexcept {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
    cpuFeatures = {0, 0, 0};
    return;
  }
  CpuFeatures f{};
  f.sse2 = d & 0x4000000u;
  f.sse42 = c & 0x100000u;
  const uint32_t leaf1Ecx = c;
  f.avx2 = 0;
  if ((leaf1Ecx & (1u << 27)) != 0 && (leaf1Ecx & (1u << 28)) != 0) {
    unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
    if (__get_cpuid_count(7, 0, &a7, &b7, &c7, &d7) != 0 && (b7 & (1u << 5)) != 0) {
      f.avx2 = avx2FromRegisters(leaf1Ecx, b7, readXcr0());
    }
  }
  cpuFeatures = f;
}

uint32_t testSse2() noexcept {
  if (forcedSse2.has_value()) return *forcedSse2;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return 0;
  return d & 0x4000000u;
}

void setCpuFeaturesForTesting(const CpuFeatures& features) noexcept { cpuFeatures = features; }

void setSse2ForTesting(std::optional<uint32_t> forced) noexcept { forcedSse2 = forced; }

}  // namespace linemint::platform
