// Processor instructions behind named inline functions, so that no other folder
// includes intrinsics headers. SSE2 is part of baseline x86-64; functions that
// need SSE4.2 or AVX2 carry a target attribute, and so must any caller that
// wants them inlined (see LINEMINT_TARGET_*). Choosing among them at run time is
// the caller's business, from platform::cpuFeatures.
#pragma once

#include <immintrin.h>

#include <cstddef>
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

// Copies n bytes from src to dst (regions apart) without a library call for
// short runs: the first and last 16, 8 or 4 bytes as overlapping moves, so
// that one branch on the size replaces a loop; runs over 64 bytes go to
// memcpy. Touches no byte outside the n at either end.
inline void copySmall(void* dst, const void* src, std::size_t n) noexcept {
  auto* d = static_cast<unsigned char*>(dst);
  const auto* s = static_cast<const unsigned char*>(src);
  if (n > 64) {
    std::memcpy(d, s, n);
  } else if (n > 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 32));
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 32), c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), e);
  } else if (n >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), e);
  } else if (n >= 8) {
    uint64_t a, e;
    std::memcpy(&a, s, 8);
    std::memcpy(&e, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &e, 8);
  } else if (n >= 4) {
    uint32_t a, e;
    std::memcpy(&a, s, 4);
    std::memcpy(&e, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &e, 4);
  } else if (n > 0) {
    const unsigned char a = s[0], b = s[n >> 1], e = s[n - 1];
    d[0] = a;
    d[n >> 1] = b;
    d[n - 1] = e;
  }
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
