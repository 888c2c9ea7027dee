#include "platform/text_scan.h"

#include <immintrin.h>

#include <cstdint>

namespace linemint::platform {

__attribute__((no_sanitize_address)) uint32_t zeroIndexSse2(const char* text) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(text);
  const auto* block = reinterpret_cast<const __m128i*>(start & ~uintptr_t{15});
  const __m128i zero = _mm_setzero_si128();
  // Zero bytes before the text's start belong to something else: shift them out.
  uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
  mask >>= (start & 15);
  if (mask != 0) return static_cast<uint32_t>(__builtin_ctz(mask));
  for (;;) {
    ++block;
    mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    if (mask != 0) {
      return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block) - start) +
             static_cast<uint32_t>(__builtin_ctz(mask));
    }
  }
}

__attribute__((no_sanitize_address, target("avx2"))) uint32_t zeroIndexAvx2(const char* text) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(text);
  const auto* block = reinterpret_cast<const __m256i*>(start & ~uintptr_t{31});
  const __m256i zero = _mm256_setzero_si256();
  uint32_t mask =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_load_si256(block), zero)));
  mask >>= (start & 31);
  if (mask != 0) return static_cast<uint32_t>(__builtin_ctz(mask));
  for (;;) {
    ++block;
    mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_load_si256(block), zero)));
    if (mask != 0) {
      return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block) - start) +
             static_cast<uint32_t>(__builtin_ctz(mask));
    }
  }
}

}  // namespace linemint::platform
