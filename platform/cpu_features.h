// What the processor may be asked to do, probed once at start-up.
//
// `cpuFeatures` is process-wide: probeCpuFeatures writes it once before any
// table exists, and every later decision (hash family, text-length scan) reads
// the stored flags. Tests and benchmarks turn features off through
// setCpuFeaturesForTesting and setSse2ForTesting so that every code path runs
// on a machine that has them all.
#pragma once

#include <cstdint>
#include <optional>

namespace linemint::platform {

// Layout: three 32-bit flags, each non-zero when the feature may be used.
//   sse2  = CPUID.1:EDX & 0x4000000 (bit 26 in place)
//   sse42 = CPUID.1:ECX & 0x100000  (bit 20 in place; brings CRC32)
//   avx2  = 1 when CPUID.7.0:EBX bit 5 is set and the OS saves the YMM state
struct CpuFeatures {
  uint32_t sse2;
  uint32_t sse42;
  uint32_t avx2;
};

// Process-wide; all zero until probeCpuFeatures runs.
extern CpuFeatures cpuFeatures;

// Fills cpuFeatures from CPUID leaves 1 and 7 and XGETBV. AVX2 counts only when
// CPUID.1:ECX has OSXSAVE (bit 27) and AVX (bit 28) and XCR0 bits 1 and 2 are
// set; leaf 7 and XGETBV are not executed otherwise.
void probeCpuFeatures() noexcept;

// Pure decision behind the AVX2 flag, for tests: takes the raw registers.
// xcr0 is consulted only when leaf-1 ECX allows it; leaf7Ebx likewise.
uint32_t avx2FromRegisters(uint32_t leaf1Ecx, uint32_t leaf7Ebx, uint64_t xcr0) noexcept;

// CPUID leaf 1, EDX AND 0x4000000: the window's own SSE2 test, independent of
// cpuFeatures. Honours setSse2ForTesting.
uint32_t testSse2() noexcept;

// Test seam: replaces cpuFeatures wholesale (restore by passing the saved value).
void setCpuFeaturesForTesting(const CpuFeatures& features) noexcept;

// Test seam for testSse2: a value forces its answer (0 = no SSE2); nullopt
// restores the real instruction.
void setSse2ForTesting(std::optional<uint32_t> forced) noexcept;

}  // namespace linemint::platform
