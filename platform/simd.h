// Processor instructions behind named inline functions, so that no other folder
// includes intrinsics headers. SSE2 is part of baseline x86-64; functions that
// need SSE4.2 or AVX2 carry a target attribute, and so must any caller that
// wants them inlined (see LINEMINT_TARGET_*). Choosing among them at run time is
// the caller's business, from platform::cpuFeatures.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#define LINEMINT_TARGET_SSE42 __attribute__((target("sse4.2")))
#define LINEMINT_TARGET_AVX2 __attribute__((target("avx2")))

namespace linemint::platform::simd {

// Bit k set when byte k of the 16 bytes at p equals b. Unaligned load.
inline uint32_t matchMask16(const void* p, uint8_t b) noexcept {
  const __m128i block = _mm_loadu_si128(static_cast<const __m128i*>(p));
  const __m128i needle = _mm_set1_epi8(static_cast<char>(b));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle)));
}

// Bit k set when byte k of the 16 bytes at p is zero. REQUIRES: p 16-byte aligned.
inline uint32_t zeroMask16Aligned(const void* p) noexcept {
  const __m128i block = _mm_load_si128(static_cast<const __m128i*>(p));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128())));
}

// Bit k set when byte k of the 32 bytes at p is zero. REQUIRES: p 32-byte aligned.
LINEMINT_TARGET_AVX2 inline uint32_t zeroMask32Aligned(const void* p) noexcept {
  const __m256i block = _mm256_load_si256(static_cast<const __m256i*>(p));
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, _mm256_setzero_si256())));
}

// True when the 16 bytes at a and b are equal. Unaligned loads.
inline bool equal16(const void* a, const void* b) noexcept {
  const __m128i x = _mm_loadu_si128(static_cast<const __m128i*>(a));
  const __m128i y = _mm_loadu_si128(static_cast<const __m128i*>(b));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(x, y)) == 0xFFFF;
}

// CRC-32C register updates, as the CRC32 instruction accumulates them: no
// inversion before or after.
LINEMINT_TARGET_SSE42 inline uint32_t crc32cByte(uint32_t crc, uint8_t b) noexcept {
  return _mm_crc32_u8(crc, b);
}
LINEMINT_TARGET_SSE42 inline uint32_t crc32cWord(uint32_t crc, uint32_t w) noexcept {
  return _mm_crc32_u32(crc, w);
}
LINEMINT_TARGET_SSE42 inline uint32_t crc32cQword(uint32_t crc, uint64_t q) noexcept {
  return static_cast<uint32_t>(_mm_crc32_u64(crc, q));
}

// Hints the cache to fetch the line at p for reading.
inline void prefetch(const void* p) noexcept { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

// Index of the lowest set bit. REQUIRES: x != 0.
inline int lowestSetBit(uint32_t x) noexcept { return __builtin_ctz(x); }
inline int lowestSetBit64(uint64_t x) noexcept { return __builtin_ctzll(x); }

}  // namespace linemint::platform::simd
